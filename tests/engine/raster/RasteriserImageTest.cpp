#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/core/Memory.h"
#include "engine/raster/Rasteriser.h"
#include "tests/engine/raster/RasteriserTestSupport.h"

namespace rendova {
namespace {

using test::grey;

// Rows from a prepared buffer; counts the calls.
struct Rows {
    std::vector<uint8_t> colour;
    std::vector<uint8_t> alpha;
    int rowBytes = 0;
    int width = 0;
    int height = 0;
    int delivered = 0;
    int calls = 0;

    static int source(void* data, uint8_t* line, uint8_t* alphaLine) {
        Rows& r = *static_cast<Rows*>(data);
        ++r.calls;
        if (r.delivered >= r.height)
            return 0;
        std::memcpy(line, r.colour.data() + static_cast<size_t>(r.delivered) * r.rowBytes,
                    static_cast<size_t>(r.rowBytes));
        if (alphaLine)
            std::memcpy(alphaLine, r.alpha.data() + static_cast<size_t>(r.delivered) * r.width,
                        static_cast<size_t>(r.width));
        ++r.delivered;
        return 1;
    }
};

Rows greyRows(int width, int height, std::vector<uint8_t> values) {
    Rows r;
    r.colour = std::move(values);
    r.rowBytes = width;
    r.width = width;
    r.height = height;
    return r;
}

TEST(RasteriserImageTest, SingularOrNonFiniteMatrixReturnsSingularMatrix) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    Rows rows = greyRows(1, 1, {0});
    const double singular[6] = {2, 4, 1, 2, 0, 0};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 1, 1, singular), resultSingularMatrix);
    EXPECT_EQ(r.fillImageMask(Rows::source, &rows, 1, 1, singular, 0), resultSingularMatrix);
    const double infinite[6] = {1e308 * 10, 0, 0, 1, 0, 0};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 1, 1, infinite), resultSingularMatrix);
    EXPECT_EQ(rows.calls, 0);
}

TEST(RasteriserImageTest, SourceOfAnotherLayoutReturnsModeMismatch) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    const auto before = test::snapshot(bitmap);
    Rows rows;
    const double m[6] = {4, 0, 0, 4, 0, 0};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterBGR8, 0, 1, 1, m), resultModeMismatch);
    EXPECT_EQ(test::snapshot(bitmap), before);
    RasterBitmap colour(8, 8, 1, rasterBGR8, false, true);
    Rasteriser rc(&colour, false, nullptr);
    EXPECT_EQ(rc.drawImage(Rows::source, &rows, rasterRGB8, 0, 1, 1, m), resultModeMismatch);
}

TEST(RasteriserImageTest, ImageOnPixelEdgesPaintsOnlyItsOwnPixels) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(2, 2, {10, 20, 30, 40});
    // The image spans x and y 1..5 exactly: pixels 1..4, each sample on two
    // of them, and nothing beyond the edges.
    const double m[6] = {4, 0, 0, 4, 1, 1};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
    EXPECT_EQ(rows.calls, 2);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 4;
            const int expected = inside ? 10 + 20 * (y >= 3) + 10 * (x >= 3) : 255;
            EXPECT_EQ(grey(bitmap, x, y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(r.modXMin(), 1);
    EXPECT_EQ(r.modXMax(), 4);
    EXPECT_EQ(r.modYMax(), 4);
}

TEST(RasteriserImageTest, OneSamplePerPixelIsCopiedUnchanged) {
    // Samples on whole pixels, mirrored by a negative scale as a page's
    // matrix does: every sample lands on one pixel, none twice.
    RasterBitmap bitmap(6, 2, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(6, 1, {0, 10, 20, 30, 40, 50});
    const double m[6] = {-6, 0, 0, 1, 6, 0};
    r.drawImage(Rows::source, &rows, rasterMono8, 0, 6, 1, m);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(grey(bitmap, x, 0), 50 - 10 * x) << x;
    EXPECT_EQ(grey(bitmap, 0, 1), 255);
}

TEST(RasteriserImageTest, EnlargedImageRepeatsTheSampleUnderEachPixelCentre) {
    // Three samples over five pixels on each axis: pixel centres 0.5 .. 4.5
    // fall on samples 0, 0, 1, 2, 2 (a sample taken at each pixel's left
    // edge would give 0, 0, 1, 1, 2 and put the last one a pixel late).
    RasterBitmap bitmap(6, 6, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(3, 3, {0, 10, 20, 30, 40, 50, 60, 70, 80});
    const double m[6] = {5, 0, 0, 5, 0, 0};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 3, 3, m), resultOk);
    const int sample[5] = {0, 0, 1, 2, 2};
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(grey(bitmap, x, y), 30 * sample[y] + 10 * sample[x]) << x << "," << y;
    EXPECT_EQ(rows.calls, 3);
}

TEST(RasteriserImageTest, FractionalEdgesTouchWholePixelsAndSliversAreKept) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(1, 1, {0});
    // 1.3 .. 4.7: pixels 1 to 4.
    const double m[6] = {3.4, 0, 0, 3.4, 1.3, 1.3};
    r.drawImage(Rows::source, &rows, rasterMono8, 0, 1, 1, m);
    EXPECT_EQ(r.modXMin(), 1);
    EXPECT_EQ(r.modXMax(), 4);
    EXPECT_EQ(r.modYMin(), 1);
    EXPECT_EQ(r.modYMax(), 4);
    // An image narrower than the edges' nudge still takes the pixel of
    // its first edge.
    Rasteriser thin(&bitmap, false, nullptr);
    test::clearTo(thin, 255);
    Rows one = greyRows(1, 1, {0});
    const double sliver[6] = {0.004, 0, 0, 1, 6, 6};
    thin.drawImage(Rows::source, &one, rasterMono8, 0, 1, 1, sliver);
    EXPECT_EQ(thin.modXMin(), 6);
    EXPECT_EQ(thin.modXMax(), 6);
    EXPECT_EQ(grey(bitmap, 6, 6), 0);
}

