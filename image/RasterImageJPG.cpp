// The JPEG codec's adapter over libjpeg. libjpeg reports a fatal error by
// calling its error exit, which must not return: ours jumps back with
// longjmp. Every call into libjpeg that can fail therefore goes through one
// of the small guard functions below, each of which sets its recovery point
// and makes one call (or a few field-setting calls); nothing with a
// destructor lives in their frames, and no C++ exception is ever raised
// where a libjpeg frame could lie between it and its handler.
#include "image/RasterImageJPG.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <jerror.h>
#include <jpeglib.h>

#include "base/Numeric.h"
#include "image/ImageStream.h"

namespace rendova {

namespace {

// The stream managers move data in blocks of this size.
constexpr size_t kStreamBufferSize = 4096;

struct JpegError {
    jpeg_error_mgr manager;  // first: libjpeg hands back a pointer to it
    std::jmp_buf recovery;
    char message[JMSG_LENGTH_MAX];
};

void errorExit(j_common_ptr info) {
    auto* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->recovery, 1);
}

// Warnings and trace messages go nowhere.
void outputMessage(j_common_ptr) {}

void setUpErrors(JpegError& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = errorExit;
    error.manager.output_message = outputMessage;
    error.message[0] = 0;
}

// --- Source manager -----------------------------------------------------------

struct JpegSource {
    jpeg_source_mgr manager;  // first: libjpeg's src points here
    ImageStream* stream;
    bool startOfFile;
    JOCTET buffer[kStreamBufferSize];
};

// libjpeg's end-of-image marker, handed over when a file ends early so
// that the decoder finishes with what it has (a partial picture).
const JOCTET kFakeEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr info) {
    reinterpret_cast<JpegSource*>(info->src)->startOfFile = true;
}

boolean fillInputBuffer(j_decompress_ptr info) {
    auto* source = reinterpret_cast<JpegSource*>(info->src);
    const size_t count = source->stream->read(source->buffer, 1, kStreamBufferSize);
    if (count == 0) {
        if (source->startOfFile)
            ERREXIT(info, JERR_INPUT_EMPTY);
        WARNMS(info, JWRN_JPEG_EOF);
        source->manager.next_input_byte = kFakeEndOfImage;
        source->manager.bytes_in_buffer = sizeof kFakeEndOfImage;
    } else {
        source->manager.next_input_byte = source->buffer;
        source->manager.bytes_in_buffer = count;
    }
    source->startOfFile = false;
    return TRUE;
}

void skipInputData(j_decompress_ptr info, long count) {
    jpeg_source_mgr* source = info->src;
    if (count <= 0)
        return;
    while (count > long(source->bytes_in_buffer)) {
        count -= long(source->bytes_in_buffer);
        fillInputBuffer(info);  // never suspends: ends in a fake end of image
    }
    source->next_input_byte += count;
    source->bytes_in_buffer -= size_t(count);
}

void termSource(j_decompress_ptr) {}

void setUpSource(j_decompress_ptr info, JpegSource& source, ImageStream* stream) {
    source.manager.init_source = initSource;
    source.manager.fill_input_buffer = fillInputBuffer;
    source.manager.skip_input_data = skipInputData;
    source.manager.resync_to_restart = jpeg_resync_to_restart;
    source.manager.term_source = termSource;
    source.manager.bytes_in_buffer = 0;
    source.manager.next_input_byte = nullptr;
    source.stream = stream;
    source.startOfFile = true;
    info->src = &source.manager;
}

// --- Destination manager ------------------------------------------------------

struct JpegDestination {
    jpeg_destination_mgr manager;  // first: libjpeg's dest points here
    ImageStream* stream;
    JOCTET buffer[kStreamBufferSize];
};

void initDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = kStreamBufferSize;
}

boolean emptyOutputBuffer(j_compress_ptr info) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    if (destination->stream->write(destination->buffer, 1, kStreamBufferSize) != kStreamBufferSize)
        ERREXIT(info, JERR_FILE_WRITE);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = kStreamBufferSize;
    return TRUE;
}

void termDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<JpegDestination*>(info->dest);
    const size_t count = kStreamBufferSize - destination->manager.free_in_buffer;
    if (count > 0 && destination->stream->write(destination->buffer, 1, count) != count)
        ERREXIT(info, JERR_FILE_WRITE);
    destination->stream->flush();
    if (destination->stream->error() != 0)
        ERREXIT(info, JERR_FILE_WRITE);
}

