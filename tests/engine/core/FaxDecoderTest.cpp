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
    return RefPtr<DataStream>::adopt(
        new FaxDecoder(memoryStream(data), p.k, p.endOfLine, p.byteAlign, p.columns, p.rows, p.endOfBlock, p.blackIs1));
}

std::string decodeFax(const std::string& data, const FaxParams& p) { return readAll(faxStream(data, p).get()); }

// Bytes from a text of 0 and 1 (spaces ignored), the last byte padded with 0.
std::string bits(const std::string& text) {
    std::string out;
    int count = 0;
    unsigned byte = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        byte = (byte << 1) | unsigned(c == '1');
        if (++count == 8) {
            out.push_back(char(byte));
            count = 0;
            byte = 0;
        }
    }
    if (count) out.push_back(char(byte << (8 - count)));
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
                    for (int i = std::min(x, to); i < std::max(x, to); ++i) row[size_t(i)] = above[size_t(x)];
                }
            }
        } else {
            uint8_t colour = uint8_t(random() % 2);
            for (int x = 0; x < width;) {
                const int scale = int(random() % 4);
                const int run = 1 + int(random() % (scale == 0 ? 3000 : scale == 1 ? 200 : scale == 2 ? 20 : 3));
                for (int i = 0; i < run && x < width; ++i) row[size_t(x++)] = colour;
                colour ^= 1;
            }
        }
        for (int x = 0; x < width; ++x)
            if (row[size_t(x)]) image.pixels[size_t(y) * rowBytes + size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
        above = row;
    }
    return image;
}

// The rows with the pad bits after the last pixel cleared: BlackIs1
// inverts whole bytes, pad bits too.
std::string withoutPadBits(std::string rows, int width) {
    const size_t rowBytes = (size_t(width) + 7) / 8;
    const uint8_t mask = uint8_t(0xff << ((8 - width % 8) % 8));
    for (size_t i = rowBytes - 1; i < rows.size(); i += rowBytes) rows[i] = char(rows[i] & mask);
    return rows;
}

std::string reversedBits(std::string data) {
    for (char& c : data) {
        unsigned v = uint8_t(c), r = 0;
        for (int i = 0; i < 8; ++i) r |= ((v >> i) & 1) << (7 - i);
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
        {"g3:2d fill", COMPRESSION_CCITTFAX3, GROUP3OPT_2DENCODING | GROUP3OPT_FILLBITS, false, {2, false, true}},
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
            EXPECT_TRUE(errors.empty()) << c.name << ", width " << width << ": " << errors.reports()[0].message;
            // The same through getBlock, and with a known row count ending
            // the data without an end-of-block sequence.
            p.rows = image.height;
            p.endOfBlock = false;
            bool full = false;
            EXPECT_EQ(withoutPadBits(test::readAllInBlocks(faxStream(data, p).get(), {1, 3, 1000, 77}, &full), width),
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
                       test::shellQuote(ps)).first != 0) {
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
        if (pbm[at] == '#') at = pbm.find('\n', at);
        else if (std::isspace(uint8_t(pbm[at]))) ++at;
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
                                 test::shellQuote(ps)).first, 0);
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

}  // namespace
}  // namespace rendova
