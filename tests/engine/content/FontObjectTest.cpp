// Simple and composite fonts made from font dictionaries, and the font
// directory of a resource dictionary.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/content/CompositeFont.h"
#include "engine/content/FontDirectory.h"
#include "engine/content/SimpleFont.h"
#include "engine/content/TrueTypeFontFile.h"
#include "tests/engine/content/FontTestSupport.h"

namespace rendova::test {
namespace {

SimpleFont* simple(const std::unique_ptr<FontObject>& f) {
    EXPECT_FALSE(f->isCidFont());
    return static_cast<SimpleFont*>(f.get());
}
CompositeFont* composite(const std::unique_ptr<FontObject>& f) {
    EXPECT_TRUE(f->isCidFont());
    return static_cast<CompositeFont*>(f.get());
}

struct Char {
    unsigned code = 0;
    unsigned unicode[8] = {};
    int unicodeCount = 0;
    double dx = 0, dy = 0, ox = 0, oy = 0;
    int used = 0;
};
Char next(const FontObject& f, const std::string& bytes) {
    Char c;
    c.used = f.nextChar(bytes.data(), static_cast<int>(bytes.size()), &c.code, c.unicode, 8, &c.unicodeCount,
                        &c.dx, &c.dy, &c.ox, &c.oy);
    return c;
}

// --- Names and standard metrics -----------------------------------------

TEST(StandardAliasTest, BinarySearchFindsEveryAliasAndNothingElse) {
    EXPECT_STREQ(SimpleFont::findStandardAlias("Arial"), "Helvetica");                    // first entry
    EXPECT_STREQ(SimpleFont::findStandardAlias("TimesNewRomanPSMT,Bold"), "Times-Bold");  // last entry
    EXPECT_STREQ(SimpleFont::findStandardAlias("CourierNewPS-BoldItalicMT"), "Courier-BoldOblique");
    EXPECT_STREQ(SimpleFont::findStandardAlias("Helvetica-Italic"), "Helvetica-Oblique");
    EXPECT_EQ(SimpleFont::findStandardAlias("Helvetica"), nullptr);  // already standard
    EXPECT_EQ(SimpleFont::findStandardAlias("A"), nullptr);          // before the first
    EXPECT_EQ(SimpleFont::findStandardAlias("Zzz"), nullptr);        // after the last
    EXPECT_EQ(SimpleFont::findStandardAlias("ArialMTX"), nullptr);
}

TEST_F(FontTest, NameWithSpacesBecomesStandardNameWithItsMetrics) {
    auto f = font(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Times#20New#20Roman,Bold"
        " /FontDescriptor << /Ascent 900 /Descent 300 /Flags 32 >> >>");
    ASSERT_TRUE(f->isOk());
    EXPECT_STREQ(f->getName()->getCString(), "Times-Bold");
    EXPECT_STREQ(f->getGivenName()->getCString(), "Times New Roman,Bold");
    // Without an embedded file the standard row wins over the descriptor.
    EXPECT_DOUBLE_EQ(f->getAscent(), 0.683);
    EXPECT_DOUBLE_EQ(f->getDescent(), -0.217);
    EXPECT_DOUBLE_EQ(f->getBoundingBox()[3], 0.935);
    // And the standard encoding with its widths: 'A' of Times-Bold.
    EXPECT_NEAR(simple(f)->getWidth('A'), 0.722, 1e-9);
    EXPECT_TRUE(simple(f)->hasEncoding());
}

TEST_F(FontTest, DescriptorMetricsStandWithoutAStandardName) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine"
        " /FontDescriptor << /Ascent 800 /Descent 200 /FontBBox [0 -100 500 900] /MissingWidth 250"
        " /Flags 34 >> >>");
    EXPECT_DOUBLE_EQ(f->getAscent(), 0.8);
    EXPECT_DOUBLE_EQ(f->getDescent(), -0.2);  // made negative
    EXPECT_DOUBLE_EQ(f->getBoundingBox()[1], -0.1);
    EXPECT_DOUBLE_EQ(f->getMissingWidth(), 250);
    EXPECT_EQ(f->getFlags(), 34);
}

TEST_F(FontTest, UnknownSubtypeIsReportedAndGivesTypeZero) {
    auto f = font("<< /Type /Font /Subtype /Type7 /BaseFont /X >>");
    EXPECT_TRUE(m_errors.contains("Type7"));
    EXPECT_EQ(f->getFontType(), kFontUnknown);
    EXPECT_FALSE(f->isCidFont());
}

// --- Encodings ------------------------------------------------------------

