#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The PCX codec (format code 8). Reads run-length files of 1 to 4 planes:
// packed pixels of 1, 2, 4 or 8 bits in one plane, 2 to 4 planes of 1 bit,
// and 3 or 4 planes of 8 bits (colour, and alpha from the fourth), with the
// 256-colour trailer of 8-bit files. Writes version 5 files: 8-bit images
// with the trailer, 4-bit images as four planes of 1 bit, 1-bit images as
// one plane (black and white), 24-bit images as three or four planes. Built
// by the format dispatch for one call; does not throw.
class RasterImagePCX : public RasterImage {
public:
    RasterImagePCX() : RasterImage(kFormatPcx) {}

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);
};

}  // namespace rendova
