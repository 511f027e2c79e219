#include "image/FileImageStream.h"

#include <limits>

namespace rendova {

FileImageStream::FileImageStream(std::FILE* handle) : m_handle(handle), m_closeOnDestroy(handle == nullptr) {}

FileImageStream::FileImageStream(const char* fileName, const char* mode)
    : m_handle(fileName != nullptr && mode != nullptr ? std::fopen(fileName, mode) : nullptr),
      m_closeOnDestroy(true) {}

FileImageStream::~FileImageStream() {
    if (m_closeOnDestroy)
        close();
}

bool FileImageStream::close() {
    if (m_handle == nullptr || !m_closeOnDestroy)
        return true;
    const bool closed = std::fclose(m_handle) == 0;
    m_handle = nullptr;
    return closed;
}

size_t FileImageStream::read(void* buffer, size_t itemSize, size_t count) {
    if (m_handle == nullptr || buffer == nullptr)
        return 0;
    return std::fread(buffer, itemSize, count, m_handle);
}

size_t FileImageStream::write(const void* buffer, size_t itemSize, size_t count) {
    if (m_handle == nullptr || buffer == nullptr)
        return 0;
    return std::fwrite(buffer, itemSize, count, m_handle);
}

bool FileImageStream::seek(int32_t offset, int origin) {
    if (m_handle == nullptr)
        return false;
    return std::fseek(m_handle, offset, origin) == 0;
}

int32_t FileImageStream::tell() {
    if (m_handle == nullptr)
        return -1;
    const long position = std::ftell(m_handle);
    // Positions past the signed 32-bit range cannot be told to the codecs.
    return position > std::numeric_limits<int32_t>::max() ? -1 : int32_t(position);
}

int32_t FileImageStream::size() {
    if (m_handle == nullptr)
        return -1;
    const long position = std::ftell(m_handle);
    if (position < 0 || std::fseek(m_handle, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(m_handle);
    std::fseek(m_handle, position, SEEK_SET);
    return end < 0 || end > std::numeric_limits<int32_t>::max() ? -1 : int32_t(end);
}

bool FileImageStream::flush() {
    if (m_handle == nullptr)
        return false;
    return std::fflush(m_handle) == 0;
}

bool FileImageStream::eof() {
    if (m_handle == nullptr)
        return true;
    return std::feof(m_handle) != 0;
}

int32_t FileImageStream::error() {
    if (m_handle == nullptr)
        return -1;
    return std::ferror(m_handle);
}

bool FileImageStream::putc(uint8_t byte) {
    if (m_handle == nullptr)
        return false;
    return std::fputc(byte, m_handle) == byte;
}

int FileImageStream::getc() {
    if (m_handle == nullptr)
        return -1;
    const int c = std::fgetc(m_handle);
    return c == EOF ? -1 : c;
}

}  // namespace rendova
