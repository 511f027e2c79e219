// Pages drawn through the interpreter: the drawing box, rotation and crop
// handed to it, contents arrays of references, null contents, the device's
// veto, and the nesting bound on content that invokes itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/core/GlobalSettings.h"
#include "engine/core/PdfDocument.h"
#include "tests/engine/content/InterpreterTestSupport.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

// A one-page document: the page dictionary's extra entries and the objects
// from 4 on.
std::string onePage(const std::string& pageEntries, const std::vector<std::pair<int, std::string>>& streams,
                    const std::vector<std::pair<int, std::string>>& objects = {}) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] " + pageEntries + " >>");
    for (const auto& [num, data] : streams)
        pdf.stream(num, "<< >>", data);
    for (const auto& [num, body] : objects)
        pdf.object(num, body);
    pdf.xrefTable();
    return pdf.bytes();
}

TEST(PageDisplayTest, ContentsArrayOfReferencesRunsAsOneContent) {
    auto doc = openBytes(onePage("/Contents [4 0 R 5 0 R]", {{4, "0 0 m 10"}, {5, " 0 l S"}}));
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    ErrorCapture errors;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(device.calls.front(), "startPage 1");
    EXPECT_EQ(device.paths(), Lines({"stroke M 0 0 L 10 0"}));
    // The flush at the end of the content, the page's restore after it,
    // and the end of the page.
    const Lines tail(device.calls.end() - 4, device.calls.end());
    EXPECT_EQ(tail, Lines({"stroke M 0 0 L 10 0", "flush", "restoreState", "endPage"}));
}

TEST(PageDisplayTest, ContentAndFormsWithoutAUsableLengthDraw) {
    // Object 4 is the page's content, object 5 a form that it may draw.
    const std::string form = "<< /Subtype /Form /BBox [0 0 100 100] ";
    const struct {
        const char* name;
        std::string content;
        std::string formObject;
    } cases[] = {
        {"no Length, LF", "<< >>\nstream\n0 0 m 10 0 l S\nendstream", ""},
        {"no Length, CR LF", "<< >>\nstream\r\n0 0 m 10 0 l S\r\nendstream", ""},
        {"no Length, no line end", "<< >>\nstream\n0 0 m 10 0 l Sendstream", ""},
        {"Length that is a real", "<< /Length 14.0 >>\nstream\n0 0 m 10 0 l S\nendstream", ""},
        {"Length to nothing", "<< /Length 9 0 R >>\nstream\n0 0 m 10 0 l S\nendstream", ""},
        // What follows the first keyword is not content.
        {"Length past the keyword",
         "<< /Length 30 >>\nstream\n0 0 m 10 0 l S\nendstream\n0 0 m 5 5 l S\nendstream", ""},
        {"form without Length", "<< /Length 5 >>\nstream\n/F Do\nendstream",
         form + ">>\nstream\n0 0 m 10 0 l S\nendstream"},
        {"form with a negative Length", "<< /Length 5 >>\nstream\n/F Do\nendstream",
         form + "/Length -1 >>\nstream\r\n0 0 m 10 0 l S\r\nendstream"},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<int, std::string>> objects = {{4, c.content}};
        if (!c.formObject.empty())
            objects.emplace_back(5, c.formObject);
        auto doc =
            openBytes(onePage("/Contents 4 0 R /Resources << /XObject << /F 5 0 R >> >>", {}, objects));
        ASSERT_TRUE(doc->isOk()) << c.name;
        RecordingDevice device;
        ErrorCapture errors;
        doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
        // A form clips to its box first.
        EXPECT_EQ(device.paths().back(), "stroke M 0 0 L 10 0") << c.name;
        EXPECT_EQ(device.only({"stroke"}).size(), 1u) << c.name;
        EXPECT_EQ(errors.count(), 1u) << c.name;
    }
}

TEST(PageDisplayTest, NumbersWithDoubledSignsAreNegative) {
    auto doc = openBytes(onePage("/Contents 4 0 R", {{4, "0 0 m --10.5 --2 l S"}}));
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_EQ(device.paths(), Lines({"stroke M 0 0 L -10.5 -2"}));
}

