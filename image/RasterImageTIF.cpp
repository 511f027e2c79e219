// The TIFF codec's adapter over libtiff. libtiff reports failures through
// return values (it never jumps), through its error and warning handlers,
// which are silenced here, and it reads and writes through the client
// procedures below, which bind a handle to an ImageStream. libtiff's own
// memory routines are used as they are.
#include "image/RasterImageTIF.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include <tiffio.h>

#include "base/Numeric.h"
#include "image/CodecFailure.h"
#include "image/ImageStream.h"
#include "image/ImageTransforms.h"
#include "image/MemoryStream.h"

namespace rendova {

namespace {

constexpr uint16_t kCieLab = PHOTOMETRIC_CIELAB;

// A band of tiles or a strip larger than this is not a picture this
// library can hold (its blocks are limited to 32-bit sizes).
constexpr uint64_t kMaxBufferBytes = uint64_t(1) << 32;
// Real tiles are at most a few thousand pixels square; a tile larger than
// this would only make the band buffer huge.
constexpr uint64_t kMaxTilePixels = uint64_t(1) << 26;

// --- Client procedures over an ImageStream --------------------------------------

ImageStream* streamOf(thandle_t handle) {
    return static_cast<ImageStream*>(handle);
}

tmsize_t clientRead(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0)
        return 0;
    return tmsize_t(streamOf(handle)->read(buffer, 1, size_t(size)));
}

tmsize_t clientWrite(thandle_t handle, void* buffer, tmsize_t size) {
    if (size <= 0)
        return 0;
    return tmsize_t(streamOf(handle)->write(buffer, 1, size_t(size)));
}

toff_t clientSeek(thandle_t handle, toff_t offset, int whence) {
    constexpr toff_t kFailed = toff_t(-1);
    if (offset == kFailed)
        return kFailed;
    // The stream's positions are signed 32-bit; relative seeks may be negative.
    const auto signedOffset = int64_t(offset);
    if (signedOffset < std::numeric_limits<int32_t>::min() ||
        signedOffset > std::numeric_limits<int32_t>::max())
        return kFailed;
    ImageStream* stream = streamOf(handle);
    if (!stream->seek(int32_t(signedOffset), whence))
        return kFailed;
    if (whence == SEEK_SET)
        return offset;
    const int32_t position = stream->tell();
    return position < 0 ? kFailed : toff_t(position);
}

int clientClose(thandle_t) {
    return 0;
}

toff_t clientSize(thandle_t handle) {
    const int32_t size = streamOf(handle)->size();
    return size < 0 ? 0 : toff_t(size);
}

int clientMap(thandle_t, void**, toff_t*) {
    return 0;
}

void clientUnmap(thandle_t, void*, toff_t) {}

// Errors and warnings of a handle go nowhere; the codec reports its own text.
int silentHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

TIFF* clientOpen(ImageStream* stream, const char* mode) {
    // Messages that libtiff gives without a handle go to the process-wide
    // handlers, which print by default: they are silenced once.
    static const bool silenced = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)silenced;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, silentHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, silentHandler, nullptr);
    TIFF* handle = TIFFClientOpenExt("TIFF IMAGE", mode, stream, clientRead, clientWrite, clientSeek,
                                     clientClose, clientSize, clientMap, clientUnmap, options);
    TIFFOpenOptionsFree(options);
    return handle;
}

struct HandleCloser {
    void operator()(TIFF* handle) const { TIFFClose(handle); }
};
using HandlePtr = std::unique_ptr<TIFF, HandleCloser>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

template <class T>
MallocPtr<T> allocate(uint64_t count) {
    if (count == 0 || count > kMaxBufferBytes / sizeof(T))
        return nullptr;
    return MallocPtr<T>(static_cast<T*>(std::malloc(size_t(count) * sizeof(T))));
}

// How the palette reader turns one row of samples into the image's row.
enum class RowLayout {
    copy,        // one sample of the image's own depth
    high16,      // one 16-bit sample: its high byte
    indexAlpha,  // 8-bit index (or grey) and alpha
    indexAlpha16,
    cieLab,  // L, a, b (and alpha), 8 bits each
};

