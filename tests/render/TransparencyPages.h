#pragma once

// Built pages of transparency groups, soft masks and masked images for the
// render tests (added to vectorPages() and named in tests/render/manifest).
// Image samples are hex text, so that every page stays readable.
#include <map>
#include <string>

namespace rendova::test {

struct VectorPage;

// The dictionary of a form XObject that is a transparency group: its box,
// the group's further entries and its resources.
inline std::string groupForm(const std::string& box, const std::string& group,
                             const std::string& resources = "<< >>") {
    return "<< /Type /XObject /Subtype /Form /BBox [" + box + "] /Group << /S /Transparency " + group +
           " >> /Resources " + resources + " >>";
}

template <typename Pages>
void addTransparencyPages(Pages& pages) {
    // Groups: two overlapping half-opaque squares inside an isolated group
    // painted at half opacity beside the same squares outside a group; a
    // non-isolated group over two bands; a group that
    // inherits the fill colour; groups whose boxes cross the page edges.
    auto& groups = pages["transparency-groups"];
    groups.resources =
        "<< /ExtGState << /Half << /ca 0.5 >> /Mul << /BM /Multiply >> >> "
        "/XObject << /Iso 10 0 R /NonIso 11 0 R /Plain 12 0 R /Edge 13 0 R /Left 14 0 R >> >>";
    const std::string halfSquares = "/Half gs 1 0 0 rg 0 0 40 40 re f 0 0 1 rg 20 20 40 40 re f";
    const std::string halfResources = "<< /ExtGState << /Half << /ca 0.5 >> >> >>";
    groups.streams = {
        {10, {groupForm("0 0 60 60", "/I true /CS /DeviceRGB", halfResources), halfSquares}},
        {11, {groupForm("0 0 80 40", "", halfResources), "/Half gs 0.2 0.8 0.9 rg 0 0 80 40 re f"}},
        {12, {groupForm("0 0 40 40", "/I true"), "0 0 40 40 re f"}},
        {13, {groupForm("0 0 100 100", "/I true"), "0 0.6 0 rg 0 0 100 100 re f"}},
        {14, {groupForm("-50 0 -10 20", "/I true"), "0 0 0 rg -50 0 40 20 re f"}},
    };
    groups.content = "q 1 0 0 1 10 110 cm " + halfSquares +
                     " Q "
                     "q /Half gs 1 0 0 1 80 110 cm /Iso Do Q "
                     "0.9 0.9 0.2 rg 150 110 80 20 re f 0.9 0.3 0.3 rg 150 130 80 20 re f "
                     "q 1 0 0 1 150 110 cm /NonIso Do Q "
                     "q 0.1 0.4 0.8 rg 1 0 0 1 10 40 cm /Plain Do Q "
                     "q 1 0 0 1 190 130 cm /Edge Do Q q 1 0 0 1 190 -50 cm /Edge Do Q "
                     "q 1 0 0 1 0 10 cm /Left Do Q";

    // Non-isolated groups over coloured bands: half-opaque fills, Multiply
    // fills (opaque and at half) that must blend with the bands beneath, a
    // non-isolated group nested in another that has painted part of its box,
    // and groups painted at half opacity and with Multiply themselves.
    auto& nonIsolated = pages["transparency-non-isolated"];
    nonIsolated.resources =
        "<< /ExtGState << /Half << /ca 0.5 >> /Mul << /BM /Multiply >> >> "
        "/XObject << /Fills 10 0 R /Mul 11 0 R /Outer 12 0 R >> >>";
    const std::string blendResources = "<< /ExtGState << /Half << /ca 0.5 >> /Mul << /BM /Multiply >> >> >>";
    const std::string disc = "0 20 m 0 31 9 40 20 40 c 31 40 40 31 40 20 c 40 9 31 0 20 0 c 9 0 0 9 0 20 c f";
    nonIsolated.streams = {
        {10,
         {groupForm("0 0 60 60", "", blendResources),
          "/Half gs 0.9 0.1 0.1 rg 0 0 40 40 re f 0.1 0.1 0.9 rg 20 20 40 40 re f"}},
        {11,
         {groupForm("0 0 60 60", "", blendResources),
          "/Mul gs 0.3 1 0.6 rg 0 0 60 30 re f /Half gs 0 0.6 1 rg 10 10 40 40 re f 1 1 0 rg " + disc}},
        {12,
         {groupForm("0 0 70 70", "",
                    "<< /ExtGState << /Half << /ca 0.5 >> >> /XObject << /Inner 11 0 R >> >>"),
          "q /Half gs 1 0 1 rg 0 0 70 30 re f Q q 1 0 0 1 10 10 cm /Inner Do Q"}},
    };
    nonIsolated.content =
        "0.9 0.8 0.1 rg 0 0 240 90 re f 0.2 0.5 0.3 rg 0 90 240 90 re f "
        "q 1 0 0 1 10 15 cm /Fills Do Q q 1 0 0 1 85 15 cm /Mul Do Q q 1 0 0 1 160 15 cm /Outer Do Q "
        "q 1 0 0 1 10 105 cm /Half gs /Mul Do Q q 1 0 0 1 85 105 cm /Mul gs /Outer Do Q "
        "q 1 0 0 1 160 105 cm /Half gs /Fills Do Q";

    // Soft masks from the graphics state: a luminosity mask of grey stripes
    // over a fill; one with a white backdrop; an alpha mask from a group
    // half covered and half at half opacity. (Transfer functions are left to
    // the unit tests: the peer does not apply them.)
    auto& masks = pages["transparency-soft-masks"];
    masks.resources =
        "<< /ExtGState << "
        "/Lum << /SMask << /S /Luminosity /G 10 0 R >> >> "
        "/LumInv << /SMask << /S /Luminosity /G 11 0 R /BC [1] >> >> "
        "/Alpha << /SMask << /S /Alpha /G 12 0 R >> >> "
        "/None << /SMask /None >> >> >>";
    masks.streams = {
        {10,
         {groupForm("0 0 240 180", "/CS /DeviceGray"),
          "0 g 10 100 20 70 re f 0.25 g 30 100 20 70 re f 0.5 g 50 100 20 70 re f "
          "0.75 g 70 100 20 70 re f 1 g 90 100 20 70 re f"}},
        {11,
         {groupForm("120 100 230 170", "/CS /DeviceGray"),
          "0 g 130 110 40 50 re f 0.6 g 170 110 40 50 re f"}},
        {12,
         {groupForm("10 10 230 90", "/I true /CS /DeviceRGB", "<< /ExtGState << /Half << /ca 0.5 >> >> >>"),
          "0 0 1 rg 10 10 100 80 re f q /Half gs 120 10 100 80 re f Q"}},
    };
    masks.content =
        "0.8 0.8 0.8 rg 0 0 240 180 re f "
        "q /Lum gs 0.8 0.1 0.1 rg 0 95 115 80 re f Q "
        "q /LumInv gs 0.1 0.5 0.1 rg 115 95 120 80 re f Q "
        "q /Alpha gs 0.1 0.1 0.7 rg 0 0 240 92 re f /None gs 0 0 0 rg 225 5 10 10 re f Q";

    // Knockout groups painted with HardLight over a backdrop: a white panel
    // whose rounded corners come from a luminosity mask and a row of icons
    // cut to triangles by an alpha mask, the members themselves HardLight;
    // above in a non-isolated group, below in an isolated one whose panel
    // is a non-isolated group of its own. Text and a bar in HardLight cross
    // the panel and the icons: in a knockout group they blend with what lies
    // beneath the group, not with the panel or icons.
    auto& knockout = pages["transparency-knockout"];
    const std::string rounded =
        "10 10 m 10 5 15 0 20 0 c 200 0 l 205 0 210 5 210 10 c 210 60 l 210 65 205 70 "
        "200 70 c 20 70 l 15 70 10 65 10 60 c h f";
    const std::string memberResources =
        "<< /ExtGState << /Lum << /SMask << /S /Luminosity /G 12 0 R >> /BM /HardLight >> "
        "/Hard << /BM /HardLight >> "
        "/Alpha << /SMask << /S /Alpha /G 13 0 R >> /BM /HardLight >> >> /XObject << /Panel 14 0 R >> "
        "/Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >> >> >>";
    const std::string icons =
        "0.9 0.2 0.1 rg 30 15 40 40 re f 0.1 0.7 0.2 rg 90 15 40 40 re f "
        "0.2 0.3 0.9 rg 150 15 40 40 re f";
    const std::string hardText =
        "q /Hard gs 0.45 0.5 0.4 rg BT /F1 16 Tf 18 52 Td (Knock 0123) Tj ET "
        "0.7 0.35 0.6 rg 20 28 180 6 re f Q";
    knockout.resources =
        "<< /ExtGState << /Hard << /BM /HardLight >> >> /XObject << /K 10 0 R /KI 11 0 R >> >>";
    knockout.streams = {
        {10,
         {groupForm("0 0 220 80", "/K true /CS /DeviceRGB", memberResources),
          "q /Lum gs 1 1 1 rg 0 0 220 80 re f Q q /Alpha gs " + icons + " Q " + hardText}},
        {11,
         {groupForm("0 0 220 80", "/K true /I true /CS /DeviceRGB", memberResources),
          "q /Lum gs /Panel Do Q q /Alpha gs " + icons + " Q " + hardText}},
        {12, {groupForm("0 0 220 80", "/CS /DeviceGray"), "1 g " + rounded}},
        {13,
         {groupForm("0 0 220 80", "/I true"),
          "0 g 30 15 m 70 15 l 50 55 l h f 90 15 m 130 15 l 110 55 l h f 150 15 m 190 15 l 170 55 l h f"}},
        {14, {groupForm("0 0 220 80", ""), "0.95 0.95 0.95 rg 0 0 220 80 re f"}},
    };
    knockout.content =
        "0.2 0.3 0.6 rg 0 0 240 180 re f 0.8 0.6 0.2 rg 0 0 120 180 re f "
        "q 1 0 0 1 10 95 cm /Hard gs /K Do Q q 1 0 0 1 10 5 cm /Hard gs /KI Do Q";

    // Images with masks: an explicit mask of the image's size, a finer mask
    // (drawn as a soft mask), a soft mask of grey levels, a colour key.
    auto& images = pages["masked-images"];
    images.resources = "<< /XObject << /Img 10 0 R /Fine 12 0 R /Soft 14 0 R /Key 16 0 R >> >>";
    const std::string rgb4x4 =
        "FF0000 00FF00 0000FF FFFF00 00FFFF FF00FF 000000 808080 "
        "FF8000 0080FF 80FF00 FF0080 404040 C0C0C0 800000 008000>";
    images.streams = {
        {10,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
          "/Mask 11 0 R /Filter /ASCIIHexDecode >>",
          rgb4x4}},
        // One bit a pixel, rows padded to a byte: a set sample masks out.
        {11,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ImageMask true /Filter /ASCIIHexDecode >>",
          "90 60 60 90>"}},
        {12,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
          "/Mask 13 0 R /Filter /ASCIIHexDecode >>",
          rgb4x4}},
        // 8 x 8: a ring, a finer pattern than the image's pixels.
        {13,
         {"<< /Type /XObject /Subtype /Image /Width 8 /Height 8 /ImageMask true /Decode [1 0] "
          "/Filter /ASCIIHexDecode >>",
          "00 3C 7E 66 66 7E 3C 00>"}},
        {14,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
          "/SMask 15 0 R /Filter /ASCIIHexDecode >>",
          rgb4x4}},
        {15,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
          "/Filter /ASCIIHexDecode >>",
          "FF C0 60 00>"}},
        {16,
         {"<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 4 "
          "/Mask [0 3] /Filter /ASCIIHexDecode >>",
          "08F4 C29F 4E80 1FC7>"}},
    };
    images.content =
        "0.9 0.85 0.5 rg 0 0 240 180 re f 0 0 0 rg 0 88 240 4 re f 118 0 4 180 re f "
        "q 80 0 0 80 20 95 cm /Img Do Q "
        "q 80 0 0 80 140 95 cm /Fine Do Q "
        "q 80 0 0 80 20 5 cm /Soft Do Q "
        "q 80 0 0 80 140 5 cm /Key Do Q";
}

}  // namespace rendova::test
