#include "frontend/DesktopOpen.h"

#include <wx/log.h>
#include <wx/utils.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace glimmark {

namespace fs = std::filesystem;

bool hasUrlScheme(const std::string& target) {
    // RFC 3986: a letter, then letters, digits, '+', '-' or '.', then ':'.
    // One letter alone is not taken for a scheme, so that "c:..." stays a
    // name.
    size_t colon = target.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(target[0])))
        return false;
    for (size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(target[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

std::optional<int> targetProblem(const std::string& target) {
    if (target.empty())
        return kShellFileNotFound;
    if (hasUrlScheme(target))
        return std::nullopt;
    std::error_code error;
    fs::file_status status = fs::status(target, error);
    if (error) {
        if (error == std::errc::no_such_file_or_directory) {
            // Missing itself, or missing a folder on the way to it.
            fs::path parent = fs::path(target).parent_path();
            std::error_code parentError;
            bool folderThere = parent.empty() || fs::is_directory(parent, parentError);
            return folderThere ? kShellFileNotFound : kShellPathNotFound;
        }
        if (error == std::errc::not_a_directory || error == std::errc::filename_too_long ||
            error == std::errc::too_many_symbolic_link_levels)
            return kShellPathNotFound;
        if (error == std::errc::permission_denied || error == std::errc::operation_not_permitted)
            return kShellAccessDenied;
        if (error == std::errc::not_enough_memory)
            return kShellOutOfMemory;
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        fs::directory_iterator listing(target, error);
        if (error == std::errc::permission_denied)
            return kShellAccessDenied;
        return std::nullopt;
    }
    std::ifstream probe(target, std::ios::binary);
    if (!probe && fs::exists(status))
        return kShellAccessDenied;
    return std::nullopt;
}

int openWithDesktop(const std::string& target) {
    if (std::optional<int> problem = targetProblem(target))
        return *problem;
    // The launcher hands the target to the desktop's opener and does not
    // wait for it: a target that passed the checks counts as opened once
    // the opener has started. The toolkit's own report of a failure (with
    // the launcher's errno, not the target's) is kept quiet: the caller
    // says once what went wrong.
    wxLogNull quiet;
    return wxLaunchDefaultApplication(wxString::FromUTF8(target)) ? kShellOpened : kShellNoAssociation;
}

bool openInBrowser(const std::string& target) {
    wxLogNull quiet;
    return wxLaunchDefaultBrowser(wxString::FromUTF8(target));
}

}  // namespace glimmark
