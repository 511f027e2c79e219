#include "engine/content/ImageColorMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/ImageLineReader.h"
#include "tests/engine/content/ContentTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;
using test::streamValue;
using test::value;

std::unique_ptr<ColorSpace> space(const std::string& text) {
    auto s = ColorSpace::parse(value(text));
    EXPECT_TRUE(s) << text;
    return s;
}

std::unique_ptr<ImageColorMap> map(int bits, const std::string& decode, const std::string& spaceText) {
    return std::make_unique<ImageColorMap>(bits, value(decode), space(spaceText));
}

ColorComponent grayOf(const ImageColorMap& m, std::initializer_list<uint8_t> pixel) {
    const std::vector<uint8_t> bytes(pixel);
    ColorComponent gray = -1;
    m.getGray(bytes.data(), gray);
    return gray;
}

RgbColor rgbOf(const ImageColorMap& m, std::initializer_list<uint8_t> pixel) {
    const std::vector<uint8_t> bytes(pixel);
    RgbColor rgb{-1, -1, -1};
    m.getRgb(bytes.data(), rgb);
    return rgb;
}

ColorComponent byteColor(int b) {
    return colorFromDouble(b / 255.0);
}

#define EXPECT_RGB(rgb, red, green, blue) \
    do {                                  \
        const RgbColor c_ = (rgb);        \
        EXPECT_EQ(c_.r, red);             \
        EXPECT_EQ(c_.g, green);           \
        EXPECT_EQ(c_.b, blue);            \
    } while (0)

TEST(ImageColorMap, OneBitGreyWithAnInvertedDecode) {
    auto m = map(1, "[1 0]", "/DeviceGray");
    ASSERT_TRUE(m->isOk());
    EXPECT_EQ(m->getComponentCount(), 1);
    EXPECT_EQ(m->getBits(), 1);
    EXPECT_EQ(grayOf(*m, {0}), kColorOne);
    EXPECT_EQ(grayOf(*m, {1}), 0);
    auto plain = map(1, "null", "/DeviceGray");
    EXPECT_EQ(grayOf(*plain, {0}), 0);
    EXPECT_EQ(grayOf(*plain, {1}), kColorOne);
}

TEST(ImageColorMap, DecodeMustFitTheSpace) {
    ErrorCapture errors;
    EXPECT_FALSE(map(8, "[0 1 0 1]", "/DeviceRGB")->isOk());
    EXPECT_FALSE(map(8, "[0 1 0 1 0 /x]", "/DeviceRGB")->isOk());
    EXPECT_FALSE(map(8, "/Decode", "/DeviceRGB")->isOk());
    EXPECT_TRUE(map(8, "[0 1 0 1 0 1]", "/DeviceRGB")->isOk());
    EXPECT_EQ(errors.count(), 3u);
}

TEST(ImageColorMap, BitsOutsideOneToSixteenAreRefused) {
    ErrorCapture errors;
    for (int bits : {0, -1, 17, 32, 64})
        EXPECT_FALSE(map(bits, "null", "/DeviceGray")->isOk()) << bits;
    EXPECT_EQ(errors.count(), 5u);
    for (int bits : {1, 2, 4, 8, 12, 16})
        EXPECT_TRUE(map(bits, "null", "/DeviceGray")->isOk()) << bits;
}

TEST(ImageColorMap, SamplesScaleToTheirDepth) {
    auto four = map(4, "null", "/DeviceGray");
    EXPECT_EQ(grayOf(*four, {15}), kColorOne);
    EXPECT_EQ(grayOf(*four, {5}), colorFromDouble(5 / 15.0));
    // A byte above the largest sample repeats the last entry.
    EXPECT_EQ(grayOf(*four, {200}), kColorOne);

    auto rgb = map(8, "null", "/DeviceRGB");
    EXPECT_RGB(rgbOf(*rgb, {255, 128, 0}), kColorOne, byteColor(128), 0);
    ColorComponent gray;
    const uint8_t white[3] = {255, 255, 255};
    rgb->getGray(white, gray);
    EXPECT_EQ(gray, kColorOne);
}

TEST(ImageColorMap, SixteenBitSamplesMapThroughTheirHighByte) {
    // The line reader hands over the high byte of each 16-bit sample.
    const std::string data("\xff\xff\x80\x00\x00\x00\x12\x34", 8);
    auto source = test::contentMemoryStream(data);
    ImageLineReader reader(source.get(), 4, 1, 16);
    reader.reset();
    const uint8_t* row = reader.getLine();
    ASSERT_TRUE(row);
    auto m = map(16, "null", "/DeviceGray");
    ASSERT_TRUE(m->isOk());
    EXPECT_EQ(grayOf(*m, {row[0]}), kColorOne);  // 0xffff is white, not 255/65535
    EXPECT_EQ(grayOf(*m, {row[1]}), byteColor(0x80));
    EXPECT_EQ(grayOf(*m, {row[2]}), 0);
    EXPECT_EQ(grayOf(*m, {row[3]}), byteColor(0x12));
    auto inverted = map(16, "[1 0]", "/DeviceGray");
    EXPECT_EQ(grayOf(*inverted, {row[0]}), 0);
    EXPECT_EQ(grayOf(*inverted, {row[2]}), kColorOne);
}

