// The graphics state, colour, path, painting and clipping operators and the
// extended graphics state, run as content strings against a recording
// device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

// A direct stream in document syntax, its Length filled in.
std::string streamText(const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >> stream\n" + data + "\nendstream";
}

// --- State operators ------------------------------------------------------

TEST(StateOperatorsTest, SaveAndRestoreBracketTheState) {
    ContentRun page;
    page.run("2 w 1 0 0 RG q 5 w 0 1 0 RG 0 0 m 10 0 l Q S");
    EXPECT_EQ(page.state()->getLineWidth(), 2);
    EXPECT_EQ(page.state()->getStrokeColor().c[0], 0x10000);
    // The path built inside q ... Q survives the restore.
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 10 0"}));
    EXPECT_EQ(page.device.only({"saveState", "restoreState"}), Lines({"saveState", "restoreState"}));
}

TEST(StateOperatorsTest, RestoreAtTheBottomStillTellsTheDevice) {
    ContentRun page;
    page.run("Q Q 3 w");
    EXPECT_EQ(page.device.only({"restoreState"}).size(), 2u);
    EXPECT_EQ(page.state()->getLineWidth(), 3);
    EXPECT_FALSE(page.state()->hasSaved());
}

TEST(StateOperatorsTest, LineParametersReachTheStateAndTheDevice) {
    ContentRun page;
    page.run("3.5 w 2 J 1 j 7 M 2.9 i [3 1.5] 2 d");
    EXPECT_EQ(page.device.calls,
              Lines({"updateLineWidth 3.5", "updateLineCap 2", "updateLineJoin 1", "updateMiterLimit 7",
                     "updateFlatness 2", "updateLineDash [3 1.5] 2", "flush"}));
    page.run("[] 0 d");
    EXPECT_EQ(page.state()->getLineDash(), nullptr);
    EXPECT_EQ(page.state()->getLineDashLength(), 0);
    // An element that is not a number dashes as 0.
    page.run("[2 /x 4] 0 d");
    EXPECT_EQ(page.device.only({"updateLineDash"}).back(), "updateLineDash [2 0 4] 0");
}

TEST(StateOperatorsTest, ConcatTellsTheDeviceTheOperands) {
    ContentRun page;
    page.run("2 0 0 2 10 20 cm");
    EXPECT_EQ(page.device.calls.front(), "updateMatrix 2 0 0 2 10 20");
    EXPECT_EQ(page.state()->getMatrix()[5], 772);
}

TEST(StateOperatorsTest, SingularAndAbsurdMatricesStayDefined) {
    // Run under the sanitizers: no conversion of NaN or infinity to an
    // integer, anywhere from cm to the clip box.
    ContentRun page;
    const std::string big = "100000000000000000000000000000000000000.0";  // integers wrap, reals do not
    page.run("0 0 0 0 0 0 cm 0 0 10 10 re W n 0 0 10 10 re f " + big + " " + big + " " + big + " " + big +
             " " + big + " -" + big + " cm 0 0 m 1 1 l S " + big + " i 0 0 1 1 re W* n");
    for (double v : {page.state()->getMatrix()[0], page.state()->getMatrix()[4]}) {
        EXPECT_GE(v, -1e10);
        EXPECT_LE(v, 1e10);
    }
    EXPECT_EQ(page.state()->getFlatness(), 2147483647);
    double x0, y0, x1, y1;
    page.state()->getUserClipBox(&x0, &y0, &x1, &y1);
}

// --- Paths ----------------------------------------------------------------

TEST(PathOperatorsTest, SegmentsWithoutACurrentPointAreErrors) {
    ContentRun page;
    page.run("10 10 l 1 2 3 4 5 6 c 1 2 3 4 v 1 2 3 4 y h S");
    EXPECT_TRUE(page.errors.contains("Line segment without a current point"));
    EXPECT_TRUE(page.errors.contains("Curve segment without a current point"));
    EXPECT_TRUE(page.errors.contains("Curve segment (v) without a current point"));
    EXPECT_TRUE(page.errors.contains("Curve segment (y) without a current point"));
    EXPECT_TRUE(page.errors.contains("Closing a path without a current point"));
    EXPECT_TRUE(page.device.paths().empty());
}

