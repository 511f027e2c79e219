// The text operators: positions, advances and kerning of shown glyphs, and
// Type 3 glyph procedures, as a device receives them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/content/ContentInterpreter.h"
#include "engine/content/GraphicsState.h"
#include "engine/content/OutputDevice.h"
#include "tests/engine/content/FontTestSupport.h"

namespace rendova::test {
namespace {

struct Glyph {
    double x, y, dx, dy, ox, oy;
    unsigned code;
    std::vector<unsigned> unicode;
};

// Records the glyphs and the Type 3 calls; y points up so that text space
// and device space agree at 72 dpi.
class TextDevice : public OutputDevice {
public:
    bool glyphByGlyph = true;
    bool type3 = false;
    std::vector<Glyph> glyphs;
    std::vector<std::string> strings;
    std::vector<double> shifts;
    // The state's matrix at each beginType3Char, and the (x, y) given.
    std::vector<std::vector<double>> type3Matrices;
    std::vector<std::pair<double, double>> type3Positions;
    int type3Ends = 0;
    int fontUpdates = 0;

    bool yAxisPointsDown() override { return false; }
    bool wantsGlyphByGlyphText() override { return glyphByGlyph; }
    bool runsType3Glyphs() override { return type3; }
    void updateFont(GraphicsState*) override { ++fontUpdates; }
    void updateTextShift(GraphicsState*, double shift) override { shifts.push_back(shift); }
    void drawChar(GraphicsState*, double x, double y, double dx, double dy, double ox, double oy,
                  unsigned code, int, const unsigned* unicode, int count) override {
        glyphs.push_back({x, y, dx, dy, ox, oy, code, std::vector<unsigned>(unicode, unicode + count)});
    }
    void drawShownString(GraphicsState*, const DynString* s) override {
        strings.emplace_back(s->getCString(), static_cast<size_t>(s->getLength()));
    }
    bool beginType3Char(GraphicsState* state, double x, double y, double, double, unsigned, const unsigned*,
                        int) override {
        type3Matrices.emplace_back(state->getMatrix(), state->getMatrix() + 6);
        type3Positions.emplace_back(x, y);
        return false;
    }
    void endType3Char(GraphicsState*) override { ++type3Ends; }
};

class TextOperatorTest : public FontTest {
protected:
    // Runs content on a page whose /Font resources are fontsDict (document
    // syntax; other objects may be added to m_doc.pdf before).
    void run(const std::string& fontsDict, const std::string& content) {
        m_doc.pdf.object(90, "<< /Font " + fontsDict + " >>");
        m_doc.pdf.stream(91, "<< >>", content);
        m_doc.open();
        PdfValue resources = m_doc.fetch(90);
        PdfValue stream = m_doc.fetch(91);
        PageBox box{0, 0, 612, 792};
        ContentInterpreter interpreter(m_doc.xref.get(), &device, 1, resources.getDict(), 72, 72, box,
                                       nullptr, 0, nullptr, nullptr);
        interpreter.display(stream, true);
    }
    TextDevice device;
};

const char* kHelvetica = "<< /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >>";

TEST_F(TextOperatorTest, GlyphsAdvanceByWidthSpacingAndScaling) {
    run(kHelvetica, "BT /F1 10 Tf 100 200 Td 2 Tc 3 Tw (A A) Tj () Tj ET");
    ASSERT_EQ(device.glyphs.size(), 3u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].x, 100);
    EXPECT_DOUBLE_EQ(device.glyphs[0].y, 200);
    EXPECT_DOUBLE_EQ(device.glyphs[0].dx, 6.67 + 2);
    EXPECT_DOUBLE_EQ(device.glyphs[1].dx, 2.78 + 2 + 3);  // the space gets word spacing
    EXPECT_DOUBLE_EQ(device.glyphs[2].x, 100 + 6.67 + 2 + 2.78 + 2 + 3);
    EXPECT_EQ(device.glyphs[0].unicode, std::vector<unsigned>{'A'});
    // One from the page's start (refreshAllState), one for the font change;
    // the second string finds the font unchanged.
    EXPECT_EQ(device.fontUpdates, 2);
}

TEST_F(TextOperatorTest, HorizontalScalingHalvesHorizontalAdvancesOnly) {
    run(kHelvetica, "BT /F1 10 Tf 50 Tz 5 Ts (AA) Tj ET");
    ASSERT_EQ(device.glyphs.size(), 2u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].dx, 3.335);
    EXPECT_DOUBLE_EQ(device.glyphs[1].x, 3.335);
    EXPECT_DOUBLE_EQ(device.glyphs[0].y, 5);  // the rise moves the glyph, not the position
}

