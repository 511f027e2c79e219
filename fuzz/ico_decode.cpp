// Fuzzes the icon decoder on its first two entries, then writes what it
// decoded back out as an icon.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.empty())
        return 0;
    // Icon entries are at most 255 x 255: no size guard is needed.
    for (int32_t frame : {0, 1}) {
        rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        image.info().frame = frame;
        if (!image.Decode(&stream, rendova::kFormatIco))
            continue;
        image.ReadColor(0, 0);
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatIco))
            std::free(encoded);
    }
    return 0;
}
