// Glyph rasterisation over FreeType: the font cache and its files, glyph
// bitmaps and their cache, outlines, and the limits on sizes.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/content/FontFileReader.h"
#include "engine/core/Memory.h"
#include "engine/raster/FreeTypeFont.h"
#include "engine/raster/OutputFontKey.h"
#include "engine/raster/RasterFont.h"
#include "engine/raster/RasterFontCache.h"
#include "engine/raster/RasterFontEngine.h"
#include "engine/raster/RasterFontFile.h"
#include "engine/raster/RasterPath.h"
#include "tests/engine/content/SfntTestUtil.h"
#include "tests/engine/raster/RasterFontTestSupport.h"

namespace rendova::test {
namespace {

std::unique_ptr<RasterFontKey> key(int num) {
    return std::make_unique<OutputFontKey>(num, 0, -1);
}

// The ctm of a device at 72 dpi whose y axis points down, as the raster
// device's does: the text matrix alone scales the font.
const double kIdentity[6] = {1, 0, 0, -1, 0, 0};

const char* const* standardNames() {
    static const char* names[256] = {};
    names['A'] = "A";
    names['B'] = "B";
    names['m'] = "m";
    return names;
}

// --- Outlines -------------------------------------------------------------

TEST(FreeTypeOutline, QuadraticSegmentBecomesTheEquivalentCubic) {
    FT_Vector points[3] = {{0, 0}, {64, 64}, {128, 0}};
    char tags[3] = {FT_CURVE_TAG_ON, FT_CURVE_TAG_CONIC, FT_CURVE_TAG_ON};
    short contours[1] = {2};
    FT_Outline outline{};
    outline.n_contours = 1;
    outline.n_points = 3;
    outline.points = points;
    outline.tags = tags;
    outline.contours = contours;
    std::unique_ptr<RasterPath> path = FreeTypeFont::outlineToPath(&outline, 1.0);
    ASSERT_TRUE(path);
    ASSERT_GE(path->length(), 4);
    const RasterPathPoint* p = path->points();
    EXPECT_DOUBLE_EQ(p[0].x, 0);
    EXPECT_NEAR(p[1].x, 2.0 / 3, 1e-12);
    EXPECT_NEAR(p[1].y, 2.0 / 3, 1e-12);
    EXPECT_NEAR(p[2].x, 4.0 / 3, 1e-12);
    EXPECT_NEAR(p[2].y, 2.0 / 3, 1e-12);
    EXPECT_DOUBLE_EQ(p[3].x, 2);
    EXPECT_DOUBLE_EQ(p[3].y, 0);
    EXPECT_TRUE(path->flags()[1] & kPathCurve);
    EXPECT_TRUE(path->flags()[path->length() - 1] & kPathClosed);
}

TEST(FreeTypeOutline, EveryContourIsClosedAndScaled) {
    FT_Vector points[6] = {{0, 0}, {640, 0}, {640, 640}, {1280, 0}, {1920, 0}, {1920, 640}};
    char tags[6] = {FT_CURVE_TAG_ON, FT_CURVE_TAG_ON, FT_CURVE_TAG_ON,
                    FT_CURVE_TAG_ON, FT_CURVE_TAG_ON, FT_CURVE_TAG_ON};
    short contours[2] = {2, 5};
    FT_Outline outline{};
    outline.n_contours = 2;
    outline.n_points = 6;
    outline.points = points;
    outline.tags = tags;
    outline.contours = contours;
    std::unique_ptr<RasterPath> path = FreeTypeFont::outlineToPath(&outline, 0.5);
    ASSERT_TRUE(path);
    int closed = 0;
    for (int i = 0; i < path->length(); ++i)
        if ((path->flags()[i] & kPathLast) && (path->flags()[i] & kPathClosed))
            ++closed;
    EXPECT_EQ(closed, 2);
    EXPECT_DOUBLE_EQ(path->points()[1].x, 5);  // 640 / 64 x 0.5
}

// --- Fonts from files --------------------------------------------------------

class RasterFontTest : public TempFolderTest {
protected:
    void SetUp() override {
        if (!haveTestFonts())
            GTEST_SKIP() << "fonts-urw-base35 and fonts-liberation2 are needed";
    }
    // The sans Type 1 face at size pixels, made by (and owned by) the cache.
    static RasterFont* sansAt(RasterFontCache& cache, double size) {
        RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
        const double m[4] = {size, 0, 0, size};
        return file ? cache.makeFont(file, m, kIdentity) : nullptr;
    }
};

TEST_F(RasterFontTest, DegenerateTextMatrixStillGivesAUsableFont) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    ASSERT_TRUE(file);
    const double zero[4] = {0, 0, 0, 0};
    RasterFont* font = cache.makeFont(file, zero, kIdentity);
    ASSERT_TRUE(font);
    EXPECT_DOUBLE_EQ(font->getMatrix()[0], 0.01);
    EXPECT_DOUBLE_EQ(font->getMatrix()[3], 0.01);
    EXPECT_TRUE(static_cast<FreeTypeFont*>(font)->isUsable());
    RasterGlyph glyph;
    EXPECT_EQ(font->getGlyph('A', 0, 0, &glyph), 1);
    if (glyph.ownsPixels)
        memFree(glyph.pixels);
}

TEST_F(RasterFontTest, SameFileAndMatricesGiveTheCachedFontMovedToTheFront) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    const double m12[4] = {12, 0, 0, 12}, m14[4] = {14, 0, 0, 14};
    RasterFont* a = cache.makeFont(file, m12, kIdentity);
    RasterFont* b = cache.makeFont(file, m14, kIdentity);
    EXPECT_EQ(cache.getFont(0), b);
    EXPECT_EQ(cache.makeFont(file, m12, kIdentity), a);
    EXPECT_EQ(cache.getFont(0), a);
    EXPECT_EQ(cache.getFont(1), b);
    EXPECT_EQ(file->getRefCount(), 2);
    // Two flips: the device's y axis points down, FreeType's up.
    EXPECT_DOUBLE_EQ(a->getMatrix()[3], 12);
    OutputFontKey probe(1, 0, 5);
    EXPECT_EQ(cache.findFontFile(probe), file);
    OutputFontKey other(1, 1, -1);
    EXPECT_EQ(cache.findFontFile(other), nullptr);
}

