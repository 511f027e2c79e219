#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/core/FaxDecoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/engine/core/TiffStrips.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

struct FaxParams {
    int k = 0;
    bool endOfLine = false;
    bool byteAlign = false;
    int columns = 1728;
    int rows = 0;
    bool endOfBlock = true;
    bool blackIs1 = false;
};

RefPtr<DataStream> faxStream(const std::string& data, const FaxParams& p) {
    return RefPtr<DataStream>::adopt(new FaxDecoder(memoryStream(data), p.k, p.endOfLine, p.byteAlign,
                                                    p.columns, p.rows, p.endOfBlock, p.blackIs1));
}

std::string decodeFax(const std::string& data, const FaxParams& p) {
    return readAll(faxStream(data, p).get());
}

// Bytes from a text of 0 and 1 (spaces ignored), the last byte padded with 0.
std::string bits(const std::string& text) {
    std::string out;
    int count = 0;
    unsigned byte = 0;
    for (char c : text) {
        if (c != '0' && c != '1')
            continue;
        byte = (byte << 1) | unsigned(c == '1');
        if (++count == 8) {
            out.push_back(char(byte));
            count = 0;
            byte = 0;
        }
    }
    if (count)
        out.push_back(char(byte << (8 - count)));
    return out;
}

// A bilevel test picture, 1 = black, with what fax coding has to handle:
// rows that follow the row above with small shifts (vertical modes), rows
// of fresh runs from 1 pixel to longer than 2560 (make-up codes), blank and
// black rows, rows starting black, and passes over short features.
test::TiffImage faxPicture(int width, int height, unsigned seed) {
    test::TiffImage image;
    image.width = width;
    image.height = height;
    image.bitsPerSample = 1;
    const size_t rowBytes = image.rowBytes();
    image.pixels.assign(rowBytes * size_t(height), 0);
    std::mt19937 random(seed);
    std::vector<uint8_t> row(static_cast<size_t>(width)), above(static_cast<size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        const unsigned kind = random() % 8;
        if (kind == 0) {
            std::fill(row.begin(), row.end(), uint8_t(random() % 3 == 0));
        } else if (kind <= 3 && y > 0) {
            // The row above, each colour change moved by up to 3 pixels.
            row = above;
            for (int x = 1; x < width; ++x) {
                if (above[size_t(x)] != above[size_t(x) - 1]) {
                    const int to = std::clamp(x + int(random() % 7) - 3, 0, width - 1);
                    for (int i = std::min(x, to); i < std::max(x, to); ++i)
                        row[size_t(i)] = above[size_t(x)];
                }
            }
        } else {
            uint8_t colour = uint8_t(random() % 2);
            for (int x = 0; x < width;) {
                const int scale = int(random() % 4);
                const int run = 1 + int(random() % (scale == 0   ? 3000
                                                    : scale == 1 ? 200
                                                    : scale == 2 ? 20
                                                                 : 3));
                for (int i = 0; i < run && x < width; ++i)
                    row[size_t(x++)] = colour;
                colour ^= 1;
            }
        }
        for (int x = 0; x < width; ++x)
            if (row[size_t(x)])
                image.pixels[size_t(y) * rowBytes + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        above = row;
    }
    return image;
}

// The rows with the pad bits after the last pixel cleared: BlackIs1
// inverts whole bytes, pad bits too.
std::string withoutPadBits(std::string rows, int width) {
    const size_t rowBytes = (size_t(width) + 7) / 8;
    const uint8_t mask = uint8_t(0xff << ((8 - width % 8) % 8));
    for (size_t i = rowBytes - 1; i < rows.size(); i += rowBytes)
        rows[i] = char(rows[i] & mask);
    return rows;
}

std::string reversedBits(std::string data) {
    for (char& c : data) {
        unsigned v = uint8_t(c), r = 0;
        for (int i = 0; i < 8; ++i)
            r |= ((v >> i) & 1) << (7 - i);
        c = char(r);
    }
    return data;
}

TEST(FaxDecoderTest, StripsOfARealEncoderDecodeToTheirBitmaps) {
    struct Case {
        const char* name;
        int compression;
        uint32_t group3Options;
        bool lsbFirst;
        FaxParams params;
    };
    const Case cases[] = {
        {"run length", COMPRESSION_CCITTRLE, 0, false, {0, false, true}},
        {"g3", COMPRESSION_CCITTFAX3, 0, false, {0, true}},
        {"g3 fill", COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS, false, {0, true, true}},
        {"g3 lsb first", COMPRESSION_CCITTFAX3, 0, true, {0, false}},
        {"g3:2d", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING, false, {4, true}},
        {"g3:2d fill",
         COMPRESSION_CCITTFAX3,
         GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS,
         false,
         {2, false, true}},
        {"g4", COMPRESSION_CCITTFAX4, 0, false, {-1}},
        {"g4 lsb first", COMPRESSION_CCITTFAX4, 0, true, {-1}},
    };
    for (int width : {1, 7, 1728, 2000}) {
        const test::TiffImage image = faxPicture(width, 90, unsigned(width));
        for (const Case& c : cases) {
            test::TiffCodec codec;
            codec.compression = c.compression;
            codec.group3Options = c.group3Options;
            codec.fillOrder = c.lsbFirst ? FILLORDER_LSB2MSB : FILLORDER_MSB2LSB;
            const test::TiffStrips strips = test::writeTiffStrips(image, codec, image.height);
            ASSERT_EQ(strips.raw.size(), 1u) << c.name;
            const std::string data = c.lsbFirst ? reversedBits(strips.raw[0]) : strips.raw[0];
            FaxParams p = c.params;
            p.columns = width;
            p.blackIs1 = true;
            ErrorCapture errors;
            EXPECT_EQ(withoutPadBits(decodeFax(data, p), width), test::bytesOf(image.pixels))
                << c.name << ", width " << width;
            EXPECT_TRUE(errors.empty())
                << c.name << ", width " << width << ": " << errors.reports()[0].message;
            // The same through getBlock, and with a known row count ending
            // the data without an end-of-block sequence.
            p.rows = image.height;
            p.endOfBlock = false;
            bool full = false;
            EXPECT_EQ(withoutPadBits(test::readAllInBlocks(faxStream(data, p).get(), {1, 3, 1000, 77}, &full),
                                     width),
                      test::bytesOf(image.pixels))
                << c.name << ", width " << width << " in blocks";
            EXPECT_TRUE(full);
        }
    }
}

TEST(FaxDecoderTest, GhostscriptFaxPagesDecodeToItsRaster) {
    const std::string dir = ::testing::TempDir() + "fax-gs-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string ps = dir + "/page.ps";
    std::ofstream(ps) << "/Times-Roman findfont 40 scalefont setfont\n"
                         "72 600 moveto (Facsimile 0123456789) show\n"
                         "4 setlinewidth 72 200 moveto 500 500 lineto stroke\n"
                         "300 300 100 0 360 arc fill showpage\n";
    const std::string common = "gs -q -dSAFER -dBATCH -dNOPAUSE -r204x98 -g1728x1100 -dFIXEDMEDIA ";
    if (test::runShell(common + "-sDEVICE=pbmraw -o " + test::shellQuote(dir + "/page.pbm") + " " +
                       test::shellQuote(ps))
            .first != 0) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "no Ghostscript";
    }
    std::ifstream pbmFile(dir + "/page.pbm", std::ios::binary);
    std::string pbm((std::istreambuf_iterator<char>(pbmFile)), std::istreambuf_iterator<char>());
    // "P4", comment lines, width and height, one white space, then the
    // packed rows, 1 = black.
    size_t at = 0;
    std::vector<std::string> fields;
    while (fields.size() < 3 && at < pbm.size()) {
        if (pbm[at] == '#')
            at = pbm.find('\n', at);
        else if (std::isspace(uint8_t(pbm[at])))
            ++at;
        else {
            const size_t end = pbm.find_first_of(" \t\r\n", at);
            fields.push_back(pbm.substr(at, end - at));
            at = end;
        }
    }
    ASSERT_EQ(fields, (std::vector<std::string>{"P4", "1728", "1100"}));
    const std::string expected = pbm.substr(at + 1);
    ASSERT_EQ(expected.size(), size_t(216 * 1100));

    struct Case {
        const char* device;
        FaxParams params;
    };
    for (const Case& c : {Case{"faxg3", {0, true}}, Case{"faxg32d", {1, true}}, Case{"faxg4", {-1}}}) {
        const std::string out = dir + "/page." + c.device;
        ASSERT_EQ(test::runShell(common + "-sDEVICE=" + c.device + " -o " + test::shellQuote(out) + " " +
                                 test::shellQuote(ps))
                      .first,
                  0);
        std::ifstream file(out, std::ios::binary);
        const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        FaxParams p = c.params;
        p.blackIs1 = true;
        ErrorCapture errors;
        const std::string decoded = decodeFax(data, p);
        EXPECT_EQ(decoded.size(), expected.size()) << c.device;
        EXPECT_TRUE(decoded == expected) << c.device;
        EXPECT_TRUE(errors.empty()) << c.device;
    }
    std::filesystem::remove_all(dir);
}

