// A form table as a Win32 window: building, layout, painting, showing and closing.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_form_parts.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

using namespace win32_form_parts;

Win32Form::Win32Form(Win32WindowSystem& system, FormSpec spec) : system_(system), spec_(std::move(spec))
{
    Build();
    system_.forms_.push_back(this);
}

Win32Form::~Win32Form()
{
    *alive_ = false;
    auto& forms = system_.forms_;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (modal_)
        for (HWND window : disabledByModal_)
            ::EnableWindow(window, TRUE);
    // Messages that still come (a handler of this very window may be on the
    // stack) find no form and take the default way.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    const HWND window = window_;
    std::map<int, HFONT> fonts = std::move(fonts_);
    std::vector<HCURSOR> cursors;
    for (auto& [name, state] : controls_)
        if (state.cursor != nullptr)
            cursors.push_back(state.cursor);
    const HICON icon = icon_;
    auto destroy = [window, fonts, cursors, icon] {
        ::DestroyWindow(window);
        for (const auto& [key, font] : fonts)
            ::DeleteObject(font);
        for (HCURSOR cursor : cursors)
            ::DestroyCursor(cursor);
        if (icon != nullptr)
            ::DestroyIcon(icon);
    };
    if (dispatching_ > 0) {
        ::ShowWindow(window, SW_HIDE);
        system_.pump_.Post(destroy);
    } else {
        destroy();
    }
}

const wchar_t* Win32Form::FontFace()
{
    static const wchar_t* const face = FontInstalled(kSuccessorFace) ? kSuccessorFace : kLayoutFace;
    return face;
}

HFONT Win32Form::Font(bool bold, bool underline)
{
    const int key = (bold ? 1 : 0) + (underline ? 2 : 0);
    auto it = fonts_.find(key);
    if (it != fonts_.end())
        return it->second;
    const HFONT font = ::CreateFontW(-::MulDiv(kFontPoints, dpi_, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                                     underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, FontFace());
    fonts_[key] = font;
    return font;
}

Win32Form* Win32Form::FromWindow(HWND window)
{
    for (HWND current = window; current != nullptr; current = ::GetParent(current)) {
        wchar_t name[32] = {};
        if (::GetClassNameW(current, name, 32) > 0 && std::wstring(name) == kFormClass)
            return reinterpret_cast<Win32Form*>(::GetWindowLongPtrW(current, GWLP_USERDATA));
        if ((::GetWindowLongPtrW(current, GWL_STYLE) & WS_CHILD) == 0)
            break;
    }
    return nullptr;
}

void Win32Form::Build()
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Win32Form::WindowProcedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kFormClass;
        wc.hIcon = ::LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
        if (wc.hIcon == nullptr)
            wc.hIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;

    for (const auto& control : spec_.controls) {
        if (controls_.count(control.name) != 0) {
            system_.Stop("internal error: " + spec_.name + " declares " + control.name + " twice");
        }
        controls_[control.name].spec = &control;
    }
    for (const auto& control : spec_.controls)
        if (!control.parent.empty() &&
            (controls_.count(control.parent) == 0 || controls_[control.parent].spec->kind != ControlKind::Frame)) {
            system_.Stop("internal error: " + spec_.name + " has no frame " + control.parent);
        }

    window_ =
        ::CreateWindowExW(FormExStyle(spec_), kFormClass, Widen(spec_.caption).c_str(), FormStyle(spec_), CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) {
        system_.Stop("the window " + spec_.name + " could not be created: " + SystemErrorText(::GetLastError()));
    }
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    dpi_ = WindowDpi(window_);

    int id = kFirstControlId;
    for (const ControlSpec* control : CreationOrder(spec_.controls)) {
        ControlState& state = controls_[control->name];
        state.id = id++;
        CreateControl(state);
    }
    // Frames lie under what they hold: they go to the bottom of the sibling
    // order (which is also the Tab order; a frame is never a Tab stop).
    for (auto& [name, state] : controls_)
        if (state.spec->kind == ControlKind::Frame)
            ::SetWindowPos(state.window, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Layout();
}

void Win32Form::CreateControl(ControlState& state)
{
    const ControlSpec& control = *state.spec;
    const wchar_t* className = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD exStyle = 0;
    std::wstring caption = Widen(control.caption);
    switch (control.kind) {
        case ControlKind::Label:
            // Transparent: labels that overlap (the layouts have some by a
            // pixel or two) both show their text; the window paints under them.
            style |= SS_LEFT | SS_NOTIFY;
            exStyle = WS_EX_TRANSPARENT;
            break;
        case ControlKind::TextBox:
            className = L"EDIT";
            exStyle = WS_EX_CLIENTEDGE;
            style |= ES_LEFT | (control.multiLine ? ES_MULTILINE | ES_AUTOVSCROLL : ES_AUTOHSCROLL);
            if (control.multiLine) {
                state.multiLineText = control.caption;
                caption = Widen(ToWindowsLineEnds(control.caption));
                state.multiLineShown = caption;
            }
            break;
        case ControlKind::Button:
            className = L"BUTTON";
            style |= control.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            break;
        case ControlKind::OptionButton:
            className = L"BUTTON";
            style |= BS_RADIOBUTTON;  // the form keeps the options of a container exclusive
            break;
        case ControlKind::CheckBox:
            className = L"BUTTON";
            style |= BS_AUTOCHECKBOX;
            break;
        case ControlKind::ComboBox:
            className = L"COMBOBOX";
            style |= CBS_DROPDOWNLIST | WS_VSCROLL;  // pick-only
            caption.clear();
            break;
        case ControlKind::Frame:
            className = L"BUTTON";
            style |= BS_GROUPBOX;
            break;
        case ControlKind::Picture:
            style |= SS_OWNERDRAW;
            state.caption = control.caption;
            caption.clear();
            break;
        case ControlKind::Line:
            state.caption = control.caption;
            return;  // painted by the form
    }
    if (IsFocusable(control.kind)) {
        // Every control a group of its own: arrows never move the focus or
        // the selection behind the program's back.
        style |= WS_GROUP;
        if (control.tabIndex >= 0)
            style |= WS_TABSTOP;
    }
    state.window = ::CreateWindowExW(exStyle, className, caption.c_str(), style, 0, 0, 10, 10, window_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(state.id)),
                                     ::GetModuleHandleW(nullptr), nullptr);
    if (state.window == nullptr) {
        system_.Stop("the control " + control.name + " could not be created: " + SystemErrorText(::GetLastError()));
    }
    ::SetWindowSubclass(state.window, &Win32Form::ControlProcedure, kSubclassId, 0);
    // Common controls 6 open a list as tall as it needs, up to 30 rows,
    // whatever the window's height: ask for the layout's rows.
    if (control.kind == ControlKind::ComboBox)
        ::SendMessageW(state.window, CB_SETMINVISIBLE, kDropDownItems, 0);
}

