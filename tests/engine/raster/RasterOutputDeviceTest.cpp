// The raster output device under the content interpreter: page bitmaps and
// their reuse, the paper colour, colours of every colour space, line state,
// dashes, clipping, opacity, reverse video, the halftone parameters chosen
// per resolution, and the anti-alias switch.
#include "engine/raster/RasterOutputDevice.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/content/GraphicsState.h"
#include "engine/content/Path.h"
#include "engine/core/GlobalSettings.h"
#include "engine/core/Memory.h"
#include "engine/core/PdfDocument.h"
#include "engine/raster/RasterBitmap.h"
#include "engine/raster/RasterPath.h"
#include "engine/raster/Rasteriser.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/engine/raster/RasteriserTestSupport.h"
#include "tests/support/PdfBuilder.h"

namespace rendova::test {
namespace {

const uint8_t kWhite[3] = {255, 255, 255};

// A document of pages with the given media boxes and contents, and extra
// objects from number 20 on (resources name them by reference).
std::string pagesPdf(const std::vector<std::pair<std::string, std::string>>& pages,
                     const std::string& resources = "<< >>",
                     const std::vector<std::pair<int, std::string>>& objects = {}) {
    PdfBuilder pdf;
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        const int num = static_cast<int>(3 + 2 * i);
        pdf.object(num, "<< /Type /Page /Parent 2 0 R /MediaBox [" + pages[i].first + "] /Resources " +
                            resources + " /Contents " + std::to_string(num + 1) + " 0 R >>")
            .stream(num + 1, "<< >>", pages[i].second);
    }
    for (const auto& [num, body] : objects)
        pdf.object(num, body);
    pdf.xrefTable();
    return pdf.bytes();
}

class RasterOutputDeviceTest : public ::testing::Test {
protected:
    // Opens the document and draws page n on the device at dpi.
    void render(RasterOutputDevice& device, const std::string& bytes, int n = 1, double dpi = 72) {
        if (!m_doc || m_bytes != bytes) {
            m_doc = openBytes(bytes);
            m_bytes = bytes;
            ASSERT_TRUE(m_doc->isOk());
            device.startDocument(m_doc->getXref());
        }
        m_doc->displayPage(&device, n, dpi, dpi, 0, false, true, true);
    }

    // One 100 x 100 page of content at 72 dpi on a 24-bit device.
    const RasterBitmap& draw(const std::string& content, const std::string& resources = "<< >>",
                             const std::vector<std::pair<int, std::string>>& objects = {}) {
        m_device = std::make_unique<RasterOutputDevice>(rasterRGB8, 4, false, kWhite, true, true);
        render(*m_device, pagesPdf({{"0 0 100 100", content}}, resources, objects));
        return *m_device->getBitmap();
    }

    // Red, green, blue at a point of page space (y up, 72 dpi).
    std::vector<int> at(const RasterBitmap& bitmap, int x, int y) { return pixel(bitmap, x, 99 - y); }

