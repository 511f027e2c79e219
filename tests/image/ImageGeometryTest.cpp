// Rotation by any angle and resampling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "image/ImageTransforms.h"
#include "tests/image/TransformTestUtil.h"

namespace rendova {
namespace {

using test::pixelValue;

RgbQuad bgr(uint8_t blue, uint8_t green, uint8_t red) {
    return RgbQuad{blue, green, red, 0};
}

// --- Rotate -------------------------------------------------------------------

TEST(ImageRotate, ZeroDegreesAddsTwoColumnsAndRowsOnTheFarSide) {
    RasterImage image;
    test::patternImage(image, 10, 10, 24);
    const RasterImage original(image, true, true, true);
    int32_t width = 0, height = 0;
    ASSERT_TRUE(RotateWithSize(image, 0.0f, width, height));
    EXPECT_EQ(width, 12);
    EXPECT_EQ(height, 12);
    ASSERT_EQ(image.GetWidth(), 12);
    ASSERT_EQ(image.GetHeight(), 12);
    // Samples are taken at trunc(x - 0.5): columns 0 and 1 both read column 0.
    EXPECT_EQ(pixelValue(image, 0, 0), pixelValue(original, 0, 0));
    EXPECT_EQ(pixelValue(image, 1, 1), pixelValue(original, 0, 0));
    EXPECT_EQ(pixelValue(image, 2, 7), pixelValue(original, 1, 6));
    EXPECT_EQ(pixelValue(image, 10, 10), pixelValue(original, 9, 9));
    // Beyond the picture, without a transparent index, the first pixel's colour.
    EXPECT_EQ(pixelValue(image, 11, 4), pixelValue(original, 0, 0));
}

TEST(ImageRotate, NinetyDegreesTurnsClockwiseIntoASwappedSizePlusTwo) {
    for (int32_t bits : {1, 4, 8, 24}) {
        RasterImage image;
        test::patternImage(image, 9, 5, bits);
        const RasterImage original(image, true, true, true);
        RasterImage destination;
        int32_t width = 0, height = 0;
        ASSERT_TRUE(RotateWithSize(image, 90.0f, width, height, &destination));
        EXPECT_EQ(width, 5 + 2);
        EXPECT_EQ(height, 9 + 2);
        EXPECT_EQ(destination.GetWidth(), width);
        EXPECT_EQ(destination.GetBpp(), bits);
        EXPECT_EQ(image.GetWidth(), 9);  // the source stays
        for (int32_t r = 0; r < 9; ++r)
            for (int32_t k = 1; k <= 5; ++k)
                ASSERT_EQ(pixelValue(destination, k, r), pixelValue(original, 9 - 1 - r, k - 1))
                    << bits << " bits at " << k << "," << r;
    }
}

TEST(ImageRotate, OutsideSamplesTakeTheTransparentIndexAndAlphaZero) {
    RasterImage image(6, 4, 8, kFormatBmp);
    image.SetFixedPalette();
    image.FillBytes(3);
    image.SetTransparentIndex(200);
    ASSERT_TRUE(image.MakeAlphaPlane());
    ASSERT_TRUE(Rotate(image, 30.0f));
    ASSERT_TRUE(image.HasAlpha());
    int outside = 0, inside = 0;
    for (int32_t y = 0; y < image.GetHeight(); ++y) {
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const uint8_t index = image.ReadIndex(x, y);
            ASSERT_TRUE(index == 200 || index == 3);
            ASSERT_EQ(image.ReadAlpha(x, y), index == 3 ? 255 : 0);
            (index == 3 ? inside : outside)++;
        }
    }
    EXPECT_GT(outside, 0);
    EXPECT_GT(inside, 18);
}

TEST(ImageRotate, RefusesAnAngleThatIsNotANumber) {
    RasterImage image(4, 4, 24, kFormatBmp);
    EXPECT_FALSE(Rotate(image, std::nanf("")));
    EXPECT_FALSE(Rotate(image, INFINITY));
    EXPECT_EQ(image.GetWidth(), 4);
}

TEST(ImageRotate, AnyAngleKeepsTheSizeRule) {
    // The size is the box of the turned corners plus two; for 45 degrees the
    // box of a 20 x 10 image is about 21.2 x 21.2.
    for (int32_t bits : {1, 4, 8, 24}) {
        RasterImage image;
        test::patternImage(image, 20, 10, bits);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(RotateWithSize(image, 45.0f, width, height));
        EXPECT_GE(width, 22);
        EXPECT_LE(width, 24);
        EXPECT_GE(height, 22);
        EXPECT_LE(height, 24);
        EXPECT_TRUE(test::rowPaddingIsClear(image));
    }
}

// --- Resample -----------------------------------------------------------------

TEST(ImageResample, SameSizeLeavesTheImageAndCopiesToADestination) {
    RasterImage image;
    test::patternImage(image, 7, 3, 8);
    const RasterImage original(image, true, true, true);
    ASSERT_TRUE(Resample(image, 7, 3, kResampleBicubic));
    EXPECT_EQ(0, std::memcmp(image.RowPointer(0), original.RowPointer(0), original.header().sizeImage));
    RasterImage destination;
    ASSERT_TRUE(Resample(image, 7, 3, kResampleNearest, &destination));
    ASSERT_EQ(destination.GetSize(), original.GetSize());
    EXPECT_EQ(pixelValue(destination, 6, 2), pixelValue(original, 6, 2));
    EXPECT_FALSE(Resample(image, 0, 3, kResampleNearest));
    EXPECT_FALSE(Resample(image, 3, 0, kResampleNearest));
}

TEST(ImageResample, NearestHalvingPicksEverySecondPixelFromTheFirst) {
    for (int32_t bits : {1, 4, 8, 24}) {
        RasterImage image;
        test::patternImage(image, 10, 6, bits);
        const RasterImage original(image, true, true, true);
        ASSERT_TRUE(Resample(image, 5, 3, kResampleNearest));
        ASSERT_EQ(image.GetWidth(), 5);
        ASSERT_EQ(image.GetBpp(), bits);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x)
                ASSERT_EQ(pixelValue(image, x, y), pixelValue(original, 2 * x, 2 * y)) << bits;
        EXPECT_TRUE(test::rowPaddingIsClear(image));
    }
}

