// The JPEG 2000 part of the family codec, over OpenJPEG. OpenJPEG reads and
// writes through the stream callbacks below, bound to an ImageStream with
// offsets counted from where the stream stood when the call began. It has
// no error exit of its own (every call returns a success flag), so nothing
// here unwinds through its frames; its messages go to a handler that drops
// them.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include <openjpeg.h>

#include "base/Numeric.h"
#include "image/ImageStream.h"
#include "image/JasPicture.h"

namespace rendova {

namespace {

// The buffer OpenJPEG reads and writes through.
constexpr OPJ_SIZE_T kStreamChunk = 64 * 1024;
// OpenJPEG accepts no precision beyond 31 bits (its samples are 32-bit).
constexpr OPJ_UINT32 kMaxPrecision = 31;
// OpenJPEG's default count of wavelet resolutions; a smaller picture gets
// fewer, as each level halves it and none may vanish.
constexpr int kDefaultResolutions = 6;
// A code stream describes its picture in a few dozen bytes, and an empty
// one codes megapixels in a few hundred; more samples than this per byte of
// file are taken as a header that lies about its size.
constexpr uint64_t kMaxSamplesPerByte = 4096;
// Below this the per-byte rule does not apply: small files of small pictures.
constexpr uint64_t kMinSampleAllowance = uint64_t(1) << 24;

// OpenJPEG sets up several kilobytes for every tile as it reads the main
// header, so the tile count is checked first. Every tile needs a tile-part
// header of at least this many bytes in the file...
constexpr uint64_t kMinTilePartBytes = 14;
// ...though a few hundred tiles are allowed to any file, damaged ones too.
constexpr uint64_t kMinTileAllowance = 256;
// The boxes of a JP2 file before its code stream: a handful in real files.
constexpr int kMaxBoxesBeforeCodestream = 64;
constexpr uint32_t kCodestreamBox = 0x6A703263;  // "jp2c"

uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

uint16_t be16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}

// The file position of the code stream: the start of a bare one, or the
// contents of a JP2 file's code-stream box. -1 when there is none.
int64_t findCodestream(ImageStream* stream, int64_t base, bool codestream, int64_t fileBytes) {
    if (codestream)
        return base;
    int64_t at = base;
    for (int box = 0; box < kMaxBoxesBeforeCodestream; ++box) {
        uint8_t head[16];
        if (at < 0 || at > INT32_MAX || !stream->seek(int32_t(at), ImageStream::kSeekSet) ||
            stream->read(head, 1, 8) != 8)
            return -1;
        uint64_t length = be32(head);
        uint64_t headerBytes = 8;
        if (length == 1) {
            if (stream->read(head + 8, 1, 8) != 8)
                return -1;
            length = (uint64_t(be32(head + 8)) << 32) | be32(head + 12);
            headerBytes = 16;
        }
        if (be32(head + 4) == kCodestreamBox)
            return at + int64_t(headerBytes);
        if (length < headerBytes || length > uint64_t(fileBytes))
            return -1;
        at += int64_t(length);
    }
    return -1;
}

// Reads the code stream's image and tile size (SIZ) and checks what it
// would make OpenJPEG allocate, before OpenJPEG reads it.
JasRead checkSizeSegment(ImageStream* stream, int64_t base, bool codestream, int64_t fileBytes) {
    const int64_t start = findCodestream(stream, base, codestream, fileBytes);
    uint8_t siz[42];
    if (start < 0 || start > INT32_MAX || !stream->seek(int32_t(start), ImageStream::kSeekSet) ||
        stream->read(siz, 1, sizeof siz) != sizeof siz || be16(siz) != 0xFF4F || be16(siz + 2) != 0xFF51)
        return JasRead::kFailed;
    const uint64_t width = be32(siz + 8);
    const uint64_t height = be32(siz + 12);
    const uint64_t left = be32(siz + 16);
    const uint64_t top = be32(siz + 20);
    const uint64_t tileWidth = be32(siz + 24);
    const uint64_t tileHeight = be32(siz + 28);
    const uint64_t tileLeft = be32(siz + 32);
    const uint64_t tileTop = be32(siz + 36);
    const uint32_t components = be16(siz + 40);
    if (components > kMaxJasComponents)
        return JasRead::kTooManyComponents;
    if (components == 0 || width <= left || height <= top || tileWidth == 0 || tileHeight == 0 ||
        tileLeft > left || tileTop > top)
        return JasRead::kFailed;
    const uint64_t tiles = ceilDiv(width - tileLeft, tileWidth) * ceilDiv(height - tileTop, tileHeight);
    if (tiles > std::max(kMinTileAllowance, uint64_t(std::max<int64_t>(fileBytes, 0)) / kMinTilePartBytes))
        return JasRead::kFailed;
    uint8_t sampling[3 * kMaxJasComponents];
    if (stream->read(sampling, 1, 3 * components) != 3 * components)
        return JasRead::kFailed;
    const uint64_t allowance =
        std::max(kMinSampleAllowance, uint64_t(std::max<int64_t>(fileBytes, 0)) * kMaxSamplesPerByte);
    uint64_t samples = 0;
    for (uint32_t i = 0; i < components; ++i) {
        const uint64_t dx = sampling[3 * i + 1];
        const uint64_t dy = sampling[3 * i + 2];
        if (dx == 0 || dy == 0)
            return JasRead::kFailed;
        samples += (ceilDiv(width, dx) - ceilDiv(left, dx)) * (ceilDiv(height, dy) - ceilDiv(top, dy));
    }
    if (samples > std::min(kMaxJasSamples, allowance))
        return JasRead::kFailed;
    return stream->seek(int32_t(base), ImageStream::kSeekSet) ? JasRead::kOk : JasRead::kFailed;
}

struct StreamBinding {
    ImageStream* stream;
    int64_t base;  // stream position of OpenJPEG's offset 0
};

void dropMessage(const char*, void*) {}

OPJ_SIZE_T readBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* binding = static_cast<StreamBinding*>(user);
    const size_t got = binding->stream->read(buffer, 1, count);
    return got == 0 ? OPJ_SIZE_T(-1) : got;
}

