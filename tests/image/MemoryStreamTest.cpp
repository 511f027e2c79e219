#include "image/MemoryStream.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace rendova {
namespace {

TEST(MemoryStreamGrowth, RoundsCapacityToTheNext4096) {
    const std::vector<uint8_t> data(8192, 7);
    struct Case {
        size_t bytes;
        int32_t capacity;
    };
    for (Case c : {Case{1, 4096}, Case{4095, 4096}, Case{4096, 8192}, Case{4097, 8192}, Case{8191, 8192}}) {
        MemoryStream stream;
        ASSERT_TRUE(stream.open());
        EXPECT_EQ(stream.capacity(), 0);
        EXPECT_EQ(stream.write(data.data(), 1, c.bytes), c.bytes);
        EXPECT_EQ(stream.capacity(), c.capacity) << c.bytes;
        EXPECT_EQ(stream.size(), int32_t(c.bytes));
    }
}

TEST(MemoryStreamGrowth, OpenOnlyOnce) {
    MemoryStream stream;
    EXPECT_TRUE(stream.open());
    EXPECT_FALSE(stream.open());
    EXPECT_TRUE(stream.close());
    EXPECT_TRUE(stream.open());
}

TEST(MemoryStreamSeek, ClampsBelowZeroAndAllowsPastTheEnd) {
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    const uint8_t bytes[5] = {1, 2, 3, 4, 5};
    stream.write(bytes, 1, 5);
    EXPECT_TRUE(stream.seek(-10, ImageStream::kSeekSet));
    EXPECT_EQ(stream.tell(), 0);
    EXPECT_TRUE(stream.seek(-2, ImageStream::kSeekEnd));
    EXPECT_EQ(stream.getc(), 4);
    EXPECT_TRUE(stream.seek(1, ImageStream::kSeekCur));
    EXPECT_TRUE(stream.eof());
    EXPECT_EQ(stream.error(), 0);
    EXPECT_TRUE(stream.seek(20, ImageStream::kSeekSet));
    EXPECT_TRUE(stream.eof());
    EXPECT_EQ(stream.error(), 1);
    EXPECT_EQ(stream.getc(), -1);
    EXPECT_FALSE(stream.seek(0, 3));
    EXPECT_FALSE(stream.seek(0x7FFFFFFF, ImageStream::kSeekCur));  // beyond the 32-bit range
}

TEST(MemoryStreamSeek, WriteAfterASeekPastTheEndZeroFillsTheGap) {
    // Under the address sanitizer fresh heap bytes are 0xBE, so a gap that was
    // not filled shows here.
    for (bool byPutc : {false, true}) {
        MemoryStream stream;
        ASSERT_TRUE(stream.open());
        const uint8_t head[3] = {9, 9, 9};
        stream.write(head, 1, 3);
        ASSERT_TRUE(stream.seek(3000, ImageStream::kSeekSet));
        const uint8_t tail = 0x77;
        if (byPutc) {
            ASSERT_TRUE(stream.putc(tail));
        } else {
            ASSERT_EQ(stream.write(&tail, 1, 1), 1u);
        }
        EXPECT_EQ(stream.size(), 3001);
        const uint8_t* buffer = stream.buffer();
        for (int i = 3; i < 3000; ++i)
            ASSERT_EQ(buffer[i], 0) << i;
        EXPECT_EQ(buffer[2], 9);
        EXPECT_EQ(buffer[3000], 0x77);
    }
}

TEST(MemoryStreamRead, CountsWholeItems) {
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    const uint8_t bytes[7] = {1, 2, 3, 4, 5, 6, 7};
    stream.write(bytes, 1, 7);
    stream.seek(0, ImageStream::kSeekSet);
    uint8_t out[8] = {};
    EXPECT_EQ(stream.read(out, 4, 1), 1u);
    EXPECT_EQ(stream.read(out, 4, 1), 0u);  // 3 bytes left: copied, no whole item
    EXPECT_EQ(out[2], 7);
    EXPECT_EQ(stream.tell(), 7);
    EXPECT_EQ(stream.read(out, 1, 1), 0u);
    stream.seek(0, ImageStream::kSeekSet);
    EXPECT_EQ(stream.read(out, 1, 0), 0u);
    EXPECT_EQ(stream.read(out, size_t(1) << 62, 8), 0u);  // a size that overflows reads what is left
    EXPECT_EQ(stream.tell(), 7);
}

TEST(MemoryStreamRead, GetcOnAnEmptyStreamIsTheEnd) {
    MemoryStream closed;
    EXPECT_EQ(closed.getc(), -1);
    EXPECT_EQ(closed.tell(), -1);
    MemoryStream empty;
    ASSERT_TRUE(empty.open());
    EXPECT_EQ(empty.getc(), -1);
    EXPECT_EQ(empty.size(), 0);
}

TEST(MemoryStreamDetach, HandsTheBufferToTheCaller) {
    uint8_t* buffer = nullptr;
    {
        MemoryStream stream;
        ASSERT_TRUE(stream.open());
        ASSERT_TRUE(stream.putc('A'));
        ASSERT_TRUE(stream.putc('B'));
        buffer = stream.detach(true);
    }  // destruction leaves the detached buffer alone
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(buffer[1], 'B');
    std::free(buffer);
}

TEST(MemoryStreamCallerBuffer, ReadsAndWritesInPlaceButNeverGrows) {
    uint8_t data[4] = {10, 20, 30, 40};
    {
        MemoryStream stream(data, 4);
        EXPECT_EQ(stream.getc(), 10);
        EXPECT_TRUE(stream.putc(99));
        EXPECT_TRUE(stream.seek(0, ImageStream::kSeekEnd));
        EXPECT_FALSE(stream.putc(1));  // the caller's block is not ours to reallocate
        EXPECT_EQ(stream.size(), 4);
    }
    EXPECT_EQ(data[1], 99);
    EXPECT_EQ(data[3], 40);
}

}  // namespace
}  // namespace rendova
