#include "frontend/ThemedButton.h"

#include "frontend/VisualStyles.h"

namespace glimmark {

void ThemedButton::setVisualStyles(VisualStyles* styles) {
    m_styles = styles;
    if (styles && !styles->isAppThemed())
        setDrawBorder(true);
    Refresh();
}

void ThemedButton::setToolbarStyle(bool toolbar) {
    m_toolbar = toolbar;
    Refresh();
}

int ThemedButton::themeState() const {
    if (!IsEnabled())
        return VisualStyles::kStateDisabled;
    if (isPressedLook())
        return VisualStyles::kStatePressed;
    if (isHovered())
        return VisualStyles::kStateHot;
    // A toolbar-styled button shows the default look only when it draws
    // its focus frame.
    if (isDefault() && (!m_toolbar || drawsFlatFocus()))
        return VisualStyles::kStateDefaulted;
    return VisualStyles::kStateNormal;
}

void ThemedButton::drawBackground(wxDC& dc, const wxRect& rect, bool pressed) {
    if (m_styles && m_styles->isAppThemed()) {
        if (VisualStyles::Theme theme = m_styles->openThemeData(this, m_toolbar ? "TOOLBAR" : "BUTTON")) {
            m_styles->drawThemeParentBackground(this, dc, rect);
            m_styles->drawThemeBackground(theme, dc, VisualStyles::kPartPushButton, themeState(), rect);
            m_styles->closeThemeData(theme);
            return;
        }
    }
    IconButton::drawBackground(dc, rect, pressed);
}

}  // namespace glimmark