// One CIELab pixel (L unsigned, a and b signed) as blue, green, red through
// XYZ (D65 white) and the sRGB curve.
void labToBgr(uint8_t l, int8_t a, int8_t b, uint8_t* out) {
    const double fy = (l * 100.0 / 255.0 + 16.0) / 116.0;
    const double y = fy * fy * fy;
    const double fx = a / 500.0 + fy;
    const double fz = fy - b / 200.0;
    const double x = fx * fx * fx * 0.95047;
    const double z = fz * fz * fz * 1.0883;
    const double linear[3] = {
        3.240479 * x - 1.53715 * y - 0.498535 * z,
        -0.969256 * x + 1.875992 * y + 0.041556 * z,
        0.055648 * x - 0.204043 * y + 1.057311 * z,
    };
    for (int c = 0; c < 3; ++c) {
        double v = linear[c];
        v = v > 0.00304 ? 1.055 * std::pow(v, 0.41667) - 0.055 : 12.92 * v;
        v *= 255.0;
        const int value = v <= 0 ? 0 : (v >= 255 ? 255 : int(v));
        out[2 - c] = uint8_t(value);
    }
}

// The sample layouts the palette reader places as they stand; any other
// page goes through libtiff's RGBA reader.
bool paletteReaderFits(uint16_t photometric, uint16_t samples, uint16_t bits, uint16_t planar) {
    const bool grey = photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    if (samples > 1 && planar != PLANARCONFIG_CONTIG)
        return false;
    switch (samples) {
        case 1:
            return (grey && (bits == 1 || bits == 4 || bits == 8 || bits == 16)) ||
                   (palette && (bits == 4 || bits == 8));
        case 2:
            return (grey && (bits == 8 || bits == 16)) || (palette && bits == 8);
        case 3:
        case 4:
            return photometric == kCieLab && bits == 8;
        default:
            return false;
    }
}

bool isGreyRamp(const RasterImage& image) {
    const RgbQuad* palette = image.GetPalette();
    const uint32_t colours = image.GetColourCount();
    if (palette == nullptr || colours < 2)
        return false;
    for (uint32_t i = 0; i < colours; ++i) {
        const uint32_t grey = i * 255 / (colours - 1);
        if (palette[i].red != grey || palette[i].green != grey || palette[i].blue != grey)
            return false;
    }
    return true;
}

// Whether the strip or tile that libtiff's RGBA reader holds while it reads
// fits the page. A header can ask for thousands of samples a pixel, so that
// a small page would need gigabytes; real pages need at most a few times
// the 4 bytes a pixel of the reader's own raster, or a tile overhanging a
// small page.
bool rgbaBufferFits(TIFF* t, uint32_t width, uint32_t height, uint16_t samples, uint16_t planar) {
    constexpr uint64_t kSlack = uint64_t(64) << 20;
    uint64_t held = TIFFIsTiled(t) ? TIFFTileSize64(t) : TIFFStripSize64(t);
    if (planar == PLANARCONFIG_SEPARATE)  // one strip or tile of each colour plane and alpha
        held *= samples < 4 ? samples : 4;
    return held <= uint64_t(width) * height * 16 + kSlack;
}

// Whether libtiff can write `compression` for a page of this kind: the
// CCITT codings hold only bilevel pages, and JPEG holds 8-bit grey or
// colour samples (a palette index would not survive its loss).
bool compressionFits(uint32_t compression, int bitsPerPixel, uint16_t bitsPerSample, uint16_t photometric) {
    if (compression > 0xFFFF || !TIFFIsCODECConfigured(uint16_t(compression)))
        return false;
    switch (compression) {
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
            return bitsPerPixel == 1;
        case COMPRESSION_JPEG:
            return bitsPerSample == 8 && photometric != PHOTOMETRIC_PALETTE;
        default:
            return true;
    }
}

uint32_t defaultCompression(int bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return COMPRESSION_CCITTFAX4;
        case 4:
        case 8:
            return COMPRESSION_LZW;
        case 24:
        case 32:
            return COMPRESSION_JPEG;
        default:
            return COMPRESSION_NONE;
    }
}

// The fields of a page that decide how it is read, with libtiff's defaults
// (a page without a photometric tag is read as white-is-zero).
struct PageFields {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t samples = 1;
    uint16_t bits = 1;
    uint32_t rowsPerStrip = 0;
    uint16_t photometric = 0;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t compression = COMPRESSION_NONE;
};

PageFields readPageFields(TIFF* t) {
    PageFields page;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &page.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &page.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &page.photometric))
        page.photometric = PHOTOMETRIC_MINISWHITE;
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &page.orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &page.compression);
    return page;
}

