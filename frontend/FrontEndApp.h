#pragma once

#include <wx/app.h>

#include "frontend/MainWindow.h"

namespace glimmark {

// The program: runs the wizard window modally and ends when it closes.
class FrontEndApp : public wxApp {
public:
    bool OnInit() override;
    int OnRun() override;

    // Makes and runs the wizard window; the program's exit status: 0 after
    // the window was closed, 1 when the library could not be bound.
    static int runWizard(const MainWindow::Environment& environment = MainWindow::Environment());
};

}  // namespace glimmark
