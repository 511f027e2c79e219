#include "library/ConversionJob.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <vector>

#include "image/RasterImage.h"
#include "library/PageImageWriter.h"
#include "library/rendova.h"
#include "platform/Paths.h"
#include "tests/image/CodecTestUtil.h"
#include "tests/library/LibraryTestSupport.h"
#include "tests/support/ErrorCapture.h"

namespace {

using rendova::ConversionJob;
using namespace rendova::test;

// What the callbacks saw, for the test that set them.
std::vector<std::pair<intptr_t, int>> g_progress;
std::vector<int> g_cancelValues;
int g_pollResult = 0;
int g_polls = 0;

int recordProgress(intptr_t userValue, int percent) {
    g_progress.emplace_back(userValue, percent);
    return 0;
}
int recordCancel(int value) {
    g_cancelValues.push_back(value);
    return 0;
}
int poll() {
    ++g_polls;
    return g_pollResult;
}

class ConversionJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_progress.clear();
        g_cancelValues.clear();
        g_pollResult = 0;
        g_polls = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_folder = freshFolder(std::string("job-") + info->name());
    }

    // A job open on a new document of `pages` pages named report.pdf, its
    // images going to out/ as BMP.
    std::unique_ptr<ConversionJob> openReport(int pages, int width = 72, int height = 144, int rotate = 0) {
        const std::string pdf = writePdf(m_folder + "report.pdf", pages, width, height, rotate);
        auto job = std::make_unique<ConversionJob>();
        EXPECT_EQ(job->setOption(ConversionJob::kOptionOutputFolder, (m_folder + "out").c_str(), 0, 0), 1);
        EXPECT_EQ(job->setOption(ConversionJob::kOptionImageType, nullptr, 1, 0), 1);
        EXPECT_EQ(job->open(pdf.c_str(), nullptr, nullptr), 1);
        return job;
    }

    std::string m_folder;
};

// The defaults and limits are those the public header states.
TEST_F(ConversionJobTest, DefaultsAreThoseOfTheOptionTable) {
    ConversionJob job;
    EXPECT_EQ(job.zoom(), RENDOVA_DEFAULT_ZOOM);
    EXPECT_EQ(job.imageType(), RENDOVA_DEFAULT_IMAGE_TYPE);
    EXPECT_EQ(RENDOVA_DEFAULT_IMAGE_TYPE, RENDOVA_IMAGE_JPEG);
    EXPECT_EQ(job.backgroundColour(), 0xFFFFFFu);
    EXPECT_EQ(job.quality(), RENDOVA_DEFAULT_QUALITY);
    EXPECT_EQ(job.xDpi(), RENDOVA_DEFAULT_DPI);
    EXPECT_EQ(job.yDpi(), RENDOVA_DEFAULT_DPI);
    EXPECT_EQ(job.bitsPerPixel(), RENDOVA_DEFAULT_BITS_PER_PIXEL);
    EXPECT_EQ(job.progressUserValue(), -1);
    EXPECT_EQ(job.outputWidth(), 0);
    EXPECT_TRUE(job.baseName().empty());
    EXPECT_TRUE(job.outputFolder().empty());
    EXPECT_EQ(job.pageCount(), 0);
}

