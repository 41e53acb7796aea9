#include <gtest/gtest.h>

#include "status/countdown.h"
#include "status/status_window.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;

struct Countdown : ::testing::Test {
    TestApp t;
    platform::HeadlessForm* form = nullptr;
    std::vector<std::pair<double, std::string>> shown;  // status box text at each tick

    void SetUp() override
    {
        t.app.flags.RunStarted = true;  // showing the window starts no run here
        frmVEL(t.app).Show();
        form = t.Window();
        ASSERT_NE(form, nullptr);
    }
    // Records what the box shows at every half second.
    void Watch(double until)
    {
        for (double at = 0.5; at < until; at += 1.0)
            t.pump.After(at, [this] { shown.emplace_back(t.clock.MonotonicSeconds(), form->Text("txtStatus")); });
    }
    void Count(std::int16_t seconds) { ShowCountdown(t.app, "Label", "In ", seconds, " s", "&Quit"); }
};

TEST_F(Countdown, ThreeShowsThreeTwoOneAndTakesThreeSeconds)
{
    Watch(4);
    Count(3);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 3.0);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].second, "In 3 s");
    EXPECT_EQ(shown[1].second, "In 2 s");
    EXPECT_EQ(shown[2].second, "In 1 s");
    EXPECT_EQ(form->Text("txtStatus"), "In 1 s");  // 0 is never shown
    EXPECT_EQ(form->Text("lblClockStatus"), "Label");
    EXPECT_EQ(form->Text("cmdCancel"), "&Quit");
}

TEST_F(Countdown, CancelDuringTheSecondShowingTwoEndsThatSecond)
{
    t.pump.After(1.4, [this] { form->Click("cmdCancel"); });
    Count(3);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 2.0);
    EXPECT_EQ(form->Text("txtStatus"), "In 2 s");
    EXPECT_TRUE(t.app.flags.UserCancelled);
}

TEST_F(Countdown, GoAndCancelInTheSameSecondBothStopIt)
{
    t.pump.After(0.2, [this] { form->Click("cmdGo"); });
    t.pump.After(0.6, [this] { form->Click("cmdCancel"); });
    Count(5);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 1.0);
    EXPECT_TRUE(t.app.flags.GoPressed);
    EXPECT_TRUE(t.app.flags.UserCancelled);
}

TEST_F(Countdown, FlagsFromBeforeTheCountAreClearedButConfigureStillStopsAfterOneSecond)
{
    t.app.flags.UserCancelled = true;
    t.app.flags.GoPressed = true;
    Count(3);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 3.0);
    EXPECT_FALSE(t.app.flags.UserCancelled);
    EXPECT_FALSE(t.app.flags.GoPressed);

    t.app.flags.ConfigurePressed = true;
    const double start = t.clock.MonotonicSeconds();
    Count(3);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds() - start, 1.0);
    EXPECT_TRUE(t.app.flags.ConfigurePressed);
}

TEST_F(Countdown, BlankCaptionsLeaveLabelAndButtonAlone)
{
    form->SetText("lblClockStatus", "before");
    form->SetText("cmdCancel", "&Cancel");
    ShowCountdown(t.app, "   ", "x", 1, "", "  ");
    EXPECT_EQ(form->Text("lblClockStatus"), "before");
    EXPECT_EQ(form->Text("cmdCancel"), "&Cancel");
    EXPECT_EQ(form->Text("txtStatus"), "x1");
}

TEST_F(Countdown, ZeroSecondsChangesOnlyTheBoxAndRepaints)
{
    form->SetText("lblClockStatus", "before");
    t.app.flags.UserCancelled = true;
    const int refreshes = form->RefreshCount();
    ShowCountdown(t.app, "", "Connecting to internet... ", 0, " unused", "");
    EXPECT_EQ(form->Text("txtStatus"), "Connecting to internet... ");
    EXPECT_EQ(form->Text("lblClockStatus"), "before");
    EXPECT_GT(form->RefreshCount(), refreshes);
    EXPECT_TRUE(t.app.flags.UserCancelled);  // no count: flags untouched
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 0.0);
}

TEST_F(Countdown, WorksOnAWindowThatIsNeverShown)
{
    TestApp quiet;
    ShowCountdown(quiet.app, "System clock is correct! ", "Program will exit in ", 3, " secs.", "&Quit");
    EXPECT_DOUBLE_EQ(quiet.clock.MonotonicSeconds(), 3.0);
    EXPECT_FALSE(quiet.Window()->WasShown());
    EXPECT_EQ(quiet.Window()->Text("txtStatus"), "Program will exit in 1 secs.");
}

}  // namespace
}  // namespace vel
