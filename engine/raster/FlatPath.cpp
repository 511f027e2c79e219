#include "engine/raster/FlatPath.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/core/Memory.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

namespace {

// How close to a hinted edge (or the middle of two) a coordinate must lie to
// snap with it, in device pixels; the adjusted far edge also stops this much
// short of its whole pixel, so that it does not cover the next one.
constexpr double kAdjustWindow = 0.01;

// One stroke-adjust hint made ready for moving points: coordinates inside a
// window of +-kAdjustWindow around either edge or their middle snap to whole
// pixels.
// The coordinate is x for vertical edges and y for horizontal ones.
struct StrokeAdjust {
    int firstPoint, lastPoint;
    bool vertical;
    double x0a, x0b, xma, xmb, x1a, x1b;
    double x0, x1, xm;
};

// Builds the hint records; false when any hint has edges that are not both
// vertical or both horizontal, or that lie outside the path, in which case
// no hint of the path applies.
bool buildAdjustments(const RasterPath& path, const RasterPathPoint* pts, std::vector<StrokeAdjust>& out) {
    const int n = path.length();
    const RasterPathHint* hints = path.hints();
    out.reserve(static_cast<size_t>(path.hintsLength()));
    for (int i = 0; i < path.hintsLength(); ++i) {
        const RasterPathHint& h = hints[i];
        if (h.ctrl0 < 0 || h.ctrl0 >= n - 1 || h.ctrl1 < 0 || h.ctrl1 >= n - 1)
            return false;
        const RasterPathPoint& a0 = pts[h.ctrl0];
        const RasterPathPoint& a1 = pts[h.ctrl0 + 1];
        const RasterPathPoint& b0 = pts[h.ctrl1];
        const RasterPathPoint& b1 = pts[h.ctrl1 + 1];
        StrokeAdjust adj;
        double adj0, adj1;
        if (a0.x == a1.x && b0.x == b1.x) {
            adj.vertical = true;
            adj0 = a0.x;
            adj1 = b0.x;
        } else if (a0.y == a1.y && b0.y == b1.y) {
            adj.vertical = false;
            adj0 = a0.y;
            adj1 = b0.y;
        } else {
            return false;
        }
        if (adj0 > adj1)
            std::swap(adj0, adj1);
        double w = std::floor(adj1 - adj0 + 0.5);
        if (w == 0)
            w = 1;
        adj.x0a = adj0 - kAdjustWindow;
        adj.x0b = adj0 + kAdjustWindow;
        adj.xma = (adj0 + adj1) / 2 - kAdjustWindow;
        adj.xmb = (adj0 + adj1) / 2 + kAdjustWindow;
        adj.x1a = adj1 - kAdjustWindow;
        adj.x1b = adj1 + kAdjustWindow;
        adj.x0 = std::floor(adj0 + 0.5);
        adj.x1 = adj.x0 + w - kAdjustWindow;
        adj.xm = (adj.x0 + adj.x1) / 2;
        adj.firstPoint = std::max(h.firstPoint, 0);
        adj.lastPoint = std::min(h.lastPoint, n - 1);
        out.push_back(adj);
    }
    return true;
}

void applyAdjustments(const std::vector<StrokeAdjust>& adjustments, RasterPathPoint* pts) {
    for (const StrokeAdjust& adj : adjustments) {
        for (int j = adj.firstPoint; j <= adj.lastPoint; ++j) {
            double& v = adj.vertical ? pts[j].x : pts[j].y;
            // The order of the tests decides when the windows overlap on very
            // thin strokes.
            if (adj.x0a < v && v < adj.x0b) {
                v = adj.x0;
            } else if (adj.xma < v && v < adj.xmb) {
                v = adj.xm;
            } else if (adj.x1a < v && v < adj.x1b) {
                v = adj.x1;
            }
        }
    }
}

}  // namespace

FlatPath::FlatPath(const RasterPath& path, const double* matrix, double flatness, bool closeSubpaths) {
    try {
        build(path, matrix, flatness, closeSubpaths);
    } catch (...) {
        memFree(m_segments);
        throw;
    }
}

FlatPath::FlatPath(const FlatPath& other) : m_length(other.m_length), m_size(other.m_length) {
    if (m_length > 0) {
        m_segments =
            static_cast<FlatSegment*>(memAllocArray(m_length, static_cast<int>(sizeof(FlatSegment))));
        std::memcpy(m_segments, other.m_segments, sizeof(FlatSegment) * static_cast<size_t>(m_length));
    }
}

FlatPath::~FlatPath() {
    memFree(m_segments);
}

