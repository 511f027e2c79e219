#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <random>
#include <string>
#include <vector>

#include "engine/core/RowPredictor.h"
#include "tests/engine/core/StreamTestHelpers.h"

namespace rendova {
namespace {

using test::RawBytesStream;

// Reads count bytes through a predictor over the raw bytes, then checks
// that the data ends there.
std::string predict(const std::string& raw, int predictor, int width, int colors, int bits, size_t count,
                    bool* endsThere = nullptr) {
    RawBytesStream stream(raw);
    RowPredictor p(&stream, predictor, width, colors, bits);
    EXPECT_TRUE(p.isValid());
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        const int c = p.getChar();
        if (c == -1)
            break;
        out.push_back(static_cast<char>(c));
    }
    if (endsThere)
        *endsThere = p.peekChar() == -1 && p.getChar() == -1;
    return out;
}

// --- PNG prediction made by libpng ---

void appendPng(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

// libpng's error exit stays inside this function: nothing in its frame
// needs unwinding.
bool writePng(std::string* out, const uint8_t* pixels, int width, int height, int bitDepth, int colorType,
              int filters, size_t rowBytes) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, appendPng, nullptr);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    png_write_info(png, info);
    for (int y = 0; y < height; ++y)
        png_write_row(png, const_cast<png_bytep>(pixels + size_t(y) * rowBytes));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The filtered rows (a tag byte and the row each) that libpng wrote: its
// image data chunks, inflated.
std::string pngFilteredRows(const std::string& file, size_t expected) {
    std::string compressed;
    for (size_t pos = 8; pos + 12 <= file.size();) {
        const auto byte = [&](size_t i) { return uint32_t(static_cast<unsigned char>(file[i])); };
        const uint32_t length =
            (byte(pos) << 24) | (byte(pos + 1) << 16) | (byte(pos + 2) << 8) | byte(pos + 3);
        if (file.compare(pos + 4, 4, "IDAT") == 0)
            compressed.append(file, pos + 8, length);
        pos += 12 + length;
    }
    std::string rows(expected, '\0');
    uLongf size = uLongf(expected);
    if (uncompress(reinterpret_cast<Bytef*>(rows.data()), &size,
                   reinterpret_cast<const Bytef*>(compressed.data()), uLong(compressed.size())) != Z_OK ||
        size != expected) {
        return {};
    }
    return rows;
}

struct PngFormat {
    int colorType;
    int channels;
    int bitDepth;
};

TEST(RowPredictorTest, DecodesPngRowsOfEveryFilterAndDepth) {
    const PngFormat formats[] = {
        {PNG_COLOR_TYPE_GRAY, 1, 1},        {PNG_COLOR_TYPE_GRAY, 1, 2},
        {PNG_COLOR_TYPE_GRAY, 1, 4},        {PNG_COLOR_TYPE_GRAY, 1, 8},
        {PNG_COLOR_TYPE_GRAY, 1, 16},       {PNG_COLOR_TYPE_GRAY_ALPHA, 2, 8},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 2, 16}, {PNG_COLOR_TYPE_RGB, 3, 8},
        {PNG_COLOR_TYPE_RGB, 3, 16},        {PNG_COLOR_TYPE_RGB_ALPHA, 4, 8},
        {PNG_COLOR_TYPE_RGB_ALPHA, 4, 16},
    };
    const struct {
        int flags;
        int tag;  // the tag every row after the first must carry; -1 for mixed
    } filters[] = {{PNG_FILTER_NONE, 0}, {PNG_FILTER_SUB, 1},   {PNG_FILTER_UP, 2},
                   {PNG_FILTER_AVG, 3},  {PNG_FILTER_PAETH, 4}, {PNG_ALL_FILTERS, -1}};
    const int width = 13;
    const int height = 9;
    std::mt19937 random(11);
    for (const PngFormat& format : formats) {
        const size_t rowBytes = (size_t(width) * format.channels * format.bitDepth + 7) / 8;
        std::vector<uint8_t> pixels(rowBytes * height);
        // Gradients with noise, so that every predictor has something to do.
        for (size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = uint8_t((i % rowBytes) * 9 + (i / rowBytes) * 17 + (random() % 5));
        }
        for (const auto& filter : filters) {
            std::string file;
            ASSERT_TRUE(writePng(&file, pixels.data(), width, height, format.bitDepth, format.colorType,
                                 filter.flags, rowBytes));
            const std::string raw = pngFilteredRows(file, (rowBytes + 1) * height);
            ASSERT_EQ(raw.size(), (rowBytes + 1) * height);
            if (filter.tag >= 0) {
                for (int y = 1; y < height; ++y)
                    ASSERT_EQ(raw[y * (rowBytes + 1)], filter.tag);
            }
            bool endsThere = false;
            EXPECT_EQ(
                predict(raw, 15, width, format.channels, format.bitDepth, rowBytes * height, &endsThere),
                test::bytesOf(pixels))
                << "colour type " << format.colorType << ", " << format.bitDepth << " bits, filter "
                << filter.flags;
            EXPECT_TRUE(endsThere);
        }
    }
}

