// The GIF decoder: the block walk, frame composition and the LZW decoder.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/CodecIo.h"
#include "image/ImageStream.h"
#include "image/RasterImageGIF.h"

namespace rendova {

namespace {

constexpr size_t kScreenDescriptorSize = 13;
constexpr size_t kImageDescriptorSize = 9;
constexpr int kExtensionIntroducer = 0x21;
constexpr int kImageSeparator = 0x2C;
constexpr int kTrailer = 0x3B;
constexpr int kGraphicControlLabel = 0xF9;
constexpr int kCommentLabel = 0xFE;
constexpr uint8_t kTableFlag = 0x80;
constexpr uint8_t kInterlaceFlag = 0x40;
constexpr uint8_t kTransparentFlag = 0x01;
constexpr int kRestoreBackground = 2;

// Codes are at most 12 bits wide, so the string table holds 4096 codes.
constexpr int32_t kMaxCodes = 4096;
constexpr int kMaxCodeBits = 12;
// The minimum code sizes accepted: 2 for 1-bit pictures up to one past 8 bits.
constexpr int kLowestCodeSize = 2;
constexpr int kHighestCodeSize = 9;
// 8192 x 8192 pixels: beyond any screen GIF is used for, and a 13-byte
// header must not make us allocate gigabytes.
constexpr int64_t kMaxScreenPixels = int64_t(1) << 26;
// Pixels written while composing all frames up to the wanted one (each
// frame's rectangle and every fill of the canvas): thousands of frames of a
// large screen would otherwise take minutes for a file of a few kilobytes.
constexpr int64_t kMaxComposeWork = int64_t(1) << 30;

struct ColourTable {
    RgbQuad entries[256];
    uint32_t count = 0;
};

// Reads a table of 2^((flags & 7) + 1) red, green, blue entries; a short
// file leaves the missing entries black.
void readTable(ImageStream* stream, uint8_t flags, ColourTable& table) {
    const uint32_t count = 2u << (flags & 7);
    uint8_t bytes[3 * 256] = {};
    readSome(stream, bytes, 3 * size_t(count));
    for (uint32_t i = 0; i < count; ++i)
        table.entries[i] = RgbQuad{bytes[3 * i + 2], bytes[3 * i + 1], bytes[3 * i], 0};
    table.count = count;
}

void skipTable(ImageStream* stream, uint8_t flags) {
    if (flags & kTableFlag)
        skipBytes(stream, 3 * (int64_t(2) << (flags & 7)));
}

// Skips data sub-blocks up to and including the terminator; false at the
// end of the stream.
bool skipSubBlocks(ImageStream* stream) {
    for (;;) {
        const int length = stream->getc();
        if (length <= 0)
            return length == 0;
        if (!skipBytes(stream, length))
            return false;
    }
}

// Appends the bytes of the data sub-blocks to `data`, up to the terminator
// or the end of the stream.
void readSubBlocks(ImageStream* stream, std::vector<uint8_t>& data) {
    uint8_t block[255];
    for (;;) {
        const int length = stream->getc();
        if (length <= 0)
            return;
        const size_t got = readSome(stream, block, size_t(length));
        data.insert(data.end(), block, block + got);
        if (got < size_t(length))
            return;
    }
}

struct ImageDescriptor {
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint8_t flags = 0;
};

bool readDescriptor(ImageStream* stream, ImageDescriptor& image) {
    uint8_t bytes[kImageDescriptorSize];
    if (stream->read(bytes, sizeof bytes, 1) != 1)
        return false;
    image =
        ImageDescriptor{getLe16(bytes), getLe16(bytes + 2), getLe16(bytes + 4), getLe16(bytes + 6), bytes[8]};
    return true;
}

bool fitsScreen(const ImageDescriptor& image, int32_t screenWidth, int32_t screenHeight) {
    return image.width > 0 && image.height > 0 && image.left + image.width <= screenWidth &&
           image.top + image.height <= screenHeight;
}

// The images that lie inside the screen, counted by walking the blocks
// without decoding their data.
int32_t countFrames(ImageStream* stream, int32_t screenWidth, int32_t screenHeight) {
    int32_t count = 0;
    for (;;) {
        const int byte = stream->getc();
        if (byte < 0 || byte == kTrailer)
            return count;
        if (byte == kExtensionIntroducer) {
            if (stream->getc() < 0 || !skipSubBlocks(stream))
                return count;
        } else if (byte == kImageSeparator) {
            ImageDescriptor image;
            if (!readDescriptor(stream, image))
                return count;
            skipTable(stream, image.flags);
            if (stream->getc() < 0)
                return count;
            if (fitsScreen(image, screenWidth, screenHeight))
                ++count;
            if (!skipSubBlocks(stream))
                return count;
        }
        // Any other byte is skipped until a block starts.
    }
}

// Where the next decoded row goes: top first, or in the four passes of an
// interlaced image (every 8th row from 0, every 8th from 4, every 4th from
// 2, every 2nd from 1).
class RowOrder {
public:
    RowOrder(int32_t height, bool interlaced) : m_height(height), m_interlaced(interlaced) {}
    bool done() const { return m_row >= m_height; }
    int32_t row() const { return m_row; }
    void advance() {
        if (!m_interlaced) {
            ++m_row;
            return;
        }
        static constexpr int32_t kStart[4] = {0, 4, 2, 1};
        static constexpr int32_t kStep[4] = {8, 8, 4, 2};
        m_row += kStep[m_pass];
        while (m_row >= m_height && m_pass < 3) {
            ++m_pass;
            m_row = kStart[m_pass];
        }
    }

private:
    int32_t m_height;
    bool m_interlaced;
    int32_t m_pass = 0;
    int32_t m_row = 0;
};

struct LzwOutcome {
    bool badCodeSize = false;
    bool badCodes = false;
};

// Decodes the image data into `pixels` (width x height indices, top row
// first). The string table never grows past 4096 codes and its strings are
// chains of strictly smaller codes, so the stack holds at most 4096 + 1
// entries. A code past the next free one counts as bad and stands for the
// previous string plus its first character, which keeps the table in step.
LzwOutcome decodeLzw(const uint8_t* data, size_t size, int minCodeSize, uint8_t* pixels, int32_t width,
                     int32_t height, bool interlaced) {
    LzwOutcome outcome;
    if (minCodeSize < kLowestCodeSize || minCodeSize > kHighestCodeSize) {
        outcome.badCodeSize = true;
        return outcome;
    }
    auto prefix = std::make_unique<uint16_t[]>(kMaxCodes);
    auto suffix = std::make_unique<uint8_t[]>(kMaxCodes);
    auto stack = std::make_unique<uint8_t[]>(kMaxCodes + 1);
    const int32_t clearCode = 1 << minCodeSize;
    const int32_t endCode = clearCode + 1;
    int codeBits = minCodeSize + 1;
    int32_t nextFree = clearCode + 2;
    int32_t limit = 1 << codeBits;
    int32_t previous = -1;
    uint8_t firstChar = 0;

    RowOrder rows(height, interlaced);
    uint8_t* row = pixels;
    int32_t x = 0;
    auto emit = [&](uint8_t value) {
        row[x] = value;
        if (++x == width) {
            x = 0;
            rows.advance();
            row = rows.done() ? nullptr : pixels + size_t(rows.row()) * size_t(width);
        }
    };

    uint32_t bits = 0;
    int bitCount = 0;
    size_t position = 0;
    while (!rows.done()) {
        while (bitCount < codeBits && position < size) {
            bits |= uint32_t(data[position++]) << bitCount;
            bitCount += 8;
        }
        if (bitCount < codeBits)
            break;
        int32_t code = int32_t(bits & ((1u << codeBits) - 1));
        bits >>= codeBits;
        bitCount -= codeBits;

        if (code == clearCode) {
            codeBits = minCodeSize + 1;
            nextFree = clearCode + 2;
            limit = 1 << codeBits;
            previous = -1;
            continue;
        }
        if (code == endCode)
            break;
        if (previous < 0) {
            // The first code after a clear names a single pixel.
            if (code > clearCode) {
                outcome.badCodes = true;
                code = firstChar;
            }
            firstChar = uint8_t(code);
            emit(firstChar);
            previous = code;
            continue;
        }
        int32_t incoming = code;
        int32_t depth = 0;
        if (code >= nextFree) {
            if (code > nextFree)
                outcome.badCodes = true;
            stack[depth++] = firstChar;
            code = previous;
            incoming = nextFree < kMaxCodes ? nextFree : previous;
        }
        while (code > clearCode && depth < kMaxCodes) {
            stack[depth++] = suffix[code];
            code = prefix[code];
        }
        firstChar = uint8_t(code);
        stack[depth++] = firstChar;
        while (depth > 0 && row != nullptr)
            emit(stack[--depth]);
        if (nextFree < kMaxCodes) {
            prefix[nextFree] = uint16_t(previous);
            suffix[nextFree] = firstChar;
            ++nextFree;
            if (nextFree == limit && codeBits < kMaxCodeBits) {
                ++codeBits;
                limit <<= 1;
            }
        }
        previous = incoming;
    }
    return outcome;
}

// From the start of an image's data, steps to the first image separator
// that follows a zero byte, leaving the stream on it.
void resynchronise(ImageStream* stream, int32_t dataStart) {
    stream->seek(dataStart, ImageStream::kSeekSet);
    int previous = -1;
    for (;;) {
        const int byte = stream->getc();
        if (byte < 0)
            return;
        if (previous == 0 && byte == kImageSeparator) {
            stream->seek(-1, ImageStream::kSeekCur);
            return;
        }
        previous = byte;
    }
}

// The depth of a frame's palette image: 1 bit for a table of 2 entries, 4
// for up to 16, else 8.
int32_t depthForTable(uint32_t entries) {
    if (entries == 2)
        return 1;
    return entries != 0 && entries <= 16 ? 4 : 8;
}

struct GraphicControl {
    int32_t transparentIndex = -1;
    uint16_t delay = 0;
    int disposal = 0;
};

// The logical screen: its size, its flags and its global colour table.
struct Screen {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t flags = 0;
    int64_t pixels = 0;
    ColourTable global;
};

// The canvas after the wanted frame, and what that frame's image said.
struct Composition {
    // One palette index per screen pixel, top row first; in the true-colour
    // case blue, green, red per pixel.
    std::vector<uint8_t> canvas;
    bool trueColour = false;
    bool found = false;
    GraphicControl control;
    ColourTable table;
};

// Reads an extension block after its introducer: a graphic control sets
// `control` (and the frame delay), a comment fills `comment` (256 bytes).
// False when the file ends inside it.
bool readExtension(ImageStream* stream, GraphicControl& control, ImageInfo& info, char* comment) {
    const int label = stream->getc();
    uint8_t block[256] = {};
    const int length = stream->getc();
    if (label < 0 || length < 0)
        return false;
    if (length == 0)
        return true;
    readSome(stream, block, size_t(length));
    if (label == kGraphicControlLabel && length >= 4) {
        const uint8_t flags = block[0];
        control.delay = getLe16(block + 1);
        control.disposal = (flags >> 2) & 7;
        control.transparentIndex = (flags & kTransparentFlag) ? block[3] : -1;
        info.frameDelay = control.delay;
    } else if (label == kCommentLabel) {
        std::memcpy(comment, block, size_t(std::min(length, 255)));
        comment[std::min(length, 255)] = '\0';
    }
    // An application block's loop count is of no use to one frame.
    skipSubBlocks(stream);
    return true;
}

// Paints a decoded rectangle onto the canvas: as colours on a true-colour
// canvas, else as indices, the transparent one leaving the canvas as it is.
void pasteRect(const uint8_t* rect, const ImageDescriptor& image, const ColourTable& table,
               int32_t transparentIndex, int32_t screenWidth, bool trueColour, uint8_t* canvas) {
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t* from = rect + size_t(y) * size_t(image.width);
        const size_t at = size_t(image.top + y) * size_t(screenWidth) + size_t(image.left);
        if (trueColour) {
            uint8_t* to = canvas + 3 * at;
            for (int32_t x = 0; x < image.width; ++x) {
                const RgbQuad c = from[x] < table.count ? table.entries[from[x]] : RgbQuad{};
                to[3 * x] = c.blue;
                to[3 * x + 1] = c.green;
                to[3 * x + 2] = c.red;
            }
        } else if (transparentIndex < 0) {
            std::memcpy(canvas + at, from, size_t(image.width));
        } else {
            uint8_t* to = canvas + at;
            for (int32_t x = 0; x < image.width; ++x)
                if (from[x] != transparentIndex)
                    to[x] = from[x];
        }
    }
}

// Composes the frames up to the one info.frame names (the last one, in the
// true-colour case). False when decoding is cancelled.
bool composeFrames(ImageStream* stream, const Screen& screen, ImageInfo& info, char* comment,
                   Composition& out) {
    std::vector<uint8_t>& canvas = out.canvas;
    std::vector<uint8_t> rect;
    std::vector<uint8_t> data;
    int64_t work = 0;
    GraphicControl control;
    int32_t wanted = info.frame;
    int32_t index = 0;
    auto spend = [&](int64_t pixels) {
        work += pixels;
        if (work > kMaxComposeWork)
            failCodec("GIF frames too large to compose");
    };

    while (!out.found) {
        if (info.escape > 0)
            return false;
        const int byte = stream->getc();
        if (byte < 0 || byte == kTrailer)
            break;
        if (byte == kExtensionIntroducer) {
            if (!readExtension(stream, control, info, comment))
                break;
            continue;
        }
        if (byte != kImageSeparator)
            continue;

        ImageDescriptor image;
        if (!readDescriptor(stream, image))
            break;
        if (!fitsScreen(image, screen.width, screen.height)) {
            skipTable(stream, image.flags);
            if (stream->getc() < 0 || !skipSubBlocks(stream))
                break;
            control = GraphicControl{};
            continue;
        }
        ColourTable local;
        if (image.flags & kTableFlag)
            readTable(stream, image.flags, local);
        const ColourTable& table = (image.flags & kTableFlag) ? local : screen.global;
        const int32_t dataStart = stream->tell();
        const int minCodeSize = stream->getc();
        data.clear();
        readSubBlocks(stream, data);

        if (index == 0) {
            out.trueColour = !(screen.flags & kTableFlag) && info.frameCount > 1 &&
                             image.width != screen.width && image.height != screen.height;
            if (out.trueColour)
                wanted = info.frame = info.frameCount - 1;
            canvas.assign(size_t(screen.pixels) * (out.trueColour ? 3 : 1),
                          out.trueColour ? 0 : uint8_t(std::max(control.transparentIndex, 0)));
            spend(screen.pixels);
        } else if (!out.trueColour && control.disposal == kRestoreBackground) {
            std::fill(canvas.begin(), canvas.end(), uint8_t(std::max(control.transparentIndex, 0)));
            spend(screen.pixels);
        }

        const int64_t rectPixels = int64_t(image.width) * image.height;
        spend(rectPixels);
        rect.assign(size_t(rectPixels), 0);
        const LzwOutcome outcome = decodeLzw(data.data(), data.size(), minCodeSize, rect.data(), image.width,
                                             image.height, image.flags & kInterlaceFlag);
        if (outcome.badCodeSize && index == wanted)
            failCodec("GIF image data has a bad code size");
        if (!outcome.badCodeSize)
            pasteRect(rect.data(), image, table, control.transparentIndex, screen.width, out.trueColour,
                      canvas.data());
        if (index == wanted) {
            out.found = true;
            out.control = control;
            out.table = table;
        }
        ++index;
        control = GraphicControl{};
        if (outcome.badCodes)
            resynchronise(stream, dataStart);
        if (info.escape > 0)
            return false;
    }
    return true;
}

}  // namespace

