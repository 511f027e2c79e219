#include "image/ExifReader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "base/Numeric.h"
#include "image/ImageStream.h"

namespace rendova {

namespace {

constexpr uint32_t kMarkerSos = 0xDA;
constexpr uint32_t kMarkerEoi = 0xD9;
constexpr uint32_t kMarkerJfif = 0xE0;
constexpr uint32_t kMarkerExif = 0xE1;
constexpr uint32_t kMarkerComment = 0xFE;

// A marker may be preceded by fill bytes 0xFF; a run this long is not fill.
constexpr int kMaxMarkerPrefix = 7;
// The comment text keeps at most this many characters (and its terminator).
constexpr uint32_t kMaxCommentLength = sizeof(ExifData::comment) - 1;
// The EXIF user comment is cut to this many characters.
constexpr uint32_t kMaxUserCommentLength = 199;

// Written before sections that carry no JFIF or EXIF header: JFIF 1.1, dots
// per inch, 300 x 300, no thumbnail.
constexpr uint8_t kDefaultJfif[18] = {0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00,
                                      0x01, 0x01, 0x01, 0x01, 0x2C, 0x01, 0x2C, 0x00, 0x00};

// Directory links come from the file: a directory that links to itself (or
// a longer cycle) must not loop, and a chain of links must not recurse
// without end. A real file has four or five directories at most.
constexpr int kMaxDirectoryDepth = 8;
constexpr int kMaxDirectories = 32;

// Bytes per component of the EXIF value formats 1..12.
constexpr uint32_t kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
enum ExifFormat : uint32_t {
    kByte = 1,
    kAscii = 2,
    kShort = 3,
    kLong = 4,
    kRational = 5,
    kSignedByte = 6,
    kUndefined = 7,
    kSignedShort = 8,
    kSignedLong = 9,
    kSignedRational = 10,
    kFloat = 11,
    kDouble = 12,
};

enum ExifTag : uint32_t {
    kTagMake = 271,
    kTagModel = 272,
    kTagOrientation = 274,
    kTagXResolution = 282,
    kTagYResolution = 283,
    kTagResolutionUnit = 296,
    kTagThumbnailOffset = 513,
    kTagThumbnailLength = 514,
    kTagExposureTime = 33434,
    kTagFNumber = 33437,
    kTagExposureProgram = 34850,
    kTagIsoEquivalent = 34855,
    kTagExifVersion = 36864,
    kTagDateTimeOriginal = 36867,
    kTagCompressionLevel = 37122,
    kTagShutterSpeed = 37377,
    kTagApertureValue = 37378,
    kTagBrightness = 37379,
    kTagExposureBias = 37380,
    kTagSubjectDistance = 37382,
    kTagMeteringMode = 37383,
    kTagLightSource = 37384,
    kTagFlash = 37385,
    kTagFocalLength = 37386,
    kTagUserComment = 37510,
    kTagExifImageWidth = 40962,
    kTagExifImageHeight = 40963,
    kTagFocalPlaneXResolution = 41486,
    kTagFocalPlaneYResolution = 41487,
    kTagFocalPlaneUnit = 41488,
    kTagExifDirectory = 0x8769,
    kTagInteropDirectory = 0xA005,
};

// The inches in one resolution unit: 2 inch, 3 centimetre, 4 millimetre,
// 5 micrometre (1 for none). Values outside 1..5 leave the factor alone.
void applyUnit(float& factor, int64_t unit) {
    switch (unit) {
        case 3:
            factor = 0.3937008f;
            break;
        case 4:
            factor = 0.03937008f;
            break;
        case 5:
            factor = 0.00003937008f;
            break;
        case 1:
        case 2:
            factor = 1.0f;
            break;
        default:
            break;
    }
}

// Copies at most `limit` characters of a text value and terminates it.
void copyText(char* target, size_t limit, const uint8_t* value, uint64_t length) {
    size_t n = length < limit ? size_t(length) : limit;
    std::memcpy(target, value, n);
    target[n] = 0;
}

// Parses the TIFF structure inside an EXIF block. Every offset read from
// the block is checked in 64 bits against the block length before use.
class ExifParser {
public:
    ExifParser(ExifData& data, const uint8_t* base, uint32_t length, bool motorola)
        : m_data(data), m_base(base), m_length(length), m_motorola(motorola) {}

    const char* error = nullptr;

