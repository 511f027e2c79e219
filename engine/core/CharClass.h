#pragma once

#include <array>
#include <cstdint>

namespace rendova {

// The byte classes of PostScript-style syntax, shared by the PDF tokenizer and
// PsTokenizer: white space separates tokens, a delimiter both ends a token and
// starts the next one.
enum CharClass : uint8_t {
    kCharRegular = 0,
    kCharWhite = 1,
    kCharDelimiter = 2,
};

namespace detail {
constexpr std::array<uint8_t, 256> makeCharClasses() {
    std::array<uint8_t, 256> table{};
    for (uint8_t c : std::array<uint8_t, 6>{0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20})
        table[c] = kCharWhite;
    for (unsigned char c : {'%', '(', ')', '/', '<', '>', '[', ']', '{', '}'})
        table[c] = kCharDelimiter;
    return table;
}
}  // namespace detail

inline constexpr std::array<uint8_t, 256> kCharClasses = detail::makeCharClasses();

// The class of a byte 0-255.
constexpr CharClass charClass(int c) {
    return static_cast<CharClass>(kCharClasses[static_cast<uint8_t>(c)]);
}
constexpr bool isWhiteChar(int c) {
    return charClass(c) == kCharWhite;
}
constexpr bool isDelimiterChar(int c) {
    return charClass(c) == kCharDelimiter;
}
// The value of a hexadecimal digit in either case, or -1.
constexpr int hexDigitValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace rendova
