// How long a click or a stop signal waits while NetworkManager is slow: a
// NetworkManager (python-dbusmock on a private bus) that answers each call in
// 150 ms and holds 21 saved profiles, the entry dialled being the last.
//
//   slow_network_manager [moments]     (default 16)
//
// 1. In this process: the connection step of a MODEM run (the dial comes up
//    after a second), the entry list of the configuration dialog and the
//    hang-up, through the core over the real Qt event pump and the Linux
//    dial-up back end. A precise 2 ms timer counts how long the event loop
//    stood still at most: the longest a click would have waited.
// 2. The real build/veltrane in quiet mode, stopped by SIGTERM at `moments`
//    moments spread over its run: the time from the signal to its log line.
//
// Everything runs inside `unshare -r -n` (the program re-executes itself
// there). Exits 1 when a click or a signal waited 100 ms or more.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "connection/connection_strategy.h"
#include "connection/dun_library.h"
#include "log/log.h"
#include "platform/headless/headless_windows.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_dialup.h"
#include "platform/qt/qt_event_pump.h"
#include "support/dbus/private_bus.h"
#include "support/fakes.h"
#include "support/test_app.h"

namespace {

namespace fs = std::filesystem;
using namespace vel;

const char* const kInside = "VELTRANE_BENCH_IN_NAMESPACE";
const char* const kNetworkManager = "org.freedesktop.NetworkManager";
constexpr double kGoalMs = 100.0;

// 20 networks, then the modem profile the run dials: the lookup of its name
// asks for every profile.
std::string Parameters()
{
    std::string profiles;
    for (int i = 1; i <= 20; ++i)
        profiles += "[\"Network " + std::to_string(i) + "\", \"802-11-wireless\"], ";
    return R"({"State": 20, "Delay": 0.15, "ListedAfter": 0.3, "UpAfter": 1, "DownAfter": 0.5, "Profiles": [)" +
           profiles + R"(["Mobile", "gsm"]]})";
}

bool StartNetworkManager(test::PrivateSystemBus& bus)
{
    if (bus.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager, Parameters()))
        return true;
    std::fprintf(stderr, "slow_network_manager: %s\n", bus.Error().c_str());
    return false;
}

// Reads the PC clock; never sets it.
class ReadOnlyClock : public platform::Clock {
public:
    platform::ClockReading Read() override { return clock_.Read(); }
    double MonotonicSeconds() override { return clock_.MonotonicSeconds(); }
    platform::ClockSetResult SetTime(const platform::Instant&) override
    {
        return {false, 1, "the benchmark does not set the clock"};
    }
    platform::TimeService TimeServiceInCharge() override { return {}; }

private:
    platform::LinuxClock clock_;
};

// The longest time between two ticks of a 2 ms timer: how long the event
// loop stood still.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = std::max(longest_, since_.restart()); });
    }
    void Start()
    {
        longest_ = 0;
        since_.start();
        timer_.start();
    }
    double LongestMs()
    {
        longest_ = std::max(longest_, since_.elapsed());
        timer_.stop();
        return static_cast<double>(longest_);
    }

private:
    QTimer timer_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
};

double InProcess(const std::string& address, const fs::path& tree)
{
    ReadOnlyClock clock;
    platform::QtEventPump pump;
    test::FakeEnvironment environment;
    test::FakeProfileFile profile{environment};
    platform::HeadlessWindowSystem windows{pump};
    test::FakeSocket socket{pump};
    test::FakeDatagramSocket datagram{pump};
    platform::LinuxDialUpConfig config;
    // An empty system: no route, no interface, no peer; only NetworkManager.
    config.procRoot = (tree / "proc").string();
    config.sysRoot = (tree / "sys").string();
    config.peersFolder = (tree / "peers").string();
    config.searchPath = (tree / "bin").string();
    config.busAddress = address;
    platform::LinuxDialUp dialUp(config);
    test::FakeShell shell;
    App app{platform::Platform{clock, pump, environment, profile, windows, socket, dialUp, shell, datagram}};
    app.settings.ConnectionType = "MODEM";
    app.settings.Connectoid = "Mobile";
    OpenLog(app);

    StallMeter meter;
    double worst = 0;
    const auto step = [&](const char* what, auto work) {
        meter.Start();
        const double start = clock.MonotonicSeconds();
        work();
        const double wall = clock.MonotonicSeconds() - start;
        const double stall = meter.LongestMs();
        worst = std::max(worst, stall);
        std::printf("  %-34s %6.2f s wall   event loop still at most %7.1f ms\n", what, wall, stall);
    };
    std::printf("in this process: 21 profiles, each call answered in 150 ms\n");
    step("ConnectToInternet (MODEM, dial)", [&] { ConnectToInternet(app); });
    step("ListDialUpEntries (the dialog's)", [&] {
        std::int16_t count = 0;
        std::vector<std::string> names;
        ListDialUpEntries(app, count, names);
    });
    step("HangUpConnection (default entry)", [&] { HangUpConnection(app, GetDefaultConnectoid(app)); });
    for (const std::string& line : test::SplitLogLines(environment.files["/app/Veltrane.log"], false))
        std::printf("    log: %s\n", line.c_str());
    return worst;
}

