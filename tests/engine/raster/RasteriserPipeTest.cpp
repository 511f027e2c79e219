#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "engine/raster/Rasteriser.h"
#include "tests/engine/raster/RasteriserTestSupport.h"

namespace rendova {
namespace {

using test::addRect;
using test::alphaAt;
using test::grey;

TEST(RasteriserPipeTest, DivisionBy255IsExactForEveryByteTimes255) {
    // The fast loops rely on it: aResult = aSrc + 255 - div255(aSrc x 255) = 255.
    for (int a = 0; a < 256; ++a)
        EXPECT_EQ(div255(a * 255), a);
}

TEST(RasteriserPipeTest, ReciprocalDivisionsAreExactOverTheirWholeRange) {
    // Every weighted average of two bytes by every byte divisor.
    int wrong = 0;
    for (int d = 1; d < 256; ++d)
        for (int v = 0; v <= 255 * d; ++v)
            wrong += pipe::divideByByte(v, d) != v / d;
    EXPECT_EQ(wrong, 0);
    // Every group correction: colour difference x backdrop alpha x (255 - g)
    // over 255 g, negative differences truncated toward zero.
    for (int g = 1; g < 256; ++g)
        for (int a = 0; a < 256; ++a)
            for (int diff = -255; diff <= 255; ++diff) {
                const int v = diff * a * (255 - g);
                wrong += pipe::divideBy255Times(v, g) != v / (255 * g);
            }
    EXPECT_EQ(wrong, 0);
}

TEST(RasteriserPipeTest, OpaqueBlackTakesTheFastPathAndSetsAlpha255) {
    RasterBitmap bitmap(4, 4, 1, rasterBGR8, true, false);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 200, 0);
    SpanPainter p;
    const uint8_t black[3] = {0, 0, 0};
    r.initPainter(p, 1, 2, nullptr, black, 1.0, 0, 0);
    EXPECT_EQ(p.noTransparency, 1);
    EXPECT_EQ(p.resultRule, 0);
    r.paintPixel(p);
    EXPECT_EQ(test::pixel(bitmap, 1, 2), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(alphaAt(bitmap, 1, 2), 255);
    EXPECT_EQ(p.x, 2);  // advanced
    EXPECT_EQ(alphaAt(bitmap, 2, 2), 0);
}

TEST(RasteriserPipeTest, Alpha128OverOpaqueKeepsFullAlphaAndMixesColours) {
    RasterBitmap bitmap(4, 1, 1, rasterMono8, true, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 200, 255);
    SpanPainter p;
    const uint8_t c[3] = {10, 0, 0};
    r.initPainter(p, 0, 0, nullptr, c, 128 / 255.0, 0, 0);
    EXPECT_EQ(p.alphaInByte, 128);
    EXPECT_EQ(p.resultRule, 2);
    r.paintPixel(p);
    EXPECT_EQ(alphaAt(bitmap, 0, 0), 255);  // 128 + 255 - div255(128 x 255)
    EXPECT_EQ(grey(bitmap, 0, 0), ((255 - 128) * 200 + 128 * 10) / 255);
}

TEST(RasteriserPipeTest, TransparentSourceOnTransparentDestinationWritesColourZero) {
    for (int reference = 0; reference <= 1; ++reference) {
        RasterBitmap bitmap(4, 4, 1, rasterRGB8, true, true);
        Rasteriser r(&bitmap, false, nullptr);
        r.setReferencePipe(reference);
        test::clearTo(r, 200, 0);
        r.setFillAlpha(0);
        RasterPath path;
        addRect(path, 0, 0, 2, 2);
        r.fill(path, false);
        EXPECT_EQ(test::pixel(bitmap, 1, 1), (std::vector<int>{0, 0, 0}));
        EXPECT_EQ(alphaAt(bitmap, 1, 1), 0);
        EXPECT_EQ(test::pixel(bitmap, 3, 3), (std::vector<int>{200, 200, 200}));
    }
}

TEST(RasteriserPipeTest, SoftMaskScalesTheSourceAlpha) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 255);
    auto* mask = new RasterBitmap(4, 4, 1, rasterMono8, false, true);
    std::memset(mask->data(), 128, 16);
    mask->data()[5] = 255;
    r.setSoftMask(mask);
    RasterPath path;
    addRect(path, 0, 0, 3, 3);
    r.fill(path, false);
    EXPECT_EQ(grey(bitmap, 0, 0), (127 * 255) / 255);
    EXPECT_EQ(grey(bitmap, 1, 1), 0);
}

