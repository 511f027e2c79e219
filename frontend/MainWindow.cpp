#include "frontend/MainWindow.h"

#include <wx/dcbuffer.h>
#include <wx/dnd.h>
#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "frontend/AboutDialog.h"
#include "frontend/Artwork.h"
#include "frontend/Buttons.h"
#include "frontend/ControlIds.h"
#include "frontend/DialogKeyboard.h"
#include "frontend/IconButton.h"
#include "frontend/OptionsPage.h"
#include "frontend/ProgressPage.h"
#include "frontend/TextList.h"
#include "frontend/ThemedButton.h"
#include "frontend/UserPrompts.h"
#include "frontend/VisualStyles.h"
#include "frontend/WindowHints.h"
#include "platform/Paths.h"

namespace glimmark {

namespace {

constexpr int kGap = 6;
// Width of the strip along the window's edges that resizes it: the window has
// no frame of its own for the window manager to offer.
constexpr int kEdge = 6;
constexpr int kBandButtonStep = 30;
constexpr int kStepTitleWidth = 280;

enum Edge { kLeftEdge = 1, kRightEdge = 2, kTopEdge = 4, kBottomEdge = 8 };

const char* const kPropertyLabels[7] = {"FileName", "Size",     "Type",      "Modified",
                                        "Created",  "Accessed", "Attributes"};

// Files dropped on the window or its list.
class FileDropTarget : public wxFileDropTarget {
public:
    explicit FileDropTarget(MainWindow* window) : m_window(window) {}
    bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& names) override {
        std::vector<std::string> paths;
        for (const wxString& name : names)
            paths.push_back(name.utf8_string());
        m_window->onDropFiles(paths);
        return true;
    }

private:
    MainWindow* m_window;
};

}  // namespace

MainWindow::MainWindow(wxWindow* parent, Environment environment)
    : wxDialog(parent, wxID_ANY, "Tellora Glimmark", wxDefaultPosition, wxSize(760, 560),
               wxBORDER_NONE | wxRESIZE_BORDER | wxCLIP_CHILDREN | wxTAB_TRAVERSAL),
      m_environment(std::move(environment)) {
    if (m_environment.programFolder.empty())
        m_environment.programFolder = platform::programDirectory();
    SetIcons(appIcons());
    presentAsMainWindow(this);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_titleBitmap = titleBandBitmap();
    m_visualStyles = std::make_unique<VisualStyles>();
    createControls();
    bindEvents();
    bindKeys();
    SetMinSize(wxSize(kMinWidth, kMinHeight));
    SetSize(wxSize(760, 560));
    Centre();
}

MainWindow::~MainWindow() {
    // A window closed while a run is busy (only possible from inside the
    // program, never through the close button) stops the run first: the
    // worker posts to this window and uses its library.
    m_stopRequested = true;
    if (m_worker.joinable())
        m_worker.join();
    unbindLibrary();
}

std::string MainWindow::moduleRelativePath(const std::string& name) const {
    return m_environment.programFolder + name;
}

bool MainWindow::initialise() {
    m_settings = SettingsFile(SettingsFile::locate(m_environment.programFolder));
    if (!bindLibrary())
        return false;

    m_optionsPage = new OptionsPage(m_pageFrame, m_settings);
    m_progressPage = new ProgressPage(m_pageFrame, m_settings);
    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(m_optionsPage, 1, wxEXPAND);
    frameSizer->Add(m_progressPage, 1, wxEXPAND);
    m_pageFrame->SetSizer(frameSizer);

    m_busy = false;
    m_stopRequested = false;
    m_fileCount = 0;
    m_doneCount = 0;
    m_options = ConversionOptions();
    showStep(1);
    return true;
}

