// The interpreter's main loop and operator table: operand counts and kinds,
// the operand limit, compatibility sections, unknown operators, left-over
// operands, content arrays, the periodic flush and the abort check.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

TEST(ContentInterpreterTest, EveryPublishedOperatorIsInTheTable) {
    // Each name with the operands it needs; a failed lookup would report it
    // as unknown. Forms, soft masks and images are left out of the
    // resources, so their lookups report missing names instead.
    const char* const contents[] = {
        "0 0 (a) \"",
        "(a) '",
        "B",
        "B*",
        "BI /W 1 /H 1 /BPC 8 /CS /G ID x EI",
        "/T /P BDC",
        "BMC /T BMC",
        "BT",
        "BX",
        "/DeviceGray CS",
        "/T /P DP",
        "/X Do",
        "EI",
        "EMC",
        "ET",
        "EX",
        "F",
        "0 G",
        "ID",
        "0 J",
        "0 0 0 0 K",
        "1 M",
        "/T MP",
        "Q",
        "0 0 0 RG",
        "S",
        "0 SC",
        "0 SCN",
        "T*",
        "0 0 TD",
        "[] TJ",
        "0 TL",
        "0 Tc",
        "0 0 Td",
        "/F 1 Tf",
        "(a) Tj",
        "1 0 0 1 0 0 Tm",
        "0 Tr",
        "0 Ts",
        "0 Tw",
        "100 Tz",
        "W",
        "W*",
        "b",
        "b*",
        "0 0 m 0 0 0 0 0 0 c",
        "1 0 0 1 0 0 cm",
        "/DeviceGray cs",
        "[] 0 d",
        "0 0 d0",
        "0 0 0 0 0 0 d1",
        "f",
        "f*",
        "0 g",
        "/G gs",
        "h",
        "1 i",
        "0 j",
        "0 0 0 0 k",
        "0 0 m 0 0 l",
        "0 0 m",
        "n",
        "q",
        "0 0 0 0 re",
        "0 0 0 rg",
        "/P ri",
        "s",
        "0 sc",
        "0 scn",
        "/S sh",
        "0 0 m 0 0 0 0 v",
        "1 w",
        "0 0 m 0 0 0 0 y",
    };
    for (const char* content : contents) {
        ContentRun page;
        page.run(content);
        EXPECT_FALSE(page.errors.contains("Unknown operator")) << content;
    }
}

TEST(ContentInterpreterTest, ExtraOperandsOfAFixedCountAreDroppedFromTheFront) {
    ContentRun page;
    page.run("1 2 3 4 5 re f");
    EXPECT_EQ(page.device.paths(), Lines({"fill M 2 3 L 6 3 L 6 8 L 2 8 L 2 3 Z"}));
    EXPECT_TRUE(page.errors.empty());
}

TEST(ContentInterpreterTest, TooFewOperandsSkipTheOperator) {
    ContentRun page;
    page.run("1 2 3 re f 0 0 m 10 10 l S");
    EXPECT_TRUE(page.errors.contains("Only 3 operands for operator 're'"));
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 10 10"}));
}

TEST(ContentInterpreterTest, TooManyOperandsOfAVariableCountSkipTheOperator) {
    ContentRun page;
    page.run("/DeviceRGB cs 1 0 0 0 0 sc");
    EXPECT_TRUE(page.errors.contains("Too many operands (5) for operator 'sc'"));
    EXPECT_EQ(page.state()->getFillColor().c[0], 0);
    EXPECT_TRUE(page.device.only({"updateFillColor"}) == Lines({"updateFillColor DeviceRGB 0 0 0"}));
}

TEST(ContentInterpreterTest, WrongOperandKindsAreReportedWithIndexNameAndKind) {
    ContentRun page;
    page.run("0 (x) m 1.5 J /N w");
    EXPECT_TRUE(page.errors.contains("Operand 1 of operator 'm' is of the wrong kind (string)"));
    EXPECT_TRUE(page.errors.contains("Operand 0 of operator 'J' is of the wrong kind (real)"));
    EXPECT_TRUE(page.errors.contains("Operand 0 of operator 'w' is of the wrong kind (name)"));
    EXPECT_TRUE(page.state()->getPath()->isEmpty());
    EXPECT_EQ(page.state()->getLineCap(), 0);
    EXPECT_EQ(page.state()->getLineWidth(), 1);
}

