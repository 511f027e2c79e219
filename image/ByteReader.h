#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/ImageStream.h"

namespace rendova {

// Reads a stream byte by byte through a block of its own, for the codecs
// whose data is a run-length code of single bytes. The stream's position
// runs ahead of what was taken; position() tells where the reader stands.
class ByteReader {
public:
    explicit ByteReader(ImageStream* stream) : m_stream(stream), m_base(stream->tell()) {}

    // 0..255, or -1 at the end of the stream.
    int next() {
        if (m_position == m_filled && !refill())
            return -1;
        return m_block[m_position++];
    }

    // Copies `size` bytes; false (with what there was copied) at the end.
    bool read(uint8_t* target, size_t size) {
        while (size > 0) {
            if (m_position == m_filled && !refill())
                return false;
            const size_t part = size < m_filled - m_position ? size : m_filled - m_position;
            std::memcpy(target, m_block + m_position, part);
            m_position += part;
            target += part;
            size -= part;
        }
        return true;
    }

    // The stream position of the next byte to be taken.
    int64_t position() const { return m_base + int64_t(m_consumed + m_position); }

private:
    bool refill() {
        m_consumed += m_filled;
        m_filled = m_stream->read(m_block, 1, sizeof m_block);
        m_position = 0;
        return m_filled > 0;
    }

    ImageStream* m_stream;
    int64_t m_base;
    size_t m_consumed = 0;
    size_t m_filled = 0;
    size_t m_position = 0;
    uint8_t m_block[16384];
};

// Bytes left in the stream after its position, or -1 when it cannot tell.
inline int64_t bytesLeft(ImageStream* stream) {
    const int32_t position = stream->tell();
    const int32_t size = stream->size();
    if (position < 0 || size < 0)
        return -1;
    return size > position ? int64_t(size) - position : 0;
}

}  // namespace rendova
