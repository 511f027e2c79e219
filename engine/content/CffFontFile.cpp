#include "engine/content/CffFontFile.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "base/Numeric.h"
#include "engine/content/FontFileTables.h"
#include "engine/core/BuiltinEncodings.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// The encoding of a font that has none (CID-keyed and synthetic fonts).
const char* const kNoEncoding[256] = {};

// The bias that charstrings add to a global subroutine number: it depends on
// the number of subroutines, so that small fonts reach theirs with one-byte
// operands.
int subrBias(int count) {
    if (count < 1240)
        return 107;
    if (count < 33900)
        return 1131;
    return 32768;
}

}  // namespace

CffFontFile::CffFontFile(const uint8_t* buffer, int length, uint8_t* owned)
    : FontFileReader(buffer, length, owned), m_encoding(kNoEncoding) {}

CffFontFile::~CffFontFile() {
    for (char* name : m_ownedNames)
        memFree(name);
}

std::unique_ptr<CffFontFile> CffFontFile::fromBuffer(const uint8_t* buffer, int length) {
    std::unique_ptr<CffFontFile> font(new CffFontFile(buffer, length, nullptr));
    if (!font->parse())
        return nullptr;
    return font;
}

std::unique_ptr<CffFontFile> CffFontFile::fromFile(const char* fileName) {
    int length = 0;
    uint8_t* buffer = readWholeFile(fileName, &length);
    if (!buffer)
        return nullptr;
    std::unique_ptr<CffFontFile> font(new CffFontFile(buffer, length, buffer));
    if (!font->parse())
        return nullptr;
    return font;
}

bool CffFontFile::parse() {
    // A stray byte before the header (seen in embedded fonts) is skipped:
    // the header starts with the format's major version, 1.
    if (m_length > 0 && m_buffer[0] != 1)
        skipFirstByte();

    int headerSize = getByte(2, m_ok);
    readIndex(headerSize, m_nameIndex);
    readIndex(m_nameIndex.endPos, m_topDictIndex);
    readIndex(m_topDictIndex.endPos, m_stringIndex);
    readIndex(m_stringIndex.endPos, m_globalSubrIndex);
    if (!m_ok)
        return false;
    m_globalSubrBias = subrBias(m_globalSubrIndex.count);

    int64_t start = 0;
    int64_t end = 0;
    if (m_nameIndex.count > 0 && getIndexElement(m_nameIndex, 0, &start, &end))
        m_name = std::make_unique<DynString>(reinterpret_cast<const char*>(m_buffer + start),
                                             static_cast<int>(end - start));
    if (m_topDictIndex.count < 1 || !getIndexElement(m_topDictIndex, 0, &start, &end))
        m_ok = false;
    if (!m_ok)
        return false;
    readTopDict(start, end);
    if (!m_ok)
        return false;

    if (isCidKeyed()) {
        if (m_top.fdArrayOffset != 0) {
            Index fdArray;
            readIndex(m_top.fdArrayOffset, fdArray);
            if (!m_ok)
                return false;
            m_privateDicts.resize(static_cast<size_t>(fdArray.count));
            for (int i = 0; i < fdArray.count && m_ok; ++i) {
                if (getIndexElement(fdArray, i, &start, &end))
                    readFontDict(start, end, m_privateDicts[static_cast<size_t>(i)]);
            }
        } else {
            m_privateDicts.resize(1);
        }
    } else {
        m_privateDicts.resize(1);
        readPrivateDict(m_top.privateOffset, m_top.privateSize, m_privateDicts[0]);
    }
    if (!m_ok)
        return false;

    if (m_top.charStringsOffset <= 0)
        return false;
    readIndex(m_top.charStringsOffset, m_charStringsIndex);
    if (!m_ok)
        return false;
    m_glyphCount = m_charStringsIndex.count;

    if (isCidKeyed())
        readFdSelect();
    if (m_ok)
        readCharset();
    if (m_ok && !isCidKeyed() && m_top.firstOperator != kSyntheticBaseOperator)
        readEncoding();
    return m_ok;
}