    std::unique_ptr<PdfDocument> m_doc;
    std::string m_bytes;
    std::unique_ptr<RasterOutputDevice> m_device;
};

using Rgb = std::vector<int>;

// --- Pages and their bitmaps.

TEST_F(RasterOutputDeviceTest, ConstructionGivesAOnePixelPageOfPaper) {
    const uint8_t paper[3] = {10, 20, 30};
    RasterOutputDevice device(rasterBGR8, 1, false, paper, false, true);
    const RasterBitmap* bitmap = device.getBitmap();
    ASSERT_EQ(bitmap->width(), 1);
    ASSERT_EQ(bitmap->height(), 1);
    EXPECT_EQ(pixel(*bitmap, 0, 0), Rgb({10, 20, 30}));
    // Without a state the page is 1 x 1 as well.
    device.startPage(1, nullptr);
    device.endPage();
    EXPECT_EQ(device.getBitmap()->width(), 1);
    EXPECT_EQ(pixel(*device.getBitmap(), 0, 0), Rgb({10, 20, 30}));
}

TEST_F(RasterOutputDeviceTest, PageOfZeroPixelsGetsAOneByOneBitmap) {
    RasterOutputDevice device(rasterBGR8, 1, false, kWhite, false, true);
    // 0.4 points at 72 dpi round to no pixel at all.
    render(device, pagesPdf({{"0 0 0.4 0.4", "0 0 1 1 re f"}}));
    EXPECT_EQ(device.getBitmap()->width(), 1);
    EXPECT_EQ(device.getBitmap()->height(), 1);
}

TEST_F(RasterOutputDeviceTest, BitmapIsReusedForPagesOfEqualSize) {
    RasterOutputDevice device(rasterBGR8, 1, false, kWhite, false, true);
    const std::string doc = pagesPdf(
        {{"0 0 50 40", "0 0 50 40 re f"}, {"10 10 60 50", "1 0 0 rg 10 10 10 10 re f"}, {"0 0 51 40", ""}});
    render(device, doc, 1);
    const RasterBitmap* first = device.getBitmap();
    const uint8_t* block = first->block();
    EXPECT_EQ(pixel(*first, 5, 5), Rgb({0, 0, 0}));

    render(device, doc, 2);
    EXPECT_EQ(device.getBitmap(), first);
    EXPECT_EQ(device.getBitmap()->block(), block);
    // The new page starts from the paper, not from the last page.
    EXPECT_EQ(pixel(*first, 30, 20), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(*first, 5, 35), Rgb({255, 0, 0}));

    render(device, doc, 3);
    EXPECT_EQ(device.getBitmap()->width(), 51);
}

TEST_F(RasterOutputDeviceTest, ReusedBitmapGivesEachPageAsAFreshDeviceDoes) {
    // Pages of one size painting different areas (edges anti-aliased,
    // translucent paint, an empty page) in an order where each page must
    // lose what the one before painted, on a paper that is not grey.
    const uint8_t paper[3] = {200, 220, 240};
    const std::string translucent = "<< /ExtGState << /Half << /ca 0.5 >> >> >>";
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"0 0 40 30", "0.3 0.2 17.5 11.25 re f"},
        {"0 0 40 30", "/Half gs 1 0 0 rg 20.5 14.5 19 15 re f"},
        {"0 0 40 30", ""},
        {"0 0 40 30", "0 0 1 rg 5 25 m 35 2 l 38 29 l h f"},
        {"0 0 40 30", "0.3 0.2 17.5 11.25 re f"},
    };
    const std::string doc = pagesPdf(pages, translucent);
    for (int mode : {rasterRGB8, rasterBGR8, rasterMono8}) {
        RasterOutputDevice device(mode, 4, 0, paper, 0, 1);
        for (int n : {1, 2, 3, 4, 2, 5, 1}) {
            render(device, doc, n);
            RasterOutputDevice fresh(mode, 4, 0, paper, 0, 1);
            m_doc.reset();
            render(fresh, doc, n);
            m_doc.reset();
            EXPECT_EQ(snapshot(*device.getBitmap()), snapshot(*fresh.getBitmap()))
                << "mode " << mode << " page " << n;
        }
    }
}

TEST_F(RasterOutputDeviceTest, PageTooLargeThrowsAndLeavesTheDeviceUsable) {
    RasterOutputDevice device(rasterBGR8, 1, false, kWhite, false, true);
    const std::string doc =
        pagesPdf({{"0 0 14400 14400", "0 0 10 10 re f"}, {"0 0 20 10", "0 0 10 10 re f"}});
    render(device, doc, 2);
    // A million pixels square: no 32-bit size holds it.
    EXPECT_THROW(render(device, doc, 1, 5000), MemoryException);
    EXPECT_EQ(device.getBitmap()->width(), 1);
    EXPECT_EQ(pixel(*device.getBitmap(), 0, 0), Rgb({255, 255, 255}));
    render(device, doc, 2);
    EXPECT_EQ(device.getBitmap()->width(), 20);
    EXPECT_EQ(pixel(*device.getBitmap(), 5, 5), Rgb({0, 0, 0}));
}

