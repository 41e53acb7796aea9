// The Win32 window system: a form's native window (building, layout,
// painting, the messages of the window and its controls, the state the form
// sets), the keys the form takes, message boxes and the pointer.
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
constexpr int kFirstControlId = 1000;  // clear of IDOK, IDCANCEL and the like
constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kEditSubclassId = 2;  // an editable combo box's edit field
constexpr int kDropDownItems = 8;        // rows a drop-down list shows when open

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
