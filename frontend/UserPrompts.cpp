#include "frontend/UserPrompts.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include "frontend/DesktopOpen.h"
#include "frontend/HyperLink.h"

namespace glimmark {

UserPrompts::Handlers& UserPrompts::handlers() {
    static Handlers current;
    return current;
}

void UserPrompts::setHandlers(Handlers replacement) {
    handlers() = std::move(replacement);
}

bool UserPrompts::message(wxWindow* parent, const std::string& text, const std::string& caption, Icon icon,
                          Buttons buttons) {
    if (handlers().message)
        return handlers().message(text, caption, icon, buttons);
    long style = icon == Icon::kError ? wxICON_ERROR : wxICON_WARNING;
    style |= buttons == Buttons::kOkCancel ? wxOK | wxCANCEL : wxOK;
    wxMessageDialog dialog(parent, wxString::FromUTF8(text), wxString::FromUTF8(caption), style);
    return dialog.ShowModal() == wxID_OK;
}

std::vector<std::string> UserPrompts::openPdfFiles(wxWindow* parent, const std::string& initialFolder) {
    if (handlers().openFiles)
        return handlers().openFiles(initialFolder);
    // GTK's chooser matches its patterns with case, so the extension is
    // spelled as a set of both cases: "x.PDF" is offered as on Windows.
    wxFileDialog dialog(parent, "Add files", wxString::FromUTF8(initialFolder), wxString(),
                        "Adobe PDF Files(*.pdf)|*.[pP][dD][fF]",
                        wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
    std::vector<std::string> chosen;
    if (dialog.ShowModal() != wxID_OK)
        return chosen;
    wxArrayString paths;
    dialog.GetPaths(paths);
    for (const wxString& path : paths)
        chosen.push_back(path.utf8_string());
    return chosen;
}

std::string UserPrompts::chooseFolder(wxWindow* parent, const std::string& title,
                                      const std::string& initialFolder) {
    if (handlers().chooseFolder)
        return handlers().chooseFolder(title, initialFolder);
    wxDirDialog dialog(parent, wxString::FromUTF8(title), wxString::FromUTF8(initialFolder),
                       wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dialog.ShowModal() != wxID_OK)
        return std::string();
    return dialog.GetPath().utf8_string();
}

bool UserPrompts::openOrSay(wxWindow* parent, const std::string& target, const std::string& what) {
    int result = shellOpen(target);
    if (shellOpened(result))
        return true;
    message(parent, "Unable to open " + what + ":\n\n" + HyperLink::reasonText(result).utf8_string(),
            "Warning", Icon::kWarning);
    return false;
}

int UserPrompts::shellOpen(const std::string& target) {
    if (handlers().shellOpen)
        return handlers().shellOpen(target);
    return openWithDesktop(target);
}

bool UserPrompts::browse(const std::string& target) {
    if (handlers().browse)
        return handlers().browse(target);
    return openInBrowser(target);
}

}  // namespace glimmark
