#include "engine/raster/Rasteriser.h"

#include <gtest/gtest.h>

#include <cmath>

namespace rendova {
namespace {

TEST(RasteriserStateTest, FreshStateHasTheDefaults) {
    RasterBitmap bitmap(20, 10, 1, rasterBGR8, false, false);
    Rasteriser rasteriser(&bitmap, true, nullptr);
    const RasterState* state = rasteriser.getState();
    const double identity[6] = {1, 0, 0, 1, 0, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(state->matrix()[i], identity[i]);
    uint8_t colour[3] = {9, 9, 9};
    state->fillPattern()->getColor(3, 4, colour);
    EXPECT_EQ(colour[0], 0);
    EXPECT_EQ(colour[2], 0);
    EXPECT_EQ(state->fillPattern()->isStatic(), 1);
    EXPECT_EQ(state->blendFunction(), nullptr);
    EXPECT_EQ(state->fillAlpha(), 1);
    EXPECT_EQ(state->lineWidth(), 0);
    EXPECT_EQ(state->miterLimit(), 10);
    EXPECT_EQ(state->flatness(), 1);
    EXPECT_EQ(state->lineDash(), nullptr);
    EXPECT_EQ(state->clip().xMax(), 20 - 0.001);
    EXPECT_EQ(state->clip().yMaxI(), 9);
    EXPECT_EQ(state->clip().antialias(), 1);
    EXPECT_EQ(rasteriser.getScreen()->size(), 2);
    // The modified box starts empty.
    EXPECT_EQ(rasteriser.modXMin(), 20);
    EXPECT_EQ(rasteriser.modYMin(), 10);
    EXPECT_EQ(rasteriser.modXMax(), -1);
    EXPECT_EQ(rasteriser.modYMax(), -1);
}

TEST(RasteriserStateTest, FlatnessNeverDropsBelowOne) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser rasteriser(&bitmap, false, nullptr);
    rasteriser.setFlatness(0.5);
    EXPECT_EQ(rasteriser.getState()->flatness(), 1);
    rasteriser.setFlatness(2);
    EXPECT_EQ(rasteriser.getState()->flatness(), 2);
    rasteriser.setFlatness(std::nan(""));
    EXPECT_EQ(rasteriser.getState()->flatness(), 1);
}

TEST(RasteriserStateTest, RestoreWithoutSaveReportsNothingSaved) {
    RasterBitmap bitmap(4, 4, 1, rasterMono8, false, true);
    Rasteriser rasteriser(&bitmap, false, nullptr);
    EXPECT_EQ(rasteriser.restoreState(), resultNothingSaved);
    EXPECT_EQ(rasteriser.saveState(), resultOk);
    EXPECT_EQ(rasteriser.restoreState(), resultOk);
    EXPECT_EQ(rasteriser.restoreState(), resultNothingSaved);
}

TEST(RasteriserStateTest, SaveRestoreBringsBackEveryValue) {
    RasterBitmap bitmap(8, 8, 1, rasterBGR8, false, false);
    Rasteriser rasteriser(&bitmap, false, nullptr);
    const double dash[2] = {3, 2};
    rasteriser.setLineDash(dash, 2, 4);
    rasteriser.setLineWidth(2.5);
    const uint8_t red[3] = {255, 0, 0};
    rasteriser.setFillPattern(new RasterSolidColor(red));
    rasteriser.setBlendFunction(blendModeTable[1]);
    rasteriser.saveState();

    // The clone holds copies of its own.
    const RasterState* saved = rasteriser.getState()->next();
    ASSERT_NE(saved, nullptr);
    EXPECT_NE(rasteriser.getState()->lineDash(), saved->lineDash());
    EXPECT_EQ(rasteriser.getState()->lineDash()[1], 2);
    EXPECT_EQ(rasteriser.getState()->lineDashPhase(), 4);
    EXPECT_NE(rasteriser.getState()->fillPattern(), saved->fillPattern());
    EXPECT_EQ(rasteriser.getState()->blendFunction(), blendModeTable[1]);

    const double moved[6] = {2, 0, 0, 2, 5, 5};
    rasteriser.setMatrix(moved);
    rasteriser.setLineDash(nullptr, 0, 0);
    rasteriser.setLineWidth(7);
    const uint8_t blue[3] = {0, 0, 255};
    rasteriser.setFillPattern(new RasterSolidColor(blue));
    RasterPath box;
    box.moveTo(1, 1);
    box.lineTo(3, 1);
    box.lineTo(3, 3);
    box.lineTo(1, 3);
    box.close();
    rasteriser.clipToPath(box, false);
    EXPECT_EQ(rasteriser.getState()->clip().xMin(), 7);
    EXPECT_EQ(rasteriser.getState()->lineDash(), nullptr);

    EXPECT_EQ(rasteriser.restoreState(), resultOk);
    const RasterState* state = rasteriser.getState();
    EXPECT_EQ(state->matrix()[0], 1);
    EXPECT_EQ(state->lineWidth(), 2.5);
    EXPECT_EQ(state->lineDashLength(), 2);
    EXPECT_EQ(state->clip().xMin(), 0);
    uint8_t colour[3];
    state->fillPattern()->getColor(0, 0, colour);
    EXPECT_EQ(colour[0], 255);
    EXPECT_EQ(colour[2], 0);
}

TEST(RasteriserStateTest, CloneSharesTheSoftMaskAndNeverDeletesIt) {
    RasterBitmap bitmap(8, 8, 1, rasterBGR8, false, false);
    Rasteriser rasteriser(&bitmap, false, nullptr);
    auto* mask = new RasterBitmap(8, 8, 1, rasterMono8, false, true);
    rasteriser.setSoftMask(mask);
    EXPECT_EQ(rasteriser.getState()->ownsSoftMask(), 1);
    rasteriser.saveState();
    EXPECT_EQ(rasteriser.getState()->softMask(), mask);
    EXPECT_EQ(rasteriser.getState()->ownsSoftMask(), 0);

    // A mask set on the clone goes with the clone; the restored state keeps
    // its own (the sanitizers catch a double or missing free).
    rasteriser.setSoftMask(new RasterBitmap(8, 8, 1, rasterMono8, false, true));
    EXPECT_EQ(rasteriser.restoreState(), resultOk);
    EXPECT_EQ(rasteriser.getState()->softMask(), mask);
    mask->data()[0] = 1;  // still alive
}

TEST(RasteriserStateTest, DeepStackIsReleasedOnDestruction) {
    RasterBitmap bitmap(8, 8, 1, rasterBGR8, false, false);
    auto rasteriser = std::make_unique<Rasteriser>(&bitmap, true, nullptr);
    for (int i = 0; i < 5000; ++i)
        rasteriser->saveState();
    rasteriser.reset();  // the sanitizers check that every state is freed
}

TEST(RasteriserStateTest, SharedScreenIsCopied) {
    HalftoneParameters p;
    p.size = 8;
    RasterScreen screen(&p);
    RasterBitmap bitmap(8, 8, 1, rasterMono1, false, true);
    Rasteriser rasteriser(&bitmap, false, screen);
    EXPECT_NE(rasteriser.getScreen(), &screen);
    EXPECT_EQ(rasteriser.getScreen()->size(), 8);
}

TEST(RasteriserStateTest, NonIsolatedGroupAndModifiedBox) {
    RasterBitmap bitmap(8, 8, 1, rasterBGR8, true, false);
    RasterBitmap backdrop(16, 16, 1, rasterBGR8, true, false);
    Rasteriser rasteriser(&bitmap, true, nullptr);
    rasteriser.setInNonIsolatedGroup(&backdrop, 2, 3);
    EXPECT_EQ(rasteriser.getState()->inNonIsolatedGroup(), 1);
    rasteriser.extendModifiedX(5);
    rasteriser.extendModifiedX(2);
    rasteriser.extendModifiedY(7);
    EXPECT_EQ(rasteriser.modXMin(), 2);
    EXPECT_EQ(rasteriser.modXMax(), 5);
    EXPECT_EQ(rasteriser.modYMin(), 7);
    EXPECT_EQ(rasteriser.modYMax(), 7);
    rasteriser.resetModifiedBox();
    EXPECT_EQ(rasteriser.modXMax(), -1);
}

}  // namespace
}  // namespace rendova