void FlatPath::build(const RasterPath& path, const double* m, double flatness, bool closeSubpaths) {
    const int n = path.length();
    if (n == 0)
        return;

    // 1. Every point into device space.
    const RasterPathPoint* src = path.points();
    const uint8_t* flags = path.flags();
    std::unique_ptr<RasterPathPoint, void (*)(void*)> holder(
        static_cast<RasterPathPoint*>(memAllocArray(n, static_cast<int>(sizeof(RasterPathPoint)))), memFree);
    RasterPathPoint* pts = holder.get();
    for (int i = 0; i < n; ++i) {
        pts[i].x = m[0] * src[i].x + m[2] * src[i].y + m[4];
        pts[i].y = m[1] * src[i].x + m[3] * src[i].y + m[5];
    }

    // 2. Stroke adjustment.
    if (path.hintsLength() > 0) {
        std::vector<StrokeAdjust> adjustments;
        if (buildAdjustments(path, pts, adjustments))
            applyAdjustments(adjustments, pts);
    }

    // Clamp only now: a hostile matrix may have produced huge values or NaN,
    // and everything below floors these coordinates to integers at some point.
    for (int i = 0; i < n; ++i) {
        pts[i].x = clampCoord(pts[i].x);
        pts[i].y = clampCoord(pts[i].y);
    }

    // 3. and 4. Walk the points.
    const double flatnessSquared = flatness * flatness;
    CurveSubdivider subdivider;
    const bool open = !closeSubpaths;
    int subpathStart = 0;
    double curX = pts[0].x, curY = pts[0].y;
    int i = 0;
    while (i < n) {
        if (flags[i] & kPathFirst) {
            subpathStart = i;
            curX = pts[i].x;
            curY = pts[i].y;
            ++i;
        } else if ((flags[i] & kPathCurve) && i > 0 && i + 2 < n) {
            const bool first = (flags[i - 1] & kPathFirst) != 0;
            const bool last = (flags[i + 2] & kPathLast) != 0;
            const bool openStart = open && first && !(flags[subpathStart] & kPathClosed);
            const bool openEnd = open && last && !(flags[i + 2] & kPathClosed);
            const RasterPathPoint curve[4] = {{curX, curY}, pts[i], pts[i + 1], pts[i + 2]};
            subdivider.run(curve, nullptr, flatnessSquared,
                           [&](double x0, double y0, double x1, double y1, bool firstPiece, bool lastPiece) {
                               addSegment(x0, y0, x1, y1, firstPiece && first, lastPiece && last,
                                          firstPiece && openStart, lastPiece && openEnd);
                           });
            curX = pts[i + 2].x;
            curY = pts[i + 2].y;
            i += 3;
        } else {
            // A stray control point (no complete curve left) counts as a line
            // end; paths built through RasterPath never have one.
            const bool first = i > 0 && (flags[i - 1] & kPathFirst) != 0;
            const bool last = (flags[i] & kPathLast) != 0;
            const bool openStart = open && first && !(flags[subpathStart] & kPathClosed);
            const bool openEnd = open && last && !(flags[i] & kPathClosed);
            addSegment(curX, curY, pts[i].x, pts[i].y, first, last, openStart, openEnd);
            curX = pts[i].x;
            curY = pts[i].y;
            ++i;
        }
        if (closeSubpaths && (flags[i - 1] & kPathLast) &&
            (curX != pts[subpathStart].x || curY != pts[subpathStart].y)) {
            addSegment(curX, curY, pts[subpathStart].x, pts[subpathStart].y, false, true, false, false);
        }
    }
}

void FlatPath::addSegment(double x0, double y0, double x1, double y1, bool first, bool last, bool openStart,
                          bool openEnd) {
    if (m_length == m_size) {
        const int newSize = m_size == 0 ? 32 : checkedMul(m_size, 2);
        m_segments = static_cast<FlatSegment*>(
            memReallocArray(m_segments, newSize, static_cast<int>(sizeof(FlatSegment))));
        m_size = newSize;
    }
    FlatSegment& s = m_segments[m_length++];
    s.x0 = x0;
    s.y0 = y0;
    s.x1 = x1;
    s.y1 = y1;
    s.flags = (first ? kSegFirst : 0) | (last ? kSegLast : 0) | (openStart ? kSegOpenStart : 0) |
              (openEnd ? kSegOpenEnd : 0);
    if (y0 == y1) {
        s.flags |= kSegHorizontal;
        if (x0 == x1)
            s.flags |= kSegVertical;
        s.dxdy = s.dydx = 0;
    } else if (x0 == x1) {
        s.flags |= kSegVertical;
        s.dxdy = s.dydx = 0;
    } else {
        s.dxdy = (x1 - x0) / (y1 - y0);
        s.dydx = 1 / s.dxdy;
    }
    if (y0 > y1)
        s.flags |= kSegFlipped;
}

void FlatPath::scaleForAntialias() {
    for (int i = 0; i < m_length; ++i) {
        m_segments[i].x0 *= 4;
        m_segments[i].y0 *= 4;
        m_segments[i].x1 *= 4;
        m_segments[i].y1 *= 4;
    }
}

void FlatPath::sortSegments() {
    // The library sort is an introsort: no recursion that a hostile path
    // can drive deeper than a logarithm of its size.
    std::sort(m_segments, m_segments + m_length, [](const FlatSegment& a, const FlatSegment& b) {
        const bool af = (a.flags & kSegFlipped) != 0, bf = (b.flags & kSegFlipped) != 0;
        const double ay = af ? a.y1 : a.y0, ax = af ? a.x1 : a.x0;
        const double by = bf ? b.y1 : b.y0, bx = bf ? b.x1 : b.x0;
        return ay < by || (ay == by && ax < bx);
    });
}

}  // namespace rendova
