#include "engine/core/FaxDecoder.h"

#include <algorithm>
#include <cstring>

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// Columns beyond this could not be counted in an int once the two
// reference sentinels are added.
constexpr int kMaxColumns = 0x7ffffffd;
// Lines start this long and double as changes are decoded, so that a huge
// Columns costs memory only when the data really has that many changes.
constexpr size_t kInitialLineLength = 1 << 12;
// The twelve bits of an end-of-line code followed by a tag bit.
constexpr int kEolWithTagBits = kFaxEolBits + 1;

}  // namespace

FaxDecoder::FaxDecoder(RefPtr<DataStream> source, int k, bool endOfLine, bool encodedByteAlign, int columns,
                       int rows, bool endOfBlock, bool blackIs1)
    : DecoderStream(std::move(source)),
      m_k(k),
      m_endOfLine(endOfLine),
      m_byteAlign(encodedByteAlign),
      m_columns(std::clamp(columns, 1, kMaxColumns)),
      m_rows(rows),
      m_endOfBlock(endOfBlock),
      m_blackIs1(blackIs1) {
    const size_t length = std::min(kInitialLineLength, size_t(m_columns) + 3);
    m_codingLine.resize(length);
    m_referenceLine.resize(length);
    m_codingLine[0] = m_columns;
    m_changes = 1;
}

void FaxDecoder::reset() {
    source()->reset();
    m_atEnd = false;
    m_row = 0;
    m_nextTwoDimensional = m_k < 0;
    m_bitBuffer = 0;
    m_bitCount = 0;
    m_peekedByte = false;
    m_codingLine[0] = m_columns;
    m_changes = 1;
    m_rowReady = false;
    m_outputByte = -1;
    // Leading fill and the first end-of-line code, when the data has one.
    while (lookBits(kFaxEolBits) == 0)
        eatBits(1);
    m_eolAtStart = lookBits(kFaxEolBits) == int(kFaxEolCode);
    m_sawEol = m_eolAtStart;
    if (m_eolAtStart)
        eatBits(kFaxEolBits);
    if (m_k > 0)
        readTag();
}

// --- Bits -------------------------------------------------------------------

// Adds the next input byte below the bits held. The newest byte is only
// peeked at, and taken from the source once one of its bits is used (or a
// further byte is needed): looking ahead for an end-of-line code after the
// last row must not swallow what follows the data, such as the end marker
// of an inline image.
bool FaxDecoder::fetchByte() {
    if (m_peekedByte) {
        source()->getChar();
        m_peekedByte = false;
    }
    const int c = source()->peekChar();
    if (c < 0)
        return false;
    m_bitBuffer |= uint64_t(c) << (56 - m_bitCount);
    m_bitCount += 8;
    m_peekedByte = true;
    return true;
}

// Adds the next input byte when the code under way goes on into it: taken
// at once, with the byte peeked at before it.
bool FaxDecoder::fetchNeededByte() {
    if (m_peekedByte)
        consumePeekedByte();
    const int c = source()->getChar();
    if (c < 0)
        return false;
    m_bitBuffer |= uint64_t(c) << (56 - m_bitCount);
    m_bitCount += 8;
    return true;
}

void FaxDecoder::consumePeekedByte() {
    source()->getChar();
    m_peekedByte = false;
}

// The next n bits (n at most 24) without consuming them; at the end of the
// input the bits held, zeros below, or -1 when none are held.
int FaxDecoder::lookBits(int n) {
    while (m_bitCount < n) {
        if (!fetchByte()) {
            if (m_bitCount == 0)
                return -1;
            break;
        }
    }
    return int(m_bitBuffer >> (64 - n));
}

void FaxDecoder::readTag() {
    const int bit = lookBits(1);
    if (bit < 0)
        return;
    m_nextTwoDimensional = bit == 0;
    eatBits(1);
}

// Finds the code at the front of the input with one look-up of the bits
// held, fetching another byte only when they cannot decide: the codes are
// prefix-free, so a code no longer than the bits held is the code. At the
// end of the input the bits held are looked up with zeros below; atEnd
// tells that none were left.
template <typename Lookup>
[[gnu::always_inline]] inline const FaxCode* FaxDecoder::findCode(int width, Lookup lookup, bool& atEnd) {
    static constexpr FaxCode kNone = {0, 0};
    if (m_bitCount == 0 && !fetchNeededByte()) {
        atEnd = true;
        return &kNone;
    }
    for (;;) {
        const int have = std::min(m_bitCount, width);
        const uint32_t bits = uint32_t(m_bitBuffer >> (64 - width));
        const FaxCode* code = &lookup(bits);
        if (code->length > 0 && code->length <= have)
            return code;
        if (have >= width)
            return &kNone;
        if (!fetchNeededByte())
            return code;
    }
}

