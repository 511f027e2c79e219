#include "library/PageImageWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "image/FileImageStream.h"
#include "image/ImageTransforms.h"
#include "image/OctreeQuantizer.h"
#include "image/RasterImage.h"
#include "image/RasterImageTIF.h"
#include "library/MetafileContext.h"
#include "platform/MetafileWriter.h"
#include "platform/TempFile.h"

namespace rendova {

namespace {

// The block's two headers: the 14-byte BMP file header, then the 40-byte
// bitmap info header, whose pixels-per-metre fields lie at 24 and 28.
constexpr int32_t kFileHeaderSize = 14;
constexpr int32_t kBlockHeaderSize = 54;
constexpr int32_t kInfoHeaderSize = 40;
constexpr int32_t kXPelsPerMeterOffset = kFileHeaderSize + 24;
constexpr int32_t kYPelsPerMeterOffset = kFileHeaderSize + 28;

constexpr double kInchesPerMetre = 39.37007874015748;
constexpr int32_t kMinDpi = 72;
constexpr int32_t kMaxDpi = 600;

constexpr uint32_t kWhite = 0xFFFFFF;

// The largest side each format's files hold: the JPEG library's limit below
// the format's 65535, GIF's 16-bit fields, and PCX's 16-bit line length,
// which is even.
constexpr int64_t kMaxJpegSide = 65500;
constexpr int64_t kMaxGifSide = 65535;
constexpr int64_t kMaxPcxSide = 65534;

// TIFF compression codes of the TIFF standard.
constexpr uint32_t kTiffNone = 1;
constexpr uint32_t kTiffCcittRle = 2;
constexpr uint32_t kTiffCcittGroup3 = 3;
constexpr uint32_t kTiffCcittGroup4 = 4;
constexpr uint32_t kTiffLzw = 5;
constexpr uint32_t kTiffJpeg = 7;
constexpr uint32_t kTiffPackBits = 32773;

// The compression setting that makes an 8-bit page a grey JPEG-compressed TIFF.
constexpr int32_t kSettingJpeg = 2;

void writeLittle32(uint8_t* p, int32_t value) {
    const auto v = uint32_t(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool isPaletteDepth(int32_t depth) {
    return depth == 1 || depth == 4 || depth == 8;
}

// The packed bitmap (info header, palette, rows) that the image holds in one
// block, as the quantizer reads it: the rows begin right after the 40-byte
// header and the palette.
const uint8_t* dibBlock(const RasterImage& image) {
    return image.info().pixels - kInfoHeaderSize - image.PaletteBytes();
}

}  // namespace

PageImageWriter::PageImageWriter() : m_tiffImage(std::make_unique<RasterImageTIF>()) {}

PageImageWriter::~PageImageWriter() {
    // The TIFF image first: finishing it writes the last directory of a
    // multi-page file through the stream, which needs the file beneath it.
    m_tiffImage.reset();
    m_multiPageStream.reset();
    if (m_multiPageFile != nullptr) {
        std::fclose(m_multiPageFile);
        m_multiPageFile = nullptr;
    }
    if (!m_spillFile.empty()) {
        std::remove(m_spillFile.c_str());
        m_spillFile.clear();
    }
}

int PageImageWriter::setup(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t greyscale,
                           int32_t writerFlag, uint32_t backgroundColour, int32_t imageType,
                           const char* targetPath, uint8_t* block, int32_t blockSize, int32_t multiPage,
                           int32_t xDpi, int32_t yDpi) {
    m_width = width;
    m_height = height;
    m_backgroundColour = backgroundColour;
    m_greyscale = greyscale != 0 ? 1 : 0;
    m_writerFlag = writerFlag != 0 ? 1 : 0;
    m_multiPage = multiPage != 0 ? 1 : 0;
    m_imageType = imageType >= kTypeBmp && imageType <= kTypePcx ? imageType : kTypeBmp;

    int32_t depth;
    if (m_imageType == kTypeJpeg)
        depth = m_greyscale ? 8 : 24;
    else if (isPaletteDepth(bitsPerPixel))
        depth = bitsPerPixel;
    else
        depth = m_imageType == kTypeGif ? 8 : 24;
    m_paletteDepth = isPaletteDepth(depth) ? depth : 0;
    m_workDepth = 24;

    if (targetPath != nullptr)
        m_targetPath = targetPath;

    // The sizes in 64-bit: a page's width x 3 x height overflows 32 bits long
    // before it stops fitting memory.
    m_rowBytes = ((int64_t(m_workDepth) * width + 31) / 32) * 4;
    m_headerSize = kInfoHeaderSize;  // 24 bits: no palette
    m_imageSize = int64_t(height) * m_rowBytes;
    if (block != nullptr && blockSize >= kBlockHeaderSize) {
        m_block = block;
        m_blockSize = blockSize;
        m_infoHeader = block + kFileHeaderSize;
        m_pixels = block + kBlockHeaderSize;
    } else {
        m_block = nullptr;
        m_blockSize = 0;
        m_infoHeader = nullptr;
        m_pixels = nullptr;
    }
    setXDpi(xDpi);
    setYDpi(yDpi);

    m_spillFailed = false;
    if (int64_t(height) * width * 3 > kSpillLimit)
        spill();
    return 1;
}

void PageImageWriter::spill() {
    // A kept writer may spill page after page: the previous page's file has
    // served its purpose and goes now, rather than being left behind.
    if (!m_spillFile.empty()) {
        std::remove(m_spillFile.c_str());
        m_spillFile.clear();
    }
    if (m_block == nullptr) {
        m_spillFailed = true;
        return;
    }
    // Created exclusively under a fresh name, so that no file planted in the
    // shared temporary folder is overwritten or read back as the page.
    platform::TempFile temp = platform::createTempFile("QZ_", ".bmp", "w+b");
    if (temp.file == nullptr) {
        m_spillFailed = true;
        return;
    }
    const bool written = std::fwrite(m_block, 1, size_t(m_blockSize), temp.file) == size_t(m_blockSize);
    const bool closed = std::fclose(temp.file) == 0;
    if (!written || !closed) {
        std::remove(temp.path.c_str());
        m_spillFailed = true;
        return;
    }
    m_spillFile = temp.path;
}

bool PageImageWriter::spilled() const {
    return int64_t(m_height) * m_width * 3 > kSpillLimit;
}

void PageImageWriter::setQuality(int32_t quality) {
    m_quality = std::clamp(quality, 1, 100);
}

void PageImageWriter::setResize(int32_t width, int32_t height) {
    if (width > 0)
        m_resizeWidth = width;
    if (height > 0)
        m_resizeHeight = height;
}

void PageImageWriter::setXDpi(int32_t dpi) {
    if (m_block == nullptr)
        return;
    m_xDpi = std::clamp(dpi, kMinDpi, kMaxDpi);
    writeLittle32(m_block + kXPelsPerMeterOffset, int32_t(std::floor(m_xDpi * kInchesPerMetre + 0.5)));
}

void PageImageWriter::setYDpi(int32_t dpi) {
    if (m_block == nullptr)
        return;
    m_yDpi = std::clamp(dpi, kMinDpi, kMaxDpi);
    writeLittle32(m_block + kYPelsPerMeterOffset, int32_t(std::floor(m_yDpi * kInchesPerMetre + 0.5)));
}

int32_t PageImageWriter::tiffPagesWritten() const {
    return m_tiffImage != nullptr ? m_tiffImage->pagesWritten() : 0;
}

bool PageImageWriter::keepsGeometry() const {
    return m_rotation == 0 && !(m_resizeWidth > 0 && m_resizeHeight > 0);
}

bool PageImageWriter::getPage(RasterImage& image, bool onlyRead) {
    if (spilled()) {
        // A page too large for the memory route comes only from its spill
        // file; when that could not be written there is no page to write.
        if (m_spillFailed || m_spillFile.empty())
            return false;
        return image.Load(m_spillFile.c_str(), kFormatBmp);
    }
    if (m_infoHeader == nullptr)
        return false;
    if (onlyRead && blockHoldsBmpFile() && image.ShareDib(m_infoHeader, size_t(m_headerSize + m_imageSize)))
        return true;
    // The packed bitmap is the info header and the rows that follow it. The
    // size comes from the recorded page size, which may be older than the
    // block (a refused page keeps the previous size): never read past the
    // block itself.
    const int64_t packed = m_headerSize + m_imageSize;
    const int64_t available = int64_t(m_blockSize) - kFileHeaderSize;
    return image.CreateFromDib(m_infoHeader, size_t(std::min(packed, available)));
}

namespace {

// Whether a 24-bit image holds a white pixel: the paper of every page that
// is not covered edge to edge.
bool holdsWhite(const RasterImage& image) {
    if (image.GetBpp() != 24)
        return false;
    for (int32_t y = 0; y < image.GetHeight(); ++y) {
        const uint8_t* row = image.RowPointer(y);
        for (int32_t x = 0; x < image.GetWidth(); ++x, row += 3)
            if (row[0] == 255 && row[1] == 255 && row[2] == 255)
                return true;
    }
    return false;
}

// The entry nearest to white becomes white. The quantizer's entries are the
// floored averages of its leaves, so the leaf that holds the paper together
// with a few near-white edge pixels came out 254 or less, and white paper
// turned grey in every palette file.
void keepPaperWhite(RgbQuad* palette, uint32_t colours) {
    uint32_t nearest = 0;
    int best = INT32_MAX;
    for (uint32_t i = 0; i < colours; ++i) {
        const int distance = (255 - palette[i].red) + (255 - palette[i].green) + (255 - palette[i].blue);
        if (distance < best) {
            best = distance;
            nearest = i;
        }
    }
    palette[nearest] = RgbQuad{255, 255, 255, palette[nearest].reserved};
}

}  // namespace

void PageImageWriter::reduceToPalette(RasterImage& image) {
    // The buffers start zeroed: the quantizer fills only as many entries as
    // it found colours, and the rest of the table reaches the file as it is.
    RgbQuad palette[256] = {};
    const RgbQuad* chosen = nullptr;
    uint32_t colours = 2;
    if (m_paletteDepth == 4 || m_paletteDepth == 8) {
        colours = m_paletteDepth == 4 ? 16 : 256;
        if (m_greyscale && image.GetBpp() == 8) {
            // A grey page gets the even ramp of all the levels the depth
            // holds, black to white: the quantizer's tree of 7 colour bits
            // can tell only 128 greys apart, and left the other half of an
            // 8-bit table black.
            for (uint32_t i = 0; i < colours; ++i) {
                const auto level = uint8_t(i * 255 / (colours - 1));
                palette[i] = RgbQuad{level, level, level, 0};
            }
        } else {
            OctreeQuantizer quantizer(colours, m_paletteDepth == 4 ? 8 : 7);
            quantizer.processImage(dibBlock(image));
            quantizer.getPalette(palette);
            if (holdsWhite(image))
                keepPaperWhite(palette, std::min(colours, quantizer.leafCount()));
        }
        chosen = palette;
    }
    ReduceBitDepth(image, m_paletteDepth, false, chosen, colours);
}

void PageImageWriter::reduceColours(RasterImage& image) {
    if (m_greyscale && m_paletteDepth != 1)
        ConvertToGrey(image);
    reduceToPalette(image);
}

bool PageImageWriter::save(const char* path) {
    if (path == nullptr) {
        if (m_targetPath.empty())
            return false;
        path = m_targetPath.c_str();
    }
    switch (m_imageType) {
        case kTypeEmf:
            return writeEmf(path);
        case kTypeWmf:
            return writeWmf(path);
        case kTypeJpeg:
            return writeJpeg(path);
        case kTypePng:
            return writeRaster(path, kFormatPng);
        case kTypeGif:
            return writeRaster(path, kFormatGif);
        case kTypeTiff:
            return writeTiff(path);
        case kTypePcx:
            return writeRaster(path, kFormatPcx);
        default:
            return writeRaster(path, kFormatBmp);
    }
}

bool PageImageWriter::blockHoldsBmpFile() const {
    // The block is already the file a 24-bit BMP of the page would be: the
    // file header, the info header with the resolution set, then the rows
    // bottom-up. Only a block that holds exactly the recorded page is
    // written as it is; any other goes through the image.
    const int64_t fileSize = kFileHeaderSize + m_headerSize + m_imageSize;
    if (m_block == nullptr || m_blockSize != fileSize || m_block[0] != 'B' || m_block[1] != 'M')
        return false;
    const uint8_t* h = m_infoHeader;
    const auto read32 = [](const uint8_t* p) {
        return int64_t(uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24));
    };
    if (read32(h) != kInfoHeaderSize || read32(h + 4) != m_width || read32(h + 8) != m_height ||
        (h[14] | h[15] << 8) != 24 || read32(h + 16) != 0)
        return false;
    return true;
}

bool PageImageWriter::writeBlockAsBmp(const char* path) {
    const size_t fileSize = size_t(m_blockSize);
    FileImageStream stream(path, "wb");
    if (!stream.isOpen())
        return false;
    const bool written = stream.write(m_block, 1, fileSize) == fileSize;
    if (stream.close() && written)
        return true;
    std::error_code ignored;
    if (std::filesystem::is_regular_file(path, ignored))
        std::filesystem::remove(path, ignored);
    return false;
}

bool PageImageWriter::writeRaster(const char* path, uint32_t formatCode) {
    // The common raw page needs no image of its own: no copy of the page,
    // no second pass over its rows.
    const bool asRendered = !isPaletteDepth(m_paletteDepth) && keepsGeometry();
    if (formatCode == kFormatBmp && asRendered && !spilled() && blockHoldsBmpFile())
        return writeBlockAsBmp(path);
    RasterImage image(kFormatUnknown);
    // The PNG encoder only reads the rows (it changes a palette, which a
    // page as rendered has not).
    if (!getPage(image, formatCode == kFormatPng && asRendered))
        return false;
    if (isPaletteDepth(m_paletteDepth))
        reduceColours(image);
    if (m_rotation != 0)
        Rotate(image, float(m_rotation));
    image.SetDpiX(m_xDpi);
    image.SetDpiY(m_yDpi);
    if (m_resizeWidth > 0 && m_resizeHeight > 0)
        Resample(image, m_resizeWidth, m_resizeHeight, kResampleNearest);
    return image.Save(path, formatCode);
}

bool PageImageWriter::writeJpeg(const char* path) {
    RasterImage image(kFormatUnknown);
    if (!getPage(image, keepsGeometry() && !m_greyscale))
        return false;
    if (m_rotation != 0)
        Rotate(image, float(m_rotation));
    image.SetDpiX(m_xDpi);
    image.SetDpiY(m_yDpi);
    // Option word 24: optimised Huffman tables and a progressive file.
    image.SetFormatOption(24, kFormatJpeg);
    image.SetQuality(uint8_t(m_quality));
    if (m_greyscale)
        ConvertToGrey(image);
    if (m_resizeWidth > 0 && m_resizeHeight > 0)
        Resample(image, m_resizeWidth, m_resizeHeight, kResampleNearest);
    return image.Save(path, kFormatJpeg);
}

namespace {

// The page's white ground: a solid one-pixel pen and a solid brush of the
// colour, the rectangle, then the context's own pen and brush back and the
// two objects deleted.
void paintGround(platform::MetafileWriter& writer, uint32_t colour, int32_t width, int32_t height) {
    const uint32_t pen = writer.createPen(platform::kPenSolid, 1, colour);
    const uint32_t oldPen = writer.selectObject(pen);
    const uint32_t brush = writer.createSolidBrush(colour);
    const uint32_t oldBrush = writer.selectObject(brush);
    writer.rectangle(0, 0, width, height);
    writer.selectObject(oldPen);
    writer.selectObject(oldBrush);
    writer.deleteObject(pen);
    writer.deleteObject(brush);
}

}  // namespace

bool PageImageWriter::writeEmf(const char* path) {
    RasterImage image(kFormatUnknown);
    if (!getPage(image))
        return false;
    if (m_rotation != 0)
        RotateWithSize(image, float(m_rotation), m_width, m_height);

    // The frame in hundredths of a millimetre, from the screen's size and
    // resolution; the products need 64 bits for wide pages.
    const int64_t horzSize = platform::screenDeviceCaps(platform::kDeviceCapHorzSize);
    const int64_t vertSize = platform::screenDeviceCaps(platform::kDeviceCapVertSize);
    const int64_t horzRes = platform::screenDeviceCaps(platform::kDeviceCapHorzRes);
    const int64_t vertRes = platform::screenDeviceCaps(platform::kDeviceCapVertRes);
    const int64_t right = int64_t(m_width) * horzSize * 100 / horzRes;
    const int64_t bottom = int64_t(m_height) * vertSize * 100 / vertRes;
    if (right > std::numeric_limits<int32_t>::max() || bottom > std::numeric_limits<int32_t>::max())
        return false;
    const platform::MetaRect frame{0, 0, int32_t(right), int32_t(bottom)};
    auto writer = platform::MetafileWriter::createEnhMetaFile(
        path, frame, std::string(kEmfDescription, sizeof kEmfDescription));
    if (writer == nullptr)
        return false;
    // Metafile pages always lie on white, whatever background was asked for.
    m_backgroundColour = kWhite;
    paintGround(*writer, m_backgroundColour, m_width, m_height);
    MetafileContext context(*writer);
    image.Draw(&context, 0, 0, m_width, m_height, kRopSourceCopy);
    return writer->close();
}

bool PageImageWriter::writeWmf(const char* path) {
    RasterImage image(kFormatUnknown);
    if (!getPage(image))
        return false;
    if (m_rotation != 0)
        RotateWithSize(image, float(m_rotation), m_width, m_height);
    auto writer = platform::MetafileWriter::createMetaFile(path);
    if (writer == nullptr)
        return false;
    m_backgroundColour = kWhite;
    // A page whose size does not fit the format's 16-bit coordinates fails
    // here, and close() then removes the file instead of leaving a picture
    // whose coordinates wrapped around.
    paintGround(*writer, m_backgroundColour, m_width, m_height);
    image.SetDpiX(m_xDpi);
    image.SetDpiY(m_yDpi);
    MetafileContext context(*writer);
    image.Draw(&context, 0, 0, m_width, m_height, kRopSourceCopy);
    return writer->close();
}

bool PageImageWriter::typeHolds(int32_t imageType, int64_t width, int64_t height) {
    int64_t largest;
    switch (imageType) {
        case kTypeJpeg:
            largest = kMaxJpegSide;
            break;
        case kTypeGif:
            largest = kMaxGifSide;
            break;
        case kTypePcx:
            largest = kMaxPcxSide;
            break;
        default:
            return true;
    }
    return std::max(width, height) <= largest;
}

uint32_t PageImageWriter::tiffCompressionCode(int32_t setting, int32_t depth) {
    switch (setting) {
        case 0:
            return kTiffNone;
        case 1:
            return kTiffLzw;
        case 2:
            return depth == 1 ? kTiffCcittGroup4 : depth == 4 ? kTiffLzw : kTiffJpeg;
        case 3:
            return depth == 1 ? kTiffCcittGroup4 : kTiffPackBits;
        case 5:
            return depth == 1 ? kTiffCcittGroup3 : kTiffLzw;
        case 6:
            return depth == 1 ? kTiffCcittRle : kTiffLzw;
        default:  // 4 and every other setting
            return depth == 1 ? kTiffCcittGroup4 : kTiffLzw;
    }
}

bool PageImageWriter::writeTiff(const char* path) {
    if (m_multiPage && m_multiPageFile == nullptr) {
        // An earlier file of the name is replaced on the first page.
        m_multiPageFile = std::fopen(path, "w+b");
        if (m_multiPageFile == nullptr)
            return false;
        m_multiPageStream = std::make_unique<FileImageStream>(m_multiPageFile);
    }
    if (!m_multiPage && !isPaletteDepth(m_paletteDepth) && keepsGeometry()) {
        // A single page as rendered: the encoder only reads its rows.
        RasterImage page(kFormatUnknown);
        if (!getPage(page, true))
            return false;
        page.SetDpiX(m_xDpi);
        page.SetDpiY(m_yDpi);
        page.SetFormatOption(tiffCompressionCode(m_compression, m_workDepth), kFormatTiff);
        page.SetQuality(uint8_t(m_quality));
        return page.Save(path, kFormatTiff);
    }
    RasterImageTIF& image = *m_tiffImage;
    if (!getPage(image))
        return false;
    if (isPaletteDepth(m_paletteDepth)) {
        if (m_paletteDepth == 8 && m_compression == kSettingJpeg)
            m_greyscale = 1;
        if (m_greyscale && m_paletteDepth != 1)
            ConvertToGrey(image);
        // Only the 8-bit JPEG case keeps its grey (8-bit) image as it is; a
        // 1-bit or 4-bit page is always reduced, so that a CCITT or 4-bit LZW
        // compression never meets a 24-bit image.
        if (!(m_compression == kSettingJpeg && m_paletteDepth == 8))
            reduceToPalette(image);
    }
    image.SetDpiX(m_xDpi);
    image.SetDpiY(m_yDpi);
    const int32_t depth = isPaletteDepth(m_paletteDepth) ? m_paletteDepth : m_workDepth;
    image.SetFormatOption(tiffCompressionCode(m_compression, depth), kFormatTiff);
    if (m_rotation != 0)
        Rotate(image, float(m_rotation));
    image.SetDpiX(m_xDpi);
    image.SetDpiY(m_yDpi);
    image.SetQuality(uint8_t(m_quality));
    if (m_resizeWidth > 0 && m_resizeHeight > 0)
        Resample(image, m_resizeWidth, m_resizeHeight, kResampleNearest);
    if (m_multiPage) {
        // The TIFF handle opened on the first page writes through this same
        // stream until the image is finished in the destructor.
        return image.Encode(m_multiPageStream.get(), true);
    }
    return image.Save(path, kFormatTiff);
}

}  // namespace rendova
