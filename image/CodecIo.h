#pragma once

#include <cstddef>
#include <cstdint>

#include "image/CodecFailure.h"
#include "image/ImageStream.h"

namespace rendova {

// Little-endian field access and checked writes shared by the codecs.

inline uint16_t getLe16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t getLe32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void putLe16(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

inline void putLe32(uint8_t* p, uint32_t value) {
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

// The text of an encoder whose stream refused bytes (a full disk, a memory
// stream out of memory): a short file must not be reported as written.
constexpr const char* kWriteFailedText = "Error writing the image";

inline void writeOrFail(ImageStream* stream, const void* data, size_t size) {
    if (size != 0 && stream->write(data, size, 1) != 1)
        failCodec(kWriteFailedText);
}

// Bytes read, up to `size`; the rest of `buffer` is left as it was.
inline size_t readSome(ImageStream* stream, void* buffer, size_t size) {
    return size == 0 ? 0 : stream->read(buffer, 1, size);
}

// Seeks to `base + offset` when that position fits the stream's 32-bit range.
inline bool seekTo(ImageStream* stream, int64_t base, int64_t offset) {
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX)
        return false;
    return stream->seek(int32_t(target), ImageStream::kSeekSet);
}

// Skips `count` bytes forward when that fits the stream's 32-bit range.
inline bool skipBytes(ImageStream* stream, int64_t count) {
    if (count <= 0)
        return count == 0;
    if (count > INT32_MAX)
        return false;
    return stream->seek(int32_t(count), ImageStream::kSeekCur);
}

}  // namespace rendova
