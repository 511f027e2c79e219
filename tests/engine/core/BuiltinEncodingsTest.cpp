#include "engine/core/BuiltinEncodings.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/core/GlyphNameUnicodeTable.h"

namespace rendova {
namespace {

std::string at(const char* const* encoding, int code) {
    return encoding[code] ? encoding[code] : "(none)";
}

TEST(BuiltinEncodings, StandardAndWinAnsiDifferWhereThePublishedTablesDo) {
    EXPECT_EQ(at(kStandardEncoding, 0x27), "quoteright");
    EXPECT_EQ(at(kWinAnsiEncoding, 0x27), "quotesingle");
    EXPECT_EQ(at(kStandardEncoding, 0x60), "quoteleft");
    EXPECT_EQ(at(kWinAnsiEncoding, 0x60), "grave");
    EXPECT_EQ(at(kStandardEncoding, 0xE1), "AE");
    EXPECT_EQ(at(kStandardEncoding, 0x80), "(none)");
}

TEST(BuiltinEncodings, WinAnsiFollowsTheStandardsRules) {
    EXPECT_EQ(at(kWinAnsiEncoding, 0x80), "Euro");
    EXPECT_EQ(at(kWinAnsiEncoding, 0xA0), "space");
    EXPECT_EQ(at(kWinAnsiEncoding, 0xAD), "hyphen");
    for (int unused : {0x7F, 0x81, 0x8D, 0x8F, 0x90, 0x9D})
        EXPECT_EQ(at(kWinAnsiEncoding, unused), "bullet") << unused;
    EXPECT_EQ(at(kWinAnsiEncoding, 0x1F), "(none)");
    EXPECT_EQ(at(kWinAnsiEncoding, 0xB2), "twosuperior");
}

TEST(BuiltinEncodings, MacRomanLeavesOutWhatOnlyTheMacOsSetHas) {
    EXPECT_EQ(at(kMacRomanEncoding, 0x80), "Adieresis");
    EXPECT_EQ(at(kMacRomanEncoding, 202), "space");
    EXPECT_EQ(at(kMacRomanEncoding, 219), "currency");
    EXPECT_EQ(at(kMacRomanEncoding, 198), "(none)");
    EXPECT_EQ(at(kMacRomanEncoding, 240), "(none)");
    EXPECT_EQ(at(kMacOsRomanEncoding, 198), "Delta");
    EXPECT_EQ(at(kMacOsRomanEncoding, 185), "pi");
    EXPECT_EQ(at(kMacOsRomanEncoding, 202), "nbspace");
    EXPECT_EQ(at(kMacOsRomanEncoding, 0x41), "A");
    EXPECT_EQ(at(kMacOsRomanEncoding, 0x0D), "(none)");
}

TEST(BuiltinEncodings, PdfDocEncodingHasItsOwnHighHalf) {
    EXPECT_EQ(at(kPdfDocEncoding, 0x18), "breve");
    EXPECT_EQ(at(kPdfDocEncoding, 0x1F), "tilde");
    EXPECT_EQ(at(kPdfDocEncoding, 0x80), "bullet");
    EXPECT_EQ(at(kPdfDocEncoding, 0x93), "fi");
    EXPECT_EQ(at(kPdfDocEncoding, 0x9E), "zcaron");
    EXPECT_EQ(at(kPdfDocEncoding, 0x9F), "(none)");
    EXPECT_EQ(at(kPdfDocEncoding, 0xA0), "Euro");
    EXPECT_EQ(at(kPdfDocEncoding, 0xAD), "(none)");
    EXPECT_EQ(at(kPdfDocEncoding, 0xFF), "ydieresis");
}

TEST(BuiltinEncodings, SymbolAndDingbatsEncodingsAreTheFontsOwn) {
    EXPECT_EQ(at(kSymbolEncoding, 0x61), "alpha");
    EXPECT_EQ(at(kSymbolEncoding, 0xA0), "Euro");
    EXPECT_EQ(at(kSymbolEncoding, 0xF0), "apple");
    EXPECT_EQ(at(kSymbolEncoding, 0x80), "(none)");
    EXPECT_EQ(at(kZapfDingbatsEncoding, 0x20), "space");
    EXPECT_EQ(at(kZapfDingbatsEncoding, 0x21), "a1");
    EXPECT_EQ(at(kZapfDingbatsEncoding, 0xFE), "a191");
}

TEST(GlyphNameUnicodeTable, HoldsThePublicGlyphListWithOneValueANameOnce) {
    // The public list has 4,281 names; the 81 that stand for sequences of
    // code points are left out.
    EXPECT_EQ(kGlyphNameUnicodeCount, 4200);
    std::set<std::string> names;
    for (int i = 0; i < kGlyphNameUnicodeCount; ++i)
        EXPECT_TRUE(names.insert(kGlyphNameUnicodeTable[i].name).second) << kGlyphNameUnicodeTable[i].name;
    EXPECT_TRUE(names.count("Adieresis"));
    EXPECT_FALSE(names.count("dalethatafpatah"));
}

}  // namespace
}  // namespace rendova
