// The metafile reader: the header rules that size the picture, and the
// player drawing records into it, from files our metafile writer makes and
// from records built here.
#include "image/RasterImageWMF.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <string>

#include "platform/MetafileWriter.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::append32;
using test::Bytes;
using test::decodeBytes;
using test::outPath;

constexpr RgbQuad kWhite{255, 255, 255, 0};
constexpr RgbQuad kBlack{0, 0, 0, 0};
constexpr RgbQuad kRed{0, 0, 255, 0};
constexpr RgbQuad kBlue{255, 0, 0, 0};
constexpr RgbQuad kGreen{0, 255, 0, 0};

uint32_t le32At(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// One WMF record: its size in words, the function and its 16-bit words.
Bytes wmfRecord(uint16_t function, std::initializer_list<int> words) {
    Bytes out;
    append32(out, uint32_t(3 + words.size()));
    append16(out, function);
    for (int w : words)
        append16(out, uint32_t(w) & 0xFFFF);
    return out;
}

struct Placeable {
    int left = 0, top = 0, right = 100, bottom = 50;
    int unitsPerInch = 96;
    bool wrongChecksum = false;
    int type = 1;
    int extraSizeWords = 0;  // a size that claims more than the file holds
};

// A placeable WMF: the 22-byte header, the standard header and the
// records, ended by the end-of-file record.
Bytes placeableWmf(const Placeable& p, const Bytes& records) {
    Bytes out;
    const uint16_t words[10] = {0xCDD7,
                                0x9AC6,
                                0,
                                uint16_t(p.left),
                                uint16_t(p.top),
                                uint16_t(p.right),
                                uint16_t(p.bottom),
                                uint16_t(p.unitsPerInch),
                                0,
                                0};
    uint16_t checksum = 0;
    for (uint16_t w : words) {
        append16(out, w);
        checksum ^= w;
    }
    append16(out, p.wrongChecksum ? checksum ^ 1 : checksum);
    const Bytes eof = wmfRecord(0, {});
    append16(out, uint32_t(p.type));
    append16(out, 9);
    append16(out, 0x300);
    append32(out, uint32_t((18 + records.size() + eof.size()) / 2 + p.extraSizeWords));
    // Object count and largest record: libwmf reads them; our player does not.
    uint32_t largest = 3;
    for (size_t at = 0; at + 4 <= records.size() && le32At(records, at) != 0;
         at += 2 * size_t(le32At(records, at)))
        largest = std::max(largest, le32At(records, at));
    append16(out, 2);
    append32(out, largest);
    append16(out, 0);
    out.insert(out.end(), records.begin(), records.end());
    out.insert(out.end(), eof.begin(), eof.end());
    return out;
}

Bytes emfRecord(uint32_t type, std::initializer_list<int64_t> fields) {
    Bytes out;
    append32(out, type);
    append32(out, uint32_t(8 + 4 * fields.size()));
    for (int64_t f : fields)
        append32(out, uint32_t(f));
    return out;
}

// An enhanced metafile: the header record (bounds in pixels, frame in
// hundredths of a millimetre on a 96-dpi device), the records, the end.
Bytes enhancedMetafile(const platform::MetaRect& bounds, const Bytes& records,
                       uint32_t signature = 0x464D4520) {
    const Bytes eof = emfRecord(14, {0, 16, 20});
    Bytes out;
    append32(out, 1);
    append32(out, 88);
    for (int32_t v : {bounds.left, bounds.top, bounds.right, bounds.bottom})
        append32(out, uint32_t(v));
    // 96 dpi: 1920 pixels on 508 millimetres.
    for (int32_t v : {bounds.left, bounds.top, bounds.right + 1, bounds.bottom + 1})
        append32(out, uint32_t(int64_t(v) * 50800 / 1920));
    append32(out, signature);
    append32(out, 0x10000);
    append32(out, uint32_t(88 + records.size() + eof.size()));
    append32(out, 3);
    append16(out, 8);  // handles
    append16(out, 0);
    for (uint32_t v : {0u, 0u, 0u, 1920u, 1440u, 508u, 381u})
        append32(out, v);
    out.insert(out.end(), records.begin(), records.end());
    out.insert(out.end(), eof.begin(), eof.end());
    return out;
}

RgbQuad pixel(const RasterImage& image, int32_t x, int32_t yFromTop) {
    return image.ReadColor(x, image.GetHeight() - 1 - yFromTop, false);
}

TEST(RasterImageWMF, HeadersDecideTheSizeOrTheFailure) {
    struct Case {
        const char* name;
        Bytes file;
        int32_t width;  // 0: fails with `text`
        int32_t height;
        const char* text;
    };
    Placeable half;
    half.unitsPerInch = 48;
    Placeable wrongSum;
    wrongSum.wrongChecksum = true;
    Placeable tooFine;
    tooFine.unitsPerInch = 2541;
    Placeable noUnits;
    noUnits.unitsPerInch = 0;
    Placeable badType;
    badType.type = 3;
    Placeable longer;
    longer.extraSizeWords = 1;
    Placeable flat;
    flat.bottom = 0;
    Placeable backwards;
    backwards.left = 100;
    backwards.right = 20;
    Placeable wide;
    wide.right = 8000;
    wide.bottom = 2000;
    Placeable tall;
    tall.right = 2000;
    tall.bottom = 8000;
    Placeable thread;
    thread.right = 32000;
    thread.bottom = 1;
    const Case cases[] = {
        {"placeable at 96 units", placeableWmf({}, {}), 100, 50, nullptr},
        {"placeable at 48 units", placeableWmf(half, {}), 200, 100, nullptr},
        {"wrong checksum", placeableWmf(wrongSum, {}), 0, 0, "corrupted WMF"},
        {"2541 units per inch", placeableWmf(tooFine, {}), 0, 0, "corrupted WMF"},
        {"0 units per inch", placeableWmf(noUnits, {}), 0, 0, "corrupted WMF"},
        {"type 3", placeableWmf(badType, {}), 0, 0, "corrupted WMF"},
        {"size beyond the file", placeableWmf(longer, {}), 0, 0, "corrupted WMF"},
        {"no height", placeableWmf(flat, {}), 0, 0, "empty WMF"},
        {"negative width", placeableWmf(backwards, {}), 0, 0, "empty WMF"},
        {"8000 x 2000", placeableWmf(wide, {}), 4000, 1000, nullptr},
        {"2000 x 8000", placeableWmf(tall, {}), 1000, 4000, nullptr},
        {"32000 x 1", placeableWmf(thread, {}), 4000, 1, nullptr},
        {"enhanced", enhancedMetafile({0, 0, 99, 49}, {}), 100, 50, nullptr},
        {"enhanced, empty bounds", enhancedMetafile({0, 0, -1, -1}, {}), 0, 0, "empty WMF"},
        {"enhanced, wrong signature", enhancedMetafile({0, 0, 9, 9}, {}, 0x464D4521), 0, 0, "corrupted WMF"},
        {"neither", Bytes(64, 0), 0, 0, "corrupted WMF"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        RasterImage image;
        const bool decoded = decodeBytes(image, c.file, kFormatWmf);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.name;
        if (c.width == 0) {
            EXPECT_FALSE(decoded) << c.name;
            EXPECT_STREQ(image.LastErrorText(), c.text) << c.name;
            continue;
        }
        ASSERT_TRUE(decoded) << c.name << ": " << image.LastErrorText();
        EXPECT_EQ(image.GetWidth(), c.width) << c.name;
        EXPECT_EQ(image.GetHeight(), c.height) << c.name;
        EXPECT_EQ(image.GetBpp(), 24) << c.name;
        EXPECT_EQ(image.GetType(), uint32_t(kFormatWmf)) << c.name;
        EXPECT_EQ(pixel(image, c.width - 1, c.height - 1), kWhite) << c.name;
        // The all-format attempt reaches the metafile reader too.
        RasterImage any;
        EXPECT_TRUE(decodeBytes(any, c.file, kFormatUnknown)) << c.name;
        EXPECT_EQ(any.GetType(), uint32_t(kFormatWmf)) << c.name;
    }
}

TEST(RasterImageWMF, EscapeCancelsAndLeavesNoPicture) {
    RasterImage image;
    image.info().escape = 1;
    EXPECT_FALSE(decodeBytes(image, placeableWmf({}, {}), kFormatWmf));
    EXPECT_STREQ(image.LastErrorText(), "Cancelled");
    EXPECT_FALSE(image.HasPixels());
}

TEST(RasterImageWMF, ClampScalesTheOtherSideIn64Bits) {
    struct Case {
        int64_t width, height, clampedWidth, clampedHeight;
    };
    for (const Case c :
         {Case{8000, 2000, 4000, 1000}, Case{4000, 4001, 3999, 4000}, Case{100000, 30000, 4000, 1200},
          Case{3000000000, 1, 4000, 1}, Case{400, 300, 400, 300}}) {
        int64_t w = c.width;
        int64_t h = c.height;
        RasterImageWMF::clampSize(w, h);
        EXPECT_EQ(w, c.clampedWidth) << c.width << " x " << c.height;
        EXPECT_EQ(h, c.clampedHeight) << c.width << " x " << c.height;
    }
}

// What our page writer records, in both formats: a ground of red with a
// blue outline, then a 4 x 2 bitmap stretched over 40 x 20 pixels at
// (10, 10); played back pixel for pixel.
TEST(RasterImageWMF, PlaysWhatOurWriterRecords) {
    for (const bool enhanced : {true, false}) {
        SCOPED_TRACE(enhanced ? "EMF" : "WMF");
        const std::string path = outPath(enhanced ? "page.emf" : "page.wmf");
        auto writer = enhanced ? platform::MetafileWriter::createEnhMetaFile(
                                     path, {0, 0, 64 * 50800 / 1920, 48 * 38100 / 1440}, "")
                               : platform::MetafileWriter::createMetaFile(path);
        ASSERT_NE(writer, nullptr);
        const uint32_t pen = writer->createPen(platform::kPenSolid, 1, 0xFF0000);
        writer->selectObject(pen);
        const uint32_t brush = writer->createSolidBrush(0x0000FF);
        writer->selectObject(brush);
        writer->rectangle(0, 0, 64, 48);
        RasterImage bitmap(4, 2, 24, kFormatUnknown);
        for (int32_t x = 0; x < 4; ++x) {
            bitmap.WriteColor(x, 1, x < 2 ? kGreen : kBlack);  // top row
            bitmap.WriteColor(x, 0, x < 2 ? kWhite : kBlue);
        }
        const uint8_t* block = bitmap.RowPointer(0) - 40;
        writer->stretchDibits(10, 10, 40, 20, 0, 0, 4, 2, bitmap.RowPointer(0), 24, block, 40, 0, 0x00CC0020);
        ASSERT_TRUE(writer->close());

        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatWmf)) << image.LastErrorText();
        ASSERT_EQ(image.GetWidth(), 64);
        ASSERT_EQ(image.GetHeight(), 48);
        EXPECT_EQ(pixel(image, 0, 0), kBlue);
        EXPECT_EQ(pixel(image, 63, 47), kBlue);
        EXPECT_EQ(pixel(image, 1, 1), kRed);
        EXPECT_EQ(pixel(image, 62, 46), kRed);
        EXPECT_EQ(pixel(image, 10, 10), kGreen);
        EXPECT_EQ(pixel(image, 29, 19), kGreen);
        EXPECT_EQ(pixel(image, 30, 19), kBlack);
        EXPECT_EQ(pixel(image, 49, 20), kBlue);
        EXPECT_EQ(pixel(image, 10, 29), kWhite);
        EXPECT_EQ(pixel(image, 50, 30), kRed);
        EXPECT_EQ(pixel(image, 9, 9), kRed);
    }
}

