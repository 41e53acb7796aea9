#include "platform/linux/privilege_split.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/clock_request.h"
#include "platform/linux/privileged_clock.h"

namespace vel::platform {

namespace {

constexpr int kNone = -1;  // no capability to keep
constexpr int kAnswerMilliseconds = 5000;

using CapabilityData = __user_cap_data_struct[_LINUX_CAPABILITY_U32S_3];

// The C library has no wrapper for these two; the kernel's interface is
// stable and small.
bool ReadCapabilities(CapabilityData& data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(SYS_capget, &header, &data[0]) == 0;
}

bool Has(const CapabilityData& data, int capability, bool effective)
{
    const __u32 bit = __u32{1} << (capability % 32);
    return ((effective ? data[capability / 32].effective : data[capability / 32].permitted) & bit) != 0;
}

std::string Failed(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Each capability but `keep` out of the bounding set, where this process may
// change it (CAP_SETPCAP); otherwise the set stays, which no_new_privs makes
// harmless: no program started later gains what it holds.
bool NarrowBoundingSet(int keep, std::string& error)
{
    CapabilityData data{};
    if (!ReadCapabilities(data)) {
        error = Failed("capget");
        return false;
    }
    if (!Has(data, CAP_SETPCAP, true))
        return true;
    for (int capability = 0;; ++capability) {
        const int held = ::prctl(PR_CAPBSET_READ, capability, 0, 0, 0);
        if (held < 0)
            return true;  // past the last capability this kernel knows
        if (held == 1 && capability != keep && ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
            error = Failed("PR_CAPBSET_DROP");
            return false;
        }
    }
}

// The effective and permitted sets hold `keep` alone (or nothing), the
// inheritable and ambient sets nothing; no_new_privs. Checked afterwards.
bool KeepOnly(int keep, std::string& error)
{
    if (!NarrowBoundingSet(keep, error))
        return false;
    CapabilityData data{};
    if (keep != kNone) {
        data[keep / 32].effective = __u32{1} << (keep % 32);
        data[keep / 32].permitted = data[keep / 32].effective;
    }
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    if (::syscall(SYS_capset, &header, &data[0]) != 0) {
        error = Failed("capset");
        return false;
    }
    // Kernels before 4.3 know no ambient set (EINVAL): nothing to clear.
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
        error = Failed("PR_CAP_AMBIENT_CLEAR_ALL");
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = Failed("PR_SET_NO_NEW_PRIVS");
        return false;
    }
    CapabilityData now{};
    if (!ReadCapabilities(now)) {
        error = Failed("capget");
        return false;
    }
    for (std::size_t i = 0; i < _LINUX_CAPABILITY_U32S_3; ++i) {
        if (now[i].effective != data[i].effective || now[i].permitted != data[i].permitted || now[i].inheritable != 0) {
            error = "capabilities left after capset";
            return false;
        }
    }
    return true;
}

// Only the socket (as descriptor 3) and standard error stay open; standard
// input and output read and write nothing.
void CloseAllBut(int fd)
{
    if (fd != 3 && ::dup2(fd, 3) != 3)
        ::_exit(3);
    if (::syscall(SYS_close_range, 4U, ~0U, 0U) != 0) {
        for (int other = 4; other < 1024; ++other)
            ::close(other);
    }
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        if (null > 3)
            ::close(null);
    }
}

[[noreturn]] void RunClockPart(int fd, pid_t parent)
{
    // Gone with the network part, even where it could not close the socket.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (::getppid() != parent)
        ::_exit(0);
    // A stop (systemd's SIGTERM to the whole service, Ctrl+C to the
    // terminal's group) is the network part's to handle: it logs it and
    // ends, and with it the socket.
    for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        ::signal(number, SIG_IGN);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::prctl(PR_SET_NAME, "veltrane-clock", 0, 0, 0);
    CloseAllBut(fd);
    std::string error;
    if (!KeepOnlyClockRight(error)) {
        std::fprintf(stderr, "veltrane: the part that sets the clock could not drop its other rights: %s\n",
                     error.c_str());
        ::_exit(3);
    }
    SystemClockAccess clock;
    ClockRequestRules rules(SettableTimes());
    std::string fault;
    const int status = ServeClockRequests(3, clock, rules, fault);
    if (status != 0)
        std::fprintf(stderr, "veltrane: the part that sets the clock ends on %s\n", fault.c_str());
    ::_exit(status);
}

double Monotonic()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

bool HoldsClockRight()
{
    CapabilityData data{};
    return ReadCapabilities(data) && Has(data, CAP_SYS_TIME, false);
}

bool DropEveryCapability(std::string& error)
{
    return KeepOnly(kNone, error);
}

bool KeepOnlyClockRight(std::string& error)
{
    if (!KeepOnly(CAP_SYS_TIME, error))
        return false;
    // Neither a core file nor another process of the same user may read it.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
        error = Failed("PR_SET_DUMPABLE");
        return false;
    }
    return true;
}

