#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "frontend/FormatPages.h"
#include "frontend/OptionsPage.h"
#include "platform/IniProfile.h"
#include "tests/frontend/gui/GuiSupport.h"
#include "tests/support/ScopedEnvironment.h"

namespace glimmark::test {

namespace {

namespace fs = std::filesystem;

using OptionsPageTest = GuiTest;

const char* const kInvalidPath = "Path invalid,please check it,for example(/)";

std::string key(const std::string& file, const char* name, const char* section = "Settings") {
    return platform::getPrivateProfileString(section, name, "<missing>", 4096, file);
}

TEST_F(OptionsPageTest, SavePathMustBeAbsoluteAndFitThePathFields) {
    ASSERT_TRUE(openWindow());
    press(1008);
    check(1031);
    ConversionOptions options;
    std::string settings = m_program + "Settings.ini";

    for (const std::string& bad : {std::string("out/x"), std::string(""), "/" + std::string(258, 'd')}) {
        m_messages.clear();
        type(1049, bad);
        EXPECT_FALSE(m_window->optionsPage()->validateAndSave(options)) << bad;
        ASSERT_EQ(m_messages.size(), 1u) << bad;
        EXPECT_EQ(m_messages[0].text, kInvalidPath);
        EXPECT_EQ(m_messages[0].caption, "Warning");
        EXPECT_EQ(m_messages[0].icon, UserPrompts::Icon::kWarning);
        EXPECT_FALSE(fs::exists(settings)) << "nothing is written for a refused path";
    }

    // 258 characters plus the '/' that is added still fit.
    std::string longest = "/" + std::string(257, 'd');
    type(1049, longest);
    EXPECT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.savePath, longest + "/");

    type(1049, m_data + "out");
    EXPECT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.saveMode, 1);
    EXPECT_EQ(options.savePath, m_data + "out/");
    EXPECT_EQ(key(settings, "savePath"), m_data + "out/");

    // Saving beside the input takes any text and records no folder.
    check(1030);
    type(1049, "anything");
    EXPECT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.savePath, "");
    EXPECT_FALSE(control<wxTextCtrl>(1049)->IsEnabled());
}

TEST_F(OptionsPageTest, DefaultsComeFromTheTableWhenThereIsNoSettingsFile) {
    ASSERT_TRUE(openWindow());
    EXPECT_EQ(control<wxChoice>(1120)->GetSelection(), 3);
    EXPECT_EQ(control<wxChoice>(1106)->GetSelection(), 2);
    EXPECT_EQ(control<wxChoice>(1107)->GetSelection(), 2);
    EXPECT_TRUE(control<wxRadioButton>(1109)->GetValue());
    EXPECT_TRUE(control<wxRadioButton>(1030)->GetValue());
    EXPECT_EQ(control<wxTextCtrl>(1049)->GetValue().utf8_string().back(), '/');
    EXPECT_EQ(control<wxSlider>(1129)->GetValue(), 75);
    EXPECT_EQ(control<wxStaticText>(1130)->GetLabel(), "75%");

    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.xDpi, 100);
    EXPECT_EQ(options.yDpi, 100);
    EXPECT_EQ(options.imageType, 4);
    EXPECT_EQ(options.colourCode, 24);
    EXPECT_EQ(options.jpegQuality, 75);
    EXPECT_EQ(options.tifMode, 1);
}

