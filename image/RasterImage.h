#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "image/CodecFailure.h"

namespace rendova {

class DeviceContext;
class ImageStream;

static_assert(std::endian::native == std::endian::little,
              "the device-independent bitmap layout is little-endian and is copied field for field");

// Format codes: the formatType of an image and the index of its codec option word.
enum ImageFormat : uint32_t {
    kFormatUnknown = 0,
    kFormatBmp = 1,
    kFormatGif = 2,
    kFormatJpeg = 3,
    kFormatPng = 4,
    kFormatIco = 5,
    kFormatTiff = 6,
    kFormatTga = 7,
    kFormatPcx = 8,
    kFormatWbmp = 9,
    kFormatWmf = 10,
    kFormatJp2 = 11,
    kFormatJpc = 12,
    kFormatPgx = 13,
    kFormatPnm = 14,
    kFormatRas = 15,
};
constexpr uint32_t kFormatCount = 16;

// One palette entry or colour, in the byte order of a device-independent
// bitmap's colour table: blue, green, red, then a byte that is reserved (or an
// alpha value when the image's alphaPaletteEnabled is set).
struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;

    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};
static_assert(sizeof(RgbQuad) == 4);

// The 40-byte info header of a device-independent bitmap, in its published
// layout; the struct is copied byte for byte into and out of pixel blocks.
struct BitmapInfoHeader {
    uint32_t size = 0;  // 40
    int32_t width = 0;
    int32_t height = 0;  // positive: rows stored bottom-up
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t sizeImage = 0;    // row stride x height
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;       // palette entries: 2, 16, 256 or 0
    uint32_t clrImportant = 0;  // 0 = all
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct ImageRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

class RasterImage;

// The settings and results that the codecs and transforms share with an image.
// Copying it from one image to another never copies the geometry words
// (rowStride, pixels, ghostOwner, parent, layerCount): those describe the
// buffers of the image that holds them.
struct ImageInfo {
    uint32_t rowStride = 0;                   // ((width x bits + 31) >> 5) << 2
    uint8_t* pixels = nullptr;                // first pixel row inside the pixel block
    const RasterImage* ghostOwner = nullptr;  // set on a ghost: the image whose buffers it shares
    RasterImage* parent = nullptr;
    uint32_t formatType = 0;
    char lastError[256] = {};
    int32_t progress = 0;
    int32_t escape = 0;  // non-zero stops a decoder or transform; -1 asks a decoder for the size only
    int32_t transparentIndex = -1;
    RgbQuad transparentColor;
    uint8_t quality = 90;
    uint8_t jpegScale = 0;
    int32_t frame = 0;
    int32_t frameCount = 0;
    uint32_t frameDelay = 0;
    int32_t dpiX = 0;
    int32_t dpiY = 0;
    ImageRect selectionBox;
    uint8_t alphaMax = 255;
    bool alphaPaletteEnabled = false;
    bool enabled = true;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    uint32_t codecOptions[kFormatCount] = {};
    RgbQuad nearestCacheColor;
    uint8_t nearestCacheIndex = 0;
    bool nearestCacheValid = false;
    int32_t layerCount = 0;
    uint32_t layerFlags = 0;
};

// The raster image of the library: one packed device-independent bitmap (info
// header, palette, bottom-up pixel rows padded to 4 bytes) held in one heap
// block, an optional alpha plane and selection mask (width x height bytes each,
// bottom row first), and the ImageInfo block. Pixels are 1, 4 or 8-bit palette
// indices or 24-bit blue, green, red bytes; no other depth is ever held.
// Coordinates (x, y) are column and stored row: y = 0 is the bottom row.
//
// The image owns its buffers, except a ghost (made by ShareFrom for one codec
// call), which shares another image's buffers and frees nothing. Each codec is a
// subclass built by the format dispatch for one call. Not thread-safe; no
// operation throws: failures return false, 0 or null and leave their reason in
// LastErrorText().
class RasterImage {
public:
    explicit RasterImage(uint32_t formatType = kFormatUnknown);
    RasterImage(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType);
    RasterImage(const RasterImage& source, bool copyPixels, bool copySelection, bool copyAlpha);
    RasterImage(const RasterImage&) = delete;
    RasterImage& operator=(const RasterImage&) = delete;
    virtual ~RasterImage();

