// The GIF encoder: the file's blocks, the three bodies (LZW, uncompressed,
// run-length style) and the tiling writer of true-colour images.
#include <algorithm>
#include <cstring>
#include <vector>

#include "image/CodecIo.h"
#include "image/ImageStream.h"
#include "image/RasterImageGIF.h"

namespace rendova {

namespace {

constexpr const char* kWriteErrorText = "Write Error in GIF file";
constexpr int kMaxCodeBits = 12;
constexpr int32_t kMaxCodes = 1 << kMaxCodeBits;
// The hash of the LZW body: 5003 doubled four times passes 65535, so a
// pixel is shifted 8 - 4 bits before it is mixed with the prefix.
constexpr int kHashShift = 4;
// Tiles of the true-colour writer: 17 x 15 = 255 pixels, one palette entry
// each, and entry 0 left for the transparent colour.
constexpr int32_t kTileWidth = 17;
constexpr int32_t kTileHeight = 15;
// Option word [2]: the body kind.
constexpr uint32_t kBodyUncompressed = 1;
constexpr uint32_t kBodyRunLength = 2;
// The screen's and the images' sizes are 16-bit fields.
constexpr int32_t kMaxSide = 65535;

void put(ImageStream* stream, const void* data, size_t size) {
    if (size != 0 && stream->write(data, size, 1) != 1)
        failCodec(kWriteErrorText);
}

void putByte(ImageStream* stream, uint8_t byte) {
    put(stream, &byte, 1);
}

void putWord(ImageStream* stream, uint32_t value) {
    uint8_t bytes[2];
    putLe16(bytes, value);
    put(stream, bytes, 2);
}

void putPalette(ImageStream* stream, const RasterImage& image) {
    const uint32_t colours = image.GetColourCount();
    const RgbQuad* palette = image.GetPalette();
    std::vector<uint8_t> bytes(3 * size_t(colours));
    for (uint32_t i = 0; i < colours; ++i) {
        bytes[3 * i] = palette[i].red;
        bytes[3 * i + 1] = palette[i].green;
        bytes[3 * i + 2] = palette[i].blue;
    }
    put(stream, bytes.data(), bytes.size());
}

}  // namespace

// Codes packed least significant bit first into sub-blocks of at most
// `packetLimit` bytes.
class RasterImageGIF::BitSink {
public:
    BitSink(ImageStream* stream, size_t packetLimit) : m_stream(stream), m_limit(packetLimit) {}

    void putCode(int32_t code, int bits) {
        m_bits |= uint32_t(code) << m_bitCount;
        m_bitCount += bits;
        while (m_bitCount >= 8) {
            m_packet[1 + m_length++] = uint8_t(m_bits);
            m_bits >>= 8;
            m_bitCount -= 8;
            if (m_length == m_limit)
                flushPacket();
        }
    }

    void finish() {
        if (m_bitCount > 0) {
            m_packet[1 + m_length++] = uint8_t(m_bits);
            m_bits = 0;
            m_bitCount = 0;
        }
        if (m_length > 0)
            flushPacket();
    }

private:
    void flushPacket() {
        m_packet[0] = uint8_t(m_length);
        put(m_stream, m_packet, m_length + 1);
        m_length = 0;
    }

    ImageStream* m_stream;
    size_t m_limit;
    uint32_t m_bits = 0;
    int m_bitCount = 0;
    size_t m_length = 0;
    uint8_t m_packet[256] = {};
};

// The palette indices of an image, stored rows from the top down and left
// to right; -1 after the last one.
class RasterImageGIF::PixelWalker {
public:
    explicit PixelWalker(const RasterImage& image)
        : m_image(image),
          m_width(image.GetWidth()),
          m_row(image.GetHeight()),
          m_x(image.GetWidth()),
          m_unpacked(size_t(image.GetWidth())) {}

    int next() {
        if (m_x == m_width) {
            if (m_row == 0)
                return -1;
            loadRow(--m_row);
            m_x = 0;
        }
        return m_current[m_x++];
    }

