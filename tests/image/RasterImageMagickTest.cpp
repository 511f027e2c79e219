// The BMP and ICO codecs against ImageMagick: files that ImageMagick writes
// decode to exactly the pixels ImageMagick reads from them, and files that we
// write read back in ImageMagick with exactly our pixels. Skipped where
// ImageMagick's `convert` is not installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "image/RasterImage.h"
#include "tests/image/ImageTestUtil.h"

namespace rendova {
namespace {

using test::append32;
using test::Bytes;

bool haveConvert() {
    static const bool present = std::system("command -v convert >/dev/null 2>&1") == 0;
    return present;
}

#define REQUIRE_CONVERT() \
    if (!haveConvert())   \
    GTEST_SKIP() << "ImageMagick's convert is not installed"

std::string out(const std::string& name) {
    return std::string(RENDOVA_TEST_OUTPUT_DIR) + "/magick-" + name;
}

bool run(const std::string& command) {
    const int status = std::system((command + " 2>&1").c_str());
    if (status != 0)
        ADD_FAILURE() << "failed: " << command;
    return status == 0;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A colourful 37 x 23 picture (odd sizes exercise the row padding), one file
// per test: the tests run as parallel processes.
std::string sourcePicture() {
    const std::string path =
        out(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-source.png");
    run("convert -seed 7 -size 37x23 plasma:fractal -depth 8 '" + path + "'");
    return path;
}

// The pixels ImageMagick reads from `path`, top row first: "rgb" or "rgba".
Bytes magickPixels(const std::string& path, const char* layout) {
    const std::string raw = path + "." + layout;
    if (!run("convert '" + path + "[0]' -depth 8 " + layout + ":'" + raw + "'"))
        return {};
    return readFile(raw);
}

// Our pixels in the same layout (stored rows are bottom-up).
Bytes ourPixels(const RasterImage& image, bool withAlpha) {
    Bytes pixels;
    for (int32_t top = 0; top < image.GetHeight(); ++top) {
        const int32_t y = image.GetHeight() - 1 - top;
        for (int32_t x = 0; x < image.GetWidth(); ++x) {
            const RgbQuad c = image.ReadColor(x, y, true);
            pixels.push_back(c.red);
            pixels.push_back(c.green);
            pixels.push_back(c.blue);
            if (withAlpha)
                pixels.push_back(image.HasAlpha() ? c.reserved : 255);
        }
    }
    return pixels;
}

// Index of the first differing byte, or -1.
long firstDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size())
        return long(std::min(a.size(), b.size()));
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return long(i);
    return -1;
}

void expectSameAsMagick(const std::string& file, uint32_t code, bool withAlpha = false) {
    RasterImage image;
    ASSERT_TRUE(image.Load(file.c_str(), code)) << file << ": " << image.LastErrorText();
    const Bytes theirs = magickPixels(file, withAlpha ? "rgba" : "rgb");
    const Bytes ours = ourPixels(image, withAlpha);
    EXPECT_EQ(firstDifference(ours, theirs), -1) << file;
}

TEST(RasterImageMagick, DecodesImageMagickBitmaps) {
    REQUIRE_CONVERT();
    const std::string src = sourcePicture();
    struct Case {
        const char* name;
        const char* options;
    };
    const Case cases[] = {
        {"core24.bmp", "BMP2:"},  // 12-byte core header
        {"info24.bmp", "BMP3:"},  // 40-byte header
        {"v5-24.bmp", "BMP:"},    // 124-byte header, plain 24 bits
        {"pal8.bmp", "-colors 200 -compress None BMP3:"},
        {"pal4.bmp", "-colors 16 BMP3:"},
        {"pal1.bmp", "-colors 2 BMP3:"},
        {"core8.bmp", "-colors 60 BMP2:"},  // 3-byte palette entries
        {"rle8.bmp", "-colors 200 -compress RLE BMP3:"},
        {"rgba32.bmp", "-alpha set -define bmp3:alpha=true BMP3:"},
    };
    for (const Case& c : cases) {
        const std::string file = out(c.name);
        std::string options = c.options;
        const size_t colon = options.rfind(' ') == std::string::npos ? 0 : options.rfind(' ') + 1;
        const std::string prefix = options.substr(colon);
        options = options.substr(0, colon);
        ASSERT_TRUE(run("convert '" + src + "' " + options + " '" + prefix + file + "'"));
        expectSameAsMagick(file, kFormatBmp);
    }
}

TEST(RasterImageMagick, DecodesRunLength4) {
    REQUIRE_CONVERT();
    // ImageMagick writes run-length data only at 8 bits; this 4-bit file is
    // built from its 16-colour bitmap with both kinds of run, and ImageMagick
    // is the reference for how it reads.
    const std::string plain = out("pal4-plain.bmp");
    ASSERT_TRUE(run("convert '" + sourcePicture() + "' -colors 16 'BMP3:" + plain + "'"));
    RasterImage image;
    ASSERT_TRUE(image.Load(plain.c_str(), kFormatBmp));
    ASSERT_EQ(image.GetBpp(), 4);
    Bytes data;
    for (int32_t y = 0; y < image.GetHeight(); ++y) {
        const int32_t width = image.GetWidth();
        int32_t x = 0;
        while (x < width) {
            const uint8_t a = image.ReadIndex(x, y);
            const uint8_t b = x + 1 < width ? image.ReadIndex(x + 1, y) : 0;
            int32_t run = 1;
            while (x + run < width && run < 255 && image.ReadIndex(x + run, y) == ((run & 1) ? b : a))
                ++run;
            if (run >= 4 || width - x < 3) {
                data.push_back(uint8_t(run));
                data.push_back(uint8_t((a << 4) | b));
                x += run;
            } else {
                const int32_t count = std::min(width - x, 7);
                data.push_back(0);
                data.push_back(uint8_t(count));
                for (int32_t i = 0; i < count; i += 2) {
                    const uint8_t high = image.ReadIndex(x + i, y);
                    const uint8_t low = i + 1 < count ? image.ReadIndex(x + i + 1, y) : 0;
                    data.push_back(uint8_t((high << 4) | low));
                }
                if (((count + 1) / 2) & 1)
                    data.push_back(0);
                x += count;
            }
        }
        data.push_back(0);
        data.push_back(0);
    }
    data.push_back(0);
    data.push_back(1);

    Bytes dib;
    test::DibFields f;
    f.width = image.GetWidth();
    f.height = image.GetHeight();
    f.bits = 4;
    f.compression = 2;
    f.sizeImage = uint32_t(data.size());
    f.clrUsed = 16;
    dib = test::infoHeader(f);
    const uint8_t* palette = reinterpret_cast<const uint8_t*>(image.GetPalette());
    dib.insert(dib.end(), palette, palette + 64);
    dib.insert(dib.end(), data.begin(), data.end());
    const std::string file = out("rle4.bmp");
    writeFile(file, test::withFileHeader(dib, 40 + 64));
    expectSameAsMagick(file, kFormatBmp);
}

// Rewrites a 40-byte-header bitmap of ImageMagick's as a 16-bit bit-field file
// with its masks behind the header (ImageMagick's own BMP3 output at 16 bits
// leaves the masks out, and reads that output wrongly itself).
TEST(RasterImageMagick, DecodesSixteenBitFilesToTheirTopBits) {
    REQUIRE_CONVERT();
    struct Case {
        const char* name;
        const char* subtype;
        uint32_t red, green, blue;
        bool withMasks;
    };
    const Case cases[] = {{"565.bmp", "RGB565", 0xF800, 0x07E0, 0x001F, true},
                          {"555.bmp", "RGB555", 0x7C00, 0x03E0, 0x001F, false}};
    for (const Case& c : cases) {
        const std::string written = out(std::string("raw-") + c.name);
        ASSERT_TRUE(run("convert '" + sourcePicture() + "' -define bmp:subtype=" + c.subtype +
                        " 'BMP3:" + written + "'"));
        Bytes file = readFile(written);
        ASSERT_GT(file.size(), 54u);
        Bytes fixed(file.begin(), file.begin() + 54);
        if (c.withMasks) {
            append32(fixed, c.red);
            append32(fixed, c.green);
            append32(fixed, c.blue);
        } else {
            fixed[30] = 0;  // compression 0: the 5-5-5 default
        }
        fixed.insert(fixed.end(), file.begin() + 54, file.end());
        const uint32_t bitsOffset = uint32_t(fixed.size() - (file.size() - 54));
        for (int i = 0; i < 4; ++i) {
            fixed[2 + i] = uint8_t(fixed.size() >> (8 * i));
            fixed[10 + i] = uint8_t(bitsOffset >> (8 * i));
        }
        const std::string path = out(c.name);
        writeFile(path, fixed);

        RasterImage image;
        ASSERT_TRUE(image.Load(path.c_str(), kFormatBmp)) << image.LastErrorText();
        const Bytes theirs = magickPixels(path, "rgb");
        Bytes ours = ourPixels(image, false);
        ASSERT_EQ(ours.size(), theirs.size());
        // We place each channel's bits at the top of its byte; ImageMagick
        // also fills the low bits. The stored bits must agree exactly.
        const int greenBits = c.green == 0x07E0 ? 6 : 5;
        for (size_t i = 0; i < ours.size(); ++i) {
            const int bits = (i % 3 == 1) ? greenBits : 5;
            const uint8_t keep = uint8_t(0xFF << (8 - bits));
            ASSERT_EQ(ours[i], theirs[i] & keep) << c.name << " byte " << i;
        }
    }
}

TEST(RasterImageMagick, DecodesTopDownBitmaps) {
    REQUIRE_CONVERT();
    const std::string bottomUp = out("bottom-up.bmp");
    ASSERT_TRUE(run("convert '" + sourcePicture() + "' 'BMP3:" + bottomUp + "'"));
    Bytes file = readFile(bottomUp);
    const int32_t height = 23;
    const size_t stride = ((37 * 24 + 31) / 32) * 4;
    Bytes flipped(file.begin(), file.begin() + 54);
    for (int32_t row = height - 1; row >= 0; --row)
        flipped.insert(flipped.end(), file.begin() + 54 + row * stride,
                       file.begin() + 54 + (row + 1) * stride);
    const uint32_t negative = uint32_t(-height);
    for (int i = 0; i < 4; ++i)
        flipped[22 + i] = uint8_t(negative >> (8 * i));
    const std::string path = out("top-down.bmp");
    writeFile(path, flipped);
    expectSameAsMagick(path, kFormatBmp);
}

TEST(RasterImageMagick, DecodesImageMagickIcons) {
    REQUIRE_CONVERT();
    const std::string src = sourcePicture();
    const std::string alpha = out("alpha.ico");
    // A transparent corner and a half-transparent band exercise the alpha bytes and the mask.
    ASSERT_TRUE(run("convert '" + src +
                    "' -resize 20x14! -alpha set -region 6x4+0+0 -alpha transparent "
                    "+region -region 20x3+0+8 -channel A -evaluate set 50% +channel +region '" +
                    alpha + "'"));
    expectSameAsMagick(alpha, kFormatIco, true);
    const std::string palette = out("palette.ico");
    ASSERT_TRUE(run("convert '" + src + "' -resize 16x16! -colors 8 '" + palette + "'"));
    expectSameAsMagick(palette, kFormatIco);
}

TEST(RasterImageMagick, ImageMagickReadsOurBitmapsExactly) {
    REQUIRE_CONVERT();
    RasterImage source;
    const std::string reference = out("reference.bmp");
    ASSERT_TRUE(run("convert '" + sourcePicture() + "' 'BMP3:" + reference + "'"));
    ASSERT_TRUE(source.Load(reference.c_str(), kFormatBmp));
    for (int bits : {1, 4, 8, 24}) {
        RasterImage image(source.GetWidth(), source.GetHeight(), bits, kFormatUnknown);
        if (bits == 1)
            image.MakeGreyPalette();
        else
            image.SetFixedPalette();
        for (int32_t y = 0; y < image.GetHeight(); ++y)
            for (int32_t x = 0; x < image.GetWidth(); ++x)
                image.WriteColor(x, y, source.ReadColor(x, y));
        const std::string path = out("ours-" + std::to_string(bits) + ".bmp");
        ASSERT_TRUE(image.Save(path.c_str(), kFormatBmp)) << image.LastErrorText();
        EXPECT_EQ(firstDifference(magickPixels(path, "rgb"), ourPixels(image, false)), -1) << bits;
    }
}

TEST(RasterImageMagick, ImageMagickReadsOurIconsExactly) {
    REQUIRE_CONVERT();
    const std::string reference = out("icon-source.bmp");
    ASSERT_TRUE(run("convert '" + sourcePicture() + "' 'BMP3:" + reference + "'"));
    RasterImage source;
    ASSERT_TRUE(source.Load(reference.c_str(), kFormatBmp));

    RasterImage colour(source, true, false, false);
    const std::string plain = out("ours-24.ico");
    ASSERT_TRUE(colour.Save(plain.c_str(), kFormatIco));
    EXPECT_EQ(firstDifference(magickPixels(plain, "rgb"), ourPixels(colour, false)), -1);

    ASSERT_TRUE(colour.MakeAlphaPlane());
    for (int32_t y = 0; y < colour.GetHeight(); ++y)
        for (int32_t x = 0; x < colour.GetWidth(); ++x)
            colour.WriteAlpha(x, y, uint8_t((x * 7 + y * 11) % 256));
    const std::string alpha = out("ours-32.ico");
    ASSERT_TRUE(colour.Save(alpha.c_str(), kFormatIco));
    EXPECT_EQ(firstDifference(magickPixels(alpha, "rgba"), ourPixels(colour, true)), -1);

    RasterImage indexed(source.GetWidth(), source.GetHeight(), 8, kFormatUnknown);
    indexed.SetFixedPalette();
    for (int32_t y = 0; y < indexed.GetHeight(); ++y)
        for (int32_t x = 0; x < indexed.GetWidth(); ++x)
            indexed.WriteColor(x, y, source.ReadColor(x, y));
    const std::string palette = out("ours-8.ico");
    ASSERT_TRUE(indexed.Save(palette.c_str(), kFormatIco));
    EXPECT_EQ(firstDifference(magickPixels(palette, "rgb"), ourPixels(indexed, false)), -1);
}

}  // namespace
}  // namespace rendova
