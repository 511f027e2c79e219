// Fuzzes the JPEG decoder with its EXIF probe, the EXIF reader's whole-file
// mode and section writer, then writes what was decoded back as JPEG.
#include <cstdint>
#include <vector>

#include "fuzz/CodecFuzz.h"
#include "image/ExifReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace rendova;
    if (size > fuzz::kMaxCodecInput)
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
    if (!fuzz::probeFits(bytes, kFormatJpeg, 0))
        return 0;
    for (uint32_t options : {0u, 0x100u | 0x800u})
        fuzz::decodeAndReencode(bytes, kFormatJpeg, 0, options);
    return 0;
}
