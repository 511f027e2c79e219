#include <wx/button.h>
#include <wx/listctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <filesystem>

#include "frontend/DesktopOpen.h"
#include "frontend/FrontEndApp.h"
#include "frontend/ProgressPage.h"
#include "platform/Paths.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

using MainWindowTest = GuiTest;

const char* const kMissingLibrary = "Can't find dynamic library: Rendova.dll,please reinstall!";

TEST_F(MainWindowTest, MissingLibraryShowsTheErrorAndEnds) {
    MainWindow::Environment environment;
    environment.programFolder = m_program;
    environment.libraryName = "NoSuchRendovaAnywhere.dll";
    EXPECT_EQ(FrontEndApp::runWizard(environment), 1);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, kMissingLibrary);
    EXPECT_EQ(m_messages[0].caption, "Error");
    EXPECT_EQ(m_messages[0].icon, UserPrompts::Icon::kError);
    EXPECT_EQ(wxTopLevelWindows.GetCount(), 0u) << "no window is left open";
}

TEST_F(MainWindowTest, LibraryWithoutOneOfItsOrdinalsCountsAsMissing) {
    MainWindow::Environment environment;
    environment.programFolder = m_program;
    environment.libraryName = platform::programDirectory() + "partial/Rendova.dll";
    MainWindow window(nullptr, environment);
    EXPECT_FALSE(window.initialise());
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, kMissingLibrary);
}

TEST_F(MainWindowTest, AddedFilesAreListedNewestFirstWithPagesAndSizes) {
    ASSERT_TRUE(openWindow());
    std::string a = makePdf("a.pdf", 500);
    std::string b = makePdf("b-12p.pdf", 5000000);
    m_window->addFile(a);
    m_window->addFile(b);
    std::vector<std::string> list = rows();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].substr(0, list[0].rfind('|')), b + "|12|4882 KB");
    EXPECT_EQ(list[1].substr(0, list[1].rfind('|')), a + "|3|1 KB");
    EXPECT_FALSE(cell(m_window->fileList(), 0, 3).empty()) << "the file type is named";

    // Encrypted documents and documents of no pages are listed as encrypted;
    // files the library cannot read are left out, and one message after the
    // add names each and says why.
    m_window->addFiles({makePdf("secret-encrypted.pdf"), makeFile("notes.pdf", "not a document"),
                        makePdf("empty-0p.pdf"), makePdf("damaged-cut.pdf"), m_data + "missing.pdf"});
    list = rows();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(cell(m_window->fileList(), 0, 1), "encrypted");
    EXPECT_EQ(cell(m_window->fileList(), 1, 1), "encrypted");
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text,
              "These files were not added:\n\nnotes.pdf: not a PDF document\n"
              "damaged-cut.pdf: damaged beyond repair\nmissing.pdf: cannot be read");
    EXPECT_EQ(m_messages[0].caption, "Warning");
    EXPECT_EQ(m_messages[0].icon, UserPrompts::Icon::kWarning);
    m_messages.clear();
    m_window->addFiles({a});
    EXPECT_TRUE(m_messages.empty()) << "no message when every file is listed";

    // The same file may be listed twice.
    m_window->addFile(a);
    EXPECT_EQ(rows().size(), 6u);
}

TEST_F(MainWindowTest, DeletingRowsOneThreeAndFourOfFiveLeavesZeroAndTwo) {
    ASSERT_TRUE(openWindow());
    for (const char* name : {"e.pdf", "d.pdf", "c.pdf", "b.pdf", "a.pdf"})
        m_window->addFile(makePdf(name));
    std::vector<std::string> before = rows();
    ASSERT_EQ(before.size(), 5u);

    selectRows({1, 3, 4});
    m_answer = false;
    press(1020);
    EXPECT_EQ(rows().size(), 5u) << "Cancel keeps every row";
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, "Are you sure to delete selected item(s)?");
    EXPECT_EQ(m_messages[0].caption, "Warning");

    m_answer = true;
    m_window->onListKey(WXK_DELETE, false);
    EXPECT_EQ(rows(), (std::vector<std::string>{before[0], before[2]}));
}

