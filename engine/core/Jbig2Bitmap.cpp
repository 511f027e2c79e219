#include "engine/core/Jbig2Bitmap.h"

#include <algorithm>
#include <cstring>

#include "engine/core/ArithDecoder.h"
#include "engine/core/Jbig2HuffmanTable.h"
#include "engine/core/Memory.h"

namespace rendova {

namespace {

// No bitmap of a document is larger: a page of A0 at 600 dpi takes 70 MB,
// and a stream of a few bytes must not make the decoder take gigabytes.
constexpr int64_t kMaxBitmapBytes = int64_t(1) << 27;

// The 8 bits of a row that start at bit position bit (which may be negative
// or run past the row: those bits are 0).
inline uint32_t bitsAt(const uint8_t* row, int line, int64_t bit) {
    const int64_t index = bit >> 3;
    const int shift = int(bit & 7);
    const uint32_t hi = index >= 0 && index < line ? row[index] : 0;
    const uint32_t lo = index + 1 >= 0 && index + 1 < line ? row[index + 1] : 0;
    return (((hi << 8) | lo) >> (8 - shift)) & 0xFF;
}

}  // namespace

bool Jbig2Bitmap::sizeInRange(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0 || width > 0x7ffffff8)
        return false;
    return (width + 7) / 8 * height <= kMaxBitmapBytes;
}

Jbig2Bitmap::Jbig2Bitmap(uint32_t number, int width, int height)
    : Jbig2Segment(number), m_width(width), m_height(height), m_line(width > 0 ? (width + 7) / 8 : 0) {
    if (!sizeInRange(width, height)) {
        m_width = m_height = m_line = 0;
        return;
    }
    // One byte more than the rows, so that reading a byte ahead of the last
    // pixel stays inside the block.
    const int size = m_line * m_height + 1;
    m_data = static_cast<uint8_t*>(memAlloc(size));
    std::memset(m_data, 0, size_t(size));
}

Jbig2Bitmap::~Jbig2Bitmap() {
    memFree(m_data);
}

void Jbig2Bitmap::clearPadding() {
    if (!m_data || !(m_width & 7))
        return;
    const uint8_t mask = uint8_t(0xFF << (8 - (m_width & 7)));
    for (int y = 0; y < m_height; ++y)
        row(y)[m_line - 1] &= mask;
}

void Jbig2Bitmap::clearTo(int pixel) {
    if (!m_data)
        return;
    std::memset(m_data, pixel ? 0xFF : 0, size_t(m_line) * size_t(m_height));
    if (pixel)
        clearPadding();
}

bool Jbig2Bitmap::expand(int newHeight, int pixel) {
    if (!m_data || newHeight <= m_height)
        return m_data != nullptr;
    if (!sizeInRange(m_width, newHeight))
        return false;
    const int size = m_line * newHeight + 1;
    m_data = static_cast<uint8_t*>(memRealloc(m_data, size));
    uint8_t* first = m_data + size_t(m_line) * size_t(m_height);
    std::memset(first, pixel ? 0xFF : 0, size_t(m_line) * size_t(newHeight - m_height) + 1);
    m_data[size - 1] = 0;
    const int oldHeight = m_height;
    m_height = newHeight;
    if (pixel && (m_width & 7)) {
        const uint8_t mask = uint8_t(0xFF << (8 - (m_width & 7)));
        for (int y = oldHeight; y < m_height; ++y)
            row(y)[m_line - 1] &= mask;
    }
    return true;
}

void Jbig2Bitmap::duplicateRow(int yDest, int ySource) {
    if (!m_data || yDest < 0 || yDest >= m_height || ySource < 0 || ySource >= m_height)
        return;
    std::memcpy(row(yDest), row(ySource), size_t(m_line));
}

std::unique_ptr<Jbig2Bitmap> Jbig2Bitmap::getSlice(int x, int y, int width, int height) const {
    auto slice = std::make_unique<Jbig2Bitmap>(0, width, height);
    // The slice starts at 0, and the combination clips to this bitmap.
    if (slice->isValid() && m_data)
        slice->combine(*this, -int64_t(x), -int64_t(y), kReplace);
    return slice;
}

