#include "engine/raster/FlatPath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/raster/RasterTypes.h"

namespace rendova {
namespace {

const double kIdentity[6] = {1, 0, 0, 1, 0, 0};

TEST(FlatPathTest, StraightCubicSplitsOnceAtFlatnessOne) {
    // The control points lie 2 from the chord's midpoint, so the curve is
    // split once, and each half's control points lie exactly 1 from its own.
    RasterPath path;
    path.moveTo(0, 0);
    path.curveTo(4, 0, 8, 0, 12, 0);
    FlatPath flat(path, kIdentity, 1, false);
    ASSERT_EQ(flat.length(), 2);
    EXPECT_EQ(flat.segments()[0].x0, 0);
    EXPECT_EQ(flat.segments()[0].x1, 6);
    EXPECT_EQ(flat.segments()[1].x0, 6);
    EXPECT_EQ(flat.segments()[1].x1, 12);
    // The first piece carries the curve's start flags, the last its end flags.
    EXPECT_EQ(flat.segments()[0].flags & (kSegFirst | kSegOpenStart), kSegFirst | kSegOpenStart);
    EXPECT_EQ(flat.segments()[0].flags & (kSegLast | kSegOpenEnd), 0);
    EXPECT_EQ(flat.segments()[1].flags & (kSegLast | kSegOpenEnd), kSegLast | kSegOpenEnd);
}

TEST(FlatPathTest, CubicWithControlPointsOnItsChordMidpointIsOneSegment) {
    RasterPath path;
    path.moveTo(0, 0);
    path.curveTo(5, 5, 5, 5, 10, 10);
    FlatPath flat(path, kIdentity, 1, false);
    EXPECT_EQ(flat.length(), 1);
}

TEST(FlatPathTest, CurveThatNeverFlattensStopsAt1024Segments) {
    RasterPath path;
    path.moveTo(0, 0);
    path.curveTo(0, 1e8, 1e8, 1e8, 1e8, 0);
    FlatPath flat(path, kIdentity, 1, false);
    EXPECT_EQ(flat.length(), 1024);
    // The pieces join end to end.
    for (int i = 1; i < flat.length(); ++i) {
        EXPECT_EQ(flat.segments()[i].x0, flat.segments()[i - 1].x1);
        EXPECT_EQ(flat.segments()[i].y0, flat.segments()[i - 1].y1);
    }
}

TEST(FlatPathTest, SegmentFlagsAndSlopes) {
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(4, 0);  // horizontal
    path.lineTo(4, 4);  // vertical
    path.lineTo(0, 2);  // flipped, slope -2 in x per y
    path.lineTo(0, 2);  // zero length
    FlatPath flat(path, kIdentity, 1, false);
    ASSERT_EQ(flat.length(), 4);
    const FlatSegment* s = flat.segments();
    EXPECT_EQ(s[0].flags, kSegFirst | kSegOpenStart | kSegHorizontal);
    EXPECT_EQ(s[1].flags, kSegVertical);
    EXPECT_EQ(s[2].flags, kSegFlipped);
    EXPECT_DOUBLE_EQ(s[2].dxdy, 2);
    EXPECT_DOUBLE_EQ(s[2].dydx, 0.5);
    EXPECT_EQ(s[3].flags, kSegLast | kSegOpenEnd | kSegHorizontal | kSegVertical);
    EXPECT_EQ(s[3].dxdy, 0);
}

TEST(FlatPathTest, ClosingAddsASegmentBackToTheStart) {
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(4, 0);
    path.lineTo(4, 4);
    FlatPath closed(path, kIdentity, 1, true);
    ASSERT_EQ(closed.length(), 3);
    EXPECT_EQ(closed.segments()[2].x0, 4);
    EXPECT_EQ(closed.segments()[2].y1, 0);
    EXPECT_EQ(closed.segments()[2].flags & (kSegFirst | kSegLast | kSegOpenStart | kSegOpenEnd), kSegLast);
    // No open flags when closing.
    EXPECT_EQ(closed.segments()[0].flags & (kSegOpenStart | kSegOpenEnd), 0);

    FlatPath open(path, kIdentity, 1, false);
    EXPECT_EQ(open.length(), 2);

    // A sub-path closed by the path itself is not open at either end.
    path.close();
    FlatPath explicitlyClosed(path, kIdentity, 1, false);
    ASSERT_EQ(explicitlyClosed.length(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(explicitlyClosed.segments()[i].flags & (kSegOpenStart | kSegOpenEnd), 0) << i;
}

TEST(FlatPathTest, MatrixMapsIntoDeviceSpace) {
    RasterPath path;
    path.moveTo(1, 2);
    path.lineTo(3, 5);
    const double m[6] = {2, 0, 0, -1, 10, 100};
    FlatPath flat(path, m, 1, false);
    ASSERT_EQ(flat.length(), 1);
    EXPECT_EQ(flat.segments()[0].x0, 12);
    EXPECT_EQ(flat.segments()[0].y0, 98);
    EXPECT_EQ(flat.segments()[0].x1, 16);
    EXPECT_EQ(flat.segments()[0].y1, 95);
    flat.scaleForAntialias();
    EXPECT_EQ(flat.segments()[0].x0, 48);
    EXPECT_EQ(flat.segments()[0].y1, 380);
}

TEST(FlatPathTest, HostileMatrixGivesClampedCoordinates) {
    const double inf = std::numeric_limits<double>::infinity();
    RasterPath path;
    path.moveTo(0, 1);
    path.lineTo(1, 0);
    path.curveTo(1e300, -1e300, 3, 3, 4, 4);
    const double m[6] = {inf, 0, 0, 1e300, 0, 0};
    FlatPath flat(path, m, 1, true);
    ASSERT_GT(flat.length(), 0);
    EXPECT_LE(flat.length(), 1024 + 2);
    for (int i = 0; i < flat.length(); ++i) {
        const FlatSegment& s = flat.segments()[i];
        for (double v : {s.x0, s.y0, s.x1, s.y1}) {
            EXPECT_FALSE(std::isnan(v));
            EXPECT_LE(std::fabs(v), kMaxDeviceCoord);
        }
    }
}

TEST(FlatPathTest, SortOrdersByUpperEndThenX) {
    RasterPath path;
    path.moveTo(5, 10);
    path.lineTo(5, 2);  // upper end (5, 2), flipped
    path.lineTo(1, 2);  // horizontal: upper end is its start (5, 2)
    path.lineTo(0, 7);  // upper end (1, 2)
    FlatPath flat(path, kIdentity, 1, true);
    flat.sortSegments();
    ASSERT_EQ(flat.length(), 4);
    const FlatSegment* s = flat.segments();
    auto upperY = [](const FlatSegment& seg) { return (seg.flags & kSegFlipped) ? seg.y1 : seg.y0; };
    auto upperX = [](const FlatSegment& seg) { return (seg.flags & kSegFlipped) ? seg.x1 : seg.x0; };
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(upperY(s[i - 1]) < upperY(s[i]) ||
                    (upperY(s[i - 1]) == upperY(s[i]) && upperX(s[i - 1]) <= upperX(s[i])));
    }
    EXPECT_EQ(upperY(s[0]), 2);
    EXPECT_EQ(upperX(s[0]), 1);
}

// A 1.4-wide vertical bar from x = 10.3 to 11.7 with its edges hinted: the
// left edge snaps to 10 and the right to 10 + round(1.4) - 0.01.
TEST(FlatPathTest, StrokeAdjustSnapsHintedEdges) {
    RasterPath path;
    path.moveTo(10.3, 0);
    path.lineTo(10.3, 5);
    path.lineTo(11.7, 5);
    path.lineTo(11.7, 0);
    path.close();
    // Edge A: point 0 to 1 (x = 10.3); edge B: point 2 to 3 (x = 11.7).
    path.addStrokeAdjustHint(0, 2, 0, 4);
    FlatPath flat(path, kIdentity, 1, true);
    ASSERT_EQ(flat.length(), 4);
    EXPECT_DOUBLE_EQ(flat.segments()[0].x0, 10);
    EXPECT_DOUBLE_EQ(flat.segments()[0].x1, 10);
    EXPECT_DOUBLE_EQ(flat.segments()[2].x0, 10.99);
    EXPECT_DOUBLE_EQ(flat.segments()[2].x1, 10.99);
}

TEST(FlatPathTest, StrokeAdjustHintOfNonParallelEdgesAdjustsNothing) {
    RasterPath path;
    path.moveTo(10.3, 0);
    path.lineTo(10.3, 5);
    path.lineTo(11.7, 5);
    path.lineTo(11.7, 0);
    path.close();
    path.addStrokeAdjustHint(0, 2, 0, 4);  // would snap
    path.addStrokeAdjustHint(0, 1, 0, 4);  // vertical against horizontal
    FlatPath flat(path, kIdentity, 1, true);
    EXPECT_DOUBLE_EQ(flat.segments()[0].x0, 10.3);
    EXPECT_DOUBLE_EQ(flat.segments()[2].x0, 11.7);

    // Indices outside the path are refused the same way.
    RasterPath bad;
    bad.moveTo(10.3, 0);
    bad.lineTo(10.3, 5);
    bad.addStrokeAdjustHint(0, 7, -3, 99);
    FlatPath flatBad(bad, kIdentity, 1, false);
    EXPECT_DOUBLE_EQ(flatBad.segments()[0].x0, 10.3);
}

TEST(FlatPathTest, CopyHasItsOwnSegments) {
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(3, 3);
    FlatPath a(path, kIdentity, 1, false);
    FlatPath b(a);
    a.scaleForAntialias();
    EXPECT_EQ(b.segments()[0].x1, 3);
    EXPECT_EQ(a.segments()[0].x1, 12);
}

}  // namespace
}  // namespace rendova
