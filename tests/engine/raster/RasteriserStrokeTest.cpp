#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "engine/raster/Rasteriser.h"
#include "tests/engine/raster/RasteriserTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::grey;

const double kIdentity[6] = {1, 0, 0, 1, 0, 0};

// The sub-paths of a path as lists of points.
std::vector<std::vector<std::pair<double, double>>> pieces(const RasterPath& path) {
    std::vector<std::vector<std::pair<double, double>>> out;
    for (int i = 0; i < path.length(); ++i) {
        if (path.flags()[i] & kPathFirst)
            out.emplace_back();
        out.back().emplace_back(path.points()[i].x, path.points()[i].y);
    }
    return out;
}

struct Fixture {
    RasterBitmap bitmap{24, 24, 1, rasterMono8, false, true};
    Rasteriser r{&bitmap, false, nullptr};
    Fixture() { test::clearTo(r, 255); }
};

TEST(RasteriserStrokeTest, EmptyPathReturnsEmptyPathWithClipResultOutside) {
    Fixture f;
    RasterPath empty;
    EXPECT_EQ(f.r.stroke(empty), resultEmptyPath);
    EXPECT_EQ(f.r.opClipResult(), 1);
}

TEST(RasteriserStrokeTest, ZeroWidthHorizontalLinePaintsItsRowFromFloorToFloor) {
    Fixture f;
    RasterPath path;
    path.moveTo(2.7, 3.5);
    path.lineTo(5.2, 3.5);
    EXPECT_EQ(f.r.stroke(path), resultOk);
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(grey(f.bitmap, x, 3), x >= 2 && x <= 5 ? 0 : 255) << x;
    EXPECT_EQ(grey(f.bitmap, 3, 2), 255);
    EXPECT_EQ(grey(f.bitmap, 3, 4), 255);
    EXPECT_EQ(f.r.opClipResult(), 0);
    EXPECT_EQ(f.r.modXMin(), 2);
    EXPECT_EQ(f.r.modXMax(), 5);
}

TEST(RasteriserStrokeTest, ZeroWidthFlatLinePaintsOneRunPerRow) {
    Fixture f;
    RasterPath path;
    path.moveTo(1.5, 1.5);
    path.lineTo(13.5, 4.5);  // dxdy 4
    f.r.stroke(path);
    // Row 1: x0 = 1 to xx - 1, xx = floor(0.5 x 4 + 1.5) = 3; rows 2 and 3:
    // from the previous xx to the next one minus 1; row 4: 11 to 13.
    const int expect[5][2] = {{-1, -1}, {1, 2}, {3, 6}, {7, 10}, {11, 13}};
    for (int y = 1; y <= 4; ++y) {
        for (int x = 0; x < 16; ++x) {
            const bool on = x >= expect[y][0] && x <= expect[y][1];
            EXPECT_EQ(grey(f.bitmap, x, y), on ? 0 : 255) << x << "," << y;
        }
    }
}

TEST(RasteriserStrokeTest, ZeroWidthSteepLinePaintsOnePixelPerRow) {
    Fixture f;
    RasterPath path;
    path.moveTo(10.5, 12.5);  // drawn bottom-up: taken top-down
    path.lineTo(8.5, 2.5);
    f.r.stroke(path);
    int painted = 0;
    for (int y = 0; y < 24; ++y) {
        int inRow = 0;
        for (int x = 0; x < 24; ++x)
            inRow += grey(f.bitmap, x, y) == 0;
        EXPECT_EQ(inRow, y >= 2 && y <= 12 ? 1 : 0) << y;
        painted += inRow;
    }
    EXPECT_EQ(painted, 11);
    EXPECT_EQ(grey(f.bitmap, 8, 2), 0);
    EXPECT_EQ(grey(f.bitmap, 10, 12), 0);
}

