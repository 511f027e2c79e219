#include "engine/core/ArithDecoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/engine/core/MqEncoder.h"
#include "tests/engine/core/StreamTestHelpers.h"

namespace rendova {
namespace {

using test::memoryStream;
using test::MqEncoder;

std::string hexBytes(const char* hex) {
    std::string out;
    for (const char* p = hex; p[0] && p[1];) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        out.push_back(char(std::stoi(std::string(p, 2), nullptr, 16)));
        p += 2;
    }
    return out;
}

// A random decision sequence over a few contexts, skewed so that long runs
// (and with them 0xFF bytes and stuffing) appear.
struct Decisions {
    std::vector<uint32_t> contexts;
    std::vector<int> bits;
};

Decisions randomDecisions(unsigned seed, int count, int contextCount) {
    std::mt19937 rng(seed);
    Decisions d;
    for (int i = 0; i < count; ++i) {
        const uint32_t cx = rng() % uint32_t(contextCount);
        d.contexts.push_back(cx);
        // Context 0 is nearly always 0, the others fair.
        d.bits.push_back(cx == 0 ? (rng() % 50 == 0) : int(rng() & 1));
    }
    return d;
}

std::string encode(const Decisions& d, int contextCount) {
    MqEncoder enc;
    MqEncoder::Contexts cx(size_t(contextCount), 0);
    for (size_t i = 0; i < d.bits.size(); ++i)
        enc.encodeBit(cx, d.contexts[i], d.bits[i]);
    return enc.finish();
}

TEST(ArithDecoder, AnnexTestSequenceEncodesAndDecodes) {
    const std::string input = hexBytes("00020051000000C0035287 2AAAAAAAAA82C02000FCD79EF6BF7FED904F46A3BF");
    const std::string coded = hexBytes("84C73BFCE1A14304022000 00410DBB86F4317FFF88FF37471ADB6ADFFFAC");
    MqEncoder enc;
    MqEncoder::Contexts cx(1, 0);
    for (unsigned char byte : input)
        for (int i = 7; i >= 0; --i)
            enc.encodeBit(cx, 0, (byte >> i) & 1);
    EXPECT_EQ(enc.finish(), coded);

    RefPtr<DataStream> stream = memoryStream(coded);
    stream->reset();
    ArithDecoder dec;
    ArithDecoderStats stats(1);
    dec.setStream(stream.get());
    dec.start();
    std::string decoded;
    for (size_t n = 0; n < input.size(); ++n) {
        int byte = 0;
        for (int i = 0; i < 8; ++i)
            byte = (byte << 1) | dec.decodeBit(0, &stats);
        decoded.push_back(char(byte));
    }
    EXPECT_EQ(decoded, input);
}

TEST(ArithDecoder, RoundTripsThroughStuffingAndStallsAtTheMarker) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const Decisions d = randomDecisions(seed, 4000, 3);
        const std::string coded = encode(d, 3);
        bool stuffed = false;
        for (size_t i = 0; i + 1 < coded.size(); ++i)
            stuffed |= uint8_t(coded[i]) == 0xFF && uint8_t(coded[i + 1]) < 0x90;
        // Bytes after the marker must never reach the register.
        RefPtr<DataStream> stream = memoryStream(coded + "junk after the marker");
        stream->reset();
        ArithDecoder dec;
        ArithDecoderStats stats(3);
        dec.setStream(stream.get());
        dec.start();
        int mismatches = 0;
        for (size_t i = 0; i < d.bits.size(); ++i)
            mismatches += dec.decodeBit(d.contexts[i], &stats) != d.bits[i];
        EXPECT_EQ(mismatches, 0) << "seed " << seed << (stuffed ? " (stuffed)" : "");
        EXPECT_LE(stream->getPos(), int64_t(coded.size())) << "read past the marker, seed " << seed;
        EXPECT_TRUE(dec.pastData());
    }
}