    // The rest of the current row, or the next row: its pixels and their
    // count, 0 after the last pixel. Mixes with next().
    int32_t nextRun(const uint8_t*& pixels) {
        if (m_x == m_width) {
            if (m_row == 0)
                return 0;
            loadRow(--m_row);
            m_x = 0;
        }
        pixels = m_current + m_x;
        const int32_t count = m_width - m_x;
        m_x = m_width;
        return count;
    }

private:
    void loadRow(int32_t row) {
        const uint8_t* stored = m_image.RowPointer(row);
        const int bits = m_image.GetBpp();
        if (bits == 8) {
            m_current = stored;
            return;
        }
        for (int32_t x = 0; x < m_width; ++x)
            m_unpacked[size_t(x)] = bits == 4 ? uint8_t((x & 1) ? stored[x >> 1] & 0x0F : stored[x >> 1] >> 4)
                                              : uint8_t((stored[x >> 3] >> (7 - (x & 7))) & 1);
        m_current = m_unpacked.data();
    }

    const RasterImage& m_image;
    int32_t m_width;
    int32_t m_row;
    int32_t m_x;
    std::vector<uint8_t> m_unpacked;
    const uint8_t* m_current = nullptr;
};

namespace {

// Every pixel sent as its own code. The code width follows the table that
// a decoder builds from the codes it receives (one entry per code after
// the first following a clear); a clear comes before that table fills.
template <class Walker, class Sink>
void writeUncompressedBody(Walker& pixels, int initialBits, Sink& sink) {
    const int32_t clearCode = 1 << (initialBits - 1);
    const int32_t endCode = clearCode + 1;
    int bits = initialBits;
    int32_t nextFree = clearCode + 2;
    bool first = true;
    sink.putCode(clearCode, bits);
    for (int pixel = pixels.next(); pixel >= 0; pixel = pixels.next()) {
        sink.putCode(pixel, bits);
        if (!first && ++nextFree == (1 << bits) && bits < kMaxCodeBits)
            ++bits;
        first = false;
        if (nextFree >= kMaxCodes - 2) {
            sink.putCode(clearCode, bits);
            bits = initialBits;
            nextFree = clearCode + 2;
            first = true;
        }
    }
    sink.putCode(endCode, bits);
    sink.finish();
}

// The run-length style body: runs of one value are sent as codes that
// stand, in the table that any LZW decoder builds from them, for runs of
// that value of growing lengths (code base + k - 2 for a run of k). A
// clear restarts the table when that costs fewer codes than going on.
template <class Sink>
class RunLengthBody {
public:
    RunLengthBody(int initialBits, Sink& sink)
        : m_sink(sink),
          m_initialBits(initialBits),
          m_clearCode(1 << (initialBits - 1)),
          m_endCode(m_clearCode + 1),
          m_baseCode(m_clearCode + 2),
          m_bumpStart(m_clearCode - 1),
          m_clearStart(initialBits <= 3 ? 9 : m_clearCode - 2),
          m_maxCodes(kMaxCodes - 3 - m_clearCode) {}

    template <class Walker>
    void write(Walker& pixels) {
        didClear();
        m_sink.putCode(m_clearCode, m_bits);
        for (int pixel = pixels.next();; pixel = pixels.next()) {
            if (m_runLength > 0 && pixel != m_runValue)
                flushRun();
            if (pixel < 0)
                break;
            if (m_runLength > 0 && pixel == m_runValue) {
                ++m_runLength;
            } else {
                m_runValue = pixel;
                m_runLength = 1;
            }
        }
        m_sink.putCode(m_endCode, m_bits);
        m_sink.finish();
    }

private:
    void didClear() {
        m_bits = m_initialBits;
        m_bump = m_bumpStart;
        m_clearPoint = m_clearStart;
        m_count = 0;
        m_tableLength = 0;
        m_justCleared = true;
    }

