// Scan conversion of a text-like page: some 5400 glyph outlines of 14 pixels
// (60 lines of 90), each a few small cubic curves, as a fill would run them:
// flatten, (scale for anti-aliasing,) sort, then walk every row of the
// glyph's box. Reports spans per second (on the 4x grid for the anti-aliased
// case: the sub-row spans that renderAaLine paints).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "engine/raster/FlatPath.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/RasterScanner.h"

using namespace rendova;

namespace {

constexpr int kPageWidth = 1275;  // US Letter at 150 dots per inch
constexpr int kPageHeight = 1650;
constexpr int kLines = 60;
constexpr int kGlyphsPerLine = 90;
const double kIdentity[6] = {1, 0, 0, 1, 0, 0};

// An ellipse of four cubic quarter arcs; clockwise or not.
void addEllipse(RasterPath& path, double cx, double cy, double rx, double ry, bool reverse) {
    const double k = 0.55228475;
    path.moveTo(cx + rx, cy);
    if (!reverse) {
        path.curveTo(cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
        path.curveTo(cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
        path.curveTo(cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
        path.curveTo(cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
    } else {
        path.curveTo(cx + rx, cy - k * ry, cx + k * rx, cy - ry, cx, cy - ry);
        path.curveTo(cx - k * rx, cy - ry, cx - rx, cy - k * ry, cx - rx, cy);
        path.curveTo(cx - rx, cy + k * ry, cx - k * rx, cy + ry, cx, cy + ry);
        path.curveTo(cx + k * rx, cy + ry, cx + rx, cy + k * ry, cx + rx, cy);
    }
    path.close();
}

// Three kinds of glyph: a ring ("o"), a stem with a curved foot ("l"), and a
// hooked arc ("c"), at x, y (baseline left) in device pixels.
void addGlyph(RasterPath& path, int kind, double x, double y) {
    switch (kind) {
        case 0:
            addEllipse(path, x + 4.5, y - 4.5, 4.2, 4.6, false);
            addEllipse(path, x + 4.5, y - 4.5, 2.6, 3.2, true);
            break;
        case 1:
            path.moveTo(x + 1.2, y - 13.5);
            path.lineTo(x + 3.0, y - 13.5);
            path.lineTo(x + 3.0, y - 2.5);
            path.curveTo(x + 3.0, y - 1.4, x + 3.8, y - 1.1, x + 4.8, y - 1.3);
            path.lineTo(x + 4.9, y - 0.1);
            path.curveTo(x + 2.9, y + 0.4, x + 1.2, y - 0.4, x + 1.2, y - 2.6);
            path.close();
            break;
        default:
            path.moveTo(x + 8.2, y - 7.4);
            path.curveTo(x + 7.6, y - 8.6, x + 6.3, y - 9.3, x + 4.7, y - 9.3);
            path.curveTo(x + 2.1, y - 9.3, x + 0.4, y - 7.3, x + 0.4, y - 4.6);
            path.curveTo(x + 0.4, y - 1.8, x + 2.1, y + 0.2, x + 4.7, y + 0.2);
            path.curveTo(x + 6.4, y + 0.2, x + 7.7, y - 0.6, x + 8.4, y - 1.9);
            path.lineTo(x + 7.0, y - 2.6);
            path.curveTo(x + 6.5, y - 1.7, x + 5.7, y - 1.3, x + 4.7, y - 1.3);
            path.curveTo(x + 3.0, y - 1.3, x + 2.0, y - 2.7, x + 2.0, y - 4.6);
            path.curveTo(x + 2.0, y - 6.5, x + 3.0, y - 7.8, x + 4.7, y - 7.8);
            path.curveTo(x + 5.7, y - 7.8, x + 6.4, y - 7.3, x + 6.8, y - 6.6);
            path.close();
            break;
    }
}

struct Page {
    std::vector<std::unique_ptr<RasterPath>> glyphs;
    RasterPath whole;
    int curves = 0;
};

const Page& page() {
    static const Page* built = [] {
        auto* p = new Page;
        for (int line = 0; line < kLines; ++line) {
            for (int g = 0; g < kGlyphsPerLine; ++g) {
                // Fractional positions, as text placed by a matrix has.
                const double x = 40 + g * 13.1 + 0.37 * (line % 3);
                const double y = 60 + line * 25.3;
                auto glyph = std::make_unique<RasterPath>();
                addGlyph(*glyph, (g * 7 + line) % 3, x, y);
                addGlyph(p->whole, (g * 7 + line) % 3, x, y);
                for (int i = 0; i < glyph->length(); ++i)
                    p->curves += (glyph->flags()[i] & kPathCurve) ? 1 : 0;
                p->glyphs.push_back(std::move(glyph));
            }
        }
        p->curves /= 2;
        return p;
    }();
    return *built;
}

void BM_ScanGlyphs(benchmark::State& state) {
    const Page& p = page();
    int64_t spans = 0;
    for (auto _ : state) {
        for (const auto& glyph : p.glyphs) {
            FlatPath flat(*glyph, kIdentity, 1, true);
            flat.sortSegments();
            RasterScanner scanner(&flat, false);
            int x0, x1;
            for (int y = scanner.yMin(); y <= scanner.yMax(); ++y) {
                while (scanner.getNextSpan(y, x0, x1)) {
                    benchmark::DoNotOptimize(x1);
                    ++spans;
                }
            }
        }
    }
    state.counters["spans"] = benchmark::Counter(static_cast<double>(spans), benchmark::Counter::kIsRate);
    state.counters["glyphs"] = benchmark::Counter(static_cast<double>(p.glyphs.size()) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
    state.counters["curves_per_page"] = p.curves;
}
BENCHMARK(BM_ScanGlyphs)->Unit(benchmark::kMillisecond);

void BM_ScanGlyphsAntialiased(benchmark::State& state) {
    const Page& p = page();
    RasterBitmap buffer(4 * kPageWidth, 4, 1, rasterMono1, false, true);

    // The sub-row spans that one pass paints, counted once outside the timing.
    int64_t spansPerPage = 0;
    for (const auto& glyph : p.glyphs) {
        FlatPath flat(*glyph, kIdentity, 1, true);
        flat.scaleForAntialias();
        flat.sortSegments();
        RasterScanner scanner(&flat, false);
        int x0, x1;
        for (int y = scanner.yMin(); y <= scanner.yMax(); ++y)
            while (scanner.getNextSpan(y, x0, x1))
                ++spansPerPage;
    }

    for (auto _ : state) {
        for (const auto& glyph : p.glyphs) {
            FlatPath flat(*glyph, kIdentity, 1, true);
            flat.scaleForAntialias();
            flat.sortSegments();
            RasterScanner scanner(&flat, false);
            int xMin, yMin, xMax, yMax;
            scanner.getBBox(xMin, yMin, xMax, yMax);
            int x0, x1;
            for (int y = yMin; y <= yMax; ++y) {
                scanner.renderAaLine(buffer, x0, x1, y);
                benchmark::DoNotOptimize(buffer.data()[x0 >> 1]);
            }
        }
    }
    state.counters["spans"] = benchmark::Counter(static_cast<double>(spansPerPage) * state.iterations(),
                                                 benchmark::Counter::kIsRate);
    state.counters["glyphs"] = benchmark::Counter(static_cast<double>(p.glyphs.size()) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanGlyphsAntialiased)->Unit(benchmark::kMillisecond);

// The same page as one path (as a clip path of text would be): every row
// walks the segments of its whole line of text.
void BM_ScanPageAsOnePath(benchmark::State& state) {
    const Page& p = page();
    int64_t spans = 0;
    for (auto _ : state) {
        FlatPath flat(p.whole, kIdentity, 1, true);
        flat.sortSegments();
        RasterScanner scanner(&flat, false);
        int x0, x1;
        for (int y = 0; y < kPageHeight; ++y) {
            while (scanner.getNextSpan(y, x0, x1)) {
                benchmark::DoNotOptimize(x1);
                ++spans;
            }
        }
    }
    state.counters["spans"] = benchmark::Counter(static_cast<double>(spans), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanPageAsOnePath)->Unit(benchmark::kMillisecond);

}  // namespace