TEST_F(TextOperatorTest, KerningIsScaledByFontSizeAndHorizontalScaling) {
    run(kHelvetica, "BT /F1 -12 Tf [(A) 120 (A)] TJ 50 Tz [(A) 120 (A)] TJ ET");
    ASSERT_EQ(device.glyphs.size(), 4u);
    // -120 x |-12| / 1000 = -1.44 along x between the strings at Tz 100.
    EXPECT_NEAR(device.glyphs[1].x - device.glyphs[0].x, -12 * 0.667 - 1.44, 1e-9);
    // At Tz 50 both the advance and the kerning are halved.
    EXPECT_NEAR(device.glyphs[3].x - device.glyphs[2].x, (-12 * 0.667 - 1.44) * 0.5, 1e-9);
    EXPECT_EQ(device.shifts, (std::vector<double>{120, 120}));
}

TEST_F(TextOperatorTest, ShowingWithoutAFontIsReportedAndMovesNothing) {
    run(kHelvetica, "BT (A) Tj (B) ' 1 2 (C) \" [(D)] TJ /F1 10 Tf (E) Tj ET");
    ASSERT_EQ(device.glyphs.size(), 1u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].x, 0);
    EXPECT_DOUBLE_EQ(device.glyphs[0].y, 0);
    EXPECT_TRUE(m_errors.contains("No font in show"));
    EXPECT_TRUE(m_errors.contains("No font in move/show"));
    EXPECT_TRUE(m_errors.contains("No font in move/set/show"));
    EXPECT_TRUE(m_errors.contains("No font in show/space"));
}

TEST_F(TextOperatorTest, LineOperatorsMoveByTheLeading) {
    run(kHelvetica,
        "BT /F1 10 Tf 2 0 0 2 10 20 Tm 0 -7 TD (A) Tj T* (A) Tj (A) ' 4 5 (A) \" 30 TL T* (A) Tj ET");
    ASSERT_EQ(device.glyphs.size(), 5u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].y, 20 - 14);
    EXPECT_DOUBLE_EQ(device.glyphs[1].y, 20 - 28);
    EXPECT_DOUBLE_EQ(device.glyphs[2].y, 20 - 42);
    EXPECT_DOUBLE_EQ(device.glyphs[3].y, 20 - 56);
    EXPECT_DOUBLE_EQ(device.glyphs[3].dx, (6.67 + 5) * 2);  // " set the character spacing
    EXPECT_DOUBLE_EQ(device.glyphs[4].y, 20 - 56 - 60);
    EXPECT_DOUBLE_EQ(device.glyphs[0].x, 10);
}

TEST_F(TextOperatorTest, WholeStringsWhenTheDeviceAsksForThem) {
    device.glyphByGlyph = false;
    run(kHelvetica, "BT /F1 10 Tf (A A) Tj (A) Tj ET");
    EXPECT_TRUE(device.glyphs.empty());
    ASSERT_EQ(device.strings.size(), 2u);
    EXPECT_EQ(device.strings[0], "A A");
}

const char* kIdentityFont(const char* cmap) {
    static std::string s;
    s = std::string("<< /F1 << /Type /Font /Subtype /Type0 /BaseFont /Cid /Encoding /") + cmap +
        " /DescendantFonts [<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Cid /CIDSystemInfo"
        " << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /W [65 [500]] >>] >> >>";
    return s.c_str();
}

TEST_F(TextOperatorTest, TwoByteCodeStartingWithASpaceGetsNoWordSpacing) {
    run(kIdentityFont("Identity-H"), "BT /F1 10 Tf 5 Tw <2041 0041> Tj ET");
    ASSERT_EQ(device.glyphs.size(), 2u);
    EXPECT_EQ(device.glyphs[0].code, 0x2041u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].dx, 10);  // default width 1.0, no word spacing
    EXPECT_DOUBLE_EQ(device.glyphs[1].dx, 5);
}

TEST_F(TextOperatorTest, VerticalFontAdvancesDownWithoutHorizontalScaling) {
    run(kIdentityFont("Identity-V"), "BT /F1 10 Tf 50 Tz 1 Tc <00410042> Tj ET");
    ASSERT_EQ(device.glyphs.size(), 2u);
    EXPECT_DOUBLE_EQ(device.glyphs[0].dx, 0);
    EXPECT_DOUBLE_EQ(device.glyphs[0].dy, -10 + 1);
    EXPECT_DOUBLE_EQ(device.glyphs[1].y, -9);
    // The origin: half the default width across, 0.88 up, both scaled by
    // the font size (not by the horizontal scaling).
    EXPECT_DOUBLE_EQ(device.glyphs[0].ox, 5);
    EXPECT_DOUBLE_EQ(device.glyphs[0].oy, 8.8);
}

