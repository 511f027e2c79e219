#include "engine/content/ShadingFill.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/content/GraphicsState.h"
#include "engine/content/OutputDevice.h"
#include "engine/content/PdfFunction.h"

namespace rendova {

namespace {

constexpr double kPi = 3.14159265358979323846;
// 1/256 of full scale in 16.16 components.
constexpr int kCloseDistance = 256;
// Radial extensions reach at most this many times the distance between the
// two circles past either end: farther circles leave every clip box of a
// page long before, and their coordinates would only grow without bound.
constexpr double kMaxRadialExtend = 1e4;

// Halves a cubic at its middle: p[0..3] becomes left[0..3] and right[0..3].
void splitCubic(const double* p, double* left, double* right) {
    const double p01 = (p[0] + p[1]) / 2, p12 = (p[1] + p[2]) / 2, p23 = (p[2] + p[3]) / 2;
    const double p012 = (p01 + p12) / 2, p123 = (p12 + p23) / 2;
    const double mid = (p012 + p123) / 2;
    left[0] = p[0];
    left[1] = p01;
    left[2] = p012;
    left[3] = mid;
    right[0] = mid;
    right[1] = p123;
    right[2] = p23;
    right[3] = p[3];
}

}  // namespace

bool ShadingFill::close(const ColorValue& a, const ColorValue& b, int count) {
    for (int i = 0; i < count; ++i)
        if (std::llabs(int64_t{a.c[i]} - b.c[i]) > kCloseDistance)
            return false;
    return true;
}

void ShadingFill::mean(const ColorValue& a, const ColorValue& b, int count, ColorValue& out) {
    for (int i = 0; i < count; ++i)
        out.c[i] = static_cast<ColorComponent>((int64_t{a.c[i]} + b.c[i]) / 2);
}

int ShadingFill::patchStartDepth(int patchCount) {
    if (patchCount > 128)
        return 3;
    if (patchCount > 64)
        return 2;
    if (patchCount > 16)
        return 1;
    return 0;
}

void ShadingFill::paint(Shading* shading) {
    m_count = shading->getColorSpace()->getComponentCount();
    if (m_count < 1 || m_count > kMaxColorComponents)
        m_count = kMaxColorComponents;
    m_pieces = 0;
    switch (shading->getType()) {
        case Shading::kFunctionType:
            paintFunction(static_cast<FunctionShading*>(shading));
            break;
        case Shading::kAxialType:
            paintAxial(static_cast<AxialShading*>(shading));
            break;
        case Shading::kRadialType:
            paintRadial(static_cast<RadialShading*>(shading));
            break;
        case Shading::kFreeTriangleType:
        case Shading::kLatticeTriangleType:
            paintTriangles(static_cast<TriangleMeshShading*>(shading));
            break;
        default:
            paintPatches(static_cast<PatchMeshShading*>(shading));
            break;
    }
}

void ShadingFill::fillPath(const ColorValue& color) {
    if (*m_pageBudget <= 0) {
        m_state->clearPath();
        return;
    }
    --*m_pageBudget;
    m_state->setFillColor(color);
    m_device->updateFillColor(m_state.get());
    m_device->fill(m_state.get());
    m_state->clearPath();
}

bool ShadingFill::belowPixel(const double* xs, const double* ys, int count) const {
    const double* m = m_state->getMatrix();
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    for (int k = 0; k < count; ++k) {
        const double x = m[0] * xs[k] + m[2] * ys[k] + m[4];
        const double y = m[1] * xs[k] + m[3] * ys[k] + m[5];
        x0 = k == 0 ? x : std::min(x0, x);
        x1 = k == 0 ? x : std::max(x1, x);
        y0 = k == 0 ? y : std::min(y0, y);
        y1 = k == 0 ? y : std::max(y1, y);
    }
    return x1 - x0 < 1 && y1 - y0 < 1;
}

void ShadingFill::addCircle(double x, double y, double r, int n, bool counterClockwise) {
    Path* path = m_state->getPath();
    const double step = (counterClockwise ? 2 : -2) * kPi / n;
    path->moveTo(x + r, y);
    for (int k = 1; k < n; ++k)
        path->lineTo(x + r * std::cos(step * k), y + r * std::sin(step * k));
    path->close();
}

// --- Type 1 -------------------------------------------------------------------

void ShadingFill::paintFunction(FunctionShading* shading) {
    if (m_device->fillsShadings() && m_device->fillFunctionShading(m_state.get(), shading))
        return;
    const double* d = shading->getDomain();
    ColorValue colors[4];
    shading->getColor(d[0], d[1], colors[0]);
    shading->getColor(d[0], d[3], colors[1]);
    shading->getColor(d[2], d[1], colors[2]);
    shading->getColor(d[2], d[3], colors[3]);
    functionRect(shading, d[0], d[1], d[2], d[3], colors, 0);
}

// colors: at (x0, y0), (x0, y1), (x1, y0), (x1, y1).
void ShadingFill::functionRect(FunctionShading* shading, double x0, double y0, double x1, double y1,
                               const ColorValue* colors, int depth) {
    bool flat = true;
    for (int i = 0; i < 4 && flat; ++i)
        flat = close(colors[i], colors[(i + 1) % 4], m_count);
    const double xm = (x0 + x1) / 2, ym = (y0 + y1) / 2;
    // The corners through the shading's matrix.
    const double* m = shading->getMatrix();
    const double xs[4] = {x0, x1, x1, x0};
    const double ys[4] = {y0, y0, y1, y1};
    double px[4], py[4];
    for (int k = 0; k < 4; ++k) {
        px[k] = m[0] * xs[k] + m[2] * ys[k] + m[4];
        py[k] = m[1] * xs[k] + m[3] * ys[k] + m[5];
    }
    if ((flat && depth >= kMinFunctionDepth) || depth == kMaxDepth || !mayCut() || belowPixel(px, py, 4)) {
        ColorValue centre;
        shading->getColor(xm, ym, centre);
        Path* path = m_state->getPath();
        path->moveTo(px[0], py[0]);
        for (int k = 1; k < 4; ++k)
            path->lineTo(px[k], py[k]);
        path->close();
        fillPath(centre);
        return;
    }
    m_pieces += 4;
    // The colours on the grid of the halved rectangle: left, bottom,
    // centre, top, right edge midpoints.
    ColorValue left, bottom, centre, top, right;
    shading->getColor(x0, ym, left);
    shading->getColor(xm, y0, bottom);
    shading->getColor(xm, ym, centre);
    shading->getColor(xm, y1, top);
    shading->getColor(x1, ym, right);
    const ColorValue q0[4] = {colors[0], left, bottom, centre};
    const ColorValue q1[4] = {left, colors[1], centre, top};
    const ColorValue q2[4] = {bottom, centre, colors[2], right};
    const ColorValue q3[4] = {centre, top, right, colors[3]};
    functionRect(shading, x0, y0, xm, ym, q0, depth + 1);
    functionRect(shading, x0, ym, xm, y1, q1, depth + 1);
    functionRect(shading, xm, y0, x1, ym, q2, depth + 1);
    functionRect(shading, xm, ym, x1, y1, q3, depth + 1);
}

// --- Type 2 -------------------------------------------------------------------

void ShadingFill::paintAxial(AxialShading* shading) {
    if (m_device->fillsShadings() && m_device->fillAxialShading(m_state.get(), shading))
        return;
    double xMin, yMin, xMax, yMax;
    m_state->getUserClipBox(&xMin, &yMin, &xMax, &yMax);
    if (!std::isfinite(xMin) || !std::isfinite(yMin) || !std::isfinite(xMax) || !std::isfinite(yMax))
        return;
    const double* c = shading->getCoords();
    const double x0 = c[0], y0 = c[1], dx = c[2] - c[0], dy = c[3] - c[1];
    const double t0 = shading->getDomain0(), t1 = shading->getDomain1();
    auto colorAt = [&](double s, ColorValue& color) {
        s = std::clamp(s, 0.0, 1.0);
        shading->getColor(t0 + s * (t1 - t0), color);
    };

    const double cornersX[4] = {xMin, xMin, xMax, xMax};
    const double cornersY[4] = {yMin, yMax, yMin, yMax};
    if (std::fabs(dx) < 0.01 && std::fabs(dy) < 0.01) {
        // No axis to speak of: the whole box in the colour of t0.
        ColorValue color;
        colorAt(0, color);
        Path* path = m_state->getPath();
        path->moveTo(xMin, yMin);
        path->lineTo(xMax, yMin);
        path->lineTo(xMax, yMax);
        path->lineTo(xMin, yMax);
        path->close();
        fillPath(color);
        return;
    }
    // The box's extent along the axis (t) and across it (u, in units of
    // the axis length): each band is the rectangle over the whole u range
    // between two values of t, which the clip then cuts to the box.
    const double length2 = dx * dx + dy * dy;
    double tMin = 0, tMax = 0, uMin = 0, uMax = 0;
    for (int k = 0; k < 4; ++k) {
        const double t = ((cornersX[k] - x0) * dx + (cornersY[k] - y0) * dy) / length2;
        const double u = (-(cornersX[k] - x0) * dy + (cornersY[k] - y0) * dx) / length2;
        tMin = k == 0 ? t : std::min(tMin, t);
        tMax = k == 0 ? t : std::max(tMax, t);
        uMin = k == 0 ? u : std::min(uMin, u);
        uMax = k == 0 ? u : std::max(uMax, u);
    }
    if (tMin < 0 && !shading->getExtendStart())
        tMin = 0;
    if (tMax > 1 && !shading->getExtendEnd())
        tMax = 1;
    if (!(tMin < tMax))
        return;

    // The extensions take the end colours whole; the bands between them
    // stand across the whole box, which the clip then cuts.
    std::vector<Band> bands;
    if (tMin < 0) {
        bands.push_back({tMin, 0, {}});
        colorAt(0, bands.back().color);
    }
    if (tMin < 1 && tMax > 0)
        parameterBands(std::max(tMin, 0.0), std::min(tMax, 1.0), stitchCuts(shading), colorAt, bands);
    if (tMax > 1) {
        bands.push_back({1, tMax, {}});
        colorAt(1, bands.back().color);
    }
    for (const Band& band : bands) {
        Path* path = m_state->getPath();
        const double px[2] = {x0 + band.sa * dx, x0 + band.sb * dx};
        const double py[2] = {y0 + band.sa * dy, y0 + band.sb * dy};
        path->moveTo(px[0] - uMin * dy, py[0] + uMin * dx);
        path->lineTo(px[1] - uMin * dy, py[1] + uMin * dx);
        path->lineTo(px[1] - uMax * dy, py[1] + uMax * dx);
        path->lineTo(px[0] - uMax * dy, py[0] + uMax * dx);
        path->close();
        fillPath(band.color);
    }
}

std::vector<double> ShadingFill::stitchCuts(const AxialShading* shading) {
    // Only the functions of the shading itself are looked at: the bounds of
    // nested pieces go through their encode ranges, and the steps find them.
    std::vector<double> cuts;
    const double t0 = shading->getDomain0(), t1 = shading->getDomain1();
    const ShadingFunctions& functions = shading->getFunctions();
    for (int f = 0; f < functions.getCount(); ++f) {
        const PdfFunction* function = functions.get(f);
        if (!function || function->getType() != PdfFunction::kStitchingType || t1 == t0)
            continue;
        const auto* stitching = static_cast<const StitchingFunction*>(function);
        for (int i = 1; i < stitching->getFunctionCount(); ++i) {
            const double s = (stitching->getBound(i) - t0) / (t1 - t0);
            if (s > 0 && s < 1)
                cuts.push_back(s);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    // Far more pieces than steps: the steps alone say more than enough.
    if (cuts.size() > static_cast<size_t>(kMaxBandCuts))
        cuts.clear();
    return cuts;
}

template <typename ColorBy>
void ShadingFill::parameterBands(double lo, double hi, const std::vector<double>& cuts, ColorBy colorBy,
                                 std::vector<Band>& bands) {
    // The steps from lo to hi, with the cuts between them, so that a band
    // ends where a stitched function changes pieces.
    const int first = static_cast<int>(std::floor(lo * kSteps));
    const int last = static_cast<int>(std::ceil(hi * kSteps));
    std::vector<double> at;
    at.reserve(static_cast<size_t>(last - first + 1) + cuts.size());
    auto cut = cuts.begin();
    for (int i = first; i <= last; ++i) {
        const double s = std::clamp(double(i) / kSteps, lo, hi);
        for (; cut != cuts.end() && *cut < s; ++cut)
            if (*cut > lo && (at.empty() || *cut > at.back()))
                at.push_back(*cut);
        if (at.empty() || s > at.back())
            at.push_back(s);
    }
    // Every position inside a band is looked at, not only its ends: stripes
    // a few steps wide (a function that alternates two colours) would
    // otherwise hide between two ends of one colour. Each position's colour
    // is worked out once; the one past a band's end starts the next band.
    const int end = static_cast<int>(at.size()) - 1;
    ColorValue ca, cb, next, color;
    colorBy(at[0], ca);
    int nextStep = 1;
    if (end >= 1)
        colorBy(at[1], next);
    for (int ia = 0; ia < end;) {
        int ib = nextStep;
        cb = next;
        while (ib < end && ib - ia < kMaxBandSteps && close(ca, cb, m_count)) {
            colorBy(at[size_t(ib) + 1], next);
            nextStep = ib + 1;
            if (!close(ca, next, m_count))
                break;
            ++ib;
            cb = next;
        }
        // A band of close ends takes their mean; a step across a change
        // takes the colour at its middle, so that a stripe one step wide
        // keeps its colour rather than halving it with each neighbour.
        if (close(ca, cb, m_count))
            mean(ca, cb, m_count, color);
        else
            colorBy((at[size_t(ia)] + at[size_t(ib)]) / 2, color);
        bands.push_back({at[size_t(ia)], at[size_t(ib)], color});
        ca = cb;
        ia = ib;
        if (nextStep == ib && ia < end) {
            nextStep = ib + 1;
            colorBy(at[size_t(nextStep)], next);
        }
    }
}

// --- Type 3 -------------------------------------------------------------------

// A radial shading's circles in user space and the clip box they are
// painted in.
struct ShadingFill::RadialGeometry {
    double xMin, yMin, xMax, yMax;
    // The start circle, and the end circle relative to it.
    double x0, y0, r0, dx, dy, dr, r1;
    double distance;
    // One circle strictly inside the other, or both on one centre: the
    // bands are rings. Otherwise they are the hulls of two circles, whose
    // common tangents meet the circles at theta +- beta (a circle that
    // touches the other from inside makes a hull of a half-plane).
    bool enclosed;
    double theta, beta;
    // Points on a circle.
    int n;
};

void ShadingFill::paintRadial(RadialShading* shading) {
    if (m_device->fillsShadings() && m_device->fillRadialShading(m_state.get(), shading))
        return;
    RadialGeometry g;
    m_state->getUserClipBox(&g.xMin, &g.yMin, &g.xMax, &g.yMax);
    if (!std::isfinite(g.xMin) || !std::isfinite(g.yMin) || !std::isfinite(g.xMax) || !std::isfinite(g.yMax))
        return;
    const double* c = shading->getCircles();
    // Negative radii have no circle: they count as 0.
    g.x0 = c[0], g.y0 = c[1], g.r0 = std::max(c[2], 0.0);
    g.dx = c[3] - c[0], g.dy = c[4] - c[1], g.dr = std::max(c[5], 0.0) - g.r0;
    g.r1 = g.r0 + g.dr;
    g.distance = std::hypot(g.dx, g.dy);
    g.enclosed = g.distance < std::fabs(g.dr) || g.distance == 0;
    g.theta = g.enclosed ? 0 : std::atan2(g.dy, g.dx);
    g.beta = g.enclosed ? 0 : kPi / 2 + std::asin(std::clamp(g.dr / g.distance, -1.0, 1.0));

    const double* m = m_state->getMatrix();
    const double scale = std::max({std::fabs(m[0]), std::fabs(m[1]), std::fabs(m[2]), std::fabs(m[3])});
    const double radius = scale * std::max(g.r0, g.r1);
    g.n = 3;
    if (radius >= 1) {
        const double v = kPi / std::acos(1 - 0.1 / radius);
        if (v > 2)
            g.n = v >= kMaxCirclePoints ? kMaxCirclePoints : static_cast<int>(v);
    }

    ColorValue start, end;
    const std::vector<Band> bands = radialBands(shading, g, start, end);
    if (g.enclosed)
        paintNestedRadial(shading, g, bands, start, end);
    else
        paintHullRadial(g, bands);
}

// The colour at s of the parameter, 0 to 1 over the domain; clamped.
void ShadingFill::radialColorAt(RadialShading* shading, double s, ColorValue& color) {
    const double t0 = shading->getDomain0(), t1 = shading->getDomain1();
    s = std::clamp(s, 0.0, 1.0);
    shading->getColor(t0 + s * (t1 - t0), color);
}

std::vector<ShadingFill::Band> ShadingFill::radialBands(RadialShading* shading, const RadialGeometry& g,
                                                        ColorValue& start, ColorValue& end) {
    // The box's extent along the line of centres, from the start centre.
    double nearest = 0, farthest = 0;
    if (!g.enclosed) {
        for (int k = 0; k < 4; ++k) {
            const double cx = k < 2 ? g.xMin : g.xMax, cy = (k & 1) ? g.yMax : g.yMin;
            const double p = ((cx - g.x0) * g.dx + (cy - g.y0) * g.dy) / g.distance;
            nearest = k == 0 ? p : std::min(nearest, p);
            farthest = k == 0 ? p : std::max(farthest, p);
        }
    }

    std::vector<Band> bands;
    bands.reserve(kSteps + 2);
    radialColorAt(shading, 0, start);
    radialColorAt(shading, 1, end);
    if (!g.enclosed && shading->getExtendStart()) {
        // Circles before the start move back until their near edge has
        // left the box, or until their radius is 0.
        double s = (nearest - g.r0) / (g.distance + g.dr);
        if (g.dr > 0)
            s = std::max(s, -g.r0 / g.dr);
        s = std::max(s, -kMaxRadialExtend);
        if (s < 0)
            bands.push_back({s, 0, start});
    }
    parameterBands(
        0, 1, stitchCuts(shading), [&](double s, ColorValue& color) { radialColorAt(shading, s, color); },
        bands);
    if (!g.enclosed && shading->getExtendEnd()) {
        // Circles after the end move on until their far edge has left the
        // box, or until their radius is 0.
        double s = (farthest + g.r0) / (g.distance - g.dr);
        if (g.dr < 0)
            s = std::min(s, -g.r0 / g.dr);
        s = std::min(s, kMaxRadialExtend);
        if (s > 1)
            bands.push_back({1, s, end});
    }
    return bands;
}

// A band is the area that the circles from sa to sb pass over: for nested
// circles the ring between its two circles, otherwise the hull of the two
// (the far side of the end circle, then the near side of the start circle).
void ShadingFill::radialBand(const RadialGeometry& g, double sa, double sb, const ColorValue& color) {
    const double xa = g.x0 + sa * g.dx, ya = g.y0 + sa * g.dy, ra = std::max(g.r0 + sa * g.dr, 0.0);
    const double xb = g.x0 + sb * g.dx, yb = g.y0 + sb * g.dy, rb = std::max(g.r0 + sb * g.dr, 0.0);
    const int n = g.n;
    if (g.enclosed) {
        addCircle(xa, ya, ra, n, true);
        addCircle(xb, yb, rb, n, false);
    } else {
        Path* path = m_state->getPath();
        for (int k = 0; k <= n; ++k) {
            const double angle = g.theta - g.beta + 2 * g.beta * k / n;
            const double px = xb + rb * std::cos(angle), py = yb + rb * std::sin(angle);
            if (k == 0)
                path->moveTo(px, py);
            else
                path->lineTo(px, py);
        }
        for (int k = 0; k <= n; ++k) {
            const double angle = g.theta + g.beta + (2 * kPi - 2 * g.beta) * k / n;
            path->lineTo(xa + ra * std::cos(angle), ya + ra * std::sin(angle));
        }
        path->close();
    }
    fillPath(color);
}

void ShadingFill::paintNestedRadial(RadialShading* shading, const RadialGeometry& g,
                                    const std::vector<Band>& bands, const ColorValue& start,
                                    const ColorValue& end) {
    // The area between a circle and the clip box.
    auto outside = [&](double x, double y, double r, const ColorValue& color) {
        Path* path = m_state->getPath();
        path->moveTo(g.xMin, g.yMin);
        path->lineTo(g.xMax, g.yMin);
        path->lineTo(g.xMax, g.yMax);
        path->lineTo(g.xMin, g.yMax);
        path->close();
        addCircle(x, y, r, g.n, false);
        fillPath(color);
    };
    // The extensions of nested circles: the disc inside the smaller
    // circle, or the area outside the larger one.
    if (shading->getExtendStart()) {
        if (g.r0 <= g.r1) {
            addCircle(g.x0, g.y0, g.r0, g.n, true);
            fillPath(start);
        } else {
            outside(g.x0, g.y0, g.r0, start);
        }
    }
    for (const Band& b : bands)
        radialBand(g, b.sa, b.sb, b.color);
    if (shading->getExtendEnd()) {
        if (g.r0 <= g.r1) {
            outside(g.x0 + g.dx, g.y0 + g.dy, g.r1, end);
        } else {
            addCircle(g.x0 + g.dx, g.y0 + g.dy, g.r1, g.n, true);
            fillPath(end);
        }
    }
}

void ShadingFill::paintHullRadial(const RadialGeometry& g, const std::vector<Band>& bands) {
    // A point takes the colour of the last circle that passes through it.
    // Outside the last circle that is the last band that covers it; inside,
    // where every later circle covers it without passing through, it is
    // the first band that covers it, so there the bands are painted again
    // from the end back to the start.
    for (const Band& b : bands)
        radialBand(g, b.sa, b.sb, b.color);
    const double sLast = bands.back().sb;
    const double rLast = g.r0 + sLast * g.dr;
    if (rLast > 0) {
        m_device->saveState(m_state.get());
        GraphicsState::save(m_state);
        addCircle(g.x0 + sLast * g.dx, g.y0 + sLast * g.dy, rLast, g.n, true);
        m_state->clip();
        m_device->clip(m_state.get());
        m_state->clearPath();
        for (size_t i = bands.size(); i-- > 0;)
            radialBand(g, bands[i].sa, bands[i].sb, bands[i].color);
        GraphicsState::restore(m_state);
        m_device->restoreState(m_state.get());
    }
}

// --- Types 4 and 5 --------------------------------------------------------------

void ShadingFill::paintTriangles(TriangleMeshShading* shading) {
    const int count = shading->getTriangleCount();
    for (int i = 0; i < count; ++i) {
        double x[3], y[3];
        ColorValue colors[3];
        shading->getTriangle(i, x, y, colors);
        Corner a{x[0], y[0], colors[0]}, b{x[1], y[1], colors[1]}, c{x[2], y[2], colors[2]};
        triangle(a, b, c, 0);
    }
}

void ShadingFill::triangle(const Corner& a, const Corner& b, const Corner& c, int depth) {
    const double xs[3] = {a.x, b.x, c.x}, ys[3] = {a.y, b.y, c.y};
    if (depth == kMaxDepth || !mayCut() ||
        (close(a.color, b.color, m_count) && close(b.color, c.color, m_count)) || belowPixel(xs, ys, 3)) {
        Path* path = m_state->getPath();
        path->moveTo(a.x, a.y);
        path->lineTo(b.x, b.y);
        path->lineTo(c.x, c.y);
        path->close();
        fillPath(a.color);
        return;
    }
    m_pieces += 4;
    Corner ab{(a.x + b.x) / 2, (a.y + b.y) / 2, {}};
    Corner bc{(b.x + c.x) / 2, (b.y + c.y) / 2, {}};
    Corner ac{(a.x + c.x) / 2, (a.y + c.y) / 2, {}};
    mean(a.color, b.color, m_count, ab.color);
    mean(b.color, c.color, m_count, bc.color);
    mean(a.color, c.color, m_count, ac.color);
    triangle(a, ab, ac, depth + 1);
    triangle(ab, b, bc, depth + 1);
    triangle(ab, bc, ac, depth + 1);
    triangle(ac, bc, c, depth + 1);
}

// --- Types 6 and 7 --------------------------------------------------------------

void ShadingFill::paintPatches(PatchMeshShading* shading) {
    // With functions the corners carry only t.
    if (shading->hasFunctions())
        m_count = 1;
    const int count = shading->getPatchCount();
    const int depth = patchStartDepth(count);
    for (int i = 0; i < count; ++i)
        patch(shading, shading->getPatch(i), depth);
}

void ShadingFill::patch(PatchMeshShading* shading, const ShadingPatch& p, int depth) {
    // The corners are stored around the boundary, so the cycle of the
    // flatness test is the storage order.
    bool flat = true;
    for (int i = 0; i < 4 && flat; ++i)
        flat = close(p.color[i], p.color[(i + 1) % 4], m_count);
    if (flat || depth == kMaxDepth || !mayCut() || belowPixel(&p.x[0][0], &p.y[0][0], 16)) {
        Path* path = m_state->getPath();
        path->moveTo(p.x[0][0], p.y[0][0]);
        path->curveTo(p.x[0][1], p.y[0][1], p.x[0][2], p.y[0][2], p.x[0][3], p.y[0][3]);
        path->curveTo(p.x[1][3], p.y[1][3], p.x[2][3], p.y[2][3], p.x[3][3], p.y[3][3]);
        path->curveTo(p.x[3][2], p.y[3][2], p.x[3][1], p.y[3][1], p.x[3][0], p.y[3][0]);
        path->curveTo(p.x[2][0], p.y[2][0], p.x[1][0], p.y[1][0], p.x[0][0], p.y[0][0]);
        path->close();
        ColorValue color;
        shading->getColor(p.color[0], color);
        fillPath(color);
        return;
    }
    m_pieces += 4;
    // Halve every row along j, then every column of each half along i:
    // quarter[a][b] covers the a-th half of i and the b-th half of j.
    ShadingPatch quarter[2][2];
    for (int coord = 0; coord < 2; ++coord) {
        const double(*src)[4] = coord == 0 ? p.x : p.y;
        double halves[2][4][4];
        for (int i = 0; i < 4; ++i)
            splitCubic(src[i], halves[0][i], halves[1][i]);
        for (int b = 0; b < 2; ++b) {
            for (int j = 0; j < 4; ++j) {
                const double column[4] = {halves[b][0][j], halves[b][1][j], halves[b][2][j], halves[b][3][j]};
                double top[4], bottom[4];
                splitCubic(column, top, bottom);
                for (int i = 0; i < 4; ++i) {
                    (coord == 0 ? quarter[0][b].x : quarter[0][b].y)[i][j] = top[i];
                    (coord == 0 ? quarter[1][b].x : quarter[1][b].y)[i][j] = bottom[i];
                }
            }
        }
    }
    // Corner colours on the 3 x 3 grid of the halved patch, g[i][j].
    ColorValue g[3][3] = {};
    g[0][0] = p.color[0];
    g[0][2] = p.color[1];
    g[2][2] = p.color[2];
    g[2][0] = p.color[3];
    mean(g[0][0], g[0][2], m_count, g[0][1]);
    mean(g[0][2], g[2][2], m_count, g[1][2]);
    mean(g[2][2], g[2][0], m_count, g[2][1]);
    mean(g[2][0], g[0][0], m_count, g[1][0]);
    mean(g[0][1], g[2][1], m_count, g[1][1]);
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            ShadingPatch& q = quarter[a][b];
            q.color[0] = g[a][b];
            q.color[1] = g[a][b + 1];
            q.color[2] = g[a + 1][b + 1];
            q.color[3] = g[a + 1][b];
            patch(shading, q, depth + 1);
        }
    }
}

}  // namespace rendova
