#pragma once

#include <cstdint>

#include "engine/core/NameCodeTable.h"

namespace rendova {

constexpr int kStandardFontCount = 14;

// One of the 14 standard fonts, which a document may use without embedding a
// font file or giving widths. Ascent, descent and box are in 1/1000 text-space
// units. `widths` is the glyph-name-to-width table, null until
// initStandardFontMetrics builds it.
struct StandardFontRow {
    const char* name;
    const char* const* encoding;
    int16_t ascent;
    int16_t descent;
    int16_t bbox[4];  // xMin, yMin, xMax, yMax
    NameCodeTable* widths;
};

// The rows, sorted by font name: Courier (0) to Courier-Oblique (3), Helvetica
// (4) to Helvetica-Oblique (7), Symbol (8), Times-Bold (9) to Times-Roman (12)
// and ZapfDingbats (13). The widths tables are shared by the whole process.
extern StandardFontRow standardFontRows[kStandardFontCount];

// The glyph widths of each row (records of glyph name and width in 1/1000
// units), in row order; generated from the metric files of the URW base 35
// fonts by scripts/gen-font-tables.py (StandardFontWidths.cpp). The tables
// thread their buckets through the records, so the records are not const.
struct StandardFontWidthRecords {
    NameCodeRecord* records;
    int count;
};
extern const StandardFontWidthRecords kStandardFontWidthRecords[kStandardFontCount];

// Builds each row's widths table over its records. The settings object calls
// this at its construction and freeStandardFontMetrics at its destruction;
// the calls are counted, so the tables are built by the first and freed by the
// last of overlapping settings objects. Called from one thread at a time (the
// settings object's creator); lookups afterwards may run on any thread.
void initStandardFontMetrics();
void freeStandardFontMetrics();

// The row whose name equals `name` exactly, walking the rows in order, or null.
const StandardFontRow* findStandardFontRow(const char* name);

// 1 with the glyph's width (1/1000 units) when the row's table has the glyph,
// 0 otherwise (also before the tables are built).
int lookupStandardFontWidth(const StandardFontRow& row, const char* glyphName, int* width);

}  // namespace rendova
