#include "engine/core/StandardFontMetrics.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/core/BuiltinEncodings.h"

namespace rendova {
namespace {

// Builds the tables for one test, as a settings object does.
class StandardFontMetricsTest : public ::testing::Test {
protected:
    void SetUp() override { initStandardFontMetrics(); }
    void TearDown() override { freeStandardFontMetrics(); }

    static int width(const char* font, const char* glyph) {
        const StandardFontRow* row = findStandardFontRow(font);
        int w = -1;
        if (!row || !lookupStandardFontWidth(*row, glyph, &w))
            return -1;
        return w;
    }
};

TEST_F(StandardFontMetricsTest, SpotWidthsAreThePublishedOnes) {
    EXPECT_EQ(width("Helvetica", "m"), 833);
    EXPECT_EQ(width("Times-Roman", "space"), 250);
    EXPECT_EQ(width("Helvetica-Bold", "m"), 889);
    EXPECT_EQ(width("Times-Bold", "A"), 722);
    EXPECT_EQ(width("Symbol", "alpha"), 631);
    EXPECT_EQ(width("ZapfDingbats", "a1"), 974);
    EXPECT_EQ(width("Helvetica", "nosuchglyph"), -1);
}

TEST_F(StandardFontMetricsTest, EveryCourierGlyphIsSixHundredWide) {
    for (int row = 0; row < 4; ++row) {
        const StandardFontWidthRecords& records = kStandardFontWidthRecords[row];
        ASSERT_GT(records.count, 300);
        for (int i = 0; i < records.count; ++i)
            EXPECT_EQ(records.records[i].code, 600)
                << standardFontRows[row].name << " " << records.records[i].name;
        int w = 0;
        ASSERT_TRUE(lookupStandardFontWidth(standardFontRows[row], "space", &w));
        EXPECT_EQ(w, 600);
    }
}

TEST_F(StandardFontMetricsTest, RowsAreSortedByNameWithTheirPublishedMetrics) {
    for (int i = 1; i < kStandardFontCount; ++i)
        EXPECT_LT(std::strcmp(standardFontRows[i - 1].name, standardFontRows[i].name), 0);
    const StandardFontRow* helvetica = findStandardFontRow("Helvetica-Oblique");
    ASSERT_EQ(helvetica, &standardFontRows[7]);
    EXPECT_EQ(helvetica->ascent, 718);
    EXPECT_EQ(helvetica->descent, -207);
    EXPECT_EQ(helvetica->bbox[2], 1116);
    EXPECT_EQ(standardFontRows[8].encoding, kSymbolEncoding);
    EXPECT_EQ(standardFontRows[13].encoding, kZapfDingbatsEncoding);
    EXPECT_EQ(standardFontRows[12].encoding, kStandardEncoding);
    // Names match exactly, case and all.
    EXPECT_EQ(findStandardFontRow("helvetica"), nullptr);
    EXPECT_EQ(findStandardFontRow("Helvetica "), nullptr);
}

TEST_F(StandardFontMetricsTest, EveryEncodedGlyphOfARowHasAWidth) {
    // The widths come from metric files and the encodings from the published
    // tables; a glyph the encoding names but the widths miss would print with
    // the missing width.
    for (const StandardFontRow& row : standardFontRows) {
        for (int code = 0; code < 256; ++code) {
            const char* name = row.encoding[code];
            int w = 0;
            if (name) {
                EXPECT_TRUE(lookupStandardFontWidth(row, name, &w)) << row.name << " " << name;
            }
        }
    }
}

TEST_F(StandardFontMetricsTest, SymbolFontsHaveEveryGlyphOfTheirSets) {
    EXPECT_EQ(kStandardFontWidthRecords[8].count, 190);
    EXPECT_EQ(kStandardFontWidthRecords[13].count, 202);
    // The Latin faces share one character set.
    for (int row = 1; row < kStandardFontCount; ++row) {
        if (row != 8 && row != 13) {
            EXPECT_EQ(kStandardFontWidthRecords[row].count, kStandardFontWidthRecords[0].count);
        }
    }
    EXPECT_GT(width("Times-Roman", "Euro"), 0);
    EXPECT_GT(width("Times-Roman", "Scommaaccent"), 0);
    EXPECT_GT(width("Times-Roman", "Delta"), 0);
}

TEST(StandardFontMetricsLifetime, TablesLiveUntilTheLastUserFreesThem) {
    const StandardFontRow& helvetica = standardFontRows[4];
    int w = 0;
    EXPECT_FALSE(lookupStandardFontWidth(helvetica, "m", &w));
    initStandardFontMetrics();
    initStandardFontMetrics();
    freeStandardFontMetrics();
    EXPECT_TRUE(lookupStandardFontWidth(helvetica, "m", &w));
    freeStandardFontMetrics();
    EXPECT_EQ(helvetica.widths, nullptr);
    freeStandardFontMetrics();  // one free too many does nothing
    EXPECT_FALSE(lookupStandardFontWidth(helvetica, "m", &w));
}

}  // namespace
}  // namespace rendova
