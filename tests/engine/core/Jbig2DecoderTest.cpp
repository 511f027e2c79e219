#include "engine/core/Jbig2Decoder.h"

#include <gtest/gtest.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/core/MqEncoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::MqEncoder;

// A bilevel picture, 1 = black, one byte per pixel.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> px;
    Picture(int w, int h) : width(w), height(h), px(size_t(w) * size_t(h), 0) {}
    int get(int x, int y) const {
        return x < 0 || y < 0 || x >= width || y >= height ? 0 : px[size_t(y) * width + x];
    }
    void set(int x, int y, int v = 1) { px[size_t(y) * width + x] = uint8_t(v); }
};

Picture noise(int w, int h, unsigned seed, bool repeatRows) {
    Picture p(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.set(x, y, repeatRows && y % 3 ? p.get(x, y - 1) : (rng() % 5 == 0) || (x / 7 + y / 5) % 4 == 0);
    return p;
}

std::string be(uint64_t v, int bytes) {
    std::string s;
    for (int i = bytes - 1; i >= 0; --i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
    return s;
}

std::string segment(uint32_t number, int type, const std::vector<uint32_t>& refs, const std::string& data,
                    uint32_t declaredLength = 0) {
    std::string s = be(number, 4) + char(type);
    const int refSize = number <= 256 ? 1 : number <= 65536 ? 2 : 4;
    if (refs.size() <= 4) {
        s += char(refs.size() << 5);
    } else {
        // The long form: a 29-bit count and one retention bit per
        // referred-to segment and one for this one, in whole bytes.
        s += be(0xE0000000u | uint32_t(refs.size()), 4);
        s += std::string((refs.size() + 1 + 7) / 8, '\0');
    }
    for (uint32_t r : refs)
        s += be(r, refSize);
    s += char(1);
    return s + be(declaredLength ? declaredLength : data.size(), 4) + data;
}

std::string pageInfo(uint32_t w, uint32_t h, int flags = 0, int striping = 0) {
    return segment(0, 48, {}, be(w, 4) + be(h, 4) + be(0, 4) + be(0, 4) + char(flags) + be(striping, 2));
}

std::string regionInfo(int w, int h, int x, int y, int op = 0) {
    return be(uint32_t(w), 4) + be(uint32_t(h), 4) + be(uint32_t(x), 4) + be(uint32_t(y), 4) + char(op);
}

// The generic-region contexts written plainly: the template's pixels in
// order of row and column, most significant first, an AT pixel in the place
// of the pixel it moves.
template <class Pic>
uint32_t genericContext(const Pic& p, int x, int y, int templ, const int* at) {
    struct Offset {
        int dx, dy, atIndex;
    };
    static const std::vector<Offset> kTemplates[4] = {{{0, 0, 3},
                                                       {-1, -2, -1},
                                                       {0, -2, -1},
                                                       {1, -2, -1},
                                                       {0, 0, 2},
                                                       {0, 0, 1},
                                                       {-2, -1, -1},
                                                       {-1, -1, -1},
                                                       {0, -1, -1},
                                                       {1, -1, -1},
                                                       {2, -1, -1},
                                                       {0, 0, 0},
                                                       {-4, 0, -1},
                                                       {-3, 0, -1},
                                                       {-2, 0, -1},
                                                       {-1, 0, -1}},
                                                      {{-1, -2, -1},
                                                       {0, -2, -1},
                                                       {1, -2, -1},
                                                       {2, -2, -1},
                                                       {-2, -1, -1},
                                                       {-1, -1, -1},
                                                       {0, -1, -1},
                                                       {1, -1, -1},
                                                       {2, -1, -1},
                                                       {0, 0, 0},
                                                       {-3, 0, -1},
                                                       {-2, 0, -1},
                                                       {-1, 0, -1}},
                                                      {{-1, -2, -1},
                                                       {0, -2, -1},
                                                       {1, -2, -1},
                                                       {-2, -1, -1},
                                                       {-1, -1, -1},
                                                       {0, -1, -1},
                                                       {1, -1, -1},
                                                       {0, 0, 0},
                                                       {-2, 0, -1},
                                                       {-1, 0, -1}},
                                                      {{-3, -1, -1},
                                                       {-2, -1, -1},
                                                       {-1, -1, -1},
                                                       {0, -1, -1},
                                                       {1, -1, -1},
                                                       {0, 0, 0},
                                                       {-4, 0, -1},
                                                       {-3, 0, -1},
                                                       {-2, 0, -1},
                                                       {-1, 0, -1}}};
    uint32_t cx = 0;
    for (const Offset& o : kTemplates[templ]) {
        const int dx = o.atIndex < 0 ? o.dx : at[2 * o.atIndex];
        const int dy = o.atIndex < 0 ? o.dy : at[2 * o.atIndex + 1];
        cx = (cx << 1) | uint32_t(p.get(x + dx, y + dy));
    }
    return cx;
}

// Codes the picture's rows; with TPGDON a row that sameAsAbove(y) says
// repeats the one above takes one decision.
template <class Pic, class Same>
void encodeRows(MqEncoder& enc, MqEncoder::Contexts& cx, const Pic& p, int templ, const int* at, bool tpgd,
                Same sameAsAbove) {
    static const uint32_t kSltp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
    int ltp = 0;
    for (int y = 0; y < p.height; ++y) {
        if (tpgd) {
            const bool same = sameAsAbove(y);
            enc.encodeBit(cx, kSltp[templ], ltp ^ int(same));
            ltp = same;
            if (same)
                continue;
        }
        for (int x = 0; x < p.width; ++x)
            enc.encodeBit(cx, genericContext(p, x, y, templ, at), p.get(x, y));
    }
}

void encodeGeneric(MqEncoder& enc, MqEncoder::Contexts& cx, const Picture& p, int templ, const int* at,
                   bool tpgd) {
    encodeRows(enc, cx, p, templ, at, tpgd, [&](int y) {
        for (int x = 0; x < p.width; ++x)
            if (p.get(x, y) != p.get(x, y - 1))
                return false;
        return true;
    });
}

std::string atBytes(const int* at, int count) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s.push_back(char(int8_t(at[i])));
    return s;
}

// An immediate generic region segment holding the picture at (x, y).
std::string genericSegment(uint32_t number, const Picture& p, int x, int y, int templ, const int* at,
                           bool tpgd, int type = 38) {
    MqEncoder enc;
    MqEncoder::Contexts cx(1 << 16, 0);
    encodeGeneric(enc, cx, p, templ, at, tpgd);
    const std::string data = regionInfo(p.width, p.height, x, y) + char((templ << 1) | (tpgd ? 8 : 0)) +
                             atBytes(at, templ == 0 ? 8 : 2) + enc.finish();
    return segment(number, type, {}, data);
}

struct Page {
    int width = 0, height = 0;
    std::vector<uint8_t> bytes;  // 1 = black, rows of (width + 7) / 8
    int get(int x, int y) const { return (bytes[size_t(y) * ((width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1; }
};

Page decode(const std::string& stream, int width, const std::string& globals = "") {
    PdfValue g;
    if (!globals.empty())
        g.initStream(memoryStream(globals).release());
    RefPtr<DataStream> decoder = RefPtr<DataStream>::adopt(new Jbig2Decoder(memoryStream(stream), g));
    const std::string out = test::readAll(decoder.get());
    Page page;
    page.width = width;
    page.height = width > 0 ? int(out.size() / size_t((width + 7) / 8)) : 0;
    for (char c : out)
        page.bytes.push_back(uint8_t(~c));
    return page;
}

bool pageShows(const Page& page, const Picture& p, int x0, int y0) {
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (page.get(x0 + x, y0 + y) != p.get(x, y))
                return false;
    return true;
}

const int kNominalAt[4][8] = {{3, -1, -3, -1, 2, -2, -2, -2}, {3, -1}, {2, -1}, {2, -1}};

TEST(Jbig2Decoder, GenericRegionsDecodeToTheirSource) {
    const int customAt[8] = {-2, 0, 4, -1, -5, -2, 1, -3};
    struct Case {
        int templ;
        bool customAt;
        bool tpgd;
    } cases[] = {{0, false, false}, {1, false, false}, {2, false, false}, {3, false, false},
                 {0, true, false},  {1, true, false},  {2, true, true},   {3, true, false},
                 {0, false, true},  {3, false, true}};
    for (const Case& c : cases) {
        const Picture p = noise(37, 23, unsigned(c.templ * 7 + c.tpgd), c.tpgd);
        const int* at = c.customAt ? customAt : kNominalAt[c.templ];
        const Page page = decode(pageInfo(48, 30) + genericSegment(1, p, 5, 3, c.templ, at, c.tpgd), 48);
        ASSERT_EQ(page.height, 30);
        EXPECT_TRUE(pageShows(page, p, 5, 3))
            << "template " << c.templ << " custom AT " << c.customAt << " TPGDON " << c.tpgd;
    }
}

// G4 data of the picture, as libtiff writes it.
std::string g4Data(const Picture& p) {
    const std::string name = "jbig2-g4-" + std::to_string(getpid()) + ".tif";
    TIFFSetWarningHandler(nullptr);
    TIFF* out = TIFFOpen(name.c_str(), "w");
    if (!out)
        return "";
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(p.width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, uint32_t(p.height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, uint16_t(1));
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, uint32_t(p.height));
    std::vector<uint8_t> row(size_t((p.width + 7) / 8));
    for (int y = 0; y < p.height; ++y) {
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < p.width; ++x)
            if (p.get(x, y))
                row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        TIFFWriteScanline(out, row.data(), uint32_t(y), 0);
    }
    TIFFClose(out);
    std::string data;
    if (TIFF* in = TIFFOpen(name.c_str(), "r")) {
        data.resize(size_t(TIFFRawStripSize(in, 0)));
        TIFFReadRawStrip(in, 0, data.data(), tmsize_t(data.size()));
        TIFFClose(in);
    }
    std::remove(name.c_str());
    return data;
}

TEST(Jbig2Decoder, MmrRegionIsFollowedByTheNextSegmentAtItsDataLength) {
    const Picture first = noise(61, 17, 3, false);
    const Picture second = noise(20, 9, 4, false);
    const std::string g4 = g4Data(first);
    ASSERT_FALSE(g4.empty());
    // Bytes after the coded rows belong to the segment too.
    const std::string mmr = segment(1, 38, {}, regionInfo(61, 17, 0, 0) + char(1) + g4 + "padding");
    const Page page =
        decode(pageInfo(64, 40) + mmr + genericSegment(2, second, 30, 25, 0, kNominalAt[0], false), 64);
    EXPECT_TRUE(pageShows(page, first, 0, 0));
    EXPECT_TRUE(pageShows(page, second, 30, 25));
}

// Faults of one segment stay in it: reading goes on with the next one at
// the length its header gives.
TEST(Jbig2Decoder, ReadingGoesOnAfterDefectiveAndUnknownSegments) {
    const Picture p = noise(16, 8, 9, false);
    const std::string after = genericSegment(9, p, 8, 8, 1, kNominalAt[1], false);
    const std::string good = genericSegment(2, p, 0, 0, 1, kNominalAt[1], false);
    struct Case {
        const char* what;
        std::string segments;
    } cases[] = {
        {"unknown type and end of page", segment(1, 33, {}, "whatever") + segment(2, 49, {}, "")},
        {"region of no width", segment(1, 38, {}, regionInfo(0, 8, 0, 0) + char(0) + std::string(20, 'x'))},
        {"region data longer than its rows", good.substr(0, good.size()) + segment(3, 52, {}, "profile")},
        {"data beyond what the decoder reads",
         [&] {
             std::string s = genericSegment(2, p, 0, 0, 1, kNominalAt[1], false);
             // Declare 5 more bytes than the region takes and supply them.
             const size_t lengthAt = 4 + 1 + 1 + 1;
             const uint32_t length = uint32_t(s.size() - lengthAt - 4) + 5;
             return s.replace(lengthAt, 4, be(length, 4)) + "junk!";
         }()},
        {"seven referred-to segments in the long form",
         segment(7, 38, {1, 2, 3, 4, 5, 6, 0}, good.substr(11))},
    };
    for (const Case& c : cases) {
        ErrorCapture errors;
        const Page page = decode(pageInfo(32, 24) + c.segments + after, 32);
        ASSERT_EQ(page.height, 24) << c.what;
        EXPECT_TRUE(pageShows(page, p, 8, 8)) << c.what;
    }
}

TEST(Jbig2Decoder, StripedPageGrowsWithItsRegions) {
    const Picture p = noise(20, 30, 5, false);
    const std::string stream =
        pageInfo(24, 0xFFFFFFFF, 0, 0x8000 | 16) + genericSegment(1, p, 0, 0, 2, kNominalAt[2], false) +
        segment(2, 50, {}, be(29, 4)) + genericSegment(3, p, 4, 30, 2, kNominalAt[2], false);
    const Page page = decode(stream, 24);
    EXPECT_EQ(page.height, 60);
    EXPECT_TRUE(pageShows(page, p, 4, 30));
}

TEST(Jbig2Decoder, RefinementReferringToSeveralSegmentsLeavesThePage) {
    const Picture p = noise(16, 8, 6, false);
    const std::string stream =
        pageInfo(16, 8) + genericSegment(1, p, 0, 0, 0, kNominalAt[0], false) +
        genericSegment(2, p, 0, 0, 0, kNominalAt[0], false, 36) +
        genericSegment(3, p, 0, 0, 0, kNominalAt[0], false, 36) +
        segment(4, 42, {2, 3}, regionInfo(16, 8, 0, 0) + char(1) + std::string(8, '\0'));
    ErrorCapture errors;
    const Page page = decode(stream, 16);
    EXPECT_TRUE(pageShows(page, p, 0, 0));
    EXPECT_TRUE(errors.contains("several"));
}

// A symbol dictionary of one height class holding the symbols (all of the
// first one's height), every one exported.
std::string symbolDictionary(uint32_t number, const std::vector<Picture>& symbols) {
    MqEncoder enc;
    MqEncoder::Contexts iadh(512, 0), iadw(512, 0), iaex(512, 0), generic(1 << 16, 0);
    enc.encodeInt(iadh, symbols[0].height);
    int width = 0;
    for (const Picture& s : symbols) {
        enc.encodeInt(iadw, s.width - width);
        width = s.width;
        encodeGeneric(enc, generic, s, 0, kNominalAt[0], false);
    }
    enc.encodeInt(iadw, 0, true);
    enc.encodeInt(iaex, 0);
    enc.encodeInt(iaex, int64_t(symbols.size()));
    const uint32_t count = uint32_t(symbols.size());
    return segment(number, 0, {},
                   be(0, 2) + atBytes(kNominalAt[0], 8) + be(count, 4) + be(count, 4) + enc.finish());
}

struct TextSymbols {
    Picture a{5, 6}, b{3, 6}, c{4, 6};
    TextSymbols() {
        for (int y = 0; y < 6; ++y) {
            a.set(y % 5, y);
            a.set(0, y);
            b.set(1, y);
            c.set(3 - y % 4, y);
        }
    }
};

TEST(Jbig2Decoder, TextRegionPlacesSymbolsOfTheGlobals) {
    const TextSymbols s;
    const std::string globals = symbolDictionary(1, {s.a, s.b});
    // One strip at T = 2: a at S = 3, then b two pixels after a's right edge.
    MqEncoder text;
    MqEncoder::Contexts iadt(512, 0), iafs(512, 0), iads(512, 0), iaid(4, 0);
    text.encodeInt(iadt, 0);
    text.encodeInt(iadt, 2);
    text.encodeInt(iafs, 3);
    text.encodeIaid(iaid, 1, 0);
    text.encodeInt(iads, 3);
    text.encodeIaid(iaid, 1, 1);
    text.encodeInt(iads, 0, true);
    const std::string region = regionInfo(20, 10, 1, 1) + be(0x0010, 2) + be(2, 4) + text.finish();
    const Page page = decode(pageInfo(24, 12) + segment(2, 6, {1}, region), 24, globals);
    EXPECT_TRUE(pageShows(page, s.a, 1 + 3, 1 + 2));
    EXPECT_TRUE(pageShows(page, s.b, 1 + 3 + 5 - 1 + 3, 1 + 2));
}

// A refined instance whose symbol id is past the symbols is left out, and
// the instances after it are placed: its refinement deltas are read, and no
// symbol means no bitmap to refine (an empty symbol, as for an unrefined
// instance of a bad id).
TEST(Jbig2Decoder, RefinedInstanceOfAnUnknownSymbolIsSkipped) {
    const TextSymbols s;
    MqEncoder text;
    MqEncoder::Contexts iadt(512, 0), iafs(512, 0), iads(512, 0), iaid(8, 0), iari(512, 0), iardw(512, 0),
        iardh(512, 0), iardx(512, 0), iardy(512, 0);
    text.encodeInt(iadt, 0);
    text.encodeInt(iadt, 2);
    text.encodeInt(iafs, 3);
    text.encodeIaid(iaid, 2, 3);
    text.encodeInt(iari, 1);
    for (auto* delta : {&iardw, &iardh, &iardx, &iardy})
        text.encodeInt(*delta, 0);
    text.encodeInt(iads, 4);
    text.encodeIaid(iaid, 2, 2);
    text.encodeInt(iari, 0);
    text.encodeInt(iads, 0, true);
    // Refinement on, reference corner top left, refinement template 1.
    const std::string region = regionInfo(20, 10, 1, 1) + be(0x8012, 2) + be(2, 4) + text.finish();
    ErrorCapture errors;
    const Page page =
        decode(pageInfo(24, 12) + symbolDictionary(1, {s.a, s.b, s.c}) + segment(2, 6, {1}, region), 24);
    EXPECT_TRUE(errors.contains("symbol id 3"));
    // The left-out instance counts as a symbol of width 0.
    EXPECT_TRUE(pageShows(page, s.c, 1 + 3 - 1 + 4, 1 + 2));
}

TEST(Jbig2Decoder, HalftoneGrayValuesPastTheLastPatternTakeIt) {
    // Patterns 4 x 4: empty, left half, full; the collective bitmap 12 x 4.
    Picture collective(12, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 12; ++x)
            collective.set(x, y, (x >= 4 && x < 6) || x >= 8);
    const int patternAt[8] = {-4, 0, -3, -1, 2, -2, -2, -2};
    MqEncoder penc;
    MqEncoder::Contexts pcx(1 << 16, 0);
    encodeGeneric(penc, pcx, collective, 0, patternAt, false);
    const std::string patterns =
        segment(1, 16, {}, std::string("\x00\x04\x04", 3) + be(2, 4) + penc.finish());

    // Two cells with gray values 1 and 3, Gray-coded bit planes from the top.
    MqEncoder genc;
    MqEncoder::Contexts gcx(1 << 16, 0);
    Picture plane1(2, 1), plane0(2, 1);
    plane1.set(1, 0);  // 3 ^ 1 = 2, 1 ^ 0 = 1
    plane0.set(0, 0);
    encodeGeneric(genc, gcx, plane1, 0, kNominalAt[0], false);
    encodeGeneric(genc, gcx, plane0, 0, kNominalAt[0], false);
    const std::string halftone = regionInfo(8, 4, 2, 2) + char(0) + be(2, 4) + be(1, 4) + be(0, 4) +
                                 be(0, 4) + be(4 << 8, 2) + be(0, 2) + genc.finish();
    const Page page = decode(pageInfo(12, 8) + patterns + segment(2, 22, {1}, halftone), 12);
    Picture expected(8, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            expected.set(x, y, x < 2 || x >= 4);
    EXPECT_TRUE(pageShows(page, expected, 2, 2));
}

// A page that is white but for a few black rectangles: with typical
// prediction only the rows where a rectangle starts or ends are coded pixel
// by pixel, so that even a page of 70 million pixels codes in a moment.
struct RectPage {
    struct Rect {
        int x0, y0, x1, y1;
    };
    int width, height;
    std::vector<Rect> rects;
    int get(int x, int y) const {
        for (const Rect& r : rects)
            if (x >= r.x0 && x < r.x1 && y >= r.y0 && y < r.y1)
                return 1;
        return 0;
    }
    bool sameAsAbove(int y) const {
        for (const Rect& r : rects)
            if (y == r.y0 || y == r.y1)
                return false;
        return true;
    }
    // Whether the decoded page shows these rectangles and nothing else.
    bool shownBy(const Page& page) const {
        const size_t line = size_t((width + 7) / 8);
        if (page.width != width || page.height != height)
            return false;
        std::vector<uint8_t> row(line);
        for (int y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (const Rect& r : rects)
                if (y >= r.y0 && y < r.y1)
                    for (int x = r.x0; x < r.x1; ++x)
                        row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
            if (!std::equal(row.begin(), row.end(), page.bytes.begin() + ptrdiff_t(size_t(y) * line)))
                return false;
        }
        return true;
    }
};

// A generic region of the whole page, template 0, TPGDON.
std::string rectRegion(uint32_t number, const RectPage& p, int op = 0, int type = 38) {
    MqEncoder enc;
    MqEncoder::Contexts cx(1 << 16, 0);
    encodeRows(enc, cx, p, 0, kNominalAt[0], true, [&](int y) { return p.sameAsAbove(y); });
    return segment(
        number, type, {},
        regionInfo(p.width, p.height, 0, 0, op) + char(8) + atBytes(kNominalAt[0], 8) + enc.finish());
}

// A3 at 600 dpi: every region as large as the page decodes, however few
// bytes code it; the decoding work a stream may ask for grows with its page.
TEST(Jbig2Decoder, PageSizedRegionsOfAnA3PageAt600DpiDecode) {
    const int width = 7016, height = 9921;
    RectPage first{width, height, {{100, 200, 3000, 260}, {0, 9000, width, 9921}}};
    RectPage second{width, height, {{5000, 4000, 5100, 8000}, {7000, 0, width, 10}}};
    const std::string stream =
        pageInfo(width, height) + rectRegion(1, first) + rectRegion(2, second, Jbig2Bitmap::kOr);
    ErrorCapture errors;
    const Page page = decode(stream, width);
    EXPECT_TRUE(errors.empty()) << errors.reports()[0].message;
    RectPage both = first;
    both.rects.insert(both.rects.end(), second.rects.begin(), second.rects.end());
    EXPECT_TRUE(both.shownBy(page));
}

// Sizes read from the data are checked before anything is allocated or
// looped over: each stream is reported and ends quickly with what it has.
TEST(Jbig2Decoder, HostileSizesAreRefused) {
    const std::string page = pageInfo(16, 16);
    struct Case {
        const char* what;
        std::string stream;
    } cases[] = {
        {"page", pageInfo(0x7FFFFFFF, 0x7FFFFFFF)},
        {"generic region", page + segment(1, 38, {}, regionInfo(200000, 200000, 0, 0) + char(0) + std::string(8, 0))},
        {"symbol count", page + segment(1, 0, {}, be(0, 2) + std::string(8, 0) + be(1, 4) + be(0xFFFFFFFF, 4))},
        {"pattern count", page + segment(1, 16, {}, std::string("\x00\x08\x08", 3) + be(0xFFFFFFFF, 4))},
        {"halftone grid",
         page + segment(1, 16, {}, std::string("\x01\x01\x01", 3) + be(0, 4)) +
             segment(2, 22, {1}, regionInfo(16, 16, 0, 0) + char(0) + be(0xFFFF, 4) + be(0xFFFF, 4) +
                                     std::string(12, 0))},
        {"text instances", page + segment(1, 6, {}, regionInfo(16, 16, 0, 0) + be(0, 2) + be(0xFFFFFFFF, 4))},
        {"code table range", page + segment(1, 53, {}, char(0x70) + be(0, 4) + be(100, 4) + std::string(8, '\xff'))},
        {"export runs", page + segment(1, 0, {}, be(0, 2) + std::string(8, 0) + be(0xFFFF, 4) + be(0, 4))},
        {"wide MMR row", page + segment(1, 38, {}, regionInfo(1 << 28, 1, 0, 0) + char(1) + std::string(4, 0))},
        {"kept text regions", [&] {
             std::string s = page;
             for (uint32_t n = 1; n <= 12; ++n)
                 s += segment(n, 4, {}, regionInfo(16000, 16000, 0, 0) + be(0, 2) + be(0, 4));
             return s;
         }()},
        // A few bytes each, and every one is kept.
        {"kept regions of an A3 page", [&] {
             const RectPage a3{7016, 9921, {}};
             std::string s = pageInfo(7016, 9921);
             for (uint32_t n = 1; n <= 40; ++n)
                 s += rectRegion(n, a3, 0, 36);
             return s;
         }()},
    };
    for (const Case& c : cases) {
        ErrorCapture errors;
        decode(c.stream, 16);
        EXPECT_FALSE(errors.empty()) << c.what;
    }
}

}  // namespace
}  // namespace rendova

namespace rendova {
namespace {

// The whole-byte combination against the plain pixel rule, at every
// alignment, over both edges and with every operator.
TEST(Jbig2Bitmap, CombineMatchesThePixelRule) {
    std::mt19937 rng(11);
    for (int turn = 0; turn < 400; ++turn) {
        const int sw = 1 + int(rng() % 40), sh = 1 + int(rng() % 4), dw = 1 + int(rng() % 40);
        const int x = int(rng() % 60) - 20, y = int(rng() % 6) - 2, op = int(rng() % 5);
        Jbig2Bitmap src(0, sw, sh), dst(0, dw, 4), expected(0, dw, 4);
        for (int j = 0; j < sh; ++j)
            for (int i = 0; i < sw; ++i)
                if (rng() & 1)
                    src.setPixel(i, j);
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < dw; ++i)
                if (rng() & 1) {
                    dst.setPixel(i, j);
                    expected.setPixel(i, j);
                }
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < dw; ++i) {
                if (i < x || i >= x + sw || j < y || j >= y + sh)
                    continue;
                const int d = expected.getPixel(i, j), s = src.getPixel(i - x, j - y);
                const int r = op == 0 ? d | s : op == 1 ? d & s : op == 2 ? d ^ s : op == 3 ? !(d ^ s) : s;
                expected.row(j)[i >> 3] =
                    uint8_t((expected.row(j)[i >> 3] & ~(0x80 >> (i & 7))) | (r << (7 - (i & 7))));
            }
        }
        dst.combine(src, x, y, op);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(dst.data()), size_t(dst.lineBytes()) * 4),
                  std::string(reinterpret_cast<char*>(expected.data()), size_t(expected.lineBytes()) * 4))
            << "source " << sw << " x " << sh << " at " << x << ", " << y << ", operator " << op;
    }
}

}  // namespace
}  // namespace rendova
