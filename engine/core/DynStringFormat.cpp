// DynString::appendFormat: the engine's own small formatting language.
//
//   text        appended as it stands
//   {{          appends "{"
//   } or }}     appends "}" (a second "}" is consumed with the first)
//   {i:[-][0][width][.precision]word}
//               converts argument i. The digits of the index, width and
//               precision are decimal; a leading "0" in the width zero-pads
//               integers; "-" swaps the justification.
//
// The conversion words, matched by prefix in this order (no word is a prefix
// of a later one, so every word is reachable):
//
//   kind  word   argument   text
//    0     d     integer    signed decimal          (the integer kinds take
//    1     x     integer    signed hexadecimal       32 bits of the argument;
//    2     o     integer    signed octal             a negative signed value
//    3     b     integer    signed binary            prints "-" and the
//    4     ud    integer    unsigned decimal         magnitude's digits)
//    5     ux    integer    unsigned hexadecimal
//    6     uo    integer    unsigned octal
//    7     ub    integer    unsigned binary
//    8-15  ld lx lo lb uld ulx ulo ulb: the long spellings of 0-7, also 32-bit
//   16     f     double     exactly `precision` fraction digits and a point
//   17     g     double     trailing zero fraction digits (and a bare point)
//                           removed
//   18     c     integer    one character
//   19     s     C string   its bytes up to the NUL
//   20     t     DynString  its `length` bytes, NULs included
//   21     w     integer    that many spaces
//
// Integers and doubles are right-justified, characters and strings left-
// justified; "-" swaps either. A malformed conversion (no digit after "{",
// no ":", an unknown word, no "}", an index beyond the next unused argument,
// a missing argument or one of the wrong type) ends the formatting there:
// what was appended so far stays and the rest of the format is dropped.
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "engine/core/DynString.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

constexpr int kWordCount = 22;
constexpr const char* kWords[kWordCount] = {"d",  "x",  "o",  "b",  "ud",  "ux",  "uo",  "ub",   // 0-7
                                            "ld", "lx", "lo", "lb", "uld", "ulx", "ulo", "ulb",  // 8-15
                                            "f",  "g",  "c",  "s",  "t",   "w"};                 // 16-21

constexpr int kKindFixed = 16;
constexpr int kKindTrimmed = 17;
constexpr int kKindChar = 18;
constexpr int kKindCString = 19;
constexpr int kKindDynString = 20;
constexpr int kKindSpaces = 21;

constexpr char kDigits[] = "0123456789abcdef";

// Converted doubles are built in a work area of this size; generation stops
// when it is full (a 64-bit binary number and its sign fit exactly).
constexpr int kWorkArea = 65;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a run of decimal digits, saturating at INT_MAX so that a long run
// cannot overflow; a width that large then fails as an absurd size.
int readDecimal(const char*& p) {
    int64_t value = 0;
    while (isDigit(*p)) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            value = INT_MAX;
        ++p;
    }
    return static_cast<int>(value);
}

int matchWord(const char*& p) {
    for (int kind = 0; kind < kWordCount; ++kind) {
        size_t n = std::strlen(kWords[kind]);
        if (std::strncmp(p, kWords[kind], n) == 0) {
            p += n;
            return kind;
        }
    }
    return -1;
}

bool argumentFits(int kind, FormatArg::Type type) {
    switch (kind) {
        case kKindFixed:
        case kKindTrimmed:
            return type == FormatArg::Type::Double;
        case kKindCString:
            return type == FormatArg::Type::CString;
        case kKindDynString:
            return type == FormatArg::Type::String;
        default:
            return type == FormatArg::Type::Integer;
    }
}

int baseOf(int kind) {
    static constexpr int kBases[4] = {10, 16, 8, 2};
    return kBases[kind % 4];
}

// One digit of the double conversion, floor(value + 0.5). Past 2^53 (or for
// a value that is not finite) the subtraction that feeds it is no longer
// exact and can leave the range 0-9; such digits are clamped so that they
// still index the digit table.
int roundedDigit(double value) {
    double d = std::floor(value + 0.5);
    if (!(d >= 0))
        return 0;
    if (d > 9)
        return 9;
    return static_cast<int>(d);
}

// Kinds 16 and 17: the magnitude is rounded to a whole count of the last
// place, then digits are produced from the right. Returns the text's start in
// `area` (the text runs to the end of the area).
int convertDouble(double x, int precision, bool trimZeros, char (&area)[kWorkArea]) {
    int pos = kWorkArea;
    bool negative = x < 0;
    double v = std::floor(std::fabs(x) * std::pow(10.0, precision) + 0.5);

    bool wroteFraction = false;
    for (int place = 0; place < precision && pos > 0; ++place) {
        // Every remaining digit is 0 (or, for a value beyond the double
        // range, clamped to 0) and would be skipped: stop here rather than
        // count through a huge precision.
        if (trimZeros && !wroteFraction && (v == 0 || !std::isfinite(v)))
            break;
        double q = std::floor((v + 0.5) * 0.1);
        int digit = roundedDigit(v - 10 * q);
        v = q;
        if (trimZeros && !wroteFraction && digit == 0)
            continue;
        area[--pos] = kDigits[digit];
        wroteFraction = true;
    }
    if (pos > 0 && (!trimZeros || wroteFraction))
        area[--pos] = '.';
    do {
        if (pos == 0)
            break;
        double q = std::floor((v + 0.5) * 0.1);
        area[--pos] = kDigits[roundedDigit(v - 10 * q)];
        v = q;
    } while (v != 0);
    // A small negative value that rounds to zero keeps its sign.
    if (negative && pos > 0)
        area[--pos] = '-';
    return pos;
}