bool MainWindow::bindLibrary() {
    m_library = platform::loadLibrary(m_environment.libraryName);
    if (m_library) {
        m_openDocument =
            reinterpret_cast<OpenDocumentFunction>(platform::procByOrdinal(m_library, kOrdinalOpenDocument));
        m_closeDocument = reinterpret_cast<CloseDocumentFunction>(
            platform::procByOrdinal(m_library, kOrdinalCloseDocument));
        m_convertPage =
            reinterpret_cast<ConvertPageFunction>(platform::procByOrdinal(m_library, kOrdinalConvertPage));
        m_setOption =
            reinterpret_cast<SetOptionFunction>(platform::procByOrdinal(m_library, kOrdinalSetOption));
        m_getPageCount =
            reinterpret_cast<GetPageCountFunction>(platform::procByOrdinal(m_library, kOrdinalGetPageCount));
    }
    if (m_library && m_openDocument && m_closeDocument && m_convertPage && m_setOption && m_getPageCount)
        return true;
    UserPrompts::message(this, "Can't find dynamic library: Rendova.dll,please reinstall!", "Error",
                         UserPrompts::Icon::kError);
    unbindLibrary();
    return false;
}

void MainWindow::unbindLibrary() {
    platform::freeLibrary(m_library);
    m_library = nullptr;
    m_openDocument = nullptr;
    m_closeDocument = nullptr;
    m_convertPage = nullptr;
    m_setOption = nullptr;
    m_getPageCount = nullptr;
}

