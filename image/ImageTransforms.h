#pragma once

#include <cstdint>

#include "image/RasterImage.h"

namespace rendova {

// The transforms of a RasterImage as a whole: grey conversion, flip, mirror,
// quarter turns, inversion, rotation by any angle, resampling and reduction of
// the colour depth with optional error diffusion.
//
// A transform that changes the size or the depth builds a new image with the
// source's settings, fills it and hands it to the target (the image itself, or
// `destination` where one is taken) with RasterImage::TakeOver. Every transform
// returns false and leaves the image unchanged when the image is empty or the
// new image cannot be made. Long transforms set the image's progress word to
// row x 100 / rows before each row and stop at the start of a row when its
// escape word is non-zero; the partly filled result is still handed over and
// the result is true. Nothing here throws; not thread-safe (one image, one
// thread), though another thread may set the escape word to stop the work.

// Resample modes. Any mode other than nearest and bicubic averages areas when
// a 24-bit image shrinks in both directions and interpolates bilinearly
// otherwise.
constexpr int32_t kResampleNearest = 1;
constexpr int32_t kResampleBicubic = 2;
constexpr int32_t kResampleAverage = 3;

// The grey level of a colour: (R x 306 + G x 601 + B x 117) >> 10.
constexpr uint8_t greyOf(uint8_t blue, uint8_t green, uint8_t red) {
    return uint8_t((red * 306 + green * 601 + blue * 117) >> 10);
}

// Always leaves an 8-bit image with the grey palette (index = grey level).
bool ConvertToGrey(RasterImage& image);
// Reverses the order of the rows (and of the alpha plane's rows).
bool FlipVertical(RasterImage& image);
// Reverses every row (and every row of the alpha plane).
bool MirrorHorizontal(RasterImage& image);
// Turns the picture 90 degrees counter-clockwise: new (x, y) = old (y, H - 1 - x).
bool TurnLeft(RasterImage& image, RasterImage* destination = nullptr);
// Turns the picture 90 degrees clockwise: new (x, y) = old (W - 1 - y, x).
bool TurnRight(RasterImage& image, RasterImage* destination = nullptr);
// Inverts the colours: the pixel bytes of a 24-bit image, the palette of an
// indexed image, or the indices where the palette is the grey identity.
bool Invert(RasterImage& image);
// Rotates by `angle` degrees (positive is clockwise on the picture) into an
// image large enough for the turned corners plus two pixels.
bool Rotate(RasterImage& image, float angle, RasterImage* destination = nullptr);
bool RotateWithSize(RasterImage& image, float angle, int32_t& newWidth, int32_t& newHeight,
                    RasterImage* destination = nullptr);
// Resamples to newWidth x newHeight with one of the kResample modes.
bool Resample(RasterImage& image, int32_t newWidth, int32_t newHeight, int32_t mode,
              RasterImage* destination = nullptr);
// Reduces the image to 1, 4 or 8 bits per pixel. `palette` (may be null) gives
// the new palette; without it 1 bit gets black and white and 4 and 8 bits the
// standard palettes. A non-zero `colours` limits the nearest-colour search to
// the first `colours` entries (the important colours) and says how many
// entries `palette` holds. With `errorDiffusion` each pixel's error is spread
// to its neighbours (7/16 right, 2/16, 4/16 and 1/16 on the next stored row);
// the spread alters the source pixels, which the result then replaces.
bool ReduceBitDepth(RasterImage& image, int32_t bits, bool errorDiffusion, const RgbQuad* palette,
                    uint32_t colours);

}  // namespace rendova
