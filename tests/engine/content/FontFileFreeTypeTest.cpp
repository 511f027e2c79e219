// The font-file readers against FreeType over the installed URW base 35 and
// Liberation fonts, and TrueType rewriting of real fonts damaged in one place.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/content/CffFontFile.h"
#include "engine/content/TrueTypeFontFile.h"
#include "tests/engine/content/FontCheck.h"
#include "tests/engine/content/SfntTestUtil.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr const char* kUrwType1Dir = "/usr/share/fonts/type1/urw-base35";
constexpr const char* kUrwOpenTypeDir = "/usr/share/fonts/opentype/urw-base35";
constexpr const char* kLiberationDir = "/usr/share/fonts/truetype/liberation2";
constexpr const char* kLiberationSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

std::vector<std::string> filesIn(const char* dir, const char* extension) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.path().extension() == extension)
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A folder of its own under the build's test output folder, wherever the
// test is run from.
std::string outputDir() {
    fs::path dir = fs::path(RENDOVA_TEST_OUTPUT_DIR) / "fontfile-test" /
                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

TEST(FontFileFreeType, UrwType1NamesAndEncodingsEqualFreeTypes) {
    FreeTypeLibrary library;
    std::vector<std::string> files = filesIn(kUrwType1Dir, ".t1");
    ASSERT_EQ(files.size(), 35u);
    for (const std::string& file : files)
        expectType1MatchesFreeType(library, file);
}

TEST(FontFileFreeType, UrwOpenTypeCmapsAndCffNamesEqualFreeTypes) {
    FreeTypeLibrary library;
    std::vector<std::string> files = filesIn(kUrwOpenTypeDir, ".otf");
    ASSERT_EQ(files.size(), 35u);
    for (const std::string& file : files) {
        expectTrueTypeMatchesFreeType(library, file);
        std::unique_ptr<TrueTypeFontFile> font = TrueTypeFontFile::fromFile(file.c_str());
        ASSERT_NE(font, nullptr);
        EXPECT_TRUE(font->isOpenTypeCff());
        // The CFF table names the font as FreeType does; it is not CID-keyed.
        int index = font->findTable("CFF ");
        ASSERT_GE(index, 0);
        const TrueTypeFontFile::Table& cff = font->getTables()[static_cast<size_t>(index)];
        std::unique_ptr<CffFontFile> cffFont =
            CffFontFile::fromBuffer(font->getBuffer() + cff.offset, cff.length);
        ASSERT_NE(cffFont, nullptr) << file;
        FreeTypeFace face(library, file);
        ASSERT_NE(cffFont->getName(), nullptr);
        EXPECT_EQ(face.postscriptName(), cffFont->getName()->getCString()) << file;
        EXPECT_EQ(cffFont->getGlyphCount(), face.get()->num_glyphs) << file;
        int length = -1;
        EXPECT_EQ(font->buildCidToGlyphMap(&length), nullptr);
        EXPECT_EQ(length, 0);
        // Nothing is written for CFF outlines.
        EXPECT_TRUE(convertFont(*font).empty());
    }
}

TEST(FontFileFreeType, LiberationCmapsAndGlyphNamesEqualFreeTypes) {
    FreeTypeLibrary library;
    std::vector<std::string> files = filesIn(kLiberationDir, ".ttf");
    ASSERT_EQ(files.size(), 12u);
    for (const std::string& file : files)
        expectTrueTypeMatchesFreeType(library, file);
}

TEST(FontFileFreeType, CleanFontIsRewrittenByteForByte) {
    FreeTypeLibrary library;
    std::string dir = outputDir();
    int clean = 0;
    for (const std::string& file : filesIn(kLiberationDir, ".ttf")) {
        std::vector<uint8_t> out =
            expectConvertKeepsOutlines(library, file, file, dir + "/" + fs::path(file).filename().string());
        // The monospaced faces keep one metric for all their glyphs and are
        // rewritten with one a glyph; the others need nothing.
        Tables tables = splitSfnt(readFileBytes(file));
        if (get16(tables["hhea"], 34) < get16(tables["maxp"], 4)) {
            EXPECT_FALSE(out == readFileBytes(file)) << file;
        } else {
            EXPECT_TRUE(out == readFileBytes(file)) << file;
            ++clean;
        }
    }
    EXPECT_GT(clean, 0);
}

// Liberation Sans with the glyph data of one glyph moved to the end of the
// glyf table: its loca entry now runs backwards, which FreeType cannot read.
TEST(FontFileFreeType, OutOfOrderGlyphDataIsRebuiltWithUnchangedOutlines) {
    FreeTypeLibrary library;
    std::string dir = outputDir();
    Bytes original = readFileBytes(kLiberationSans);
    Tables tables = splitSfnt(original);
    bool longOffsets = get16(tables["head"], 50) != 0;
    Bytes& loca = tables["loca"];
    Bytes& glyf = tables["glyf"];
    auto entry = [&](unsigned i) -> uint32_t {
        return longOffsets ? get32(loca, 4 * i) : 2 * get16(loca, 2 * i);
    };
    auto setEntry = [&](unsigned i, uint32_t v) {
        if (longOffsets)
            set32(loca, 4 * i, v);
        else
            set16(loca, 2 * i, v / 2);
    };
    const unsigned moved = 36;  // "A"
    uint32_t start = entry(moved);
    uint32_t end = entry(moved + 1);
    ASSERT_GT(end, start);
    uint32_t newStart = static_cast<uint32_t>(glyf.size());
    glyf.insert(glyf.end(), glyf.begin() + start, glyf.begin() + end);
    setEntry(moved, newStart);

    std::string damaged = dir + "/damaged.ttf";
    writeFileBytes(damaged, buildSfnt(tables));
    std::vector<uint8_t> out =
        expectConvertKeepsOutlines(library, damaged, kLiberationSans, dir + "/converted.ttf");

    // The rebuilt loca runs forwards.
    Tables rebuilt = splitSfnt(out);
    const Bytes& newLoca = rebuilt["loca"];
    bool newLong = get16(rebuilt["head"], 50) != 0;
    for (size_t i = 0; i + 1 < newLoca.size() / (newLong ? 4 : 2); ++i) {
        uint32_t a = newLong ? get32(newLoca, 4 * i) : 2 * get16(newLoca, 2 * i);
        uint32_t b = newLong ? get32(newLoca, 4 * i + 4) : 2 * get16(newLoca, 2 * i + 2);
        ASSERT_LE(a, b) << "entry " << i;
    }
}

TEST(FontFileFreeType, FewerMetricsThanGlyphsAreWrittenOnePerGlyph) {
    FreeTypeLibrary library;
    std::string dir = outputDir();
    Tables tables = splitSfnt(readFileBytes(kLiberationSans));
    const unsigned glyphCount = get16(tables["maxp"], 4);
    const unsigned kept = 10;
    Bytes& hmtx = tables["hmtx"];
    Bytes shortHmtx(hmtx.begin(), hmtx.begin() + 4 * kept);
    for (unsigned i = kept; i < glyphCount; ++i)
        be16(shortHmtx, get16(hmtx, 4 * i + 2));
    hmtx = shortHmtx;
    set16(tables["hhea"], 34, kept);
    std::string damaged = dir + "/few-metrics.ttf";
    writeFileBytes(damaged, buildSfnt(tables));

    std::vector<uint8_t> out =
        expectConvertKeepsOutlines(library, damaged, kLiberationSans, dir + "/converted.ttf");
    Tables converted = splitSfnt(out);
    EXPECT_EQ(get16(converted["hhea"], 34), glyphCount);
    ASSERT_EQ(converted["hmtx"].size(), 4u * glyphCount);
    unsigned lastAdvance = get16(converted["hmtx"], 4 * (kept - 1));
    FreeTypeFace face(library, dir + "/converted.ttf");
    ASSERT_TRUE(face.ok());
    const Bytes& loca = converted["loca"];
    const Bytes& glyf = converted["glyf"];
    bool longOffsets = get16(converted["head"], 50) != 0;
    for (unsigned i = kept; i < glyphCount; ++i) {
        EXPECT_EQ(get16(converted["hmtx"], 4 * i), lastAdvance);
        // A composite glyph may take its advance from a component.
        uint32_t start = longOffsets ? get32(loca, 4 * i) : 2 * get16(loca, 2 * i);
        uint32_t end = longOffsets ? get32(loca, 4 * i + 4) : 2 * get16(loca, 2 * i + 2);
        bool composite = end > start && get16(glyf, start) >= 0x8000;
        if (!composite) {
            EXPECT_EQ(face.advance(i), static_cast<long>(lastAdvance)) << "glyph " << i;
        }
    }
}

TEST(FontFileFreeType, CmapShorterThanItsSubtablesIsGivenTheirLength) {
    FreeTypeLibrary library;
    std::string dir = outputDir();
    Tables tables = splitSfnt(readFileBytes(kLiberationSans));
    const uint32_t cmapLength = static_cast<uint32_t>(tables["cmap"].size());
    std::string damaged = dir + "/short-cmap.ttf";
    writeFileBytes(damaged, buildSfnt(tables, 0x00010000, {{"cmap", 20}}));

    std::vector<uint8_t> out =
        expectConvertKeepsOutlines(library, damaged, kLiberationSans, dir + "/converted.ttf");
    Tables converted = splitSfnt(out);
    EXPECT_EQ(converted["cmap"].size(), cmapLength);
    expectTrueTypeMatchesFreeType(library, dir + "/converted.ttf");
}

// The directory gives cmap more bytes than the whole file holds (other
// readers refuse the file): the rewrite gives FreeType a font it opens, with
// the cmap it had.
TEST(FontFileFreeType, CmapClaimingMoreThanTheFileIsCutToIt) {
    FreeTypeLibrary library;
    std::string dir = outputDir();
    Tables tables = splitSfnt(readFileBytes(kLiberationSans));
    std::string damaged = dir + "/long-cmap.ttf";
    writeFileBytes(damaged, buildSfnt(tables, 0x00010000, {{"cmap", 1u << 24}}));

    expectConvertKeepsOutlines(library, damaged, kLiberationSans, dir + "/converted.ttf");
    expectTrueTypeMatchesFreeType(library, dir + "/converted.ttf");
}

}  // namespace
}  // namespace rendova