const std::string kEol = "000000000001";
const std::string kEofb = kEol + kEol;

TEST(FaxDecoderTest, CodedRowsDecodeAsTheParametersSay) {
    struct Case {
        const char* name;
        FaxParams params;
        std::string bits;
        std::string expected;
        bool reports;
    };
    const auto rows = [](int n, char byte) { return std::string(size_t(n), byte); };
    const Case cases[] = {
        {"Columns 0 is 1", {-1, false, false, 0}, "1 1 1" + kEofb, "\x80\x80\x80", false},
        {"negative Columns is 1", {-1, false, false, -7}, "1 1 1" + kEofb, "\x80\x80\x80", false},
        {"the end of block ends the rows",
         {-1, false, false, 8},
         "1 1 1" + kEofb + "11111111",
         rows(3, '\xff'),
         false},
        {"Rows ends data without an end of block",
         {-1, false, false, 8, 10, false},
         std::string(12, '1'),
         rows(10, '\xff'),
         false},
        {"Rows does not cut data with an end of block",
         {-1, false, false, 8, 10, true},
         std::string(12, '1'),
         rows(12, '\xff'),
         false},
        // Horizontal: white 0, black 3; then vertical 0 to the end.
        {"a two-dimensional row starting black", {-1, false, false, 8}, "001 00110101 10 1", "\x1f", false},
        {"a one-dimensional row starting black", {0, false, false, 8}, "00110101 10 1100", "\x1f", false},
        {"BlackIs1 turns white rows to 0",
         {0, false, false, 8, 0, true, true},
         "10011 10011",
         rows(2, '\0'),
         false},
        // White 5 and black 7 pass the end; junk, then the next row after
        // its end-of-line code.
        {"an overlong row resumes at the next end of line",
         {0, true, false, 8},
         kEol + "1100 00011 1111 0101" + kEol + "10011" + kEol + kEol,
         "\xf8\xff",
         true},
        {"EndOfLine over rows without the codes",
         {0, true, false, 8},
         "10011 10011 10011",
         rows(3, '\xff'),
         false},
        // White 3, then an end-of-line code: the row ends in its colour.
        {"an end of line inside a row cuts it",
         {0, true, false, 8},
         "1000" + kEol + "10011",
         "\xe0\xff",
         true},
        {"make-up runs stop at the line end",
         {0, false, false, 100},
         "000000011111 000000011111 000000011111 000000011111 00110101",
         rows(12, '\xff') + "\xf0",
         true},
        // Vertical-left 3 from the row above, again and again: the third
        // one would start before the row.
        {"vertical-left moves stay inside the row",
         {-1, false, false, 8},
         "0000010 1 0000010 1 0000010 1" + kEofb,
         std::string("\xf8\xc0\x00", 3),
         true},
        {"the end of the data inside a row closes it", {0, false, false, 8}, "1100", "\xf8", true},
        {"no data, no rows", {0, false, false, 8}, "", "", false},
    };
    for (const Case& c : cases) {
        ErrorCapture errors;
        EXPECT_EQ(decodeFax(bits(c.bits), c.params), c.expected) << c.name;
        EXPECT_EQ(!errors.empty(), c.reports) << c.name;
    }
}

