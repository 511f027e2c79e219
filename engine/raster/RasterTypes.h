#pragma once

#include <cmath>
#include <cstdint>

namespace rendova {

// Colour modes of a raster bitmap. Everywhere in the rasteriser a colour is
// three bytes red, green, blue (grey modes use the first byte only); the two
// 24-bit modes differ only in how those bytes are laid down in memory.
enum RasterColorMode : int {
    rasterMono1 = 0,  // one bit per pixel, most significant bit leftmost, set = white
    rasterMono8 = 1,  // one grey byte
    rasterRGB8 = 2,   // red, green, blue
    rasterBGR8 = 3,   // blue, green, red, the order a 24-bit BMP expects
};

// Colour components per pixel of each mode, as the blend routines and the
// pixel pipe count them.
inline int rasterModeComponents(int mode) {
    return mode >= rasterRGB8 ? 3 : 1;
}

// Result codes shared by the rasteriser's operations.
enum RasterResult : int {
    resultOk = 0,
    resultNoCurrentPoint = 1,
    resultEmptyPath = 2,
    resultLonePoint = 3,
    resultNothingSaved = 4,
    resultNoGlyph = 6,
    resultModeMismatch = 7,
    resultSingularMatrix = 8,
};

// Division by 255 of an 8-bit product (0 <= v <= 255 x 255), rounded.
inline int div255(int v) {
    return (v + (v >> 8) + 128) >> 8;
}

// Device coordinates are clamped to this magnitude before they become
// integers. Scan conversion works on a grid four times finer, and a few
// column computations add small constants to it, so 2^28 pixels keep every
// grid coordinate within +-2^30 and every integer sum far from overflow. No
// bitmap that memory can hold is that wide, so nothing visible is lost.
constexpr double kMaxDeviceCoord = 268435456.0;  // 2^28
constexpr double kMaxGridCoord = 4 * kMaxDeviceCoord;

// A device coordinate pulled into range; NaN (an infinite matrix times a zero
// coordinate) becomes 0.
inline double clampCoord(double v) {
    if (v >= -kMaxDeviceCoord && v <= kMaxDeviceCoord)
        return v;
    if (v > kMaxDeviceCoord)
        return kMaxDeviceCoord;
    if (v < -kMaxDeviceCoord)
        return -kMaxDeviceCoord;
    return 0;
}

// floor() of a coordinate on either grid as an int. The value is clamped to
// +-2^30 first, so that no input can make the conversion undefined.
inline int floorToInt(double v) {
    if (v >= -kMaxGridCoord && v <= kMaxGridCoord) {
        // static_cast<int>(std::floor(v)), without the library call or the
        // bit-twiddling that stands in for it where the processor has no
        // rounding instruction: truncation is one lower for a negative v
        // with a fraction.
        const int t = static_cast<int>(v);
        return t - (t > v ? 1 : 0);
    }
    if (v > kMaxGridCoord)
        return static_cast<int>(kMaxGridCoord);
    if (v < -kMaxGridCoord)
        return -static_cast<int>(kMaxGridCoord);
    return 0;
}

// ceil() of a coordinate on either grid as an int, clamped as floorToInt is.
inline int ceilToInt(double v) {
    return -floorToInt(-v);
}

// A double converted to an int in [lo, hi], truncating toward zero; NaN gives lo.
inline int saturateToInt(double v, int lo, int hi) {
    if (!(v >= lo))
        return lo;
    if (v >= hi)
        return hi;
    return static_cast<int>(v);
}

// The number of pixels that covers a page dimension already scaled to pixels:
// truncate(size + 0.5), at least 1. A size too large for an int saturates, so
// that the bitmap constructor sees an absurd size (and refuses it) instead of
// a wrapped one.
inline int pixelCountFromSize(double size) {
    return saturateToInt(size + 0.5, 1, INT32_MAX);
}

}  // namespace rendova
