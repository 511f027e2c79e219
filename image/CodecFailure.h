#pragma once

namespace rendova {

// What a codec throws to end a decode or encode: the text that becomes the
// image's last-error text. Every codec catches it at its own boundary
// (RasterImage::runCodec), so it never leaves the library's public operations.
struct CodecFailure {
    const char* text;
};

[[noreturn]] inline void failCodec(const char* text) {
    throw CodecFailure{text};
}

}  // namespace rendova