TEST(FaxDecoderTest, HugeColumnsCostOnlyWhatTheDataHolds) {
    // The largest row: 2^31 - 3 pixels, 2^28 bytes.
    constexpr int kColumns = 0x7ffffffd;
    constexpr size_t kRowBytes = (size_t(kColumns) + 7) / 8;
    const auto scan = [](DataStream* s, size_t* total, uint8_t* first, uint8_t* last, bool* uniform) {
        std::vector<uint8_t> buffer(1 << 20);
        *total = 0;
        *uniform = true;
        s->reset();
        for (int n; (n = s->getBlock(buffer.data(), int(buffer.size()))) > 0;) {
            if (*total == 0)
                *first = buffer[0];
            for (int i = *total == 0 ? 1 : 0; i < n - 1; ++i)
                *uniform &= buffer[size_t(i)] == buffer[1];
            *last = buffer[size_t(n) - 1];
            *total += size_t(n);
        }
    };
    size_t total;
    uint8_t first = 0, last = 0;
    bool uniform;
    // White 2 and then the end of the data: the row ends black, at once.
    ErrorCapture errors;
    scan(faxStream(bits("0111"), {0, false, false, kColumns}).get(), &total, &first, &last, &uniform);
    EXPECT_EQ(total, kRowBytes);
    EXPECT_EQ(first, 0xc0);
    EXPECT_TRUE(uniform);
    // Make-up codes that add up past 2^31: the run stops at the line end.
    std::string longRun;
    for (int i = 0; i < 900000; ++i)
        longRun += "000000011111";
    scan(faxStream(bits(longRun + "00110101"), {0, false, false, kColumns}).get(), &total, &first, &last,
         &uniform);
    EXPECT_EQ(total, kRowBytes);
    EXPECT_EQ(first, 0xff);
    EXPECT_TRUE(uniform);
    EXPECT_EQ(last, 0xf8);
}

