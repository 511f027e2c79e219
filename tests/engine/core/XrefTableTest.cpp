#include "engine/core/XrefTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/Decryptor.h"
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
using test::replaceOnce;
using test::textOf;
using test::Xref;

// A document of three objects: catalog, page tree and one stream.
PdfBuilder basic() {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [] /Count 0 >>")
        .stream(3, "<< /Note (three) >>", "stream data");
    return pdf;
}

TEST(XrefTableClassic, FetchesObjectsTrailerAndRoot) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.xrefTable(Xref().trailer("/Info 2 0 R"));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getErrorCode(), 0);
    EXPECT_EQ(t.xref->getRootNumber(), 1);
    EXPECT_EQ(t.xref->getRootGeneration(), 0);
    EXPECT_EQ(t.xref->getLastSectionOffset(), pdf.sectionOffsets().back());
    EXPECT_EQ(t.xref->getSize(), 1024);

    PdfValue catalog = t.fetch(1);
    EXPECT_TRUE(catalog.isDict("Catalog"));
    PdfValue stream = t.fetch(3);
    ASSERT_TRUE(stream.isStream());
    EXPECT_EQ(readAll(stream.getStream()), "stream data");
    PdfValue note;
    EXPECT_EQ(textOf(stream.dictLookup("Note", note)), "three");

    // The trailer resolves its references through the table.
    PdfValue info;
    t.xref->getTrailer().dictLookup("Info", info);
    EXPECT_TRUE(info.isDict("Pages"));
    EXPECT_TRUE(errors.empty());
}

TEST(XrefTableClassic, MissingFreeAndOutOfRangeObjectsAreNull) {
    PdfBuilder pdf = basic();
    pdf.entry(4, 0, 0, 1).xrefTable();
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.fetch(0).isNull());
    EXPECT_TRUE(t.fetch(4).isNull());
    EXPECT_TRUE(t.fetch(5).isNull());
    EXPECT_TRUE(t.fetch(-1).isNull());
    EXPECT_TRUE(t.fetch(1 << 30).isNull());
}

TEST(XrefTableClassic, GenerationMustMatch) {
    PdfBuilder pdf = basic();
    pdf.object(5, "(five)", 0).object(6, "(six)", 2).xrefTable();
    OpenTable t(pdf.bytes());
    EXPECT_EQ(textOf(t.fetch(5, 0)), "five");
    EXPECT_TRUE(t.fetch(5, 1).isNull());
    EXPECT_EQ(textOf(t.fetch(6, 2)), "six");
    EXPECT_TRUE(t.fetch(6, 0).isNull());
}

TEST(XrefTableClassic, ObjectHeaderMustMatchTheEntry) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.object(5, "(five)");
    // Entry 6 points at object 5's header.
    pdf.entry(6, 1, pdf.offsetOf(5), 0);
    // Entry 7 points into the middle of an object.
    pdf.entry(7, 1, pdf.offsetOf(5) + 3, 0);
    pdf.xrefTable();
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(5)), "five");
    EXPECT_TRUE(t.fetch(6).isNull());
    EXPECT_TRUE(t.fetch(7).isNull());
    EXPECT_TRUE(errors.contains("not found"));
}

TEST(XrefTableClassic, FreeHeadNumberedOneShiftsTheSubsection) {
    // Written by hand: the subsection claims to start at 1 but its first line
    // is the free-list head of object 0.
    std::string body = "%PDF-1.4\n";
    const size_t o1 = body.size();
    body += "1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    const size_t o2 = body.size();
    body += "2 0 obj\n(two)\nendobj\n";
    const size_t xref = body.size();
    char table[256];
    std::snprintf(table, sizeof table,
                  "xref\n1 3\n0000000000 65535 f \n%010zu 00000 n \n%010zu 00000 n \n"
                  "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n%zu\n%%%%EOF\n",
                  o1, o2, xref);
    body += table;
    OpenTable t(body);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getEntry(0).generation, 65535);
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_EQ(textOf(t.fetch(2)), "two");
    EXPECT_TRUE(t.fetch(3).isNull());
}

