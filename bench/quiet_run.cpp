// How fast and lean a quiet run is, and how exact its correction.
//
//   build/bench/quiet_run [runs]
//
// 1. The real build/veltrane in quiet mode against build/daytime-server on
//    127.0.0.1 port 13, with the clock correct, inside `unshare -r -n` (the
//    program re-executes itself there: no traffic leaves the machine and the
//    clock cannot be set). Per run: the wall time beyond the 3-second exit
//    countdown (goal under 50 ms), the CPU time of the whole run (goal under 2%
//    of its wall time) and the peak resident memory (goal under 25 MB).
// 2. In virtual time, 1000 corrections with random sub-second phases of the PC
//    clock and of the server and a round trip of 0 to 50 ms (alike both ways):
//    the clock error left, for a NIST server that sends its line on time
//    (goal: under 5 ms) and for a short-layout server, whose second is found
//    by further answers (goal: under 20 ms).
#include <sys/resource.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/linux/linux_clock.h"

#ifdef VELTRANE_HAVE_TEST_SUPPORT
#include "app/app.h"
#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"
#include "timesource/time_query.h"
#endif

namespace {

namespace fs = std::filesystem;

const char* const kInside = "VELTRANE_BENCH_IN_NAMESPACE";

struct Sample {
    double wall = 0;
    double cpu = 0;
    long maxRssKb = 0;
    int exitStatus = -1;
};

Sample RunOnce(const fs::path& home)
{
    vel::platform::LinuxClock clock;
    const double start = clock.MonotonicSeconds();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("VELTRANE_HOME", home.c_str(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/veltrane-bench", 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        if (FILE* quiet = std::freopen("/dev/null", "w", stderr); !quiet)
            ::_exit(126);
        ::execl(VELTRANE_EXE, VELTRANE_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    Sample sample;
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    sample.wall = clock.MonotonicSeconds() - start;
    sample.cpu =
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    sample.maxRssKb = usage.ru_maxrss;
    sample.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return sample;
}

int RealRuns(int runs)
{
    if (std::system("ip link set lo up && ip route add default dev lo") != 0) {
        std::fprintf(stderr, "quiet_run: cannot bring up loopback in the namespace\n");
        return 1;
    }
    FILE* server = ::popen(DAYTIME_SERVER_EXE " --address 127.0.0.1 --port 13 --background 2>/dev/null", "r");
    int serverPid = 0;
    char line[128];
    if (!server || !std::fgets(line, sizeof line, server) || !std::fgets(line, sizeof line, server) ||
        std::sscanf(line, "%d", &serverPid) != 1) {
        std::fprintf(stderr, "quiet_run: the test server did not start\n");
        return 1;
    }
    ::pclose(server);

    std::string pattern = (fs::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path home = pattern;
    std::ofstream(home / "Veltrane.INI", std::ios::binary)
        << "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n";

    std::printf("quiet run, clock correct, %d runs (exit countdown 3 s)\n", runs);
    std::printf("%4s %10s %12s %10s %9s %5s\n", "run", "wall s", "beyond 3 s", "cpu ms", "cpu %", "MB");
    Sample worst;
    std::vector<double> beyond;
    bool allOk = true;
    for (int i = 1; i <= runs; ++i) {
        const Sample s = RunOnce(home);
        allOk = allOk && s.exitStatus == 0;
        std::printf("%4d %10.3f %9.1f ms %10.1f %8.2f%% %5.1f%s\n", i, s.wall, (s.wall - 3.0) * 1000, s.cpu * 1000,
                    100 * s.cpu / s.wall, s.maxRssKb / 1024.0, s.exitStatus == 0 ? "" : "  (exit status not 0)");
        beyond.push_back((s.wall - 3.0) * 1000);
        worst.wall = std::max(worst.wall, s.wall);
        worst.cpu = std::max(worst.cpu, s.cpu);
        worst.maxRssKb = std::max(worst.maxRssKb, s.maxRssKb);
    }
    ::kill(serverPid, SIGTERM);
    std::string log;
    {
        std::ifstream in(home / "Veltrane.log");
        for (std::string l; std::getline(in, l);)
            log = l;
    }
    fs::remove_all(home);

    std::sort(beyond.begin(), beyond.end());
    std::printf(
        "beyond the countdown: median %.1f ms, worst %.1f ms (goal < 50); cpu at most %.2f%% of wall "
        "(goal < 2%%); peak %.1f MB (goal < 25)\n",
        beyond[beyond.size() / 2], beyond.back(), 100 * worst.cpu / worst.wall, worst.maxRssKb / 1024.0);
    std::printf("last log line: %s\n", log.c_str());
    return allOk ? 0 : 1;
}

#ifdef VELTRANE_HAVE_TEST_SUPPORT
using vel::test::DaytimePeer;

// One correction in virtual time: the PC clock `pcError` seconds ahead of the
// true time, a server of the given layout `oneWay` seconds away each way.
// Returns the PC clock's error left, in seconds (positive: ahead).
double CorrectionError(DaytimePeer::Layout layout, double advance, double pcError, double phase, double oneWay)
{
    vel::test::TestApp t;
    t.app.settings.NTPServer = "127.0.0.1";
    t.app.settings.Tolerance = 0;
    t.app.settings.PCOffset = 0;
    t.clock.Advance(phase);
    DaytimePeer server(t.clock, t.pump, t.socket);
    server.layout = layout;
    server.advance = advance;
    server.outbound = server.transit = oneWay;
    server.PcAheadBy(pcError);
    if (!vel::GetServerTime(t.app)) {
        std::fprintf(stderr, "quiet_run: virtual query failed: %s\n", t.app.query.TimeError.c_str());
        std::exit(1);
    }
    vel::CompareAndCorrect(t.app);
    return vel::platform::ToDouble(t.clock.NowUtc() - server.TrueTime());
}

struct Residual {
    double worst = 0;  // largest error left
    double sum = 0;
};

void VirtualRuns(int runs)
{
    struct Case {
        const char* name;
        DaytimePeer::Layout layout;
        double advance;
        double goal;  // seconds of error left
    };
    const Case cases[] = {
        {"NIST on time, msADV 0 ms ", DaytimePeer::Layout::NistOnTime, 0.0, 0.005},
        {"NIST on time, msADV 50 ms", DaytimePeer::Layout::NistOnTime, 0.050, 0.005},
        {"short layout             ", DaytimePeer::Layout::Short, 0.0, 0.020},
    };
    const double maxTrip = 0.05;
    std::printf("virtual time, %d corrections each: random phases, PC 2 to 1000 s off, round trip 0 to %.0f ms\n", runs,
                maxTrip * 1000);
    bool allMet = true;
    for (const Case& c : cases) {
        std::mt19937_64 random(20250203);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        Residual r;
        for (int i = 0; i < runs; ++i) {
            const double magnitude = 2 + unit(random) * 998;
            const double pcError = unit(random) < 0.5 ? -magnitude : magnitude;
            const double phase = unit(random);
            const double oneWay = unit(random) * maxTrip / 2;
            const double error = std::fabs(CorrectionError(c.layout, c.advance, pcError, phase, oneWay));
            r.worst = std::max(r.worst, error);
            r.sum += error;
        }
        allMet = allMet && r.worst < c.goal;
        std::printf("  %s  largest error %6.3f ms, mean %6.3f ms (goal < %.0f ms)\n", c.name, r.worst * 1000,
                    r.sum / runs * 1000, c.goal * 1000);
    }
    if (!allMet)
        std::printf("  goal missed\n");
}
#endif

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    if (!std::getenv(kInside)) {
#ifdef VELTRANE_HAVE_TEST_SUPPORT
        VirtualRuns(1000);
#else
        std::printf("virtual-time part not built (configure with the tests)\n");
#endif
        std::fflush(stdout);
        // The real runs happen in a private network and user namespace only.
        ::setenv(kInside, "1", 1);
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("-r"), const_cast<char*>("-n")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("unshare", args.data());
        std::perror("quiet_run: unshare");
        return 1;
    }
    return RealRuns(runs);
}