inline int FaxDecoder::readMode() {
    bool atEnd = false;
    const FaxCode* code = findCode(
        kFaxModeBits, [](uint32_t bits) -> const FaxCode& { return lookupFaxMode(bits); }, atEnd);
    if (atEnd)
        return kEndOfInput;
    if (code->length > 0) {
        eatBits(code->length);
        return code->value;
    }
    return kNoCode;
}

// One white or black code: a run length, kEndOfInput, or kNoCode when the
// bits are no code.
inline int FaxDecoder::readRunCode(bool black) {
    bool atEnd = false;
    // Lambdas rather than the functions themselves, so that each look-up is
    // inlined into its own copy of the search.
    const FaxCode* code =
        black
            ? findCode(
                  kFaxBlackBits, [](uint32_t bits) -> const FaxCode& { return lookupFaxBlack(bits); }, atEnd)
            : findCode(
                  kFaxWhiteBits, [](uint32_t bits) -> const FaxCode& { return lookupFaxWhite(bits); }, atEnd);
    if (atEnd)
        return kEndOfInput;
    if (code->length > 0) {
        eatBits(code->length);
        return code->value;
    }
    return kNoCode;
}

// A whole run from start: make-up codes and the terminating code, the sum
// held at the line end, so that a run of make-up codes cannot count past
// it. Gives the end position, or kEndOfInput / kNoCode when the row cannot
// go on.
int FaxDecoder::readRun(bool black, int start) {
    int64_t end = start;
    for (;;) {
        const int run = readRunCode(black);
        if (run == kEndOfInput)
            return kEndOfInput;
        if (run == kNoCode) {
            // An end-of-line code or a stretch of zeros inside a row: the row
            // was cut short, and the end-of-line check after it takes over.
            const int next = lookBits(kFaxEolBits);
            if (next >= 0 && next <= int(kFaxEolCode)) {
                reportError(getPos(), "CCITTFax row cut short");
                return kNoCode;
            }
            reportError(getPos(), "Bad %s code (%04x) in CCITTFax stream", black ? "black" : "white",
                        lookBits(black ? kFaxBlackBits : kFaxWhiteBits));
            eatBits(1);
            m_damaged = true;
            return int(std::min<int64_t>(end + 1, m_columns));
        }
        end = std::min<int64_t>(end + run, int64_t(m_columns) + 1);
        if (run < kFaxFirstMakeUp)
            break;
    }
    if (end > m_columns) {
        reportError(getPos(), "CCITTFax row runs past its end (%d)", int(end));
        m_damaged = true;
        end = m_columns;
    }
    return int(end);
}

// --- Rows -------------------------------------------------------------------

void FaxDecoder::growLine() {
    const size_t limit = size_t(m_columns) + 3;
    const size_t length = std::min(limit, m_codingLine.size() * 2);
    m_codingLine.resize(length);
    m_referenceLine.resize(length);
}

// Records that the colour changes at position, whatever the data did
// before: the line stays strictly increasing inside [0, Columns] and its
// length keeps telling the current colour (an odd count: black). A change
// where the last one was undoes it (a run of length 0); a change behind
// earlier ones (damaged data moving left) drops the changes it passes.
void FaxDecoder::addChangeSlow(int p) {
    const int colourAfter = (m_changes + 1) & 1;
    int* line = m_codingLine.data();
    while (m_changes > 0 && line[m_changes - 1] > p)
        --m_changes;
    if ((m_changes & 1) == colourAfter)
        return;
    if (m_changes > 0 && line[m_changes - 1] == p) {
        --m_changes;
        return;
    }
    if (size_t(m_changes) + 3 > m_codingLine.size()) {
        growLine();
        line = m_codingLine.data();
    }
    line[m_changes++] = p;
}

