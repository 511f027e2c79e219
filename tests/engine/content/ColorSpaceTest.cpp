#include "engine/content/ColorSpace.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/content/PdfFunction.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::ObjectDocument;
using test::streamValue;
using test::value;

std::unique_ptr<ColorSpace> parseText(const std::string& text) {
    return ColorSpace::parse(value(text));
}

ColorValue color(std::initializer_list<ColorComponent> components) {
    ColorValue c{};
    int i = 0;
    for (ColorComponent v : components)
        c.c[i++] = v;
    return c;
}

RgbColor rgbOf(const ColorSpace& space, const ColorValue& c) {
    RgbColor rgb{-1, -1, -1};
    space.getRgb(c, rgb);
    return rgb;
}

ColorComponent grayOf(const ColorSpace& space, const ColorValue& c) {
    ColorComponent gray = -1;
    space.getGray(c, gray);
    return gray;
}

CmykColor cmykOf(const ColorSpace& space, const ColorValue& c) {
    CmykColor cmyk{-1, -1, -1, -1};
    space.getCmyk(c, cmyk);
    return cmyk;
}

#define EXPECT_RGB(rgb, red, green, blue) \
    do {                                  \
        EXPECT_EQ((rgb).r, red);          \
        EXPECT_EQ((rgb).g, green);        \
        EXPECT_EQ((rgb).b, blue);         \
    } while (0)

#define EXPECT_CMYK(cmyk, cyan, magenta, yellow, black) \
    do {                                                \
        EXPECT_EQ((cmyk).c, cyan);                      \
        EXPECT_EQ((cmyk).m, magenta);                   \
        EXPECT_EQ((cmyk).y, yellow);                    \
        EXPECT_EQ((cmyk).k, black);                     \
    } while (0)

// --- Parsing of names and arrays ---------------------------------------------

TEST(ColorSpaceParse, DeviceNamesAndTheirAbbreviations) {
    EXPECT_EQ(parseText("/G")->getKind(), ColorSpace::kDeviceGray);
    EXPECT_EQ(parseText("/DeviceGray")->getKind(), ColorSpace::kDeviceGray);
    EXPECT_EQ(parseText("/RGB")->getKind(), ColorSpace::kDeviceRgb);
    EXPECT_EQ(parseText("/DeviceCMYK")->getKind(), ColorSpace::kDeviceCmyk);
    EXPECT_EQ(parseText("/CMYK")->getComponentCount(), 4);
    // Further elements after a device family are not read.
    EXPECT_EQ(parseText("[/DeviceGray /extra 5]")->getKind(), ColorSpace::kDeviceGray);
    EXPECT_EQ(parseText("[/RGB]")->getKind(), ColorSpace::kDeviceRgb);
    auto pattern = parseText("/Pattern");
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->getKind(), ColorSpace::kPattern);
    EXPECT_EQ(static_cast<PatternColorSpace*>(pattern.get())->getUnderlying(), nullptr);
}

TEST(ColorSpaceParse, UnknownNamesAndKindsAreReportedAndRefused) {
    ErrorCapture errors;
    EXPECT_FALSE(parseText("/DeviceGrey"));
    EXPECT_FALSE(parseText("/I"));       // the abbreviation stands only inside an array
    EXPECT_FALSE(parseText("/CalRGB"));  // array families are not names
    EXPECT_FALSE(parseText("[/Foo 1]"));
    EXPECT_FALSE(parseText("[1 /DeviceRGB]"));
    EXPECT_FALSE(parseText("[]"));
    EXPECT_FALSE(parseText("5"));
    EXPECT_FALSE(parseText("(DeviceRGB)"));
    EXPECT_EQ(errors.count(), 8u);
}

TEST(ColorSpaceParse, CalibratedSpacesKeepTheirEntriesAndDefaults) {
    auto gray = parseText("[/CalGray << /WhitePoint [0.9505 1 1.089] /Gamma 2.2 >>]");
    ASSERT_TRUE(gray);
    auto* calGray = static_cast<CalGrayColorSpace*>(gray.get());
    EXPECT_EQ(calGray->getKind(), ColorSpace::kCalGray);
    EXPECT_DOUBLE_EQ(calGray->getWhitePoint()[0], 0.9505);
    EXPECT_DOUBLE_EQ(calGray->getBlackPoint()[2], 0);
    EXPECT_DOUBLE_EQ(calGray->getGamma(), 2.2);

    // A malformed entry (two numbers, a name inside) leaves the default.
    auto rgb = parseText("[/CalRGB << /WhitePoint [1 2] /Gamma [1.8 /x 1.8] /Matrix [1 0 0 0 1 0 0 0 2] >>]");
    ASSERT_TRUE(rgb);
    auto* calRgb = static_cast<CalRgbColorSpace*>(rgb.get());
    EXPECT_DOUBLE_EQ(calRgb->getWhitePoint()[1], 1);
    EXPECT_DOUBLE_EQ(calRgb->getGamma()[0], 1);
    EXPECT_DOUBLE_EQ(calRgb->getMatrix()[8], 2);

    ErrorCapture errors;
    EXPECT_FALSE(parseText("[/CalGray]"));
    EXPECT_FALSE(parseText("[/Lab 5]"));
    EXPECT_EQ(errors.count(), 2u);
}

