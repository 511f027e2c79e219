#pragma once

#include <cstdint>

#include "engine/core/PdfValue.h"

namespace rendova {

class DataStream;
class XrefTable;

// Turns the bytes of one stream, or of an array of streams read one after
// the other (a page's content), into tokens of document syntax, each a
// PdfValue: numbers, strings, names, true/false/null, and everything else as
// a command (kind 10), including "[", "]", "<<" and ">>". Malformed syntax is
// reported and gives an error value (kind 11); the end of the input gives
// kind 12.
//
// Numbers, names, keywords and the second byte of "<<" and ">>" end at the
// end of the current stream; white space, comments, literal and hex strings
// run on into the next one.
//
// Ownership: the tokenizer holds a reference to the streams it reads, and to
// an array of streams passed in. One thread at a time; throws MemoryException only.
class Tokenizer {
public:
    // Reads one stream (a reference is added); the stream is reset at once.
    Tokenizer(XrefTable* xref, DataStream* stream);
    // Reads a stream value, or the streams of an array value in order.
    // Elements are resolved through xref.
    Tokenizer(XrefTable* xref, const PdfValue& content);
    ~Tokenizer();
    Tokenizer(const Tokenizer&) = delete;
    Tokenizer& operator=(const Tokenizer&) = delete;

    // The next byte, moving on to the next stream at the end of one; -1 when
    // every stream is exhausted.
    int getChar();
    // The next byte of the current stream without consuming it; -1 at its
    // end (it never looks into the next stream).
    int peekChar();
    // The next token.
    PdfValue& getObj(PdfValue& out);
    // Consumes bytes up to and including the next LF, CR or CR LF.
    void skipToNextLine();
    // The byte position of the current stream, -1 when there is none.
    int64_t getPos();
    // The stream being read, null when all are exhausted. It stands just
    // after the last byte that the tokenizer consumed.
    DataStream* getCurrentStream();

    // Whether c (a byte 0-255, or -1) is white space of document syntax.
    static bool isWhiteSpace(int c);

private:
    // Closes the exhausted stream and opens the next stream of the array.
    void nextStream();
    PdfValue& readString(PdfValue& out);
    PdfValue& readHexString(PdfValue& out);
    PdfValue& readNumber(int first, PdfValue& out);
    PdfValue& readName(PdfValue& out);
    PdfValue& readRegular(int first, PdfValue& out);
    PdfValue& readToken(PdfValue& out);

    // Bytes are read straight from the buffer of the current stream where
    // it has one (DataStream::peekBuffered) rather than by a call per byte;
    // sync() hands what was consumed back to the stream, and runs before
    // anything else reads the stream or asks its position.
    int nextByte() {
        if (m_next < m_windowEnd)
            return *m_next++;
        return refillByte();
    }
    int peekByte();
    int refillByte();
    // Takes the current stream's buffered bytes as the window (handing the
    // last window back first); false when the stream lends none.
    bool borrowBuffer(DataStream* stream);
    void sync();

    RefPtr<PdfArray> m_streams;
    int m_index = 0;
    PdfValue m_current;
    const uint8_t* m_windowStart = nullptr;
    const uint8_t* m_next = nullptr;
    const uint8_t* m_windowEnd = nullptr;
    // The current stream lent nothing once (it does not lend, or it ended).
    bool m_unlent = false;
};

}  // namespace rendova
