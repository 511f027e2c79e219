#pragma once

#include <cstdint>
#include <type_traits>

namespace rendova {

class DynString;

// One argument of DynString::appendFormat, captured with its type so that the
// formatter never reads an argument as something it is not: a conversion
// whose kind does not fit its argument ends the formatting like any other
// malformed conversion.
class FormatArg {
public:
    enum class Type { Integer, Double, CString, String };

    template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
    FormatArg(T value) : m_type(Type::Integer), m_integer(static_cast<int64_t>(value)) {}
    FormatArg(double value) : m_type(Type::Double), m_double(value) {}
    FormatArg(float value) : m_type(Type::Double), m_double(value) {}
    FormatArg(const char* text) : m_type(Type::CString), m_text(text) {}
    FormatArg(char* text) : m_type(Type::CString), m_text(text) {}
    FormatArg(const DynString* string) : m_type(Type::String), m_string(string) {}
    FormatArg(DynString* string) : m_type(Type::String), m_string(string) {}

    Type type() const { return m_type; }
    int64_t integer() const { return m_integer; }
    double real() const { return m_double; }
    const char* text() const { return m_text; }
    const DynString* string() const { return m_string; }

private:
    Type m_type;
    union {
        int64_t m_integer;
        double m_double;
        const char* m_text;
        const DynString* m_string;
    };
};

// The engine's growable byte string: `length` bytes (NULs allowed inside)
// followed by a NUL, in a block whose size is a function of the length alone
// (see capacityFor). The string owns its block and never has a null buffer.
// Not thread-safe; throws MemoryException when memory runs out or the length
// would pass the signed 32-bit range.
class DynString {
public:
    DynString();
    explicit DynString(const char* text);
    DynString(const char* bytes, int length);
    // A range of another string; the caller passes a valid range.
    DynString(const DynString& source, int start, int length);
    DynString(const DynString& other);
    DynString& operator=(const DynString&) = delete;
    ~DynString();

    int getLength() const { return m_length; }
    const char* getCString() const { return m_buffer; }
    char* getBuffer() { return m_buffer; }
    char getChar(int i) const { return m_buffer[i]; }
    void setChar(int i, char c) { m_buffer[i] = c; }

    DynString& clear();
    DynString& appendChar(char c);
    DynString& append(const DynString& other);
    DynString& appendCStr(const char* text);
    DynString& appendBytes(const char* bytes, int n);
    DynString& insertChar(int position, char c);
    DynString& erase(int position, int n);
    DynString& toUpper();
    DynString& toLower();

    // First differing byte pair (as signed 8-bit values) decides; a prefix
    // compares by length.
    int compare(const DynString& other) const;
    // Against a C string: -1, 0 or 1 when one runs out first, else the byte
    // difference.
    int compareCStr(const char* text) const;

    // Appends text made from the engine's own formatting language:
    // "{index:[-][0][width][.precision]word}", "{{" and "}" (or "}}"). Words:
    // d x o b (signed), ud ux uo ub (unsigned), ld lx lo lb uld ulx ulo ulb
    // (the same, also 32-bit), f (fixed fraction digits) and g (trailing zeros
    // removed) for doubles, c (character), s (C string), t (DynString
    // pointer), w (that many spaces). A malformed conversion ends the
    // formatting; what was appended stays. See DynStringFormat.cpp.
    template <typename... Args>
    DynString& appendFormat(const char* format, const Args&... args) {
        if constexpr (sizeof...(Args) == 0) {
            return appendFormatArgs(format, nullptr, 0);
        } else {
            const FormatArg list[] = {FormatArg(args)...};
            return appendFormatArgs(format, list, static_cast<int>(sizeof...(Args)));
        }
    }
    DynString& appendFormatArgs(const char* format, const FormatArg* args, int count);

    // The block size for a length: the smallest multiple of the step that is
    // greater than the length, the step doubling from 8 while it is below the
    // length and below 1 MB.
    static int64_t capacityFor(int64_t length);

private:
    // Sets the length to newLength, moving to a new block only when the
    // capacity changes; the NUL after the new length is the caller's to write.
    void resize(int64_t newLength);
    // Appends n copies of c in one step (nothing for n <= 0).
    void appendRun(char c, int64_t n);
    // appendFormatArgs's steps: the text at p up to the next placeholder, or
    // an escaped brace, appended and passed (false, nothing done, at a
    // placeholder); and a converted value's text (sign, zeros, body) padded
    // with spaces to the width on the side the justification says.
    bool appendLiteral(const char*& p);
    void appendConverted(const char* body, int64_t bodyLength, bool negative, int64_t zeros, int64_t width,
                         bool leftJustify);

    int m_length = 0;
    char* m_buffer = nullptr;
};

}  // namespace rendova
