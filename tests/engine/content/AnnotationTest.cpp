// Annotations of a page: what is read from their dictionaries, which of them
// a page draws, the walk of a form's field tree, and the appearances written
// for widgets, run back through the interpreter.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/content/Annotation.h"
#include "engine/core/DocumentCatalog.h"
#include "engine/core/PdfDocument.h"
#include "tests/engine/content/FontTestSupport.h"
#include "tests/engine/content/InterpreterTestSupport.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {
namespace {

// The standard fonts' widths come from the settings object.
class AnnotationTest : public FontTest {};

// A one-page document (200 x 100) whose Annots are objects 10 on, with a
// form listing every one of them as a field when form is set (unless
// formEntries gives the form's Fields). extra holds
// further objects (from 30 on).
std::string annotatedPdf(const std::vector<std::string>& annots, bool form = false,
                         const std::vector<std::pair<int, std::string>>& extra = {},
                         const std::string& formEntries = "/NeedAppearances true") {
    PdfBuilder pdf;
    std::string refs;
    for (size_t i = 0; i < annots.size(); ++i)
        refs += std::to_string(10 + i) + " 0 R ";
    pdf.object(1,
               "<< /Type /Catalog /Pages 2 0 R " +
                   (form ? "/AcroForm << " +
                               (formEntries.find("/Fields") == std::string::npos ? "/Fields [" + refs + "] "
                                                                                 : std::string()) +
                               formEntries +
                               " /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 8 0 R /ZaDb 9 0 R >> >> >>"
                         : std::string()) +
                   " >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Annots [" + refs + "] >>")
        .stream(4, "<< /BBox [0 0 1 1] >>", "0 0 1 1 re f")
        .object(8, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
        .object(9, "<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>");
    for (size_t i = 0; i < annots.size(); ++i)
        pdf.object(int(10 + i), "<< /Type /Annot " + annots[i] + " >>");
    for (const auto& [num, body] : extra)
        pdf.object(num, body);
    pdf.xrefTable();
    return pdf.bytes();
}

// The page's list, with appearances generated as a page generates them.
struct PageAnnotations {
    std::unique_ptr<PdfDocument> doc;
    std::unique_ptr<AnnotationList> list;

    explicit PageAnnotations(const std::string& bytes, bool generate = true) : doc(openBytes(bytes)) {
        PdfValue annots;
        doc->getCatalog()->getPage(1)->getAnnots().fetch(doc->getXref(), annots);
        list = std::make_unique<AnnotationList>(doc->getXref(), annots);
        const PdfValue& acroForm = doc->getCatalog()->getAcroForm();
        PdfDict* form = acroForm.isDict() ? acroForm.getDict() : nullptr;
        if (generate)
            list->generateAppearances(form, AnnotationList::formAsksForAppearances(form));
    }
    std::string content(int i) const {
        const DynString* s = list->get(i)->getGeneratedContent();
        return s ? std::string(s->getCString(), size_t(s->getLength())) : std::string();
    }
};

// The page drawn on a recording device, as the conversion draws it.
RecordingDevice drawPage(const std::string& bytes, bool printing = true) {
    auto doc = openBytes(bytes);
    RecordingDevice device;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, printing);
    return device;
}

// The size operand after the font name, -1 without one.
double fontSizeIn(const std::string& content) {
    const size_t at = content.find("/Helv ");
    return at == std::string::npos ? -1 : std::strtod(content.c_str() + at + 6, nullptr);
}

TEST_F(AnnotationTest, DictionaryEntriesAreRead) {
    ErrorCapture errors;
    PageAnnotations page(annotatedPdf({
        "/Subtype /Square /Rect [100 200 50 20] /F 4",
        "/Subtype /Link /Rect [0 0 1 1] /Border [0 0 2 3]",
        "/Subtype /Link /Rect [0 0 1 1] /Border [0 0 2 [3 1]] /C [1 0 0]",
        "/Subtype /Link /Rect [0 0 1 1] /BS << /S /I /W 3 /D [2 /x] >> /Border [0 0 5]",
        "/Subtype /Square /Rect [0 0 1]",
    }));
    ASSERT_EQ(page.list->getCount(), 4);  // the one without a rectangle is dropped and reported
    EXPECT_TRUE(errors.contains("rectangle"));
    const Annotation* a = page.list->get(0);
    EXPECT_EQ(a->getSubtype()->compareCStr("Square"), 0);
    EXPECT_EQ(a->getObjectNumber(), 10);
    EXPECT_EQ(a->getFlags(), 4);
    EXPECT_EQ((std::vector<double>{a->getXMin(), a->getXMax(), a->getYMin(), a->getYMax()}),
              (std::vector<double>{50, 100, 20, 200}));
    // A fourth Border element that is not an array: no border at all.
    EXPECT_EQ(page.list->get(1)->getBorderStyle().width, 0);
    const BorderStyle& dashed = page.list->get(2)->getBorderStyle();
    EXPECT_EQ(dashed.type, BorderStyle::kDashed);
    EXPECT_EQ(dashed.width, 2);
    EXPECT_EQ(dashed.dashCount, 2);
    EXPECT_EQ(dashed.red, 1);
    EXPECT_EQ(dashed.blue, 0);
    // BS wins over Border; a dash element that is not a number counts 1.
    const BorderStyle& inset = page.list->get(3)->getBorderStyle();
    EXPECT_EQ(inset.type, BorderStyle::kInset);
    EXPECT_EQ(inset.width, 3);
    ASSERT_EQ(inset.dashCount, 2);
    EXPECT_EQ(inset.dash[1], 1);
    EXPECT_EQ(page.list->findAnnotation(12, 0), page.list->get(2));
    EXPECT_EQ(page.list->findAnnotation(14, 0), nullptr);
}

TEST_F(AnnotationTest, AppearanceStateChoosesAmongTheNormalAppearances) {
    const struct {
        std::string entries;
        int expected;  // object number of the chosen appearance, 0 for none
    } cases[] = {
        {"/AS /On /AP << /N << /On 4 0 R /Off 5 0 R >> >>", 4},
        {"/AS /Gone /AP << /N << /On 4 0 R /Off 5 0 R >> >>", 5},
        {"/AS /Gone /AP << /N << /On 4 0 R >> >>", 0},
        {"/AP << /N 4 0 R >>", 4},
        // Only references are taken.
        {"/AP << /N << /Length 0 >> >>", 0},
        // A single stream is drawn whatever the state.
        {"/AS /On /AP << /N 4 0 R >>", 4},
        {"/AS /N /AP << /N 4 0 R /D << /N 5 0 R >> >>", 4},
        {"/AS /On /AP << /N 6 0 R >>", 0},
    };
    for (const auto& c : cases) {
        PageAnnotations page(annotatedPdf({"/Subtype /Widget /Rect [0 0 10 10] " + c.entries}));
        const PdfValue& ap = page.list->get(0)->getAppearance();
        EXPECT_EQ(ap.isRef() ? ap.getRefNum() : 0, c.expected) << c.entries;
    }
}

TEST_F(AnnotationTest, SignaturesKeepTheirStoredAppearance) {
    // A signature widget in the state /N with one appearance stream: drawn
    // whether or not the form asks for new appearances (there is nothing to
    // write one from); without a stored one it gets the generated background
    // either way.
    const std::vector<std::string> widgets = {
        "/Subtype /Widget /FT /Sig /F 4 /Rect [10 10 20 20] /AS /N /AP << /N 4 0 R >>",
        "/Subtype /Widget /FT /Sig /F 4 /Rect [30 10 40 20] /MK << /BG [1 1 0] >>",
    };
    for (bool regenerate : {false, true}) {
        const std::string pdf =
            annotatedPdf(widgets, true, {}, regenerate ? "/NeedAppearances true" : "/NeedAppearances false");
        const std::vector<std::string> fills = drawPage(pdf).only({"fill"});
        ASSERT_EQ(fills.size(), 2u) << regenerate;
        // The stored stream fills its own box of 0 0 1 1.
        EXPECT_EQ(fills[0], "fill M 0 0 L 1 0 L 1 1 L 0 1 L 0 0 Z") << regenerate;
    }
}

TEST_F(AnnotationTest, WidgetsGetNewAppearancesAsTheFormAsksAndWhereNoneIsStored) {
    const std::string text = "/Subtype /Widget /FT /Tx /Rect [0 0 100 20] /V (Value) ";
    const std::string stored = "/AP << /N 4 0 R >> ";
    const struct {
        std::string widget;
        bool form;            // the document has a form
        std::string entries;  // its NeedAppearances and Fields (all widgets when absent)
        bool generated;
    } cases[] = {
        // The form asks: every field is written anew, but a push button
        // keeps its stored face.
        {text + stored, true, "/NeedAppearances true", true},
        {"/Subtype /Widget /FT /Btn /Ff 65536 /Rect [0 0 100 20] /MK << /CA (Go) >> " + stored, true,
         "/NeedAppearances true", false},
        {"/Subtype /Widget /FT /Btn /Ff 65536 /Rect [0 0 100 20] /MK << /CA (Go) >>", true,
         "/NeedAppearances true", true},
        // It does not ask: what is stored is drawn; a widget with nothing
        // stored, or nothing for its state, gets one.
        {text + stored, true, "/NeedAppearances false", false},
        {text, true, "/NeedAppearances false", true},
        {text, true, "", true},
        {text, false, "", true},
        {"/Subtype /Widget /FT /Btn /Rect [0 0 10 10] /AS /Off /AP << /N << /Yes 4 0 R >> >>", true, "",
         true},
        // Widgets the Fields tree does not reach take part when they have a
        // field type, their own or a parent's.
        {text + stored, true, "/NeedAppearances true /Fields []", true},
        {text, true, "/Fields []", true},
        {"/Subtype /Widget /Parent 30 0 R /Rect [0 0 100 20]", true, "/NeedAppearances true /Fields []",
         true},
        {"/Subtype /Widget /Rect [0 0 100 20] /V (Value)", true, "/NeedAppearances true /Fields []", false},
        {"/Subtype /Square /FT /Tx /Rect [0 0 100 20] /V (Value)", true, "/NeedAppearances true", false},
    };
    for (const auto& c : cases) {
        PageAnnotations page(
            annotatedPdf({c.widget}, c.form, {{30, "<< /FT /Tx /V (Value) /Kids [10 0 R] >>"}}, c.entries));
        const std::string label = c.widget + " | " + c.entries;
        EXPECT_EQ(page.list->get(0)->getGeneratedContent() != nullptr, c.generated) << label;
        if (c.generated && c.widget.find("/Btn") == std::string::npos) {
            EXPECT_NE(page.content(0).find("(Value) Tj"), std::string::npos) << label;
        }
        if (!c.generated) {
            const PdfValue& ap = page.list->get(0)->getAppearance();
            EXPECT_EQ(ap.isRef() ? ap.getRefNum() : 0, c.widget.find("/AP") != std::string::npos ? 4 : 0)
                << label;
        }
    }
}

TEST_F(AnnotationTest, WidgetsReachedThroughTheFieldsKeepWhatTheyInherit) {
    // The widget names no Parent, so only the walk of the tree knows its
    // value; written again from the page it would lose it.
    for (const char* need : {"/NeedAppearances true", "/NeedAppearances false"}) {
        PageAnnotations page(annotatedPdf({"/Subtype /Widget /FT /Tx /Rect [0 0 100 20]"}, true,
                                          {{30, "<< /FT /Tx /V (Inherited) /Kids [10 0 R] >>"}},
                                          std::string(need) + " /Fields [30 0 R]"));
        EXPECT_NE(page.content(0).find("(Inherited) Tj"), std::string::npos) << need << page.content(0);
    }
}

TEST_F(AnnotationTest, FlagsDecideWhetherPrintingAndDisplayDraw) {
    const struct {
        int flags;
        bool printed, shown;
    } cases[] = {
        {0, false, true}, {2, false, false}, {4, true, true}, {6, false, false}, {0x24, true, false},
    };
    for (const auto& c : cases) {
        const std::string pdf = annotatedPdf(
            {"/Subtype /Stamp /Rect [10 10 20 20] /AP << /N 4 0 R >> /F " + std::to_string(c.flags)});
        EXPECT_EQ(drawPage(pdf, true).paths().size(), c.printed ? 2u : 0u) << "flags " << c.flags;
        EXPECT_EQ(drawPage(pdf, false).paths().size(), c.shown ? 2u : 0u) << "flags " << c.flags;
    }
}

TEST_F(AnnotationTest, PageDrawsAfterItsContentsAndFlushesOnce) {
    RecordingDevice device = drawPage(annotatedPdf({
        "/Subtype /Stamp /Rect [10 10 20 20] /F 4 /AP << /N 4 0 R >>",
        // Only a link gets its border; neither has to have an appearance.
        "/Subtype /Link /Rect [30 30 40 40] /F 4 /Border [0 0 1]",
        "/Subtype /Square /Rect [50 50 60 60] /F 4 /Border [0 0 1]",
    }));
    const std::vector<std::string> paths = device.paths();
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0].rfind("clip", 0), 0u);
    EXPECT_EQ(paths[1].rfind("fill", 0), 0u);
    EXPECT_EQ(paths[2], "stroke M 30 30 L 40 30 L 40 40 L 30 40 L 30 30 Z");
    const std::vector<std::string> tail(device.calls.end() - 3, device.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"restoreState", "flush", "endPage"}));
}

