#pragma once

#include <string>

#include "image/RasterImage.h"

namespace rendova {

struct JasPicture;

// The JPEG 2000 family codec: JP2 files (format code 11) and bare code
// streams (12) through OpenJPEG, and PGX (13), PNM (14) and Sun raster (15)
// files of our own. Decoding detects the format from the file itself,
// whatever the code; three equal components become a 24-bit image, any
// other set one 8-bit (or fewer) grey image per component, chosen by
// info().frame. Encoding writes one grey or three colour components of 8
// bits. Built by the format dispatch for one call; does not throw.
class RasterImageJAS : public RasterImage {
public:
    explicit RasterImageJAS(uint32_t code = kFormatJp2) : RasterImage(code) {}

    bool Decode(ImageStream* stream, uint32_t code);
    bool Encode(ImageStream* stream, uint32_t code);

    // The encoder's options text for a quality: "rate=0.900" for 90.
    static std::string rateOption(uint8_t quality);

private:
    void decodePicture(JasPicture& picture, uint32_t code);
};

}  // namespace rendova
