// Images through the content interpreter onto the raster output device:
// placement on whole pixels with the first row at the top, and colour-key
// masks compared in the samples' own units (indices of indexed images, 16-bit
// values of 16-bit images).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/core/PdfDocument.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterOutputDevice.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/engine/raster/RasteriserTestSupport.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {
namespace {

using Rgb = std::vector<int>;

const uint8_t kWhite[3] = {255, 255, 255};

// A 100 x 100 point page of content drawing image object 10, rendered at
// 72 dpi on a 24-bit device.
class DeviceImageTest : public ::testing::Test {
protected:
    const RasterBitmap& draw(const std::string& content, const std::string& imageDict,
                             const std::string& imageData) {
        PdfBuilder pdf;
        pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
            .object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
            .object(
                3,
                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Resources << /XObject << /Im 10 0 R "
                ">> >> /Contents 4 0 R >>")
            .stream(4, "<< >>", content)
            .stream(10, imageDict, imageData);
        pdf.xrefTable();
        m_doc = openBytes(pdf.bytes());
        EXPECT_TRUE(m_doc->isOk());
        m_device = std::make_unique<RasterOutputDevice>(rasterRGB8, 4, 0, kWhite, 1, 1);
        m_device->startDocument(m_doc->getXref());
        m_doc->displayPage(m_device.get(), 1, 72, 72, 0, false, true, true);
        return *m_device->getBitmap();
    }

    std::unique_ptr<PdfDocument> m_doc;
    std::unique_ptr<RasterOutputDevice> m_device;
};

TEST_F(DeviceImageTest, SamplesOnWholePixelsKeepTheirPixelsWithTheFirstRowOnTop) {
    // 3 x 2 samples of 10 x 10 points from (10, 70) to (40, 90) in page
    // space: device rows 10 to 29, columns 10 to 39.
    const std::string data(
        "\xff\x00\x00\x00\xff\x00\x00\x00\xff"
        "\x10\x10\x10\x80\x80\x80\xf0\xf0\xf0",
        18);
    const RasterBitmap& b =
        draw("q 30 0 0 20 10 70 cm /Im Do Q",
             "<< /Type /XObject /Subtype /Image /Width 3 /Height 2 /ColorSpace /DeviceRGB "
             "/BitsPerComponent 8 >>",
             data);
    EXPECT_EQ(pixel(b, 10, 10), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 19, 19), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 20, 10), Rgb({0, 255, 0}));
    EXPECT_EQ(pixel(b, 39, 10), Rgb({0, 0, 255}));
    EXPECT_EQ(pixel(b, 10, 20), Rgb({16, 16, 16}));
    EXPECT_EQ(pixel(b, 39, 29), Rgb({240, 240, 240}));
    // Nothing outside the image's own box.
    EXPECT_EQ(pixel(b, 9, 15), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 40, 15), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 15, 9), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(b, 15, 30), Rgb({255, 255, 255}));
}

TEST_F(DeviceImageTest, SixteenBitColourKeyIsComparedInSixteenBitUnits) {
    // 0x8000 lies in 30000..40000 and is keyed out; 0x0000, 0x4000 and
    // 0xffff are not (their high bytes would not reach the range).
    const std::string data("\x00\x00\x40\x00\x80\x00\xff\xff", 8);
    const RasterBitmap& b =
        draw("1 0 0 rg 0 0 100 100 re f q 40 0 0 10 0 0 cm /Im Do Q",
             "<< /Type /XObject /Subtype /Image /Width 4 /Height 1 /ColorSpace /DeviceGray "
             "/BitsPerComponent 16 /Mask [30000 40000] >>",
             data);
    EXPECT_EQ(pixel(b, 5, 95), Rgb({0, 0, 0}));
    EXPECT_EQ(pixel(b, 15, 95), Rgb({64, 64, 64}));
    EXPECT_EQ(pixel(b, 25, 95), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 35, 95), Rgb({255, 255, 255}));
}

TEST_F(DeviceImageTest, IndexedColourKeyNamesIndicesAtAnyDepth) {
    // 2-bit indices 0 1 2 3; index 1 is keyed out.
    const RasterBitmap& b =
        draw("1 0 0 rg 0 0 100 100 re f q 40 0 0 10 0 0 cm /Im Do Q",
             "<< /Type /XObject /Subtype /Image /Width 4 /Height 1 /ColorSpace [/Indexed "
             "/DeviceRGB 3 <000000 00ff00 0000ff ffffff>] /BitsPerComponent 2 /Mask [1 1] >>",
             std::string("\x1b", 1));
    EXPECT_EQ(pixel(b, 5, 95), Rgb({0, 0, 0}));
    EXPECT_EQ(pixel(b, 15, 95), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(b, 25, 95), Rgb({0, 0, 255}));
    EXPECT_EQ(pixel(b, 35, 95), Rgb({255, 255, 255}));
}

}  // namespace
}  // namespace rendova::test
