#include <gtest/gtest.h>

#include <memory>

#include "image/RasterImage.h"
#include "tests/image/ImageTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::append32;
using test::appendBytes;
using test::Bytes;
using test::DibFields;
using test::infoHeader;

// CreateFromDib over an exact-size heap copy, so that the sanitizers see any
// read past the block.
bool createFrom(RasterImage& image, const Bytes& dib) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[dib.size() ? dib.size() : 1]);
    std::copy(dib.begin(), dib.end(), block.get());
    return image.CreateFromDib(block.get(), dib.size());
}

TEST(RasterImageDib, CopiesAnUncompressedColourBitmap) {
    DibFields f;
    f.width = 2;
    f.height = 2;
    f.pelsX = 3780;
    Bytes dib = infoHeader(f);
    appendBytes(dib, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.GetType(), uint32_t(kFormatUnknown));
    EXPECT_EQ(image.GetDpiX(), 96);
    EXPECT_EQ(image.GetDpiY(), 72);  // 0 pixels per metre
    EXPECT_EQ(image.ReadColor(1, 1), (RgbQuad{10, 11, 12, 0}));
    EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{1, 2, 3, 0}));
    BitmapInfoHeader stored;
    std::memcpy(&stored, image.RowPointer(0) - 40, 40);
    EXPECT_EQ(stored.xPelsPerMeter, 3780);
}

TEST(RasterImageDib, ReadsAShortPaletteAndFindsTheBitsAfterIt) {
    DibFields f;
    f.width = 3;
    f.height = 1;
    f.bits = 8;
    f.clrUsed = 3;
    Bytes dib = infoHeader(f);
    appendBytes(dib, {10, 20, 30, 99, 11, 21, 31, 99, 12, 22, 32, 99});
    appendBytes(dib, {2, 0, 1, 0});
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.GetColourCount(), 256u);
    EXPECT_EQ(image.ReadIndex(0, 0), 2);
    EXPECT_EQ(image.ReadIndex(2, 0), 1);
    EXPECT_EQ(image.PaletteEntry(2), (RgbQuad{12, 22, 32, 0}));  // reserved byte cleared
    EXPECT_EQ(image.PaletteEntry(3), RgbQuad{});
}

TEST(RasterImageDib, ReadsACoreHeaderWithTriples) {
    Bytes dib;
    append32(dib, 12);
    append16(dib, 9);
    append16(dib, 1);
    append16(dib, 1);
    append16(dib, 1);
    appendBytes(dib, {0, 0, 0, 255, 255, 255});
    appendBytes(dib, {0x80, 0x80, 0, 0});
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.GetWidth(), 9);
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(image.ReadIndex(0, 0), 1);
    EXPECT_EQ(image.ReadIndex(8, 0), 1);
    EXPECT_EQ(image.ReadIndex(1, 0), 0);
}

TEST(RasterImageDib, DecodesRunLength8WithEveryEscape) {
    DibFields f;
    f.width = 6;
    f.height = 4;
    f.bits = 8;
    f.compression = 1;
    f.clrUsed = 2;
    Bytes dib = infoHeader(f);
    appendBytes(dib, {0, 0, 0, 0, 255, 255, 255, 0});
    appendBytes(dib, {3, 7});              // row 0: 7 7 7
    appendBytes(dib, {0, 3, 1, 2, 3, 0});  // literal 1 2 3, padded to an even count
    appendBytes(dib, {0, 0});              // end of line
    appendBytes(dib, {9, 5});              // row 1: a run longer than the row, the rest dropped
    appendBytes(dib, {0, 0});              // end of line
    appendBytes(dib, {0, 2, 2, 1});        // delta: right 2, up 1 -> (2, 2)
    appendBytes(dib, {1, 4});              // one pixel
    appendBytes(dib, {0, 1});              // end of bitmap
    appendBytes(dib, {1, 9});              // never read
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    const uint8_t row0[6] = {7, 7, 7, 1, 2, 3};
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(image.ReadIndex(x, 0), row0[x]) << x;
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(image.ReadIndex(x, 1), 5) << x;
    EXPECT_EQ(image.ReadIndex(1, 3), 0);
    EXPECT_EQ(image.ReadIndex(2, 3), 4);
    EXPECT_EQ(image.ReadIndex(3, 3), 0);
}

