#include "program_run.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

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
    for (const char* machine :
         {".etc-veltrane", ".log-veltrane", ".lib-veltrane", ".lib-veltrane-exporter", ".node-exporter"})
        fs::remove_all(home.string() + machine, ignored);
}

void ProgramTest::WriteSettings(const std::string& text) const
{
    std::ofstream(home / "Veltrane.INI", std::ios::binary) << text;
}

std::string ProgramTest::ReadSettings() const
{
    return ReadFile(home / "Veltrane.INI");
}

// Beside the program folder, never in it.
fs::path ProgramTest::MachineSettingsFolder() const
{
    const fs::path folder = home.string() + ".etc-veltrane";
    fs::create_directories(folder);
    return folder;
}

fs::path ProgramTest::MachineLogFolder() const
{
    const fs::path folder = home.string() + ".log-veltrane";
    fs::create_directories(folder);
    return folder;
}

fs::path ProgramTest::MachineStateFolder() const
{
    const fs::path folder = home.string() + ".lib-veltrane";
    fs::create_directories(folder);
    return folder;
}

fs::path ProgramTest::MachineMetricsFolder() const
{
    const fs::path folder = home.string() + ".node-exporter";
    fs::create_directories(folder);
    return folder;
}

namespace {

// /etc, /var/log and /var/lib made overlays on a tmpfs of the namespace's
// own, where the machine's folders can be made and the test's bound over
// them; this machine's own are never written (nor node_exporter's folder).
std::string MachineMounts(const fs::path& scratch, const std::vector<std::pair<std::string, fs::path>>& binds)
{
    const std::string o = "'" + scratch.string() + "/overlay'";
    std::string script = "mkdir -p " + o + " && mount -t tmpfs tmpfs " + o + " && ";
    for (const auto& [system, name] :
         {std::pair<std::string, std::string>{"/etc", "etc"}, {"/var/log", "log"}, {"/var/lib", "lib"}}) {
        script += "mkdir " + o + "/" + name + " " + o + "/" + name +
                  "-work && mount -t overlay overlay -o lowerdir=" + system + ",upperdir=" + scratch.string() +
                  "/overlay/" + name + ",workdir=" + scratch.string() + "/overlay/" + name + "-work " + system + " && ";
    }
    for (const auto& [system, ours] : binds)
        script += "mkdir -p " + system + " && mount --bind '" + ours.string() + "' " + system + " && ";
    return script + "true || exit 96; ";
}

// The NTP server of `options` as a command, its errors to ntp.err; empty
// when none is asked for.
std::string NtpServer(const RunOptions& options, const fs::path& scratch)
{
    if (options.ntp.empty())
        return {};
    if (options.ntp == "chrony") {
        // A server of its own clock, in a namespace where no clock can be set.
        std::ofstream(scratch / "chrony.conf") << "allow 127.0.0.1\nallow 10.13.0.1\nlocal stratum 1\nport 123\n"
                                               << "cmdport 0\npidfile " << (scratch / "chronyd.pid").string() << "\n";
        return "'" CHRONYD_EXE "' -x -d -u root -f '" + (scratch / "chrony.conf").string() + "' 2>'" +
               scratch.string() + "/ntp.err'";
    }
    return "'" SNTP_SERVER_EXE "' --port 123 --address 0.0.0.0 " + options.ntp + " 2>'" + scratch.string() +
           "/ntp.err' >/dev/null";
}

// Starts it in the background in the namespace the script runs in, and
// waits until it listens; its process id in $npid.
std::string NtpServerCommand(const RunOptions& options, const fs::path& scratch)
{
    const std::string server = NtpServer(options, scratch);
    if (server.empty())
        return {};
    return server + " & npid=$!; for i in $(seq 100); do ss -Hlun | grep -q ':123 ' && break; sleep 0.05; done; ";
}

// What the namespace's shell runs before the program: loopback up, a default
// route over it, the test servers where they are asked for, and the hosts
// file.
std::string Prelude(const RunOptions& options, const fs::path& scratch)
{
    std::string script = "ip link set lo up || exit 97; ";
    if (options.defaultRoute)
        script += "ip route add default dev lo || exit 98; ";
    if (!options.server.empty())
        script += "pid=$(" DAYTIME_SERVER_EXE " --address 127.0.0.1 --port 13 --background " + options.server + " 2>'" +
                  scratch.string() + "/server.err' | tail -n 1); ";
    for (std::size_t i = 0; i < options.helpers.size(); ++i)
        script += "helper" + std::to_string(i) + "=$(" + options.helpers[i] + " 2>>'" + scratch.string() +
                  "/helpers.err' | tail -n 1) || exit 95; ";
    if (options.delayLine.empty())
        script += NtpServerCommand(options, scratch);
    if (!options.hosts.empty()) {
        std::ofstream(scratch / "hosts") << options.hosts;
        script += "mount --bind '" + (scratch / "hosts").string() + "' /etc/hosts || exit 95; ";
    }
    return script;
}

// The program's own command: its environment, then it with its arguments.
std::string ProgramCommand(const RunOptions& options, const fs::path& scratch)
{
    std::string command = "env ";
    if (!options.path.empty())
        command += "PATH='" + options.path + "' ";
    if (options.offscreen)
        command += "QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR='" + scratch.string() + "' ";
    if (!options.timeZone.empty())
        command += "TZ='" + options.timeZone + "' ";
    if (!options.environment.empty())
        command += options.environment + " ";
    if (!options.clockStandIn.empty())
        // A preloaded library comes before a sanitizer's runtime: let it.
        command += "LD_PRELOAD='" CLOCK_STAND_IN_LIBRARY "' VELTRANE_STAND_IN_CLOCK='" + options.clockStandIn +
                   "' VELTRANE_STAND_IN_LOG='" + scratch.string() + "/stand-in.txt' " +
                   "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" ";
    if (options.asService)
        command +=
            "setpriv --securebits +noroot,+noroot_locked,+no_setuid_fixup,+no_setuid_fixup_locked "
            "--inh-caps -all,+sys_time --ambient-caps +sys_time --bounding-set -all,+sys_time --no-new-privs ";
    return command + "'" VELTRANE_EXE "' " + options.arguments;
}

// The system bus is a test's private one, or an address where no bus is.
std::string NamespaceEnvironment(const RunOptions& options, const std::string& programHome)
{
    const std::string bus = options.systemBus.empty() ? "unix:path=/nonexistent/veltrane-test" : options.systemBus;
    return "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM VELTRANE_HOME='" + programHome +
           "' DBUS_SYSTEM_BUS_ADDRESS='" + bus + "' ";
}

void CollectLog(const std::string& programHome, ProgramRun& run)
{
    // Only a regular file: a test may put a device (an endless /dev/full) there.
    const fs::path logPath = fs::path(programHome) / "Veltrane.log";
    SplitLog(fs::is_regular_file(logPath) ? ReadFile(logPath) : "", run.stampedLog, run.log);
}

}  // namespace

