#include "engine/core/Memory.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

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

constexpr int kMb = 1 << 20;

TEST(MemoryTest, LargeBlocksAreWritableAndAlignedForHugePages) {
    LargeBlock small(1000);  // below the large size: from the heap
    std::memset(small.data(), 1, 1000);
    LargeBlock large(3 * kMb + 5);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(large.data()) % (2 * kMb), 0u);
    std::memset(large.data(), 2, 3 * kMb + 5);
    LargeBlock moved = std::move(large);
    EXPECT_EQ(large.data(), nullptr);
    EXPECT_EQ(moved.data()[3 * kMb + 4], 2);
}

TEST(MemoryTest, FreedLargeBlocksAreReusedSmallestFitFirstWithinALimit) {
    std::vector<unsigned char*> freed;
    for (int size : {20, 22, 24, 26, 28}) {
        LargeBlock block(size * kMb);
        block.data()[size * kMb - 1] = 1;
        freed.push_back(block.data());
    }
    // Four blocks are kept: the 20 MB one, the smallest, was given back.
    LargeBlock first(21 * kMb);
    EXPECT_EQ(first.data(), freed[1]);
    LargeBlock second(19 * kMb);
    EXPECT_EQ(second.data(), freed[2]);
}

}  // namespace
}  // namespace rendova