TEST_F(MainWindowTest, ControlASelectsEveryRowAndClearAsksFirst) {
    ASSERT_TRUE(openWindow());
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"})
        m_window->addFile(makePdf(name));
    m_window->onListKey('A', false);
    EXPECT_EQ(m_window->fileList()->GetSelectedItemCount(), 0);
    m_window->onListKey('A', true);
    EXPECT_EQ(m_window->fileList()->GetSelectedItemCount(), 3);

    m_answer = false;
    press(1060);
    EXPECT_EQ(rows().size(), 3u);
    m_answer = true;
    press(1060);
    EXPECT_TRUE(rows().empty());
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1].text, "Are you sure to clear all items?");

    // An empty list is cleared without asking.
    press(1060);
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(MainWindowTest, PropertiesPanelDescribesTheOneSelectedFile) {
    ASSERT_TRUE(openWindow());
    std::string first = makePdf("first.pdf", 3000);
    std::string second = makePdf("second.pdf");
    m_window->addFile(first);
    m_window->addFile(second);

    selectRows({1});
    auto text = [this](int id) { return control<wxTextCtrl>(id)->GetValue().utf8_string(); };
    EXPECT_EQ(text(1021), "first.pdf");
    EXPECT_EQ(text(1022), "2 KB");
    EXPECT_FALSE(text(1023).empty());
    EXPECT_EQ(text(1027), "A");
    for (int id : {1024, 1025, 1026})
        EXPECT_TRUE(hasShape(text(id), "99-99-9999 8:99")) << id << ": " << text(id);

    selectRows({0, 1});
    for (int id = 1021; id <= 1027; ++id)
        EXPECT_EQ(text(id), "") << id;

    fs::remove(second);
    selectRows({0});
    for (int id = 1021; id <= 1027; ++id)
        EXPECT_EQ(text(id), "Invalid") << id;
}

TEST_F(MainWindowTest, FoldersAndDroppedFilesAddTheirFilesButNoSubfolders) {
    ASSERT_TRUE(openWindow());
    makePdf("folder/one.pdf");
    makePdf("folder/Two.PDF");
    makeFile("folder/readme.txt", "text");
    makePdf("folder/inner/deep.pdf");
    m_window->addFolder(m_data + "folder");
    std::vector<std::string> list = rows();
    ASSERT_EQ(list.size(), 2u);
    ASSERT_EQ(m_messages.size(), 1u) << "the folder's other file is named";
    EXPECT_EQ(m_messages[0].text, "This file was not added:\n\nreadme.txt: not a PDF document");
    EXPECT_EQ(list[0].substr(0, list[0].find('|')), m_data + "folder/one.pdf");
    EXPECT_EQ(list[1].substr(0, list[1].find('|')), m_data + "folder/Two.PDF");

    m_window->onDropFiles(
        {m_data + "folder/inner", m_data + "folder/inner/deep.pdf", m_data + "nothing.pdf"});
    list = rows();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].substr(0, list[0].find('|')), m_data + "folder/inner/deep.pdf");
}

TEST_F(MainWindowTest, AddFilesChooserStartsAtTheLastFileAdded) {
    ASSERT_TRUE(openWindow());
    std::string a = makePdf("pick/a.pdf");
    std::string b = makePdf("pick/b.pdf");
    std::vector<std::string> folders;
    UserPrompts::Handlers handlers;
    handlers.message = [this](const std::string& text, const std::string& caption, UserPrompts::Icon icon,
                              UserPrompts::Buttons) {
        m_messages.push_back({text, caption, icon});
        return true;
    };
    handlers.openFiles = [&](const std::string& initial) {
        folders.push_back(initial);
        return std::vector<std::string>{a, b};
    };
    UserPrompts::setHandlers(handlers);

    press(1017);
    press(1017);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], std::string(getenv("HOME") ? getenv("HOME") : "") + "/");
    EXPECT_EQ(folders[1], m_data + "pick/");
    EXPECT_EQ(rows().size(), 4u);
    EXPECT_EQ(cell(m_window->fileList(), 0, 0), b) << "the chooser's order, each on top";
}