void setUpDestination(j_compress_ptr info, JpegDestination& destination, ImageStream* stream) {
    destination.manager.init_destination = initDestination;
    destination.manager.empty_output_buffer = emptyOutputBuffer;
    destination.manager.term_destination = termDestination;
    destination.stream = stream;
    info->dest = &destination.manager;
}

// --- Guarded calls ------------------------------------------------------------
// Each answers false when libjpeg took its error exit; the text is then in
// the JpegError's message.

JpegError* errorOf(j_common_ptr info) {
    return reinterpret_cast<JpegError*>(info->err);
}

// A progressive frame keeps every coefficient (two bytes a sample) while its
// scans come in: libjpeg refuses a frame that needs more than this, which
// holds a 600 dpi A3 colour scan, rather than let a small file claim
// gigabytes.
constexpr long kMaxDecoderMemory = 512L << 20;
// Every scan passes over the frame, so a small file of many empty scans would
// run for minutes: scans are capped so that their passes stay within this
// many samples (32 passes over the largest frame), and at kMaxScans, far
// above any encoder's script, for small frames.
constexpr int64_t kScanWorkBudget = int64_t(1) << 33;
constexpr int kMinScanLimit = 32;
constexpr int kMaxScans = 1000;

struct ScanLimit {
    jpeg_progress_mgr manager;  // first: libjpeg's progress points here
    int maxScans;
};

// libjpeg reports its progress as it reads each scan: past the limit the
// decoding ends as an error does.
void limitScans(j_common_ptr info) {
    if (!info->is_decompressor)
        return;
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    const auto* limit = reinterpret_cast<const ScanLimit*>(info->progress);
    if (decompress->input_scan_number <= limit->maxScans)
        return;
    JpegError* error = errorOf(info);
    std::snprintf(error->message, sizeof error->message, "JPEG with more than %d scans", limit->maxScans);
    std::longjmp(error->recovery, 1);
}

bool guardedCreateDecompress(j_decompress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_create_decompress(info);
    return true;
}

bool guardedReadHeader(j_decompress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_read_header(info, TRUE);
    return true;
}

bool guardedCalcOutputDimensions(j_decompress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_calc_output_dimensions(info);
    return true;
}

bool guardedStartDecompress(j_decompress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_start_decompress(info);
    return true;
}

// Lines read (0 or 1), or -1 on error.
int guardedReadScanline(j_decompress_ptr info, JSAMPROW row) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return -1;
    return int(jpeg_read_scanlines(info, &row, 1));
}

bool guardedFinishDecompress(j_decompress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_finish_decompress(info);
    return true;
}

bool guardedCreateCompress(j_compress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_create_compress(info);
    return true;
}

struct EncodeSettings {
    uint32_t options;
    int quality;
    int smoothing;
};

bool guardedConfigure(j_compress_ptr info, const EncodeSettings* settings) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_set_defaults(info);
    if ((settings->options & kJpegArithmetic) != 0)
        info->arith_code = TRUE;
    if ((settings->options & kJpegOptimize) != 0)
        info->optimize_coding = TRUE;
    if ((settings->options & kJpegGreyEncode) != 0)
        jpeg_set_colorspace(info, JCS_GRAYSCALE);
    if ((settings->options & kJpegSmoothing) != 0)
        info->smoothing_factor = settings->smoothing;
    if ((settings->options & kJpegProgressive) != 0)
        jpeg_simple_progression(info);
    jpeg_set_quality(info, settings->quality, (settings->options & kJpegForceBaseline) != 0);
    return true;
}

bool guardedStartCompress(j_compress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_start_compress(info, TRUE);
    return true;
}

bool guardedWriteScanline(j_compress_ptr info, JSAMPROW row) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_write_scanlines(info, &row, 1);
    return true;
}

bool guardedFinishCompress(j_compress_ptr info) {
    if (setjmp(errorOf(reinterpret_cast<j_common_ptr>(info))->recovery))
        return false;
    jpeg_finish_compress(info);
    return true;
}

// One decompressor with its managers, destroyed with the object.
struct Decompressor {
    jpeg_decompress_struct info{};
    JpegError error{};
    JpegSource source{};
    ScanLimit scanLimit{};
    bool created = false;

    ~Decompressor() {
        if (created)
            jpeg_destroy_decompress(&info);
    }
};

struct Compressor {
    jpeg_compress_struct info{};
    JpegError error{};
    JpegDestination destination{};
    bool created = false;

    ~Compressor() {
        if (created)
            jpeg_destroy_compress(&info);
    }
};