// --- Device conversions ------------------------------------------------------

TEST(ColorSpaceConvert, RgbWhiteIsExactlyOneInGrey) {
    DeviceRgbColorSpace rgb;
    EXPECT_EQ(grayOf(rgb, color({kColorOne, kColorOne, kColorOne})), kColorOne);
    EXPECT_EQ(grayOf(rgb, color({0, 0, 0})), 0);
    // 0.3 x 65536 = 19660.8, rounded.
    EXPECT_EQ(grayOf(rgb, color({kColorOne, 0, 0})), 19661);
    // The calibrated space weighs with 0.299, 0.587 and 0.114.
    CalRgbColorSpace* cal = static_cast<CalRgbColorSpace*>(parseText("[/CalRGB <<>>]").release());
    EXPECT_EQ(grayOf(*cal, color({kColorOne, kColorOne, kColorOne})), kColorOne);
    EXPECT_EQ(grayOf(*cal, color({kColorOne, 0, 0})), 19595);  // 19595.264
    delete cal;
}

TEST(ColorSpaceConvert, ResultsAreLimitedToZeroAndOne) {
    DeviceRgbColorSpace rgb;
    EXPECT_RGB(rgbOf(rgb, color({-5, 0x20000, INT32_MAX})), 0, kColorOne, kColorOne);
    EXPECT_EQ(grayOf(rgb, color({INT32_MAX, INT32_MAX, INT32_MAX})), kColorOne);
    DeviceGrayColorSpace gray;
    // Extreme components must not overflow on the way to CMYK.
    EXPECT_CMYK(cmykOf(gray, color({INT32_MIN})), 0, 0, 0, kColorOne);
    EXPECT_CMYK(cmykOf(gray, color({INT32_MAX})), 0, 0, 0, 0);
    EXPECT_CMYK(cmykOf(rgb, color({INT32_MIN, INT32_MAX, 0})), kColorOne, 0, kColorOne, 0);
}

TEST(ColorSpaceConvert, GreyAndRgbToCmykTakeOutTheCommonBlack) {
    DeviceGrayColorSpace gray;
    EXPECT_CMYK(cmykOf(gray, color({0x4000})), 0, 0, 0, 0xC000);
    EXPECT_RGB(rgbOf(gray, color({0x4000})), 0x4000, 0x4000, 0x4000);
    DeviceRgbColorSpace rgb;
    EXPECT_CMYK(cmykOf(rgb, color({kColorOne, 0x8000, 0})), 0, 0x8000, kColorOne, 0);
    EXPECT_CMYK(cmykOf(rgb, color({0x4000, 0x4000, 0x4000})), 0, 0, 0, 0xC000);
    EXPECT_CMYK(cmykOf(rgb, color({0x4000, 0x8000, 0xC000})), 0x8000, 0x4000, 0, 0x4000);
}

TEST(ColorSpaceConvert, CmykCornersGiveTheTableColours) {
    // The corner table, each value x 65536 truncated (corner bits c m y k).
    const int expected[16][3] = {
        {65536, 65536, 65536}, {8998, 7969, 8224}, {65536, 62193, 0},     {7195, 6684, 0},
        {60653, 0, 35979},     {9253, 0, 0},       {60909, 7195, 9253},   {8735, 0, 0},
        {0, 44459, 61426},     {0, 3853, 9253},    {0, 42663, 20558},     {0, 4882, 0},
        {11822, 12596, 37519}, {0, 0, 511},        {13880, 13887, 14647}, {0, 0, 0},
    };
    DeviceCmykColorSpace cmyk;
    for (int corner = 0; corner < 16; ++corner) {
        const ColorValue c = color({corner & 8 ? kColorOne : 0, corner & 4 ? kColorOne : 0,
                                    corner & 2 ? kColorOne : 0, corner & 1 ? kColorOne : 0});
        SCOPED_TRACE(corner);
        EXPECT_RGB(rgbOf(cmyk, c), expected[corner][0], expected[corner][1], expected[corner][2]);
    }
    // Halfway along cyan: half of white and half of the cyan corner,
    // (0.5, 0.5 + 0.3392, 0.5 + 0.46865).
    EXPECT_RGB(rgbOf(cmyk, color({0x8000, 0, 0, 0})), 32768, 54997, 63481);
}

