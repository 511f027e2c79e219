// The JPEG, PNG and TIFF codecs against ImageMagick (and exiftool and
// libtiff's tiffinfo): every depth, palette and compression the page writer
// can ask for is read by ImageMagick with our pixels and settings, and files
// that ImageMagick and exiftool make are read by us with their pixels.
// Skipped where the tools are not installed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/FileImageStream.h"
#include "image/ImageTransforms.h"
#include "image/RasterImageJPG.h"
#include "image/RasterImageTIF.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;
using test::capture;
using test::outPath;
using test::run;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The number ImageMagick's compare prints for `metric` (AE: differing
// pixels, PSNR: decibels, "inf" for identical pictures).
double compareMetric(const std::string& a, const std::string& b, const char* metric) {
    // compare prints its figure on the error stream.
    const std::string command =
        "compare -metric " + std::string(metric) + " '" + a + "' '" + b + "' null: 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[256];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        pclose(pipe);
    }
    if (contains(out, "inf"))
        return 1e9;
    if (out.empty() || !(std::isdigit(static_cast<unsigned char>(out[0])) || out[0] == '.')) {
        ADD_FAILURE() << "compare printed: " << out;
        return -1;
    }
    return std::atof(out.c_str());
}

// Our picture as the reference file ImageMagick compares with: our BMP
// codec writes exactly the image's pixels.
std::string reference(RasterImage& image, const std::string& name) {
    const std::string path = outPath(name + ".bmp");
    EXPECT_TRUE(image.Save(path.c_str(), kFormatBmp));
    return path;
}

int maxDifference(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size())
        return 256;
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i)
        most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    return most;
}

// A plasma picture of ImageMagick's own, one per test.
std::string magickSource() {
    const std::string path = outPath("source.png");
    run("convert -seed 7 -size 57x43 plasma:fractal -depth 8 '" + path + "'");
    return path;
}

void paint(RasterImage& image, int bits, bool grey) {
    if (bits == 24)
        test::paintPicture(image, 61, 43);
    else
        test::paintIndexed(image, 61, 43, bits, grey);
}

// --- Our files, read by ImageMagick ---------------------------------------------------

TEST(CodecsMagick, OurJpegFilesReadInImageMagick) {
    REQUIRE_TOOL("identify");
    for (bool grey : {false, true}) {
        RasterImage image;
        test::paintSmooth(image, 120, 90);
        if (grey) {
            ASSERT_TRUE(ConvertToGrey(image));
        }
        image.SetDpiX(150);
        image.SetDpiY(150);
        image.SetQuality(75);
        image.SetFormatOption(kJpegOptimize | kJpegProgressive, kFormatJpeg);  // as the page writer asks
        const std::string name = grey ? "grey" : "colour";
        const std::string path = outPath(name + ".jpg");
        ASSERT_TRUE(image.Save(path.c_str(), kFormatJpeg)) << image.LastErrorText();
        const std::string info = capture("identify -verbose '" + path + "'");
        EXPECT_TRUE(contains(info, "Resolution: 150x150")) << info;
        EXPECT_TRUE(contains(info, "Units: PixelsPerInch")) << info;
        EXPECT_TRUE(contains(info, "Interlace: JPEG")) << info;  // progressive
        EXPECT_TRUE(contains(info, "Quality: 75")) << info;
        EXPECT_TRUE(contains(info, grey ? "Colorspace: Gray" : "Colorspace: sRGB")) << info;
        EXPECT_GT(compareMetric(path, reference(image, name), "PSNR"), 30.0);
    }
}