void FaxDecoder::decodeOneDimensionalRow() {
    m_changes = 0;
    int a0 = 0;
    while (a0 < m_columns) {
        const int end = readRun((m_changes & 1) != 0, a0);
        if (end < 0) {
            if (end == kEndOfInput)
                m_atEnd = true;
            else
                m_damaged = true;
            break;
        }
        addChange(end);
        a0 = end;
    }
}

void FaxDecoder::decodeTwoDimensionalRow() {
    std::swap(m_codingLine, m_referenceLine);
    const int referenceCount = m_changes;
    // finishRow left room for the two sentinels.
    m_referenceLine[size_t(referenceCount)] = m_columns;
    m_referenceLine[size_t(referenceCount) + 1] = m_columns;
    m_changes = 0;

    // a0 starts before the first pixel, so that b1 may be 0.
    int a0 = -1;
    int j = 0;
    while (a0 < m_columns) {
        // b1 is the first change of the row above beyond a0 into the colour
        // opposite to a0's: entries of the current colour's parity. The line
        // above ends with Columns three times, so j + 1 stays inside it.
        const int* ref = m_referenceLine.data();
        const int colour = m_changes & 1;
        while (j > 0 && ref[j - 1] > a0)
            --j;
        if ((j & 1) != colour)
            ++j;
        while (ref[j] <= a0)
            j += 2;
        const int b1 = ref[j];
        const int b2 = ref[j + 1];

        const int mode = readMode();
        if (mode == kFaxPass) {
            a0 = b2;
        } else if (mode == kFaxHorizontal) {
            const int start = std::max(a0, 0);
            const int first = readRun(colour != 0, start);
            const int second = first < 0 ? first : readRun(colour == 0, first);
            if (second < 0) {
                if (first >= 0)
                    addChange(first);
                if (second == kEndOfInput)
                    m_atEnd = true;
                else
                    m_damaged = true;
                break;
            }
            addChange(first);
            addChange(second);
            a0 = second;
        } else if (mode >= kFaxVerticalLeft3 && mode <= kFaxVerticalRight3) {
            // 64 bits: b1 may be Columns itself, and Columns + 3 need not
            // fit in an int.
            int64_t a1 = int64_t(b1) + (mode - kFaxVertical0);
            if (a1 < 0) {
                reportError(getPos(), "Bad CCITTFax row start");
                m_damaged = true;
                a1 = 0;
            } else if (a1 > m_columns) {
                reportError(getPos(), "CCITTFax row runs past its end (%lld)", static_cast<long long>(a1));
                m_damaged = true;
                a1 = m_columns;
            } else if (a1 <= a0 && a0 >= 0) {
                reportError(getPos(), "CCITTFax change behind the coding position");
                m_damaged = true;
            }
            addChange(int(a1));
            a0 = int(a1);
        } else {
            if (mode == kEndOfInput) {
                m_atEnd = true;
                break;
            }
            // An end-of-line code or zeros inside the row cut it short; other
            // bits are no code at all: with end-of-line codes to resume at,
            // the row is damaged, and without them nothing can follow.
            const int next = lookBits(kFaxEolBits);
            if (next >= 0 && next <= int(kFaxEolCode)) {
                reportError(getPos(), "CCITTFax row cut short");
                m_damaged = true;
                break;
            }
            reportError(getPos(), "Bad two dim code (%04x) in CCITTFax stream", lookBits(kFaxModeBits));
            if (m_endOfLine)
                m_damaged = true;
            else
                m_atEnd = true;
            break;
        }
    }
}

// Ends the coding line with Columns and keeps room for the two reference
// sentinels.
void FaxDecoder::finishRow() {
    if (m_changes == 0 || m_codingLine[size_t(m_changes) - 1] < m_columns) {
        if (size_t(m_changes) + 3 > m_codingLine.size())
            growLine();
        m_codingLine[size_t(m_changes++)] = m_columns;
    }
}

// Skips fill (zeros while the next twelve bits are 0) and an end-of-line
// code after it; true when one was consumed. The end of the input ends the
// data.
bool FaxDecoder::skipToEndOfLine() {
    for (;;) {
        const int code = lookBits(kFaxEolBits);
        if (code < 0) {
            m_atEnd = true;
            return false;
        }
        if (code == 0) {
            eatBits(1);
            continue;
        }
        if (code == int(kFaxEolCode)) {
            eatBits(kFaxEolBits);
            return true;
        }
        return false;
    }
}

