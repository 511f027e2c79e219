#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "engine/core/DataStream.h"
#include "engine/core/HexDecoder.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::memoryStream;
using test::readAll;

PdfValue name(const char* text) {
    PdfValue v;
    v.initName(copyString(text));
    return v;
}

PdfValue nullValue() {
    PdfValue v;
    v.initNull();
    return v;
}

PdfValue emptyArray() {
    PdfValue v;
    v.initArray(nullptr);
    return v;
}

// 9-bit LZW codes, most significant bit first, as the start of any LZW
// stream is written.
std::string packCodes9(std::initializer_list<int> codes) {
    std::string packed;
    uint32_t bits = 0;
    int count = 0;
    for (int code : codes) {
        bits = (bits << 9) | uint32_t(code);
        count += 9;
        while (count >= 8) {
            count -= 8;
            packed.push_back(static_cast<char>((bits >> count) & 0xff));
        }
    }
    if (count)
        packed.push_back(static_cast<char>((bits << (8 - count)) & 0xff));
    return packed;
}

PdfValue integer(int i) {
    PdfValue v;
    v.initInt(i);
    return v;
}

// A dictionary value built from key and value pairs.
template <typename... Rest>
void addEntries(PdfDict*) {}
template <typename... Rest>
void addEntries(PdfDict* dict, const char* key, PdfValue&& value, Rest&&... rest) {
    dict->add(copyString(key), std::move(value));
    addEntries(dict, std::forward<Rest>(rest)...);
}
template <typename... Args>
PdfValue dict(Args&&... args) {
    PdfValue v;
    v.initDict(nullptr);
    addEntries(v.getDict(), std::forward<Args>(args)...);
    return v;
}

template <typename... Values>
PdfValue array(Values&&... values) {
    PdfValue v;
    v.initArray(nullptr);
    (v.getArray()->add(std::forward<Values>(values)), ...);
    return v;
}

// --- getLine ---

TEST(GetLineTest, LineEndsAreConsumedNotStored) {
    RefPtr<DataStream> s = memoryStream("one\r\ntwo\rthree\nlast");
    s->reset();
    char buffer[16];
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "one");
    EXPECT_EQ(s->peekChar(), 't');
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "two");
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "three");
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "last");
    EXPECT_EQ(s->getLine(buffer, sizeof buffer), nullptr);
}

