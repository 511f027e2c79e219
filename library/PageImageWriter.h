#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace rendova {

class FileImageStream;
class RasterImage;
class RasterImageTIF;

// Turns one rendered page bitmap (the 24-bit block with its 54-byte BMP
// header that the renderer lends) into one output file: BMP, EMF, WMF, JPEG,
// PNG, GIF, TIFF or PCX. It picks the output depth from the bits per pixel
// and greyscale settings, reduces colours with the octree quantizer, applies
// rotation, resolution and resizing, maps the TIFF compression setting to a
// TIFF compression code, and for a multi-page TIFF keeps one TIFF image and
// one open file across pages. Pages whose 24-bit pixels exceed kSpillLimit
// bytes are first written to a temporary BMP file and read back from there.
//
// Ownership: the block is borrowed (setXDpi and setYDpi write its resolution
// fields); the writer owns its TIFF image, the multi-page file and stream,
// and the spill file, which it removes. save() answers whether the page was
// written; a page that cannot be made or written leaves no file of its own
// behind. Not thread-safe; throws only std::bad_alloc.
class PageImageWriter {
public:
    // Image types, as the conversion job numbers them.
    static constexpr int32_t kTypeBmp = 1;
    static constexpr int32_t kTypeEmf = 2;
    static constexpr int32_t kTypeWmf = 3;
    static constexpr int32_t kTypeJpeg = 4;
    static constexpr int32_t kTypePng = 5;
    static constexpr int32_t kTypeGif = 6;
    static constexpr int32_t kTypeTiff = 7;
    static constexpr int32_t kTypePcx = 8;

    // Pages of more 24-bit pixel bytes than this (256 MiB) go through a
    // temporary BMP file, so that the image library reads them from disk
    // instead of holding a second copy beside the renderer's.
    static constexpr int64_t kSpillLimit = 0x10000000;

    // The fixed description of our EMF files: application and picture, each
    // ended by a NUL (the array's own terminator ends the second).
    static constexpr char kEmfDescription[] = "Rendova\0Page image";

    PageImageWriter();
    ~PageImageWriter();
    PageImageWriter(const PageImageWriter&) = delete;
    PageImageWriter& operator=(const PageImageWriter&) = delete;

    // Takes the page: its size, the options, the output path and the block
    // (blockSize bytes). Returns 1.
    int setup(int32_t width, int32_t height, int32_t bitsPerPixel, int32_t greyscale, int32_t writerFlag,
              uint32_t backgroundColour, int32_t imageType, const char* targetPath, uint8_t* block,
              int32_t blockSize, int32_t multiPage, int32_t xDpi, int32_t yDpi);
    void setCompression(int32_t setting) { m_compression = setting; }
    // Clamped to 1 .. 100.
    void setQuality(int32_t quality);
    void setRotation(int32_t degrees) { m_rotation = degrees; }
    // Each of w and h is stored only when above 0.
    void setResize(int32_t width, int32_t height);
    // Clamped to 72 .. 600 and written into the block's pixels-per-metre
    // field; nothing happens while no block is set.
    void setXDpi(int32_t dpi);
    void setYDpi(int32_t dpi);
    // Writes the page to `path` as the image type says; false when nothing
    // was written (no page, an image type the image library cannot write, a
    // full disk).
    bool save(const char* path);

    // Whether an image of the type can hold a page of width x height pixels:
    // JPEG, GIF and PCX files keep each side in 16 bits (less a little for
    // JPEG's library and PCX's even line length); the other types hold any
    // page the renderer draws.
    static bool typeHolds(int32_t imageType, int64_t width, int64_t height);

    // The TIFF compression code for a compression setting at an output depth
    // (1, 4, 8 or 24 bits).
    static uint32_t tiffCompressionCode(int32_t setting, int32_t depth);

    // Read by tests.
    int32_t paletteDepth() const { return m_paletteDepth; }
    int32_t quality() const { return m_quality; }
    int32_t xDpi() const { return m_xDpi; }
    int32_t yDpi() const { return m_yDpi; }
    int32_t imageType() const { return m_imageType; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    const std::string& spillFile() const { return m_spillFile; }
    int32_t tiffPagesWritten() const;

private:
    bool spilled() const;
    // Fills `image` with the page: from the spill file when the page was
    // spilled, else from the block. False when neither works. For an image
    // that will only be read (`onlyRead`), a block that holds the page as it
    // was rendered is shared rather than copied.
    bool getPage(RasterImage& image, bool onlyRead = false);
    // Neither turned nor resized on the way out.
    bool keepsGeometry() const;
    // The quantizer's palette and the reduction to paletteDepth bits.
    void reduceToPalette(RasterImage& image);
    // Grey conversion (unless 1 bit) and then the palette reduction.
    void reduceColours(RasterImage& image);
    bool writeRaster(const char* path, uint32_t formatCode);
    bool blockHoldsBmpFile() const;
    bool writeBlockAsBmp(const char* path);
    bool writeJpeg(const char* path);
    bool writeEmf(const char* path);
    bool writeWmf(const char* path);
    bool writeTiff(const char* path);
    void spill();

    uint8_t* m_block = nullptr;
    int32_t m_blockSize = 0;
    uint8_t* m_infoHeader = nullptr;
    uint8_t* m_pixels = nullptr;
    std::string m_spillFile;
    bool m_spillFailed = false;
    std::string m_targetPath;
    int32_t m_imageType = kTypeBmp;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_workDepth = 24;
    uint32_t m_backgroundColour = 0xFFFFFF;
    int32_t m_xDpi = 120;
    int32_t m_yDpi = 120;
    int32_t m_quality = 75;
    int32_t m_rotation = 0;
    int32_t m_compression = 0;
    int32_t m_greyscale = 0;
    int32_t m_writerFlag = 0;
    int32_t m_multiPage = 0;
    int32_t m_resizeWidth = 0;
    int32_t m_resizeHeight = 0;
    int64_t m_headerSize = 40;
    int64_t m_imageSize = 0;
    int64_t m_rowBytes = 0;
    int32_t m_paletteDepth = 0;
    std::FILE* m_multiPageFile = nullptr;
    std::unique_ptr<FileImageStream> m_multiPageStream;
    std::unique_ptr<RasterImageTIF> m_tiffImage;
};

}  // namespace rendova
