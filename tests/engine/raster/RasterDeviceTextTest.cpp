// The raster device's text: fonts loaded from embedded programs and
// substitutes (with their temporary files), glyphs by render mode, the text
// clip, and Type 3 glyphs through their cache.
#include "engine/raster/RasterDeviceText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "engine/content/FontObject.h"
#include "engine/content/GraphicsState.h"
#include "engine/core/GlobalSettings.h"
#include "engine/raster/OutputFontKey.h"
#include "engine/raster/RasterFont.h"
#include "engine/raster/RasterFontCache.h"
#include "engine/raster/RasterFontFile.h"
#include "engine/raster/RasterPath.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/engine/content/SfntTestUtil.h"
#include "tests/engine/raster/RasterFontTestSupport.h"
#include "tests/engine/raster/RasteriserTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace rendova::test {
namespace {

constexpr const char* kUrwFolder = "/usr/share/fonts/type1/urw-base35";

class DeviceTextTest : public TempFolderTest {
protected:
    void SetUp() override {
        if (!haveTestFonts())
            GTEST_SKIP() << "fonts-urw-base35 and fonts-liberation2 are needed";
        // No configuration file: the home folder is the empty test folder.
        m_settings = std::make_unique<GlobalSettings>((m_dir / "none.conf").c_str());
        m_settings->locateStandardFonts(kUrwFolder);
        globalSettings = m_settings.get();
        m_bitmap = std::make_unique<RasterBitmap>(200, 100, 1, rasterBGR8, false, false);
        m_rasteriser = std::make_unique<Rasteriser>(m_bitmap.get(), true, nullptr);
        clearTo(*m_rasteriser, 255);
        m_rasteriser->setFillPattern(solid(0, 0, 0).release());
        m_rasteriser->setStrokePattern(solid(0, 0, 0).release());
        PageBox box{0, 0, 200, 100};
        m_state = std::make_unique<GraphicsState>(72, 72, box, 0, true);
        m_rasteriser->setMatrix(m_state->getMatrix());
        m_target = m_bitmap.get();
    }
    void TearDown() override {
        m_text.reset();
        m_fonts.clear();
        globalSettings = nullptr;
    }

    // A font made from object 1 of a document with the other objects the
    // test added; the device's text is started on that document.
    FontObject* makeFont(const std::string& dict) {
        m_doc.pdf.object(1, dict);
        m_doc.open();
        m_fontValue = m_doc.fetch(1);
        m_fonts.push_back(FontObject::create(m_doc.xref.get(), "F1", 1, 0, m_fontValue.getDict()));
        m_text->startDocument(m_doc.xref.get(), true, true);
        return m_fonts.back().get();
    }
    void setFont(FontObject* font, double size) {
        m_state->setFont(font, size);
        m_text->setFontChanged();
    }
    // Dark pixels in the rectangle.
    int inked(int x0, int y0, int x1, int y1) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (grey(*m_bitmap, x, y) < 128)
                    ++n;
        return n;
    }

    std::unique_ptr<GlobalSettings> m_settings;
    std::unique_ptr<RasterBitmap> m_bitmap;
    std::unique_ptr<Rasteriser> m_rasteriser;
    RasterBitmap* m_target = nullptr;
    std::unique_ptr<GraphicsState> m_state;
    std::unique_ptr<RasterDeviceText> m_text = std::make_unique<RasterDeviceText>(rasterBGR8, true);
    ObjectDocument m_doc;
    PdfValue m_fontValue;
    std::vector<std::unique_ptr<FontObject>> m_fonts;
    ErrorCapture m_errors;
};

const char* kHelvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";

TEST_F(DeviceTextTest, RenderModeThreeDrawsNothingAndLoadsNoFont) {
    setFont(makeFont(kHelvetica), 40);
    m_state->setRenderMode(3);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
    EXPECT_EQ(m_text->getCurrentFont(), nullptr);
    EXPECT_EQ(m_text->getFontCache()->getFont(0), nullptr);
    EXPECT_EQ(inked(0, 0, 200, 100), 0);
}

TEST_F(DeviceTextTest, FilledGlyphOfASubstitutedStandardFont) {
    setFont(makeFont(kHelvetica), 40);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'H');
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    // The H stands on the baseline at y = 20 (device row 80), 0.72 x 40 tall.
    EXPECT_GT(inked(20, 52, 50, 80), 200);
    EXPECT_EQ(inked(0, 0, 200, 45), 0);
    EXPECT_EQ(inked(0, 82, 200, 100), 0);
}

