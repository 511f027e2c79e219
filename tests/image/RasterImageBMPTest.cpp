#include "image/RasterImageBMP.h"

#include <gtest/gtest.h>

#include "image/MemoryStream.h"
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
using test::withFileHeader;

// A 3 x 2 24-bit bitmap whose pixel (x, stored row y) is (x, y, 100 + x).
Bytes colourDib(DibFields f) {
    f.width = 3;
    f.bits = 24;
    Bytes dib = infoHeader(f);
    const int rows = f.height < 0 ? -f.height : f.height;
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < 3; ++x)
            appendBytes(dib, {x, y, 100 + x});
        appendBytes(dib, {0, 0, 0});
    }
    return dib;
}

TEST(RasterImageBMP, RoundTripsEveryHeldDepth) {
    for (int bits : {1, 4, 8, 24}) {
        RasterImage image(13, 5, bits, kFormatBmp);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 13; ++x) {
                if (bits == 24)
                    image.WriteColor(x, y, RgbQuad{uint8_t(x), uint8_t(y), uint8_t(x * y), 0});
                else
                    image.WriteIndex(x, y, uint8_t((x + y) % (1 << bits)));
            }
        if (bits <= 8)
            image.SetPaletteEntry(1, 10, 20, 30);
        image.SetDpiX(300);
        image.SetDpiY(72);
        const Bytes file = encodeBytes(image, kFormatBmp);
        ASSERT_EQ(file.size(), image.GetSize() + 14) << bits;
        EXPECT_EQ(file[0], 'B');
        EXPECT_EQ(file[1], 'M');
        EXPECT_EQ(
            test::Bytes(file.begin() + 10, file.begin() + 14),
            (Bytes{uint8_t(54 + image.PaletteBytes()), uint8_t((54 + image.PaletteBytes()) >> 8), 0, 0}));

        RasterImage decoded;
        ASSERT_TRUE(decodeBytes(decoded, file, kFormatBmp)) << decoded.LastErrorText();
        EXPECT_EQ(decoded.GetBpp(), bits);
        EXPECT_EQ(decoded.GetType(), uint32_t(kFormatBmp));
        EXPECT_EQ(decoded.GetDpiX(), 300);
        EXPECT_EQ(decoded.GetDpiY(), 72);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 13; ++x)
                ASSERT_EQ(decoded.ReadColor(x, y), image.ReadColor(x, y)) << bits;
    }
}

TEST(RasterImageBMP, ReadsABitmapWithoutFileHeader) {
    DibFields f;
    f.height = 2;
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, colourDib(f), kFormatBmp)) << image.LastErrorText();
    EXPECT_EQ(image.ReadColor(2, 1), (RgbQuad{2, 1, 102, 0}));
}

TEST(RasterImageBMP, TopDownRowsComeOutWithTheFirstStoredRowOnTop) {
    DibFields f;
    f.height = -2;
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, withFileHeader(colourDib(f), 40), kFormatBmp));
    EXPECT_EQ(image.GetHeight(), 2);
    // The file's first row (y = 0) is the top row: stored row 1.
    EXPECT_EQ(image.ReadColor(1, 1), (RgbQuad{1, 0, 101, 0}));
    EXPECT_EQ(image.ReadColor(1, 0), (RgbQuad{1, 1, 101, 0}));
}

TEST(RasterImageBMP, AcceptsLongerHeadersOnlyWhenConsistent) {
    DibFields f;
    f.height = 2;
    f.headerSize = 64;
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, withFileHeader(colourDib(f), 64), kFormatBmp)) << image.LastErrorText();
    EXPECT_EQ(image.ReadColor(2, 1), (RgbQuad{2, 1, 102, 0}));

    f.headerSize = 108;
    f.sizeImage = 24;
    ASSERT_TRUE(decodeBytes(image, withFileHeader(colourDib(f), 108), kFormatBmp)) << image.LastErrorText();
    EXPECT_EQ(image.ReadColor(0, 1), (RgbQuad{0, 1, 100, 0}));

    f.headerSize = 52;
    f.sizeImage = 25;
    RasterImage refused;
    EXPECT_FALSE(decodeBytes(refused, withFileHeader(colourDib(f), 52), kFormatBmp));
    EXPECT_STREQ(refused.LastErrorText(), "Error reading BMP info");
    f.headerSize = 20;  // shorter than 40 and not the core header
    EXPECT_FALSE(decodeBytes(refused, withFileHeader(colourDib(f), 20), kFormatBmp));
    EXPECT_STREQ(refused.LastErrorText(), "Error reading BMP info");
}

TEST(RasterImageBMP, ZeroPixelsPerMetreDecodesAsZeroDpi) {
    DibFields f;
    f.height = 1;
    f.pelsY = 11811;
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, colourDib(f), kFormatBmp));
    EXPECT_EQ(image.GetDpiX(), 0);
    EXPECT_EQ(image.GetDpiY(), 300);
    EXPECT_EQ(image.header().yPelsPerMeter, 11811);
}

