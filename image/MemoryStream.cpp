#include "image/MemoryStream.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace rendova {

namespace {

constexpr int64_t kGrowthStep = 4096;
constexpr int64_t kMaxCapacity = std::numeric_limits<int32_t>::max();

}  // namespace

MemoryStream::MemoryStream(uint8_t* buffer, int32_t size)
    : m_buffer(buffer),
      m_size(buffer != nullptr && size > 0 ? size : 0),
      m_ownsBuffer(buffer == nullptr),
      m_position(0),
      m_capacity(m_size) {}

MemoryStream::~MemoryStream() {
    close();
}

bool MemoryStream::open() {
    if (m_buffer != nullptr)
        return false;
    m_buffer = static_cast<uint8_t*>(std::malloc(1));
    m_ownsBuffer = true;
    m_size = 0;
    m_position = 0;
    m_capacity = 0;
    return m_buffer != nullptr;
}

uint8_t* MemoryStream::detach(bool takeOwnership) {
    m_ownsBuffer = !takeOwnership;
    return m_buffer;
}

bool MemoryStream::close() {
    if (m_buffer != nullptr && m_ownsBuffer) {
        std::free(m_buffer);
        m_buffer = nullptr;
        m_size = 0;
    }
    return true;
}

bool MemoryStream::prepareWrite(int64_t needed) {
    if (needed > kMaxCapacity)
        return false;
    if (needed > m_capacity) {
        if (!m_ownsBuffer)
            return false;
        const int64_t newCapacity = (needed / kGrowthStep) * kGrowthStep + kGrowthStep;
        if (newCapacity > kMaxCapacity)
            return false;
        auto* grown = static_cast<uint8_t*>(std::realloc(m_buffer, size_t(newCapacity)));
        if (grown == nullptr) {
            // As the stream's contract says: without memory there is no buffer.
            std::free(m_buffer);
            m_buffer = nullptr;
            m_size = 0;
            m_capacity = 0;
            return false;
        }
        m_buffer = grown;
        m_capacity = int32_t(newCapacity);
    }
    if (m_position > m_size)
        std::memset(m_buffer + m_size, 0, size_t(m_position - m_size));
    return true;
}

size_t MemoryStream::read(void* buffer, size_t itemSize, size_t count) {
    if (m_buffer == nullptr || buffer == nullptr || m_position >= m_size)
        return 0;
    if (itemSize == 0 || count == 0)
        return 0;
    const size_t available = size_t(m_size - m_position);
    // The wanted byte count may overflow; it only matters whether it exceeds what is left.
    const size_t wanted = count > available / itemSize + 1 ? available : itemSize * count;
    const size_t bytes = wanted < available ? wanted : available;
    std::memcpy(buffer, m_buffer + m_position, bytes);
    m_position += int32_t(bytes);
    return bytes / itemSize;
}

size_t MemoryStream::write(const void* buffer, size_t itemSize, size_t count) {
    if (m_buffer == nullptr || buffer == nullptr || itemSize == 0 || count == 0)
        return 0;
    if (count > size_t(kMaxCapacity) / itemSize)
        return 0;
    const int64_t bytes = int64_t(itemSize * count);
    if (!prepareWrite(int64_t(m_position) + bytes))
        return 0;
    std::memcpy(m_buffer + m_position, buffer, size_t(bytes));
    m_position += int32_t(bytes);
    if (m_position > m_size)
        m_size = m_position;
    return count;
}

bool MemoryStream::seek(int32_t offset, int origin) {
    if (m_buffer == nullptr)
        return false;
    int64_t position;
    switch (origin) {
        case kSeekSet:
            position = offset;
            break;
        case kSeekCur:
            position = int64_t(m_position) + offset;
            break;
        case kSeekEnd:
            position = int64_t(m_size) + offset;
            break;
        default:
            return false;
    }
    if (position < 0)
        position = 0;
    if (position > kMaxCapacity)
        return false;
    m_position = int32_t(position);
    return true;
}

int32_t MemoryStream::tell() {
    return m_buffer == nullptr ? -1 : m_position;
}

int32_t MemoryStream::size() {
    return m_buffer == nullptr ? -1 : m_size;
}

bool MemoryStream::flush() {
    return m_buffer != nullptr;
}

bool MemoryStream::eof() {
    return m_buffer == nullptr || m_position >= m_size;
}

int32_t MemoryStream::error() {
    if (m_buffer == nullptr)
        return -1;
    return m_position > m_size ? 1 : 0;
}

bool MemoryStream::putc(uint8_t byte) {
    if (m_buffer == nullptr)
        return false;
    if (!prepareWrite(int64_t(m_position) + 1))
        return false;
    m_buffer[m_position++] = byte;
    if (m_position > m_size)
        m_size = m_position;
    return true;
}

int MemoryStream::getc() {
    if (eof())
        return -1;
    return m_buffer[m_position++];
}

}  // namespace rendova
