#pragma once

#include <cstdint>

#include "engine/core/Memory.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

// The in-memory page image. Its pixel rows live in one block that begins with
// a 54-byte BMP file and info header, so that the block read from its first
// byte is a BMP image without a colour table (a complete one in the 24-bit
// modes). Rows are padded to a multiple of the row pad; with bottom-up rows
// (the default) the row size is negative and row 0, the top row of the page,
// is the last row of the block, which is what a BMP reader shows on top.
//
// The bitmap owns its block and its alpha plane, both large blocks (see
// memAllocLarge). It is not thread-safe. The constructor throws
// MemoryException when memory runs out or when the size does not fit the
// engine's 32-bit sizes.
class RasterBitmap {
public:
    static constexpr int kHeaderSize = 54;

    RasterBitmap(int width, int height, int rowPad, int mode, bool withAlpha, bool topDown);
    ~RasterBitmap();

    // Whether a bitmap of this size fits the engine's 32-bit sizes, so that
    // a caller can refuse a page before drawing it instead of meeting the
    // constructor's MemoryException. Says nothing of the memory free.
    static bool fits(int width, int height, int rowPad, int mode, bool withAlpha);
    RasterBitmap(const RasterBitmap&) = delete;
    RasterBitmap& operator=(const RasterBitmap&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Bytes from row y to row y + 1; negative for bottom-up rows.
    int rowSize() const { return m_rowSize; }
    int mode() const { return m_mode; }
    // The first byte of row 0 (the top row).
    uint8_t* data() const { return m_data; }
    // width x height bytes, row 0 first whatever the direction of the pixel
    // rows; null when the bitmap has none.
    uint8_t* alpha() const { return m_alphaStore.data(); }
    // The start of the block, the BMP file header.
    uint8_t* block() const { return m_blockStore.data(); }
    // abs(rowSize) x height + 54, the size of the block.
    int blockSize() const { return m_blockSize; }

    // Writes the colour of pixel (x, y) as red, green, blue (only out[0] in
    // the 1-bit and grey modes). Outside the bitmap nothing is written.
    void getPixel(int x, int y, uint8_t* out) const;

private:
    void writeHeader(int imageSize);

    int m_width;
    int m_height;
    int m_rowSize;
    int m_mode;
    uint8_t* m_data = nullptr;
    int m_blockSize = 0;
    LargeBlock m_blockStore;
    LargeBlock m_alphaStore;
};

}  // namespace rendova
