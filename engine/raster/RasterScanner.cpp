#include "engine/raster/RasterScanner.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/raster/BitRow.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {

RasterScanner::RasterScanner(const FlatPath* path, bool evenOdd) : m_path(path), m_evenOdd(evenOdd) {
    const FlatSegment* segs = path->segments();
    const int n = path->length();
    if (n == 0) {
        m_xMin = m_yMin = 1;
        m_xMax = m_yMax = 0;
    } else {
        double xMin = segs[0].x0, xMax = segs[0].x0;
        double yMax = segs[0].y0;
        for (int i = 0; i < n; ++i) {
            xMin = std::min({xMin, segs[i].x0, segs[i].x1});
            xMax = std::max({xMax, segs[i].x0, segs[i].x1});
            yMax = std::max({yMax, segs[i].y0, segs[i].y1});
        }
        m_xMin = floorToInt(xMin);
        m_xMax = floorToInt(xMax);
        m_yMin = floorToInt(std::min(segs[0].y0, segs[0].y1));
        m_yMax = floorToInt(yMax);
    }
    m_interY = m_yMin - 1;
    m_sweepY = m_interY;
}

RasterScanner::~RasterScanner() {
    memFree(m_inter);
    memFree(m_active);
}

void RasterScanner::getBBox(int& xMin, int& yMin, int& xMax, int& yMax) const {
    xMin = m_xMin / 4;
    yMin = m_yMin / 4;
    xMax = m_xMax / 4;
    yMax = m_yMax / 4;
}

namespace {

// Orders intersections by their first column. A scanline mostly meets a few
// edges, and a call to the library sort costs more than sorting them: short
// lists go through an insertion sort, which (being stable) puts equal starts
// in the order the library's own sort leaves lists of up to 16 in.
void sortByStart(RasterIntersection* inter, int n) {
    if (n > 16) {
        std::sort(inter, inter + n,
                  [](const RasterIntersection& a, const RasterIntersection& b) { return a.x0 < b.x0; });
        return;
    }
    for (int i = 1; i < n; ++i) {
        const RasterIntersection v = inter[i];
        int j = i;
        for (; j > 0 && v.x0 < inter[j - 1].x0; --j)
            inter[j] = inter[j - 1];
        inter[j] = v;
    }
}

}  // namespace

void RasterScanner::cacheRows(int y0, int y1) {
    if (y1 < y0)
        return;
    m_cacheY0 = y0;
    m_cacheRows = static_cast<int>(std::min<int64_t>(int64_t{y1} - y0 + 1, kMaxCachedRows));
}

void RasterScanner::reserveIntersections(int n) {
    while (m_interSize < n) {
        const int newSize = m_interSize == 0 ? 16 : checkedMul(m_interSize, 2);
        m_inter = static_cast<RasterIntersection*>(
            memReallocArray(m_inter, newSize, static_cast<int>(sizeof(RasterIntersection))));
        m_interSize = newSize;
    }
}

void RasterScanner::sweepTo(int y) {
    const FlatSegment* segs = m_path->segments();
    const int n = m_path->length();
    const double top = y, bottom = y + 1.0;

    // Segments reach the scanline when they begin above its lower edge and
    // end at or below its upper edge. Going down, a segment that ended above
    // never comes back, so the active list only loses those and gains the
    // next sorted segments; its order stays the sorted order, which keeps the
    // intersections in the order a walk over every segment would give.
    if (!m_active && n > 0)
        m_active = static_cast<int*>(memAllocArray(n, static_cast<int>(sizeof(int))));
    if (y < m_sweepY) {
        m_activeLength = 0;
        m_nextSeg = 0;
        // Only a scanner asked again from the top keeps scanlines: most
        // clips (a copy in every saved state) are never asked twice.
        if (m_cacheRows > 0 && m_cachedStart.empty()) {
            m_cachedStart.assign(static_cast<size_t>(m_cacheRows), -1);
            m_cachedLength.assign(static_cast<size_t>(m_cacheRows), 0);
        }
    }
    auto upperEnd = [](const FlatSegment& s) { return (s.flags & kSegFlipped) ? s.y1 : s.y0; };
    auto lowerEnd = [](const FlatSegment& s) { return (s.flags & kSegFlipped) ? s.y0 : s.y1; };
    int kept = 0;
    for (int k = 0; k < m_activeLength; ++k) {
        if (lowerEnd(segs[m_active[k]]) > top)
            m_active[kept++] = m_active[k];
    }
    m_activeLength = kept;
    while (m_nextSeg < n && upperEnd(segs[m_nextSeg]) < bottom) {
        if (lowerEnd(segs[m_nextSeg]) > top)
            m_active[m_activeLength++] = m_nextSeg;
        ++m_nextSeg;
    }
    m_sweepY = y;
}