TEST_F(AnnotationTest, AppearancesThatSaveOrRestoreUnevenlyLeaveThePageStateAlone) {
    // The first saves and sets a font of its own resources and never
    // restores: the font must not outlive the form. The second restores
    // more often than it saves.
    ErrorCapture errors;
    RecordingDevice device = drawPage(
        annotatedPdf({"/Subtype /Stamp /Rect [0 0 10 10] /F 4 /AP << /N 30 0 R >>",
                      "/Subtype /Stamp /Rect [0 0 10 10] /F 4 /AP << /N 31 0 R >>",
                      "/Subtype /Stamp /Rect [0 0 10 10] /F 4 /AP << /N 32 0 R >>"},
                     false,
                     {{30,
                       "<< /BBox [0 0 10 10] /Resources << /Font << /F 8 0 R >> >> /Length 18 >>\nstream\n"
                       "q q BT /F 12 Tf ET\nendstream"},
                      {31, "<< /BBox [0 0 10 10] /Length 16 >>\nstream\nQ Q 0 0 1 1 re f\nendstream"},
                      {32, "<< /BBox [0 0 10 10] /Length 12 >>\nstream\nBT (x) Tj ET\nendstream"}}));
    EXPECT_TRUE(errors.contains("Restore without a matching save"));
    EXPECT_TRUE(errors.contains("font"));  // the third has none set
    EXPECT_EQ(device.only({"saveState"}).size(), device.only({"restoreState"}).size());
    EXPECT_TRUE(device.only({"drawChar"}).empty());
}

