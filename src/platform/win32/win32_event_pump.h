// The event pump over the thread's Windows message queue.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "platform/event_pump.h"

namespace vel::platform {

// Messages of the pump's own window that another back end (the socket) asks
// to see, before the pump looks at them.
class MessageHandler {
public:
    virtual ~MessageHandler() = default;
    // True when the message was this handler's.
    virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// A message-only window receives posted tasks, wake-ups and whatever another
// back end routes to it (socket events). A wait blocks in
// MsgWaitForMultipleObjectsEx: no CPU while nothing happens. Every message of
// the thread is dispatched, so windows paint and modal dialogs started from a
// handler run their own loops as Windows does.
class Win32EventPump : public EventPump {
public:
    Win32EventPump();
    ~Win32EventPump() override;
    Win32EventPump(const Win32EventPump&) = delete;
    Win32EventPump& operator=(const Win32EventPump&) = delete;

    void DoEvents() override;
    void WaitForEvents(double maxSeconds) override;
    void Post(std::function<void()> task) override;
    void Wake() override;

    // The message-only window, for WSAAsyncSelect and the like.
    HWND Window() const { return window_; }
    void AddHandler(MessageHandler* handler);
    void RemoveHandler(MessageHandler* handler);

    // A message number of the pump's window that no one else uses.
    UINT AllocateMessages(UINT count);

    // Runs before a message is dispatched; true when it took the message
    // (IsDialogMessage of the active window).
    void SetMessageFilter(std::function<bool(MSG&)> filter) { filter_ = std::move(filter); }

    // Messages dispatched so far (for tests).
    std::uint64_t Dispatched() const { return dispatched_; }

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void DispatchPending();
    void RunOneTask();

    HWND window_ = nullptr;
    std::deque<std::function<void()>> tasks_;
    std::vector<MessageHandler*> handlers_;
    std::function<bool(MSG&)> filter_;
    UINT nextMessage_;
    bool woken_ = false;
    std::uint64_t dispatched_ = 0;
};

}  // namespace vel::platform
