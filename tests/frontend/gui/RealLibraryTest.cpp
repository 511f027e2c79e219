// The wizard over the real conversion library, built beside the program:
// corpus documents through the whole run, and the same conversion made
// straight through the library's exports.
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "frontend/LibraryInterface.h"
#include "frontend/ProgressPage.h"
#include "platform/DynamicLibrary.h"
#include "platform/IniProfile.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

const std::string kRealLibrary = std::string(GLIMMARK_PROGRAM_DIR) + "/" + kLibraryName;

class RealLibraryTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        m_libraryName = kRealLibrary;
        if (!fs::exists(std::string(RENDOVA_CORPUS_DIR) + "/made-gs-tiger.pdf"))
            GTEST_SKIP() << "the corpus is not beside the source tree";
    }
    int gauge(int id) const { return control<wxGauge>(id)->GetValue(); }
};

std::string corpus(const char* name) {
    return std::string(RENDOVA_CORPUS_DIR) + "/" + name;
}

// One page each.
const char* const kCorpusFiles[3] = {"gh-pdf20-simple.pdf", "made-gs-tiger.pdf",
                                     "gh-ocr-vector-cairo115.pdf"};

bool isPng(const std::string& path) {
    return readFile(path).compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
}

TEST_F(RealLibraryTest, RunWritesEveryPageRecordsEachFileAndLogsIt) {
    ASSERT_TRUE(openWindow());
    // Encrypted, and no password given: it fails.
    std::string locked = corpus("made-qpdf-enc-aes-128-cmyk.pdf");
    m_window->addFile(locked);
    for (const char* name : kCorpusFiles)
        m_window->addFile(corpus(name));
    ASSERT_EQ(rows().size(), 4u);
    for (long row = 0; row < 3; ++row)
        EXPECT_EQ(cell(m_window->fileList(), row, 1), "1") << row;
    EXPECT_EQ(cell(m_window->fileList(), 3, 1), "encrypted");

    press(1008);
    choose(1120, 4);  // PNG
    choose(1106, 0);  // 72 dpi
    choose(1107, 0);
    check(1031);
    type(1049, m_root + "out");
    convertAndWait();

    std::vector<std::string> expectedFiles;
    for (const char* name : kCorpusFiles)
        expectedFiles.push_back(fs::path(name).stem().string() + "0001.png");
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(listFolder(m_root + "out"), expectedFiles);
    for (const std::string& file : expectedFiles)
        EXPECT_TRUE(isPng(m_root + "out/" + file)) << file;

    // Rows in list order, top first: the corpus files were added last.
    std::vector<std::string> expectedRows;
    for (int i = 2; i >= 0; --i)
        expectedRows.push_back("Succeed|" + corpus(kCorpusFiles[i]) + "|" + m_root + "out/");
    expectedRows.push_back("Failed|" + locked + "|");
    EXPECT_EQ(resultRows(), expectedRows);
    EXPECT_EQ(m_window->progressPage()->reason(3), "the document is protected: enter its password in step 2");
    EXPECT_EQ(gauge(1038), 100);
    EXPECT_EQ(gauge(1145), 100);
    EXPECT_EQ(control<wxStaticText>(1001)->GetLabel(), "Conversion completed");
    EXPECT_FALSE(control<wxWindow>(1061)->IsShown());
    EXPECT_TRUE(control<wxWindow>(1062)->IsShown());

    // The log gets one record per row, in the program's exact format.
    wxListCtrl* results = control<wxListCtrl>(1037);
    std::string expectedLog;
    for (long row = 0; row < results->GetItemCount(); ++row) {
        std::string time = cell(results, row, 0);
        EXPECT_TRUE(hasShape(time, "[99-99-9999 8:99:99]")) << time;
        std::string reason = m_window->progressPage()->reason(row);
        expectedLog += "[Time:] " + time + "\n[State:] " + cell(results, row, 1) + "\n" +
                       (reason.empty() ? "" : "[Reason:] " + reason + "\n") + "[InputFile:] " +
                       cell(results, row, 2) + "\n[Destination:] " + cell(results, row, 3) + "\n\n";
    }
    tick(1039, true);
    type(1042, m_root + "logs/a/b");
    press(1062);
    EXPECT_EQ(m_window->step(), 1);
    EXPECT_EQ(readFile(m_root + "logs/a/b/Glimmark.log"), expectedLog);
    std::string settings = m_program + "Settings.ini";
    EXPECT_EQ(platform::getPrivateProfileString("Settings", "isRecord", "", 64, settings), "1");
    EXPECT_EQ(platform::getPrivateProfileString("Settings", "logPath", "", 512, settings),
              m_root + "logs/a/b");

    // A second run appends its records to the same log.
    convertAndWait();
    press(1062);
    EXPECT_EQ(readFile(m_root + "logs/a/b/Glimmark.log").size(), 2 * expectedLog.size());
}

