#include "engine/core/Tokenizer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <string>
#include <vector>

#include "engine/core/HexDecoder.h"
#include "engine/core/InflateDecoder.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using namespace std::string_literals;

// All tokens of the bytes, as values, up to the end of the input.
std::vector<PdfValue> tokens(const std::string& bytes) {
    RefPtr<DataStream> stream = memoryStream(bytes);
    Tokenizer tokenizer(nullptr, stream.get());
    std::vector<PdfValue> out;
    for (int guard = 0; guard < 10000; ++guard) {
        PdfValue v;
        tokenizer.getObj(v);
        if (v.isEof())
            break;
        out.push_back(std::move(v));
    }
    return out;
}

PdfValue single(const std::string& bytes) {
    std::vector<PdfValue> all = tokens(bytes);
    EXPECT_EQ(all.size(), 1u) << "input: " << bytes;
    PdfValue v;
    if (!all.empty())
        v = std::move(all[0]);
    return v;
}

std::string stringOf(const PdfValue& v) {
    EXPECT_TRUE(v.isString()) << v.typeName();
    if (!v.isString())
        return {};
    return std::string(v.getString()->getCString(), size_t(v.getString()->getLength()));
}

std::string nameOf(const PdfValue& v) {
    EXPECT_TRUE(v.isName()) << v.typeName();
    return v.isName() ? v.getName() : "";
}

std::string commandOf(const PdfValue& v) {
    EXPECT_TRUE(v.isCommand()) << v.typeName();
    return v.isCommand() ? v.getCommand() : "";
}

// A content value: an array of stream values, each over one of the parts.
PdfValue contentArray(const std::vector<std::string>& parts) {
    PdfValue array;
    array.initArray(nullptr);
    for (const std::string& part : parts) {
        PdfValue stream;
        stream.initStream(memoryStream(part).release());
        array.getArray()->add(std::move(stream));
    }
    return array;
}

TEST(TokenizerLiteralString, KeepsBalancedInnerParentheses) {
    EXPECT_EQ(stringOf(single("(a(b)c)")), "a(b)c");
    EXPECT_EQ(stringOf(single("(())")), "()");
}

TEST(TokenizerLiteralString, DecodesEscapes) {
    EXPECT_EQ(stringOf(single(R"((\n\r\t\b\f\\\(\)\q))")), std::string("\n\r\t\b\f\\()q"));
}

TEST(TokenizerLiteralString, OctalEscapesTakeAtMostThreeDigits) {
    EXPECT_EQ(stringOf(single(R"((\101))")), "A");
    EXPECT_EQ(stringOf(single(R"((\0053))")), std::string("\x05"
                                                          "3"));
    EXPECT_EQ(stringOf(single(R"((\7x))")), std::string("\x07x"));
    // Bits above the byte are dropped: octal 777 is 511.
    EXPECT_EQ(stringOf(single(R"((\777))")), std::string("\xff"));
}

TEST(TokenizerLiteralString, BackslashAtLineEndContinuesTheLine) {
    EXPECT_EQ(stringOf(single("(ab\\\ncd)")), "abcd");
    EXPECT_EQ(stringOf(single("(ab\\\r\ncd)")), "abcd");
    EXPECT_EQ(stringOf(single("(ab\\\rcd)")), "abcd");
}

TEST(TokenizerLiteralString, KeepsLineEndsAsTheyAre) {
    EXPECT_EQ(stringOf(single("(a\r\nb\rc\n)")), "a\r\nb\rc\n");
}

TEST(TokenizerLiteralString, KeepsNulBytes) {
    EXPECT_EQ(stringOf(single(std::string("(a\0b)", 5))), std::string("a\0b", 3));
}

TEST(TokenizerLiteralString, LongStringsHaveNoLimit) {
    std::string body(1000, 'x');
    EXPECT_EQ(stringOf(single("(" + body + ")")), body);
}

TEST(TokenizerLiteralString, EndOfInputReportsAndKeepsWhatWasRead) {
    ErrorCapture errors;
    EXPECT_EQ(stringOf(single("(abc")), "abc");
    EXPECT_FALSE(errors.empty());
    errors.clear();
    EXPECT_EQ(stringOf(single("(abc\\")), "abc");
    EXPECT_FALSE(errors.empty());
}

TEST(TokenizerHexString, OddDigitCountPadsTheLastNibble) {
    EXPECT_EQ(stringOf(single("<414>")), "\x41\x40");
    EXPECT_EQ(stringOf(single("<4 1\n4\t2>")), "AB");
    EXPECT_EQ(stringOf(single("<6a6B>")), "jk");
    EXPECT_EQ(stringOf(single("<>")), "");
}