TEST(RasteriserStrokeTest, ZeroWidthStrokeReportsHowTheClipCutIt) {
    Fixture f;
    f.r.getState()->clip().clipToRect(0, 0, 9.5, 23.9);
    RasterPath inside, outside, across;
    inside.moveTo(1, 1), inside.lineTo(5, 1);
    outside.moveTo(12, 1), outside.lineTo(20, 3);
    across.moveTo(1, 5), across.lineTo(20, 5);
    f.r.stroke(inside);
    EXPECT_EQ(f.r.opClipResult(), 0);
    f.r.stroke(outside);
    EXPECT_EQ(f.r.opClipResult(), 1);
    f.r.stroke(across);
    EXPECT_EQ(f.r.opClipResult(), 2);
    EXPECT_EQ(grey(f.bitmap, 9, 5), 0);
    EXPECT_EQ(grey(f.bitmap, 10, 5), 255);
    RasterPath both;
    both.moveTo(1, 8), both.lineTo(5, 8);
    both.moveTo(12, 9), both.lineTo(20, 9);
    f.r.stroke(both);
    EXPECT_EQ(f.r.opClipResult(), 2);
}

TEST(RasteriserStrokeTest, ZeroWidthLineOfHugeLengthStaysQuick) {
    Fixture f;
    RasterPath path;
    path.moveTo(-1e9, -3e9);
    path.lineTo(1e9, 3e9);
    path.moveTo(-1e12, 7.5);
    path.lineTo(1e12, 7.5);
    f.r.stroke(path);
    EXPECT_EQ(grey(f.bitmap, 0, 7), 0);
    EXPECT_EQ(grey(f.bitmap, 23, 7), 0);
}

TEST(RasteriserDashTest, PhaseStartsInsideTheGap) {
    Fixture f;
    const double dash[2] = {3, 2};
    f.r.setLineDash(dash, 2, 4);
    RasterPath line;
    line.moveTo(0, 0);
    line.lineTo(20, 0);
    const auto got = pieces(*f.r.makeDashedPath(line));
    // Phase 4 lies 1 unit into the gap: off to 1, on 1..4, off to 6, ...
    const std::vector<std::vector<std::pair<double, double>>> want = {
        {{1, 0}, {4, 0}}, {{6, 0}, {9, 0}}, {{11, 0}, {14, 0}}, {{16, 0}, {19, 0}}};
    EXPECT_EQ(got, want);
}

TEST(RasteriserDashTest, NegativeAndLargePhasesWrapByTheTotal) {
    Fixture f;
    const double dash[2] = {3, 2};
    RasterPath line;
    line.moveTo(0, 0);
    line.lineTo(20, 0);
    f.r.setLineDash(dash, 2, 4);
    const auto reference = pieces(*f.r.makeDashedPath(line));
    f.r.setLineDash(dash, 2, -1);
    EXPECT_EQ(pieces(*f.r.makeDashedPath(line)), reference);
    f.r.setLineDash(dash, 2, 5004);
    EXPECT_EQ(pieces(*f.r.makeDashedPath(line)), reference);
}

TEST(RasteriserDashTest, DashCarriesAcrossCornersAndRestartsPerSubpath) {
    Fixture f;
    const double dash[2] = {3, 10};
    f.r.setLineDash(dash, 2, 0);
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(2, 0);
    path.lineTo(2, 5);
    path.moveTo(10, 10);
    path.lineTo(20, 10);
    const auto got = pieces(*f.r.makeDashedPath(path));
    const std::vector<std::vector<std::pair<double, double>>> want = {{{0, 0}, {2, 0}, {2, 1}},
                                                                      {{10, 10}, {13, 10}}};
    EXPECT_EQ(got, want);
}

TEST(RasteriserDashTest, ZeroLengthDashGivesADotPiece) {
    Fixture f;
    const double dash[2] = {0, 4};
    f.r.setLineDash(dash, 2, 0);
    RasterPath line;
    line.moveTo(0, 0);
    line.lineTo(10, 0);
    const auto got = pieces(*f.r.makeDashedPath(line));
    // The phase walk passes over a first dash of length 0 (phase 0 is not
    // below it), so the dots lie at 4 and 8.
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], (std::vector<std::pair<double, double>>{{4, 0}, {4, 0}}));
    EXPECT_EQ(got[1], (std::vector<std::pair<double, double>>{{8, 0}, {8, 0}}));
}

