#pragma once

#include <wx/bitmap.h>
#include <wx/control.h>

#include <memory>
#include <string>

#include "frontend/Artwork.h"

class wxMenu;

namespace glimmark {

// An owner-drawn push button with a picture (an icon, and optionally a second
// one for the resting state), hover tracking and a tooltip. It draws every
// pixel itself: background in one of three colour states or the parent's
// background copied from behind it, a classic or flat border, the picture
// placed by the alignment, the word-wrapped text and the focus frame.
//
// A cursor of its own (a hand, say) is the window's SetCursor.
//
// A click sends the usual button event to the parent, except in three modes
// that handle the click themselves: a check-box button flips its toggle, a
// button with a menu pops the menu up and posts the chosen command to its
// parent, and a button with a target text opens the target with the desktop.
//
// Owned by its parent window, as every window; it owns its menu. UI thread
// only; nothing throws except std::bad_alloc.
class IconButton : public wxControl {
public:
    // What the button is, fixed at creation as a button's style is.
    enum class Kind { kPush, kDefaultPush, kCheckBox };

    // The three colour states, each a background and a text colour.
    enum class State { kNormal, kHover, kPressed };

    // Picture alignments: left of the text, above it, right of it, or
    // centred behind it.
    enum Alignment : int { kIconLeft = 0, kIconAbove = 1, kIconRight = 2, kIconOverlap = 3 };

    // How far the content moves while the button is pressed: by (1, 1) or by
    // (0, 2).
    enum PressedOffset : int { kPressedDiagonal = 0, kPressedDown = 1 };

    // Results of the setters that check their argument.
    enum Result : int { kOk = 0, kInvalidAlignment = 4, kInvalidPressedOffset = 6 };

    // Second-icon arguments of setIcon besides an icon's number.
    static constexpr int kNoSecondIcon = 0;
    static constexpr int kGreyCopy = -2;

    // Longest target text, in bytes, that setTargetText takes.
    static constexpr size_t kMaxTargetLength = 260;

    IconButton(wxWindow* parent, int id, const wxString& label, Kind kind = Kind::kPush,
               const wxPoint& position = wxDefaultPosition, const wxSize& size = wxDefaultSize);
    ~IconButton() override;

    // The picture: an icon of the program's set, and as second icon (shown
    // while the button rests) another icon's number, kGreyCopy for a grey
    // copy of the first, or kNoSecondIcon.
    void setIcon(Icon icon, int secondIcon = kNoSecondIcon);
    // The same with any two images (transparency or masks kept); a null
    // second image means none.
    void setBitmaps(const wxBitmap& first, const wxBitmap& second = wxNullBitmap);
    // A copy of an image in which every pixel that is not black becomes the
    // grey of its brightness, g = 0.299 R + 0.587 G + 0.114 B (truncated).
    static wxBitmap greyCopy(const wxBitmap& image);

    // kOk, or kInvalidAlignment (nothing changes) for a value outside 0 .. 3.
    int setAlignment(int alignment);
    // kOk, or kInvalidPressedOffset (nothing changes) for a mode other than
    // kPressedDiagonal and kPressedDown.
    int setPressedOffset(int mode);

    // Flat buttons (the default) draw no border until the pointer is over
    // them and only they track the pointer; drawFocus asks for the focus
    // frame even when flat.
    void setFlat(bool flat, bool drawFocus = false);
    // Whether a flat button draws its border under the pointer and when
    // pressed (default on).
    void setDrawBorder(bool draw);
    void setColours(State state, const wxColour& background, const wxColour& text);
    // Back to the system's button face and button text in all three states,
    // as also happens when the system's colours change.
    void resetColours();

    // Copies the parent's background from behind the button (once, and again
    // when the button's size changes) and paints it under the content in
    // place of a background colour.
    void setTransparent(bool transparent);

    // A menu that pops up below the button on a click, in place of the
    // button's event; the chosen command goes to the parent as a menu event.
    // Before it opens, notifyWindow (if any) gets a command event of the type
    // notifyType whose client data is the menu, so that it can bring the
    // items up to date. Null removes the menu.
    void setMenu(std::unique_ptr<wxMenu> menu, wxWindow* notifyWindow = nullptr,
                 wxEventType notifyType = wxEVT_NULL);

    // A file, folder or URL that a click opens with the desktop, in place of
    // the button's event. False, with the target unchanged, for a text longer
    // than kMaxTargetLength bytes: a cut target would open something else.
    bool setTargetText(const std::string& target);

    // The tooltip; empty removes it.
    void setTooltipText(const wxString& text);

    // Check-box buttons: the toggle, flipped by each click.
    bool isToggled() const { return m_toggled; }
    void setToggled(bool toggled);

    bool isDefault() const { return m_kind == Kind::kDefaultPush; }
    bool isFlat() const { return m_flat; }
    bool drawsBorder() const { return m_drawBorder; }
    bool isHovered() const { return m_hover; }
    int alignment() const { return m_alignment; }

    // Paints the whole button into dc at (0, 0), as the paint handler does.
    void draw(wxDC& dc);

    // What a click does, as the mouse or keyboard would trigger it.
    void click();

    bool AcceptsFocus() const override { return IsShown() && IsEnabled(); }
    bool AcceptsFocusFromKeyboard() const override { return AcceptsFocus(); }
    void SetLabel(const wxString& label) override;

protected:
    // Steps of draw that a subclass may replace: the background and border
    // over rect, the button's client rectangle.
    virtual void drawBackground(wxDC& dc, const wxRect& rect, bool pressed);

    // The look's state: pressed (the toggle in check-box mode, the mouse or
    // the space key held, or the menu open), focused.
    bool isPressedLook() const;
    bool hasFocusLook() const;
    bool drawsFlatFocus() const { return m_flatFocus; }

    wxSize DoGetBestSize() const override;
    void DoEnable(bool enable) override;

private:
    void onPaint();
    void onMouseDown(wxMouseEvent& event);
    void onMouseUp(wxMouseEvent& event);
    void onMouseMove(wxMouseEvent& event);
    void onKeyDown(wxKeyEvent& event);
    void onKeyUp(wxKeyEvent& event);
    void clearHover();
    void showMenu();

    void drawContent(wxDC& dc, const wxRect& rect, bool pressed);
    const wxBitmap& currentImage(bool pressed) const;

    Kind m_kind;
    wxBitmap m_images[2];  // first; second (resting) or null
    int m_alignment = kIconLeft;
    int m_pressedMode = kPressedDiagonal;
    bool m_flat = true;
    bool m_flatFocus = false;
    bool m_drawBorder = true;
    wxColour m_background[3];
    wxColour m_text[3];
    bool m_transparent = false;
    wxBitmap m_parentBackground;  // captured behind the button in transparent mode

    std::unique_ptr<wxMenu> m_menu;
    wxWindow* m_menuNotify = nullptr;
    wxEventType m_menuNotifyType = wxEVT_NULL;
    std::string m_target;

    bool m_toggled = false;
    bool m_hover = false;
    bool m_mouseDown = false;      // left button went down on the button
    bool m_pointerInside = false;  // while the left button is down
    bool m_spaceDown = false;
    bool m_menuOpen = false;
};

}  // namespace glimmark
