#include "engine/content/Path.h"

#include <cstring>

#include "engine/core/Memory.h"

namespace rendova {

namespace {

// Point and sub-path arrays start with this many entries and grow by it.
constexpr int kGrowth = 16;

}  // namespace

SubPath::SubPath(double x, double y) {
    reserve(1);
    m_x[0] = x;
    m_y[0] = y;
    m_curve[0] = 0;
    m_count = 1;
}

SubPath::SubPath(const SubPath& other) : m_count(other.m_count), m_closed(other.m_closed) {
    m_capacity = other.m_capacity;
    m_x = static_cast<double*>(memAllocArray(m_capacity, sizeof(double)));
    m_y = static_cast<double*>(memAllocArray(m_capacity, sizeof(double)));
    m_curve = static_cast<int*>(memAllocArray(m_capacity, sizeof(int)));
    std::memcpy(m_x, other.m_x, sizeof(double) * size_t(m_count));
    std::memcpy(m_y, other.m_y, sizeof(double) * size_t(m_count));
    std::memcpy(m_curve, other.m_curve, sizeof(int) * size_t(m_count));
}

SubPath::~SubPath() {
    memFree(m_x);
    memFree(m_y);
    memFree(m_curve);
}

void SubPath::reserve(int n) {
    if (m_capacity >= checkedAdd(m_count, n))
        return;
    const int capacity = checkedAdd(m_capacity, kGrowth);
    m_x = static_cast<double*>(memReallocArray(m_x, capacity, sizeof(double)));
    m_y = static_cast<double*>(memReallocArray(m_y, capacity, sizeof(double)));
    m_curve = static_cast<int*>(memReallocArray(m_curve, capacity, sizeof(int)));
    m_capacity = capacity;
}

void SubPath::lineTo(double x, double y) {
    reserve(1);
    m_x[m_count] = x;
    m_y[m_count] = y;
    m_curve[m_count] = 0;
    ++m_count;
}

void SubPath::curveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    reserve(3);
    m_x[m_count] = x1;
    m_y[m_count] = y1;
    m_curve[m_count] = 1;
    m_x[m_count + 1] = x2;
    m_y[m_count + 1] = y2;
    m_curve[m_count + 1] = 1;
    m_x[m_count + 2] = x3;
    m_y[m_count + 2] = y3;
    m_curve[m_count + 2] = 0;
    m_count += 3;
}

void SubPath::close() {
    if (m_x[m_count - 1] != m_x[0] || m_y[m_count - 1] != m_y[0])
        lineTo(m_x[0], m_y[0]);
    m_closed = true;
}

Path::Path() {
    m_subPaths = static_cast<SubPath**>(memAllocArray(kGrowth, sizeof(SubPath*)));
    m_capacity = kGrowth;
}

Path::~Path() {
    for (int i = 0; i < m_count; ++i)
        delete m_subPaths[i];
    memFree(m_subPaths);
}

void Path::moveTo(double x, double y) {
    m_justMoved = true;
    m_firstX = x;
    m_firstY = y;
}

bool Path::openPending() {
    if (!m_justMoved)
        return m_count > 0;
    if (m_count == m_capacity) {
        const int capacity = checkedAdd(m_capacity, kGrowth);
        m_subPaths = static_cast<SubPath**>(memReallocArray(m_subPaths, capacity, sizeof(SubPath*)));
        m_capacity = capacity;
    }
    m_subPaths[m_count] = new SubPath(m_firstX, m_firstY);
    ++m_count;
    m_justMoved = false;
    return true;
}

void Path::lineTo(double x, double y) {
    if (openPending())
        m_subPaths[m_count - 1]->lineTo(x, y);
}

void Path::curveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    if (openPending())
        m_subPaths[m_count - 1]->curveTo(x1, y1, x2, y2, x3, y3);
}

void Path::close() {
    if (openPending())
        m_subPaths[m_count - 1]->close();
}

std::unique_ptr<Path> Path::copy() const {
    auto path = std::make_unique<Path>();
    path->m_justMoved = m_justMoved;
    path->m_firstX = m_firstX;
    path->m_firstY = m_firstY;
    if (m_capacity > path->m_capacity) {
        path->m_subPaths =
            static_cast<SubPath**>(memReallocArray(path->m_subPaths, m_capacity, sizeof(SubPath*)));
        path->m_capacity = m_capacity;
    }
    for (int i = 0; i < m_count; ++i) {
        path->m_subPaths[i] = new SubPath(*m_subPaths[i]);
        path->m_count = i + 1;
    }
    return path;
}

}  // namespace rendova
