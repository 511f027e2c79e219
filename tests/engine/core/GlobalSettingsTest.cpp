#include "engine/core/GlobalSettings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>

#include "engine/core/BuiltinEncodings.h"
#include "engine/core/CodeToCidMap.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/StandardFontMetrics.h"
#include "engine/core/SystemFontList.h"
#include "tests/engine/core/SettingsTestSupport.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using test::SettingsTest;

constexpr const char* kUrwDir = "/usr/share/fonts/type1/urw-base35";

const char* const kStandardFonts[] = {
    "Courier",          "Courier-Bold",          "Courier-BoldOblique", "Courier-Oblique", "Helvetica",
    "Helvetica-Bold",   "Helvetica-BoldOblique", "Helvetica-Oblique",   "Symbol",          "Times-Bold",
    "Times-BoldItalic", "Times-Italic",          "Times-Roman",         "ZapfDingbats",
};

std::string fileOf(const DisplayFontRecord* record) {
    return record ? record->getFile().getCString() : "(none)";
}

TEST_F(SettingsTest, WithoutAConfigurationFileTheDefaultsStand) {
    GlobalSettings settings(nullptr);
    EXPECT_TRUE(m_errors.empty());
    EXPECT_EQ(settings.getPaperWidth(), 612);
    EXPECT_EQ(settings.getPaperHeight(), 792);
    int llx, lly, urx, ury;
    settings.getImageableArea(&llx, &lly, &urx, &ury);
    EXPECT_EQ(llx, 0);
    EXPECT_EQ(lly, 0);
    EXPECT_EQ(urx, 612);
    EXPECT_EQ(ury, 792);
    EXPECT_TRUE(settings.getFontEngineEnabled());
    EXPECT_TRUE(settings.getFontAntialias());
    EXPECT_TRUE(settings.getAntialias());
    EXPECT_TRUE(settings.getStrokeAdjustment());
    EXPECT_EQ(settings.getHalftoneKind(), 0);
    EXPECT_EQ(settings.getHalftoneSize(), -1);
    EXPECT_EQ(settings.getHalftoneDotRadius(), -1);
    EXPECT_EQ(settings.getHalftoneGamma(), 1.0);
    EXPECT_EQ(settings.getHalftoneBlackLimit(), 0.0);
    EXPECT_EQ(settings.getHalftoneWhiteLimit(), 1.0);
    EXPECT_TRUE(settings.getNumericGlyphNameMapping());
    EXPECT_FALSE(settings.getUnlistedGlyphNameMapping());
    EXPECT_FALSE(settings.getVerbose());
    EXPECT_FALSE(settings.getQuietFlag());
    EXPECT_EQ(settings.findSubstituteFont("Helvetica"), nullptr);
    EXPECT_EQ(settings.findSubstituteCidFont("X", "Adobe-Japan1"), nullptr);
    EXPECT_EQ(settings.openKeyedDirFile("Adobe-Japan1", "90ms-RKSJ-H"), nullptr);
    EXPECT_EQ(settings.openDirListFile("x"), nullptr);
    const char* const extensions[] = {".pfb", nullptr};
    EXPECT_EQ(settings.findFontFile("Helvetica", extensions), nullptr);
    // Without CMap directories only the built-in identity CMaps exist, and
    // no collection has a CID-to-Unicode file.
    RefPtr<CodeToCidMap> identity = settings.getCMap("Adobe-Identity-0", "Identity-H");
    ASSERT_TRUE(identity);
    EXPECT_TRUE(identity->isIdentity());
    EXPECT_FALSE(settings.getCidToUnicodeMap("Adobe-Japan1"));
    EXPECT_FALSE(settings.getUnicodeToUnicodeMap("Helvetica"));
}

TEST_F(SettingsTest, DefaultFileInTheHomeDirectoryIsRead) {
    write("home/rendova.conf", "screen-size 7\n");
    GlobalSettings settings(nullptr);
    EXPECT_EQ(settings.getHalftoneSize(), 7);
    // An empty or missing path falls back to it as well.
    GlobalSettings empty("");
    EXPECT_EQ(empty.getHalftoneSize(), 7);
    GlobalSettings missing(path("no-such.conf").c_str());
    EXPECT_EQ(missing.getHalftoneSize(), 7);
    // A given file that opens is read instead.
    std::string given = write("given.conf", "screen-size 9\n");
    GlobalSettings other(given.c_str());
    EXPECT_EQ(other.getHalftoneSize(), 9);
}

