#include "engine/content/GraphicsState.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

// Matrix entries are held within +-1e10: a document's absurd or singular cm
// (or one that overflows to infinity) must leave numbers that later
// arithmetic and the conversions to device integers can still handle.
constexpr double kMatrixLimit = 1e10;

struct BlendModeName {
    const char* name;
    int mode;
};

// The published blend-mode names, looked up in this order.
constexpr BlendModeName kBlendModeNames[] = {
    {"Normal", kBlendNormal},         {"Compatible", kBlendNormal},
    {"Multiply", kBlendMultiply},     {"Screen", kBlendScreen},
    {"Overlay", kBlendOverlay},       {"Darken", kBlendDarken},
    {"Lighten", kBlendLighten},       {"ColorDodge", kBlendColorDodge},
    {"ColorBurn", kBlendColorBurn},   {"HardLight", kBlendHardLight},
    {"SoftLight", kBlendSoftLight},   {"Difference", kBlendDifference},
    {"Exclusion", kBlendExclusion},   {"Hue", kBlendHue},
    {"Saturation", kBlendSaturation}, {"Color", kBlendColor},
    {"Luminosity", kBlendLuminosity},
};

bool lookupBlendMode(const char* name, int* mode) {
    for (const BlendModeName& entry : kBlendModeNames) {
        if (std::strcmp(entry.name, name) == 0) {
            *mode = entry.mode;
            return true;
        }
    }
    return false;
}

}  // namespace

GraphicsState::GraphicsState(double hDpi, double vDpi, const PageBox& pageBox, int rotate, bool upsideDown)
    : m_hDpi(hDpi), m_vDpi(vDpi), m_pageBox(pageBox), m_rotate(rotate) {
    const double kx = hDpi / 72.0;
    const double ky = vDpi / 72.0;
    const double x1 = pageBox.x1, y1 = pageBox.y1, x2 = pageBox.x2, y2 = pageBox.y2;
    double* m = m_matrix;
    switch (rotate) {
        case 90:
            m[0] = 0;
            m[1] = upsideDown ? ky : -ky;
            m[2] = kx;
            m[3] = 0;
            m[4] = -kx * y1;
            m[5] = upsideDown ? -ky * x1 : ky * x2;
            m_pageWidth = kx * (y2 - y1);
            m_pageHeight = ky * (x2 - x1);
            break;
        case 180:
            m[0] = -kx;
            m[1] = 0;
            m[2] = 0;
            m[3] = upsideDown ? ky : -ky;
            m[4] = kx * x2;
            m[5] = upsideDown ? -ky * y1 : ky * y2;
            m_pageWidth = kx * (x2 - x1);
            m_pageHeight = ky * (y2 - y1);
            break;
        case 270:
            m[0] = 0;
            m[1] = upsideDown ? -ky : ky;
            m[2] = -kx;
            m[3] = 0;
            m[4] = kx * y2;
            m[5] = upsideDown ? ky * x2 : -ky * x1;
            m_pageWidth = kx * (y2 - y1);
            m_pageHeight = ky * (x2 - x1);
            break;
        default:
            m[0] = kx;
            m[1] = 0;
            m[2] = 0;
            m[3] = upsideDown ? -ky : ky;
            m[4] = -kx * x1;
            m[5] = upsideDown ? ky * y2 : -ky * y1;
            m_pageWidth = kx * (x2 - x1);
            m_pageHeight = ky * (y2 - y1);
            break;
    }
    m_fillColorSpace = std::make_unique<DeviceGrayColorSpace>();
    m_strokeColorSpace = std::make_unique<DeviceGrayColorSpace>();
    m_path = new Path();
    m_clipXMax = m_pageWidth;
    m_clipYMax = m_pageHeight;
}

