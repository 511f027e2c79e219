#pragma once

#include <string>

class wxDC;
class wxRect;
class wxRendererNative;
class wxWindow;

namespace glimmark {

// The visual-styles library, bound at run time by name: each operation looks
// its entry point up by name on every call, and when the library or the
// entry point is missing a stub answers, so that the buttons fall back to
// drawing themselves. The library is the toolkit's native renderer (the
// desktop theme's look), bound when the object is made and let go when it is
// destroyed; it counts as missing when the toolkit offers only its generic
// renderer, or while hideNativeRenderer is on.
//
// Theme data are handles that openThemeData makes and closeThemeData frees.
// Owned by the window whose buttons use it, which keeps it alive while they
// exist. UI thread only; nothing throws except std::bad_alloc.
class VisualStyles {
public:
    // Opaque theme data of one window and control class.
    struct ThemeData;
    using Theme = ThemeData*;

    // The push-button part of the "BUTTON" and "TOOLBAR" classes and its
    // states.
    static constexpr int kPartPushButton = 1;
    enum PushButtonState : int {
        kStateNormal = 1,
        kStateHot = 2,
        kStatePressed = 3,
        kStateDisabled = 4,
        kStateDefaulted = 5,
    };

    VisualStyles();
    ~VisualStyles();
    VisualStyles(const VisualStyles&) = delete;
    VisualStyles& operator=(const VisualStyles&) = delete;

    // Makes objects created afterwards find no native renderer, as on a
    // desktop without one.
    static void hideNativeRenderer(bool hidden);

    // True when the library was found.
    bool isLoaded() const { return m_renderer != nullptr; }

    // Theme data for the window and the class named ("BUTTON" or "TOOLBAR"),
    // or null for any other class. Stub: null, no theme.
    Theme openThemeData(wxWindow* window, const std::string& className);
    // Frees theme data. Stub: failure (false).
    bool closeThemeData(Theme theme);
    // Paints the part of the window's parent that lies behind rect. Skipped
    // when missing.
    void drawThemeParentBackground(wxWindow* window, wxDC& dc, const wxRect& rect);
    // Draws a part of a control in one of its states over rect. Stub: failure
    // (false).
    bool drawThemeBackground(Theme theme, wxDC& dc, int part, int state, const wxRect& rect);
    // Whether the application draws with the theme. Stub: not themed.
    bool isAppThemed();

private:
    // An entry point of the library by its name, or null.
    template <class Function>
    Function entryPoint(const char* name) const;

    wxRendererNative* m_renderer = nullptr;  // the library; the toolkit owns it
};

}  // namespace glimmark
