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

// Data cut short: the samples it lost paint nothing, whatever colour
// their zeros (or ones) would have been. A 4 x 4 image over 80 points; the
// data holds the rows marked in `shown`, the last one perhaps in part.
TEST(RasterDeviceImagesTest, SamplesPastTheEndOfTheDataPaintNothing) {
    const std::string gray8 = "/ColorSpace /DeviceGray /BitsPerComponent 8";
    const struct {
        const char* name;
        std::vector<StreamObject> objects;
        // Per row, how many of its samples (from the left) show.
        int shown[4];
    } cases[] = {
        {"RGB image",
         {image(10, "/Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8",
                std::string(2 * 4 * 6, '0'))},
         {4, 4, 0, 0}},
        // Zeros of CMYK are white and ones black: the lost rows paint neither.
        {"CMYK image",
         {image(10, "/Width 4 /Height 4 /ColorSpace /DeviceCMYK /BitsPerComponent 8",
                std::string(4 * 8, 'F'))},
         {4, 0, 0, 0}},
        // Ones of an inverted stencil paint: the lost rows do not.
        {"stencil mask", {stencil(10, 4, 4, "/Decode [1 0]", "F0 F0")}, {4, 4, 0, 0}},
        // A soft mask whose data ends inside its second row: the rest of the
        // image is transparent, not opaque.
        {"soft mask",
         {blueImage(10, 4, 4, "/SMask 11 0 R"), image(11, "/Width 4 /Height 4 " + gray8, "FFFFFFFF FFFF")},
         {4, 2, 0, 0}},
        // The same with the mask at a finer size than the image.
        {"soft mask finer than the image",
         {blueImage(10, 2, 2, "/SMask 11 0 R"),
          image(11, "/Width 4 /Height 4 " + gray8, "FFFFFFFF FFFFFFFF")},
         {4, 4, 0, 0}},
        // An image under a whole mask stops where its own data does.
        {"masked image",
         {image(10, "/Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask 11 0 R",
                std::string(4 * 6, '0') + "000000 000000"),
          stencil(11, 4, 4, "", "00 00 00 00")},
         {4, 2, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DevicePage page;
        const RasterBitmap& b = page.draw(drawAt(10, 10, 80), kImageResources, c.objects);
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                const Rgb pixel = at(b, 10 + 20 * column + 10, 90 - 20 * row - 10);
                if (column < c.shown[row])
                    EXPECT_NE(pixel, kWhite) << "sample " << column << ", " << row;
                else
                    EXPECT_EQ(pixel, kWhite) << "sample " << column << ", " << row;
            }
        }
    }
}

// A page drawing image object 10, named /Im, of the dictionary and data.
const RasterBitmap& drawIm(DevicePage& page, const std::string& content, const std::string& dict,
                           const std::string& data) {
    return page.draw(content, "<< /XObject << /Im 10 0 R >> >>", {{10, dict, data}});
}

// Placement on whole pixels with the first row at the top, and colour-key
// masks compared in the samples' own units (indices of indexed images,
// 16-bit values of 16-bit images).
TEST(RasterDeviceImagesTest, SamplesOnWholePixelsKeepTheirPixelsWithTheFirstRowOnTop) {
    // 3 x 2 samples of 10 x 10 points from (10, 70) to (40, 90) in page
    // space: device rows 10 to 29, columns 10 to 39.
    const std::string data(
        "\xff\x00\x00\x00\xff\x00\x00\x00\xff"
        "\x10\x10\x10\x80\x80\x80\xf0\xf0\xf0",
        18);
    DevicePage page;
    const RasterBitmap& b =
        drawIm(page, "q 30 0 0 20 10 70 cm /Im Do Q",
               "<< /Type /XObject /Subtype /Image /Width 3 /Height 2 /ColorSpace /DeviceRGB "
               "/BitsPerComponent 8 >>",
               data);
    EXPECT_EQ(pixel(b, 10, 10), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 19, 19), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 20, 10), Rgb({0, 255, 0}));
    EXPECT_EQ(pixel(b, 39, 10), Rgb({0, 0, 255}));
    EXPECT_EQ(pixel(b, 10, 20), Rgb({16, 16, 16}));
    EXPECT_EQ(pixel(b, 39, 29), Rgb({240, 240, 240}));
    // Nothing outside the image's own box.
    EXPECT_EQ(pixel(b, 9, 15), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 40, 15), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 15, 9), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 15, 30), Rgb({255, 255, 255}));
}