POINT Win32Form::Origin(const ControlSpec& control) const
{
    POINT origin{0, 0};
    for (const ControlSpec* frame = control.parent.empty() ? nullptr : At(control.parent).spec; frame != nullptr;
         frame = frame->parent.empty() ? nullptr : At(frame->parent).spec) {
        origin.x += frame->left;
        origin.y += frame->top;
    }
    return origin;
}

RECT Win32Form::ControlRect(const ControlSpec& control) const
{
    const POINT origin = Origin(control);
    RECT rect;
    rect.left = TwipsToPixels(origin.x + control.left, dpi_);
    rect.top = TwipsToPixels(origin.y + control.top, dpi_);
    rect.right = rect.left + TwipsToPixels(control.width, dpi_);
    rect.bottom = rect.top + TwipsToPixels(control.height, dpi_);
    return rect;
}

void Win32Form::Layout()
{
    for (auto& [key, font] : fonts_)
        ::DeleteObject(font);
    fonts_.clear();
    for (auto& [name, state] : controls_) {
        if (state.window == nullptr)
            continue;
        const ControlSpec& control = *state.spec;
        const RECT rect = ControlRect(control);
        int height = rect.bottom - rect.top;
        if (control.kind == ControlKind::ComboBox) {
            // The height of the closed list is the layout's; the window's
            // height includes the open list.
            ::SendMessageW(state.window, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
            ::SendMessageW(state.window, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(1, height - 6));
            const LRESULT item = ::SendMessageW(state.window, CB_GETITEMHEIGHT, 0, 0);
            height += kDropDownItems * static_cast<int>(item > 0 ? item : height) + 2;
        }
        ::SetWindowPos(state.window, nullptr, rect.left, rect.top, rect.right - rect.left, height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        if (control.kind == ControlKind::ComboBox)
            continue;  // its font is set (a new font would reset the height)
        const bool bold = control.kind == ControlKind::Label && control.bold;
        ::SendMessageW(state.window, WM_SETFONT, reinterpret_cast<WPARAM>(Font(bold, state.underline)), TRUE);
    }
    const RECT frame =
        FrameFor(spec_, TwipsToPixels(spec_.clientWidth, dpi_), TwipsToPixels(spec_.clientHeight, dpi_), dpi_);
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void Win32Form::Centre()
{
    RECT rect;
    ::GetWindowRect(window_, &rect);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT& area = monitor.rcWork;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(window_, nullptr, std::max<int>(area.left, x), std::max<int>(area.top, y), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form::Paint()
{
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(window_, &paint);
    for (const auto& control : spec_.controls) {
        if (control.kind != ControlKind::Line)
            continue;
        // A line `lineWidth` pixels wide covers that many rows (columns for
        // an upright line) from its position down (right).
        const POINT origin = Origin(control);
        const int x1 = TwipsToPixels(origin.x + control.left, dpi_);
        const int y1 = TwipsToPixels(origin.y + control.top, dpi_);
        const int x2 = TwipsToPixels(origin.x + control.left + control.width, dpi_);
        const int y2 = TwipsToPixels(origin.y + control.top + control.height, dpi_);
        const int width = std::max(1, control.lineWidth);
        const HBRUSH brush = ::CreateSolidBrush(control.lineColour);
        if (y1 == y2 || x1 == x2) {
            RECT rect;
            if (y1 == y2)
                rect = {std::min(x1, x2), y1, std::max(x1, x2), y1 + width};
            else
                rect = {x1, std::min(y1, y2), x1 + width, std::max(y1, y2)};
            ::FillRect(dc, &rect, brush);
        } else {
            const HPEN pen = ::CreatePen(PS_SOLID, width, control.lineColour);
            const HGDIOBJ old = ::SelectObject(dc, pen);
            ::MoveToEx(dc, x1, y1, nullptr);
            ::LineTo(dc, x2, y2);
            ::SelectObject(dc, old);
            ::DeleteObject(pen);
        }
        ::DeleteObject(brush);
    }
    ::EndPaint(window_, &paint);
}

void Win32Form::DrawPicture(const DRAWITEMSTRUCT& item)
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

void Win32Form::Show()
{
    loaded_ = true;
    if (!visible_) {
        visible_ = true;
        Centre();
        ::ShowWindow(window_, SW_SHOWNORMAL);
        ::UpdateWindow(window_);
    }
    RequestActivation();
}

void Win32Form::RequestActivation()
{
    ::SetForegroundWindow(window_);
    ::SetActiveWindow(window_);
    // Where the system reports no activation, the request itself counts as one.
    const std::shared_ptr<bool> alive = alive_;
    system_.pump_.Post([this, alive] {
        if (*alive && visible_ && ::GetActiveWindow() == window_)
            DeliverActivation();
    });
}

void Win32Form::ShowModal()
{
    const std::shared_ptr<bool> alive = alive_;
    Win32EventPump& pump = system_.pump_;
    // As a modal dialog: above the window it was opened from, every other
    // window of the program disabled until it closes.
    const Win32Form* owner = system_.ActiveForm();
    ::SetWindowLongPtrW(window_, GWLP_HWNDPARENT,
                        reinterpret_cast<LONG_PTR>(owner != nullptr && owner != this ? owner->window_ : nullptr));
    disabledByModal_.clear();
    for (const Win32Form* form : system_.forms_)
        if (form != this && form->visible_ && ::IsWindowEnabled(form->window_)) {
            ::EnableWindow(form->window_, FALSE);
            disabledByModal_.push_back(form->window_);
        }
    modal_ = true;
    Show();
    while (*alive && visible_)
        pump.WaitForEvents(3600.0);
    if (!*alive)
        return;
    modal_ = false;
    // The window under the dialog becomes the active one again.
    system_.Reactivate(this);
}

void Win32Form::Close()
{
    if (!loaded_)
        return;
    loaded_ = false;
    const std::shared_ptr<bool> alive = alive_;
    Win32EventPump& pump = system_.pump_;
    if (handler_ != nullptr) {
        ++dispatching_;
        handler_->OnClose();
        if (!*alive) {
            pump.Wake();
            return;
        }
        --dispatching_;
    }
    if (visible_)
        focus_ = FocusedControl();
    visible_ = false;
    active_ = false;
    // Enabled again before the dialog goes, so that the activation returns
    // to the program's window rather than to another program.
    for (HWND window : disabledByModal_)
        ::EnableWindow(window, TRUE);
    disabledByModal_.clear();
    ::ShowWindow(window_, SW_HIDE);
    pump.Wake();
}

}  // namespace vel::platform
