#include "engine/core/ArithDecoder.h"

#include <algorithm>
#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"

namespace rendova {

// The probability estimation table of the MQ coder: Qe, the next state after
// a more and a less probable symbol, and whether a less probable symbol
// swaps the sense of the more probable one.
const ArithDecoder::QeEntry ArithDecoder::kQeTable[47] = {
    {0x56010000, 1, 1, 1},   {0x34010000, 2, 6, 0},   {0x18010000, 3, 9, 0},   {0x0AC10000, 4, 12, 0},
    {0x05210000, 5, 29, 0},  {0x02210000, 38, 33, 0}, {0x56010000, 7, 6, 1},   {0x54010000, 8, 14, 0},
    {0x48010000, 9, 14, 0},  {0x38010000, 10, 14, 0}, {0x30010000, 11, 17, 0}, {0x24010000, 12, 18, 0},
    {0x1C010000, 13, 20, 0}, {0x16010000, 29, 21, 0}, {0x56010000, 15, 14, 1}, {0x54010000, 16, 14, 0},
    {0x51010000, 17, 15, 0}, {0x48010000, 18, 16, 0}, {0x38010000, 19, 17, 0}, {0x34010000, 20, 18, 0},
    {0x30010000, 21, 19, 0}, {0x28010000, 22, 19, 0}, {0x24010000, 23, 20, 0}, {0x22010000, 24, 21, 0},
    {0x1C010000, 25, 22, 0}, {0x18010000, 26, 23, 0}, {0x16010000, 27, 24, 0}, {0x14010000, 28, 25, 0},
    {0x12010000, 29, 26, 0}, {0x11010000, 30, 27, 0}, {0x0AC10000, 31, 28, 0}, {0x09C10000, 32, 29, 0},
    {0x08A10000, 33, 30, 0}, {0x05210000, 34, 31, 0}, {0x04410000, 35, 32, 0}, {0x02A10000, 36, 33, 0},
    {0x02210000, 37, 34, 0}, {0x01410000, 38, 35, 0}, {0x01110000, 39, 36, 0}, {0x00850000, 40, 37, 0},
    {0x00490000, 41, 38, 0}, {0x00250000, 42, 39, 0}, {0x00150000, 43, 40, 0}, {0x00090000, 44, 41, 0},
    {0x00050000, 45, 42, 0}, {0x00010000, 45, 43, 0}, {0x56010000, 46, 46, 0},
};

ArithDecoderStats::ArithDecoderStats(int contextSize) : m_contextSize(std::max(contextSize, 1)) {
    m_contexts = static_cast<Context*>(memAlloc(m_contextSize));
    std::memset(m_contexts, 0, size_t(m_contextSize));
}

ArithDecoderStats::~ArithDecoderStats() {
    memFree(m_contexts);
}

std::unique_ptr<ArithDecoderStats> ArithDecoderStats::copy() const {
    auto stats = std::make_unique<ArithDecoderStats>(m_contextSize);
    std::memcpy(stats->m_contexts, m_contexts, size_t(m_contextSize));
    return stats;
}

void ArithDecoderStats::reset() {
    std::memset(m_contexts, 0, size_t(m_contextSize));
}

void ArithDecoderStats::copyFrom(const ArithDecoderStats& other) {
    std::memcpy(m_contexts, other.m_contexts, size_t(std::min(m_contextSize, other.m_contextSize)));
}

void ArithDecoderStats::setEntry(uint32_t context, int index, int mps) {
    if (context >= uint32_t(m_contextSize) || index < 0 || index > 46)
        return;
    m_contexts[context] = Context((index << 1) | (mps & 1));
}

namespace {

// A left shift of the code register by any count: bits beyond 32 leave it.
uint32_t shiftLeft(uint32_t value, int count) {
    return count >= 32 ? 0 : value << count;
}

}  // namespace

int ArithDecoder::readStreamByte() {
    const int c = m_stream ? m_stream->getChar() : -1;
    return c < 0 ? 0xFF : c;
}

void ArithDecoder::start() {
    m_atMarker = false;
    m_padding = false;
    m_paddingFromStart = false;
    int b = readByte();
    const bool bStandIn = b < 0;
    m_b = b < 0 ? 0xFF : uint32_t(b);
    b = readByte();
    m_b1StandIn = b < 0;
    m_b1 = b < 0 ? 0xFF : uint32_t(b);
    m_c = (m_b ^ 0xFF) << 16;
    byteIn();
    m_paddingFromStart = bStandIn;
    m_c <<= 7;
    m_ct -= 7;
    m_a = 0x80000000u;
}

void ArithDecoder::byteIn() {
    if (m_b1StandIn) {
        // Past the segment: feed 1-bits (nothing, in the complemented
        // register), remembering enough for setDataLength to undo it.
        if (!m_padding) {
            m_padding = true;
            m_padB = m_b;
            m_padByteIns = 0;
        }
        ++m_padByteIns;
        if (m_b != 0xFF) {
            m_b = 0xFF;
            readByte();
        }
        m_ct = 8;
        return;
    }
    if (m_b == 0xFF) {
        // 0xFF followed by more than 0x8F is a marker: the data ends there
        // and the decoder is fed 1-bits.
        if (m_b1 > 0x8F) {
            m_atMarker = true;
            m_ct = 8;
            return;
        }
        m_b = m_b1;
        const int b = readByte();
        m_b1StandIn = b < 0;
        m_b1 = b < 0 ? 0xFF : uint32_t(b);
        m_c += 0xFE00 - (m_b << 9);
        m_ct = 7;
        return;
    }
    m_b = m_b1;
    const int b = readByte();
    m_b1StandIn = b < 0;
    m_b1 = b < 0 ? 0xFF : uint32_t(b);
    m_c += 0xFF00 - (m_b << 8);
    m_ct = 8;
}

void ArithDecoder::setDataLength(int length) {
    m_dataLength = length;
    m_limitStream = true;
    if (!m_padding) {
        // Only B1 was read ahead: read it again from the new segment.
        if (m_b1StandIn) {
            const int b = readByte();
            m_b1StandIn = b < 0;
            m_b1 = b < 0 ? 0xFF : uint32_t(b);
        }
        return;
    }
    // The register has moved this many places since the first byte-in that
    // met a stand-in. The stand-ins added nothing, and every step of the
    // decoder is linear in the register, so replaying the byte-ins of the
    // true bytes into a zero register, moved by the same places, and adding
    // the result gives the register of an undivided stream.
    const int shifts = 8 * (m_padByteIns - 1) + (8 - m_ct);
    const uint32_t saved = m_c;
    const bool fromStart = m_paddingFromStart;
    m_padding = false;
    m_paddingFromStart = false;
    m_c = 0;
    bool bStandIn = false;
    if (fromStart) {
        const int b = readByte();
        bStandIn = b < 0;
        m_b = b < 0 ? 0xFF : uint32_t(b);
        m_c = (m_b ^ 0xFF) << 16;
    } else {
        m_b = m_padB;
    }
    int b = readByte();
    m_b1StandIn = b < 0;
    m_b1 = b < 0 ? 0xFF : uint32_t(b);
    int t = 0;
    byteIn();
    if (bStandIn)
        m_paddingFromStart = true;
    while (t + m_ct < shifts) {
        t += m_ct;
        m_c = shiftLeft(m_c, m_ct);
        m_ct = 0;
        byteIn();
    }
    m_c = shiftLeft(m_c, shifts - t) + saved;
    m_ct -= shifts - t;
}

void ArithDecoder::cleanup() {
    if (!m_limitStream)
        return;
    // Bounded by the data length, which only falls.
    while (m_dataLength > 0) {
        m_b = m_b1;
        const int b = readByte();
        m_b1 = b < 0 ? 0xFF : uint32_t(b);
    }
}

int ArithDecoder::decodeIntBit(ArithDecoderStats* stats) {
    const int bit = decodeBit(m_prev, stats);
    // The context is the last eight bits with a leading 1, or 1 followed by
    // every bit so far while there are fewer.
    m_prev = m_prev < 256 ? (m_prev << 1) | uint32_t(bit) : (((m_prev << 1) | uint32_t(bit)) & 0xFF) | 0x100;
    return bit;
}

bool ArithDecoder::decodeInt(int* value, ArithDecoderStats* stats) {
    m_prev = 1;
    const int sign = decodeIntBit(stats);
    int bits;
    uint32_t offset;
    if (!decodeIntBit(stats)) {
        bits = 2;
        offset = 0;
    } else if (!decodeIntBit(stats)) {
        bits = 4;
        offset = 4;
    } else if (!decodeIntBit(stats)) {
        bits = 6;
        offset = 20;
    } else if (!decodeIntBit(stats)) {
        bits = 8;
        offset = 84;
    } else if (!decodeIntBit(stats)) {
        bits = 12;
        offset = 340;
    } else {
        bits = 32;
        offset = 4436;
    }
    uint32_t v = 0;
    for (int i = 0; i < bits; ++i)
        v = (v << 1) | uint32_t(decodeIntBit(stats));
    // The widest range passes 2^31; the value wraps as a 32-bit number and
    // callers check it against their own bounds.
    v += offset;
    if (sign) {
        if (v == 0)
            return false;
        v = 0u - v;
    }
    std::memcpy(value, &v, sizeof v);
    return true;
}

uint32_t ArithDecoder::decodeIaid(uint32_t codeLength, ArithDecoderStats* stats) {
    uint32_t prev = 1;
    for (uint32_t i = 0; i < codeLength; ++i)
        prev = (prev << 1) | uint32_t(decodeBit(prev, stats));
    return prev - (1u << codeLength);
}

}  // namespace rendova