TEST(RasterImageDib, DecodesRunLength4WithAlternatingNibbles) {
    DibFields f;
    f.width = 7;
    f.height = 2;
    f.bits = 4;
    f.compression = 2;
    Bytes dib = infoHeader(f);
    for (int i = 0; i < 16; ++i)
        appendBytes(dib, {i, i, i, 0});
    appendBytes(dib, {5, 0x12});                    // 1 2 1 2 1
    appendBytes(dib, {0, 0});                       // end of line
    appendBytes(dib, {0, 3, 0xAB, 0xC0});           // literal A B C in two bytes: even, no padding
    appendBytes(dib, {0, 5, 0x34, 0x56, 0x70, 0});  // literal 3 4 5 6 7: three bytes and padding
    appendBytes(dib, {0, 1});                       // end of bitmap
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    const uint8_t row0[7] = {1, 2, 1, 2, 1, 0, 0};
    const uint8_t row1[7] = {0xA, 0xB, 0xC, 3, 4, 5, 6};
    for (int x = 0; x < 7; ++x) {
        EXPECT_EQ(image.ReadIndex(x, 0), row0[x]) << x;
        EXPECT_EQ(image.ReadIndex(x, 1), row1[x]) << x;
    }
}

TEST(RasterImageDib, WidensBitFields) {
    for (bool sixFiveFive : {false, true}) {
        DibFields f;
        f.width = 2;
        f.height = 1;
        f.bits = 16;
        f.compression = sixFiveFive ? 3 : 0;
        Bytes dib = infoHeader(f);
        if (sixFiveFive) {
            append32(dib, 0xF800);
            append32(dib, 0x07E0);
            append32(dib, 0x001F);
            append16(dib, (31u << 11) | (1u << 5) | 2u);
        } else {
            append16(dib, (31u << 10) | (1u << 5) | 2u);
        }
        append16(dib, 0xFFFF);
        RasterImage image;
        ASSERT_TRUE(createFrom(image, dib));
        ASSERT_EQ(image.GetBpp(), 24);
        // Each channel's top bit lands on bit 7: red 31 -> 248, green 1 -> 4 (6 bits) or 8 (5 bits).
        EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{16, uint8_t(sixFiveFive ? 4 : 8), 248, 0})) << sixFiveFive;
        EXPECT_EQ(image.ReadColor(1, 0), (RgbQuad{248, uint8_t(sixFiveFive ? 252 : 248), 248, 0}));
    }
}

TEST(RasterImageDib, TakesBlueGreenRedOf32BitPixels) {
    DibFields f;
    f.width = 2;
    f.height = 1;
    f.bits = 32;
    Bytes dib = infoHeader(f);
    appendBytes(dib, {1, 2, 3, 4, 5, 6, 7, 8});
    RasterImage image;
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.ReadColor(1, 0), (RgbQuad{5, 6, 7, 0}));
}

TEST(RasterImageDib, RefusesUnknownCompressions) {
    DibFields f;
    f.bits = 8;
    f.compression = 4;
    RasterImage image;
    Bytes dib = infoHeader(f);
    dib.resize(dib.size() + 1024 + 4);
    EXPECT_FALSE(createFrom(image, dib));
    EXPECT_STREQ(image.LastErrorText(), "compression type not supported");
    EXPECT_FALSE(image.HasPixels());
    f.bits = 32;
    f.compression = 1;
    EXPECT_FALSE(createFrom(image, infoHeader(f)));
    EXPECT_STREQ(image.LastErrorText(), "unknown compression");
}

