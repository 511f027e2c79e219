#pragma once

// Numbers stored most significant byte first, as the JPEG 2000 and JBIG2
// formats store them. The caller has checked that the bytes are there.
#include <cstdint>

namespace rendova {

inline uint32_t readBigEndian16(const uint8_t* p) {
    return uint32_t(p[0]) << 8 | p[1];
}

inline uint32_t readBigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace rendova
