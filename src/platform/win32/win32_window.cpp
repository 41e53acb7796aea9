// The Win32 window system: a form's native window, as it is built and laid
// out, and the state the form sets. Its painting and messages are in
// win32_window_events.cpp; the window system itself in win32_window_system.cpp.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

constexpr wchar_t kFormClass[] = L"VeltraneForm";
// The layouts were drawn for 8-point MS Sans Serif; Microsoft Sans Serif is
// its scalable successor, with the same widths.
constexpr wchar_t kLayoutFace[] = L"MS Sans Serif";
constexpr wchar_t kSuccessorFace[] = L"Microsoft Sans Serif";
constexpr int kFontPoints = 8;
constexpr int kDropDownItems = 8;  // rows a drop-down list shows when open

// No WS_EX_APPWINDOW: a window that nothing owns has its task bar button
// anyway, and a modal one, owned by the window it was opened from, has none.
DWORD FormStyle(const FormSpec& spec)
{
    return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | (spec.resizable ? WS_THICKFRAME : 0);
}

DWORD FormExStyle(const FormSpec& spec)
{
    return spec.resizable ? 0 : WS_EX_DLGMODALFRAME;
}

// Functions of newer systems, where there are any.
template <typename Function>
Function User32Function(const char* name)
{
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (user32 == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

int WindowDpi(HWND window)
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

RECT FrameFor(const FormSpec& spec, int clientWidth, int clientHeight, int dpi)
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

int CALLBACK NoteFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found)
{
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// Whether the system has the face itself (not merely a stand-in for it).
bool FontInstalled(const wchar_t* face)
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

// Controls in the order the window creates them, which is the order of their
// windows from the top: by tab index, then those outside the tab order as
// declared.
std::vector<const ControlSpec*> CreationOrder(const std::vector<ControlSpec>& controls)
{
    std::vector<const ControlSpec*> order;
    for (const auto& control : controls)
        order.push_back(&control);
    auto place = [](const ControlSpec* c) { return c->tabIndex >= 0 ? c->tabIndex : INT_MAX; };
    std::stable_sort(order.begin(), order.end(),
                     [&place](const ControlSpec* a, const ControlSpec* b) { return place(a) < place(b); });
    return order;
}

}  // namespace

int TwipsToPixels(int twips, int dpi)
{
    return ::MulDiv(twips, dpi, 1440);
}

CursorPlanes ToCursorPlanes(const CursorImage& cursor)
{
    // Transparent: AND 1, XOR 0; black: AND 0, XOR 0; white: AND 0, XOR 1.
    CursorPlanes planes;
    for (std::size_t row = 0; row < 32; ++row) {
        const std::uint32_t andBits = ~cursor.mask[row];
        const std::uint32_t xorBits = cursor.mask[row] & ~cursor.image[row];
        for (std::size_t byte = 0; byte < 4; ++byte) {
            const unsigned shift = static_cast<unsigned>(24 - 8 * byte);
            planes.andPlane[row * 4 + byte] = static_cast<std::uint8_t>(andBits >> shift);
            planes.xorPlane[row * 4 + byte] = static_cast<std::uint8_t>(xorBits >> shift);
        }
    }
    return planes;
}

std::string ToWindowsLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            out += text[i];
            continue;
        }
        out += "\r\n";
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;  // a CR LF already
    }
    return out;
}

// Building and layout

Win32Window::Win32Window(Win32WindowSystem& system, Form& form)
    : NativeWindow(form), system_(system), spec_(form.Spec()), controls_(spec_.controls.size())
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Win32Window::WindowProcedure;
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

    window_ =
        ::CreateWindowExW(FormExStyle(spec_), kFormClass, Widen(spec_.caption).c_str(), FormStyle(spec_), CW_USEDEFAULT,
                          CW_USEDEFAULT, 100, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr)
        system_.Stop("the window " + spec_.name + " could not be created: " + SystemErrorText(::GetLastError()));
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    dpi_ = WindowDpi(window_);
    for (const ControlSpec* control : CreationOrder(spec_.controls))
        CreateControl(static_cast<int>(control - spec_.controls.data()));
    // Frames lie under what they hold: they go to the bottom of the sibling
    // order (a frame is never a Tab stop).
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (spec_.controls[i].kind == ControlKind::Frame)
            ::SetWindowPos(controls_[i], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    Layout();
}

Win32Window::~Win32Window()
{
    for (HWND window : disabledByModal_)
        ::EnableWindow(window, TRUE);
    // Messages that still come find no window of ours and take the default way.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
    for (const auto& [key, font] : fonts_)
        ::DeleteObject(font);
    if (icon_ != nullptr)
        ::DestroyIcon(icon_);
}

const wchar_t* Win32Window::FontFace()
{
    static const wchar_t* const face = FontInstalled(kSuccessorFace) ? kSuccessorFace : kLayoutFace;
    return face;
}