TEST(RasteriserDashTest, PatternsThatCannotBeWalkedStrokeSolid) {
    const double zeros[2] = {0, 0};
    const double negative[2] = {3, -3};
    const double nan[1] = {std::numeric_limits<double>::quiet_NaN()};
    const double tiny[1] = {1e-9};
    const std::pair<const double*, int> patterns[] = {{zeros, 2}, {negative, 2}, {nan, 1}, {tiny, 1}};
    for (const auto& [values, n] : patterns) {
        Fixture f;
        test::ErrorCapture errors;
        f.r.setLineDash(values, n, 0);
        RasterPath line;
        line.moveTo(1, 5.5);
        line.lineTo(20, 5.5);
        const auto got = pieces(*f.r.makeDashedPath(line));
        EXPECT_EQ(got, pieces(line));
        EXPECT_FALSE(errors.empty());
        // And the stroke draws the whole line.
        f.r.stroke(line);
        for (int x = 1; x <= 20; ++x)
            EXPECT_EQ(grey(f.bitmap, x, 5), 0) << x;
    }
}

// The largest x of any point of the outline.
double maxX(const RasterPath& path) {
    double m = -1e300;
    for (int i = 0; i < path.length(); ++i)
        m = std::max(m, path.points()[i].x);
    return m;
}

bool hasPoint(const RasterPath& path, double x, double y) {
    for (int i = 0; i < path.length(); ++i) {
        if (std::fabs(path.points()[i].x - x) < 1e-9 && std::fabs(path.points()[i].y - y) < 1e-9)
            return true;
    }
    return false;
}

TEST(RasteriserStrokeOutlineTest, RightAngleMiterNeedsALimitOfSquareRootTwo) {
    Fixture f;
    f.r.setLineWidth(2);
    f.r.setLineJoin(0);
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(10, 0);
    path.lineTo(10, 10);
    f.r.setMiterLimit(1.4142);
    EXPECT_FALSE(hasPoint(*f.r.makeStrokePath(path, 0), 11, -1));
    f.r.setMiterLimit(1.4143);
    const auto outline = f.r.makeStrokePath(path, 0);
    EXPECT_TRUE(hasPoint(*outline, 11, -1));
    // Two line pieces of 5 points and a join piece of 5 (move, three lines,
    // closing line).
    EXPECT_EQ(pieces(*outline).size(), 3u);
}

TEST(RasteriserStrokeOutlineTest, TurnBackGivesABevelUnlessRound) {
    Fixture f;
    f.r.setLineWidth(2);
    RasterPath path;
    path.moveTo(0, 0);
    path.lineTo(10, 0);
    path.lineTo(0, 0);
    f.r.setMiterLimit(1000);
    f.r.setLineJoin(0);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(path, 0)), 10);
    f.r.setLineJoin(2);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(path, 0)), 10);
    f.r.setLineJoin(1);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(path, 0)), 11);
}

TEST(RasteriserStrokeOutlineTest, CapsExtendOpenEndsOnly) {
    Fixture f;
    f.r.setLineWidth(4);
    RasterPath open;
    open.moveTo(5, 5);
    open.lineTo(15, 5);
    f.r.setLineCap(0);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(open, 0)), 15);
    f.r.setLineCap(1);
    EXPECT_NEAR(maxX(*f.r.makeStrokePath(open, 0)), 17, 1e-12);
    f.r.setLineCap(2);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(open, 0)), 17);
    // A closed square gets joins, never caps.
    RasterPath closed;
    test::addRect(closed, 5, 5, 15, 15);
    f.r.setLineJoin(2);
    EXPECT_DOUBLE_EQ(maxX(*f.r.makeStrokePath(closed, 0)), 17);
}

