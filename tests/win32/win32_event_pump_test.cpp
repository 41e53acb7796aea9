// The Win32 event pump: posted tasks, waking, blocking without CPU, and the
// messages other back ends route through its window.
#include "platform/win32/win32_event_pump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win32_test_support.h"

namespace vel::platform {
namespace {

using test::ProcessCpuSeconds;

double Seconds()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

TEST(Win32EventPump, PostedTasksRunFromTheQueueInOrderNeverInsideTheCaller)
{
    Win32EventPump pump;
    std::vector<int> ran;
    pump.Post([&] {
        ran.push_back(1);
        // A task posted by a task runs after it, not inside it.
        pump.Post([&] { ran.push_back(3); });
        ran.push_back(2);
    });
    pump.Post([&] { ran.push_back(4); });
    EXPECT_TRUE(ran.empty());
    pump.DoEvents();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 4, 3}));
}

TEST(Win32EventPump, WaitEndsWhenATaskHasRunAndOtherwiseAtItsTime)
{
    Win32EventPump pump;
    bool ran = false;
    pump.Post([&] { ran = true; });
    double start = Seconds();
    pump.WaitForEvents(5.0);
    EXPECT_TRUE(ran);
    EXPECT_LT(Seconds() - start, 1.0);

    start = Seconds();
    pump.WaitForEvents(0.3);
    const double waited = Seconds() - start;
    EXPECT_GE(waited, 0.28);
    EXPECT_LT(waited, 1.5);

    // DoEvents never blocks.
    start = Seconds();
    pump.DoEvents();
    EXPECT_LT(Seconds() - start, 0.2);
}

TEST(Win32EventPump, WakeEndsTheWaitInProgressAndOnlyThatOne)
{
    Win32EventPump pump;
    // A timer on the pump's window stands for an event of another back end.
    struct Waker : MessageHandler {
        Win32EventPump* pump = nullptr;
        UINT message = 0;
        int seen = 0;
        bool HandleMessage(UINT m, WPARAM, LPARAM) override
        {
            if (m != message)
                return false;
            ++seen;
            pump->Wake();
            return true;
        }
    } waker;
    waker.pump = &pump;
    waker.message = pump.AllocateMessages(1);
    pump.AddHandler(&waker);
    ::PostMessageW(pump.Window(), waker.message, 0, 0);
    double start = Seconds();
    pump.WaitForEvents(5.0);
    EXPECT_EQ(waker.seen, 1);
    EXPECT_LT(Seconds() - start, 1.0);

    // Dispatched messages that nobody wakes for (a paint, a foreign message)
    // do not end a wait.
    ::PostMessageW(pump.Window(), waker.message + 1000, 0, 0);
    start = Seconds();
    pump.WaitForEvents(0.3);
    EXPECT_GE(Seconds() - start, 0.28);

    // A removed handler sees nothing more.
    pump.RemoveHandler(&waker);
    ::PostMessageW(pump.Window(), waker.message, 0, 0);
    pump.DoEvents();
    EXPECT_EQ(waker.seen, 1);
}

TEST(Win32EventPump, AnIdleWaitCostsNoCpu)
{
    Win32EventPump pump;
    const double cpuBefore = ProcessCpuSeconds();
    const double start = Seconds();
    pump.WaitForEvents(1.0);
    const double wall = Seconds() - start;
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    EXPECT_GE(wall, 0.98);
    // A spinning wait would cost the whole second.
    EXPECT_LT(cpu, 0.05) << "CPU seconds of a one-second wait";
}

TEST(Win32EventPump, TheFilterSeesMessagesBeforeTheyAreDispatched)
{
    Win32EventPump pump;
    struct Counter : MessageHandler {
        UINT message = 0;
        int seen = 0;
        bool HandleMessage(UINT m, WPARAM, LPARAM) override { return m == message && ++seen > 0; }
    } counter;
    counter.message = pump.AllocateMessages(1);
    pump.AddHandler(&counter);
    int filtered = 0;
    pump.SetMessageFilter([&](MSG& msg) {
        if (msg.message != counter.message)
            return false;
        ++filtered;
        return msg.wParam == 1;  // taken: not dispatched
    });
    ::PostMessageW(pump.Window(), counter.message, 1, 0);
    ::PostMessageW(pump.Window(), counter.message, 2, 0);
    pump.DoEvents();
    EXPECT_EQ(filtered, 2);
    EXPECT_EQ(counter.seen, 1);
    pump.SetMessageFilter(nullptr);
    pump.RemoveHandler(&counter);
}

}  // namespace
}  // namespace vel::platform
