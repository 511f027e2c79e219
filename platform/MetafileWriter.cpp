// Record layouts follow the published EMF and WMF formats: every EMF record
// starts with its 32-bit type and byte size and stays 4-byte aligned; every
// WMF record starts with its size in 16-bit words and its 16-bit function
// number, and its parameters are stored in the reverse order of the call's
// arguments. All values are little-endian.
#include "platform/MetafileWriter.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace platform {

namespace {

// Enhanced metafile record types.
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmrSetStretchBltMode = 21;
constexpr uint32_t kEmrSelectObject = 37;
constexpr uint32_t kEmrCreatePen = 38;
constexpr uint32_t kEmrCreateBrushIndirect = 39;
constexpr uint32_t kEmrDeleteObject = 40;
constexpr uint32_t kEmrRectangle = 43;
constexpr uint32_t kEmrStretchDibits = 81;

// The fixed part of the EMF header record: type, size, bounds, frame,
// signature, version, bytes, records, handles, reserved, description length
// and offset, palette entries, device size in pixels and millimetres, and the
// two extensions (pixel format and OpenGL flag; size in micrometres).
constexpr uint32_t kEmfHeaderSize = 108;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr uint32_t kEmfVersion = 0x00010000;
// Type, size, bounds, ten destination/source/offset words, usage,
// operation, destination size.
constexpr uint32_t kEmrStretchDibitsFixed = 80;
constexpr uint32_t kEmrEofSize = 20;

// Windows metafile record functions.
constexpr uint16_t kMetaEof = 0x0000;
constexpr uint16_t kMetaSetStretchBltMode = 0x0107;
constexpr uint16_t kMetaSelectObject = 0x012D;
constexpr uint16_t kMetaDeleteObject = 0x01F0;
constexpr uint16_t kMetaCreatePenIndirect = 0x02FA;
constexpr uint16_t kMetaCreateBrushIndirect = 0x02FC;
constexpr uint16_t kMetaRectangle = 0x041B;
constexpr uint16_t kMetaStretchDib = 0x0F43;

// The placeable header that leads a WMF file with the picture's bounds and
// units per inch (key, handle, bounds, inch, reserved, checksum), then the
// metafile header proper (type, header words, version, size, objects, largest
// record, unused).
constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr uint32_t kPlaceableSize = 22;
constexpr uint32_t kWmfHeaderSize = 18;
constexpr uint16_t kWmfMemoryType = 1;
constexpr uint16_t kWmfVersion = 0x0300;
// Size, function, operation, usage and eight 16-bit coordinates.
constexpr uint32_t kMetaStretchDibFixed = 28;

constexpr uint32_t kBrushSolid = 0;

bool isStock(uint32_t handle) {
    return handle == kStockBlackPen || handle == kStockWhiteBrush;
}

}  // namespace

int screenDeviceCaps(int index) {
    switch (index) {
        case kDeviceCapHorzSize:
            return kScreenHorzSize;
        case kDeviceCapVertSize:
            return kScreenVertSize;
        case kDeviceCapHorzRes:
            return kScreenHorzRes;
        case kDeviceCapVertRes:
            return kScreenVertRes;
        case kDeviceCapLogPixelsX:
        case kDeviceCapLogPixelsY:
            return kScreenLogPixels;
        default:
            return 0;
    }
}

MetafileWriter::MetafileWriter(Kind kind, std::string path, std::FILE* file)
    : m_kind(kind), m_path(std::move(path)), m_file(file) {}

MetafileWriter::~MetafileWriter() {
    close();
}

