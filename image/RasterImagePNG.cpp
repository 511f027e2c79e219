// The PNG codec's adapter over libpng. libpng reports a fatal error by
// calling the error callback, which must not return: ours jumps back to the
// recovery point with png_longjmp. Every call into libpng that can fail
// therefore goes through one of the small guard functions below, each of
// which sets the recovery point and makes its calls; nothing with a
// destructor lives in their frames, and no C++ exception is raised where a
// libpng frame could lie between it and its handler. The stream callbacks
// report short reads and writes through png_error for the same reason.
#include "image/RasterImagePNG.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <png.h>

#include "image/ImageStream.h"

namespace rendova {

namespace {

// The grey that transparent parts are composited over when the file names
// no background colour.
constexpr png_uint_16 kDefaultBackground = 192;
// Palette files below this many pixels are scanned for the highest index in
// use, so that small images get a short palette.
constexpr uint64_t kShortPaletteMaxPixels = 65536;
// The largest ancillary chunk (text, ICC profile) libpng is let to
// allocate: a chunk claiming more is damaged, and without a limit a
// hundred-byte file could make it allocate a gigabyte before reading.
constexpr png_alloc_size_t kMaxChunkBytes = 16u << 20;

struct ErrorText {
    char text[256];
};

void errorCallback(png_structp png, png_const_charp message) {
    auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
    if (error != nullptr)
        std::snprintf(error->text, sizeof error->text, "%s", message != nullptr ? message : "");
    png_longjmp(png, 1);
}

// Warnings go nowhere.
void warningCallback(png_structp, png_const_charp) {}

void readCallback(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<ImageStream*>(png_get_io_ptr(png));
    if (stream->read(data, 1, length) != length)
        png_error(png, "Read Error");
}

void writeCallback(png_structp png, png_bytep data, size_t length) {
    auto* stream = static_cast<ImageStream*>(png_get_io_ptr(png));
    if (stream->write(data, 1, length) != length)
        png_error(png, "Write Error");
}

void flushCallback(png_structp png) {
    auto* stream = static_cast<ImageStream*>(png_get_io_ptr(png));
    if (!stream->flush())
        png_error(png, "Flush Error");
}

// --- Guarded calls (false: libpng took its error exit) -------------------------

bool guardedReadInfo(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    return true;
}

struct ReadTransforms {
    bool compose;
    png_color_16 background;
    int gammaCode;
    bool expandBackground;
    bool strip16;
    bool greyToRgb;
    bool filler;
    bool bgr;
};

// Sets the transformations and lets libpng work out the rows they give.
// `passes` receives the number of interlace passes.
bool guardedSetTransforms(png_structp png, png_infop info, const ReadTransforms* t, int* passes) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    if (t->compose)
        png_set_background(png, &t->background, t->gammaCode, t->expandBackground, 1.0);
    if (t->strip16)
        png_set_strip_16(png);
    if (t->greyToRgb)
        png_set_gray_to_rgb(png);
    if (t->filler)
        png_set_filler(png, 255, PNG_FILLER_AFTER);
    if (t->bgr)
        png_set_bgr(png);
    *passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return true;
}

bool guardedReadRow(png_structp png, png_bytep row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_row(png, row, nullptr);
    return true;
}

bool guardedReadEnd(png_structp png) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_end(png, nullptr);
    return true;
}

// The deflate level of written files; why 4, guardedWriteInfo says.
constexpr int kDeflateLevel = 4;

struct WriteHeader {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colourType;
    int interlace;
    png_color_16 background;
    bool haveBackground;
    png_uint_32 xPelsPerMetre;
    png_uint_32 yPelsPerMetre;
    const png_color* palette;
    int paletteCount;
    const png_byte* alphas;
    int alphaCount;
    bool bgr;
};