TEST_F(OptionsPageTest, EveryKeyIsWrittenAndRestoredOnTheNextStart) {
    ASSERT_TRUE(openWindow());
    press(1008);
    choose(1120, 6);  // TIF
    choose(1106, 7);
    choose(1107, 0);
    check(1108);
    check(1031);
    type(1049, m_data + "images");
    type(1142, "pass word");
    choose(1105, 2);  // 16 colours
    check(1132);      // Grayscale
    check(1115);      // Packbits
    control<wxSlider>(1119)->SetValue(40);
    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.imageType, 7);
    EXPECT_EQ(options.xDpi, 500) << "the last entry is the library's largest resolution";
    EXPECT_EQ(options.yDpi, 72);
    EXPECT_EQ(options.tifMode, 0);
    EXPECT_EQ(options.colourCode, 3);
    EXPECT_EQ(options.tiffCompression, 3);
    EXPECT_EQ(options.tiffQuality, 40);
    EXPECT_EQ(options.password, "pass word");

    // The other format pages write their keys when they are the chosen type.
    for (int type : {0, 3, 5}) {
        choose(1120, type);
        ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    }
    choose(1120, 6);
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));

    std::string settings = m_program + "Settings.ini";
    const std::pair<const char*, std::string> expected[] = {
        {"xdpi", "7"},
        {"ydpi", "0"},
        {"imagetype", "6"},
        {"tifmode", "0"},
        {"savemode", "1"},
        {"savePath", m_data + "images/"},
        {"password", "pass word"},
        {"bbp_color", "0"},
        {"bbp_palette", "0"},
        {"gif_color", "0"},
        {"gif_palette", "0"},
        {"jpg_color", "0"},
        {"jpg_quality", "75"},
        {"tif_color", "2"},
        {"tif_palette", "1"},
        {"tif_compression", "2"},
        {"tif_quality", "40"},
    };
    for (const auto& [name, value] : expected)
        EXPECT_EQ(key(settings, name), value) << name;

    closeWindow();
    ASSERT_TRUE(openWindow());
    EXPECT_EQ(control<wxChoice>(1120)->GetSelection(), 6);
    EXPECT_EQ(control<wxChoice>(1106)->GetSelection(), 7);
    EXPECT_EQ(control<wxChoice>(1107)->GetSelection(), 0);
    EXPECT_TRUE(control<wxRadioButton>(1108)->GetValue());
    EXPECT_TRUE(control<wxRadioButton>(1031)->GetValue());
    EXPECT_EQ(control<wxTextCtrl>(1049)->GetValue().utf8_string(), m_data + "images/");
    EXPECT_EQ(control<wxTextCtrl>(1142)->GetValue().utf8_string(), "pass word");
    EXPECT_EQ(control<wxChoice>(1105)->GetSelection(), 2);
    EXPECT_TRUE(control<wxRadioButton>(1132)->GetValue());
    EXPECT_TRUE(control<wxRadioButton>(1115)->GetValue());
    EXPECT_EQ(control<wxSlider>(1119)->GetValue(), 40);
    EXPECT_TRUE(control<wxTextCtrl>(1049)->IsEnabled());
}

TEST_F(OptionsPageTest, SettingsMoveToTheUserFolderWhenTheProgramFolderIsNotWritable) {
    rendova::test::ScopedEnvironment config("XDG_CONFIG_HOME", m_root + "config");
    m_program = m_root + "no-such-folder/";
    ASSERT_TRUE(openWindow());
    EXPECT_EQ(m_window->settings().path(), m_root + "config/glimmark/Settings.ini");
    press(1008);
    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(key(m_root + "config/glimmark/Settings.ini", "imagetype"), "3");
}

TEST_F(OptionsPageTest, TypeChoiceShowsTheFormatPageAndTheTiffModes) {
    ASSERT_TRUE(openWindow());
    press(1008);
    OptionsPage* page = m_window->optionsPage();
    auto visible = [page] { return page->visibleFormatPage(); };
    const struct {
        int type;
        int control;  // a control of the page that must be shown; 0 for none
    } cases[] = {{0, 1122}, {1, 0}, {2, 0}, {3, 1128}, {4, 1122}, {5, 1125}, {6, 1105}, {7, 1122}};
    for (const auto& entry : cases) {
        choose(1120, entry.type);
        if (entry.control == 0) {
            EXPECT_EQ(visible(), nullptr) << entry.type;
        } else {
            ASSERT_NE(visible(), nullptr) << entry.type;
            EXPECT_EQ(visible(), m_window->FindWindow(entry.control)->GetParent()) << entry.type;
        }
        bool tif = entry.type == 6;
        EXPECT_EQ(control<wxRadioButton>(1108)->IsEnabled(), tif) << entry.type;
        EXPECT_EQ(control<wxRadioButton>(1109)->IsEnabled(), tif) << entry.type;
    }
    EXPECT_FALSE(control<wxRadioButton>(1110)->IsShown());
}

TEST_F(OptionsPageTest, MetafileTypesKeepTheColourCodeOfTheEarlierChoice) {
    ASSERT_TRUE(openWindow());
    press(1008);
    choose(1120, 0);
    choose(1122, 1);
    check(1124);
    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.colourCode, 7);
    choose(1120, 1);
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.imageType, 2);
    EXPECT_EQ(options.colourCode, 7);
}

