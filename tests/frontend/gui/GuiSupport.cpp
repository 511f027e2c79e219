#include "tests/frontend/gui/GuiSupport.h"

#include "frontend/TextList.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Paths.h"

namespace glimmark::test {

namespace fs = std::filesystem;

namespace {

void pumpOnce() {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxTheApp->ProcessPendingEvents();
}

void* fakeLibrary() {
    static void* library = dlopen((platform::programDirectory() + "libRendova.so").c_str(), RTLD_NOW);
    return library;
}

template <class F>
F fakeFunction(const char* name) {
    void* library = fakeLibrary();
    return library ? reinterpret_cast<F>(dlsym(library, name)) : nullptr;
}

}  // namespace

bool pumpUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pumpOnce();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return condition();
        wxMilliSleep(2);
    }
}

void pumpFor(int milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

void sendMouse(wxWindow* window, wxEventType type, const wxPoint& at, bool leftDown) {
    wxMouseEvent event(type);
    event.SetPosition(at);
    event.m_leftDown = leftDown;
    event.SetEventObject(window);
    event.SetId(window->GetId());
    window->HandleWindowEvent(event);
}

void clickAt(wxWindow* window, const wxPoint& at) {
    sendMouse(window, wxEVT_LEFT_DOWN, at, true);
    sendMouse(window, wxEVT_LEFT_UP, at, false);
}

std::string fakeCalls() {
    auto calls = fakeFunction<const char* (*)()>("fakeRendovaCalls");
    return calls ? calls() : std::string();
}

void fakeReset() {
    if (auto reset = fakeFunction<void (*)()>("fakeRendovaReset"))
        reset();
}

void fakeSetPageDelay(int milliseconds) {
    if (auto setDelay = fakeFunction<void (*)(int)>("fakeRendovaSetPageDelay"))
        setDelay(milliseconds);
}

std::string readFile(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream content;
    content << stream.rdbuf();
    return content.str();
}

bool hasShape(const std::string& text, const std::string& shape) {
    auto digit = [&text](size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    size_t at = 0;
    for (char c : shape) {
        if (c == '9' || c == '8') {
            if (!digit(at))
                return false;
            ++at;
            if (c == '8' && digit(at))
                ++at;
        } else if (at < text.size() && text[at] == c) {
            ++at;
        } else {
            return false;
        }
    }
    return at == text.size();
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void GuiTest::SetUp() {
    if (!g_haveDisplay)
        GTEST_SKIP() << "no display: run under xvfb-run";
    m_root = std::string(RENDOVA_TEST_OUTPUT_DIR) + "/gui/" +
             ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "." +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    fs::remove_all(m_root);
    m_program = m_root + "program/";
    m_data = m_root + "data/";
    fs::create_directories(m_program);
    fs::create_directories(m_data);
    fakeReset();

    UserPrompts::Handlers handlers;
    handlers.message = [this](const std::string& text, const std::string& caption, UserPrompts::Icon icon,
                              UserPrompts::Buttons) {
        m_messages.push_back({text, caption, icon});
        return m_answer;
    };
    handlers.shellOpen = [this](const std::string& target) {
        m_opened.push_back(target);
        return m_shellResult;
    };
    handlers.browse = [this](const std::string& target) {
        m_browsed.push_back(target);
        return m_browserOpens;
    };
    handlers.chooseFolder = [](const std::string&, const std::string&) { return std::string(); };
    handlers.openFiles = [this](const std::string&) { return m_chosenFiles; };
    UserPrompts::setHandlers(handlers);
}

void GuiTest::TearDown() {
    closeWindow();
    if (m_frame) {
        m_frame->Destroy();
        m_frame = nullptr;
        pumpFor(10);
    }
    UserPrompts::setHandlers({});
}

MainWindow* GuiTest::openWindow() {
    MainWindow::Environment environment;
    environment.programFolder = m_program;
    environment.libraryName = m_libraryName;
    m_window = new MainWindow(nullptr, environment);
    if (!m_window->initialise()) {
        closeWindow();
        return nullptr;
    }
    m_window->Show();
    pumpFor(30);
    return m_window;
}

wxPanel* GuiTest::openPanel(const wxSize& size) {
    m_frame = new wxFrame(nullptr, wxID_ANY, "controls", wxPoint(40, 40), size);
    auto* panel = new wxPanel(m_frame, wxID_ANY);
    auto* edit = new wxTextCtrl(panel, wxID_ANY, wxString(), wxPoint(0, 0), wxSize(60, -1));
    m_frame->Show();
    edit->SetFocus();
    pumpFor(30);
    return panel;
}

void GuiTest::closeWindow() {
    if (!m_window)
        return;
    m_window->Destroy();
    m_window = nullptr;
    pumpFor(10);
}

std::string GuiTest::makeFile(const std::string& name, const std::string& content) {
    std::string path = m_data + name;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string GuiTest::makePdf(const std::string& name, size_t size) {
    std::string content = "%PDF-1.4\n";
    if (size > content.size())
        content.append(size - content.size(), 'x');
    return makeFile(name, content);
}

StderrCapture::StderrCapture(const std::string& path) : m_path(path) {
    std::fflush(stderr);
    m_saved = dup(2);
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file >= 0) {
        dup2(file, 2);
        close(file);
    }
}

std::string StderrCapture::restore() {
    if (m_saved >= 0) {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        m_saved = -1;
    }
    return readFile(m_path);
}

std::string GuiTest::cell(wxListCtrl* list, long row, int column) const {
    if (auto* texts = dynamic_cast<TextList*>(list))
        return texts->text(row, column).utf8_string();
    return list->GetItemText(row, column).utf8_string();
}

std::vector<std::string> GuiTest::rows() const {
    std::vector<std::string> result;
    wxListCtrl* list = m_window->fileList();
    for (long row = 0; row < list->GetItemCount(); ++row) {
        result.push_back(cell(list, row, 0) + "|" + cell(list, row, 1) + "|" + cell(list, row, 2) + "|" +
                         cell(list, row, 3));
    }
    return result;
}

std::vector<std::string> GuiTest::resultRows() const {
    std::vector<std::string> result;
    wxListCtrl* list = control<wxListCtrl>(1037);
    for (long row = 0; row < list->GetItemCount(); ++row)
        result.push_back(cell(list, row, 1) + "|" + cell(list, row, 2) + "|" + cell(list, row, 3));
    return result;
}

void GuiTest::selectRows(std::initializer_list<long> selected) {
    wxListCtrl* list = m_window->fileList();
    for (long row = 0; row < list->GetItemCount(); ++row)
        list->SetItemState(row, 0, wxLIST_STATE_SELECTED);
    for (long row : selected)
        list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    pumpFor(5);
}

void GuiTest::choose(int id, int index) {
    auto* choice = control<wxChoice>(id);
    ASSERT_NE(choice, nullptr) << id;
    choice->SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, id);
    event.SetEventObject(choice);
    event.SetInt(index);
    choice->ProcessWindowEvent(event);
}

void GuiTest::check(int id) {
    auto* radio = control<wxRadioButton>(id);
    ASSERT_NE(radio, nullptr) << id;
    radio->SetValue(true);
    wxCommandEvent event(wxEVT_RADIOBUTTON, id);
    event.SetEventObject(radio);
    event.SetInt(1);
    radio->ProcessWindowEvent(event);
}

void GuiTest::tick(int id, bool on) {
    auto* box = control<wxCheckBox>(id);
    ASSERT_NE(box, nullptr) << id;
    box->SetValue(on);
    wxCommandEvent event(wxEVT_CHECKBOX, id);
    event.SetEventObject(box);
    event.SetInt(on);
    box->ProcessWindowEvent(event);
}

void GuiTest::type(int id, const std::string& text) {
    auto* edit = control<wxTextCtrl>(id);
    ASSERT_NE(edit, nullptr) << id;
    edit->ChangeValue(wxString::FromUTF8(text));
}

void GuiTest::press(int id) {
    auto* button = control<wxWindow>(id);
    ASSERT_NE(button, nullptr) << id;
    wxCommandEvent event(wxEVT_BUTTON, id);
    event.SetEventObject(button);
    button->ProcessWindowEvent(event);
}

void GuiTest::convertAndWait() {
    if (m_window->step() == 1)
        press(1008);  // Next
    press(1007);      // Convert
    ASSERT_TRUE(pumpUntil([this] { return !m_window->isBusy(); }, 10000)) << "the run did not end";
}

}  // namespace glimmark::test
