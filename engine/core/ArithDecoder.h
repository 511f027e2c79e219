#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <memory>

namespace rendova {

class DataStream;

// The adaptive state of a set of contexts of the MQ decoder: one byte per
// context, (probability state index << 1) | more probable symbol, 0 being the
// initial state. Owns its bytes; one thread at a time; throws
// MemoryException only when the bytes cannot be allocated.
class ArithDecoderStats {
public:
    explicit ArithDecoderStats(int contextSize);
    ~ArithDecoderStats();
    ArithDecoderStats(const ArithDecoderStats&) = delete;
    ArithDecoderStats& operator=(const ArithDecoderStats&) = delete;

    std::unique_ptr<ArithDecoderStats> copy() const;
    void reset();
    // Copies as many contexts as both blocks hold, so that a smaller source
    // never reads past its end.
    void copyFrom(const ArithDecoderStats& other);
    // Presets one context (index 0-46 into the probability table).
    void setEntry(uint32_t context, int index, int mps);
    int getContextSize() const { return m_contextSize; }
    uint8_t* contexts() { return reinterpret_cast<uint8_t*>(m_contexts); }

private:
    friend class ArithDecoder;
    // Not a character type: stores to a context cannot alias the decoder's
    // registers, which then stay in registers across decisions.
    enum class Context : uint8_t {};

    int m_contextSize;
    Context* m_contexts;
};

// The MQ arithmetic decoder shared by the JBIG2 and JPEG 2000 decoders, with
// the integer and symbol-id procedures of JBIG2 on top of single decisions.
// The code register keeps the complement of the code bits, so that the 0xFF
// bytes fed after the end of the data (or at a marker) add nothing.
//
// Reads a stream that it does not own, either to its end or limited to a
// data length; a limited segment may be continued by a following one with
// setDataLength, which replaces the stand-in 0xFF bytes already read ahead
// by the true bytes of the continuation. Never fails: past the data it
// decodes from 1-bits, and callers bound their loops. One thread at a time.
class ArithDecoder {
public:
    ArithDecoder() = default;
    ~ArithDecoder() { cleanup(); }
    ArithDecoder(const ArithDecoder&) = delete;
    ArithDecoder& operator=(const ArithDecoder&) = delete;

    // Reads stream to its end.
    void setStream(DataStream* stream) {
        m_stream = stream;
        m_buffer = nullptr;
        m_dataLength = 0;
        m_limitStream = false;
    }
    // Reads at most dataLength bytes of stream.
    void setStream(DataStream* stream, int dataLength) {
        m_stream = stream;
        m_buffer = nullptr;
        m_dataLength = dataLength;
        m_limitStream = true;
    }
    // Reads the dataLength bytes at data, which the caller keeps while the
    // decoder reads them, as a limited segment: the same decisions as a
    // stream over those bytes, without a call per byte.
    void setBuffer(const uint8_t* data, int dataLength) {
        m_stream = nullptr;
        m_buffer = data;
        m_dataLength = dataLength;
        m_limitStream = true;
    }
    void start();
    // Continues the code stream with a further limited segment of length
    // bytes, read from where the stream stands.
    void setDataLength(int length);
    // Consumes the rest of a limited segment.
    void cleanup();
    // Bytes left in the limited segment; negative once it read ahead past it.
    int getDataLength() const { return m_dataLength; }
    // Whether the decoder is fed 1-bits in place of data (past the end of
    // the data or at a marker). Only a few dozen more bits of true data
    // remain in the register then, so callers can bound the decisions they
    // still make from it.
    bool pastData() const { return m_padding || m_atMarker; }

    // The code registers, for a loop of many decisions that keeps them in
    // local variables: the decoder's own fields would be reloaded after
    // every store that the loop makes through an int pointer. Take them with
    // registers(), decide with decodeBit(registers, ...) and give them back
    // with setRegisters() before any other call.
    struct Registers {
        uint32_t a;
        uint32_t c;
        int ct;
    };
    Registers registers() const { return {m_a, m_c, m_ct}; }
    void setRegisters(const Registers& r) {
        m_a = r.a;
        m_c = r.c;
        m_ct = r.ct;
    }

    int decodeBit(uint32_t context, ArithDecoderStats* stats) {
        Registers r = registers();
        const int bit = decodeBit(r, context, stats);
        setRegisters(r);
        return bit;
    }

