#include "image/RasterImageICO.h"

#include <cstdlib>
#include <cstring>

#include "image/CodecIo.h"
#include "image/DibPixels.h"
#include "image/ImageStream.h"

namespace rendova {

namespace {

constexpr uint32_t kIconHeaderSize = 6;
constexpr uint32_t kDirectoryEntrySize = 16;
constexpr uint32_t kInfoHeaderSize = 40;
// An icon's width and height are single bytes of its directory entry.
constexpr int32_t kMaxIconSide = 255;
constexpr uint16_t kTypeIcon = 1;
constexpr uint16_t kTypeCursor = 2;

// A zero-filled block that frees itself; a null data means there was no memory.
struct Block {
    explicit Block(size_t size) : data(static_cast<uint8_t*>(std::calloc(1, size ? size : 1))) {}
    ~Block() { std::free(data); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    uint8_t* data;
};

bool maskBit(const uint8_t* mask, uint32_t maskStride, int32_t x, int32_t y) {
    return (mask[size_t(y) * maskStride + size_t(x >> 3)] >> (7 - (x & 7))) & 1;
}

bool sameColour(const RgbQuad& a, const RgbQuad& b) {
    return a.blue == b.blue && a.green == b.green && a.red == b.red;
}

}  // namespace

bool RasterImageICO::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec([&] {
        const int64_t start = stream->tell();
        uint8_t header[kIconHeaderSize];
        if (stream->read(header, sizeof header, 1) != 1)
            return false;
        const uint16_t type = getLe16(header + 2);
        if (getLe16(header) != 0 || (type != kTypeIcon && type != kTypeCursor))
            return false;
        const uint16_t count = getLe16(header + 4);
        m_info.frameCount = count;
        uint8_t entry[kDirectoryEntrySize] = {};
        bool found = false;
        for (int32_t i = 0; i < count; ++i) {
            uint8_t current[kDirectoryEntrySize];
            if (stream->read(current, sizeof current, 1) != 1)
                return false;
            if (i == m_info.frame) {
                std::memcpy(entry, current, sizeof entry);
                found = true;
            }
        }
        if (!found)
            return false;
        return decodeEntry(stream, start, entry);
    });
}

bool RasterImageICO::decodeEntry(ImageStream* stream, int64_t start, const uint8_t* entry) {
    if (!seekTo(stream, start, getLe32(entry + 12)))
        return false;
    uint8_t bytes[kInfoHeaderSize];
    if (stream->read(bytes, sizeof bytes, 1) != 1)
        return false;
    BitmapInfoHeader info;
    std::memcpy(&info, bytes, sizeof info);
    const int colourBits = info.bitCount;
    if (Create(entry[0], entry[1], colourBits, kFormatIco) == nullptr)
        return false;
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();

    // The colour table: the stated count, at most what the depth addresses.
    uint64_t stated = info.clrUsed;
    if (stated == 0 && colourBits <= 8)
        stated = 1u << colourBits;
    uint32_t entries = 0;
    if (HasPalette()) {
        entries = uint32_t(stated < GetColourCount() ? stated : GetColourCount());
        if (colourBits <= 8 && entries > (1u << colourBits))
            entries = 1u << colourBits;
        RgbQuad table[256] = {};
        readSome(stream, table, 4 * size_t(entries));
        for (uint32_t i = 0; i < entries; ++i)
            table[i].reserved = 0;
        SetPalette(table, entries);
    }
    if (stated > entries)
        skipBytes(stream, int64_t(4 * (stated - entries)));

    if (colourBits > 24) {
        Block row(size_t(width) * 4);
        if (row.data == nullptr || !MakeAlphaPlane())
            return false;
        for (int32_t y = 0; y < height; ++y) {
            const size_t got = readSome(stream, row.data, size_t(width) * 4);
            take32Row(row.data, got, RowPointer(y), width);
            for (size_t x = 0; x < got / 4; ++x)
                m_alpha[size_t(y) * size_t(width) + x] = row.data[4 * x + 3];
            if (got < size_t(width) * 4)
                break;
        }
    } else {
        // The rows the image holds, whatever the header's image-size field says.
        readSome(stream, m_info.pixels, m_header.sizeImage);
    }

    const uint32_t maskStride = uint32_t((width + 31) / 32) * 4;
    const size_t maskSize = size_t(maskStride) * size_t(height);
    Block mask(maskSize);
    if (mask.data == nullptr)
        return false;
    readSome(stream, mask.data, maskSize);
    applyMask(mask.data, maskStride, colourBits);
    return true;
}

void RasterImageICO::applyMask(const uint8_t* mask, uint32_t maskStride, int colourBits) {
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    const size_t maskSize = size_t(maskStride) * size_t(height);
    bool allSet = true;
    for (size_t i = 0; i < maskSize && allSet; ++i)
        allSet = mask[i] == 0xFF;
    if (allSet) {
        SetTransparentIndex(0);
        invertPicture();
        return;
    }

    const bool hadAlpha = HasAlpha();
    if (!MakeAlphaPlane())
        return;
    bool anySet = false;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (maskBit(mask, maskStride, x, y)) {
                WriteAlpha(x, y, 0);
                anySet = true;
            }
        }
    }
    if (!anySet && !hadAlpha) {
        DropAlphaPlane();
        return;
    }
    if (colourBits > 24)
        return;  // the alpha plane carries the transparency

    if (colourBits > 8) {
        // One colour under every masked pixel becomes the transparent colour.
        bool first = true;
        bool uniform = anySet;
        RgbQuad colour;
        for (int32_t y = 0; y < height && uniform; ++y) {
            for (int32_t x = 0; x < width && uniform; ++x) {
                if (!maskBit(mask, maskStride, x, y))
                    continue;
                const RgbQuad here = ReadColor(x, y, false);
                if (first)
                    colour = here;
                uniform = first || sameColour(here, colour);
                first = false;
            }
        }
        if (uniform) {
            SetTransparentColour(colour);
            SetTransparentIndex(0);
            DropAlphaPlane();
        }
        return;
    }

    // Palette image: the lowest index that no pixel uses takes the masked pixels.
    bool used[256] = {};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x)
            used[ReadIndexUnchecked(x, y)] = true;
    }
    uint32_t unused = 0;
    while (unused < GetColourCount() && used[unused])
        ++unused;
    if (unused >= GetColourCount())
        return;
    bool changed = false;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (!maskBit(mask, maskStride, x, y))
                continue;
            WriteIndex(x, y, uint8_t(unused));
            changed = true;
        }
    }
    if (changed)
        SetTransparentIndex(int32_t(unused));
    DropAlphaPlane();
}

