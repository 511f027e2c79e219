// The built shared library as a program meets it: loaded by its Windows name
// through the platform layer, its functions bound by ordinal.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "image/RasterImage.h"
#include "library/rendova.h"
#include "platform/DynamicLibrary.h"
#include "tests/library/LibraryTestSupport.h"

namespace {

using namespace rendova::test;

using OpenDocument = int (*)(const char*, const char*, const char*);
using CloseDocument = int (*)(int);
using ConvertAllPages = int (*)(int);
using ConvertPage = int (*)(int, int, const char*);
using SetOption = int (*)(int, int, const char*, intptr_t, intptr_t);
using GetPageCount = int (*)(int);
using Reserved = int (*)();

std::vector<int> g_cancelValues;

int recordProgress(intptr_t userValue, int percent) {
    // The user value is a pointer: it must come back whole on 64-bit systems.
    reinterpret_cast<std::vector<int>*>(userValue)->push_back(percent);
    return 0;
}
int pollCancel() {
    return 2;
}
int recordCancel(int value) {
    g_cancelValues.push_back(value);
    return 0;
}

class LibraryExportsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_library = platform::loadLibrary("Rendova.dll");
        ASSERT_NE(s_library, nullptr) << "libRendova.so beside the test program";
        s_open = bind<OpenDocument>(RENDOVA_ORDINAL_OPEN_DOCUMENT);
        s_close = bind<CloseDocument>(RENDOVA_ORDINAL_CLOSE_DOCUMENT);
        s_convertAll = bind<ConvertAllPages>(RENDOVA_ORDINAL_CONVERT_ALL_PAGES);
        s_convert = bind<ConvertPage>(RENDOVA_ORDINAL_CONVERT_PAGE);
        s_setOption = bind<SetOption>(RENDOVA_ORDINAL_SET_OPTION);
        s_pageCount = bind<GetPageCount>(RENDOVA_ORDINAL_GET_PAGE_COUNT);
    }
    static void TearDownTestSuite() {
        platform::freeLibrary(s_library);
        s_library = nullptr;
    }
    template <class F>
    static F bind(int ordinal) {
        return reinterpret_cast<F>(platform::procByOrdinal(s_library, ordinal));
    }

    void SetUp() override {
        ASSERT_NE(s_library, nullptr);
        for (void* f : {reinterpret_cast<void*>(s_open), reinterpret_cast<void*>(s_close),
                        reinterpret_cast<void*>(s_convert), reinterpret_cast<void*>(s_setOption),
                        reinterpret_cast<void*>(s_pageCount)})
            ASSERT_NE(f, nullptr);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = freshFolder(std::string("exports-") + info->name());
        g_cancelValues.clear();
    }

    // A document of `pages` pages at m_folder + name, opened; its pages go
    // to out/ as BMP.
    int openDocument(const std::string& name, int pages) {
        const std::string pdf = writePdf(m_folder + name, pages);
        const int handle = s_open(pdf.c_str(), nullptr, nullptr);
        EXPECT_GE(handle, 1);
        EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, (m_folder + "out").c_str(), 0, 0), 1);
        EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_IMAGE_TYPE, nullptr, RENDOVA_IMAGE_BMP, 0), 1);
        return handle;
    }

    static platform::LibraryHandle s_library;
    static OpenDocument s_open;
    static CloseDocument s_close;
    static ConvertAllPages s_convertAll;
    static ConvertPage s_convert;
    static SetOption s_setOption;
    static GetPageCount s_pageCount;
    std::string m_folder;
};

platform::LibraryHandle LibraryExportsTest::s_library = nullptr;
OpenDocument LibraryExportsTest::s_open = nullptr;
CloseDocument LibraryExportsTest::s_close = nullptr;
ConvertAllPages LibraryExportsTest::s_convertAll = nullptr;
ConvertPage LibraryExportsTest::s_convert = nullptr;
SetOption LibraryExportsTest::s_setOption = nullptr;
GetPageCount LibraryExportsTest::s_pageCount = nullptr;

TEST_F(LibraryExportsTest, ReservedOrdinalsReturnOneToSix) {
    const int ordinals[] = {2, 4, 6, 8, 10, 12};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bind<Reserved>(ordinals[i])(), i + 1) << ordinals[i];
    EXPECT_EQ(bind<Reserved>(8)(), 4);
}

