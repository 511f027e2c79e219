#pragma once

#include <cstdint>

namespace rendova {

// The hash of every keyed table of the engine (StringHash, NameToIntMap,
// NameCodeTable): h = 17 * h + byte over the key's bytes taken as unsigned,
// in unsigned 32-bit arithmetic. Cheap, and good enough for the short names
// these tables hold. A table's bucket is the hash modulo its bucket count.
inline uint32_t keyHash(const char* bytes, int length) {
    uint32_t h = 0;
    for (int i = 0; i < length; ++i)
        h = 17 * h + static_cast<unsigned char>(bytes[i]);
    return h;
}

// The same over a C string, up to its NUL.
inline uint32_t keyHash(const char* text) {
    uint32_t h = 0;
    for (; *text; ++text)
        h = 17 * h + static_cast<unsigned char>(*text);
    return h;
}

}  // namespace rendova
