#include "frontend/ThemedButton.h"

#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/settings.h>

#include "frontend/VisualStyles.h"
#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

class ThemedButtonTest : public GuiTest {
protected:
    void TearDown() override {
        VisualStyles::hideNativeRenderer(false);
        GuiTest::TearDown();
    }
};

wxImage render(IconButton* button) {
    wxBitmap bitmap(button->GetClientSize());
    {
        wxMemoryDC dc(bitmap);
        button->draw(dc);
    }
    return bitmap.ConvertToImage();
}

wxColour pixel(const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
}

wxColour system(wxSystemColour index) {
    // As a bitmap stores it: without alpha.
    wxColour colour = wxSystemSettings::GetColour(index);
    return wxColour(colour.Red(), colour.Green(), colour.Blue());
}

TEST_F(ThemedButtonTest, WithoutTheNativeRendererItIsNotThemedAndDrawsTheClassicBorder) {
    VisualStyles::hideNativeRenderer(true);
    VisualStyles styles;
    EXPECT_FALSE(styles.isLoaded());
    EXPECT_FALSE(styles.isAppThemed());

    wxPanel* panel = openPanel();
    auto* button =
        new ThemedButton(panel, 2001, wxString(), IconButton::Kind::kPush, wxPoint(10, 40), wxSize(60, 30));
    // The stubs answer: no theme data, failure to close or draw.
    EXPECT_EQ(styles.openThemeData(button, "BUTTON"), nullptr);
    EXPECT_FALSE(styles.closeThemeData(nullptr));
    wxBitmap scratch(8, 8);
    wxMemoryDC scratchDc(scratch);
    EXPECT_FALSE(styles.drawThemeBackground(nullptr, scratchDc, 1, 1, wxRect(0, 0, 8, 8)));
    styles.drawThemeParentBackground(button, scratchDc, wxRect(0, 0, 8, 8));
    scratchDc.SelectObject(wxNullBitmap);

    button->setDrawBorder(false);
    button->setVisualStyles(&styles);
    EXPECT_TRUE(button->drawsBorder()) << "styles without a theme turn the border on";

    // Not flat: the classic raised border, two lines on each side.
    button->setFlat(false);
    wxImage image = render(button);
    int right = 59, bottom = 29;
    EXPECT_EQ(pixel(image, 0, 0), system(wxSYS_COLOUR_BTNHIGHLIGHT));
    EXPECT_EQ(pixel(image, 30, 0), system(wxSYS_COLOUR_BTNHIGHLIGHT));
    EXPECT_EQ(pixel(image, 0, 15), system(wxSYS_COLOUR_BTNHIGHLIGHT));
    EXPECT_EQ(pixel(image, 30, 1), system(wxSYS_COLOUR_3DLIGHT));
    EXPECT_EQ(pixel(image, 1, 15), system(wxSYS_COLOUR_3DLIGHT));
    EXPECT_EQ(pixel(image, 30, bottom), system(wxSYS_COLOUR_3DDKSHADOW));
    EXPECT_EQ(pixel(image, right, 15), system(wxSYS_COLOUR_3DDKSHADOW));
    EXPECT_EQ(pixel(image, right, bottom), system(wxSYS_COLOUR_3DDKSHADOW));
    EXPECT_EQ(pixel(image, 30, bottom - 1), system(wxSYS_COLOUR_BTNSHADOW));
    EXPECT_EQ(pixel(image, right - 1, 15), system(wxSYS_COLOUR_BTNSHADOW));
    EXPECT_EQ(pixel(image, 30, 15), system(wxSYS_COLOUR_BTNFACE));

    // Flat: nothing at rest, a one-line raised edge under the pointer.
    button->setFlat(true);
    image = render(button);
    EXPECT_EQ(pixel(image, 0, 0), system(wxSYS_COLOUR_BTNFACE));
    sendMouse(button, wxEVT_MOTION, wxPoint(5, 5));
    ASSERT_TRUE(button->isHovered());
    image = render(button);
    EXPECT_EQ(pixel(image, 30, 0), system(wxSYS_COLOUR_BTNHIGHLIGHT));
    EXPECT_EQ(pixel(image, 30, bottom), system(wxSYS_COLOUR_BTNSHADOW));
    EXPECT_EQ(pixel(image, 30, 1), system(wxSYS_COLOUR_BTNFACE));
}

TEST_F(ThemedButtonTest, WithTheNativeRendererTheThemeDrawsTheButton) {
    VisualStyles styles;
    if (!styles.isLoaded())
        GTEST_SKIP() << "the toolkit has no native renderer";
    EXPECT_TRUE(styles.isAppThemed());

    wxPanel* panel = openPanel();
    auto* button =
        new ThemedButton(panel, 2001, wxString(), IconButton::Kind::kPush, wxPoint(10, 40), wxSize(60, 30));
    VisualStyles::Theme theme = styles.openThemeData(button, "button");
    EXPECT_NE(theme, nullptr) << "class names match in any case";
    EXPECT_TRUE(styles.closeThemeData(theme));
    EXPECT_EQ(styles.openThemeData(button, "EDIT"), nullptr);

    button->setFlat(false);
    wxImage classic = render(button);
    button->setVisualStyles(&styles);
    wxImage themed = render(button);
    EXPECT_NE(memcmp(classic.GetData(), themed.GetData(), 60 * 30 * 3), 0);

    EXPECT_EQ(button->themeState(), VisualStyles::kStateNormal);
    button->setToggled(true);  // a push button ignores the toggle
    EXPECT_EQ(button->themeState(), VisualStyles::kStateNormal);
    button->setFlat(true);
    sendMouse(button, wxEVT_MOTION, wxPoint(5, 5));
    EXPECT_EQ(button->themeState(), VisualStyles::kStateHot);
    button->Disable();
    EXPECT_EQ(button->themeState(), VisualStyles::kStateDisabled);

    auto* ok = new ThemedButton(panel, wxID_OK, "OK", IconButton::Kind::kDefaultPush, wxPoint(100, 40));
    ok->setVisualStyles(&styles);
    EXPECT_EQ(ok->themeState(), VisualStyles::kStateDefaulted);
    ok->setToolbarStyle(true);
    EXPECT_EQ(ok->themeState(), VisualStyles::kStateNormal);
    ok->setFlat(true, true);
    EXPECT_EQ(ok->themeState(), VisualStyles::kStateDefaulted);
    // The buttons outlive `styles` until the panel closes, and a paint that
    // arrives late must not reach it.
    button->setVisualStyles(nullptr);
    ok->setVisualStyles(nullptr);
}

}  // namespace

}  // namespace glimmark::test
