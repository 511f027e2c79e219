#include "frontend/FrontEndApp.h"

namespace glimmark {

bool FrontEndApp::OnInit() {
    SetAppName("glimmark");
    SetAppDisplayName("Tellora Glimmark");
    return true;
}

int FrontEndApp::OnRun() {
    // The window's modal loop is the program's only event loop.
    return runWizard();
}

int FrontEndApp::runWizard(const MainWindow::Environment& environment) {
    MainWindow window(nullptr, environment);
    if (!window.initialise())
        return 1;
    window.ShowModal();
    return 0;
}

}  // namespace glimmark