TEST_F(ConversionJobTest, NumericOptionsAreClampedOrNormalised) {
    ConversionJob job;
    job.setOption(ConversionJob::kOptionZoom, nullptr, 5, 0);
    EXPECT_EQ(job.zoom(), RENDOVA_MIN_ZOOM);
    job.setOption(ConversionJob::kOptionZoom, nullptr, 300, 0);
    EXPECT_EQ(job.zoom(), RENDOVA_MAX_ZOOM);
    job.setOption(ConversionJob::kOptionXDpi, nullptr, 50, 0);
    job.setOption(ConversionJob::kOptionYDpi, nullptr, 1200, 0);
    EXPECT_EQ(job.xDpi(), RENDOVA_MIN_DPI);
    EXPECT_EQ(job.yDpi(), RENDOVA_MAX_DPI);
    for (intptr_t type : {0, 9, -3}) {
        job.setOption(ConversionJob::kOptionImageType, nullptr, type, 0);
        EXPECT_EQ(job.imageType(), 1) << type;
    }
    EXPECT_STREQ(rendova::extensionForType(job.imageType()), "bmp");
    job.setOption(ConversionJob::kOptionImageType, nullptr, 8, 0);
    EXPECT_EQ(job.imageType(), 8);
    job.setOption(ConversionJob::kOptionMultiPageTiff, nullptr, 77, 0);
    job.setOption(ConversionJob::kOptionGreyscale, nullptr, -1, 0);
    job.setOption(ConversionJob::kOptionWriterFlag, nullptr, 5, 0);
    EXPECT_EQ(job.multiPageTiff(), 1);
    EXPECT_EQ(job.greyscale(), 1);
    EXPECT_EQ(job.writerFlag(), 1);
    // Stored as they come (the writer maps or clamps them).
    job.setOption(ConversionJob::kOptionQuality, nullptr, 150, 0);
    job.setOption(ConversionJob::kOptionBitsPerPixel, nullptr, 16, 0);
    job.setOption(ConversionJob::kOptionRotation, nullptr, -90, 0);
    job.setOption(ConversionJob::kOptionCompression, nullptr, 6, 0);
    job.setOption(ConversionJob::kOptionBackgroundColour, nullptr, 0x123456, 0);
    EXPECT_EQ(job.quality(), 150);
    EXPECT_EQ(job.bitsPerPixel(), 16);
    EXPECT_EQ(job.rotation(), -90);
    EXPECT_EQ(job.compression(), 6);
    EXPECT_EQ(job.backgroundColour(), 0x123456u);
    // A pointer-sized value beyond 32 bits saturates instead of wrapping.
    if (sizeof(intptr_t) > 4) {
        job.setOption(ConversionJob::kOptionQuality, nullptr, intptr_t(INT64_C(0x100000032)), 0);
        EXPECT_EQ(job.quality(), INT_MAX);
        job.setOption(ConversionJob::kOptionZoom, nullptr, intptr_t(INT64_C(0x100000005)), 0);
        EXPECT_EQ(job.zoom(), 200);
    }
}

TEST_F(ConversionJobTest, SizesAndFunctionsAreKeptOnceSet) {
    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputWidth, nullptr, 640, 0);
    job.setOption(ConversionJob::kOptionOutputHeight, nullptr, 480, 0);
    job.setOption(ConversionJob::kOptionOutputWidth, nullptr, 0, 0);
    job.setOption(ConversionJob::kOptionOutputHeight, nullptr, -5, 0);
    EXPECT_EQ(job.outputWidth(), 640);
    EXPECT_EQ(job.outputHeight(), 480);

    int marker = 0;
    const auto userValue = reinterpret_cast<intptr_t>(&marker);
    EXPECT_EQ(job.setOption(ConversionJob::kOptionProgress, nullptr,
                            reinterpret_cast<intptr_t>(&recordProgress), userValue),
              1);
    EXPECT_EQ(job.progressCallback(), &recordProgress);
    EXPECT_EQ(job.progressUserValue(), userValue);
    job.setOption(ConversionJob::kOptionProgress, nullptr, 0, 99);
    EXPECT_EQ(job.progressUserValue(), userValue);

    job.setOption(ConversionJob::kOptionCancel, nullptr, reinterpret_cast<intptr_t>(&recordCancel), 0);
    job.setOption(ConversionJob::kOptionPoll, nullptr, reinterpret_cast<intptr_t>(&poll), 0);
    job.setOption(ConversionJob::kOptionCancel, nullptr, 0, 0);
    job.setOption(ConversionJob::kOptionPoll, nullptr, 0, 0);
    EXPECT_EQ(job.cancelCallback(), &recordCancel);
    EXPECT_EQ(job.pollFunction(), &poll);
}