TEST_F(RasterFontTest, SeventeenthFontEvictsTheOldestAndRemovesItsTemporaryFile) {
    RasterFontCache cache(true, true);
    const std::string first = tempCopy(kType1Sans, "first.t1");
    RasterFontFile* firstFile = cache.loadType1Font(key(1), first.c_str(), 1, standardNames());
    ASSERT_TRUE(firstFile);
    const double m[4] = {10, 0, 0, 10};
    cache.makeFont(firstFile, m, kIdentity);
    RasterFontFile* other = cache.loadType1Font(key(2), kType1Sans, 0, standardNames());
    for (int i = 0; i < RasterFontCache::kSlots - 1; ++i) {
        const double mi[4] = {11.0 + i, 0, 0, 11.0 + i};
        cache.makeFont(other, mi, kIdentity);
    }
    EXPECT_TRUE(std::filesystem::exists(first));  // 16 fonts: still cached
    const double last[4] = {40, 0, 0, 40};
    cache.makeFont(other, last, kIdentity);
    EXPECT_FALSE(std::filesystem::exists(first));
    OutputFontKey probe(1, 0, -1);
    EXPECT_EQ(cache.findFontFile(probe), nullptr);
}

TEST_F(RasterFontTest, ConvertedTrueTypeFontKeepsOnlyItsRewrittenFile) {
    const std::string original = tempCopy(kTrueTypeSans, "original.ttf");
    {
        RasterFontCache cache(true, true);
        RasterFontFile* file = cache.loadConvertedFont(key(1), original.c_str(), 1, nullptr, 0);
        ASSERT_TRUE(file);
        EXPECT_FALSE(std::filesystem::exists(original));
        EXPECT_EQ(tempFileCount(), 1);  // the rewritten file
        EXPECT_TRUE(file->isTrueType());
        const double m[4] = {12, 0, 0, 12};
        cache.makeFont(file, m, kIdentity);
    }
    EXPECT_EQ(tempFileCount(), 0);
}

