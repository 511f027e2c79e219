#include "image/FileImageStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace rendova {
namespace {

TEST(FileImageStream, ReadsWritesAndSeeksThroughTheHandle) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        FileImageStream stream(file);
        const char text[] = "abcdef";
        EXPECT_EQ(stream.write(text, 2, 3), 3u);
        EXPECT_TRUE(stream.putc('g'));
        EXPECT_EQ(stream.tell(), 7);
        EXPECT_TRUE(stream.seek(2, ImageStream::kSeekSet));
        EXPECT_EQ(stream.size(), 7);
        EXPECT_EQ(stream.tell(), 2);  // size() puts the position back
        EXPECT_EQ(stream.getc(), 'c');
        char out[8] = {};
        EXPECT_EQ(stream.read(out, 2, 3), 2u);  // 4 bytes left: two whole items
        EXPECT_EQ(stream.getc(), -1);
        EXPECT_TRUE(stream.eof());
        EXPECT_EQ(stream.error(), 0);
        EXPECT_TRUE(stream.flush());
        EXPECT_TRUE(stream.close());  // not ours: stays open
    }
    // The caller still owns an open handle.
    EXPECT_EQ(std::fseek(file, 0, SEEK_SET), 0);
    EXPECT_EQ(std::fgetc(file), 'a');
    std::fclose(file);
}

TEST(FileImageStream, OpensByNameAndClosesWhatItOpened) {
    const std::string path = std::string(RENDOVA_TEST_OUTPUT_DIR) + "/file-image-stream.bin";
    {
        FileImageStream stream(path.c_str(), "wb");
        ASSERT_TRUE(stream.isOpen());
        EXPECT_TRUE(stream.putc(0x42));
    }
    FileImageStream reader(path.c_str(), "rb");
    ASSERT_TRUE(reader.isOpen());
    EXPECT_EQ(reader.getc(), 0x42);
    EXPECT_TRUE(reader.close());
    EXPECT_FALSE(reader.isOpen());
    FileImageStream missing((path + ".missing/x").c_str(), "rb");
    EXPECT_FALSE(missing.isOpen());
}

}  // namespace
}  // namespace rendova
