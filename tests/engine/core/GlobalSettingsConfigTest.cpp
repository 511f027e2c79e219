#include "engine/core/GlobalSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/core/SystemFontList.h"
#include "tests/engine/core/SettingsTestSupport.h"

namespace rendova {
namespace {

using test::SettingsTest;

std::string fileOf(const DisplayFontRecord* record) {
    return record ? record->getFile().getCString() : "(none)";
}

std::string str(const std::unique_ptr<DynString>& s) {
    return s ? s->getCString() : "(none)";
}

// The first line of an open file, or "(none)" for no file.
std::string firstLine(FILE* file) {
    if (!file)
        return "(none)";
    char line[256] = {};
    if (!std::fgets(line, sizeof line, file))
        line[0] = '\0';
    std::fclose(file);
    std::string text(line);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

TEST_F(SettingsTest, QuotedWordsMayHoldSpaces) {
    auto settings = load(
        "font-type1 \"My Font\" \"/fonts/with space/a.pfb\"\n"
        "font-truetype 'Other Font' '/x y/b.ttf'   \n"
        "cid-to-unicode Adobe-GB1 \"/unterminated path\n");
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(fileOf(settings->findSubstituteFont("My Font")), "/fonts/with space/a.pfb");
    EXPECT_EQ(fileOf(settings->findSubstituteFont("Other Font")), "/x y/b.ttf");
    // An unterminated quote runs to the end of the line (not into the next).
    EXPECT_EQ(str(settings->getCidToUnicodeFile("Adobe-GB1")), "/unterminated path");
}

TEST_F(SettingsTest, CommentsBlankLinesAndEveryLineEndAreAccepted) {
    auto settings = load(
        "# a comment\n\n   \t\n#screen-size 3\r"
        "screen-size 4\r\nscreen-dot-radius 5\rverbose yes");
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(settings->getHalftoneSize(), 4);
    EXPECT_EQ(settings->getHalftoneDotRadius(), 5);
    EXPECT_TRUE(settings->getVerbose());
}

TEST_F(SettingsTest, YesNoFlagsAcceptOnlyTheTwoWords) {
    auto settings = load(
        "font-engine no\n"
        "font-antialias no\n"
        "vector-antialias no\n"
        "stroke-adjust no\n"
        "map-numeric-glyph-names no\n"
        "map-unknown-glyph-names yes\n"
        "verbose yes\n"
        "quiet yes\n"
        "font-engine maybe\n"
        "stroke-adjust Yes\n"
        "map-unknown-glyph-names 0\n");
    EXPECT_FALSE(settings->getFontEngineEnabled());
    EXPECT_FALSE(settings->getFontAntialias());
    EXPECT_FALSE(settings->getAntialias());
    EXPECT_FALSE(settings->getStrokeAdjustment());
    EXPECT_FALSE(settings->getNumericGlyphNameMapping());
    EXPECT_TRUE(settings->getUnlistedGlyphNameMapping());
    EXPECT_TRUE(settings->getVerbose());
    EXPECT_TRUE(settings->getQuietFlag());
    // The three wrong words are reported and leave their flags as they were.
    ASSERT_EQ(m_errors.count(), 3u);
    EXPECT_TRUE(m_errors.contains("line 9"));
    EXPECT_TRUE(m_errors.contains("'maybe'"));
    EXPECT_TRUE(m_errors.contains("line 10"));
    EXPECT_TRUE(m_errors.contains("line 11"));
}

TEST_F(SettingsTest, WrongArgumentCountsAreReportedAndChangeNothing) {
    auto settings = load(
        "font-engine\n"
        "font-engine no no\n"
        "screen-size 1 2\n"
        "font-type1 OnlyName\n"
        "paper-size\n"
        "paper-size 1 2 3\n"
        "imageable-area 1 2 3\n"
        "bind ctrl-a any\n"
        "unbind ctrl-a\n"
        "include\n");
    EXPECT_EQ(m_errors.count(), 10u);
    EXPECT_TRUE(m_errors.contains("'font-engine' needs 1 argument"));
    EXPECT_TRUE(m_errors.contains("'bind' needs at least 3 arguments"));
    EXPECT_TRUE(m_errors.contains("'paper-size' needs 1 to 2 arguments"));
    EXPECT_TRUE(settings->getFontEngineEnabled());
    EXPECT_EQ(settings->getHalftoneSize(), -1);
    EXPECT_EQ(settings->findSubstituteFont("OnlyName"), nullptr);
    EXPECT_EQ(settings->getPaperWidth(), 612);
}

TEST_F(SettingsTest, ReportsNameTheFileAndLine) {
    std::string file = write("named.conf", "\n\nno-such-command 1\n");
    GlobalSettings settings(file.c_str());
    ASSERT_EQ(m_errors.count(), 1u);
    const auto& report = m_errors.reports()[0];
    EXPECT_EQ(report.position, -1);
    EXPECT_NE(report.message.find(file), std::string::npos);
    EXPECT_NE(report.message.find("line 3"), std::string::npos);
    EXPECT_NE(report.message.find("'no-such-command'"), std::string::npos);
}

TEST_F(SettingsTest, RetiredCommandsSayWhatReplacedThem) {
    auto settings = load("font-path /x\nantialias yes\nCMAP-DIR a b\n");
    // An unknown word once each, plus one or two pointers for retired ones.
    EXPECT_EQ(m_errors.count(), 6u);
    EXPECT_TRUE(m_errors.contains("use 'font-dir'"));
    EXPECT_TRUE(m_errors.contains("use 'font-antialias'"));
    EXPECT_TRUE(m_errors.contains("use 'vector-antialias'"));
    EXPECT_TRUE(m_errors.contains("unknown command 'CMAP-DIR'"));
}

TEST_F(SettingsTest, ALongLineIsReadWholeAndItsTailIsNoCommand) {
    // A 600-byte comment whose tail, cut at 511 bytes, reads as a command: a
    // reader that took the pieces of a long line for lines would turn the
    // font engine off.
    std::string longComment = "#" + std::string(510, 'x') + "font-engine no" + std::string(75, ' ');
    ASSERT_EQ(longComment.size(), 600u);
    // And a 600-byte path is one argument, whole.
    std::string longPath = "/" + std::string(599, 'p');
    auto settings = load(longComment + "\ncid-to-unicode Adobe-Korea1 " + longPath + "\n");
    EXPECT_TRUE(m_errors.empty());
    EXPECT_TRUE(settings->getFontEngineEnabled());
    EXPECT_EQ(str(settings->getCidToUnicodeFile("Adobe-Korea1")), longPath);
}

TEST_F(SettingsTest, AnAbsurdlyLongLineIsSkippedAndReadingGoesOn) {
    std::string huge(70000, 'z');
    auto settings = load("screen-size " + huge + "\nscreen-size 6\n");
    ASSERT_EQ(m_errors.count(), 1u);
    EXPECT_TRUE(m_errors.contains("line 1: line longer than"));
    EXPECT_EQ(settings->getHalftoneSize(), 6);
}

TEST_F(SettingsTest, IncludedFilesAreReadInPlaceWithTheirOwnLineNumbers) {
    std::string inner = write("inner.conf", "screen-size 3\nbogus\n");
    auto settings = load("screen-size 1\ninclude " + inner + "\nscreen-dot-radius 2\n");
    EXPECT_EQ(settings->getHalftoneSize(), 3);
    EXPECT_EQ(settings->getHalftoneDotRadius(), 2);
    ASSERT_EQ(m_errors.count(), 1u);
    EXPECT_TRUE(m_errors.contains("'" + inner + "', line 2"));
}

TEST_F(SettingsTest, AMissingOrSpecialIncludeIsReported) {
    // A device that never ends and a folder are not configuration files.
    auto settings = load("include " + path("absent.conf") + "\ninclude /dev/zero\ninclude " + path("") +
                         "\nglyph-names /dev/zero\nscreen-size 2\n");
    ASSERT_EQ(m_errors.count(), 4u);
    EXPECT_TRUE(m_errors.contains("line 2: cannot open the included file '/dev/zero'"));
    EXPECT_TRUE(m_errors.contains("cannot open the glyph-name file '/dev/zero'"));
    EXPECT_EQ(settings->getHalftoneSize(), 2);
}

TEST_F(SettingsTest, ASelfIncludeStopsAtTheDepthLimit) {
    std::string self = path("self.conf");
    write("self.conf", "to-unicode-dir " + path("dir") + "\ninclude " + self + "\n");
    write("dir/marker", "found\n");
    GlobalSettings settings(self.c_str());
    // Reported once, at the deepest level; every level was read.
    ASSERT_EQ(m_errors.count(), 1u);
    EXPECT_TRUE(m_errors.contains("nest deeper than 16"));
    EXPECT_EQ(firstLine(settings.openDirListFile("marker")), "found");
}

TEST_F(SettingsTest, IntegersAndNumbersAreChecked) {
    auto settings = load(
        "screen-size 12\n"
        "screen-dot-radius -\n"
        "screen-gamma 1.8\n"
        "screen-black-threshold -.25\n"
        "screen-white-threshold 0.9\n"
        "screen-size 1.5\n"
        "screen-size +3\n"
        "screen-size ''\n"
        "screen-gamma 1e3\n"
        "screen-gamma \"\"\n"
        "screen-dot-radius 99999999999999\n");
    EXPECT_EQ(settings->getHalftoneSize(), 12);
    EXPECT_EQ(settings->getHalftoneDotRadius(), 2147483647);  // saturated, read after the lone "-" gave 0
    EXPECT_DOUBLE_EQ(settings->getHalftoneGamma(), 1.8);
    EXPECT_DOUBLE_EQ(settings->getHalftoneBlackLimit(), -0.25);
    EXPECT_DOUBLE_EQ(settings->getHalftoneWhiteLimit(), 0.9);
    EXPECT_EQ(m_errors.count(), 5u);
    EXPECT_TRUE(m_errors.contains("'1.5' is not an integer"));
    EXPECT_TRUE(m_errors.contains("'' is not an integer"));
    EXPECT_TRUE(m_errors.contains("'1e3' is not a number"));
}

TEST_F(SettingsTest, ALoneMinusReadsAsZero) {
    auto settings = load("screen-dot-radius -\nscreen-gamma -\n");
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(settings->getHalftoneDotRadius(), 0);
    EXPECT_EQ(settings->getHalftoneGamma(), 0.0);
}

TEST_F(SettingsTest, ScreenTypeWords) {
    auto settings = load("screen-type clustered\n");
    EXPECT_EQ(settings->getHalftoneKind(), 2);
    settings = load("screen-type stochastic-clustered\nscreen-type round\n");
    EXPECT_EQ(settings->getHalftoneKind(), 3);
    EXPECT_EQ(m_errors.count(), 1u);
    settings = load("screen-type dispersed\n");
    EXPECT_EQ(settings->getHalftoneKind(), 1);
}

TEST_F(SettingsTest, PaperSizeByNameOrBySizeSetsTheImageableArea) {
    auto settings = load("paper-size legal\n");
    EXPECT_EQ(settings->getPaperHeight(), 1008);
    settings = load("paper-size 100 200x\nimageable-area 1 2 3 4\n");
    EXPECT_TRUE(m_errors.empty());  // sizes are read without the integer check
    EXPECT_EQ(settings->getPaperWidth(), 100);
    EXPECT_EQ(settings->getPaperHeight(), 200);
    int llx, lly, urx, ury;
    settings->getImageableArea(&llx, &lly, &urx, &ury);
    EXPECT_EQ(llx, 1);
    EXPECT_EQ(lly, 2);
    EXPECT_EQ(urx, 3);
    EXPECT_EQ(ury, 4);
    settings = load("paper-size 300 400\n");
    settings->getImageableArea(&llx, &lly, &urx, &ury);
    EXPECT_EQ(urx, 300);
    EXPECT_EQ(ury, 400);
    settings = load("paper-size tabloid\n");
    EXPECT_EQ(m_errors.count(), 1u);
    EXPECT_TRUE(m_errors.contains("unknown paper size 'tabloid'"));
    EXPECT_EQ(settings->getPaperWidth(), 612);
}

TEST_F(SettingsTest, KeyedDirectoriesAreSearchedInConfiguredOrder) {
    write("first/Adobe-Japan1/UniJIS-UCS2-H", "first\n");
    write("second/Adobe-Japan1/UniJIS-UCS2-H", "second\n");
    write("second/Adobe-Japan1/90ms-RKSJ-H", "second only\n");
    auto settings = load("cmap-dir Adobe-Japan1 " + path("first/Adobe-Japan1") +
                         "\n"
                         "cmap-dir Adobe-Japan1 " +
                         path("second/Adobe-Japan1") +
                         "\n"
                         "cmap-dir Adobe-GB1 " +
                         path("second/Adobe-Japan1") + "\n");
    EXPECT_EQ(firstLine(settings->openKeyedDirFile("Adobe-Japan1", "UniJIS-UCS2-H")), "first");
    EXPECT_EQ(firstLine(settings->openKeyedDirFile("Adobe-Japan1", "90ms-RKSJ-H")), "second only");
    EXPECT_EQ(firstLine(settings->openKeyedDirFile("Adobe-Japan1", "Absent-H")), "(none)");
    EXPECT_EQ(firstLine(settings->openKeyedDirFile("Adobe-GB1", "UniJIS-UCS2-H")), "second");
    EXPECT_EQ(firstLine(settings->openKeyedDirFile("Adobe-CNS1", "UniJIS-UCS2-H")), "(none)");
}

TEST_F(SettingsTest, ToUnicodeDirectoriesAreSearchedInOrder) {
    write("a/Map", "a\n");
    write("b/Map", "b\n");
    write("b/Other", "b other\n");
    auto settings = load("to-unicode-dir " + path("a") + "\nto-unicode-dir " + path("b") + "\n");
    EXPECT_EQ(firstLine(settings->openDirListFile("Map")), "a");
    EXPECT_EQ(firstLine(settings->openDirListFile("Other")), "b other");
}

TEST_F(SettingsTest, FontFilesAreSearchedDirectoryByDirectoryThenByExtension) {
    write("d1/Font.ttf", "");
    write("d2/Font.pfb", "");
    write("d2/Other.pfb", "");
    write("d2/Other.ttf", "");
    auto settings = load("font-dir " + path("d1") + "\nfont-dir " + path("d2") + "\n");
    const char* const extensions[] = {".pfb", ".ttf", nullptr};
    // d1's TrueType file wins over d2's Type 1 file, though ".pfb" is first.
    EXPECT_EQ(str(settings->findFontFile("Font", extensions)), path("d1/Font.ttf"));
    EXPECT_EQ(str(settings->findFontFile("Other", extensions)), path("d2/Other.pfb"));
    EXPECT_EQ(str(settings->findFontFile("None", extensions)), "(none)");
    // The path is made absolute.
    auto relative =
        load("font-dir settings-test/" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "/d2/../d1\n");
    EXPECT_EQ(str(relative->findFontFile("Font", extensions)), path("d1/Font.ttf"));
}

TEST_F(SettingsTest, CidFontsByNameThenByCollection) {
    auto settings = load(
        "cid-font-type1 MSMincho /named.pfb\n"
        "collection-font-truetype Adobe-Japan1 /collection.ttf\n"
        "cid-font-truetype MSMincho /named.ttf\n"
        "collection-font-type1 Adobe-GB1 /gb.pfb\n");
    const DisplayFontRecord* named = settings->findSubstituteCidFont("MSMincho", "Adobe-Japan1");
    EXPECT_EQ(fileOf(named), "/named.ttf");  // the later command replaced the earlier
    EXPECT_EQ(named->getKind(), DisplayFontRecord::kTrueType);
    EXPECT_EQ(fileOf(settings->findSubstituteCidFont("MSGothic", "Adobe-Japan1")), "/collection.ttf");
    EXPECT_EQ(fileOf(settings->findSubstituteCidFont(nullptr, "Adobe-Japan1")), "/collection.ttf");
    const DisplayFontRecord* gb = settings->findSubstituteCidFont(nullptr, "Adobe-GB1");
    EXPECT_EQ(fileOf(gb), "/gb.pfb");
    EXPECT_EQ(gb->getKind(), DisplayFontRecord::kType1);
    EXPECT_EQ(settings->findSubstituteCidFont("MSMincho2", "Adobe-Korea1"), nullptr);
    // The CID tables are apart from the 8-bit font table.
    EXPECT_EQ(settings->findSubstituteFont("MSMincho"), nullptr);
}

TEST_F(SettingsTest, DisplayFontCommandsReplaceEarlierRecords) {
    auto settings = load("font-type1 Foo /foo.pfb\nfont-truetype Foo /foo.ttf\n");
    const DisplayFontRecord* record = settings->findSubstituteFont("Foo");
    EXPECT_EQ(fileOf(record), "/foo.ttf");
    EXPECT_EQ(record->getKind(), DisplayFontRecord::kTrueType);
}

TEST_F(SettingsTest, UnicodeMapFilesAreConfiguredByCollectionAndFontNameFragment) {
    auto settings = load(
        "cid-to-unicode Adobe-Japan1 /a.cidToUnicode\n"
        "cid-to-unicode Adobe-Japan1 /b.cidToUnicode\n"
        "unicode-to-unicode Wingding /wingding.unicodeToUnicode\n");
    EXPECT_EQ(str(settings->getCidToUnicodeFile("Adobe-Japan1")), "/b.cidToUnicode");
    EXPECT_EQ(str(settings->getCidToUnicodeFile("Adobe-GB1")), "(none)");
    EXPECT_EQ(str(settings->getUnicodeToUnicodeFile("ABCDEF+Wingdings-Regular")),
              "/wingding.unicodeToUnicode");
    EXPECT_EQ(str(settings->getUnicodeToUnicodeFile("Arial")), "(none)");
}

TEST_F(SettingsTest, GlyphNameFilesExtendTheUnicodeTable) {
    std::string names = write("names.txt",
                              "e000 myglyph\n"
                              "0041\tA.alt\n"
                              "zz0 bad\n"
                              "onlyone\n"
                              "1F600 grinning trailing words ignored\n"
                              "110000 beyondunicode\n"
                              "0042 A\n");
    auto settings = load("glyph-names " + names + "\nglyph-names " + path("absent.txt") + "\n");
    EXPECT_EQ(settings->glyphNameToUnicode("myglyph"), 0xE000);
    EXPECT_EQ(settings->glyphNameToUnicode("A.alt"), 0x41);
    EXPECT_EQ(settings->glyphNameToUnicode("grinning"), 0x1F600);
    EXPECT_EQ(settings->glyphNameToUnicode("A"), 0x42);  // replaces the built-in row
    EXPECT_EQ(settings->glyphNameToUnicode("bad"), 0);
    EXPECT_EQ(settings->glyphNameToUnicode("beyondunicode"), 0);
    EXPECT_EQ(m_errors.count(), 4u);
    EXPECT_TRUE(m_errors.contains("line 3: 'zz0' is not a hexadecimal Unicode value"));
    EXPECT_TRUE(m_errors.contains("line 4: not a Unicode value and a glyph name"));
    EXPECT_TRUE(m_errors.contains("cannot open the glyph-name file"));
}

TEST_F(SettingsTest, CommandsNobodyConsultsStillCheckTheirArguments) {
    auto good = load(
        "unicode-map Latin1 /latin1.unicodeMap\n"
        "print-file out.ps\n"
        "print-font Foo /foo.pfa\n"
        "print-cid-font Bar horizontal a b\n"
        "print-named-cid-font Baz vertical a b\n"
        "crop-to-paper yes\nexpand-to-paper no\nshrink-to-paper yes\ncenter-on-paper no\nduplex yes\n"
        "print-level level3-separable\n"
        "embed-type1 yes\nembed-truetype no\nembed-cid-type1 yes\nembed-cid-truetype no\n"
        "preload-images yes\nprint-opi no\nprint-ascii-hex yes\n"
        "text-encoding UTF-8\ntext-line-end crlf\ntext-page-breaks no\ntext-keep-tiny-chars yes\n"
        "initial-zoom width\ncontinuous-view yes\nstart-full-screen no\n"
        "launch-command 'open it'\nurl-command 'browse %s'\n"
        "bind ctrl-shift-f35 any zoomIn zoomOut\n"
        "bind alt-mouse-press7 window,outline,scroll-lock-off cmd\n"
        "bind space fullscreen cmd\nbind x continuous cmd\nbind pgdn any cmd\n"
        "unbind mouse-release1 any\n");
    EXPECT_TRUE(m_errors.empty()) << m_errors.reports()[0].message;

    auto bad = load(
        "print-cid-font Bar diagonal a b\n"
        "duplex perhaps\n"
        "print-level level4\n"
        "text-line-end lfcr\n"
        "bind ctrl-f36 any cmd\n"
        "bind mouse-press8 any cmd\n"
        "bind ctrl- any cmd\n"
        "bind xy any cmd\n"
        "bind a window,bogus cmd\n"
        "bind a window, cmd\n"
        "unbind f0 any\n");
    EXPECT_EQ(m_errors.count(), 11u);
    EXPECT_TRUE(m_errors.contains("'diagonal' is not one of horizontal, vertical"));
    EXPECT_TRUE(m_errors.contains("'ctrl-f36' is not a key"));
    EXPECT_TRUE(m_errors.contains("'bogus' is not a key context"));
}

}  // namespace
}  // namespace rendova
