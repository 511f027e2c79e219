#include "image/RasterImageWMF.h"

#include <algorithm>
#include <vector>

#include "image/CodecFailure.h"
#include "image/CodecIo.h"
#include "image/ImageStream.h"
#include "platform/MetafilePlayer.h"

namespace rendova {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kWmfHeaderSize = 18;
// The enhanced header record without its extensions.
constexpr size_t kEmfHeaderBytes = 88;
constexpr uint32_t kEmfHeaderType = 1;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
// The units per inch a placeable header may give.
constexpr int32_t kMaxUnitsPerInch = 2540;
// No side of a played picture is larger: a metafile can name any size, and
// the bitmap it is played into must stay one the screen would give.
constexpr int64_t kMaxSide = 4000;
// The window colour of the screen the picture is played on (white).
constexpr uint32_t kWindowColour = 0xFFFFFF;

struct Metafile {
    bool enhanced = false;
    std::vector<uint8_t> bytes;
    platform::MetaRect window;  // placeable bounds
    int64_t width = 0;
    int64_t height = 0;
};

// Reads `count` bytes from the stream's position; false when they are not there.
bool readBytes(ImageStream* stream, std::vector<uint8_t>& bytes, uint64_t count) {
    bytes.resize(size_t(count));
    return count == 0 || stream->read(bytes.data(), 1, size_t(count)) == count;
}

// A placeable metafile: the key, the checksum (the XOR of the ten words
// before it), units per inch 1..2540, a standard header of type 1 or 2
// and a size the stream holds.
bool readPlaceable(ImageStream* stream, int64_t start, Metafile& file) {
    uint8_t head[kPlaceableSize + kWmfHeaderSize];
    if (stream->read(head, 1, kPlaceableSize) != kPlaceableSize || getLe32(head) != kPlaceableKey)
        return false;
    uint16_t checksum = 0;
    for (size_t i = 0; i < 10; ++i)
        checksum ^= getLe16(head + 2 * i);
    const int32_t unitsPerInch = getLe16(head + 14);
    if (checksum != getLe16(head + 20) || unitsPerInch < 1 || unitsPerInch > kMaxUnitsPerInch)
        return false;
    if (stream->read(head + kPlaceableSize, 1, kWmfHeaderSize) != kWmfHeaderSize)
        return false;
    const uint8_t* standard = head + kPlaceableSize;
    const uint16_t type = getLe16(standard);
    if (type != 1 && type != 2)
        return false;
    const uint64_t bytes = uint64_t(getLe32(standard + 6)) * 2;
    const int64_t size = stream->size();
    if (size < 0 || bytes < kWmfHeaderSize ||
        bytes > uint64_t(std::max<int64_t>(0, size - start - kPlaceableSize)))
        return false;
    if (!seekTo(stream, start, kPlaceableSize) || !readBytes(stream, file.bytes, bytes))
        return false;
    file.window = {int16_t(getLe16(head + 6)), int16_t(getLe16(head + 8)), int16_t(getLe16(head + 10)),
                   int16_t(getLe16(head + 12))};
    const int64_t dpiX = platform::screenDeviceCaps(platform::kDeviceCapLogPixelsX);
    const int64_t dpiY = platform::screenDeviceCaps(platform::kDeviceCapLogPixelsY);
    file.width = (int64_t(file.window.right) - file.window.left) * dpiX / unitsPerInch;
    file.height = (int64_t(file.window.bottom) - file.window.top) * dpiY / unitsPerInch;
    return true;
}

bool readEnhanced(ImageStream* stream, int64_t start, Metafile& file) {
    const int64_t size = stream->size();
    // The header record first, so that a large file of another format is
    // not read whole to find out.
    uint8_t head[kEmfHeaderBytes];
    if (size <= start || !seekTo(stream, start, 0) || stream->read(head, 1, sizeof head) != sizeof head ||
        getLe32(head) != kEmfHeaderType || getLe32(head + 40) != kEmfSignature)
        return false;
    platform::EnhMetaHeader header;
    if (!seekTo(stream, start, 0) || !readBytes(stream, file.bytes, uint64_t(size - start)))
        return false;
    if (!platform::readEnhMetaHeader(file.bytes.data(), file.bytes.size(), header))
        return false;
    file.enhanced = true;
    // The bounds are inclusive: a picture from 0 to 99 is 100 pixels wide.
    file.width = int64_t(header.bounds.right) - header.bounds.left + 1;
    file.height = int64_t(header.bounds.bottom) - header.bounds.top + 1;
    return true;
}

}  // namespace

void RasterImageWMF::clampSize(int64_t& width, int64_t& height) {
    if (width > kMaxSide) {
        height = std::max<int64_t>(1, height * kMaxSide / width);
        width = kMaxSide;
    }
    if (height > kMaxSide) {
        width = std::max<int64_t>(1, width * kMaxSide / height);
        height = kMaxSide;
    }
}

bool RasterImageWMF::Decode(ImageStream* stream, int32_t width, int32_t height) {
    if (stream == nullptr)
        return false;
    const bool done = runCodec([&] {
        const int64_t start = stream->tell();
        if (start < 0)
            failCodec("corrupted WMF");
        Metafile file;
        if (!readPlaceable(stream, start, file) && !readEnhanced(stream, start, file))
            failCodec("corrupted WMF");
        if (m_info.escape != 0)
            failCodec("Cancelled");
        // Sizes are checked before anything is scaled or allocated: a
        // negative box is as empty as a box of nothing.
        if (file.width <= 0 || file.height <= 0)
            failCodec("empty WMF");
        int64_t w = width > 0 && height > 0 ? width : file.width;
        int64_t h = width > 0 && height > 0 ? height : file.height;
        clampSize(w, h);
        if (Create(int32_t(w), int32_t(h), 24, kFormatWmf) == nullptr)
            failCodec("Can't allocate memory");
        const uint8_t blue = uint8_t(kWindowColour >> 16);
        const uint8_t green = uint8_t(kWindowColour >> 8);
        const uint8_t red = uint8_t(kWindowColour);
        for (int32_t y = 0; y < GetHeight(); ++y) {
            uint8_t* row = RowPointer(y);
            for (int32_t x = 0; x < GetWidth(); ++x) {
                row[3 * x] = blue;
                row[3 * x + 1] = green;
                row[3 * x + 2] = red;
            }
        }
        // The image's rows are stored bottom-up: the canvas starts at the
        // last stored row and steps backwards.
        platform::MetaCanvas canvas;
        canvas.width = GetWidth();
        canvas.height = GetHeight();
        canvas.topRow = RowPointer(GetHeight() - 1);
        canvas.stride = -ptrdiff_t(GetRowStride());
        const bool played =
            file.enhanced
                ? platform::playEnhMetaFile(file.bytes.data(), file.bytes.size(), canvas)
                : platform::playWinMetaFile(file.bytes.data(), file.bytes.size(), file.window, canvas);
        if (!played)
            failCodec("corrupted WMF");
        if (m_info.escape != 0)
            failCodec("Cancelled");
    });
    if (!done) {
        destroy();
        return false;
    }
    return true;
}

}  // namespace rendova
