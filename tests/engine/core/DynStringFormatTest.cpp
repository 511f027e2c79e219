#include <climits>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/core/DynString.h"
#include "engine/core/Memory.h"

namespace rendova {
namespace {

template <typename... Args>
std::string format(const char* pattern, const Args&... args) {
    DynString s;
    s.appendFormat(pattern, args...);
    return std::string(s.getCString(), static_cast<size_t>(s.getLength()));
}

template <typename... Args>
std::string printfText(const char* pattern, Args... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

std::string binary(uint32_t v) {
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + (v & 1)));
        v >>= 1;
    } while (v);
    return digits;
}

std::string padLeft(const std::string& s, int width, char fill = ' ') {
    return s.size() >= static_cast<size_t>(width) ? s : std::string(width - s.size(), fill) + s;
}

const int kIntegers[] = {0,    1,     -1,      7,        -7,        42,      -42,     255,        -255,
                         4096, 65535, 1000000, -1000000, 123456789, INT_MAX, INT_MIN, INT_MIN + 1};

// The flag and width parts of a conversion, with the matching printf spelling.
struct WidthCase {
    const char* ours;
    const char* printf;
};
const WidthCase kWidths[] = {{"", ""},     {"1", "1"},     {"5", "5"},   {"12", "12"},
                             {"05", "05"}, {"012", "012"}, {"-5", "-5"}, {"-12", "-12"}};

TEST(DynStringFormatTest, DecimalHexAndOctalMatchPrintf) {
    struct Kind {
        const char* ours;
        char conversion;
        bool isSigned;
    };
    const Kind kinds[] = {{"d", 'd', true},   {"ld", 'd', true},   {"ud", 'u', false},  {"ux", 'x', false},
                          {"uo", 'o', false}, {"uld", 'u', false}, {"ulx", 'x', false}, {"ulo", 'o', false}};
    for (const Kind& kind : kinds) {
        for (const WidthCase& width : kWidths) {
            std::string ours = std::string("{0:") + width.ours + kind.ours + "}";
            std::string theirs = std::string("%") + width.printf + kind.conversion;
            for (int value : kIntegers) {
                std::string expected = kind.isSigned
                                           ? printfText(theirs.c_str(), value)
                                           : printfText(theirs.c_str(), static_cast<unsigned>(value));
                EXPECT_EQ(format(ours.c_str(), value), expected) << ours << " " << value;
            }
        }
    }
}

TEST(DynStringFormatTest, SignedHexOctalAndBinaryPrintSignAndMagnitude) {
    for (int value : kIntegers) {
        uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        std::string sign = value < 0 ? "-" : "";
        for (const char* word : {"x", "lx"}) {
            EXPECT_EQ(format((std::string("{0:") + word + "}").c_str(), value),
                      sign + printfText("%x", magnitude));
        }
        EXPECT_EQ(format("{0:o}", value), sign + printfText("%o", magnitude));
        EXPECT_EQ(format("{0:b}", value), sign + binary(magnitude));
        EXPECT_EQ(format("{0:lb}", value), sign + binary(magnitude));
        EXPECT_EQ(format("{0:ub}", value), binary(static_cast<uint32_t>(value)));
        EXPECT_EQ(format("{0:ulb}", value), binary(static_cast<uint32_t>(value)));
        EXPECT_EQ(format("{0:12x}", value), padLeft(sign + printfText("%x", magnitude), 12));
        // Zero padding keeps one position of the width for the sign.
        EXPECT_EQ(format("{0:012b}", value), sign + padLeft(binary(magnitude), value < 0 ? 11 : 12, '0'));
    }
    EXPECT_EQ(format("{0:x}", INT_MIN), "-80000000");
    EXPECT_EQ(format("{0:b}", -5), "-101");
}

TEST(DynStringFormatTest, IntegersTakeTheLow32Bits) {
    int64_t wide = (int64_t(1) << 32) + 5;
    EXPECT_EQ(format("{0:d}", wide), "5");
    EXPECT_EQ(format("{0:ld}", int64_t(0xffffffff)), "-1");
    EXPECT_EQ(format("{0:ud}", int64_t(-1)), "4294967295");
    EXPECT_EQ(format("{0:ux}", uint64_t(0x123456789abcdef0)), "9abcdef0");
}

// The engine rounds half away from zero where printf rounds the exact binary
// value; away from ties the two agree digit for digit.
bool nearTie(double x, int precision) {
    double scaled = std::fabs(x) * std::pow(10.0, precision);
    return std::fabs(scaled - std::floor(scaled) - 0.5) < 1e-4;
}