TEST(PathOperatorsTest, CurveShortcutsUseTheCurrentAndTheEndPoint) {
    ContentRun page;
    page.run("1 1 m 2 2 3 3 v 4 4 5 5 y S");
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 1 1 C 1 1 2 2 3 3 C 4 4 5 5 5 5"}));
}

TEST(PathOperatorsTest, RectangleAndCloseLeaveTheCurrentPointAtTheStart) {
    ContentRun page;
    page.run("10 20 30 40 re");
    EXPECT_EQ(page.state()->getCurrentX(), 10);
    EXPECT_EQ(page.state()->getCurrentY(), 20);
    page.run("5 5 m 50 5 l 50 50 l h");
    EXPECT_EQ(page.state()->getCurrentX(), 5);
    EXPECT_EQ(page.state()->getCurrentY(), 5);
    // h right after m closes a one-point sub-path.
    page.run("n 7 7 m h S");
    EXPECT_EQ(page.device.paths().back(), "stroke M 7 7 Z");
}

TEST(PathOperatorsTest, ALoneMoveToPaintsNothingAndEndsThePath) {
    ContentRun page;
    page.run("5 5 m S 6 6 l S");
    EXPECT_TRUE(page.device.paths().empty());
    EXPECT_TRUE(page.errors.contains("Line segment without a current point"));
}

TEST(PathOperatorsTest, EveryPaintingOperator) {
    ContentRun page;
    page.run(
        "0 0 m 1 0 l S 0 0 m 1 0 l s 0 0 m 1 0 l f 0 0 m 1 0 l F 0 0 m 1 0 l f* "
        "0 0 m 1 0 l B 0 0 m 1 0 l B* 0 0 m 1 0 l b 0 0 m 1 0 l b*");
    EXPECT_EQ(
        page.device.paths(),
        Lines({"stroke M 0 0 L 1 0", "stroke M 0 0 L 1 0 L 0 0 Z", "fill M 0 0 L 1 0", "fill M 0 0 L 1 0",
               "eoFill M 0 0 L 1 0", "fill M 0 0 L 1 0", "stroke M 0 0 L 1 0", "eoFill M 0 0 L 1 0",
               "stroke M 0 0 L 1 0", "fill M 0 0 L 1 0 L 0 0 Z", "stroke M 0 0 L 1 0 L 0 0 Z",
               "eoFill M 0 0 L 1 0 L 0 0 Z", "stroke M 0 0 L 1 0 L 0 0 Z"}));
    EXPECT_TRUE(page.state()->getPath()->isEmpty());
}

// --- Clipping -------------------------------------------------------------

TEST(ClipOperatorsTest, RectangleClipNarrowsTheClipBoxAndPaintsNothing) {
    ContentRun page;
    page.run("100 200 50 60 re W n");
    EXPECT_EQ(page.device.paths(), Lines({"clip M 100 200 L 150 200 L 150 260 L 100 260 L 100 200 Z"}));
    double x0, y0, x1, y1;
    page.state()->getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x0, 100);
    EXPECT_EQ(y0, 532);
    EXPECT_EQ(x1, 150);
    EXPECT_EQ(y1, 592);
    page.run("0 0 10 10 re W* f");
    EXPECT_EQ(page.device.paths().back(), "eoClip M 0 0 L 10 0 L 10 10 L 0 10 L 0 0 Z");
    EXPECT_EQ(page.device.paths().size(), 3u);
}

TEST(ClipOperatorsTest, APendingClipWaitsForAPathAndIsUsedOnce) {
    ContentRun page;
    // W then S on an empty path: nothing painted, the clip stays pending.
    page.run("W S 0 0 5 5 re f 0 0 6 6 re f");
    EXPECT_EQ(page.device.paths(),
              Lines({"fill M 0 0 L 5 0 L 5 5 L 0 5 L 0 0 Z", "clip M 0 0 L 5 0 L 5 5 L 0 5 L 0 0 Z",
                     "fill M 0 0 L 6 0 L 6 6 L 0 6 L 0 0 Z"}));
}