const char* kType3Fonts =
    "<< /T3 << /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000]"
    " /FontMatrix [0.001 0.0005 0 0.001 0 0] /CharProcs << /a 5 0 R /b 6 /self 7 0 R >>"
    " /Encoding << /Differences [97 /a /b 115 /self] >> /FirstChar 97 /LastChar 115"
    " /Widths [600 400 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 100] /Resources << /Font << /T3 4 0 R >> >> >> >>";

class Type3Test : public TextOperatorTest {
protected:
    void SetUp() override {
        TextOperatorTest::SetUp();
        device.type3 = true;
        m_doc.pdf.stream(5, "<< >>", "600 0 0 0 500 500 d1 0 0 500 500 re f");
        // The font again by reference, for the procedure that shows itself.
        m_doc.pdf.object(4, std::string(kType3Fonts).substr(7, std::string(kType3Fonts).size() - 7 - 3));
        m_doc.pdf.stream(7, "<< >>", "100 0 d0 BT /T3 1 Tf (s) Tj ET");
    }
};

TEST_F(Type3Test, GlyphMatrixIsTheFullProductWithTheSkewedFontMatrix) {
    run(kType3Fonts, "BT /T3 10 Tf 2 0 0 3 50 60 Tm (a) Tj ET");
    ASSERT_EQ(device.type3Matrices.size(), 1u);
    const std::vector<double>& n = device.type3Matrices[0];
    EXPECT_NEAR(n[0], 10 * 0.002, 1e-12);
    EXPECT_NEAR(n[1], 10 * 0.0015, 1e-12);
    EXPECT_NEAR(n[2], 0, 1e-12);
    EXPECT_NEAR(n[3], 10 * 0.003, 1e-12);
    EXPECT_NEAR(n[4], 50, 1e-9);
    EXPECT_NEAR(n[5], 60, 1e-9);
    EXPECT_EQ(device.type3Ends, 1);
}

TEST_F(Type3Test, ProcedureThatIsNoStreamIsReportedAndStillAdvances) {
    run(kType3Fonts, "BT /T3 10 Tf (ba) Tj ET");
    EXPECT_TRUE(m_errors.contains("Missing or bad Type3 CharProc entry"));
    ASSERT_EQ(device.type3Positions.size(), 2u);
    // Width 400 scaled by the font matrix's 0.001, at size 10.
    EXPECT_NEAR(device.type3Positions[1].first, 4, 1e-9);
    EXPECT_EQ(device.type3Ends, 2);
}

TEST_F(Type3Test, APathInsideAGlyphDoesNotMoveTheTextPosition) {
    // Glyph a draws "0 0 500 500 re f"; the next glyph still starts one
    // advance (600 x 0.001 x 10) along.
    run(kType3Fonts, "BT /T3 10 Tf 50 60 Td (aa) Tj ET");
    ASSERT_EQ(device.type3Positions.size(), 2u);
    EXPECT_NEAR(device.type3Positions[0].first, 50, 1e-9);
    EXPECT_NEAR(device.type3Positions[1].first, 56, 1e-9);
    EXPECT_NEAR(device.type3Positions[1].second, 60, 1e-9);
}

TEST_F(Type3Test, GlyphThatRestoresMoreThanItSavesKeepsItsCallersState) {
    // Redefined: glyph a restores three times and saves once, leaving a
    // save behind.
    m_doc.pdf.stream(5, "<< >>", "600 0 d0 Q Q q 2 0 0 2 0 0 cm Q Q q 3 0 0 3 0 0 cm");
    run(kType3Fonts, "BT /T3 10 Tf 50 60 Td (aa) Tj ET");
    EXPECT_TRUE(m_errors.contains("Restore without a matching save"));
    ASSERT_EQ(device.type3Matrices.size(), 2u);
    // The second glyph is drawn as the first, one advance along: the
    // glyph's matrix changes went with it.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(device.type3Matrices[1][i], device.type3Matrices[0][i]);
    EXPECT_NEAR(device.type3Matrices[1][4], 56, 1e-9);
}

TEST_F(Type3Test, GlyphThatShowsItselfStopsAtTheNestingBound) {
    run(kType3Fonts, "BT /T3 10 Tf (s) Tj ET");
    EXPECT_TRUE(m_errors.contains("nested too deeply"));
    EXPECT_EQ(static_cast<int>(device.type3Positions.size()), ContentInterpreter::kMaxNesting + 1);
    EXPECT_EQ(device.type3Ends, ContentInterpreter::kMaxNesting + 1);
}

TEST_F(Type3Test, WithoutType3SupportGlyphsGoThroughDrawChar) {
    device.type3 = false;
    run(kType3Fonts, "BT /T3 10 Tf (ab) Tj ET");
    EXPECT_TRUE(device.type3Positions.empty());
    ASSERT_EQ(device.glyphs.size(), 2u);
    EXPECT_NEAR(device.glyphs[1].x, 6, 1e-9);
}

}  // namespace
}  // namespace rendova::test
