// Stroking: flattening, dashing, the stroke outline of wide lines, and thin
// (zero-width) lines drawn pixel by pixel.
#include <algorithm>
#include <cmath>

#include "engine/core/ErrorReport.h"
#include "engine/raster/FlatPath.h"
#include "engine/raster/Rasteriser.h"

namespace rendova {

namespace {

// Bezier control distance for a quarter circle of radius 1.
constexpr double kKappa = 0.55228475;

// Unit direction from a to b; (0, 1) for a line of length 0.
void unitDirection(const RasterPathPoint& a, const RasterPathPoint& b, double& dx, double& dy) {
    const double x = b.x - a.x, y = b.y - a.y;
    const double d = std::sqrt(x * x + y * y);
    if (d == 0) {
        dx = 0;
        dy = 1;
    } else {
        dx = x / d;
        dy = y / d;
    }
}

// Last point of the sub-path that starts at `first`.
int subpathEnd(const uint8_t* flags, int n, int first) {
    int j = first;
    while (j < n - 1 && !(flags[j] & kPathLast))
        ++j;
    return j;
}

// Whether the dash pattern can be walked, with its total length: the phase
// arithmetic divides by the total, and a walk over lengths that never
// advance would not end, so a pattern without a positive, finite total or
// with a negative value cannot be, and neither can one that would cut the
// path into more than kMaxDashPieces pieces. The line is then drawn solid.
bool dashIsWalkable(const RasterPath& path, const double* dash, int dashLength, double& total) {
    total = 0;
    for (int i = 0; i < dashLength; ++i) {
        if (!(dash[i] >= 0) || !std::isfinite(dash[i])) {
            reportError(-1, "Dash pattern with a negative or non-finite length; the line is drawn solid");
            return false;
        }
        total += dash[i];
    }
    if (!(total > 0) || !std::isfinite(total)) {
        reportError(-1, "Dash pattern of total length %g; the line is drawn solid", total);
        return false;
    }
    const RasterPathPoint* pts = path.points();
    const uint8_t* flags = path.flags();
    const int n = path.length();
    double pathLength = 0;
    for (int i = 0; i + 1 < n; ++i) {
        if (!(flags[i] & kPathLast))
            pathLength += std::hypot(pts[i + 1].x - pts[i].x, pts[i + 1].y - pts[i].y);
    }
    if (pathLength / total * dashLength > static_cast<double>(Rasteriser::kMaxDashPieces)) {
        reportError(-1, "Dash pattern too fine for a path of length %g; the line is drawn solid", pathLength);
        return false;
    }
    return true;
}

// Where the phase puts the start of every sub-path: the dash value, whether
// it is on, and how far into it.
struct DashStart {
    int index;
    bool on;
    double phase;
};

DashStart dashStart(const double* dash, int dashLength, double total, double phase) {
    if (!std::isfinite(phase))
        phase = 0;
    phase -= std::floor(phase / total) * total;
    DashStart start{0, true, 0};
    while (start.index < dashLength - 1 && phase >= dash[start.index]) {
        phase -= dash[start.index];
        start.on = !start.on;
        ++start.index;
    }
    start.phase = phase;
    return start;
}

// The dash pieces of the lines first..last of one sub-path into out.
void dashSubpath(RasterPath& out, const RasterPathPoint* pts, int first, int last, const double* dash,
                 int dashLength, const DashStart& start) {
    int index = start.index;
    bool on = start.on;
    // Rounding can leave the phase a hair past the last value.
    double remaining = std::max(dash[index] - start.phase, 0.0);
    bool newPiece = true;
    for (int j = first; j < last; ++j) {
        double ax = pts[j].x, ay = pts[j].y;
        const double bx = pts[j + 1].x, by = pts[j + 1].y;
        double length = std::hypot(bx - ax, by - ay);
        while (length > 0) {
            if (remaining >= length) {
                if (on) {
                    if (newPiece) {
                        out.moveTo(ax, ay);
                        newPiece = false;
                    }
                    out.lineTo(bx, by);
                }
                remaining -= length;
                length = 0;
            } else {
                const double f = remaining / length;
                const double cx = ax + (bx - ax) * f, cy = ay + (by - ay) * f;
                if (on) {
                    if (newPiece) {
                        out.moveTo(ax, ay);
                        newPiece = false;
                    }
                    out.lineTo(cx, cy);
                }
                ax = cx;
                ay = cy;
                length -= remaining;
                remaining = 0;
            }
            if (remaining == 0) {
                index = index + 1 == dashLength ? 0 : index + 1;
                on = !on;
                remaining = dash[index];
                newPiece = true;
            }
        }
    }
}

// The clip results of a thin stroke's segments, as opClipResult.
struct ClipTally {
    bool anyInside = false, anyOutside = false, anyPartly = false;