HFONT Win32Window::Font(bool bold, bool underline)
{
    HFONT& font = fonts_[(bold ? 1 : 0) + (underline ? 2 : 0)];
    if (font == nullptr)
        font = ::CreateFontW(-::MulDiv(kFontPoints, dpi_, 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                             underline ? TRUE : FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, FontFace());
    return font;
}

Win32Window* Win32Window::FromWindow(HWND window)
{
    const HWND root = window != nullptr ? ::GetAncestor(window, GA_ROOT) : nullptr;
    wchar_t name[32] = {};
    if (root == nullptr || ::GetClassNameW(root, name, 32) == 0 || std::wstring(name) != kFormClass)
        return nullptr;
    return reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(root, GWLP_USERDATA));
}

HWND Win32Window::Control(const std::string& control) const
{
    return controls_[static_cast<std::size_t>(form_->IndexOf(control))];
}

void Win32Window::CreateControl(int index)
{
    const ControlSpec& control = SpecOf(index);
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
            if (control.multiLine)
                caption = Widen(ToWindowsLineEnds(control.caption));
            break;
        case ControlKind::Button:
            className = L"BUTTON";
            style |= control.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            break;
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            // Neither changes by itself: the form sets them.
            className = L"BUTTON";
            style |= control.kind == ControlKind::OptionButton ? BS_RADIOBUTTON : BS_CHECKBOX;
            break;
        case ControlKind::ComboBox:
            className = L"COMBOBOX";
            // Editable: an edit field above the list, whose text scrolls.
            style |= (control.editable ? CBS_DROPDOWN | CBS_AUTOHSCROLL : CBS_DROPDOWNLIST) | WS_VSCROLL;
            caption.clear();
            break;
        case ControlKind::Frame:
            className = L"BUTTON";
            style |= BS_GROUPBOX;
            break;
        case ControlKind::Picture:
            style |= SS_OWNERDRAW;
            caption.clear();
            break;
        case ControlKind::Line:
            return;  // painted by the window
    }
    // Every control a group of its own, so that the dialog manager's arrows
    // move nothing behind the form's back.
    if (TakesFocus(control.kind))
        style |= WS_GROUP | (control.tabIndex >= 0 ? WS_TABSTOP : 0);
    const HWND window = ::CreateWindowExW(exStyle, className, caption.c_str(), style, 0, 0, 10, 10, window_,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + index)),
                                          ::GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr)
        system_.Stop("the control " + control.name + " could not be created: " + SystemErrorText(::GetLastError()));
    At(index) = window;
    ::SetWindowSubclass(window, &Win32Window::ControlProcedure, kSubclassId, 0);
    // Common controls 6 open a list as tall as it needs, up to 30 rows,
    // whatever the window's height: ask for the layout's rows.
    if (control.kind == ControlKind::ComboBox)
        ::SendMessageW(window, CB_SETMINVISIBLE, kDropDownItems, 0);
    // The edit field of an editable one reports the focus as the combo box's.
    COMBOBOXINFO parts{};
    parts.cbSize = sizeof parts;
    if (control.kind == ControlKind::ComboBox && control.editable && ::GetComboBoxInfo(window, &parts) &&
        parts.hwndItem != nullptr)
        ::SetWindowSubclass(parts.hwndItem, &Win32Window::EditProcedure, kEditSubclassId,
                            static_cast<DWORD_PTR>(index));
}

// In pixels of the window's client area (inside its frames).
RECT Win32Window::ControlRect(const ControlSpec& control) const
{
    const TwipsPoint at = OriginInWindow(spec_, control);
    return {TwipsToPixels(at.x, dpi_), TwipsToPixels(at.y, dpi_), TwipsToPixels(at.x + control.width, dpi_),
            TwipsToPixels(at.y + control.height, dpi_)};
}

void Win32Window::Layout()
{
    for (auto& [key, font] : fonts_)
        ::DeleteObject(font);
    fonts_.clear();
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
        const ControlSpec& control = SpecOf(i);
        const HWND window = At(i);
        if (window == nullptr)
            continue;
        const RECT rect = ControlRect(control);
        int height = TwipsToPixels(control.height, dpi_);
        if (control.kind == ControlKind::ComboBox) {
            // The height of the closed list is the layout's; the window's
            // height includes the open list.
            ::SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
            ::SendMessageW(window, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(1, height - 6));
            const LRESULT item = ::SendMessageW(window, CB_GETITEMHEIGHT, 0, 0);
            height += kDropDownItems * static_cast<int>(item > 0 ? item : height) + 2;
        }
        ::SetWindowPos(window, nullptr, rect.left, rect.top, TwipsToPixels(control.width, dpi_), height,
                       SWP_NOZORDER | SWP_NOACTIVATE);
        if (control.kind == ControlKind::ComboBox)
            continue;  // its font is set (a new font would reset the height)
        const bool bold = control.kind == ControlKind::Label && control.bold;
        ::SendMessageW(window, WM_SETFONT,
                       reinterpret_cast<WPARAM>(Font(bold, form_ != nullptr && form_->StateOf(i).underline)), TRUE);
    }
    const RECT frame =
        FrameFor(spec_, TwipsToPixels(spec_.clientWidth, dpi_), TwipsToPixels(spec_.clientHeight, dpi_), dpi_);
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(window_, nullptr, TRUE);
}

