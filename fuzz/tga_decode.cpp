// Fuzzes the TGA decoder, then writes what it decoded back out as TGA.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are only measured: a few header bytes
// can ask for a large picture, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;

bool smallEnough(std::vector<uint8_t>& bytes) {
    rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage probe;
    probe.info().escape = -1;
    if (!probe.Decode(&stream, rendova::kFormatTga))
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
    rendova::MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage image;
    if (!image.Decode(&stream, rendova::kFormatTga))
        return 0;
    image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    uint8_t* encoded = nullptr;
    int32_t encodedSize = 0;
    if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatTga))
        std::free(encoded);
    return 0;
}