// The folder choosers open at the folder in their field (its nearest folder
// that exists), and Cancel leaves the field as it was typed.
TEST_F(MainWindowTest, FolderChoosersStartAtTheFieldAndCancelKeepsIt) {
    ASSERT_TRUE(openWindow());
    m_window->addFile(makePdf("a.pdf"));
    fs::create_directories(m_data + "out");
    std::vector<std::string> asked;
    std::string answer;
    UserPrompts::Handlers handlers;
    handlers.chooseFolder = [&](const std::string& title, const std::string& initial) {
        asked.push_back(title + "|" + initial);
        return answer;
    };
    handlers.message = [](const std::string&, const std::string&, UserPrompts::Icon, UserPrompts::Buttons) {
        return true;
    };
    UserPrompts::setHandlers(handlers);

    struct Case {
        int step, browse, edit;
        const char* title;
    };
    for (const Case& test :
         {Case{2, 1048, 1049, "Please select directory"}, Case{3, 1041, 1042, "Please select log folder"}}) {
        SCOPED_TRACE(test.title);
        if (test.step == 2)
            press(1008);
        else
            convertAndWait();
        std::string typed = m_data + "out/not-made-yet";
        type(test.edit, typed);
        asked.clear();
        answer.clear();
        press(test.browse);
        EXPECT_EQ(asked, std::vector<std::string>{std::string(test.title) + "|" + m_data + "out/"});
        EXPECT_EQ(control<wxTextCtrl>(test.edit)->GetValue().utf8_string(), typed) << "Cancel keeps it";
        answer = m_data + "out";
        press(test.browse);
        EXPECT_EQ(control<wxTextCtrl>(test.edit)->GetValue().utf8_string(), answer);
    }
}

// Both lists at the default size: the other columns show their whole texts,
// the path columns fill the rest of the width (no empty column after them)
// with the file name kept in view and the whole path in the tooltip, and
// the columns grow with the window.
TEST_F(MainWindowTest, ColumnsFitTheirTextsAndThePathsTakeTheRest) {
    ASSERT_TRUE(openWindow());
    std::string deep = "a-rather-long-folder-name/with/several/levels/below/it/";
    m_window->addFile(makePdf(deep + "quarterly-report-encrypted.pdf"));
    m_window->addFile(makePdf(deep + "short-2p.pdf"));
    auto rowsWindow = [](TextList* list) {
        wxWindow* rows = nullptr;
        for (wxWindow* child : list->GetChildren()) {
            if (!rows || child->GetSize().y > rows->GetSize().y)
                rows = child;
        }
        return rows;
    };
    auto checkList = [&](TextList* list, std::vector<int> pathColumns) {
        pumpFor(30);
        int total = 0;
        for (int column = 0; column < list->GetColumnCount(); ++column)
            total += list->GetColumnWidth(column);
        EXPECT_EQ(total, rowsWindow(list)->GetClientSize().x) << "the columns fill the width exactly";
        for (long row = 0; row < list->GetItemCount(); ++row) {
            for (int column = 0; column < list->GetColumnCount(); ++column) {
                std::string full = list->text(row, column).utf8_string();
                std::string shown = list->shownText(row, column).utf8_string();
                bool isPath = std::find(pathColumns.begin(), pathColumns.end(), column) != pathColumns.end();
                if (!isPath) {
                    EXPECT_EQ(shown, full);
                    EXPECT_GE(list->GetColumnWidth(column), list->GetTextExtent(full).x) << full;
                } else if (!full.empty()) {
                    std::string name = full.substr(full.rfind('/'));
                    EXPECT_EQ(shown.substr(shown.size() - std::min(shown.size(), name.size())), name)
                        << "the file name stays in view: " << shown;
                    EXPECT_LE(list->GetTextExtent(shown).x, list->GetColumnWidth(column)) << shown;
                }
            }
        }
    };

    TextList* files = m_window->fileList();
    checkList(files, {0});
    ASSERT_NE(files->shownText(0, 0), files->text(0, 0)) << "the path is cut at the default size";
    wxRect cell;
    ASSERT_TRUE(files->GetSubItemRect(0, 0, cell));
    sendMouse(rowsWindow(files), wxEVT_MOTION,
              cell.GetPosition() - rowsWindow(files)->GetPosition() + wxPoint(8, cell.height / 2));
    EXPECT_EQ(rowsWindow(files)->GetToolTipText(), files->text(0, 0)) << "the whole path on hover";

    int before = files->GetColumnWidth(0);
    m_window->SetSize(wxSize(1000, 600));
    pumpFor(50);
    EXPECT_GT(files->GetColumnWidth(0), before) << "the path column grows with the window";
    m_window->SetSize(wxSize(760, 560));

    convertAndWait();
    checkList(m_window->progressPage()->resultList(), {2, 3});
}