TEST(RasterImageBMP, ReadsATinyCoreFile) {
    // 1 x 1 at 1 bit with a core header: 36 bytes in all, fewer than a 40-byte header.
    Bytes dib;
    append32(dib, 12);
    append16(dib, 1);
    append16(dib, 1);
    append16(dib, 1);
    append16(dib, 1);
    appendBytes(dib, {0, 0, 0, 0, 0, 255, 0x80, 0, 0, 0});
    const Bytes file = withFileHeader(dib, 18);
    ASSERT_EQ(file.size(), 36u);
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, file, kFormatBmp)) << image.LastErrorText();
    EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{0, 0, 255, 0}));
}

TEST(RasterImageBMP, ReadsNoMoreThanTheRowsHoldWhateverTheSizeFieldSays) {
    DibFields f;
    f.height = 1;
    f.sizeImage = 0x7FFFFF00;  // far beyond the 12 bytes of the rows
    Bytes dib = colourDib(f);
    dib.insert(dib.end(), 64, 0xCC);  // bytes after the rows must not be read into them
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, dib, kFormatBmp));
    EXPECT_EQ(image.ReadColor(2, 0), (RgbQuad{2, 0, 102, 0}));
}

TEST(RasterImageBMP, ReadsAtMostTheEntriesTheDepthAddresses) {
    DibFields f;
    f.width = 2;
    f.height = 1;
    f.bits = 1;
    f.clrUsed = 1000;
    Bytes dib = infoHeader(f);
    for (int i = 0; i < 1000; ++i)
        appendBytes(dib, {i & 255, 1, 2, 3});
    const uint32_t bitsOffset = uint32_t(dib.size());
    appendBytes(dib, {0x40, 0, 0, 0});
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, withFileHeader(dib, bitsOffset), kFormatBmp)) << image.LastErrorText();
    EXPECT_EQ(image.GetColourCount(), 2u);
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{1, 1, 2, 0}));
    EXPECT_EQ(image.ReadIndex(1, 0), 1);
    EXPECT_EQ(image.ReadIndex(0, 0), 0);

    // Without a file header the surplus entries are skipped to reach the bits.
    Bytes headerless = infoHeader(f);
    for (int i = 0; i < 1000; ++i)
        appendBytes(headerless, {i & 255, 1, 2, 3});
    appendBytes(headerless, {0x80, 0, 0, 0});
    ASSERT_TRUE(decodeBytes(image, headerless, kFormatBmp));
    EXPECT_EQ(image.ReadIndex(0, 0), 1);
}

TEST(RasterImageBMP, ReportsEachFailureWithItsText) {
    RasterImageBMP codec;
    EXPECT_FALSE(codec.Decode(nullptr));
    RasterImage image;
    EXPECT_FALSE(decodeBytes(image, Bytes{'B', 'M', 0}, kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "Not a BMP");

    DibFields f;
    f.bits = 8;
    f.compression = 4;
    EXPECT_FALSE(decodeBytes(image, withFileHeader(infoHeader(f), 40), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "compression type not supported");
    f.bits = 24;
    f.compression = 1;
    EXPECT_FALSE(decodeBytes(image, withFileHeader(infoHeader(f), 40), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "unknown compression");
    f.bits = 32;
    f.compression = 2;
    EXPECT_FALSE(decodeBytes(image, withFileHeader(infoHeader(f), 40), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "unknown compression");
    f.width = 0;
    f.compression = 0;
    EXPECT_FALSE(decodeBytes(image, withFileHeader(infoHeader(f), 40), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "Can't allocate memory");

    f = DibFields{};
    f.height = 1;
    image.info().escape = 1;
    EXPECT_FALSE(decodeBytes(image, colourDib(f), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "Cancelled");
}

TEST(RasterImageBMP, EscapeMinusOneAsksForTheSizeOnly) {
    DibFields f;
    f.height = -2;
    RasterImage image;
    image.info().escape = -1;
    EXPECT_TRUE(decodeBytes(image, colourDib(f), kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "output dimensions returned");
    EXPECT_EQ(image.GetWidth(), 3);
    EXPECT_EQ(image.GetHeight(), 2);
    EXPECT_FALSE(image.HasPixels());
}

TEST(RasterImageBMP, WidensBitFieldFiles) {
    DibFields f;
    f.width = 1;
    f.height = 1;
    f.bits = 16;
    f.compression = 3;
    Bytes dib = infoHeader(f);
    append32(dib, 0xF800);
    append32(dib, 0x07E0);
    append32(dib, 0x001F);
    const uint32_t bitsOffset = uint32_t(dib.size());
    append16(dib, (16u << 11) | (32u << 5) | 8u);
    append16(dib, 0);
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, withFileHeader(dib, bitsOffset), kFormatBmp));
    EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{64, 128, 128, 0}));

    f.bits = 32;
    f.compression = 0;
    dib = infoHeader(f);
    appendBytes(dib, {7, 8, 9, 200});
    ASSERT_TRUE(decodeBytes(image, dib, kFormatBmp));
    EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{7, 8, 9, 0}));
    EXPECT_FALSE(image.HasAlpha());
}

TEST(RasterImageBMP, EncodeRefusesEmptyImagesAndMissingStreams) {
    RasterImageBMP codec;
    EXPECT_FALSE(codec.Encode(nullptr));
    EXPECT_STREQ(codec.LastErrorText(), "null file handler");
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(codec.Encode(&stream));
    EXPECT_STREQ(codec.LastErrorText(), "null image!!!");
}

}  // namespace
}  // namespace rendova
