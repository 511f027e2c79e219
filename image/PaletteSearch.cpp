#include "image/PaletteSearch.h"

#include <algorithm>
#include <cstring>

namespace rendova {

PaletteSearch::PaletteSearch(const RasterImage& image)
    : m_keys(new uint32_t[size_t(1) << kCacheBits]()),
      m_values(new uint8_t[size_t(1) << kCacheBits]()),
      m_cellStart(new uint32_t[kCells]),
      m_cellCount(new uint16_t[kCells]()) {
    std::fill(m_cellStart.get(), m_cellStart.get() + kCells, kUnbuilt);
    const RgbQuad* palette = image.GetPalette();
    if (palette == nullptr)
        return;
    uint32_t count = image.GetColourCount();
    if (count > 256)
        count = 256;
    std::memcpy(m_entries, palette, 4 * size_t(count));
    // The important colours, when given, limit the search, as in the image's own search.
    const uint32_t important = image.header().clrImportant;
    m_count = (important != 0 && important < count) ? important : count;
    // Room for every cell's list, so that building one never moves the others.
    m_candidates.reserve(size_t(kCells) * m_count);
}

void PaletteSearch::buildCell(uint32_t cell, uint8_t blue, uint8_t green, uint8_t red) {
    const int32_t cellSize = 1 << kCellShift;
    const int32_t low[3] = {blue & ~(cellSize - 1), green & ~(cellSize - 1), red & ~(cellSize - 1)};
    int32_t leastDistance[256];
    int32_t bound = 0x7FFFFFFF;
    for (uint32_t i = 0; i < m_count; ++i) {
        const int32_t value[3] = {m_entries[i].blue, m_entries[i].green, m_entries[i].red};
        int32_t least = 0;
        int32_t greatest = 0;
        for (int c = 0; c < 3; ++c) {
            const int32_t lowEdge = low[c];
            const int32_t highEdge = low[c] + cellSize - 1;
            const int32_t outside = value[c] < lowEdge    ? lowEdge - value[c]
                                    : value[c] > highEdge ? value[c] - highEdge
                                                          : 0;
            const int32_t far = std::max(value[c] - lowEdge, highEdge - value[c]);
            least += outside * outside;
            greatest += far * far;
        }
        leastDistance[i] = least;
        bound = std::min(bound, greatest);
    }
    m_cellStart[cell] = uint32_t(m_candidates.size());
    for (uint32_t i = 0; i < m_count; ++i) {
        if (leastDistance[i] <= bound)
            m_candidates.push_back(uint8_t(i));
    }
    m_cellCount[cell] = uint16_t(m_candidates.size() - m_cellStart[cell]);
}

uint8_t PaletteSearch::search(uint8_t blue, uint8_t green, uint8_t red) {
    if (m_count == 0)
        return 0;
    const uint32_t cell = uint32_t(red >> kCellShift) << (2 * (8 - kCellShift)) |
                          uint32_t(green >> kCellShift) << (8 - kCellShift) | uint32_t(blue >> kCellShift);
    if (m_cellStart[cell] == kUnbuilt)
        buildCell(cell, blue, green, red);
    // Every entry that can be nearest to a colour of this cell is listed, in
    // index order, so the first least distance among them is the answer of
    // a search over the whole palette.
    const uint8_t* candidate = m_candidates.data() + m_cellStart[cell];
    const uint8_t* end = candidate + m_cellCount[cell];
    int32_t best = 0x7FFFFFFF;
    uint8_t bestIndex = 0;
    for (; candidate != end; ++candidate) {
        const RgbQuad& e = m_entries[*candidate];
        const int32_t db = int32_t(e.blue) - blue;
        const int32_t dg = int32_t(e.green) - green;
        const int32_t dr = int32_t(e.red) - red;
        const int32_t distance = db * db + dg * dg + dr * dr;
        if (distance < best) {
            best = distance;
            bestIndex = *candidate;
            if (distance == 0)
                break;
        }
    }
    return bestIndex;
}

}  // namespace rendova
