#pragma once

#include <cstddef>
#include <cstdint>

namespace rendova {

// Pixel-level pieces of the device-independent bitmap format shared by
// RasterImage::CreateFromDib and the BMP and ICO codecs: run-length decoding,
// bit-field widening and the 32-bit pixel form. The functions work on raw rows
// and counts and never read or write outside the ranges they are given.

// Red, green and blue masks of a 16-bit pixel; the defaults are the 5-5-5 form.
struct DibBitFields {
    uint32_t red = 0x7C00;
    uint32_t green = 0x03E0;
    uint32_t blue = 0x001F;
};

// Converts min(width, sourceBytes / 2) little-endian 16-bit pixels into blue,
// green, red bytes. Each channel is shifted so that its top bit lands on bit 7
// of its byte; the shifts are taken from the numbers of set bits of the masks
// as the format's writers expect for the 5-5-5 and 5-6-5 masks (the blue and
// green shifts use the red mask's count, which equals the blue one there).
void widen16Row(const uint8_t* source, size_t sourceBytes, uint8_t* target, int32_t width,
                const DibBitFields& masks);

// Takes blue, green, red of min(width, sourceBytes / 4) 4-byte pixels.
void take32Row(const uint8_t* source, size_t sourceBytes, uint8_t* target, int32_t width);

// Stores palette index `value` at column x of a row of 1, 4 or 8-bit pixels.
inline void storeIndex(uint8_t* row, int64_t x, uint8_t value, int bits) {
    if (bits == 8) {
        row[x] = value;
    } else if (bits == 4) {
        uint8_t& byte = row[x >> 1];
        byte = (x & 1) ? uint8_t((byte & 0xF0) | (value & 0x0F)) : uint8_t((byte & 0x0F) | (value << 4));
    } else {
        const uint8_t bit = uint8_t(0x80 >> (x & 7));
        uint8_t& byte = row[x >> 3];
        byte = (value & 1) ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
    }
}

// Run-length decoding of 8-bit (fourBit false) or 4-bit data into the rows of
// a 1, 4 or 8-bit image (rows from the bottom, `stride` bytes apart). Codes:
// a count n > 0 and a value give n pixels of that value (at 4 bits the value's
// two nibbles alternate, high first); escape 0 ends the line, 1 ends the
// bitmap, 2 moves right and up by the next two bytes; 3..255 are that many
// literal pixels, padded to a 16-bit boundary. Pixels outside the picture are
// dropped. `next` returns the next input byte, or -1 at the end of the data.
template <class NextByte>
void decodeRunLength(NextByte&& next, uint8_t* pixels, size_t stride, int32_t width, int32_t height, int bits,
                     bool fourBit) {
    int64_t x = 0;
    int64_t y = 0;
    auto put = [&](uint8_t value) {
        if (x < width && y < height)
            storeIndex(pixels + size_t(y) * stride, x, value, bits);
        ++x;
    };
    while (y < height) {
        const int count = next();
        const int value = count < 0 ? -1 : next();
        if (value < 0)
            return;
        if (count > 0) {
            if (x >= width) {
                x += count;
                continue;
            }
            for (int i = 0; i < count; ++i)
                put(fourBit ? uint8_t((i & 1) ? (value & 0x0F) : (value >> 4)) : uint8_t(value));
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return;
        } else if (value == 2) {
            const int dx = next();
            const int dy = dx < 0 ? -1 : next();
            if (dy < 0)
                return;
            x += dx;
            y += dy;
        } else {
            // Literal run: `value` pixels, then padding to an even byte count.
            const int bytes = fourBit ? (value + 1) / 2 : value;
            int left = value;
            for (int i = 0; i < bytes; ++i) {
                const int data = next();
                if (data < 0)
                    return;
                if (fourBit) {
                    put(uint8_t(data >> 4));
                    if (--left > 0)
                        put(uint8_t(data & 0x0F));
                    --left;
                } else {
                    put(uint8_t(data));
                }
            }
            if (bytes & 1) {
                if (next() < 0)
                    return;
            }
        }
    }
}

}  // namespace rendova