TEST(RasteriserImageTest, ReducedImageAveragesItsBoxes) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(4, 4, {0, 4, 100, 100, 8, 12, 100, 100, 1, 2, 255, 255, 3, 4, 255, 255});
    const double m[6] = {1.9, 0, 0, 1.9, 0.05, 0.05};  // 2 x 2 pixels
    r.drawImage(Rows::source, &rows, rasterMono8, 0, 4, 4, m);
    EXPECT_EQ(grey(bitmap, 0, 0), 6);  // 24 x 1/4
    EXPECT_EQ(grey(bitmap, 1, 0), 100);
    EXPECT_EQ(grey(bitmap, 0, 1), 2);  // 10 x 1/4, truncated
    EXPECT_EQ(grey(bitmap, 1, 1), 255);
    EXPECT_EQ(grey(bitmap, 2, 2), 255);
    EXPECT_EQ(rows.calls, 4);
}

TEST(RasteriserImageTest, RowsTheSourceDoesNotHavePaintNothing) {
    // A 1-column image of 4 rows of 100 whose source has only the first
    // `present`; each case gives the grey of the first device rows (the
    // rest of the 8 x 8 bitmap stays white). A box reduced over present and
    // missing rows averages the present ones alone.
    const struct {
        const char* name;
        int present;
        double scale;
        std::vector<int> rows;
    } cases[] = {
        {"one row a sample", 2, 4, {100, 100, 255, 255}},
        {"enlarged", 2, 8, {100, 100, 100, 100, 255, 255, 255, 255}},
        {"reduced", 3, 2, {100, 100, 255}},
        {"reduced, none present", 0, 2, {255, 255}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, false, nullptr);
        test::clearTo(r, 255);
        Rows rows = greyRows(1, c.present, std::vector<uint8_t>(4, 100));
        const double m[6] = {1, 0, 0, c.scale, 0, 0};
        EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 1, 4, m), resultOk);
        for (size_t y = 0; y < c.rows.size(); ++y)
            EXPECT_EQ(grey(bitmap, 0, int(y)), c.rows[y]) << y;
    }

    // The visible part of an image far larger than the page: its lower
    // half is missing.
    RasterBitmap bitmap(100, 100, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(2, 1, {10, 20});
    const double m[6] = {20000, 0, 0, 20000, 50 - 10000, 50 - 10000};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
    EXPECT_EQ(grey(bitmap, 25, 25), 10);
    EXPECT_EQ(grey(bitmap, 75, 25), 20);
    EXPECT_EQ(grey(bitmap, 25, 75), 255);
    EXPECT_EQ(grey(bitmap, 75, 75), 255);
}