// The ink sums written out plainly: every one of the 15 corners short of
// black, all three channels, in corner order.
RgbColor plainCmykSum(const ColorValue& color) {
    static const double corners[15][3] = {
        {1, 1, 1},
        {0.1373, 0.1216, 0.1255},
        {1, 0.949, 0},
        {0.1098, 0.102, 0},
        {0.9255, 0, 0.549},
        {0.1412, 0, 0},
        {0.9294, 0.1098, 0.1412},
        {0.1333, 0, 0},
        {0, 0.6784, 0.9373},
        {0, 0.0588, 0.1412},
        {0, 0.651, 0.3137},
        {0, 0.0745, 0},
        {0.1804, 0.1922, 0.5725},
        {0, 0, 0.0078},
        {0.2118, 0.2119, 0.2235},
    };
    const double c = colorToDouble(color.c[0]), m = colorToDouble(color.c[1]);
    const double y = colorToDouble(color.c[2]), k = colorToDouble(color.c[3]);
    double sum[3] = {0, 0, 0};
    for (int corner = 0; corner < 15; ++corner) {
        const double weight = ((corner & 8) ? c : 1 - c) * ((corner & 4) ? m : 1 - m) *
                              ((corner & 2) ? y : 1 - y) * ((corner & 1) ? k : 1 - k);
        for (int i = 0; i < 3; ++i)
            sum[i] += weight * corners[corner][i];
    }
    return {clampColor(colorFromDouble(sum[0])), clampColor(colorFromDouble(sum[1])),
            clampColor(colorFromDouble(sum[2]))};
}

TEST(ColorSpaceConvert, CmykGivesThePlainInkSumsToTheBit) {
    // Components on a grid of bytes and of odd 16.16 values, some outside
    // 0 .. 1.0 (decode arrays allow them): the factored sums must round
    // exactly as the plain ones do.
    const ColorComponent values[] = {0,      1,      0x0101, 0x3333,    0x7fff,  0x8000,  0x8081,
                                     0xcccc, 0xfefe, 0xffff, kColorOne, -0x4000, 0x18000, 12345};
    DeviceCmykColorSpace cmyk;
    int mismatches = 0;
    for (ColorComponent c : values)
        for (ColorComponent m : values)
            for (ColorComponent y : values)
                for (ColorComponent k : values) {
                    const ColorValue colour = color({c, m, y, k});
                    const RgbColor expected = plainCmykSum(colour);
                    const RgbColor got = rgbOf(cmyk, colour);
                    if (got.r != expected.r || got.g != expected.g || got.b != expected.b)
                        ++mismatches;
                }
    EXPECT_EQ(mismatches, 0);
    for (int b = 0; b < 256; ++b) {
        const ColorComponent v = colorFromDouble(b / 255.0);
        const ColorValue colour = color({v, 255 - b, v / 2, kColorOne - v});
        const RgbColor expected = plainCmykSum(colour);
        EXPECT_RGB(rgbOf(cmyk, colour), expected.r, expected.g, expected.b);
    }
}

TEST(ColorSpaceConvert, CmykGreyAndCmykPassThrough) {
    DeviceCmykColorSpace cmyk;
    EXPECT_EQ(grayOf(cmyk, color({0, 0, 0, 0})), kColorOne);
    EXPECT_EQ(grayOf(cmyk, color({0, 0, 0, kColorOne})), 0);
    EXPECT_EQ(grayOf(cmyk, color({kColorOne, 0, 0, 0})), 45875);  // 65536 - 19660.8, rounded
    EXPECT_CMYK(cmykOf(cmyk, color({-1, 0x20000, 5, 6})), 0, kColorOne, 5, 6);
    ColorValue initial{};
    cmyk.getDefaultColor(initial);
    EXPECT_EQ(initial.c[3], kColorOne);
}

// --- Lab ---------------------------------------------------------------------

