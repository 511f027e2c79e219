#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/ScopedEnvironment.h"

namespace {

namespace fs = std::filesystem;
using platform::absolutePath;
using rendova::test::ScopedEnvironment;

std::string cwd() {
    return fs::current_path().string();
}

TEST(AbsolutePath, RelativePathsStartAtTheCurrentDirectory) {
    EXPECT_EQ(absolutePath("a.pdf"), cwd() + "/a.pdf");
    EXPECT_EQ(absolutePath("."), cwd());
    EXPECT_EQ(absolutePath("./sub/./x"), cwd() + "/sub/x");
}

TEST(AbsolutePath, DotDotFoldsLexically) {
    EXPECT_EQ(absolutePath("/a/b/../c"), "/a/c");
    EXPECT_EQ(absolutePath("/a/b/../../c/.."), "/");
    EXPECT_EQ(absolutePath("x/../y"), cwd() + "/y");
    EXPECT_EQ(absolutePath(".."), fs::path(cwd()).parent_path().string());
}

TEST(AbsolutePath, DotDotAboveTheRootStaysAtTheRoot) {
    EXPECT_EQ(absolutePath("/.."), "/");
    EXPECT_EQ(absolutePath("/../../etc/./x"), "/etc/x");
    std::string up;
    for (int i = 0; i < 64; ++i)
        up += "../";
    EXPECT_EQ(absolutePath(up + "tmp"), "/tmp");
}

TEST(AbsolutePath, TrailingSeparatorIsKeptAndRepeatsCollapse) {
    EXPECT_EQ(absolutePath("/a//b///"), "/a/b/");
    EXPECT_EQ(absolutePath("//a/./b/."), "/a/b");
    EXPECT_EQ(absolutePath("dir/"), cwd() + "/dir/");
    EXPECT_EQ(absolutePath("/"), "/");
    EXPECT_EQ(absolutePath("/../"), "/");
}

TEST(AbsolutePath, NeitherTouchesNorNeedsTheFileSystem) {
    // A link's ".." is the folder holding the link, not the target's parent.
    fs::create_directories("paths-test/target/deep");
    fs::remove("paths-test/link");
    fs::create_directory_symlink("target/deep", "paths-test/link");
    EXPECT_EQ(absolutePath("paths-test/link/.."), cwd() + "/paths-test");
    EXPECT_EQ(absolutePath("/no/such/folder/file.txt"), "/no/such/folder/file.txt");
    fs::remove_all("paths-test");
}

TEST(AbsolutePath, EmptyPathHasNoAbsoluteForm) {
    EXPECT_EQ(absolutePath(""), "");
}

TEST(AbsolutePath, LongPathsAreNotCutShort) {
    std::string name(3000, 'n');
    EXPECT_EQ(absolutePath("/x/" + name + "/y"), "/x/" + name + "/y");
}

TEST(SplitPath, CutsFolderNameAndExtension) {
    auto parts = platform::splitPath("/home/u/report.final.pdf");
    EXPECT_EQ(parts.directory, "/home/u/");
    EXPECT_EQ(parts.name, "report.final");
    EXPECT_EQ(parts.extension, ".pdf");

    parts = platform::splitPath("plain");
    EXPECT_EQ(parts.directory, "");
    EXPECT_EQ(parts.name, "plain");
    EXPECT_EQ(parts.extension, "");
}

TEST(SplitPath, FolderPathsAndDotNamesHaveNoExtension) {
    auto parts = platform::splitPath("/a.d/b/");
    EXPECT_EQ(parts.directory, "/a.d/b/");
    EXPECT_EQ(parts.name, "");
    EXPECT_EQ(parts.extension, "");

    parts = platform::splitPath("a.d/file");  // a dot in a folder is not the file's
    EXPECT_EQ(parts.name, "file");
    EXPECT_EQ(parts.extension, "");

    for (const char* name : {".profile", ".", ".."}) {
        parts = platform::splitPath(std::string("/x/") + name);
        EXPECT_EQ(parts.name, name);
        EXPECT_EQ(parts.extension, "");
    }

    parts = platform::splitPath("trailing.");
    EXPECT_EQ(parts.name, "trailing");
    EXPECT_EQ(parts.extension, ".");
}

TEST(HomeDirectory, FollowsHomeAndFallsBackWhenUnset) {
    {
        ScopedEnvironment home("HOME", "/some/where");
        EXPECT_EQ(platform::homeDirectory(), "/some/where");
    }
    for (std::optional<std::string> value : {std::optional<std::string>(), std::optional<std::string>("")}) {
        ScopedEnvironment home("HOME", value);
        std::string found = platform::homeDirectory();
        EXPECT_TRUE(platform::isAbsolutePath(found)) << found;
    }
}

TEST(OwnFolders, ProgramAndLibraryFoldersNameThisTestProgram) {
    std::string expected = fs::canonical("/proc/self/exe").parent_path().string() + "/";
    EXPECT_EQ(platform::programPath(), fs::canonical("/proc/self/exe").string());
    EXPECT_EQ(platform::programDirectory(), expected);
    // The layer is linked statically into this program, so its binary is the program.
    EXPECT_EQ(platform::libraryDirectory(), expected);
}

}  // namespace
