// The link label: colours, what is opened, the messages and the pointer.
#include <gtest/gtest.h>

#include "about/hyper_text.h"
#include "support/test_app.h"

namespace vel {
namespace {

using platform::ControlKind;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::PointerShape;

constexpr platform::Colour kBlue = 0xFF0000;
constexpr platform::Colour kRed = 0x0000FF;

platform::FormSpec LinkFormSpec()
{
    platform::FormSpec spec;
    spec.name = "frmLinks";
    spec.caption = "Links";
    spec.clientWidth = 4000;
    spec.clientHeight = 1000;
    spec.controls = {
        platform::MakeControl(ControlKind::Label, "lblWeb", "www.veltrane.example/support", 100, 100, 3000, 255),
        platform::MakeControl(ControlKind::Label, "lblMail", "help@veltrane.example", 100, 500, 3000, 255),
    };
    return spec;
}

class HyperTextTest : public ::testing::Test {
protected:
    test::TestApp t;
    std::unique_ptr<platform::Form> form = t.windows.CreateForm(LinkFormSpec());
    Label web{*form, "lblWeb"};
    Label mail{*form, "lblMail"};
};

TEST_F(HyperTextTest, CreationResetsThePointerAndBindingUnderlinesInTheLinkColour)
{
    t.windows.SetPointer(PointerShape::Busy);
    HyperText link(t.app);
    EXPECT_EQ(t.windows.Pointer(), PointerShape::Default);
    EXPECT_EQ(link.LinkColor, kBlue);
    EXPECT_EQ(link.VisitedColor, kRed);
    EXPECT_FALSE(web.Underlined());

    link.CreateHyper(web);
    EXPECT_TRUE(web.Underlined());
    EXPECT_EQ(web.ForeColour(), kBlue);
    // The label's own clicks reach the link; another label's do not.
    form->NativeClick(form->IndexOf("lblMail"));
    EXPECT_TRUE(t.shell.opened.empty());
    form->NativeClick(form->IndexOf("lblWeb"));
    EXPECT_EQ(t.shell.opened, std::vector<std::string>{"www.veltrane.example/support"});

    // Colours changed before binding are the ones used.
    HyperText green(t.app);
    green.LinkColor = 0x00FF00;
    green.CreateHyper(mail);
    EXPECT_EQ(mail.ForeColour(), 0x00FF00u);
}

TEST_F(HyperTextTest, AWebAddressIsOpenedAsItStandsAndTurnsRed)
{
    HyperText link(t.app);
    link.CreateHyper(web);
    link.Click();
    ASSERT_EQ(t.shell.opened, std::vector<std::string>{"www.veltrane.example/support"});
    EXPECT_EQ(web.ForeColour(), kRed);
    EXPECT_TRUE(t.windows.messages.empty());
}

TEST_F(HyperTextTest, AnAddressWithAnAtSignIsOpenedAsMailto)
{
    HyperText link(t.app);
    link.CreateHyper(mail);
    link.Click();
    ASSERT_EQ(t.shell.opened, std::vector<std::string>{"mailto:help@veltrane.example"});
    EXPECT_EQ(mail.ForeColour(), kRed);
    // The caption itself is not changed.
    EXPECT_EQ(mail.Caption(), "help@veltrane.example");
}

TEST_F(HyperTextTest, AFailedOpenTellsWhichProgramFailed)
{
    HyperText webLink(t.app);
    HyperText mailLink(t.app);
    webLink.CreateHyper(web);
    mailLink.CreateHyper(mail);

    t.shell.result = false;
    webLink.Click();
    mailLink.Click();

    ASSERT_EQ(t.windows.messages.size(), 2u);
    EXPECT_EQ(t.windows.messages[0].text, "Could not start browser!");
    EXPECT_EQ(t.windows.messages[1].text, "Could not start e-mail program!");
    for (const auto& message : t.windows.messages) {
        EXPECT_EQ(message.title, "Error");
        EXPECT_EQ(message.buttons, MessageButtons::Ok);
        EXPECT_EQ(message.icon, MessageIcon::Critical);
    }
    EXPECT_EQ(web.ForeColour(), kBlue);
    EXPECT_EQ(mail.ForeColour(), kBlue);

    t.shell.result = true;
    webLink.Click();
    EXPECT_EQ(web.ForeColour(), kRed);
    EXPECT_EQ(t.windows.messages.size(), 2u);
}

TEST_F(HyperTextTest, AFailedOpenAfterASuccessLeavesTheLinkRed)
{
    HyperText link(t.app);
    link.CreateHyper(web);
    link.Click();
    t.shell.result = false;
    link.Click();
    EXPECT_EQ(web.ForeColour(), kRed);
    ASSERT_EQ(t.windows.messages.size(), 1u);
    EXPECT_EQ(t.windows.messages[0].text, "Could not start browser!");
}

TEST_F(HyperTextTest, MouseMoveShowsTheLabelsOwnPointerApplicationWide)
{
    platform::CursorImage hand;
    hand.image[3] = 0x0F0F0000;
    hand.mask[3] = 0xFFFF0000;
    hand.hotX = 5;
    hand.hotY = 3;
    web.SetCursor(hand);

    HyperText link(t.app);
    link.CreateHyper(web);
    link.MouseMove();
    EXPECT_EQ(t.windows.Pointer(), PointerShape::Custom);
    ASSERT_NE(t.windows.CustomPointer(), nullptr);
    EXPECT_EQ(t.windows.CustomPointer()->image, hand.image);
    EXPECT_EQ(t.windows.CustomPointer()->hotX, 5);
}

TEST_F(HyperTextTest, AnUnboundLinkDoesNothing)
{
    HyperText link(t.app);
    link.Click();
    link.MouseMove();
    EXPECT_TRUE(t.shell.opened.empty());
    EXPECT_EQ(t.windows.Pointer(), PointerShape::Default);
}

}  // namespace
}  // namespace vel