void SplitLog(const std::string& log, Lines& stamped, Lines& texts)
{
    for (std::size_t at = 0; at < log.size();) {
        std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(at, end - at);
        stamped.push_back(line);
        texts.push_back(line.size() > 17 ? line.substr(17) : "");
        at = end + 2;
    }
}

ProgramRun ProgramTest::Run(const RunOptions& options) const
{
    // The test's own files live beside the program folder's, never in it, so
    // a program folder that cannot be written still can be tested.
    const fs::path scratch = home.string() + ".out";
    fs::create_directories(scratch);
    const std::string programHome = options.home.empty() ? home.string() : options.home;

    // Over a delay line, delay-net.sh makes the network and starts the server.
    const bool delayed = !options.delayLine.empty();
    std::string script = delayed ? "" : Prelude(options, scratch);
    if (options.machineFolders)
        script += MachineMounts(scratch, {{"/etc/veltrane", MachineSettingsFolder()},
                                          {"/var/log/veltrane", MachineLogFolder()},
                                          {"/var/lib/veltrane", MachineStateFolder()},
                                          {"/var/lib/prometheus/node-exporter", MachineMetricsFolder()}});
    std::string program = "timeout -s KILL 60 " + ProgramCommand(options, scratch);
    if (delayed) {
        // The NTP server beside the Daytime one, in the server's namespace.
        const std::string ntp = NtpServer(options, scratch);
        if (!ntp.empty())
            std::ofstream(scratch / "ntp.sh") << "exec " << ntp << "\n";
        program = (ntp.empty() ? "" : "NTP_SERVER=\"sh " + scratch.string() + "/ntp.sh\" ") +
                  "sh '" DELAY_NET_SCRIPT "' " + options.delayLine + " '" + options.server + "' " + program;
    }
    if (options.instances <= 1) {
        script += program + "; rc=$?; ";
    } else {
        // All at once; each one's status on a line of its own, in order.
        for (int i = 0; i < options.instances; ++i)
            script += program + " & p" + std::to_string(i) + "=$!; ";
        for (int i = 0; i < options.instances; ++i)
            script += "wait $p" + std::to_string(i) + "; echo $? >>'" + scratch.string() + "/statuses'; ";
        script += "rc=0; ";
    }
    if (!options.server.empty() && !delayed)
        script += "kill $pid; ";
    for (std::size_t i = 0; i < options.helpers.size(); ++i)
        script += "kill $helper" + std::to_string(i) + "; ";
    if (!options.ntp.empty() && !delayed)
        script += "kill $npid; ";
    script += "exit $rc";

    std::ofstream(scratch / "run.sh") << script << "\n";
    const std::string command = NamespaceEnvironment(options, programHome) + "unshare -r -n" +
                                (options.machineFolders || !options.hosts.empty() ? " -m" : "") + " sh '" +
                                scratch.string() + "/run.sh' >'" + scratch.string() + "/output.txt' 2>'" +
                                scratch.string() + "/error.txt'";
    ProgramRun run;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.standardError = ReadFile(scratch / "error.txt");
    run.output = ReadFile(scratch / "output.txt") + run.standardError;
    std::istringstream statuses(ReadFile(scratch / "statuses"));
    for (int value; statuses >> value;)
        run.exitStatuses.push_back(value);

    CollectLog(options.machineFolders ? MachineLogFolder().string() : programHome, run);
    std::istringstream server(ReadFile(scratch / "server.err"));
    for (std::string line; std::getline(server, line);) {
        if (line.rfind("on-time line sent ", 0) == 0)
            run.serverLateness = std::max(run.serverLateness, std::stod(line.substr(18)) / 1000);
        if (line.rfind("connection ", 0) != 0)
            continue;
        ++run.serverConnections;
        if (const std::size_t at = line.rfind(" at "); at != std::string::npos)
            run.serverAccepts.push_back(std::stod(line.substr(at + 4)));
    }
    std::istringstream standIn(ReadFile(scratch / "stand-in.txt"));
    for (std::string line; std::getline(standIn, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "clock_settime") {
            ClockSetting setting;
            fields >> setting.clock >> setting.seconds >> setting.nanoseconds >> setting.nowSeconds >>
                setting.nowNanoseconds >> setting.pid;
            run.clockSettings.push_back(setting);
        } else if (kind == "connect") {
            Connection connection;
            fields >> connection.address >> connection.port >> connection.monotonic >> connection.pid;
            run.connections.push_back(connection);
        } else {
            ADD_FAILURE() << "the program called " << line;
        }
    }
    fs::remove_all(scratch);
    return run;
}

