#pragma once

#include <wx/string.h>

#include "frontend/Artwork.h"

class wxWindow;

namespace glimmark {

class IconButton;
class ThemedButton;
class VisualStyles;

// The wizard's buttons are made here and nowhere else, so that their look can
// change in one place. They are the program's own owner-drawn buttons with
// its pictures: themed buttons (the desktop theme's look through styles)
// for the buttons of the pages and dialogs, which show the keyboard focus
// with the platform's focus ring, plain icon buttons that show the title
// band through them for the band's window buttons. styles must
// outlive the buttons. UI thread.

enum class ImageSide { kLeft, kRight };

// A push button with a picture beside its text.
ThemedButton* makeIconButton(wxWindow* parent, int id, const wxString& label, Icon icon, VisualStyles* styles,
                             ImageSide side = ImageSide::kLeft);

// A push button with only a picture.
ThemedButton* makePictureButton(wxWindow* parent, int id, Icon icon, const wxString& tip,
                                VisualStyles* styles);

// A dialog's button with only a text; the default button takes Enter.
ThemedButton* makeDialogButton(wxWindow* parent, int id, const wxString& label, VisualStyles* styles,
                               bool isDefault);

// A flat, square button with only a picture, for the title band.
IconButton* makeBandButton(wxWindow* parent, int id, Icon icon, const wxString& tip);

// Changes a button's picture (the maximise button shows maximise or restore).
void setButtonIcon(IconButton* button, Icon icon);

}  // namespace glimmark