TEST_F(RasterOutputDeviceTest, PageSizeFollowsTheResolution) {
    RasterOutputDevice device(rasterBGR8, 1, false, kWhite, false, true);
    render(device, pagesPdf({{"0 0 72 36", ""}}), 1, 150);
    EXPECT_EQ(device.getBitmap()->width(), 150);
    EXPECT_EQ(device.getBitmap()->height(), 75);
}

TEST_F(RasterOutputDeviceTest, BottomUpBgrRowsFormABmpImage) {
    RasterOutputDevice device(rasterBGR8, 1, false, kWhite, false, true);
    // Red in the top-left corner of the page.
    render(device, pagesPdf({{"0 0 4 2", "1 0 0 rg 0 1 1 1 re f"}}));
    const RasterBitmap* bitmap = device.getBitmap();
    const uint8_t* block = bitmap->block();
    EXPECT_EQ(block[0], 'B');
    EXPECT_EQ(block[1], 'M');
    // Rows of 12 bytes, already a multiple of 4: the last row of the block
    // is the top of the page, its first pixel blue, green, red; the bottom
    // row is paper.
    const uint8_t* top = block + RasterBitmap::kHeaderSize + 12;
    EXPECT_EQ(top[0], 0);
    EXPECT_EQ(top[1], 0);
    EXPECT_EQ(top[2], 255);
    EXPECT_EQ(top[6], 255);
    EXPECT_EQ(block[RasterBitmap::kHeaderSize + 9], 255);
}

// --- Painting.

TEST_F(RasterOutputDeviceTest, UnpaintedAreaShowsThePaperAfterTheFrame) {
    const uint8_t paper[3] = {200, 220, 240};
    RasterOutputDevice device(rasterRGB8, 1, false, paper, true, true);
    render(device, pagesPdf({{"0 0 20 20", "0 0 1 rg 0 0 10 20 re f"}}));
    EXPECT_EQ(pixel(*device.getBitmap(), 15, 5), Rgb({200, 220, 240}));
    EXPECT_EQ(pixel(*device.getBitmap(), 5, 5), Rgb({0, 0, 255}));
}

TEST_F(RasterOutputDeviceTest, ColoursOfEveryColourSpace) {
    const std::string resources =
        "<< /ColorSpace << /CG [/CalGray << /WhitePoint [0.9505 1 1.089] >>] "
        "/CR [/CalRGB << /WhitePoint [0.9505 1 1.089] >>] "
        "/Ix [/Indexed /DeviceRGB 1 <00ff00 0000ff>] "
        "/Sp [/Separation /Spot /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] /C1 [0 1 1 0] "
        "/N 1 >>] "
        "/Dn [/DeviceN [/A /B] /DeviceRGB 21 0 R] "
        "/Ic [/ICCBased 20 0 R] /Lab [/Lab << /WhitePoint [0.9505 1 1.089] >>] >> >>";
    const RasterBitmap& b = draw(
        "0.5 g 0 0 10 10 re f "
        "1 0 0 rg 10 0 10 10 re f "
        "0 1 0 0 k 20 0 10 10 re f "
        "/CG cs 0.25 sc 30 0 10 10 re f "
        "/CR cs 0 0 1 sc 40 0 10 10 re f "
        "/Ix cs 1 sc 50 0 10 10 re f "
        "/Sp cs 1 scn 60 0 10 10 re f "
        "/Dn cs 1 0.5 scn 70 0 10 10 re f "
        "/Ic cs 0 1 1 scn 80 0 10 10 re f "
        "/Lab cs 100 0 0 sc 90 0 10 10 re f ",
        resources,
        {{20, "<< /N 3 /Alternate /DeviceRGB /Length 0 >>\nstream\n\nendstream"},
         {21,
          "<< /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1] /Length 14 >>\nstream\n{ 0 3 1 roll }"
          "\nendstream"}});
    EXPECT_EQ(at(b, 5, 5), Rgb({128, 128, 128}));
    EXPECT_EQ(at(b, 15, 5), Rgb({255, 0, 0}));
    // Process colours convert by the table of printed inks.
    EXPECT_EQ(at(b, 25, 5), Rgb({236, 0, 140}));
    EXPECT_EQ(at(b, 35, 5), Rgb({64, 64, 64}));
    EXPECT_EQ(at(b, 45, 5), Rgb({0, 0, 255}));
    EXPECT_EQ(at(b, 55, 5), Rgb({0, 0, 255}));
    EXPECT_EQ(at(b, 65, 5), Rgb({237, 28, 36}));
    EXPECT_EQ(at(b, 75, 5), Rgb({0, 255, 128}));
    EXPECT_EQ(at(b, 85, 5), Rgb({0, 255, 255}));
    EXPECT_EQ(at(b, 95, 5), Rgb({255, 255, 255}));
}

