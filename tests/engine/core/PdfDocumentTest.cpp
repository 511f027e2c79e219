#include "engine/core/PdfDocument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "engine/core/DocumentCatalog.h"
#include "engine/core/Outline.h"
#include "engine/core/Page.h"
#include "engine/core/XrefTable.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/PdfBuilder.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::openBytes;
using test::PdfBuilder;
using test::Xref;

// A catalog and a page tree root whose Kids and Count are given, followed by
// the objects of the tree.
PdfBuilder treeDocument(const std::string& kids, const std::string& count) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + count + " >>");
    return pdf;
}

std::string pageObject(const std::string& extra = "") {
    return "<< /Type /Page /Parent 2 0 R " + extra + " >>";
}

// ---- opening --------------------------------------------------------------

TEST(PdfDocumentOpen, ReadsVersionPagesAndReferences) {
    PdfBuilder pdf = treeDocument("3 0 R 4 0 R", "2");
    pdf.object(3, pageObject()).object(4, pageObject()).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getErrorCode(), 0);
    EXPECT_DOUBLE_EQ(doc->getVersion(), 1.7);
    ASSERT_EQ(doc->getPageCount(), 2);
    EXPECT_EQ(doc->getPage(2)->getNumber(), 2);
    EXPECT_EQ(doc->getCatalog()->getPageRef(1).num, 3);
    EXPECT_EQ(doc->getCatalog()->getPageRef(2).num, 4);
    EXPECT_EQ(doc->getCatalog()->findPage(4, 0), 2);
    EXPECT_EQ(doc->getCatalog()->findPage(4, 1), 0);
    EXPECT_EQ(doc->getPermissions(), 0xfffc);
    EXPECT_FALSE(doc->getXref()->isEncrypted());
    EXPECT_TRUE(errors.empty());
}

TEST(PdfDocumentOpen, JunkBeforeTheHeaderMovesEveryOffset) {
    // Offsets written as a writer counts them from the marker, with 200
    // bytes of junk before it.
    PdfBuilder pdf("%PDF-1.4\n");
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, pageObject())
        .xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(std::string(199, 'j') + "\n" + pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_FALSE(doc->getXref()->wasRepaired());
    EXPECT_DOUBLE_EQ(doc->getVersion(), 1.4);
    EXPECT_EQ(doc->getPageCount(), 1);
    EXPECT_TRUE(errors.empty());
}

TEST(PdfDocumentOpen, NotAPdfGivesTheCrossReferenceCode) {
    ErrorCapture errors;
    auto doc = openBytes("This is a plain text file.\nNothing here looks like a document.\n");
    EXPECT_FALSE(doc->isOk());
    EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorBadXref);
    EXPECT_DOUBLE_EQ(doc->getVersion(), 0);
    EXPECT_EQ(doc->getPageCount(), 0);
    EXPECT_TRUE(errors.contains("PDF"));
}

TEST(PdfDocumentOpen, TruncatedHeadersFailCleanly) {
    for (std::string bytes : {std::string("%PDF-"), std::string("%PDF-1"), std::string("%PD"),
                              std::string(""), std::string(1019, ' ') + "%PDF-", std::string(1024, '\0')}) {
        SCOPED_TRACE(bytes.size());
        ErrorCapture errors;
        auto doc = openBytes(bytes);
        EXPECT_FALSE(doc->isOk());
        EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorBadXref);
    }
}

TEST(PdfDocumentOpen, HeaderWithoutVersionIsReportedAndOpens) {
    // A NUL right after the marker ends the header text: no version token.
    PdfBuilder pdf(std::string("%PDF-\0\n", 7));
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [] /Count 0 >>")
        .xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    EXPECT_TRUE(doc->isOk());
    EXPECT_DOUBLE_EQ(doc->getVersion(), 0);
    EXPECT_TRUE(errors.contains("PDF"));
}

