#include "frontend/HyperLink.h"

#include <wx/log.h>
#include <wx/tooltip.h>
#include <wx/utils.h>

#include "frontend/DesktopOpen.h"
#include "tests/frontend/gui/GuiSupport.h"
#include "tests/support/ScopedEnvironment.h"

namespace glimmark::test {

namespace {

using HyperLinkTest = GuiTest;

const char* const kTarget = "https://glimmark.test/page";

TEST_F(HyperLinkTest, LinkWhoseTargetOpensTurnsToTheVisitedColour) {
    wxPanel* panel = openPanel();
    auto* link = new HyperLink(panel, 2001, "Home page", kTarget, wxPoint(10, 40));
    EXPECT_EQ(link->textColour(), HyperLink::kLinkColour);
    clickAt(link);
    EXPECT_EQ(m_opened, std::vector<std::string>{kTarget});
    EXPECT_TRUE(m_browsed.empty()) << "the browser is asked only when the desktop fails";
    EXPECT_TRUE(link->isVisited());
    EXPECT_EQ(link->textColour(), HyperLink::kVisitedColour);
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(HyperLinkTest, FailuresShowTheShellsReasonAndLeaveTheLinkUnvisited) {
    wxPanel* panel = openPanel();
    auto* link = new HyperLink(panel, 2001, "Home page", kTarget, wxPoint(10, 40));

    m_shellResult = 4;
    link->openTarget();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, "Unable to open hyperlink:\n\nUnknown Error (4) occurred.");
    EXPECT_EQ(m_messages[0].caption, "Warning");
    EXPECT_EQ(m_messages[0].icon, UserPrompts::Icon::kWarning);
    EXPECT_EQ(m_browsed, std::vector<std::string>{kTarget}) << "the web browser was tried too";
    EXPECT_FALSE(link->isVisited());
    EXPECT_EQ(link->textColour(), HyperLink::kLinkColour);

    m_shellResult = 26;
    link->openTarget();
    ASSERT_EQ(m_messages.size(), 2u);
    EXPECT_EQ(m_messages[1].text, "Unable to open hyperlink:\n\nA sharing violation occurred. ");
    EXPECT_EQ(HyperLink::reasonText(2), "The specified file was not found.");
    EXPECT_EQ(HyperLink::reasonText(0), "The operating system is out\nof memory or resources.");
    EXPECT_EQ(HyperLink::reasonText(-7), "Unknown Error (-7) occurred.");

    // What the desktop cannot open, the web browser may.
    m_browserOpens = true;
    link->openTarget();
    EXPECT_EQ(m_messages.size(), 2u);
    EXPECT_TRUE(link->isVisited());
}

// The toolkit's own messages, which would show as boxes of their own.
class CountingLog : public wxLog {
public:
    int count = 0;

protected:
    void DoLogRecord(wxLogLevel, const wxString&, const wxLogRecordInfo&) override { ++count; }
};

// With no opener installed, the link reports once, with the reason that
// holds for an existing file, and the toolkit adds no box of its own.
TEST_F(HyperLinkTest, LinkThatNothingCanOpenSaysSoOnce) {
    wxPanel* panel = openPanel();
    std::string target = makeFile("README.md", "read me");
    auto* link = new HyperLink(panel, 2001, "Support", wxString::FromUTF8(target), wxPoint(10, 40));
    UserPrompts::Handlers handlers;
    handlers.message = [this](const std::string& text, const std::string& caption, UserPrompts::Icon icon,
                              UserPrompts::Buttons) {
        m_messages.push_back({text, caption, icon});
        return true;
    };
    UserPrompts::setHandlers(handlers);
    rendova::test::ScopedEnvironment path("PATH", m_root + "empty");
    rendova::test::ScopedEnvironment browser("BROWSER", std::nullopt);
    auto* log = new CountingLog;
    wxLog* previous = wxLog::SetActiveTarget(log);
    link->openTarget();
    pumpFor(50);
    wxLog::SetActiveTarget(previous);
    EXPECT_EQ(log->count, 0) << "no message from the toolkit";
    delete log;
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text,
              "Unable to open hyperlink:\n\n" + HyperLink::reasonText(kShellNoAssociation));
    EXPECT_FALSE(link->isVisited());
}

TEST_F(HyperLinkTest, HoverUnderlinesUntilTheTimerFindsThePointerGone) {
    wxPanel* panel = openPanel();
    // Keep the pointer well away from the link (and from the windows of
    // other test programs, which open at the same place).
    panel->WarpPointer(1000, 900);
    auto* link = new HyperLink(panel, 2001, "Support", kTarget, wxPoint(10, 40));
    auto* always = new HyperLink(panel, 2002, "Always", kTarget, wxPoint(10, 70));
    always->setUnderlineMode(HyperLink::kAlwaysUnderlined);
    EXPECT_FALSE(link->isUnderlined());
    EXPECT_TRUE(always->isUnderlined());

    sendMouse(link, wxEVT_MOTION, wxPoint(2, 2));
    EXPECT_TRUE(link->isHovered());
    EXPECT_TRUE(link->isUnderlined());
    EXPECT_EQ(link->textColour(), HyperLink::kHoverColour);
    EXPECT_TRUE(pumpUntil([link] { return !link->isHovered(); }, 2000));
    EXPECT_FALSE(link->isUnderlined());
    EXPECT_EQ(link->textColour(), HyperLink::kLinkColour);

    sendMouse(always, wxEVT_MOTION, wxPoint(2, 2));
    EXPECT_TRUE(pumpUntil([always] { return !always->isHovered(); }, 2000));
    EXPECT_TRUE(always->isUnderlined()) << "mode 1 keeps the underline";
}

TEST_F(HyperLinkTest, AutoSizeFitsTheTextAndKeepsItsAlignment) {
    wxPanel* panel = openPanel();
    const wxRect box(20, 40, 300, 40);
    auto* left = new HyperLink(panel, 2001, "left", kTarget, box.GetPosition(), box.GetSize());
    auto* centred = new HyperLink(panel, 2002, "centred", kTarget, box.GetPosition(), box.GetSize(),
                                  wxALIGN_CENTRE_HORIZONTAL | wxALIGN_CENTRE_VERTICAL);
    auto* right =
        new HyperLink(panel, 2003, "right", kTarget, box.GetPosition(), box.GetSize(), wxALIGN_RIGHT);

    for (HyperLink* link : {left, centred, right}) {
        wxSize text = link->GetTextExtent(link->GetLabel());
        EXPECT_NEAR(link->GetSize().x, text.x, 1);
        EXPECT_LT(link->GetSize().y, box.height);
    }
    EXPECT_EQ(left->GetPosition(), box.GetPosition());
    EXPECT_EQ(right->GetRect().GetRight(), box.GetRight());
    EXPECT_EQ(right->GetPosition().y, box.y);
    wxRect middle = centred->GetRect();
    EXPECT_NEAR(middle.x + middle.width / 2.0, box.x + box.width / 2.0, 1);
    EXPECT_NEAR(middle.y + middle.height / 2.0, box.y + box.height / 2.0, 1);
}

TEST_F(HyperLinkTest, TextAndTargetStandInForEachOtherAndTheTooltipShowsTheTarget) {
    wxPanel* panel = openPanel();
    auto* byText = new HyperLink(panel, 2001, "https://glimmark.test/a", wxString(), wxPoint(10, 40));
    auto* byTarget = new HyperLink(panel, 2002, wxString(), "https://glimmark.test/b", wxPoint(10, 70));
    EXPECT_EQ(byText->targetText(), "https://glimmark.test/a");
    EXPECT_EQ(byTarget->GetLabel(), "https://glimmark.test/b");
    ASSERT_NE(byText->GetToolTip(), nullptr);
    EXPECT_EQ(byText->GetToolTip()->GetTip(), "https://glimmark.test/a");
    byText->setTargetText("https://glimmark.test/c");
    EXPECT_EQ(byText->GetToolTip()->GetTip(), "https://glimmark.test/c");
    EXPECT_EQ(byText->GetLabel(), "https://glimmark.test/a") << "the text stays";
}

}  // namespace

}  // namespace glimmark::test
