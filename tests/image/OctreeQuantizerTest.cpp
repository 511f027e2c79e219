#include "image/OctreeQuantizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/ImageTransforms.h"
#include "image/RasterImage.h"

namespace rendova {
namespace {

RgbQuad bgr(uint8_t blue, uint8_t green, uint8_t red) {
    return RgbQuad{blue, green, red, 0};
}

// The packed bitmap of an image: its pixel block, with the header written in.
const uint8_t* packed(const RasterImage& image) {
    return image.RowPointer(0) - 40 - image.PaletteBytes();
}

// A 24-bit image with the colours in a row, each repeated `counts[i]` times.
void colourRow(RasterImage& image, const std::vector<RgbQuad>& colours, const std::vector<int>& counts) {
    int total = 0;
    for (int c : counts)
        total += c;
    image.Create(total, 1, 24, kFormatBmp);
    int32_t x = 0;
    for (size_t i = 0; i < colours.size(); ++i)
        for (int n = 0; n < counts[i]; ++n)
            image.WriteColor(x++, 0, colours[i]);
}

TEST(OctreeQuantizer, FewColoursComeBackExactlyInChildOrder) {
    RasterImage image;
    // Child index at the top level is red bit << 2 | green bit << 1 | blue bit:
    // red 4, green 2, blue 1; so the tree order is blue, green, red.
    colourRow(image, {bgr(0, 0, 255), bgr(0, 255, 0), bgr(255, 0, 0)}, {3, 1, 2});
    OctreeQuantizer quantizer(256, 8);
    ASSERT_EQ(quantizer.processImage(packed(image)), 1);
    EXPECT_EQ(quantizer.leafCount(), 3u);
    std::vector<RgbQuad> palette(256, bgr(1, 2, 3));
    quantizer.getPalette(palette.data());
    EXPECT_EQ(palette[0], bgr(255, 0, 0));
    EXPECT_EQ(palette[1], bgr(0, 255, 0));
    EXPECT_EQ(palette[2], bgr(0, 0, 255));
    EXPECT_EQ(palette[3], bgr(1, 2, 3));  // entries beyond the leaves are untouched
}

TEST(OctreeQuantizer, PaletteEntriesAreReadInTheirStoredBlueGreenRedOrder) {
    RasterImage image(4, 2, 8, kFormatBmp);
    image.SetPaletteEntry(7, 200, 20, 10);  // red 200, green 20, blue 10: stored 10, 20, 200
    image.FillBytes(7);
    OctreeQuantizer quantizer(256, 8);
    ASSERT_EQ(quantizer.processImage(packed(image)), 1);
    RgbQuad palette[256] = {};
    quantizer.getPalette(palette);
    EXPECT_EQ(palette[0].red, 200);
    EXPECT_EQ(palette[0].green, 20);
    EXPECT_EQ(palette[0].blue, 10);
}

TEST(OctreeQuantizer, ReadsOneAndFourBitRowsOfOddWidth) {
    for (int32_t bits : {1, 4}) {
        RasterImage image(9, 3, bits, kFormatBmp);
        image.SetPaletteEntry(0, 0, 0, 0);
        image.SetPaletteEntry(1, 255, 255, 255);
        image.WriteIndex(8, 2, 1);  // the last pixel of the top row only
        OctreeQuantizer quantizer(256, 8);
        ASSERT_EQ(quantizer.processImage(packed(image)), 1);
        ASSERT_EQ(quantizer.leafCount(), 2u) << bits;
        RgbQuad palette[2] = {};
        quantizer.getPalette(palette);
        EXPECT_EQ(palette[0], bgr(0, 0, 0));
        EXPECT_EQ(palette[1], bgr(255, 255, 255));
    }
}

TEST(OctreeQuantizer, WantedTwoMergesTheLeafHalvesByWeight) {
    // Sixteen greys, each its own leaf, in tree order by level; grey i appears i + 1 times.
    std::vector<RgbQuad> colours;
    std::vector<int> counts;
    for (int i = 0; i < 16; ++i) {
        colours.push_back(bgr(uint8_t(i * 16), uint8_t(i * 16), uint8_t(i * 16)));
        counts.push_back(i + 1);
    }
    RasterImage image;
    colourRow(image, colours, counts);
    OctreeQuantizer quantizer(2, 8);
    ASSERT_EQ(quantizer.processImage(packed(image)), 1);
    ASSERT_EQ(quantizer.leafCount(), 16u);
    RgbQuad palette[3] = {bgr(9, 9, 9), bgr(9, 9, 9), bgr(9, 9, 9)};
    quantizer.getPalette(palette);
    auto weighted = [](int first, int end) {
        int sum = 0, total = 0;
        for (int i = first; i < end; ++i) {
            sum += i * 16 * (i + 1);
            total += i + 1;
        }
        return uint8_t(sum / total);
    };
    EXPECT_EQ(palette[0].red, weighted(0, 8));
    EXPECT_EQ(palette[1].red, weighted(8, 16));
    EXPECT_EQ(palette[1].blue, weighted(8, 16));
    EXPECT_EQ(palette[2], bgr(9, 9, 9));
}

TEST(OctreeQuantizer, ColourBitsSetTheDepthOfTheTree) {
    RasterImage image;
    colourRow(image, {bgr(100, 100, 100), bgr(101, 101, 101)}, {1, 1});
    OctreeQuantizer nine(256, 9);  // taken as 8
    nine.processImage(packed(image));
    EXPECT_EQ(nine.leafCount(), 2u);
    OctreeQuantizer negative(256, -1);  // as unsigned, far above 8
    negative.processImage(packed(image));
    EXPECT_EQ(negative.leafCount(), 2u);

    // Seven levels merge colours that differ only in the lowest bit.
    OctreeQuantizer seven(256, 7);
    seven.processImage(packed(image));
    EXPECT_EQ(seven.leafCount(), 1u);
    RgbQuad palette[1] = {};
    seven.getPalette(palette);
    EXPECT_EQ(palette[0], bgr(100, 100, 100));  // (100 + 101) / 2
}

TEST(OctreeQuantizer, UnsupportedDepthsAddNothing) {
    RasterImage image(2, 2, 24, kFormatBmp);
    std::vector<uint8_t> dib(packed(image), packed(image) + image.GetSize());
    OctreeQuantizer quantizer(256, 8);
    for (uint16_t bits : {0, 2, 16, 32}) {
        std::memcpy(dib.data() + 14, &bits, 2);
        EXPECT_EQ(quantizer.processImage(dib.data()), 0) << bits;
    }
    EXPECT_EQ(quantizer.leafCount(), 0u);
}

TEST(OctreeQuantizer, ManyColoursStayWithinTheWantedCount) {
    RasterImage image(64, 64, 24, kFormatBmp);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x)
            image.WriteColor(x, y, bgr(uint8_t(x * 4), uint8_t(y * 4), uint8_t(x ^ y)));
    for (uint32_t wanted : {256u, 64u, 16u}) {
        OctreeQuantizer quantizer(wanted, 8);
        ASSERT_EQ(quantizer.processImage(packed(image)), 1);
        EXPECT_LE(quantizer.leafCount(), wanted);
        EXPECT_GT(quantizer.leafCount(), wanted / 2);
    }
}

TEST(OctreeQuantizer, PaletteFeedsReduceBitDepth) {
    RasterImage image;
    colourRow(image, {bgr(10, 200, 30), bgr(250, 5, 5), bgr(0, 0, 0)}, {2, 2, 2});
    OctreeQuantizer quantizer(256, 8);
    ASSERT_EQ(quantizer.processImage(packed(image)), 1);
    RgbQuad palette[256] = {};
    quantizer.getPalette(palette);
    ASSERT_TRUE(ReduceBitDepth(image, 8, true, palette, quantizer.leafCount()));
    EXPECT_EQ(image.ReadColor(0, 0, false), bgr(10, 200, 30));
    EXPECT_EQ(image.ReadColor(3, 0, false), bgr(250, 5, 5));
    EXPECT_EQ(image.ReadColor(5, 0, false), bgr(0, 0, 0));
}

TEST(OctreeQuantizer, SumsOfALargePageDoNotOverflow) {
    // 36 million white pixels: 255 x the count is past 32 bits.
    RasterImage image(6000, 6000, 1, kFormatBmp);
    image.SetPaletteEntry(1, 255, 255, 255);
    image.FillBytes(1);
    OctreeQuantizer quantizer(256, 8);
    ASSERT_EQ(quantizer.processImage(packed(image)), 1);
    RgbQuad palette[1] = {};
    quantizer.getPalette(palette);
    EXPECT_EQ(palette[0], bgr(255, 255, 255));
}

}  // namespace
}  // namespace rendova