void Win32Window::Centre()
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

// The state the form sets

void Win32Window::Show(bool modal, NativeWindow* owner)
{
    if (modal) {
        // As a modal dialog: above the window it was opened from, every other
        // window of the program disabled until it hides.
        ::SetWindowLongPtrW(
            window_, GWLP_HWNDPARENT,
            reinterpret_cast<LONG_PTR>(owner != nullptr ? static_cast<Win32Window*>(owner)->window_ : nullptr));
        for (Form* other : system_.Forms()) {
            const HWND window = static_cast<Win32Window&>(other->Native()).window_;
            if (other != form_ && ::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
                ::EnableWindow(window, FALSE);
                disabledByModal_.push_back(window);
            }
        }
    }
    if (!::IsWindowVisible(window_)) {
        Centre();
        ::ShowWindow(window_, SW_SHOWNORMAL);
        ::UpdateWindow(window_);
    }
}

void Win32Window::Hide()
{
    // Enabled again before the dialog goes, so that the activation returns
    // to the program's window rather than to another program.
    for (HWND window : disabledByModal_)
        ::EnableWindow(window, TRUE);
    disabledByModal_.clear();
    ::ShowWindow(window_, SW_HIDE);
}

void Win32Window::Activate()
{
    if (::IsIconic(window_))
        ::ShowWindow(window_, SW_RESTORE);
    ::SetForegroundWindow(window_);
    ::SetActiveWindow(window_);
}

void Win32Window::SetTitle(const std::string& title)
{
    ::SetWindowTextW(window_, Widen(title).c_str());
}

void Win32Window::Repaint(int control)
{
    const HWND target = control < 0 ? window_ : At(control);
    if (target == nullptr)  // a line: the window paints it
        ::RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    else
        ::RedrawWindow(target, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Win32Window::Update(int control, const ControlState& state, ControlChange what)
{
    const HWND window = At(control);
    if (window == nullptr)
        return;
    const ControlSpec& spec = SpecOf(control);
    switch (what) {
        case ControlChange::Text: {
            const bool lines = spec.kind == ControlKind::TextBox && spec.multiLine;
            if (spec.kind == ControlKind::ComboBox)  // an editable one: its item, then the edit field
                ::SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(state.selected), 0);
            ::SetWindowTextW(window, Widen(lines ? ToWindowsLineEnds(state.text) : state.text).c_str());
            break;
        }
        case ControlChange::Enabled:
            ::EnableWindow(window, state.enabled ? TRUE : FALSE);
            break;
        case ControlChange::Checked:
            ::SendMessageW(window, BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            return;
        case ControlChange::List:
            if (spec.kind != ControlKind::ComboBox)
                return;
            ::SendMessageW(window, CB_RESETCONTENT, 0, 0);
            for (const std::string& item : state.items)
                ::SendMessageW(window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(item).c_str()));
            ::SendMessageW(window, CB_SETCURSEL, static_cast<WPARAM>(state.selected), 0);
            if (spec.editable)  // which the list's rebuilding emptied
                ::SetWindowTextW(window, Widen(state.text).c_str());
            return;
        case ControlChange::Appearance:
            ::SendMessageW(
                window, WM_SETFONT,
                reinterpret_cast<WPARAM>(Font(spec.kind == ControlKind::Label && spec.bold, state.underline)), TRUE);
            ::InvalidateRect(window, nullptr, TRUE);
            break;
        case ControlChange::Cursor:
            return;  // the window system shows it (WM_SETCURSOR)
    }
    RepaintLabel(control);
}

std::string Win32Window::Text(int control) const
{
    const HWND window = controls_[static_cast<std::size_t>(control)];
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(std::max(0, ::GetWindowTextW(window, text.data(), static_cast<int>(text.size())))));
    return Narrow(text);
}

void Win32Window::SetFocus(int control, bool byKey)
{
    const HWND target = control < 0 || At(control) == nullptr ? window_ : At(control);
    ::SetFocus(target);
    // As the dialog manager does when a key moves the focus into a box.
    if (byKey && control >= 0 && SpecOf(control).kind == ControlKind::TextBox)
        ::SendMessageW(target, EM_SETSEL, 0, -1);
    else if (byKey && control >= 0 && SpecOf(control).kind == ControlKind::ComboBox && SpecOf(control).editable)
        ::SendMessageW(target, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
}

}  // namespace vel::platform
