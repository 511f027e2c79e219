#pragma once

#include <climits>
#include <cstdio>

namespace rendova::cmaptext {

// Small readers of the tokens of CMap and ToUnicode files, shared by
// CodeToCidMap and CodeToUnicodeMap.

// The longest token the CMap readers keep, NUL included: codes and names are
// far shorter, and a longer token is cut, never overrun.
constexpr int kTokenSize = 256;

// PsTokenizer's byte source over text in memory (an embedded CMap or
// ToUnicode stream read whole).
struct TextSource {
    const char* bytes;
    int length;
    int position;
    static int get(void* data) {
        auto* source = static_cast<TextSource*>(data);
        if (source->position >= source->length)
            return -1;
        return static_cast<unsigned char>(source->bytes[source->position++]);
    }
};

// PsTokenizer's byte source over a stdio file.
inline int fileGetChar(void* file) {
    int c = std::fgetc(static_cast<FILE*>(file));
    return c == EOF ? -1 : c;
}

// The value of a hexadecimal digit, or -1.
inline int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `count` hexadecimal digits (at most 8) at text into *value; false
// when one of them is not a digit.
inline bool readHex(const char* text, int count, unsigned* value) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i) {
        int d = hexDigit(text[i]);
        if (d < 0)
            return false;
        v = (v << 4) | static_cast<unsigned>(d);
    }
    *value = v;
    return true;
}

// A token "<" hex digits ">" of `length` bytes: whether it has that form.
inline bool isHexString(const char* token, int length) {
    if (length < 2 || token[0] != '<' || token[length - 1] != '>')
        return false;
    for (int i = 1; i < length - 1; ++i) {
        if (hexDigit(token[i]) < 0)
            return false;
    }
    return true;
}

// The integer at the start of a token as the C runtime reads one (optional
// sign, leading digits, 0 when there are none), saturated to the int range.
inline int tokenInt(const char* token) {
    const char* p = token;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace rendova::cmaptext
