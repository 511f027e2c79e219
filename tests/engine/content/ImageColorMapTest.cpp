#include "engine/content/ImageColorMap.h"

#include <gtest/gtest.h>

#include <string>

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

    // An ICC space whose alternate wants more components than the image has:
    // the missing ones are 0.
    PdfValue array = value("[/ICCBased]");
    array.getArray()->add(streamValue("<< /N 1 /Alternate /DeviceRGB >>", ""));
    ImageColorMap icc(8, value("null"), ColorSpace::parse(array));
    ASSERT_TRUE(icc.isOk());
    EXPECT_RGB(rgbOf(icc, {255}), kColorOne, 0, 0);
}

}  // namespace
}  // namespace rendova
