#include "frontend/OptionsPage.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/wrapsizer.h>

#include <algorithm>

#include "frontend/ControlIds.h"
#include "frontend/FormatPages.h"
#include "frontend/TextFormats.h"
#include "frontend/UserPrompts.h"

namespace glimmark {

namespace {

constexpr int kGap = 6;
const char* const kTypeChoices[] = {"BMP", "EMF", "WMF", "JPG", "PNG", "GIF", "TIF", "PCX"};

// A radio group's checked index, or -1.
int checkedIndex(wxRadioButton* const* group, int count) {
    for (int i = 0; i < count; ++i) {
        if (group[i]->GetValue())
            return i;
    }
    return -1;
}

void setChoice(wxChoice* choice, int index) {
    choice->SetSelection(index >= 0 && index < static_cast<int>(choice->GetCount()) ? index : wxNOT_FOUND);
}

}  // namespace

OptionsPage::OptionsPage(wxWindow* parent, const SettingsFile& settings)
    : wxPanel(parent, wxID_ANY), m_settings(settings) {
    // Fields from the settings file.
    m_xDpiIndex = dpiChoiceIndex(m_settings.readInt("xdpi", 2));
    m_yDpiIndex = dpiChoiceIndex(m_settings.readInt("ydpi", 2));
    m_imageTypeIndex = m_settings.readInt("imagetype", 3);
    m_tifMode = m_settings.readInt("tifmode", 1);
    m_saveMode = m_settings.readInt("savemode", 0);
    m_savePath = m_settings.readText("savePath", defaultFolder());
    std::string password = m_settings.readText("password", "");

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(buildImageGroup(), 0, wxEXPAND | wxBOTTOM, kGap);
    sizer->Add(buildTifModeGroup(), 0, wxEXPAND | wxBOTTOM, kGap);
    sizer->Add(buildSaveGroup(password), 0, wxEXPAND);

    SetSizer(sizer);

    writeControls();
    onTypeChange();
    onSaveMode();

    m_imageType->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { onTypeChange(); });
    m_saveBesideInput->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { onSaveMode(); });
    m_saveToFolder->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { onSaveMode(); });
    m_browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onBrowse(); });
    Bind(wxEVT_SIZE, [this](wxSizeEvent&) {
        // The TIFF mode choices learn the width they have only while they are
        // placed, after the groups' heights were shared out: a second pass
        // gives their group the rows they took (else, narrowed, the second
        // choice is cut or gets no height).
        Layout();
        Layout();
    });
}