// The resolution of one axis: the EXIF value in its unit when the file gives
// both, else the JFIF density (dots per centimetre made dots per inch).
int32_t resolution(float exifValue, float exifUnit, bool haveExif, unsigned densityUnit, unsigned density) {
    if (haveExif && exifValue != 0 && exifUnit != 0)
        return saturateToInt(double(exifValue) / double(exifUnit));
    if (densityUnit == 2)
        return int32_t(density * 2.54 + 0.5);
    return int32_t(density);
}

// The decode options of option word [2] (and the quality, dither mode and
// scale they name) on the decompressor, between the header and the start.
void applyDecodeOptions(jpeg_decompress_struct& info, uint32_t options, int quality, int32_t ditherMode,
                        unsigned scale) {
    if ((options & kJpegGreyDecode) != 0)
        info.out_color_space = JCS_GRAYSCALE;
    if ((options & kJpegQuantize) != 0) {
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = quality;
    }
    if ((options & kJpegDither) != 0)
        info.dither_mode = J_DITHER_MODE(ditherMode);
    if ((options & kJpegOnePassQuantize) != 0)
        info.two_pass_quantize = FALSE;
    if ((options & kJpegNoFancyUpsampling) != 0)
        info.do_fancy_upsampling = FALSE;
    // A denominator of 0 (the default) means no scaling.
    if (scale != 0)
        info.scale_denom = scale;
    // Colour rows come straight out in the bitmap's blue, green, red order.
    if (info.out_color_space == JCS_RGB && !info.quantize_colors)
        info.out_color_space = JCS_EXT_BGR;
}

// The palette of quantized output (the codec's colour map) or of grey
// output.
void setOutputPalette(const jpeg_decompress_struct& info, RasterImage& image) {
    const int components = info.output_components;
    if (info.quantize_colors) {
        const int count = info.actual_number_of_colors;
        image.SetPalette(info.colormap[0], components == 3 ? info.colormap[1] : nullptr,
                         components == 3 ? info.colormap[2] : nullptr, uint32_t(count > 0 ? count : 0));
    } else if (info.out_color_space == JCS_GRAYSCALE) {
        image.MakeGreyPalette();
    }
}

// Adobe's inverted CMYK: each stored value is 255 minus the ink.
void cmykToBgr(const uint8_t* in, uint8_t* row, int32_t width) {
    for (int32_t x = 0; x < width; ++x, in += 4, row += 3) {
        const unsigned k = in[3];
        row[0] = uint8_t(in[2] * k / 255);
        row[1] = uint8_t(in[1] * k / 255);
        row[2] = uint8_t(in[0] * k / 255);
    }
}

}  // namespace

RasterImageJPG::RasterImageJPG() : RasterImage(kFormatJpeg) {}

// The EXIF probe: its failure only means that there is no EXIF resolution.
void RasterImageJPG::probeExif(ImageStream* stream) {
    m_exifData = ExifData{};
    m_exifReader.reset(new (std::nothrow) ExifReader(&m_exifData));
    if (m_exifReader != nullptr) {
        const int32_t start = stream->tell();
        m_exifReader->DecodeExif(stream, ExifReader::kParseExif);
        stream->seek(start, ImageStream::kSeekSet);
    }
}

RasterImageJPG::~RasterImageJPG() = default;

