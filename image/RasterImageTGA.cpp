#include "image/RasterImageTGA.h"

#include <algorithm>
#include <new>
#include <vector>

#include "image/ByteReader.h"
#include "image/CodecIo.h"
#include "image/ImageStream.h"
#include "image/ImageTransforms.h"

namespace rendova {

namespace {

constexpr size_t kHeaderSize = 18;
constexpr uint8_t kTypeMapped = 1;
constexpr uint8_t kTypeTrueColour = 2;
constexpr uint8_t kTypeGrey = 3;
// Types 9, 10 and 11 are the run-length forms of 1, 2 and 3.
constexpr uint8_t kRunLengthType = 8;
constexpr uint8_t kRightToLeft = 0x10;
constexpr uint8_t kTopDown = 0x20;
constexpr uint32_t kMaxMapLength = 256;
// A packet header's low seven bits count its pixels less one.
constexpr int32_t kMaxPacket = 128;
constexpr int32_t kMaxSide = 65535;

bool isPixelDepth(int bits) {
    return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32;
}

// One pixel of `bytes` bytes into blue, green, red, alpha.
RgbQuad unpackPixel(const uint8_t* p, int bytes) {
    switch (bytes) {
        case 2: {
            const uint32_t v = getLe16(p);
            return RgbQuad{uint8_t((v << 3) & 0xF8), uint8_t((v >> 2) & 0xF8), uint8_t((v >> 7) & 0xF8), 255};
        }
        case 3:
            return RgbQuad{p[0], p[1], p[2], 255};
        case 4:
            return RgbQuad{p[0], p[1], p[2], p[3]};
        default:
            return RgbQuad{p[0], p[0], p[0], 255};
    }
}

// Reads the colour map, each entry in its own size (15 and 16 bits are
// 5-5-5 colours); an 8-bit picture takes it as its palette.
void readColourMap(ByteReader& reader, RasterImage& image, uint32_t mapLength, int mapBytes, int pixelBits) {
    std::vector<uint8_t> map(size_t(mapLength) * size_t(mapBytes));
    if (!reader.read(map.data(), map.size()))
        failCodec("corrupted TGA");
    if (pixelBits == 8) {
        for (uint32_t i = 0; i < mapLength; ++i) {
            RgbQuad c = unpackPixel(map.data() + size_t(i) * size_t(mapBytes), mapBytes);
            c.reserved = 0;
            image.SetPaletteEntry(uint8_t(i), c);
        }
    }
}

// The pixels of a run-length picture one after the other. A packet may go
// on into the next row, but never beyond the last pixel: the reading stops
// there.
class PacketReader {
public:
    PacketReader(ByteReader& reader, int pixelBytes) : m_reader(reader), m_pixelBytes(size_t(pixelBytes)) {}

