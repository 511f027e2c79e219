// The file list of step 1: adding, removing and describing files.

#include <wx/listctrl.h>
#include <wx/mimetype.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "frontend/MainWindow.h"
#include "frontend/TextFormats.h"
#include "frontend/UserPrompts.h"
#include "platform/FileInfo.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace glimmark {

namespace {

enum Column { kFile, kPage, kSize, kType };

// Where the library looks for a document's "%PDF-" marker: a file without
// one in its first bytes is no PDF document, one with it a damaged one.
constexpr size_t kHeaderSearchSize = 1024;

bool hasPdfHeader(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    char head[kHeaderSearchSize];
    size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return std::string_view(head, got).find("%PDF-") != std::string_view::npos;
}

}  // namespace

int MainWindow::probePageCount(const std::string& path) {
    int handle = m_openDocument(path.c_str(), nullptr, nullptr);
    if (handle < 1)
        return handle;
    int pages = m_getPageCount(handle);
    m_closeDocument(handle);
    return pages;
}

std::string MainWindow::fileTypeName(const std::string& path) {
    std::string extension = platform::splitPath(path).extension;
    if (!extension.empty())
        extension.erase(0, 1);
    for (const auto& known : m_typeNames) {
        if (known.first == extension)
            return known.second;
    }
    // The desktop's description of the file's type; where it has none, the
    // extension in capitals followed by "File", as file managers say.
    std::string name;
    if (!extension.empty()) {
        std::unique_ptr<wxFileType> type(
            wxTheMimeTypesManager->GetFileTypeFromExtension(wxString::FromUTF8(extension)));
        wxString description;
        if (type && type->GetDescription(&description) && !description.empty())
            name = description.utf8_string();
    }
    if (name.empty()) {
        std::string upper = extension;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        name = upper.empty() ? "File" : upper + " File";
    }
    m_typeNames.emplace_back(extension, name);
    return name;
}

std::string MainWindow::addFile(const std::string& path) {
    int pages = probePageCount(path);
    // Anything the library cannot read, except a document that wants its
    // password, is not a PDF document the list could use.
    if (pages < 0 && pages != kStatusPasswordNeeded)
        return notAddedReason(pages, pages == kStatusOpenFailed && hasPdfHeader(path));
    std::string type = fileTypeName(path);
    platform::FileInfo info;
    if (!platform::readFileInfo(path, info))
        return notAddedReason(kStatusInputMissing, false);
    long row = m_fileList->insertRow(0);
    m_fileList->setText(row, kFile, wxString::FromUTF8(path));
    m_fileList->setText(row, kPage, pages > 0 ? wxString::Format("%d", pages) : wxString("encrypted"));
    m_fileList->setText(row, kSize, wxString::FromUTF8(formatSizeKB(info.size)));
    m_fileList->setText(row, kType, wxString::FromUTF8(type));
    return std::string();
}

void MainWindow::addFiles(const std::vector<std::string>& paths) {
    std::vector<std::pair<std::string, std::string>> left;
    for (const std::string& path : paths) {
        std::string reason = addFile(path);
        if (!reason.empty()) {
            platform::PathParts parts = platform::splitPath(path);
            left.emplace_back(parts.name + parts.extension, reason);
        }
    }
    // Told after the add, so that one message covers a whole folder.
    if (!left.empty())
        UserPrompts::message(this, notAddedMessage(left), "Warning", UserPrompts::Icon::kWarning);
}

void MainWindow::addFolder(const std::string& folder) {
    std::string base = folder;
    if (base.empty() || base.back() != '/')
        base += '/';
    // Entries are taken in name order, so that the list comes out the same
    // on every file system.
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
        std::string name = entry.path().filename().string();
        if (!platform::directoryExists(base + name))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back(base + name);
    addFiles(paths);
}

void MainWindow::onDropFiles(const std::vector<std::string>& paths) {
    if (m_busy)
        return;
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        if (platform::fileExists(path))
            files.push_back(path);
    }
    addFiles(files);
}