TEST(XrefTableClassic, PrevAsAReferenceUsesItsNumber) {
    PdfBuilder pdf = basic();
    pdf.xrefTable();
    const int64_t first = pdf.sectionOffsets()[0];
    pdf.object(4, "(four)").xrefTable(Xref().trailer("/Prev " + std::to_string(first) + " 0 R").prev(false));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_EQ(textOf(t.fetch(4)), "four");
}

TEST(XrefTableUpdates, NewestEntryWins) {
    PdfBuilder pdf = basic();
    pdf.object(4, "(old four)").xrefTable(Xref().trailer("/Which (first)"));
    pdf.object(4, "(new four)").object(5, "(five)").xrefTable(Xref().trailer("/Which (second)"));
    pdf.object(5, "(newest five)").xrefStream(6, Xref().trailer("/Which (third)"));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(4)), "new four");
    EXPECT_EQ(textOf(t.fetch(5)), "newest five");
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    // The newest trailer is the one kept.
    PdfValue which;
    EXPECT_EQ(textOf(t.xref->getTrailer().dictLookup("Which", which)), "third");
}

TEST(XrefTableUpdates, UpdateCanFreeAnObject) {
    PdfBuilder pdf = basic();
    pdf.object(4, "(four)").xrefTable();
    pdf.entry(4, 0, 0, 1).xrefTable();
    OpenTable t(pdf.bytes());
    EXPECT_TRUE(t.fetch(4).isNull());
}

// The oldest section's /Prev is written as a placeholder of fixed width and
// then pointed at the newest section: a loop.
std::string withLoop(const PdfBuilder& pdf) {
    char prev[32];
    std::snprintf(prev, sizeof prev, "/Prev %010lld", static_cast<long long>(pdf.sectionOffsets().back()));
    return replaceOnce(pdf.bytes(), "/Prev 9999999999", prev);
}

TEST(XrefTableUpdates, LoopingPrevChainStopsAndTheRepairScanRecovers) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.xrefTable(Xref().trailer("/Prev 9999999999"));
    pdf.object(4, "(four)").xrefTable();
    OpenTable t(withLoop(pdf));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(errors.contains("Loop"));
    // The chain is damaged: the repair scan rebuilds the table.
    EXPECT_TRUE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(4)), "four");
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
}

TEST(XrefTableUpdates, LoopingChainWithoutClassicTrailerKeepsTheSectionsRead) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.xrefStream(4, Xref().trailer("/Prev 9999999999"));
    pdf.object(5, "(five)").xrefStream(6);
    OpenTable t(withLoop(pdf));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(errors.contains("Loop"));
    // The repair scan finds no trailer; the sections read before the loop
    // make the table.
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(5)), "five");
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_EQ(t.xref->getRootNumber(), 1);
}

TEST(XrefTableUpdates, SectionNamingItselfAsPreviousIsALoop) {
    PdfBuilder pdf = basic();
    pdf.xrefTable(Xref().trailer("/Prev 9999999999"));
    OpenTable t(withLoop(pdf));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.fetch(3).isStream());
}

TEST(XrefTableStream, ReadsAnXrefStreamWithComputedIndex) {
    PdfBuilder pdf = basic();
    pdf.object(10, "(ten)").xrefStream(11);
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_EQ(textOf(t.fetch(10)), "ten");
    EXPECT_TRUE(t.fetch(11).isStream());
    // The stream's dictionary is the trailer.
    PdfValue type;
    EXPECT_EQ(textOf(t.xref->getTrailer().dictLookup("Type", type)), "XRef");
    EXPECT_EQ(t.xref->getRootNumber(), 1);
}

TEST(XrefTableStream, CompressedXrefStream) {
    PdfBuilder pdf = basic();
    pdf.xrefStream(4, Xref().compress(true));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(readAll(t.fetch(3).getStream()), "stream data");
}

TEST(XrefTableStream, OddFieldWidths) {
    for (std::array<int, 3> w : {std::array<int, 3>{1, 2, 1}, {1, 3, 0}, {2, 4, 4}, {4, 4, 2}}) {
        PdfBuilder pdf = basic();
        pdf.xrefStream(4, Xref().widths(w));
        OpenTable t(pdf.bytes());
        ASSERT_TRUE(t.xref->isOk()) << w[0] << w[1] << w[2];
        EXPECT_FALSE(t.xref->wasRepaired());
        EXPECT_EQ(readAll(t.fetch(3).getStream()), "stream data");
    }
}