TEST(ClipOperatorsTest, ALoneMoveToStillAppliesAPendingClip) {
    ContentRun page;
    // The path has a pending move-to only: its box is empty.
    page.run("5 5 m W n");
    EXPECT_EQ(page.device.paths(), Lines({"clip"}));
    double x0, y0, x1, y1;
    page.state()->getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x1, 0);
    EXPECT_EQ(y1, 0);
}

TEST(ClipOperatorsTest, ClipsSurviveUntilRestore) {
    ContentRun page;
    page.run("q 0 0 10 10 re W n Q");
    double x0, y0, x1, y1;
    page.state()->getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_EQ(x1, 612);
    EXPECT_EQ(y1, 792);
}

// --- Colour ---------------------------------------------------------------

TEST(ColorOperatorsTest, DeviceColorOperatorsSetSpaceAndColour) {
    ContentRun page;
    page.run("0.5 g 0.25 G 1 0 0.5 rg 0 1 0 RG 0.1 0.2 0.3 0.4 k 1 1 0 0 K");
    EXPECT_EQ(page.device.calls,
              Lines({"updateFillColorSpace DeviceGray", "updateFillColor DeviceGray 0.5",
                     "updateStrokeColorSpace DeviceGray", "updateStrokeColor DeviceGray 0.25",
                     "updateFillColorSpace DeviceRGB", "updateFillColor DeviceRGB 1 0 0.5",
                     "updateStrokeColorSpace DeviceRGB", "updateStrokeColor DeviceRGB 0 1 0",
                     "updateFillColorSpace DeviceCMYK",
                     "updateFillColor DeviceCMYK 0.0999908 0.199997 0.299988 0.399994",
                     "updateStrokeColorSpace DeviceCMYK", "updateStrokeColor DeviceCMYK 1 1 0 0", "flush"}));
    // 16.16 components are truncated toward zero.
    EXPECT_EQ(page.state()->getFillColor().c[0], 6553);
    EXPECT_EQ(page.state()->getFillColor().c[4], 0);
}

TEST(ColorOperatorsTest, ColourSpaceOperatorsTakeEverySpaceAndItsDefaultColour) {
    const std::string calculator =
        streamText("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1]", "{ add 2 div }");
    const std::string resources =
        "<< /ColorSpace << /Cal [/CalRGB << /WhitePoint [0.95 1 1.09] >>] /CG [/CalGray << /WhitePoint [0.95 "
        "1 "
        "1.09] >>] /L [/Lab << /WhitePoint [0.95 1 1.09] /Range [-50 50 -50 50] >>] /Icc [/ICCBased " +
        streamText("/N 3", "") +
        "] /Idx [/Indexed /DeviceRGB 1 <FF000000FF00>] /Sep [/Separation /Spot /DeviceCMYK << /FunctionType "
        "2 "
        "/Domain [0 1] /C0 [0 0 0 0] /C1 [0 0 0 1] /N 1 >>] /DN [/DeviceN [/A /B] /DeviceGray " +
        calculator + "] /Pat [/Pattern /DeviceRGB] /Rgb /DeviceRGB >> >>";
    ContentRun page(resources);
    page.run(
        "/DeviceGray cs /DeviceRGB cs /DeviceCMYK cs /Cal cs /CG cs /L cs /Icc cs /Idx cs /Sep cs /DN cs "
        "/Pattern cs /Pat cs /Rgb CS");
    EXPECT_TRUE(page.errors.empty()) << page.errors.reports().front().message;
    EXPECT_EQ(
        page.device.only({"updateFillColor", "updateStrokeColor"}),
        Lines({"updateFillColor DeviceGray 0", "updateFillColor DeviceRGB 0 0 0",
               "updateFillColor DeviceCMYK 0 0 0 1", "updateFillColor CalRGB 0 0 0",
               "updateFillColor CalGray 0", "updateFillColor Lab 0 0 0", "updateFillColor ICCBased 0 0 0",
               "updateFillColor Indexed 0", "updateFillColor Separation 1", "updateFillColor DeviceN 1 1",
               "updateFillColor Pattern", "updateFillColor Pattern", "updateStrokeColor DeviceRGB 0 0 0"}));
    // Components in each space.
    page.run("/Idx cs 1 sc /Sep cs 0.5 sc /DN cs 0.25 0.75 scn /L cs 50 -10 10 scn");
    EXPECT_EQ(page.device.only({"updateFillColor"}).back(), "updateFillColor Lab 50 -10 10");
    EXPECT_TRUE(page.errors.empty());
}

