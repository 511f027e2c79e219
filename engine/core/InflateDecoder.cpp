#include "engine/core/InflateDecoder.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/core/ErrorReport.h"

namespace rendova {

namespace {

// RFC 1951 3.2.5: base and extra bits of the length codes 257 to 285. Codes
// 286 and 287 never occur in valid data; they are read as 258 like code 285.
struct BaseEntry {
    uint16_t base;
    uint8_t extra;
};

constexpr BaseEntry kLengthBases[31] = {
    {3, 0},  {4, 0},   {5, 0},   {6, 0},   {7, 0},   {8, 0},   {9, 0},   {10, 0},  {11, 1},  {13, 1}, {15, 1},
    {17, 1}, {19, 2},  {23, 2},  {27, 2},  {31, 2},  {35, 3},  {43, 3},  {51, 3},  {59, 3},  {67, 4}, {83, 4},
    {99, 4}, {115, 4}, {131, 5}, {163, 5}, {195, 5}, {227, 5}, {258, 0}, {258, 0}, {258, 0},
};

// RFC 1951 3.2.5: base and extra bits of the distance codes 0 to 29.
constexpr BaseEntry kDistanceBases[30] = {
    {1, 0},     {2, 0},     {3, 0},     {4, 0},      {5, 1},      {7, 1},      {9, 2},     {13, 2},
    {17, 3},    {25, 3},    {33, 4},    {49, 4},     {65, 5},     {97, 5},     {129, 6},   {193, 6},
    {257, 7},   {385, 7},   {513, 8},   {769, 8},    {1025, 9},   {1537, 9},   {2049, 10}, {3073, 10},
    {4097, 11}, {6145, 11}, {8193, 12}, {12289, 12}, {16385, 13}, {24577, 13},
};

// RFC 1951 3.2.7: the order in which the code length code lengths are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

InflateDecoder::HuffmanEntry symbolEntry(InflateDecoder::TableKind kind, int symbol, int length) {
    using D = InflateDecoder;
    D::HuffmanEntry e{0, static_cast<uint8_t>(length), 0};
    switch (kind) {
        case D::TableKind::kCodeLength:
            e.value = static_cast<uint16_t>(symbol);
            e.op = D::kOpLiteral;
            break;
        case D::TableKind::kLiteralLength:
            if (symbol < 256) {
                e.value = static_cast<uint16_t>(symbol);
                e.op = D::kOpLiteral;
            } else if (symbol == 256) {
                e.op = D::kOpEndOfBlock;
            } else {
                const BaseEntry& b = kLengthBases[symbol - 257];
                e.value = b.base;
                e.op = static_cast<uint8_t>(D::kOpBase | b.extra);
            }
            break;
        case D::TableKind::kDistance:
            // Distance codes 30 and 31 keep op 0: decoding one is an error.
            if (symbol < 30) {
                const BaseEntry& b = kDistanceBases[symbol];
                e.value = b.base;
                e.op = static_cast<uint8_t>(D::kOpBase | b.extra);
            }
            break;
    }
    return e;
}

// Reverses the low `length` bits: deflate sends Huffman codes most
// significant bit first inside a least-significant-first bit stream.
unsigned reverseBits(unsigned code, int length) {
    unsigned r = 0;
    for (int i = 0; i < length; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// The tables of the fixed codes (RFC 1951 3.2.6), built once and shared by
// every decoder. Their codes (9 and 5 bits at most) fit the first level, so
// they are replicated to its full size like any short code.
struct FixedTables {
    InflateDecoder::HuffmanEntry literalEntries[1 << InflateDecoder::kLiteralRootBits];
    InflateDecoder::HuffmanEntry distanceEntries[1 << InflateDecoder::kDistanceRootBits];
    InflateDecoder::HuffmanTable literal;
    InflateDecoder::HuffmanTable distance;

    FixedTables() {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        bool ok = InflateDecoder::buildTable(lengths, 288, InflateDecoder::TableKind::kLiteralLength,
                                             InflateDecoder::kLiteralRootBits, literalEntries,
                                             1 << InflateDecoder::kLiteralRootBits, literal);
        std::fill(lengths, lengths + 32, 5);
        ok = ok && InflateDecoder::buildTable(lengths, 32, InflateDecoder::TableKind::kDistance,
                                              InflateDecoder::kDistanceRootBits, distanceEntries,
                                              1 << InflateDecoder::kDistanceRootBits, distance);
        assert(ok);
        (void)ok;
    }
};

const FixedTables& fixedTables() {
    static const FixedTables tables;
    return tables;
}

}  // namespace

bool InflateDecoder::buildTable(const uint8_t* lengths, int count, TableKind kind, int rootBits,
                                HuffmanEntry* storage, int capacity, HuffmanTable& table) {
    int counts[kMaxCodeLength + 1] = {};
    int maxLength = 0;
    for (int i = 0; i < count; ++i) {
        assert(lengths[i] <= kMaxCodeLength);
        ++counts[lengths[i]];
        maxLength = std::max(maxLength, static_cast<int>(lengths[i]));
    }
    counts[0] = 0;

    // Kraft's inequality: more codes of a length than the space left for
    // them means two symbols would share bits.
    int left = 1;
    for (int len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - counts[len];
        if (left < 0)
            return false;
    }

    const int rootSize = 1 << rootBits;
    assert(rootSize <= capacity);
    std::fill(storage, storage + rootSize, kInvalidEntry);
    table.entries = storage;
    table.rootBits = rootBits;
    table.maxLength = maxLength;
    if (maxLength == 0)
        return true;  // one invalid entry: any use is an error

    // Symbols in canonical order (by length, then by symbol), and the first
    // code of each length (RFC 1951 3.2.2).
    int offsets[kMaxCodeLength + 2] = {};
    for (int len = 1; len <= kMaxCodeLength; ++len)
        offsets[len + 1] = offsets[len] + counts[len];
    uint16_t sorted[288];
    assert(count <= 288);
    for (int i = 0; i < count; ++i)
        if (lengths[i])
            sorted[offsets[lengths[i]]++] = static_cast<uint16_t>(i);

    int remaining[kMaxCodeLength + 1];
    std::copy(counts, counts + kMaxCodeLength + 1, remaining);
    unsigned code = 0;
    int symbolIndex = 0;
    int used = rootSize;
    unsigned currentPrefix = ~0u;
    int subBase = 0;
    int subBits = 0;
    for (int len = 1; len <= maxLength; ++len) {
        for (int n = 0; n < counts[len]; ++n, ++code) {
            const int symbol = sorted[symbolIndex++];
            const HuffmanEntry entry = symbolEntry(kind, symbol, len);
            const unsigned reversed = reverseBits(code, len);
            if (len <= rootBits) {
                for (unsigned i = reversed; i < static_cast<unsigned>(rootSize); i += 1u << len)
                    storage[i] = entry;
            } else {
                const unsigned prefix = reversed & (rootSize - 1);
                if (prefix != currentPrefix) {
                    // A new second-level table for the codes that share these
                    // first rootBits bits. They follow one another in
                    // canonical order; size it to hold them all: grow while
                    // the codes counted so far leave part of it empty.
                    subBits = len - rootBits;
                    int room = 1 << subBits;
                    while (subBits + rootBits < maxLength) {
                        room -= remaining[subBits + rootBits];
                        if (room <= 0)
                            break;
                        ++subBits;
                        room <<= 1;
                    }
                    subBase = used;
                    used += 1 << subBits;
                    if (used > capacity)
                        return false;  // cannot happen within the documented capacity
                    std::fill(storage + subBase, storage + subBase + (1 << subBits), kInvalidEntry);
                    storage[prefix] =
                        HuffmanEntry{static_cast<uint16_t>(subBase), static_cast<uint8_t>(rootBits),
                                     static_cast<uint8_t>(kOpLink | subBits)};
                    currentPrefix = prefix;
                }
                assert(len - rootBits <= subBits);
                for (unsigned i = reversed >> rootBits; i < (1u << subBits); i += 1u << (len - rootBits))
                    storage[subBase + i] = entry;
            }
            --remaining[len];
        }
        code <<= 1;
    }
    return true;
}

InflateDecoder::InflateDecoder(RefPtr<DataStream> source, int predictor, int columns, int colors, int bits)
    : DecoderStream(std::move(source)) {
    if (predictor != 1) {
        m_predictor = std::make_unique<RowPredictor>(this, predictor, columns, colors, bits);
        if (!m_predictor->isValid())
            m_predictor.reset();
    }
}

InflateDecoder::~InflateDecoder() = default;

void InflateDecoder::reset() {
    m_index = 0;
    m_end = 0;
    m_bitBuffer = 0;
    m_bitCount = 0;
    m_copyLength = 0;
    m_storedLeft = 0;
    m_compressed = false;
    m_endOfBlock = true;
    m_endOfData = true;
    m_literalTable = HuffmanTable{};
    m_distanceTable = HuffmanTable{};
    // A reread must predict its rows from a zero upper row again, or the
    // second reading of the data would differ from the first.
    if (m_predictor)
        m_predictor->reset();

    DataStream* src = source();
    src->reset();
    const int cmf = src->getChar();
    const int flg = src->getChar();
    if (cmf == -1 || flg == -1)
        return;  // empty or one-byte data: no data, no error
    if ((cmf & 0x0f) != 8) {
        reportError(getPos(), "Inflate stream: unknown compression method %d", cmf & 0x0f);
        return;
    }
    if ((cmf * 256 + flg) % 31 != 0) {
        reportError(getPos(), "Inflate stream: bad header check bits");
        return;
    }
    if (flg & 0x20) {
        reportError(getPos(), "Inflate stream: preset dictionary not supported");
        return;
    }
    m_endOfData = false;
}

std::unique_ptr<DynString> InflateDecoder::getPrintFilter(int level, const char* indent) {
    // The filter exists from language level 3 on; a predictor has no
    // expression there.
    if (level < 3 || m_predictor)
        return nullptr;
    return appendPrintFilter(level, indent, "<< >> /FlateDecode filter\n");
}

int InflateDecoder::getBlock(uint8_t* buffer, int size) {
    if (m_predictor)
        return m_predictor->getBlock(buffer, size);
    return readRawBlock(buffer, size);
}

int InflateDecoder::readRawBlock(uint8_t* buffer, int size) {
    int n = 0;
    while (n < size) {
        if (m_index == m_end && !decodeMore())
            break;
        const int count = std::min(m_end - m_index, size - n);
        std::memcpy(buffer + n, m_window + m_index, size_t(count));
        m_index += count;
        n += count;
    }
    return n;
}

void InflateDecoder::failData(const char* message) {
    reportError(getPos(), "Inflate stream: %s", message);
    m_endOfData = true;
    m_endOfBlock = true;
    m_copyLength = 0;
}

bool InflateDecoder::decodeMore() {
    while (m_index == m_end) {
        if (m_endOfBlock) {
            if (m_endOfData || !startBlock())
                return false;
            continue;
        }
        // Every byte of the last step has been handed out: the next step
        // writes on from there, wrapping at the end of the ring.
        if (m_index == kWindowSize)
            m_index = 0;
        m_end = m_index + (m_compressed ? decodeCompressed() : decodeStored());
    }
    return true;
}

int InflateDecoder::getBits(int count) {
    while (m_bitCount < count) {
        const int c = source()->getChar();
        if (c == -1)
            return -1;
        m_bitBuffer |= static_cast<uint64_t>(c) << m_bitCount;
        m_bitCount += 8;
    }
    const int value = static_cast<int>(m_bitBuffer & ((1u << count) - 1));
    m_bitBuffer >>= count;
    m_bitCount -= count;
    return value;
}

int InflateDecoder::readAlignedByte() {
    if (m_bitCount >= 8)
        return getBits(8);
    return source()->getChar();
}

int InflateDecoder::decodeSymbol(const HuffmanTable& table) {
    while (m_bitCount < table.maxLength) {
        const int c = source()->getChar();
        if (c == -1)
            break;  // go on with the bits held
        m_bitBuffer |= static_cast<uint64_t>(c) << m_bitCount;
        m_bitCount += 8;
    }
    if (m_bitCount == 0)
        return -1;
    HuffmanEntry e = table.entries[m_bitBuffer & ((1u << table.rootBits) - 1)];
    if (e.op & kOpLink)
        e = table.entries[e.value + ((m_bitBuffer >> table.rootBits) & ((1u << (e.op & 0x0f)) - 1))];
    if (e.length > m_bitCount)
        return -1;
    m_bitBuffer >>= e.length;
    m_bitCount -= e.length;
    return e.value;
}

bool InflateDecoder::startBlock() {
    const int header = getBits(3);
    if (header == -1) {
        failData("bad block header");
        return false;
    }
    // The last block's flag: its data is still decoded.
    if (header & 1)
        m_endOfData = true;
    switch (header >> 1) {
        case 0: {
            // Stored data starts at the next byte boundary. Drop only the bits up
            // to it: whole bytes already in the bit buffer are the block's
            // length bytes (and maybe data), and dropping them would misread a
            // valid stream.
            const int drop = m_bitCount & 7;
            m_bitBuffer >>= drop;
            m_bitCount -= drop;
            int b[4];
            for (int& v : b)
                v = readAlignedByte();
            if (b[0] == -1 || b[1] == -1 || b[2] == -1 || b[3] == -1) {
                failData("bad block header");
                return false;
            }
            const int length = b[0] | (b[1] << 8);
            const int complement = b[2] | (b[3] << 8);
            if (((length + complement) & 0xffff) != 0xffff)
                reportError(getPos(), "Inflate stream: stored block length does not match its complement");
            m_storedLeft = length;
            m_compressed = false;
            break;
        }
        case 1:
            m_literalTable = fixedTables().literal;
            m_distanceTable = fixedTables().distance;
            m_compressed = true;
            break;
        case 2:
            if (!readDynamicTables()) {
                failData("bad dynamic code tables");
                return false;
            }
            m_compressed = true;
            break;
        default:
            failData("bad block header");
            return false;
    }
    m_endOfBlock = false;
    return true;
}

bool InflateDecoder::readDynamicTables() {
    const int hlit = getBits(5);
    const int hdist = getBits(5);
    const int hclen = getBits(4);
    if (hlit == -1 || hdist == -1 || hclen == -1)
        return false;
    const int literalCount = hlit + 257;  // up to 288; codes 286 and 287 read as length 258
    const int distanceCount = hdist + 1;
    if (distanceCount > 30)
        return false;

    uint8_t codeLengthLengths[19] = {};
    for (int i = 0; i < hclen + 4; ++i) {
        const int v = getBits(3);
        if (v == -1)
            return false;
        codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(v);
    }
    HuffmanEntry codeLengthEntries[128];
    HuffmanTable codeLengthTable;
    if (!buildTable(codeLengthLengths, 19, TableKind::kCodeLength, 7, codeLengthEntries, 128,
                    codeLengthTable))
        return false;

    // Literal/length and distance code lengths form one sequence: a repeat
    // may run from the one into the other.
    uint8_t lengths[288 + 30];
    const int total = literalCount + distanceCount;
    int previous = 0;
    for (int i = 0; i < total;) {
        const int symbol = decodeSymbol(codeLengthTable);
        if (symbol == -1)
            return false;
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            previous = symbol;
            continue;
        }
        int repeat;
        int value = 0;
        if (symbol == 16) {
            const int extra = getBits(2);
            if (extra == -1)
                return false;
            repeat = 3 + extra;
            value = previous;
        } else if (symbol == 17) {
            const int extra = getBits(3);
            if (extra == -1)
                return false;
            repeat = 3 + extra;
            previous = 0;
        } else {
            const int extra = getBits(7);
            if (extra == -1)
                return false;
            repeat = 11 + extra;
            previous = 0;
        }
        if (repeat > total - i)
            return false;
        std::fill(lengths + i, lengths + i + repeat, static_cast<uint8_t>(value));
        i += repeat;
    }

    if (!buildTable(lengths, literalCount, TableKind::kLiteralLength, kLiteralRootBits, m_literalStorage,
                    kLiteralCapacity, m_literalTable))
        return false;
    if (!buildTable(lengths + literalCount, distanceCount, TableKind::kDistance, kDistanceRootBits,
                    m_distanceStorage, kDistanceCapacity, m_distanceTable))
        return false;
    return true;
}

int InflateDecoder::decodeStored() {
    uint8_t* const out = m_window + m_index;
    const int want = std::min(m_storedLeft, kWindowSize - m_index);
    int made = 0;
    // Bytes that the bit buffer already holds come first.
    while (made < want && m_bitCount >= 8) {
        out[made++] = static_cast<uint8_t>(m_bitBuffer);
        m_bitBuffer >>= 8;
        m_bitCount -= 8;
    }
    DataStream* src = source();
    while (made < want) {
        const int c = src->getChar();
        if (c == -1) {
            m_storedLeft -= made;
            failData("data ends inside a stored block");
            return made;
        }
        out[made++] = static_cast<uint8_t>(c);
    }
    m_storedLeft -= made;
    if (m_storedLeft == 0)
        m_endOfBlock = true;
    return made;
}

namespace {

constexpr int kMaxMatch = 258;

// The chunked copy below writes up to 7 bytes past the end of a
// back-reference. Those ring positions lie just ahead of the write position,
// so they hold history only for distances above kWindowSize - 8, and they are
// rewritten before anything else reads them. Longer distances, rare in
// practice, take the exact copy. The margin also keeps a wrapped source clear
// of the destination (see copyMatch).
constexpr int kChunkDistanceLimit = InflateDecoder::kWindowSize - kMaxMatch - 8;

// Copies in 8-byte chunks, forward, at least length bytes (up to 7 more).
// Correct when the source is at least 8 bytes behind the destination, or
// anywhere ahead of it.
inline void copyChunks(uint8_t* dst, const uint8_t* src, int length) {
    do {
        uint64_t chunk;
        std::memcpy(&chunk, src, 8);
        std::memcpy(dst, &chunk, 8);
        src += 8;
        dst += 8;
        length -= 8;
    } while (length > 0);
}

// Copies a back-reference of length bytes to window[pos], from distance bytes
// back in the ring. The caller guarantees pos + length <= kWindowSize. Bytes
// are copied forward, so a distance shorter than the length repeats the
// recent bytes, as deflate requires.
inline void copyMatch(uint8_t* window, int pos, int distance, int length) {
    constexpr int kMask = InflateDecoder::kWindowSize - 1;
    uint8_t* dst = window + pos;
    if (distance > kChunkDistanceLimit) {
        // Plain code: dst[i] = window[(pos + i - distance) mod window size].
        int src = (pos - distance) & kMask;
        for (int i = 0; i < length; ++i) {
            dst[i] = window[src];
            src = (src + 1) & kMask;
        }
        return;
    }
    if (pos < distance) {
        // The source starts in the previous round of the ring, at least
        // kMaxMatch + 8 bytes ahead of the destination, and runs to the end
        // of the ring (reading into the slack past it is harmless: only the
        // surplus of the last chunk comes from there); the rest comes from
        // the ring's start.
        const int first = std::min(length, distance - pos);
        copyChunks(dst, window + pos - distance + InflateDecoder::kWindowSize, first);
        dst += first;
        length -= first;
        if (length == 0)
            return;
    }
    const uint8_t* src = dst - distance;
    if (distance >= 8) {
        copyChunks(dst, src, length);
    } else if (distance == 1) {
        std::memset(dst, *src, length);
    } else {
        while (length-- > 0)
            *dst++ = *src++;
    }
}

}  // namespace

// The hot loop's copy of the input bits, kept in locals while a step runs
// and written back when it ends. When fewer bits are held than the next item
// may need, bytes are added up to kRefillBits in one go, so the calls to the
// source come in groups and most items need no refill. That bound also
// limits how far the decoder reads past the end of the deflate data: at most
// 4 bytes, which fall on the zlib trailer. The stream may sit inside other
// data, as inline image data does.
struct InflateDecoder::StepBits {
    DataStream* src;
    uint64_t bits;
    int count;

