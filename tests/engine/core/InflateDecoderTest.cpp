#include "engine/core/InflateDecoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/core/MemorySource.h"
#include "engine/core/PdfValue.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ContentLikeText.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using Bytes = std::vector<uint8_t>;

// --- data and encoders ---

// Content, then incompressible bytes, a long run and content again: stored,
// literal-heavy and long-match stretches in one stream, well past the window.
Bytes mixedData() {
    Bytes data = test::contentLikeData(150000, 1);
    uint32_t r = 7;
    for (int i = 0; i < 40000; ++i)
        data.push_back(static_cast<uint8_t>(test::nextRandom(r)));
    data.insert(data.end(), 70000, 'x');
    Bytes more = test::contentLikeData(60000, 2);
    data.insert(data.end(), more.begin(), more.end());
    return data;
}

// Compresses pieces in order, with flush after every piece but the last
// (which finishes the stream) and, when levels is not empty, a level change
// before every piece.
Bytes zlibCompress(const std::vector<Bytes>& pieces, int level, int strategy = Z_DEFAULT_STRATEGY,
                   int flush = Z_NO_FLUSH, const std::vector<int>& levels = {}) {
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
    size_t total = 0;
    for (const Bytes& p : pieces)
        total += p.size();
    Bytes out(deflateBound(&zs, total) + 64 * pieces.size() + 1024);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (!levels.empty()) {
            EXPECT_EQ(deflateParams(&zs, levels[i], strategy), Z_OK);
        }
        zs.next_in = const_cast<Bytef*>(pieces[i].data());
        zs.avail_in = static_cast<uInt>(pieces[i].size());
        const bool last = i + 1 == pieces.size();
        const int rc = deflate(&zs, last ? Z_FINISH : flush);
        EXPECT_EQ(rc, last ? Z_STREAM_END : Z_OK);
        EXPECT_EQ(zs.avail_in, 0u);
    }
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Bytes zlibCompress(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY) {
    return zlibCompress(std::vector<Bytes>{data}, level, strategy);
}

// The reference decoder; empty when zlib rejects the stream.
Bytes zlibInflate(const Bytes& z, bool* ok = nullptr) {
    z_stream zs{};
    inflateInit(&zs);
    zs.next_in = const_cast<Bytef*>(z.data());
    zs.avail_in = static_cast<uInt>(z.size());
    Bytes out;
    uint8_t buffer[65536];
    int rc;
    do {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    } while (rc == Z_OK);
    inflateEnd(&zs);
    if (ok)
        *ok = rc == Z_STREAM_END;
    return out;
}

// The decoder reads z in place: keep it alive while the decoder is used.
RefPtr<InflateDecoder> makeDecoder(const Bytes& z, int predictor = 1, int columns = 1, int colors = 1,
                                   int bits = 8) {
    RefPtr<DataStream> source = RefPtr<MemorySource>::adopt(new MemorySource(
        reinterpret_cast<const char*>(z.data()), 0, static_cast<uint32_t>(z.size()), PdfValue()));
    return RefPtr<InflateDecoder>::adopt(
        new InflateDecoder(std::move(source), predictor, columns, colors, bits));
}

Bytes readAll(DataStream& stream) {
    Bytes out;
    for (int c; (c = stream.getChar()) != -1;)
        out.push_back(static_cast<uint8_t>(c));
    return out;
}

Bytes inflateOurs(const Bytes& z, int predictor = 1, int columns = 1, int colors = 1, int bits = 8) {
    RefPtr<InflateDecoder> decoder = makeDecoder(z, predictor, columns, colors, bits);
    decoder->reset();
    Bytes out = readAll(*decoder);
    decoder->close();
    return out;
}

