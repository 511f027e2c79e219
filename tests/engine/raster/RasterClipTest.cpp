#include "engine/raster/RasterClip.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "engine/raster/RasterBitmap.h"

namespace rendova {
namespace {

const double kIdentity[6] = {1, 0, 0, 1, 0, 0};

void addRect(RasterPath& path, double x0, double y0, double x1, double y1) {
    path.moveTo(x0, y0);
    path.lineTo(x1, y0);
    path.lineTo(x1, y1);
    path.lineTo(x0, y1);
    path.close();
}

int bit(const RasterBitmap& buffer, int row, int x) {
    return (buffer.data()[row * buffer.rowSize() + (x >> 3)] >> (7 - (x & 7))) & 1;
}

TEST(RasterClipTest, RectangleIsOrderedAndRounded) {
    RasterClip clip(10.5, 20.7, -3.2, 4, false);
    EXPECT_EQ(clip.xMin(), -3.2);
    EXPECT_EQ(clip.xMax(), 10.5);
    EXPECT_EQ(clip.yMin(), 4);
    EXPECT_EQ(clip.yMax(), 20.7);
    EXPECT_EQ(clip.xMinI(), -4);
    EXPECT_EQ(clip.xMaxI(), 10);
    EXPECT_EQ(clip.yMaxI(), 20);
    EXPECT_EQ(clip.clipToRect(0, 0, 5.5, 100), 0);
    EXPECT_EQ(clip.xMin(), 0);
    EXPECT_EQ(clip.xMax(), 5.5);
    EXPECT_EQ(clip.yMin(), 4);
    EXPECT_EQ(clip.yMax(), 20.7);
    EXPECT_EQ(clip.xMaxI(), 5);
    clip.clipToRect(0, 0, 5, 100);
    EXPECT_EQ(clip.xMaxI(), 4);  // an edge on a pixel boundary leaves the next pixel out
}

TEST(RasterClipTest, AxisAlignedRectanglePathNarrowsTheRectangleOnly) {
    RasterClip clip(0, 0, 99.999, 99.999, true);
    RasterPath path;
    addRect(path, 10, 20, 30, 40);
    EXPECT_EQ(clip.clipToPath(path, kIdentity, 1, false), 0);
    EXPECT_EQ(clip.length(), 0);
    EXPECT_EQ(clip.xMin(), 10);
    EXPECT_EQ(clip.yMin(), 20);
    EXPECT_EQ(clip.xMax(), 30);
    EXPECT_EQ(clip.yMax(), 40);

    // The same rectangle turned by 45 degrees is kept as a path.
    RasterClip turned(0, 0, 99.999, 99.999, true);
    const double c = std::sqrt(0.5);
    const double rotate[6] = {c, c, -c, c, 50, 0};
    EXPECT_EQ(turned.clipToPath(path, rotate, 1, false), 0);
    EXPECT_EQ(turned.length(), 1);
    EXPECT_EQ(turned.xMin(), 0);
    EXPECT_EQ(turned.xMax(), 99.999);
}

TEST(RasterClipTest, FourConnectedSegmentsThatAreNotARectangleStayAPath) {
    // Vertical then horizontal, but the other two sides are slanted.
    RasterClip clip(0, 0, 99.999, 99.999, false);
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(0, 10);
    path.lineTo(10, 10);
    path.lineTo(5, 3);
    path.close();
    clip.clipToPath(path, kIdentity, 1, false);
    EXPECT_EQ(clip.length(), 1);
    EXPECT_EQ(clip.xMax(), 99.999);
    EXPECT_EQ(clip.test(9, 4), 0);  // outside the quadrilateral, inside its box
    EXPECT_EQ(clip.test(1, 8), 1);
}

TEST(RasterClipTest, EmptyPathMakesEverythingOutside) {
    RasterClip clip(0, 0, 99.999, 99.999, true);
    RasterPath empty;
    clip.clipToPath(empty, kIdentity, 1, false);
    EXPECT_EQ(clip.test(0, 0), 0);
    EXPECT_EQ(clip.test(50, 50), 0);
    EXPECT_EQ(clip.testRect(0, 0, 99, 99), 1);
    EXPECT_EQ(clip.testRect(10, 10, 10, 10), 1);
    EXPECT_EQ(clip.testSpan(0, 99, 0), 1);
}

TEST(RasterClipTest, TestRectTouchingTheEdgeIsInside) {
    RasterClip clip(0, 0, 10, 10, false);
    EXPECT_EQ(clip.testRect(0, 0, 9, 9), 0);  // rx1 + 1 = xMax
    EXPECT_EQ(clip.testRect(0, 0, 10, 9), 2);
    EXPECT_EQ(clip.testRect(-1, 0, 5, 5), 2);
    EXPECT_EQ(clip.testRect(11, 0, 20, 5), 1);
    EXPECT_EQ(clip.testRect(-5, 0, -1, 5), 1);  // rx1 + 1 <= xMin
    EXPECT_EQ(clip.testRect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX), 2);
    EXPECT_EQ(clip.testSpan(0, 9, 3), 0);
    EXPECT_EQ(clip.testSpan(0, 10, 3), 2);
    EXPECT_EQ(clip.testSpan(0, 9, 10), 2);
    EXPECT_EQ(clip.testSpan(0, 9, 11), 1);

