// Images with masks on the raster output device: explicit masks at the
// image's size and finer than it, soft masks of grey levels, and the
// graphics state's soft mask around an image that has its own.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/engine/raster/RasterDevicePages.h"

namespace rendova::test {
namespace {

using Rgb = std::vector<int>;

const Rgb kWhite = {255, 255, 255};
const Rgb kBlue = {0, 0, 255};

// An image XObject of hex samples.
StreamObject image(int num, const std::string& entries, const std::string& hex) {
    return {num, "<< /Type /XObject /Subtype /Image " + entries + " /Filter /ASCIIHexDecode >>", hex + ">"};
}

// A solid blue RGB image of w x h samples with the extra entries.
StreamObject blueImage(int num, int w, int h, const std::string& entries) {
    std::string hex;
    for (int i = 0; i < w * h; ++i)
        hex += "0000FF";
    return image(num,
                 "/Width " + std::to_string(w) + " /Height " + std::to_string(h) +
                     " /ColorSpace /DeviceRGB /BitsPerComponent 8 " + entries,
                 hex);
}

StreamObject stencil(int num, int w, int h, const std::string& entries, const std::string& hex) {
    return image(
        num, "/Width " + std::to_string(w) + " /Height " + std::to_string(h) + " /ImageMask true " + entries,
        hex);
}

// The image /I drawn over (x, y) .. (x + size, y + size).
std::string drawAt(int x, int y, int size) {
    return "q " + std::to_string(size) + " 0 0 " + std::to_string(size) + " " + std::to_string(x) + " " +
           std::to_string(y) + " cm /I Do Q";
}

const std::string kImageResources = "<< /XObject << /I 10 0 R >> >>";

// Whether the sample (column, row) of an n x n grid over a square of the
// given size at (x, y) shows blue; row 0 is the top.
bool blueAt(const RasterBitmap& b, int x, int y, int size, int n, int column, int row) {
    const int cell = size / n;
    return at(b, x + cell * column + cell / 2, y + size - cell * row - cell / 2) == kBlue;
}

TEST(RasterDeviceImagesTest, ExplicitMaskShowsTheImageOnlyWhereTheMaskIsClear) {
    // Rows 1001, 0110, 0110, 1001: a set sample masks the image out.
    const std::string rows = "90 60 60 90";
    for (const char* decode : {"", "/Decode [1 0]"}) {
        DevicePage page;
        const RasterBitmap& b =
            page.draw(drawAt(10, 10, 80), kImageResources,
                      {blueImage(10, 4, 4, "/Mask 11 0 R"), stencil(11, 4, 4, decode, rows)});
        const bool inverted = decode[0] != 0;
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                const bool set = (row == 0 || row == 3) == (column == 0 || column == 3);
                EXPECT_EQ(blueAt(b, 10, 10, 80, 4, column, row), set == inverted)
                    << decode << " sample " << column << ", " << row;
            }
        }
    }
}

TEST(RasterDeviceImagesTest, FinerMaskKeepsItsDetailThroughTheSoftMaskPath) {
    // One blue sample under an 8 x 8 ring: the ring's hole and edge lie
    // inside the single sample, so they show only when the mask is drawn at
    // the device's resolution.
    const std::string ring = "00 3C 7E 66 66 7E 3C 00";
    DevicePage page;
    const RasterBitmap& b = page.draw(drawAt(10, 10, 80), kImageResources,
                                      {blueImage(10, 1, 1, "/Mask 11 0 R"), stencil(11, 8, 8, "", ring)});
    for (int row = 0; row < 8; ++row) {
        const int bits = std::strtol(ring.substr(3 * row, 2).c_str(), nullptr, 16);
        for (int column = 0; column < 8; ++column) {
            const bool set = (bits >> (7 - column)) & 1;
            EXPECT_EQ(blueAt(b, 10, 10, 80, 8, column, row), !set) << column << ", " << row;
        }
    }
    // Inverted, and a mask finer in one direction only (8 x 1 over 1 x 1).
    const RasterBitmap& c =
        page.draw(drawAt(10, 10, 80), kImageResources,
                  {blueImage(10, 1, 1, "/Mask 11 0 R"), stencil(11, 8, 1, "/Decode [1 0]", "3C")});
    EXPECT_FALSE(blueAt(c, 10, 10, 80, 8, 0, 0));
    EXPECT_TRUE(blueAt(c, 10, 10, 80, 8, 3, 0));
    EXPECT_TRUE(blueAt(c, 10, 10, 80, 8, 3, 7));
    EXPECT_FALSE(blueAt(c, 10, 10, 80, 8, 7, 4));
}