    // false for a segment wholly outside the clip.
    bool add(int result) {
        if (result == 1) {
            anyOutside = true;
            return false;
        }
        if (result == 0)
            anyInside = true;
        else
            anyPartly = true;
        return true;
    }

    int result() const {
        if (anyPartly || (anyInside && anyOutside))
            return 2;
        return anyInside ? 0 : 1;
    }
};

// A segment of a thin stroke: its ends, and the pixels that hold them.
struct ThinSegment {
    double sx0, sy0, sx1, sy1;
    int x0, y0, x1, y1;
    double dxdy;

    explicit ThinSegment(const FlatSegment& seg)
        : sx0(seg.x0),
          sy0(seg.y0),
          sx1(seg.x1),
          sy1(seg.y1),
          x0(floorToInt(sx0)),
          y0(floorToInt(sy0)),
          x1(floorToInt(sx1)),
          y1(floorToInt(sy1)),
          dxdy(seg.dxdy) {}

    void makeTopDown() {
        if (y0 > y1) {
            std::swap(sx0, sx1);
            std::swap(sy0, sy1);
            std::swap(x0, x1);
            std::swap(y0, y1);
        }
    }
};

// A flat line, top-down: a run per row, from where the line enters the row
// to where it leaves it (the column at the row's lower edge).
template <typename Run>
inline void thinFlatLine(const ThinSegment& seg, int yStart, int yEnd, bool tested, const Run& run) {
    const double sx0 = seg.sx0, sy0 = seg.sy0, dxdy = seg.dxdy;
    const int x0 = seg.x0, y0 = seg.y0, x1 = seg.x1, y1 = seg.y1;
    auto leave = [&](int y) { return floorToInt(clampCoord((y + 1 - sy0) * dxdy + sx0)); };
    for (int y = yStart; y <= yEnd; ++y) {
        if (dxdy > 0) {
            if (y == y0)
                run(x0, std::max(x0, leave(y) - 1), y, tested);
            else if (y == y1)
                run(leave(y - 1), std::max(x1, leave(y - 1)), y, tested);
            else
                run(leave(y - 1), leave(y) - 1, y, tested);
        } else {
            if (y == y0)
                run(std::min(leave(y) + 1, x0), x0, y, tested);
            else if (y == y1)
                run(x1, std::max(leave(y - 1), x1), y, tested);
            else
                run(leave(y) + 1, leave(y - 1), y, tested);
        }
    }
}

// A steep line, top-down: one pixel per row.
template <typename Run>
inline void thinSteepLine(const ThinSegment& seg, int yStart, int yEnd, bool tested, const Run& run) {
    for (int y = yStart; y <= yEnd; ++y) {
        int x;
        if (y == seg.y0)
            x = seg.x0;
        else if (y == seg.y1)
            x = seg.x1;
        else
            x = floorToInt(clampCoord((y - seg.sy0) * seg.dxdy + seg.sx0));
        run(x, x, y, tested);
    }
}

// Line width, its half, the control distance of a quarter circle of that
// radius, and the cap, join and miter limit of the state.
struct StrokeStyle {
    double w, r, k;
    int lineCap, lineJoin;
    double miterLimit;
};

// One line of a flattened path: its unit direction, that of the line that
// follows it, and half the width along the direction.
struct StrokeLine {
    double dx, dy, dxN, dyN;
    double wdx, wdy;
};

// The line's piece: left side at the start, right side at the start, right
// side at the end, left side at the end, with caps at the open ends; every
// piece runs the same way round. rs and le are the indices of the right side's
// start and the left side's end, for the stroke-adjust hints.
void addLinePiece(RasterPath& out, const StrokeStyle& style, const StrokeLine& line,
                  const RasterPathPoint& p0, const RasterPathPoint& p1, bool startCap, bool endCap, int& rs,
                  int& le) {
    const double k = style.k, dx = line.dx, dy = line.dy, wdx = line.wdx, wdy = line.wdy;
    out.moveTo(p0.x - wdy, p0.y + wdx);
    if (startCap && style.lineCap == 1) {
        out.curveTo(p0.x - wdy - k * dx, p0.y + wdx - k * dy, p0.x - wdx - k * dy, p0.y - wdy + k * dx,
                    p0.x - wdx, p0.y - wdy);
        out.curveTo(p0.x - wdx + k * dy, p0.y - wdy - k * dx, p0.x + wdy - k * dx, p0.y - wdx - k * dy,
                    p0.x + wdy, p0.y - wdx);
    } else {
        if (startCap && style.lineCap == 2) {
            out.lineTo(p0.x - wdx - wdy, p0.y - wdy + wdx);
            out.lineTo(p0.x - wdx + wdy, p0.y - wdy - wdx);
        }
        out.lineTo(p0.x + wdy, p0.y - wdx);
    }
    rs = out.length() - 1;
    out.lineTo(p1.x + wdy, p1.y - wdx);
    if (endCap && style.lineCap == 1) {
        out.curveTo(p1.x + wdy + k * dx, p1.y - wdx + k * dy, p1.x + wdx + k * dy, p1.y + wdy - k * dx,
                    p1.x + wdx, p1.y + wdy);
        out.curveTo(p1.x + wdx - k * dy, p1.y + wdy + k * dx, p1.x - wdy + k * dx, p1.y + wdx + k * dy,
                    p1.x - wdy, p1.y + wdx);
    } else {
        if (endCap && style.lineCap == 2) {
            out.lineTo(p1.x + wdx + wdy, p1.y + wdy - wdx);
            out.lineTo(p1.x + wdx - wdy, p1.y + wdy + wdx);
        }
        out.lineTo(p1.x - wdy, p1.y + wdx);
    }
    le = out.length() - 1;
    out.close();
}

// The join at the line's end point p.
// A circle of the line's width around p, as four quarter curves.
void addDisc(RasterPath& out, const StrokeStyle& style, const RasterPathPoint& p) {
    const double x = p.x, y = p.y, r = style.r, k = style.k;
    out.moveTo(x + r, y);
    out.curveTo(x + r, y + k, x + k, y + r, x, y + r);
    out.curveTo(x - k, y + r, x - r, y + k, x - r, y);
    out.curveTo(x - r, y - k, x - k, y - r, x, y - r);
    out.curveTo(x + k, y - r, x + r, y - k, x + r, y);
    out.close();
}

// Whether the sub-path from first to last stays on its first point: a
// closed lone point, or two or more points in one place.
bool staysOnOnePoint(const RasterPathPoint* pts, int first, int last, bool closed) {
    if (last == first && !closed)
        return false;
    for (int j = first + 1; j <= last; ++j)
        if (pts[j].x != pts[first].x || pts[j].y != pts[first].y)
            return false;
    return true;
}

void addJoin(RasterPath& out, const StrokeStyle& style, const StrokeLine& line, const RasterPathPoint& p) {
    const double x = p.x, y = p.y, w = style.w;
    if (style.lineJoin == 1) {
        addDisc(out, style, p);
        return;
    }
    const double dx = line.dx, dy = line.dy, dxN = line.dxN, dyN = line.dyN, wdx = line.wdx, wdy = line.wdy;
    // A turn back on itself (dot near 1) has no usable miter point: miter is
    // made to fail the limit, giving a bevel.
    const double dot = -(dx * dxN + dy * dyN);
    double miter, m;
    if (dot > 0.99999) {
        miter = (style.miterLimit + 1) * (style.miterLimit + 1);
        m = 0;
    } else {
        miter = 2 / (1 - dot);
        if (miter < 1)
            miter = 1;
        m = std::sqrt(miter - 1);
    }
    const bool drawMiter = style.lineJoin == 0 && std::sqrt(miter) <= style.miterLimit;
    out.moveTo(x, y);
    if (dx * dyN - dy * dxN >= 0) {
        out.lineTo(x + wdy, y - wdx);
        if (drawMiter)
            out.lineTo(x + wdy + wdx * m, y - wdx + wdy * m);
        out.lineTo(x + w * dyN / 2, y - w * dxN / 2);
    } else {
        out.lineTo(x - w * dyN / 2, y + w * dxN / 2);
        if (drawMiter)
            out.lineTo(x - wdy + wdx * m, y + wdx + wdy * m);
        out.lineTo(x - wdy, y + wdx);
    }
    out.close();
}

// The stroke-adjust hints of one sub-path, added after each line's pieces.
// Outline indices: fs the first point of line 0's piece; rs, le, js of lines
// k, k - 1 and k - 2 (index 0, 1, 2), and of line 0.
struct StrokeAdjustHints {
    int line = 0;
    int fs = 0;
    int rs[3] = {0, 0, 0}, le[3] = {0, 0, 0}, js[3] = {0, 0, 0};
    int rs0 = 0, le0 = 0;

