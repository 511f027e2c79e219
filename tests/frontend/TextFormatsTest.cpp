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
    EXPECT_EQ(formatLogRecord("t", "Failed", "/in/c.pdf", "/out/", "why"),
              "[Time:] t\n[State:] Failed\n[Reason:] why\n[InputFile:] /in/c.pdf\n[Destination:] /out/\n\n");
}

// The library answers one code for every write failure: the words depend on
// whether the folder could be written, and name the type otherwise.
// A page too large at its resolution is not a write failure: the words
// name the resolution and ask for a lower one, and keep the disk out of it.
TEST(TextFormats, PageFailureReasonsSayWhatToChange) {
    EXPECT_EQ(pageFailureReason(-99, 3, true, 6, 100, 100),
              "page 3: the GIF image cannot be written: try another image type or colour depth, or free disk "
              "space");
    EXPECT_EQ(pageFailureReason(-5, 9, true, 4, 100, 100), "page 9: the page cannot be converted (error -5)");
    EXPECT_EQ(pageFailureReason(-8, 1, true, 4, 500, 500),
              "page 1: the page has too many pixels at 500 dpi to be drawn or saved: choose a lower DPI in "
              "step 2");
    EXPECT_EQ(
        pageFailureReason(-8, 2, false, 4, 500, 300),
        "page 2: the page has too many pixels at 500 x 300 dpi to be drawn or saved: choose a lower DPI "
        "in step 2");
    EXPECT_EQ(openFailureReason(-2, false), "the file is missing or cannot be read");
}

TEST(TextFormats, LostPagesAreNamedInRunsAndLongListsCounted) {
    const std::string one =
        ": its content is lost in the damaged document, so its image is blank or incomplete";
    const std::string many =
        ": their content is lost in the damaged document, so their images are blank or incomplete";
    struct Case {
        std::vector<int> pages;
        int pageCount;
        std::string expected;
    };
    std::vector<int> scattered;
    for (int page = 1; page <= 30; page += 2)
        scattered.push_back(page);  // 15 runs of one page
    scattered.push_back(32);
    const Case cases[] = {
        {{7}, 9, "page 7 of 9" + one},
        {{2, 4}, 9, "pages 2 and 4 of 9" + many},
        {{3, 5, 6, 7, 8, 9, 12}, 12, "pages 3, 5-9 and 12 of 12" + many},
        {{1, 2, 3}, 3, "pages 1-3 of 3" + many},
        {scattered, 40, "pages 1, 3, 5, 7, 9, 11, 13, 15, 17, 19 and 6 more of 40" + many},
    };
    for (const Case& test : cases)
        EXPECT_EQ(lostContentReason(test.pages, test.pageCount), test.expected);
}

TEST(TextFormats, FilesNotAddedAreNamedWithTheirReasons) {
    EXPECT_EQ(notAddedReason(-3, false), "not a PDF document");
    EXPECT_EQ(notAddedReason(-3, true), "damaged beyond repair");
    EXPECT_EQ(notAddedReason(-2, false), "cannot be read");
    EXPECT_EQ(notAddedReason(-99, true), "cannot be opened (error -99)");

    EXPECT_EQ(notAddedMessage({{"a.pdf", "not a PDF document"}}),
              "This file was not added:\n\na.pdf: not a PDF document");
    std::vector<std::pair<std::string, std::string>> files;
    for (size_t i = 0; i < kMaxNamedFiles + 2; ++i)
        files.emplace_back("f" + std::to_string(i) + ".pdf", "damaged beyond repair");
    std::string text = notAddedMessage(files);
    EXPECT_EQ(text.substr(0, text.find('\n')), "These files were not added:");
    EXPECT_NE(text.find("f14.pdf: damaged beyond repair\n... and 2 more"), std::string::npos) << text;
    EXPECT_EQ(text.find("f15.pdf"), std::string::npos) << text;
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
