#pragma once

// Helpers of the image library's tests: building bitmap bytes field by field,
// and running the decoders and encoders over memory.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace rendova::test {

using Bytes = std::vector<uint8_t>;

inline void append16(Bytes& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline void append32(Bytes& out, uint32_t v) {
    append16(out, v & 0xFFFF);
    append16(out, v >> 16);
}

inline void appendBytes(Bytes& out, std::initializer_list<int> values) {
    for (int v : values)
        out.push_back(uint8_t(v));
}

struct DibFields {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t pelsX = 0;
    int32_t pelsY = 0;
    uint32_t clrUsed = 0;
    uint32_t headerSize = 40;
    uint16_t planes = 1;
};

// An info header of `f.headerSize` bytes (40 or more; bytes beyond 40 are zero).
inline Bytes infoHeader(const DibFields& f) {
    Bytes out;
    append32(out, f.headerSize);
    append32(out, uint32_t(f.width));
    append32(out, uint32_t(f.height));
    append16(out, f.planes);
    append16(out, f.bits);
    append32(out, f.compression);
    append32(out, f.sizeImage);
    append32(out, uint32_t(f.pelsX));
    append32(out, uint32_t(f.pelsY));
    append32(out, f.clrUsed);
    append32(out, 0);
    out.resize(f.headerSize, 0);
    return out;
}

inline uint32_t strideOf(int32_t width, int bits) {
    return uint32_t(((width * bits + 31) >> 5) << 2);
}

// A 14-byte file header in front of `dib`, whose bits start at `bitsOffset` within it.
inline Bytes withFileHeader(const Bytes& dib, uint32_t bitsOffset) {
    Bytes out;
    append16(out, 0x4D42);
    append32(out, uint32_t(dib.size() + 14));
    append32(out, 0);
    append32(out, bitsOffset + 14);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

inline bool decodeBytes(RasterImage& image, const Bytes& bytes, uint32_t code) {
    Bytes copy = bytes;
    MemoryStream stream(copy.data(), int32_t(copy.size()));
    return image.Decode(&stream, code);
}

inline Bytes encodeBytes(RasterImage& image, uint32_t code) {
    uint8_t* buffer = nullptr;
    int32_t size = 0;
    if (!image.EncodeToMemory(buffer, size, code))
        return {};
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

}  // namespace rendova::test
