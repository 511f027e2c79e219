// Times the image library on one A4 page at 150 dpi (1240 x 1754, 24 bits):
// BMP encoding, grey conversion, reduction to 8 and 1 bits and resampling to
// half size, then times ImageMagick's convert on the same page for the same
// operations and prints both with their ratio. convert's own cost of loading
// and saving the page is timed with a plain copy and taken off its figures.
//
// Set RENDOVA_CONVERT to choose the convert program (default: /usr/bin/convert
// when present, else convert on the PATH).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "image/ImageTransforms.h"
#include "image/OctreeQuantizer.h"
#include "image/RasterImage.h"

namespace {

using namespace rendova;

constexpr int32_t kPageWidth = 1240;
constexpr int32_t kPageHeight = 1754;

// A small deterministic generator, so that every run times the same page.
struct Lcg {
    uint32_t state = 12345;
    uint32_t next(uint32_t range) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % range;
    }
};

void fillBox(RasterImage& page, int32_t left, int32_t top, int32_t width, int32_t height, RgbQuad colour) {
    for (int32_t y = top; y < top + height; ++y)
        for (int32_t x = left; x < left + width; ++x)
            page.WriteColor(x, kPageHeight - 1 - y, colour);
}

// A rendered page in miniature: white paper, a coloured heading, lines of
// anti-aliased "words" made of glyph-like strokes, and a photograph-like block
// with thousands of colours.
void makePage(RasterImage& page) {
    page.Create(kPageWidth, kPageHeight, 24, kFormatBmp);
    page.FillBytes(255);
    Lcg random;
    fillBox(page, 150, 120, 700, 30, RgbQuad{120, 40, 20, 0});
    for (int32_t top = 200; top < 1150; top += 22) {
        int32_t x = 150;
        while (x < 1090) {
            const int32_t wordWidth = 20 + int32_t(random.next(60));
            for (int32_t stroke = x; stroke < std::min(x + wordWidth, 1090); stroke += 5) {
                fillBox(page, stroke, top, 2, 11, RgbQuad{0, 0, 0, 0});
                fillBox(page, stroke + 2, top, 1, 11, RgbQuad{128, 128, 128, 0});  // the anti-aliased edge
                if (random.next(3) == 0)
                    fillBox(page, stroke, top + 5, 4, 2, RgbQuad{0, 0, 0, 0});
            }
            x += wordWidth + 8;
        }
    }
    for (int32_t y = 1200; y < 1650; ++y) {
        for (int32_t x = 150; x < 1090; ++x) {
            const auto red = uint8_t((x * 255) / 1240);
            const auto green = uint8_t((y - 1200) * 255 / 450);
            const auto blue = uint8_t(128 + ((x * 7 + y * 3) % 97) - 48);
            page.WriteColor(x, kPageHeight - 1 - y, RgbQuad{blue, green, red, 0});
        }
    }
}

const RasterImage& page() {
    static RasterImage image;
    if (!image.HasPixels())
        makePage(image);
    return image;
}

// Every transform replaces the image it works on, so each iteration starts
// from a fresh copy of the page, made outside the timed part.
template <class Work>
void timeOnCopies(benchmark::State& state, Work work) {
    RasterImage image;
    for (auto _ : state) {
        state.PauseTiming();
        image.copy(page());
        state.ResumeTiming();
        if (!work(image))
            state.SkipWithError("the operation failed");
    }
}

void bmpEncode(benchmark::State& state) {
    RasterImage image;
    image.copy(page());
    for (auto _ : state) {
        uint8_t* buffer = nullptr;
        int32_t size = 0;
        if (!image.EncodeToMemory(buffer, size, kFormatBmp)) {
            state.SkipWithError(image.LastErrorText());
            break;
        }
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
    }
}

void grey(benchmark::State& state) {
    timeOnCopies(state, [](RasterImage& image) { return ConvertToGrey(image); });
}

void reduceTo8Standard(benchmark::State& state) {
    timeOnCopies(state, [](RasterImage& image) { return ReduceBitDepth(image, 8, false, nullptr, 0); });
}

// The page writer's way to 256 colours: an octree palette, then the reduction
// with error diffusion.
void reduceTo8Octree(benchmark::State& state) {
    timeOnCopies(state, [](RasterImage& image) {
        OctreeQuantizer quantizer(256, 8);
        quantizer.processImage(image.RowPointer(0) - 40 - image.PaletteBytes());
        RgbQuad palette[256] = {};
        quantizer.getPalette(palette);
        return ReduceBitDepth(image, 8, true, palette, quantizer.leafCount());
    });
}

void reduceTo1Diffused(benchmark::State& state) {
    timeOnCopies(state, [](RasterImage& image) { return ReduceBitDepth(image, 1, true, nullptr, 0); });
}

void halfSize(benchmark::State& state, int32_t mode) {
    timeOnCopies(
        state, [mode](RasterImage& image) { return Resample(image, kPageWidth / 2, kPageHeight / 2, mode); });
}

void turnRight(benchmark::State& state) {
    timeOnCopies(state, [](RasterImage& image) { return TurnRight(image); });
}

// --- Comparison with ImageMagick ------------------------------------------------

struct Comparison {
    const char* benchmark;
    const char* label;
    const char* convertArguments;  // between the input and the output file
    const char* outputExtension;
};

