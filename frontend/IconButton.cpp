#include "frontend/IconButton.h"

#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/renderer.h>
#include <wx/settings.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <vector>

#include "frontend/ParentBackground.h"
#include "frontend/UserPrompts.h"

namespace glimmark {

namespace {

// Space between the button's edge and its content, across and down; a
// button with only a picture keeps the same space all round.
constexpr int kPadX = 10;
constexpr int kPadY = 8;
constexpr int kPicturePad = 9;
// Space between the picture and the text.
constexpr int kImageGap = 5;
// Buttons with a text are at least this wide, so that a row of them looks
// even.
constexpr int kMinTextWidth = 80;
// The focus frame lies this far inside the edge.
constexpr int kFocusInset = 3;
constexpr int kIconSize = 16;

wxColour systemColour(wxSystemColour index) {
    return wxSystemSettings::GetColour(index);
}

// Borders are drawn as one-pixel filled strips: a filled rectangle covers
// exactly its pixels, where an outlined one depends on the pen's placement.
void fillRect(wxDC& dc, const wxRect& rect, const wxColour& colour) {
    if (rect.width <= 0 || rect.height <= 0)
        return;
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(colour));
    dc.DrawRectangle(rect);
}

void frameRect(wxDC& dc, const wxRect& rect, const wxColour& colour) {
    fillRect(dc, wxRect(rect.x, rect.y, rect.width, 1), colour);
    fillRect(dc, wxRect(rect.x, rect.GetBottom(), rect.width, 1), colour);
    fillRect(dc, wxRect(rect.x, rect.y, 1, rect.height), colour);
    fillRect(dc, wxRect(rect.GetRight(), rect.y, 1, rect.height), colour);
}

// The top and left edges in one colour, the bottom and right in another; the
// bottom-right corners belong to the second.
void draw3dRect(wxDC& dc, const wxRect& rect, const wxColour& topLeft, const wxColour& bottomRight) {
    fillRect(dc, wxRect(rect.x, rect.y, rect.width - 1, 1), topLeft);
    fillRect(dc, wxRect(rect.x, rect.y, 1, rect.height - 1), topLeft);
    fillRect(dc, wxRect(rect.GetRight(), rect.y, 1, rect.height), bottomRight);
    fillRect(dc, wxRect(rect.x, rect.GetBottom(), rect.width, 1), bottomRight);
}

// The raised border of a classic push button: highlight and dark shadow
// outside, light and shadow inside.
void drawClassicBorder(wxDC& dc, const wxRect& rect) {
    draw3dRect(dc, rect, systemColour(wxSYS_COLOUR_BTNHIGHLIGHT), systemColour(wxSYS_COLOUR_3DDKSHADOW));
    draw3dRect(dc, rect.Deflate(1, 1), systemColour(wxSYS_COLOUR_3DLIGHT),
               systemColour(wxSYS_COLOUR_BTNSHADOW));
}

// The text broken at blanks into lines no wider than width; a word wider
// than that keeps a line of its own.
std::vector<wxString> wrapText(wxDC& dc, const wxString& text, int width) {
    std::vector<wxString> lines;
    for (const wxString& paragraph : wxSplit(text, '\n', '\0')) {
        wxString line;
        for (const wxString& word : wxSplit(paragraph, ' ', '\0')) {
            wxString candidate = line.empty() ? word : line + " " + word;
            if (line.empty() || dc.GetTextExtent(candidate).x <= width) {
                line = candidate;
            } else {
                lines.push_back(line);
                line = word;
            }
        }
        lines.push_back(line);
    }
    return lines;
}

void drawLines(wxDC& dc, const std::vector<wxString>& lines, const wxRect& rect, int lineHeight) {
    int y = rect.y + (rect.height - lineHeight * static_cast<int>(lines.size())) / 2;
    for (const wxString& line : lines) {
        int width = dc.GetTextExtent(line).x;
        dc.DrawText(line, rect.x + (rect.width - width) / 2, y);
        y += lineHeight;
    }
}

}  // namespace

