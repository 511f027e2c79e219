// RasterImage::CreateFromDib: building an image from a packed device-independent
// bitmap in memory (info header, palette or bit-field masks, bits).
#include <cmath>
#include <cstring>

#include "image/CodecFailure.h"
#include "image/DibPixels.h"
#include "image/RasterImage.h"

namespace rendova {

namespace {

// The core header of the format's first version: size, 16-bit width, height,
// planes and bits.
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// A resolution of 0 pixels per metre is read as the format's customary 72 dpi.
constexpr int32_t kUnstatedDpi = 72;

uint16_t read16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

int32_t dpiFromPelsPerMetre(int32_t pelsPerMetre) {
    if (pelsPerMetre == 0)
        return kUnstatedDpi;
    const double dpi = std::floor(pelsPerMetre * 0.0254 + 0.5);
    return int32_t(dpi);  // |pels| < 2^31, so |dpi| < 2^26
}

// The block's header in the 40-byte form: a 12-byte core header widened, or
// the first 40 bytes of a larger one. False when the block is too short.
bool readDibHeader(const uint8_t* dib, size_t size, BitmapInfoHeader& source) {
    source.size = read32(dib);
    if (source.size == kCoreHeaderSize && size >= kCoreHeaderSize) {
        source.width = read16(dib + 4);
        source.height = read16(dib + 6);
        source.planes = read16(dib + 8);
        source.bitCount = read16(dib + 10);
        return true;
    }
    if (source.size >= kInfoHeaderSize && source.size <= size) {
        std::memcpy(&source, dib, sizeof source);
        return true;
    }
    return false;
}

// The rows of a 16-bit (5-5-5, or the block's bit fields) or 32-bit block
// into the 24-bit image; rows the data does not reach stay as they are.
void readWideRows(RasterImage& image, const BitmapInfoHeader& source, const uint8_t* dib, size_t size,
                  const uint8_t* data, size_t dataSize) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    if (source.bitCount == 16) {
        DibBitFields masks;
        if (source.compression == 3) {
            if (size < kInfoHeaderSize + 12)
                failCodec("CreateFromDib: the bitmap block is too short");
            masks = {read32(dib + 40), read32(dib + 44), read32(dib + 48)};
        }
        const size_t sourceStride = size_t((width + 1) / 2) * 4;
        for (int32_t row = 0; row < height; ++row) {
            const size_t start = size_t(row) * sourceStride;
            if (start >= dataSize)
                break;
            widen16Row(data + start, dataSize - start, image.RowPointer(row), width, masks);
        }
        return;
    }
    if (source.compression != 0 && source.compression != 3)
        failCodec("unknown compression");
    const size_t sourceStride = size_t(width) * 4;
    for (int32_t row = 0; row < height; ++row) {
        const size_t start = size_t(row) * sourceStride;
        if (start >= dataSize)
            break;
        take32Row(data + start, dataSize - start, image.RowPointer(row), width);
    }
}

}  // namespace

