#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

#include "engine/core/LzwDecoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/engine/core/TiffStrips.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

// An LZW encoder for the cases libtiff cannot make (EarlyChange 0, no clear
// codes, clears at chosen places). Code widths follow the decoder's rule:
// after each code that defines a table entry, the width grows when the next
// code plus the early change reaches 512, 1024 or 2048.
struct LzwOptions {
    int earlyChange = 1;
    bool initialClear = true;
    // A clear code after this many codes (0: only when the table is full).
    int clearEvery = 0;
    // Without clears the encoder stops defining entries when the table is
    // full (as no encoder should): a stream that overflows the decoder.
    bool clearWhenFull = true;
};

class LzwWriter {
public:
    explicit LzwWriter(const LzwOptions& options) : m_options(options) {}

    std::string encode(const std::string& data) {
        if (m_options.initialClear)
            emit(256);
        restart();
        int prefix = -1;
        for (unsigned char c : data) {
            if (prefix < 0) {
                prefix = c;
                continue;
            }
            auto found = m_dict.find(prefix * 256 + c);
            if (found != m_dict.end()) {
                prefix = found->second;
                continue;
            }
            emitString(prefix);
            if (m_encNext < 4096)
                m_dict[prefix * 256 + c] = m_encNext++;
            if ((m_options.clearWhenFull && m_encNext == 4096) ||
                (m_options.clearEvery && m_codesSinceClear >= m_options.clearEvery)) {
                emit(256);
                restart();
            }
            prefix = c;
        }
        if (prefix >= 0)
            emitString(prefix);
        emit(257);
        if (m_count)
            m_out.push_back(static_cast<char>((m_bits << (8 - m_count)) & 0xff));
        return m_out;
    }

private:
    void restart() {
        m_dict.clear();
        m_encNext = 258;
        m_decNext = 258;
        m_width = 9;
        m_first = true;
        m_codesSinceClear = 0;
    }
    void emitString(int code) {
        emit(code);
        ++m_codesSinceClear;
        // The decoder defines an entry for every code but the first after a
        // clear, and widens after it.
        if (m_first) {
            m_first = false;
            return;
        }
        ++m_decNext;
        const int widen = m_decNext + m_options.earlyChange;
        if (widen == 512)
            m_width = 10;
        else if (widen == 1024)
            m_width = 11;
        else if (widen == 2048)
            m_width = 12;
    }
    void emit(int code) {
        m_bits = (m_bits << m_width) | uint64_t(code);
        m_count += m_width;
        while (m_count >= 8) {
            m_count -= 8;
            m_out.push_back(static_cast<char>((m_bits >> m_count) & 0xff));
        }
        m_bits &= (uint64_t(1) << m_count) - 1;
    }

    LzwOptions m_options;
    std::map<int, int> m_dict;
    int m_encNext = 258;
    int m_decNext = 258;
    int m_width = 9;
    bool m_first = true;
    int m_codesSinceClear = 0;
    uint64_t m_bits = 0;
    int m_count = 0;
    std::string m_out;
};

std::string lzwEncode(const std::string& data, const LzwOptions& options = {}) {
    return LzwWriter(options).encode(data);
}

std::string decodeLzw(const std::string& input, int earlyChange = 1, int predictor = 1, int columns = 1,
                      int colors = 1, int bits = 8) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(
        new LzwDecoder(memoryStream(input), predictor, columns, colors, bits, earlyChange));
    return readAll(s.get());
}

// Text-like data with long repeats: fills the table many times over and
// reaches every code width.
std::string sampleData(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    const char* words[] = {"stream", "endstream", "obj", " ", "\n", "0 0 1 rg ", "BT /F1 12 Tf ", "aaaaaaa"};
    std::string s;
    while (s.size() < size) {
        if (random() % 5 == 0)
            s.push_back(static_cast<char>(random()));
        else
            s += words[random() % 8];
    }
    s.resize(size);
    return s;
}

TEST(LzwDecoderTest, RoundTripsAtBothEarlyChanges) {
    ErrorCapture errors;
    const std::string data = sampleData(60000, 1);
    for (int early : {0, 1}) {
        LzwOptions options;
        options.earlyChange = early;
        EXPECT_EQ(decodeLzw(lzwEncode(data, options), early), data) << "EarlyChange " << early;
    }
    EXPECT_TRUE(errors.empty());
}

