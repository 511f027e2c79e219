#pragma once

// Helpers of the JPEG, PNG and TIFF codec tests: test pictures, pixel dumps
// in ImageMagick's layouts, running the reference tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "image/FileImageStream.h"
#include "image/RasterImage.h"
#include "tests/image/ImageTestUtil.h"

namespace rendova::test {

inline bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

#define REQUIRE_TOOL(name)                \
    if (!::rendova::test::haveTool(name)) \
    GTEST_SKIP() << name << " is not installed"

// A file in the test output folder, named after the running test so that
// tests running as parallel processes never share one.
inline std::string outPath(const std::string& name) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return std::string(RENDOVA_TEST_OUTPUT_DIR) + "/" + info->test_suite_name() + "-" + info->name() + "-" +
           name;
}

inline bool run(const std::string& command) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    if (status != 0)
        ADD_FAILURE() << "failed: " << command;
    return status == 0;
}

// What the command prints on its standard output.
inline std::string capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return out;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        out.append(chunk, n);
    pclose(pipe);
    return out;
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// The pixels ImageMagick reads from `path` (first image), top row first,
// as "rgb", "rgba" or "gray" bytes.
inline Bytes magickPixels(const std::string& path, const char* layout, const std::string& options = "") {
    const std::string raw = path + "." + layout;
    if (!run("convert '" + path + "[0]' " + options + " -depth 8 " + layout + ":'" + raw + "'"))
        return {};
    return readFile(raw);
}

// Our pixels in the same layout (stored rows are bottom-up).
inline Bytes ourPixels(const RasterImage& image, bool withAlpha = false) {
    Bytes pixels;
    for (int32_t top = 0; top < image.GetHeight(); ++top) {
        const int32_t y = image.GetHeight() - 1 - top;
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RgbQuad c = image.ReadColor(x, y, true);
            pixels.push_back(c.red);
            pixels.push_back(c.green);
            pixels.push_back(c.blue);
            if (withAlpha)
                pixels.push_back(image.HasAlpha() ? image.ReadAlpha(x, y) : 255);
        }
    }
    return pixels;
}

// Index of the first differing byte, or -1.
inline long firstDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size())
        return long(std::min(a.size(), b.size()));
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return long(i);
    return -1;
}

// Peak signal-to-noise ratio in decibels of two equally long byte arrays.
inline double psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty())
        return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(a[i]) - double(b[i]);
        sum += d * d;
    }
    if (sum == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// A 24-bit picture with smooth gradients, a few hard edges and some texture.
inline void paintPicture(RasterImage& image, int32_t width, int32_t height) {
    image.Create(width, height, 24, kFormatUnknown);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            RgbQuad c;
            c.red = uint8_t(x * 255 / std::max(1, width - 1));
            c.green = uint8_t(y * 255 / std::max(1, height - 1));
            c.blue = uint8_t(((x / 8 + y / 8) & 1) ? 200 : 40);
            if (x > width / 3 && x < width / 2 && y > height / 3)
                c = RgbQuad{20, 20, 20, 0};
            image.WriteColor(x, y, c);
        }
    }
}

// A 24-bit picture without hard edges, as lossy coding keeps it well.
inline void paintSmooth(RasterImage& image, int32_t width, int32_t height) {
    image.Create(width, height, 24, kFormatUnknown);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            RgbQuad c;
            c.red = uint8_t(x * 255 / std::max(1, width - 1));
            c.green = uint8_t(y * 255 / std::max(1, height - 1));
            c.blue = uint8_t(128 + 100 * std::sin((x + y) / 9.0));
            image.WriteColor(x, y, c);
        }
    }
}

// A palette picture: index (x + 3y) mod `colours`, with a palette of
// distinct colours (or the grey ramp when `grey`).
inline void paintIndexed(RasterImage& image, int32_t width, int32_t height, int bits, bool grey) {
    image.Create(width, height, bits, kFormatUnknown);
    const uint32_t colours = image.GetColourCount();
    if (grey) {
        for (uint32_t i = 0; i < colours; ++i) {
            const auto v = uint8_t(i * 255 / (colours - 1));
            image.SetPaletteEntry(uint8_t(i), v, v, v);
        }
    } else {
        for (uint32_t i = 0; i < colours; ++i)
            image.SetPaletteEntry(uint8_t(i), uint8_t(i * 37 + 11), uint8_t(255 - i * 53),
                                  uint8_t(i * 91 + 7));
    }
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            image.WriteIndex(x, y, uint8_t((x + 3 * y + x * y / 7) % colours));
}

inline bool loadFile(RasterImage& image, const std::string& path, uint32_t code) {
    FileImageStream stream(path.c_str(), "rb");
    if (!stream.isOpen())
        return false;
    return image.Decode(&stream, code);
}

}  // namespace rendova::test