TEST(RasterDeviceImagesTest, SoftMaskBlendsTheImageByItsGrey) {
    // Four mask columns at 1, 3/4, 3/8 and 0 over a red image.
    const StreamObject red =
        image(10, "/Width 1 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 11 0 R", "FF0000");
    for (const char* decode : {"", "/Decode [1 0]"}) {
        DevicePage page;
        const RasterBitmap& b = page.draw(
            drawAt(10, 10, 80), kImageResources,
            {red,
             image(11,
                   "/Width 4 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 " + std::string(decode),
                   "FF C0 60 00")});
        const bool inverted = decode[0] != 0;
        const int expected[4] = {0, 63, 159, 255};
        for (int column = 0; column < 4; ++column) {
            const int v = inverted ? 255 - expected[column] : expected[column];
            const Rgb c = at(b, 20 + 20 * column, 50);
            EXPECT_EQ(c[0], 255) << column;
            EXPECT_LE(std::abs(c[1] - v), 2) << decode << " column " << column << ": " << c[1];
        }
    }
}

TEST(RasterDeviceImagesTest, ImageSoftMaskLeavesTheStatesMaskInPlace) {
    // The state's mask lets through the left half; an image with a soft mask
    // of its own is drawn, then a fill must still be masked.
    DevicePage page;
    const RasterBitmap& b = page.draw(
        // In one state, in the image's space (40 points a unit from (0, 60)).
        "/M gs 40 0 0 40 0 60 cm /I Do 0 1 0 rg 0 -1.5 2.5 1.25 re f",
        "<< /XObject << /I 10 0 R >> /ExtGState << /M << /SMask << /S /Luminosity /G 12 0 R >> >> >> >>",
        {blueImage(10, 1, 1, "/SMask 11 0 R"),
         image(11, "/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "FF"),
         groupForm(12, "0 0 100 100", "/CS /DeviceGray", "1 g 0 0 50 100 re f")});
    EXPECT_EQ(at(b, 20, 80), kBlue);
    EXPECT_EQ(at(b, 25, 25), Rgb({0, 255, 0}));
    EXPECT_EQ(at(b, 75, 25), kWhite);
}

TEST(RasterDeviceImagesTest, MasksHoldInEveryColourMode) {
    for (int mode : {rasterMono1, rasterMono8, rasterRGB8, rasterBGR8}) {
        DevicePage page;
        // Black image under an explicit mask whose left half is set; then a
        // black image under a soft mask white on the right.
        std::string black = "/Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8";
        const RasterBitmap& b = page.draw(
            drawAt(0, 50, 50) + " q 50 0 0 50 50 0 cm /S Do Q", "<< /XObject << /I 10 0 R /S 12 0 R >> >>",
            {image(10, black + " /Mask 11 0 R", "00"), stencil(11, 2, 1, "", "80"),
             image(12, black + " /SMask 13 0 R", "00"),
             image(13, "/Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "00 FF")},
            mode);
        EXPECT_EQ(at(b, 10, 75)[0], 255) << mode;
        EXPECT_EQ(at(b, 40, 75)[0], 0) << mode;
        EXPECT_EQ(at(b, 60, 25)[0], 255) << mode;
        EXPECT_EQ(at(b, 90, 25)[0], 0) << mode;
    }
}

}  // namespace
}  // namespace rendova::test