TEST_F(LibraryExportsTest, OpenReportsMissingUnreadableAndEncryptedInput) {
    EXPECT_EQ(s_open(nullptr, nullptr, nullptr), RENDOVA_INPUT_MISSING);
    EXPECT_EQ(s_open((m_folder + "missing.pdf").c_str(), nullptr, nullptr), RENDOVA_INPUT_MISSING);
    EXPECT_EQ(s_open(m_folder.c_str(), nullptr, nullptr), RENDOVA_INPUT_MISSING);
    std::ofstream(m_folder + "text.pdf") << "no document here\n";
    EXPECT_EQ(s_open((m_folder + "text.pdf").c_str(), nullptr, nullptr), RENDOVA_OPEN_FAILED);
    const std::string encrypted = corpusFile("made-qpdf-enc-aes-128-cmyk.pdf");
    EXPECT_EQ(s_open(encrypted.c_str(), "not it", "nor this"), RENDOVA_PASSWORD_NEEDED);
    EXPECT_EQ(s_open(encrypted.c_str(), nullptr, nullptr), RENDOVA_PASSWORD_NEEDED);
    // The wizard's retry: the password in the second slot.
    const int handle = s_open(encrypted.c_str(), nullptr, "aesuser");
    ASSERT_GE(handle, 1);
    EXPECT_EQ(s_pageCount(handle), 1);
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, HandlesThatNameNoLiveJobAreRefused) {
    EXPECT_EQ(s_close(0), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_convertAll(0), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_convert(0, 1, "x"), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_setOption(0, RENDOVA_OPTION_ZOOM, nullptr, 50, 0), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_pageCount(0), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_pageCount(-7), RENDOVA_NULL_HANDLE);

    const int first = openDocument("a.pdf", 2);
    EXPECT_EQ(s_pageCount(first), 2);
    EXPECT_EQ(s_close(first), 1);
    // Closed: the handle is dead, and it is never given out again.
    EXPECT_EQ(s_close(first), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_pageCount(first), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_convert(first, 1, nullptr), RENDOVA_NULL_HANDLE);
    const int second = openDocument("b.pdf", 1);
    EXPECT_GT(second, first);
    EXPECT_EQ(s_pageCount(second + 1000), RENDOVA_NULL_HANDLE);
    EXPECT_EQ(s_close(second), 1);
}

TEST_F(LibraryExportsTest, UnknownOptionIsRefusedAndClampsShowInThePageSize) {
    const int handle = openDocument("c.pdf", 1);  // 72 x 144 points
    EXPECT_EQ(s_setOption(handle, 16, "text", 1, 2), RENDOVA_UNKNOWN_OPTION);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_PROGRESS, nullptr, 0, 5), 1);
    // Zoom 5 becomes 10, 1200 dpi becomes 500: 0.1 x 500 = 50 dpi.
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_ZOOM, nullptr, 5, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_X_DPI, nullptr, 1200, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_Y_DPI, nullptr, 1200, 0), 1);
    EXPECT_EQ(s_convert(handle, 1, "small"), 1);
    // Zoom 300 becomes 200, 50 dpi becomes 72: 144 dpi.
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_ZOOM, nullptr, 300, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_X_DPI, nullptr, 50, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_Y_DPI, nullptr, 50, 0), 1);
    EXPECT_EQ(s_convert(handle, 1, "large"), 1);
    // Identifier 16 changed nothing: the type is still BMP.
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"large.bmp", "small.bmp"}));
    EXPECT_EQ(bmpFacts(m_folder + "out/small.bmp").width, 50);
    EXPECT_EQ(bmpFacts(m_folder + "out/small.bmp").height, 100);
    EXPECT_EQ(bmpFacts(m_folder + "out/large.bmp").width, 144);
    EXPECT_EQ(bmpFacts(m_folder + "out/large.bmp").height, 288);
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, PagesOutsideTheDocumentGiveMinusFiveAndCreateNothing) {
    const int handle = openDocument("d.pdf", 3);
    EXPECT_EQ(s_convert(handle, 0, "zero"), RENDOVA_PAGE_OUT_OF_RANGE);
    EXPECT_EQ(s_convert(handle, 4, "four"), RENDOVA_PAGE_OUT_OF_RANGE);
    EXPECT_FALSE(fs::exists(m_folder + "out"));
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, PollFunctionCancelsAfterTheFirstPage) {
    const int handle = openDocument("e.pdf", 3);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_POLL, nullptr, reinterpret_cast<intptr_t>(&pollCancel), 0),
              1);
    EXPECT_EQ(
        s_setOption(handle, RENDOVA_OPTION_CANCEL, nullptr, reinterpret_cast<intptr_t>(&recordCancel), 0), 1);
    EXPECT_EQ(s_convertAll(handle), RENDOVA_CANCELLED);
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"e00001.bmp"}));
    EXPECT_EQ(g_cancelValues, (std::vector<int>{0}));
    EXPECT_EQ(s_convert(handle, 2, "second"), RENDOVA_CANCELLED);
    EXPECT_TRUE(fs::exists(m_folder + "out/second.bmp"));
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, ProgressCountsThePagesOfAllPagesConversion) {
    const int handle = openDocument("f.pdf", 3);
    std::vector<int> percents;
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_PROGRESS, nullptr,
                          reinterpret_cast<intptr_t>(&recordProgress), reinterpret_cast<intptr_t>(&percents)),
              1);
    EXPECT_EQ(s_convertAll(handle), 1);
    EXPECT_EQ(percents, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, CorpusDocumentPagesAreNamedByNumberOrByTheGivenName) {
    // A relative output folder, made level by level under the current one.
    ASSERT_EQ(chdir(m_folder.c_str()), 0);
    const std::string source = corpusFile("made-gs-shadings-1to7.pdf");
    fs::copy_file(source, m_folder + "report.pdf");
    const int handle = s_open("report.pdf", nullptr, nullptr);
    ASSERT_GE(handle, 1);
    ASSERT_EQ(s_pageCount(handle), 2);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, "pages/png/out", 0, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_IMAGE_TYPE, nullptr, RENDOVA_IMAGE_PNG, 0), 1);
    EXPECT_EQ(s_convertAll(handle), 1);
    EXPECT_EQ(s_convert(handle, 2, "report0002"), 1);
    EXPECT_EQ(s_close(handle), 1);
    EXPECT_EQ(filesIn(m_folder + "pages/png/out"),
              (std::vector<std::string>{"report00001.png", "report00002.png", "report0002.png"}));
    rendova::RasterImage page;
    EXPECT_TRUE(page.Load((m_folder + "pages/png/out/report0002.png").c_str(), rendova::kFormatPng));
    EXPECT_GT(page.GetWidth(), 100);
    ASSERT_EQ(chdir(RENDOVA_TEST_OUTPUT_DIR), 0);
}

