// The segment layer of the JBIG2 decoder: headers, data, the page, code
// tables and the bookkeeping of segments and statistics. The region and
// dictionary procedures are in Jbig2Regions.cpp.
#include "engine/core/Jbig2Decoder.h"

#include <algorithm>
#include <cstring>

#include "engine/core/BigEndian.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/MemorySource.h"

namespace rendova {

namespace {

// Bytes of the bitmaps made besides the page (regions, their references,
// symbols, patterns, kept intermediate regions), summed over the decode.
constexpr int64_t kBitmapFloor = int64_t(1) << 26;
// A region of the page's size, the reference and result of its refinement
// and one more.
constexpr int64_t kBitmapPages = 4;
// Coded symbols and refined instances expand to tens of bitmap bytes for
// each byte of their data, uncompressed collective bitmaps to one.
constexpr int64_t kBitmapPerByte = 1 << 8;
// Data is read in pieces of this size, so that a declared length far
// beyond the stream allocates only what the stream holds.
constexpr size_t kReadChunk = 1 << 16;
constexpr uint32_t kUnknownLength = 0xFFFFFFFF;

bool readBytes(DataStream* stream, int count, uint32_t& value) {
    value = 0;
    for (int i = 0; i < count; ++i) {
        const int c = stream->getChar();
        if (c < 0)
            return false;
        value = (value << 8) | uint32_t(c);
    }
    return true;
}

}  // namespace

Jbig2Decoder::Jbig2Decoder(RefPtr<DataStream> source, const PdfValue& globals, const Jbig2Limits& limits)
    : DecoderStream(std::move(source)), m_limits(limits) {
    globals.copy(m_globals);
    m_genericStats = std::make_unique<ArithDecoderStats>(2);
    m_refinementStats = std::make_unique<ArithDecoderStats>(2);
    for (auto* stats : {&m_iadh, &m_iadw, &m_iaex, &m_iaai, &m_iadt, &m_iait, &m_iafs, &m_iads, &m_iardx,
                        &m_iardy, &m_iardw, &m_iardh, &m_iari})
        *stats = std::make_unique<ArithDecoderStats>(512);
    m_iaid = std::make_unique<ArithDecoderStats>(2);
}

Jbig2Decoder::~Jbig2Decoder() {
    // The decoder would read the rest of its segment from the stream.
    m_arith.setStream(nullptr);
    m_page.reset();
    m_pageSegments.clear();
    m_globalSegments.clear();
}

void Jbig2Decoder::reset() {
    m_page.reset();
    m_pageSegments.clear();
    m_globalSegments.clear();
    m_pageWidth = m_pageHeight = m_currentPageHeight = 0;
    m_pageStriped = false;
    m_work = 0;
    m_workReported = false;
    m_bytesRead = 0;
    m_bitmapBytes = 0;
    m_bitmapReported = false;
    m_blindDecisions = 0;
    m_blindReported = false;
    if (m_globals.isStream()) {
        DataStream* globals = m_globals.getStream();
        globals->reset();
        readSegments(globals, m_globalSegments);
        globals->close();
    }
    source()->reset();
    readSegments(source(), m_pageSegments);
    m_arith.setStream(nullptr);
    m_arithSource = nullptr;
    if (m_page && m_page->isValid()) {
        m_read = m_page->data();
        m_end = m_read + size_t(m_page->lineBytes()) * size_t(m_page->height());
    } else {
        m_read = m_end = nullptr;
    }
}

void Jbig2Decoder::close() {
    m_page.reset();
    m_pageSegments.clear();
    m_globalSegments.clear();
    m_read = m_end = nullptr;
    DecoderStream::close();
}

int Jbig2Decoder::getBlock(uint8_t* buffer, int size) {
    const int n = int(std::min<int64_t>(size, m_end - m_read));
    for (int i = 0; i < n; ++i)
        buffer[i] = m_read[i] ^ 0xFF;
    m_read += n;
    return n;
}

int64_t Jbig2Decoder::pageBytes() const {
    if (!m_page || !m_page->isValid())
        return 0;
    return int64_t(m_page->lineBytes()) * m_page->height();
}

bool Jbig2Decoder::spend(int64_t units) {
    m_work += units;
    if (m_work <= m_limits.workFloor + m_limits.workPerByte * m_bytesRead)
        return true;
    if (!m_workReported)
        reportError(m_position, "JBIG2 stream asks for too much decoding work");
    m_workReported = true;
    return false;
}

bool Jbig2Decoder::reserveBitmap(int64_t width, int64_t height) {
    return Jbig2Bitmap::sizeInRange(width, height) && reserveBitmapBytes((width + 7) / 8 * height);
}

bool Jbig2Decoder::reserveBitmapBytes(int64_t bytes) {
    m_bitmapBytes += bytes;
    if (m_bitmapBytes <= kBitmapFloor + kBitmapPages * pageBytes() + kBitmapPerByte * m_bytesRead)
        return true;
    if (!m_bitmapReported)
        reportError(m_position, "JBIG2 stream asks for too much bitmap memory");
    m_bitmapReported = true;
    return false;
}

bool Jbig2Decoder::pastData(int64_t decisions) {
    if (!m_arith.pastData())
        return false;
    m_blindDecisions += decisions;
    if (m_blindDecisions <= m_limits.blindDecisions)
        return false;
    if (!m_blindReported)
        reportError(m_position, "JBIG2 arithmetic data ends early");
    m_blindReported = true;
    return true;
}

void Jbig2Decoder::readSegments(DataStream* stream, SegmentList& list) {
    std::vector<uint8_t> bytes;
    for (;;) {
        SegmentHeader header;
        bool atEnd = false;
        if (!readHeader(stream, header, atEnd)) {
            if (!atEnd)
                reportError(stream->getPos(), "Unexpected end of JBIG2 segment header");
            return;
        }
        m_position = header.position;
        bool complete;
        if (header.dataLength == kUnknownLength) {
            if (header.type != 38 && header.type != 39) {
                reportError(m_position, "JBIG2 segment of unknown length (type %d)", header.type);
                return;
            }
            complete = readUnknownLengthData(stream, bytes);
        } else {
            complete = readData(stream, header, bytes);
        }
        if (!complete)
            reportError(m_position, "Unexpected end of JBIG2 segment data");
        m_bytesRead += int64_t(header.headerBytes + bytes.size());
        const bool goOn = decodeSegment(header, Data{bytes.data(), bytes.size()}, list);
        if (!goOn || !complete)
            return;
    }
}

bool Jbig2Decoder::readHeader(DataStream* stream, SegmentHeader& header, bool& atEnd) {
    header.position = stream->getPos();
    const int first = stream->getChar();
    if (first < 0) {
        atEnd = true;
        return false;
    }
    uint32_t rest, flags, refByte;
    if (!readBytes(stream, 3, rest) || !readBytes(stream, 1, flags) || !readBytes(stream, 1, refByte))
        return false;
    header.number = (uint32_t(first) << 24) | rest;
    header.type = int(flags & 0x3F);
    uint32_t count = refByte >> 5;
    if (count == 7) {
        uint32_t low;
        if (!readBytes(stream, 3, low))
            return false;
        count = ((refByte << 24) | low) & 0x1FFFFFFF;
        // One retention bit for this segment and one per referred-to one.
        const uint32_t retentionBytes = uint32_t((uint64_t(count) + 1 + 7) / 8);
        for (uint32_t i = 0; i < retentionBytes; ++i)
            if (stream->getChar() < 0)
                return false;
    } else if (count > 4) {
        reportError(header.position, "Bad JBIG2 referred-to segment count %u", count);
        return false;
    }
    const int refSize = header.number <= 256 ? 1 : header.number <= 65536 ? 2 : 4;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ref;
        if (!readBytes(stream, refSize, ref))
            return false;
        header.refs.push_back(ref);
    }
    uint32_t page;
    if (!readBytes(stream, (flags & 0x40) ? 4 : 1, page))
        return false;
    header.headerBytes = 6 + ((flags & 0x40) ? 4 : 1) + 4 + size_t(count) * size_t(refSize);
    return readBytes(stream, 4, header.dataLength);
}

