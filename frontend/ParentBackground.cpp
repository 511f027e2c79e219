#include "frontend/ParentBackground.h"

#include <wx/dcmemory.h>
#include <wx/event.h>
#include <wx/settings.h>
#include <wx/window.h>

namespace glimmark {

wxBitmap parentBackground(wxWindow* child) {
    wxSize size = child->GetClientSize();
    if (size.x <= 0 || size.y <= 0)
        return wxNullBitmap;
    wxWindow* parent = child->GetParent();
    wxBitmap bitmap(size);
    wxMemoryDC dc(bitmap);
    wxColour colour =
        parent ? parent->GetBackgroundColour() : wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    dc.SetBackground(wxBrush(colour));
    dc.Clear();
    if (parent && !child->IsTopLevel()) {
        wxPoint at = child->GetPosition() + child->GetClientAreaOrigin();
        dc.SetDeviceOrigin(-at.x, -at.y);
        wxEraseEvent erase(parent->GetId(), &dc);
        erase.SetEventObject(parent);
        parent->ProcessWindowEvent(erase);
        dc.SetDeviceOrigin(0, 0);
    }
    dc.SelectObject(wxNullBitmap);
    return bitmap;
}

}  // namespace glimmark
