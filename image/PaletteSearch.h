#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/RasterImage.h"

namespace rendova {

// The nearest-colour search of RasterImage::NearestPaletteIndex for loops over
// many pixels: the same answer for every colour (least squared distance over
// the important colours, or all colours used, the lowest index winning a tie).
// Two things make it fast. A cache of recent answers serves the runs of one
// colour that fill most of a page. And the colour cube is cut into 16 x 16 x 16
// cells; the first query in a cell lists the entries that can be nearest to any
// colour of the cell (those whose least distance to the cell is at most the
// smallest greatest distance of any entry), and later queries there look at
// that list only.
//
// It reads a copy of the palette taken at construction, so the image's palette
// must not change while it is used. Owns its tables; not thread-safe; does not
// throw except std::bad_alloc from its construction.
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
    static constexpr int kCellShift = 4;  // cells of 16 levels per channel
    static constexpr uint32_t kCells = 1u << (3 * (8 - kCellShift));
    static constexpr uint32_t kUnbuilt = 0xFFFFFFFF;

    uint8_t search(uint8_t blue, uint8_t green, uint8_t red);
    void buildCell(uint32_t cell, uint8_t blue, uint8_t green, uint8_t red);

    RgbQuad m_entries[256] = {};
    uint32_t m_count = 0;
    std::unique_ptr<uint32_t[]> m_keys;
    std::unique_ptr<uint8_t[]> m_values;
    // Per cell: where its candidates start in m_candidates (kUnbuilt before
    // its first query) and how many there are.
    std::unique_ptr<uint32_t[]> m_cellStart;
    std::unique_ptr<uint16_t[]> m_cellCount;
    std::vector<uint8_t> m_candidates;
};

}  // namespace rendova
