#include "engine/content/FontFileReader.h"

#include <climits>
#include <cstdio>

#include "engine/core/FileUtils.h"
#include "engine/core/Memory.h"

namespace rendova {

FontFileReader::FontFileReader(const uint8_t* buffer, int length, uint8_t* owned)
    : m_buffer(buffer), m_length(length > 0 ? length : 0), m_owned(owned) {}

FontFileReader::~FontFileReader() {
    memFree(m_owned);
}

void FontFileReader::skipFirstByte() {
    if (m_length > 0) {
        ++m_buffer;
        --m_length;
    }
}

bool FontFileReader::checkRange(int64_t pos, int64_t size) const {
    return pos >= 0 && size >= 0 && pos <= m_length && size <= m_length - pos;
}

int FontFileReader::getByte(int64_t pos, bool& ok) const {
    if (pos < 0 || pos >= m_length) {
        ok = false;
        return 0;
    }
    return m_buffer[pos];
}

int FontFileReader::getS16(int64_t pos, bool& ok) const {
    int value = getU16(pos, ok);
    return value >= 0x8000 ? value - 0x10000 : value;
}

int FontFileReader::getU16(int64_t pos, bool& ok) const {
    if (!checkRange(pos, 2)) {
        ok = false;
        return 0;
    }
    return (m_buffer[pos] << 8) | m_buffer[pos + 1];
}

uint32_t FontFileReader::getU32(int64_t pos, bool& ok) const {
    return getUVar(pos, 4, ok);
}

uint32_t FontFileReader::getUVar(int64_t pos, int size, bool& ok) const {
    if (size < 1 || size > 4 || !checkRange(pos, size)) {
        ok = false;
        return 0;
    }
    uint32_t value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | m_buffer[pos + i];
    return value;
}

uint8_t* FontFileReader::readWholeFile(const char* fileName, int* length) {
    *length = 0;
    FileHandle file(std::fopen(fileName, "rb"));
    if (!file)
        return nullptr;
    long size = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        size = std::ftell(file.get());
    if (size < 0 || size > INT_MAX || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    MemPtr<uint8_t> buffer(static_cast<uint8_t*>(memAlloc(size > 0 ? static_cast<int>(size) : 1)));
    if (std::fread(buffer.get(), 1, static_cast<size_t>(size), file.get()) != static_cast<size_t>(size))
        return nullptr;
    *length = static_cast<int>(size);
    return buffer.release();
}

}  // namespace rendova