TEST(ContentInterpreterTest, KindsOfTheTableAcceptWhatTheyShould) {
    ContentRun page;
    // d takes an array and a number; BDC a dictionary or a name; SCN numbers
    // and names.
    page.run("[3 1] 0.5 d /Span << /A 1 >> BDC /Span /Prop BDC /Pattern CS 1 /P SCN");
    EXPECT_FALSE(page.errors.contains("wrong kind"));
    EXPECT_EQ(page.state()->getLineDashLength(), 2);
}

TEST(ContentInterpreterTest, AnUnreadableTokenFailsTheNextOperatorOnly) {
    ContentRun page;
    // ")" is not a token of content syntax: the parser gives an error value.
    page.run("10 ) m 0 0 m 5 5 l S");
    EXPECT_TRUE(page.errors.contains("Operand 1 of operator 'm' is of the wrong kind (error)"));
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 5 5"}));
}

TEST(ContentInterpreterTest, TheThirtyFourthOperandIsDroppedAndTheOperatorRuns) {
    ContentRun page;
    std::string content;
    for (int i = 0; i < 34; ++i)
        content += "1 ";
    page.run(content + "re f");
    EXPECT_TRUE(page.errors.contains("More than 33 operands"));
    EXPECT_EQ(page.errors.count(), 1u);
    EXPECT_EQ(page.device.paths().size(), 1u);
}

TEST(ContentInterpreterTest, UnknownOperatorsAreSilentOnlyInsideCompatibilitySections) {
    ContentRun page;
    page.run("foo BX bar BX baz EX qux EX quux EX corge 0 0 m 1 1 l S");
    EXPECT_TRUE(page.errors.contains("Unknown operator 'foo'"));
    EXPECT_FALSE(page.errors.contains("'bar'"));
    EXPECT_FALSE(page.errors.contains("'baz'"));
    EXPECT_FALSE(page.errors.contains("'qux'"));
    // EX below zero stays at zero.
    EXPECT_TRUE(page.errors.contains("Unknown operator 'quux'"));
    EXPECT_TRUE(page.errors.contains("Unknown operator 'corge'"));
    EXPECT_EQ(page.device.paths().size(), 1u);
}

TEST(ContentInterpreterTest, NamesMatchOnlyWhole) {
    ContentRun page;
    page.run("0 0 1 1 ref 0 0 1 1 r 0 0 m 1 1 lx");
    EXPECT_TRUE(page.errors.contains("Unknown operator 'ref'"));
    EXPECT_TRUE(page.errors.contains("Unknown operator 'r'"));
    EXPECT_TRUE(page.errors.contains("Unknown operator 'lx'"));
}

TEST(ContentInterpreterTest, OperandsLeftAtTheEndAreReported) {
    ContentRun page;
    page.run("0 0 m 1 1 l S 1 2 3");
    EXPECT_TRUE(page.errors.contains("3 operands left"));
    EXPECT_EQ(page.device.paths().size(), 1u);
}

TEST(ContentInterpreterTest, ContentThatIsNotAStreamRunsNothing) {
    ContentRun page;
    PdfValue number;
    number.initInt(5);
    page.interpreter().display(number, true);
    EXPECT_TRUE(page.errors.contains("not a stream or an array of streams"));

    PdfValue array = page.values.parse("[1]");
    page.errors.clear();
    page.interpreter().display(array, true);
    EXPECT_TRUE(page.errors.contains("Element 0 of the content array is a integer"));
    EXPECT_TRUE(page.device.calls.empty());
}

TEST(ContentInterpreterTest, AnArrayOfStreamsIsReadAsOneContent) {
    ContentRun page;
    PdfValue array;
    array.initArray(nullptr);
    // Operands carry over a stream boundary; tokens do not run across it.
    array.getArray()->add(page.values.stream("0 0 m 10"));
    array.getArray()->add(page.values.stream("0 l S 5 5 m 6 6 l"));
    array.getArray()->add(page.values.stream(" S"));
    page.interpreter().display(array, true);
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 10 0", "stroke M 5 5 L 6 6"}));
    EXPECT_EQ(page.device.only({"flush"}).size(), 1u);
}

TEST(ContentInterpreterTest, FlushComesEveryTwentyThousandOperatorsAndAtTheEnd) {
    ContentRun page;
    std::string content;
    for (int i = 0; i < 45000; ++i)
        content += "n\n";
    page.run(content);
    EXPECT_EQ(page.device.only({"flush"}).size(), 3u);

    ContentRun quiet;
    quiet.run("0 0 m", false);
    EXPECT_TRUE(quiet.device.only({"flush"}).empty());
    ContentRun empty;
    empty.run("% only a comment\n");
    EXPECT_TRUE(empty.device.only({"flush"}).empty());
}

