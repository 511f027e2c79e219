#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/raster/FlatPath.h"
#include "engine/raster/RasterScanner.h"

namespace rendova {

class RasterBitmap;

// The clip region: a rectangle in device pixels plus any number of clip
// paths, each a sorted flat path (on the 4x grid when anti-aliasing) with its
// fill rule and its own scanner. A pixel is inside when it lies in the
// rectangle and inside every path.
//
// Owned by its rasteriser state; copying copies every path. Not thread-safe;
// clipToPath throws MemoryException when memory runs out.
class RasterClip {
public:
    RasterClip(double x0, double y0, double x1, double y1, bool antialias);
    RasterClip(const RasterClip& other);
    RasterClip& operator=(const RasterClip&) = delete;
    ~RasterClip();

    int clipToRect(double x0, double y0, double x1, double y1);
    // Intersects the clip with the path's area under the matrix. An
    // axis-aligned rectangle only narrows the rectangle; a path without
    // segments empties the clip.
    int clipToPath(const RasterPath& path, const double* matrix, double flatness, bool evenOdd);

    // 1 when pixel (x, y) is inside.
    int test(int x, int y);
    // 1 all outside, 0 all inside, 2 partly, for the pixels rx0..rx1, ry0..ry1.
    int testRect(int rx0, int ry0, int rx1, int ry1);
    // testRect's codes for the pixels sx0..sx1 of row y.
    int testSpan(int sx0, int sx1, int y);
    // Clears the bits of the anti-aliasing buffer (four rows, 4 bits per
    // pixel) that lie outside the clip on pixel row y, and narrows x0..x1 to
    // the rectangle when it cut anything.
    void clipSpan(RasterBitmap& buffer, int& x0, int& x1, int y);

    bool antialias() const { return m_antialias; }
    double xMin() const { return m_xMin; }
    double yMin() const { return m_yMin; }
    double xMax() const { return m_xMax; }
    double yMax() const { return m_yMax; }
    int xMinI() const { return m_xMinI; }
    int yMinI() const { return m_yMinI; }
    int xMaxI() const { return m_xMaxI; }
    int yMaxI() const { return m_yMaxI; }
    int length() const { return static_cast<int>(m_paths.size()); }
    const FlatPath& path(int i) const { return *m_paths[static_cast<size_t>(i)]; }
    bool evenOdd(int i) const { return m_evenOdd[static_cast<size_t>(i)] != 0; }

private:
    void setRect(double x0, double y0, double x1, double y1);
    void updateIntegerBounds();
    // A scanner for the last path, keeping the scanlines it computes.
    void addScanner(bool evenOdd);

    bool m_antialias;
    double m_xMin, m_yMin, m_xMax, m_yMax;
    int m_xMinI, m_yMinI, m_xMaxI, m_yMaxI;
    std::vector<std::unique_ptr<FlatPath>> m_paths;
    std::vector<uint8_t> m_evenOdd;
    std::vector<std::unique_ptr<RasterScanner>> m_scanners;
};

}  // namespace rendova
