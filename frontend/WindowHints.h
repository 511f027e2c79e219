#pragma once

class wxTopLevelWindow;

namespace glimmark {

// Presents a dialog to the window manager as an ordinary application window
// that may be moved, resized, maximised, minimised and closed: a window
// manager lets a frameless dialog only move. Call once the window's style
// is set and before it is first shown; does nothing where the toolkit offers
// no such hints. UI thread.
void presentAsMainWindow(wxTopLevelWindow* window);

}  // namespace glimmark
