// The palette operations of RasterImage: entries, standard tables, grey
// palettes, index exchange and the nearest-colour search with its cache.
#include <cstring>
#include <utility>

#include "image/DibPixels.h"
#include "image/RasterImage.h"

namespace rendova {

namespace {

// clang-format off
// The system's standard 16-colour table, as RRGGBB.
constexpr uint32_t kFixedPalette16[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

// The standard 256-colour table, as RRGGBB: the twenty system colours at both
// ends, ramps of every hue between them, and a grey ramp at 226..245.
constexpr uint32_t kFixedPalette256[256] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0xC0DCC0, 0xA6CAF0, 0xFFF0D4, 0xFFE2B1, 0xFFD48E, 0xFFC66B, 0xFFB848, 0xFFAA25,
    0xFFAA00, 0xDC9200, 0xB97A00, 0x966200, 0x734A00, 0x503200, 0xFFE3D4, 0xFFC7B1,
    0xFFAB8E, 0xFF8F6B, 0xFF7348, 0xFF5725, 0xFF5500, 0xDC4900, 0xB93D00, 0x963100,
    0x732500, 0x501900, 0xFFD4D4, 0xFFB1B1, 0xFF8E8E, 0xFF6B6B, 0xFF4848, 0xFF2525,
    0xFE0000, 0xDC0000, 0xB90000, 0x960000, 0x730000, 0x500000, 0xFFD4E3, 0xFFB1C7,
    0xFF8EAB, 0xFF6B8F, 0xFF4873, 0xFF2557, 0xFF0055, 0xDC0049, 0xB9003D, 0x960031,
    0x730025, 0x500019, 0xFFD4F0, 0xFFB1E2, 0xFF8ED4, 0xFF6BC6, 0xFF48B8, 0xFF25AA,
    0xFF00AA, 0xDC0092, 0xB9007A, 0x960062, 0x73004A, 0x500032, 0xFFD4FF, 0xFFB1FF,
    0xFF8EFF, 0xFF6BFF, 0xFF48FF, 0xFF25FF, 0xFE00FE, 0xDC00DC, 0xB900B9, 0x960096,
    0x730073, 0x500050, 0xF0D4FF, 0xE2B1FF, 0xD48EFF, 0xC66BFF, 0xB848FF, 0xAA25FF,
    0xAA00FF, 0x9200DC, 0x7A00B9, 0x620096, 0x4A0073, 0x320050, 0xE3D4FF, 0xC7B1FF,
    0xAB8EFF, 0x8F6BFF, 0x7348FF, 0x5725FF, 0x5500FF, 0x4900DC, 0x3D00B9, 0x310096,
    0x250073, 0x190050, 0xD4D4FF, 0xB1B1FF, 0x8E8EFF, 0x6B6BFF, 0x4848FF, 0x2525FF,
    0x0000FE, 0x0000DC, 0x0000B9, 0x000096, 0x000073, 0x000050, 0xD4E3FF, 0xB1C7FF,
    0x8EABFF, 0x6B8FFF, 0x4873FF, 0x2557FF, 0x0055FF, 0x0049DC, 0x003DB9, 0x003196,
    0x002573, 0x001950, 0xD4F0FF, 0xB1E2FF, 0x8ED4FF, 0x6BC6FF, 0x48B8FF, 0x25AAFF,
    0x00AAFF, 0x0092DC, 0x007AB9, 0x006296, 0x004A73, 0x003250, 0xD4FFFF, 0xB1FFFF,
    0x8EFFFF, 0x6BFFFF, 0x48FFFF, 0x25FFFF, 0x00FEFE, 0x00DCDC, 0x00B9B9, 0x009696,
    0x007373, 0x005050, 0xD4FFF0, 0xB1FFE2, 0x8EFFD4, 0x6BFFC6, 0x48FFB8, 0x25FFAA,
    0x00FFAA, 0x00DC92, 0x00B97A, 0x009662, 0x00734A, 0x005032, 0xD4FFE3, 0xB1FFC7,
    0x8EFFAB, 0x6BFF8F, 0x48FF73, 0x25FF57, 0x00FF55, 0x00DC49, 0x00B93D, 0x009631,
    0x007325, 0x005019, 0xD4FFD4, 0xB1FFB1, 0x8EFF8E, 0x6BFF6B, 0x48FF48, 0x25FF25,
    0x00FE00, 0x00DC00, 0x00B900, 0x009600, 0x007300, 0x005000, 0xE3FFD4, 0xC7FFB1,
    0xABFF8E, 0x8FFF6B, 0x73FF48, 0x57FF25, 0x55FF00, 0x49DC00, 0x3DB900, 0x319600,
    0x257300, 0x195000, 0xF0FFD4, 0xE2FFB1, 0xD4FF8E, 0xC6FF6B, 0xB8FF48, 0xAAFF25,
    0xAAFF00, 0x92DC00, 0x7AB900, 0x629600, 0x4A7300, 0x325000, 0xFFFFD4, 0xFFFFB1,
    0xFFFF8E, 0xFFFF6B, 0xFFFF48, 0xFFFF25, 0xFEFE00, 0xDCDC00, 0xB9B900, 0x969600,
    0x737300, 0x505000, 0xF2F2F2, 0xE6E6E6, 0xDADADA, 0xCECECE, 0xC2C2C2, 0xB6B6B6,
    0xAAAAAA, 0x9E9E9E, 0x929292, 0x868686, 0x7A7A7A, 0x6E6E6E, 0x626262, 0x565656,
    0x4A4A4A, 0x3E3E3E, 0x323232, 0x262626, 0x1A1A1A, 0x0E0E0E, 0xFFFBF0, 0xA0A0A4,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};
// clang-format on

// Larger than any squared distance of two colours (3 x 255^2 = 195075), so the
// search always finds an entry.
constexpr int32_t kNoDistance = 200000;

RgbQuad fromRrggbb(uint32_t rgb) {
    return RgbQuad{uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16), 0};
}

}  // namespace

