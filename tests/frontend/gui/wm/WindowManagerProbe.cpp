#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace glimmark::test {

bool windowManagerRunning() {
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    bool found = false;
    if (check != None) {
        Atom type;
        int format;
        unsigned long count, after;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                               &format, &count, &after, &data) == Success) {
            found = count == 1;
            if (data)
                XFree(data);
        }
    }
    XCloseDisplay(display);
    return found;
}

}  // namespace glimmark::test
