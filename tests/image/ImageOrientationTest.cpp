// Flip, mirror and the quarter turns, checked pixel by pixel against their
// mappings at every depth, and the turns against ImageMagick's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/ImageTransforms.h"
#include "tests/image/TransformTestUtil.h"

namespace rendova {
namespace {

using test::pixelValue;

struct Size {
    int32_t width, height;
};

// Odd widths leave partial bytes at 1 and 4 bits; 70 x 131 spans several tiles.
constexpr Size kSizes[] = {{1, 1}, {7, 3}, {9, 5}, {13, 2}, {33, 4}, {70, 131}};
constexpr int32_t kDepths[] = {1, 4, 8, 24};

TEST(ImageMirror, ReversesEveryRowAtEveryDepthAndWidth) {
    for (int32_t bits : kDepths) {
        for (Size size : kSizes) {
            RasterImage image;
            test::patternImage(image, size.width, size.height, bits);
            const RasterImage original(image, true, true, true);
            ASSERT_TRUE(MirrorHorizontal(image));
            ASSERT_EQ(image.GetWidth(), size.width);
            for (int32_t y = 0; y < size.height; ++y)
                for (int32_t x = 0; x < size.width; ++x)
                    ASSERT_EQ(pixelValue(image, x, y), pixelValue(original, size.width - 1 - x, y))
                        << bits << " bits, " << size.width << " wide, at " << x << "," << y;
            EXPECT_TRUE(test::rowPaddingIsClear(image)) << bits << " bits, " << size.width << " wide";
        }
    }
}

TEST(ImageFlip, ReversesTheRowOrderAndKeepsThePalette) {
    for (int32_t bits : kDepths) {
        RasterImage image;
        test::patternImage(image, 9, 5, bits);
        const RasterImage original(image, true, true, true);
        ASSERT_TRUE(FlipVertical(image));
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 9; ++x)
                ASSERT_EQ(pixelValue(image, x, y), pixelValue(original, x, 4 - y));
        for (uint32_t i = 0; i < image.GetColourCount(); ++i)
            EXPECT_EQ(image.PaletteEntry(uint8_t(i)), original.PaletteEntry(uint8_t(i)));
    }
}

TEST(ImageFlip, FlipAndMirrorCarryTheAlphaPlane) {
    RasterImage image;
    test::patternImage(image, 3, 2, 24);
    ASSERT_TRUE(image.MakeAlphaPlane());
    image.WriteAlpha(0, 0, 10);
    image.WriteAlpha(2, 1, 20);
    ASSERT_TRUE(FlipVertical(image));
    EXPECT_EQ(image.ReadAlpha(0, 1), 10);
    EXPECT_EQ(image.ReadAlpha(2, 0), 20);
    ASSERT_TRUE(MirrorHorizontal(image));
    EXPECT_EQ(image.ReadAlpha(2, 1), 10);
    EXPECT_EQ(image.ReadAlpha(0, 0), 20);
    EXPECT_EQ(image.ReadAlpha(1, 1), 255);
}

TEST(ImageTurn, MapsPixelsAsSpecifiedAtEveryDepth) {
    for (int32_t bits : kDepths) {
        for (Size size : kSizes) {
            const int32_t w = size.width, h = size.height;
            RasterImage original;
            test::patternImage(original, w, h, bits);
            RasterImage left(original, true, true, true);
            RasterImage right(original, true, true, true);
            ASSERT_TRUE(TurnLeft(left));
            ASSERT_TRUE(TurnRight(right));
            ASSERT_EQ(left.GetWidth(), h);
            ASSERT_EQ(left.GetHeight(), w);
            ASSERT_EQ(right.GetWidth(), h);
            ASSERT_EQ(right.GetBpp(), bits);
            for (int32_t y = 0; y < w; ++y) {
                for (int32_t x = 0; x < h; ++x) {
                    ASSERT_EQ(pixelValue(left, x, y), pixelValue(original, y, h - 1 - x))
                        << bits << " bits " << w << "x" << h << " at " << x << "," << y;
                    ASSERT_EQ(pixelValue(right, x, y), pixelValue(original, w - 1 - y, x))
                        << bits << " bits " << w << "x" << h << " at " << x << "," << y;
                }
            }
            EXPECT_TRUE(test::rowPaddingIsClear(left));
            EXPECT_TRUE(test::rowPaddingIsClear(right));
        }
    }
}

TEST(ImageTurn, DestinationReceivesTheResultAndTheSourceStays) {
    RasterImage image;
    test::patternImage(image, 5, 3, 8);
    image.SetDpiX(300);
    ASSERT_TRUE(image.MakeAlphaPlane());
    image.WriteAlpha(4, 0, 7);
    RasterImage destination;
    ASSERT_TRUE(TurnLeft(image, &destination));
    EXPECT_EQ(image.GetWidth(), 5);
    EXPECT_EQ(destination.GetWidth(), 3);
    EXPECT_EQ(destination.GetHeight(), 5);
    // Old (4, 0) lands at new (0, 4): new (x, y) = old (y, H - 1 - x).
    EXPECT_EQ(destination.ReadAlpha(2, 4), 7);
    EXPECT_EQ(destination.ReadAlpha(0, 4), 255);
    // The settings, the resolution in the header included, go with the result.
    EXPECT_EQ(destination.GetDpiX(), 300);
    EXPECT_EQ(destination.header().xPelsPerMeter, 11811);
    EXPECT_EQ(destination.PaletteEntry(3), image.PaletteEntry(3));
}

TEST(ImageTurn, FourTurnsGiveTheImageBack) {
    RasterImage image;
    test::patternImage(image, 70, 131, 4);
    const RasterImage original(image, true, true, true);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(TurnLeft(image));
    ASSERT_EQ(image.GetSize(), original.GetSize());
    ASSERT_EQ(0, std::memcmp(image.RowPointer(0), original.RowPointer(0), original.header().sizeImage));
}

TEST(ImageTransforms, EmptyImagesAreRefused) {
    RasterImage empty;
    RasterImage destination;
    int32_t w = 0, h = 0;
    EXPECT_FALSE(ConvertToGrey(empty));
    EXPECT_FALSE(FlipVertical(empty));
    EXPECT_FALSE(MirrorHorizontal(empty));
    EXPECT_FALSE(TurnLeft(empty, &destination));
    EXPECT_FALSE(TurnRight(empty));
    EXPECT_FALSE(Invert(empty));
    EXPECT_FALSE(RotateWithSize(empty, 30.0f, w, h));
    EXPECT_FALSE(Resample(empty, 2, 2, kResampleNearest));
    EXPECT_FALSE(ReduceBitDepth(empty, 1, false, nullptr, 0));
    EXPECT_FALSE(destination.HasPixels());
}

// --- Against ImageMagick ------------------------------------------------------

// Our turns of a picture against `convert -rotate 90` (clockwise) and
// `-rotate -90` of the same file, exactly. Palette depths are checked through
// an index derived from each pixel's red value: a turn only moves pixels, so
// the derived indices must move the same way.
class ImageTurnMagick : public testing::TestWithParam<Size> {};

uint8_t derivedIndex(const uint8_t* rgb, int32_t bits) {
    return bits == 24 ? 0 : uint8_t(rgb[0] >> (8 - bits));
}

void imageFromNetpbm(RasterImage& image, const test::Netpbm& picture, int32_t bits) {
    image.Create(picture.width, picture.height, bits, kFormatBmp);
    if (bits < 24)
        image.MakeGreyPalette();
    for (int32_t row = 0; row < picture.height; ++row) {
        const int32_t y = picture.height - 1 - row;
        for (int32_t x = 0; x < picture.width; ++x) {
            const uint8_t* rgb = picture.at(x, row);
            if (bits == 24)
                image.WriteColor(x, y, RgbQuad{rgb[2], rgb[1], rgb[0], 0});
            else
                image.WriteIndex(x, y, derivedIndex(rgb, bits));
        }
    }
}

void expectSamePixels(const RasterImage& ours, const test::Netpbm& theirs, int32_t bits, const char* what) {
    ASSERT_EQ(ours.GetWidth(), theirs.width) << what;
    ASSERT_EQ(ours.GetHeight(), theirs.height) << what;
    for (int32_t row = 0; row < theirs.height; ++row) {
        const int32_t y = theirs.height - 1 - row;
        for (int32_t x = 0; x < theirs.width; ++x) {
            const uint8_t* rgb = theirs.at(x, row);
            if (bits == 24) {
                const RgbQuad c = ours.ReadColor(x, y, false);
                ASSERT_TRUE(c.red == rgb[0] && c.green == rgb[1] && c.blue == rgb[2])
                    << what << " at column " << x << ", row " << row << " from the top";
            } else {
                ASSERT_EQ(ours.ReadIndex(x, y), derivedIndex(rgb, bits))
                    << what << " " << bits << " bits at column " << x << ", row " << row << " from the top";
            }
        }
    }
}

TEST_P(ImageTurnMagick, TurnsEqualConvertRotate) {
    if (!test::haveImageMagick())
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    const Size size = GetParam();
    const std::string dir = test::testOutputDir("turns");
    const std::string stem = dir + "/" + std::to_string(size.width) + "x" + std::to_string(size.height);
    const std::string source = stem + ".ppm";
    ASSERT_TRUE(test::run("convert -size " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                          " -seed 7 plasma:red-blue -depth 8 '" + source + "'"));
    ASSERT_TRUE(test::run("convert '" + source + "' -rotate 90 '" + stem + "-cw.ppm'"));
    ASSERT_TRUE(test::run("convert '" + source + "' -rotate -90 '" + stem + "-ccw.ppm'"));
    test::Netpbm picture, clockwise, counterClockwise;
    ASSERT_TRUE(test::readNetpbm(source, picture));
    ASSERT_TRUE(test::readNetpbm(stem + "-cw.ppm", clockwise));
    ASSERT_TRUE(test::readNetpbm(stem + "-ccw.ppm", counterClockwise));
    ASSERT_EQ(picture.channels, 3);

    for (int32_t bits : kDepths) {
        RasterImage right, left;
        imageFromNetpbm(right, picture, bits);
        imageFromNetpbm(left, picture, bits);
        ASSERT_TRUE(TurnRight(right));
        ASSERT_TRUE(TurnLeft(left));
        expectSamePixels(right, clockwise, bits, "TurnRight vs -rotate 90");
        expectSamePixels(left, counterClockwise, bits, "TurnLeft vs -rotate -90");
    }
}

INSTANTIATE_TEST_SUITE_P(OddAndTiledSizes, ImageTurnMagick,
                         testing::Values(Size{37, 23}, Size{131, 70}, Size{1, 9}),
                         [](const testing::TestParamInfo<Size>& param) {
                             return std::to_string(param.param.width) + "x" +
                                    std::to_string(param.param.height);
                         });

}  // namespace
}  // namespace rendova
