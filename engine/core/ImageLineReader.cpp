#include "engine/core/ImageLineReader.h"

#include <algorithm>
#include <cstring>

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

// Bytes read from the stream at a time for rows of other depths than 8.
// Even, so that the two bytes of a 16-bit sample arrive together.
constexpr int kChunkSize = 1024;

// n bytes of the stream into chunk; those past the end of the data read as
// 0. Returns how many came from the data.
int fillChunk(DataStream* stream, uint8_t* chunk, int n) {
    const int got = std::max(stream->getBlock(chunk, n), 0);
    if (got < n)
        std::memset(chunk + got, 0, size_t(n - got));
    return got;
}

}  // namespace

ImageLineReader::ImageLineReader(DataStream* stream, int width, int components, int bits)
    : m_stream(stream), m_width(width), m_components(components), m_bits(bits) {
    if (width <= 0 || components <= 0 || components > kMaxComponents || bits <= 0 || bits > kMaxBits)
        return;
    const int64_t samples = int64_t(width) * components;
    if (samples > kMaxSamplesPerRow)
        return;
    m_samplesPerRow = int(samples);
    // A 1-bit row unpacks whole bytes: room for the surplus samples of the
    // last one.
    const int64_t size = bits == 1 ? (samples + 7) & ~int64_t(7) : samples;
    m_buffer = static_cast<uint8_t*>(memAlloc(int(size)));
}

ImageLineReader::~ImageLineReader() {
    memFree(m_buffer);
}

void ImageLineReader::reset() {
    m_stream->reset();
}

uint8_t* ImageLineReader::getLine() {
    if (!m_buffer)
        return nullptr;
    DataStream* stream = m_stream;
    uint8_t* out = m_buffer;
    const int samples = m_samplesPerRow;

    if (m_bits == 8) {
        const int n = std::max(stream->getBlock(out, samples), 0);
        if (n < samples)
            std::memset(out + n, 0, size_t(samples - n));
        m_samplesRead = n;
        return m_buffer;
    }

    // The row's bytes arrive in chunks: exactly the row's, never more, so
    // that the data after an inline image stays unread.
    uint8_t chunk[kChunkSize];
    int64_t rowLeft = m_bits == 1    ? (int64_t(samples) + 7) >> 3
                      : m_bits == 16 ? 2 * int64_t(samples)
                                     : (int64_t(samples) * m_bits + 7) >> 3;
    int64_t bytesRead = 0;
    auto nextChunk = [&]() {
        const int n = int(rowLeft < kChunkSize ? rowLeft : kChunkSize);
        bytesRead += fillChunk(stream, chunk, n);
        rowLeft -= n;
        return n;
    };

    if (m_bits == 1) {
        while (rowLeft > 0) {
            const int n = nextChunk();
            for (int i = 0; i < n; ++i, out += 8) {
                const int c = chunk[i];
                out[0] = uint8_t((c >> 7) & 1);
                out[1] = uint8_t((c >> 6) & 1);
                out[2] = uint8_t((c >> 5) & 1);
                out[3] = uint8_t((c >> 4) & 1);
                out[4] = uint8_t((c >> 3) & 1);
                out[5] = uint8_t((c >> 2) & 1);
                out[6] = uint8_t((c >> 1) & 1);
                out[7] = uint8_t(c & 1);
            }
        }
    } else if (m_bits == 16) {
        // The high byte of each sample; the chunk size is even.
        while (rowLeft > 0) {
            const int n = nextChunk();
            for (int i = 0; i < n; i += 2)
                *out++ = chunk[i];
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
        int index = 0, available = 0;
        for (int i = 0; i < samples; ++i) {
            while (count < bits) {
                if (index == available) {
                    available = nextChunk();
                    index = 0;
                }
                held = (held << 8) | chunk[index++];
                count += 8;
            }
            count -= bits;
            out[i] = uint8_t(((held >> count) & mask) >> drop);
            held &= (1u << count) - 1;
        }
    }
    // The row starts on a byte: its whole samples among the bytes read.
    m_samplesRead = int(std::min<int64_t>(samples, bytesRead * 8 / m_bits));
    return m_buffer;
}

}  // namespace rendova
