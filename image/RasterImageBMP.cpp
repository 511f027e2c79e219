#include "image/RasterImageBMP.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/CodecIo.h"
#include "image/DibPixels.h"
#include "image/ImageStream.h"

namespace rendova {

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// The OS/2 second-version header: the 40-byte fields and 24 bytes we skip.
constexpr uint32_t kOs2HeaderSize = 64;
constexpr uint16_t kBmpMagic = 0x4D42;  // "BM"

// floor(pels x 0.0254 + 0.5); a resolution of 0 stays 0.
int32_t dpiFromPelsPerMetre(int32_t pelsPerMetre) {
    return int32_t(std::floor(pelsPerMetre * 0.0254 + 0.5));
}

// Bytes of the rows of a bitmap as its header describes them; any size beyond
// 64 bits answers the largest value, which no header field can equal.
uint64_t computedImageSize(int64_t bits, int64_t width, int64_t height) {
    const int64_t rowBytes = ((bits * width + 31) >> 5) * 4;  // |bits x width| < 2^47
    const int64_t rows = height < 0 ? -height : height;
    if (rowBytes <= 0)
        return 0;
    if (rows > std::numeric_limits<int64_t>::max() / rowBytes)
        return std::numeric_limits<uint64_t>::max();
    return uint64_t(rowBytes * rows);
}

// The row order of a top-down file, made bottom-up.
void flipRows(uint8_t* pixels, uint32_t stride, int32_t height) {
    for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + size_t(top) * stride, pixels + size_t(top + 1) * stride,
                         pixels + size_t(bottom) * stride);
}

// A row buffer that frees itself; a null data() means there was no memory.
struct RowBuffer {
    explicit RowBuffer(size_t size) : data(static_cast<uint8_t*>(std::calloc(1, size ? size : 1))) {}
    ~RowBuffer() { std::free(data); }
    RowBuffer(const RowBuffer&) = delete;
    RowBuffer& operator=(const RowBuffer&) = delete;
    uint8_t* data;
};

}  // namespace

bool RasterImageBMP::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec([&] {
        syncBlockHeader();
        uint8_t fileHeader[kFileHeaderSize] = {};
        putLe16(fileHeader, kBmpMagic);
        putLe32(fileHeader + 2, GetSize() + kFileHeaderSize);
        putLe32(fileHeader + 10, kFileHeaderSize + m_header.size + PaletteBytes());
        writeOrFail(stream, fileHeader, sizeof fileHeader);
        writeOrFail(stream, m_pixelBlock, GetSize());
    });
}

bool RasterImageBMP::ReadInfoHeader(ImageStream* stream, BitmapInfoHeader& header) {
    uint8_t bytes[kInfoHeaderSize] = {};
    // The size word first: a core header is only 12 bytes, and a small core
    // file may end before 40 bytes would.
    if (stream->read(bytes, 4, 1) != 1)
        return false;
    const uint32_t size = getLe32(bytes);
    header = BitmapInfoHeader{};
    if (size == kCoreHeaderSize) {
        if (stream->read(bytes + 4, kCoreHeaderSize - 4, 1) != 1)
            return false;
        header.size = size;
        header.width = getLe16(bytes + 4);
        header.height = getLe16(bytes + 6);
        header.planes = getLe16(bytes + 8);
        header.bitCount = getLe16(bytes + 10);
    } else {
        if (size < kInfoHeaderSize)
            return false;
        if (stream->read(bytes + 4, kInfoHeaderSize - 4, 1) != 1)
            return false;
        std::memcpy(&header, bytes, sizeof header);
        if (size == kOs2HeaderSize) {
            skipBytes(stream, kOs2HeaderSize - kInfoHeaderSize);
        } else if (size != kInfoHeaderSize) {
            // Later, longer headers are read only when their first 40 bytes
            // describe a plain uncompressed bitmap consistently.
            if (header.sizeImage != computedImageSize(header.bitCount, header.width, header.height) ||
                header.planes != 1 || header.compression != 0 || header.clrUsed != 0)
                return false;
            if (!skipBytes(stream, int64_t(size) - kInfoHeaderSize))
                return false;
        }
    }
    if (header.sizeImage == 0) {
        const uint64_t computed = computedImageSize(header.bitCount, header.width, header.height);
        header.sizeImage = uint32_t(std::min<uint64_t>(computed, std::numeric_limits<uint32_t>::max()));
    }
    if (header.clrUsed == 0 && header.bitCount <= 8)
        header.clrUsed = 1u << header.bitCount;
    return true;
}

