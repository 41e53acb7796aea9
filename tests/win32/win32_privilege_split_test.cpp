// The machine's run in two parts on Windows: the loop of the part that keeps
// the right, over a message pipe in this process, and the whole split with
// this test program started again as the network part (which also checks
// the network part's end of the pipe). The clock is a
// recording setter's: no test moves one. Wine does not take privileges out
// of a restricted token nor lowers its integrity (see docs/ARCHITECTURE.md):
// what the network part removes itself is checked.
#include "platform/win32/win32_privilege_split.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_text.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const wchar_t* kNetworkPartVariable = L"VELTRANE_TEST_NETWORK_PART";

Bytes Request(const Span& step)
{
    const ClockRequestBytes bytes = EncodeClockRequest({ClockRequestKind::StepSystemClock, step});
    return {bytes.begin(), bytes.end()};
}

void Send(HANDLE pipe, const Bytes& message)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!::WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &overlapped)) {
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    EXPECT_TRUE(::GetOverlappedResult(pipe, &overlapped, &written, TRUE));
    ::CloseHandle(overlapped.hEvent);
}

// The answers waiting on the network part's end.
std::vector<ClockAnswer> Answers(HANDLE pipe)
{
    std::vector<ClockAnswer> answers;
    for (;;) {
        DWORD waiting = 0;
        if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0)
            return answers;
        unsigned char buffer[kClockAnswerSize];
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        DWORD size = 0;
        ::ReadFile(pipe, buffer, sizeof buffer, nullptr, &overlapped);
        ::GetOverlappedResult(pipe, &overlapped, &size, TRUE);
        ::CloseHandle(overlapped.hEvent);
        answers.push_back(DecodeClockAnswer({buffer, size}).value_or(ClockAnswer{}));
    }
}

const Instant kNow = InstantOfUtc({2026, 12, 8, 12, 0, 0});

struct Recorder {
    std::vector<Instant> set;
    InstantSetter Setter()
    {
        return [this](const Instant& t) {
            set.push_back(t);
            return ClockSetResult{true, 0, {}};
        };
    }
};

TEST(Win32ClockPipe, AnswersEachRequestAndEndsAtWhatIsNoRequest)
{
    const auto good = Request({-95, 0});
    auto longer = good;
    longer.push_back(0);
    const ClockAnswer set{ClockRequestKind::StepSystemClock, true, 0, ""};
    // The rules' refusals in Windows' numbers.
    const ClockAnswer outOfRange{ClockRequestKind::StepSystemClock, false, ERROR_INVALID_TIME,
                                 "a step that far lies outside the times this program sets (" +
                                     std::to_string(UtcDateTime(SettableTimes().earliest).year) +
                                     "-01-01 to 2099-12-31)"};
    const ClockAnswer again{ClockRequestKind::StepSystemClock, false, ERROR_ACCESS_DENIED,
                            "the clock was set once in this run already"};
    const struct {
        const char* name;
        std::vector<Bytes> messages;
        int status;
        const char* fault;
        std::vector<ClockAnswer> answers;
        std::size_t settings;
    } cases[] = {
        {"out of range, in range, again", {Request({1LL << 40, 0}), good, good}, 0, "", {outOfRange, set, again}, 1},
        {"a short message", {Bytes(good.begin(), good.end() - 1)}, 1, "no request: a message of 23 bytes", {}, 0},
        {"a long message", {longer, good}, 1, "no request: a message of 25 bytes", {}, 0},
        {"a long one after a request", {good, Bytes(300, 1)}, 1, "no request: a message of 300 bytes", {set}, 1},
    };
    for (const auto& [name, messages, status, fault, answers, settings] : cases) {
        SCOPED_TRACE(name);
        HANDLE server = nullptr;
        HANDLE client = nullptr;
        std::string error;
        ASSERT_TRUE(MakeClockPipe(server, client, error)) << error;
        for (const auto& message : messages)
            Send(client, message);
        // Ended at once where nothing more is waiting.
        const HANDLE ended = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);
        Recorder clock;
        ClockRequestRules rules(SettableTimes());
        std::string said;
        EXPECT_EQ(ServeClockPipe(
                      server, ended, [] { return kNow; }, clock.Setter(), rules, said),
                  status)
            << said;
        EXPECT_EQ(said, fault);
        EXPECT_EQ(Answers(client), answers);
        EXPECT_EQ(clock.set.size(), settings);
        for (const HANDLE handle : {server, client, ended})
            ::CloseHandle(handle);
    }
}

// This program started again by RunAsClockPart: the network part. It gives
// up its privileges, asks twice and writes down what it saw, then ends with
// status 7, before any test runs.
const bool kNetworkPart = [] {
    wchar_t report[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(kNetworkPartVariable, report, MAX_PATH) == 0)
        return false;
    std::ostringstream seen;
    const std::unique_ptr<Win32ClockPartLink> link = Win32ClockPartLink::FromEnvironment();
    seen << "pipe " << (link ? "found" : "missing") << "\n";
    std::string error;
    seen << "removed " << (RemovePrivilegesBut(nullptr, error) ? "all" : error) << "\n";
    seen << "system time privilege " << (HoldsSystemTimePrivilege() ? "held" : "gone") << "\n";
    if (link) {
        for (const Span& step : {Span{-95, 0}, Span{1, 0}}) {
            const ClockSetResult result = link->StepSystemClock(step);
            seen << "answer " << result.ok << " " << result.errorNumber << " " << result.description << "\n";
        }
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
    Recorder clock;
    std::string error;
    const double before = ToDouble(SystemClockNow());
    const int status =
        RunAsClockPart(program, L"\"" + std::wstring(program) + L"\" --network-part", clock.Setter(), false, error);
    ::SetEnvironmentVariableW(kNetworkPartVariable, nullptr);
    EXPECT_EQ(status, 7) << error;
    ASSERT_EQ(clock.set.size(), 1u);
    EXPECT_NEAR(ToDouble(clock.set[0]) - before, -95.0, 5.0);
    EXPECT_EQ(test::ReadBytes(report),
              "pipe found\n"
              "removed all\n"
              "system time privilege gone\n"
              "answer 1 0 \n"
              "answer 0 5 the clock was set once in this run already\n");
    // Only the network part got the pipe's end: no variable is left here.
    EXPECT_EQ(::GetEnvironmentVariableW(kClockPipeVariable, nullptr, 0), 0u);
}

}  // namespace
}  // namespace vel::platform