void MainWindow::createControls() {
    // The title band: its pictures and buttons are placed by placeBandControls.
    new wxStaticBitmap(this, kIdTitleLogo, iconBitmap(Icon::kApp, 32));
    new wxStaticBitmap(this, kIdTitleMark, titleMarkBitmap());
    m_stepTitle =
        new wxStaticText(this, kIdStepTitle, "Step1: Add files", wxDefaultPosition,
                         wxSize(kStepTitleWidth, -1), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    m_stepTitle->SetForegroundColour(*wxWHITE);
    m_stepTitle->SetFont(m_stepTitle->GetFont().Bold().Scaled(1.2f));
    makeBandButton(this, kIdMinimise, Icon::kMinimise, "Minimize");
    m_maximise = makeBandButton(this, kIdMaximise, Icon::kMaximise, "Maximize");
    makeBandButton(this, kIdClose, Icon::kClose, "Close");

    // Step 1: the file list and the properties of the selected file.
    m_listGroup = new wxPanel(this, wxID_ANY);
    m_fileList = new TextList(m_listGroup, kIdFileList);
    m_fileList->addColumn("File", wxLIST_FORMAT_LEFT, true);
    m_fileList->addColumn("Page", wxLIST_FORMAT_RIGHT, false);
    m_fileList->addColumn("Size", wxLIST_FORMAT_RIGHT, false);
    m_fileList->addColumn("Type", wxLIST_FORMAT_LEFT, false);

    auto* propertiesBox = new wxStaticBox(m_listGroup, kIdPropertiesGroup, "Properties");
    auto* propertiesSizer = new wxStaticBoxSizer(propertiesBox, wxVERTICAL);
    auto* grid = new wxFlexGridSizer(2, kGap / 2, kGap);
    grid->AddGrowableCol(1);
    static const int kEditIds[7] = {kIdPropertyName,      kIdPropertySize,    kIdPropertyType,
                                    kIdPropertyModified,  kIdPropertyCreated, kIdPropertyAccessed,
                                    kIdPropertyAttributes};
    for (int i = 0; i < 7; ++i) {
        grid->Add(new wxStaticText(propertiesBox, kIdPropertyLabelFirst + i, kPropertyLabels[i]), 0,
                  wxALIGN_CENTER_VERTICAL);
        m_properties[i] = new wxTextCtrl(propertiesBox, kEditIds[i], wxString(), wxDefaultPosition,
                                         wxSize(150, -1), wxTE_READONLY);
        grid->Add(m_properties[i], 1, wxEXPAND);
    }
    propertiesSizer->Add(grid, 1, wxEXPAND | wxALL, kGap / 2);

    auto* listRow = new wxBoxSizer(wxHORIZONTAL);
    listRow->Add(m_fileList, 1, wxEXPAND | wxRIGHT, kGap);
    listRow->Add(propertiesSizer, 0, wxEXPAND);
    auto* listButtons = new wxBoxSizer(wxHORIZONTAL);
    VisualStyles* styles = m_visualStyles.get();
    listButtons->Add(makeIconButton(m_listGroup, kIdAddFiles, "Add files", Icon::kAddFiles, styles), 0,
                     wxRIGHT, kGap);
    listButtons->Add(makeIconButton(m_listGroup, kIdAddFolder, "Add Folder", Icon::kAddFolder, styles), 0);
    listButtons->AddStretchSpacer();
    listButtons->Add(makeIconButton(m_listGroup, kIdClear, "Clear", Icon::kClear, styles), 0, wxRIGHT, kGap);
    listButtons->Add(makeIconButton(m_listGroup, kIdDelete, "Delete", Icon::kDelete, styles), 0);
    auto* listSizer = new wxBoxSizer(wxVERTICAL);
    listSizer->Add(listRow, 1, wxEXPAND | wxBOTTOM, kGap);
    listSizer->Add(listButtons, 0, wxEXPAND);
    m_listGroup->SetSizer(listSizer);

    // Steps 2 and 3 put their pages here.
    m_pageFrame = new wxPanel(this, kIdPageFrame);

    // The wizard's buttons.
    auto* bottom = new wxBoxSizer(wxHORIZONTAL);
    bottom->Add(makePictureButton(this, kIdHelp, Icon::kHelp, "Help", styles), 0, wxRIGHT, kGap);
    bottom->Add(makePictureButton(this, kIdAbout, Icon::kAbout, "About", styles), 0);
    bottom->AddStretchSpacer();
    m_previous = makeIconButton(this, kIdPrevious, "Previous", Icon::kPrevious, styles);
    m_next = makeIconButton(this, kIdNext, "Next", Icon::kNext, styles, ImageSide::kRight);
    m_convert = makeIconButton(this, kIdConvert, "Convert", Icon::kConvert, styles);
    m_stop = makeIconButton(this, kIdStop, "Stop", Icon::kStop, styles);
    m_finish = makeIconButton(this, kIdFinish, "Finish", Icon::kFinish, styles);
    for (IconButton* button : {m_previous, m_next, m_convert, m_stop, m_finish})
        bottom->Add(button, 0, wxLEFT, kGap);

    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->AddSpacer(kTitleBandHeight);
    sizer->Add(new wxStaticLine(this, kIdTopSeparator), 0, wxEXPAND | wxLEFT | wxRIGHT, kEdge);
    sizer->Add(m_listGroup, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * kEdge);
    sizer->Add(m_pageFrame, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * kEdge);
    sizer->Add(new wxStaticLine(this, kIdBottomSeparator), 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 2 * kEdge);
    sizer->Add(bottom, 0, wxEXPAND | wxALL, 2 * kEdge);
    SetSizer(sizer);

    for (wxWindow* target : {static_cast<wxWindow*>(this), static_cast<wxWindow*>(m_fileList)})
        target->SetDropTarget(new FileDropTarget(this));
}

void MainWindow::bindEvents() {
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) { onPaint(); });
    // The window erases nothing itself (its paint handler draws everything);
    // a button that shows the window through it asks for the background
    // behind it this way.
    Bind(wxEVT_ERASE_BACKGROUND, [this](wxEraseEvent& event) {
        if (wxDC* dc = event.GetDC())
            paintBackground(*dc);
    });
    Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
        // The band's controls keep their places relative to the window's
        // right edge and centre; the rest follows the sizers.
        int width = GetClientSize().x;
        m_captionRect = wxRect(0, 0, width, kTitleBandHeight);
        FindWindow(kIdTitleLogo)->SetPosition(wxPoint(12, (kTitleBandHeight - 32) / 2));
        int buttonY = (kTitleBandHeight - 28) / 2;
        FindWindow(kIdClose)->SetPosition(wxPoint(width - kEdge - kBandButtonStep, buttonY));
        FindWindow(kIdMaximise)->SetPosition(wxPoint(width - kEdge - 2 * kBandButtonStep, buttonY));
        FindWindow(kIdMinimise)->SetPosition(wxPoint(width - kEdge - 3 * kBandButtonStep, buttonY));
        FindWindow(kIdTitleMark)
            ->SetPosition(wxPoint(width - kEdge - 3 * kBandButtonStep - 44, (kTitleBandHeight - 32) / 2));
        int titleHeight = m_stepTitle->GetBestSize().y;
        m_stepTitle->SetSize((width - kStepTitleWidth) / 2, (kTitleBandHeight - titleHeight) / 2,
                             kStepTitleWidth, titleHeight);
        showMaximiseState();
        Refresh();
        event.Skip();
    });
    Bind(wxEVT_MAXIMIZE, [this](wxMaximizeEvent& event) {
        showMaximiseState();
        event.Skip();
    });
    Bind(wxEVT_LEFT_DOWN, &MainWindow::onMouseDown, this);
    Bind(wxEVT_MOTION, &MainWindow::onMouseMove, this);
    Bind(wxEVT_LEFT_UP, &MainWindow::onMouseUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { m_drag = Drag::kNone; });
    Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent& event) {
        if (m_captionRect.Contains(event.GetPosition()))
            onMaximise();
    });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
        if (m_busy && event.CanVeto()) {
            event.Veto();
            return;
        }
        onClose();
    });

    auto onButton = [this](int id, auto handler) {
        Bind(
            wxEVT_BUTTON, [this, handler](wxCommandEvent&) { (this->*handler)(); }, id);
    };
    onButton(kIdClose, &MainWindow::onClose);
    onButton(kIdMaximise, &MainWindow::onMaximise);
    onButton(kIdAddFiles, &MainWindow::onAddFiles);
    onButton(kIdAddFolder, &MainWindow::onAddFolder);
    onButton(kIdClear, &MainWindow::clearList);
    onButton(kIdDelete, &MainWindow::deleteSelected);
    onButton(kIdNext, &MainWindow::onNext);
    onButton(kIdPrevious, &MainWindow::onPrevious);
    onButton(kIdConvert, &MainWindow::onConvert);
    onButton(kIdStop, &MainWindow::onStop);
    onButton(kIdFinish, &MainWindow::onFinish);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Iconize(true); }, kIdMinimise);
    Bind(
        wxEVT_BUTTON,
        [this](wxCommandEvent&) {
            UserPrompts::openOrSay(this, moduleRelativePath("docs/index.html"), "the help page");
        },
        kIdHelp);
    onButton(kIdAbout, &MainWindow::onAbout);

    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { onAddFiles(); }, kMenuAddFiles);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { onAddFolder(); }, kMenuAddFolder);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { deleteSelected(); }, kMenuDeleteSelected);
    Bind(
        wxEVT_MENU, [this](wxCommandEvent&) { clearList(); }, kMenuClearAll);

    m_fileList->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) { refreshProperties(); });
    m_fileList->Bind(wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent&) { refreshProperties(); });
    m_fileList->Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) {
        if (m_busy)
            return;
        wxMenu menu;
        menu.Append(kMenuAddFiles, "Add Files...");
        menu.Append(kMenuAddFolder, "Add Folder...");
        menu.AppendSeparator();
        menu.Append(kMenuDeleteSelected, "Delete selected    Del");
        menu.Append(kMenuClearAll, "Clear all");
        PopupMenu(&menu);
    });
}

