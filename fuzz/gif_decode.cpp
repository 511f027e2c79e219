// Fuzzes the GIF decoder (the first frame and a later one), then writes what
// it decoded back out with each of the three bodies.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Screens beyond this many pixels are only measured: the decoder's own
// bound is far above what a fuzzing run should allocate each time.
constexpr int64_t kMaxPixels = 1 << 22;

bool smallEnough(std::vector<uint8_t>& bytes) {
    rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage probe;
    probe.info().escape = -1;
    if (!probe.Decode(&stream, rendova::kFormatGif))
        return true;
    return int64_t(probe.GetWidth()) * probe.GetHeight() <= kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.empty() || !smallEnough(bytes))
        return 0;
    for (int32_t frame : {0, 2}) {
        rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        image.info().frame = frame;
        if (!image.Decode(&stream, rendova::kFormatGif))
            continue;
        image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
        if (int64_t(image.GetWidth()) * image.GetHeight() > (1 << 16))
            continue;  // encoding large pictures only costs time
        for (uint32_t body : {0u, 1u, 2u}) {
            image.SetFormatOption(body, rendova::kFormatGif);
            uint8_t* encoded = nullptr;
            int32_t encodedSize = 0;
            if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatGif))
                std::free(encoded);
        }
    }
    return 0;
}
