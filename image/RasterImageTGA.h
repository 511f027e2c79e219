#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The TGA codec (format code 7). Reads colour-mapped, true-colour and grey
// files (types 1, 2, 3 and their run-length forms 9, 10, 11) at 8, 15, 16,
// 24 and 32 bits, with colour maps of 15, 16, 24 or 32-bit entries and
// either origin; 32-bit files keep their alpha. Writes uncompressed
// bottom-up files: 8-bit colour-mapped, 24-bit, or 32-bit when the image
// has an alpha plane. Built by the format dispatch for one call; does not
// throw.
class RasterImageTGA : public RasterImage {
public:
    RasterImageTGA() : RasterImage(kFormatTga) {}

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);
};

}  // namespace rendova
