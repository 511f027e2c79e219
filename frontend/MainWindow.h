#pragma once

#include <wx/bitmap.h>
#include <wx/dialog.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frontend/Artwork.h"
#include "frontend/ConversionOptions.h"
#include "frontend/LibraryInterface.h"
#include "frontend/SettingsFile.h"
#include "frontend/TextList.h"
#include "platform/DynamicLibrary.h"

class wxDC;
class wxListEvent;
class wxMouseEvent;
class wxPanel;
class wxStaticText;
class wxTextCtrl;

namespace glimmark {

class IconButton;
class OptionsPage;
class ProgressPage;
class VisualStyles;

// Where the main window finds its files; the defaults are the program's own.
struct WindowEnvironment {
    std::string programFolder;  // ending in '/'; empty: the running program's folder
    std::string libraryName = kLibraryName;
};

// The wizard: a captionless, resizable window with its own title band that
// collects PDF files (step 1), shows the options (step 2) and converts the
// list on a worker thread (step 3). It binds the conversion library for its
// whole life.
//
// Threads: every method runs on the UI thread, except the worker's loop
// (conversionThread and what it calls), which touches no control and posts
// every change of the window to the UI thread. While a run is busy the UI
// thread does not call the library.
class MainWindow : public wxDialog {
public:
    using Environment = WindowEnvironment;

    static constexpr int kMinWidth = 684;
    static constexpr int kMinHeight = 530;

    explicit MainWindow(wxWindow* parent = nullptr, Environment environment = Environment());
    ~MainWindow() override;

    // Locates the settings, binds the library and makes the pages. False,
    // after the error message, when the library or one of its functions is
    // missing: the window must then be closed.
    bool initialise();

    bool bindLibrary();
    void unbindLibrary();
    // The program's folder + name.
    std::string moduleRelativePath(const std::string& name) const;

    // Step 1: the file list.
    int probePageCount(const std::string& path);
    // Lists the file at the top; why it was not listed, or empty when it
    // was.
    std::string addFile(const std::string& path);
    // Lists each file in turn, then names in one message those that were
    // not listed and why.
    void addFiles(const std::vector<std::string>& paths);
    void addFolder(const std::string& folder);
    void onDropFiles(const std::vector<std::string>& paths);
    void onAddFiles();
    void onAddFolder();
    void clearList();       // asks first
    void deleteSelected();  // asks first
    void onListKey(int keyCode, bool controlDown);
    void refreshProperties();

    // Steps.
    void showStep(int step);
    // Gives the focus to the first control of the step shown.
    void focusStep();
    void onNext();
    void onPrevious();
    void onConvert();
    void onStop();
    void onFinish();
    void onClose();
    void onMaximise();
    void onAbout();

    // The maximise button's picture: restore while the window is maximised.
    Icon maximiseIcon() const { return m_maximiseIcon; }
    int step() const { return m_step; }
    bool isBusy() const { return m_busy; }
    const SettingsFile& settings() const { return m_settings; }
    TextList* fileList() const { return m_fileList; }
    OptionsPage* optionsPage() const { return m_optionsPage; }
    ProgressPage* progressPage() const { return m_progressPage; }

private:
    void createControls();
    void bindEvents();
    // Tab, Enter, Escape and the list's keys, as a dialog has them.
    void bindKeys();
    std::string fileTypeName(const std::string& path);
    void clearProperties(const wxString& text = wxString());
    std::vector<long> selectedRows() const;

    // The worker thread and what it runs.
    void conversionThread(std::vector<std::string> paths, ConversionOptions options);
    void convertAll(const std::vector<std::string>& paths, const ConversionOptions& options);
    // The pages of one open document, until the last or a stop: the last
    // page's result, the last page converted, and the pages written whose
    // content the document lost.
    struct PagesDone {
        int result = 0;
        int lastPage = 0;
        std::vector<int> lostPages;
    };
    PagesDone convertPages(int handle, int pageCount, const std::string& name, const std::string& destination,
                           const ConversionOptions& options);
    void sendOptions(int handle, const ConversionOptions& options);
    void showCompleted();

    // Title band, dragging and resizing by the edges.
    void onPaint();
    void paintBackground(wxDC& dc);
    void onMouseDown(wxMouseEvent& event);
    void onMouseMove(wxMouseEvent& event);
    void onMouseUp(wxMouseEvent& event);
    int edgeAt(const wxPoint& point) const;
    // The maximise button shows the state the window is really in, which
    // the window manager decides.
    void showMaximiseState();

    Environment m_environment;
    SettingsFile m_settings;

    platform::LibraryHandle m_library = nullptr;
    OpenDocumentFunction m_openDocument = nullptr;
    CloseDocumentFunction m_closeDocument = nullptr;
    ConvertPageFunction m_convertPage = nullptr;
    SetOptionFunction m_setOption = nullptr;
    GetPageCountFunction m_getPageCount = nullptr;

    OptionsPage* m_optionsPage = nullptr;
    ProgressPage* m_progressPage = nullptr;
    ConversionOptions m_options;
    bool m_busy = false;                       // UI thread only
    std::atomic<bool> m_stopRequested{false};  // set by the UI thread, polled by the worker
    int m_step = 1;
    int m_fileCount = 0;
    std::atomic<int> m_doneCount{0};
    std::thread m_worker;

    // The desktop theme for the buttons; they live no longer than the window.
    std::unique_ptr<VisualStyles> m_visualStyles;

    // Title band and pointer tracking.
    wxRect m_captionRect;
    wxBitmap m_titleBitmap;
    enum class Drag { kNone, kMove, kResize } m_drag = Drag::kNone;
    int m_dragEdges = 0;
    wxPoint m_dragStart;  // screen position where the drag began
    wxRect m_dragWindow;  // window rectangle when it began

    // Controls.
    wxStaticText* m_stepTitle = nullptr;
    IconButton* m_maximise = nullptr;
    Icon m_maximiseIcon = Icon::kMaximise;
    wxRect m_restoreRect;  // the window before it was maximised
    wxPanel* m_listGroup = nullptr;
    TextList* m_fileList = nullptr;
    wxTextCtrl* m_properties[7] = {};
    wxPanel* m_pageFrame = nullptr;
    IconButton* m_previous = nullptr;
    IconButton* m_next = nullptr;
    IconButton* m_convert = nullptr;
    IconButton* m_stop = nullptr;
    IconButton* m_finish = nullptr;

    // Pages keep the file type names they looked up.
    std::vector<std::pair<std::string, std::string>> m_typeNames;
};

}  // namespace glimmark
