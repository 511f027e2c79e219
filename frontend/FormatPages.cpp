#include "frontend/FormatPages.h"

#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include <initializer_list>
#include <iterator>

#include "frontend/ControlIds.h"

namespace glimmark {

namespace {

const char* const kDepthChoices[] = {"Hight Color(24 bits)", "256 Color(8 bits)", "16 Color(4 bits)",
                                     "2 Color(1 bit,black/white)"};
const char* const kGifDepthChoices[] = {"256 Color(8 bits)", "16 Color(4 bits)",
                                        "2 Color(1 bit,black/white)"};
const char* const kJpegDepthChoices[] = {"Hight Color(24 bits)", "Grayscale(8 bits)"};

constexpr int kGap = 6;

template <size_t N>
wxChoice* makeChoice(wxWindow* parent, int id, const char* const (&texts)[N]) {
    wxArrayString items;
    for (const char* text : texts)
        items.Add(text);
    return new wxChoice(parent, id, wxDefaultPosition, wxDefaultSize, items);
}

// The index of the checked button of a radio group, or -1.
int radioIndex(std::initializer_list<wxRadioButton*> group) {
    int index = 0;
    for (wxRadioButton* button : group) {
        if (button->GetValue())
            return index;
        ++index;
    }
    return -1;
}

// Checks the button of the index; an index outside the group changes
// nothing (a toolkit radio group always has one button checked).
void setRadioIndex(std::initializer_list<wxRadioButton*> group, int index) {
    if (index < 0 || index >= static_cast<int>(group.size()))
        return;
    (*(group.begin() + index))->SetValue(true);
}

void setChoiceIndex(wxChoice* choice, int index) {
    if (index >= 0 && index < static_cast<int>(choice->GetCount()))
        choice->SetSelection(index);
    else
        choice->SetSelection(wxNOT_FOUND);
}

wxString percentText(int value) {
    return wxString::Format("%d%%", value);
}

// A labelled row: the label at the left, then the items.
wxBoxSizer* row(wxWindow* parent, const wxString& label, std::initializer_list<wxWindow*> items) {
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    auto* text = new wxStaticText(parent, wxID_ANY, label, wxDefaultPosition, wxSize(90, -1));
    sizer->Add(text, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    for (wxWindow* item : items)
        sizer->Add(item, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 2 * kGap);
    return sizer;
}

}  // namespace

int colourCodeFromDepth(int depthIndex, int paletteIndex) {
    switch (depthIndex) {
        case 0:
            return 24;
        case 1:
            return paletteIndex == 1 ? 7 : 8;
        case 2:
            return paletteIndex == 1 ? 3 : 4;
        case 3:
            return 1;
        default:
            return 0;
    }
}

int gifColourCode(int depthIndex, int paletteIndex) {
    switch (depthIndex) {
        case 0:
            return paletteIndex == 1 ? 7 : 8;
        case 1:
            return paletteIndex == 1 ? 3 : 4;
        case 2:
            return 1;
        default:
            return 0;
    }
}

int jpegColourCode(int depthIndex) {
    return depthIndex == 0 ? 24 : 7;
}

int tiffCompressionSetting(int compressionIndex) {
    // Radio order: None, LZW, Packbits, JPG, RLE, CCITT Group3, CCITT Group4.
    static const int kSetting[TiffPage::kCompressionCount] = {0, 1, 3, 2, 6, 5, 4};
    return compressionIndex >= 0 && compressionIndex < TiffPage::kCompressionCount
               ? kSetting[compressionIndex]
               : 0;
}

FormatPage::FormatPage(wxWindow* parent, const SettingsFile& settings)
    : wxPanel(parent, wxID_ANY), m_settings(settings) {}

// DepthPalettePage -----------------------------------------------------------

DepthPalettePage::DepthPalettePage(wxWindow* parent, const SettingsFile& settings, const Layout& layout)
    : FormatPage(parent, settings), m_layout(layout) {
    wxArrayString items;
    for (int i = 0; i < layout.depthChoiceCount; ++i)
        items.Add(layout.depthChoices[i]);
    m_depth = new wxChoice(this, layout.depthId, wxDefaultPosition, wxDefaultSize, items);
    m_colorized = new wxRadioButton(this, layout.colorizedId, "Colorized", wxDefaultPosition, wxDefaultSize,
                                    wxRB_GROUP);
    m_grayscale = new wxRadioButton(this, layout.grayscaleId, "Grayscale");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(row(this, "Color depth:", {m_depth}), 0, wxALL, kGap);
    sizer->Add(row(this, "Palette:", {m_colorized, m_grayscale}), 0, wxLEFT | wxRIGHT | wxBOTTOM, kGap);
    SetSizer(sizer);

    m_depthIndex = m_settings.readInt(layout.depthKey, 0);
    m_paletteIndex = m_settings.readInt(layout.paletteKey, 0);
    setChoiceIndex(m_depth, m_depthIndex);
    setRadioIndex({m_colorized, m_grayscale}, m_paletteIndex);
    applyEnabling();
    m_depth->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
        readControls();
        applyEnabling();
    });
}