RgbQuad* RasterImage::GetPalette() {
    if (m_pixelBlock == nullptr || m_header.clrUsed == 0)
        return nullptr;
    return reinterpret_cast<RgbQuad*>(m_pixelBlock + sizeof(BitmapInfoHeader));
}

const RgbQuad* RasterImage::GetPalette() const {
    return const_cast<RasterImage*>(this)->GetPalette();
}

RgbQuad RasterImage::PaletteEntry(uint8_t index) const {
    const RgbQuad* palette = GetPalette();
    if (palette == nullptr || index >= m_header.clrUsed)
        return RgbQuad{};
    return palette[index];
}

bool RasterImage::PaletteEntry(uint8_t index, uint8_t& red, uint8_t& green, uint8_t& blue) const {
    const RgbQuad* palette = GetPalette();
    if (palette == nullptr || index >= m_header.clrUsed)
        return false;
    red = palette[index].red;
    green = palette[index].green;
    blue = palette[index].blue;
    return true;
}

void RasterImage::SetPaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
    SetPaletteEntry(index, RgbQuad{blue, green, red, alpha});
}

void RasterImage::SetPaletteEntry(uint8_t index, RgbQuad entry) {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || index >= m_header.clrUsed)
        return;
    palette[index] = entry;
    clearNearestCache();
}

void RasterImage::SetPalette(const RgbQuad* entries, uint32_t count) {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || entries == nullptr)
        return;
    if (count > m_header.clrUsed)
        count = m_header.clrUsed;
    std::memcpy(palette, entries, 4 * size_t(count));
    clearNearestCache();
}

void RasterImage::SetPalette(const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint32_t count) {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || red == nullptr)
        return;
    if (green == nullptr)
        green = red;
    if (blue == nullptr)
        blue = green;
    if (count > m_header.clrUsed)
        count = m_header.clrUsed;
    for (uint32_t i = 0; i < count; ++i)
        palette[i] = RgbQuad{blue[i], green[i], red[i], 0};
    clearNearestCache();
}