TEST_F(FontTest, TrueTypeWithoutEncodingUsesWinAnsiNames) {
    auto f = font("<< /Type /Font /Subtype /TrueType /BaseFont /Mine >>");
    const char* const* names = simple(f)->getEncoding();
    EXPECT_STREQ(names[0x80], "Euro");
    EXPECT_STREQ(names[0x27], "quotesingle");
    EXPECT_FALSE(simple(f)->hasEncoding());
    EXPECT_EQ(next(*f, "\x80").unicode[0], 0x20acu);
}

TEST_F(FontTest, Type1WithoutEncodingUsesStandardNames) {
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine >>");
    const char* const* names = simple(f)->getEncoding();
    EXPECT_STREQ(names[0x27], "quoteright");
    EXPECT_EQ(names[0x80], nullptr);
    EXPECT_EQ(next(*f, "'").unicode[0], 0x2019u);
}

TEST_F(FontTest, StandardSymbolFontTakesItsBuiltInEncoding) {
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>");
    EXPECT_STREQ(simple(f)->getEncoding()['a'], "alpha");
    EXPECT_EQ(next(*f, "a").unicode[0], 0x3b1u);
}

TEST_F(FontTest, NamedBaseEncodingsAndDifferences) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine /Encoding << /BaseEncoding /MacRomanEncoding"
        " /Differences [65 /Bee /Cee 300 /skipped 66 /eacute (junk) 256 /far -3 /neg] >> >>");
    auto* s = simple(f);
    EXPECT_TRUE(s->hasEncoding());
    EXPECT_TRUE(s->usesMacRomanEncoding());
    EXPECT_STREQ(s->getEncoding()[65], "Bee");
    EXPECT_STREQ(s->getEncoding()[66], "eacute");    // set again after the run past 255
    EXPECT_STREQ(s->getEncoding()[0x8e], "eacute");  // MacRoman
    EXPECT_TRUE(m_errors.contains("string"));
    EXPECT_EQ(next(*f, "B").unicode[0], 0xe9u);
}

TEST_F(FontTest, MacExpertBaseEncoding) {
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine /Encoding /MacExpertEncoding >>");
    EXPECT_STREQ(simple(f)->getEncoding()[0x31], "oneoldstyle");
    EXPECT_TRUE(simple(f)->hasEncoding());
}

TEST_F(FontTest, HexadecimalGlyphNamesMapToTheirCodes) {
    // GAB has a letter among its digits, so the font's names are read as
    // hexadecimal: G3A is 0x3A, not 3 or 30.
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine /Encoding << /Differences"
        " [1 /G3A /GAB /g20] >> >>");
    EXPECT_EQ(next(*f, "\x01").unicode[0], 0x3au);
    EXPECT_EQ(next(*f, "\x02").unicode[0], 0xabu);
    EXPECT_EQ(next(*f, "\x03").unicode[0], 0x20u);
}

TEST_F(FontTest, DecimalGlyphNamesMapToTheirCodes) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine /Encoding << /Differences"
        " [1 /65 /c66 /ab67 /zzq] >> >>");
    EXPECT_EQ(next(*f, "\x01").unicode[0], 65u);
    EXPECT_EQ(next(*f, "\x02").unicode[0], 66u);
    EXPECT_EQ(next(*f, "\x03").unicode[0], 67u);
    EXPECT_EQ(next(*f, "\x04").unicodeCount, 0);  // no numeric form
}

TEST_F(FontTest, UnlistedGlyphNamesMapToTheirOwnCodeWhenAsked) {
    useSettings("map-numeric-glyph-names no\nmap-unknown-glyph-names yes\n");
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine /Encoding << /Differences [7 /foo] >> >>");
    EXPECT_EQ(next(*f, "\x07").unicode[0], 7u);
}

TEST_F(FontTest, ToUnicodeStreamOverridesGlyphNames) {
    m_doc.pdf.stream(
        2, "<< >>",
        "/CIDInit /ProcSet findresource begin 12 dict begin begincmap 1 begincodespacerange <00> <FF>"
        " endcodespacerange 1 beginbfchar <41> <00660066> endbfchar endcmap end end");
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine /ToUnicode 2 0 R >>");
    Char c = next(*f, "A");
    ASSERT_EQ(c.unicodeCount, 2);
    EXPECT_EQ(c.unicode[0], 0x66u);
    EXPECT_EQ(c.unicode[1], 0x66u);
    EXPECT_EQ(next(*f, "B").unicode[0], 0x42u);  // the name's value stays
}

// --- Widths -----------------------------------------------------------------

TEST_F(FontTest, WidthsArrayWithEqualEntriesSetsFixedPitch) {
    auto f = font(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Mine /FirstChar 32 /LastChar 34"
        " /Widths [600 600 600] /FontDescriptor << /Flags 32 >> >>");
    EXPECT_TRUE(f->getFlags() & kFontFlagFixedWidth);
    EXPECT_DOUBLE_EQ(next(*f, " ").dx, 0.6);
}

