// The coding passes of a JPEG 2000 code-block (T.800 Annex D).
#include "engine/core/Jpeg2000CodeBlock.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace rendova {

namespace {

// Flag bits of a sample: which neighbours are significant (north, south,
// west, east, then the diagonals), which of the four direct ones are
// negative, and the sample's own state.
constexpr uint32_t kNorth = 1u << 0;
constexpr uint32_t kSouth = 1u << 1;
constexpr uint32_t kWest = 1u << 2;
constexpr uint32_t kEast = 1u << 3;
constexpr uint32_t kNorthWest = 1u << 4;
constexpr uint32_t kNorthEast = 1u << 5;
constexpr uint32_t kSouthWest = 1u << 6;
constexpr uint32_t kSouthEast = 1u << 7;
constexpr uint32_t kNeighbours = 0xFFu;
constexpr int kNegativeShift = 8;  // the direct neighbours' signs, in the order above
constexpr uint32_t kSignificant = 1u << 12;
constexpr uint32_t kVisited = 1u << 13;  // coded in this bit plane's first pass
constexpr uint32_t kRefined = 1u << 14;

// The contexts: 0-8 significance, 9-13 sign, 14-16 refinement, 17 run
// length, 18 uniform.
constexpr int kContextCount = 19;
constexpr int kRunContext = 17;
constexpr int kUniformContext = 18;

struct ContextTables {
    // Significance context by orientation (LL and LH share one) and the
    // eight neighbour bits (T.800 table D.1).
    uint8_t zero[4][256];
    // Sign context | xor bit << 7, by the four direct neighbours'
    // significance and signs (table D.3).
    uint8_t sign[256];

    ContextTables() {
        for (int n = 0; n < 256; ++n) {
            const int h = ((n & kWest) ? 1 : 0) + ((n & kEast) ? 1 : 0);
            const int v = ((n & kNorth) ? 1 : 0) + ((n & kSouth) ? 1 : 0);
            const int d = ((n & kNorthWest) ? 1 : 0) + ((n & kNorthEast) ? 1 : 0) +
                          ((n & kSouthWest) ? 1 : 0) + ((n & kSouthEast) ? 1 : 0);
            zero[0][n] = zero[2][n] = lowContext(h, v, d);
            zero[1][n] = lowContext(v, h, d);
            int hh;
            const int hv = h + v;
            if (d >= 3)
                hh = 8;
            else if (d == 2)
                hh = hv >= 1 ? 7 : 6;
            else if (d == 1)
                hh = hv >= 2 ? 5 : hv == 1 ? 4 : 3;
            else
                hh = hv >= 2 ? 2 : hv == 1 ? 1 : 0;
            zero[3][n] = uint8_t(hh);
        }
        for (int n = 0; n < 256; ++n) {
            auto contribution = [n](uint32_t bit, int negativeBit) {
                if (!(n & bit))
                    return 0;
                return (n >> (4 + negativeBit)) & 1 ? -1 : 1;
            };
            const int hc = std::clamp(contribution(kWest, 2) + contribution(kEast, 3), -1, 1);
            const int vc = std::clamp(contribution(kNorth, 0) + contribution(kSouth, 1), -1, 1);
            int context;
            int flip = 0;
            if (hc == 0) {
                context = vc == 0 ? 9 : 10;
                flip = vc < 0;
            } else {
                context = vc == 1 ? 13 : vc == 0 ? 12 : 11;
                if (hc < 0) {
                    flip = 1;
                    context = vc == 1 ? 11 : vc == 0 ? 12 : 13;
                }
            }
            sign[n] = uint8_t(context | flip << 7);
        }
    }

    static uint8_t lowContext(int h, int v, int d) {
        if (h == 2)
            return 8;
        if (h == 1)
            return v >= 1 ? 7 : d >= 1 ? 6 : 5;
        if (v == 2)
            return 4;
        if (v == 1)
            return 3;
        return d >= 2 ? 2 : d == 1 ? 1 : 0;
    }
};

const ContextTables kTables;

}  // namespace

Jpeg2000CodeBlock::Jpeg2000CodeBlock() : m_stats(kContextCount) {}

// Flags lie stripe by stripe, each column of a stripe as four consecutive
// entries, so that one 64-bit load tells whether a pass has anything to do
// in a column. A border of one sample (and one stripe) all round takes the
// neighbour updates of the edge samples.
inline int Jpeg2000CodeBlock::flagIndex(int x, int y) const {
    return ((((y >> 2) + 1) * m_stride + x + 1) << 2) | (y & 3);
}