TEST(TokenizerHexString, BadDigitCountsAsZeroAndIsReported) {
    ErrorCapture errors;
    EXPECT_EQ(stringOf(single("<4G41>")), "\x40\x41");
    EXPECT_TRUE(errors.contains("hex"));
}

TEST(TokenizerHexString, EndOfInputIsReported) {
    ErrorCapture errors;
    EXPECT_EQ(stringOf(single("<4142")), "AB");
    EXPECT_FALSE(errors.empty());
}

TEST(TokenizerName, DecodesHexEscapes) {
    EXPECT_EQ(nameOf(single("/A#42")), "AB");
    EXPECT_EQ(nameOf(single("/#41#62")), "Ab");
}

TEST(TokenizerName, HashWithoutHexDigitStandsForItself) {
    EXPECT_EQ(nameOf(single("/A#G1")), "A#G1");
    EXPECT_EQ(nameOf(single("/A#")), "A#");
}

TEST(TokenizerName, HashWithOneHexDigitIsReportedAndKept) {
    ErrorCapture errors;
    EXPECT_EQ(nameOf(single("/A#4Gx")), "A#4Gx");
    EXPECT_FALSE(errors.empty());
    // The byte after the digit is not swallowed: here it starts a name.
    std::vector<PdfValue> all = tokens("/A#4/B");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(nameOf(all[0]), "A#4");
    EXPECT_EQ(nameOf(all[1]), "B");
}

TEST(TokenizerName, EndsAtDelimitersAndWhiteSpace) {
    std::vector<PdfValue> all = tokens("/A/B[/C]/D(e)/");
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(nameOf(all[0]), "A");
    EXPECT_EQ(nameOf(all[1]), "B");
    EXPECT_EQ(commandOf(all[2]), "[");
    EXPECT_EQ(nameOf(all[3]), "C");
    EXPECT_EQ(commandOf(all[4]), "]");
    EXPECT_EQ(nameOf(all[5]), "D");
    EXPECT_EQ(stringOf(all[6]), "e");
    EXPECT_EQ(nameOf(all[7]), "");
}

TEST(TokenizerName, LongNameKeeps127BytesAndLeavesTheRest) {
    ErrorCapture errors;
    std::string name(127, 'n');
    std::vector<PdfValue> all = tokens("/" + name + "Xrest");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(nameOf(all[0]), name);
    // The 128th byte is dropped; the rest of the run is the next token.
    EXPECT_EQ(commandOf(all[1]), "rest");
    EXPECT_FALSE(errors.empty());
}

TEST(TokenizerNumber, IntegersAndReals) {
    PdfValue v = single("42");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), 42);
    v = single("-17");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), -17);
    v = single("3.25");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), 3.25);
}

TEST(TokenizerNumber, OddForms) {
    PdfValue v = single("-.5");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), -0.5);
    v = single("5.");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), 5.0);
    v = single("-");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), 0);
    v = single(".");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), 0.0);
    // A plus sign does not start a number.
    EXPECT_EQ(commandOf(single("+5")), "+5");
}

TEST(TokenizerNumber, IntegersWrapInThirtyTwoBits) {
    PdfValue v = single("4294967297");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), 1);
    v = single("2147483648");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), INT_MIN);
    v = single("-2147483648");
    ASSERT_TRUE(v.isInt());
    EXPECT_EQ(v.getInt(), INT_MIN);
}

TEST(TokenizerNumber, RealWithHugeIntegerPartKeepsItsValue) {
    PdfValue v = single("12345678901234567890.5");
    ASSERT_TRUE(v.isReal());
    EXPECT_NEAR(v.getReal(), 1.2345678901234567e19, 1e5);
    v = single("-4294967297.25");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), -4294967297.25);
}

TEST(TokenizerNumber, MinusAmongFractionDigitsIsReportedAndSkipped) {
    ErrorCapture errors;
    PdfValue v = single("1.5-3");
    ASSERT_TRUE(v.isReal());
    EXPECT_DOUBLE_EQ(v.getReal(), 1.53);
    EXPECT_FALSE(errors.empty());
}

