#include "image/RasterImagePCX.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "image/ByteReader.h"
#include "image/CodecIo.h"
#include "image/DibPixels.h"
#include "image/ImageStream.h"
#include "image/ImageTransforms.h"
#include "image/MemoryStream.h"

namespace rendova {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kVersion = 5;
constexpr uint8_t kRunLength = 1;
constexpr uint8_t kPaletteSignature = 12;
// A byte of 0xC0 or above carries a repeat count in its low six bits.
constexpr uint8_t kRunFlag = 0xC0;
constexpr int32_t kMaxRun = 63;
constexpr int kMaxPlanes = 4;
// The window's corners and the bytes per line are 16-bit fields.
constexpr int32_t kMaxSide = 65536;
constexpr int64_t kMaxLineBytes = 65535;

// Packed bytes of one line of `width` pixels of `bits` bits.
int64_t packedBytes(int64_t width, int bits) {
    return (width * bits + 7) / 8;
}

// Codes a line of `count` bytes: runs of up to 63 equal bytes; a single
// byte below 0xC0 goes as it is, anything else behind a count byte.
void encodeRuns(const uint8_t* line, size_t count, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < count) {
        const uint8_t value = line[i];
        size_t run = 1;
        while (i + run < count && line[i + run] == value && run < size_t(kMaxRun))
            ++run;
        if (run == 1 && value < kRunFlag) {
            out.push_back(value);
        } else {
            out.push_back(uint8_t(kRunFlag | run));
            out.push_back(value);
        }
        i += run;
    }
}

// An 8-bit line of `width` bytes, then the pad byte that makes an odd
// width even.
void encodeByteLine(const uint8_t* line, size_t width, std::vector<uint8_t>& out) {
    encodeRuns(line, width, out);
    if (width & 1)
        out.push_back(0);
}

// The bytes a line of one plane needs for the layouts read: packed pixels in
// one plane, 2 to 4 planes of 1 bit (bit i of an index from plane i), 3 or 4
// planes of 8 bits. Fails for any other layout.
int64_t neededLineBytes(int bits, int planes, int32_t width) {
    if (planes == 1) {
        if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
            failCodec("Can't handle more than 1 bit per pixel");
        return packedBytes(width, bits);
    }
    if (bits == 8 && planes >= 3)
        return width;
    if (bits == 1 && planes >= 2)
        return packedBytes(width, 1);
    if (bits == 2 || bits == 4 || bits == 8)
        failCodec("Can't handle packed pixels with more than 1 plane.");
    if (bits != 1)
        failCodec("Can't handle more than 1 bit per pixel");
    failCodec("Can't handle more than 4 planes");
}

// The run-length decoder over the whole picture: a run may carry over from
// one line to the next, and none may pass the end of the picture.
class RunDecoder {
public:
    RunDecoder(ImageStream* stream, int64_t total) : m_reader(stream), m_remaining(total) {}

    void fill(std::vector<uint8_t>& line) {
        for (size_t filled = 0; filled < line.size();) {
            if (m_pendingCount == 0) {
                const int byte = m_reader.next();
                if (byte < 0)
                    failCodec("corrupted PCX");
                if (byte >= kRunFlag) {
                    m_pendingCount = byte & kMaxRun;
                    const int value = m_reader.next();
                    if (value < 0)
                        failCodec("corrupted PCX");
                    m_pendingValue = uint8_t(value);
                    if (m_pendingCount > m_remaining)
                        failCodec("repeat count spans end of image");
                } else {
                    m_pendingCount = 1;
                    m_pendingValue = uint8_t(byte);
                }
            }
            const size_t part = std::min(size_t(m_pendingCount), line.size() - filled);
            std::memset(line.data() + filled, m_pendingValue, part);
            filled += part;
            m_pendingCount -= int(part);
            m_remaining -= int64_t(part);
        }
    }
    ByteReader& reader() { return m_reader; }

private:
    ByteReader m_reader;
    int64_t m_remaining;
    int m_pendingCount = 0;
    uint8_t m_pendingValue = 0;
};

