// The repair scan of XrefTable and the damage that leads to it.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/XrefTable.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/engine/core/XrefTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/PdfBuilder.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::OpenTable;
using test::PdfBuilder;
using test::readAll;
using test::replaceLast;
using test::replaceOnce;
using test::textOf;
using test::truncated;
using test::Xref;

PdfBuilder sample() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [] /Count 0 >>")
        .stream(3, "<< >>", "content of three")
        .object(4, "(four)");
    return pdf;
}

// A repair changes no stream: a Length that ends at the endstream keyword
// holds as it does in an undamaged table.
void expectSampleObjects(OpenTable& t) {
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_TRUE(t.fetch(2).isDict("Pages"));
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    PdfValue three = t.fetch(3);
    ASSERT_TRUE(three.isStream());
    EXPECT_EQ(readAll(three.getStream()), "content of three");
}

TEST(XrefRepair, StartxrefPointingAtGarbage) {
    ErrorCapture errors;
    PdfBuilder pdf = sample();
    pdf.xrefTable(Xref().startxref(30));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
    expectSampleObjects(t);
    EXPECT_TRUE(errors.contains("scanning"));
}

TEST(XrefRepair, StartxrefZeroOrPastTheEnd) {
    for (int64_t offset : {int64_t(0), int64_t(1) << 31, int64_t(9999999999)}) {
        PdfBuilder pdf = sample();
        pdf.xrefTable(Xref().startxref(offset));
        OpenTable t(pdf.bytes());
        ASSERT_TRUE(t.xref->isOk()) << offset;
        EXPECT_TRUE(t.xref->wasRepaired());
        expectSampleObjects(t);
    }
}

TEST(XrefRepair, StartxrefWithTooManyDigitsReadsTenOfThem) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    const std::string offset = std::to_string(pdf.sectionOffsets()[0]);
    // Leading zeros pad the true offset to exactly ten digits: read as is.
    std::string ten = std::string(10 - offset.size(), '0') + offset;
    OpenTable exact(replaceLast(pdf.bytes(), "startxref\n" + offset, "startxref\n" + ten));
    EXPECT_FALSE(exact.xref->wasRepaired());
    // Twenty digits: only the first ten are read, and nothing overflows.
    OpenTable longer(replaceLast(pdf.bytes(), "startxref\n" + offset, "startxref\n" + ten + "9999999999"));
    EXPECT_FALSE(longer.xref->wasRepaired());
    OpenTable huge(replaceLast(pdf.bytes(), "startxref\n" + offset, "startxref\n99999999999999999999999"));
    EXPECT_TRUE(huge.xref->wasRepaired());
    EXPECT_TRUE(huge.xref->isOk());
}

TEST(XrefRepair, StartxrefKeywordMissingFromTheLastKilobyte) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    pdf.raw("%" + std::string(1100, 'c') + "\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    expectSampleObjects(t);
}

TEST(XrefRepair, StartxrefFoundWithinTheLastKilobyte) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    pdf.raw("%" + std::string(900, 'c') + "\n");
    OpenTable t(pdf.bytes());
    EXPECT_FALSE(t.xref->wasRepaired());
}

TEST(XrefRepair, TruncatedBeforeTheTrailerTakesTheCatalogAsRoot) {
    // A file cut short loses its trailer first: the last catalog object
    // becomes the root.
    ErrorCapture errors;
    PdfBuilder pdf = sample();
    pdf.object(5, "<< /Type /Catalog /Pages 2 0 R /Version /1.7 >>").xrefTable();
    const size_t xref = size_t(pdf.sectionOffsets()[0]);
    OpenTable t(truncated(pdf.bytes(), xref + 20));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getRootNumber(), 5);
    EXPECT_EQ(t.xref->getRootGeneration(), 0);
    PdfValue root;
    EXPECT_TRUE(t.xref->getTrailer().dictLookup("Root", root).isDict("Catalog"));
    expectSampleObjects(t);
    EXPECT_TRUE(errors.contains("taken as the root"));
}

TEST(XrefRepair, WithoutTrailerOrCatalogTheRepairFails) {
    ErrorCapture errors;
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Pages /Kids [] /Count 0 >>").object(2, "(two)").raw("trailer << /Size 3 >>\n");
    OpenTable t(pdf.bytes());
    EXPECT_FALSE(t.xref->isOk());
    EXPECT_EQ(t.xref->getErrorCode(), XrefTable::kErrorDamaged);
    EXPECT_TRUE(errors.contains("no trailer"));
}

