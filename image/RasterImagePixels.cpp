// Pixel, alpha-plane and selection access of RasterImage.
#include <cstdlib>
#include <cstring>
#include <utility>

#include "image/DibPixels.h"
#include "image/RasterImage.h"

namespace rendova {

namespace {

size_t planeIndex(int32_t x, int32_t y, int32_t width) {
    return size_t(y) * size_t(width) + size_t(x);
}

}  // namespace

// --- Pixels -------------------------------------------------------------------

uint8_t RasterImage::ReadIndex(int32_t x, int32_t y) const {
    if (m_pixelBlock == nullptr || !HasPalette())
        return 0;
    if (!Contains(x, y)) {
        if (m_info.transparentIndex >= 0)
            return uint8_t(m_info.transparentIndex);
        // Outside the picture the first pixel stands in; its index, not the
        // raw first byte, which at 1 and 4 bits packs several pixels.
        return ReadIndexUnchecked(0, 0);
    }
    return ReadIndexUnchecked(x, y);
}

uint8_t RasterImage::ReadIndexUnchecked(int32_t x, int32_t y) const {
    const uint8_t* row = m_info.pixels + size_t(y) * m_info.rowStride;
    switch (m_header.bitCount) {
        case 8:
            return row[x];
        case 4:
            return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        default:
            return 0;
    }
}

void RasterImage::WriteIndex(int32_t x, int32_t y, uint8_t index) {
    if (m_pixelBlock == nullptr || !HasPalette() || !Contains(x, y))
        return;
    const int bits = m_header.bitCount;
    if (bits != 1 && bits != 4 && bits != 8)
        return;
    storeIndex(RowPointer(y), x, index, bits);
}

RgbQuad RasterImage::ReadColor(int32_t x, int32_t y, bool withAlpha) const {
    if (m_pixelBlock == nullptr)
        return RgbQuad{};
    if (!Contains(x, y)) {
        if (m_info.transparentIndex < 0)
            return ReadColor(0, 0, true);
        return GetTransparentColour();
    }
    RgbQuad colour;
    if (HasPalette()) {
        colour = PaletteEntry(ReadIndexUnchecked(x, y));
    } else {
        const uint8_t* pixel = RowPointer(y) + 3 * size_t(x);
        colour = RgbQuad{pixel[0], pixel[1], pixel[2], m_info.transparentColor.reserved};
    }
    if (withAlpha && m_alpha != nullptr)
        colour.reserved = m_alpha[planeIndex(x, y, GetWidth())];
    return colour;
}

void RasterImage::WriteColor(int32_t x, int32_t y, RgbQuad colour, bool setAlpha) {
    if (m_pixelBlock == nullptr || !Contains(x, y))
        return;
    if (HasPalette()) {
        WriteIndex(x, y, NearestPaletteIndex(colour));
    } else {
        uint8_t* pixel = RowPointer(y) + 3 * size_t(x);
        pixel[0] = colour.blue;
        pixel[1] = colour.green;
        pixel[2] = colour.red;
    }
    if (setAlpha)
        WriteAlpha(x, y, colour.reserved);
}

void RasterImage::WriteColor(int32_t x, int32_t y, uint32_t rgb) {
    WriteColor(x, y, RgbQuad{uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), 0}, false);
}

uint8_t* RasterImage::PixelAddress(int32_t x, int32_t y) {
    if (m_pixelBlock == nullptr || HasPalette() || !Contains(x, y))
        return nullptr;
    return RowPointer(y) + 3 * size_t(x);
}

void RasterImage::SwapRedBlue(uint8_t* buffer, uint32_t length) const {
    if (buffer == nullptr || m_pixelBlock == nullptr || HasPalette())
        return;
    const uint32_t bytes = length < m_info.rowStride ? length : m_info.rowStride;
    for (uint32_t i = 0; i + 3 <= bytes; i += 3)
        std::swap(buffer[i], buffer[i + 2]);
}

// --- Alpha plane --------------------------------------------------------------

// A ghost shares its owner's planes: the operations that would replace or
// allocate a plane refuse on it, so that the owner's pointers stay valid.