    // --- Life ---------------------------------------------------------------
    // Frees every buffer (false, and nothing freed, for a ghost).
    bool destroy();
    // A new image of the size and depth (rounded up to 1, 4, 8 or 24 bits), its
    // palette zeroed and its rows cleared; the new pixel block or null.
    uint8_t* Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType);
    // Builds the image from a packed bitmap in memory (info header, palette,
    // bits, possibly run-length or bit-field coded) of `size` bytes; never reads
    // past them.
    bool CreateFromDib(const uint8_t* dib, size_t size);
    bool copy(const RasterImage& source, bool copyPixels = true, bool copySelection = true,
              bool copyAlpha = true);
    // Takes every buffer and the information of `source`, leaving it empty.
    bool TakeOver(RasterImage& source);
    // Makes this image a ghost that shares the buffers of `source`.
    void ShareFrom(const RasterImage& source);
    // Makes this image, which must be no ghost, a ghost over a packed bitmap
    // held by the caller: an uncompressed 24-bit block with the 40-byte info
    // header, of `size` bytes. Nothing is copied or freed, so the block must
    // outlive the image, and whatever is written through the image (rows, or
    // the header a BMP encoding refreshes) lands in the block. False, with the
    // image left empty, for any other block.
    bool ShareDib(uint8_t* dib, size_t size);
    // When this image has no pixel block, takes the settings of `source`.
    void InheritInfo(const RasterImage& source);

    // --- Accessors ----------------------------------------------------------
    int32_t GetWidth() const { return m_header.width; }
    int32_t GetHeight() const { return m_header.height; }
    int32_t GetBpp() const { return m_header.bitCount; }
    uint32_t GetType() const { return m_info.formatType; }
    uint32_t GetRowStride() const { return m_info.rowStride; }
    uint32_t GetColourCount() const { return m_header.clrUsed; }
    // Bytes of the pixel block: header, palette and rows.
    uint32_t GetSize() const;
    uint8_t* RowPointer(int32_t row);
    const uint8_t* RowPointer(int32_t row) const;
    bool HasPixels() const { return m_pixelBlock != nullptr; }
    bool Contains(int32_t x, int32_t y) const;
    bool HasPalette() const { return m_header.clrUsed != 0; }
    // 4 with an alpha plane, else 1 for palette depths and 2 for 24 bits.
    int32_t ColourKind() const;
    const char* LastErrorText() const { return m_info.lastError; }
    uint8_t GetQuality() const { return m_info.quality; }
    void SetQuality(uint8_t quality) { m_info.quality = quality; }
    uint8_t GetDecodeScale() const { return m_info.jpegScale; }
    int32_t GetDpiX() const { return m_info.dpiX; }
    int32_t GetDpiY() const { return m_info.dpiY; }
    void SetDpiX(int32_t dpi);
    void SetDpiY(int32_t dpi);
    void SetCanvasOffset(int32_t x, int32_t y);
    // Code 0 means the image's own type; codes above 15 read 0 and are refused.
    uint32_t GetFormatOption(uint32_t code) const;
    bool SetFormatOption(uint32_t value, uint32_t code);
    int32_t GetTransparentIndex() const { return m_info.transparentIndex; }
    void SetTransparentIndex(int32_t index);
    bool HasTransparency() const { return m_info.transparentIndex >= 0; }
    void SetTransparentColour(RgbQuad colour);
    RgbQuad GetTransparentColour() const;
    void FillBytes(uint8_t value);
    // Stretches the whole image onto the context; 0 when the image is empty or
    // the context is null, else 1.
    int32_t Draw(DeviceContext* context, int32_t x, int32_t y, int32_t width, int32_t height,
                 uint32_t rasterOperation) const;

    // The settings and results block: codecs, transforms and tests read and set
    // its option and result words; the geometry words belong to the image.
    ImageInfo& info() { return m_info; }
    const ImageInfo& info() const { return m_info; }
    const BitmapInfoHeader& header() const { return m_header; }

    // --- Format dispatch ----------------------------------------------------
    bool Encode(ImageStream* stream, uint32_t code);
    // Code 0 tries every decoder in turn, rewinding the stream after each.
    bool Decode(ImageStream* stream, uint32_t code);
    bool Save(const char* fileName, uint32_t code);
    bool Load(const char* fileName, uint32_t code);
    // On success `buffer` receives a block the caller frees with std::free.
    bool EncodeToMemory(uint8_t*& buffer, int32_t& size, uint32_t code);
    bool CheckEncodable(ImageStream* stream);

