#pragma once

#include <cstdint>

#include "image/RasterImage.h"

namespace rendova {

// Raw access to an image's alpha plane and selection mask (width x height
// bytes each, bottom row first; null when the image has none), for the inner
// loops of the transforms, which would otherwise pay a checked call per pixel.
// The pointers stay valid until the image's planes are replaced or freed.
namespace planes_detail {
struct PlaneMembers : RasterImage {
    // A pointer to a protected member formed through a derived class may be
    // applied to any RasterImage.
    static constexpr uint8_t* RasterImage::*alpha() { return &PlaneMembers::m_alpha; }
    static constexpr uint8_t* RasterImage::*selection() { return &PlaneMembers::m_selection; }
};
}  // namespace planes_detail

inline uint8_t* alphaPlane(RasterImage& image) {
    return image.*planes_detail::PlaneMembers::alpha();
}

inline const uint8_t* alphaPlane(const RasterImage& image) {
    return image.*planes_detail::PlaneMembers::alpha();
}

inline const uint8_t* selectionMask(const RasterImage& image) {
    return image.*planes_detail::PlaneMembers::selection();
}

}  // namespace rendova
