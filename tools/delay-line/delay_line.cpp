// delay-line: a fixed delay each way between two TUN devices, for tests and
// benchmarks over a network path slower than loopback (the kernel here has
// no netem). Run it inside a private network namespace (`unshare -r -n`),
// then move one device into a second namespace: delay-net.sh does it all.
//
//   delay-line TUN_A TUN_B MS_A_TO_B MS_B_TO_A
//
// Makes both devices, goes to the background and prints its process id; from
// then on every packet read from one device is written to the other that
// many milliseconds later.
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

namespace {

struct Packet {
    long long due;  // monotonic nanoseconds
    std::string bytes;
};

long long Now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int OpenTun(const char* name)
{
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (fd < 0 || ::ioctl(fd, TUNSETIFF, &request) != 0) {
        std::perror(name);
        std::exit(2);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fputs("usage: delay-line TUN_A TUN_B MS_A_TO_B MS_B_TO_A\n", stderr);
        return 64;
    }
    const int fd[2] = {OpenTun(argv[1]), OpenTun(argv[2])};
    const long long delay[2] = {std::llround(std::atof(argv[3]) * 1e6), std::llround(std::atof(argv[4]) * 1e6)};
    std::fflush(stdout);
    if (const pid_t child = ::fork(); child != 0) {
        std::printf("%d\n", static_cast<int>(child));
        return child < 0 ? 2 : 0;
    }
    ::setsid();
    std::fclose(stdout);

    std::deque<Packet> queue[2];  // queue[i]: read from fd[i], to be written to the other
    char buffer[65536];
    for (;;) {
        long long wait = -1;
        for (const auto& q : queue)
            if (!q.empty() && (wait < 0 || q.front().due - Now() < wait))
                wait = std::max(0LL, q.front().due - Now());
        const timespec timeout{static_cast<time_t>(wait / 1000000000LL), static_cast<long>(wait % 1000000000LL)};
        pollfd ready[2] = {{fd[0], POLLIN, 0}, {fd[1], POLLIN, 0}};
        if (::ppoll(ready, 2, wait < 0 ? nullptr : &timeout, nullptr) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            for (ssize_t got; (ready[i].revents & POLLIN) && (got = ::read(fd[i], buffer, sizeof buffer)) > 0;)
                queue[i].push_back({Now() + delay[i], std::string(buffer, static_cast<std::size_t>(got))});
            for (auto& q = queue[i]; !q.empty() && q.front().due <= Now(); q.pop_front())
                if (::write(fd[1 - i], q.front().bytes.data(), q.front().bytes.size()) < 0) {
                    // a device that is down drops the packet, as a line would
                }
        }
    }
}