// Moves to the byte boundary after a row. Encoders of byte-aligned data
// with end-of-line codes align either the code itself or the row after it,
// the code (with its tag bit) then ending on a boundary, as TIFF writes
// them; dropping the rest of the byte suits the first and cuts the code of
// the second. So where the data has such codes, one that ends on the next
// boundary is taken whole (true). Data without them is aligned plainly: a
// row starting with a long white run begins with the same bits.
bool FaxDecoder::alignRow() {
    const int left = m_bitCount % 8;
    if (left == 0)
        return false;
    if (m_endOfLine || m_eolAtStart) {
        const int span = left + (left + 8 >= kFaxEolBits ? 8 : 16);
        if (lookBits(span) == int(kFaxEolCode)) {
            eatBits(span);
            return true;
        }
        const int tagged = left + (left + 8 >= kEolWithTagBits ? 8 : 16);
        if (m_k > 0 && (lookBits(tagged) >> 1) == int(kFaxEolCode)) {
            eatBits(tagged - 1);
            return true;
        }
    }
    eatBits(left);
    return false;
}

bool FaxDecoder::decodeRow() {
    if (m_atEnd)
        return false;
    // A row begins only where there is data: an input used up at a row
    // boundary gives no further row.
    if (lookBits(1) < 0) {
        m_atEnd = true;
        return false;
    }
    m_damaged = false;
    if (m_nextTwoDimensional)
        decodeTwoDimensionalRow();
    else
        decodeOneDimensionalRow();
    finishRow();

    bool gotEol = false;
    if (!m_atEnd) {
        if (!m_endOfBlock && m_rows > 0 && m_row + 1 == m_rows) {
            m_atEnd = true;
        } else {
            if (m_byteAlign)
                gotEol = alignRow();
            if (!gotEol)
                gotEol = skipToEndOfLine();
            // One-dimensional and mixed data that has shown end-of-line
            // codes lost its step when one is missing after a row (data
            // only labelled as having them is left alone).
            m_sawEol = m_sawEol || gotEol;
            if (!gotEol && !m_atEnd && m_k >= 0 && m_sawEol) {
                reportError(getPos(), "Missing end-of-line code after a CCITTFax row");
                m_damaged = true;
            }
        }
    }
    if (!m_atEnd && m_k > 0)
        readTag();

    if (!m_atEnd && m_endOfBlock && gotEol && lookBits(kFaxEolBits) == int(kFaxEolCode)) {
        // The second end-of-line code of the return to control (six
        // codes) or of the end of a pure two-dimensional block (two).
        eatBits(kFaxEolBits);
        if (m_k > 0)
            eatBits(1);
        if (m_k >= 0) {
            for (int i = 0; i < 4; ++i) {
                if (lookBits(kFaxEolBits) != int(kFaxEolCode)) {
                    reportError(getPos(), "Bad RTC code in CCITTFax stream");
                    break;
                }
                eatBits(kFaxEolBits);
                if (m_k > 0)
                    eatBits(1);
            }
        }
        m_atEnd = true;
    } else if (!m_atEnd && m_damaged && m_endOfLine && !gotEol) {
        // Resume at the next end-of-line code. A damaged row that was
        // followed by one is already in step: searching on would drop the
        // good row after it.
        for (;;) {
            const int code = lookBits(kEolWithTagBits);
            if (code < 0) {
                m_atEnd = true;
                break;
            }
            if ((code >> 1) == int(kFaxEolCode)) {
                eatBits(kFaxEolBits);
                if (m_k > 0) {
                    m_nextTwoDimensional = (code & 1) == 0;
                    eatBits(1);
                }
                break;
            }
            eatBits(1);
        }
    }

    ++m_row;
    m_outputPixel = 0;
    m_outputChange = 0;
    m_rowReady = true;
    return true;
}

// --- Output -----------------------------------------------------------------

namespace {

// Gives pixels [from, to) of a packed row the value of a black pixel (0
// bits, or 1 bits when the row is inverted).
inline void paintBlack(uint8_t* row, int64_t from, int64_t to, bool inverted) {
    if (from >= to)
        return;
    const size_t first = size_t(from >> 3), last = size_t((to - 1) >> 3);
    uint8_t firstMask = uint8_t(0xff >> (from & 7));
    const uint8_t lastMask = uint8_t(0xff << (7 - ((to - 1) & 7)));
    if (first == last)
        firstMask &= lastMask;
    if (inverted)
        row[first] |= firstMask;
    else
        row[first] &= uint8_t(~firstMask);
    if (first == last)
        return;
    if (last > first + 1)
        std::memset(row + first + 1, inverted ? 0xff : 0x00, last - first - 1);
    if (inverted)
        row[last] |= lastMask;
    else
        row[last] &= uint8_t(~lastMask);
}

}  // namespace

