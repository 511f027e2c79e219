// Transparency groups and soft masks of the raster output device: groups
// composited as one layer, non-isolated groups over their backdrop, the
// drawing state inside a group, group boxes at and beyond the page edges,
// calls out of order, and luminosity and alpha soft masks with backdrop and
// transfer function.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/content/GraphicsState.h"
#include "engine/core/Page.h"
#include "engine/raster/Rasteriser.h"
#include "tests/engine/raster/RasterDevicePages.h"
#include "tests/support/ErrorCapture.h"

namespace rendova::test {
namespace {

using Rgb = std::vector<int>;

// Each channel within 3 of the expected value: compositing rounds at every
// step.
::testing::AssertionResult near(const Rgb& actual, const Rgb& expected) {
    bool ok = actual.size() == expected.size();
    for (size_t i = 0; ok && i < actual.size(); ++i)
        ok = std::abs(actual[i] - expected[i]) <= 3;
    if (ok)
        return ::testing::AssertionSuccess();
    auto text = [](const Rgb& c) {
        std::string s;
        for (int v : c)
            s += (s.empty() ? "" : ",") + std::to_string(v);
        return "(" + s + ")";
    };
    return ::testing::AssertionFailure() << text(actual) << " is not near " << text(expected);
}

const std::string kHalf = "<< /ExtGState << /Half << /ca 0.5 >> >> >>";

// --- Groups.

TEST(RasterDeviceGroupsTest, IsolatedGroupAtHalfOpacityCompositesItsContentAsOneLayer) {
    // The same two half-opaque squares, red then blue overlapping it, drawn
    // at (10, 10) directly and at (50, 50) inside a group painted at 0.5.
    const std::string squares = "/Half gs 1 0 0 rg 0 0 20 20 re f 0 0 1 rg 10 10 20 20 re f";
    DevicePage page;
    const RasterBitmap& b =
        page.draw("q 1 0 0 1 10 10 cm " + squares + " Q q /Half gs 1 0 0 1 50 50 cm /G Do Q",
                  "<< /ExtGState << /Half << /ca 0.5 >> >> /XObject << /G 10 0 R >> >>",
                  {groupForm(10, "0 0 40 40", "/I true", squares, kHalf)});
    // Directly: each square at half over what lies beneath.
    EXPECT_TRUE(near(at(b, 15, 15), {255, 128, 128}));
    EXPECT_TRUE(near(at(b, 25, 25), {128, 64, 191}));
    // In the group the overlap has alpha 3/4 and colour 1/3 red, 2/3 blue;
    // painted at half, the layer covers 1/4 where red is alone and 3/8 in
    // the overlap.
    EXPECT_TRUE(near(at(b, 55, 55), {255, 191, 191}));
    EXPECT_TRUE(near(at(b, 65, 65), {191, 159, 223}));
    EXPECT_TRUE(near(at(b, 75, 75), {191, 191, 255}));
    EXPECT_EQ(at(b, 85, 85), Rgb({255, 255, 255}));
}

TEST(RasterDeviceGroupsTest, NonIsolatedGroupLeavesItsBackdropWhereItPaintsNothing) {
    // A yellow band under a non-isolated group painted at half opacity: an
    // opaque fill of the group shows at half, the rest of its box not at all.
    DevicePage page;
    const RasterBitmap& b = page.draw("0.9 0.9 0.2 rg 0 0 100 50 re f q /Half gs 1 0 0 1 20 20 cm /G Do Q",
                                      "<< /ExtGState << /Half << /ca 0.5 >> >> /XObject << /G 10 0 R >> >>",
                                      {groupForm(10, "0 0 60 60", "", "0.2 0.8 0.9 rg 10 0 20 60 re f")});
    EXPECT_TRUE(near(at(b, 40, 30), {140, 217, 140}));
    EXPECT_TRUE(near(at(b, 40, 70), {153, 230, 242}));
    EXPECT_TRUE(near(at(b, 60, 30), {230, 230, 51}));
    EXPECT_EQ(at(b, 60, 70), Rgb({255, 255, 255}));
}

TEST(RasterDeviceGroupsTest, NonIsolatedGroupsCompositeAsTheirContentWouldDirectly) {
    // Over an orange backdrop (204, 153, 51): a half-opaque blue fill inside
    // a non-isolated group shows at half, and a Multiply fill inside one
    // inside it multiplies with everything beneath, the outer group's blue
    // where there is some and the page elsewhere.
    DevicePage page;
    const std::string mul = "<< /ExtGState << /Half << /ca 0.5 >> /Mul << /BM /Multiply >> >> >>";
    const RasterBitmap& b =
        page.draw("0.8 0.6 0.2 rg 0 0 100 100 re f /Outer Do", "<< /XObject << /Outer 10 0 R >> >>",
                  {groupForm(10, "0 0 100 100", "", "q /Half gs 0 0 1 rg 0 0 50 100 re f Q /Inner Do",
                             "<< /ExtGState << /Half << /ca 0.5 >> >> /XObject << /Inner 11 0 R >> >>"),
                   groupForm(11, "0 40 100 100", "", "/Mul gs 0.5 1 0.5 rg 0 40 100 60 re f", mul)});
    EXPECT_TRUE(near(at(b, 25, 20), {102, 76, 153}));
    EXPECT_TRUE(near(at(b, 25, 70), {51, 76, 76}));
    EXPECT_TRUE(near(at(b, 75, 70), {102, 153, 26}));
    EXPECT_EQ(at(b, 75, 20), Rgb({204, 153, 51}));
}

TEST(RasterDeviceGroupsTest, GroupContentDrawsWithTheStateAroundIt) {
    // The group fills and strokes without setting a colour or a width of
    // its own.
    DevicePage page;
    const RasterBitmap& b =
        page.draw("0 0 1 rg 1 0 0 RG 6 w /G Do", "<< /XObject << /G 10 0 R >> >>",
                  {groupForm(10, "0 0 100 100", "/I true", "10 10 30 30 re f 60 10 m 60 90 l S")});
    EXPECT_EQ(at(b, 25, 25), Rgb({0, 0, 255}));
    EXPECT_EQ(at(b, 62, 50), Rgb({255, 0, 0}));
    EXPECT_EQ(at(b, 64, 50), Rgb({255, 255, 255}));
}

TEST(RasterDeviceGroupsTest, NestedGroupsLandWhereTheirContentIs) {
    // A group at (30, 30) holding one at (50, 50) of its own space: the
    // inner content must come back to page (80 .. 90, 80 .. 90).
    DevicePage page;
    const RasterBitmap& b = page.draw(
        "q 1 0 0 1 30 30 cm /Outer Do Q", "<< /XObject << /Outer 10 0 R >> >>",
        {groupForm(10, "0 0 70 70", "/I true", "0 1 0 rg 0 0 10 10 re f q 1 0 0 1 50 50 cm /Inner Do Q",
                   "<< /XObject << /Inner 11 0 R >> >>"),
         groupForm(11, "0 0 10 10", "", "0 0 1 rg 0 0 10 10 re f")});
    EXPECT_EQ(at(b, 35, 35), Rgb({0, 255, 0}));
    EXPECT_EQ(at(b, 85, 85), Rgb({0, 0, 255}));
    EXPECT_EQ(at(b, 75, 75), Rgb({255, 255, 255}));
}

TEST(RasterDeviceGroupsTest, ATurnedGroupIsClippedAlongItsBoxNotItsBounds) {
    // A 30 x 30 box turned by 45 degrees about (50, 20): a diamond around
    // (50, 41). Its content paints far beyond the box, inside a group and
    // inside a plain form.
    for (const char* group : {"/Group << /S /Transparency >>", ""}) {
        DevicePage page;
        const RasterBitmap& b = page.draw(
            "q 1 0 0 1 50 20 cm 0.70711 0.70711 -0.70711 0.70711 0 0 cm /G Do Q",
            "<< /XObject << /G 10 0 R >> >>",
            {{10, std::string("<< /Type /XObject /Subtype /Form /BBox [0 0 30 30] ") + group + " >>",
              "0 0 1 rg -100 -100 300 300 re f"}});
        EXPECT_EQ(at(b, 50, 41), Rgb({0, 0, 255})) << group;
        // Within the box's upright bounds, outside the diamond.
        EXPECT_EQ(at(b, 32, 24), Rgb({255, 255, 255})) << group;
        EXPECT_EQ(at(b, 68, 58), Rgb({255, 255, 255})) << group;
    }
}

TEST(RasterDeviceGroupsTest, GroupInsideACachedType3GlyphPaintsTheGlyph) {
    // The glyph's cell holds coverage in its own colour mode (grey here on
    // an RGB page); a group opened in it must use that mode and the cell's
    // ink, or the glyph comes out empty. The left half is drawn in the
    // group, the right half directly.
    for (int mode : {rasterMono1, rasterMono8, rasterRGB8}) {
        DevicePage page;
        const RasterBitmap& b = page.draw(
            "1 0 0 rg BT /T 40 Tf 20 30 Td (a) Tj ET", "<< /Font << /T 10 0 R >> >>",
            {{10,
              "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
              "/CharProcs << /a 11 0 R >> /Encoding << /Differences [97 /a] >> /FirstChar 97 /LastChar 97 "
              "/Widths [1000] /Resources << /XObject << /G 12 0 R >> >> >>",
              "", true},
             {11, "<< >>", "1000 0 0 0 1000 1000 d1 /G Do 500 0 500 1000 re f"},
             groupForm(12, "0 0 500 1000", "/I true", "0 0 500 1000 re f")},
            mode);
        const Rgb red = mode == rasterRGB8 ? Rgb({255, 0, 0}) : mode == rasterMono8 ? Rgb({77}) : Rgb({0});
        EXPECT_EQ(at(b, 30, 50), red) << mode;
        EXPECT_EQ(at(b, 50, 50), red) << mode;
        EXPECT_EQ(at(b, 70, 50)[0], 255) << mode;
    }
}

TEST(RasterDeviceGroupsTest, KnockoutGroupMembersMeetTheGroupAsItBegan) {
    // An orange page (204, 153, 51) under a knockout group whose first
    // member is a white panel over the lower half; what follows meets the
    // page beneath the group (or nothing, isolated), never the panel,
    // except through a soft mask.
    const std::string panel = "1 g 0 0 100 50 re f ";
    const std::string mul = "/Mul gs 0.5 1 0.5 rg 0 0 50 100 re f";
    const std::string resources =
        "<< /ExtGState << /Mul << /BM /Multiply >> /Half << /ca 0.5 >> "
        "/Masked << /BM /Multiply /SMask << /S /Alpha /G 12 0 R >> >> >> /XObject << /In 11 0 R >> >>";
    const StreamObject leftMask = groupForm(12, "0 0 100 100", "", "0 g 0 0 50 100 re f");
    struct Case {
        const char* name;
        std::string group;
        std::string members;
        Rgb onPanel;     // left half, over the panel
        Rgb offPanel;    // left half, above it
        Rgb panelAlone;  // right half, the panel
    };
    const Case cases[] = {
        {"non-isolated", "/K true", panel + mul, {102, 153, 26}, {102, 153, 26}, {255, 255, 255}},
        // Over nothing the second member shows its own colour at half.
        {"isolated",
         "/K true /I true",
         panel + "/Half gs 0 0 1 rg 0 0 50 100 re f",
         {102, 77, 153},
         {102, 77, 153},
         {255, 255, 255}},
        // A member drawn through a soft mask composites with the group's
        // content: the panel where the mask is clear, multiplied on the left.
        {"soft-masked member",
         "/K true",
         panel + "/Masked gs 0.5 1 0.5 rg 0 0 100 100 re f",
         {128, 255, 128},
         {102, 153, 26},
         {255, 255, 255}},
        // A non-isolated group inside starts from the knockout group's
        // first state too.
        {"nested group", "/K true", panel + "/In Do", {102, 153, 26}, {102, 153, 26}, {255, 255, 255}},
        {"plain group", "", panel + mul, {128, 255, 128}, {102, 153, 26}, {255, 255, 255}},
    };
    for (const Case& c : cases) {
        DevicePage page;
        const RasterBitmap& b =
            page.draw("0.8 0.6 0.2 rg 0 0 100 100 re f /K Do", "<< /XObject << /K 10 0 R >> >>",
                      {groupForm(10, "0 0 100 100", c.group, c.members, resources),
                       groupForm(11, "0 0 100 100", "", mul, resources), leftMask});
        EXPECT_TRUE(near(at(b, 25, 25), c.onPanel)) << c.name;
        EXPECT_TRUE(near(at(b, 25, 75), c.offPanel)) << c.name;
        EXPECT_TRUE(near(at(b, 75, 25), c.panelAlone)) << c.name;
        EXPECT_EQ(at(b, 75, 75), Rgb({204, 153, 51})) << c.name;
    }
}

TEST(RasterDeviceGroupsTest, KnockoutMembersReplaceTheGroupByTheirAntialiasedCoverage) {
    // On a black page an isolated knockout group: red, then white at half
    // opacity whose left edge halves column 40. Inside, the white meets
    // nothing and shows grey on the page; at the edge red and half white mix
    // by the white's coverage c, weighed by their alphas: red 255 - 127.5 c,
    // green and blue 127.5 c.
    DevicePage page;
    const RasterBitmap& b = page.draw("0 g 0 0 100 100 re f /K Do", "<< /XObject << /K 10 0 R >> >>",
                                      {groupForm(10, "0 0 100 100", "/K true /I true",
                                                 "1 0 0 rg 0 0 100 40 re f /Half gs 1 g 40.5 0 60 40 re f",
                                                 "<< /ExtGState << /Half << /ca 0.5 >> >> >>")});
    EXPECT_EQ(at(b, 30, 20), Rgb({255, 0, 0}));
    EXPECT_TRUE(near(at(b, 60, 20), {128, 128, 128}));
    const Rgb edge = at(b, 40, 20);
    EXPECT_GT(edge[1], 10);
    EXPECT_LT(edge[1], 118);
    EXPECT_EQ(edge[1], edge[2]);
    EXPECT_NEAR(edge[0] + edge[1], 255, 3);
}

// --- Group boxes at the page edges (the sanitizers watch every access).

class GroupEdgeTest : public ::testing::Test {
protected:
    GroupEdgeTest() : m_state(72, 72, PageBox{0, 0, 100, 80}, 0, true) {
        static const uint8_t kWhite[3] = {255, 255, 255};
        m_device = std::make_unique<RasterOutputDevice>(rasterRGB8, 4, false, kWhite, true, true);
        m_device->startPage(1, &m_state);
    }
    // Begins a group over the box (page space) and answers its device
    // corner and size; the group stays open.
    std::vector<int> begin(double x0, double y0, double x1, double y1, bool isolated = true) {
        const double box[4] = {x0, y0, x1, y1};
        const double e = m_state.getMatrix()[4], f = m_state.getMatrix()[5];
        m_device->beginTransparencyGroup(&m_state, box, nullptr, isolated, false, false);
        const RasterBitmap* t = m_device->getTarget();
        return {static_cast<int>(e - m_state.getMatrix()[4]), static_cast<int>(f - m_state.getMatrix()[5]),
                t->width(), t->height()};
    }
    // Fills the whole group's box in red, ends the group and paints it or
    // makes it a soft mask.
    void fillEndAnd(bool paint, bool alphaMask = false) {
        const uint8_t red[3] = {255, 0, 0};
        Rasteriser& r = *m_device->getRasteriser();
        r.setFillPattern(new RasterSolidColor(red));
        RasterPath path;
        addRect(path, -1000, -1000, 1000, 1000);
        r.fill(path, false);
        m_device->endTransparencyGroup(&m_state);
        const double box[4] = {0, 0, 0, 0};
        if (paint)
            m_device->paintTransparencyGroup(&m_state, box);
        else
            m_device->setSoftMask(&m_state, box, alphaMask, nullptr, nullptr);
    }