TEST(RasterImageWMF, PlayerMapsAndPaintsTheRecordsItKnows) {
    struct Case {
        const char* name;
        Bytes file;
        std::initializer_list<std::pair<std::pair<int, int>, RgbQuad>> expected;  // (x, y from top): colour
    };
    const Bytes blackBrush = wmfRecord(0x02FC, {0, 0, 0, 0});  // solid black
    const Bytes nullPen = wmfRecord(0x02FA, {5, 0, 0, 0, 0});  // null style
    const Bytes select0 = wmfRecord(0x012D, {0});
    const Bytes select1 = wmfRecord(0x012D, {1});
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts)
            out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    // A record of size 0 and one running past the end stop the playing.
    Bytes zeroSized = wmfRecord(0x041B, {50, 100, 0, 50});
    zeroSized[0] = 0;
    Bytes pastEnd = wmfRecord(0x041B, {50, 100, 0, 50});
    pastEnd[0] = 200;
    const Case cases[] = {
        {"window origin and extent",
         placeableWmf({}, cat({blackBrush, select0, nullPen, select1, wmfRecord(0x020B, {100, 100}),
                               wmfRecord(0x020C, {100, 200}), wmfRecord(0x041B, {150, 200, 100, 100})})),
         {{{0, 0}, kBlack}, {{49, 24}, kBlack}, {{50, 24}, kWhite}, {{49, 25}, kWhite}}},
        {"polygon, unknown records skipped, bad index ignored",
         placeableWmf({}, cat({wmfRecord(0x0999, {1, 2, 3}), blackBrush, wmfRecord(0x012D, {9}), select0,
                               wmfRecord(0x0324, {3, 0, 0, 100, 0, 0, 50})})),
         {{{2, 2}, kBlack}, {{90, 45}, kWhite}, {{50, 10}, kBlack}}},
        {"polyline and line to",
         placeableWmf({}, cat({wmfRecord(0x0325, {2, 0, 10, 99, 10}), wmfRecord(0x0214, {0, 60}),
                               wmfRecord(0x0213, {49, 60})})),
         {{{30, 10}, kBlack}, {{30, 11}, kWhite}, {{60, 30}, kBlack}, {{61, 30}, kWhite}}},
        {"opaque text background",
         placeableWmf({},
                      cat({wmfRecord(0x0201, {0x00FF, 0}), wmfRecord(0x0A32, {5, 5, 0, 2, 10, 10, 20, 20})})),
         {{{10, 10}, kRed}, {{19, 19}, kRed}, {{20, 20}, kWhite}}},
        {"size 0 stops",
         placeableWmf({}, cat({blackBrush, select0, zeroSized, wmfRecord(0x041B, {50, 100, 0, 0})})),
         {{{10, 10}, kWhite}}},
        {"past the end stops", placeableWmf({}, cat({blackBrush, select0, pastEnd})), {{{10, 10}, kWhite}}},
        {"enhanced anisotropic mapping and stock objects",
         enhancedMetafile({0, 0, 99, 49}, cat({emfRecord(17, {8}), emfRecord(9, {10, 10}),
                                               emfRecord(11, {20, 20}), emfRecord(37, {0x80000004}),
                                               emfRecord(37, {0x80000008}), emfRecord(43, {1, 1, 3, 3})})),
         {{{2, 2}, kBlack}, {{7, 7}, kBlack}, {{8, 8}, kWhite}, {{1, 1}, kWhite}}},
        {"enhanced pens, brushes and polygons",
         enhancedMetafile({0, 0, 99, 49},
                          cat({emfRecord(39, {1, 0, 0x00FF00, 0}), emfRecord(37, {1}),
                               emfRecord(38, {2, 0, 0, 0, 0xFF0000}), emfRecord(37, {2}), emfRecord(40, {2}),
                               emfRecord(37, {7}),  // deleted: still in use
                               emfRecord(3, {0, 0, 0, 0, 4, 20, 10, 60, 10, 60, 30, 20, 30})})),
         {{{20, 10}, kBlue}, {{40, 20}, kGreen}, {{60, 30}, kBlue}, {{70, 20}, kWhite}}},
    };
    for (const Case& c : cases) {
        RasterImage image;
        ASSERT_TRUE(decodeBytes(image, c.file, kFormatWmf)) << c.name << ": " << image.LastErrorText();
        for (const auto& [where, colour] : c.expected)
            EXPECT_EQ(pixel(image, where.first, where.second), colour)
                << c.name << " at " << where.first << ", " << where.second;
    }
}

TEST(RasterImageWMF, ImageMagickMeasuresOurFixturesAlike) {
    REQUIRE_TOOL("identify");
    if (test::capture("convert -list format").find(" WMF") == std::string::npos)
        GTEST_SKIP() << "ImageMagick has no WMF coder here";
    Placeable big;
    big.right = 1440 * 3;
    big.bottom = 1440 * 2;
    big.unitsPerInch = 1440;
    Placeable offset;
    offset.left = -50;
    offset.top = 20;
    offset.right = 250;
    offset.bottom = 170;
    for (const Placeable& p : {Placeable{}, big, offset}) {
        const Bytes file = placeableWmf(p, wmfRecord(0x041B, {10, 10, 0, 0}));
        const std::string path = outPath("fixture" + std::to_string(p.right) + ".wmf");
        test::writeFile(path, file);
        RasterImage image;
        ASSERT_TRUE(decodeBytes(image, file, kFormatWmf)) << image.LastErrorText();
        const std::string size = test::capture("identify -density 96 -format '%w %h' '" + path + "'");
        EXPECT_EQ(size, std::to_string(image.GetWidth()) + " " + std::to_string(image.GetHeight()));
    }
}

}  // namespace
}  // namespace rendova
