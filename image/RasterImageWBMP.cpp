#include "image/RasterImageWBMP.h"

#include <cstdint>

#include "image/ByteReader.h"
#include "image/CodecIo.h"
#include "image/ImageStream.h"

namespace rendova {

namespace {

// A multi-byte integer carries seven bits a byte; five bytes hold every
// positive 32-bit value.
constexpr int kMaxIntegerBytes = 5;

// Reads a multi-byte integer: -1 at the end of the stream, -2 when it does
// not fit 31 bits.
int64_t readInteger(ImageStream* stream) {
    int64_t value = 0;
    for (int i = 0; i < kMaxIntegerBytes; ++i) {
        const int byte = stream->getc();
        if (byte < 0)
            return -1;
        value = (value << 7) | (byte & 0x7F);
        if (!(byte & 0x80))
            return value > INT32_MAX ? -2 : value;
    }
    return -2;
}

void appendInteger(uint8_t* out, size_t& length, uint32_t value) {
    int groups = 1;
    while (groups < kMaxIntegerBytes && (value >> (7 * groups)) != 0)
        ++groups;
    for (int g = groups - 1; g >= 0; --g)
        out[length++] = uint8_t(((value >> (7 * g)) & 0x7F) | (g > 0 ? 0x80 : 0));
}

}  // namespace

bool RasterImageWBMP::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec([&] {
        const int type = stream->getc();
        const int fixedHeader = stream->getc();
        const int64_t width = readInteger(stream);
        const int64_t height = readInteger(stream);
        if (type < 0 || fixedHeader < 0 || width == -1 || height == -1)
            failCodec("Not a WBMP");
        if (type != 0)
            failCodec("Unsupported WBMP type");
        if (width <= 0 || height <= 0)
            failCodec("Corrupted WBMP");
        if (m_info.escape == -1) {
            m_header.width = int32_t(width);
            m_header.height = int32_t(height);
            setLastError("output dimensions returned");
            return true;
        }
        // The rows are not coded: a file shorter than they are is cut off,
        // and is refused before its picture is allocated.
        const int64_t rowBytes = (width + 7) / 8;
        const int64_t left = bytesLeft(stream);
        if (left >= 0 && left / rowBytes < height)
            failCodec("Corrupted WBMP");
        if (Create(int32_t(width), int32_t(height), 1, kFormatWbmp) == nullptr)
            failCodec("WBMP Create failed");
        SetPaletteEntry(0, 0, 0, 0);
        SetPaletteEntry(1, 255, 255, 255);
        for (int32_t y = GetHeight() - 1; y >= 0; --y)
            readSome(stream, RowPointer(y), size_t(rowBytes));
        return true;
    });
}

bool RasterImageWBMP::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec([&] {
        if (GetBpp() != 1)
            failCodec("Can't save this image as WBMP");
        // Sizes of 128 and more take the multi-byte form; below that it is
        // the single byte of the simplest files.
        uint8_t header[2 + 2 * kMaxIntegerBytes] = {0, 0};
        size_t length = 2;
        appendInteger(header, length, uint32_t(GetWidth()));
        appendInteger(header, length, uint32_t(GetHeight()));
        writeOrFail(stream, header, length);
        const size_t rowBytes = (size_t(GetWidth()) + 7) / 8;
        for (int32_t y = GetHeight() - 1; y >= 0; --y)
            writeOrFail(stream, RowPointer(y), rowBytes);
    });
}

}  // namespace rendova
