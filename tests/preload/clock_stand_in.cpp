// A stand-in for the system calls that set the clock, preloaded
// (LD_PRELOAD) into build/veltrane by the integration tests. It records what
// the program asks for and never touches the clock:
//   VELTRANE_STAND_IN_LOG    file that gets one line per call
//   VELTRANE_STAND_IN_CLOCK  "succeed": clock_settime pretends success;
//                            anything else: it refuses with EPERM
// Lines:
//   clock_settime ID SEC NSEC NOW_SEC NOW_NSEC   the request and the real clock then
//   connect ADDRESS PORT MONOTONIC_SEC           every TCP connect, with when it began
// connect() is passed on to the C library; settimeofday() is refused too.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

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

}  // namespace

extern "C" int clock_settime(clockid_t id, const struct timespec* requested) noexcept
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char line[160];
    std::snprintf(line, sizeof line, "clock_settime %d %lld %ld %lld %ld\n", static_cast<int>(id),
                  static_cast<long long>(requested->tv_sec), requested->tv_nsec, static_cast<long long>(now.tv_sec),
                  now.tv_nsec);
    Record(line);
    const char* mode = std::getenv("VELTRANE_STAND_IN_CLOCK");
    if (mode && std::strcmp(mode, "succeed") == 0)
        return 0;
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
        std::snprintf(line, sizeof line, "connect %s %d %lld.%09ld\n", text, port, static_cast<long long>(now.tv_sec),
                      now.tv_nsec);
        Record(line);
    }
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, address, length);
}