// Writes a deflate bit stream: values least significant bit first, Huffman
// codes most significant bit first, as RFC 1951 packs them.
class BitWriter {
public:
    void bits(uint32_t value, int count) {
        for (int i = 0; i < count; ++i)
            bit((value >> i) & 1);
    }
    void code(uint32_t code, int length) {
        for (int i = length - 1; i >= 0; --i)
            bit((code >> i) & 1);
    }
    void align() {
        while (m_count != 0)
            bit(0);
    }
    void byte(uint8_t b) {
        align();
        m_bytes.push_back(b);
    }
    // RFC 1951 3.2.6 fixed codes.
    void fixedSymbol(int symbol) {
        if (symbol < 144)
            code(0x30 + symbol, 8);
        else if (symbol < 256)
            code(0x190 + symbol - 144, 9);
        else if (symbol < 280)
            code(symbol - 256, 7);
        else
            code(0xc0 + symbol - 280, 8);
    }
    void fixedLength(int length) {
        static const int kBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int kExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        int i = 28;
        while (kBase[i] > length)
            --i;
        fixedSymbol(257 + i);
        bits(length - kBase[i], kExtra[i]);
    }
    void fixedDistance(int distance) {
        static const int kBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        int i = 29;
        while (kBase[i] > distance)
            --i;
        code(i, 5);
        bits(distance - kBase[i], i < 4 ? 0 : i / 2 - 1);
    }
    Bytes finish() {
        align();
        return m_bytes;
    }

private:
    void bit(int b) {
        if (m_count == 0)
            m_bytes.push_back(0);
        m_bytes.back() |= static_cast<uint8_t>(b << m_count);
        m_count = (m_count + 1) & 7;
    }
    Bytes m_bytes;
    int m_count = 0;
};

// A zlib stream around raw deflate data: header 78 01 and, when the expected
// output is known, its Adler-32 (which zlib checks and we do not).
Bytes zlibWrap(const Bytes& deflate, const Bytes* expected = nullptr) {
    Bytes z = {0x78, 0x01};
    z.insert(z.end(), deflate.begin(), deflate.end());
    if (expected) {
        const uLong a =
            adler32(adler32(0, nullptr, 0), expected->data(), static_cast<uInt>(expected->size()));
        for (int shift = 24; shift >= 0; shift -= 8)
            z.push_back(static_cast<uint8_t>(a >> shift));
    }
    return z;
}

void expectRoundTrip(const Bytes& data, const Bytes& z) {
    test::ErrorCapture errors;
    const Bytes out = inflateOurs(z);
    ASSERT_EQ(out.size(), data.size());
    EXPECT_TRUE(out == data);
    EXPECT_TRUE(errors.empty()) << errors.reports().front().message;
}

// --- round trips through zlib ---

TEST(InflateDecoderRoundTrip, EveryLevel) {
    const Bytes data = mixedData();
    for (int level = 0; level <= 9; ++level) {
        SCOPED_TRACE(level);
        expectRoundTrip(data, zlibCompress(data, level));
    }
}

TEST(InflateDecoderRoundTrip, FixedHuffmanOnlyRleAndFilteredStrategies) {
    const Bytes data = mixedData();
    for (int strategy : {Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED}) {
        for (int level : {1, 6, 9}) {
            SCOPED_TRACE(strategy * 100 + level);
            expectRoundTrip(data, zlibCompress(data, level, strategy));
        }
    }
}

TEST(InflateDecoderRoundTrip, SyncAndFullFlushesMidStream) {
    const Bytes data = mixedData();
    // Uneven pieces put the flush points (empty stored blocks after a
    // compressed block) at many bit positions.
    std::vector<Bytes> pieces;
    size_t at = 0;
    for (size_t n = 1; at < data.size(); n = n * 3 + 7) {
        const size_t take = std::min(n, data.size() - at);
        pieces.emplace_back(data.begin() + at, data.begin() + at + take);
        at += take;
    }
    for (int flush : {Z_SYNC_FLUSH, Z_FULL_FLUSH}) {
        for (int level : {1, 6}) {
            SCOPED_TRACE(flush * 100 + level);
            expectRoundTrip(data, zlibCompress(pieces, level, Z_DEFAULT_STRATEGY, flush));
        }
    }
}

