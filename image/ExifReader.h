#pragma once

#include <cstdint>
#include <memory>

namespace rendova {

class ImageStream;

// What the EXIF block and the frame header of a JPEG file tell about the
// picture and the camera. Strings are zero-terminated; numbers the file did
// not give are 0.
struct ExifData {
    char version[5] = {};
    char cameraMake[32] = {};
    char cameraModel[40] = {};
    char dateTime[20] = {};
    int32_t height = 0;  // from the frame header
    int32_t width = 0;
    int32_t orientation = 0;  // 1..8, 0 when undefined
    int32_t isColour = 0;     // the frame has three components
    int32_t frameMarker = 0;
    int32_t flashUsed = 0;
    float focalLength = 0;
    float exposureTime = 0;
    float apertureNumber = 0;
    float distance = 0;
    float ccdWidth = 0;
    float exposureBias = 0;
    int32_t lightSource = 0;
    int32_t meteringMode = 0;
    int32_t exposureProgram = 0;
    int32_t isoEquivalent = 0;
    int32_t compressionLevel = 0;
    float focalPlaneXResolution = 0;
    float focalPlaneYResolution = 0;
    float focalPlaneUnits = 0;  // inches per unit of the focal-plane resolution
    float xResolution = 0;
    float yResolution = 0;
    float resolutionUnit = 0;  // inches per unit of the resolution; 0 when not given
    float brightness = 0;
    char comment[1000] = {};
    const uint8_t* thumbnail = nullptr;  // inside the reader's EXIF section
    uint32_t thumbnailSize = 0;
    uint8_t isExif = 0;
};

// Scans the marker sections of a JPEG file up to its image data, parses the
// EXIF block and the comment into an ExifData, and writes the sections back
// (so that an EXIF block can be carried into a newly encoded file). The
// reader owns the section copies, and the ExifData when it was not given
// one; a given ExifData must outlive it. Not thread-safe; does not throw
// (allocation failures are reported as failures).
class ExifReader {
public:
    // A JPEG file holds few marker sections before its image data; more than
    // this many is taken as a damaged or hostile file.
    static constexpr int kMaxSections = 20;
    // Modes of DecodeExif.
    static constexpr int kParseExif = 1;      // parse the EXIF block and the comment
    static constexpr int kReadImageData = 2;  // keep the image data as a final section
    // The marker number given to the section that holds the image data.
    static constexpr uint32_t kImageDataMarker = 291;

    struct Section {
        uint8_t* data = nullptr;  // the two length bytes, then the contents
        uint32_t marker = 0;
        uint32_t size = 0;
    };

    explicit ExifReader(ExifData* data = nullptr);
    ~ExifReader();
    ExifReader(const ExifReader&) = delete;
    ExifReader& operator=(const ExifReader&) = delete;

    bool DecodeExif(ImageStream* stream, int mode);
    // Writes the start of image, a JFIF header when the first section is
    // neither JFIF nor EXIF, and every section held.
    bool EncodeExif(ImageStream* stream);
    // Keeps only the first EXIF section and the first comment section.
    void DiscardAllButExif();

    const char* errorText() const { return m_errorText; }
    const ExifData& data() const { return *m_data; }
    int sectionCount() const { return m_sectionCount; }
    const Section& section(int index) const { return m_sections[index]; }

private:
    bool fail(const char* text);
    bool keepSection(uint8_t* data, uint32_t marker, uint32_t size);
    bool holdsSection(uint32_t marker, bool exifOnly) const;
    bool readImageData(ImageStream* stream);
    void storeComment(const uint8_t* text, uint32_t length);

    std::unique_ptr<ExifData> m_ownedData;  // set when no ExifData was given
    ExifData* m_data;
    char m_errorText[256] = {};
    Section m_sections[kMaxSections];
    int m_sectionCount = 0;
};

}  // namespace rendova
