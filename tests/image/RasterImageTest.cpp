#include "image/RasterImage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/DeviceContext.h"

namespace rendova {
namespace {

TEST(RasterImageCreate, RoundsDepthUpToAHeldDepth) {
    struct Case {
        int asked, held;
        uint32_t colours;
    };
    for (Case c :
         {Case{0, 1, 2}, Case{1, 1, 2}, Case{2, 4, 16}, Case{3, 4, 16}, Case{4, 4, 16}, Case{5, 8, 256},
          Case{8, 8, 256}, Case{9, 24, 0}, Case{16, 24, 0}, Case{24, 24, 0}, Case{32, 24, 0}}) {
        RasterImage image;
        ASSERT_NE(image.Create(3, 2, c.asked, kFormatBmp), nullptr) << c.asked;
        EXPECT_EQ(image.GetBpp(), c.held) << c.asked;
        EXPECT_EQ(image.GetColourCount(), c.colours) << c.asked;
        EXPECT_EQ(image.HasPalette(), c.colours != 0) << c.asked;
    }
}

TEST(RasterImageCreate, RowsArePaddedToFourBytes) {
    struct Case {
        int width, bits;
        uint32_t stride;
    };
    for (Case c : {Case{1, 1, 4}, Case{32, 1, 4}, Case{33, 1, 8}, Case{5, 4, 4}, Case{9, 4, 8}, Case{3, 8, 4},
                   Case{5, 8, 8}, Case{1, 24, 4}, Case{3, 24, 12}, Case{4, 24, 12}}) {
        RasterImage image(c.width, 7, c.bits, kFormatUnknown);
        EXPECT_EQ(image.GetRowStride(), c.stride) << c.width << "x" << c.bits;
        EXPECT_EQ(image.header().sizeImage, c.stride * 7);
        EXPECT_EQ(image.GetSize(), 40 + image.PaletteBytes() + c.stride * 7);
    }
}

TEST(RasterImageCreate, RefusesSizesOfZeroOrLess) {
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-1, 5}, std::pair{5, -3}}) {
        RasterImage image(4, 4, 8, kFormatBmp);
        EXPECT_EQ(image.Create(w, h, 8, kFormatBmp), nullptr);
        EXPECT_STREQ(image.LastErrorText(),
                     "RasterImage::Create : width and height must be greater than zero");
        EXPECT_FALSE(image.HasPixels());
    }
}

TEST(RasterImageCreate, RefusesBlocksThatDoNotFit32Bits) {
    RasterImage image;
    // 70000 x 70000 at 24 bits is 14.7e9 bytes: stride x height overflows 32 bits.
    EXPECT_EQ(image.Create(70000, 70000, 24, kFormatBmp), nullptr);
    EXPECT_STREQ(image.LastErrorText(), "RasterImage::Create can't allocate memory");
    // The row stride alone would overflow a 32-bit product of width and bits.
    EXPECT_EQ(image.Create(0x7FFFFFFF, 1, 24, kFormatBmp), nullptr);
    EXPECT_FALSE(image.HasPixels());
}

TEST(RasterImageCreate, ClearsPaletteAndRows) {
    RasterImage image(17, 9, 8, kFormatBmp);
    image.FillBytes(0xAB);
    image.SetPaletteEntry(3, 1, 2, 3);
    ASSERT_NE(image.Create(17, 9, 8, kFormatBmp), nullptr);
    for (int32_t y = 0; y < 9; ++y) {
        const uint8_t* row = image.RowPointer(y);
        for (uint32_t i = 0; i < image.GetRowStride(); ++i)
            ASSERT_EQ(row[i], 0) << y << "," << i;
    }
    EXPECT_EQ(image.PaletteEntry(3), RgbQuad{});
}

TEST(RasterImageCreate, CopiesTheHeaderIntoTheBlock) {
    RasterImage image;
    image.SetDpiX(300);
    const uint8_t* block = image.Create(10, 4, 24, kFormatBmp);
    ASSERT_NE(block, nullptr);
    BitmapInfoHeader stored;
    std::memcpy(&stored, block, sizeof stored);
    EXPECT_EQ(stored.size, 40u);
    EXPECT_EQ(stored.width, 10);
    EXPECT_EQ(stored.height, 4);
    EXPECT_EQ(stored.planes, 1);
    EXPECT_EQ(stored.bitCount, 24);
    EXPECT_EQ(stored.sizeImage, 32u * 4);
    EXPECT_EQ(stored.xPelsPerMeter, 11811);
}