// Runs of the more probable symbol taken at once give the decisions and the
// decoder state of one decodeBit call each: runs of every length, also past
// the end of the data.
TEST(ArithDecoder, MpsRunsDecodeAsSingleDecisions) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        // Context 0 carries long runs of 0, context 1 fair bits.
        Decisions d;
        std::mt19937 rng(seed);
        for (int i = 0; i < 60000; ++i) {
            const bool fair = rng() % 200 == 0;
            d.contexts.push_back(fair ? 1 : 0);
            d.bits.push_back(fair ? int(rng() & 1) : rng() % 3000 == 0);
        }
        const std::string coded = encode(d, 2);
        RefPtr<DataStream> stream = memoryStream(coded);
        stream->reset();
        ArithDecoder dec;
        ArithDecoderStats stats(2);
        dec.setStream(stream.get());
        dec.start();
        size_t i = 0, taken = 0;
        // 20% beyond the data, where the decoder is fed 1-bits.
        const size_t total = d.bits.size() * 6 / 5;
        std::vector<int> decoded;
        while (i < total) {
            if (i < d.bits.size() && d.contexts[i] == 0) {
                size_t same = 0;
                while (i + same < total && (i + same >= d.bits.size() || d.contexts[i + same] == 0))
                    ++same;
                const int run = dec.decodeMpsRun(0, &stats, int(std::min<size_t>(same, 1 + rng() % 5000)));
                for (int k = 0; k < run; ++k)
                    decoded.push_back(stats.contexts()[0] & 1);
                i += size_t(run);
                taken += size_t(run);
                if (run > 0)
                    continue;
            }
            decoded.push_back(dec.decodeBit(i < d.bits.size() ? d.contexts[i] : 0, &stats));
            ++i;
        }
        // The reference: every decision by itself.
        RefPtr<DataStream> again = memoryStream(coded);
        again->reset();
        ArithDecoder ref;
        ArithDecoderStats refStats(2);
        ref.setStream(again.get());
        ref.start();
        size_t mismatch = total;
        for (size_t k = 0; k < total && mismatch == total; ++k)
            if (ref.decodeBit(k < d.bits.size() ? d.contexts[k] : 0, &refStats) != decoded[k])
                mismatch = k;
        EXPECT_EQ(mismatch, total) << "seed " << seed;
        EXPECT_GT(taken, d.bits.size() / 2) << "seed " << seed;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(stats.contexts()), 2),
                  std::string(reinterpret_cast<char*>(refStats.contexts()), 2));
    }
}

// A segment read from a buffer decides as the same bytes read from a stream
// with that limit, through the end of the bytes and the 1-bits after it.
TEST(ArithDecoder, BufferDecidesAsALimitedStream) {
    for (unsigned seed = 11; seed <= 14; ++seed) {
        const Decisions d = randomDecisions(seed, 3000, 3);
        std::string coded = encode(d, 3);
        coded.resize(coded.size() * 3 / 4);  // cut: the tail decodes from 1-bits
        RefPtr<DataStream> stream = memoryStream(coded + "more bytes than the limit");
        stream->reset();
        ArithDecoder fromStream, fromBuffer;
        ArithDecoderStats streamStats(3), bufferStats(3);
        fromStream.setStream(stream.get(), int(coded.size()));
        fromBuffer.setBuffer(reinterpret_cast<const uint8_t*>(coded.data()), int(coded.size()));
        fromStream.start();
        fromBuffer.start();
        ArithDecoder::Registers r = fromBuffer.registers();
        int mismatches = 0;
        for (size_t i = 0; i < d.bits.size(); ++i)
            mismatches += fromStream.decodeBit(d.contexts[i], &streamStats) !=
                          fromBuffer.decodeBit(r, d.contexts[i], &bufferStats);
        fromBuffer.setRegisters(r);
        EXPECT_EQ(mismatches, 0) << "seed " << seed;
    }
}

