// The TIFF codec on its own: every depth and compression written and read
// back, the tags it writes (read with libtiff's tiffinfo), multi-page files
// written by appending, missing pages, and the encoder's choices.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/FileImageStream.h"
#include "image/MemoryStream.h"
#include "image/RasterImageTIF.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;

constexpr uint32_t kNone = 1;
constexpr uint32_t kCcittRle = 2;
constexpr uint32_t kGroup3 = 3;
constexpr uint32_t kGroup4 = 4;
constexpr uint32_t kLzw = 5;
constexpr uint32_t kJpeg = 7;
constexpr uint32_t kPackBits = 32773;

std::string tiffinfo(const std::string& path) {
    return test::capture("tiffinfo '" + path + "'");
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

void paint(RasterImage& image, int bits, bool grey, int32_t width = 67, int32_t height = 45) {
    if (bits == 24)
        test::paintPicture(image, width, height);
    else
        test::paintIndexed(image, width, height, bits, grey);
}

TEST(RasterImageTIF, EveryDepthAndCompressionRoundTrips) {
    struct Case {
        int bits;
        bool grey;
        uint32_t compression;
    };
    const Case cases[] = {
        {1, true, kNone},      {1, true, kCcittRle},   {1, true, kGroup3},   {1, true, kGroup4},
        {1, true, kLzw},       {1, true, kPackBits},   {4, false, kNone},    {4, false, kLzw},
        {4, false, kPackBits}, {4, true, kLzw},        {8, false, kNone},    {8, false, kLzw},
        {8, false, kPackBits}, {8, true, kLzw},        {8, true, kPackBits}, {24, false, kNone},
        {24, false, kLzw},     {24, false, kPackBits}, {8, true, kJpeg},     {24, false, kJpeg},
        {24, false, 0},
    };
    for (const Case& c : cases) {
        RasterImage image;
        paint(image, c.bits, c.grey);
        image.SetDpiX(200);
        image.SetDpiY(100);
        image.SetFormatOption(c.compression, kFormatTiff);
        const Bytes tiff = test::encodeBytes(image, kFormatTiff);
        ASSERT_FALSE(tiff.empty()) << c.bits << "/" << c.compression << ": " << image.LastErrorText();
        RasterImage decoded;
        ASSERT_TRUE(test::decodeBytes(decoded, tiff, kFormatTiff)) << decoded.LastErrorText();
        const uint32_t written = c.compression == 0 ? kJpeg : c.compression;
        EXPECT_EQ(decoded.GetFormatOption(kFormatTiff), written);
        EXPECT_EQ(decoded.GetDpiX(), 200);
        EXPECT_EQ(decoded.GetDpiY(), 100);
        EXPECT_EQ(decoded.info().frameCount, 1);
        const Bytes want = test::ourPixels(image);
        const Bytes got = test::ourPixels(decoded);
        if (written == kJpeg)
            EXPECT_GT(test::psnr(got, want), 20.0) << c.bits;
        else
            EXPECT_EQ(test::firstDifference(got, want), -1) << c.bits << "/" << c.compression;
    }
}

TEST(RasterImageTIF, BilevelPagesAreMinIsWhite) {
    REQUIRE_TOOL("tiffinfo");
    RasterImage image(40, 8, 1, kFormatUnknown);
    image.SetPaletteEntry(0, 0, 0, 0);
    image.SetPaletteEntry(1, 255, 255, 255);
    for (int32_t x = 0; x < 40; ++x)
        image.WriteIndex(x, 3, uint8_t(x & 1));
    const Bytes picture = test::ourPixels(image);
    const std::string path = test::outPath("bilevel.tif");
    ASSERT_TRUE(image.Save(path.c_str(), kFormatTiff)) << image.LastErrorText();
    // The caller's image has white at entry 0 now, and the same picture.
    EXPECT_EQ(image.PaletteEntry(0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(image.ReadIndex(0, 0), 1);
    EXPECT_EQ(test::firstDifference(test::ourPixels(image), picture), -1);
    const std::string info = tiffinfo(path);
    EXPECT_TRUE(contains(info, "Photometric Interpretation: min-is-white")) << info;
    EXPECT_TRUE(contains(info, "Compression Scheme: CCITT Group 4")) << info;
    RasterImage decoded;
    ASSERT_TRUE(test::loadFile(decoded, path, kFormatTiff));
    EXPECT_EQ(test::firstDifference(test::ourPixels(decoded), picture), -1);
}

TEST(RasterImageTIF, TagsOfGreyAndColourPages) {
    REQUIRE_TOOL("tiffinfo");
    RasterImage grey;
    paint(grey, 8, true);
    const std::string greyPath = test::outPath("grey.tif");
    ASSERT_TRUE(grey.Save(greyPath.c_str(), kFormatTiff));
    const std::string greyInfo = tiffinfo(greyPath);
    EXPECT_TRUE(contains(greyInfo, "Photometric Interpretation: min-is-black")) << greyInfo;
    EXPECT_TRUE(contains(greyInfo, "Compression Scheme: LZW")) << greyInfo;
    EXPECT_TRUE(contains(greyInfo, "Predictor: horizontal differencing 2")) << greyInfo;
    EXPECT_TRUE(contains(greyInfo, "Subfile Type: (0 = 0x0)")) << greyInfo;
    EXPECT_TRUE(contains(greyInfo, "Resolution: 150, 150 pixels/inch")) << greyInfo;

    RasterImage palette;
    paint(palette, 4, false);
    const std::string palettePath = test::outPath("palette.tif");
    ASSERT_TRUE(palette.Save(palettePath.c_str(), kFormatTiff));
    EXPECT_TRUE(contains(tiffinfo(palettePath), "Photometric Interpretation: palette color"));

    RasterImage colour;
    paint(colour, 24, false, 300, 300);
    const std::string colourPath = test::outPath("colour.tif");
    ASSERT_TRUE(colour.Save(colourPath.c_str(), kFormatTiff));
    const std::string colourInfo = tiffinfo(colourPath);
    EXPECT_TRUE(contains(colourInfo, "Compression Scheme: JPEG")) << colourInfo;
    const size_t at = colourInfo.find("Rows/Strip: ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(std::atoi(colourInfo.c_str() + at + 12) % 8, 0) << colourInfo;
}

TEST(RasterImageTIF, AlphaPagesNameTheirExtraSample) {
    REQUIRE_TOOL("tiffinfo");
    for (int bits : {8, 24}) {
        RasterImage image;
        paint(image, bits, true);
        ASSERT_TRUE(image.MakeAlphaPlane());
        for (int32_t y = 0; y < image.GetHeight(); ++y)
            for (int32_t x = 0; x < image.GetWidth(); ++x)
                image.WriteAlpha(x, y, (x + y) % 3 == 0 ? 0 : 255);
        image.SetFormatOption(kLzw, kFormatTiff);
        const std::string path = test::outPath(std::to_string(bits) + ".tif");
        ASSERT_TRUE(image.Save(path.c_str(), kFormatTiff)) << image.LastErrorText();
        const std::string info = tiffinfo(path);
        EXPECT_TRUE(contains(info, "Extra Samples: 1<unassoc-alpha>")) << info;
        EXPECT_TRUE(contains(info, bits == 8 ? "Samples/Pixel: 2" : "Samples/Pixel: 4")) << info;
        RasterImage decoded;
        ASSERT_TRUE(test::loadFile(decoded, path, kFormatTiff));
        ASSERT_TRUE(decoded.HasAlpha());
        for (int32_t y = 0; y < image.GetHeight(); ++y)
            for (int32_t x = 0; x < image.GetWidth(); ++x) {
                ASSERT_EQ(decoded.ReadAlpha(x, y), image.ReadAlpha(x, y));
                if (image.ReadAlpha(x, y) == 255) {
                    ASSERT_EQ(decoded.ReadColor(x, y, false), image.ReadColor(x, y, false));
                }
            }
    }
}

TEST(RasterImageTIF, AppendedPagesMakeOneMultiPageFile) {
    REQUIRE_TOOL("tiffinfo");
    const std::string path = test::outPath("pages.tif");
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    {
        FileImageStream stream(file);
        RasterImageTIF writer;
        for (int page = 0; page < 3; ++page) {
            paint(writer, page == 1 ? 24 : 8, page != 1, 30 + page, 20);
            writer.SetFormatOption(page == 2 ? kPackBits : 0, kFormatTiff);
            ASSERT_TRUE(writer.Encode(&stream, true)) << writer.LastErrorText();
            EXPECT_TRUE(writer.isMultiPage());
            EXPECT_EQ(writer.pagesWritten(), page + 1);
        }
        // The handle stays open until the writer goes; the stream outlives it.
    }
    std::fclose(file);

    const std::string info = tiffinfo(path);
    EXPECT_TRUE(contains(info, "TIFF directory 2")) << info;
    EXPECT_FALSE(contains(info, "TIFF directory 3")) << info;
    EXPECT_TRUE(contains(info, "Subfile Type: multi-page document (2 = 0x2)")) << info;
    EXPECT_TRUE(contains(info, "Page Number: 1-1")) << info;
    EXPECT_TRUE(contains(info, "Page Number: 2-2")) << info;
    EXPECT_TRUE(contains(info, "Page Number: 3-3")) << info;
    EXPECT_TRUE(contains(info, "PageName: Page 3")) << info;

    RasterImage second;
    second.info().frame = 1;
    ASSERT_TRUE(second.Load(path.c_str(), kFormatTiff)) << second.LastErrorText();
    EXPECT_EQ(second.GetWidth(), 31);
    EXPECT_EQ(second.GetBpp(), 24);
    EXPECT_EQ(second.info().frameCount, 3);
    RasterImage expected;
    paint(expected, 24, false, 31, 20);
    EXPECT_GT(test::psnr(test::ourPixels(second), test::ourPixels(expected)), 20.0);

    RasterImage missing;
    missing.info().frame = 5;
    test::Bytes bytes = test::readFile(path);
    EXPECT_FALSE(test::decodeBytes(missing, bytes, kFormatTiff));
    EXPECT_STREQ(missing.LastErrorText(), "Error: page not present in TIFF file");
    EXPECT_EQ(missing.info().frameCount, 3);
}

TEST(RasterImageTIF, CompressionsThatDoNotFitThePageFallBack) {
    // CCITT codings hold bilevel pages only, and JPEG would spoil palette
    // indices: the page is written with its depth's own compression.
    RasterImage colour;
    paint(colour, 24, false);
    colour.SetFormatOption(kGroup4, kFormatTiff);
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, test::encodeBytes(colour, kFormatTiff), kFormatTiff));
    EXPECT_EQ(decoded.GetFormatOption(kFormatTiff), kJpeg);

    RasterImage palette;
    paint(palette, 8, false);
    palette.SetFormatOption(kJpeg, kFormatTiff);
    RasterImage back;
    ASSERT_TRUE(test::decodeBytes(back, test::encodeBytes(palette, kFormatTiff), kFormatTiff));
    EXPECT_EQ(back.GetFormatOption(kFormatTiff), kLzw);
    EXPECT_EQ(test::firstDifference(test::ourPixels(back), test::ourPixels(palette)), -1);

    RasterImage unknown;
    paint(unknown, 4, false);
    unknown.SetFormatOption(12345, kFormatTiff);
    RasterImage fromUnknown;
    ASSERT_TRUE(test::decodeBytes(fromUnknown, test::encodeBytes(unknown, kFormatTiff), kFormatTiff));
    EXPECT_EQ(fromUnknown.GetFormatOption(kFormatTiff), kLzw);
}

TEST(RasterImageTIF, EncoderChecksAndMemoryOutput) {
    RasterImageTIF codec;
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(codec.Encode(nullptr));
    EXPECT_STREQ(codec.LastErrorText(), "null file handler");
    EXPECT_FALSE(codec.Encode(&stream));
    EXPECT_STREQ(codec.LastErrorText(), "null image!!!");

    paint(codec, 8, false);
    uint8_t* buffer = reinterpret_cast<uint8_t*>(&stream);
    int32_t size = 0;
    EXPECT_FALSE(codec.EncodeToMemory(buffer, size));
    EXPECT_STREQ(codec.LastErrorText(), "the buffer must be empty");
    buffer = nullptr;
    ASSERT_TRUE(codec.EncodeToMemory(buffer, size));
    ASSERT_NE(buffer, nullptr);
    EXPECT_FALSE(codec.isMultiPage());
    const Bytes tiff(buffer, buffer + size);
    std::free(buffer);
    RasterImage decoded;
    ASSERT_TRUE(test::decodeBytes(decoded, tiff, kFormatTiff));
    EXPECT_EQ(test::firstDifference(test::ourPixels(decoded), test::ourPixels(codec)), -1);

    RasterImage probe;
    probe.info().escape = -1;
    ASSERT_TRUE(test::decodeBytes(probe, tiff, kFormatTiff));
    EXPECT_STREQ(probe.LastErrorText(), "output dimensions returned");
    EXPECT_EQ(probe.GetWidth(), 67);
    EXPECT_FALSE(probe.HasPixels());

    RasterImage truncated;
    EXPECT_FALSE(test::decodeBytes(truncated, Bytes(tiff.begin(), tiff.begin() + 6), kFormatTiff));
    EXPECT_STREQ(truncated.LastErrorText(), "Error encountered while opening TIFF file");
}

// A classic little-endian RGB TIFF of one strip whose header claims
// `samples` 8-bit samples a pixel. Uncompressed strips are whole; an LZW
// strip is 64 bytes of nothing in particular.
Bytes stripTiff(uint32_t width, uint32_t height, uint16_t samples, uint32_t compression) {
    const uint32_t stripBytes = compression == kNone ? width * height * samples : 64;
    struct Entry {
        uint16_t tag;
        uint16_t type;  // 3 short, 4 long
        uint32_t value;
    };
    const Entry entries[] = {{256, 4, width},       {257, 4, height}, {258, 3, 8},
                             {259, 3, compression}, {262, 3, 2},      {273, 4, 200},
                             {277, 3, samples},     {278, 4, height}, {279, 4, stripBytes}};
    Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put = [&](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            tiff.push_back(uint8_t(value >> (8 * i)));
    };
    put(std::size(entries), 2);
    for (const Entry& entry : entries) {
        put(entry.tag, 2);
        put(entry.type, 2);
        put(1, 4);
        put(entry.value, 4);
    }
    put(0, 4);
    tiff.resize(200 + stripBytes, 0x80);
    return tiff;
}

TEST(RasterImageTIF, StripsFarLargerThanThePageAreRefused) {
    // 3000 samples a pixel would have libtiff hold a 3 GB strip for a
    // megapixel page.
    RasterImage huge;
    EXPECT_FALSE(test::decodeBytes(huge, stripTiff(1000, 1000, 3000, kLzw), kFormatTiff));
    EXPECT_STREQ(huge.LastErrorText(), "Corrupted TIFF file!");
    EXPECT_FALSE(huge.HasPixels());
    // Extra samples within reason still go through the RGBA reader.
    RasterImage wide;
    EXPECT_TRUE(test::decodeBytes(wide, stripTiff(4, 4, 6, kNone), kFormatTiff));
    EXPECT_EQ(wide.GetBpp(), 24);
}

}  // namespace
}  // namespace rendova
