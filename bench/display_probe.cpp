// What trying the display costs a window run before its windows open: the
// display probe (a forked child that makes a QApplication) beside making the
// QApplication itself, in wall time and CPU time (this process and its
// children).
//
//   display_probe [times]     (default 10)
//
// Uses whatever display the environment names (DISPLAY, WAYLAND_DISPLAY,
// QT_QPA_PLATFORM); each QApplication is made in a child of its own, as the
// probe's is, so every round starts alike.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/qt_display_probe.h"

namespace {

double CpuSeconds()
{
    rusage self{}, children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(self.ru_utime) + seconds(self.ru_stime) + seconds(children.ru_utime) + seconds(children.ru_stime);
}

template <typename Body>
void Measure(const char* label, int times, Body body)
{
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < times; ++i)
        body();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-34s %7.1f ms wall  %6.1f ms CPU  (each, %d times)\n", label, wall * 1e3 / times,
                (CpuSeconds() - cpu) * 1e3 / times, times);
}

}  // namespace

int main(int argc, char** argv)
{
    const int times = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const vel::platform::DisplayProbe probe = vel::platform::ProbeDisplay(argc, argv);
    std::printf("display: %s%s\n", probe.opened ? "opened" : probe.failure.c_str(),
                probe.opened ? (probe.seen ? ", seen" : ", nobody looks at it") : "");
    if (!probe.opened)
        return 1;
    Measure("display probe", times, [&] { vel::platform::ProbeDisplay(argc, argv); });
    Measure("QApplication (in a child process)", times, [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            QApplication qt(argc, argv);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    });
    return 0;
}
