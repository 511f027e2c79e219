// Pictures of the three wizard steps and of the about box, written to the
// test output folder (screenshots/) for the documentation. Taken from the X
// display with ImageMagick's import, which sees the window as the user would;
// this program runs while no other test has windows on the display.

#include <wx/app.h>
#include <wx/listctrl.h>
#include <wx/timer.h>

#include <cstdlib>
#include <filesystem>

#include "frontend/AboutDialog.h"
#include "platform/TempFile.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

using ScreenshotTest = GuiTest;

bool capture(wxWindow* window, const std::string& path) {
    window->Raise();
    window->Refresh();
    window->Update();
    pumpFor(250);
    wxRect rect = window->GetScreenRect();
    std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                          std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                          std::to_string(rect.y) + " +repage '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0 && fs::exists(path);
}

TEST_F(ScreenshotTest, EachWizardStep) {
    if (std::system("command -v import >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick's import is not installed";
    std::string folder = std::string(RENDOVA_TEST_OUTPUT_DIR) + "/screenshots/";
    fs::create_directories(folder);

    // The documents lie in a short folder, so that their names show.
    m_data = platform::tempDirectory() + "/glimmark-screens/";
    fs::remove_all(m_data);
    fs::create_directories(m_data);

    ASSERT_TRUE(openWindow());
    m_window->SetSize(wxSize(760, 560));
    m_window->Move(20, 20);
    m_window->addFile(makePdf("annual-report-24p.pdf", 812000));
    m_window->addFile(makePdf("brochure-6p.pdf", 240000));
    m_window->addFile(makePdf("contract-encrypted.pdf", 56000));
    m_window->addFile(makePdf("invoice-2p.pdf", 31000));
    selectRows({1});
    EXPECT_TRUE(capture(m_window, folder + "step1-add-files.png"));

    press(1008);
    choose(1120, 6);
    check(1109);
    EXPECT_TRUE(capture(m_window, folder + "step2-options.png"));

    // The run caught half way, so that rows and bars show.
    type(1142, "owner");
    choose(1120, 4);
    fakeSetPageDelay(60);
    press(1007);
    ASSERT_TRUE(pumpUntil([this] { return control<wxListCtrl>(1037)->GetItemCount() >= 3; }, 10000));
    pumpUntil([this] { return fs::exists(m_data + "brochure-6p0003.png"); });
    EXPECT_TRUE(capture(m_window, folder + "step3-converting.png"));
    press(1061);
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 10000));
    fs::remove_all(m_data);

    // The about box over the wizard, taken from inside its own loop.
    bool taken = false;
    wxTheApp->CallAfter([&] {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<AboutDialog*>(window);
            if (!dialog || !dialog->IsModal())
                continue;
            taken = capture(dialog, folder + "about-box.png");
            dialog->EndModal(wxID_OK);
        }
    });
    wxTimer safety;
    safety.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
        for (wxWindow* window : wxTopLevelWindows) {
            if (auto* dialog = dynamic_cast<AboutDialog*>(window); dialog && dialog->IsModal())
                dialog->EndModal(wxID_ABORT);
        }
    });
    safety.StartOnce(10000);
    press(1004);
    safety.Stop();
    EXPECT_TRUE(taken);
}

}  // namespace

}  // namespace glimmark::test