// The resolution and the position on the page, where the file gives them.
void readPlacement(TIFF* t, RasterImage& image) {
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    float resolution = 0;
    if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &resolution))
        image.SetDpiX(saturateToInt(unit == RESUNIT_CENTIMETER ? resolution * 2.54 + 0.5 : resolution));
    if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &resolution))
        image.SetDpiY(saturateToInt(unit == RESUNIT_CENTIMETER ? resolution * 2.54 + 0.5 : resolution));
    float position = 0;
    if (TIFFGetField(t, TIFFTAG_XPOSITION, &position))
        image.info().offsetX = saturateToInt(position);
    if (TIFFGetField(t, TIFFTAG_YPOSITION, &position))
        image.info().offsetY = saturateToInt(position);
}

// Reads a page through libtiff's RGBA reader into the 24-bit image (and its
// alpha plane when the page has four samples).
void readThroughRgba(TIFF* t, RasterImage& image, const PageFields& page) {
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    auto raster = allocate<uint32_t>(uint64_t(width) * height);
    if (raster == nullptr)
        failCodec("No space for raster buffer");
    if (!TIFFReadRGBAImage(t, width, height, raster.get(), 1))
        failCodec("Corrupted TIFF file!");
    // The raster's first row is the bottom one, as the image's is.
    for (uint32_t r = 0; r < height; ++r) {
        if (image.info().escape != 0)
            failCodec("Cancelled");
        uint8_t* row = image.RowPointer(int32_t(r));
        const uint32_t* in = raster.get() + size_t(r) * width;
        uint8_t* alpha = page.samples == 4 ? image.alphaPlane() + size_t(r) * width : nullptr;
        for (uint32_t x = 0; x < width; ++x) {
            row[3 * x] = uint8_t(TIFFGetB(in[x]));
            row[3 * x + 1] = uint8_t(TIFFGetG(in[x]));
            row[3 * x + 2] = uint8_t(TIFFGetR(in[x]));
            if (alpha != nullptr)
                alpha[x] = uint8_t(TIFFGetA(in[x]));
        }
    }
}

// The palette of a palette image: the file's colour map, or the grey ramp
// (or black and white) its photometric interpretation means.
void readPalette(TIFF* t, RasterImage& image, uint16_t photometric, uint16_t bits) {
    RgbQuad palette[256] = {};
    const uint32_t colours = image.GetColourCount();
    if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t* red = nullptr;
        uint16_t* green = nullptr;
        uint16_t* blue = nullptr;
        if (!TIFFGetField(t, TIFFTAG_COLORMAP, &red, &green, &blue))
            failCodec("Corrupted TIFF file!");
        // The map holds 2^bits entries of 16 bits; some writers put 8-bit
        // values in them.
        const uint32_t entries = 1u << bits;
        bool wide = false;
        for (uint32_t i = 0; i < entries; ++i)
            wide = wide || red[i] > 255 || green[i] > 255 || blue[i] > 255;
        for (uint32_t i = 0; i < entries && i < colours; ++i) {
            palette[i].red = uint8_t(wide ? red[i] * 255u / 65535u : red[i]);
            palette[i].green = uint8_t(wide ? green[i] * 255u / 65535u : green[i]);
            palette[i].blue = uint8_t(wide ? blue[i] * 255u / 65535u : blue[i]);
        }
    } else if (colours == 2) {
        const int white = photometric == PHOTOMETRIC_MINISWHITE ? 0 : 1;
        palette[white] = RgbQuad{255, 255, 255, 0};
    } else {
        const uint32_t step = 255 / (colours - 1);
        for (uint32_t i = 0; i < colours; ++i) {
            uint32_t grey = i * step;
            if (photometric == PHOTOMETRIC_MINISWHITE)
                grey = 255 - grey;
            palette[i] = RgbQuad{uint8_t(grey), uint8_t(grey), uint8_t(grey), 0};
        }
    }
    image.SetPalette(palette, colours);
}

// Places file row `r` (the top one first) into the image, as its layout says.
class RowPlacer {
public:
    RowPlacer(RasterImage& image, const PageFields& page, RowLayout layout, uint64_t rowBytes)
        : m_image(image),
          m_width(page.width),
          m_height(page.height),
          m_samples(page.samples),
          m_layout(layout),
          m_rowBytes(rowBytes),
          m_stride(image.GetRowStride()) {}