TEST_F(AnnotationTest, InheritedValuesComeUpParentChainsThatEnd) {
    auto doc = openBytes(annotatedPdf({}, false,
                                      {{30, "<< /Parent 31 0 R >>"},
                                       {31, "<< /Parent 32 0 R /FT /Tx >>"},
                                       {32, "<< /Parent 30 0 R /Q 2 >>"},
                                       {33, "<< /Parent 33 0 R >>"}}));
    XrefTable* xref = doc->getXref();
    PdfValue leaf, self, out;
    PdfValue(std::move(PdfValue().initRef(30, 0))).fetch(xref, leaf);
    PdfValue(std::move(PdfValue().initRef(33, 0))).fetch(xref, self);
    EXPECT_TRUE(Annotation::lookupInherited(leaf.getDict(), "FT", out).isName("Tx"));
    EXPECT_EQ(Annotation::lookupInherited(leaf.getDict(), "Q", out).getInt(), 2);
    // 30 -> 31 -> 32 -> 30 ... and 33 -> 33: the walk ends with null.
    EXPECT_TRUE(Annotation::lookupInherited(leaf.getDict(), "V", out).isNull());
    EXPECT_TRUE(Annotation::lookupInherited(self.getDict(), "V", out).isNull());
}

TEST_F(AnnotationTest, FieldTreesThatLoopOrSprawlAreWalkedOnce) {
    // A field that is its own kid, a kid naming its grandparent, and a
    // Fields array of 300,000 entries that all name the same field.
    std::string many = "/Fields [";
    for (int i = 0; i < 300000; ++i)
        many += "30 0 R ";
    many += "] /NeedAppearances true";
    ErrorCapture errors;
    PageAnnotations page(annotatedPdf({"/Subtype /Widget /Rect [0 0 50 20] /Parent 31 0 R"}, true,
                                      {{30, "<< /Kids [30 0 R 31 0 R] /FT /Tx /V (x) >>"},
                                       {31, "<< /Kids [30 0 R 10 0 R] /Parent 30 0 R >>"}},
                                      many));
    EXPECT_NE(page.list->get(0)->getGeneratedContent(), nullptr);
    EXPECT_NE(page.content(0).find("(x) Tj"), std::string::npos);

    // A page keeps at most kMaxAnnotations of a longer array.
    ValueFactory values;
    std::string array = "[";
    for (int i = 0; i < AnnotationList::kMaxAnnotations + 5000; ++i)
        array += "<< /Rect [0 0 1 1] >> ";
    AnnotationList list(nullptr, values.parse(array + "]"));
    EXPECT_EQ(list.getCount(), AnnotationList::kMaxAnnotations);
    EXPECT_TRUE(errors.contains("annotations"));
}

