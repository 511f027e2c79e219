#pragma once

// Pieces shared by the transform files: the progress and escape words, making
// the result image and handing it over, and raw index access by depth.
#include <cstdint>
#include <cstdio>

#include "image/RasterImage.h"

namespace rendova::transform {

// Reports progress as row x 100 / rows in the image's information block and
// tells the loop to stop when the escape word is set.
class RowProgress {
public:
    RowProgress(RasterImage& image, int64_t rows) : m_info(image.info()), m_rows(rows > 0 ? rows : 1) {}

    // Called before row `row`; false when the work is to stop there.
    bool proceed(int64_t row) {
        if (m_info.escape != 0)
            return false;
        m_info.progress = int32_t(row * 100 / m_rows);
        return true;
    }

private:
    ImageInfo& m_info;
    int64_t m_rows;
};

// Records why a transform failed in the source image (the image itself is left
// as it was) and returns false.
inline bool fail(RasterImage& image, const char* text) {
    std::snprintf(image.info().lastError, sizeof image.info().lastError, "%s", text);
    return false;
}

// Makes `result` a new image of the given size and depth with `source`'s
// settings and type. The resolution lives in the header as well as in the
// settings, so it is set again through the setters to reach the new header.
inline bool createLike(RasterImage& result, const RasterImage& source, int32_t width, int32_t height,
                       int32_t bits) {
    result.InheritInfo(source);
    result.SetDpiX(source.GetDpiX());
    result.SetDpiY(source.GetDpiY());
    return result.Create(width, height, bits, source.GetType()) != nullptr;
}

// Copies up to 256 palette entries of `source` into `result`.
inline void copyPalette(RasterImage& result, const RasterImage& source) {
    if (!result.HasPalette() || !source.HasPalette())
        return;
    uint32_t count = source.GetColourCount();
    if (count > 256)
        count = 256;
    result.SetPalette(source.GetPalette(), count);
}

// Hands `result` to `destination`, or to `source` when there is none. The
// progress reached so far goes with it.
inline bool handOver(RasterImage& source, RasterImage* destination, RasterImage& result) {
    result.info().progress = source.info().progress;
    RasterImage& target = destination != nullptr ? *destination : source;
    return target.TakeOver(result);
}

// The index at column x of a row of Bits-bit pixels (1, 4 or 8).
template <int Bits>
inline uint8_t indexAt(const uint8_t* row, int64_t x) {
    if constexpr (Bits == 8) {
        return row[x];
    } else if constexpr (Bits == 4) {
        return (x & 1) ? uint8_t(row[x >> 1] & 0x0F) : uint8_t(row[x >> 1] >> 4);
    } else {
        return uint8_t((row[x >> 3] >> (7 - (x & 7))) & 1);
    }
}

// Stores an index at column x of a row whose pixels are still zero: the bits
// are or-ed in, which is all a freshly created (cleared) row needs.
template <int Bits>
inline void putIndexIntoZeroed(uint8_t* row, int64_t x, uint8_t value) {
    if constexpr (Bits == 8) {
        row[x] = value;
    } else if constexpr (Bits == 4) {
        row[x >> 1] |= (x & 1) ? uint8_t(value & 0x0F) : uint8_t(value << 4);
    } else {
        row[x >> 3] |= uint8_t((value & 1) << (7 - (x & 7)));
    }
}

}  // namespace rendova::transform
