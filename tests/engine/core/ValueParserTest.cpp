#include "engine/core/ValueParser.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/core/Decryptor.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

// A parser over bytes in memory; the memory lives as long as the parser.
struct Parser {
    explicit Parser(const std::string& bytes, bool allowStreams = true)
        : source(memoryStream(bytes)),
          parser(nullptr, std::make_unique<Tokenizer>(nullptr, source.get()), allowStreams) {}
    PdfValue next(const Decryptor* decryptor = nullptr) {
        PdfValue v;
        parser.getValue(v, decryptor, 7, 0);
        return v;
    }
    RefPtr<DataStream> source;
    ValueParser parser;
};

std::string text(const PdfValue& v) {
    if (v.isString())
        return std::string(v.getString()->getCString(), size_t(v.getString()->getLength()));
    if (v.isName())
        return v.getName();
    if (v.isCommand())
        return v.getCommand();
    return v.typeName();
}

TEST(ValueParserReference, ThreeTokensFormOneReference) {
    Parser p("1 0 R 5");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isRef());
    EXPECT_EQ(v.getRefNum(), 1);
    EXPECT_EQ(v.getRefGen(), 0);
    EXPECT_EQ(p.next().getInt(), 5);
}

TEST(ValueParserReference, ObjectHeaderStaysThreeTokens) {
    Parser p("1 0 obj");
    EXPECT_EQ(p.next().getInt(), 1);
    EXPECT_EQ(p.next().getInt(), 0);
    EXPECT_EQ(text(p.next()), "obj");
    EXPECT_TRUE(p.next().isEof());
}

TEST(ValueParserReference, NumbersInAnArrayAreNotReferences) {
    Parser p("[1 2 3 R 4 5]");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isArray());
    PdfArray* a = v.getArray();
    ASSERT_EQ(a->getLength(), 4);
    PdfValue e;
    EXPECT_EQ(a->getRaw(0, e).getInt(), 1);
    ASSERT_TRUE(a->getRaw(1, e).isRef());
    EXPECT_EQ(e.getRefNum(), 2);
    EXPECT_EQ(e.getRefGen(), 3);
    EXPECT_EQ(a->getRaw(3, e).getInt(), 5);
}

TEST(ValueParserContainers, NestedArraysAndDictionaries) {
    Parser p("<< /Kids [1 0 R [2 (two)] << /X /Y >>] /N -3.5 /B true >> tail");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isDict());
    PdfDict* d = v.getDict();
    EXPECT_EQ(d->getLength(), 3);
    PdfValue kids, n, b, inner, e;
    d->lookupRaw("Kids", kids);
    ASSERT_TRUE(kids.isArray());
    ASSERT_EQ(kids.getArray()->getLength(), 3);
    kids.getArray()->getRaw(1, inner);
    ASSERT_TRUE(inner.isArray());
    EXPECT_EQ(text(inner.getArray()->getRaw(1, e)), "two");
    kids.getArray()->getRaw(2, inner);
    ASSERT_TRUE(inner.isDict());
    EXPECT_EQ(text(inner.getDict()->lookupRaw("X", e)), "Y");
    EXPECT_DOUBLE_EQ(d->lookupRaw("N", n).getReal(), -3.5);
    EXPECT_TRUE(d->lookupRaw("B", b).getBool());
    EXPECT_EQ(text(p.next()), "tail");
}

TEST(ValueParserContainers, KeyThatIsNotANameIsReportedAndSkipped) {
    ErrorCapture errors;
    Parser p("<< 1 /A 2 (s) /B 3 >>");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isDict());
    PdfValue e;
    EXPECT_EQ(v.getDict()->lookupRaw("A", e).getInt(), 2);
    EXPECT_EQ(v.getDict()->lookupRaw("B", e).getInt(), 3);
    EXPECT_EQ(v.getDict()->getLength(), 2);
    EXPECT_EQ(errors.count(), 2u);
}

TEST(ValueParserContainers, KeyBeforeTheEndIsDropped) {
    ErrorCapture errors;
    Parser p("<< /A 1 /B");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isDict());
    EXPECT_EQ(v.getDict()->getLength(), 1);
    EXPECT_FALSE(errors.empty());
}

TEST(ValueParserContainers, UnterminatedArrayKeepsWhatWasRead) {
    ErrorCapture errors;
    Parser p("[1 2 (x)");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isArray());
    EXPECT_EQ(v.getArray()->getLength(), 3);
    EXPECT_TRUE(errors.contains("array"));
    EXPECT_TRUE(p.next().isEof());
}

