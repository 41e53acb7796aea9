// Veltrane for Windows: sets the PC clock from a Daytime server, once per
// start. A GUI program (no console) on the Win32 back end.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <string>

#include "common/app.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_dialup_networking.h"
#include "platform/win32/win32_environment.h"
#include "platform/win32/win32_event_pump.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_socket.h"
#include "platform/win32/win32_text.h"
#include "platform/win32/win32_windows.h"
#include "run/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    using namespace vel;
    // Links and the system information tool go through the shell.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    platform::Win32Environment env(platform::Win32Environment::ProcessArguments(),
                                   platform::Win32Environment::ExecutableFolder());
    platform::Win32ProfileFile profile;
    // The only place that hands the clock the real setter.
    platform::Win32Clock clock(&platform::SetSystemClock);
    platform::Win32EventPump pump;
    platform::Win32Socket socket(pump);
    platform::Win32DialUpNetworking dialUp(platform::SystemDialUpApi());
    platform::Win32Shell shell;
    platform::Win32WindowSystem windows(pump);

    App app(platform::Platform{clock, pump, env, profile, windows, socket, dialUp, shell});
    app.fatal = [&](const std::string& message) {
        ::MessageBoxW(nullptr, platform::Widen(message).c_str(), L"Veltrane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
        ::ExitProcess(static_cast<UINT>(ExitStatus::Fatal));
    };

    windows.SetFailureHandler([&app](const std::string& message) { app.Fatal(message); });

    const ExitStatus status = RunProgram(app);

    // Everything is on disk (the log line by line, the settings file replaced
    // whole). End without waiting for a host lookup that never answered.
    ::ExitProcess(static_cast<UINT>(status));
}