std::unique_ptr<RunningProgram> ProgramTest::Start(const RunOptions& options) const
{
    const fs::path scratch = home.string() + ".out";
    fs::create_directories(scratch);
    const std::string programHome = options.home.empty() ? home.string() : options.home;
    // exec: the shell becomes the program, so its process is the one we signal.
    std::ofstream(scratch / "run.sh") << Prelude(options, scratch)
                                      << (options.machineFolders
                                              ? MachineMounts(scratch, {{"/etc/veltrane", MachineSettingsFolder()},
                                                                        {"/var/log/veltrane", MachineLogFolder()},
                                                                        {"/var/lib/veltrane", MachineStateFolder()},
                                                                        {"/var/lib/prometheus/node-exporter",
                                                                         MachineMetricsFolder()}})
                                              : "")
                                      << "exec " << ProgramCommand(options, scratch) << "\n";
    const std::string command = "exec " + NamespaceEnvironment(options, programHome) + "unshare -r -n" +
                                (options.machineFolders ? " -m" : "") + " sh '" + scratch.string() + "/run.sh' >'" +
                                scratch.string() + "/output.txt' 2>&1";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    EXPECT_GT(pid, 0);
    return std::make_unique<RunningProgram>(pid, options.machineFolders ? MachineLogFolder() : fs::path(programHome),
                                            scratch);
}

RunningProgram::~RunningProgram()
{
    if (!ended_) {
        ::kill(-pid_, SIGKILL);
        Reap(0);
    }
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
}

bool RunningProgram::Reap(int options)
{
    if (ended_)
        return true;
    if (::waitpid(pid_, &status_, options) == pid_)
        ended_ = true;
    return ended_;
}

bool RunningProgram::WaitForLogLine(const std::string& text, double seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        ProgramRun seen;
        CollectLog(home_.string(), seen);
        for (const std::string& line : seen.log)
            if (line.rfind(text, 0) == 0)
                return true;
        if (Reap(WNOHANG))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool RunningProgram::StillRunningAfter(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return !Reap(WNOHANG);
}

void RunningProgram::Signal(int number)
{
    if (!ended_)
        ::kill(pid_, number);
}

void RunningProgram::SignalGroup(int number)
{
    if (!ended_)
        ::kill(-pid_, number);
}

ProgramRun RunningProgram::Finish(double seconds)
{
    const auto start = std::chrono::steady_clock::now();
    while (!Reap(WNOHANG)) {
        if (std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds)) {
            ADD_FAILURE() << "the program did not end within " << seconds << " s";
            ::kill(-pid_, SIGKILL);
            Reap(0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ProgramRun run;
    run.exitStatus = WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    run.signal = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.output = ReadFile(scratch_ / "output.txt");
    CollectLog(home_.string(), run);
    return run;
}

}  // namespace vel::integration