TEST(InflateDecoderRoundTrip, LevelChangeToStoredMidStream) {
    const Bytes data = mixedData();
    const size_t cuts[] = {0, 33333, 100001, 150000, 250000, data.size()};
    std::vector<Bytes> pieces;
    for (int i = 0; i + 1 < 6; ++i)
        pieces.emplace_back(data.begin() + cuts[i], data.begin() + cuts[i + 1]);
    expectRoundTrip(data, zlibCompress(pieces, 6, Z_DEFAULT_STRATEGY, Z_NO_FLUSH, {6, 0, 9, 0, 6}));
    expectRoundTrip(data, zlibCompress(pieces, 6, Z_DEFAULT_STRATEGY, Z_NO_FLUSH, {6, 0, 0, 1, 0}));
}

TEST(InflateDecoderRoundTrip, SmallAndWindowSizedInputs) {
    const Bytes text = test::contentLikeData(140000, 3);
    for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(257), size_t(32767), size_t(32768),
                        size_t(32769), size_t(65536 + 100), size_t(131072)}) {
        SCOPED_TRACE(size);
        const Bytes data(text.begin(), text.begin() + size);
        expectRoundTrip(data, zlibCompress(data, 6));
        expectRoundTrip(data, zlibCompress(data, 0));
    }
}

// --- hand-made streams ---

// A dynamic block whose end-of-block code is 1 bit long while its longest
// code has 15 bits: the decoder holds whole bytes after reading it, and they
// belong to the stored block that follows. literals: how many 'A's first.
Bytes dynamicThenStored(int literals, const Bytes& stored) {
    BitWriter w;
    w.bits(0, 1);   // not last
    w.bits(2, 2);   // dynamic
    w.bits(0, 5);   // HLIT 257
    w.bits(0, 5);   // HDIST 1
    w.bits(15, 4);  // HCLEN 19
    // Code length code: symbols 1-15 and 18 of 4 bits each, the rest unused.
    static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (int s : kOrder)
        w.bits((s == 0 || s == 16 || s == 17) ? 0 : 4, 3);
    // Canonical codes: symbol s (1-15) is s - 1, symbol 18 is 15.
    auto len = [&](int l) { w.code(l - 1, 4); };
    auto zeros = [&](int n) {
        w.code(15, 4);
        w.bits(n - 11, 7);
    };
    zeros(65);  // 0-64
    for (int l = 2; l <= 15; ++l)
        len(l);  // 'A'-'N': 2 to 15 bits
    len(15);     // 'O': 15 bits
    zeros(138);  // 80-217
    zeros(38);   // 218-255
    len(1);      // 256: 1 bit
    len(1);      // distance 0: 1 bit
    // Literal codes: 256 is 0, 'A' is 10, 'B' 110 ...
    for (int i = 0; i < literals; ++i)
        w.code(2, 2);
    w.code(0, 1);  // end of block
    w.bits(1, 1);  // last
    w.bits(0, 2);  // stored
    w.align();
    w.byte(static_cast<uint8_t>(stored.size()));
    w.byte(static_cast<uint8_t>(stored.size() >> 8));
    w.byte(static_cast<uint8_t>(~stored.size()));
    w.byte(static_cast<uint8_t>(~stored.size() >> 8));
    for (uint8_t b : stored)
        w.byte(b);
    return w.finish();
}

TEST(InflateDecoderBlocks, StoredBlockAfterDynamicBlockKeepsHeldBytes) {
    const Bytes stored = {'s', 't', 'o', 'r', 'e', 'd', '!'};
    for (int literals = 0; literals <= 8; ++literals) {
        SCOPED_TRACE(literals);
        Bytes expected(literals, 'A');
        expected.insert(expected.end(), stored.begin(), stored.end());
        const Bytes z = zlibWrap(dynamicThenStored(literals, stored), &expected);
        bool ok = false;
        ASSERT_EQ(zlibInflate(z, &ok), expected);  // the stream is valid
        ASSERT_TRUE(ok);
        expectRoundTrip(expected, z);
    }
}