    void operator()(const uint8_t* in, uint32_t r) const {
        const int32_t y = int32_t(m_height - 1 - r);
        uint8_t* row = m_image.RowPointer(y);
        uint8_t* alpha =
            m_image.alphaPlane() != nullptr ? m_image.alphaPlane() + size_t(y) * m_width : nullptr;
        switch (m_layout) {
            case RowLayout::copy:
                std::memcpy(row, in, size_t(m_rowBytes < m_stride ? m_rowBytes : m_stride));
                break;
            case RowLayout::high16:
                for (uint32_t x = 0; x < m_width; ++x)
                    row[x] = in[2 * x + 1];  // samples arrive in the machine's (little-endian) order
                break;
            case RowLayout::indexAlpha:
                for (uint32_t x = 0; x < m_width; ++x) {
                    row[x] = in[2 * x];
                    alpha[x] = in[2 * x + 1];
                }
                break;
            case RowLayout::indexAlpha16:
                for (uint32_t x = 0; x < m_width; ++x) {
                    row[x] = in[4 * x + 1];
                    alpha[x] = in[4 * x + 3];
                }
                break;
            case RowLayout::cieLab:
                for (uint32_t x = 0; x < m_width; ++x, in += m_samples) {
                    labToBgr(in[0], int8_t(in[1]), int8_t(in[2]), row + 3 * x);
                    if (alpha != nullptr)
                        alpha[x] = in[3];
                }
                break;
        }
    }

private:
    RasterImage& m_image;
    uint32_t m_width;
    uint32_t m_height;
    uint16_t m_samples;
    RowLayout m_layout;
    uint64_t m_rowBytes;
    uint32_t m_stride;
};

// A tiled page: each band of tiles is joined into rows before they are placed.
void readTiles(TIFF* t, RasterImage& image, const PageFields& page, uint64_t rowBytes,
               const RowPlacer& placeRow) {
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    uint32_t tileWidth = 0;
    uint32_t tileHeight = 0;
    TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(t, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileRowBytes = TIFFTileRowSize(t);
    const tmsize_t tileSize = TIFFTileSize(t);
    if (tileWidth == 0 || tileHeight == 0 || uint64_t(tileWidth) * tileHeight > kMaxTilePixels ||
        tileRowBytes <= 0 || uint64_t(tileSize) < uint64_t(tileRowBytes) * tileHeight)
        failCodec("Corrupted tiled TIFF file!");
    const uint64_t tilesAcross = (uint64_t(width) + tileWidth - 1) / tileWidth;
    const uint64_t bandStride = tilesAcross * uint64_t(tileRowBytes);
    if (bandStride < rowBytes)
        failCodec("Corrupted tiled TIFF file!");
    auto tile = allocate<uint8_t>(uint64_t(tileSize));
    auto band = allocate<uint8_t>(bandStride * tileHeight);
    if (tile == nullptr || band == nullptr)
        failCodec("RasterImageTIF can't allocate memory");
    for (uint64_t top = 0; top < height; top += tileHeight) {
        if (image.info().escape != 0)
            failCodec("Cancelled");
        for (uint64_t tx = 0; tx < tilesAcross; ++tx) {
            if (TIFFReadTile(t, tile.get(), uint32_t(tx * tileWidth), uint32_t(top), 0, 0) < 0)
                failCodec("Corrupted tiled TIFF file!");
            for (uint64_t line = 0; line < tileHeight; ++line)
                std::memcpy(band.get() + line * bandStride + tx * uint64_t(tileRowBytes),
                            tile.get() + line * uint64_t(tileRowBytes), size_t(tileRowBytes));
        }
        for (uint64_t line = 0; line < tileHeight && top + line < height; ++line)
            placeRow(band.get() + line * bandStride, uint32_t(top + line));
    }
}

void readStrips(TIFF* t, RasterImage& image, const PageFields& page, uint64_t rowBytes,
                const RowPlacer& placeRow) {
    const uint32_t height = page.height;
    const tmsize_t stripSize = TIFFStripSize(t);
    auto strip = allocate<uint8_t>(stripSize > 0 ? uint64_t(stripSize) : 0);
    if (strip == nullptr)
        failCodec("RasterImageTIF can't allocate memory");
    const uint32_t rows = page.rowsPerStrip == 0 ? height : page.rowsPerStrip;
    for (uint64_t top = 0; top < height; top += rows) {
        if (image.info().escape != 0)
            failCodec("Cancelled");
        const uint64_t count = height - top < rows ? height - top : rows;
        if (count * rowBytes > uint64_t(stripSize))
            failCodec("Corrupted TIFF file!");
        if (TIFFReadEncodedStrip(t, TIFFComputeStrip(t, uint32_t(top), 0), strip.get(), stripSize) < 0)
            failCodec("Corrupted TIFF file!");
        for (uint64_t line = 0; line < count; ++line)
            placeRow(strip.get() + line * rowBytes, uint32_t(top + line));
    }
}

// The picture as the orientation tag says it is to be seen: the rows were
// placed with the file's first row at the top.
void applyOrientation(RasterImage& image, uint16_t orientation) {
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            MirrorHorizontal(image);
            break;
        case ORIENTATION_BOTRIGHT:
            FlipVertical(image);
            MirrorHorizontal(image);
            break;
        case ORIENTATION_BOTLEFT:
            FlipVertical(image);
            break;
        case ORIENTATION_LEFTTOP:  // rows are columns: the transpose
            TurnRight(image);
            MirrorHorizontal(image);
            break;
        case ORIENTATION_RIGHTTOP:  // the first row is the right-hand column
            TurnRight(image);
            break;
        case ORIENTATION_RIGHTBOT:
            TurnLeft(image);
            MirrorHorizontal(image);
            break;
        case ORIENTATION_LEFTBOT:  // the first row is the left-hand column
            TurnLeft(image);
            break;
        default:
            break;
    }
}

