#include <gtest/gtest.h>

#include <cmath>

#include "engine/raster/Rasteriser.h"
#include "tests/engine/raster/RasteriserTestSupport.h"

namespace rendova {
namespace {

using test::addRect;
using test::grey;

TEST(RasteriserFillTest, EmptyPathReturnsEmptyPathAndPaintsNothing) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    RasterPath empty;
    EXPECT_EQ(r.fill(empty, false), resultEmptyPath);
    EXPECT_EQ(r.modXMax(), -1);
}

TEST(RasteriserFillTest, FillOutsideTheClipLeavesBitmapAndBoxUntouched) {
    for (int aa = 0; aa <= 1; ++aa) {
        RasterBitmap bitmap(16, 16, 1, rasterBGR8, true, false);
        Rasteriser r(&bitmap, aa, nullptr);
        test::clearTo(r, 200, 7);
        const auto before = test::snapshot(bitmap);
        r.getState()->clip().clipToRect(0, 0, 7.5, 7.5);
        RasterPath path;
        addRect(path, 9, 9, 14, 14);
        EXPECT_EQ(r.fill(path, false), resultOk);
        EXPECT_EQ(r.opClipResult(), 1);
        EXPECT_EQ(test::snapshot(bitmap), before);
        EXPECT_EQ(r.modXMin(), 16);
        EXPECT_EQ(r.modXMax(), -1);
    }
}

TEST(RasteriserFillTest, AntialiasedCoverageGoesThroughTheGammaCurve) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    // Pixel (1, 1): the left half of its sub-columns on all four sub-rows,
    // 8 of 16. Pixel (2, 1) wholly covered.
    RasterPath half;
    addRect(half, 1.0, 1.0, 1.49, 1.99);
    RasterPath whole;
    addRect(whole, 2.0, 1.0, 2.99, 1.99);
    r.fill(half, false);
    r.fill(whole, false);
    // shape = (8 / 16) ^ 1.5; aSrc = floor(255 shape + 0.5) = 90; black over
    // white: (255 - 90) x 255 / 255.
    const int aSrc = static_cast<int>(std::floor(std::pow(0.5, 1.5) * 255 + 0.5));
    EXPECT_EQ(aSrc, 90);
    EXPECT_EQ(grey(bitmap, 1, 1), 255 - aSrc);
    EXPECT_EQ(grey(bitmap, 2, 1), 0);
    EXPECT_EQ(grey(bitmap, 3, 1), 255);
    EXPECT_EQ(grey(bitmap, 1, 2), 255);
    EXPECT_EQ(r.modXMin(), 1);
    EXPECT_EQ(r.modXMax(), 2);
}

TEST(RasteriserFillTest, EdgesOnPixelBoundariesCoverOnlyTheirPixels) {
    for (int aa = 0; aa <= 1; ++aa) {
        RasterBitmap bitmap(10, 10, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, aa, nullptr);
        test::clearTo(r, 255);
        RasterPath path;
        addRect(path, 2, 3, 6, 7);
        r.fill(path, false);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x)
                EXPECT_EQ(grey(bitmap, x, y), x >= 2 && x < 6 && y >= 3 && y < 7 ? 0 : 255)
                    << aa << ":" << x << "," << y;
        EXPECT_EQ(r.modXMax(), 5) << aa;
        EXPECT_EQ(r.modYMax(), 6) << aa;
    }
}

TEST(RasteriserFillTest, AntialiasedClipRectangleCutsSubRowsAndSubColumns) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    r.getState()->clip().clipToRect(1, 1.5, 4.5, 4);
    RasterPath path;
    addRect(path, 0, 0, 8, 8);
    r.fill(path, false);
    // Half of pixel row 1 and of column 4 lie inside: 8 of 16 sub-pixels,
    // 4 of 16 at their corner; row 4 and column 5 lie outside.
    const auto covered = [](double share) { return 255 - int(std::floor(std::pow(share, 1.5) * 255 + 0.5)); };
    EXPECT_EQ(grey(bitmap, 2, 1), covered(0.5));
    EXPECT_EQ(grey(bitmap, 4, 2), covered(0.5));
    EXPECT_EQ(grey(bitmap, 4, 1), covered(0.25));
    EXPECT_EQ(grey(bitmap, 2, 2), 0);
    EXPECT_EQ(grey(bitmap, 2, 4), 255);
    EXPECT_EQ(grey(bitmap, 5, 2), 255);
    EXPECT_EQ(grey(bitmap, 0, 2), 255);
}

