#pragma once

#include <functional>
#include <string>
#include <vector>

class wxWindow;

namespace glimmark {

// The modal questions the wizard asks: message boxes and the file and folder
// choosers. Every window asks through here, so that the answers can be given
// by a stand-in (tests run the windows without anyone to press a button). UI
// thread only.
class UserPrompts {
public:
    enum class Icon { kError, kWarning };
    enum class Buttons { kOk, kOkCancel };

    // A stand-in's answers. Empty functions fall through to the real dialogs.
    struct Handlers {
        // Returns true for OK.
        std::function<bool(const std::string& text, const std::string& caption, Icon, Buttons)> message;
        // The chosen files, in the chooser's order; empty when cancelled.
        std::function<std::vector<std::string>(const std::string& initialFolder)> openFiles;
        // The chosen folder; empty when cancelled.
        std::function<std::string(const std::string& title, const std::string& initialFolder)> chooseFolder;
        // Opens a target as shellOpen does and returns its result.
        std::function<int(const std::string& target)> shellOpen;
        // Hands a target to the web browser; true when one started.
        std::function<bool(const std::string& target)> browse;
    };

    // Replaces the handlers (all of them); an empty set restores the real dialogs.
    static void setHandlers(Handlers handlers);

    // A message box with the icon and buttons given; true when OK was pressed.
    static bool message(wxWindow* parent, const std::string& text, const std::string& caption, Icon icon,
                        Buttons buttons = Buttons::kOk);

    // The open-file chooser for PDF files, several at a time.
    static std::vector<std::string> openPdfFiles(wxWindow* parent, const std::string& initialFolder);

    // The folder chooser with the title given, open at the folder given;
    // empty when cancelled.
    static std::string chooseFolder(wxWindow* parent, const std::string& title,
                                    const std::string& initialFolder);

    // Opens a document or folder with the desktop's default application
    // (shellOpen); when nothing can, says so once, naming what it is and why
    // ("Unable to open <what>:"), and returns false.
    static bool openOrSay(wxWindow* parent, const std::string& target, const std::string& what);

    // Opens a target (a file, folder or URL) with the desktop's default
    // application and returns the shell-numbered result (DesktopOpen.h).
    static int shellOpen(const std::string& target);

    // Hands a target to the desktop's default web browser; true when one
    // started.
    static bool browse(const std::string& target);

private:
    static Handlers& handlers();
};

}  // namespace glimmark