GraphicsState::GraphicsState(const GraphicsState* other, int)
    : m_hDpi(other->m_hDpi),
      m_vDpi(other->m_vDpi),
      m_pageBox(other->m_pageBox),
      m_pageWidth(other->m_pageWidth),
      m_pageHeight(other->m_pageHeight),
      m_rotate(other->m_rotate),
      m_fillColor(other->m_fillColor),
      m_strokeColor(other->m_strokeColor),
      m_blendMode(other->m_blendMode),
      m_fillOpacity(other->m_fillOpacity),
      m_strokeOpacity(other->m_strokeOpacity),
      m_fillOverprint(other->m_fillOverprint),
      m_strokeOverprint(other->m_strokeOverprint),
      m_softMasked(other->m_softMasked),
      m_lineWidth(other->m_lineWidth),
      m_dashLength(other->m_dashLength),
      m_dashPhase(other->m_dashPhase),
      m_flatness(other->m_flatness),
      m_lineJoin(other->m_lineJoin),
      m_lineCap(other->m_lineCap),
      m_miterLimit(other->m_miterLimit),
      m_strokeAdjust(other->m_strokeAdjust),
      m_font(other->m_font),
      m_fontSize(other->m_fontSize),
      m_charSpacing(other->m_charSpacing),
      m_wordSpacing(other->m_wordSpacing),
      m_horizontalScaling(other->m_horizontalScaling),
      m_leading(other->m_leading),
      m_rise(other->m_rise),
      m_renderMode(other->m_renderMode),
      m_currentX(other->m_currentX),
      m_currentY(other->m_currentY),
      m_lineStartX(other->m_lineStartX),
      m_lineStartY(other->m_lineStartY),
      m_clipXMin(other->m_clipXMin),
      m_clipYMin(other->m_clipYMin),
      m_clipXMax(other->m_clipXMax),
      m_clipYMax(other->m_clipYMax) {
    std::memcpy(m_matrix, other->m_matrix, sizeof m_matrix);
    std::memcpy(m_textMatrix, other->m_textMatrix, sizeof m_textMatrix);
    if (other->m_fillColorSpace)
        m_fillColorSpace = other->m_fillColorSpace->copy();
    if (other->m_strokeColorSpace)
        m_strokeColorSpace = other->m_strokeColorSpace->copy();
    if (other->m_fillPattern)
        m_fillPattern = other->m_fillPattern->copy();
    if (other->m_strokePattern)
        m_strokePattern = other->m_strokePattern->copy();
    for (int i = 0; i < 4; ++i)
        if (other->m_transfer[i])
            m_transfer[i] = other->m_transfer[i]->copy();
    // An empty dash has no array.
    if (m_dashLength > 0) {
        m_dash = std::make_unique<double[]>(size_t(m_dashLength));
        std::memcpy(m_dash.get(), other->m_dash.get(), sizeof(double) * size_t(m_dashLength));
    }
}

GraphicsState::~GraphicsState() {
    delete m_path;
    // Saved states hold no path, so the whole chain goes without a double
    // delete. Iterative, so that a deep stack cannot exhaust the C stack:
    // each level is unlinked from the one beneath before it goes.
    while (m_saved)
        m_saved = std::move(m_saved->m_saved);
}

void GraphicsState::save(std::unique_ptr<GraphicsState>& top) {
    std::unique_ptr<GraphicsState> copy(new GraphicsState(top.get(), 0));
    copy->m_path = top->m_path;
    top->m_path = nullptr;
    copy->m_saved = std::move(top);
    top = std::move(copy);
}

void GraphicsState::restore(std::unique_ptr<GraphicsState>& top) {
    if (!top->m_saved)
        return;
    std::unique_ptr<GraphicsState> saved = std::move(top->m_saved);
    delete saved->m_path;
    saved->m_path = top->m_path;
    saved->m_currentX = top->m_currentX;
    saved->m_currentY = top->m_currentY;
    saved->m_lineStartX = top->m_lineStartX;
    saved->m_lineStartY = top->m_lineStartY;
    top->m_path = nullptr;
    top = std::move(saved);
}

void GraphicsState::clampMatrix() {
    for (double& v : m_matrix) {
        if (v > kMatrixLimit) {
            v = kMatrixLimit;
        } else if (!(v >= -kMatrixLimit)) {
            v = -kMatrixLimit;
        }
    }
}

void GraphicsState::setMatrix(double a, double b, double c, double d, double e, double f) {
    m_matrix[0] = a;
    m_matrix[1] = b;
    m_matrix[2] = c;
    m_matrix[3] = d;
    m_matrix[4] = e;
    m_matrix[5] = f;
    clampMatrix();
}

void GraphicsState::concatMatrix(double a, double b, double c, double d, double e, double f) {
    const double* m = m_matrix;
    const double n0 = a * m[0] + b * m[2];
    const double n1 = a * m[1] + b * m[3];
    const double n2 = c * m[0] + d * m[2];
    const double n3 = c * m[1] + d * m[3];
    const double n4 = e * m[0] + f * m[2] + m[4];
    const double n5 = e * m[1] + f * m[3] + m[5];
    setMatrix(n0, n1, n2, n3, n4, n5);
}

void GraphicsState::shiftMatrixAndClip(double dx, double dy) {
    m_matrix[4] += dx;
    m_matrix[5] += dy;
    m_clipXMin += dx;
    m_clipXMax += dx;
    m_clipYMin += dy;
    m_clipYMax += dy;
}