    void addAfterLine(RasterPath& out, int pieceStart, int rsK, int leK, int jsK, bool lastLine,
                      bool closed) {
        // Shift the history: index 0 is line k, 1 is k - 1, 2 is k - 2.
        rs[2] = rs[1], le[2] = le[1], js[2] = js[1];
        rs[1] = rs[0], le[1] = le[0], js[1] = js[0];
        rs[0] = rsK, le[0] = leK, js[0] = jsK;
        if (line == 0) {
            fs = pieceStart;
            rs0 = rsK;
            le0 = leK;
        }
        if (line >= 2) {
            out.addStrokeAdjustHint(rs[1], le[1], rs[2] + 1, le[2]);
            out.addStrokeAdjustHint(rs[1], le[1], js[2], rs[0]);
        } else if (line == 1) {
            out.addStrokeAdjustHint(rs0, le0, fs, rs[0]);
        }
        if (line >= 1)
            out.addStrokeAdjustHint(rs[1], le[1], le[0] + 1, le[0] + 1);
        if (!lastLine)
            return;
        const int newest = out.length() - 1;
        if (line >= 2) {
            out.addStrokeAdjustHint(rs[0], le[0], rs[1] + 1, le[1]);
            out.addStrokeAdjustHint(rs[0], le[0], js[1], newest);
        } else {
            out.addStrokeAdjustHint(rs[0], le[0], fs, newest);
        }
        if (closed) {
            out.addStrokeAdjustHint(rs[0], le[0], fs, rs0);
            out.addStrokeAdjustHint(rs[0], le[0], le0 + 1, le0 + 1);
            out.addStrokeAdjustHint(rs0, le0, rs[0] + 1, le[0]);
            out.addStrokeAdjustHint(rs0, le0, js[0], newest);
        }
    }
};

}  // namespace

int Rasteriser::stroke(const RasterPath& path) {
    m_opClipResult = 1;
    if (path.length() == 0)
        return resultEmptyPath;
    std::unique_ptr<RasterPath> p = flattenPath(path, m_state->matrix(), m_state->flatness());
    if (m_state->lineDash())
        p = makeDashedPath(*p);
    if (m_state->lineWidth() != 0) {
        std::unique_ptr<RasterPath> outline = makeStrokePath(*p, 0);
        fillWithPattern(*outline, false, m_state->strokePattern(), m_state->strokeAlpha());
    } else {
        strokeThin(*p);
    }
    return resultOk;
}

std::unique_ptr<RasterPath> Rasteriser::flattenPath(const RasterPath& path, const double* matrix,
                                                    double flatness) {
    auto out = std::make_unique<RasterPath>();
    const RasterPathPoint* pts = path.points();
    const uint8_t* flags = path.flags();
    const int n = path.length();
    const double flatnessSquared = flatness * flatness;
    CurveSubdivider subdivider;
    int i = 0;
    while (i < n) {
        if (flags[i] & kPathFirst) {
            out->moveTo(pts[i].x, pts[i].y);
            ++i;
        } else if ((flags[i] & kPathCurve) && i > 0 && i + 2 < n) {
            const RasterPathPoint curve[4] = {pts[i - 1], pts[i], pts[i + 1], pts[i + 2]};
            // The pieces end exactly on the curve's end point, so a closed
            // sub-path still returns to its first point exactly.
            subdivider.run(curve, matrix, flatnessSquared,
                           [&](double, double, double x1, double y1, bool, bool) { out->lineTo(x1, y1); });
            i += 3;
        } else {
            out->lineTo(pts[i].x, pts[i].y);
            ++i;
        }
        if ((flags[i - 1] & kPathLast) && (flags[i - 1] & kPathClosed))
            out->close();
    }
    return out;
}

std::unique_ptr<RasterPath> Rasteriser::makeDashedPath(const RasterPath& path) {
    const double* dash = m_state->lineDash();
    const int dashLength = m_state->lineDashLength();
    double total = 0;
    if (!dash || dashLength <= 0 || !dashIsWalkable(path, dash, dashLength, total)) {
        auto copy = std::make_unique<RasterPath>();
        copy->append(path);
        return copy;
    }
    const DashStart start = dashStart(dash, dashLength, total, m_state->lineDashPhase());
    auto out = std::make_unique<RasterPath>();
    const uint8_t* flags = path.flags();
    const int n = path.length();
    int i = 0;
    while (i < n) {
        const int last = subpathEnd(flags, n, i);
        dashSubpath(*out, path.points(), i, last, dash, dashLength, start);
        i = last + 1;
    }
    return out;
}

std::unique_ptr<RasterPath> Rasteriser::makeStrokePath(const RasterPath& source, int flatten) {
    std::unique_ptr<RasterPath> flattened;
    const RasterPath* path = &source;
    if (flatten) {
        flattened = flattenPath(source, m_state->matrix(), m_state->flatness());
        if (m_state->lineDash())
            flattened = makeDashedPath(*flattened);
        path = flattened.get();
    }

    const double w = m_state->lineWidth();
    const StrokeStyle style{
        w, w / 2, kKappa * (w / 2), m_state->lineCap(), m_state->lineJoin(), m_state->miterLimit()};
    const bool adjust = m_state->strokeAdjust() != 0;

    auto out = std::make_unique<RasterPath>();
    const RasterPathPoint* pts = path->points();
    const uint8_t* flags = path->flags();
    const int n = path->length();

    int first = 0, last = 0;
    bool closed = false;
    StrokeAdjustHints hints;
    for (int i = 0; i < n; ++i) {
        if (flags[i] & kPathFirst) {
            first = i;
            last = subpathEnd(flags, n, first);
            closed = (flags[first] & kPathClosed) != 0;
            hints.line = 0;
            // A sub-path without length, closed or open, is a dot of the
            // line's width under round caps (a closed one has no caps to
            // draw it otherwise).
            if (style.lineCap == 1 && staysOnOnePoint(pts, first, last, closed)) {
                addDisc(*out, style, pts[first]);
                i = last;
                continue;
            }
        }
        if (i >= last)
            continue;

        const RasterPathPoint& p0 = pts[i];
        const RasterPathPoint& p1 = pts[i + 1];
        StrokeLine line;
        unitDirection(p0, p1, line.dx, line.dy);
        // The next line; after the last line of a sub-path, its first line
        // (which only a closed sub-path joins to).
        if (i + 1 < last)
            unitDirection(p1, pts[i + 2], line.dxN, line.dyN);
        else
            unitDirection(p1, pts[first + 1], line.dxN, line.dyN);
        line.wdx = w * line.dx / 2;
        line.wdy = w * line.dy / 2;
        const bool lastLine = i + 1 == last;

        const int pieceStart = out->length();
        int rsK, leK;
        addLinePiece(*out, style, line, p0, p1, i == first && !closed, lastLine && !closed, rsK, leK);
        const int jsK = out->length();
        if (!lastLine || closed)
            addJoin(*out, style, line, p1);
        if (adjust)
            hints.addAfterLine(*out, pieceStart, rsK, leK, jsK, lastLine, closed);
        ++hints.line;
    }
    return out;
}

void Rasteriser::strokeThin(const RasterPath& path) {
    if (bitmapIsEmpty())
        return;
    FlatPath flat(path, m_state->matrix(), m_state->flatness(), false);
    const FlatSegment* segs = flat.segments();
    const int count = flat.length();
    RasterClip& clip = m_state->clip();
    const int clipX0 = clip.xMinI(), clipX1 = clip.xMaxI();
    const int clipY0 = clip.yMinI(), clipY1 = clip.yMaxI();

    SpanPainter painter;
    initPainter(painter, 0, 0, m_state->strokePattern(), nullptr, m_state->strokeAlpha(), 0, 0);

    ClipTally tally;
    // One run of row y: every pixel, or each tested against the clip. Pixels
    // outside the clip rectangle fail the test anyway, so the run is cut to
    // it first; that also bounds the work a huge segment can ask for.
    auto run = [&](int x0, int x1, int y, bool tested) {
        if (y < clipY0 || y > clipY1)
            return;
        x0 = std::max(x0, clipX0);
        x1 = std::min(x1, clipX1);
        if (x0 > x1)
            return;
        // Cut to the clip rectangle, every pixel passes the test when there
        // is no clip path.
        if (tested && clip.length() > 0)
            paintSpanClipped(painter, x0, x1, y);
        else
            paintSpan(painter, x0, x1, y);
    };

    for (int s = 0; s < count; ++s) {
        ThinSegment seg(segs[s]);
        if (seg.y0 == seg.y1) {
            const int a = std::min(seg.x0, seg.x1), b = std::max(seg.x0, seg.x1);
            const int result = clip.testSpan(a, b, seg.y0);
            if (tally.add(result))
                run(a, b, seg.y0, result != 0);
            continue;
        }
        seg.makeTopDown();
        const int result = clip.testRect(std::min(seg.x0, seg.x1), seg.y0, std::max(seg.x0, seg.x1), seg.y1);
        if (!tally.add(result))
            continue;
        const bool tested = result != 0;
        // Rows outside the clip paint nothing.
        const int yStart = std::max(seg.y0, clipY0), yEnd = std::min(seg.y1, clipY1);
        if (std::fabs(seg.dxdy) > 1)
            thinFlatLine(seg, yStart, yEnd, tested, run);
        else
            thinSteepLine(seg, yStart, yEnd, tested, run);
    }
    m_opClipResult = tally.result();
}

}  // namespace rendova