bool guardedWriteInfo(png_structp png, png_infop info, const WriteHeader* h, int* passes) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, h->width, h->height, h->bitDepth, h->colourType, h->interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (h->palette != nullptr)
        png_set_PLTE(png, info, h->palette, h->paletteCount);
    if (h->alphas != nullptr)
        png_set_tRNS(png, info, h->alphas, h->alphaCount, nullptr);
    if (h->haveBackground)
        png_set_bKGD(png, info, &h->background);
    png_set_pHYs(png, info, h->xPelsPerMetre, h->yPelsPerMetre, PNG_RESOLUTION_METER);
    // Chosen by measurement on rendered pages: unfiltered rows at level 4
    // encode a third faster than libpng's default (level 6, each row's
    // filter chosen by trial) and give files 17% smaller, 3% larger than
    // unfiltered level 6; level 3 files were 10% larger again.
    png_set_compression_level(png, kDeflateLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    if (h->bgr)
        png_set_bgr(png);
    *passes = png_set_interlace_handling(png);
    return true;
}

bool guardedWriteRow(png_structp png, png_const_bytep row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, row);
    return true;
}

bool guardedWriteEnd(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

struct ReadStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStructs() {
        if (png != nullptr)
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

struct WriteStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~WriteStructs() {
        if (png != nullptr)
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    }
};

// Makes the libpng structures, for reading or writing as `create` does,
// with our error callbacks; the failure text, or null.
template <class Structs>
const char* createStructs(Structs& s, decltype(&png_create_read_struct) create, ErrorText& error) {
    s.png = create(PNG_LIBPNG_VER_STRING, &error, errorCallback, warningCallback);
    if (s.png == nullptr)
        return "Failed to create PNG structure";
    s.info = png_create_info_struct(s.png);
    if (s.info == nullptr)
        return "Failed to initialize PNG info structure";
    return nullptr;
}

// 2-bit pixels made 4-bit nibbles in place, from the right end so that the
// wider output never overwrites input not yet read.
void widenTwoBitRow(uint8_t* row, uint32_t width) {
    for (uint32_t x = width; x-- > 0;) {
        const uint8_t pixel = (row[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        uint8_t& out = row[x >> 1];
        out = (x & 1) ? uint8_t((out & 0xF0) | pixel) : uint8_t((out & 0x0F) | (pixel << 4));
    }
}

// floor(pixels per metre x 0.0254 + 0.5).
int32_t dpiFromPelsPerMetre(png_uint_32 pelsPerMetre) {
    return int32_t(std::floor(pelsPerMetre * 0.0254 + 0.5));
}

// --- Decoding steps --------------------------------------------------------------

// The file's own layout, as its header gives it.
struct FileLayout {
    png_uint_32 width;
    png_uint_32 height;
    int bitDepth;
    int colourType;
    int pixelDepth;
};

FileLayout readLayout(png_structp png, png_infop info) {
    FileLayout file{};
    file.width = png_get_image_width(png, info);
    file.height = png_get_image_height(png, info);
    file.bitDepth = png_get_bit_depth(png, info);
    file.colourType = png_get_color_type(png, info);
    file.pixelDepth = file.bitDepth * png_get_channels(png, info);
    return file;
}

// Every layout but 32-bit pixels is composited over the file's background
// (or the default grey); 32-bit pixels keep their alpha, and the file's
// background becomes the image's transparent colour instead.
ReadTransforms chooseBackground(png_structp png, png_infop info, const FileLayout& file, RasterImage& image) {
    ReadTransforms t{};
    png_color_16p fileBackground = nullptr;
    const bool haveBackground = png_get_bKGD(png, info, &fileBackground) != 0;
    if (file.pixelDepth != 32) {
        t.compose = true;
        if (haveBackground) {
            t.background = *fileBackground;
            t.gammaCode = PNG_BACKGROUND_GAMMA_FILE;
            t.expandBackground = true;
        } else {
            // Given in the output's terms: a grey file below 8 bits keeps its
            // depth, so its grey is scaled to that depth.
            png_uint_16 grey = kDefaultBackground;
            if (file.colourType == PNG_COLOR_TYPE_GRAY && file.bitDepth < 8)
                grey = png_uint_16((kDefaultBackground * ((1 << file.bitDepth) - 1) + 127) / 255);
            t.background.red = t.background.green = t.background.blue = t.background.gray = grey;
            t.gammaCode = PNG_BACKGROUND_GAMMA_SCREEN;
            t.expandBackground = false;
        }
    } else if (haveBackground) {
        RgbQuad colour{};
        if (file.colourType & PNG_COLOR_MASK_COLOR)
            colour = RgbQuad{uint8_t(fileBackground->blue), uint8_t(fileBackground->green),
                             uint8_t(fileBackground->red), 0};
        else
            colour.red = colour.green = colour.blue = uint8_t(fileBackground->gray >> 8);
        image.SetTransparentColour(colour);
    }
    t.strip16 = file.bitDepth == 16;
    return t;
}

// The image's depth for the file's pixels: 16-bit pixels are stripped to 8,
// everything wider becomes 24-bit colour.
int decodedDepth(int pixelDepth) {
    if (pixelDepth == 16)
        return 8;
    return pixelDepth > 16 ? 24 : pixelDepth;
}

void readResolution(png_structp png, png_infop info, RasterImage& image) {
    png_uint_32 resX = 0;
    png_uint_32 resY = 0;
    int unit = 0;
    int32_t dpiX = 0;
    int32_t dpiY = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) != 0) {
        if (unit == PNG_RESOLUTION_METER) {
            dpiX = dpiFromPelsPerMetre(resX);
            dpiY = dpiFromPelsPerMetre(resY);
        } else {
            dpiX = resX > INT32_MAX ? INT32_MAX : int32_t(resX);
            dpiY = resY > INT32_MAX ? INT32_MAX : int32_t(resY);
        }
    }
    image.SetDpiX(dpiX);
    image.SetDpiY(dpiY);
}

void readPalette(png_structp png, png_infop info, const FileLayout& file, RasterImage& image) {
    png_colorp plte = nullptr;
    int plteCount = 0;
    if (png_get_PLTE(png, info, &plte, &plteCount) != 0 && plte != nullptr) {
        image.SetPalette(reinterpret_cast<const uint8_t*>(plte), uint32_t(plteCount));
    } else if (file.bitDepth == 2) {
        for (uint8_t i = 0; i < 4; ++i)
            image.SetPaletteEntry(i, uint8_t(85 * i), uint8_t(85 * i), uint8_t(85 * i));
    } else {
        image.MakeGreyPalette();
    }

    // Alpha values belong to palette entries only: the transparency chunk of
    // a grey or RGB file names one transparent colour, which the compositing
    // deals with.
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    if (file.colourType != PNG_COLOR_TYPE_PALETTE ||
        png_get_tRNS(png, info, &alphas, &alphaCount, nullptr) == 0 || alphas == nullptr || alphaCount <= 0)
        return;
    RgbQuad* palette = image.GetPalette();
    const uint32_t colours = image.GetColourCount();
    const uint32_t count = uint32_t(alphaCount) < colours ? uint32_t(alphaCount) : colours;
    for (uint32_t i = 0; i < count; ++i)
        palette[i].reserved = alphas[i];
    if (alphaCount == 1 && alphas[0] == 0) {
        image.SetTransparentIndex(0);
    } else {
        image.info().alphaPaletteEnabled = true;
        for (uint32_t i = count; i < colours; ++i)
            palette[i].reserved = 255;
    }
}

// Reads libpng's RGBA row into `buffer` and splits it into the row's colours
// and the alpha plane's row; on a later pass the buffer first gets what
// earlier passes delivered, which libpng merges the new pass into.
bool readAlphaRow(png_structp png, uint8_t* row, uint8_t* alpha, uint8_t* buffer, png_uint_32 width,
                  bool merge) {
    uint8_t* b = buffer;
    if (merge) {
        for (png_uint_32 x = 0; x < width; ++x) {
            b[4 * x] = row[3 * x];
            b[4 * x + 1] = row[3 * x + 1];
            b[4 * x + 2] = row[3 * x + 2];
            b[4 * x + 3] = alpha[x];
        }
    }
    if (!guardedReadRow(png, b))
        return false;
    for (png_uint_32 x = 0; x < width; ++x) {
        row[3 * x] = b[4 * x];
        row[3 * x + 1] = b[4 * x + 1];
        row[3 * x + 2] = b[4 * x + 2];
        alpha[x] = b[4 * x + 3];
    }
    return true;
}

// Reads every row of every pass, bottom row of the image last. A null
// `buffer` reads straight into the image's rows; otherwise `buffer` holds
// what libpng delivers per row (`rowBytes`). Returns the failure text, or
// null.
const char* readPasses(png_structp png, RasterImage& image, const FileLayout& file, int passes,
                       bool withAlpha, uint8_t* buffer, size_t rowBytes, const ErrorText& error) {
    const uint32_t stride = image.GetRowStride();
    const auto rows = int32_t(file.height);
    for (int pass = 0; pass < passes; ++pass) {
        const bool lastPass = pass == passes - 1;
        for (int32_t j = 0; j < rows; ++j) {
            if (image.info().escape != 0)
                return "Cancelled";
            const int32_t y = rows - 1 - j;
            uint8_t* row = image.RowPointer(y);
            if (buffer == nullptr) {
                // The row itself holds what earlier passes delivered, which
                // libpng merges the new pass into.
                if (!guardedReadRow(png, row))
                    return error.text;
                if (file.bitDepth == 2 && lastPass)
                    widenTwoBitRow(row, file.width);
                continue;
            }
            if (withAlpha) {
                uint8_t* alpha = image.alphaPlane() + size_t(y) * file.width;
                if (!readAlphaRow(png, row, alpha, buffer, file.width, pass > 0))
                    return error.text;
            } else {
                const size_t copy = rowBytes < stride ? rowBytes : stride;
                if (pass > 0)
                    std::memcpy(buffer, row, copy);
                if (!guardedReadRow(png, buffer))
                    return error.text;
                std::memcpy(row, buffer, copy);
            }
        }
    }
    return nullptr;
}

// --- Encoding steps --------------------------------------------------------------

// The palette and its transparency table for a palette image. `plte` and
// `alphas` hold 256 entries and must outlive the header.
void describePalette(RasterImage& image, WriteHeader& h, png_color* plte, png_byte* alphas) {
    const int32_t width = image.GetWidth();
    const int32_t height = image.GetHeight();
    uint32_t colours = image.GetColourCount();
    const int32_t transparent = image.GetTransparentIndex();
    if (transparent > 0 && uint32_t(transparent) < colours) {
        // A one-entry transparency table names entry 0: the transparent
        // entry and its pixels move there.
        image.ExchangeIndices(0, uint8_t(transparent));
        image.SetTransparentIndex(0);
    }
    if (colours > 2 && uint64_t(width) * uint64_t(height) < kShortPaletteMaxPixels) {
        uint32_t highest = 0;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                const uint32_t index = image.ReadIndexUnchecked(x, y);
                if (index > highest)
                    highest = index;
            }
        }
        colours = highest + 1;
    }
    const RgbQuad* entries = image.GetPalette();
    for (uint32_t i = 0; i < colours; ++i) {
        plte[i] = png_color{entries[i].red, entries[i].green, entries[i].blue};
        alphas[i] = entries[i].reserved;
    }
    h.palette = plte;
    h.paletteCount = int(colours);
    if (image.info().alphaPaletteEnabled) {
        h.alphas = alphas;
        h.alphaCount = int(colours);
    } else if (image.GetTransparentIndex() == 0) {
        alphas[0] = 0;
        h.alphas = alphas;
        h.alphaCount = 1;
    }
}