TEST(XrefTableStream, WithoutTypeFieldEveryEntryIsInTheFile) {
    PdfBuilder pdf = basic();
    // Object 0 would be listed as free; with no type field it would become
    // an object in the file, so the section leaves it out.
    pdf.xrefStream(4, Xref().widths({0, 2, 1}).freeHead(false));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    for (int num = 1; num <= 4; ++num)
        EXPECT_EQ(t.xref->getEntry(num).type, XrefTable::kInFile) << num;
    EXPECT_TRUE(t.fetch(2).isDict("Pages"));
}

TEST(XrefTableStream, IndexWithSeveralRangesAndAnOddLastElement) {
    PdfBuilder pdf = basic();
    pdf.object(20, "(twenty)").object(21, "(twenty-one)");
    // Ranges 0-4 and 20-22; the last element 99 has no partner and is
    // ignored. The computed index would be the same ranges.
    pdf.xrefStream(22, Xref().index("[0 4 20 3 99]"));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(21)), "twenty-one");
    EXPECT_TRUE(t.fetch(3).isStream());
    // The table takes exactly the stream's Size.
    EXPECT_EQ(t.xref->getSize(), 23);
}

TEST(XrefTableStream, RangePastSizeGrowsTheTable) {
    PdfBuilder pdf = basic();
    pdf.object(20, "(twenty)").xrefStream(21, Xref().trailer("/Size 5"));
    // The builder's own /Size comes first and wins; make it the small one.
    OpenTable t(replaceOnce(pdf.bytes(), "/Size 22", "/Size 05"));
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(t.xref->getSize(), 1024);
    EXPECT_EQ(textOf(t.fetch(20)), "twenty");
}

TEST(XrefTableStream, IndexShorterThanAPairGivesNoRange) {
    PdfBuilder pdf = basic();
    pdf.xrefTable();
    // An update whose stream lists nothing: the older table still counts.
    pdf.object(3, "(replaced)").xrefStream(4, Xref().index("[3]"));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(3).isStream());
    // The stream itself is an object of the file all the same.
    PdfValue four = t.fetch(4), type;
    ASSERT_TRUE(four.isStream());
    EXPECT_TRUE(four.dictLookup("Type", type).isName("XRef"));
}

TEST(XrefTableStream, BadFieldWidthOrEntryTypeSendsTheTableToRepair) {
    ErrorCapture errors;
    PdfBuilder wide = basic();
    wide.xrefTable(Xref().writeStartxref(false));
    wide.xrefStream(4, Xref().widths({1, 5, 1}));
    OpenTable t1(wide.bytes());
    EXPECT_TRUE(t1.xref->wasRepaired());

    PdfBuilder typed = basic();
    typed.entry(5, 3, 0, 0).xrefStream(4);
    OpenTable t2(typed.bytes());
    // No classic trailer in the file: the repair takes the stream's
    // dictionary instead.
    ASSERT_TRUE(t2.xref->isOk());
    EXPECT_TRUE(t2.xref->wasRepaired());
    EXPECT_TRUE(errors.contains("unknown type"));
    EXPECT_TRUE(errors.contains("cross-reference stream names the root"));
}

TEST(XrefTableStream, UnknownTypeForAnObjectSetByANewerSectionIsIgnored) {
    PdfBuilder pdf = basic();
    pdf.entry(5, 3, 0, 0).xrefStream(4);
    pdf.object(5, "(five)").xrefTable();
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(5)), "five");
}

TEST(XrefTableStream, IndirectLengthEndsAtTheKeyword) {
    // No table resolves references while the sections are read: the
    // stream's data runs to its endstream keyword.
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.object(9, "12").xrefTable(Xref().writeStartxref(false));
    pdf.xrefStream(4);
    std::string bytes = replaceOnce(pdf.bytes(), "/Type /XRef", "/Type /XRef /Length 9 0 R");
    OpenTable t(bytes);
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    EXPECT_TRUE(errors.contains("Length"));
}