const Comparison kComparisons[] = {
    {"BmpEncode", "BMP encode", "", "bmp"},
    {"ConvertToGrey", "grey", "-colorspace Gray", "ppm"},
    {"ReduceTo8Standard", "8 bits, standard palette", "-dither None -remap netscape:", "ppm"},
    {"ReduceTo8Octree", "8 bits, octree + diffusion", "-colors 256", "ppm"},
    {"ReduceTo1Diffused", "1 bit, diffusion", "-monochrome", "ppm"},
    {"HalfNearest", "half size, nearest", "-sample 50%", "ppm"},
    {"HalfAverage", "half size, area average", "-scale 50%", "ppm"},
    {"HalfBicubic", "half size, bicubic", "-resize 50%", "ppm"},
    {"TurnRight", "turn 90", "-rotate 90", "ppm"},
};

class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_milliseconds[run.benchmark_name()] =
                    run.GetAdjustedRealTime() * 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::map<std::string, double>& milliseconds() const { return m_milliseconds; }

private:
    std::map<std::string, double> m_milliseconds;
};

std::string convertProgram() {
    if (const char* chosen = std::getenv("RENDOVA_CONVERT"); chosen != nullptr && *chosen != '\0')
        return chosen;
    if (access("/usr/bin/convert", X_OK) == 0)
        return "/usr/bin/convert";
    return "convert";
}

bool writePpm(const std::string& path, const RasterImage& image) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << image.GetWidth() << " " << image.GetHeight() << "\n255\n";
    std::vector<char> row(3 * size_t(image.GetWidth()));
    for (int32_t y = image.GetHeight() - 1; y >= 0; --y) {
        const uint8_t* in = image.RowPointer(y);
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            row[3 * size_t(x)] = char(in[3 * size_t(x) + 2]);
            row[3 * size_t(x) + 1] = char(in[3 * size_t(x) + 1]);
            row[3 * size_t(x) + 2] = char(in[3 * size_t(x)]);
        }
        file.write(row.data(), std::streamsize(row.size()));
    }
    return bool(file);
}

// The median wall time of a few runs of the command, in milliseconds; a
// negative value when it fails.
double timeCommand(const std::string& command) {
    constexpr int kRuns = 5;
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " > /dev/null 2>&1").c_str()) != 0)
            return -1.0;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[kRuns / 2];
}

void compareWithImageMagick(const std::map<std::string, double>& ours) {
    const std::string convert = convertProgram();
    if (std::system((convert + " -version > /dev/null 2>&1").c_str()) != 0) {
        std::printf("\nImageMagick's convert was not found; no comparison.\n");
        return;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/rendova-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::printf("\nNo temporary folder; no comparison.\n");
        return;
    }
    const std::string folder = pattern;
    const std::string input = folder + "/page.ppm";
    if (!writePpm(input, page())) {
        std::printf("\nCould not write %s; no comparison.\n", input.c_str());
        return;
    }
    const double baseline = timeCommand(convert + " '" + input + "' '" + folder + "/copy.ppm'");

    std::printf("\nPage %d x %d, 24 bits. convert: %s (median of 5 runs, with its own threads);\n",
                kPageWidth, kPageHeight, convert.c_str());
    std::printf(
        "its load + save of the page alone (convert in.ppm out.ppm): %.1f ms, taken off as 'net'.\n\n",
        baseline);
    std::printf("%-28s %10s %12s %10s %12s  %s\n", "operation", "ours ms", "convert ms", "net ms",
                "net / ours", "convert arguments");
    for (const Comparison& c : kComparisons) {
        const auto found = ours.find(c.benchmark);
        if (found == ours.end())
            continue;
        const double theirs = timeCommand(convert + " '" + input + "' " + c.convertArguments + " '" + folder +
                                          "/out." + c.outputExtension + "'");
        if (theirs < 0) {
            std::printf("%-28s %10.2f %12s\n", c.label, found->second, "failed");
            continue;
        }
        const double net = std::max(theirs - baseline, 0.0);
        std::printf("%-28s %10.2f %12.1f %10.1f %12.1f  %s\n", c.label, found->second, theirs, net,
                    net / found->second, c.convertArguments);
    }
    std::filesystem::remove_all(folder);
}

}  // namespace

BENCHMARK(bmpEncode)->Name("BmpEncode")->Unit(benchmark::kMillisecond);
BENCHMARK(grey)->Name("ConvertToGrey")->Unit(benchmark::kMillisecond);
BENCHMARK(reduceTo8Standard)->Name("ReduceTo8Standard")->Unit(benchmark::kMillisecond);
BENCHMARK(reduceTo8Octree)->Name("ReduceTo8Octree")->Unit(benchmark::kMillisecond);
BENCHMARK(reduceTo1Diffused)->Name("ReduceTo1Diffused")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(halfSize, nearest, kResampleNearest)->Name("HalfNearest")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(halfSize, average, kResampleAverage)->Name("HalfAverage")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(halfSize, bicubic, kResampleBicubic)->Name("HalfBicubic")->Unit(benchmark::kMillisecond);
BENCHMARK(turnRight)->Name("TurnRight")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    compareWithImageMagick(reporter.milliseconds());
    benchmark::Shutdown();
    return 0;
}
