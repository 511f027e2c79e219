#include "engine/core/ImageLineReader.h"

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// No colour space of the format has more than 32 components.
constexpr int64_t kMaxComponents = 32;
// The format's widest sample is 16 bits.
constexpr int kMaxBits = 16;
// The buffer is allocated with a signed 32-bit size and, for 1-bit rows,
// rounded up to a whole byte of samples.
constexpr int64_t kMaxSamplesPerRow = 0x7ffffff0;

}  // namespace

ImageLineReader::ImageLineReader(DataStream* stream, int width, int components, int bits)
    : m_stream(stream), m_width(width), m_components(components), m_bits(bits) {
    if (width <= 0 || components <= 0 || components > kMaxComponents || bits <= 0 || bits > kMaxBits) return;
    const int64_t samples = int64_t(width) * components;
    if (samples > kMaxSamplesPerRow) return;
    m_samplesPerRow = int(samples);
    // A 1-bit row unpacks whole bytes: room for the surplus samples of the
    // last one.
    const int64_t size = bits == 1 ? (samples + 7) & ~int64_t(7) : samples;
    m_buffer = static_cast<uint8_t*>(memAlloc(int(size)));
}

ImageLineReader::~ImageLineReader() { memFree(m_buffer); }

void ImageLineReader::reset() { m_stream->reset(); }

uint8_t* ImageLineReader::getLine() {
    if (!m_buffer) return nullptr;
    DataStream* stream = m_stream;
    uint8_t* out = m_buffer;
    const int samples = m_samplesPerRow;

    if (m_bits == 1) {
        const int bytes = (samples + 7) >> 3;
        for (int i = 0; i < bytes; ++i, out += 8) {
            const int c = stream->getChar();
            out[0] = uint8_t((c >> 7) & 1);
            out[1] = uint8_t((c >> 6) & 1);
            out[2] = uint8_t((c >> 5) & 1);
            out[3] = uint8_t((c >> 4) & 1);
            out[4] = uint8_t((c >> 3) & 1);
            out[5] = uint8_t((c >> 2) & 1);
            out[6] = uint8_t((c >> 1) & 1);
            out[7] = uint8_t(c & 1);
        }
    } else if (m_bits == 8) {
        for (int i = 0; i < samples; ++i) out[i] = uint8_t(stream->getChar());
    } else if (m_bits == 16) {
        for (int i = 0; i < samples; ++i) {
            out[i] = uint8_t(stream->getChar());
            stream->getChar();
        }
    } else {
        // Samples run on across byte boundaries; the low bits left in the
        // row's last byte are dropped. Samples wider than 8 bits keep their
        // high byte.
        const int bits = m_bits;
        const uint32_t mask = (1u << bits) - 1;
        const int drop = bits > 8 ? bits - 8 : 0;
        uint32_t held = 0;
        int count = 0;
        for (int i = 0; i < samples; ++i) {
            while (count < bits) {
                held = (held << 8) | uint32_t(stream->getChar() & 0xff);
                count += 8;
            }
            count -= bits;
            out[i] = uint8_t(((held >> count) & mask) >> drop);
            held &= (1u << count) - 1;
        }
    }
    return m_buffer;
}

}  // namespace rendova