TEST(ColorSpaceLab, LightnessEndsAreBlackAndWhite) {
    auto lab = parseText("[/Lab << /WhitePoint [1 1 1] >>]");
    ASSERT_TRUE(lab);
    // L 100: f = 1 on every axis, X = Y = Z = 1, and the scale factors
    // normalise the white point to RGB 1.
    EXPECT_RGB(rgbOf(*lab, color({100 * kColorOne, 0, 0})), kColorOne, kColorOne, kColorOne);
    EXPECT_EQ(grayOf(*lab, color({100 * kColorOne, 0, 0})), kColorOne);
    // L 0: f = 16/116 = 4/29, the linear branch gives 0.
    EXPECT_RGB(rgbOf(*lab, color({0, 0, 0})), 0, 0, 0);
    EXPECT_CMYK(cmykOf(*lab, color({0, 0, 0})), 0, 0, 0, kColorOne);
    // L 50: Y = (66/116)^3 = 0.18419, channel sqrt(Y) = 0.42917 of 65536.
    const RgbColor mid = rgbOf(*lab, color({50 * kColorOne, 0, 0}));
    EXPECT_NEAR(mid.r, 28126, 1);
    EXPECT_NEAR(mid.g, 28126, 1);
    EXPECT_NEAR(mid.b, 28126, 1);
    // Positive a is red: more red than green.
    const RgbColor reddish = rgbOf(*lab, color({50 * kColorOne, 60 * kColorOne, 0}));
    EXPECT_GT(reddish.r, mid.r);
    EXPECT_LT(reddish.g, mid.g);
}

TEST(ColorSpaceLab, InitialColourAndDecodeRangesFollowTheRange) {
    auto lab = parseText("[/Lab << /WhitePoint [0.9642 1 0.8249] >>]");
    ColorValue c = color({9, 9, 9});
    lab->getDefaultColor(c);
    EXPECT_EQ(c.c[0], 0);
    EXPECT_EQ(c.c[1], 0);
    EXPECT_EQ(c.c[2], 0);

    auto shifted = parseText("[/Lab << /WhitePoint [1 1 1] /Range [-50 -10 20 80] >>]");
    shifted->getDefaultColor(c);
    EXPECT_EQ(c.c[1], -10 * kColorOne);  // 0 is above the range: its maximum
    EXPECT_EQ(c.c[2], 20 * kColorOne);   // 0 is below the range: its minimum
    double low[3];
    double range[3];
    shifted->getDefaultDecodeRanges(low, range, 255);
    EXPECT_DOUBLE_EQ(low[0], 0);
    EXPECT_DOUBLE_EQ(range[0], 100);
    EXPECT_DOUBLE_EQ(low[1], -50);
    EXPECT_DOUBLE_EQ(range[1], 40);
    EXPECT_DOUBLE_EQ(low[2], 20);
    EXPECT_DOUBLE_EQ(range[2], 60);
}

// --- ICCBased ----------------------------------------------------------------

TEST(ColorSpaceIcc, FallsBackByComponentCount) {
    auto gray = ColorSpace::parse(value("[/ICCBased 0]"));
    EXPECT_FALSE(gray);  // not a stream

    PdfValue array = value("[/ICCBased]");
    array.getArray()->add(streamValue("<< /N 3 /Alternate /NoSuchSpace >>", "profile"));
    ErrorCapture errors;
    auto rgb = ColorSpace::parse(array);
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->getKind(), ColorSpace::kIccBased);
    EXPECT_EQ(rgb->getComponentCount(), 3);
    EXPECT_EQ(static_cast<IccBasedColorSpace*>(rgb.get())->getAlternate()->getKind(), ColorSpace::kDeviceRgb);
    EXPECT_TRUE(errors.contains("NoSuchSpace"));
    EXPECT_RGB(rgbOf(*rgb, color({kColorOne, 0, 0x8000})), kColorOne, 0, 0x8000);

    PdfValue two = value("[/ICCBased]");
    two.getArray()->add(streamValue("<< /N 2 >>", ""));
    errors.clear();
    EXPECT_FALSE(ColorSpace::parse(two));
    EXPECT_EQ(errors.count(), 1u);
}

TEST(ColorSpaceIcc, AlternateOfAnotherComponentCountGivesWayToTheDeviceSpace) {
    // The alternate must read N components; one that reads fewer or more
    // would take three components as grey, or grey as the red of a colour.
    struct Case {
        const char* dict;
        int components;
        ColorSpace::Kind alternate;
        bool reported;
    };
    const Case cases[] = {
        {"<< /N 3 /Alternate /DeviceGray >>", 3, ColorSpace::kDeviceRgb, true},
        {"<< /N 3 /Alternate [/CalGray << /WhitePoint [1 1 1] >>] >>", 3, ColorSpace::kDeviceRgb, true},
        {"<< /N 1 /Alternate /DeviceRGB >>", 1, ColorSpace::kDeviceGray, true},
        {"<< /N 4 /Alternate /DeviceRGB >>", 4, ColorSpace::kDeviceCmyk, true},
        {"<< /N 3 /Alternate /DeviceRGB >>", 3, ColorSpace::kDeviceRgb, false},
        {"<< /N 3 /Alternate [/Lab << /WhitePoint [1 1 1] >>] >>", 3, ColorSpace::kLab, false},
    };
    for (const Case& c : cases) {
        PdfValue array = value("[/ICCBased]");
        array.getArray()->add(streamValue(c.dict, ""));
        ErrorCapture errors;
        auto space = ColorSpace::parse(array);
        ASSERT_TRUE(space) << c.dict;
        EXPECT_EQ(space->getComponentCount(), c.components) << c.dict;
        EXPECT_EQ(static_cast<IccBasedColorSpace*>(space.get())->getAlternate()->getKind(), c.alternate)
            << c.dict;
        EXPECT_EQ(errors.count(), c.reported ? 1u : 0u) << c.dict;
    }

    // Pure red through an RGB profile with a grey alternate stays red.
    PdfValue array = value("[/ICCBased]");
    array.getArray()->add(streamValue("<< /N 3 /Alternate /DeviceGray >>", ""));
    ErrorCapture errors;
    auto space = ColorSpace::parse(array);
    ASSERT_TRUE(space);
    EXPECT_RGB(rgbOf(*space, color({kColorOne, 0, 0})), kColorOne, 0, 0);
}

