#include "frontend/Buttons.h"

#include "frontend/IconButton.h"
#include "frontend/ThemedButton.h"

namespace glimmark {

namespace {

constexpr int kBandButtonSize = 28;

}  // namespace

ThemedButton* makeIconButton(wxWindow* parent, int id, const wxString& label, Icon icon, VisualStyles* styles,
                             ImageSide side) {
    auto* button = new ThemedButton(parent, id, label);
    button->setIcon(icon);
    button->setAlignment(side == ImageSide::kRight ? IconButton::kIconRight : IconButton::kIconLeft);
    button->setFlat(true, true);
    button->setVisualStyles(styles);
    button->SetInitialSize();
    return button;
}

ThemedButton* makePictureButton(wxWindow* parent, int id, Icon icon, const wxString& tip,
                                VisualStyles* styles) {
    auto* button = new ThemedButton(parent, id, wxString());
    button->setIcon(icon);
    button->setTooltipText(tip);
    button->setFlat(true, true);
    button->setVisualStyles(styles);
    button->SetInitialSize();
    return button;
}

ThemedButton* makeDialogButton(wxWindow* parent, int id, const wxString& label, VisualStyles* styles,
                               bool isDefault) {
    auto* button = new ThemedButton(parent, id, label,
                                    isDefault ? IconButton::Kind::kDefaultPush : IconButton::Kind::kPush);
    button->setFlat(true, true);
    button->setVisualStyles(styles);
    button->SetInitialSize();
    return button;
}

IconButton* makeBandButton(wxWindow* parent, int id, Icon icon, const wxString& tip) {
    // The band's gradient shows through; the pointer raises a thin edge.
    auto* button = new IconButton(parent, id, wxString(), IconButton::Kind::kPush, wxDefaultPosition,
                                  wxSize(kBandButtonSize, kBandButtonSize));
    button->setIcon(icon);
    button->setTransparent(true);
    // Flat, yet the focus shows: Enter on an unmarked button would act
    // where the user cannot see.
    button->setFlat(true, true);
    button->setTooltipText(tip);
    return button;
}

void setButtonIcon(IconButton* button, Icon icon) {
    button->setIcon(icon);
}

}  // namespace glimmark
