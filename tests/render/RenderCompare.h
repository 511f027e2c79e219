#pragma once

// Shared by the render tests: RGB images, PNG reading and writing, running
// the peers (`mutool draw`, Ghostscript), the expected picture that may lie
// beside a corpus document, and the comparison of two renderings by the
// share of differing pixels and the PSNR, with a difference image.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace rendova::test {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // red, green, blue; rows top to bottom

    const uint8_t* at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 3]; }
};

inline bool readPng(const std::string& path, RgbImage& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.resize(PNG_IMAGE_SIZE(image));
    // A picture with transparency is seen as it lies on white paper.
    const png_color white = {255, 255, 255};
    if (!png_image_finish_read(&image, &white, out.pixels.data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    return true;
}

inline void writePng(const std::string& path, const RgbImage& in) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(in.width);
    image.height = static_cast<png_uint_32>(in.height);
    image.format = PNG_FORMAT_RGB;
    png_image_write_to_file(&image, path.c_str(), 0, in.pixels.data(), 0, nullptr);
}

// The 24-bit BMP block of the renderer facade (54-byte header, bottom-up
// rows of blue, green, red padded to 4 bytes) as an image.
inline RgbImage fromBmpBlock(const uint8_t* block) {
    auto le32 = [block](int at) {
        return static_cast<int32_t>(block[at] | block[at + 1] << 8 | block[at + 2] << 16 |
                                    static_cast<uint32_t>(block[at + 3]) << 24);
    };
    RgbImage out;
    out.width = le32(18);
    out.height = le32(22);
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    const size_t rowSize = (static_cast<size_t>(out.width) * 3 + 3) & ~size_t{3};
    const uint8_t* pixels = block + 54;
    for (int y = 0; y < out.height; ++y) {
        const uint8_t* row = pixels + rowSize * (out.height - 1 - y);
        uint8_t* dst = &out.pixels[static_cast<size_t>(y) * out.width * 3];
        for (int x = 0; x < out.width; ++x) {
            dst[3 * x] = row[3 * x + 2];
            dst[3 * x + 1] = row[3 * x + 1];
            dst[3 * x + 2] = row[3 * x];
        }
    }
    return out;
}

inline bool havePeer() {
    static const bool present = std::system("mutool -v > /dev/null 2>&1") == 0;
    return present;
}

// Page `page` of the file through `mutool draw` at dpi, as RGB; false when
// the peer writes no page. A page it writes while it reports an error in
// the document counts: it draws what it could read, as the engine does.
inline bool renderWithPeer(const std::string& pdfPath, int page, int dpi, const std::string& password,
                           const std::string& pngPath, RgbImage& out) {
    std::string command = "mutool draw -q -r " + std::to_string(dpi) + " -c rgb";
    if (!password.empty())
        command += " -p '" + password + "'";
    command += " -o '" + pngPath + "' '" + pdfPath + "' " + std::to_string(page) + " > /dev/null 2>&1";
    std::remove(pngPath.c_str());
    (void)std::system(command.c_str());
    return readPng(pngPath, out);
}

inline bool haveGhostscript() {
    static const bool present = std::system("gs -v > /dev/null 2>&1") == 0;
    return present;
}

// Page `page` of the file through Ghostscript at dpi (the crop box, as the
// other renderings), as RGB; false when it fails.
inline bool renderWithGhostscript(const std::string& pdfPath, int page, int dpi, const std::string& password,
                                  const std::string& pngPath, RgbImage& out) {
    if (!haveGhostscript())
        return false;
    std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -dUseCropBox -sDEVICE=png16m -r" +
                          std::to_string(dpi) + " -dFirstPage=" + std::to_string(page) +
                          " -dLastPage=" + std::to_string(page);
    if (!password.empty())
        command += " -sPDFPassword='" + password + "'";
    command += " -sOutputFile='" + pngPath + "' '" + pdfPath + "' > /dev/null 2>&1";
    std::remove(pngPath.c_str());
    if (std::system(command.c_str()) != 0)
        return false;
    return readPng(pngPath, out);
}

// The picture a corpus document may carry beside it for a page (from 1):
// NAME.expected.N.png next to NAME.pdf with N counted from 0, drawn at 72
// dpi. Empty when the document has none for the page or dpi is another.
inline std::string expectedPicturePath(const std::string& pdfPath, int page, int dpi) {
    const size_t dot = pdfPath.rfind('.');
    if (dpi != 72 || page < 1 || dot == std::string::npos)
        return {};
    const std::string path = pdfPath.substr(0, dot) + ".expected." + std::to_string(page - 1) + ".png";
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    std::fclose(file);
    return path;
}

// A pixel differs when any channel is off by more than this. Both renderers
// anti-alias, on different grids and with different coverage curves: an
// edge pixel can differ by a good part of the range without either being
// wrong, and that is all this threshold forgives.
constexpr int kChannelTolerance = 64;

struct Comparison {
    int width = 0;  // the compared area (the smaller of the two sizes)
    int height = 0;
    size_t differing = 0;
    double share = 0;  // differing / pixels of the area
    double psnr = 0;   // over all channels of the area; 99 for identical images
    RgbImage diff;     // differences red on a faded copy of ours
};

// Compares the common area of the two images (renderers may round a page
// size to different whole pixels; the caller checks that the sizes agree
// within a pixel).
inline Comparison compareImages(const RgbImage& ours, const RgbImage& peer) {
    Comparison c;
    c.width = std::min(ours.width, peer.width);
    c.height = std::min(ours.height, peer.height);
    c.diff.width = c.width;
    c.diff.height = c.height;
    c.diff.pixels.resize(static_cast<size_t>(c.width) * c.height * 3);
    double squares = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
            const uint8_t* a = ours.at(x, y);
            const uint8_t* b = peer.at(x, y);
            int worst = 0;
            for (int k = 0; k < 3; ++k) {
                const int d = std::abs(a[k] - b[k]);
                worst = std::max(worst, d);
                squares += static_cast<double>(d) * d;
            }
            const bool differs = worst > kChannelTolerance;
            c.differing += differs;
            uint8_t* out = &c.diff.pixels[(static_cast<size_t>(y) * c.width + x) * 3];
            for (int k = 0; k < 3; ++k)
                out[k] = differs ? (k == 0 ? 255 : 0) : static_cast<uint8_t>(192 + a[k] / 4);
        }
    }
    const double pixels = static_cast<double>(c.width) * c.height;
    c.share = pixels > 0 ? static_cast<double>(c.differing) / pixels : 0;
    const double mse = pixels > 0 ? squares / (pixels * 3) : 0;
    c.psnr = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
    return c;
}

}  // namespace rendova::test
