// The wizard with the keyboard alone: keys typed on the display with xdotool,
// as a user types them, under openbox (with-window-manager.sh), which gives
// the window the keyboard. Skipped without a window manager or xdotool.

#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "frontend/ControlIds.h"
#include "frontend/DialogKeyboard.h"
#include "frontend/LibraryInterface.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

bool windowManagerRunning();

namespace {

namespace fs = std::filesystem;

class KeyboardTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (!g_haveDisplay)
            GTEST_SKIP() << "no display";
        if (std::system("command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xdotool is not installed";
        if (!pumpUntil(windowManagerRunning, 5000))
            GTEST_SKIP() << "no window manager";
    }

    // The window, shown and holding the keyboard.
    void openFocused() {
        ASSERT_TRUE(openWindow());
        m_window->Raise();
        ASSERT_TRUE(pumpUntil([this] { return m_window->IsActive(); })) << "the window manager gave no focus";
        pumpFor(50);
    }

    // Keys by their X names ("Tab", "shift+Tab", "Return", "space"), typed
    // one after the other.
    void key(const std::string& names) {
        std::string command = "xdotool key --delay 30 " + names;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        pumpFor(60);
    }
    void typeText(const std::string& text) {
        std::string command = "xdotool type --delay 20 '" + text + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        pumpFor(60);
    }

    wxWindow* focusedStop() const { return tabStopOf(m_window, wxWindow::FindFocus()); }
    int focusedId() const {
        wxWindow* stop = focusedStop();
        return stop ? stop->GetId() : 0;
    }
    // Tab until the control of id has the focus; false after a whole round.
    bool tabTo(int id) {
        for (size_t i = 0; i <= tabStops(m_window).size(); ++i) {
            if (focusedId() == id)
                return true;
            key("Tab");
        }
        return focusedId() == id;
    }

    std::vector<int> stopIds() const {
        std::vector<int> ids;
        for (wxWindow* stop : tabStops(m_window))
            ids.push_back(stop->GetId());
        return ids;
    }
};

// A follows B in reading order: B lies below A, or beside it to the right.
bool readsAfter(const wxRect& a, const wxRect& b) {
    bool below = b.y + b.height / 2 > a.GetBottom();
    bool overlapDown = b.y <= a.GetBottom() && b.GetBottom() >= a.y;
    return below || (overlapDown && b.x >= a.GetRight());
}

std::string describe(wxWindow* window) {
    if (!window)
        return "nothing";
    return std::to_string(window->GetId()) + " " +
           wxString(window->GetClassInfo()->GetClassName()).utf8_string() + " \"" +
           window->GetLabel().utf8_string() + "\"";
}

// Each step offers every control it shows, in reading order; Tab visits
// them all and comes round, Shift+Tab goes back the same way.
TEST_F(KeyboardTest, TabVisitsEveryControlOfEachStepInReadingOrder) {
    openFocused();
    m_window->addFile(makePdf("a.pdf"));
    m_window->addFile(makePdf("b.pdf"));
    const std::vector<int> band = {kIdMinimise, kIdMaximise, kIdClose};
    auto with = [&band](std::vector<int> ids) {
        ids.insert(ids.begin(), band.begin(), band.end());
        return ids;
    };
    struct Step {
        const char* name;
        std::function<void()> enter;
        std::vector<int> stops;
    };
    const std::vector<Step> steps = {
        {"step 1", [] {},
         with({kIdFileList, kIdPropertyName, kIdPropertySize, kIdPropertyType, kIdPropertyModified,
               kIdPropertyCreated, kIdPropertyAccessed, kIdPropertyAttributes, kIdAddFiles, kIdAddFolder,
               kIdClear, kIdDelete, kIdHelp, kIdAbout, kIdNext})},
        {"step 2, TIF at 24 bits",
         [this] {
             press(kIdNext);
             choose(kIdImageType, 6);
             choose(kIdTiffDepth, 0);
             check(kIdTiffLzw);
             check(kIdSaveToFolder);
         },
         with({kIdImageType, kIdXDpi, kIdYDpi, kIdTiffDepth, kIdTiffNone, kIdTiffLzw, kIdTiffPackbits,
               kIdTiffJpeg, kIdTifModeSingle, kIdTifModeMulti, kIdSaveBesideInput, kIdSaveToFolder,
               kIdSavePath, kIdBrowseSavePath, kIdPassword, kIdHelp, kIdAbout, kIdPrevious, kIdConvert})},
        {"step 2, JPG",
         [this] {
             choose(kIdImageType, 3);
             check(kIdSaveBesideInput);
         },
         with({kIdImageType, kIdXDpi, kIdYDpi, kIdJpegDepth, kIdJpegQuality, kIdSaveBesideInput,
               kIdSaveToFolder, kIdPassword, kIdHelp, kIdAbout, kIdPrevious, kIdConvert})},
        {"step 3, finished",
         [this] {
             check(kIdSaveToFolder);
             type(kIdSavePath, m_root + "out");
             convertAndWait();
             tick(kIdRecordLog, true);
         },
         with({kIdResultList, kIdRecordLog, kIdLogPath, kIdBrowseLogPath, kIdHelp, kIdAbout, kIdFinish})},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.enter();
        pumpFor(50);
        ASSERT_EQ(stopIds(), step.stops);
        std::vector<wxWindow*> stops = tabStops(m_window);
        for (size_t i = 1; i < stops.size(); ++i) {
            EXPECT_TRUE(readsAfter(stops[i - 1]->GetScreenRect(), stops[i]->GetScreenRect()))
                << describe(stops[i]) << " after " << describe(stops[i - 1]);
        }

        stops.front()->SetFocus();
        ASSERT_TRUE(pumpUntil([&] { return focusedStop() == stops.front(); })) << describe(stops.front());
        for (size_t i = 1; i <= stops.size(); ++i) {
            key("Tab");
            wxWindow* expected = stops[i % stops.size()];
            EXPECT_TRUE(pumpUntil([&] { return focusedStop() == expected; }, 1000))
                << "Tab gave " << describe(focusedStop()) << ", not " << describe(expected);
        }
        key("shift+Tab");
        EXPECT_EQ(focusedStop(), stops.back()) << describe(focusedStop());
    }
}

// A step opens with the focus on its first control, so that the keys act at
// once; Escape is the close button, refused while a run is busy.
TEST_F(KeyboardTest, EachStepOpensOnItsFirstControlAndEscapeCloses) {
    openFocused();
    EXPECT_TRUE(pumpUntil([this] { return focusedId() == kIdFileList; })) << describe(focusedStop());
    m_window->addFile(makePdf("a.pdf"));
    key("Return");
    EXPECT_EQ(m_window->step(), 2);
    EXPECT_EQ(focusedId(), kIdImageType);
    fakeSetPageDelay(200);
    key("Return");
    ASSERT_EQ(m_window->step(), 3);
    EXPECT_EQ(focusedId(), kIdResultList);
    ASSERT_TRUE(m_window->isBusy());
    key("Escape");
    EXPECT_TRUE(m_window->IsShown()) << "closed while converting";
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 10000));
    key("Escape");
    EXPECT_TRUE(pumpUntil([this] { return !m_window->IsShown(); })) << "Escape did not close";
}

