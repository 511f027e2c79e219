#include "engine/raster/RasterPath.h"

#include <gtest/gtest.h>

#include "engine/raster/RasterTypes.h"

namespace rendova {
namespace {

TEST(RasterPathTest, SecondMoveToAfterALonePointIsRefused) {
    RasterPath path;
    EXPECT_EQ(path.moveTo(1, 2), resultOk);
    EXPECT_EQ(path.moveTo(5, 6), resultLonePoint);
    EXPECT_EQ(path.length(), 1);
    EXPECT_EQ(path.lineTo(3, 4), resultOk);
    // The line starts at the first point.
    ASSERT_EQ(path.length(), 2);
    EXPECT_EQ(path.points()[0].x, 1);
    EXPECT_EQ(path.points()[0].y, 2);
    EXPECT_EQ(path.flags()[0], kPathFirst);
    EXPECT_EQ(path.flags()[1], kPathLast);
    // With a line behind it, a new sub-path may start.
    EXPECT_EQ(path.moveTo(5, 6), resultOk);
    EXPECT_EQ(path.curSubpath(), 2);
}

TEST(RasterPathTest, DrawingWithoutCurrentPointFails) {
    RasterPath path;
    EXPECT_EQ(path.lineTo(1, 1), resultNoCurrentPoint);
    EXPECT_EQ(path.curveTo(1, 1, 2, 2, 3, 3), resultNoCurrentPoint);
    EXPECT_EQ(path.close(), resultNoCurrentPoint);
    double x = 0, y = 0;
    EXPECT_EQ(path.getCurPoint(&x, &y), 0);

    path.moveTo(0, 0);
    path.lineTo(1, 0);
    EXPECT_EQ(path.close(), resultOk);
    EXPECT_EQ(path.lineTo(1, 1), resultNoCurrentPoint);
    EXPECT_EQ(path.curveTo(1, 1, 2, 2, 3, 3), resultNoCurrentPoint);
    EXPECT_EQ(path.close(), resultNoCurrentPoint);
    EXPECT_EQ(path.getCurPoint(&x, &y), 0);
}

TEST(RasterPathTest, CurveAddsTwoControlPointsAndAnEnd) {
    RasterPath path;
    path.moveTo(0, 0);
    EXPECT_EQ(path.curveTo(1, 2, 3, 4, 5, 6), resultOk);
    ASSERT_EQ(path.length(), 4);
    EXPECT_EQ(path.flags()[0], kPathFirst);
    EXPECT_EQ(path.flags()[1], kPathCurve);
    EXPECT_EQ(path.flags()[2], kPathCurve);
    EXPECT_EQ(path.flags()[3], kPathLast);
    double x = 0, y = 0;
    EXPECT_EQ(path.getCurPoint(&x, &y), 1);
    EXPECT_EQ(x, 5);
    EXPECT_EQ(y, 6);
}

TEST(RasterPathTest, ClosingALonePointAddsAZeroLengthLine) {
    RasterPath path;
    path.moveTo(3, 4);
    EXPECT_EQ(path.close(), resultOk);
    ASSERT_EQ(path.length(), 2);
    EXPECT_EQ(path.points()[1].x, 3);
    EXPECT_EQ(path.points()[1].y, 4);
    EXPECT_EQ(path.flags()[0], kPathFirst | kPathClosed);
    EXPECT_EQ(path.flags()[1], kPathLast | kPathClosed);
    EXPECT_EQ(path.curSubpath(), path.length());
}

TEST(RasterPathTest, ClosingATriangleThatReturnsToItsStartAddsNoPoint) {
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(4, 0);
    path.lineTo(4, 4);
    path.lineTo(0, 0);
    path.close();
    EXPECT_EQ(path.length(), 4);
    EXPECT_EQ(path.flags()[0], kPathFirst | kPathClosed);
    EXPECT_EQ(path.flags()[3], kPathLast | kPathClosed);

    // Nearly the same point is not the same point.
    RasterPath open;
    open.moveTo(0, 0);
    open.lineTo(4, 0);
    open.lineTo(1e-12, 0);
    open.close();
    EXPECT_EQ(open.length(), 4);
    EXPECT_EQ(open.points()[3].x, 0);
}

TEST(RasterPathTest, ArraysGrowFrom32To64AtThe33rdPoint) {
    RasterPath path;
    path.moveTo(0, 0);
    for (int i = 1; i < 32; ++i)
        path.lineTo(i, 0);
    EXPECT_EQ(path.size(), 32);
    path.lineTo(32, 0);
    EXPECT_EQ(path.size(), 64);
    EXPECT_EQ(path.length(), 33);
    EXPECT_EQ(path.points()[32].x, 32);
    // A curve that does not fit grows the arrays once, before any point.
    for (int i = 33; i < 62; ++i)
        path.lineTo(i, 0);
    path.curveTo(1, 1, 2, 2, 3, 3);
    EXPECT_EQ(path.size(), 128);
    EXPECT_EQ(path.length(), 65);
}

TEST(RasterPathTest, AppendKeepsTheOtherPathsCurrentSubpath) {
    RasterPath a;
    a.moveTo(0, 0);
    a.lineTo(1, 0);
    a.close();
    RasterPath b;
    b.moveTo(5, 5);
    b.lineTo(6, 5);
    b.moveTo(7, 7);
    b.lineTo(8, 8);
    b.addStrokeAdjustHint(0, 1, 0, 3);
    a.append(b);
    EXPECT_EQ(a.length(), 3 + 4);
    EXPECT_EQ(a.curSubpath(), 3 + 2);
    EXPECT_EQ(a.hintsLength(), 0);
    EXPECT_EQ(a.flags()[3], kPathFirst);
    double x, y;
    EXPECT_EQ(a.getCurPoint(&x, &y), 1);
    EXPECT_EQ(x, 8);
    EXPECT_EQ(a.lineTo(9, 9), resultOk);
}

TEST(RasterPathTest, HintsGrowAndOffsetMovesEveryPoint) {
    RasterPath path;
    path.moveTo(1, 1);
    path.lineTo(2, 3);
    for (int i = 0; i < 20; ++i)
        path.addStrokeAdjustHint(i, i + 1, i, i + 2);
    ASSERT_EQ(path.hintsLength(), 20);
    EXPECT_EQ(path.hints()[19].ctrl0, 19);
    EXPECT_EQ(path.hints()[19].lastPoint, 21);
    path.offset(10, -1);
    EXPECT_EQ(path.points()[0].x, 11);
    EXPECT_EQ(path.points()[1].y, 2);
}

}  // namespace
}  // namespace rendova
