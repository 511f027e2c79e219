#include "engine/core/Page.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/core/Tokenizer.h"
#include "engine/core/ValueParser.h"
#include "tests/engine/core/StreamTestHelpers.h"
#include "tests/support/ErrorCapture.h"

namespace rendova {
namespace {

using test::ErrorCapture;

PdfValue parse(const std::string& text) {
    RefPtr<DataStream> stream = test::memoryStream(text);
    ValueParser parser(nullptr, std::make_unique<Tokenizer>(nullptr, stream.get()), false);
    PdfValue value;
    parser.getValue(value);
    return value;
}

void expectBox(const PageBox& box, double x1, double y1, double x2, double y2) {
    EXPECT_DOUBLE_EQ(box.x1, x1);
    EXPECT_DOUBLE_EQ(box.y1, y1);
    EXPECT_DOUBLE_EQ(box.x2, x2);
    EXPECT_DOUBLE_EQ(box.y2, y2);
}

// ---- attributes -----------------------------------------------------------

TEST(PageAttributes, PageWithoutBoxesIsUsLetter) {
    PageAttributes root(nullptr, parse("<< /Type /Pages >>"));
    PageAttributes page(&root, parse("<< /Type /Page >>"));
    expectBox(page.getMediaBox(), 0, 0, 612, 792);
    expectBox(page.getCropBox(), 0, 0, 612, 792);
    expectBox(page.getArtBox(), 0, 0, 612, 792);
    EXPECT_FALSE(page.isCropped());
    EXPECT_EQ(page.getRotate(), 0);
    EXPECT_EQ(page.getResourceDict(), nullptr);
}

TEST(PageAttributes, BoxesAreInheritedExceptBleedTrimAndArt) {
    PageAttributes root(nullptr,
                        parse("<< /MediaBox [0 0 500 700] /CropBox [10 10 490 690] /TrimBox [20 20 480 680] "
                              "/Rotate 90 /Resources << /Font << >> >> >>"));
    PageAttributes page(&root, parse("<< /Type /Page >>"));
    expectBox(page.getMediaBox(), 0, 0, 500, 700);
    expectBox(page.getCropBox(), 10, 10, 490, 690);
    EXPECT_TRUE(page.isCropped());
    // The node's trim box is not inherited: the page takes its crop box.
    expectBox(page.getTrimBox(), 10, 10, 490, 690);
    expectBox(page.getBleedBox(), 10, 10, 490, 690);
    EXPECT_EQ(page.getRotate(), 90);
    ASSERT_NE(page.getResourceDict(), nullptr);
    EXPECT_EQ(page.getResourceDict(), root.getResourceDict());

    PageAttributes own(&root, parse("<< /MediaBox [0 0 300 300] /Resources << >> /Rotate 0 >>"));
    expectBox(own.getMediaBox(), 0, 0, 300, 300);
    // The inherited crop box is clipped to the page's own media box.
    expectBox(own.getCropBox(), 10, 10, 300, 300);
    EXPECT_EQ(own.getRotate(), 0);
    EXPECT_NE(own.getResourceDict(), root.getResourceDict());
}

TEST(PageAttributes, BoxesAreNormalisedAndClippedToTheMediaBox) {
    PageAttributes page(nullptr,
                        parse("<< /MediaBox [612 792 0 0] /CropBox [-10 800 700 -5] /ArtBox [100 100 50 "
                              "50.5] /BleedBox [-1 -1 1000 1000] >>"));
    expectBox(page.getMediaBox(), 0, 0, 612, 792);
    expectBox(page.getCropBox(), 0, 0, 612, 792);
    expectBox(page.getArtBox(), 50, 50.5, 100, 100);
    expectBox(page.getBleedBox(), 0, 0, 612, 792);
}

TEST(PageAttributes, MalformedBoxesAreIgnored) {
    PageAttributes root(nullptr, parse("<< /MediaBox [0 0 400 400] >>"));
    for (const char* box : {"[0 0 100]", "[0 0 100 100 5]", "[0 0 (a) 100]", "/Letter", "[0 0 100 null]"}) {
        SCOPED_TRACE(box);
        PageAttributes page(&root, parse(std::string("<< /MediaBox ") + box + " /CropBox " + box + " >>"));
        expectBox(page.getMediaBox(), 0, 0, 400, 400);
        expectBox(page.getCropBox(), 0, 0, 400, 400);
        EXPECT_FALSE(page.isCropped());
    }
}

TEST(PageAttributes, RotationIsBroughtIntoRange) {
    const std::pair<const char*, int> cases[] = {{"-90", 270},         {"450", 90},         {"720", 0},
                                                 {"-2147483648", 232}, {"2147483647", 127}, {"90.0", 0},
                                                 {"/R90", 0}};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        PageAttributes page(nullptr, parse(std::string("<< /Rotate ") + text + " >>"));
        EXPECT_EQ(page.getRotate(), expected);
    }
}

TEST(Page, AnnotsAndContentsMustBeArraysReferencesOrNull) {
    ErrorCapture errors;
    auto attrs = [] { return std::make_unique<PageAttributes>(nullptr, parse("<< >>")); };
    EXPECT_TRUE(Page(nullptr, 1, parse("<< /Annots [] /Contents 4 0 R >>"), attrs()).isOk());
    EXPECT_TRUE(Page(nullptr, 1, parse("<< /Annots 5 0 R /Contents [4 0 R] >>"), attrs()).isOk());
    EXPECT_TRUE(errors.empty());

    Page badAnnots(nullptr, 3, parse("<< /Annots 17 /Contents 4 0 R >>"), attrs());
    EXPECT_FALSE(badAnnots.isOk());
    EXPECT_TRUE(badAnnots.getAnnots().isNull());
    EXPECT_TRUE(badAnnots.getContents().isNull());
    EXPECT_TRUE(errors.contains("Page 3"));

    Page badContents(nullptr, 4, parse("<< /Annots [] /Contents (text) >>"), attrs());
    EXPECT_FALSE(badContents.isOk());
    EXPECT_TRUE(badContents.getAnnots().isArray());
    EXPECT_TRUE(badContents.getContents().isNull());
}

// ---- the drawing box ------------------------------------------------------

class DrawingBox : public ::testing::Test {
protected:
    DrawingBox()
        : m_page(nullptr, 1, parse("<< >>"),
                 std::make_unique<PageAttributes>(
                     nullptr, parse("<< /MediaBox [0 0 600 800] /CropBox [100 200 500 700] >>"))) {}