TEST(RasteriserImageTest, ImageAlphaGivesTheShapeAndSkipsTransparentPixels) {
    RasterBitmap bitmap(2, 1, 1, rasterRGB8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows;
    rows.colour = {0, 0, 0, 0, 0, 0};
    rows.alpha = {0, 128};
    rows.rowBytes = 6;
    rows.width = 2;
    rows.height = 1;
    const double m[6] = {1.9, 0, 0, 0.9, 0.05, 0.05};
    r.drawImage(Rows::source, &rows, rasterRGB8, 1, 2, 1, m);
    EXPECT_EQ(test::pixel(bitmap, 0, 0), (std::vector<int>{255, 255, 255}));
    const int v = (255 - 128) * 255 / 255;
    EXPECT_EQ(test::pixel(bitmap, 1, 0), (std::vector<int>{v, v, v}));
}

TEST(RasteriserImageTest, MaskPaintsSetSamplesInTheFillColour) {
    RasterBitmap bitmap(3, 3, 1, rasterBGR8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    r.setFillPattern(test::solid(255, 0, 0).release());
    Rows rows = greyRows(2, 2, {1, 0, 0, 1});
    const double m[6] = {1.9, 0, 0, 1.9, 0.05, 0.05};
    EXPECT_EQ(r.fillImageMask(Rows::source, &rows, 2, 2, m, 0), resultOk);
    EXPECT_EQ(test::pixel(bitmap, 0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(test::pixel(bitmap, 1, 0), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(test::pixel(bitmap, 1, 1), (std::vector<int>{255, 0, 0}));
}

TEST(RasteriserImageTest, MaskByteAboveOneCountsAsSet) {
    // A row source should deliver 0 or 1; a larger byte must not raise the
    // coverage above the box (the alpha products would leave the byte range).
    RasterBitmap bitmap(2, 1, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    auto* mask = new RasterBitmap(2, 1, 1, rasterMono8, false, true);
    mask->data()[0] = mask->data()[1] = 255;
    r.setSoftMask(mask);
    r.setBlendFunction(blendModeTable[1]);
    Rows rows = greyRows(2, 1, {200, 0});
    const double m[6] = {1.9, 0, 0, 0.9, 0.05, 0.05};
    r.fillImageMask(Rows::source, &rows, 2, 1, m, 0);
    EXPECT_EQ(grey(bitmap, 0, 0), 0);
    EXPECT_EQ(grey(bitmap, 1, 0), 255);
}

TEST(RasteriserImageTest, GlyphModeRoundsEdgesToPixelCentres) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(1, 1, {1});
    const double m[6] = {4, 0, 0, 4, 1, 1};
    r.fillImageMask(Rows::source, &rows, 1, 1, m, 1);
    EXPECT_EQ(r.modXMin(), 1);
    EXPECT_EQ(r.modXMax(), 4);
    EXPECT_EQ(grey(bitmap, 0, 0), 255);
    EXPECT_EQ(grey(bitmap, 4, 4), 0);
}

TEST(RasteriserImageTest, QuarterTurnPutsRowsAlongX) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(2, 2, {10, 20, 30, 40});
    const double m[6] = {0, 3.9, 3.9, 0, 2.05, 2.05};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
    // Image row i runs along device x, column j along device y.
    EXPECT_EQ(grey(bitmap, 2, 2), 10);
    EXPECT_EQ(grey(bitmap, 5, 2), 30);
    EXPECT_EQ(grey(bitmap, 2, 5), 20);
    EXPECT_EQ(grey(bitmap, 5, 5), 40);
}

TEST(RasteriserImageTest, QuarterTurnTakesEachAxisFromItsOwnExtent) {
    // Turned: the image's rows run along x over m2 (6 pixels from x = 1),
    // its columns along y over m1 (3 pixels from y = 1). Sizes and first
    // pixels come from those extents, not from the other axis's.
    RasterBitmap bitmap(10, 10, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(2, 2, {0, 0, 0, 0});
    const double m[6] = {0, 3, 6, 0, 1, 1};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const bool inside = x >= 1 && x <= 6 && y >= 1 && y <= 3;
            EXPECT_EQ(grey(bitmap, x, y), inside ? 0 : 255) << x << "," << y;
        }
    }
}

TEST(RasteriserImageTest, ImageFarLargerThanThePageDrawsItsVisiblePartAtItsScale) {
    // 2 x 2 samples over 20000 pixels each way, the middle of the image on
    // the bitmap's centre: the four quadrants meet there, as drawn whole.
    for (const double sign : {1.0, -1.0}) {
        RasterBitmap bitmap(100, 100, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, false, nullptr);
        test::clearTo(r, 255);
        Rows rows = greyRows(2, 2, {10, 20, 30, 40});
        const double m[6] = {20000 * sign, 0, 0, 20000 * sign, 50 - 10000 * sign, 50 - 10000 * sign};
        EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
        const auto at = [&](int x, int y) { return int(bitmap.data()[y * bitmap.rowSize() + x]); };
        // Flipped, the quadrants trade places.
        const auto pick = [&](int upright, int flipped) { return sign > 0 ? upright : flipped; };
        EXPECT_EQ(at(25, 25), pick(10, 40)) << sign;
        EXPECT_EQ(at(75, 25), pick(20, 30)) << sign;
        EXPECT_EQ(at(25, 75), pick(30, 20)) << sign;
        EXPECT_EQ(at(49, 49), pick(10, 40)) << sign;
        EXPECT_EQ(at(50, 50), pick(40, 10)) << sign;
    }
}

TEST(RasteriserImageTest, HugeMatrixIsDrawnAtALimitedSize) {
    RasterBitmap bitmap(20, 20, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    Rows rows = greyRows(2, 2, {10, 10, 10, 10});
    const double m[6] = {1e12, 0, 0, 1e12, -5e11, -5e11};
    EXPECT_EQ(r.drawImage(Rows::source, &rows, rasterMono8, 0, 2, 2, m), resultOk);
    EXPECT_LE(rows.calls, 3);
    // Far away: nothing is drawn and no row is read.
    Rows far = greyRows(2, 2, {0, 0, 0, 0});
    const double away[6] = {1e6, 0, 0, 1e6, 1e15, 1e15};
    EXPECT_EQ(r.drawImage(Rows::source, &far, rasterMono8, 0, 2, 2, away), resultOk);
    EXPECT_EQ(r.opClipResult(), 1);
    EXPECT_EQ(far.calls, 0);
}

TEST(RasteriserImageTest, TallImageIntoOneRowReadsEveryRow) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    std::vector<uint8_t> values(1000, 50);
    Rows rows = greyRows(1, 1000, values);
    const double m[6] = {0.9, 0, 0, 0.9, 0.05, 0.05};
    r.drawImage(Rows::source, &rows, rasterMono8, 0, 1, 1000, m);
    EXPECT_EQ(rows.delivered, 1000);
    EXPECT_EQ(grey(bitmap, 0, 0), 50);
}

TEST(RasteriserImageTest, AntialiasedClipShadesTheImageEdge) {
    RasterBitmap bitmap(16, 16, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    RasterPath clip;
    clip.moveTo(0, 0);
    clip.lineTo(16, 0);
    clip.lineTo(0, 16);
    clip.close();
    r.clipToPath(clip, false);
    std::vector<uint8_t> black(16 * 16, 0);
    Rows rows = greyRows(16, 16, black);
    const double m[6] = {15.9, 0, 0, 15.9, 0.05, 0.05};
    r.drawImage(Rows::source, &rows, rasterMono8, 0, 16, 16, m);
    EXPECT_EQ(grey(bitmap, 2, 2), 0);
    EXPECT_EQ(grey(bitmap, 14, 14), 255);
    // On the diagonal: partly covered, so neither black nor white.
    const int edge = grey(bitmap, 7, 8);
    EXPECT_GT(edge, 0);
    EXPECT_LT(edge, 255);
}

// --- Glyphs. ---

TEST(RasteriserGlyphTest, AntialiasedGlyphUsesCoverageAsShape) {
    RasterBitmap bitmap(8, 8, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    uint8_t cover[4] = {255, 128, 0, 64};
    RasterGlyph glyph;
    glyph.width = 2;
    glyph.height = 2;
    glyph.antialiased = 1;
    glyph.pixels = cover;
    glyph.xOffset = 1;
    glyph.yOffset = 1;
    EXPECT_EQ(r.fillGlyph(4.7, 4.2, glyph), resultOk);  // origin (4, 4), box from (3, 3)
    EXPECT_EQ(grey(bitmap, 3, 3), 0);
    EXPECT_EQ(grey(bitmap, 4, 3), 127);
    EXPECT_EQ(grey(bitmap, 3, 4), 255);
    EXPECT_EQ(grey(bitmap, 4, 4), 191);
    EXPECT_EQ(r.modXMin(), 3);
    EXPECT_EQ(r.modYMax(), 4);
}

TEST(RasteriserGlyphTest, OneBitGlyphClippedAtTheBitmapEdge) {
    for (int reference = 0; reference <= 1; ++reference) {
        RasterBitmap bitmap(5, 5, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, false, nullptr);
        r.setReferencePipe(reference);
        test::clearTo(r, 255);
        uint8_t bits[2 * 3] = {0xff, 0xc0, 0xff, 0xc0, 0xff, 0xc0};
        RasterGlyph glyph;
        glyph.width = 10;
        glyph.height = 3;
        glyph.pixels = bits;
        r.fillGlyph(2, 3, glyph);
        EXPECT_EQ(r.opClipResult(), 2);
        EXPECT_EQ(grey(bitmap, 1, 3), 255);
        EXPECT_EQ(grey(bitmap, 2, 3), 0);
        EXPECT_EQ(grey(bitmap, 4, 4), 0);
        EXPECT_EQ(r.modXMax(), 4);
        EXPECT_EQ(r.modYMax(), 4);
    }
}

struct FakeFont {
    bool has = false;
    bool owned = false;
    int steps = 4;
    int lastX = -1, lastY = -1;
    int subpixelSteps() const { return steps; }
    int getGlyph(int code, int xFraction, int yFraction, RasterGlyph* glyph) {
        lastX = xFraction;
        lastY = yFraction;
        if (!has || code != 65)
            return 0;
        glyph->width = 1;
        glyph->height = 1;
        glyph->antialiased = 1;
        if (owned) {
            glyph->pixels = static_cast<uint8_t*>(memAlloc(1));
            glyph->ownsPixels = 1;
        } else {
            static uint8_t pixel;
            glyph->pixels = &pixel;
        }
        glyph->pixels[0] = 255;
        return 1;
    }
};

TEST(RasteriserGlyphTest, FillCharWithoutAGlyphReturnsNoGlyph) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    FakeFont font;
    EXPECT_EQ(r.fillChar(1, 1, 65, font), resultNoGlyph);
    EXPECT_EQ(r.modXMax(), -1);
}

// The glyph goes to the nearest of the font's steps across (quarters,
// halves or whole pixels, the fraction given in quarters) and to the
// nearest whole row down, where the peers set text.
TEST(RasteriserGlyphTest, FillCharTakesTheNearestStepAndRowAndFreesOwnedPixels) {
    struct Case {
        int steps;
        double x, y;
        int fraction, pixelX, pixelY;
    };
    for (const Case& c :
         {Case{4, 1.6, 2.3, 2, 1, 2}, Case{4, 1.9, 2.6, 0, 2, 3}, Case{4, 0.12, 0.49, 0, 0, 0},
          Case{4, 0.13, 0.5, 1, 0, 1}, Case{2, 1.2, 0, 0, 1, 0}, Case{2, 1.3, 0, 2, 1, 0},
          Case{2, 1.8, 0, 0, 2, 0}, Case{1, 1.49, 0, 0, 1, 0}, Case{1, 1.5, 0, 0, 2, 0}}) {
        SCOPED_TRACE(testing::Message() << c.steps << " steps: " << c.x << ", " << c.y);
        RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
        Rasteriser r(&bitmap, true, nullptr);
        test::clearTo(r, 255);
        FakeFont font;
        font.has = true;
        font.owned = true;  // the leak checker sees a missing free
        font.steps = c.steps;
        EXPECT_EQ(r.fillChar(c.x, c.y, 65, font), resultOk);
        EXPECT_EQ(font.lastX, c.fraction);
        EXPECT_EQ(font.lastY, 0);
        EXPECT_EQ(grey(bitmap, c.pixelX, c.pixelY), 0);
    }
}

// --- Compositing and copying. ---

TEST(RasteriserCompositeTest, DifferentModesReturnModeMismatch) {
    RasterBitmap target(4, 4, 1, rasterBGR8, false, true);
    RasterBitmap grey8(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 9);
    const auto before = test::snapshot(target);
    EXPECT_EQ(r.composite(grey8, 0, 0, 0, 0, 4, 4, true, false), resultModeMismatch);
    EXPECT_EQ(r.blitBitmap(grey8, 0, 0, 0, 0, 4, 4), resultModeMismatch);
    EXPECT_EQ(test::snapshot(target), before);
}

TEST(RasteriserCompositeTest, RectanglesAreCutToBothBitmaps) {
    RasterBitmap target(6, 6, 1, rasterMono8, true, true);
    RasterBitmap source(4, 4, 1, rasterMono8, false, true);
    std::memset(source.data(), 7, 16);
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 255, 255);
    // Asks for 10 x 10 from (-2, -2) to (3, 3): only the source's 4 x 4 from
    // (0, 0), landing at (5, 5), of which one pixel fits the target.
    EXPECT_EQ(r.composite(source, -2, -2, 3, 3, 10, 10, true, false), resultOk);
    EXPECT_EQ(grey(target, 5, 5), 7);
    EXPECT_EQ(grey(target, 4, 4), 255);
    EXPECT_EQ(r.modXMin(), 5);
    EXPECT_EQ(r.blitBitmap(source, 2, 2, -1, 4, 100, 100), resultOk);
    // Source column 3 only (the target starts one column in), rows 2..3.
    EXPECT_EQ(grey(target, 0, 4), 7);
    EXPECT_EQ(grey(target, 0, 5), 7);
    EXPECT_EQ(grey(target, 1, 4), 255);
    EXPECT_EQ(r.composite(source, 4, 0, 0, 0, 3, 3, true, false), resultOk);  // nothing left
    EXPECT_EQ(r.blitBitmap(source, 0, 0, 0, INT32_MAX, INT32_MAX, INT32_MAX), resultOk);
}

TEST(RasteriserCompositeTest, CompositeHonoursTheClipUnlessTold) {
    RasterBitmap target(6, 6, 1, rasterMono8, false, true);
    RasterBitmap source(6, 6, 1, rasterMono8, false, true);
    std::memset(source.data(), 3, 36);
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 255);
    r.getState()->clip().clipToRect(1, 1, 3.5, 3.5);
    r.composite(source, 0, 0, 0, 0, 6, 6, false, false);
    EXPECT_EQ(grey(target, 0, 0), 255);
    EXPECT_EQ(grey(target, 1, 1), 3);
    EXPECT_EQ(grey(target, 3, 3), 3);
    EXPECT_EQ(grey(target, 4, 4), 255);
    EXPECT_EQ(r.modXMin(), 1);
    EXPECT_EQ(r.modXMax(), 3);
    r.composite(source, 0, 0, 0, 0, 6, 6, true, false);
    EXPECT_EQ(grey(target, 5, 5), 3);
}

TEST(RasteriserCompositeTest, BlitCopiesPixelsAndClearsTheirAlpha) {
    RasterBitmap target(8, 2, 1, rasterMono1, true, true);
    RasterBitmap source(8, 2, 1, rasterMono1, false, true);
    source.data()[0] = 0xa5;
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 0, 200);
    EXPECT_EQ(r.blitBitmap(source, 0, 0, 2, 0, 4, 1), resultOk);
    // Source bits 1010 land at columns 2..5.
    EXPECT_EQ(target.data()[0], 0x28);
    EXPECT_EQ(test::alphaAt(target, 2, 0), 0);
    EXPECT_EQ(test::alphaAt(target, 5, 0), 0);
    EXPECT_EQ(test::alphaAt(target, 6, 0), 200);
    EXPECT_EQ(r.modXMax(), -1);  // copying is not painting
}

TEST(RasteriserCompositeTest, SourceAlphaWeighsTheSourceColour) {
    RasterBitmap target(2, 1, 1, rasterMono8, false, true);
    RasterBitmap source(2, 1, 1, rasterMono8, true, true);
    source.data()[0] = source.data()[1] = 0;
    source.alpha()[0] = 0;
    source.alpha()[1] = 255;
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 200);
    r.composite(source, 0, 0, 0, 0, 2, 1, false, false);
    EXPECT_EQ(grey(target, 0, 0), 200);
    EXPECT_EQ(grey(target, 1, 0), 0);
}