std::vector<double> sweepDoubles() {
    std::vector<double> values = {0.0,         1.0,           -1.0,  0.3,       -0.3,   2.5,
                                  3.14159265,  -2.718281828,  99.99, 1234.5678, -0.001, 0.0004,
                                  1e6 + 0.125, 987654321.123, -42.0, 0.1,       1e-7};
    // A fixed pseudo-random spread over several magnitudes.
    uint32_t seed = 12345;
    for (int i = 0; i < 200; ++i) {
        seed = seed * 1103515245u + 12345u;
        double mantissa = static_cast<double>(seed % 1000000) / 1000000.0;
        int exponent = static_cast<int>((seed >> 20) % 12) - 4;
        double value = mantissa * std::pow(10.0, exponent);
        values.push_back((seed >> 31) ? -value : value);
    }
    return values;
}

std::string trimmedReference(double x, int precision) {
    std::string s = printfText("%#.*f", precision, x);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

TEST(DynStringFormatTest, DoublesMatchPrintf) {
    for (double x : sweepDoubles()) {
        for (int precision = 0; precision <= 6; ++precision) {
            if (nearTie(x, precision))
                continue;
            std::string p = std::to_string(precision);
            // "%#" keeps the point at precision 0, as the fixed kind does.
            EXPECT_EQ(format(("{0:." + p + "f}").c_str(), x), printfText("%#.*f", precision, x))
                << x << " " << p;
            EXPECT_EQ(format(("{0:14." + p + "f}").c_str(), x), printfText("%#14.*f", precision, x));
            EXPECT_EQ(format(("{0:-14." + p + "f}").c_str(), x), printfText("%-#14.*f", precision, x));
            EXPECT_EQ(format(("{0:." + p + "g}").c_str(), x), trimmedReference(x, precision))
                << x << " " << p;
        }
    }
}

TEST(DynStringFormatTest, StringsAndCharactersMatchPrintfWithJustificationSwapped) {
    for (const char* s : {"", "a", "abc", "a longer text"}) {
        EXPECT_EQ(format("{0:s}", s), s);
        EXPECT_EQ(format("{0:6s}", s), printfText("%-6s", s));
        EXPECT_EQ(format("{0:-6s}", s), printfText("%6s", s));
        DynString d(s);
        EXPECT_EQ(format("{0:8t}", &d), printfText("%-8s", s));
        EXPECT_EQ(format("{0:-8t}", &d), printfText("%8s", s));
    }
    EXPECT_EQ(format("{0:c}{1:3c}{2:-3c}", 'a', 'b', 'c'), "ab    c");
}

TEST(DynStringFormatTest, EdgeCasesOfTheLanguage) {
    EXPECT_EQ(format("{0:05d}", -42), "-0042");
    EXPECT_EQ(format("{0:.3g}", 2.5), "2.5");
    EXPECT_EQ(format("{0:.3g}", 3.0), "3");
    EXPECT_EQ(format("{0:.2f}", -0.001), "-0.00");
    EXPECT_EQ(format("{0:.0f}", 7.0), "7.");
    EXPECT_EQ(format("{0:.0g}", 7.0), "7");
    EXPECT_EQ(format("{0:f}", 7.6), "8.");
    EXPECT_EQ(format("{0:.2f}", -0.0), "0.00");
    EXPECT_EQ(format("{0:6s}|", "ab"), "ab    |");
    // Zero padding wins over left justification: the text already fills the width.
    EXPECT_EQ(format("{0:-05d}|", 42), "00042|");
    EXPECT_EQ(format("{0:0d}", 0), "0");
    // Precision means nothing to an integer.
    EXPECT_EQ(format("{0:.3d}", 5), "5");
    EXPECT_EQ(format("[{0:w}]", 3), "[   ]");
    EXPECT_EQ(format("[{0:10w}]", 2), "[  ]");
    EXPECT_EQ(format("[{0:w}]", -4), "[]");
    EXPECT_EQ(format("{0:s}|{0:4s}|", static_cast<const char*>(nullptr)), "|    |");
}

TEST(DynStringFormatTest, BracesAndArgumentIndexes) {
    EXPECT_EQ(format("a{{b}}c}d"), "a{b}c}d");
    EXPECT_EQ(format("}}}"), "}}");
    EXPECT_EQ(format("{0:d} and {0:d}", 7), "7 and 7");
    EXPECT_EQ(format("{0:d}{1:s}{0:x}{2:.1f}", 255, "-", 0.25), "255-ff0.3");
    EXPECT_EQ(format("{00:d}{1:d}", 1, 2), "12");
    DynString withNul("a\0b", 3);
    EXPECT_EQ(format("<{0:t}>", &withNul), std::string("<a\0b>", 5));
}

TEST(DynStringFormatTest, MalformedConversionEndsTheFormattingKeepingWhatCameBefore) {
    EXPECT_EQ(format("x{1:d}{0:d}y", 1, 2), "x");
    EXPECT_EQ(format("a{0:d}b{2:d}c", 1, 2, 3), "a1b");
    EXPECT_EQ(format("x{", 1), "x");
    EXPECT_EQ(format("x{a}", 1), "x");
    EXPECT_EQ(format("x{-1:d}", 1), "x");
    EXPECT_EQ(format("x{0d}", 1), "x");
    EXPECT_EQ(format("x{0}", 1), "x");
    EXPECT_EQ(format("x{0:q}", 1), "x");
    EXPECT_EQ(format("x{0:d", 1), "x");
    EXPECT_EQ(format("x{0:dx}", 1), "x");
    EXPECT_EQ(format("x{0:u}", 1), "x");
    EXPECT_EQ(format("x{0:d}", 1.5), "x");
    EXPECT_EQ(format("x{0:f}", 1), "x");
    EXPECT_EQ(format("x{0:s}", 1), "x");
    EXPECT_EQ(format("x{0:t}", "text"), "x");
    EXPECT_EQ(format("x{0:d}y"), "x");
    EXPECT_EQ(format("x{0:d}{1:d}y", 1), "x1");
    EXPECT_EQ(format("x{99999999999999999999:d}", 1), "x");
}

TEST(DynStringFormatTest, EveryWordIsReachable) {
    DynString d("dyn");
    EXPECT_EQ(format("{0:d}|{0:x}|{0:o}|{0:b}", -10), "-10|-a|-12|-1010");
    EXPECT_EQ(format("{0:ud}|{0:ux}|{0:uo}|{0:ub}", 10), "10|a|12|1010");
    EXPECT_EQ(format("{0:ld}|{0:lx}|{0:lo}|{0:lb}", -10), "-10|-a|-12|-1010");
    EXPECT_EQ(format("{0:uld}|{0:ulx}|{0:ulo}|{0:ulb}", 10), "10|a|12|1010");
    EXPECT_EQ(format("{0:.1f}|{0:.1g}|{1:c}|{2:s}|{3:t}|{4:w}|", 1.0, 'z', "str", &d, 2),
              "1.0|1|z|str|dyn|  |");
}

TEST(DynStringFormatTest, WidthsBeyondTheWorkAreaArePaddedInFull) {
    EXPECT_EQ(format("{0:100d}", 42), std::string(98, ' ') + "42");
    EXPECT_EQ(format("{0:0100d}", -42), "-" + std::string(97, '0') + "42");
    EXPECT_EQ(format("{0:-100x}|", 255), "ff" + std::string(98, ' ') + "|");
    EXPECT_EQ(format("{0:0300ub}", 5), std::string(297, '0') + "101");
    EXPECT_EQ(format("{0:200.2f}", -1.5), std::string(195, ' ') + "-1.50");
    EXPECT_EQ(format("{0:70s}|", "ab"), printfText("%-70s|", "ab"));
    EXPECT_EQ(format("{0:w}", 5000), std::string(5000, ' '));
}

TEST(DynStringFormatTest, AbsurdWidthThrowsMemoryException) {
    DynString s;
    EXPECT_THROW(s.appendFormat("ab{0:99999999999d}", 1), MemoryException);
    EXPECT_THROW(s.appendFormat("{0:w}", INT_MAX), MemoryException);
}

TEST(DynStringFormatTest, DoublesStayWithinTheWorkArea) {
    const double kInf = std::numeric_limits<double>::infinity();
    const double kNan = std::numeric_limits<double>::quiet_NaN();
    for (double x : {1.5, -1.5, 0.0, 1e300, -1e300, kInf, -kInf, kNan}) {
        for (const char* pattern : {"{0:f}", "{0:.20f}", "{0:.400f}", "{0:.400g}", "{0:.2000000000g}"}) {
            std::string s = format(pattern, x);
            EXPECT_GE(s.size(), 1u) << pattern << " " << x;
            EXPECT_LE(s.size(), 65u) << pattern << " " << x;
            EXPECT_EQ(s.find_first_not_of("-.0123456789"), std::string::npos) << pattern << " " << x;
        }
    }
    // Digits stay exact up to 2^53.
    EXPECT_EQ(format("{0:.0g}", 9007199254740992.0), "9007199254740992");
    EXPECT_EQ(format("{0:.2g}", 0.0), "0");
}

TEST(DynStringFormatTest, FormattingItsOwnTextIsSafe) {
    // Padding goes in first and moves the block; the text must not move with it.
    DynString s("abc");
    s.appendFormat("{0:-10s}", s.getCString());
    EXPECT_EQ(std::string(s.getCString()), "abc       abc");
    s.appendFormat("{0:20t}|", &s);
    EXPECT_EQ(std::string(s.getCString()), "abc       abcabc       abc       |");
}

}  // namespace
}  // namespace rendova
