#include "platform/win32/win32_event_pump.h"

#include <algorithm>
#include <cmath>

namespace vel::platform {

namespace {

constexpr wchar_t kWindowClass[] = L"VeltraneEventPump";
constexpr UINT kTaskMessage = WM_APP + 1;
constexpr UINT kWakeMessage = WM_APP + 2;
constexpr UINT kFirstFreeMessage = WM_APP + 0x100;

}  // namespace

Win32EventPump::Win32EventPump() : nextMessage_(kFirstFreeMessage)
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Win32EventPump::WindowProcedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ::GetModuleHandleW(nullptr),
                                nullptr);
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32EventPump::~Win32EventPump()
{
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        ::DestroyWindow(window_);
    }
}

LRESULT CALLBACK Win32EventPump::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* pump = reinterpret_cast<Win32EventPump*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (pump != nullptr)
        return pump->Handle(message, wParam, lParam);
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32EventPump::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTaskMessage) {
        RunOneTask();
        return 0;
    }
    if (message == kWakeMessage)
        return 0;  // Wake() has set the flag already; the message only ends the block
    // A handler may remove itself while it runs: walk a copy.
    const std::vector<MessageHandler*> handlers = handlers_;
    for (MessageHandler* handler : handlers)
        if (std::find(handlers_.begin(), handlers_.end(), handler) != handlers_.end() &&
            handler->HandleMessage(message, wParam, lParam))
            return 0;
    return ::DefWindowProcW(window_, message, wParam, lParam);
}

void Win32EventPump::RunOneTask()
{
    if (tasks_.empty())
        return;
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    task();
    Wake();
}

void Win32EventPump::AddHandler(MessageHandler* handler)
{
    handlers_.push_back(handler);
}

void Win32EventPump::RemoveHandler(MessageHandler* handler)
{
    handlers_.erase(std::remove(handlers_.begin(), handlers_.end(), handler), handlers_.end());
}

UINT Win32EventPump::AllocateMessages(UINT count)
{
    const UINT first = nextMessage_;
    nextMessage_ += count;
    return first;
}

void Win32EventPump::DispatchPending()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        // The program ends by itself, never through WM_QUIT.
        if (msg.message == WM_QUIT)
            continue;
        ++dispatched_;
        if (filter_ && filter_(msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

void Win32EventPump::DoEvents()
{
    woken_ = false;
    DispatchPending();
}

void Win32EventPump::WaitForEvents(double maxSeconds)
{
    // The deadline is kept in milliseconds of GetTickCount64, which never jumps
    // with the time of day.
    const double ms = std::ceil(std::max(0.0, maxSeconds) * 1000.0);
    const ULONGLONG start = ::GetTickCount64();
    const ULONGLONG span = ms >= 1.8e19 ? ~0ULL / 2 : static_cast<ULONGLONG>(ms);
    for (;;) {
        if (woken_) {
            woken_ = false;
            return;
        }
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= span)
            return;
        const ULONGLONG left = span - elapsed;
        const DWORD timeout = left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
        // MWMO_INPUTAVAILABLE: messages that arrived before the call count too.
        ::MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        DispatchPending();
    }
}

void Win32EventPump::Post(std::function<void()> task)
{
    tasks_.push_back(std::move(task));
    ::PostMessageW(window_, kTaskMessage, 0, 0);
}

void Win32EventPump::Wake()
{
    woken_ = true;
    ::PostMessageW(window_, kWakeMessage, 0, 0);
}

}  // namespace vel::platform
