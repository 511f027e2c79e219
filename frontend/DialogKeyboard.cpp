#include "frontend/DialogKeyboard.h"

#include <wx/button.h>
#include <wx/statbox.h>
#include <wx/textctrl.h>
#include <wx/toplevel.h>

#include <algorithm>

#include "frontend/IconButton.h"

namespace glimmark {

namespace {

// Controls are the stops; panels and group boxes only hold them. A list
// with its rows and header windows is one control.
bool holdsStops(const wxWindow* window) {
    return !window->IsKindOf(wxCLASSINFO(wxControl)) || window->IsKindOf(wxCLASSINFO(wxStaticBox));
}

void collectStops(wxWindow* window, std::vector<wxWindow*>& stops) {
    for (wxWindow* child : window->GetChildren()) {
        if (child->IsTopLevel() || !child->IsShown() || !child->IsEnabled())
            continue;
        if (holdsStops(child))
            collectStops(child, stops);
        else if (child->AcceptsFocusFromKeyboard())
            stops.push_back(child);
    }
}

bool isButton(const wxWindow* window) {
    return dynamic_cast<const IconButton*>(window) || dynamic_cast<const wxButton*>(window);
}

bool wantsEnter(const wxWindow* window) {
    auto* text = dynamic_cast<const wxTextCtrl*>(window);
    return text && text->IsMultiLine();
}

void onKey(wxTopLevelWindow* window, const DialogKeys& keys, wxKeyEvent& event) {
    const bool plain = !event.ControlDown() && !event.AltDown() && !event.MetaDown();
    wxWindow* focus = tabStopOf(window, wxWindow::FindFocus());
    switch (event.GetKeyCode()) {
        case WXK_TAB:
            if (!plain)
                break;
            if (wxWindow* next = nextTabStop(window, focus, !event.ShiftDown()))
                next->SetFocus();
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER: {
            if (!plain)
                break;
            // A focused button takes the key itself, as it takes Space.
            if (isButton(focus) || wantsEnter(focus))
                break;
            wxWindow* button = keys.defaultButton ? keys.defaultButton() : nullptr;
            if (button && button->IsShownOnScreen() && button->IsEnabled())
                pressButton(button);
            return;
        }
        case WXK_ESCAPE:
            if (keys.cancel)
                keys.cancel();
            return;
        default:
            break;
    }
    event.Skip();
}

}  // namespace

void installDialogKeys(wxTopLevelWindow* window, DialogKeys keys) {
    window->Bind(wxEVT_CHAR_HOOK, [window, keys](wxKeyEvent& event) { onKey(window, keys, event); });
}

std::vector<wxWindow*> tabStops(wxWindow* root) {
    std::vector<wxWindow*> stops;
    if (root && root->IsShownOnScreen())
        collectStops(root, stops);
    return stops;
}

wxWindow* tabStopOf(wxWindow* root, wxWindow* focus) {
    std::vector<wxWindow*> stops = tabStops(root);
    for (wxWindow* window = focus; window && window != root; window = window->GetParent()) {
        if (std::find(stops.begin(), stops.end(), window) != stops.end())
            return window;
    }
    return nullptr;
}

wxWindow* nextTabStop(wxWindow* root, wxWindow* from, bool forward) {
    std::vector<wxWindow*> stops = tabStops(root);
    if (stops.empty())
        return nullptr;
    auto at = std::find(stops.begin(), stops.end(), from);
    if (at == stops.end())
        return forward ? stops.front() : stops.back();
    if (forward)
        return ++at == stops.end() ? stops.front() : *at;
    return at == stops.begin() ? stops.back() : *--at;
}

bool focusFirstTabStop(wxWindow* area) {
    std::vector<wxWindow*> stops = tabStops(area);
    if (stops.empty())
        return false;
    stops.front()->SetFocus();
    return true;
}

void pressButton(wxWindow* button) {
    if (auto* iconButton = dynamic_cast<IconButton*>(button)) {
        iconButton->click();
        return;
    }
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    event.SetEventObject(button);
    button->HandleWindowEvent(event);
}

}  // namespace glimmark
