// Decodes a bounded input through the RunLengthDecode filter, twice: a reread after
// reset() must give the same bytes.
#include "engine/core/RunLengthDecoder.h"
#include "fuzz/FilterFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return rendova::fuzz::fuzzFilter<rendova::RunLengthDecoder>(data, size);
}