TEST(LzwDecoderTest, EarlyChangeZeroWidensOneCodeLater) {
    // Random bytes define one entry per code: the widths part after about
    // 250 codes. Read with the other early change, the data goes wrong from
    // there on.
    std::string data;
    std::mt19937 random(3);
    for (int i = 0; i < 2000; ++i)
        data.push_back(static_cast<char>(random()));
    LzwOptions late;
    late.earlyChange = 0;
    ErrorCapture errors;
    const std::string encoded = lzwEncode(data, late);
    EXPECT_EQ(decodeLzw(encoded, 0), data);
    const std::string misread = decodeLzw(encoded, 1);
    EXPECT_NE(misread.substr(0, 1000), data.substr(0, 1000));
    EXPECT_EQ(misread.substr(0, 200), data.substr(0, 200));
}

TEST(LzwDecoderTest, DataWithoutAnInitialClearCode) {
    LzwOptions options;
    options.initialClear = false;
    const std::string data = sampleData(5000, 2);
    EXPECT_EQ(decodeLzw(lzwEncode(data, options)), data);
}

TEST(LzwDecoderTest, ClearCodeInTheMiddleReturnsToNineBits) {
    // Clears after 700 codes: the widths have reached 10 bits by then.
    LzwOptions options;
    options.clearEvery = 700;
    const std::string data = sampleData(40000, 4);
    EXPECT_EQ(decodeLzw(lzwEncode(data, options)), data);
}

TEST(LzwDecoderTest, TableOverflowIsReportedAndDecodingGoesOn) {
    LzwOptions options;
    options.clearWhenFull = false;
    const std::string data = sampleData(200000, 5);
    ErrorCapture errors;
    const std::string out = decodeLzw(lzwEncode(data, options));
    EXPECT_GE(errors.count(), 1u);
    // Everything before the overflow is right.
    ASSERT_GT(out.size(), 10000u);
    EXPECT_EQ(out, data.substr(0, out.size()));
}

TEST(LzwDecoderTest, CodeBeyondTheTableEndsTheDataAfterAReport) {
    ErrorCapture errors;
    // Codes 256, 'A', 'B', then 400 with only 259 defined.
    LzwOptions options;
    std::string packed;
    {
        uint32_t bits = 0;
        int count = 0;
        for (int code : {256, 65, 66, 400, 67, 257}) {
            bits = (bits << 9) | uint32_t(code);
            count += 9;
            while (count >= 8) {
                count -= 8;
                packed.push_back(static_cast<char>((bits >> count) & 0xff));
            }
        }
        packed.push_back(static_cast<char>((bits << (8 - count)) & 0xff));
    }
    EXPECT_EQ(decodeLzw(packed), "AB");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(LzwDecoderTest, TruncatedDataDeliversWhatWasDecoded) {
    const std::string data = sampleData(3000, 6);
    const std::string encoded = lzwEncode(data);
    ErrorCapture errors;
    const std::string out = decodeLzw(encoded.substr(0, encoded.size() / 2));
    ASSERT_GT(out.size(), 100u);
    EXPECT_EQ(out, data.substr(0, out.size()));
    EXPECT_TRUE(errors.empty());
}

TEST(LzwDecoderTest, StripsOfARealEncoder) {
    // libtiff's LZW: clear codes when the table fills, EarlyChange 1.
    test::TiffImage image;
    image.width = 257;
    image.height = 60;
    image.pixels.resize(image.rowBytes() * image.height);
    std::mt19937 random(8);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = (i / 37) % 3 ? uint8_t(i / 300) : uint8_t(random());
    }
    const test::TiffStrips strips = test::writeTiffStrips(image, test::TiffStrips::kLzw, false, 20);
    ASSERT_EQ(strips.raw.size(), 3u);
    std::string decoded;
    for (const std::string& strip : strips.raw)
        decoded += decodeLzw(strip);
    EXPECT_EQ(decoded, test::bytesOf(image.pixels));
}

