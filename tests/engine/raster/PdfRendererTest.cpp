// The renderer facade: opening with its result codes, options and the
// resolution a page is rendered at, refused pages, the lent bitmap, and the
// one settings object that all live facades share.
#include "engine/raster/PdfRenderer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/core/GlobalSettings.h"
#include "engine/raster/RasterBitmap.h"
#include "tests/engine/core/DocumentTestHelpers.h"
#include "tests/support/PdfBuilder.h"
#include "tests/support/ScopedEnvironment.h"

namespace rendova::test {
namespace {

// Pages with the given media boxes (and crop boxes when not empty), each
// filled black.
std::string boxesPdf(const std::vector<std::pair<std::string, std::string>>& boxes) {
    PdfBuilder pdf;
    std::string kids;
    for (size_t i = 0; i < boxes.size(); ++i)
        kids += std::to_string(3 + i) + " 0 R ";
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>")
        .object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(boxes.size()) + " >>");
    const int contents = static_cast<int>(3 + boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) {
        std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [" + boxes[i].first + "]";
        if (!boxes[i].second.empty())
            page += " /CropBox [" + boxes[i].second + "]";
        page += " /Contents " + std::to_string(contents) + " 0 R >>";
        pdf.object(static_cast<int>(3 + i), page);
    }
    pdf.stream(contents, "<< >>", "0 0 10000 10000 re f");
    pdf.xrefTable();
    return pdf.bytes();
}

class PdfRendererTest : public ::testing::Test {
protected:
    // No configuration file in the home directory: the defaults stand.
    PdfRendererTest()
        : m_home("HOME", (std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "renderer-home").string()) {
        std::filesystem::create_directories(std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "renderer-home");
    }

    // A file of its own holding a document of the given pages.
    std::string file(const std::vector<std::pair<std::string, std::string>>& boxes) {
        return writeTestFile(boxesPdf(boxes), "-" + std::to_string(++m_files));
    }

    // The rendered bitmap's width and height, read from its BMP header.
    static std::pair<int, int> bitmapSize(const PdfRenderer& renderer) {
        int size = 0;
        const uint8_t* block = renderer.getBitmap(size);
        if (!block)
            return {0, 0};
        auto le32 = [&](int at) {
            return static_cast<int>(block[at] | block[at + 1] << 8 | block[at + 2] << 16 |
                                    block[at + 3] << 24);
        };
        return {le32(18), le32(22)};
    }

    ScopedEnvironment m_home;
    int m_files = 0;
};

TEST_F(PdfRendererTest, ZoomAndResolutionDecideTheRenderedResolution) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(file({{"0 0 72 36", ""}}).c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(72, 36));

    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 120, 120), 1);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(120, 60));

    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 150), 1);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(180, 90));
    EXPECT_EQ(renderer.bitmapWidth(), 180);
    EXPECT_EQ(renderer.bitmapHeight(), 90);

    // Each axis has its own resolution.
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 48, 96), 1);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(72, 72));
}

TEST_F(PdfRendererTest, RefusedOptionsKeepTheEarlierValues) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(file({{"0 0 72 72", ""}}).c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 144, 144), 1);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 0, 0), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, -50, 0), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 0, 300), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 300, -1), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, 4, 0), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, 0, 0), 0);
    EXPECT_EQ(renderer.setOption(99, 1, 1), 0);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(144, 144));
}

TEST_F(PdfRendererTest, RenderModesOneAndThreeRenderAt72Dpi) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(file({{"0 0 72 72", ""}}).c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionResolution, 144, 144), 1);
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 200, 0), 1);
    for (int mode : {1, 3}) {
        ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, mode, 0), 1);
        ASSERT_EQ(renderer.renderPage(1), 1);
        EXPECT_EQ(bitmapSize(renderer), std::make_pair(72, 72)) << mode;
        // The recorded size is that of mode 2 renders only.
        EXPECT_EQ(renderer.bitmapWidth(), 0) << mode;
    }
    ASSERT_EQ(renderer.setOption(PdfRenderer::kOptionRenderMode, 2, 0), 1);
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(288, 288));
}

TEST_F(PdfRendererTest, BitmapIsABmpBlockReusedForPagesOfEqualSize) {
    PdfRenderer renderer;
    ASSERT_EQ(
        renderer.openDocument(file({{"0 0 30 20", ""}, {"100 100 130 120", ""}, {"0 0 40 20", ""}}).c_str(),
                              nullptr, nullptr),
        1);
    ASSERT_EQ(renderer.getPageCount(), 3);
    ASSERT_EQ(renderer.renderPage(1), 1);
    int size = 0;
    const uint8_t* first = renderer.getBitmap(size);
    ASSERT_NE(first, nullptr);
    // 30 pixels of 3 bytes, rows padded to 92 bytes, 20 rows, the header.
    EXPECT_EQ(size, 92 * 20 + 54);
    EXPECT_EQ(first[0], 'B');
    EXPECT_EQ(first[1], 'M');
    // The page is black: the first pixel of the pixel rows.
    EXPECT_EQ(first[54], 0);

    ASSERT_EQ(renderer.renderPage(2), 1);
    EXPECT_EQ(renderer.getBitmap(size), first);
    ASSERT_EQ(renderer.renderPage(3), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(40, 20));
}

