#include "frontend/IconButton.h"

#include <wx/dcmemory.h>
#include <wx/image.h>
#include <wx/rawbmp.h>

#include "tests/frontend/gui/GuiSupport.h"

namespace glimmark::test {

namespace {

using IconButtonTest = GuiTest;

wxImage render(IconButton* button) {
    wxBitmap bitmap(button->GetClientSize());
    {
        wxMemoryDC dc(bitmap);
        button->draw(dc);
    }
    return bitmap.ConvertToImage();
}

// The smallest rectangle holding the pixels that are clearly red.
wxRect redArea(const wxImage& image) {
    wxRect area;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetRed(x, y) > 200 && image.GetGreen(x, y) < 60 && image.GetBlue(x, y) < 60)
                area = area.IsEmpty() ? wxRect(x, y, 1, 1) : area.Union(wxRect(x, y, 1, 1));
        }
    }
    return area;
}

bool allGrey(const wxImage& image) {
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetRed(x, y) != image.GetGreen(x, y) || image.GetGreen(x, y) != image.GetBlue(x, y))
                return false;
        }
    }
    return true;
}

wxBitmap redSquare(int size) {
    wxImage image(size, size);
    image.SetRGB(wxRect(0, 0, size, size), 255, 0, 0);
    return wxBitmap(image);
}

// Counts the events of one type that reach the panel.
struct EventCounter {
    int count = 0;
    EventCounter(wxWindow* window, const wxEventTypeTag<wxCommandEvent>& type) {
        window->Bind(type, [this](wxCommandEvent&) { ++count; });
    }
};

TEST_F(IconButtonTest, CheckBoxModeTogglesItsLookOnEachClickAndPostsNoCommand) {
    wxPanel* panel = openPanel();
    // Flat, so that the look does not depend on where the display's focus
    // is: other test programs share the display.
    auto* button = new IconButton(panel, 2001, "Bold", IconButton::Kind::kCheckBox, wxPoint(10, 40));
    EventCounter buttons(panel, wxEVT_BUTTON);
    EventCounter menus(panel, wxEVT_MENU);

    wxImage off = render(button);
    clickAt(button);
    EXPECT_TRUE(button->isToggled());
    wxImage on = render(button);
    EXPECT_NE(memcmp(off.GetData(), on.GetData(), off.GetWidth() * off.GetHeight() * 3), 0)
        << "a toggled button looks pressed";
    clickAt(button);
    EXPECT_FALSE(button->isToggled());
    wxImage offAgain = render(button);
    EXPECT_EQ(memcmp(off.GetData(), offAgain.GetData(), off.GetWidth() * off.GetHeight() * 3), 0);

    // The keyboard toggles it as well; a double-click is two clicks.
    wxKeyEvent space(wxEVT_KEY_DOWN);
    space.m_keyCode = WXK_SPACE;
    button->HandleWindowEvent(space);
    space.SetEventType(wxEVT_KEY_UP);
    button->HandleWindowEvent(space);
    EXPECT_TRUE(button->isToggled());
    sendMouse(button, wxEVT_LEFT_DCLICK, wxPoint(4, 4), true);
    sendMouse(button, wxEVT_LEFT_UP, wxPoint(4, 4));
    EXPECT_FALSE(button->isToggled());

    pumpFor(20);
    EXPECT_EQ(buttons.count, 0);
    EXPECT_EQ(menus.count, 0);

    // A push button does send its event, once per click, and not for a
    // release outside it.
    auto* push = new IconButton(panel, 2002, "Go", IconButton::Kind::kPush, wxPoint(10, 100));
    clickAt(push);
    sendMouse(push, wxEVT_LEFT_DOWN, wxPoint(4, 4), true);
    sendMouse(push, wxEVT_LEFT_UP, wxPoint(-20, 4));
    pumpFor(20);
    EXPECT_EQ(buttons.count, 1);
}

TEST_F(IconButtonTest, AlignmentFourAndPressedModeTwoAreRefused) {
    wxPanel* panel = openPanel();
    auto* button = new IconButton(panel, 2001, "Text", IconButton::Kind::kPush, wxPoint(10, 40));
    EXPECT_EQ(button->setAlignment(IconButton::kIconAbove), IconButton::kOk);
    EXPECT_EQ(button->setAlignment(4), 4);
    EXPECT_EQ(button->setAlignment(-1), 4);
    EXPECT_EQ(button->alignment(), IconButton::kIconAbove) << "a refused value changes nothing";
    EXPECT_EQ(button->setAlignment(3), IconButton::kOk);
    EXPECT_EQ(button->setPressedOffset(2), 6);
    EXPECT_EQ(button->setPressedOffset(-1), 6);
    EXPECT_EQ(button->setPressedOffset(IconButton::kPressedDown), IconButton::kOk);
}

