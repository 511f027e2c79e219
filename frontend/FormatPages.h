#pragma once

#include <wx/panel.h>

#include "frontend/SettingsFile.h"

class wxChoice;
class wxRadioButton;
class wxSlider;
class wxStaticText;
class wxCommandEvent;
class wxScrollEvent;

namespace glimmark {

// The small pages under the image type of the options page, one per family
// of formats: each reads its keys of the settings file when it is made,
// writes them when the options are accepted, and sums up its choices in a
// colour code (24 full colour; 8 256 colours; 7 256 greys; 4 16 colours;
// 3 16 greys; 1 black and white; 0 no valid choice). Child windows owned by
// their parent; UI thread only.

// Colour code of a depth list of "24, 8, 4, 1 bits" and a palette choice
// (0 colorized, 1 grayscale); also used by the TIFF page.
int colourCodeFromDepth(int depthIndex, int paletteIndex);
// Colour code of the GIF page's "8, 4, 1 bits" list.
int gifColourCode(int depthIndex, int paletteIndex);
// Colour code of the JPEG page's "24 bits, 8-bit grey" list.
int jpegColourCode(int depthIndex);
// The library's TIFF compression setting for a compression radio index; 0
// (none) for an index outside the list.
int tiffCompressionSetting(int compressionIndex);

// What every format page offers the options page.
class FormatPage : public wxPanel {
public:
    FormatPage(wxWindow* parent, const SettingsFile& settings);
    // Reads the controls and writes the page's keys.
    virtual void writeSettings() = 0;
    virtual int colourCode() const = 0;

protected:
    SettingsFile m_settings;
};

// A page of a colour depth list and a palette choice (colorized or
// grayscale), which is offered only for the depths where it changes the
// colour code.
class DepthPalettePage : public FormatPage {
public:
    struct Layout {
        int depthId;
        int colorizedId;
        int grayscaleId;
        const char* const* depthChoices;
        int depthChoiceCount;
        const char* depthKey;
        const char* paletteKey;
        int (*colourCode)(int depthIndex, int paletteIndex);
    };

    DepthPalettePage(wxWindow* parent, const SettingsFile& settings, const Layout& layout);
    void writeSettings() override;
    int colourCode() const override;

private:
    void readControls();
    void applyEnabling();

    const Layout& m_layout;
    wxChoice* m_depth;
    wxRadioButton* m_colorized;
    wxRadioButton* m_grayscale;
    int m_depthIndex = -1;
    int m_paletteIndex = -1;
};

// BMP, PNG and PCX: colour depth and palette.
class ColorPage : public DepthPalettePage {
public:
    ColorPage(wxWindow* parent, const SettingsFile& settings);
};

// GIF: colour depth up to 256 colours and palette.
class GifPage : public DepthPalettePage {
public:
    GifPage(wxWindow* parent, const SettingsFile& settings);
};

// JPEG: full colour or grey, and quality.
class JpegPage : public FormatPage {
public:
    JpegPage(wxWindow* parent, const SettingsFile& settings);
    void writeSettings() override;
    int colourCode() const override;
    int quality() const { return m_quality; }

private:
    void onScroll(wxScrollEvent& event);

    wxChoice* m_depth;
    wxSlider* m_slider;
    wxStaticText* m_qualityLabel;
    int m_depthIndex = -1;
    int m_quality = -1;
};

// TIFF: colour depth, palette, compression and the quality of JPEG
// compression, with the rules that offer each compression only for the
// depths it can carry.
class TiffPage : public FormatPage {
public:
    static constexpr int kCompressionCount = 7;

    TiffPage(wxWindow* parent, const SettingsFile& settings);
    void writeSettings() override;
    int colourCode() const override;
    int quality() const { return m_quality; }
    int compressionSetting() const { return tiffCompressionSetting(m_compressionIndex); }
    int compressionIndex() const { return m_compressionIndex; }

private:
    void readControls();
    void writeControls();
    void applyDepthRules();
    void refreshQualityEnabling();
    void onPalette(wxCommandEvent& event);
    void onScroll(wxScrollEvent& event);

    wxChoice* m_depth;
    wxRadioButton* m_colorized;
    wxRadioButton* m_grayscale;
    wxRadioButton* m_compression[kCompressionCount];  // in radio index order
    wxSlider* m_slider;
    wxStaticText* m_qualityLabel;
    int m_depthIndex = -1;
    int m_paletteIndex = -1;
    int m_compressionIndex = -1;
    int m_quality = -1;
};

}  // namespace glimmark
