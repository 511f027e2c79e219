#pragma once

#include <wx/colour.h>
#include <wx/control.h>
#include <wx/font.h>
#include <wx/timer.h>

namespace glimmark {

// A static text that opens a web, mail or file target with the desktop when
// clicked: link colour, visited colour once opened, hover colour and (by the
// underline mode) underline while the pointer is over it, a hand cursor and
// a tooltip showing the target. A link that cannot be opened says why in a
// message box.
//
// The control sizes itself to its text (auto-size), keeping its place by
// the alignment style: wxALIGN_LEFT (default), wxALIGN_CENTRE_HORIZONTAL or
// wxALIGN_RIGHT across, and wxALIGN_CENTRE_VERTICAL down (else the top
// stays).
//
// Owned by its parent window. UI thread only; nothing throws except
// std::bad_alloc.
class HyperLink : public wxControl {
public:
    // Colours of the link at rest, once opened, and under the pointer.
    static const wxColour kLinkColour;
    static const wxColour kVisitedColour;
    static const wxColour kHoverColour;

    // The interval at which a hovered link checks whether the pointer left.
    static constexpr int kHoverTimerId = 100;
    static constexpr int kHoverIntervalMs = 100;

    // Underline modes: until set (-1) and any mode but kAlwaysUnderlined
    // underline the text only under the pointer.
    static constexpr int kUnderlineUnset = -1;
    static constexpr int kUnderlineOnHover = 0;
    static constexpr int kAlwaysUnderlined = 1;

    // Text and target default to each other when one of them is empty.
    HyperLink(wxWindow* parent, int id, const wxString& text, const wxString& target = wxString(),
              const wxPoint& position = wxDefaultPosition, const wxSize& size = wxDefaultSize,
              long style = wxALIGN_LEFT);

    // The target, also shown as the tooltip.
    void setTargetText(const wxString& target);
    const wxString& targetText() const { return m_target; }
    void setUnderlineMode(int mode);
    int underlineMode() const { return m_underlineMode; }
    // Whether the control sizes itself to its text (default on).
    void setAutoSize(bool autoSize);

    // Opens the target with the desktop. Once it opens the link shows the
    // visited colour; otherwise a beep and a message box with the reason.
    void openTarget();

    // The reason text of a shell result for the message box.
    static wxString reasonText(int result);

    bool isVisited() const { return m_visited; }
    bool isHovered() const { return m_hover; }
    bool isUnderlined() const;
    wxColour textColour() const;

    void SetLabel(const wxString& label) override;
    bool AcceptsFocus() const override { return false; }

protected:
    wxSize DoGetBestSize() const override;

private:
    void onPaint();
    void onMouseMove(wxMouseEvent& event);
    void onTimer();
    void autoSize();

    wxString m_target;
    bool m_hover = false;
    bool m_visited = false;
    bool m_pressed = false;  // the left button went down on the link
    int m_underlineMode = kUnderlineUnset;
    bool m_autoSize = true;
    wxFont m_plainFont;
    wxFont m_underlinedFont;
    wxTimer m_timer;
};

}  // namespace glimmark
