// Runs the real program once, inside `unshare -r -n`: a private network
// namespace with only loopback (port 13 there is ours, nothing leaves the
// machine), in a user namespace where setting the clock fails with EPERM. The
// system bus is pointed at nothing (or at a test's private bus), so the
// machine's systemd-timedated and NetworkManager are never asked, and no
// display is inherited: every run is a quiet one or has none.
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
    std::string systemBus;      // DBUS_SYSTEM_BUS_ADDRESS; empty: an address where no bus is
};

struct ProgramRun {
    int exitStatus = -1;        // -1 when it did not exit normally
    double seconds = 0;         // wall time of the whole namespace
    Lines log;                  // the log's lines without their time stamps
    Lines stampedLog;           // the log's lines as written
    std::string output;         // standard output and error together
    int serverConnections = 0;  // connections the test server accepted
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
