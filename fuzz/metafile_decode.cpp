// Fuzzes the metafile reader: the placeable and enhanced headers, and the
// player over every record it knows.
#include <cstdint>
#include <cstring>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are skipped: filling a 4000 x 4000
// canvas for every input says nothing more about the records.
constexpr int64_t kMaxPixels = int64_t(1) << 22;

int64_t le16s(const uint8_t* p) {
    return int16_t(p[0] | (p[1] << 8));
}

int64_t le32s(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// The size the reader would give, roughly: from the placeable box at the
// coarsest units, or from the enhanced bounds.
bool tooLarge(const uint8_t* data, size_t size) {
    if (size >= 22 && le32s(data) == int32_t(0x9AC6CDD7)) {
        const int64_t units = data[14] | (data[15] << 8);
        if (units == 0)
            return false;
        const int64_t w = (le16s(data + 10) - le16s(data + 6)) * 96 / units;
        const int64_t h = (le16s(data + 12) - le16s(data + 8)) * 96 / units;
        return w > 0 && h > 0 && w * h > kMaxPixels;
    }
    if (size >= 24) {
        const int64_t w = le32s(data + 16) - le32s(data + 8) + 1;
        const int64_t h = le32s(data + 20) - le32s(data + 12) + 1;
        return w > 0 && h > 0 && (w > 4000 || h > 4000 || w * h > kMaxPixels);
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20) || tooLarge(data, size))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
    rendova::RasterImage image;
    if (image.Decode(&in, rendova::kFormatWmf))
        image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    return 0;
}
