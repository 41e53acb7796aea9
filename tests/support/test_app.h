// One way to build an App for a test and read what it wrote: TestApp over the
// fakes in virtual time with the headless windows (behaviour tests), GuiApp
// (gui_app.h) over the real Qt windows and event pump (GUI tests).
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "app/app.h"
#include "platform/headless/headless_windows.h"
#include "run/run_sync.h"
#include "support/fakes.h"
#include "support/https_peer.h"
#include "support/virtual_time.h"

namespace vel::test {

// What App::Fatal throws in tests, so a test can see the program stop.
struct FatalStop : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What App::EndProcess throws in tests: the process would end here.
struct ProcessEnded {
    int status;
};

// A settings file from tests/data/ini, byte for byte.
std::string IniFixture(const std::string& name);

// The lines of a log's text without their line ends; `withTimestamps` false
// strips the "MM.DD.YYYY HH:MM " in front.
std::vector<std::string> SplitLogLines(const std::string& text, bool withTimestamps);

// The lines appear in this order (others may come between); a "*" stands
// for any text ("a*" for any line that begins with a).
::testing::AssertionResult InOrder(const std::vector<std::string>& log, const std::vector<std::string>& expected);

// An App over in-memory files and INI files, the fake socket, dial-up and
// shell, with the clock, event pump and windows a kind of test needs. The pump
// runs on the clock where it takes one (virtual time).
template <typename ClockType, typename PumpType, typename WindowsType>
struct AppOver {
    AppOver() { app.startRun = RunSync; }

    ClockType clock;
    PumpType pump = MakePump();
    FakeEnvironment env;
    FakeProfileFile profile{env};
    WindowsType windows{pump, true};  // message boxes answered
    FakeSocket socket{pump};
    FakeDialUp dialUp;
    FakeShell shell;
    FakeDatagramSocket datagram{pump};
    App app{platform::Platform{clock, pump, env, profile, windows, socket, dialUp, shell, datagram}};

    std::string SettingsPath() const { return "/app/Veltrane.INI"; }
    std::string LogPath() const { return "/app/Veltrane.log"; }
    std::string& SettingsText() { return env.files[SettingsPath()]; }
    void WriteSettings(const std::string& text) { env.files[SettingsPath()] = text; }

    // The log's lines without their line ends; `withTimestamps` false strips
    // the "MM.DD.YYYY HH:MM " in front.
    std::vector<std::string> LogLines(bool withTimestamps = false)
    {
        return SplitLogLines(env.files[LogPath()], withTimestamps);
    }

private:
    PumpType MakePump()
    {
        if constexpr (std::is_constructible_v<PumpType, ClockType&>)
            return PumpType(clock);
        else
            return PumpType();
    }
};

// The App of the behaviour tests: virtual time, headless windows, message
// boxes answered OK (No for a question) without printing, and a program stop
// thrown as FatalStop.
struct TestApp : AppOver<VirtualClock, VirtualPump, platform::HeadlessWindowSystem> {
    TestApp();

    FakeWindowRunClaim windowRuns;
    // HTTPS servers whose Date tells the PC clock's time (a test may give
    // them another true time).
    FakeHttpsDate https{pump, [this] { return clock.NowUtc(); }, &clock};

    // The status window as the headless back end holds it (null before it exists).
    platform::HeadlessForm* Window(const std::string& name = "frmVEL") const { return windows.FindForm(name); }
};

}  // namespace vel::test
