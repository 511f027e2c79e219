// What the fill and stroke colours paint when they are patterns, for shapes
// that are no path: stencil masks (image XObjects and inline images) and
// text in every render mode, with shading and tiling patterns.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/core/GlobalSettings.h"
#include "tests/engine/raster/RasterDevicePages.h"
#include "tests/engine/raster/RasterFontTestSupport.h"

namespace rendova::test {
namespace {

using Rgb = std::vector<int>;

const Rgb kWhite = {255, 255, 255};
const Rgb kBlack = {0, 0, 0};
const Rgb kRed = {255, 0, 0};
const Rgb kGreen = {0, 255, 0};
const Rgb kBlue = {0, 0, 255};

// A shading pattern from the colour c0 at x = 0 to c1 at x = 100.
std::string axialPattern(const std::string& name, const std::string& c0, const std::string& c1) {
    return "/" + name +
           " << /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 100 0] "
           "/Function << /FunctionType 2 /Domain [0 1] /C0 [" +
           c0 + "] /C1 [" + c1 + "] /N 1 >> >> >> ";
}
// /Red and /Green: shading patterns of one colour each; /Ramp: red at x = 0
// to blue at x = 100; /Tiles: a tiling pattern of blue cells (object 20).
const std::string kPatterns = "/Pattern << " + axialPattern("Red", "1 0 0", "1 0 0") +
                              axialPattern("Green", "0 1 0", "0 1 0") +
                              axialPattern("Ramp", "1 0 0", "0 0 1") + "/Tiles 20 0 R >>";
const StreamObject kTiles = {20,
                             "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 5 5] /XStep 5 /YStep 5 "
                             "/Resources << >> >>",
                             "0 0 1 rg 0 0 5 5 re f"};

// Red over blue, or blue over red: the ramp's colour, neither black nor
// white nor grey.
bool rampColour(const Rgb& c) {
    return c[1] < 40 && c[0] + c[2] > 200 && c[0] > 20 && c[2] > 20;
}

// --- Stencil masks.

// A 4 x 4 mask whose left half paints (sample 0 paints, the default
// decode) over (20, 20) .. (80, 80).
const std::string kMaskHex = "3F3F3F3F>";
const StreamObject kMask = {10,
                            "<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ImageMask true "
                            "/Filter /ASCIIHexDecode >>",
                            kMaskHex};

std::string maskPage(const std::string& colour, bool inlineImage) {
    const std::string mask = inlineImage ? "BI /W 4 /H 4 /IM true /F /AHx ID " + kMaskHex + " EI" : "/M Do";
    return colour + " q 60 0 0 60 20 20 cm " + mask + " Q 0 0 1 rg 90 90 5 5 re f";
}

TEST(RasterDevicePatternPaintTest, StencilMaskPaintsTheShadingOfItsPattern) {
    for (bool inlineImage : {false, true}) {
        DevicePage page;
        const RasterBitmap& b =
            page.draw(maskPage("/Pattern cs /Ramp scn", inlineImage),
                      "<< /XObject << /M 10 0 R >> " + kPatterns + " >>", {kMask, kTiles});
        // The mask's painting half shows the ramp, reddest at its left.
        EXPECT_TRUE(rampColour(at(b, 25, 50))) << inlineImage;
        EXPECT_TRUE(rampColour(at(b, 45, 50))) << inlineImage;
        EXPECT_GT(at(b, 25, 50)[0], at(b, 45, 50)[0]) << inlineImage;
        // Its other half and the page around it stay white.
        EXPECT_EQ(at(b, 70, 50), kWhite) << inlineImage;
        EXPECT_EQ(at(b, 10, 50), kWhite) << inlineImage;
        EXPECT_EQ(at(b, 25, 85), kWhite) << inlineImage;
        // The content after an inline mask goes on.
        EXPECT_EQ(at(b, 92, 92), kBlue) << inlineImage;
    }
}

TEST(RasterDevicePatternPaintTest, StencilMaskPaintsTheCellsOfItsTilingPattern) {
    // Blue is grey 29 on a grey page and black on a 1-bit one.
    for (int mode : {rasterMono1, rasterMono8, rasterRGB8}) {
        for (bool inlineImage : {false, true}) {
            DevicePage page;
            const RasterBitmap& b =
                page.draw(maskPage("/Pattern cs /Tiles scn", inlineImage),
                          "<< /XObject << /M 10 0 R >> " + kPatterns + " >>", {kMask, kTiles}, mode);
            const Rgb blue = mode == rasterRGB8 ? kBlue : mode == rasterMono8 ? Rgb({28}) : Rgb({0});
            const Rgb white = mode == rasterRGB8 ? kWhite : Rgb({255});
            EXPECT_EQ(at(b, 30, 50), blue) << mode << inlineImage;
            EXPECT_EQ(at(b, 70, 50), white) << mode << inlineImage;
            EXPECT_EQ(at(b, 10, 10), white) << mode << inlineImage;
        }
    }
}

TEST(RasterDevicePatternPaintTest, PatternedStencilMaskKeepsTheStatesOpacity) {
    // Half opacity over the page's white: the mask's half shows half red.
    DevicePage page;
    const RasterBitmap& b =
        page.draw("/G gs " + maskPage("/Pattern cs /Red scn", false),
                  "<< /ExtGState << /G << /ca 0.5 >> >> /XObject << /M 10 0 R >> " + kPatterns + " >>",
                  {kMask, kTiles});
    const Rgb c = at(b, 30, 50);
    EXPECT_EQ(c[0], 255);
    EXPECT_NEAR(c[1], 128, 2);
    EXPECT_NEAR(c[2], 128, 2);
    EXPECT_EQ(at(b, 70, 50), kWhite);
}

// --- Type 3 glyphs. "A" is a shape (d1): a square, or a stencil mask whose
// left half paints, as in a scanned font; "B" sets its own colour (d0). At 40
// points each covers 40 points: "A" x = 10 .. 50, "B" 50 .. 90, y = 30 .. 70.

std::string type3Font(const std::string& box) {
    return "<< /Font << /T << /Type /Font /Subtype /Type3 /FontBBox [" + box +
           "] /FontMatrix [0.1 0 0 0.1 0 0] /CharProcs << /s 31 0 R /c 32 0 R >> /Encoding << /Type "
           "/Encoding /Differences [65 /s /c] >> /FirstChar 65 /LastChar 66 /Widths [10 10] >> >> "
           "/XObject << /M 10 0 R >> ";
}

TEST(RasterDevicePatternPaintTest, Type3ShapesTakeThePatternAndColouredGlyphsTheirColour) {
    const StreamObject square = {31, "<< >>", "10 0 0 0 10 10 d1 0 0 10 10 re f"};
    const StreamObject stencil = {31, "<< >>", "10 0 0 0 10 10 d1 q 10 0 0 10 0 0 cm /M Do Q"};
    const StreamObject coloured = {32, "<< >>", "10 0 d0 0 1 0 rg 0 0 10 10 re f"};
    // With a font box the glyphs go through the glyph cache; without one
    // they are drawn as they run.
    for (const char* box : {"0 0 10 10", "0 0 0 0"}) {
        for (const StreamObject& shape : {square, stencil}) {
            DevicePage page;
            const RasterBitmap& b =
                page.draw("/Pattern cs /Ramp scn BT /T 40 Tf 10 30 Td (AB) Tj ET",
                          type3Font(box) + kPatterns + " >>", {kMask, kTiles, shape, coloured});
            EXPECT_TRUE(rampColour(at(b, 20, 50))) << box << shape.data;
            EXPECT_EQ(at(b, 70, 50), kGreen) << box << shape.data;
            EXPECT_EQ(at(b, 5, 50), kWhite) << box << shape.data;
            // The stencil's right half (x = 30 .. 50) paints nothing.
            const bool isSquare = shape.data == square.data;
            EXPECT_EQ(rampColour(at(b, 40, 50)), isSquare) << box;
            EXPECT_EQ(at(b, 40, 50) == kWhite, !isSquare) << box;
        }
        DevicePage page;
        const RasterBitmap& b =
            page.draw("/Pattern cs /Tiles scn BT /T 40 Tf 10 30 Td (A) Tj ET",
                      type3Font(box) + kPatterns + " >>", {kMask, kTiles, square, coloured});
        EXPECT_EQ(at(b, 22, 52), kBlue) << box;
    }
}

// --- Text. "I" of the standard sans-serif face at 100 points from x = 10:
// its stem runs from about x = 19 to 29 and y = 10 to 82; a stroke 4 wide
// covers 2 points on either side of its outline.

const std::string kTextResources =
    "<< /Font << /F << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> ";

// The standard faces from their Debian folder, in settings of the test's own.
class PatternTextTest : public TempFolderTest {
protected:
    void SetUp() override {
        if (!haveTestFonts())
            GTEST_SKIP() << "fonts-urw-base35 and fonts-liberation2 are needed";
        m_settings = std::make_unique<GlobalSettings>((m_dir / "none.conf").c_str());
        m_settings->locateStandardFonts("/usr/share/fonts/type1/urw-base35");
        globalSettings = m_settings.get();
    }
    void TearDown() override { globalSettings = nullptr; }

