#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "frontend/DesktopOpen.h"
#include "frontend/ProgressPage.h"
#include "frontend/TextList.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

using ConversionTest = GuiTest;

int gauge(const GuiTest& test, int id, MainWindow* window) {
    (void)test;
    return dynamic_cast<wxGauge*>(window->FindWindow(id))->GetValue();
}

// Lines of the stand-in library's call record that start with the prefix.
std::vector<std::string> callsStartingWith(const std::string& prefix) {
    std::vector<std::string> found;
    std::string calls = fakeCalls();
    size_t position = 0;
    while (position < calls.size()) {
        size_t end = calls.find('\n', position);
        std::string line = calls.substr(position, end - position);
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line);
        position = end + 1;
    }
    return found;
}

TEST_F(ConversionTest, FinishReturnsToStepOneUnlessTheLogFolderIsInvalid) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("one.pdf"));
    convertAndWait();
    ASSERT_EQ(m_window->step(), 3);

    tick(1039, true);
    for (const std::string& bad : {std::string("c:log"), "/" + std::string(300, 'l')}) {
        m_messages.clear();
        type(1042, bad);
        press(1062);
        EXPECT_EQ(m_window->step(), 3) << bad;
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages[0].text, "Log path invalid,please check it!");
        EXPECT_EQ(m_messages[0].caption, "Warning");
        EXPECT_EQ(resultRows().size(), 1u) << "the rows stay";
    }

    // With logging off any text is accepted and no log is written.
    tick(1039, false);
    press(1062);
    EXPECT_EQ(m_window->step(), 1);
    EXPECT_EQ(control<wxListCtrl>(1037)->GetItemCount(), 0);
    EXPECT_EQ(gauge(*this, 1038, m_window), 0);
    EXPECT_TRUE(m_window->fileList()->IsShownOnScreen());
    EXPECT_EQ(control<wxStaticText>(1001)->GetLabel(), "Step1: Add files");
    EXPECT_EQ(rows().size(), 1u) << "the file list stays for the next run";
}

TEST_F(ConversionTest, ImagesGoBesideTheInputWithFourDigitPageNumbers) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("report-12p.pdf"));
    press(1008);
    choose(1120, 4);
    convertAndWait();
    // The stand-in library reads the page count from the name's "-12p".
    EXPECT_TRUE(fs::exists(m_data + "report-12p0012.png"));
    EXPECT_TRUE(fs::exists(m_data + "report-12p0001.png"));
    EXPECT_EQ(resultRows()[0], "Succeed|" + m_data + "report-12p.pdf|" + m_data);

    // A double click on the row opens its folder, or says once why not.
    auto activate = [this] {
        wxListEvent event(wxEVT_LIST_ITEM_ACTIVATED, 1037);
        event.m_itemIndex = 0;
        control<wxListCtrl>(1037)->ProcessWindowEvent(event);
    };
    activate();
    EXPECT_EQ(m_opened, std::vector<std::string>{m_data});
    m_shellResult = kShellAccessDenied;
    activate();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text,
              "Unable to open the folder:\n\nThe operating system denied\naccess to the specified file.");
}

TEST_F(ConversionTest, MultiPageTiffMakesOneFilePerDocument) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("report.pdf"));
    press(1008);
    choose(1120, 6);
    check(1109);
    convertAndWait();
    EXPECT_EQ(listFolder(m_data), (std::vector<std::string>{"report.pdf", "report.tif"}));
    EXPECT_EQ(callsStartingWith("convert"),
              (std::vector<std::string>{"convert 1 null", "convert 2 null", "convert 3 null"}));
    // The status line kept the document's one name; completion clears it.
    EXPECT_EQ(control<wxStaticText>(1146)->GetLabel(), "");
}

TEST_F(ConversionTest, OptionsAreSentInTheirOrder) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("doc-1p.pdf"));
    press(1008);
    choose(1120, 0);  // BMP
    choose(1106, 7);
    choose(1107, 6);
    choose(1122, 1);
    check(1124);  // 256 greys: colour code 7
    check(1108);
    fakeReset();
    convertAndWait();
    EXPECT_EQ(callsStartingWith("set"),
              (std::vector<std::string>{"set 7 500", "set 8 300", "set 10 0", "set 11 0", "set 12 1",
                                        "set 6 8", "set 5 1"}));
    EXPECT_EQ(readFile(m_data + "doc-1p0001.bmp"),
              "type=1 bits=8 grey=1 dpi=500x300 quality=75 compression=0 page=1\n");
}

TEST_F(ConversionTest, QualityIsSentForJpegAndTiffOnly) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("doc-1p.pdf"));
    press(1008);
    choose(1120, 3);
    check(1031);
    type(1049, m_root + "out");
    fakeReset();
    convertAndWait();
    std::vector<std::string> sets = callsStartingWith("set");
    ASSERT_FALSE(sets.empty());
    EXPECT_EQ(sets.front(), "set 1 " + m_root + "out/") << "the folder goes first";
    EXPECT_EQ(sets.back(), "set 9 75");
}

