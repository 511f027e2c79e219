#include "frontend/WindowHints.h"

#include <wx/event.h>
#include <wx/toplevel.h>

#if defined(__WXGTK__)
#include <dlfcn.h>
#endif

namespace glimmark {

#if defined(__WXGTK__)

namespace {

// The toolkit keeps its GTK window to itself and the build has no GTK
// headers, so the few calls needed are found in the process, where the
// toolkit has loaded GTK. A missing one leaves the window as the toolkit
// made it.
template <class Function>
Function gtkFunction(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

void presentAsMainWindow(wxTopLevelWindow* window) {
    void* widget = window->GetHandle();
    if (!widget)
        return;
    using SetTypeHint = void (*)(void* gtkWindow, int hint);
    using GetWindow = void* (*)(void* widget);
    using SetFunctions = void (*)(void* gdkWindow, int functions);
    auto setTypeHint = gtkFunction<SetTypeHint>("gtk_window_set_type_hint");
    auto getWindow = gtkFunction<GetWindow>("gtk_widget_get_window");
    auto setFunctions = gtkFunction<SetFunctions>("gdk_window_set_functions");
    if (!setTypeHint || !getWindow || !setFunctions)
        return;

    constexpr int kTypeHintNormal = 0;
    setTypeHint(widget, kTypeHintNormal);
    // A window without a frame is offered moving only, yet a window manager
    // maximises only what it may resize: the functions are set again each
    // time the toolkit has set its own, when the window is shown.
    window->Bind(wxEVT_SHOW, [widget, getWindow, setFunctions](wxShowEvent& event) {
        enum { kResize = 1 << 1, kMove = 1 << 2, kMinimise = 1 << 3, kMaximise = 1 << 4, kClose = 1 << 5 };
        if (void* gdkWindow = event.IsShown() ? getWindow(widget) : nullptr)
            setFunctions(gdkWindow, kResize | kMove | kMinimise | kMaximise | kClose);
        event.Skip();
    });
}

#else

void presentAsMainWindow(wxTopLevelWindow*) {}

#endif

}  // namespace glimmark