TEST(GetLineTest, LongLinesAreCutAtTheBufferSize) {
    RefPtr<DataStream> s = memoryStream("abcdefg\n");
    s->reset();
    char buffer[4];
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "abc");
    ASSERT_NE(s->getLine(buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(buffer, "def");
}

TEST(GetLineTest, TinyBuffers) {
    RefPtr<DataStream> s = memoryStream("xy\n");
    s->reset();
    char buffer[2] = {'?', '?'};
    // Size 1: an empty string, nothing read.
    ASSERT_EQ(s->getLine(buffer, 1), buffer);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(s->peekChar(), 'x');
    // Size 0: no room even for the NUL, so nothing is written.
    buffer[0] = '?';
    EXPECT_EQ(s->getLine(buffer, 0), nullptr);
    EXPECT_EQ(buffer[0], '?');
    EXPECT_EQ(s->peekChar(), 'x');
}

// --- decoder chain ownership and common answers ---

// Counts its destructions: proves what the chain keeps alive.
class CountedSource : public test::RawBytesStream {
public:
    CountedSource(std::string bytes, int* destroyed)
        : RawBytesStream(std::move(bytes)), m_destroyed(destroyed) {}
    ~CountedSource() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

TEST(DecoderChainTest, OutermostStreamKeepsTheChainAlive) {
    int destroyed = 0;
    RefPtr<DataStream> chain = RefPtr<DataStream>::adopt(new CountedSource("41 42>", &destroyed));
    chain = DataStream::makeFilter("AHx", std::move(chain), PdfValue());
    {
        // A stream value shares the outer stream by count.
        PdfValue value;
        value.initStream(RefPtr<DataStream>(chain).release());
        EXPECT_EQ(chain->refCount(), 2);
    }
    EXPECT_EQ(chain->refCount(), 1);
    EXPECT_EQ(readAll(chain.get()), "AB");
    EXPECT_EQ(destroyed, 0);
    chain.reset();
    EXPECT_EQ(destroyed, 1);
}

TEST(DecoderChainTest, DecodersAnswerForTheirSource) {
    RefPtr<DataStream> source = memoryStream("<<>>", dict("Length", integer(4)));
    DataStream* raw = source.get();
    RefPtr<DataStream> outer = DataStream::makeFilter(
        "AHx", DataStream::makeFilter("A85", std::move(source), PdfValue()), PdfValue());
    EXPECT_EQ(outer->getSourceStream(), raw);
    EXPECT_EQ(outer->getRawSource(), raw);
    EXPECT_EQ(outer->getDict(), raw->getDict());
    EXPECT_EQ(outer->getChainedSource()->getChainedSource(), raw);
    EXPECT_EQ(raw->getChainedSource(), nullptr);
    EXPECT_FALSE(outer->isEncodingFilter());
    outer->reset();
    EXPECT_EQ(outer->getPos(), 0);

    ErrorCapture errors;
    outer->setPos(0, 0);
    EXPECT_EQ(errors.count(), 1u);
    EXPECT_EQ(outer->readRawByte(), -1);
    EXPECT_EQ(errors.count(), 2u);
}

TEST(DecoderChainTest, PrintFilterReexpressesTheChain) {
    RefPtr<DataStream> chain = DataStream::makeFilter(
        "RL",
        DataStream::makeFilter("A85", DataStream::makeFilter("AHx", memoryStream(""), PdfValue()),
                               PdfValue()),
        PdfValue());
    std::unique_ptr<DynString> text = chain->getPrintFilter(2, "  ");
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->getCString(),
                 "  /ASCIIHexDecode filter\n  /ASCII85Decode filter\n  /RunLengthDecode filter\n");
    EXPECT_FALSE(chain->getPrintFilter(1, ""));

    RefPtr<DataStream> lzw = DataStream::makeFilter("LZW", memoryStream(""), dict("EarlyChange", integer(0)));
    text = lzw->getPrintFilter(2, "");
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->getCString(), "<< /EarlyChange 0 >> /LZWDecode filter\n");
    RefPtr<DataStream> predicted =
        DataStream::makeFilter("LZW", memoryStream(""), dict("Predictor", integer(2)));
    EXPECT_FALSE(predicted->getPrintFilter(3, ""));
}

TEST(DecoderChainTest, TextDecodersAskTheirSourceAboutBinaryData) {
    EXPECT_FALSE(DataStream::makeFilter("AHx", memoryStream(""), PdfValue())->isBinary(true));
    EXPECT_FALSE(DataStream::makeFilter("A85", memoryStream(""), PdfValue())->isBinary(true));
    EXPECT_TRUE(DataStream::makeFilter("LZW", memoryStream(""), PdfValue())->isBinary(false));
    EXPECT_TRUE(DataStream::makeFilter("RL", memoryStream(""), PdfValue())->isBinary(false));
    ErrorCapture errors;
    EXPECT_FALSE(DataStream::makeFilter("Bogus", memoryStream(""), PdfValue())->isBinary(true));
}

// --- addFilters and makeFilter ---

TEST(FilterChainTest, NoFilterGivesTheStreamBack) {
    RefPtr<DataStream> s = memoryStream("plain");
    DataStream* raw = s.get();
    ErrorCapture errors;
    EXPECT_EQ(DataStream::addFilters(std::move(s), dict("Length", integer(5))).get(), raw);
    EXPECT_TRUE(errors.empty());
}