TEST(XrefRepair, CrossReferenceStreamStandsInForTheTrailer) {
    // A file of cross-reference streams has no trailer keyword; its catalog
    // and pages lie in an object stream.
    PdfBuilder pdf;
    pdf.objectStream(5,
                     {{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, "<< /Type /Pages /Kids [] /Count 0 >>"}});
    pdf.object(3, "<< /Producer (three) >>");
    pdf.xrefStream(7, Xref().trailer("/Info 3 0 R").startxref(9));  // pointing nowhere
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_TRUE(t.fetch(2).isDict("Pages"));
    PdfValue info;
    t.xref->getTrailer().dictLookup("Info", info);
    ASSERT_TRUE(info.isDict());
}

TEST(XrefRepair, CatalogInAnObjectStreamOfACutFile) {
    PdfBuilder pdf;
    pdf.object(2, "<< /Type /Pages /Kids [] /Count 0 >>");
    pdf.objectStream(5, {{1, "<< /Type /Catalog /Pages 2 0 R >>"}, {2, "(older two)"}, {6, "(six)"}});
    pdf.xrefStream(7);
    OpenTable t(truncated(pdf.bytes(), size_t(pdf.offsetOf(7))));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_EQ(textOf(t.fetch(6)), "six");
    // An object written in the file itself wins over the object stream's.
    EXPECT_TRUE(t.fetch(2).isDict("Pages"));
}

TEST(XrefRepair, TruncatedAfterTheTrailerIsRepaired) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    OpenTable t(truncated(pdf.bytes(), pdf.bytes().rfind("startxref") + 4));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    expectSampleObjects(t);
}

TEST(XrefRepair, TruncatedInsideAStreamKeepsTheObjectsBeforeIt) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").raw("trailer << /Root 1 0 R >>\n").object(2, "(two)");
    pdf.stream(3, "<< >>", std::string(500, 's')).xrefTable();
    std::string cut = truncated(pdf.bytes(), size_t(pdf.offsetOf(3)) + 100);
    OpenTable t(cut);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(2)), "two");
    // The stream without its end reads what the file still holds.
    PdfValue three = t.fetch(3);
    ASSERT_TRUE(three.isStream());
    EXPECT_LT(readAll(three.getStream()).size(), 100u);
}

TEST(XrefRepair, WrongOffsetsInTheTable) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    // A comment inserted after the header moves every object by 20 bytes.
    std::string bytes = pdf.bytes();
    bytes.insert(bytes.find('\n') + 1, "% inserted comment\n");
    bytes = replaceLast(bytes, std::to_string(pdf.sectionOffsets()[0]),
                        std::to_string(pdf.sectionOffsets()[0] + 19));
    ErrorCapture errors;
    OpenTable t(bytes);
    ASSERT_TRUE(t.xref->isOk());
    // The table reads fine, so opening makes no repair; the first object not
    // found where the table says makes the one rescan, which finds them all.
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_TRUE(errors.contains("not found at its offset"));
    EXPECT_TRUE(t.fetch(2).isDict("Pages"));
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    // The table's stream lengths stand.
    EXPECT_EQ(readAll(t.fetch(3).getStream()), "content of three");
}

// The sample's table (objects 0 to 4, one subsection of 20-byte lines) split
// after its first `at` entries, the rest under the given header line: a
// damaged header names the wrong first object.
std::string splitSubsection(const std::string& bytes, int at, const std::string& header) {
    const size_t table = bytes.rfind("xref\n0 5\n");
    std::string out = bytes;
    out.insert(table + 9 + size_t(at) * 20, header + "\n");
    out.replace(table, 9, "xref\n0 " + std::to_string(at) + "\n");
    return out;
}

