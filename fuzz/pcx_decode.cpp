// Fuzzes the PCX decoder, then writes what it decoded back out as PCX.
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "fuzz/CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size > fuzz::kMaxCodecInput)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    // A probe that fails has nothing to allocate: the decode runs all the same.
    if (bytes.empty() || !fuzz::probeFits(bytes, kFormatPcx, 0, true))
        return 0;
    fuzz::decodeAndReencode(bytes, kFormatPcx, 0, std::nullopt, std::numeric_limits<int64_t>::max());
    return 0;
}