// The arrow keys move the selection of the file list, which the properties
// follow, from the first row when none was chosen.
TEST_F(KeyboardTest, ArrowKeysMoveTheListSelection) {
    openFocused();
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        m_window->addFile(makePdf(name));
    ASSERT_EQ(focusedId(), kIdFileList);
    auto selected = [this] {
        std::vector<long> rows;
        for (long row = 0; row < m_window->fileList()->GetItemCount(); ++row) {
            if (m_window->fileList()->GetItemState(row, wxLIST_STATE_SELECTED))
                rows.push_back(row);
        }
        return rows;
    };
    auto property = [this] { return control<wxTextCtrl>(kIdPropertyName)->GetValue().utf8_string(); };
    key("Down");
    EXPECT_EQ(selected(), std::vector<long>{0});
    key("Down Down");
    EXPECT_EQ(selected(), std::vector<long>{2});
    EXPECT_EQ(property(), "a.pdf");  // added first, listed last
    key("Up");
    EXPECT_EQ(selected(), std::vector<long>{1});
    EXPECT_EQ(property(), "b.pdf");
    key("Delete");
    ASSERT_EQ(m_messages.size(), 1u) << "Delete asks first";
    EXPECT_EQ(rows().size(), 2u);
}

// A whole run from the keys alone over the real library: add a document,
// pick PNG and a folder, convert, finish.
TEST_F(KeyboardTest, WholeConversionWithTheKeyboardAlone) {
    m_libraryName = std::string(GLIMMARK_PROGRAM_DIR) + "/" + kLibraryName;
    const std::string document = std::string(RENDOVA_CORPUS_DIR) + "/gh-pdf20-simple.pdf";
    if (!fs::exists(document))
        GTEST_SKIP() << "the corpus is not beside the source tree";
    m_chosenFiles = {document};
    openFocused();

    ASSERT_TRUE(tabTo(kIdAddFiles));
    key("space");
    ASSERT_EQ(rows().size(), 1u) << "Space on Add files adds the chosen file";
    key("Return");
    ASSERT_EQ(rows().size(), 2u) << "Enter on Add files adds it again";
    ASSERT_TRUE(tabTo(kIdFileList));
    key("Down Delete");  // the first row; Delete asks, the answer is OK
    ASSERT_EQ(rows().size(), 1u);
    key("Return");  // Next, the step's default button
    ASSERT_EQ(m_window->step(), 2);

    ASSERT_EQ(focusedId(), kIdImageType);
    control<wxChoice>(kIdImageType)->SetSelection(3);  // JPG, the default type
    key("Down");
    EXPECT_EQ(control<wxChoice>(kIdImageType)->GetSelection(), 4) << "Down moves to PNG";
    ASSERT_TRUE(tabTo(kIdSaveToFolder));
    key("space");
    key("Tab");
    ASSERT_EQ(focusedId(), kIdSavePath);
    EXPECT_TRUE(control<wxTextCtrl>(kIdSavePath)->IsEnabled());
    key("ctrl+a");
    typeText(m_root + "out");
    key("Return");  // Convert
    ASSERT_EQ(m_window->step(), 3);
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 20000)) << "the run did not end";
    EXPECT_EQ(resultRows(), std::vector<std::string>{"Succeed|" + document + "|" + m_root + "out/"});
    EXPECT_EQ(listFolder(m_root + "out"), std::vector<std::string>{"gh-pdf20-simple0001.png"});
    EXPECT_EQ(readFile(m_root + "out/gh-pdf20-simple0001.png").compare(0, 4, "\x89PNG"), 0);

    key("Return");  // Finish
    EXPECT_EQ(m_window->step(), 1);
    EXPECT_EQ(focusedId(), kIdFileList);
}

}  // namespace

}  // namespace glimmark::test