TEST_F(AnnotationTest, ManyWidgetsOfOneLongValueStayWithinTheContentBudget) {
    // Each widget shows the parent's value of 100,000 bytes in a comb:
    // cut to kMaxFieldText bytes, about a megabyte of content each, so
    // the page's budget is spent after a few dozen.
    std::vector<std::string> widgets(100, "/Subtype /Widget /Rect [0 0 100 20] /Parent 200 0 R");
    std::string fields = "/NeedAppearances true /Fields [200 0 R]";
    std::string kids;
    for (int i = 0; i < 100; ++i)
        kids += std::to_string(10 + i) + " 0 R ";
    ErrorCapture errors;
    PageAnnotations page(annotatedPdf(widgets, true,
                                      {{200, "<< /FT /Tx /Ff 16777216 /MaxLen 10 /V (" +
                                                 std::string(100000, 'x') + ") /Kids [" + kids + "] >>"}},
                                      fields));
    ASSERT_EQ(page.list->getCount(), 100);
    int64_t total = 0;
    for (int i = 0; i < page.list->getCount(); ++i)
        total += int64_t(page.content(i).size());
    EXPECT_GT(total, AnnotationList::kMaxGeneratedBytes / 2);
    EXPECT_LT(total, AnnotationList::kMaxGeneratedBytes + (4 << 20));
    EXPECT_EQ(page.list->get(99)->getGeneratedContent(), nullptr);
    EXPECT_TRUE(errors.contains("too large"));
}

