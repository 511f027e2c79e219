#pragma once

#include <cstdio>

#include "engine/core/DataStream.h"

namespace rendova {

// A source over a range of an open file, read in chunks of at most 256 bytes
// and never past the end of a limited range. The file handle belongs to the
// document and is shared by every sub-range; the source never closes it.
// Each refill seeks to the source's own position first, so sources on one
// handle may be read in turn. reset() remembers the handle's position and
// close() (or the destructor) restores it, so a stream read in the middle of
// another read leaves the other reader's position intact; streams on one file
// are closed in the reverse order of their resets. One thread at a time for
// all the sources of a file; never throws.
class FileSource : public SourceStream {
public:
    // When limited is false the source runs to the end of the file.
    FileSource(std::FILE* file, uint32_t start, bool limited, uint32_t length, PdfValue&& dict);

    int getKind() override { return kFileKind; }
    void reset() override;
    void close() override;
    int getChar() override {
        if (m_read >= m_end && !refill())
            return -1;
        return *m_read++;
    }
    int peekChar() override {
        if (m_read >= m_end && !refill())
            return -1;
        return *m_read;
    }
    int peekBuffered(const uint8_t** bytes) override {
        if (m_read >= m_end && !refill())
            return 0;
        *bytes = m_read;
        return static_cast<int>(m_end - m_read);
    }
    void skipBuffered(int count) override { m_read += count; }
    int64_t getPos() override { return m_bufferPos + (m_read - m_buffer); }
    // Direction 0 or more: the absolute position. Negative: position bytes
    // back from the end of the file (at most to offset 0), which is how the
    // tail of the file is read.
    void setPos(uint32_t position, int direction) override;
    RefPtr<SourceStream> makeSubrange(uint32_t start, bool limited, uint32_t length,
                                      PdfValue&& dict) override;
    uint32_t getStart() override { return m_start; }
    void shiftStart(int delta) override;

protected:
    ~FileSource() override;

private:
    static constexpr int kBufferSize = 256;

    bool refill();
    void emptyBuffer() { m_read = m_end = m_buffer; }

    std::FILE* m_file;
    uint32_t m_start;
    bool m_limited;
    uint32_t m_length;
    unsigned char m_buffer[kBufferSize];
    unsigned char* m_read;
    unsigned char* m_end;
    // File offset of the buffer's first byte.
    int64_t m_bufferPos;
    int64_t m_savedPos = 0;
    bool m_saved = false;
};

}  // namespace rendova