std::unique_ptr<MetafileWriter> MetafileWriter::createEnhMetaFile(const std::string& path,
                                                                  const MetaRect& frame,
                                                                  const std::string& description) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return nullptr;
    std::unique_ptr<MetafileWriter> writer(new MetafileWriter(Kind::kEnhanced, path, file));
    writer->m_frame = frame;
    // The description is stored as 16-bit characters with a terminating NUL;
    // it is ours and plain ASCII, so each byte widens as it stands.
    if (!description.empty()) {
        for (char c : description)
            writer->m_description.push_back(char16_t(static_cast<unsigned char>(c)));
        writer->m_description.push_back(u'\0');
    }
    // The header is written now to reserve its place and again by close(),
    // when its counts and bounds are known.
    writer->writeEnhancedHeader(0, 0);
    return writer;
}

std::unique_ptr<MetafileWriter> MetafileWriter::createMetaFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return nullptr;
    std::unique_ptr<MetafileWriter> writer(new MetafileWriter(Kind::kWindows, path, file));
    writer->writeWindowsHeader(0);
    return writer;
}

void MetafileWriter::put(const void* data, size_t size) {
    if (m_failed)
        return;
    if (size != 0 && std::fwrite(data, 1, size, m_file) != size) {
        m_failed = true;
        return;
    }
    m_bytes += size;
}

void MetafileWriter::put16(uint16_t value) {
    const uint8_t bytes[2] = {uint8_t(value), uint8_t(value >> 8)};
    put(bytes, 2);
}

void MetafileWriter::put32(uint32_t value) {
    const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                              uint8_t(value >> 24)};
    put(bytes, 4);
}

void MetafileWriter::beginRecord(uint32_t function, uint64_t size) {
    if (m_kind == Kind::kEnhanced) {
        // EMF sizes are 32-bit byte counts, and so is the file size in the
        // header: a record that would overflow either cannot be stored.
        if (size > std::numeric_limits<uint32_t>::max() ||
            m_bytes + size > std::numeric_limits<uint32_t>::max()) {
            m_failed = true;
            return;
        }
        put32(function);
        put32(uint32_t(size));
    } else {
        const uint64_t words = size / 2;
        if (words > std::numeric_limits<uint32_t>::max() ||
            (m_bytes - kPlaceableSize + size) / 2 > std::numeric_limits<uint32_t>::max()) {
            m_failed = true;
            return;
        }
        put32(uint32_t(words));
        put16(uint16_t(function));
        m_maxRecordWords = std::max(m_maxRecordWords, words);
    }
    if (!m_failed)
        ++m_records;
}

bool MetafileWriter::fits16(std::initializer_list<int64_t> values) {
    for (int64_t value : values) {
        if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
            m_failed = true;
            return false;
        }
    }
    return true;
}

void MetafileWriter::addBounds(const MetaRect& inclusive) {
    if (!m_haveBounds) {
        m_bounds = inclusive;
        m_haveBounds = true;
        return;
    }
    m_bounds.left = std::min(m_bounds.left, inclusive.left);
    m_bounds.top = std::min(m_bounds.top, inclusive.top);
    m_bounds.right = std::max(m_bounds.right, inclusive.right);
    m_bounds.bottom = std::max(m_bounds.bottom, inclusive.bottom);
}

uint32_t MetafileWriter::newObject(GdiObject::Type type) {
    // Both formats give a new object the lowest free slot of the table.
    size_t slot = 0;
    while (slot < m_objects.size() && m_objects[slot].type != GdiObject::kFree)
        ++slot;
    // WMF object indices are 16-bit; far more than any page needs.
    if (slot >= 0xFFFF) {
        m_failed = true;
        return 0;
    }
    if (slot == m_objects.size())
        m_objects.push_back({});
    m_objects[slot].type = type;
    m_objectsHighWater = std::max(m_objectsHighWater, slot + 1);
    return uint32_t(slot + 1);
}

