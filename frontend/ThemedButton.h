#pragma once

#include "frontend/IconButton.h"

namespace glimmark {

class VisualStyles;

// An IconButton whose background and border come from the desktop theme
// (VisualStyles) when the application is themed: the parent's background,
// then the theme's push button in the button's state. Without a theme, or
// when the theme has no data for buttons, it draws as an IconButton.
//
// The VisualStyles is not owned and must outlive the button. UI thread only.
class ThemedButton : public IconButton {
public:
    using IconButton::IconButton;

    // Draws through styles from now on (null: never). Styles that report no
    // theme turn the border on, so that the button still shows its edges
    // when the pointer is over it.
    void setVisualStyles(VisualStyles* styles);
    // Draws as a toolbar button (flat at rest) rather than a push button.
    void setToolbarStyle(bool toolbar);

    // The theme state the button is drawn in (VisualStyles::PushButtonState).
    int themeState() const;

protected:
    void drawBackground(wxDC& dc, const wxRect& rect, bool pressed) override;

private:
    VisualStyles* m_styles = nullptr;
    bool m_toolbar = false;
};

}  // namespace glimmark