TEST_F(FontTest, WidthsArrayWithUnequalEntriesClearsFixedPitch) {
    auto f = font(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Mine /FirstChar 32 /LastChar 33"
        " /Widths [600 500] /FontDescriptor << /Flags 33 >> >>");
    EXPECT_FALSE(f->getFlags() & kFontFlagFixedWidth);
}

TEST_F(FontTest, ShortWidthsArrayEndsEarlyAndNonNumbersKeepTheMissingWidth) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine /FirstChar 65 /LastChar 70"
        " /Widths [500 /x 700] /FontDescriptor << /MissingWidth 100 /Flags 32 >> >>");
    EXPECT_DOUBLE_EQ(next(*f, "A").dx, 0.5);
    EXPECT_DOUBLE_EQ(next(*f, "B").dx, 0.1);
    EXPECT_DOUBLE_EQ(next(*f, "C").dx, 0.7);
    EXPECT_DOUBLE_EQ(next(*f, "D").dx, 0.1);
    EXPECT_DOUBLE_EQ(next(*f, "@").dx, 0.1);
}

TEST_F(FontTest, FirstCharOutOfRangeCountsFromZero) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine /FirstChar 400 /LastChar -2"
        " /Widths [111 222] >>");
    EXPECT_DOUBLE_EQ(next(*f, std::string(1, '\0')).dx, 0.111);
    EXPECT_DOUBLE_EQ(next(*f, "\x01").dx, 0.222);
}

TEST_F(FontTest, StandardRowGivesWidthsAndSpaceWidth) {
    auto f =
        font("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Differences [32 /A] >> >>");
    // Code 32 now names A, but the space glyph's width goes to code 32.
    EXPECT_DOUBLE_EQ(next(*f, " ").dx, 0.278);
    EXPECT_DOUBLE_EQ(next(*f, "A").dx, 0.667);
}

TEST_F(FontTest, FlagsChooseAStandardRowForWidths) {
    auto fixed = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine /FontDescriptor << /Flags 1 >> >>");
    EXPECT_DOUBLE_EQ(next(*fixed, "i").dx, 0.6);  // Courier
}

TEST_F(FontTest, FlagsChooseSansSerifBoldItalic) {
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Mine"
        " /FontDescriptor << /Flags 262240 >> >>");  // 0x40000 | 0x40 | 0x20
    EXPECT_DOUBLE_EQ(next(*f, "A").dx, 0.722);       // Helvetica-BoldOblique
}

TEST_F(FontTest, Type3FontScalesWidthsByItsMatrixAndFindsItsProcedures) {
    m_doc.pdf.stream(2, "<< >>", "0 0 d0");
    auto f = font(
        "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.002 0 0 0.002 0 0]"
        " /CharProcs << /a 2 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97"
        " /Widths [500] /Resources << /Font << >> >> >>");
    EXPECT_EQ(f->getFontType(), kFontType3);
    EXPECT_DOUBLE_EQ(next(*f, "a").dx, 1.0);
    EXPECT_DOUBLE_EQ(f->getBoundingBox()[2], 750);  // not scaled
    PdfValue proc;
    EXPECT_TRUE(simple(f)->getCharProc('a', proc).isStream());
    EXPECT_TRUE(simple(f)->getCharProc('b', proc).isNull());
    EXPECT_NE(simple(f)->getResources(), nullptr);
}

TEST_F(FontTest, Type3WithoutProcedureDictionaryIsReported) {
    auto f = font("<< /Type /Font /Subtype /Type3 /CharProcs 5 /Encoding << /Differences [97 /a] >> >>");
    EXPECT_TRUE(m_errors.contains("CharProcs"));
    PdfValue proc;
    EXPECT_TRUE(simple(f)->getCharProc('a', proc).isNull());
}

// --- Descriptors and embedded files ------------------------------------------

TEST_F(FontTest, FontFileEntriesDecideTheType) {
    m_doc.pdf.stream(2, "<< /Subtype /OpenType >>", "x");
    auto f =
        font("<< /Type /Font /Subtype /TrueType /BaseFont /Mine /FontDescriptor << /FontFile3 2 0 R >> >>");
    EXPECT_EQ(f->getFontType(), kFontTrueTypeOT);
    EXPECT_EQ(f->getEmbeddedFileNumber(), 2);
}

