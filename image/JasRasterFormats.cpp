// The three uncompressed formats of the JPEG 2000 family codec: PGX (the
// JPEG 2000 conformance format: one component, a text header, big- or
// little-endian samples), PNM (the portable bit, grey and pix maps, text
// and raw) and Sun raster files. Each header number is checked before it
// sizes anything, and the data a header promises must be in the stream
// before the samples are allocated.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/CodecIo.h"
#include "image/ImageStream.h"
#include "image/JasPicture.h"

namespace rendova {

namespace {

constexpr uint32_t kRasMagic = 0x59A66A95;
constexpr uint32_t kRasHeaderSize = 32;
// Sun raster types: the old and standard ones store blue, green, red; the
// "RGB" one red, green, blue; the byte-encoded (run-length) one is not read.
constexpr uint32_t kRasOld = 0;
constexpr uint32_t kRasStandard = 1;
constexpr uint32_t kRasRgb = 3;
constexpr uint32_t kRasMapNone = 0;
constexpr uint32_t kRasMapRgb = 1;
// A colour map holds at most 256 red, green and blue entries.
constexpr uint32_t kRasMaxMapLength = 3 * 256;
// The largest sample value of the portable maps.
constexpr int64_t kPnmMaxValue = 65535;
// PGX samples of more than 16 bits are not written by any tool we meet.
constexpr int32_t kPgxMaxPrecision = 16;
// A header number longer than this many digits is no size.
constexpr int kMaxDigits = 10;

uint32_t getBe32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void putBe32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Bytes left after the current position; -1 when the stream cannot tell.
int64_t bytesLeft(ImageStream* stream) {
    const int64_t size = stream->size();
    const int64_t at = stream->tell();
    if (size < 0 || at < 0)
        return -1;
    return std::max<int64_t>(0, size - at);
}

// True when the picture's sides are ones the image object can hold and its
// samples stay within the limit.
bool sizeFits(int64_t width, int64_t height, int64_t components) {
    if (width < 1 || height < 1 || width > kMaxJasSide || height > kMaxJasSide)
        return false;
    return uint64_t(width) * uint64_t(height) * uint64_t(components) <= kMaxJasSamples;
}

// True when the stream holds at least `needed` more bytes (or cannot say:
// then a short read ends the decode later).
bool dataPresent(ImageStream* stream, uint64_t needed) {
    const int64_t left = bytesLeft(stream);
    return left < 0 || uint64_t(left) >= needed;
}

void addComponents(JasPicture& picture, int count, int32_t width, int32_t height, int32_t precision,
                   bool isSigned) {
    picture.components.resize(size_t(count));
    for (JasComponent& c : picture.components) {
        c.width = width;
        c.height = height;
        c.precision = precision;
        c.isSigned = isSigned;
        c.samples.assign(size_t(width) * size_t(height), 0);
    }
}

// --- Text headers ------------------------------------------------------------------------

// Reads the next unsigned decimal number of a text header, skipping white
// space and (when `comments`) '#' comments up to the end of their line.
bool readNumber(ImageStream* stream, int64_t& value, bool comments) {
    int c = stream->getc();
    for (;;) {
        if (isSpace(c)) {
            c = stream->getc();
        } else if (comments && c == '#') {
            while (c != '\n' && c != '\r' && c != -1)
                c = stream->getc();
        } else {
            break;
        }
    }
    if (c < '0' || c > '9')
        return false;
    value = 0;
    int digits = 0;
    while (c >= '0' && c <= '9') {
        if (++digits > kMaxDigits)
            return false;
        value = value * 10 + (c - '0');
        c = stream->getc();
    }
    // The white-space byte after the number belongs to it: in a raw file
    // it is the one byte before the data. A comment is left to the next read.
    if (c == '#' && comments)
        return stream->seek(-1, ImageStream::kSeekCur);
    return c == -1 || isSpace(c);
}

// --- PNM -----------------------------------------------------------------------------------

// The bits a sample of `maxValue` needs: ceil(log2(maxValue + 1)).
int32_t bitsFor(int64_t maxValue) {
    int32_t bits = 1;
    while ((int64_t(1) << bits) - 1 < maxValue)
        ++bits;
    return bits;
}

// A sample of range 0..maxValue on the full range of `bits` bits, so that
// a maximum that is not a power of two less one still reaches white.
int32_t rescale(int64_t value, int64_t maxValue, int32_t bits) {
    const int64_t top = (int64_t(1) << bits) - 1;
    value = std::min(value, maxValue);
    if (maxValue == top)
        return int32_t(value);
    return int32_t((value * top + maxValue / 2) / maxValue);
}

bool readPnmText(ImageStream* stream, JasPicture& picture, bool bitmap, int64_t maxValue, int32_t bits) {
    const size_t count = picture.components[0].samples.size();
    const size_t planes = picture.components.size();
    for (size_t i = 0; i < count; ++i) {
        for (size_t p = 0; p < planes; ++p) {
            int64_t value = 0;
            if (bitmap) {
                // Bitmap digits need no separator.
                int c = stream->getc();
                while (isSpace(c))
                    c = stream->getc();
                if (c != '0' && c != '1')
                    return false;
                value = c == '0' ? 1 : 0;  // 1 is black
            } else {
                if (!readNumber(stream, value, true))
                    return false;
                value = rescale(value, maxValue, bits);
            }
            picture.components[p].samples[i] = int32_t(value);
        }
    }
    return true;
}

bool readPnmRaw(ImageStream* stream, JasPicture& picture, bool bitmap, int64_t maxValue, int32_t bits) {
    const JasComponent& first = picture.components[0];
    const size_t planes = picture.components.size();
    const size_t width = size_t(first.width);
    const size_t sampleBytes = maxValue > 255 ? 2 : 1;
    const size_t rowBytes = bitmap ? (width + 7) / 8 : width * planes * sampleBytes;
    std::vector<uint8_t> row(rowBytes);
    for (int32_t y = 0; y < first.height; ++y) {
        if (stream->read(row.data(), 1, rowBytes) != rowBytes)
            return false;
        const size_t base = size_t(y) * width;
        for (size_t x = 0; x < width; ++x) {
            if (bitmap) {
                picture.components[0].samples[base + x] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 1;
                continue;
            }
            for (size_t p = 0; p < planes; ++p) {
                const uint8_t* s = row.data() + (x * planes + p) * sampleBytes;
                const int64_t value = sampleBytes == 2 ? (s[0] << 8) | s[1] : s[0];
                picture.components[p].samples[base + x] = rescale(value, maxValue, bits);
            }
        }
    }
    return true;
}

bool writeAll(ImageStream* stream, const void* data, size_t size) {
    return size == 0 || stream->write(data, size, 1) == 1;
}

bool writeText(ImageStream* stream, const char* format, int32_t a, int32_t b) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, a, b);
    return length > 0 && writeAll(stream, text, size_t(length));
}

