#pragma once

// The image pages of the render tests, built as PDF files by the tests: the
// sample depths from 1 to 16 bits, indexed images, stencil and colour-key
// masks, inline images with their short keys and filters, and images under
// turned, mirrored and skewed matrices. Each is named in
// tests/render/manifest as "built:<name>", like the vector pages.
//
// The pages are compared at 144 dpi, where a point is two pixels. Samples
// are drawn four points (eight pixels) wide on whole points, so that both
// renderers repeat each sample over whole pixels: the peer smooths samples
// that are enlarged less than three times, which would hide the sampling
// that these pages are about.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/render/JpxPages.h"
#include "tests/render/VectorPages.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {

// Samples of bpc bits each, packed from the high bit down, every row of
// perRow samples starting on a new byte.
inline std::string packSamples(const std::vector<int>& samples, int bpc, int perRow) {
    std::string out;
    int acc = 0, used = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        for (int b = bpc - 1; b >= 0; --b) {
            acc = acc << 1 | ((samples[i] >> b) & 1);
            if (++used == 8) {
                out += char(acc);
                acc = used = 0;
            }
        }
        if ((i + 1) % perRow == 0 && used) {
            out += char(acc << (8 - used));
            acc = used = 0;
        }
    }
    return out;
}

// The "q w 0 0 h x y cm /Name Do Q" that draws an image.
inline std::string placeImage(const std::string& name, int x, int y, int w, int h) {
    return "q " + std::to_string(w) + " 0 0 " + std::to_string(h) + " " + std::to_string(x) + " " +
           std::to_string(y) + " cm /" + name + " Do Q ";
}

inline std::string imageDict(int width, int height, const std::string& rest) {
    return "<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
           std::to_string(height) + " " + rest + " >>";
}

// Ring-shaped 1-bit mask data, 12 x 12, with a cut on the right so that a
// mirrored drawing is told apart: 1 on the ring.
inline std::vector<int> ringMask() {
    std::vector<int> bits;
    for (int y = 0; y < 12; ++y) {
        for (int x = 0; x < 12; ++x) {
            const int dx = 2 * x - 11, dy = 2 * y - 11;
            const int r = dx * dx + dy * dy;
            const bool cut = x > 6 && y >= 5 && y <= 6;
            bits.push_back(r <= 121 && r >= 49 && !cut ? 1 : 0);
        }
    }
    return bits;
}

