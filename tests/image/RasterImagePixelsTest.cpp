#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "image/RasterImage.h"

namespace rendova {
namespace {

TEST(RasterImagePixels, IndicesAtEveryPaletteDepth) {
    for (int bits : {1, 4, 8}) {
        RasterImage image(19, 3, bits, kFormatUnknown);
        const int modulo = 1 << bits;
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 19; ++x)
                image.WriteIndex(x, y, uint8_t((x * 7 + y) % modulo));
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 19; ++x) {
                ASSERT_EQ(image.ReadIndex(x, y), (x * 7 + y) % modulo) << bits << ":" << x << "," << y;
                ASSERT_EQ(image.ReadIndexUnchecked(x, y), (x * 7 + y) % modulo);
            }
    }
    RasterImage mono(8, 1, 1, kFormatUnknown);
    mono.WriteIndex(0, 0, 1);
    mono.WriteIndex(2, 0, 1);
    EXPECT_EQ(mono.RowPointer(0)[0], 0xA0);  // the leftmost pixel is the top bit
    RasterImage nibble(2, 1, 4, kFormatUnknown);
    nibble.WriteIndex(0, 0, 0xC);
    nibble.WriteIndex(1, 0, 0x3);
    EXPECT_EQ(nibble.RowPointer(0)[0], 0xC3);  // the even pixel is the high nibble
}

TEST(RasterImagePixels, ReadIndexOutsideThePicture) {
    RasterImage image(4, 4, 4, kFormatUnknown);
    image.WriteIndex(0, 0, 6);
    image.WriteIndex(1, 0, 1);
    EXPECT_EQ(image.ReadIndex(-1, 0), 6);  // the first pixel's index, not its byte 0x61
    image.SetTransparentIndex(5);
    EXPECT_EQ(image.ReadIndex(-1, 0), 5);
    EXPECT_EQ(image.ReadIndex(0, 4), 5);
    image.WriteIndex(9, 9, 3);  // ignored
    RasterImage colour(2, 2, 24, kFormatUnknown);
    EXPECT_EQ(colour.ReadIndex(0, 0), 0);
    colour.WriteIndex(0, 0, 3);
    EXPECT_EQ(colour.RowPointer(0)[0], 0);
}

TEST(RasterImagePixels, ColoursOfPaletteAndTrueColourImages) {
    RasterImage indexed(3, 2, 8, kFormatUnknown);
    indexed.SetPaletteEntry(4, 40, 50, 60, 70);
    indexed.WriteIndex(2, 1, 4);
    EXPECT_EQ(indexed.ReadColor(2, 1), (RgbQuad{60, 50, 40, 70}));

    RasterImage colour(3, 2, 24, kFormatUnknown);
    colour.WriteColor(1, 1, RgbQuad{1, 2, 3, 0});
    EXPECT_EQ(colour.PixelAddress(1, 1)[2], 3);
    colour.SetTransparentColour(RgbQuad{9, 9, 9, 0});
    EXPECT_EQ(colour.ReadColor(1, 1), (RgbQuad{1, 2, 3, 0}));
    ASSERT_TRUE(colour.MakeAlphaPlane());
    colour.WriteColor(0, 0, RgbQuad{7, 7, 7, 33}, true);
    EXPECT_EQ(colour.ReadColor(0, 0, true).reserved, 33);
    EXPECT_EQ(colour.ReadColor(0, 0, false).reserved, 0);
    EXPECT_EQ(indexed.PixelAddress(0, 0), nullptr);
    EXPECT_EQ(colour.PixelAddress(3, 0), nullptr);
}

TEST(RasterImagePixels, ReadColorOutsideThePicture) {
    RasterImage colour(2, 2, 24, kFormatUnknown);
    colour.WriteColor(0, 0, RgbQuad{5, 6, 7, 0});
    EXPECT_EQ(colour.ReadColor(-1, -1), (RgbQuad{5, 6, 7, 0}));  // no key: pixel (0, 0)
    colour.SetTransparentColour(RgbQuad{1, 1, 1, 0});
    colour.SetTransparentIndex(0);
    EXPECT_EQ(colour.ReadColor(2, 0), (RgbQuad{1, 1, 1, 0}));
    RasterImage indexed(2, 2, 4, kFormatUnknown);
    indexed.SetPaletteEntry(3, 30, 31, 32);
    indexed.SetTransparentIndex(3);
    EXPECT_EQ(indexed.ReadColor(5, 5), (RgbQuad{32, 31, 30, 0}));
}