TEST(InflateDecoderBlocks, EmptyStoredBlockThenFixedBlock) {
    BitWriter w;
    w.bits(0, 3);  // stored, not last
    w.byte(0);
    w.byte(0);
    w.byte(0xff);
    w.byte(0xff);
    w.bits(1, 1);
    w.bits(1, 2);  // fixed, last
    w.fixedSymbol('h');
    w.fixedSymbol('i');
    w.fixedSymbol(256);
    const Bytes expected = {'h', 'i'};
    expectRoundTrip(expected, zlibWrap(w.finish()));
}

TEST(InflateDecoderBlocks, LongestMatchesAndCodes286And287) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    w.fixedSymbol('a');
    w.fixedSymbol('b');
    w.fixedSymbol(285);  // length 258
    w.fixedDistance(2);
    w.fixedSymbol(286);  // never made by an encoder; read as 258
    w.fixedDistance(1);
    w.fixedSymbol(287);
    w.fixedDistance(1);
    w.fixedSymbol(256);
    Bytes expected = {'a', 'b'};
    for (int i = 0; i < 258; ++i)
        expected.push_back(i % 2 ? 'b' : 'a');
    expected.insert(expected.end(), 2 * 258, 'b');
    expectRoundTrip(expected, zlibWrap(w.finish()));
}

TEST(InflateDecoderBlocks, DistanceOneRepeatsTheLastByte) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    w.fixedSymbol('a');
    w.fixedSymbol('z');
    w.fixedLength(10);
    w.fixedDistance(1);
    w.fixedSymbol(256);
    Bytes expected = {'a'};
    expected.insert(expected.end(), 11, 'z');
    expectRoundTrip(expected, zlibWrap(w.finish()));
}

TEST(InflateDecoderBlocks, MatchesReachBackTheWholeWindowAcrossItsEnd) {
    // Literals fill the window once and then up to a few bytes before its
    // end; matches of distance 32768 and 258 bytes then run across the end
    // of the ring.
    for (int lead : {32768, 32768 + 1, 65536 - 100, 65536 - 3}) {
        SCOPED_TRACE(lead);
        Bytes expected;
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        uint32_t r = 5;
        for (int i = 0; i < lead; ++i) {
            const int c = test::nextRandom(r) % 256;
            w.fixedSymbol(c);
            expected.push_back(static_cast<uint8_t>(c));
        }
        for (int distance : {32768, 32768, 258, 1, 32767}) {
            w.fixedLength(258);
            w.fixedDistance(distance);
            for (int i = 0; i < 258; ++i)
                expected.push_back(expected[expected.size() - distance]);
        }
        w.fixedSymbol(256);
        const Bytes z = zlibWrap(w.finish(), &expected);
        bool ok = false;
        ASSERT_EQ(zlibInflate(z, &ok), expected);
        ASSERT_TRUE(ok);
        expectRoundTrip(expected, z);
    }
}

// --- header defects ---

TEST(InflateDecoderHeader, EmptyOrOneByteSourceGivesNoDataWithoutError) {
    test::ErrorCapture errors;
    EXPECT_TRUE(inflateOurs({}).empty());
    EXPECT_TRUE(inflateOurs({0x78}).empty());
    EXPECT_TRUE(errors.empty());
}

