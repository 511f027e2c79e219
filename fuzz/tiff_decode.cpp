// Fuzzes the TIFF decoder on its first two pages, then writes what it
// decoded back as TIFF with the compression it had.
#include "fuzz/ImageFuzz.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > fuzz::kMaxInputBytes)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    for (int32_t frame : {0, 1}) {
        RasterImage image;
        if (fuzz::smallEnough(bytes, kFormatTiff, frame, false) &&
            fuzz::decodeImage(bytes, kFormatTiff, image, frame))
            fuzz::encodeImage(image, kFormatTiff);
    }
    return 0;
}
