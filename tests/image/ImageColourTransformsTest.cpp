// Grey conversion, inversion and bit-depth reduction.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "image/ImageTransforms.h"
#include "tests/image/TransformTestUtil.h"

namespace rendova {
namespace {

RgbQuad bgr(uint8_t blue, uint8_t green, uint8_t red) {
    return RgbQuad{blue, green, red, 0};
}

// --- Grey ---------------------------------------------------------------------

TEST(ImageGrey, UsesTheIntegerLuminanceWeights) {
    RasterImage image(5, 1, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(0, 0, 255));
    image.WriteColor(1, 0, bgr(0, 255, 0));
    image.WriteColor(2, 0, bgr(255, 0, 0));
    image.WriteColor(3, 0, bgr(255, 255, 255));
    image.WriteColor(4, 0, bgr(10, 20, 30));
    ASSERT_TRUE(ConvertToGrey(image));
    ASSERT_EQ(image.GetBpp(), 8);
    EXPECT_TRUE(image.HasGreyPalette());
    EXPECT_EQ(image.ReadIndex(0, 0), 76);
    EXPECT_EQ(image.ReadIndex(1, 0), 149);
    EXPECT_EQ(image.ReadIndex(2, 0), 29);
    EXPECT_EQ(image.ReadIndex(3, 0), 255);
    EXPECT_EQ(image.ReadIndex(4, 0), (30 * 306 + 20 * 601 + 10 * 117) >> 10);
}

TEST(ImageGrey, PaletteImagesOfEveryDepthBecomeEightBitGrey) {
    for (int32_t bits : {1, 4, 8}) {
        RasterImage image(9, 3, bits, kFormatBmp);
        image.SetPaletteEntry(0, 255, 0, 0);  // red
        image.SetPaletteEntry(1, 0, 0, 255);  // blue
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 9; ++x)
                image.WriteIndex(x, y, uint8_t((x + y) & 1));
        image.SetTransparentIndex(1);
        ASSERT_TRUE(image.MakeAlphaPlane());
        image.WriteAlpha(8, 2, 33);
        ASSERT_TRUE(ConvertToGrey(image)) << bits;
        ASSERT_EQ(image.GetBpp(), 8) << bits;
        ASSERT_EQ(image.GetWidth(), 9);
        EXPECT_TRUE(image.HasGreyPalette()) << bits;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 9; ++x)
                ASSERT_EQ(image.ReadIndex(x, y), ((x + y) & 1) ? 29 : 76) << bits << " bits at " << x;
        // The transparent entry keeps standing for the same pixels.
        EXPECT_EQ(image.GetTransparentIndex(), 29) << bits;
        EXPECT_EQ(image.ReadAlpha(8, 2), 33) << bits;
    }
}

TEST(ImageGrey, KeepsTheResolution) {
    RasterImage image(2, 2, 24, kFormatBmp);
    image.SetDpiX(300);
    image.SetDpiY(72);
    ASSERT_TRUE(ConvertToGrey(image));
    EXPECT_EQ(image.GetDpiX(), 300);
    EXPECT_EQ(image.header().xPelsPerMeter, 11811);
    EXPECT_EQ(image.header().yPelsPerMeter, 2835);
}

TEST(ImageGrey, EscapeStopsAtARowAndStillHandsOver) {
    RasterImage image(4, 10, 24, kFormatBmp);
    image.FillBytes(255);
    image.info().escape = 1;
    ASSERT_TRUE(ConvertToGrey(image));
    EXPECT_EQ(image.GetBpp(), 8);
    EXPECT_EQ(image.ReadIndex(0, 0), 0);  // never filled
}

// --- Invert -------------------------------------------------------------------

TEST(ImageInvert, TrueColourBytesAndTransparentColourInvert) {
    RasterImage image(3, 2, 24, kFormatBmp);
    image.WriteColor(1, 1, bgr(1, 2, 250));
    image.SetTransparentColour(bgr(0, 255, 16));
    ASSERT_TRUE(Invert(image));
    EXPECT_EQ(image.ReadColor(1, 1, false), bgr(254, 253, 5));
    EXPECT_EQ(image.ReadColor(0, 0, false), bgr(255, 255, 255));
    EXPECT_EQ(image.GetTransparentColour(), bgr(255, 0, 239));
    // The padding after the 9 bytes of a row is untouched.
    EXPECT_EQ(image.RowPointer(0)[9], 0);
}