struct AbortCounter {
    std::vector<int> operatorsAtCall;
    int stopAfterCalls = -1;
    int operators = 0;
};

class CountingDevice : public RecordingDevice {
public:
    AbortCounter* counter = nullptr;
    void fill(GraphicsState* s) override {
        ++counter->operators;
        RecordingDevice::fill(s);
    }
};

bool countAbort(void* data) {
    auto* counter = static_cast<AbortCounter*>(data);
    counter->operatorsAtCall.push_back(counter->operators);
    return counter->stopAfterCalls >= 0 && int(counter->operatorsAtCall.size()) > counter->stopAfterCalls;
}

TEST(ContentInterpreterTest, AbortIsAskedEveryElevenOperatorsAndStopsTheContent) {
    AbortCounter counter;
    counter.stopAfterCalls = 2;
    ValueFactory values;
    CountingDevice device;
    device.counter = &counter;
    ErrorCapture errors;
    {
        ContentInterpreter interpreter(nullptr, &device, 1, nullptr, 72, 72, kLetter, nullptr, 0, countAbort,
                                       &counter);
        std::string content;
        for (int i = 0; i < 100; ++i)
            content += "0 0 1 1 re f\n";
        PdfValue stream = values.stream(content);
        interpreter.display(stream, true);
    }
    // re and f alternate: 5 fills are done by the 11th operator, 11 by the
    // 22nd and 16 by the 33rd, where the third call stops the content.
    EXPECT_EQ(counter.operatorsAtCall, std::vector<int>({5, 11, 16}));
    EXPECT_EQ(counter.operators, 16);
    // Stopped content still flushes, and the operands read so far are
    // dropped silently.
    EXPECT_EQ(device.only({"flush"}).size(), 1u);
    EXPECT_TRUE(errors.empty());
}

TEST(ContentInterpreterTest, AbortCadenceRestartsAfterTheFlush) {
    AbortCounter counter;
    ValueFactory values;
    RecordingDevice device;
    ContentInterpreter interpreter(nullptr, &device, 1, nullptr, 72, 72, kLetter, nullptr, 0, countAbort,
                                   &counter);
    std::string content;
    for (int i = 0; i < 20011; ++i)
        content += "n ";
    PdfValue stream = values.stream(content);
    interpreter.display(stream, false);
    // Calls after 11, 22, ... 19998 (1818 calls), then after the flush at
    // 20,000 the count starts again and the 11th operator after it asks.
    EXPECT_EQ(counter.operatorsAtCall.size(), 1819u);
}

TEST(ContentInterpreterTest, DestructionRestoresEveryLevelAndEndsThePage) {
    ContentRun page;
    page.run("q q q 0 0 m");
    page.device.calls.clear();
    page.finish();
    EXPECT_EQ(page.device.calls, Lines({"restoreState", "restoreState", "restoreState", "endPage"}));
}

TEST(ContentInterpreterTest, ConstructionStartsThePageAndClipsToTheCropBox) {
    ValueFactory values;
    RecordingDevice device;
    const PageBox crop = {10, 20, 300, 400};
    ContentInterpreter interpreter(nullptr, &device, 7, nullptr, 144, 144, kLetter, &crop, 0, nullptr,
                                   nullptr);
    ASSERT_GE(device.calls.size(), 3u);
    EXPECT_EQ(device.calls[0], "startPage 7");
    EXPECT_EQ(device.calls[1], "setDefaultMatrix 2 0 0 -2 -0 1584");
    EXPECT_EQ(device.calls[2], "updateLineDash [] 0");
    EXPECT_EQ(device.calls.back(), "clip M 10 20 L 300 20 L 300 400 L 10 400 L 10 20 Z");
    double x0, y0, x1, y1;
    interpreter.getState()->getClipBox(&x0, &y0, &x1, &y1);
    EXPECT_DOUBLE_EQ(x0, 20);
    EXPECT_DOUBLE_EQ(y0, 784);
    EXPECT_DOUBLE_EQ(x1, 600);
    EXPECT_DOUBLE_EQ(y1, 1544);
    EXPECT_TRUE(interpreter.getState()->getPath()->isEmpty());
}

