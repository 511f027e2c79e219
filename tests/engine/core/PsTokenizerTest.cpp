#include "engine/core/PsTokenizer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/core/CharClass.h"

namespace rendova {
namespace {

struct Source {
    std::string bytes;
    size_t pos = 0;
    static int get(void* data) {
        Source* s = static_cast<Source*>(data);
        return s->pos < s->bytes.size() ? static_cast<unsigned char>(s->bytes[s->pos++]) : -1;
    }
};

std::vector<std::string> tokens(const std::string& input, int size = 64) {
    Source source{input};
    PsTokenizer tokenizer(&Source::get, &source);
    std::vector<std::string> result;
    std::vector<char> buffer(static_cast<size_t>(size), 'X');
    int length = -1;
    while (tokenizer.getToken(buffer.data(), size, &length)) {
        EXPECT_EQ(buffer[static_cast<size_t>(length)], '\0');
        result.emplace_back(buffer.data(), static_cast<size_t>(length));
    }
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], '\0');
    return result;
}

using Tokens = std::vector<std::string>;

TEST(PsTokenizerTest, StringWithEscapedParenthesisIsOneToken) {
    EXPECT_EQ(tokens("(a\\)b) x"), (Tokens{"(a\\)b)", "x"}));
    // There is no nesting count: the first plain ")" ends the string.
    EXPECT_EQ(tokens("(a(b)c)"), (Tokens{"(a(b)", "c", ")"}));
    EXPECT_EQ(tokens("( spaced  out )"), (Tokens{"( spaced  out )"}));
    EXPECT_EQ(tokens("(unterminated"), (Tokens{"(unterminated"}));
}

TEST(PsTokenizerTest, HexTokenLeavesOutWhiteSpace) {
    EXPECT_EQ(tokens("<41 42>"), (Tokens{"<4142>"}));
    EXPECT_EQ(tokens(std::string("<4\t1\n\r\f 4\0"
                                 "2>",
                                 12)),
              (Tokens{"<4142>"}));
    EXPECT_EQ(tokens("<0000> <FFFF>"), (Tokens{"<0000>", "<FFFF>"}));
}

TEST(PsTokenizerTest, RegularRunsEndAtWhiteSpaceOrDelimiters) {
    EXPECT_EQ(tokens("/CIDInit /ProcSet findresource begin"),
              (Tokens{"/CIDInit", "/ProcSet", "findresource", "begin"}));
    EXPECT_EQ(tokens("[/a/b 12]"), (Tokens{"[", "/a", "/b", "12", "]"}));
    EXPECT_EQ(tokens("{x}"), (Tokens{"{x", "}"}));
    EXPECT_EQ(tokens("1 begincodespacerange<00><FF>endcodespacerange"),
              (Tokens{"1", "begincodespacerange", "<00>", "<FF>", "endcodespacerange"}));
    EXPECT_EQ(tokens("]]"), (Tokens{"]", "]"}));
}

TEST(PsTokenizerTest, CommentsRunToTheLineEnd) {
    EXPECT_EQ(tokens("%!PS-Adobe\nabc % note\rdef %end"), (Tokens{"abc", "def"}));
    EXPECT_EQ(tokens("%only a comment"), Tokens{});
    EXPECT_EQ(tokens(""), Tokens{});
    EXPECT_EQ(tokens(std::string(" \t\r\n\f\0", 6)), Tokens{});
}

TEST(PsTokenizerTest, LongTokensAreReadToTheirEndAndCut) {
    EXPECT_EQ(tokens("(abcdef) next", 4), (Tokens{"(ab", "nex"}));
    EXPECT_EQ(tokens("<41424344454647> next", 4), (Tokens{"<41", "nex"}));
    EXPECT_EQ(tokens("<41 42 43 44 45 46 47 48 49> x", 8), (Tokens{"<414243", "x"}));
    EXPECT_EQ(tokens("abcdefgh [", 4), (Tokens{"abc", "["}));
    // A buffer of one byte holds only the terminator.
    EXPECT_EQ(tokens("abc (d) <e>", 1), (Tokens{"", "", ""}));
}

TEST(PsTokenizerTest, CharacterClasses) {
    int white = 0;
    int delimiters = 0;
    for (int c = 0; c < 256; ++c) {
        if (isWhiteChar(c))
            ++white;
        if (isDelimiterChar(c))
            ++delimiters;
    }
    EXPECT_EQ(white, 6);
    EXPECT_EQ(delimiters, 10);
    for (int c : {0x00, 0x09, 0x0a, 0x0c, 0x0d, 0x20})
        EXPECT_EQ(charClass(c), kCharWhite);
    for (char c : std::string("%()/<>[]{}"))
        EXPECT_EQ(charClass(c), kCharDelimiter);
    EXPECT_EQ(charClass(0x0b), kCharRegular);
    EXPECT_EQ(charClass(0xff), kCharRegular);
}

}  // namespace
}  // namespace rendova