TEST(RasterImageDpi, ConvertsToPixelsPerMetre) {
    RasterImage image;
    EXPECT_EQ(image.GetDpiX(), 150);
    EXPECT_EQ(image.header().xPelsPerMeter, 5906);
    EXPECT_EQ(image.header().yPelsPerMeter, 5906);
    image.SetDpiX(0);
    EXPECT_EQ(image.GetDpiX(), 96);
    EXPECT_EQ(image.header().xPelsPerMeter, 3780);
    image.SetDpiY(300);
    EXPECT_EQ(image.header().yPelsPerMeter, 11811);
    image.SetDpiY(-7);
    EXPECT_EQ(image.GetDpiY(), 96);
    image.SetDpiX(0x7FFFFFFF);  // saturates instead of overflowing
    EXPECT_EQ(image.header().xPelsPerMeter, 0x7FFFFFFF);
}

TEST(RasterImageAccess, RowPointerStaysInsideTheRows) {
    RasterImage empty;
    EXPECT_EQ(empty.RowPointer(0), nullptr);
    RasterImage image(5, 3, 24, kFormatUnknown);
    EXPECT_EQ(image.RowPointer(0), image.info().pixels);
    EXPECT_EQ(image.RowPointer(2), image.info().pixels + 2 * 16);
    EXPECT_EQ(image.RowPointer(3), nullptr);
    EXPECT_EQ(image.RowPointer(-1), nullptr);
    EXPECT_TRUE(image.Contains(4, 2));
    EXPECT_FALSE(image.Contains(5, 0));
    EXPECT_FALSE(image.Contains(0, -1));
}

TEST(RasterImageAccess, FormatOptionsByCode) {
    RasterImage image(kFormatTiff);
    EXPECT_TRUE(image.SetFormatOption(5, 0));  // code 0: the image's own type
    EXPECT_EQ(image.GetFormatOption(kFormatTiff), 5u);
    EXPECT_TRUE(image.SetFormatOption(24, kFormatJpeg));
    EXPECT_EQ(image.GetFormatOption(kFormatJpeg), 24u);
    EXPECT_FALSE(image.SetFormatOption(1, 16));
    EXPECT_EQ(image.GetFormatOption(16), 0u);
}

TEST(RasterImageAccess, TransparencyAndColourKind) {
    RasterImage image(2, 2, 8, kFormatUnknown);
    EXPECT_FALSE(image.HasTransparency());
    EXPECT_EQ(image.ColourKind(), 1);
    image.SetPaletteEntry(7, 10, 20, 30);
    image.SetTransparentIndex(7);
    EXPECT_TRUE(image.HasTransparency());
    EXPECT_EQ(image.GetTransparentColour(), (RgbQuad{30, 20, 10, 0}));

    RasterImage colour(2, 2, 24, kFormatUnknown);
    EXPECT_EQ(colour.ColourKind(), 2);
    colour.SetTransparentColour(RgbQuad{1, 2, 3, 99});
    colour.SetTransparentIndex(0);
    EXPECT_EQ(colour.GetTransparentColour(), (RgbQuad{1, 2, 3, 0}));  // reserved byte cleared
    ASSERT_TRUE(colour.MakeAlphaPlane());
    EXPECT_EQ(colour.ColourKind(), 4);
}

TEST(RasterImageAccess, FillBytesSpreadsTheValueOverTheDepth) {
    RasterImage mono(8, 1, 1, kFormatUnknown);
    mono.FillBytes(1);
    EXPECT_EQ(mono.RowPointer(0)[0], 255);
    RasterImage nibbles(2, 1, 4, kFormatUnknown);
    nibbles.FillBytes(0x13);
    EXPECT_EQ(nibbles.RowPointer(0)[0], 0x33);
    EXPECT_EQ(nibbles.ReadIndex(1, 0), 3);
    RasterImage colour(1, 1, 24, kFormatUnknown);
    colour.FillBytes(0x13);
    EXPECT_EQ(colour.RowPointer(0)[2], 0x13);
}

