#include <gtest/gtest.h>

#include "common/controls.h"
#include "status/countdown.h"
#include "status/status_window.h"
#include "settings/settings.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;

TEST(StatusWindow, DeclaresItsControlsWithCaptionsPlacesAndTabOrder)
{
    const platform::FormSpec spec = StatusWindowSpec();
    EXPECT_EQ(spec.caption, "Veltrane");
    EXPECT_EQ(spec.clientWidth, 5490);
    EXPECT_EQ(spec.clientHeight, 2355);
    struct Row {
        const char* name;
        const char* caption;
        int left, top, width, height, tab;
    };
    const Row rows[] = {
        {"lblStatus", "Status:", 240, 240, 615, 255, 3},
        {"lblClockStatus", "", 840, 240, 4215, 495, 5},
        {"txtStatus", "", 240, 720, 4935, 735, 4},
        {"cmdGo", "&Go", 240, 1680, 975, 375, 6},
        {"cmdConfigure", "C&onfigure", 1560, 1680, 975, 375, 1},
        {"cmdAbout", "&About", 2880, 1680, 975, 375, 2},
        {"cmdCancel", "&Cancel", 4200, 1680, 975, 375, 0},
    };
    ASSERT_EQ(spec.controls.size(), std::size(rows));
    for (const Row& row : rows) {
        const platform::ControlSpec* c = FindControl(spec, row.name);
        ASSERT_NE(c, nullptr) << row.name;
        EXPECT_EQ(c->caption, row.caption) << row.name;
        EXPECT_EQ(std::tie(c->left, c->top, c->width, c->height, c->tabIndex),
                  std::tie(row.left, row.top, row.width, row.height, row.tab))
            << row.name;
        EXPECT_FALSE(c->isDefault || c->isCancel) << row.name;
    }
    EXPECT_TRUE(FindControl(spec, "txtStatus")->multiLine);
}

TEST(StatusWindow, ButtonsSetTheRunFlags)
{
    TestApp t;
    frmVEL(t.app).Show();
    platform::HeadlessForm& form = *t.Window();
    form.Click("cmdConfigure");
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_TRUE(t.app.flags.ConfigurePressed);
    EXPECT_FALSE(t.app.flags.GoPressed);

    t.app.flags = {};
    form.Click("cmdGo");
    EXPECT_TRUE(t.app.flags.GoPressed);
    EXPECT_FALSE(form.IsEnabled("cmdGo"));
    EXPECT_EQ(form.FocusedControl(), "cmdCancel");  // Go had it: it moves on
    EXPECT_FALSE(form.Click("cmdGo"));              // a second press is impossible

    t.app.flags = {};
    form.SetText("cmdCancel", "&Quit");
    form.Click("cmdCancel");
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_FALSE(t.app.flags.ConfigurePressed);
}

TEST(StatusWindow, EveryCloseRaisesCancelAndSavesTheSettings)
{
    TestApp t;
    t.app.settings.NTPServer = "host (somewhere)";
    t.app.settings.Delay = "7";
    t.app.settings.QuietMode = "y";
    frmVEL(t.app).Show();
    t.Window()->CloseBox();
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_FALSE(t.Window()->IsVisible());
    EXPECT_NE(t.SettingsText().find("NTPServer=host (somewhere)\r\n"), std::string::npos);
    EXPECT_NE(t.SettingsText().find("Delay=7\r\n"), std::string::npos);
    EXPECT_NE(t.SettingsText().find("QuietMode=N\r\n"), std::string::npos);
}

TEST(StatusWindow, ClosingAWindowThatWasNeverShownStillSaves)
{
    TestApp t;
    t.app.settings.NTPServer = "quiet.example (q)";
    frmVEL(t.app).Close();
    EXPECT_TRUE(t.app.flags.UserCancelled);
    EXPECT_NE(t.SettingsText().find("NTPServer=quiet.example (q)"), std::string::npos);
    EXPECT_FALSE(t.Window()->WasShown());
}

TEST(StatusWindow, FirstActivationStartsTheRunOnceFromTheEventQueue)
{
    TestApp t;
    t.WriteSettings("[Main]\r\nNTPServer=x\r\nDelay=3\r\n");
    LoadSettings(t.app);
    std::string during;
    t.pump.At(1.5, [&] {
        during = t.Window()->Text("txtStatus");
        t.Window()->Activate();  // the user switches back: no second run
    });
    frmVEL(t.app).Show();
    EXPECT_FALSE(t.app.flags.RunStarted);  // not inside Show
    t.pump.RunFor(60);
    EXPECT_TRUE(t.app.flags.RunStarted);
    EXPECT_TRUE(t.app.runFinished);
    EXPECT_EQ(during,
              "Connection will initiate in 2 secs.  To cancel out of program, click CANCEL.  "
              "To connect now, click GO.");
    EXPECT_GE(t.Window()->ActivationCount(), 2);
    const auto lines = t.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "*** VEL started ***"), 1);
}

}  // namespace
}  // namespace vel
