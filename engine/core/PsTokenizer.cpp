#include "engine/core/PsTokenizer.h"

#include "engine/core/CharClass.h"

namespace rendova {

PsTokenizer::PsTokenizer(GetCharFunc getChar, void* data) : m_getChar(getChar), m_data(data) {}

int PsTokenizer::peekChar() {
    if (m_lookahead < 0)
        m_lookahead = m_getChar(m_data);
    return m_lookahead;
}

int PsTokenizer::takeChar() {
    if (m_lookahead >= 0) {
        int c = m_lookahead;
        m_lookahead = -1;
        return c;
    }
    return m_getChar(m_data);
}

int PsTokenizer::getToken(char* buffer, int size, int* length) {
    int n = 0;
    // Every kind of token keeps to the buffer: bytes past its end are read
    // (so the next token starts in the right place) and dropped.
    auto store = [&](int c) {
        if (n < size - 1)
            buffer[n++] = static_cast<char>(c);
    };
    auto finish = [&](int result) {
        if (size > 0)
            buffer[n] = '\0';
        *length = n;
        return result;
    };

    int c;
    for (;;) {
        c = peekChar();
        if (c < 0)
            return finish(0);
        if (isWhiteChar(c)) {
            takeChar();
        } else if (c == '%') {
            do {
                c = takeChar();
            } while (c >= 0 && c != '\r' && c != '\n');
        } else {
            break;
        }
    }

    store(takeChar());
    if (c == '(') {
        // No nesting count: the first ")" not right after a backslash ends it.
        int previous = c;
        while ((c = takeChar()) >= 0) {
            store(c);
            if (c == ')' && previous != '\\')
                break;
            previous = c;
        }
    } else if (c == '<') {
        while ((c = takeChar()) >= 0) {
            if (isWhiteChar(c))
                continue;
            store(c);
            if (c == '>')
                break;
        }
    } else if (c != '[' && c != ']') {
        while ((c = peekChar()) >= 0 && charClass(c) == kCharRegular)
            store(takeChar());
    }
    return finish(1);
}

}  // namespace rendova