TEST_F(SettingsTest, GlyphNamesMapToMacOsRomanCodesForTheMacCmapRoute) {
    GlobalSettings settings(nullptr);
    EXPECT_EQ(settings.glyphNameToCode("space"), 32);
    EXPECT_EQ(settings.glyphNameToCode("A"), 65);
    EXPECT_EQ(settings.glyphNameToCode("Adieresis"), 128);
    EXPECT_EQ(settings.glyphNameToCode("quotesingle"), 39);
    // Characters of the Mac OS set that MacRomanEncoding leaves out are
    // still found in a (1, 0) cmap at their Mac codes.
    EXPECT_EQ(settings.glyphNameToCode("Delta"), 198);
    EXPECT_EQ(settings.glyphNameToCode("pi"), 185);
    EXPECT_EQ(settings.glyphNameToCode("nosuchglyph"), 0);
    EXPECT_EQ(settings.glyphNameToCode(".notdef"), 0);
}

TEST(GlobalSettingsNameToCode, ANameUnderTwoCodesKeepsTheLowerOne) {
    const char* encoding[256] = {};
    encoding[10] = "twice";
    encoding[200] = "twice";
    encoding[201] = "once";
    NameToIntMap map;
    GlobalSettings::fillNameToCode(map, encoding);
    EXPECT_EQ(map.lookup("twice"), 10);
    EXPECT_EQ(map.lookup("once"), 201);
    EXPECT_EQ(map.getCount(), 2);
}

TEST_F(SettingsTest, GlyphNamesMapToUnicode) {
    GlobalSettings settings(nullptr);
    EXPECT_EQ(settings.glyphNameToUnicode("A"), 0x41);
    EXPECT_EQ(settings.glyphNameToUnicode("Euro"), 0x20AC);
    EXPECT_EQ(settings.glyphNameToUnicode("Delta"), 0x2206);
    EXPECT_EQ(settings.glyphNameToUnicode("afii10017"), 0x0410);
    EXPECT_EQ(settings.glyphNameToUnicode("nosuchglyph"), 0);
}