TEST(RasteriserPipeTest, BlendRoutineAppliesToTheSource) {
    RasterBitmap bitmap(2, 1, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, false, nullptr);
    test::clearTo(r, 128);
    r.setBlendFunction(blendModeTable[1]);  // Multiply
    r.setFillPattern(test::solid(128, 128, 128).release());
    RasterPath path;
    addRect(path, 0, 0, 0.5, 0.5);
    r.fill(path, false);
    // No transparency, so rule 1: div255(0 x cSrc + 255 x cBlend) = cBlend.
    EXPECT_EQ(grey(bitmap, 0, 0), 128 * 128 / 255);
    EXPECT_EQ(grey(bitmap, 1, 0), 128);
}

// A non-isolated group over an opaque grey backdrop of 200: the group
// bitmap starts as a copy of the backdrop with alpha 0, its content is
// composited over the backdrop, and the group is composited back with the
// correction that takes the backdrop's share out again.
struct NonIsolatedGroup {
    RasterBitmap backdrop{4, 1, 1, rasterMono8, true, true};
    RasterBitmap group{4, 1, 1, rasterMono8, true, true};
    Rasteriser page{&backdrop, false, nullptr};
    Rasteriser inside{&group, false, nullptr};
    NonIsolatedGroup() {
        test::clearTo(page, 200, 255);
        inside.blitBitmap(backdrop, 0, 0, 0, 0, 4, 1);
        inside.setInNonIsolatedGroup(&backdrop, 0, 0);
    }
    void fill(uint8_t grey, double alpha) {
        inside.setFillPattern(test::solid(grey, grey, grey).release());
        inside.setFillAlpha(alpha);
        RasterPath path;
        addRect(path, 0, 0, 3.9, 0.9);
        inside.fill(path, false);
    }
    void paint() { page.composite(group, 0, 0, 0, 0, 4, 1, true, true); }
};

TEST(RasteriserPipeTest, NonIsolatedGroupCountsItsBackdropOnce) {
    // Half-opaque black inside the group: the group holds it over the
    // backdrop, ((255 - 128) 200 + 128 x 0) / 255 = 99 at alpha 128.
    NonIsolatedGroup g;
    g.fill(0, 0.5);
    EXPECT_EQ(grey(g.group, 0, 0), 99);
    EXPECT_EQ(alphaAt(g.group, 0, 0), 128);
    // Composited, the page must look as if the fill were drawn on it
    // directly (99 again), not the group's colour at half over the backdrop
    // (149, the backdrop counted twice).
    g.paint();
    EXPECT_EQ(grey(g.backdrop, 0, 0), 99);
    EXPECT_EQ(alphaAt(g.backdrop, 0, 0), 255);

    // Two layers of 0.5 inside the group, black then white: drawn directly
    // they give 99 and then (127 x 99 + 128 x 255) / 255 = 177, and so must
    // the group.
    NonIsolatedGroup two;
    two.fill(0, 0.5);
    two.fill(255, 0.5);
    EXPECT_EQ(alphaAt(two.group, 0, 0), 192);
    two.paint();
    EXPECT_EQ(grey(two.backdrop, 0, 0), 177);
}

TEST(RasteriserPipeTest, NonIsolatedGroupOverTransparentBackdropNeedsNoCorrection) {
    // Where the backdrop has alpha 0 the group drew as over nothing: its
    // colour is the fill's, and compositing keeps it.
    NonIsolatedGroup g;
    test::clearTo(g.page, 200, 0);
    g.fill(40, 0.5);
    EXPECT_EQ(grey(g.group, 0, 0), 40);
    g.paint();
    EXPECT_EQ(grey(g.backdrop, 0, 0), 40);
    EXPECT_EQ(alphaAt(g.backdrop, 0, 0), 128);
}

TEST(RasteriserPipeTest, BlendInsideNonIsolatedGroupMeetsTheBackdrop) {
    // Multiply of 128 on the first element of the group: the group's own
    // alpha is 0 there, but the backdrop beneath it is opaque 200, so the
    // result is 200 x 128 / 255 = 100, not the plain source 128.
    NonIsolatedGroup g;
    g.inside.setBlendFunction(blendModeTable[1]);
    g.fill(128, 1);
    EXPECT_EQ(grey(g.group, 0, 0), 100);
    g.paint();
    EXPECT_EQ(grey(g.backdrop, 0, 0), 100);
}

