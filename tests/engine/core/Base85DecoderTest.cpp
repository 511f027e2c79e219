#include <gtest/gtest.h>

#include <string>

#include "engine/core/Base85Decoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

std::string decode85(const std::string& input) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(new Base85Decoder(memoryStream(input)));
    return readAll(s.get());
}

// Made with Python's base64.a85encode(data, adobe=True) (wrapped at 16
// columns for the longer inputs), with the leading "<~" removed as streams
// carry none.
const struct {
    const char* encoded;
    const char* data;
    size_t length;
} kVectors[] = {
    {"~>", "", 0},
    {"z~>", "\x00\x00\x00\x00", 4},
    {"zz!<~>", "\x00\x00\x00\x00\x00\x00\x00\x00\x01", 9},
    {"s8W-!s8W-!~>", "\xff\xff\xff\xff\xff\xff\xff\xff", 8},
    {"5l~>", "A", 1},
    {"5sb~>", "AB", 2},
    {"5sdp~>", "ABC", 3},
    {"5sdq,~>", "ABCD", 4},
    {"5sdq,70~>", "ABCDE", 5},
    {"9jqo^BlbD-BleB1DJ+*+F(f,q~>", "Man is distinguished", 20},
    {"V+o)L,quqOD%eJ\nWeg#MofcE@u+3POA\n(IXM=8N`PK1gn$P+\n9~>",
     "\xa5M\xca\x18%0\xbb\x1dm\x13,\xde\xd6#{.\xd9\x1e?r\x1f\xcb\x19q\x17"
     "D\x94\xd6I<\x9d\\4`\xbe"
     "1 ",
     37},
    {"z#64`(!!!!~>", "\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00", 11},
};

TEST(Base85DecoderTest, DecodesARealEncodersOutput) {
    ErrorCapture errors;
    for (const auto& v : kVectors) {
        EXPECT_EQ(decode85(v.encoded), std::string(v.data, v.length)) << v.encoded;
    }
    EXPECT_TRUE(errors.empty());
}

TEST(Base85DecoderTest, ShortLastGroupGivesOneByteFewerThanItsCharacters) {
    // "9jqo^" is "Man ": its first 2, 3 and 4 characters give 1, 2, 3 bytes.
    EXPECT_EQ(decode85("9j~>"), "M");
    EXPECT_EQ(decode85("9jq~>"), "Ma");
    EXPECT_EQ(decode85("9jqo~>"), "Man");
    // A single character gives nothing.
    EXPECT_EQ(decode85("9~>"), "");
    // The end of the data ends a group like the marker.
    EXPECT_EQ(decode85("9jqo^9jq"), "Man Ma");
}

TEST(Base85DecoderTest, WhiteSpaceIsSkippedEverywhere) {
    const char input[] = " 9\tj\nq\ro\f^\0 z ~>";
    EXPECT_EQ(decode85(std::string(input, sizeof input - 1)), std::string("Man \0\0\0\0", 8));
}

TEST(Base85DecoderTest, ZInsideAGroupIsNotFourZeros) {
    ErrorCapture errors;
    // "z" is only special as a group's first character; inside a group it is
    // outside the alphabet: the data ends there, with the group's bytes
    // before it.
    const std::string out = decode85("9jqo^9jz!!~>");
    EXPECT_EQ(out, "Man M");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(Base85DecoderTest, DamageIsReportedAndEndsTheData) {
    ErrorCapture errors;
    // A character outside "!" to "u" at the start of a group.
    EXPECT_EQ(decode85("9jqo^{9jqo^~>"), "Man ");
    EXPECT_EQ(errors.count(), 1u);
    errors.clear();
    // A group above 2^32 - 1 ("s8W-\"" is 2^32).
    EXPECT_EQ(decode85("9jqo^s8W-\"9jqo^~>"), "Man ");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(Base85DecoderTest, ResetRereadsAndPeekAgreesWithGet) {
    RefPtr<DataStream> s = RefPtr<DataStream>::adopt(new Base85Decoder(memoryStream("9jqo^Blb~>")));
    EXPECT_EQ(readAll(s.get()), "Man is");
    bool agreed = false;
    EXPECT_EQ(test::readAllPeeking(s.get(), &agreed), "Man is");
    EXPECT_TRUE(agreed);
}

}  // namespace
}  // namespace rendova
