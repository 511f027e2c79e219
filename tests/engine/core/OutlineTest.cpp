#include "engine/core/Outline.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/BuiltinEncodings.h"
#include "engine/core/GlyphNameUnicodeTable.h"
#include "engine/core/LinkAction.h"
#include "engine/core/PdfDocument.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/support/ErrorCapture.h"
#include "tests/support/PdfBuilder.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::PdfBuilder;
using test::Xref;

// A one-page document whose outline dictionary is object 10; the items are
// the given objects.
std::string outlineDocument(const std::string& outlines,
                            const std::vector<std::pair<int, std::string>>& items) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 10 0 R >>")
        .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
        .object(3, "<< /Type /Page /Parent 2 0 R >>")
        .object(10, outlines);
    for (const auto& [num, body] : items)
        pdf.object(num, body);
    pdf.xrefTable();
    return pdf.bytes();
}

std::u32string titleOf(const OutlineItem* item) {
    return std::u32string(reinterpret_cast<const char32_t*>(item->getTitle()),
                          size_t(item->getTitleLength()));
}

TEST(Outline, ReadsTitlesActionsAndChildrenOnDemand) {
    auto doc = test::openBytes(outlineDocument(
        "<< /First 11 0 R /Last 12 0 R /Count 3 >>",
        {{11,
          "<< /Title <FEFF00410042> /Dest [3 0 R /Fit] /Next 12 0 R /First 13 0 R /Last 13 0 R /Count 1 >>"},
         {12, "<< /Title (Caf\\351 \\200) /A << /S /URI /URI (http://x.org/) >> /Prev 11 0 R >>"},
         {13, "<< /Title (Child) /Dest (named) /Parent 11 0 R >>"}}));
    ASSERT_TRUE(doc->isOk());
    const auto* items = doc->getOutline()->getItems();
    ASSERT_NE(items, nullptr);
    ASSERT_EQ(items->getLength(), 2);

    OutlineItem* first = items->get(0);
    EXPECT_EQ(titleOf(first), U"AB");
    ASSERT_NE(first->getAction(), nullptr);
    EXPECT_EQ(first->getAction()->getKind(), LinkAction::kGoTo);
    EXPECT_TRUE(first->startsOpen());
    EXPECT_TRUE(first->hasKids());
    EXPECT_EQ(first->getKids(), nullptr);
    first->open();
    ASSERT_NE(first->getKids(), nullptr);
    ASSERT_EQ(first->getKids()->getLength(), 1);
    EXPECT_EQ(titleOf(first->getKids()->get(0)), U"Child");
    EXPECT_EQ(first->getKids()->get(0)->getLevel(), 1);
    first->close();
    EXPECT_EQ(first->getKids(), nullptr);

    OutlineItem* second = items->get(1);
    // Document encoding: 0xE9 is Latin-1, 0x80 the bullet.
    EXPECT_EQ(titleOf(second), U"Caf\u00e9 \u2022");
    ASSERT_NE(second->getAction(), nullptr);
    EXPECT_EQ(second->getAction()->getKind(), LinkAction::kUri);
    EXPECT_FALSE(second->startsOpen());
    EXPECT_FALSE(second->hasKids());
}

TEST(Outline, OddUtf16TitleDropsItsLastByte) {
    auto doc = test::openBytes(
        outlineDocument("<< /First 11 0 R /Last 11 0 R >>", {{11, "<< /Title <FEFF004100> /Count -2 >>"}}));
    ASSERT_TRUE(doc->isOk());
    const OutlineItem* item = doc->getOutline()->getItems()->get(0);
    EXPECT_EQ(titleOf(item), U"A");
    EXPECT_FALSE(item->startsOpen());
    EXPECT_EQ(item->getAction(), nullptr);
}

TEST(Outline, NextChainThatLoopsEndsAtTheRepeatedItem) {
    ErrorCapture errors;
    auto doc = test::openBytes(
        outlineDocument("<< /First 11 0 R /Last 99 0 R >>", {{11, "<< /Title (a) /Next 12 0 R >>"},
                                                             {12, "<< /Title (b) /Next 13 0 R >>"},
                                                             {13, "<< /Title (c) /Next 11 0 R >>"}}));
    ASSERT_TRUE(doc->isOk());
    EXPECT_EQ(doc->getOutline()->getItems()->getLength(), 3);
    EXPECT_TRUE(errors.contains("Loop"));
}

TEST(Outline, ChainStopsAtLastAndAtANonDictionary) {
    auto doc = test::openBytes(
        outlineDocument("<< /First 11 0 R /Last 12 0 R >>", {{11, "<< /Title (a) /Next 12 0 R >>"},
                                                             {12, "<< /Title (b) /Next 13 0 R >>"},
                                                             {13, "<< /Title (never read) >>"}}));
    EXPECT_EQ(doc->getOutline()->getItems()->getLength(), 2);
    auto broken = test::openBytes(outlineDocument(
        "<< /First 11 0 R /Last 13 0 R >>", {{11, "<< /Title (a) /Next 12 0 R >>"}, {12, "[/not an item]"}}));
    EXPECT_EQ(broken->getOutline()->getItems()->getLength(), 1);
}

TEST(Outline, ItemThatContainsItselfOpensOnlyToTheDepthLimit) {
    ErrorCapture errors;
    auto doc =
        test::openBytes(outlineDocument("<< /First 11 0 R /Last 11 0 R >>",
                                        {{11, "<< /Title (self) /First 11 0 R /Last 11 0 R /Count 1 >>"}}));
    ASSERT_TRUE(doc->isOk());
    OutlineItem* item = doc->getOutline()->getItems()->get(0);
    int depth = 0;
    while (item) {
        item->open();
        ++depth;
        item = item->getKids() && item->getKids()->getLength() > 0 ? item->getKids()->get(0) : nullptr;
    }
    EXPECT_EQ(depth, OutlineItem::kMaxOutlineDepth);
    EXPECT_TRUE(errors.contains("deeper"));
}

TEST(Outline, DocumentEncodingAgreesWithTheGlyphNamesOfTheEncoding) {
    for (int code = 0; code < 256; ++code) {
        const char* name = kPdfDocEncoding[code];
        if (!name)
            continue;
        for (int i = 0; i < kGlyphNameUnicodeCount; ++i) {
            if (std::string(kGlyphNameUnicodeTable[i].name) != name)
                continue;
            // "mu" is listed as the Greek letter; the encoding means the micro sign.
            if (code == 0xb5)
                break;
            EXPECT_EQ(pdfDocEncodingToUnicode(static_cast<unsigned char>(code)),
                      kGlyphNameUnicodeTable[i].unicode)
                << name;
            break;
        }
    }
}

}  // namespace
}  // namespace rendova
