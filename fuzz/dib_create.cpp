// Fuzzes RasterImage::CreateFromDib on a packed bitmap of exactly the input's
// size, so that any read past the block is seen.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are skipped: a few header bytes can ask for
// gigabytes, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;

int64_t statedPixels(const uint8_t* data, size_t size) {
    if (size < 12)
        return 0;
    uint32_t headerSize;
    std::memcpy(&headerSize, data, 4);
    if (headerSize == 12)
        return int64_t(data[4] | (data[5] << 8)) * int64_t(data[6] | (data[7] << 8));
    int32_t width, height;
    std::memcpy(&width, data + 4, 4);
    std::memcpy(&height, data + 8, 4);
    return int64_t(width) * int64_t(height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20) || statedPixels(data, size) > kMaxPixels)
        return 0;
    auto* block = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (size != 0)
        std::memcpy(block, data, size);
    rendova::RasterImage image;
    if (image.CreateFromDib(block, size)) {
        image.ReadColor(0, 0);
        rendova::RasterImage copy(image, true, true, true);
        copy.NearestPaletteIndex(rendova::RgbQuad{1, 2, 3, 0});
    }
    std::free(block);
    return 0;
}
