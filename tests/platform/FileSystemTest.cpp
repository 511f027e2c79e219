#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using platform::createDirectoryChain;
using platform::directoryExists;
using platform::fileExists;

// Each test works in a folder of its own (CTest runs tests side by side in one
// working directory) holding one regular file, file.txt.
class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = std::string("filesystem-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        std::ofstream(m_root + "/file.txt") << "x";
    }
    void TearDown() override { fs::remove_all(m_root); }
    std::string at(const std::string& relative) const {
        return relative.empty() ? m_root : m_root + "/" + relative;
    }
    std::string m_root;
};

TEST_F(FileSystemTest, ADirectoryIsNotAFileAndAFileIsNotADirectory) {
    EXPECT_TRUE(fileExists(at("file.txt")));
    EXPECT_FALSE(directoryExists(at("file.txt")));
    EXPECT_TRUE(directoryExists(at("")));
    EXPECT_TRUE(directoryExists(at("") + "/"));
    EXPECT_FALSE(fileExists(at("")));
    EXPECT_FALSE(fileExists(at("") + "/"));
}

TEST_F(FileSystemTest, MissingAndEmptyPathsExistAsNothing) {
    for (const std::string& path : {at("missing"), at("file.txt/x"), std::string()}) {
        EXPECT_FALSE(fileExists(path)) << path;
        EXPECT_FALSE(directoryExists(path)) << path;
    }
}

TEST_F(FileSystemTest, LinksCountAsWhatTheyPointTo) {
    fs::create_symlink("file.txt", at("to-file"));
    fs::create_directory_symlink(".", at("to-dir"));
    fs::create_symlink("nowhere", at("dangling"));
    EXPECT_TRUE(fileExists(at("to-file")));
    EXPECT_TRUE(directoryExists(at("to-dir")));
    EXPECT_FALSE(fileExists(at("dangling")));
}

TEST_F(FileSystemTest, ChainIsCreatedLevelByLevel) {
    EXPECT_TRUE(createDirectoryChain(at("a/b/c")));
    EXPECT_TRUE(directoryExists(at("a")));
    EXPECT_TRUE(directoryExists(at("a/b")));
    EXPECT_TRUE(directoryExists(at("a/b/c")));

    // Existing levels are fine; a trailing or doubled separator too.
    EXPECT_TRUE(createDirectoryChain(at("a//b/d/")));
    EXPECT_TRUE(directoryExists(at("a/b/d")));
    EXPECT_TRUE(createDirectoryChain(at("a")));

    std::string absolute = fs::absolute(at("abs/x")).string();
    EXPECT_TRUE(createDirectoryChain(absolute));
    EXPECT_TRUE(directoryExists(absolute));
}

TEST_F(FileSystemTest, ChainFailsWhenAFileStandsInTheWay) {
    EXPECT_FALSE(createDirectoryChain(at("file.txt/sub")));
    EXPECT_FALSE(createDirectoryChain(at("file.txt")));
    EXPECT_FALSE(createDirectoryChain(""));
    EXPECT_TRUE(fileExists(at("file.txt")));
}

}  // namespace