TEST_F(ConversionTest, PasswordIsTriedAsOwnerThenAsUserPassword) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("a-encrypted-1p.pdf"));
    press(1008);
    for (const char* password : {"user", "owner"}) {
        type(1142, password);
        fakeReset();
        convertAndWait();
        EXPECT_EQ(resultRows().back().substr(0, 7), "Succeed") << password;
        press(1062);
        press(1008);
    }
    type(1142, "user");
    fakeReset();
    convertAndWait();
    EXPECT_EQ(callsStartingWith("open"), (std::vector<std::string>{"open a-encrypted-1p.pdf user null",
                                                                   "open a-encrypted-1p.pdf null user"}));
}

TEST_F(ConversionTest, DocumentWithoutPagesIsClosedAndFails) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("empty-0p.pdf"));
    fakeReset();
    convertAndWait();
    EXPECT_EQ(resultRows(), (std::vector<std::string>{"Failed|" + m_data + "empty-0p.pdf|" + m_data}));
    EXPECT_TRUE(callsStartingWith("convert").empty());
    EXPECT_EQ(callsStartingWith("close").size(), 1u);
}

TEST_F(ConversionTest, StopEndsAfterTheCurrentPageAndOpensNoFurtherFile) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("later.pdf"));
    m_window->addFile(makePdf("long-40p.pdf"));
    size_t probeCloses = callsStartingWith("close").size();
    fakeSetPageDelay(40);
    press(1008);
    press(1007);
    ASSERT_TRUE(pumpUntil([this] { return fs::exists(m_data + "long-40p0002.jpg"); }));
    press(1061);
    size_t pagesAtStop = callsStartingWith("convert").size();
    EXPECT_TRUE(m_window->isBusy());
    // Closing is refused while the run goes on.
    press(1011);
    EXPECT_TRUE(m_window->IsShown());
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }));
    fakeSetPageDelay(0);

    size_t pagesConverted = callsStartingWith("convert").size();
    EXPECT_LE(pagesConverted, pagesAtStop + 1) << "at most the page under way is finished";
    EXPECT_LT(pagesConverted, 40u);
    EXPECT_EQ(callsStartingWith("close").size(), probeCloses + 1) << "the document is closed";
    EXPECT_EQ(callsStartingWith("open later.pdf").size(), 1u) << "only the probe when it was added";
    // The interrupted file says it was stopped, the file never reached is
    // listed as not converted, and the bars stay where the run got to.
    EXPECT_EQ(resultRows(), (std::vector<std::string>{"Stopped|" + m_data + "long-40p.pdf|" + m_data,
                                                      "Not converted|" + m_data + "later.pdf|"}));
    std::string done = std::to_string(pagesConverted);
    EXPECT_EQ(control<wxStaticText>(1146)->GetLabel(), "long-40p.pdf: stopped after page " + done + " of 40");
    EXPECT_EQ(gauge(*this, 1038, m_window), 0);
    EXPECT_EQ(gauge(*this, 1145, m_window), static_cast<int>(pagesConverted) * 100 / 40);
    EXPECT_EQ(control<wxStaticText>(1001)->GetLabel(), "Conversion completed");

    tick(1039, true);
    type(1042, m_root + "log");
    press(1062);
    std::string log = readFile(m_root + "log/Glimmark.log");
    EXPECT_NE(log.find("[State:] Stopped\n[Reason:] stopped after page " + done + " of 40\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[State:] Not converted\n"), std::string::npos) << log;
    tick(1039, false);

    // A new run after Stop converts its files.
    press(1062);
    fakeReset();
    convertAndWait();
    EXPECT_EQ(resultRows().size(), 2u);
    EXPECT_EQ(callsStartingWith("convert").size(), 43u);
}

