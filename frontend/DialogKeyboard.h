#pragma once

#include <functional>
#include <vector>

class wxTopLevelWindow;
class wxWindow;

namespace glimmark {

// The keyboard of a dialog as the desktop's dialog manager gives it, which
// the toolkit leaves to native controls and our owner-drawn ones lack:
// - Tab and Shift+Tab move the focus through the tab stops in reading
//   order, round the end;
// - Enter presses the focused button, and anywhere else the default button;
// - Escape does what the dialog's cancel does.
// Space and the arrow keys stay with the focused control.
//
// The window's keys are taken before any of its controls sees them; the
// handlers live as long as the window. UI thread only.
struct DialogKeys {
    // The button that Enter presses; null, or a button hidden or disabled,
    // and Enter away from a button does nothing.
    std::function<wxWindow*()> defaultButton;
    std::function<void()> cancel;
};

void installDialogKeys(wxTopLevelWindow* window, DialogKeys keys);

// The controls that Tab visits under root: every shown, enabled control that
// takes the focus, in reading order, which is the order in which the window
// creates its controls (each container's children, depth first).
std::vector<wxWindow*> tabStops(wxWindow* root);

// The tab stop under root that holds focus (a list's rows window, say, is
// part of the list), or null.
wxWindow* tabStopOf(wxWindow* root, wxWindow* focus);

// The stop after (or before) from, round the end; with from not a stop of
// root, the first (or last) one. Null when root has none.
wxWindow* nextTabStop(wxWindow* root, wxWindow* from, bool forward);

// Gives the focus to the first tab stop under area; false when it has none.
bool focusFirstTabStop(wxWindow* area);

// A click on a button, as the mouse would make it.
void pressButton(wxWindow* button);

}  // namespace glimmark
