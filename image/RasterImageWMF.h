#pragma once

#include "image/RasterImage.h"

namespace rendova {

// The metafile reader (format code 10): a placeable Windows metafile or an
// enhanced metafile is measured by its header and played by our own
// metafile player (platform/MetafilePlayer.h) into a 24-bit image on the
// window colour. Sides above 4000 pixels are scaled down, keeping the
// aspect. Only decodes: the dispatch refuses to encode code 10. Built by
// the format dispatch for one call; does not throw.
class RasterImageWMF : public RasterImage {
public:
    RasterImageWMF() : RasterImage(kFormatWmf) {}

    // A width and height of 0 keep the metafile's own size.
    bool Decode(ImageStream* stream, int32_t width, int32_t height);

    // The size clamp: a side above 4000 pixels becomes 4000 and the other
    // side is scaled with it (in 64 bits; never below one pixel).
    static void clampSize(int64_t& width, int64_t& height);
};

}  // namespace rendova
