// Decodes a bounded input through the ASCII85Decode filter, twice: a reread after
// reset() must give the same bytes.
#include "engine/core/Base85Decoder.h"
#include "fuzz/FilterFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return rendova::fuzz::fuzzFilter<rendova::Base85Decoder>(data, size);
}
