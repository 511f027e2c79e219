#include "frontend/ProgressPage.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>

#include "frontend/ControlIds.h"
#include "frontend/TextFormats.h"
#include "frontend/TextList.h"
#include "frontend/UserPrompts.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace glimmark {

namespace {

constexpr int kGap = 6;
constexpr int kBarWidth = 220;

enum Column { kTime, kStatus, kInput, kDestination };

}  // namespace

ProgressPage::ProgressPage(wxWindow* parent, const SettingsFile& settings)
    : wxPanel(parent, wxID_ANY), m_settings(settings) {
    m_list = new TextList(this, kIdResultList);
    m_list->addColumn("Time", wxLIST_FORMAT_LEFT, false);
    m_list->addColumn("Status", wxLIST_FORMAT_LEFT, false);
    m_list->addColumn("Input File", wxLIST_FORMAT_LEFT, true);
    m_list->addColumn("Destination", wxLIST_FORMAT_LEFT, true);
    // The widest texts the first columns will hold, so that they keep their
    // widths while a run adds rows.
    m_list->setMinimumText(kTime, "[00-00-0000 00:00:00]");
    m_list->setMinimumText(kStatus, "Not converted");

    m_status = new wxStaticText(this, kIdStatusText, wxString(), wxDefaultPosition, wxDefaultSize,
                                wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    m_pageBar = new wxGauge(this, kIdPageProgress, 100, wxDefaultPosition, wxSize(kBarWidth, 14));
    m_overallBar = new wxGauge(this, kIdOverallProgress, 100, wxDefaultPosition, wxSize(kBarWidth, 14));

    auto* logBox = new wxStaticBox(this, kIdLogGroup, "Conversion log");
    auto* logSizer = new wxStaticBoxSizer(logBox, wxHORIZONTAL);
    m_recordBox = new wxCheckBox(logBox, kIdRecordLog, "Record conversion log");
    m_logPath = new wxTextCtrl(logBox, kIdLogPath);
    m_browse = new wxButton(logBox, kIdBrowseLogPath, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    logSizer->Add(m_recordBox, 0, wxALIGN_CENTER_VERTICAL | wxALL, kGap);
    logSizer->Add(m_logPath, 1, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM, kGap);
    logSizer->Add(m_browse, 0, wxALIGN_CENTER_VERTICAL | wxALL, kGap);

    auto* progressRow = new wxBoxSizer(wxHORIZONTAL);
    progressRow->Add(m_status, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2 * kGap);
    auto* bars = new wxBoxSizer(wxVERTICAL);
    bars->Add(m_pageBar, 0, wxBOTTOM, kGap);
    bars->Add(m_overallBar, 0);
    progressRow->Add(bars, 0, wxALIGN_CENTER_VERTICAL);

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_list, 1, wxEXPAND | wxBOTTOM, kGap);
    sizer->Add(progressRow, 0, wxEXPAND | wxBOTTOM, kGap);
    sizer->Add(logSizer, 0, wxEXPAND);
    SetSizer(sizer);

    m_recordLog = m_settings.readInt("isRecord", 0);
    m_logPath->ChangeValue(wxString::FromUTF8(m_settings.readText("logPath", defaultFolder())));
    m_recordBox->SetValue(m_recordLog == 1);
    m_browse->Enable(m_recordLog == 1);
    m_logPath->Enable(m_recordLog == 1);

    m_recordBox->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { onRecordLog(); });
    m_browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onBrowse(); });
    m_list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent& event) { onOpenRow(event.GetIndex()); });
    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        if (event.IsShown())
            m_list->SetFocus();
        event.Skip();
    });
}

