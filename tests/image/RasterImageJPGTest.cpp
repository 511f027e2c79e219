// The JPEG codec on its own: what it writes, what it reads back, the
// resolution rules, short and empty files, and the option word.
#include <gtest/gtest.h>

#include <cstring>

#include "image/MemoryStream.h"
#include "image/RasterImageJPG.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;

// Offset of the first marker `code` (FF code) among the sections before
// the image data, or -1.
long findMarker(const Bytes& jpeg, uint8_t code) {
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        if (jpeg[i + 1] == code)
            return long(i);
        if (jpeg[i + 1] == 0xDA)
            return -1;
        i += 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
    }
    return -1;
}

// A stream that takes nothing.
class RefusingStream : public MemoryStream {
public:
    size_t write(const void*, size_t, size_t) override { return 0; }
};

TEST(RasterImageJPG, ColourAndGreyRoundTrip) {
    RasterImage colour;
    test::paintSmooth(colour, 61, 37);
    colour.SetQuality(90);
    const Bytes jpeg = test::encodeBytes(colour, kFormatJpeg);
    ASSERT_FALSE(jpeg.empty()) << colour.LastErrorText();
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, jpeg, kFormatJpeg)) << decoded.LastErrorText();
    EXPECT_EQ(decoded.GetBpp(), 24);
    EXPECT_EQ(decoded.GetWidth(), 61);
    EXPECT_EQ(decoded.GetHeight(), 37);
    EXPECT_GT(test::psnr(test::ourPixels(decoded), test::ourPixels(colour)), 30.0);

    RasterImage grey;
    test::paintIndexed(grey, 40, 30, 8, true);
    ASSERT_TRUE(grey.HasGreyPalette());
    const Bytes greyJpeg = test::encodeBytes(grey, kFormatJpeg);
    const long frame = findMarker(greyJpeg, 0xC0);
    ASSERT_GE(frame, 0);
    EXPECT_EQ(greyJpeg[size_t(frame) + 9], 1);  // one component
    RasterImage greyBack;
    ASSERT_TRUE(test::decodeBytes(greyBack, greyJpeg, kFormatJpeg));
    EXPECT_EQ(greyBack.GetBpp(), 8);
    EXPECT_TRUE(greyBack.HasGreyPalette());
    EXPECT_GT(test::psnr(test::ourPixels(greyBack), test::ourPixels(grey)), 30.0);
}

TEST(RasterImageJPG, OnlyColourAndEightBitGreyAreWritten) {
    RasterImage palette;
    test::paintIndexed(palette, 8, 8, 8, false);
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(palette.Encode(&stream, kFormatJpeg));
    EXPECT_STREQ(palette.LastErrorText(), "JPEG can save only RGB or GreyScale images");

    // Sixteen grey levels 0..15 form an identity table too, but four-bit
    // pixels are no JPEG samples.
    RasterImage nibbles(8, 8, 4, kFormatUnknown);
    for (uint8_t i = 0; i < 16; ++i)
        nibbles.SetPaletteEntry(i, i, i, i);
    EXPECT_FALSE(nibbles.Encode(&stream, kFormatJpeg));
    EXPECT_STREQ(nibbles.LastErrorText(), "JPEG can save only RGB or GreyScale images");
    EXPECT_EQ(stream.size(), 0);
}