bool RasterImageGIF::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec("Can't allocate memory", [&] {
        uint8_t header[kScreenDescriptorSize];
        if (stream->read(header, sizeof header, 1) != 1 || std::memcmp(header, "GIF8", 4) != 0)
            return false;
        Screen screen;
        screen.width = getLe16(header + 6);
        screen.height = getLe16(header + 8);
        screen.flags = header[10];
        if (m_info.escape == -1) {
            m_header.width = screen.width;
            m_header.height = screen.height;
            setLastError("output dimensions returned");
            return true;
        }
        if (screen.flags & kTableFlag)
            readTable(stream, screen.flags, screen.global);
        const int32_t blocksStart = stream->tell();

        m_info.frameCount = countFrames(stream, screen.width, screen.height);
        stream->seek(blocksStart, ImageStream::kSeekSet);
        if (m_info.frame < 0 || m_info.frame >= m_info.frameCount)
            return false;
        screen.pixels = int64_t(screen.width) * screen.height;
        if (screen.pixels > kMaxScreenPixels)
            failCodec("GIF screen too large");

        Composition composed;
        if (!composeFrames(stream, screen, m_info, m_comment, composed))
            return false;
        if (!composed.found)
            failCodec("GIF frame not found");
        const int32_t transparentIndex = composed.control.transparentIndex;
        if (composed.trueColour)
            storeTrueColour(composed.canvas.data(), screen.width, screen.height, transparentIndex,
                            composed.table.entries, composed.table.count);
        else
            storeIndices(composed.canvas.data(), screen.width, screen.height, transparentIndex,
                         composed.table.entries, composed.table.count);
        m_info.frameDelay = composed.control.delay;
        return true;
    });
}

