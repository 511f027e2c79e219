#pragma once

#include <cstdint>
#include <memory>

#include "engine/core/DynString.h"
#include "engine/core/RefCounted.h"

namespace rendova {

class CodeToUnicodeMap;
class PdfDict;
class XrefTable;

// Font types, used by the font objects and by the glyph rasteriser that
// loads their files.
enum FontType : int {
    kFontUnknown = 0,      // unknown subtype: nothing can be drawn
    kFontType1 = 1,        // Type 1 (also multiple master)
    kFontType1C = 2,       // compact Type 1 (CFF)
    kFontType1COT = 3,     // compact Type 1 inside an OpenType file
    kFontType3 = 4,        // Type 3: glyphs are content procedures
    kFontTrueType = 5,     // TrueType
    kFontTrueTypeOT = 6,   // TrueType inside an OpenType file
    kFontCidType0 = 7,     // CID-keyed Type 0
    kFontCidType0C = 8,    // CID-keyed compact (CFF)
    kFontCidType0COT = 9,  // CID-keyed compact inside an OpenType file
    kFontCidType2 = 10,    // CID-keyed TrueType
    kFontCidType2OT = 11,  // CID-keyed TrueType inside an OpenType file
};

// Bits of a font descriptor's /Flags.
constexpr int kFontFlagFixedWidth = 1;
constexpr int kFontFlagSerif = 2;
constexpr int kFontFlagSymbolic = 4;
constexpr int kFontFlagItalic = 0x40;
constexpr int kFontFlagForceBold = 0x40000;

// One font of a page's resources. It answers the content interpreter's
// questions while text is shown (the next character code of a string, its
// Unicode values, advance and origin) and holds what the raster output device
// needs to load the font's glyphs: the type, the embedded font-file reference
// or an external file name, the encoding, the metrics.
//
// SimpleFont covers the 8-bit subtypes, CompositeFont the CID-keyed ones;
// create() picks the class by subtype and always answers a font, which tells
// by isOk() whether it can be used.
//
// Ownership: made by create() for the caller (a FontDirectory); the font owns
// its strings and holds references to its CMap and Unicode map. One thread at
// a time; throws MemoryException when memory runs out, never for a faulty
// dictionary (faults are reported and skipped).
class FontObject {
public:
    // A font of the dictionary found under `tag`, with the reference of its
    // dictionary (or the pseudo reference that FontDirectory gives it).
    static std::unique_ptr<FontObject> create(XrefTable* xref, const char* tag, int objectNumber,
                                              int generation, PdfDict* fontDict);

    virtual ~FontObject();
    FontObject(const FontObject&) = delete;
    FontObject& operator=(const FontObject&) = delete;

    // 0 for a simple font, 1 for a composite font.
    virtual int isCidFont() const = 0;
    // 0 horizontal, 1 vertical.
    virtual int getWritingMode() const = 0;
    // Decodes the character code at the start of bytes (length > 0): its
    // code, up to `room` Unicode values (their count in *unicodeCount), its
    // advance (dx, dy) and origin in text space before the font size is
    // applied. Returns the number of bytes used (at least 1).
    virtual int nextChar(const char* bytes, int length, unsigned int* code, unsigned int* unicode, int room,
                         int* unicodeCount, double* dx, double* dy, double* originX,
                         double* originY) const = 0;

    bool isOk() const { return m_ok; }
    const DynString& getTag() const { return m_tag; }
    int getObjectNumber() const { return m_objectNumber; }
    int getGeneration() const { return m_generation; }
    // The base font name (its standard-14 name when it is an alias of one),
    // or null.
    const DynString* getName() const { return m_name.get(); }
    // The base font name as the dictionary gives it, or null.
    const DynString* getGivenName() const { return m_givenName.get(); }
    int getFontType() const { return m_fontType; }
    int getFlags() const { return m_flags; }
    bool isSymbolic() const { return (m_flags & kFontFlagSymbolic) != 0; }
    const DynString* getEmbeddedFontName() const { return m_embeddedFontName.get(); }
    // The embedded font file's reference, -1 when there is none.
    int getEmbeddedFileNumber() const { return m_embeddedFileNumber; }
    int getEmbeddedFileGeneration() const { return m_embeddedFileGeneration; }
    // The font file found in the settings' font folders, or null.
    const DynString* getExternalFileName() const { return m_externalFileName.get(); }
    const double* getFontMatrix() const { return m_fontMatrix; }
    // xMin, yMin, xMax, yMax in text-space units.
    const double* getBoundingBox() const { return m_boundingBox; }
    double getMissingWidth() const { return m_missingWidth; }
    // The descriptor's weight (100-900, 400 normal), 0 when it gives none.
    double getFontWeight() const { return m_fontWeight; }
    double getAscent() const { return m_ascent; }
    double getDescent() const { return m_descent; }

    // The bytes of the embedded font file (memAlloc'd, the caller frees
    // them) and their count; null after a report when the reference does not
    // lead to a stream, in which case the reference is forgotten.
    char* readEmbeddedFile(XrefTable* xref, int* length);

    // Embedded font files larger than this are refused: no font program
    // comes near it, and the whole file is held in memory while it is read.
    static constexpr int kMaxEmbeddedFileSize = 256 * 1024 * 1024;

protected:
    FontObject(const char* tag, int objectNumber, int generation, const DynString* name, int fontType);

    // Reads the font descriptor of dict (the font, or a composite font's
    // descendant): flags, the embedded file and its kind, metrics.
    void readDescriptor(XrefTable* xref, PdfDict* dict);
    // The embedded file's reference and the font type that its font-file
    // entry of the descriptor gives.
    void readFontFileEntry(PdfDict* desc);
    // Looks the font up in the settings' font folders (Type 1 and TrueType
    // fonts with a name only).
    void findExternalFile();
    // Reads the dictionary's ToUnicode stream: merged into existing (which
    // is then returned) or parsed into a new map; without a stream, existing
    // (may be null).
    static RefPtr<CodeToUnicodeMap> readToUnicode(PdfDict* fontDict, int codeBits,
                                                  RefPtr<CodeToUnicodeMap> existing);

    DynString m_tag;
    int m_objectNumber;
    int m_generation;
    std::unique_ptr<DynString> m_name;
    std::unique_ptr<DynString> m_givenName;
    int m_fontType;
    int m_flags = kFontFlagSerif;
    std::unique_ptr<DynString> m_embeddedFontName;
    int m_embeddedFileNumber = -1;
    int m_embeddedFileGeneration = -1;
    std::unique_ptr<DynString> m_externalFileName;
    double m_fontMatrix[6] = {1, 0, 0, 1, 0, 0};
    double m_boundingBox[4] = {0, 0, 0, 0};
    double m_missingWidth = 0;
    double m_fontWeight = 0;
    double m_ascent = 0.95;
    double m_descent = -0.35;
    bool m_ok = false;
};

}  // namespace rendova
