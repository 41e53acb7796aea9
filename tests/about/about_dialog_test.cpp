// The About box: its texts and links, System Info, and how it sits in a run.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "about/about_dialog.h"
#include "about/version_info.h"
#include "log/log.h"
#include "platform/shell.h"
#include "run/entry.h"
#include "status/status_window.h"
#include "support/test_app.h"

namespace vel {
namespace {

using platform::MessageButtons;
using platform::MessageIcon;
using platform::PointerShape;
using ::testing::HasSubstr;

constexpr platform::Colour kBlue = 0xFF0000;
constexpr platform::Colour kRed = 0x0000FF;

TEST(VersionText, ShowsTheRevisionOnlyWhenThereIsOne)
{
    EXPECT_EQ(VersionText(1, 55, 0), "Version 1.55");
    EXPECT_EQ(VersionText(1, 55, 3), "Version 1.55.3");
    EXPECT_EQ(VersionText(2, 0, 0), "Version 2.0");
    EXPECT_EQ(VersionText(0, 7, 12), "Version 0.7.12");
    EXPECT_EQ(VersionText(1, 5, -1), "Version 1.5");
    EXPECT_EQ(VersionText(kVersionInfo.Major, kVersionInfo.Minor, kVersionInfo.Revision), "Version 1.55");
}

TEST(PointingHandCursor, IsAMonochromeHandWithItsHotSpotOnTheFingerTip)
{
    const platform::CursorImage hand = PointingHandCursor();
    auto bit = [](std::uint32_t row, int x) { return ((row >> (31 - x)) & 1u) != 0; };
    EXPECT_EQ(hand.hotX, 12);
    EXPECT_EQ(hand.hotY, 9);
    // The hot spot is black and opaque, and nothing lies above it: the tip.
    EXPECT_TRUE(bit(hand.image[9], 12));
    EXPECT_TRUE(bit(hand.mask[9], 12));
    for (int y = 0; y < 9; ++y)
        EXPECT_FALSE(bit(hand.mask[static_cast<std::size_t>(y)], 12)) << "row " << y;
    int black = 0, white = 0;
    for (std::size_t y = 0; y < 32; ++y) {
        // No pixel is black without being opaque (those would invert the screen).
        EXPECT_EQ(hand.image[y] & ~hand.mask[y], 0u) << "row " << y;
        for (int x = 0; x < 32; ++x) {
            black += bit(hand.image[y], x);
            white += bit(hand.mask[y], x) && !bit(hand.image[y], x);
        }
    }
    EXPECT_GT(black, 40);   // an outline
    EXPECT_GT(white, 100);  // filled white
}

class StartSysInfoTest : public ::testing::Test {
protected:
    void ExpectUnavailableMessage()
    {
        EXPECT_TRUE(t.env.startedPrograms.empty() || !t.env.startProgramResult);
        ASSERT_EQ(t.windows.messages.size(), 1u);
        const auto& message = t.windows.messages[0];
        EXPECT_EQ(message.text, "System Information Is Unavailable At This Time");
        EXPECT_EQ(message.buttons, MessageButtons::Ok);
        EXPECT_EQ(message.icon, MessageIcon::None);
    }

    using Programs = std::vector<std::vector<std::string>>;
    test::TestApp t;
};

TEST_F(StartSysInfoTest, ThePlatformsProgramStarts)
{
    t.env.systemInformationProgram = "/usr/bin/kinfocenter";
    StartSysInfo(t.app);
    EXPECT_EQ(t.env.startedPrograms, (Programs{{"/usr/bin/kinfocenter"}}));
    EXPECT_TRUE(t.windows.messages.empty());
}

TEST_F(StartSysInfoTest, NoToolAnywhereShowsTheMessage)
{
    StartSysInfo(t.app);
    EXPECT_TRUE(t.env.startedPrograms.empty());
    ExpectUnavailableMessage();
}

TEST_F(StartSysInfoTest, AToolThatDoesNotStartShowsTheMessage)
{
    t.env.systemInformationProgram = "C:\\Gone\\MSINFO32.EXE";
    t.env.startProgramResult = false;
    StartSysInfo(t.app);
    ExpectUnavailableMessage();

    test::TestApp blank;
    blank.env.systemInformationProgram = "";  // named without a path
    StartSysInfo(blank.app);
    EXPECT_TRUE(blank.env.startedPrograms.empty());
    ASSERT_EQ(blank.windows.messages.size(), 1u);
}

// The box opened on its own, with the test's actions run while it is open.
class AboutBoxTest : public ::testing::Test {
protected:
    void WhileOpen(std::function<void(platform::HeadlessForm& about)> actions)
    {
        bool ran = false;
        t.pump.After(0.5, [&] {
            platform::HeadlessForm* about = t.Window("frmAbout");
            ASSERT_NE(about, nullptr);
            actions(*about);
            ran = true;
            if (about->IsVisible())
                about->Click("cmdOK");
        });
        ShowAboutDialog(t.app);
        EXPECT_TRUE(ran);
        EXPECT_EQ(t.Window("frmAbout"), nullptr) << "the box is gone once closed";
    }