TEST_F(ConversionJobTest, UnknownIdentifierIsRefusedAndChangesNothing) {
    ConversionJob job;
    for (int32_t id : {0, 16, 39, 41, 90, 94, -1}) {
        EXPECT_EQ(job.setOption(id, "/tmp", 150, 150), ConversionJob::kUnknownOption) << id;
    }
    EXPECT_EQ(job.zoom(), 100);
    EXPECT_TRUE(job.outputFolder().empty());
}

TEST_F(ConversionJobTest, FolderOptionIsMadeAbsoluteWithTrailingSeparator) {
    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputFolder, nullptr, 0, 0);
    job.setOption(ConversionJob::kOptionOutputFolder, "", 0, 0);
    EXPECT_TRUE(job.outputFolder().empty());
    job.setOption(ConversionJob::kOptionOutputFolder, "out/../pages", 0, 0);
    EXPECT_EQ(job.outputFolder(), platform::absolutePath("pages") + "/");
    job.setOption(ConversionJob::kOptionOutputFolder, "/var/tmp/", 0, 0);
    EXPECT_EQ(job.outputFolder(), "/var/tmp/");
    job.setOption(ConversionJob::kOptionBaseName, "", 0, 0);
    job.setOption(ConversionJob::kOptionBaseName, nullptr, 0, 0);
    EXPECT_TRUE(job.baseName().empty());
    job.setOption(ConversionJob::kOptionBaseName, "a b.c", 0, 0);
    EXPECT_EQ(job.baseName(), "a b.c");
}

TEST_F(ConversionJobTest, OverlongFolderAndNameAreRefusedNotCut) {
    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputFolder, "/var/tmp/", 0, 0);
    // 259 characters with the separator fit; 260 do not.
    const std::string fits = "/" + std::string(257, 'f');
    job.setOption(ConversionJob::kOptionOutputFolder, fits.c_str(), 0, 0);
    EXPECT_EQ(job.outputFolder(), fits + "/");
    job.setOption(ConversionJob::kOptionOutputFolder, ("/" + std::string(258, 'g')).c_str(), 0, 0);
    EXPECT_EQ(job.outputFolder(), fits + "/");

    job.setOption(ConversionJob::kOptionBaseName, std::string(255, 'n').c_str(), 0, 0);
    EXPECT_EQ(job.baseName().size(), 255u);
    job.setOption(ConversionJob::kOptionBaseName, std::string(256, 'm').c_str(), 0, 0);
    EXPECT_EQ(job.baseName(), std::string(255, 'n'));
}

TEST_F(ConversionJobTest, OpenSortsFailuresIntoStatusCodes) {
    ConversionJob job;
    EXPECT_EQ(job.open(nullptr, nullptr, nullptr), ConversionJob::kInputMissing);
    EXPECT_EQ(job.open((m_folder + "missing.pdf").c_str(), nullptr, nullptr), ConversionJob::kInputMissing);
    // A directory opens for reading on Linux but is not a document.
    EXPECT_EQ(job.open(m_folder.c_str(), nullptr, nullptr), ConversionJob::kInputMissing);
    std::ofstream(m_folder + "notes.pdf") << "just some text\n";
    EXPECT_EQ(job.open((m_folder + "notes.pdf").c_str(), nullptr, nullptr), ConversionJob::kOpenFailed);
    if (!fs::exists(corpusFile("made-qpdf-enc-rc4-40-tiger.pdf")))
        GTEST_SKIP() << "the corpus is not beside the source tree";
    EXPECT_EQ(
        ConversionJob().open(corpusFile("made-qpdf-enc-rc4-40-tiger.pdf").c_str(), "wrong", "also wrong"),
        ConversionJob::kPasswordNeeded);
    EXPECT_EQ(ConversionJob().open(corpusFile("made-qpdf-enc-rc4-40-tiger.pdf").c_str(), nullptr, nullptr),
              ConversionJob::kPasswordNeeded);
    // The owner password in the first slot, the user password in the second.
    EXPECT_EQ(ConversionJob().open(corpusFile("made-qpdf-enc-rc4-40-tiger.pdf").c_str(), "own40", nullptr),
              1);
    EXPECT_EQ(ConversionJob().open(corpusFile("made-qpdf-enc-rc4-40-tiger.pdf").c_str(), nullptr, "tiger40"),
              1);
}