TEST(RasterImageCopy, CopiesPixelsPaletteAndInformation) {
    RasterImage source(6, 4, 8, kFormatPng);
    source.WriteIndex(5, 3, 42);
    source.SetPaletteEntry(42, 9, 8, 7);
    source.SetDpiX(300);
    source.SetQuality(33);
    source.SetImportantColours(50);
    ASSERT_TRUE(source.MakeAlphaPlane());
    source.WriteAlpha(1, 1, 17);

    RasterImage full(source, true, true, true);
    EXPECT_EQ(full.ReadIndex(5, 3), 42);
    EXPECT_EQ(full.PaletteEntry(42), (RgbQuad{7, 8, 9, 0}));
    EXPECT_EQ(full.GetDpiX(), 300);
    EXPECT_EQ(full.header().xPelsPerMeter, 11811);
    EXPECT_EQ(full.GetQuality(), 33);
    EXPECT_EQ(full.GetType(), uint32_t(kFormatPng));
    EXPECT_EQ(full.header().clrImportant, 50u);
    EXPECT_EQ(full.ReadAlpha(1, 1), 17);
    EXPECT_NE(full.RowPointer(0), source.RowPointer(0));

    RasterImage paletteOnly(source, false, false, false);
    EXPECT_EQ(paletteOnly.ReadIndex(5, 3), 0);
    EXPECT_EQ(paletteOnly.PaletteEntry(42), (RgbQuad{7, 8, 9, 0}));
    EXPECT_FALSE(paletteOnly.HasAlpha());
}

TEST(RasterImageGhost, DestroyingAGhostLeavesTheOwnerIntact) {
    RasterImage owner(4, 4, 24, kFormatBmp);
    owner.FillBytes(0x5A);
    {
        RasterImage ghost;
        ghost.ShareFrom(owner);
        EXPECT_EQ(ghost.RowPointer(0), owner.RowPointer(0));
        EXPECT_EQ(ghost.info().ghostOwner, &owner);
        EXPECT_FALSE(ghost.destroy());
        EXPECT_EQ(ghost.Create(2, 2, 8, kFormatBmp), nullptr);
        EXPECT_FALSE(ghost.MakeAlphaPlane());
    }  // the ghost's destructor frees nothing
    EXPECT_EQ(owner.RowPointer(3)[11], 0x5A);
}

TEST(RasterImageGhost, CopyingInformationNeverMakesAGhost) {
    RasterImage owner(4, 4, 8, kFormatBmp);
    owner.WriteIndex(1, 1, 9);
    RasterImage ghost;
    ghost.ShareFrom(owner);

    // A copy of the ghost owns its own pixels: dropping it must free them and
    // leave the owner alone (the sanitizers see a double free otherwise).
    auto* copy = new RasterImage(ghost, true, true, true);
    EXPECT_EQ(copy->info().ghostOwner, nullptr);
    EXPECT_NE(copy->RowPointer(0), owner.RowPointer(0));
    EXPECT_EQ(copy->ReadIndex(1, 1), 9);
    delete copy;

    RasterImage heir;
    heir.InheritInfo(ghost);
    EXPECT_EQ(heir.info().ghostOwner, nullptr);
    EXPECT_EQ(heir.info().pixels, nullptr);
    EXPECT_EQ(heir.info().rowStride, 0u);
    EXPECT_TRUE(heir.destroy());
    EXPECT_EQ(owner.ReadIndex(1, 1), 9);
}

TEST(RasterImageGhost, InheritInfoOnlyIntoAnEmptyImage) {
    RasterImage source(kFormatJpeg);
    source.SetQuality(12);
    source.info().escape = -1;
    RasterImage empty;
    empty.InheritInfo(source);
    EXPECT_EQ(empty.GetQuality(), 12);
    EXPECT_EQ(empty.info().escape, -1);
    RasterImage full(2, 2, 24, kFormatBmp);
    full.InheritInfo(source);
    EXPECT_EQ(full.GetQuality(), 90);
}

