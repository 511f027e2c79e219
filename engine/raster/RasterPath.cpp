#include "engine/raster/RasterPath.h"

#include <cstring>

#include "engine/core/Memory.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

RasterPath::~RasterPath() {
    memFree(m_points);
    memFree(m_flags);
    memFree(m_hints);
}

// Both arrays start at 32 entries and double until the request fits.
void RasterPath::grow(int extra) {
    const int needed = checkedAdd(m_length, extra);
    if (needed <= m_size)
        return;
    int newSize = m_size == 0 ? 32 : m_size;
    while (newSize < needed)
        newSize = checkedMul(newSize, 2);
    m_points = static_cast<RasterPathPoint*>(
        memReallocArray(m_points, newSize, static_cast<int>(sizeof(RasterPathPoint))));
    m_flags = static_cast<uint8_t*>(memReallocArray(m_flags, newSize, 1));
    m_size = newSize;
}

void RasterPath::addPoint(double x, double y, uint8_t flags) {
    m_points[m_length] = {x, y};
    m_flags[m_length] = flags;
    ++m_length;
}

int RasterPath::moveTo(double x, double y) {
    if (m_length == m_curSubpath + 1)
        return resultLonePoint;
    grow(1);
    m_curSubpath = m_length;
    addPoint(x, y, kPathFirst | kPathLast);
    return resultOk;
}

int RasterPath::lineTo(double x, double y) {
    if (noCurrentPoint())
        return resultNoCurrentPoint;
    grow(1);
    m_flags[m_length - 1] &= static_cast<uint8_t>(~kPathLast);
    addPoint(x, y, kPathLast);
    return resultOk;
}

int RasterPath::curveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    if (noCurrentPoint())
        return resultNoCurrentPoint;
    grow(3);
    m_flags[m_length - 1] &= static_cast<uint8_t>(~kPathLast);
    addPoint(x1, y1, kPathCurve);
    addPoint(x2, y2, kPathCurve);
    addPoint(x3, y3, kPathLast);
    return resultOk;
}

int RasterPath::close() {
    if (noCurrentPoint())
        return resultNoCurrentPoint;
    const RasterPathPoint first = m_points[m_curSubpath];
    const RasterPathPoint last = m_points[m_length - 1];
    // Exact comparison: a closing line is only saved when the path already
    // returned to the very same point.
    if (m_curSubpath == m_length - 1 || last.x != first.x || last.y != first.y)
        lineTo(first.x, first.y);
    m_flags[m_curSubpath] |= kPathClosed;
    m_flags[m_length - 1] |= kPathClosed;
    m_curSubpath = m_length;
    return resultOk;
}

void RasterPath::append(const RasterPath& other) {
    const int oldLength = m_length;
    grow(other.m_length);
    if (other.m_length > 0) {
        std::memcpy(m_points + m_length, other.m_points, sizeof(RasterPathPoint) * other.m_length);
        std::memcpy(m_flags + m_length, other.m_flags, static_cast<size_t>(other.m_length));
    }
    m_length += other.m_length;
    m_curSubpath = other.m_curSubpath + oldLength;
}

void RasterPath::addStrokeAdjustHint(int ctrl0, int ctrl1, int firstPoint, int lastPoint) {
    if (m_hintsLength == m_hintsSize) {
        const int newSize = m_hintsSize == 0 ? 8 : checkedMul(m_hintsSize, 2);
        m_hints = static_cast<RasterPathHint*>(
            memReallocArray(m_hints, newSize, static_cast<int>(sizeof(RasterPathHint))));
        m_hintsSize = newSize;
    }
    m_hints[m_hintsLength++] = {ctrl0, ctrl1, firstPoint, lastPoint};
}

void RasterPath::offset(double dx, double dy) {
    for (int i = 0; i < m_length; ++i) {
        m_points[i].x += dx;
        m_points[i].y += dy;
    }
}

int RasterPath::getCurPoint(double* x, double* y) const {
    if (noCurrentPoint())
        return 0;
    *x = m_points[m_length - 1].x;
    *y = m_points[m_length - 1].y;
    return 1;
}

}  // namespace rendova
