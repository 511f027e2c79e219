// Times the JPEG (quality 75), PNG, TIFF (LZW), GIF and PCX encoders on one A4
// page at 150 dpi (1240 x 1754, 24 bits) written to a file, and ImageMagick's
// convert writing the same page from a PPM file with the same settings. Each
// row shows our time, convert's, convert's less its own cost of loading and
// saving the page (convert in.ppm out.ppm, the "Baseline" row), and the
// ratio of that net time to ours.
//
// GIF and PCX pages are 8-bit as the page writer makes them: "GifPage"
// times our quantizing (the octree of the page writer) and encoding beside
// convert quantizing and writing; "Gif8" and "Pcx8" time the encoders alone
// on the quantized page beside convert writing it from an 8-bit BMP (net of
// convert's loading and saving that BMP).
//
// Set RENDOVA_CONVERT to choose the convert program (default: /usr/bin/convert
// when present, else convert on the PATH).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/ImageTransforms.h"
#include "image/OctreeQuantizer.h"
#include "image/RasterImage.h"
#include "image/RasterImageJPG.h"

namespace {

using namespace rendova;

constexpr int32_t kPageWidth = 1240;
constexpr int32_t kPageHeight = 1754;
constexpr uint32_t kTiffLzw = 5;
constexpr int kCommandRuns = 5;

struct Random {
    uint32_t state = 2024;
    uint32_t next(uint32_t range) {
        state = state * 1103515245u + 12345u;
        return (state >> 9) % range;
    }
};

// A page as the renderer makes one: white paper, a coloured title bar,
// lines of anti-aliased word shapes, and a photograph-like block.
void paintPage(RasterImage& p) {
    p.Create(kPageWidth, kPageHeight, 24, kFormatUnknown);
    p.FillBytes(255);
    Random random;
    const auto put = [&](int32_t x, int32_t top, RgbQuad c) { p.WriteColor(x, kPageHeight - 1 - top, c); };
    for (int32_t y = 110; y < 150; ++y)
        for (int32_t x = 140; x < 1100; ++x)
            put(x, y, RgbQuad{150, 60, 30, 0});
    for (int32_t line = 200; line < 1200; line += 24) {
        for (int32_t x = 140; x < 1100;) {
            const int32_t word = 18 + int32_t(random.next(70));
            for (int32_t gx = x; gx < std::min(x + word, 1100); gx += 7) {
                // A glyph: a stem and a bowl, with grey edge pixels.
                for (int32_t y = line; y < line + 14; ++y) {
                    put(gx + 1, y, RgbQuad{30, 30, 30, 0});
                    put(gx, y, RgbQuad{160, 160, 160, 0});
                    if (y > line + 6 && y < line + 13) {
                        put(gx + 3, y, RgbQuad{60, 60, 60, 0});
                        put(gx + 4, y, RgbQuad{190, 190, 190, 0});
                    }
                }
            }
            x += word + 9;
        }
    }
    for (int32_t y = 1260; y < 1640; ++y) {
        for (int32_t x = 140; x < 1100; ++x) {
            const auto noise = int32_t(random.next(24));
            put(x, y,
                RgbQuad{uint8_t(std::min(255, (x - 140) / 4 + noise)),
                        uint8_t(std::min(255, (y - 1260) / 2 + noise)),
                        uint8_t(std::min(255, 90 + (x + y) % 97 + noise)), 0});
        }
    }
}

const RasterImage& page() {
    static RasterImage image;
    static const bool painted = (paintPage(image), true);
    (void)painted;
    return image;
}

// The page reduced to 256 colours as the page writer reduces GIF and PCX
// pages: the octree's palette, the nearest entry for every pixel.
void quantize(RasterImage& image) {
    RgbQuad palette[256] = {};
    OctreeQuantizer quantizer(256, 7);
    quantizer.processImage(image.info().pixels - 40);
    quantizer.getPalette(palette);
    ReduceBitDepth(image, 8, false, palette, 256);
}

const RasterImage& page8() {
    static RasterImage image(page(), true, false, false);
    static const bool reduced = (quantize(image), true);
    (void)reduced;
    return image;
}

std::string convertProgram() {
    if (const char* chosen = std::getenv("RENDOVA_CONVERT"); chosen != nullptr && *chosen != '\0')
        return chosen;
    if (access("/usr/bin/convert", X_OK) == 0)
        return "/usr/bin/convert";
    return "convert";
}

// The folder's name for the clean-up at exit, which runs after the static
// string that holds it may be gone.
char gFolderName[4096];

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(gFolderName, ignored);
}

// A folder for the files of this run, with the page as PPM for convert;
// removed at exit.
const std::string& folder() {
    static const std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "rendova-codecs-XXXXXX").string();
        if (pattern.size() >= sizeof gFolderName || mkdtemp(pattern.data()) == nullptr)
            return std::string();
        std::snprintf(gFolderName, sizeof gFolderName, "%s", pattern.c_str());
        std::atexit(removeFolder);
        std::ofstream file(pattern + "/page.ppm", std::ios::binary);
        file << "P6\n" << kPageWidth << " " << kPageHeight << "\n255\n";
        const RasterImage& p = page();
        std::vector<char> row(3 * size_t(kPageWidth));
        for (int32_t y = kPageHeight - 1; y >= 0; --y) {
            const uint8_t* in = p.RowPointer(y);
            for (size_t x = 0; x < size_t(kPageWidth); ++x) {
                row[3 * x] = char(in[3 * x + 2]);
                row[3 * x + 1] = char(in[3 * x + 1]);
                row[3 * x + 2] = char(in[3 * x]);
            }
            file.write(row.data(), std::streamsize(row.size()));
        }
        RasterImage eight(page8(), true, false, false);
        eight.Save((pattern + "/page8.bmp").c_str(), kFormatBmp);
        return pattern;
    }();
    return path;
}