TEST_F(RasterFontTest, FileThatDoesNotLoadLeavesNoRewrittenFileBehind) {
    const std::string junk = (m_dir / "junk.ttf").string();
    std::ofstream(junk) << "not a font";
    RasterFontCache cache(true, true);
    EXPECT_EQ(cache.loadConvertedFont(key(1), junk.c_str(), 1, nullptr, 0), nullptr);
    EXPECT_EQ(cache.loadType1Font(key(2), junk.c_str(), 0, standardNames()), nullptr);
    EXPECT_EQ(tempFileCount(), 1);  // the original stays for its owner to remove
}

TEST_F(RasterFontTest, FaceWithZeroUnitsPerEmIsRefused) {
    Bytes file(
        std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(kTrueTypeSans, std::ios::binary)),
        {});
    Tables tables = splitSfnt(file);
    set16(tables["head"], 18, 0);  // unitsPerEm
    const Bytes damaged = buildSfnt(tables);
    const std::string path = (m_dir / "zero-em.ttf").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(damaged.data()), static_cast<std::streamsize>(damaged.size()));
    auto engine = RasterFontEngine::create(true);
    ASSERT_TRUE(engine);
    EXPECT_EQ(RasterFontFile::loadTrueType(engine.get(), key(1), path.c_str(), 0, nullptr, 0), nullptr);
}

TEST_F(RasterFontTest, WithoutTheEngineNothingLoads) {
    RasterFontCache cache(false, true);
    EXPECT_EQ(cache.getEngine(), nullptr);
    EXPECT_EQ(cache.loadType1Font(key(1), kType1Sans, 0, standardNames()), nullptr);
    EXPECT_EQ(cache.loadConvertedFont(key(1), kTrueTypeSans, 0, std::make_unique<uint16_t[]>(256), 256),
              nullptr);
}

// Glyph 0 is the font's missing-glyph shape, drawn as the font's maker drew
// it (some subsets keep a real glyph there).
TEST_F(RasterFontTest, GlyphZeroIsDrawnInTrueTypeAndType1Fonts) {
    RasterFontCache cache(true, true);
    auto map = std::make_unique<uint16_t[]>(256);  // every code to glyph 0
    RasterFontFile* ttf = cache.loadConvertedFont(key(1), kTrueTypeSans, 0, std::move(map), 256);
    ASSERT_TRUE(ttf);
    const double m[4] = {20, 0, 0, 20};
    RasterFont* ttFont = cache.makeFont(ttf, m, kIdentity);
    RasterGlyph glyph;
    ASSERT_EQ(ttFont->getGlyph('A', 0, 0, &glyph), 1);  // Liberation's box
    EXPECT_GT(glyph.width * glyph.height, 0);
    EXPECT_NE(ttFont->getGlyphPath('A'), nullptr);

    RasterFontFile* t1 = cache.loadType1Font(key(2), kType1Sans, 0, standardNames());
    RasterFont* t1Font = cache.makeFont(t1, m, kIdentity);
    EXPECT_EQ(t1Font->getGlyph('Z', 0, 0, &glyph), 1);  // unencoded: glyph 0, .notdef
}