TEST(XrefRepair, ObjectsOfASubsectionPastTheSizeAreFoundByTheRescan) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    // "4 1" gained a digit: object 4's entry lands on 41. The Size is wrong
    // too (many writers give the count of objects), so 4 lies beyond it.
    ErrorCapture errors;
    OpenTable t(replaceOnce(splitSubsection(pdf.bytes(), 4, "41 1"), "/Size 5", "/Size 2"));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(errors.contains("past the trailer's Size"));
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(41).isNull());
    // The trailer and the rest of the table stand.
    EXPECT_EQ(t.xref->getRootNumber(), 1);
    EXPECT_EQ(readAll(t.fetch(3).getStream()), "content of three");

    // A table whose only fault is a Size too small reads as it stands.
    PdfBuilder small = sample();
    small.xrefTable();
    OpenTable s(replaceOnce(small.bytes(), "/Size 5", "/Size 2"));
    EXPECT_EQ(textOf(s.fetch(4)), "four");
    EXPECT_FALSE(s.xref->wasRepaired());
}

TEST(XrefRepair, ObjectsNoSubsectionListsAreFoundByTheRescan) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    // Object 4's entry lands on 3, which the first subsection set already:
    // 4 lies below the Size, has no entry, and is in the file.
    OpenTable t(splitSubsection(pdf.bytes(), 4, "3 1"));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(readAll(t.fetch(3).getStream()), "content of three");
}

TEST(XrefRepair, ObjectsATrailerWithoutSizeLeftOutAreFoundByTheRescan) {
    // A table that lists objects 2 to 4 only, under a trailer without a
    // Size, as a writer of a damaged file's first-page section left it.
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    std::string bytes = replaceOnce(pdf.bytes(), "/Size 5 ", "");
    // The table stays where startxref says: the subsection header and the
    // entries of 0 and 1 (20 bytes each) become one header.
    const size_t table = bytes.rfind("xref\n0 5\n");
    bytes.replace(table, 9 + 2 * 20, "xref\n2 3\n");
    OpenTable t(bytes);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_TRUE(t.xref->wasRepaired());
    expectSampleObjects(t);
}

TEST(XrefRepair, NumbersBeyondTheSizeMakeNoRescan) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    OpenTable t(pdf.bytes());
    EXPECT_TRUE(t.fetch(9).isNull());
    EXPECT_TRUE(t.fetch(4, 1).isNull());
    EXPECT_FALSE(t.xref->wasRepaired());
}

TEST(XrefRepair, GenerationOnlyTheTableGotWrong) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    const std::string fourth = "00000 n\r\n";
    std::string bytes = pdf.bytes();
    const size_t at = bytes.rfind(fourth);
    bytes.replace(at, fourth.size(), "00001 n\r\n");
    OpenTable t(bytes);
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    EXPECT_TRUE(t.xref->wasRepaired());

    // A number used again: the table and the file agree on generation 1,
    // and an old reference to generation 0 is rightly null.
    PdfBuilder reused = sample();
    reused.object(5, "(five again)", 1).xrefTable();
    OpenTable r(reused.bytes());
    EXPECT_TRUE(r.fetch(5, 0).isNull());
    EXPECT_FALSE(r.xref->wasRepaired());
    EXPECT_EQ(textOf(r.fetch(5, 1)), "five again");
}

TEST(XrefRepair, DataThatEndsAtAnObjectGivesNull) {
    // Cut right after an object's header, and inside an object stream
    // whose header lists an object past its data.
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").raw("trailer << /Root 1 0 R >>\n").raw("4 0 obj\n");
    OpenTable cut(pdf.bytes());
    ASSERT_TRUE(cut.xref->isOk());
    EXPECT_TRUE(cut.fetch(4).isNull());

    PdfBuilder objstm;
    objstm.object(1, "<< /Type /Catalog >>")
        .stream(2, "<< /Type /ObjStm /N 2 /First 10 >>", "5 0 6 100 (five)")
        .entry(5, 2, 2, 0)
        .entry(6, 2, 2, 1)
        .xrefStream(3);
    OpenTable t(objstm.bytes());
    EXPECT_EQ(textOf(t.fetch(5)), "five");
    EXPECT_TRUE(t.fetch(6).isNull());
}