void DepthPalettePage::readControls() {
    m_depthIndex = m_depth->GetSelection();
    m_paletteIndex = radioIndex({m_colorized, m_grayscale});
}

void DepthPalettePage::applyEnabling() {
    // A palette choice means something only for the palette depths, those
    // where colorized and grayscale give different codes; without a depth
    // chosen the buttons stay as they are.
    if (m_depthIndex < 0 || m_depthIndex >= m_layout.depthChoiceCount)
        return;
    const bool used = m_layout.colourCode(m_depthIndex, 0) != m_layout.colourCode(m_depthIndex, 1);
    m_colorized->Enable(used);
    m_grayscale->Enable(used);
}

void DepthPalettePage::writeSettings() {
    readControls();
    m_settings.writeInt(m_layout.depthKey, m_depthIndex);
    m_settings.writeInt(m_layout.paletteKey, m_paletteIndex);
}

int DepthPalettePage::colourCode() const {
    return m_layout.colourCode(m_depthIndex, m_paletteIndex);
}

const DepthPalettePage::Layout kColorLayout = {
    kIdColourDepth, kIdColourColorized, kIdColourGrayscale, kDepthChoices, int(std::size(kDepthChoices)),
    "bbp_color",    "bbp_palette",      colourCodeFromDepth};
const DepthPalettePage::Layout kGifLayout = {
    kIdGifDepth, kIdGifColorized, kIdGifGrayscale, kGifDepthChoices, int(std::size(kGifDepthChoices)),
    "gif_color", "gif_palette",   gifColourCode};

ColorPage::ColorPage(wxWindow* parent, const SettingsFile& settings)
    : DepthPalettePage(parent, settings, kColorLayout) {}

GifPage::GifPage(wxWindow* parent, const SettingsFile& settings)
    : DepthPalettePage(parent, settings, kGifLayout) {}

// JpegPage -------------------------------------------------------------------

JpegPage::JpegPage(wxWindow* parent, const SettingsFile& settings) : FormatPage(parent, settings) {
    m_depth = makeChoice(this, kIdJpegDepth, kJpegDepthChoices);
    m_slider = new wxSlider(this, kIdJpegQuality, 0, 0, 100, wxDefaultPosition, wxSize(200, -1));
    m_qualityLabel = new wxStaticText(this, kIdJpegQualityLabel, "100%", wxDefaultPosition, wxDefaultSize,
                                      wxST_NO_AUTORESIZE);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(row(this, "Color depth:", {m_depth}), 0, wxALL, kGap);
    sizer->Add(row(this, "Quality:", {m_slider, m_qualityLabel}), 0, wxLEFT | wxRIGHT | wxBOTTOM, kGap);
    SetSizer(sizer);

    m_depthIndex = m_settings.readInt("jpg_color", 0);
    m_quality = m_settings.readInt("jpg_quality", 75);
    setChoiceIndex(m_depth, m_depthIndex);
    m_slider->SetValue(m_quality);
    m_qualityLabel->SetLabel(percentText(m_quality));
    m_depth->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { m_depthIndex = m_depth->GetSelection(); });
    m_slider->Bind(wxEVT_SCROLL_CHANGED, &JpegPage::onScroll, this);
    m_slider->Bind(wxEVT_SCROLL_THUMBTRACK, &JpegPage::onScroll, this);
    m_slider->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) {
        wxScrollEvent scroll;
        onScroll(scroll);
    });
}

