// At its smallest the wizard still shows every text of every step whole:
// each control lies inside the window and inside the box that holds it, is
// at least as large as its text asks, and overlaps no other control. Runs
// under openbox (with-window-manager.sh), which holds the window to its
// minimum size, and skips without it.

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include <sstream>

#include "frontend/ControlIds.h"
#include "frontend/IconButton.h"
#include "tests/frontend/gui/wm/WindowManagerSupport.h"

namespace glimmark::test {

namespace {

using MinimumSizeTest = WindowManagerGuiTest;

// Windows that only hold others: their own area is all theirs to share.
bool isHolder(const wxWindow* window) {
    return !window->IsKindOf(wxCLASSINFO(wxControl)) || window->IsKindOf(wxCLASSINFO(wxStaticBox));
}

void collectControls(wxWindow* window, std::vector<wxWindow*>& controls) {
    for (wxWindow* child : window->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown())
            continue;
        if (isHolder(child))
            collectControls(child, controls);
        else
            controls.push_back(child);
    }
}

// Controls that show a text of their own, which must fit them whole. A
// text that cuts itself with an ellipsis (the status line) shows what fits
// by design.
bool showsWholeText(const wxWindow* window) {
    if (auto* text = dynamic_cast<const wxStaticText*>(window))
        return !text->HasFlag(wxST_ELLIPSIZE_START | wxST_ELLIPSIZE_MIDDLE | wxST_ELLIPSIZE_END);
    // A button with only a picture (the title band's) has room round it to
    // spare.
    if (auto* button = dynamic_cast<const IconButton*>(window))
        return !button->GetLabel().empty();
    return dynamic_cast<const wxRadioButton*>(window) || dynamic_cast<const wxCheckBox*>(window) ||
           dynamic_cast<const wxButton*>(window) || dynamic_cast<const wxChoice*>(window);
}

std::string describe(const wxWindow* window) {
    wxRect rect = window->GetScreenRect();
    std::ostringstream text;
    text << window->GetId() << " \"" << window->GetLabel().utf8_string() << "\" at " << rect.x << ","
         << rect.y << " " << rect.width << "x" << rect.height;
    return text.str();
}

// Every fault of the window's layout as it is now, one per line.
std::string layoutFaults(wxWindow* window) {
    std::vector<wxWindow*> controls;
    collectControls(window, controls);
    std::ostringstream faults;
    const wxRect client(window->ClientToScreen(wxPoint(0, 0)), window->GetClientSize());
    for (size_t i = 0; i < controls.size(); ++i) {
        wxWindow* control = controls[i];
        wxRect rect = control->GetScreenRect();
        if (!client.Contains(rect))
            faults << describe(control) << " leaves the window\n";
        wxWindow* parent = control->GetParent();
        if (!wxRect(parent->ClientToScreen(wxPoint(0, 0)), parent->GetClientSize()).Contains(rect))
            faults << describe(control) << " is cut by its box\n";
        wxSize best = control->GetBestSize();
        if (showsWholeText(control) && (rect.width < best.x || rect.height < best.y))
            faults << describe(control) << " is smaller than its text, " << best.x << "x" << best.y << "\n";
        for (size_t j = i + 1; j < controls.size(); ++j) {
            if (rect.Intersects(controls[j]->GetScreenRect()))
                faults << describe(control) << " overlaps " << describe(controls[j]) << "\n";
        }
    }
    return faults.str();
}

TEST_F(MinimumSizeTest, EveryStepFitsTheSmallestWindow) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("a-document-with-a-rather-long-name-for-its-column.pdf"));
    m_window->SetSize(wxSize(300, 200));
    ASSERT_TRUE(pumpUntil([this] { return m_window->GetSize() == wxSize(684, 530); }));
    auto settle = [] { pumpFor(60); };
    settle();
    EXPECT_EQ(layoutFaults(m_window), "") << "step 1";

    press(kIdNext);
    const char* const types[] = {"BMP", "EMF", "WMF", "JPG", "PNG", "GIF", "TIF", "PCX"};
    for (int type = 0; type < 8; ++type) {
        choose(kIdImageType, type);
        settle();
        EXPECT_EQ(layoutFaults(m_window), "") << "step 2, " << types[type];
    }
    // The TIFF page at each depth, which offers other compressions.
    for (int depth = 0; depth < 4; ++depth) {
        choose(kIdTiffDepth, depth);
        settle();
        EXPECT_EQ(layoutFaults(m_window), "") << "step 2, TIF depth " << depth;
    }
    check(kIdSaveToFolder);
    type(kIdSavePath, m_root + "out");

    fakeSetPageDelay(150);
    press(kIdConvert);
    settle();
    EXPECT_EQ(layoutFaults(m_window), "") << "step 3, converting";
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 10000));
    settle();
    EXPECT_EQ(layoutFaults(m_window), "") << "step 3, completed";

    // Grown and back, the wrapping groups find their places again.
    m_window->SetSize(wxSize(900, 700));
    ASSERT_TRUE(pumpUntil([this] { return m_window->GetSize() == wxSize(900, 700); }));
    press(kIdFinish);
    press(kIdNext);
    choose(kIdImageType, 6);
    m_window->SetSize(wxSize(684, 530));
    ASSERT_TRUE(pumpUntil([this] { return m_window->GetSize() == wxSize(684, 530); }));
    settle();
    EXPECT_EQ(layoutFaults(m_window), "") << "step 2 after growing";
}

}  // namespace

}  // namespace glimmark::test