TEST(ImageInvert, ColourPaletteInvertsAndIndicesStay) {
    RasterImage image(5, 1, 4, kFormatBmp);
    image.SetFixedPalette();
    image.WriteIndex(2, 0, 9);
    ASSERT_TRUE(Invert(image));
    EXPECT_EQ(image.ReadIndex(2, 0), 9);
    EXPECT_EQ(image.PaletteEntry(9), bgr(255, 255, 0));  // red became cyan
    EXPECT_EQ(image.PaletteEntry(0), bgr(255, 255, 255));
    // The nearest-colour search sees the new palette.
    EXPECT_EQ(image.NearestPaletteIndex(bgr(255, 255, 255)), 0);
}

TEST(ImageInvert, GreyIdentityPaletteComplementsIndicesWithinTheDepth) {
    RasterImage grey(3, 1, 8, kFormatBmp);
    grey.MakeGreyPalette();
    grey.WriteIndex(0, 0, 10);
    ASSERT_TRUE(Invert(grey));
    EXPECT_EQ(grey.ReadIndex(0, 0), 245);
    EXPECT_EQ(grey.ReadIndex(1, 0), 255);
    EXPECT_TRUE(grey.HasGreyPalette());

    // A 1-bit identity palette (entries 0 and 1): bits flip, row padding stays clear.
    RasterImage bilevel(9, 2, 1, kFormatBmp);
    bilevel.SetPaletteEntry(1, 1, 1, 1);
    bilevel.WriteIndex(8, 1, 1);
    ASSERT_TRUE(Invert(bilevel));
    EXPECT_EQ(bilevel.ReadIndex(8, 1), 0);
    EXPECT_EQ(bilevel.ReadIndex(7, 1), 1);
    EXPECT_TRUE(test::rowPaddingIsClear(bilevel));
}

// --- ReduceBitDepth -----------------------------------------------------------

TEST(ImageReduce, RefusalsAndNoOps) {
    RasterImage image(4, 4, 8, kFormatBmp);
    image.SetFixedPalette();
    image.WriteIndex(1, 1, 77);
    const RasterImage original(image, true, true, true);
    EXPECT_TRUE(ReduceBitDepth(image, 8, false, nullptr, 0));  // same depth, no colour count
    EXPECT_FALSE(ReduceBitDepth(image, 24, false, nullptr, 0));
    image.SetImportantColours(16);
    EXPECT_TRUE(ReduceBitDepth(image, 8, false, nullptr, 100));  // already fewer important colours
    EXPECT_EQ(0, std::memcmp(image.RowPointer(0), original.RowPointer(0), original.header().sizeImage));

    RasterImage colour(4, 4, 24, kFormatBmp);
    EXPECT_FALSE(ReduceBitDepth(colour, 2, false, nullptr, 0));  // 2 bits is no held depth
    EXPECT_FALSE(ReduceBitDepth(colour, 0, false, nullptr, 0));
    EXPECT_EQ(colour.GetBpp(), 24);
}

TEST(ImageReduce, DefaultPalettesAndNearestColours) {
    RasterImage image(3, 1, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(0, 0, 255));
    image.WriteColor(1, 0, bgr(0, 0, 0));
    image.WriteColor(2, 0, bgr(250, 250, 250));
    RasterImage four(image, true, true, true);
    ASSERT_TRUE(ReduceBitDepth(image, 8, false, nullptr, 0));
    EXPECT_EQ(image.GetBpp(), 8);
    EXPECT_EQ(image.ReadIndex(0, 0), 249);  // pure red in the standard 256-colour table
    EXPECT_EQ(image.ReadIndex(1, 0), 0);
    EXPECT_EQ(image.ReadIndex(2, 0), 255);
    ASSERT_TRUE(ReduceBitDepth(four, 4, false, nullptr, 0));
    EXPECT_EQ(four.ReadIndex(0, 0), 9);
    EXPECT_EQ(four.ReadIndex(2, 0), 15);
}

TEST(ImageReduce, BilevelThresholdWithoutDiffusion) {
    RasterImage image(2, 1, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(127, 127, 127));
    image.WriteColor(1, 0, bgr(128, 128, 128));
    ASSERT_TRUE(ReduceBitDepth(image, 1, false, nullptr, 0));
    EXPECT_EQ(image.PaletteEntry(0), bgr(0, 0, 0));
    EXPECT_EQ(image.PaletteEntry(1), bgr(255, 255, 255));
    EXPECT_EQ(image.ReadIndex(0, 0), 0);
    EXPECT_EQ(image.ReadIndex(1, 0), 1);
}

