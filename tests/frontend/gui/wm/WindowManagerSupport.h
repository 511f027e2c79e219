// The fixture of the tests that need a window manager: they run on a display
// of their own with openbox (with-window-manager.sh) and skip without one.
#pragma once

#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

// True when a window manager has announced itself on the display
// (WindowManagerProbe.cpp, apart for the X headers' macros).
bool windowManagerRunning();

class WindowManagerGuiTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        if (!g_haveDisplay)
            GTEST_SKIP() << "no display";
        if (!pumpUntil(windowManagerRunning, 5000))
            GTEST_SKIP() << "no window manager";
    }
};

}  // namespace glimmark::test
