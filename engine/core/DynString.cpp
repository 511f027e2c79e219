#include "engine/core/DynString.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <functional>

#include "engine/core/Memory.h"

namespace rendova {

int64_t DynString::capacityFor(int64_t length) {
    int64_t step = 8;
    while (step < length && step < 0x100000)
        step <<= 1;
    return (length + step) / step * step;
}

void DynString::resize(int64_t newLength) {
    int64_t newCapacity = capacityFor(newLength);
    if (newLength < 0 || newCapacity > INT_MAX)
        throw MemoryException();
    if (!m_buffer || capacityFor(m_length) != newCapacity) {
        char* block = static_cast<char*>(memAlloc(static_cast<int>(newCapacity)));
        if (m_buffer) {
            std::memcpy(block, m_buffer, static_cast<size_t>(newLength < m_length ? newLength : m_length));
            memFree(m_buffer);
        }
        m_buffer = block;
    }
    m_length = static_cast<int>(newLength);
}

DynString::DynString() {
    resize(0);
    m_buffer[0] = '\0';
}

DynString::DynString(const char* text) : DynString(text, static_cast<int>(std::strlen(text))) {}

DynString::DynString(const char* bytes, int length) {
    resize(length);
    if (length > 0)
        std::memcpy(m_buffer, bytes, static_cast<size_t>(length));
    m_buffer[m_length] = '\0';
}

DynString::DynString(const DynString& source, int start, int length)
    : DynString(source.m_buffer + start, length) {}

DynString::DynString(const DynString& other) : DynString(other.m_buffer, other.m_length) {}

DynString::~DynString() {
    memFree(m_buffer);
}

DynString& DynString::clear() {
    resize(0);
    m_buffer[0] = '\0';
    return *this;
}

DynString& DynString::appendChar(char c) {
    int old = m_length;
    resize(int64_t(m_length) + 1);
    m_buffer[old] = c;
    m_buffer[m_length] = '\0';
    return *this;
}

DynString& DynString::appendBytes(const char* bytes, int n) {
    if (n <= 0)
        return *this;
    // Bytes taken from this very string would be freed with the old block
    // when it moves: append from a copy instead.
    std::less_equal<const char*> lessEqual;
    if (lessEqual(m_buffer, bytes) && lessEqual(bytes, m_buffer + m_length)) {
        DynString copy(bytes, n);
        return appendBytes(copy.m_buffer, copy.m_length);
    }
    int old = m_length;
    resize(int64_t(m_length) + n);
    std::memcpy(m_buffer + old, bytes, static_cast<size_t>(n));
    m_buffer[m_length] = '\0';
    return *this;
}

DynString& DynString::append(const DynString& other) {
    // appendBytes copies first when the bytes are this string's own.
    return appendBytes(other.m_buffer, other.m_length);
}

DynString& DynString::appendCStr(const char* text) {
    size_t n = std::strlen(text);
    if (n > static_cast<size_t>(INT_MAX))
        throw MemoryException();
    return appendBytes(text, static_cast<int>(n));
}

DynString& DynString::insertChar(int position, char c) {
    int old = m_length;
    resize(int64_t(m_length) + 1);
    std::memmove(m_buffer + position + 1, m_buffer + position, static_cast<size_t>(old - position));
    m_buffer[position] = c;
    m_buffer[m_length] = '\0';
    return *this;
}

DynString& DynString::erase(int position, int n) {
    if (n <= 0)
        return *this;
    if (n > m_length - position)
        n = m_length - position;
    // Move the tail down before the block may shrink.
    std::memmove(m_buffer + position, m_buffer + position + n, static_cast<size_t>(m_length - position - n));
    resize(int64_t(m_length) - n);
    m_buffer[m_length] = '\0';
    return *this;
}

DynString& DynString::toUpper() {
    for (int i = 0; i < m_length; ++i) {
        unsigned char c = static_cast<unsigned char>(m_buffer[i]);
        if (c >= 'a' && c <= 'z')
            m_buffer[i] = static_cast<char>(c - 'a' + 'A');
    }
    return *this;
}

DynString& DynString::toLower() {
    for (int i = 0; i < m_length; ++i) {
        unsigned char c = static_cast<unsigned char>(m_buffer[i]);
        if (c >= 'A' && c <= 'Z')
            m_buffer[i] = static_cast<char>(c - 'A' + 'a');
    }
    return *this;
}

int DynString::compare(const DynString& other) const {
    int n = m_length < other.m_length ? m_length : other.m_length;
    for (int i = 0; i < n; ++i) {
        int a = static_cast<signed char>(m_buffer[i]);
        int b = static_cast<signed char>(other.m_buffer[i]);
        if (a != b)
            return a - b;
    }
    return m_length - other.m_length;
}

int DynString::compareCStr(const char* text) const {
    int i = 0;
    for (; i < m_length; ++i) {
        if (text[i] == '\0')
            return 1;
        int a = static_cast<signed char>(m_buffer[i]);
        int b = static_cast<signed char>(text[i]);
        if (a != b)
            return a - b;
    }
    return text[i] == '\0' ? 0 : -1;
}

}  // namespace rendova