bool Jbig2Decoder::readData(DataStream* stream, const SegmentHeader& header, std::vector<uint8_t>& out) {
    out.clear();
    size_t want = header.dataLength;
    while (out.size() < want) {
        const size_t piece = std::min(want - out.size(), std::max(kReadChunk, out.size()));
        const size_t at = out.size();
        out.resize(at + piece);
        const int n = stream->getBlock(out.data() + at, int(piece));
        out.resize(at + size_t(std::max(n, 0)));
        if (size_t(std::max(n, 0)) < piece)
            return false;
    }
    return true;
}

bool Jbig2Decoder::readUnknownLengthData(DataStream* stream, std::vector<uint8_t>& out) {
    // The region's own header (region information and flags) comes first;
    // the data ends at a marker (0xFF 0xAC, or 0x00 0x00 after MMR data)
    // followed by the 4-byte row count.
    constexpr size_t kHeaderBytes = 18;
    out.clear();
    for (size_t i = 0; i < kHeaderBytes; ++i) {
        const int c = stream->getChar();
        if (c < 0)
            return false;
        out.push_back(uint8_t(c));
    }
    const bool mmr = out[17] & 1;
    const uint8_t first = mmr ? 0x00 : 0xFF;
    const uint8_t second = mmr ? 0x00 : 0xAC;
    for (;;) {
        const int c = stream->getChar();
        if (c < 0)
            return false;
        out.push_back(uint8_t(c));
        if (out.size() >= kHeaderBytes + 2 && out[out.size() - 2] == first && out.back() == second)
            break;
    }
    for (int i = 0; i < 4; ++i) {
        const int c = stream->getChar();
        if (c < 0)
            return false;
        out.push_back(uint8_t(c));
    }
    return true;
}

