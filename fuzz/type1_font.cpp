// Fuzzes Type1FontFile: the input is a Type 1 font program; its name and
// encoding are asked for.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/content/Type1FontFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24))
        return 0;
    auto font = rendova::Type1FontFile::fromBuffer(data, static_cast<int>(size));
    if (const char* name = font->getName()) {
        if (std::strlen(name) > 255)
            __builtin_trap();
    }
    if (const char* const* encoding = font->getEncoding()) {
        for (int code = 0; code < 256; ++code) {
            if (encoding[code] && std::strlen(encoding[code]) > 255)
                __builtin_trap();
        }
    }
    return 0;
}
