#pragma once

#include <cstdint>
#include <memory>

#include "engine/content/FontObject.h"
#include "engine/core/PdfValue.h"

namespace rendova {

class CodeToUnicodeMap;
class TrueTypeFontFile;
struct StandardFontRow;

// A font of one-byte character codes (Type 1, compact Type 1, Type 3,
// TrueType): a 256-entry encoding of glyph names, the Unicode values of the
// codes and their widths. Type 3 fonts also keep their glyph procedures and
// resources.
//
// Ownership: the font owns the glyph names it marks as its own (those read
// from its differences array or font file) and one reference to its Unicode
// map; the other names point into constant tables. One thread at a time;
// throws MemoryException only.
class SimpleFont : public FontObject {
public:
    // The number of name variants of the standard-14 fonts that are read as
    // those fonts.
    static constexpr int kAliasCount = 51;

    SimpleFont(XrefTable* xref, const char* tag, int objectNumber, int generation, const DynString* name,
               int fontType, PdfDict* fontDict);
    ~SimpleFont() override;

    int isCidFont() const override { return 0; }
    int getWritingMode() const override { return 0; }
    int nextChar(const char* bytes, int length, unsigned int* code, unsigned int* unicode, int room,
                 int* unicodeCount, double* dx, double* dy, double* originX, double* originY) const override;

    // The glyph names by code (entries may be null).
    const char* const* getEncoding() const { return m_encoding; }
    // Whether the document named a base encoding or gave differences.
    bool hasEncoding() const { return m_hasEncoding; }
    bool usesMacRomanEncoding() const { return m_macRoman; }
    double getWidth(int code) const { return m_widths[code & 0xff]; }
    // The font's Unicode map (not a new reference), or null.
    CodeToUnicodeMap* getUnicodeMap() const { return m_unicodeMap.get(); }

    // Type 3 fonts: the glyph procedure of the code's glyph name into out
    // (null when the code has no name or the font no procedures).
    PdfValue& getCharProc(int code, PdfValue& out) const;
    // The Type 3 resource dictionary, or null.
    PdfDict* getResources() const { return m_resources.isDict() ? m_resources.getDict() : nullptr; }

    // The glyph index of every code in a TrueType font file, by the cmap
    // subtables that the encoding calls for, then by glyph name; 0 where
    // nothing maps. 256 entries, owned by the caller.
    std::unique_ptr<uint16_t[]> buildCodeToGlyphMap(const TrueTypeFontFile& file) const;

    // The standard-14 name that a font name (spaces removed) is an alias of,
    // or null.
    static const char* findStandardAlias(const char* name);

private:
    // Steps of the construction, in their order.
    void normaliseName();
    void readFontMatrixAndType3(PdfDict* fontDict);
    const char* const* readBaseEncoding(PdfDict* fontDict);
    void readFontFileEncoding(XrefTable* xref, const char* const*& base, bool& baseOwned);
    void readDifferences(PdfDict* fontDict);
    void buildUnicodeMap(PdfDict* fontDict);
    void readWidths(PdfDict* fontDict);
    // Sets code's name; owned names are freed with the font.
    void setName(int code, const char* name, bool owned);

    const StandardFontRow* m_standardRow = nullptr;
    const char* m_encoding[256] = {};
    bool m_ownsName[256] = {};
    RefPtr<CodeToUnicodeMap> m_unicodeMap;
    bool m_hasEncoding = false;
    bool m_macRoman = false;
    double m_widths[256] = {};
    PdfValue m_charProcs;
    PdfValue m_resources;
};

}  // namespace rendova