    void clear() {
        m_sink.putCode(m_clearCode, m_bits);
        didClear();
    }

    void plain(int32_t code) {
        m_justCleared = false;
        m_sink.putCode(code, m_bits);
        ++m_count;
        if (m_count >= m_bump) {
            ++m_bits;
            m_bump += 1 << (m_bits - 1);
        }
        if (m_count >= m_clearPoint)
            clear();
    }

    // The least k with k(k + 1) >= 2 s.
    static int64_t triangleRoot(int64_t s) {
        int64_t k = 0;
        for (int64_t step = int64_t(1) << 20; step > 0; step >>= 1)
            if ((k + step) * (k + step + 1) < 2 * s)
                k += step;
        return k + 1;
    }

    // Codes that send a run of `length` from a fresh table.
    int64_t costFromClear(int64_t length) const {
        const int64_t perGroup = int64_t(m_maxCodes) * (m_maxCodes + 1) / 2;
        int64_t cost = (length / perGroup) * m_maxCodes;
        const int64_t rest = length % perGroup;
        if (rest > 0)
            cost += triangleRoot(rest);
        return cost;
    }

    void resetClearPoint() {
        m_clearPoint = m_clearStart;
        if (m_count >= m_clearPoint)
            clear();
    }

    void fromClear(int64_t length) {
        m_clearPoint = m_maxCodes;
        m_tableValue = m_runValue;
        int64_t n = 1;
        while (length > 0) {
            if (n == 1) {
                m_tableLength = 1;
                plain(m_runValue);
                --length;
            } else if (length >= n) {
                m_tableLength = int32_t(n);
                plain(m_baseCode + int32_t(n) - 2);
                length -= n;
            } else if (length == 1) {
                ++m_tableLength;
                plain(m_runValue);
                length = 0;
            } else {
                ++m_tableLength;
                plain(m_baseCode + int32_t(length) - 2);
                length = 0;
            }
            n = m_count == 0 ? 1 : n + 1;
        }
        resetClearPoint();
    }

    void clearOrPlain(int64_t length) {
        if (1 + costFromClear(length) < length) {
            clear();
            fromClear(length);
            return;
        }
        for (; length > 0; --length)
            plain(m_runValue);
    }

    void withTable(int64_t length) {
        int64_t repeats = length / m_tableLength;
        int64_t leftover = length % m_tableLength;
        int64_t leftoverCodes = leftover != 0 ? 1 : 0;
        if (m_count + repeats + leftoverCodes > m_maxCodes) {
            repeats = m_maxCodes - m_count;
            leftover = length - repeats * m_tableLength;
            leftoverCodes = 1 + costFromClear(leftover);
        }
        if (1 + costFromClear(length) < repeats + leftoverCodes) {
            clear();
            fromClear(length);
            return;
        }
        m_clearPoint = m_maxCodes;
        for (; repeats > 0; --repeats)
            plain(m_baseCode + m_tableLength - 2);
        if (leftover != 0) {
            if (m_justCleared)
                fromClear(leftover);
            else if (leftover == 1)
                plain(m_runValue);
            else
                plain(m_baseCode + int32_t(leftover) - 2);
        }
        resetClearPoint();
    }

    void flushRun() {
        if (m_runLength == 1)
            plain(m_runValue);
        else if (m_justCleared)
            fromClear(m_runLength);
        else if (m_tableLength < 2 || m_tableValue != m_runValue)
            clearOrPlain(m_runLength);
        else
            withTable(m_runLength);
        m_runLength = 0;
    }