TEST(TokenizerNumber, DoubledMinusSignsReadAsOne) {
    // Writers that negate a negative number write "--": other readers take
    // the number as negative, whatever the count of signs.
    const struct {
        const char* text;
        bool real;
        double value;
    } cases[] = {{"--10.12", true, -10.12}, {"--5", false, -5}, {"---3", false, -3},
                 {"--.5", true, -0.5},      {"--", false, 0},   {"-5", false, -5}};
    for (const auto& c : cases) {
        ErrorCapture errors;
        std::vector<PdfValue> all = tokens(std::string(c.text) + " 7");
        ASSERT_EQ(all.size(), 2u) << c.text;
        ASSERT_EQ(all[0].isReal(), c.real) << c.text;
        EXPECT_DOUBLE_EQ(c.real ? all[0].getReal() : all[0].getInt(), c.value) << c.text;
        EXPECT_EQ(all[1].getInt(), 7) << c.text;
        EXPECT_EQ(errors.count(), c.text[1] == '-' ? 1u : 0u) << c.text;
    }
}

TEST(TokenizerNumber, SecondPointEndsTheNumber) {
    std::vector<PdfValue> all = tokens("1.2.3");
    ASSERT_EQ(all.size(), 2u);
    EXPECT_DOUBLE_EQ(all[0].getReal(), 1.2);
    EXPECT_DOUBLE_EQ(all[1].getReal(), 0.3);
}

TEST(TokenizerKeyword, TrueFalseNullAndCommands) {
    std::vector<PdfValue> all = tokens("true false null truex nul obj");
    ASSERT_EQ(all.size(), 6u);
    ASSERT_TRUE(all[0].isBool());
    EXPECT_TRUE(all[0].getBool());
    ASSERT_TRUE(all[1].isBool());
    EXPECT_FALSE(all[1].getBool());
    EXPECT_TRUE(all[2].isNull());
    EXPECT_EQ(commandOf(all[3]), "truex");
    EXPECT_EQ(commandOf(all[4]), "nul");
    EXPECT_EQ(commandOf(all[5]), "obj");
}

TEST(TokenizerKeyword, LongTokenKeeps127Bytes) {
    ErrorCapture errors;
    std::string word(130, 'k');
    std::vector<PdfValue> all = tokens(word);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(commandOf(all[0]), word.substr(0, 127));
    EXPECT_EQ(commandOf(all[1]), "kk");
    EXPECT_FALSE(errors.empty());
}

TEST(TokenizerDelimiter, BracketsAndDoubleAngles) {
    std::vector<PdfValue> all = tokens("[]<<>>");
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(commandOf(all[0]), "[");
    EXPECT_EQ(commandOf(all[1]), "]");
    EXPECT_EQ(commandOf(all[2]), "<<");
    EXPECT_EQ(commandOf(all[3]), ">>");
}

TEST(TokenizerDelimiter, StrayClosersAreErrors) {
    ErrorCapture errors;
    std::vector<PdfValue> all = tokens(") { } > 1");
    ASSERT_EQ(all.size(), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(all[size_t(i)].isError()) << i;
    EXPECT_TRUE(all[4].isInt());
    EXPECT_EQ(errors.count(), 4u);
}

TEST(TokenizerWhiteSpace, CommentsAndAllWhiteSpaceBytesAreSkipped) {
    std::vector<PdfValue> all = tokens("% one\r1\0\t\n\f 2% two\n3 %end"s);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].getInt(), 1);
    EXPECT_EQ(all[1].getInt(), 2);
    EXPECT_EQ(all[2].getInt(), 3);
}

TEST(TokenizerWhiteSpace, IsWhiteSpaceKnowsTheSixBytes) {
    for (int c : {0, 9, 10, 12, 13, 32})
        EXPECT_TRUE(Tokenizer::isWhiteSpace(c)) << c;
    for (int c : {-1, 8, 11, int('a'), int('/'), 160, 256})
        EXPECT_FALSE(Tokenizer::isWhiteSpace(c)) << c;
}

TEST(TokenizerLines, SkipToNextLineHandlesEveryLineEnd) {
    for (const char* end : {"\n", "\r", "\r\n"}) {
        RefPtr<DataStream> stream = memoryStream(std::string("junk") + end + "7");
        Tokenizer tokenizer(nullptr, stream.get());
        tokenizer.skipToNextLine();
        PdfValue v;
        tokenizer.getObj(v);
        ASSERT_TRUE(v.isInt());
        EXPECT_EQ(v.getInt(), 7);
        EXPECT_EQ(tokenizer.getPos(), 5 + int(std::string(end).size()));
    }
}

TEST(TokenizerContent, RegularTokensEndAtAStreamBoundary) {
    PdfValue content = contentArray({"q 12", "34 cm /Na", "me Q"});
    Tokenizer tokenizer(nullptr, content);
    std::vector<std::string> seen;
    for (PdfValue v; !tokenizer.getObj(v).isEof();) {
        if (v.isInt())
            seen.push_back(std::to_string(v.getInt()));
        else if (v.isName())
            seen.push_back("/" + std::string(v.getName()));
        else if (v.isCommand())
            seen.push_back(v.getCommand());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"q", "12", "34", "cm", "/Na", "me", "Q"}));
}

