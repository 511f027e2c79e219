#pragma once

#include <memory>

namespace rendova {

// One sub-path under construction, in user space: points with a flag that
// tells the control points of cubic segments (1) from end points (0). It
// starts with one point and grows in steps of 16 points.
//
// Owned by its Path. One thread at a time; throws MemoryException when
// memory runs out.
class SubPath {
public:
    SubPath(double x, double y);
    SubPath(const SubPath& other);
    SubPath& operator=(const SubPath&) = delete;
    ~SubPath();

    // Appends one end point.
    void lineTo(double x, double y);
    // Appends two control points and an end point.
    void curveTo(double x1, double y1, double x2, double y2, double x3, double y3);
    // Appends the first point when the last one differs from it, and marks
    // the sub-path closed.
    void close();

    int getCount() const { return m_count; }
    int getCapacity() const { return m_capacity; }
    double getX(int i) const { return m_x[i]; }
    double getY(int i) const { return m_y[i]; }
    bool isCurve(int i) const { return m_curve[i] != 0; }
    bool isClosed() const { return m_closed; }
    double getLastX() const { return m_x[m_count - 1]; }
    double getLastY() const { return m_y[m_count - 1]; }

private:
    // Makes room for n more points.
    void reserve(int n);

    double* m_x = nullptr;
    double* m_y = nullptr;
    int* m_curve = nullptr;
    int m_count = 0;
    int m_capacity = 0;
    bool m_closed = false;
};

// The path under construction: sub-paths, plus a move-to that has not opened
// a sub-path yet (a second move-to only replaces it). Segments and close open
// the pending sub-path first. The caller makes sure there is a current point
// (a pending move-to or a sub-path) before a segment or close; without one
// they do nothing.
//
// Owns its sub-paths. One thread at a time; throws MemoryException when
// memory runs out.
class Path {
public:
    Path();
    ~Path();
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;

    void moveTo(double x, double y);
    void lineTo(double x, double y);
    void curveTo(double x1, double y1, double x2, double y2, double x3, double y3);
    void close();
    // A deep copy.
    std::unique_ptr<Path> copy() const;

    bool isJustMoved() const { return m_justMoved; }
    double getFirstX() const { return m_firstX; }
    double getFirstY() const { return m_firstY; }
    int getSubPathCount() const { return m_count; }
    int getCapacity() const { return m_capacity; }
    const SubPath* getSubPath(int i) const { return m_subPaths[i]; }
    // A pending move-to or at least one sub-path.
    bool hasCurrentPoint() const { return m_justMoved || m_count > 0; }
    bool isEmpty() const { return !hasCurrentPoint(); }

private:
    // Opens the pending sub-path; false when there is no current point.
    bool openPending();

    bool m_justMoved = false;
    double m_firstX = 0;
    double m_firstY = 0;
    SubPath** m_subPaths = nullptr;
    int m_count = 0;
    int m_capacity = 0;
};

}  // namespace rendova
