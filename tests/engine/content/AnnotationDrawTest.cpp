// Annotation appearances fitted into their rectangles, and link borders.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/content/BorderStyle.h"
#include "tests/engine/content/InterpreterTestSupport.h"

namespace rendova::test {
namespace {

using Lines = std::vector<std::string>;

BorderStyle border(int type, double width, std::vector<double> dash = {}) {
    BorderStyle style;
    style.type = type;
    style.width = width;
    if (!dash.empty()) {
        style.dash = std::make_unique<double[]>(dash.size());
        for (size_t i = 0; i < dash.size(); ++i)
            style.dash[i] = dash[i];
        style.dashCount = int(dash.size());
    }
    return style;
}

TEST(AnnotationDrawTest, AppearanceBoxIsStretchedOntoTheRectangle) {
    ContentRun page;
    PdfValue appearance =
        page.values.stream("0 0 10 20 re f", "<< /BBox [0 0 10 20] /Matrix [1 0 0 1 5 5] >>");
    page.interpreter().drawAnnotation(appearance, nullptr, 100, 200, 150, 240);
    // The box [0 0 10 20], moved by (5, 5) through its matrix, lands on
    // (100, 200)-(150, 240): x scaled 5, y scaled 2.
    EXPECT_EQ(page.device.only({"updateMatrix"}).front(), "updateMatrix 5 0 0 2 100 200");
    EXPECT_EQ(page.device.paths(), Lines({"clip M 0 0 L 10 0 L 10 20 L 0 20 L 0 0 Z",
                                          "fill M 0 0 L 10 0 L 10 20 L 0 20 L 0 0 Z"}));
    EXPECT_EQ(page.errors.count(), 0u);

    // A box with no width keeps its horizontal scale at 1; a Matrix that
    // is not six numbers counts as the identity.
    ContentRun flat;
    PdfValue line = flat.values.stream("0 0 m 0 20 l S", "<< /BBox [0 0 0 20] /Matrix [1 0 0 1 5] >>");
    flat.interpreter().drawAnnotation(line, nullptr, 100, 200, 150, 240);
    EXPECT_EQ(flat.device.only({"updateMatrix"}).front(), "updateMatrix 1 0 0 2 100 200");
}

TEST(AnnotationDrawTest, AppearanceWithoutBoxDrawsNothingAndIsReported) {
    ContentRun page;
    PdfValue appearance = page.values.stream("0 0 10 20 re f", "<< /Matrix [1 0 0 1 0 0] >>");
    BorderStyle solid = border(BorderStyle::kSolid, 1);
    page.interpreter().drawAnnotation(appearance, &solid, 0, 0, 10, 10);
    EXPECT_EQ(page.device.paths(), Lines());
    EXPECT_TRUE(page.errors.contains("BBox"));

    // A value that is not a stream has no appearance; its border is drawn.
    ContentRun bare;
    bare.interpreter().drawAnnotation(PdfValue(), &solid, 0, 0, 10, 10);
    EXPECT_EQ(bare.device.paths(), Lines({"stroke M 0 0 L 10 0 L 10 10 L 0 10 L 0 0 Z"}));
}

TEST(AnnotationDrawTest, BordersTakeTheirColourWidthAndDashInTheCurrentSpace) {
    ContentRun page;
    page.run("2 0 0 2 0 0 cm 0.5 g");
    page.device.calls.clear();
    BorderStyle dashed = border(BorderStyle::kDashed, 4, {6, 2});
    dashed.red = 1;
    dashed.blue = 0;
    page.interpreter().drawAnnotation(PdfValue(), &dashed, 100, 100, 200, 140);
    // Default user space is twice the current one: the rectangle, the
    // width and the dashes are halved.
    EXPECT_EQ(
        page.device.only(
            {"updateStrokeColorSpace", "updateStrokeColor", "updateLineWidth", "updateLineDash", "stroke"}),
        Lines({"updateStrokeColorSpace DeviceRGB", "updateStrokeColor DeviceRGB 1 0 0", "updateLineWidth 2",
               "updateLineDash [3 1] 0", "stroke M 50 50 L 100 50 L 100 70 L 50 70 L 50 50 Z"}));

    // The dash stays with the dashed border; an underline runs along the
    // rectangle's lower edge although the device's y axis points down.
    page.device.calls.clear();
    BorderStyle underline = border(BorderStyle::kUnderline, 2);
    page.interpreter().drawAnnotation(PdfValue(), &underline, 100, 100, 200, 140);
    EXPECT_EQ(page.state()->getLineDashLength(), 0);
    EXPECT_EQ(page.device.paths(), Lines({"stroke M 50 50 L 100 50"}));

    // No border at width 0.
    page.device.calls.clear();
    BorderStyle none = border(BorderStyle::kSolid, 0);
    page.interpreter().drawAnnotation(PdfValue(), &none, 100, 100, 200, 140);
    EXPECT_EQ(page.device.paths(), Lines());
}

TEST(AnnotationDrawTest, SingularMatrixIsReportedAndDrawsNothing) {
    ContentRun page;
    page.run("0 0 0 0 0 0 cm");
    BorderStyle solid = border(BorderStyle::kSolid, 1);
    page.interpreter().drawAnnotation(PdfValue(), &solid, 0, 0, 10, 10);
    EXPECT_EQ(page.device.paths(), Lines());
    EXPECT_TRUE(page.errors.contains("singular"));
}

}  // namespace
}  // namespace rendova::test