TEST(ColorOperatorsTest, AnUnusableColourSpaceChangesNothingButThePattern) {
    ContentRun page("<< /ColorSpace << /Bad [/Indexed /DeviceRGB] >> >>");
    page.run("0 1 0 rg /Bad cs /Nonsense CS");
    EXPECT_TRUE(page.errors.contains("Unusable fill colour space 'Bad'"));
    EXPECT_TRUE(page.errors.contains("Unusable stroke colour space 'Nonsense'"));
    EXPECT_EQ(page.state()->getFillColorSpace()->getKind(), ColorSpace::kDeviceRgb);
    EXPECT_EQ(page.state()->getFillColor().c[1], 0x10000);
}

TEST(ColorOperatorsTest, ComponentCountsMustMatchTheSpace) {
    ContentRun page;
    page.run("/DeviceRGB cs 1 0 sc 0.5 SC 0.5 SCN 1 0 0 1 scn 0 1 0 scn");
    EXPECT_TRUE(page.errors.contains("2 colour components given for a fill colour space of 3"));
    EXPECT_TRUE(page.errors.contains("4 colour components given for a fill colour space of 3"));
    EXPECT_FALSE(page.errors.contains("for a stroke"));
    EXPECT_EQ(page.device.only({"updateFillColor"}).back(), "updateFillColor DeviceRGB 0 1 0");
    EXPECT_EQ(page.device.only({"updateStrokeColor"}).back(), "updateStrokeColor DeviceGray 0.5");
}

const std::string kPatternResources = "<< /ColorSpace << /PRgb [/Pattern /DeviceRGB] >> /Pattern << /P1 " +
                                      streamText(
                                          "/PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 10 10] "
                                          "/XStep 10 /YStep 10 /Resources << >>",
                                          "0 0 5 5 re f") +
                                      " /Sh << /PatternType 2 /Shading << >> >> >> >>";

TEST(ColorOperatorsTest, ScnInAPatternSpaceSetsColourAndPattern) {
    ContentRun page(kPatternResources);
    page.run("/Pattern cs /P1 scn");
    ASSERT_NE(page.state()->getFillPattern(), nullptr);
    EXPECT_EQ(page.state()->getFillPattern()->getType(), Pattern::kTiling);
    EXPECT_TRUE(page.device.only({"updateFillColor"}) == Lines({"updateFillColor Pattern"}));

    // Colour of an uncoloured pattern, then the pattern.
    page.run("/PRgb cs 1 0.5 0 /P1 scn");
    EXPECT_EQ(page.device.only({"updateFillColor"}).back(), "updateFillColor Pattern");
    EXPECT_EQ(page.state()->getFillColor().c[1], 0x8000);
    EXPECT_NE(page.state()->getFillPattern(), nullptr);

    // The wrong number of components changes nothing.
    page.device.calls.clear();
    page.run("/PRgb CS 0 0 1 /P1 SCN 1 1 /P1 SCN");
    EXPECT_TRUE(
        page.errors.contains("2 colour components given for the underlying space of a stroke pattern"));
    EXPECT_EQ(page.state()->getStrokeColor().c[2], 0x10000);
}

TEST(ColorOperatorsTest, AColourOperatorClearsThePattern) {
    ContentRun page(kPatternResources);
    page.run("/Pattern cs /P1 scn 0 g");
    EXPECT_EQ(page.state()->getFillPattern(), nullptr);
}

// --- Extended graphics state ----------------------------------------------