TEST(TokenizerContent, StringsAndCommentsRunIntoTheNextStream) {
    PdfValue content = contentArray({"(ab", "cd) <41", "42> % note", "\n5"});
    Tokenizer tokenizer(nullptr, content);
    PdfValue v;
    EXPECT_EQ(stringOf(tokenizer.getObj(v)), "abcd");
    EXPECT_EQ(stringOf(tokenizer.getObj(v)), "AB");
    ASSERT_TRUE(tokenizer.getObj(v).isInt());
    EXPECT_EQ(v.getInt(), 5);
    EXPECT_TRUE(tokenizer.getObj(v).isEof());
    EXPECT_EQ(tokenizer.getPos(), -1);
    EXPECT_EQ(tokenizer.getChar(), -1);
}

TEST(TokenizerContent, ElementsThatAreNotStreamsArePassedOver) {
    PdfValue content = contentArray({"1"});
    PdfValue number;
    number.initInt(9);
    content.getArray()->add(std::move(number));
    PdfValue last;
    last.initStream(memoryStream("2").release());
    content.getArray()->add(std::move(last));
    Tokenizer tokenizer(nullptr, content);
    PdfValue v;
    EXPECT_EQ(tokenizer.getObj(v).getInt(), 1);
    EXPECT_EQ(tokenizer.getObj(v).getInt(), 2);
    EXPECT_TRUE(tokenizer.getObj(v).isEof());
}

TEST(TokenizerContent, EmptyArrayAndOtherKindsReadAsNoInput) {
    PdfValue empty;
    empty.initArray(nullptr);
    Tokenizer fromEmpty(nullptr, empty);
    PdfValue v;
    EXPECT_TRUE(fromEmpty.getObj(v).isEof());
    PdfValue number;
    number.initInt(3);
    Tokenizer fromNumber(nullptr, number);
    EXPECT_TRUE(fromNumber.getObj(v).isEof());
}

TEST(TokenizerContent, PeekNeverLooksIntoTheNextStream) {
    PdfValue content = contentArray({"a", "b"});
    Tokenizer tokenizer(nullptr, content);
    EXPECT_EQ(tokenizer.peekChar(), 'a');
    EXPECT_EQ(tokenizer.getChar(), 'a');
    EXPECT_EQ(tokenizer.peekChar(), -1);
    EXPECT_EQ(tokenizer.getChar(), 'b');
    EXPECT_EQ(tokenizer.getChar(), -1);
}

// Inline image data is read from the stream itself after the ID token, so
// the stream must stand just after the last token whatever the tokenizer
// read ahead; the content spans several steps of the inflate window.
TEST(TokenizerContent, TheStreamStandsJustAfterTheLastToken) {
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += "q 1 0 0 1 " + std::to_string(i) + " 0 cm BI /W 3 ID abc EI Q\n";
    uLongf packedSize = compressBound(uLong(content.size()));
    std::string packed(packedSize, '\0');
    ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                        reinterpret_cast<const Bytef*>(content.data()), uLong(content.size()), 6),
              Z_OK);
    packed.resize(packedSize);
    std::string hex;
    for (unsigned char c : content) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    // Buffers lent (memory, inflate) and not lent (hex: read byte by byte).
    const std::vector<std::pair<const char*, RefPtr<DataStream>>> streams = {
        {"memory", memoryStream(content)},
        {"inflate", RefPtr<DataStream>::adopt(new InflateDecoder(memoryStream(packed), 1, 1, 1, 8))},
        {"hex", RefPtr<DataStream>::adopt(new HexDecoder(memoryStream(hex + ">")))},
    };
    for (const auto& [kind, stream] : streams) {
        Tokenizer tokenizer(nullptr, stream.get());
        int images = 0;
        for (PdfValue v; !tokenizer.getObj(v).isEof();) {
            if (!v.isCommand() || std::string(v.getCommand()) != "ID")
                continue;
            DataStream* raw = tokenizer.getCurrentStream();
            std::string data;
            for (int i = 0; i < 4; ++i)
                data += static_cast<char>(raw->getChar());
            ASSERT_EQ(data, " abc") << kind << " image " << images;
            ++images;
        }
        EXPECT_EQ(images, 3000) << kind;
    }
}

}  // namespace
}  // namespace rendova