TEST_F(ConversionJobTest, OpenTakesFolderAndNameFromThePathUnlessSet) {
    const std::string pdf = writePdf(m_folder + "report.v2.pdf", 2);
    ConversionJob job;
    ASSERT_EQ(job.open(pdf.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(job.outputFolder(), m_folder);
    EXPECT_EQ(job.baseName(), "report.v2");
    EXPECT_EQ(job.pageCount(), 2);

    ConversionJob preset;
    preset.setOption(ConversionJob::kOptionOutputFolder, "/var/tmp", 0, 0);
    preset.setOption(ConversionJob::kOptionBaseName, "chosen", 0, 0);
    ASSERT_EQ(preset.open(pdf.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(preset.outputFolder(), "/var/tmp/");
    EXPECT_EQ(preset.baseName(), "chosen");
    EXPECT_EQ(preset.close(), 1);
    EXPECT_EQ(preset.pageCount(), 0);
}

TEST_F(ConversionJobTest, PageOutsideTheDocumentCreatesNothing) {
    auto job = openReport(3);
    EXPECT_EQ(job->convertPageNumbered(0), ConversionJob::kPageOutOfRange);
    EXPECT_EQ(job->convertPageNumbered(4), ConversionJob::kPageOutOfRange);
    EXPECT_EQ(job->convertPageNamed(-1, "x"), ConversionJob::kPageOutOfRange);
    EXPECT_FALSE(fs::exists(m_folder + "out"));
}

TEST_F(ConversionJobTest, NumberedAndNamedPagesGetTheirNames) {
    auto job = openReport(3);
    job->setOption(ConversionJob::kOptionImageType, nullptr, 5, 0);
    EXPECT_EQ(job->convertPageNumbered(3), 1);
    EXPECT_EQ(job->convertPageNamed(3, "report0003"), 1);
    // A null name outside multi-page TIFF falls back to the numbered name.
    EXPECT_EQ(job->convertPageNamed(2, nullptr), 1);
    EXPECT_EQ(filesIn(m_folder + "out"),
              (std::vector<std::string>{"report00002.png", "report00003.png", "report0003.png"}));
}

TEST_F(ConversionJobTest, RelativeOutputFolderIsCreatedLevelByLevel) {
    ASSERT_EQ(chdir(m_folder.c_str()), 0);
    const std::string pdf = writePdf(m_folder + "doc.pdf", 1);
    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputFolder, "deep/er/est", 0, 0);
    job.setOption(ConversionJob::kOptionImageType, nullptr, 1, 0);
    ASSERT_EQ(job.open(pdf.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(job.convertPageNumbered(1), 1);
    EXPECT_TRUE(fs::exists(m_folder + "deep/er/est/doc00001.bmp"));
    ASSERT_EQ(chdir(RENDOVA_TEST_OUTPUT_DIR), 0);
}

// A page that was not written fails, so that no caller reports a file that
// is not there: a path too long to write.
TEST_F(ConversionJobTest, PagesThatAreNotWrittenFail) {
    auto job = openReport(1);
    // A name that makes the path longer than 259 characters.
    const std::string name(260 - (m_folder + "out/").size() - 4, 'x');
    EXPECT_EQ(job->convertPageNamed(1, name.c_str()), ConversionJob::kOtherFailure);
    EXPECT_TRUE(filesIn(m_folder + "out").empty());
    const std::string shorter(name.size() - 1, 'x');
    EXPECT_EQ(job->convertPageNamed(1, shorter.c_str()), 1);
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{shorter + ".bmp"}));
}

// GIF and PCX pages at 1, 4 and 8 bits, in colour and in grey, hold the
// pixels of the BMP page of the same depth, as ImageMagick reads them (and
// netpbm for 1-bit PCX, which ImageMagick shows inverted).
TEST_F(ConversionJobTest, GifAndPcxPagesHoldThePixelsOfTheBmpPage) {
    REQUIRE_TOOL("convert");
    for (const char* name : {"made-gs-shadings-1to7.pdf", "deb-r-intro.pdf"}) {
        if (!fs::exists(corpusFile(name)))
            GTEST_SKIP() << "the corpus is not beside the source tree";
        ConversionJob job;
        job.setOption(ConversionJob::kOptionOutputFolder, (m_folder + "out").c_str(), 0, 0);
        job.setOption(ConversionJob::kOptionXDpi, nullptr, 72, 0);
        job.setOption(ConversionJob::kOptionYDpi, nullptr, 72, 0);
        ASSERT_EQ(job.open(corpusFile(name).c_str(), nullptr, nullptr), 1) << name;
        for (const auto& [bits, grey] : {std::pair{1, 0}, {4, 0}, {4, 1}, {8, 0}, {8, 1}}) {
            job.setOption(ConversionJob::kOptionBitsPerPixel, nullptr, bits, 0);
            job.setOption(ConversionJob::kOptionGreyscale, nullptr, grey, 0);
            const std::string stem =
                std::string(name).substr(0, 8) + std::to_string(bits) + (grey ? "g" : "c");
            const std::string out = m_folder + "out/" + stem;
            job.setOption(ConversionJob::kOptionImageType, nullptr, rendova::PageImageWriter::kTypeBmp, 0);
            ASSERT_EQ(job.convertPageNamed(1, stem.c_str()), 1) << stem;
            const Bytes reference = magickPixels(out + ".bmp", "rgb");
            ASSERT_FALSE(reference.empty()) << stem;
            for (const auto& [type, extension] : {std::pair{rendova::PageImageWriter::kTypeGif, ".gif"},
                                                  {rendova::PageImageWriter::kTypePcx, ".pcx"}}) {
                job.setOption(ConversionJob::kOptionImageType, nullptr, type, 0);
                ASSERT_EQ(job.convertPageNamed(1, stem.c_str()), 1) << stem << extension;
                std::string path = out + extension;
                if (type == rendova::PageImageWriter::kTypePcx && bits == 1) {
                    if (!haveTool("pcxtoppm"))
                        continue;
                    ASSERT_TRUE(run("(pcxtoppm '" + path + "' > '" + path + ".ppm')"));
                    path += ".ppm";
                }
                EXPECT_TRUE(magickPixels(path, "rgb") == reference) << stem << extension;
            }
        }
    }
}

// A page name is a file name: one with a folder in it would write outside
// the output folder ("../x") or fail only after rendering ("sub/x").
// Pages reach their names whole: written beside them under a hidden name
// and moved into place, leaving nothing behind when that fails.
TEST_F(ConversionJobTest, NamesStayInTheFolderAndPagesArriveWhole) {
    auto job = openReport(1);
    for (const char* name : {"../escaped", "sub/x", "/tmp/abs", "a/../b"})
        EXPECT_EQ(job->convertPageNamed(1, name), ConversionJob::kOtherFailure) << name;
    EXPECT_EQ(filesIn(m_folder), (std::vector<std::string>{"report.pdf"}));

    fs::create_directories(m_folder + "out");
    std::ofstream(m_folder + "out/page.bmp") << "an older file";
    EXPECT_EQ(job->convertPageNamed(1, "page"), 1);
    EXPECT_EQ(bmpFacts(m_folder + "out/page.bmp").width, 120);  // 72 points at 120 dpi
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(fs::status(m_folder + "out/page.bmp").permissions(), fs::perms(0666 & ~mask))
        << "a page file gets the permissions of any new file";

    // Nothing can be moved onto a folder: the page fails and the hidden
    // file goes too.
    fs::create_directories(m_folder + "out/blocked.bmp");
    EXPECT_EQ(job->convertPageNamed(1, "blocked"), ConversionJob::kOtherFailure);
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"blocked.bmp", "page.bmp"}));
}

