#include "frontend/SettingsFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/ScopedEnvironment.h"

namespace glimmark {

namespace {

namespace fs = std::filesystem;
using rendova::test::ScopedEnvironment;

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = fs::absolute(std::string("settingsfile-") +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name())
                     .string() +
                 "/";
        fs::remove_all(m_root);
        fs::create_directories(m_root + "program");
    }
    void TearDown() override { fs::remove_all(m_root); }
    std::string m_root;
};

TEST_F(SettingsFileTest, SettingsLiveBesideAWritableProgram) {
    EXPECT_EQ(SettingsFile::locate(m_root + "program/"), m_root + "program/Settings.ini");
    EXPECT_TRUE(fs::is_empty(m_root + "program")) << "the check leaves nothing behind";
}

TEST_F(SettingsFileTest, UnwritableProgramFolderSendsSettingsToTheUserConfigFolder) {
    ScopedEnvironment config("XDG_CONFIG_HOME", m_root + "config");
    // A folder that cannot hold files, even for the superuser.
    EXPECT_EQ(SettingsFile::locate("/proc/"), m_root + "config/glimmark/Settings.ini");
    EXPECT_TRUE(fs::is_directory(m_root + "config/glimmark"));
    EXPECT_EQ(SettingsFile::locate(m_root + "missing/"), m_root + "config/glimmark/Settings.ini");
}

TEST_F(SettingsFileTest, WithoutXdgConfigHomeTheHomeConfigFolderIsUsed) {
    ScopedEnvironment config("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnvironment home("HOME", m_root + "home");
    EXPECT_EQ(SettingsFile::locate("/proc/"), m_root + "home/.config/glimmark/Settings.ini");

    // A relative XDG_CONFIG_HOME is not valid and is ignored.
    ScopedEnvironment relative("XDG_CONFIG_HOME", std::string("relative/config"));
    EXPECT_EQ(SettingsFile::locate("/proc/"), m_root + "home/.config/glimmark/Settings.ini");
}

TEST_F(SettingsFileTest, IntegersAndTextsRoundTripWithDefaults) {
    SettingsFile settings(m_root + "program/Settings.ini");
    EXPECT_EQ(settings.readInt("xdpi", 2), 2);
    EXPECT_EQ(settings.readText("OpenFile", "/home/", SettingsFile::kOther), "/home/");
    EXPECT_FALSE(fs::exists(settings.path())) << "reading creates nothing";
    settings.writeInt("xdpi", -7);
    settings.writeText("password", "");
    settings.writeText("OpenFile", "/data/a.pdf", SettingsFile::kOther);
    EXPECT_EQ(settings.readInt("xdpi", 2), -7);
    EXPECT_EQ(settings.readText("password", "default"), "") << "an empty value is a value";
    EXPECT_EQ(settings.readText("OpenFile", "", SettingsFile::kOther), "/data/a.pdf");
}

}  // namespace

}  // namespace glimmark