TEST_F(RasterOutputDeviceTest, SeparationNonePaintsNothing) {
    const RasterBitmap& b = draw("/N cs /N CS 1 sc 1 SC 0 0 50 50 re f 10 w 0 75 m 100 75 l S",
                                 "<< /ColorSpace << /N [/Separation /None /DeviceGray "
                                 "<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>] >> >>");
    EXPECT_EQ(at(b, 25, 25), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 50, 75), Rgb({255, 255, 255}));
}

TEST_F(RasterOutputDeviceTest, StrokeUsesItsOwnColourWidthAndCap) {
    const RasterBitmap& b = draw("0 1 0 RG 1 0 0 rg 10 w 2 J 20 50 m 80 50 l S");
    EXPECT_EQ(at(b, 50, 50), Rgb({0, 255, 0}));
    EXPECT_EQ(at(b, 50, 53), Rgb({0, 255, 0}));
    // The projecting cap reaches 5 points beyond the end.
    EXPECT_EQ(at(b, 17, 50), Rgb({0, 255, 0}));
    EXPECT_EQ(at(b, 13, 50), Rgb({255, 255, 255}));
}

TEST_F(RasterOutputDeviceTest, CurvesAndClosedSubpathsSurviveConversion) {
    Path path;
    path.moveTo(0, 0);
    path.lineTo(10, 0);
    path.curveTo(20, 0, 20, 10, 10, 10);
    path.close();
    path.moveTo(50, 50);  // a pending move opens no sub-path
    std::unique_ptr<RasterPath> converted = RasterOutputDevice::convertPath(path);
    ASSERT_EQ(converted->length(), 6);
    const uint8_t* flags = converted->flags();
    EXPECT_EQ(flags[0] & kPathFirst, kPathFirst);
    EXPECT_EQ(flags[1] & kPathCurve, 0);
    EXPECT_EQ(flags[2] & kPathCurve, kPathCurve);
    EXPECT_EQ(flags[3] & kPathCurve, kPathCurve);
    EXPECT_EQ(flags[4] & kPathCurve, 0);
    EXPECT_EQ(flags[5] & kPathClosed, kPathClosed);
    EXPECT_DOUBLE_EQ(converted->points()[5].x, 0);
}

TEST_F(RasterOutputDeviceTest, FillRulesAndClips) {
    const RasterBitmap& b = draw(
        // Even-odd ring: the hole stays white.
        "10 10 30 30 re 20 20 10 10 re f* "
        // Nonzero: both squares wound the same way fill the hole.
        "60 10 30 30 re 70 20 10 10 re f "
        // A clip to the left half of a square; the even-odd clip with a hole.
        "q 10 60 15 30 re W n 0 0 1 rg 10 60 30 30 re f Q "
        "q 60 60 30 30 re 70 70 10 10 re W* n 1 0 0 rg 50 50 50 50 re f Q "
        // Clips end with the restore.
        "0 1 0 rg 45 45 5 5 re f");
    EXPECT_EQ(at(b, 25, 25), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 15, 15), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 75, 25), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 15, 75), Rgb({0, 0, 255}));
    EXPECT_EQ(at(b, 35, 75), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 65, 65), Rgb({255, 0, 0}));
    EXPECT_EQ(at(b, 75, 75), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 55, 55), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 47, 47), Rgb({0, 255, 0}));
}

