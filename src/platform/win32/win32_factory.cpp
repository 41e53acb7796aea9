#include "platform/factory.h"

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_dialup_networking.h"
#include "platform/win32/win32_event_pump.h"
#include "platform/win32/win32_profile_file.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_socket.h"
#include "platform/win32/win32_windows.h"

namespace vel::platform {

std::unique_ptr<Clock> CreateSystemClock()
{
    return std::make_unique<Win32Clock>(&SetSystemClock);
}

std::unique_ptr<ProfileFile> CreateProfileFile()
{
    return std::make_unique<Win32ProfileFile>();
}

std::unique_ptr<DialUpNetworking> CreateDialUpNetworking()
{
    return std::make_unique<Win32DialUpNetworking>(SystemDialUpApi());
}

std::unique_ptr<EventPump> CreateEventPump()
{
    return std::make_unique<Win32EventPump>();
}

// The Win32 socket and windows need the Win32 pump.
std::unique_ptr<Socket> CreateSocket(EventPump& pump)
{
    return std::make_unique<Win32Socket>(dynamic_cast<Win32EventPump&>(pump));
}

std::unique_ptr<WindowSystem> CreateWindowSystem(EventPump& pump)
{
    return std::make_unique<Win32WindowSystem>(dynamic_cast<Win32EventPump&>(pump));
}

std::unique_ptr<Shell> CreateShell()
{
    return std::make_unique<Win32Shell>();
}

}  // namespace vel::platform