// The page number and name of a page of a multi-page file, or the plain
// file type of a single page.
void writePageTags(TIFF* handle, bool multiPage, int32_t page, int32_t pageCount) {
    if (multiPage) {
        char name[32];
        std::snprintf(name, sizeof name, "Page %d", page);
        TIFFSetField(handle, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
        TIFFSetField(handle, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pageCount));
        TIFFSetField(handle, TIFFTAG_PAGENAME, name);
    } else {
        TIFFSetField(handle, TIFFTAG_SUBFILETYPE, uint32_t(0));
    }
}

// The palette as a colour map of 16-bit entries.
void writeColourMap(TIFF* handle, const RasterImage& image) {
    uint16_t red[256] = {};
    uint16_t green[256] = {};
    uint16_t blue[256] = {};
    const RgbQuad* palette = image.GetPalette();
    for (uint32_t i = 0; i < image.GetColourCount() && i < 256; ++i) {
        red[i] = uint16_t(palette[i].red * 257);
        green[i] = uint16_t(palette[i].green * 257);
        blue[i] = uint16_t(palette[i].blue * 257);
    }
    TIFFSetField(handle, TIFFTAG_COLORMAP, red, green, blue);
}

// One image row in the file's sample order: red, green, blue, with alpha
// after each pixel (or after each index of a 16-bit index-and-alpha row).
void fileRow(const uint8_t* row, const uint8_t* alpha, int32_t width, int bitsPerPixel, size_t rowBytes,
             uint8_t* out) {
    switch (bitsPerPixel) {
        case 16:
            for (int32_t x = 0; x < width; ++x) {
                out[2 * x] = row[x];
                out[2 * x + 1] = alpha[x];
            }
            break;
        case 24:
            for (int32_t x = 0; x < width; ++x) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            }
            break;
        case 32:
            for (int32_t x = 0; x < width; ++x) {
                out[4 * x] = row[3 * x + 2];
                out[4 * x + 1] = row[3 * x + 1];
                out[4 * x + 2] = row[3 * x];
                out[4 * x + 3] = alpha[x];
            }
            break;
        default:
            std::memcpy(out, row, rowBytes);
            break;
    }
}

}  // namespace

// --- Decoding ---------------------------------------------------------------------

bool RasterImageTIF::Decode(ImageStream* stream) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }
    HandlePtr handle(clientOpen(stream, "rb"));
    if (handle == nullptr) {
        setLastError("Error encountered while opening TIFF file");
        return false;
    }
    return runCodec([&] { return decodePage(handle.get()); });
}

