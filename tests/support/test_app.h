// TestApp: an App over the fakes, in one line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "common/app.h"
#include "platform/headless/headless_windows.h"
#include "support/fakes.h"
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

struct TestApp {
    VirtualClock clock;
    VirtualPump pump{clock};
    FakeEnvironment env;
    FakeProfileFile profile{env};
    platform::HeadlessWindowSystem windows{pump};
    FakeSocket socket{pump};
    FakeDialUp dialUp;
    FakeShell shell;
    App app{platform::Platform{clock, pump, env, profile, windows, socket, dialUp, shell}};

    TestApp();

    std::string SettingsPath() const { return "/app/Veltrane.INI"; }
    std::string LogPath() const { return "/app/Veltrane.log"; }
    std::string& SettingsText() { return env.files[SettingsPath()]; }
    void WriteSettings(const std::string& text) { env.files[SettingsPath()] = text; }

    // The log's lines without their line ends; `withTimestamps` false strips
    // the "MM.DD.YYYY HH:MM " in front.
    std::vector<std::string> LogLines(bool withTimestamps = false);

    // The status window as the headless back end holds it (null before it exists).
    platform::HeadlessForm* Window(const std::string& name = "frmVEL") const { return windows.FindForm(name); }
};

}  // namespace vel::test