void GraphicsState::pathBox(double* xMin, double* yMin, double* xMax, double* yMax) const {
    bool first = true;
    *xMin = *yMin = *xMax = *yMax = 0;
    for (int i = 0; i < m_path->getSubPathCount(); ++i) {
        const SubPath* sub = m_path->getSubPath(i);
        for (int j = 0; j < sub->getCount(); ++j) {
            double x, y;
            transform(sub->getX(j), sub->getY(j), &x, &y);
            if (first) {
                *xMin = *xMax = x;
                *yMin = *yMax = y;
                first = false;
            } else {
                *xMin = std::min(*xMin, x);
                *yMin = std::min(*yMin, y);
                *xMax = std::max(*xMax, x);
                *yMax = std::max(*yMax, y);
            }
        }
    }
}

void GraphicsState::intersectClip(double xMin, double yMin, double xMax, double yMax) {
    if (xMin > m_clipXMin)
        m_clipXMin = xMin;
    if (yMin > m_clipYMin)
        m_clipYMin = yMin;
    if (xMax < m_clipXMax)
        m_clipXMax = xMax;
    if (yMax < m_clipYMax)
        m_clipYMax = yMax;
}

void GraphicsState::clip() {
    double xMin, yMin, xMax, yMax;
    pathBox(&xMin, &yMin, &xMax, &yMax);
    intersectClip(xMin, yMin, xMax, yMax);
}

void GraphicsState::clipToStroke() {
    double xMin, yMin, xMax, yMax;
    pathBox(&xMin, &yMin, &xMax, &yMax);
    const double wx = std::max(std::fabs(m_matrix[0]), std::fabs(m_matrix[2])) * m_lineWidth * 0.5;
    const double wy = std::max(std::fabs(m_matrix[1]), std::fabs(m_matrix[3])) * m_lineWidth * 0.5;
    intersectClip(xMin - wx, yMin - wy, xMax + wx, yMax + wy);
}

void GraphicsState::getUserClipBox(double* xMin, double* yMin, double* xMax, double* yMax) const {
    const double* m = m_matrix;
    const double det = 1 / (m[0] * m[3] - m[1] * m[2]);
    const double i0 = m[3] * det, i1 = -m[1] * det, i2 = -m[2] * det, i3 = m[0] * det;
    const double i4 = (m[2] * m[5] - m[3] * m[4]) * det;
    const double i5 = (m[1] * m[4] - m[0] * m[5]) * det;
    const double xs[4] = {m_clipXMin, m_clipXMin, m_clipXMax, m_clipXMax};
    const double ys[4] = {m_clipYMin, m_clipYMax, m_clipYMin, m_clipYMax};
    for (int k = 0; k < 4; ++k) {
        const double x = xs[k] * i0 + ys[k] * i2 + i4;
        const double y = xs[k] * i1 + ys[k] * i3 + i5;
        if (k == 0) {
            *xMin = *xMax = x;
            *yMin = *yMax = y;
        } else {
            *xMin = std::min(*xMin, x);
            *yMin = std::min(*yMin, y);
            *xMax = std::max(*xMax, x);
            *yMax = std::max(*yMax, y);
        }
    }
}

void GraphicsState::setTransfer(std::unique_ptr<PdfFunction> transfer[4]) {
    for (int i = 0; i < 4; ++i)
        m_transfer[i] = std::move(transfer[i]);
}

void GraphicsState::setLineDash(std::unique_ptr<double[]> dash, int length, double phase) {
    m_dash = std::move(dash);
    m_dashLength = m_dash ? std::max(length, 0) : 0;
    m_dashPhase = phase;
}

void GraphicsState::setTextMatrix(double a, double b, double c, double d, double e, double f) {
    m_textMatrix[0] = a;
    m_textMatrix[1] = b;
    m_textMatrix[2] = c;
    m_textMatrix[3] = d;
    m_textMatrix[4] = e;
    m_textMatrix[5] = f;
}

void GraphicsState::textMoveTo(double tx, double ty) {
    const double* t = m_textMatrix;
    m_currentX += tx * t[0] + ty * t[2];
    m_currentY += tx * t[1] + ty * t[3];
}

void GraphicsState::textShift(double tx, double ty) {
    m_currentX += tx;
    m_currentY += ty;
}

void GraphicsState::setPath(std::unique_ptr<Path> path) {
    delete m_path;
    m_path = path.release();
}

bool GraphicsState::parseBlendMode(const PdfValue& value, int* mode) {
    if (value.isName())
        return lookupBlendMode(value.getName(), mode);
    if (!value.isArray())
        return false;
    const PdfArray* array = value.getArray();
    // Taken in order up to the first known name; the elements after it are
    // not looked at.
    for (int i = 0; i < array->getLength(); ++i) {
        PdfValue element;
        if (!array->get(i, element).isName())
            return false;
        if (lookupBlendMode(element.getName(), mode))
            return true;
    }
    *mode = kBlendNormal;
    return true;
}

}  // namespace rendova
