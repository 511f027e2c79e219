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
#include "tests/frontend/gui/wm/WindowManagerSupport.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

class KeyboardTest : public WindowManagerGuiTest {
protected:
    void SetUp() override {
        WindowManagerGuiTest::SetUp();
        if (!IsSkipped() && std::system("command -v xdotool >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "xdotool is not installed";
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
    // Tab until the control of id has the focus, each press waited for;
    // false after a whole round.
    bool tabTo(int id) {
        for (size_t i = 0; i <= tabStops(m_window).size(); ++i) {
            wxWindow* before = focusedStop();
            if (before && before->GetId() == id)
                return true;
            key("Tab");
            if (!soon([&] { return focusedStop() != before; }))
                return false;
        }
        return focusedId() == id;
    }
    // Keys reach the window through the display: what they do is waited for.
    static bool soon(const std::function<bool()>& done) { return pumpUntil(done, 3000); }

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
        EXPECT_TRUE(soon([&] { return focusedStop() == stops.back(); })) << describe(focusedStop());
    }
}

// A step opens with the focus on its first control, so that the keys act at
// once; Escape is the close button, refused while a run is busy.
TEST_F(KeyboardTest, EachStepOpensOnItsFirstControlAndEscapeCloses) {
    openFocused();
    EXPECT_TRUE(pumpUntil([this] { return focusedId() == kIdFileList; })) << describe(focusedStop());
    m_window->addFile(makePdf("a.pdf"));
    key("Return");
    ASSERT_TRUE(soon([this] { return m_window->step() == 2; }));
    EXPECT_TRUE(soon([this] { return focusedId() == kIdImageType; })) << describe(focusedStop());
    fakeSetPageDelay(200);
    key("Return");
    ASSERT_TRUE(soon([this] { return m_window->step() == 3; }));
    EXPECT_TRUE(soon([this] { return focusedId() == kIdResultList; })) << describe(focusedStop());
    ASSERT_TRUE(m_window->isBusy());
    key("Escape");
    pumpFor(300);
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
    ASSERT_TRUE(soon([this] { return focusedId() == kIdFileList; }));
    auto selected = [this] {
        std::vector<long> rows;
        for (long row = 0; row < m_window->fileList()->GetItemCount(); ++row) {
            if (m_window->fileList()->GetItemState(row, wxLIST_STATE_SELECTED))
                rows.push_back(row);
        }
        return rows;
    };
    auto property = [this] { return control<wxTextCtrl>(kIdPropertyName)->GetValue().utf8_string(); };
    const struct {
        const char* keys;
        long row;
        const char* name;  // the properties' file name
    } kMoves[] = {
        {"Down", 0, "c.pdf"},  // listed first, as added last
        {"Down Down", 2, "a.pdf"}, {"Up", 1, "b.pdf"}, {"End", 2, "a.pdf"}, {"Home", 0, "c.pdf"},
    };
    for (const auto& move : kMoves) {
        key(move.keys);
        EXPECT_TRUE(soon([&] { return selected() == std::vector<long>{move.row}; }))
            << move.keys << ": " << ::testing::PrintToString(selected());
        EXPECT_EQ(property(), move.name) << move.keys;
    }
    key("Delete");
    ASSERT_TRUE(soon([this] { return m_messages.size() == 1; })) << "Delete asks first";
    EXPECT_TRUE(soon([this] { return rows().size() == 2; }));
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
    ASSERT_TRUE(soon([this] { return rows().size() == 1; })) << "Space on Add files adds the chosen file";
    key("Return");
    ASSERT_TRUE(soon([this] { return rows().size() == 2; })) << "Enter on Add files adds it again";
    ASSERT_TRUE(tabTo(kIdFileList));
    key("Down Delete");  // the first row; Delete asks, the answer is OK
    ASSERT_TRUE(soon([this] { return rows().size() == 1; }));
    key("Return");  // Next, the step's default button
    ASSERT_TRUE(soon([this] { return m_window->step() == 2; }));

    ASSERT_TRUE(soon([this] { return focusedId() == kIdImageType; }));
    auto* type = control<wxChoice>(kIdImageType);
    type->SetSelection(3);  // JPG, the default type
    key("Down");
    EXPECT_TRUE(soon([type] { return type->GetSelection() == 4; })) << "Down moves to PNG";
    ASSERT_TRUE(tabTo(kIdSaveToFolder));
    key("space");
    ASSERT_TRUE(soon([this] { return control<wxTextCtrl>(kIdSavePath)->IsEnabled(); }));
    key("Tab");
    ASSERT_TRUE(soon([this] { return focusedId() == kIdSavePath; }));
    key("ctrl+a");
    typeText(m_root + "out");
    key("Return");  // Convert
    ASSERT_TRUE(soon([this] { return m_window->step() == 3; }));
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 20000)) << "the run did not end";
    EXPECT_EQ(resultRows(), std::vector<std::string>{"Succeed|" + document + "|" + m_root + "out/"});
    EXPECT_EQ(listFolder(m_root + "out"), std::vector<std::string>{"gh-pdf20-simple0001.png"});
    EXPECT_EQ(readFile(m_root + "out/gh-pdf20-simple0001.png").compare(0, 4, "\x89PNG"), 0);

    key("Return");  // Finish
    EXPECT_TRUE(soon([this] { return m_window->step() == 1; }));
    EXPECT_TRUE(soon([this] { return focusedId() == kIdFileList; }));
}

}  // namespace

}  // namespace glimmark::test
