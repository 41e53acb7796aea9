#include "program_run.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vel::integration {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void ProgramTest::SetUp()
{
    std::string pattern = (fs::temp_directory_path() / "veltrane-it-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    home = pattern;
}

void ProgramTest::TearDown()
{
    std::error_code ignored;
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(home, ignored);
}

void ProgramTest::WriteSettings(const std::string& text) const
{
    std::ofstream(home / "Veltrane.INI", std::ios::binary) << text;
}

std::string ProgramTest::ReadSettings() const { return ReadFile(home / "Veltrane.INI"); }

ProgramRun ProgramTest::Run(const RunOptions& options) const
{
    // The test's own files live beside the program folder's, never in it, so
    // a program folder that cannot be written still can be tested.
    const fs::path scratch = home.string() + ".out";
    fs::create_directories(scratch);
    const std::string programHome = options.home.empty() ? home.string() : options.home;

    std::string script = "ip link set lo up || exit 97; ";
    if (options.defaultRoute)
        script += "ip route add default dev lo || exit 98; ";
    if (!options.server.empty())
        script += "pid=$(" DAYTIME_SERVER_EXE " --address 127.0.0.1 --port 13 --background " + options.server +
                  " 2>'" + scratch.string() + "/server.err' | tail -n 1); ";
    script += "timeout -s KILL 60 env ";
    if (!options.path.empty())
        script += "PATH='" + options.path + "' ";
    if (!options.timeZone.empty())
        script += "TZ='" + options.timeZone + "' ";
    if (!options.clockStandIn.empty())
        // A preloaded library comes before a sanitizer's runtime: let it.
        script += "LD_PRELOAD='" CLOCK_STAND_IN_LIBRARY "' VELTRANE_STAND_IN_CLOCK='" + options.clockStandIn +
                  "' VELTRANE_STAND_IN_LOG='" + scratch.string() + "/stand-in.txt' " +
                  "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" ";
    script += "'" VELTRANE_EXE "' " + options.arguments + "; rc=$?; ";
    if (!options.server.empty())
        script += "kill $pid; ";
    script += "exit $rc";

    std::ofstream(scratch / "run.sh") << script << "\n";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELTRANE_HOME='" + programHome +
                                "' DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test unshare -r -n sh '" +
                                scratch.string() + "/run.sh' >'" + scratch.string() + "/output.txt' 2>&1";
    ProgramRun run;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.output = ReadFile(scratch / "output.txt");

    // Only a regular file: a test may put a device (an endless /dev/full) there.
    const fs::path logPath = fs::path(programHome) / "Veltrane.log";
    const std::string log = fs::is_regular_file(logPath) ? ReadFile(logPath) : "";
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(at, end - at);
        run.stampedLog.push_back(line);
        run.log.push_back(line.size() > 17 ? line.substr(17) : "");
        at = end + 2;
    }
    std::istringstream server(ReadFile(scratch / "server.err"));
    for (std::string line; std::getline(server, line);)
        if (line.rfind("connection ", 0) == 0)
            ++run.serverConnections;
    std::istringstream standIn(ReadFile(scratch / "stand-in.txt"));
    for (std::string line; std::getline(standIn, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "clock_settime") {
            ClockSetting setting;
            fields >> setting.clock >> setting.seconds >> setting.nanoseconds >> setting.nowSeconds >> setting.nowNanoseconds;
            run.clockSettings.push_back(setting);
        } else if (kind == "connect") {
            Connection connection;
            fields >> connection.address >> connection.port >> connection.monotonic;
            run.connections.push_back(connection);
        } else {
            ADD_FAILURE() << "the program called " << line;
        }
    }
    fs::remove_all(scratch);
    return run;
}

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

}  // namespace vel::integration
