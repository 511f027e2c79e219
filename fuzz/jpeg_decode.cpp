// Fuzzes the JPEG decoder with its EXIF probe, the EXIF reader's whole-file
// mode and section writer, then writes what was decoded back as JPEG.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "image/ExifReader.h"
#include "image/MemoryStream.h"
#include "image/RasterImage.h"

namespace {

// Pictures beyond this many pixels are only measured: a few header bytes can
// ask for gigabytes, which says nothing about the decoder.
constexpr int64_t kMaxPixels = 1 << 22;
// Only small pictures are encoded again: a memory stream grows in 4 KB
// steps, and re-encoding megapixels says little more about the encoder.
constexpr int64_t kMaxEncodedPixels = 1 << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    {
        rendova::ExifReader reader;
        rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
        if (reader.DecodeExif(&in, rendova::ExifReader::kParseExif | rendova::ExifReader::kReadImageData)) {
            rendova::MemoryStream out;
            if (out.open())
                reader.EncodeExif(&out);
        }
        reader.DiscardAllButExif();
    }
    rendova::RasterImage probe;
    probe.info().escape = -1;
    {
        rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
        if (!probe.Decode(&in, rendova::kFormatJpeg) ||
            int64_t(probe.GetWidth()) * probe.GetHeight() > kMaxPixels)
            return 0;
    }
    for (uint32_t options : {0u, 0x100u | 0x800u}) {
        rendova::MemoryStream in(bytes.data(), int32_t(bytes.size()));
        rendova::RasterImage image;
        image.SetFormatOption(options, rendova::kFormatJpeg);
        if (!image.Decode(&in, rendova::kFormatJpeg))
            continue;
        image.ReadColor(image.GetWidth() - 1, image.GetHeight() - 1);
        if (int64_t(image.GetWidth()) * image.GetHeight() > kMaxEncodedPixels)
            continue;
        uint8_t* encoded = nullptr;
        int32_t encodedSize = 0;
        if (image.EncodeToMemory(encoded, encodedSize, rendova::kFormatJpeg))
            std::free(encoded);
    }
    return 0;
}
