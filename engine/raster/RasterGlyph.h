#pragma once

#include <cstdint>

namespace rendova {

// One glyph bitmap as the glyph caches hand it to the rasteriser. The bitmap's
// origin lies xOffset pixels right and yOffset pixels down of its top-left
// corner. An anti-aliased glyph has one coverage byte per pixel; any other
// has one bit per pixel in rows of (width + 7) >> 3 bytes, most significant
// bit leftmost. When ownsPixels is set the receiver frees the pixels with
// memFree; otherwise they belong to the cache that made the glyph.
struct RasterGlyph {
    int xOffset = 0;
    int yOffset = 0;
    int width = 0;
    int height = 0;
    int antialiased = 0;
    uint8_t* pixels = nullptr;
    int ownsPixels = 0;
};

}  // namespace rendova