TEST(InflateDecoderHeader, DefectsGiveAnEmptyStreamWithOneReport) {
    const Bytes good = zlibCompress(test::contentLikeData(1000, 4), 6);
    Bytes method7 = good;
    method7[0] = 0x77;
    method7[1] = static_cast<uint8_t>(31 - (0x7700 % 31));  // a valid check, so only the method is wrong
    Bytes badCheck = good;
    badCheck[1] ^= 1;
    Bytes presetDictionary = good;
    presetDictionary[1] = 0x20;
    presetDictionary[1] = static_cast<uint8_t>(0x20 + (31 - (0x7820 % 31)));
    for (const Bytes& z : {method7, badCheck, presetDictionary}) {
        test::ErrorCapture errors;
        RefPtr<InflateDecoder> decoder = makeDecoder(z);
        decoder->reset();
        EXPECT_EQ(decoder->peekChar(), -1);
        EXPECT_EQ(decoder->getChar(), -1);
        EXPECT_EQ(errors.count(), 1u);
    }
}

// --- defects inside the data ---

TEST(InflateDecoderDefects, MissingEndOfBlockDeliversTheBytesThenReports) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(1, 2);
    for (char c : std::string("partial"))
        w.fixedSymbol(c);
    test::ErrorCapture errors;
    const Bytes out = inflateOurs(zlibWrap(w.finish()));
    EXPECT_EQ(std::string(out.begin(), out.end()), "partial");
    EXPECT_EQ(errors.count(), 1u);
}

TEST(InflateDecoderDefects, InvalidDistanceCodeAndBlockTypeEndTheData) {
    {
        BitWriter w;
        w.bits(1, 1);
        w.bits(1, 2);
        w.fixedSymbol('a');
        w.fixedSymbol(257);
        w.code(30, 5);  // distance code 30 does not exist
        w.fixedSymbol('b');
        w.fixedSymbol(256);
        test::ErrorCapture errors;
        EXPECT_EQ(inflateOurs(zlibWrap(w.finish())), Bytes{'a'});
        EXPECT_EQ(errors.count(), 1u);
    }
    {
        BitWriter w;
        w.bits(0, 1);
        w.bits(1, 2);
        w.fixedSymbol('a');
        w.fixedSymbol(256);
        w.bits(1, 1);
        w.bits(3, 2);  // block type 3 is reserved
        test::ErrorCapture errors;
        EXPECT_EQ(inflateOurs(zlibWrap(w.finish())), Bytes{'a'});
        EXPECT_EQ(errors.count(), 1u);
    }
}

TEST(InflateDecoderDefects, OverSubscribedCodeIsReported) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(0, 5);
    w.bits(0, 5);
    w.bits(0, 4);  // four code length code lengths: 16, 17, 18, 0
    for (int i = 0; i < 4; ++i)
        w.bits(1, 3);  // four codes of 1 bit: two too many
    for (int i = 0; i < 20; ++i)
        w.bits(0, 1);
    test::ErrorCapture errors;
    EXPECT_TRUE(inflateOurs(zlibWrap(w.finish())).empty());
    EXPECT_EQ(errors.count(), 1u);
}

