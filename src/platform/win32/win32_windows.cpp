#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>

#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

constexpr wchar_t kFormClass[] = L"VeltraneForm";
// The layouts were drawn for 8-point MS Sans Serif; Microsoft Sans Serif is
// its scalable successor, with the same widths.
constexpr wchar_t kLayoutFace[] = L"MS Sans Serif";
constexpr wchar_t kSuccessorFace[] = L"Microsoft Sans Serif";
constexpr int kFontPoints = 8;
constexpr int kFirstControlId = 1000;  // clear of IDOK, IDCANCEL and the like
constexpr UINT_PTR kSubclassId = 1;
constexpr int kDropDownItems = 8;  // rows a drop-down list shows when open
constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_APPWINDOW;

bool IsFocusable(ControlKind kind)
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

RECT FrameFor(int clientWidth, int clientHeight, int dpi)
{
    RECT rect{0, 0, clientWidth, clientHeight};
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    if (adjustForDpi == nullptr || !adjustForDpi(&rect, kFormStyle, FALSE, kFormExStyle, static_cast<UINT>(dpi)))
        ::AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle);
    return rect;
}

std::wstring WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = ::GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return text;
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

HCURSOR MakeCursor(const CursorImage& image)
{
    const CursorPlanes planes = ToCursorPlanes(image);
    return ::CreateCursor(::GetModuleHandleW(nullptr), image.hotX, image.hotY, 32, 32, planes.andPlane.data(),
                          planes.xorPlane.data());
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
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<const ControlSpec*> CreationOrder(const std::vector<ControlSpec>& controls)
{
    std::vector<const ControlSpec*> order;
    for (const auto& control : controls)
        order.push_back(&control);
    std::stable_sort(order.begin(), order.end(), [](const ControlSpec* a, const ControlSpec* b) {
        const bool aInOrder = a->tabIndex >= 0;
        const bool bInOrder = b->tabIndex >= 0;
        if (aInOrder != bInOrder)
            return aInOrder;
        return aInOrder && a->tabIndex < b->tabIndex;
    });
    return order;
}

// Win32Form

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

    window_ = ::CreateWindowExW(kFormExStyle, kFormClass, Widen(spec_.caption).c_str(), kFormStyle, CW_USEDEFAULT,
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
            style |= SS_LEFT | SS_NOTIFY;
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
    const RECT frame = FrameFor(TwipsToPixels(spec_.clientWidth, dpi_), TwipsToPixels(spec_.clientHeight, dpi_), dpi_);
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
            for (const auto& [name, state] : controls_)
                if (state.window == control && state.hasColour) {
                    const HDC dc = reinterpret_cast<HDC>(wParam);
                    ::SetTextColor(dc, state.colour);
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
            return;
    }
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
    // A control that loses the focus by being disabled hands it on.
    const bool hadFocus = enabled == false && ::GetFocus() == state.window;
    ::EnableWindow(state.window, enabled ? TRUE : FALSE);
    if (hadFocus && visible_)
        ::SendMessageW(window_, WM_NEXTDLGCTL, 0, FALSE);
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
    if (state.window != nullptr)
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

// Win32WindowSystem

void Win32WindowSystem::Stop(const std::string& message)
{
    if (onFailure_)
        onFailure_(message);
    // A program without a console: the message goes to a box and to the debugger.
    const std::wstring text = Widen("Veltrane: " + message);
    ::OutputDebugStringW(text.c_str());
    ::MessageBoxW(nullptr, text.c_str(), L"Veltrane", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    ::ExitProcess(kFailureExitStatus);
}

Win32WindowSystem::Win32WindowSystem(Win32EventPump& pump) : pump_(pump)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    // Tab, the access keys, Enter and Escape work in every window of ours.
    pump_.SetMessageFilter([this](MSG& msg) { return FilterMessage(msg); });
}

Win32WindowSystem::~Win32WindowSystem()
{
    pump_.SetMessageFilter(nullptr);
}

bool Win32WindowSystem::FilterMessage(MSG& msg)
{
    if (msg.hwnd == nullptr)
        return false;
    const HWND root = ::GetAncestor(msg.hwnd, GA_ROOT);
    for (const Win32Form* form : forms_)
        if (form->window_ == root && form->visible_)
            return ::IsDialogMessageW(root, &msg) != FALSE;
    return false;
}

std::unique_ptr<Form> Win32WindowSystem::CreateForm(const FormSpec& spec)
{
    return std::make_unique<Win32Form>(*this, spec);
}

MessageResult Win32WindowSystem::ShowMessageBox(const std::string& text, const std::string& title,
                                                MessageButtons buttons, MessageIcon icon)
{
    UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
    switch (icon) {
        case MessageIcon::None:
            break;
        case MessageIcon::Question:
            type |= MB_ICONQUESTION;
            break;
        case MessageIcon::Critical:
            type |= MB_ICONERROR;
            break;
    }
    const Win32Form* owner = ActiveForm();
    // Without a window of ours to own it, the box still disables them all.
    type |= MB_SETFOREGROUND | (owner == nullptr ? MB_TASKMODAL : 0);
    const int answer =
        ::MessageBoxW(owner != nullptr ? owner->window_ : nullptr, Widen(text).c_str(), Widen(title).c_str(), type);
    pump_.Wake();
    if (buttons == MessageButtons::Ok)
        return MessageResult::Ok;
    return answer == IDYES ? MessageResult::Yes : MessageResult::No;
}

void Win32WindowSystem::SetPointer(PointerShape shape, const Form* form, const std::string& control)
{
    pointer_ = shape;
    switch (shape) {
        case PointerShape::Default:
            cursor_ = nullptr;
            break;
        case PointerShape::Busy:
            cursor_ = ::LoadCursorW(nullptr, IDC_APPSTARTING);  // the arrow with the hourglass
            break;
        case PointerShape::Custom: {
            cursor_ = nullptr;
            if (const auto* win32Form = dynamic_cast<const Win32Form*>(form))
                cursor_ = win32Form->ControlCursor(control);
            if (cursor_ == nullptr)
                cursor_ = ::LoadCursorW(nullptr, IDC_ARROW);
            break;
        }
    }
    // Shown at once where the mouse is over a window of ours.
    POINT point;
    if (::GetCursorPos(&point)) {
        const HWND under = ::WindowFromPoint(point);
        const HWND root = under != nullptr ? ::GetAncestor(under, GA_ROOT) : nullptr;
        for (const Win32Form* shown : forms_)
            if (shown->window_ == root && shown->visible_)
                ::SetCursor(cursor_ != nullptr ? cursor_ : ::LoadCursorW(nullptr, IDC_ARROW));
    }
}

Win32Form* Win32WindowSystem::FindForm(const std::string& name) const
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if ((*it)->Spec().name == name && (*it)->loaded_)
            return *it;
    return nullptr;
}

void Win32WindowSystem::Activated(Win32Form* form)
{
    for (Win32Form* other : forms_)
        if (other != form)
            other->active_ = false;
}

Win32Form* Win32WindowSystem::ActiveForm() const
{
    const HWND active = ::GetActiveWindow();
    for (Win32Form* form : forms_)
        if (form->visible_ && form->window_ == active)
            return form;
    // The last shown one that is still visible.
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if ((*it)->visible_)
            return *it;
    return nullptr;
}

void Win32WindowSystem::Reactivate(const Win32Form* closing)
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if (*it != closing && (*it)->visible_) {
            (*it)->RequestActivation();
            return;
        }
}

}  // namespace vel::platform