std::unique_ptr<ClockPartLink> ClockPartLink::Split(std::string& error)
{
    std::unique_ptr<ClockPartLink> link;
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        link = std::make_unique<ClockPartLink>(-1, 0, Failed("socketpair"));
    } else {
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pair[0]);
            RunClockPart(pair[1], parent);
        }
        const std::string failure = child < 0 ? Failed("fork") : std::string();
        ::close(pair[1]);
        if (child < 0)
            ::close(pair[0]);
        link = std::make_unique<ClockPartLink>(child < 0 ? -1 : pair[0], child < 0 ? 0 : child, failure);
    }
    if (!DropEveryCapability(error))
        return nullptr;  // the link closes and waits for the other part
    return link;
}

ClockPartLink::~ClockPartLink()
{
    Close();
}

ClockSetResult ClockPartLink::StepSystemClock(const Span& step)
{
    const std::string part = "the part of the program that sets the clock ";
    if (!failure_.empty())
        return {false, EAGAIN, part + "could not be started: " + failure_};
    const auto ended = [&part](int number) { return ClockSetResult{false, number, part + "has ended"}; };
    if (fd_ < 0)
        return ended(EPIPE);
    const ClockRequestBytes request = EncodeClockRequest({ClockRequestKind::StepSystemClock, step});
    ssize_t sent = 0;
    do
        sent = ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(request.size()))
        return ended(sent < 0 ? errno : EPIPE);

    const double deadline = Monotonic() + kAnswerMilliseconds / 1000.0;
    for (;;) {
        pollfd wait{fd_, POLLIN, 0};
        const int left = static_cast<int>((deadline - Monotonic()) * 1000) + 1;
        const int ready = left > 0 ? ::poll(&wait, 1, left) : 0;
        if (ready > 0)
            break;
        if (ready == 0)
            return {false, ETIMEDOUT, part + "did not answer"};
        if (errno != EINTR)
            return ended(errno);
    }
    std::uint8_t buffer[kClockAnswerSize + 1];
    ssize_t size = 0;
    do
        size = ::recv(fd_, buffer, sizeof buffer, 0);
    while (size < 0 && errno == EINTR);
    if (size <= 0)
        return ended(size < 0 ? errno : EPIPE);
    const std::optional<ClockAnswer> answer = DecodeClockAnswer({buffer, static_cast<std::size_t>(size)});
    if (!answer || answer->kind != ClockRequestKind::StepSystemClock)
        return {false, EPROTO, part + "gave an answer this program cannot read"};
    if (!answer->ok)
        return {false, answer->errorNumber, answer->text};
    ClockSetResult result{true, 0, {}};
    result.hardwareClock = answer->text;
    return result;
}

void ClockPartLink::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (pid_ <= 0)
        return;
    // It ends as soon as it reads the end of the socket.
    const double deadline = Monotonic() + 1.0;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Monotonic() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
    pid_ = 0;
}

}  // namespace vel::platform
