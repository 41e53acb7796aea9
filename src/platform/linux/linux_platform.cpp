// The composition root of the Linux build: Qt for the event pump, the socket,
// the windows and the shell; Linux for the clock, the files, the INI files and
// dial-up; the headless windows where nothing is to be shown.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "app/app.h"
#include "common/command_line.h"
#include "common/machine_mode.h"
#include "platform/headless/headless_windows.h"
#include "platform/host.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_dialup.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_profile_file.h"
#include "platform/linux/linux_stop_signals.h"
#include "platform/linux/linux_window_run_claim.h"
#include "platform/linux/privilege_split.h"
#include "platform/qt/qt_datagram_socket.h"
#include "platform/qt/qt_display_probe.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_https_date.h"
#include "platform/qt/qt_shell.h"
#include "platform/qt/qt_socket.h"
#include "platform/qt/qt_window_system.h"
#include "run/entry.h"
#include "run/program_information.h"
#include "log/log.h"
#include "settings/settings.h"

extern char** environ;

namespace vel::platform {
namespace {

// Set for a process of our own that only shows an error's box (see below).
constexpr const char* kErrorBoxVariable = "VELTRANE_ERROR_BOX";

constexpr int kFatalStatus = static_cast<int>(ExitStatus::Fatal);

void ShowCriticalBox(WindowSystem& windows, const std::string& text)
{
    windows.ShowMessageBox(text, "Veltrane", MessageButtons::Ok, MessageIcon::Critical);
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

// Qt's accessibility bridge asks for the session bus when the first window is
// made. Where the environment names none and the user's bus does not lie at
// $XDG_RUNTIME_DIR/bus (where libdbus looks first), libdbus would start one
// with dbus-launch, which outlives the program. An address of no transport
// makes that ask fail at once instead; one set by the user stays.
void NeverAutolaunchASessionBus()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address != nullptr && *address != '\0')
        return;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != '\0') {
        struct stat bus {};
        const std::string path = std::string(runtime) + "/bus";
        if (::stat(path.c_str(), &bus) == 0 && S_ISSOCK(bus.st_mode) && bus.st_uid == ::getuid())
            return;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
}

bool HasDisplay()
{
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    return false;
}

// Where this start's log lies, found without making any folder.
std::string LogFileFor(const std::vector<std::string>& args)
{
    LinuxEnvironment::FolderFacts facts = LinuxEnvironment::GatherFolderFacts(LinuxEnvironment::ExecutableFolder());
    facts.machine = IsMachineMode(args);
    return LinuxEnvironment::ChooseLogFolder(facts) + "/" + kLogFileName;
}

std::string RuntimeFolder()
{
    const char* folder = std::getenv("XDG_RUNTIME_DIR");
    return folder != nullptr ? folder : "";
}

// The desktop ties the windows to the menu entry by its name (the Wayland app
// id; on X11 by WM_CLASS, "veltrane", the menu entry's StartupWMClass).
void NameDesktopEntry()
{
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.veltrane.veltrane"));
}

std::unique_ptr<QCoreApplication> CreateApplication(int& argc, char** argv, bool windows)
{
    if (!windows)
        return std::make_unique<QCoreApplication>(argc, argv);
    NameDesktopEntry();
    auto qt = std::make_unique<QApplication>(argc, argv);
    // The program ends when its run does, never because a box closed.
    QApplication::setQuitOnLastWindowClosed(false);
    return qt;
}

// What this start found of the display.
struct DisplayChoice {
    bool windows = false;     // Qt's windows (a QApplication), else the headless ones
    bool seen = false;        // a person looks at the display
    bool elsewhere = false;   // a display may exist for a process of our own (a quiet run's error box)
    std::string unavailable;  // why a start that would show windows cannot
};

class LinuxHost : public Host {
public:
    LinuxHost(int& argc, char** argv, std::unique_ptr<LinuxEnvironment> environment,
              std::unique_ptr<ProfileFile> profile, DisplayChoice display, std::unique_ptr<ClockPartLink> clockPart)
        : Host(display.unavailable),
          environment_(std::move(environment)),
          profile_(std::move(profile)),
          display_(std::move(display)),
          clockPart_(std::move(clockPart)),
          qt_(CreateApplication(argc, argv, display_.windows)),
          windowRuns_(RuntimeFolder()),
          clock_(IsMachineMode(environment_->Process().arguments), clockPart_.get())
    {
        socket_ = std::make_unique<QtSocket>(pump_);
        httpsDate_ = std::make_unique<QtHttpsDate>(pump_);
        datagram_ = std::make_unique<QtDatagramSocket>(pump_);
        if (display_.windows)
            windowSystem_ = std::make_unique<QtWindowSystem>(pump_, display_.seen);
        else
            windowSystem_ = std::make_unique<HeadlessWindowSystem>(pump_);
    }

    HostParts Get() override
    {
        return {
            Platform{clock_, pump_, *environment_, *profile_, *windowSystem_, *socket_, dialUp_, shell_, *datagram_},
            Fatal(), windowRuns_, *httpsDate_};
    }

    // SIGTERM, SIGINT and SIGHUP close the program from the event loop.
    void OnStopRequest(std::function<void(int number, const std::string& name)> stop) override
    {
        stopSignals_.reset();
        stopSignals_ = std::make_unique<StopSignalWatcher>(std::move(stop));
    }