TEST(ColorSpaceIcc, ComponentCountMustBePositiveAndIsCutAt32) {
    ErrorCapture errors;
    for (const char* dict : {"<< /N 0 >>", "<< /N -3 >>", "<< /N 3.0 >>", "<< >>"}) {
        PdfValue array = value("[/ICCBased]");
        array.getArray()->add(streamValue(dict, ""));
        EXPECT_FALSE(ColorSpace::parse(array)) << dict;
    }
    EXPECT_EQ(errors.count(), 4u);

    PdfValue wide = value("[/ICCBased]");
    wide.getArray()->add(streamValue("<< /N 40 /Alternate [/DeviceN [/a /b] /DeviceGray /Identity] >>", ""));
    errors.clear();
    auto space = ColorSpace::parse(wide);
    ASSERT_TRUE(space);
    EXPECT_EQ(space->getComponentCount(), 32);
    EXPECT_EQ(errors.count(), 1u);
}

TEST(ColorSpaceIcc, RangesAreKeptForEveryComponent) {
    // Six components: the range of each one, beyond the fourth too, decides
    // its initial value.
    PdfValue array = value("[/ICCBased]");
    array.getArray()->add(
        streamValue("<< /N 6 /Alternate [/DeviceN [/a /b /c /d /e /f] /DeviceGray /Identity]"
                    " /Range [0 1 0 1 0 1 0 1 0.25 1 -1 -0.5] >>",
                    ""));
    auto space = ColorSpace::parse(array);
    ASSERT_TRUE(space);
    auto* icc = static_cast<IccBasedColorSpace*>(space.get());
    EXPECT_DOUBLE_EQ(icc->getRangeMin(4), 0.25);
    EXPECT_DOUBLE_EQ(icc->getRangeMax(5), -0.5);
    ColorValue c{};
    icc->getDefaultColor(c);
    EXPECT_EQ(c.c[3], 0);
    EXPECT_EQ(c.c[4], 0x4000);
    EXPECT_EQ(c.c[5], -0x8000);

    // A range of the wrong length leaves 0 .. 1.
    PdfValue shortRange = value("[/ICCBased]");
    shortRange.getArray()->add(streamValue("<< /N 1 /Range [0.5 1 0 1] >>", ""));
    auto gray = ColorSpace::parse(shortRange);
    EXPECT_DOUBLE_EQ(static_cast<IccBasedColorSpace*>(gray.get())->getRangeMin(0), 0);
}

TEST(ColorSpaceIcc, RecordsTheProfileReference) {
    ObjectDocument doc;
    doc.pdf.object(1, "[/ICCBased 2 0 R]").stream(2, "<< /N 4 >>", "icc");
    doc.open();
    auto space = ColorSpace::parse(doc.fetch(1));
    ASSERT_TRUE(space);
    auto* icc = static_cast<IccBasedColorSpace*>(space.get());
    EXPECT_EQ(icc->getProfileNum(), 2);
    EXPECT_EQ(icc->getProfileGen(), 0);
    EXPECT_EQ(icc->getAlternate()->getKind(), ColorSpace::kDeviceCmyk);
    auto copy = space->copy();
    space.reset();
    EXPECT_EQ(static_cast<IccBasedColorSpace*>(copy.get())->getProfileNum(), 2);
}

// --- Indexed -----------------------------------------------------------------