TEST(PdfDocumentOpen, VersionTextFillingTheSearchedBytesStaysInside) {
    // No delimiter within the 1,024 bytes: the text ends with the buffer.
    ErrorCapture errors;
    auto doc = openBytes("%PDF-1." + std::string(2000, '7'));
    EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorBadXref);
    EXPECT_GT(doc->getVersion(), 1.7);
}

TEST(PdfDocumentOpen, MissingFileGivesTheOpenCode) {
    ErrorCapture errors;
    auto doc = test::openPath(test::testFilePath("-missing"));
    EXPECT_FALSE(doc->isOk());
    EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorOpenFile);
    EXPECT_TRUE(errors.contains("open"));
}

TEST(PdfDocumentOpen, NameInMixedCaseOpensTheLowerOrUpperCaseFile) {
    PdfBuilder pdf = treeDocument("3 0 R", "1");
    pdf.object(3, pageObject()).xrefTable();
    // A folder of the test's own with capitals in its name: only the file
    // name changes case, never the folders.
    const std::filesystem::path dir =
        std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "Document Case" / "MixedFolder";
    std::filesystem::remove_all(dir.parent_path());
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "mixedcase.pdf", std::ios::binary) << pdf.bytes();
    std::ofstream(dir / "UPPERCASE.PDF", std::ios::binary) << pdf.bytes();
    for (const char* typed : {"MixedCase.pdf", "UpperCase.pdf"}) {
        auto doc = test::openPath((dir / typed).string());
        EXPECT_TRUE(doc->isOk()) << typed;
        EXPECT_EQ(doc->getPageCount(), 1) << typed;
    }
    EXPECT_EQ(test::openPath((dir.parent_path() / "mixedfolder" / "mixedcase.pdf").string())->getErrorCode(),
              PdfDocument::kErrorOpenFile);
    std::filesystem::remove_all(dir.parent_path());
}

TEST(PdfDocumentOpen, CatalogThatIsNotADictionaryGivesTheDamagedCode) {
    PdfBuilder pdf;
    pdf.object(1, "[/Not /A /Catalog]").xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorDamaged);
    EXPECT_TRUE(errors.contains("array"));
    EXPECT_EQ(doc->getPageCount(), 0);
}

TEST(PdfDocumentOpen, PageTreeRootWithoutCountGivesTheDamagedCode) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>").object(2, "<< /Type /Pages /Kids [] >>").xrefTable();
    ErrorCapture errors;
    EXPECT_EQ(openBytes(pdf.bytes())->getErrorCode(), PdfDocument::kErrorDamaged);
}

// ---- the page tree --------------------------------------------------------

TEST(PageTree, MorePagesThanCountAreAllCollected) {
    PdfBuilder pdf = treeDocument("3 0 R 4 0 R 5 0 R 6 0 R 7 0 R", "3");
    for (int i = 3; i <= 7; ++i)
        pdf.object(i, pageObject());
    pdf.xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getPageCount(), 5);
    EXPECT_EQ(doc->getCatalog()->getPageRef(5).num, 7);
    EXPECT_TRUE(errors.contains("differs"));
}

TEST(PageTree, CountThatIsRealNegativeOrHugeIsClamped) {
    for (const char* count :
         {"0", "2.9", "-7", "1e9", "99999999999", "2147483647", "-2147483648", "1.5e300"}) {
        SCOPED_TRACE(count);
        PdfBuilder pdf = treeDocument("3 0 R 4 0 R", count);
        pdf.object(3, pageObject()).object(4, pageObject()).xrefTable();
        ErrorCapture errors;
        auto doc = openBytes(pdf.bytes());
        ASSERT_TRUE(doc->isOk());
        EXPECT_EQ(doc->getPageCount(), 2);
    }
}

