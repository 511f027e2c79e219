#include "engine/raster/RasterBitmap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "engine/core/Memory.h"

namespace rendova {
namespace {

uint32_t get32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

TEST(RasterBitmapTest, OnePixelBgrRowIsPaddedToFourBytes) {
    RasterBitmap bitmap(1, 1, 1, rasterBGR8, false, true);
    EXPECT_EQ(bitmap.rowSize(), 4);
    EXPECT_EQ(bitmap.blockSize(), 58);
    const uint8_t* h = bitmap.block();
    EXPECT_EQ(h[0], 'B');
    EXPECT_EQ(h[1], 'M');
    EXPECT_EQ(get32(h + 2), 58u);
    EXPECT_EQ(get32(h + 10), 54u);
    EXPECT_EQ(get32(h + 14), 40u);
    EXPECT_EQ(get32(h + 18), 1u);
    EXPECT_EQ(get32(h + 22), 1u);
    EXPECT_EQ(get16(h + 26), 1);
    EXPECT_EQ(get16(h + 28), 24);
    EXPECT_EQ(get32(h + 30), 0u);
    EXPECT_EQ(get32(h + 34), 4u);
    for (int offset = 38; offset < 54; offset += 4)
        EXPECT_EQ(get32(h + offset), 0u) << offset;
    EXPECT_EQ(bitmap.alpha(), nullptr);
}

TEST(RasterBitmapTest, RowSizesFollowModeAndPad) {
    EXPECT_EQ(RasterBitmap(5, 2, 1, rasterMono1, false, true).rowSize(), 1);
    EXPECT_EQ(RasterBitmap(5, 2, 4, rasterMono1, false, true).rowSize(), 4);
    EXPECT_EQ(RasterBitmap(9, 2, 1, rasterMono1, false, true).rowSize(), 2);
    EXPECT_EQ(RasterBitmap(5, 2, 1, rasterMono8, false, true).rowSize(), 5);
    EXPECT_EQ(RasterBitmap(5, 2, 4, rasterMono8, false, true).rowSize(), 8);
    EXPECT_EQ(RasterBitmap(5, 2, 1, rasterRGB8, false, true).rowSize(), 16);
    EXPECT_EQ(RasterBitmap(4, 2, 1, rasterRGB8, false, true).rowSize(), 12);
    EXPECT_EQ(RasterBitmap(4, 2, 8, rasterRGB8, false, true).rowSize(), 16);
    // The header's bits per pixel follow the mode, with no colour table in
    // any mode: the pixels always begin at offset 54.
    RasterBitmap mono(5, 2, 1, rasterMono1, false, true);
    EXPECT_EQ(get16(mono.block() + 28), 1);
    EXPECT_EQ(get32(mono.block() + 10), 54u);
    RasterBitmap grey(5, 2, 1, rasterMono8, false, true);
    EXPECT_EQ(get16(grey.block() + 28), 8);
}

TEST(RasterBitmapTest, BottomUpRowsStartAtTheLastRowOfTheBlock) {
    RasterBitmap bottomUp(3, 4, 1, rasterBGR8, false, false);
    EXPECT_EQ(bottomUp.rowSize(), -12);
    EXPECT_EQ(bottomUp.data(), bottomUp.block() + 54 + 12 * 3);
    EXPECT_EQ(bottomUp.blockSize(), 12 * 4 + 54);
    EXPECT_EQ(get32(bottomUp.block() + 22), 4u);  // the height stays positive

    RasterBitmap topDown(3, 4, 1, rasterBGR8, false, true);
    EXPECT_EQ(topDown.rowSize(), 12);
    EXPECT_EQ(topDown.data(), topDown.block() + 54);
}

TEST(RasterBitmapTest, BgrStoresRedReversedAndReadsItBack) {
    RasterBitmap bitmap(2, 2, 1, rasterBGR8, false, false);
    uint8_t* pixel = bitmap.data() + 3 * 1;  // (1, 0)
    pixel[0] = 0;
    pixel[1] = 0;
    pixel[2] = 255;
    uint8_t out[3] = {9, 9, 9};
    bitmap.getPixel(1, 0, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);

    RasterBitmap rgb(2, 2, 1, rasterRGB8, false, true);
    rgb.data()[0] = 255;
    rgb.data()[1] = 10;
    rgb.data()[2] = 20;
    rgb.getPixel(0, 0, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 10);
    EXPECT_EQ(out[2], 20);
}

TEST(RasterBitmapTest, GetPixelReadsMonoModes) {
    RasterBitmap mono(10, 1, 1, rasterMono1, false, true);
    mono.data()[0] = 0x40;  // pixel 1
    mono.data()[1] = 0x80;  // pixel 8
    uint8_t out[3] = {7, 7, 7};
    mono.getPixel(1, 0, out);
    EXPECT_EQ(out[0], 255);
    mono.getPixel(8, 0, out);
    EXPECT_EQ(out[0], 255);
    mono.getPixel(0, 0, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 7);  // only the first byte is written

    RasterBitmap grey(3, 2, 4, rasterMono8, false, false);
    grey.data()[grey.rowSize() + 2] = 77;  // (2, 1)
    grey.getPixel(2, 1, out);
    EXPECT_EQ(out[0], 77);
}

TEST(RasterBitmapTest, GetPixelOutsideLeavesOutputUntouched) {
    RasterBitmap bitmap(3, 3, 1, rasterBGR8, false, false);
    uint8_t out[3] = {1, 2, 3};
    for (auto [x, y] :
         std::vector<std::pair<int, int>>{{-1, 0}, {3, 0}, {0, -1}, {0, 3}, {INT32_MIN, INT32_MAX}}) {
        bitmap.getPixel(x, y, out);
        EXPECT_EQ(out[0], 1);
        EXPECT_EQ(out[1], 2);
        EXPECT_EQ(out[2], 3);
    }
}

TEST(RasterBitmapTest, AlphaPlaneIsWidthTimesHeight) {
    RasterBitmap bitmap(7, 3, 4, rasterBGR8, true, false);
    ASSERT_NE(bitmap.alpha(), nullptr);
    // Every byte of the plane is addressable (the sanitizers check).
    for (int i = 0; i < 7 * 3; ++i)
        bitmap.alpha()[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(bitmap.alpha()[20], 20);
}

TEST(RasterBitmapTest, EmptyBitmapIsJustTheHeader) {
    RasterBitmap bitmap(0, 0, 1, rasterBGR8, true, false);
    EXPECT_EQ(bitmap.blockSize(), 54);
    EXPECT_EQ(get32(bitmap.block() + 2), 54u);
}

TEST(RasterBitmapTest, AbsurdSizesThrowInsteadOfWrapping) {
    // 3 x 60000 x 60000 is 10.8 GB; wrapped to 32 bits it would look small.
    EXPECT_THROW(RasterBitmap(60000, 60000, 1, rasterBGR8, false, false), MemoryException);
    // Row size alone overflows an int.
    EXPECT_THROW(RasterBitmap(INT32_MAX, 1, 1, rasterBGR8, false, false), MemoryException);
    // The block (rows + 54) just above INT_MAX.
    EXPECT_THROW(RasterBitmap(INT32_MAX - 53, 1, 1, rasterMono8, false, false), MemoryException);
    // The alpha plane is checked on its own: a 1-bit page whose pixels fit
    // but whose alpha bytes do not.
    EXPECT_THROW(RasterBitmap(80000, 80000, 1, rasterMono1, true, false), MemoryException);
    EXPECT_THROW(RasterBitmap(INT32_MAX, INT32_MAX, 4, rasterBGR8, true, false), MemoryException);
    EXPECT_THROW(RasterBitmap(-1, 10, 1, rasterBGR8, false, false), MemoryException);
    EXPECT_THROW(RasterBitmap(10, -1, 1, rasterBGR8, false, false), MemoryException);
}

TEST(RasterBitmapTest, PageSizesSaturateBeforeBecomingIntegers) {
    EXPECT_EQ(pixelCountFromSize(611.6), 612);
    EXPECT_EQ(pixelCountFromSize(0.2), 1);
    EXPECT_EQ(pixelCountFromSize(-5e9), 1);
    EXPECT_EQ(pixelCountFromSize(1e30), INT32_MAX);
    EXPECT_EQ(pixelCountFromSize(std::numeric_limits<double>::infinity()), INT32_MAX);
    EXPECT_EQ(pixelCountFromSize(std::nan("")), 1);
    // A saturated size then meets the bitmap's own check.
    EXPECT_THROW(
        RasterBitmap(pixelCountFromSize(1e30), pixelCountFromSize(1e30), 1, rasterBGR8, false, false),
        MemoryException);
}

// The block written to a file as it stands is a BMP image that a reader shows
// upright: pixel (0, 0) of a bottom-up bitmap is its top-left pixel.
TEST(RasterBitmapTest, BlockReadsAsUprightBmpInImageMagick) {
    if (std::system("command -v convert >/dev/null 2>&1 && command -v identify >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick convert/identify not installed";

    const int width = 5, height = 3;
    RasterBitmap bitmap(width, height, 1, rasterBGR8, false, false);
    auto colorOf = [](int x, int y) {
        return std::vector<uint8_t>{static_cast<uint8_t>(40 * x + 10), static_cast<uint8_t>(60 * y + 5),
                                    static_cast<uint8_t>(x == 0 && y == 0 ? 255 : 0)};
    };
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.data() + y * bitmap.rowSize();
        for (int x = 0; x < width; ++x) {
            const auto c = colorOf(x, y);
            row[3 * x] = c[2];
            row[3 * x + 1] = c[1];
            row[3 * x + 2] = c[0];
        }
    }
    // A folder of the test's own under the build's test output folder: the
    // working directory may be the clone.
    const std::filesystem::path folder = std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "raster-bitmap";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "block.bmp").string();
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bitmap.block(), 1, static_cast<size_t>(bitmap.blockSize()), f),
              static_cast<size_t>(bitmap.blockSize()));
    std::fclose(f);

    FILE* p = popen(("identify -format '%m %w %h %z' " + path + " 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char text[256] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, p);
    pclose(p);
    // BMP3: the 40-byte info header of a Windows version 3 bitmap.
    EXPECT_EQ(std::string(text, n), "BMP3 5 3 8");

    p = popen(("convert " + path + " -depth 8 rgb:-").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<uint8_t> rgb(width * height * 3 + 1);
    const size_t got = std::fread(rgb.data(), 1, rgb.size(), p);
    pclose(p);
    ASSERT_EQ(got, static_cast<size_t>(width * height * 3));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto c = colorOf(x, y);
            const uint8_t* px = rgb.data() + 3 * (y * width + x);
            EXPECT_EQ(px[0], c[0]) << x << "," << y;
            EXPECT_EQ(px[1], c[1]) << x << "," << y;
            EXPECT_EQ(px[2], c[2]) << x << "," << y;
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace rendova