TEST(LzwDecoderTest, TiffPredictedStripsOfARealEncoder) {
    struct Case {
        int samples;
        int bits;
    };
    for (Case c : {Case{3, 8}, Case{1, 8}, Case{1, 16}, Case{3, 16}, Case{4, 8}}) {
        test::TiffImage image;
        image.width = 45;
        image.height = 24;
        image.samplesPerPixel = c.samples;
        image.bitsPerSample = c.bits;
        image.pixels.resize(image.rowBytes() * image.height);
        // Smooth gradients, as prediction is meant for, with some noise.
        std::mt19937 random(9);
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            image.pixels[i] = uint8_t(i * 3 + (i / image.rowBytes()) * 5 + (random() % 4));
        }
        const test::TiffStrips strips = test::writeTiffStrips(image, test::TiffStrips::kLzw, true, 8);
        ASSERT_EQ(strips.raw.size(), 3u);
        std::string decoded;
        for (const std::string& strip : strips.raw) {
            decoded += decodeLzw(strip, 1, 2, image.width, c.samples, c.bits);
        }
        EXPECT_EQ(decoded, test::bytesOf(image.pixels)) << c.samples << " samples of " << c.bits << " bits";
    }
}

TEST(LzwDecoderTest, ResetAlsoResetsThePredictor) {
    // PNG Up rows of 4 bytes: every row adds 1 to the row above. A second
    // reading must start again from a zero row above.
    std::string rows;
    for (int r = 0; r < 5; ++r)
        rows += std::string("\x02\x01\x01\x01\x01", 5);
    RefPtr<DataStream> s =
        RefPtr<DataStream>::adopt(new LzwDecoder(memoryStream(lzwEncode(rows)), 12, 4, 1, 8, 1));
    const std::string first = readAll(s.get());
    EXPECT_EQ(
        first,
        std::string("\x01\x01\x01\x01\x02\x02\x02\x02\x03\x03\x03\x03\x04\x04\x04\x04\x05\x05\x05\x05", 20));
    EXPECT_EQ(readAll(s.get()), first);
    bool agreed = false;
    EXPECT_EQ(test::readAllPeeking(s.get(), &agreed), first);
    EXPECT_TRUE(agreed);
}

TEST(LzwDecoderTest, BlocksReadWhatGetCharReads) {
    const std::string data = sampleData(60000, 3);
    std::string rows;
    for (int r = 0; r < 900; ++r)
        rows += std::string("\x02\x01\x03\x01\x07", 5);
    std::string expectedRows;
    for (int r = 1; r <= 900; ++r) {
        const char row[4] = {char(r), char(3 * r), char(r), char(7 * r)};
        expectedRows.append(row, 4);
    }
    for (const std::vector<int>& sizes : {std::vector<int>{1}, {5, 4097, 2}, {100000}}) {
        bool full = false;
        RefPtr<DataStream> plain =
            RefPtr<DataStream>::adopt(new LzwDecoder(memoryStream(lzwEncode(data)), 1, 1, 1, 8, 1));
        EXPECT_EQ(test::readAllInBlocks(plain.get(), sizes, &full), data);
        EXPECT_TRUE(full);
        RefPtr<DataStream> predicted =
            RefPtr<DataStream>::adopt(new LzwDecoder(memoryStream(lzwEncode(rows)), 12, 4, 1, 8, 1));
        EXPECT_EQ(test::readAllInBlocks(predicted.get(), sizes, &full), expectedRows);
        EXPECT_TRUE(full);
    }
}

TEST(LzwDecoderTest, InvalidPredictorSizesLeaveTheBytesRaw) {
    const std::string data("\x0a\x14\x1e\x01\x01\x01", 6);
    // Colors 33 and BitsPerComponent 17 are out of range: no prediction.
    EXPECT_EQ(decodeLzw(lzwEncode(data), 1, 2, 2, 33, 8), data);
    EXPECT_EQ(decodeLzw(lzwEncode(data), 1, 2, 2, 3, 17), data);
    EXPECT_EQ(decodeLzw(lzwEncode(data), 1, 2, 2, 3, 8), std::string("\x0a\x14\x1e\x0b\x15\x1f", 6));
}

}  // namespace
}  // namespace rendova
