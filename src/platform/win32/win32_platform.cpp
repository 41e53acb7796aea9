// The composition root of the Windows build: makes and owns the Win32 back
// ends of one process, and says how the program stops.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/headless/headless_windows.h"
#include "platform/host.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_datagram_socket.h"
#include "platform/win32/win32_dialup_networking.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_event_pump.h"
#include "platform/win32/win32_https_date.h"
#include "platform/win32/win32_machine.h"
#include "platform/win32/win32_privilege_split.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_socket.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_window_run_claim.h"
#include "platform/win32/win32_windows.h"
#include "app/app.h"
#include "common/command_line.h"
#include "common/machine_mode.h"
#include "log/log.h"
#include "run/entry.h"
#include "run/program_information.h"
#include "settings/settings.h"

namespace vel::platform {

namespace {

constexpr int kFatalStatus = 5;

// Why no window can be made here (a session without a desktop, Wine without
// a display); empty when one can.
std::string WindowFailure()
{
    const HWND probe = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                         ::GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr) {
        // Wine without a display fails without a reason.
        const DWORD error = ::GetLastError();
        return error != 0 ? "no window can be created: " + SystemErrorText(error) : "no window can be created";
    }
    ::DestroyWindow(probe);
    return {};
}

// Whether a person sees this process's windows: not so in a task that runs
// whether or not the user is logged on, or in a service.
bool WindowStationIsVisible()
{
    USEROBJECTFLAGS flags{};
    DWORD size = 0;
    if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &size))
        return true;  // as before, where the system cannot say
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

// The machine's run, a user's run of the copy installed for all users, or a
// run of the user's own copy: each keeps its files in a folder of its own.
win32::RunKind ThisRunsKind()
{
    return RunKindOf(Win32Environment::ProcessArguments(), Win32Environment::ExecutableFolder());
}

// This program's own file.
std::wstring ProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

class Win32Host : public Host {
public:
    // setter: what sets the clock for this process (SetSystemClock, or the
    // part of the machine's run that holds the right).
    explicit Win32Host(ClockSetter setter)
        : Host(WindowFailure()),
          env_(Win32Environment::ProcessArguments(),
               ProgramFolderFor(ThisRunsKind(), Win32Environment::ExecutableFolder())),
          clock_(std::move(setter), win32::ClockRightFix(ThisRunsKind())),
          socket_(pump_),
          httpsDate_(pump_),
          datagram_(pump_),
          dialUp_(SystemDialUpApi()),
          windowRuns_(pump_)
    {
        // Without windows the run goes on as a quiet one, its status window
        // kept in memory.
        if (WindowsUnavailable().empty())
            windows_ = std::make_unique<Win32WindowSystem>(pump_, WindowStationIsVisible());
        else
            windows_ = std::make_unique<HeadlessWindowSystem>(pump_);
    }

    HostParts Get() override
    {
        // The fatal handler also stops the program when a window cannot be made.
        auto fatal = [this](const std::string& message) {
            std::fprintf(stderr, "veltrane: %s\n", message.c_str());
            std::fflush(stderr);
            if (windows_->interactive)
                ::MessageBoxW(nullptr, Widen("Veltrane " + message).c_str(), L"Veltrane",
                              MB_OK | MB_ICONERROR | MB_TASKMODAL);
            ::ExitProcess(static_cast<UINT>(kFatalStatus));
        };
        windows_->SetFailureHandler(fatal);
        return {Platform{clock_, pump_, env_, profile_, *windows_, socket_, dialUp_, shell_, datagram_}, fatal,
                windowRuns_, httpsDate_};
    }

    // Windows asks a program to end by closing its windows; the status window
    // takes that as a close request of its own.
    void OnStopRequest(std::function<void(int number, const std::string& name)>) override {}

    [[noreturn]] void Exit(int status) override
    {
        // Everything is on disk (the log line by line, the settings file
        // replaced whole). End without waiting for a host lookup that never
        // answered.
        ::ExitProcess(static_cast<UINT>(status));
    }

