// Paths and the graphics state: growth of the point arrays, closing, the
// page matrix for every rotation, the matrix clamp, clip boxes, save and
// restore, text position helpers and blend-mode names.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/content/GraphicsState.h"
#include "engine/content/Path.h"
#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

TEST(PathTest, CloseRightAfterMoveGivesAOnePointClosedSubPath) {
    Path path;
    path.moveTo(3, 4);
    path.close();
    ASSERT_EQ(path.getSubPathCount(), 1);
    EXPECT_EQ(path.getSubPath(0)->getCount(), 1);
    EXPECT_TRUE(path.getSubPath(0)->isClosed());
    EXPECT_FALSE(path.isJustMoved());
}

TEST(PathTest, ClosingAtTheFirstPointAddsNoPoint) {
    SubPath sub(0, 0);
    sub.lineTo(5, 0);
    sub.lineTo(0, 0);
    sub.close();
    EXPECT_EQ(sub.getCount(), 3);
    SubPath open(0, 0);
    open.lineTo(5, 0);
    open.close();
    EXPECT_EQ(open.getCount(), 3);
    EXPECT_EQ(open.getX(2), 0);
}

TEST(PathTest, PointArraysGrowBySixteen) {
    SubPath sub(0, 0);
    EXPECT_EQ(sub.getCapacity(), 16);
    for (int i = 1; i < 14; ++i)
        sub.lineTo(i, i);
    ASSERT_EQ(sub.getCount(), 14);
    EXPECT_EQ(sub.getCapacity(), 16);
    sub.curveTo(1, 2, 3, 4, 5, 6);
    EXPECT_EQ(sub.getCapacity(), 32);
    EXPECT_EQ(sub.getCount(), 17);
    EXPECT_TRUE(sub.isCurve(14));
    EXPECT_TRUE(sub.isCurve(15));
    EXPECT_FALSE(sub.isCurve(16));

    Path path;
    for (int i = 0; i < 17; ++i) {
        path.moveTo(i, i);
        path.lineTo(i + 1, i);
    }
    EXPECT_EQ(path.getSubPathCount(), 17);
    EXPECT_EQ(path.getCapacity(), 32);
}

TEST(PathTest, ASecondMoveReplacesThePendingPoint) {
    Path path;
    path.moveTo(1, 1);
    path.moveTo(2, 2);
    path.lineTo(3, 3);
    ASSERT_EQ(path.getSubPathCount(), 1);
    EXPECT_EQ(path.getSubPath(0)->getX(0), 2);
}

TEST(PathTest, SegmentsWithoutACurrentPointDoNothing) {
    Path path;
    path.lineTo(1, 1);
    path.curveTo(1, 1, 2, 2, 3, 3);
    path.close();
    EXPECT_TRUE(path.isEmpty());
}

TEST(PathTest, CopyIsDeep) {
    Path path;
    path.moveTo(0, 0);
    path.lineTo(1, 0);
    path.moveTo(9, 9);
    std::unique_ptr<Path> copy = path.copy();
    path.lineTo(2, 2);
    ASSERT_EQ(copy->getSubPathCount(), 1);
    EXPECT_EQ(copy->getSubPath(0)->getCount(), 2);
    EXPECT_TRUE(copy->isJustMoved());
    EXPECT_EQ(copy->getFirstX(), 9);
}

void expectMaps(const GraphicsState& state, double x, double y, double dx, double dy) {
    double tx, ty;
    state.transform(x, y, &tx, &ty);
    EXPECT_NEAR(tx, dx, 1e-9) << x << "," << y;
    EXPECT_NEAR(ty, dy, 1e-9) << x << "," << y;
}

TEST(GraphicsStateTest, PageMatrixPutsTheBoxCornersAtTheDeviceCorners) {
    const PageBox box = {10, 20, 110, 220};  // 100 x 200 points
    // 144 dpi: 2 device units per point.
    for (bool down : {true, false}) {
        GraphicsState r0(144, 144, box, 0, down);
        EXPECT_EQ(r0.getPageWidth(), 200);
        EXPECT_EQ(r0.getPageHeight(), 400);
        expectMaps(r0, 10, down ? 220 : 20, 0, 0);

        GraphicsState r90(144, 144, box, 90, down);
        EXPECT_EQ(r90.getPageWidth(), 400);
        EXPECT_EQ(r90.getPageHeight(), 200);
        // Turned clockwise: the page's lower left corner goes to the
        // device's top left (y down) or its lower right corner does.
        expectMaps(r90, down ? 10 : 110, 20, 0, 0);
        expectMaps(r90, down ? 110 : 10, 220, 400, 200);

        GraphicsState r180(144, 144, box, 180, down);
        expectMaps(r180, 110, down ? 20 : 220, 0, 0);

        GraphicsState r270(144, 144, box, 270, down);
        expectMaps(r270, down ? 110 : 10, 220, 0, 0);
        expectMaps(r270, down ? 10 : 110, 20, 400, 200);

        // Any other rotation counts as 0.
        GraphicsState r45(144, 144, box, 45, down);
        expectMaps(r45, 10, down ? 220 : 20, 0, 0);
    }
    // The edge case of the format's rotation: at 90 degrees with y down the
    // box's (x1, y1) is the device origin.
    GraphicsState down90(72, 72, box, 90, true);
    expectMaps(down90, 10, 20, 0, 0);
}