TEST(CodecsMagick, OurPngFilesReadInImageMagickExactly) {
    REQUIRE_TOOL("compare");
    struct Case {
        int bits;
        bool grey;
        bool interlaced;
    };
    for (const Case c :
         {Case{1, true, false}, Case{1, false, false}, Case{4, false, false}, Case{4, true, false},
          Case{8, false, true}, Case{8, true, false}, Case{24, false, false}, Case{24, false, true}}) {
        RasterImage image;
        paint(image, c.bits, c.grey);
        image.SetDpiX(300);
        image.SetDpiY(300);
        image.SetFormatOption(c.interlaced ? 1 : 0, kFormatPng);
        const std::string name = std::to_string(c.bits) + (c.grey ? "g" : "c") + (c.interlaced ? "i" : "");
        const std::string path = outPath(name + ".png");
        ASSERT_TRUE(image.Save(path.c_str(), kFormatPng));
        EXPECT_EQ(compareMetric(path, reference(image, name), "AE"), 0.0) << name;
        const std::string info = capture("identify -verbose '" + path + "'");
        // 300 dpi is 11811 pixels per metre, which ImageMagick shows per centimetre.
        EXPECT_TRUE(contains(info, "Resolution: 118.11x118.11")) << info;
        EXPECT_TRUE(contains(info, c.interlaced ? "Interlace: PNG" : "Interlace: None")) << name;
        const std::string depth = c.bits == 24 ? "8" : std::to_string(c.bits);
        EXPECT_TRUE(contains(info, "png:IHDR.bit-depth-orig: " + depth)) << name;
    }
}

TEST(CodecsMagick, OurTiffFilesReadInImageMagick) {
    REQUIRE_TOOL("compare");
    REQUIRE_TOOL("tiffinfo");
    struct Case {
        int bits;
        bool grey;
        uint32_t compression;
        const char* magickName;  // identify's name of the compression
        const char* tiffName;    // tiffinfo's
    };
    // What the page writer's compression table gives at each depth, for
    // palette and grey pages (1-bit pages are black and white: they are
    // written min-is-white whatever their two colours).
    const Case cases[] = {
        {1, true, 1, "None", "None"},         {1, true, 2, "RLE", "CCITT RLE"},
        {1, true, 3, "Fax", "CCITT Group 3"}, {1, true, 4, "Group4", "CCITT Group 4"},
        {1, true, 5, "LZW", "LZW"},           {4, false, 1, "None", "None"},
        {4, false, 5, "LZW", "LZW"},          {4, false, 32773, "RLE", "PackBits"},
        {4, true, 1, "None", "None"},         {4, true, 5, "LZW", "LZW"},
        {4, true, 32773, "RLE", "PackBits"},  {8, false, 1, "None", "None"},
        {8, false, 5, "LZW", "LZW"},          {8, false, 32773, "RLE", "PackBits"},
        {8, true, 1, "None", "None"},         {8, true, 5, "LZW", "LZW"},
        {8, true, 7, "JPEG", "JPEG"},         {8, true, 32773, "RLE", "PackBits"},
        {24, false, 1, "None", "None"},       {24, false, 5, "LZW", "LZW"},
        {24, false, 7, "JPEG", "JPEG"},       {24, false, 32773, "RLE", "PackBits"},
    };
    for (const Case& c : cases) {
        RasterImage image;
        paint(image, c.bits, c.grey);
        image.SetDpiX(120);
        image.SetDpiY(120);
        image.SetQuality(90);
        image.SetFormatOption(c.compression, kFormatTiff);
        const std::string name =
            std::to_string(c.bits) + (c.grey ? "g" : "c") + "-" + std::to_string(c.compression);
        const std::string path = outPath(name + ".tif");
        ASSERT_TRUE(image.Save(path.c_str(), kFormatTiff)) << name << ": " << image.LastErrorText();
        if (c.compression == 7) {
            EXPECT_GT(compareMetric(path, reference(image, name), "PSNR"), 20.0) << name;
        } else {
            EXPECT_EQ(compareMetric(path, reference(image, name), "AE"), 0.0) << name;
        }
        const std::string info = capture("identify -verbose '" + path + "'");
        EXPECT_TRUE(contains(info, std::string("Compression: ") + c.magickName)) << name;
        EXPECT_TRUE(contains(info, "Resolution: 120x120")) << name;
        EXPECT_TRUE(
            contains(capture("tiffinfo '" + path + "'"), std::string("Compression Scheme: ") + c.tiffName))
            << name;
    }
}

TEST(CodecsMagick, OurMultiPageTiffHasEveryPage) {
    REQUIRE_TOOL("identify");
    const std::string path = outPath("pages.tif");
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    Bytes pages[3];
    {
        FileImageStream stream(file);
        RasterImageTIF writer;
        for (int page = 0; page < 3; ++page) {
            paint(writer, page == 0 ? 1 : 8, true);
            writer.SetFormatOption(0, kFormatTiff);
            pages[page] = test::ourPixels(writer);
            ASSERT_TRUE(writer.Encode(&stream, true)) << writer.LastErrorText();
        }
    }
    std::fclose(file);
    EXPECT_EQ(capture("identify -format '%p ' '" + path + "'"), "0 1 2 ");
    for (int page = 0; page < 3; ++page) {
        const std::string raw = outPath("page" + std::to_string(page) + ".rgb");
        ASSERT_TRUE(run("convert '" + path + "[" + std::to_string(page) + "]' -depth 8 'rgb:" + raw + "'"));
        EXPECT_EQ(test::firstDifference(test::readFile(raw), pages[page]), -1) << page;
    }
}

