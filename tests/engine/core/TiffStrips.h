#pragma once

// Compressed strips made by libtiff, the reference encoder for the LZW and
// run-length tests: an image is written to a TIFF file and its raw strips
// read back undecoded.
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace rendova::test {

struct TiffImage {
    int width = 0;
    int height = 0;
    int samplesPerPixel = 1;
    int bitsPerSample = 8;
    // Rows as the decoded strips hold them: packed, 16-bit samples
    // most significant byte first.
    std::vector<uint8_t> pixels;

    size_t rowBytes() const { return (size_t(width) * samplesPerPixel * bitsPerSample + 7) / 8; }
};

struct TiffStrips {
    enum Compression { kLzw, kPackBits };
    std::vector<std::string> raw;
};

// The codec fields of a strip writer: a TIFF compression code and, for the
// fax codecs, the Group 3 options and the bit fill order.
struct TiffCodec {
    int compression = COMPRESSION_LZW;
    bool predictor = false;
    uint32_t group3Options = 0;
    int fillOrder = FILLORDER_MSB2LSB;
};

inline TiffStrips writeTiffStrips(const TiffImage& image, const TiffCodec& codec, int rowsPerStrip);

inline TiffStrips writeTiffStrips(const TiffImage& image, TiffStrips::Compression compression, bool predictor,
                                  int rowsPerStrip) {
    TiffCodec codec;
    codec.compression = compression == TiffStrips::kLzw ? COMPRESSION_LZW : COMPRESSION_PACKBITS;
    codec.predictor = predictor;
    return writeTiffStrips(image, codec, rowsPerStrip);
}

inline TiffStrips writeTiffStrips(const TiffImage& image, const TiffCodec& codec, int rowsPerStrip) {
    static int serial = 0;
    const std::string name = "strips-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".tif";
    TiffStrips result;
    TIFFSetWarningHandler(nullptr);
    // "b": a big-endian file, so that 16-bit samples are stored most
    // significant byte first, as the PDF filters expect them.
    TIFF* out = TIFFOpen(name.c_str(), "wb");
    if (!out)
        return result;
    TIFFSetField(out, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bitsPerSample));
    TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.samplesPerPixel));
    TIFFSetField(out, TIFFTAG_PHOTOMETRIC,
                 image.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(out, TIFFTAG_COMPRESSION, uint16_t(codec.compression));
    if (codec.predictor)
        TIFFSetField(out, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    if (codec.compression == COMPRESSION_CCITTFAX3)
        TIFFSetField(out, TIFFTAG_GROUP3OPTIONS, codec.group3Options);
    if (codec.fillOrder != FILLORDER_MSB2LSB)
        TIFFSetField(out, TIFFTAG_FILLORDER, uint16_t(codec.fillOrder));
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, uint32_t(rowsPerStrip));
    const size_t rowBytes = image.rowBytes();
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* src = image.pixels.data() + size_t(y) * rowBytes;
        std::copy(src, src + rowBytes, row.begin());
        // libtiff takes 16-bit samples in the machine's order.
        if (image.bitsPerSample == 16) {
            for (size_t i = 0; i + 1 < rowBytes; i += 2) {
                const uint16_t v = uint16_t((src[i] << 8) | src[i + 1]);
                std::memcpy(&row[i], &v, 2);
            }
        }
        if (TIFFWriteScanline(out, row.data(), uint32_t(y), 0) < 0) {
            TIFFClose(out);
            std::remove(name.c_str());
            return result;
        }
    }
    TIFFClose(out);

    TIFF* in = TIFFOpen(name.c_str(), "r");
    if (in) {
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
            const tmsize_t size = TIFFRawStripSize(in, s);
            std::string strip(size_t(size), '\0');
            if (TIFFReadRawStrip(in, s, strip.data(), size) != size) {
                result.raw.clear();
                break;
            }
            result.raw.push_back(std::move(strip));
        }
        TIFFClose(in);
    }
    std::remove(name.c_str());
    return result;
}

}  // namespace rendova::test