    // Everything is on disk (the log line by line, the settings file replaced
    // whole). End without waiting for a host lookup that never answered: Qt
    // would otherwise join its lookup thread at exit.
    [[noreturn]] void Exit(int status) override
    {
        // The part that sets the clock ends with the socket; its end is
        // waited for, so none is left behind the program's.
        if (clockPart_)
            clockPart_->Close();
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }

private:
    std::function<void(const std::string& message)> Fatal()
    {
        return [this](const std::string& message) {
            std::fprintf(stderr, "veltrane: %s\n", message.c_str());
            std::fflush(stderr);
            if (windowSystem_->interactive)
                ShowCriticalBox(*windowSystem_, "Veltrane " + message);
            else if (!display_.windows && display_.elsewhere)
                ShowErrorBoxInOwnProcess("Veltrane " + message);
            if (clockPart_)
                clockPart_->Close();
            std::_Exit(kFatalStatus);
        };
    }

    std::unique_ptr<LinuxEnvironment> environment_;
    std::unique_ptr<ProfileFile> profile_;
    DisplayChoice display_;
    std::unique_ptr<ClockPartLink> clockPart_;  // null: this process sets the clock itself
    std::unique_ptr<QCoreApplication> qt_;      // made before every back end below, gone after them
    LinuxWindowRunClaim windowRuns_;
    LinuxClock clock_;
    QtEventPump pump_;
    LinuxDialUp dialUp_;
    QtShell shell_;
    std::unique_ptr<Socket> socket_;
    std::unique_ptr<HttpsDate> httpsDate_;
    std::unique_ptr<DatagramSocket> datagram_;
    std::unique_ptr<WindowSystem> windowSystem_;
    std::unique_ptr<StopSignalWatcher> stopSignals_;
};

}  // namespace

std::unique_ptr<Host> CreatePlatform(int& argc, char** argv, int& exitStatus)
{
    exitStatus = 0;
    if (const char* text = std::getenv(kErrorBoxVariable)) {
        const std::string message = text;
        ::unsetenv(kErrorBoxVariable);
        exitStatus = kFatalStatus;
        NeverAutolaunchASessionBus();
        // Only a box a person can see: any other would wait for ever.
        if (!ProbeDisplay(argc, argv).seen)
            return nullptr;
        NameDesktopEntry();
        QApplication qt(argc, argv);
        QtEventPump pump;
        QtWindowSystem windows(pump);
        ShowCriticalBox(windows, message);
        return nullptr;
    }

    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    // --help or --version anywhere, or an option it does not know: the
    // answer, and no file, window or Qt.
    if (const std::optional<AnswerWithoutRun> answer = AnswerBeforeRun(args, OptionSystem::Linux, LogFileFor(args))) {
        std::FILE* stream = answer->toStandardError ? stderr : stdout;
        std::fputs(answer->text.c_str(), stream);
        exitStatus = std::fflush(stream) == 0 || answer->toStandardError ? answer->status : 1;
        return nullptr;
    }
    auto environment = std::make_unique<LinuxEnvironment>(args, LinuxEnvironment::ExecutableFolder() + "/veltrane");
    auto profile = std::make_unique<LinuxProfileFile>();
    // The machine's settings are root's to change (the service only reads them).
    if (IsMachineMode(args) && WantsConfiguration(*environment) && ::geteuid() != 0) {
        std::fprintf(stderr,
                     "veltrane: only root may change the machine's settings %s: sudo veltrane --machine config\n",
                     SettingsFilePath(*environment).c_str());
        exitStatus = static_cast<int>(ExitStatus::NotPermitted);
        return nullptr;
    }

    // A machine run that may set the clock gives that right to a part of its
    // own before it reads its settings or the network, and keeps none.
    std::unique_ptr<ClockPartLink> clockPart;
    if (IsMachineMode(args) && !WantsConfiguration(*environment) && HoldsClockRight()) {
        std::string error;
        clockPart = ClockPartLink::Split(error);
        if (!clockPart) {
            std::fprintf(stderr, "veltrane: the machine's run could not give up its rights: %s\n", error.c_str());
            exitStatus = kFatalStatus;
            return nullptr;
        }
    }

    // A quiet run needs no display: it makes only a QCoreApplication. With
    // "debug" it may show its box, and where a display opens it does. Qt ends
    // the process where its display cannot start, so a child tries it first;
    // a run that finds none goes on without windows.
    const bool wantsWindows = WantsWindows(*environment, *profile);
    const bool debug = ReadStartOptions(args).debug;
    NeverAutolaunchASessionBus();
    DisplayChoice display;
    display.elsewhere = HasDisplay();
    if (wantsWindows || debug) {
        const DisplayProbe probe = ProbeDisplay(argc, argv);
        display.windows = probe.opened;
        display.seen = probe.seen;
        if (wantsWindows)
            display.unavailable = probe.failure;
    }
    if (!display.windows && WantsConfiguration(*environment)) {
        std::fprintf(
            stderr,
            "veltrane: the configuration dialog needs a display (none could be opened: %s); settings file: %s\n",
            display.unavailable.c_str(), SettingsFilePath(*environment).c_str());
        exitStatus = kFatalStatus;
        return nullptr;
    }
    return std::make_unique<LinuxHost>(argc, argv, std::move(environment), std::move(profile), std::move(display),
                                       std::move(clockPart));
}

}  // namespace vel::platform
