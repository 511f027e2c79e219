#pragma once

#include <cstdint>
#include <memory>

#include "image/ExifReader.h"
#include "image/RasterImage.h"

namespace rendova {

// Bits of the JPEG option word (codec option [3]).
enum JpegOption : uint32_t {
    kJpegForceBaseline = 0x1,      // encode: quantization tables limited to baseline
    kJpegArithmetic = 0x2,         // encode: arithmetic coding
    kJpegGreyEncode = 0x4,         // encode: one grey component
    kJpegOptimize = 0x8,           // encode: optimized Huffman tables
    kJpegProgressive = 0x10,       // encode: progressive scans
    kJpegSmoothing = 0x40,         // encode: the codec's smoothing factor
    kJpegGreyDecode = 0x80,        // decode: grey output
    kJpegQuantize = 0x100,         // decode: a palette of `quality` colours
    kJpegDither = 0x200,           // decode: the codec's dither mode
    kJpegOnePassQuantize = 0x400,  // decode: no two-pass quantizing
    kJpegNoFancyUpsampling = 0x800,
};

// The JPEG codec (format code 3) over libjpeg: baseline, progressive, grey,
// colour and CMYK files are read into 8-bit grey, 8-bit quantized or 24-bit
// images; 24-bit and 8-bit grey images are written. Each decode probes the
// file's EXIF block into exifData() (the resolution it gives wins over the
// JFIF density), and keeps the reader so that a later encode with the same
// object carries that EXIF block into the new file. Built by the format
// dispatch for one call, or held by a caller who wants the EXIF data. Does
// not throw: libjpeg's errors come back as the last-error text.
class RasterImageJPG : public RasterImage {
public:
    RasterImageJPG();
    ~RasterImageJPG() override;

    bool Decode(ImageStream* stream);
    bool Encode(ImageStream* stream);

    const ExifData& exifData() const { return m_exifData; }
    ExifReader* exifReader() const { return m_exifReader.get(); }

private:
    void probeExif(ImageStream* stream);

    std::unique_ptr<ExifReader> m_exifReader;
    ExifData m_exifData;
    // libjpeg's smoothing factor (0..100) and dither mode, read for the
    // option bits 0x40 and 0x200; no operation of the library changes them.
    int32_t m_smoothing = 0;
    int32_t m_ditherMode = 0;  // none
};

}  // namespace rendova
