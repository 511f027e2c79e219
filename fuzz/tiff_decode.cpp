// Fuzzes the TIFF decoder on its first two pages, then writes what it
// decoded back as TIFF with the compression it had.
#include <cstdint>
#include <optional>
#include <vector>

#include "fuzz/CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size > fuzz::kMaxCodecInput)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    for (int32_t frame : {0, 1}) {
        if (fuzz::probeFits(bytes, kFormatTiff, frame))
            fuzz::decodeAndReencode(bytes, kFormatTiff, frame, std::nullopt);
    }
    return 0;
}
