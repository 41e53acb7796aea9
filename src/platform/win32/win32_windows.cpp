// The Win32 window system: forms, message boxes, the pointer, activation.
#include "platform/win32/win32_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>

#include "platform/win32/win32_form_parts.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

using namespace win32_form_parts;

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

Win32WindowSystem::Win32WindowSystem(Win32EventPump& pump, bool seen) : pump_(pump), seen_(seen)
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
    if (!seen_) {
        // A box nobody can see would wait for ever.
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        return buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No;
    }
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

void Win32WindowSystem::BringToFront()
{
    const Win32Form* front = ActiveForm();
    if (front == nullptr)
        return;
    if (::IsIconic(front->window_))
        ::ShowWindow(front->window_, SW_RESTORE);
    ::SetForegroundWindow(front->window_);
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
