#pragma once

#include <cstdint>

namespace rendova {

// Flags of a path point.
constexpr uint8_t kPathFirst = 1;   // first point of a sub-path
constexpr uint8_t kPathLast = 2;    // last point of a sub-path
constexpr uint8_t kPathClosed = 4;  // the sub-path is closed (on its first and last point)
constexpr uint8_t kPathCurve = 8;   // control point of a cubic curve

struct RasterPathPoint {
    double x;
    double y;
};

// A stroke-adjust hint: edge A runs from point ctrl0 to ctrl0 + 1, edge B from
// ctrl1 to ctrl1 + 1; the alignment of the two moves the points firstPoint to
// lastPoint.
struct RasterPathHint {
    int ctrl0;
    int ctrl1;
    int firstPoint;
    int lastPoint;
};

// A path in user coordinates (or device coordinates where a caller builds it
// in device space), as fill, stroke and clip take it. Owned by whoever made
// it; not thread-safe. Growth throws MemoryException.
class RasterPath {
public:
    RasterPath() = default;
    ~RasterPath();
    RasterPath(const RasterPath&) = delete;
    RasterPath& operator=(const RasterPath&) = delete;

    // resultLonePoint when the last sub-path is a single point (nothing is
    // added), else resultOk.
    int moveTo(double x, double y);
    // resultNoCurrentPoint without a current point.
    int lineTo(double x, double y);
    int curveTo(double x1, double y1, double x2, double y2, double x3, double y3);
    // Closes the current sub-path, adding a line back to its first point
    // unless the last point already lies there; afterwards there is no
    // current point.
    int close();
    // Appends other's points and flags (not its hints).
    void append(const RasterPath& other);
    void addStrokeAdjustHint(int ctrl0, int ctrl1, int firstPoint, int lastPoint);
    void offset(double dx, double dy);
    // 0 without a current point, else 1 with the last point.
    int getCurPoint(double* x, double* y) const;

    const RasterPathPoint* points() const { return m_points; }
    const uint8_t* flags() const { return m_flags; }
    int length() const { return m_length; }
    int size() const { return m_size; }
    int curSubpath() const { return m_curSubpath; }
    const RasterPathHint* hints() const { return m_hints; }
    int hintsLength() const { return m_hintsLength; }

private:
    bool noCurrentPoint() const { return m_curSubpath == m_length; }
    void grow(int extra);
    void addPoint(double x, double y, uint8_t flags);

    RasterPathPoint* m_points = nullptr;
    uint8_t* m_flags = nullptr;
    int m_length = 0;
    int m_size = 0;
    int m_curSubpath = 0;
    RasterPathHint* m_hints = nullptr;
    int m_hintsLength = 0;
    int m_hintsSize = 0;
};

}  // namespace rendova