void MainWindow::bindKeys() {
    DialogKeys keys;
    keys.defaultButton = [this]() -> wxWindow* {
        switch (m_step) {
            case 1:
                return m_next;
            case 2:
                return m_convert;
            case 3:
                return m_finish;
            default:
                return nullptr;
        }
    };
    // Escape is the close button, which does nothing while a run is busy.
    keys.cancel = [this] { onClose(); };
    installDialogKeys(this, keys);

    Bind(wxEVT_SHOW, [this](wxShowEvent& event) {
        // Shown, the toolkit gives the focus to the window's first control,
        // a button of the title band: the step's own comes first.
        if (event.IsShown())
            CallAfter([this] { focusStep(); });
        event.Skip();
    });
    // The list still moves its selection with the keys it is told of.
    m_fileList->Bind(wxEVT_LIST_KEY_DOWN, [this](wxListEvent& event) {
        onListKey(event.GetKeyCode(), wxGetKeyState(WXK_CONTROL));
        event.Skip();
    });
}

void MainWindow::showStep(int step) {
    if (m_optionsPage)
        m_optionsPage->Hide();
    if (m_progressPage)
        m_progressPage->Hide();
    for (IconButton* button : {m_previous, m_next, m_convert, m_stop, m_finish})
        button->Hide();
    switch (step) {
        case 1:
            m_listGroup->Show();
            m_stepTitle->SetLabel("Step1: Add files");
            m_pageFrame->Hide();
            m_next->Show();
            break;
        case 2:
            m_listGroup->Hide();
            m_stepTitle->SetLabel("Step2: General Options");
            m_pageFrame->Show();
            if (m_optionsPage)
                m_optionsPage->Show();
            m_previous->Show();
            m_convert->Show();
            break;
        case 3:
            m_listGroup->Hide();
            m_stepTitle->SetLabel("Converting...");
            m_pageFrame->Show();
            if (m_progressPage)
                m_progressPage->Show();
            m_stop->Show();
            break;
        default:
            break;
    }
    m_pageFrame->Layout();
    Layout();
    Refresh();
    focusStep();
}

