#pragma once

#include <cstddef>
#include <cstdint>

namespace rendova {

// The byte stream every codec of the image library reads and writes through.
// Positions and sizes are signed 32-bit, as the codecs use them. No operation
// throws; failures are the return values. Not thread-safe.
class ImageStream {
public:
    enum Origin { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

    ImageStream() = default;
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;
    virtual ~ImageStream() = default;

    virtual bool close() = 0;
    // Whole items read or written.
    virtual size_t read(void* buffer, size_t itemSize, size_t count) = 0;
    virtual size_t write(const void* buffer, size_t itemSize, size_t count) = 0;
    virtual bool seek(int32_t offset, int origin) = 0;
    // -1 when there is nothing behind the stream.
    virtual int32_t tell() = 0;
    virtual int32_t size() = 0;
    virtual bool flush() = 0;
    virtual bool eof() = 0;
    // Non-zero on error.
    virtual int32_t error() = 0;
    // Writes one byte through write().
    virtual bool putc(uint8_t byte);
    // 0..255, or -1 at the end.
    virtual int getc() = 0;
};

}  // namespace rendova