TEST_F(RasterFontTest, Type1EncodingNamesFindTheGlyphsFreeTypeNames) {
    // Every glyph name of the face, names it lacks, a name twice and codes
    // without a name: each code gets the glyph FreeType's own lookup gives.
    RasterFontCache cache(true, true);
    RasterFontFile* probe = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    ASSERT_TRUE(probe);
    std::vector<std::string> glyphNames;
    char buffer[256];
    for (FT_Long i = 0; i < probe->getFace()->num_glyphs; ++i) {
        if (FT_Get_Glyph_Name(probe->getFace(), static_cast<FT_UInt>(i), buffer, sizeof buffer) == 0)
            glyphNames.emplace_back(buffer);
    }
    delete probe;  // a file no font was made of is the caller's
    ASSERT_GT(glyphNames.size(), 200u);
    for (size_t first = 0; first < glyphNames.size(); first += 200) {
        const char* names[256] = {};
        for (int code = 0; code < 200 && first + size_t(code) < glyphNames.size(); ++code)
            names[code] = glyphNames[first + size_t(code)].c_str();
        names[200] = "no-such-glyph";
        names[201] = "";
        names[202] = names[0];
        names[203] = ".notdef";
        RasterFontFile* file = cache.loadType1Font(key(2 + int(first)), kType1Sans, 0, names);
        ASSERT_TRUE(file);
        for (int code = 0; code < 256; ++code) {
            const FT_UInt expected = names[code] ? FT_Get_Name_Index(file->getFace(), names[code]) : 0;
            EXPECT_EQ(file->getCodeToGlyph()[code], expected) << "code " << code;
        }
        delete file;  // likewise
    }
}

TEST_F(RasterFontTest, KeptOutlinesRenderAsLoadingAtThePosition) {
    // Each code at every quarter-pixel position, in an order that asks for
    // positions after other codes, under a plain, a sheared and a small
    // matrix, in a Type 1 and a TrueType face: the bitmaps drawn from kept
    // outlines equal FreeType's loading at the position.
    RasterFontCache cache(true, true);
    RasterFontFile* files[2] = {cache.loadType1Font(key(1), kType1Sans, 0, standardNames()),
                                cache.loadTrueTypeFont(key(2), kTrueTypeSans, 0)};
    const double matrices[3][4] = {{12.5, 0, 0, 12.5}, {10, 0, 3.2, 11}, {5.3, 0, 0, -5.3}};
    for (RasterFontFile* file : files) {
        ASSERT_TRUE(file);
        for (const auto& m : matrices) {
            auto* font = static_cast<FreeTypeFont*>(cache.makeFont(file, m, kIdentity));
            for (int fraction : {2, 0, 3, 1}) {
                for (int code : {'A', 'g', 'W', '.', 'a', 'A'}) {
                    RasterGlyph kept, loaded;
                    font->setReferenceRendering(false);
                    ASSERT_EQ(font->makeGlyph(code, fraction, 3 - fraction, &kept), 1);
                    font->setReferenceRendering(true);
                    ASSERT_EQ(font->makeGlyph(code, fraction, 3 - fraction, &loaded), 1);
                    EXPECT_EQ(kept.xOffset, loaded.xOffset) << code << " at " << fraction;
                    EXPECT_EQ(kept.yOffset, loaded.yOffset) << code << " at " << fraction;
                    ASSERT_EQ(kept.width, loaded.width) << code << " at " << fraction;
                    ASSERT_EQ(kept.height, loaded.height) << code << " at " << fraction;
                    const size_t bytes = static_cast<size_t>(kept.width) * static_cast<size_t>(kept.height);
                    EXPECT_EQ(std::memcmp(kept.pixels, loaded.pixels, bytes), 0)
                        << code << " at " << fraction;
                    memFree(kept.pixels);
                    memFree(loaded.pixels);
                }
            }
        }
    }
}

