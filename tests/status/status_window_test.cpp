#include <gtest/gtest.h>

#include "common/controls.h"
#include "status/countdown.h"
#include "status/status_window.h"
#include "settings/settings.h"
#include "support/form_declaration.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;

TEST(StatusWindow, DeclaresItsControlsWithCaptionsInsideTheWindowAndTheirTabOrder)
{
    const platform::FormSpec spec = StatusWindowSpec();
    EXPECT_EQ(spec.caption, "Veltrane");
    EXPECT_EQ(test::DeclarationFaults(spec), "");
    const std::pair<const char*, const char*> captions[] = {
        {"lblStatus", "Status:"},       {"lblClockStatus", ""}, {"txtStatus", ""},        {"cmdGo", "&Go"},
        {"cmdConfigure", "C&onfigure"}, {"cmdAbout", "&About"}, {"cmdCancel", "&Cancel"},
    };
    ASSERT_EQ(spec.controls.size(), std::size(captions));
    for (const auto& [name, caption] : captions) {
        const platform::ControlSpec* c = FindControl(spec, name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(c->caption, caption) << name;
        EXPECT_FALSE(c->isDefault || c->isCancel) << name;
    }
    EXPECT_TRUE(FindControl(spec, "txtStatus")->multiLine);
    // Cancel first, so that it has the focus when the window opens.
    EXPECT_EQ(test::ByTabIndex(spec), (std::vector<std::string>{"cmdCancel", "cmdConfigure", "cmdAbout", "lblStatus",
                                                                "txtStatus", "lblClockStatus", "cmdGo"}));
    // The buttons in one row under the status box, left to right, of one size.
    const platform::ControlSpec* box = FindControl(spec, "txtStatus");
    const platform::ControlSpec* previous = nullptr;
    for (const char* name : {"cmdGo", "cmdConfigure", "cmdAbout", "cmdCancel"}) {
        const platform::ControlSpec* button = FindControl(spec, name);
        EXPECT_GE(button->top, box->top + box->height) << name;
        if (previous != nullptr) {
            EXPECT_EQ(std::tie(button->top, button->width, button->height),
                      std::tie(previous->top, previous->width, previous->height))
                << name;
            EXPECT_GT(button->left, previous->left + previous->width) << name;
        }
        previous = button;
    }
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