IconButton::IconButton(wxWindow* parent, int id, const wxString& label, Kind kind, const wxPoint& position,
                       const wxSize& size)
    : wxControl(parent, id, position, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE), m_kind(kind) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxControl::SetLabel(label);
    resetColours();
    SetInitialSize(size);
    if (kind == Kind::kDefaultPush) {
        if (auto* top = wxDynamicCast(wxGetTopLevelParent(parent), wxTopLevelWindow))
            top->SetDefaultItem(this);
    }

    Bind(wxEVT_PAINT, [this](wxPaintEvent&) { onPaint(); });
    Bind(wxEVT_LEFT_DOWN, &IconButton::onMouseDown, this);
    // A double-click is two clicks, not a different command.
    Bind(wxEVT_LEFT_DCLICK, &IconButton::onMouseDown, this);
    Bind(wxEVT_LEFT_UP, &IconButton::onMouseUp, this);
    Bind(wxEVT_MOTION, &IconButton::onMouseMove, this);
    Bind(wxEVT_ENTER_WINDOW, &IconButton::onMouseMove, this);
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& event) {
        clearHover();
        event.Skip();
    });
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) {
        m_mouseDown = false;
        clearHover();
        Refresh();
    });
    Bind(wxEVT_MOUSE_CAPTURE_CHANGED, [this](wxMouseCaptureChangedEvent& event) {
        if (event.GetCapturedWindow() != this)
            clearHover();
        event.Skip();
    });
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) {
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
        m_spaceDown = false;
        clearHover();
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_KEY_DOWN, &IconButton::onKeyDown, this);
    Bind(wxEVT_KEY_UP, &IconButton::onKeyUp, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, [this](wxSysColourChangedEvent& event) {
        resetColours();
        m_parentBackground = wxNullBitmap;
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        // The copy of the parent's background fits one size only.
        m_parentBackground = wxNullBitmap;
        Refresh();
        event.Skip();
    });
}

IconButton::~IconButton() {
    if (HasCapture())
        ReleaseMouse();
}

void IconButton::setIcon(Icon icon, int secondIcon) {
    wxBitmap first = iconBitmap(icon, kIconSize);
    wxBitmap second;
    if (secondIcon == kGreyCopy)
        second = greyCopy(first);
    else if (secondIcon != kNoSecondIcon)
        second = iconBitmap(static_cast<Icon>(secondIcon), kIconSize);
    setBitmaps(first, second);
}

void IconButton::setBitmaps(const wxBitmap& first, const wxBitmap& second) {
    m_images[0] = first;
    m_images[1] = second;
    InvalidateBestSize();
    Refresh();
}

wxBitmap IconButton::greyCopy(const wxBitmap& bitmap) {
    if (!bitmap.IsOk())
        return wxNullBitmap;
    wxImage image = bitmap.ConvertToImage();
    unsigned char* pixel = image.GetData();
    size_t count = static_cast<size_t>(image.GetWidth()) * image.GetHeight();
    bool masked = image.HasMask();
    unsigned char maskRed = masked ? image.GetMaskRed() : 0;
    unsigned char maskGreen = masked ? image.GetMaskGreen() : 0;
    unsigned char maskBlue = masked ? image.GetMaskBlue() : 0;
    for (size_t i = 0; i < count; ++i, pixel += 3) {
        unsigned red = pixel[0], green = pixel[1], blue = pixel[2];
        if ((red | green | blue) == 0)
            continue;
        // The mask's colour marks transparency, not a colour to grey.
        if (masked && red == maskRed && green == maskGreen && blue == maskBlue)
            continue;
        // In thousandths, so that white stays 255 where the sum of the
        // three decimal weights would fall just short of it.
        auto grey = static_cast<unsigned char>((299 * red + 587 * green + 114 * blue) / 1000);
        pixel[0] = pixel[1] = pixel[2] = grey;
    }
    return wxBitmap(image);
}

int IconButton::setAlignment(int alignment) {
    if (alignment < kIconLeft || alignment > kIconOverlap)
        return kInvalidAlignment;
    m_alignment = alignment;
    InvalidateBestSize();
    Refresh();
    return kOk;
}

