#include "frontend/TextFormats.h"

#include <gtest/gtest.h>

#include "platform/FileInfo.h"
#include "tests/support/ScopedEnvironment.h"

namespace glimmark {

namespace {

TEST(TextFormats, SizesCountPartKilobytesAsOneExceptForEmptyFiles) {
    EXPECT_EQ(formatSizeKB(0), "0 KB");
    EXPECT_EQ(formatSizeKB(1), "1 KB");
    EXPECT_EQ(formatSizeKB(500), "1 KB");
    EXPECT_EQ(formatSizeKB(1023), "1 KB");
    EXPECT_EQ(formatSizeKB(1024), "1 KB");
    EXPECT_EQ(formatSizeKB(2047), "1 KB");
    EXPECT_EQ(formatSizeKB(5000000), "4882 KB");
    EXPECT_EQ(formatSizeKB(5ull << 40), "5368709120 KB") << "no wrap past 2 GB";
}

TEST(TextFormats, AttributesNameOnlyTheKnownCombinations) {
    using namespace platform;
    EXPECT_EQ(attributeText(kAttributeReadOnly), "R");
    EXPECT_EQ(attributeText(kAttributeHidden), "H");
    EXPECT_EQ(attributeText(kAttributeArchive), "A");
    EXPECT_EQ(attributeText(kAttributeReadOnly | kAttributeHidden), "RH");
    EXPECT_EQ(attributeText(kAttributeReadOnly | kAttributeArchive), "RA");
    EXPECT_EQ(attributeText(kAttributeHidden | kAttributeArchive), "HA");
    EXPECT_EQ(attributeText(kAttributeReadOnly | kAttributeHidden | kAttributeArchive), "RHA");
    EXPECT_EQ(attributeText(kAttributeReadOnly | kAttributeSystem), "---");
    EXPECT_EQ(attributeText(0), "---");
}

TEST(TextFormats, TimesFollowTheirFixedPatterns) {
    platform::LocalTime time;
    time.year = 2026;
    time.month = 3;
    time.day = 7;
    time.hour = 9;
    time.minute = 5;
    time.second = 2;
    EXPECT_EQ(formatLogTime(time), "[07-03-2026 9:05:02]");

    rendova::test::ScopedEnvironment zone("TZ", std::string("UTC0"));
    tzset();
    // 2026-03-07 09:05:00 UTC: month first in the properties panel.
    EXPECT_EQ(formatFileTime(1772874300), "03-07-2026 9:05");
}

TEST(TextFormats, LogRecordHasFourLabelledLinesAndABlankOne) {
    EXPECT_EQ(
        formatLogRecord("[07-03-2026 9:05:02]", "Succeed", "/in/a.pdf", "/out/"),
        "[Time:] [07-03-2026 9:05:02]\n[State:] Succeed\n[InputFile:] /in/a.pdf\n[Destination:] /out/\n\n");
    EXPECT_EQ(formatLogRecord("t", "Failed", "/in/b.pdf", ""),
              "[Time:] t\n[State:] Failed\n[InputFile:] /in/b.pdf\n[Destination:] \n\n");
}

// The list stops at the library's 500 dpi; the "1200" of older settings
// files (index 8) reads as that last entry.
TEST(TextFormats, ResolutionIndexesMapToTheListAndOthersPassThrough) {
    const int expected[] = {72, 96, 100, 120, 150, 200, 300, 500, 500};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(dpiFromIndex(i), expected[i]);
    EXPECT_EQ(std::string(kDpiChoices[kDpiChoiceCount - 1]), "500");
    EXPECT_EQ(dpiChoiceIndex(8), 7);
    EXPECT_EQ(dpiChoiceIndex(3), 3);
    EXPECT_EQ(dpiFromIndex(9), 9);
    EXPECT_EQ(dpiFromIndex(-1), -1);
    EXPECT_EQ(dpiFromIndex(250), 250);
}

TEST(TextFormats, DisplayExtensionsFollowTheImageType) {
    const char* expected[] = {".bmp", ".emf", ".wmf", ".jpg", ".png", ".gif", ".tif", ".pcx"};
    for (int type = 1; type <= 8; ++type)
        EXPECT_EQ(displayExtension(type), expected[type - 1]);
    EXPECT_EQ(displayExtension(0), ".bmp");
    EXPECT_EQ(displayExtension(9), ".bmp");
}

TEST(TextFormats, FolderPathsMustBeAbsoluteAndShortEnough) {
    EXPECT_EQ(validFolderPath("/out"), "/out/");
    EXPECT_EQ(validFolderPath("/out/"), "/out/");
    EXPECT_EQ(validFolderPath("/"), "/");
    EXPECT_EQ(validFolderPath(""), "");
    EXPECT_EQ(validFolderPath("out/x"), "");
    EXPECT_EQ(validFolderPath("c:log"), "");
    std::string fits = "/" + std::string(257, 'a');
    EXPECT_EQ(validFolderPath(fits), fits + "/");
    EXPECT_EQ(validFolderPath(fits + "b"), "") << "longer paths are refused, not cut";
}

TEST(TextFormats, DefaultFolderIsTheHomeFolder) {
    rendova::test::ScopedEnvironment home("HOME", std::string("/home/tester"));
    EXPECT_EQ(defaultFolder(), "/home/tester/");
}

}  // namespace

}  // namespace glimmark
