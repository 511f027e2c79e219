#pragma once

#include "engine/raster/RasterTypes.h"

namespace rendova::pipe {

// Calls f.template operator()<Mode, HasAlpha>() for a target's colour mode
// and alpha plane, so that a loop written once as a template lambda is
// compiled per variant and the variant is chosen outside the loop.
template <typename F>
void dispatchMode(int mode, bool hasAlpha, F&& f) {
    switch (mode) {
        case rasterMono1:
            hasAlpha ? f.template operator()<rasterMono1, true>()
                     : f.template operator()<rasterMono1, false>();
            break;
        case rasterMono8:
            hasAlpha ? f.template operator()<rasterMono8, true>()
                     : f.template operator()<rasterMono8, false>();
            break;
        case rasterRGB8:
            hasAlpha ? f.template operator()<rasterRGB8, true>() : f.template operator()<rasterRGB8, false>();
            break;
        default:
            hasAlpha ? f.template operator()<rasterBGR8, true>() : f.template operator()<rasterBGR8, false>();
            break;
    }
}

}  // namespace rendova::pipe