TEST(ValueParserContainers, DeepNestingStopsAtTheLimitWithAnErrorValue) {
    ErrorCapture errors;
    const int depth = 5000;
    Parser p(std::string(depth, '[') + std::string(depth, ']') + " 7");
    PdfValue v = p.next();
    int levels = 0;
    bool sawError = false;
    while (v.isArray()) {
        ++levels;
        PdfValue inner;
        v.getArray()->getRaw(0, inner);
        if (inner.isError())
            sawError = true;
        v = std::move(inner);
    }
    EXPECT_TRUE(sawError);
    EXPECT_LE(levels, 100);
    EXPECT_GE(levels, 50);
    EXPECT_TRUE(errors.contains("nest"));
    // Parsing goes on after the construct without running away.
    for (int i = 0; i < 2 * depth && !v.isEof(); ++i)
        v = p.next();
    EXPECT_TRUE(v.isEof());
}

TEST(ValueParserContainers, DeeplyNestedDictionariesAreLimitedToo) {
    ErrorCapture errors;
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "<< /A ";
    Parser p(text);
    PdfValue v = p.next();
    EXPECT_TRUE(v.isDict());
    EXPECT_TRUE(errors.contains("nest"));
}

TEST(ValueParserStream, DataLengthComesFromTheDictionary) {
    Parser p("<< /Length 5 >>\nstream\nhello\nendstream\n42");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isStream());
    EXPECT_EQ(readAll(v.getStream()), "hello");
    PdfValue length;
    EXPECT_EQ(v.dictLookup("Length", length).getInt(), 5);
    EXPECT_EQ(p.next().getInt(), 42);
}

TEST(ValueParserStream, CrLfAfterTheKeywordIsNotData) {
    Parser p("<< /Length 3 >> stream\r\nabc\r\nendstream");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isStream());
    EXPECT_EQ(readAll(v.getStream()), "abc");
}

TEST(ValueParserStream, FiltersAreApplied) {
    Parser p("<< /Length 7 /Filter /AHx >>\nstream\n414243>\nendstream");
    PdfValue v = p.next();
    ASSERT_TRUE(v.isStream());
    EXPECT_EQ(readAll(v.getStream()), "ABC");
}

// Where a stream's data ends: a Length that ends at the endstream keyword
// holds exactly; otherwise (no Length, one that is not a non-negative
// integer, one that lands elsewhere) the data runs to the first keyword after
// the stream line, without the line end before it, and the correction is
// reported once. After the stream the parser reads on behind the keyword.
struct StreamEndCase {
    const char* name;
    std::string dict;
    std::string data;
    std::string expected;
    size_t reports;
};

TEST(ValueParserStream, DataEndsAtTheKeywordUnlessTheLengthEndsThere) {
    const StreamEndCase cases[] = {
        {"no Length, LF", "<< >>", "hello\nendstream", "hello", 1},
        {"no Length, CR LF", "<< >>", "hello\r\nendstream", "hello", 1},
        {"no Length, CR", "<< >>", "hello\rendstream", "hello", 1},
        {"no Length, no line end", "<< >>", "hello endstream", "hello ", 1},
        {"no Length, glued", "<< >>", "helloendstream", "hello", 1},
        {"no Length, no data", "<< >>", "endstream", "", 1},
        {"real Length", "<< /Length 5.0 >>", "hello\nendstream", "hello", 1},
        {"reference without a table", "<< /Length 5 0 R >>", "hello\nendstream", "hello", 1},
        {"name Length", "<< /Length /Five >>", "hello\nendstream", "hello", 1},
        {"negative Length", "<< /Length -40 >>", "hello\nendstream", "hello", 1},
        {"short Length", "<< /Length 2 >>", "hello\nendstream", "hello", 1},
        // Reading goes on after the first keyword.
        {"long Length", "<< /Length 40 >>", "hello\nendstream 9 10 (x) Tj", "hello", 1},
        {"Length past an inner keyword", "<< /Length 5 >>", "q\nendstream 9 10 0 0 m 1 1 l S\nendstream", "q",
         1},
        {"exact Length, keyword in the data", "<< /Length 16 >>", "abcendstreamdefg\nendstream",
         "abcendstreamdefg", 0},
        {"exact Length, CR LF", "<< /Length 5 >>", "hello\r\nendstream", "hello", 0},
        {"exact Length, white space", "<< /Length 5 >>", "hello \t\r\n\nendstream", "hello", 0},
        {"exact Length, zero", "<< /Length 0 >>", "\nendstream", "", 0},
        {"a longer word is not the keyword", "<< >>", "helloendstreams\nendstream", "helloendstreams", 1},
    };
    for (const StreamEndCase& c : cases) {
        ErrorCapture errors;
        Parser p(c.dict + "\nstream\n" + c.data + " 9 10");
        PdfValue v = p.next();
        ASSERT_TRUE(v.isStream()) << c.name;
        EXPECT_EQ(readAll(v.getStream()), c.expected) << c.name;
        EXPECT_EQ(errors.count(), c.reports) << c.name;
        EXPECT_EQ(p.next().getInt(), 9) << c.name;
        EXPECT_EQ(p.next().getInt(), 10) << c.name;
    }
}