OPJ_SIZE_T writeBytes(void* buffer, OPJ_SIZE_T count, void* user) {
    auto* binding = static_cast<StreamBinding*>(user);
    return binding->stream->write(buffer, 1, count);
}

OPJ_BOOL seekTo(OPJ_OFF_T offset, void* user) {
    auto* binding = static_cast<StreamBinding*>(user);
    const int64_t target = binding->base + offset;
    if (offset < 0 || target > std::numeric_limits<int32_t>::max())
        return OPJ_FALSE;
    return binding->stream->seek(int32_t(target), ImageStream::kSeekSet) ? OPJ_TRUE : OPJ_FALSE;
}

OPJ_OFF_T skipBytes(OPJ_OFF_T count, void* user) {
    auto* binding = static_cast<StreamBinding*>(user);
    const int64_t at = binding->stream->tell();
    if (at < 0 || !seekTo(OPJ_OFF_T(at - binding->base + count), user))
        return -1;
    return count;
}

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using OpjStreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using OpjImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

void silence(opj_codec_t* codec) {
    opj_set_info_handler(codec, dropMessage, nullptr);
    opj_set_warning_handler(codec, dropMessage, nullptr);
    opj_set_error_handler(codec, dropMessage, nullptr);
}

OpjStreamPtr bindStream(StreamBinding& binding, bool input) {
    OpjStreamPtr stream(opj_stream_create(kStreamChunk, input ? OPJ_TRUE : OPJ_FALSE));
    if (stream == nullptr)
        return stream;
    opj_stream_set_user_data(stream.get(), &binding, nullptr);
    if (input) {
        opj_stream_set_read_function(stream.get(), readBytes);
        const int64_t size = binding.stream->size();
        if (size > binding.base)
            opj_stream_set_user_data_length(stream.get(), OPJ_UINT64(size - binding.base));
    } else {
        opj_stream_set_write_function(stream.get(), writeBytes);
    }
    opj_stream_set_skip_function(stream.get(), skipBytes);
    opj_stream_set_seek_function(stream.get(), seekTo);
    return stream;
}

// The header's promise checked before OpenJPEG allocates the samples.
bool headerFits(const opj_image_t& image, int64_t fileBytes) {
    if (image.numcomps == 0 || image.numcomps > kMaxJasComponents || image.comps == nullptr)
        return false;
    const uint64_t allowance =
        std::max(kMinSampleAllowance, uint64_t(std::max<int64_t>(fileBytes, 0)) * kMaxSamplesPerByte);
    uint64_t samples = 0;
    for (OPJ_UINT32 i = 0; i < image.numcomps; ++i) {
        const opj_image_comp_t& c = image.comps[i];
        if (c.w == 0 || c.h == 0 || c.w > kMaxJasSide || c.h > kMaxJasSide || c.prec == 0 ||
            c.prec > kMaxPrecision)
            return false;
        samples += uint64_t(c.w) * c.h;
    }
    return samples <= std::min(kMaxJasSamples, allowance);
}

