// The base output device: its defaults, the default matrix and its inverse,
// refreshAllState's order, and the draining of inline image data.
#include <gtest/gtest.h>

#include <climits>

#include "engine/content/ImageColorMap.h"
#include "engine/content/OutputDevice.h"
#include "engine/core/EmbeddedSource.h"
#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

// Defines only what every device must.
class MinimalDevice : public OutputDevice {
public:
    bool yAxisPointsDown() override { return true; }
    bool wantsGlyphByGlyphText() override { return true; }
    bool runsType3Glyphs() override { return false; }
};

TEST(OutputDeviceTest, AMinimalDeviceTakesAWholePage) {
    ValueFactory values;
    MinimalDevice device;
    ErrorCapture errors;
    {
        const PageBox crop = {0, 0, 300, 300};
        ContentInterpreter interpreter(nullptr, &device, 1, nullptr, 72, 72, kLetter, &crop, 90, nullptr,
                                       nullptr);
        PdfValue content = values.stream(
            "q 1 0 0 1 5 5 cm 2 w 1 J 1 j 4 M [2 1] 0 d 0.5 g 0 1 0 RG 0 0 1 0 k 1 0 0 1 K\n"
            "0 0 m 10 0 l 10 10 20 20 30 30 c 5 5 40 40 v 6 6 50 50 y h B* 0 0 5 5 re W n Q\n"
            "BT /F1 12 Tf (Hello) Tj ET /Im1 Do\n"
            "BI /W 4 /H 1 /BPC 8 /CS /G ID \nxEIy EI\n"
            "zz 0 0 m 1 1 l S\n");
        interpreter.display(content, true);
    }
    EXPECT_TRUE(errors.contains("Unknown operator 'zz'"));
    // zz, the unknown font and the text shown without it, and the missing
    // XObject.
    EXPECT_TRUE(errors.contains("Unknown font tag 'F1'"));
    EXPECT_TRUE(errors.contains("No font in show"));
    EXPECT_EQ(errors.count(), 4u);
}

TEST(OutputDeviceTest, UserToDeviceRoundsTowardZeroAfterAddingAHalf) {
    MinimalDevice device;
    const double identity[6] = {1, 0, 0, 1, 0, 0};
    device.setDefaultMatrix(identity);
    int x, y;
    device.userToDevice(-0.7, 2.4, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 2);
    device.userToDevice(3.5, -1.5, &x, &y);
    EXPECT_EQ(x, 4);
    EXPECT_EQ(y, -1);
    // Far outside the int range saturates instead of being undefined.
    device.userToDevice(1e300, -1e300, &x, &y);
    EXPECT_EQ(x, INT_MAX);
    EXPECT_EQ(y, INT_MIN);
}

TEST(OutputDeviceTest, DeviceToUserUsesTheInverse) {
    MinimalDevice device;
    const double m[6] = {2, 0, 0, -2, 10, 20};
    device.setDefaultMatrix(m);
    double x, y;
    device.deviceToUser(10, 20, &x, &y);
    EXPECT_DOUBLE_EQ(x, 0);
    EXPECT_DOUBLE_EQ(y, 0);
    device.deviceToUser(14, 10, &x, &y);
    EXPECT_DOUBLE_EQ(x, 2);
    EXPECT_DOUBLE_EQ(y, 5);
    const double r[6] = {0, 1, -1, 0, 3, 4};
    device.setDefaultMatrix(r);
    device.deviceToUser(3, 5, &x, &y);
    EXPECT_DOUBLE_EQ(x, 1);
    EXPECT_DOUBLE_EQ(y, 0);
}

TEST(OutputDeviceTest, RefreshAllStateCallsTheUpdatesInItsOrder) {
    RecordingDevice device;
    GraphicsState state(72, 72, kLetter, 0, true);
    device.refreshAllState(&state);
    std::vector<std::string> names;
    for (const std::string& line : device.calls)
        names.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(names, std::vector<std::string>(
                         {"updateLineDash", "updateFlatness", "updateLineJoin", "updateLineCap",
                          "updateMiterLimit", "updateLineWidth", "updateStrokeAdjust", "updateFillColorSpace",
                          "updateFillColor", "updateStrokeColorSpace", "updateStrokeColor", "updateBlendMode",
                          "updateFillOpacity", "updateStrokeOpacity", "updateFillOverprint",
                          "updateStrokeOverprint", "updateTransfer", "updateFont"}));
}

