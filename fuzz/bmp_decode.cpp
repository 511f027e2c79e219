// Fuzzes the BMP decoder (and the any-format chain that starts with it), then
// writes what it decoded back out.
#include "fuzz/ImageFuzz.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > fuzz::kMaxInputBytes)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (!fuzz::smallEnough(bytes, kFormatBmp))
        return 0;
    for (uint32_t code : {uint32_t(kFormatBmp), uint32_t(kFormatUnknown)}) {
        RasterImage image;
        if (fuzz::decodeImage(bytes, code, image))
            fuzz::encodeImage(image, kFormatBmp, fuzz::kMaxPixels);
    }
    return 0;
}
