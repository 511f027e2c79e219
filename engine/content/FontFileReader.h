#pragma once

#include <cstdint>

namespace rendova {

// The base of the font-file parsers (CffFontFile, Type1FontFile,
// TrueTypeFontFile): a byte buffer with big-endian reads that check every
// byte against the buffer, so that a truncated or hostile file never makes a
// read fault. A read outside the buffer answers 0 and clears the caller's ok
// flag.
//
// Ownership: the buffer is the caller's, or the reader's own when it says so
// (then freed with memFree by the destructor). One thread at a time. Never
// throws except MemoryException from readWholeFile.
class FontFileReader {
public:
    virtual ~FontFileReader();
    FontFileReader(const FontFileReader&) = delete;
    FontFileReader& operator=(const FontFileReader&) = delete;

    int getByte(int64_t pos, bool& ok) const;
    // Sign-extended.
    int getS16(int64_t pos, bool& ok) const;
    int getU16(int64_t pos, bool& ok) const;
    uint32_t getU32(int64_t pos, bool& ok) const;
    // `size` bytes (1 to 4; any other size clears ok).
    uint32_t getUVar(int64_t pos, int size, bool& ok) const;
    // Whether pos .. pos + size lies within the buffer (false for a negative
    // position or size).
    bool checkRange(int64_t pos, int64_t size) const;

    const uint8_t* getBuffer() const { return m_buffer; }
    int getLength() const { return m_length; }

    // The whole file as a new memAlloc'd block, its size in *length; null
    // when the file does not open, is larger than the engine's 32-bit sizes,
    // or cannot be read whole.
    static uint8_t* readWholeFile(const char* fileName, int* length);

protected:
    // Reads `length` bytes at `buffer`; `owned` is a memAlloc'd block that
    // the reader frees (null when the buffer stays the caller's).
    FontFileReader(const uint8_t* buffer, int length, uint8_t* owned);

    // Moves the start of the buffer one byte forward (a CFF table with a
    // stray leading byte).
    void skipFirstByte();

    const uint8_t* m_buffer;
    int m_length;

private:
    uint8_t* m_owned;
};

}  // namespace rendova