    const uint8_t* next() {
        if (m_packetLeft == 0) {
            const int head = m_reader.next();
            if (head < 0)
                failCodec("corrupted TGA");
            m_packetLeft = (head & 0x7F) + 1;
            m_repeating = head & 0x80;
            if (m_repeating && !m_reader.read(m_pixel, m_pixelBytes))
                failCodec("corrupted TGA");
        }
        if (!m_repeating && !m_reader.read(m_pixel, m_pixelBytes))
            failCodec("corrupted TGA");
        --m_packetLeft;
        return m_pixel;
    }

private:
    ByteReader& m_reader;
    size_t m_pixelBytes;
    uint8_t m_pixel[4] = {};
    int32_t m_packetLeft = 0;
    bool m_repeating = false;
};

}  // namespace

bool RasterImageTGA::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec("TGA Create failed", [&] {
        uint8_t header[kHeaderSize];
        if (stream->read(header, sizeof header, 1) != 1)
            failCodec("Not a TGA");
        const uint8_t type = header[2];
        const uint8_t baseType = type & ~kRunLengthType;
        if (baseType < kTypeMapped || baseType > kTypeGrey)
            failCodec("Unknown TGA image type");
        const bool runLength = type != baseType;
        const bool hasMap = header[1] != 0;
        const uint32_t mapLength = getLe16(header + 5);
        const int mapEntryBits = header[7];
        const int32_t width = getLe16(header + 12);
        const int32_t height = getLe16(header + 14);
        const int pixelBits = header[16];
        const uint8_t descriptor = header[17];
        if (width == 0 || height == 0 || mapLength > kMaxMapLength || !isPixelDepth(pixelBits) ||
            (hasMap && mapLength != 0 && mapEntryBits != 15 && !isPixelDepth(mapEntryBits)))
            failCodec("bad TGA header");
        if (m_info.escape == -1) {
            m_header.width = width;
            m_header.height = height;
            setLastError("output dimensions returned");
            return true;
        }
        skipBytes(stream, header[0]);
        const int pixelBytes = (pixelBits + 7) / 8;
        const int mapBytes = (mapEntryBits + 7) / 8;
        const int64_t pixels = int64_t(width) * height;
        // The pixels cannot take fewer bytes than whole packets of 128 (or
        // the plain rows) need: a short file is refused before the picture
        // is allocated.
        const int64_t shortest =
            (hasMap ? int64_t(mapLength) * mapBytes : 0) +
            (runLength ? (pixels + kMaxPacket - 1) / kMaxPacket * (1 + pixelBytes) : pixels * pixelBytes);
        const int64_t left = bytesLeft(stream);
        if (left >= 0 && left < shortest)
            failCodec("corrupted TGA");
        if (Create(width, height, pixelBits, kFormatTga) == nullptr)
            failCodec("TGA Create failed");
        if (pixelBits == 32 && !MakeAlphaPlane())
            failCodec("TGA Create failed");
        if (m_info.escape != 0)
            failCodec("Cancelled");

        ByteReader reader(stream);
        if (hasMap)
            readColourMap(reader, *this, mapLength, mapBytes, pixelBits);
        if (pixelBits == 8 && baseType == kTypeGrey)
            MakeGreyPalette();

        const bool topDown = descriptor & kTopDown;
        uint8_t* alpha = alphaPlane();
        PacketReader packets(reader, pixelBytes);
        std::vector<uint8_t> plainRow(size_t(width) * size_t(pixelBytes));
        for (int32_t i = 0; i < height; ++i) {
            if (m_info.escape != 0)
                failCodec("Cancelled");
            const int32_t stored = topDown ? height - 1 - i : i;
            uint8_t* row = RowPointer(stored);
            if (!runLength && !reader.read(plainRow.data(), plainRow.size()))
                failCodec("corrupted TGA");
            for (int32_t x = 0; x < width; ++x) {
                const uint8_t* source =
                    runLength ? packets.next() : plainRow.data() + size_t(x) * size_t(pixelBytes);
                if (pixelBits == 8) {
                    row[x] = source[0];
                    continue;
                }
                const RgbQuad c = unpackPixel(source, pixelBytes);
                row[3 * x] = c.blue;
                row[3 * x + 1] = c.green;
                row[3 * x + 2] = c.red;
                if (alpha != nullptr)
                    alpha[size_t(stored) * size_t(width) + size_t(x)] = c.reserved;
            }
        }
        if (descriptor & kRightToLeft)
            MirrorHorizontal(*this);
        return true;
    });
}

bool RasterImageTGA::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec("Can't allocate memory", [&] {
        const int bits = GetBpp();
        if (bits < 8)
            failCodec("Bit depth must be 8 or 24");
        const int32_t width = GetWidth();
        const int32_t height = GetHeight();
        if (width > kMaxSide || height > kMaxSide)
            failCodec("Can't save this image as TGA");
        const bool withAlpha = bits == 24 && HasAlpha();
        uint8_t header[kHeaderSize] = {};
        header[1] = HasPalette() ? 1 : 0;
        header[2] = bits == 8 ? kTypeMapped : kTypeTrueColour;
        if (bits == 8) {
            putLe16(header + 5, 256);
            header[7] = 24;
        }
        putLe16(header + 12, uint32_t(width));
        putLe16(header + 14, uint32_t(height));
        header[16] = uint8_t(withAlpha ? 32 : bits);
        writeOrFail(stream, header, sizeof header);
        if (bits == 8) {
            uint8_t map[3 * 256];
            const RgbQuad* palette = GetPalette();
            for (int i = 0; i < 256; ++i) {
                map[3 * i] = palette[i].blue;
                map[3 * i + 1] = palette[i].green;
                map[3 * i + 2] = palette[i].red;
            }
            writeOrFail(stream, map, sizeof map);
        }
        const size_t rowBytes = size_t(width) * (withAlpha ? 4 : size_t(bits / 8));
        std::vector<uint8_t> out(rowBytes);
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* row = RowPointer(y);
            if (!withAlpha) {
                writeOrFail(stream, row, rowBytes);
                continue;
            }
            const uint8_t* alpha = alphaPlane() + size_t(y) * size_t(width);
            for (int32_t x = 0; x < width; ++x) {
                out[4 * size_t(x)] = row[3 * x];
                out[4 * size_t(x) + 1] = row[3 * x + 1];
                out[4 * size_t(x) + 2] = row[3 * x + 2];
                out[4 * size_t(x) + 3] = uint8_t(alpha[x] * m_info.alphaMax / 255);
            }
            writeOrFail(stream, out.data(), rowBytes);
        }
    });
}

}  // namespace rendova
