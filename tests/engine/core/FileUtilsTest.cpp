#include "engine/core/FileUtils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;
using rendova::DynString;
using rendova::test::ScopedEnvironment;

std::string text(const DynString& s) {
    return std::string(s.getCString(), s.getLength());
}

std::string dirOf(const char* path) {
    return text(*rendova::directoryOf(DynString(path)));
}

TEST(FileUtils, HomeDirFollowsTheEnvironment) {
    ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(text(*rendova::getHomeDir()), "/home/someone");
}

TEST(FileUtils, MakePathAbsoluteJoinsAndFolds) {
    DynString directory("/etc/fonts");
    DynString& result = rendova::makePathAbsolute(directory, "../x/./a.ttf");
    EXPECT_EQ(&result, &directory);
    EXPECT_EQ(text(directory), "/etc/x/a.ttf");

    DynString relative("cmaps");
    rendova::makePathAbsolute(relative, "Adobe-Japan1");
    EXPECT_EQ(text(relative), fs::current_path().string() + "/cmaps/Adobe-Japan1");
}

TEST(FileUtils, MakePathAbsoluteNeverCutsALongPath) {
    // Far beyond the 256 bytes a fixed buffer would hold: a shortened path
    // would name a different file.
    std::string folder = "/data/" + std::string(600, 'd');
    DynString directory(folder.c_str());
    rendova::makePathAbsolute(directory, "font.pfb");
    EXPECT_EQ(text(directory), folder + "/font.pfb");
}

TEST(FileUtils, DirectoryOfPrefersSlashThenBackslashThenColon) {
    EXPECT_EQ(dirOf("/usr/share/fonts/a.ttf"), "/usr/share/fonts");
    EXPECT_EQ(dirOf("a\\b/c\\d"), "a\\b");  // both separators: cut at the last "/"
    EXPECT_EQ(dirOf("a\\b\\c"), "a\\b");
    EXPECT_EQ(dirOf("C:file"), "C:");
    EXPECT_EQ(dirOf("file.txt"), "");
    EXPECT_EQ(dirOf("/top"), "");
    EXPECT_EQ(dirOf(""), "");
}

TEST(FileUtils, DirectoryOfReadsPastNulBytes) {
    DynString path("a/b\0c/d", 7);
    EXPECT_EQ(text(*rendova::directoryOf(path)), std::string("a/b\0c", 5));
}

class TempFileUtilsTest : public ::testing::Test {
protected:
    // A folder per test: CTest runs tests side by side in one working directory.
    void SetUp() override {
        m_folder = fs::absolute(std::string("fileutils-") +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::string folder() const { return m_folder.string(); }
    fs::path m_folder;
};

TEST_F(TempFileUtilsTest, OpenTempFileCreatesDistinctNewFilesInTheTempFolder) {
    ScopedEnvironment tmp("TMPDIR", folder());
    std::unique_ptr<DynString> first, second;
    FILE* firstFile = nullptr;
    FILE* secondFile = nullptr;
    ASSERT_EQ(rendova::openTempFile(first, firstFile, "wb", ".ttf"), 1);
    ASSERT_EQ(rendova::openTempFile(second, secondFile, "wb", nullptr), 1);
    ASSERT_TRUE(first && second && firstFile && secondFile);
    EXPECT_NE(text(*first), text(*second));
    EXPECT_EQ(fs::path(text(*first)).parent_path().string(), folder());
    EXPECT_EQ(fs::path(text(*first)).extension().string(), ".ttf");
    EXPECT_TRUE(fs::is_regular_file(text(*second)));

    std::fwrite("\0\1\2", 1, 3, firstFile);  // bytes arrive unchanged
    std::fclose(firstFile);
    std::fclose(secondFile);
    EXPECT_EQ(fs::file_size(text(*first)), 3u);
}

TEST_F(TempFileUtilsTest, OpenTempFileFailureLeavesTheOutputsAlone) {
    ScopedEnvironment tmp("TMPDIR", folder() + "/missing");
    std::unique_ptr<DynString> name;
    FILE* file = nullptr;
    EXPECT_EQ(rendova::openTempFile(name, file, "wb", ".tmp"), 0);
    EXPECT_EQ(name, nullptr);
    EXPECT_EQ(file, nullptr);
}

// Writes the bytes to a file of their own and opens it for reading.
class ReadLineTest : public ::testing::Test {
protected:
    void open(const std::string& bytes) {
        m_file = std::tmpfile();
        ASSERT_NE(m_file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), m_file);
        std::rewind(m_file);
    }
    // The next line as a string, or "<null>" when readLine gives null.
    std::string next(int size = 64) {
        char buffer[64];
        std::memset(buffer, 'Z', sizeof buffer);
        char* line = rendova::readLine(buffer, size, m_file);
        if (!line)
            return "<null>";
        EXPECT_EQ(line, buffer);
        return std::string(line);
    }
    void TearDown() override {
        if (m_file)
            std::fclose(m_file);
    }
    FILE* m_file = nullptr;
};

TEST_F(ReadLineTest, KeepsEachKindOfLineEnd) {
    open("a\r\nb\nc\rd");
    EXPECT_EQ(next(), "a\r\n");
    EXPECT_EQ(next(), "b\n");
    EXPECT_EQ(next(), "c\r");
    EXPECT_EQ(next(), "d");
    EXPECT_EQ(next(), "<null>");
}

TEST_F(ReadLineTest, LoneCrLeavesTheNextByteUnread) {
    open("\rx\r\r\n");
    EXPECT_EQ(next(), "\r");
    EXPECT_EQ(std::fgetc(m_file), 'x');
    EXPECT_EQ(next(), "\r");
    EXPECT_EQ(next(), "\r\n");
    EXPECT_EQ(next(), "<null>");
}

TEST_F(ReadLineTest, LongLinesComeInPiecesOfSizeMinusOne) {
    open("abcdefg\n");
    EXPECT_EQ(next(4), "abc");
    EXPECT_EQ(next(4), "def");
    EXPECT_EQ(next(4), "g\n");
    EXPECT_EQ(next(4), "<null>");
}

TEST_F(ReadLineTest, LfThatDoesNotFitAfterCrStaysForTheNextCall) {
    open("ab\r\nc");
    EXPECT_EQ(next(4), "ab\r");
    EXPECT_EQ(next(4), "\n");
    EXPECT_EQ(next(4), "c");
}

TEST_F(ReadLineTest, EmptyFileAndUselessBuffersGiveNull) {
    open("");
    EXPECT_EQ(next(), "<null>");
    char buffer[4];
    EXPECT_EQ(rendova::readLine(buffer, 0, m_file), nullptr);
    EXPECT_EQ(rendova::readLine(nullptr, 4, m_file), nullptr);
    EXPECT_EQ(rendova::readLine(buffer, 4, nullptr), nullptr);
}

}  // namespace
