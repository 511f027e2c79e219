#include "engine/core/DynString.h"

#include <climits>
#include <string>

#include <gtest/gtest.h>

#include "engine/core/Memory.h"

namespace rendova {
namespace {

std::string text(const DynString& s) {
    return std::string(s.getCString(), static_cast<size_t>(s.getLength()));
}

DynString filled(int length) {
    DynString s;
    for (int i = 0; i < length; ++i)
        s.appendChar(static_cast<char>('a' + i % 26));
    return s;
}

TEST(DynStringTest, CapacityIsTheNextMultipleOfTheStep) {
    for (int length = 0; length < 8; ++length)
        EXPECT_EQ(DynString::capacityFor(length), 8) << length;
    EXPECT_EQ(DynString::capacityFor(8), 16);
    EXPECT_EQ(DynString::capacityFor(9), 16);
    EXPECT_EQ(DynString::capacityFor(15), 16);
    EXPECT_EQ(DynString::capacityFor(16), 32);
    EXPECT_EQ(DynString::capacityFor(100), 128);
    EXPECT_EQ(DynString::capacityFor(0x7ffff), 0x80000);
    EXPECT_EQ(DynString::capacityFor(0x80000), 0x100000);
    // From 1 MB on the step stays at 1 MB.
    EXPECT_EQ(DynString::capacityFor(0xfffff), 0x100000);
    EXPECT_EQ(DynString::capacityFor(0x100000), 0x200000);
    EXPECT_EQ(DynString::capacityFor(0x100001), 0x200000);
    EXPECT_EQ(DynString::capacityFor(0x2fffff), 0x300000);
    EXPECT_EQ(DynString::capacityFor(0x300000), 0x400000);
}

// A new block is allocated before the old one is freed, so a changed buffer
// address shows that the block moved.
TEST(DynStringTest, BlockMovesOnlyWhenTheCapacityChanges) {
    DynString s = filled(8);
    const char* block16 = s.getCString();
    for (int i = 8; i < 15; ++i)
        s.appendChar('x');
    EXPECT_EQ(s.getCString(), block16);
    s.appendChar('y');
    EXPECT_EQ(s.getLength(), 16);
    EXPECT_NE(s.getCString(), block16);
    EXPECT_EQ(s.getCString()[16], '\0');
}

TEST(DynStringTest, ShrinkingOperationsGiveMemoryBack) {
    DynString s = filled(16);
    const char* block32 = s.getCString();
    s.erase(3, 1);
    EXPECT_NE(s.getCString(), block32);
    EXPECT_EQ(text(s), "abcefghijklmnop");

    const char* block16 = s.getCString();
    s.erase(0, 0).erase(2, -4);
    EXPECT_EQ(s.getCString(), block16);
    EXPECT_EQ(s.getLength(), 15);

    // The count is cut to what follows the position.
    s.erase(10, 1000);
    EXPECT_EQ(text(s), "abcefghijk");

    DynString big = filled(100);
    big.clear();
    EXPECT_EQ(big.getLength(), 0);
    EXPECT_STREQ(big.getCString(), "");
    big.appendCStr("again");
    EXPECT_EQ(text(big), "again");
}

TEST(DynStringTest, GrowingPastThe32BitLengthThrowsAndKeepsTheString) {
    DynString s("abc");
    char byte = 'x';
    // The capacity check comes before any copy, so the bytes are never read.
    EXPECT_THROW(s.appendBytes(&byte, INT_MAX), MemoryException);
    EXPECT_THROW(s.appendBytes(&byte, INT_MAX - 3), MemoryException);
    EXPECT_EQ(text(s), "abc");
    EXPECT_GT(DynString::capacityFor(INT_MAX), INT_MAX);
    EXPECT_LE(DynString::capacityFor(int64_t(2047) * 0x100000 - 1), INT_MAX);
}

TEST(DynStringTest, HoldsNulBytes) {
    DynString s("a\0b", 3);
    s.appendBytes("\0c", 2).appendChar('\0');
    EXPECT_EQ(s.getLength(), 6);
    EXPECT_EQ(text(s), std::string("a\0b\0c\0", 6));
    DynString copy(s);
    EXPECT_EQ(text(copy), text(s));
    DynString range(s, 1, 3);
    EXPECT_EQ(text(range), std::string("\0b\0", 3));
}

TEST(DynStringTest, EditsKeepTheTerminator) {
    DynString s("ace");
    s.insertChar(1, 'b').insertChar(3, 'd').insertChar(5, 'f');
    EXPECT_EQ(text(s), "abcdef");
    EXPECT_EQ(s.getCString()[6], '\0');
    s.append(DynString("gh")).appendCStr("ij");
    EXPECT_EQ(text(s), "abcdefghij");
}

TEST(DynStringTest, AppendingItsOwnBytesIsSafe) {
    DynString s = filled(15);
    // Each append moves the block; the source must not move with it.
    s.append(s);
    EXPECT_EQ(text(s), "abcdefghijklmnoabcdefghijklmno");
    s.appendBytes(s.getCString() + 2, 3);
    EXPECT_EQ(text(s), "abcdefghijklmnoabcdefghijklmnocde");
    s.appendCStr(s.getCString());
    EXPECT_EQ(s.getLength(), 66);
}

TEST(DynStringTest, CaseChangesTouchOnlyAsciiLetters) {
    DynString s("aZ09\xe4\xc4-z");
    s.toUpper();
    EXPECT_EQ(text(s), "AZ09\xe4\xc4-Z");
    s.toLower();
    EXPECT_EQ(text(s), "az09\xe4\xc4-z");
}

TEST(DynStringTest, CompareUsesSignedBytesThenLengths) {
    EXPECT_LT(DynString("ab").compare(DynString("abc")), 0);
    EXPECT_GT(DynString("abc").compare(DynString("ab")), 0);
    EXPECT_EQ(DynString("abc").compare(DynString("abc")), 0);
    EXPECT_EQ(DynString("abd").compare(DynString("abb")), 2);
    // 0x80 is -128 as a signed byte, so it sorts before "a".
    EXPECT_EQ(DynString("\x80").compare(DynString("a")), -128 - 'a');
    EXPECT_LT(DynString("a\0b", 3).compare(DynString("a\0c", 3)), 0);
}

TEST(DynStringTest, CompareCStrSaysWhichRanOut) {
    EXPECT_EQ(DynString("ab").compareCStr("abc"), -1);
    EXPECT_EQ(DynString("abc").compareCStr("ab"), 1);
    EXPECT_EQ(DynString("abc").compareCStr("abc"), 0);
    EXPECT_EQ(DynString("").compareCStr(""), 0);
    EXPECT_EQ(DynString("abx").compareCStr("abz"), 'x' - 'z');
    // A NUL inside the string outlasts the text.
    EXPECT_EQ(DynString("a\0", 2).compareCStr("a"), 1);
}

}  // namespace
}  // namespace rendova
