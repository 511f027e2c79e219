#pragma once

// A built page of interactive-form fields whose form asks for its
// appearances to be written (NeedAppearances true): text fields of one line
// in each quadding, automatic size, comb and several lines, a check box, a
// radio group, a combo box, a list box with a selection and a signature
// field, under solid, dashed, beveled and inset borders. Added to
// vectorPages() and named in tests/render/manifest.
#include <string>
#include <utility>
#include <vector>

namespace rendova::test {

template <typename Pages>
void addFormPages(Pages& pages) {
    auto& form = pages["form-fields"];
    // Objects 10 on are the widgets (and the radio group's parent); 40 and
    // 41 the fonts of the form's resources.
    const std::vector<std::pair<int, std::string>> widgets = {
        {10, "/FT /Tx /Rect [10 150 110 170] /V (Left) /MK << /BC [0 0 0] >>"},
        {11, "/FT /Tx /Rect [120 150 230 170] /Q 1 /V (Centred) /MK << /BC [0 0 0] >>"},
        {12,
         "/FT /Tx /Rect [10 125 110 145] /Q 2 /V (Right) /BS << /S /D /W 1 /D [3 2] >> "
         "/MK << /BC [0.8 0 0] >>"},
        {13,
         "/FT /Tx /Rect [120 125 230 145] /DA (/Helv 0 Tf 0 0 0.5 rg) /V (Sized to fit) "
         "/BS << /S /B /W 2 >> /MK << /BC [0 0 1] /BG [0.85 0.85 0.85] >>"},
        {14,
         "/FT /Tx /Ff 16777216 /MaxLen 5 /Rect [10 100 110 120] /V (12345) /BS << /S /I /W 2 >> "
         "/MK << /BC [0 0.5 0] /BG [1 1 0.8] >>"},
        {15,
         "/FT /Tx /Ff 4096 /Rect [120 70 230 120] /DA (/Helv 8 Tf 0 g) "
         "/V (Words that wrap onto a second line\\nand one after a break) /MK << /BC [0 0 0] >>"},
        {16, "/FT /Btn /Rect [10 75 25 90] /V /Yes /AS /Yes /DA (/ZaDb 0 Tf 0 g) /MK << /BC [0 0 0] >>"},
        {18, "/Parent 17 0 R /Rect [35 75 50 90] /AS /Off /MK << /BC [0 0 0.6] /BG [1 1 1] >>"},
        {19, "/Parent 17 0 R /Rect [55 75 70 90] /AS /B /MK << /BC [0 0 0.6] /BG [1 1 1] >>"},
        {20,
         "/FT /Ch /Ff 131072 /Rect [10 45 110 65] /V (Second) /Opt [(First) (Second)] "
         "/MK << /BC [0 0 0] >>"},
        {21,
         "/FT /Ch /Rect [120 10 230 65] /DA (/Helv 10 Tf 0 g) /V (Two) "
         "/Opt [(One) [(2) (Two)] (Three) (Four)] /MK << /BC [0 0 0] >>"},
        {22, "/FT /Sig /Rect [10 10 110 40] /MK << /BC [0 0 0] /BG [0.9 0.9 0.6] >>"},
    };
    std::string annots, fields;
    for (const auto& [num, body] : widgets) {
        form.objects.push_back({num, "<< /Type /Annot /Subtype /Widget /F 4 " + body + " >>"});
        annots += std::to_string(num) + " 0 R ";
        if (num != 18 && num != 19)
            fields += std::to_string(num) + " 0 R ";
    }
    form.objects.push_back({17, "<< /FT /Btn /Ff 49152 /V /B /Kids [18 0 R 19 0 R] >>"});
    fields += "17 0 R";
    form.objects.push_back({40, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
    form.objects.push_back({41, "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>"});
    form.pageEntries = "/Annots [" + annots + "]";
    form.catalogEntries = "/AcroForm << /Fields [" + fields +
                          "] /NeedAppearances true /DA (/Helv 0 Tf 0 g) "
                          "/DR << /Font << /Helv 40 0 R /ZaDb 41 0 R >> >> >>";
    form.content = "0.95 0.95 1 rg 0 0 240 180 re f";
}

}  // namespace rendova::test