TEST_F(AnnotationTest, LongListBoxesWriteOnlyWhatTheirBoxShows) {
    // A list of 200,000 options, as a form that took minutes and most of a
    // gigabyte: its default appearance is written once, the lines stop
    // where the box ends, and a size too small to end them stops at the
    // appearance's budget, reported.
    std::string options;
    for (int i = 0; i < 200000; ++i)
        options += "(Option " + std::to_string(i) + ") ";
    std::string longDa;
    for (int i = 0; i < 50000; ++i)
        longDa += "0 g ";  // 200 KB
    const struct {
        std::string da, size;
        std::string lastShown, firstLeftOut;
        bool cut;
    } cases[] = {
        // 60 points of 1.1-point lines from 58.9 down: entries 0 to 54.
        {longDa, "1", "(Option 54)", "(Option 55)", false},
        // Lines running up out of the box show nothing.
        {"", "-1", "", "(Option 0)", false},
        {"", "0.0001", "(Option 1000)", "(Option 199999)", true},
    };
    for (const auto& c : cases) {
        ErrorCapture errors;
        PageAnnotations page(annotatedPdf({"/Subtype /Widget /FT /Ch /Rect [0 0 300 60] /DA (" + c.da +
                                           "/Helv " + c.size + " Tf 0 g) /Opt [" + options + "]"},
                                          true));
        const std::string content = page.content(0);
        EXPECT_LT(content.size(), c.da.size() + size_t(Annotation::kMaxAppearanceBytes) + 4096) << c.size;
        EXPECT_EQ(content.find("/Helv"), content.rfind("/Helv")) << c.size;
        if (!c.lastShown.empty()) {
            EXPECT_NE(content.find(c.lastShown + " Tj"), std::string::npos) << c.size;
        }
        EXPECT_EQ(content.find(c.firstLeftOut + " Tj"), std::string::npos) << c.size;
        EXPECT_EQ(errors.contains("List box appearance too large"), c.cut) << c.size;
    }
}

