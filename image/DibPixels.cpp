#include "image/DibPixels.h"

#include <bit>

namespace rendova {

namespace {

// A shift right by `amount`, or left by its negation; shifts of 32 or more give 0.
uint32_t shiftDown(uint32_t value, int amount) {
    if (amount >= 32 || amount <= -32)
        return 0;
    return amount >= 0 ? value >> amount : value << -amount;
}

}  // namespace

void widen16Row(const uint8_t* source, size_t sourceBytes, uint8_t* target, int32_t width,
                const DibBitFields& masks) {
    const int r = std::popcount(masks.red & 0xFFFFu);
    const int g = std::popcount(masks.green & 0xFFFFu);
    const int b = std::popcount(masks.blue & 0xFFFFu);
    const int blueShift = r - 8;  // blue moves left by 8 - r
    const int greenShift = r + g - 8;
    const int redShift = r + g + b - 8;
    const uint32_t blueLow = masks.blue & 0xFF;
    size_t count = sourceBytes / 2;
    if (count > size_t(width))
        count = size_t(width);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t v = uint32_t(source[2 * i]) | (uint32_t(source[2 * i + 1]) << 8);
        target[3 * i] = uint8_t(shiftDown((v & 0xFF) & blueLow, blueShift));
        target[3 * i + 1] = uint8_t(shiftDown(v & masks.green, greenShift));
        target[3 * i + 2] = uint8_t(shiftDown(v & masks.red, redShift));
    }
}

void take32Row(const uint8_t* source, size_t sourceBytes, uint8_t* target, int32_t width) {
    size_t count = sourceBytes / 4;
    if (count > size_t(width))
        count = size_t(width);
    for (size_t i = 0; i < count; ++i) {
        target[3 * i] = source[4 * i];
        target[3 * i + 1] = source[4 * i + 1];
        target[3 * i + 2] = source[4 * i + 2];
    }
}

}  // namespace rendova