TEST(ExtGStateTest, EntriesReachTheStateInOrder) {
    ContentRun page("<< /ExtGState << /A << /BM /Multiply /ca 0.5 /CA 0.25 /SA true >> >> >>");
    page.run("/A gs");
    EXPECT_EQ(page.device.calls, Lines({"updateBlendMode 1", "updateFillOpacity 0.5",
                                        "updateStrokeOpacity 0.25", "updateStrokeAdjust 1", "flush"}));
    EXPECT_TRUE(page.state()->getStrokeAdjust());
}

// Line parameters set through a graphics state dictionary draw as their
// operators do; entries of the wrong type are left out.
TEST(ExtGStateTest, LineParametersActAsTheirOperators) {
    ContentRun page(
        "<< /ExtGState << /L << /LW 3 /LC 1 /LJ 2 /ML 5 /D [[2 1] 0.5] >> "
        "/Bad << /LW /Thick /LC 1.5 /D [3 0] >> >> >>");
    page.run("/L gs");
    EXPECT_EQ(page.device.only({"updateLineWidth", "updateLineCap", "updateLineJoin", "updateMiterLimit",
                                "updateLineDash"}),
              Lines({"updateLineWidth 3", "updateLineCap 1", "updateLineJoin 2", "updateMiterLimit 5",
                     "updateLineDash [2 1] 0.5"}));
    page.device.calls.clear();
    page.run("/Bad gs");
    EXPECT_EQ(page.state()->getLineWidth(), 3);
    EXPECT_EQ(page.state()->getLineDashLength(), 2);
    EXPECT_TRUE(page.errors.contains("Dash pattern in an ExtGState"));
}

TEST(ExtGStateTest, OverprintOfStrokesAppliesToFillsUnlessGiven) {
    ContentRun page("<< /ExtGState << /Both << /OP true >> /Own << /op false /OP true >> >> >>");
    page.run("/Both gs");
    EXPECT_TRUE(page.state()->getFillOverprint());
    EXPECT_TRUE(page.state()->getStrokeOverprint());
    EXPECT_EQ(page.device.only({"updateFillOverprint", "updateStrokeOverprint"}),
              Lines({"updateStrokeOverprint 1", "updateFillOverprint 1"}));
    page.run("q /Own gs");
    EXPECT_FALSE(page.state()->getFillOverprint());
    EXPECT_TRUE(page.state()->getStrokeOverprint());
}

TEST(ExtGStateTest, TransferFunctionsByNameFunctionAndArray) {
    const std::string f = "<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>";
    ContentRun page("<< /ExtGState << /F << /TR " + f + " >> /Four << /TR [" + f + " /Identity " + f + " " +
                    f + "] >> /Id << /TR /Identity >> /Def << /TR2 /Default /TR " + f +
                    " >> /Three << /TR [" + f + " " + f + " " + f +
                    "] >> /Num << /TR 5 >> /BadName << /TR /Foo >> "
                    "/BadOne << /TR [" +
                    f + " 5 " + f + " " + f + "] >> >> >>");
    page.run("/F gs");
    EXPECT_EQ(page.device.only({"updateTransfer"}).back(), "updateTransfer f - - -");
    page.run("/Four gs");
    EXPECT_EQ(page.device.only({"updateTransfer"}).back(), "updateTransfer f f f f");
    page.run("/Id gs");
    EXPECT_EQ(page.device.only({"updateTransfer"}).back(), "updateTransfer - - - -");
    page.run("/F gs /Def gs");
    EXPECT_EQ(page.device.only({"updateTransfer"}).back(), "updateTransfer - - - -");
    const size_t updates = page.device.only({"updateTransfer"}).size();
    page.errors.clear();
    page.run("/F gs /Three gs /Num gs /BadName gs /BadOne gs");
    EXPECT_EQ(page.device.only({"updateTransfer"}).size(), updates + 1);
    // Three, Num, and the function parser's reports of /Foo and of 5.
    EXPECT_EQ(page.errors.count(), 4u);
    EXPECT_TRUE(page.errors.contains("not a function or an array of four"));
    EXPECT_NE(page.state()->getTransfer(0), nullptr);
}