int IconButton::setPressedOffset(int mode) {
    if (mode != kPressedDiagonal && mode != kPressedDown)
        return kInvalidPressedOffset;
    m_pressedMode = mode;
    Refresh();
    return kOk;
}

void IconButton::setFlat(bool flat, bool drawFocus) {
    m_flat = flat;
    m_flatFocus = drawFocus;
    if (!flat)
        m_hover = false;
    Refresh();
}

void IconButton::setDrawBorder(bool draw) {
    m_drawBorder = draw;
    Refresh();
}

void IconButton::setColours(State state, const wxColour& background, const wxColour& text) {
    m_background[static_cast<int>(state)] = background;
    m_text[static_cast<int>(state)] = text;
    Refresh();
}

void IconButton::resetColours() {
    for (int state = 0; state < 3; ++state) {
        m_background[state] = systemColour(wxSYS_COLOUR_BTNFACE);
        m_text[state] = systemColour(wxSYS_COLOUR_BTNTEXT);
    }
    Refresh();
}

void IconButton::setTransparent(bool transparent) {
    m_transparent = transparent;
    m_parentBackground = wxNullBitmap;
    Refresh();
}

void IconButton::setMenu(std::unique_ptr<wxMenu> menu, wxWindow* notifyWindow, wxEventType notifyType) {
    m_menu = std::move(menu);
    m_menuNotify = notifyWindow;
    m_menuNotifyType = notifyType;
}

bool IconButton::setTargetText(const std::string& target) {
    if (target.size() > kMaxTargetLength)
        return false;
    m_target = target;
    return true;
}

void IconButton::setTooltipText(const wxString& text) {
    if (text.empty())
        UnsetToolTip();
    else
        SetToolTip(text);
}

void IconButton::setToggled(bool toggled) {
    m_toggled = toggled;
    Refresh();
}

void IconButton::SetLabel(const wxString& label) {
    wxControl::SetLabel(label);
    InvalidateBestSize();
    Refresh();
}

void IconButton::DoEnable(bool enable) {
    wxControl::DoEnable(enable);
    if (!enable) {
        m_mouseDown = false;
        m_spaceDown = false;
        m_hover = false;
    }
    Refresh();
}

bool IconButton::isPressedLook() const {
    if (m_kind == Kind::kCheckBox)
        return m_toggled;
    return (m_mouseDown && m_pointerInside) || m_spaceDown || m_menuOpen;
}

bool IconButton::hasFocusLook() const {
    return HasFocus();
}

wxSize IconButton::DoGetBestSize() const {
    wxSize image(0, 0);
    for (const wxBitmap& bitmap : m_images) {
        if (bitmap.IsOk())
            image.IncTo(bitmap.GetSize());
    }
    wxString text = GetLabelText();
    if (text.empty())
        return image + wxSize(2 * kPicturePad, 2 * kPicturePad);
    int textWidth = 0, textHeight = 0;
    for (const wxString& line : wxSplit(text, '\n', '\0')) {
        wxSize extent = GetTextExtent(line.empty() ? wxString("M") : line);
        textWidth = std::max(textWidth, extent.x);
        textHeight += extent.y;
    }
    int gap = image.x > 0 ? kImageGap : 0;
    wxSize best;
    switch (m_alignment) {
        case kIconAbove:
            best = wxSize(std::max(image.x, textWidth), image.y + gap + textHeight);
            break;
        case kIconOverlap:
            best = wxSize(std::max(image.x, textWidth), std::max(image.y, textHeight));
            break;
        default:
            best = wxSize(image.x + gap + textWidth, std::max(image.y, textHeight));
            break;
    }
    best += wxSize(2 * kPadX, 2 * kPadY);
    best.x = std::max(best.x, kMinTextWidth);
    return best;
}

void IconButton::onPaint() {
    wxAutoBufferedPaintDC dc(this);
    draw(dc);
}

