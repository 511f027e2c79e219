// Runs the wizard's window tests inside one toolkit application. Listing the
// tests needs no display; running them without one skips them.

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/init.h>

#include <cstring>

#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

bool g_haveDisplay = false;

}  // namespace glimmark::test

namespace {

void failOnAssert(const wxString& file, int line, const wxString& function, const wxString& condition,
                  const wxString& message) {
    ADD_FAILURE() << "toolkit assertion " << condition.utf8_string() << " in " << function.utf8_string()
                  << " (" << file.utf8_string() << ":" << line << "): " << message.utf8_string();
}

}  // namespace

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            listing = true;
    }
    ::testing::InitGoogleTest(&argc, argv);
    if (listing)
        return RUN_ALL_TESTS();

    wxApp::SetInstance(new wxApp());
    glimmark::test::g_haveDisplay = wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
    if (!glimmark::test::g_haveDisplay)
        return RUN_ALL_TESTS();

    wxInitAllImageHandlers();
    wxSetAssertHandler(failOnAssert);
    int status;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        status = RUN_ALL_TESTS();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}