[[gnu::always_inline]] inline void Jpeg2000CodeBlock::setSignificant(uint16_t* f, int stride, bool causal,
                                                                     int i, bool negative) {
    const uint32_t neg = negative ? 1u : 0u;
    // Columns are 4 entries apart; the rows above and below lie in the
    // neighbouring stripes at a stripe's first and last row.
    const int row = i & 3;
    const int up = row ? i - 1 : i - 4 * stride + 3;
    const int down = row != 3 ? i + 1 : i + 4 * stride - 3;
    f[i] |= uint16_t(kSignificant);
    f[down] |= uint16_t(kNorth | neg << kNegativeShift);
    f[i - 4] |= uint16_t(kEast | neg << (kNegativeShift + 3));
    f[i + 4] |= uint16_t(kWest | neg << (kNegativeShift + 2));
    f[down - 4] |= uint16_t(kNorthEast);
    f[down + 4] |= uint16_t(kNorthWest);
    // Vertically causal contexts: the stripe above never sees this one.
    if (causal && row == 0)
        return;
    f[up] |= uint16_t(kSouth | neg << (kNegativeShift + 1));
    f[up - 4] |= uint16_t(kSouthEast);
    f[up + 4] |= uint16_t(kSouthWest);
}

[[gnu::always_inline]] inline bool Jpeg2000CodeBlock::decodeSign(ArithDecoder::Registers& r, uint32_t f) {
    const uint8_t entry = kTables.sign[(f & 0xF) | ((f >> kNegativeShift) & 0xF) << 4];
    return (m_decoder.decodeBit(r, entry & 0x7F, &m_stats) ^ (entry >> 7)) != 0;
}

namespace {

// The four flags of a stripe column as one word.
inline uint64_t columnWord(const uint16_t* column) {
    uint64_t word;
    std::memcpy(&word, column, sizeof word);
    return word;
}

constexpr uint64_t repeat4(uint32_t bits) {
    return uint64_t(bits) * 0x0001000100010001ull;
}

}  // namespace

// The passes keep the decoder's registers, the raw bit reader and the
// block's arrays in locals: stores to the values would otherwise make the
// compiler reload every member after each of them.
template <bool Raw>
void Jpeg2000CodeBlock::significancePass(int plane) {
    const int32_t value = 3 << plane;  // one at the plane and half of it
    ArithDecoder::Registers r = m_decoder.registers();
    RawBits raw;
    if constexpr (Raw)
        raw = m_raw;
    uint16_t* const flags = m_flags.data();
    const uint8_t* const zero = m_zeroContexts;
    const int width = m_width, height = m_height, stride = m_stride;
    const bool causal = m_causal;
    for (int y0 = 0; y0 < height; y0 += 4) {
        const int rows = std::min(4, height - y0);
        uint16_t* column = flags + flagIndex(0, y0);
        int32_t* values = m_values + size_t(y0) * size_t(width);
        for (int x = 0; x < width; ++x, column += 4) {
            if (!(columnWord(column) & repeat4(kNeighbours)))
                continue;
            for (int k = 0; k < rows; ++k) {
                const uint16_t f = column[k];
                if ((f & kSignificant) || !(f & kNeighbours))
                    continue;
                const bool significant =
                    Raw ? raw.bit() != 0 : m_decoder.decodeBit(r, zero[f & kNeighbours], &m_stats) != 0;
                if (significant) {
                    // A raw sign bit is the sign itself.
                    const bool negative = Raw ? raw.bit() != 0 : decodeSign(r, f);
                    setSignificant(flags, stride, causal, int(column - flags) + k, negative);
                    values[k * width + x] = negative ? -value : value;
                }
                column[k] |= kVisited;
            }
        }
    }
    m_decoder.setRegisters(r);
    if constexpr (Raw)
        m_raw = raw;
}

template <bool Raw>
void Jpeg2000CodeBlock::refinementPass(int plane) {
    const int32_t half = 1 << plane;
    ArithDecoder::Registers r = m_decoder.registers();
    RawBits raw;
    if constexpr (Raw)
        raw = m_raw;
    uint16_t* const flags = m_flags.data();
    const int width = m_width, height = m_height;
    for (int y0 = 0; y0 < height; y0 += 4) {
        const int rows = std::min(4, height - y0);
        uint16_t* column = flags + flagIndex(0, y0);
        int32_t* values = m_values + size_t(y0) * size_t(width);
        for (int x = 0; x < width; ++x, column += 4) {
            if (!(columnWord(column) & repeat4(kSignificant)))
                continue;
            for (int k = 0; k < rows; ++k) {
                const uint16_t f = column[k];
                if ((f & (kSignificant | kVisited)) != kSignificant)
                    continue;
                const int context = (f & kRefined) ? 16 : (f & kNeighbours) ? 15 : 14;
                const int bit = Raw ? raw.bit() : m_decoder.decodeBit(r, uint32_t(context), &m_stats);
                // The magnitude moves: away from 0 for a 1, toward it for a 0.
                int32_t& v = values[k * width + x];
                const int32_t step = bit ? half : -half;
                v += v < 0 ? -step : step;
                column[k] = uint16_t(f | kRefined);
            }
        }
    }
    m_decoder.setRegisters(r);
    if constexpr (Raw)
        m_raw = raw;
}