TEST_F(ConversionJobTest, ZoomAndResolutionSetThePageSize) {
    auto job = openReport(1, 72, 144);  // one inch by two
    job->convertPageNamed(1, "plain");
    EXPECT_EQ(bmpFacts(m_folder + "out/plain.bmp").width, 120);
    EXPECT_EQ(bmpFacts(m_folder + "out/plain.bmp").height, 240);
    job->setOption(ConversionJob::kOptionZoom, nullptr, 150, 0);
    job->convertPageNamed(1, "zoomed");
    EXPECT_EQ(bmpFacts(m_folder + "out/zoomed.bmp").width, 180);
    job->setOption(ConversionJob::kOptionZoom, nullptr, 100, 0);
    job->setOption(ConversionJob::kOptionXDpi, nullptr, 1200, 0);
    job->setOption(ConversionJob::kOptionYDpi, nullptr, 30, 0);
    job->convertPageNamed(1, "clamped");
    const BmpFacts clamped = bmpFacts(m_folder + "out/clamped.bmp");
    EXPECT_EQ(clamped.width, 500);
    EXPECT_EQ(clamped.height, 144);
    EXPECT_EQ(clamped.xPelsPerMetre, 19685);  // 500 dpi
}

TEST_F(ConversionJobTest, RotatedPageIsLaidOnItsSide) {
    auto job = openReport(1, 72, 144, 90);
    job->convertPageNumbered(1);
    EXPECT_EQ(bmpFacts(m_folder + "out/report00001.bmp").width, 240);
    EXPECT_EQ(bmpFacts(m_folder + "out/report00001.bmp").height, 120);
}

