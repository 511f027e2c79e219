#pragma once

// Built pages of shadings and patterns for the render tests (added to
// vectorPages() and named in tests/render/manifest): every shading type with
// and without Extend, Background and BBox, shading patterns under fills and
// strokes, and coloured and uncoloured tiling patterns under turned and
// scaled matrices. Mesh data is hex text of 8-bit values.
#include <cstdio>
#include <initializer_list>
#include <string>

namespace rendova::test {

// Bytes as hex text for an ASCIIHexDecode stream.
inline std::string hexBytes(std::initializer_list<int> bytes) {
    std::string out;
    char buffer[4];
    for (int b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x", b & 0xff);
        out += buffer;
    }
    return out + ">";
}

template <typename Pages>
void addShadingPages(Pages& pages) {
    const std::string redBlue = "<< /FunctionType 2 /Domain [0 1] /C0 [1 0 0] /C1 [0 0 1] /N 1 >>";
    const std::string greenYellow = "<< /FunctionType 2 /Domain [0 1] /C0 [0 0.6 0] /C1 [1 1 0] /N 1 >>";
    // Three one-output functions, one per component.
    const std::string perComponent =
        "[<< /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] /N 1 >> "
        "<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 2 >> "
        "<< /FunctionType 2 /Domain [0 1] /C0 [0.5] /C1 [0.5] /N 1 >>]";

    // Axial: plain, extended both ways, extended at the end only with a
    // BBox, a steep axis, per-component functions. Function: a calculator
    // function over a Domain of its own through a Matrix.
    auto& axial = pages["shading-axial-function"];
    axial.resources =
        "<< /Shading << /A << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [20 0 60 0] /Function " +
        redBlue +
        " >> /AE << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [100 0 140 0] /Extend [true true] "
        "/Function " +
        greenYellow +
        " >> /AB << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [170 20 200 60] /Extend [false true] "
        "/BBox [160 10 230 70] /Function " +
        redBlue +
        " >> /AC << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [20 100 50 160] /Domain [0.2 0.8] "
        "/Function " +
        perComponent +
        " >> /F << /ShadingType 1 /ColorSpace /DeviceRGB /Domain [0 2 0 1] /Matrix [40 0 10 60 90 100] "
        "/Function 10 0 R >> >> >>";
    axial.streams = {{10,
                      {"<< /FunctionType 4 /Domain [0 2 0 1] /Range [0 1 0 1 0 1] >>",
                       "{ 2 copy mul 3 1 roll 2 div exch }"}}};
    axial.content =
        "q 10 10 70 70 re W n /A sh Q q 90 10 60 70 re W n /AE sh Q /AB sh "
        "q 10 95 60 75 re W n /AC sh Q /F sh";

    // Radial: nested circles with both extends, nested without, shrinking
    // nested with extends, a cone from a point with both extends and
    // one without.
    auto& radial = pages["shading-radial"];
    auto radialShading = [&](const std::string& coords, const std::string& extend) {
        return "<< /ShadingType 3 /ColorSpace /DeviceRGB /Coords [" + coords + "] /Extend [" + extend +
               "] /Function " + greenYellow + " >>";
    };
    radial.resources = "<< /Shading << /N1 " + radialShading("40 40 5 45 45 30", "true true") + " /N2 " +
                       radialShading("120 40 8 120 40 30", "false false") + " /N3 " +
                       radialShading("200 40 30 205 45 6", "true true") + " /C1 " +
                       radialShading("100 130 0 40 130 25", "true true") + " /C2 " +
                       radialShading("220 130 4 160 120 20", "false false") + " >> >>";
    radial.content =
        "q 5 5 75 75 re W n /N1 sh Q /N2 sh q 160 5 75 75 re W n /N3 sh Q "
        "q 5 90 110 85 re W n /C1 sh Q /C2 sh";

    // Meshes: a free triangle mesh (flags 0 0 0 1 2), a lattice of 3 x 2
    // vertices, a Coons patch followed by one sharing its edge, and a
    // tensor patch; coordinates are 0 .. 255 in the Decode ranges.
    auto& meshes = pages["shading-meshes"];
    const std::string meshDict =
        " /BitsPerCoordinate 8 /BitsPerComponent 8 /ColorSpace /DeviceRGB "
        "/Filter /ASCIIHexDecode ";
    meshes.resources = "<< /Shading << /T4 10 0 R /T5 11 0 R /T6 12 0 R /T7 13 0 R >> >>";
    meshes.streams = {
        {10,
         {"<< /ShadingType 4 /BitsPerFlag 8 /Decode [0 100 0 80 0 1 0 1 0 1]" + meshDict + ">>",
          hexBytes({0, 0,   0,   255, 0,   0,    // flag, x, y, red, green, blue
                    0, 200, 0,   0,   255, 0,    //
                    0, 100, 250, 0,   0,   255,  //
                    1, 250, 200, 255, 255, 0,    //
                    2, 255, 40,  255, 0,   255})}},
        {11,
         {"<< /ShadingType 5 /VerticesPerRow 3 /Decode [0 100 0 80 0 1 0 1 0 1]" + meshDict + ">>",
          hexBytes({0, 0,   255, 0,   0, 128, 30,  0,   255, 0,   255, 0,   0, 0,   255,  //
                    0, 255, 255, 255, 0, 128, 230, 255, 255, 255, 255, 255, 0, 255, 255})}},
        {12,
         {"<< /ShadingType 6 /BitsPerFlag 8 /Decode [0 120 0 80 0 1 0 1 0 1]" + meshDict + ">>",
          hexBytes({0, 0, 0, 0, 43, 8, 85, 0, 128, 43, 122, 85, 128, 128, 128, 120, 85, 128, 43, 128, 0, 85,
                    8, 43, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0,
                    // Flag 1: the upper edge of the first is the lower edge of the second.
                    1, 120, 170, 128, 210, 128, 255, 85, 245, 43, 255, 0, 255, 8, 210, 0, 170, 255, 0, 255, 0,
                    255, 255})}},
        {13,
         {"<< /ShadingType 7 /BitsPerFlag 8 /Decode [0 100 0 80 0 1 0 1 0 1]" + meshDict + ">>",
          hexBytes({0,   0,   0,   0,   85,  20,  170, 0,   255, 85,  235, 170, 255, 255, 255,
                    235, 170, 255, 85,  255, 0,   170, 20,  85,  0,   100, 60,  60,  200, 170,
                    150, 200, 60,  255, 0,   255, 0,   255, 255, 255, 255, 0,   0,   0,   255})}},
    };
    meshes.content =
        "q 1 0 0 1 10 10 cm /T4 sh Q q 1 0 0 1 130 10 cm /T5 sh Q q 1 0 0 1 5 95 cm /T6 sh Q "
        "q 1 0 0 1 135 95 cm /T7 sh Q";

    // Shading patterns: an axial one through a star (fill), with a
    // Background under a turned matrix, and one under a wide stroke.
    auto& shadingPatterns = pages["shading-patterns"];
    shadingPatterns.resources =
        "<< /Pattern << /P1 << /PatternType 2 /Matrix [1 0 0 1 10 0] /Shading << /ShadingType 2 /ColorSpace "
        "/DeviceRGB /Coords [0 0 120 0] /Extend [true true] /Function " +
        redBlue +
        " >> >> /P2 << /PatternType 2 /Matrix [0.7 0.7 -0.7 0.7 160 40] /Shading << /ShadingType 3 "
        "/ColorSpace /DeviceRGB /Background [0.9 0.9 0.2] /Coords [0 0 5 0 0 40] /Function " +
        greenYellow +
        " >> >> /P3 << /PatternType 2 /Shading << /ShadingType 2 /ColorSpace /DeviceGray /Coords [20 0 220 "
        "0] "
        "/Extend [true true] /Function << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [0.8] /N 1 >> >> >> >> "
        ">>";
    shadingPatterns.content =
        "/Pattern cs /P1 scn 20 10 m 50 90 l 80 10 l 5 60 l 95 60 l h f "
        "/P2 scn 120 10 100 80 re f "
        "/Pattern CS /P3 SCN 12 w 30 120 m 120 170 l 210 120 l S";

    // Tiling patterns: a coloured cell of two squares under a turned
    // matrix, an uncoloured cross in two colours under a scaled matrix,
    // and a coloured pattern under a stroke.
    auto& tiling = pages["tiling-patterns"];
    tiling.resources =
        "<< /ColorSpace << /PRgb [/Pattern /DeviceRGB] >> /Pattern << /C 10 0 R /U 11 0 R /S 12 0 R >> >>";
    tiling.streams = {
        {10,
         {"<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 12 12] /XStep 12 /YStep 12 "
          "/Matrix [0.87 0.5 -0.5 0.87 0 0] /Resources << >> >>",
          "0.8 0.2 0.2 rg 0 0 6 6 re f 0.2 0.3 0.8 rg 6 6 6 6 re f"}},
        {11,
         {"<< /PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 10 10] /XStep 10 /YStep 10 "
          "/Matrix [1.5 0 0 0.8 0 0] /Resources << >> >>",
          "4 0 2 10 re f 0 4 10 2 re f"}},
        {12,
         {"<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 8 8] /XStep 8 /YStep 8 /Resources << >> "
          ">>",
          "0 0.5 0 rg 0 0 4 8 re f"}},
    };
    tiling.content =
        "/Pattern cs /C scn 10 10 100 70 re f "
        "/PRgb cs 0.1 0.6 0.2 /U scn 130 10 100 70 re f 0.7 0.1 0.5 /U scn 10 95 100 75 re f "
        "/Pattern CS /S SCN 14 w 140 110 m 220 160 l S";

    // Stripes narrower than the longest band: a stitched function of 24
    // pieces alternating green and blue along an axis and out from a centre,
    // and a calculator function whose stripes are 3 of the 256 steps wide.
    std::string pieces, bounds, encode;
    for (int i = 0; i < 24; ++i) {
        pieces += i % 2 ? "<< /FunctionType 2 /Domain [0 1] /C0 [0 0 1] /C1 [0 0 1] /N 1 >> "
                        : "<< /FunctionType 2 /Domain [0 1] /C0 [0 0.6 0] /C1 [0 0.6 0] /N 1 >> ";
        if (i > 0)
            bounds += std::to_string(i / 24.0) + " ";
        encode += "0 1 ";
    }
    const std::string stitched = "<< /FunctionType 3 /Domain [0 1] /Bounds [" + bounds + "] /Encode [" +
                                 encode + "] /Functions [" + pieces + "] >>";
    auto& stripes = pages["shading-stripes"];
    stripes.resources =
        "<< /Shading << /A << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [10 0 230 0] /Function " +
        stitched + " >> /R << /ShadingType 3 /ColorSpace /DeviceRGB /Coords [60 125 0 60 125 50] /Function " +
        stitched +
        " >> /C << /ShadingType 2 /ColorSpace /DeviceRGB /Coords [130 0 1000 0] /Function 10 0 R >> >> >>";
    stripes.streams = {{10,
                        {"<< /FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1] >>",
                         "{ 256 mul 3 div floor cvi 2 mod dup 1 exch sub exch 0 3 1 roll }"}}};
    stripes.content = "q 10 10 220 60 re W n /A sh Q /R sh q 130 80 100 90 re W n /C sh Q";
}

}  // namespace rendova::test