TEST(RasteriserPipeTest, CompositeThroughAnAntialiasedClipTakesItsEdge) {
    // A shading's pieces are painted into a group without anti-aliasing, so
    // that they meet without seams; painted through a clip path, the group
    // must get the clip's smooth edge, the same as the clip path filled with
    // anti-aliasing, not a stair of whole pixels. Black, with and without a
    // source alpha plane.
    RasterPath triangle;
    triangle.moveTo(0.5, 0.5);
    triangle.lineTo(11.5, 2.5);
    triangle.lineTo(3.5, 11.5);
    triangle.close();
    RasterBitmap filled(12, 12, 1, rasterMono8, false, true);
    Rasteriser reference(&filled, true, nullptr);
    test::clearTo(reference, 255);
    reference.setFillPattern(test::solid(0, 0, 0).release());
    reference.fill(triangle, false);

    for (bool withAlpha : {false, true}) {
        RasterBitmap source(12, 12, 1, rasterMono8, withAlpha, true);
        std::memset(source.data(), 0, 144);
        if (withAlpha)
            std::memset(source.alpha(), 255, 144);
        RasterBitmap page(12, 12, 1, rasterMono8, false, true);
        Rasteriser r(&page, true, nullptr);
        test::clearTo(r, 255);
        r.clipToPath(triangle, false);
        r.composite(source, 0, 0, 0, 0, 12, 12, false, false);
        EXPECT_EQ(test::snapshot(page), test::snapshot(filled)) << withAlpha;
    }
    int partial = 0;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            partial += grey(filled, x, y) > 0 && grey(filled, x, y) < 255;
    EXPECT_GT(partial, 10);
}

TEST(RasteriserPipeTest, GroupCorrectionClampsInsteadOfWrapping) {
    // Backdrop 40 at alpha 4 under a group pixel 0 at alpha 96: the
    // correction comes to -1, which wrapped to 255 would paint white over
    // black.
    RasterBitmap backdrop(2, 2, 1, rasterMono8, false, true);
    RasterBitmap group(2, 2, 1, rasterMono8, true, true);
    Rasteriser r(&group, false, nullptr);
    test::clearTo(r, 40, 4);
    r.setInNonIsolatedGroup(&backdrop, 0, 0);
    RasterBitmap source(2, 2, 1, rasterMono8, true, true);
    std::memset(source.data(), 0, 4);
    std::memset(source.alpha(), 96, 4);
    EXPECT_EQ(r.composite(source, 0, 0, 0, 0, 2, 2, true, true), resultOk);
    EXPECT_EQ(grey(group, 0, 0), 0);
    EXPECT_EQ(alphaAt(group, 0, 0), 98);

    // And upwards: backdrop 10 at alpha 4 under 255 at alpha 96 comes to
    // 261, held at 255: (2 x 10 + 96 x 255) / 98 = 250 (wrapped to 5 it
    // would give 5).
    test::clearTo(r, 10, 4);
    std::memset(source.data(), 255, 4);
    r.composite(source, 0, 0, 0, 0, 2, 2, true, true);
    EXPECT_EQ(grey(group, 1, 1), 250);
}

// --- The fast loops against the general rules, pixel for pixel. ---

struct Scene {
    int mode;
    int antialias;
    int withAlpha;
    double fillAlpha;
    int clipPath;
    // 0 none; 1 the composites are of non-isolated groups (corrected for
    // their backdrop); 2 that, and the drawing itself lies inside a
    // non-isolated group over a backdrop of varied alpha.
    int group;
    // The composites go through a soft mask.
    int softMask;
};