    void refill() {
        do {
            const int c = src->getChar();
            if (c == -1)
                break;  // go on with the bits held
            bits |= static_cast<uint64_t>(c) << count;
            count += 8;
        } while (count < kRefillBits);
    }

    // The entry of the next code in a table with a first level of rootBits;
    // false when the bits held do not complete a code.
    template <int rootBits>
    bool decode(const HuffmanEntry* table, HuffmanEntry& e) {
        if (count < kMaxCodeLength)
            refill();
        e = table[bits & ((uint64_t{1} << rootBits) - 1)];
        if (e.op & kOpLink)
            e = table[e.value + ((bits >> rootBits) & ((1u << (e.op & 0x0f)) - 1))];
        if (e.length > count)
            return false;
        bits >>= e.length;
        count -= e.length;
        return true;
    }

    // Adds the extra bits that follow a length or distance code (the count
    // in the entry's low bits) to its base; false when the input ends first.
    bool addExtra(const HuffmanEntry& e, int& value) {
        const int extra = e.op & 0x0f;
        value = e.value;
        if (extra == 0)
            return true;
        if (count < extra) {
            refill();
            if (count < extra)
                return false;
        }
        value += static_cast<int>(bits & ((1u << extra) - 1));
        bits >>= extra;
        count -= extra;
        return true;
    }
};

int InflateDecoder::resumeCopy(int pos) {
    const int n = std::min(m_copyLength, kWindowSize - pos);
    copyMatch(m_window, pos, m_copyDistance, n);
    m_copyLength -= n;
    return pos + n;
}

int InflateDecoder::decodeCompressed() {
    uint8_t* const window = m_window;
    const int start = m_index;
    int pos = start;
    if (m_copyLength > 0) {
        pos = resumeCopy(pos);
        if (m_copyLength > 0)
            return pos - start;
    }

    StepBits in{source(), m_bitBuffer, m_bitCount};
    const HuffmanEntry* const lit = m_literalTable.entries;
    const HuffmanEntry* const dist = m_distanceTable.entries;
    const char* error = nullptr;
    constexpr const char* kCorrupt = "data ends or is corrupt inside a block";

    const int stepEnd = std::min(kWindowSize, start + 32768);
    while (pos < stepEnd) {
        HuffmanEntry e;
        if (!in.decode<kLiteralRootBits>(lit, e)) {
            error = kCorrupt;
            break;
        }
        if (e.op == kOpLiteral) {
            window[pos++] = static_cast<uint8_t>(e.value);
            continue;
        }
        if (e.op == kOpEndOfBlock) {
            m_endOfBlock = true;
            break;
        }
        int length, distance;
        if (!in.addExtra(e, length) || !in.decode<kDistanceRootBits>(dist, e) ||
            (e.op & kOpKindMask) != kOpBase || !in.addExtra(e, distance)) {
            error = kCorrupt;
            break;
        }

        // A reference that would run past the end of the window finishes in
        // the next step, so that the bytes of every step stay contiguous.
        const int room = kWindowSize - pos;
        if (length > room) {
            m_copyLength = length - room;
            m_copyDistance = distance;
            length = room;
        }
        copyMatch(window, pos, distance, length);
        pos += length;
    }

    m_bitBuffer = in.bits;
    m_bitCount = in.count;
    if (error)
        failData(error);
    return pos - start;
}

}  // namespace rendova