// Image settings: type, resolutions, and the format's page.
wxSizer* OptionsPage::buildImageGroup() {
    auto* imageBox = new wxStaticBox(this, kIdImageSettingsGroup, "Image settings");
    auto* imageSizer = new wxStaticBoxSizer(imageBox, wxVERTICAL);
    wxArrayString types;
    for (const char* type : kTypeChoices)
        types.Add(type);
    wxArrayString dpis;
    for (const char* dpi : kDpiChoices)
        dpis.Add(dpi);
    m_imageType = new wxChoice(imageBox, kIdImageType, wxDefaultPosition, wxDefaultSize, types);
    m_xDpi = new wxChoice(imageBox, kIdXDpi, wxDefaultPosition, wxDefaultSize, dpis);
    m_yDpi = new wxChoice(imageBox, kIdYDpi, wxDefaultPosition, wxDefaultSize, dpis);
    auto* typeRow = new wxBoxSizer(wxHORIZONTAL);
    typeRow->Add(new wxStaticText(imageBox, wxID_ANY, "Image type:", wxDefaultPosition, wxSize(90, -1)), 0,
                 wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    typeRow->Add(m_imageType, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4 * kGap);
    typeRow->Add(new wxStaticText(imageBox, wxID_ANY, "X DPI:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    typeRow->Add(m_xDpi, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4 * kGap);
    typeRow->Add(new wxStaticText(imageBox, wxID_ANY, "Y DPI:"), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    typeRow->Add(m_yDpi, 0, wxALIGN_CENTER_VERTICAL);
    imageSizer->Add(typeRow, 0, wxALL, kGap);

    m_formatFrame = new wxPanel(imageBox, kIdFormatFrame);
    m_tiffPage = new TiffPage(m_formatFrame, m_settings);
    m_colourPage = new ColorPage(m_formatFrame, m_settings);
    m_jpegPage = new JpegPage(m_formatFrame, m_settings);
    m_gifPage = new GifPage(m_formatFrame, m_settings);
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    for (wxWindow* page : {static_cast<wxWindow*>(m_tiffPage), static_cast<wxWindow*>(m_colourPage),
                           static_cast<wxWindow*>(m_jpegPage), static_cast<wxWindow*>(m_gifPage)}) {
        frameSizer->Add(page, 1, wxEXPAND);
    }
    m_formatFrame->SetSizer(frameSizer);
    // The frame is as tall as the tallest page, so that the groups below
    // stay where they are when the type changes.
    int tallest = 0;
    for (wxWindow* page : {static_cast<wxWindow*>(m_tiffPage), static_cast<wxWindow*>(m_colourPage),
                           static_cast<wxWindow*>(m_jpegPage), static_cast<wxWindow*>(m_gifPage)}) {
        tallest = std::max(tallest, page->GetBestSize().y);
    }
    m_formatFrame->SetMinSize(wxSize(-1, tallest));
    imageSizer->Add(m_formatFrame, 0, wxEXPAND);
    return imageSizer;
}

wxSizer* OptionsPage::buildTifModeGroup() {
    // TIFF mode. The third choice is kept for settings files that hold it but
    // is never offered.
    auto* tifBox = new wxStaticBox(this, kIdTifModeGroup, "Tif Mode");
    auto* tifSizer = new wxStaticBoxSizer(tifBox, wxVERTICAL);
    // The choices stand side by side where they fit and one below the other
    // in a narrow window.
    auto* tifChoices = new wxWrapSizer(wxHORIZONTAL);
    m_tifModes[0] =
        new wxRadioButton(tifBox, kIdTifModeSingle, "Save one file into multiple tif file (single page).",
                          wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_tifModes[1] =
        new wxRadioButton(tifBox, kIdTifModeMulti, "Save one file into one tif file (multiple pages).");
    m_tifModes[2] =
        new wxRadioButton(tifBox, kIdTifModeAllInOne, "Save all files into one tif file (Multi-page).");
    m_tifModes[2]->Hide();
    for (wxRadioButton* mode : m_tifModes)
        tifChoices->Add(mode, 0, wxALL, kGap);
    tifSizer->Add(tifChoices, 0, wxEXPAND);
    return tifSizer;
}

// Where the images go, and the password.
wxSizer* OptionsPage::buildSaveGroup(const std::string& password) {
    auto* saveBox = new wxStaticBox(this, kIdSaveModeGroup, "Save Mode");
    auto* saveSizer = new wxStaticBoxSizer(saveBox, wxVERTICAL);
    m_saveBesideInput = new wxRadioButton(saveBox, kIdSaveBesideInput, "Save as input directory",
                                          wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    m_saveToFolder = new wxRadioButton(saveBox, kIdSaveToFolder, "Save to following");
    m_savePathEdit = new wxTextCtrl(saveBox, kIdSavePath);
    m_browse =
        new wxButton(saveBox, kIdBrowseSavePath, "...", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
    auto* saveRow = new wxBoxSizer(wxHORIZONTAL);
    saveRow->Add(m_saveBesideInput, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 3 * kGap);
    saveRow->Add(m_saveToFolder, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    saveRow->Add(m_savePathEdit, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    saveRow->Add(m_browse, 0, wxALIGN_CENTER_VERTICAL);
    saveSizer->Add(saveRow, 0, wxEXPAND | wxALL, kGap);
    m_password = new wxTextCtrl(saveBox, kIdPassword, wxString::FromUTF8(password), wxDefaultPosition,
                                wxSize(200, -1), wxTE_PASSWORD);
    auto* passwordRow = new wxBoxSizer(wxHORIZONTAL);
    passwordRow->Add(new wxStaticText(saveBox, wxID_ANY, "Open password:"), 0,
                     wxALIGN_CENTER_VERTICAL | wxRIGHT, kGap);
    passwordRow->Add(m_password, 0, wxALIGN_CENTER_VERTICAL);
    saveSizer->Add(passwordRow, 0, wxLEFT | wxRIGHT | wxBOTTOM, kGap);
    return saveSizer;
}

void OptionsPage::readControls() {
    m_imageTypeIndex = m_imageType->GetSelection();
    m_xDpiIndex = m_xDpi->GetSelection();
    m_yDpiIndex = m_yDpi->GetSelection();
    m_tifMode = checkedIndex(m_tifModes, 3);
    wxRadioButton* saveModes[2] = {m_saveBesideInput, m_saveToFolder};
    m_saveMode = checkedIndex(saveModes, 2);
    m_savePath = m_savePathEdit->GetValue().utf8_string();
}

void OptionsPage::writeControls() {
    setChoice(m_imageType, m_imageTypeIndex);
    setChoice(m_xDpi, m_xDpiIndex);
    setChoice(m_yDpi, m_yDpiIndex);
    if (m_tifMode >= 0 && m_tifMode < 3)
        m_tifModes[m_tifMode]->SetValue(true);
    if (m_saveMode == 0)
        m_saveBesideInput->SetValue(true);
    else if (m_saveMode == 1)
        m_saveToFolder->SetValue(true);
    m_savePathEdit->ChangeValue(wxString::FromUTF8(m_savePath));
}

wxWindow* OptionsPage::visibleFormatPage() const {
    if (!m_formatFrame->IsShown())
        return nullptr;
    for (wxWindow* page : m_formatFrame->GetChildren()) {
        if (page->IsShown())
            return page;
    }
    return nullptr;
}

void OptionsPage::onTypeChange() {
    readControls();
    m_colourPage->Hide();
    m_gifPage->Hide();
    m_jpegPage->Hide();
    m_tiffPage->Hide();
    m_tifModes[0]->Disable();
    m_tifModes[1]->Disable();
    m_formatFrame->Show();
    switch (m_imageTypeIndex) {
        case 0:  // BMP
        case 4:  // PNG
        case 7:  // PCX
            m_colourPage->Show();
            break;
        case 1:  // EMF
        case 2:  // WMF: metafiles carry the page as it is rendered; the
                 // empty frame keeps its place
            break;
        case 3:
            m_jpegPage->Show();
            break;
        case 5:
            m_gifPage->Show();
            break;
        case 6:
            m_tiffPage->Show();
            m_tifModes[0]->Enable();
            m_tifModes[1]->Enable();
            break;
        default:
            break;
    }
    Layout();
}

void OptionsPage::onSaveMode() {
    readControls();
    bool toFolder = m_saveMode == 1;
    m_browse->Enable(toFolder);
    m_savePathEdit->Enable(toFolder);
}

void OptionsPage::onBrowse() {
    // Cancel keeps what was typed.
    std::string typed = m_savePathEdit->GetValue().utf8_string();
    std::string folder =
        UserPrompts::chooseFolder(this, "Please select directory", chooserStartFolder(typed));
    if (folder.empty())
        return;
    m_savePath = folder;
    m_savePathEdit->ChangeValue(wxString::FromUTF8(folder));
}

bool OptionsPage::validateAndSave(ConversionOptions& options) {
    readControls();
    if (m_saveMode == 1) {
        // A folder that is not absolute, or too long for the program's path
        // fields, is refused rather than guessed at or cut short.
        std::string path = validFolderPath(m_savePathEdit->GetValue().utf8_string());
        if (path.empty()) {
            UserPrompts::message(this, "Path invalid,please check it,for example(/)", "Warning",
                                 UserPrompts::Icon::kWarning);
            return false;
        }
        options.savePath = path;
        m_settings.writeText("savePath", path);
    } else {
        options.savePath.clear();
    }

    options.password = m_password->GetValue().utf8_string();
    m_settings.writeText("password", options.password);

    m_settings.writeInt("savemode", m_saveMode);
    m_settings.writeInt("tifmode", m_tifMode);
    m_settings.writeInt("xdpi", m_xDpiIndex);
    m_settings.writeInt("ydpi", m_yDpiIndex);
    m_settings.writeInt("imagetype", m_imageTypeIndex);
    options.saveMode = m_saveMode;
    options.tifMode = m_tifMode;
    options.xDpi = dpiFromIndex(m_xDpiIndex);
    options.yDpi = dpiFromIndex(m_yDpiIndex);
    options.imageType = m_imageTypeIndex + 1;

    switch (m_imageTypeIndex) {
        case 0:
        case 4:
        case 7:
            m_colourPage->writeSettings();
            options.colourCode = m_colourPage->colourCode();
            break;
        case 3:
            m_jpegPage->writeSettings();
            options.colourCode = m_jpegPage->colourCode();
            options.jpegQuality = m_jpegPage->quality();
            break;
        case 5:
            m_gifPage->writeSettings();
            options.colourCode = m_gifPage->colourCode();
            break;
        case 6:
            m_tiffPage->writeSettings();
            options.colourCode = m_tiffPage->colourCode();
            options.tiffCompression = m_tiffPage->compressionSetting();
            options.tiffQuality = m_tiffPage->quality();
            break;
        default:
            break;
    }
    return true;
}

}  // namespace glimmark