// Draws a fixed mix of fills, strokes, glyphs and composites and returns the
// bitmap's bytes, the alpha plane and the modified box.
std::vector<uint8_t> render(const Scene& s, int reference) {
    RasterBitmap bitmap(61, 47, 4, s.mode, s.withAlpha, false);
    Rasteriser r(&bitmap, s.antialias, nullptr);
    r.setReferencePipe(reference);
    RasterBitmap below(66, 50, 1, s.mode, true, false);
    for (int i = 0; i < 66 * 50; ++i)
        below.alpha()[i] = static_cast<uint8_t>(i % 5 == 0 ? 0 : i * 11);
    if (s.group == 2)
        r.setInNonIsolatedGroup(&below, 3, 2);
    // A backdrop with varied colour and alpha, so that every blend formula
    // meets different destinations (padding bytes set too, as they are
    // compared).
    std::memset(bitmap.block() + RasterBitmap::kHeaderSize, 0,
                static_cast<size_t>(bitmap.blockSize() - RasterBitmap::kHeaderSize));
    // Every other row is flat in colour, and every fourth in alpha too, so
    // that pixels repeat their neighbours' input (and some only in part);
    // some rows are clear, and some composites meet runs of clear and of
    // opaque source pixels.
    const int bytesPerPixel = bitmap.mode() >= rasterRGB8 ? 3 : 1;
    for (int y = 0; y < 47; ++y) {
        uint8_t* row = bitmap.data() + y * bitmap.rowSize();
        const int rowBytes = bitmap.mode() == rasterMono1 ? 8 : bitmap.mode() == rasterMono8 ? 61 : 183;
        for (int i = 0; i < rowBytes; ++i)
            row[i] = static_cast<uint8_t>((y & 1 ? i % bytesPerPixel : i) * 37 + y * 11);
    }
    if (bitmap.alpha()) {
        for (int i = 0; i < 61 * 47; ++i)
            bitmap.alpha()[i] = static_cast<uint8_t>((i / 61) % 4 == 1 ? 100 : (i / 61) % 8 == 3 ? 0 : i * 7);
    }
    r.resetModifiedBox();
    r.setFillAlpha(s.fillAlpha);
    r.setStrokeAlpha(s.fillAlpha);
    r.setFillPattern(test::solid(230, 40, 120).release());
    r.setStrokePattern(test::solid(17, 200, 90).release());
    if (s.clipPath) {
        RasterPath clip;
        clip.moveTo(3, 2);
        clip.curveTo(70, 0, 60, 50, 30, 44);
        clip.lineTo(1, 30);
        clip.close();
        r.clipToPath(clip, false);
    }

    std::mt19937 random(1234);
    std::uniform_real_distribution<double> coord(-5, 66);
    for (int k = 0; k < 6; ++k) {
        RasterPath path;
        path.moveTo(coord(random), coord(random));
        for (int i = 0; i < 5; ++i)
            path.lineTo(coord(random), coord(random));
        path.curveTo(coord(random), coord(random), coord(random), coord(random), coord(random),
                     coord(random));
        path.close();
        r.fill(path, k & 1);
    }
    RasterPath big;
    addRect(big, 8.3, 6.6, 52.2, 40.1);
    r.fill(big, false);

    RasterPath lines;
    lines.moveTo(2.5, 3.5);
    lines.lineTo(58.2, 40.7);
    lines.lineTo(30.1, 2.2);
    lines.lineTo(31.6, 45.3);
    r.setLineWidth(0);
    r.stroke(lines);
    r.setLineWidth(2.5);
    r.setLineCap(1);
    r.setLineJoin(1);
    r.stroke(lines);

    uint8_t aaPixels[6 * 5];
    for (int i = 0; i < 30; ++i)
        aaPixels[i] = static_cast<uint8_t>(i * 9);
    RasterGlyph aaGlyph;
    aaGlyph.width = 6;
    aaGlyph.height = 5;
    aaGlyph.antialiased = 1;
    aaGlyph.pixels = aaPixels;
    uint8_t bits[2 * 5] = {0xf0, 0x80, 0x5a, 0x40, 0xff, 0xc0, 0x01, 0x00, 0x99, 0x40};
    RasterGlyph bitGlyph;
    bitGlyph.width = 10;
    bitGlyph.height = 5;
    bitGlyph.pixels = bits;
    bitGlyph.xOffset = 2;
    bitGlyph.yOffset = 4;
    for (int i = 0; i < 5; ++i) {
        r.fillGlyph(7 + 11 * i, 20 + 3 * i, aaGlyph);
        r.fillGlyph(5 + 12 * i, 35 - 2 * i, bitGlyph);
    }
    r.fillGlyph(58, 44, aaGlyph);  // across the corner
    // Another opacity for the same glyph: the coverage table follows it.
    r.setFillAlpha(s.fillAlpha / 2);
    r.fillGlyph(40, 10, aaGlyph);
    r.setFillAlpha(s.fillAlpha);
    r.fillGlyph(46, 12, aaGlyph);

    for (int withSourceAlpha = 0; withSourceAlpha <= 1; ++withSourceAlpha) {
        RasterBitmap source(20, 12, 1, s.mode, withSourceAlpha, true);
        for (int y = 0; y < 12; ++y) {
            uint8_t* row = source.data() + y * source.rowSize();
            for (int i = 0; i < source.rowSize(); ++i)
                row[i] = static_cast<uint8_t>((y & 1 ? i % bytesPerPixel : i) * 53 + y * 29);
        }
        if (source.alpha()) {
            for (int i = 0; i < 240; ++i)
                source.alpha()[i] = static_cast<uint8_t>((i / 20) % 4 == 1   ? 77
                                                         : (i / 20) % 4 == 2 ? (i % 20 < 9 ? 0 : 255)
                                                                             : i * 13);
        }
        const bool nonIsolated = s.group != 0;
        if (s.softMask) {
            // Flat in every other row, as the backdrop.
            auto* mask = new RasterBitmap(61, 47, 1, rasterMono8, false, false);
            for (int y = 0; y < 47; ++y)
                for (int x = 0; x < 61; ++x)
                    mask->data()[y * mask->rowSize() + x] = static_cast<uint8_t>(y & 1 ? 90 + y : x * 29 + y);
            r.setSoftMask(mask);
        }
        r.composite(source, 0, 0, 5 + 30 * withSourceAlpha, 30, 20, 12, false, nonIsolated);
        r.composite(source, 0, 0, 20, 3, 20, 12, true, nonIsolated);
    }

    std::vector<uint8_t> out = test::snapshot(bitmap);
    for (int v : {r.modXMin(), r.modYMin(), r.modXMax(), r.modYMax()})
        out.push_back(static_cast<uint8_t>(v + 1));
    return out;
}

