#include "image/PaletteSearch.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "image/RasterImage.h"

namespace rendova {
namespace {

// Every answer of the fast search must be the image's own nearest-colour
// answer, ties (the lower index) included.
void expectSameAnswersAsTheImage(RasterImage& image, const char* what) {
    PaletteSearch search(image);
    uint32_t state = 99;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return uint8_t(state >> 24);
    };
    for (int i = 0; i < 20000; ++i) {
        const RgbQuad colour{next(), next(), next(), 0};
        ASSERT_EQ(search.nearest(colour.blue, colour.green, colour.red), image.NearestPaletteIndex(colour))
            << what << ": colour " << int(colour.red) << "," << int(colour.green) << "," << int(colour.blue);
    }
    // Every grey, the corners of the cells and their neighbours.
    for (int v = 0; v < 256; ++v) {
        const auto g = uint8_t(v);
        ASSERT_EQ(search.nearest(g, g, g), image.NearestPaletteIndex(RgbQuad{g, g, g, 0}))
            << what << " grey " << v;
        const auto edge = uint8_t(v | 15);
        ASSERT_EQ(search.nearest(edge, g, 0), image.NearestPaletteIndex(RgbQuad{edge, g, 0, 0})) << what;
    }
}

TEST(PaletteSearch, AgreesWithTheImagesSearchOnTheStandardPalettes) {
    RasterImage eight(1, 1, 8, kFormatBmp);
    eight.SetFixedPalette();
    expectSameAnswersAsTheImage(eight, "256 colours");
    RasterImage four(1, 1, 4, kFormatBmp);
    four.SetFixedPalette();
    expectSameAnswersAsTheImage(four, "16 colours");
}

TEST(PaletteSearch, AgreesOnTiesDuplicatesAndImportantColours) {
    RasterImage image(1, 1, 8, kFormatBmp);
    // Coarse levels repeated: many equal entries and many equally near ones.
    for (int i = 0; i < 256; ++i)
        image.SetPaletteEntry(uint8_t(i), uint8_t((i % 5) * 60), uint8_t((i / 5 % 4) * 80),
                              uint8_t((i % 3) * 120));
    expectSameAnswersAsTheImage(image, "repeated levels");
    image.SetImportantColours(7);
    expectSameAnswersAsTheImage(image, "seven important colours");
    RasterImage bilevel(1, 1, 1, kFormatBmp);
    bilevel.SetPaletteEntry(1, 255, 255, 255);
    expectSameAnswersAsTheImage(bilevel, "black and white");
}

}  // namespace
}  // namespace rendova