// --- Files made by ImageMagick and exiftool, read by us ------------------------------

TEST(CodecsMagick, DecodesMagickJpegs) {
    REQUIRE_TOOL("convert");
    const std::string src = magickSource();
    struct Case {
        const char* name;
        const char* options;
    };
    for (const Case c : {Case{"baseline.jpg", "-quality 85"}, Case{"progressive.jpg", "-interlace Plane"},
                         Case{"grey.jpg", "-colorspace Gray"}, Case{"cmyk.jpg", "-colorspace CMYK"}}) {
        const std::string path = outPath(c.name);
        ASSERT_TRUE(run("convert '" + src + "' " + c.options + " '" + path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatJpeg)) << c.name << ": " << image.LastErrorText();
        const Bytes theirs = test::magickPixels(path, "rgb", "-colorspace sRGB");
        EXPECT_LE(maxDifference(test::ourPixels(image), theirs), 2) << c.name;
    }
}

TEST(CodecsMagick, ExifResolutionAndOrientationFromExiftool) {
    REQUIRE_TOOL("exiftool");
    const std::string path = outPath("exif.jpg");
    ASSERT_TRUE(run("convert '" + magickSource() + "' -units PixelsPerInch -density 72 '" + path + "'"));
    ASSERT_TRUE(
        run("exiftool -q -overwrite_original -XResolution=300 -YResolution=300 -ResolutionUnit=inches "
            "-Orientation#=6 -Make=Rendova '" +
            path + "'"));
    RasterImageJPG codec;
    {
        FileImageStream stream(path.c_str(), "rb");
        ASSERT_TRUE(codec.Decode(&stream)) << codec.LastErrorText();
    }
    EXPECT_EQ(codec.GetDpiX(), 300);
    EXPECT_EQ(codec.GetDpiY(), 300);
    EXPECT_EQ(codec.exifData().orientation, 6);
    EXPECT_STREQ(codec.exifData().cameraMake, "Rendova");

    ASSERT_TRUE(run("exiftool -q -overwrite_original -XResolution=118 -YResolution=118 -ResolutionUnit=cm '" +
                    path + "'"));
    RasterImage centimetres;
    ASSERT_TRUE(test::loadFile(centimetres, path, kFormatJpeg));
    EXPECT_EQ(centimetres.GetDpiX(), 299);
}

TEST(CodecsMagick, TruncatedJpegGivesWhatImageMagickGivesAndEmptyFileFails) {
    REQUIRE_TOOL("convert");
    const std::string whole = outPath("whole.jpg");
    ASSERT_TRUE(run("convert -size 160x120 gradient:red-blue '" + whole + "'"));
    Bytes bytes = test::readFile(whole);
    const std::string cut = outPath("cut.jpg");
    test::writeFile(cut, Bytes(bytes.begin(), bytes.begin() + long(bytes.size() * 2 / 3)));
    RasterImage image;
    ASSERT_TRUE(image.Load(cut.c_str(), kFormatJpeg)) << image.LastErrorText();
    EXPECT_EQ(image.GetHeight(), 120);
    EXPECT_LE(maxDifference(test::ourPixels(image), test::magickPixels(cut, "rgb")), 2);

    const std::string empty = outPath("empty.jpg");
    test::writeFile(empty, Bytes{});
    RasterImage none;
    EXPECT_FALSE(none.Load(empty.c_str(), kFormatJpeg));
    EXPECT_FALSE(none.HasPixels());
}