bool RasterImage::CreateFromDib(const uint8_t* dib, size_t size) {
    if (!destroy() || dib == nullptr)
        return false;
    if (size < 4) {
        setLastError("CreateFromDib: the bitmap block is too short");
        return false;
    }
    BitmapInfoHeader source;
    if (!readDibHeader(dib, size, source)) {
        setLastError("CreateFromDib: the bitmap block is too short");
        return false;
    }

    // Uncompressed 24-bit rows are copied whole (and the rest cleared) below,
    // so clearing them first would only write the page twice.
    const bool copiedWhole = source.compression == 0 && source.bitCount == 24;
    if (createBlock(source.width, source.height, source.bitCount, kFormatUnknown, !copiedWhole) == nullptr)
        return false;
    SetDpiX(dpiFromPelsPerMetre(source.xPelsPerMeter));
    SetDpiY(dpiFromPelsPerMetre(source.yPelsPerMeter));

    const int bits = source.bitCount;
    const uint32_t entrySize = source.size == kCoreHeaderSize ? 3 : 4;
    // Entries the block holds: the stated count, or the full table of a palette depth.
    uint64_t statedEntries = source.clrUsed;
    if (statedEntries == 0 && bits <= 8)
        statedEntries = 1ull << bits;
    uint64_t bitsOffset = uint64_t(source.size) + entrySize * statedEntries;
    const bool bitFields = source.compression == 3 && (bits == 16 || bits == 32);
    // With a 40-byte header the three masks follow it; larger headers hold them.
    if (bitFields && source.size == kInfoHeaderSize)
        bitsOffset += 12;

    if (HasPalette() && bits <= 8) {
        uint64_t entries = statedEntries;
        if (entries > (1ull << bits))
            entries = 1ull << bits;
        if (entries > GetColourCount())
            entries = GetColourCount();
        if (uint64_t(source.size) + entrySize * entries > size) {
            destroy();
            setLastError("CreateFromDib: the bitmap block is too short");
            return false;
        }
        const uint8_t* entry = dib + source.size;
        RgbQuad* palette = GetPalette();
        for (uint64_t i = 0; i < entries; ++i, entry += entrySize)
            palette[i] = {entry[0], entry[1], entry[2], 0};
        clearNearestCache();
    }

    // The rows present in the block; a block cut short leaves the rest of the
    // (cleared) rows black rather than reading past its end.
    const uint8_t* data = dib + (bitsOffset < size ? bitsOffset : size);
    const size_t dataSize = bitsOffset < size ? size - size_t(bitsOffset) : 0;
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    const uint32_t stride = GetRowStride();

    const bool done = runCodec([&] {
        if (source.compression == 0 && (bits == 1 || bits == 4 || bits == 8 || bits == 24)) {
            const size_t copied = dataSize < m_header.sizeImage ? dataSize : m_header.sizeImage;
            std::memcpy(m_info.pixels, data, copied);
            if (copiedWhole)
                std::memset(m_info.pixels + copied, 0, m_header.sizeImage - copied);
        } else if (bits == 1 || bits == 4 || bits == 8) {
            if (source.compression != 1 && source.compression != 2)
                failCodec("compression type not supported");
            size_t at = 0;
            decodeRunLength([&]() { return at < dataSize ? int(data[at++]) : -1; }, m_info.pixels, stride,
                            width, height, GetBpp(), source.compression == 2);
        } else if (bits == 16 || bits == 32) {
            readWideRows(*this, source, dib, size, data, dataSize);
        } else if (bits == 24) {
            failCodec("unknown compression");
        }
    });
    if (!done) {
        destroy();
        return false;
    }
    syncBlockHeader();
    return true;
}

bool RasterImage::ShareDib(uint8_t* dib, size_t size) {
    if (!destroy() || dib == nullptr)
        return false;
    BitmapInfoHeader source;
    if (size < kInfoHeaderSize || !readDibHeader(dib, size, source) || source.size != kInfoHeaderSize ||
        source.width <= 0 || source.height <= 0 || source.bitCount != 24 || source.compression != 0)
        return false;
    const uint64_t stride = ((uint64_t(source.width) * 24 + 31) >> 5) << 2;
    const uint64_t imageSize = stride * uint64_t(source.height);
    if (kInfoHeaderSize + imageSize > size || kInfoHeaderSize + imageSize > UINT32_MAX)
        return false;
    // The header an image made by CreateFromDib from the same block holds,
    // so that the codecs cannot tell the two apart.
    m_header = BitmapInfoHeader{};
    m_header.size = kInfoHeaderSize;
    m_header.width = source.width;
    m_header.height = source.height;
    m_header.planes = 1;
    m_header.bitCount = 24;
    m_header.sizeImage = uint32_t(imageSize);
    m_info.formatType = kFormatUnknown;
    m_info.rowStride = uint32_t(stride);
    SetDpiX(dpiFromPelsPerMetre(source.xPelsPerMeter));
    SetDpiY(dpiFromPelsPerMetre(source.yPelsPerMeter));
    clearNearestCache();
    m_pixelBlock = dib;
    m_info.pixels = dib + kInfoHeaderSize;
    // Its own owner: every operation that would free or replace the
    // buffers refuses, as it does on any ghost.
    m_info.ghostOwner = this;
    return true;
}

}  // namespace rendova
