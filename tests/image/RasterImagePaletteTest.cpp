#include <gtest/gtest.h>

#include "image/RasterImage.h"

namespace rendova {
namespace {

TEST(RasterImagePalette, GreyPaletteSteps) {
    RasterImage sixteen(2, 2, 4, kFormatUnknown);
    sixteen.MakeGreyPalette();
    for (uint8_t i = 0; i < 16; ++i)
        EXPECT_EQ(sixteen.PaletteEntry(i), (RgbQuad{uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i), 0}));
    RasterImage two(2, 2, 1, kFormatUnknown);
    two.MakeGreyPalette();
    EXPECT_EQ(two.PaletteEntry(0).red, 0);
    EXPECT_EQ(two.PaletteEntry(1).red, 255);
    EXPECT_FALSE(two.HasGreyPalette());  // only the identity ramp counts as grey
    RasterImage full(2, 2, 8, kFormatUnknown);
    full.MakeGreyPalette();
    EXPECT_TRUE(full.HasGreyPalette());
    full.SetPaletteEntry(200, 200, 200, 201);
    EXPECT_FALSE(full.HasGreyPalette());
}

TEST(RasterImagePalette, EntriesBeyondTheColourCountAreIgnored) {
    RasterImage mono(2, 2, 1, kFormatUnknown);
    mono.SetPaletteEntry(1, 9, 9, 9);
    mono.SetPaletteEntry(2, 50, 60, 70);
    EXPECT_EQ(mono.PaletteEntry(2), RgbQuad{});
    EXPECT_EQ(mono.PaletteEntry(1).red, 9);
    uint8_t r = 1, g = 1, b = 1;
    EXPECT_FALSE(mono.PaletteEntry(2, r, g, b));
    EXPECT_TRUE(mono.PaletteEntry(1, r, g, b));
    EXPECT_EQ(r, 9);
    // Within the block the third entry's place is the pixel rows: untouched.
    EXPECT_EQ(mono.RowPointer(0)[0], 0);

    RasterImage colour(2, 2, 24, kFormatUnknown);
    EXPECT_EQ(colour.GetPalette(), nullptr);
    colour.SetPaletteEntry(0, 1, 2, 3);
    EXPECT_FALSE(colour.PaletteEntry(0, r, g, b));
}

TEST(RasterImagePalette, SetPaletteFromArraysAndTriples) {
    RasterImage image(2, 2, 1, kFormatUnknown);
    const uint8_t red[3] = {10, 20, 30};
    image.SetPalette(red, nullptr, nullptr, 3);  // copies at most the 2 colours
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{20, 20, 20, 0}));
    const uint8_t green[2] = {1, 2};
    image.SetPalette(red, green, nullptr, 2);  // blue follows green
    EXPECT_EQ(image.PaletteEntry(0), (RgbQuad{1, 1, 10, 0}));
    const uint8_t triples[6] = {1, 2, 3, 4, 5, 6};
    image.SetPalette(triples, 2);
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{6, 5, 4, 0}));
    const RgbQuad quads[2] = {{7, 8, 9, 10}, {11, 12, 13, 14}};
    image.SetPalette(quads, 2);
    EXPECT_EQ(image.PaletteEntry(1), (RgbQuad{11, 12, 13, 14}));
    EXPECT_TRUE(image.PaletteHasAlpha());
}

TEST(RasterImagePalette, NearestIndexKeepsTheFirstOfATie) {
    RasterImage image(1, 1, 4, kFormatUnknown);
    image.SetPaletteEntry(3, 100, 0, 0);
    image.SetPaletteEntry(5, 120, 0, 0);
    image.SetPaletteEntry(0, 255, 255, 255);
    for (uint8_t i = 1; i < 16; ++i)
        if (i != 3 && i != 5)
            image.SetPaletteEntry(i, 255, 255, 255);
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{0, 0, 110, 0}), 3);
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{0, 0, 119, 0}), 5);
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{255, 255, 255, 0}), 0);
}