// A CID font stays one whatever kind of program its descriptor holds: its
// strings are CIDs, not 8-bit codes.
TEST_F(FontTest, CompositeFontKeepsACidTypeForEveryProgramKind) {
    struct Case {
        const char* descendant;
        const char* fileEntry;
        const char* fileSubtype;
        int type;
    };
    const Case cases[] = {
        {"CIDFontType0", "FontFile", "", kFontCidType0},
        {"CIDFontType0", "FontFile3", "/Subtype /Type1C", kFontCidType0C},
        {"CIDFontType0", "FontFile3", "/Subtype /CIDFontType0C", kFontCidType0C},
        {"CIDFontType0", "FontFile3", "/Subtype /OpenType", kFontCidType0COT},
        {"CIDFontType0", "FontFile2", "", kFontCidType2},
        {"CIDFontType2", "FontFile3", "/Subtype /TrueType", kFontCidType2},
        {"CIDFontType2", "FontFile3", "/Subtype /OpenType", kFontCidType2OT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.descendant) + " " + c.fileEntry + " " + c.fileSubtype);
        m_doc = ObjectDocument();
        m_doc.pdf.stream(3, std::string("<< ") + c.fileSubtype + " >>", "x");
        m_doc.pdf.object(2, std::string("<< /Type /Font /Subtype /") + c.descendant +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
                                " /FontDescriptor << /" +
                                c.fileEntry + " 3 0 R >> >>");
        auto f = font("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [2 0 R] >>");
        EXPECT_TRUE(f->isOk());
        EXPECT_EQ(f->getFontType(), c.type);
    }
}

TEST_F(FontTest, DescendantOfAnotherSubtypeIsTheCidFontItsProgramSays) {
    struct Case {
        const char* subtype;  // the descendant's, "" for none
        const char* fileEntry;
        const char* fileSubtype;
        int type;
    };
    const Case cases[] = {
        {"/Subtype /Type1", "", "", kFontCidType0},
        {"/Subtype /Type1", "FontFile", "", kFontCidType0},
        {"/Subtype /TrueType", "FontFile2", "", kFontCidType2},
        {"/Subtype /Type1", "FontFile3", "/Subtype /CIDFontType0C", kFontCidType0C},
        {"/Subtype /TrueType", "FontFile3", "/Subtype /OpenType", kFontCidType0COT},
        {"", "FontFile2", "", kFontCidType2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.subtype) + " " + c.fileEntry + " " + c.fileSubtype);
        m_doc = ObjectDocument();
        m_doc.pdf.stream(3, std::string("<< ") + c.fileSubtype + " >>", "x");
        const std::string descriptor =
            c.fileEntry[0] ? std::string(" /FontDescriptor << /") + c.fileEntry + " 3 0 R >>" : "";
        m_doc.pdf.object(2, std::string("<< /Type /Font ") + c.subtype +
                                " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>" +
                                descriptor + " >>");
        m_errors.clear();
        auto f = font("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [2 0 R] >>");
        EXPECT_TRUE(f->isOk());
        EXPECT_TRUE(f->isCidFont());
        EXPECT_EQ(f->getFontType(), c.type);
        EXPECT_TRUE(m_errors.contains("Unknown Type 0 descendant font type"));
    }
}