TEST_F(RasterFontTest, GlyphsStandAtQuarterPixelYPositions) {
    // Half a pixel further down, the glyph's ink lies half a pixel lower;
    // glyphs used to stand at the pixel above their place.
    RasterFontCache cache(true, true);
    RasterFont* font = sansAt(cache, 12);
    ASSERT_TRUE(font);
    auto inkRow = [](const RasterGlyph& g) {
        double sum = 0, weighted = 0;
        for (int r = 0; r < g.height; ++r)
            for (int c = 0; c < g.width; ++c) {
                sum += g.pixels[r * g.width + c];
                weighted += (r + 0.5) * g.pixels[r * g.width + c];
            }
        return weighted / sum - g.yOffset;
    };
    RasterGlyph g0, g2;
    ASSERT_EQ(font->getGlyph('A', 1, 0, &g0), 1);
    const double row0 = inkRow(g0);
    ASSERT_EQ(font->getGlyph('A', 1, 2, &g2), 1);
    EXPECT_NE(g0.pixels, g2.pixels);
    EXPECT_NEAR(inkRow(g2) - row0, 0.5, 0.05);
}

TEST_F(RasterFontTest, GlyphBitmapAndOutlineAgreeWithTheFontSize) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    // 12.5 pixels: FreeType gets 12, the transform carries the rest. The
    // capital A of the sans face stands 0.729 em tall (0 to 729 units), so
    // its unhinted anti-aliased bitmap reaches 9.1 pixels above the origin:
    // 10 rows (at 12 pixels it would reach 8.75, 9 rows).
    const double m[4] = {12.5, 0, 0, 12.5};
    auto* font = static_cast<FreeTypeFont*>(cache.makeFont(file, m, kIdentity));
    EXPECT_EQ(font->getPixelSize(), 12);
    RasterGlyph glyph;
    ASSERT_EQ(font->getGlyph('A', 0, 0, &glyph), 1);
    EXPECT_TRUE(glyph.antialiased);
    EXPECT_EQ(glyph.yOffset, 10);
    EXPECT_EQ(glyph.height, 10);

    // Outlines are loaded at the integer size and scaled by the rest, and,
    // as the anti-aliased bitmaps, not hinted: the glyph's top stays where
    // the font puts it, not on a pixel edge (a clip or a stroke of the
    // outline meets the filled glyph).
    auto outlineRange = [&](const double* size, double& yMin, double& yMax) {
        font = static_cast<FreeTypeFont*>(cache.makeFont(file, size, kIdentity));
        std::unique_ptr<RasterPath> path = font->getGlyphPath('A');
        ASSERT_TRUE(path);
        yMax = -1e9, yMin = 1e9;
        for (int i = 0; i < path->length(); ++i) {
            yMax = std::max(yMax, path->points()[i].y);
            yMin = std::min(yMin, path->points()[i].y);
        }
    };
    const double big[4] = {100.5, 0, 0, 100.5};
    double yMin = 0, yMax = 0;
    outlineRange(big, yMin, yMax);
    EXPECT_NEAR(yMin, 0, 0.05);
    EXPECT_NEAR(yMax, 0.729 * 100.5, 0.15);
    outlineRange(m, yMin, yMax);
    EXPECT_NEAR(yMin, 0, 0.02);
    EXPECT_NEAR(yMax, 0.729 * 12.5, 0.02);
}