TEST_F(SettingsTest, GlyphNameFormsSpellTheirUnicodeValue) {
    GlobalSettings settings(nullptr);
    const struct {
        const char* name;
        int unicode;
    } cases[] = {
        {"Elcyrillic", 0x041B}, {"uni041B", 0x041B},   {"uni041b", 0x041B}, {"u041B", 0x041B},
        {"u1F600", 0x1F600},    {"u10FFFF", 0x10FFFF}, {"u110000", 0},      {"uniD800", 0},
        {"uD83D", 0},           {"uni041", 0},         {"uni041B0", 0},     {"u041", 0},
        {"u1234567", 0},        {"uni041G", 0},        {"uni0000", 0},      {"uni", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(settings.glyphNameOrFormToUnicode(c.name), c.unicode) << c.name;
}

TEST_F(SettingsTest, CollectionWithoutAFileTakesItsValuesFromItsUcs2CMap) {
    write("cmap/Adobe-Japan1-UCS2",
          "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
          "1 begincodespacerange <0000> <FFFF> endcodespacerange\n"
          "2 beginbfchar <0001> <0020> <0011> <0030> endbfchar\n"
          "1 beginbfrange <0282> <0284> <4E00> endbfrange\n"
          "endcmap end end\n");
    auto settings = load("cmap-dir Adobe-Japan1 " + path("cmap") + "\n");
    RefPtr<CodeToUnicodeMap> map = settings->getCidToUnicodeMap("Adobe-Japan1");
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->matchesTag("Adobe-Japan1"));
    const std::pair<int, uint32_t> values[] = {
        {1, 0x20}, {17, 0x30}, {0x282, 0x4E00}, {0x284, 0x4E02}, {2, 0}};
    for (const auto& [cid, unicode] : values) {
        uint32_t u[CodeToUnicodeMap::kMaxValues] = {};
        settings->getCidToUnicodeMap("Adobe-Japan1")->mapToUnicode(cid, u, CodeToUnicodeMap::kMaxValues);
        EXPECT_EQ(u[0], unicode) << cid;
    }
    // The map is kept: a second font of the collection shares it.
    EXPECT_EQ(settings->getCidToUnicodeMap("Adobe-Japan1").get(), map.get());
    // A collection whose folder holds no such CMap has none.
    EXPECT_FALSE(load("cmap-dir Adobe-GB1 " + path("cmap") + "\n")->getCidToUnicodeMap("Adobe-GB1"));
}

TEST_F(SettingsTest, SettingsBuildAndReleaseTheStandardFontWidths) {
    {
        GlobalSettings settings(nullptr);
        int width = 0;
        ASSERT_TRUE(lookupStandardFontWidth(*findStandardFontRow("Helvetica"), "m", &width));
        EXPECT_EQ(width, 833);
        { GlobalSettings second(nullptr); }
        EXPECT_TRUE(lookupStandardFontWidth(*findStandardFontRow("Times-Roman"), "space", &width));
        EXPECT_EQ(width, 250);
    }
    EXPECT_EQ(findStandardFontRow("Helvetica")->widths, nullptr);
}

TEST_F(SettingsTest, PaperSizesByName) {
    GlobalSettings settings(nullptr);
    EXPECT_EQ(settings.setPaperSize("A4"), 1);
    EXPECT_EQ(settings.getPaperWidth(), 595);
    EXPECT_EQ(settings.getPaperHeight(), 842);
    int llx, lly, urx, ury;
    settings.getImageableArea(&llx, &lly, &urx, &ury);
    EXPECT_EQ(urx, 595);
    EXPECT_EQ(ury, 842);
    EXPECT_EQ(settings.setPaperSize("a4"), 0);  // names compare byte for byte
    EXPECT_EQ(settings.getPaperWidth(), 595);
    EXPECT_EQ(settings.setPaperSize("legal"), 1);
    EXPECT_EQ(settings.getPaperHeight(), 1008);
    EXPECT_EQ(settings.setPaperSize("A3"), 1);
    EXPECT_EQ(settings.getPaperHeight(), 1190);
    EXPECT_EQ(settings.setPaperSize("match"), 1);
    EXPECT_EQ(settings.getPaperWidth(), -1);
    settings.getImageableArea(&llx, &lly, &urx, &ury);
    EXPECT_EQ(urx, -1);
}

TEST_F(SettingsTest, AddDisplayFontReplacesTheOlderRecord) {
    GlobalSettings settings(nullptr);
    settings.addDisplayFont(std::make_unique<DisplayFontRecord>("F", DisplayFontRecord::kType1, "/a.pfb"));
    settings.addDisplayFont(std::make_unique<DisplayFontRecord>("F", DisplayFontRecord::kTrueType, "/b.ttf"));
    const DisplayFontRecord* record = settings.findSubstituteFont("F");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(fileOf(record), "/b.ttf");
    EXPECT_EQ(record->getKind(), DisplayFontRecord::kTrueType);
}

TEST_F(SettingsTest, AllFourteenStandardFontsResolveOnThisMachine) {
    std::string shipped = std::string(RENDOVA_SOURCE_DIR) + "/data/rendova.conf";
    GlobalSettings settings(shipped.c_str());
    settings.locateStandardFonts(nullptr);
    EXPECT_TRUE(m_errors.empty()) << m_errors.reports()[0].message;

    std::cout << "Standard fonts (shipped configuration, no Type 1 directory):\n";
    for (const char* name : kStandardFonts) {
        const DisplayFontRecord* record = settings.findSubstituteFont(name);
        ASSERT_NE(record, nullptr) << name;
        std::string file = record->getFile().getCString();
        std::cout << "  " << std::left << std::setw(22) << name
                  << (record->getKind() ? "TrueType " : "Type 1   ") << file << "\n";
        EXPECT_TRUE(fs::is_regular_file(file)) << name << ": " << file;
        EXPECT_STREQ(record->getName().getCString(), name);
    }
    // Every standard font draws with its URW file: the same outlines and
    // metrics as the font the documents name.
    for (const char* name : kStandardFonts) {
        const DisplayFontRecord* record = settings.findSubstituteFont(name);
        EXPECT_EQ(record->getKind(), DisplayFontRecord::kType1) << name;
        EXPECT_EQ(fs::path(fileOf(record)).parent_path(), fs::path(kUrwDir)) << name;
    }
    EXPECT_EQ(fileOf(settings.findSubstituteFont("Helvetica")),
              std::string(kUrwDir) + "/NimbusSans-Regular.t1");
    EXPECT_EQ(fileOf(settings.findSubstituteFont("Times-BoldItalic")),
              std::string(kUrwDir) + "/NimbusRoman-BoldItalic.t1");
    EXPECT_EQ(fileOf(settings.findSubstituteFont("Courier-Oblique")),
              std::string(kUrwDir) + "/NimbusMonoPS-Italic.t1");
    EXPECT_EQ(fileOf(settings.findSubstituteFont("Symbol")), std::string(kUrwDir) + "/StandardSymbolsPS.t1");
    EXPECT_EQ(fileOf(settings.findSubstituteFont("ZapfDingbats")), std::string(kUrwDir) + "/D050000L.t1");
}

TEST_F(SettingsTest, SymbolAndDingbatsFindTheirTypeOneFilesWithoutConfiguration) {
    // A program without the shipped configuration beside it still draws
    // symbols and dingbats with their own glyphs, not a text face's.
    GlobalSettings settings(nullptr);
    settings.locateStandardFonts(nullptr);
    EXPECT_TRUE(m_errors.empty());
    for (const char* name : {"Symbol", "ZapfDingbats"}) {
        const DisplayFontRecord* record = settings.findSubstituteFont(name);
        ASSERT_NE(record, nullptr) << name;
        EXPECT_EQ(record->getKind(), DisplayFontRecord::kType1) << name;
    }
    EXPECT_EQ(fileOf(settings.findSubstituteFont("ZapfDingbats")), std::string(kUrwDir) + "/D050000L.t1");
}

TEST_F(SettingsTest, ATypeOneDirectoryGivesEveryStandardFontItsTypeOneFile) {
    GlobalSettings settings(nullptr);
    settings.locateStandardFonts(kUrwDir);
    EXPECT_TRUE(m_errors.empty());
    for (const char* name : kStandardFonts) {
        const DisplayFontRecord* record = settings.findSubstituteFont(name);
        ASSERT_NE(record, nullptr) << name;
        EXPECT_EQ(record->getKind(), DisplayFontRecord::kType1) << name;
        EXPECT_EQ(fs::path(record->getFile().getCString()).extension(), ".t1") << name;
        EXPECT_TRUE(fs::is_regular_file(record->getFile().getCString())) << name;
    }
}

TEST_F(SettingsTest, TypeOneFileComesBeforeTrueTypeAndFallsBackPerFont) {
    write("type1/NimbusSans-Bold.t1", "%!PS-AdobeFont-1.0: fake\n");
    GlobalSettings settings(nullptr);
    settings.locateStandardFonts(path("type1").c_str());
    const DisplayFontRecord* bold = settings.findSubstituteFont("Helvetica-Bold");
    ASSERT_NE(bold, nullptr);
    EXPECT_EQ(bold->getKind(), DisplayFontRecord::kType1);
    EXPECT_EQ(fileOf(bold), path("type1/NimbusSans-Bold.t1"));
    // Fonts whose Type 1 file is not in that folder get their TrueType file.
    const DisplayFontRecord* regular = settings.findSubstituteFont("Helvetica");
    ASSERT_NE(regular, nullptr);
    EXPECT_EQ(regular->getKind(), DisplayFontRecord::kTrueType);
    // Symbol and ZapfDingbats have no TrueType file: without a configured or
    // Type 1 file they are reported, by name.
    EXPECT_EQ(settings.findSubstituteFont("Symbol"), nullptr);
    EXPECT_EQ(m_errors.count(), 2u);
    EXPECT_TRUE(m_errors.contains("'Symbol'"));
    EXPECT_TRUE(m_errors.contains("'ZapfDingbats'"));
}

TEST_F(SettingsTest, AConfiguredStandardFontIsNeverReplaced) {
    auto settings = load(
        "font-truetype Helvetica /somewhere/else.ttf\n"
        "font-type1 Courier '" +
        std::string(kUrwDir) + "/NimbusMonoPS-Bold.t1'\n");
    settings->locateStandardFonts(kUrwDir);
    EXPECT_EQ(fileOf(settings->findSubstituteFont("Helvetica")), "/somewhere/else.ttf");
    EXPECT_EQ(fileOf(settings->findSubstituteFont("Courier")),
              std::string(kUrwDir) + "/NimbusMonoPS-Bold.t1");
    EXPECT_EQ(fileOf(settings->findSubstituteFont("Courier-Bold")),
              std::string(kUrwDir) + "/NimbusMonoPS-Bold.t1");
}

TEST_F(SettingsTest, SubstitutesComeFromTheTablesFirstThenTheSystemList) {
    auto settings = load("font-truetype LiberationSans-Bold /configured.ttf\n");
    EXPECT_EQ(settings->findSubstituteFont("LiberationSerif,Italic"), nullptr);  // no system list yet
    settings->locateStandardFonts(nullptr);
    EXPECT_EQ(fileOf(settings->findSubstituteFont("LiberationSans-Bold")), "/configured.ttf");
    const DisplayFontRecord* system = settings->findSubstituteFont("LiberationSerif,Italic");
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(fs::path(system->getFile().getCString()).filename(), "LiberationSerif-Italic.ttf");
    EXPECT_EQ(system->getKind(), DisplayFontRecord::kTrueType);
}

}  // namespace
}  // namespace rendova
