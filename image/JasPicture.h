#pragma once

#include <cstdint>
#include <vector>

namespace rendova {

class ImageStream;

// One component (channel) of a picture of the JPEG 2000 family codec: its
// samples row by row, top row first, as the file stores them (signed ones
// keep their sign; `precision` bits of magnitude range).
struct JasComponent {
    int32_t width = 0;
    int32_t height = 0;
    int32_t precision = 8;
    bool isSigned = false;
    std::vector<int32_t> samples;
};

// A decoded or to-be-encoded picture: the components and what their
// colours mean. The readers and writers of the family (JPEG 2000 through
// OpenJPEG; PGX, PNM and Sun raster of our own) meet the codec here.
struct JasPicture {
    enum class Space { kUnknown, kGrey, kRgb, kYcc };
    Space space = Space::kUnknown;
    std::vector<JasComponent> components;
};

// The file formats of the family, detected from their first bytes.
enum class JasFormat { kNone, kJp2, kJpc, kPgx, kPnm, kRas };

// Limits every reader checks a header against before it allocates.
// More components than this are "too much components" for the codec.
constexpr uint32_t kMaxJasComponents = 64;
// Samples a real file of the family needs stay far below this (a 16-megapixel
// colour picture is 48M); any more would let a few header bytes claim
// gigabytes of 32-bit samples.
constexpr uint64_t kMaxJasSamples = uint64_t(1) << 27;
// A picture side the image object can hold with 24-bit rows in a 32-bit block.
constexpr int64_t kMaxJasSide = 1 << 20;

JasFormat detectJasFormat(const uint8_t* head, size_t length);

// Our own readers and writers; each reads from or writes to the stream's
// current position. The readers return false on any defect of the header or
// the data (short data included) and allocate only what the data can fill.
bool readPgx(ImageStream* stream, JasPicture& picture);
bool readPnm(ImageStream* stream, JasPicture& picture);
bool readRas(ImageStream* stream, JasPicture& picture);
// The writers take one grey or three red, green, blue components of
// precision 8 and false only when the stream refuses bytes.
bool writePgx(ImageStream* stream, const JasPicture& picture);
bool writePnm(ImageStream* stream, const JasPicture& picture);
bool writeRas(ImageStream* stream, const JasPicture& picture);

// JPEG 2000 through OpenJPEG (image/OpenJpegAdapter.cpp). `codestream`
// chooses a bare code stream (JPC) over a JP2 file. OpenJPEG's messages
// never reach the standard streams.
enum class JasRead { kOk, kFailed, kTooManyComponents };
JasRead readJasJpeg2000(ImageStream* stream, bool codestream, JasPicture& picture);
// `rate` is the share of the uncompressed size to spend (1 or more: lossless).
bool writeJasJpeg2000(ImageStream* stream, bool codestream, const JasPicture& picture, double rate);

}  // namespace rendova