    GraphicsState m_state;
    std::unique_ptr<RasterOutputDevice> m_device;
};

TEST_F(GroupEdgeTest, BoxesAreCutToThePageAndKeepAtLeastOnePixel) {
    // Page space y runs up; device rows run down from the top (y = 80).
    // Edges on pixel boundaries leave the next pixel out.
    EXPECT_EQ(begin(10, 20, 30, 50), std::vector<int>({10, 30, 20, 30}));
    fillEndAnd(true);
    // Entirely left of (or above) the page: corner 0, one pixel.
    EXPECT_EQ(begin(-50, 0, -10, 20), std::vector<int>({0, 60, 1, 20}));
    fillEndAnd(true);
    EXPECT_EQ(begin(10, 100, 30, 120), std::vector<int>({10, 0, 20, 1}));
    fillEndAnd(true);
    // Past the right and bottom edges: cut there.
    EXPECT_EQ(begin(80, -30, 150, 10), std::vector<int>({80, 70, 20, 10}));
    fillEndAnd(false);
    m_device->clearSoftMask(&m_state);
    // At or beyond the far edges: the last column and row, one pixel.
    EXPECT_EQ(begin(100, -40, 140, -20), std::vector<int>({99, 79, 1, 1}));
    fillEndAnd(false, true);
    EXPECT_EQ(begin(300, 10, 400, 20, false), std::vector<int>({99, 60, 1, 10}));
    fillEndAnd(true);
    const RasterBitmap& page = *m_device->getBitmap();
    EXPECT_EQ(m_device->getTarget(), &page);
    EXPECT_EQ(m_device->getGroupDepth(), 0);
    EXPECT_EQ(pixel(page, 20, 40), Rgb({255, 0, 0}));
}

TEST_F(GroupEdgeTest, ContentReachesOnlyThePixelsTheBoxCovers) {
    // A box from 10.5 to 30.8 across and rows 29.2 to 59.5 down: pixels 10
    // to 30 and rows 29 to 59, nothing past them, however far the content
    // reaches.
    EXPECT_EQ(begin(10.5, 20.5, 30.8, 50.8), std::vector<int>({10, 29, 21, 31}));
    fillEndAnd(true);
    const RasterBitmap& page = *m_device->getBitmap();
    EXPECT_EQ(pixel(page, 30, 40), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(page, 31, 40), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(page, 20, 59), Rgb({255, 0, 0}));
    EXPECT_EQ(pixel(page, 20, 60), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(page, 9, 40), Rgb({255, 255, 255}));
    EXPECT_EQ(pixel(page, 20, 28), Rgb({255, 255, 255}));
}

TEST_F(GroupEdgeTest, CallsOutOfOrderAreReportedAndIgnored) {
    ErrorCapture errors;
    const double box[4] = {0, 0, 10, 10};
    m_device->endTransparencyGroup(&m_state);
    m_device->paintTransparencyGroup(&m_state, box);
    m_device->setSoftMask(&m_state, box, false, nullptr, nullptr);
    EXPECT_EQ(errors.count(), 3u);
    // Painting a group that has not ended leaves it open.
    begin(0, 0, 10, 10);
    m_device->paintTransparencyGroup(&m_state, box);
    m_device->setSoftMask(&m_state, box, true, nullptr, nullptr);
    EXPECT_EQ(errors.count(), 5u);
    EXPECT_EQ(m_device->getGroupDepth(), 1);
    EXPECT_NE(m_device->getTarget(), m_device->getBitmap());
}

TEST_F(GroupEdgeTest, PageEndOrStartWithOpenGroupsUnwindsThem) {
    ErrorCapture errors;
    begin(0, 0, 50, 50);
    begin(10, 10, 20, 20, false);
    m_device->endPage();
    EXPECT_TRUE(errors.contains("2 transparency groups"));
    EXPECT_EQ(m_device->getGroupDepth(), 0);
    EXPECT_EQ(m_device->getTarget(), m_device->getBitmap());
    EXPECT_EQ(m_device->getRasteriser()->getBitmap(), m_device->getBitmap());

    // A group begun and ended but never painted, then the next page.
    errors.clear();
    begin(0, 0, 50, 50);
    m_device->endTransparencyGroup(&m_state);
    m_device->startPage(2, &m_state);
    EXPECT_EQ(errors.count(), 1u);
    EXPECT_EQ(m_device->getGroupDepth(), 0);
    EXPECT_EQ(m_device->getRasteriser()->getBitmap(), m_device->getBitmap());

    // Left open at the device's end: freed without a trace (the leak checker
    // of the sanitizer build watches).
    begin(0, 0, 50, 50);
    begin(0, 0, 20, 20);
    m_device.reset();
}

// --- Soft masks from the graphics state.

// A fill of the whole page in red under the soft mask /M, whose group
// (object 10) is the given content over the box.
const RasterBitmap& maskedFill(DevicePage& page, const std::string& maskEntries, const std::string& groupBox,
                               const std::string& groupEntries, const std::string& groupContent,
                               int mode = rasterRGB8) {
    return page.draw("q /M gs 1 0 0 rg 0 0 100 100 re f Q",
                     "<< /ExtGState << /M << /SMask << /G 10 0 R " + maskEntries + " >> >> >> >>",
                     {groupForm(10, groupBox, groupEntries, groupContent, kHalf),
                      {11, "<< /FunctionType 2 /Domain [0 1] /C0 [1] /C1 [0] /N 1 >>", "", true}},
                     mode);
}

const std::string kStripes =
    "0 g 0 0 20 100 re f 0.25 g 20 0 20 100 re f 0.5 g 40 0 20 100 re f 0.75 g 60 0 20 100 re f "
    "1 g 80 0 20 100 re f";

TEST(RasterDeviceSoftMaskTest, LuminosityMaskModulatesTheFill) {
    DevicePage page;
    const RasterBitmap& b = maskedFill(page, "/S /Luminosity", "0 0 100 100", "/CS /DeviceGray", kStripes);
    EXPECT_EQ(at(b, 10, 50), Rgb({255, 255, 255}));
    EXPECT_TRUE(near(at(b, 30, 50), {255, 191, 191}));
    EXPECT_TRUE(near(at(b, 50, 50), {255, 128, 128}));
    EXPECT_TRUE(near(at(b, 70, 50), {255, 64, 64}));
    EXPECT_EQ(at(b, 90, 50), Rgb({255, 0, 0}));

    // The luminosity of colours: 0.3 red, 0.59 green, 0.11 blue.
    const RasterBitmap& c = maskedFill(page, "/S /Luminosity", "0 0 100 100", "/CS /DeviceRGB",
                                       "0 1 0 rg 0 0 50 100 re f 0 0 1 rg 50 0 50 100 re f");
    EXPECT_TRUE(near(at(c, 25, 50), {255, 105, 105}));
    EXPECT_TRUE(near(at(c, 75, 50), {255, 227, 227}));

    // A grey device reads the grey itself.
    const RasterBitmap& g =
        maskedFill(page, "/S /Luminosity", "0 0 100 100", "/CS /DeviceGray", kStripes, rasterMono8);
    EXPECT_TRUE(near(at(g, 50, 50), {166}));
}

TEST(RasterDeviceSoftMaskTest, BackdropFillsTheMaskOutsideWhatTheGroupPaints) {
    DevicePage page;
    // A white backdrop: the group's box shows the fill wherever the group
    // paints nothing, and so does the page outside the box.
    const RasterBitmap& b =
        maskedFill(page, "/S /Luminosity /BC [1]", "20 20 80 80", "/CS /DeviceGray", "0 g 30 30 20 20 re f");
    EXPECT_EQ(at(b, 40, 40), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 60, 60), Rgb({255, 0, 0}));
    EXPECT_EQ(at(b, 10, 10), Rgb({255, 0, 0}));
    // The default black backdrop hides all but what the group paints light.
    const RasterBitmap& d =
        maskedFill(page, "/S /Luminosity", "20 20 80 80", "/CS /DeviceGray", "1 g 30 30 20 20 re f");
    EXPECT_EQ(at(d, 40, 40), Rgb({255, 0, 0}));
    EXPECT_EQ(at(d, 60, 60), Rgb({255, 255, 255}));
    EXPECT_EQ(at(d, 10, 10), Rgb({255, 255, 255}));
}

TEST(RasterDeviceSoftMaskTest, TransferFunctionMapsEveryLevel) {
    // 1 - x: black lets the fill through, white and the backdrop hide it.
    DevicePage page;
    const RasterBitmap& b = maskedFill(page, "/S /Luminosity /BC [1] /TR 11 0 R", "20 20 80 80",
                                       "/CS /DeviceGray", "0 g 30 30 20 20 re f 0.6 g 50 50 20 20 re f");
    EXPECT_EQ(at(b, 40, 40), Rgb({255, 0, 0}));
    EXPECT_TRUE(near(at(b, 60, 60), {255, 153, 153}));
    EXPECT_EQ(at(b, 75, 25), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 10, 10), Rgb({255, 255, 255}));
}