TEST(PageDisplayTest, RotationAndCropBoxReachTheInterpreter) {
    auto doc =
        openBytes(onePage("/CropBox [10 10 110 60] /Rotate 270 /Contents 4 0 R", {{4, "0 0 m 1 1 l S"}}));
    ASSERT_TRUE(doc->isOk());
    {
        // The crop box is drawn: it is the drawing box, no clip is needed.
        // 270 + 90 requested = 0 degrees.
        RecordingDevice device;
        doc->displayPage(&device, 1, 144, 144, 90, false, true, false);
        EXPECT_EQ(device.calls[1], "setDefaultMatrix 2 0 0 -2 -20 120");
        EXPECT_TRUE(device.only({"clip"}).empty());
    }
    {
        // The media box is drawn and clipped to the crop box.
        RecordingDevice device;
        doc->displayPage(&device, 1, 72, 72, 0, true, true, false);
        EXPECT_EQ(device.calls[1], "setDefaultMatrix 0 -1 -1 0 100 200");
        EXPECT_EQ(device.only({"clip"}), Lines({"clip M 10 10 L 110 10 L 110 60 L 10 60 L 10 10 Z"}));
    }
}

TEST(PageDisplayTest, NullContentsRunsNothing) {
    auto doc = openBytes(onePage("", {}));
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    device.recordUpdates = false;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_EQ(device.calls, Lines({"startPage 1", "setDefaultMatrix 1 0 0 -1 -0 100", "endPage"}));
}

TEST(PageDisplayTest, VerboseSettingsPrintThePageNumberThenItsBoxes) {
    auto doc = openBytes(onePage("/Rotate 90", {}));
    ASSERT_TRUE(doc->isOk());
    const std::filesystem::path config =
        std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "page-display-verbose.conf";
    std::ofstream(config) << "verbose yes\n";
    GlobalSettings settings(config.c_str());
    globalSettings = &settings;
    RecordingDevice device;
    testing::internal::CaptureStdout();
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    const std::string out = testing::internal::GetCapturedStdout();
    globalSettings = nullptr;
    std::filesystem::remove(config);
    EXPECT_EQ(out.substr(0, out.find("media box")), "***** page 1 *****\n");
    EXPECT_NE(out.find("rotate:    90"), std::string::npos) << out;
}

class VetoDevice : public RecordingDevice {
public:
    bool approvePageArea(Page*, double, double, int, bool, bool, int, int, int, int, bool, DocumentCatalog*,
                         AbortCheck, void*) override {
        return false;
    }
};

TEST(PageDisplayTest, TheDeviceMayDeclineThePage) {
    auto doc = openBytes(onePage("/Contents 4 0 R", {{4, "0 0 m 1 1 l S"}}));
    VetoDevice device;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_TRUE(device.calls.empty());
}

TEST(PageDisplayTest, ASoftMaskThatUsesItselfEndsAtTheNestingBound) {
    // The mask's group sets the same graphics state again: each level opens
    // one group, up to the bound, and the page goes on afterwards.
    const std::string group = "0 0 5 5 re f /GS1 gs";
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3,
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R "
                "/Resources << /ExtGState << /GS1 6 0 R >> >> >>")
        .stream(4, "<< >>", "/GS1 gs 0 0 m 9 9 l S")
        .stream(5,
                "<< /Subtype /Form /BBox [0 0 10 10] /Group << /S /Transparency >> "
                "/Resources << /ExtGState << /GS1 6 0 R >> >> >>",
                group)
        .object(6, "<< /SMask << /S /Luminosity /G 5 0 R >> >>")
        .xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    ErrorCapture errors;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_EQ(device.only({"beginTransparencyGroup"}).size(), size_t(ContentInterpreter::kMaxNesting));
    EXPECT_EQ(device.only({"setSoftMask"}).size(), size_t(ContentInterpreter::kMaxNesting));
    EXPECT_EQ(device.paths().back(), "stroke M 0 0 L 9 9");
    EXPECT_EQ(errors.count(), 1u);
    EXPECT_TRUE(errors.contains("nest deeper"));
}

// A page whose graphics state's soft mask is a group that sets the same
// state twice: without a bound it would open 2^21 groups.
std::string maskThatSetsItselfTwice() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3,
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Contents 4 0 R "
                "/Resources << /ExtGState << /GS1 6 0 R >> >> >>")
        .stream(4, "<< >>", "/GS1 gs 0 0 m 9 9 l S")
        .stream(5,
                "<< /BBox [0 0 10 10] /Group << /S /Transparency >> /Resources << /ExtGState << /GS1 6 0 R "
                ">> >> >>",
                "/GS1 gs /GS1 gs")
        .object(6, "<< /SMask << /G 5 0 R >> >>")
        .xrefTable();
    return pdf.bytes();
}