void CffFontFile::readIndex(int64_t pos, Index& index) {
    index = Index();
    index.pos = pos;
    index.count = getU16(pos, m_ok);
    if (!m_ok)
        return;
    if (index.count == 0) {
        // An empty INDEX is its count alone.
        index.dataPos = pos + 2;
        index.endPos = pos + 2;
        return;
    }
    index.offsetSize = getByte(pos + 2, m_ok);
    if (index.offsetSize < 1 || index.offsetSize > 4) {
        m_ok = false;
        return;
    }
    // Offsets count from the byte before the data, so that the first is 1.
    index.dataPos = pos + 3 + static_cast<int64_t>(index.count + 1) * index.offsetSize - 1;
    if (index.dataPos >= m_length) {
        m_ok = false;
        return;
    }
    uint32_t last =
        getUVar(pos + 3 + static_cast<int64_t>(index.count) * index.offsetSize, index.offsetSize, m_ok);
    index.endPos = index.dataPos + last;
    if (!m_ok || last < 1 || index.endPos > m_length)
        m_ok = false;
}

bool CffFontFile::getIndexElement(const Index& index, int i, int64_t* start, int64_t* end) {
    if (i < 0 || i >= index.count) {
        m_ok = false;
        return false;
    }
    int64_t offsets = index.pos + 3;
    uint32_t first = getUVar(offsets + static_cast<int64_t>(i) * index.offsetSize, index.offsetSize, m_ok);
    uint32_t next = getUVar(offsets + static_cast<int64_t>(i + 1) * index.offsetSize, index.offsetSize, m_ok);
    *start = index.dataPos + first;
    *end = index.dataPos + next;
    if (!m_ok || first < 1 || *start > *end || *end > index.endPos) {
        m_ok = false;
        return false;
    }
    return true;
}

double CffFontFile::readReal(int64_t* pos, int64_t end) {
    // Nibbles: 0-9 digits, a ".", b "E", c "E-", e "-", f the end. The text
    // is cut to kMaxRealLength characters, and the number never reads past
    // its DICT.
    char text[kMaxRealLength + 1];
    int length = 0;
    auto put = [&](char c) {
        if (length < kMaxRealLength)
            text[length++] = c;
    };
    bool done = false;
    while (!done && *pos < end && m_ok) {
        int byte = getByte((*pos)++, m_ok);
        for (int nibble : {byte >> 4, byte & 0x0f}) {
            if (nibble <= 9) {
                put(static_cast<char>('0' + nibble));
            } else if (nibble == 0x0a) {
                put('.');
            } else if (nibble == 0x0b) {
                put('E');
            } else if (nibble == 0x0c) {
                put('E');
                put('-');
            } else if (nibble == 0x0e) {
                put('-');
            } else if (nibble == 0x0f) {
                done = true;
                break;
            }
        }
    }
    double value = 0;
    const char* first = text;
    bool negative = false;
    if (length > 0 && text[0] == '-') {
        negative = true;
        ++first;
    }
    auto result = std::from_chars(first, text + length, value);
    if (result.ec != std::errc() || std::isnan(value) || std::isinf(value))
        value = 0;
    return negative ? -value : value;
}