    // --- Palette ------------------------------------------------------------
    RgbQuad* GetPalette();
    const RgbQuad* GetPalette() const;
    uint32_t PaletteBytes() const { return 4 * m_header.clrUsed; }
    RgbQuad PaletteEntry(uint8_t index) const;
    bool PaletteEntry(uint8_t index, uint8_t& red, uint8_t& green, uint8_t& blue) const;
    void SetPaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha = 0);
    void SetPaletteEntry(uint8_t index, RgbQuad entry);
    void SetPalette(const RgbQuad* entries, uint32_t count);
    // A missing green array means the red one, a missing blue array the green one.
    void SetPalette(const uint8_t* red, const uint8_t* green, const uint8_t* blue, uint32_t count);
    // Packed red, green, blue triples.
    void SetPalette(const uint8_t* rgbTriples, uint32_t count);
    void MakeGreyPalette();
    bool HasGreyPalette() const;
    void ExchangeIndices(uint8_t first, uint8_t second);
    void SetImportantColours(uint32_t count);
    void SetFixedPalette();
    uint8_t NearestPaletteIndex(RgbQuad colour);
    bool PaletteHasAlpha() const;

    // --- Pixels -------------------------------------------------------------
    uint8_t ReadIndex(int32_t x, int32_t y) const;
    // No checks at all: for inner loops over a palette image already checked.
    uint8_t ReadIndexUnchecked(int32_t x, int32_t y) const;
    void WriteIndex(int32_t x, int32_t y, uint8_t index);
    RgbQuad ReadColor(int32_t x, int32_t y, bool withAlpha = true) const;
    void WriteColor(int32_t x, int32_t y, RgbQuad colour, bool setAlpha = false);
    // `rgb` holds red in its low byte, then green and blue; never sets alpha.
    void WriteColor(int32_t x, int32_t y, uint32_t rgb);
    uint8_t* PixelAddress(int32_t x, int32_t y);
    void SwapRedBlue(uint8_t* buffer, uint32_t length) const;

    // --- Alpha plane --------------------------------------------------------
    bool HasAlpha() const { return m_alpha != nullptr; }
    // Raw planes for inner loops: width x height bytes each, bottom row
    // first, null when the image has none. Valid until the plane is replaced.
    uint8_t* alphaPlane() { return m_alpha; }
    const uint8_t* alphaPlane() const { return m_alpha; }
    const uint8_t* selectionMask() const { return m_selection; }
    bool MakeAlphaPlane();
    void DropAlphaPlane();
    void ZeroAlpha();
    bool CopyAlphaFrom(const RasterImage& source);
    void WriteAlpha(int32_t x, int32_t y, uint8_t level);
    uint8_t ReadAlpha(int32_t x, int32_t y) const;
    bool FlipAlphaRows();
    bool MirrorAlphaRows();

    // --- Selection ----------------------------------------------------------
    void DropSelection();
    bool IsSelected(int32_t x, int32_t y) const;
    bool CopySelectionFrom(const RasterImage& source);

protected:
    // Bounded copy into lastError (at most 255 characters and the terminator).
    void setLastError(const char* text);
    // A codec's boundary: runs `body`, whose CodecFailure becomes the
    // last-error text and false; so does memory exhaustion when the codec
    // names a text for it, else that goes on up. A body returning bool gives
    // its own result, any other body true.
    template <class Body>
    bool runCodec(const char* outOfMemoryText, Body&& body);
    template <class Body>
    bool runCodec(Body&& body) {
        return runCodec(nullptr, static_cast<Body&&>(body));
    }
    bool isGhost() const { return m_info.ghostOwner != nullptr; }
    // Copies the header copy into the pixel block (the encoders write the block).
    void syncBlockHeader();
    // Copies `source`'s information, keeping this image's geometry words.
    void copyInfoFrom(const ImageInfo& source);
    void clearNearestCache() { m_info.nearestCacheValid = false; }

    uint8_t* m_pixelBlock = nullptr;
    BitmapInfoHeader m_header;
    ImageInfo m_info;
    uint8_t* m_selection = nullptr;
    uint8_t* m_alpha = nullptr;
    RasterImage** m_layers = nullptr;

private:
    void startUp(uint32_t formatType);
    // Create, with the rows left as the heap gives them unless `clearRows`:
    // for a caller that writes every row byte at once.
    uint8_t* createBlock(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t formatType,
                         bool clearRows);
    // `args` go on to the codec's Encode or Decode after the stream.
    template <class Codec, class... Args>
    bool encodeAs(ImageStream* stream, Args... args);
    template <class Codec, class... Args>
    bool decodeAs(ImageStream* stream, Args... args);
    bool decodeAnyFormat(ImageStream* stream);
};

template <class Body>
bool RasterImage::runCodec(const char* outOfMemoryText, Body&& body) {
    try {
        if constexpr (std::is_same_v<std::invoke_result_t<Body&>, bool>) {
            return body();
        } else {
            body();
            return true;
        }
    } catch (const CodecFailure& failure) {
        setLastError(failure.text);
    } catch (const std::bad_alloc&) {
        if (outOfMemoryText == nullptr)
            throw;
        setLastError(outOfMemoryText);
    }
    return false;
}

}  // namespace rendova
