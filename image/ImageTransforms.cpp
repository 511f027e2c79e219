// Grey conversion, flip, mirror, quarter turns and inversion.
#include "image/ImageTransforms.h"

#include <algorithm>
#include <cstring>

#include "image/TransformSupport.h"

namespace rendova {

using transform::copyPalette;
using transform::createLike;
using transform::fail;
using transform::handOver;
using transform::indexAt;
using transform::putIndexIntoZeroed;
using transform::RowProgress;

namespace {

constexpr const char* kNoMemory = "can't allocate memory for the transformed image";

// Fills the rows of the 8-bit image `result` with the grey level of each pixel
// of the Bits-bit `source`, through `levels` (the grey of each palette index).
template <int Bits>
void greyRowsFromIndices(const RasterImage& source, RasterImage& result, const uint8_t* levels,
                         RowProgress& progress) {
    const int32_t width = source.GetWidth();
    for (int32_t y = 0; y < source.GetHeight(); ++y) {
        if (!progress.proceed(y))
            return;
        const uint8_t* in = source.RowPointer(y);
        uint8_t* out = result.RowPointer(y);
        for (int32_t x = 0; x < width; ++x)
            out[x] = levels[indexAt<Bits>(in, x)];
    }
}

// Copies row `in` reversed into the cleared row `out`.
template <int Bits>
void mirrorIndexRow(const uint8_t* in, uint8_t* out, int32_t width) {
    for (int32_t x = 0; x < width; ++x)
        putIndexIntoZeroed<Bits>(out, x, indexAt<Bits>(in, width - 1 - x));
}

// The quarter turns: the picture is walked in 64 x 64 tiles of the new image so
// that the column-wise reads of the source stay in the cache.
constexpr int32_t kTurnTile = 64;

// Source column and row of the new pixel (x, y).
struct TurnMap {
    bool left;
    int32_t oldWidth;
    int32_t oldHeight;
    void source(int32_t x, int32_t y, int32_t& sx, int32_t& sy) const {
        if (left) {
            sx = y;
            sy = oldHeight - 1 - x;
        } else {
            sx = oldWidth - 1 - y;
            sy = x;
        }
    }
};

template <int Bits>
void turnPixels(const RasterImage& source, RasterImage& result, const TurnMap& map, RowProgress& progress) {
    const uint8_t* sourceRows = source.RowPointer(0);
    const size_t sourceStride = source.GetRowStride();
    uint8_t* resultRows = result.RowPointer(0);
    const size_t resultStride = result.GetRowStride();
    const int32_t width = result.GetWidth();
    const int32_t height = result.GetHeight();
    for (int32_t tileY = 0; tileY < height; tileY += kTurnTile) {
        if (!progress.proceed(tileY))
            return;
        const int32_t endY = std::min(tileY + kTurnTile, height);
        for (int32_t tileX = 0; tileX < width; tileX += kTurnTile) {
            const int32_t endX = std::min(tileX + kTurnTile, width);
            for (int32_t y = tileY; y < endY; ++y) {
                uint8_t* out = resultRows + size_t(y) * resultStride;
                for (int32_t x = tileX; x < endX; ++x) {
                    int32_t sx, sy;
                    map.source(x, y, sx, sy);
                    const uint8_t* in = sourceRows + size_t(sy) * sourceStride;
                    if constexpr (Bits == 24) {
                        std::memcpy(out + 3 * size_t(x), in + 3 * size_t(sx), 3);
                    } else {
                        putIndexIntoZeroed<Bits>(out, x, indexAt<Bits>(in, sx));
                    }
                }
            }
        }
    }
}

bool turn(RasterImage& image, RasterImage* destination, bool left) {
    if (!image.HasPixels())
        return false;
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    RasterImage result;
    if (!createLike(result, image, height, width, image.GetBpp()))
        return fail(image, result.LastErrorText());
    copyPalette(result, image);
    const uint8_t* sourceAlpha = image.alphaPlane();
    if (sourceAlpha != nullptr && !result.MakeAlphaPlane())
        return fail(image, kNoMemory);

    const TurnMap map{left, width, height};
    // Progress counts the rows of the new image.
    RowProgress progress(image, width);
    switch (image.GetBpp()) {
        case 1:
            turnPixels<1>(image, result, map, progress);
            break;
        case 4:
            turnPixels<4>(image, result, map, progress);
            break;
        case 8:
            turnPixels<8>(image, result, map, progress);
            break;
        default:
            turnPixels<24>(image, result, map, progress);
            break;
    }
    if (sourceAlpha != nullptr) {
        uint8_t* resultAlpha = result.alphaPlane();
        // The new image is height pixels wide and width rows high.
        for (int32_t y = 0; y < width; ++y) {
            for (int32_t x = 0; x < height; ++x) {
                int32_t sx, sy;
                map.source(x, y, sx, sy);
                resultAlpha[size_t(y) * size_t(height) + size_t(x)] =
                    sourceAlpha[size_t(sy) * size_t(width) + size_t(sx)];
            }
        }
    }
    return handOver(image, destination, result);
}

// Inverts the used bytes of a row of `bits`-bit pixels, leaving the padding
// bits of its last byte as they were.
void invertRowBytes(uint8_t* row, int32_t width, int bits) {
    const size_t usedBits = size_t(width) * size_t(bits);
    const size_t fullBytes = usedBits / 8;
    for (size_t i = 0; i < fullBytes; ++i)
        row[i] = uint8_t(~row[i]);
    if (const size_t rest = usedBits % 8; rest != 0)
        row[fullBytes] ^= uint8_t(0xFF << (8 - rest));
}

}  // namespace

bool ConvertToGrey(RasterImage& image) {
    if (!image.HasPixels())
        return false;
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const int32_t bits = image.GetBpp();
    RowProgress progress(image, height);

    if (bits > 8) {
        RasterImage result;
        if (!createLike(result, image, width, height, 8))
            return fail(image, result.LastErrorText());
        result.MakeGreyPalette();
        result.CopySelectionFrom(image);
        if (image.alphaPlane() != nullptr && !result.CopyAlphaFrom(image))
            return fail(image, kNoMemory);
        for (int32_t y = 0; y < height; ++y) {
            if (!progress.proceed(y))
                break;
            const uint8_t* in = image.RowPointer(y);
            uint8_t* out = result.RowPointer(y);
            for (int32_t x = 0; x < width; ++x, in += 3)
                out[x] = greyOf(in[0], in[1], in[2]);
        }
        return handOver(image, nullptr, result);
    }

    // The grey of every palette entry; indices beyond the palette read as black.
    uint8_t levels[256] = {};
    const RgbQuad* palette = image.GetPalette();
    const uint32_t count = std::min<uint32_t>(image.GetColourCount(), 256);
    for (uint32_t i = 0; i < count; ++i)
        levels[i] = greyOf(palette[i].blue, palette[i].green, palette[i].red);
    const int32_t transparent = image.GetTransparentIndex();
    const bool moveTransparent = transparent >= 0 && transparent < 256;

    if (bits == 8) {
        for (int32_t y = 0; y < height; ++y) {
            if (!progress.proceed(y))
                break;
            uint8_t* row = image.RowPointer(y);
            for (int32_t x = 0; x < width; ++x)
                row[x] = levels[row[x]];
        }
        image.MakeGreyPalette();
        if (moveTransparent)
            image.SetTransparentIndex(levels[transparent]);
        return true;
    }

    RasterImage result;
    if (!createLike(result, image, width, height, 8))
        return fail(image, result.LastErrorText());
    result.MakeGreyPalette();
    result.CopySelectionFrom(image);
    if (image.alphaPlane() != nullptr && !result.CopyAlphaFrom(image))
        return fail(image, kNoMemory);
    if (bits == 4)
        greyRowsFromIndices<4>(image, result, levels, progress);
    else
        greyRowsFromIndices<1>(image, result, levels, progress);
    if (moveTransparent)
        result.SetTransparentIndex(levels[transparent]);
    return handOver(image, nullptr, result);
}

bool FlipVertical(RasterImage& image) {
    if (!image.HasPixels())
        return false;
    RasterImage result;
    if (!result.copy(image, false, false, true) || (image.HasAlpha() && !result.HasAlpha()))
        return fail(image, kNoMemory);
    const int32_t height = image.GetHeight();
    const size_t stride = image.GetRowStride();
    RowProgress progress(image, height);
    for (int32_t y = 0; y < height; ++y) {
        if (!progress.proceed(y))
            break;
        std::memcpy(result.RowPointer(height - 1 - y), image.RowPointer(y), stride);
    }
    if (result.HasAlpha() && !result.FlipAlphaRows())
        return fail(image, kNoMemory);
    return handOver(image, nullptr, result);
}

bool MirrorHorizontal(RasterImage& image) {
    if (!image.HasPixels())
        return false;
    RasterImage result;
    if (!result.copy(image, false, false, true) || (image.HasAlpha() && !result.HasAlpha()))
        return fail(image, kNoMemory);
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const int32_t bits = image.GetBpp();
    RowProgress progress(image, height);
    for (int32_t y = 0; y < height; ++y) {
        if (!progress.proceed(y))
            break;
        const uint8_t* in = image.RowPointer(y);
        uint8_t* out = result.RowPointer(y);
        switch (bits) {
            case 1:
                mirrorIndexRow<1>(in, out, width);
                break;
            case 4:
                mirrorIndexRow<4>(in, out, width);
                break;
            case 8:
                std::reverse_copy(in, in + width, out);
                break;
            default:
                for (int32_t x = 0; x < width; ++x)
                    std::memcpy(out + 3 * size_t(x), in + 3 * size_t(width - 1 - x), 3);
                break;
        }
    }
    if (result.HasAlpha() && !result.MirrorAlphaRows())
        return fail(image, kNoMemory);
    return handOver(image, nullptr, result);
}

bool TurnLeft(RasterImage& image, RasterImage* destination) {
    return turn(image, destination, true);
}

bool TurnRight(RasterImage& image, RasterImage* destination) {
    return turn(image, destination, false);
}

bool Invert(RasterImage& image) {
    if (!image.HasPixels())
        return false;
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    const int32_t bits = image.GetBpp();
    const uint8_t* mask = image.selectionMask();

    if (bits <= 8 && !image.HasGreyPalette()) {
        // A palette image changes colour through its palette alone.
        RgbQuad entries[256];
        const uint32_t count = std::min<uint32_t>(image.GetColourCount(), 256);
        std::memcpy(entries, image.GetPalette(), 4 * size_t(count));
        for (uint32_t i = 0; i < count; ++i) {
            entries[i].blue = uint8_t(~entries[i].blue);
            entries[i].green = uint8_t(~entries[i].green);
            entries[i].red = uint8_t(~entries[i].red);
        }
        image.SetPalette(entries, count);
        return true;
    }
    if (bits > 8) {
        RgbQuad& transparent = image.info().transparentColor;
        transparent.blue = uint8_t(~transparent.blue);
        transparent.green = uint8_t(~transparent.green);
        transparent.red = uint8_t(~transparent.red);
    }

    RowProgress progress(image, height);
    if (mask == nullptr) {
        for (int32_t y = 0; y < height; ++y) {
            if (!progress.proceed(y))
                break;
            invertRowBytes(image.RowPointer(y), width, bits);
        }
        return true;
    }
    // With a selection mask only the selected pixels inside the selection box
    // change. The box's rows may be given either way up.
    const ImageRect& box = image.info().selectionBox;
    const int32_t left = std::max(box.left, 0);
    const int32_t right = std::min(box.right, width - 1);
    const int32_t bottom = std::max(std::min(box.top, box.bottom), 0);
    const int32_t top = std::min(std::max(box.top, box.bottom), height - 1);
    const uint8_t indexMask = uint8_t((1u << std::min(bits, 8)) - 1);
    for (int32_t y = bottom; y <= top; ++y) {
        if (!progress.proceed(y - bottom))
            break;
        uint8_t* row = image.RowPointer(y);
        const uint8_t* selected = mask + size_t(y) * size_t(width);
        for (int32_t x = left; x <= right; ++x) {
            if (selected[x] == 0)
                continue;
            if (bits > 8) {
                for (int c = 0; c < 3; ++c)
                    row[3 * size_t(x) + c] = uint8_t(~row[3 * size_t(x) + c]);
            } else {
                const uint8_t index = image.ReadIndexUnchecked(x, y);
                image.WriteIndex(x, y, uint8_t(~index & indexMask));
            }
        }
    }
    return true;
}

}  // namespace rendova