// One decoded line (its planes one after the other, bytesPerLine each) as a
// row of the image; `alpha` is the row's alpha when a fourth 8-bit plane
// carries one.
void placeLine(const uint8_t* plane, int64_t bytesPerLine, int32_t width, int bits, int planes, int depth,
               uint8_t* row, uint8_t* alpha) {
    if (depth == 24) {
        for (int32_t x = 0; x < width; ++x) {
            row[3 * x + 2] = plane[x];
            row[3 * x + 1] = plane[bytesPerLine + x];
            row[3 * x] = plane[2 * bytesPerLine + x];
        }
        if (alpha != nullptr)
            std::memcpy(alpha, plane + 3 * bytesPerLine, size_t(width));
    } else if (planes == 1) {
        if (bits == depth) {
            std::memcpy(row, plane, size_t(packedBytes(width, bits)));
        } else {  // 2-bit pixels into 4-bit ones
            for (int32_t x = 0; x < width; ++x)
                storeIndex(row, x, uint8_t((plane[x >> 2] >> (6 - 2 * (x & 3))) & 3), 4);
        }
    } else {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t index = 0;
            for (int p = 0; p < planes; ++p)
                index |= uint8_t(((plane[p * bytesPerLine + (x >> 3)] >> (7 - (x & 7))) & 1) << p);
            storeIndex(row, x, index, 4);
        }
    }
}

// Bits beyond the width in the last byte of a row came from the file's
// padding; the image holds zeros there.
void clearRowPadding(RasterImage& image, int32_t width, int32_t height, int depth) {
    if (depth < 8 && (width * depth) % 8 != 0) {
        const uint8_t keep = uint8_t(0xFF << (8 - (width * depth) % 8));
        const size_t last = size_t(packedBytes(width, depth)) - 1;
        for (int32_t y = 0; y < height; ++y)
            image.RowPointer(y)[last] &= keep;
    }
}

}  // namespace

bool RasterImagePCX::Decode(ImageStream* stream) {
    if (stream == nullptr)
        return false;
    return runCodec("Can't allocate memory", [&] {
        uint8_t header[kHeaderSize];
        if (stream->read(header, sizeof header, 1) != 1)
            failCodec("Can't read PCX image");
        if (header[0] != kManufacturer)
            failCodec("Error: Not a PCX file");
        if (header[2] != kRunLength)
            failCodec("PCX file has unknown encoding scheme");
        const int bits = header[3];
        const int32_t width = int32_t(getLe16(header + 8)) - getLe16(header + 4) + 1;
        const int32_t height = int32_t(getLe16(header + 10)) - getLe16(header + 6) + 1;
        const int planes = header[65];
        const int64_t bytesPerLine = getLe16(header + 66);
        if (planes > kMaxPlanes)
            failCodec("Can't handle image with more than 4 planes");

        const int64_t needed = neededLineBytes(bits, planes, width);
        // Every line must hold the pixels of the width it claims.
        if (bytesPerLine < needed)
            failCodec("PCX line too short for its width");

        int depth = bits == 2 ? 4 : bits;
        if (bits == 8 && planes > 2)
            depth = 24;
        else if (bits == 1 && planes > 1)
            depth = 4;  // up to 16 colours from up to 4 planes
        m_info.dpiX = getLe16(header + 12);
        m_info.dpiY = getLe16(header + 14);

        if (m_info.escape == -1) {
            m_header.width = width;
            m_header.height = height;
            setLastError("output dimensions returned");
            return true;
        }
        // The data cannot be shorter than its lines coded in the longest
        // runs (two bytes for 63): a short file is refused before the
        // picture is allocated. 64 bits: 65535 x 4 x 65535 passes 32.
        const int64_t lineBytes = int64_t(planes) * bytesPerLine;
        const int64_t total = int64_t(std::max(height, 0)) * lineBytes;
        const int64_t left = bytesLeft(stream);
        if (left >= 0 && left < total / kMaxRun * 2)
            failCodec("corrupted PCX");
        if (Create(width, height, depth, kFormatPcx) == nullptr)
            return false;
        if (planes == 4 && depth == 24 && !MakeAlphaPlane())
            failCodec("Can't allocate memory");
        if (m_info.escape != 0)
            failCodec("Cancelled");

        RgbQuad* palette = GetPalette();
        if (palette != nullptr) {
            const uint32_t colours = std::min<uint32_t>(GetColourCount(), 16);
            for (uint32_t i = 0; i < colours; ++i)
                palette[i] = RgbQuad{header[16 + 3 * i + 2], header[16 + 3 * i + 1], header[16 + 3 * i], 0};
            if (depth == 1 && planes == 1) {
                palette[0] = RgbQuad{0, 0, 0, 0};
                palette[1] = RgbQuad{255, 255, 255, 0};
            }
            clearNearestCache();
        }

        std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
        RunDecoder runs(stream, total);
        uint8_t* alpha = alphaPlane();
        for (int32_t y = 0; y < height; ++y) {
            if (m_info.escape != 0)
                failCodec("Cancelled");
            runs.fill(line);
            const int32_t stored = height - 1 - y;
            placeLine(line.data(), bytesPerLine, width, bits, planes, depth, RowPointer(stored),
                      alpha != nullptr ? alpha + size_t(stored) * size_t(width) : nullptr);
        }
        if (bits == 8 && planes == 1) {
            if (runs.reader().next() != kPaletteSignature)
                failCodec("bad color map signature");
            uint8_t table[768] = {};
            runs.reader().read(table, sizeof table);
            SetPalette(table, 256);
        }
        clearRowPadding(*this, width, height, depth);
        return true;
    });
}

