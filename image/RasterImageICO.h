#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The icon codec (format code 5): reads one image (info().frame) of an icon or
// cursor file whose entries hold device-independent bitmaps with their AND
// masks, turning the mask into transparency; writes single-image icons of up
// to 255 x 255 pixels. Built by the format dispatch for one call; does not throw.
class RasterImageICO : public RasterImage {
public:
    RasterImageICO() : RasterImage(kFormatIco) {}

    bool Encode(ImageStream* stream);
    bool Decode(ImageStream* stream);

private:
    bool decodeEntry(ImageStream* stream, int64_t start, const uint8_t* entry);
    void applyMask(const uint8_t* mask, uint32_t maskStride, int colourBits);
    void invertPicture();
};

}  // namespace rendova
