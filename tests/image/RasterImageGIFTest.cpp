// The GIF codec: its three bodies read back by us, by ImageMagick and by
// netpbm's giftopnm; the tiling writer; frames, the screen and the bounds
// on what a file may ask for; files that ImageMagick writes.
#include <gtest/gtest.h>

#include <string>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::append16;
using test::Bytes;
using test::decodeBytes;
using test::encodeBytes;

struct Random {
    uint32_t state = 99;
    uint32_t next(uint32_t range) {
        state = state * 1103515245u + 12345u;
        return (state >> 9) % range;
    }
};

// Random indices (maxRun 0), or runs of random lengths below maxRun.
void paintIndices(RasterImage& image, int32_t width, int32_t height, int bits, uint32_t maxRun) {
    test::paintIndexed(image, width, height, bits, false);
    Random random;
    const uint32_t colours = image.GetColourCount();
    uint32_t value = 0;
    int64_t left = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (maxRun == 0) {
                value = random.next(colours);
            } else if (left-- == 0) {
                value = random.next(colours);
                left = random.next(maxRun);
            }
            image.WriteIndex(x, y, uint8_t(value));
        }
    }
}

void expectSameIndices(const RasterImage& a, const RasterImage& b, const std::string& what) {
    ASSERT_EQ(a.GetWidth(), b.GetWidth()) << what;
    ASSERT_EQ(a.GetHeight(), b.GetHeight()) << what;
    for (int32_t y = 0; y < a.GetHeight(); ++y)
        for (int32_t x = 0; x < a.GetWidth(); ++x)
            if (a.ReadColor(x, y) != b.ReadColor(x, y)) {
                ADD_FAILURE() << what << ": pixel " << x << "," << y;
                return;
            }
}

// Where our encoder puts the graphic control block of a palette image.
size_t controlOffset(const RasterImage& image) {
    return 13 + 3 * size_t(image.GetColourCount());
}

// The blocks of our file of `frame` from its graphic control to the
// trailer, with the image placed at (left, top).
Bytes frameBlocks(RasterImage& frame, int left, int top) {
    const Bytes file = encodeBytes(frame, kFormatGif);
    Bytes blocks(file.begin() + long(controlOffset(frame)), file.end() - 1);
    blocks[9] = uint8_t(left);
    blocks[11] = uint8_t(top);
    return blocks;
}

// A screen descriptor with a grey global table of `entries` (0: none).
Bytes screen(int width, int height, int entries) {
    Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
    append16(out, uint32_t(width));
    append16(out, uint32_t(height));
    int sizeBits = 0;
    while (entries > (2 << sizeBits))
        ++sizeBits;
    out.push_back(uint8_t(entries != 0 ? 0x80 | sizeBits : 0));
    out.push_back(0);
    out.push_back(0);
    for (int i = 0; i < entries; ++i)
        out.insert(out.end(), {uint8_t(i * 40), uint8_t(i * 40), uint8_t(i * 40)});
    return out;
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

TEST(RasterImageGIF, HeaderAndCodeSizeFollowTheDepth) {
    struct Case {
        int bits;
        uint8_t flags;
        int codeSize;
    };
    for (const Case c : {Case{1, 0x80, 2}, Case{4, 0xE3, 4}, Case{8, 0xE7, 8}}) {
        RasterImage image;
        paintIndices(image, 9, 5, c.bits, 0);
        const Bytes file = encodeBytes(image, kFormatGif);
        ASSERT_FALSE(file.empty()) << image.LastErrorText();
        EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
        EXPECT_EQ(file[10], c.flags) << c.bits;
        const size_t descriptor = controlOffset(image) + 8;
        ASSERT_EQ(file[descriptor], 0x2C);
        EXPECT_EQ(file[descriptor + 10], c.codeSize) << c.bits;
        EXPECT_EQ(file.back(), 0x3B);
    }
}

TEST(RasterImageGIF, EveryBodyReadsBackIdenticallyHereAndInThePeers) {
    const bool magick = test::haveTool("convert");
    const bool netpbm = test::haveTool("giftopnm");
    struct Case {
        int bits;
        uint32_t maxRun;
        int32_t width;
        int32_t height;
    };
    // 300 x 200 random pixels fill the 4096-code table many times over; a
    // run of 9 million pixels takes the LZW and run-length bodies to 12-bit
    // codes and past a full table.
    for (const Case c : {Case{8, 0, 300, 200}, Case{8, 3000, 300, 200}, Case{4, 0, 61, 43},
                         Case{4, 3000, 333, 100}, Case{1, 0, 77, 30}, Case{1, 3000, 500, 90},
                         Case{1, 10000000, 3000, 3000}, Case{8, 0, 1, 1}, Case{1, 0, 1, 1}}) {
        for (uint32_t body : {0u, 1u, 2u}) {
            RasterImage image;
            paintIndices(image, c.width, c.height, c.bits, c.maxRun);
            image.SetFormatOption(body, kFormatGif);
            const std::string name =
                std::to_string(c.bits) + "-" + std::to_string(c.maxRun) + "-" + std::to_string(body);
            const Bytes file = encodeBytes(image, kFormatGif);
            ASSERT_FALSE(file.empty()) << name;
            RasterImage decoded;
            ASSERT_TRUE(decodeBytes(decoded, file, kFormatGif)) << name << decoded.LastErrorText();
            EXPECT_EQ(decoded.GetBpp(), c.bits) << name;
            expectSameIndices(image, decoded, name);

            const std::string path = test::outPath(name + ".gif");
            test::writeFile(path, file);
            if (magick) {
                EXPECT_EQ(test::magickPixels(path, "rgb"), test::ourPixels(image)) << name;
            }
            if (magick && netpbm) {
                const std::string ppm = path + ".ppm";
                ASSERT_TRUE(test::run("(giftopnm '" + path + "' > '" + ppm + "')")) << name;
                EXPECT_EQ(test::magickPixels(ppm, "rgb"), test::ourPixels(image)) << name;
            }
        }
    }
}

TEST(RasterImageGIF, TrueColourIsWrittenAsTilesThatReassembleExactly) {
    RasterImage image;
    test::paintPicture(image, 34, 30);
    const Bytes file = encodeBytes(image, kFormatGif);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[10], 0x11);  // no global table
    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, file, kFormatGif)) << decoded.LastErrorText();
    EXPECT_EQ(decoded.info().frameCount, 4);
    EXPECT_EQ(decoded.GetBpp(), 24);
    EXPECT_EQ(test::ourPixels(decoded), test::ourPixels(image));

    REQUIRE_TOOL("identify");
    const std::string path = test::outPath("tiles.gif");
    test::writeFile(path, file);
    EXPECT_EQ(test::capture("identify -format '%wx%h%X%Y,' '" + path + "'"),
              "17x15+0+0,17x15+17+0,17x15+0+15,17x15+17+15,");
    // magickPixels reads the first image; flatten the file first.
    ASSERT_TRUE(test::run("convert '" + path + "' -layers flatten '" + path + ".png'"));
    EXPECT_EQ(test::magickPixels(path + ".png", "rgb"), test::ourPixels(image));
}

