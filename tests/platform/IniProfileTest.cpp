#include "platform/IniProfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::getPrivateProfileInt;
using platform::getPrivateProfileString;
using platform::writePrivateProfileString;

class IniProfileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = std::string("iniprofile-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_file = m_root + "/Settings.ini";
    }
    void TearDown() override { fs::remove_all(m_root); }

    void write(const std::string& content) { std::ofstream(m_file, std::ios::binary) << content; }
    std::string content() const {
        std::ifstream stream(m_file, std::ios::binary);
        std::ostringstream text;
        text << stream.rdbuf();
        return text.str();
    }
    std::string get(const char* section, const char* key, size_t size = 260) const {
        return getPrivateProfileString(section, key, "<default>", size, m_file);
    }

    std::string m_root;
    std::string m_file;
};

TEST_F(IniProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(get("Settings", "xdpi"), "<default>");
    EXPECT_EQ(getPrivateProfileInt("Settings", "xdpi", 2, m_file), 2);
    EXPECT_FALSE(fs::exists(m_file)) << "reading creates nothing";
    write("[Settings]\nxdpi=5\n");
    EXPECT_EQ(get("Other", "xdpi"), "<default>");
    EXPECT_EQ(get("Settings", "ydpi"), "<default>");
}

TEST_F(IniProfileTest, NamesMatchWithoutRegardToCase) {
    write("[settings]\nSavePath=/out/\n");
    EXPECT_EQ(get("SETTINGS", "savepath"), "/out/");
    EXPECT_EQ(get(" Settings ", " SavePath"), "/out/") << "names are trimmed as in the file";
    ASSERT_TRUE(writePrivateProfileString("Settings", "SAVEPATH", "/new/", m_file));
    EXPECT_EQ(content(), "[settings]\nSavePath=/new/\n") << "the existing spelling is kept";
}

TEST_F(IniProfileTest, FirstFileWriteCreatesItAndOrderIsKept) {
    ASSERT_TRUE(writePrivateProfileString("Settings", "xdpi", "2", m_file));
    ASSERT_TRUE(writePrivateProfileString("Settings", "ydpi", "3", m_file));
    ASSERT_TRUE(writePrivateProfileString("Other", "OpenFile", "/a.pdf", m_file));
    ASSERT_TRUE(writePrivateProfileString("Settings", "imagetype", "4", m_file));
    ASSERT_TRUE(writePrivateProfileString("Settings", "xdpi", "7", m_file));
    EXPECT_EQ(content(), "[Settings]\nxdpi=7\nydpi=3\nimagetype=4\n\n[Other]\nOpenFile=/a.pdf\n");
    EXPECT_FALSE(writePrivateProfileString("Settings", "x", "1", m_root + "/no/such/folder/Settings.ini"));
}

TEST_F(IniProfileTest, CommentsBlankLinesAndOtherLinesSurviveAWrite) {
    write("; settings of the wizard\r\n[Settings]\r\nxdpi = 2 \r\n; resolution\r\n\r\n[Other]\r\nnoise\r\n");
    EXPECT_EQ(getPrivateProfileInt("Settings", "xdpi", 0, m_file), 2) << "spaces and CR are not part of it";
    ASSERT_TRUE(writePrivateProfileString("Settings", "ydpi", "3", m_file));
    EXPECT_EQ(content(),
              "; settings of the wizard\n[Settings]\nxdpi = 2 \nydpi=3\n; resolution\n\n[Other]\nnoise\n");
}

TEST_F(IniProfileTest, ValuesAreTrimmedUnquotedAndCutToTheBuffer) {
    write(
        "[S]\nplain =  text with spaces  \nquoted=\"  kept  \"\nsingle='x'\nodd=\"open\nempty=\nlong=abcdef\n"
        "eq=a=b\n");
    EXPECT_EQ(get("S", "plain"), "text with spaces");
    EXPECT_EQ(get("S", "quoted"), "  kept  ");
    EXPECT_EQ(get("S", "single"), "x");
    EXPECT_EQ(get("S", "odd"), "\"open");
    EXPECT_EQ(get("S", "empty"), "");
    EXPECT_EQ(get("S", "eq"), "a=b");
    EXPECT_EQ(get("S", "long", 4), "abc") << "a buffer of 4 bytes holds 3 characters";
    EXPECT_EQ(get("S", "long", 1), "");
    EXPECT_EQ(get("S", "long", 0), "");
    EXPECT_EQ(getPrivateProfileString("S", "none", "defaultvalue", 5, m_file), "defa");
}

TEST_F(IniProfileTest, IntegersReadTheLeadingNumber) {
    write("[S]\na=42\nb=-7\nc=12abc\nd=abc\ne=\nf=99999999999999999999\ng=-99999999999999999999\nh=+5\n");
    EXPECT_EQ(getPrivateProfileInt("S", "a", 0, m_file), 42);
    EXPECT_EQ(getPrivateProfileInt("S", "b", 0, m_file), -7);
    EXPECT_EQ(getPrivateProfileInt("S", "c", 0, m_file), 12);
    EXPECT_EQ(getPrivateProfileInt("S", "d", 5, m_file), 0) << "present but not a number";
    EXPECT_EQ(getPrivateProfileInt("S", "e", 5, m_file), 0);
    EXPECT_EQ(getPrivateProfileInt("S", "f", 0, m_file), INT_MAX);
    EXPECT_EQ(getPrivateProfileInt("S", "g", 0, m_file), INT_MIN);
    EXPECT_EQ(getPrivateProfileInt("S", "h", 0, m_file), 5);
}

TEST_F(IniProfileTest, FirstOfRepeatedSectionsAndKeysWins) {
    write("[S]\nk=1\nk=2\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(get("S", "k"), "1");
    EXPECT_EQ(get("S", "j"), "<default>") << "only the first section of a name is read";
    ASSERT_TRUE(writePrivateProfileString("S", "k", "9", m_file));
    EXPECT_EQ(content(), "[S]\nk=9\nk=2\n[s]\nk=3\nj=4\n");
}

TEST_F(IniProfileTest, EntriesThatWouldBreakTheFileAreRefused) {
    EXPECT_FALSE(writePrivateProfileString("S", "k", "two\nlines", m_file));
    EXPECT_FALSE(writePrivateProfileString("S", "k\n[X]", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("S]", "k", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("S", "k=j", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("", "k", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("S", " ", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("S", ";k", "v", m_file));
    EXPECT_FALSE(writePrivateProfileString("S", "[k]", "v", m_file));
    EXPECT_FALSE(fs::exists(m_file));
}

TEST_F(IniProfileTest, RewriteKeepsThePermissionsAndLeavesNoTemporaryFile) {
    write("[S]\nk=1\n");
    chmod(m_file.c_str(), 0640);
    ASSERT_TRUE(writePrivateProfileString("S", "k", "2", m_file));
    struct stat info;
    ASSERT_EQ(stat(m_file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(m_root)) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
}

TEST_F(IniProfileTest, WritesFromSeveralThreadsAreAllKept) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i)
                writePrivateProfileString("S", "key" + std::to_string(t * 100 + i), std::to_string(i),
                                          m_file);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i)
            EXPECT_EQ(getPrivateProfileInt("S", ("key" + std::to_string(t * 100 + i)).c_str(), -1, m_file),
                      i);
    }
}

}  // namespace
