// The JPEG 2000 family codec: its own PGX, PNM and Sun raster readers and
// writers, the component rules over OpenJPEG, and cross-reads with
// ImageMagick and OpenJPEG's own tools (skipped where they are absent).
#include "image/RasterImageJAS.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "image/ImageTransforms.h"
#include "image/MemoryStream.h"
#include "tests/image/CodecTestUtil.h"

namespace rendova {
namespace {

using test::Bytes;
using test::decodeBytes;
using test::encodeBytes;
using test::ourPixels;
using test::outPath;
using test::run;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void greyPicture(RasterImage& image, int32_t width, int32_t height) {
    test::paintPicture(image, width, height);
    ASSERT_TRUE(ConvertToGrey(image));
    ASSERT_TRUE(image.HasGreyPalette());
}

void be32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

Bytes rasHeader(uint32_t width, uint32_t height, uint32_t depth, uint32_t type, uint32_t mapType,
                uint32_t mapLength) {
    Bytes out;
    for (uint32_t v : {0x59A66A95u, width, height, depth, 0u, type, mapType, mapLength})
        be32(out, v);
    return out;
}

// A JPEG 2000 code stream's main header (one tile, no wavelet levels) with
// an empty tile: enough for OpenJPEG to read the header.
Bytes codestreamHeader(uint32_t width, uint32_t height, uint16_t components, uint32_t tile = 0) {
    Bytes out{0xFF, 0x4F, 0xFF, 0x51};
    auto be16 = [&out](uint32_t v) {
        out.push_back(uint8_t(v >> 8));
        out.push_back(uint8_t(v));
    };
    be16(38 + 3u * components);
    be16(0);
    for (uint32_t v : {width, height, 0u, 0u, tile ? tile : width, tile ? tile : height, 0u, 0u})
        be32(out, v);
    be16(components);
    for (uint16_t i = 0; i < components; ++i)
        test::appendBytes(out, {7, 1, 1});
    test::appendBytes(out, {0xFF, 0x52, 0, 12, 0, 0, 0, 1, 0, 0, 4, 4, 0, 1});  // COD
    test::appendBytes(out, {0xFF, 0x5C, 0, 4, 0x40, 0x40});                     // QCD
    test::appendBytes(out, {0xFF, 0x90, 0, 10, 0, 0, 0, 0, 0, 0, 0, 1, 0xFF, 0x93, 0xFF, 0xD9});
    return out;
}

TEST(RasterImageJAS, EveryFormatRoundTripsGreyAndColour) {
    struct Case {
        uint32_t code;
        bool colour;
        uint8_t quality;
        double minPsnr;  // 99: exact
    };
    for (const Case c :
         {Case{kFormatPgx, false, 90, 99}, Case{kFormatPnm, false, 90, 99}, Case{kFormatPnm, true, 90, 99},
          Case{kFormatRas, false, 90, 99}, Case{kFormatRas, true, 90, 99}, Case{kFormatJp2, true, 100, 99},
          Case{kFormatJpc, false, 100, 99}, Case{kFormatJp2, true, 75, 30}, Case{kFormatJpc, true, 50, 28},
          Case{kFormatJp2, false, 90, 35}}) {
        SCOPED_TRACE(testing::Message()
                     << "code " << c.code << (c.colour ? " colour" : " grey") << " q" << int(c.quality));
        RasterImage image;
        if (c.colour)
            test::paintSmooth(image, 37, 23);  // odd sizes: row padding
        else
            greyPicture(image, 37, 23);
        image.SetQuality(c.quality);
        const Bytes file = encodeBytes(image, c.code);
        ASSERT_FALSE(file.empty()) << image.LastErrorText();
        RasterImage decoded;
        ASSERT_TRUE(decodeBytes(decoded, file, c.code)) << decoded.LastErrorText();
        EXPECT_EQ(decoded.GetType(), c.code);
        EXPECT_EQ(decoded.GetBpp(), c.colour ? 24 : 8);
        EXPECT_EQ(decoded.HasGreyPalette(), !c.colour);
        EXPECT_GE(test::psnr(ourPixels(decoded), ourPixels(image)), c.minPsnr);
        // Whatever code is asked for, the file tells its own format.
        RasterImage any;
        EXPECT_TRUE(decodeBytes(any, file, kFormatUnknown)) << any.LastErrorText();
        EXPECT_EQ(any.GetType(), c.code);
    }
}

TEST(RasterImageJAS, EncoderRefusesWhatItCannotWrite) {
    RasterImage colour;
    test::paintPicture(colour, 8, 8);
    EXPECT_TRUE(encodeBytes(colour, kFormatPgx).empty());
    EXPECT_STREQ(colour.LastErrorText(), "PGX can save only GrayScale images");
    RasterImage grey;
    greyPicture(grey, 8, 8);
    EXPECT_FALSE(encodeBytes(grey, kFormatPgx).empty());
    RasterImage palette;
    test::paintIndexed(palette, 8, 8, 8, false);
    EXPECT_TRUE(encodeBytes(palette, kFormatJp2).empty());
    EXPECT_STREQ(palette.LastErrorText(), "JasPer can save only RGB or GrayScale images");
}

TEST(RasterImageJAS, RateIsTheQualityInHundredths) {
    EXPECT_EQ(RasterImageJAS::rateOption(75), "rate=0.750");
    EXPECT_EQ(RasterImageJAS::rateOption(90), "rate=0.900");
    // A lower rate spends fewer bytes.
    RasterImage image;
    test::paintPicture(image, 64, 64);
    image.SetQuality(20);
    const size_t small = encodeBytes(image, kFormatJpc).size();
    image.SetQuality(80);
    EXPECT_LT(small, encodeBytes(image, kFormatJpc).size());
}

TEST(RasterImageJAS, ComponentsBecomeFramesOrColour) {
    // One 8-bit component: a grey image, and only frame 0.
    RasterImage grey;
    greyPicture(grey, 9, 5);
    const Bytes oneComponent = encodeBytes(grey, kFormatJp2);
    RasterImage decoded;
    ASSERT_TRUE(decodeBytes(decoded, oneComponent, kFormatJp2)) << decoded.LastErrorText();
    EXPECT_EQ(decoded.GetBpp(), 8);
    EXPECT_TRUE(decoded.HasGreyPalette());
    EXPECT_EQ(decoded.info().frameCount, 1);
    RasterImage second;
    second.info().frame = 1;
    EXPECT_FALSE(decodeBytes(second, oneComponent, kFormatJp2));
    EXPECT_STREQ(second.LastErrorText(), "wrong frame!");

    // Three components: red is component 0 (a pure red top-left pixel).
    RasterImage colour(4, 3, 24, kFormatUnknown);
    colour.WriteColor(0, 2, RgbQuad{0, 0, 255, 0});
    RasterImage three;
    ASSERT_TRUE(decodeBytes(three, encodeBytes(colour, kFormatPnm), kFormatPnm));
    EXPECT_EQ(three.GetBpp(), 24);
    EXPECT_EQ(three.ReadColor(0, 2), (RgbQuad{0, 0, 255, 0}));

    // A 16-bit grey file is made 8-bit colour first; a 1-bit one stays 1-bit.
    RasterImage deep;
    ASSERT_TRUE(decodeBytes(deep, text("P5 2 1 65535\n") + Bytes{0xFF, 0xFF, 0x80, 0x00}, kFormatPnm));
    EXPECT_EQ(deep.GetBpp(), 24);
    EXPECT_EQ(deep.ReadColor(0, 0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(deep.ReadColor(1, 0), (RgbQuad{128, 128, 128, 0}));
    RasterImage bitmap;
    ASSERT_TRUE(decodeBytes(bitmap, text("P1\n# a comment\n3 2\n1 0 1\n010"), kFormatPnm));
    EXPECT_EQ(bitmap.GetBpp(), 1);
    EXPECT_EQ(bitmap.ReadColor(0, 1), (RgbQuad{0, 0, 0, 0}));  // 1 is black
    EXPECT_EQ(bitmap.ReadColor(1, 1), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(bitmap.ReadColor(1, 0), (RgbQuad{0, 0, 0, 0}));
}

TEST(RasterImageJAS, ReadersTakeEveryVariantOfTheirFormats) {
    struct Case {
        const char* name;
        Bytes file;
        int32_t width;
        RgbQuad first;  // top-left pixel
        RgbQuad last;   // bottom-right pixel
    };
    const Case cases[] = {
        {"ascii grey, maxval 1000", text("P2 2 1 1000 0 1000"), 2, {0, 0, 0, 0}, {255, 255, 255, 0}},
        {"ascii colour", text("P3\n1 1\n255\n10 20 30\n"), 1, {30, 20, 10, 0}, {30, 20, 10, 0}},
        {"raw bitmap", text("P4 9 1\n") + Bytes{0x80, 0x00}, 9, {0, 0, 0, 0}, {255, 255, 255, 0}},
        {"raw 16-bit colour",
         text("P6 1 1 65535\n") + Bytes{0xFF, 0xFF, 0, 0, 0x80, 0x80},
         1,
         {128, 0, 255, 0},
         {128, 0, 255, 0}},
        {"PGX little-endian 12-bit",
         text("PG LM +12 2 1\n") + Bytes{0xFF, 0x0F, 0, 0},
         2,
         {255, 255, 255, 0},
         {0, 0, 0, 0}},
        {"PGX signed 8-bit",
         text("PG ML - 8 2 1\n") + Bytes{0x80, 0x7F},
         2,
         {0, 0, 0, 0},
         {255, 255, 255, 0}},
        {"RAS 1-bit", rasHeader(2, 1, 1, 1, 0, 0) + Bytes{0x80, 0}, 2, {0, 0, 0, 0}, {255, 255, 255, 0}},
        {"RAS 8-bit mapped",
         rasHeader(1, 1, 8, 1, 1, 6) + Bytes{1, 2, 3, 4, 5, 6, 1, 0},
         1,
         {6, 4, 2, 0},
         {6, 4, 2, 0}},
        {"RAS 24-bit", rasHeader(1, 1, 24, 1, 0, 0) + Bytes{1, 2, 3, 0}, 1, {1, 2, 3, 0}, {1, 2, 3, 0}},
        {"RAS 32-bit RGB type",
         rasHeader(1, 1, 32, 3, 0, 0) + Bytes{0, 1, 2, 3},
         1,
         {3, 2, 1, 0},
         {3, 2, 1, 0}},
    };
    for (const Case& c : cases) {
        RasterImage image;
        ASSERT_TRUE(decodeBytes(image, c.file, kFormatPnm)) << c.name << ": " << image.LastErrorText();
        EXPECT_EQ(image.GetWidth(), c.width) << c.name;
        EXPECT_EQ(image.ReadColor(0, image.GetHeight() - 1), c.first) << c.name;
        EXPECT_EQ(image.ReadColor(image.GetWidth() - 1, 0), c.last) << c.name;
    }
}

TEST(RasterImageJAS, DamagedHeadersAndShortDataAreErrors) {
    const std::pair<const char*, Bytes> cases[] = {
        {"maxval 0", text("P5 1 1 0\n") + Bytes{0}},
        {"maxval above 65535", text("P5 1 1 65536\n") + Bytes{0, 0}},
        {"width 0", text("P5 0 1 255\n")},
        {"side beyond any picture", text("P5 99999999 99999999 255\n")},
        {"short raw rows", text("P6 4 4 255\n") + Bytes(47, 0)},
        {"short text samples", text("P2 3 1 255 1 2")},
        {"sample text not a number", text("P2 2 1 255 1 x")},
        {"PGX precision 0", text("PG ML + 0 1 1\n") + Bytes{0}},
        {"PGX precision 17", text("PG ML + 17 1 1\n") + Bytes{0, 0, 0, 0}},
        {"PGX short", text("PG ML + 16 2 2\n") + Bytes(7, 0)},
        {"RAS depth 16", rasHeader(1, 1, 16, 1, 0, 0) + Bytes{0, 0}},
        {"RAS run-length type", rasHeader(1, 1, 8, 2, 0, 0) + Bytes{0, 0}},
        {"RAS map too long", rasHeader(1, 1, 8, 1, 1, 3 * 257) + Bytes(3 * 257 + 2, 0)},
        {"RAS map not thirds", rasHeader(1, 1, 8, 1, 1, 4) + Bytes(6, 0)},
        {"RAS short", rasHeader(5, 5, 24, 1, 0, 0) + Bytes(49, 0)},
        {"JPC of 60000 x 60000", codestreamHeader(60000, 60000, 3)},
        {"JPC of 62500 tiles", codestreamHeader(4000, 4000, 1, 16)},
        {"nothing of the family", text("GIF89a")},
    };
    for (const auto& [name, file] : cases) {
        const auto start = std::chrono::steady_clock::now();
        RasterImage image(2, 2, 8, kFormatUnknown);
        EXPECT_FALSE(decodeBytes(image, file, kFormatPnm)) << name;
        EXPECT_STREQ(image.LastErrorText(), "error: cannot load image data") << name;
        EXPECT_EQ(image.GetWidth(), 2) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << name;
    }
    RasterImage many;
    EXPECT_FALSE(decodeBytes(many, codestreamHeader(4, 4, 65), kFormatJpc));
    EXPECT_STREQ(many.LastErrorText(), "error: too much components");
}

TEST(RasterImageJAS, OpenJpegSaysNothingOnTheStandardStreams) {
    // Standard error (and output) go to a file while a broken code stream
    // and a good one are decoded.
    const std::string path = outPath("stderr.txt");
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved[2] = {dup(1), dup(2)};
    const int sink = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(sink, 0);
    dup2(sink, 1);
    dup2(sink, 2);
    // OpenJPEG warns about the first (its tile ends early) and fails the second.
    Bytes broken = codestreamHeader(8, 8, 1);
    broken.erase(broken.end() - 4, broken.end());
    RasterImage image;
    decodeBytes(image, broken, kFormatJpc);
    const bool nonsenseRead = decodeBytes(image, Bytes{0xFF, 0x4F, 0xFF, 0x51, 0, 1}, kFormatJpc);
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved[0], 1);
    dup2(saved[1], 2);
    close(saved[0]);
    close(saved[1]);
    close(sink);
    EXPECT_FALSE(nonsenseRead);
    const Bytes said = test::readFile(path);
    EXPECT_TRUE(said.empty()) << std::string(said.begin(), said.end());
}

// --- Cross-reads -----------------------------------------------------------------------------

TEST(RasterImageJAS, ImageMagickReadsOurFiles) {
    REQUIRE_TOOL("convert");
    struct Case {
        uint32_t code;
        const char* extension;
        bool colour;
    };
    for (const Case c :
         {Case{kFormatPgx, "pgx", false}, Case{kFormatPnm, "pgm", false}, Case{kFormatPnm, "ppm", true},
          Case{kFormatRas, "ras", false}, Case{kFormatRas, "ras", true}, Case{kFormatJp2, "jp2", true},
          Case{kFormatJpc, "j2k", false}}) {
        SCOPED_TRACE(c.extension);
        RasterImage image;
        if (c.colour)
            test::paintSmooth(image, 45, 31);
        else
            greyPicture(image, 45, 31);
        const std::string path = outPath(std::to_string(c.code) + (c.colour ? "c." : "g.") + c.extension);
        ASSERT_TRUE(image.Save(path.c_str(), c.code)) << image.LastErrorText();
        const Bytes theirs = test::magickPixels(path, "rgb");
        const bool lossy = c.code == kFormatJp2 || c.code == kFormatJpc;
        if (lossy)
            EXPECT_GT(test::psnr(theirs, ourPixels(image)), 35);
        else
            EXPECT_EQ(test::firstDifference(theirs, ourPixels(image)), -1);
    }
}

TEST(RasterImageJAS, WeReadImageMagicksFiles) {
    REQUIRE_TOOL("convert");
    const std::string source = outPath("source.png");
    ASSERT_TRUE(run("convert -seed 3 -size 33x21 plasma:fractal -depth 8 '" + source + "'"));
    struct Case {
        const char* name;
        const char* options;
        int tolerance;  // ImageMagick rounds 16-bit grey to 8 bits its own way
    };
    for (const Case c :
         {Case{"a.ppm", "-compress none", 0}, Case{"b.ppm", "", 0},
          Case{"c.pgm", "-colorspace Gray -compress none", 0}, Case{"d.pgm", "-colorspace Gray", 0},
          Case{"e.pgm", "-colorspace Gray -depth 16", 1}, Case{"f.ras", "", 0},
          Case{"g.ras", "-colors 16", 0}, Case{"h.ras", "-colorspace Gray", 0},
          Case{"i.pgx", "-colorspace Gray", 0}, Case{"j.jp2", "-quality 80", 0}, Case{"k.j2k", "", 0}}) {
        SCOPED_TRACE(c.name);
        const std::string path = outPath(c.name);
        ASSERT_TRUE(run("convert '" + source + "' " + c.options + " '" + path + "'"));
        RasterImage image;
        ASSERT_TRUE(test::loadFile(image, path, kFormatPnm)) << image.LastErrorText();
        const Bytes ours = ourPixels(image);
        const Bytes theirs = test::magickPixels(path, "rgb");
        ASSERT_EQ(ours.size(), theirs.size());
        int most = 0;
        for (size_t i = 0; i < ours.size(); ++i)
            most = std::max(most, std::abs(int(ours[i]) - int(theirs[i])));
        EXPECT_LE(most, c.tolerance);
    }
}

TEST(RasterImageJAS, OpenJpegToolsAndWeReadEachOther) {
    REQUIRE_TOOL("opj_compress");
    REQUIRE_TOOL("opj_decompress");
    RasterImage image;
    test::paintPicture(image, 50, 40);
    const std::string ppm = outPath("source.ppm");
    ASSERT_TRUE(image.Save(ppm.c_str(), kFormatPnm));
    for (const char* extension : {"jp2", "j2k"}) {
        SCOPED_TRACE(extension);
        // Theirs (lossless by default) read by us exactly.
        const std::string theirs = outPath(std::string("theirs.") + extension);
        ASSERT_TRUE(run("opj_compress -i '" + ppm + "' -o '" + theirs + "'"));
        RasterImage decoded;
        ASSERT_TRUE(test::loadFile(decoded, theirs, kFormatJp2)) << decoded.LastErrorText();
        EXPECT_EQ(test::firstDifference(ourPixels(decoded), ourPixels(image)), -1);
        // Ours read by theirs.
        const std::string ours = outPath(std::string("ours.") + extension);
        image.SetQuality(100);
        ASSERT_TRUE(image.Save(ours.c_str(), extension[1] == 'p' ? kFormatJp2 : kFormatJpc));
        const std::string back = outPath(std::string("back-") + extension + ".ppm");
        ASSERT_TRUE(run("opj_decompress -i '" + ours + "' -o '" + back + "'"));
        RasterImage reread;
        ASSERT_TRUE(test::loadFile(reread, back, kFormatPnm));
        EXPECT_EQ(test::firstDifference(ourPixels(reread), ourPixels(image)), -1);
    }
}

}  // namespace
}  // namespace rendova