void RasterScanner::computeIntersections(int y) {
    m_interY = y;
    m_interIdx = 0;
    m_interCount = 0;
    const int64_t row = int64_t{y} - m_cacheY0;
    const bool cacheable = row >= 0 && row < static_cast<int64_t>(m_cachedStart.size());
    if (cacheable && m_cachedStart[row] >= 0) {
        m_interLength = m_cachedLength[row];
        reserveIntersections(m_interLength);
        std::copy_n(m_cachedInter.data() + m_cachedStart[row], m_interLength, m_inter);
        return;
    }

    sweepTo(y);
    const FlatSegment* segs = m_path->segments();
    const double top = y, bottom = y + 1.0;
    m_interLength = 0;
    reserveIntersections(m_activeLength);
    for (int k = 0; k < m_activeLength; ++k) {
        const FlatSegment& s = segs[m_active[k]];
        const bool flipped = (s.flags & kSegFlipped) != 0;
        const double segYMin = flipped ? s.y1 : s.y0;
        const double segYMax = flipped ? s.y0 : s.y1;

        int x0, x1;
        if (s.flags & kSegHorizontal) {
            x0 = floorToInt(std::min(s.x0, s.x1));
            x1 = ceilToInt(std::max(s.x0, s.x1)) - 1;
        } else if (s.flags & kSegVertical) {
            x0 = floorToInt(s.x0);
            x1 = ceilToInt(s.x0) - 1;
        } else {
            const double segXMin = std::min(s.x0, s.x1), segXMax = std::max(s.x0, s.x1);
            double xa = s.x0 + (top - s.y0) * s.dxdy;
            double xb = s.x0 + (bottom - s.y0) * s.dxdy;
            // Written so that NaN (an overflowed slope times 0) lands on the
            // range's start.
            if (!(xa >= segXMin))
                xa = segXMin;
            if (xa > segXMax)
                xa = segXMax;
            if (!(xb >= segXMin))
                xb = segXMin;
            if (xb > segXMax)
                xb = segXMax;
            x0 = floorToInt(std::min(xa, xb));
            x1 = ceilToInt(std::max(xa, xb)) - 1;
        }
        int count = 0;
        if (!(s.flags & kSegHorizontal) && top >= segYMin && top < segYMax)
            count = m_evenOdd ? 1 : (flipped ? 1 : -1);
        // The columns go in as one 8-byte store: the sort reads them back
        // at once as 8 bytes, which the processor cannot take from two
        // pending 4-byte stores without waiting for them to reach the cache.
        RasterIntersection& e = m_inter[m_interLength++];
        const uint64_t columns = static_cast<uint32_t>(x0) | (uint64_t{static_cast<uint32_t>(x1)} << 32);
        static_assert(offsetof(RasterIntersection, x1) == offsetof(RasterIntersection, x0) + 4);
        std::memcpy(&e, &columns, sizeof columns);
        e.count = count;
    }
    sortByStart(m_inter, m_interLength);

    if (cacheable && m_cachedInter.size() + m_interLength <= kMaxCachedIntersections) {
        m_cachedStart[row] = static_cast<int>(m_cachedInter.size());
        m_cachedLength[row] = m_interLength;
        m_cachedInter.insert(m_cachedInter.end(), m_inter, m_inter + m_interLength);
    }
}

