#include "engine/raster/RasterClip.h"

#include <algorithm>
#include <cmath>

#include "engine/raster/BitRow.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

namespace {

// True when the four segments run round an axis-aligned rectangle: each ends
// where the next (cyclically) starts, and they alternate between vertical and
// horizontal, beginning with either.
bool isRectangle(const FlatSegment* s) {
    for (int i = 0; i < 4; ++i) {
        const FlatSegment& a = s[i];
        const FlatSegment& b = s[(i + 1) % 4];
        if (a.x1 != b.x0 || a.y1 != b.y0)
            return false;
    }
    const bool verticalFirst = s[0].x0 == s[0].x1;
    for (int i = 0; i < 4; ++i) {
        const bool wantVertical = (i % 2 == 0) == verticalFirst;
        if (wantVertical ? s[i].x0 != s[i].x1 : s[i].y0 != s[i].y1)
            return false;
    }
    return true;
}

}  // namespace

RasterClip::RasterClip(double x0, double y0, double x1, double y1, bool antialias) : m_antialias(antialias) {
    setRect(x0, y0, x1, y1);
}

RasterClip::RasterClip(const RasterClip& other)
    : m_antialias(other.m_antialias),
      m_xMin(other.m_xMin),
      m_yMin(other.m_yMin),
      m_xMax(other.m_xMax),
      m_yMax(other.m_yMax),
      m_xMinI(other.m_xMinI),
      m_yMinI(other.m_yMinI),
      m_xMaxI(other.m_xMaxI),
      m_yMaxI(other.m_yMaxI),
      m_evenOdd(other.m_evenOdd) {
    m_paths.reserve(other.m_paths.size());
    m_scanners.reserve(other.m_paths.size());
    for (size_t i = 0; i < other.m_paths.size(); ++i) {
        m_paths.push_back(std::make_unique<FlatPath>(*other.m_paths[i]));
        addScanner(m_evenOdd[i] != 0);
    }
}

void RasterClip::addScanner(bool evenOdd) {
    auto scanner = std::make_unique<RasterScanner>(m_paths.back().get(), evenOdd);
    // Every test lies inside the rectangle, which only narrows from here.
    if (m_antialias)
        scanner->cacheRows(4 * m_yMinI, 4 * m_yMaxI + 3);
    else
        scanner->cacheRows(m_yMinI, m_yMaxI);
    m_scanners.push_back(std::move(scanner));
}

RasterClip::~RasterClip() = default;

void RasterClip::setRect(double x0, double y0, double x1, double y1) {
    // The rectangle's corners are device coordinates like any other: clamped
    // before they become integers, so that 4 x the integer bounds (the
    // anti-aliasing grid) stays an int.
    x0 = clampCoord(x0);
    y0 = clampCoord(y0);
    x1 = clampCoord(x1);
    y1 = clampCoord(y1);
    m_xMin = std::min(x0, x1);
    m_xMax = std::max(x0, x1);
    m_yMin = std::min(y0, y1);
    m_yMax = std::max(y0, y1);
    updateIntegerBounds();
}

void RasterClip::updateIntegerBounds() {
    // The pixels the rectangle covers some of: a right or lower edge on a
    // pixel boundary leaves the next pixel out.
    m_xMinI = floorToInt(m_xMin);
    m_yMinI = floorToInt(m_yMin);
    m_xMaxI = ceilToInt(m_xMax) - 1;
    m_yMaxI = ceilToInt(m_yMax) - 1;
}

int RasterClip::clipToRect(double x0, double y0, double x1, double y1) {
    x0 = clampCoord(x0);
    y0 = clampCoord(y0);
    x1 = clampCoord(x1);
    y1 = clampCoord(y1);
    const double left = std::min(x0, x1), right = std::max(x0, x1);
    const double top = std::min(y0, y1), bottom = std::max(y0, y1);
    if (left > m_xMin)
        m_xMin = left;
    if (right < m_xMax)
        m_xMax = right;
    if (top > m_yMin)
        m_yMin = top;
    if (bottom < m_yMax)
        m_yMax = bottom;
    updateIntegerBounds();
    return resultOk;
}

