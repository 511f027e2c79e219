#include "engine/core/Memory.h"

#include <climits>
#include <cstring>

#include <gtest/gtest.h>

namespace rendova {
namespace {

TEST(MemoryTest, SizesOfNothingGiveNull) {
    EXPECT_EQ(memAlloc(0), nullptr);
    EXPECT_EQ(memAlloc(-5), nullptr);
    EXPECT_EQ(memAllocArray(0, 4), nullptr);
    EXPECT_EQ(memAllocArray(0, 0), nullptr);
}

TEST(MemoryTest, ArrayRequestsThatOverflowThrowWithoutAllocating) {
    EXPECT_THROW(memAllocArray(-1, 4), MemoryException);
    // 0x20000000 * 4 is 2^31, one past the signed 32-bit range.
    EXPECT_THROW(memAllocArray(0x20000000, 4), MemoryException);
    EXPECT_THROW(memAllocArray(INT_MAX, INT_MAX), MemoryException);
    EXPECT_THROW(memAllocArray(1, 0), MemoryException);
    EXPECT_THROW(memAllocArray(1, -4), MemoryException);

    void* block = memAllocArray(4, 4);
    ASSERT_NE(block, nullptr);
    EXPECT_THROW(memReallocArray(block, 0x20000000, 4), MemoryException);
    // The failed request left the block alone.
    std::memset(block, 0, 16);
    memFree(block);
}

TEST(MemoryTest, ReallocToNothingFreesTheBlock) {
    // LeakSanitizer reports the blocks if these calls did not free them.
    void* block = memAlloc(32);
    EXPECT_EQ(memRealloc(block, 0), nullptr);
    block = memAllocArray(8, 4);
    EXPECT_EQ(memReallocArray(block, 0, 4), nullptr);
    EXPECT_EQ(memRealloc(nullptr, 0), nullptr);
    memFree(nullptr);
}

TEST(MemoryTest, ReallocKeepsContentAndAllocatesFromNull) {
    char* block = static_cast<char*>(memRealloc(nullptr, 4));
    std::memcpy(block, "abc", 4);
    block = static_cast<char*>(memReallocArray(block, 1000, 8));
    EXPECT_STREQ(block, "abc");
    memFree(block);
}

TEST(MemoryTest, CopyStringIncludesTerminator) {
    char* copy = copyString("name");
    EXPECT_STREQ(copy, "name");
    memFree(copy);
    copy = copyString("");
    EXPECT_STREQ(copy, "");
    memFree(copy);
}

TEST(MemoryTest, CheckedArithmeticThrowsOnOverflow) {
    EXPECT_EQ(checkedAdd(INT_MAX - 1, 1), INT_MAX);
    EXPECT_THROW((void)checkedAdd(INT_MAX, 1), MemoryException);
    EXPECT_THROW((void)checkedAdd(INT_MIN, -1), MemoryException);
    EXPECT_EQ(checkedMul(46340, 46340), 2147395600);
    EXPECT_THROW((void)checkedMul(46341, 46341), MemoryException);
    EXPECT_THROW((void)checkedMul(-65536, 65536), MemoryException);
}

}  // namespace
}  // namespace rendova