// The one-piece decode, and the same stream given as two limited segments
// split at every byte: the second length is set as soon as the decoder has
// read ahead past the first, and every decision must agree.
TEST(ArithDecoder, StreamSplitAtEveryByteDecodesAsTheWhole) {
    const Decisions d = randomDecisions(7, 1500, 2);
    std::string coded = encode(d, 2);
    coded.resize(coded.size() - 2);  // without the marker, as segments of a code block come
    for (size_t split = 0; split <= coded.size(); ++split) {
        RefPtr<DataStream> stream = memoryStream(coded);
        stream->reset();
        ArithDecoder dec;
        ArithDecoderStats stats(2);
        dec.setStream(stream.get(), int(split));
        bool continued = false;
        dec.start();
        auto continueIfAhead = [&] {
            if (!continued && dec.getDataLength() < 0) {
                dec.setDataLength(int(coded.size() - split));
                continued = true;
            }
        };
        continueIfAhead();
        size_t first = d.bits.size();
        for (size_t i = 0; i < d.bits.size(); ++i) {
            if (dec.decodeBit(d.contexts[i], &stats) != d.bits[i]) {
                first = i;
                break;
            }
            continueIfAhead();
        }
        ASSERT_EQ(first, d.bits.size()) << "split at " << split;
    }
}

TEST(ArithDecoder, DecodeIntCoversEveryRangeBoundaryAndOutOfBand) {
    const std::vector<int64_t> values = {0,   1,    3,     4,      19,      20,         83,         84,
                                         339, 340,  4435,  4436,   -1,      -3,         -4,         -20,
                                         -84, -340, -4436, 100000, -100000, 2147483647, -2147483647};
    MqEncoder enc;
    MqEncoder::Contexts cx(512, 0);
    for (int64_t v : values)
        enc.encodeInt(cx, v);
    enc.encodeInt(cx, 0, true);
    enc.encodeIaid(cx, 0, 0);
    MqEncoder::Contexts idCx(1 << 6, 0);
    enc.encodeIaid(idCx, 5, 21);
    const std::string coded = enc.finish();

    RefPtr<DataStream> stream = memoryStream(coded);
    stream->reset();
    ArithDecoder dec;
    ArithDecoderStats stats(512);
    ArithDecoderStats idStats(1 << 6);
    dec.setStream(stream.get(), int(coded.size()));
    dec.start();
    for (int64_t v : values) {
        int got = 0;
        ASSERT_TRUE(dec.decodeInt(&got, &stats)) << v;
        EXPECT_EQ(got, v);
    }
    int got = 0;
    EXPECT_FALSE(dec.decodeInt(&got, &stats));
    EXPECT_EQ(dec.decodeIaid(0, &idStats), 0u);
    EXPECT_EQ(dec.decodeIaid(5, &idStats), 21u);
}

TEST(ArithDecoder, EmptySegmentStartsWithoutTouchingTheStream) {
    RefPtr<DataStream> stream = memoryStream("\x12\x34");
    stream->reset();
    ArithDecoder dec;
    dec.setStream(stream.get(), 0);
    dec.start();
    ArithDecoderStats stats(1);
    for (int i = 0; i < 100; ++i)
        dec.decodeBit(0, &stats);
    EXPECT_EQ(stream->getPos(), 0);
    EXPECT_TRUE(dec.pastData());
    dec.cleanup();
    EXPECT_EQ(stream->getPos(), 0);
}

TEST(ArithDecoderStats, CopyFromASmallerBlockCopiesOnlyItsContexts) {
    ArithDecoderStats small(4);
    ArithDecoderStats large(16);
    for (uint32_t i = 0; i < 4; ++i)
        small.setEntry(i, 5, 1);
    for (uint32_t i = 0; i < 16; ++i)
        large.setEntry(i, 2, 0);
    large.copyFrom(small);
    EXPECT_EQ(large.contexts()[3], (5 << 1) | 1);
    EXPECT_EQ(large.contexts()[4], 2 << 1);
    small.copyFrom(large);
    EXPECT_EQ(small.contexts()[0], (5 << 1) | 1);
    auto copy = large.copy();
    EXPECT_EQ(copy->getContextSize(), 16);
    EXPECT_EQ(copy->contexts()[15], 2 << 1);
    copy->reset();
    EXPECT_EQ(copy->contexts()[0], 0);
}

}  // namespace
}  // namespace rendova