bool RasterImageBMP::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec([&] {
        const int64_t start = stream->tell();
        uint8_t fileHeader[kFileHeaderSize];
        if (stream->read(fileHeader, kFileHeaderSize, 1) != 1)
            failCodec("Not a BMP");
        uint32_t bitsOffset = getLe32(fileHeader + 10);
        if (getLe16(fileHeader) != kBmpMagic) {
            // No file header: the bitmap starts with its info header.
            bitsOffset = 0;
            seekTo(stream, start, 0);
        }
        BitmapInfoHeader file;
        if (!ReadInfoHeader(stream, file))
            failCodec("Error reading BMP info");
        if (file.height == std::numeric_limits<int32_t>::min())
            failCodec("Error reading BMP info");
        const bool topDown = file.height < 0;
        const int32_t height = topDown ? -file.height : file.height;

        if (m_info.escape == -1) {
            m_header.width = file.width;
            m_header.height = height;
            setLastError("output dimensions returned");
            return true;
        }
        if (Create(file.width, height, file.bitCount, kFormatBmp) == nullptr)
            failCodec("Can't allocate memory");
        m_header.xPelsPerMeter = file.xPelsPerMeter;
        m_header.yPelsPerMeter = file.yPelsPerMeter;
        m_info.dpiX = dpiFromPelsPerMetre(file.xPelsPerMeter);
        m_info.dpiY = dpiFromPelsPerMetre(file.yPelsPerMeter);
        if (m_info.escape != 0)
            failCodec("Cancelled");

        if (HasPalette()) {
            const uint32_t entrySize = file.size == kCoreHeaderSize ? 3 : 4;
            // At most the entries the file's depth can address; a larger
            // stated count is skipped, never read into the image.
            uint32_t entries = file.clrUsed;
            if (file.bitCount <= 8 && entries > (1u << file.bitCount))
                entries = 1u << file.bitCount;
            if (entries > GetColourCount())
                entries = GetColourCount();
            uint8_t table[256 * 4] = {};
            readSome(stream, table, size_t(entries) * entrySize);
            RgbQuad* palette = GetPalette();
            for (uint32_t i = 0; i < entries; ++i) {
                const uint8_t* entry = table + size_t(i) * entrySize;
                palette[i] = RgbQuad{entry[0], entry[1], entry[2], 0};
            }
            clearNearestCache();
            if (file.clrUsed > entries && bitsOffset == 0)
                skipBytes(stream, int64_t(file.clrUsed - entries) * entrySize);
            if (m_info.escape != 0)
                failCodec("Cancelled");
        }

        decodeBits(stream, file, start, bitsOffset);
        if (topDown)
            flipRows(m_info.pixels, GetRowStride(), GetHeight());
        return true;
    });
}

void RasterImageBMP::decodeBits(ImageStream* stream, const BitmapInfoHeader& file, int64_t start,
                                uint32_t bitsOffset) {
    const int bits = file.bitCount;
    DibBitFields masks;
    if ((bits == 16 || bits == 32) && file.compression == 3) {
        uint8_t words[12] = {};
        readSome(stream, words, sizeof words);
        masks = {getLe32(words), getLe32(words + 4), getLe32(words + 8)};
    }
    if (bitsOffset != 0)
        seekTo(stream, start, bitsOffset);

    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    const uint32_t stride = GetRowStride();
    // Never more than the rows hold, whatever the file's image-size field says.
    const uint32_t rowBytes = std::min(file.sizeImage, m_header.sizeImage);

    switch (bits) {
        case 1:
        case 4:
        case 8:
            if (file.compression == 0) {
                readSome(stream, m_info.pixels, rowBytes);
            } else if (file.compression == 1 || file.compression == 2) {
                decodeRunLength([stream]() { return stream->getc(); }, m_info.pixels, stride, width, height,
                                bits, file.compression == 2);
            } else {
                failCodec("compression type not supported");
            }
            break;
        case 16: {
            const size_t sourceStride = size_t((width + 1) / 2) * 4;
            RowBuffer row(sourceStride);
            if (row.data == nullptr)
                failCodec("can't allocate memory");
            for (int32_t y = 0; y < height; ++y) {
                const size_t got = readSome(stream, row.data, sourceStride);
                if (got == 0)
                    break;
                widen16Row(row.data, got, RowPointer(y), width, masks);
            }
            break;
        }
        case 24:
            if (file.compression != 0)
                failCodec("unknown compression");
            readSome(stream, m_info.pixels, rowBytes);
            break;
        case 32: {
            if (file.compression != 0 && file.compression != 3)
                failCodec("unknown compression");
            const size_t sourceStride = size_t(width) * 4;
            RowBuffer row(sourceStride);
            if (row.data == nullptr)
                failCodec("can't allocate memory");
            for (int32_t y = 0; y < height; ++y) {
                const size_t got = readSome(stream, row.data, sourceStride);
                if (got == 0)
                    break;
                take32Row(row.data, got, RowPointer(y), width);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace rendova