TEST(ValueParserStream, WithoutAKeywordTheDataEndsAtEndobjTheLengthOrTheInput) {
    // Without endstream the object's endobj closes the data (and the parser
    // reads on at it); without either, a stated Length, else the input's end.
    const std::pair<std::string, std::string> cases[] = {
        {"<< /Length 3 >>\nstream\nabcdef 9", "abc"},
        {"<< >>\nstream\nabcdef 9", "abcdef 9"},
        {"<< /Length 99 >>\nstream\nabcdef 9", "abcdef 9"},
        {"<< /Length 3 >>\nstream\nabcdef\nendobj 9", "abcdef"},
        {"<< >>\nstream\n(x) Tj endstream. (y) Tj\r\nendobj", "(x) Tj endstream. (y) Tj"},
    };
    for (const auto& [text, expected] : cases) {
        ErrorCapture errors;
        Parser p(text);
        PdfValue v = p.next();
        ASSERT_TRUE(v.isStream()) << text;
        EXPECT_EQ(readAll(v.getStream()), expected) << text;
        EXPECT_EQ(errors.count(), 1u) << text;
    }
}

TEST(ValueParserStream, KeywordAcrossTheSearchBlocksIsFound) {
    // The search reads the data in blocks of 4096 bytes: the keyword may
    // start in one block and end in the next.
    for (size_t size = 4080; size <= 4100; ++size) {
        const std::string data(size, 'x');
        Parser p("<< >>\nstream\n" + data + "endstream 9");
        PdfValue v = p.next();
        ASSERT_TRUE(v.isStream()) << size;
        EXPECT_EQ(readAll(v.getStream()).size(), size);
        EXPECT_EQ(p.next().getInt(), 9) << size;
    }
}

TEST(ValueParserStream, WithoutStreamsTheDictionaryIsReturned) {
    Parser p("<< /Length 5 >>\nstream\nhello\nendstream", false);
    EXPECT_TRUE(p.next().isDict());
    EXPECT_EQ(text(p.next()), "stream");
}

TEST(ValueParserInline, DataMarkerStopsTheLookahead) {
    Parser p("BI /W 1 ID \x01\x02 EI Q", false);
    EXPECT_EQ(text(p.next()), "BI");
    EXPECT_EQ(text(p.next()), "W");
    EXPECT_EQ(p.next().getInt(), 1);
    EXPECT_EQ(p.parser.getInlineState(), ValueParser::kInlineMarker);
    EXPECT_EQ(text(p.next()), "ID");
    EXPECT_EQ(p.parser.getInlineState(), ValueParser::kInlineData);
    // The caller reads the image data directly from the stream.
    Tokenizer* tokenizer = p.parser.getTokenizer();
    EXPECT_EQ(tokenizer->getChar(), 1);
    EXPECT_EQ(tokenizer->getChar(), 2);
    EXPECT_EQ(text(p.next()), "EI");
    EXPECT_EQ(p.parser.getInlineState(), ValueParser::kInlineNone);
    EXPECT_EQ(text(p.next()), "Q");
}

// Decrypts by adding 1 to every byte of object 7 (and nothing else).
class AddOneStream : public DecoderStream {
public:
    explicit AddOneStream(RefPtr<DataStream> source) : DecoderStream(std::move(source)) {}
    int getKind() override { return kOtherKind; }
    void reset() override { source()->reset(); }
    int getChar() override {
        int c = source()->getChar();
        return c < 0 ? c : (c + 1) & 0xff;
    }
    int peekChar() override {
        int c = source()->peekChar();
        return c < 0 ? c : (c + 1) & 0xff;
    }
    bool isBinary(bool) override { return true; }
};

class AddOneDecryptor : public Decryptor {
public:
    RefPtr<DataStream> decryptStream(RefPtr<DataStream> source, int num, int gen) const override {
        EXPECT_EQ(num, 7);
        EXPECT_EQ(gen, 0);
        return RefPtr<DataStream>::adopt(new AddOneStream(std::move(source)));
    }
};

TEST(ValueParserDecryption, StringsAndStreamsGoThroughTheDecryptor) {
    AddOneDecryptor decryptor;
    Parser p("[(abc) <4142> /Name] << /Length 3 >>\nstream\nxyz\nendstream");
    PdfValue array = p.next(&decryptor);
    ASSERT_TRUE(array.isArray());
    PdfValue e;
    EXPECT_EQ(text(array.getArray()->getRaw(0, e)), "bcd");
    EXPECT_EQ(text(array.getArray()->getRaw(1, e)), "BC");
    EXPECT_EQ(text(array.getArray()->getRaw(2, e)), "Name");
    PdfValue stream = p.next(&decryptor);
    ASSERT_TRUE(stream.isStream());
    EXPECT_EQ(readAll(stream.getStream()), "yz{");
}

TEST(ValueParserDecryption, NoDecryptorLeavesStringsAlone) {
    Parser p("(abc)");
    EXPECT_EQ(text(p.next()), "abc");
}

}  // namespace
}  // namespace rendova
