#pragma once

#include <memory>

#include "engine/core/DataStream.h"
#include "engine/core/RowPredictor.h"

namespace rendova {

// Decodes the LZWDecode filter: variable-width codes of 9 to 12 bits, most
// significant bit first, 256 clearing the table and 257 ending the data, the
// width growing early by the EarlyChange value (1 by default, 0 for the
// standard LZW that widens one code later). With a predictor other than 1 the
// output goes through a RowPredictor, which pulls the plain LZW output
// through readRawByte.
//
// Holds a reference to its source (see DecoderStream) and owns its
// predictor. The whole table and string buffer live in the object: nothing is
// allocated while decoding. A table overflow is reported and the table
// cleared; a code beyond the table is reported and ends the data after the
// bytes decoded before it. One thread at a time; never throws on bad data.
class LzwDecoder : public DecoderStream {
public:
    LzwDecoder(RefPtr<DataStream> source, int predictor, int columns, int colors, int bits, int earlyChange);

    int getKind() override { return kLzwKind; }
    void reset() override;
    int getChar() override { return m_predictor ? m_predictor->getChar() : readRawByte(); }
    int peekChar() override { return m_predictor ? m_predictor->peekChar() : peekRawByte(); }
    int getBlock(uint8_t* buffer, int size) override;
    int readRawBlock(uint8_t* buffer, int size) override;
    int readRawByte() override {
        if (m_stringIndex >= m_stringLength && !nextString())
            return -1;
        return m_string[m_stringIndex++];
    }
    std::unique_ptr<DynString> getPrintFilter(int level, const char* indent) override;
    bool isBinary(bool) override { return source()->isBinary(true); }

protected:
    ~LzwDecoder() override;

private:
    // Codes 0-255 stand for themselves, 256 clears, 257 ends; the table fills
    // from 258 and holds one code beyond the 12-bit range, so that a stream
    // that never clears is caught one code late, as decoders have always done.
    static constexpr int kTableSize = 4097;

    struct Entry {
        int length;
        int head;
        unsigned char tail;
    };

    int peekRawByte() {
        if (m_stringIndex >= m_stringLength && !nextString())
            return -1;
        return m_string[m_stringIndex];
    }
    bool nextString();
    int readCode();
    void clearTable();

    std::unique_ptr<RowPredictor> m_predictor;
    int m_earlyChange;
    bool m_atEnd = false;
    uint32_t m_bitBuffer = 0;
    int m_bitCount = 0;
    Entry m_table[kTableSize];
    int m_nextCode = 258;
    int m_codeWidth = 9;
    int m_prevCode = 0;
    int m_prevLength = 0;
    unsigned char m_string[kTableSize];
    int m_stringLength = 0;
    int m_stringIndex = 0;
    bool m_firstCode = true;
};

}  // namespace rendova
