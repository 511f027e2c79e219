// Fuzzes the TGA decoder, then writes what it decoded back out as TGA.
#include "fuzz/ImageFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return rendova::fuzz::roundTrip(data, size, rendova::kFormatTga);
}