TEST_F(MainWindowTest, StepsShowTheirOwnControls) {
    ASSERT_TRUE(openWindow());
    auto shown = [this](int id) { return m_window->FindWindow(id)->IsShownOnScreen(); };
    auto title = [this] { return control<wxStaticText>(1001)->GetLabel().utf8_string(); };
    EXPECT_EQ(m_window->step(), 1);
    EXPECT_EQ(title(), "Step1: Add files");
    EXPECT_TRUE(shown(1016));
    EXPECT_TRUE(shown(1008));
    EXPECT_FALSE(shown(1006));
    EXPECT_FALSE(shown(1007));

    press(1008);
    EXPECT_EQ(m_window->step(), 2);
    EXPECT_EQ(title(), "Step2: General Options");
    EXPECT_FALSE(shown(1016));
    EXPECT_TRUE(shown(1120));
    EXPECT_TRUE(shown(1006));
    EXPECT_TRUE(shown(1007));
    EXPECT_FALSE(shown(1008));

    press(1006);
    EXPECT_EQ(m_window->step(), 1);
    EXPECT_TRUE(shown(1016));
    EXPECT_FALSE(shown(1120));
}

TEST_F(MainWindowTest, ConvertWithAnEmptyListStaysInStepTwo) {
    ASSERT_TRUE(openWindow());
    press(1008);
    press(1007);
    EXPECT_EQ(m_window->step(), 2);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, "Can't convert, please add files first!");
    EXPECT_EQ(m_messages[0].caption, "Error");
}

TEST_F(MainWindowTest, WindowKeepsItsMinimumSizeAndHelpOpensThePage) {
    ASSERT_TRUE(openWindow());
    EXPECT_EQ(m_window->GetMinSize(), wxSize(684, 530));
    m_window->SetSize(wxSize(300, 200));
    pumpFor(20);
    EXPECT_GE(m_window->GetSize().x, 684);
    EXPECT_GE(m_window->GetSize().y, 530);
    // Where nothing maximises the window, its button keeps showing maximise.
    press(1100);
    pumpFor(100);
    EXPECT_EQ(m_window->maximiseIcon(), m_window->IsMaximized() ? Icon::kRestore : Icon::kMaximise);

    press(1003);
    EXPECT_EQ(m_opened, std::vector<std::string>{m_program + "docs/index.html"});
    EXPECT_TRUE(m_messages.empty());
    // When nothing can open it, that is said once, with the reason.
    m_shellResult = kShellNoAssociation;
    press(1003);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text,
              "Unable to open the help page:\n\nThere is no application associated\nwith "
              "the given filename extension.");
}

TEST_F(MainWindowTest, HelpPageIsInstalledBesideTheProgram) {
    std::string installed = readFile(std::string(GLIMMARK_PROGRAM_DIR) + "/docs/index.html");
    EXPECT_FALSE(installed.empty());
    EXPECT_EQ(installed, readFile(std::string(GLIMMARK_DOCS_DIR) + "/index.html"));
}

}  // namespace

}  // namespace glimmark::test