TEST(RasterImagePalette, NearestIndexCacheIsClearedByPaletteChanges) {
    RasterImage image(1, 1, 1, kFormatUnknown);
    image.SetPaletteEntry(0, 0, 0, 0);
    image.SetPaletteEntry(1, 255, 255, 255);
    const RgbQuad grey{100, 100, 100, 0};
    EXPECT_EQ(image.NearestPaletteIndex(grey), 0);
    EXPECT_TRUE(image.info().nearestCacheValid);
    EXPECT_EQ(image.info().nearestCacheIndex, 0);
    image.SetPaletteEntry(1, 100, 100, 100);
    EXPECT_FALSE(image.info().nearestCacheValid);
    EXPECT_EQ(image.NearestPaletteIndex(grey), 1);
    // A stale answer planted in the cache is returned while the cache is valid:
    // that is what the cache is for, and why every change must clear it.
    image.info().nearestCacheIndex = 0;
    EXPECT_EQ(image.NearestPaletteIndex(grey), 0);
    image.MakeGreyPalette();
    EXPECT_EQ(image.NearestPaletteIndex(grey), 0);
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{200, 200, 200, 0}), 1);
}

TEST(RasterImagePalette, ImportantColoursLimitTheSearch) {
    RasterImage image(1, 1, 8, kFormatUnknown);
    image.SetFixedPalette();
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{255, 255, 255, 0}), 255);
    image.SetImportantColours(8);
    EXPECT_EQ(image.header().clrImportant, 8u);
    EXPECT_EQ(image.NearestPaletteIndex(RgbQuad{255, 255, 255, 0}), 7);  // C0C0C0, the lightest of 0..7

    image.SetImportantColours(300);
    EXPECT_EQ(image.header().clrImportant, 0u);
    RasterImage mono(1, 1, 1, kFormatUnknown);
    mono.SetImportantColours(5);
    EXPECT_EQ(mono.header().clrImportant, 2u);
    RasterImage nibble(1, 1, 4, kFormatUnknown);
    nibble.SetImportantColours(20);
    EXPECT_EQ(nibble.header().clrImportant, 16u);
    RasterImage colour(1, 1, 24, kFormatUnknown);
    colour.SetImportantColours(20);
    EXPECT_EQ(colour.header().clrImportant, 0u);
}

TEST(RasterImagePalette, FixedPalettes) {
    RasterImage image(1, 1, 8, kFormatUnknown);
    image.SetFixedPalette();
    EXPECT_EQ(image.PaletteEntry(9), (RgbQuad{0xF0, 0xCA, 0xA6, 0}));
    EXPECT_EQ(image.PaletteEntry(226), (RgbQuad{0xF2, 0xF2, 0xF2, 0}));
    EXPECT_EQ(image.PaletteEntry(245), (RgbQuad{0x0E, 0x0E, 0x0E, 0}));
    EXPECT_EQ(image.PaletteEntry(246), (RgbQuad{0xF0, 0xFB, 0xFF, 0}));
    image.WriteColor(0, 0, RgbQuad{0, 0, 0xFF, 0});
    EXPECT_EQ(image.ReadIndex(0, 0), 249);  // FF0000 exactly, not the nearly equal FE0000 at 40
    image.WriteColor(0, 0, 0x0000FEu);      // red in the low byte
    EXPECT_EQ(image.ReadIndex(0, 0), 40);

    RasterImage nibble(1, 1, 4, kFormatUnknown);
    nibble.SetFixedPalette();
    EXPECT_EQ(nibble.PaletteEntry(12), (RgbQuad{0xFF, 0, 0, 0}));
    EXPECT_EQ(nibble.PaletteEntry(7), (RgbQuad{0xC0, 0xC0, 0xC0, 0}));
    RasterImage mono(1, 1, 1, kFormatUnknown);
    mono.SetFixedPalette();
    EXPECT_EQ(mono.PaletteEntry(1), RgbQuad{});
}

TEST(RasterImagePalette, ExchangeIndicesSwapsEntriesAndPixels) {
    RasterImage image(5, 2, 4, kFormatUnknown);
    image.SetPaletteEntry(2, 2, 2, 2);
    image.SetPaletteEntry(9, 9, 9, 9);
    image.WriteIndex(0, 0, 2);
    image.WriteIndex(3, 0, 9);
    image.WriteIndex(4, 1, 7);
    image.ExchangeIndices(2, 9);
    EXPECT_EQ(image.ReadIndex(0, 0), 9);
    EXPECT_EQ(image.ReadIndex(3, 0), 2);
    EXPECT_EQ(image.ReadIndex(4, 1), 7);
    EXPECT_EQ(image.ReadIndex(1, 0), 0);
    EXPECT_EQ(image.PaletteEntry(9).red, 2);
    EXPECT_EQ(image.ReadColor(0, 0).red, 2);  // the picture is unchanged
    image.ExchangeIndices(2, 16);             // beyond the table: nothing
    EXPECT_EQ(image.ReadIndex(3, 0), 2);
}

}  // namespace
}  // namespace rendova
