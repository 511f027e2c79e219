// The TGA and WBMP codecs: round trips here and in ImageMagick, files that
// ImageMagick writes (run-length ones too), and the hand-made cases of
// packets, colour maps and multi-byte sizes.
#include <gtest/gtest.h>

#include <string>

#include "image/RasterImage.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::appendBytes;
using test::Bytes;
using test::decodeBytes;
using test::encodeBytes;

// An 18-byte header of `type` at `bits`, `width` x `height`, with a colour
// map of `mapLength` entries of `mapBits` bits.
Bytes tgaHeader(int type, int bits, int width, int height, int descriptor = 0, int mapLength = 0,
                int mapBits = 0) {
    Bytes out;
    appendBytes(out, {0, mapLength != 0 ? 1 : 0, type});
    append16(out, 0);
    append16(out, uint32_t(mapLength));
    out.push_back(uint8_t(mapBits));
    append16(out, 0);
    append16(out, 0);
    append16(out, uint32_t(width));
    append16(out, uint32_t(height));
    appendBytes(out, {bits, descriptor});
    return out;
}

TEST(RasterImageTGA, RoundTripsHereAndInImageMagick) {
    const bool magick = test::haveTool("convert");
    for (const int bits : {8, 24, 32}) {
        RasterImage image;
        if (bits == 8) {
            test::paintIndexed(image, 37, 23, 8, false);
        } else {
            test::paintPicture(image, 37, 23);
        }
        if (bits == 32) {
            image.MakeAlphaPlane();
            for (int32_t x = 0; x < 37; ++x)
                image.WriteAlpha(x, 5, uint8_t(x * 7));
        }
        const Bytes file = encodeBytes(image, kFormatTga);
        ASSERT_FALSE(file.empty()) << bits;
        EXPECT_EQ(file[16], bits);
        RasterImage decoded;
        ASSERT_TRUE(decodeBytes(decoded, file, kFormatTga)) << bits << decoded.LastErrorText();
        EXPECT_EQ(test::ourPixels(decoded, true), test::ourPixels(image, true)) << bits;
        const std::string path = test::outPath(std::to_string(bits) + ".tga");
        test::writeFile(path, file);
        if (magick) {
            // ImageMagick keeps a file's row order and tells its origin
            // apart; -auto-orient puts the top row first.
            EXPECT_EQ(test::magickPixels(path, bits == 32 ? "rgba" : "rgb", "-auto-orient"),
                      test::ourPixels(image, bits == 32))
                << bits;
        }
    }
    RasterImage oneBit(4, 4, 1, kFormatUnknown);
    EXPECT_TRUE(encodeBytes(oneBit, kFormatTga).empty());
    EXPECT_STREQ(oneBit.LastErrorText(), "Bit depth must be 8 or 24");
}

TEST(RasterImageTGA, ReadsImageMagickFilesPlainAndRunLength) {
    REQUIRE_TOOL("convert");
    int n = 0;
    for (const char* options :
         {"", "-compress RLE", "-colors 100 -type Palette -compress RLE", "-colorspace Gray -compress RLE",
          "-alpha set -channel A -fx 'i/w' -compress RLE", "-flip -orient TopLeft"}) {
        const std::string path = test::outPath(std::to_string(n++) + ".tga");
        ASSERT_TRUE(test::run("convert -seed 9 -size 300x7 plasma:fractal " + std::string(options) + " '" +
                              path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatTga)) << options << image.LastErrorText();
        EXPECT_EQ(test::ourPixels(image, true), test::magickPixels(path, "rgba", "-auto-orient")) << options;
    }
}

TEST(RasterImageTGA, PacketsCrossRowsButStopAtTheLastPixel) {
    // 3 x 2 top-down 32-bit: one run of 4 over both rows, then a literal
    // packet of 5 pixels of which the picture holds only 2.
    Bytes file = tgaHeader(10, 32, 3, 2, 0x20);
    appendBytes(file, {0x83, 10, 20, 30, 40});
    appendBytes(file, {0x04, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, file, kFormatTga)) << image.LastErrorText();
    ASSERT_EQ(image.GetBpp(), 24);
    // Top-down: the first pixel is the top-left one, alpha with it.
    EXPECT_EQ(image.ReadColor(0, 1, true), (RgbQuad{10, 20, 30, 40}));
    EXPECT_EQ(image.ReadColor(0, 0, true), (RgbQuad{10, 20, 30, 40}));
    EXPECT_EQ(image.ReadColor(1, 0, true), (RgbQuad{1, 2, 3, 4}));
    EXPECT_EQ(image.ReadColor(2, 0, true), (RgbQuad{5, 6, 7, 8}));
}

