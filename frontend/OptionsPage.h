#pragma once

#include <wx/panel.h>

#include <string>

#include "frontend/ConversionOptions.h"
#include "frontend/SettingsFile.h"

class wxChoice;
class wxRadioButton;
class wxTextCtrl;
class wxButton;

namespace glimmark {

class ColorPage;
class GifPage;
class JpegPage;
class TiffPage;

// Step 2 of the wizard: image type, resolution, TIFF mode, open password and
// where the images go, with the format's own page under the type. Reads the
// settings file when it is made and writes every key on each accepted
// Convert. A child of the main window's page frame; UI thread only.
class OptionsPage : public wxPanel {
public:
    OptionsPage(wxWindow* parent, const SettingsFile& settings);

    // Checks the page, writes every key and fills the record. False, with a
    // warning shown and nothing written, when the save folder is not valid.
    bool validateAndSave(ConversionOptions& options);

    // The sub-page shown for the current type, or null (EMF, WMF).
    wxWindow* visibleFormatPage() const;

private:
    // The constructor's groups of controls, each in its own sizer.
    wxSizer* buildImageGroup();
    wxSizer* buildTifModeGroup();
    wxSizer* buildSaveGroup(const std::string& password);
    void readControls();
    void writeControls();
    void onTypeChange();
    void onSaveMode();
    void onBrowse();

    SettingsFile m_settings;
    ColorPage* m_colourPage = nullptr;
    GifPage* m_gifPage = nullptr;
    JpegPage* m_jpegPage = nullptr;
    TiffPage* m_tiffPage = nullptr;
    int m_imageTypeIndex = -1;
    int m_xDpiIndex = -1;
    int m_yDpiIndex = -1;
    int m_saveMode = -1;
    int m_tifMode = -1;
    std::string m_savePath;

    wxChoice* m_imageType;
    wxChoice* m_xDpi;
    wxChoice* m_yDpi;
    wxPanel* m_formatFrame;
    wxRadioButton* m_tifModes[3];
    wxRadioButton* m_saveBesideInput;
    wxRadioButton* m_saveToFolder;
    wxTextCtrl* m_savePathEdit;
    wxButton* m_browse;
    wxTextCtrl* m_password;
};

}  // namespace glimmark