    PageBox box(int rotate, bool useMediaBox, bool yDown, int x, int y, int w, int h, bool* crop = nullptr) {
        PageBox result;
        bool flag = true;
        m_page.computeDrawingBox(144, 72, rotate, useMediaBox, yDown, x, y, w, h, &result,
                                 crop ? crop : &flag);
        return result;
    }

    Page m_page;
};

TEST_F(DrawingBox, WholePageIsTheCropBoxAndClearsTheCropFlag) {
    bool crop = true;
    expectBox(box(0, false, true, 0, 0, -1, -1, &crop), 100, 200, 500, 700);
    EXPECT_FALSE(crop);
    crop = true;
    expectBox(box(90, true, true, 5, 5, 10, -1, &crop), 0, 0, 600, 800);
    EXPECT_TRUE(crop);
}

TEST_F(DrawingBox, SliceOfAnUnrotatedPageStartsAtTheTopLeftOfAYDownDevice) {
    // 144 dpi across: 100 pixels are 50 points; 72 dpi down: 100 pixels are
    // 100 points.
    bool crop = true;
    expectBox(box(0, false, true, 0, 0, 100, 100, &crop), 100, 600, 150, 700);
    EXPECT_TRUE(crop);
    expectBox(box(0, false, true, 20, 10, 100, 100), 110, 590, 160, 690);
    // A y-up device counts from the bottom.
    expectBox(box(0, false, false, 20, 10, 100, 100), 110, 210, 160, 310);
}

TEST_F(DrawingBox, EachRotationFollowsTheTable) {
    // kx = 0.5, ky = 1: sx1 = 10, sx2 = 60, sy1 = 10, sy2 = 110 for the slice
    // at (20, 10) of 100 x 100.
    expectBox(box(90, false, true, 20, 10, 100, 100), 110, 210, 210, 260);
    expectBox(box(90, false, false, 20, 10, 100, 100), 390, 210, 490, 260);
    expectBox(box(180, false, true, 20, 10, 100, 100), 440, 210, 490, 310);
    expectBox(box(180, false, false, 20, 10, 100, 100), 440, 590, 490, 690);
    expectBox(box(270, false, true, 20, 10, 100, 100), 390, 640, 490, 690);
    expectBox(box(270, false, false, 20, 10, 100, 100), 110, 640, 210, 690);
    // The media box as base.
    expectBox(box(180, true, true, 20, 10, 100, 100), 540, 10, 590, 110);
}

TEST_F(DrawingBox, OtherRotationsCountAsNone) {
    PageBox none = box(0, false, true, 20, 10, 100, 100);
    PageBox odd = box(45, false, true, 20, 10, 100, 100);
    expectBox(odd, none.x1, none.y1, none.x2, none.y2);
}

TEST_F(DrawingBox, SliceNeedsBothWidthAndHeight) {
    expectBox(box(0, false, true, 0, 0, 100, -1), 100, 200, 500, 700);
    expectBox(box(0, false, true, 0, 0, -1, 100), 100, 200, 500, 700);
    // A slice of zero size is a slice.
    expectBox(box(0, false, true, 0, 0, 0, 0), 100, 700, 100, 700);
}

}  // namespace
}  // namespace rendova