TEST_F(PdfRendererTest, RefusedPagesLeaveTheBitmapAsItWas) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(file({{"0 0 30 20", ""}, {"0 0 50 50", "10 10 10 50"}}).c_str(), nullptr,
                                    nullptr),
              1);
    // Before any page: the device's initial 1 x 1 bitmap.
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(1, 1));
    ASSERT_EQ(renderer.renderPage(1), 1);
    EXPECT_EQ(renderer.renderPage(3), 0);
    // A crop box of no width: nothing drawn.
    EXPECT_EQ(renderer.renderPage(2), 0);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(30, 20));
}

TEST_F(PdfRendererTest, OpenResultCodes) {
    PdfRenderer renderer;
    EXPECT_EQ(renderer.openDocument((std::filesystem::path(RENDOVA_TEST_OUTPUT_DIR) / "no-such.pdf").c_str(),
                                    nullptr, nullptr),
              -1);
    EXPECT_EQ(renderer.isOpen(), 0);
    EXPECT_EQ(renderer.openDocument(writeTestFile("not a PDF at all").c_str(), nullptr, nullptr), -1);

    const std::string encrypted = std::string(RENDOVA_CORPUS_DIR) + "/made-qpdf-enc-rc4-40-tiger.pdf";
    if (!std::filesystem::exists(encrypted))
        GTEST_SKIP() << "corpus not present";
    EXPECT_EQ(renderer.openDocument(encrypted.c_str(), nullptr, nullptr), PdfRenderer::kPasswordRefused);
    EXPECT_EQ(renderer.openDocument(encrypted.c_str(), "wrong", "wrong"), PdfRenderer::kPasswordRefused);
    EXPECT_EQ(renderer.isOpen(), 0);
    EXPECT_EQ(renderer.openDocument(encrypted.c_str(), nullptr, "tiger40"), 1);
    EXPECT_EQ(renderer.isOpen(), 1);
    EXPECT_EQ(renderer.getPageCount(), 1);
}

TEST_F(PdfRendererTest, ClosedFacadeLendsNothingAndCountsNoPages) {
    PdfRenderer renderer;
    int size = 123;
    EXPECT_EQ(renderer.getBitmap(size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(renderer.getPageCount(), 0);
    EXPECT_EQ(renderer.renderPage(1), 0);
    EXPECT_EQ(renderer.setOption(PdfRenderer::kOptionZoom, 100, 0), 0);
    EXPECT_EQ(renderer.closeDocument(), 1);

    ASSERT_EQ(renderer.openDocument(file({{"0 0 10 10", ""}}).c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(renderer.closeDocument(), 1);
    EXPECT_EQ(renderer.getBitmap(size), nullptr);
    EXPECT_EQ(renderer.getPageCount(), 0);
    EXPECT_EQ(renderer.isOpen(), 0);
    // A closed facade opens again.
    EXPECT_EQ(renderer.openDocument(file({{"0 0 10 10", ""}}).c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(renderer.getPageCount(), 1);
}

TEST_F(PdfRendererTest, FacadesShareOneSettingsObjectDeletedWithTheLast) {
    ASSERT_EQ(globalSettings, nullptr);
    ASSERT_EQ(PdfRenderer::liveCount(), 0);
    auto first = std::make_unique<PdfRenderer>();
    GlobalSettings* settings = globalSettings;
    ASSERT_NE(settings, nullptr);
    auto second = std::make_unique<PdfRenderer>();
    EXPECT_EQ(globalSettings, settings);
    EXPECT_EQ(PdfRenderer::liveCount(), 2);
    first.reset();
    EXPECT_EQ(globalSettings, settings);
    EXPECT_EQ(PdfRenderer::liveCount(), 1);
    second.reset();
    EXPECT_EQ(globalSettings, nullptr);
    EXPECT_EQ(PdfRenderer::liveCount(), 0);
    // A facade made afterwards builds the settings again.
    PdfRenderer third;
    EXPECT_NE(globalSettings, nullptr);
}

TEST_F(PdfRendererTest, OpeningAgainReleasesTheEarlierDocument) {
    PdfRenderer renderer;
    ASSERT_EQ(renderer.openDocument(file({{"0 0 10 10", ""}}).c_str(), nullptr, nullptr), 1);
    ASSERT_EQ(renderer.openDocument(file({{"0 0 10 10", ""}, {"0 0 20 20", ""}}).c_str(), nullptr, nullptr),
              1);
    EXPECT_EQ(renderer.getPageCount(), 2);
    ASSERT_EQ(renderer.renderPage(2), 1);
    EXPECT_EQ(bitmapSize(renderer), std::make_pair(20, 20));
}

}  // namespace
}  // namespace rendova::test
