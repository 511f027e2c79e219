// The JPEG 2000 decoder's box structure (ISO/IEC 15444-1 annex I and the
// JPX boxes of 15444-2 that a PDF reader uses) and the format probe that the
// image code asks before it reads the samples.
#include <cstring>

#include "engine/core/ErrorReport.h"
#include "engine/core/Jpeg2000Decoder.h"

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
constexpr uint32_t kBoxChannels = boxType("cdef");
constexpr uint32_t kBoxCodestream = boxType("jp2c");

constexpr uint32_t kMarkerSoc = 0xFF4F;
constexpr uint32_t kMarkerSiz = 0xFF51;

// Superboxes inside jp2h nest no deeper in any file format of the family.
constexpr int kMaxBoxDepth = 4;
// The enumerated colour spaces of the JPX box that the decoder can name.
constexpr int kMaxEnumeratedSpace = 24;

uint32_t read16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}
uint32_t read32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

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
    uint64_t length = read32(data + pos);
    type = read32(data + pos + 4);
    uint32_t header = 8;
    if (length == 1) {
        if (end - pos < 16) {
            reportError(getPos(), "JPX box header cut short");
            return false;
        }
        if (read32(data + pos + 8) != 0) {
            reportError(getPos(), "JPX box with a length above 4 GB is not supported");
            return false;
        }
        length = read32(data + pos + 12);
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
    m_boxHeight = int(std::min<uint32_t>(read32(p), INT32_MAX));
    m_boxWidth = int(std::min<uint32_t>(read32(p + 4), INT32_MAX));
    m_boxComponents = int(read16(p + 8));
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
    const uint32_t count = dataLength >= 2 ? read16(p) : 0;
    if (dataLength < 2 || dataLength - 2 < uint64_t(count) * 6) {
        reportError(getPos(), "JPX channel definition box cut short");
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t channel = read16(p + 2 + 6 * i);
        const uint32_t kind = read16(p + 4 + 6 * i);
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
    const uint32_t space = read32(p + 3);
    if (space > uint32_t(kMaxEnumeratedSpace) || space == 2 || space == 5 || space == 6 || space == 7 ||
        space == 8 || space == 10 || space == 15 || space == 19) {
        reportError(getPos(), "JPX bad colour space");
        return false;
    }
    int lab[7] = {100, 0, 255, 128, 255, 96, 0x00443530};  // ..., illuminant "D50"
    if (space == 14) {
        if (length == 35) {
            for (int i = 0; i < 7; ++i)
                lab[i] = int(read32(p + 7 + 4 * i));
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
    const uint32_t entries = read16(p);
    const uint32_t columns = p[2];
    if (length - 3 < columns) {
        reportError(getPos(), "JPX palette box cut short");
        return false;
    }
    uint64_t bytesPerEntry = 0;
    for (uint32_t i = 0; i < columns; ++i)
        bytesPerEntry += ((p[3 + i] & 0x7F) + 1 + 7) / 8;
    if (length - 3 - columns < bytesPerEntry * entries) {
        reportError(getPos(), "JPX palette box cut short");
        return false;
    }
    m_havePalette = true;
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
    int headerBits = 0;
    int firstComponentBits = -1;
    bool haveHeader = false;
    bool haveColour = false;
    int precedence = 0;
    int mode = 0;
    int opacityChannels = 0;
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
        uint64_t used = 0;
        if (type == kBoxImageHeader && dataLength >= 14) {
            r.skip(10);
            headerBits = r.byte();
            used = 11;
            haveHeader = true;
        } else if (type == kBoxBitsPerComponent && dataLength >= 1) {
            firstComponentBits = r.byte();
            used = 1;
        } else if (type == kBoxColour && dataLength >= 7) {
            const int method = r.byte();
            const int boxPrecedence = int8_t(r.byte());
            r.byte();
            const int space = int(r.u32());
            used = 7;
            const int boxMode = method == 1 ? modeOfSpace(space) : 0;
            if (boxMode != 0 && (!haveColour || boxPrecedence > precedence)) {
                mode = boxMode;
                precedence = boxPrecedence;
                haveColour = true;
            }
        } else if (type == kBoxChannels && dataLength >= 2) {
            const uint32_t channels = r.u16();
            used = 2;
            for (uint32_t i = 0; i < channels && used + 6 <= dataLength; ++i, used += 6) {
                r.u16();
                const uint32_t kind = r.u16();
                r.u16();
                if (kind == 1 || kind == 2)
                    ++opacityChannels;
            }
        }
        if (length == 0)
            break;
        r.skip(dataLength - used);
    }
    if (haveHeader && haveColour) {
        // 255 says the depths vary by component: the first one's is taken.
        const int byte = headerBits == 255 ? firstComponentBits : headerBits;
        if (byte >= 0 && byte != 255) {
            bitsPerComponent = (byte & 0x7F) + 1;
            colorMode = mode;
        } else if (probeSiz(r, bits, count)) {
            bitsPerComponent = bits;
            colorMode = mode;
        }
    } else if (probeSiz(r, bits, count)) {
        bitsPerComponent = bits;
        colorMode = modeOfComponentCount(count - opacityChannels);
    }
    source()->close();
}

}  // namespace rendova
