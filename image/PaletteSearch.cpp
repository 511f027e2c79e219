#include "image/PaletteSearch.h"

#include <cstring>

namespace rendova {

PaletteSearch::PaletteSearch(const RasterImage& image)
    : m_keys(new uint32_t[size_t(1) << kCacheBits]()), m_values(new uint8_t[size_t(1) << kCacheBits]()) {
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
}

uint8_t PaletteSearch::search(uint8_t blue, uint8_t green, uint8_t red) const {
    int32_t best = 0x7FFFFFFF;
    uint8_t bestIndex = 0;
    for (uint32_t i = 0; i < m_count; ++i) {
        const int32_t dr = int32_t(m_entries[i].red) - red;
        int32_t distance = dr * dr;
        // A partial sum already at the best cannot win (ties keep the lower index).
        if (distance >= best)
            continue;
        const int32_t dg = int32_t(m_entries[i].green) - green;
        distance += dg * dg;
        if (distance >= best)
            continue;
        const int32_t db = int32_t(m_entries[i].blue) - blue;
        distance += db * db;
        if (distance < best) {
            best = distance;
            bestIndex = uint8_t(i);
            if (distance == 0)
                break;
        }
    }
    return bestIndex;
}

}  // namespace rendova
