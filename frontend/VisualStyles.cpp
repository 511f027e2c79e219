#include "frontend/VisualStyles.h"

#include <wx/dc.h>
#include <wx/renderer.h>
#include <wx/window.h>

#include <strings.h>
#include <cstring>

#include "frontend/ParentBackground.h"

namespace glimmark {

struct VisualStyles::ThemeData {
    wxWindow* window;
    bool toolbar;  // "TOOLBAR" rather than "BUTTON"
};

namespace {

bool g_nativeRendererHidden = false;

// The library's entry points, as the native renderer provides them. The
// table stands in for the library's export table: callers find an entry by
// its name and cast it back to its own type.
using Proc = void (*)();

VisualStyles::Theme nativeOpenThemeData(wxRendererNative&, wxWindow* window, const std::string& className) {
    // Class names are matched without regard to case, as the library does.
    bool button = strcasecmp(className.c_str(), "BUTTON") == 0;
    bool toolbar = strcasecmp(className.c_str(), "TOOLBAR") == 0;
    if (!window || (!button && !toolbar))
        return nullptr;
    return new VisualStyles::ThemeData{window, toolbar};
}

bool nativeCloseThemeData(wxRendererNative&, VisualStyles::Theme theme) {
    delete theme;
    return true;
}

void nativeDrawThemeParentBackground(wxRendererNative&, wxWindow* window, wxDC& dc, const wxRect& rect) {
    wxBitmap background = parentBackground(window);
    if (!background.IsOk())
        return;
    wxDCClipper clip(dc, rect);
    dc.DrawBitmap(background, 0, 0);
}

bool nativeDrawThemeBackground(wxRendererNative& renderer, VisualStyles::Theme theme, wxDC& dc, int part,
                               int state, const wxRect& rect) {
    if (!theme || part != VisualStyles::kPartPushButton)
        return false;
    int flags = 0;
    switch (state) {
        case VisualStyles::kStateNormal:
            break;
        case VisualStyles::kStateHot:
            flags = wxCONTROL_CURRENT;
            break;
        case VisualStyles::kStatePressed:
            flags = wxCONTROL_PRESSED;
            break;
        case VisualStyles::kStateDisabled:
            flags = wxCONTROL_DISABLED;
            break;
        case VisualStyles::kStateDefaulted:
            // The toolbar's fifth state is a button held down (checked).
            flags = theme->toolbar ? wxCONTROL_PRESSED : wxCONTROL_ISDEFAULT;
            break;
        default:
            return false;
    }
    // A toolbar button at rest or disabled is flat: only its parent shows.
    if (theme->toolbar && (state == VisualStyles::kStateNormal || state == VisualStyles::kStateDisabled))
        return true;
    renderer.DrawPushButton(theme->window, dc, rect, flags);
    return true;
}

bool nativeIsAppThemed(wxRendererNative&) {
    return true;
}

struct EntryPoint {
    const char* name;
    Proc proc;
};

const EntryPoint kEntryPoints[] = {
    {"OpenThemeData", reinterpret_cast<Proc>(&nativeOpenThemeData)},
    {"CloseThemeData", reinterpret_cast<Proc>(&nativeCloseThemeData)},
    {"DrawThemeParentBackground", reinterpret_cast<Proc>(&nativeDrawThemeParentBackground)},
    {"DrawThemeBackground", reinterpret_cast<Proc>(&nativeDrawThemeBackground)},
    {"IsAppThemed", reinterpret_cast<Proc>(&nativeIsAppThemed)},
};

}  // namespace

VisualStyles::VisualStyles() {
    if (g_nativeRendererHidden)
        return;
    wxRendererNative& native = wxRendererNative::GetDefault();
    if (&native != &wxRendererNative::GetGeneric())
        m_renderer = &native;
}

VisualStyles::~VisualStyles() {
    m_renderer = nullptr;
}

void VisualStyles::hideNativeRenderer(bool hidden) {
    g_nativeRendererHidden = hidden;
}

template <class Function>
Function VisualStyles::entryPoint(const char* name) const {
    if (!m_renderer)
        return nullptr;
    for (const EntryPoint& entry : kEntryPoints) {
        if (std::strcmp(entry.name, name) == 0)
            return reinterpret_cast<Function>(entry.proc);
    }
    return nullptr;
}

VisualStyles::Theme VisualStyles::openThemeData(wxWindow* window, const std::string& className) {
    auto open = entryPoint<decltype(&nativeOpenThemeData)>("OpenThemeData");
    return open ? open(*m_renderer, window, className) : nullptr;
}

bool VisualStyles::closeThemeData(Theme theme) {
    auto close = entryPoint<decltype(&nativeCloseThemeData)>("CloseThemeData");
    return close ? close(*m_renderer, theme) : false;
}

void VisualStyles::drawThemeParentBackground(wxWindow* window, wxDC& dc, const wxRect& rect) {
    if (auto draw = entryPoint<decltype(&nativeDrawThemeParentBackground)>("DrawThemeParentBackground"))
        draw(*m_renderer, window, dc, rect);
}

bool VisualStyles::drawThemeBackground(Theme theme, wxDC& dc, int part, int state, const wxRect& rect) {
    auto draw = entryPoint<decltype(&nativeDrawThemeBackground)>("DrawThemeBackground");
    return draw ? draw(*m_renderer, theme, dc, part, state, rect) : false;
}

bool VisualStyles::isAppThemed() {
    auto themed = entryPoint<decltype(&nativeIsAppThemed)>("IsAppThemed");
    return themed ? themed(*m_renderer) : false;
}

}  // namespace glimmark