TEST(RasterImageTakeOver, MovesEverythingAndEmptiesTheSource) {
    RasterImage source(3, 3, 4, kFormatIco);
    source.WriteIndex(2, 2, 11);
    ASSERT_TRUE(source.MakeAlphaPlane());
    const uint8_t* pixels = source.RowPointer(0);
    RasterImage target(8, 8, 24, kFormatBmp);
    ASSERT_TRUE(target.TakeOver(source));
    EXPECT_EQ(target.RowPointer(0), pixels);
    EXPECT_EQ(target.ReadIndex(2, 2), 11);
    EXPECT_EQ(target.GetType(), uint32_t(kFormatIco));
    EXPECT_TRUE(target.HasAlpha());
    EXPECT_FALSE(source.HasPixels());
    EXPECT_FALSE(source.HasAlpha());
    EXPECT_EQ(source.GetWidth(), 0);
}

TEST(RasterImageTakeOver, RefusesGhostsOnEitherSide) {
    RasterImage owner(2, 2, 24, kFormatBmp);
    RasterImage ghost;
    ghost.ShareFrom(owner);
    RasterImage target;
    EXPECT_FALSE(target.TakeOver(ghost));
    EXPECT_FALSE(ghost.TakeOver(target));
    EXPECT_TRUE(owner.HasPixels());
}

class RecordingContext : public DeviceContext {
public:
    int32_t setStretchBltMode(int32_t mode) override {
        m_mode = mode;
        return 0;
    }
    int32_t stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                          int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                          const void* bitmapInfo, uint32_t usage, uint32_t rasterOperation) override {
        m_dest = {xDest, yDest, destWidth, destHeight};
        m_source = {xSrc, ySrc, srcWidth, srcHeight};
        m_bits = bits;
        m_bitmapInfo = bitmapInfo;
        m_usage = usage;
        m_rop = rasterOperation;
        return srcHeight;
    }

    int32_t m_mode = -1;
    std::vector<int32_t> m_dest, m_source;
    const void* m_bits = nullptr;
    const void* m_bitmapInfo = nullptr;
    uint32_t m_usage = 99;
    uint32_t m_rop = 0;
};

TEST(RasterImageDraw, StretchesTheWholeImageOntoTheContext) {
    RasterImage image(7, 5, 24, kFormatBmp);
    RecordingContext context;
    EXPECT_EQ(image.Draw(nullptr, 0, 0, 10, 10, kRopSourceCopy), 0);
    RasterImage empty;
    EXPECT_EQ(empty.Draw(&context, 0, 0, 10, 10, kRopSourceCopy), 0);
    EXPECT_EQ(context.m_mode, -1);

    EXPECT_EQ(image.Draw(&context, 1, 2, 70, 50, kRopSourceCopy), 1);
    EXPECT_EQ(context.m_mode, kStretchColorOnColor);
    EXPECT_EQ(context.m_dest, (std::vector<int32_t>{1, 2, 70, 50}));
    EXPECT_EQ(context.m_source, (std::vector<int32_t>{0, 0, 7, 5}));
    EXPECT_EQ(context.m_bits, image.RowPointer(0));
    EXPECT_EQ(context.m_usage, kDibRgbColors);
    EXPECT_EQ(context.m_rop, kRopSourceCopy);
    BitmapInfoHeader header;
    std::memcpy(&header, context.m_bitmapInfo, sizeof header);
    EXPECT_EQ(header.width, 7);
    EXPECT_EQ(header.bitCount, 24);
}

class ErrorTextImage : public RasterImage {
public:
    using RasterImage::setLastError;
};

TEST(RasterImageError, LongTextsAreCutAt255Characters) {
    ErrorTextImage image;
    image.info().progress = 1234;  // the field right after the text
    const std::string longText(1000, 'x');
    image.setLastError(longText.c_str());
    EXPECT_EQ(std::strlen(image.LastErrorText()), 255u);
    EXPECT_EQ(image.info().progress, 1234);
}

}  // namespace
}  // namespace rendova