TEST_F(FontTest, DescendantWithoutSystemInfoTakesTheEmbeddedCMapsCollection) {
    // The collection of an embedded CMap's CIDSystemInfo, else Identity;
    // the font draws either way.
    const std::string cMap =
        "1 begincodespacerange <00> <ff> endcodespacerange 1 begincidrange <00> <ff> 0 endcidrange";
    struct Case {
        std::string encoding;
        const char* collection;
    };
    const Case cases[] = {
        {"3 0 R", "Adobe-Japan1"},
        {"/Identity-H", "Adobe-Identity"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoding);
        m_doc = ObjectDocument();
        m_doc.pdf.stream(3,
                         "<< /Type /CMap /CMapName /OneByte /CIDSystemInfo << /Registry (Adobe) /Ordering "
                         "(Japan1) /Supplement 0 >> >>",
                         cMap);
        m_doc.pdf.object(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        m_errors.clear();
        auto f =
            font("<< /Type /Font /Subtype /Type0 /Encoding " + c.encoding + " /DescendantFonts [2 0 R] >>");
        ASSERT_TRUE(f->isOk());
        EXPECT_STREQ(static_cast<CompositeFont*>(f.get())->getCollection(), c.collection);
        EXPECT_TRUE(m_errors.contains("Missing CIDSystemInfo"));
    }
}

TEST_F(FontTest, Type1FileInATrueTypeFontIsReportedAndWins) {
    m_doc.pdf.stream(2, "<< >>", "%!PS-AdobeFont-1.0: Mine\n");
    auto f =
        font("<< /Type /Font /Subtype /TrueType /BaseFont /Mine /FontDescriptor << /FontFile 2 0 R >> >>");
    EXPECT_EQ(f->getFontType(), kFontType1);
    EXPECT_TRUE(m_errors.contains("Mismatch"));
}

TEST_F(FontTest, EmbeddedType1ProgramGivesNameAndEncoding) {
    m_doc.pdf.stream(2, "<< >>",
                     "%!PS-AdobeFont-1.0: Embedded\n/FontName /Embedded def\n/Encoding 256 array\n"
                     "0 1 255 {1 index exch /.notdef put} for\ndup 65 /alpha put\nreadonly def\n");
    auto f = font(
        "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Embedded"
        " /FontDescriptor << /FontName /ABCDEF+Embedded /FontFile 2 0 R >> >>");
    EXPECT_STREQ(f->getEmbeddedFontName()->getCString(), "Embedded");
    EXPECT_STREQ(simple(f)->getEncoding()['A'], "alpha");
    EXPECT_EQ(next(*f, "A").unicode[0], 0x3b1u);
}

TEST_F(FontTest, EmbeddedFileReadAgainGivesTheSameFontAndAReadWithDefectsIsRepeated) {
    // The fonts of every page read the embedded file; a clean reading is
    // kept for the next, a reading with a defect is done (and reported)
    // again, as the first time.
    const std::string program =
        "%!PS-AdobeFont-1.0: Embedded\n/FontName /Embedded def\n/Encoding 256 array\n"
        "0 1 255 {1 index exch /.notdef put} for\ndup 65 /alpha put\nreadonly def\n";
    const std::string dict =
        "<< /Type /Font /Subtype /Type1 /BaseFont /ABCDEF+Embedded"
        " /FontDescriptor << /FontName /ABCDEF+Embedded /FontFile 2 0 R >> >>";
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "clean");
        m_fontValue = PdfValue();
        m_doc = ObjectDocument();
        m_errors.clear();
        if (damaged)
            m_doc.pdf.stream(2, "<< /Filter /FlateDecode >>", "x\x9c not deflate data at all");
        else
            m_doc.pdf.stream(2, "<< >>", program);
        auto first = font(dict);
        const size_t reports = m_errors.count();
        EXPECT_EQ(reports > 0, damaged);
        auto second = FontObject::create(m_doc.xref.get(), "F1", 1, 0, m_fontValue.getDict());
        EXPECT_EQ(m_errors.count(), 2 * reports);
        PdfValue file = m_doc.fetch(2);
        ASSERT_TRUE(file.isStream());
        const uint32_t start = file.getStream()->getSourceStream()->getStart();
        EXPECT_EQ(m_doc.xref->findDecodedStream(2, 0, start) != nullptr, !damaged);
        if (damaged)
            continue;
        EXPECT_STREQ(second->getEmbeddedFontName()->getCString(), "Embedded");
        EXPECT_STREQ(simple(second)->getEncoding()['A'], "alpha");
    }
}

TEST_F(FontTest, EmbeddedFileThatIsNoStreamIsReportedAndForgotten) {
    m_doc.pdf.object(2, "42");
    auto f = font("<< /Type /Font /Subtype /Type1 /BaseFont /Mine /FontDescriptor << /FontFile 2 0 R >> >>");
    EXPECT_TRUE(m_errors.contains("not a stream"));
    EXPECT_EQ(f->getEmbeddedFileNumber(), -1);
}

// --- Composite fonts -------------------------------------------------------------

const char* kDescendant =
    "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Cid"
    " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>";

TEST_F(FontTest, CompositeWidthsArrayGivesRangesAndDefault) {
    m_doc.pdf.object(2, std::string(kDescendant) + " /W [1 [500 600] 10 12 300 (bad) 20] >>");
    auto f = font(
        "<< /Type /Font /Subtype /Type0 /BaseFont /Cid /Encoding /Identity-H"
        " /DescendantFonts [2 0 R] >>");
    ASSERT_TRUE(f->isOk());
    EXPECT_EQ(f->getFontType(), kFontCidType2);
    EXPECT_DOUBLE_EQ(next(*f, std::string("\0\x01", 2)).dx, 0.5);
    EXPECT_DOUBLE_EQ(next(*f, std::string("\0\x02", 2)).dx, 0.6);
    EXPECT_DOUBLE_EQ(next(*f, std::string("\0\x03", 2)).dx, 1.0);  // default width
    EXPECT_DOUBLE_EQ(next(*f, std::string("\0\x0b", 2)).dx, 0.3);
    EXPECT_TRUE(m_errors.contains("widths"));
    Char c = next(*f, std::string("\0\x02", 2));
    EXPECT_EQ(c.used, 2);
    EXPECT_EQ(c.code, 2u);
    EXPECT_EQ(composite(f)->getWidthRanges().size(), 3u);
}

