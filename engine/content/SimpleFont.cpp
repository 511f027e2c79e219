// Simple fonts: name normalisation, standard metrics, encodings with
// differences, Unicode values from glyph names, and widths.
#include "engine/content/SimpleFont.h"
#include "engine/core/CharClass.h"

#include <cctype>
#include <cstring>

#include "engine/content/CffFontFile.h"
#include "engine/content/MacExpertEncoding.h"
#include "engine/content/Type1FontFile.h"
#include "engine/core/BuiltinEncodings.h"
#include "engine/core/CodeToUnicodeMap.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Memory.h"
#include "engine/core/StandardFontMetrics.h"

namespace rendova {

namespace {

struct StandardAlias {
    const char* alias;
    const char* name;
};

// Name variants of the standard-14 fonts (spaces removed) that producers
// write, sorted by their bytes for the binary search.
constexpr StandardAlias kStandardAliases[SimpleFont::kAliasCount] = {
    {"Arial", "Helvetica"},
    {"Arial,Bold", "Helvetica-Bold"},
    {"Arial,BoldItalic", "Helvetica-BoldOblique"},
    {"Arial,Italic", "Helvetica-Oblique"},
    {"Arial-Bold", "Helvetica-Bold"},
    {"Arial-BoldItalic", "Helvetica-BoldOblique"},
    {"Arial-BoldItalicMT", "Helvetica-BoldOblique"},
    {"Arial-BoldMT", "Helvetica-Bold"},
    {"Arial-Italic", "Helvetica-Oblique"},
    {"Arial-ItalicMT", "Helvetica-Oblique"},
    {"ArialMT", "Helvetica"},
    {"Courier,Bold", "Courier-Bold"},
    {"Courier,BoldItalic", "Courier-BoldOblique"},
    {"Courier,Italic", "Courier-Oblique"},
    {"Courier-BoldItalic", "Courier-BoldOblique"},
    {"Courier-Italic", "Courier-Oblique"},
    {"CourierNew", "Courier"},
    {"CourierNew,Bold", "Courier-Bold"},
    {"CourierNew,BoldItalic", "Courier-BoldOblique"},
    {"CourierNew,Italic", "Courier-Oblique"},
    {"CourierNew-Bold", "Courier-Bold"},
    {"CourierNew-BoldItalic", "Courier-BoldOblique"},
    {"CourierNew-Italic", "Courier-Oblique"},
    {"CourierNewPS-BoldItalicMT", "Courier-BoldOblique"},
    {"CourierNewPS-BoldMT", "Courier-Bold"},
    {"CourierNewPS-ItalicMT", "Courier-Oblique"},
    {"CourierNewPSMT", "Courier"},
    {"Helvetica,Bold", "Helvetica-Bold"},
    {"Helvetica,BoldItalic", "Helvetica-BoldOblique"},
    {"Helvetica,Italic", "Helvetica-Oblique"},
    {"Helvetica-BoldItalic", "Helvetica-BoldOblique"},
    {"Helvetica-Italic", "Helvetica-Oblique"},
    {"Symbol,Bold", "Symbol"},
    {"Symbol,BoldItalic", "Symbol"},
    {"Symbol,Italic", "Symbol"},
    {"TimesNewRoman", "Times-Roman"},
    {"TimesNewRoman,Bold", "Times-Bold"},
    {"TimesNewRoman,BoldItalic", "Times-BoldItalic"},
    {"TimesNewRoman,Italic", "Times-Italic"},
    {"TimesNewRoman-Bold", "Times-Bold"},
    {"TimesNewRoman-BoldItalic", "Times-BoldItalic"},
    {"TimesNewRoman-Italic", "Times-Italic"},
    {"TimesNewRomanPS", "Times-Roman"},
    {"TimesNewRomanPS-Bold", "Times-Bold"},
    {"TimesNewRomanPS-BoldItalic", "Times-BoldItalic"},
    {"TimesNewRomanPS-BoldItalicMT", "Times-BoldItalic"},
    {"TimesNewRomanPS-BoldMT", "Times-Bold"},
    {"TimesNewRomanPS-Italic", "Times-Italic"},
    {"TimesNewRomanPS-ItalicMT", "Times-Italic"},
    {"TimesNewRomanPSMT", "Times-Roman"},
    {"TimesNewRomanPSMT,Bold", "Times-Bold"},
};

constexpr int compareBytes(const char* a, const char* b) {
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<unsigned char>(*a) - static_cast<unsigned char>(*b);
}

constexpr bool aliasesSorted() {
    for (int i = 1; i < SimpleFont::kAliasCount; ++i)
        if (compareBytes(kStandardAliases[i - 1].alias, kStandardAliases[i].alias) >= 0)
            return false;
    return true;
}
static_assert(aliasesSorted(), "the binary search needs the aliases sorted by their bytes");

// The standard rows chosen by the descriptor flags when a font has neither
// widths nor a standard name: fixed-pitch, sans-serif and serif faces, each
// regular, italic, bold, bold italic.
constexpr int kFlagRows[12] = {0, 3, 1, 2, 4, 7, 5, 6, 12, 11, 9, 10};

bool isHexLetter(char c) {
    return (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// A glyph name of the forms that producers use for hexadecimal codes (Cdd,
// dd) with at least one digit a letter, so that it cannot be decimal.
bool looksHexadecimal(const char* name) {
    const size_t n = std::strlen(name);
    if (n == 3 && isLetter(name[0]) && isHexDigit(name[1]) && isHexDigit(name[2]))
        return isHexLetter(name[1]) || isHexLetter(name[2]);
    if (n == 2 && isHexDigit(name[0]) && isHexDigit(name[1]))
        return isHexLetter(name[0]) || isHexLetter(name[1]);
    return false;
}

// The decimal number at the start of text (at most 6 digits are read, which
// the name lengths below never exceed).
int leadingDecimal(const char* text) {
    int v = 0;
    for (int i = 0; i < 6 && isDigit(text[i]); ++i)
        v = v * 10 + (text[i] - '0');
    return v;
}

// The code that a glyph name without a Unicode value stands for, by the
// naming habits of font producers; -1 when the name has no such form.
int numericGlyphCode(const char* name, bool hexFont) {
    const int n = static_cast<int>(std::strlen(name));
    if (hexFont) {
        if (n == 3 && isLetter(name[0]) && isHexDigit(name[1]) && isHexDigit(name[2]))
            return hexDigitValue(name[1]) * 16 + hexDigitValue(name[2]);
        if (n == 2 && isHexDigit(name[0]) && isHexDigit(name[1]))
            return hexDigitValue(name[0]) * 16 + hexDigitValue(name[1]);
    } else if (n >= 2 && n <= 4 && isDigit(name[0]) && isDigit(name[1])) {
        return leadingDecimal(name);
    }
    if (n >= 3 && n <= 5 && isDigit(name[1]) && isDigit(name[2]))
        return leadingDecimal(name + 1);
    if (n >= 4 && n <= 6 && isDigit(name[2]) && isDigit(name[3]))
        return leadingDecimal(name + 2);
    return -1;
}

}  // namespace

const char* SimpleFont::findStandardAlias(const char* name) {
    int lo = 0, hi = kAliasCount;
    while (hi - lo > 1) {
        const int mid = (hi + lo) / 2;
        if (std::strcmp(name, kStandardAliases[mid].alias) < 0) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return std::strcmp(name, kStandardAliases[lo].alias) == 0 ? kStandardAliases[lo].name : nullptr;
}

SimpleFont::SimpleFont(XrefTable* xref, const char* tag, int objectNumber, int generation,
                       const DynString* name, int fontType, PdfDict* fontDict)
    : FontObject(tag, objectNumber, generation, name, fontType) {
    normaliseName();

    m_standardRow = m_name ? findStandardFontRow(m_name->getCString()) : nullptr;
    auto applyStandardMetrics = [this]() {
        m_ascent = m_standardRow->ascent * 0.001;
        m_descent = m_standardRow->descent * 0.001;
        for (int i = 0; i < 4; ++i)
            m_boundingBox[i] = m_standardRow->bbox[i] * 0.001;
    };
    if (m_standardRow)
        applyStandardMetrics();

    readDescriptor(xref, fontDict);
    // A standard font drawn from a substitute keeps the standard metrics,
    // whatever a descriptor says: the substitute is metric-compatible with
    // them, not with the font the descriptor describes.
    if (m_standardRow && m_embeddedFileNumber < 0)
        applyStandardMetrics();

    findExternalFile();
    readFontMatrixAndType3(fontDict);

    bool baseOwned = false;
    const char* const* base = readBaseEncoding(fontDict);
    bool baseFromFile = false;
    if (m_fontType == kFontType1 || m_fontType == kFontType1C) {
        const bool hadBase = base != nullptr;
        readFontFileEncoding(xref, base, baseOwned);
        baseFromFile = !hadBase && base != nullptr;
    }
    if (!base) {
        if (m_standardRow && m_embeddedFileNumber < 0) {
            base = m_standardRow->encoding;
            m_hasEncoding = true;
        } else {
            base = m_fontType == kFontTrueType ? kWinAnsiEncoding : kStandardEncoding;
        }
    }

    for (int code = 0; code < 256; ++code) {
        if (base[code])
            setName(code, base[code], baseOwned);
    }
    if (m_fontType == kFontType1C && baseFromFile) {
        for (int code = 0; code < 256; ++code)
            if (!m_encoding[code] && kStandardEncoding[code])
                setName(code, kStandardEncoding[code], false);
    }
    if (baseOwned) {
        // The copied names now belong to the encoding; the array was ours.
        memFree(const_cast<const char**>(base));
    }

    readDifferences(fontDict);
    buildUnicodeMap(fontDict);
    readWidths(fontDict);
    m_ok = true;
}

SimpleFont::~SimpleFont() {
    for (int code = 0; code < 256; ++code)
        if (m_ownsName[code])
            memFree(const_cast<char*>(m_encoding[code]));
}

void SimpleFont::setName(int code, const char* name, bool owned) {
    if (m_ownsName[code])
        memFree(const_cast<char*>(m_encoding[code]));
    m_encoding[code] = name;
    m_ownsName[code] = owned;
}

void SimpleFont::normaliseName() {
    if (!m_name)
        return;
    DynString compact;
    for (int i = 0; i < m_name->getLength(); ++i)
        if (m_name->getChar(i) != ' ')
            compact.appendChar(m_name->getChar(i));
    if (const char* standard = findStandardAlias(compact.getCString()))
        m_name = std::make_unique<DynString>(standard);
}

void SimpleFont::readFontMatrixAndType3(PdfDict* fontDict) {
    PdfValue v;
    if (fontDict->lookup("FontMatrix", v).isArray()) {
        PdfArray* a = v.getArray();
        for (int i = 0; i < 6 && i < a->getLength(); ++i) {
            PdfValue e;
            if (a->get(i, e).isNum())
                m_fontMatrix[i] = e.getNum();
        }
    }
    if (m_fontType != kFontType3)
        return;
    if (fontDict->lookup("FontBBox", v).isArray()) {
        PdfArray* a = v.getArray();
        for (int i = 0; i < 4 && i < a->getLength(); ++i) {
            PdfValue e;
            if (a->get(i, e).isNum())
                m_boundingBox[i] = e.getNum();
        }
    }
    fontDict->lookup("CharProcs", m_charProcs);
    if (!m_charProcs.isDict()) {
        reportError(-1, "CharProcs of a Type 3 font is not a dictionary (%s)", m_charProcs.typeName());
        m_charProcs.initNull();
    }
    fontDict->lookup("Resources", m_resources);
    if (!m_resources.isDict())
        m_resources.initNull();
}

const char* const* SimpleFont::readBaseEncoding(PdfDict* fontDict) {
    PdfValue encoding, name;
    fontDict->lookup("Encoding", encoding);
    if (encoding.isName()) {
        encoding.copy(name);
    } else if (encoding.isDict()) {
        encoding.getDict()->lookup("BaseEncoding", name);
    }
    if (name.isName("MacRomanEncoding")) {
        m_hasEncoding = true;
        m_macRoman = true;
        return kMacRomanEncoding;
    }
    if (name.isName("MacExpertEncoding")) {
        m_hasEncoding = true;
        return kMacExpertEncoding;
    }
    if (name.isName("WinAnsiEncoding")) {
        m_hasEncoding = true;
        return kWinAnsiEncoding;
    }
    return nullptr;
}

void SimpleFont::readFontFileEncoding(XrefTable* xref, const char* const*& base, bool& baseOwned) {
    // The font program's name and, when the document chose no base
    // encoding, its built-in encoding (copied: the parsed file goes away).
    const char* fileName = nullptr;
    const char* const* fileEncoding = nullptr;
    char* bytes = nullptr;
    int length = 0;
    std::unique_ptr<Type1FontFile> type1;
    std::unique_ptr<CffFontFile> cff;
    if (m_externalFileName) {
        if (m_fontType == kFontType1) {
            type1 = Type1FontFile::fromFile(m_externalFileName->getCString());
        } else {
            cff = CffFontFile::fromFile(m_externalFileName->getCString());
        }
    } else if (m_embeddedFileNumber >= 0) {
        bytes = readEmbeddedFile(xref, &length);
        if (bytes) {
            const auto* data = reinterpret_cast<const uint8_t*>(bytes);
            if (m_fontType == kFontType1) {
                type1 = Type1FontFile::fromBuffer(data, length);
            } else {
                cff = CffFontFile::fromBuffer(data, length);
            }
        }
    }
    if (type1) {
        fileName = type1->getName();
        fileEncoding = type1->getEncoding();
    } else if (cff) {
        fileName = cff->getName() ? cff->getName()->getCString() : nullptr;
        fileEncoding = cff->getEncoding();
    }
    if (fileName)
        m_embeddedFontName = std::make_unique<DynString>(fileName);
    if (!base && fileEncoding) {
        auto** copy = static_cast<const char**>(memAllocArray(256, sizeof(char*)));
        for (int code = 0; code < 256; ++code)
            copy[code] = fileEncoding[code] ? copyString(fileEncoding[code]) : nullptr;
        base = copy;
        baseOwned = true;
    }
    type1.reset();
    cff.reset();
    memFree(bytes);
}

void SimpleFont::readDifferences(PdfDict* fontDict) {
    PdfValue encoding, differences;
    if (!fontDict->lookup("Encoding", encoding).isDict())
        return;
    if (!encoding.getDict()->lookup("Differences", differences).isArray())
        return;
    m_hasEncoding = true;
    PdfArray* a = differences.getArray();
    int code = 0;
    for (int i = 0; i < a->getLength(); ++i) {
        PdfValue e;
        a->get(i, e);
        if (e.isInt()) {
            code = e.getInt();
        } else if (e.isName()) {
            if (code >= 0 && code <= 255)
                setName(code, copyString(e.getName()), true);
            // Past 255 the code is only counted, so that a later number
            // can bring it back into range.
            if (code < INT32_MAX)
                ++code;
        } else {
            reportError(-1, "Wrong type in font encoding resource differences (%s)", e.typeName());
        }
    }
}

void SimpleFont::buildUnicodeMap(PdfDict* fontDict) {
    uint32_t values[256] = {};
    bool unmapped[256] = {};
    bool anyUnmapped = false;
    bool hexFont = false;
    for (int code = 0; code < 256; ++code) {
        const char* name = m_encoding[code];
        if (!name)
            continue;
        const int u = globalSettings ? globalSettings->glyphNameToUnicode(name) : 0;
        if (u != 0) {
            values[code] = static_cast<uint32_t>(u);
        } else if (std::strcmp(name, ".notdef") != 0) {
            unmapped[code] = true;
            anyUnmapped = true;
            if (looksHexadecimal(name))
                hexFont = true;
        }
    }
    if (anyUnmapped && globalSettings) {
        if (globalSettings->getNumericGlyphNameMapping()) {
            for (int code = 0; code < 256; ++code) {
                if (!unmapped[code])
                    continue;
                const int v = numericGlyphCode(m_encoding[code], hexFont);
                if (v >= 0 && v <= 255)
                    values[code] = static_cast<uint32_t>(v);
            }
        } else if (globalSettings->getUnlistedGlyphNameMapping()) {
            for (int code = 0; code < 256; ++code)
                if (unmapped[code])
                    values[code] = static_cast<uint32_t>(code);
        }
    }

    m_unicodeMap = CodeToUnicodeMap::make8Bit(values);
    m_unicodeMap = readToUnicode(fontDict, 8, std::move(m_unicodeMap));

    // A font-specific Unicode-to-Unicode map (from the settings) corrects
    // the values of fonts whose producers put private code points in them.
    RefPtr<CodeToUnicodeMap> remap =
        (m_name && globalSettings) ? globalSettings->getUnicodeToUnicodeMap(m_name->getCString()) : nullptr;
    if (!remap)
        return;
    auto mapped = RefPtr<CodeToUnicodeMap>::adopt(new CodeToUnicodeMap());
    for (int code = 0; code < 256; ++code) {
        uint32_t u[CodeToUnicodeMap::kMaxValues], r[CodeToUnicodeMap::kMaxValues];
        const int n = m_unicodeMap->mapToUnicode(code, u, CodeToUnicodeMap::kMaxValues);
        if (n == 0)
            continue;
        const int m = remap->mapToUnicode(static_cast<int>(u[0]), r, CodeToUnicodeMap::kMaxValues);
        if (m > 0) {
            mapped->setMapping(code, r, m);
        } else {
            mapped->setMapping(code, u, n);
        }
    }
    m_unicodeMap = std::move(mapped);
}

void SimpleFont::readWidths(PdfDict* fontDict) {
    for (double& w : m_widths)
        w = m_missingWidth * 0.001;

    PdfValue v;
    int first = 0, last = 255;
    if (fontDict->lookup("FirstChar", v).isInt())
        first = v.getInt();
    if (first < 0 || first > 255)
        first = 0;
    if (fontDict->lookup("LastChar", v).isInt())
        last = v.getInt();
    if (last < 0 || last > 255)
        last = 255;
    const double scale = m_fontType == kFontType3 ? m_fontMatrix[0] : 0.001;

    PdfValue widths;
    if (fontDict->lookup("Widths", widths).isArray()) {
        PdfArray* a = widths.getArray();
        m_flags |= kFontFlagFixedWidth;
        if (a->getLength() < last - first + 1)
            last = first + a->getLength() - 1;
        bool differs = false;
        for (int code = first; code <= last; ++code) {
            PdfValue e;
            if (!a->get(code - first, e).isNum())
                continue;
            m_widths[code] = e.getNum() * scale;
            if (m_widths[code] != m_widths[first])
                differs = true;
        }
        if (differs)
            m_flags &= ~kFontFlagFixedWidth;
        return;
    }

    const StandardFontRow* row = m_standardRow;
    if (!row) {
        int index = (m_flags & kFontFlagFixedWidth) ? 0 : (m_flags & kFontFlagSerif) ? 8 : 4;
        if (m_flags & kFontFlagForceBold)
            index += 2;
        if (m_flags & kFontFlagItalic)
            index += 1;
        row = &standardFontRows[kFlagRows[index]];
    }
    int w = 0;
    for (int code = 0; code < 256; ++code)
        if (m_encoding[code] && lookupStandardFontWidth(*row, m_encoding[code], &w))
            m_widths[code] = w * 0.001;
    if (lookupStandardFontWidth(*row, "space", &w))
        m_widths[32] = w * 0.001;
}

int SimpleFont::nextChar(const char* bytes, int, unsigned int* code, unsigned int* unicode, int room,
                         int* unicodeCount, double* dx, double* dy, double* originX, double* originY) const {
    const int c = static_cast<unsigned char>(bytes[0]);
    *code = static_cast<unsigned int>(c);
    *unicodeCount = m_unicodeMap ? m_unicodeMap->mapToUnicode(c, unicode, room) : 0;
    *dx = m_widths[c];
    *dy = 0;
    *originX = 0;
    *originY = 0;
    return 1;
}

PdfValue& SimpleFont::getCharProc(int code, PdfValue& out) const {
    const char* name = m_encoding[code & 0xff];
    if (!name || !m_charProcs.isDict())
        return out.initNull();
    return m_charProcs.getDict()->lookup(name, out);
}

}  // namespace rendova
