#pragma once

#include <climits>
#include <cstdio>

#include "engine/core/CharClass.h"

namespace rendova {
class PsTokenizer;
}

namespace rendova::cmaptext {

// The reader of the statements of CMap and ToUnicode files, and small readers
// of their tokens, shared by CodeToCidMap and CodeToUnicodeMap.

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

// Reads `count` hexadecimal digits (at most 8) at text into *value; false
// when one of them is not a digit.
inline bool readHex(const char* text, int count, unsigned* value) {
    unsigned v = 0;
    for (int i = 0; i < count; ++i) {
        int d = hexDigitValue(text[i]);
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
        if (hexDigitValue(token[i]) < 0)
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

// One entry of a section: its first two or three tokens (each cut to
// kTokenSize), and the tokenizer for an entry that reads on (the array of a
// bfrange).
struct Entry {
    char token[3][kTokenSize];
    int length[3];
    PsTokenizer* tokenizer;
};

// What read() finds in a CMap's text goes to a sink: the CID ranges of a
// CodeToCidMap, the Unicode values of a CodeToUnicodeMap. A sink reads the
// sections it lists; every other token is passed over. Sinks report their
// own defects through reportError and throw only MemoryException.
class Sink {
public:
    struct Section {
        const char* begin;  // "begincidrange"
        const char* end;    // "endcidrange"
        int tokens;         // the tokens of an entry: 2 or 3
        // Code space ranges: only an entry's first token may end the section,
        // and text that ends inside the section is reported. Elsewhere a later
        // token may end it too (the entry then is unfinished), and the text
        // may end quietly between entries.
        bool endsAtFirstTokenOnly;
    };

    // The sections the sink reads, `*count` of them.
    virtual const Section* sections(int* count) const = 0;
    // "/name usecmap": the name, without its slash.
    virtual void useCMap(const char* name) = 0;
    // A "key value" pair that the sink takes whole (true), such as
    // "/WMode 1"; otherwise the reader moves on by one token.
    virtual bool define(const char* key, const char* value) = 0;
    virtual void entry(int section, Entry& entry) = 0;
    // An entry of the section cut short by the section's end or the text's.
    virtual void unfinished(int section) = 0;

protected:
    ~Sink() = default;
};

// Reads the text's statements to its end: "usecmap", "key value" pairs and
// the sink's sections; anything else is passed over a token at a time.
void read(PsTokenizer& tokenizer, Sink& sink);

}  // namespace rendova::cmaptext