TEST(XrefTableHybrid, TableEntriesWinAndTheStreamAddsCompressedObjects) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six in stream)"}, {7, "<< /Seven 7 >>"}});
    pdf.xrefTable(Xref().hybridStream(8));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_FALSE(t.xref->wasRepaired());
    EXPECT_EQ(textOf(t.fetch(6)), "six in stream");
    EXPECT_TRUE(t.fetch(7).isDict());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
    // The classic trailer is the trailer, not the stream's dictionary.
    PdfValue xrefStm;
    EXPECT_TRUE(t.xref->getTrailer().dictLookup("XRefStm", xrefStm).isInt());
}

TEST(XrefTableHybrid, ClassicEntryWinsOverTheStreamForTheSameObject) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(from the stream)"}});
    pdf.object(6, "(from the table)");
    // The builder lists object 6 in the table (the last definition); put a
    // compressed entry for it into the stream by hand.
    pdf.entry(6, 1, pdf.offsetOf(6), 0);
    pdf.xrefTable(Xref().hybridStream(8));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(6)), "from the table");
}

TEST(XrefTableHybrid, BrokenXrefStmFailsTheSection) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six)"}});
    pdf.xrefTable(Xref().hybridStream(8));
    std::string bytes = pdf.bytes();
    const size_t at = bytes.find("/Type /XRef");
    bytes.replace(at, 11, "/Type /XXXX");
    bytes = replaceOnce(bytes, "/W [", "/W 7 /X [");
    OpenTable t(bytes);
    EXPECT_TRUE(t.xref->wasRepaired());
}

TEST(XrefTableObjectStream, FetchesCompressedObjects) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six)"}, {7, "[1 2 3 0 R]"}, {8, "<< /Eight true >>"}}, /*compress=*/true);
    pdf.xrefStream(9);
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_EQ(textOf(t.fetch(6)), "six");
    PdfValue seven = t.fetch(7);
    ASSERT_TRUE(seven.isArray());
    PdfValue third;
    EXPECT_TRUE(seven.getArray()->get(2, third).isStream());
    PdfValue eight = t.fetch(8), flag;
    EXPECT_TRUE(eight.dictLookup("Eight", flag).getBool());
    // Compressed objects have generation 0.
    EXPECT_TRUE(t.fetch(6, 1).isNull());
}

TEST(XrefTableObjectStream, AlternatingBetweenTwoStreams) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six)"}, {7, "(seven)"}});
    pdf.objectStream(8, {{9, "(nine)"}, {10, "(ten)"}});
    pdf.xrefStream(11);
    OpenTable t(pdf.bytes());
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(textOf(t.fetch(7)), "seven");
        EXPECT_EQ(textOf(t.fetch(10)), "ten");
        EXPECT_EQ(textOf(t.fetch(6)), "six");
        EXPECT_EQ(textOf(t.fetch(9)), "nine");
    }
}

// More object streams than the table keeps parsed: every fetch still finds
// its object, whichever readers were dropped on the way.
TEST(XrefTableObjectStream, ManyStreamsInTurnAndBackwards) {
    PdfBuilder pdf = basic();
    constexpr int kStreams = 11;
    for (int i = 0; i < kStreams; ++i) {
        const int first = 100 + 10 * i;
        pdf.objectStream(first, {{first + 1, "(a" + std::to_string(i) + ")"}, {first + 2, std::to_string(i)}},
                         /*compress=*/i % 2 == 0);
    }
    pdf.xrefStream(9);
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    for (int round = 0; round < 2; ++round) {
        for (int k = 0; k < kStreams; ++k) {
            const int i = round == 0 ? k : kStreams - 1 - k;
            EXPECT_EQ(textOf(t.fetch(100 + 10 * i + 1)), "a" + std::to_string(i));
            EXPECT_EQ(t.fetch(100 + 10 * i + 2).getInt(), i);
            // Back to the first stream between others.
            EXPECT_EQ(textOf(t.fetch(101)), "a0");
        }
    }
}

