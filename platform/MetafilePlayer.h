#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/MetafileWriter.h"

namespace platform {

// A 24-bit picture that a metafile is played onto: rows of blue, green, red
// bytes. `topRow` is the top row of the picture and `stride` the step from
// one row to the one below it (negative for rows stored bottom-up).
struct MetaCanvas {
    uint8_t* topRow = nullptr;
    ptrdiff_t stride = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// What the reader of enhanced metafiles sizes its picture from: the header
// record's bounds (device pixels, inclusive) and frame (hundredths of a
// millimetre, inclusive), and the reference device's size.
struct EnhMetaHeader {
    MetaRect bounds;
    MetaRect frame;
    uint32_t bytes = 0;
    uint32_t records = 0;
    uint16_t handles = 0;
    int32_t devicePixelsX = 0;
    int32_t devicePixelsY = 0;
    int32_t deviceMillimetresX = 0;
    int32_t deviceMillimetresY = 0;
};

// True when `data` starts with an enhanced metafile header record (type,
// size, signature) that fits in `size` bytes.
bool readEnhMetaHeader(const uint8_t* data, size_t size, EnhMetaHeader& header);

// Our own player of the metafile records, in place of the graphics
// interface's. It keeps a device context (mapping mode, window and viewport
// origins and extents, the object table with the stock objects, pen, brush,
// background colour, fill mode, saved states) and draws rectangles,
// polygons, polylines, lines, opaque text backgrounds and device-independent
// bitmaps without anti-aliasing; every other record is skipped by its size,
// and text itself is not drawn. A record whose size is 0 or runs past the
// data ends the playing, as does a picture that would take more work than a
// real page; object indices outside the table are ignored.
//
// Plays an enhanced metafile (the whole file, header record first) with its
// picture frame stretched over the canvas. False when the data holds no
// enhanced metafile.
bool playEnhMetaFile(const uint8_t* data, size_t size, const MetaCanvas& canvas);

// Plays a Windows metafile (from its 18-byte header on) with the placeable
// bounds `window` (logical units) stretched over the canvas. False when the
// header is not one of a Windows metafile.
bool playWinMetaFile(const uint8_t* data, size_t size, const MetaRect& window, const MetaCanvas& canvas);

}  // namespace platform
