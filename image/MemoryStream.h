#pragma once

#include "image/ImageStream.h"

namespace rendova {

// An ImageStream over a growable memory buffer (std::malloc family, so that a
// detached buffer is freed with std::free). Growth rounds the capacity down to
// a multiple of 4096 and adds 4096. A buffer given by the caller is read and
// written in place but never grown: it is not ours to reallocate.
class MemoryStream : public ImageStream {
public:
    // Over `size` bytes at `buffer`, which stays the caller's; a null buffer
    // gives a stream that owns what it allocates (see open()).
    explicit MemoryStream(uint8_t* buffer = nullptr, int32_t size = 0);
    ~MemoryStream() override;

    // Starts an empty owned buffer; false when one is already present.
    bool open();
    // Hands out the buffer; with `takeOwnership` the caller frees it.
    uint8_t* detach(bool takeOwnership);
    uint8_t* buffer() const { return m_buffer; }
    int32_t capacity() const { return m_capacity; }

    bool close() override;
    size_t read(void* buffer, size_t itemSize, size_t count) override;
    size_t write(const void* buffer, size_t itemSize, size_t count) override;
    bool seek(int32_t offset, int origin) override;
    int32_t tell() override;
    int32_t size() override;
    bool flush() override;
    bool eof() override;
    int32_t error() override;
    bool putc(uint8_t byte) override;
    int getc() override;

private:
    // Makes room for `needed` bytes and zero-fills any gap between the end of
    // the data and the position (left by a seek past the end).
    bool prepareWrite(int64_t needed);

    uint8_t* m_buffer = nullptr;
    int32_t m_size = 0;
    bool m_ownsBuffer = false;
    int32_t m_position = 0;
    int32_t m_capacity = 0;
};

}  // namespace rendova