TEST_F(RasterOutputDeviceTest, ClipToStrokeOutlineKeepsTheStrokedArea) {
    const RasterBitmap& b = draw("");
    GraphicsState state(72, 72, PageBox{0, 0, 100, 100}, 0, true);
    RasterOutputDevice& device = *m_device;
    device.startPage(1, &state);
    state.setLineWidth(10);
    device.updateLineWidth(&state);
    state.getPath()->moveTo(10, 50);
    state.getPath()->lineTo(90, 50);
    device.clipToStrokeOutline(&state);
    state.clearPath();
    state.getPath()->moveTo(0, 0);
    state.getPath()->lineTo(100, 0);
    state.getPath()->lineTo(100, 100);
    state.getPath()->lineTo(0, 100);
    state.getPath()->close();
    device.fill(&state);
    device.endPage();
    EXPECT_EQ(at(b, 50, 50), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 50, 53), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 50, 60), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 5, 50), Rgb({255, 255, 255}));
}

TEST_F(RasterOutputDeviceTest, OpacityAndBlendModeReachThePaint) {
    const RasterBitmap& b = draw(
        "/Half gs 0 0 1 rg 0 0 50 50 re f "
        "/Normal gs 1 1 0 rg 50 0 50 50 re f /Mul gs 0 1 1 rg 50 0 50 50 re f",
        "<< /ExtGState << /Half << /ca 0.5 >> /Normal << /ca 1 >> "
        "/Mul << /BM /Multiply >> >> >>");
    const Rgb half = at(b, 25, 25);
    EXPECT_NEAR(half[0], 128, 1);
    EXPECT_NEAR(half[1], 128, 1);
    EXPECT_EQ(half[2], 255);
    // Yellow times cyan is green.
    EXPECT_EQ(at(b, 75, 25), Rgb({0, 255, 0}));
}

// --- Dashes.

TEST_F(RasterOutputDeviceTest, DashArrayIsCutTo20EntriesAndNegativesCountAsZero) {
    draw("");
    GraphicsState state(72, 72, PageBox{0, 0, 100, 100}, 0, true);
    auto dash = std::make_unique<double[]>(25);
    for (int i = 0; i < 25; ++i)
        dash[i] = i == 3 ? -4 : i + 1;
    state.setLineDash(std::move(dash), 25, 2.5);
    m_device->updateLineDash(&state);
    const RasterState* rs = m_device->getRasteriser()->getState();
    ASSERT_EQ(rs->lineDashLength(), RasterOutputDevice::kMaxDashLength);
    EXPECT_EQ(rs->lineDash()[0], 1);
    EXPECT_EQ(rs->lineDash()[3], 0);
    EXPECT_EQ(rs->lineDash()[19], 20);
    EXPECT_EQ(rs->lineDashPhase(), 2.5);

    state.setLineDash(nullptr, 0, 0);
    m_device->updateLineDash(&state);
    EXPECT_EQ(m_device->getRasteriser()->getState()->lineDashLength(), 0);
}

TEST_F(RasterOutputDeviceTest, DashOfZeroTotalLengthStrokesSolid) {
    // All zeros, and negatives that become zeros: both solid lines.
    const RasterBitmap& b = draw(
        "4 w [0 0] 0 d 10 30 m 90 30 l S [-3 -1] 0 d 10 70 m 90 70 l S "
        "[10 10] 0 d 10 50 m 90 50 l S");
    for (int x = 12; x < 88; ++x) {
        EXPECT_EQ(at(b, x, 30), Rgb({0, 0, 0})) << x;
        EXPECT_EQ(at(b, x, 70), Rgb({0, 0, 0})) << x;
    }
    // A real pattern still breaks the line.
    EXPECT_EQ(at(b, 15, 50), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 25, 50), Rgb({255, 255, 255}));
}

// --- Device variants.

TEST_F(RasterOutputDeviceTest, GreyDeviceWithReverseVideoInvertsColoursButNotThePaper) {
    const uint8_t paper[3] = {255, 255, 255};
    RasterOutputDevice device(rasterMono8, 1, true, paper, true, true);
    render(device, pagesPdf({{"0 0 20 20", "0.25 g 0 0 10 20 re f"}}));
    EXPECT_EQ(grey(*device.getBitmap(), 5, 5), 191);
    EXPECT_EQ(grey(*device.getBitmap(), 15, 5), 255);
}