TEST(ContentInterpreterTest, TextIsDrawnAndMissingResourcesAreReported) {
    ContentRun page;
    page.run("BT /F1 12 Tf (a) Tj ET BT (b) Tj ET /Sh sh");
    for (const auto& report : page.errors.reports())
        EXPECT_EQ(report.message.find("not drawn"), std::string::npos) << report.message;
    EXPECT_TRUE(page.errors.contains("Unknown font tag 'F1'"));
    EXPECT_TRUE(page.errors.contains("Shading 'Sh' is not in the resources"));
}

TEST(ContentInterpreterTest, MarkedContentAndType3MetricsReachTheDevice) {
    ContentRun page;
    page.run("/Span << /ActualText (x) >> BDC EMC /Tag MP 5 0 d0 5 0 0 -1 4 7 d1 /Perceptual ri");
    EXPECT_TRUE(page.errors.empty());
    EXPECT_EQ(page.device.only({"setType3GlyphWidth", "setType3GlyphBox"}),
              Lines({"setType3GlyphWidth 5 0", "setType3GlyphBox 5 0 0 -1 4 7"}));
}

TEST(ContentInterpreterTest, DataMarkersOutsideAnInlineImageAreErrors) {
    ContentRun page;
    page.run("ID EI");
    EXPECT_TRUE(page.errors.contains("ID outside an inline image"));
    EXPECT_TRUE(page.errors.contains("EI outside an inline image"));
}

}  // namespace
}  // namespace rendova::test

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

// Inline images are not drawn yet, but their data must be consumed exactly so
// that the content after them parses, even when the data holds "EI".
TEST(InlineImageTest, DataHoldingTheEndMarkerIsSkippedByItsSize) {
    ContentRun page;
    page.run(std::string("BI /W 4 /H 1 /BPC 8 /CS /G ID \nE") + "I\xff" + "E EI\n0 0 m 1 1 l S");
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1"}));
    EXPECT_FALSE(page.errors.contains("Unknown operator"));
}

TEST(InlineImageTest, FilteredAndIndexedImagesAreSkippedThroughTheirFilters) {
    ContentRun page("<< /ColorSpace << /Pal [/Indexed /DeviceRGB 1 <FF000000FF00>] >> >>");
    // Two RGB pixels in hex, the bytes "EI" among them; then three palette
    // indices of a resource colour space.
    page.run(
        "BI /W 2 /H 1 /BPC 8 /CS /RGB /F /AHx ID 454920454920> EI 0 0 m 1 1 l S\n"
        "BI /Width 3 /Height 1 /BitsPerComponent 8 /ColorSpace /Pal ID EIx EI 2 2 m 3 3 l S");
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1", "stroke M 2 2 L 3 3"}));
    EXPECT_FALSE(page.errors.contains("Unknown operator"));
}

TEST(InlineImageTest, StencilMasksDefaultToOneBit) {
    ContentRun page;
    page.run("BI /IM true /W 16 /H 1 ID EI EI 0 0 m 1 1 l S");
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 0 0 L 1 1"}));
}

TEST(InlineImageTest, ContentEndingInsideTheDictionaryDrawsNothing) {
    ContentRun page;
    page.run("BI /W 4 /H");
    EXPECT_TRUE(page.errors.contains("End of content inside an inline image"));
    ContentRun other;
    other.run("BI /W 4 /H 1 (key) 3");
    EXPECT_TRUE(other.errors.contains("holds a string where a key belongs"));
}

}  // namespace
}  // namespace rendova::test

namespace rendova::test {
namespace {

bool stopAtOnce(void*) {
    return true;
}

TEST(ContentInterpreterAbortTest, AnAbortInsideAFormEndsThePageToo) {
    std::string group;
    for (int i = 0; i < 15; ++i)
        group += "0 0 1 1 re f\n";
    ContentRun page(
        "<< /ExtGState << /M << /SMask << /G << /BBox [0 0 9 9] /Group << /S /Transparency >> "
        "/Length " +
            std::to_string(group.size()) + " >> stream\n" + group + "\nendstream >> >> >> >>",
        kLetter, 0, stopAtOnce, nullptr);
    page.run("/M gs 0 0 m 1 1 l S 0 0 m 2 2 l S");
    // The form stops after its 11th operator (a re, after 5 fills); nothing
    // of the page runs after it.
    EXPECT_EQ(page.device.only({"fill"}).size(), 5u);
    EXPECT_TRUE(page.device.only({"stroke"}).empty());
}

}  // namespace
}  // namespace rendova::test
