// Veltrane: sets the PC clock from a Daytime server, once per start.
#include <QApplication>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/app.h"
#include "common/text.h"
#include "platform/factory.h"
#include "platform/headless/headless_windows.h"
#include "platform/linux/linux_environment.h"
#include "run/entry.h"
#include "settings/settings.h"

namespace {

bool HasDisplay()
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

// The same file SettingsFilePath names once the App exists.
std::string SettingsPath(vel::platform::Environment& env)
{
    return env.ProgramFolder() + env.PathSeparator() + vel::kSettingsFileName;
}

// Whether this start opens the configuration dialog: asked for, or no settings file yet.
bool WantsConfiguration(vel::platform::Environment& env)
{
    return vel::ToLower(env.CommandLine()).find("config") != std::string::npos || !env.IsOrdinaryFile(SettingsPath(env));
}

// Whether this start will show a window: the configuration dialog or the
// status window (not quiet mode). Only reads.
bool WantsWindows(vel::platform::Environment& env, vel::platform::ProfileFile& profile)
{
    if (WantsConfiguration(env))
        return true;
    std::string quiet;
    profile.GetString(vel::kSettingsSection, "QuietMode", "", quiet, 260, SettingsPath(env));
    return quiet != "Y";
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace vel;
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    platform::LinuxEnvironment env(args, platform::LinuxEnvironment::ExecutableFolder() + "/veltrane");
    auto profile = platform::CreateProfileFile();

    // A quiet run needs no display: it makes only a QCoreApplication.
    const bool display = HasDisplay();
    const bool windows = WantsWindows(env, *profile) && display;
    if (!display && WantsConfiguration(env)) {
        std::fprintf(stderr,
                     "Veltrane: the configuration dialog needs a display (none found: DISPLAY and WAYLAND_DISPLAY "
                     "are not set); settings file: %s\n",
                     SettingsPath(env).c_str());
        return static_cast<int>(ExitStatus::Fatal);
    }
    std::unique_ptr<QCoreApplication> qt;
    if (windows)
        qt = std::make_unique<QApplication>(argc, argv);
    else
        qt = std::make_unique<QCoreApplication>(argc, argv);

    auto clock = platform::CreateSystemClock();
    auto pump = platform::CreateEventPump();
    auto socket = platform::CreateSocket(*pump);
    auto dialUp = platform::CreateDialUpNetworking();
    auto shell = platform::CreateShell();
    std::unique_ptr<platform::WindowSystem> windowSystem;
    if (windows)
        windowSystem = platform::CreateWindowSystem(*pump);
    else
        windowSystem = std::make_unique<platform::HeadlessWindowSystem>(*pump);

    App app(platform::Platform{*clock, *pump, env, *profile, *windowSystem, *socket, *dialUp, *shell});
    app.fatal = [&](const std::string& message) {
        std::fprintf(stderr, "Veltrane: %s\n", message.c_str());
        std::fflush(stderr);
        if (windowSystem->IsInteractive())
            windowSystem->MessageBox("Veltrane " + message, "Veltrane", platform::MessageButtons::Ok,
                                     platform::MessageIcon::Critical);
        std::_Exit(static_cast<int>(ExitStatus::Fatal));
    };

    const ExitStatus status = RunProgram(app);

    // Everything is on disk (the log line by line, the settings file replaced
    // whole). End without waiting for a host lookup that never answered: Qt
    // would otherwise join its lookup thread at exit.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(static_cast<int>(status));
}