    test::TestApp t;
};

TEST_F(AboutBoxTest, ShowsNameVersionNoticeAndLinks)
{
    t.windows.SetPointer(PointerShape::Busy);
    WhileOpen([&](platform::HeadlessForm& about) {
        EXPECT_TRUE(about.IsModal());
        EXPECT_EQ(about.Title(), "About Veltrane");
        const std::string title = about.Text("lblTitle");
        EXPECT_EQ(title.rfind("Veltrane - ", 0), 0u) << title;
        EXPECT_GT(title.size(), std::string("Veltrane - ").size());
        EXPECT_EQ(title.find('\n'), std::string::npos);
        EXPECT_EQ(about.Text("lblVersion"), "Version 1.55");
        EXPECT_THAT(about.Text("lblDescription"), HasSubstr("Copyright"));
        EXPECT_EQ(about.Text("lblTechSupport"), "Tech Support:");
        EXPECT_EQ(about.Text("lblWeb"), "Web:");
        EXPECT_EQ(about.Text("lblEMail"), "Issues:");
        EXPECT_EQ(about.Text("cmdOK"), "OK");
        EXPECT_EQ(about.Text("cmdSysInfo"), "&System Info...");

        // Two web addresses without a scheme, as links.
        for (const char* link : {"lblWebLink", "lblEMailLink"}) {
            EXPECT_TRUE(platform::WebAddressOf(about.Text(link)).has_value()) << about.Text(link);
            EXPECT_TRUE(about.IsUnderlined(link)) << link;
            EXPECT_EQ(about.ForeColour(link), kBlue) << link;
            const platform::CursorImage* cursor = about.ControlCursor(link);
            ASSERT_NE(cursor, nullptr) << link;
            EXPECT_EQ(cursor->image, PointingHandCursor().image);
            EXPECT_EQ(cursor->hotX, 12);
            EXPECT_EQ(cursor->hotY, 9);
        }
        // Opening the box put the default pointer back.
        EXPECT_EQ(t.windows.Pointer(), PointerShape::Default);
    });
    EXPECT_TRUE(t.windows.messages.empty());
}

TEST_F(AboutBoxTest, ClickedLinksOpenAndTurnRed)
{
    WhileOpen([&](platform::HeadlessForm& about) {
        about.Click("lblEMailLink");
        EXPECT_EQ(about.ForeColour("lblEMailLink"), kRed);
        EXPECT_EQ(about.ForeColour("lblWebLink"), kBlue);
        t.shell.result = false;
        about.Click("lblWebLink");
        EXPECT_EQ(about.ForeColour("lblWebLink"), kBlue);
    });
    EXPECT_EQ(t.shell.opened, (std::vector<std::string>{kIssuesAddress, kWebAddress}));
    ASSERT_EQ(t.windows.messages.size(), 1u);
    EXPECT_EQ(t.windows.messages[0].text, "Could not start browser!");
}

// The project's home and issue tracker, as the AppStream metainfo has them.
TEST(AboutBoxLinks, AreTheHomeAndTheIssueTrackerOfTheMetainfo)
{
    std::ifstream in(std::string(VELTRANE_TEST_DATA) + "/../../dist/io.github.veltrane.veltrane.metainfo.xml");
    const std::string metainfo{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_THAT(metainfo, HasSubstr(std::string("<url type=\"homepage\">https://") + kWebAddress + "</url>"));
    EXPECT_THAT(metainfo, HasSubstr(std::string("<url type=\"bugtracker\">https://") + kIssuesAddress + "</url>"));
}

TEST_F(AboutBoxTest, TheMouseOverALinkShowsTheHand)
{
    WhileOpen([&](platform::HeadlessForm& about) {
        about.MoveMouseOver("lblTechSupport");
        EXPECT_EQ(t.windows.Pointer(), PointerShape::Default);
        about.MoveMouseOver("lblWebLink");
        EXPECT_EQ(t.windows.Pointer(), PointerShape::Custom);
        ASSERT_NE(t.windows.CustomPointer(), nullptr);
        EXPECT_EQ(t.windows.CustomPointer()->hotX, 12);
        EXPECT_EQ(t.windows.CustomPointer()->mask, PointingHandCursor().mask);
    });
}

TEST_F(AboutBoxTest, SystemInfoStartsTheToolAndTheBoxStaysOpen)
{
    t.env.systemInformationProgram = "/usr/bin/tool";
    WhileOpen([&](platform::HeadlessForm& about) {
        about.Click("cmdSysInfo");
        EXPECT_EQ(t.env.startedPrograms, (std::vector<std::vector<std::string>>{{"/usr/bin/tool"}}));
        EXPECT_TRUE(about.IsVisible());
    });
}

TEST_F(AboutBoxTest, TheCloseBoxClosesItToo)
{
    bool closed = false;
    t.pump.After(1.0, [&] {
        t.Window("frmAbout")->CloseBox();
        closed = true;
    });
    ShowAboutDialog(t.app);
    EXPECT_TRUE(closed);
    EXPECT_EQ(t.Window("frmAbout"), nullptr);
}

// Opened from the status window during the start delay, the box holds the
// count while it is open, and its closing starts no second run.
TEST(AboutBoxInARun, HoldsTheStartDelayAndStartsNoSecondRun)
{
    test::TestApp t;
    t.WriteSettings(
        "[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=30\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=LAN\r\n"
        "Connectoid=\r\nQuietMode=N\r\nOnlyIfConnected=N\r\n");
    std::vector<std::pair<double, std::string>> seen;
    auto note = [&] { seen.emplace_back(t.clock.MonotonicSeconds(), t.Window()->Text("txtStatus")); };

    t.pump.At(2.5, [&] {
        note();
        EXPECT_TRUE(t.Window()->Click("cmdAbout"));  // returns when the box has closed
        note();
    });
    t.pump.At(3.0, [&] {
        ASSERT_NE(t.Window("frmAbout"), nullptr);
        note();
    });
    t.pump.At(10.0, [&] {
        note();
        t.Window("frmAbout")->Click("cmdOK");
    });
    t.pump.At(10.5, note);
    t.pump.At(11.5, [&] { t.Window()->Click("cmdCancel"); });

    ProgramMain(t.app);

    ASSERT_EQ(seen.size(), 5u);
    EXPECT_THAT(seen[0].second, HasSubstr("initiate in 28 secs"));
    EXPECT_THAT(seen[1].second, HasSubstr("initiate in 28 secs"));  // 3.0: held
    EXPECT_THAT(seen[2].second, HasSubstr("initiate in 28 secs"));  // 10.0: still held
    EXPECT_DOUBLE_EQ(seen[3].first, 10.0);                          // the click returned at the close
    EXPECT_THAT(seen[4].second, HasSubstr("initiate in 27 secs"));  // the count goes on with the next number

    const std::vector<std::string> log = t.LogLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string(kLogStartMarker)), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), std::string("ERROR: user cancelled before connect started")), 1);
    EXPECT_EQ(t.app.exitStatus, ExitStatus::Cancelled);
    EXPECT_TRUE(t.app.runFinished);
    // The status window was activated again after the box closed.
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_GE(t.Window()->ActivationCount(), 2);
    EXPECT_NEAR(t.clock.MonotonicSeconds(), 12.0, 0.01);
}

}  // namespace
}  // namespace vel
