#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The BMP codec (format code 1): reads bitmap files with core (12-byte),
// 40-byte, 64-byte and larger uncompressed info headers, at 1, 4, 8, 16, 24
// and 32 bits, uncompressed, run-length (8 and 4-bit) and bit-field coded,
// bottom-up or top-down, with or without the 14-byte file header; writes the
// image's own device-independent bitmap behind a file header. Built by the
// format dispatch for one call; does not throw.
class RasterImageBMP : public RasterImage {
public:
    RasterImageBMP() : RasterImage(kFormatBmp) {}

    bool Encode(ImageStream* stream);
    bool Decode(ImageStream* stream);
    // Reads an info header of any accepted form into `header`, leaving the
    // stream after it; fills in an image size and colour count of 0.
    bool ReadInfoHeader(ImageStream* stream, BitmapInfoHeader& header);

private:
    void decodeBits(ImageStream* stream, const BitmapInfoHeader& file, int64_t start, uint32_t bitsOffset);
};

}  // namespace rendova
