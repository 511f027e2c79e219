#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/core/DataStream.h"
#include "engine/core/FaxCodeTables.h"

namespace rendova {

// Decodes the CCITTFaxDecode filter: one-dimensional (K 0), mixed one- and
// two-dimensional (K > 0, a tag bit before each row) and pure
// two-dimensional (K < 0) coded bilevel images, handed out as rows of packed
// pixels, most significant bit first, each row padded to a whole byte with
// 0 bits; white is 1 unless BlackIs1 inverts every byte.
//
// A row is held as the positions where its colour changes, never as
// pixels, so memory follows the coded data: both lines grow only as changes
// are decoded and never past Columns + 3 entries, however large Columns is.
// The source is read one byte at a time and left right after the last byte
// whose bits were used, so that an inline image leaves the content stream
// right after its data.
//
// Holds a reference to its source (see DecoderStream). Coding errors are
// reported and the damaged row is kept, completed to Columns; with
// EndOfLine decoding resumes at the next end-of-line code. One thread at a
// time; never throws on bad data.
class FaxDecoder : public DecoderStream {
public:
    FaxDecoder(RefPtr<DataStream> source, int k, bool endOfLine, bool encodedByteAlign, int columns, int rows,
               bool endOfBlock, bool blackIs1);

    int getKind() override { return kFaxKind; }
    void reset() override;
    int getChar() override {
        const int c = peekChar();
        m_outputByte = -1;
        return c;
    }
    int peekChar() override;
    int getBlock(uint8_t* buffer, int size) override;
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(true); }

protected:
    ~FaxDecoder() override = default;

private:
    // A run or mode look-up that found the input used up.
    static constexpr int kEndOfInput = -1;
    static constexpr int kNoCode = -2;

    bool fetchByte();
    bool fetchNeededByte();
    int lookBits(int n);
    void eatBits(int n) {
        if (n > m_bitCount)
            n = m_bitCount;
        m_bitBuffer <<= n;
        m_bitCount -= n;
        if (m_peekedByte && m_bitCount < 8)
            consumePeekedByte();
    }
    void consumePeekedByte();
    template <typename Lookup>
    const FaxCode* findCode(int width, Lookup lookup, bool& atEnd);
    int readMode();
    int readRunCode(bool black);
    int readRun(bool black, int start);

    bool decodeRow();
    void decodeTwoDimensionalRow();
    void decodeOneDimensionalRow();
    void finishRow();
    // position must lie in [0, Columns].
    void addChange(int position) {
        // The usual case: a change beyond the last one.
        if ((m_changes == 0 || position > m_codingLine[size_t(m_changes) - 1]) &&
            size_t(m_changes) + 3 <= m_codingLine.size()) {
            m_codingLine[size_t(m_changes++)] = position;
            return;
        }
        addChangeSlow(position);
    }
    void addChangeSlow(int position);
    void growLine();
    bool skipToEndOfLine();
    bool alignRow();
    void readTag();
    int fillOutput(uint8_t* out, int size);

    // The parameters as given, Columns clamped.
    int m_k;
    bool m_endOfLine;
    bool m_byteAlign;
    int m_columns;
    int m_rows;
    bool m_endOfBlock;
    bool m_blackIs1;

    bool m_atEnd = false;
    // The data began with an end-of-line code: it has them, whatever
    // EndOfLine says.
    bool m_eolAtStart = false;
    // Some end-of-line code has been read since the start.
    bool m_sawEol = false;
    int m_row = 0;
    bool m_nextTwoDimensional = false;
    // The bits held, the next one highest, zeros below them.
    uint64_t m_bitBuffer = 0;
    int m_bitCount = 0;
    // The last byte of the buffer is still the source's next byte.
    bool m_peekedByte = false;

    // The current row's changes: strictly increasing positions in
    // [0, Columns], the first change to black (0 for a row that starts
    // black), the last entry Columns. m_changes counts them while the row is
    // decoded.
    std::vector<int> m_codingLine;
    int m_changes = 0;
    // The row above as the same list, followed by Columns twice, so that b1
    // and b2 always lie inside it.
    std::vector<int> m_referenceLine;
    bool m_damaged = false;

    // The next pixel to hand out in the current row (a multiple of 8;
    // Columns or more when the row is used up) and the index of the first
    // change beyond it.
    int64_t m_outputPixel = 0;
    int m_outputChange = 0;
    bool m_rowReady = false;
    int m_outputByte = -1;
};

}  // namespace rendova
