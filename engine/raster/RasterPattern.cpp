#include "engine/raster/RasterPattern.h"

namespace rendova {

RasterSolidColor::RasterSolidColor(const uint8_t* color) {
    m_color[0] = color[0];
    m_color[1] = color[1];
    m_color[2] = color[2];
}

RasterPattern* RasterSolidColor::copy() const {
    return new RasterSolidColor(m_color);
}

void RasterSolidColor::getColor(int, int, uint8_t* out) const {
    out[0] = m_color[0];
    out[1] = m_color[1];
    out[2] = m_color[2];
}

}  // namespace rendova