bool Jbig2Decoder::decodeSegment(const SegmentHeader& header, Data data, SegmentList& list) {
    switch (header.type) {
        case 0:
            return readSymbolDict(header, data, list);
        case 4:
            readTextRegion(header, data, false, list);
            break;
        case 6:
        case 7:
            readTextRegion(header, data, true, list);
            break;
        case 16:
            readPatternDict(header, data, list);
            break;
        case 20:
            readHalftoneRegion(header, data, false, list);
            break;
        case 22:
        case 23:
            readHalftoneRegion(header, data, true, list);
            break;
        case 36:
            readGenericRegion(header, data, false, list);
            break;
        case 38:
        case 39:
            readGenericRegion(header, data, true, list);
            break;
        case 40:
            readRefinementRegion(header, data, false, list);
            break;
        case 42:
        case 43:
            readRefinementRegion(header, data, true, list);
            break;
        case 48:
            readPageInfo(data);
            break;
        case 50:
        case 52:
        case 62:
            break;
        case 53:
            readCodeTable(header, data, list);
            break;
        default:
            reportError(m_position, "Unknown JBIG2 segment type %d", header.type);
            break;
    }
    return true;
}

void Jbig2Decoder::readPageInfo(Data data) {
    if (data.size < 19) {
        reportError(m_position, "Short JBIG2 page information segment");
        return;
    }
    auto u32 = [&](size_t at) { return readBigEndian32(data.bytes + at); };
    const uint32_t width = u32(0);
    const uint32_t height = u32(4);
    const int flags = data.bytes[16];
    const int striping = int(readBigEndian16(data.bytes + 17));
    m_pageDefaultPixel = (flags >> 2) & 1;
    m_pageDefaultOp = (flags >> 3) & 3;
    m_pageWidth = width;
    m_pageStriped = height == 0xFFFFFFFF;
    m_pageHeight = m_pageStriped ? -1 : int64_t(height);
    m_currentPageHeight = m_pageStriped ? (striping & 0x7FFF) : int64_t(height);
    m_page.reset();
    if (m_currentPageHeight == 0 && m_pageStriped)
        return;  // made when the first stripe comes
    if (!Jbig2Bitmap::sizeInRange(m_pageWidth, m_currentPageHeight)) {
        reportError(m_position, "Bad JBIG2 page size %u x %u", width, height);
        return;
    }
    m_page = std::make_unique<Jbig2Bitmap>(0, int(m_pageWidth), int(m_currentPageHeight));
    m_page->clearTo(m_pageDefaultPixel);
}