TEST_F(DeviceTextTest, GlyphNamesTheFaceSpellsOtherwiseMeetThroughUnicode) {
    // The substitute face calls the Cyrillic El "afii10029": the table's
    // name and the uniXXXX and uXXXX forms of its value reach it; a name
    // with no value draws nothing.
    const struct {
        const char* name;
        bool inks;
    } cases[] = {
        {"Elcyrillic", true}, {"uni041B", true}, {"u041B", true}, {"uni041G", false}, {"zzz", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        clearTo(*m_rasteriser, 255);
        m_doc = ObjectDocument();
        setFont(makeFont(std::string("<< /Type /Font /Subtype /TrueType /BaseFont /Helvetica /Encoding << "
                                     "/Differences [140 /") +
                         c.name + "] >> >>"),
                40);
        m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 140);
        EXPECT_EQ(inked(20, 52, 50, 80) > 100, c.inks);
    }
}

TEST_F(DeviceTextTest, StrokedGlyphInksItsOutlineOnly) {
    setFont(makeFont(kHelvetica), 60);
    m_state->setRenderMode(1);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 10, 0, 0, 'O');
    EXPECT_GT(inked(0, 0, 200, 100), 50);
    // The middle of the O stays clear.
    EXPECT_EQ(inked(42, 55, 48, 62), 0);
}

TEST_F(DeviceTextTest, ClipModeCollectsOutlinesAndPaintsNothingUntilApplied) {
    setFont(makeFont(kHelvetica), 60);
    m_state->setRenderMode(7);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 10, 0, 0, 'I');
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 60, 10, 0, 0, 'I');
    EXPECT_EQ(inked(0, 0, 200, 100), 0);
    ASSERT_NE(m_text->getTextClip(), nullptr);
    m_text->finishTextObject(m_rasteriser.get());
    EXPECT_EQ(m_text->getTextClip(), nullptr);
    RasterPath all;
    addRect(all, 0, 0, 200, 100);
    m_rasteriser->fill(all, false);
    EXPECT_GT(inked(20, 40, 40, 90), 100);  // inside the first I
    EXPECT_EQ(inked(120, 0, 200, 100), 0);  // outside both
}

TEST_F(DeviceTextTest, SubstituteIsNarrowedToTheFontsWidthOfM) {
    // Two different widths, so that the font does not count as fixed-pitch:
    // the sans-serif face (index 0, "m" 0.833 wide) stands in.
    setFont(makeFont("<< /Type /Font /Subtype /TrueType /BaseFont /ZzqNoSuchFont /FirstChar 108 /LastChar 109"
                     " /Widths [300 500] /FontDescriptor << /Flags 32 >> >>"),
            10);
    m_text->loadFont(m_state.get(), m_rasteriser->getState()->matrix());
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_NEAR(m_text->getCurrentFont()->getTextMatrix()[0], 10 * 0.5 / 0.833, 1e-9);
    EXPECT_DOUBLE_EQ(m_text->getCurrentFont()->getTextMatrix()[3], 10);
}

TEST_F(DeviceTextTest, SymbolicSubstituteIsNotNarrowed) {
    setFont(makeFont("<< /Type /Font /Subtype /TrueType /BaseFont /ZzqNoSuchFont /FirstChar 109 /LastChar 109"
                     " /Widths [500] /FontDescriptor << /Flags 36 >> /Encoding /WinAnsiEncoding >>"),
            10);
    m_text->loadFont(m_state.get(), m_rasteriser->getState()->matrix());
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_DOUBLE_EQ(m_text->getCurrentFont()->getTextMatrix()[0], 10);
}

TEST_F(DeviceTextTest, EmbeddedProgramLivesInATemporaryFileWhileItsFontIsCached) {
    m_doc.pdf.stream(2, "<< >>", readFile(kType1Sans));
    setFont(makeFont("<< /Type /Font /Subtype /Type1 /BaseFont /Embedded"
                     " /FontDescriptor << /FontFile 2 0 R /Flags 32 >> >>"),
            30);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_EQ(tempFileCount(), 1);
    const std::string file = m_text->getCurrentFont()->getFontFile()->getFileName().getCString();
    EXPECT_EQ(file.rfind(m_dir.string(), 0), 0u);  // in the temporary folder
    EXPECT_GT(inked(0, 0, 200, 100), 50);
    m_text->startDocument(m_doc.xref.get(), true, true);  // a new document: the cache goes
    EXPECT_EQ(tempFileCount(), 0);
}