// A hex string of count bytes: byte i is i * step + offset (mod 256).
std::string hexTable(int count, int step = 1, int offset = 0) {
    static const char digits[] = "0123456789abcdef";
    std::string text = "<";
    for (int i = 0; i < count; ++i) {
        const int b = (i * step + offset) & 0xff;
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text + ">";
}

TEST(ColorSpaceIndexed, HighValueMustLieInZeroTo255) {
    auto full = parseText("[/I /DeviceRGB 255 " + hexTable(256 * 3) + "]");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->getKind(), ColorSpace::kIndexed);
    EXPECT_EQ(static_cast<IndexedColorSpace*>(full.get())->getHighValue(), 255);

    ErrorCapture errors;
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB 256 " + hexTable(257 * 3) + "]"));
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB -1 <>]"));
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB 1.0 " + hexTable(6) + "]"));
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB 1 " + hexTable(6) + " 0]"));
    EXPECT_FALSE(parseText("[/Indexed /Nothing 1 " + hexTable(6) + "]"));
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB 1 [0 0 0 0 0 0]]"));
    EXPECT_EQ(errors.count(), 7u);  // the unknown base is reported twice
}

TEST(ColorSpaceIndexed, LookupStringMayBeLongerButNotShorter) {
    EXPECT_TRUE(parseText("[/Indexed /DeviceRGB 1 " + hexTable(7) + "]"));
    ErrorCapture errors;
    EXPECT_FALSE(parseText("[/Indexed /DeviceRGB 1 " + hexTable(5) + "]"));
    EXPECT_EQ(errors.count(), 1u);
}

TEST(ColorSpaceIndexed, LookupStreamMustHoldTheWholeTable) {
    PdfValue array = value("[/Indexed /DeviceGray 2]");
    array.getArray()->add(streamValue("<<>>", std::string("\x00\x80\xff", 3)));
    auto space = ColorSpace::parse(array);
    ASSERT_TRUE(space);
    EXPECT_EQ(grayOf(*space, color({2 * kColorOne})), kColorOne);
    EXPECT_EQ(grayOf(*space, color({kColorOne})), colorFromDouble(128 / 255.0));

    PdfValue shortArray = value("[/Indexed /DeviceGray 3]");
    shortArray.getArray()->add(streamValue("<<>>", std::string("\x00\x80\xff", 3)));
    ErrorCapture errors;
    EXPECT_FALSE(ColorSpace::parse(shortArray));
    EXPECT_EQ(errors.count(), 1u);
}

TEST(ColorSpaceIndexed, IndexIsItsIntegerPartLimitedToThePalette) {
    // Entries: 0 -> (10, 20, 30), 1 -> (40, 50, 60).
    auto space = parseText("[/Indexed /DeviceRGB 1 <0a141e28323c>]");
    ASSERT_TRUE(space);
    const auto byte = [](int b) { return colorFromDouble(b / 255.0); };
    EXPECT_RGB(rgbOf(*space, color({0})), byte(10), byte(20), byte(30));
    EXPECT_RGB(rgbOf(*space, color({kColorOne})), byte(40), byte(50), byte(60));
    // Not rounded: 0.5 and 0.99 are entry 0, 1.5 entry 1.
    EXPECT_RGB(rgbOf(*space, color({0x8000})), byte(10), byte(20), byte(30));
    EXPECT_RGB(rgbOf(*space, color({0xfd70})), byte(10), byte(20), byte(30));
    EXPECT_RGB(rgbOf(*space, color({0x18000})), byte(40), byte(50), byte(60));
    EXPECT_RGB(rgbOf(*space, color({-0x8000})), byte(10), byte(20), byte(30));
    // Indices outside the palette read its first or last entry, never
    // beyond the table.
    EXPECT_RGB(rgbOf(*space, color({200 * kColorOne})), byte(40), byte(50), byte(60));
    EXPECT_RGB(rgbOf(*space, color({INT32_MAX})), byte(40), byte(50), byte(60));
    EXPECT_RGB(rgbOf(*space, color({-3 * kColorOne})), byte(10), byte(20), byte(30));
    EXPECT_RGB(rgbOf(*space, color({INT32_MIN})), byte(10), byte(20), byte(30));

    double low[1];
    double range[1];
    space->getDefaultDecodeRanges(low, range, 15);
    EXPECT_DOUBLE_EQ(low[0], 0);
    EXPECT_DOUBLE_EQ(range[0], 15);
}

TEST(ColorSpaceIndexed, PaletteBytesDecodeThroughTheBaseRanges) {
    // A Lab base: byte 255 of L is 100, byte 0 of a is the range minimum.
    auto space = parseText("[/Indexed [/Lab << /WhitePoint [1 1 1] >>] 0 <ff0080>]");
    ASSERT_TRUE(space);
    ColorValue base{};
    static_cast<IndexedColorSpace*>(space.get())->mapToBase(color({0}), base);
    EXPECT_EQ(base.c[0], 100 * kColorOne);
    EXPECT_EQ(base.c[1], -100 * kColorOne);
    EXPECT_EQ(base.c[2], colorFromDouble(128 / 255.0 * 200 - 100));
}

