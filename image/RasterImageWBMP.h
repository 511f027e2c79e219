#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The wireless bitmap codec (format code 9): type 0 only, 1-bit rows from
// the top, a set bit white. Widths and heights are the format's multi-byte
// integers (seven bits a byte, most significant first), which for values
// below 128 are single bytes. Built by the format dispatch for one call;
// does not throw.
class RasterImageWBMP : public RasterImage {
public:
    RasterImageWBMP() : RasterImage(kFormatWbmp) {}

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);
};

}  // namespace rendova
