#pragma once

#include <cstddef>
#include <vector>

#include "engine/raster/FlatPath.h"

namespace rendova {

class RasterBitmap;

// One scanline crossing of a segment: the pixel columns it covers on the
// scanline (inclusive) and its winding contribution.
struct RasterIntersection {
    int x0;
    int x1;
    int count;
};

// Finds, for one scanline at a time, the spans that lie inside a sorted flat
// path by the even-odd or the non-zero winding rule. It caches the
// intersections of the last scanline and keeps, while scanlines go down, the
// list of segments that can still reach them (in sorted order, so that the
// intersections come out exactly as a walk over all sorted segments would
// give them); moving up restarts from segment 0.
//
// The path is not owned and must stay alive and sorted (sortSegments) while
// the scanner is used. Not thread-safe; growth throws MemoryException.
// Scanline numbers are rows of the target bitmap (times 4 for anti-aliasing),
// so that 4 x y + 3 stays an int.
class RasterScanner {
public:
    RasterScanner(const FlatPath* path, bool evenOdd);
    ~RasterScanner();
    RasterScanner(const RasterScanner&) = delete;
    RasterScanner& operator=(const RasterScanner&) = delete;

    // Bounding box of the segments (floors; on the 4x grid when the path was
    // scaled). A path without segments gives 1, 1, 0, 0.
    int xMin() const { return m_xMin; }
    int yMin() const { return m_yMin; }
    int xMax() const { return m_xMax; }
    int yMax() const { return m_yMax; }
    // The box divided by 4, truncating toward zero, for anti-aliased paths.
    void getBBox(int& xMin, int& yMin, int& xMax, int& yMax) const;

    // The next span of scanline y, left to right; false when none is left.
    bool getNextSpan(int y, int& x0, int& x1);
    // 1 when (x, y) lies inside the path or on its outline.
    int test(int x, int y);
    // 1 when every column sx0 to sx1 of scanline y is inside.
    int testSpan(int sx0, int sx1, int y);
    // Paints the four sub-rows of pixel row y into the 1-bit buffer (4 bits
    // per pixel per row) and gives the pixel range that holds bits, or
    // x0 = buffer width / 4 and x1 = 0 when none.
    void renderAaLine(RasterBitmap& buffer, int& x0, int& x1, int y);
    // Clears every bit of pixels x0 to x1 of the buffer that lies outside the
    // path on the four sub-rows of pixel row y.
    void clipAaLine(RasterBitmap& buffer, int x0, int x1, int y);

    // Keeps the intersections of every scanline y0..y1 once computed. A
    // clip path's scanner is asked for the same scanlines again and again,
    // by every span of every fill beneath it (a shading's thousands of
    // pieces), each time from the top of its sweep. Keeping starts when the
    // sweep first restarts. At most kMaxCachedRows scanlines and
    // kMaxCachedIntersections intersections (3 MB) are kept; others are
    // computed as before.
    void cacheRows(int y0, int y1);
    static constexpr int kMaxCachedRows = 1 << 16;
    static constexpr size_t kMaxCachedIntersections = size_t{1} << 18;

    const FlatPath* path() const { return m_path; }
    bool evenOdd() const { return m_evenOdd; }

private:
    void computeIntersections(int y);
    void sweepTo(int y);
    // Makes room for n intersections in m_inter.
    void reserveIntersections(int n);
    // Recomputes when y is not the cached scanline, else restarts the walk.
    void startScanline(int y);
    bool nextSpan(int& x0, int& x1);
    bool inside(int count) const { return m_evenOdd ? (count & 1) != 0 : count != 0; }

    const FlatPath* m_path;
    bool m_evenOdd;
    int m_xMin, m_yMin, m_xMax, m_yMax;
    int m_interY;
    // The scanline the active list below was swept to.
    int m_sweepY;
    int m_interIdx = 0;
    int m_interCount = 0;
    // The active segments (indices in sorted order) of the downward sweep:
    // begun and not yet ended above the last scanline. m_nextSeg is the
    // first sorted segment not yet taken in.
    int* m_active = nullptr;
    int m_activeLength = 0;
    int m_nextSeg = 0;
    RasterIntersection* m_inter = nullptr;
    int m_interLength = 0;
    int m_interSize = 0;
    // The kept scanlines: for scanline m_cacheY0 + i (of m_cacheRows), the
    // start of its intersections in m_cachedInter (-1 until computed) and
    // their count; empty until keeping starts.
    int m_cacheY0 = 0;
    int m_cacheRows = 0;
    std::vector<int> m_cachedStart;
    std::vector<int> m_cachedLength;
    std::vector<RasterIntersection> m_cachedInter;
};

}  // namespace rendova
