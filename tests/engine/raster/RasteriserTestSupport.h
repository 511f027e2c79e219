#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/raster/Rasteriser.h"

namespace rendova::test {

inline void addRect(RasterPath& path, double x0, double y0, double x1, double y1) {
    path.moveTo(x0, y0);
    path.lineTo(x1, y0);
    path.lineTo(x1, y1);
    path.lineTo(x0, y1);
    path.close();
}

inline std::unique_ptr<RasterPattern> solid(uint8_t r, uint8_t g, uint8_t b) {
    const uint8_t c[3] = {r, g, b};
    return std::make_unique<RasterSolidColor>(c);
}

// Red, green, blue of pixel (x, y) (grey modes: the first byte only).
inline std::vector<int> pixel(const RasterBitmap& bitmap, int x, int y) {
    uint8_t c[3] = {0, 0, 0};
    bitmap.getPixel(x, y, c);
    if (bitmap.mode() <= rasterMono8)
        return {c[0]};
    return {c[0], c[1], c[2]};
}

inline int grey(const RasterBitmap& bitmap, int x, int y) {
    uint8_t c[3] = {0, 0, 0};
    bitmap.getPixel(x, y, c);
    return c[0];
}

inline int alphaAt(const RasterBitmap& bitmap, int x, int y) {
    return bitmap.alpha()[y * bitmap.width() + x];
}

// The whole memory block and the alpha plane, for comparing two renderings.
inline std::vector<uint8_t> snapshot(const RasterBitmap& bitmap) {
    std::vector<uint8_t> bytes(bitmap.block(), bitmap.block() + bitmap.blockSize());
    if (bitmap.alpha())
        bytes.insert(bytes.end(), bitmap.alpha(),
                     bitmap.alpha() + static_cast<size_t>(bitmap.width()) * bitmap.height());
    return bytes;
}

inline void clearTo(Rasteriser& r, uint8_t v, uint8_t alpha = 255) {
    const uint8_t c[3] = {v, v, v};
    r.clear(c, alpha);
    r.resetModifiedBox();
}

}  // namespace rendova::test
