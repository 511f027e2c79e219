#include "engine/content/Shading.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/content/Pattern.h"
#include "engine/content/ShadingFill.h"
#include "engine/core/Page.h"
#include "engine/core/PdfDocument.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/engine/content/InterpreterTestSupport.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/Shell.h"

namespace rendova {
namespace {

using test::ContentRun;
using test::ErrorCapture;
using test::streamValue;
using test::value;
using Lines = std::vector<std::string>;

const std::string kGrayRamp = "<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >>";

// Mesh data of 8-bit values.
std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

std::string meshDict(int type, const std::string& extra) {
    return "<< /ShadingType " + std::to_string(type) +
           " /ColorSpace /DeviceGray /BitsPerCoordinate 8 /BitsPerComponent 8 /BitsPerFlag 8 "
           "/Decode [0 255 0 255 0 1] " +
           extra + " >>";
}

// --- Parsing ------------------------------------------------------------------

TEST(ShadingParse, RejectsWhatTheFormatForbidsAndDefaultsTheRest) {
    struct Case {
        const char* what;
        std::string dict;
        bool ok;
        const char* report;
    };
    std::string functions33 = "[";
    for (int i = 0; i < 33; ++i)
        functions33 += kGrayRamp + " ";
    functions33 += "]";
    const Case cases[] = {
        {"five coords",
         "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 1 1 2] /Function " + kGrayRamp + " >>",
         false, "Coords"},
        {"33 functions",
         "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 1 1] /Function " + functions33 + " >>",
         false, "33 functions"},
        {"no colour space", "<< /ShadingType 2 /Coords [0 0 1 1] /Function " + kGrayRamp + " >>", false,
         "ColorSpace"},
        {"no function", "<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [0 0 1 0 0 2] >>", false, nullptr},
        {"unknown type", "<< /ShadingType 8 /ColorSpace /DeviceGray >>", false, "Unknown shading type 8"},
        {"mesh as a dictionary", "<< /ShadingType 4 /ColorSpace /DeviceGray >>", false, "not a stream"},
        {"wrong Background",
         "<< /ShadingType 2 /ColorSpace /DeviceRGB /Background [1] /Coords [0 0 1 1] /Function " + kGrayRamp +
             " >>",
         true, "Background has 1 values"},
    };
    for (const Case& c : cases) {
        ErrorCapture errors;
        std::unique_ptr<Shading> shading = Shading::parse(value(c.dict));
        EXPECT_EQ(shading != nullptr, c.ok) << c.what;
        if (c.report) {
            EXPECT_TRUE(errors.contains(c.report)) << c.what;
        }
        if (shading) {
            EXPECT_FALSE(shading->hasBackground()) << c.what;
        }
    }
}

TEST(ShadingParse, DomainsDefaultToTheUnitRange) {
    auto axial = Shading::parse(
        value("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 1 1] /Function " + kGrayRamp + " >>"));
    ASSERT_TRUE(axial);
    EXPECT_EQ(static_cast<AxialShading*>(axial.get())->getDomain0(), 0);
    EXPECT_EQ(static_cast<AxialShading*>(axial.get())->getDomain1(), 1);
    for (const auto& [domain, expected] : std::vector<std::pair<std::string, std::vector<double>>>{
             {"", {0, 0, 1, 1}}, {"/Domain [0 2 0 3]", {0, 0, 2, 3}}}) {
        auto function = Shading::parse(
            value("<< /ShadingType 1 /ColorSpace /DeviceGray " + domain + " /Function /Identity >>"));
        ASSERT_TRUE(function) << domain;
        const double* d = static_cast<FunctionShading*>(function.get())->getDomain();
        EXPECT_EQ(std::vector<double>(d, d + 4), expected) << domain;
    }
}

// Function i writes from component i on: 32 functions of 3 outputs each
// must stop at the last component.
TEST(ShadingParse, ColourGettersWriteNoFurtherThanTheLastComponent) {
    std::string functions = "[";
    for (int i = 0; i < 32; ++i)
        functions += "<< /FunctionType 2 /Domain [0 1] /C0 [" + std::to_string(i) + " 7 7] /C1 [" +
                     std::to_string(i) + " 7 7] /N 1 >> ";
    auto shading = Shading::parse(
        value("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 1 1] /Function " + functions + "] >>"));
    ASSERT_TRUE(shading);
    ColorValue color;
    static_cast<AxialShading*>(shading.get())->getColor(0.5, color);
    for (int i = 0; i < kMaxColorComponents; ++i)
        EXPECT_EQ(color.c[i], i * 0x10000) << i;
}

TEST(ShadingParse, MeshValueWidthsMustLieFrom1To32) {
    for (const char* bits : {"0", "33", "-1"}) {
        ErrorCapture errors;
        const std::string dict = "<< /ShadingType 4 /ColorSpace /DeviceGray /BitsPerCoordinate " +
                                 std::string(bits) +
                                 " /BitsPerComponent 8 /BitsPerFlag 8 /Decode [0 1 0 1 0 1] >>";
        EXPECT_FALSE(Shading::parse(streamValue(dict, bytes({0, 1, 2, 3})))) << bits;
        EXPECT_TRUE(errors.contains("BitsPerCoordinate")) << bits;
    }
    // 32-bit values are read whole.
    auto wide =
        Shading::parse(streamValue("<< /ShadingType 5 /ColorSpace /DeviceGray /BitsPerCoordinate 32 "
                                   "/BitsPerComponent 16 /VerticesPerRow 2 "
                                   "/Decode [0 1 0 1 0 1] >>",
                                   bytes({255, 255, 255, 255, 0, 0, 0, 0, 128, 0})));
    ASSERT_TRUE(wide);
    EXPECT_EQ(static_cast<TriangleMeshShading*>(wide.get())->getVertexCount(), 1);
}

TEST(ShadingParse, FreeTrianglesFollowTheirEdgeFlags) {
    // Flags 0 0 0 1 2, each vertex: flag, x, y, grey.
    auto shading = Shading::parse(streamValue(
        meshDict(4, ""), bytes({0, 0, 0, 0, 0, 9, 0, 50, 0, 0, 9, 100, 1, 9, 9, 150, 2, 20, 20, 200, 7})));
    ASSERT_TRUE(shading);
    auto* mesh = static_cast<TriangleMeshShading*>(shading.get());
    ASSERT_EQ(mesh->getTriangleCount(), 3);  // the partial sixth vertex is dropped
    const int expected[3][3] = {{0, 1, 2}, {1, 2, 3}, {1, 3, 4}};
    for (int t = 0; t < 3; ++t)
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(mesh->getTriangleIndices(t)[k], expected[t][k]) << t << " " << k;
    double x[3], y[3];
    ColorValue colors[3];
    mesh->getTriangle(2, x, y, colors);
    EXPECT_EQ(x[2], 20);
    EXPECT_EQ(colors[1].c[0], colorFromDouble(150.0 / 255));
}

TEST(ShadingParse, LatticesBuildTwoTrianglesPerCellAndNoneWithoutCells) {
    const std::string six = bytes({0, 0, 0, 9, 0, 50, 0, 9, 100, 9, 9, 150, 0, 18, 200, 9, 18, 250});
    struct Case {
        int perRow;
        int triangles;
    };
    for (const Case c : {Case{2, 4}, Case{3, 4}, Case{6, 0}, Case{1, 0}, Case{0, 0}, Case{-4, 0}}) {
        ErrorCapture errors;
        auto shading =
            Shading::parse(streamValue(meshDict(5, "/VerticesPerRow " + std::to_string(c.perRow)), six));
        ASSERT_TRUE(shading) << c.perRow;
        EXPECT_EQ(static_cast<TriangleMeshShading*>(shading.get())->getTriangleCount(), c.triangles)
            << c.perRow;
    }
}

TEST(ShadingParse, PatchesShareTheEdgeTheirFlagNames) {
    // A Coons patch over the square 0..30, then one with flag 1 to its
    // right side's continuation; then flag 5, which makes no patch.
    std::string data = bytes({0,  0,  0,  0,  10, 0, 20, 0, 30, 10, 30, 20, 30, 30, 30,
                              30, 20, 30, 10, 30, 0, 20, 0, 10, 0,  10, 20, 30, 40});
    data += bytes({1, 10, 40, 20, 40, 30, 40, 30, 50, 30, 60, 20, 60, 10, 60, 0, 60, 50, 60});
    data += bytes({5, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    auto shading = Shading::parse(streamValue(meshDict(6, ""), data));
    ASSERT_TRUE(shading);
    auto* mesh = static_cast<PatchMeshShading*>(shading.get());
    ASSERT_EQ(mesh->getPatchCount(), 2);
    const ShadingPatch& first = mesh->getPatch(0);
    const ShadingPatch& second = mesh->getPatch(1);
    for (int j = 0; j < 4; ++j) {
        EXPECT_EQ(second.x[0][j], first.x[j][3]) << j;
        EXPECT_EQ(second.y[0][j], first.y[j][3]) << j;
    }
    EXPECT_EQ(second.color[0].c[0], first.color[1].c[0]);
    EXPECT_EQ(second.color[1].c[0], first.color[2].c[0]);
    EXPECT_EQ(second.color[2].c[0], colorFromDouble(50.0 / 255));
    // The interior points of a Coons patch of straight sides lie on the
    // grid between them.
    EXPECT_NEAR(first.x[1][1], 10, 1e-9);
    EXPECT_NEAR(first.y[2][2], 20, 1e-9);
}

TEST(ShadingParse, ShadingPatternsAndTheirCopiesOwnTheirShading) {
    auto pattern =
        Pattern::parse(value("<< /PatternType 2 /Matrix [2 0 0 2 5 5] /Shading << /ShadingType 2 "
                             "/ColorSpace /DeviceGray /Coords [0 0 1 0] /Function " +
                             kGrayRamp + " >> >>"));
    ASSERT_TRUE(pattern);
    ASSERT_EQ(pattern->getType(), Pattern::kShading);
    std::unique_ptr<Pattern> copy = pattern->copy();
    pattern.reset();
    auto* shadingPattern = static_cast<ShadingPattern*>(copy.get());
    EXPECT_EQ(shadingPattern->getMatrix()[4], 5);
    EXPECT_EQ(shadingPattern->getShading()->getType(), Shading::kAxialType);
    EXPECT_FALSE(Pattern::parse(value("<< /PatternType 2 /Shading << /ShadingType 9 >> >>")));
}

// --- Painting -----------------------------------------------------------------

std::string shadingResources(const std::string& shading) {
    return "<< /Shading << /S " + shading + " >> >>";
}

int count(const Lines& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines)
        n += line.rfind(prefix, 0) == 0;
    return n;
}

TEST(ShadingFillTest, CutsAsFinelyAsTheColoursAsk) {
    struct Case {
        const char* what;
        std::string shading;
        int minFills;
        int maxFills;
    };
    const Case cases[] = {
        {"black to black axial: bands of the longest kind",
         "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 100 0] /Function << /FunctionType 2 /Domain "
         "[0 1] /C0 [0] /C1 [0] /N 1 >> >>",
         ShadingFill::kSteps / ShadingFill::kMaxBandSteps, ShadingFill::kSteps / ShadingFill::kMaxBandSteps},
        {"axial ramp: at most 256 bands",
         "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 100 0] /Function " + kGrayRamp + " >>", 100,
         256},
        {"constant function: still cut to the smallest grid",
         "<< /ShadingType 1 /ColorSpace /DeviceGray /Matrix [100 0 0 100 0 0] /Function << /FunctionType 4 "
         "/Domain [0 1 0 1] /Range [0 1] /Length 15 >> stream\n{ pop pop 0.5 }\nendstream >>",
         1 << (2 * ShadingFill::kMinFunctionDepth), 1 << (2 * ShadingFill::kMinFunctionDepth)},
        {"radial with both radii 0 on one centre",
         "<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [50 50 0 50 50 0] /Extend [true true] "
         "/Function " +
             kGrayRamp + " >>",
         1, 1000},
        {"radial from a point on the other circle",
         "<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [50 50 0 30 50 20] /Extend [true true] "
         "/Function " +
             kGrayRamp + " >>",
         2, 1000},
    };
    for (const Case& c : cases) {
        ContentRun page(shadingResources(c.shading));
        page.run("/S sh");
        const int fills = count(page.device.calls, "fill");
        EXPECT_GE(fills, c.minFills) << c.what;
        EXPECT_LE(fills, c.maxFills) << c.what;
        for (const std::string& line : page.device.only({"fill"}))
            EXPECT_EQ(line.find("nan"), std::string::npos) << c.what << ": " << line;
    }
}

// A function that comes back to its first colour is no constant: the
// middle of a stitched one comes out, with the box reaching far beyond the
// axis too (the parameter then runs far past both ends), and so do the
// white squares of a checkerboard.
TEST(ShadingFillTest, AFunctionThatComesBackToItsFirstColourIsNoConstant) {
    const std::string function =
        "<< /FunctionType 3 /Domain [0 1] /Bounds [0.5] /Encode [0 1 0 1] /Functions [<< /FunctionType 2 "
        "/Domain [0 1] /C0 [0] /C1 [1] /N 1 >> << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>] >>";
    const std::string shadings[] = {
        "<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [300 0 300 2] /Extend [true true] /Function " +
            function + " >>",
        "<< /ShadingType 3 /ColorSpace /DeviceGray /Coords [300 300 0 300 300 100] /Function " + function +
            " >>",
        // Black at every corner of the quarters of a 4 x 4 checkerboard.
        "<< /ShadingType 1 /ColorSpace /DeviceGray /Matrix [100 0 0 100 0 0] /Function << /FunctionType 4 "
        "/Domain [0 1 0 1] /Range [0 1] /Length 42 >> stream\n{ 4 mul floor exch 4 mul floor add 2 mod }\n"
        "endstream >>",
    };
    for (const std::string& shading : shadings) {
        ContentRun page(shadingResources(shading));
        page.run("/S sh");
        double lightest = 0;
        for (const std::string& line : page.device.only({"updateFillColor"}))
            lightest = std::max(lightest, std::stod(line.substr(line.rfind(' ') + 1)));
        EXPECT_GT(lightest, 0.9) << shading;
    }
}

// The runs of mostly green and mostly blue fills, in the order filled (the
// bands between two runs, of mixed colour, are passed over).
int greenBlueRuns(const Lines& fills) {
    int runs = 0;
    char last = 0;
    for (const std::string& line : fills) {
        double r = 0, g = 0, b = 0;
        if (std::sscanf(line.c_str(), "updateFillColor DeviceRGB %lf %lf %lf", &r, &g, &b) != 3)
            continue;
        const char kind = g > b + 0.5 ? 'g' : b > g + 0.5 ? 'b' : 0;
        if (kind && kind != last)
            ++runs;
        if (kind)
            last = kind;
    }
    return runs;
}

// A function that alternates two colours faster than the longest band
// still shows every stripe: stitched pieces some 21 and 11 steps long,
// stripes 3 steps wide, and stripes that repeat every 3 steps (two steps
// green, one blue), along an axis and out from a centre.
TEST(ShadingFillTest, StripesNarrowerThanABandAllComeOut) {
    auto stitched = [](int count) {
        std::string pieces, bounds, encode;
        for (int i = 0; i < count; ++i) {
            pieces += i % 2 ? "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 1] /C1 [0 0 1] /N 1 >> "
                            : "<< /FunctionType 2 /Domain [0 1] /C0 [0 0.6 0] /C1 [0 0.6 0] /N 1 >> ";
            if (i > 0)
                bounds += std::to_string(double(i) / count) + " ";
            encode += "0 1 ";
        }
        return "<< /FunctionType 3 /Domain [0 1] /Bounds [" + bounds + "] /Encode [" + encode +
               "] /Functions [" + pieces + "] >>";
    };
    // Stripe k of `width` steps is green when k is even.
    auto calculated = [](const std::string& width) {
        const std::string code =
            "{ 256 mul " + width + " div floor cvi 2 mod dup 1 exch sub exch 0 3 1 roll }";
        return "<< /FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1] /Length " +
               std::to_string(code.size()) + " >> stream\n" + code + "\nendstream";
    };
    struct Case {
        const char* what;
        std::string function;
        int minRuns, maxRuns;
    };
    const Case cases[] = {
        {"twelve stitched pieces", stitched(12), 12, 12},
        {"24 stitched pieces, green and blue every 21 steps", stitched(24), 24, 24},
        {"stripes 3 steps wide", calculated("3"), 85, 86},
        {"stripes that repeat every 3 steps", calculated("1.5"), 170, 172},
    };
    const std::string geometries[] = {
        "/ShadingType 2 /Coords [0 0 256 0]",
        "/ShadingType 3 /Coords [128 128 0 128 128 128]",
    };
    for (const Case& c : cases) {
        for (const std::string& geometry : geometries) {
            ContentRun page(shadingResources("<< " + geometry + " /ColorSpace /DeviceRGB /Function " +
                                             c.function + " >>"));
            page.run("/S sh");
            const int runs = greenBlueRuns(page.device.only({"updateFillColor"}));
            EXPECT_GE(runs, c.minRuns) << c.what << ", " << geometry;
            EXPECT_LE(runs, c.maxRuns) << c.what << ", " << geometry;
        }
    }
}

TEST(ShadingFillTest, AntialiasingIsOffForTheFillAndOnAfter) {
    ContentRun page(
        shadingResources("<< /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 100 0] /BBox [0 0 50 50] "
                         "/Function " +
                         kGrayRamp + " >>"));
    page.device.antialias = true;
    page.run("/S sh");
    const Lines calls = page.device.only({"setAntialias", "fill", "clip"});
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(calls.front(), "setAntialias 0");
    EXPECT_EQ(calls[1], "clip M 0 0 L 50 0 L 50 50 L 0 50 L 0 0 Z");
    EXPECT_EQ(calls.back(), "setAntialias 1");
    EXPECT_TRUE(page.device.antialias);
}

TEST(ShadingFillTest, PatchMeshesStartDeeperAsTheyGrowAndFillConvertedColours) {
    EXPECT_EQ(ShadingFill::patchStartDepth(200), 3);
    EXPECT_EQ(ShadingFill::patchStartDepth(100), 2);
    EXPECT_EQ(ShadingFill::patchStartDepth(17), 1);
    EXPECT_EQ(ShadingFill::patchStartDepth(16), 0);

    // One flat patch whose corners hold t = 64/255 through a function that
    // inverts: the fill takes 1 - t, not t.
    std::string data = bytes({0,  0,  0,  0,  10, 0, 20, 0, 30, 10, 30, 20, 30, 30, 30,
                              30, 20, 30, 10, 30, 0, 20, 0, 10, 0,  64, 64, 64, 64});
    ContentRun page;
    PdfValue stream = page.values.stream(
        data, meshDict(6, "/Function << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>"));
    auto shading = Shading::parse(stream);
    ASSERT_TRUE(shading);
    auto state = std::make_unique<GraphicsState>(72, 72, PageBox{0, 0, 612, 792}, 0, true);
    state->setFillColorSpace(shading->getColorSpace()->copy());
    int64_t budget = 1000;
    ShadingFill(state, &page.device, &budget).paint(shading.get());
    EXPECT_EQ(page.device.only({"updateFillColor"}),
              Lines({"updateFillColor DeviceGray " + test::RecordingDevice::num(colorToDouble(colorFromDouble(
                                                         1 - colorToDouble(colorFromDouble(64.0 / 255)))))}));
}

// Pieces overlap by a pixel where they meet: they are painted into a group
// first, which is painted once, through the clip and at the opacity.
TEST(ShadingFillTest, ShadingsArePaintedAsOneGroup) {
    ContentRun page(
        "<< /ExtGState << /H << /ca 0.5 >> >> /Shading << /S << /ShadingType 2 /ColorSpace "
        "/DeviceGray /Coords [0 0 100 0] /Function " +
        kGrayRamp + " >> >> >>");
    page.run("/S sh /H gs /S sh");
    const Lines calls = page.device.only(
        {"beginTransparencyGroup", "endTransparencyGroup", "paintTransparencyGroup", "updateFillOpacity"});
    ASSERT_EQ(calls.size(), 8u) << testing::PrintToString(calls);
    EXPECT_EQ(calls[0].rfind("beginTransparencyGroup", 0), 0u);
    EXPECT_NE(calls[0].find("isolated"), std::string::npos);
    EXPECT_EQ(calls[2], "paintTransparencyGroup");
    EXPECT_EQ(calls[3], "updateFillOpacity 0.5");
    EXPECT_EQ(calls[4], "updateFillOpacity 1");
    EXPECT_EQ(calls[5].rfind("beginTransparencyGroup", 0), 0u);
    EXPECT_EQ(calls[7], "paintTransparencyGroup");
}

TEST(ShadingFillTest, PatternTextClipsToItsGlyphsAndPaintsThePatternThrough) {
    ContentRun page(
        "<< /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> /Pattern << /S "
        "<< /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceGray /Coords [0 0 100 0] "
        "/Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [0] /N 1 >> >> >> >> >>");
    page.run("BT /F1 12 Tf 5 Tc 10 20 Td /Pattern cs /S scn (AB) Tj (C) Tj ET");
    const Lines calls = page.device.only({"drawChar", "finishTextObject", "fill", "clip"});
    // Per string: its glyphs as a clip, then the bands of the black axial
    // through it; the second string goes on where the first ended.
    ASSERT_GE(calls.size(), 6u) << testing::PrintToString(calls);
    EXPECT_EQ(calls[0].rfind("drawChar 65 10 20", 0), 0u);
    EXPECT_EQ(calls[2], "finishTextObject");
    const auto second = std::find_if(calls.begin(), calls.end(),
                                     [](const std::string& c) { return c.rfind("drawChar 67", 0) == 0; });
    ASSERT_NE(second, calls.end());
    EXPECT_NE(*second, "drawChar 67 10 20");
    EXPECT_EQ(*(second + 1), "finishTextObject");
    for (auto it = calls.begin() + 3; it != calls.end(); ++it) {
        if (it != second) {
            EXPECT_TRUE(it->rfind("fill", 0) == 0 || *it == "finishTextObject") << *it;
        }
    }
    EXPECT_EQ(page.state()->getRenderMode(), 0);
}

const std::string kTile = "/PatternType 1 /TilingType 1 /BBox [0 0 10 10] /Resources << >> ";

std::string tileResources(const std::string& entries, const std::string& content = "0 0 5 5 re f") {
    const std::string paintType = entries.find("/PaintType") == std::string::npos ? "/PaintType 1 " : "";
    return "<< /Pattern << /P << " + kTile + paintType + entries + " /Length " +
           std::to_string(content.size()) + " >> stream\n" + content + "\nendstream >> >>";
}

TEST(TilingFillTest, TilesCoverTheClipAndNothingBeyond) {
    struct Case {
        const char* what;
        std::string entries;
        std::string content;
        int fills;
        const char* report;
    };
    const Case cases[] = {
        // Cells that only touch the clip's edge count too: 4 x 4.
        {"2 x 2 cells and their neighbours", "/XStep 10 /YStep 10",
         "0 0 20 20 re W n /Pattern cs /P scn 0 0 20 20 re f", 16, nullptr},
        {"clip between the cells", "/XStep 100 /YStep 100",
         "150 150 10 10 re W n /Pattern cs /P scn 150 150 10 10 re f", 0, nullptr},
        {"step 0", "/XStep 0 /YStep 10", "/Pattern cs /P scn 0 0 20 20 re f", 0, "step of 0 by 10"},
        {"singular matrix", "/XStep 10 /YStep 10 /Matrix [0 0 0 0 0 0]", "/Pattern cs /P scn 0 0 20 20 re f",
         0, "singular"},
        {"a tiny step over the page", "/XStep 0.01 /YStep 0.01", "/Pattern cs /P scn 0 0 600 700 re f", 65536,
         "only the first"},
    };
    for (const Case& c : cases) {
        ContentRun page(tileResources(c.entries));
        page.device.recordUpdates = false;
        page.run(c.content);
        EXPECT_EQ(count(page.device.calls, "fill "), c.fills) << c.what;
        if (c.report) {
            EXPECT_TRUE(page.errors.contains(c.report)) << c.what;
        }
    }
}

TEST(TilingFillTest, ADeviceThatTilesGetsTheIndexRangeAndNoContentRuns) {
    ContentRun page(tileResources("/XStep 10 /YStep 10"));
    page.device.tilingPatterns = true;
    page.run("/Pattern cs /P scn 0 0 30 20 re f");
    EXPECT_EQ(page.device.only({"fillTilingPattern"}), Lines({"fillTilingPattern 1 -1 -1 4 3"}));
    EXPECT_EQ(count(page.device.calls, "fill "), 0);
}

TEST(TilingFillTest, UncolouredCellsPaintInTheGivenColourOrBlack) {
    const std::string entries = "/PaintType 2 /XStep 10 /YStep 10";
    ContentRun page("<< /ColorSpace << /PRgb [/Pattern /DeviceRGB] >> " + tileResources(entries).substr(3));
    page.run("0 0 10 10 re W n /PRgb cs 1 0 0 /P scn 0 0 10 10 re f");
    EXPECT_TRUE(page.errors.empty());
    EXPECT_EQ(page.device.only({"updateFillColor"}).back(), "updateFillColor DeviceRGB 1 0 0");
    ContentRun plain(tileResources(entries));
    plain.run("0 0 10 10 re W n /Pattern cs /P scn 0 0 10 10 re f");
    EXPECT_EQ(plain.device.only({"updateFillColor"}).back(), "updateFillColor DeviceGray 0");
}

TEST(TilingFillTest, APatternThatPaintsWithItselfStopsAtTheNestingBound) {
    ContentRun page(tileResources("/XStep 100 /YStep 100", "/Pattern cs /P scn 0 0 10 10 re f 1 1 1 1 re f"));
    page.device.recordUpdates = false;
    page.run("0 0 10 10 re W n /Pattern cs /P scn 0 0 10 10 re f");
    EXPECT_EQ(count(page.device.calls, "fill "), 0);
    EXPECT_EQ(page.interpreter().getFormDepth(), 0);
    EXPECT_FALSE(page.errors.contains("Too many nested"));
}

// --- Meshes written by the peer ------------------------------------------------

// PostScript meshes of types 4 to 7 through the peer's PDF writer, which
// packs them with widths and Decode ranges of its own: the decoded vertices
// and patches must give back the PostScript values.
TEST(ShadingPeerMeshes, MeshesOfThePeersWriterDecodeToTheirSourceValues) {
    if (test::runShell("command -v ps2pdf").first != 0)
        GTEST_SKIP() << "ps2pdf is not installed";
    std::string folderTemplate = (std::filesystem::temp_directory_path() / "rendova_meshes_XXXXXX").string();
    ASSERT_NE(mkdtemp(folderTemplate.data()), nullptr);
    const std::filesystem::path folder = folderTemplate;
    std::ofstream(folder / "m.ps")
        << "%!PS\n"
           "<< /ShadingType 4 /ColorSpace /DeviceRGB /DataSource [0 10 20 1 0 0  0 200 30 0 1 0  0 100 250 0 "
           "0 1"
           "  1 250 200 1 1 0  2 255 40 1 0 1] >> shfill\n"
           "<< /ShadingType 5 /ColorSpace /DeviceGray /VerticesPerRow 3 /DataSource [300 10 0  400 40 0.5  "
           "500 10 1"
           "  300 200 0.25  400 230 0.75  500 200 0] >> shfill\n"
           "<< /ShadingType 6 /ColorSpace /DeviceGray /DataSource [0  50 300 50 350 60 400 50 450  100 440 "
           "150 450"
           " 200 450  190 400 200 350 200 300  150 310 100 300  0 0.3 0.6 1] >> shfill\n"
           "<< /ShadingType 7 /ColorSpace /DeviceGray /DataSource [0  300 300 300 350 310 400 300 450  350 "
           "440 400"
           " 450 450 450  440 400 450 350 450 300  400 310 350 300  350 350 350 400 400 400 400 350  1 0.6 "
           "0.3 0]"
           " >> shfill\nshowpage\n";
    const auto [status, output] = test::runShell("ps2pdf " + test::shellQuote((folder / "m.ps").string()) +
                                                 " " + test::shellQuote((folder / "m.pdf").string()));
    ASSERT_EQ(status, 0) << output;

    int seen = 0;
    {
        PdfDocument doc(std::make_unique<DynString>((folder / "m.pdf").c_str()), nullptr, nullptr);
        ASSERT_TRUE(doc.isOk());
        PdfDict* resources = doc.getPage(1)->getResourceDict();
        ASSERT_NE(resources, nullptr);
        PdfValue shadings;
        resources->lookup("Shading", shadings);
        ASSERT_TRUE(shadings.isDict());
        // The writer packs coordinates of -16384 .. 16384 into 24 bits: one
        // step is 0.002.
        const double kNear = 2e-3;
        for (int i = 0; i < shadings.getDict()->getLength(); ++i) {
            PdfValue entry;
            shadings.getDict()->lookup(shadings.getDict()->keyAt(i), entry);
            std::unique_ptr<Shading> shading = Shading::parse(entry);
            ASSERT_TRUE(shading);
            double x[3], y[3];
            ColorValue c[3];
            if (shading->getType() == Shading::kFreeTriangleType) {
                auto* mesh = static_cast<TriangleMeshShading*>(shading.get());
                ASSERT_EQ(mesh->getTriangleCount(), 3);
                mesh->getTriangle(2, x, y, c);  // vertices 1, 3, 4
                EXPECT_NEAR(x[0], 200, kNear);
                EXPECT_NEAR(y[1], 200, kNear);
                EXPECT_NEAR(x[2], 255, kNear);
                EXPECT_NEAR(colorToDouble(c[2].c[2]), 1, kNear);
                EXPECT_NEAR(colorToDouble(c[1].c[1]), 1, kNear);
            } else if (shading->getType() == Shading::kLatticeTriangleType) {
                auto* mesh = static_cast<TriangleMeshShading*>(shading.get());
                ASSERT_EQ(mesh->getTriangleCount(), 4);
                mesh->getTriangle(0, x, y, c);  // vertices 0, 1, 3
                EXPECT_NEAR(y[1], 40, kNear);
                EXPECT_NEAR(y[2], 200, kNear);
                EXPECT_NEAR(colorToDouble(c[1].c[0]), 0.5, kNear);
                EXPECT_NEAR(colorToDouble(c[2].c[0]), 0.25, kNear);
            } else {
                auto* mesh = static_cast<PatchMeshShading*>(shading.get());
                ASSERT_EQ(mesh->getPatchCount(), 1);
                const ShadingPatch& p = mesh->getPatch(0);
                const double x0 = shading->getType() == Shading::kCoonsPatchType ? 50 : 300;
                EXPECT_NEAR(p.x[0][0], x0, kNear);
                EXPECT_NEAR(p.y[0][2], 400, kNear);
                EXPECT_NEAR(p.x[0][2], x0 + 10, kNear);
                EXPECT_NEAR(p.x[2][0], x0 + 100, kNear);
                EXPECT_NEAR(p.y[3][1], 350, kNear);
                if (shading->getType() == Shading::kTensorPatchType) {
                    EXPECT_NEAR(p.x[1][1], 350, kNear);
                    EXPECT_NEAR(p.y[2][1], 350, kNear);
                    EXPECT_NEAR(colorToDouble(p.color[2].c[0]), 0.3, kNear);
                } else {
                    EXPECT_NEAR(colorToDouble(p.color[2].c[0]), 0.6, kNear);
                }
            }
            ++seen;
        }
    }
    EXPECT_EQ(seen, 4);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace rendova
