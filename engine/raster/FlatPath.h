#pragma once

#include <cstdint>
#include <memory>

#include "engine/raster/RasterPath.h"

namespace rendova {

// Flags of a flattened segment.
constexpr int kSegFirst = 1;        // first segment of a sub-path
constexpr int kSegLast = 2;         // last segment of a sub-path
constexpr int kSegOpenStart = 4;    // starts an open sub-path
constexpr int kSegOpenEnd = 8;      // ends an open sub-path
constexpr int kSegHorizontal = 16;  // y0 = y1
constexpr int kSegVertical = 32;    // x0 = x1 (also set on a horizontal segment of zero length)
constexpr int kSegFlipped = 64;     // y0 > y1; the ends stay in the path's own order

// One line segment in device space (times 4 after scaleForAntialias), in the
// path's own direction. dxdy and dydx are 0 for horizontal and vertical ones.
struct FlatSegment {
    double x0, y0, x1, y1;
    double dxdy;
    double dydx;
    int flags;
};

// Iterative midpoint subdivision of a cubic Bezier curve over a fixed table of
// 1025 positions, so that a curve gives at most 1024 pieces whatever its
// coordinates (NaN included). A piece is emitted when it spans one position
// or both its control points lie within the flatness of its chord's
// midpoint. The working table (about 50 KB) is allocated on first use and
// reused, which keeps it off the stack and out of the per-curve path.
class CurveSubdivider {
public:
    static constexpr int kPositions = 1024;

    // p: start, two control points, end. matrix: null when the points are
    // already in device space; otherwise the distances are measured after its
    // linear part. emit(x0, y0, x1, y1, isFirstPiece, isLastPiece) receives
    // the pieces in order.
    template <typename Emit>
    void run(const RasterPathPoint* p, const double* matrix, double flatnessSquared, Emit&& emit);

private:
    struct Table {
        double cx[kPositions + 1][3];
        double cy[kPositions + 1][3];
        int next[kPositions + 1];
    };
    std::unique_ptr<Table> m_table;
};

// The device-space line segments of a path, made per fill, stroke or clip.
// Owned by its maker (the clip keeps its own). Not thread-safe; growth throws
// MemoryException.
class FlatPath {
public:
    // Transforms the path by the matrix, applies the path's stroke-adjust
    // hints and flattens its curves. With closeSubpaths set every sub-path
    // gets a closing segment (when its ends differ); without it the open
    // sub-paths' end segments carry the open flags.
    FlatPath(const RasterPath& path, const double* matrix, double flatness, bool closeSubpaths);
    FlatPath(const FlatPath& other);
    FlatPath& operator=(const FlatPath&) = delete;
    ~FlatPath();

    const FlatSegment* segments() const { return m_segments; }
    int length() const { return m_length; }

    // Moves the segments onto the anti-aliasing grid (4 x 4 per pixel).
    void scaleForAntialias();
    // Orders the segments by their upper end (smaller y), ties by x.
    void sortSegments();

private:
    void addSegment(double x0, double y0, double x1, double y1, bool first, bool last, bool openStart,
                    bool openEnd);
    void build(const RasterPath& path, const double* matrix, double flatness, bool closeSubpaths);

    FlatSegment* m_segments = nullptr;
    int m_length = 0;
    int m_size = 0;
};

template <typename Emit>
void CurveSubdivider::run(const RasterPathPoint* p, const double* matrix, double flatnessSquared,
                          Emit&& emit) {
    if (!m_table)
        m_table.reset(new Table);  // not zeroed: every entry is written before it is read
    Table& t = *m_table;
    t.cx[0][0] = p[0].x;
    t.cy[0][0] = p[0].y;
    t.cx[0][1] = p[1].x;
    t.cy[0][1] = p[1].y;
    t.cx[0][2] = p[2].x;
    t.cy[0][2] = p[2].y;
    t.cx[kPositions][0] = p[3].x;
    t.cy[kPositions][0] = p[3].y;
    t.next[0] = kPositions;

    int p1 = 0;
    while (p1 < kPositions) {
        const double xl0 = t.cx[p1][0], yl0 = t.cy[p1][0];
        const double xx1 = t.cx[p1][1], yy1 = t.cy[p1][1];
        const double xx2 = t.cx[p1][2], yy2 = t.cy[p1][2];
        const int p2 = t.next[p1];
        const double xr3 = t.cx[p2][0], yr3 = t.cy[p2][0];

        // Squared distances of the control points from the chord's midpoint.
        const double mx = (xl0 + xr3) * 0.5, my = (yl0 + yr3) * 0.5;
        double d1x = xx1 - mx, d1y = yy1 - my, d2x = xx2 - mx, d2y = yy2 - my;
        if (matrix) {
            const double t1x = matrix[0] * d1x + matrix[2] * d1y, t1y = matrix[1] * d1x + matrix[3] * d1y;
            const double t2x = matrix[0] * d2x + matrix[2] * d2y, t2y = matrix[1] * d2x + matrix[3] * d2y;
            d1x = t1x, d1y = t1y, d2x = t2x, d2y = t2y;
        }
        const double dist1 = d1x * d1x + d1y * d1y;
        const double dist2 = d2x * d2x + d2y * d2y;

        if (p2 - p1 == 1 || (dist1 <= flatnessSquared && dist2 <= flatnessSquared)) {
            emit(xl0, yl0, xr3, yr3, p1 == 0, p2 == kPositions);
            p1 = p2;
        } else {
            // De Casteljau halves: midpoints of the three legs, then of those,
            // then the curve point between them.
            const double xl1 = (xl0 + xx1) * 0.5, yl1 = (yl0 + yy1) * 0.5;
            const double xh = (xx1 + xx2) * 0.5, yh = (yy1 + yy2) * 0.5;
            const double xr2 = (xx2 + xr3) * 0.5, yr2 = (yy2 + yr3) * 0.5;
            const double xl2 = (xl1 + xh) * 0.5, yl2 = (yl1 + yh) * 0.5;
            const double xr1 = (xh + xr2) * 0.5, yr1 = (yh + yr2) * 0.5;
            const double xr0 = (xl2 + xr1) * 0.5, yr0 = (yl2 + yr1) * 0.5;
            const int p3 = (p1 + p2) / 2;
            t.cx[p1][1] = xl1;
            t.cy[p1][1] = yl1;
            t.cx[p1][2] = xl2;
            t.cy[p1][2] = yl2;
            t.next[p1] = p3;
            t.cx[p3][0] = xr0;
            t.cy[p3][0] = yr0;
            t.cx[p3][1] = xr1;
            t.cy[p3][1] = yr1;
            t.cx[p3][2] = xr2;
            t.cy[p3][2] = yr2;
            t.next[p3] = p2;
        }
    }
}

}  // namespace rendova