TEST(CodecsMagick, DecodesMagickPngs) {
    REQUIRE_TOOL("convert");
    const std::string src = magickSource();
    struct Case {
        const char* name;
        const char* options;
        int bits;
    };
    const Case cases[] = {
        {"rgb16.png", "-depth 16 PNG48:", 24},
        {"interlaced.png", "-interlace PNG PNG24:", 24},
        {"grey2.png", "-colorspace Gray -depth 2 -define png:bit-depth=2 -define png:color-type=0 ", 4},
        {"grey16.png", "-colorspace Gray -depth 16 -define png:bit-depth=16 -define png:color-type=0 ", 8},
        {"palette.png", "-colors 100 PNG8:", 8},
    };
    for (const Case& c : cases) {
        std::string options = c.options;
        const size_t split = options.rfind(' ') + 1;
        const std::string path = outPath(c.name);
        ASSERT_TRUE(run("convert '" + src + "' " + options.substr(0, split) + " '" + options.substr(split) +
                        path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatPng)) << c.name << ": " << image.LastErrorText();
        EXPECT_EQ(image.GetBpp(), c.bits) << c.name;
        // 16-bit samples keep their high byte; ImageMagick rounds.
        EXPECT_LE(maxDifference(test::ourPixels(image), test::magickPixels(path, "rgb")), 1) << c.name;
    }

    RasterImage twoBit;
    ASSERT_TRUE(test::loadFile(twoBit, outPath("grey2.png"), kFormatPng));
    EXPECT_EQ(twoBit.PaletteEntry(1), (RgbQuad{85, 85, 85, 0}));
    EXPECT_EQ(twoBit.PaletteEntry(3), (RgbQuad{255, 255, 255, 0}));
}

TEST(CodecsMagick, DecodesMagickPngTransparency) {
    REQUIRE_TOOL("convert");
    const std::string src = magickSource();
    const std::string corner = capture("convert '" + src + "' -colors 16 -format '%[pixel:p{0,0}]' info:");

    // A palette file whose first colour is transparent: the alpha values
    // stay with the palette.
    const std::string palette = outPath("palette-trns.png");
    ASSERT_TRUE(run("convert '" + src + "' -colors 16 -transparent '" + corner + "' 'PNG8:" + palette + "'"));
    RasterImage indexed;
    ASSERT_TRUE(test::loadFile(indexed, palette, kFormatPng));
    ASSERT_EQ(indexed.GetBpp(), 8);
    const Bytes theirs = test::magickPixels(palette, "rgba");
    ASSERT_EQ(theirs.size(), size_t(57 * 43 * 4));
    const bool byIndex = indexed.GetTransparentIndex() >= 0;
    EXPECT_TRUE(byIndex || indexed.info().alphaPaletteEnabled);
    for (int32_t top = 0; top < 43; ++top) {
        for (int32_t x = 0; x < 57; ++x) {
            const uint8_t index = indexed.ReadIndex(x, 42 - top);
            const RgbQuad entry = indexed.PaletteEntry(index);
            const uint8_t alpha =
                byIndex ? (index == indexed.GetTransparentIndex() ? 0 : 255) : entry.reserved;
            const size_t at = (size_t(top) * 57 + size_t(x)) * 4;
            ASSERT_EQ(alpha, theirs[at + 3]) << x << "," << top;
            if (alpha != 0) {
                ASSERT_EQ((RgbQuad{theirs[at + 2], theirs[at + 1], theirs[at], entry.reserved}), entry);
            }
        }
    }

    // A grey file with one transparent grey: its transparency names a
    // colour, not palette alpha values.
    const std::string grey = outPath("grey-trns.png");
    const std::string greyCorner =
        capture("convert '" + src + "' -colorspace Gray -format '%[pixel:p{0,0}]' info:");
    ASSERT_TRUE(run("convert '" + src + "' -colorspace Gray -transparent '" + greyCorner +
                    "' -define png:color-type=0 '" + grey + "'"));
    RasterImage keyed;
    ASSERT_TRUE(test::loadFile(keyed, grey, kFormatPng));
    EXPECT_FALSE(keyed.info().alphaPaletteEnabled);
    EXPECT_FALSE(keyed.PaletteHasAlpha());
    EXPECT_TRUE(keyed.HasGreyPalette());
    const Bytes greyTheirs = test::magickPixels(grey, "rgba");
    const Bytes greyOurs = test::ourPixels(keyed);
    ASSERT_EQ(greyTheirs.size() / 4, greyOurs.size() / 3);
    for (size_t i = 0; i < greyOurs.size() / 3; ++i) {
        if (greyTheirs[4 * i + 3] == 255) {
            ASSERT_EQ(greyOurs[3 * i], greyTheirs[4 * i]) << i;
        }
    }

    // 8-bit RGBA keeps its alpha plane; 16-bit grey with alpha too.
    const std::string rgba = outPath("rgba.png");
    ASSERT_TRUE(run("convert '" + src + "' -alpha set -channel A -fx 'i/w' +channel 'PNG32:" + rgba + "'"));
    const std::string ga16 = outPath("ga16.png");
    ASSERT_TRUE(run("convert '" + rgba +
                    "' -colorspace Gray -depth 16 -define png:color-type=4 "
                    "-define png:bit-depth=16 '" +
                    ga16 + "'"));
    for (const std::string& path : {rgba, ga16}) {
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatPng)) << path;
        ASSERT_TRUE(image.HasAlpha()) << path;
        EXPECT_LE(maxDifference(test::ourPixels(image, true), test::magickPixels(path, "rgba")), 1) << path;
    }
}

