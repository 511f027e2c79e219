#pragma once

// libjpeg as the reference of the DCT decoder tests: decoding with the
// accurate integer inverse transform and upsampling by replication (what the
// engine's decoder does), and encoding what cjpeg cannot write (YCCK). Tests
// only; the engine does not use libjpeg. libjpeg leaves a failed call through
// longjmp, so each use lives in one C-style function whose frame holds
// nothing that needs a destructor.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace rendova::test {

struct ReferenceImage {
    int width = 0;
    int height = 0;
    int components = 0;
    // The colour space of the file as libjpeg reads its markers.
    J_COLOR_SPACE fileSpace = JCS_UNKNOWN;
    bool adobeSegment = false;
    std::vector<unsigned char> samples;  // rows top to bottom, components interleaved
};

namespace jpegref {

struct ErrorJump {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

inline void errorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorJump*>(info->err)->jump, 1);
}
inline void noMessage(j_common_ptr) {}

// Returns a malloc'd buffer of the decoded samples, or null. outSpace picks
// libjpeg's output colour space and readAs the file's (in place of what
// libjpeg reads from its markers); JCS_UNKNOWN keeps libjpeg's default.
inline unsigned char* decode(const unsigned char* data, unsigned long size, J_COLOR_SPACE outSpace,
                             J_COLOR_SPACE readAs, int* width, int* height, int* components,
                             J_COLOR_SPACE* fileSpace, bool* adobeSegment) {
    jpeg_decompress_struct info;
    ErrorJump error;
    unsigned char* volatile out = nullptr;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = errorExit;
    error.manager.output_message = noMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(out);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    *fileSpace = info.jpeg_color_space;
    *adobeSegment = info.saw_Adobe_marker;
    if (readAs != JCS_UNKNOWN)
        info.jpeg_color_space = readAs;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = FALSE;
    info.do_block_smoothing = FALSE;
    if (outSpace != JCS_UNKNOWN)
        info.out_color_space = outSpace;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * size_t(info.output_components);
    out = static_cast<unsigned char*>(std::malloc(stride * info.output_height + 1));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    *width = int(info.output_width);
    *height = int(info.output_height);
    *components = info.output_components;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return out;
}

// How encode writes: libjpeg's defaults, or progressive (with the same
// quantised coefficients), or every component at full size.
struct EncodeOptions {
    bool progressive = false;
    bool fullSize = false;
};

// Returns a malloc'd JPEG file, or null.
inline unsigned char* encode(const unsigned char* samples, int width, int height, int components,
                             J_COLOR_SPACE inSpace, J_COLOR_SPACE fileSpace, int quality,
                             const EncodeOptions& options, unsigned long* size) {
    jpeg_compress_struct info;
    ErrorJump error;
    unsigned char* volatile buffer = nullptr;
    unsigned long bufferSize = 0;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = errorExit;
    error.manager.output_message = noMessage;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return nullptr;
    }
    jpeg_create_compress(&info);
    unsigned char* target = nullptr;
    jpeg_mem_dest(&info, &target, &bufferSize);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = inSpace;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, fileSpace);
    jpeg_set_quality(&info, quality, TRUE);
    if (options.progressive)
        jpeg_simple_progression(&info);
    for (int i = 0; options.fullSize && i < info.num_components; ++i)
        info.comp_info[i].h_samp_factor = info.comp_info[i].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    const size_t stride = size_t(width) * size_t(components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(samples) + stride * info.next_scanline;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    buffer = target;
    jpeg_destroy_compress(&info);
    *size = bufferSize;
    return buffer;
}

}  // namespace jpegref

// libjpeg's decoding of a JPEG file; false when libjpeg refuses it.
inline bool referenceDecode(const std::string& jpeg, ReferenceImage* image,
                            J_COLOR_SPACE outSpace = JCS_UNKNOWN, J_COLOR_SPACE readAs = JCS_UNKNOWN) {
    int width = 0, height = 0, components = 0;
    J_COLOR_SPACE fileSpace = JCS_UNKNOWN;
    bool adobeSegment = false;
    unsigned char* samples = jpegref::decode(reinterpret_cast<const unsigned char*>(jpeg.data()),
                                             static_cast<unsigned long>(jpeg.size()), outSpace, readAs,
                                             &width, &height, &components, &fileSpace, &adobeSegment);
    if (!samples)
        return false;
    image->width = width;
    image->height = height;
    image->components = components;
    image->fileSpace = fileSpace;
    image->adobeSegment = adobeSegment;
    image->samples.assign(samples, samples + size_t(width) * size_t(height) * size_t(components));
    std::free(samples);
    return true;
}

// libjpeg's samples before its colour conversion: YCbCr and YCCK files
// stay YCbCr and YCCK, others come out as libjpeg's default.
inline bool referenceDecodeUnconverted(const std::string& jpeg, ReferenceImage* image) {
    if (!referenceDecode(jpeg, image))
        return false;
    if (image->fileSpace == JCS_YCbCr || image->fileSpace == JCS_YCCK)
        return referenceDecode(jpeg, image, image->fileSpace);
    return true;
}

// The file with its Adobe segment's identifier spoilt, so that a decoder
// skips the segment and its transform flag: the engine's decoder then leaves
// the samples untransformed when asked to (ColorTransform 0).
inline std::string withoutAdobeSegment(std::string jpeg) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const int marker = static_cast<unsigned char>(jpeg[at + 1]);
        const size_t length =
            size_t(static_cast<unsigned char>(jpeg[at + 2])) << 8 | static_cast<unsigned char>(jpeg[at + 3]);
        if (marker == 0xDA)
            break;
        if (marker == 0xEE && length >= 7 && jpeg.compare(at + 4, 5, "Adobe") == 0)
            jpeg[at + 8] = 'X';
        at += 2 + length;
    }
    return jpeg;
}

// libjpeg's encoding of samples (components interleaved) in fileSpace.
inline std::string referenceEncode(const std::vector<unsigned char>& samples, int width, int height,
                                   int components, J_COLOR_SPACE inSpace, J_COLOR_SPACE fileSpace,
                                   int quality, const jpegref::EncodeOptions& options = {}) {
    unsigned long size = 0;
    unsigned char* file = jpegref::encode(samples.data(), width, height, components, inSpace, fileSpace,
                                          quality, options, &size);
    if (!file)
        return {};
    std::string out(reinterpret_cast<const char*>(file), size);
    std::free(file);
    return out;
}

}  // namespace rendova::test