// An object stream whose length lies in another object stream: reading it
// parses that other stream in the middle of taking this one in.
TEST(XrefTableObjectStream, StreamWhoseLengthLiesInAnotherStream) {
    PdfBuilder pdf = basic();
    const std::string inner = "31 0 (deep)\n";
    pdf.objectStream(5, {{6, std::to_string(inner.size())}});
    pdf.stream(30, "<< /Type /ObjStm /N 1 /First 5 /Length 6 0 R >>", inner);
    pdf.entry(31, 2, 30, 0);
    pdf.xrefStream(9);
    OpenTable t(pdf.bytes());
    EXPECT_EQ(textOf(t.fetch(31)), "deep");
    EXPECT_EQ(t.fetch(6).getInt(), int(inner.size()));
    EXPECT_EQ(textOf(t.fetch(31)), "deep");
}

TEST(XrefTableObjectStream, NumberOrIndexMismatchGivesNull) {
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six)"}, {7, "(seven)"}});
    pdf.entry(12, 2, 5, 0);  // index 0 holds object 6, not 12
    pdf.entry(13, 2, 5, 9);  // no index 9
    pdf.entry(14, 2, 3, 0);  // object 3 is not an object stream
    pdf.xrefStream(9);
    OpenTable t(pdf.bytes());
    EXPECT_TRUE(t.fetch(12).isNull());
    EXPECT_TRUE(t.fetch(13).isNull());
    EXPECT_TRUE(t.fetch(14).isNull());
    EXPECT_EQ(textOf(t.fetch(7)), "seven");
}

TEST(XrefTableObjectStream, BadHeaderPairStopsBeforeAnyObjectIsParsed) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    pdf.objectStream(5, {{6, "(six)"}, {7, "(seven)"}, {8, "(eight)"}});
    pdf.xrefStream(9);
    // The third pair's offset runs backwards.
    std::string bytes = pdf.bytes();
    const size_t header = bytes.find("6 0 7 6 8 14");
    ASSERT_NE(header, std::string::npos);
    bytes.replace(header, 12, "6 0 7 6 8 01");
    OpenTable t(bytes);
    // Pairs read before the stop give none values, the rest null.
    EXPECT_TRUE(t.fetch(6).isNone());
    EXPECT_TRUE(t.fetch(7).isNone());
    EXPECT_TRUE(t.fetch(8).isNull());
    EXPECT_TRUE(errors.contains("header"));
}

TEST(XrefTableObjectStream, SkipsBytesBeforeTheFirstOffset) {
    PdfBuilder pdf = basic();
    // Header "6 3 7 9 " is 8 bytes; objects start 3 bytes after First.
    pdf.stream(5, "<< /Type /ObjStm /N 2 /First 8 >>", "6 3 7 9 xx (six) (seven)");
    pdf.entry(6, 2, 5, 0).entry(7, 2, 5, 1).xrefStream(9);
    OpenTable t(pdf.bytes());
    EXPECT_EQ(textOf(t.fetch(6)), "six");
    EXPECT_EQ(textOf(t.fetch(7)), "seven");
}

TEST(XrefTableObjectStream, ObjectStreamInsideItselfEndsAtTheFetchLimit) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    // Object stream 5 claims to be compressed inside itself.
    pdf.entry(5, 2, 5, 0).entry(6, 2, 5, 1).xrefStream(9);
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.fetch(6).isNull());
    EXPECT_TRUE(t.fetch(5).isNull());
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
}

TEST(XrefTableObjectStream, TwoObjectStreamsInsideEachOther) {
    PdfBuilder pdf = basic();
    pdf.entry(5, 2, 6, 0).entry(6, 2, 5, 0).entry(7, 2, 5, 1).xrefStream(9);
    OpenTable t(pdf.bytes());
    EXPECT_TRUE(t.fetch(7).isNull());
}

