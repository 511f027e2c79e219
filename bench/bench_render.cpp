// Whole pages, the project's main performance figure: a fixed set of corpus
// pages rendered at 72, 150 and 300 dots per inch by the renderer facade
// (open, render, close, as the conversion job does for each document) and by
// the peer, `mutool draw` at the same resolution, single-threaded, in the
// same run. The peer renders without output (no -o), so that no encoding is
// timed; its process start and the opening of a document are measured once
// on a trivial page (1 x 1 point, nothing drawn) and subtracted from each of
// its pages. The table at the end gives pages per second for both and their
// ratio (ours over the peer's: above 1 is faster), each from at least two
// seconds of rendering.
//
// The set holds corpus pages that the engine draws completely so far:
// vector art, text in embedded and in substituted fonts, and image-heavy
// pages: DCT photos in RGB and CMYK, LZW samples, and a page of hundreds of
// inline images; and built pages of shadings and patterns: a full-page
// axial and a full-page radial gradient, a mesh of 64 Coons patches and a
// tiling pattern of some 7500 cells.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/OnePagePdf.h"
#include "engine/raster/PdfRenderer.h"

using namespace rendova;

namespace {

struct BenchPage {
    const char* file;
    int page;
};

constexpr BenchPage kPages[] = {
    {"made-gs-tiger.pdf", 1},
    {"made-gs-escher.pdf", 1},
    {"damaged-xref-offsets-shifted.pdf", 1},
    {"deb-r-intro.pdf", 10},
    {"made-gs-waterfal-std14.pdf", 1},
    // Images: an RGB photo (DCT), a CMYK DCT image, six 900 x 900 CMYK DCT
    // images, LZW samples, and text drawn as some 2000 small images, 1800 of
    // them inline.
    {"deb-prawn-manual.pdf", 86},
    {"made-im-cmyk-dct.pdf", 1},
    {"gh-ocr-cmyk-photoshop.pdf", 1},
    {"made-im-lzw.pdf", 1},
    {"gh-qpdf-inline-images-gs550.pdf", 2},
    {"built:axial", 1},
    {"built:radial", 1},
    {"built:patches", 1},
    {"built:tiling", 1},
};
constexpr int kPageCount = sizeof kPages / sizeof kPages[0];

// The built pages of the set, letter-sized, written once to the temporary
// folder.
std::string builtPage(const std::string& name) {
    const std::string ramp = "<< /FunctionType 2 /Domain [0 1] /C0 [0.9 0.1 0.1] /C1 [0.1 0.2 0.9] /N 1 >>";
    if (name == "axial")
        return bench::writeOnePagePdf(
            name, 612, 792, "/S sh",
            "<< /Shading << /S << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 612 "
            "792] /Extend [true true] /Function " +
                ramp + " >> >> >>");
    if (name == "radial")
        return bench::writeOnePagePdf(
            name, 612, 792, "/S sh",
            "<< /Shading << /S << /ShadingType 3 /ColorSpace /DeviceRGB /Coords [250 450 "
            "0 306 396 520] /Extend [true true] /Function " +
                ramp + " >> >> >>");
    if (name == "patches") {
        // 8 x 8 patches with wavy sides and colours that vary per corner.
        std::string data;
        auto byte = [&](int v) { data += static_cast<char>(std::clamp(v, 0, 255)); };
        for (int row = 0; row < 8; ++row) {
            for (int col = 0; col < 8; ++col) {
                const int x = col * 32, y = row * 32;
                byte(0);
                const int points[12][2] = {{0, 0},   {3, 10},  {-3, 21}, {0, 32}, {10, 35}, {21, 29},
                                           {32, 32}, {29, 21}, {35, 10}, {32, 0}, {21, -3}, {10, 3}};
                for (const auto& pt : points) {
                    byte(x + pt[0] * 7 / 8);
                    byte(y + pt[1] * 7 / 8);
                }
                for (int c = 0; c < 4; ++c) {
                    byte(col * 32 + c * 40);
                    byte(row * 32 + c * 20);
                    byte(255 - (row + col) * 16);
                }
            }
        }
        return bench::writeOnePagePdf(
            name, 612, 792, "/S sh", "<< /Shading << /S 5 0 R >> >>",
            {{5,
              "<< /ShadingType 6 /ColorSpace /DeviceRGB /BitsPerCoordinate 8 "
              "/BitsPerComponent 8 /BitsPerFlag 8 /Decode [0 612 0 792 0 1 0 1 0 1] >>",
              data}});
    }
    // Cells of 8 points with two squares each over the page.
    const std::string cell = "0.2 0.5 0.8 rg 0 0 4 4 re f 0.9 0.6 0.1 rg 4 4 4 4 re f";
    return bench::writeOnePagePdf(
        name, 612, 792, "/Pattern cs /P scn 0 0 612 792 re f", "<< /Pattern << /P 5 0 R >> >>",
        {{5,
          "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 8 8] /XStep 8 /YStep 8 "
          "/Resources << >> >>",
          cell}});
}

std::string corpusPath(const char* file) {
    const std::string name = file;
    if (name.rfind("built:", 0) == 0) {
        static std::map<std::string, std::string> written;
        std::string& path = written[name];
        if (path.empty())
            path = builtPage(name.substr(6));
        return path;
    }
    return std::string(RENDOVA_CORPUS_DIR) + "/" + file;
}

bool corpusPresent() {
    for (const BenchPage& p : kPages)
        if (!std::filesystem::exists(corpusPath(p.file)))
            return false;
    return true;
}

bool peerPresent() {
    static const bool present = std::system("mutool -v > /dev/null 2>&1") == 0;
    return present;
}

// Pages per second by resolution, filled by the benchmarks, printed at exit.
struct Summary {
    std::map<int, double> ours;
    std::map<int, double> peer;
    std::map<int, double> peerStartup;
    // Milliseconds per page, by resolution and page of the set.
    std::map<int, std::vector<double>> oursPage;
    std::map<int, std::vector<double>> peerPage;