TEST(ImageReduce, DiffusionSpreadsFourteenSixteenthsUpTheStoredRows) {
    // Stored row 0 = (100, 100), row 1 = (0, 0). Worked by hand:
    // (0,0) 100 -> black, error 100: (1,0) += 43 -> 143, (0,1) += 25, (1,1) += 6.
    // (1,0) 143 -> white, error -112: (0,1) += -14 -> 11, (1,1) += -28 -> 0.
    // (0,1) 11 -> black, error 11: (1,1) += 4 -> 4 -> black.
    RasterImage image(2, 2, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(100, 100, 100));
    image.WriteColor(1, 0, bgr(100, 100, 100));
    ASSERT_TRUE(ReduceBitDepth(image, 1, true, nullptr, 0));
    EXPECT_EQ(image.ReadIndex(0, 0), 0);
    EXPECT_EQ(image.ReadIndex(1, 0), 1);
    EXPECT_EQ(image.ReadIndex(0, 1), 0);
    EXPECT_EQ(image.ReadIndex(1, 1), 0);
}

TEST(ImageReduce, DiffusedMidGreyBecomesAPatternOfTheRightDensity) {
    RasterImage image(64, 64, 24, kFormatBmp);
    image.FillBytes(128);
    ASSERT_TRUE(ReduceBitDepth(image, 1, true, nullptr, 0));
    int white = 0;
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x)
            white += image.ReadIndex(x, y);
    // A flat colour would give 0 or 4096; the diffusion gives about half white
    // (somewhat fewer, as only 14/16 of each error is passed on).
    EXPECT_GT(white, 4096 * 35 / 100);
    EXPECT_LT(white, 4096 * 60 / 100);
}

TEST(ImageReduce, GivenPaletteIsReadNoFurtherThanItsColourCount) {
    // Only two entries exist; a read of 16 would run past the allocation
    // (caught under the address sanitizer).
    auto palette = std::make_unique<RgbQuad[]>(2);
    palette[0] = bgr(0, 0, 200);
    palette[1] = bgr(200, 0, 0);
    RasterImage image(3, 1, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(0, 0, 255));
    image.WriteColor(1, 0, bgr(255, 0, 0));
    image.WriteColor(2, 0, bgr(0, 0, 0));
    ASSERT_TRUE(ReduceBitDepth(image, 4, false, palette.get(), 2));
    EXPECT_EQ(image.GetBpp(), 4);
    EXPECT_EQ(image.header().clrImportant, 2u);
    EXPECT_EQ(image.PaletteEntry(0), palette[0]);
    EXPECT_EQ(image.PaletteEntry(1), palette[1]);
    EXPECT_EQ(image.ReadIndex(0, 0), 0);
    EXPECT_EQ(image.ReadIndex(1, 0), 1);
    // Black is nearer the unused (black) entries, but only the important colours count.
    EXPECT_EQ(image.ReadIndex(2, 0), 0);
}

TEST(ImageReduce, EightBitGreyToOneBitDiffusesThroughTheSourcePalette) {
    RasterImage image(16, 16, 8, kFormatBmp);
    image.MakeGreyPalette();
    image.FillBytes(128);
    ASSERT_TRUE(ReduceBitDepth(image, 1, true, nullptr, 0));
    ASSERT_EQ(image.GetBpp(), 1);
    int white = 0;
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            white += image.ReadIndex(x, y);
    EXPECT_GT(white, 256 / 4);
    EXPECT_LT(white, 256 * 3 / 4);
}

TEST(ImageReduce, KeepsSettingsAlphaAndReportsProgress) {
    RasterImage image(5, 10, 24, kFormatPng);
    image.SetDpiX(300);
    image.SetQuality(42);
    ASSERT_TRUE(image.MakeAlphaPlane());
    image.WriteAlpha(4, 9, 9);
    ASSERT_TRUE(ReduceBitDepth(image, 8, false, nullptr, 0));
    EXPECT_EQ(image.GetType(), uint32_t(kFormatPng));
    EXPECT_EQ(image.GetQuality(), 42);
    EXPECT_EQ(image.header().xPelsPerMeter, 11811);
    EXPECT_EQ(image.ReadAlpha(4, 9), 9);
    EXPECT_EQ(image.info().progress, 90);  // set before the last of 10 rows
}

TEST(ImageReduce, BilevelSourceEndsWithABlackAndWhitePalette) {
    RasterImage image(4, 1, 1, kFormatBmp);
    image.SetPaletteEntry(0, 255, 0, 0);
    image.SetPaletteEntry(1, 0, 0, 255);
    image.WriteIndex(2, 0, 1);
    ASSERT_TRUE(ReduceBitDepth(image, 1, false, nullptr, 2));
    EXPECT_EQ(image.PaletteEntry(0), bgr(0, 0, 0));
    EXPECT_EQ(image.PaletteEntry(1), bgr(255, 255, 255));
}

}  // namespace
}  // namespace rendova