TEST_F(FontTest, VerticalFontWithoutVerticalMetricsUsesTheDefaults) {
    m_doc.pdf.object(2, std::string(kDescendant) + " >>");
    auto f = font(
        "<< /Type /Font /Subtype /Type0 /BaseFont /Cid /Encoding /Identity-V"
        " /DescendantFonts [2 0 R] >>");
    ASSERT_TRUE(f->isOk());
    EXPECT_EQ(f->getWritingMode(), 1);
    Char c = next(*f, std::string("\0\x05", 2));
    EXPECT_DOUBLE_EQ(c.dx, 0);
    EXPECT_DOUBLE_EQ(c.dy, -1.0);
    EXPECT_DOUBLE_EQ(c.ox, 0.5);
    EXPECT_DOUBLE_EQ(c.oy, 0.88);
}

TEST_F(FontTest, VerticalMetricsInBothForms) {
    m_doc.pdf.object(
        2, std::string(kDescendant) +
               " /DW 800 /DW2 [900 -1200] /W2 [5 [-500 400 800 -600 300 700] 20 30 -700 100 200] >>");
    auto f = font(
        "<< /Type /Font /Subtype /Type0 /BaseFont /Cid /Encoding /Identity-V"
        " /DescendantFonts [2 0 R] >>");
    Char c = next(*f, std::string("\0\x06", 2));
    EXPECT_DOUBLE_EQ(c.dy, -0.6);
    EXPECT_DOUBLE_EQ(c.ox, 0.3);
    EXPECT_DOUBLE_EQ(c.oy, 0.7);
    c = next(*f, std::string("\0\x19", 2));  // 25, in 20 .. 30
    EXPECT_DOUBLE_EQ(c.dy, -0.7);
    c = next(*f, std::string("\0\x02", 2));
    EXPECT_DOUBLE_EQ(c.dy, -1.2);
    EXPECT_DOUBLE_EQ(c.ox, 0.4);  // half the default width
    EXPECT_DOUBLE_EQ(c.oy, 0.9);
}

TEST_F(FontTest, CidToGidMapStreamIsRead) {
    m_doc.pdf.stream(3, "<< >>", std::string("\0\0\0\x07\x01\x02", 6));
    m_doc.pdf.object(2, std::string(kDescendant) + " /CIDToGIDMap 3 0 R >>");
    auto f = font("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [2 0 R] >>");
    ASSERT_EQ(composite(f)->getCidToGlyphLength(), 3);
    EXPECT_EQ(composite(f)->getCidToGlyph()[1], 7);
    EXPECT_EQ(composite(f)->getCidToGlyph()[2], 0x102);
}

TEST_F(FontTest, CompositeWithoutCollectionOrCMapIsNotOk) {
    m_doc.pdf.object(2, "<< /Type /Font /Subtype /CIDFontType0 >>");
    auto f = font("<< /Type /Font /Subtype /Type0 /DescendantFonts [2 0 R] >>");
    EXPECT_FALSE(f->isOk());
    EXPECT_TRUE(m_errors.contains("CIDSystemInfo"));
    EXPECT_TRUE(m_errors.contains("Encoding"));
}

TEST_F(FontTest, CompositeWithUnknownCMapIsNotOk) {
    m_doc.pdf.object(2, std::string(kDescendant) + " >>");
    auto f = font("<< /Type /Font /Subtype /Type0 /Encoding /No-Such-CMap /DescendantFonts [2 0 R] >>");
    EXPECT_FALSE(f->isOk());
    EXPECT_TRUE(m_errors.contains("Unknown CMap 'No-Such-CMap'"));
    EXPECT_EQ(composite(f)->getCollection(), nullptr);
    EXPECT_EQ(next(*f, "ab").used, 1);  // without a CMap: one byte, nothing else
}