TEST_F(RasterOutputDeviceTest, ColourPatternsByMode) {
    const uint8_t paper[3] = {0, 0, 0};
    RasterOutputDevice rgb(rasterBGR8, 1, false, paper, false, true);
    std::unique_ptr<RasterSolidColor> c(rgb.makeColorPattern(0x8000, 0x10000, 0, 0x4000));
    uint8_t out[3];
    c->getColor(0, 0, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 64);
    RasterOutputDevice grey8(rasterMono8, 1, true, paper, false, true);
    c.reset(grey8.makeColorPattern(0x4000, 0, 0, 0));
    c->getColor(0, 0, out);
    EXPECT_EQ(out[0], 191);
    // Overshooting components are limited to the byte range.
    c.reset(rgb.makeColorPattern(0, 0x18000, -5, 0));
    c->getColor(0, 0, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 0);
}

TEST_F(RasterOutputDeviceTest, OneBitDeviceHasNoAntialiasingOrAlpha) {
    const uint8_t paper[3] = {255, 255, 255};
    RasterOutputDevice device(rasterMono1, 1, false, paper, true, true);
    EXPECT_FALSE(device.getAntialiasFlag());
    EXPECT_FALSE(device.getAntialias());
    render(device, pagesPdf({{"0 0 16 16", "0 0 8 16 re f"}}));
    EXPECT_EQ(device.getBitmap()->alpha(), nullptr);
    EXPECT_EQ(grey(*device.getBitmap(), 2, 2), 0);
    EXPECT_EQ(grey(*device.getBitmap(), 12, 2), 255);
}

TEST_F(RasterOutputDeviceTest, AntialiasSwitchTurnsOffAndBackOn) {
    RasterOutputDevice device(rasterRGB8, 1, false, kWhite, true, true);
    EXPECT_TRUE(device.getAntialias());
    device.setAntialias(false);
    EXPECT_FALSE(device.getAntialias());
    device.setAntialias(true);
    EXPECT_TRUE(device.getAntialias());
    // Not requested: the switch cannot turn it on.
    RasterOutputDevice plain(rasterRGB8, 1, false, kWhite, true, false);
    plain.setAntialias(true);
    EXPECT_FALSE(plain.getAntialias());
}

// --- Type 3 glyphs.

// A stream object's text with its /Length.
std::string streamObject(const std::string& data) {
    return "<< /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// A Type 3 font of three square glyphs, 15 points at size 20: A with one
// d1, B with two, C with a second d1 whose box would not fit the cell. The
// tests place each glyph with Tm: a glyph procedure's path currently moves
// the text position of the glyphs after it in the same string.
const std::string kType3Resources = "<< /Font << /T3 20 0 R >> >>";
const std::vector<std::pair<int, std::string>> kType3Objects = {
    {20,
     "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 750 750] /FontMatrix [0.001 0 0 0.001 0 0] "
     "/CharProcs << /a 21 0 R /b 22 0 R /c 23 0 R /d 24 0 R /e 25 0 R /f 26 0 R >> "
     "/Encoding << /Type /Encoding /Differences [65 /a /b /c /d /e /f] >> "
     "/FirstChar 65 /LastChar 70 /Widths [1000 1000 1000 1000 1000 1000] >>"},
    {21, streamObject("1000 0 0 0 750 750 d1 0 0 750 750 re f")},
    {22, streamObject("1000 0 0 0 750 750 d1 1000 0 0 0 750 750 d1 0 0 750 750 re f")},
    {23, streamObject("1000 0 0 0 750 750 d1 1000 0 -9000 -9000 9000 9000 d1 0 0 750 750 re f")},
    // Colour operators in d1 glyphs, cached (D) and too large for the cell (E).
    {24, streamObject("1000 0 0 0 750 750 d1 0 g 0 1 0 RG 0 0 750 750 re f")},
    {25, streamObject("1000 0 -9000 -9000 9000 9000 d1 0 0 1 rg 0 0 750 750 re f")},
    // A stencil mask two pixels wide from x + 0.3 in a d0 glyph (F).
    {26, streamObject("1000 0 d0 100 0 0 100 15 0 cm BI /IM true /W 1 /H 1 /D [1 0] ID \xff EI")},
};

TEST_F(RasterOutputDeviceTest, Type3GlyphsAreDrawnAndCached) {
    const RasterBitmap& b =
        draw("BT /T3 20 Tf 1 0 0 1 10 60 Tm (A) Tj 1 0 0 1 30 60 Tm (A) Tj 1 0 0 1 50 60 Tm (A) Tj ET",
             kType3Resources, kType3Objects);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(at(b, 17 + 20 * i, 67), Rgb({0, 0, 0})) << i;
        EXPECT_EQ(at(b, 27 + 20 * i, 67), Rgb({255, 255, 255})) << i;
    }
}