    Sink& m_sink;
    const int m_initialBits;
    const int32_t m_clearCode;
    const int32_t m_endCode;
    const int32_t m_baseCode;
    const int32_t m_bumpStart;
    const int32_t m_clearStart;
    const int32_t m_maxCodes;
    int m_bits = 0;
    int32_t m_bump = 0;
    int32_t m_clearPoint = 0;
    int32_t m_count = 0;
    int32_t m_tableValue = -1;
    int32_t m_tableLength = 0;
    bool m_justCleared = true;
    int32_t m_runValue = -1;
    int64_t m_runLength = 0;
};

}  // namespace

void RasterImageGIF::clearHash() {
    std::fill(std::begin(m_hashTable), std::end(m_hashTable), -1);
}

// The published LZW compression over an open-addressing hash of 5003
// entries keyed by (pixel << 12) + prefix; a full table is cleared.
void RasterImageGIF::writeLzwBody(PixelWalker& pixels, int32_t initialBits, BitSink& sink) {
    const int32_t clearCode = 1 << (initialBits - 1);
    const int32_t endCode = clearCode + 1;
    int bits = initialBits;
    int32_t maxCode = (1 << bits) - 1;
    int32_t nextFree = clearCode + 2;
    bool clearing = false;
    auto output = [&](int32_t code) {
        sink.putCode(code, bits);
        if (nextFree > maxCode || clearing) {
            if (clearing) {
                bits = initialBits;
                clearing = false;
            } else {
                ++bits;
            }
            maxCode = bits == kMaxCodeBits ? kMaxCodes : (1 << bits) - 1;
        }
    };

    clearHash();
    output(clearCode);
    int32_t prefix = pixels.next();
    const uint8_t* run = nullptr;
    for (int32_t count = pixels.nextRun(run); count > 0; count = pixels.nextRun(run)) {
        for (const uint8_t* end = run + count; run != end; ++run) {
            const int32_t pixel = *run;
            const int32_t key = (pixel << kMaxCodeBits) + prefix;
            int32_t i = (pixel << kHashShift) ^ prefix;
            if (m_hashTable[i] == key) {
                prefix = m_codeTable[i];
                continue;
            }
            if (m_hashTable[i] >= 0) {
                const int32_t step = i == 0 ? 1 : kHashSize - i;
                bool hit = false;
                do {
                    i -= step;
                    if (i < 0)
                        i += kHashSize;
                    if (m_hashTable[i] == key) {
                        hit = true;
                        break;
                    }
                } while (m_hashTable[i] >= 0);
                if (hit) {
                    prefix = m_codeTable[i];
                    continue;
                }
            }
            output(prefix);
            prefix = pixel;
            if (nextFree < kMaxCodes) {
                m_codeTable[i] = uint16_t(nextFree++);
                m_hashTable[i] = key;
            } else {
                clearHash();
                nextFree = clearCode + 2;
                clearing = true;
                output(clearCode);
            }
        }
    }
    output(prefix);
    output(endCode);
    sink.finish();
}

void RasterImageGIF::writeGraphicControl(ImageStream* stream, int32_t transparentIndex) {
    const uint8_t flags = uint8_t(((m_disposal << 2) & 0x1F) | (transparentIndex != -1 ? 1 : 0));
    const uint8_t head[] = {0x21, 0xF9, 0x04, flags};
    put(stream, head, sizeof head);
    putWord(stream, m_delay);
    putByte(stream, uint8_t(transparentIndex));
    putByte(stream, 0);
}

void RasterImageGIF::writeComment(ImageStream* stream) {
    const size_t length = std::strlen(m_comment);
    if (length == 0)
        return;
    const uint8_t head[] = {0x21, 0xFE, uint8_t(length)};
    put(stream, head, sizeof head);
    put(stream, m_comment, length);
    putByte(stream, 0);
}

void RasterImageGIF::writeImageBlock(ImageStream* stream, const RasterImage& image, int32_t left, int32_t top,
                                     bool localPalette) {
    const int32_t bits = image.GetBpp();
    putByte(stream, 0x2C);
    putWord(stream, uint32_t(left));
    putWord(stream, uint32_t(top));
    putWord(stream, uint32_t(image.GetWidth()));
    putWord(stream, uint32_t(image.GetHeight()));
    if (localPalette) {
        putByte(stream, uint8_t(0x80 | (bits - 1)));
        putPalette(stream, image);
    } else {
        putByte(stream, 0);
    }
    const int32_t minCodeSize = std::max(bits, 2);
    putByte(stream, uint8_t(minCodeSize));
    PixelWalker pixels(image);
    const uint32_t body = GetFormatOption(kFormatGif);
    if (body == kBodyRunLength) {
        BitSink sink(stream, 255);
        RunLengthBody<BitSink>(minCodeSize + 1, sink).write(pixels);
    } else {
        BitSink sink(stream, 254);
        if (body == kBodyUncompressed)
            writeUncompressedBody(pixels, minCodeSize + 1, sink);
        else
            writeLzwBody(pixels, minCodeSize + 1, sink);
    }
    putByte(stream, 0);
}

void RasterImageGIF::encodePalette(ImageStream* stream) {
    const int32_t bits = GetBpp();
    put(stream, "GIF89a", 6);
    putWord(stream, uint32_t(GetWidth()));
    putWord(stream, uint32_t(GetHeight()));
    putByte(stream, uint8_t(0x80 | (((bits + 7) << 5) & 0xFF) | (bits - 1)));
    putByte(stream, 0);
    putByte(stream, 0);
    putPalette(stream, *this);
    writeGraphicControl(stream, m_info.transparentIndex);
    writeComment(stream);
    writeImageBlock(stream, *this, m_info.offsetX, m_info.offsetY, false);
    putByte(stream, 0x3B);
}

void RasterImageGIF::encodeTiles(ImageStream* stream) {
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    put(stream, "GIF89a", 6);
    putWord(stream, uint32_t(width));
    putWord(stream, uint32_t(height));
    const uint8_t flags[] = {0x11, 0, 0};
    put(stream, flags, sizeof flags);
    writeComment(stream);

    const bool transparent = HasTransparency();
    const RgbQuad transparentColour = GetTransparentColour();
    for (int32_t top = 0; top < height; top += kTileHeight) {
        for (int32_t left = 0; left < width; left += kTileWidth) {
            const int32_t tileWidth = std::min(kTileWidth, width - left);
            const int32_t tileHeight = std::min(kTileHeight, height - top);
            RasterImage tile(tileWidth, tileHeight, 8, kFormatGif);
            if (!tile.HasPixels())
                failCodec(kWriteErrorText);
            RgbQuad* palette = tile.GetPalette();
            if (transparent)
                palette[0] =
                    RgbQuad{transparentColour.blue, transparentColour.green, transparentColour.red, 0};
            for (int32_t row = 0; row < tileHeight; ++row) {
                const uint8_t* from = RowPointer(height - 1 - (top + row)) + 3 * size_t(left);
                uint8_t* to = tile.RowPointer(tileHeight - 1 - row);
                for (int32_t column = 0; column < tileWidth; ++column) {
                    const uint8_t* c = from + 3 * column;
                    const int32_t entry = 1 + row * kTileWidth + column;
                    palette[entry] = RgbQuad{c[0], c[1], c[2], 0};
                    const bool isTransparent = transparent && c[0] == transparentColour.blue &&
                                               c[1] == transparentColour.green &&
                                               c[2] == transparentColour.red;
                    to[column] = isTransparent ? 0 : uint8_t(entry);
                }
            }
            writeGraphicControl(stream, transparent ? 0 : -1);
            writeImageBlock(stream, tile, left, top, true);
        }
    }
    putByte(stream, 0x3B);
}

bool RasterImageGIF::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec([&] {
        if (GetWidth() > kMaxSide || GetHeight() > kMaxSide)
            failCodec("Can't save this image as GIF");
        m_delay = uint16_t(m_info.frameDelay);
        if (GetBpp() > 8)
            encodeTiles(stream);
        else
            encodePalette(stream);
        if (!stream->flush() || stream->error() != 0)
            failCodec(kWriteErrorText);
    });
}

}  // namespace rendova