TEST(XrefTableFetch, StreamsWithoutLengthEndAtTheirOwnKeywordInAnyOrder) {
    // The table keeps the last search for each keyword; streams fetched in
    // any order still find their own, and streams without endstream end at
    // their own endobj.
    const auto file = [](const char* end) {
        PdfBuilder pdf = basic();
        pdf.object(5, std::string("<< >>\nstream\nfive") + end)
            .object(6, std::string("<< >>\nstream\nsix") + end)
            .object(7, "(seven)")
            .xrefTable();
        return pdf.bytes();
    };
    const std::string withKeywords = file("\nendstream");
    const std::string without = file("");
    for (const std::vector<int>& order : {std::vector<int>{5, 6, 5}, {6, 5, 6}}) {
        OpenTable t(withKeywords);
        OpenTable u(without);
        for (int num : order) {
            EXPECT_EQ(readAll(t.fetch(num).getStream()), num == 5 ? "five" : "six") << num;
            EXPECT_EQ(readAll(u.fetch(num).getStream()), num == 5 ? "five" : "six") << num;
        }
        EXPECT_EQ(textOf(t.fetch(7)), "seven");
    }
}

TEST(XrefTableFetch, LengthsThatLoopEndAtTheKeyword) {
    // A Length that needs its own object (directly, in a circle, or along a
    // chain deeper than the fetches may nest) is not a usable Length: the
    // loop is reported and the data runs to the endstream keyword.
    PdfBuilder self = basic();
    self.stream(5, "<< /Length 5 0 R >>", "data").xrefTable();
    PdfBuilder circle = basic();
    circle.stream(5, "<< /Length 6 0 R >>", "data").stream(6, "<< /Length 5 0 R >>", "data").xrefTable();
    // Object 10 + i is a stream whose Length is object 11 + i: reading one
    // reads all the rest of the chain.
    PdfBuilder chain = basic();
    for (int i = 0; i < 40; ++i)
        chain.stream(10 + i, "<< /Length " + std::to_string(11 + i) + " 0 R >>", "data");
    chain.object(50, "4").xrefTable();
    const struct {
        const char* name;
        std::string bytes;
        std::vector<int> streams;
        const char* report;
    } cases[] = {{"self", self.bytes(), {5}, "itself"},
                 {"circle", circle.bytes(), {5, 6}, "itself"},
                 {"chain", chain.bytes(), {10, 30, 48, 49}, "levels deep"}};
    for (const auto& c : cases) {
        ErrorCapture errors;
        OpenTable t(c.bytes);
        for (int num : c.streams) {
            PdfValue v = t.fetch(num);
            ASSERT_TRUE(v.isStream()) << c.name << " " << num;
            EXPECT_EQ(readAll(v.getStream()), "data") << c.name << " " << num;
        }
        EXPECT_TRUE(errors.contains(c.report)) << c.name;
        // The table is still usable afterwards.
        EXPECT_TRUE(t.fetch(1).isDict("Catalog")) << c.name;
    }
}

TEST(XrefTableFetch, StreamsInArraysCannotMultiplyTheFetches) {
    ErrorCapture errors;
    PdfBuilder pdf = basic();
    // Each object holds three streams (not valid, but written) whose Length
    // is the next object: read naively, 3^30 fetches.
    for (int i = 0; i < 30; ++i) {
        std::string item = "<< /Length " + std::to_string(11 + i) + " 0 R >> stream\nabcd\nendstream ";
        pdf.object(10 + i, "[" + item + item + item + "]");
    }
    pdf.object(40, "4").xrefTable();
    OpenTable t(pdf.bytes());
    PdfValue v = t.fetch(10);
    ASSERT_TRUE(v.isArray());
    EXPECT_TRUE(errors.contains("more than"));
}

TEST(XrefTableFetch, IndirectLengthIsResolved) {
    PdfBuilder pdf = basic();
    pdf.stream(5, "<< /Length 6 0 R >>", "0123456789").object(6, "10").xrefTable();
    OpenTable t(pdf.bytes());
    PdfValue v = t.fetch(5);
    ASSERT_TRUE(v.isStream());
    EXPECT_EQ(readAll(v.getStream()), "0123456789");
}