TEST_F(ConversionJobTest, RangeModesSelectTheirPages) {
    struct Case {
        int32_t mode;
        std::string text;
        std::vector<std::string> files;
        std::vector<int> percents;
    };
    const std::vector<Case> cases = {
        {1, "", {"report00001.bmp", "report00002.bmp", "report00003.bmp"}, {33, 66, 100}},
        {2, "", {"report00002.bmp"}, {100}},
        {3, "", {"report00001.bmp", "report00003.bmp"}, {50, 100}},
        {4, "", {"report00001.bmp"}, {100}},
        {5, "", {"report00003.bmp"}, {100}},
        {6, "3,1-2,2", {"report00001.bmp", "report00002.bmp", "report00003.bmp"}, {33, 66, 100}},
        {7, "", {}, {}},
    };
    for (const Case& c : cases) {
        g_progress.clear();
        fs::remove_all(m_folder + "out");
        auto job = openReport(3);
        job->setOption(ConversionJob::kOptionProgress, nullptr, reinterpret_cast<intptr_t>(&recordProgress),
                       7);
        job->setRange(c.mode, c.text);
        EXPECT_EQ(job->convertByRange(), 1) << c.mode;
        EXPECT_EQ(filesIn(m_folder + "out"), c.files) << c.mode;
        std::vector<int> percents;
        for (const auto& [user, percent] : g_progress) {
            EXPECT_EQ(user, 7);
            percents.push_back(percent);
        }
        EXPECT_EQ(percents, c.percents) << c.mode;
    }
}

TEST_F(ConversionJobTest, InvalidCustomRangeConvertsNothing) {
    auto job = openReport(3);
    job->setRange(ConversionJob::kRangeCustom, "a-3");
    EXPECT_EQ(job->convertByRange(), ConversionJob::kInvalidPageRange);
    job->setRange(ConversionJob::kRangeCustom, "");
    EXPECT_EQ(job->convertByRange(), ConversionJob::kInvalidPageRange);
    EXPECT_TRUE(filesIn(m_folder + "out").empty());
}

