#include "engine/core/MemorySource.h"

#include <algorithm>
#include <cstring>

#include "engine/core/Memory.h"
#include "engine/core/PdfValue.h"

namespace rendova {

MemorySource::MemorySource(const char* buffer, uint32_t start, uint32_t length, PdfValue&& dict)
    : SourceStream(std::move(dict)),
      m_base(reinterpret_cast<const unsigned char*>(buffer)),
      m_start(start),
      m_length(length),
      m_end(m_base + start + length),
      m_read(m_base + start) {}

MemorySource::~MemorySource() {
    if (m_ownsBuffer)
        memFree(const_cast<unsigned char*>(m_base));
}

int MemorySource::getBlock(uint8_t* buffer, int size) {
    if (m_read >= m_end || size <= 0)
        return 0;
    const int count = int(std::min<ptrdiff_t>(m_end - m_read, size));
    std::memcpy(buffer, m_read, size_t(count));
    m_read += count;
    return count;
}

void MemorySource::setPos(uint32_t position, int direction) {
    const int64_t start = m_start;
    const int64_t end = start + m_length;
    int64_t target = direction < 0 ? end - int64_t(position) : int64_t(position);
    target = std::clamp(target, start, end);
    m_read = m_base + target;
}

RefPtr<SourceStream> MemorySource::makeSubrange(uint32_t start, bool limited, uint32_t length,
                                                PdfValue&& dict) {
    // 64-bit arithmetic: a start past this source's end (from a damaged
    // offset) would otherwise wrap the length around to almost 4 GB.
    const int64_t end = int64_t(m_start) + m_length;
    int64_t newStart = std::min<int64_t>(start, end);
    int64_t newLength = length;
    if (!limited || newStart + newLength > end)
        newLength = end - newStart;
    return RefPtr<SourceStream>::adopt(new MemorySource(
        reinterpret_cast<const char*>(m_base), uint32_t(newStart), uint32_t(newLength), std::move(dict)));
}

void MemorySource::shiftStart(int delta) {
    // The range keeps its end; the start stays within the buffer's range.
    const int64_t end = int64_t(m_start) + m_length;
    const int64_t newStart = std::clamp<int64_t>(int64_t(m_start) + delta, 0, end);
    m_start = uint32_t(newStart);
    m_length = uint32_t(end - newStart);
    m_read = m_base + m_start;
}

}  // namespace rendova
