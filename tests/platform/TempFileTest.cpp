#include "platform/TempFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;
using rendova::test::ScopedEnvironment;

class TempFileTest : public ::testing::Test {
protected:
    // A folder per test: CTest runs tests side by side in one working directory.
    void SetUp() override {
        m_folder = fs::absolute(std::string("tempfile-") +
                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }
    std::string folder() const { return m_folder.string(); }
    fs::path m_folder;
};

TEST_F(TempFileTest, FolderIsTmpdirElseTmp) {
    {
        ScopedEnvironment tmp("TMPDIR", "/var/x");
        EXPECT_EQ(platform::tempDirectory(), "/var/x");
    }
    {
        ScopedEnvironment tmp("TMPDIR", std::nullopt);
        EXPECT_EQ(platform::tempDirectory(), "/tmp");
    }
    ScopedEnvironment tmp("TMPDIR", "");
    EXPECT_EQ(platform::tempDirectory(), "/tmp");
}

TEST_F(TempFileTest, TwoFilesAtOnceAreDistinctAndBothExist) {
    ScopedEnvironment tmp("TMPDIR", folder());
    platform::TempFile first = platform::createTempFile("pre", ".ttf", "wb");
    platform::TempFile second = platform::createTempFile("pre", ".ttf", "wb");
    ASSERT_NE(first.file, nullptr);
    ASSERT_NE(second.file, nullptr);
    EXPECT_NE(first.path, second.path);
    for (const auto& made : {first, second}) {
        fs::path path(made.path);
        EXPECT_EQ(path.parent_path().string(), folder());
        EXPECT_EQ(path.filename().string().rfind("pre", 0), 0u) << made.path;
        EXPECT_EQ(path.extension().string(), ".ttf");
        EXPECT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(fs::file_size(path), 0u);
        struct stat info;
        ASSERT_EQ(stat(made.path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);  // font programs of a document stay private
    }
    std::fputs("font", first.file);
    std::fclose(first.file);
    std::fclose(second.file);
    EXPECT_EQ(fs::file_size(first.path), 4u);
}

TEST_F(TempFileTest, ModeIsHonouredAndSuffixMayBeEmpty) {
    ScopedEnvironment tmp("TMPDIR", folder() + "/");
    platform::TempFile made = platform::createTempFile("x", "", "w+b");
    ASSERT_NE(made.file, nullptr);
    EXPECT_EQ(fs::path(made.path).parent_path().string(), folder());
    std::fputs("abc", made.file);
    std::rewind(made.file);
    char text[4] = {};
    EXPECT_EQ(std::fread(text, 1, 3, made.file), 3u);
    EXPECT_STREQ(text, "abc");
    std::fclose(made.file);
}

TEST_F(TempFileTest, MissingFolderFailsWithoutAName) {
    ScopedEnvironment tmp("TMPDIR", folder() + "/missing");
    platform::TempFile made = platform::createTempFile("x", ".tmp", "wb");
    EXPECT_EQ(made.file, nullptr);
    EXPECT_EQ(made.path, "");
}

}  // namespace