bool RasterImageJPG::Decode(ImageStream* stream) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }

    probeExif(stream);
    const bool haveExif = m_exifData.isExif != 0;

    auto decoder = std::unique_ptr<Decompressor>(new (std::nothrow) Decompressor);
    if (decoder == nullptr) {
        setLastError("RasterImageJPG can't allocate memory");
        return false;
    }
    jpeg_decompress_struct& info = decoder->info;
    setUpErrors(decoder->error);
    info.err = &decoder->error.manager;
    const auto failed = [&]() {
        setLastError(decoder->error.message);
        return false;
    };
    if (!guardedCreateDecompress(&info))
        return failed();
    decoder->created = true;
    setUpSource(&info, decoder->source, stream);
    if (!guardedReadHeader(&info))
        return failed();
    info.mem->max_memory_to_use = kMaxDecoderMemory;
    const int64_t samples = int64_t(info.image_width) * info.image_height * std::max(info.num_components, 1);
    decoder->scanLimit.maxScans =
        int(std::clamp<int64_t>(kScanWorkBudget / std::max<int64_t>(samples, 1), kMinScanLimit, kMaxScans));
    decoder->scanLimit.manager.progress_monitor = limitScans;
    info.progress = &decoder->scanLimit.manager;

    applyDecodeOptions(info, GetFormatOption(kFormatJpeg), m_info.quality, m_ditherMode, m_info.jpegScale);

    if (m_info.escape == -1) {
        if (!guardedCalcOutputDimensions(&info))
            return failed();
        m_header.width = int32_t(info.output_width);
        m_header.height = int32_t(info.output_height);
        setLastError("output dimensions returned");
        return true;
    }

    if (!guardedStartDecompress(&info))
        return failed();
    const auto width = int32_t(info.output_width);
    const auto height = int32_t(info.output_height);
    const int components = info.output_components;
    if (Create(width, height, 8 * components, kFormatJpeg) == nullptr)
        return false;

    SetDpiX(resolution(m_exifData.xResolution, m_exifData.resolutionUnit, haveExif, info.density_unit,
                       info.X_density));
    SetDpiY(resolution(m_exifData.yResolution, m_exifData.resolutionUnit, haveExif, info.density_unit,
                       info.Y_density));
    setOutputPalette(info, *this);

    // CMYK rows come through a buffer and are made blue, green, red; every
    // other kind fits the image row as it is.
    const bool cmyk = info.out_color_space == JCS_CMYK && !info.quantize_colors;
    std::unique_ptr<uint8_t[]> cmykRow;
    if (cmyk) {
        cmykRow.reset(new (std::nothrow) uint8_t[size_t(width) * 4]);
        if (cmykRow == nullptr) {
            setLastError("RasterImageJPG can't allocate memory");
            return false;
        }
    }
    for (int32_t line = 0; line < height; ++line) {
        if (m_info.escape != 0) {
            setLastError("Cancelled");
            return false;
        }
        uint8_t* row = RowPointer(height - 1 - line);
        const int got = guardedReadScanline(&info, cmyk ? cmykRow.get() : row);
        if (got < 0)
            return failed();
        if (got == 0)
            break;  // cannot happen with a source that never suspends
        if (cmyk)
            cmykToBgr(cmykRow.get(), row, width);
    }
    if (!guardedFinishDecompress(&info))
        return failed();
    return true;
}

bool RasterImageJPG::Encode(ImageStream* stream) {
    if (!CheckEncodable(stream))
        return false;
    // Only 24-bit pixels and 8-bit grey levels are JPEG samples as they stand.
    const bool grey = HasPalette();
    if (grey && !(GetBpp() == 8 && HasGreyPalette())) {
        setLastError("JPEG can save only RGB or GreyScale images");
        return false;
    }
    const int32_t start = stream->tell();

    auto encoder = std::unique_ptr<Compressor>(new (std::nothrow) Compressor);
    if (encoder == nullptr) {
        setLastError("RasterImageJPG can't allocate memory");
        return false;
    }
    jpeg_compress_struct& info = encoder->info;
    setUpErrors(encoder->error);
    info.err = &encoder->error.manager;
    const auto failed = [&]() {
        setLastError(encoder->error.message);
        return false;
    };
    if (!guardedCreateCompress(&info))
        return failed();
    encoder->created = true;
    setUpDestination(&info, encoder->destination, stream);

    info.image_width = JDIMENSION(GetWidth());
    info.image_height = JDIMENSION(GetHeight());
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    const EncodeSettings settings{GetFormatOption(kFormatJpeg), m_info.quality, m_smoothing};
    if (!guardedConfigure(&info, &settings))
        return failed();
    // The JFIF density holds 16 bits per axis.
    info.density_unit = 1;
    info.X_density = UINT16(m_info.dpiX < 1 ? 1 : (m_info.dpiX > 65535 ? 65535 : m_info.dpiX));
    info.Y_density = UINT16(m_info.dpiY < 1 ? 1 : (m_info.dpiY > 65535 ? 65535 : m_info.dpiY));

    if (!guardedStartCompress(&info))
        return failed();
    for (int32_t y = GetHeight() - 1; y >= 0; --y) {
        if (!guardedWriteScanline(&info, RowPointer(y)))
            return failed();
    }
    if (!guardedFinishCompress(&info))
        return failed();
    encoder.reset();

    // A codec that read a file with EXIF data carries the EXIF block into the
    // file just written: the new file is read back whole and written again
    // with the kept sections in front.
    if (m_exifReader != nullptr && m_exifData.isExif != 0) {
        m_exifReader->DiscardAllButExif();
        stream->seek(start, ImageStream::kSeekSet);
        const bool readBack = m_exifReader->DecodeExif(stream, ExifReader::kReadImageData);
        stream->seek(start, ImageStream::kSeekSet);
        if (readBack && !m_exifReader->EncodeExif(stream)) {
            setLastError(m_exifReader->errorText());
            return false;
        }
        if (!readBack)
            stream->seek(0, ImageStream::kSeekEnd);
    }
    return true;
}

}  // namespace rendova