TEST(ImageResample, FlatColourStaysFlatInEveryMode) {
    for (int32_t mode : {kResampleNearest, kResampleBicubic, kResampleAverage}) {
        for (auto [w, h] : {std::pair{4, 3}, std::pair{23, 17}, std::pair{3, 2}}) {
            RasterImage image(7, 5, 24, kFormatBmp);
            image.FillBytes(255);
            ASSERT_TRUE(Resample(image, w, h, mode));
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(image.ReadColor(x, y, false), bgr(255, 255, 255))
                        << "mode " << mode << " to " << w << "x" << h << " at " << x << "," << y;
        }
    }
}

TEST(ImageResample, AreaAverageWeighsPartlyCoveredPixels) {
    // Three columns into two: each new column covers one and a half old ones.
    RasterImage image(3, 2, 24, kFormatBmp);
    const uint8_t values[3] = {0, 90, 210};
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x)
            image.WriteColor(x, y, bgr(values[x], values[x], values[x]));
    ASSERT_TRUE(Resample(image, 2, 1, kResampleAverage));
    EXPECT_EQ(image.ReadColor(0, 0, false).blue, (0 * 1000 + 90 * 500) / 1500);
    EXPECT_EQ(image.ReadColor(1, 0, false).blue, (90 * 500 + 210 * 1000) / 1500);

    RasterImage blocks(4, 4, 24, kFormatBmp);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            blocks.WriteColor(x, y, bgr(uint8_t(x * 40 + y * 10), 0, 0));
    ASSERT_TRUE(Resample(blocks, 2, 2, kResampleAverage));
    EXPECT_EQ(blocks.ReadColor(0, 0, false).blue, (0 + 40 + 10 + 50) / 4);
    EXPECT_EQ(blocks.ReadColor(1, 1, false).blue, (100 + 140 + 110 + 150) / 4);
}

TEST(ImageResample, BilinearWhenEnlarging) {
    RasterImage image(2, 1, 24, kFormatBmp);
    image.WriteColor(0, 0, bgr(0, 10, 100));
    image.WriteColor(1, 0, bgr(200, 30, 0));
    ASSERT_TRUE(Resample(image, 4, 1, kResampleAverage));
    EXPECT_EQ(image.ReadColor(0, 0, false), bgr(0, 10, 100));
    EXPECT_EQ(image.ReadColor(1, 0, false), bgr(100, 20, 50));
    EXPECT_EQ(image.ReadColor(2, 0, false), bgr(200, 30, 0));
    EXPECT_EQ(image.ReadColor(3, 0, false), bgr(200, 30, 0));
}

TEST(ImageResample, BicubicSmoothsAStepWithinItsRange) {
    RasterImage image(8, 8, 8, kFormatBmp);
    image.MakeGreyPalette();
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 4; x < 8; ++x)
            image.WriteIndex(x, y, 200);
    ASSERT_TRUE(Resample(image, 16, 4, kResampleBicubic));
    ASSERT_EQ(image.GetBpp(), 8);
    int previous = -1;
    for (int32_t x = 0; x < 16; ++x) {
        const int level = image.ReadIndex(x, 2);
        EXPECT_GE(level, previous) << x;  // rises monotonically across the step
        previous = level;
    }
    EXPECT_EQ(image.ReadIndex(0, 2), 0);
    EXPECT_EQ(image.ReadIndex(15, 2), 200);
    EXPECT_GT(image.ReadIndex(8, 2), 0);
    EXPECT_LT(image.ReadIndex(7, 2), 200);
}

TEST(ImageResample, AlphaIsSampledNearestInEveryMode) {
    for (int32_t mode : {kResampleNearest, kResampleBicubic, kResampleAverage}) {
        RasterImage image(4, 4, 24, kFormatBmp);
        ASSERT_TRUE(image.MakeAlphaPlane());
        image.WriteAlpha(2, 2, 17);
        ASSERT_TRUE(Resample(image, 2, 2, mode));
        ASSERT_TRUE(image.HasAlpha());
        EXPECT_EQ(image.ReadAlpha(1, 1), 17) << mode;
        EXPECT_EQ(image.ReadAlpha(0, 0), 255) << mode;
    }
}

TEST(ImageResample, EscapeLeavesAPartlyFilledResult) {
    RasterImage image(8, 8, 24, kFormatBmp);
    image.FillBytes(255);
    image.info().escape = 1;
    ASSERT_TRUE(Resample(image, 4, 4, kResampleNearest));
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.ReadColor(0, 0, false), bgr(0, 0, 0));
}

}  // namespace
}  // namespace rendova