TEST(RasterImageGIF, FramesAreCountedAndComposedAndAnOversizedOneIsSkipped) {
    Bytes file = screen(6, 4, 4);
    RasterImage frames[3];
    for (int i = 0; i < 3; ++i) {
        frames[i].Create(i == 2 ? 3 : 6, i == 2 ? 2 : 4, 8, kFormatUnknown);
        frames[i].FillBytes(uint8_t(i + 1));
    }
    // An image wider than the screen comes first and is not a frame.
    RasterImage wide(9, 2, 8, kFormatUnknown);
    append(file, frameBlocks(wide, 0, 0));
    append(file, frameBlocks(frames[0], 0, 0));
    append(file, frameBlocks(frames[1], 0, 0));
    append(file, frameBlocks(frames[2], 2, 1));
    file.push_back(0x3B);

    RasterImage image;
    image.info().frame = 2;
    ASSERT_TRUE(decodeBytes(image, file, kFormatGif)) << image.LastErrorText();
    EXPECT_EQ(image.info().frameCount, 3);
    ASSERT_EQ(image.GetWidth(), 6);
    // The third frame lies on the second: index 3 inside its rectangle.
    // Four table entries make a 4-bit image.
    EXPECT_EQ(image.GetBpp(), 4);
    EXPECT_EQ(image.ReadIndex(0, 3), 2);
    EXPECT_EQ(image.ReadIndex(2, 2), 3);
    EXPECT_EQ(image.ReadIndex(4, 1), 3);
    EXPECT_EQ(image.ReadIndex(5, 0), 2);

    RasterImage missing;
    missing.info().frame = 3;
    EXPECT_FALSE(decodeBytes(missing, file, kFormatGif));
    EXPECT_EQ(missing.info().frameCount, 3);
}

TEST(RasterImageGIF, IndicesAreMaskedToTheTablesDepth) {
    // 8-bit data under a table of two entries.
    Bytes file = screen(4, 2, 2);
    RasterImage frame(4, 2, 8, kFormatUnknown);
    for (int x = 0; x < 4; ++x)
        frame.WriteIndex(x, 0, uint8_t(x + 4));
    append(file, frameBlocks(frame, 0, 0));
    file.push_back(0x3B);
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, file, kFormatGif));
    EXPECT_EQ(image.GetBpp(), 1);
    EXPECT_EQ(image.ReadIndex(0, 0), 0);
    EXPECT_EQ(image.ReadIndex(1, 0), 1);
    EXPECT_EQ(image.ReadIndex(3, 0), 1);
}

TEST(RasterImageGIF, TransparencyComesWithTheGraphicControl) {
    RasterImage source;
    paintIndices(source, 20, 10, 8, 0);
    source.SetTransparentIndex(7);
    RasterImage image;
    ASSERT_TRUE(decodeBytes(image, encodeBytes(source, kFormatGif), kFormatGif));
    EXPECT_EQ(image.GetTransparentIndex(), 7);
    expectSameIndices(source, image, "transparent");
}

