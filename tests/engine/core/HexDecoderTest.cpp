#include <gtest/gtest.h>

#include <string>

#include "engine/core/HexDecoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

std::string decodeHex(const std::string& input) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(new HexDecoder(memoryStream(input)));
    return readAll(s.get());
}

TEST(HexDecoderTest, DigitsOfEitherCaseAndWhiteSpace) {
    ErrorCapture errors;
    EXPECT_EQ(decodeHex("48656c6C6F>"), "Hello");
    EXPECT_EQ(decodeHex(" 4 8\n6\t5\r\f6c>"), "Hel");
    EXPECT_EQ(decodeHex("00ff7F>"), std::string("\x00\xff\x7f", 3));
    EXPECT_EQ(decodeHex(">"), "");
    EXPECT_EQ(decodeHex(""), "");
    EXPECT_TRUE(errors.empty());
}

TEST(HexDecoderTest, OddLastDigitIsTheHighHalfOfAByte) {
    ErrorCapture errors;
    // Before the end marker, and at the end of the data without one.
    EXPECT_EQ(decodeHex("41424>"), "AB@");
    EXPECT_EQ(decodeHex("41424"), "AB@");
    EXPECT_EQ(decodeHex("414 2 4 \n"), "AB@");
    EXPECT_TRUE(errors.empty());
}

TEST(HexDecoderTest, EndMarkerStopsReading) {
    EXPECT_EQ(decodeHex("41>42"), "A");
}

TEST(HexDecoderTest, BadDigitsAreReportedAndCountAsZero) {
    ErrorCapture errors;
    // A bad first digit counts as 0; a bad second digit leaves the byte at
    // its high digit.
    EXPECT_EQ(decodeHex("g1>"), "\x01");
    EXPECT_EQ(decodeHex("4x42>"), "@B");
    EXPECT_EQ(errors.count(), 2u);
}

TEST(HexDecoderTest, ResetRereadsAndPeekAgreesWithGet) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(new HexDecoder(memoryStream("616263")));
    EXPECT_EQ(readAll(s.get()), "abc");
    bool agreed = false;
    EXPECT_EQ(test::readAllPeeking(s.get(), &agreed), "abc");
    EXPECT_TRUE(agreed);
    EXPECT_EQ(s->getKind(), DataStream::kHexKind);
}

}  // namespace
}  // namespace rendova
