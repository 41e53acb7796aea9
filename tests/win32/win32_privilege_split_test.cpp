// The machine's run in two parts on Windows: this test program started again
// as the network part, asking over the message pipe. The clock is a
// recording setter's: no test moves one. Wine does not take privileges out
// of a restricted token nor lowers its integrity (see docs/ARCHITECTURE.md):
// what the network part removes itself is checked.
#include "platform/win32/win32_privilege_split.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_text.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

constexpr const wchar_t* kNetworkPartVariable = L"VELTRANE_TEST_NETWORK_PART";

// One message, written whole past the link, as a network part taken over
// could.
void Send(HANDLE pipe, const std::vector<std::uint8_t>& message)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    ::WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped);
    ::GetOverlappedResult(pipe, &overlapped, &written, TRUE);
    ::CloseHandle(overlapped.hEvent);
}

// This program started again by RunAsClockPart: the network part. It gives
// up its privileges, asks for a step out of range, one in it, a second
// setting, then sends a message too long to be a request, which ends the
// other part, and asks once more; it writes down what it saw and ends with
// status 7, before any test runs.
const bool kNetworkPart = [] {
    wchar_t report[MAX_PATH] = {};
    wchar_t pipe[32] = {};
    if (::GetEnvironmentVariableW(kNetworkPartVariable, report, MAX_PATH) == 0)
        return false;
    ::GetEnvironmentVariableW(kClockPipeVariable, pipe, 32);
    std::ostringstream seen;
    const std::unique_ptr<Win32ClockPartLink> link = Win32ClockPartLink::FromEnvironment();
    seen << "pipe " << (link ? "found" : "missing") << "\n";
    std::string error;
    seen << "removed " << (RemovePrivilegesBut(nullptr, error) ? "all" : error) << "\n";
    seen << "system time privilege " << (HoldsSystemTimePrivilege() ? "held" : "gone") << "\n";
    for (const Span& step : {Span{1LL << 40, 0}, Span{-95, 0}, Span{1, 0}, Span{}, Span{1, 0}}) {
        if (!link)
            break;
        if (step == Span{}) {
            Send(reinterpret_cast<HANDLE>(std::wcstoull(pipe, nullptr, 10)), std::vector<std::uint8_t>(300, 1));
            continue;
        }
        const ClockSetResult result = link->StepSystemClock(step);
        seen << "answer " << result.ok << " " << result.errorNumber << " " << result.description << "\n";
    }
    test::WriteBytes(report, seen.str());
    ::ExitProcess(7);
}();

TEST(Win32PrivilegeSplit, TheNetworkPartAsksThePartThatKeepsTheRightAndItsStatusIsTheRuns)
{
    ASSERT_FALSE(kNetworkPart);
    test::TempFolder folder;
    const std::wstring report = folder.File(L"network-part.txt");
    ::SetEnvironmentVariableW(kNetworkPartVariable, report.c_str());
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::vector<Instant> set;
    const InstantSetter recorder = [&set](const Instant& t) {
        set.push_back(t);
        return ClockSetResult{true, 0, {}};
    };
    std::string error;
    const double before = ToDouble(SystemClockNow());
    const int status =
        RunAsClockPart(program, L"\"" + std::wstring(program) + L"\" --network-part", recorder, false, error);
    ::SetEnvironmentVariableW(kNetworkPartVariable, nullptr);
    EXPECT_EQ(status, 7) << error;
    ASSERT_EQ(set.size(), 1u);
    EXPECT_NEAR(ToDouble(set[0]) - before, -95.0, 5.0);
    // The rules' refusals in Windows' numbers.
    EXPECT_EQ(test::ReadBytes(report),
              "pipe found\n"
              "removed all\n"
              "system time privilege gone\n"
              "answer 0 1901 a step that far lies outside the times this program sets (" +
                  std::to_string(UtcDateTime(SettableTimes().earliest).year) +
                  "-01-01 to 2099-12-31)\n"
                  "answer 1 0 \n"
                  "answer 0 5 the clock was set once in this run already\n"
                  "answer 0 109 the part of the program that sets the clock has ended\n");
    // Only the network part got the pipe's end: no variable is left here.
    EXPECT_EQ(::GetEnvironmentVariableW(kClockPipeVariable, nullptr, 0), 0u);
}

}  // namespace
}  // namespace vel::platform
