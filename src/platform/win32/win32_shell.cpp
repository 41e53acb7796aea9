#include "platform/win32/win32_shell.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/win32/win32_text.h"

namespace vel::platform {

bool Win32Shell::Open(const std::string& target)
{
    // The shell takes a web address only with its scheme (or "www.").
    const std::string address = WebAddressOf(target).value_or(target);
    const HINSTANCE result = ::ShellExecuteW(nullptr, nullptr, Widen(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;  // 32 or less: an error's number
}

}  // namespace vel::platform