bool RasterImageTIF::decodePage(TIFF* t) {
    m_info.frameCount = int32_t(TIFFNumberOfDirectories(t));
    if (m_info.frame < 0 || !TIFFSetDirectory(t, tdir_t(m_info.frame)))
        failCodec("Error: page not present in TIFF file");

    PageFields page = readPageFields(t);
    const uint32_t width = page.width;
    const uint32_t height = page.height;
    const uint16_t samples = page.samples;
    const uint16_t bits = page.bits;
    const uint16_t photometric = page.photometric;
    if (width > uint32_t(std::numeric_limits<int32_t>::max()) ||
        height > uint32_t(std::numeric_limits<int32_t>::max()))
        failCodec("Corrupted TIFF file!");

    if (m_info.escape == -1) {
        m_header.width = int32_t(width);
        m_header.height = int32_t(height);
        setLastError("output dimensions returned");
        return true;
    }

    readPlacement(t, *this);
    SetTransparentIndex(-1);
    if (page.rowsPerStrip > height) {
        page.rowsPerStrip = height;
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, page.rowsPerStrip);
    }

    const bool rgbaReader = (bits > 7 && photometric == PHOTOMETRIC_RGB) ||
                            photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_YCBCR ||
                            photometric == PHOTOMETRIC_LOGL || photometric == PHOTOMETRIC_LOGLUV ||
                            !paletteReaderFits(photometric, samples, bits, page.planar);
    if (rgbaReader && !rgbaBufferFits(t, width, height, samples, page.planar))
        failCodec("Corrupted TIFF file!");
    const bool cieLab = !rgbaReader && samples >= 3;
    int depth = 8;
    if (rgbaReader || cieLab)
        depth = 24;
    else if ((photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) && bits == 1)
        depth = 1;
    else if (bits == 4)
        depth = 4;

    if (m_info.escape != 0)
        failCodec("Cancelled");
    if (Create(int32_t(width), int32_t(height), depth, kFormatTiff) == nullptr)
        failCodec("RasterImageTIF can't create image");
    if ((samples == 4 || samples == 2) && !MakeAlphaPlane())
        failCodec("RasterImageTIF can't allocate memory");
    SetFormatOption(page.compression, kFormatTiff);

    if (rgbaReader) {
        readThroughRgba(t, *this, page);
        return true;
    }
    if (HasPalette())
        readPalette(t, *this, photometric, bits);

    RowLayout layout = RowLayout::copy;
    if (cieLab)
        layout = RowLayout::cieLab;
    else if (samples == 2)
        layout = bits == 16 ? RowLayout::indexAlpha16 : RowLayout::indexAlpha;
    else if (bits == 16)
        layout = RowLayout::high16;
    const uint64_t rowBytes = (uint64_t(samples) * bits * width + 7) / 8;
    const RowPlacer placeRow(*this, page, layout, rowBytes);
    if (TIFFIsTiled(t))
        readTiles(t, *this, page, rowBytes, placeRow);
    else
        readStrips(t, *this, page, rowBytes, placeRow);
    applyOrientation(*this, page.orientation);
    return true;
}

// --- Encoding ---------------------------------------------------------------------

RasterImageTIF::~RasterImageTIF() {
    closeHandle();
}

void RasterImageTIF::closeHandle() {
    if (m_handle != nullptr)
        TIFFClose(m_handle);
    m_handle = nullptr;
    m_multiPage = false;
    m_pageCounter = 0;
}

bool RasterImageTIF::Encode(ImageStream* stream, bool append) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }
    if (!HasPixels()) {
        setLastError("null image!!!");
        return false;
    }
    const auto fail = [this](const char* text) {
        setLastError(text);
        closeHandle();
        return false;
    };
    if (m_handle == nullptr) {
        m_handle = clientOpen(stream, "a");
        if (m_handle == nullptr)
            return fail("initialization fail");
    }
    if (append || m_pageCounter > 0)
        m_multiPage = true;
    ++m_pageCounter;
    if (!EncodeBody(m_handle, m_multiPage, m_pageCounter, m_pageCounter))
        return fail("Error saving TIFF file");
    if (!append) {
        // Closing writes the directory; a failure there is a failed save.
        const bool flushed = TIFFFlush(m_handle) != 0;
        closeHandle();
        if (!flushed) {
            setLastError("Error saving TIFF file");
            return false;
        }
    } else if (!TIFFWriteDirectory(m_handle)) {
        return fail("Error saving TIFF directory");
    }
    return true;
}

