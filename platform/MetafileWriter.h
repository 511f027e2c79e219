#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The screen that metafiles are recorded against. Linux has no reference
// device, so this is a fixed virtual one of 96 dots per inch: 1920 x 1440
// pixels on 508 x 381 millimetres (20 x 15 inches), sizes that divide evenly
// so that pixels, millimetres and hundredths of a millimetre convert without
// rounding drift. screenDeviceCaps answers the GetDeviceCaps questions about
// it by their published index numbers.
constexpr int kDeviceCapHorzSize = 4;  // width in millimetres
constexpr int kDeviceCapVertSize = 6;  // height in millimetres
constexpr int kDeviceCapHorzRes = 8;   // width in pixels
constexpr int kDeviceCapVertRes = 10;  // height in pixels
constexpr int kDeviceCapLogPixelsX = 88;
constexpr int kDeviceCapLogPixelsY = 90;

constexpr int kScreenHorzSize = 508;
constexpr int kScreenVertSize = 381;
constexpr int kScreenHorzRes = 1920;
constexpr int kScreenVertRes = 1440;
constexpr int kScreenLogPixels = 96;

// The value of one of the indices above; 0 for any other index.
int screenDeviceCaps(int index);

// A rectangle of 32-bit coordinates, as the graphics interface passes them.
struct MetaRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    friend bool operator==(const MetaRect&, const MetaRect&) = default;
};

// Stock objects that every device context starts with selected; they may be
// selected again but are never created or deleted. The values are the stock
// object indices of the enhanced format.
constexpr uint32_t kStockWhiteBrush = 0x80000000;
constexpr uint32_t kStockBlackPen = 0x80000007;

constexpr uint32_t kPenSolid = 0;
constexpr int32_t kStretchBlackOnWhite = 1;

// A metafile device context that writes its file as it goes: either an
// enhanced metafile (EMF) or a Windows metafile (WMF), in the published record
// formats, so that other programs can open and play the result. It records
// the calls that a page writer makes: creating, selecting and deleting a pen
// and a brush, a rectangle, the stretch mode, and the stretch of a
// device-independent bitmap; close() adds the end-of-file record and fills in
// the header (sizes, record count, object count, and for EMF the bounds of
// what was drawn; for WMF the bounds go into the placeable header that leads
// the file, with kScreenLogPixels units per inch).
//
// Object handles are small numbers above 0 (or the stock values above); they
// name table slots of the file, reused after deletion as the formats require.
//
// A call that cannot be written (a write error, or for WMF a coordinate that
// does not fit the format's 16 bits) marks the writer failed: later calls do
// nothing, and close() removes the partial file and returns false. The writer
// owns its open file; destroying an unclosed writer closes it. Not
// thread-safe; throws only std::bad_alloc.
class MetafileWriter {
public:
    enum class Kind { kEnhanced, kWindows };

    // Creates (or replaces) an enhanced metafile at `path`. `frame` is the
    // picture's frame in hundredths of a millimetre (inclusive); `description`
    // is the application and picture names, each ended by a NUL (the writer
    // adds the NUL that ends the list), or empty for none. Null when the file
    // cannot be created.
    static std::unique_ptr<MetafileWriter> createEnhMetaFile(const std::string& path, const MetaRect& frame,
                                                             const std::string& description);
    // Creates (or replaces) a Windows metafile at `path`; null when the file
    // cannot be created.
    static std::unique_ptr<MetafileWriter> createMetaFile(const std::string& path);

    ~MetafileWriter();
    MetafileWriter(const MetafileWriter&) = delete;
    MetafileWriter& operator=(const MetafileWriter&) = delete;

    Kind kind() const { return m_kind; }
    bool failed() const { return m_failed; }

    // A cosmetic pen of the style, width in pixels and colour 0x00BBGGRR; 0
    // when it cannot be recorded.
    uint32_t createPen(uint32_t style, int32_t width, uint32_t colour);
    uint32_t createSolidBrush(uint32_t colour);
    // Selects a pen or brush; returns the one of that kind selected before, 0
    // on failure.
    uint32_t selectObject(uint32_t handle);
    // Deletes a created object (a stock object is not deleted: true).
    bool deleteObject(uint32_t handle);
    // Fills the rectangle (right and bottom exclusive) with the brush and
    // outlines it with the pen.
    bool rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
    // Returns the previous mode, 0 on failure.
    int32_t setStretchBltMode(int32_t mode);
    // Stretches the source rectangle of a device-independent bitmap (its info
    // header and colour table, `infoSize` bytes, and its pixel rows,
    // `bitsSize` bytes) onto the destination rectangle. Returns the source
    // height (the scan lines drawn), 0 on failure.
    int32_t stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight, int32_t xSrc,
                          int32_t ySrc, int32_t srcWidth, int32_t srcHeight, const void* bits,
                          uint32_t bitsSize, const void* info, uint32_t infoSize, uint32_t usage,
                          uint32_t rasterOperation);

    // Finishes the file. True when the whole file was written; on failure
    // the partial file is removed. A second call returns the first's result.
    bool close();

private:
    MetafileWriter(Kind kind, std::string path, std::FILE* file);

    struct GdiObject {
        enum Type : uint8_t { kFree, kPen, kBrush } type = kFree;
    };

    // Appends bytes to the file; marks the writer failed on a short write.
    void put(const void* data, size_t size);
    void put16(uint16_t value);
    void put32(uint32_t value);
    // Starts a record of `size` bytes (EMF) or `size` bytes made of 16-bit
    // words (WMF) and counts it.
    void beginRecord(uint32_t function, uint64_t size);
    // The slot of a new object of the type; 0 (and failed) when none.
    uint32_t newObject(GdiObject::Type type);
    void addBounds(const MetaRect& inclusive);
    // For WMF: true when every value fits a signed 16-bit coordinate; else
    // the writer is failed.
    bool fits16(std::initializer_list<int64_t> values);
    // The header records: written once as placeholders when the file is
    // created and again by close() with the file's size and record count.
    bool writeEnhancedHeader(uint64_t fileBytes, uint32_t records);
    bool writeWindowsHeader(uint64_t fileBytes);

    Kind m_kind;
    std::string m_path;
    std::FILE* m_file;
    bool m_failed = false;
    bool m_closed = false;
    bool m_closeResult = false;
    MetaRect m_frame;
    std::u16string m_description;
    uint64_t m_bytes = 0;
    uint32_t m_records = 0;
    uint64_t m_maxRecordWords = 0;
    bool m_haveBounds = false;
    MetaRect m_bounds;
    std::vector<GdiObject> m_objects;  // slot i is handle i + 1
    size_t m_objectsHighWater = 0;
    uint32_t m_selectedPen = kStockBlackPen;
    uint32_t m_selectedBrush = kStockWhiteBrush;
    int32_t m_stretchMode = kStretchBlackOnWhite;
};

}  // namespace platform