    Win32Environment& Environment() { return env_; }

private:
    Win32Environment env_;
    Win32ProfileFile profile_;
    Win32Clock clock_;
    Win32EventPump pump_;
    Win32Socket socket_;
    Win32HttpsDate httpsDate_;
    Win32DatagramSocket datagram_;
    Win32DialUpNetworking dialUp_;
    Win32Shell shell_;
    Win32WindowRunClaim windowRuns_;
    std::unique_ptr<WindowSystem> windows_;
};

}  // namespace

std::unique_ptr<Host> CreatePlatform(int&, char**, int& exitStatus)
{
    exitStatus = 0;
    // Links, the system information tool and a start as administrator go
    // through the shell.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    const std::vector<std::string> args = Win32Environment::ProcessArguments();
    // --help, --version and an option it does not know: the answer, on the
    // standard stream where whoever started it looks, and in a box where a
    // person can see one (a GUI program has no console); nothing else.
    const std::string logFile =
        win32::ChooseProgramFolder(ThisRunsKind(), KnownFolders(Win32Environment::ExecutableFolder())) + "\\" +
        kLogFileName;
    if (const std::optional<AnswerWithoutRun> answer = AnswerBeforeRun(args, OptionSystem::Windows, logFile)) {
        std::FILE* stream = answer->toStandardError ? stderr : stdout;
        std::fputs(answer->text.c_str(), stream);
        std::fflush(stream);
        if (WindowFailure().empty() && WindowStationIsVisible())
            ::MessageBoxW(nullptr, Widen(answer->text).c_str(), L"Veltrane",
                          MB_OK | MB_TASKMODAL | (answer->toStandardError ? MB_ICONERROR : MB_ICONINFORMATION));
        exitStatus = answer->status;
        return nullptr;
    }
    // The installers' own commands: done before anything else is made.
    if (const std::optional<int> status = RunInstallerCommand(args)) {
        exitStatus = *status;
        return nullptr;
    }
    if (win32::StartsAgainAsAdministrator(args, IsElevated())) {
        exitStatus = StartElevated(args);
        return nullptr;
    }
    // The only place that hands the clock the real setter. A machine run that
    // may set the clock leaves that right to a part of its own, before it
    // reads its settings or the network (win32_privilege_split.h).
    ClockSetter setter = &SetSystemClock;
    if (std::shared_ptr<Win32ClockPartLink> part = Win32ClockPartLink::FromEnvironment()) {
        std::string error;
        if (!RemovePrivilegesBut(nullptr, error)) {
            std::fprintf(stderr, "veltrane: the machine's run could not give up its rights: %s\n", error.c_str());
            std::fflush(stderr);
            exitStatus = kFatalStatus;
            return nullptr;
        }
        setter = [part](const UtcInstant& instant) { return part->StepSystemClock(instant - SystemClockNow()); };
    } else if (IsMachineMode(args) && !ReadStartOptions(args).configuration && HoldsSystemTimePrivilege()) {
        std::string error;
        const int status = RunAsClockPart(ProgramPath(), ::GetCommandLineW(), &SetSystemClock, true, error);
        if (status >= 0) {
            exitStatus = status;
            return nullptr;
        }
        // No part of its own: this process goes on without the right, and
        // every setting says why.
        std::string kept;
        RemovePrivilegesBut(nullptr, kept);
        setter = [error](const UtcInstant&) {
            return ClockSetResult{false, ERROR_ACCESS_DENIED,
                                  "the part of the program that sets the clock could not be started: " + error};
        };
    }
    auto host = std::make_unique<Win32Host>(std::move(setter));
    if (!host->WindowsUnavailable().empty() && WantsConfiguration(host->Environment())) {
        std::fprintf(stderr, "veltrane: the configuration dialog needs a desktop (%s); settings file: %s\n",
                     host->WindowsUnavailable().c_str(), SettingsFilePath(host->Environment()).c_str());
        std::fflush(stderr);
        exitStatus = kFatalStatus;
        return nullptr;
    }
    return host;
}

}  // namespace vel::platform