bool RasterImageTIF::EncodeToMemory(uint8_t*& buffer, int32_t& size) {
    if (buffer != nullptr) {
        setLastError("the buffer must be empty");
        return false;
    }
    MemoryStream stream;
    if (!stream.open() || !Encode(&stream, false))
        return false;
    size = stream.size();
    buffer = stream.detach(true);
    return true;
}

bool RasterImageTIF::EncodeBody(TIFF* handle, bool multiPage, int32_t page, int32_t pageCount) {
    if (handle == nullptr || !HasPixels())
        return false;
    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    int bitsPerPixel = GetBpp();
    uint16_t samples = bitsPerPixel == 24 ? 3 : 1;
    if (HasAlpha() && bitsPerPixel == 24) {
        bitsPerPixel = 32;
        samples = 4;
    } else if (HasAlpha() && bitsPerPixel == 8) {
        bitsPerPixel = 16;
        samples = 2;
    }
    const auto bitsPerSample = uint16_t(bitsPerPixel / samples);

    const uint16_t photometric = choosePhotometric();

    TIFFSetField(handle, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(handle, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(handle, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(handle, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    TIFFSetField(handle, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(handle, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(handle, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    uint32_t rowsPerStrip = TIFFDefaultStripSize(handle, uint32_t(-1));
    TIFFSetField(handle, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    TIFFSetField(handle, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(handle, TIFFTAG_XRESOLUTION, float(m_info.dpiX));
    TIFFSetField(handle, TIFFTAG_YRESOLUTION, float(m_info.dpiY));
    writePageTags(handle, multiPage, page, pageCount);
    if (photometric == PHOTOMETRIC_PALETTE)
        writeColourMap(handle, *this);
    // Readers must be told that the extra sample is (unassociated) alpha.
    if (samples == 2 || samples == 4) {
        const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(handle, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }

    uint32_t compression = GetFormatOption(kFormatTiff);
    if (compression == 0 || !compressionFits(compression, bitsPerPixel, bitsPerSample, photometric))
        compression = defaultCompression(bitsPerPixel);
    if (!compressionFits(compression, bitsPerPixel, bitsPerSample, photometric))
        compression = COMPRESSION_LZW;
    TIFFSetField(handle, TIFFTAG_COMPRESSION, uint16_t(compression));
    if (compression == COMPRESSION_LZW && bitsPerPixel >= 8)
        TIFFSetField(handle, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(handle, TIFFTAG_JPEGQUALITY, int(m_info.quality));
        // JPEG strips hold whole rows of 8 x 8 blocks.
        rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
        TIFFSetField(handle, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    }

    // libtiff may code a row in place (the predictor does), so every row is
    // handed over in a buffer of its own.
    const size_t rowBytes = (size_t(width) * size_t(bitsPerPixel) + 7) / 8;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[rowBytes + 8]);
    if (buffer == nullptr)
        return false;
    uint8_t* out = buffer.get();
    for (int32_t r = 0; r < height; ++r) {
        const int32_t y = height - 1 - r;
        const uint8_t* row = RowPointer(y);
        const uint8_t* alpha = HasAlpha() ? m_alpha + size_t(y) * size_t(width) : nullptr;
        fileRow(row, alpha, width, bitsPerPixel, rowBytes, out);
        if (TIFFWriteScanline(handle, out, uint32_t(r), 0) < 0)
            return false;
    }
    return true;
}

uint16_t RasterImageTIF::choosePhotometric() {
    if (GetBpp() == 1) {
        // Min-is-white makes pixel 0 white: when entry 0 is the darker
        // colour, entries and pixels are exchanged so that the page keeps
        // its look.
        const RgbQuad first = PaletteEntry(0);
        const RgbQuad second = PaletteEntry(1);
        const auto grey = [](RgbQuad c) { return (c.red * 306 + c.green * 601 + c.blue * 117) >> 10; };
        if (grey(first) < grey(second)) {
            RgbQuad* palette = GetPalette();
            palette[0] = second;
            palette[1] = first;
            clearNearestCache();
            uint8_t* pixels = m_info.pixels;
            for (uint32_t i = 0; i < m_header.sizeImage; ++i)
                pixels[i] = uint8_t(~pixels[i]);
        }
        return PHOTOMETRIC_MINISWHITE;
    }
    if (GetBpp() == 4 || GetBpp() == 8)
        return isGreyRamp(*this) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
    return PHOTOMETRIC_RGB;
}

}  // namespace rendova
