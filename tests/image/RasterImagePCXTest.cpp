// The PCX codec: its run coding, palettes and layouts, the checks of a
// file's lines, and files read both ways with ImageMagick and netpbm.
#include <gtest/gtest.h>

#include <string>

#include "image/RasterImage.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;
using test::decodeBytes;
using test::encodeBytes;

constexpr size_t kHeader = 128;

uint32_t le16(const Bytes& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8);
}

void paint(RasterImage& image, int bits, bool alpha = false) {
    if (bits == 24) {
        test::paintPicture(image, 61, 43);
        if (alpha) {
            image.MakeAlphaPlane();
            for (int32_t y = 0; y < 43; ++y)
                for (int32_t x = 0; x < 61; ++x)
                    image.WriteAlpha(x, y, uint8_t(x * 4 + y));
        }
    } else {
        // 1-bit files are black and white.
        test::paintIndexed(image, 61, 43, bits, bits == 1);
    }
}

TEST(RasterImagePCX, RunsOfSixtyFourBytes) {
    for (const int value : {5, 200}) {
        RasterImage image(64, 1, 8, kFormatUnknown);
        image.FillBytes(uint8_t(value));
        const Bytes file = encodeBytes(image, kFormatPcx);
        ASSERT_EQ(file.size(), kHeader + (value < 192 ? 3 : 4) + 769) << value;
        EXPECT_EQ(file[kHeader], 0xFF);
        EXPECT_EQ(file[kHeader + 1], value);
        if (value < 192) {
            EXPECT_EQ(file[kHeader + 2], value);
        } else {
            EXPECT_EQ(file[kHeader + 2], 0xC1);
            EXPECT_EQ(file[kHeader + 3], value);
        }
    }
}

TEST(RasterImagePCX, EightBitFilesEndWithThePaletteTrailer) {
    RasterImage image;
    paint(image, 8);
    const Bytes file = encodeBytes(image, kFormatPcx);
    ASSERT_GT(file.size(), kHeader + 769);
    const size_t trailer = file.size() - 769;
    EXPECT_EQ(file[trailer], 12);
    const RgbQuad last = image.PaletteEntry(255);
    EXPECT_EQ(file[file.size() - 3], last.red);
    EXPECT_EQ(file[file.size() - 1], last.blue);
    EXPECT_EQ(file[65], 1);          // planes
    EXPECT_EQ(le16(file, 66), 62u);  // 61 rounded up to even
}

TEST(RasterImagePCX, OneBitWhiteBlackIsWrittenInverted) {
    RasterImage image(8, 1, 1, kFormatUnknown);
    image.SetPaletteEntry(0, 255, 255, 255);
    image.SetPaletteEntry(1, 0, 0, 0);
    image.WriteIndex(0, 0, 1);  // one black pixel, then white
    const Bytes file = encodeBytes(image, kFormatPcx);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[16], 0);  // header palette: black, white
    EXPECT_EQ(file[19], 255);
    EXPECT_EQ(file[kHeader], 0x7F);  // bits of white set
    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, file, kFormatPcx));
    EXPECT_EQ(test::ourPixels(decoded), test::ourPixels(image));
}

TEST(RasterImagePCX, EveryDepthReadsBackHereAndInThePeers) {
    const bool magick = test::haveTool("convert");
    const bool netpbm = test::haveTool("pcxtoppm");
    for (const auto& [bits, alpha] : {std::pair{1, false}, {4, false}, {8, false}, {24, false}, {24, true}}) {
        RasterImage image;
        paint(image, bits, alpha);
        image.SetDpiX(300);
        image.SetDpiY(200);
        const std::string name = std::to_string(bits) + (alpha ? "a" : "");
        const Bytes file = encodeBytes(image, kFormatPcx);
        RasterImage decoded;
        ASSERT_TRUE(decodeBytes(decoded, file, kFormatPcx)) << name << decoded.LastErrorText();
        EXPECT_EQ(decoded.GetBpp(), bits) << name;
        EXPECT_EQ(decoded.GetDpiX(), 300);
        EXPECT_EQ(decoded.GetDpiY(), 200);
        EXPECT_EQ(test::ourPixels(decoded, alpha), test::ourPixels(image, alpha)) << name;
        const std::string path = test::outPath(name + ".pcx");
        test::writeFile(path, file);
        // ImageMagick shows single-plane 1-bit files inverted (netpbm's own
        // too), whatever their header palette says; netpbm reads them.
        if (magick && !alpha && bits != 1) {
            EXPECT_EQ(test::magickPixels(path, "rgb"), test::ourPixels(image)) << name;
        }
        if (magick && netpbm && !alpha) {
            ASSERT_TRUE(test::run("(pcxtoppm '" + path + "' > '" + path + ".ppm')"));
            EXPECT_EQ(test::magickPixels(path + ".ppm", "rgb"), test::ourPixels(image)) << name;
        }
    }
}

