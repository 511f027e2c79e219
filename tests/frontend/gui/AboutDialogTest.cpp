#include "frontend/AboutDialog.h"

#include <wx/app.h>
#include <wx/stattext.h>
#include <wx/timer.h>

#include "frontend/HyperLink.h"
#include "frontend/IconButton.h"
#include "frontend/VisualStyles.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

using AboutDialogTest = GuiTest;

AboutDialog* shownAboutDialog() {
    for (wxWindow* window : wxTopLevelWindows) {
        auto* dialog = dynamic_cast<AboutDialog*>(window);
        if (dialog && dialog->IsShown())
            return dialog;
    }
    return nullptr;
}

bool hasText(wxWindow* parent, const wxString& text) {
    for (wxWindow* child : parent->GetChildren()) {
        auto* label = dynamic_cast<wxStaticText*>(child);
        if (label && label->GetLabel() == text)
            return true;
    }
    return false;
}

TEST_F(AboutDialogTest, AboutButtonShowsTheBoxWithItsLinksAndOkEndsIt) {
    ASSERT_TRUE(openWindow());
    ASSERT_TRUE(control<wxWindow>(1004)->IsEnabled());

    // The box runs its own loop: it is checked and closed from inside it.
    bool seen = false;
    wxTheApp->CallAfter([this, &seen] {
        AboutDialog* dialog = shownAboutDialog();
        if (!dialog) {
            ADD_FAILURE() << "no about box";
            return;
        }
        seen = true;
        EXPECT_TRUE(dialog->IsModal());
        EXPECT_EQ(m_window->FindWindow(1004)->GetToolTip(), nullptr) << "no tooltip left under the box";
        EXPECT_EQ(dialog->GetParent(), m_window);
        EXPECT_TRUE(dialog->FindWindow(1147)) << "the title picture";
        EXPECT_TRUE(hasText(dialog, "HomePage:"));
        EXPECT_TRUE(hasText(dialog, "Support:"));
        EXPECT_TRUE(hasText(dialog, AboutDialog::programLine()));
        auto* home = dynamic_cast<HyperLink*>(dialog->FindWindow(1068));
        auto* support = dynamic_cast<HyperLink*>(dialog->FindWindow(1067));
        if (!home || !support) {
            ADD_FAILURE() << "links 1068 and 1067";
        } else {
            EXPECT_EQ(home->targetText(), m_program + "docs/index.html");
            EXPECT_EQ(support->targetText(), m_program + "README.md");
            EXPECT_EQ(home->underlineMode(), HyperLink::kAlwaysUnderlined);
            EXPECT_EQ(support->underlineMode(), HyperLink::kAlwaysUnderlined);
            clickAt(home);
            EXPECT_EQ(m_opened, std::vector<std::string>{m_program + "docs/index.html"});
        }
        auto* ok = dynamic_cast<IconButton*>(dialog->FindWindow(wxID_OK));
        if (!ok || ok->GetLabel() != "OK") {
            ADD_FAILURE() << "no OK button";
            dialog->EndModal(wxID_CANCEL);
            return;
        }
        ok->click();
    });
    // Should the box not end, the test fails instead of waiting for ever.
    wxTimer safety;
    safety.Bind(wxEVT_TIMER, [](wxTimerEvent&) {
        if (AboutDialog* dialog = shownAboutDialog())
            dialog->EndModal(wxID_ABORT);
    });
    safety.StartOnce(5000);
    press(1004);
    safety.Stop();
    EXPECT_TRUE(seen);
    EXPECT_EQ(shownAboutDialog(), nullptr);
    EXPECT_EQ(control<wxWindow>(1004)->GetToolTipText(), "About");
}

TEST_F(AboutDialogTest, TheBoxHasNoCaptionAndIsDraggedByItsTitlePicture) {
    VisualStyles styles;
    AboutDialog dialog(nullptr, m_program, &styles);
    EXPECT_TRUE(dialog.HasFlag(wxBORDER_NONE));
    EXPECT_FALSE(dialog.HasFlag(wxCAPTION));
    dialog.Move(100, 100);
    dialog.Show();
    pumpFor(30);
    wxWindow* title = dialog.FindWindow(1147);
    ASSERT_NE(title, nullptr);
    wxPoint start = dialog.GetPosition();
    sendMouse(title, wxEVT_LEFT_DOWN, wxPoint(10, 10), true);
    sendMouse(title, wxEVT_MOTION, wxPoint(40, 25), true);
    EXPECT_EQ(dialog.GetPosition(), start + wxPoint(30, 15));
    sendMouse(title, wxEVT_LEFT_UP, wxPoint(40, 25));
    EXPECT_FALSE(title->HasCapture());

    // Escape ends the box as OK does.
    wxKeyEvent escape(wxEVT_CHAR_HOOK);
    escape.m_keyCode = WXK_ESCAPE;
    dialog.HandleWindowEvent(escape);
    EXPECT_FALSE(dialog.IsShown());
}

}  // namespace

}  // namespace glimmark::test
