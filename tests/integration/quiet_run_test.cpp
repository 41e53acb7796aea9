// The real program in quiet mode against tools/daytime-server, each run inside
// `unshare -r -n`: a private network namespace (port 13 on loopback is ours,
// nothing leaves the machine) in a user namespace, where setting the clock
// fails with EPERM. The system bus is pointed at nothing, so systemd-timedated
// cannot be asked either.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The connection step's own lines come and go with its implementation; the
// assertions here are about the time query and the clock.
bool IsConnectionLine(const std::string& text)
{
    for (const char* prefix : {"detected current connection", "ERROR: connection via LAN failed",
                               "WARNING: Connection to internet may have failed"})
        if (text.rfind(prefix, 0) == 0)
            return true;
    return false;
}

struct RunResult {
    int exitStatus = -1;
    Lines log;            // without time stamps and connection lines
    Lines stampedLog;     // every line as written
    std::string settings;
    int serverConnections = 0;
};

class QuietRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-it-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        std::ofstream(home_ / "Veltrane.INI", std::ios::binary)
            << "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
               "QuietMode=Y\r\n";
    }
    void TearDown() override { fs::remove_all(home_); }

    // serverOptions empty: no server at all (the port refuses).
    RunResult RunProgram(const std::string& serverOptions, const std::string& arguments = "")
    {
        const std::string home = home_.string();
        std::string script = "ip link set lo up; ip route add default dev lo; ";
        if (!serverOptions.empty())
            script += "pid=$(" DAYTIME_SERVER_EXE " --address 127.0.0.1 --port 13 --background " + serverOptions +
                      " 2>" + home + "/server.err | tail -n 1); ";
        script += "timeout 60 " VELTRANE_EXE " " + arguments + "; rc=$?; ";
        if (!serverOptions.empty())
            script += "kill $pid; ";
        script += "exit $rc";
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELTRANE_HOME=" + home +
                                    " DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test" +
                                    " unshare -r -n sh -c '" + script + "' >" + home + "/program.out 2>&1";
        RunResult run;
        const int status = std::system(command.c_str());
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

        const std::string log = ReadFile(home_ / "Veltrane.log");
        std::size_t start = 0;
        while (start < log.size()) {
            std::size_t end = log.find("\r\n", start);
            if (end == std::string::npos)
                end = log.size();
            const std::string line = log.substr(start, end - start);
            run.stampedLog.push_back(line);
            const std::string text = line.size() > 17 ? line.substr(17) : "";
            if (!IsConnectionLine(text))
                run.log.push_back(text);
            start = end + 2;
        }
        run.settings = ReadFile(home_ / "Veltrane.INI");
        std::istringstream server(ReadFile(home_ / "server.err"));
        for (std::string line; std::getline(server, line);)
            if (line.rfind("connection ", 0) == 0)
                ++run.serverConnections;
        return run;
    }

    std::string ProgramOutput() { return ReadFile(home_ / "program.out"); }

    fs::path home_;
};

const Lines kStart = {"*** VEL started ***", "started in quiet mode",
                      "starting connect to 127.0.0.1 (local test server)"};

Lines Then(Lines lines, const std::vector<std::string>& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

// SaveSettings wrote the file at the end of the run: it holds keys that the
// hand-written file had not.
void ExpectSettingsSaved(const RunResult& run)
{
    EXPECT_NE(run.settings.find("OnlyIfConnected="), std::string::npos) << run.settings;
    EXPECT_NE(run.settings.find("NTPServer=127.0.0.1 (local test server)"), std::string::npos) << run.settings;
    EXPECT_NE(run.settings.find("QuietMode=Y"), std::string::npos) << run.settings;
}

TEST_F(QuietRun, ClockCorrect)
{
    const RunResult run = RunProgram("--layout nist");
    EXPECT_EQ(run.log, Then(kStart, {"system clock correct"})) << ProgramOutput();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.serverConnections, 1);
    const std::regex stamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d .+)");
    for (const std::string& line : run.stampedLog)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    ExpectSettingsSaved(run);
}