TEST(OutputDeviceTest, BaseAnswers) {
    MinimalDevice device;
    EXPECT_FALSE(device.fillsTilingPatterns());
    EXPECT_FALSE(device.fillsShadings());
    EXPECT_FALSE(device.drawsForms());
    EXPECT_TRUE(device.wantsNonText());
    EXPECT_FALSE(device.getAntialias());
    EXPECT_FALSE(device.fillFunctionShading(nullptr, nullptr));
    EXPECT_FALSE(device.beginType3Char(nullptr, 0, 0, 0, 0, 0, nullptr, 0));
    EXPECT_TRUE(device.approvePageArea(nullptr, 72, 72, 0, false, true, -1, -1, -1, -1, false, nullptr,
                                       nullptr, nullptr));
}

// Image data inside a content-like parent: the drain reads through an
// embedded source, as for an inline image, so what it leaves shows in the
// parent.
struct InlineData {
    ValueFactory values;
    PdfValue parent;
    RefPtr<DataStream> image;

    explicit InlineData(const std::string& bytes) {
        parent = values.stream(bytes);
        parent.getStream()->reset();
        PdfValue dict;
        dict.initNull();
        image = RefPtr<DataStream>::adopt(new EmbeddedSource(parent.getStream(), std::move(dict), false, 0));
    }
    int next() { return parent.getStream()->getChar(); }
};

std::unique_ptr<ImageColorMap> rgbMap(int bits) {
    PdfValue decode;
    decode.initNull();
    return std::make_unique<ImageColorMap>(bits, decode, std::make_unique<DeviceRgbColorSpace>());
}

TEST(OutputDeviceTest, InlineImagesAreDrainedByTheirSize) {
    MinimalDevice device;
    auto map = rgbMap(8);
    InlineData rgb(std::string(30, 'x') + "Z");
    device.drawImage(nullptr, nullptr, rgb.image.get(), 5, 2, map.get(), nullptr, true);
    EXPECT_EQ(rgb.next(), 'Z');

    // Rows round up to whole bytes: 9 pixels of 1 bit are 2 bytes a row.
    InlineData stencil(std::string(6, 'x') + "Z");
    device.drawStencilMask(nullptr, nullptr, stencil.image.get(), 9, 3, false, true);
    EXPECT_EQ(stencil.next(), 'Z');

    // Images that are not inline are not read.
    InlineData kept("Z");
    device.drawImage(nullptr, nullptr, kept.image.get(), 5, 2, map.get(), nullptr, false);
    device.drawImageWithMask(nullptr, nullptr, kept.image.get(), 5, 2, map.get(), nullptr, 1, 1, false);
    EXPECT_EQ(kept.next(), 'Z');
}

TEST(OutputDeviceTest, DrainSizesAreSixtyFourBitAndNotPositiveSizesReadNothing) {
    MinimalDevice device;
    auto map = rgbMap(16);
    InlineData negative("Z");
    device.drawImage(nullptr, nullptr, negative.image.get(), -5, 2, map.get(), nullptr, true);
    device.drawStencilMask(nullptr, nullptr, negative.image.get(), 5, -2, false, true);
    device.drawStencilMask(nullptr, nullptr, negative.image.get(), 0, 0, false, true);
    EXPECT_EQ(negative.next(), 'Z');

    // 2^31 x 48 bits a row times 2^31 rows: far past 32 bits (and past 64
    // bits as a product); the drain stops at the end of the data.
    InlineData huge(std::string(1000, 'x'));
    device.drawImage(nullptr, nullptr, huge.image.get(), INT_MAX, INT_MAX, map.get(), nullptr, true);
    EXPECT_EQ(huge.next(), -1);
}

}  // namespace
}  // namespace rendova::test