void RasterScanner::startScanline(int y) {
    if (y != m_interY) {
        computeIntersections(y);
    } else {
        m_interIdx = 0;
        m_interCount = 0;
    }
}

bool RasterScanner::nextSpan(int& x0, int& x1) {
    const RasterIntersection* inter = m_inter;
    while (m_interIdx < m_interLength) {
        int idx = m_interIdx;
        int count = m_interCount + inter[idx].count;
        int left = inter[idx].x0, right = inter[idx].x1;
        ++idx;
        while (idx < m_interLength && (inter[idx].x0 <= right || inside(count))) {
            if (inter[idx].x1 > right)
                right = inter[idx].x1;
            count += inter[idx].count;
            ++idx;
        }
        m_interIdx = idx;
        m_interCount = count;
        // Edges on a column boundary enter no column: a shape of no width
        // there covers nothing, as one of no height on a row boundary.
        if (right >= left) {
            x0 = left;
            x1 = right;
            return true;
        }
    }
    return false;
}

bool RasterScanner::getNextSpan(int y, int& x0, int& x1) {
    if (y != m_interY)
        computeIntersections(y);
    return nextSpan(x0, x1);
}

int RasterScanner::test(int x, int y) {
    if (y != m_interY)
        computeIntersections(y);
    int count = 0;
    for (int i = 0; i < m_interLength && m_inter[i].x0 <= x; ++i) {
        if (x <= m_inter[i].x1)
            return 1;
        count += m_inter[i].count;
    }
    return inside(count) ? 1 : 0;
}

int RasterScanner::testSpan(int sx0, int sx1, int y) {
    if (y != m_interY)
        computeIntersections(y);
    int count = 0;
    int i = 0;
    for (; i < m_interLength && m_inter[i].x1 < sx0; ++i)
        count += m_inter[i].count;
    // The cursor is the last column known to be inside.
    int xx = sx0 - 1;
    while (xx < sx1) {
        if (i >= m_interLength)
            return 0;
        if (m_inter[i].x0 > xx + 1 && !inside(count))
            return 0;
        if (m_inter[i].x1 > xx)
            xx = m_inter[i].x1;
        count += m_inter[i].count;
        ++i;
    }
    return 1;
}

void RasterScanner::renderAaLine(RasterBitmap& buffer, int& x0, int& x1, int y) {
    const int width = buffer.width();
    const int rowSize = buffer.rowSize();
    uint8_t* data = buffer.data();
    std::memset(data, 0, static_cast<size_t>(rowSize) * 4);

    int spanMin = width, spanEnd = -1;
    for (int i = 0; i < 4; ++i) {
        startScanline(4 * y + i);
        uint8_t* row = data + i * rowSize;
        int s0, s1;
        while (nextSpan(s0, s1)) {
            if (s0 < 0)
                s0 = 0;
            if (s1 >= width)
                s1 = width - 1;
            if (s0 > s1)
                continue;
            setBitRange(row, s0, s1);
            if (s0 < spanMin)
                spanMin = s0;
            if (s1 + 1 > spanEnd)
                spanEnd = s1 + 1;
        }
    }
    x0 = spanMin / 4;
    x1 = (spanEnd - 1) / 4;
}

void RasterScanner::clipAaLine(RasterBitmap& buffer, int x0, int x1, int y) {
    const int width = buffer.width();
    const int rowSize = buffer.rowSize();
    uint8_t* data = buffer.data();
    // Sub-columns 4 x0 to 4 x1 + 3, kept inside the buffer.
    const int start = std::max(4 * x0, 0);
    const int end = std::min(4 * x1 + 4, width);
    if (start >= end)
        return;

    for (int i = 0; i < 4; ++i) {
        startScanline(4 * y + i);
        uint8_t* row = data + i * rowSize;
        int cursor = start;
        int s0, s1;
        while (cursor < end && nextSpan(s0, s1)) {
            if (s0 > cursor)
                clearBitRange(row, cursor, std::min(s0, end) - 1);
            if (s1 + 1 > cursor)
                cursor = s1 + 1;
        }
        if (cursor < end)
            clearBitRange(row, cursor, end - 1);
    }
}

}  // namespace rendova