TEST(XrefTableFetch, EntryOffsetOutsideTheFileGivesNull) {
    PdfBuilder pdf = basic();
    pdf.entry(5, 1, 1000000, 0).entry(6, 1, 0xffffffffLL, 0).xrefStream(7, Xref().widths({1, 4, 1}));
    OpenTable t(pdf.bytes());
    ASSERT_TRUE(t.xref->isOk());
    EXPECT_TRUE(t.fetch(5).isNull());
    EXPECT_TRUE(t.fetch(6).isNull());
}

TEST(XrefTableEncryption, SetEncryptionKeepsTheParameters) {
    PdfBuilder pdf = basic();
    pdf.xrefTable();
    OpenTable t(pdf.bytes());
    EXPECT_FALSE(t.xref->isEncrypted());
    EXPECT_EQ(t.xref->getPermissions(), 0xfffc);
    unsigned char key[20];
    for (int i = 0; i < 20; ++i)
        key[i] = static_cast<unsigned char>(i + 1);
    t.xref->setEncryption(-4, true, key, 20, 2, 1);
    EXPECT_TRUE(t.xref->isEncrypted());
    EXPECT_EQ(t.xref->getPermissions(), -4);
    EXPECT_TRUE(t.xref->isOwnerPasswordOk());
    EXPECT_EQ(t.xref->getKeyLength(), 16);
    EXPECT_EQ(t.xref->getFileKey()[15], 16);
    EXPECT_EQ(t.xref->getEncryptionVersion(), 2);
    EXPECT_EQ(t.xref->getEncryptionAlgorithm(), 1);
    // Without a decryptor objects read as they are.
    EXPECT_TRUE(t.fetch(1).isDict("Catalog"));
}

// A stand-in cipher: every byte is stored one lower and read one higher.
class AddOneStream : public DecoderStream {
public:
    explicit AddOneStream(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}
    int getKind() override { return kOtherKind; }
    void reset() override { source()->reset(); }
    int getChar() override {
        int c = source()->getChar();
        return c < 0 ? c : (c + 1) & 0xff;
    }
    int peekChar() override {
        int c = source()->peekChar();
        return c < 0 ? c : (c + 1) & 0xff;
    }
    bool isBinary(bool) override { return true; }
};

class AddOneDecryptor : public Decryptor {
public:
    explicit AddOneDecryptor(std::vector<std::pair<int, int>>* calls) : m_calls(calls) {}
    RefPtr<DataStream> decryptStream(RefPtr<DataStream> source, int num, int gen) const override {
        m_calls->emplace_back(num, gen);
        return RefPtr<DataStream>::adopt(new AddOneStream(std::move(source)));
    }

private:
    std::vector<std::pair<int, int>>* m_calls;
};

std::string minusOne(std::string text) {
    for (char& c : text)
        c = char(c - 1);
    return text;
}

TEST(XrefTableEncryption, ObjectsAreDecryptedWithTheirNumberAndGeneration) {
    PdfBuilder pdf = basic();
    pdf.object(5, "[(" + minusOne("abc") + ") /Name 12]", 2);
    pdf.stream(6, "<< >>", minusOne("stream bytes"));
    // The objects inside an object stream are decrypted with the stream.
    pdf.stream(7, "<< /Type /ObjStm /N 1 /First 4 >>", minusOne("8 0 (inner)"));
    pdf.entry(8, 2, 7, 0).xrefStream(9);
    OpenTable t(pdf.bytes());
    std::vector<std::pair<int, int>> calls;
    const unsigned char key[5] = {1, 2, 3, 4, 5};
    t.xref->setEncryption(-4, false, key, 5, 1, 0);
    t.xref->setDecryptor(std::make_unique<AddOneDecryptor>(&calls));

    PdfValue five = t.fetch(5, 2), e;
    ASSERT_TRUE(five.isArray());
    EXPECT_EQ(textOf(five.getArray()->getRaw(0, e)), "abc");
    EXPECT_EQ(textOf(five.getArray()->getRaw(1, e)), "Name");
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{5, 2}}));
    EXPECT_EQ(readAll(t.fetch(6).getStream()), "stream bytes");
    calls.clear();
    EXPECT_EQ(textOf(t.fetch(8)), "inner");
    EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{7, 0}}));
}

}  // namespace
}  // namespace rendova
