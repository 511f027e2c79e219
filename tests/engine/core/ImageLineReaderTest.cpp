#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "engine/core/ImageLineReader.h"
#include "tests/engine/core/StreamTestHelpers.h"

namespace rendova {
namespace {

using test::memoryStream;

std::vector<int> row(ImageLineReader& reader, int count) {
    const uint8_t* line = reader.getLine();
    if (!line)
        return {};
    return std::vector<int>(line, line + count);
}

TEST(ImageLineReaderTest, OneBitRowsUnpackWholeBytes) {
    // 3 samples per row: one byte read per row, 8 values in the buffer.
    RefPtr<DataStream> s = memoryStream("\xa0\x5f");
    ImageLineReader reader(s.get(), 3, 1, 1);
    ASSERT_TRUE(reader.isOk());
    reader.reset();
    EXPECT_EQ(row(reader, 8), (std::vector<int>{1, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(row(reader, 8), (std::vector<int>{0, 1, 0, 1, 1, 1, 1, 1}));
}

TEST(ImageLineReaderTest, SamplesRunAcrossBytesAndRowsStartOnAByte) {
    // 2-bit samples, 5 per row: 10 bits; the last 6 bits of the row's second
    // byte are dropped.
    RefPtr<DataStream> s = memoryStream(std::string("\x1b\xff\xe4\x00", 4));
    ImageLineReader reader(s.get(), 5, 1, 2);
    reader.reset();
    EXPECT_EQ(row(reader, 5), (std::vector<int>{0, 1, 2, 3, 3}));
    EXPECT_EQ(row(reader, 5), (std::vector<int>{3, 2, 1, 0, 0}));

    // 4-bit samples of 3 components, 1 pixel: a byte and a half.
    RefPtr<DataStream> t = memoryStream("\x12\x3f\x45\x6f");
    ImageLineReader nibbles(t.get(), 1, 3, 4);
    nibbles.reset();
    EXPECT_EQ(row(nibbles, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(row(nibbles, 3), (std::vector<int>{4, 5, 6}));
}

TEST(ImageLineReaderTest, EightAndSixteenBitSamples) {
    RefPtr<DataStream> s = memoryStream("\x01\x02\x03\x04\x05\x06");
    ImageLineReader bytes(s.get(), 2, 3, 8);
    bytes.reset();
    EXPECT_EQ(row(bytes, 6), (std::vector<int>{1, 2, 3, 4, 5, 6}));

    // 16-bit samples keep their high byte.
    RefPtr<DataStream> t = memoryStream("\x12\x34\xab\xcd");
    ImageLineReader wide(t.get(), 2, 1, 16);
    wide.reset();
    EXPECT_EQ(row(wide, 2), (std::vector<int>{0x12, 0xab}));

    // Odd widths above 8 bits (12): the high 8 bits of each sample.
    RefPtr<DataStream> u = memoryStream("\x12\x3a\xbc");
    ImageLineReader twelve(u.get(), 2, 1, 12);
    twelve.reset();
    EXPECT_EQ(row(twelve, 2), (std::vector<int>{0x12, 0xab}));
}

TEST(ImageLineReaderTest, DataEndingEarlyReadsAsZerosAndTellsHowManySamplesCame) {
    const struct {
        const char* data;
        int width, components, bits;
        std::vector<int> firstRow;
        // Samples read of the first three rows.
        int read[3];
    } cases[] = {
        {"\x07", 3, 1, 8, {7, 0, 0}, {1, 0, 0}},
        {"\x01\x02\x03\x04", 1, 3, 8, {1, 2, 3}, {3, 1, 0}},
        // Whole samples only: the byte holds 4 of 2 bits.
        {"\xff", 6, 1, 2, {3, 3, 3, 3, 0, 0}, {4, 0, 0}},
        {"\xab\xcd\xef", 3, 1, 4, {10, 11, 12}, {3, 2, 0}},
        {"\x80", 12, 1, 1, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {8, 0, 0}},
        // The high byte of a sample whose low byte is lost is not a sample.
        {"\x12\x34\x56", 2, 1, 16, {0x12, 0x56}, {1, 0, 0}},
    };
    for (const auto& c : cases) {
        RefPtr<DataStream> s = memoryStream(c.data);
        ImageLineReader reader(s.get(), c.width, c.components, c.bits);
        reader.reset();
        const int samples = c.width * c.components;
        EXPECT_EQ(row(reader, samples), c.firstRow) << c.bits << " bits";
        EXPECT_EQ(reader.getSamplesRead(), c.read[0]) << c.bits << " bits";
        for (int r = 1; r < 3; ++r) {
            const std::vector<int> line = row(reader, samples);
            EXPECT_EQ(reader.getSamplesRead(), c.read[r]) << c.bits << " bits, row " << r;
            if (c.read[r] == 0) {
                EXPECT_EQ(line, std::vector<int>(size_t(samples), 0)) << c.bits << " bits, row " << r;
            }
        }
    }
}

// Sample i of a row of packed samples, as a plain bit reader sees it (the
// high byte of samples wider than 8 bits); zeros past the data.
int referenceSample(const std::string& data, size_t rowStart, int64_t i, int bits) {
    uint32_t v = 0;
    for (int b = 0; b < bits; ++b) {
        const int64_t bit = i * bits + b;
        const size_t at = rowStart + size_t(bit >> 3);
        const int byte = at < data.size() ? static_cast<unsigned char>(data[at]) : 0;
        v = v << 1 | ((byte >> (7 - (bit & 7))) & 1);
    }
    return int(bits > 8 ? v >> (bits - 8) : v);
}

TEST(ImageLineReaderTest, LongRowsOfEveryDepthReadExactlyTheirBytes) {
    // Rows longer than the reader's chunks; after the last row the stream
    // is at the byte after the image, as the content after an inline image
    // needs, and data that ends inside a row reads as zeros.
    for (int bits : {1, 2, 4, 8, 12, 16}) {
        for (int width : {3000, 3001})
            for (bool shortData : {false, true}) {
                const int components = bits == 12 ? 3 : 1, rows = 3;
                const size_t rowBytes = (size_t(width) * components * bits + 7) / 8;
                std::string data;
                for (size_t i = 0; i < rowBytes * rows; ++i)
                    data.push_back(static_cast<char>(i * 131 + i / 7));
                if (shortData)
                    data.resize(rowBytes * 2 + rowBytes / 2);
                RefPtr<DataStream> s = memoryStream(shortData ? data : data + "EI");
                ImageLineReader reader(s.get(), width, components, bits);
                ASSERT_TRUE(reader.isOk());
                reader.reset();
                int mismatches = 0;
                for (int r = 0; r < rows; ++r) {
                    const uint8_t* line = reader.getLine();
                    ASSERT_TRUE(line);
                    for (int64_t i = 0; i < int64_t(width) * components; ++i)
                        mismatches += line[i] != referenceSample(data, rowBytes * size_t(r), i, bits);
                }
                EXPECT_EQ(mismatches, 0) << bits << " bits";
                EXPECT_EQ(s->getChar(), shortData ? -1 : 'E') << bits << " bits";
            }
    }
}

TEST(ImageLineReaderTest, SizesOutOfRangeMakeAnInvalidReader) {
    RefPtr<DataStream> s = memoryStream("");
    // width x components would pass 32 bits: refused before any allocation.
    for (const auto& [width, components, bits] :
         {std::tuple{0x40000000, 4, 8}, std::tuple{0x7fffffff, 32, 1}, std::tuple{0, 1, 8},
          std::tuple{-1, 1, 8}, std::tuple{4, 0, 8}, std::tuple{4, 33, 8}, std::tuple{4, 1, 0},
          std::tuple{4, 1, 17}}) {
        ImageLineReader reader(s.get(), width, components, bits);
        EXPECT_FALSE(reader.isOk()) << width << " x " << components << " x " << bits;
        EXPECT_EQ(reader.getLine(), nullptr);
    }
}

}  // namespace
}  // namespace rendova