// A font's Encoding given as an embedded CMap stream reads codes as the
// same CMap installed as a file does, alone, on top of an installed map
// (UseCMap or usecmap), or on top of itself (bounded).
TEST_F(FontTest, EmbeddedCMapStreamsReadCodesAsInstalledFilesDo) {
    const std::string body =
        "/CMapName /Mixed-H def\n2 begincodespacerange\n<00> <80>\n<8140> <9FFC>\nendcodespacerange\n"
        "1 begincidrange\n<20> <7e> 1\nendcidrange\n1 begincidrange\n<8140> <817e> 633\nendcidrange\n"
        "1 begincidchar\n<8150> 7000\nendcidchar\n";
    write("cmaps/Mixed-H", body);
    write("cmaps/Over-H", "/Mixed-H usecmap\n1 begincidchar\n<41> 900\nendcidchar\n");
    useSettings("cmap-dir Adobe-Identity " + path("cmaps") + "\n");
    const std::string descendant = std::string(kDescendant) + " >>";
    const auto cids = [](const FontObject& f) {
        std::vector<std::pair<unsigned, int>> out;
        for (const char* bytes : {"A", " ", "\x81\x40", "\x81\x50", "\x81\x7e", "\x90\x41", "\x85"}) {
            const Char c = next(f, bytes);
            out.emplace_back(c.code, c.used);
        }
        return out;
    };
    // Each font keeps its own document and dictionary for the test's length.
    struct Made {
        ObjectDocument doc;
        PdfValue dict;
    };
    std::vector<std::unique_ptr<Made>> made;
    std::string cmapText;
    const auto fontWith = [&](const std::string& encoding, const std::string& streamEntries) {
        auto& m = *made.emplace_back(std::make_unique<Made>());
        m.doc.pdf.object(2, descendant);
        m.doc.pdf.stream(3, "<< /Type /CMap " + streamEntries + " >>", cmapText);
        m.doc.pdf.object(
            1, "<< /Type /Font /Subtype /Type0 /Encoding " + encoding + " /DescendantFonts [2 0 R] >>");
        m.doc.open();
        m.dict = m.doc.fetch(1);
        return FontObject::create(m.doc.xref.get(), "F1", 1, 0, m.dict.getDict());
    };

    cmapText = body;
    auto installed = fontWith("/Mixed-H", "");
    auto embedded = fontWith("3 0 R", "/CMapName /Mixed-H");
    ASSERT_TRUE(installed->isOk());
    ASSERT_TRUE(embedded->isOk());
    EXPECT_EQ(cids(*embedded), cids(*installed));
    EXPECT_EQ(next(*embedded, "\x81\x50").code, 7000u);

    // On top of an installed map, by entry and by operator.
    auto over = fontWith("/Over-H", "");
    cmapText = "1 begincidchar\n<41> 900\nendcidchar\n";
    auto byEntry = fontWith("3 0 R", "/UseCMap /Mixed-H");
    cmapText = "/Mixed-H usecmap\n1 begincidchar\n<41> 900\nendcidchar\n";
    auto byOperator = fontWith("3 0 R", "");
    ASSERT_TRUE(over->isOk());
    EXPECT_EQ(next(*over, "A").code, 900u);
    EXPECT_EQ(cids(*byEntry), cids(*over));
    EXPECT_EQ(cids(*byOperator), cids(*over));
    // On top of Identity: two-byte codes, each its own CID, with the WMode
    // of the stream's dictionary.
    cmapText = "1 begincidchar\n<0041> 900\nendcidchar\n";
    auto identity = fontWith("3 0 R", "/UseCMap /Identity-V /WMode 1");
    EXPECT_EQ(next(*identity, std::string("\0A", 2)).code, 900u);
    EXPECT_EQ(next(*identity, "\x12\x34").code, 0x1234u);
    EXPECT_EQ(identity->getWritingMode(), 1);
    EXPECT_TRUE(m_errors.empty()) << m_errors.reports()[0].message;

    // A stream built on itself stops after a few levels; a range over the
    // whole two-byte space is read in bounded time.
    cmapText =
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n"
        "1 begincidrange\n<0000> <FFFF> 5\nendcidrange\n";
    auto hostile = fontWith("3 0 R", "/UseCMap 3 0 R");
    EXPECT_TRUE(hostile->isOk());
    EXPECT_EQ(next(*hostile, std::string("\0\xff", 2)).code, 5u + 0xff);
    EXPECT_TRUE(m_errors.contains("nested deeper"));
}

TEST_F(FontTest, CompositeWithADescendantThatIsNoDictionaryIsNotOk) {
    m_doc.pdf.object(2, "/Type1");
    auto f = font("<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [2 0 R] >>");
    EXPECT_FALSE(f->isOk());
    EXPECT_TRUE(m_errors.contains("DescendantFonts"));
}

// --- Font directory ------------------------------------------------------------

