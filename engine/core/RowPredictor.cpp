#include "engine/core/RowPredictor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/core/DataStream.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// Components per pixel: no colour space of the format has more than 32.
constexpr int kMaxColors = 32;
// Bits per component: the format's widest sample is 16 bits.
constexpr int kMaxBits = 16;
// The TIFF pass reads and writes samples three bytes at a time; this many
// spare bytes after the row keep those accesses inside the buffer.
constexpr int kRowSlack = 4;

}  // namespace

RowPredictor::RowPredictor(DataStream* decoder, int predictor, int width, int colors, int bits)
    : m_decoder(decoder), m_predictor(predictor), m_width(width), m_colors(colors), m_bits(bits) {
    if (width <= 0 || colors <= 0 || bits <= 0 || colors > kMaxColors || bits > kMaxBits ||
        width >= 0x7fffffff / colors || width * colors >= 0x7ffffff8 / bits) {
        return;
    }
    m_samplesPerRow = width * colors;
    m_pixelBytes = (colors * bits + 7) >> 3;
    m_rowBytes = m_pixelBytes + ((m_samplesPerRow * bits + 7) >> 3);
    m_row = static_cast<uint8_t*>(memAlloc(checkedAdd(m_rowBytes, kRowSlack)));
    m_coded = static_cast<uint8_t*>(memAlloc(m_rowBytes));
    m_valid = true;
    reset();
}

RowPredictor::~RowPredictor() {
    memFree(m_row);
    memFree(m_coded);
}

int RowPredictor::getBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        if (m_readPos >= m_rowBytes && !decodeRow())
            break;
        const int count = std::min(m_rowBytes - m_readPos, size - n);
        std::memcpy(buffer + n, m_row + m_readPos, static_cast<size_t>(count));
        m_readPos += count;
        n += count;
    }
    return n;
}

void RowPredictor::reset() {
    if (!m_valid)
        return;
    std::memset(m_row, 0, static_cast<size_t>(m_rowBytes) + kRowSlack);
    m_readPos = m_rowBytes;
}

bool RowPredictor::decodeRow() {
    if (!m_valid)
        return false;
    int rowPredictor = m_predictor;
    if (m_predictor >= 10) {
        int tag = m_decoder->readRawByte();
        if (tag == -1)
            return false;
        rowPredictor = tag + 10;
    }

    uint8_t* row = m_row;
    const int pixelBytes = m_pixelBytes;
    // The row's coded bytes in one block: a short last row is delivered
    // with the previous row's bytes after the break; no data at all for the
    // row ends the stream.
    const int count = m_decoder->readRawBlock(m_coded, m_rowBytes - pixelBytes);
    if (count == 0)
        return false;
    const int end = pixelBytes + count;
    const uint8_t* coded = m_coded;  // coded[i - pixelBytes] goes with row[i]

    // Each pass reads left (row[i - pixelBytes], already reconstructed) and
    // up (row[i], still the previous row's) before writing row[i].
    switch (rowPredictor) {
        case 11:  // PNG Sub
            for (int i = pixelBytes; i < end; ++i)
                row[i] = static_cast<uint8_t>(row[i - pixelBytes] + coded[i - pixelBytes]);
            break;
        case 12:  // PNG Up
            for (int i = pixelBytes; i < end; ++i)
                row[i] = static_cast<uint8_t>(row[i] + coded[i - pixelBytes]);
            break;
        case 13:  // PNG Average
            for (int i = pixelBytes; i < end; ++i)
                row[i] = static_cast<uint8_t>(((row[i - pixelBytes] + row[i]) >> 1) + coded[i - pixelBytes]);
            break;
        case 14: {  // PNG Paeth
            // The upper-left byte of byte i is the previous row's byte
            // i - pixelBytes, which the pass has already overwritten: keep
            // the last pixelBytes bytes of the previous row in a small ring
            // (zeros left of the first pixel).
            uint8_t upperLeft[(kMaxColors * kMaxBits + 7) / 8] = {};
            int ring = 0;
            for (int i = pixelBytes; i < end; ++i) {
                const int left = row[i - pixelBytes];
                const int up = row[i];
                const int ul = upperLeft[ring];
                upperLeft[ring] = static_cast<uint8_t>(up);
                if (++ring == pixelBytes)
                    ring = 0;
                const int p = left + up - ul;
                const int pa = std::abs(p - left);
                const int pb = std::abs(p - up);
                const int pc = std::abs(p - ul);
                const int predicted = (pa <= pb && pa <= pc) ? left : (pb <= pc ? up : ul);
                row[i] = static_cast<uint8_t>(predicted + coded[i - pixelBytes]);
            }
            break;
        }
        default:  // PNG None, unknown tags, TIFF before its own pass
            std::memcpy(row + pixelBytes, coded, static_cast<size_t>(count));
            break;
    }

    if (m_predictor == 2)
        undoTiffDifferencing();
    m_readPos = pixelBytes;
    return true;
}

void RowPredictor::undoTiffDifferencing() {
    uint8_t* row = m_row + m_pixelBytes;
    const int colors = m_colors;
    if (m_bits == 8) {
        const int n = m_samplesPerRow;
        for (int i = colors; i < n; ++i)
            row[i] = static_cast<uint8_t>(row[i] + row[i - colors]);
        return;
    }
    // Samples of any other width are unpacked most significant bit first,
    // summed per component modulo 2^bits and packed back in place. A sample
    // of at most 16 bits at any bit offset lies within three bytes; the
    // padding bits of a final partial byte are left as they came.
    const int bits = m_bits;
    const uint32_t mask = (1u << bits) - 1;
    uint32_t sums[kMaxColors] = {};
    int component = 0;
    int64_t bitPos = 0;
    for (int s = 0; s < m_samplesPerRow; ++s, bitPos += bits) {
        uint8_t* p = row + (bitPos >> 3);
        const int shift = 24 - static_cast<int>(bitPos & 7) - bits;
        uint32_t window = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        const uint32_t value = (((window >> shift) & mask) + sums[component]) & mask;
        sums[component] = value;
        window = (window & ~(mask << shift)) | (value << shift);
        p[0] = static_cast<uint8_t>(window >> 16);
        p[1] = static_cast<uint8_t>(window >> 8);
        p[2] = static_cast<uint8_t>(window);
        if (++component == colors)
            component = 0;
    }
}

}  // namespace rendova
