#include "platform/win32/win32_privilege_split.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

constexpr DWORD kAnswerMilliseconds = 5000;

std::string Failed(const char* what, DWORD error = ::GetLastError())
{
    return std::string(what) + ": " + SystemErrorText(error);
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
    ~Handle()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }
    HANDLE* put() { return &handle_; }

private:
    HANDLE handle_;
};

// The privileges of this process's token; empty where it cannot be read.
std::vector<LUID_AND_ATTRIBUTES> OwnPrivileges()
{
    Handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size))
        return {};
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    return {held->Privileges, held->Privileges + held->PrivilegeCount};
}

bool IsPrivilege(const LUID& luid, const wchar_t* name)
{
    LUID named{};
    return name != nullptr && ::LookupPrivilegeValueW(nullptr, name, &named) && named.LowPart == luid.LowPart &&
           named.HighPart == luid.HighPart;
}

// A token the network part runs with: a copy of this process's without any
// privilege (DISABLE_MAX_PRIVILEGE keeps only SeChangeNotifyPrivilege), at
// medium integrity: a process at a lower level may not open one at a higher
// level (this process: a task runs at system level) to write or read it.
bool MakeNetworkPartToken(Handle& restricted, std::string& error)
{
    Handle own;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, own.put())) {
        error = Failed("OpenProcessToken");
        return false;
    }
    if (!::CreateRestrictedToken(own.get(), DISABLE_MAX_PRIVILEGE, 0, nullptr, 0, nullptr, 0, nullptr,
                                 restricted.put())) {
        error = Failed("CreateRestrictedToken");
        return false;
    }
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID medium = nullptr;
    if (!::AllocateAndInitializeSid(&authority, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0, 0, 0, &medium)) {
        error = Failed("AllocateAndInitializeSid");
        return false;
    }
    TOKEN_MANDATORY_LABEL label{};
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    label.Label.Sid = medium;
    const bool lowered = ::SetTokenInformation(restricted.get(), TokenIntegrityLevel, &label,
                                               static_cast<DWORD>(sizeof label + ::GetLengthSid(medium)));
    const DWORD lowerError = ::GetLastError();
    ::FreeSid(medium);
    if (!lowered) {
        error = Failed("SetTokenInformation", lowerError);
        return false;
    }
    return true;
}

