#include "frontend/Buttons.h"

namespace glimmark {

namespace {

constexpr int kIconSize = 16;
constexpr int kBandButtonSize = 28;

}  // namespace

wxButton* makeIconButton(wxWindow* parent, int id, const wxString& label, Icon icon, ImageSide side) {
    auto* button = new wxButton(parent, id, label);
    button->SetBitmap(iconBitmap(icon, kIconSize), side == ImageSide::kRight ? wxRIGHT : wxLEFT);
    button->SetBitmapMargins(6, 0);
    return button;
}

wxButton* makePictureButton(wxWindow* parent, int id, Icon icon, const wxString& tip) {
    auto* button =
        new wxButton(parent, id, wxString(), wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT | wxBU_NOTEXT);
    button->SetBitmap(iconBitmap(icon, kIconSize));
    button->SetToolTip(tip);
    return button;
}

wxButton* makeBandButton(wxWindow* parent, int id, Icon icon, const wxString& tip) {
    auto* button =
        new wxButton(parent, id, wxString(), wxDefaultPosition, wxSize(kBandButtonSize, kBandButtonSize),
                     wxBU_EXACTFIT | wxBU_NOTEXT | wxBORDER_NONE);
    button->SetBitmap(iconBitmap(icon, kIconSize));
    button->SetToolTip(tip);
    return button;
}

void setButtonIcon(wxButton* button, Icon icon) {
    button->SetBitmap(iconBitmap(icon, kIconSize));
}

}  // namespace glimmark