uint32_t MetafileWriter::createPen(uint32_t style, int32_t width, uint32_t colour) {
    if (m_failed || m_closed)
        return 0;
    if (m_kind == Kind::kWindows && !fits16({width}))
        return 0;
    const uint32_t handle = newObject(GdiObject::kPen);
    if (handle == 0)
        return 0;
    if (m_kind == Kind::kEnhanced) {
        beginRecord(kEmrCreatePen, 28);
        put32(handle);
        put32(style);
        put32(uint32_t(width));  // the pen width is a point whose y is unused
        put32(0);
        put32(colour);
    } else {
        beginRecord(kMetaCreatePenIndirect, 16);
        put16(uint16_t(style));
        put16(uint16_t(width));
        put16(0);
        put32(colour);
    }
    return m_failed ? 0 : handle;
}

uint32_t MetafileWriter::createSolidBrush(uint32_t colour) {
    if (m_failed || m_closed)
        return 0;
    const uint32_t handle = newObject(GdiObject::kBrush);
    if (handle == 0)
        return 0;
    if (m_kind == Kind::kEnhanced) {
        beginRecord(kEmrCreateBrushIndirect, 24);
        put32(handle);
        put32(kBrushSolid);
        put32(colour);
        put32(0);  // hatch
    } else {
        beginRecord(kMetaCreateBrushIndirect, 14);
        put16(uint16_t(kBrushSolid));
        put32(colour);
        put16(0);
    }
    return m_failed ? 0 : handle;
}

uint32_t MetafileWriter::selectObject(uint32_t handle) {
    if (m_failed || m_closed)
        return 0;
    bool pen;
    if (isStock(handle)) {
        pen = handle == kStockBlackPen;
    } else {
        if (handle == 0 || handle > m_objects.size() || m_objects[handle - 1].type == GdiObject::kFree)
            return 0;
        pen = m_objects[handle - 1].type == GdiObject::kPen;
    }
    if (m_kind == Kind::kEnhanced) {
        beginRecord(kEmrSelectObject, 12);
        put32(handle);
    } else if (!isStock(handle)) {
        // The Windows format has no stock objects: going back to the
        // context's defaults leaves no record, and nothing that follows in
        // these files draws with a pen or brush.
        beginRecord(kMetaSelectObject, 8);
        put16(uint16_t(handle - 1));
    }
    if (m_failed)
        return 0;
    uint32_t& selected = pen ? m_selectedPen : m_selectedBrush;
    const uint32_t previous = selected;
    selected = handle;
    return previous;
}

bool MetafileWriter::deleteObject(uint32_t handle) {
    if (m_failed || m_closed)
        return false;
    if (isStock(handle))
        return true;
    if (handle == 0 || handle > m_objects.size() || m_objects[handle - 1].type == GdiObject::kFree)
        return false;
    if (m_kind == Kind::kEnhanced) {
        beginRecord(kEmrDeleteObject, 12);
        put32(handle);
    } else {
        beginRecord(kMetaDeleteObject, 8);
        put16(uint16_t(handle - 1));
    }
    m_objects[handle - 1].type = GdiObject::kFree;
    if (m_selectedPen == handle)
        m_selectedPen = kStockBlackPen;
    if (m_selectedBrush == handle)
        m_selectedBrush = kStockWhiteBrush;
    return !m_failed;
}

bool MetafileWriter::rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    if (m_failed || m_closed)
        return false;
    if (m_kind == Kind::kEnhanced) {
        // The enhanced format keeps the box inclusive of its right and bottom
        // edges, where the call names the first point outside.
        const MetaRect box{left, top, int32_t(int64_t(right) - 1), int32_t(int64_t(bottom) - 1)};
        beginRecord(kEmrRectangle, 24);
        put32(uint32_t(box.left));
        put32(uint32_t(box.top));
        put32(uint32_t(box.right));
        put32(uint32_t(box.bottom));
        addBounds(box);
    } else {
        if (!fits16({left, top, right, bottom}))
            return false;
        beginRecord(kMetaRectangle, 14);
        put16(uint16_t(bottom));
        put16(uint16_t(right));
        put16(uint16_t(top));
        put16(uint16_t(left));
        addBounds({left, top, right - 1, bottom - 1});
    }
    return !m_failed;
}