// A placeholder's fields after its opening brace: {index:[-][0]width[.precision]word}.
struct Placeholder {
    int index = 0;
    bool swapJustification = false;
    bool zeroPad = false;
    int64_t width = 0;
    int precision = 0;
    int kind = -1;
};

// Reads a placeholder up to and past its closing brace; false when it is
// malformed (the formatting stops there).
bool readPlaceholder(const char*& p, Placeholder& out) {
    if (!isDigit(*p))
        return false;
    out.index = readDecimal(p);
    if (*p != ':')
        return false;
    ++p;
    if (*p == '-') {
        out.swapJustification = true;
        ++p;
    }
    out.zeroPad = *p == '0';
    out.width = readDecimal(p);
    if (*p == '.') {
        ++p;
        out.precision = readDecimal(p);
    }
    out.kind = matchWord(p);
    if (out.kind < 0 || *p != '}')
        return false;
    ++p;
    return true;
}

// The digits of an integer argument in the kind's base, written at the end
// of `digits`; their count. *negative for a negative signed value.
int integerDigits(int kind, const FormatArg& arg, char (&digits)[32], bool* negative) {
    int base = baseOf(kind);
    uint32_t magnitude;
    if (kind % 8 < 4) {
        int32_t value = static_cast<int32_t>(static_cast<uint32_t>(arg.integer()));
        *negative = value < 0;
        magnitude = *negative ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    } else {
        magnitude = static_cast<uint32_t>(arg.integer());
    }
    int n = 0;
    do {
        digits[sizeof digits - 1 - n++] = kDigits[magnitude % base];
        magnitude /= base;
    } while (magnitude);
    return n;
}

}  // namespace

// The width comes from the format or an argument, not from the work area,
// so it is bounded only by the string's own 32-bit limit (resize throws
// MemoryException past it).
void DynString::appendRun(char c, int64_t n) {
    if (n <= 0)
        return;
    int old = m_length;
    resize(int64_t(m_length) + n);
    std::memset(m_buffer + old, c, static_cast<size_t>(n));
    m_buffer[m_length] = '\0';
}

DynString& DynString::appendFormatArgs(const char* format, const FormatArg* args, int count) {
    int collected = 0;
    const char* p = format;
    while (*p) {
        if (appendLiteral(p))
            continue;
        ++p;
        Placeholder spec;
        if (!readPlaceholder(p, spec))
            break;
        const int index = spec.index;
        const int kind = spec.kind;
        int64_t width = spec.width;

        // An index equal to the number taken so far takes the next argument;
        // a smaller one reuses an argument; a larger one has nothing to name.
        if (index > collected || index >= count)
            break;
        if (index == collected)
            ++collected;
        const FormatArg& arg = args[index];
        if (!argumentFits(kind, arg.type()))
            break;

        // The converted text is sign, leading zeros, then body.
        bool negative = false;
        int64_t zeros = 0;
        const char* body = "";
        int64_t bodyLength = 0;
        bool leftJustify = spec.swapJustification;
        char digits[32];
        char area[kWorkArea];
        std::string aliasCopy;

        if (kind < kKindFixed) {
            const int n = integerDigits(kind, arg, digits, &negative);
            body = digits + sizeof digits - n;
            bodyLength = n;
            if (spec.zeroPad) {
                int64_t target = negative ? width - 1 : width;
                if (target > n)
                    zeros = target - n;
            }
        } else if (kind <= kKindTrimmed) {
            int start = convertDouble(arg.real(), spec.precision, kind == kKindTrimmed, area);
            body = area + start;
            bodyLength = kWorkArea - start;
        } else if (kind == kKindSpaces) {
            width = static_cast<int32_t>(static_cast<uint32_t>(arg.integer()));
        } else {
            leftJustify = !spec.swapJustification;
            if (kind == kKindChar) {
                digits[0] = static_cast<char>(arg.integer());
                body = digits;
                bodyLength = 1;
            } else if (kind == kKindCString) {
                // A null C string prints as empty text.
                if (arg.text()) {
                    body = arg.text();
                    bodyLength = static_cast<int64_t>(std::strlen(body));
                }
            } else if (arg.string()) {
                body = arg.string()->getCString();
                bodyLength = arg.string()->getLength();
            }
            // Text taken from this very string would move with its block
            // while the padding is appended: copy it first.
            std::less_equal<const char*> lessEqual;
            if (bodyLength > 0 && lessEqual(m_buffer, body) && lessEqual(body, m_buffer + m_length)) {
                aliasCopy.assign(body, static_cast<size_t>(bodyLength));
                body = aliasCopy.data();
            }
        }

        appendConverted(body, bodyLength, negative, zeros, width, leftJustify);
    }
    return *this;
}

bool DynString::appendLiteral(const char*& p) {
    if (*p != '{' && *p != '}') {
        const char* run = p;
        while (*p && *p != '{' && *p != '}')
            ++p;
        appendBytes(run, static_cast<int>(p - run));
        return true;
    }
    if (*p == '}') {
        appendChar('}');
        p += p[1] == '}' ? 2 : 1;
        return true;
    }
    if (p[1] == '{') {
        appendChar('{');
        p += 2;
        return true;
    }
    return false;
}

void DynString::appendConverted(const char* body, int64_t bodyLength, bool negative, int64_t zeros,
                                int64_t width, bool leftJustify) {
    int64_t textLength = (negative ? 1 : 0) + zeros + bodyLength;
    int64_t spaces = width > textLength ? width - textLength : 0;
    if (!leftJustify)
        appendRun(' ', spaces);
    if (negative)
        appendChar('-');
    appendRun('0', zeros);
    if (bodyLength > INT_MAX)
        throw MemoryException();
    appendBytes(body, static_cast<int>(bodyLength));
    if (leftJustify)
        appendRun(' ', spaces);
}

}  // namespace rendova