TEST(RowPredictorTest, EveryPngPredictorValueFollowsTheRowTags) {
    // Rows: None, Sub, Up of 3 bytes.
    const std::string raw(
        "\x00\x01\x02\x03"
        "\x01\x05\x01\x01"
        "\x02\x01\x01\x01",
        12);
    const std::string expected(
        "\x01\x02\x03"
        "\x05\x06\x07"
        "\x06\x07\x08",
        9);
    for (int predictor = 10; predictor <= 15; ++predictor) {
        EXPECT_EQ(predict(raw, predictor, 3, 1, 8, 100), expected) << predictor;
    }
}

TEST(RowPredictorTest, UnknownTagsCopyTheRow) {
    const std::string raw(
        "\x00\x09\x08"
        "\x05\x01\x02"
        "\xff\x03\x04",
        9);
    EXPECT_EQ(predict(raw, 15, 2, 1, 8, 100), std::string("\x09\x08\x01\x02\x03\x04", 6));
}

TEST(RowPredictorTest, PaethTiesPreferLeftThenUp) {
    // Row 1 (None): 10 0. Row 2 (Paeth), byte 1: left 15, up 0, upper left
    // 10 gives pb = pc < pa: up is chosen.
    EXPECT_EQ(predict(std::string("\x00\x0a\x00"
                                  "\x04\x05\x07",
                                  6),
                      15, 2, 1, 8, 100),
              std::string("\x0a\x00\x0f\x07", 4));
    // Row 1: 10 15. Row 2, byte 1: left 0, up 15, upper left 10 gives
    // pa = pc < pb: left is chosen.
    EXPECT_EQ(predict(std::string("\x00\x0a\x0f"
                                  "\x04\xf6\x03",
                                  6),
                      15, 2, 1, 8, 100),
              std::string("\x0a\x0f\x00\x03", 4));
}

TEST(RowPredictorTest, FirstRowSeesZerosAboveAndToTheLeft) {
    // Up, Average and Paeth on the first row: the row above is zero.
    EXPECT_EQ(predict(std::string("\x02\x07\x08", 3), 15, 2, 1, 8, 100), std::string("\x07\x08", 2));
    EXPECT_EQ(predict(std::string("\x03\x08\x08", 3), 15, 2, 1, 8, 100), std::string("\x08\x0c", 2));
    EXPECT_EQ(predict(std::string("\x04\x07\x01", 3), 15, 2, 1, 8, 100), std::string("\x07\x08", 2));
}

TEST(RowPredictorTest, ShortLastRowIsDeliveredInFullLength) {
    // The second row stops after one byte: its other bytes stay those of the
    // row above.
    bool endsThere = false;
    EXPECT_EQ(predict(std::string("\x00\x01\x02\x03"
                                  "\x00\x09",
                                  6),
                      15, 3, 1, 8, 100, &endsThere),
              std::string("\x01\x02\x03\x09\x02\x03", 6));
    EXPECT_TRUE(endsThere);
    // A tag with no byte after it ends the data.
    EXPECT_EQ(predict(std::string("\x00\x01\x00", 3), 15, 1, 1, 8, 100), std::string("\x01", 1));
}

TEST(RowPredictorTest, TiffEightBitRows) {
    EXPECT_EQ(predict(std::string("\x0a\x14\x1e\x01\x01\x01", 6), 2, 2, 3, 8, 100),
              std::string("\x0a\x14\x1e\x0b\x15\x1f", 6));
    // Sums wrap at 256; each row starts again from zero on the left.
    EXPECT_EQ(predict(std::string("\xff\x02\x05\x01", 4), 2, 2, 1, 8, 100),
              std::string("\xff\x01\x05\x06", 4));
}