// The background: the transparent colour when there is one, else white
// (for a palette file, the entry nearest to it).
void describeBackground(RasterImage& image, WriteHeader& h) {
    h.haveBackground = true;
    const RgbQuad back = image.HasTransparency() ? image.GetTransparentColour() : RgbQuad{255, 255, 255, 0};
    if (h.colourType == PNG_COLOR_TYPE_PALETTE) {
        h.background.index = image.HasTransparency() ? 0 : image.NearestPaletteIndex(back);
        // The entry must be among those written.
        h.haveBackground = h.background.index < h.paletteCount;
    }
    h.background.red = back.red;
    h.background.green = back.green;
    h.background.blue = back.blue;
}

// Rows as the image holds them: palette indices, or blue, green, red bytes
// that libpng swaps.
bool writeStoredRows(png_structp png, RasterImage& image, int passes) {
    for (int pass = 0; pass < passes; ++pass) {
        for (int32_t y = image.GetHeight() - 1; y >= 0; --y) {
            if (!guardedWriteRow(png, image.RowPointer(y)))
                return false;
        }
    }
    return true;
}

// Rows as red, green, blue, alpha through `buffer` (4 bytes a pixel): the
// alpha plane's level, or 0 for pixels of the transparent colour, scaled by
// the image's alpha maximum.
bool writeRgbaRows(png_structp png, const RasterImage& image, int passes, uint8_t* buffer) {
    const int32_t width = image.GetWidth();
    const bool palette = image.HasPalette();
    const RgbQuad key = image.GetTransparentColour();
    const unsigned alphaMax = image.info().alphaMax;
    const RgbQuad* entries = image.GetPalette();
    for (int pass = 0; pass < passes; ++pass) {
        for (int32_t y = image.GetHeight() - 1; y >= 0; --y) {
            const uint8_t* row = image.RowPointer(y);
            const uint8_t* alpha =
                image.HasAlpha() ? image.alphaPlane() + size_t(y) * size_t(width) : nullptr;
            uint8_t* out = buffer;
            for (int32_t x = 0; x < width; ++x, out += 4) {
                RgbQuad c;
                if (palette)
                    c = entries[image.ReadIndexUnchecked(x, y)];
                else
                    c = RgbQuad{row[3 * x], row[3 * x + 1], row[3 * x + 2], 0};
                unsigned a = 255;
                if (alpha != nullptr)
                    a = alpha[x];
                else if (c.blue == key.blue && c.green == key.green && c.red == key.red)
                    a = 0;
                out[0] = c.red;
                out[1] = c.green;
                out[2] = c.blue;
                out[3] = uint8_t(a * alphaMax / 255);
            }
            if (!guardedWriteRow(png, buffer))
                return false;
        }
    }
    return true;
}

}  // namespace