TEST_F(RealLibraryTest, WizardWritesWhatTheLibraryWritesWhenCalledDirectly) {
    // The wizard's run and the same calls made straight to the exports give
    // the same files, names and pixels.
    std::string document = corpus("made-gs-tiger.pdf");
    ASSERT_TRUE(openWindow());
    m_window->addFile(document);
    press(1008);
    choose(1120, 4);
    choose(1106, 0);
    choose(1107, 0);
    choose(1122, 1);
    check(1031);
    type(1049, m_root + "wizard");
    convertAndWait();

    platform::LibraryHandle library = platform::loadLibrary(kRealLibrary);
    ASSERT_NE(library, nullptr);
    auto open = reinterpret_cast<OpenDocumentFunction>(platform::procByOrdinal(library, 1));
    auto close = reinterpret_cast<CloseDocumentFunction>(platform::procByOrdinal(library, 3));
    auto convert = reinterpret_cast<ConvertPageFunction>(platform::procByOrdinal(library, 7));
    auto set = reinterpret_cast<SetOptionFunction>(platform::procByOrdinal(library, 9));
    auto count = reinterpret_cast<GetPageCountFunction>(platform::procByOrdinal(library, 11));
    int handle = open(document.c_str(), "", nullptr);
    ASSERT_GE(handle, 1);
    std::string folder = m_root + "direct/";
    set(handle, kOptionOutputFolder, folder.c_str(), 0, 0);
    set(handle, kOptionXDpi, nullptr, 72, 0);
    set(handle, kOptionYDpi, nullptr, 72, 0);
    set(handle, kOptionBitsPerPixel, nullptr, 8, 0);
    set(handle, kOptionImageType, nullptr, kImageTypePng, 0);
    int pages = count(handle);
    for (int page = 1; page <= pages; ++page) {
        char name[64];
        std::snprintf(name, sizeof name, "made-gs-tiger%04d", page);
        EXPECT_EQ(convert(handle, page, name), kStatusSuccess);
    }
    close(handle);
    platform::freeLibrary(library);

    std::vector<std::string> names = listFolder(m_root + "wizard");
    ASSERT_EQ(names, std::vector<std::string>{"made-gs-tiger0001.png"});
    EXPECT_EQ(names, listFolder(folder));
    for (const std::string& name : names) {
        EXPECT_TRUE(isPng(folder + name));
        EXPECT_EQ(readFile(m_root + "wizard/" + name), readFile(folder + name)) << name;
    }
}

// Over the real library: files it cannot open are named after the add, a
// document cut short converts with a row that says which pages lost their
// content, and a page too large at 500 dpi says so instead of blaming the
// disk.
TEST_F(RealLibraryTest, FilesThatCannotBeUsedWhollySayWhy) {
    const std::string cut = corpus("damaged-truncated-60pct-classic-xref.pdf");
    if (!fs::exists(cut))
        GTEST_SKIP() << "the corpus lacks the truncated document";
    ASSERT_TRUE(openWindow());
    // A page of 8,400 points: 58,333 pixels square at 500 dpi.
    std::string huge = makeFile("huge.pdf",
                                "%PDF-1.4\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
                                "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj\n"
                                "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 8400 8400] >>\nendobj\n"
                                "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
    m_window->addFiles({cut, makeFile("notes.pdf", "plain text, named as a document"),
                        makeFile("header.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n" + std::string(30, ' '))});
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(
        m_messages[0].text,
        "These files were not added:\n\nnotes.pdf: not a PDF document\nheader.pdf: damaged beyond repair");
    ASSERT_EQ(rows().size(), 1u);
    EXPECT_EQ(cell(m_window->fileList(), 0, 1), "134");

    press(1008);
    choose(1120, 0);  // BMP, the quickest to write
    choose(1106, 0);  // 72 dpi
    choose(1107, 0);
    check(1031);
    type(1049, m_root + "out");
    convertAndWait();
    EXPECT_EQ(resultRows(), (std::vector<std::string>{"Incomplete|" + cut + "|" + m_root + "out/"}));
    EXPECT_EQ(m_window->progressPage()->reason(0),
              "pages 45-134 of 134: their content is lost in the damaged document, so their images are blank "
              "or incomplete");
    EXPECT_EQ(listFolder(m_root + "out").size(), 134u) << "every page is written all the same";

    press(1062);
    m_window->fileList()->DeleteAllItems();
    m_window->addFile(huge);
    press(1008);
    choose(1106, 7);  // 500 dpi
    choose(1107, 7);
    convertAndWait();
    EXPECT_EQ(resultRows(), (std::vector<std::string>{"Failed|" + huge + "|" + m_root + "out/"}));
    EXPECT_EQ(
        m_window->progressPage()->reason(0),
        "page 1: the page has too many pixels at 500 dpi to be drawn or saved: choose a lower DPI in step 2");
}

}  // namespace

}  // namespace glimmark::test
