// Entry names compared as lstrcmpi compares them: the user's locale, without
// regard to case.
#include <windows.h>

#include <string>

#include "platform/win32/win32_dialup_networking.h"

namespace vel::platform {

namespace {

// UTF-16 of a valid UTF-8 text; nothing for a broken one.
bool ToUtf16(const std::string& text, std::wstring& wide)
{
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) == length;
}

}  // namespace

bool Win32DialUpNetworking::SameEntryNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    // Two different broken names would both become replacement characters.
    std::wstring first, second;
    if (!ToUtf16(a, first) || !ToUtf16(b, second))
        return false;
    return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, first.data(), static_cast<int>(first.size()),
                            second.data(), static_cast<int>(second.size())) == CSTR_EQUAL;
}

}  // namespace vel::platform