    ~Summary() {
        if (ours.empty())
            return;
        std::printf("\nPages per second (%d corpus pages, single-threaded):\n", kPageCount);
        std::printf("  %5s  %12s  %12s  %7s   %s\n", "dpi", "ours", "mutool", "ratio",
                    "(mutool start-up subtracted)");
        for (const auto& [dpi, rate] : ours) {
            const auto it = peer.find(dpi);
            if (it == peer.end() || it->second <= 0) {
                std::printf("  %5d  %12.1f  %12s  %7s\n", dpi, rate, "-", "-");
                continue;
            }
            std::printf("  %5d  %12.1f  %12.1f  %7.2f   %.1f ms\n", dpi, rate, it->second, rate / it->second,
                        peerStartup[dpi] * 1000);
        }
        std::printf("\nMilliseconds per page (ours / mutool):\n  %-36s", "page");
        for (const auto& entry : ours)
            std::printf("  %15d", entry.first);
        std::printf("\n");
        for (int i = 0; i < kPageCount; ++i) {
            std::printf("  %-32s p%-3d", kPages[i].file, kPages[i].page);
            for (const auto& entry : ours) {
                const int dpi = entry.first;
                const double a = oursPage[dpi].empty() ? 0 : oursPage[dpi][i];
                const double b = peerPage[dpi].empty() ? 0 : peerPage[dpi][i];
                std::printf("  %7.1f /%6.1f", a, b);
            }
            std::printf("\n");
        }
    }
};
Summary summary;

// A run's figures for the summary: pages per second over `seconds`, and the
// seconds per page summed over the iterations as milliseconds per page. The
// last call is the measured run; earlier ones only size it.
void recordRun(benchmark::State& state, double seconds, std::vector<double> perPage, double& rate,
               std::vector<double>& pageMs) {
    const double pages = static_cast<double>(state.iterations()) * kPageCount;
    state.counters["pages/s"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    rate = pages / seconds;
    for (double& t : perPage)
        t = t * 1000 / static_cast<double>(state.iterations());
    pageMs = std::move(perPage);
}

void BM_RenderOurs(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    if (!corpusPresent()) {
        state.SkipWithError("corpus not present");
        return;
    }
    // One facade for the run: the settings object lives as long as it does,
    // as in the library, where the conversion job's facade holds it.
    PdfRenderer renderer;
    std::vector<double> perPage(kPageCount, 0.0);
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < kPageCount; ++i) {
            const BenchPage& p = kPages[i];
            const auto pageStart = std::chrono::steady_clock::now();
            if (renderer.openDocument(corpusPath(p.file).c_str(), nullptr, nullptr) != 1) {
                state.SkipWithError("open failed");
                return;
            }
            renderer.setOption(PdfRenderer::kOptionResolution, dpi, dpi);
            if (renderer.renderPage(p.page) != 1) {
                state.SkipWithError("render failed");
                return;
            }
            int size = 0;
            benchmark::DoNotOptimize(renderer.getBitmap(size));
            renderer.closeDocument();
            perPage[i] += std::chrono::duration<double>(std::chrono::steady_clock::now() - pageStart).count();
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    recordRun(state, seconds, perPage, summary.ours[dpi], summary.oursPage[dpi]);
}
BENCHMARK(BM_RenderOurs)
    ->Arg(72)
    ->Arg(150)
    ->Arg(300)
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Seconds of one `mutool draw` run of page `page` at dpi, without output.
double timePeer(const std::string& file, int page, int dpi) {
    const std::string command = "mutool draw -q -r " + std::to_string(dpi) + " '" + file + "' " +
                                std::to_string(page) + " > /dev/null 2>&1";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The peer's process start and document opening: the median of runs on a
// page of 1 x 1 point with empty content.
double peerStartup(int dpi) {
    static const std::string trivial = bench::writeOnePagePdf("trivial", 1, 1, "");
    std::vector<double> runs;
    for (int i = 0; i < 15; ++i)
        runs.push_back(timePeer(trivial, 1, dpi));
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

void BM_RenderPeer(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    if (!corpusPresent()) {
        state.SkipWithError("corpus not present");
        return;
    }
    if (!peerPresent()) {
        state.SkipWithError("mutool is not installed");
        return;
    }
    const double startup = peerStartup(dpi);
    summary.peerStartup[dpi] = startup;
    double seconds = 0;
    std::vector<double> perPage(kPageCount, 0.0);
    for (auto _ : state) {
        double total = 0;
        for (int i = 0; i < kPageCount; ++i) {
            const double t = timePeer(corpusPath(kPages[i].file), kPages[i].page, dpi);
            if (t < 0) {
                state.SkipWithError("mutool failed");
                return;
            }
            const double page = std::max(t - startup, 1e-6);
            perPage[i] += page;
            total += page;
        }
        state.SetIterationTime(total);
        seconds += total;
    }
    recordRun(state, seconds, perPage, summary.peer[dpi], summary.peerPage[dpi]);
}
BENCHMARK(BM_RenderPeer)
    ->Arg(72)
    ->Arg(150)
    ->Arg(300)
    ->MinTime(2.0)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