// The icon whose mask is all set draws by inverting: the colours (or, over the
// identity grey palette, the indices) are inverted.
void RasterImageICO::invertPicture() {
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    if (!HasPalette()) {
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = RowPointer(y);
            for (size_t i = 0; i < size_t(width) * 3; ++i)
                row[i] = uint8_t(~row[i]);
        }
        RgbQuad& colour = m_info.transparentColor;
        colour =
            RgbQuad{uint8_t(~colour.blue), uint8_t(~colour.green), uint8_t(~colour.red), colour.reserved};
        return;
    }
    if (!HasGreyPalette()) {
        RgbQuad* palette = GetPalette();
        for (uint32_t i = 0; i < GetColourCount(); ++i) {
            palette[i].blue = uint8_t(~palette[i].blue);
            palette[i].green = uint8_t(~palette[i].green);
            palette[i].red = uint8_t(~palette[i].red);
        }
        clearNearestCache();
        return;
    }
    const uint8_t depthMask = uint8_t((1u << GetBpp()) - 1);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x)
            WriteIndex(x, y, uint8_t(~ReadIndexUnchecked(x, y) & depthMask));
    }
}

bool RasterImageICO::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    if (width > kMaxIconSide || height > kMaxIconSide) {
        setLastError("Can't save this image as icon");
        return false;
    }
    if (GetBpp() <= 8 && !HasPalette())
        return false;
    return runCodec([&] {
        const bool withAlpha = HasAlpha() && !HasPalette();
        const uint32_t colourBits = withAlpha ? 32 : uint32_t(GetBpp());
        const uint32_t colourBytes = withAlpha ? uint32_t(width) * uint32_t(height) * 4 : m_header.sizeImage;
        const uint32_t maskStride = uint32_t((width + 31) / 32) * 4;
        const uint32_t maskSize = maskStride * uint32_t(height);

        uint8_t head[kIconHeaderSize + kDirectoryEntrySize + kInfoHeaderSize] = {};
        putLe16(head + 2, kTypeIcon);
        putLe16(head + 4, 1);
        uint8_t* entry = head + kIconHeaderSize;
        entry[0] = uint8_t(width);
        entry[1] = uint8_t(height);
        entry[2] = uint8_t(GetColourCount());
        putLe16(entry + 6, colourBits);
        putLe32(entry + 8, colourBytes + PaletteBytes() + maskSize + kInfoHeaderSize);
        putLe32(entry + 12, kIconHeaderSize + kDirectoryEntrySize);
        uint8_t* info = entry + kDirectoryEntrySize;
        putLe32(info, kInfoHeaderSize);
        putLe32(info + 4, uint32_t(width));
        putLe32(info + 8, uint32_t(height) * 2);
        putLe16(info + 12, 1);
        putLe16(info + 14, colourBits);
        putLe32(info + 20, colourBytes);
        writeOrFail(stream, head, sizeof head);
        writeOrFail(stream, GetPalette(), PaletteBytes());

        if (withAlpha) {
            Block row(size_t(width) * 4);
            if (row.data == nullptr)
                return false;
            for (int32_t y = 0; y < height; ++y) {
                const uint8_t* pixel = RowPointer(y);
                for (int32_t x = 0; x < width; ++x, pixel += 3) {
                    uint8_t* out = row.data + 4 * size_t(x);
                    out[0] = pixel[0];
                    out[1] = pixel[1];
                    out[2] = pixel[2];
                    out[3] = ReadAlpha(x, y);
                }
                writeOrFail(stream, row.data, size_t(width) * 4);
            }
        } else {
            writeOrFail(stream, m_info.pixels, m_header.sizeImage);
        }

        Block mask(maskSize);
        if (mask.data == nullptr)
            return false;
        const bool paletteAlpha = PaletteHasAlpha();
        const bool keyed = HasTransparency();
        const RgbQuad key = GetTransparentColour();
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                bool transparent = HasAlpha() && ReadAlpha(x, y) == 0;
                if (!transparent && paletteAlpha)
                    transparent = PaletteEntry(ReadIndexUnchecked(x, y)).reserved == 0;
                if (!transparent && keyed)
                    transparent = sameColour(ReadColor(x, y, false), key);
                if (transparent)
                    mask.data[size_t(y) * maskStride + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
            }
        }
        writeOrFail(stream, mask.data, maskSize);
        return true;
    });
}

}  // namespace rendova