TEST(XrefRepair, JunkBeforeTheHeaderCountsOffsetsFromTheMarker) {
    PdfBuilder pdf("junk junk junk\n%PDF-1.4\n");
    pdf.object(1, "<< /Type /Catalog >>").object(2, "(two)");
    pdf.xrefTable();
    // The builder counted offsets from the file's start; a file with junk
    // before the header counts them from the marker.
    PdfBuilder clean("%PDF-1.4\n");
    clean.object(1, "<< /Type /Catalog >>").object(2, "(two)");
    clean.xrefTable();
    OpenTable t("junk junk junk\n" + clean.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(2)), "two");

    // Broken offsets: the repair scan measures from the marker as well.
    OpenTable repaired(pdf.bytes());
    ASSERT_TRUE(repaired.xref->isOk());
    EXPECT_TRUE(repaired.xref->wasRepaired());
    EXPECT_EQ(textOf(repaired.fetch(2)), "two");
    EXPECT_TRUE(repaired.fetch(1).isDict("Catalog"));
}

TEST(XrefRepair, ObjectDefinedTwiceWithEqualGenerationsTakesTheLater) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").object(12, "(first)").object(12, "(second)");
    pdf.xrefTable(Xref().startxref(5));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(12)), "second");
}

TEST(XrefRepair, ObjectDefinedTwiceKeepsTheHigherGeneration) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").object(12, "(first)", 1).object(12, "(second)", 0);
    pdf.xrefTable(Xref().startxref(5));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(12, 1)), "first");
    EXPECT_TRUE(t.fetch(12, 0).isNull());
}

TEST(XrefRepair, LastTrailerWithARootWins) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /N 1 >>").object(5, "<< /Type /Catalog /N 5 >>");
    pdf.raw("trailer\n<< /Root 1 0 R >>\n")
        .raw("trailer\n<< /Root 5 0 R >>\n")
        .raw("trailer\n<< /Info 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(t.xref->getRootNumber(), 5);
    PdfValue root;
    t.xref->getTrailer().dictLookup("Root", root);
    PdfValue n;
    EXPECT_EQ(root.dictLookup("N", n).getInt(), 5);
}

TEST(XrefRepair, IndentedTrailerKeywordIsFound) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").raw("   \t trailer << /Root 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
}

TEST(XrefRepair, TrailerWithoutRootFallsBackToTheCatalog) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>").raw("trailer << /Size 2 >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
}

TEST(XrefRepair, RootThatIsNotAReferenceSendsATableToRepair) {
    PdfBuilder pdf = sample();
    pdf.xrefTable(Xref().root(0).trailer("/Root << /Type /Catalog >>"));
    pdf.raw("trailer << /Root 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getRootNumber(), 1);
}

TEST(XrefRepair, HugeObjectNumberLineIsSkipped) {
    ErrorCapture errors;
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>");
    pdf.raw("99999999999 0 obj\n(huge)\nendobj\n2147483647 0 obj (max) endobj\n");
    pdf.object(3, "(three)").raw("trailer << /Root 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(3)), "three");
    EXPECT_LE(t.xref->getSize(), 256);
    EXPECT_TRUE(errors.contains("out of range"));
}

TEST(XrefRepair, MalformedObjectLinesAreIgnored) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog >>");
    pdf.raw("0 0 obj (zero)\n7 x obj (no generation)\n8 0 ob (no keyword)\n9 0obj (glued)\n10obj\n");
    pdf.raw("trailer << /Root 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.fetch(0).isNull());
    EXPECT_TRUE(t.fetch(7).isNull());
    EXPECT_TRUE(t.fetch(8).isNull());
    // "0obj" reads as the number 0 and the keyword obj.
    EXPECT_EQ(textOf(t.fetch(9)), "glued");
    EXPECT_TRUE(t.fetch(10).isNull());
}

TEST(XrefRepair, StreamsEndWhereTheyEndInAnUndamagedTable) {
    // Streams without a usable Length, or with one that misses the keyword,
    // end at the first endstream keyword in a repaired table exactly as in
    // the table that the file gives; a Length that ends at the keyword is
    // kept although the data holds the word earlier.
    const std::pair<int, const char*> expected[] = {{5, "no length"},
                                                    {6, "short length"},
                                                    {7, "no line end "},
                                                    {9, "long length"},
                                                    {10, "holds endstream early"}};
    for (const bool broken : {false, true}) {
        PdfBuilder pdf = sample();
        pdf.object(5, "<< >>\nstream\nno length\nendstream")
            .object(6, "<< /Length 3 >>\nstream\r\nshort length\r\nendstream")
            .object(7, "<< /Length 8 0 R >>\nstream\nno line end endstream")
            .object(8, "null")
            .object(9, "<< /Length 999 >>\nstream\nlong length\nendstream")
            .stream(10, "<< >>", "holds endstream early")
            .xrefTable(broken ? Xref().startxref(7) : Xref());
        OpenTable t(pdf.bytes());
        ASSERT_TRUE(t.xref->isOk());
        EXPECT_EQ(t.xref->wasRepaired(), broken);
        for (const auto& [num, data] : expected) {
            PdfValue v = t.fetch(num);
            ASSERT_TRUE(v.isStream()) << num << (broken ? " repaired" : "");
            EXPECT_EQ(readAll(v.getStream()), data) << num << (broken ? " repaired" : "");
        }
        expectSampleObjects(t);
    }
}

TEST(XrefRepair, LinesEndedByCarriageReturnsAlone) {
    std::string text =
        "%PDF-1.4\r1 0 obj\r<< /Type /Catalog >>\rendobj\r2 0 obj\r(two)\rendobj\r"
        "trailer\r<< /Root 1 0 R >>\r%%EOF\r";
    OpenTable t(text);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(2)), "two");
}