TEST_F(IconButtonTest, PressedContentMovesByItsModesOffset) {
    wxPanel* panel = openPanel();
    auto* button =
        new IconButton(panel, 2001, wxString(), IconButton::Kind::kCheckBox, wxPoint(10, 40), wxSize(40, 40));
    button->setBitmaps(redSquare(8));
    wxRect resting = redArea(render(button));
    ASSERT_EQ(resting, wxRect(16, 16, 8, 8)) << "the picture is centred";

    button->setToggled(true);
    EXPECT_EQ(redArea(render(button)), wxRect(17, 17, 8, 8));
    button->setPressedOffset(IconButton::kPressedDown);
    EXPECT_EQ(redArea(render(button)), wxRect(16, 18, 8, 8));
    button->setPressedOffset(2);
    EXPECT_EQ(redArea(render(button)), wxRect(16, 18, 8, 8)) << "the refused mode leaves the last one";
}

TEST_F(IconButtonTest, GreyCopyHasEqualChannelsAndKeepsBlackAndTransparency) {
    wxImage colours(4, 1);
    colours.InitAlpha();
    const unsigned char pixels[4][4] = {
        {255, 0, 0, 255}, {0, 0, 0, 255}, {10, 200, 30, 128}, {255, 255, 255, 0}};
    for (int x = 0; x < 4; ++x) {
        colours.SetRGB(x, 0, pixels[x][0], pixels[x][1], pixels[x][2]);
        colours.SetAlpha(x, 0, pixels[x][3]);
    }
    wxImage grey = IconButton::greyCopy(wxBitmap(colours)).ConvertToImage();
    ASSERT_TRUE(grey.HasAlpha());
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(grey.GetRed(x, 0), grey.GetGreen(x, 0)) << x;
        EXPECT_EQ(grey.GetGreen(x, 0), grey.GetBlue(x, 0)) << x;
        EXPECT_NEAR(grey.GetAlpha(x, 0), pixels[x][3], 1) << x;
    }
    EXPECT_EQ(grey.GetRed(0, 0), 76) << "0.299 x 255, truncated";
    EXPECT_EQ(grey.GetRed(1, 0), 0) << "black stays black";
    EXPECT_EQ(grey.GetAlpha(3, 0), 0);

    // Masked images keep their mask colour, so that the mask still works.
    wxImage masked(2, 1);
    masked.SetRGB(0, 0, 255, 0, 255);
    masked.SetRGB(1, 0, 0, 200, 0);
    masked.SetMaskColour(255, 0, 255);
    wxImage maskedGrey = IconButton::greyCopy(wxBitmap(masked)).ConvertToImage();
    EXPECT_EQ(maskedGrey.GetRed(1, 0), 117);
    EXPECT_EQ(maskedGrey.GetGreen(1, 0), 117);
    if (maskedGrey.HasAlpha())
        EXPECT_EQ(maskedGrey.GetAlpha(0, 0), 0);
    else
        EXPECT_TRUE(maskedGrey.IsTransparent(0, 0));
}

TEST_F(IconButtonTest, GreySecondIconRestsUntilThePointerComes) {
    wxPanel* panel = openPanel();
    auto* button = new IconButton(panel, 2001, wxString(), IconButton::Kind::kPush, wxPoint(10, 40));
    button->setIcon(Icon::kConvert, IconButton::kGreyCopy);
    button->setColours(IconButton::State::kNormal, *wxWHITE, *wxBLACK);
    button->setColours(IconButton::State::kHover, *wxWHITE, *wxBLACK);
    button->setDrawBorder(false);
    button->SetInitialSize();
    EXPECT_TRUE(allGrey(render(button)));

    sendMouse(button, wxEVT_MOTION, wxPoint(4, 4));
    EXPECT_TRUE(button->isHovered());
    EXPECT_FALSE(allGrey(render(button))) << "the coloured icon under the pointer";
    sendMouse(button, wxEVT_LEAVE_WINDOW, wxPoint(-5, -5));
    EXPECT_FALSE(button->isHovered());

    // Buttons that are not flat do not follow the pointer.
    button->setFlat(false);
    sendMouse(button, wxEVT_MOTION, wxPoint(4, 4));
    EXPECT_FALSE(button->isHovered());
}

TEST_F(IconButtonTest, TargetTextOpensWithTheDesktopInPlaceOfTheButtonEvent) {
    wxPanel* panel = openPanel();
    auto* button = new IconButton(panel, 2001, "Help", IconButton::Kind::kPush, wxPoint(10, 40));
    EventCounter buttons(panel, wxEVT_BUTTON);
    EXPECT_TRUE(button->setTargetText("/usr/share/doc/help.html"));
    EXPECT_FALSE(button->setTargetText("/" + std::string(IconButton::kMaxTargetLength, 'x')));
    clickAt(button);
    pumpFor(10);
    EXPECT_EQ(m_opened, std::vector<std::string>{"/usr/share/doc/help.html"})
        << "the longer text was refused";
    EXPECT_EQ(buttons.count, 0);

    // A disabled button does nothing.
    button->Disable();
    clickAt(button);
    EXPECT_EQ(m_opened.size(), 1u);
}

}  // namespace

}  // namespace glimmark::test