TEST_F(RasterOutputDeviceTest, D1GlyphsIgnoreTheirColourOperators) {
    // Each glyph twice (drawn, then from the cache where it was cached): in
    // the text's red, whatever colour the procedure sets.
    const RasterBitmap& b = draw(
        "1 0 0 rg BT /T3 20 Tf 1 0 0 1 10 60 Tm (D) Tj 1 0 0 1 30 60 Tm (D) Tj 1 0 0 1 50 60 Tm (E) Tj "
        "1 0 0 1 70 60 Tm (E) Tj ET",
        kType3Resources, kType3Objects);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(at(b, 17 + 20 * i, 67), Rgb({255, 0, 0})) << i;
}

TEST_F(RasterOutputDeviceTest, Type3GlyphShowingItselfKeepsTheCachesItDrawsInto) {
    // Each glyph shows the glyph again at nine tenths of its size, until the
    // nesting bound: more sizes, each a cache of its own, than the device
    // keeps caches. The caches of the glyphs still being drawn must survive
    // the new ones.
    const std::vector<std::pair<int, std::string>> objects = {
        {30,
         "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
         "/CharProcs << /a 31 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 "
         "/Widths [1000] /Resources << /Font << /R 30 0 R >> >> >>"},
        {31, streamObject("1000 0 0 0 1000 1000 d1 0 0 500 500 re f BT /R 900 Tf 500 500 Td (a) Tj ET")}};
    const RasterBitmap& b = draw("BT /R 40 Tf 10 10 Td (a) Tj ET", "<< /Font << /R 30 0 R >> >>", objects);
    EXPECT_EQ(at(b, 15, 15), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 35, 35), Rgb({0, 0, 0}));
    EXPECT_EQ(at(b, 5, 5), Rgb({255, 255, 255}));
}

TEST_F(RasterOutputDeviceTest, InvisibleType3TextPaintsNothingAndMovesOn) {
    // Render mode 3 over a Type 3 font: the glyph procedures (a filled box
    // and a stencil mask) paint nothing, and the glyph after them in mode 0
    // stands where their widths put it.
    const RasterBitmap& b =
        draw("BT /T3 20 Tf 1 0 0 1 10 60 Tm 3 Tr (AF) Tj 0 Tr (A) Tj ET", kType3Resources, kType3Objects);
    EXPECT_EQ(at(b, 17, 67), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 31, 61), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 57, 67), Rgb({0, 0, 0}));
}

TEST_F(RasterOutputDeviceTest, StencilMasksInType3GlyphsCoverThePixelsWhoseCentresTheyCover) {
    // From x = 10.3 to 12.3: on the page the mask touches columns 10 to 12;
    // inside a glyph, the pixels whose centres it covers: 10 and 11.
    auto columns = [&](const RasterBitmap& b) {
        std::vector<int> painted;
        for (int x = 8; x < 15; ++x)
            if (at(b, x, 61) != Rgb({255, 255, 255}))
                painted.push_back(x);
        return painted;
    };
    EXPECT_EQ(columns(draw("BT /T3 20 Tf 1 0 0 1 10 60 Tm (F) Tj ET", kType3Resources, kType3Objects)),
              (std::vector<int>{10, 11}));
    EXPECT_EQ(columns(draw("2 0 0 2 10.3 60 cm BI /IM true /W 1 /H 1 /D [1 0] ID \xff EI")),
              (std::vector<int>{10, 11, 12}));
}

