#pragma once

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/listctrl.h>
#include <wx/panel.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frontend/MainWindow.h"
#include "frontend/UserPrompts.h"

namespace glimmark::test {

extern bool g_haveDisplay;

// Runs the toolkit's events (and what other threads posted) until the
// condition holds or the time is up; the condition's last answer.
bool pumpUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the events for a while.
void pumpFor(int milliseconds);

// Mouse events as the toolkit delivers them to a window, at a point of its
// client area; a click is a press and a release there.
void sendMouse(wxWindow* window, wxEventType type, const wxPoint& at, bool leftDown = false);
void clickAt(wxWindow* window, const wxPoint& at = wxPoint(4, 4));

// A message box the window asked for.
struct Message {
    std::string text;
    std::string caption;
    UserPrompts::Icon icon;
};

// The stand-in library's extra exports, reached through the copy the window
// loaded.
std::string fakeCalls();
void fakeReset();
void fakeSetPageDelay(int milliseconds);

// Each test works in a folder of its own under the test output folder: the
// program's folder (where Settings.ini goes) and a data folder. Message
// boxes are answered by m_answer and recorded.
class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The main window over the test's program folder, initialised and shown,
    // binding the library m_libraryName names.
    MainWindow* openWindow();
    void closeWindow();

    // A plain frame with a panel, shown, for trying controls on their own;
    // the panel's first child is an edit that holds the focus. Closed by
    // TearDown.
    wxPanel* openPanel(const wxSize& size = wxSize(420, 240));

    // A file in the data folder that the stand-in library takes as a PDF
    // document, of the given size (at least a few bytes).
    std::string makePdf(const std::string& name, size_t size = 500);
    std::string makeFile(const std::string& name, const std::string& content);

    // The file list's rows as "path|page|size|type".
    std::vector<std::string> rows() const;
    std::vector<std::string> resultRows() const;
    std::string cell(wxListCtrl* list, long row, int column) const;
    void selectRows(std::initializer_list<long> rows);

    template <class T>
    T* control(int id) const {
        return dynamic_cast<T*>(m_window->FindWindow(id));
    }
    // Sets a control as a user would and sends its event.
    void choose(int id, int index);
    void check(int id);
    void tick(int id, bool on);
    void type(int id, const std::string& text);
    // Presses a button: its click event goes up to the window.
    void press(int id);

    // Runs the wizard to the end of a conversion: Next, Convert, wait.
    void convertAndWait();

    std::string m_root;     // ends in '/'
    std::string m_program;  // program folder, ends in '/'
    std::string m_data;     // data folder, ends in '/'
    // The stand-in beside the test program unless a test names another.
    std::string m_libraryName = kLibraryName;
    MainWindow* m_window = nullptr;
    wxFrame* m_frame = nullptr;
    std::vector<Message> m_messages;
    bool m_answer = true;
    // Targets given to the desktop's opener and to the web browser, which
    // open nothing in tests: the opener answers m_shellResult (opened by
    // default), the browser m_browserOpens (none by default).
    std::vector<std::string> m_opened;
    std::vector<std::string> m_browsed;
    int m_shellResult = 42;
    bool m_browserOpens = false;
    // What the add-files chooser returns (nothing: cancelled).
    std::vector<std::string> m_chosenFiles;
};

std::string readFile(const std::string& path);

// Standard error, where the toolkit logs its complaints, goes to the file
// while this lives; restore ends that and gives what was written.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path);
    ~StderrCapture() { restore(); }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string restore();

private:
    std::string m_path;
    int m_saved = -1;
};
// True when text has the shape given: '9' stands for one digit, '8' for one
// or two digits, any other character for itself.
bool hasShape(const std::string& text, const std::string& shape);
std::vector<std::string> listFolder(const std::string& folder);

}  // namespace glimmark::test
