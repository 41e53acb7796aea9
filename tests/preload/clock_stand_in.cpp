// A stand-in for the system calls that set the clock, preloaded
// (LD_PRELOAD) into build/veltrane by the integration tests. It records what
// the program asks for and never touches the clock:
//   VELTRANE_STAND_IN_LOG    file that gets one line per call
//   VELTRANE_STAND_IN_CLOCK  "succeed": clock_settime pretends success;
//                            "move": it succeeds for this process alone: from
//                            then on the process reads the time of day
//                            (clock_gettime, gettimeofday, time) shifted so that
//                            it reads the instant set; the real clock stays;
//                            anything else: it refuses with EPERM
// Lines:
//   clock_settime ID SEC NSEC NOW_SEC NOW_NSEC PID   the request and the real clock then
//   connect ADDRESS PORT MONOTONIC_SEC PID           every TCP connect, with when it began
// (PID: the process that called).
// connect() is passed on to the C library; settimeofday() is refused too.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Record(const char* line)
{
    const char* path = std::getenv("VELTRANE_STAND_IN_LOG");
    if (!path || !*path)
        return;
    const int saved = errno;
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::size_t size = std::strlen(line);
        if (::write(fd, line, size) != static_cast<ssize_t>(size)) {
            // A test that cannot read the record fails on its own.
        }
        ::close(fd);
    }
    errno = saved;
}

// Nanoseconds the process's time of day is ahead of the real clock ("move").
std::atomic<long long> shift{0};

using ClockGetTime = int (*)(clockid_t, struct timespec*);
ClockGetTime RealClockGetTime()
{
    static const ClockGetTime real = reinterpret_cast<ClockGetTime>(::dlsym(RTLD_NEXT, "clock_gettime"));
    return real;
}

bool IsTimeOfDay(clockid_t id)
{
    return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

void Shift(timespec& t)
{
    const long long nanoseconds = static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec + shift.load();
    t.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    t.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1000000000L;
        --t.tv_sec;
    }
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* t) noexcept
{
    const ClockGetTime real = RealClockGetTime();
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    const int result = real(id, t);
    if (result == 0 && IsTimeOfDay(id))
        Shift(*t);
    return result;
}

extern "C" int gettimeofday(struct timeval* tv, void*) noexcept
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tv->tv_sec = now.tv_sec;
    tv->tv_usec = now.tv_nsec / 1000;
    return 0;
}

extern "C" time_t time(time_t* result) noexcept
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (result)
        *result = now.tv_sec;
    return now.tv_sec;
}

extern "C" int clock_settime(clockid_t id, const struct timespec* requested) noexcept
{
    timespec now{};
    if (const ClockGetTime real = RealClockGetTime())
        real(CLOCK_REALTIME, &now);
    char line[160];
    std::snprintf(line, sizeof line, "clock_settime %d %lld %ld %lld %ld %d\n", static_cast<int>(id),
                  static_cast<long long>(requested->tv_sec), requested->tv_nsec, static_cast<long long>(now.tv_sec),
                  now.tv_nsec, static_cast<int>(::getpid()));
    Record(line);
    const char* mode = std::getenv("VELTRANE_STAND_IN_CLOCK");
    if (mode && std::strcmp(mode, "succeed") == 0)
        return 0;
    if (mode && std::strcmp(mode, "move") == 0 && IsTimeOfDay(id)) {
        shift =
            (static_cast<long long>(requested->tv_sec) - now.tv_sec) * 1000000000LL + requested->tv_nsec - now.tv_nsec;
        return 0;
    }
    errno = EPERM;
    return -1;
}

extern "C" int settimeofday(const struct timeval*, const struct timezone*) noexcept
{
    Record("settimeofday\n");
    errno = EPERM;
    return -1;
}

extern "C" int connect(int fd, const struct sockaddr* address, socklen_t length)
{
    using Connect = int (*)(int, const struct sockaddr*, socklen_t);
    static const Connect next = reinterpret_cast<Connect>(::dlsym(RTLD_NEXT, "connect"));
    if (address && (address->sa_family == AF_INET || address->sa_family == AF_INET6)) {
        char text[INET6_ADDRSTRLEN] = "?";
        int port = 0;
        if (address->sa_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(address);
            ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
            port = ntohs(in->sin_port);
        } else {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
            ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
            port = ntohs(in6->sin6_port);
        }
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        char line[160];
        std::snprintf(line, sizeof line, "connect %s %d %lld.%09ld %d\n", text, port,
                      static_cast<long long>(now.tv_sec), now.tv_nsec, static_cast<int>(::getpid()));
        Record(line);
    }
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, address, length);
}