TEST(GraphicsStateTest, MatrixEntriesAreClampedAndNaNBecomesTheLowerLimit) {
    GraphicsState state(72, 72, kLetter, 0, true);
    state.concatMatrix(1e12, 0, 0, 1e12, 0, 0);
    EXPECT_EQ(state.getMatrix()[0], 1e10);
    EXPECT_EQ(state.getMatrix()[3], -1e10);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    state.setMatrix(nan, inf, -inf, 0, 1, 2);
    EXPECT_EQ(state.getMatrix()[0], -1e10);
    EXPECT_EQ(state.getMatrix()[1], 1e10);
    EXPECT_EQ(state.getMatrix()[2], -1e10);
    EXPECT_EQ(state.getMatrix()[5], 2);
}

TEST(GraphicsStateTest, ConcatAppliesTheNewMatrixFirst) {
    GraphicsState state(72, 72, kLetter, 0, true);
    state.concatMatrix(2, 0, 0, 3, 10, 20);
    expectMaps(state, 1, 1, 12, 792 - 23);
}

TEST(GraphicsStateTest, ClipIntersectsWithTheDeviceBoxOfAllPoints) {
    GraphicsState state(72, 72, kLetter, 0, true);
    Path* path = state.getPath();
    path->moveTo(100, 100);
    path->curveTo(50, 700, 200, 150, 300, 200);  // control points count
    state.clip();
    double x0, y0, x1, y1;
    state.getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 50);
    EXPECT_EQ(y0, 92);
    EXPECT_EQ(x1, 300);
    EXPECT_EQ(y1, 692);
    state.clearPath();
    state.clip();  // an empty path is the box 0 0 0 0
    state.getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 50);
    EXPECT_EQ(x1, 0);
}

TEST(GraphicsStateTest, ClipToStrokeWidensByHalfTheLineWidthInDeviceUnits) {
    // Rotated by 90 at 72 x 144 dpi: user x runs along device y.
    GraphicsState state(72, 144, kLetter, 90, true);
    state.setLineWidth(10);
    Path* path = state.getPath();
    path->moveTo(100, 100);
    path->lineTo(200, 100);
    state.clipToStroke();
    double x0, y0, x1, y1;
    state.getClipBox(&x0, &y0, &x1, &y1);
    // wx = max(|m0|, |m2|) x 5 = 5; wy = max(|m1|, |m3|) x 5 = 10.
    EXPECT_EQ(x0, 95);
    EXPECT_EQ(x1, 105);
    EXPECT_EQ(y0, 190);
    EXPECT_EQ(y1, 410);
}

TEST(GraphicsStateTest, UserClipBoxMapsTheClipBack) {
    GraphicsState state(144, 144, kLetter, 0, true);
    state.concatMatrix(1, 0, 0, 1, 100, 100);
    double x0, y0, x1, y1;
    state.getUserClipBox(&x0, &y0, &x1, &y1);
    EXPECT_NEAR(x0, -100, 1e-9);
    EXPECT_NEAR(y0, -100, 1e-9);
    EXPECT_NEAR(x1, 512, 1e-9);
    EXPECT_NEAR(y1, 692, 1e-9);
}

TEST(GraphicsStateTest, ShiftMovesMatrixAndClip) {
    GraphicsState state(72, 72, kLetter, 0, true);
    state.shiftMatrixAndClip(-5, 7);
    expectMaps(state, 0, 0, -5, 799);
    double x0, y0, x1, y1;
    state.getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, -5);
    EXPECT_EQ(y1, 799);
}

