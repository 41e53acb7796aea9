// The Win32 window system: the keys the forms take, message boxes and the
// pointer.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_text.h"

namespace vel::platform {

// The window system

Win32WindowSystem::Win32WindowSystem(Win32EventPump& pump, bool seen) : WindowSystem(pump, seen), pump_(pump)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    // Tab, the arrows, the access keys, Enter and Escape in every window of ours.
    pump_.SetMessageFilter([this](MSG& msg) { return FilterMessage(msg); });
}

Win32WindowSystem::~Win32WindowSystem()
{
    pump_.SetMessageFilter(nullptr);
    if (custom_ != nullptr)
        ::DestroyCursor(custom_);
}

// Tab and the arrows on an option button are the form's; the dialog manager
// keeps Enter, Escape and the access keys.
bool Win32WindowSystem::FilterMessage(MSG& msg)
{
    const Win32Window* window = Win32Window::FromWindow(msg.hwnd);
    if (window == nullptr || window->Owner() == nullptr || !::IsWindowVisible(window->Window()))
        return false;
    const bool pressed = msg.message == WM_KEYDOWN && (::GetKeyState(VK_CONTROL) & 0x8000) == 0 &&
                         (::GetKeyState(VK_MENU) & 0x8000) == 0;
    if (pressed && msg.wParam == VK_TAB) {
        window->Owner()->NativeKey((::GetKeyState(VK_SHIFT) & 0x8000) != 0 ? FormKey::BackTab : FormKey::Tab);
        return true;
    }
    if (pressed && (msg.wParam == VK_UP || msg.wParam == VK_LEFT || msg.wParam == VK_DOWN || msg.wParam == VK_RIGHT) &&
        window->Owner()->NativeKey(msg.wParam == VK_UP || msg.wParam == VK_LEFT ? FormKey::Previous : FormKey::Next))
        return true;
    return ::IsDialogMessageW(window->Window(), &msg) != FALSE;
}

MessageResult Win32WindowSystem::NativeMessageBox(const std::string& text, const std::string& title,
                                                  MessageButtons buttons, MessageIcon icon, NativeWindow* owner)
{
    UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
    type |= icon == MessageIcon::Question ? MB_ICONQUESTION : icon == MessageIcon::Critical ? MB_ICONERROR : 0;
    // Without a window of ours to own it, the box still disables them all.
    type |= MB_SETFOREGROUND | (owner == nullptr ? MB_TASKMODAL : 0);
    const HWND window = owner != nullptr ? static_cast<Win32Window*>(owner)->Window() : nullptr;
    const int answer = ::MessageBoxW(window, Widen(text).c_str(), Widen(title).c_str(), type);
    if (buttons == MessageButtons::Ok)
        return MessageResult::Ok;
    return answer == IDYES ? MessageResult::Yes : MessageResult::No;
}

void Win32WindowSystem::NativePointer(PointerShape shape, const CursorImage* custom)
{
    switch (shape) {
        case PointerShape::Default:
            cursor_ = nullptr;
            break;
        case PointerShape::Busy:
            cursor_ = ::LoadCursorW(nullptr, IDC_APPSTARTING);  // the arrow with the hourglass
            break;
        case PointerShape::Custom:
            if (custom == nullptr) {
                cursor_ = ::LoadCursorW(nullptr, IDC_ARROW);
                break;
            }
            if (!customImage_ || customImage_->image != custom->image || customImage_->mask != custom->mask ||
                customImage_->hotX != custom->hotX || customImage_->hotY != custom->hotY) {
                const HCURSOR old = custom_;
                const CursorPlanes planes = ToCursorPlanes(*custom);
                custom_ = ::CreateCursor(::GetModuleHandleW(nullptr), custom->hotX, custom->hotY, 32, 32,
                                         planes.andPlane.data(), planes.xorPlane.data());
                customImage_ = *custom;
                if (old != nullptr && ::GetCursor() == old)
                    ::SetCursor(custom_);  // before the old one goes
                if (old != nullptr)
                    ::DestroyCursor(old);
            }
            cursor_ = custom_;
            break;
    }
    // Shown at once where the mouse is over a window of ours.
    POINT point;
    if (::GetCursorPos(&point)) {
        const Win32Window* under = Win32Window::FromWindow(::WindowFromPoint(point));
        if (under != nullptr && ::IsWindowVisible(under->Window()))
            ::SetCursor(cursor_ != nullptr ? cursor_ : ::LoadCursorW(nullptr, IDC_ARROW));
    }
}

}  // namespace vel::platform
