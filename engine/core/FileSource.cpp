#include "engine/core/FileSource.h"

#include <sys/types.h>

#include <algorithm>

#include "engine/core/PdfValue.h"

namespace rendova {

FileSource::FileSource(std::FILE* file, uint32_t start, bool limited, uint32_t length, PdfValue&& dict)
    : SourceStream(std::move(dict)),
      m_file(file),
      m_start(start),
      m_limited(limited),
      m_length(length),
      m_read(m_buffer),
      m_end(m_buffer),
      m_bufferPos(start) {}

FileSource::~FileSource() {
    close();
}

void FileSource::reset() {
    // Only the first reset of a use remembers the handle's position: a
    // second one would remember our own position and lose the outer reader's.
    if (!m_saved) {
        m_savedPos = ftello(m_file);
        m_saved = true;
    }
    fseeko(m_file, off_t(m_start), SEEK_SET);
    emptyBuffer();
    m_bufferPos = m_start;
}

void FileSource::close() {
    if (m_saved) {
        fseeko(m_file, off_t(m_savedPos), SEEK_SET);
        m_saved = false;
    }
}

bool FileSource::refill() {
    m_bufferPos += m_end - m_buffer;
    emptyBuffer();
    int64_t request = kBufferSize;
    if (m_limited) {
        const int64_t limit = int64_t(m_start) + m_length;
        if (m_bufferPos >= limit)
            return false;
        if (limit < m_bufferPos + kBufferSize)
            request = limit - m_bufferPos;
    }
    // Other sources share the handle and may have moved it since our last
    // read: always read from our own position.
    if (fseeko(m_file, off_t(m_bufferPos), SEEK_SET) != 0)
        return false;
    const size_t n = std::fread(m_buffer, 1, size_t(request), m_file);
    m_end = m_buffer + n;
    return n > 0;
}

void FileSource::setPos(uint32_t position, int direction) {
    if (direction >= 0) {
        fseeko(m_file, off_t(position), SEEK_SET);
        m_bufferPos = position;
    } else {
        fseeko(m_file, 0, SEEK_END);
        const int64_t size = ftello(m_file);
        const int64_t back = size < 0 ? 0 : (uint64_t(size) < position ? size : int64_t(position));
        fseeko(m_file, off_t(-back), SEEK_END);
        m_bufferPos = ftello(m_file);
        if (m_bufferPos < 0)
            m_bufferPos = 0;
    }
    emptyBuffer();
}

RefPtr<SourceStream> FileSource::makeSubrange(uint32_t start, bool limited, uint32_t length,
                                              PdfValue&& dict) {
    return RefPtr<SourceStream>::adopt(new FileSource(m_file, start, limited, length, std::move(dict)));
}

void FileSource::shiftStart(int delta) {
    // A shift before the file's start stops at offset 0.
    m_start = uint32_t(std::clamp<int64_t>(int64_t(m_start) + delta, 0, UINT32_MAX));
    emptyBuffer();
    m_bufferPos = m_start;
}

}  // namespace rendova