bool RasterImagePNG::Decode(ImageStream* stream) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }
    ErrorText error{};
    ReadStructs s;
    if (const char* failure = createStructs(s, png_create_read_struct, error)) {
        setLastError(failure);
        return false;
    }
    const auto failed = [&]() {
        setLastError(error.text);
        return false;
    };
    png_set_read_fn(s.png, stream, readCallback);
    png_set_chunk_malloc_max(s.png, kMaxChunkBytes);
    if (!guardedReadInfo(s.png, s.info))
        return failed();

    const FileLayout file = readLayout(s.png, s.info);
    ReadTransforms t = chooseBackground(s.png, s.info, file, *this);
    if (Create(int32_t(file.width), int32_t(file.height), decodedDepth(file.pixelDepth), kFormatPng) ==
        nullptr)
        return false;
    readResolution(s.png, s.info, *this);
    readPalette(s.png, s.info, file, *this);

    const bool withAlpha = file.colourType == PNG_COLOR_TYPE_RGB_ALPHA ||
                           (file.colourType == PNG_COLOR_TYPE_GRAY_ALPHA && file.pixelDepth == 32);
    if (withAlpha) {
        t.greyToRgb = file.colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
        t.filler = true;
        if (!MakeAlphaPlane()) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
    }
    t.bgr = file.colourType == PNG_COLOR_TYPE_RGB || file.colourType == PNG_COLOR_TYPE_RGB_ALPHA;

    if (m_info.escape != 0) {
        setLastError("Cancelled");
        return false;
    }
    int passes = 1;
    if (!guardedSetTransforms(s.png, s.info, &t, &passes))
        return failed();
    SetFormatOption(passes > 1 ? 1 : 0, kFormatPng);

    // What libpng delivers per row after the transformations: the row
    // buffer is sized by it, never by the file's own depth.
    const size_t rowBytes = png_get_rowbytes(s.png, s.info);
    const int outChannels = png_get_channels(s.png, s.info);
    const int outDepth = png_get_bit_depth(s.png, s.info);
    if (withAlpha && (outChannels != 4 || outDepth != 8 || rowBytes < size_t(file.width) * 4)) {
        setLastError("Unsupported PNG pixel layout");
        return false;
    }
    const bool direct = !withAlpha && rowBytes <= GetRowStride();
    std::unique_ptr<uint8_t[]> buffer;
    if (!direct) {
        buffer.reset(new (std::nothrow) uint8_t[rowBytes + 10]());
        if (buffer == nullptr) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
    }
    if (const char* failure =
            readPasses(s.png, *this, file, passes, withAlpha, buffer.get(), rowBytes, error)) {
        setLastError(failure);
        return false;
    }
    if (!guardedReadEnd(s.png))
        return failed();
    return true;
}