    // With a clip path, nothing is wholly inside by the rectangle alone.
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(10, 0);
    path.lineTo(0, 10);
    path.close();
    clip.clipToPath(path, kIdentity, 1, false);
    EXPECT_EQ(clip.testRect(0, 0, 1, 1), 2);
    EXPECT_EQ(clip.testSpan(0, 3, 1), 0);
    EXPECT_EQ(clip.testSpan(0, 9, 5), 2);
}

TEST(RasterClipTest, TestUsesTheFineGridWhenAntialiased) {
    RasterPath triangle;
    triangle.moveTo(0, 0);
    triangle.lineTo(20, 0);
    triangle.lineTo(0, 20);
    triangle.close();
    for (int antialias = 0; antialias <= 1; ++antialias) {
        RasterClip clip(0, 0, 49.999, 49.999, antialias);
        clip.clipToPath(triangle, kIdentity, 1, false);
        EXPECT_EQ(clip.test(2, 2), 1) << antialias;
        EXPECT_EQ(clip.test(15, 15), 0) << antialias;
        EXPECT_EQ(clip.test(60, 1), 0) << antialias;
    }
}

TEST(RasterClipTest, CopyHasItsOwnPaths) {
    RasterClip clip(0, 0, 49.999, 49.999, true);
    RasterPath triangle;
    triangle.moveTo(0, 0);
    triangle.lineTo(20, 0);
    triangle.lineTo(0, 20);
    triangle.close();
    clip.clipToPath(triangle, kIdentity, 1, true);
    RasterClip copy(clip);
    RasterPath empty;
    clip.clipToPath(empty, kIdentity, 1, false);
    EXPECT_EQ(clip.test(2, 2), 0);
    EXPECT_EQ(copy.length(), 1);
    EXPECT_EQ(copy.evenOdd(0), 1);
    EXPECT_EQ(copy.test(2, 2), 1);
    EXPECT_EQ(copy.test(15, 15), 0);
}

TEST(RasterClipTest, HostileCoordinatesAreClampedBeforeFlooring) {
    const double inf = std::numeric_limits<double>::infinity();
    RasterClip clip(-inf, std::nan(""), 1e300, inf, true);
    EXPECT_EQ(clip.xMinI(), -static_cast<int>(kMaxDeviceCoord));
    EXPECT_EQ(clip.xMaxI(), static_cast<int>(kMaxDeviceCoord) - 1);
    EXPECT_EQ(clip.yMinI(), 0);
    clip.clipToRect(std::nan(""), -1e308, 5, 5);
    EXPECT_EQ(clip.xMinI(), 0);
    EXPECT_EQ(clip.xMaxI(), 4);  // the edge at 5 leaves pixel 5 out
    EXPECT_EQ(clip.testSpan(0, 4, 0), 0);
}

// The buffer of a 6-pixel-wide target: 24 sub-columns, exactly 3 bytes a row,
// so the bit just past a row's end is the first bit of the next row (and,
// after the last row, the first byte after the block).
TEST(RasterClipTest, ClipSpanClearsRightOfTheRectangleAndNothingPastTheBuffer) {
    RasterBitmap buffer(24, 4, 1, rasterMono1, false, true);
    RasterClip clip(-1, 0, 4.25, 10, true);
    std::memset(buffer.data(), 0xff, 12);
    int x0 = 0, x1 = 5;
    clip.clipSpan(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(x1, 4);
    for (int row = 0; row < 4; ++row) {
        // From 4 x 4.25 = 17 to the end of the row; the first bit of the
        // next row (one past this row's last) stays set.
        for (int x = 0; x < 24; ++x)
            EXPECT_EQ(bit(buffer, row, x), x < 17) << row << "," << x;
    }
}

TEST(RasterClipTest, ClipSpanClearsSubRowsAboveAndBelowTheRectangle) {
    // Rows 0.5 to 1.25: sub-rows 2 and 3 of pixel row 0, sub-row 0 of row 1.
    RasterBitmap buffer(24, 4, 1, rasterMono1, false, true);
    RasterClip clip(0, 0.5, 10, 1.25, true);
    EXPECT_EQ(clip.yMinI(), 0);
    EXPECT_EQ(clip.yMaxI(), 1);
    for (int y : {0, 1}) {
        std::memset(buffer.data(), 0xff, 12);
        int x0 = 0, x1 = 5;
        clip.clipSpan(buffer, x0, x1, y);
        for (int row = 0; row < 4; ++row) {
            const int subRow = 4 * y + row;
            EXPECT_EQ(bit(buffer, row, 0), subRow >= 2 && subRow < 5) << y << "," << row;
            EXPECT_EQ(bit(buffer, row, 23), subRow >= 2 && subRow < 5) << y << "," << row;
        }
    }
}

TEST(RasterClipTest, ClipSpanClearsLeftOfTheRectangle) {
    RasterBitmap buffer(24, 4, 1, rasterMono1, false, true);
    RasterClip clip(1.5, 0, 10, 10, true);
    std::memset(buffer.data(), 0xff, 12);
    int x0 = 0, x1 = 5;
    clip.clipSpan(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 1);
    EXPECT_EQ(x1, 5);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 24; ++x)
            EXPECT_EQ(bit(buffer, row, x), x >= 6) << row << "," << x;

    // A rectangle covering the whole buffer clears nothing and moves nothing.
    RasterClip wide(-5, 0, 50, 10, true);
    std::memset(buffer.data(), 0xff, 12);
    x0 = 0;
    x1 = 5;
    wide.clipSpan(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(x1, 5);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(buffer.data()[i], 0xff);
}

TEST(RasterClipTest, ClipSpanAppliesClipPaths) {
    RasterBitmap buffer(24, 4, 1, rasterMono1, false, true);
    RasterClip clip(0, 0, 5.999, 9.999, true);
    RasterPath triangle;
    triangle.moveTo(0, 0);
    triangle.lineTo(4, 0);
    triangle.lineTo(0, 4);
    triangle.close();
    clip.clipToPath(triangle, kIdentity, 1, false);
    std::memset(buffer.data(), 0xff, 12);
    int x0 = 0, x1 = 5;
    clip.clipSpan(buffer, x0, x1, 1);
    // Pixel row 1 is sub-rows 4 to 7; the triangle's right edge there runs
    // from sub-column 12 down to 8.
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(bit(buffer, row, 0), 1);
        EXPECT_EQ(bit(buffer, row, 7), 1);
        EXPECT_EQ(bit(buffer, row, 13), 0);
        EXPECT_EQ(bit(buffer, row, 23), 0);
    }
}

}  // namespace
}  // namespace rendova
