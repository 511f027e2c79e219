#include "platform/UserFolders.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;
using platform::isWritableDirectory;
using platform::userConfigDirectory;
using rendova::test::ScopedEnvironment;

TEST(UserFolders, ConfigFolderComesFromXdgConfigHomeOrHome) {
    ScopedEnvironment home("HOME", std::string("/home/tester"));
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", std::string("/etc/xdg-test/"));
        EXPECT_EQ(userConfigDirectory("glimmark"), "/etc/xdg-test/glimmark/");
    }
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", std::string("not/absolute"));
        EXPECT_EQ(userConfigDirectory("glimmark"), "/home/tester/.config/glimmark/");
    }
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", std::string(""));
        EXPECT_EQ(userConfigDirectory("glimmark"), "/home/tester/.config/glimmark/");
    }
}

TEST(UserFolders, WritableFolderIsTestedByMakingAFile) {
    std::string folder = "userfolders-writable";
    fs::remove_all(folder);
    fs::create_directories(folder);
    EXPECT_TRUE(isWritableDirectory(folder));
    EXPECT_TRUE(isWritableDirectory(folder + "/"));
    EXPECT_TRUE(fs::is_empty(folder)) << "the probe is removed";
    EXPECT_FALSE(isWritableDirectory(folder + "/missing"));
    EXPECT_FALSE(isWritableDirectory("/proc"));
    EXPECT_FALSE(isWritableDirectory(""));
    fs::remove_all(folder);
}

}  // namespace
