// The composition root of the Windows build: makes and owns the Win32 back
// ends of one process, and says how the program stops.
#include <windows.h>
#include <objbase.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_dialup_networking.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_event_pump.h"
#include "platform/win32/win32_machine.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_socket.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"

namespace vel::platform {

namespace {

constexpr int kFatalStatus = 5;

// The machine's run, a user's run of the copy installed for all users, or a
// run of the user's own copy: each keeps its files in a folder of its own.
win32::RunKind ThisRunsKind()
{
    return RunKindOf(Win32Environment::ProcessArguments(), Win32Environment::ExecutableFolder());
}

class Win32Host : public Host {
public:
    Win32Host()
        : env_(Win32Environment::ProcessArguments(),
               ProgramFolderFor(ThisRunsKind(), Win32Environment::ExecutableFolder())),
          // The only place that hands the clock the real setter.
          clock_(&SetSystemClock, win32::ClockRightFix(ThisRunsKind())),
          socket_(pump_),
          dialUp_(SystemDialUpApi()),
          windows_(pump_)
    {}

    Platform Get() override { return Platform{clock_, pump_, env_, profile_, windows_, socket_, dialUp_, shell_}; }

    std::function<void(const std::string& message)> FatalHandler() override
    {
        // Also what stops the program when a window cannot be made.
        auto handler = [](const std::string& message) {
            ::MessageBoxW(nullptr, Widen("Veltrane " + message).c_str(), L"Veltrane",
                          MB_OK | MB_ICONERROR | MB_TASKMODAL);
            ::ExitProcess(static_cast<UINT>(kFatalStatus));
        };
        windows_.SetFailureHandler(handler);
        return handler;
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

private:
    Win32Environment env_;
    Win32ProfileFile profile_;
    Win32Clock clock_;
    Win32EventPump pump_;
    Win32Socket socket_;
    Win32DialUpNetworking dialUp_;
    Win32Shell shell_;
    Win32WindowSystem windows_;
};

}  // namespace

std::unique_ptr<Host> CreatePlatform(int&, char**, int& exitStatus)
{
    // Links, the system information tool and a start as administrator go
    // through the shell.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    const std::vector<std::string> args = Win32Environment::ProcessArguments();
    // The installers' own commands: done before anything else is made.
    if (const std::optional<int> status = RunInstallerCommand(args)) {
        exitStatus = *status;
        return nullptr;
    }
    if (win32::StartsAgainAsAdministrator(args, IsElevated())) {
        exitStatus = StartElevated(args);
        return nullptr;
    }
    return std::make_unique<Win32Host>();
}

}  // namespace vel::platform