TEST_F(QuietRun, ClockCorrectWithTheShortLayout)
{
    const RunResult run = RunProgram("--layout short");
    EXPECT_EQ(run.log, Then(kStart, {"system clock correct"})) << ProgramOutput();
    EXPECT_EQ(run.exitStatus, 0);
}

// The server's second and ours may part between its sending and our reading.
const std::regex kOffBy95(R"(system clock off by 1 minute 3[56] seconds)");

TEST_F(QuietRun, ClockOffWithNoupdateIsMeasuredOnly)
{
    const RunResult run = RunProgram("--offset -95", "noupdate");
    ASSERT_EQ(run.log.size(), 4u) << ProgramOutput();
    EXPECT_EQ(Lines(run.log.begin(), run.log.begin() + 3), kStart);
    EXPECT_TRUE(std::regex_match(run.log[3], kOffBy95)) << run.log[3];
    EXPECT_EQ(run.exitStatus, 0);
}

TEST_F(QuietRun, ClockOffThatCannotBeSetIsReportedAndTheRunEndsNormally)
{
    const RunResult run = RunProgram("--offset -95");
    ASSERT_EQ(run.log.size(), 5u) << ProgramOutput();
    EXPECT_EQ(Lines(run.log.begin(), run.log.begin() + 3), kStart);
    EXPECT_TRUE(std::regex_match(run.log[3], kOffBy95)) << run.log[3];
    // Both ways of setting the clock failed, and both are named.
    const std::string& error = run.log[4];
    EXPECT_EQ(error.rfind("ERROR: the system clock could not be set: clock_settime: operation not permitted; "
                          "no system bus to reach systemd-timedated",
                          0),
              0u)
        << error;
    EXPECT_EQ(error.substr(error.size() - 9), "(error 1)") << error;
    EXPECT_EQ(run.exitStatus, 2);
    ExpectSettingsSaved(run);
}

TEST_F(QuietRun, RefusedConnectionIsOneAttempt)
{
    const RunResult run = RunProgram("");
    ASSERT_EQ(run.log.size(), 4u) << ProgramOutput();
    EXPECT_EQ(Lines(run.log.begin(), run.log.begin() + 3), kStart);
    EXPECT_EQ(run.log[3], "ERROR: winsock error - 10061 Connection refused");
    EXPECT_EQ(run.exitStatus, 1);
    ExpectSettingsSaved(run);
}

TEST_F(QuietRun, ResetConnectionsAreTriedThreeTimes)
{
    const RunResult run = RunProgram("--mode refuse");
    ASSERT_EQ(run.log.size(), 4u) << ProgramOutput();
    EXPECT_EQ(run.log[3].rfind("ERROR: winsock error - 10054 ", 0), 0u) << run.log[3];
    EXPECT_EQ(run.serverConnections, 3);
    EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(QuietRun, InvalidAnswersAreTriedThreeTimesAndLoggedOnOneLine)
{
    const RunResult run = RunProgram("--mode garbage");
    ASSERT_EQ(run.log.size(), 4u) << ProgramOutput();
    EXPECT_EQ(Lines(run.log.begin(), run.log.begin() + 3), kStart);
    const std::string& error = run.log[3];
    EXPECT_EQ(error.rfind("ERROR: NTP server returned invalid time: ", 0), 0u) << error;
    EXPECT_NE(error.find("\\x00"), std::string::npos) << error;  // the NUL, escaped
    for (const char c : error)
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(static_cast<unsigned char>(c));
    EXPECT_EQ(run.serverConnections, 3);
    EXPECT_EQ(run.exitStatus, 1);
}

TEST_F(QuietRun, AFloodIsCutAndLoggedOnOneLine)
{
    const RunResult run = RunProgram("--mode flood --flood-bytes 4194304");
    ASSERT_EQ(run.log.size(), 4u) << ProgramOutput();
    const std::string& error = run.log[3];
    EXPECT_EQ(error.rfind("ERROR: NTP server returned invalid time: xxxx", 0), 0u) << error;
    EXPECT_LT(error.size(), 400u);
    EXPECT_EQ(run.serverConnections, 3);
    EXPECT_EQ(run.exitStatus, 1);
}

}  // namespace