void MainWindow::focusStep() {
    // The step opens with the focus on its first control; before the window
    // is shown the focus waits for it.
    focusFirstTabStop(m_step == 1 ? m_listGroup : m_pageFrame);
}

void MainWindow::onNext() {
    m_step += 1;
    showStep(m_step);
}

void MainWindow::onPrevious() {
    m_step -= 1;
    showStep(m_step);
}

void MainWindow::onClose() {
    if (m_busy)
        return;
    unbindLibrary();
    if (IsModal())
        EndModal(wxID_CANCEL);
    else
        Hide();
}

void MainWindow::onMaximise() {
    // The icon changes when the window manager has done it (showMaximiseState).
    if (!IsMaximized())
        m_restoreRect = GetRect();
    Maximize(!IsMaximized());
}

void MainWindow::showMaximiseState() {
    Icon icon = IsMaximized() ? Icon::kRestore : Icon::kMaximise;
    if (icon == m_maximiseIcon)
        return;
    m_maximiseIcon = icon;
    setButtonIcon(m_maximise, icon);
    // Restored, the window gets back the place and size it had (never below
    // its minimum): the toolkit would fall back to its first size.
    if (icon == Icon::kMaximise && !m_restoreRect.IsEmpty()) {
        wxRect rect = m_restoreRect;
        m_restoreRect = wxRect();
        rect.width = std::max(rect.width, kMinWidth);
        rect.height = std::max(rect.height, kMinHeight);
        CallAfter([this, rect] {
            if (!IsMaximized())
                SetSize(rect);
        });
    }
}

void MainWindow::onAbout() {
    // The button's tooltip, shown when it was pressed, would stay on screen
    // under the box: it is taken away while the box is open.
    wxWindow* button = FindWindow(kIdAbout);
    wxString tip = button->GetToolTipText();
    button->UnsetToolTip();
    AboutDialog dialog(this, m_environment.programFolder, m_visualStyles.get());
    dialog.ShowModal();
    if (!tip.empty())
        button->SetToolTip(tip);
}

void MainWindow::onPaint() {
    wxAutoBufferedPaintDC dc(this);
    paintBackground(dc);
}

