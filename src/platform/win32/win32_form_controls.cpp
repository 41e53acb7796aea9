// A Win32 form's controls by name: text, state, lists, colours, pointer, focus.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_form_parts.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

using namespace win32_form_parts;

void Win32Form::SetTitle(const std::string& title)
{
    ::SetWindowTextW(window_, Widen(title).c_str());
}

std::string Win32Form::Title() const
{
    return Narrow(WindowText(window_));
}

void Win32Form::Refresh(const std::string& control)
{
    HWND target = window_;
    if (!control.empty()) {
        const ControlState& state = At(control);
        if (state.window == nullptr) {
            ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            return;
        }
        target = state.window;
    }
    ::RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Win32Form::SetText(const std::string& control, const std::string& text)
{
    ControlState& state = At(control);
    switch (state.spec->kind) {
        case ControlKind::TextBox:
            if (state.spec->multiLine) {
                state.multiLineText = text;
                state.multiLineShown = Widen(ToWindowsLineEnds(text));
                ::SetWindowTextW(state.window, state.multiLineShown.c_str());
                state.multiLineShown = WindowText(state.window);
                return;
            }
            ::SetWindowTextW(state.window, Widen(text).c_str());
            return;
        case ControlKind::ComboBox: {
            // A pick-only list takes a text only by selecting that item.
            const int count = ItemCount(control);
            for (int i = 0; i < count; ++i)
                if (ItemText(control, i) == text) {
                    SetSelectedIndex(control, i);
                    return;
                }
            return;
        }
        case ControlKind::Picture:
        case ControlKind::Line:
            state.caption = text;
            return;
        default:
            ::SetWindowTextW(state.window, Widen(text).c_str());
            RepaintLabel(state);
            return;
    }
}

// A label paints only its text: the window erases the old one under it.
void Win32Form::RepaintLabel(const ControlState& state)
{
    if (state.spec->kind != ControlKind::Label || state.window == nullptr)
        return;
    RECT rect;
    ::GetWindowRect(state.window, &rect);
    ::MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&rect), 2);
    ::RedrawWindow(window_, &rect, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

std::string Win32Form::Text(const std::string& control) const
{
    const ControlState& state = At(control);
    switch (state.spec->kind) {
        case ControlKind::TextBox:
            if (state.spec->multiLine) {
                // Line ends come back as they were set while the user has not
                // changed the text.
                const std::wstring shown = WindowText(state.window);
                return shown == state.multiLineShown ? state.multiLineText : Narrow(shown);
            }
            return Narrow(WindowText(state.window));
        case ControlKind::ComboBox:
            return ItemText(control, SelectedIndex(control));
        case ControlKind::Picture:
        case ControlKind::Line:
            return state.caption;
        default:
            return Narrow(WindowText(state.window));
    }
}

void Win32Form::SetEnabled(const std::string& control, bool enabled)
{
    const ControlState& state = At(control);
    if (state.window == nullptr)
        return;
    const bool hadFocus = !enabled && ::GetFocus() == state.window;
    ::EnableWindow(state.window, enabled ? TRUE : FALSE);
    RepaintLabel(state);
    // A control that loses the focus by being disabled hands it on to the
    // next one that can take it, as in a dialog (the dialog manager's
    // WM_NEXTDLGCTL would need the dialog's own window procedure); the
    // window keeps it when no control can. The same for the focus a hidden
    // or inactive window keeps.
    if (hadFocus) {
        const std::string next = NextFocus(state.window);
        ::SetFocus(next.empty() ? window_ : At(next).window);
    } else if (!enabled && focus_ == control) {
        focus_ = NextFocus(state.window);
    }
}

// The next control of the Tab order after `from` that is enabled.
std::string Win32Form::NextFocus(HWND from) const
{
    const HWND next = ::GetNextDlgTabItem(window_, from, FALSE);
    if (next != nullptr && next != from)
        for (const auto& [name, state] : controls_)
            if (state.window == next)
                return name;
    return {};
}

bool Win32Form::IsEnabled(const std::string& control) const
{
    const ControlState& state = At(control);
    return state.window == nullptr || ::IsWindowEnabled(state.window) != FALSE;
}

void Win32Form::SetChecked(const std::string& control, bool checked)
{
    ControlState& state = At(control);
    if (state.spec->kind == ControlKind::OptionButton && checked) {
        SelectOption(state);
        return;
    }
    if (state.spec->kind == ControlKind::OptionButton || state.spec->kind == ControlKind::CheckBox)
        ::SendMessageW(state.window, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32Form::IsChecked(const std::string& control) const
{
    const ControlState& state = At(control);
    if (state.spec->kind != ControlKind::OptionButton && state.spec->kind != ControlKind::CheckBox)
        return false;
    return ::SendMessageW(state.window, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Win32Form::ClearItems(const std::string& control)
{
    const ControlState& state = At(control);
    if (state.spec->kind == ControlKind::ComboBox)
        ::SendMessageW(state.window, CB_RESETCONTENT, 0, 0);
}

void Win32Form::AddItem(const std::string& control, const std::string& item)
{
    const ControlState& state = At(control);
    if (state.spec->kind == ControlKind::ComboBox)
        ::SendMessageW(state.window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
}

int Win32Form::ItemCount(const std::string& control) const
{
    const ControlState& state = At(control);
    if (state.spec->kind != ControlKind::ComboBox)
        return 0;
    const LRESULT count = ::SendMessageW(state.window, CB_GETCOUNT, 0, 0);
    return count > 0 ? static_cast<int>(count) : 0;
}

std::string Win32Form::ItemText(const std::string& control, int index) const
{
    const ControlState& state = At(control);
    if (state.spec->kind != ControlKind::ComboBox || index < 0 || index >= ItemCount(control))
        return {};
    const LRESULT length = ::SendMessageW(state.window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length <= 0)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got =
        ::SendMessageW(state.window, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return Narrow(text);
}

void Win32Form::SetSelectedIndex(const std::string& control, int index)
{
    const ControlState& state = At(control);
    if (state.spec->kind != ControlKind::ComboBox)
        return;
    const int count = ItemCount(control);
    ::SendMessageW(state.window, CB_SETCURSEL,
                   index >= 0 && index < count ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
}

int Win32Form::SelectedIndex(const std::string& control) const
{
    const ControlState& state = At(control);
    if (state.spec->kind != ControlKind::ComboBox)
        return -1;
    const LRESULT index = ::SendMessageW(state.window, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32Form::SetForeColour(const std::string& control, Colour colour)
{
    ControlState& state = At(control);
    state.hasColour = true;
    state.colour = colour;
    if (state.spec->kind == ControlKind::Label)
        RepaintLabel(state);
    else if (state.window != nullptr)
        ::InvalidateRect(state.window, nullptr, TRUE);
}

Colour Win32Form::ForeColour(const std::string& control) const
{
    const ControlState& state = At(control);
    return state.hasColour ? state.colour : static_cast<Colour>(::GetSysColor(COLOR_BTNTEXT));
}

void Win32Form::SetUnderline(const std::string& control, bool underline)
{
    ControlState& state = At(control);
    state.underline = underline;
    if (state.window != nullptr) {
        const bool bold = state.spec->kind == ControlKind::Label && state.spec->bold;
        ::SendMessageW(state.window, WM_SETFONT, reinterpret_cast<WPARAM>(Font(bold, underline)), TRUE);
        RepaintLabel(state);
    }
}

bool Win32Form::IsUnderlined(const std::string& control) const
{
    return At(control).underline;
}

void Win32Form::SetControlCursor(const std::string& control, const CursorImage& cursor)
{
    ControlState& state = At(control);
    if (state.cursor != nullptr)
        ::DestroyCursor(state.cursor);
    state.cursor = MakeCursor(cursor);
}

HCURSOR Win32Form::ControlCursor(const std::string& control) const
{
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.cursor;
}

HWND Win32Form::Control(const std::string& control) const
{
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.window;
}

void Win32Form::SetFocus(const std::string& control)
{
    const ControlState& state = At(control);
    focus_ = control;
    if (visible_ && state.window != nullptr)
        ::SetFocus(state.window);
}

std::string Win32Form::FocusedControl() const
{
    if (!visible_)
        return focus_;
    for (HWND window = ::GetFocus(); window != nullptr && window != window_; window = ::GetParent(window))
        for (const auto& [name, state] : controls_)
            if (state.window == window)
                return name;
    return {};
}

Win32Form::ControlState& Win32Form::At(const std::string& control)
{
    auto it = controls_.find(control);
    if (it == controls_.end()) {
        system_.Stop("internal error: " + spec_.name + " has no control " + control);
    }
    return it->second;
}

const Win32Form::ControlState& Win32Form::At(const std::string& control) const
{
    return const_cast<Win32Form*>(this)->At(control);
}

}  // namespace vel::platform