void Jpeg2000CodeBlock::cleanupPass(int plane) {
    const int32_t value = 3 << plane;
    constexpr uint32_t kBusy = kSignificant | kVisited | kNeighbours;
    ArithDecoder::Registers r = m_decoder.registers();
    uint16_t* const flags = m_flags.data();
    const uint8_t* const zero = m_zeroContexts;
    const int width = m_width, height = m_height, stride = m_stride;
    const bool causal = m_causal;
    for (int y0 = 0; y0 < height; y0 += 4) {
        const int rows = std::min(4, height - y0);
        uint16_t* column = flags + flagIndex(0, y0);
        int32_t* values = m_values + size_t(y0) * size_t(width);
        for (int x = 0; x < width; ++x, column += 4) {
            int k = 0;
            // Run mode: a full column of four samples, none significant or
            // coded yet, none with a significant neighbour.
            if (rows == 4 && !(columnWord(column) & repeat4(kBusy))) {
                if (!m_decoder.decodeBit(r, kRunContext, &m_stats))
                    continue;
                k = m_decoder.decodeBit(r, kUniformContext, &m_stats) << 1;
                k |= m_decoder.decodeBit(r, kUniformContext, &m_stats);
                const bool negative = decodeSign(r, column[k]);
                setSignificant(flags, stride, causal, int(column - flags) + k, negative);
                values[k * width + x] = negative ? -value : value;
                ++k;
            }
            for (; k < rows; ++k) {
                const uint16_t f = column[k];
                if (!(f & (kSignificant | kVisited)) &&
                    m_decoder.decodeBit(r, zero[f & kNeighbours], &m_stats)) {
                    const bool negative = decodeSign(r, f);
                    setSignificant(flags, stride, causal, int(column - flags) + k, negative);
                    values[k * width + x] = negative ? -value : value;
                }
                column[k] &= uint16_t(~kVisited);
            }
        }
    }
    m_decoder.setRegisters(r);
}

void Jpeg2000CodeBlock::resetContexts() {
    m_stats.reset();
    m_stats.setEntry(0, 4, 0);
    m_stats.setEntry(kRunContext, 3, 0);
    m_stats.setEntry(kUniformContext, 46, 0);
}

int Jpeg2000CodeBlock::segmentEnd(int pass, int style) {
    if (style & kTerminateEachStyle)
        return pass + 1;
    if (style & kBypassStyle) {
        if (pass < kBypassStart)
            return kBypassStart;
        // A significance pass shares its raw segment with the refinement
        // pass after it.
        return (pass - 1) % 3 == 0 ? pass + 2 : pass + 1;
    }
    return INT_MAX;
}

int Jpeg2000CodeBlock::segmentStart(int pass, int style) {
    if (style & kTerminateEachStyle)
        return pass;
    if (style & kBypassStyle) {
        if (pass < kBypassStart)
            return 0;
        return (pass - 1) % 3 == 1 ? pass - 1 : pass;
    }
    return 0;
}

void Jpeg2000CodeBlock::startSegment(const Segment* segments, int segmentCount, int pass, int style) {
    const uint8_t* data = nullptr;
    int length = 0;
    for (int i = 0; i < segmentCount; ++i) {
        if (segments[i].firstPass == pass) {
            data = segments[i].data;
            length = segments[i].length;
            break;
        }
    }
    if (isRawPass(pass, style)) {
        m_raw = RawBits();
        m_raw.pos = data;
        m_raw.end = data + length;
        return;
    }
    m_decoder.setBuffer(data, length);
    m_decoder.start();
}

void Jpeg2000CodeBlock::decode(const Segment* segments, int segmentCount, int width, int height,
                               int orientation, int style, int startPlane, int passes, int32_t* values) {
    m_causal = (style & kCausalStyle) != 0;
    m_width = width;
    m_height = height;
    m_stride = width + 2;
    m_values = values;
    m_zeroContexts = kTables.zero[orientation & 3];
    std::fill(values, values + size_t(width) * size_t(height), 0);
    m_flags.assign(size_t(m_stride) * size_t((height + 3) / 4 + 2) * 4, 0);
    resetContexts();

    // The first pass is a cleanup; each lower plane then has all three.
    int plane = startPlane;
    int kind = 2;
    int nextSegment = 0;
    for (int pass = 0; pass < passes && plane >= 0; ++pass) {
        if (pass == nextSegment) {
            startSegment(segments, segmentCount, pass, style);
            nextSegment = segmentEnd(pass, style);
        }
        if (pass > 0 && (style & kResetStyle))
            resetContexts();
        const bool raw = isRawPass(pass, style);
        if (kind == 0) {
            if (raw)
                significancePass<true>(plane);
            else
                significancePass<false>(plane);
        } else if (kind == 1) {
            if (raw)
                refinementPass<true>(plane);
            else
                refinementPass<false>(plane);
        } else {
            cleanupPass(plane);
            // A segmentation symbol (1010) ends each cleanup pass; it only
            // checks the data, which the decoder takes as it comes.
            if (style & kSegmentationStyle) {
                for (int i = 0; i < 4; ++i)
                    m_decoder.decodeBit(kUniformContext, &m_stats);
            }
        }
        if (++kind == 3) {
            kind = 0;
            --plane;
        }
    }
    m_decoder.setBuffer(nullptr, 0);
}

}  // namespace rendova
