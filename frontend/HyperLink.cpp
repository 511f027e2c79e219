#include "frontend/HyperLink.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/utils.h>

#include "frontend/DesktopOpen.h"
#include "frontend/UserPrompts.h"

namespace glimmark {

const wxColour HyperLink::kLinkColour(0x00, 0x00, 0xEE);
const wxColour HyperLink::kVisitedColour(0x55, 0x1A, 0x8B);
const wxColour HyperLink::kHoverColour(0xFF, 0x00, 0x00);

namespace {

constexpr long kAlignmentStyles = wxALIGN_CENTRE_HORIZONTAL | wxALIGN_RIGHT | wxALIGN_CENTRE_VERTICAL;

}  // namespace

HyperLink::HyperLink(wxWindow* parent, int id, const wxString& text, const wxString& target,
                     const wxPoint& position, const wxSize& size, long style)
    : wxControl(parent, id, position, size,
                (style & kAlignmentStyles) | wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE),
      m_target(target),
      m_timer(this, kHoverTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxString label = text;
    if (m_target.empty())
        m_target = label;
    if (label.empty())
        label = m_target;
    wxControl::SetLabel(label);

    wxFont base = GetFont();
    if (!base.IsOk())
        base = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (!base.IsOk())
        base = wxSystemSettings::GetFont(wxSYS_ANSI_VAR_FONT);
    m_plainFont = base;
    m_plainFont.SetUnderlined(false);
    m_underlinedFont = base;
    m_underlinedFont.SetUnderlined(true);

    SetInitialSize(size);
    autoSize();
    wxCursor hand(wxCURSOR_HAND);
    if (hand.IsOk())
        SetCursor(hand);
    SetToolTip(m_target);

    Bind(wxEVT_PAINT, [this](wxPaintEvent&) { onPaint(); });
    Bind(wxEVT_MOTION, &HyperLink::onMouseMove, this);
    Bind(wxEVT_ENTER_WINDOW, &HyperLink::onMouseMove, this);
    Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent&) { m_pressed = true; });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& event) {
        bool clicked = m_pressed && wxRect(GetClientSize()).Contains(event.GetPosition());
        m_pressed = false;
        if (clicked)
            openTarget();
    });
    Bind(
        wxEVT_TIMER, [this](wxTimerEvent&) { onTimer(); }, kHoverTimerId);
}

void HyperLink::setTargetText(const wxString& target) {
    m_target = target;
    SetToolTip(m_target);
}

void HyperLink::setUnderlineMode(int mode) {
    m_underlineMode = mode;
    Refresh();
}

void HyperLink::setAutoSize(bool autoSize) {
    m_autoSize = autoSize;
    this->autoSize();
}

void HyperLink::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    InvalidateBestSize();
    autoSize();
    Refresh();
}

bool HyperLink::isUnderlined() const {
    return m_underlineMode == kAlwaysUnderlined || m_hover;
}

wxColour HyperLink::textColour() const {
    if (m_hover)
        return kHoverColour;
    return m_visited ? kVisitedColour : kLinkColour;
}

wxSize HyperLink::DoGetBestSize() const {
    // Measured in the underlined font, which is never narrower than the
    // plain one, so that the text fits in either.
    int width = 0, height = 0;
    GetTextExtent(GetLabelText(), &width, &height, nullptr, nullptr, &m_underlinedFont);
    return wxSize(width, height) + GetWindowBorderSize();
}

void HyperLink::autoSize() {
    if (!m_autoSize)
        return;
    wxSize size = DoGetBestSize();
    wxRect old = GetRect();
    long style = GetWindowStyleFlag();
    int x = old.x;
    int y = old.y;
    if (style & wxALIGN_CENTRE_HORIZONTAL)
        x = old.x + (old.width - size.x) / 2;
    else if (style & wxALIGN_RIGHT)
        x = old.x + old.width - size.x;
    if (style & wxALIGN_CENTRE_VERTICAL)
        y = old.y + (old.height - size.y) / 2;
    SetMinSize(size);
    SetSize(x, y, size.x, size.y);
}

void HyperLink::onPaint() {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
    dc.Clear();
    dc.SetFont(isUnderlined() ? m_underlinedFont : m_plainFont);
    dc.SetTextForeground(textColour());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    long style = GetWindowStyleFlag();
    int alignment = style & wxALIGN_CENTRE_HORIZONTAL ? wxALIGN_CENTRE_HORIZONTAL
                    : style & wxALIGN_RIGHT           ? wxALIGN_RIGHT
                                                      : wxALIGN_LEFT;
    alignment |= style & wxALIGN_CENTRE_VERTICAL ? wxALIGN_CENTRE_VERTICAL : wxALIGN_TOP;
    dc.DrawLabel(GetLabelText(), wxRect(GetClientSize()), alignment);
}

void HyperLink::onMouseMove(wxMouseEvent& event) {
    event.Skip();
    if (!m_hover) {
        m_hover = true;
        Refresh();
    }
    // The timer notices the pointer leaving, which a moving pointer does not
    // always announce.
    if (!m_timer.IsRunning())
        m_timer.Start(kHoverIntervalMs);
}

void HyperLink::onTimer() {
    if (GetScreenRect().Contains(wxGetMousePosition()))
        return;
    m_hover = false;
    m_timer.Stop();
    Refresh();
}

void HyperLink::openTarget() {
    std::string target = m_target.utf8_string();
    int result = UserPrompts::shellOpen(target);
    // What the desktop has no application for may still be a page for the
    // web browser; a missing file is not.
    if (!shellOpened(result) && (result == kShellNoAssociation || hasUrlScheme(target)) &&
        UserPrompts::browse(target))
        result = kShellOpened;
    if (shellOpened(result)) {
        m_visited = true;
        Refresh();
        return;
    }
    wxBell();
    UserPrompts::message(this, "Unable to open hyperlink:\n\n" + reasonText(result).utf8_string(), "Warning",
                         UserPrompts::Icon::kWarning);
}

wxString HyperLink::reasonText(int result) {
    switch (result) {
        case 0:
            return "The operating system is out\nof memory or resources.";
        case 2:
            return "The specified file was not found.";
        case 3:
            return "The specified path was not found.";
        case 5:
            return "The operating system denied\naccess to the specified file.";
        case 8:
            return "There was not enough memory to complete the operation.";
        case 11:
            return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
        case 26:
            return "A sharing violation occurred. ";
        case 27:
            return "The filename association is\nincomplete or invalid.";
        case 28:
            return "The DDE transaction could not\nbe completed because the request timed out.";
        case 29:
            return "The DDE transaction failed.";
        case 30:
            return "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
                   "processed.";
        case 31:
            return "There is no application associated\nwith the given filename extension.";
        case 32:
            return "The specified dynamic-link library was not found.";
        default:
            return wxString::Format("Unknown Error (%d) occurred.", result);
    }
}

}  // namespace glimmark
