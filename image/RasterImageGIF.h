#pragma once

#include <cstdint>

#include "image/RasterImage.h"

namespace rendova {

// The GIF codec (format code 2), with its own LZW coder and no library.
//
// Decoding reads one frame (info().frame) of a GIF87a or GIF89a file and
// tells in frameCount how many images lie inside its logical screen: the
// frames are composed on a canvas of the screen's size, each inside its own
// rectangle, with the graphic control's transparency and disposal. A file
// without a global colour table whose first image is smaller than the
// screen in both directions is painted frame after frame onto a 24-bit
// canvas, and its last frame is the result. Screens, frames and the work
// of composing them are bounded, so that a few header bytes cannot ask for
// gigabytes or minutes.
//
// Encoding writes GIF89a: 1, 4 and 8-bit images as one image block, with a
// body chosen by option word [2] (1 uncompressed, 2 run-length style, else
// LZW); 24-bit images as tiles of 17 x 15 pixels, each with a local palette
// that holds every colour of its tile exactly. A stream that refuses bytes
// fails the encode with "Write Error in GIF file".
//
// Built by the format dispatch for one call; the coder tables live inside
// the object. Not thread-safe; does not throw.
class RasterImageGIF : public RasterImage {
public:
    RasterImageGIF() : RasterImage(kFormatGif) {}

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);

    // The encoder's open-addressing hash of (pixel, prefix) strings.
    static constexpr int32_t kHashSize = 5003;

private:
    class BitSink;
    class PixelWalker;

    // The composed canvas (rows top first) as the decoded image, with the
    // wanted frame's transparent index and colour table.
    void storeTrueColour(const uint8_t* canvas, int32_t width, int32_t height, int32_t transparentIndex,
                         const RgbQuad* entries, uint32_t count);
    void storeIndices(const uint8_t* canvas, int32_t width, int32_t height, int32_t transparentIndex,
                      const RgbQuad* entries, uint32_t count);
    void encodePalette(ImageStream* stream);
    void encodeTiles(ImageStream* stream);
    void writeGraphicControl(ImageStream* stream, int32_t transparentIndex);
    void writeComment(ImageStream* stream);
    // The image descriptor, the optional local palette, the body and its
    // terminator of `image`, placed at (left, top) of the screen.
    void writeImageBlock(ImageStream* stream, const RasterImage& image, int32_t left, int32_t top,
                         bool localPalette);
    void writeLzwBody(PixelWalker& pixels, int32_t initialBits, BitSink& sink);
    void clearHash();

    // Graphic control fields of the files we write, and their comment.
    uint16_t m_delay = 0;
    uint8_t m_disposal = 0;
    char m_comment[256] = {};

    int32_t m_hashTable[kHashSize] = {};
    uint16_t m_codeTable[kHashSize] = {};
};

}  // namespace rendova
