// The PNG codec on its own: every depth written and read back exactly,
// interlacing, palette transparency, alpha planes, resolution, short files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/MemoryStream.h"
#include "image/RasterImagePNG.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;

uint32_t be32(const Bytes& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

// Offset of the data of the first chunk of `type`, or 0; `length` receives its length.
size_t findChunk(const Bytes& png, const char* type, uint32_t& length) {
    size_t at = 8;
    while (at + 8 <= png.size()) {
        length = be32(png, at);
        if (std::memcmp(&png[at + 4], type, 4) == 0)
            return at + 8;
        at += 12 + length;
    }
    length = 0;
    return 0;
}

void expectSamePixels(const RasterImage& a, const RasterImage& b) {
    ASSERT_EQ(a.GetWidth(), b.GetWidth());
    ASSERT_EQ(a.GetHeight(), b.GetHeight());
    EXPECT_EQ(test::firstDifference(test::ourPixels(a, true), test::ourPixels(b, true)), -1);
}

TEST(RasterImagePNG, EveryDepthRoundTripsExactly) {
    struct Case {
        int bits;
        bool grey;
    };
    for (const Case c : {Case{1, false}, Case{4, false}, Case{8, false}, Case{1, true}, Case{4, true},
                         Case{8, true}, Case{24, false}}) {
        RasterImage image;
        if (c.bits == 24)
            test::paintPicture(image, 301, 257);
        else
            test::paintIndexed(image, 301, 257, c.bits, c.grey);
        image.SetDpiX(300);
        image.SetDpiY(150);
        const Bytes png = test::encodeBytes(image, kFormatPng);
        ASSERT_FALSE(png.empty()) << image.LastErrorText();
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng)) << decoded.LastErrorText();
        EXPECT_EQ(decoded.GetBpp(), c.bits);
        EXPECT_EQ(decoded.GetDpiX(), 300);
        EXPECT_EQ(decoded.GetDpiY(), 150);
        EXPECT_EQ(decoded.GetFormatOption(kFormatPng), 0u);
        expectSamePixels(decoded, image);
    }
}

TEST(RasterImagePNG, InterlacedFilesAreWrittenAndRead) {
    for (int bits : {1, 4, 8, 24}) {
        RasterImage image;
        if (bits == 24)
            test::paintPicture(image, 37, 23);
        else
            test::paintIndexed(image, 37, 23, bits, false);
        image.SetFormatOption(1, kFormatPng);
        const Bytes png = test::encodeBytes(image, kFormatPng);
        ASSERT_GT(png.size(), 29u);
        EXPECT_EQ(png[28], 1) << bits;  // IHDR interlace method: Adam7
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
        EXPECT_EQ(decoded.GetFormatOption(kFormatPng), 1u);
        expectSamePixels(decoded, image);
    }
}

TEST(RasterImagePNG, TransparentIndexMovesToEntryZero) {
    RasterImage image;
    test::paintIndexed(image, 20, 10, 8, false);
    const RgbQuad five = image.PaletteEntry(5);
    const RgbQuad zero = image.PaletteEntry(0);
    const Bytes before = test::ourPixels(image);
    image.SetTransparentIndex(5);
    const Bytes png = test::encodeBytes(image, kFormatPng);
    ASSERT_FALSE(png.empty());
    // The caller's image now has the transparent entry at 0, same picture.
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_EQ(image.PaletteEntry(0), five);
    EXPECT_EQ(image.PaletteEntry(5), zero);
    EXPECT_EQ(test::firstDifference(test::ourPixels(image), before), -1);

    uint32_t length = 0;
    const size_t plte = findChunk(png, "PLTE", length);
    ASSERT_NE(plte, 0u);
    EXPECT_EQ(png[plte], five.red);
    EXPECT_EQ(png[plte + 1], five.green);
    EXPECT_EQ(png[plte + 2], five.blue);
    const size_t trns = findChunk(png, "tRNS", length);
    ASSERT_NE(trns, 0u);
    EXPECT_EQ(length, 1u);
    EXPECT_EQ(png[trns], 0);

    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
    EXPECT_EQ(decoded.GetTransparentIndex(), 0);
    EXPECT_FALSE(decoded.info().alphaPaletteEnabled);
}