// Palette output read back from every palette type: a grey palette holds
// every level its depth claims, and white paper stays white in every depth.
TEST_F(LibraryExportsTest, PaletteFilesKeepEveryGreyAndWhitePaper) {
    // 256 grey patches and three colours under a white margin.
    std::string content;
    for (int i = 0; i < 256; ++i)
        content += std::to_string(i / 255.0) + " g " + std::to_string(i) + " 0 1 40 re f\n";
    content += "1 0 0 rg 0 40 20 20 re f 0 1 0 rg 20 40 20 20 re f 0 0 1 rg 40 40 20 20 re f\n";
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    pdf.object(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 256 100] /Contents 4 0 R >>");
    pdf.stream(4, "<< >>", content);
    pdf.xrefTable();
    std::ofstream(m_folder + "greys.pdf", std::ios::binary) << pdf.bytes();

    struct Type {
        int type;
        const char* extension;
        uint32_t format;
    };
    const Type types[] = {{RENDOVA_IMAGE_BMP, "bmp", rendova::kFormatBmp},
                          {RENDOVA_IMAGE_PNG, "png", rendova::kFormatPng},
                          {RENDOVA_IMAGE_TIFF, "tif", rendova::kFormatTiff}};
    struct Depth {
        int bits;
        int grey;
    };
    const Depth depths[] = {{8, 1}, {4, 1}, {8, 0}, {4, 0}, {1, 0}};
    const int handle = s_open((m_folder + "greys.pdf").c_str(), nullptr, nullptr);
    ASSERT_GE(handle, 1);
    s_setOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, (m_folder + "out").c_str(), 0, 0);
    s_setOption(handle, RENDOVA_OPTION_X_DPI, nullptr, 72, 0);
    s_setOption(handle, RENDOVA_OPTION_Y_DPI, nullptr, 72, 0);
    for (const Type& type : types) {
        for (const Depth& depth : depths) {
            const std::string name =
                std::string(type.extension) + std::to_string(depth.bits) + (depth.grey ? "grey" : "colour");
            s_setOption(handle, RENDOVA_OPTION_IMAGE_TYPE, nullptr, type.type, 0);
            s_setOption(handle, RENDOVA_OPTION_BITS_PER_PIXEL, nullptr, depth.bits, 0);
            s_setOption(handle, RENDOVA_OPTION_GREYSCALE, nullptr, depth.grey, 0);
            ASSERT_EQ(s_convert(handle, 1, name.c_str()), 1) << name;
            rendova::RasterImage image;
            ASSERT_TRUE(image.Load((m_folder + "out/" + name + "." + type.extension).c_str(), type.format))
                << name;
            EXPECT_EQ(image.GetBpp(), depth.bits) << name;
            const rendova::RgbQuad paper = image.ReadColor(0, image.GetHeight() - 1, false);
            EXPECT_EQ(paper, (rendova::RgbQuad{255, 255, 255, 0})) << name << ": the margin is white";
            if (depth.grey && depth.bits > 1) {
                const int levels = 1 << depth.bits;
                ASSERT_GE(int(image.GetColourCount()), levels) << name;
                for (int i = 0; i < levels; ++i) {
                    const auto level = uint8_t(i * 255 / (levels - 1));
                    EXPECT_EQ(image.GetPalette()[i], (rendova::RgbQuad{level, level, level, 0}))
                        << name << " entry " << i;
                }
            }
        }
    }
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, MultiPageTiffJobWritesOnePagePerCallIntoOneFile) {
    const int handle = openDocument("g.pdf", 3);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_IMAGE_TYPE, nullptr, RENDOVA_IMAGE_TIFF, 0), 1);
    EXPECT_EQ(s_setOption(handle, RENDOVA_OPTION_MULTI_PAGE_TIFF, nullptr, 1, 0), 1);
    for (int page = 1; page <= 3; ++page)
        EXPECT_EQ(s_convert(handle, page, page == 2 ? nullptr : "unused"), 1);
    EXPECT_EQ(s_close(handle), 1);
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"g.tif"}));
    rendova::RasterImage image;
    ASSERT_TRUE(image.Load((m_folder + "out/g.tif").c_str(), rendova::kFormatTiff));
    EXPECT_EQ(image.info().frameCount, 3);
}