TEST_F(ConversionJobTest, PollAskingToCancelStopsAfterTheFirstPage) {
    auto job = openReport(3);
    g_pollResult = 2;
    // The poll function alone never cancels: both functions are needed.
    job->setOption(ConversionJob::kOptionPoll, nullptr, reinterpret_cast<intptr_t>(&poll), 0);
    EXPECT_EQ(job->convertPageNumbered(1), 1);
    EXPECT_EQ(g_polls, 0);
    job->setOption(ConversionJob::kOptionCancel, nullptr, reinterpret_cast<intptr_t>(&recordCancel), 0);
    fs::remove_all(m_folder + "out");
    EXPECT_EQ(job->convertByRange(), ConversionJob::kCancelled);
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"report00001.bmp"}));
    EXPECT_EQ(g_cancelValues, (std::vector<int>{0}));
    g_pollResult = 1;
    EXPECT_EQ(job->convertPageNumbered(2), 1);
}

TEST_F(ConversionJobTest, MultiPageTiffJobWritesOneFileWhateverTheNames) {
    std::string tif;
    {
        auto job = openReport(3);
        job->setOption(ConversionJob::kOptionImageType, nullptr, 7, 0);
        job->setOption(ConversionJob::kOptionMultiPageTiff, nullptr, 1, 0);
        EXPECT_EQ(job->convertPageNamed(1, "ignored"), 1);
        EXPECT_EQ(job->convertPageNamed(2, nullptr), 1);
        EXPECT_EQ(job->convertPageNumbered(3), 1);
        tif = job->outputFolder() + "report.tif";
    }  // the job's end finishes the file
    EXPECT_EQ(filesIn(m_folder + "out"), (std::vector<std::string>{"report.tif"}));
    rendova::RasterImage image;
    ASSERT_TRUE(image.Load(tif.c_str(), rendova::kFormatTiff)) << image.LastErrorText();
    EXPECT_EQ(image.info().frameCount, 3);
}

// Pages whose content the document lost are still written, but say so: the
// job answers kPageIncomplete and the engine's report names the page. A
// page of no Contents entry has nothing to lose.
TEST_F(ConversionJobTest, PagesThatLostTheirContentAreWrittenButSaySo) {
    PdfBuilder pdf;
    pdf.object(1, "<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R 6 0 R 7 0 R] /Count 5 /MediaBox [0 0 40 40] >>");
    pdf.object(3, "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>");           // whole
    pdf.object(4, "<< /Type /Page /Parent 2 0 R /Contents 20 0 R >>");          // object missing
    pdf.object(5, "<< /Type /Page /Parent 2 0 R /Contents [8 0 R 21 0 R] >>");  // one of two missing
    pdf.object(6, "<< /Type /Page /Parent 2 0 R >>");                           // no content at all
    pdf.object(7, "<< /Type /Page /Parent 2 0 R /Contents 1 0 R >>");           // not a stream
    pdf.stream(8, "<< >>", "0 0 1 rg 0 0 20 20 re f");
    pdf.xrefTable();
    const std::string path = m_folder + "lost.pdf";
    std::ofstream(path, std::ios::binary) << pdf.bytes();

    ConversionJob job;
    job.setOption(ConversionJob::kOptionOutputFolder, (m_folder + "out").c_str(), 0, 0);
    job.setOption(ConversionJob::kOptionImageType, nullptr, rendova::PageImageWriter::kTypeBmp, 0);
    ASSERT_EQ(job.open(path.c_str(), nullptr, nullptr), 1);
    struct Case {
        int page;
        int result;
        const char* report;
    };
    const Case cases[] = {
        {1, ConversionJob::kSuccess, nullptr},
        {2, ConversionJob::kPageIncomplete, "Page 2: its content object 20 0 cannot be found"},
        {3, ConversionJob::kPageIncomplete, "Page 3: its content object 21 0 (element 1) cannot be found"},
        {4, ConversionJob::kSuccess, nullptr},
        {5, ConversionJob::kPageIncomplete, "Page 5: its content is a dictionary, not a stream"},
    };
    for (const Case& test : cases) {
        ErrorCapture errors;
        EXPECT_EQ(job.convertPageNumbered(test.page), test.result) << test.page;
        if (test.report != nullptr)
            EXPECT_TRUE(errors.contains(test.report)) << test.page;
        else
            EXPECT_FALSE(errors.contains("content")) << test.page;
    }
    EXPECT_EQ(filesIn(m_folder + "out").size(), 5u) << "every page image is written";

    // The range goes on past a page that lost content, and says so at the end.
    fs::remove_all(m_folder + "out");
    EXPECT_EQ(job.convertByRange(), ConversionJob::kPageIncomplete);
    EXPECT_EQ(filesIn(m_folder + "out").size(), 5u);
    job.setRange(ConversionJob::kRangeFirst, "");
    EXPECT_EQ(job.convertByRange(), ConversionJob::kSuccess);
}