TEST(InflateDecoderDefects, StoredLengthMismatchIsReportedAndTheBlockStillRead) {
    BitWriter w;
    w.bits(1, 1);
    w.bits(0, 2);
    w.byte(3);
    w.byte(0);
    w.byte(0x12);  // not the complement of 3
    w.byte(0x34);
    w.byte('a');
    w.byte('b');
    w.byte('c');
    test::ErrorCapture errors;
    EXPECT_EQ(inflateOurs(zlibWrap(w.finish())), (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(errors.count(), 1u);
}

TEST(InflateDecoderDefects, TruncatedStreamsDeliverAPrefixAndReport) {
    const Bytes data = mixedData();
    for (int level : {0, 1, 6}) {
        const Bytes z = zlibCompress(data, level);
        for (size_t cut = 0; cut < z.size(); cut += 1 + cut / 64) {
            SCOPED_TRACE(level * 1000000 + cut);
            test::ErrorCapture errors;
            const Bytes out = inflateOurs(Bytes(z.begin(), z.begin() + cut));
            ASSERT_LE(out.size(), data.size());
            ASSERT_TRUE(std::equal(out.begin(), out.end(), data.begin()));
            // Only the two header bytes and the trailer may go missing
            // without a report.
            if (cut >= 2 && out.size() < data.size()) {
                EXPECT_EQ(errors.count(), 1u);
            }
            if (cut < 2) {
                EXPECT_TRUE(out.empty() && errors.empty());
            }
        }
    }
}

TEST(InflateDecoderDefects, CorruptStreamsAgreeWithZlibUpToTheDamage) {
    const Bytes data = test::contentLikeData(50000, 9);
    for (int level : {1, 6, 9}) {
        const Bytes z = zlibCompress(data, level, level == 9 ? Z_FIXED : Z_DEFAULT_STRATEGY);
        uint32_t r = 11 + level;
        for (int trial = 0; trial < 300; ++trial) {
            SCOPED_TRACE(level * 1000 + trial);
            Bytes bad = z;
            const int flips = 1 + test::nextRandom(r) % 4;
            for (int i = 0; i < flips; ++i)
                bad[2 + test::nextRandom(r) % (bad.size() - 2)] ^= 1 << (test::nextRandom(r) % 8);
            test::ErrorCapture errors;
            const Bytes out = inflateOurs(bad);
            const Bytes reference = zlibInflate(bad);
            // Both decoders read the same bytes until one of them finds the
            // damage; where zlib decodes further, ours has reported a defect.
            const size_t common = std::min(out.size(), reference.size());
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + common, reference.begin()));
            if (out.size() < reference.size()) {
                EXPECT_FALSE(errors.empty());
            }
        }
    }
}

// --- the stream interface ---
TEST(InflateDecoderStream, ReadsNoFurtherThanTheZlibTrailer) {
    // Inline image data is followed directly by the content that comes after
    // it; the decoder must leave those bytes to the content reader.
    const Bytes data = test::contentLikeData(70000, 14);
    std::vector<Bytes> streams;
    for (int level : {0, 1, 6, 9})
        streams.push_back(zlibCompress(data, level));
    streams.push_back(zlibCompress(data, 6, Z_FIXED));
    streams.push_back(zlibCompress(Bytes{}, 6));
    for (const Bytes& z : streams) {
        Bytes followed = z;
        for (char c : std::string("\nEI Q\n"))
            followed.push_back(static_cast<uint8_t>(c));
        RefPtr<InflateDecoder> decoder = makeDecoder(followed);
        decoder->reset();
        readAll(*decoder);
        EXPECT_LE(decoder->getChainedSource()->getPos(), static_cast<int64_t>(z.size()));
    }
}

TEST(InflateDecoderStream, ResetRereadsAndPeekDoesNotConsume) {
    const Bytes data = test::contentLikeData(100000, 12);
    const Bytes z = zlibCompress(data, 6);
    RefPtr<InflateDecoder> decoder = makeDecoder(z);
    decoder->reset();
    for (int i = 0; i < 50000; ++i)
        decoder->getChar();
    decoder->reset();
    EXPECT_EQ(decoder->peekChar(), data[0]);
    EXPECT_EQ(decoder->peekChar(), data[0]);
    EXPECT_EQ(readAll(*decoder), data);
    EXPECT_EQ(decoder->getChar(), -1);
    EXPECT_EQ(decoder->getKind(), DataStream::kInflateKind);
}

// PNG Up rows of 4 bytes: the tag 2 and the differences to the row above.
Bytes pngUpRows(const Bytes& image, int columns) {
    Bytes coded;
    for (size_t row = 0; row * columns < image.size(); ++row) {
        coded.push_back(2);
        for (int i = 0; i < columns; ++i) {
            const size_t at = row * columns + i;
            coded.push_back(static_cast<uint8_t>(image[at] - (row ? image[at - columns] : 0)));
        }
    }
    return coded;
}

