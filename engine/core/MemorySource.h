#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>

#include "engine/core/DataStream.h"

namespace rendova {

// A source over bytes in memory: the range [start, start + length) of a
// buffer. The buffer belongs to the creator unless setOwnsBuffer(true) hands
// it over (it must then come from memAlloc and is freed with the source);
// sub-ranges share the buffer and never own it, so the owner must outlive
// them. Owns its dictionary value. One thread at a time; never throws.
class MemorySource : public SourceStream {
public:
    MemorySource(const char* buffer, uint32_t start, uint32_t length, PdfValue&& dict);

    void setOwnsBuffer(bool owns) { m_ownsBuffer = owns; }

    int getKind() override { return kOtherKind; }
    void reset() override { m_read = m_base + m_start; }
    int getChar() override { return m_read < m_end ? *m_read++ : -1; }
    int peekChar() override { return m_read < m_end ? *m_read : -1; }
    int peekBuffered(const uint8_t** bytes) override {
        *bytes = m_read;
        return static_cast<int>(std::min<ptrdiff_t>(m_end - m_read, INT_MAX));
    }
    void skipBuffered(int count) override { m_read += count; }
    int getBlock(uint8_t* buffer, int size) override;
    int64_t getPos() override { return m_read - m_base; }
    // A negative direction counts back from the end; the result is kept
    // within the source's range.
    void setPos(uint32_t position, int direction) override;
    // start is an offset into the buffer, as this source's own start is. The
    // range is cut at this source's end; a start past the end gives an empty
    // range there.
    RefPtr<SourceStream> makeSubrange(uint32_t start, bool limited, uint32_t length,
                                      PdfValue&& dict) override;
    uint32_t getStart() override { return m_start; }
    void shiftStart(int delta) override;

protected:
    ~MemorySource() override;

private:
    const unsigned char* m_base;
    uint32_t m_start;
    uint32_t m_length;
    const unsigned char* m_end;
    const unsigned char* m_read;
    bool m_ownsBuffer = false;
};

}  // namespace rendova
