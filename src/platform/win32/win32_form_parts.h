// What the Win32 form's files share: the layout's constants and small helpers
// over the Windows API. Only for src/platform/win32/win32_*.cpp.
#pragma once

#include <windows.h>

#include <string>

#include "platform/win32/win32_windows.h"

namespace vel::platform::win32_form_parts {

constexpr wchar_t kFormClass[] = L"VeltraneForm";
// The layouts were drawn for 8-point MS Sans Serif; Microsoft Sans Serif is
// its scalable successor, with the same widths.
constexpr wchar_t kLayoutFace[] = L"MS Sans Serif";
constexpr wchar_t kSuccessorFace[] = L"Microsoft Sans Serif";
constexpr int kFontPoints = 8;
constexpr int kFirstControlId = 1000;  // clear of IDOK, IDCANCEL and the like
constexpr UINT_PTR kSubclassId = 1;
constexpr int kDropDownItems = 8;  // rows a drop-down list shows when open

// No WS_EX_APPWINDOW: a window that nothing owns has its task bar button
// anyway, and a modal one, owned by the window it was opened from, has none.
inline DWORD FormStyle(const FormSpec& spec)
{
    return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (spec.resizable ? WS_THICKFRAME : 0);
}

inline DWORD FormExStyle(const FormSpec& spec)
{
    return spec.resizable ? 0 : WS_EX_DLGMODALFRAME;
}

inline bool IsFocusable(ControlKind kind)
{
    switch (kind) {
        case ControlKind::TextBox:
        case ControlKind::Button:
        case ControlKind::ComboBox:
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            return true;
        default:
            return false;
    }
}

// Functions of newer systems, where there are any.
template <typename Function>
inline Function User32Function(const char* name)
{
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

inline int WindowDpi(HWND window)
{
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpi != nullptr && window != nullptr)
        if (const UINT dpi = getDpi(window); dpi > 0)
            return static_cast<int>(dpi);
    const HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

inline RECT FrameFor(const FormSpec& spec, int clientWidth, int clientHeight, int dpi)
{
    RECT rect{0, 0, clientWidth, clientHeight};
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    const DWORD style = FormStyle(spec);
    const DWORD exStyle = FormExStyle(spec);
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        ::AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

inline std::wstring WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
}

inline int CALLBACK NoteFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Whether the system has the face itself (not merely a stand-in for it).
inline bool FontInstalled(const wchar_t* face)
{
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
    bool found = false;
    const HDC screen = ::GetDC(nullptr);
    ::EnumFontFamiliesExW(screen, &wanted, &NoteFont, reinterpret_cast<LPARAM>(&found), 0);
    if (found) {
        const HFONT font = ::CreateFontIndirectW(&wanted);
        const HGDIOBJ old = ::SelectObject(screen, font);
        wchar_t selected[LF_FACESIZE] = {};
        ::GetTextFaceW(screen, LF_FACESIZE, selected);
        found = ::lstrcmpiW(selected, face) == 0;
        ::SelectObject(screen, old);
        ::DeleteObject(font);
    }
    ::ReleaseDC(nullptr, screen);
    return found;
}

inline HCURSOR MakeCursor(const CursorImage& image)
{
    const CursorPlanes planes = ToCursorPlanes(image);
    return ::CreateCursor(::GetModuleHandleW(nullptr), image.hotX, image.hotY, 32, 32, planes.andPlane.data(),
                          planes.xorPlane.data());
}

}  // namespace vel::platform::win32_form_parts