// A copy of a standard handle the child may inherit; null where there is none.
HANDLE InheritableCopy(DWORD which)
{
    const HANDLE original = ::GetStdHandle(which);
    HANDLE copy = nullptr;
    if (original == nullptr || original == INVALID_HANDLE_VALUE ||
        !::DuplicateHandle(::GetCurrentProcess(), original, ::GetCurrentProcess(), &copy, 0, TRUE,
                           DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

// One message: `size` bytes written whole, or false.
bool WriteMessage(HANDLE pipe, const void* bytes, DWORD size)
{
    OVERLAPPED overlapped{};
    Handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = done.get();
    DWORD written = 0;
    if (!::WriteFile(pipe, bytes, size, nullptr, &overlapped) && ::GetLastError() != ERROR_IO_PENDING)
        return false;
    return ::GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == size;
}

enum class ReadOutcome { Message, Ended, Longer, TimedOut, Failed };

// One message into `buffer`, waiting for it at most `milliseconds` and no
// longer than `process` runs (when given). `size`: its length (for Longer:
// the whole message's, where the pipe can say).
ReadOutcome ReadMessage(HANDLE pipe, unsigned char* buffer, DWORD capacity, DWORD& size, HANDLE process,
                        DWORD milliseconds)
{
    OVERLAPPED overlapped{};
    Handle done(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = done.get();
    size = 0;
    const bool read = ::ReadFile(pipe, buffer, capacity, nullptr, &overlapped);
    // A message already there that does not fit fails at once.
    if (!read && ::GetLastError() != ERROR_IO_PENDING && ::GetLastError() != ERROR_MORE_DATA)
        return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadOutcome::Ended : ReadOutcome::Failed;
    const HANDLE waits[] = {done.get(), process};
    const DWORD woke = ::WaitForMultipleObjects(process != nullptr ? 2 : 1, waits, FALSE, milliseconds);
    if (woke != WAIT_OBJECT_0) {
        ::CancelIo(pipe);
        ::GetOverlappedResult(pipe, &overlapped, &size, TRUE);
        return woke == WAIT_OBJECT_0 + 1 ? ReadOutcome::Ended : ReadOutcome::TimedOut;
    }
    if (::GetOverlappedResult(pipe, &overlapped, &size, FALSE))
        return ReadOutcome::Message;
    switch (::GetLastError()) {
        case ERROR_MORE_DATA: {
            DWORD left = 0;
            if (::PeekNamedPipe(pipe, nullptr, 0, nullptr, nullptr, &left))
                size += left;
            return ReadOutcome::Longer;
        }
        case ERROR_BROKEN_PIPE:
            return ReadOutcome::Ended;
        default:
            return ReadOutcome::Failed;
    }
}

}  // namespace

bool HoldsSystemTimePrivilege()
{
    for (const LUID_AND_ATTRIBUTES& privilege : OwnPrivileges())
        if (IsPrivilege(privilege.Luid, SE_SYSTEMTIME_NAME))
            return true;
    return false;
}

bool RemovePrivilegesBut(const wchar_t* keep, std::string& error)
{
    std::vector<LUID_AND_ATTRIBUTES> removed;
    for (const LUID_AND_ATTRIBUTES& privilege : OwnPrivileges())
        if (!IsPrivilege(privilege.Luid, keep) && !IsPrivilege(privilege.Luid, SE_CHANGE_NOTIFY_NAME))
            removed.push_back({privilege.Luid, SE_PRIVILEGE_REMOVED});
    if (removed.empty())
        return true;
    std::vector<unsigned char> buffer(sizeof(TOKEN_PRIVILEGES) + removed.size() * sizeof(LUID_AND_ATTRIBUTES));
    auto* change = reinterpret_cast<TOKEN_PRIVILEGES*>(buffer.data());
    change->PrivilegeCount = static_cast<DWORD>(removed.size());
    std::copy(removed.begin(), removed.end(), change->Privileges);
    Handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()) ||
        !::AdjustTokenPrivileges(token.get(), FALSE, change, 0, nullptr, nullptr) ||
        ::GetLastError() != ERROR_SUCCESS) {
        error = Failed("AdjustTokenPrivileges");
        return false;
    }
    for (const LUID_AND_ATTRIBUTES& privilege : OwnPrivileges()) {
        if (!IsPrivilege(privilege.Luid, keep) && !IsPrivilege(privilege.Luid, SE_CHANGE_NOTIFY_NAME)) {
            error = "privileges left after AdjustTokenPrivileges";
            return false;
        }
    }
    return true;
}

bool MakeClockPipe(HANDLE& server, HANDLE& client, std::string& error)
{
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::wstring name = L"\\\\.\\pipe\\veltrane-clock-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter.QuadPart + attempt);
        // One instance, made here first: nobody else's pipe of that name.
        server =
            ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                               4096, 4096, 0, nullptr);
        if (server == INVALID_HANDLE_VALUE) {
            error = Failed("CreateNamedPipe");
            continue;
        }
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        client = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        DWORD mode = PIPE_READMODE_MESSAGE;
        ULONG clientProcess = 0;
        // Another process that connected first would leave us none.
        const bool ours =
            client != INVALID_HANDLE_VALUE &&
            (!::GetNamedPipeClientProcessId(server, &clientProcess) || clientProcess == ::GetCurrentProcessId()) &&
            ::SetNamedPipeHandleState(client, &mode, nullptr, nullptr);
        if (ours)
            return true;
        error = Failed("CreateFile");
        if (client != INVALID_HANDLE_VALUE)
            ::CloseHandle(client);
        ::CloseHandle(server);
    }
    server = client = nullptr;
    return false;
}

DWORD RefusalError(int errorNumber)
{
    return errorNumber == ERANGE ? ERROR_INVALID_TIME : ERROR_ACCESS_DENIED;
}

int ServeClockPipe(HANDLE pipe, HANDLE process, const std::function<Instant()>& now, const InstantSetter& set,
                   ClockRequestRules& rules, std::string& fault)
{
    for (;;) {
        unsigned char buffer[kClockRequestSize + 1];
        DWORD size = 0;
        switch (ReadMessage(pipe, buffer, sizeof buffer, size, process, INFINITE)) {
            case ReadOutcome::Ended:
                return 0;
            case ReadOutcome::Longer:
                fault = "no request: a message of " +
                        (size > sizeof buffer ? std::to_string(size) : std::string("more than 24")) + " bytes";
                return 1;
            case ReadOutcome::Message:
                break;
            default:
                fault = Failed("reading a request");
                return 2;
        }
        const std::optional<ClockRequest> request = DecodeClockRequest({buffer, size}, fault);
        if (!request) {
            fault = "no request: " + fault;
            return 1;
        }
        ClockAnswer answer;
        if (const std::optional<Instant> target = rules.Allow(*request, now(), answer)) {
            const ClockSetResult result = set(*target);
            answer = {request->kind, result.ok, result.errorNumber, result.description};
        } else {
            answer.errorNumber = static_cast<int>(RefusalError(answer.errorNumber));
        }
        const ClockAnswerBytes bytes = EncodeClockAnswer(answer);
        if (!WriteMessage(pipe, bytes.data(), static_cast<DWORD>(bytes.size()))) {
            fault = Failed("answering");
            return 2;
        }
    }
}