    std::unique_ptr<GlobalSettings> m_settings;
};

TEST_F(PatternTextTest, TextInEveryRenderModePaintsItsPatterns) {
    // Fill in the red shading, stroke in the green one; after the text
    // object, the clip modes let a blue page fill through the glyph only.
    for (int mode : {0, 1, 2, 4, 5, 6}) {
        const bool fills = mode == 0 || mode == 2 || mode == 4 || mode == 6;
        const bool strokes = mode == 1 || mode == 2 || mode == 5 || mode == 6;
        const bool clips = mode >= 4;
        DevicePage page;
        const RasterBitmap& b = page.draw(
            "/Pattern cs /Red scn /Pattern CS /Green SCN 4 w BT /F 100 Tf 10 10 Td " + std::to_string(mode) +
                " Tr (I) Tj ET" + (clips ? " 0 0 1 rg 0 0 100 100 re f" : ""),
            kTextResources + kPatterns + " >>", {kTiles});
        EXPECT_EQ(at(b, 24, 45), clips ? kBlue : fills ? kRed : kWhite) << mode;
        EXPECT_EQ(at(b, 18, 45), strokes ? kGreen : kWhite) << mode;
        EXPECT_EQ(at(b, 40, 45), kWhite) << mode;
    }
}

TEST_F(PatternTextTest, TextPaintsTilingPatternsAndMovesOn) {
    // Fill and stroke in the tiling pattern, then a second string in black:
    // it stands where the first one's width puts it.
    for (int mode : {0, 1, 2}) {
        DevicePage page;
        const RasterBitmap& b =
            page.draw("/Pattern cs /Tiles scn /Pattern CS /Tiles SCN 4 w BT /F 100 Tf 10 10 Td " +
                          std::to_string(mode) + " Tr (I) Tj 0 Tr 0 g (I) Tj ET",
                      kTextResources + kPatterns + " >>", {kTiles});
        EXPECT_EQ(at(b, 24, 45), mode != 1 ? kBlue : kWhite) << mode;
        EXPECT_EQ(at(b, 18, 45), mode != 0 ? kBlue : kWhite) << mode;
        EXPECT_EQ(at(b, 40, 45), kWhite) << mode;
        // The second "I" lies 27.8 points on.
        EXPECT_EQ(at(b, 52, 45), kBlack) << mode;
    }
}

TEST_F(PatternTextTest, TextInTheCellsOfATextsPatternIsFilled) {
    // Cells of 10 points whose own text draws the stem of an "I" from x =
    // 3.8 to 7.5: the page's "I", filled or stroked and filled with them,
    // shows the cells' stems, not the clip mode in which the string's
    // glyphs were gathered.
    const StreamObject stems = {21,
                                "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] /XStep 10 "
                                "/YStep 10 /Resources << /Font << /F << /Type /Font /Subtype /Type1 "
                                "/BaseFont /Helvetica >> >> >> >>",
                                "BT /F 40 Tf 0 0 Td (I) Tj ET"};
    for (int mode : {0, 2}) {
        DevicePage page;
        const RasterBitmap& b = page.draw(
            "/Pattern cs /Stems scn BT /F 100 Tf 10 10 Td " + std::to_string(mode) + " Tr (I) Tj ET",
            kTextResources + "/Pattern << /Stems 21 0 R >> >>", {stems});
        EXPECT_EQ(at(b, 24, 45), kBlack) << mode;
        EXPECT_EQ(at(b, 22, 45), kWhite) << mode;
    }
}

}  // namespace
}  // namespace rendova::test
