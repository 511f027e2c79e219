#include "engine/core/LzwDecoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

constexpr int kClearCode = 256;
constexpr int kEndCode = 257;
constexpr int kFirstCode = 258;
// Codes never grow past 12 bits.
constexpr int kMaxCodeWidth = 12;

}  // namespace

LzwDecoder::LzwDecoder(RefPtr<DataStream> source, int predictor, int columns, int colors, int bits,
                       int earlyChange)
    : DecoderStream(std::move(source)), m_earlyChange(earlyChange) {
    for (int i = 0; i < 256; ++i)
        m_table[i] = {1, 0, static_cast<unsigned char>(i)};
    for (int i = 256; i < kTableSize; ++i)
        m_table[i] = {0, 0, 0};
    if (predictor != 1) {
        m_predictor = std::make_unique<RowPredictor>(this, predictor, columns, colors, bits);
        if (!m_predictor->isValid())
            m_predictor.reset();
    }
    clearTable();
}

LzwDecoder::~LzwDecoder() = default;

void LzwDecoder::reset() {
    source()->reset();
    m_atEnd = false;
    m_bitBuffer = 0;
    m_bitCount = 0;
    clearTable();
    // The predictor's previous row belongs to the last reading; a reread
    // starts from a zero upper row as the first reading did.
    if (m_predictor)
        m_predictor->reset();
}

void LzwDecoder::clearTable() {
    m_nextCode = kFirstCode;
    m_codeWidth = 9;
    m_stringLength = 0;
    m_stringIndex = 0;
    m_prevLength = 0;
    m_firstCode = true;
}

int LzwDecoder::readCode() {
    while (m_bitCount < m_codeWidth) {
        const int c = source()->getChar();
        if (c == -1)
            return -1;
        m_bitBuffer = (m_bitBuffer << 8) | uint32_t(c);
        m_bitCount += 8;
    }
    m_bitCount -= m_codeWidth;
    const int code = int((m_bitBuffer >> m_bitCount) & ((1u << m_codeWidth) - 1));
    m_bitBuffer &= (1u << m_bitCount) - 1;
    return code;
}

int LzwDecoder::getBlock(uint8_t* buffer, int size) {
    if (m_predictor)
        return m_predictor->getBlock(buffer, size);
    return readRawBlock(buffer, size);
}

int LzwDecoder::readRawBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        if (m_stringIndex >= m_stringLength && !nextString())
            break;
        const int count = std::min(m_stringLength - m_stringIndex, size - n);
        std::memcpy(buffer + n, m_string + m_stringIndex, size_t(count));
        m_stringIndex += count;
        n += count;
    }
    return n;
}

bool LzwDecoder::nextString() {
    if (m_atEnd)
        return false;

    int code;
    for (;;) {
        code = readCode();
        if (code == -1 || code == kEndCode) {
            m_atEnd = true;
            return false;
        }
        if (code != kClearCode)
            break;
        clearTable();
    }

    if (m_nextCode >= kTableSize) {
        reportError(getPos(), "LZW table overflow: the data lacks a clear code");
        clearTable();
    }

    if (code < 256) {
        m_string[0] = static_cast<unsigned char>(code);
        m_stringLength = 1;
    } else if (code < m_nextCode) {
        // Walk the prefix chain from the last byte back to the first.
        const int length = m_table[code].length;
        assert(length > 0 && length <= kTableSize);
        int c = code;
        for (int j = length - 1; j >= 0; --j) {
            m_string[j] = m_table[c].tail;
            c = m_table[c].head;
        }
        m_stringLength = length;
    } else if (code == m_nextCode && !m_firstCode) {
        // The code being defined: the previous string (still in the buffer)
        // plus its own first byte.
        m_string[m_prevLength] = m_string[0];
        m_stringLength = m_prevLength + 1;
    } else {
        // Beyond the table, or the code being defined when there is no
        // previous string (right after a clear): no encoder writes either.
        reportError(getPos(), "Bad LZW code %d (next code %d)", code, m_nextCode);
        m_atEnd = true;
        m_stringLength = 0;
        m_stringIndex = 0;
        return false;
    }

    if (m_firstCode) {
        m_firstCode = false;
    } else {
        m_table[m_nextCode] = {m_prevLength + 1, m_prevCode, m_string[0]};
        ++m_nextCode;
        const int widen = m_nextCode + m_earlyChange;
        if (widen == 512)
            m_codeWidth = 10;
        else if (widen == 1024)
            m_codeWidth = 11;
        else if (widen == 2048)
            m_codeWidth = kMaxCodeWidth;
    }
    m_prevCode = code;
    m_prevLength = m_stringLength;
    m_stringIndex = 0;
    return true;
}

std::unique_ptr<DynString> LzwDecoder::getPrintFilter(int level, const char* indent) {
    if (level < 2 || m_predictor)
        return nullptr;
    std::unique_ptr<DynString> text = source()->getPrintFilter(level, indent);
    if (!text)
        return nullptr;
    text->appendCStr(indent).appendCStr("<< ");
    if (m_earlyChange == 0)
        text->appendCStr("/EarlyChange 0 ");
    text->appendCStr(">> /LZWDecode filter\n");
    return text;
}

}  // namespace rendova