TEST(CodecsMagick, DecodesMagickTiffs) {
    REQUIRE_TOOL("convert");
    const std::string src = magickSource();
    struct Case {
        const char* name;
        const char* options;
        int bits;
    };
    const Case cases[] = {
        {"grey-strips.tif", "-colorspace Gray -define tiff:rows-per-strip=5 -compress lzw", 8},
        {"grey-tiles.tif", "-colorspace Gray -define tiff:tile-geometry=16x16", 8},
        {"palette-tiles.tif", "-colors 16 -define tiff:tile-geometry=16x16", 4},
        {"bilevel-tiles.tif", "-monochrome -depth 1 -define tiff:tile-geometry=32x16", 1},
        {"colour-tiles.tif", "-define tiff:tile-geometry=16x16 -compress zip", 24},
        {"colour-strips.tif", "-define tiff:rows-per-strip=3", 24},
        {"grey2.tif", "-colorspace Gray -depth 2", 24},  // through the RGBA reader
        {"grey16.tif", "-colorspace Gray -depth 16", 8},
        {"grey-alpha.tif", "-colorspace Gray -alpha set -channel A -fx 'i/w' +channel", 8},
    };
    for (const Case& c : cases) {
        const std::string path = outPath(c.name);
        ASSERT_TRUE(run("convert '" + src + "' " + c.options + " '" + path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatTiff)) << c.name << ": " << image.LastErrorText();
        EXPECT_EQ(image.GetBpp(), c.bits) << c.name;
        EXPECT_LE(maxDifference(test::ourPixels(image, image.HasAlpha()),
                                test::magickPixels(path, image.HasAlpha() ? "rgba" : "rgb")),
                  1)
            << c.name;
    }
}

TEST(CodecsMagick, TiffOrientationAndCentimetres) {
    REQUIRE_TOOL("convert");
    const std::string src = magickSource();
    for (const char* orient :
         {"TopRight", "BottomRight", "BottomLeft", "LeftTop", "RightTop", "RightBottom", "LeftBottom"}) {
        const std::string path = outPath(std::string(orient) + ".tif");
        ASSERT_TRUE(run("convert '" + src + "' -colorspace Gray -orient " + orient + " '" + path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatTiff)) << orient;
        EXPECT_EQ(
            test::firstDifference(test::ourPixels(image), test::magickPixels(path, "rgb", "-auto-orient")),
            -1)
            << orient;
    }

    const std::string cm = outPath("centimetres.tif");
    ASSERT_TRUE(run("convert '" + src + "' -units PixelsPerCentimeter -density 118.11 '" + cm + "'"));
    RasterImage image;
    ASSERT_TRUE(test::loadFile(image, cm, kFormatTiff));
    EXPECT_EQ(image.GetDpiX(), 300);
    EXPECT_EQ(image.GetDpiY(), 300);

    const std::string lab = outPath("lab.tif");
    ASSERT_TRUE(run("convert '" + src + "' -colorspace Lab '" + lab + "'"));
    RasterImage fromLab;
    ASSERT_TRUE(test::loadFile(fromLab, lab, kFormatTiff));
    EXPECT_EQ(fromLab.GetBpp(), 24);
    EXPECT_GT(test::psnr(test::ourPixels(fromLab), test::magickPixels(src, "rgb")), 25.0);
}

}  // namespace
}  // namespace rendova
