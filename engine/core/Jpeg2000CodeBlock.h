#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/ArithDecoder.h"

namespace rendova {

// The coding passes of one JPEG 2000 code-block (T.800 Annex D, default
// code-block style): significance propagation, magnitude refinement and
// cleanup over stripes of four rows, with the 19 contexts of the MQ decoder.
// Part of Jpeg2000Decoder, which owns one and reuses its buffers from block
// to block. One thread at a time; never fails: damaged data decodes to some
// values, and the pass count bounds the work.
class Jpeg2000CodeBlock {
public:
    Jpeg2000CodeBlock();

    // Code-block style bits: those that the passes below follow. Predictable
    // termination needs nothing of a decoder; the arithmetic bypass and the
    // termination of every pass are not decoded.
    static constexpr int kBypassStyle = 0x01;
    static constexpr int kResetStyle = 0x02;
    static constexpr int kTerminateEachStyle = 0x04;
    static constexpr int kCausalStyle = 0x08;
    static constexpr int kPredictableStyle = 0x10;
    static constexpr int kSegmentationStyle = 0x20;
    static constexpr int kDecodedStyles = kResetStyle | kCausalStyle | kPredictableStyle | kSegmentationStyle;

    // Decodes passes coding passes of data (length bytes, one codeword
    // segment) for a block of width x height samples of a sub-band of the
    // given orientation (0 LL, 1 HL, 2 LH, 3 HH) in a code-block style of
    // kDecodedStyles. The first pass is the
    // cleanup of bit plane startPlane. values (width x height, row-major)
    // receives each coefficient as twice its magnitude with the middle of
    // the last decoded interval added, negated for negative coefficients.
    void decode(const uint8_t* data, int length, int width, int height, int orientation, int style,
                int startPlane, int passes, int32_t* values);

private:
    void significancePass(int plane);
    void refinementPass(int plane);
    void cleanupPass(int plane);
    int flagIndex(int x, int y) const;
    // Marks the sample at flag index i significant with its sign, and tells
    // its neighbours.
    void setSignificant(int i, bool negative);
    // The sign of a sample with flags f.
    bool decodeSign(uint32_t f);
    void resetContexts();

    ArithDecoder m_decoder;
    ArithDecoderStats m_stats;
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