inline std::map<std::string, VectorPage> imagePages() {
    std::map<std::string, VectorPage> pages;
    // A light backdrop: white samples and transparent ones both show.
    const std::string backdrop = "1 1 0.85 rg 0 0 240 180 re f ";

    // --- Sample depths and Decode arrays. ---
    {
        VectorPage& page = pages["image-depths"];
        std::vector<int> grey1, grey2, rgb4, grey8, rgb16, grey16, grey4, rgb1;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 10; ++x)
                grey1.push_back((x + y) % 3 == 0 ? 1 : 0);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                grey2.push_back((x + 2 * y) % 4);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x) {
                rgb4.push_back((x * 3 + y) % 16);
                rgb4.push_back((y * 5 + x * 2) % 16);
                rgb4.push_back(15 - x * 3);
            }
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x)
                grey8.push_back(x * 40 + y * 20);
        // 16 bits: the high byte decides; the low byte varies to show that
        // it does not disturb the high one.
        const int wide[18] = {0x12ff, 0xff00, 0x8001, 0x0000, 0x40ff, 0xc080, 0xffff, 0x7fff, 0x2000,
                              0x9933, 0x3399, 0x6666, 0xe010, 0x10e0, 0x5555, 0xaaaa, 0x0101, 0xfefe};
        for (int v : wide)
            rgb16.push_back(v);
        for (int i = 0; i < 8; ++i)
            grey16.push_back(i * 0x2400 + 0xff);
        for (int i = 0; i < 16; ++i)
            grey4.push_back(i);
        for (int i = 0; i < 12; ++i) {
            rgb1.push_back(i & 1);
            rgb1.push_back(i >> 1 & 1);
            rgb1.push_back(i >> 2 & 1);
        }
        std::vector<int> gradient;
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x) {
                gradient.push_back(x * 16);
                gradient.push_back(y * 21);
                gradient.push_back(255 - x * 8 - y * 8);
            }
        const std::string flate = PdfBuilder::deflateStored(packSamples(gradient, 8, 48));
        page.resources =
            "<< /XObject << /G1 10 0 R /G2 11 0 R /C4 12 0 R /G8D 13 0 R /C16 14 0 R /G16 15 0 R /G4D 16 0 R "
            "/C1 17 0 R /Fl 18 0 R /HexFl 19 0 R >> >>";
        page.streams = {
            {10,
             {imageDict(10, 4, "/ColorSpace /DeviceGray /BitsPerComponent 1"), packSamples(grey1, 1, 10)}},
            {11, {imageDict(7, 3, "/ColorSpace /DeviceGray /BitsPerComponent 2"), packSamples(grey2, 2, 7)}},
            {12, {imageDict(5, 3, "/ColorSpace /DeviceRGB /BitsPerComponent 4"), packSamples(rgb4, 4, 15)}},
            {13,
             {imageDict(6, 3, "/ColorSpace /DeviceGray /BitsPerComponent 8 /Decode [1 0]"),
              packSamples(grey8, 8, 6)}},
            {14, {imageDict(3, 2, "/ColorSpace /DeviceRGB /BitsPerComponent 16"), packSamples(rgb16, 16, 9)}},
            {15,
             {imageDict(4, 2, "/ColorSpace /DeviceGray /BitsPerComponent 16"), packSamples(grey16, 16, 4)}},
            {16,
             {imageDict(8, 2, "/ColorSpace /DeviceGray /BitsPerComponent 4 /Decode [0.25 0.75]"),
              packSamples(grey4, 4, 8)}},
            {17, {imageDict(4, 3, "/ColorSpace /DeviceRGB /BitsPerComponent 1"), packSamples(rgb1, 1, 12)}},
            {18,
             {imageDict(16, 12, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode"), flate}},
        };
        // The same gradient through two filters: hex digits of the Flate data.
        std::string hex;
        for (unsigned char c : flate) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        page.streams.push_back(
            {19,
             {imageDict(16, 12, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter [/AHx /Fl]"),
              hex + ">"}});
        page.content = backdrop + placeImage("G1", 10, 150, 40, 16) + placeImage("G2", 60, 150, 28, 12) +
                       placeImage("C4", 100, 150, 20, 12) + placeImage("G8D", 130, 150, 24, 12) +
                       placeImage("C16", 165, 150, 12, 8) + placeImage("G16", 190, 150, 16, 8) +
                       placeImage("G4D", 10, 120, 32, 8) + placeImage("C1", 50, 120, 16, 12) +
                       placeImage("Fl", 10, 50, 64, 48) + placeImage("HexFl", 90, 50, 64, 48);
    }

    // --- Indexed images. ---
    {
        VectorPage& page = pages["image-indexed"];
        std::vector<int> i1, i2, i4, i8, g8, i2d;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                i1.push_back((x / 2 + y) % 2);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                i2.push_back((x + y) % 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                i4.push_back((x * 4 + y) % 16);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 6; ++x)
                i8.push_back((x + 2 * y) % 6);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                g8.push_back((x + y) % 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                i2d.push_back((x + y) % 4);
        std::string palette16;
        for (int i = 0; i < 16; ++i) {
            palette16 += char(i * 17);
            palette16 += char(255 - i * 16);
            palette16 += char((i * 64) & 255);
        }
        std::string hex16;
        for (unsigned char c : palette16) {
            static const char digits[] = "0123456789abcdef";
            hex16 += digits[c >> 4];
            hex16 += digits[c & 15];
        }
        page.resources =
            "<< /XObject << /I1 10 0 R /I2 11 0 R /I4 12 0 R /I8 13 0 R /IG 14 0 R /I2D 15 0 R >> >>";
        page.streams = {
            {10,
             {imageDict(8, 4, "/ColorSpace [/Indexed /DeviceRGB 1 <1030c0f0d020>] /BitsPerComponent 1"),
              packSamples(i1, 1, 8)}},
            {11,
             {imageDict(
                  6, 4,
                  "/ColorSpace [/Indexed /DeviceRGB 3 <ff0000 00a000 0000ff 202020>] /BitsPerComponent 2"),
              packSamples(i2, 2, 6)}},
            {12,
             {imageDict(5, 4, "/ColorSpace [/Indexed /DeviceRGB 15 <" + hex16 + ">] /BitsPerComponent 4"),
              packSamples(i4, 4, 5)}},
            // The lookup table as a stream.
            {13,
             {imageDict(6, 3, "/ColorSpace [/Indexed /DeviceRGB 5 20 0 R] /BitsPerComponent 8"),
              packSamples(i8, 8, 6)}},
            {14,
             {imageDict(4, 2, "/ColorSpace [/Indexed /DeviceGray 3 <00 50 a0 f0>] /BitsPerComponent 8"),
              packSamples(g8, 8, 4)}},
            // Decode [3 0] reverses the indices.
            {15,
             {imageDict(
                  6, 4,
                  "/ColorSpace [/Indexed /DeviceRGB 3 <ff0000 00a000 0000ff 202020>] /BitsPerComponent 2 "
                  "/Decode [3 0]"),
              packSamples(i2d, 2, 6)}},
            {20,
             {"<< >>",
              std::string("\xff\x80\x00\x00\x80\xff\x40\x40\x40\xc0\xc0\x00\x00\xc0\xc0\xff\xff\xff", 18)}},
        };
        page.content = backdrop + placeImage("I1", 10, 140, 32, 16) + placeImage("I2", 50, 140, 24, 16) +
                       placeImage("I4", 85, 140, 20, 16) + placeImage("I8", 115, 140, 24, 12) +
                       placeImage("IG", 150, 140, 16, 8) + placeImage("I2D", 180, 140, 24, 16) +
                       // Larger: a sample is 8 points.
                       placeImage("I4", 10, 40, 40, 32) + placeImage("I2", 70, 40, 48, 32);
    }

    // --- Stencil and colour-key masks. ---
    {
        VectorPage& page = pages["image-masks"];
        const std::vector<int> ring = ringMask();
        std::vector<int> keyed, keyedIndexed, keyedBits, keyedGrey;
        const std::vector<int> keyedWide = {0x0000, 0x4000, 0x8000, 0xffff, 0x8000, 0xffff, 0x0000, 0x4000};
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x) {
                const bool red = (x + y) % 3 == 0;
                keyed.push_back(red ? 252 : 30 + x * 30);
                keyed.push_back(red ? 3 : 200 - y * 30);
                keyed.push_back(red ? 2 : 90);
            }
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                keyedIndexed.push_back((x + y) % 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x)
                keyedBits.push_back((x / 2 + y) % 2);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 6; ++x)
                keyedGrey.push_back((x * 50 + y * 13) % 256);
        page.resources =
            "<< /XObject << /Ring 10 0 R /RingD 11 0 R /Ring1 12 0 R /Key 13 0 R /KeyI 14 0 R /KeyB 15 0 R "
            "/KeyG 16 0 R /Key16 17 0 R >> >>";
        page.streams = {
            {10, {imageDict(12, 12, "/ImageMask true"), packSamples(ring, 1, 12)}},
            {11, {imageDict(12, 12, "/ImageMask true /Decode [1 0]"), packSamples(ring, 1, 12)}},
            {12,
             {imageDict(12, 12, "/ImageMask true /BitsPerComponent 1 /Decode [0 1]"),
              packSamples(ring, 1, 12)}},
            // Red samples are keyed out.
            {13,
             {imageDict(6, 6, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask [250 255 0 5 0 5]"),
              packSamples(keyed, 8, 18)}},
            // Index 1 is keyed out. (8 bits: the peer ignores the key of
            // indexed images with fewer bits; RasterOutputDeviceTest covers
            // them.)
            {14,
             {imageDict(
                  6, 4,
                  "/ColorSpace [/Indexed /DeviceRGB 3 <ff0000 00a000 0000ff 202020>] /BitsPerComponent 8 "
                  "/Mask [1 1]"),
              packSamples(keyedIndexed, 8, 6)}},
            // White (1) samples are keyed out.
            {15,
             {imageDict(8, 4, "/ColorSpace /DeviceGray /BitsPerComponent 1 /Mask [1 1]"),
              packSamples(keyedBits, 1, 8)}},
            // A range of greys is keyed out.
            {16,
             {imageDict(6, 4, "/ColorSpace /DeviceGray /BitsPerComponent 8 /Mask [100 180]"),
              packSamples(keyedGrey, 8, 6)}},
            // 16 bits: the key range is in 16-bit units (0x8000 is keyed).
            {17,
             {imageDict(4, 2, "/ColorSpace /DeviceGray /BitsPerComponent 16 /Mask [30000 40000]"),
              packSamples(keyedWide, 16, 4)}},
        };
        // Stripes under every mask show what it leaves transparent.
        std::string stripes = "0.3 0.6 0.9 rg ";
        for (int x = 0; x < 240; x += 16)
            stripes += std::to_string(x) + " 0 8 180 re ";
        stripes += "f ";
        page.content = backdrop + stripes + "0.8 0 0 rg " + placeImage("Ring", 10, 120, 48, 48) +
                       "0 0.5 0 rg " + placeImage("RingD", 70, 120, 48, 48) + "0.2 g " +
                       placeImage("Ring1", 130, 120, 48, 48) +
                       // A fill colour in another space, and a mask drawn turned.
                       "/DeviceRGB cs 0.5 0.2 0 sc q 0 48 -48 0 236 120 cm /Ring Do Q " +
                       placeImage("Key", 10, 50, 48, 48) + placeImage("KeyI", 70, 50, 48, 32) +
                       placeImage("KeyB", 130, 50, 64, 32) + placeImage("KeyG", 10, 10, 48, 32) +
                       placeImage("Key16", 70, 10, 64, 32);
    }

    // --- Inline images. ---
    {
        VectorPage& page = pages["image-inline"];
        page.resources = "<< /ColorSpace << /Pal [/Indexed /DeviceRGB 3 <ff0000 00a000 0000ff 202020>] >> >>";
        // Grey data holding "E" before a space, a newline, an "X", and even
        // "EI" followed by a space: the image is read by its size, and the
        // end marker is looked for only after it.
        const std::string greyData("E XE\nEEEI ABEIEx", 16);
        std::string runLength;
        runLength += char(-3);  // 4 repeats of 0x20
        runLength += char(0x20);
        runLength += char(3);  // 4 literal bytes
        runLength += std::string("\x40\x60\x80\xa0", 4);
        runLength += char(-7);  // 8 repeats of 0xe0
        runLength += char(0xe0);
        runLength += char(0x80);  // end of data
        page.content =
            backdrop + "q 32 0 0 32 10 130 cm BI /W 4 /H 4 /BPC 8 /CS /G ID " + greyData +
            "\nEI Q "
            // A stencil mask with the short keys, reversed.
            "0.7 0 0.2 rg q 32 0 0 32 55 130 cm BI /IM true /W 8 /H 8 /D [1 0] ID " +
            std::string("\x81\x42\x24\x18\x18\x24\x42\x81", 8) +
            " EI Q "
            // Hex-encoded 4-bit RGB.
            "q 24 0 0 16 100 130 cm BI /W 3 /H 2 /BPC 4 /CS /RGB /F /AHx ID f000f000f0 ff00fff0f0>\nEI Q "
            // A colour space from the resources, and one written inline.
            "q 32 0 0 16 135 130 cm BI /W 4 /H 2 /BPC 2 /CS /Pal ID " +
            std::string("\x1b\xe4", 2) +
            " EI Q "
            "q 32 0 0 24 180 130 cm BI /W 4 /H 3 /BPC 8 /CS [/I /RGB 2 <ff8000 0080ff 404040>] ID " +
            std::string("\x00\x01\x02\x00\x01\x02\x00\x01\x02\x00\x01\x02", 12) +
            " EI Q "
            // Run-length and ASCII85 data.
            "q 32 0 0 32 10 80 cm BI /W 4 /H 4 /BPC 8 /CS /G /F /RL ID " +
            runLength +
            " EI Q "
            "q 32 0 0 16 55 80 cm BI /W 4 /H 2 /BPC 8 /CS /G /F /A85 ID !'l(Ms1j.M~> EI Q "
            // Flate data with a short dictionary key spelt out in full.
            "q 24 0 0 16 100 80 cm BI /Width 3 /Height 2 /BitsPerComponent 8 /ColorSpace /DeviceRGB /F /Fl "
            "ID " +
            PdfBuilder::deflateStored(
                std::string("\xff\x00\x00\x00\xff\x00\x00\x00\xff\x20\x20\x20\xe0\xe0\xe0"
                            "\x80\x80\x00",
                            18)) +
            "\nEI Q "
            // The content goes on after the images.
            "0 0 0.6 rg 10 10 220 20 re f";
    }

    // --- Matrices: mirrored, flipped, turned, rotated and skewed. ---
    // 6 x 4 samples, each different, with a black corner at the first
    // sample (the image's top left).
    std::vector<int> marked;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool corner = x == 0 && y == 0;
            marked.push_back(corner ? 0 : 40 + x * 40);
            marked.push_back(corner ? 0 : 60 + y * 60);
            marked.push_back(corner ? 0 : (x + y) % 2 ? 230 : 110);
        }
    const std::string markedDict = imageDict(6, 4, "/ColorSpace /DeviceRGB /BitsPerComponent 8");
    {
        VectorPage& page = pages["image-transforms"];
        page.resources = "<< /XObject << /Im 10 0 R /Ring 11 0 R >> >>";
        page.streams = {
            {10, {markedDict, packSamples(marked, 8, 18)}},
            {11, {imageDict(12, 12, "/ImageMask true"), packSamples(ringMask(), 1, 12)}},
        };
        page.content = backdrop +
                       // Upright, mirrored left to right, upside down, and both.
                       "q 48 0 0 32 10 140 cm /Im Do Q q -48 0 0 32 112 140 cm /Im Do Q "
                       "q 48 0 0 -32 122 172 cm /Im Do Q q -48 0 0 -32 224 172 cm /Im Do Q "
                       // Quarter turns both ways, and a turned stencil mask.
                       "q 0 48 -32 0 42 80 cm /Im Do Q q 0 -48 32 0 60 128 cm /Im Do Q "
                       "0.1 0.3 0.8 rg q 0 -48 -48 0 160 128 cm /Ring Do Q "
                       // Half a sample wide per pixel: reduced by two.
                       "q 12 0 0 8 20 20 cm /Im Do Q";
    }
    {
        VectorPage& page = pages["image-rotated"];
        page.resources = "<< /XObject << /Im 10 0 R /Ring 11 0 R >> >>";
        page.streams = {
            {10, {markedDict, packSamples(marked, 8, 18)}},
            {11, {imageDict(12, 12, "/ImageMask true"), packSamples(ringMask(), 1, 12)}},
        };
        page.content = backdrop +
                       // Rotated by 30 degrees, skewed, and a rotated stencil mask.
                       "q 41.57 24 -16 27.71 40 100 cm /Im Do Q q 48 0 16 32 140 110 cm /Im Do Q "
                       "0.1 0.3 0.8 rg q 33.94 -33.94 33.94 33.94 60 45 cm /Ring Do Q";
    }

    // A page turned by /Rotate with an image on it.
    {
        VectorPage& page = pages["image-page-rotated"];
        page.pageEntries = "/Rotate 270";
        page.resources = "<< /XObject << /Im 10 0 R >> >>";
        page.streams = {{10, {markedDict, packSamples(marked, 8, 18)}}};
        page.content = backdrop + placeImage("Im", 20, 100, 96, 64) + placeImage("Im", 140, 20, 48, 32);
    }

    return pages;
}

// Every built page of the render tests: the vector pages and the image pages.
inline std::map<std::string, VectorPage> builtPages() {
    std::map<std::string, VectorPage> pages = vectorPages();
    for (auto& [name, page] : imagePages())
        pages.emplace(name, std::move(page));
    for (const auto& [name, page] : jpxPages())
        pages.emplace(name, page);
    return pages;
}

}  // namespace rendova::test
