// Fuzzes the JPEG 2000 side of the family codec: the binding of OpenJPEG to
// an image stream, the checks of the header before OpenJPEG allocates, and
// the component rules.
#include <cstdint>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    for (int32_t frame : {0, 2}) {
        rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        image.info().frame = frame;
        if (image.Decode(&in, rendova::kFormatJp2))
            image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    }
    return 0;
}