bool RasterImage::MakeAlphaPlane() {
    if (m_pixelBlock == nullptr || isGhost())
        return false;
    if (m_alpha != nullptr)
        return true;
    const size_t size = size_t(GetWidth()) * size_t(GetHeight());
    m_alpha = static_cast<uint8_t*>(std::malloc(size));
    if (m_alpha == nullptr)
        return false;
    std::memset(m_alpha, 255, size);
    return true;
}

void RasterImage::DropAlphaPlane() {
    if (isGhost())
        return;
    std::free(m_alpha);
    m_alpha = nullptr;
}

void RasterImage::ZeroAlpha() {
    if (m_alpha != nullptr)
        std::memset(m_alpha, 0, size_t(GetWidth()) * size_t(GetHeight()));
}

bool RasterImage::CopyAlphaFrom(const RasterImage& source) {
    if (&source == this || m_pixelBlock == nullptr || isGhost() || source.m_alpha == nullptr ||
        source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    const size_t size = size_t(GetWidth()) * size_t(GetHeight());
    if (m_alpha == nullptr) {
        m_alpha = static_cast<uint8_t*>(std::malloc(size));
        if (m_alpha == nullptr)
            return false;
    }
    std::memcpy(m_alpha, source.m_alpha, size);
    m_info.alphaMax = source.m_info.alphaMax;
    return true;
}

void RasterImage::WriteAlpha(int32_t x, int32_t y, uint8_t level) {
    if (m_alpha != nullptr && Contains(x, y))
        m_alpha[planeIndex(x, y, GetWidth())] = level;
}

uint8_t RasterImage::ReadAlpha(int32_t x, int32_t y) const {
    if (m_alpha == nullptr || !Contains(x, y))
        return 0;
    return m_alpha[planeIndex(x, y, GetWidth())];
}

bool RasterImage::FlipAlphaRows() {
    if (m_alpha == nullptr || isGhost())
        return false;
    const size_t width = size_t(GetWidth());
    const int32_t height = GetHeight();
    auto* flipped = static_cast<uint8_t*>(std::malloc(width * size_t(height)));
    if (flipped == nullptr)
        return false;
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(flipped + size_t(height - 1 - y) * width, m_alpha + size_t(y) * width, width);
    std::free(m_alpha);
    m_alpha = flipped;
    return true;
}

bool RasterImage::MirrorAlphaRows() {
    if (m_alpha == nullptr || isGhost())
        return false;
    const size_t width = size_t(GetWidth());
    const size_t size = width * size_t(GetHeight());
    auto* mirrored = static_cast<uint8_t*>(std::malloc(size));
    if (mirrored == nullptr)
        return false;
    for (size_t row = 0; row < size; row += width) {
        for (size_t x = 0; x < width; ++x)
            mirrored[row + x] = m_alpha[row + width - 1 - x];
    }
    std::free(m_alpha);
    m_alpha = mirrored;
    return true;
}

// --- Selection ----------------------------------------------------------------

void RasterImage::DropSelection() {
    if (isGhost())
        return;
    std::free(m_selection);
    m_selection = nullptr;
    m_info.selectionBox = ImageRect{GetWidth(), 0, 0, GetHeight()};
}

bool RasterImage::IsSelected(int32_t x, int32_t y) const {
    if (m_pixelBlock == nullptr || !Contains(x, y))
        return false;
    return m_selection == nullptr || m_selection[planeIndex(x, y, GetWidth())] != 0;
}

bool RasterImage::CopySelectionFrom(const RasterImage& source) {
    if (&source == this || m_pixelBlock == nullptr || isGhost() || source.m_selection == nullptr ||
        source.GetWidth() != GetWidth() || source.GetHeight() != GetHeight())
        return false;
    const size_t size = size_t(GetWidth()) * size_t(GetHeight());
    if (m_selection == nullptr) {
        m_selection = static_cast<uint8_t*>(std::malloc(size));
        if (m_selection == nullptr)
            return false;
    }
    std::memcpy(m_selection, source.m_selection, size);
    m_info.selectionBox = source.m_info.selectionBox;
    return true;
}

}  // namespace rendova