bool Jbig2Decoder::readRegionInfo(Data data, RegionInfo& info) {
    if (data.size < 17)
        return false;
    auto u32 = [&](size_t at) { return readBigEndian32(data.bytes + at); };
    info.width = u32(0);
    info.height = u32(4);
    // Offsets are unsigned in the format; values past 2^31 are taken as
    // negative, as they only make sense as such.
    info.x = int32_t(u32(8));
    info.y = int32_t(u32(12));
    info.op = data.bytes[16] & 7;
    return true;
}

bool Jbig2Decoder::ensurePageHeight(int64_t bottom) {
    if (!m_pageStriped || m_pageWidth <= 0 || bottom <= m_currentPageHeight)
        return m_page != nullptr;
    if (!m_page && Jbig2Bitmap::sizeInRange(m_pageWidth, bottom)) {
        m_page = std::make_unique<Jbig2Bitmap>(0, int(m_pageWidth), int(bottom));
        m_page->clearTo(m_pageDefaultPixel);
        m_currentPageHeight = bottom;
    } else if (m_page && bottom <= INT32_MAX && m_page->expand(int(bottom), m_pageDefaultPixel)) {
        m_currentPageHeight = bottom;
    } else {
        reportError(m_position, "JBIG2 page cannot grow to %lld rows", static_cast<long long>(bottom));
    }
    return m_page != nullptr;
}

void Jbig2Decoder::placeRegion(uint32_t number, const RegionInfo& info, std::unique_ptr<Jbig2Bitmap> bitmap,
                               bool immediate, SegmentList& list) {
    if (!bitmap || !bitmap->isValid())
        return;
    if (!immediate) {
        bitmap->setNumber(number);
        list.push_back(std::move(bitmap));
        return;
    }
    if (m_pageStriped)
        ensurePageHeight(info.y + bitmap->height());
    if (!m_page) {
        reportError(m_position, "JBIG2 region before the page information");
        return;
    }
    if (!spend(int64_t(bitmap->width()) * bitmap->height() / 32))
        return;
    m_page->combine(*bitmap, info.x, info.y, info.op);
}