void ProgressPage::addLogRow(const std::string& time, const std::string& state, const std::string& input,
                             const std::string& destination) {
    long row = m_list->insertRow(m_list->GetItemCount());
    m_list->setText(row, kTime, wxString::FromUTF8(time));
    m_list->setText(row, kStatus, wxString::FromUTF8(state));
    m_list->setText(row, kInput, wxString::FromUTF8(input));
    m_list->setText(row, kDestination, wxString::FromUTF8(destination));
    m_list->SetItemState(row, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                         wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    if (row > 0)
        m_list->SetItemState(row - 1, 0, wxLIST_STATE_SELECTED);
    m_list->EnsureVisible(row);
    m_reasons.resize(static_cast<size_t>(m_list->GetItemCount()));
}

void ProgressPage::setLastState(const std::string& state, const std::string& reason, bool showInStatus) {
    long count = m_list->GetItemCount();
    if (count == 0)
        return;
    m_list->setText(count - 1, kStatus, wxString::FromUTF8(state));
    m_reasons.resize(static_cast<size_t>(count));
    m_reasons.back() = reason;
    // Where the user looks at a row, whether or not the log is kept.
    m_list->setRowTip(count - 1, wxString::FromUTF8(reason));
    if (!reason.empty() && showInStatus) {
        std::string input = m_list->text(count - 1, kInput).utf8_string();
        platform::PathParts parts = platform::splitPath(input);
        setStatus(parts.name + parts.extension + ": " + reason);
    }
}

std::string ProgressPage::reason(long row) const {
    return row >= 0 && static_cast<size_t>(row) < m_reasons.size() ? m_reasons[static_cast<size_t>(row)]
                                                                   : std::string();
}

std::string ProgressPage::status() const {
    return m_status->GetLabel().utf8_string();
}

void ProgressPage::setStatus(const std::string& text) {
    m_status->SetLabel(wxString::FromUTF8(text));
}

void ProgressPage::setOverallProgress(int percent) {
    m_overallBar->SetValue(percent);
}

void ProgressPage::setPageProgress(const std::string& text, int percent) {
    m_status->SetLabel(wxString::FromUTF8(text));
    m_pageBar->SetValue(percent);
}

void ProgressPage::onRecordLog() {
    bool on = m_recordBox->GetValue();
    m_browse->Enable(on);
    m_logPath->Enable(on);
}

void ProgressPage::onBrowse() {
    // Cancel keeps what was typed.
    std::string typed = m_logPath->GetValue().utf8_string();
    std::string folder =
        UserPrompts::chooseFolder(this, "Please select log folder", chooserStartFolder(typed));
    if (folder.empty())
        return;
    m_logPath->ChangeValue(wxString::FromUTF8(folder));
}

void ProgressPage::onOpenRow(long row) {
    // A file that could not be opened has no destination to show.
    wxString destination = m_list->text(row, kDestination);
    if (!destination.empty())
        UserPrompts::openOrSay(this, destination.utf8_string(), "the folder");
}

bool ProgressPage::validateLog() {
    m_recordLog = m_recordBox->GetValue() ? 1 : 0;
    m_settings.writeInt("isRecord", m_recordLog);
    if (m_recordLog == 0)
        return true;
    std::string text = m_logPath->GetValue().utf8_string();
    // The folder must be absolute and fit the program's path fields once the
    // log file's name is added by the folder's '/': refused, not cut short.
    if (!validFolderPath(text).empty()) {
        m_settings.writeText("logPath", text);
        return true;
    }
    UserPrompts::message(this, "Log path invalid,please check it!", "Warning", UserPrompts::Icon::kWarning);
    return false;
}

void ProgressPage::writeLogFile() {
    if (m_recordLog != 1)
        return;
    std::string folder = validFolderPath(m_logPath->GetValue().utf8_string());
    if (folder.empty())
        return;
    platform::createDirectoryChain(folder);
    FILE* log = std::fopen((folder + kLogFileName).c_str(), "a+");
    if (!log)
        return;
    long count = m_list->GetItemCount();
    for (long row = 0; row < count; ++row) {
        std::string cells[4];
        for (int column = 0; column < 4; ++column)
            cells[column] = m_list->text(row, column).utf8_string();
        std::string record =
            formatLogRecord(cells[kTime], cells[kStatus], cells[kInput], cells[kDestination], reason(row));
        std::fwrite(record.data(), 1, record.size(), log);
    }
    std::fclose(log);
}

void ProgressPage::clearRows() {
    m_list->DeleteAllItems();
    m_reasons.clear();
}

}  // namespace glimmark