TEST(GraphicsStateTest, RestoreHandsPathAndPointsDownAndTheRestBack) {
    auto top = std::make_unique<GraphicsState>(72, 72, kLetter, 0, true);
    GraphicsState* state = top.get();
    state->setLineWidth(3);
    state->setCurrentPoint(1, 1);
    GraphicsState::save(top);
    ASSERT_EQ(top->getSaved(), state);
    EXPECT_EQ(top->getLineWidth(), 3);
    top->setLineWidth(9);
    top->setFillColorSpace(std::make_unique<DeviceRgbColorSpace>());
    top->getPath()->moveTo(5, 5);
    top->getPath()->lineTo(6, 6);
    top->setCurrentPoint(6, 6);
    top->setLineStart(2, 2);
    Path* path = top->getPath();

    GraphicsState::restore(top);
    ASSERT_EQ(top.get(), state);
    EXPECT_EQ(top->getLineWidth(), 3);
    EXPECT_EQ(top->getFillColorSpace()->getKind(), ColorSpace::kDeviceGray);
    EXPECT_EQ(top->getPath(), path);
    EXPECT_EQ(top->getCurrentX(), 6);
    EXPECT_EQ(top->getLineStartX(), 2);
    // At the bottom, restore changes nothing.
    GraphicsState::restore(top);
    EXPECT_EQ(top.get(), state);
    EXPECT_EQ(top->getPath(), path);
}

TEST(GraphicsStateTest, SavedCopiesOwnTheirObjects) {
    auto top = std::make_unique<GraphicsState>(72, 72, kLetter, 0, true);
    GraphicsState* state = top.get();
    auto dash = std::make_unique<double[]>(2);
    dash[0] = 3;
    dash[1] = 4;
    state->setLineDash(std::move(dash), 2, 1);
    std::unique_ptr<PdfFunction> transfer[4];
    PdfValue identity;
    identity.initName(copyString("Identity"));
    transfer[2] = PdfFunction::parse(identity);
    state->setTransfer(transfer);
    GraphicsState::save(top);
    EXPECT_NE(top->getLineDash(), state->getLineDash());
    EXPECT_EQ(top->getLineDash()[1], 4);
    EXPECT_NE(top->getTransfer(2), nullptr);
    EXPECT_NE(top->getTransfer(2), state->getTransfer(2));
    EXPECT_NE(top->getFillColorSpace(), state->getFillColorSpace());
    // Dropping the top frees the levels beneath (no leak under the
    // sanitizers, no double delete of the shared path).
}

TEST(GraphicsStateTest, TextPositionHelpers) {
    GraphicsState state(72, 72, kLetter, 0, true);
    state.setTextMatrix(2, 0, 0, 3, 50, 60);
    state.setCurrentPoint(10, 10);
    state.textMoveTo(1, 1);
    EXPECT_EQ(state.getCurrentX(), 12);
    EXPECT_EQ(state.getCurrentY(), 13);
    state.textShift(1, 1);
    EXPECT_EQ(state.getCurrentX(), 13);
    EXPECT_EQ(state.getCurrentY(), 14);
}

TEST(GraphicsStateTest, BlendModeNamesAndArrays) {
    ValueFactory values;
    int mode = -1;
    EXPECT_TRUE(GraphicsState::parseBlendMode(values.parse("/Compatible"), &mode));
    EXPECT_EQ(mode, kBlendNormal);
    EXPECT_TRUE(GraphicsState::parseBlendMode(values.parse("/Luminosity"), &mode));
    EXPECT_EQ(mode, kBlendLuminosity);
    EXPECT_TRUE(GraphicsState::parseBlendMode(values.parse("[/Unknown /Multiply /Screen]"), &mode));
    EXPECT_EQ(mode, kBlendMultiply);
    mode = 7;
    EXPECT_TRUE(GraphicsState::parseBlendMode(values.parse("[/Foo /Bar]"), &mode));
    EXPECT_EQ(mode, kBlendNormal);
    mode = 7;
    EXPECT_TRUE(GraphicsState::parseBlendMode(values.parse("[]"), &mode));
    EXPECT_EQ(mode, kBlendNormal);

    mode = 7;
    EXPECT_FALSE(GraphicsState::parseBlendMode(values.parse("/Foo"), &mode));
    EXPECT_FALSE(GraphicsState::parseBlendMode(values.parse("3"), &mode));
    EXPECT_FALSE(GraphicsState::parseBlendMode(values.parse("[/Foo 3 /Multiply]"), &mode));
    EXPECT_FALSE(GraphicsState::parseBlendMode(values.parse("/multiply"), &mode));
    EXPECT_EQ(mode, 7);
}

}  // namespace
}  // namespace rendova::test