TEST_F(RasterOutputDeviceTest, SecondD1InsideOneGlyphChangesNothing) {
    // Each glyph twice: drawn into its cache cell, then from the cache.
    const RasterBitmap& twice = draw(
        "BT /T3 20 Tf 1 0 0 1 10 60 Tm (B) Tj 1 0 0 1 30 60 Tm (B) Tj 1 0 0 1 50 60 Tm (C) Tj 1 0 0 1 70 60 "
        "Tm (C) Tj ET",
        kType3Resources, kType3Objects);
    const std::vector<uint8_t> withTwo = snapshot(twice);
    const RasterBitmap& once = draw(
        "BT /T3 20 Tf 1 0 0 1 10 60 Tm (A) Tj 1 0 0 1 30 60 Tm (A) Tj 1 0 0 1 50 60 Tm (A) Tj 1 0 0 1 70 60 "
        "Tm (A) Tj ET",
        kType3Resources, kType3Objects);
    EXPECT_EQ(snapshot(once), withTwo);
    // Drawing goes on into the page after the glyphs.
    const RasterBitmap& after =
        draw("BT /T3 20 Tf 1 0 0 1 10 60 Tm (B) Tj 1 0 0 1 30 60 Tm (C) Tj ET 1 0 0 rg 0 0 10 10 re f",
             kType3Resources, kType3Objects);
    EXPECT_EQ(at(after, 5, 5), Rgb({255, 0, 0}));
    EXPECT_EQ(at(after, 37, 67), Rgb({0, 0, 0}));
}

// --- Halftone parameters from the settings.

class HalftoneTest : public ::testing::Test {
protected:
    void load(const std::string& config) {
        const std::string path = writeTestFile(config, ".conf");
        if (!m_settings)
            m_saved = globalSettings;
        m_settings = std::make_unique<GlobalSettings>(path.c_str());
        globalSettings = m_settings.get();
    }
    ~HalftoneTest() override {
        if (m_settings)
            globalSettings = m_saved;
    }
    HalftoneParameters at(double h, double v) {
        RasterOutputDevice device(rasterMono1, 1, false, kWhite, true, true);
        device.setHalftoneParameters(h, v);
        return device.getHalftoneParameters();
    }
    std::unique_ptr<GlobalSettings> m_settings;
    GlobalSettings* m_saved = nullptr;
};

TEST_F(HalftoneTest, UnsetKindIsDispersedBelow300DpiAndStochasticAbove) {
    load("");
    HalftoneParameters p = at(72, 72);
    EXPECT_EQ(p.kind, kScreenDispersed);
    EXPECT_EQ(p.size, 4);
    p = at(300, 300);
    EXPECT_EQ(p.kind, kScreenStochasticClustered);
    EXPECT_EQ(p.size, 100);
    EXPECT_EQ(p.dotRadius, 2);
    // Both resolutions must be high.
    EXPECT_EQ(at(300, 299).kind, kScreenDispersed);
}

TEST_F(HalftoneTest, ConfiguredKindsAndSizes) {
    load("screen-type clustered\n");
    EXPECT_EQ(at(600, 600).kind, kScreenClustered);
    EXPECT_EQ(at(600, 600).size, 10);
    load("screen-type dispersed\nscreen-size 8\n");
    EXPECT_EQ(at(600, 600).kind, kScreenDispersed);
    EXPECT_EQ(at(600, 600).size, 8);
    load("screen-type stochastic-clustered\nscreen-dot-radius 5\nscreen-gamma 1.5\n");
    const HalftoneParameters p = at(72, 72);
    EXPECT_EQ(p.kind, kScreenStochasticClustered);
    EXPECT_EQ(p.size, 100);
    EXPECT_EQ(p.dotRadius, 5);
    EXPECT_DOUBLE_EQ(p.gamma, 1.5);
}

TEST_F(HalftoneTest, VectorAntialiasSettingTurnsItOff) {
    load("vector-antialias no\n");
    RasterOutputDevice device(rasterRGB8, 1, false, kWhite, true, true);
    EXPECT_FALSE(device.getAntialiasFlag());
}

}  // namespace
}  // namespace rendova::test
