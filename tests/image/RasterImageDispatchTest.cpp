#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <string>

#include "image/FileImageStream.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "tests/image/ImageTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;
using test::decodeBytes;
using test::encodeBytes;

std::string outputPath(const char* name) {
    return std::string(RENDOVA_TEST_OUTPUT_DIR) + "/" + name;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

TEST(RasterImageDispatch, UnknownCodesAreRefusedWithTheirTexts) {
    RasterImage image(2, 2, 24, kFormatUnknown);
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(image.Encode(&stream, 0));
    EXPECT_STREQ(image.LastErrorText(), "Encode: Unknown format");
    EXPECT_FALSE(image.Encode(&stream, 16));
    EXPECT_STREQ(image.LastErrorText(), "Encode: Unknown format");
    EXPECT_FALSE(image.Decode(&stream, 16));
    EXPECT_STREQ(image.LastErrorText(), "Decode: Unknown or wrong format");
    EXPECT_FALSE(image.Encode(&stream, kFormatWmf));
    EXPECT_STREQ(image.LastErrorText(), "Save WMF not supported");
    EXPECT_FALSE(image.Decode(&stream, kFormatJp2));
    EXPECT_STREQ(image.LastErrorText(), "error: cannot load image data");
    EXPECT_EQ(stream.size(), 0);
    EXPECT_TRUE(image.HasPixels());
}

TEST(RasterImageDispatch, EncodersCheckStreamAndImage) {
    RasterImage image(2, 2, 24, kFormatUnknown);
    EXPECT_FALSE(image.Encode(nullptr, kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "null file handler");
    RasterImage empty;
    MemoryStream stream;
    ASSERT_TRUE(stream.open());
    EXPECT_FALSE(empty.Encode(&stream, kFormatIco));
    EXPECT_STREQ(empty.LastErrorText(), "null image!!!");
}

TEST(RasterImageDispatch, EncodeToMemoryWantsAnEmptyBuffer) {
    RasterImage image(2, 2, 24, kFormatUnknown);
    uint8_t placeholder = 0;
    uint8_t* buffer = &placeholder;
    int32_t size = -5;
    EXPECT_FALSE(image.EncodeToMemory(buffer, size, kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "the buffer must be empty");
    EXPECT_EQ(size, -5);
    buffer = nullptr;
    ASSERT_TRUE(image.EncodeToMemory(buffer, size, kFormatBmp));
    EXPECT_EQ(size, int32_t(image.GetSize() + 14));
    std::free(buffer);
}

TEST(RasterImageDispatch, EncodingLeavesTheImageItsOwnAndUnchanged) {
    RasterImage image(3, 3, 8, kFormatUnknown);
    image.WriteIndex(1, 1, 7);
    const uint8_t* pixels = image.RowPointer(0);
    ASSERT_FALSE(encodeBytes(image, kFormatBmp).empty());
    ASSERT_FALSE(encodeBytes(image, kFormatIco).empty());
    EXPECT_EQ(image.RowPointer(0), pixels);
    EXPECT_EQ(image.info().ghostOwner, nullptr);
    EXPECT_EQ(image.ReadIndex(1, 1), 7);
}

TEST(RasterImageDispatch, TryingEveryFormatRewindsBetweenAttempts) {
    RasterImage icon(3, 2, 24, kFormatUnknown);
    icon.WriteColor(2, 1, RgbQuad{1, 2, 3, 0});
    Bytes file = encodeBytes(icon, kFormatIco);
    ASSERT_FALSE(file.empty());
    // Behind a prefix, so that the noted start position is not 0.
    Bytes prefixed(3, 'x');
    for (uint8_t byte : file)
        prefixed.push_back(byte);
    MemoryStream stream(prefixed.data(), int32_t(prefixed.size()));
    ASSERT_TRUE(stream.seek(3, ImageStream::kSeekSet));
    RasterImage decoded;
    ASSERT_TRUE(decoded.Decode(&stream, kFormatUnknown)) << decoded.LastErrorText();
    EXPECT_EQ(decoded.GetType(), uint32_t(kFormatIco));
    EXPECT_EQ(decoded.ReadColor(2, 1), (RgbQuad{1, 2, 3, 0}));

    RasterImage garbage(1, 1, 8, kFormatUnknown);
    EXPECT_FALSE(decodeBytes(garbage, Bytes(64, 0x5A), kFormatUnknown));
    EXPECT_STREQ(garbage.LastErrorText(), "Decode: Unknown or wrong format");
}

TEST(RasterImageDispatch, FailedDecodeChangesOnlyTheErrorText) {
    RasterImage image(4, 4, 8, kFormatPcx);
    image.WriteIndex(3, 3, 200);
    image.SetQuality(55);
    EXPECT_FALSE(decodeBytes(image, Bytes{'B', 'M', 1, 2}, kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "Not a BMP");
    EXPECT_EQ(image.GetWidth(), 4);
    EXPECT_EQ(image.ReadIndex(3, 3), 200);
    EXPECT_EQ(image.GetType(), uint32_t(kFormatPcx));
    EXPECT_EQ(image.GetQuality(), 55);
}

TEST(RasterImageDispatch, SuccessfulDecodeCarriesTheCallersSettings) {
    RasterImage source(2, 2, 24, kFormatUnknown);
    const Bytes file = encodeBytes(source, kFormatBmp);
    RasterImage image;
    image.SetQuality(12);
    image.SetFormatOption(3, kFormatTiff);
    ASSERT_TRUE(decodeBytes(image, file, kFormatBmp));
    EXPECT_EQ(image.GetQuality(), 12);
    EXPECT_EQ(image.GetFormatOption(kFormatTiff), 3u);
    EXPECT_EQ(image.GetType(), uint32_t(kFormatBmp));
}

TEST(RasterImageDispatch, SaveAndLoadThroughFiles) {
    RasterImage image(5, 4, 4, kFormatUnknown);
    image.WriteIndex(4, 3, 9);
    image.SetPaletteEntry(9, 90, 91, 92);
    const std::string bmp = outputPath("dispatch-save.bmp");
    ASSERT_TRUE(image.Save(bmp.c_str(), kFormatBmp)) << image.LastErrorText();
    RasterImage loaded;
    ASSERT_TRUE(loaded.Load(bmp.c_str(), kFormatBmp));
    EXPECT_EQ(loaded.ReadColor(4, 3), (RgbQuad{92, 91, 90, 0}));

    // An icon loaded as BMP succeeds through the all-format attempt.
    const std::string ico = outputPath("dispatch-save.ico");
    ASSERT_TRUE(image.Save(ico.c_str(), kFormatIco));
    RasterImage icon;
    ASSERT_TRUE(icon.Load(ico.c_str(), kFormatBmp));
    EXPECT_EQ(icon.GetType(), uint32_t(kFormatIco));

    // A corrupt file asked for as BMP reports the BMP decoder's text.
    const std::string corrupt = outputPath("dispatch-corrupt.bmp");
    writeFile(corrupt, Bytes{'B', 'M', 0, 0, 0});
    RasterImage failed;
    EXPECT_FALSE(failed.Load(corrupt.c_str(), kFormatBmp));
    EXPECT_STREQ(failed.LastErrorText(), "Not a BMP");
    EXPECT_FALSE(failed.Load(corrupt.c_str(), kFormatUnknown));
    EXPECT_STREQ(failed.LastErrorText(), "Decode: Unknown or wrong format");

    RasterImage untouched;
    EXPECT_FALSE(untouched.Load(outputPath("no-such-dir/x.bmp").c_str(), kFormatBmp));
    EXPECT_STREQ(untouched.LastErrorText(), "");
    EXPECT_FALSE(image.Save(outputPath("no-such-dir/x.bmp").c_str(), kFormatBmp));
}

TEST(RasterImageDispatch, SaveReportsAFullDisk) {
    FILE* probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr)
        GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    RasterImage image(64, 64, 24, kFormatUnknown);
    EXPECT_FALSE(image.Save("/dev/full", kFormatBmp));
    EXPECT_STREQ(image.LastErrorText(), "Error writing the image");
    // A failed save removes the file it wrote, but never a device.
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
}

TEST(RasterImageDispatch, FailedSaveLeavesNoFileBehind) {
    RasterImage image(8, 8, 24, kFormatUnknown);
    const std::string path = outputPath("unwritable-format.img");
    EXPECT_FALSE(image.Save(path.c_str(), kFormatCount + 1));
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace rendova
