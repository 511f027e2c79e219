// Reduction of the colour depth to 1, 4 or 8 bits, with optional error diffusion.
#include <algorithm>
#include <cstring>

#include "image/ImageTransforms.h"
#include "image/PaletteSearch.h"
#include "image/TransformSupport.h"

namespace rendova {

using transform::createLike;
using transform::fail;
using transform::handOver;
using transform::putIndexIntoZeroed;
using transform::RowProgress;

namespace {

constexpr const char* kNoMemory = "can't allocate memory for the transformed image";

inline uint8_t clampChannel(int32_t value) {
    return uint8_t(std::clamp(value, 0, 255));
}

// Adds error * numerator / 16 (truncated toward zero) to the three channels at
// `pixel`, each kept to 0..255.
inline void spread(uint8_t* pixel, const int32_t* error, int32_t numerator) {
    pixel[0] = clampChannel(pixel[0] + error[0] * numerator / 16);
    pixel[1] = clampChannel(pixel[1] + error[1] * numerator / 16);
    pixel[2] = clampChannel(pixel[2] + error[2] * numerator / 16);
}

// The 24-bit source: its rows are read and, with diffusion, altered in place.
// The error of each pixel goes 7/16 to the right, and 2/16, 4/16 and 1/16 to
// the left, same and right neighbours on the next stored row. These weights
// total 14/16: the output is a little lighter on dark areas than full
// Floyd-Steinberg diffusion would make it, which is the conversion's look.
template <int Bits>
void reduceTrueColour(RasterImage& image, RasterImage& result, bool diffusion, RowProgress& progress) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    PaletteSearch search(result);
    for (int32_t y = 0; y < height; ++y) {
        if (!progress.proceed(y))
            return;
        uint8_t* in = image.RowPointer(y);
        uint8_t* below = y + 1 < height ? image.RowPointer(y + 1) : nullptr;
        uint8_t* out = result.RowPointer(y);
        if (!diffusion) {
            for (int32_t x = 0; x < width; ++x, in += 3)
                putIndexIntoZeroed<Bits>(out, x, search.nearest(in[0], in[1], in[2]));
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* pixel = in + 3 * size_t(x);
            const uint8_t index = search.nearest(pixel[0], pixel[1], pixel[2]);
            putIndexIntoZeroed<Bits>(out, x, index);
            const RgbQuad& written = search.entry(index);
            const int32_t error[3] = {pixel[0] - written.blue, pixel[1] - written.green,
                                      pixel[2] - written.red};
            if (error[0] == 0 && error[1] == 0 && error[2] == 0)
                continue;
            const bool hasRight = x + 1 < width;
            if (hasRight)
                spread(pixel + 3, error, 7);
            if (below != nullptr) {
                uint8_t* under = below + 3 * size_t(x);
                if (x > 0)
                    spread(under - 3, error, 2);
                spread(under, error, 4);
                if (hasRight)
                    spread(under + 3, error, 1);
            }
        }
    }
}

// An indexed source: colours are read through its palette, and the diffused
// error is written back into it as the nearest colour of its own palette.
template <int Bits>
void reduceIndexed(RasterImage& image, RasterImage& result, bool diffusion, RowProgress& progress) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    PaletteSearch search(result);
    auto addError = [&image](int32_t x, int32_t y, const int32_t* error, int32_t numerator) {
        RgbQuad colour = image.ReadColor(x, y, false);
        spread(&colour.blue, error, numerator);
        image.WriteColor(x, y, colour);
    };
    for (int32_t y = 0; y < height; ++y) {
        if (!progress.proceed(y))
            return;
        uint8_t* out = result.RowPointer(y);
        for (int32_t x = 0; x < width; ++x) {
            const RgbQuad colour = image.ReadColor(x, y, false);
            const uint8_t index = search.nearest(colour.blue, colour.green, colour.red);
            putIndexIntoZeroed<Bits>(out, x, index);
            if (!diffusion)
                continue;
            const RgbQuad& written = search.entry(index);
            const int32_t error[3] = {colour.blue - written.blue, colour.green - written.green,
                                      colour.red - written.red};
            if (error[0] == 0 && error[1] == 0 && error[2] == 0)
                continue;
            if (x + 1 < width)
                addError(x + 1, y, error, 7);
            if (y + 1 < height) {
                if (x > 0)
                    addError(x - 1, y + 1, error, 2);
                addError(x, y + 1, error, 4);
                if (x + 1 < width)
                    addError(x + 1, y + 1, error, 1);
            }
        }
    }
}

template <int Bits>
void reduce(RasterImage& image, RasterImage& result, bool diffusion, RowProgress& progress) {
    if (image.GetBpp() > 8)
        reduceTrueColour<Bits>(image, result, diffusion, progress);
    else
        reduceIndexed<Bits>(image, result, diffusion, progress);
}

}  // namespace

bool ReduceBitDepth(RasterImage& image, int32_t bits, bool errorDiffusion, const RgbQuad* palette,
                    uint32_t colours) {
    if (!image.HasPixels() || image.GetBpp() < bits)
        return false;
    if (image.GetBpp() == bits) {
        const uint32_t important = image.header().clrImportant;
        if (colours == 0 || (important != 0 && important < colours))
            return true;
    }
    if (bits != 1 && bits != 4 && bits != 8)
        return false;

    RasterImage result;
    if (!createLike(result, image, image.GetWidth(), image.GetHeight(), bits))
        return fail(image, result.LastErrorText());
    if (colours != 0)
        result.SetImportantColours(colours);
    result.CopySelectionFrom(image);
    if (image.alphaPlane() != nullptr && !result.CopyAlphaFrom(image))
        return fail(image, kNoMemory);

    const uint32_t entries = 1u << bits;
    if (palette != nullptr) {
        // `colours`, when given, is the length of the caller's table: no entry
        // is read past it; the entries beyond stay black and, being past the
        // important colours, are never chosen.
        const uint32_t count = colours != 0 ? std::min(colours, entries) : entries;
        result.SetPalette(palette, count);
    } else if (bits == 1) {
        result.SetPaletteEntry(0, 0, 0, 0);
        result.SetPaletteEntry(1, 255, 255, 255);
    } else {
        result.SetFixedPalette();
    }

    const bool sourceIsBilevel = image.GetBpp() == 1;
    RowProgress progress(image, image.GetHeight());
    switch (bits) {
        case 1:
            reduce<1>(image, result, errorDiffusion, progress);
            break;
        case 4:
            reduce<4>(image, result, errorDiffusion, progress);
            break;
        default:
            reduce<8>(image, result, errorDiffusion, progress);
            break;
    }
    if (sourceIsBilevel) {
        result.SetPaletteEntry(0, 0, 0, 0);
        result.SetPaletteEntry(1, 255, 255, 255);
    }
    return handOver(image, nullptr, result);
}

}  // namespace rendova
