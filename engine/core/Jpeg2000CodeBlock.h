#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/ArithDecoder.h"

namespace rendova {

// The coding passes of one JPEG 2000 code-block (T.800 Annex D):
// significance propagation, magnitude refinement and cleanup over stripes of
// four rows, with the 19 contexts of the MQ decoder, in any code-block style:
// raw (bypassed) passes, context reset, termination on every pass,
// vertically causal contexts, predictable termination and segmentation
// symbols. Part of Jpeg2000Decoder, which owns one and reuses its buffers
// from block to block. One thread at a time; never fails: damaged data
// decodes to some values, and the pass count bounds the work.
class Jpeg2000CodeBlock {
public:
    Jpeg2000CodeBlock();

    // Code-block style bits (COD and COC).
    static constexpr int kBypassStyle = 0x01;
    static constexpr int kResetStyle = 0x02;
    static constexpr int kTerminateEachStyle = 0x04;
    static constexpr int kCausalStyle = 0x08;
    static constexpr int kPredictableStyle = 0x10;
    static constexpr int kSegmentationStyle = 0x20;
    // Passes coded by the MQ coder before the arithmetic bypass begins: the
    // cleanup of the first bit plane and three planes of three passes.
    static constexpr int kBypassStart = 10;

    // One codeword segment: the bytes of the passes from firstPass up to
    // the next segment's first pass.
    struct Segment {
        const uint8_t* data;
        int length;
        int firstPass;
    };

    // The pass just after the codeword segment that holds pass ends, in the
    // code-block style: every pass ends one with termination on each pass,
    // the bypass ends one after the MQ passes that precede it and after each
    // raw pair and each cleanup pass; otherwise the only segment never ends.
    static int segmentEnd(int pass, int style);
    // The first pass of the codeword segment that holds pass.
    static int segmentStart(int pass, int style);
    // Whether pass is a raw (bypassed) pass in the style.
    static bool isRawPass(int pass, int style) {
        return (style & kBypassStyle) && pass >= kBypassStart && (pass - 1) % 3 != 2;
    }

    // Decodes passes coding passes for a block of width x height samples of
    // a sub-band of the given orientation (0 LL, 1 HL, 2 LH, 3 HH) from its
    // codeword segments, in order of their first passes. The first pass is
    // the cleanup of bit plane startPlane. values (width x height,
    // row-major) receives each coefficient as twice its magnitude with the
    // middle of the last decoded interval added, negated for negative
    // coefficients.
    void decode(const Segment* segments, int segmentCount, int width, int height, int orientation, int style,
                int startPlane, int passes, int32_t* values);

private:
    // Bits of a raw segment (T.800 D.6): most significant first, and a byte
    // after 0xFF holds 7 of them. Past the data, or at a marker, 1-bits.
    struct RawBits {
        const uint8_t* pos = nullptr;
        const uint8_t* end = nullptr;
        uint32_t byte = 0;
        int count = 0;
        int bit() {
            if (count == 0) {
                const uint32_t next = pos < end ? *pos : 0xFF;
                if (byte == 0xFF && next > 0x8F) {
                    count = 8;
                } else {
                    count = byte == 0xFF ? 7 : 8;
                    byte = next;
                    if (pos < end)
                        ++pos;
                }
            }
            --count;
            return int(byte >> count) & 1;
        }
    };

    // Starts the segment that begins at pass, raw or MQ.
    void startSegment(const Segment* segments, int segmentCount, int pass, int style);
    template <bool Raw>
    void significancePass(int plane);
    template <bool Raw>
    void refinementPass(int plane);
    void cleanupPass(int plane);
    int flagIndex(int x, int y) const;
    // Marks the sample at flag index i of flags (stride columns a stripe)
    // significant with its sign, and tells its neighbours.
    static void setSignificant(uint16_t* flags, int stride, bool causal, int i, bool negative);
    // The sign of a sample with flags f.
    bool decodeSign(ArithDecoder::Registers& r, uint32_t f);
    void resetContexts();

    ArithDecoder m_decoder;
    ArithDecoderStats m_stats;
    RawBits m_raw;
    // Per sample with a border of one: the significance and signs of the
    // eight neighbours and the sample's own state bits.
    std::vector<uint16_t> m_flags;
    int m_stride = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_causal = false;
    const uint8_t* m_zeroContexts = nullptr;
    int32_t* m_values = nullptr;
};

}  // namespace rendova