TEST_F(LibraryExportsTest, PageTooLargeIsRefusedWithItsCodeAndTheJobLivesOn) {
    // 200 x 200 inches at zoom 200 and 500 dpi: a bitmap of 200,000 pixels
    // square, far beyond what the engine holds. It is refused before it is
    // drawn, with the code that says so (not the write failure's -99).
    const std::string pdf = writePdf(m_folder + "vast.pdf", 1, 14400, 14400);
    const int handle = s_open(pdf.c_str(), nullptr, nullptr);
    ASSERT_GE(handle, 1);
    s_setOption(handle, RENDOVA_OPTION_ZOOM, nullptr, 200, 0);
    s_setOption(handle, RENDOVA_OPTION_X_DPI, nullptr, 500, 0);
    s_setOption(handle, RENDOVA_OPTION_Y_DPI, nullptr, 500, 0);
    s_setOption(handle, RENDOVA_OPTION_OUTPUT_FOLDER, (m_folder + "out").c_str(), 0, 0);
    EXPECT_EQ(s_convert(handle, 1, "vast"), RENDOVA_PAGE_TOO_LARGE);
    EXPECT_EQ(s_convertAll(handle), RENDOVA_PAGE_TOO_LARGE);
    EXPECT_TRUE(filesIn(m_folder + "out").empty());
    // At a tenth of the size and 72 dpi the same page is 1,440 pixels square.
    s_setOption(handle, RENDOVA_OPTION_ZOOM, nullptr, 10, 0);
    s_setOption(handle, RENDOVA_OPTION_X_DPI, nullptr, 72, 0);
    s_setOption(handle, RENDOVA_OPTION_Y_DPI, nullptr, 72, 0);
    EXPECT_EQ(s_convert(handle, 1, "vast"), RENDOVA_SUCCESS);
    EXPECT_EQ(s_pageCount(handle), 1);
    EXPECT_EQ(s_close(handle), 1);
}

TEST_F(LibraryExportsTest, OnlyTheTwelveFunctionsAndTheTableAreVisible) {
    // Internal names stay inside the library.
    EXPECT_EQ(dlsym(s_library, "_ZN7rendova13ConversionJob4openEPKcS2_S2_"), nullptr);
    EXPECT_EQ(dlsym(s_library, "globalSettings"), nullptr);
    EXPECT_NE(dlsym(s_library, "rendovaGetPageCount"), nullptr);
    EXPECT_NE(dlsym(s_library, "rendovaReserved12"), nullptr);
}

}  // namespace