TEST(RasterDeviceImagesTest, SixteenBitColourKeyIsComparedInSixteenBitUnits) {
    // 0x8000 lies in 30000..40000 and is keyed out; 0x0000, 0x4000 and
    // 0xffff are not (their high bytes would not reach the range).
    const std::string data("\x00\x00\x40\x00\x80\x00\xff\xff", 8);
    DevicePage page;
    const RasterBitmap& b =
        drawIm(page, "1 0 0 rg 0 0 100 100 re f q 40 0 0 10 0 0 cm /Im Do Q",
               "<< /Type /XObject /Subtype /Image /Width 4 /Height 1 /ColorSpace /DeviceGray "
               "/BitsPerComponent 16 /Mask [30000 40000] >>",
               data);
    EXPECT_EQ(pixel(b, 5, 95), Rgb({0, 0, 0}));
    EXPECT_EQ(pixel(b, 15, 95), Rgb({64, 64, 64}));
    EXPECT_EQ(pixel(b, 25, 95), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 35, 95), Rgb({255, 255, 255}));
}

TEST(RasterDeviceImagesTest, IndexedColourKeyNamesIndicesAtAnyDepth) {
    // 2-bit indices 0 1 2 3; index 1 is keyed out.
    DevicePage page;
    const RasterBitmap& b =
        drawIm(page, "1 0 0 rg 0 0 100 100 re f q 40 0 0 10 0 0 cm /Im Do Q",
               "<< /Type /XObject /Subtype /Image /Width 4 /Height 1 /ColorSpace [/Indexed "
               "/DeviceRGB 3 <000000 00ff00 0000ff ffffff>] /BitsPerComponent 2 /Mask [1 1] >>",
               std::string("\x1b", 1));
    EXPECT_EQ(pixel(b, 5, 95), Rgb({0, 0, 0}));
    EXPECT_EQ(pixel(b, 15, 95), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 25, 95), Rgb({0, 0, 255}));
    EXPECT_EQ(pixel(b, 35, 95), Rgb({255, 255, 255}));
}

TEST(RasterDeviceImagesTest, RepeatedRowsTakeTheColoursOfTheirOwnSamples) {
    // CMYK rows A, A, B, A, B beside one-row images of A and of B: a row
    // equal to the one before reuses its colours, a different row does not
    // (B differs from A only after its first pixel), with or without a
    // colour key.
    const std::string a(
        "\x00\x40\x80\xff"
        "\x10\x20\x30\x40"
        "\xff\x00\x00\x00",
        12);
    const std::string b(
        "\x00\x40\x80\xff"
        "\x90\x20\x30\x40"
        "\x00\x00\xff\x00",
        12);
    for (const char* key : {"", "/Mask [0 0 0 255 0 255 0 255]"}) {
        const std::string head =
            "<< /Type /XObject /Subtype /Image /Width 3 /ColorSpace /DeviceCMYK "
            "/BitsPerComponent 8 " +
            std::string(key) + " /Height ";
        DevicePage page;
        const RasterBitmap& bitmap = page.draw(
            "q 30 0 0 50 10 40 cm /I Do Q q 30 0 0 10 50 80 cm /A Do Q q 30 0 0 10 50 60 cm /B Do Q",
            "<< /XObject << /I 10 0 R /A 11 0 R /B 12 0 R >> >>",
            {{10, head + "5 >>", a + a + b + a + b}, {11, head + "1 >>", a}, {12, head + "1 >>", b}});
        const bool rowIsA[5] = {true, true, false, true, false};
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                const Rgb got = pixel(bitmap, 15 + 10 * column, 15 + 10 * row);
                const Rgb expected = pixel(bitmap, 55 + 10 * column, rowIsA[row] ? 15 : 35);
                EXPECT_EQ(got, expected) << key << " row " << row << " column " << column;
            }
        }
        // The keyed sample shows the page.
        if (key[0]) {
            EXPECT_EQ(pixel(bitmap, 15, 15), kWhite);
        }
    }
}

}  // namespace
}  // namespace rendova::test
