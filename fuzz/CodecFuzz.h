#pragma once

// Shared by the fuzz targets of the image codecs: a size-only probe first,
// then the decode, a read of the last pixel, and a re-encode of small
// pictures in the same format.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace rendova::fuzz {

// Inputs beyond this are skipped.
constexpr size_t kMaxCodecInput = 1u << 20;
// Pictures beyond this many pixels are only measured: a few header bytes can
// ask for gigabytes, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;
// Only small pictures are encoded again: a memory stream grows in 4 KB
// steps, and re-encoding megapixels says little more about the encoder.
constexpr int64_t kMaxEncodedPixels = 1 << 18;

// True when frame `frame` of the bytes gives a size worth decoding. A probe
// that fails fits when `failureFits` says so: for the decoders whose probe
// fails only where the decode allocates nothing.
inline bool probeFits(std::vector<uint8_t>& bytes, uint32_t format, int32_t frame, bool failureFits = false) {
    RasterImage probe;
    probe.info().escape = -1;
    probe.info().frame = frame;
    MemoryStream in(bytes.data(), int32_t(bytes.size()));
    if (!probe.Decode(&in, format))
        return failureFits;
    return int64_t(probe.GetWidth()) * probe.GetHeight() <= kMaxPixels;
}

// Decodes frame `frame` (with the option word, when one is given) and writes
// the result back in the same format when it has at most maxEncodedPixels.
inline void decodeAndReencode(std::vector<uint8_t>& bytes, uint32_t format, int32_t frame,
                              std::optional<uint32_t> options, int64_t maxEncodedPixels = kMaxEncodedPixels) {
    MemoryStream in(bytes.data(), int32_t(bytes.size()));
    RasterImage image;
    image.info().frame = frame;
    if (options)
        image.SetFormatOption(*options, format);
    if (!image.Decode(&in, format))
        return;
    image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
    if (int64_t(image.GetWidth()) * image.GetHeight() > maxEncodedPixels)
        return;
    uint8_t* encoded = nullptr;
    int32_t encodedSize = 0;
    if (image.EncodeToMemory(encoded, encodedSize, format))
        std::free(encoded);
}

}  // namespace rendova::fuzz
