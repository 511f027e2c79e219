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
constexpr int kApplicationLabel = 0xFF;
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
    image = ImageDescriptor{getLe16(bytes), getLe16(bytes + 2), getLe16(bytes + 4), getLe16(bytes + 6), bytes[8]};
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

}  // namespace

bool RasterImageGIF::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    try {
        uint8_t screen[kScreenDescriptorSize];
        if (stream->read(screen, sizeof screen, 1) != 1 || std::memcmp(screen, "GIF8", 4) != 0)
            return false;
        const int32_t screenWidth = getLe16(screen + 6);
        const int32_t screenHeight = getLe16(screen + 8);
        const uint8_t screenFlags = screen[10];
        if (m_info.escape == -1) {
            m_header.width = screenWidth;
            m_header.height = screenHeight;
            setLastError("output dimensions returned");
            return true;
        }
        ColourTable global;
        if (screenFlags & kTableFlag)
            readTable(stream, screenFlags, global);
        const int32_t blocksStart = stream->tell();

        m_info.frameCount = countFrames(stream, screenWidth, screenHeight);
        stream->seek(blocksStart, ImageStream::kSeekSet);
        int32_t wanted = m_info.frame;
        if (wanted < 0 || wanted >= m_info.frameCount)
            return false;
        const int64_t screenPixels = int64_t(screenWidth) * screenHeight;
        if (screenPixels > kMaxScreenPixels)
            failCodec("GIF screen too large");

        // The canvas holds one palette index per screen pixel, top row first;
        // in the true-colour case it holds blue, green, red per pixel.
        std::vector<uint8_t> canvas;
        std::vector<uint8_t> rect;
        std::vector<uint8_t> data;
        bool trueColour = false;
        int64_t work = 0;
        GraphicControl control;
        GraphicControl wantedControl;
        ColourTable wantedTable;
        int32_t index = 0;
        bool found = false;
        auto spend = [&](int64_t pixels) {
            work += pixels;
            if (work > kMaxComposeWork)
                failCodec("GIF frames too large to compose");
        };

        while (!found) {
            if (m_info.escape > 0)
                return false;
            const int byte = stream->getc();
            if (byte < 0 || byte == kTrailer)
                break;
            if (byte == kExtensionIntroducer) {
                const int label = stream->getc();
                uint8_t block[256] = {};
                const int length = stream->getc();
                if (label < 0 || length < 0)
                    break;
                if (length == 0)
                    continue;
                readSome(stream, block, size_t(length));
                if (label == kGraphicControlLabel && length >= 4) {
                    const uint8_t flags = block[0];
                    control.delay = getLe16(block + 1);
                    control.disposal = (flags >> 2) & 7;
                    control.transparentIndex = (flags & kTransparentFlag) ? block[3] : -1;
                    m_info.frameDelay = control.delay;
                } else if (label == kCommentLabel) {
                    std::memcpy(m_comment, block, size_t(std::min(length, 255)));
                    m_comment[std::min(length, 255)] = '\0';
                }
                // An application block's loop count is of no use to one frame.
                skipSubBlocks(stream);
                continue;
            }
            if (byte != kImageSeparator)
                continue;

            ImageDescriptor image;
            if (!readDescriptor(stream, image))
                break;
            if (!fitsScreen(image, screenWidth, screenHeight)) {
                skipTable(stream, image.flags);
                if (stream->getc() < 0 || !skipSubBlocks(stream))
                    break;
                control = GraphicControl{};
                continue;
            }
            ColourTable local;
            if (image.flags & kTableFlag)
                readTable(stream, image.flags, local);
            const ColourTable& table = (image.flags & kTableFlag) ? local : global;
            const int32_t dataStart = stream->tell();
            const int minCodeSize = stream->getc();
            data.clear();
            readSubBlocks(stream, data);

            if (index == 0) {
                trueColour = !(screenFlags & kTableFlag) && m_info.frameCount > 1 &&
                             image.width != screenWidth && image.height != screenHeight;
                if (trueColour)
                    wanted = m_info.frame = m_info.frameCount - 1;
                canvas.assign(size_t(screenPixels) * (trueColour ? 3 : 1),
                              trueColour ? 0 : uint8_t(std::max(control.transparentIndex, 0)));
                spend(screenPixels);
            } else if (!trueColour && control.disposal == kRestoreBackground) {
                std::fill(canvas.begin(), canvas.end(), uint8_t(std::max(control.transparentIndex, 0)));
                spend(screenPixels);
            }

            const int64_t rectPixels = int64_t(image.width) * image.height;
            spend(rectPixels);
            rect.assign(size_t(rectPixels), 0);
            const LzwOutcome outcome = decodeLzw(data.data(), data.size(), minCodeSize, rect.data(),
                                                 image.width, image.height, image.flags & kInterlaceFlag);
            if (outcome.badCodeSize && index == wanted)
                failCodec("GIF image data has a bad code size");
            if (!outcome.badCodeSize) {
                for (int32_t y = 0; y < image.height; ++y) {
                    const uint8_t* from = rect.data() + size_t(y) * size_t(image.width);
                    const size_t at = size_t(image.top + y) * size_t(screenWidth) + size_t(image.left);
                    if (trueColour) {
                        uint8_t* to = canvas.data() + 3 * at;
                        for (int32_t x = 0; x < image.width; ++x) {
                            const RgbQuad c = from[x] < table.count ? table.entries[from[x]] : RgbQuad{};
                            to[3 * x] = c.blue;
                            to[3 * x + 1] = c.green;
                            to[3 * x + 2] = c.red;
                        }
                    } else if (control.transparentIndex < 0) {
                        std::memcpy(canvas.data() + at, from, size_t(image.width));
                    } else {
                        uint8_t* to = canvas.data() + at;
                        const int32_t transparent = control.transparentIndex;
                        for (int32_t x = 0; x < image.width; ++x)
                            if (from[x] != transparent)
                                to[x] = from[x];
                    }
                }
            }
            if (index == wanted) {
                found = true;
                wantedControl = control;
                wantedTable = table;
            }
            ++index;
            control = GraphicControl{};
            if (outcome.badCodes)
                resynchronise(stream, dataStart);
            if (m_info.escape > 0)
                return false;
        }
        if (!found)
            failCodec("GIF frame not found");

        if (trueColour) {
            if (Create(screenWidth, screenHeight, 24, kFormatGif) == nullptr)
                failCodec("Can't allocate memory");
            for (int32_t y = 0; y < screenHeight; ++y)
                std::memcpy(RowPointer(screenHeight - 1 - y), canvas.data() + 3 * size_t(y) * size_t(screenWidth),
                            3 * size_t(screenWidth));
            if (wantedControl.transparentIndex >= 0) {
                const auto transparent = uint8_t(wantedControl.transparentIndex);
                SetTransparentColour(transparent < wantedTable.count ? wantedTable.entries[transparent] : RgbQuad{});
                SetTransparentIndex(0);
            }
        } else {
            const bool transparent = wantedControl.transparentIndex >= 0;
            const int32_t depth = transparent ? 8 : depthForTable(wantedTable.count);
            if (Create(screenWidth, screenHeight, depth, kFormatGif) == nullptr)
                failCodec("Can't allocate memory");
            RgbQuad* palette = GetPalette();
            const uint32_t colours = GetColourCount();
            for (uint32_t i = 0; i < colours; ++i) {
                if (i < wantedTable.count)
                    palette[i] = wantedTable.entries[i];
                else if (transparent)
                    palette[i] = RgbQuad{255, 255, 255, 0};
            }
            clearNearestCache();
            const auto mask = uint8_t(colours - 1);
            for (int32_t y = 0; y < screenHeight; ++y) {
                uint8_t* to = RowPointer(screenHeight - 1 - y);
                const uint8_t* from = canvas.data() + size_t(y) * size_t(screenWidth);
                if (depth == 8) {
                    std::memcpy(to, from, size_t(screenWidth));
                    continue;
                }
                std::memset(to, 0, GetRowStride());
                for (int32_t x = 0; x < screenWidth; ++x) {
                    const uint8_t value = from[x] & mask;
                    if (depth == 4)
                        to[x >> 1] |= (x & 1) ? value : uint8_t(value << 4);
                    else
                        to[x >> 3] |= uint8_t(value << (7 - (x & 7)));
                }
            }
            if (transparent)
                SetTransparentIndex(wantedControl.transparentIndex);
        }
        m_info.frameDelay = wantedControl.delay;
    } catch (const CodecFailure& failure) {
        setLastError(failure.text);
        return false;
    } catch (const std::bad_alloc&) {
        setLastError("Can't allocate memory");
        return false;
    }
    return true;
}

}  // namespace rendova