// The median wall time of a few runs of the command in milliseconds, or -1.
double timeCommand(const std::string& command) {
    std::vector<double> times;
    for (int i = 0; i < kCommandRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " > /dev/null 2>&1").c_str()) != 0)
            return -1;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[kCommandRuns / 2];
}

// convert's own cost of reading and writing the page, measured once.
double baselineMilliseconds() {
    static const double baseline =
        timeCommand(convertProgram() + " '" + folder() + "/page.ppm' '" + folder() + "/copy.ppm'");
    return baseline;
}

// The same for the 8-bit page, read and written as BMP.
double baseline8Milliseconds() {
    static const double baseline =
        timeCommand(convertProgram() + " '" + folder() + "/page8.bmp' '" + folder() + "/copy8.bmp'");
    return baseline;
}

enum class Source {
    kPage,          // our encoder on the 24-bit page; convert from page.ppm
    kQuantized,     // we quantize the page, then encode; convert from page.ppm
    kEightBitPage,  // our encoder on the 8-bit page; convert from page8.bmp
};

// Times our encoder on a copy of the page with the settings, then convert
// with `arguments`, and reports both.
void encodeBeside(benchmark::State& state, uint32_t code, uint32_t option, const char* extension,
                  const std::string& arguments, Source source = Source::kPage) {
    if (folder().empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const RasterImage& original = source == Source::kEightBitPage ? page8() : page();
    const std::string ours = folder() + "/ours." + extension;
    double total = 0;
    for (auto _ : state) {
        RasterImage image(original, true, false, false);
        image.SetQuality(75);
        image.SetFormatOption(option, code);
        const auto start = std::chrono::steady_clock::now();
        if (source == Source::kQuantized)
            quantize(image);
        if (!image.Save(ours.c_str(), code)) {
            state.SkipWithError(image.LastErrorText());
            return;
        }
        total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    }
    const double oursMs = total / double(state.iterations());
    state.counters["ours_ms"] = oursMs;
    state.counters["ours_KB"] = double(std::filesystem::file_size(ours)) / 1024.0;

    const char* input = source == Source::kEightBitPage ? "/page8.bmp' " : "/page.ppm' ";
    const double theirs = timeCommand(convertProgram() + " '" + folder() + input + arguments + " '" +
                                      folder() + "/theirs." + extension + "'");
    if (theirs < 0) {
        state.SetLabel("convert failed or missing");
        return;
    }
    const double base = source == Source::kEightBitPage ? baseline8Milliseconds() : baselineMilliseconds();
    const double net = std::max(theirs - base, 0.0);
    state.counters["convert_ms"] = theirs;
    state.counters["convert_net_ms"] = net;
    state.counters["net/ours"] = net / oursMs;
    state.counters["convert_KB"] =
        double(std::filesystem::file_size(folder() + "/theirs." + extension)) / 1024.0;
    state.SetLabel("convert " + arguments);
}

void jpegBaseline(benchmark::State& state) {
    encodeBeside(state, kFormatJpeg, 0, "jpg", "-quality 75");
}

void jpegProgressive(benchmark::State& state) {
    // The page writer's settings: optimized Huffman tables, progressive.
    encodeBeside(state, kFormatJpeg, kJpegOptimize | kJpegProgressive, "jpg", "-quality 75 -interlace Plane");
}

void png(benchmark::State& state) {
    encodeBeside(state, kFormatPng, 0, "png", "");
}

void tiffLzw(benchmark::State& state) {
    encodeBeside(state, kFormatTiff, kTiffLzw, "tif", "-compress LZW -define tiff:predictor=2");
}

void gifPage(benchmark::State& state) {
    encodeBeside(state, kFormatGif, 0, "gif", "", Source::kQuantized);
}

void gif8(benchmark::State& state) {
    encodeBeside(state, kFormatGif, 0, "gif", "", Source::kEightBitPage);
}

void pcx8(benchmark::State& state) {
    encodeBeside(state, kFormatPcx, 0, "pcx", "", Source::kEightBitPage);
}

void pcx24(benchmark::State& state) {
    encodeBeside(state, kFormatPcx, 0, "pcx", "");
}

void baseline(benchmark::State& state) {
    for (auto _ : state) {
    }
    if (folder().empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const double ms = baselineMilliseconds();
    if (ms < 0) {
        state.SetLabel("convert failed or missing");
        return;
    }
    state.counters["convert_ms"] = ms;
    state.SetLabel("convert in.ppm out.ppm (load and save only)");
}

}  // namespace

BENCHMARK(jpegBaseline)->Name("JpegQ75")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(jpegProgressive)
    ->Name("JpegQ75OptimizedProgressive")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(png)->Name("Png")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(tiffLzw)->Name("TiffLzw")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(gifPage)->Name("GifPage")->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(gif8)->Name("Gif8")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(pcx8)->Name("Pcx8")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(pcx24)->Name("Pcx24")->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(baseline)->Name("Baseline")->Iterations(1);
