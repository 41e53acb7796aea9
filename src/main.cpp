// Veltrane: sets the PC clock from a Daytime server, once per start.
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/app.h"
#include "common/text.h"
#include "platform/factory.h"
#include "platform/headless/headless_windows.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_stop_signals.h"
#include "run/entry.h"
#include "run/program_information.h"
#include "run/stop.h"
#include "settings/settings.h"

extern char** environ;

namespace {

// Set for a process of our own that only shows an error's box (see below).
constexpr const char* kErrorBoxVariable = "VELTRANE_ERROR_BOX";

void ShowCriticalBox(vel::platform::WindowSystem& windows, const std::string& text)
{
    windows.ShowMessageBox(text, "Veltrane", vel::platform::MessageButtons::Ok, vel::platform::MessageIcon::Critical);
}

// The error box of a quiet run. A quiet run makes only a QCoreApplication (it
// needs no display and stays small), and a QApplication cannot follow one in
// the same process: a second process of this program shows the box, and this
// one waits for it to be dismissed, as it would for its own box.
void ShowErrorBoxInOwnProcess(const std::string& text)
{
    std::vector<std::string> variables;
    const std::string prefix = std::string(kErrorBoxVariable) + "=";
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, prefix.c_str(), prefix.size()) != 0)
            variables.emplace_back(*entry);
    variables.push_back(prefix + text);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string program = "veltrane";
    char* argv[] = {program.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0)
        return;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

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
    if (const char* text = std::getenv(kErrorBoxVariable)) {
        const std::string message = text;
        ::unsetenv(kErrorBoxVariable);
        QApplication qt(argc, argv);
        auto pump = platform::CreateEventPump();
        ShowCriticalBox(*platform::CreateWindowSystem(*pump), message);
        return static_cast<int>(ExitStatus::Fatal);
    }

    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    // Exactly --help, -h or --version: the answer, and no file, window or Qt.
    if (const std::optional<std::string> information = InformationRequested(args)) {
        std::fputs(information->c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    platform::LinuxEnvironment env(args, platform::LinuxEnvironment::ExecutableFolder() + "/veltrane");
    auto profile = platform::CreateProfileFile();

    // A quiet run needs no display: it makes only a QCoreApplication. With
    // "debug" it may show its box, and where there is a display it does.
    const bool display = HasDisplay();
    const bool debug = ToLower(env.CommandLine()).find("debug") != std::string::npos;
    const bool windows = (WantsWindows(env, *profile) || debug) && display;
    if (!display && WantsConfiguration(env)) {
        std::fprintf(stderr,
                     "Veltrane: the configuration dialog needs a display (none found: DISPLAY and WAYLAND_DISPLAY "
                     "are not set); settings file: %s\n",
                     SettingsPath(env).c_str());
        return static_cast<int>(ExitStatus::Fatal);
    }
    std::unique_ptr<QCoreApplication> qt;
    if (windows) {
        qt = std::make_unique<QApplication>(argc, argv);
        // The program ends when its run does, never because a box closed.
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        qt = std::make_unique<QCoreApplication>(argc, argv);
    }

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
            ShowCriticalBox(*windowSystem, "Veltrane " + message);
        else if (display)
            ShowErrorBoxInOwnProcess("Veltrane " + message);
        std::_Exit(static_cast<int>(ExitStatus::Fatal));
    };

    // SIGTERM, SIGINT and SIGHUP close the program from the event loop.
    platform::StopSignalWatcher stopSignals(
        [&app](int number, const std::string& name) { StopBySignal(app, number, name); });

    const ExitStatus status = RunProgram(app);

    // Everything is on disk (the log line by line, the settings file replaced
    // whole). End without waiting for a host lookup that never answered: Qt
    // would otherwise join its lookup thread at exit.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(static_cast<int>(status));
}