TEST_F(DeviceTextTest, EmbeddedTrueTypeKeepsOnlyItsRewrittenFile) {
    m_doc.pdf.stream(2, "<< >>", readFile(kTrueTypeSans));
    setFont(makeFont("<< /Type /Font /Subtype /TrueType /BaseFont /Embedded /Encoding /WinAnsiEncoding"
                     " /FontDescriptor << /FontFile2 2 0 R /Flags 32 >> >>"),
            30);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_EQ(tempFileCount(), 1);
    EXPECT_GT(inked(0, 0, 200, 100), 50);
    m_text.reset();
    EXPECT_EQ(tempFileCount(), 0);
}

// Producers embed OpenType fonts with CFF outlines as TrueType programs;
// they are drawn as they stand (there is no glyf table to rewrite).
TEST_F(DeviceTextTest, OpenTypeCffEmbeddedAsTrueTypeIsDrawn) {
    const std::string otf = readFile("/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf");
    if (otf.empty())
        GTEST_SKIP() << "no OpenType NimbusSans";
    m_doc.pdf.stream(2, "<< >>", otf);
    setFont(makeFont("<< /Type /Font /Subtype /TrueType /BaseFont /Embedded /Encoding /WinAnsiEncoding"
                     " /FontDescriptor << /FontFile2 2 0 R /Flags 32 >> >>"),
            30);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_GT(inked(0, 0, 200, 100), 50);
    m_text.reset();
    EXPECT_EQ(tempFileCount(), 0);
}

// A program damaged beyond use: the text is drawn in the standard face that
// the descriptor (flags, weight) and the name's style words describe, and
// the temporary copy of the program goes.
TEST_F(DeviceTextTest, DamagedProgramIsDrawnInTheFaceItsDescriptorDescribes) {
    struct Case {
        const char* name;
        const char* descriptor;
        int face;
    };
    const Case cases[] = {
        {"ABCDEF+Optima-Bold", "/Flags 32 /FontWeight 700", 2},  // sans-serif bold
        {"Broken", "/Flags 32", 0},
        {"Broken", "/Flags 34", 4},                  // serif
        {"Broken", "/Flags 33 /FontWeight 400", 8},  // fixed-pitch
        {"Broken", "/Flags 262240", 3},              // force bold, italic
        {"ABCDEF+Broken-Italic", "/Flags 2 /FontWeight 300", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + std::string(" ") + c.descriptor);
        m_doc = ObjectDocument();
        m_errors.clear();
        clearTo(*m_rasteriser, 255);
        m_doc.pdf.stream(2, "<< >>", "this is no font program");
        setFont(makeFont("<< /Type /Font /Subtype /Type1 /BaseFont /" + std::string(c.name) +
                         " /FontDescriptor << /FontFile 2 0 R " + c.descriptor + " >> >>"),
                30);
        m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
        ASSERT_NE(m_text->getCurrentFont(), nullptr);
        const auto& key =
            static_cast<const OutputFontKey&>(m_text->getCurrentFont()->getFontFile()->getKey());
        EXPECT_EQ(key.getSubstituteIndex(), c.face);
        EXPECT_TRUE(m_errors.contains("substitute"));
        EXPECT_EQ(tempFileCount(), 0);
        EXPECT_GT(inked(0, 0, 200, 100), 50);
    }
}

// A composite font whose program is a bare CFF font (not CID-keyed), given
// as a Type 1 or compact program: its CIDs are glyph indices, also below
// 256.
TEST_F(DeviceTextTest, CompositeFontWithABareCffProgramDrawsItsCidsAsGlyphs) {
    const std::string otf = readFile("/usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf");
    if (otf.empty())
        GTEST_SKIP() << "no OpenType NimbusSans";
    Tables tables = splitSfnt(Bytes(otf.begin(), otf.end()));
    const Bytes& cff = tables["CFF "];
    m_doc.pdf.stream(2, "<< /Subtype /Type1C >>", std::string(cff.begin(), cff.end()));
    m_doc.pdf.object(3,
                     "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Bare"
                     " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                     " /FontDescriptor << /Flags 32 /FontFile3 2 0 R >> >>");
    setFont(makeFont("<< /Type /Font /Subtype /Type0 /BaseFont /Bare /Encoding /Identity-H"
                     " /DescendantFonts [3 0 R] >>"),
            40);
    const unsigned glyphA = 34;  // "A" in the program's glyph order
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, glyphA);
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_GT(inked(20, 45, 50, 80), 150);
}