// --- Separation and DeviceN -------------------------------------------------

TEST(ColorSpaceSeparation, TintTransformFeedsTheAlternate) {
    auto space = parseText(
        "[/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [1 0.5 0 0] /N 1 "
        ">>]");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->getKind(), ColorSpace::kSeparation);
    EXPECT_FALSE(space->paintsNothing());
    EXPECT_EQ(static_cast<SeparationColorSpace*>(space.get())->getName().compareCStr("Spot"), 0);
    EXPECT_CMYK(cmykOf(*space, color({0x8000})), 0x8000, 0x4000, 0, 0);
    ColorValue initial{};
    space->getDefaultColor(initial);
    EXPECT_EQ(initial.c[0], kColorOne);
}

TEST(ColorSpaceSeparation, MissingOutputsReadAsZero) {
    // One output for an RGB alternate: green and blue are 0, whatever the
    // buffers held before.
    auto space = parseText("[/Separation /Red /DeviceRGB << /FunctionType 2 /Domain [0 1] /N 1 >>]");
    ASSERT_TRUE(space);
    for (int i = 0; i < 3; ++i)
        EXPECT_RGB(rgbOf(*space, color({kColorOne})), kColorOne, 0, 0);
    // A function of two inputs under a one-component space reads 0 for the
    // second: { add } gives the tint itself.
    PdfValue array = value("[/Separation /Grey /DeviceGray]");
    array.getArray()->add(streamValue("<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1] >>", "{ add }"));
    auto two = ColorSpace::parse(array);
    ASSERT_TRUE(two);
    EXPECT_EQ(grayOf(*two, color({0x4000})), 0x4000);
}

TEST(ColorSpaceSeparation, NoneAloneOrEverywherePaintsNothing) {
    const std::string tint = " /DeviceGray << /FunctionType 2 /Domain [0 1] /N 1 >>]";
    EXPECT_TRUE(parseText("[/Separation /None" + tint)->paintsNothing());
    EXPECT_FALSE(parseText("[/Separation /All" + tint)->paintsNothing());
    EXPECT_TRUE(parseText("[/DeviceN [/None /None]" + tint)->paintsNothing());
    EXPECT_FALSE(parseText("[/DeviceN [/None /Cyan]" + tint)->paintsNothing());
    // The copy keeps the flag and the names.
    auto copy = parseText("[/DeviceN [/None /None] /DeviceGray /Identity]")->copy();
    EXPECT_TRUE(copy->paintsNothing());
    EXPECT_EQ(static_cast<DeviceNColorSpace*>(copy.get())->getName(1).compareCStr("None"), 0);
}

TEST(ColorSpaceSeparation, MalformedArraysAreRefused) {
    ErrorCapture errors;
    EXPECT_FALSE(parseText("[/Separation /A /DeviceGray]"));
    EXPECT_FALSE(parseText("[/Separation (A) /DeviceGray /Identity]"));
    EXPECT_FALSE(parseText("[/Separation /A /Nothing /Identity]"));
    EXPECT_FALSE(parseText("[/Separation /A /DeviceGray /Unknown]"));
    EXPECT_FALSE(parseText("[/DeviceN /A /DeviceGray /Identity]"));
    EXPECT_FALSE(parseText("[/DeviceN [/A 1] /DeviceGray /Identity]"));
    EXPECT_FALSE(parseText("[/DeviceN [] /DeviceGray /Identity]"));
    EXPECT_FALSE(parseText("[/DeviceN [/A] /DeviceGray /Identity 1 2]"));
    EXPECT_TRUE(parseText("[/DeviceN [/A] /DeviceGray /Identity << >>]"));
    EXPECT_GE(errors.count(), 8u);
}

TEST(ColorSpaceSeparation, DeviceNUsesTheFirst32Names) {
    std::string names;
    for (int i = 0; i < 40; ++i)
        names += " /n" + std::to_string(i);
    ErrorCapture errors;
    auto space = parseText("[/DeviceN [" + names + "] /DeviceGray /Identity]");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->getComponentCount(), 32);
    EXPECT_EQ(errors.count(), 1u);
    ColorValue initial{};
    space->getDefaultColor(initial);
    EXPECT_EQ(initial.c[31], kColorOne);
    // The identity passes the first component to the grey alternate.
    EXPECT_EQ(grayOf(*space, color({0x3000, 0x9000})), 0x3000);
}

// --- Pattern -----------------------------------------------------------------

