// Where an image lands on the device grid: the image matrix taken apart
// into the scale and shear of each axis, the device pixels that its edges
// touch, the device pixel of every output pixel, and the visible part of an
// image too large to scale whole. Plain values for the rasteriser's image
// drawing (RasteriserImage.cpp); VisiblePart owns its row buffers and reads
// the caller's source, which must outlive it. None of it throws, except
// VisiblePart::crop on memory exhaustion.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/raster/Rasteriser.h"

namespace rendova {

class RasterClip;

// Offsets and shifts stay within this magnitude so that every device
// coordinate computed from them fits an int with room to spare.
constexpr double kMaxImageOffset = kMaxDeviceCoord;

inline double clampOffset(double v) {
    if (!(v >= -kMaxImageOffset))
        return -kMaxImageOffset;
    return v > kMaxImageOffset ? kMaxImageOffset : v;
}

inline int truncOffset(double v) {
    return static_cast<int>(clampOffset(v));
}

inline int floorOffset(double v) {
    return static_cast<int>(std::floor(clampOffset(v)));
}

// The pixel edges of one axis: the first and last device column (or row)
// that the image touches, as floors of its two edges nudged inwards by a
// hundredth of a pixel (or, in glyph mode, the pixels whose centres it
// covers). Inwards, because an edge on a pixel boundary does not touch the
// pixel beyond it: an image aligned with the device grid keeps its own
// pixels and one sample per pixel, and the nudge absorbs the rounding of a
// matrix that only nearly hits the boundary. An image thinner than the
// nudge still touches the pixel holding its first edge.
void pixelEdges(double offset, double scale, bool glyphMode, int& t, int& t2);

// Source bytes per pixel: one grey byte (and one byte per mask sample), or
// three for the RGB modes.
inline int sourceBytesPerPixel(int sourceMode, bool isMask) {
    return isMask || (sourceMode != rasterRGB8 && sourceMode != rasterBGR8) ? 1 : 3;
}

// The visible part of an image too large to scale whole, as an image of its
// own: virtual column k is source column columnOf[k], virtual row k source
// row rowOf[k] (non-decreasing, so the source is still read in order).
struct VisiblePart {
    RasterImageSource source;
    void* userData;
    int bytesPerPixel;
    int width;
    std::vector<int> columnOf, rowOf;
    std::vector<uint8_t> line, alpha;
    int nextVirtualRow = 0;
    int sourceRowsRead = 0;
    bool haveAlpha;
    // Whether the source delivered the last row read (false past its data).
    bool rowPresent = false;

    // The part of the axis-aligned image of matrix m inside `visible`, and
    // the matrix `sub` that places it; false when none of it is visible.
    bool crop(const double* m, int height, int sourceMode, int sourceHasAlpha, bool isMask,
              const RasterClip& visible, double* sub);

    // The row source of the part: virtual rows in order, 0 past the last
    // and for rows the source did not have.
    static int get(void* data, uint8_t* out, uint8_t* outAlpha);
};

// The image matrix as the scale and shear of each axis, for an upright image
// or one turned by a quarter.
struct ImageAxes {
    bool upright;
    double xScale, yScale, xShear, yShear;
};

// false for a matrix so close to singular along one axis that a shear or a
// scale is not finite.
bool splitImageMatrix(const double* m, ImageAxes& a);

// The device pixels that the image touches (see pixelEdges), and the output
// columns and rows that they make before the scale limit.
struct ImageEdges {
    int tx, tx2, ty, ty2;
    int64_t columns, rows;
};

ImageEdges imageEdges(const double* m, const ImageAxes& a, bool glyphMode);

// Where output pixel (i, j) of a scaledWidth x scaledHeight image lands by
// the placement rule.
struct ImagePlacement {
    bool upright;
    int tx, ty;
    int scaledWidth, scaledHeight;
    int xSign, ySign;
    double xShear, yShear;
    // The placement rule's bias of a row's running position: 0.999 when the
    // shear runs against the columns.
    double pBias;

    ImagePlacement(const ImageAxes& a, const ImageEdges& e, int width, int height)
        : upright(a.upright),
          tx(e.tx),
          ty(e.ty),
          scaledWidth(width),
          scaledHeight(height),
          xSign(a.xScale >= 0 ? 1 : -1),
          ySign(a.yScale >= 0 ? 1 : -1),
          xShear(a.xShear),
          yShear(a.yShear),
          pBias(xSign * xShear < 0 ? 0.999 : 0) {}

    int rowShift(int i) const { return floorOffset(i * ySign * yShear + 0.5); }

    // The device pixel of column j of a row of shift s, at the row's running
    // position p.
    void pixelAt(int s, int j, double p, int& x, int& y) const {
        if (upright) {
            x = tx + s + j * xSign;
            y = ty + truncOffset(p);
        } else {
            x = tx + truncOffset(p);
            y = ty - (s + j * xSign);
        }
    }

    void place(int i, int j, int& x, int& y) const {
        const int s = rowShift(i);
        pixelAt(s, j, s * xShear + i * ySign + pBias + j * xSign * xShear, x, y);
    }

    // The clip decision for the whole image: testRect of its four corners'
    // box.
    int testCorners(RasterClip& clip) const;
};

}  // namespace rendova
