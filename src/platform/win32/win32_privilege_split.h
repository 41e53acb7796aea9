// The machine's run on Windows where it may set the clock (the task's LOCAL
// SERVICE holds "Change the system time", SeSystemtimePrivilege) splits in
// two before it reads its settings or the network:
// - the part that keeps the right: the process the task started. It starts
//   the program again as the network part, with a restricted copy of its own
//   token (every privilege removed, medium integrity, so that the network
//   part can neither set the clock nor open this process), in a job that ends
//   it with this process; then it keeps SeSystemtimePrivilege alone, answers
//   the network part's requests on a message pipe (common/clock_request.h),
//   and ends with the network part's exit status;
// - the network part: the whole program as before, which finds its end of
//   the pipe in kClockPipeVariable, removes whatever privileges it still
//   has, and asks the other part to step the clock (Win32ClockPartLink).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "common/clock_request.h"
#include "platform/clock.h"
#include "platform/instant.h"

namespace vel::platform {

// Holds the network part's end of the pipe, as a handle number.
inline constexpr const wchar_t* kClockPipeVariable = L"VELTRANE_CLOCK_PIPE";

// Whether this process's token holds SeSystemtimePrivilege, enabled or not.
bool HoldsSystemTimePrivilege();

// Removes every privilege of this process's token for good
// (SE_PRIVILEGE_REMOVED) but `keep` (a privilege's name; nullptr: none) and
// SeChangeNotifyPrivilege (which every token has, to pass through folders).
// False with the reason in `error`.
bool RemovePrivilegesBut(const wchar_t* keep, std::string& error);

// Both ends of a new message pipe: `server` for this process, `client`
// inheritable and overlapped, for the network part. False with the reason.
bool MakeClockPipe(HANDLE& server, HANDLE& client, std::string& error);

// Sets the clock to an instant (the program: SetSystemClock; tests record).
using InstantSetter = std::function<ClockSetResult(const Instant&)>;

// Answers the requests on `pipe` (overlapped) one by one: each step is added
// to `now()` and handed to `set`. Returns 0 when the other end has closed it
// or `process` (when given: the network part) has ended; 1 after a message
// that is no request, left unanswered; 2 when the pipe failed: why in
// `fault`.
int ServeClockPipe(HANDLE pipe, HANDLE process, const std::function<Instant()>& now, const InstantSetter& set,
                   ClockRequestRules& rules, std::string& fault);

// The life of the part that keeps the right: starts `commandLine` (`program`
// with its arguments) as the network part and serves it until it ends;
// returns its exit status. With `keepOnlySystemTime` this process then
// removes every other privilege (the program; a test keeps its own). -1
// with the reason in `error` where the network part could not be started.
int RunAsClockPart(const std::wstring& program, const std::wstring& commandLine, const InstantSetter& set,
                   bool keepOnlySystemTime, std::string& error);

// The network part's end of the pipe.
class Win32ClockPartLink {
public:
    // Takes the handle (overlapped, message mode).
    explicit Win32ClockPartLink(HANDLE pipe) : pipe_(pipe) {}
    ~Win32ClockPartLink();
    Win32ClockPartLink(const Win32ClockPartLink&) = delete;
    Win32ClockPartLink& operator=(const Win32ClockPartLink&) = delete;

    // The pipe named by kClockPipeVariable, which is then removed from the
    // environment; null where it names none.
    static std::unique_ptr<Win32ClockPartLink> FromEnvironment();

    // Asks the other part to step the clock by `step` and waits for its
    // answer (5 seconds at most): ok, or its error number and text.
    ClockSetResult StepSystemClock(const Span& step);

private:
    HANDLE pipe_;
};

// The Windows error number of a refusal by the rules (their errno).
DWORD RefusalError(int errorNumber);

}  // namespace vel::platform
