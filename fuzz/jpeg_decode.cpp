// Fuzzes the JPEG decoder with its EXIF probe, the EXIF reader's whole-file
// mode and section writer, then writes what was decoded back as JPEG.
#include "fuzz/ImageFuzz.h"
#include "image/ExifReader.h"

using namespace rendova;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > fuzz::kMaxInputBytes)
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    {
        ExifReader reader;
        MemoryStream in(bytes.data(), int32_t(bytes.size()));
        if (reader.DecodeExif(&in, ExifReader::kParseExif | ExifReader::kReadImageData)) {
            MemoryStream out;
            if (out.open())
                reader.EncodeExif(&out);
        }
        reader.DiscardAllButExif();
    }
    if (!fuzz::smallEnough(bytes, kFormatJpeg, 0, false))
        return 0;
    for (uint32_t options : {0u, 0x100u | 0x800u}) {
        RasterImage image;
        if (fuzz::decodeImage(bytes, kFormatJpeg, image, 0, options))
            fuzz::encodeImage(image, kFormatJpeg);
    }
    return 0;
}
