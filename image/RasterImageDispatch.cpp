// Format dispatch of RasterImage: the codec of a format code is built for one
// call, shares (encoding) or inherits (decoding) this image, and hands back
// its result or its error text.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <type_traits>

#include "image/FileImageStream.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"
#include "image/RasterImageBMP.h"
#include "image/RasterImageGIF.h"
#include "image/RasterImageICO.h"
#include "image/RasterImageJAS.h"
#include "image/RasterImageJPG.h"
#include "image/RasterImagePCX.h"
#include "image/RasterImagePNG.h"
#include "image/RasterImageTGA.h"
#include "image/RasterImageTIF.h"
#include "image/RasterImageWBMP.h"
#include "image/RasterImageWMF.h"

namespace rendova {

namespace {

const char* const kFormatNames[kFormatCount] = {
    "unknown", "BMP",  "GIF", "JPEG", "PNG", "ICO", "TIFF", "TGA",
    "PCX",     "WBMP", "WMF", "JP2",  "JPC", "PGX", "PNM",  "RAS",
};

// The order in which a decode of format code 0 tries the decoders.
constexpr uint32_t kTryOrder[] = {kFormatBmp, kFormatJpeg, kFormatIco,  kFormatGif, kFormatPng, kFormatTiff,
                                  kFormatTga, kFormatPcx,  kFormatWbmp, kFormatWmf, kFormatJp2};

}  // namespace

template <class Codec, class... Args>
bool RasterImage::encodeAs(ImageStream* stream, Args... args) {
    Codec codec;
    codec.ShareFrom(*this);
    if (codec.Encode(stream, args...)) {
        // The PNG encoder moves a transparent palette entry to index 0 in
        // the shared pixels; the caller's image is told so.
        if constexpr (std::is_same_v<Codec, RasterImagePNG>)
            m_info.transparentIndex = codec.info().transparentIndex;
        return true;
    }
    setLastError(codec.LastErrorText());
    return false;
}

template <class Codec, class... Args>
bool RasterImage::decodeAs(ImageStream* stream, Args... args) {
    Codec codec;
    codec.InheritInfo(*this);
    if (codec.Decode(stream, args...))
        return TakeOver(codec);
    setLastError(codec.LastErrorText());
    // The multi-image formats tell how many images there were.
    if constexpr (std::is_same_v<Codec, RasterImageICO> || std::is_same_v<Codec, RasterImageTIF> ||
                  std::is_same_v<Codec, RasterImageGIF>)
        m_info.frameCount = codec.info().frameCount;
    return false;
}

bool RasterImage::CheckEncodable(ImageStream* stream) {
    if (stream == nullptr) {
        setLastError("null file handler");
        return false;
    }
    if (m_pixelBlock == nullptr) {
        setLastError("null image!!!");
        return false;
    }
    return true;
}

bool RasterImage::Encode(ImageStream* stream, uint32_t code) {
    switch (code) {
        case kFormatBmp:
            return encodeAs<RasterImageBMP>(stream);
        case kFormatGif:
            return encodeAs<RasterImageGIF>(stream);
        case kFormatTga:
            return encodeAs<RasterImageTGA>(stream);
        case kFormatPcx:
            return encodeAs<RasterImagePCX>(stream);
        case kFormatWbmp:
            return encodeAs<RasterImageWBMP>(stream);
        case kFormatJpeg:
            return encodeAs<RasterImageJPG>(stream);
        case kFormatPng:
            return encodeAs<RasterImagePNG>(stream);
        case kFormatIco:
            return encodeAs<RasterImageICO>(stream);
        case kFormatTiff:
            return encodeAs<RasterImageTIF>(stream);
        case kFormatWmf:
            setLastError("Save WMF not supported");
            return false;
        case kFormatJp2:
        case kFormatJpc:
        case kFormatPgx:
        case kFormatPnm:
        case kFormatRas:
            return encodeAs<RasterImageJAS>(stream, code);
        default:
            break;
    }
    if (code == kFormatUnknown || code >= kFormatCount) {
        setLastError("Encode: Unknown format");
        return false;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s not supported here yet", kFormatNames[code]);
    setLastError(text);
    return false;
}

bool RasterImage::Decode(ImageStream* stream, uint32_t code) {
    switch (code) {
        case kFormatUnknown:
            return decodeAnyFormat(stream);
        case kFormatBmp:
            return decodeAs<RasterImageBMP>(stream);
        case kFormatGif:
            return decodeAs<RasterImageGIF>(stream);
        case kFormatTga:
            return decodeAs<RasterImageTGA>(stream);
        case kFormatPcx:
            return decodeAs<RasterImagePCX>(stream);
        case kFormatWbmp:
            return decodeAs<RasterImageWBMP>(stream);
        case kFormatJpeg:
            return decodeAs<RasterImageJPG>(stream);
        case kFormatPng:
            return decodeAs<RasterImagePNG>(stream);
        case kFormatIco:
            return decodeAs<RasterImageICO>(stream);
        case kFormatTiff:
            return decodeAs<RasterImageTIF>(stream);
        case kFormatWmf:
            return decodeAs<RasterImageWMF>(stream, 0, 0);
        case kFormatJp2:
        case kFormatJpc:
        case kFormatPgx:
        case kFormatPnm:
        case kFormatRas:
            return decodeAs<RasterImageJAS>(stream, code);
        default:
            break;
    }
    if (code >= kFormatCount) {
        setLastError("Decode: Unknown or wrong format");
        return false;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%s not supported here yet", kFormatNames[code]);
    setLastError(text);
    return false;
}

bool RasterImage::decodeAnyFormat(ImageStream* stream) {
    const int32_t start = stream != nullptr ? stream->tell() : 0;
    for (uint32_t code : kTryOrder) {
        bool decoded = false;
        switch (code) {
            case kFormatBmp:
                decoded = decodeAs<RasterImageBMP>(stream);
                break;
            case kFormatGif:
                decoded = decodeAs<RasterImageGIF>(stream);
                break;
            case kFormatTga:
                decoded = decodeAs<RasterImageTGA>(stream);
                break;
            case kFormatPcx:
                decoded = decodeAs<RasterImagePCX>(stream);
                break;
            case kFormatWbmp:
                decoded = decodeAs<RasterImageWBMP>(stream);
                break;
            case kFormatJpeg:
                decoded = decodeAs<RasterImageJPG>(stream);
                break;
            case kFormatPng:
                decoded = decodeAs<RasterImagePNG>(stream);
                break;
            case kFormatIco:
                decoded = decodeAs<RasterImageICO>(stream);
                break;
            case kFormatTiff:
                decoded = decodeAs<RasterImageTIF>(stream);
                break;
            case kFormatWmf:
                decoded = decodeAs<RasterImageWMF>(stream, 0, 0);
                break;
            case kFormatJp2:
                // The family decoder finds out which of its formats it is.
                decoded = decodeAs<RasterImageJAS>(stream, uint32_t(kFormatUnknown));
                break;
            default:
                continue;  // decoder not built in: nothing was read
        }
        if (decoded)
            return true;
        if (stream != nullptr)
            stream->seek(start, ImageStream::kSeekSet);
    }
    setLastError("Decode: Unknown or wrong format");
    return false;
}

bool RasterImage::Save(const char* fileName, uint32_t code) {
    FileImageStream stream(fileName, "wb");
    if (!stream.isOpen())
        return false;
    const bool encoded = Encode(&stream, code);
    // The last buffered bytes reach the disk only at the close.
    const bool closed = stream.close();
    if (encoded && !closed)
        setLastError("Error writing the image");
    // A file that holds no whole image is not left behind to pass for one;
    // only a regular file goes (never a device such as /dev/full).
    if (!encoded || !closed) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(fileName, ignored))
            std::filesystem::remove(fileName, ignored);
        return false;
    }
    return true;
}

bool RasterImage::Load(const char* fileName, uint32_t code) {
    if (code > kFormatUnknown && code < kFormatCount) {
        FileImageStream stream(fileName, "rb");
        if (!stream.isOpen())
            return false;
        if (Decode(&stream, code))
            return true;
    }
    // The format asked for did not read it: try every format, but report the
    // first failure when that fails too.
    char kept[sizeof m_info.lastError];
    std::memcpy(kept, m_info.lastError, sizeof kept);
    FileImageStream stream(fileName, "rb");
    if (!stream.isOpen())
        return false;
    const bool decoded = Decode(&stream, kFormatUnknown);
    if (!decoded && code != kFormatUnknown)
        std::memcpy(m_info.lastError, kept, sizeof kept);
    return decoded;
}

bool RasterImage::EncodeToMemory(uint8_t*& buffer, int32_t& size, uint32_t code) {
    if (buffer != nullptr) {
        setLastError("the buffer must be empty");
        return false;
    }
    MemoryStream stream;
    if (!stream.open())
        return false;
    if (!Encode(&stream, code))
        return false;
    size = stream.size();
    buffer = stream.detach(true);
    return true;
}

}  // namespace rendova