TEST(RasterImagePixels, SwapRedBlueStopsAtTheRowStride) {
    RasterImage colour(2, 1, 24, kFormatUnknown);  // stride 8
    uint8_t buffer[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    colour.SwapRedBlue(buffer, 12);
    EXPECT_EQ(buffer[0], 3);
    EXPECT_EQ(buffer[5], 4);
    EXPECT_EQ(buffer[6], 7);  // the third triple lies past the stride
    RasterImage indexed(2, 1, 8, kFormatUnknown);
    indexed.SwapRedBlue(buffer, 12);
    EXPECT_EQ(buffer[0], 3);
}

TEST(RasterImageAlpha, PlaneOperations) {
    RasterImage image(3, 2, 24, kFormatUnknown);
    EXPECT_FALSE(image.FlipAlphaRows());
    EXPECT_FALSE(image.MirrorAlphaRows());
    EXPECT_EQ(image.ReadAlpha(0, 0), 0);
    ASSERT_TRUE(image.MakeAlphaPlane());
    EXPECT_EQ(image.ReadAlpha(2, 1), 255);
    image.WriteAlpha(0, 0, 1);
    image.WriteAlpha(2, 0, 2);
    image.WriteAlpha(5, 0, 9);  // outside: ignored
    EXPECT_EQ(image.ReadAlpha(5, 0), 0);
    ASSERT_TRUE(image.FlipAlphaRows());
    EXPECT_EQ(image.ReadAlpha(0, 1), 1);
    EXPECT_EQ(image.ReadAlpha(0, 0), 255);
    ASSERT_TRUE(image.MirrorAlphaRows());
    EXPECT_EQ(image.ReadAlpha(2, 1), 1);
    EXPECT_EQ(image.ReadAlpha(0, 1), 2);
    image.ZeroAlpha();
    EXPECT_EQ(image.ReadAlpha(2, 1), 0);
    image.DropAlphaPlane();
    EXPECT_FALSE(image.HasAlpha());
}

TEST(RasterImageAlpha, CopyNeedsTheSameSize) {
    RasterImage source(3, 2, 24, kFormatUnknown);
    ASSERT_TRUE(source.MakeAlphaPlane());
    source.WriteAlpha(1, 1, 77);
    source.info().alphaMax = 200;
    RasterImage other(2, 3, 24, kFormatUnknown);
    EXPECT_FALSE(other.CopyAlphaFrom(source));
    RasterImage same(3, 2, 8, kFormatUnknown);
    ASSERT_TRUE(same.CopyAlphaFrom(source));
    EXPECT_EQ(same.ReadAlpha(1, 1), 77);
    EXPECT_EQ(same.info().alphaMax, 200);
    RasterImage plain(3, 2, 24, kFormatUnknown);
    EXPECT_FALSE(same.CopyAlphaFrom(plain));
}

class MaskedImage : public RasterImage {
public:
    using RasterImage::RasterImage;
    void setMask(const uint8_t* bytes) {
        const size_t size = size_t(GetWidth()) * size_t(GetHeight());
        m_selection = static_cast<uint8_t*>(std::malloc(size));
        std::memcpy(m_selection, bytes, size);
    }
};

TEST(RasterImageSelection, MaskAndBox) {
    MaskedImage image(2, 2, 24, kFormatUnknown);
    EXPECT_EQ(image.info().selectionBox.left, 2);
    EXPECT_EQ(image.info().selectionBox.bottom, 2);
    EXPECT_TRUE(image.IsSelected(1, 1));
    EXPECT_FALSE(image.IsSelected(2, 1));
    const uint8_t mask[4] = {0, 1, 0, 0};
    image.setMask(mask);
    EXPECT_FALSE(image.IsSelected(0, 0));
    EXPECT_TRUE(image.IsSelected(1, 0));

    MaskedImage copy(2, 2, 8, kFormatUnknown);
    EXPECT_TRUE(copy.CopySelectionFrom(image));
    EXPECT_FALSE(copy.IsSelected(0, 1));
    MaskedImage smaller(1, 2, 8, kFormatUnknown);
    EXPECT_FALSE(smaller.CopySelectionFrom(image));
    copy.DropSelection();
    EXPECT_TRUE(copy.IsSelected(0, 1));
}

}  // namespace
}  // namespace rendova
