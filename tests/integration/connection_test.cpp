// The connection step of the real program, inside a private network namespace
// (unshare -r -n): with only loopback, and with a default route over it.
// Nothing listens on port 13 there, so the time query fails at once and the
// run ends through its failure branch; the clock cannot be set in the
// namespace either way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kServer = "127.0.0.1 (local test server)";

struct ProgramRun {
    int exitCode = -1;
    double seconds = 0;
    Lines log;  // without time stamps
};

class ConnectionIntegration : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-connection-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home = pattern;
        // The program's PATH: an empty folder, so that no nmcli, pon or poff
        // of this machine is ever found.
        fs::create_directories(home + "/bin");
    }
    void TearDown() override { fs::remove_all(home); }

    void Settings(const std::string& connectionType, const std::string& connectoid,
                  const std::string& onlyIfConnected)
    {
        std::ofstream(home + "/Veltrane.INI", std::ios::binary)
            << "[Main]\r\nNTPServer=" << kServer << "\r\nDelay=3\r\nQuietMode=Y\r\nConnectionType=" << connectionType
            << "\r\nConnectoid=" << connectoid << "\r\nOnlyIfConnected=" << onlyIfConnected << "\r\n";
    }

    ProgramRun RunProgram(bool defaultRoute)
    {
        const std::string script = std::string("ip link set lo up || exit 97; ") +
                                   (defaultRoute ? "ip route add default dev lo || exit 98; " : "") + "PATH='" +
                                   home + "/bin' exec '" + VELTRANE_EXE + "'";
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("VELTRANE_HOME", home.c_str(), 1);
            for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                ::unsetenv(name);
            const std::string output = home + "/output.txt";
            if (FILE* out = std::freopen(output.c_str(), "w", stdout))
                ::dup2(::fileno(out), STDERR_FILENO);
            ::execlp("unshare", "unshare", "-r", "-n", "/bin/sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ProgramRun run;
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            return run;
        }
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid)
                break;
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(60)) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                ADD_FAILURE() << "the program did not end within 60 seconds";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

        std::ifstream in(home + "/Veltrane.log", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string all = text.str();
        for (std::size_t at = 0; at < all.size();) {
            std::size_t end = all.find("\r\n", at);
            if (end == std::string::npos)
                end = all.size();
            const std::string line = all.substr(at, end - at);
            run.log.push_back(line.size() >= 17 ? line.substr(17) : line);
            at = end + 2;
        }
        return run;
    }

    std::string Output() const
    {
        std::ifstream in(home + "/output.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string home;
};

// The lines appear in this order; a line ending in "*" stands for any line
// that begins with what comes before it.
::testing::AssertionResult InOrder(const Lines& log, const Lines& expected)
{
    auto at = log.begin();
    for (const std::string& want : expected) {
        const bool prefix = !want.empty() && want.back() == '*';
        const std::string text = prefix ? want.substr(0, want.size() - 1) : want;
        at = std::find_if(at, log.end(),
                          [&](const std::string& line) { return prefix ? line.rfind(text, 0) == 0 : line == text; });
        if (at == log.end()) {
            std::string shown;
            for (const auto& line : log)
                shown += "\n  " + line;
            return ::testing::AssertionFailure() << "missing or out of order: \"" << want << "\" in the log:" << shown;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(ConnectionIntegration, DefaultRouteIsALanConnection)
{
    Settings("LAN", "", "N");
    const ProgramRun run = RunProgram(true);
    EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                                  std::string("starting connect to ") + kServer}))
        << Output();
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), "WARNING: Connection to internet may have failed"), 0);
    EXPECT_LT(run.seconds, 15.0);
}

TEST_F(ConnectionIntegration, NoDefaultRouteFailsTheLanCheckAfterSixSecondsAndGoesOn)
{
    Settings("LAN", "", "N");
    const ProgramRun run = RunProgram(false);
    EXPECT_TRUE(InOrder(run.log, {"ERROR: connection via LAN failed", "WARNING: Connection to internet may have failed",
                                  "starting connect to *"}))
        << Output();
    // Three checks 2 seconds apart, then the 3-second exit countdown of the
    // failed query.
    EXPECT_GE(run.seconds, 8.5);
    EXPECT_LT(run.seconds, 25.0);
}

TEST_F(ConnectionIntegration, OnlyIfConnectedWithoutARouteEndsBeforeTheQuery)
{
    Settings("LAN", "", "Y");
    const ProgramRun run = RunProgram(false);
    ASSERT_FALSE(run.log.empty()) << Output();
    EXPECT_EQ(run.log.back(), "no current internet connection found");
    EXPECT_TRUE(InOrder(run.log, {"ERROR: connection via LAN failed", "no current internet connection found"}));
    EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                            [](const std::string& line) { return line.rfind("starting connect to ", 0) == 0; }),
              0);
    EXPECT_EQ(run.exitCode, 4);  // not connected
    EXPECT_GE(run.seconds, 5.5);
    EXPECT_LT(run.seconds, 20.0);
}

TEST_F(ConnectionIntegration, DialUpOnlyWithoutAnEntryIsReported)
{
    Settings("MODEM", "", "N");
    const ProgramRun run = RunProgram(true);
    EXPECT_TRUE(InOrder(run.log, {"ERROR: no dialup connection configured",
                                  "WARNING: Connection to internet may have failed",
                                  std::string("starting connect to ") + kServer}))
        << Output();
    EXPECT_LT(run.seconds, 15.0);
}

}  // namespace