int CffFontFile::readDictOperator(int64_t* pos, int64_t end) {
    while (*pos < end && m_ok) {
        int b0 = getByte((*pos)++, m_ok);
        if (b0 <= 21 || b0 == 31 || b0 == 255 || (b0 >= 22 && b0 <= 27)) {
            // Operators (and the reserved bytes, read as operators that mean
            // nothing).
            if (b0 == 12)
                return kEscapedOperator + getByte((*pos)++, m_ok);
            return b0;
        }
        Operand operand{true, false, 0};
        if (b0 == 28) {
            operand.number = static_cast<int16_t>(getU16(*pos, m_ok));
            *pos += 2;
        } else if (b0 == 29) {
            operand.number = static_cast<int32_t>(getU32(*pos, m_ok));
            *pos += 4;
        } else if (b0 == 30) {
            operand.isReal = true;
            operand.number = readReal(pos, end);
        } else if (b0 <= 246) {
            operand.number = b0 - 139;
        } else if (b0 <= 250) {
            operand.number = (b0 - 247) * 256 + getByte((*pos)++, m_ok) + 108;
        } else {
            operand.number = -(b0 - 251) * 256 - getByte((*pos)++, m_ok) - 108;
        }
        if (m_operandCount < kMaxOperands)
            m_operands[m_operandCount++] = operand;
    }
    return -1;
}

int CffFontFile::operandInt(int i) const {
    return i < m_operandCount ? saturateToInt(m_operands[i].number) : 0;
}

double CffFontFile::operandReal(int i) const {
    return i < m_operandCount ? m_operands[i].number : 0;
}

int CffFontFile::readDeltaInts(int* out, int max) const {
    int n = 0;
    int value = 0;
    for (int i = 0; i < m_operandCount && n < max; ++i) {
        value = static_cast<int>(static_cast<unsigned>(value) + static_cast<unsigned>(operandInt(i)));
        out[n++] = value;
    }
    return n;
}

int CffFontFile::readDeltaReals(double* out, int max) const {
    int n = 0;
    double value = 0;
    for (int i = 0; i < m_operandCount && n < max; ++i) {
        value += m_operands[i].number;
        out[n++] = value;
    }
    return n;
}

void CffFontFile::readTopDict(int64_t start, int64_t end) {
    int64_t pos = start;
    m_operandCount = 0;
    for (;;) {
        int op = readDictOperator(&pos, end);
        if (op < 0 || !m_ok)
            break;
        if (m_top.firstOperator < 0)
            m_top.firstOperator = op;
        storeTopDictEntry(op);
        m_operandCount = 0;
    }
}

void CffFontFile::storeTopDictEntry(int op) {
    switch (op) {
        case 0:
            m_top.version = operandInt(0);
            break;
        case 1:
            m_top.notice = operandInt(0);
            break;
        case kEscapedOperator + 0:
            m_top.copyright = operandInt(0);
            break;
        case 2:
            m_top.fullName = operandInt(0);
            break;
        case 3:
            m_top.familyName = operandInt(0);
            break;
        case 4:
            m_top.weight = operandInt(0);
            break;
        case kEscapedOperator + 1:
            m_top.isFixedPitch = operandInt(0);
            break;
        case kEscapedOperator + 2:
            m_top.italicAngle = operandReal(0);
            break;
        case kEscapedOperator + 3:
            m_top.underlinePosition = operandReal(0);
            break;
        case kEscapedOperator + 4:
            m_top.underlineThickness = operandReal(0);
            break;
        case kEscapedOperator + 5:
            m_top.paintType = operandInt(0);
            break;
        case kEscapedOperator + 6:
            m_top.charstringType = operandInt(0);
            break;
        case kEscapedOperator + 7:
            if (m_operandCount >= 6) {
                for (int i = 0; i < 6; ++i)
                    m_top.fontMatrix[i] = operandReal(i);
            }
            break;
        case 13:
            m_top.uniqueId = operandInt(0);
            break;
        case 5:
            if (m_operandCount >= 4) {
                for (int i = 0; i < 4; ++i)
                    m_top.fontBox[i] = operandReal(i);
            }
            break;
        case kEscapedOperator + 8:
            m_top.strokeWidth = operandReal(0);
            break;
        case 14:
            m_top.xuidLength = m_operandCount < 16 ? m_operandCount : 16;
            for (int i = 0; i < m_top.xuidLength; ++i)
                m_top.xuid[i] = operandInt(i);
            break;
        case 15:
            m_top.charsetOffset = operandInt(0);
            break;
        case 16:
            m_top.encodingOffset = operandInt(0);
            break;
        case 17:
            m_top.charStringsOffset = operandInt(0);
            break;
        case 18:
            if (m_operandCount >= 2) {
                m_top.privateSize = operandInt(0);
                m_top.privateOffset = operandInt(1);
            }
            break;
        case kRosOperator:
            m_top.registry = operandInt(0);
            m_top.ordering = operandInt(1);
            m_top.supplement = operandInt(2);
            break;
        case kEscapedOperator + 34:
            m_top.cidCount = operandInt(0);
            break;
        case kEscapedOperator + 36:
            m_top.fdArrayOffset = operandInt(0);
            break;
        case kEscapedOperator + 37:
            m_top.fdSelectOffset = operandInt(0);
            break;
        default:
            break;
    }
}