int32_t MetafileWriter::setStretchBltMode(int32_t mode) {
    if (m_failed || m_closed)
        return 0;
    if (m_kind == Kind::kEnhanced) {
        beginRecord(kEmrSetStretchBltMode, 12);
        put32(uint32_t(mode));
    } else {
        beginRecord(kMetaSetStretchBltMode, 10);
        put16(uint16_t(mode));
        put16(0);  // the unused high word of the mode
    }
    if (m_failed)
        return 0;
    const int32_t previous = m_stretchMode;
    m_stretchMode = mode;
    return previous;
}

int32_t MetafileWriter::stretchDibits(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                                      int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                                      const void* bits, uint32_t bitsSize, const void* info,
                                      uint32_t infoSize, uint32_t usage, uint32_t rasterOperation) {
    if (m_failed || m_closed || bits == nullptr || info == nullptr || infoSize == 0)
        return 0;
    // Both formats keep the bitmap's parts 4-byte aligned (EMF) or whole
    // words (WMF); the pixel rows of a bitmap always are, so padding is only
    // a safeguard.
    const uint32_t infoPad = (4 - infoSize % 4) % 4;
    const uint32_t bitsPad = (4 - bitsSize % 4) % 4;
    const uint64_t payload = uint64_t(infoSize) + infoPad + bitsSize + bitsPad;
    static const uint8_t kZeros[4] = {};
    if (m_kind == Kind::kEnhanced) {
        const MetaRect bounds{xDest, yDest, int32_t(int64_t(xDest) + destWidth - 1),
                              int32_t(int64_t(yDest) + destHeight - 1)};
        beginRecord(kEmrStretchDibits, kEmrStretchDibitsFixed + payload);
        put32(uint32_t(bounds.left));
        put32(uint32_t(bounds.top));
        put32(uint32_t(bounds.right));
        put32(uint32_t(bounds.bottom));
        put32(uint32_t(xDest));
        put32(uint32_t(yDest));
        put32(uint32_t(xSrc));
        put32(uint32_t(ySrc));
        put32(uint32_t(srcWidth));
        put32(uint32_t(srcHeight));
        put32(kEmrStretchDibitsFixed);                       // offset of the bitmap info
        put32(infoSize + infoPad);                           // its size
        put32(kEmrStretchDibitsFixed + infoSize + infoPad);  // offset of the bits
        put32(bitsSize + bitsPad);
        put32(usage);
        put32(rasterOperation);
        put32(uint32_t(destWidth));
        put32(uint32_t(destHeight));
        addBounds(bounds);
    } else {
        if (!fits16({xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight,
                     int64_t(xDest) + destWidth, int64_t(yDest) + destHeight}))
            return 0;
        beginRecord(kMetaStretchDib, kMetaStretchDibFixed + payload);
        put32(rasterOperation);
        put16(uint16_t(usage));
        put16(uint16_t(srcHeight));
        put16(uint16_t(srcWidth));
        put16(uint16_t(ySrc));
        put16(uint16_t(xSrc));
        put16(uint16_t(destHeight));
        put16(uint16_t(destWidth));
        put16(uint16_t(yDest));
        put16(uint16_t(xDest));
        addBounds({xDest, yDest, xDest + destWidth - 1, yDest + destHeight - 1});
    }
    put(info, infoSize);
    put(kZeros, infoPad);
    put(bits, bitsSize);
    put(kZeros, bitsPad);
    return m_failed ? 0 : srcHeight;
}

