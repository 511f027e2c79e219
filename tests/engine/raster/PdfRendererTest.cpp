#include "engine/raster/PdfRenderer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "engine/core/GlobalSettings.h"
#include "tests/support/PdfBuilder.h"

namespace rendova {
namespace {

namespace fs = std::filesystem;

// A one-page document of 72 x 144 points (and a second page of the given
// crop box), written under the tests' output folder.
std::string writeDocument(const std::string& name, const std::string& secondCropBox = "[0 0 72 144]") {
    test::PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 72 144] >>");
    pdf.object(3, "<< /Type /Page /Parent 2 0 R >>");
    pdf.object(4, "<< /Type /Page /Parent 2 0 R /CropBox " + secondCropBox + " >>");
    pdf.xrefTable();
    fs::create_directories("renderer");
    const std::string path = "renderer/" + name;
    std::ofstream(path, std::ios::binary) << pdf.bytes();
    return path;
}

int32_t headerWidth(const uint8_t* block) {
    return int32_t(block[18] | block[19] << 8 | block[20] << 16 | uint32_t(block[21]) << 24);
}

TEST(PdfRenderer, FacadesShareOneSettingsObjectWhileAnyLives) {
    ASSERT_EQ(PdfRenderer::liveCount(), 0);
    EXPECT_EQ(globalSettings, nullptr);
    auto first = std::make_unique<PdfRenderer>();
    GlobalSettings* shared = globalSettings;
    ASSERT_NE(shared, nullptr);
    auto second = std::make_unique<PdfRenderer>();
    EXPECT_EQ(globalSettings, shared);
    EXPECT_EQ(PdfRenderer::liveCount(), 2);
    first.reset();
    EXPECT_EQ(globalSettings, shared);
    second.reset();
    EXPECT_EQ(globalSettings, nullptr);
    EXPECT_EQ(PdfRenderer::liveCount(), 0);
}

TEST(PdfRenderer, ClosedFacadeLendsNothingAndRefusesOptions) {
    PdfRenderer renderer;
    int size = -1;
    EXPECT_EQ(renderer.getBitmap(size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(renderer.getPageCount(), 0);
    EXPECT_EQ(renderer.isOpen(), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 150), 0);
    EXPECT_EQ(renderer.renderPage(1), 0);
    EXPECT_EQ(renderer.closeDocument(), 1);
}

TEST(PdfRenderer, OpenResultsDistinguishPasswordsFromOtherFailures) {
    PdfRenderer renderer;
    EXPECT_EQ(renderer.openDocument("renderer/none.pdf", nullptr, nullptr), PdfRenderer::kOpenFailed);
    const std::string encrypted = std::string(RENDOVA_CORPUS_DIR) + "/made-qpdf-enc-rc4-40-tiger.pdf";
    EXPECT_EQ(renderer.openDocument(encrypted.c_str(), "x", "y"), PdfRenderer::kPasswordRefused);
    EXPECT_EQ(renderer.isOpen(), 0);
    EXPECT_EQ(renderer.openDocument(encrypted.c_str(), nullptr, "tiger40"), PdfRenderer::kOpened);
    EXPECT_EQ(renderer.getPageCount(), 1);
}

TEST(PdfRenderer, ZoomAndResolutionGiveThePageItsPixels) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(writeDocument("sizes.pdf").c_str(), nullptr, nullptr), 1);
    int size = 0;
    // Before any render: the device's 1 x 1 bitmap.
    ASSERT_NE(renderer.getBitmap(size), nullptr);
    EXPECT_EQ(size, 58);

    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 120, 120), 1);
    EXPECT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(renderer.bitmapWidth(), 120);
    EXPECT_EQ(renderer.bitmapHeight(), 240);
    // Zoom 150 at 120 dpi renders at 180 dpi.
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 150), 1);
    EXPECT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(renderer.bitmapWidth(), 180);
    const uint8_t* block = renderer.getBitmap(size);
    EXPECT_EQ(headerWidth(block), 180);
    EXPECT_EQ(size, 54 + (180 * 3) * 360);
    EXPECT_EQ(block[54], 0xFF);  // paper white

    // Refused values leave the earlier ones in force.
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 0), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 100, -1), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, 4), 0);
    EXPECT_EQ(renderer.setOption(9, 1), 0);
    EXPECT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(renderer.bitmapWidth(), 180);

    // Mode 1 renders at 72 dpi and keeps the recorded size.
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, 1), 1);
    EXPECT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(headerWidth(renderer.getBitmap(size)), 72);
    EXPECT_EQ(renderer.bitmapWidth(), 180);
    EXPECT_EQ(renderer.renderPage(3), 0);
}

TEST(PdfRenderer, PageOfZeroWidthIsRefusedAndTheBitmapStays) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(writeDocument("flat.pdf", "[10 0 10 144]").c_str(), nullptr, nullptr), 1);
    renderer.setOption(PdfRenderer::kOptionResolution, 72, 72);
    EXPECT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(renderer.renderPage(2), 0);
    int size = 0;
    EXPECT_EQ(headerWidth(renderer.getBitmap(size)), 72);
    EXPECT_EQ(renderer.bitmapWidth(), 72);
}

}  // namespace
}  // namespace rendova