namespace {

template <int kOp>
inline uint32_t apply(uint32_t d, uint32_t s) {
    if constexpr (kOp == Jbig2Bitmap::kOr)
        return d | s;
    if constexpr (kOp == Jbig2Bitmap::kAnd)
        return d & s;
    if constexpr (kOp == Jbig2Bitmap::kXor)
        return d ^ s;
    if constexpr (kOp == Jbig2Bitmap::kXnor)
        return ~(d ^ s);
    return s;
}

// One row of a combination: source bits from bit position x0 - x on go to
// destination bytes firstByte..lastByte, the edge bytes masked. The inner
// bytes take whole source bytes without bounds tests (they lie inside the
// source row); the two edge bytes may reach one byte past either end.
template <int kOp>
void combineRow(uint8_t* dst, const uint8_t* src, int srcLine, int64_t x, int firstByte, int lastByte,
                uint8_t firstMask, uint8_t lastMask) {
    auto edge = [&](int b, uint8_t mask) {
        const uint32_t r = apply<kOp>(dst[b], bitsAt(src, srcLine, int64_t(b) * 8 - x));
        dst[b] = uint8_t((dst[b] & ~mask) | (r & mask));
    };
    if (firstByte == lastByte) {
        edge(firstByte, uint8_t(firstMask & lastMask));
        return;
    }
    edge(firstByte, firstMask);
    const int64_t bit0 = int64_t(firstByte + 1) * 8 - x;
    const int shift = int(bit0 & 7);
    const uint8_t* s = src + (bit0 >> 3);
    if (shift == 0) {
        for (int b = firstByte + 1; b < lastByte; ++b, ++s)
            dst[b] = uint8_t(apply<kOp>(dst[b], *s));
    } else {
        // (s[0] s[1]) >> (8 - shift): the 8 bits that start shift bits
        // into s[0].
        for (int b = firstByte + 1; b < lastByte; ++b, ++s)
            dst[b] = uint8_t(apply<kOp>(dst[b], uint32_t(((s[0] << 8) | s[1]) >> (8 - shift)) & 0xFF));
    }
    edge(lastByte, lastMask);
}

}  // namespace

void Jbig2Bitmap::combine(const Jbig2Bitmap& source, int64_t x, int64_t y, int op) {
    if (!m_data || !source.m_data || op < kOr || op > kReplace)
        return;
    const int64_t x0 = std::max<int64_t>(x, 0);
    const int64_t x1 = std::min<int64_t>(x + source.m_width, m_width);
    const int64_t y0 = std::max<int64_t>(y, 0);
    const int64_t y1 = std::min<int64_t>(y + source.m_height, m_height);
    if (x0 >= x1 || y0 >= y1)
        return;
    const int firstByte = int(x0 >> 3);
    const int lastByte = int((x1 - 1) >> 3);
    const uint8_t firstMask = uint8_t(0xFF >> (x0 & 7));
    const uint8_t lastMask = uint8_t(0xFF << (7 - ((x1 - 1) & 7)));
    auto rows = [&](auto combineOne) {
        for (int64_t dy = y0; dy < y1; ++dy)
            combineOne(row(int(dy)), source.row(int(dy - y)), source.m_line, x, firstByte, lastByte,
                       firstMask, lastMask);
    };
    switch (op) {
        case kOr:
            rows(combineRow<kOr>);
            break;
        case kAnd:
            rows(combineRow<kAnd>);
            break;
        case kXor:
            rows(combineRow<kXor>);
            break;
        case kXnor:
            rows(combineRow<kXnor>);
            break;
        default:
            rows(combineRow<kReplace>);
            break;
    }
}

Jbig2SymbolDict::~Jbig2SymbolDict() = default;

Jbig2CodeTable::Jbig2CodeTable(uint32_t number) : Jbig2Segment(number) {}
Jbig2CodeTable::~Jbig2CodeTable() = default;

}  // namespace rendova