bool RasterImagePNG::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    ErrorText error{};
    WriteStructs s;
    if (const char* failure = createStructs(s, png_create_write_struct, error)) {
        setLastError(failure);
        return false;
    }
    const auto failed = [&]() {
        setLastError("Error saving PNG file");
        return false;
    };
    png_set_write_fn(s.png, stream, writeCallback, flushCallback);

    const int32_t width = GetWidth();
    WriteHeader h{};
    h.width = png_uint_32(width);
    h.height = png_uint_32(GetHeight());
    h.interlace = GetFormatOption(kFormatPng) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    h.xPelsPerMetre = png_uint_32(m_header.xPelsPerMeter > 0 ? m_header.xPelsPerMeter : 0);
    h.yPelsPerMetre = png_uint_32(m_header.yPelsPerMeter > 0 ? m_header.yPelsPerMeter : 0);

    // 24-bit pixels of the transparent colour are written with alpha 0.
    const bool keyedAlpha = !HasPalette() && !HasAlpha() && HasTransparency();
    const bool rgba = HasAlpha() || keyedAlpha;

    png_color plte[256];
    png_byte alphas[256];
    if (rgba) {
        h.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        h.bitDepth = 8;
    } else if (HasPalette()) {
        h.colourType = PNG_COLOR_TYPE_PALETTE;
        h.bitDepth = GetBpp();
        describePalette(*this, h, plte, alphas);
    } else {
        h.colourType = PNG_COLOR_TYPE_RGB;
        h.bitDepth = 8;
        h.bgr = true;
    }
    describeBackground(*this, h);

    int passes = 1;
    if (!guardedWriteInfo(s.png, s.info, &h, &passes))
        return failed();
    if (!rgba) {
        if (!writeStoredRows(s.png, *this, passes))
            return failed();
    } else {
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(width) * 4 + 10]);
        if (buffer == nullptr) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
        if (!writeRgbaRows(s.png, *this, passes, buffer.get()))
            return failed();
    }
    if (!guardedWriteEnd(s.png, s.info))
        return failed();
    return true;
}

}  // namespace rendova