void Jbig2Decoder::readCodeTable(const SegmentHeader& h, Data data, SegmentList& list) {
    // The longest code table a reasonable stream holds is a few hundred
    // lines; each line takes at least two bits of data anyway.
    constexpr size_t kMaxRows = 1 << 16;
    if (data.size < 9) {
        reportError(m_position, "Short JBIG2 code table segment");
        return;
    }
    const int flags = data.bytes[0];
    auto s32 = [&](size_t at) { return int32_t(readBigEndian32(data.bytes + at)); };
    const int32_t low = s32(1);
    const int32_t high = s32(5);
    const int prefixBits = ((flags >> 1) & 7) + 1;
    const int rangeBits = ((flags >> 4) & 7) + 1;
    Jbig2BitReader reader(data.bytes + 9, data.size - 9);
    auto table = std::make_unique<Jbig2CodeTable>(h.number);
    for (int64_t cur = low; cur < high;) {
        const int prefix = int(reader.readBits(prefixBits));
        const int range = int(reader.readBits(rangeBits));
        if (reader.pastEnd() || range > 32 || table->table.rows.size() >= kMaxRows) {
            reportError(m_position, "Bad JBIG2 code table");
            return;
        }
        table->table.rows.push_back({int32_t(cur), prefix, range, Jbig2HuffmanRow::kRange, 0});
        cur += int64_t(1) << range;
    }
    const int lowerPrefix = int(reader.readBits(prefixBits));
    const int upperPrefix = int(reader.readBits(prefixBits));
    table->table.rows.push_back({int32_t(int64_t(low) - 1), lowerPrefix, 32, Jbig2HuffmanRow::kLower, 0});
    table->table.rows.push_back({high, upperPrefix, 32, Jbig2HuffmanRow::kRange, 0});
    if (flags & 1)
        table->table.rows.push_back({0, int(reader.readBits(prefixBits)), 0, Jbig2HuffmanRow::kOutOfBand, 0});
    if (reader.pastEnd() || !buildHuffmanCodes(table->table)) {
        reportError(m_position, "Bad JBIG2 code table");
        return;
    }
    list.push_back(std::move(table));
}

Jbig2Segment* Jbig2Decoder::findSegment(uint32_t number) {
    for (auto* list : {&m_globalSegments, &m_pageSegments})
        for (auto& segment : *list)
            if (segment->getNumber() == number)
                return segment.get();
    return nullptr;
}

void Jbig2Decoder::removeSegment(uint32_t number) {
    for (auto* list : {&m_globalSegments, &m_pageSegments}) {
        for (auto it = list->begin(); it != list->end(); ++it) {
            if ((*it)->getNumber() == number) {
                list->erase(it);
                return;
            }
        }
    }
}

void Jbig2Decoder::resetGenericStats(int templ, const ArithDecoderStats* prev) {
    static const int kSizes[4] = {1 << 16, 1 << 13, 1 << 10, 1 << 10};
    const int size = kSizes[templ & 3];
    if (m_genericStats->getContextSize() != size)
        m_genericStats = std::make_unique<ArithDecoderStats>(size);
    else
        m_genericStats->reset();
    if (prev && prev->getContextSize() == size)
        m_genericStats->copyFrom(*prev);
}

void Jbig2Decoder::resetRefinementStats(int templ, const ArithDecoderStats* prev) {
    const int size = (templ & 1) ? 1 << 10 : 1 << 13;
    if (m_refinementStats->getContextSize() != size)
        m_refinementStats = std::make_unique<ArithDecoderStats>(size);
    else
        m_refinementStats->reset();
    if (prev && prev->getContextSize() == size)
        m_refinementStats->copyFrom(*prev);
}

void Jbig2Decoder::resetIntStats(int symbolCodeLength) {
    for (auto* stats : {&m_iadh, &m_iadw, &m_iaex, &m_iaai, &m_iadt, &m_iait, &m_iafs, &m_iads, &m_iardx,
                        &m_iardy, &m_iardw, &m_iardh, &m_iari})
        (*stats)->reset();
    const int size = 1 << (symbolCodeLength + 1);
    if (m_iaid->getContextSize() != size)
        m_iaid = std::make_unique<ArithDecoderStats>(size);
    else
        m_iaid->reset();
}

void Jbig2Decoder::startArith(Data data, size_t offset, size_t length) {
    offset = std::min(offset, data.size);
    length = std::min(length, data.size - offset);
    m_arithSource = RefPtr<DataStream>::adopt(new MemorySource(
        reinterpret_cast<const char*>(data.bytes), uint32_t(offset), uint32_t(length), PdfValue()));
    m_arithSource->reset();
    m_arith.setStream(m_arithSource.get(), int(std::min<size_t>(length, INT32_MAX)));
    m_arith.start();
}

}  // namespace rendova
