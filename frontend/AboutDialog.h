#pragma once

#include <wx/dialog.h>

#include <string>

namespace glimmark {

class HyperLink;
class VisualStyles;

// The about box: a captionless dialog with the title picture (by which it is
// dragged), the program's name and version, a link to the help page and one
// to the project's read-me, a line of text and OK. Shown modally by the main
// window; OK (or Escape) ends it. styles must outlive the dialog. UI thread
// only.
class AboutDialog : public wxDialog {
public:
    // programFolder ends in '/': the links open files that lie beside the
    // program.
    AboutDialog(wxWindow* parent, const std::string& programFolder, VisualStyles* styles);

    static std::string programLine();

    HyperLink* homeLink() const { return m_homeLink; }
    HyperLink* supportLink() const { return m_supportLink; }

private:
    void endDialog(int code);
    void onTitleDown(wxMouseEvent& event);
    void onTitleMove(wxMouseEvent& event);
    void onTitleUp(wxMouseEvent& event);

    wxWindow* m_title = nullptr;
    HyperLink* m_homeLink = nullptr;
    HyperLink* m_supportLink = nullptr;
    bool m_dragging = false;
    wxPoint m_dragStart;   // screen position where the drag began
    wxPoint m_dragOrigin;  // dialog position when it began
};

}  // namespace glimmark
