// A Win32 form's messages: the window procedure, the controls' own, commands,
// and the events handed to the form's handler.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_form_parts.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

using namespace win32_form_parts;

LRESULT CALLBACK Win32Form::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* form = reinterpret_cast<Win32Form*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (form != nullptr && form->window_ == window)
        return form->Handle(message, wParam, lParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32Form::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
        case WM_ACTIVATE:
            if (LOWORD(wParam) == WA_INACTIVE) {
                // Keep the focus for the next activation.
                if (const std::string focused = FocusedControl(); !focused.empty())
                    focus_ = focused;
                active_ = false;
                return 0;
            }
            if (HIWORD(wParam) == 0)  // not minimised
                FocusFirstControl();
            DeliverActivation();
            return 0;
        case WM_CLOSE:
            // The close box, Alt+F4, the task bar: a close request, never refused.
            if (visible_)
                Close();
            return 0;
        case WM_ENDSESSION:
            if (wParam != FALSE && visible_)
                Close();
            return 0;
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case DM_GETDEFID: {
            // Enter presses the focused button, else the window's default one.
            const HWND focus = ::GetFocus();
            for (const auto& [name, state] : controls_)
                if (state.spec->kind == ControlKind::Button && state.window == focus && ::IsWindowEnabled(focus))
                    return MAKELRESULT(state.id, DC_HASDEFID);
            for (const auto& [name, state] : controls_)
                if (state.spec->kind == ControlKind::Button && state.spec->isDefault && ::IsWindowEnabled(state.window))
                    return MAKELRESULT(state.id, DC_HASDEFID);
            return 0;
        }
        case WM_CTLCOLORSTATIC: {
            const HWND control = reinterpret_cast<HWND>(lParam);
            for (const auto& [name, state] : controls_) {
                if (state.window != control)
                    continue;
                const HDC dc = reinterpret_cast<HDC>(wParam);
                if (state.spec->kind == ControlKind::Label) {
                    // Only the text: the window has painted the background.
                    ::SetTextColor(dc, state.hasColour ? state.colour : ::GetSysColor(COLOR_WINDOWTEXT));
                    ::SetBkMode(dc, TRANSPARENT);
                    return reinterpret_cast<LRESULT>(::GetStockObject(NULL_BRUSH));
                }
                if (state.hasColour) {
                    ::SetTextColor(dc, state.colour);
                    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
                    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
                }
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

LRESULT CALLBACK Win32Form::ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR)
{
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(window, &Win32Form::ControlProcedure, kSubclassId);
        return ::DefSubclassProc(window, message, wParam, lParam);
    }
    Win32Form* form = FromWindow(::GetParent(window));
    if (form != nullptr)
        if (ControlState* state = form->ById(::GetDlgCtrlID(window)); state != nullptr && state->window == window)
            return form->HandleControl(*state, window, message, wParam, lParam);
    return ::DefSubclassProc(window, message, wParam, lParam);
}

LRESULT Win32Form::HandleControl(ControlState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const ControlSpec& control = *state.spec;
    switch (message) {
        case WM_ERASEBKGND:
            if (control.kind == ControlKind::Frame) {
                // A group box paints only its border and caption; the form does not
                // paint under its children: the frame fills its inside itself.
                RECT rect;
                ::GetClientRect(window, &rect);
                ::FillRect(reinterpret_cast<HDC>(wParam), &rect, ::GetSysColorBrush(COLOR_BTNFACE));
                return TRUE;
            }
            break;
        case WM_MOUSEMOVE:
            if (control.kind == ControlKind::Label) {
                const std::string name = control.name;
                const std::shared_ptr<bool> alive = alive_;
                DeliverMouseMove(name);
                if (!*alive)
                    return 0;
            }
            break;
        case WM_GETDLGCODE:
            if (control.kind == ControlKind::TextBox && control.multiLine) {
                // Tab moves on and Enter belongs to the window, as in a one-line box.
                const LRESULT code = ::DefSubclassProc(window, message, wParam, lParam);
                const auto* msg = reinterpret_cast<const MSG*>(lParam);
                if (msg != nullptr && msg->message == WM_KEYDOWN &&
                    (msg->wParam == VK_TAB || msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
                    return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB | DLGC_WANTMESSAGE);
                return code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
            }
            break;
        case WM_CHAR: {
            if (control.kind != ControlKind::TextBox || handler_ == nullptr)
                break;
            int code = static_cast<int>(wParam);
            // Control characters other than Backspace (Enter, Tab, Ctrl+V, ...)
            // are no typed characters.
            if ((code < 32 && code != kKeyBackspace) || code == 127)
                break;
            const std::string name = control.name;
            const std::shared_ptr<bool> alive = alive_;
            Dispatch([&](FormEvents& handler) { handler.OnKeyPress(name, code); });
            if (!*alive)
                return 0;
            if (code == 0)
                return 0;  // swallowed
            return ::DefSubclassProc(window, message, static_cast<WPARAM>(code), lParam);
        }
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

Win32Form::ControlState* Win32Form::ById(int id)
{
    for (auto& [name, state] : controls_)
        if (state.id == id)
            return &state;
    return nullptr;
}

void Win32Form::Command(int id, int code)
{
    if (id == IDOK || id == IDCANCEL) {
        // Enter or Escape from the dialog manager (IsDialogMessage).
        PressDefaultButton(id == IDCANCEL);
        return;
    }
    ControlState* state = ById(id);
    // A disabled control takes no click, whoever sends it.
    if (state == nullptr || state->window == nullptr || !::IsWindowEnabled(state->window))
        return;
    const std::string name = state->spec->name;
    switch (state->spec->kind) {
        case ControlKind::Button:
        case ControlKind::CheckBox:
            if (code == BN_CLICKED)
                DeliverClick(name);
            break;
        case ControlKind::OptionButton:
            if (code == BN_CLICKED || code == BN_DOUBLECLICKED) {
                SelectOption(*state);
                DeliverClick(name);
            }
            break;
        case ControlKind::Label:
            if (code == STN_CLICKED)
                DeliverClick(name);
            break;
        case ControlKind::ComboBox:
            if (code == CBN_SELCHANGE)
                system_.pump_.Wake();
            break;
        default:
            break;
    }
}

void Win32Form::SelectOption(ControlState& state)
{
    ::SendMessageW(state.window, BM_SETCHECK, BST_CHECKED, 0);
    for (auto& [name, other] : controls_)
        if (&other != &state && other.spec->kind == ControlKind::OptionButton &&
            other.spec->parent == state.spec->parent)
            ::SendMessageW(other.window, BM_SETCHECK, BST_UNCHECKED, 0);
}

bool Win32Form::PressDefaultButton(bool cancel)
{
    for (const auto& control : spec_.controls) {
        if (control.kind != ControlKind::Button || !(cancel ? control.isCancel : control.isDefault))
            continue;
        const HWND button = At(control.name).window;
        if (::IsWindowEnabled(button) && ::IsWindowVisible(button)) {
            // As a click, but the focus stays where it is.
            DeliverClick(control.name);
            return true;
        }
    }
    return false;
}

template <typename Call>
void Win32Form::Dispatch(Call call)
{
    Win32EventPump& pump = system_.pump_;
    const std::shared_ptr<bool> alive = alive_;
    if (handler_ != nullptr) {
        ++dispatching_;
        call(*handler_);
        if (*alive)
            --dispatching_;
    }
    pump.Wake();
}

void Win32Form::DeliverActivation()
{
    if (!visible_ || active_)
        return;
    active_ = true;
    system_.Activated(this);
    Dispatch([](FormEvents& handler) { handler.OnActivate(); });
}

void Win32Form::DeliverClick(const std::string& control)
{
    Dispatch([&control](FormEvents& handler) { handler.OnClick(control); });
}

void Win32Form::DeliverMouseMove(const std::string& control)
{
    Dispatch([&control](FormEvents& handler) { handler.OnMouseMove(control); });
}

void Win32Form::FocusFirstControl()
{
    std::string target = focus_;
    if (target.empty() || At(target).window == nullptr || !::IsWindowEnabled(At(target).window)) {
        target.clear();
        for (const ControlSpec* control : CreationOrder(spec_.controls))
            if (IsFocusable(control->kind) && control->tabIndex >= 0 && ::IsWindowEnabled(At(control->name).window)) {
                target = control->name;
                break;
            }
    }
    if (!target.empty())
        ::SetFocus(At(target).window);
}

}  // namespace vel::platform