TEST(ExtGStateTest, ErrorsInOneEntryLeaveTheOthersInForce) {
    ContentRun page("<< /ExtGState << /A << /BM /Bogus /ca 0.5 >> /N 5 >> >>");
    page.run("/A gs /N gs /Missing gs");
    EXPECT_TRUE(page.errors.contains("Unusable blend mode"));
    EXPECT_TRUE(page.errors.contains("ExtGState 'N' is not a dictionary"));
    EXPECT_TRUE(page.errors.contains("ExtGState 'Missing' is not in the resources"));
    EXPECT_EQ(page.state()->getFillOpacity(), 0.5);
    EXPECT_EQ(page.state()->getBlendMode(), kBlendNormal);
}

TEST(ExtGStateTest, SoftMaskNoneClearsAndOtherValuesAreErrors) {
    ContentRun page(
        "<< /ExtGState << /None << /SMask /None >> /Name << /SMask /Other >> /Num << /SMask 3 >> "
        "/NoG << /SMask << /S /Alpha /G 5 >> >> >> >>");
    page.run("/None gs /Name gs /Num gs /NoG gs");
    EXPECT_EQ(page.device.only({"clearSoftMask"}).size(), 1u);
    EXPECT_EQ(page.errors.count(), 3u);
    EXPECT_TRUE(page.device.only({"setSoftMask"}).empty());
}

TEST(ExtGStateTest, SoftMaskRunsItsGroupAndSetsTheMask) {
    const std::string group = streamText(
        "/Subtype /Form /BBox [0 0 10 20] /Matrix [1 0 0 1 5 5] /Group << /S /Transparency /CS /DeviceRGB "
        "/I true >> /Resources << /ExtGState << /In << /ca 0.3 >> >> >>",
        "/In gs 0 0 5 5 re f");
    ContentRun page(
        "<< /ExtGState << /M << /SMask << /S /Alpha /BC [0.5 0.25 1] /TR << /FunctionType 2 /Domain "
        "[0 1] /C0 [0] /C1 [1] /N 1 >> /G " +
        group + " >> >> /L << /SMask << /S /Luminosity /G " + group +
        " >> >> /Blend << /BM /Multiply /ca 0.5 >> >> >>");
    page.run("/Blend gs");
    page.device.calls.clear();
    page.run("/M gs");
    EXPECT_TRUE(page.errors.empty());
    EXPECT_EQ(page.device.calls,
              Lines({"saveState", "updateMatrix 1 0 0 1 5 5", "updateBlendMode 0", "updateFillOpacity 1",
                     "clearSoftMask", "beginTransparencyGroup 0 0 10 20 DeviceRGB isolated softmask",
                     "clip M 0 0 L 10 0 L 10 20 L 0 20 L 0 0 Z", "updateFillOpacity 0.3",
                     "fill M 0 0 L 5 0 L 5 5 L 0 5 L 0 0 Z", "endTransparencyGroup", "restoreState",
                     "setSoftMask alpha transfer backdrop 0.5 0.25 1", "flush"}));
    // The state outside the group is as it was; the form's resources are
    // gone again.
    EXPECT_EQ(page.state()->getBlendMode(), kBlendMultiply);
    EXPECT_EQ(page.state()->getFillOpacity(), 0.5);
    page.run("/In gs");
    EXPECT_TRUE(page.errors.contains("ExtGState 'In' is not in the resources"));
    // Without BC the backdrop is the group space's default colour.
    page.device.calls.clear();
    page.run("/L gs");
    EXPECT_EQ(page.device.only({"setSoftMask"}), Lines({"setSoftMask luminosity backdrop 0 0 0"}));
}

TEST(ExtGStateTest, SoftMaskWithoutABoxDrawsNothing) {
    ContentRun page("<< /ExtGState << /M << /SMask << /G " +
                    streamText("/Group << /S /Transparency >> /FormType 2", "0 0 5 5 re f") + " >> >> >> >>");
    page.run("/M gs");
    EXPECT_TRUE(page.errors.contains("Unknown FormType"));
    EXPECT_TRUE(page.errors.contains("Form without a BBox array"));
    EXPECT_TRUE(page.device.paths().empty());
}

}  // namespace
}  // namespace rendova::test
