#include <gtest/gtest.h>

#include <string>

#include "engine/core/RunLengthDecoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/engine/core/TiffStrips.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

std::string decodeRunLength(const std::string& input) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(new RunLengthDecoder(memoryStream(input)));
    return readAll(s.get());
}

TEST(RunLengthDecoderTest, LiteralAndRepeatRuns) {
    ErrorCapture errors;
    EXPECT_EQ(decodeRunLength(std::string("\x02"
                                          "abc"
                                          "\xfd"
                                          "x"
                                          "\x80",
                                          7)),
              "abcxxxx");
    // The longest runs: 128 literal bytes, 128 repeats.
    std::string literal(128, 'q');
    EXPECT_EQ(decodeRunLength("\x7f" + literal +
                              "\x81"
                              "z"),
              literal + std::string(128, 'z'));
    EXPECT_TRUE(errors.empty());
}

TEST(RunLengthDecoderTest, EndMarkerEndsTheDataEvenWhenMoreFollows) {
    EXPECT_EQ(decodeRunLength(std::string("\x00"
                                          "a"
                                          "\x80"
                                          "\x00"
                                          "b",
                                          5)),
              "a");
}

TEST(RunLengthDecoderTest, DataWithoutEndMarkerEndsAtTheSourceEnd) {
    ErrorCapture errors;
    EXPECT_EQ(decodeRunLength(std::string("\x01"
                                          "ab",
                                          3)),
              "ab");
    EXPECT_TRUE(errors.empty());
}

TEST(RunLengthDecoderTest, TruncatedRunsDeliverWhatTheyHaveAndReport) {
    ErrorCapture errors;
    EXPECT_EQ(decodeRunLength(std::string("\x00"
                                          "a"
                                          "\x05"
                                          "bcd",
                                          6)),
              "abcd");
    EXPECT_EQ(errors.count(), 1u);
    errors.clear();
    EXPECT_EQ(decodeRunLength(std::string("\x00"
                                          "a"
                                          "\xf0",
                                          3)),
              "a");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(RunLengthDecoderTest, PackBitsStripsOfARealEncoder) {
    // PackBits rows of an image with runs, literal stretches and rows that
    // mix both, compressed by libtiff.
    test::TiffImage image;
    image.width = 300;
    image.height = 40;
    image.samplesPerPixel = 1;
    image.bitsPerSample = 8;
    image.pixels.resize(size_t(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            uint8_t v = (x / (1 + y % 7)) % 3 == 0 ? uint8_t(x * 31 + y) : uint8_t(y * 3);
            image.pixels[size_t(y) * image.width + x] = v;
        }
    }
    const test::TiffStrips strips = test::writeTiffStrips(image, test::TiffStrips::kPackBits, false, 8);
    ASSERT_FALSE(strips.raw.empty());
    std::string decoded;
    for (const std::string& strip : strips.raw)
        decoded += decodeRunLength(strip);
    EXPECT_EQ(decoded, test::bytesOf(image.pixels));
}

}  // namespace
}  // namespace rendova