TEST(RasteriserFillTest, ModifiedBoxCoversEveryPaintedPixel) {
    for (int aa = 0; aa <= 1; ++aa) {
        RasterBitmap bitmap(20, 20, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, aa, nullptr);
        test::clearTo(r, 255);
        RasterPath path;
        path.moveTo(3.2, 4.1);
        path.lineTo(15.7, 6.3);
        path.lineTo(9.1, 17.8);
        path.close();
        r.fill(path, false);
        int x0 = 99, y0 = 99, x1 = -1, y1 = -1;
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 20; ++x) {
                if (grey(bitmap, x, y) != 255) {
                    x0 = std::min(x0, x), x1 = std::max(x1, x);
                    y0 = std::min(y0, y), y1 = std::max(y1, y);
                }
            }
        }
        EXPECT_EQ(r.modXMin(), x0) << aa;
        EXPECT_EQ(r.modXMax(), x1) << aa;
        EXPECT_EQ(r.modYMin(), y0) << aa;
        EXPECT_EQ(r.modYMax(), y1) << aa;
        EXPECT_EQ(r.opClipResult(), 0);
    }
}

TEST(RasteriserFillTest, EvenOddLeavesTheHoleOfARingNonZeroFillsIt) {
    for (int evenOdd = 0; evenOdd <= 1; ++evenOdd) {
        RasterBitmap bitmap(12, 12, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, false, nullptr);
        test::clearTo(r, 255);
        RasterPath path;
        addRect(path, 1, 1, 11, 11);
        addRect(path, 4, 4, 8, 8);  // same direction
        r.fill(path, evenOdd);
        EXPECT_EQ(grey(bitmap, 2, 2), 0);
        EXPECT_EQ(grey(bitmap, 6, 6), evenOdd ? 255 : 0);
    }
}

TEST(RasteriserFillTest, ClipPathCutsTheFill) {
    for (int aa = 0; aa <= 1; ++aa) {
        RasterBitmap bitmap(16, 16, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, aa, nullptr);
        test::clearTo(r, 255);
        RasterPath clip;
        clip.moveTo(0, 0);
        clip.lineTo(16, 0);
        clip.lineTo(0, 16);
        clip.close();
        r.clipToPath(clip, false);
        RasterPath path;
        addRect(path, 0, 0, 16, 16);
        r.fill(path, false);
        EXPECT_EQ(r.opClipResult(), 2);
        EXPECT_EQ(grey(bitmap, 2, 2), 0);
        EXPECT_EQ(grey(bitmap, 13, 13), 255);
    }
}

TEST(RasteriserFillTest, HugeCoordinatesPaintOnlyTheBitmap) {
    RasterBitmap bitmap(10, 10, 1, rasterBGR8, false, false);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    RasterPath path;
    addRect(path, -1e300, -1e300, 1e300, 1e300);
    r.fill(path, false);
    EXPECT_EQ(test::pixel(bitmap, 0, 0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(test::pixel(bitmap, 9, 9), (std::vector<int>{0, 0, 0}));
}

TEST(RasteriserClearTest, GreyInTwentyFourBitsFillsPaddingToo) {
    RasterBitmap bitmap(3, 2, 4, rasterBGR8, true, false);  // 9 bytes of pixels, 12 per row
    Rasteriser r(&bitmap, false, nullptr);
    const uint8_t g[3] = {77, 77, 77};
    r.clear(g, 9);
    const uint8_t* pixels = bitmap.block() + RasterBitmap::kHeaderSize;
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(pixels[i], 77) << i;
    EXPECT_EQ(test::alphaAt(bitmap, 2, 1), 9);
    EXPECT_EQ(r.modXMin(), 0);
    EXPECT_EQ(r.modYMax(), 1);
}

TEST(RasteriserClearTest, ColourLeavesPaddingAndStoresInModeOrder) {
    RasterBitmap bitmap(3, 1, 4, rasterBGR8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    uint8_t* pixels = bitmap.block() + RasterBitmap::kHeaderSize;
    pixels[9] = pixels[10] = pixels[11] = 0xab;
    const uint8_t red[3] = {255, 0, 0};
    r.clear(red, 0);
    EXPECT_EQ(pixels[0], 0);
    EXPECT_EQ(pixels[2], 255);
    EXPECT_EQ(pixels[9], 0xab);
    EXPECT_EQ(test::pixel(bitmap, 2, 0), (std::vector<int>{255, 0, 0}));
}

TEST(RasteriserClearTest, MonoThresholdsAtHalf) {
    RasterBitmap bitmap(9, 2, 1, rasterMono1, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    const uint8_t light[3] = {128, 0, 0};
    r.clear(light, 0);
    EXPECT_EQ(bitmap.data()[0], 0xff);
    const uint8_t dark[3] = {127, 0, 0};
    r.clear(dark, 0);
    EXPECT_EQ(bitmap.data()[1], 0);
}

}  // namespace
}  // namespace rendova