// An unembedded CID font with no face for its collection draws through its
// Unicode values in the standard face its descriptor describes; without
// Unicode values nothing can be drawn, and that is reported.
TEST_F(DeviceTextTest, CidFontWithoutACollectionFaceIsDrawnThroughUnicode) {
    struct Case {
        const char* what;
        const char* descendant;
        const char* toUnicode;  // null: none
        int face;               // substitute index (no descriptor: serif); -1 when nothing loads
        bool inks;
    };
    const char* identity = "/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>";
    const char* japan = "/CIDSystemInfo << /Registry (Adobe) /Ordering (Japan1) /Supplement 2 >>";
    const std::string bfH = "1 beginbfchar\n<0048> <0048>\nendbfchar\n";
    const Case cases[] = {
        {"identity", "/Subtype /CIDFontType2 /FontDescriptor << /Flags 32 >>", bfH.c_str(), 0, true},
        {"serif bold", "/Subtype /CIDFontType0 /FontDescriptor << /Flags 34 /FontWeight 700 >>", bfH.c_str(),
         6, true},
        {"one-byte codes", "/Subtype /Type1", "1 beginbfrange\n<48> <48> <0048>\nendbfrange\n", 4, true},
        {"collection without a face", "/Subtype /CIDFontType0", bfH.c_str(), 4, true},
        {"value the face lacks", "/Subtype /CIDFontType2", "1 beginbfchar\n<0048> <4E00>\nendbfchar\n", 4,
         false},
        {"no Unicode map", "/Subtype /CIDFontType2", nullptr, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_doc = ObjectDocument();
        m_errors.clear();
        clearTo(*m_rasteriser, 255);
        const bool japanese = std::string(c.what) == "collection without a face";
        m_doc.pdf.object(3, std::string("<< /Type /Font /BaseFont /Unknown ") + c.descendant + " " +
                                (japanese ? japan : identity) + " >>");
        std::string dict =
            "<< /Type /Font /Subtype /Type0 /BaseFont /Unknown /Encoding /Identity-H"
            " /DescendantFonts [3 0 R]";
        if (c.toUnicode) {
            m_doc.pdf.stream(4, "<< >>", c.toUnicode);
            dict += " /ToUnicode 4 0 R";
        }
        setFont(makeFont(dict + " >>"), 40);
        m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 0x48);
        if (c.face < 0) {
            EXPECT_EQ(m_text->getCurrentFont(), nullptr);
            EXPECT_TRUE(m_errors.contains("no Unicode map"));
        } else {
            ASSERT_NE(m_text->getCurrentFont(), nullptr);
            const auto& key =
                static_cast<const OutputFontKey&>(m_text->getCurrentFont()->getFontFile()->getKey());
            EXPECT_EQ(key.getSubstituteIndex(), c.face);
            EXPECT_TRUE(m_errors.contains("through its Unicode values"));
        }
        EXPECT_EQ(inked(20, 52, 55, 80) > 150, c.inks);
    }
}

// Such a face's glyph is fitted across the document's width of its CID,
// unless fitting would distort it by more than half again.
TEST_F(DeviceTextTest, CidFontDrawnThroughUnicodeFitsGlyphsToTheirWidths) {
    const struct {
        const char* widths;
        int span;  // inked width of the H in pixels (its bearings left out), within 2
    } cases[] = {
        {"/DW 722", 23},   // the face's own width: drawn as it is
        {"/DW 1000", 31},  // 1.385 times as wide
        {"/W [72 [1000]] /DW 500", 31},
        {"/DW 2000", 23},  // beyond fitting
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.widths);
        m_doc = ObjectDocument();
        clearTo(*m_rasteriser, 255);
        m_doc.pdf.object(3, std::string("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Unknown ") +
                                c.widths +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                                " /FontDescriptor << /Flags 32 >> >>");
        m_doc.pdf.stream(4, "<< >>", "1 beginbfchar\n<0048> <0048>\nendbfchar\n");
        setFont(makeFont("<< /Type /Font /Subtype /Type0 /BaseFont /Unknown /Encoding /Identity-H"
                         " /DescendantFonts [3 0 R] /ToUnicode 4 0 R >>"),
                40);
        m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 0x48);
        int left = 200, right = -1;
        for (int x = 0; x < 200; ++x)
            if (inked(x, 0, x + 1, 100) > 0) {
                left = std::min(left, x);
                right = x;
            }
        EXPECT_NEAR(right - left + 1, c.span, 2);
    }
}