void IconButton::draw(wxDC& dc) {
    wxRect rect(GetClientSize());
    if (rect.IsEmpty())
        return;
    bool pressed = isPressedLook();
    dc.SetFont(GetFont());
    drawBackground(dc, rect, pressed);
    drawContent(dc, rect, pressed);
    if (hasFocusLook() && (!m_flat || m_flatFocus)) {
        wxRect ring = rect.Deflate(kFocusInset, kFocusInset);
        if (m_transparent) {
            // Over the parent's picture (the title band's dark gradient) the
            // platform's ring, drawn for the button face, would not show.
            dc.SetPen(wxPen(*wxWHITE, 1, wxPENSTYLE_DOT));
            dc.SetBrush(*wxTRANSPARENT_BRUSH);
            dc.DrawRectangle(ring);
        } else {
            // The platform's own focus ring, as its buttons draw it.
            wxRendererNative::Get().DrawFocusRect(this, dc, ring, 0);
        }
    }
}

void IconButton::drawBackground(wxDC& dc, const wxRect& rect, bool pressed) {
    wxRect area = rect;
    if (m_transparent) {
        if (!m_parentBackground.IsOk() || m_parentBackground.GetSize() != rect.GetSize())
            m_parentBackground = parentBackground(this);
        if (m_parentBackground.IsOk())
            dc.DrawBitmap(m_parentBackground, 0, 0);
    } else {
        if (!m_flat && (hasFocusLook() || isDefault())) {
            frameRect(dc, area, *wxBLACK);
            area.Deflate(1);
        }
        State state = pressed ? State::kPressed : m_hover ? State::kHover : State::kNormal;
        fillRect(dc, area, m_background[static_cast<int>(state)]);
    }

    wxColour highlight = systemColour(wxSYS_COLOUR_BTNHIGHLIGHT);
    wxColour shadow = systemColour(wxSYS_COLOUR_BTNSHADOW);
    if (pressed) {
        if (!m_flat)
            frameRect(dc, area, shadow);
        else if (m_drawBorder)
            draw3dRect(dc, area, shadow, highlight);
    } else if (!m_flat) {
        drawClassicBorder(dc, area);
    } else if (m_hover && m_drawBorder) {
        draw3dRect(dc, area, highlight, shadow);
    }
}

const wxBitmap& IconButton::currentImage(bool pressed) const {
    // The second picture shows the button at rest.
    if (m_images[1].IsOk() && !pressed && !m_hover)
        return m_images[1];
    return m_images[0];
}

void IconButton::drawContent(wxDC& dc, const wxRect& rect, bool pressed) {
    const wxBitmap& image = currentImage(pressed);
    wxSize imageSize = image.IsOk() ? image.GetSize() : wxSize(0, 0);
    wxString text = GetLabelText();

    // The picture by the alignment, centred the other way; the text in the
    // space that remains.
    wxRect textRect = rect.Deflate(kPadX, kPadY);
    wxPoint imageAt((rect.width - imageSize.x) / 2, (rect.height - imageSize.y) / 2);
    if (image.IsOk() && !text.empty()) {
        switch (m_alignment) {
            case kIconLeft:
                imageAt.x = kPadX;
                textRect.SetLeft(imageAt.x + imageSize.x + kImageGap);
                textRect.SetRight(rect.GetRight() - kPadX);
                break;
            case kIconAbove:
                imageAt.y = kPadY;
                textRect.SetTop(imageAt.y + imageSize.y + kImageGap);
                textRect.SetBottom(rect.GetBottom() - kPadY);
                break;
            case kIconRight:
                imageAt.x = rect.width - kPadX - imageSize.x;
                textRect.SetLeft(kPadX);
                textRect.SetRight(imageAt.x - kImageGap - 1);
                break;
            default:
                break;
        }
    }
    if (pressed) {
        wxPoint offset = m_pressedMode == kPressedDown ? wxPoint(0, 2) : wxPoint(1, 1);
        imageAt += offset;
        textRect.Offset(offset);
    }

    if (image.IsOk())
        dc.DrawBitmap(IsEnabled() ? image : image.ConvertToDisabled(), imageAt, true);

    if (text.empty())
        return;
    std::vector<wxString> lines = wrapText(dc, text, std::max(textRect.width, 1));
    int lineHeight = dc.GetCharHeight();
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    if (!IsEnabled()) {
        // Engraved: a highlight one pixel down and right, the shadow over it.
        dc.SetTextForeground(systemColour(wxSYS_COLOUR_BTNHIGHLIGHT));
        wxRect engraved = textRect;
        engraved.Offset(1, 1);
        drawLines(dc, lines, engraved, lineHeight);
        dc.SetTextForeground(systemColour(wxSYS_COLOUR_BTNSHADOW));
    } else {
        State state = pressed ? State::kPressed : m_hover ? State::kHover : State::kNormal;
        dc.SetTextForeground(m_text[static_cast<int>(state)]);
    }
    drawLines(dc, lines, textRect, lineHeight);
}

