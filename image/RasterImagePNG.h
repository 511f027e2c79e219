#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The PNG codec (format code 4) over libpng. Decoding composites what is
// transparent over the file's background colour (or grey 192), except for
// 8-bit RGBA (and 16-bit grey with alpha), which keeps an alpha plane; it
// strips 16-bit samples to 8, widens 2-bit pixels to 4 and keeps palette
// transparency in the palette. Encoding writes palette, RGB or RGBA files.
// Option word [4]: 1 writes an interlaced file; after a decode it tells
// whether the file was interlaced. Built by the format dispatch for one
// call. Does not throw: libpng's errors come back as the last-error text.
class RasterImagePNG : public RasterImage {
public:
    RasterImagePNG() : RasterImage(kFormatPng) {}

    bool Decode(ImageStream* stream);
    // May change the caller's image: a transparent palette index is moved
    // to index 0, as a one-entry transparency table can only name entry 0.
    bool Encode(ImageStream* stream);
};

}  // namespace rendova