// Writes the rows of the components interleaved, one byte per sample.
bool writeInterleaved(ImageStream* stream, const JasPicture& picture, bool blueFirst, size_t rowPad) {
    const JasComponent& first = picture.components[0];
    const size_t planes = picture.components.size();
    std::vector<uint8_t> row(size_t(first.width) * planes + rowPad, 0);
    for (int32_t y = 0; y < first.height; ++y) {
        const size_t base = size_t(y) * size_t(first.width);
        for (size_t x = 0; x < size_t(first.width); ++x)
            for (size_t p = 0; p < planes; ++p) {
                const size_t from = blueFirst ? planes - 1 - p : p;
                row[x * planes + p] = uint8_t(picture.components[from].samples[base + x]);
            }
        if (!writeAll(stream, row.data(), row.size()))
            return false;
    }
    return true;
}

}  // namespace

JasFormat detectJasFormat(const uint8_t* head, size_t length) {
    static const uint8_t kJp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    if (length >= 12 && std::memcmp(head, kJp2Signature, 12) == 0)
        return JasFormat::kJp2;
    if (length >= 4 && head[0] == 0xFF && head[1] == 0x4F && head[2] == 0xFF && head[3] == 0x51)
        return JasFormat::kJpc;
    if (length >= 3 && head[0] == 'P' && head[1] == 'G' && isSpace(head[2]))
        return JasFormat::kPgx;
    if (length >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6')
        return JasFormat::kPnm;
    if (length >= 4 && getBe32(head) == kRasMagic)
        return JasFormat::kRas;
    return JasFormat::kNone;
}

bool readPnm(ImageStream* stream, JasPicture& picture) {
    uint8_t magic[2] = {};
    if (stream->read(magic, 1, 2) != 2 || magic[0] != 'P' || magic[1] < '1' || magic[1] > '6')
        return false;
    const int kind = magic[1] - '0';
    const bool bitmap = kind == 1 || kind == 4;
    const bool colour = kind == 3 || kind == 6;
    const bool text = kind <= 3;
    int64_t width = 0;
    int64_t height = 0;
    int64_t maxValue = 1;
    if (!readNumber(stream, width, true) || !readNumber(stream, height, true))
        return false;
    if (!bitmap && (!readNumber(stream, maxValue, true) || maxValue < 1 || maxValue > kPnmMaxValue))
        return false;
    const int planes = colour ? 3 : 1;
    if (!sizeFits(width, height, planes))
        return false;
    // The least data the header asks for: a bitmap digit may stand alone,
    // other text samples need a separator, raw ones their bytes.
    const uint64_t samples = uint64_t(width) * uint64_t(height) * planes;
    uint64_t needed;
    if (text)
        needed = bitmap ? samples : 2 * samples - 1;
    else if (bitmap)
        needed = (uint64_t(width) + 7) / 8 * uint64_t(height);
    else
        needed = samples * (maxValue > 255 ? 2 : 1);
    if (!dataPresent(stream, needed))
        return false;
    const int32_t bits = bitsFor(maxValue);
    picture.space = colour ? JasPicture::Space::kRgb : JasPicture::Space::kGrey;
    addComponents(picture, planes, int32_t(width), int32_t(height), bits, false);
    return text ? readPnmText(stream, picture, bitmap, maxValue, bits)
                : readPnmRaw(stream, picture, bitmap, maxValue, bits);
}

bool writePnm(ImageStream* stream, const JasPicture& picture) {
    const JasComponent& first = picture.components[0];
    const bool colour = picture.components.size() == 3;
    return writeText(stream, colour ? "P6\n%d %d\n255\n" : "P5\n%d %d\n255\n", first.width, first.height) &&
           writeInterleaved(stream, picture, false, 0);
}

// --- PGX -------------------------------------------------------------------------------------

bool readPgx(ImageStream* stream, JasPicture& picture) {
    uint8_t head[2] = {};
    if (stream->read(head, 1, 2) != 2 || head[0] != 'P' || head[1] != 'G')
        return false;
    int c = stream->getc();
    while (c == ' ' || c == '\t')
        c = stream->getc();
    const int second = stream->getc();
    bool bigEndian;
    if (c == 'M' && second == 'L')
        bigEndian = true;
    else if (c == 'L' && second == 'M')
        bigEndian = false;
    else
        return false;
    c = stream->getc();
    while (c == ' ' || c == '\t')
        c = stream->getc();
    bool isSigned = false;
    if (c == '+' || c == '-') {
        isSigned = c == '-';
    } else if (c >= '0' && c <= '9') {
        // No sign: the character starts the precision.
        stream->seek(-1, ImageStream::kSeekCur);
    } else {
        return false;
    }
    int64_t precision = 0;
    int64_t width = 0;
    int64_t height = 0;
    if (!readNumber(stream, precision, false) || !readNumber(stream, width, false) ||
        !readNumber(stream, height, false))
        return false;
    if (precision < 1 || precision > kPgxMaxPrecision || !sizeFits(width, height, 1))
        return false;
    const size_t sampleBytes = precision > 8 ? 2 : 1;
    const uint64_t needed = uint64_t(width) * uint64_t(height) * sampleBytes;
    if (!dataPresent(stream, needed))
        return false;
    picture.space = JasPicture::Space::kGrey;
    addComponents(picture, 1, int32_t(width), int32_t(height), int32_t(precision), isSigned);
    JasComponent& component = picture.components[0];
    const uint32_t mask = (1u << precision) - 1;
    const uint32_t signBit = 1u << (precision - 1);
    std::vector<uint8_t> row(size_t(width) * sampleBytes);
    for (int64_t y = 0; y < height; ++y) {
        if (stream->read(row.data(), 1, row.size()) != row.size())
            return false;
        for (int64_t x = 0; x < width; ++x) {
            const uint8_t* s = row.data() + size_t(x) * sampleBytes;
            uint32_t v = sampleBytes == 1 ? s[0]
                         : bigEndian      ? uint32_t(s[0] << 8 | s[1])
                                          : uint32_t(s[1] << 8 | s[0]);
            v &= mask;
            int32_t value = int32_t(v);
            if (isSigned && (v & signBit) != 0)
                value -= int32_t(mask) + 1;
            component.samples[size_t(y * width + x)] = value;
        }
    }
    return true;
}

bool writePgx(ImageStream* stream, const JasPicture& picture) {
    const JasComponent& first = picture.components[0];
    return writeText(stream, "PG ML + 8 %d %d\n", first.width, first.height) &&
           writeInterleaved(stream, picture, false, 0);
}

// --- Sun raster --------------------------------------------------------------------------------

bool readRas(ImageStream* stream, JasPicture& picture) {
    uint8_t header[kRasHeaderSize];
    if (stream->read(header, 1, sizeof header) != sizeof header || getBe32(header) != kRasMagic)
        return false;
    const int64_t width = getBe32(header + 4);
    const int64_t height = getBe32(header + 8);
    const uint32_t depth = getBe32(header + 12);
    const uint32_t type = getBe32(header + 20);
    const uint32_t mapType = getBe32(header + 24);
    const uint32_t mapLength = getBe32(header + 28);
    if (type != kRasOld && type != kRasStandard && type != kRasRgb)
        return false;
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32)
        return false;
    // A map of red, green and blue thirds; any other kind is skipped.
    uint8_t map[kRasMaxMapLength] = {};
    uint32_t mapEntries = 0;
    if (mapType == kRasMapRgb && mapLength != 0) {
        if (mapLength > kRasMaxMapLength || mapLength % 3 != 0)
            return false;
        if (stream->read(map, 1, mapLength) != mapLength)
            return false;
        mapEntries = mapLength / 3;
    } else if (mapLength != 0) {
        if (mapType == kRasMapNone || !dataPresent(stream, mapLength) || !skipBytes(stream, mapLength))
            return false;
    }
    const bool mapped = mapEntries != 0 && depth <= 8;
    const int planes = depth >= 24 || mapped ? 3 : 1;
    if (!sizeFits(width, height, planes))
        return false;
    // Rows are padded to 16 bits.
    const uint64_t stride = (uint64_t(width) * depth + 15) / 16 * 2;
    if (!dataPresent(stream, stride * uint64_t(height)))
        return false;
    picture.space = planes == 3 ? JasPicture::Space::kRgb : JasPicture::Space::kGrey;
    addComponents(picture, planes, int32_t(width), int32_t(height), depth == 1 && !mapped ? 1 : 8, false);
    std::vector<uint8_t> row(static_cast<size_t>(stride));
    const size_t pixelBytes = depth / 8;
    // Colour bytes are blue, green, red except in the "RGB" type; a 32-bit
    // pixel has a pad byte first.
    const size_t redAt = type == kRasRgb ? 0 : 2;
    const size_t skip = depth == 32 ? 1 : 0;
    for (int64_t y = 0; y < height; ++y) {
        if (stream->read(row.data(), 1, row.size()) != row.size())
            return false;
        for (int64_t x = 0; x < width; ++x) {
            const size_t at = size_t(y * width + x);
            if (depth >= 24) {
                const uint8_t* p = row.data() + size_t(x) * pixelBytes + skip;
                picture.components[0].samples[at] = p[redAt];
                picture.components[1].samples[at] = p[1];
                picture.components[2].samples[at] = p[2 - redAt];
                continue;
            }
            const uint32_t index = depth == 8 ? row[size_t(x)] : (row[size_t(x) >> 3] >> (7 - (x & 7))) & 1;
            if (mapped) {
                for (int p = 0; p < 3; ++p)
                    picture.components[size_t(p)].samples[at] =
                        index < mapEntries ? map[p * mapEntries + index] : 0;
            } else {
                // Without a map a set bit is black.
                picture.components[0].samples[at] = depth == 1 ? int32_t(index ^ 1) : int32_t(index);
            }
        }
    }
    return true;
}

bool writeRas(ImageStream* stream, const JasPicture& picture) {
    const JasComponent& first = picture.components[0];
    const uint32_t planes = uint32_t(picture.components.size());
    const uint32_t depth = planes * 8;
    const uint64_t rowBytes = uint64_t(first.width) * planes;
    const uint64_t pad = rowBytes % 2;
    uint8_t header[kRasHeaderSize] = {};
    putBe32(header, kRasMagic);
    putBe32(header + 4, uint32_t(first.width));
    putBe32(header + 8, uint32_t(first.height));
    putBe32(header + 12, depth);
    putBe32(header + 16, uint32_t((rowBytes + pad) * uint64_t(first.height)));
    putBe32(header + 20, kRasStandard);
    putBe32(header + 24, kRasMapNone);
    return writeAll(stream, header, sizeof header) && writeInterleaved(stream, picture, true, size_t(pad));
}

}  // namespace rendova