void RasterImage::SetPalette(const uint8_t* rgbTriples, uint32_t count) {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || rgbTriples == nullptr)
        return;
    if (count > m_header.clrUsed)
        count = m_header.clrUsed;
    for (uint32_t i = 0; i < count; ++i, rgbTriples += 3)
        palette[i] = RgbQuad{rgbTriples[2], rgbTriples[1], rgbTriples[0], 0};
    clearNearestCache();
}

void RasterImage::MakeGreyPalette() {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || m_header.clrUsed < 2)
        return;
    const uint32_t step = 255 / (m_header.clrUsed - 1);
    for (uint32_t i = 0; i < m_header.clrUsed; ++i) {
        const auto grey = uint8_t(i * step);
        palette[i] = RgbQuad{grey, grey, grey, 0};
    }
    clearNearestCache();
}

bool RasterImage::HasGreyPalette() const {
    const RgbQuad* palette = GetPalette();
    if (palette == nullptr)
        return false;
    for (uint32_t i = 0; i < m_header.clrUsed; ++i) {
        if (palette[i].red != i || palette[i].green != i || palette[i].blue != i)
            return false;
    }
    return true;
}

void RasterImage::ExchangeIndices(uint8_t first, uint8_t second) {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr || first >= m_header.clrUsed || second >= m_header.clrUsed || first == second)
        return;
    std::swap(palette[first], palette[second]);
    clearNearestCache();
    const int bits = GetBpp();
    const int32_t width = GetWidth();
    for (int32_t y = 0; y < GetHeight(); ++y) {
        uint8_t* row = RowPointer(y);
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t index = ReadIndexUnchecked(x, y);
            if (index == first)
                storeIndex(row, x, second, bits);
            else if (index == second)
                storeIndex(row, x, first, bits);
        }
    }
}

void RasterImage::SetImportantColours(uint32_t count) {
    if (count == 0 || count > 256) {
        count = 0;
    } else if (GetBpp() == 1) {
        count = count < 2 ? count : 2;
    } else if (GetBpp() == 4) {
        count = count < 16 ? count : 16;
    } else if (GetBpp() != 8) {
        return;
    }
    m_header.clrImportant = count;
    clearNearestCache();
}

void RasterImage::SetFixedPalette() {
    RgbQuad* palette = GetPalette();
    if (palette == nullptr)
        return;
    if (GetBpp() == 4) {
        for (uint32_t i = 0; i < 16; ++i)
            palette[i] = fromRrggbb(kFixedPalette16[i]);
    } else if (GetBpp() == 8) {
        for (uint32_t i = 0; i < 256; ++i)
            palette[i] = fromRrggbb(kFixedPalette256[i]);
    } else {
        return;
    }
    clearNearestCache();
}

uint8_t RasterImage::NearestPaletteIndex(RgbQuad colour) {
    const RgbQuad* palette = GetPalette();
    if (palette == nullptr)
        return 0;
    const RgbQuad& cached = m_info.nearestCacheColor;
    if (m_info.nearestCacheValid && cached.blue == colour.blue && cached.green == colour.green &&
        cached.red == colour.red)
        return m_info.nearestCacheIndex;
    uint32_t count = m_header.clrUsed;
    // The important colours, when given, limit the search; never beyond the table.
    if (m_header.clrImportant != 0 && m_header.clrImportant < count)
        count = m_header.clrImportant;
    int32_t best = kNoDistance;
    uint8_t bestIndex = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t db = int32_t(palette[i].blue) - colour.blue;
        const int32_t dg = int32_t(palette[i].green) - colour.green;
        const int32_t dr = int32_t(palette[i].red) - colour.red;
        const int32_t distance = db * db + dg * dg + dr * dr;
        if (distance < best) {
            best = distance;
            bestIndex = uint8_t(i);
            if (distance == 0)
                break;
        }
    }
    m_info.nearestCacheColor = colour;
    m_info.nearestCacheIndex = bestIndex;
    m_info.nearestCacheValid = true;
    return bestIndex;
}

bool RasterImage::PaletteHasAlpha() const {
    const RgbQuad* palette = GetPalette();
    if (palette == nullptr)
        return false;
    for (uint32_t i = 0; i < m_header.clrUsed; ++i) {
        if (palette[i].reserved != 0)
            return true;
    }
    return false;
}

}  // namespace rendova