void CffFontFile::readFontDict(int64_t start, int64_t end, PrivateDict& dict) {
    int64_t pos = start;
    m_operandCount = 0;
    int privateSize = 0;
    int privateOffset = 0;
    bool hasPrivate = false;
    for (;;) {
        int op = readDictOperator(&pos, end);
        if (op < 0 || !m_ok)
            break;
        if (op == 18) {
            if (m_operandCount < 2) {
                m_ok = false;
                return;
            }
            privateSize = operandInt(0);
            privateOffset = operandInt(1);
            hasPrivate = true;
        }
        m_operandCount = 0;
    }
    if (m_ok && hasPrivate)
        readPrivateDict(privateOffset, privateSize, dict);
}

void CffFontFile::readPrivateDict(int offset, int size, PrivateDict& dict) {
    dict = PrivateDict();
    if (size <= 0 && offset == 0)
        return;
    if (!checkRange(offset, size)) {
        m_ok = false;
        return;
    }
    int64_t pos = offset;
    int64_t end = static_cast<int64_t>(offset) + size;
    m_operandCount = 0;
    for (;;) {
        int op = readDictOperator(&pos, end);
        if (op < 0 || !m_ok)
            break;
        switch (op) {
            case 6:
                dict.blueValueCount = readDeltaInts(dict.blueValues, 14);
                break;
            case 7:
                dict.otherBlueCount = readDeltaInts(dict.otherBlues, 10);
                break;
            case 8:
                dict.familyBlueCount = readDeltaInts(dict.familyBlues, 14);
                break;
            case 9:
                dict.familyOtherBlueCount = readDeltaInts(dict.familyOtherBlues, 10);
                break;
            case kEscapedOperator + 9:
                dict.blueScale = operandReal(0);
                break;
            case kEscapedOperator + 10:
                dict.blueShift = operandInt(0);
                break;
            case kEscapedOperator + 11:
                dict.blueFuzz = operandInt(0);
                break;
            case 10:
                dict.standardHW = operandReal(0);
                dict.hasStandardHW = true;
                break;
            case 11:
                dict.standardVW = operandReal(0);
                dict.hasStandardVW = true;
                break;
            case kEscapedOperator + 12:
                dict.stemSnapHCount = readDeltaReals(dict.stemSnapH, 12);
                break;
            case kEscapedOperator + 13:
                dict.stemSnapVCount = readDeltaReals(dict.stemSnapV, 12);
                break;
            case kEscapedOperator + 14:
                dict.forceBold = operandReal(0) != 0;
                break;
            case kEscapedOperator + 15:
                dict.forceBoldThreshold = operandReal(0);
                break;
            case kEscapedOperator + 17:
                dict.languageGroup = operandInt(0);
                break;
            case kEscapedOperator + 18:
                dict.expansionFactor = operandReal(0);
                break;
            case kEscapedOperator + 19:
                dict.initialRandomSeed = operandInt(0);
                break;
            case 19:
                dict.subroutinesOffset = operandInt(0);
                break;
            case 20:
                dict.defaultWidth = operandReal(0);
                dict.defaultWidthIsReal = m_operandCount > 0 && m_operands[0].isReal;
                break;
            case 21:
                dict.nominalWidth = operandReal(0);
                dict.nominalWidthIsReal = m_operandCount > 0 && m_operands[0].isReal;
                break;
            default:
                break;
        }
        m_operandCount = 0;
    }
}

