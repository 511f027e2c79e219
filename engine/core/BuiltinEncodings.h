#pragma once

namespace rendova {

// The engine's built-in 256-entry glyph-name encodings, indexed by character
// code; an entry is a glyph name or null. Constant data made by
// scripts/gen-font-tables.py from the published tables (BuiltinEncodings.cpp).
extern const char* const kStandardEncoding[256];
extern const char* const kMacRomanEncoding[256];
extern const char* const kWinAnsiEncoding[256];
extern const char* const kPdfDocEncoding[256];
extern const char* const kSymbolEncoding[256];
extern const char* const kZapfDingbatsEncoding[256];

// The Mac OS standard Roman character set: MacRomanEncoding plus the
// mathematical and Greek characters it leaves out (Delta at 198, pi at 185
// ...), with the no-break space at 202. These are the codes of a TrueType
// font's Macintosh Roman (1, 0) cmap, which a glyph name reaches through this
// table.
extern const char* const kMacOsRomanEncoding[256];

}  // namespace rendova
