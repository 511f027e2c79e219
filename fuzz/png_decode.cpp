// Fuzzes the PNG decoder, then writes what it decoded back as PNG.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are skipped: a few header bytes can ask
// for gigabytes, which says nothing about the decoder.
constexpr uint64_t kMaxPixels = 1 << 22;
// Only small pictures are encoded again: a memory stream grows in 4 KB
// steps, and re-encoding megapixels says little more about the encoder.
constexpr int64_t kMaxEncodedPixels = 1 << 18;

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    // The header chunk comes first: signature (8), length and type (8),
    // width and height.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0 &&
        uint64_t(be32(data + 16)) * be32(data + 20) > kMaxPixels)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage image;
    if (!image.Decode(&in, rendova::kFormatPng))
        return 0;
    image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    if (int64_t(image.GetWidth()) * image.GetHeight() > kMaxEncodedPixels)
        return 0;
    for (uint32_t interlace : {0u, 1u}) {
        image.SetFormatOption(interlace, rendova::kFormatPng);
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatPng))
            std::free(encoded);
    }
    return 0;
}
