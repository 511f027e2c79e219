#include "engine/raster/ImagePlacement.h"

#include <algorithm>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/raster/RasterClip.h"

namespace rendova {

namespace {

// One axis of an axis-aligned image: device extent from `offset` over
// `scale` (either sign) holding `count` source pixels, seen through device
// pixels lo..hi. Fills `map` with the source index of each virtual pixel, in
// source order, and gives the virtual offset and scale. Magnified, a virtual
// pixel is a device pixel; reduced, it is a whole source pixel.
bool visibleAxis(double offset, double scale, int count, int lo, int hi, std::vector<int>& map,
                 double& newOffset, double& newScale) {
    const double a = std::min(offset, offset + scale), b = std::max(offset, offset + scale);
    const int d0 = std::max(lo, int(std::floor(std::max(a, double(lo) - 1)))),
              d1 = std::min(hi, int(std::ceil(std::min(b, double(hi) + 2))) - 1);
    if (d0 > d1)
        return false;
    auto sourceAt = [&](double device) {
        const double t = std::floor((device - offset) / scale * count);
        return int(std::clamp(t, 0.0, double(count - 1)));
    };
    map.clear();
    if (std::fabs(scale) >= count) {
        for (int k = 0; k <= d1 - d0; ++k) {
            const int device = scale > 0 ? d0 + k : d1 - k;
            map.push_back(sourceAt(device + 0.5));
        }
        newScale = scale > 0 ? d1 + 1 - d0 : -(d1 + 1 - d0);
        newOffset = scale > 0 ? d0 : d1 + 1;
    } else {
        int first = sourceAt(scale > 0 ? d0 : d1 + 1), last = sourceAt(scale > 0 ? d1 + 1 : d0);
        if (first > last)
            std::swap(first, last);
        for (int c = first; c <= last; ++c)
            map.push_back(c);
        newScale = scale * (last - first + 1) / count;
        newOffset = offset + scale * first / count;
    }
    return true;
}

}  // namespace

void pixelEdges(double offset, double scale, bool glyphMode, int& t, int& t2) {
    if (glyphMode) {
        if (scale >= 0) {
            t = floorOffset(offset + 0.5);
            t2 = floorOffset(offset + scale + 0.5) - 1;
        } else {
            t = floorOffset(offset + 0.5) - 1;
            t2 = floorOffset(offset + scale + 0.5);
        }
    } else if (scale >= 0) {
        t = floorOffset(offset + 0.01);
        t2 = std::max(t, floorOffset(offset + scale - 0.01));
    } else {
        t = floorOffset(offset - 0.01);
        t2 = std::min(t, floorOffset(offset + scale + 0.01));
    }
}

bool VisiblePart::crop(const double* m, int height, int sourceMode, int sourceHasAlpha, bool isMask,
                       const RasterClip& visible, double* sub) {
    if (!visibleAxis(m[4], m[0], width, visible.xMinI(), visible.xMaxI(), columnOf, sub[4], sub[0]) ||
        !visibleAxis(m[5], m[3], height, visible.yMinI(), visible.yMaxI(), rowOf, sub[5], sub[3]))
        return false;
    bytesPerPixel = sourceBytesPerPixel(sourceMode, isMask);
    haveAlpha = !isMask && sourceHasAlpha;
    line.assign(size_t(checkedMul(width, bytesPerPixel)), 0);
    alpha.assign(size_t(width), 0);
    return true;
}

int VisiblePart::get(void* data, uint8_t* out, uint8_t* outAlpha) {
    auto* part = static_cast<VisiblePart*>(data);
    if (part->nextVirtualRow >= int(part->rowOf.size()))
        return 0;
    const int want = part->rowOf[size_t(part->nextVirtualRow++)];
    while (part->sourceRowsRead <= want) {
        part->rowPresent = part->source(part->userData, part->line.data(),
                                        part->haveAlpha ? part->alpha.data() : nullptr) != 0;
        ++part->sourceRowsRead;
    }
    // A row the source does not have stays missing.
    if (!part->rowPresent)
        return 0;
    const int n = part->bytesPerPixel;
    for (size_t k = 0; k < part->columnOf.size(); ++k) {
        const int c = part->columnOf[k];
        std::memcpy(out + k * size_t(n), part->line.data() + size_t(c) * size_t(n), size_t(n));
        if (outAlpha)
            outAlpha[k] = part->alpha[size_t(c)];
    }
    return 1;
}

bool splitImageMatrix(const double* m, ImageAxes& a) {
    a.upright = std::fabs(m[0]) >= std::fabs(m[1]);
    if (a.upright) {
        a.xScale = m[0];
        a.yScale = m[3] - m[1] * m[2] / m[0];
        a.xShear = m[1] / m[0];
        a.yShear = m[2] / a.yScale;
    } else {
        a.xScale = -m[1];
        a.yScale = m[2] - m[0] * m[3] / m[1];
        a.xShear = -m[0] / m[1];
        a.yShear = -m[3] / a.yScale;
    }
    return std::isfinite(a.xShear) && std::isfinite(a.yShear) && std::isfinite(a.yScale);
}

// Upright, image columns run along device x from m4 and rows along device y
// from m5. Turned, rows run along x from m4 (yScale is their extent there)
// and columns along y from m5, against xScale: each axis takes its edges
// from the extent that it really covers.
ImageEdges imageEdges(const double* m, const ImageAxes& a, bool glyphMode) {
    ImageEdges e;
    if (a.upright) {
        pixelEdges(m[4], a.xScale, glyphMode, e.tx, e.tx2);
        pixelEdges(m[5], a.yScale, glyphMode, e.ty, e.ty2);
        e.columns = std::abs(int64_t{e.tx2} - e.tx) + 1;
        e.rows = std::abs(int64_t{e.ty2} - e.ty) + 1;
    } else {
        pixelEdges(m[4], a.yScale, glyphMode, e.tx, e.tx2);
        pixelEdges(m[5], -a.xScale, glyphMode, e.ty, e.ty2);
        e.columns = std::abs(int64_t{e.ty2} - e.ty) + 1;
        e.rows = std::abs(int64_t{e.tx2} - e.tx) + 1;
    }
    return e;
}

int ImagePlacement::testCorners(RasterClip& clip) const {
    int boxX0 = INT32_MAX, boxY0 = INT32_MAX, boxX1 = INT32_MIN, boxY1 = INT32_MIN;
    for (int corner = 0; corner < 4; ++corner) {
        int x, y;
        place(corner & 1 ? scaledHeight - 1 : 0, corner & 2 ? scaledWidth - 1 : 0, x, y);
        boxX0 = std::min(boxX0, x);
        boxX1 = std::max(boxX1, x);
        boxY0 = std::min(boxY0, y);
        boxY1 = std::max(boxY1, y);
    }
    return clip.testRect(boxX0, boxY0, boxX1, boxY1);
}

}  // namespace rendova
