// Runs the real program once, inside `unshare -r -n`: a private network
// namespace with only loopback (port 13 there is ours, nothing leaves the
// machine), in a user namespace where setting the clock fails with EPERM. The
// system bus is pointed at nothing (or at a test's private bus), so the
// machine's systemd-timedated and NetworkManager are never asked, and no
// display is inherited: every run is a quiet one, has none, or draws on Qt's
// offscreen platform.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_app.h"

namespace vel::integration {

using Lines = std::vector<std::string>;

// A server refused on TCP 13 is asked over NTP, where nobody listens either.
inline const std::string kAskedOverNtp = "the server does not answer on the Daytime port; asked it over NTP";
inline const std::string kRefusedBothWays =
    "ERROR: winsock error - 10061 Connection refused; over NTP: winsock error - 10061 Connection refused";

struct RunOptions {
    std::string arguments;  // the program's command line
    std::string server;     // options of tools/daytime-server on 127.0.0.1:13; empty: none (refused)
    // An NTP server on port 123 beside the Daytime one: "chrony" for Debian's
    // chronyd in server mode (no clock rights: -x), any other text the
    // options of tools/sntp-server; empty: none.
    std::string ntp;
    // The lines of /etc/hosts as the program sees it (bound over it in a
    // mount namespace of the run's own); empty: the machine's.
    std::string hosts;
    // "OUT BACK": milliseconds each way to the server, which is then
    // 10.13.0.2:13, one delay line away (tools/delay-line); empty: loopback.
    std::string delayLine;
    bool defaultRoute = true;  // a default route over loopback
    std::string path;          // the program's PATH; empty: inherited
    std::string home;          // VELTRANE_HOME; empty: the fixture's folder
    std::string systemBus;     // DBUS_SYSTEM_BUS_ADDRESS; empty: an address where no bus is
    bool offscreen = false;    // a display: Qt's offscreen platform
    std::string environment;   // more of the program's environment, "NAME=value ..."
    int instances = 1;         // programs started at once, in one namespace
    std::string timeZone;      // TZ of the program; empty: inherited
    // The stand-in for clock_settime (tests/preload), preloaded into the
    // program: "refuse", "succeed" or "move" (the program's own clock moves);
    // empty: none.
    std::string clockStandIn;
    // The machine's folders are the test's: MachineSettingsFolder() bound
    // over /etc/veltrane, MachineLogFolder() over /var/log/veltrane,
    // MachineStateFolder() and MachineMetricsFolder() over the machine's
    // folders in /var/lib, in a mount namespace of the run's own (where /etc,
    // /var/log and /var/lib are overlays that vanish with it); the log is
    // collected from there.
    bool machineFolders = false;
    // More servers in the namespace, started before the program: each
    // command goes to the background by itself and prints its process id
    // last (as daytime-server --background does); they are stopped after
    // the run. Not with delayLine.
    std::vector<std::string> helpers;
    // Started with only what the system service gives: CAP_SYS_TIME in the
    // ambient and bounding sets, no_new_privs, and root's uid without root's
    // rights (securebits noroot), through setpriv.
    bool asService = false;
};

// A call the stand-in saw.
struct ClockSetting {
    int clock = -1;                                // the clock named (CLOCK_REALTIME is 0)
    long long seconds = 0, nanoseconds = 0;        // the instant asked for
    long long nowSeconds = 0, nowNanoseconds = 0;  // the real clock at the request
    int pid = 0;                                   // the process that asked
    // How far the instant asked for is from the real clock then, in seconds.
    double FromNow() const { return (seconds - nowSeconds) + (nanoseconds - nowNanoseconds) / 1e9; }
};
struct Connection {
    std::string address;
    int port = 0;
    double monotonic = 0;  // when the connect began
    int pid = 0;           // the process that connected
};

struct ProgramRun {
    int exitStatus = -1;                // -1 when it did not exit normally
    int signal = 0;                     // the signal that ended it, when one did
    std::vector<int> exitStatuses;      // of every instance, in order of start
    double seconds = 0;                 // wall time of the whole namespace
    Lines log;                          // the log's lines without their time stamps
    Lines stampedLog;                   // the log's lines as written
    std::string output;                 // standard output, then standard error
    std::string standardError;          // standard error alone
    int serverConnections = 0;          // connections the test server accepted
    std::vector<double> serverAccepts;  // when it accepted each (monotonic seconds)
    double serverLateness = 0;          // seconds: the latest any on-time line was sent
    // What the clock stand-in recorded (with clockStandIn only).
    std::vector<ClockSetting> clockSettings;
    std::vector<Connection> connections;  // the program's TCP connects
};

// A program started by ProgramTest::Start, running while the test watches:
// its process is the program itself (unshare and sh exec it), the leader of
// a process group of its own.
class RunningProgram {
public:
    RunningProgram(pid_t pid, std::filesystem::path home, std::filesystem::path scratch)
        : pid_(pid), home_(std::move(home)), scratch_(std::move(scratch))
    {}
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t Pid() const { return pid_; }
    // Waits until the log holds a line that begins with `text`; false when
    // the program ended or `seconds` passed first.
    bool WaitForLogLine(const std::string& text, double seconds);
    // Whether the program is still running after `seconds`.
    bool StillRunningAfter(double seconds);
    void Signal(int number);       // to the program
    void SignalGroup(int number);  // to the program and what it started
    // Waits for its end (killed after `seconds`) and collects it.
    ProgramRun Finish(double seconds);

private:
    bool Reap(int options);
    pid_t pid_;
    int status_ = 0;
    bool ended_ = false;
    std::filesystem::path home_, scratch_;
};

// A temporary program folder per test, and the run itself.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteSettings(const std::string& text) const;
    std::string ReadSettings() const;
    // The folders that stand for /etc/veltrane and /var/log/veltrane (made
    // on first use).
    std::filesystem::path MachineSettingsFolder() const;
    std::filesystem::path MachineLogFolder() const;
    // Bound over /var/lib/veltrane and /var/lib/prometheus/node-exporter.
    std::filesystem::path MachineStateFolder() const;
    std::filesystem::path MachineMetricsFolder() const;
    ProgramRun Run(const RunOptions& options) const;
    // Starts the program (one instance, no delay line) and returns at once.
    std::unique_ptr<RunningProgram> Start(const RunOptions& options) const;

    std::filesystem::path home;
};

std::string ReadFile(const std::filesystem::path& path);

// A log's lines without their line ends: as written, and without the time stamps.
void SplitLog(const std::string& log, Lines& stamped, Lines& texts);

using test::InOrder;

}  // namespace vel::integration