TEST(RasterImageGIF, AWriteErrorFailsTheEncode) {
    RasterImage image;
    paintIndices(image, 64, 64, 8, 0);
    uint8_t small[600];
    MemoryStream stream(small, sizeof small);  // a caller's buffer never grows
    EXPECT_FALSE(image.Encode(&stream, kFormatGif));
    EXPECT_STREQ(image.LastErrorText(), "Write Error in GIF file");
}

TEST(RasterImageGIF, SizesBeyondTheSixteenBitFieldsAreRefused) {
    // GIF, PCX and TGA keep sizes in 16-bit fields, which must not wrap.
    RasterImage wide(70000, 1, 8, kFormatUnknown);
    for (const auto& [code, text] : {std::pair{kFormatGif, "Can't save this image as GIF"},
                                     {kFormatPcx, "Can't save this image as PCX"},
                                     {kFormatTga, "Can't save this image as TGA"}}) {
        EXPECT_TRUE(encodeBytes(wide, code).empty()) << code;
        EXPECT_STREQ(wide.LastErrorText(), text);
    }
}

TEST(RasterImageGIF, MalformedFilesAreBounded) {
    struct Case {
        const char* what;
        Bytes file;
        const char* error;
    };
    // A screen of 65535 x 65535 with one small frame.
    Bytes hugeScreen = screen(65535, 65535, 2);
    RasterImage small(2, 2, 8, kFormatUnknown);
    append(hugeScreen, frameBlocks(small, 0, 0));
    // 300 frames of 2000 x 2000 pixels with no data, the last one asked for.
    Bytes manyFrames = screen(2000, 2000, 2);
    RasterImage big(2000, 2000, 8, kFormatUnknown);
    Bytes blocks = frameBlocks(big, 0, 0);
    blocks.resize(8 + 10 + 1);  // control, descriptor, code size: no data
    blocks.push_back(0);
    for (int i = 0; i < 300; ++i)
        append(manyFrames, blocks);
    // Code sizes outside 2..9.
    Bytes badCodeSize = screen(2, 2, 2);
    append(badCodeSize, frameBlocks(small, 0, 0));
    badCodeSize[13 + 6 + 8 + 10] = 12;

    for (const Case& c : {Case{"huge screen", hugeScreen, "GIF screen too large"},
                          Case{"many frames", manyFrames, "GIF frames too large to compose"},
                          Case{"bad code size", badCodeSize, "GIF image data has a bad code size"}}) {
        RasterImage image;
        image.info().frame = c.file == manyFrames ? 299 : 0;
        EXPECT_FALSE(decodeBytes(image, c.file, kFormatGif)) << c.what;
        EXPECT_STREQ(image.LastErrorText(), c.error) << c.what;
    }
    RasterImage first;
    EXPECT_TRUE(decodeBytes(first, manyFrames, kFormatGif));
    EXPECT_EQ(first.info().frameCount, 300);
}

TEST(RasterImageGIF, BadCodesResynchroniseOnTheNextImage) {
    Bytes file = screen(4, 4, 2);
    RasterImage frame(4, 4, 8, kFormatUnknown);
    frame.FillBytes(1);
    Bytes first = frameBlocks(frame, 0, 0);
    // Codes far past the next free one in the first image's data.
    for (size_t i = 8 + 10 + 2; i + 2 < first.size(); ++i)
        first[i] = 0xFF;
    append(file, first);
    append(file, frameBlocks(frame, 0, 0));
    file.push_back(0x3B);
    RasterImage image;
    image.info().frame = 1;
    ASSERT_TRUE(decodeBytes(image, file, kFormatGif)) << image.LastErrorText();
    EXPECT_EQ(image.ReadIndex(3, 3), 1);
}

TEST(RasterImageGIF, ReadsNetpbmFiles) {
    REQUIRE_TOOL("convert");
    REQUIRE_TOOL("pamtogif");
    const std::string ppm = test::outPath("source.ppm");
    ASSERT_TRUE(test::run("convert -seed 3 -size 71x45 plasma:fractal -colors 200 -depth 8 '" + ppm + "'"));
    for (const char* options : {"", "-nolzw", "-interlace"}) {
        const std::string path = ppm + options + ".gif";
        ASSERT_TRUE(test::run("(pamtogif " + std::string(options) + " '" + ppm + "' > '" + path + "')"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatGif)) << options << image.LastErrorText();
        EXPECT_EQ(test::ourPixels(image), test::magickPixels(ppm, "rgb")) << options;
    }
}

TEST(RasterImageGIF, ReadsImageMagickFiles) {
    REQUIRE_TOOL("convert");
    int n = 0;
    for (const char* options : {"-colors 200", "-colors 200 -interlace GIF", "-colors 12", "-monochrome"}) {
        const std::string path = test::outPath(std::to_string(n++) + ".gif");
        ASSERT_TRUE(test::run("convert -seed 3 -size 71x45 plasma:fractal " + std::string(options) + " '" +
                              path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatGif)) << options << image.LastErrorText();
        EXPECT_EQ(test::ourPixels(image), test::magickPixels(path, "rgb")) << options;
    }
}

}  // namespace
}  // namespace rendova