// A row that did not fully succeed says why in the status line, in the
// tooltip over the row (with the log off: the user sees it without one) and
// in the log.
TEST_F(ConversionTest, RowThatDidNotSucceedSaysWhyInTheStatusLineTooltipAndLog) {
    struct Case {
        const char* file;
        const char* password;
        bool unwritableFolder;
        int dpiIndex;  // 2: 100 dpi, 7: 500 dpi
        const char* state;
        const char* reason;
    };
    const Case cases[] = {
        {"locked-encrypted.pdf", "", false, 2, "Failed",
         "the document is protected: enter its password in step 2"},
        {"locked-encrypted.pdf", "guess", false, 2, "Failed",
         "wrong password: enter the document's owner or user password in step 2"},
        {"broken.pdf", "", false, 2, "Failed",
         "the document cannot be opened: it is damaged, not a PDF file, or encrypted in a way that is not "
         "supported"},
        {"empty-0p.pdf", "", false, 2, "Failed", "the document has no pages"},
        {"fine-2p.pdf", "", true, 2, "Failed",
         "page 2: the output folder cannot be written: choose another folder in step 2"},
        {"huge-1p.pdf", "", false, 7, "Failed",
         "page 1: the page has too many pixels at 500 dpi to be drawn or saved: choose a lower DPI in step "
         "2"},
        {"lost-5p.pdf", "", false, 2, "Incomplete",
         "pages 2 and 4 of 5: their content is lost in the damaged document, so their images are blank or "
         "incomplete"},
    };
    makeFile("blocker", "a file where the output folder should be");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.file);
        ASSERT_TRUE(openWindow());
        if (std::string(test.file) == "broken.pdf")
            makeFile(test.file, "no document here");
        else
            makePdf(test.file);
        // The probe drops unreadable files, so the list gets them directly.
        m_window->fileList()->setText(m_window->fileList()->insertRow(0), 0,
                                      wxString::FromUTF8(m_data + test.file));
        press(1008);
        type(1142, test.password);
        choose(1106, test.dpiIndex);
        choose(1107, test.dpiIndex);
        check(test.unwritableFolder ? 1031 : 1030);
        if (test.unwritableFolder)
            type(1049, m_data + "blocker/out");
        convertAndWait();
        EXPECT_EQ(resultRows().at(0).substr(0, resultRows().at(0).find('|')), test.state);
        EXPECT_EQ(control<wxStaticText>(1146)->GetLabel(), std::string(test.file) + ": " + test.reason);

        // The pointer over the row shows the reason, logging off as it is.
        TextList* results = m_window->progressPage()->resultList();
        tick(1039, false);
        wxWindow* rowsWindow = nullptr;
        for (wxWindow* child : results->GetChildren()) {
            if (!rowsWindow || child->GetSize().y > rowsWindow->GetSize().y)
                rowsWindow = child;
        }
        wxRect cell;
        ASSERT_TRUE(results->GetSubItemRect(0, 1, cell));
        sendMouse(rowsWindow, wxEVT_MOTION,
                  cell.GetPosition() - rowsWindow->GetPosition() + wxPoint(4, cell.height / 2));
        EXPECT_EQ(rowsWindow->GetToolTipText().utf8_string(), test.reason);

        tick(1039, true);
        type(1042, m_root + "log");
        press(1062);
        EXPECT_NE(readFile(m_root + "log/Glimmark.log")
                      .find(std::string("[State:] ") + test.state + "\n[Reason:] " + test.reason + "\n"),
                  std::string::npos);
        fs::remove(m_root + "log/Glimmark.log");
        closeWindow();
    }
}

// A failed or incomplete file in the middle of a run keeps its reason on its
// own row when the next file takes the status line.
TEST_F(ConversionTest, EachRowKeepsItsOwnReason) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("after-1p.pdf"));
    m_window->addFile(makePdf("lost-3p.pdf"));
    m_window->addFile(makePdf("locked-encrypted.pdf"));
    convertAndWait();
    EXPECT_EQ(resultRows(), (std::vector<std::string>{"Failed|" + m_data + "locked-encrypted.pdf|",
                                                      "Incomplete|" + m_data + "lost-3p.pdf|" + m_data,
                                                      "Succeed|" + m_data + "after-1p.pdf|" + m_data}));
    TextList* results = m_window->progressPage()->resultList();
    EXPECT_EQ(results->rowTip(0), "the document is protected: enter its password in step 2");
    EXPECT_EQ(
        results->rowTip(1),
        "page 2 of 3: its content is lost in the damaged document, so its image is blank or incomplete");
    EXPECT_EQ(results->rowTip(2), "");
    EXPECT_EQ(control<wxStaticText>(1146)->GetLabel(), "") << "the run ended with a success";
}

TEST_F(ConversionTest, WorkerPostsItsChangesInsteadOfTouchingControls) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("a-2p.pdf"));
    m_window->addFile(makePdf("b-2p.pdf"));
    press(1008);
    press(1007);
    // Without the UI thread running its events, the worker's whole run
    // leaves the controls as they were. The wait is generous (10 s) because
    // a loaded test machine may run the worker slowly.
    for (int wait = 0; wait < 5000 && callsStartingWith("close").size() < 2; ++wait)
        wxMilliSleep(2);
    ASSERT_EQ(callsStartingWith("close").size(), 2u);
    EXPECT_EQ(control<wxListCtrl>(1037)->GetItemCount(), 0);
    EXPECT_EQ(gauge(*this, 1038, m_window), 0);
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }));
    EXPECT_EQ(control<wxListCtrl>(1037)->GetItemCount(), 2);
}

}  // namespace

}  // namespace glimmark::test
