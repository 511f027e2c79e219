#include "engine/content/Type1FontFile.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/BuiltinEncodings.h"

namespace rendova {
namespace {

// The text must outlive the font: the buffer stays the caller's.
std::unique_ptr<Type1FontFile> fromText(const std::string& text) {
    return Type1FontFile::fromBuffer(reinterpret_cast<const uint8_t*>(text.data()),
                                     static_cast<int>(text.size()));
}

TEST(Type1FontFile, ReadsNameAndEncodingArray) {
    std::string text =
        "%!PS-AdobeFont-1.0: Test 001\r\n"
        "/FontName /ABCDEF+Test-Bold def\r"
        "/Encoding 256 array\n"
        "0 1 255 {1 index exch /.notdef put} for\n"
        "dup 32 /space put\n"
        "  dup 8#101 /A put\n"
        "dup 66 /B\tput\n"
        "dup 300 /toolarge put\n"
        "dup /nocode put\n"
        "readonly def\n"
        "dup 67 /C put\n"
        "currentdict end\n";
    auto font = fromText(text);
    ASSERT_STREQ(font->getName(), "ABCDEF+Test-Bold");
    const char* const* encoding = font->getEncoding();
    ASSERT_NE(encoding, nullptr);
    EXPECT_STREQ(encoding[32], "space");
    EXPECT_STREQ(encoding[65], "A");
    EXPECT_STREQ(encoding[66], "B");
    EXPECT_EQ(encoding[0], nullptr);
    // The table ended at "readonly def".
    EXPECT_EQ(encoding[67], nullptr);
}

TEST(Type1FontFile, StandardEncodingAndNameSeparators) {
    std::string text = "/FontName/Compact/Next def\n/Encoding StandardEncoding def\n";
    auto font = fromText(text);
    EXPECT_STREQ(font->getName(), "Compact");
    EXPECT_EQ(font->getEncoding(), kStandardEncoding);
}

TEST(Type1FontFile, FileWithoutTheExpectedLinesHasNeither) {
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "% filler\n";
    text += "/FontName /TooLate def\n";
    auto font = fromText(text);
    EXPECT_EQ(font->getName(), nullptr);
    EXPECT_EQ(font->getEncoding(), nullptr);
    std::string empty;
    EXPECT_EQ(fromText(empty)->getName(), nullptr);
    EXPECT_EQ(Type1FontFile::fromFile("/no/such/font.pfa"), nullptr);
}

TEST(Type1FontFile, LongLinesAreCut) {
    std::string name(400, 'N');
    std::string text = "/FontName /" + name + " def\n/Encoding 256 array\ndup 65 /" + std::string(400, 'g') +
                       " put\nreadonly def\n";
    auto font = fromText(text);
    ASSERT_NE(font->getName(), nullptr);
    EXPECT_EQ(std::string(font->getName()), std::string(255 - 11, 'N'));
    ASSERT_NE(font->getEncoding()[65], nullptr);
    EXPECT_EQ(std::string(font->getEncoding()[65]).size(), 255u - 8);
}

}  // namespace
}  // namespace rendova
