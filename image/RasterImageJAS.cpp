#include "image/RasterImageJAS.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "image/CodecFailure.h"
#include "image/ImageStream.h"
#include "image/JasPicture.h"

namespace rendova {

namespace {

// The bytes the formats are told apart by (a JP2 signature box is 12).
constexpr size_t kSignatureBytes = 12;

uint32_t codeOf(JasFormat format) {
    switch (format) {
        case JasFormat::kJp2:
            return kFormatJp2;
        case JasFormat::kJpc:
            return kFormatJpc;
        case JasFormat::kPgx:
            return kFormatPgx;
        case JasFormat::kPnm:
            return kFormatPnm;
        case JasFormat::kRas:
            return kFormatRas;
        default:
            return kFormatUnknown;
    }
}

// A sample of any precision and sign on 0..255, rounded.
int32_t toEightBits(int32_t value, const JasComponent& c) {
    const int64_t top = (int64_t(1) << c.precision) - 1;
    int64_t v = value;
    if (c.isSigned)
        v += int64_t(1) << (c.precision - 1);
    v = std::clamp<int64_t>(v, 0, top);
    return int32_t((v * 255 + top / 2) / top);
}

uint8_t clampByte(double value) {
    return uint8_t(std::clamp(std::lround(value), 0L, 255L));
}

// Components of a precision the image cannot hold as indices, made three
// 8-bit red, green and blue components: grey is spread over all three,
// luma and chroma turned into colour.
void convertToSrgb(JasPicture& picture) {
    std::vector<JasComponent>& in = picture.components;
    const bool colour = in.size() >= 3 && picture.space != JasPicture::Space::kGrey;
    if (colour) {
        for (size_t i = 1; i < 3; ++i)
            if (in[i].width != in[0].width || in[i].height != in[0].height)
                failCodec("cannot convert to sRGB");
    }
    std::vector<JasComponent> out(3);
    for (size_t i = 0; i < 3; ++i) {
        const JasComponent& from = in[colour ? i : 0];
        out[i].width = from.width;
        out[i].height = from.height;
        out[i].precision = 8;
        out[i].samples.resize(from.samples.size());
        for (size_t s = 0; s < from.samples.size(); ++s)
            out[i].samples[s] = toEightBits(from.samples[s], from);
    }
    if (colour && picture.space == JasPicture::Space::kYcc) {
        for (size_t s = 0; s < out[0].samples.size(); ++s) {
            const double y = out[0].samples[s];
            const double cb = out[1].samples[s] - 128.0;
            const double cr = out[2].samples[s] - 128.0;
            out[0].samples[s] = clampByte(y + 1.402 * cr);
            out[1].samples[s] = clampByte(y - 0.344136 * cb - 0.714136 * cr);
            out[2].samples[s] = clampByte(y + 1.772 * cb);
        }
    }
    picture.components = std::move(out);
    picture.space = JasPicture::Space::kRgb;
}

}  // namespace

std::string RasterImageJAS::rateOption(uint8_t quality) {
    char text[32];
    std::snprintf(text, sizeof text, "rate=%.3f", quality * 0.01);
    return text;
}

bool RasterImageJAS::Decode(ImageStream* stream, uint32_t code) {
    if (stream == nullptr)
        return false;
    return runCodec([&] {
        const int32_t start = stream->tell();
        uint8_t head[kSignatureBytes] = {};
        const size_t got = stream->read(head, 1, sizeof head);
        if (start < 0 || !stream->seek(start, ImageStream::kSeekSet))
            failCodec("error: cannot load image data");
        const JasFormat format = detectJasFormat(head, got);
        JasPicture picture;
        bool read = false;
        switch (format) {
            case JasFormat::kJp2:
            case JasFormat::kJpc: {
                const JasRead result = readJasJpeg2000(stream, format == JasFormat::kJpc, picture);
                if (result == JasRead::kTooManyComponents)
                    failCodec("error: too much components");
                read = result == JasRead::kOk;
                break;
            }
            case JasFormat::kPgx:
                read = readPgx(stream, picture);
                break;
            case JasFormat::kPnm:
                read = readPnm(stream, picture);
                break;
            case JasFormat::kRas:
                read = readRas(stream, picture);
                break;
            case JasFormat::kNone:
                break;
        }
        if (!read || picture.components.empty())
            failCodec("error: cannot load image data");
        decodePicture(picture, code != kFormatUnknown ? code : codeOf(format));
    });
}

void RasterImageJAS::decodePicture(JasPicture& picture, uint32_t code) {
    if (picture.components.size() > kMaxJasComponents)
        failCodec("error: too much components");
    const int32_t precision = picture.components[0].precision;
    if (precision != 1 && precision != 4 && precision != 8) {
        convertToSrgb(picture);
    } else {
        // Signed samples are centred on zero: their low bytes would wrap
        // black and white around, so they are lifted onto 0..2^precision - 1.
        for (JasComponent& c : picture.components) {
            if (!c.isSigned)
                continue;
            const int32_t lift = int32_t(1) << (c.precision - 1);
            for (int32_t& sample : c.samples)
                sample += lift;
            c.isSigned = false;
        }
    }
    const std::vector<JasComponent>& c = picture.components;

    if (c.size() == 3 && c[1].width == c[0].width && c[2].width == c[0].width && c[1].height == c[0].height &&
        c[2].height == c[0].height && c[1].precision == c[0].precision && c[2].precision == c[0].precision) {
        const int32_t width = c[0].width;
        const int32_t height = c[0].height;
        if (Create(width, height, 24, code) == nullptr)
            failCodec("Can't allocate memory");
        for (int32_t y = 0; y < height; ++y) {
            uint8_t* row = RowPointer(height - 1 - y);
            const size_t base = size_t(y) * size_t(width);
            for (int32_t x = 0; x < width; ++x) {
                row[3 * x] = uint8_t(c[2].samples[base + x]);
                row[3 * x + 1] = uint8_t(c[1].samples[base + x]);
                row[3 * x + 2] = uint8_t(c[0].samples[base + x]);
            }
        }
        return;
    }

    m_info.frameCount = int32_t(c.size());
    if (m_info.frame < 0 || m_info.frame >= m_info.frameCount)
        failCodec("wrong frame!");
    const JasComponent& frame = c[size_t(m_info.frame)];
    if (Create(frame.width, frame.height, std::min(frame.precision, 8), code) == nullptr)
        failCodec("Can't allocate memory");
    MakeGreyPalette();
    for (int32_t y = 0; y < frame.height; ++y) {
        const int32_t row = frame.height - 1 - y;
        const size_t base = size_t(y) * size_t(frame.width);
        for (int32_t x = 0; x < frame.width; ++x)
            WriteIndex(x, row, uint8_t(frame.samples[base + x]));
    }
}

bool RasterImageJAS::Encode(ImageStream* stream, uint32_t code) {
    if (!CheckEncodable(stream))
        return false;
    return runCodec([&] {
        if (HasPalette() && !HasGreyPalette())
            failCodec("JasPer can save only RGB or GrayScale images");
        const bool grey = HasPalette();
        const int32_t width = GetWidth();
        const int32_t height = GetHeight();
        JasPicture picture;
        picture.space = grey ? JasPicture::Space::kGrey : JasPicture::Space::kRgb;
        picture.components.resize(grey ? 1 : 3);
        for (JasComponent& component : picture.components) {
            component.width = width;
            component.height = height;
            component.precision = 8;
            component.samples.resize(size_t(width) * size_t(height));
        }
        for (int32_t r = 0; r < height; ++r) {
            const size_t base = size_t(height - 1 - r) * size_t(width);
            for (int32_t x = 0; x < width; ++x) {
                if (grey) {
                    picture.components[0].samples[base + x] = ReadIndex(x, r);
                    continue;
                }
                const RgbQuad colour = ReadColor(x, r, false);
                picture.components[0].samples[base + x] = colour.red;
                picture.components[1].samples[base + x] = colour.green;
                picture.components[2].samples[base + x] = colour.blue;
            }
        }
        if (code == kFormatPgx && !grey)
            failCodec("PGX can save only GrayScale images");
        // The rate reaches the encoder as its options text says it.
        double rate = 0;
        std::sscanf(rateOption(GetQuality()).c_str(), "rate=%lf", &rate);
        bool written = false;
        switch (code) {
            case kFormatJp2:
            case kFormatJpc:
                written = writeJasJpeg2000(stream, code == kFormatJpc, picture, rate);
                break;
            case kFormatPgx:
                written = writePgx(stream, picture);
                break;
            case kFormatPnm:
                written = writePnm(stream, picture);
                break;
            case kFormatRas:
                written = writeRas(stream, picture);
                break;
            default:
                break;
        }
        if (!written)
            failCodec("error: cannot encode image\n");
        if (!stream->flush())
            failCodec("error: cannot encode image\n");
    });
}

}  // namespace rendova
