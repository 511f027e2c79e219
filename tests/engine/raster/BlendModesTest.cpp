#include "engine/raster/BlendModes.h"

#include <gtest/gtest.h>

#include "engine/raster/RasterTypes.h"

namespace rendova {
namespace {

enum Mode {
    kNormal,
    kMultiply,
    kScreen,
    kOverlay,
    kDarken,
    kLighten,
    kColorDodge,
    kColorBurn,
    kHardLight,
    kSoftLight,
    kDifference,
    kExclusion,
    kHue,
    kSaturation,
    kColor,
    kLuminosity
};

int blendGrey(int mode, int s, int b) {
    const uint8_t src[3] = {static_cast<uint8_t>(s), 0, 0};
    const uint8_t dest[3] = {static_cast<uint8_t>(b), 0, 0};
    uint8_t out[3] = {0, 0, 0};
    blendModeTable[mode](src, dest, out, rasterMono8);
    return out[0];
}

TEST(BlendModesTest, NormalHasNoRoutine) {
    EXPECT_EQ(blendModeTable[kNormal], nullptr);
}

TEST(BlendModesTest, SeparableModeValues) {
    EXPECT_EQ(blendGrey(kMultiply, 255, 128), 128);
    EXPECT_EQ(blendGrey(kMultiply, 100, 100), 39);
    EXPECT_EQ(blendGrey(kScreen, 0, 0), 0);
    EXPECT_EQ(blendGrey(kScreen, 100, 100), 161);
    EXPECT_EQ(blendGrey(kOverlay, 100, 100), 78);   // b < 128: 2 s b / 255
    EXPECT_EQ(blendGrey(kOverlay, 100, 200), 189);  // 255 + 2 (s - 255)(255 - b) / 255, truncated toward zero
    EXPECT_EQ(blendGrey(kDarken, 30, 40), 30);
    EXPECT_EQ(blendGrey(kLighten, 30, 40), 40);
    EXPECT_EQ(blendGrey(kColorDodge, 255, 0), 255);
    EXPECT_EQ(blendGrey(kColorDodge, 255, 77), 255);
    EXPECT_EQ(blendGrey(kColorDodge, 155, 50), 127);  // 50 x 255 / 100
    EXPECT_EQ(blendGrey(kColorDodge, 200, 100), 255);
    EXPECT_EQ(blendGrey(kColorBurn, 0, 200), 0);
    EXPECT_EQ(blendGrey(kColorBurn, 100, 200), 115);  // q = 55 x 255 / 100 = 140
    EXPECT_EQ(blendGrey(kColorBurn, 100, 0), 0);      // q = 650 >= 256
    EXPECT_EQ(blendGrey(kHardLight, 100, 100), 78);
    EXPECT_EQ(blendGrey(kHardLight, 200, 100), 189);  // 255 + 2 (100 - 255)(55) / 255 = 255 - 66
    EXPECT_EQ(blendGrey(kDifference, 30, 200), 170);
    EXPECT_EQ(blendGrey(kExclusion, 100, 100), 122);  // 200 - 20000 / 255
}

TEST(BlendModesTest, SoftLightBranches) {
    // s < 128: b - (255 - 2s)(255 - b) b / 65025.
    EXPECT_EQ(blendGrey(kSoftLight, 100, 100), 100 - 55 * 155 * 100 / 65025);
    // s >= 128, b = 63: the polynomial D = (((16 x 63 - 3060) x 63 / 255) + 1020) x 63 / 255.
    const int d63 = (((16 * 63 - 3060) * 63 / 255) + 1020) * 63 / 255;
    EXPECT_EQ(blendGrey(kSoftLight, 200, 63), 63 + (400 - 255) * (d63 - 63) / 255);
    // b = 64: the square root, sqrt(64 x 255) = 127.7 truncated to 127.
    EXPECT_EQ(blendGrey(kSoftLight, 200, 64), 64 + 145 * (127 - 64) / 255);
}

TEST(BlendModesTest, SeparableModesWorkPerComponentOnColour) {
    const uint8_t src[3] = {255, 0, 100};
    const uint8_t dest[3] = {128, 77, 100};
    uint8_t out[3] = {1, 1, 1};
    blendModeTable[kMultiply](src, dest, out, rasterBGR8);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 39);
}

TEST(BlendModesTest, NonSeparableModesReturnTheBackdropOnGrey) {
    for (int mode : {kHue, kSaturation, kColor, kLuminosity}) {
        EXPECT_EQ(blendGrey(mode, 10, 200), 200) << mode;
        EXPECT_EQ(blendGrey(mode, 250, 3), 3) << mode;
    }
}

TEST(BlendModesTest, RgbToHsvSectorsAndGrey) {
    int h, s, v;
    rgbToHsv(10, 10, 10, &h, &s, &v);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(v, 10);
    rgbToHsv(255, 0, 0, &h, &s, &v);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 255);
    EXPECT_EQ(v, 255);
    rgbToHsv(0, 255, 0, &h, &s, &v);
    EXPECT_EQ(h, 120);
    rgbToHsv(0, 0, 255, &h, &s, &v);
    EXPECT_EQ(h, 240);
    rgbToHsv(255, 255, 0, &h, &s, &v);  // r = g: sector 0 at its end
    EXPECT_EQ(h, 60);
    rgbToHsv(255, 0, 128, &h, &s, &v);  // sector 5
    EXPECT_EQ(h, 300 + 3 * 127 * 20 / 255);
    rgbToHsv(200, 100, 50, &h, &s, &v);
    EXPECT_EQ(h, 3 * 50 * 20 / 150);
    EXPECT_EQ(s, 150 * 255 / 200);
    EXPECT_EQ(v, 200);
}

TEST(BlendModesTest, HsvRoundTripsPrimaries) {
    const int colours[][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                              {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
    for (const auto& c : colours) {
        int h, s, v, r, g, b;
        rgbToHsv(c[0], c[1], c[2], &h, &s, &v);
        hsvToRgb(h, s, v, &r, &g, &b);
        EXPECT_EQ(r, c[0]);
        EXPECT_EQ(g, c[1]);
        EXPECT_EQ(b, c[2]);
    }
    int r, g, b;
    hsvToRgb(123, 0, 77, &r, &g, &b);
    EXPECT_EQ(r, 77);
    EXPECT_EQ(g, 77);
    EXPECT_EQ(b, 77);
}

TEST(BlendModesTest, LuminosityTakesTheSourceValue) {
    const uint8_t src[3] = {50, 50, 50};  // value 50, no hue
    const uint8_t dest[3] = {255, 0, 0};  // pure red
    uint8_t out[3];
    blendModeTable[kLuminosity](src, dest, out, rasterRGB8);
    EXPECT_EQ(out[0], 50);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 0);
    // Hue from a green source onto the red backdrop: full green.
    const uint8_t green[3] = {0, 255, 0};
    blendModeTable[kHue](green, dest, out, rasterRGB8);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 0);
    // Saturation of a grey source removes the colour.
    blendModeTable[kSaturation](src, dest, out, rasterRGB8);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 255);
}

}  // namespace
}  // namespace rendova
