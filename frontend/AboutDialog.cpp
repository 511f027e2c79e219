#include "frontend/AboutDialog.h"

#include <wx/dcbuffer.h>
#include <wx/generic/statbmpg.h>
#include <wx/settings.h>
#include <wx/stattext.h>

#include <algorithm>

#include "frontend/Artwork.h"
#include "frontend/Buttons.h"
#include "frontend/ControlIds.h"
#include "frontend/HyperLink.h"
#include "frontend/ThemedButton.h"

#ifndef GLIMMARK_VERSION
#define GLIMMARK_VERSION "0.0.0"
#endif

namespace glimmark {

namespace {

// The box's size in dialog units, which follow the font.
constexpr int kWidthUnits = 271;
constexpr int kHeightUnits = 97;
constexpr int kMargin = 12;
constexpr int kRowGap = 6;

const char* const kHomeFile = "docs/index.html";
const char* const kSupportFile = "README.md";
const char* const kTextLine = "Turns the pages of PDF documents into image files.";

}  // namespace

std::string AboutDialog::programLine() {
    return std::string("Tellora Glimmark Version ") + GLIMMARK_VERSION;
}

AboutDialog::AboutDialog(wxWindow* parent, const std::string& programFolder, VisualStyles* styles)
    : wxDialog(parent, wxID_ANY, "About Tellora Glimmark", wxDefaultPosition, wxDefaultSize,
               wxBORDER_NONE | wxTAB_TRAVERSAL) {
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    wxSize size = ConvertDialogToPixels(wxSize(kWidthUnits, kHeightUnits));

    // The title picture inside the one-pixel frame the box draws round itself.
    m_title = new wxGenericStaticBitmap(this, kIdAboutTitle, aboutTitleBitmap(size.x - 2), wxPoint(1, 1));

    // Sized by the bold font's measure: the toolkit sizes a label before
    // it takes a font set later.
    int y = 1 + kTitleBandHeight + kMargin;
    auto* name = new wxStaticText(this, wxID_ANY, programLine(), wxPoint(kMargin, y));
    name->SetFont(name->GetFont().Bold());
    name->SetSize(name->GetTextExtent(programLine()) + wxSize(2, 0));
    y += name->GetSize().y + kMargin;

    // Labels on the left, links after the wider of them.
    auto* homeLabel = new wxStaticText(this, wxID_ANY, "HomePage:");
    auto* supportLabel = new wxStaticText(this, wxID_ANY, "Support:");
    int linkX = kMargin + std::max(homeLabel->GetSize().x, supportLabel->GetSize().x) + kRowGap;
    int rowHeight = GetCharHeight() + 4;
    wxSize linkBox(size.x - linkX - kMargin, rowHeight);

    homeLabel->SetSize(kMargin, y, -1, rowHeight);
    m_homeLink =
        new HyperLink(this, kIdAboutHomeLink, kHomeFile, wxString::FromUTF8(programFolder + kHomeFile),
                      wxPoint(linkX, y), linkBox, wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL);
    y += rowHeight + kRowGap;
    supportLabel->SetSize(kMargin, y, -1, rowHeight);
    m_supportLink = new HyperLink(this, kIdAboutSupportLink, kSupportFile,
                                  wxString::FromUTF8(programFolder + kSupportFile), wxPoint(linkX, y),
                                  linkBox, wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL);
    for (HyperLink* link : {m_homeLink, m_supportLink})
        link->setUnderlineMode(HyperLink::kAlwaysUnderlined);
    y += rowHeight + kMargin;

    // The text line, and OK at the bottom right.
    auto* text = new wxStaticText(this, wxID_ANY, kTextLine);
    ThemedButton* ok = makeDialogButton(this, wxID_OK, "OK", styles, true);
    wxSize okSize = ok->GetSize();
    int height = std::max(size.y, y + std::max(text->GetSize().y, okSize.y) + kMargin);
    ok->Move(size.x - kMargin - okSize.x, height - kMargin - okSize.y);
    text->Move(kMargin, height - kMargin - (okSize.y + text->GetSize().y) / 2);
    SetClientSize(size.x, height);
    ok->SetFocus();

    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(this);
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
        // The box has no frame of its own.
        dc.SetPen(wxPen(kBandColour));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(wxRect(GetClientSize()));
    });
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { endDialog(wxID_OK); }, wxID_OK);
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_ESCAPE)
            endDialog(wxID_CANCEL);
        else
            event.Skip();
    });
    m_title->Bind(wxEVT_LEFT_DOWN, &AboutDialog::onTitleDown, this);
    m_title->Bind(wxEVT_MOTION, &AboutDialog::onTitleMove, this);
    m_title->Bind(wxEVT_LEFT_UP, &AboutDialog::onTitleUp, this);
    m_title->Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { m_dragging = false; });
    Centre();
}

void AboutDialog::endDialog(int code) {
    if (IsModal())
        EndModal(code);
    else
        Hide();
}

void AboutDialog::onTitleDown(wxMouseEvent& event) {
    // The box has no caption to be moved by: its title picture serves.
    if (wxWindow* captured = wxWindow::GetCapture())
        captured->ReleaseMouse();
    m_dragging = true;
    m_dragStart = m_title->ClientToScreen(event.GetPosition());
    m_dragOrigin = GetPosition();
    m_title->CaptureMouse();
}

void AboutDialog::onTitleMove(wxMouseEvent& event) {
    if (!m_dragging) {
        event.Skip();
        return;
    }
    Move(m_dragOrigin + (m_title->ClientToScreen(event.GetPosition()) - m_dragStart));
}

void AboutDialog::onTitleUp(wxMouseEvent& event) {
    if (!m_dragging) {
        event.Skip();
        return;
    }
    m_dragging = false;
    if (m_title->HasCapture())
        m_title->ReleaseMouse();
}

}  // namespace glimmark
