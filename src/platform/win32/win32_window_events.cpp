// The Win32 window system: what a form's native window paints, and the
// messages of the window and its controls, reported to the form.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "platform/win32/win32_text.h"

namespace vel::platform {

// Painting

void Win32Window::Paint()
{
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window_, &paint);
    for (const auto& control : spec_.controls) {
        if (control.kind != ControlKind::Line)
            continue;
        RECT rect = ControlRect(control);
        rect.bottom = rect.top + std::max(1, control.lineWidth);
        const HBRUSH brush = ::CreateSolidBrush(control.lineColour);
        ::FillRect(dc, &rect, brush);
        ::DeleteObject(brush);
    }
    ::EndPaint(window_, &paint);
}

void Win32Window::DrawPicture(const DRAWITEMSTRUCT& item)
{
    const RECT& rect = item.rcItem;
    const int size = std::min(rect.right - rect.left, rect.bottom - rect.top);
    if (icon_ == nullptr || ::GetSystemMetrics(SM_CXICON) != size) {
        if (icon_ != nullptr)
            ::DestroyIcon(icon_);
        icon_ = static_cast<HICON>(
            ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0));
    }
    ::FillRect(item.hDC, &rect, ::GetSysColorBrush(COLOR_BTNFACE));
    const HICON icon = icon_ != nullptr ? icon_ : ::LoadIconW(nullptr, IDI_APPLICATION);
    ::DrawIconEx(item.hDC, rect.left, rect.top, icon, size, size, 0, nullptr, DI_NORMAL);
}

// A label paints only its text: the window erases the old one under it.
void Win32Window::RepaintLabel(int control)
{
    if (SpecOf(control).kind != ControlKind::Label)
        return;
    RECT rect;
    ::GetWindowRect(At(control), &rect);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    ::RedrawWindow(window_, &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// Messages

LRESULT CALLBACK Win32Window::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && self->window_ == window)
        return self->Handle(message, wParam, lParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_ACTIVATE:
            if (form_ != nullptr && LOWORD(wParam) == WA_INACTIVE)
                form_->NativeDeactivated();
            else if (form_ != nullptr)
                form_->NativeActivated();
            return 0;
        case WM_CLOSE:  // the close box, Alt+F4, the task bar: a close request, never refused
        case WM_ENDSESSION:
            if (form_ != nullptr && (message == WM_CLOSE || wParam != FALSE))
                form_->NativeCloseRequest();
            return 0;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_CTLCOLORSTATIC: {
            const auto control =
                static_cast<std::size_t>(::GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) - kFirstControlId);
            if (control >= controls_.size())
                break;
            const HDC dc = reinterpret_cast<HDC>(wParam);
            const std::optional<Colour> colour =
                form_ != nullptr ? form_->StateOf(static_cast<int>(control)).colour : std::nullopt;
            if (spec_.controls[control].kind == ControlKind::Label) {
                // Only the text: the window has painted the background.
                ::SetTextColor(dc, colour.value_or(::GetSysColor(COLOR_WINDOWTEXT)));
                ::SetBkMode(dc, TRANSPARENT);
                return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
            }
            if (colour) {
                ::SetTextColor(dc, *colour);
                ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
                return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
            }
            break;
        }
        case WM_SETCURSOR:
            if (LOWORD(lParam) == HTCLIENT && system_.CurrentCursor() != nullptr) {
                ::SetCursor(system_.CurrentCursor());
                return TRUE;
            }
            break;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlType == ODT_STATIC) {
                DrawPicture(*item);
                return TRUE;
            }
            break;
        }
        case WM_DPICHANGED: {
            dpi_ = HIWORD(wParam);
            Layout();
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            break;
    }
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void Win32Window::Command(int id, int code)
{
    if (form_ == nullptr)
        return;
    if (id == IDOK || id == IDCANCEL) {
        // Enter or Escape from the dialog manager (IsDialogMessage).
        form_->NativeKey(id == IDCANCEL ? FormKey::Escape : FormKey::Enter);
        return;
    }
    const int control = id - kFirstControlId;
    if (control < 0 || control >= static_cast<int>(controls_.size()))
        return;
    const ControlKind kind = SpecOf(control).kind;
    if (kind == ControlKind::ComboBox && code == CBN_SELCHANGE)
        form_->NativeSelected(control, static_cast<int>(::SendMessageW(At(control), CB_GETCURSEL, 0, 0)));
    else if ((kind == ControlKind::Button || kind == ControlKind::CheckBox || kind == ControlKind::OptionButton)
                 ? code == BN_CLICKED || (kind == ControlKind::OptionButton && code == BN_DOUBLECLICKED)
                 : kind == ControlKind::Label && code == STN_CLICKED)
        form_->NativeClick(control);
}

LRESULT CALLBACK Win32Window::ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR)
{
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, &Win32Window::ControlProcedure, kSubclassId);
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    Win32Window* self = FromWindow(window);
    const int control = ::GetDlgCtrlID(window) - kFirstControlId;
    if (self != nullptr && control >= 0 && control < static_cast<int>(self->controls_.size()) &&
        self->At(control) == window)
        return self->HandleControl(control, window, message, wParam, lParam);
    return ::DefSubclassProc(window, message, wParam, lParam);
}

LRESULT CALLBACK Win32Window::EditProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR control)
{
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, &Win32Window::EditProcedure, kEditSubclassId);
    } else if (message == WM_SETFOCUS) {
        Win32Window* self = FromWindow(window);
        if (self != nullptr && self->form_ != nullptr)
            self->form_->NativeFocus(static_cast<int>(control));
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

LRESULT Win32Window::HandleControl(int index, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const ControlSpec& control = SpecOf(index);
    switch (message) {
        case WM_ERASEBKGND:
            if (control.kind == ControlKind::Frame) {
                // A group box paints only its border and caption; the window does
                // not paint under its children: the frame fills its inside itself.
                RECT rect;
                ::GetClientRect(window, &rect);
                ::FillRect(reinterpret_cast<HDC>(wParam), &rect, ::GetSysColorBrush(COLOR_BTNFACE));
                return TRUE;
            }
            break;
        case WM_SETFOCUS:
            if (form_ != nullptr)
                form_->NativeFocus(index);
            break;
        case WM_MOUSEMOVE:
            if (control.kind == ControlKind::Label && form_ != nullptr)
                form_->NativeMouseMove(index);
            break;
        case WM_GETDLGCODE:
            if (control.kind == ControlKind::TextBox && control.multiLine) {
                // Enter and Escape belong to the window, as in a one-line box.
                const LRESULT code = ::DefSubclassProc(window, message, wParam, lParam);
                const auto* msg = reinterpret_cast<const MSG*>(lParam);
                if (msg != nullptr && msg->message == WM_KEYDOWN &&
                    (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
                    return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
                return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
            }
            break;
        case WM_CHAR: {
            int code = static_cast<int>(wParam);
            // Control characters other than Backspace (Enter, Tab, Ctrl+V, ...)
            // are no typed characters.
            if (control.kind != ControlKind::TextBox || form_ == nullptr || (code < 32 && code != kKeyBackspace) ||
                code == 127)
                break;
            code = form_->NativeKeyPress(index, code);
            if (form_ == nullptr || code == 0)
                return 0;  // gone, or swallowed
            return ::DefSubclassProc(window, message, static_cast<WPARAM>(code), lParam);
        }
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace vel::platform