TEST_F(FontTest, DirectoryGivesDirectFontsPseudoReferences) {
    m_doc.pdf.object(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    m_doc.pdf.object(3,
                     "<< /F1 2 0 R /F2 << /Type /Font /Subtype /Type1 /BaseFont /Courier >>"
                     " /F3 (not a font) /F4 << /Type /Font /Subtype /Type0 >> >>");
    m_doc.open();
    PdfValue dict = m_doc.fetch(3);
    PdfValue parent;
    parent.initRef(3, 0);
    FontDirectory withParent(m_doc.xref.get(), &parent, dict.getDict());
    ASSERT_EQ(withParent.getCount(), 4);
    FontObject* f1 = withParent.lookup("F1");
    FontObject* f2 = withParent.lookup("F2");
    ASSERT_TRUE(f1 && f2);
    EXPECT_EQ(f1->getObjectNumber(), 2);
    EXPECT_EQ(f1->getGeneration(), 0);
    EXPECT_EQ(f2->getObjectNumber(), 1);       // entry index
    EXPECT_EQ(f2->getGeneration(), 3 + 5000);  // parent number + 5000
    EXPECT_EQ(withParent.getFont(2), nullptr);
    EXPECT_EQ(withParent.getFont(3), nullptr);  // a font that is not ok is dropped
    EXPECT_TRUE(m_errors.contains("F3"));
    EXPECT_EQ(withParent.lookup("F3"), nullptr);
    EXPECT_EQ(withParent.lookup("F9"), nullptr);

    FontDirectory orphan(m_doc.xref.get(), nullptr, dict.getDict());
    EXPECT_EQ(orphan.lookup("F2")->getGeneration(), FontDirectory::kNoParentGeneration);
}

TEST_F(FontTest, DirectoryMakesOnlyTheFontsAskedFor) {
    m_doc.pdf.object(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    m_doc.pdf.object(3, "<< /F1 2 0 R /Broken 7 /F1 << /Type /Font /Subtype /Type1 /BaseFont /Courier >> >>");
    m_doc.open();
    PdfValue dict = m_doc.fetch(3);
    FontDirectory fonts(m_doc.xref.get(), nullptr, dict.getDict());
    FontObject* first = fonts.lookup("F1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getObjectNumber(), 2);
    EXPECT_EQ(fonts.lookup("F1"), first);       // made once
    EXPECT_FALSE(m_errors.contains("Broken"));  // never asked for, never reported
    EXPECT_EQ(fonts.lookup("Broken"), nullptr);
    EXPECT_TRUE(m_errors.contains("Broken"));
}

// --- TrueType code-to-glyph maps ---------------------------------------------

constexpr const char* kLiberationSans = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

TEST_F(FontTest, CodeToGlyphMapFollowsTheUnicodeCmapForEncodedFonts) {
    auto ttf = TrueTypeFontFile::fromFile(kLiberationSans);
    if (!ttf)
        GTEST_SKIP() << "fonts-liberation2 is not installed";
    auto f = font(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Mine /Encoding /WinAnsiEncoding"
        " /FontDescriptor << /Flags 32 >> >>");
    auto map = simple(f)->buildCodeToGlyphMap(*ttf);
    int unicodeCmap = -1;
    for (int i = 0; i < ttf->getCmapCount(); ++i)
        if (ttf->getCmapPlatformId(i) == 3 && ttf->getCmapEncodingId(i) == 1)
            unicodeCmap = i;
    ASSERT_GE(unicodeCmap, 0);
    EXPECT_EQ(map['A'], ttf->lookupGlyphId(unicodeCmap, 'A'));
    EXPECT_EQ(map[0x80], ttf->lookupGlyphId(unicodeCmap, 0x20ac));  // Euro
    EXPECT_NE(map['A'], 0);
}

TEST_F(FontTest, CodeToGlyphMapGivesANameNothingKnowsTheGlyphOfItsCode) {
    auto ttf = TrueTypeFontFile::fromFile(kLiberationSans);
    if (!ttf)
        GTEST_SKIP() << "fonts-liberation2 is not installed";
    auto f = font(
        "<< /Type /Font /Subtype /TrueType /BaseFont /Mine"
        " /Encoding << /Differences [65 /zzqnosuchglyph] >> /FontDescriptor << /Flags 32 >> >>");
    auto map = simple(f)->buildCodeToGlyphMap(*ttf);
    EXPECT_EQ(map['A'], ttf->mapNameToGid("A"));
    EXPECT_NE(map['A'], 0);
}

TEST_F(FontTest, CodeToGlyphMapWithoutEncodingUsesTheMacCmapOrGlyphNames) {
    auto ttf = TrueTypeFontFile::fromFile(kLiberationSans);
    if (!ttf)
        GTEST_SKIP() << "fonts-liberation2 is not installed";
    auto f = font("<< /Type /Font /Subtype /TrueType /BaseFont /Mine /FontDescriptor << /Flags 32 >> >>");
    auto map = simple(f)->buildCodeToGlyphMap(*ttf);
    int macCmap = -1;
    for (int i = 0; i < ttf->getCmapCount(); ++i)
        if (ttf->getCmapPlatformId(i) == 1 && ttf->getCmapEncodingId(i) == 0)
            macCmap = i;
    if (macCmap >= 0) {
        EXPECT_EQ(map['A'], ttf->lookupGlyphId(macCmap, 'A'));
    } else {
        EXPECT_EQ(map['A'], ttf->mapNameToGid("A"));
    }
    EXPECT_NE(map['A'], 0);
}

}  // namespace
}  // namespace rendova::test