TEST(ColorSpacePattern, ConvertsToBlackInEveryModel) {
    auto space = parseText("[/Pattern /DeviceRGB]");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->getComponentCount(), 0);
    EXPECT_EQ(static_cast<PatternColorSpace*>(space.get())->getUnderlying()->getKind(),
              ColorSpace::kDeviceRgb);
    const ColorValue c = color({kColorOne, kColorOne, kColorOne});
    EXPECT_EQ(grayOf(*space, c), 0);
    EXPECT_RGB(rgbOf(*space, c), 0, 0, 0);
    EXPECT_CMYK(cmykOf(*space, c), 0, 0, 0, kColorOne);
    ColorValue untouched = color({7});
    space->getDefaultColor(untouched);
    EXPECT_EQ(untouched.c[0], 7);

    ErrorCapture errors;
    EXPECT_FALSE(parseText("[/Pattern /Nothing]"));
    EXPECT_FALSE(parseText("[/Pattern /DeviceRGB /DeviceRGB]"));
    EXPECT_TRUE(parseText("[/Pattern]"));
}

// --- Nesting -----------------------------------------------------------------

TEST(ColorSpaceNesting, ACycleIsReportedAndFailsTheParse) {
    ObjectDocument doc;
    doc.pdf.object(1, "[/Indexed 1 0 R 0 <00>]")
        .object(2, "[/Pattern 3 0 R]")
        .object(3, "[/Pattern 2 0 R]")
        .object(4, "[/Separation /A 4 0 R /Identity]");
    doc.open();
    for (int num : {1, 2, 4}) {
        ErrorCapture errors;
        EXPECT_FALSE(ColorSpace::parse(doc.fetch(num))) << num;
        EXPECT_TRUE(errors.contains("refers to itself")) << num;
    }
}

TEST(ColorSpaceNesting, AnIccProfileNamingItselfFallsBack) {
    ObjectDocument doc;
    doc.pdf.object(1, "[/ICCBased 2 0 R]").stream(2, "<< /N 3 /Alternate [/ICCBased 2 0 R] >>", "");
    doc.open();
    ErrorCapture errors;
    auto space = ColorSpace::parse(doc.fetch(1));
    ASSERT_TRUE(space);
    EXPECT_TRUE(errors.contains("refers to itself"));
    EXPECT_EQ(static_cast<IccBasedColorSpace*>(space.get())->getAlternate()->getKind(),
              ColorSpace::kDeviceRgb);
}

TEST(ColorSpaceNesting, DepthIsLimited) {
    const auto nested = [](int patterns) {
        std::string text = "/DeviceRGB";
        for (int i = 0; i < patterns; ++i)
            text = "[/Pattern " + text + "]";
        return text;
    };
    EXPECT_TRUE(parseText(nested(7)));  // eight levels
    ErrorCapture errors;
    EXPECT_FALSE(parseText(nested(8)));
    EXPECT_TRUE(errors.contains("nested more than 8"));
    errors.clear();
    EXPECT_FALSE(parseText(nested(500)));
}

// --- Copies ------------------------------------------------------------------

TEST(ColorSpaceCopy, CopiesOutliveTheirOriginal) {
    const char* spaces[] = {
        "/DeviceGray",
        "[/CalGray << /Gamma 2 >>]",
        "/DeviceRGB",
        "[/CalRGB << >>]",
        "/DeviceCMYK",
        "[/Lab << /WhitePoint [1 1 1] /Range [-20 20 -30 30] >>]",
        "[/Indexed /DeviceRGB 1 <0a141e28323c>]",
        "[/Separation /S /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 0 1] /N 2 >>]",
        "[/DeviceN [/a /b] /DeviceCMYK /Identity]",
        "[/Pattern [/Indexed /DeviceGray 0 <ff>]]",
    };
    const ColorValue c = color({0x8000, 0x4000, 0x2000, 0x1000});
    for (const char* text : spaces) {
        SCOPED_TRACE(text);
        auto space = parseText(text);
        ASSERT_TRUE(space);
        RgbColor before = rgbOf(*space, c);
        ColorValue initialBefore{};
        space->getDefaultColor(initialBefore);
        const ColorSpace::Kind kind = space->getKind();
        auto copy = space->copy();
        space.reset();
        EXPECT_EQ(copy->getKind(), kind);
        RgbColor after = rgbOf(*copy, c);
        EXPECT_RGB(after, before.r, before.g, before.b);
        ColorValue initialAfter{};
        copy->getDefaultColor(initialAfter);
        for (int i = 0; i < copy->getComponentCount(); ++i)
            EXPECT_EQ(initialAfter.c[i], initialBefore.c[i]);
    }
}

}  // namespace
}  // namespace rendova