TEST(RasterImageTGA, ColourMapsAreReadInTheirOwnEntrySize) {
    for (const int mapBits : {16, 24, 32}) {
        Bytes file = tgaHeader(1, 8, 2, 1, 0, 2, mapBits);
        if (mapBits == 16)
            appendBytes(file, {0x00, 0x7C, 0x1F, 0x00});  // red, blue
        else if (mapBits == 24)
            appendBytes(file, {0, 0, 248, 248, 0, 0});
        else
            appendBytes(file, {0, 0, 248, 77, 248, 0, 0, 77});
        appendBytes(file, {1, 0});
        RasterImage image;
        ASSERT_TRUE(decodeBytes(image, file, kFormatTga)) << mapBits << image.LastErrorText();
        EXPECT_EQ(image.ReadColor(0, 0), (RgbQuad{248, 0, 0, 0})) << mapBits;
        EXPECT_EQ(image.ReadColor(1, 0), (RgbQuad{0, 0, 248, 0})) << mapBits;
    }
}

TEST(RasterImageTGA, MalformedFilesAreRefusedWithTheirTexts) {
    struct Case {
        const char* what;
        Bytes file;
        const char* error;
    };
    Bytes truncated = tgaHeader(2, 24, 4, 4);
    truncated.resize(truncated.size() + 20);
    Bytes hugeRunLength = tgaHeader(10, 24, 65535, 65535);
    appendBytes(hugeRunLength, {0xFF, 1, 2, 3});
    for (const Case& c :
         {Case{"short", Bytes(10, 0), "Not a TGA"},
          Case{"type", tgaHeader(4, 24, 1, 1), "Unknown TGA image type"},
          Case{"depth", tgaHeader(2, 12, 1, 1), "bad TGA header"},
          Case{"map entries", tgaHeader(1, 8, 1, 1, 0, 2, 7), "bad TGA header"},
          Case{"truncated", truncated, "corrupted TGA"}, Case{"huge", hugeRunLength, "corrupted TGA"}}) {
        RasterImage image;
        EXPECT_FALSE(decodeBytes(image, c.file, kFormatTga)) << c.what;
        EXPECT_STREQ(image.LastErrorText(), c.error) << c.what;
    }
}

TEST(RasterImageWBMP, LargeSizesTakeTheMultiByteForm) {
    RasterImage image(300, 10, 1, kFormatUnknown);
    image.MakeGreyPalette();
    for (int32_t x = 0; x < 300; x += 3)
        image.WriteIndex(x, x % 10, 1);
    const Bytes file = encodeBytes(image, kFormatWbmp);
    ASSERT_EQ(file.size(), 5u + 38 * 10) << image.LastErrorText();
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 5), (Bytes{0, 0, 0x82, 0x2C, 10}));
    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, file, kFormatWbmp)) << decoded.LastErrorText();
    EXPECT_EQ(test::ourPixels(decoded), test::ourPixels(image));

    REQUIRE_TOOL("convert");
    const std::string path = test::outPath("wide.wbmp");
    test::writeFile(path, file);
    EXPECT_EQ(test::magickPixels(path, "rgb"), test::ourPixels(image));
    const std::string theirs = test::outPath("theirs.wbmp");
    ASSERT_TRUE(test::run("convert -size 200x130 pattern:checkerboard '" + theirs + "'"));
    RasterImage read;
    ASSERT_TRUE(test::loadFile(read, theirs, kFormatWbmp)) << read.LastErrorText();
    EXPECT_EQ(test::ourPixels(read), test::magickPixels(theirs, "rgb"));
}

TEST(RasterImageWBMP, RefusesWhatItCannotHold) {
    RasterImage grey(4, 4, 8, kFormatUnknown);
    EXPECT_TRUE(encodeBytes(grey, kFormatWbmp).empty());
    EXPECT_STREQ(grey.LastErrorText(), "Can't save this image as WBMP");
    struct Case {
        Bytes file;
        const char* error;
    };
    for (const Case& c : {Case{{0, 0}, "Not a WBMP"}, Case{{1, 0, 1, 1, 0}, "Unsupported WBMP type"},
                          Case{{0, 0, 0, 1, 0}, "Corrupted WBMP"},
                          Case{{0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0x7F}, "Corrupted WBMP"},
                          Case{{0, 0, 16, 4, 1, 2, 3}, "Corrupted WBMP"}}) {
        RasterImage image;
        EXPECT_FALSE(decodeBytes(image, c.file, kFormatWbmp));
        EXPECT_STREQ(image.LastErrorText(), c.error);
    }
}

}  // namespace
}  // namespace rendova
