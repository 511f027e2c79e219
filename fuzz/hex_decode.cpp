// Decodes a bounded input through the ASCIIHexDecode filter, twice: a reread after
// reset() must give the same bytes.
#include "engine/core/HexDecoder.h"
#include "fuzz/FilterFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return rendova::fuzz::fuzzFilter<rendova::HexDecoder>(data, size);
}
