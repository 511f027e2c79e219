#include "engine/raster/BlendModes.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(BlendModesTest, NonSeparableModesOnGreyKeepTheBackdropButLuminosityTakesTheSource) {
    // A grey has no hue or saturation to give or take.
    for (int mode : {kHue, kSaturation, kColor}) {
        EXPECT_EQ(blendGrey(mode, 10, 200), 200) << mode;
        EXPECT_EQ(blendGrey(mode, 250, 3), 3) << mode;
    }
    EXPECT_EQ(blendGrey(kLuminosity, 10, 200), 10);
}

std::vector<int> blendRgb(int mode, std::vector<int> s, std::vector<int> b) {
    const uint8_t src[3] = {uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2])};
    const uint8_t dest[3] = {uint8_t(b[0]), uint8_t(b[1]), uint8_t(b[2])};
    uint8_t out[3] = {1, 1, 1};
    blendModeTable[mode](src, dest, out, rasterRGB8);
    return {out[0], out[1], out[2]};
}

TEST(BlendModesTest, NonSeparableModesWorkOnLuminosityAndSaturation) {
    using V = std::vector<int>;
    // Luminosity 0.3 red + 0.59 green + 0.11 blue. Dark grey onto red:
    // red's hue at luminosity 50, pulled back into range (0.65 red exactly).
    EXPECT_EQ(blendRgb(kLuminosity, {50, 50, 50}, {255, 0, 0}), V({165, 0, 0}));
    // Green's hue and saturation at red's luminosity 0.3: (0, 0.51, 0).
    EXPECT_EQ(blendRgb(kHue, {0, 255, 0}, {255, 0, 0}), V({0, 130, 0}));
    EXPECT_EQ(blendRgb(kColor, {0, 255, 0}, {128, 128, 128}), V({0, 217, 0}));
    // A grey source takes all saturation away and keeps the luminosity;
    // a grey backdrop has no hue to saturate and stays as it is.
    EXPECT_EQ(blendRgb(kSaturation, {50, 50, 50}, {255, 0, 0}), V({77, 77, 77}));
    EXPECT_EQ(blendRgb(kSaturation, {255, 0, 0}, {90, 90, 90}), V({90, 90, 90}));
    // Any mode of a colour onto itself gives the colour back.
    for (int mode : {kHue, kSaturation, kColor, kLuminosity})
        EXPECT_EQ(blendRgb(mode, {200, 100, 50}, {200, 100, 50}), V({200, 100, 50})) << mode;
}

}  // namespace
}  // namespace rendova
