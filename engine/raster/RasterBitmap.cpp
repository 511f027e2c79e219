#include "engine/raster/RasterBitmap.h"

#include <cassert>
#include <climits>
#include <cstring>

#include "engine/core/Memory.h"

namespace rendova {

namespace {

void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Row size before padding, in 64-bit so that no width can wrap it.
int64_t unpaddedRowSize(int64_t width, int mode) {
    switch (mode) {
        case rasterMono1:
            return (width + 7) >> 3;
        case rasterMono8:
            return width;
        default:
            return (3 * width + 3) & ~int64_t{3};
    }
}

int bitsPerPixel(int mode) {
    switch (mode) {
        case rasterMono1:
            return 1;
        case rasterMono8:
            return 8;
        default:
            return 24;
    }
}

// The padded row size of a bitmap, or -1 when the bitmap does not fit the
// engine's 32-bit sizes.
int64_t paddedRowSize(int width, int height, int rowPad, int mode, bool withAlpha) {
    // A negative size is as absurd as a huge one: the caller computed it from
    // a page that cannot be drawn.
    if (width < 0 || height < 0 || rowPad < 1)
        return -1;
    int64_t row = unpaddedRowSize(width, mode);
    row = row + rowPad - 1;
    row -= row % rowPad;
    // The block (and the header's 32-bit sizes) and the alpha plane must each
    // fit a signed 32-bit size. (The row is tested first so that the product
    // cannot overflow 64 bits.)
    if (row > INT_MAX)
        return -1;
    const int64_t blockSize = row * height + RasterBitmap::kHeaderSize;
    const int64_t alphaSize = withAlpha ? static_cast<int64_t>(width) * height : 0;
    if (blockSize > INT_MAX || alphaSize > INT_MAX)
        return -1;
    return row;
}

}  // namespace

bool RasterBitmap::fits(int width, int height, int rowPad, int mode, bool withAlpha) {
    return paddedRowSize(width, height, rowPad, mode, withAlpha) >= 0;
}

RasterBitmap::RasterBitmap(int width, int height, int rowPad, int mode, bool withAlpha, bool topDown)
    : m_width(width), m_height(height), m_rowSize(0), m_mode(mode) {
    assert(mode >= rasterMono1 && mode <= rasterBGR8);
    assert(rowPad >= 1);
    // Sizes are checked before anything is allocated; the engine's answer to
    // one that does not fit is the memory exception, never a wrapped
    // allocation.
    const int64_t row = paddedRowSize(width, height, rowPad, mode, withAlpha);
    if (row < 0)
        throw MemoryException();
    const int64_t blockSize = row * height + kHeaderSize;
    const int64_t alphaSize = withAlpha ? static_cast<int64_t>(width) * height : 0;
    m_rowSize = static_cast<int>(row);
    m_blockSize = static_cast<int>(blockSize);

    m_blockStore = LargeBlock(m_blockSize);
    if (withAlpha)
        m_alphaStore = LargeBlock(static_cast<int>(alphaSize));
    m_data = m_blockStore.data() + kHeaderSize;
    writeHeader(m_blockSize - kHeaderSize);

    if (!topDown) {
        if (height > 0)
            m_data += static_cast<int64_t>(m_rowSize) * (height - 1);
        m_rowSize = -m_rowSize;
    }
}

RasterBitmap::~RasterBitmap() = default;

void RasterBitmap::writeHeader(int imageSize) {
    uint8_t* h = m_blockStore.data();
    h[0] = 'B';
    h[1] = 'M';
    put32(h + 2, static_cast<uint32_t>(m_blockSize));
    put16(h + 6, 0);
    put16(h + 8, 0);
    put32(h + 10, kHeaderSize);
    put32(h + 14, 40);
    put32(h + 18, static_cast<uint32_t>(m_width));
    // Always positive: a reader then takes the first row in memory as the
    // bottom row, so a bottom-up bitmap reads as an upright image.
    put32(h + 22, static_cast<uint32_t>(m_height));
    put16(h + 26, 1);
    put16(h + 28, static_cast<uint32_t>(bitsPerPixel(m_mode)));
    put32(h + 30, 0);
    put32(h + 34, static_cast<uint32_t>(imageSize));
    put32(h + 38, 0);
    put32(h + 42, 0);
    put32(h + 46, 0);
    put32(h + 50, 0);
}

void RasterBitmap::getPixel(int x, int y, uint8_t* out) const {
    if (x < 0 || x >= m_width || y < 0 || y >= m_height)
        return;
    const uint8_t* row = m_data + static_cast<ptrdiff_t>(y) * m_rowSize;
    switch (m_mode) {
        case rasterMono1:
            out[0] = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
            break;
        case rasterMono8:
            out[0] = row[x];
            break;
        case rasterRGB8:
            out[0] = row[3 * x];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x + 2];
            break;
        default:
            out[0] = row[3 * x + 2];
            out[1] = row[3 * x + 1];
            out[2] = row[3 * x];
            break;
    }
}

}  // namespace rendova
