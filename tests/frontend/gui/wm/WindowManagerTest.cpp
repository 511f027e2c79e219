// What the wizard does under a window manager: these tests run on a display
// of their own with openbox (with-window-manager.sh) and skip without one.

#include <wx/display.h>

#include "frontend/Artwork.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

// True when a window manager has announced itself on the display
// (WindowManagerProbe.cpp, apart for the X headers' macros).
bool windowManagerRunning();

namespace {

class WindowManagerTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (!g_haveDisplay)
            GTEST_SKIP() << "no display";
        if (!pumpUntil(windowManagerRunning, 5000))
            GTEST_SKIP() << "no window manager";
    }
};

TEST_F(WindowManagerTest, MaximiseFillsTheWorkAreaAndRestoreGivesTheSizeBack) {
    ASSERT_TRUE(openWindow());
    m_window->SetSize(wxRect(60, 50, 800, 600));
    ASSERT_TRUE(pumpUntil([this] { return m_window->GetSize() == wxSize(800, 600); }));
    const wxRect before = m_window->GetRect();
    const wxRect workArea = wxDisplay(m_window).GetClientArea();
    auto maximised = [&] { return m_window->IsMaximized() && m_window->GetRect() == workArea; };

    press(1100);
    EXPECT_TRUE(pumpUntil(maximised)) << "maximised to the work area";
    EXPECT_EQ(m_window->maximiseIcon(), Icon::kRestore);

    press(1100);
    EXPECT_TRUE(pumpUntil([&] { return !m_window->IsMaximized() && m_window->GetRect() == before; }))
        << "restored to the size and place it had, not " << m_window->GetRect().x << ","
        << m_window->GetRect().y << " " << m_window->GetRect().width << "x" << m_window->GetRect().height
        << " from " << before.x << "," << before.y;
    EXPECT_EQ(m_window->maximiseIcon(), Icon::kMaximise);

    // A double click on the title band does the same, and the icon follows
    // the state whoever changes it.
    sendMouse(m_window, wxEVT_LEFT_DCLICK, wxPoint(200, 12), true);
    EXPECT_TRUE(pumpUntil(maximised));
    EXPECT_EQ(m_window->maximiseIcon(), Icon::kRestore);
    m_window->Maximize(false);
    EXPECT_TRUE(pumpUntil([&] { return !m_window->IsMaximized(); }));
    EXPECT_TRUE(pumpUntil([&] { return m_window->maximiseIcon() == Icon::kMaximise; }));
}

// Shrunk to its minimum by the window manager, the window fits every step
// without the toolkit complaining of room it does not have.
TEST_F(WindowManagerTest, MinimumSizeFitsEveryStepWithoutComplaint) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("a.pdf"));
    StderrCapture capture(m_root + "stderr.txt");
    m_window->SetSize(wxSize(300, 200));
    EXPECT_TRUE(pumpUntil([this] { return m_window->GetSize() == wxSize(684, 530); }));
    pumpFor(50);
    press(1008);
    for (int type = 0; type < 8; ++type) {
        choose(1120, type);
        pumpFor(30);
    }
    convertAndWait();
    pumpFor(50);
    std::string complaints = capture.restore();
    EXPECT_EQ(complaints.find("CRITICAL"), std::string::npos) << complaints;
}

}  // namespace

}  // namespace glimmark::test