int RunAsClockPart(const std::wstring& program, const std::wstring& commandLine, const InstantSetter& set,
                   bool keepOnlySystemTime, std::string& error)
{
    Handle server, client, token;
    if (!MakeClockPipe(*server.put(), *client.put(), error) || !MakeNetworkPartToken(token, error))
        return -1;

    std::vector<HANDLE> inherited{client.get()};
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    Handle input(InheritableCopy(STD_INPUT_HANDLE)), output(InheritableCopy(STD_OUTPUT_HANDLE)),
        errors(InheritableCopy(STD_ERROR_HANDLE));
    if (output.get() != nullptr || errors.get() != nullptr) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = input.get();
        startup.StartupInfo.hStdOutput = output.get();
        startup.StartupInfo.hStdError = errors.get();
        for (const Handle* standard : {&input, &output, &errors})
            if (standard->get() != nullptr)
                inherited.push_back(standard->get());
    }
    // Only these handles reach the network part, whatever else is inheritable.
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (!::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) ||
        !::UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                     inherited.size() * sizeof(HANDLE), nullptr, nullptr)) {
        error = Failed("UpdateProcThreadAttribute");
        return -1;
    }

    // Ends the network part with this process, however this one ends (Task
    // Scheduler's stop ends the process it started).
    Handle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job.get() != nullptr)
        ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    const std::wstring pipeNumber = std::to_wstring(reinterpret_cast<std::uintptr_t>(client.get()));
    ::SetEnvironmentVariableW(kClockPipeVariable, pipeNumber.c_str());
    std::wstring line = commandLine;
    PROCESS_INFORMATION started{};
    const bool made =
        ::CreateProcessAsUserW(token.get(), program.c_str(), line.data(), nullptr, nullptr, TRUE,
                               EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, nullptr,
                               nullptr, &startup.StartupInfo, &started);
    const DWORD madeError = ::GetLastError();
    ::SetEnvironmentVariableW(kClockPipeVariable, nullptr);
    ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (!made) {
        error = Failed("CreateProcessAsUser", madeError);
        return -1;
    }
    Handle process(started.hProcess), thread(started.hThread);
    // Where this process is in a job that allows no other, the network part
    // still ends by itself, and without its pipe it can set nothing.
    if (job.get() != nullptr)
        ::AssignProcessToJobObject(job.get(), process.get());
    ::ResumeThread(thread.get());
    ::CloseHandle(*client.put());
    *client.put() = nullptr;

    if (keepOnlySystemTime) {
        std::string kept;
        if (!RemovePrivilegesBut(SE_SYSTEMTIME_NAME, kept))
            std::fprintf(stderr, "veltrane: the part that sets the clock keeps other rights: %s\n", kept.c_str());
    }
    ClockRequestRules rules(SettableTimes());
    std::string fault;
    const auto now = [] { return SystemClockNow(); };
    if (ServeClockPipe(server.get(), process.get(), now, set, rules, fault) != 0)
        std::fprintf(stderr, "veltrane: the part that sets the clock ends on %s\n", fault.c_str());
    std::fflush(stderr);
    ::CloseHandle(*server.put());
    *server.put() = nullptr;
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD status = 0;
    ::GetExitCodeProcess(process.get(), &status);
    return static_cast<int>(status);
}

Win32ClockPartLink::~Win32ClockPartLink()
{
    if (pipe_ != nullptr)
        ::CloseHandle(pipe_);
}

std::unique_ptr<Win32ClockPartLink> Win32ClockPartLink::FromEnvironment()
{
    wchar_t text[32] = {};
    const DWORD length = ::GetEnvironmentVariableW(kClockPipeVariable, text, 32);
    if (length == 0 || length >= 32)
        return nullptr;
    ::SetEnvironmentVariableW(kClockPipeVariable, nullptr);
    wchar_t* end = nullptr;
    const auto number = static_cast<std::uintptr_t>(std::wcstoull(text, &end, 10));
    if (end == text || *end != L'\0')
        return nullptr;
    const auto pipe = reinterpret_cast<HANDLE>(number);
    // None of the programs this one starts gets it.
    if (!::SetHandleInformation(pipe, HANDLE_FLAG_INHERIT, 0))
        return nullptr;
    return std::make_unique<Win32ClockPartLink>(pipe);
}

ClockSetResult Win32ClockPartLink::StepSystemClock(const Span& step)
{
    const std::string part = "the part of the program that sets the clock ";
    const ClockRequestBytes request = EncodeClockRequest({ClockRequestKind::StepSystemClock, step});
    if (!WriteMessage(pipe_, request.data(), static_cast<DWORD>(request.size())))
        return {false, ERROR_BROKEN_PIPE, part + "has ended"};
    unsigned char buffer[kClockAnswerSize + 1];
    DWORD size = 0;
    switch (ReadMessage(pipe_, buffer, sizeof buffer, size, nullptr, kAnswerMilliseconds)) {
        case ReadOutcome::Message:
            break;
        case ReadOutcome::TimedOut:
            return {false, ERROR_TIMEOUT, part + "did not answer"};
        case ReadOutcome::Ended:
            return {false, ERROR_BROKEN_PIPE, part + "has ended"};
        default:
            return {false, ERROR_INVALID_DATA, part + "gave an answer this program cannot read"};
    }
    const std::optional<ClockAnswer> answer = DecodeClockAnswer({buffer, size});
    if (!answer || answer->kind != ClockRequestKind::StepSystemClock)
        return {false, ERROR_INVALID_DATA, part + "gave an answer this program cannot read"};
    return {answer->ok, answer->errorNumber, answer->text};
}

}  // namespace vel::platform
