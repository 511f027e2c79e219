#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/content/FontFileReader.h"
#include "engine/core/DynString.h"

namespace rendova {

// A compact font format (CFF) file, including CID-keyed fonts, read far
// enough to give the font's name, its 256-entry encoding of glyph names and,
// for a CID-keyed font, the CID-to-glyph array. Simple fonts take name and
// encoding from it; the glyph rasteriser takes the CID-to-glyph array.
//
// Ownership: made by fromBuffer (the buffer stays the caller's and must
// outlive the object) or fromFile (the object owns the file's bytes); the
// caller owns the object. The encoding's names belong to the object. One
// thread at a time; throws MemoryException when memory runs out, never for a
// faulty file (that gives null).
class CffFontFile : public FontFileReader {
public:
    // Operators of the DICTs: one byte, or 12 followed by a byte (3072 + x).
    static constexpr int kEscapedOperator = 3072;
    static constexpr int kRosOperator = kEscapedOperator + 30;
    static constexpr int kSyntheticBaseOperator = kEscapedOperator + 20;

    // At most this many operands are kept before an operator; more are
    // dropped (the format allows 48).
    static constexpr int kMaxOperands = 48;
    // A real operand's text is cut to this many characters.
    static constexpr int kMaxRealLength = 63;
    // A name from the string INDEX is cut to this many bytes.
    static constexpr int kMaxStringLength = 255;

    // The top DICT, with the format's defaults.
    struct TopDict {
        int firstOperator = -1;
        int version = 0;
        int notice = 0;
        int copyright = 0;
        int fullName = 0;
        int familyName = 0;
        int weight = 0;
        int isFixedPitch = 0;
        double italicAngle = 0;
        double underlinePosition = -100;
        double underlineThickness = 50;
        int paintType = 0;
        int charstringType = 2;
        double fontMatrix[6] = {0.001, 0, 0, 0.001, 0, 0};
        int uniqueId = 0;
        double fontBox[4] = {0, 0, 0, 0};
        double strokeWidth = 0;
        int xuid[16] = {};
        int xuidLength = 0;
        int charsetOffset = 0;
        int encodingOffset = 0;
        int charStringsOffset = 0;
        int privateSize = 0;
        int privateOffset = 0;
        int registry = 0;
        int ordering = 0;
        int supplement = 0;
        int cidCount = 8720;
        int fdArrayOffset = 0;
        int fdSelectOffset = 0;
    };

    // A private DICT, with the format's defaults.
    struct PrivateDict {
        int blueValues[14] = {};
        int blueValueCount = 0;
        int otherBlues[10] = {};
        int otherBlueCount = 0;
        int familyBlues[14] = {};
        int familyBlueCount = 0;
        int familyOtherBlues[10] = {};
        int familyOtherBlueCount = 0;
        double blueScale = 0.039625;
        int blueShift = 7;
        int blueFuzz = 1;
        double standardHW = 0;
        bool hasStandardHW = false;
        double standardVW = 0;
        bool hasStandardVW = false;
        double stemSnapH[12] = {};
        int stemSnapHCount = 0;
        double stemSnapV[12] = {};
        int stemSnapVCount = 0;
        bool forceBold = false;
        double forceBoldThreshold = 0;
        int languageGroup = 0;
        double expansionFactor = 0.06;
        int initialRandomSeed = 0;
        // Relative to the private DICT; 0 when the DICT names none.
        int subroutinesOffset = 0;
        double defaultWidth = 0;
        bool defaultWidthIsReal = false;
        double nominalWidth = 0;
        bool nominalWidthIsReal = false;
    };

    static std::unique_ptr<CffFontFile> fromBuffer(const uint8_t* buffer, int length);
    static std::unique_ptr<CffFontFile> fromFile(const char* fileName);
    ~CffFontFile() override;

    // The first name of the name INDEX, or null.
    const DynString* getName() const { return m_name.get(); }
    // 256 glyph names by code; null entries for codes without one (all of
    // them for a CID-keyed font).
    const char* const* getEncoding() const { return m_encoding; }
    // For a CID-keyed font: array[CID] = glyph index, *length = the highest
    // CID + 1 (unused CIDs 0). Null and length 0 for other fonts.
    std::unique_ptr<uint16_t[]> buildCidToGlyphMap(int* length) const;

    bool isCidKeyed() const { return m_top.firstOperator == kRosOperator; }
    int getGlyphCount() const { return m_glyphCount; }
    int getGlobalSubrBias() const { return m_globalSubrBias; }
    const TopDict& getTopDict() const { return m_top; }
    int getPrivateDictCount() const { return static_cast<int>(m_privateDicts.size()); }
    const PrivateDict& getPrivateDict(int i) const { return m_privateDicts[static_cast<size_t>(i)]; }
    // The font DICT of a glyph (CID-keyed fonts; 0 otherwise).
    int getFontDictIndex(int glyph) const;

private:
    // An INDEX: its position, element count, offset size, the position
    // before its data (element offsets count from there) and its end.
    struct Index {
        int64_t pos = 0;
        int count = 0;
        int offsetSize = 0;
        int64_t dataPos = 0;
        int64_t endPos = 0;
    };

    struct Operand {
        bool isNumber;
        bool isReal;
        double number;
    };

    CffFontFile(const uint8_t* buffer, int length, uint8_t* owned);

    bool parse();
    void readIndex(int64_t pos, Index& index);
    // The byte range of element i; false (and ok cleared) when it is not
    // within the INDEX data.
    bool getIndexElement(const Index& index, int i, int64_t* start, int64_t* end);

    // Reads a DICT's operands up to its next operator at *pos (< end); the
    // operator is returned (-1 at the end of the DICT).
    int readDictOperator(int64_t* pos, int64_t end);
    double readReal(int64_t* pos, int64_t end);
    void readTopDict(int64_t start, int64_t end);
    // Stores the operands of one top DICT operator in m_top.
    void storeTopDictEntry(int op);
    void readPrivateDict(int offset, int size, PrivateDict& dict);
    void readFontDict(int64_t start, int64_t end, PrivateDict& dict);
    void readFdSelect();
    void readCharset();
    void readEncoding();

    // The operand i as an int (saturated, 0 for a NaN or a missing one).
    int operandInt(int i) const;
    double operandReal(int i) const;
    // Delta-encoded integers into out (at most max of them).
    int readDeltaInts(int* out, int max) const;
    int readDeltaReals(double* out, int max) const;

    // A memAlloc'd copy of the string of an identifier: a standard string,
    // or a string INDEX element (cut to kMaxStringLength); null when there is
    // no such string.
    char* copySidName(int sid);
    void setEncodingName(int code, int sid);

    bool m_ok = true;
    std::unique_ptr<DynString> m_name;
    Index m_nameIndex;
    Index m_topDictIndex;
    Index m_stringIndex;
    Index m_globalSubrIndex;
    Index m_charStringsIndex;
    int m_globalSubrBias = 0;
    TopDict m_top;
    std::vector<PrivateDict> m_privateDicts;
    int m_glyphCount = 0;
    std::vector<uint16_t> m_charset;
    std::vector<uint8_t> m_fdSelect;
    const char* const* m_encoding;
    char* m_ownedNames[256] = {};

    Operand m_operands[kMaxOperands];
    int m_operandCount = 0;
};

}  // namespace rendova
