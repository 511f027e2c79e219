// Fill and stroke throughput of the rasteriser on a US Letter page at 300
// dots per inch (2550 x 3300, 24-bit, anti-aliased as the page device draws):
// - large shapes: a dozen big circles and polygons covering most of the
//   page; the figure is painted pixels per second;
// - many small shapes: 20000 small rounded shapes of about 12 x 12 pixels
//   (glyph-sized outlines), also in painted pixels per second;
// - a line-art page: 2000 stroked polylines and curves of widths 0.5 to 2
//   points with round and miter joins, a quarter of them dashed; the figure
//   is strokes per second (and pages per second).
// The large-shape fill is also run through the general pixel rules alone
// (the reference pipe), to show what the fast loops buy. Beside each page,
// the peer (`mutool draw` at the same resolution, rendering without
// output) draws the same paths from a one-page PDF; its figure includes the
// process start and the parsing, a few milliseconds.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/OnePagePdf.h"
#include "engine/raster/Rasteriser.h"

using namespace rendova;

namespace {

constexpr int kWidth = 2550;
constexpr int kHeight = 3300;
constexpr double kScale = 300.0 / 72.0;
// Page space to device: 72 to 300 dots per inch, y flipped.
const double kPageMatrix[6] = {kScale, 0, 0, -kScale, 0, kHeight};

void addCircle(RasterPath& path, double cx, double cy, double r) {
    const double k = 0.55228475 * r;
    path.moveTo(cx + r, cy);
    path.curveTo(cx + r, cy + k, cx + k, cy + r, cx, cy + r);
    path.curveTo(cx - k, cy + r, cx - r, cy + k, cx - r, cy);
    path.curveTo(cx - r, cy - k, cx - k, cy - r, cx, cy - r);
    path.curveTo(cx + k, cy - r, cx + r, cy - k, cx + r, cy);
    path.close();
}

std::vector<std::unique_ptr<RasterPath>> largeShapes() {
    std::vector<std::unique_ptr<RasterPath>> shapes;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> x(60, 552), y(60, 732), r(60, 220);
    for (int i = 0; i < 6; ++i) {
        auto p = std::make_unique<RasterPath>();
        addCircle(*p, x(random), y(random), r(random));
        shapes.push_back(std::move(p));
    }
    for (int i = 0; i < 6; ++i) {
        auto p = std::make_unique<RasterPath>();
        const double cx = x(random), cy = y(random), radius = r(random);
        for (int k = 0; k < 7; ++k) {
            const double a = k * 2 * M_PI / 7 + i;
            const double px = cx + radius * std::cos(a), py = cy + radius * std::sin(a);
            if (k == 0)
                p->moveTo(px, py);
            else
                p->lineTo(px, py);
        }
        p->close();
        shapes.push_back(std::move(p));
    }
    return shapes;
}

std::vector<std::unique_ptr<RasterPath>> smallShapes() {
    std::vector<std::unique_ptr<RasterPath>> shapes;
    std::mt19937 random(11);
    std::uniform_real_distribution<double> x(10, 600), y(10, 780), jitter(-0.7, 0.7);
    for (int i = 0; i < 20000; ++i) {
        auto p = std::make_unique<RasterPath>();
        const double cx = x(random), cy = y(random);
        if (i % 2) {
            addCircle(*p, cx, cy, 1.4 + jitter(random) * 0.5);
        } else {
            p->moveTo(cx, cy);
            p->lineTo(cx + 2.9 + jitter(random), cy + 0.3);
            p->curveTo(cx + 3.2, cy + 1.5, cx + 2.2, cy + 2.9, cx + 1.1, cy + 2.8 + jitter(random));
            p->lineTo(cx - 0.2, cy + 1.6);
            p->close();
        }
        shapes.push_back(std::move(p));
    }
    return shapes;
}

struct Stroke {
    std::unique_ptr<RasterPath> path;
    double width;
    int join;
    bool dashed;
};

std::vector<Stroke> lineArt() {
    std::vector<Stroke> strokes;
    std::mt19937 random(5);
    std::uniform_real_distribution<double> x(20, 592), y(20, 772), step(-40, 40), width(0.5, 2);
    for (int i = 0; i < 2000; ++i) {
        Stroke s{std::make_unique<RasterPath>(), width(random), i % 3 == 0 ? 1 : 0, i % 4 == 0};
        double px = x(random), py = y(random);
        s.path->moveTo(px, py);
        for (int k = 0; k < 6; ++k) {
            const double nx = px + step(random), ny = py + step(random);
            if (k % 3 == 2)
                s.path->curveTo(px + step(random), py + step(random), nx + step(random), ny + step(random),
                                nx, ny);
            else
                s.path->lineTo(nx, ny);
            px = nx, py = ny;
        }
        strokes.push_back(std::move(s));
    }
    return strokes;
}

// Pixels of the modified box that a fill changed from white; the box is
// whitened again afterwards.
int64_t takePaintedPixels(Rasteriser& r, RasterBitmap& bitmap) {
    int64_t n = 0;
    for (int y = r.modYMin(); y <= r.modYMax(); ++y) {
        uint8_t* row = bitmap.data() + static_cast<ptrdiff_t>(y) * bitmap.rowSize();
        for (int x = r.modXMin(); x <= r.modXMax(); ++x) {
            uint8_t* p = row + 3 * x;
            n += p[0] != 255 || p[1] != 255 || p[2] != 255;
            p[0] = p[1] = p[2] = 255;
        }
    }
    r.resetModifiedBox();
    return n;
}

void fillAll(Rasteriser& r, const std::vector<std::unique_ptr<RasterPath>>& shapes) {
    for (const auto& p : shapes)
        r.fill(*p, false);
}

void runFill(benchmark::State& state, const std::vector<std::unique_ptr<RasterPath>>& shapes, int antialias,
             int reference) {
    RasterBitmap bitmap(kWidth, kHeight, 4, rasterBGR8, false, false);
    Rasteriser r(&bitmap, antialias, nullptr);
    r.setMatrix(kPageMatrix);
    r.setReferencePipe(reference);
    const uint8_t white[3] = {255, 255, 255};
    const uint8_t blue[3] = {20, 60, 160};
    r.setFillPattern(new RasterSolidColor(blue));
    // Every pixel that one pass paints, counting overlaps once per shape.
    r.clear(white, 255);
    r.resetModifiedBox();
    int64_t pixels = 0;
    for (const auto& p : shapes) {
        r.fill(*p, false);
        pixels += takePaintedPixels(r, bitmap);
    }
    for (auto _ : state) {
        fillAll(r, shapes);
        benchmark::DoNotOptimize(bitmap.data()[0]);
    }
    state.counters["pixels"] =
        benchmark::Counter(static_cast<double>(pixels) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["shapes"] = benchmark::Counter(static_cast<double>(shapes.size()) * state.iterations(),
                                                  benchmark::Counter::kIsRate);
}

void BM_FillLargeAntialiased(benchmark::State& state) {
    static const auto shapes = largeShapes();
    runFill(state, shapes, 1, 0);
}
BENCHMARK(BM_FillLargeAntialiased)->Unit(benchmark::kMillisecond);

void BM_FillLargeAntialiasedReferencePipe(benchmark::State& state) {
    static const auto shapes = largeShapes();
    runFill(state, shapes, 1, 1);
}
BENCHMARK(BM_FillLargeAntialiasedReferencePipe)->Unit(benchmark::kMillisecond);

void BM_FillLargeAliased(benchmark::State& state) {
    static const auto shapes = largeShapes();
    runFill(state, shapes, 0, 0);
}
BENCHMARK(BM_FillLargeAliased)->Unit(benchmark::kMillisecond);

void BM_FillManySmallAntialiased(benchmark::State& state) {
    static const auto shapes = smallShapes();
    runFill(state, shapes, 1, 0);
}
BENCHMARK(BM_FillManySmallAntialiased)->Unit(benchmark::kMillisecond);

void BM_StrokeLineArtPage(benchmark::State& state) {
    static const auto strokes = lineArt();
    RasterBitmap bitmap(kWidth, kHeight, 4, rasterBGR8, false, false);
    Rasteriser r(&bitmap, true, nullptr);
    r.setMatrix(kPageMatrix);
    const uint8_t white[3] = {255, 255, 255};
    r.clear(white, 255);
    const double dash[2] = {6, 3};
    for (auto _ : state) {
        for (const Stroke& s : strokes) {
            r.setLineWidth(s.width);
            r.setLineJoin(s.join);
            r.setLineCap(s.join);
            r.setLineDash(dash, s.dashed ? 2 : 0, 0);
            r.stroke(*s.path);
        }
        benchmark::DoNotOptimize(bitmap.data()[0]);
    }
    state.counters["strokes"] = benchmark::Counter(static_cast<double>(strokes.size()) * state.iterations(),
                                                   benchmark::Counter::kIsRate);
    state.counters["pages"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StrokeLineArtPage)->Unit(benchmark::kMillisecond);

void BM_StrokeLineArtPageHairlines(benchmark::State& state) {
    static const auto strokes = lineArt();
    RasterBitmap bitmap(kWidth, kHeight, 4, rasterBGR8, false, false);
    Rasteriser r(&bitmap, true, nullptr);
    r.setMatrix(kPageMatrix);
    const uint8_t white[3] = {255, 255, 255};
    r.clear(white, 255);
    r.setLineWidth(0);
    for (auto _ : state) {
        for (const Stroke& s : strokes)
            r.stroke(*s.path);
        benchmark::DoNotOptimize(bitmap.data()[0]);
    }
    state.counters["strokes"] = benchmark::Counter(static_cast<double>(strokes.size()) * state.iterations(),
                                                   benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StrokeLineArtPageHairlines)->Unit(benchmark::kMillisecond);

// ---- The peer on the same pages. ----

void appendPath(std::string& out, const RasterPath& path) {
    char buf[160];
    const RasterPathPoint* p = path.points();
    const uint8_t* f = path.flags();
    for (int i = 0; i < path.length();) {
        if (f[i] & kPathFirst) {
            std::snprintf(buf, sizeof buf, "%.3f %.3f m\n", p[i].x, p[i].y);
            ++i;
        } else if (f[i] & kPathCurve) {
            std::snprintf(buf, sizeof buf, "%.3f %.3f %.3f %.3f %.3f %.3f c\n", p[i].x, p[i].y, p[i + 1].x,
                          p[i + 1].y, p[i + 2].x, p[i + 2].y);
            i += 3;
        } else {
            std::snprintf(buf, sizeof buf, "%.3f %.3f l\n", p[i].x, p[i].y);
            ++i;
        }
        out += buf;
        if ((f[i - 1] & kPathLast) && (f[i - 1] & kPathClosed))
            out += "h\n";
    }
}

void runPeer(benchmark::State& state, const std::string& pdf) {
    if (std::system("mutool -v > /dev/null 2>&1") != 0) {
        state.SkipWithError("mutool is not installed");
        return;
    }
    const std::string command = "mutool draw -q -r 300 " + pdf + " 1 > /dev/null 2>&1";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("mutool failed");
            return;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["pages"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

std::string fillContent(const std::vector<std::unique_ptr<RasterPath>>& shapes) {
    std::string content = "0.078 0.235 0.627 rg\n";
    for (const auto& p : shapes) {
        appendPath(content, *p);
        content += "f\n";
    }
    return content;
}

void BM_PeerFillLargeAntialiased(benchmark::State& state) {
    static const std::string pdf = bench::writeOnePagePdf("large", 612, 792, fillContent(largeShapes()));
    runPeer(state, pdf);
}
BENCHMARK(BM_PeerFillLargeAntialiased)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PeerFillManySmallAntialiased(benchmark::State& state) {
    static const std::string pdf = bench::writeOnePagePdf("small", 612, 792, fillContent(smallShapes()));
    runPeer(state, pdf);
}
BENCHMARK(BM_PeerFillManySmallAntialiased)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PeerStrokeLineArtPage(benchmark::State& state) {
    static const std::string pdf = [] {
        std::string content;
        char buf[96];
        for (const Stroke& s : lineArt()) {
            std::snprintf(buf, sizeof buf, "%.4f w %d j %d J %s\n", s.width, s.join, s.join,
                          s.dashed ? "[6 3] 0 d" : "[] 0 d");
            content += buf;
            appendPath(content, *s.path);
            content += "S\n";
        }
        return bench::writeOnePagePdf("lineart", 612, 792, content);
    }();
    runPeer(state, pdf);
}
BENCHMARK(BM_PeerStrokeLineArtPage)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
