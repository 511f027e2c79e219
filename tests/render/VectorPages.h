#pragma once

// The vector-only pages of the render tests, built as PDF files by the tests
// themselves: paths and fill rules, strokes, dashes, clips, colours in every
// colour space, graphics-state parameters, page rotation with a crop box,
// and the symbol and dingbat standard fonts. Each is named in tests/render/manifest as "built:<name>".
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/render/FormPages.h"
#include "tests/render/ShadingPages.h"
#include "tests/render/TransparencyPages.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {

struct VectorPage {
    std::string pageEntries;     // extra entries of the page dictionary
    std::string catalogEntries;  // extra entries of the catalog
    std::string resources;       // the /Resources dictionary
    std::string content;
    std::vector<std::pair<int, std::string>> objects;                          // objects from 10 on
    std::vector<std::pair<int, std::pair<std::string, std::string>>> streams;  // number, dictionary, data
};

inline std::string buildVectorPdf(const VectorPage& page) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R " + page.catalogEntries + " >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 240 180] " + page.pageEntries +
                       " /Resources " + (page.resources.empty() ? std::string("<< >>") : page.resources) +
                       " /Contents 4 0 R >>")
        .stream(4, "<< >>", page.content);
    for (const auto& [num, body] : page.objects)
        pdf.object(num, body);
    for (const auto& [num, stream] : page.streams)
        pdf.stream(num, stream.first, stream.second);
    pdf.xrefTable();
    return pdf.bytes();
}

// A circle of radius r around (x, y) from four Bezier arcs.
inline std::string circle(double x, double y, double r) {
    const double k = 0.5523 * r;
    auto n = [](double v) { return std::to_string(v) + " "; };
    return n(x + r) + n(y) + "m " + n(x + r) + n(y + k) + n(x + k) + n(y + r) + n(x) + n(y + r) + "c " +
           n(x - k) + n(y + r) + n(x - r) + n(y + k) + n(x - r) + n(y) + "c " + n(x - r) + n(y - k) +
           n(x - k) + n(y - r) + n(x) + n(y - r) + "c " + n(x + k) + n(y - r) + n(x + r) + n(y - k) +
           n(x + r) + n(y) + "c h ";
}