TEST(RasterDeviceSoftMaskTest, AlphaMaskPassesWhatTheGroupCovers) {
    DevicePage page;
    const std::string covers = "0 0 1 rg 10 10 30 80 re f q /Half gs 50 10 30 80 re f Q";
    const RasterBitmap& b = maskedFill(page, "/S /Alpha", "0 0 100 100", "/I true", covers);
    EXPECT_EQ(at(b, 25, 50), Rgb({255, 0, 0}));
    EXPECT_TRUE(near(at(b, 65, 50), {255, 128, 128}));
    EXPECT_EQ(at(b, 45, 50), Rgb({255, 255, 255}));
    EXPECT_EQ(at(b, 90, 50), Rgb({255, 255, 255}));
    // Through the transfer function: the uncovered parts pass instead.
    const RasterBitmap& t = maskedFill(page, "/S /Alpha /TR 11 0 R", "0 0 100 100", "/I true", covers);
    EXPECT_EQ(at(t, 25, 50), Rgb({255, 255, 255}));
    EXPECT_EQ(at(t, 45, 50), Rgb({255, 0, 0}));
    // The colour of what covers does not matter.
    const RasterBitmap& g = maskedFill(page, "/S /Alpha", "0 0 100 100", "/I true", "0 g 10 10 30 80 re f");
    EXPECT_EQ(at(g, 25, 50), Rgb({255, 0, 0}));
}

