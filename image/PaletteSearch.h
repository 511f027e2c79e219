#pragma once

#include <cstdint>
#include <memory>

#include "image/RasterImage.h"

namespace rendova {

// The nearest-colour search of RasterImage::NearestPaletteIndex for loops over
// many pixels: the same answer for every colour (least squared distance over
// the important colours, or all colours used, the lowest index winning a tie),
// with a cache of recent answers in place of the image's one-entry cache.
// It reads a copy of the palette taken at construction, so the image's
// palette must not change while it is used. Owns its tables; not thread-safe;
// does not throw except std::bad_alloc from its construction.
class PaletteSearch {
public:
    explicit PaletteSearch(const RasterImage& image);

    uint8_t nearest(uint8_t blue, uint8_t green, uint8_t red) {
        const uint32_t key = kValid | uint32_t(red) << 16 | uint32_t(green) << 8 | blue;
        // Fibonacci hashing spreads neighbouring colours over the table.
        const uint32_t slot = (key * 2654435761u) >> (32 - kCacheBits);
        if (m_keys[slot] != key) {
            m_keys[slot] = key;
            m_values[slot] = search(blue, green, red);
        }
        return m_values[slot];
    }

    const RgbQuad& entry(uint8_t index) const { return m_entries[index]; }

private:
    static constexpr int kCacheBits = 12;
    static constexpr uint32_t kValid = 0x01000000;

    uint8_t search(uint8_t blue, uint8_t green, uint8_t red) const;

    RgbQuad m_entries[256] = {};
    uint32_t m_count = 0;
    std::unique_ptr<uint32_t[]> m_keys;
    std::unique_ptr<uint8_t[]> m_values;
};

}  // namespace rendova