TEST(FilterChainTest, FilterOfAnotherKindIsReportedAndIgnored) {
    RefPtr<DataStream> s = memoryStream("plain");
    DataStream* raw = s.get();
    ErrorCapture errors;
    EXPECT_EQ(DataStream::addFilters(std::move(s), dict("Filter", integer(3))).get(), raw);
    EXPECT_EQ(errors.count(), 1u);
}

TEST(FilterChainTest, ArraysApplyInOrderWithTheirParameters) {
    // Hex of run-length data: 02 'a' 'b' 'c' FE 'x' 80.
    RefPtr<DataStream> s =
        DataStream::addFilters(memoryStream("02616263FE7880>"),
                               dict("Filter", array(name("ASCIIHexDecode"), name("RunLengthDecode")),
                                    "DecodeParms", array(nullValue(), nullValue())));
    EXPECT_EQ(s->getKind(), DataStream::kRunLengthKind);
    EXPECT_EQ(readAll(s.get()), "abcxxx");
}

TEST(FilterChainTest, ShortKeysAreUsedWhenTheLongOnesAreMissing) {
    RefPtr<DataStream> s = DataStream::addFilters(memoryStream("6869>"), dict("F", name("AHx")));
    EXPECT_EQ(readAll(s.get()), "hi");
}

