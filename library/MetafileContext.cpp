#include "library/MetafileContext.h"

#include <cstring>
#include <limits>

#include "image/RasterImage.h"
#include "platform/MetafileWriter.h"

namespace rendova {

namespace {

// Compression values of a bitmap info header.
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

}  // namespace

bool MetafileContext::dibSizes(const void* bitmapInfo, uint32_t& infoSize, uint32_t& bitsSize) {
    BitmapInfoHeader header;
    std::memcpy(&header, bitmapInfo, sizeof header);
    if (header.size < sizeof header || header.width <= 0 || header.height == 0)
        return false;
    // A palette depth that leaves its count 0 has the full table.
    uint64_t colours = header.clrUsed;
    if (colours == 0 && header.bitCount <= 8)
        colours = uint64_t(1) << header.bitCount;
    uint64_t info = uint64_t(header.size) + 4 * colours;
    // Bit-field masks follow a plain 40-byte header.
    if (header.compression == kBiBitFields && header.size == sizeof header)
        info += 12;
    uint64_t bits;
    if (header.compression == kBiRgb || header.compression == kBiBitFields) {
        const uint64_t stride = ((uint64_t(header.width) * header.bitCount + 31) / 32) * 4;
        const uint64_t rows = header.height < 0 ? uint64_t(-int64_t(header.height)) : uint64_t(header.height);
        bits = stride * rows;
    } else {
        bits = header.sizeImage;  // run-length coded: the header says how much
    }
    if (info > std::numeric_limits<uint32_t>::max() || bits > std::numeric_limits<uint32_t>::max())
        return false;
    infoSize = uint32_t(info);
    bitsSize = uint32_t(bits);
    return true;
}

int32_t MetafileContext::setStretchBltMode(int32_t mode) {
    return m_writer.setStretchBltMode(mode);
}

int32_t MetafileContext::stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                                       int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                                       const void* bits, const void* bitmapInfo, uint32_t usage,
                                       uint32_t rasterOperation) {
    uint32_t infoSize = 0;
    uint32_t bitsSize = 0;
    if (bits == nullptr || bitmapInfo == nullptr || !dibSizes(bitmapInfo, infoSize, bitsSize))
        return 0;
    return m_writer.stretchDibits(xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight, bits,
                                  bitsSize, bitmapInfo, infoSize, usage, rasterOperation);
}

}  // namespace rendova