TEST(XrefRepair, LongLinesAreExaminedInPieces) {
    PdfBuilder pdf;
    // The object line sits 255 bytes into a longer line: the second piece
    // starts with it.
    pdf.raw(std::string(255, 'x')).raw("2 0 obj (two) endobj\n");
    pdf.object(1, "<< /Type /Catalog >>").raw("trailer << /Root 1 0 R >>\n");
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(2)), "two");
}

TEST(XrefRepair, SectionClaimingMoreEntriesThanATableMayHold) {
    ErrorCapture errors;
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    std::string bytes = replaceOnce(pdf.bytes(), "xref\n0 5", "xref\n0 2000000000");
    // Keep startxref right: the table did not move.
    OpenTable t(bytes);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    expectSampleObjects(t);
    EXPECT_TRUE(errors.contains("claims"));
}

TEST(XrefRepair, SubsectionThatWouldOverflowFailsTheSection) {
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    OpenTable t(replaceOnce(pdf.bytes(), "xref\n0 5", "xref\n2147483000 5000"));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
}

TEST(XrefRepair, XrefStreamSizeBeyondTheLimitFailsTheSection) {
    PdfBuilder pdf = sample();
    pdf.xrefTable(Xref().writeStartxref(false));
    pdf.xrefStream(5, Xref().trailer("/Dummy 0"));
    OpenTable t(replaceOnce(pdf.bytes(), "/Size 6 ", "/Size 1999999999 "));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    expectSampleObjects(t);
}

TEST(XrefRepair, NegativeCountsAndBadEntriesFailTheSection) {
    for (const char* damage : {"xref\n0 -5", "xref\n-1 5", "xref\n0 5.0"}) {
        PdfBuilder pdf = sample();
        pdf.xrefTable();
        OpenTable t(replaceOnce(pdf.bytes(), "xref\n0 5", damage));
        EXPECT_TRUE(t.xref->wasRepaired()) << damage;
        EXPECT_TRUE(t.xref->isOk());
    }
    PdfBuilder pdf = sample();
    pdf.xrefTable();
    OpenTable t(replaceOnce(pdf.bytes(), " 00000 n", " 00000 x"));
    EXPECT_TRUE(t.xref->wasRepaired());
}

TEST(XrefRepair, RepairFindsTheObjectsOfObjectStreams) {
    // Objects inside object streams have no "obj" line of their own: the
    // repaired table learns them from each object stream's header.
    PdfBuilder pdf = sample();
    pdf.objectStream(5, {{6, "(six)"}});
    pdf.xrefTable(Xref().hybridStream(7).startxref(3));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(6)), "six");
    EXPECT_TRUE(t.fetch(5).isStream());
}

TEST(XrefRepair, EmptyAndTinyFiles) {
    for (const char* text : {"", "%PDF-1.4", "%PDF-1.4\n%%EOF", "startxref\n5\n", "trailer", "trailer <<"}) {
        OpenTable t(text);
        EXPECT_FALSE(t.xref->isOk()) << text;
        EXPECT_EQ(t.xref->getErrorCode(), XrefTable::kErrorDamaged);
        PdfValue v = t.fetch(1);
        EXPECT_TRUE(v.isNull());
    }
}

}  // namespace
}  // namespace rendova