void JpegPage::onScroll(wxScrollEvent& event) {
    m_quality = m_slider->GetValue();
    m_qualityLabel->SetLabel(percentText(m_quality));
    event.Skip();
}

void JpegPage::writeSettings() {
    m_depthIndex = m_depth->GetSelection();
    m_quality = m_slider->GetValue();
    m_settings.writeInt("jpg_color", m_depthIndex);
    m_settings.writeInt("jpg_quality", m_quality);
}

int JpegPage::colourCode() const {
    return jpegColourCode(m_depthIndex);
}

// TiffPage -------------------------------------------------------------------

TiffPage::TiffPage(wxWindow* parent, const SettingsFile& settings) : FormatPage(parent, settings) {
    m_depth = makeChoice(this, kIdTiffDepth, kDepthChoices);
    m_colorized =
        new wxRadioButton(this, kIdTiffColorized, "Colorized", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_grayscale = new wxRadioButton(this, kIdTiffGrayscale, "Grayscale");
    static const struct {
        int id;
        const char* text;
    } kCompressions[kCompressionCount] = {
        {kIdTiffNone, "None"},
        {kIdTiffLzw, "LZW"},
        {kIdTiffPackbits, "Packbits"},
        {kIdTiffJpeg, "JPG"},
        {kIdTiffRle, "RLE"},
        {kIdTiffGroup3, "CCITT Group3"},
        {kIdTiffGroup4, "CCITT Group4"},
    };
    for (int i = 0; i < kCompressionCount; ++i) {
        m_compression[i] = new wxRadioButton(this, kCompressions[i].id, kCompressions[i].text,
                                             wxDefaultPosition, wxDefaultSize, i == 0 ? wxRB_GROUP : 0);
    }
    m_slider = new wxSlider(this, kIdTiffQuality, 0, 0, 100, wxDefaultPosition, wxSize(200, -1));
    m_qualityLabel = new wxStaticText(this, kIdTiffQualityLabel, "100%", wxDefaultPosition, wxDefaultSize,
                                      wxST_NO_AUTORESIZE);

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(row(this, "Color depth:", {m_depth, m_colorized, m_grayscale}), 0, wxALL, kGap);
    auto* compressionRow = new wxBoxSizer(wxHORIZONTAL);
    compressionRow->Add(new wxStaticText(this, wxID_ANY, "Compression:", wxDefaultPosition, wxSize(90, -1)),
                        0, wxTOP | wxRIGHT, kGap / 2);
    auto* grid = new wxGridSizer(4, kGap / 2, 2 * kGap);
    for (wxRadioButton* button : m_compression)
        grid->Add(button);
    compressionRow->Add(grid);
    sizer->Add(compressionRow, 0, wxLEFT | wxRIGHT | wxBOTTOM, kGap);
    sizer->Add(row(this, "JPG quality:", {m_slider, m_qualityLabel}), 0, wxLEFT | wxRIGHT | wxBOTTOM, kGap);
    SetSizer(sizer);

    m_depthIndex = m_settings.readInt("tif_color", 0);
    m_paletteIndex = m_settings.readInt("tif_palette", 0);
    m_compressionIndex = m_settings.readInt("tif_compression", 1);
    m_quality = m_settings.readInt("tif_quality", 75);
    m_slider->SetValue(m_quality);
    m_qualityLabel->SetLabel(percentText(m_quality));
    applyDepthRules();

    m_depth->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) {
        readControls();
        applyDepthRules();
    });
    m_colorized->Bind(wxEVT_RADIOBUTTON, &TiffPage::onPalette, this);
    m_grayscale->Bind(wxEVT_RADIOBUTTON, &TiffPage::onPalette, this);
    for (wxRadioButton* button : m_compression) {
        button->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
            readControls();
            refreshQualityEnabling();
        });
    }
    m_slider->Bind(wxEVT_SCROLL_CHANGED, &TiffPage::onScroll, this);
    m_slider->Bind(wxEVT_SCROLL_THUMBTRACK, &TiffPage::onScroll, this);
    m_slider->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) {
        wxScrollEvent scroll;
        onScroll(scroll);
    });
}