bool stopOnThirdCall(void* data) {
    return ++*static_cast<int*>(data) >= 3;
}

TEST(PageDisplayTest, ContentThatBranchesAtEveryLevelStillReachesTheAbortCheck) {
    // Each level sets the mask twice: 2^21 groups without an abort. Nested
    // content counts its operators on from the enclosing content, so the
    // abort check is asked every 11 operators however deep they run, and
    // the page ends when it says so.
    auto doc = openBytes(maskThatSetsItselfTwice());
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    device.recordUpdates = false;
    int calls = 0;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false, stopOnThirdCall, &calls);
    EXPECT_EQ(calls, 3);
    EXPECT_LT(device.only({"beginTransparencyGroup"}).size(), 100u);
    EXPECT_TRUE(device.only({"stroke"}).empty());
}

TEST(PageDisplayTest, ContentThatBranchesAtEveryLevelEndsAtThePagesBudget) {
    // Without an abort check, a mask group that sets itself twice would open
    // 2^21 groups; the page's budget of nested runs ends it, reports once,
    // and the page's own content goes on.
    auto doc = openBytes(maskThatSetsItselfTwice());
    ASSERT_TRUE(doc->isOk());
    RecordingDevice device;
    device.recordUpdates = false;
    ErrorCapture errors;
    doc->displayPage(&device, 1, 72, 72, 0, false, true, false);
    EXPECT_EQ(device.only({"beginTransparencyGroup"}).size(), size_t(ContentInterpreter::kMaxNestedRuns));
    // The depth bound cuts first, and is reported as well.
    EXPECT_EQ(errors.count(), 2u);
    EXPECT_TRUE(errors.contains("Too many nested"));
    EXPECT_EQ(device.paths().back(), "stroke M 0 0 L 9 9");
}

// Stands in for a Type 3 glyph whose procedure shows the same glyph again:
// every stroke runs the procedure once more.
class SelfShowingGlyphDevice : public RecordingDevice {
public:
    ContentInterpreter* interpreter = nullptr;
    const PdfValue* procedure = nullptr;
    int refused = 0;
    void stroke(GraphicsState* s) override {
        RecordingDevice::stroke(s);
        if (!interpreter->runGlyphProcedure(*procedure))
            ++refused;
    }
};

TEST(PageDisplayTest, GlyphProceduresShareTheNestingBoundWithForms) {
    ValueFactory values;
    PdfValue procedure = values.stream("0 0 m 1 1 l S");
    {
        SelfShowingGlyphDevice device;
        ContentInterpreter interpreter(nullptr, &device, 1, nullptr, 72, 72, kLetter, nullptr, 0, nullptr,
                                       nullptr);
        device.interpreter = &interpreter;
        device.procedure = &procedure;
        PdfValue content = values.stream("0 0 m 1 1 l S");
        interpreter.display(content, false);
        // The page's stroke and one per level.
        EXPECT_EQ(device.paths().size(), size_t(ContentInterpreter::kMaxNesting) + 1);
        EXPECT_EQ(device.refused, 1);
        EXPECT_EQ(interpreter.getFormDepth(), 0);
    }
    {
        // Inside a form one level is taken already.
        SelfShowingGlyphDevice device;
        ContentInterpreter interpreter(nullptr, &device, 1, nullptr, 72, 72, kLetter, nullptr, 0, nullptr,
                                       nullptr);
        device.interpreter = &interpreter;
        device.procedure = &procedure;
        const double identity[6] = {1, 0, 0, 1, 0, 0};
        const double box[4] = {0, 0, 10, 10};
        EXPECT_TRUE(interpreter.runForm(procedure, nullptr, identity, box, false, false, nullptr, false,
                                        false, false, nullptr, nullptr));
        EXPECT_EQ(device.only({"stroke"}).size(), size_t(ContentInterpreter::kMaxNesting));
        EXPECT_EQ(interpreter.getFormDepth(), 0);
    }
}

}  // namespace
}  // namespace rendova::test