// Sub-paths that stay on one point: a dot of the line's width under round
// caps, closed or not, and nothing under butt caps; a sub-path that moves
// keeps its usual outline.
TEST(RasteriserStrokeOutlineTest, SubpathWithoutLengthIsADotUnderRoundCaps) {
    struct Case {
        const char* name;
        int cap;
        bool secondPoint;  // a line to the same point
        bool closed;
        bool dot;
    };
    const Case cases[] = {
        {"closed lone point, round", 1, false, true, true},
        {"line to itself, round", 1, true, false, true},
        {"closed line to itself, round", 1, true, true, true},
        {"closed lone point, butt", 0, false, true, false},
        {"closed line to itself, butt", 0, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.r.setLineWidth(8);
        f.r.setLineCap(c.cap);
        RasterPath path;
        path.moveTo(12, 12);
        if (c.secondPoint)
            path.lineTo(12, 12);
        if (c.closed)
            path.close();
        EXPECT_EQ(f.r.stroke(path), resultOk);
        // Inside the radius of 4 and outside it.
        EXPECT_EQ(grey(f.bitmap, 12, 12), c.dot ? 0 : 255);
        EXPECT_EQ(grey(f.bitmap, 9, 12), c.dot ? 0 : 255);
        EXPECT_EQ(grey(f.bitmap, 12, 14), c.dot ? 0 : 255);
        EXPECT_EQ(grey(f.bitmap, 8, 8), 255);
        EXPECT_EQ(grey(f.bitmap, 17, 12), 255);
    }
    // A second sub-path that moves is still stroked after a dot.
    Fixture f;
    f.r.setLineWidth(2);
    f.r.setLineCap(1);
    RasterPath path;
    path.moveTo(4, 4);
    path.close();
    path.moveTo(4, 20);
    path.lineTo(20, 20);
    EXPECT_EQ(f.r.stroke(path), resultOk);
    EXPECT_EQ(grey(f.bitmap, 4, 4), 0);
    EXPECT_EQ(grey(f.bitmap, 12, 20), 0);
    EXPECT_EQ(grey(f.bitmap, 12, 12), 255);
}

TEST(RasteriserStrokeOutlineTest, WideStrokeCoversItsRectangle) {
    Fixture f;
    f.r.setLineWidth(4);
    f.r.setLineCap(2);
    RasterPath path;
    path.moveTo(6, 10);
    path.lineTo(16, 10);
    EXPECT_EQ(f.r.stroke(path), resultOk);
    // Projecting caps: x 4..18, y 8..12, edges on pixel boundaries: pixels
    // 4 to 17 and rows 8 to 11, without anti-aliasing too.
    for (int x = 0; x < 24; ++x)
        EXPECT_EQ(grey(f.bitmap, x, 10), x >= 4 && x <= 17 ? 0 : 255) << x;
    EXPECT_EQ(grey(f.bitmap, 10, 7), 255);
    EXPECT_EQ(grey(f.bitmap, 10, 8), 0);
    EXPECT_EQ(grey(f.bitmap, 10, 11), 0);
    EXPECT_EQ(grey(f.bitmap, 10, 12), 255);
}

TEST(RasteriserStrokeOutlineTest, StrokeAdjustSnapsAThinVerticalLineToWholePixels) {
    RasterBitmap bitmap(12, 12, 1, rasterMono8, false, true);
    Rasteriser r(&bitmap, true, nullptr);
    test::clearTo(r, 255);
    r.setLineWidth(1);
    r.setStrokeAdjust(1);
    RasterPath path;
    path.moveTo(5.3, 2);  // edges at 4.8 and 5.8: one pixel, snapped to 5
    path.lineTo(5.3, 10);
    const auto outline = r.makeStrokePath(path, 0);
    EXPECT_GT(outline->hintsLength(), 0);
    r.stroke(path);
    EXPECT_EQ(grey(bitmap, 5, 6), 0);
    EXPECT_EQ(grey(bitmap, 4, 6), 255);
    EXPECT_EQ(grey(bitmap, 6, 6), 255);
}

TEST(RasteriserStrokeOutlineTest, FlattenPathKeepsClosedSubpathsClosed) {
    Fixture f;
    RasterPath path;
    path.moveTo(0, 0);
    path.curveTo(0, 10, 10, 10, 10, 0);
    path.close();
    const auto flat = f.r.flattenPath(path, kIdentity, 1);
    EXPECT_GT(flat->length(), 4);
    for (int i = 0; i < flat->length(); ++i)
        EXPECT_FALSE(flat->flags()[i] & kPathCurve);
    EXPECT_TRUE(flat->flags()[0] & kPathClosed);
    EXPECT_TRUE(flat->flags()[flat->length() - 1] & kPathClosed);
    EXPECT_EQ(flat->points()[flat->length() - 1].x, 0);
}

}  // namespace
}  // namespace rendova