// Packs the current row's pixels from the next one on into out, up to size
// bytes. A whole row that fits is painted run by run over a white fill; a
// row split across calls goes byte by byte: whole bytes of a run at once,
// mixed bytes bit by bit.
int FaxDecoder::fillOutput(uint8_t* out, int size) {
    const int* line = m_codingLine.data();
    const int64_t columns = m_columns;
    const uint8_t invert = m_blackIs1 ? 0xff : 0x00;
    int64_t x = m_outputPixel;
    int i = m_outputChange;
    int n = 0;
    const int64_t rowBytes = (columns + 7) >> 3;
    if (x == 0 && rowBytes <= size) {
        std::memset(out, 0xff ^ invert, size_t(rowBytes));
        // Black runs lie between an even-numbered change and the next; the
        // pad bits after the last pixel are 0 like black ones.
        for (int k = 0; k + 1 < m_changes; k += 2)
            paintBlack(out, line[k], line[k + 1], m_blackIs1);
        paintBlack(out, columns, rowBytes * 8, m_blackIs1);
        m_outputPixel = columns;
        return int(rowBytes);
    }
    while (n < size && x < columns) {
        // The run holding pixel x ends at line[i]; the last entry is Columns.
        while (line[i] <= x)
            ++i;
        const int64_t end = line[i];
        if (end - x >= 8) {
            const int bytes = int(std::min<int64_t>((end - x) >> 3, size - n));
            std::memset(out + n, ((i & 1) ? 0x00 : 0xff) ^ invert, size_t(bytes));
            n += bytes;
            x += int64_t(bytes) * 8;
            continue;
        }
        // A byte across changes (or the row's last, its pad bits 0).
        const int64_t limit = std::min(x + 8, columns);
        unsigned byte = 0;
        for (int64_t from = x; from < limit;) {
            while (line[i] <= from)
                ++i;
            const int64_t to = std::min<int64_t>(line[i], limit);
            if ((i & 1) == 0)
                byte |= (0xffu >> (from - x)) & ~(0xffu >> (to - x));
            from = to;
        }
        out[n++] = uint8_t(byte ^ invert);
        x += 8;
    }
    m_outputPixel = x;
    m_outputChange = i;
    return n;
}

int FaxDecoder::getBlock(uint8_t* buffer, int size) {
    int n = 0;
    if (size <= 0)
        return 0;
    if (m_outputByte >= 0) {
        buffer[n++] = uint8_t(m_outputByte);
        m_outputByte = -1;
    }
    while (n < size) {
        if ((!m_rowReady || m_outputPixel >= m_columns) && !decodeRow())
            break;
        n += fillOutput(buffer + n, size - n);
    }
    return n;
}

int FaxDecoder::peekChar() {
    if (m_outputByte < 0) {
        uint8_t byte;
        if (getBlock(&byte, 1) == 1)
            m_outputByte = byte;
    }
    return m_outputByte;
}

std::unique_ptr<DynString> FaxDecoder::getPrintFilter(int level, const char* indent) {
    if (level < 2)
        return nullptr;
    std::unique_ptr<DynString> text = source()->getPrintFilter(level, indent);
    if (!text)
        return nullptr;
    text->appendCStr(indent).appendCStr("<< ");
    if (m_k != 0)
        text->appendFormat("/K {0:d} ", m_k);
    if (m_endOfLine)
        text->appendCStr("/EndOfLine true ");
    if (m_byteAlign)
        text->appendCStr("/EncodedByteAlign true ");
    text->appendFormat("/Columns {0:d} ", m_columns);
    if (m_rows != 0)
        text->appendFormat("/Rows {0:d} ", m_rows);
    if (!m_endOfBlock)
        text->appendCStr("/EndOfBlock false ");
    if (m_blackIs1)
        text->appendCStr("/BlackIs1 true ");
    text->appendCStr(">> /CCITTFaxDecode filter\n");
    return text;
}

}  // namespace rendova