    bool walk(uint32_t offset, int depth);
    void finish();

private:
    uint32_t get16(const uint8_t* p) const {
        return m_motorola ? uint32_t((p[0] << 8) | p[1]) : uint32_t(p[0] | (p[1] << 8));
    }
    uint32_t get32(const uint8_t* p) const {
        return m_motorola ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                          : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
    double number(const uint8_t* value, uint32_t format) const;
    bool fail(const char* text) {
        error = text;
        return false;
    }
    bool visit(uint32_t offset);
    bool entry(const uint8_t* entry, int depth);
    // The text tags; false for any other tag.
    bool storeText(uint32_t tag, const uint8_t* value, uint64_t byteCount);
    // The numeric tags, v being 0 when the entry has no component.
    void storeNumber(uint32_t tag, double v, bool hasNumber);

    ExifData& m_data;
    const uint8_t* m_base;  // the TIFF header: offsets count from here
    uint32_t m_length;
    bool m_motorola;
    uint32_t m_visited[kMaxDirectories] = {};
    int m_visitedCount = 0;
    double m_shutterSpeed = 0;
    bool m_haveShutterSpeed = false;
    double m_apertureValue = 0;
    bool m_haveApertureValue = false;
    uint32_t m_largestDimension = 0;
};

double ExifParser::number(const uint8_t* value, uint32_t format) const {
    switch (format) {
        case kByte:
        case kUndefined:
            return value[0];
        case kSignedByte:
            return int8_t(value[0]);
        case kShort:
            return get16(value);
        case kSignedShort:
            return int16_t(get16(value));
        case kLong:
            return get32(value);
        case kSignedLong:
            return int32_t(get32(value));
        case kRational: {
            const uint32_t denominator = get32(value + 4);
            return denominator == 0 ? 0.0 : double(get32(value)) / denominator;
        }
        case kSignedRational: {
            const auto denominator = int32_t(get32(value + 4));
            return denominator == 0 ? 0.0 : double(int32_t(get32(value))) / denominator;
        }
        case kFloat: {
            const uint32_t bits = get32(value);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case kDouble: {
            const uint64_t bits = m_motorola ? (uint64_t(get32(value)) << 32) | get32(value + 4)
                                             : (uint64_t(get32(value + 4)) << 32) | get32(value);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            return d;
        }
        default:
            return 0;
    }
}

bool ExifParser::visit(uint32_t offset) {
    for (int i = 0; i < m_visitedCount; ++i) {
        if (m_visited[i] == offset)
            return false;
    }
    if (m_visitedCount == kMaxDirectories)
        return false;
    m_visited[m_visitedCount++] = offset;
    return true;
}

bool ExifParser::walk(uint32_t offset, int depth) {
    if (depth > kMaxDirectoryDepth || !visit(offset))
        return true;  // already read, or nested beyond any real file: nothing new there
    if (uint64_t(offset) + 2 > m_length)
        return fail("Illegally sized directory");
    const uint32_t count = get16(m_base + offset);
    const uint64_t tableEnd = uint64_t(offset) + 2 + 12ull * count;
    if (tableEnd > m_length)
        return fail("Illegally sized directory");
    for (uint32_t i = 0; i < count; ++i) {
        if (!entry(m_base + offset + 2 + 12 * i, depth))
            return false;
    }
    // The link to the next directory (from the first to the thumbnail's).
    if (tableEnd + 4 <= m_length) {
        const uint32_t next = get32(m_base + tableEnd);
        if (next != 0 && next < m_length)
            return walk(next, depth + 1);
    }
    return true;
}

bool ExifParser::entry(const uint8_t* entry, int depth) {
    const uint32_t tag = get16(entry);
    const uint32_t format = get16(entry + 2);
    const uint32_t components = get32(entry + 4);
    if (format < kByte || format > kDouble)
        return fail("Illegal format code in EXIF dir");
    const uint64_t byteCount = uint64_t(components) * kFormatSize[format];
    const uint8_t* value = entry + 8;  // values of up to 4 bytes sit in the entry
    if (byteCount > 4) {
        const uint32_t valueOffset = get32(entry + 8);
        if (uint64_t(valueOffset) + byteCount > m_length)
            return fail("Illegal pointer offset value in EXIF.");
        value = m_base + valueOffset;
    }
    if (tag == kTagExifDirectory || tag == kTagInteropDirectory) {
        const uint32_t subOffset = get32(value);
        if (subOffset >= m_length)
            return fail("Illegal subdirectory link");
        return walk(subOffset, depth + 1);
    }
    if (!storeText(tag, value, byteCount)) {
        // A numeric value needs one whole component: an entry of 0
        // components has none, and an 8-byte format would read past the
        // entry.
        const bool hasNumber = components != 0;
        storeNumber(tag, hasNumber ? number(value, format) : 0.0, hasNumber);
    }
    return true;
}

bool ExifParser::storeText(uint32_t tag, const uint8_t* value, uint64_t byteCount) {
    switch (tag) {
        case kTagMake:
            copyText(m_data.cameraMake, sizeof m_data.cameraMake - 1, value, byteCount);
            break;
        case kTagModel:
            copyText(m_data.cameraModel, sizeof m_data.cameraModel - 1, value, byteCount);
            break;
        case kTagExifVersion:
            copyText(m_data.version, 4, value, byteCount);
            break;
        case kTagDateTimeOriginal:
            copyText(m_data.dateTime, 19, value, byteCount);
            break;
        case kTagUserComment: {
            // An 8-byte character code comes first; the text is read only
            // when it says ASCII.
            uint64_t start = 0;
            if (byteCount >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
                start = 5;
                while (start < byteCount && (value[start] == 0 || value[start] == ' '))
                    ++start;
            }
            uint64_t end = start;
            while (end < byteCount && end - start < kMaxUserCommentLength && value[end] != 0)
                ++end;
            while (end > start && value[end - 1] == ' ')
                --end;
            copyText(m_data.comment, kMaxUserCommentLength, value + start, end - start);
            break;
        }
        default:
            return false;
    }
    return true;
}

void ExifParser::storeNumber(uint32_t tag, double v, bool hasNumber) {
    switch (tag) {
        case kTagOrientation:
            // Values outside 1..8 are undefined rotations: treated as none.
            m_data.orientation = (v >= 1 && v <= 8) ? int32_t(v) : 0;
            break;
        case kTagXResolution:
            m_data.xResolution = float(v);
            break;
        case kTagYResolution:
            m_data.yResolution = float(v);
            break;
        case kTagResolutionUnit:
            if (hasNumber)
                applyUnit(m_data.resolutionUnit, saturateToInt(v));
            break;
        case kTagThumbnailOffset:
            m_data.thumbnail = v >= 0 && v < m_length ? m_base + uint32_t(v) : nullptr;
            break;
        case kTagThumbnailLength:
            m_data.thumbnailSize = v >= 0 && v <= m_length ? uint32_t(v) : 0;
            break;
        case kTagExposureTime:
            m_data.exposureTime = float(v);
            break;
        case kTagFNumber:
            m_data.apertureNumber = float(v);
            break;
        case kTagExposureProgram:
            m_data.exposureProgram = saturateToInt(v);
            break;
        case kTagIsoEquivalent: {
            int32_t iso = saturateToInt(v);
            // Some cameras give the ISO speed divided by 200.
            if (iso < 50)
                iso *= 200;
            m_data.isoEquivalent = iso;
            break;
        }
        case kTagCompressionLevel:
            m_data.compressionLevel = saturateToInt(v);
            break;
        case kTagShutterSpeed:
            m_shutterSpeed = v;
            m_haveShutterSpeed = hasNumber;
            break;
        case kTagApertureValue:
            m_apertureValue = v;
            m_haveApertureValue = hasNumber;
            break;
        case kTagBrightness:
            m_data.brightness = float(v);
            break;
        case kTagExposureBias:
            m_data.exposureBias = float(v);
            break;
        case kTagSubjectDistance:
            m_data.distance = float(v);
            break;
        case kTagMeteringMode:
            m_data.meteringMode = saturateToInt(v);
            break;
        case kTagLightSource:
            m_data.lightSource = saturateToInt(v);
            break;
        case kTagFlash:
            m_data.flashUsed = (saturateToInt(v) & 7) != 0;
            break;
        case kTagFocalLength:
            m_data.focalLength = float(v);
            break;
        case kTagExifImageWidth:
        case kTagExifImageHeight:
            if (v > m_largestDimension && v <= std::numeric_limits<uint32_t>::max())
                m_largestDimension = uint32_t(v);
            break;
        case kTagFocalPlaneXResolution:
            m_data.focalPlaneXResolution = float(v);
            break;
        case kTagFocalPlaneYResolution:
            m_data.focalPlaneYResolution = float(v);
            break;
        case kTagFocalPlaneUnit:
            if (hasNumber)
                applyUnit(m_data.focalPlaneUnits, saturateToInt(v));
            break;
        default:
            break;
    }
}

void ExifParser::finish() {
    if (m_data.exposureTime == 0 && m_haveShutterSpeed && std::isfinite(m_shutterSpeed))
        m_data.exposureTime = float(1.0 / std::exp2(m_shutterSpeed));
    if (m_data.apertureNumber == 0 && m_haveApertureValue && std::isfinite(m_apertureValue))
        m_data.apertureNumber = float(std::exp2(m_apertureValue / 2));
    if (m_data.focalPlaneXResolution != 0)
        m_data.ccdWidth =
            float(m_largestDimension * double(m_data.focalPlaneUnits) / double(m_data.focalPlaneXResolution));
}

// Parses one EXIF section (its two length bytes first). On failure `error`
// holds the reason.
bool parseExifSection(ExifData& data, const uint8_t* section, uint32_t size, const char*& error) {
    // Length bytes, "Exif" and two zero bytes, then the TIFF header of 8 bytes.
    if (size < 2 + 6 + 8) {
        error = "Exif section too short";
        return false;
    }
    const uint8_t* tiff = section + 8;
    const uint32_t length = size - 8;
    bool motorola;
    if (tiff[0] == 'I' && tiff[1] == 'I') {
        motorola = false;
    } else if (tiff[0] == 'M' && tiff[1] == 'M') {
        motorola = true;
    } else {
        error = "Invalid Exif alignment marker.";
        return false;
    }
    ExifParser parser(data, tiff, length, motorola);
    const uint32_t magic = motorola ? uint32_t((tiff[2] << 8) | tiff[3]) : uint32_t(tiff[2] | (tiff[3] << 8));
    if (magic != 42) {
        error = "Invalid Exif start (1)";
        return false;
    }
    const uint32_t first =
        motorola ? (uint32_t(tiff[4]) << 24) | (uint32_t(tiff[5]) << 16) | (uint32_t(tiff[6]) << 8) | tiff[7]
                 : (uint32_t(tiff[7]) << 24) | (uint32_t(tiff[6]) << 16) | (uint32_t(tiff[5]) << 8) | tiff[4];
    bool ok = parser.walk(8, 0);
    if (ok && first > 8)
        ok = parser.walk(first, 0);
    if (!ok) {
        error = parser.error;
        return false;
    }
    parser.finish();
    return true;
}

bool isFrameMarker(uint32_t marker) {
    return (marker >= 0xC0 && marker <= 0xCF) && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool writeAll(ImageStream* stream, const void* data, size_t size) {
    return size == 0 || stream->write(data, 1, size) == size;
}

}  // namespace

ExifReader::ExifReader(ExifData* data) {
    if (data == nullptr) {
        m_ownedData = std::make_unique<ExifData>();
        data = m_ownedData.get();
    }
    m_data = data;
}

ExifReader::~ExifReader() {
    for (int i = 0; i < m_sectionCount; ++i)
        std::free(m_sections[i].data);
}

bool ExifReader::fail(const char* text) {
    std::snprintf(m_errorText, sizeof m_errorText, "%s", text);
    return false;
}

bool ExifReader::keepSection(uint8_t* data, uint32_t marker, uint32_t size) {
    if (m_sectionCount >= kMaxSections) {
        std::free(data);
        return fail("Too many sections in jpg file");
    }
    m_sections[m_sectionCount++] = Section{data, marker, size};
    return true;
}

bool ExifReader::holdsSection(uint32_t marker, bool exifOnly) const {
    for (int i = 0; i < m_sectionCount; ++i) {
        const Section& s = m_sections[i];
        if (s.marker == marker && (!exifOnly || (s.size >= 6 && std::memcmp(s.data + 2, "Exif", 4) == 0)))
            return true;
    }
    return false;
}

void ExifReader::storeComment(const uint8_t* text, uint32_t length) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < length && n < kMaxCommentLength; ++i) {
        const uint8_t ch = text[i];
        if (ch == '\r' && i + 1 < length && text[i + 1] == '\n')
            continue;  // CR LF becomes LF
        const bool printable = (ch >= 0x20 && ch < 0x7F) || ch == '\n' || ch == '\t';
        m_data->comment[n++] = printable ? char(ch) : '?';
    }
    m_data->comment[n] = 0;
}

bool ExifReader::readImageData(ImageStream* stream) {
    const int32_t position = stream->tell();
    const int32_t size = stream->size();
    const int64_t remaining = (position >= 0 && size > position) ? int64_t(size) - position : 0;
    auto* data = static_cast<uint8_t*>(std::malloc(size_t(remaining) + 1));
    if (data == nullptr)
        return fail("could not allocate data for entire image");
    if (remaining != 0 && stream->read(data, 1, size_t(remaining)) != size_t(remaining)) {
        std::free(data);
        return fail("could not read the rest of the image");
    }
    return keepSection(data, kImageDataMarker, uint32_t(remaining));
}

bool ExifReader::DecodeExif(ImageStream* stream, int mode) {
    if (stream == nullptr)
        return false;
    if (stream->getc() != 0xFF || stream->getc() != 0xD8)
        return false;
    for (;;) {
        if (m_sectionCount >= kMaxSections)
            return fail("Too many sections in jpg file");
        int marker = 0;
        for (int i = 0; i < kMaxMarkerPrefix; ++i) {
            marker = stream->getc();
            if (marker != 0xFF)
                break;
            if (i == kMaxMarkerPrefix - 1)
                return fail("too many padding bytes");
        }
        const int high = stream->getc();
        const int low = stream->getc();
        if (marker < 0 || high < 0 || low < 0)
            return fail("Premature end of file?");
        const auto length = uint32_t((high << 8) | low);
        if (length < 2)
            return fail("invalid marker");
        auto* data = static_cast<uint8_t*>(std::malloc(length));
        if (data == nullptr)
            return fail("Could not allocate memory");
        data[0] = uint8_t(high);
        data[1] = uint8_t(low);
        if (stream->read(data + 2, 1, length - 2) != length - 2) {
            std::free(data);
            return fail("Premature end of file?");
        }

        const auto code = uint32_t(marker);
        if (code == kMarkerSos) {
            if (!keepSection(data, code, length))
                return false;
            // The image data runs to the end of the file (its markers are
            // not sections); it is kept whole when asked for.
            return (mode & kReadImageData) == 0 || readImageData(stream);
        }
        if (code == kMarkerEoi) {
            std::free(data);
            return fail("No image in jpeg!");
        }
        if (code == kMarkerJfif) {
            std::free(data);  // a new JFIF header is written when needed
            continue;
        }
        if (code == kMarkerExif) {
            if (length < 6 || std::memcmp(data + 2, "Exif", 4) != 0) {
                std::free(data);
                continue;
            }
            if ((mode & kParseExif) != 0) {
                const char* error = nullptr;
                m_data->isExif = parseExifSection(*m_data, data, length, error) ? 1 : 0;
                if (error != nullptr)
                    fail(error);
            }
        } else if (code == kMarkerComment) {
            if (holdsSection(kMarkerComment, false)) {
                std::free(data);
                continue;
            }
            if ((mode & kParseExif) != 0)
                storeComment(data + 2, length - 2);
        } else if (isFrameMarker(code) && length >= 8) {
            m_data->height = (data[3] << 8) | data[4];
            m_data->width = (data[5] << 8) | data[6];
            m_data->isColour = data[7] == 3;
            m_data->frameMarker = int32_t(code);
        }
        if (!keepSection(data, code, length))
            return false;
    }
}

bool ExifReader::EncodeExif(ImageStream* stream) {
    // Without the image data there is nothing whole to write.
    if (stream == nullptr || m_sectionCount == 0 ||
        m_sections[m_sectionCount - 1].marker != kImageDataMarker || !holdsSection(kMarkerSos, false))
        return fail("Can't write exif : didn't read all");
    static const uint8_t kStart[2] = {0xFF, 0xD8};
    if (!writeAll(stream, kStart, 2))
        return fail("Error writing the image");
    const uint32_t first = m_sections[0].marker;
    if (first != kMarkerJfif && first != kMarkerExif && !writeAll(stream, kDefaultJfif, sizeof kDefaultJfif))
        return fail("Error writing the image");
    for (int i = 0; i + 1 < m_sectionCount; ++i) {
        const uint8_t prefix[2] = {0xFF, uint8_t(m_sections[i].marker)};
        if (!writeAll(stream, prefix, 2) || !writeAll(stream, m_sections[i].data, m_sections[i].size))
            return fail("Error writing the image");
    }
    const Section& last = m_sections[m_sectionCount - 1];
    if (!writeAll(stream, last.data, last.size))
        return fail("Error writing the image");
    return true;
}

void ExifReader::DiscardAllButExif() {
    bool keptExif = false;
    bool keptComment = false;
    int kept = 0;
    for (int i = 0; i < m_sectionCount; ++i) {
        Section& s = m_sections[i];
        bool keep = false;
        if (s.marker == kMarkerExif && !keptExif && s.size >= 6 && std::memcmp(s.data + 2, "Exif", 4) == 0)
            keep = keptExif = true;
        else if (s.marker == kMarkerComment && !keptComment)
            keep = keptComment = true;
        if (keep)
            m_sections[kept++] = s;
        else
            std::free(s.data);
    }
    for (int i = kept; i < m_sectionCount; ++i)
        m_sections[i] = Section{};
    m_sectionCount = kept;
}

}  // namespace rendova