TEST(ImageColorMap, IndexedImagesExpandIntoTheBase) {
    // Entries 0 -> (10, 20, 30), 1 -> (40, 50, 60).
    auto m = map(8, "null", "[/Indexed /DeviceRGB 1 <0a141e28323c>]");
    ASSERT_TRUE(m->isOk());
    EXPECT_RGB(rgbOf(*m, {0}), byteColor(10), byteColor(20), byteColor(30));
    EXPECT_RGB(rgbOf(*m, {1}), byteColor(40), byteColor(50), byteColor(60));
    // Samples beyond the high value take the last entry.
    EXPECT_RGB(rgbOf(*m, {7}), byteColor(40), byteColor(50), byteColor(60));
    EXPECT_RGB(rgbOf(*m, {255}), byteColor(40), byteColor(50), byteColor(60));

    // A 2-bit image with an inverted index decode: sample 3 is index 0.
    auto inverted =
        map(2, "[3 0]", "[/Indexed /DeviceRGB 3 " + std::string("<000000111111222222333333>") + "]");
    ASSERT_TRUE(inverted->isOk());
    EXPECT_RGB(rgbOf(*inverted, {3}), 0, 0, 0);
    EXPECT_RGB(rgbOf(*inverted, {0}), byteColor(0x33), byteColor(0x33), byteColor(0x33));

    // Decoded indices that are negative, fractional or past the palette:
    // the integer part, limited to 0 .. high value, as the usual viewers
    // draw them. Sample s of [-1 3] over 2 bits decodes to -1 + 4s / 3.
    const std::string palette = "[/Indexed /DeviceRGB 3 <000000111111222222333333>]";
    const struct {
        int bits;
        std::string decode;
        std::vector<int> entries;  // the entry of samples 0, 1, 2, ...
    } cases[] = {
        {2, "[-1 3]", {0, 0, 1, 3}},
        {4, "[-0.4 14.6]", {0, 0, 1, 2, 3, 3}},
        {4, "[0 1.5]", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1}},
        {4, "[0 -15]", {0, 0, 0}},
        {4, "[15 0]", {3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 1, 0}},
        // 3 x (1 / 3) is index 1 however the sum rounds.
        {8, "[0 85]", {0, 0, 0, 1, 1, 1, 2}},
    };
    for (const auto& c : cases) {
        auto decoded = map(c.bits, c.decode, palette);
        ASSERT_TRUE(decoded->isOk());
        for (size_t s = 0; s < c.entries.size(); ++s)
            EXPECT_EQ(rgbOf(*decoded, {uint8_t(s)}).g, byteColor(0x11 * c.entries[s]))
                << c.decode << " sample " << s;
    }
}

TEST(ImageColorMap, SeparationImagesExpandThroughTheTint) {
    auto m = map(
        8, "null",
        "[/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] /C1 [0 0.5 1] /N 1 >>]");
    ASSERT_TRUE(m->isOk());
    EXPECT_RGB(rgbOf(*m, {0}), kColorOne, kColorOne, kColorOne);
    EXPECT_RGB(rgbOf(*m, {255}), 0, 0x8000, kColorOne);
    // One output for three alternate components: the others are 0.
    auto narrow = map(8, "null", "[/Separation /Red /DeviceRGB << /FunctionType 2 /Domain [0 1] /N 1 >>]");
    EXPECT_RGB(rgbOf(*narrow, {255}), kColorOne, 0, 0);
}

TEST(ImageColorMap, OtherSpacesConvertPerPixel) {
    auto lab = map(8, "null", "[/Lab << /WhitePoint [1 1 1] >>]");
    // L decodes over 0 .. 100, a and b over -100 .. 100: bytes 255, 128, 128
    // are L 100 and a, b close to 0.
    const RgbColor white = rgbOf(*lab, {255, 128, 128});
    EXPECT_NEAR(white.r, kColorOne, 2000);
    EXPECT_NEAR(white.b, kColorOne, 2000);

    auto cmyk = map(8, "null", "/DeviceCMYK");
    EXPECT_RGB(rgbOf(*cmyk, {0, 0, 0, 0}), kColorOne, kColorOne, kColorOne);
    EXPECT_RGB(rgbOf(*cmyk, {0, 0, 0, 255}), 8998, 7969, 8224);

    // An ICC space whose alternate wants more components than the image has
    // (N 1, 3 and 4 take the device space of N instead): the missing ones
    // are 0.
    PdfValue array = value("[/ICCBased]");
    array.getArray()->add(streamValue("<< /N 2 /Alternate /DeviceRGB >>", ""));
    ImageColorMap icc(8, value("null"), ColorSpace::parse(array));
    ASSERT_TRUE(icc.isOk());
    EXPECT_RGB(rgbOf(icc, {255, 255}), kColorOne, kColorOne, 0);
}

