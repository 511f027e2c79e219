#include "platform/FileInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace platform;

class FileInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = std::string("fileinfo-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }
    std::string make(const std::string& name, size_t size) {
        std::string path = m_root + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    std::string m_root;
};

TEST_F(FileInfoTest, SizeTimesAndArchiveOfAPlainFile) {
    std::string path = make("a.pdf", 5000);
    FileInfo info;
    ASSERT_TRUE(readFileInfo(path, info));
    EXPECT_EQ(info.size, 5000u);
    EXPECT_EQ(info.attributes, kAttributeArchive);
    std::time_t now = std::time(nullptr);
    EXPECT_LE(std::abs(static_cast<long>(now - info.modified)), 60);
    EXPECT_LE(info.created, info.modified + 1);
    EXPECT_GT(info.accessed, 0);
}

TEST_F(FileInfoTest, ReadOnlyAndHiddenFollowModeAndName) {
    std::string path = make(".hidden.pdf", 10);
    chmod(path.c_str(), 0444);
    FileInfo info;
    ASSERT_TRUE(readFileInfo(path, info));
    EXPECT_EQ(info.attributes, kAttributeReadOnly | kAttributeHidden | kAttributeArchive);
}

TEST_F(FileInfoTest, DirectoriesAndMissingFilesCannotBeOpened) {
    FileInfo info;
    info.size = 77;
    EXPECT_FALSE(readFileInfo(m_root, info));
    EXPECT_FALSE(readFileInfo(m_root + "/missing.pdf", info));
    EXPECT_FALSE(readFileInfo("", info));
    EXPECT_EQ(info.size, 77u) << "left untouched";
}

TEST_F(FileInfoTest, PipesAreReadWithoutBlockingAndCountAsSystem) {
    std::string path = m_root + "/pipe";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    FileInfo info;
    ASSERT_TRUE(readFileInfo(path, info));
    EXPECT_TRUE(info.attributes & kAttributeSystem);
    EXPECT_FALSE(info.attributes & kAttributeArchive);
}

}  // namespace