TEST(FilterChainTest, ABadArrayElementEmptiesTheStreamButLaterFiltersStillApply) {
    ErrorCapture errors;
    RefPtr<DataStream> s = DataStream::addFilters(
        memoryStream("6869>"), dict("Filter", array(name("AHx"), integer(7), name("A85"))));
    EXPECT_EQ(s->getKind(), DataStream::kBase85Kind);
    EXPECT_EQ(s->getChainedSource()->getKind(), DataStream::kOtherKind);
    EXPECT_EQ(readAll(s.get()), "");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(FilterChainTest, ParameterArrayShorterThanFiltersLeavesDefaults) {
    // The LZW codes of the bytes 10 20 30 1 1 1; with a TIFF predictor over
    // 3 colours and 2 columns they decode to 10 20 30 11 21 31.
    const std::string packed = packCodes9({256, 10, 20, 30, 1, 1, 1, 257});
    RefPtr<DataStream> s = DataStream::addFilters(
        memoryStream(packed),
        dict("Filter", array(name("LZWDecode")), "DecodeParms",
             array(dict("Predictor", integer(2), "Colors", integer(3), "Columns", integer(2)))));
    EXPECT_EQ(readAll(s.get()), std::string("\x0a\x14\x1e\x0b\x15\x1f", 6));

    RefPtr<DataStream> t =
        DataStream::addFilters(memoryStream(packed), dict("Filter", array(name("LZW")), "DP", emptyArray()));
    EXPECT_EQ(readAll(t.get()), std::string("\x0a\x14\x1e\x01\x01\x01", 6));
}

TEST(FilterChainTest, ParameterOfAWrongKindKeepsItsDefault) {
    PdfValue real;
    real.initReal(2.0);
    // Same LZW data as above; Predictor 2.0 is not an integer, so no
    // predictor runs.
    const std::string packed = packCodes9({256, 10, 20, 30, 1, 1, 1, 257});
    RefPtr<DataStream> s = DataStream::makeFilter(
        "LZW", memoryStream(packed),
        dict("Predictor", std::move(real), "Colors", integer(3), "Columns", integer(2)));
    EXPECT_EQ(readAll(s.get()), std::string("\x0a\x14\x1e\x01\x01\x01", 6));
}

TEST(FilterChainTest, UnknownFilterGivesAnEmptyStreamAndAReport) {
    ErrorCapture errors;
    RefPtr<DataStream> s = DataStream::addFilters(memoryStream("data"), dict("Filter", name("Crypt")));
    EXPECT_EQ(s->getKind(), DataStream::kOtherKind);
    EXPECT_EQ(readAll(s.get()), "");
    EXPECT_FALSE(s->getPrintFilter(3, ""));
    ASSERT_EQ(errors.count(), 1u);
    EXPECT_TRUE(errors.contains("Crypt"));
}

TEST(FilterChainTest, FaxParametersReachTheDecoder) {
    const auto boolean = [](bool b) {
        PdfValue v;
        v.initBool(b);
        return v;
    };
    RefPtr<DataStream> s = DataStream::makeFilter(
        "CCF", memoryStream(""),
        dict("K", integer(-1), "EndOfLine", boolean(true), "EncodedByteAlign", boolean(true), "Columns",
             integer(40), "Rows", integer(3), "EndOfBlock", boolean(false), "BlackIs1", boolean(true)));
    std::unique_ptr<DynString> text = s->getPrintFilter(2, "");
    ASSERT_TRUE(text);
    EXPECT_STREQ(text->getCString(),
                 "<< /K -1 /EndOfLine true /EncodedByteAlign true /Columns 40 /Rows 3 /EndOfBlock false "
                 "/BlackIs1 true >> /CCITTFaxDecode filter\n");
}

TEST(FilterChainTest, EveryNameAndAbbreviationMakesItsDecoder) {
    const struct {
        const char* name;
        int kind;
    } cases[] = {{"ASCIIHexDecode", DataStream::kHexKind},
                 {"AHx", DataStream::kHexKind},
                 {"ASCII85Decode", DataStream::kBase85Kind},
                 {"A85", DataStream::kBase85Kind},
                 {"LZWDecode", DataStream::kLzwKind},
                 {"LZW", DataStream::kLzwKind},
                 {"RunLengthDecode", DataStream::kRunLengthKind},
                 {"RL", DataStream::kRunLengthKind},
                 {"FlateDecode", DataStream::kInflateKind},
                 {"Fl", DataStream::kInflateKind},
                 {"DCTDecode", DataStream::kDctKind},
                 {"DCT", DataStream::kDctKind},
                 {"JBIG2Decode", DataStream::kJbig2Kind},
                 {"JPXDecode", DataStream::kJpeg2000Kind},
                 {"CCITTFaxDecode", DataStream::kFaxKind},
                 {"CCF", DataStream::kFaxKind}};
    ErrorCapture errors;
    for (const auto& c : cases) {
        EXPECT_EQ(DataStream::makeFilter(c.name, memoryStream(""), PdfValue())->getKind(), c.kind) << c.name;
    }
    EXPECT_TRUE(errors.empty());
    // Names compare as exact bytes.
    EXPECT_EQ(DataStream::makeFilter("ahx", memoryStream(""), PdfValue())->getKind(), DataStream::kOtherKind);
}

TEST(GetBlockTest, BlocksReadWhatGetCharReads) {
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes.push_back(static_cast<char>(i * 7 + i / 256));
    // The memory source copies; a stream without its own getBlock loops
    // over getChar, and its raw bytes over readRawByte.
    RefPtr<DataStream> memory = test::memoryStream(bytes);
    test::RawBytesStream raw(bytes);
    for (DataStream* stream : {memory.get(), static_cast<DataStream*>(&raw)}) {
        for (const std::vector<int>& sizes : {std::vector<int>{1}, {7, 1000, 3}, {6000}, {5000}}) {
            bool full = false;
            EXPECT_EQ(test::readAllInBlocks(stream, sizes, &full), bytes);
            EXPECT_TRUE(full);
        }
        stream->reset();
        uint8_t two[2];
        EXPECT_EQ(stream->getBlock(two, 0), 0);
        EXPECT_EQ(stream->getBlock(two, 2), 2);
        EXPECT_EQ(stream->getChar(), static_cast<unsigned char>(bytes[2]));
    }
    raw.reset();
    std::vector<uint8_t> all(6000);
    EXPECT_EQ(raw.readRawBlock(all.data(), 6000), 5000);
    EXPECT_EQ(std::string(all.begin(), all.begin() + 5000), bytes);
    EXPECT_EQ(raw.readRawBlock(all.data(), 10), 0);
}

}  // namespace
}  // namespace rendova
