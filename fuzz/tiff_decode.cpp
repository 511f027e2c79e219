// Fuzzes the TIFF decoder on its first two pages, then writes what it
// decoded back as TIFF with the compression it had.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pages beyond this many pixels are only measured: a few header bytes can
// ask for gigabytes, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;
// Only small pictures are encoded again: a memory stream grows in 4 KB
// steps, and re-encoding megapixels says little more about the encoder.
constexpr int64_t kMaxEncodedPixels = 1 << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    for (int32_t frame : {0, 1}) {
        rendova::RasterImage probe;
        probe.info().escape = -1;
        probe.info().frame = frame;
        rendova::MemoryStream probeIn(bytes.data(), int32_t(bytes.size()));
        if (!probe.Decode(&probeIn, rendova::kFormatTiff) ||
            int64_t(probe.GetWidth()) * probe.GetHeight() > kMaxPixels)
            continue;
        rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        image.info().frame = frame;
        if (!image.Decode(&in, rendova::kFormatTiff))
            continue;
        image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
        if (int64_t(image.GetWidth()) * image.GetHeight() > kMaxEncodedPixels)
            continue;
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatTiff))
            std::free(encoded);
    }
    return 0;
}