TEST(RasterImageJPG, ResolutionFollowsTheJfifDensity) {
    RasterImage image;
    test::paintPicture(image, 8, 8);
    image.SetDpiX(300);
    image.SetDpiY(200);
    Bytes jpeg = test::encodeBytes(image, kFormatJpeg);
    const long app0 = findMarker(jpeg, 0xE0);
    ASSERT_EQ(app0, 2);
    // Units at +11, x density at +12, y density at +14 (big-endian).
    EXPECT_EQ(jpeg[13], 1);
    EXPECT_EQ((jpeg[14] << 8) | jpeg[15], 300);
    EXPECT_EQ((jpeg[16] << 8) | jpeg[17], 200);

    struct Case {
        uint8_t unit;
        uint16_t density;
        int32_t dpi;
    };
    for (const Case c : {Case{2, 118, 300}, Case{1, 72, 72}, Case{0, 1, 1}}) {
        jpeg[13] = c.unit;
        jpeg[14] = jpeg[16] = uint8_t(c.density >> 8);
        jpeg[15] = jpeg[17] = uint8_t(c.density);
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, jpeg, kFormatJpeg));
        EXPECT_EQ(decoded.GetDpiX(), c.dpi) << int(c.unit);
        EXPECT_EQ(decoded.GetDpiY(), c.dpi) << int(c.unit);
    }
}

TEST(RasterImageJPG, TruncatedFileGivesPartialPictureAndEmptyFileFails) {
    RasterImage image;
    test::paintSmooth(image, 256, 256);
    const Bytes jpeg = test::encodeBytes(image, kFormatJpeg);
    const Bytes half(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2));
    RasterImage partial;
    ASSERT_TRUE(test::decodeBytes(partial, half, kFormatJpeg)) << partial.LastErrorText();
    EXPECT_EQ(partial.GetHeight(), 256);
    // The top rows were in the first half of the data, the bottom ones not.
    const Bytes full = test::ourPixels(image);
    const Bytes got = test::ourPixels(partial);
    const size_t band = 256 * 3 * 16;
    EXPECT_GT(test::psnr(Bytes(got.begin(), got.begin() + band), Bytes(full.begin(), full.begin() + band)),
              25.0);
    EXPECT_LT(test::psnr(Bytes(got.end() - band, got.end()), Bytes(full.end() - band, full.end())), 20.0);

    RasterImage empty;
    EXPECT_FALSE(test::decodeBytes(empty, Bytes{}, kFormatJpeg));
    EXPECT_STRNE(empty.LastErrorText(), "");
    EXPECT_FALSE(empty.HasPixels());
    RasterImage headerOnly;
    EXPECT_FALSE(test::decodeBytes(headerOnly, Bytes{0xFF, 0xD8}, kFormatJpeg));
}

TEST(RasterImageJPG, OptionWordMakesOptimizedProgressiveFiles) {
    RasterImage image;
    test::paintSmooth(image, 48, 48);
    const Bytes plain = test::encodeBytes(image, kFormatJpeg);
    image.SetFormatOption(kJpegOptimize | kJpegProgressive, kFormatJpeg);
    const Bytes progressive = test::encodeBytes(image, kFormatJpeg);
    EXPECT_GE(findMarker(plain, 0xC0), 0);
    EXPECT_GE(findMarker(progressive, 0xC2), 0);
    EXPECT_LT(findMarker(progressive, 0xC0), 0);
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, progressive, kFormatJpeg));
    EXPECT_GT(test::psnr(test::ourPixels(decoded), test::ourPixels(image)), 30.0);
}

TEST(RasterImageJPG, ProgressiveFilesOfTooManyScansOrTooLargeAFrameAreRefused) {
    RasterImage image;
    test::paintSmooth(image, 16, 16);
    image.SetFormatOption(kJpegProgressive, kFormatJpeg);
    const Bytes jpeg = test::encodeBytes(image, kFormatJpeg);
    // The last scan (a refinement) repeated: every copy is a pass over the
    // frame.
    long last = -1;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
            last = long(i);
    ASSERT_GT(last, 0);
    const Bytes scan(jpeg.begin() + last, jpeg.end() - 2);
    Bytes many(jpeg.begin(), jpeg.end() - 2);
    for (int i = 0; i < 1100; ++i)
        many.insert(many.end(), scan.begin(), scan.end());
    many.push_back(0xFF);
    many.push_back(0xD9);
    RasterImage decoded;
    EXPECT_FALSE(test::decodeBytes(decoded, many, kFormatJpeg));
    EXPECT_NE(std::strstr(decoded.LastErrorText(), "more than 1000 scans"), nullptr)
        << decoded.LastErrorText();

    // The same small file declaring 30000 x 30000: its coefficients would
    // take 5 GB, and the decoder refuses it.
    Bytes huge = jpeg;
    const long sof = findMarker(huge, 0xC2);
    ASSERT_GT(sof, 0);
    for (int at : {5, 7}) {
        huge[size_t(sof + at)] = 30000 >> 8;
        huge[size_t(sof + at + 1)] = 30000 & 0xFF;
    }
    RasterImage refused;
    EXPECT_FALSE(test::decodeBytes(refused, huge, kFormatJpeg));
    EXPECT_FALSE(refused.HasPixels());
}