TEST(FaxDecoderTest, MixedRowsRecoverAfterADamagedRow) {
    const test::TiffImage image = faxPicture(1728, 90, 5);
    test::TiffCodec codec;
    codec.compression = COMPRESSION_CCITTFAX3;
    codec.group3Options = GROUP3OPT_2DENCODING;
    const test::TiffStrips strips = test::writeTiffStrips(image, codec, image.height);
    ASSERT_EQ(strips.raw.size(), 1u);
    std::string data = strips.raw[0];
    // Junk in the middle of one row, away from its end-of-line codes (so
    // that no row boundary is lost): the widest stretch between two codes
    // after the first third.
    std::vector<size_t> eols;
    for (size_t bit = 0, zeros = 0; bit < data.size() * 8; ++bit) {
        const bool one = (uint8_t(data[bit / 8]) >> (7 - bit % 8)) & 1;
        if (one && zeros >= 11)
            eols.push_back(bit);
        zeros = one ? 0 : zeros + 1;
    }
    size_t from = 0, to = 0;
    for (size_t i = 1; i < eols.size(); ++i)
        if (eols[i - 1] > data.size() * 8 / 3 && eols[i] - eols[i - 1] > to - from)
            from = eols[i - 1], to = eols[i];
    ASSERT_GT(to - from, 64u);
    data[(from + to) / 16] = char(0xff);
    data[(from + to) / 16 + 1] = char(0xff);
    ErrorCapture errors;
    const std::string decoded = withoutPadBits(decodeFax(data, {4, true, false, 1728, 0, true, true}), 1728);
    EXPECT_FALSE(errors.empty());
    const std::string expected = test::bytesOf(image.pixels);
    ASSERT_EQ(decoded.size(), expected.size());
    // No row is lost (a damaged row followed by its end-of-line code is in
    // step), and only rows near the damage differ.
    const size_t half = expected.size() / 2;
    EXPECT_EQ(decoded.substr(0, 216 * 20), expected.substr(0, 216 * 20));
    EXPECT_EQ(decoded.substr(half), expected.substr(half));
}

TEST(FaxDecoderTest, AnyDataGivesWholeRowsAndRereadsAlike) {
    std::mt19937 random(3);
    const int columnChoices[] = {1, 7, 8, 33, 1728};
    for (int round = 0; round < 400; ++round) {
        std::string data(size_t(random() % 200), '\0');
        for (char& c : data)
            c = char(random() % 4 ? random() : 0);
        FaxParams p;
        p.k = int(random() % 5) - 2;
        p.endOfLine = random() % 2;
        p.byteAlign = random() % 2;
        p.columns = columnChoices[random() % 5];
        p.rows = int(random() % 4);
        p.endOfBlock = random() % 2;
        p.blackIs1 = random() % 2;
        ErrorCapture errors;
        RefPtr<DataStream> s = faxStream(data, p);
        const std::string first = readAll(s.get());
        EXPECT_EQ(first.size() % ((size_t(p.columns) + 7) / 8), 0u) << round;
        bool agreed = false;
        EXPECT_EQ(test::readAllPeeking(s.get(), &agreed), first) << round;
        EXPECT_TRUE(agreed);
    }
}

TEST(FaxDecoderTest, TheSourceIsLeftRightAfterTheData) {
    // Three white rows of vertical-0 codes, no end of block, then the end
    // marker of an inline image: looking for an end-of-line code after the
    // last row must leave it in place.
    RefPtr<DataStream> source = memoryStream(bits("1 1 1 00000") + "\nEI");
    RefPtr<DataStream> s =
        RefPtr<DataStream>::adopt(new FaxDecoder(source, -1, false, false, 8, 0, true, false));
    s->reset();
    uint8_t rows[3];
    ASSERT_EQ(s->getBlock(rows, 3), 3);
    EXPECT_EQ(source->getChar(), '\n');
    EXPECT_EQ(source->getChar(), 'E');
}

TEST(FaxDecoderTest, PrintFilterLeavesOutDefaults) {
    RefPtr<DataStream> plain = faxStream("", {});
    std::unique_ptr<DynString> text = plain->getPrintFilter(2, " ");
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->getCString(), " << /Columns 1728 >> /CCITTFaxDecode filter\n");
    EXPECT_FALSE(plain->getPrintFilter(1, ""));
}

}  // namespace
}  // namespace rendova
