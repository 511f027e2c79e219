// Fuzzes the BMP decoder (and the any-format chain that starts with it), then
// writes what it decoded back out.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are only measured: a few header bytes can
// ask for gigabytes, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;

bool smallEnough(std::vector<uint8_t>& bytes, uint32_t code) {
    rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage probe;
    probe.info().escape = -1;
    if (!probe.Decode(&stream, code))
        return true;  // nothing to allocate
    return int64_t(probe.GetWidth()) * probe.GetHeight() <= kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (bytes.empty() || !smallEnough(bytes, rendova::kFormatBmp))
        return 0;
    for (uint32_t code : {uint32_t(rendova::kFormatBmp), uint32_t(rendova::kFormatUnknown)}) {
        rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        if (!image.Decode(&stream, code))
            continue;
        image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatBmp))
            std::free(encoded);
    }
    return 0;
}
