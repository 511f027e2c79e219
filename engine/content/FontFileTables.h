#pragma once

#include <cstdint>

namespace rendova {

// Constant data of the published font formats, made by
// scripts/gen-fontfile-tables.py (FontFileTables.cpp).

// The Compact Font Format's standard strings: string identifiers 0-390.
constexpr int kCffStandardStringCount = 391;
extern const char* const kCffStandardStrings[kCffStandardStringCount];

// The predefined charsets by glyph index (string identifiers; glyph 0 is
// .notdef). ISOAdobe is the identity over string identifiers 0-228.
constexpr int kCffIsoAdobeCharsetLength = 229;
constexpr int kCffExpertCharsetLength = 166;
constexpr int kCffExpertSubsetCharsetLength = 87;
extern const uint16_t kCffExpertCharset[kCffExpertCharsetLength];
extern const uint16_t kCffExpertSubsetCharset[kCffExpertSubsetCharsetLength];

// The predefined Expert encoding as glyph names (null for unencoded codes).
// The predefined Standard encoding is kStandardEncoding of the core layer.
extern const char* const kCffExpertEncoding[256];

// The standard Macintosh glyph names that TrueType post tables of versions
// 1.0, 2.0 and 2.5 refer to by index.
constexpr int kMacGlyphNameCount = 258;
extern const char* const kMacGlyphNames[kMacGlyphNameCount];

}  // namespace rendova
