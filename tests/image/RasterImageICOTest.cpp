#include "image/RasterImageICO.h"

#include <gtest/gtest.h>

#include "tests/image/ImageTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::append32;
using test::appendBytes;
using test::Bytes;
using test::decodeBytes;
using test::DibFields;
using test::encodeBytes;
using test::infoHeader;

// An icon file of one entry: the given colour bits (palette, rows) and AND mask.
Bytes iconFile(int width, int height, int bits, const Bytes& colourData, const Bytes& mask,
               uint32_t clrUsed = 0) {
    Bytes out;
    appendBytes(out, {0, 0, 1, 0, 1, 0});
    DibFields f;
    f.width = width;
    f.height = height * 2;
    f.bits = uint16_t(bits);
    f.clrUsed = clrUsed;
    const Bytes header = infoHeader(f);
    appendBytes(out, {width, height, 0, 0});
    append16(out, 1);
    append16(out, uint32_t(bits));
    append32(out, uint32_t(header.size() + colourData.size() + mask.size()));
    append32(out, 22);
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), colourData.begin(), colourData.end());
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

TEST(RasterImageICO, EncodeRefusesImagesWiderThan255) {
    RasterImage big(256, 256, 8, kFormatUnknown);
    EXPECT_TRUE(encodeBytes(big, kFormatIco).empty());
    EXPECT_STREQ(big.LastErrorText(), "Can't save this image as icon");
    RasterImage largest(255, 255, 8, kFormatUnknown);
    const Bytes file = encodeBytes(largest, kFormatIco);
    ASSERT_FALSE(file.empty()) << largest.LastErrorText();
    // 22 + 40 + palette 1024 + rows 256 x 255 + mask 32 x 255.
    EXPECT_EQ(file.size(), 22u + 40 + 1024 + 256 * 255 + 32 * 255);
    EXPECT_EQ(file[6], 255);
    EXPECT_EQ(file[7], 255);
    EXPECT_EQ(file[8], 0);  // 256 colours: the low byte
}

TEST(RasterImageICO, PaletteIconKeepsItsTransparentIndex) {
    RasterImage image(5, 3, 4, kFormatUnknown);
    for (uint8_t i = 0; i < 16; ++i)
        image.SetPaletteEntry(i, uint8_t(i * 16), 0, uint8_t(255 - i * 16));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x)
            image.WriteIndex(x, y, uint8_t(2 + (x + y) % 3));
    image.SetTransparentIndex(3);
    const Bytes file = encodeBytes(image, kFormatIco);
    ASSERT_FALSE(file.empty());

    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, file, kFormatIco));
    EXPECT_EQ(decoded.GetType(), uint32_t(kFormatIco));
    EXPECT_EQ(decoded.info().frameCount, 1);
    EXPECT_FALSE(decoded.HasAlpha());
    // The masked pixels (index 3) move to the lowest unused index, 0.
    EXPECT_EQ(decoded.GetTransparentIndex(), 0);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const uint8_t index = image.ReadIndex(x, y);
            ASSERT_EQ(decoded.ReadIndex(x, y), index == 3 ? 0 : index) << x << "," << y;
        }
}

TEST(RasterImageICO, ColourIconWithAlphaIsWrittenAt32Bits) {
    RasterImage image(4, 2, 24, kFormatUnknown);
    ASSERT_TRUE(image.MakeAlphaPlane());
    for (int32_t x = 0; x < 4; ++x) {
        image.WriteColor(x, 0, RgbQuad{uint8_t(x), 20, 30, uint8_t(60 * x)}, true);
        image.WriteColor(x, 1, RgbQuad{40, uint8_t(x), 60, 255}, true);
    }
    const Bytes file = encodeBytes(image, kFormatIco);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[12], 32);  // bit count of the entry
    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, file, kFormatIco));
    ASSERT_TRUE(decoded.HasAlpha());
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(decoded.ReadColor(x, y, true), image.ReadColor(x, y, true));
}

TEST(RasterImageICO, MaskOverOneColourBecomesTheTransparentColour) {
    // 2 x 2 at 24 bits: the bottom row masked, both pixels (1, 2, 3).
    Bytes colour;
    appendBytes(colour, {1, 2, 3, 1, 2, 3, 0, 0, 9, 9, 9, 8, 8, 8, 0, 0});
    Bytes mask;
    appendBytes(mask, {0xC0, 0, 0, 0, 0, 0, 0, 0});
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, iconFile(2, 2, 24, colour, mask), kFormatIco));
    EXPECT_FALSE(image.HasAlpha());
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_EQ(image.GetTransparentColour(), (RgbQuad{1, 2, 3, 0}));

    // Two colours under the mask: the alpha plane carries the transparency.
    colour[3] = 7;
    RasterImage mixed;
    ASSERT_TRUE(decodeBytes(mixed, iconFile(2, 2, 24, colour, mask), kFormatIco));
    ASSERT_TRUE(mixed.HasAlpha());
    EXPECT_EQ(mixed.ReadAlpha(0, 0), 0);
    EXPECT_EQ(mixed.ReadAlpha(0, 1), 255);
    EXPECT_FALSE(mixed.HasTransparency());
}

TEST(RasterImageICO, FullMaskInvertsThePalette) {
    Bytes data;
    appendBytes(data, {10, 20, 30, 0, 200, 210, 220, 0});
    appendBytes(data, {0x80, 0, 0, 0});
    Bytes mask{0xFF, 0xFF, 0xFF, 0xFF};
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, iconFile(1, 1, 1, data, mask), kFormatIco));
    EXPECT_EQ(image.GetTransparentIndex(), 0);
    EXPECT_EQ(image.PaletteEntry(0), (RgbQuad{245, 235, 225, 0}));
    EXPECT_EQ(image.ReadIndex(0, 0), 1);
}

TEST(RasterImageICO, ReadsTheStatedPaletteLength) {
    // 8 bits with only 2 stated entries: the rows follow the two entries.
    Bytes data;
    appendBytes(data, {0, 0, 0, 0, 255, 255, 255, 0});
    appendBytes(data, {1, 0, 1, 0});
    Bytes mask{0, 0, 0, 0};
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, iconFile(3, 1, 8, data, mask, 2), kFormatIco));
    EXPECT_EQ(image.ReadIndex(0, 0), 1);
    EXPECT_EQ(image.ReadIndex(1, 0), 0);
    EXPECT_EQ(image.ReadColor(2, 0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_FALSE(image.HasAlpha());
}

TEST(RasterImageICO, FailsWithoutTextOnBadFiles) {
    RasterImageICO codec;
    EXPECT_FALSE(codec.Decode(nullptr));
    RasterImage image;
    EXPECT_FALSE(decodeBytes(image, Bytes{1, 0, 1, 0, 1, 0}, kFormatIco));  // reserved word not 0
    EXPECT_FALSE(decodeBytes(image, Bytes{0, 0, 3, 0, 1, 0}, kFormatIco));  // type 3
    Bytes one = iconFile(1, 1, 24, Bytes(4, 0), Bytes(4, 0));
    image.info().frame = 1;
    EXPECT_FALSE(decodeBytes(image, one, kFormatIco));
    EXPECT_EQ(image.info().frameCount, 1);  // carried back to the caller
    image.info().frame = -1;
    EXPECT_FALSE(decodeBytes(image, one, kFormatIco));
    image.info().frame = 0;
    EXPECT_TRUE(decodeBytes(image, one, kFormatIco));
    one.resize(one.size() - 6);  // cut into the rows: what is there is read
    EXPECT_TRUE(decodeBytes(image, one, kFormatIco));
}

}  // namespace
}  // namespace rendova