void RasterImageGIF::storeTrueColour(const uint8_t* canvas, int32_t width, int32_t height,
                                     int32_t transparentIndex, const RgbQuad* entries, uint32_t count) {
    if (Create(width, height, 24, kFormatGif) == nullptr)
        failCodec("Can't allocate memory");
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(RowPointer(height - 1 - y), canvas + 3 * size_t(y) * size_t(width), 3 * size_t(width));
    if (transparentIndex >= 0) {
        const auto transparent = uint8_t(transparentIndex);
        SetTransparentColour(transparent < count ? entries[transparent] : RgbQuad{});
        SetTransparentIndex(0);
    }
}

void RasterImageGIF::storeIndices(const uint8_t* canvas, int32_t width, int32_t height,
                                  int32_t transparentIndex, const RgbQuad* entries, uint32_t count) {
    const bool transparent = transparentIndex >= 0;
    const int32_t depth = transparent ? 8 : depthForTable(count);
    if (Create(width, height, depth, kFormatGif) == nullptr)
        failCodec("Can't allocate memory");
    RgbQuad* palette = GetPalette();
    const uint32_t colours = GetColourCount();
    for (uint32_t i = 0; i < colours; ++i) {
        if (i < count)
            palette[i] = entries[i];
        else if (transparent)
            palette[i] = RgbQuad{255, 255, 255, 0};
    }
    clearNearestCache();
    const auto mask = uint8_t(colours - 1);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* to = RowPointer(height - 1 - y);
        const uint8_t* from = canvas + size_t(y) * size_t(width);
        if (depth == 8) {
            std::memcpy(to, from, size_t(width));
            continue;
        }
        std::memset(to, 0, GetRowStride());
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t value = from[x] & mask;
            if (depth == 4)
                to[x >> 1] |= (x & 1) ? value : uint8_t(value << 4);
            else
                to[x >> 3] |= uint8_t(value << (7 - (x & 7)));
        }
    }
    if (transparent)
        SetTransparentIndex(transparentIndex);
}

}  // namespace rendova
