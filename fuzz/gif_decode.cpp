// Fuzzes the GIF decoder (the first frame and a later one), then writes what
// it decoded back out with each of the three bodies.
#include "fuzz/ImageFuzz.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > fuzz::kMaxInputBytes)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (!fuzz::smallEnough(bytes, kFormatGif))
        return 0;
    for (int32_t frame : {0, 2}) {
        RasterImage image;
        if (!fuzz::decodeImage(bytes, kFormatGif, image, frame))
            continue;
        // Three bodies of each picture: only small ones, which say as much.
        for (uint32_t body : {0u, 1u, 2u}) {
            image.SetFormatOption(body, kFormatGif);
            fuzz::encodeImage(image, kFormatGif, 1 << 16);
        }
    }
    return 0;
}
