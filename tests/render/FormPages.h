#pragma once

// A built page of interactive-form fields whose form asks for its
// appearances to be written (NeedAppearances true): text fields of one line
// in each quadding, automatic size, comb and several lines, a check box, a
// radio group, a combo box, a list box with a selection and a signature
// field, under solid, dashed, beveled and inset borders. Then two pages of
// widgets whose appearances are written though the form's Fields do not
// list them or the form does not ask: "form-fields-unlisted" (radio buttons,
// push buttons and text fields left out of Fields; a push button keeps its
// stored face) and "form-fields-without-appearances" (widgets without a
// stored appearance beside ones with it, NeedAppearances absent). Added to
// vectorPages() and named in tests/render/manifest.
#include <string>
#include <utility>
#include <vector>

namespace rendova::test {

// Widgets (objects 10 on, each a field of its own unless it names a Parent)
// on a page whose form lists `fields` and ends with formEntries; 40 and 41
// are the form's fonts, 20 on further objects and 50 on form streams. Every
// widget has a name (T), without which other readers take it for no field
// at all.
template <typename Page>
void addWidgetPage(Page& page, const std::vector<std::pair<int, std::string>>& widgets,
                   const std::string& fields, const std::string& formEntries,
                   const std::vector<std::pair<int, std::string>>& objects,
                   const std::vector<std::pair<int, std::string>>& forms) {
    std::string annots;
    for (const auto& [num, body] : widgets) {
        page.objects.push_back(
            {num, "<< /Type /Annot /Subtype /Widget /F 4 /T (f" + std::to_string(num) + ") " + body + " >>"});
        annots += std::to_string(num) + " 0 R ";
    }
    for (const auto& object : objects)
        page.objects.push_back(object);
    for (const auto& [num, bboxAndContent] : forms) {
        const size_t split = bboxAndContent.find(']') + 1;
        page.streams.push_back(
            {num,
             {"<< /Type /XObject /Subtype /Form /BBox " + bboxAndContent.substr(0, split) + " >>",
              bboxAndContent.substr(split)}});
    }
    page.objects.push_back({40, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"});
    page.objects.push_back({41, "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>"});
    page.pageEntries = "/Annots [" + annots + "]";
    page.catalogEntries = "/AcroForm << /Fields [" + fields + "] " + formEntries +
                          " /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 40 0 R /ZaDb 41 0 R >> >> >>";
    page.content = "0.95 0.95 1 rg 0 0 240 180 re f";
}

template <typename Pages>
void addUnlistedFieldPages(Pages& pages) {
    // The form asks for new appearances and lists only the first text field
    // and the push button with a stored face.
    addWidgetPage(
        pages["form-fields-unlisted"],
        {
            {10, "/FT /Tx /Rect [10 145 110 170] /V (Listed) /MK << /BC [0 0 0] /BG [1 1 0.8] >>"},
            {11, "/FT /Tx /Rect [120 145 230 170] /Q 1 /V (Unlisted) /MK << /BC [0.6 0 0] >>"},
            {12, "/Parent 20 0 R /Rect [10 100 35 125] /AS /Off /MK << /BC [0 0 0.6] /BG [0.9 0.9 0.9] >>"},
            {13, "/Parent 20 0 R /Rect [45 100 70 125] /AS /B /MK << /BC [0 0 0.6] /BG [0.9 0.9 0.9] >>"},
            // Its stored face, not a new one: the caption alone on the
            // background would hide the picture.
            {14,
             "/FT /Btn /Ff 65536 /Rect [120 90 230 135] /AP << /N 51 0 R >> "
             "/MK << /BC [0 0 0] /BG [0.8 0.8 0.8] /CA (Caption) >>"},
            {15,
             "/FT /Btn /Ff 65536 /Rect [10 40 110 70] /DA (/Helv 12 Tf 0 0 0.5 rg) "
             "/MK << /BC [0 0 0] /BG [0.75 0.85 1] /CA (Push) >>"},
        },
        "10 0 R 14 0 R", "/NeedAppearances true",
        {{20, "<< /FT /Btn /Ff 49152 /T (group) /V /B /Kids [12 0 R 13 0 R] >>"}},
        {
            {51, "[0 0 110 45] 0 0.6 0 rg 0 0 110 45 re f 1 1 1 rg 20 10 70 25 re f"},
        });

    // NeedAppearances absent: what is stored is drawn, and widgets that
    // store nothing get their values written.
    addWidgetPage(
        pages["form-fields-without-appearances"],
        {
            {10,
             "/FT /Tx /Ff 1 /Rect [10 145 150 170] /V (Read only) /DA (/Helv 12 Tf 0 0 1 rg) "
             "/MK << /BC [1 0 0] /BG [1 1 0] >>"},
            {11,
             "/FT /Tx /Rect [160 145 230 170] /V (Stored) /AP << /N 51 0 R >> "
             "/MK << /BC [1 0 0] /BG [1 1 0] >>"},
            {12,
             "/FT /Btn /Rect [10 105 35 130] /V /Yes /AS /Yes /DA (/ZaDb 0 Tf 0 g) /MK << /BC [0 0 0] >>"},
            {13,
             "/FT /Ch /Ff 131072 /Rect [50 105 150 130] /DA (/Helv 10 Tf 0 g) /V (Second) "
             "/Opt [(First) (Second)] /MK << /BC [0 0 0] /BG [1 1 1] >>"},
            {14,
             "/FT /Tx /Ff 4096 /Rect [10 40 150 95] /DA (/Helv 10 Tf 0 g) "
             "/V (Several words of text that wrap) /MK << /BC [0 0.5 0] >>"},
            // Left out of Fields as well.
            {15,
             "/FT /Tx /Rect [160 40 230 95] /DA (/Helv 10 Tf 0.5 0 0 rg) /V (Unlisted) "
             "/MK << /BG [0.8 1 0.8] >>"},
        },
        "10 0 R 11 0 R 12 0 R 13 0 R 14 0 R", "", {}, {{51, "[0 0 70 25] 0 1 1 rg 0 0 70 25 re f"}});
}

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

    addUnlistedFieldPages(pages);
}

}  // namespace rendova::test