TEST_F(OptionsPageTest, HiddenThirdTiffModeIsCheckedFromTheSettingsFile) {
    platform::writePrivateProfileString("Settings", "tifmode", "2", m_program + "Settings.ini");
    ASSERT_TRUE(openWindow());
    EXPECT_TRUE(control<wxRadioButton>(1110)->GetValue());
    EXPECT_FALSE(control<wxRadioButton>(1108)->GetValue());
    EXPECT_FALSE(control<wxRadioButton>(1109)->GetValue());
    press(1008);
    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.tifMode, 2);
}

TEST_F(OptionsPageTest, ColourPagesEnableThePaletteOnlyWhereItMatters) {
    ASSERT_TRUE(openWindow());
    choose(1122, 3);
    EXPECT_FALSE(control<wxRadioButton>(1123)->IsEnabled());
    choose(1122, 2);
    EXPECT_TRUE(control<wxRadioButton>(1123)->IsEnabled());
    choose(1122, 0);
    EXPECT_FALSE(control<wxRadioButton>(1124)->IsEnabled());
    choose(1125, 2);
    EXPECT_FALSE(control<wxRadioButton>(1126)->IsEnabled());
    choose(1125, 1);
    EXPECT_TRUE(control<wxRadioButton>(1127)->IsEnabled());
}

TEST_F(OptionsPageTest, TiffPageOffersEachCompressionOnlyForItsDepths) {
    ASSERT_TRUE(openWindow());
    auto enabled = [this](int id) { return control<wxRadioButton>(id)->IsEnabled(); };
    auto checked = [this](int id) { return control<wxRadioButton>(id)->GetValue(); };

    // 24 bits with JPG, then 1 bit: JPG is not offered and becomes LZW.
    choose(1105, 0);
    check(1118);
    EXPECT_TRUE(control<wxSlider>(1119)->IsEnabled());
    choose(1105, 3);
    EXPECT_TRUE(checked(1113));
    EXPECT_FALSE(enabled(1118));
    EXPECT_FALSE(enabled(1115));
    EXPECT_TRUE(enabled(1114));
    EXPECT_FALSE(control<wxSlider>(1119)->IsEnabled());

    // RLE at 1 bit sends setting 6.
    check(1114);
    auto* page = dynamic_cast<TiffPage*>(m_window->FindWindow(1105)->GetParent());
    ASSERT_NE(page, nullptr);
    page->writeSettings();
    EXPECT_EQ(page->compressionSetting(), 6);
    EXPECT_EQ(page->colourCode(), 1);

    // 8 bits: palette forced to Colorized; Grayscale offers JPG, Colorized
    // takes it back and falls to LZW.
    choose(1105, 1);
    EXPECT_TRUE(checked(1131));
    EXPECT_TRUE(checked(1113));
    EXPECT_FALSE(enabled(1118));
    check(1132);
    EXPECT_TRUE(enabled(1118));
    check(1118);
    EXPECT_TRUE(control<wxSlider>(1119)->IsEnabled());
    check(1131);
    EXPECT_FALSE(enabled(1118));
    EXPECT_TRUE(checked(1113));
    EXPECT_FALSE(control<wxSlider>(1119)->IsEnabled());
}

TEST_F(OptionsPageTest, StoredCompressionThatTheDepthCannotCarryIsShownAsLzw) {
    platform::writePrivateProfileString("Settings", "tif_compression", "6", m_program + "Settings.ini");
    platform::writePrivateProfileString("Settings", "tif_color", "0", m_program + "Settings.ini");
    ASSERT_TRUE(openWindow());
    EXPECT_TRUE(control<wxRadioButton>(1113)->GetValue());
}

TEST_F(OptionsPageTest, QualitySliderLabelFollowsTheSlider) {
    ASSERT_TRUE(openWindow());
    auto* slider = control<wxSlider>(1129);
    slider->SetValue(0);
    wxScrollEvent event(wxEVT_SCROLL_CHANGED, 1129, 0);
    event.SetEventObject(slider);
    slider->ProcessWindowEvent(event);
    EXPECT_EQ(control<wxStaticText>(1130)->GetLabel(), "0%");
    press(1008);
    choose(1120, 3);
    ConversionOptions options;
    ASSERT_TRUE(m_window->optionsPage()->validateAndSave(options));
    EXPECT_EQ(options.jpegQuality, 0) << "the library raises it to 1";
}

}  // namespace

}  // namespace glimmark::test