    // Always inlined: the registers then stay in the caller's registers.
    [[gnu::always_inline]] int decodeBit(Registers& r, uint32_t context, ArithDecoderStats* stats) {
        assert(context < uint32_t(stats->getContextSize()));
        ArithDecoderStats::Context& cx = stats->m_contexts[context];
        const int index = int(cx) >> 1;
        int bit = int(cx) & 1;
        const uint32_t qe = kQeTable[index].qe;
        r.a -= qe;
        if (r.c < r.a) {
            if (r.a & 0x80000000u)
                return bit;
            // The more probable path after an interval exchange.
            if (r.a < qe) {
                bit ^= 1;
                cx = ArithDecoderStats::Context((kQeTable[index].nlps << 1) |
                                                (kQeTable[index].switchFlag ? bit : bit ^ 1));
            } else {
                cx = ArithDecoderStats::Context((kQeTable[index].nmps << 1) | bit);
            }
        } else {
            r.c -= r.a;
            if (r.a < qe) {
                cx = ArithDecoderStats::Context((kQeTable[index].nmps << 1) | bit);
            } else {
                bit ^= 1;
                cx = ArithDecoderStats::Context((kQeTable[index].nlps << 1) |
                                                (kQeTable[index].switchFlag ? bit : bit ^ 1));
            }
            r.a = qe;
        }
        renormalize(r);
        return bit;
    }

    // One integer of the IAx procedures: false for the out-of-band value.
    bool decodeInt(int* value, ArithDecoderStats* stats);
    // A symbol id of codeLength bits (the IAID procedure).
    uint32_t decodeIaid(uint32_t codeLength, ArithDecoderStats* stats);

    // Takes at once up to maxCount decisions in one context that each come
    // out as the context's more probable symbol without a renormalisation,
    // and returns how many it took. Such decisions change only A (by Qe
    // each), so the result is that of as many decodeBit calls; the caller
    // reads the symbol from the context. Long runs of white in a bilevel
    // image are decoded this way.
    int decodeMpsRun(uint32_t context, const ArithDecoderStats* stats, int maxCount) {
        assert(context < uint32_t(stats->getContextSize()));
        const uint64_t qe = kQeTable[int(stats->m_contexts[context]) >> 1].qe;
        // After k such decisions A - k Qe must keep its top bit and stay above C.
        const uint64_t lowest = m_c >= 0x80000000u ? uint64_t(m_c) + 1 : 0x80000000u;
        if (maxCount <= 0 || m_a <= lowest)
            return 0;
        const uint64_t fit = (m_a - lowest) / qe;
        const uint64_t k = fit < uint64_t(maxCount) ? fit : uint64_t(maxCount);
        m_a -= uint32_t(k * qe);
        return int(k);
    }

private:
    struct QeEntry {
        uint32_t qe;  // scaled by 2^16 to the A register
        uint8_t nmps;
        uint8_t nlps;
        uint8_t switchFlag;
    };
    static const QeEntry kQeTable[47];

    // The next byte of the data, -1 past a limited segment.
    int readByte() {
        if (m_limitStream) {
            --m_dataLength;
            if (m_dataLength < 0)
                return -1;
        }
        if (m_buffer)
            return *m_buffer++;  // the limit above keeps it within the buffer
        return readStreamByte();
    }
    // The next byte of the stream, 0xFF at its end.
    int readStreamByte();
    void byteIn();
    // Shifts A (never 0 here) and C until A's top bit is set, feeding a byte
    // whenever the counter runs out: at once when the counter covers the
    // shift, else a bit at a time.
    void renormalize(Registers& r) {
        const int shift = std::countl_zero(r.a);
        if (shift <= r.ct) {
            r.a <<= shift;
            r.c <<= shift;
            r.ct -= shift;
            return;
        }
        do {
            if (r.ct == 0) {
                m_c = r.c;
                byteIn();
                r.c = m_c;
                r.ct = m_ct;
            }
            r.a <<= 1;
            r.c <<= 1;
            --r.ct;
        } while (!(r.a & 0x80000000u));
    }
    int decodeIntBit(ArithDecoderStats* stats);

    uint32_t m_b = 0;
    uint32_t m_b1 = 0;
    uint32_t m_c = 0;
    uint32_t m_a = 0;
    int m_ct = 0;
    uint32_t m_prev = 0;
    DataStream* m_stream = nullptr;
    const uint8_t* m_buffer = nullptr;  // in place of the stream when set
    int m_dataLength = 0;
    bool m_limitStream = false;

    // Read-ahead past a limited segment, kept so that setDataLength can feed
    // the true bytes where the stand-ins went. B1 holds a stand-in once the
    // segment ran out; from the first byte-in that meets it, every byte-in
    // feeds nothing and resets the counter to 8, so the count of those
    // byte-ins and the counter give how far the code register has moved since.
    bool m_b1StandIn = false;
    bool m_atMarker = false;
    bool m_padding = false;
    bool m_paddingFromStart = false;
    uint32_t m_padB = 0;
    int m_padByteIns = 0;
};

}  // namespace rendova