// A page with more pixels than the engine draws, or than the image type
// holds, is refused before anything is written, with its own code: not the
// write failure's, which tells of folders and disks. The same page at a
// lower resolution, or in a type without the limit, is written.
TEST_F(ConversionJobTest, PagesTooLargeForTheResolutionAreRefusedWithTheirOwnCode) {
    struct Case {
        int width, height;  // points
        int dpi;
        int type;
        int result;
    };
    const Case cases[] = {
        // 8,400 points at 500 dpi: 58,333 pixels square, a 10 GB bitmap.
        {8400, 8400, 500, rendova::PageImageWriter::kTypeJpeg, ConversionJob::kPageTooLarge},
        {8400, 8400, 500, rendova::PageImageWriter::kTypePng, ConversionJob::kPageTooLarge},
        // 9,500 points at 500 dpi: 65,972 pixels across, past JPEG's and
        // GIF's 16-bit sides but not PNG's; at 480 dpi 63,333 fit them.
        {9500, 4, 500, rendova::PageImageWriter::kTypeJpeg, ConversionJob::kPageTooLarge},
        {9500, 4, 500, rendova::PageImageWriter::kTypeGif, ConversionJob::kPageTooLarge},
        {9500, 4, 500, rendova::PageImageWriter::kTypePng, ConversionJob::kSuccess},
        {9500, 4, 480, rendova::PageImageWriter::kTypeJpeg, ConversionJob::kSuccess},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.width) + " at " + std::to_string(test.dpi) + " type " +
                     std::to_string(test.type));
        fs::remove_all(m_folder + "out");
        auto job = openReport(1, test.width, test.height);
        job->setOption(ConversionJob::kOptionImageType, nullptr, test.type, 0);
        job->setOption(ConversionJob::kOptionXDpi, nullptr, test.dpi, 0);
        job->setOption(ConversionJob::kOptionYDpi, nullptr, test.dpi, 0);
        EXPECT_EQ(job->convertPageNumbered(1), test.result);
        EXPECT_EQ(filesIn(m_folder + "out").size(), test.result == ConversionJob::kSuccess ? 1u : 0u);
    }
}

TEST_F(ConversionJobTest, FileSystemFunctionsTellFilesFromFolders) {
    std::ofstream(m_folder + "file.txt") << "x";
    EXPECT_EQ(rendova::fileExists(m_folder + "file.txt"), 1);
    EXPECT_EQ(rendova::fileExists(m_folder), 0);
    EXPECT_EQ(rendova::fileExists(m_folder + "none"), 0);
    EXPECT_EQ(rendova::directoryExists(m_folder), 1);
    EXPECT_EQ(rendova::directoryExists(m_folder + "file.txt"), 0);

    // Only the levels that a separator ends are made.
    rendova::createDirectoryChain(m_folder + "a/b/c");
    EXPECT_TRUE(fs::is_directory(m_folder + "a/b"));
    EXPECT_FALSE(fs::exists(m_folder + "a/b/c"));
    // A chain longer than 255 characters is not made at all.
    const std::string longChain = m_folder + "l/" + std::string(260 - m_folder.size(), 'z') + "/";
    rendova::createDirectoryChain(longChain);
    EXPECT_FALSE(fs::exists(m_folder + "l"));

    const char* const extensions[] = {"bmp", "bmp", "emf", "wmf", "jpg", "png", "gif", "tif", "pcx", "bmp"};
    for (int type = 0; type <= 9; ++type)
        EXPECT_STREQ(rendova::extensionForType(type), extensions[type]) << type;
}

}  // namespace