// TIFF horizontal differencing of samples of any width, packed most
// significant bit first: the reference the decoder must undo.
std::string tiffDifference(const std::vector<uint32_t>& samples, int width, int colors, int bits, int height,
                           uint8_t padding) {
    const size_t rowBits = size_t(width) * colors * bits;
    const size_t rowBytes = (rowBits + 7) / 8;
    std::string out;
    const uint32_t mask = (1u << bits) - 1;
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (int s = 0; s < width * colors; ++s) {
            const uint32_t v = samples[size_t(y) * width * colors + s];
            const uint32_t left = s >= colors ? samples[size_t(y) * width * colors + s - colors] : 0;
            const uint32_t d = (v - left) & mask;
            for (int b = 0; b < bits; ++b) {
                const size_t bit = size_t(s) * bits + b;
                if ((d >> (bits - 1 - b)) & 1)
                    row[bit / 8] |= uint8_t(0x80 >> (bit % 8));
            }
        }
        // Unused low bits of the last byte carry a pattern that must
        // survive.
        if (rowBits % 8)
            row[rowBytes - 1] |= uint8_t(padding & ((1u << (8 - rowBits % 8)) - 1));
        out.append(row.begin(), row.end());
    }
    return out;
}

std::string packSamples(const std::vector<uint32_t>& samples, int width, int colors, int bits, int height,
                        uint8_t padding) {
    // Packing is differencing against zero neighbours: reuse the reference
    // with a left neighbour of 0 by packing sample by sample.
    const size_t rowBits = size_t(width) * colors * bits;
    const size_t rowBytes = (rowBits + 7) / 8;
    std::string out;
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (int s = 0; s < width * colors; ++s) {
            const uint32_t v = samples[size_t(y) * width * colors + s];
            for (int b = 0; b < bits; ++b) {
                const size_t bit = size_t(s) * bits + b;
                if ((v >> (bits - 1 - b)) & 1)
                    row[bit / 8] |= uint8_t(0x80 >> (bit % 8));
            }
        }
        if (rowBits % 8)
            row[rowBytes - 1] |= uint8_t(padding & ((1u << (8 - rowBits % 8)) - 1));
        out.append(row.begin(), row.end());
    }
    return out;
}

TEST(RowPredictorTest, TiffRowsOfEverySampleWidth) {
    std::mt19937 random(12);
    for (int bits : {1, 2, 4, 16}) {
        for (int colors : {1, 3}) {
            for (int width : {1, 5, 11}) {
                const int height = 4;
                std::vector<uint32_t> samples(size_t(width) * colors * height);
                for (auto& s : samples)
                    s = random() & ((1u << bits) - 1);
                const std::string coded = tiffDifference(samples, width, colors, bits, height, 0xff);
                const std::string expected = packSamples(samples, width, colors, bits, height, 0xff);
                EXPECT_EQ(predict(coded, 2, width, colors, bits, expected.size()), expected)
                    << bits << " bits, " << colors << " colours, width " << width;
            }
        }
    }
}

TEST(RowPredictorTest, OtherPredictorValuesPassRowsThrough) {
    EXPECT_EQ(predict("abcdef", 3, 2, 1, 8, 100), "abcdef");
    EXPECT_EQ(predict("abcdef", 9, 3, 1, 8, 100), "abcdef");
}

TEST(RowPredictorTest, SizesOutOfRangeAreNotValid) {
    RawBytesStream stream("");
    EXPECT_FALSE(RowPredictor(&stream, 2, 1, 33, 8).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 2, 1, 1, 17).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 2, 0, 1, 8).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 2, -5, 1, 8).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 2, 0x7fffffff, 1, 8).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 15, 0x10000000, 1, 16).isValid());
    EXPECT_FALSE(RowPredictor(&stream, 15, 0x40000000, 2, 1).isValid());
    EXPECT_TRUE(RowPredictor(&stream, 15, 1000, 32, 16).isValid());
}

TEST(RowPredictorTest, ResetStartsAgainFromAZeroRow) {
    RawBytesStream stream(std::string("\x02\x01\x01\x02\x01\x01", 6));
    RowPredictor p(&stream, 15, 2, 1, 8);
    std::string first;
    for (int c; (c = p.getChar()) != -1;)
        first.push_back(static_cast<char>(c));
    EXPECT_EQ(first, std::string("\x01\x01\x02\x02", 4));
    stream.reset();
    p.reset();
    std::string second;
    for (int c; (c = p.getChar()) != -1;)
        second.push_back(static_cast<char>(c));
    EXPECT_EQ(second, first);
}

}  // namespace
}  // namespace rendova