int RasterClip::clipToPath(const RasterPath& path, const double* matrix, double flatness, bool evenOdd) {
    auto flat = std::make_unique<FlatPath>(path, matrix, flatness, true);
    if (flat->length() == 0) {
        m_xMax = m_xMin - 1;
        m_yMax = m_yMin - 1;
        updateIntegerBounds();
        return resultOk;
    }
    const FlatSegment* s = flat->segments();
    if (flat->length() == 4 && isRectangle(s)) {
        clipToRect(s[0].x0, s[0].y0, s[2].x0, s[2].y0);
        return resultOk;
    }
    if (m_antialias)
        flat->scaleForAntialias();
    flat->sortSegments();
    m_evenOdd.push_back(evenOdd ? 1 : 0);
    m_paths.push_back(std::move(flat));
    addScanner(evenOdd);
    return resultOk;
}

int RasterClip::test(int x, int y) {
    if (x < m_xMinI || x > m_xMaxI || y < m_yMinI || y > m_yMaxI)
        return 0;
    for (auto& scanner : m_scanners) {
        const int inside = m_antialias ? scanner->test(4 * x, 4 * y) : scanner->test(x, y);
        if (!inside)
            return 0;
    }
    return 1;
}

int RasterClip::testRect(int rx0, int ry0, int rx1, int ry1) {
    // In doubles: rx1 + 1 must not overflow for any int.
    if (rx1 + 1.0 <= m_xMin || rx0 > m_xMax || ry1 + 1.0 <= m_yMin || ry0 > m_yMax)
        return 1;
    if (m_xMin <= rx0 && rx1 + 1.0 <= m_xMax && m_yMin <= ry0 && ry1 + 1.0 <= m_yMax && m_scanners.empty())
        return 0;
    return 2;
}

int RasterClip::testSpan(int sx0, int sx1, int y) {
    if (sx1 + 1.0 <= m_xMin || sx0 > m_xMax || y + 1.0 <= m_yMin || y > m_yMax)
        return 1;
    if (!(m_xMin <= sx0 && sx1 + 1.0 <= m_xMax && m_yMin <= y && y + 1.0 <= m_yMax))
        return 2;
    // Wholly inside the rectangle, so the columns are clamped coordinates and
    // 4 x sx1 + 3 fits.
    for (auto& scanner : m_scanners) {
        const int inside =
            m_antialias ? scanner->testSpan(4 * sx0, 4 * sx1 + 3, 4 * y) : scanner->testSpan(sx0, sx1, y);
        if (!inside)
            return 2;
    }
    return 0;
}

void RasterClip::clipSpan(RasterBitmap& buffer, int& x0, int& x1, int y) {
    const int width = buffer.width();
    const int rowSize = buffer.rowSize();
    uint8_t* data = buffer.data();

    // Left of the rectangle.
    const int left = std::min(floorToInt(4 * m_xMin), width);
    if (left > 0) {
        for (int i = 0; i < 4; ++i)
            clearBitRange(data + i * rowSize, 0, left - 1);
        x0 = m_xMinI;
    }
    // Right of the rectangle, up to the last sub-column of pixel x1 and never
    // past the buffer's last bit.
    const int right = std::max(ceilToInt(4 * m_xMax), 0);
    const int end = std::min(4 * x1 + 4, width - 1);
    if (right <= end) {
        for (int i = 0; i < 4; ++i)
            clearBitRange(data + i * rowSize, right, end);
        x1 = m_xMaxI;
    }
    // Sub-rows above or below the rectangle, in the first and last rows it
    // reaches.
    const int top = floorToInt(4 * m_yMin), bottom = ceilToInt(4 * m_yMax);
    const int first = std::max(4 * x0, 0), last = std::min(4 * x1 + 3, width - 1);
    for (int i = 0; i < 4 && first <= last; ++i) {
        const int subRow = 4 * y + i;
        if (subRow < top || subRow >= bottom)
            clearBitRange(data + i * rowSize, first, last);
    }
    for (auto& scanner : m_scanners)
        scanner->clipAaLine(buffer, x0, x1, y);
}

}  // namespace rendova