void CffFontFile::readFdSelect() {
    m_fdSelect.assign(static_cast<size_t>(m_glyphCount), 0);
    int64_t pos = m_top.fdSelectOffset;
    if (pos == 0)
        return;
    int format = getByte(pos, m_ok);
    if (!m_ok)
        return;
    if (format == 0) {
        if (!checkRange(pos + 1, m_glyphCount)) {
            m_ok = false;
            return;
        }
        if (m_glyphCount > 0)
            std::memcpy(m_fdSelect.data(), m_buffer + pos + 1, static_cast<size_t>(m_glyphCount));
    } else if (format == 3) {
        int rangeCount = getU16(pos + 1, m_ok);
        int first = getU16(pos + 3, m_ok);
        for (int i = 0; i < rangeCount && m_ok; ++i) {
            int fd = getByte(pos + 5 + 3 * static_cast<int64_t>(i), m_ok);
            int next = getU16(pos + 6 + 3 * static_cast<int64_t>(i), m_ok);
            if (!m_ok || first > next || next > m_glyphCount) {
                m_ok = false;
                return;
            }
            if (next > first)
                std::memset(m_fdSelect.data() + first, fd, static_cast<size_t>(next - first));
            first = next;
        }
    }
}

int CffFontFile::getFontDictIndex(int glyph) const {
    if (glyph < 0 || glyph >= static_cast<int>(m_fdSelect.size()))
        return 0;
    return m_fdSelect[static_cast<size_t>(glyph)];
}

void CffFontFile::readCharset() {
    m_charset.assign(static_cast<size_t>(m_glyphCount), 0);
    auto copyPredefined = [&](const uint16_t* table, int length) {
        for (int g = 0; g < m_glyphCount && g < length; ++g)
            m_charset[static_cast<size_t>(g)] = table ? table[g] : static_cast<uint16_t>(g);
    };
    switch (m_top.charsetOffset) {
        case 0:
            copyPredefined(nullptr, kCffIsoAdobeCharsetLength);
            return;
        case 1:
            copyPredefined(kCffExpertCharset, kCffExpertCharsetLength);
            return;
        case 2:
            copyPredefined(kCffExpertSubsetCharset, kCffExpertSubsetCharsetLength);
            return;
        default:
            break;
    }
    int64_t pos = m_top.charsetOffset;
    int format = getByte(pos++, m_ok);
    // Glyph 0 is always .notdef (0); ranges name the glyphs from 1 on, and a
    // range that runs past the glyph count stops there.
    int glyph = 1;
    if (format == 0) {
        for (; glyph < m_glyphCount && m_ok; ++glyph, pos += 2)
            m_charset[static_cast<size_t>(glyph)] = static_cast<uint16_t>(getU16(pos, m_ok));
    } else if (format == 1 || format == 2) {
        while (glyph < m_glyphCount && m_ok) {
            int first = getU16(pos, m_ok);
            int left = format == 1 ? getByte(pos + 2, m_ok) : getU16(pos + 2, m_ok);
            pos += format == 1 ? 3 : 4;
            if (!m_ok)
                break;
            for (int j = 0; j <= left && glyph < m_glyphCount; ++j)
                m_charset[static_cast<size_t>(glyph++)] = static_cast<uint16_t>(first + j);
        }
    }
}

