#pragma once

#include <wx/button.h>
#include <wx/string.h>

#include "frontend/Artwork.h"

namespace glimmark {

// The wizard's buttons are made here and nowhere else, so that their look can
// change in one place. They are the toolkit's buttons with the program's
// pictures. UI thread.

enum class ImageSide { kLeft, kRight };

// A push button with a picture beside its text.
wxButton* makeIconButton(wxWindow* parent, int id, const wxString& label, Icon icon,
                         ImageSide side = ImageSide::kLeft);

// A push button with only a picture.
wxButton* makePictureButton(wxWindow* parent, int id, Icon icon, const wxString& tip);

// A flat, square button with only a picture, for the title band.
wxButton* makeBandButton(wxWindow* parent, int id, Icon icon, const wxString& tip);

// Changes a button's picture (the maximise button shows maximise or restore).
void setButtonIcon(wxButton* button, Icon icon);

}  // namespace glimmark
