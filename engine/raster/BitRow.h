#pragma once

#include <cstdint>
#include <cstring>

namespace rendova {

// Bit ranges of a 1-bit row, most significant bit first (the layout of the
// 1-bit colour mode and of the anti-aliasing buffer). a <= b, both inside the
// row.
inline void setBitRange(uint8_t* row, int a, int b) {
    const int byteA = a >> 3, byteB = b >> 3;
    const uint8_t maskA = static_cast<uint8_t>(0xff >> (a & 7));
    const uint8_t maskB = static_cast<uint8_t>(0xff << (7 - (b & 7)));
    if (byteA == byteB) {
        row[byteA] |= maskA & maskB;
        return;
    }
    row[byteA] |= maskA;
    if (byteB - byteA > 1)
        std::memset(row + byteA + 1, 0xff, static_cast<size_t>(byteB - byteA - 1));
    row[byteB] |= maskB;
}

inline void clearBitRange(uint8_t* row, int a, int b) {
    const int byteA = a >> 3, byteB = b >> 3;
    const uint8_t maskA = static_cast<uint8_t>(0xff >> (a & 7));
    const uint8_t maskB = static_cast<uint8_t>(0xff << (7 - (b & 7)));
    if (byteA == byteB) {
        row[byteA] &= static_cast<uint8_t>(~(maskA & maskB));
        return;
    }
    row[byteA] &= static_cast<uint8_t>(~maskA);
    if (byteB - byteA > 1)
        std::memset(row + byteA + 1, 0, static_cast<size_t>(byteB - byteA - 1));
    row[byteB] &= static_cast<uint8_t>(~maskB);
}

}  // namespace rendova