TEST_F(RasterFontTest, SubpixelPositionsAreKeptApartOnlyInSmallAntialiasedFonts) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    const double small[4] = {12, 0, 0, 12}, medium[4] = {40, 0, 0, 40}, large[4] = {60, 0, 0, 60};
    // Quarters below an em of 24 pixels, halves below 48, whole pixels from
    // there on.
    EXPECT_EQ(cache.makeFont(file, medium, kIdentity)->subpixelSteps(), 2);
    RasterFont* font = cache.makeFont(file, small, kIdentity);
    EXPECT_EQ(font->subpixelSteps(), 4);
    RasterGlyph g0, g2, again;
    ASSERT_EQ(font->getGlyph('A', 0, 0, &g0), 1);
    ASSERT_EQ(font->getGlyph('A', 2, 0, &g2), 1);
    EXPECT_NE(g0.pixels, g2.pixels);  // two entries
    ASSERT_EQ(font->getGlyph('A', 0, 0, &again), 1);
    EXPECT_EQ(again.pixels, g0.pixels);

    // A large glyph is rendered once and stands at the nearest whole pixel:
    // from half a pixel on, at the next one.
    font = cache.makeFont(file, large, kIdentity);
    EXPECT_EQ(font->subpixelSteps(), 1);
    RasterGlyph g1, g3;
    ASSERT_EQ(font->getGlyph('A', 0, 0, &g0), 1);
    ASSERT_EQ(font->getGlyph('A', 1, 1, &g1), 1);
    EXPECT_EQ(g1.pixels, g0.pixels);  // one entry
    EXPECT_EQ(g1.xOffset, g0.xOffset);
    EXPECT_EQ(g1.yOffset, g0.yOffset);
    ASSERT_EQ(font->getGlyph('A', 2, 3, &g3), 1);
    EXPECT_EQ(g3.pixels, g0.pixels);
    EXPECT_EQ(g3.xOffset, g0.xOffset - 1);
    EXPECT_EQ(g3.yOffset, g0.yOffset - 1);
}

TEST_F(RasterFontTest, GlyphTooLargeToCacheIsAnsweredUncached) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    const double m[4] = {900, 0, 0, 900};
    RasterFont* font = cache.makeFont(file, m, kIdentity);
    EXPECT_EQ(font->getSetCount(), 0);
    RasterGlyph glyph;
    ASSERT_EQ(font->getGlyph('A', 0, 0, &glyph), 1);
    EXPECT_EQ(glyph.ownsPixels, 1);
    EXPECT_GT(glyph.height, 600);
    memFree(glyph.pixels);
}

TEST_F(RasterFontTest, PixelSizeIsClampedAndHugeFontsGiveOutlinesOnly) {
    RasterFontCache cache(true, true);
    RasterFontFile* file = cache.loadType1Font(key(1), kType1Sans, 0, standardNames());
    const double huge[4] = {1e6, 0, 0, 1e6};
    auto* font = static_cast<FreeTypeFont*>(cache.makeFont(file, huge, kIdentity));
    EXPECT_EQ(font->getPixelSize(), FreeTypeFont::kMaxPixelSize);
    EXPECT_FALSE(font->hasBitmaps());
    RasterGlyph glyph;
    EXPECT_EQ(font->getGlyph('A', 0, 0, &glyph), 0);
    std::unique_ptr<RasterPath> path = font->getGlyphPath('A');
    ASSERT_TRUE(path);
    double yMax = 0;
    for (int i = 0; i < path->length(); ++i)
        yMax = std::max(yMax, path->points()[i].y);
    EXPECT_NEAR(yMax / 1e6, 0.729, 0.002);

    const double tiny[4] = {0.3, 0, 0, 0.3};
    font = static_cast<FreeTypeFont*>(cache.makeFont(file, tiny, kIdentity));
    EXPECT_EQ(font->getPixelSize(), 1);
    const double notFinite[4] = {NAN, 0, 0, NAN};
    font = static_cast<FreeTypeFont*>(cache.makeFont(file, notFinite, kIdentity));
    EXPECT_DOUBLE_EQ(font->getMatrix()[0], 0.01);
}

TEST_F(RasterFontTest, MonochromeFontRendersOneBitGlyphs) {
    RasterFontCache cache(true, false);
    RasterFont* font = sansAt(cache, 20);
    ASSERT_TRUE(font);
    RasterGlyph glyph;
    ASSERT_EQ(font->getGlyph('A', 3, 0, &glyph), 1);
    EXPECT_FALSE(glyph.antialiased);
    EXPECT_GT(glyph.width, 8);
    int set = 0;
    for (int i = 0; i < glyph.height * ((glyph.width + 7) >> 3); ++i)
        set += __builtin_popcount(glyph.pixels[i]);
    EXPECT_GT(set, 20);
}