TEST(RasterImagePCX, ReadsImageMagickFiles) {
    REQUIRE_TOOL("convert");
    int n = 0;
    for (const char* options : {"", "-colors 200 -type Palette", "-monochrome", "-colors 16 -type Palette"}) {
        const std::string path = test::outPath(std::to_string(n++) + ".pcx");
        ASSERT_TRUE(test::run("convert -seed 5 -size 45x31 plasma:fractal " + std::string(options) + " '" +
                              path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatPcx)) << options << image.LastErrorText();
        EXPECT_EQ(test::ourPixels(image), test::magickPixels(path, "rgb")) << options;
    }
}

TEST(RasterImagePCX, ReadsNetpbmFilesOfEveryLayout) {
    REQUIRE_TOOL("convert");
    REQUIRE_TOOL("ppmtopcx");
    struct Case {
        int colours;
        const char* options;
    };
    // 8 bits packed, 3 planes of 8, 4 and 2 bits packed, 4 and 3 planes of 1.
    for (const Case c : {Case{200, ""}, Case{200, "-24bit"}, Case{12, "-packed"}, Case{4, "-packed"},
                         Case{12, "-planes 4"}, Case{7, "-planes 3"}}) {
        const std::string name = std::to_string(c.colours) + std::string(c.options);
        const std::string ppm = test::outPath(name + ".ppm");
        const std::string path = ppm + ".pcx";
        ASSERT_TRUE(test::run("convert -seed 5 -size 45x31 plasma:fractal -colors " +
                              std::to_string(c.colours) + " -depth 8 '" + ppm + "'"));
        ASSERT_TRUE(test::run("(ppmtopcx " + std::string(c.options) + " '" + ppm + "' > '" + path + "')"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatPcx)) << name << image.LastErrorText();
        EXPECT_EQ(test::ourPixels(image), test::magickPixels(ppm, "rgb")) << name;
    }
}

TEST(RasterImagePCX, MalformedFilesAreRefusedWithTheirTexts) {
    RasterImage source;
    paint(source, 8);
    const Bytes good = encodeBytes(source, kFormatPcx);
    struct Case {
        const char* what;
        Bytes file;
        const char* error;
    };
    Bytes truncated(good.begin(), good.begin() + kHeader + 40);
    Bytes shortLines = good;
    shortLines[66] = 30;  // fewer bytes than the 61 pixels of a line
    shortLines[67] = 0;
    Bytes huge(good.begin(), good.begin() + kHeader + 16);
    huge[8] = 0xFE;  // 65535 x 65536
    huge[9] = huge[10] = huge[11] = 0xFF;
    huge[65] = 3;
    huge[66] = huge[67] = 0xFF;
    Bytes spanning = good;
    spanning[kHeader] = 0xFF;  // every run of 63: the last overruns the picture
    for (size_t i = kHeader + 2; i + 1 < good.size() - 769; i += 2) {
        spanning[i] = 0xFF;
        spanning[i + 1] = 1;
    }
    Bytes noSignature = good;
    noSignature[good.size() - 769] = 11;
    Bytes planes = good;
    planes[65] = 5;
    for (const Case& c :
         {Case{"truncated", truncated, "corrupted PCX"},
          Case{"short lines", shortLines, "PCX line too short for its width"},
          Case{"huge", huge, "corrupted PCX"}, Case{"spanning", spanning, "repeat count spans end of image"},
          Case{"signature", noSignature, "bad color map signature"},
          Case{"planes", planes, "Can't handle image with more than 4 planes"},
          Case{"maker", Bytes(128, 0), "Error: Not a PCX file"},
          Case{"short header", Bytes(20, 10), "Can't read PCX image"}}) {
        RasterImage image;
        EXPECT_FALSE(decodeBytes(image, c.file, kFormatPcx)) << c.what;
        EXPECT_STREQ(image.LastErrorText(), c.error) << c.what;
    }
}

}  // namespace
}  // namespace rendova
