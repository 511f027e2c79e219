#pragma once

// Shared steps of the image codec fuzz targets: measure the picture first
// (a few header bytes can ask for gigabytes, which says nothing about the
// decoder), decode it, touch its last pixel, and encode small ones again.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace rendova::fuzz {

// Inputs above 1 MB only slow the run down.
constexpr size_t kMaxInputBytes = 1u << 20;
// Pictures beyond this many pixels are only measured.
constexpr int64_t kMaxPixels = 1 << 22;
// Only small pictures are encoded again: a memory stream grows in 4 KB
// steps, and re-encoding megapixels says little more about the encoder.
constexpr int64_t kMaxEncodedPixels = 1 << 18;

inline int64_t pixelsOf(const RasterImage& image) {
    return int64_t(image.GetWidth()) * image.GetHeight();
}

// Whether frame `frame` of the bytes, read as format `code`, is small enough
// to decode. A picture that cannot even be measured counts as small when
// `unmeasuredFits` says so: for the decoders whose size-only read fails only
// where the decode allocates nothing.
inline bool smallEnough(std::vector<uint8_t>& bytes, uint32_t code, int32_t frame = 0,
                        bool unmeasuredFits = true) {
    MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    RasterImage probe;
    probe.info().escape = -1;
    probe.info().frame = frame;
    if (!probe.Decode(&stream, code))
        return unmeasuredFits;
    return pixelsOf(probe) <= kMaxPixels;
}

// Decodes frame `frame` into `image` (after setting the format's option word
// `options`) and reads its last pixel; false when the decoder refused the
// bytes.
inline bool decodeImage(std::vector<uint8_t>& bytes, uint32_t code, RasterImage& image, int32_t frame = 0,
                        uint32_t options = 0) {
    MemoryStream stream(bytes.data(), int32_t(bytes.size()));
    image.info().frame = frame;
    if (options != 0)
        image.SetFormatOption(options, code);
    if (!image.Decode(&stream, code))
        return false;
    image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    return true;
}

// Encodes the image as format `code` when it is small, and drops the bytes.
inline void encodeImage(RasterImage& image, uint32_t code, int64_t maxPixels = kMaxEncodedPixels) {
    if (pixelsOf(image) > maxPixels)
        return;
    uint8_t* encoded = nullptr;
    int32_t encodedSize = 0;
    if (image.EncodeToMemory(encoded, encodedSize, code))
        std::free(encoded);
}

// The whole round for a codec read and written the same way: measure,
// decode, encode.
inline int roundTrip(const uint8_t* data, size_t size, uint32_t code) {
    if (size == 0 || size > kMaxInputBytes)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    if (!smallEnough(bytes, code))
        return 0;
    RasterImage image;
    if (decodeImage(bytes, code, image))
        encodeImage(image, code);
    return 0;
}

}  // namespace rendova::fuzz
