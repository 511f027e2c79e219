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

}  // namespace

bool RasterImagePNG::Decode(ImageStream* stream) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }
    ErrorText error{};
    ReadStructs s;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, errorCallback, warningCallback);
    if (s.png == nullptr) {
        setLastError("Failed to create PNG structure");
        return false;
    }
    s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) {
        setLastError("Failed to initialize PNG info structure");
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

    const png_uint_32 width = png_get_image_width(s.png, s.info);
    const png_uint_32 height = png_get_image_height(s.png, s.info);
    const int bitDepth = png_get_bit_depth(s.png, s.info);
    const int colourType = png_get_color_type(s.png, s.info);
    const int pixelDepth = bitDepth * png_get_channels(s.png, s.info);

    ReadTransforms t{};
    png_color_16p fileBackground = nullptr;
    const bool haveBackground = png_get_bKGD(s.png, s.info, &fileBackground) != 0;
    if (pixelDepth != 32) {
        t.compose = true;
        if (haveBackground) {
            t.background = *fileBackground;
            t.gammaCode = PNG_BACKGROUND_GAMMA_FILE;
            t.expandBackground = true;
        } else {
            // Given in the output's terms: a grey file below 8 bits keeps its
            // depth, so its grey is scaled to that depth.
            png_uint_16 grey = kDefaultBackground;
            if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8)
                grey = png_uint_16((kDefaultBackground * ((1 << bitDepth) - 1) + 127) / 255);
            t.background.red = t.background.green = t.background.blue = t.background.gray = grey;
            t.gammaCode = PNG_BACKGROUND_GAMMA_SCREEN;
            t.expandBackground = false;
        }
    } else if (haveBackground) {
        RgbQuad colour{};
        if (colourType & PNG_COLOR_MASK_COLOR)
            colour = RgbQuad{uint8_t(fileBackground->blue), uint8_t(fileBackground->green),
                             uint8_t(fileBackground->red), 0};
        else
            colour.red = colour.green = colour.blue = uint8_t(fileBackground->gray >> 8);
        SetTransparentColour(colour);
    }
    t.strip16 = bitDepth == 16;

    int depth = pixelDepth;
    if (depth == 16)
        depth = 8;
    else if (depth > 16)
        depth = 24;
    if (Create(int32_t(width), int32_t(height), depth, kFormatPng) == nullptr)
        return false;

    png_uint_32 resX = 0;
    png_uint_32 resY = 0;
    int unit = 0;
    int32_t dpiX = 0;
    int32_t dpiY = 0;
    if (png_get_pHYs(s.png, s.info, &resX, &resY, &unit) != 0) {
        if (unit == PNG_RESOLUTION_METER) {
            dpiX = dpiFromPelsPerMetre(resX);
            dpiY = dpiFromPelsPerMetre(resY);
        } else {
            dpiX = resX > INT32_MAX ? INT32_MAX : int32_t(resX);
            dpiY = resY > INT32_MAX ? INT32_MAX : int32_t(resY);
        }
    }
    SetDpiX(dpiX);
    SetDpiY(dpiY);

    png_colorp plte = nullptr;
    int plteCount = 0;
    if (png_get_PLTE(s.png, s.info, &plte, &plteCount) != 0 && plte != nullptr) {
        SetPalette(reinterpret_cast<const uint8_t*>(plte), uint32_t(plteCount));
    } else if (bitDepth == 2) {
        for (uint8_t i = 0; i < 4; ++i)
            SetPaletteEntry(i, uint8_t(85 * i), uint8_t(85 * i), uint8_t(85 * i));
    } else {
        MakeGreyPalette();
    }

    // Alpha values belong to palette entries only: the transparency chunk of
    // a grey or RGB file names one transparent colour, which the compositing
    // above deals with.
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    if (colourType == PNG_COLOR_TYPE_PALETTE &&
        png_get_tRNS(s.png, s.info, &alphas, &alphaCount, nullptr) != 0 && alphas != nullptr &&
        alphaCount > 0) {
        RgbQuad* palette = GetPalette();
        const uint32_t colours = GetColourCount();
        const uint32_t count = uint32_t(alphaCount) < colours ? uint32_t(alphaCount) : colours;
        for (uint32_t i = 0; i < count; ++i)
            palette[i].reserved = alphas[i];
        if (alphaCount == 1 && alphas[0] == 0) {
            SetTransparentIndex(0);
        } else {
            m_info.alphaPaletteEnabled = true;
            for (uint32_t i = count; i < colours; ++i)
                palette[i].reserved = 255;
        }
    }

    const bool withAlpha = colourType == PNG_COLOR_TYPE_RGB_ALPHA ||
                           (colourType == PNG_COLOR_TYPE_GRAY_ALPHA && pixelDepth == 32);
    if (withAlpha) {
        t.greyToRgb = colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
        t.filler = true;
        if (!MakeAlphaPlane()) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
    }
    t.bgr = colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_RGB_ALPHA;

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
    if (withAlpha && (outChannels != 4 || outDepth != 8 || rowBytes < size_t(width) * 4)) {
        setLastError("Unsupported PNG pixel layout");
        return false;
    }
    const uint32_t stride = GetRowStride();
    const bool direct = !withAlpha && rowBytes <= stride;
    std::unique_ptr<uint8_t[]> buffer;
    if (!direct) {
        buffer.reset(new (std::nothrow) uint8_t[rowBytes + 10]());
        if (buffer == nullptr) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
    }

    const auto rows = int32_t(height);
    for (int pass = 0; pass < passes; ++pass) {
        const bool lastPass = pass == passes - 1;
        for (int32_t j = 0; j < rows; ++j) {
            if (m_info.escape != 0) {
                setLastError("Cancelled");
                return false;
            }
            const int32_t y = rows - 1 - j;
            uint8_t* row = RowPointer(y);
            if (direct) {
                // The row itself holds what earlier passes delivered, which
                // libpng merges the new pass into.
                if (!guardedReadRow(s.png, row))
                    return failed();
                if (bitDepth == 2 && lastPass)
                    widenTwoBitRow(row, width);
                continue;
            }
            uint8_t* b = buffer.get();
            if (withAlpha) {
                uint8_t* alpha = m_alpha + size_t(y) * width;
                if (pass > 0) {
                    for (png_uint_32 x = 0; x < width; ++x) {
                        b[4 * x] = row[3 * x];
                        b[4 * x + 1] = row[3 * x + 1];
                        b[4 * x + 2] = row[3 * x + 2];
                        b[4 * x + 3] = alpha[x];
                    }
                }
                if (!guardedReadRow(s.png, b))
                    return failed();
                for (png_uint_32 x = 0; x < width; ++x) {
                    row[3 * x] = b[4 * x];
                    row[3 * x + 1] = b[4 * x + 1];
                    row[3 * x + 2] = b[4 * x + 2];
                    alpha[x] = b[4 * x + 3];
                }
            } else {
                const size_t copy = rowBytes < stride ? rowBytes : stride;
                if (pass > 0)
                    std::memcpy(b, row, copy);
                if (!guardedReadRow(s.png, b))
                    return failed();
                std::memcpy(row, b, copy);
            }
        }
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
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, errorCallback, warningCallback);
    if (s.png == nullptr) {
        setLastError("Failed to create PNG structure");
        return false;
    }
    s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) {
        setLastError("Failed to initialize PNG info structure");
        return false;
    }
    const auto failed = [&]() {
        setLastError("Error saving PNG file");
        return false;
    };
    png_set_write_fn(s.png, stream, writeCallback, flushCallback);

    const int32_t width = GetWidth();
    const int32_t height = GetHeight();
    const int bits = GetBpp();
    const bool palette = HasPalette();

    WriteHeader h{};
    h.width = png_uint_32(width);
    h.height = png_uint_32(height);
    h.interlace = GetFormatOption(kFormatPng) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
    h.xPelsPerMetre = png_uint_32(m_header.xPelsPerMeter > 0 ? m_header.xPelsPerMeter : 0);
    h.yPelsPerMetre = png_uint_32(m_header.yPelsPerMeter > 0 ? m_header.yPelsPerMeter : 0);

    // 24-bit pixels of the transparent colour are written with alpha 0.
    const bool keyedAlpha = !palette && !HasAlpha() && HasTransparency();
    const bool rgba = HasAlpha() || keyedAlpha;

    png_color plte[256];
    png_byte alphas[256];
    if (rgba) {
        h.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
        h.bitDepth = 8;
    } else if (palette) {
        h.colourType = PNG_COLOR_TYPE_PALETTE;
        h.bitDepth = bits;
        uint32_t colours = GetColourCount();
        const int32_t transparent = GetTransparentIndex();
        if (transparent > 0 && uint32_t(transparent) < colours) {
            // A one-entry transparency table names entry 0: the transparent
            // entry and its pixels move there.
            ExchangeIndices(0, uint8_t(transparent));
            SetTransparentIndex(0);
        }
        if (colours > 2 && uint64_t(width) * uint64_t(height) < kShortPaletteMaxPixels) {
            uint32_t highest = 0;
            for (int32_t y = 0; y < height; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    const uint32_t index = ReadIndexUnchecked(x, y);
                    if (index > highest)
                        highest = index;
                }
            }
            colours = highest + 1;
        }
        const RgbQuad* entries = GetPalette();
        for (uint32_t i = 0; i < colours; ++i) {
            plte[i] = png_color{entries[i].red, entries[i].green, entries[i].blue};
            alphas[i] = entries[i].reserved;
        }
        h.palette = plte;
        h.paletteCount = int(colours);
        if (m_info.alphaPaletteEnabled) {
            h.alphas = alphas;
            h.alphaCount = int(colours);
        } else if (GetTransparentIndex() == 0) {
            alphas[0] = 0;
            h.alphas = alphas;
            h.alphaCount = 1;
        }
    } else {
        h.colourType = PNG_COLOR_TYPE_RGB;
        h.bitDepth = 8;
        h.bgr = true;
    }

    // The background: the transparent colour when there is one, else white
    // (for a palette file, the entry nearest to it).
    h.haveBackground = true;
    const RgbQuad back = HasTransparency() ? GetTransparentColour() : RgbQuad{255, 255, 255, 0};
    if (h.colourType == PNG_COLOR_TYPE_PALETTE) {
        h.background.index = HasTransparency() ? 0 : NearestPaletteIndex(back);
        // The entry must be among those written.
        h.haveBackground = h.background.index < h.paletteCount;
    }
    h.background.red = back.red;
    h.background.green = back.green;
    h.background.blue = back.blue;

    int passes = 1;
    if (!guardedWriteInfo(s.png, s.info, &h, &passes))
        return failed();

    if (!rgba) {
        for (int pass = 0; pass < passes; ++pass) {
            for (int32_t y = height - 1; y >= 0; --y) {
                if (!guardedWriteRow(s.png, RowPointer(y)))
                    return failed();
            }
        }
    } else {
        std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size_t(width) * 4 + 10]);
        if (buffer == nullptr) {
            setLastError("RasterImagePNG can't allocate memory");
            return false;
        }
        const RgbQuad key = GetTransparentColour();
        const unsigned alphaMax = m_info.alphaMax;
        const RgbQuad* entries = GetPalette();
        for (int pass = 0; pass < passes; ++pass) {
            for (int32_t y = height - 1; y >= 0; --y) {
                const uint8_t* row = RowPointer(y);
                const uint8_t* alpha = HasAlpha() ? m_alpha + size_t(y) * size_t(width) : nullptr;
                uint8_t* out = buffer.get();
                for (int32_t x = 0; x < width; ++x, out += 4) {
                    RgbQuad c;
                    if (palette)
                        c = entries[ReadIndexUnchecked(x, y)];
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
                if (!guardedWriteRow(s.png, buffer.get()))
                    return failed();
            }
        }
    }
    if (!guardedWriteEnd(s.png, s.info))
        return failed();
    return true;
}

}  // namespace rendova
