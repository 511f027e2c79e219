// The JPEG 2000 decoder's box structure (ISO/IEC 15444-1 annex I and the
// JPX boxes of 15444-2 that a PDF reader uses) and the format probe that the
// image code asks before it reads the samples.
#include <algorithm>
#include <cstring>

#include "engine/core/BigEndian.h"
#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000Decoder.h"
#include "engine/core/PdfValue.h"

namespace rendova {

namespace {

constexpr uint32_t boxType(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint32_t(uint8_t(name[3]));
}

constexpr uint32_t kBoxJp2Header = boxType("jp2h");
constexpr uint32_t kBoxImageHeader = boxType("ihdr");
constexpr uint32_t kBoxBitsPerComponent = boxType("bpcc");
constexpr uint32_t kBoxColour = boxType("colr");
constexpr uint32_t kBoxPalette = boxType("pclr");
constexpr uint32_t kBoxMapping = boxType("cmap");
constexpr uint32_t kBoxChannels = boxType("cdef");
constexpr uint32_t kBoxCodestream = boxType("jp2c");

constexpr uint32_t kMarkerSoc = 0xFF4F;
constexpr uint32_t kMarkerSiz = 0xFF51;

// Superboxes inside jp2h nest no deeper in any file format of the family.
constexpr int kMaxBoxDepth = 4;
// The enumerated colour spaces of the JPX box that the decoder can name.
constexpr int kMaxEnumeratedSpace = 24;

// Colour mode of an enumerated colour space, 0 when it is none of grey, RGB
// or CMYK.
int modeOfSpace(int space) {
    switch (space) {
        case 0:
        case 17:
            return 1;
        case 16:
        case 20:
        case 21:
            return 2;
        case 12:
            return 3;
        default:
            return 0;
    }
}

int modeOfComponentCount(int count) {
    return count == 1 ? 1 : count == 3 ? 2 : count == 4 ? 3 : 0;
}

}  // namespace

// The header of the box at pos: its type and where its data begins and ends
// within end; false (reported) when the header or the data is cut short.
bool Jpeg2000Decoder::readBoxHeader(uint32_t pos, uint32_t end, uint32_t& type, uint32_t& dataBegin,
                                    uint32_t& dataEnd) {
    const uint8_t* data = m_input.data();
    if (end - pos < 8) {
        reportError(getPos(), "JPX box header cut short");
        return false;
    }
    uint64_t length = readBigEndian32(data + pos);
    type = readBigEndian32(data + pos + 4);
    uint32_t header = 8;
    if (length == 1) {
        if (end - pos < 16) {
            reportError(getPos(), "JPX box header cut short");
            return false;
        }
        if (readBigEndian32(data + pos + 8) != 0) {
            reportError(getPos(), "JPX box with a length above 4 GB is not supported");
            return false;
        }
        length = readBigEndian32(data + pos + 12);
        header = 16;
    }
    dataBegin = pos + header;
    if (length == 0) {
        dataEnd = end;  // the box runs to the end of its parent
    } else if (length < header) {
        reportError(getPos(), "JPX box length below its header");
        return false;
    } else if (length > end - pos) {
        if (type != kBoxCodestream) {
            reportError(getPos(), "JPX box data cut short");
            return false;
        }
        // A codestream cut short still yields the tiles it holds.
        dataEnd = end;
    } else {
        dataEnd = pos + uint32_t(length);
    }
    return true;
}

bool Jpeg2000Decoder::readImageHeaderBox(const uint8_t* p, uint32_t dataLength) {
    if (dataLength < 14) {
        reportError(getPos(), "JPX image header cut short");
        return false;
    }
    m_boxHeight = int(std::min<uint32_t>(readBigEndian32(p), INT32_MAX));
    m_boxWidth = int(std::min<uint32_t>(readBigEndian32(p + 4), INT32_MAX));
    m_boxComponents = int(readBigEndian16(p + 8));
    m_boxBits = p[10];
    if (p[11] != 7) {
        reportError(getPos(), "JPX image header: unknown compression");
        return false;
    }
    m_componentBits.assign(size_t(m_boxComponents), m_boxBits);
    m_haveImageHeader = true;
    return true;
}

// The channel definitions: which channels are opacity.
bool Jpeg2000Decoder::readChannelsBox(const uint8_t* p, uint32_t dataLength) {
    const uint32_t count = dataLength >= 2 ? readBigEndian16(p) : 0;
    if (dataLength < 2 || dataLength - 2 < uint64_t(count) * 6) {
        reportError(getPos(), "JPX channel definition box cut short");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t channel = readBigEndian16(p + 2 + 6 * i);
        const uint32_t kind = readBigEndian16(p + 4 + 6 * i);
        if ((kind == 1 || kind == 2) && channel < uint32_t(kMaxComponents)) {
            if (m_opacity.size() <= channel)
                m_opacity.resize(channel + 1);
            m_opacity[channel] = true;
        }
    }
    return true;
}

bool Jpeg2000Decoder::readBoxes(uint32_t begin, uint32_t end, int depth) {
    uint32_t pos = begin;
    const uint8_t* data = m_input.data();
    while (pos < end) {
        uint32_t type, dataBegin, dataEnd;
        if (!readBoxHeader(pos, end, type, dataBegin, dataEnd))
            return false;
        const uint32_t dataLength = dataEnd - dataBegin;
        const uint8_t* p = data + dataBegin;

        switch (type) {
            case kBoxJp2Header:
                if (depth >= kMaxBoxDepth) {
                    reportError(getPos(), "JPX boxes nested too deep");
                    return false;
                }
                if (!readBoxes(dataBegin, dataEnd, depth + 1))
                    return false;
                break;
            case kBoxImageHeader:
                if (!readImageHeaderBox(p, dataLength))
                    return false;
                break;
            case kBoxBitsPerComponent:
                if (!m_haveImageHeader) {
                    reportError(getPos(), "JPX bits-per-component box before the image header box");
                    return false;
                }
                if (dataLength != uint32_t(m_boxComponents)) {
                    reportError(getPos(), "JPX bits-per-component box of a wrong length");
                    return false;
                }
                m_componentBits.assign(p, p + dataLength);
                break;
            case kBoxColour:
                if (!readColourBox(dataBegin, dataEnd))
                    return false;
                break;
            case kBoxPalette:
                if (!readPaletteBox(dataBegin, dataEnd))
                    return false;
                break;
            case kBoxMapping:
                if (!readMappingBox(p, dataLength))
                    return false;
                break;
            case kBoxChannels:
                if (!readChannelsBox(p, dataLength))
                    return false;
                break;
            case kBoxCodestream:
                if (!m_haveImageHeader)
                    reportError(getPos(), "JPX file without an image header box");
                if (!m_haveColour)
                    reportError(getPos(), "JPX file without a colour box");
                return readCodestream(dataBegin, dataEnd);
            default:
                break;
        }
        pos = dataEnd;
    }
    return true;
}

bool Jpeg2000Decoder::readColourBox(uint32_t begin, uint32_t end) {
    const uint8_t* p = m_input.data() + begin;
    const uint32_t length = end - begin;
    if (length < 3) {
        reportError(getPos(), "JPX colour box cut short");
        return false;
    }
    const int method = p[0];
    const int precedence = int8_t(p[1]);
    const int approx = p[2];
    if (method != 1)
        return true;  // ICC profiles and vendor methods are not read
    if (length < 7) {
        reportError(getPos(), "JPX colour box cut short");
        return false;
    }
    const uint32_t space = readBigEndian32(p + 3);
    if (space > uint32_t(kMaxEnumeratedSpace) || space == 2 || space == 5 || space == 6 || space == 7 ||
        space == 8 || space == 10 || space == 15 || space == 19) {
        reportError(getPos(), "JPX bad colour space");
        return false;
    }
    int lab[7] = {100, 0, 255, 128, 255, 96, 0x00443530};  // ..., illuminant "D50"
    if (space == 14) {
        if (length == 35) {
            for (int i = 0; i < 7; ++i)
                lab[i] = int(readBigEndian32(p + 7 + 4 * i));
        } else if (length != 7) {
            reportError(getPos(), "JPX Lab colour box of a wrong length");
            return false;
        }
    }
    if (m_haveColour && precedence <= m_colourPrecedence)
        return true;
    m_haveColour = true;
    m_colourMethod = method;
    m_colourPrecedence = precedence;
    m_colourApprox = approx;
    m_colourSpace = int(space);
    std::memcpy(m_lab, lab, sizeof lab);
    return true;
}

bool Jpeg2000Decoder::readPaletteBox(uint32_t begin, uint32_t end) {
    const uint8_t* p = m_input.data() + begin;
    const uint32_t length = end - begin;
    if (length < 3) {
        reportError(getPos(), "JPX palette box cut short");
        return false;
    }
    const uint32_t entries = readBigEndian16(p);
    const uint32_t columns = p[2];
    if (entries == 0 || columns == 0) {
        reportError(getPos(), "JPX palette box without entries");
        return false;
    }
    if (length - 3 < columns) {
        reportError(getPos(), "JPX palette box cut short");
        return false;
    }
    uint64_t bytesPerEntry = 0;
    for (uint32_t i = 0; i < columns; ++i) {
        const int bits = (p[3 + i] & 0x7F) + 1;
        if (bits > kMaxPrecision) {
            reportError(getPos(), "JPX palette column of %d bits", bits);
            return false;
        }
        bytesPerEntry += uint64_t(bits + 7) / 8;
    }
    if (length - 3 - columns < bytesPerEntry * entries) {
        reportError(getPos(), "JPX palette box cut short");
        return false;
    }
    m_paletteEntries = int(entries);
    m_paletteDepths.assign(p + 3, p + 3 + columns);
    m_paletteValues.resize(size_t(entries) * columns);
    const uint8_t* q = p + 3 + columns;
    for (uint32_t e = 0; e < entries; ++e) {
        for (uint32_t c = 0; c < columns; ++c) {
            const int depth = m_paletteDepths[c];
            const int bits = (depth & 0x7F) + 1;
            uint32_t v = 0;
            for (int k = 0; k < (bits + 7) / 8; ++k)
                v = v << 8 | *q++;
            v &= uint32_t((uint64_t(1) << bits) - 1);
            // Signed values are sign-extended from their top bit.
            if ((depth & 0x80) && (v >> (bits - 1)) != 0)
                v |= ~uint32_t((uint64_t(1) << bits) - 1);
            m_paletteValues[size_t(e) * columns + c] = int32_t(v);
        }
    }
    m_havePalette = true;
    return true;
}

// The component mapping: which component (and palette column) makes each
// channel.
bool Jpeg2000Decoder::readMappingBox(const uint8_t* p, uint32_t dataLength) {
    if (dataLength % 4 != 0 || dataLength == 0 || dataLength / 4 > uint32_t(kMaxComponents)) {
        reportError(getPos(), "JPX component mapping box of a wrong length");
        return false;
    }
    m_mappings.clear();
    for (uint32_t i = 0; i < dataLength; i += 4) {
        const int type = p[i + 2];
        m_mappings.push_back({int(readBigEndian16(p + i)), type == 1 ? int(p[i + 3]) : -1});
    }
    m_haveMapping = true;
    return true;
}

bool Jpeg2000Decoder::imageGivesColourSpace() {
    PdfValue* dict = getDict();
    if (!dict)
        return false;
    PdfValue entry;
    return !dict->dictLookupRaw("ColorSpace", entry).isNull();
}

bool Jpeg2000Decoder::applyPalette() {
    const int columns = int(m_paletteDepths.size());
    if (!m_haveMapping) {
        // Without a mapping every column takes its index from the first
        // component.
        m_mappings.clear();
        for (int c = 0; c < columns; ++c)
            m_mappings.push_back({0, c});
    }
    for (const ChannelMapping& m : m_mappings) {
        if (m.component >= m_componentCount || m.column >= columns) {
            reportError(getPos(), "JPX component mapping names a missing component or palette column");
            return false;
        }
    }
    const int channels = int(m_mappings.size());
    const size_t count = m_mappings.size();
    std::vector<bool> isSigned(count);
    std::vector<int> precision(count), xSep(count), ySep(count);
    for (int i = 0; i < channels; ++i) {
        const ChannelMapping& m = m_mappings[size_t(i)];
        const size_t c = size_t(m.component);
        isSigned[size_t(i)] = m.column < 0 ? m_signed[c] : (m_paletteDepths[size_t(m.column)] & 0x80) != 0;
        precision[size_t(i)] = m.column < 0 ? m_precision[c] : (m_paletteDepths[size_t(m.column)] & 0x7F) + 1;
        xSep[size_t(i)] = m_xSep[c];
        ySep[size_t(i)] = m_ySep[c];
    }
    // Each channel is a copy of its component: together they stay within
    // the samples one image may hold.
    int64_t mappedSamples = 0;
    for (const Tile& tile : m_tiles) {
        for (const ChannelMapping& m : m_mappings) {
            const TileComponent& from = tile.comps[size_t(m.component)];
            mappedSamples += (int64_t(from.x1) - from.x0) * (int64_t(from.y1) - from.y0);
        }
    }
    if (mappedSamples > kMaxSamples) {
        reportError(getPos(), "JPX palette channels too large");
        return false;
    }
    auto lookUp = [this, columns](int32_t index, int column) {
        const int entry = std::clamp(index, 0, m_paletteEntries - 1);
        return m_paletteValues[size_t(entry) * size_t(columns) + size_t(column)];
    };
    for (Tile& tile : m_tiles) {
        std::vector<TileComponent> mapped(count);
        for (int i = 0; i < channels; ++i) {
            const ChannelMapping& m = m_mappings[size_t(i)];
            const TileComponent& from = tile.comps[size_t(m.component)];
            TileComponent& to = mapped[size_t(i)];
            to.x0 = from.x0;
            to.y0 = from.y0;
            to.x1 = from.x1;
            to.y1 = from.y1;
            to.fill = m.column < 0 ? from.fill : lookUp(from.fill, m.column);
            to.samples.resize(from.samples.size());
            for (size_t k = 0; k < from.samples.size(); ++k)
                to.samples[k] = m.column < 0 ? from.samples[k] : lookUp(from.samples[k], m.column);
        }
        tile.comps = std::move(mapped);
    }
    m_componentCount = channels;
    m_signed = std::move(isSigned);
    m_precision = std::move(precision);
    m_xSep = std::move(xSep);
    m_ySep = std::move(ySep);
    return true;
}

namespace {

// Sequential reads from a stream that count what they consumed.
struct ProbeReader {
    DataStream* stream;
    bool ended = false;
    int byte() {
        const int c = stream->getChar();
        if (c < 0)
            ended = true;
        return c < 0 ? 0 : c;
    }
    uint32_t u16() {
        const uint32_t a = uint32_t(byte());
        return a << 8 | uint32_t(byte());
    }
    uint32_t u32() {
        const uint32_t a = u16();
        return a << 16 | u16();
    }
    void skip(uint64_t n) {
        for (; n > 0 && !ended; --n)
            byte();
    }
};

// The first component's precision and the component count of the SIZ
// marker that follows SOC; false when the codestream does not start so.
bool probeSiz(ProbeReader& r, int& bits, int& count) {
    if (r.u16() != uint32_t(kMarkerSoc) || r.u16() != uint32_t(kMarkerSiz))
        return false;
    r.skip(2 + 2 + 32);  // Lsiz, Rsiz, sizes and offsets
    count = int(r.u16());
    const int precision = r.byte();
    bits = (precision & 0x7F) + 1;
    return !r.ended && count > 0;
}

// What the header boxes tell of the format.
struct BoxFormat {
    int headerBits = 0;
    int firstComponentBits = -1;
    bool haveHeader = false;
    bool haveColour = false;
    int precedence = 0;
    int mode = 0;
    int opacityChannels = 0;
    bool havePalette = false;
    int paletteBits = 0;
    int paletteColumns = 0;
};

// Reads what the format needs of one box's data; the bytes used.
uint64_t probeBox(ProbeReader& r, uint32_t type, uint64_t dataLength, BoxFormat& f) {
    if (type == kBoxImageHeader && dataLength >= 14) {
        r.skip(10);
        f.headerBits = r.byte();
        f.haveHeader = true;
        return 11;
    }
    if (type == kBoxBitsPerComponent && dataLength >= 1) {
        f.firstComponentBits = r.byte();
        return 1;
    }
    if (type == kBoxColour && dataLength >= 7) {
        const int method = r.byte();
        const int boxPrecedence = int8_t(r.byte());
        r.byte();
        const int space = int(r.u32());
        const int boxMode = method == 1 ? modeOfSpace(space) : 0;
        if (boxMode != 0 && (!f.haveColour || boxPrecedence > f.precedence)) {
            f.mode = boxMode;
            f.precedence = boxPrecedence;
            f.haveColour = true;
        }
        return 7;
    }
    if (type == kBoxPalette && dataLength >= 4) {
        r.u16();
        f.paletteColumns = r.byte();
        f.paletteBits = (r.byte() & 0x7F) + 1;
        f.havePalette = f.paletteColumns > 0;
        return 4;
    }
    if (type == kBoxChannels && dataLength >= 2) {
        const uint32_t channels = r.u16();
        uint64_t used = 2;
        for (uint32_t i = 0; i < channels && used + 6 <= dataLength; ++i, used += 6) {
            r.u16();
            const uint32_t kind = r.u16();
            r.u16();
            if (kind == 1 || kind == 2)
                ++f.opacityChannels;
        }
        return used;
    }
    return 0;
}

}  // namespace

void Jpeg2000Decoder::getImageFormatInfo(int& bitsPerComponent, int& colorMode) {
    source()->reset();
    ProbeReader r{source()};
    int bits = 0;
    int count = 0;
    if (source()->peekChar() == 0xFF) {
        if (probeSiz(r, bits, count)) {
            bitsPerComponent = bits;
            colorMode = modeOfComponentCount(count);
        }
        source()->close();
        return;
    }
    BoxFormat f;
    // The walk reads boxes in order; jp2h is entered by not skipping it.
    for (int boxes = 0; !r.ended && boxes < 4096; ++boxes) {
        uint64_t length = r.u32();
        const uint32_t type = r.u32();
        if (r.ended)
            break;
        uint64_t header = 8;
        if (length == 1) {
            length = uint64_t(r.u32()) << 32 | r.u32();
            header = 16;
        }
        if (type == kBoxCodestream)
            break;
        if (type == kBoxJp2Header)
            continue;
        const uint64_t dataLength = length >= header ? length - header : 0;
        const uint64_t used = probeBox(r, type, dataLength, f);
        if (length == 0)
            break;
        r.skip(dataLength - used);
    }
    if (f.havePalette && !imageGivesColourSpace()) {
        // The samples are the palette's colours.
        bitsPerComponent = f.paletteBits;
        colorMode = f.haveColour ? f.mode : modeOfComponentCount(f.paletteColumns - f.opacityChannels);
    } else if (f.haveHeader && f.haveColour) {
        // 255 says the depths vary by component: the first one's is taken.
        const int byte = f.headerBits == 255 ? f.firstComponentBits : f.headerBits;
        if (byte >= 0 && byte != 255) {
            bitsPerComponent = (byte & 0x7F) + 1;
            colorMode = f.mode;
        } else if (probeSiz(r, bits, count)) {
            bitsPerComponent = bits;
            colorMode = f.mode;
        }
    } else if (probeSiz(r, bits, count)) {
        bitsPerComponent = bits;
        colorMode = modeOfComponentCount(count - f.opacityChannels);
    }
    source()->close();
}

}  // namespace rendova