bool MetafileWriter::writeEnhancedHeader(uint64_t fileBytes, uint32_t records) {
    const uint32_t descriptionBytes = uint32_t(m_description.size() * 2);
    const uint32_t descriptionPad = (4 - descriptionBytes % 4) % 4;
    const uint32_t headerSize = kEmfHeaderSize + descriptionBytes + descriptionPad;
    // Nothing drawn: the format's empty bounds.
    const MetaRect bounds = m_haveBounds ? m_bounds : MetaRect{0, 0, -1, -1};
    put32(kEmrHeader);
    put32(headerSize);
    for (int32_t v : {bounds.left, bounds.top, bounds.right, bounds.bottom})
        put32(uint32_t(v));
    for (int32_t v : {m_frame.left, m_frame.top, m_frame.right, m_frame.bottom})
        put32(uint32_t(v));
    put32(kEmfSignature);
    put32(kEmfVersion);
    put32(uint32_t(fileBytes));
    put32(records);
    put16(uint16_t(m_objectsHighWater + 1));  // slot 0 of the handle table is reserved
    put16(0);
    put32(uint32_t(m_description.size()));
    put32(m_description.empty() ? 0 : kEmfHeaderSize);
    put32(0);  // palette entries
    put32(kScreenHorzRes);
    put32(kScreenVertRes);
    put32(kScreenHorzSize);
    put32(kScreenVertSize);
    put32(0);  // pixel format size
    put32(0);  // pixel format offset
    put32(0);  // no OpenGL records
    put32(kScreenHorzSize * 1000);
    put32(kScreenVertSize * 1000);
    for (char16_t c : m_description)
        put16(uint16_t(c));
    static const uint8_t kZeros[4] = {};
    put(kZeros, descriptionPad);
    return !m_failed;
}

bool MetafileWriter::writeWindowsHeader(uint64_t fileBytes) {
    // Placeable header: the bounds in logical units (right and bottom
    // exclusive) and how many of them make an inch.
    const MetaRect bounds = m_haveBounds ? m_bounds : MetaRect{0, 0, -1, -1};
    const uint16_t words[10] = {
        uint16_t(kPlaceableKey),
        uint16_t(kPlaceableKey >> 16),
        0,
        uint16_t(bounds.left),
        uint16_t(bounds.top),
        uint16_t(bounds.right + 1),
        uint16_t(bounds.bottom + 1),
        uint16_t(kScreenLogPixels),
        0,
        0,
    };
    uint16_t checksum = 0;
    for (uint16_t word : words)
        checksum ^= word;
    for (uint16_t word : words)
        put16(word);
    put16(checksum);

    put16(kWmfMemoryType);
    put16(kWmfHeaderSize / 2);
    put16(kWmfVersion);
    // The size counts the metafile proper, without the placeable header.
    put32(uint32_t(fileBytes > kPlaceableSize ? (fileBytes - kPlaceableSize) / 2 : 0));
    put16(uint16_t(m_objectsHighWater));
    put32(uint32_t(m_maxRecordWords));
    put16(0);
    return !m_failed;
}

bool MetafileWriter::close() {
    if (m_closed)
        return m_closeResult;
    if (!m_failed) {
        if (m_kind == Kind::kEnhanced) {
            beginRecord(kEmrEof, kEmrEofSize);
            put32(0);   // no palette
            put32(16);  // where a palette would start
            put32(kEmrEofSize);
        } else {
            beginRecord(kMetaEof, 6);
        }
    }
    m_closed = true;
    if (!m_failed) {
        // The header was written first as a placeholder; now that the counts
        // and bounds are known it is written again over the same bytes.
        const uint64_t total = m_bytes;
        if (std::fseek(m_file, 0, SEEK_SET) != 0)
            m_failed = true;
        else if (m_kind == Kind::kEnhanced)
            writeEnhancedHeader(total, m_records + 1);  // the header counts itself
        else
            writeWindowsHeader(total);
        m_bytes = total;
    }
    if (std::fclose(m_file) != 0)
        m_failed = true;
    m_file = nullptr;
    if (m_failed)
        std::remove(m_path.c_str());
    m_closeResult = !m_failed;
    return m_closeResult;
}

}  // namespace platform