void TiffPage::readControls() {
    m_depthIndex = m_depth->GetSelection();
    m_paletteIndex = radioIndex({m_colorized, m_grayscale});
    int index = 0;
    m_compressionIndex = -1;
    for (wxRadioButton* button : m_compression) {
        if (button->GetValue())
            m_compressionIndex = index;
        ++index;
    }
    m_quality = m_slider->GetValue();
}

void TiffPage::writeControls() {
    setChoiceIndex(m_depth, m_depthIndex);
    setRadioIndex({m_colorized, m_grayscale}, m_paletteIndex);
    if (m_compressionIndex >= 0 && m_compressionIndex < kCompressionCount)
        m_compression[m_compressionIndex]->SetValue(true);
    m_slider->SetValue(m_quality);
}

void TiffPage::applyDepthRules() {
    // Each compression is offered only for the depths its TIFF encoding
    // carries: JPEG for 24 bits (and 8-bit grey, see onPalette), the CCITT
    // codes and RLE for 1 bit, Packbits for everything but 1 bit.
    enum { kNone, kLzw, kPackbits, kJpeg, kRle, kGroup3, kGroup4 };
    for (int index : {kPackbits, kJpeg, kRle, kGroup3, kGroup4})
        m_compression[index]->Disable();
    m_colorized->Disable();
    m_grayscale->Disable();
    switch (m_depthIndex) {
        case 0:
            m_compression[kPackbits]->Enable();
            m_compression[kJpeg]->Enable();
            if (m_compressionIndex >= kRle)
                m_compressionIndex = kLzw;
            break;
        case 1:
            m_colorized->Enable();
            m_grayscale->Enable();
            m_compression[kPackbits]->Enable();
            m_paletteIndex = 0;
            if (m_compressionIndex > kPackbits)
                m_compressionIndex = kLzw;
            break;
        case 2:
            m_colorized->Enable();
            m_grayscale->Enable();
            m_compression[kPackbits]->Enable();
            if (m_compressionIndex >= kJpeg)
                m_compressionIndex = kLzw;
            break;
        case 3:
            m_compression[kRle]->Enable();
            m_compression[kGroup3]->Enable();
            m_compression[kGroup4]->Enable();
            if (m_compressionIndex == kPackbits || m_compressionIndex == kJpeg)
                m_compressionIndex = kLzw;
            break;
        default:
            break;
    }
    writeControls();
    refreshQualityEnabling();
}

void TiffPage::refreshQualityEnabling() {
    bool jpeg = m_compressionIndex == 3;
    m_slider->Enable(jpeg);
    m_qualityLabel->Enable(jpeg);
}

void TiffPage::onPalette(wxCommandEvent&) {
    readControls();
    if (m_depthIndex == 1) {
        if (m_paletteIndex == 1) {
            m_compression[3]->Enable();
        } else {
            m_compression[3]->Disable();
            m_compressionIndex = 1;
            writeControls();
        }
    }
    refreshQualityEnabling();
}

void TiffPage::onScroll(wxScrollEvent& event) {
    m_quality = m_slider->GetValue();
    m_qualityLabel->SetLabel(percentText(m_quality));
    event.Skip();
}

void TiffPage::writeSettings() {
    readControls();
    m_settings.writeInt("tif_color", m_depthIndex);
    m_settings.writeInt("tif_palette", m_paletteIndex);
    m_settings.writeInt("tif_compression", m_compressionIndex);
    m_settings.writeInt("tif_quality", m_quality);
}

int TiffPage::colourCode() const {
    return colourCodeFromDepth(m_depthIndex, m_paletteIndex);
}

}  // namespace glimmark