TEST_F(AnnotationTest, TextOfSizeZeroFitsHeightAndWidthRoundedDown) {
    const struct {
        std::string rect, value;
        double size;
    } cases[] = {
        // Height decides: 20 - 2 x 1 (the border) = 18.
        {"[0 0 100 20]", "Hi", 18},
        // Width decides: (100 - 4 - 2) / (width of the text at size 1).
        // Helvetica: "WWWWWWWWWW" is 10 x 0.944.
        {"[0 0 100 20]", "WWWWWWWWWW", 9},
        // Nothing fits a rectangle of no size: size 1, never less.
        {"[0 0 0 0]", "Hi", 1},
    };
    for (const auto& c : cases) {
        PageAnnotations page(
            annotatedPdf({"/Subtype /Widget /FT /Tx /Rect " + c.rect + " /V (" + c.value + ")"}, true));
        EXPECT_EQ(fontSizeIn(page.content(0)), c.size) << c.value;
    }
}

TEST_F(AnnotationTest, MultilineAutoSizeEndsForEveryRectangle) {
    const struct {
        std::string rect, value;
        double size;
    } cases[] = {
        {"[0 0 100 60]", "one two three", 20},
        // Two lines never leave a third of a size below them in 30 points
        // before the text fits on one line of 54 points, at 15.
        {"[0 0 60 30]", "one two", 15},
        {"[0 0 0 0]", "one two three", 1},
        // No lines leave no room either: the size goes down to 1.
        {"[0 0 -5 0]", "", 1},
    };
    for (const auto& c : cases) {
        PageAnnotations page(annotatedPdf(
            {"/Subtype /Widget /FT /Tx /Ff 4096 /Rect " + c.rect + " /V (" + c.value + ")"}, true));
        EXPECT_EQ(fontSizeIn(page.content(0)), c.size) << c.rect << " " << c.value;
    }
}

