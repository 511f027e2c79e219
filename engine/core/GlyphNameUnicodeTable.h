#pragma once

#include <cstdint>

namespace rendova {

// One row of the built-in glyph-name table.
struct GlyphNameUnicode {
    uint32_t unicode;
    const char* name;
};

// The public glyph list's names with their Unicode values, in the list's order
// (GlyphNameUnicodeTable.cpp, made by scripts/gen-font-tables.py). Names that
// the list maps to a sequence of several code points are not in the table.
extern const GlyphNameUnicode kGlyphNameUnicodeTable[];
extern const int kGlyphNameUnicodeCount;

}  // namespace rendova