// Liberation Sans whose directory gives cmap more bytes than the whole file.
TEST_F(DeviceTextTest, EmbeddedTrueTypeWhoseCmapOverrunsTheFileIsDrawn) {
    const std::string ttf = readFile(kTrueTypeSans);
    const Bytes damaged =
        buildSfnt(splitSfnt(Bytes(ttf.begin(), ttf.end())), 0x00010000, {{"cmap", 1u << 24}});
    m_doc.pdf.stream(2, "<< >>", std::string(damaged.begin(), damaged.end()));
    setFont(makeFont("<< /Type /Font /Subtype /TrueType /BaseFont /Embedded /Encoding /WinAnsiEncoding"
                     " /FontDescriptor << /FontFile2 2 0 R /Flags 32 >> >>"),
            40);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'H');
    ASSERT_NE(m_text->getCurrentFont(), nullptr);
    EXPECT_GT(inked(20, 45, 50, 80), 150);
}

// A CID TrueType subset of only head, hhea, maxp, hmtx, loca, glyf, cvt and
// prep: its hinting program calls functions of the fpgm table it left out,
// so every hinted glyph fails; the glyphs are drawn unhinted (bitmaps
// without anti-aliasing, and outlines, are hinted).
TEST_F(DeviceTextTest, SubsetWhoseHintingFailsIsDrawnUnhinted) {
    const std::string ttf = readFile(kTrueTypeSans);
    Tables all = splitSfnt(Bytes(ttf.begin(), ttf.end()));
    Tables bare;
    for (const char* tag : {"head", "hhea", "maxp", "hmtx", "loca", "glyf", "cvt ", "prep"})
        bare[tag] = all[tag];
    const Bytes program = buildSfnt(bare);
    m_doc.pdf.stream(2, "<< >>", std::string(program.begin(), program.end()));
    m_doc.pdf.object(3,
                     "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Bare"
                     " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                     " /FontDescriptor << /Flags 32 /FontFile2 2 0 R >> >>");
    FontObject* font = makeFont(
        "<< /Type /Font /Subtype /Type0 /BaseFont /Bare /Encoding /Identity-H /DescendantFonts [3 0 R] >>");
    const unsigned glyphH = 43;  // "H" in Liberation Sans
    for (const int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        clearTo(*m_rasteriser, 255);
        m_text->startDocument(m_doc.xref.get(), true, false);  // glyph bitmaps without anti-aliasing
        setFont(font, 40);
        m_state->setRenderMode(mode);
        m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, glyphH);
        ASSERT_NE(m_text->getCurrentFont(), nullptr);
        EXPECT_GT(inked(20, 45, 50, 80), mode == 0 ? 150 : 50);
    }
}

TEST_F(DeviceTextTest, Type3FontIsNotLoadedAsAFontFile) {
    setFont(makeFont("<< /Type /Font /Subtype /Type3 /CharProcs << >> /FontMatrix [0.001 0 0 0.001 0 0] >>"),
            10);
    m_text->drawChar(m_state.get(), m_rasteriser.get(), 20, 20, 0, 0, 'A');
    EXPECT_EQ(m_text->getCurrentFont(), nullptr);
}

// --- Type 3 glyphs ------------------------------------------------------------

class DeviceType3Test : public DeviceTextTest {
protected:
    // The glyph matrix of a glyph at (x, y): the page matrix with a font
    // matrix of 1/100 at size 10 (one glyph unit = 0.1 point).
    void glyphAt(double x, double y) {
        const double* page = m_pageMatrix;
        m_state->setMatrix(0.1 * page[0], 0.1 * page[1], 0.1 * page[2], 0.1 * page[3],
                           x * page[0] + y * page[2] + page[4], x * page[1] + y * page[3] + page[5]);
        m_rasteriser->setMatrix(m_state->getMatrix());
    }
    void SetUp() override {
        DeviceTextTest::SetUp();
        for (int i = 0; i < 6; ++i)
            m_pageMatrix[i] = m_state->getMatrix()[i];
    }
    double m_pageMatrix[6];
};

