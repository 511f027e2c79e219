#pragma once

#include <wx/bitmap.h>

class wxWindow;

namespace glimmark {

// The part of a parent window's background that lies behind one of its
// children, as a bitmap of the child's client size. The parent is asked to
// draw it through an erase-background event that carries a memory DC, its
// origin moved so that the parent draws in its own coordinates, as it would
// erase itself; a parent that draws no background of its own leaves its
// background colour. Null for a child of no size. UI thread.
wxBitmap parentBackground(wxWindow* child);

}  // namespace glimmark