inline std::map<std::string, VectorPage> vectorPages() {
    std::map<std::string, VectorPage> pages;

    pages["vector-paths"].content =
        // A five-pointed star by both rules.
        "0.1 0.2 0.7 rg 20 20 m 70 150 l 120 20 l 10 100 l 130 100 l h f "
        "0.8 0.1 0.1 rg 130 20 m 180 150 l 230 20 l 120 100 l 240 100 l h f* "
        // Rings: a circle with a hole wound the other way (nonzero keeps
        // the hole) and the same way (nonzero fills it).
        "0 0.5 0 rg " +
        circle(40, 160, 15) + "40 150 m 30 160 l 40 170 l 50 160 l h f " + "0.5 0 0.5 rg " +
        circle(90, 160, 15) +
        "90 150 m 100 160 l 90 170 l 80 160 l h f* "
        // Curves that cross themselves, y and v forms, an open sub-path
        // closed by the fill.
        "0.9 0.6 0 rg 150 140 m 230 180 150 180 230 140 c 200 120 190 175 y 150 140 l f "
        "0 0.6 0.6 rg 160 110 m 200 130 230 110 v 230 125 l f "
        // Thin slivers and a rectangle with a negative width.
        "0 0 0 rg 20 60 m 220 62 l 220 63 l h f 200 40 -60 8 re f";

    pages["vector-strokes"].content =
        "0 0 0 RG 12 w 0 J 30 160 m 110 160 l S 1 J 30 135 m 110 135 l S 2 J 30 110 m 110 110 l S "
        "0 0 0.6 RG 10 w 0 j 130 100 m 150 170 l 170 100 l S 1 j 175 100 m 195 170 l 215 100 l S "
        "2 j 10 30 m 30 90 l 50 30 l S "
        "0.7 0 0 RG 6 w 0 j 2 M 60 40 m 140 50 l 60 60 l S 10 M 150 40 m 230 50 l 150 60 l S "
        // Closed shapes join at their start; curves stroke smoothly.
        "0 0.5 0 RG 4 w 1 j 70 70 m 110 70 l 90 95 l h S " +
        circle(200, 20, 12) + "S " +
        // Transformed strokes: a rotation and an uneven scale.
        "q 0.866 0.5 -0.5 0.866 20 5 cm 0.5 0 0.5 RG 3 w 0 0 m 40 0 l 40 20 l S Q "
        "q 2 0 0 0.5 90 5 cm 0 0 0 RG 3 w 0 0 m 20 30 l 40 0 l S Q";

    pages["vector-dashes"].content =
        "0 0 0 RG 4 w [12 6] 0 d 10 170 m 230 170 l S [12 6] 9 d 10 155 m 230 155 l S "
        "[20 5 5 5] 0 d 1 J 10 140 m 230 140 l S [3 2] 4 d 0 J 10 125 m 230 125 l S "
        "[6] 0 d 2 J 10 110 m 230 110 l S "
        "[15 10] 0 d 2 j 20 50 m 60 100 l 100 50 l 140 100 l 180 50 l 220 100 l S "
        // Dashes follow curves and closed paths.
        "0.6 0 0 RG 2 w [8 4] 0 d " +
        circle(40, 25, 18) +
        "S [1 3] 0 d 1 J 100 10 60 30 re S "
        // A phase beyond the pattern's length; an empty array ends the
        // dashing. (A pattern of total length zero strokes solid here and
        // draws nothing in the peer: RasterOutputDeviceTest covers it.)
        "0 0 0.6 RG [4 4] 30 d 180 10 m 230 40 l S [] 0 d 180 40 m 230 10 l S";

    pages["vector-clips"].content =
        // A round clip over a full-page fill.
        "q " + circle(60, 120, 50) +
        "W n 0.2 0.6 0.2 rg 0 0 240 180 re f Q "
        // Even-odd clip with a hole, a stroke through it.
        "q 130 90 100 80 re 150 110 60 40 re W* n 0 0 0.8 rg 120 80 120 100 re f "
        "0.8 0 0 RG 8 w 120 80 m 240 180 l S Q "
        // Nested clips intersect; the restore undoes both.
        "q 10 10 120 60 re W n 40 0 40 180 re W n 0.9 0.5 0 rg 0 0 240 180 re f Q "
        // A rotated rectangle clip, a clip by a triangle with nonzero
        // winding, then a fill after the restore is unclipped.
        "q 0.94 0.34 -0.34 0.94 160 10 cm 0 0 50 30 re W n 0.5 0 0.5 rg -50 -50 200 200 re f Q "
        "q 140 10 m 235 10 l 235 60 l h W n 0 0 0 rg 10 w 140 60 m 235 10 l S Q "
        "0 0 0 rg 225 170 10 5 re f";

    // Colour spaces whose colours both renderers compute alike.
    VectorPage& colours = pages["vector-colours"];
    colours.resources =
        "<< /ColorSpace << "
        "/CG [/CalGray << /WhitePoint [0.9505 1 1.089] /Gamma 1 >>] "
        "/CR [/CalRGB << /WhitePoint [0.9505 1 1.089] >>] "
        "/IxR [/Indexed /DeviceRGB 3 <ff000000ff000000ff808080>] "
        "/IxG [/Indexed /DeviceGray 2 <00 80 ff>] "
        "/Sp [/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0 0.4 0.8] /N 1 "
        ">>] "
        "/SpCalc [/Separation /Calc /DeviceGray 10 0 R] "
        "/SpSampled [/Separation /Sampled /DeviceRGB 11 0 R] "
        "/None [/Separation /None /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>] "
        "/Icc1 [/ICCBased 13 0 R] /Icc3 [/ICCBased 14 0 R] "
        ">> >>";
    colours.streams = {
        {10, {"<< /FunctionType 4 /Domain [0 1] /Range [0 1] >>", "{ 1 exch sub }"}},
        // Two samples of 8 bits per output: tint 0 white, tint 1 dark blue.
        {11,
         {"<< /FunctionType 0 /Domain [0 1] /Range [0 1 0 1 0 1] /Size [2] /BitsPerSample 8 >>",
          std::string("\xff\xff\xff\x00\x00\x80", 6)}},
        {13, {"<< /N 1 /Alternate /DeviceGray >>", ""}},
        {14, {"<< /N 3 /Alternate /DeviceRGB >>", ""}},
    };
    // A grid of 30 x 30 swatches: fills in the top rows, strokes below.
    colours.content =
        "0.3 g 5 145 30 30 re f 0.9 0.2 0.1 rg 35 145 30 30 re f 0 g 65 145 30 30 re f 1 0 1 rg 95 145 30 30 "
        "re f "
        "/CG cs 0.6 sc 125 145 30 30 re f /CR cs 0.1 0.4 0.9 sc 155 145 30 30 re f "
        "/IxR cs 1 sc 185 145 30 30 re f 3 sc 215 145 20 30 re f "
        "/IxG cs 1 sc 5 110 30 30 re f /Sp cs 0.5 scn 35 110 30 30 re f 1 scn 65 110 30 30 re f "
        "/SpCalc cs 0.25 scn 95 110 30 30 re f /SpSampled cs 0.5 scn 125 110 30 30 re f 1 scn 155 110 30 30 "
        "re f "
        "/Icc1 cs 0.7 scn 185 110 30 30 re f /Icc3 cs 0.8 0.3 0.5 scn 215 110 20 30 re f "
        "/None cs 1 scn 5 75 30 30 re f /DeviceRGB cs 0.2 0.9 0.6 sc 35 75 30 30 re f "
        "/DeviceGray cs 0.85 sc 65 75 30 30 re f "
        // Strokes in several spaces; colours set by the generic operators.
        "8 w 0 0.5 1 RG 10 50 m 230 50 l S /CR CS 0.7 0.1 0.3 SC 10 35 m 230 35 l S "
        "/IxR CS 2 SC 10 20 m 110 20 l S /Sp CS 0.8 SCN 130 20 m 230 20 l S "
        "0.5 G 10 8 m 230 8 l S";

    // Colours the peer converts otherwise: process colours (by the plain
    // complement here, by the table of printed inks in the engine), tint
    // transforms whose tint 0 is not white, DeviceN, /All and Lab. The
    // exact values are checked in RasterOutputDeviceTest; this page keeps
    // the shapes compared.
    VectorPage& approx = pages["vector-colours-approximated"];
    approx.resources =
        "<< /ColorSpace << "
        "/IxK [/Indexed /DeviceCMYK 1 <00ff000000000000ff>] "
        "/SpSampled [/Separation /Sampled /DeviceRGB 11 0 R] "
        "/All [/Separation /All /DeviceGray << /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>] "
        "/Dn [/DeviceN [/A /B] /DeviceRGB 12 0 R] "
        "/Lab [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-100 100 -100 100] >>] "
        ">> >>";
    approx.streams = {
        {11,
         {"<< /FunctionType 0 /Domain [0 1] /Range [0 1 0 1 0 1] /Size [2] /BitsPerSample 8 >>",
          std::string("\xff\xff\x00\x00\x00\x80", 6)}},
        {12, {"<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1] >>", "{ 0.5 3 1 roll }"}},
    };
    approx.content =
        "0.2 0.7 0.1 0 k 5 145 30 30 re f 0 0 0 1 k 35 145 30 30 re f 1 0 1 0 k 65 145 30 30 re f "
        "0 0 1 0 k 95 145 30 30 re f 0.5 0.5 0.5 0.5 k 125 145 30 30 re f /IxK cs 0 sc 155 145 30 30 re f "
        "/SpSampled cs 0 scn 185 145 30 30 re f /All cs 0.4 scn 5 110 30 30 re f "
        "/Dn cs 0.3 0.9 scn 35 110 30 30 re f /Lab cs 50 20 -30 sc 65 110 30 30 re f "
        "8 w 0 1 0 0 K 10 50 m 230 50 l S";

    VectorPage& gstate = pages["vector-gstate"];
    gstate.resources =
        "<< /ExtGState << /Half << /ca 0.5 /CA 0.5 >> /Opaque << /ca 1 /CA 1 /BM /Normal >> "
        "/Mul << /BM /Multiply >> /Scr << /BM /Screen >> /Dif << /BM /Difference >> /Dark << /BM /Darken >> "
        "/Light << /BM /Lighten >> /Over << /BM /Overlay >> /Hard << /BM /HardLight >> "
        "/Excl << /BM /Exclusion >> >> >>";
    gstate.content =
        "q 10 w 1 J 1 j 0 0 0 RG 20 160 m 100 160 l 100 130 l S Q [6 3] 0 d 3 w 0.6 0 0 RG 120 160 m 220 130 "
        "l S "
        "[] 0 d 1.5 M 6 w 0 0 1 RG 0 j 150 100 m 190 110 l 150 120 l S 10 M "
        // Constant alpha over two colours, for fills and strokes.
        "1 0 0 rg 10 80 60 30 re f /Half gs 0 0 1 rg 40 70 60 30 re f 0 1 0 RG 10 w 10 60 m 100 110 l S "
        "/Opaque gs "
        // Blend modes over a backdrop of two colour bands.
        "0.9 0.8 0.1 rg 5 5 230 20 re f 0.1 0.5 0.8 rg 5 25 230 20 re f "
        "0.7 0.3 0.6 rg /Mul gs 10 10 20 30 re f /Scr gs 38 10 20 30 re f /Dif gs 66 10 20 30 re f "
        "/Dark gs 94 10 20 30 re f /Light gs 122 10 20 30 re f /Over gs 150 10 20 30 re f "
        "/Hard gs 178 10 20 30 re f /Excl gs 206 10 20 30 re f /Opaque gs "
        // Saved and restored state: colour, width and matrix come back.
        "0 0.5 0 rg 2 w q 1 0 0 rg 0.5 0 0 0.5 120 50 cm 0 0 60 60 re f Q 160 50 30 30 re f "
        "q 2 i " +
        circle(215, 70, 15) + "f Q";

    // The two standard fonts with their own glyphs and encodings, not
    // embedded: their glyphs must not come from a text face.
    VectorPage& symbols = pages["text-symbol-dingbats"];
    symbols.resources =
        "<< /Font << /Sy << /Type /Font /Subtype /Type1 /BaseFont /Symbol >> "
        "/Zd << /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >> >> >>";
    symbols.content =
        "BT /Zd 28 Tf 10 140 Td (3456789:;<=>) Tj 0 -34 Td (lmnopqrs\\254\\256\\300) Tj "
        "/Sy 28 Tf 0 -40 Td (abgdepqWSF) Tj 0 -34 Td (\\245\\253\\256\\326\\345\\362) Tj ET";

    VectorPage& rotated = pages["vector-rotated"];
    rotated.pageEntries = "/Rotate 90 /CropBox [20 10 220 170]";
    rotated.content =
        "0 0 0 RG 2 w 20 10 200 160 re S 1 0 0 rg 30 20 40 40 re f 0 0 1 rg 170 120 40 40 re f "
        "0 0.6 0 rg 0 0 240 5 re f 0.5 0 0.5 RG 6 w 1 J 40 150 m 200 30 l S";

    pages["vector-hairlines"].content =
        "0 0 0 RG 0 w 10 10 m 230 170 l 10 170 m 230 10 l 120 5 m 120 175 l S "
        "0.1 w 20 100 m 220 110 l S 0.5 w 20 90 m 220 100 l S 0 0 0 rg 20 60 40 20 re f";

    addTransparencyPages(pages);
    addFormPages(pages);
    addShadingPages(pages);
    return pages;
}

}  // namespace rendova::test