struct Stop {
    double afterStart = 0;  // when the signal was sent, seconds after the start
    double toLogLine = -1;  // from the signal to its log line, ms; negative: none
    double toExit = -1;     // from the signal to the end of the program, ms
};

Stop StopAt(double moment, const fs::path& home, const std::string& address)
{
    Stop stop;
    stop.afterStart = moment;
    fs::remove(home / "Veltrane.log");
    std::ofstream(home / "Veltrane.INI", std::ios::binary)
        << "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=MODEM\r\n"
           "Connectoid=Mobile\r\nQuietMode=Y\r\nOnlyIfConnected=N\r\n";
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("VELTRANE_HOME", home.c_str(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        ::setenv("PATH", (home / "bin").c_str(), 1);  // no pon, no poff
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::unsetenv("QT_QPA_PLATFORM");
        if (FILE* quiet = std::freopen("/dev/null", "w", stderr); !quiet)
            ::_exit(126);
        ::execl(VELTRANE_EXE, VELTRANE_EXE, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(moment));
    int status = 0;
    if (::waitpid(child, &status, WNOHANG) == child)
        return stop;  // the run was over
    const auto signalled = Clock::now();
    ::kill(child, SIGTERM);
    const auto ms = [&](Clock::time_point t) {
        return std::chrono::duration<double, std::milli>(t - signalled).count();
    };
    for (;;) {
        if (stop.toLogLine < 0) {
            std::ifstream in(home / "Veltrane.log", std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            if (text.str().find("WARNING: stopped by signal SIGTERM") != std::string::npos)
                stop.toLogLine = ms(Clock::now());
        }
        if (::waitpid(child, &status, WNOHANG) == child) {
            stop.toExit = ms(Clock::now());
            break;
        }
        if (Clock::now() - start > std::chrono::seconds(60)) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return stop;
}

double RealProgram(int moments)
{
    std::string pattern = (fs::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1e9;
    const fs::path home = pattern;
    fs::create_directories(home / "bin");
    std::printf("the real program (quiet, MODEM), SIGTERM at %d moments\n", moments);
    std::printf("  %10s %16s %14s\n", "signal at", "to its log line", "to the end");
    double worst = 0;
    for (int i = 0; i < moments; ++i) {
        test::PrivateSystemBus bus;
        if (!bus.Error().empty() || !StartNetworkManager(bus))
            return 1e9;
        const Stop stop = StopAt(0.1 + 0.5 * i, home, bus.Address());
        if (stop.toExit < 0 && stop.toLogLine < 0) {
            std::printf("  %8.2f s   (the run had ended)\n", stop.afterStart);
            continue;
        }
        worst = std::max(worst, stop.toLogLine < 0 ? 1e9 : stop.toLogLine);
        std::printf("  %8.2f s %13.1f ms %11.1f ms\n", stop.afterStart, stop.toLogLine, stop.toExit);
    }
    fs::remove_all(home);
    return worst;
}

}  // namespace

int main(int argc, char** argv)
{
    const int moments = argc > 1 ? std::max(1, std::atoi(argv[1])) : 16;
    if (!std::getenv(kInside)) {
        // The real program runs in a private network and user namespace only.
        ::setenv(kInside, "1", 1);
        std::vector<char*> args = {const_cast<char*>("unshare"), const_cast<char*>("-r"), const_cast<char*>("-n")};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp("unshare", args.data());
        std::perror("slow_network_manager: unshare");
        return 1;
    }
    if (std::system("ip link set lo up") != 0) {
        std::fprintf(stderr, "slow_network_manager: cannot bring up loopback in the namespace\n");
        return 1;
    }
    QCoreApplication application(argc, argv);
    std::string pattern = (fs::temp_directory_path() / "veltrane-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path tree = pattern;
    double click = 0;
    {
        test::PrivateSystemBus bus;
        if (!bus.Error().empty() || !StartNetworkManager(bus))
            return 1;
        click = InProcess(bus.Address(), tree);
    }
    fs::remove_all(tree);
    const double signal = RealProgram(moments);
    std::printf("longest wait: a click %.1f ms, a signal %.1f ms (goal < %.0f ms)\n", click, signal, kGoalMs);
    return click < kGoalMs && signal < kGoalMs ? 0 : 1;
}
