#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rendova {

// One line of a JBIG2 Huffman table: values low to low + 2^rangeLength - 1
// behind a prefix code of prefixLength bits (0: the line has no code). A
// lower-range line gives low minus a 32-bit number, the out-of-band line no
// value. Codes are assigned by buildHuffmanCodes.
struct Jbig2HuffmanRow {
    enum Kind : uint8_t { kRange = 0, kLower = 1, kOutOfBand = 2 };
    int32_t low;
    int prefixLength;
    int rangeLength;
    Kind kind;
    uint32_t code;
};

// Reads bits most significant first from a byte range that it does not own;
// past the end it reads 0 bits and remembers that it ran out.
class Jbig2BitReader {
public:
    Jbig2BitReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    uint32_t peekBits(int count) {
        while (m_cacheBits < count) {
            m_cache = (m_cache << 8) | (m_pos < m_size ? m_data[m_pos] : 0u);
            ++m_pos;
            m_cacheBits += 8;
        }
        return uint32_t((m_cache >> (m_cacheBits - count)) & ((uint64_t(1) << count) - 1));
    }
    void skipBits(int count) {
        peekBits(count);
        m_cacheBits -= count;
    }
    uint32_t readBits(int count) {
        if (count == 0)
            return 0;
        const uint32_t v = peekBits(count);
        m_cacheBits -= count;
        return v;
    }
    int readBit() { return int(readBits(1)); }
    void alignToByte() { m_cacheBits -= m_cacheBits & 7; }
    // Bytes consumed, a partly read byte included.
    size_t bytesRead() const { return m_pos - size_t(m_cacheBits / 8); }
    void skipBytes(size_t count) {
        alignToByte();
        const size_t at = bytesRead() + count;
        m_cache = 0;
        m_cacheBits = 0;
        m_pos = at;
    }
    bool pastEnd() const { return bytesRead() > m_size; }
    size_t size() const { return m_size; }
    const uint8_t* data() const { return m_data; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    uint64_t m_cache = 0;
    int m_cacheBits = 0;
};

// A cursor over segment data for the fixed fields of a segment, big-endian;
// a field past the end reads 0 and clears ok().
class Jbig2FieldReader {
public:
    Jbig2FieldReader(const uint8_t* data, size_t size, size_t pos) : m_data(data), m_size(size), m_pos(pos) {}
    bool ok() const { return m_ok; }
    size_t pos() const { return m_pos; }
    uint32_t u8() { return take(1); }
    uint32_t u16() { return take(2); }
    uint32_t u32() { return take(4); }
    int32_t s32() { return int32_t(take(4)); }
    int s8() { return int(int8_t(uint8_t(take(1)))); }

private:
    uint32_t take(int count) {
        if (m_pos + size_t(count) > m_size) {
            m_ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < count; ++i)
            v = (v << 8) | m_data[m_pos++];
        return v;
    }
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos;
    bool m_ok = true;
};

// A Huffman table. Before building, rows holds the lines in their order in
// the data; building assigns the canonical codes (by prefix length, in line
// order) and keeps the lines that have a code, sorted by prefix length and
// code, so that the lines of prefix length n are rows[start[n]] to
// rows[start[n + 1] - 1] with consecutive codes.
struct Jbig2HuffmanTable {
    std::vector<Jbig2HuffmanRow> rows;
    uint32_t start[34] = {};
};

// False when a prefix is too long to decode.
bool buildHuffmanCodes(Jbig2HuffmanTable& table);

enum class HuffmanResult { kValue, kOutOfBand, kNoCode };
HuffmanResult decodeHuffman(Jbig2BitReader& reader, const Jbig2HuffmanTable& table, int64_t* value);

// The standard tables B.1 to B.15 (number 1 to 15), built.
const Jbig2HuffmanTable& standardHuffmanTable(int number);

}  // namespace rendova
