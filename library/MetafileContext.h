#pragma once

#include <cstdint>

#include "image/DeviceContext.h"

namespace platform {
class MetafileWriter;
}

namespace rendova {

// The image library's drawing surface over a metafile writer: what
// RasterImage::Draw calls on a device context becomes records of the
// metafile. The bitmap's byte sizes, which a metafile record carries and the
// graphics interface works out for itself, are read from its info header.
//
// Borrows the writer, which must outlive the context. Not thread-safe; does
// not throw.
class MetafileContext : public DeviceContext {
public:
    explicit MetafileContext(platform::MetafileWriter& writer) : m_writer(writer) {}

    int32_t setStretchBltMode(int32_t mode) override;
    int32_t stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                          int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                          const void* bitmapInfo, uint32_t usage, uint32_t rasterOperation) override;

    // The bytes of a packed bitmap's info header with its colour table, and
    // of its pixel rows; false when the header describes no bitmap that a
    // metafile can hold.
    static bool dibSizes(const void* bitmapInfo, uint32_t& infoSize, uint32_t& bitsSize);

private:
    platform::MetafileWriter& m_writer;
};

}  // namespace rendova