TEST(RasterDeviceSoftMaskTest, ImageSoftMaskStandsInForTheStateSoftMask) {
    // The format lets an image's own soft mask override the graphics
    // state's while the image is drawn: a red image whose mask is full on
    // the left and half on the right, under a luminosity mask of 0.5 grey,
    // shows by its own mask alone. The state's mask is back afterwards.
    DevicePage page;
    const RasterBitmap& b = page.draw(
        "q /M gs q 100 0 0 50 0 50 cm /Img Do Q 0 0 1 rg 0 0 100 50 re f Q",
        "<< /ExtGState << /M << /SMask << /S /Luminosity /G 10 0 R >> >> >> /XObject << /Img 11 0 R >> >>",
        {groupForm(10, "0 0 100 100", "/CS /DeviceGray", "0.5 g 0 0 100 100 re f"),
         {11,
          "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 "
          "/SMask 12 0 R /Filter /ASCIIHexDecode >>",
          "FF0000 FF0000>"},
         {12,
          "<< /Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
          "/Filter /ASCIIHexDecode >>",
          "FF 80>"}});
    EXPECT_EQ(at(b, 25, 75), Rgb({255, 0, 0}));
    EXPECT_TRUE(near(at(b, 75, 75), {255, 127, 127}));
    EXPECT_TRUE(near(at(b, 50, 25), {128, 128, 255}));
}

TEST(RasterDeviceSoftMaskTest, EveryColourModeDrawsGroupsAndMasks) {
    // The 1-bit mode reads the group's dithered pixels; the others must
    // agree on what is masked.
    for (int mode : {rasterMono1, rasterMono8, rasterRGB8, rasterBGR8}) {
        DevicePage page;
        const RasterBitmap& b =
            page.draw("q /M gs 0 g 0 0 100 100 re f Q q /A gs 0 g 0 0 100 100 re f Q /G Do",
                      "<< /ExtGState << /M << /SMask << /S /Luminosity /G 10 0 R >> >> "
                      "/A << /SMask << /S /Alpha /G 11 0 R >> >> >> /XObject << /G 11 0 R >> >>",
                      {groupForm(10, "0 0 100 100", "/CS /DeviceGray", "1 g 0 0 30 100 re f"),
                       groupForm(11, "70 0 100 100", "", "0 g 70 0 30 100 re f")},
                      mode);
        EXPECT_EQ(at(b, 15, 50)[0], 0) << mode;
        EXPECT_EQ(at(b, 50, 50)[0], 255) << mode;
        EXPECT_EQ(at(b, 85, 50)[0], 0) << mode;
    }
}

}  // namespace
}  // namespace rendova::test