// --- The glyph cache itself, over a font that counts its renderings ----------

class CountingFile : public RasterFontFileBase {
public:
    CountingFile() : RasterFontFileBase(std::make_unique<OutputFontKey>(1, 0, -1), "none", 0) {}
    RasterFont* makeFont(const double*, const double*) override { return nullptr; }
};

class CountingFont : public RasterFont {
public:
    CountingFont(RasterFontFileBase* file, int boxSize) : RasterFont(file, kIdentity, kIdentity, 1) {
        m_xMax = m_yMax = boxSize;
        initCache();
    }
    int makeGlyph(int code, int, int, RasterGlyph* glyph) override {
        ++made;
        glyph->xOffset = 0;
        glyph->yOffset = 0;
        glyph->width = glyph->height = 2;
        glyph->antialiased = 1;
        glyph->pixels = static_cast<uint8_t*>(memAlloc(4));
        for (int i = 0; i < 4; ++i)
            glyph->pixels[i] = static_cast<uint8_t>(code);
        glyph->ownsPixels = 1;
        return 1;
    }
    std::unique_ptr<RasterPath> getGlyphPath(int) override { return nullptr; }
    int made = 0;
};

TEST(RasterGlyphCache, SetCountFillsTheBudget) {
    auto* file = new CountingFile;
    {
        // A power of two of sets of 8 cells within the budget, at most the
        // limit: 2 MiB over 16 x 16 cells would be 1024 sets.
        const struct {
            int box;
            int sets;
        } cases[] = {{13, 1024}, {19, 512}, {30, 128}, {300, 2}};
        std::vector<std::unique_ptr<CountingFont>> fonts;
        for (const auto& c : cases) {
            fonts.push_back(std::make_unique<CountingFont>(file, c.box));
            EXPECT_EQ(fonts.back()->getSetCount(), c.sets) << c.box;
            EXPECT_LE(
                int64_t{fonts.back()->getSetCount()} * RasterFont::kSetSize * fonts.back()->getGlyphSize(),
                RasterFont::kCacheBudgetBytes);
        }
    }  // the last font releases the file
}

TEST(RasterGlyphCache, NinthCodeOfASetEvictsTheLeastRecentlyUsed) {
    auto* file = new CountingFile;
    CountingFont font(file, 13);
    // Codes this far apart fall in one set (the fractions take the key's
    // low four bits).
    const int stride = font.getSetCount() / 16;
    RasterGlyph g;
    for (int i = 0; i < 8; ++i)
        font.getGlyph(stride * i, 0, 0, &g);  // all in set 0
    EXPECT_EQ(font.made, 8);
    font.getGlyph(0, 0, 0, &g);  // a hit makes code 0 the youngest
    EXPECT_EQ(font.made, 8);
    EXPECT_EQ(g.pixels[0], 0);
    font.getGlyph(stride * 8, 0, 0, &g);  // evicts the second code, the oldest now
    EXPECT_EQ(font.made, 9);
    font.getGlyph(0, 0, 0, &g);
    EXPECT_EQ(font.made, 9);
    font.getGlyph(stride, 0, 0, &g);
    EXPECT_EQ(font.made, 10);
    EXPECT_EQ(g.pixels[0], uint8_t(stride));
    EXPECT_EQ(g.ownsPixels, 0);
    font.getGlyph(1, 0, 0, &g);  // another set, untouched by the above
    EXPECT_EQ(font.made, 11);
    // Sixteen sub-pixel renderings of one code are all kept.
    for (int pass = 0; pass < 2; ++pass)
        for (int f = 0; f < 16; ++f)
            font.getGlyph(7, f & 3, f >> 2, &g);
    EXPECT_EQ(font.made, 27);
}

}  // namespace
}  // namespace rendova::test
