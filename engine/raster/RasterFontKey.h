#pragma once

namespace rendova {

// The key by which the font cache recognises a loaded font file. The raster
// output device derives its own key from it; the font file owns its key.
class RasterFontKey {
public:
    RasterFontKey() = default;
    RasterFontKey(const RasterFontKey&) = delete;
    RasterFontKey& operator=(const RasterFontKey&) = delete;
    virtual ~RasterFontKey() = default;
    // Non-zero when both keys name the same font file.
    virtual int matches(const RasterFontKey& other) const = 0;
};

}  // namespace rendova