char* CffFontFile::copySidName(int sid) {
    if (sid >= 0 && sid < kCffStandardStringCount)
        return copyString(kCffStandardStrings[sid]);
    int element = sid - kCffStandardStringCount;
    if (element < 0 || element >= m_stringIndex.count)
        return nullptr;
    // A bad element only leaves the code without a name.
    bool ok = true;
    int64_t offsets = m_stringIndex.pos + 3;
    int size = m_stringIndex.offsetSize;
    uint32_t first = getUVar(offsets + static_cast<int64_t>(element) * size, size, ok);
    uint32_t next = getUVar(offsets + static_cast<int64_t>(element + 1) * size, size, ok);
    int64_t start = m_stringIndex.dataPos + first;
    int64_t end = m_stringIndex.dataPos + next;
    if (!ok || first < 1 || start > end || end > m_stringIndex.endPos)
        return nullptr;
    int64_t length = end - start;
    if (length > kMaxStringLength)
        length = kMaxStringLength;
    auto* name = static_cast<char*>(memAlloc(static_cast<int>(length) + 1));
    std::memcpy(name, m_buffer + start, static_cast<size_t>(length));
    name[length] = '\0';
    return name;
}

void CffFontFile::setEncodingName(int code, int sid) {
    if (code < 0 || code > 255)
        return;
    memFree(m_ownedNames[code]);
    m_ownedNames[code] = copySidName(sid);
}

void CffFontFile::readEncoding() {
    if (m_top.encodingOffset == 0) {
        m_encoding = kStandardEncoding;
        return;
    }
    if (m_top.encodingOffset == 1) {
        m_encoding = kCffExpertEncoding;
        return;
    }
    m_encoding = m_ownedNames;
    int64_t pos = m_top.encodingOffset;
    int format = getByte(pos, m_ok);
    if (!m_ok)
        return;
    int64_t supplements = -1;
    if ((format & 0x7f) == 0) {
        // One code a glyph, from glyph 1, never past the glyph count.
        int codeCount = getByte(pos + 1, m_ok);
        for (int i = 1; i <= codeCount && i < m_glyphCount && m_ok; ++i) {
            int code = getByte(pos + 1 + i, m_ok);
            if (m_ok)
                setEncodingName(code, m_charset[static_cast<size_t>(i)]);
        }
        supplements = pos + 2 + codeCount;
    } else if ((format & 0x7f) == 1) {
        int rangeCount = getByte(pos + 1, m_ok);
        int glyph = 1;
        for (int i = 0; i < rangeCount && m_ok; ++i) {
            int first = getByte(pos + 2 + 2 * i, m_ok);
            int left = getByte(pos + 3 + 2 * i, m_ok);
            for (int j = 0; j <= left && glyph < m_glyphCount && m_ok; ++j, ++glyph)
                setEncodingName(first + j, m_charset[static_cast<size_t>(glyph)]);
        }
        supplements = pos + 2 + 2 * rangeCount;
    }
    if ((format & 0x80) && supplements >= 0 && m_ok) {
        int count = getByte(supplements, m_ok);
        for (int i = 0; i < count && m_ok; ++i) {
            int code = getByte(supplements + 1 + 3 * i, m_ok);
            int sid = getU16(supplements + 2 + 3 * i, m_ok);
            if (m_ok)
                setEncodingName(code, sid);
        }
    }
}

std::unique_ptr<uint16_t[]> CffFontFile::buildCidToGlyphMap(int* length) const {
    *length = 0;
    if (!isCidKeyed())
        return nullptr;
    int maxCid = 0;
    for (uint16_t cid : m_charset) {
        if (cid > maxCid)
            maxCid = cid;
    }
    int n = maxCid + 1;
    std::unique_ptr<uint16_t[]> map(new uint16_t[static_cast<size_t>(n)]());
    for (int glyph = 0; glyph < m_glyphCount; ++glyph)
        map[m_charset[static_cast<size_t>(glyph)]] = static_cast<uint16_t>(glyph);
    *length = n;
    return map;
}

}  // namespace rendova
