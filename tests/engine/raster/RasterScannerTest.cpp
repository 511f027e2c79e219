#include "engine/raster/RasterScanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterTypes.h"

namespace rendova {
namespace {

const double kIdentity[6] = {1, 0, 0, 1, 0, 0};

// A sorted flat path and its scanner, kept together.
struct Scan {
    Scan(const RasterPath& path, int evenOdd, bool antialias = false) : flat(path, kIdentity, 1, 1) {
        if (antialias)
            flat.scaleForAntialias();
        flat.sortSegments();
        scanner = std::make_unique<RasterScanner>(&flat, evenOdd);
    }
    std::vector<std::pair<int, int>> spans(int y) {
        std::vector<std::pair<int, int>> out;
        int x0, x1;
        while (scanner->getNextSpan(y, x0, x1))
            out.emplace_back(x0, x1);
        return out;
    }
    FlatPath flat;
    std::unique_ptr<RasterScanner> scanner;
};

void addRect(RasterPath& path, double x0, double y0, double x1, double y1, bool clockwise) {
    path.moveTo(x0, y0);
    if (clockwise) {
        path.lineTo(x1, y0);
        path.lineTo(x1, y1);
        path.lineTo(x0, y1);
    } else {
        path.lineTo(x0, y1);
        path.lineTo(x1, y1);
        path.lineTo(x1, y0);
    }
    path.close();
}

using Spans = std::vector<std::pair<int, int>>;

TEST(RasterScannerTest, GridRoundingIsTheLibraryFloorClamped) {
    auto expectedFloor = [](double v) {
        if (std::isnan(v))
            return 0;
        return static_cast<int>(std::clamp(std::floor(v), -kMaxGridCoord, kMaxGridCoord));
    };
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  -0.5,
                                  1.0,
                                  -1.0,
                                  -1.0000001,
                                  2.9999999,
                                  -2.9999999,
                                  std::nextafter(0.0, -1.0),
                                  std::nextafter(-3.0, 0.0),
                                  std::nextafter(-3.0, -4.0),
                                  kMaxGridCoord,
                                  -kMaxGridCoord,
                                  kMaxGridCoord - 0.5,
                                  -kMaxGridCoord + 0.5,
                                  kMaxGridCoord + 1,
                                  -kMaxGridCoord - 1,
                                  1e300,
                                  -1e300,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-5000, 5000);
    for (int i = 0; i < 10000; ++i)
        values.push_back(coordinate(random));
    for (double v : values) {
        EXPECT_EQ(floorToInt(v), expectedFloor(v)) << v;
        EXPECT_EQ(ceilToInt(v), -expectedFloor(-v)) << v;
    }
}

TEST(RasterScannerTest, RectangleGivesOneSpanPerRowAndItsBox) {
    RasterPath path;
    addRect(path, 2.5, 1, 8.5, 4, true);
    Scan scan(path, 0);
    EXPECT_EQ(scan.scanner->xMin(), 2);
    EXPECT_EQ(scan.scanner->yMin(), 1);
    EXPECT_EQ(scan.scanner->xMax(), 8);
    EXPECT_EQ(scan.scanner->yMax(), 4);
    EXPECT_EQ(scan.spans(0), Spans{});
    EXPECT_EQ(scan.spans(2), (Spans{{2, 8}}));
    // Moving back up restarts from the first segment.
    EXPECT_EQ(scan.spans(1), (Spans{{2, 8}}));
    EXPECT_EQ(scan.spans(6), Spans{});
}

TEST(RasterScannerTest, HorizontalEdgesCoverColumnsButDoNotWind) {
    // A horizontal segment alone: the columns it passes through are a span
    // on its row, but it leaves the winding count at 0, so nothing right of
    // it is inside.
    RasterPath path;
    path.moveTo(2, 3.5);
    path.lineTo(6, 3.5);
    Scan scan(path, 0);
    EXPECT_EQ(scan.spans(3), (Spans{{2, 5}}));
    EXPECT_EQ(scan.scanner->test(4, 3), 1);  // on the outline
    EXPECT_EQ(scan.scanner->test(8, 3), 0);  // right of it, still outside
    EXPECT_EQ(scan.scanner->test(1, 3), 0);
}

TEST(RasterScannerTest, OppositeCoincidentEdgesCancelUnderNonZeroOnly) {
    // Two rectangles sharing the span x 0..10, wound in opposite directions,
    // plus a third, clockwise one covering x 20..30.
    RasterPath path;
    addRect(path, 0, 0, 10, 4, true);
    addRect(path, 0, 0, 10, 4, false);
    Scan nonZero(path, 0);
    Scan evenOdd(path, 1);
    // Under non-zero the winding cancels; the edges lie on column
    // boundaries and cover no column of their own.
    EXPECT_EQ(nonZero.scanner->test(5, 2), 0);
    EXPECT_EQ(nonZero.spans(2), Spans{});
    // Even-odd counts both crossings too: 2 is even, so the middle is out.
    EXPECT_EQ(evenOdd.scanner->test(5, 2), 0);

    // The same edges wound the same way: non-zero counts 2 (inside), even-odd
    // counts 2 (outside).
    RasterPath same;
    addRect(same, 0, 0, 10, 4, true);
    addRect(same, 0, 0, 10, 4, true);
    Scan sameNonZero(same, 0);
    Scan sameEvenOdd(same, 1);
    EXPECT_EQ(sameNonZero.scanner->test(5, 2), 1);
    EXPECT_EQ(sameNonZero.spans(2), (Spans{{0, 9}}));
    EXPECT_EQ(sameEvenOdd.scanner->test(5, 2), 0);
}

TEST(RasterScannerTest, HoleIsOutsideUnderEvenOddAndInsideWhenWoundAlike) {
    RasterPath path;
    addRect(path, 0, 0, 20, 10, true);
    addRect(path, 5, 2, 15, 8, true);
    Scan evenOdd(path, 1);
    Scan nonZero(path, 0);
    // Edges on column boundaries: each span ends at the column before its
    // right-hand edge.
    EXPECT_EQ(evenOdd.spans(5), (Spans{{0, 4}, {15, 19}}));
    EXPECT_EQ(nonZero.spans(5), (Spans{{0, 19}}));
    EXPECT_EQ(evenOdd.scanner->test(10, 5), 0);
    EXPECT_EQ(nonZero.scanner->test(10, 5), 1);
}

TEST(RasterScannerTest, ShapesOfNoWidthCoverAColumnOnlyOffItsBoundaries) {
    // Rectangles of no width, as "re f" draws them with a zero width: on a
    // column boundary nothing, inside a column that column.
    RasterPath onBoundary, inside;
    addRect(onBoundary, 4, 0, 4, 10, true);
    addRect(inside, 6.5, 0, 6.5, 10, true);
    Scan a(onBoundary, 0), b(inside, 0);
    EXPECT_EQ(a.spans(5), Spans{});
    EXPECT_EQ(b.spans(5), (Spans{{6, 6}}));
}

TEST(RasterScannerTest, TestSpanNeedsEveryColumnInside) {
    RasterPath path;
    addRect(path, 0, 0, 20, 10, true);
    addRect(path, 8, 2, 12, 8, false);  // a hole under non-zero
    Scan scan(path, 0);
    EXPECT_EQ(scan.scanner->testSpan(1, 7, 5), 1);
    EXPECT_EQ(scan.scanner->testSpan(13, 19, 5), 1);
    EXPECT_EQ(scan.scanner->testSpan(1, 10, 5), 0);
    // The hole covers columns 8 to 11: its left edge opens column 8, its
    // right edge closes before column 12.
    EXPECT_EQ(scan.scanner->testSpan(0, 7, 5), 1);
    EXPECT_EQ(scan.scanner->testSpan(0, 8, 5), 0);
    EXPECT_EQ(scan.scanner->testSpan(12, 19, 5), 1);
    EXPECT_EQ(scan.scanner->testSpan(15, 25, 5), 0);
    EXPECT_EQ(scan.scanner->testSpan(1, 7, 1), 1);
    EXPECT_EQ(scan.scanner->testSpan(1, 19, 1), 1);
}

TEST(RasterScannerTest, EmptyPathHasAnEmptyBox) {
    RasterPath path;
    FlatPath flat(path, kIdentity, 1, true);
    RasterScanner scanner(&flat, false);
    EXPECT_EQ(scanner.xMin(), 1);
    EXPECT_EQ(scanner.yMin(), 1);
    EXPECT_EQ(scanner.xMax(), 0);
    EXPECT_EQ(scanner.yMax(), 0);
    int x0, x1;
    EXPECT_FALSE(scanner.getNextSpan(0, x0, x1));
    EXPECT_EQ(scanner.test(0, 0), 0);
}

TEST(RasterScannerTest, BoxOnTheFineGridDividesBackByFour) {
    RasterPath path;
    addRect(path, 2.5, 1.25, 8.5, 4, true);
    Scan scan(path, 0, true);
    EXPECT_EQ(scan.scanner->xMin(), 10);
    EXPECT_EQ(scan.scanner->yMin(), 5);
    int xMin, yMin, xMax, yMax;
    scan.scanner->getBBox(xMin, yMin, xMax, yMax);
    EXPECT_EQ(xMin, 2);
    EXPECT_EQ(yMin, 1);
    EXPECT_EQ(xMax, 8);
    EXPECT_EQ(yMax, 4);
}

int bit(const RasterBitmap& buffer, int row, int x) {
    return (buffer.data()[row * buffer.rowSize() + (x >> 3)] >> (7 - (x & 7))) & 1;
}

TEST(RasterScannerTest, AntialiasedLineSetsSubpixelBits) {
    // Pixel columns 1 to 2 fully, on the upper half of pixel row 0.
    RasterPath path;
    addRect(path, 1, 0, 3, 0.5, true);
    Scan scan(path, 0, true);
    RasterBitmap buffer(4 * 6, 4, 1, rasterMono1, false, true);
    int x0 = -1, x1 = -1;
    scan.scanner->renderAaLine(buffer, x0, x1, 0);
    // Sub-rows 0 and 1, columns 4 to 11: edges on sub-pixel boundaries
    // cover nothing beyond them.
    for (int row = 0; row < 4; ++row) {
        for (int x = 0; x < 24; ++x) {
            const int expected = row <= 1 && x >= 4 && x <= 11;
            EXPECT_EQ(bit(buffer, row, x), expected) << row << "," << x;
        }
    }
    EXPECT_EQ(x0, 1);
    EXPECT_EQ(x1, 2);
}

TEST(RasterScannerTest, AntialiasedSpanLeftOfTheBufferIsClampedToColumnZero) {
    RasterPath path;
    addRect(path, -10, 0, 1.5, 1, true);
    Scan scan(path, 0, true);
    RasterBitmap buffer(4 * 4, 4, 1, rasterMono1, false, true);
    int x0 = -1, x1 = -1;
    scan.scanner->renderAaLine(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(x1, 1);
    EXPECT_EQ(bit(buffer, 0, 0), 1);
    EXPECT_EQ(bit(buffer, 0, 5), 1);
    EXPECT_EQ(bit(buffer, 0, 6), 0);

    // Right of the buffer: clamped to its last column, nothing past it.
    RasterPath right;
    addRect(right, 2, 0, 100, 1, true);
    Scan rightScan(right, 0, true);
    rightScan.scanner->renderAaLine(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 2);
    EXPECT_EQ(x1, 3);
    EXPECT_EQ(bit(buffer, 3, 15), 1);
}

TEST(RasterScannerTest, AntialiasedLineWithoutSpans) {
    RasterPath path;
    addRect(path, 1, 5, 3, 6, true);
    Scan scan(path, 0, true);
    RasterBitmap buffer(4 * 6, 4, 1, rasterMono1, false, true);
    std::memset(buffer.data(), 0xff, 12);
    int x0 = -1, x1 = -1;
    scan.scanner->renderAaLine(buffer, x0, x1, 0);
    EXPECT_EQ(x0, 6);  // the target width
    EXPECT_EQ(x1, 0);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(buffer.data()[i], 0);
}

TEST(RasterScannerTest, ClipAaLineKeepsOnlyBitsInsideThePath) {
    RasterPath path;
    addRect(path, 1, 0, 2.5, 1, true);
    Scan scan(path, 0, true);
    RasterBitmap buffer(4 * 4, 4, 1, rasterMono1, false, true);
    std::memset(buffer.data(), 0xff, 8);
    scan.scanner->clipAaLine(buffer, 0, 3, 0);
    for (int row = 0; row < 4; ++row)
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(bit(buffer, row, x), x >= 4 && x <= 9) << row << "," << x;

    // Only pixels x0..x1 are touched.
    std::memset(buffer.data(), 0xff, 8);
    scan.scanner->clipAaLine(buffer, 3, 3, 0);
    EXPECT_EQ(bit(buffer, 0, 0), 1);
    EXPECT_EQ(bit(buffer, 0, 11), 1);
    EXPECT_EQ(bit(buffer, 0, 12), 0);
}

TEST(RasterScannerTest, SweepingAndKeptRowsGiveWhatAFreshScanGives) {
    // The scanner carries its active segments from row to row while going
    // down; a fresh scanner per row walks every segment. Rows are visited
    // downwards with jumps, and then upwards, which restarts the sweep. A
    // scanner that keeps rows 0..30 serves those from what it kept when they
    // come again, and must sweep correctly for the others in between.
    std::mt19937 random(99);
    std::uniform_real_distribution<double> coord(-3, 40);
    for (int trial = 0; trial < 40; ++trial) {
        RasterPath path;
        for (int sub = 0; sub < 3; ++sub) {
            path.moveTo(coord(random), coord(random));
            for (int i = 0; i < 8; ++i)
                path.lineTo(coord(random), coord(random));
            path.close();
        }
        const int evenOdd = trial & 1;
        Scan sweep(path, evenOdd);
        Scan kept(path, evenOdd);
        kept.scanner->cacheRows(0, 30);
        std::vector<int> rows;
        for (int y = -4; y < 44; y += 1 + trial % 3)
            rows.push_back(y);
        for (int y = 43; y >= -4; y -= 5)
            rows.push_back(y);
        for (int pass = 0; pass < 2; ++pass) {
            for (int y : rows) {
                Scan fresh(path, evenOdd);
                const auto expected = fresh.spans(y);
                EXPECT_EQ(sweep.spans(y), expected) << "trial " << trial << " row " << y;
                EXPECT_EQ(kept.spans(y), expected) << "trial " << trial << " row " << y << " pass " << pass;
                EXPECT_EQ(sweep.scanner->test(y % 37, y), fresh.scanner->test(y % 37, y));
                EXPECT_EQ(kept.scanner->testSpan(y % 7, y % 7 + 5, y),
                          fresh.scanner->testSpan(y % 7, y % 7 + 5, y));
            }
        }
    }
}

}  // namespace
}  // namespace rendova
