#pragma once

// Helpers of the transform tests: patterned images, pixel comparisons and
// PPM files for the comparisons with ImageMagick.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/RasterImage.h"

namespace rendova::test {

// A pattern no transform maps onto itself by accident.
inline uint8_t patternValue(int32_t x, int32_t y) {
    return uint8_t(x * 7 + y * 13 + x * y * 3 + (x ^ y));
}

// An image whose pixels follow the pattern: indices modulo the palette size
// (with a palette of distinct colours) or blue, green, red bytes at 24 bits.
inline void patternImage(RasterImage& image, int32_t width, int32_t height, int32_t bits) {
    image.Create(width, height, bits, kFormatBmp);
    const uint32_t colours = image.GetColourCount();
    for (uint32_t i = 0; i < colours; ++i)
        image.SetPaletteEntry(uint8_t(i), uint8_t(i), uint8_t(255 - i), uint8_t(i * 3));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t v = patternValue(x, y);
            if (colours != 0)
                image.WriteIndex(x, y, uint8_t(v % colours));
            else
                image.WriteColor(x, y, RgbQuad{v, uint8_t(v + 85), uint8_t(v * 5), 0});
        }
    }
}

// The pixel as one comparable number: the index, or the colour bytes.
inline uint32_t pixelValue(const RasterImage& image, int32_t x, int32_t y) {
    if (image.HasPalette())
        return image.ReadIndex(x, y);
    const RgbQuad c = image.ReadColor(x, y, false);
    return uint32_t(c.blue) | uint32_t(c.green) << 8 | uint32_t(c.red) << 16;
}

// True when every padding bit after the last pixel of every row is zero.
inline bool rowPaddingIsClear(const RasterImage& image) {
    const size_t usedBits = size_t(image.GetWidth()) * size_t(image.GetBpp());
    for (int32_t y = 0; y < image.GetHeight(); ++y) {
        const uint8_t* row = image.RowPointer(y);
        for (size_t bit = usedBits; bit < size_t(image.GetRowStride()) * 8; ++bit) {
            if ((row[bit / 8] >> (7 - bit % 8)) & 1)
                return false;
        }
    }
    return true;
}

// A binary PPM (P6) or PGM (P5) image, rows top to bottom.
struct Netpbm {
    int32_t width = 0;
    int32_t height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;

    const uint8_t* at(int32_t x, int32_t topDownRow) const {
        return pixels.data() + (size_t(topDownRow) * size_t(width) + size_t(x)) * size_t(channels);
    }
};

inline bool readNetpbm(const std::string& path, Netpbm& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::string magic;
    file >> magic;
    if (magic != "P6" && magic != "P5")
        return false;
    out.channels = magic == "P6" ? 3 : 1;
    int values[3];
    for (int& v : values) {
        file >> std::ws;
        while (file.peek() == '#') {
            std::string comment;
            std::getline(file, comment);
            file >> std::ws;
        }
        file >> v;
    }
    if (values[2] != 255)
        return false;
    file.get();
    out.width = values[0];
    out.height = values[1];
    out.pixels.resize(size_t(out.width) * size_t(out.height) * size_t(out.channels));
    file.read(reinterpret_cast<char*>(out.pixels.data()), std::streamsize(out.pixels.size()));
    return bool(file);
}

inline bool writePpm(const std::string& path, const RasterImage& image) {
    std::ofstream file(path, std::ios::binary);
    file << "P6\n" << image.GetWidth() << " " << image.GetHeight() << "\n255\n";
    for (int32_t row = image.GetHeight() - 1; row >= 0; --row) {
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RgbQuad c = image.ReadColor(x, row, false);
            const char rgb[3] = {char(c.red), char(c.green), char(c.blue)};
            file.write(rgb, 3);
        }
    }
    return bool(file);
}

inline bool haveImageMagick() {
    return std::system("command -v convert > /dev/null 2>&1") == 0;
}

inline std::string testOutputDir(const std::string& sub) {
    const std::string dir = std::string(RENDOVA_TEST_OUTPUT_DIR) + "/" + sub;
    std::filesystem::create_directories(dir);
    return dir;
}

inline bool run(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

}  // namespace rendova::test