TEST(RasteriserPipeTest, FastLoopsMatchTheGeneralRulesPixelForPixel) {
    int scenes = 0;
    for (int mode = rasterMono1; mode <= rasterBGR8; ++mode) {
        for (int antialias = 0; antialias <= 1; ++antialias) {
            for (int withAlpha = 0; withAlpha <= 1; ++withAlpha) {
                for (double fillAlpha : {1.0, 0.6, 0.0}) {
                    for (int clipPath = 0; clipPath <= 1; ++clipPath) {
                        for (int group = 0; group <= 2; ++group) {
                            for (int softMask = 0; softMask <= 1; ++softMask) {
                                const Scene s{mode,     antialias, withAlpha, fillAlpha,
                                              clipPath, group,     softMask};
                                const auto fast = render(s, 0);
                                const auto reference = render(s, 1);
                                ASSERT_EQ(fast.size(), reference.size());
                                size_t differing = 0;
                                for (size_t i = 0; i < fast.size(); ++i)
                                    differing += fast[i] != reference[i];
                                EXPECT_EQ(differing, 0u)
                                    << "mode " << mode << " aa " << antialias << " alpha plane " << withAlpha
                                    << " fill alpha " << fillAlpha << " clip " << clipPath << " group "
                                    << group << " soft mask " << softMask;
                                ++scenes;
                            }
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(scenes, 576);
}

TEST(RasteriserPipeTest, FastLoopsActuallyPaint) {
    // Guards the comparison above against two empty renderings.
    const Scene s{rasterBGR8, 1, 1, 1.0, 0, 0, 0};
    EXPECT_NE(render(s, 0), render(Scene{rasterBGR8, 1, 1, 0.0, 0, 0, 0}, 0));
    // And the group's backdrop changes what the group paints.
    EXPECT_NE(render(Scene{rasterBGR8, 1, 1, 0.6, 0, 2, 0}, 0),
              render(Scene{rasterBGR8, 1, 1, 0.6, 0, 0, 0}, 0));
    // And the soft mask what the composites paint.
    EXPECT_NE(render(Scene{rasterBGR8, 1, 1, 0.6, 0, 0, 1}, 0),
              render(Scene{rasterBGR8, 1, 1, 0.6, 0, 0, 0}, 0));
}

}  // namespace
}  // namespace rendova
