#include "image/RasterImage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "image/DeviceContext.h"

namespace rendova {

namespace {

constexpr uint32_t kInfoHeaderSize = 40;
// The DPI setters' conversion: one inch is 0.0254 metres.
constexpr double kInchesPerMetre = 39.37007874015748;
constexpr int32_t kDefaultDpi = 150;
// What a resolution below 1 dpi is taken as.
constexpr int32_t kFallbackDpi = 96;

int32_t saturateToInt32(double value) {
    if (!(value >= std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (value >= std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

// The depths an image may hold: palette indices of 1, 4 or 8 bits, or 24-bit colour.
int32_t heldDepth(int32_t bits) {
    if (bits <= 1)
        return 1;
    if (bits <= 4)
        return 4;
    if (bits <= 8)
        return 8;
    return 24;
}

uint8_t* duplicateBlock(const uint8_t* source, size_t size) {
    auto* copy = static_cast<uint8_t*>(std::malloc(size));
    if (copy != nullptr)
        std::memcpy(copy, source, size);
    return copy;
}

}  // namespace

RasterImage::RasterImage(uint32_t formatType) {
    startUp(formatType);
}

RasterImage::RasterImage(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType) {
    startUp(formatType);
    Create(width, height, bitsPerPixel, formatType);
}

RasterImage::RasterImage(const RasterImage& source, bool copyPixels, bool copySelection, bool copyAlpha) {
    startUp(source.m_info.formatType);
    copy(source, copyPixels, copySelection, copyAlpha);
}

RasterImage::~RasterImage() {
    destroy();
}

void RasterImage::startUp(uint32_t formatType) {
    m_pixelBlock = nullptr;
    m_selection = nullptr;
    m_alpha = nullptr;
    m_layers = nullptr;
    m_header = BitmapInfoHeader{};
    m_info = ImageInfo{};
    m_info.formatType = formatType;
    SetDpiX(kDefaultDpi);
    SetDpiY(kDefaultDpi);
}

bool RasterImage::destroy() {
    if (isGhost())
        return false;
    if (m_layers != nullptr) {
        for (int32_t i = 0; i < m_info.layerCount; ++i)
            delete m_layers[i];
        std::free(m_layers);
        m_layers = nullptr;
    }
    m_info.layerCount = 0;
    std::free(m_selection);
    m_selection = nullptr;
    std::free(m_alpha);
    m_alpha = nullptr;
    std::free(m_pixelBlock);
    m_pixelBlock = nullptr;
    m_info.pixels = nullptr;
    return true;
}

uint8_t* RasterImage::Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType) {
    return createBlock(width, height, bitsPerPixel, formatType, true);
}

uint8_t* RasterImage::createBlock(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType,
                                  bool clearRows) {
    if (!destroy())
        return nullptr;
    if (width <= 0 || height <= 0) {
        setLastError("RasterImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    const int32_t bits = heldDepth(bitsPerPixel);
    const uint32_t colours = bits <= 8 ? (1u << bits) : 0;

    // Every size of the block is a 32-bit field of the bitmap header, so a
    // picture whose rows or block do not fit 32 bits cannot be held.
    const uint64_t stride = ((uint64_t(width) * uint64_t(bits) + 31) >> 5) << 2;
    const uint64_t imageSize = stride * uint64_t(height);
    const uint64_t blockSize = kInfoHeaderSize + 4ull * colours + imageSize;
    if (blockSize > std::numeric_limits<uint32_t>::max()) {
        setLastError("RasterImage::Create can't allocate memory");
        return nullptr;
    }
    // Cleared on allocation (palette and rows): a decoder that meets a short
    // file leaves zeros behind, never what the heap held before.
    const size_t headBytes = size_t(blockSize - imageSize);
    auto* block =
        static_cast<uint8_t*>(clearRows ? std::calloc(1, size_t(blockSize)) : std::malloc(size_t(blockSize)));
    if (block != nullptr && !clearRows)
        std::memset(block, 0, headBytes);
    if (block == nullptr) {
        setLastError("RasterImage::Create can't allocate memory");
        return nullptr;
    }

    m_info.formatType = formatType;
    m_info.rowStride = uint32_t(stride);
    m_header.size = kInfoHeaderSize;
    m_header.width = width;
    m_header.height = height;
    m_header.planes = 1;
    m_header.bitCount = uint16_t(bits);
    m_header.compression = 0;
    m_header.sizeImage = uint32_t(imageSize);
    m_header.clrUsed = colours;
    m_header.clrImportant = 0;
    m_pixelBlock = block;
    clearNearestCache();
    DropSelection();
    DropAlphaPlane();
    syncBlockHeader();
    m_info.pixels = m_pixelBlock + kInfoHeaderSize + PaletteBytes();
    return m_pixelBlock;
}

bool RasterImage::copy(const RasterImage& source, bool copyPixels, bool copySelection, bool copyAlpha) {
    if (&source == this)
        return true;
    // A ghost owns nothing that it could replace.
    if (isGhost())
        return false;
    copyInfoFrom(source.m_info);
    if (!source.HasPixels()) {
        destroy();
        m_header = source.m_header;
        return true;
    }
    m_header.xPelsPerMeter = source.m_header.xPelsPerMeter;
    m_header.yPelsPerMeter = source.m_header.yPelsPerMeter;
    if (Create(source.GetWidth(), source.GetHeight(), source.GetBpp(), source.GetType()) == nullptr)
        return false;
    // Same geometry as the source, so its header (important colours included) fits.
    m_header = source.m_header;
    if (copyPixels) {
        std::memcpy(m_pixelBlock, source.m_pixelBlock, GetSize());
    } else if (HasPalette()) {
        const uint32_t count = GetColourCount() < 256 ? GetColourCount() : 256;
        std::memcpy(GetPalette(), source.GetPalette(), 4 * size_t(count));
    }
    const size_t planeSize = size_t(GetWidth()) * size_t(GetHeight());
    if (copySelection && source.m_selection != nullptr) {
        m_selection = duplicateBlock(source.m_selection, planeSize);
        if (m_selection == nullptr)
            return false;
    }
    if (copyAlpha && source.m_alpha != nullptr) {
        m_alpha = duplicateBlock(source.m_alpha, planeSize);
        if (m_alpha == nullptr)
            return false;
    }
    return true;
}

bool RasterImage::TakeOver(RasterImage& source) {
    if (&source == this)
        return true;
    // Taking a ghost's buffers would give them two owners.
    if (isGhost() || source.isGhost())
        return false;
    destroy();
    m_header = source.m_header;
    m_info = source.m_info;
    m_pixelBlock = source.m_pixelBlock;
    m_selection = source.m_selection;
    m_alpha = source.m_alpha;
    m_layers = source.m_layers;
    source.m_header = BitmapInfoHeader{};
    source.m_info = ImageInfo{};
    source.m_pixelBlock = nullptr;
    source.m_selection = nullptr;
    source.m_alpha = nullptr;
    source.m_layers = nullptr;
    return true;
}

void RasterImage::ShareFrom(const RasterImage& source) {
    if (&source == this)
        return;
    destroy();
    m_header = source.m_header;
    m_info = source.m_info;
    m_pixelBlock = source.m_pixelBlock;
    m_selection = source.m_selection;
    m_alpha = source.m_alpha;
    m_layers = source.m_layers;
    m_info.ghostOwner = &source;
}

void RasterImage::InheritInfo(const RasterImage& source) {
    if (m_pixelBlock == nullptr)
        copyInfoFrom(source.m_info);
}

void RasterImage::copyInfoFrom(const ImageInfo& source) {
    if (&source == &m_info)
        return;
    const uint32_t rowStride = m_info.rowStride;
    uint8_t* pixels = m_info.pixels;
    const RasterImage* ghostOwner = m_info.ghostOwner;
    RasterImage* parent = m_info.parent;
    const int32_t layerCount = m_info.layerCount;
    m_info = source;
    m_info.rowStride = rowStride;
    m_info.pixels = pixels;
    m_info.ghostOwner = ghostOwner;
    m_info.parent = parent;
    m_info.layerCount = layerCount;
}

void RasterImage::setLastError(const char* text) {
    std::snprintf(m_info.lastError, sizeof m_info.lastError, "%s", text != nullptr ? text : "");
}

void RasterImage::syncBlockHeader() {
    if (m_pixelBlock != nullptr)
        std::memcpy(m_pixelBlock, &m_header, sizeof m_header);
}

uint32_t RasterImage::GetSize() const {
    if (m_pixelBlock == nullptr)
        return 0;
    return kInfoHeaderSize + PaletteBytes() + m_header.sizeImage;
}

uint8_t* RasterImage::RowPointer(int32_t row) {
    if (m_pixelBlock == nullptr || row < 0 || row >= m_header.height)
        return nullptr;
    return m_info.pixels + size_t(row) * m_info.rowStride;
}

const uint8_t* RasterImage::RowPointer(int32_t row) const {
    return const_cast<RasterImage*>(this)->RowPointer(row);
}

bool RasterImage::Contains(int32_t x, int32_t y) const {
    return x >= 0 && x < m_header.width && y >= 0 && y < m_header.height;
}

int32_t RasterImage::ColourKind() const {
    if (m_alpha != nullptr)
        return 4;
    return m_header.bitCount <= 8 ? 1 : 2;
}

void RasterImage::SetDpiX(int32_t dpi) {
    if (dpi < 1)
        dpi = kFallbackDpi;
    m_info.dpiX = dpi;
    m_header.xPelsPerMeter = saturateToInt32(std::floor(dpi * kInchesPerMetre + 0.5));
}

void RasterImage::SetDpiY(int32_t dpi) {
    if (dpi < 1)
        dpi = kFallbackDpi;
    m_info.dpiY = dpi;
    m_header.yPelsPerMeter = saturateToInt32(std::floor(dpi * kInchesPerMetre + 0.5));
}

void RasterImage::SetCanvasOffset(int32_t x, int32_t y) {
    m_info.offsetX = x;
    m_info.offsetY = y;
}

uint32_t RasterImage::GetFormatOption(uint32_t code) const {
    if (code == kFormatUnknown)
        code = m_info.formatType;
    if (code >= kFormatCount)
        return 0;
    return m_info.codecOptions[code];
}

bool RasterImage::SetFormatOption(uint32_t value, uint32_t code) {
    if (code == kFormatUnknown)
        code = m_info.formatType;
    if (code >= kFormatCount)
        return false;
    m_info.codecOptions[code] = value;
    return true;
}

void RasterImage::SetTransparentIndex(int32_t index) {
    m_info.transparentIndex = index;
}

void RasterImage::SetTransparentColour(RgbQuad colour) {
    colour.reserved = 0;
    m_info.transparentColor = colour;
}

RgbQuad RasterImage::GetTransparentColour() const {
    if (m_header.bitCount < 24 && m_info.transparentIndex >= 0 && m_info.transparentIndex < 256)
        return PaletteEntry(uint8_t(m_info.transparentIndex));
    return m_info.transparentColor;
}

void RasterImage::FillBytes(uint8_t value) {
    if (m_pixelBlock == nullptr)
        return;
    if (m_header.bitCount == 1 && value != 0)
        value = 255;
    if (m_header.bitCount == 4)
        value = uint8_t((value & 0x0F) * 17);
    std::memset(m_info.pixels, value, m_header.sizeImage);
}

int32_t RasterImage::Draw(DeviceContext* context, int32_t x, int32_t y, int32_t width, int32_t height,
                          uint32_t rasterOperation) const {
    if (m_pixelBlock == nullptr || context == nullptr)
        return 0;
    context->setStretchBltMode(kStretchColorOnColor);
    context->stretchDibits(x, y, width, height, 0, 0, GetWidth(), GetHeight(), m_info.pixels, m_pixelBlock,
                           kDibRgbColors, rasterOperation);
    return 1;
}

}  // namespace rendova