TEST(PageTree, KidThatRefersBackToAnAncestorIsSkipped) {
    PdfBuilder pdf = treeDocument("3 0 R 5 0 R", "2");
    pdf.object(3, "<< /Type /Pages /Parent 2 0 R /Kids [4 0 R 2 0 R 3 0 R] /Count 1 >>")
        .object(4, pageObject())
        .object(5, pageObject())
        .xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getErrorCode(), 0);
    EXPECT_EQ(doc->getPageCount(), 2);
    EXPECT_EQ(doc->getCatalog()->getPageRef(1).num, 4);
    EXPECT_EQ(doc->getCatalog()->getPageRef(2).num, 5);
    EXPECT_TRUE(errors.contains("twice"));
}

TEST(PageTree, PageListedTwiceCountsOnce) {
    PdfBuilder pdf = treeDocument("3 0 R 3 0 R", "2");
    pdf.object(3, pageObject()).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getPageCount(), 1);
}

TEST(PageTree, SharedKidsArraysDoNotMultiplyTheWalk) {
    // Each node's two direct kids name the same Kids array again: without
    // a guard the walk doubles at every level.
    PdfBuilder pdf = treeDocument("<< /Kids 3 0 R >> << /Kids 3 0 R >>", "1");
    pdf.object(3, "[<< /Kids 3 0 R >> << /Kids 3 0 R >> 4 0 R]").object(4, pageObject()).xrefTable();
    ErrorCapture errors;
    const auto start = std::chrono::steady_clock::now();
    auto doc = openBytes(pdf.bytes());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getPageCount(), 1);
}

TEST(PageTree, DeepChainOfNodesStopsAtTheDepthLimit) {
    // A chain of distinct intermediate nodes, deeper than the limit, with a
    // page at its end and one beside the chain.
    const int depth = DocumentCatalog::kMaxPageTreeDepth + 20;
    PdfBuilder pdf = treeDocument("10 0 R 3 0 R", "2");
    pdf.object(3, pageObject());
    for (int i = 0; i < depth; ++i) {
        const int num = 10 + i;
        pdf.object(num, "<< /Type /Pages /Kids [" + std::to_string(num + 1) + " 0 R] /Count 1 >>");
    }
    pdf.object(10 + depth, pageObject()).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getPageCount(), 1);
    EXPECT_EQ(doc->getCatalog()->getPageRef(1).num, 3);
    EXPECT_TRUE(errors.contains("deeper"));
}

TEST(PageTree, DirectPageDictionariesHaveNoReference) {
    PdfBuilder pdf = treeDocument("<< /Type /Page /Rotate 90 >> 3 0 R", "2");
    pdf.object(3, pageObject()).xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    ASSERT_EQ(doc->getPageCount(), 2);
    EXPECT_EQ(doc->getCatalog()->getPageRef(1).num, -1);
    EXPECT_EQ(doc->getPage(1)->getRotate(), 90);
    EXPECT_EQ(doc->getCatalog()->getPageRef(2).num, 3);
}

TEST(PageTree, KidsOfTheWrongKindAreSkipped) {
    PdfBuilder pdf = treeDocument("3 0 R 42 /Name 99 0 R", "1");
    pdf.object(3, pageObject()).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getPageCount(), 1);
    EXPECT_TRUE(errors.contains("integer"));
    EXPECT_TRUE(errors.contains("null"));
}

TEST(PageTree, KidWithoutTypeOrKidsIsTakenAsAPage) {
    // A damaged page whose Type was lost: the tree and the other pages stand.
    PdfBuilder pdf = treeDocument("3 0 R 4 0 R", "2");
    pdf.object(3, "<< /Parent 2 0 R /MediaBox [0 0 100 200] >>").object(4, pageObject()).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    ASSERT_EQ(doc->getPageCount(), 2);
    EXPECT_EQ(doc->getPage(1)->getMediaBox().y2, 200);
    EXPECT_TRUE(errors.contains("taken as a page"));
}