TEST_F(DeviceType3Test, FontWithoutBoxGetsTheFixedCellAroundTheOrigin) {
    setFont(makeFont("<< /Type /Font /Subtype /Type3 /CharProcs << >> >>"), 10);
    glyphAt(20, 50);  // a whole-number translation
    EXPECT_FALSE(m_text->beginType3Char(m_state.get(), m_rasteriser.get(), 'a'));
    Type3GlyphCache* cache = m_text->getType3Caches().get(0);
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->getWidth(), 33);
    EXPECT_EQ(cache->getHeight(), 48);
    EXPECT_EQ(cache->getXOffset(), -5);
    EXPECT_EQ(cache->getYOffset(), -30);
    EXPECT_FALSE(cache->isBoxValid());
    // A glyph that leaves the cell is drawn directly, without a report.
    m_text->setType3GlyphBox(m_state.get(), m_rasteriser, m_target, 0, 0, 1000, 1000);
    EXPECT_EQ(m_target, m_bitmap.get());
    EXPECT_TRUE(m_errors.empty());
    m_text->endType3Char(m_state.get(), m_rasteriser, m_target);
    EXPECT_EQ(m_text->getType3StackDepth(), 0);
}

TEST_F(DeviceType3Test, GlyphOutsideAValidBoxIsReportedAndDrawnDirectly) {
    setFont(makeFont("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 100 100] /CharProcs << >> >>"), 10);
    glyphAt(20, 50);
    EXPECT_FALSE(m_text->beginType3Char(m_state.get(), m_rasteriser.get(), 'a'));
    m_text->setType3GlyphBox(m_state.get(), m_rasteriser, m_target, 0, 0, 500, 100);
    EXPECT_TRUE(m_errors.contains("Type 3"));
    EXPECT_EQ(m_target, m_bitmap.get());
    m_text->endType3Char(m_state.get(), m_rasteriser, m_target);
}

TEST_F(DeviceType3Test, GlyphIsDrawnIntoItsCellThenCopiedWhereverItRecurs) {
    setFont(makeFont("<< /Type /Font /Subtype /Type3 /FontBBox [0 0 100 100] /CharProcs << >> >>"), 10);
    Rasteriser* page = m_rasteriser.get();
    glyphAt(20, 50);
    m_rasteriser->saveState();
    ASSERT_FALSE(m_text->beginType3Char(m_state.get(), m_rasteriser.get(), 'a'));
    m_text->setType3GlyphBox(m_state.get(), m_rasteriser, m_target, 0, 0, 100, 100);
    ASSERT_NE(m_target, m_bitmap.get());  // drawing into the glyph's cell
    ASSERT_NE(m_rasteriser.get(), page);
    // The procedure: a square of 100 glyph units (10 points).
    RasterPath square;
    addRect(square, 0, 0, 100, 100);
    m_rasteriser->fill(square, false);
    m_text->endType3Char(m_state.get(), m_rasteriser, m_target);
    m_rasteriser->restoreState();
    EXPECT_EQ(m_rasteriser.get(), page);
    EXPECT_EQ(m_target, m_bitmap.get());
    // Page y 50..60 is device rows 40..50.
    EXPECT_GT(inked(20, 40, 30, 50), 90);
    EXPECT_EQ(inked(32, 0, 200, 100), 0);

    glyphAt(100, 50);  // the same glyph elsewhere: from the cache
    EXPECT_TRUE(m_text->beginType3Char(m_state.get(), m_rasteriser.get(), 'a'));
    EXPECT_EQ(m_text->getType3StackDepth(), 0);
    EXPECT_GT(inked(100, 40, 110, 50), 90);
    EXPECT_EQ(m_text->getType3Caches().getCount(), 1);

    // At another scale the font gets a second cache.
    m_state->setMatrix(0.2, 0, 0, -0.2, 150, 50);
    m_rasteriser->setMatrix(m_state->getMatrix());
    EXPECT_FALSE(m_text->beginType3Char(m_state.get(), m_rasteriser.get(), 'a'));
    m_text->endType3Char(m_state.get(), m_rasteriser, m_target);
    EXPECT_EQ(m_text->getType3Caches().getCount(), 2);
}

}  // namespace
}  // namespace rendova::test