TEST(RasterImageJPG, DecodeOptionsAndSizeProbe) {
    RasterImage image;
    test::paintPicture(image, 40, 24);
    const Bytes jpeg = test::encodeBytes(image, kFormatJpeg);

    RasterImage probe;
    probe.info().escape = -1;
    ASSERT_TRUE(test::decodeBytes(probe, jpeg, kFormatJpeg));
    EXPECT_FALSE(probe.HasPixels());
    EXPECT_EQ(probe.GetWidth(), 40);
    EXPECT_EQ(probe.GetHeight(), 24);

    RasterImage quantized;
    quantized.SetFormatOption(kJpegQuantize, kFormatJpeg);
    quantized.SetQuality(50);
    ASSERT_TRUE(test::decodeBytes(quantized, jpeg, kFormatJpeg)) << quantized.LastErrorText();
    EXPECT_EQ(quantized.GetBpp(), 8);
    int highest = 0;
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 40; ++x)
            highest = std::max<int>(highest, quantized.ReadIndex(x, y));
    EXPECT_LT(highest, 50);

    RasterImage grey;
    grey.SetFormatOption(kJpegGreyDecode, kFormatJpeg);
    ASSERT_TRUE(test::decodeBytes(grey, jpeg, kFormatJpeg));
    EXPECT_EQ(grey.GetBpp(), 8);
    EXPECT_TRUE(grey.HasGreyPalette());

    RasterImage halved;
    halved.info().jpegScale = 2;
    ASSERT_TRUE(test::decodeBytes(halved, jpeg, kFormatJpeg));
    EXPECT_EQ(halved.GetWidth(), 20);
    EXPECT_EQ(halved.GetHeight(), 12);

    RasterImage cancelled;
    cancelled.info().escape = 1;
    EXPECT_FALSE(test::decodeBytes(cancelled, jpeg, kFormatJpeg));
}

TEST(RasterImageJPG, RefusedWriteFailsTheEncode) {
    RasterImage image;
    test::paintPicture(image, 200, 200);  // more than one 4096-byte block
    RefusingStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(image.Encode(&stream, kFormatJpeg));
    EXPECT_STRNE(image.LastErrorText(), "");
}

TEST(RasterImageJPG, AnyFormatDecodeFindsEachNewCodec) {
    // Code 0 tries BMP, JPEG, ICO, GIF, PNG and TIFF in turn, rewinding the
    // stream after each failure.
    RasterImage source;
    test::paintPicture(source, 20, 12);
    for (uint32_t code : {uint32_t(kFormatJpeg), uint32_t(kFormatPng), uint32_t(kFormatTiff)}) {
        source.SetFormatOption(code == kFormatTiff ? 5 : 0, kFormatTiff);
        const Bytes bytes = test::encodeBytes(source, code);
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, bytes, kFormatUnknown))
            << code << ": " << decoded.LastErrorText();
        EXPECT_EQ(decoded.GetType(), code);
        EXPECT_EQ(decoded.GetWidth(), 20);
        RasterImage wrongCode;
        EXPECT_FALSE(test::decodeBytes(wrongCode, bytes, kFormatBmp));
    }
}

}  // namespace
}  // namespace rendova
