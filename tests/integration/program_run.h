// Runs the real program once, inside `unshare -r -n`: a private network
// namespace with only loopback (port 13 there is ours, nothing leaves the
// machine), in a user namespace where setting the clock fails with EPERM. The
// system bus is pointed at nothing, so systemd-timedated cannot be asked
// either, and no display is inherited: every run is a quiet one or has none.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vel::integration {

using Lines = std::vector<std::string>;

struct RunOptions {
    std::string arguments;      // the program's command line
    std::string server;         // options of tools/daytime-server on 127.0.0.1:13; empty: none (refused)
    bool defaultRoute = true;   // a default route over loopback
    std::string path;           // the program's PATH; empty: inherited
    std::string home;           // VELTRANE_HOME; empty: the fixture's folder
    std::string timeZone;       // TZ of the program; empty: inherited
    // The stand-in for clock_settime (tests/preload), preloaded into the
    // program: "refuse" or "succeed"; empty: none.
    std::string clockStandIn;
};

// A call the stand-in saw.
struct ClockSetting {
    int clock = -1;                                // the clock named (CLOCK_REALTIME is 0)
    long long seconds = 0, nanoseconds = 0;        // the instant asked for
    long long nowSeconds = 0, nowNanoseconds = 0;  // the real clock at the request
    // How far the instant asked for is from the real clock then, in seconds.
    double FromNow() const { return (seconds - nowSeconds) + (nanoseconds - nowNanoseconds) / 1e9; }
};
struct Connection {
    std::string address;
    int port = 0;
    double monotonic = 0;  // when the connect began
};

struct ProgramRun {
    int exitStatus = -1;        // -1 when it did not exit normally
    double seconds = 0;         // wall time of the whole namespace
    Lines log;                  // the log's lines without their time stamps
    Lines stampedLog;           // the log's lines as written
    std::string output;         // standard output and error together
    int serverConnections = 0;  // connections the test server accepted
    // What the clock stand-in recorded (with clockStandIn only).
    std::vector<ClockSetting> clockSettings;
    std::vector<Connection> connections;  // the program's TCP connects
};

// A temporary program folder per test, and the run itself.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    void WriteSettings(const std::string& text) const;
    std::string ReadSettings() const;
    ProgramRun Run(const RunOptions& options) const;

    std::filesystem::path home;
};

std::string ReadFile(const std::filesystem::path& path);

// The lines appear in this order (others may come between); a line ending in
// "*" stands for any line that begins with what comes before it.
::testing::AssertionResult InOrder(const Lines& log, const Lines& expected);

}  // namespace vel::integration
