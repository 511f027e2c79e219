// Fuzzes the PGX, PNM and Sun raster readers of the JPEG 2000 family codec
// (JPEG 2000 itself is OpenJPEG's), then writes what they decoded back in
// the three formats.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Only small pictures are encoded again: writing megapixels says little
// more about the writers.
constexpr int64_t kMaxEncodedPixels = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    // JP2 files and code streams start like this; they are OpenJPEG's.
    if (size >= 2 && ((data[0] == 0 && data[1] == 0) || (data[0] == 0xFF && data[1] == 0x4F)))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage image;
    if (!image.Decode(&in, rendova::kFormatPnm))
        return 0;
    image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    if (int64_t(image.GetWidth()) * image.GetHeight() > kMaxEncodedPixels)
        return 0;
    for (uint32_t code : {rendova::kFormatPgx, rendova::kFormatPnm, rendova::kFormatRas}) {
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, code))
            std::free(encoded);
    }
    return 0;
}