TEST_F(AnnotationTest, LayoutBreaksBeforeTheWordThatDoesNotFit) {
    double widths[256];
    for (double& w : widths)
        w = 1;
    const struct {
        std::string text;
        double wrap;
        std::vector<std::string> lines;
    } cases[] = {
        {"ab cd ef", 5, {"ab cd", "ef"}},
        {"abcdefgh", 3, {"abc", "def", "gh"}},
        {"ab\r\ncd\n\nef", 10, {"ab", "cd", "", "ef"}},
        // A width of nothing still takes one character a line.
        {"abc", -1, {"a", "b", "c"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> lines;
        const int length = int(c.text.size());
        for (int pos = 0; pos < length;) {
            int end = 0;
            double width = 0;
            const int next =
                Annotation::layoutLine(c.text.data(), length, pos, widths, 1, c.wrap, &end, &width);
            ASSERT_GT(next, pos);
            lines.push_back(c.text.substr(size_t(pos), size_t(end - pos)));
            pos = next;
        }
        EXPECT_EQ(lines, c.lines) << c.text;
    }
}

TEST_F(AnnotationTest, GeneratedAppearancesRunCleanlyThroughTheInterpreter) {
    const std::string pdf = annotatedPdf(
        {
            "/Subtype /Widget /F 4 /FT /Tx /Rect [0 0 100 20] /Q 1 /V (Centred) /MK << /BC [0 0 1] >>",
            "/Subtype /Widget /F 4 /FT /Tx /Ff 16777216 /MaxLen 4 /Rect [0 20 100 40] /V (1234)",
            "/Subtype /Widget /F 4 /FT /Btn /Rect [0 40 10 50] /V /Yes /AS /Yes",
            "/Subtype /Widget /F 4 /FT /Ch /Rect [100 0 200 50] /DA (/Helv 10 Tf 0 g) /V [(B) (C)] "
            "/Opt [(A) [(b) (B)] (C)]",
            "/Subtype /Widget /F 4 /FT /Sig /Rect [100 50 200 100] /MK << /BG [1 1 0] >>",
        },
        true);
    ErrorCapture errors;
    RecordingDevice device = drawPage(pdf);
    for (const auto& report : errors.reports())
        ADD_FAILURE() << report.message;
    // Centred: 7 characters; the comb: 4 cells of (100 - 2) / 4; the check
    // mark in the dingbat font, its size fitted to the box; the list's three
    // entries.
    EXPECT_EQ(device.only({"drawChar"}).size(), 7u + 4 + 1 + 3);
    PageAnnotations page(pdf);
    EXPECT_NE(page.content(1).find("(1) Tj\n24.50 0.00 Td\n(2) Tj"), std::string::npos) << page.content(1);
    EXPECT_NE(page.content(2).find("/ZaDb 4.00 Tf 0 g \n1.00 0.00 0.00 1.00"), std::string::npos)
        << page.content(2);
    EXPECT_NE(page.content(2).find("(4) Tj"), std::string::npos);
    // Both selected entries get the highlight.
    const std::string list = page.content(3);
    size_t highlights = 0;
    for (size_t at = 0; (at = list.find(appearance::kListHighlightColor, at)) != std::string::npos; ++at)
        ++highlights;
    EXPECT_EQ(highlights, 2u);
    EXPECT_NE(page.content(4).find("1.00 1.00 0.00 rg\n0.00 0.00 100.00 50.00 re f"), std::string::npos);
}

TEST_F(AnnotationTest, FieldValuesCannotBreakOutOfTheirStrings) {
    const std::string value = "\\(a\\) Tj 1 0 0 rg 0 0 500 500 re f \\(\\\\\\n\\377";
    const std::string pdf = annotatedPdf(
        {"/Subtype /Widget /F 4 /FT /Tx /Rect [0 0 200 20] /DA (/Helv 10 Tf 0 g) /V (" + value + ")"}, true);
    ErrorCapture errors;
    RecordingDevice device = drawPage(pdf);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(device.only({"fill"}).empty());
    // Every byte of the value is shown as a character, none as content.
    EXPECT_EQ(device.only({"drawChar"}).size(), 37u);
    PageAnnotations page(pdf);
    EXPECT_NE(page.content(0).find("(\\(a\\) Tj 1 0 0 rg 0 0 500 500 re f \\(\\\\\\012\\377) Tj"),
              std::string::npos)
        << page.content(0);
}

TEST_F(AnnotationTest, DegenerateFieldEntriesAreMended) {
    ErrorCapture errors;
    const std::string listBox =
        "/Subtype /Widget /FT /Ch /Rect [0 0 100 50] /DA (/Helv 10 Tf 0 g) /Opt [(A) (B) (C)] /TI ";
    PageAnnotations page(annotatedPdf(
        {
            // A negative top index starts at the first entry, one past the
            // end at the last.
            listBox + "-5",
            listBox + "99",
            // A comb of no cells is plain text.
            "/Subtype /Widget /FT /Tx /Ff 16777216 /MaxLen 0 /Rect [0 0 100 20] /V (ab)",
            "/Subtype /Widget /FT /Tx /Ff 16777216 /MaxLen -3 /Rect [0 0 100 20] /V (ab)",
            // The radio dot: radius 0.2 x the smaller side, at the centre.
            "/Subtype /Widget /FT /Btn /Ff 32768 /Rect [0 0 20 10] /V /A /AS /A /MK << /BC [0 0 1] >>",
            // A group whose value is Off has no button chosen.
            "/Subtype /Widget /FT /Btn /Ff 32768 /Rect [0 0 20 10] /V /Off /AS /Off /MK << /BC [0 0 1] >>",
            "/Subtype /Widget /FT /Nonsense /Rect [0 0 20 10]",
            // No colour for the border: none is drawn.
            "/Subtype /Widget /FT /Tx /Rect [0 0 100 20] /MK << >> /V (ab)",
            // UTF-16 text shows one byte a character: e-acute, then a
            // surrogate pair and a character beyond the fonts' codes.
            "/Subtype /Widget /FT /Tx /Rect [0 0 100 20] /V <FEFF00E9D83DDE00263A>",
        },
        true));
    EXPECT_NE(page.content(0).find("(A) Tj"), std::string::npos);
    EXPECT_EQ(page.content(1).find("(B) Tj"), std::string::npos);
    EXPECT_NE(page.content(1).find("(C) Tj"), std::string::npos);
    for (int i : {2, 3}) {
        EXPECT_NE(page.content(i).find("(ab) Tj"), std::string::npos) << page.content(i);
        EXPECT_EQ(page.content(i).find("nan"), std::string::npos);
        EXPECT_EQ(page.content(i).find("inf"), std::string::npos);
    }
    EXPECT_NE(page.content(4).find("0.00 0.00 1.00 rg\n12.00 5.00 m"), std::string::npos) << page.content(4);
    EXPECT_EQ(page.content(5).find(" rg\n"), std::string::npos) << page.content(5);
    EXPECT_TRUE(errors.contains("unknown type"));
    EXPECT_EQ(page.content(7).find(" w\n"), std::string::npos) << page.content(7);
    EXPECT_NE(page.content(8).find("(\\351?\?) Tj"), std::string::npos) << page.content(8);
}

}  // namespace
}  // namespace rendova::test
