#pragma once

#include <wx/panel.h>

#include <string>
#include <vector>

#include "frontend/SettingsFile.h"
#include "frontend/TextList.h"

class wxGauge;
class wxStaticText;
class wxCheckBox;
class wxTextCtrl;
class wxButton;

namespace glimmark {

// Step 3 of the wizard: one result row per converted file, the file being
// written, a page and an overall progress bar, and the conversion log's
// settings. The main window fills it from what the worker posts; Finish
// writes the log. A child of the main window's page frame; UI thread only.
class ProgressPage : public wxPanel {
public:
    static constexpr const char* kLogFileName = "Glimmark.log";

    ProgressPage(wxWindow* parent, const SettingsFile& settings);

    // Appends a row, selects it (and only it) and scrolls it into view.
    void addLogRow(const std::string& time, const std::string& state, const std::string& input,
                   const std::string& destination);
    // The Status cell of the last row, and why, for a row that did not
    // succeed: the reason goes to the status line, the row's tooltip and
    // its log record (the status line only when asked).
    void setLastState(const std::string& state, const std::string& reason = std::string(),
                      bool showInStatus = true);
    void setOverallProgress(int percent);
    void setPageProgress(const std::string& text, int percent);
    // The status line alone, the bars as they are.
    void setStatus(const std::string& text);
    std::string status() const;
    std::string reason(long row) const;

    // Reads and stores the log settings. False, with a warning shown, when
    // logging is on and the log folder is not valid.
    bool validateLog();
    // Appends one record per row to the log file in the log folder, creating
    // the folder when it is missing. Does nothing when logging is off; a
    // file that cannot be written is skipped without a message.
    void writeLogFile();
    void clearRows();

    TextList* resultList() const { return m_list; }

private:
    void onRecordLog();
    void onBrowse();
    void onOpenRow(long row);

    SettingsFile m_settings;
    int m_recordLog = 0;
    std::vector<std::string> m_reasons;  // one per row, empty for a success

    TextList* m_list;
    wxGauge* m_pageBar;
    wxGauge* m_overallBar;
    wxStaticText* m_status;
    wxCheckBox* m_recordBox;
    wxButton* m_browse;
    wxTextCtrl* m_logPath;
};

}  // namespace glimmark