void IconButton::click() {
    if (!IsEnabled())
        return;
    if (m_kind == Kind::kCheckBox) {
        m_toggled = !m_toggled;
        Refresh();
        return;
    }
    if (m_menu) {
        showMenu();
        return;
    }
    if (!m_target.empty()) {
        UserPrompts::shellOpen(m_target);
        return;
    }
    wxCommandEvent event(wxEVT_BUTTON, GetId());
    event.SetEventObject(this);
    HandleWindowEvent(event);
}

void IconButton::showMenu() {
    m_menuOpen = true;
    Refresh();
    Update();
    if (m_menuNotify && m_menuNotifyType != wxEVT_NULL) {
        wxCommandEvent notice(m_menuNotifyType, GetId());
        notice.SetEventObject(this);
        notice.SetClientData(m_menu.get());
        m_menuNotify->ProcessWindowEvent(notice);
    }
    int command = GetPopupMenuSelectionFromUser(*m_menu, wxPoint(0, GetClientSize().y));
    m_menuOpen = false;
    Refresh();
    if (command != wxID_NONE && GetParent())
        wxQueueEvent(GetParent()->GetEventHandler(), new wxCommandEvent(wxEVT_MENU, command));
}

void IconButton::onMouseDown(wxMouseEvent& event) {
    if (!IsEnabled()) {
        event.Skip();
        return;
    }
    if (AcceptsFocus())
        SetFocus();
    m_mouseDown = true;
    m_pointerInside = true;
    if (!HasCapture())
        CaptureMouse();
    Refresh();
}

void IconButton::onMouseUp(wxMouseEvent& event) {
    if (!m_mouseDown) {
        event.Skip();
        return;
    }
    m_mouseDown = false;
    if (HasCapture())
        ReleaseMouse();
    Refresh();
    if (wxRect(GetClientSize()).Contains(event.GetPosition()))
        click();
}

void IconButton::onMouseMove(wxMouseEvent& event) {
    event.Skip();
    bool inside = wxRect(GetClientSize()).Contains(event.GetPosition());
    if (m_mouseDown && inside != m_pointerInside) {
        m_pointerInside = inside;
        Refresh();
    }
    // Only flat buttons change with the pointer; with the left button held
    // down, one that is not lit already stays dark.
    if (!m_flat || !inside || m_hover || event.LeftIsDown())
        return;
    m_hover = true;
    Refresh();
}

void IconButton::clearHover() {
    if (!m_hover)
        return;
    m_hover = false;
    Refresh();
}

void IconButton::onKeyDown(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
        case WXK_SPACE:
            if (!m_spaceDown) {
                m_spaceDown = true;
                Refresh();
            }
            return;
        case WXK_RETURN:
        case WXK_NUMPAD_ENTER:
            click();
            return;
        default:
            event.Skip();
            return;
    }
}

void IconButton::onKeyUp(wxKeyEvent& event) {
    if (event.GetKeyCode() != WXK_SPACE || !m_spaceDown) {
        event.Skip();
        return;
    }
    m_spaceDown = false;
    Refresh();
    click();
}

}  // namespace glimmark