TEST(PageTree, NodeWithoutTypeButWithKidsIsAnIntermediateNode) {
    PdfBuilder pdf = treeDocument("3 0 R", "1");
    pdf.object(3, "<< /Kids [4 0 R] /MediaBox [0 0 100 200] >>").object(4, pageObject()).xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    ASSERT_EQ(doc->getPageCount(), 1);
    EXPECT_EQ(doc->getPage(1)->getMediaBox().y2, 200);
}

TEST(PageTree, AnnotsThatIsANumberFailsTheCatalog) {
    PdfBuilder pdf = treeDocument("3 0 R", "1");
    pdf.object(3, pageObject("/Annots 17")).xrefTable();
    ErrorCapture errors;
    auto doc = openBytes(pdf.bytes());
    EXPECT_FALSE(doc->isOk());
    EXPECT_EQ(doc->getErrorCode(), PdfDocument::kErrorDamaged);
    EXPECT_TRUE(errors.contains("Page 1"));
    EXPECT_TRUE(errors.contains("integer"));
}

TEST(PageTree, ContentsThatIsANameFailsTheCatalog) {
    PdfBuilder pdf = treeDocument("3 0 R", "1");
    pdf.object(3, pageObject("/Contents /Oops")).xrefTable();
    ErrorCapture errors;
    EXPECT_EQ(openBytes(pdf.bytes())->getErrorCode(), PdfDocument::kErrorDamaged);
    EXPECT_TRUE(errors.contains("name"));
}

TEST(PageTree, AnnotsAndContentsKeepTheirRawValues) {
    PdfBuilder pdf = treeDocument("3 0 R", "1");
    pdf.object(3, pageObject("/Annots [5 0 R] /Contents 4 0 R"))
        .stream(4, "<< >>", "q Q")
        .object(5, "<< /Type /Annot /Subtype /Link /Rect [0 0 1 1] >>")
        .xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_TRUE(doc->getPage(1)->getContents().isRef());
    EXPECT_TRUE(doc->getPage(1)->getAnnots().isArray());
}

// ---- catalog entries and outline ------------------------------------------

TEST(Catalog, KeepsDestsNamesUriBaseOutlinesAndForm) {
    PdfBuilder pdf;
    pdf.object(1,
               "<< /Type /Catalog /Pages 2 0 R /Dests 4 0 R /Names << /Dests 5 0 R >> /URI << /Base "
               "(http://example.com/) >> /Outlines 6 0 R /AcroForm << /Fields [] /NeedAppearances true >> >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, pageObject())
        .object(4, "<< /intro [3 0 R /Fit] >>")
        .object(5, "<< /Names [(a) [3 0 R /Fit]] >>")
        .object(6, "<< /Type /Outlines >>")
        .xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    DocumentCatalog* catalog = doc->getCatalog();
    EXPECT_TRUE(catalog->getDests().isDict());
    EXPECT_TRUE(catalog->getNameDests().isDict());
    ASSERT_NE(catalog->getBaseUri(), nullptr);
    EXPECT_STREQ(catalog->getBaseUri()->getCString(), "http://example.com/");
    EXPECT_TRUE(catalog->getOutlines().isDict());
    EXPECT_TRUE(catalog->getAcroForm().isDict());
    // An outline dictionary without items: a list, empty.
    ASSERT_NE(doc->getOutline()->getItems(), nullptr);
    EXPECT_EQ(doc->getOutline()->getItems()->getLength(), 0);
}

TEST(Catalog, MissingEntriesAreNull) {
    PdfBuilder pdf = treeDocument("", "0");
    pdf.xrefTable();
    auto doc = openBytes(pdf.bytes());
    ASSERT_TRUE(doc->isOk());
    EXPECT_TRUE(doc->getCatalog()->getDests().isNull());
    EXPECT_TRUE(doc->getCatalog()->getNameDests().isNull());
    EXPECT_EQ(doc->getCatalog()->getBaseUri(), nullptr);
    EXPECT_EQ(doc->getOutline()->getItems(), nullptr);
    EXPECT_EQ(doc->getPageCount(), 0);
}

}  // namespace
}  // namespace rendova