void MainWindow::onAddFiles() {
    std::string initial = m_settings.readText("OpenFile", defaultFolder(), SettingsFile::kOther);
    // The chooser opens in the folder of the last file added.
    std::vector<std::string> paths = UserPrompts::openPdfFiles(this, chooserStartFolder(initial));
    if (paths.empty())
        return;
    addFiles(paths);
    m_settings.writeText("OpenFile", paths.back(), SettingsFile::kOther);
}

void MainWindow::onAddFolder() {
    std::string initial = m_settings.readText("OpenFile", defaultFolder(), SettingsFile::kOther);
    std::string folder = UserPrompts::chooseFolder(this, "Select Source folder", chooserStartFolder(initial));
    if (!folder.empty())
        addFolder(folder);
}

std::vector<long> MainWindow::selectedRows() const {
    std::vector<long> rows;
    long row = -1;
    while ((row = m_fileList->GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) != -1)
        rows.push_back(row);
    return rows;
}

void MainWindow::clearList() {
    if (m_fileList->GetItemCount() == 0)
        return;
    if (!UserPrompts::message(this, "Are you sure to clear all items?", "Warning",
                              UserPrompts::Icon::kWarning, UserPrompts::Buttons::kOkCancel)) {
        return;
    }
    m_fileList->DeleteAllItems();
    clearProperties();
}

void MainWindow::deleteSelected() {
    std::vector<long> rows = selectedRows();
    if (rows.empty())
        return;
    if (!UserPrompts::message(this, "Are you sure to delete selected item(s)?", "Warning",
                              UserPrompts::Icon::kWarning, UserPrompts::Buttons::kOkCancel)) {
        return;
    }
    // From the highest index down, so that the indexes still to delete stay
    // valid.
    for (auto row = rows.rbegin(); row != rows.rend(); ++row)
        m_fileList->DeleteItem(*row);
    clearProperties();
}

void MainWindow::onListKey(int keyCode, bool controlDown) {
    if (m_busy)
        return;
    if (keyCode == WXK_DELETE || keyCode == WXK_NUMPAD_DELETE || keyCode == WXK_NUMPAD_DECIMAL) {
        deleteSelected();
    } else if ((keyCode == 'A' || keyCode == 'a') && controlDown) {
        for (long row = 0; row < m_fileList->GetItemCount(); ++row)
            m_fileList->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    }
}

void MainWindow::clearProperties(const wxString& text) {
    for (wxTextCtrl* edit : m_properties)
        edit->ChangeValue(text);
}

void MainWindow::refreshProperties() {
    std::vector<long> rows = selectedRows();
    if (rows.size() != 1) {
        clearProperties();
        return;
    }
    std::string path = m_fileList->text(rows[0], kFile).utf8_string();
    platform::FileInfo info;
    if (!platform::readFileInfo(path, info)) {
        clearProperties("Invalid");
        return;
    }
    platform::PathParts parts = platform::splitPath(path);
    enum { kName, kSizeText, kTypeText, kModified, kCreated, kAccessed, kAttributes };
    m_properties[kName]->ChangeValue(wxString::FromUTF8(parts.name + parts.extension));
    m_properties[kTypeText]->ChangeValue(wxString::FromUTF8(fileTypeName(path)));
    m_properties[kSizeText]->ChangeValue(wxString::FromUTF8(formatSizeKB(info.size)));
    m_properties[kCreated]->ChangeValue(wxString::FromUTF8(formatFileTime(info.created)));
    m_properties[kAccessed]->ChangeValue(wxString::FromUTF8(formatFileTime(info.accessed)));
    m_properties[kModified]->ChangeValue(wxString::FromUTF8(formatFileTime(info.modified)));
    m_properties[kAttributes]->ChangeValue(wxString::FromUTF8(attributeText(info.attributes)));
}

}  // namespace glimmark
