#pragma once

// A test-side MQ encoder (the software-convention encoder of the JBIG2
// recommendation), with the integer and symbol-id procedures, so that decoder
// tests can make code streams of any content.
#include <cstdint>
#include <string>
#include <vector>

namespace rendova::test {

class MqEncoder {
public:
    // One byte per context, (state << 1) | mps, as the decoder keeps them.
    using Contexts = std::vector<uint8_t>;

    void encodeBit(Contexts& cx, uint32_t context, int bit) {
        uint8_t& s = cx[context];
        const int index = s >> 1;
        const int mps = s & 1;
        const uint32_t qe = kTable[index][0];
        if (bit == mps) {
            m_a -= qe;
            if (m_a & 0x8000) {
                m_c += qe;
                return;
            }
            if (m_a < qe)
                m_a = qe;
            else
                m_c += qe;
            s = uint8_t((kTable[index][1] << 1) | mps);
        } else {
            m_a -= qe;
            if (m_a < qe)
                m_c += qe;
            else
                m_a = qe;
            s = uint8_t((kTable[index][2] << 1) | (kTable[index][3] ? 1 - mps : mps));
        }
        do {
            m_a <<= 1;
            m_c <<= 1;
            if (--m_ct == 0)
                byteOut();
        } while (!(m_a & 0x8000));
    }

    // The IAx procedure; oob writes the out-of-band value.
    void encodeInt(Contexts& cx, int64_t value, bool oob = false) {
        m_prev = 1;
        if (oob) {
            intBit(cx, 1);
            for (int b : {0, 0, 0})
                intBit(cx, b);
            return;
        }
        const int sign = value < 0;
        const uint64_t v = uint64_t(sign ? -value : value);
        static const struct {
            uint64_t high;
            int prefixBits;
            int prefix;
            int bits;
            uint64_t offset;
        } kRanges[] = {{3, 1, 0, 2, 0},     {19, 2, 2, 4, 4},       {83, 3, 6, 6, 20},
                       {339, 4, 14, 8, 84}, {4435, 5, 30, 12, 340}, {~0ull, 5, 31, 32, 4436}};
        intBit(cx, sign);
        for (const auto& r : kRanges) {
            if (v > r.high)
                continue;
            for (int i = r.prefixBits - 1; i >= 0; --i)
                intBit(cx, (r.prefix >> i) & 1);
            for (int i = r.bits - 1; i >= 0; --i)
                intBit(cx, int(((v - r.offset) >> i) & 1));
            return;
        }
    }

    void encodeIaid(Contexts& cx, int codeLength, uint32_t id) {
        uint32_t prev = 1;
        for (int i = codeLength - 1; i >= 0; --i) {
            const int bit = (id >> i) & 1;
            encodeBit(cx, prev, bit);
            prev = (prev << 1) | uint32_t(bit);
        }
    }

    // Ends the code stream with the 0xFF 0xAC marker and returns it.
    std::string finish() {
        const uint32_t tempc = m_c + m_a;
        m_c |= 0xFFFF;
        if (m_c >= tempc)
            m_c -= 0x8000;
        m_c <<= m_ct;
        byteOut();
        m_c <<= m_ct;
        byteOut();
        if (m_b != 0xFF) {
            emit();
            m_b = 0xFF;
        }
        emit();
        m_out.push_back(char(0xAC));
        return m_out;
    }

private:
    void intBit(Contexts& cx, int bit) {
        encodeBit(cx, m_prev, bit);
        m_prev =
            m_prev < 256 ? (m_prev << 1) | uint32_t(bit) : (((m_prev << 1) | uint32_t(bit)) & 0xFF) | 0x100;
    }
    void emit() {
        if (m_started)
            m_out.push_back(char(m_b));
        m_started = true;
    }
    void byteOut() {
        // A carry into the pending byte (which 0xFF stuffing keeps from
        // propagating further).
        if (m_b != 0xFF && m_c >= 0x8000000) {
            ++m_b;
            m_c &= 0x7FFFFFF;
        }
        emit();
        if (m_b == 0xFF) {
            m_b = m_c >> 20;
            m_c &= 0xFFFFF;
            m_ct = 7;
        } else {
            m_b = m_c >> 19;
            m_c &= 0x7FFFF;
            m_ct = 8;
        }
    }

    // Qe, next after MPS, next after LPS, switch.
    static constexpr uint16_t kTable[47][4] = {
        {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},
        {0x0521, 5, 29, 0},  {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},
        {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0}, {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0},
        {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1}, {0x5401, 16, 14, 0},
        {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
        {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0},
        {0x1C01, 25, 22, 0}, {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0},
        {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0}, {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0},
        {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0}, {0x02A1, 36, 33, 0},
        {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
        {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0},
        {0x0005, 45, 42, 0}, {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0}};

    uint32_t m_a = 0x8000;
    uint32_t m_c = 0;
    int m_ct = 12;
    uint32_t m_b = 0;
    bool m_started = false;
    uint32_t m_prev = 1;
    std::string m_out;
};

}  // namespace rendova::test