TEST(InflateDecoderStream, PredictorRowsAndResetRestartsThePredictor) {
    Bytes image;
    for (int i = 0; i < 4 * 300; ++i)
        image.push_back(static_cast<uint8_t>(i * 7 + i / 4));
    const Bytes coded = pngUpRows(image, 4);
    ASSERT_EQ(coded.size(), 5u * 300);
    const Bytes z = zlibCompress(coded, 6);
    RefPtr<InflateDecoder> decoder = makeDecoder(z, 12, 4, 1, 8);
    decoder->reset();
    EXPECT_EQ(readAll(*decoder), image);
    // A second reading starts again from a zero upper row and the first row.
    decoder->reset();
    for (int i = 0; i < 10; ++i)
        decoder->getChar();
    decoder->reset();
    EXPECT_EQ(readAll(*decoder), image);
    EXPECT_EQ(decoder->getPrintFilter(3, " "), nullptr);
}

TEST(InflateDecoderStream, BlocksReadWhatGetCharReads) {
    // Across many decoding steps and the window's end, with and without a
    // predictor (PNG Up rows of 4 bytes).
    const Bytes data = test::contentLikeData(150000, 14);
    Bytes image;
    for (int i = 0; i < 4 * 3000; ++i)
        image.push_back(static_cast<uint8_t>(i * 7 + i / 4));
    const Bytes plain = zlibCompress(data, 6);
    const Bytes predicted = zlibCompress(pngUpRows(image, 4), 6);
    for (const std::vector<int>& sizes : {std::vector<int>{1}, {3, 4096, 70000, 5}, {200000}}) {
        bool full = false;
        RefPtr<InflateDecoder> decoder = makeDecoder(plain);
        EXPECT_EQ(test::bytesOf(data), test::readAllInBlocks(decoder.get(), sizes, &full));
        EXPECT_TRUE(full);
        RefPtr<InflateDecoder> rows = makeDecoder(predicted, 12, 4, 1, 8);
        EXPECT_EQ(test::bytesOf(image), test::readAllInBlocks(rows.get(), sizes, &full));
        EXPECT_TRUE(full);
    }
    // Raw blocks bypass the predictor, as readRawByte does.
    const Bytes coded = {2, 1, 2, 3, 4, 2, 1, 1, 1, 1};
    const Bytes z = zlibCompress(coded, 6);
    RefPtr<InflateDecoder> decoder = makeDecoder(z, 12, 4, 1, 8);
    decoder->reset();
    uint8_t raw[16];
    ASSERT_EQ(decoder->readRawBlock(raw, 16), 10);
    EXPECT_EQ(Bytes(raw, raw + 10), coded);
}

TEST(InflateDecoderStream, ReadRawByteBypassesThePredictor) {
    const Bytes coded = {2, 1, 2, 3, 4, 2, 1, 1, 1, 1};
    const Bytes z = zlibCompress(coded, 6);
    RefPtr<InflateDecoder> decoder = makeDecoder(z, 12, 4, 1, 8);
    decoder->reset();
    Bytes raw;
    for (int c; (c = decoder->readRawByte()) != -1;)
        raw.push_back(static_cast<uint8_t>(c));
    EXPECT_EQ(raw, coded);
}

TEST(InflateDecoderStream, OutOfRangePredictorPassesBytesThrough) {
    const Bytes data = test::contentLikeData(3000, 13);
    EXPECT_EQ(inflateOurs(zlibCompress(data, 6), 12, 4, 33, 8), data);
    EXPECT_EQ(inflateOurs(zlibCompress(data, 6), 12, 4, 1, 17), data);
}

TEST(InflateDecoderStream, PrintFilterNeedsLevelThree) {
    const Bytes z = zlibCompress(Bytes{1, 2, 3}, 6);
    RefPtr<InflateDecoder> decoder = makeDecoder(z);
    EXPECT_EQ(decoder->getPrintFilter(2, " "), nullptr);
    std::unique_ptr<DynString> text = decoder->getPrintFilter(3, " ");
    ASSERT_NE(text, nullptr);
    EXPECT_GT(text->getLength(), 1);
}

}  // namespace
}  // namespace rendova