TEST(RasterImagePNG, PaletteAlphaRoundTrips) {
    RasterImage image;
    test::paintIndexed(image, 16, 16, 4, false);
    RgbQuad* palette = image.GetPalette();
    for (int i = 0; i < 16; ++i)
        palette[i].reserved = uint8_t(i * 16);
    image.info().alphaPaletteEnabled = true;
    const Bytes png = test::encodeBytes(image, kFormatPng);
    uint32_t length = 0;
    ASSERT_NE(findChunk(png, "tRNS", length), 0u);
    EXPECT_EQ(length, 16u);
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
    EXPECT_TRUE(decoded.info().alphaPaletteEnabled);
    EXPECT_EQ(decoded.PaletteEntry(7).reserved, 7 * 16);
}

TEST(RasterImagePNG, SmallImagesGetAShortPalette) {
    RasterImage image(100, 100, 8, kFormatUnknown);
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 100; ++x)
            image.WriteIndex(x, y, uint8_t((x + y) % 10));
    const Bytes png = test::encodeBytes(image, kFormatPng);
    uint32_t length = 0;
    ASSERT_NE(findChunk(png, "PLTE", length), 0u);
    EXPECT_EQ(length, 30u);
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
    expectSamePixels(decoded, image);
}

TEST(RasterImagePNG, AlphaPlaneAndTransparentColourBecomeRgba) {
    RasterImage image;
    test::paintPicture(image, 33, 17);
    ASSERT_TRUE(image.MakeAlphaPlane());
    for (int32_t y = 0; y < 17; ++y)
        for (int32_t x = 0; x < 33; ++x)
            image.WriteAlpha(x, y, uint8_t(x * 7 + y));
    for (bool interlaced : {false, true}) {
        image.SetFormatOption(interlaced ? 1 : 0, kFormatPng);
        const Bytes png = test::encodeBytes(image, kFormatPng);
        EXPECT_EQ(png[25], 6);  // colour type RGBA
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
        ASSERT_TRUE(decoded.HasAlpha());
        expectSamePixels(decoded, image);
    }

    RasterImage keyed;
    test::paintPicture(keyed, 33, 17);
    const RgbQuad key = keyed.ReadColor(20, 10);  // inside the dark block
    keyed.SetTransparentIndex(0);
    keyed.SetTransparentColour(key);
    const Bytes png = test::encodeBytes(keyed, kFormatPng);
    EXPECT_FALSE(keyed.HasAlpha());  // the plane was for the call only
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, png, kFormatPng));
    ASSERT_TRUE(decoded.HasAlpha());
    EXPECT_EQ(decoded.ReadAlpha(20, 10), 0);
    EXPECT_EQ(decoded.ReadAlpha(0, 0), 255);
}

TEST(RasterImagePNG, ShortAndForeignFilesFail) {
    RasterImage image;
    test::paintPicture(image, 64, 64);
    const Bytes png = test::encodeBytes(image, kFormatPng);
    RasterImage cut;
    EXPECT_FALSE(test::decodeBytes(cut, Bytes(png.begin(), png.begin() + long(png.size() / 2)), kFormatPng));
    EXPECT_STRNE(cut.LastErrorText(), "");
    EXPECT_FALSE(cut.HasPixels());
    RasterImage foreign;
    EXPECT_FALSE(test::decodeBytes(foreign, Bytes{'G', 'I', 'F', '8', '9', 'a'}, kFormatPng));
    RasterImage empty;
    EXPECT_FALSE(test::decodeBytes(empty, Bytes{}, kFormatPng));
    EXPECT_STREQ(empty.LastErrorText(), "Read Error");
}

}  // namespace
}  // namespace rendova
