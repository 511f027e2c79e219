#pragma once

#include <cstdint>

namespace rendova {

// A drawing surface that RasterImage::Draw stretches a device-independent
// bitmap onto: the two calls of the graphics interface that drawing needs. The
// metafile writers implement it; the image library only calls it.
class DeviceContext {
public:
    virtual ~DeviceContext() = default;

    // Returns the previous mode.
    virtual int32_t setStretchBltMode(int32_t mode) = 0;
    // Stretches the source rectangle of the bitmap (bits and the info header
    // with its colour table at `bitmapInfo`) onto the destination rectangle;
    // returns the number of scan lines drawn, 0 on failure.
    virtual int32_t stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                                  int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                                  const void* bits, const void* bitmapInfo, uint32_t usage,
                                  uint32_t rasterOperation) = 0;
};

// Stretch mode "colour on colour": deleted rows and columns are dropped.
constexpr int32_t kStretchColorOnColor = 3;
// Colour table usage: the table holds RGB values.
constexpr uint32_t kDibRgbColors = 0;
// Raster operation: copy the source.
constexpr uint32_t kRopSourceCopy = 0x00CC0020;

}  // namespace rendova
