#pragma once

namespace rendova {

// The PDF standard's MacExpertEncoding (ISO 32000-1, Annex D): the expert
// character set of old-style figures, small capitals and fractions by Mac
// code. A simple font's /Encoding may name it as its base encoding. Entries
// are glyph names or null.
extern const char* const kMacExpertEncoding[256];

}  // namespace rendova