TEST(RasterImageDib, NeverReadsPastTheBlock) {
    RasterImage image;
    EXPECT_FALSE(image.CreateFromDib(nullptr, 100));
    EXPECT_FALSE(createFrom(image, Bytes{40, 0}));
    DibFields f;
    f.width = 4;
    f.height = 4;
    Bytes header = infoHeader(f);
    Bytes cut(header.begin(), header.begin() + 39);
    EXPECT_FALSE(createFrom(image, cut));
    EXPECT_STREQ(image.LastErrorText(), "CreateFromDib: the bitmap block is too short");

    // Rows cut short: the rows present are copied, the rest stay black.
    Bytes dib = header;
    dib.insert(dib.end(), 12 + 5, 0xEE);  // one row of 12 bytes, then 5 bytes
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.ReadColor(0, 1), (RgbQuad{0xEE, 0xEE, 0xEE, 0}));
    EXPECT_EQ(image.ReadColor(1, 1), (RgbQuad{0xEE, 0xEE, 0, 0}));
    EXPECT_EQ(image.ReadColor(3, 3), RgbQuad{});

    // A palette that the block does not hold.
    f.bits = 8;
    EXPECT_FALSE(createFrom(image, infoHeader(f)));

    // Run-length data that stops before its end-of-bitmap code.
    f.compression = 1;
    f.clrUsed = 1;
    dib = infoHeader(f);
    appendBytes(dib, {0, 0, 0, 0, 4, 9, 0});
    ASSERT_TRUE(createFrom(image, dib));
    EXPECT_EQ(image.ReadIndex(3, 0), 9);

    // Bit fields whose masks are missing.
    f = DibFields{};
    f.bits = 16;
    f.compression = 3;
    EXPECT_FALSE(createFrom(image, infoHeader(f)));
}

TEST(RasterImageDib, TopDownBitmapsAreRefusedLikeAnyNonPositiveHeight) {
    DibFields f;
    f.height = -2;
    Bytes dib = infoHeader(f);
    dib.resize(dib.size() + 8);
    RasterImage image;
    EXPECT_FALSE(createFrom(image, dib));
    EXPECT_STREQ(image.LastErrorText(), "RasterImage::Create : width and height must be greater than zero");
}

TEST(RasterImageDib, ASharedBlockEncodesAsItsCopyWithoutBeingCopiedOrFreed) {
    DibFields f;
    f.width = 3;
    f.height = 2;
    f.pelsX = 5906;
    f.pelsY = 11811;
    Bytes dib = infoHeader(f);
    for (int i = 0; i < 24; ++i)
        dib.push_back(uint8_t(i * 37));
    RasterImage copied;
    ASSERT_TRUE(createFrom(copied, dib));
    RasterImage shared;
    ASSERT_TRUE(shared.ShareDib(dib.data(), dib.size()));
    EXPECT_EQ(shared.RowPointer(0), dib.data() + 40);
    EXPECT_EQ(shared.GetDpiX(), copied.GetDpiX());
    EXPECT_EQ(shared.GetDpiY(), copied.GetDpiY());
    for (const uint32_t code : {kFormatPng, kFormatJpeg, kFormatTiff, kFormatBmp}) {
        const Bytes expected = test::encodeBytes(copied, code);
        ASSERT_FALSE(expected.empty()) << code;
        EXPECT_EQ(test::encodeBytes(shared, code), expected) << code;
    }
    // The block stays the caller's: the image gives nothing up to be freed
    // or replaced.
    EXPECT_FALSE(shared.destroy());
    EXPECT_FALSE(shared.ShareDib(dib.data(), dib.size()));
}

TEST(RasterImageDib, OnlyAWholeUncompressedColourBlockIsShared) {
    const auto refused = [](const DibFields& f, size_t cut) {
        Bytes dib = infoHeader(f);
        dib.resize(dib.size() + 16 + (f.bits <= 8 ? 4u << f.bits : 0));  // two rows of 8 bytes
        dib.resize(dib.size() - cut);
        RasterImage image;
        return !image.ShareDib(dib.data(), dib.size()) && !image.HasPixels();
    };
    DibFields f;
    f.width = 2;
    f.height = 2;
    EXPECT_FALSE(refused(f, 0));
    EXPECT_TRUE(refused(f, 1));  // rows cut short
    DibFields palette = f;
    palette.bits = 8;
    EXPECT_TRUE(refused(palette, 0));
    DibFields coded = f;
    coded.compression = 1;
    EXPECT_TRUE(refused(coded, 0));
    DibFields wideHeader = f;
    wideHeader.headerSize = 108;
    EXPECT_TRUE(refused(wideHeader, 0));
    DibFields topDown = f;
    topDown.height = -2;
    EXPECT_TRUE(refused(topDown, 0));
}

}  // namespace
}  // namespace rendova
