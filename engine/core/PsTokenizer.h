#pragma once

namespace rendova {

// Splits PostScript-style text (CMap and ToUnicode files) into tokens. The
// source is a callback returning the next byte 0-255, or -1 at the end; the
// tokenizer does not own its data. Tokens are strings "( ... )", hex strings
// "< ... >" (white space left out), "[" and "]", and runs of regular bytes; a
// "%" comment runs to the end of its line. A token longer than the buffer is
// read to its end and cut to what fits. One thread at a time; never throws.
class PsTokenizer {
public:
    using GetCharFunc = int (*)(void* data);

    PsTokenizer(GetCharFunc getChar, void* data);

    // Stores the next token in buffer (at most size - 1 bytes and a NUL) and
    // its length in *length; returns 1, or 0 at the end of the input (empty
    // buffer, length 0).
    int getToken(char* buffer, int size, int* length);

private:
    // The next byte without consuming it.
    int peekChar();
    // The next byte, consumed.
    int takeChar();

    GetCharFunc m_getChar;
    void* m_data;
    int m_lookahead = -1;
};

}  // namespace rendova
