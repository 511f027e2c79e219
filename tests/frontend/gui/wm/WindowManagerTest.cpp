// What the wizard does under a window manager: these tests run on a display
// of their own with openbox (with-window-manager.sh) and skip without one.

#include <wx/display.h>

#include <wx/dcmemory.h>

#include <cstdlib>
#include <cstring>

#include "frontend/Artwork.h"
#include "frontend/IconButton.h"
#include "tests/frontend/gui/wm/WindowManagerSupport.h"

namespace glimmark::test {

namespace {

using WindowManagerTest = WindowManagerGuiTest;

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

// The wizard's buttons show where the keyboard focus is, as the platform's
// buttons do: Tab moves it from button to button and the ring moves along.
TEST_F(WindowManagerTest, ButtonsDrawAFocusRing) {
    ASSERT_TRUE(openWindow());
    m_window->Raise();
    auto render = [](IconButton* button) {
        wxBitmap bitmap(button->GetClientSize());
        {
            wxMemoryDC dc(bitmap);
            button->draw(dc);
        }
        return bitmap.ConvertToImage();
    };
    // The page's buttons, the round picture buttons and the title band's
    // (flat, over the band's picture).
    for (int id : {1040, 1003, 1009, 1100, 1011, 1017}) {
        auto* button = control<IconButton>(id);
        ASSERT_TRUE(button) << id;
        wxImage plain = render(button);
        button->SetFocus();
        ASSERT_TRUE(pumpUntil([&] { return button->HasFocus(); })) << "the window manager gave no focus";
        wxImage focused = render(button);
        ASSERT_EQ(plain.GetSize(), focused.GetSize());
        EXPECT_NE(std::memcmp(plain.GetData(), focused.GetData(), 3 * plain.GetWidth() * plain.GetHeight()),
                  0)
            << "the focused button " << id << " looks different";
    }
    auto* addFiles = control<IconButton>(1017);
    auto* addFolder = control<IconButton>(1040);
    addFolder->SetFocus();
    ASSERT_TRUE(pumpUntil([&] { return addFolder->HasFocus(); }));
    wxImage plain = render(addFiles);
    addFiles->SetFocus();
    ASSERT_TRUE(pumpUntil([&] { return addFiles->HasFocus(); }));

    // Tab, as the keyboard sends it, moves the focus and the ring.
    if (std::system("command -v xdotool >/dev/null 2>&1") == 0) {
        std::system("xdotool key Tab");
        EXPECT_TRUE(pumpUntil([&] { return addFolder->HasFocus(); }));
        wxImage after = render(addFiles);
        EXPECT_EQ(std::memcmp(plain.GetData(), after.GetData(), 3 * plain.GetWidth() * plain.GetHeight()), 0)
            << "the ring left the button the focus left";
    }
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