bool RasterImagePCX::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec("Can't allocate memory", [&] {
        const int32_t width = GetWidth();
        const int32_t height = GetHeight();
        if (width > kMaxSide || height > kMaxSide)
            failCodec("Can't save this image as PCX");
        const int bits = GetBpp();
        uint8_t header[kHeaderSize] = {};
        header[0] = kManufacturer;
        header[1] = kVersion;
        header[2] = kRunLength;
        putLe16(header + 8, uint32_t(width - 1));
        putLe16(header + 10, uint32_t(height - 1));
        putLe16(header + 12, uint32_t(m_info.dpiX));
        putLe16(header + 14, uint32_t(m_info.dpiY));
        int planes = 1;
        int64_t bytesPerLine = width;
        const RgbQuad* palette = GetPalette();
        if (bits >= 8) {
            header[3] = 8;
            planes = bits == 8 ? 1 : (HasAlpha() ? 4 : 3);
        } else {
            header[3] = 1;
            planes = GetColourCount() == 16 ? 4 : 1;
            bytesPerLine = packedBytes(width, 1);
            if (planes == 1) {
                std::memset(header + 19, 255, 3);  // entries 0 and 1: black, white
            } else {
                for (int i = 0; i < 16; ++i) {
                    header[16 + 3 * i] = palette[i].red;
                    header[16 + 3 * i + 1] = palette[i].green;
                    header[16 + 3 * i + 2] = palette[i].blue;
                }
            }
        }
        bytesPerLine += bytesPerLine & 1;
        if (bytesPerLine > kMaxLineBytes)
            failCodec("Can't save this image as PCX");
        header[65] = uint8_t(planes);
        putLe16(header + 66, uint32_t(bytesPerLine));
        if (stream->write(header, sizeof header, 1) != 1)
            failCodec("cannot write PCX header");

        std::vector<uint8_t> out;
        std::vector<uint8_t> line(size_t(bytesPerLine) * size_t(planes));
        for (int32_t y = height - 1; y >= 0; --y) {
            const uint8_t* row = RowPointer(y);
            if (bits == 8) {
                encodeByteLine(row, size_t(width), out);
            } else if (bits == 24) {
                for (int c = 0; c < 3; ++c) {
                    for (int32_t x = 0; x < width; ++x)
                        line[size_t(x)] = row[3 * x + 2 - c];
                    encodeByteLine(line.data(), size_t(width), out);
                }
                if (planes == 4)
                    encodeByteLine(alphaPlane() + size_t(y) * size_t(width), size_t(width), out);
            } else {
                // Written so that a set bit is the brighter of a 1-bit
                // image's two entries, as the header's black and white say.
                const bool invert =
                    bits == 1 && greyOf(palette[0].blue, palette[0].green, palette[0].red) >
                                     greyOf(palette[1].blue, palette[1].green, palette[1].red);
                std::fill(line.begin(), line.end(), 0);
                for (int32_t x = 0; x < width; ++x) {
                    uint8_t index = ReadIndexUnchecked(x, y);
                    if (invert)
                        index = uint8_t(1 - index);
                    for (int p = 0; p < planes; ++p)
                        if ((index >> p) & 1)
                            line[size_t(p * bytesPerLine + (x >> 3))] |= uint8_t(0x80 >> (x & 7));
                }
                for (int p = 0; p < planes; ++p)
                    encodeRuns(line.data() + p * bytesPerLine, size_t(bytesPerLine), out);
            }
        }
        if (bits == 8) {
            out.push_back(kPaletteSignature);
            for (int i = 0; i < 256; ++i) {
                out.push_back(palette[i].red);
                out.push_back(palette[i].green);
                out.push_back(palette[i].blue);
            }
        }
        writeOrFail(stream, out.data(), out.size());
    });
}

}  // namespace rendova
