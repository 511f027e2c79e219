#pragma once

#include <optional>
#include <string>

namespace glimmark {

// Opening documents, folders and links with the desktop's default
// applications. Results keep the shell's numbering, which the wizard's
// messages explain: above kShellLastFailure the target was handed to an
// application; at or below it the number says why not. Any thread, but the
// launchers belong on the UI thread; nothing throws except std::bad_alloc.
enum ShellResult : int {
    kShellOutOfResources = 0,
    kShellFileNotFound = 2,
    kShellPathNotFound = 3,
    kShellAccessDenied = 5,
    kShellOutOfMemory = 8,
    kShellNoAssociation = 31,
    kShellLastFailure = 32,
    kShellOpened = 42,
};

inline bool shellOpened(int result) {
    return result > kShellLastFailure;
}

// True when the target starts with a URL scheme ("https:", "mailto:"): such
// targets go to their handler as they stand.
bool hasUrlScheme(const std::string& target);

// Why a local target cannot be opened, in the shell's numbering: the file is
// missing (kShellFileNotFound), a folder on its way is missing
// (kShellPathNotFound), or it may not be read (kShellAccessDenied). Nothing
// when it can be tried, and for URLs, which only their handler can judge.
std::optional<int> targetProblem(const std::string& target);

// Opens the target with the desktop's default application for it: a local
// target is checked first (targetProblem); kShellNoAssociation when no
// launcher could be started.
int openWithDesktop(const std::string& target);

// Hands the target to the desktop's default web browser; false when none
// could be started.
bool openInBrowser(const std::string& target);

}  // namespace glimmark