JasPicture::Space spaceOf(OPJ_COLOR_SPACE space, OPJ_UINT32 components) {
    switch (space) {
        case OPJ_CLRSPC_GRAY:
            return JasPicture::Space::kGrey;
        case OPJ_CLRSPC_SRGB:
            return JasPicture::Space::kRgb;
        case OPJ_CLRSPC_SYCC:
        case OPJ_CLRSPC_EYCC:
            return JasPicture::Space::kYcc;
        default:
            // A bare code stream says nothing: three components are taken as
            // colour, others as grey.
            return components >= 3 ? JasPicture::Space::kRgb : JasPicture::Space::kGrey;
    }
}

}  // namespace

JasRead readJasJpeg2000(ImageStream* stream, bool codestream, JasPicture& picture) {
    StreamBinding binding{stream, stream->tell()};
    if (binding.base < 0)
        return JasRead::kFailed;
    const int64_t fileBytes = int64_t(stream->size()) - binding.base;
    const JasRead sizes = checkSizeSegment(stream, binding.base, codestream, fileBytes);
    if (sizes != JasRead::kOk)
        return sizes;
    CodecPtr codec(opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (codec == nullptr)
        return JasRead::kFailed;
    silence(codec.get());
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters))
        return JasRead::kFailed;
    OpjStreamPtr opjStream = bindStream(binding, true);
    if (opjStream == nullptr)
        return JasRead::kFailed;
    opj_image_t* raw = nullptr;
    const bool headerRead = opj_read_header(opjStream.get(), codec.get(), &raw);
    OpjImagePtr image(raw);
    if (!headerRead || image == nullptr)
        return JasRead::kFailed;
    if (image->numcomps > kMaxJasComponents)
        return JasRead::kTooManyComponents;
    if (!headerFits(*image, fileBytes))
        return JasRead::kFailed;
    if (!opj_decode(codec.get(), opjStream.get(), image.get()) ||
        !opj_end_decompress(codec.get(), opjStream.get()))
        return JasRead::kFailed;

    picture.space = spaceOf(image->color_space, image->numcomps);
    picture.components.resize(image->numcomps);
    for (OPJ_UINT32 i = 0; i < image->numcomps; ++i) {
        const opj_image_comp_t& from = image->comps[i];
        if (from.data == nullptr)
            return JasRead::kFailed;
        JasComponent& to = picture.components[i];
        to.width = int32_t(from.w);
        to.height = int32_t(from.h);
        to.precision = int32_t(from.prec);
        to.isSigned = from.sgnd != 0;
        to.samples.assign(from.data, from.data + size_t(from.w) * from.h);
    }
    return JasRead::kOk;
}

bool writeJasJpeg2000(ImageStream* stream, bool codestream, const JasPicture& picture, double rate) {
    const size_t count = picture.components.size();
    if (count != 1 && count != 3)
        return false;
    const JasComponent& first = picture.components[0];
    opj_image_cmptparm_t parameters[3];
    std::memset(parameters, 0, sizeof parameters);
    for (size_t i = 0; i < count; ++i) {
        parameters[i].dx = 1;
        parameters[i].dy = 1;
        parameters[i].w = OPJ_UINT32(first.width);
        parameters[i].h = OPJ_UINT32(first.height);
        parameters[i].prec = 8;
        parameters[i].sgnd = 0;
    }
    OpjImagePtr image(
        opj_image_create(OPJ_UINT32(count), parameters, count == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
    if (image == nullptr)
        return false;
    image->x0 = 0;
    image->y0 = 0;
    image->x1 = OPJ_UINT32(first.width);
    image->y1 = OPJ_UINT32(first.height);
    for (size_t i = 0; i < count; ++i)
        std::copy(picture.components[i].samples.begin(), picture.components[i].samples.end(),
                  image->comps[i].data);

    opj_cparameters_t options;
    opj_set_default_encoder_parameters(&options);
    options.tcp_numlayers = 1;
    // OpenJPEG takes a compression ratio where the rate is the share kept.
    options.tcp_rates[0] = rate > 0 && rate < 1 ? float(1 / rate) : 0;
    options.cp_disto_alloc = 1;
    options.tcp_mct = count == 3 ? 1 : 0;
    const int32_t side = std::min(first.width, first.height);
    options.numresolution = kDefaultResolutions;
    while (options.numresolution > 1 && (side >> (options.numresolution - 1)) == 0)
        --options.numresolution;

    CodecPtr codec(opj_create_compress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    if (codec == nullptr)
        return false;
    silence(codec.get());
    if (!opj_setup_encoder(codec.get(), &options, image.get()))
        return false;
    StreamBinding binding{stream, stream->tell()};
    if (binding.base < 0)
        return false;
    OpjStreamPtr opjStream = bindStream(binding, false);
    if (opjStream == nullptr)
        return false;
    return opj_start_compress(codec.get(), image.get(), opjStream.get()) &&
           opj_encode(codec.get(), opjStream.get()) && opj_end_compress(codec.get(), opjStream.get());
}

}  // namespace rendova