void MainWindow::paintBackground(wxDC& dc) {
    wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    if (IsIconized()) {
        wxBitmap icon = iconBitmap(Icon::kApp, 32);
        dc.DrawBitmap(icon, (size.x - 32) / 2, (size.y - 32) / 2, true);
        return;
    }
    // The band's picture stretched to the width at its own height.
    wxMemoryDC source(m_titleBitmap);
    dc.StretchBlit(0, 0, size.x, m_titleBitmap.GetHeight(), &source, 0, 0, m_titleBitmap.GetWidth(),
                   m_titleBitmap.GetHeight());
    source.SelectObject(wxNullBitmap);

    wxFont font = GetFont().Bold().Scaled(1.15f);
    dc.SetFont(font);
    dc.SetTextForeground(*wxWHITE);
    wxString name = GetTitle();
    int textHeight = dc.GetTextExtent(name).y;
    dc.DrawText(name, 52, (kTitleBandHeight - textHeight) / 2);

    // A frame line around the window, which has no frame of its own.
    dc.SetPen(wxPen(kBandColour));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, size.x, size.y);
}

int MainWindow::edgeAt(const wxPoint& point) const {
    if (IsMaximized())
        return 0;
    wxSize size = GetClientSize();
    int edges = 0;
    if (point.x < kEdge)
        edges |= kLeftEdge;
    if (point.x >= size.x - kEdge)
        edges |= kRightEdge;
    if (point.y < kEdge / 2)
        edges |= kTopEdge;
    if (point.y >= size.y - kEdge)
        edges |= kBottomEdge;
    return edges;
}

void MainWindow::onMouseDown(wxMouseEvent& event) {
    wxPoint point = event.GetPosition();
    int edges = edgeAt(point);
    if (edges) {
        m_drag = Drag::kResize;
        m_dragEdges = edges;
    } else if (m_captionRect.Contains(point) && !IsMaximized()) {
        m_drag = Drag::kMove;
    } else {
        event.Skip();
        return;
    }
    m_dragStart = ClientToScreen(point);
    m_dragWindow = GetRect();
    CaptureMouse();
}

void MainWindow::onMouseMove(wxMouseEvent& event) {
    wxPoint point = event.GetPosition();
    if (m_drag == Drag::kNone) {
        static const wxStockCursor kCursors[16] = {
            wxCURSOR_ARROW,  wxCURSOR_SIZEWE,   wxCURSOR_SIZEWE,   wxCURSOR_ARROW,
            wxCURSOR_SIZENS, wxCURSOR_SIZENWSE, wxCURSOR_SIZENESW, wxCURSOR_ARROW,
            wxCURSOR_SIZENS, wxCURSOR_SIZENESW, wxCURSOR_SIZENWSE, wxCURSOR_ARROW,
            wxCURSOR_ARROW,  wxCURSOR_ARROW,    wxCURSOR_ARROW,    wxCURSOR_ARROW};
        SetCursor(wxCursor(kCursors[edgeAt(point)]));
        event.Skip();
        return;
    }
    wxPoint delta = ClientToScreen(point) - m_dragStart;
    wxRect rect = m_dragWindow;
    if (m_drag == Drag::kMove) {
        Move(rect.GetPosition() + delta);
        return;
    }
    if (m_dragEdges & kLeftEdge) {
        int width = std::max(kMinWidth, rect.width - delta.x);
        rect.x += rect.width - width;
        rect.width = width;
    }
    if (m_dragEdges & kRightEdge)
        rect.width = std::max(kMinWidth, rect.width + delta.x);
    if (m_dragEdges & kTopEdge) {
        int height = std::max(kMinHeight, rect.height - delta.y);
        rect.y += rect.height - height;
        rect.height = height;
    }
    if (m_dragEdges & kBottomEdge)
        rect.height = std::max(kMinHeight, rect.height + delta.y);
    SetSize(rect);
}

void MainWindow::onMouseUp(wxMouseEvent& event) {
    if (m_drag == Drag::kNone) {
        event.Skip();
        return;
    }
    m_drag = Drag::kNone;
    if (HasCapture())
        ReleaseMouse();
}

}  // namespace glimmark