// Pixels for the row conversions: every byte value in each component, then
// pseudo-random ones with runs of repeats, more pixels than the row caches
// hold, so that slots are overwritten and found again.
std::vector<uint8_t> rowPixels(int components) {
    std::vector<uint8_t> pixels;
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < components; ++i)
            pixels.push_back(uint8_t(i % 2 ? 255 - b : b));
    uint32_t seed = 7;
    for (int p = 0; p < 20000; ++p) {
        seed = seed * 1103515245u + 12345u;
        const int repeat = (seed >> 28) % 3;
        std::vector<uint8_t> pixel;
        for (int i = 0; i < components; ++i) {
            seed = seed * 1103515245u + 12345u;
            pixel.push_back(uint8_t(seed >> 24));
        }
        for (int r = 0; r <= repeat; ++r)
            pixels.insert(pixels.end(), pixel.begin(), pixel.end());
    }
    return pixels;
}

// getRgbRow and getGrayRow against colorToByte of getRgb and getGray pixel
// by pixel, over the pixels in rows of several lengths.
void expectRowsMatchPixels(ImageColorMap& m, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_TRUE(m.isOk());
    const int n = m.getComponentCount();
    const std::vector<uint8_t> pixels = rowPixels(n);
    const int count = int(pixels.size()) / n;
    std::vector<uint8_t> rgb(static_cast<size_t>(count) * 3);
    std::vector<uint8_t> gray(static_cast<size_t>(count));
    for (int x = 0, length = 1; x < count; x += length, length = length * 3 % 1000 + 1) {
        const int run = std::min(length, count - x);
        m.getRgbRow(pixels.data() + size_t(x) * n, run, rgb.data() + size_t(x) * 3);
        m.getGrayRow(pixels.data() + size_t(x) * n, run, gray.data() + x);
    }
    int mismatches = 0;
    for (int x = 0; x < count; ++x) {
        RgbColor expected;
        m.getRgb(pixels.data() + size_t(x) * n, expected);
        ColorComponent expectedGray;
        m.getGray(pixels.data() + size_t(x) * n, expectedGray);
        const uint8_t* got = rgb.data() + size_t(x) * 3;
        if (got[0] != colorToByte(expected.r) || got[1] != colorToByte(expected.g) ||
            got[2] != colorToByte(expected.b) || gray[size_t(x)] != colorToByte(expectedGray)) {
            if (++mismatches <= 3)
                ADD_FAILURE() << "pixel " << x;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(ImageColorMap, RowsConvertAsTheirPixelsInEverySpace) {
    const char* const spaces[][3] = {
        // bits, decode, space
        {"8", "null", "/DeviceGray"},
        {"4", "[1 0]", "/DeviceGray"},
        {"8", "null", "/DeviceRGB"},
        {"8", "[1 0 0.2 0.8 -0.5 1.5]", "/DeviceRGB"},
        {"16", "null", "/DeviceRGB"},
        {"8", "null", "[/CalRGB << /WhitePoint [0.95 1 1.09] /Gamma [2.2 2.2 2.2] >>]"},
        {"8", "null", "[/CalGray << /WhitePoint [0.95 1 1.09] >>]"},
        {"8", "null", "/DeviceCMYK"},
        {"8", "[1 0 1 0 1 0 1 0]", "/DeviceCMYK"},
        {"2", "null", "/DeviceCMYK"},
        {"8", "null", "[/Lab << /WhitePoint [0.95 1 1.09] /Range [-50 50 -80 80] >>]"},
        {"8", "null", "[/Indexed /DeviceCMYK 2 <ff00000000ff0000000000ff>]"},
        {"8", "null",
         "[/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 0.5 1 0] /N 1 "
         ">>]"},
        {"8", "null",
         "[/DeviceN [/A /B] /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [0 0 0] /C1 [1 0.5 0.2] /N 1 "
         ">>]"},
        {"8", "null", "[/DeviceN [/A /B /C /D /E] /DeviceGray << /FunctionType 2 /Domain [0 1] /N 1 >> ]"},
    };
    for (const auto& entry : spaces) {
        auto m = map(std::stoi(entry[0]), entry[1], entry[2]);
        expectRowsMatchPixels(*m, std::string(entry[0]) + " " + entry[1] + " " + entry[2]);
    }

    // ICC spaces convert through their alternates, including one whose
    // alternate reads more components than the image has.
    for (const char* dict : {"<< /N 3 /Alternate /DeviceRGB >>", "<< /N 4 >>",
                             "<< /N 1 /Alternate /DeviceRGB >>", "<< /N 3 /Alternate /DeviceCMYK >>"}) {
        PdfValue array = value("[/ICCBased]");
        array.getArray()->add(streamValue(dict, ""));
        auto parsed = ColorSpace::parse(array);
        if (!parsed)
            continue;
        ImageColorMap icc(8, value("null"), std::move(parsed));
        if (icc.isOk())
            expectRowsMatchPixels(icc, dict);
    }
}

}  // namespace
}  // namespace rendova