TEST(RasteriserCompositeTest, BackgroundShowsThroughByAlpha) {
    RasterBitmap target(3, 1, 1, rasterBGR8, true, true);
    Rasteriser r(&target, false, nullptr);
    test::clearTo(r, 0, 0);
    target.alpha()[1] = 255;
    target.alpha()[2] = 128;
    const uint8_t red[3] = {255, 0, 0};
    r.compositeBackground(red);
    EXPECT_EQ(test::pixel(target, 0, 0), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(test::pixel(target, 1, 0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(test::pixel(target, 2, 0), (std::vector<int>{div255(127 * 255), 0, 0}));
    EXPECT_EQ(target.block()[RasterBitmap::kHeaderSize + 2], 255);  // red is the third byte in mode 3
    EXPECT_EQ(test::alphaAt(target, 2, 0), 255);
}

// --- The fast image loops against the reference pipe, pixel for pixel. ---

struct ImageScene {
    int mode;
    int antialias;
    int withAlpha;
    double fillAlpha;
    // 0 none, 1 a rectangle on fractional coordinates, 2 a curved path.
    int clip;
};

// Rows of width x height samples in the layout of mode (grey for the 1-bit
// target), varied, with alpha bytes that include 0 and 255 runs. Every other
// row repeats each pixel in runs of three, and only its last component
// differs between runs.
Rows sceneRows(int mode, int width, int height, int seed) {
    const int bpp = mode >= rasterRGB8 ? 3 : 1;
    Rows rows;
    rows.rowBytes = width * bpp;
    rows.width = width;
    rows.height = height;
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < width * bpp; ++i) {
            const int k = i % bpp;
            const int v = y % 2 ? i * 41 : k == bpp - 1 ? i / bpp / 3 * 41 : k * 90;
            rows.colour.push_back(static_cast<uint8_t>(v + y * 23 + seed * 7));
        }
        for (int x = 0; x < width; ++x)
            rows.alpha.push_back(x < 3 ? 0 : x > width - 4 ? 255 : static_cast<uint8_t>(x * 37 + y * 11));
    }
    return rows;
}

// Draws images and image masks under matrices that enlarge, reduce, mirror,
// shear, turn and run past the bitmap, and returns the bitmap's bytes, the
// alpha plane, the modified box and the results.
std::vector<uint8_t> renderImages(const ImageScene& s, int reference) {
    RasterBitmap bitmap(67, 53, 4, s.mode, s.withAlpha, false);
    Rasteriser r(&bitmap, s.antialias, nullptr);
    r.setReferencePipe(reference);
    std::memset(bitmap.block() + RasterBitmap::kHeaderSize, 0,
                static_cast<size_t>(bitmap.blockSize() - RasterBitmap::kHeaderSize));
    for (int y = 0; y < 53; ++y) {
        uint8_t* row = bitmap.data() + y * bitmap.rowSize();
        for (int i = 0; i < bitmap.rowSize(); ++i)
            row[i] = static_cast<uint8_t>(i * 19 + y * 7);
    }
    if (bitmap.alpha()) {
        for (int i = 0; i < 67 * 53; ++i)
            bitmap.alpha()[i] = static_cast<uint8_t>(i % 5 == 0 ? 255 : i * 3);
    }
    r.resetModifiedBox();
    r.setFillAlpha(s.fillAlpha);
    r.setFillPattern(test::solid(230, 40, 120).release());
    if (s.clip == 1) {
        RasterPath clip;
        test::addRect(clip, 4.3, 3.7, 60.6, 47.2);
        r.clipToPath(clip, false);
    } else if (s.clip == 2) {
        RasterPath clip;
        clip.moveTo(3, 2);
        clip.curveTo(80, 0, 70, 60, 30, 50);
        clip.lineTo(1, 33);
        clip.close();
        r.clipToPath(clip, false);
    }

    const double matrices[][6] = {
        {40, 0, 0, 30, 5.5, 8.25},     // enlarged
        {40, 0, 0, -30, 5, 38},        // enlarged, rows upwards
        {7.5, 0, 0, 5.5, 50.2, 3.1},   // reduced
        {-33, 0, 0, 21, 58, 10},       // mirrored
        {80, 0, 0, 60, -10.5, -7.5},   // past every edge
        {13, 0, 0, 9, 20, 20},         // a pixel per sample
        {30, 0, 8, 20, 10, 5},         // rows shifted
        {30, 6, 0, 20, 10, 5},         // columns sheared
        {0, 25, -30, 0, 40, 5},        // a quarter turn
        {2.2, 0, 0, 1.6, 30.3, 30.4},  // smaller than a pixel per sample
        {150, 0, 0, 12, -40, 38.5},    // long runs of one sample
    };
    std::vector<uint8_t> results;
    const int sourceMode = s.mode == rasterMono1 ? rasterMono8 : s.mode;
    int seed = 0;
    for (const double* m : matrices) {
        for (int sourceAlpha = 0; sourceAlpha <= 1; ++sourceAlpha) {
            Rows rows = sceneRows(sourceMode, 13, 9, ++seed);
            results.push_back(
                static_cast<uint8_t>(r.drawImage(Rows::source, &rows, sourceMode, sourceAlpha, 13, 9, m)));
        }
        for (int glyphMode = 0; glyphMode <= 1; ++glyphMode) {
            Rows mask = greyRows(11, 7, {});
            for (int i = 0; i < 77; ++i)
                mask.colour.push_back(static_cast<uint8_t>((i * 7 + i / 11) % 3 == 0 ? 0 : 1));
            results.push_back(
                static_cast<uint8_t>(r.fillImageMask(Rows::source, &mask, 11, 7, m, glyphMode)));
        }
    }

    std::vector<uint8_t> out = test::snapshot(bitmap);
    for (int v : {r.modXMin(), r.modYMin(), r.modXMax(), r.modYMax()})
        out.push_back(static_cast<uint8_t>(v + 1));
    out.insert(out.end(), results.begin(), results.end());
    return out;
}

TEST(RasteriserImageTest, FastLoopsMatchTheReferencePipePixelForPixel) {
    for (int mode = rasterMono1; mode <= rasterBGR8; ++mode) {
        for (int antialias = 0; antialias <= 1; ++antialias) {
            for (int withAlpha = 0; withAlpha <= 1; ++withAlpha) {
                for (double fillAlpha : {1.0, 0.99, 0.6}) {
                    for (int clip = 0; clip <= 2; ++clip) {
                        const ImageScene s{mode, antialias, withAlpha, fillAlpha, clip};
                        SCOPED_TRACE("mode " + std::to_string(mode) + " antialias " +
                                     std::to_string(antialias) + " alpha plane " + std::to_string(withAlpha) +
                                     " fill alpha " + std::to_string(fillAlpha) + " clip " +
                                     std::to_string(clip));
                        EXPECT_EQ(renderImages(s, 0), renderImages(s, 1));
                    }
                }
            }
        }
    }
}

TEST(RasteriserCompositeTest, BackgroundBlendOfLongRowsKeepsEveryPixelsRule) {
    // Stretches of eight and more opaque and clear pixels among partial
    // ones, in both byte orders and over a grey and a coloured background.
    for (int mode : {rasterRGB8, rasterBGR8}) {
        for (const uint8_t* colour : {(const uint8_t*)"\xff\xff\xff", (const uint8_t*)"\x10\x80\xf0"}) {
            RasterBitmap target(41, 2, 1, mode, true, true);
            for (int i = 0; i < target.rowSize() * 2; ++i)
                target.data()[i] = static_cast<uint8_t>(i * 29);
            std::vector<uint8_t> alphas;
            for (int x = 0; x < 82; ++x) {
                const int column = x % 41;
                alphas.push_back(column < 11   ? 255
                                 : column < 20 ? 0
                                 : column < 24 ? uint8_t(column * 9)
                                 : x < 41      ? 255
                                               : 0);
            }
            std::memcpy(target.alpha(), alphas.data(), alphas.size());
            std::vector<std::vector<int>> before;
            for (int i = 0; i < 82; ++i)
                before.push_back(test::pixel(target, i % 41, i / 41));
            Rasteriser r(&target, false, nullptr);
            r.compositeBackground(colour);
            for (int i = 0; i < 82; ++i) {
                const int a = alphas[size_t(i)];
                std::vector<int> expected;
                for (int k = 0; k < 3; ++k)
                    expected.push_back(div255(before[size_t(i)][size_t(k)] * a + (255 - a) * colour[k]));
                EXPECT_EQ(test::pixel(target, i % 41, i / 41), expected) << "pixel " << i << " mode " << mode;
                EXPECT_EQ(test::alphaAt(target, i % 41, i / 41), 255);
            }
        }
    }
}

}  // namespace
}  // namespace rendova
