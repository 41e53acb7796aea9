// The error of the instant the real program sets, with a Daytime server one
// delay line away (tools/delay-line, fixed delays each way), for the NIST
// on-time layout (msADV 50 ms) and the two one-second layouts, with the
// further answers (Precise=Y) and without them (Precise=N), also with a busy
// server that drops the first SYN (its accept queue held full for 1.5 s);
// and over NTP from chrony in server mode on the same path, beside chrony's
// own one-shot measure (`chronyd -Q`, run as a reference: the offset it reports is its
// error). Every run is the real build/veltrane inside `unshare -r -n` with
// the clock stand-in (tests/preload) in place of clock_settime: the clock is
// never touched.
//
//   bench/precision [RUNS [JOBS [ROWS]]]   (default 10 runs per cell, 4 at a
//                                          time; ROWS: those whose name holds it)
//
// The Daytime server's clock is 95 s and a random fraction of a second behind
// the real one, so every run meets the server's second at another phase;
// chrony serves the real clock, and the program is told to set even a clock
// that is right (Tolerance=-1).
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Path {
    const char* name;
    int out, back;            // milliseconds each way
    const char* server = "";  // more options of the server
};
const Path kPaths[] = {{"RTT 0", 0, 0},      {"20 ms", 10, 10},  {"100 ms", 50, 50},
                       {"300 ms", 150, 150}, {"5/95 ms", 5, 95}, {"20 ms, SYN lost", 10, 10, " --hold 1.5"}};
constexpr int kPathCount = static_cast<int>(std::size(kPaths));

enum class Source { Daytime, Ntp, ChronyQuery };
struct Layout {
    const char* name;
    const char* server;
    Source source = Source::Daytime;
};
const Layout kLayouts[] = {{"NIST on time, msADV 50", "--layout nist --mode ontime --advance 50"},
                           {"short layout", "--layout short"},
                           {"xinetd layout", "--layout xinetd"},
                           {"NTP from chrony", "--layout nist", Source::Ntp},
                           {"chronyd -Q (reference)", "--layout nist", Source::ChronyQuery}};
constexpr int kLayoutCount = static_cast<int>(std::size(kLayouts));

std::string Chronyd()
{
    static const std::string path = [] {
        std::string found;
        if (FILE* out = ::popen("bash '" SETUP_CHRONY_SCRIPT "'", "r")) {
            char line[512];
            if (std::fgets(line, sizeof line, out))
                found = line;
            ::pclose(out);
        }
        while (!found.empty() && (found.back() == '\n' || found.back() == '\r'))
            found.pop_back();
        return found;
    }();
    return path;
}

struct Outcome {
    double error = NAN;  // seconds: the instant set less the server's instant then
    int answers = 0;
};

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome RunOnce(const Path& path, const Layout& layout, bool precise, double offset, const fs::path& folder)
{
    fs::create_directories(folder);
    const bool ntp = layout.source != Source::Daytime;
    std::ofstream(folder / "Veltrane.INI", std::ios::binary)
        << "[Main]\r\nNTPServer=" << (ntp ? "ntp:" : "") << "10.13.0.2 (behind a delay line)\r\nConnectionType=LAN\r\n"
        << "QuietMode=Y\r\nPrecise=" << (precise ? "Y" : "N") << "\r\n"
        << (ntp ? "Tolerance=-1\r\n" : "");
    // chrony in server mode beside the Daytime server, in its namespace.
    std::string ntpServer;
    if (ntp) {
        std::ofstream(folder / "chrony.conf") << "allow 10.13.0.1\nlocal stratum 1\nport 123\ncmdport 0\npidfile "
                                              << (folder / "chronyd.pid").string() << "\n";
        ntpServer = "NTP_SERVER=\"" + Chronyd() + " -x -d -u root -f " + (folder / "chrony.conf").string() + "\" ";
    }
    char offsetText[32];
    std::snprintf(offsetText, sizeof offsetText, "%.6f", offset);
    const std::string standInLog = (folder / "stand-in.txt").string();
    // The program, or chrony's own one-shot measure of the same server.
    const std::string client =
        layout.source == Source::ChronyQuery
            ? "'" + Chronyd() + "' -Q -t 20 -u root 'server 10.13.0.2 iburst' 'pidfile " +
                  (folder / "query.pid").string() + "'"
            : "env -u DISPLAY -u WAYLAND_DISPLAY VELTRANE_HOME='" + folder.string() +
                  "' DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-bench LD_PRELOAD='" +
                  CLOCK_STAND_IN_LIBRARY "' VELTRANE_STAND_IN_CLOCK=succeed VELTRANE_STAND_IN_LOG='" + standInLog +
                  "' timeout -s KILL 60 '" VELTRANE_EXE "'";
    const std::string command = ntpServer + "unshare -r -n sh '" DELAY_NET_SCRIPT "' " + std::to_string(path.out) +
                                " " + std::to_string(path.back) + " '" + layout.server + path.server + " --offset " +
                                offsetText + "' " + client + " >'" + (folder / "output.txt").string() + "' 2>&1";
    Outcome outcome;
    if (std::system(command.c_str()) != 0)
        return outcome;
    if (layout.source == Source::ChronyQuery) {
        // "System clock wrong by 0.000123 seconds (ignored)": its error,
        // the server's clock being the real one.
        const std::string output = ReadAll(folder / "output.txt");
        if (const std::size_t at = output.find("wrong by "); at != std::string::npos) {
            outcome.error = std::atof(output.c_str() + at + 9);
            outcome.answers = 1;
        }
        return outcome;
    }
    std::istringstream records(ReadAll(standInLog));
    for (std::string word; records >> word;) {
        if (word != "clock_settime")
            continue;
        long long id = 0, sec = 0, nsec = 0, nowSec = 0, nowNsec = 0;
        records >> id >> sec >> nsec >> nowSec >> nowNsec;
        outcome.error = static_cast<double>(sec - nowSec) + static_cast<double>(nsec - nowNsec) * 1e-9 - offset;
    }
    const std::string log = ReadAll(folder / "Veltrane.log");
    if (const std::size_t at = log.find(" ms over "); at != std::string::npos)
        outcome.answers = std::atoi(log.c_str() + at + 9);
    return outcome;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int jobs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 4;
    const std::string filter = argc > 3 ? argv[3] : "";
    if (::access("/dev/net/tun", R_OK | W_OK) != 0) {
        std::fputs("precision: no /dev/net/tun here, the delay line needs it\n", stderr);
        return 2;
    }
    char pattern[] = "/tmp/veltrane-precision-XXXXXX";
    if (!::mkdtemp(pattern))
        return 2;
    const fs::path scratch = pattern;

    struct Task {
        int path, layout;
        bool precise;
        double offset;
        Outcome outcome;
    };
    std::vector<Task> tasks;
    std::mt19937_64 random(std::random_device{}());
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    for (const bool precise : {true, false})
        for (int l = 0; l < kLayoutCount; ++l)
            for (int p = 0; p < kPathCount; ++p)
                for (int r = 0; r < runs; ++r)
                    if (filter.empty() || std::string(kLayouts[l].name).find(filter) != std::string::npos)
                        tasks.push_back({p,
                                         l,
                                         precise,
                                         kLayouts[l].source == Source::Daytime ? -95.0 - fraction(random) : 0.0,
                                         {}});
    std::shuffle(tasks.begin(), tasks.end(), random);

    std::atomic<std::size_t> next{0};
    std::mutex progress;
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next++) < tasks.size();) {
                Task& t = tasks[i];
                t.outcome =
                    RunOnce(kPaths[t.path], kLayouts[t.layout], t.precise, t.offset, scratch / std::to_string(i));
                const std::lock_guard<std::mutex> lock(progress);
                std::fprintf(stderr, "\r%zu of %zu runs", i + 1, tasks.size());
            }
        });
    for (std::thread& worker : workers)
        worker.join();
    std::fputs("\n", stderr);

    int failed = 0;
    for (const bool precise : {true, false}) {
        std::printf("\nError of the instant set over %d runs, Precise=%s: largest / median (mean answers)\n\n", runs,
                    precise ? "Y" : "N");
        std::printf("| %-24s |", "server");
        for (const Path& path : kPaths)
            std::printf(" %-22s |", path.name);
        std::printf("\n|%s|", std::string(26, '-').c_str());
        for (std::size_t p = 0; p < std::size(kPaths); ++p)
            std::printf("%s|", std::string(24, '-').c_str());
        std::printf("\n");
        for (int l = 0; l < kLayoutCount; ++l) {
            if (!filter.empty() && std::string(kLayouts[l].name).find(filter) == std::string::npos)
                continue;
            std::printf("| %-24s |", kLayouts[l].name);
            for (int p = 0; p < kPathCount; ++p) {
                std::vector<double> errors;
                int answers = 0, count = 0;
                for (const Task& t : tasks) {
                    if (t.path != p || t.layout != l || t.precise != precise)
                        continue;
                    if (std::isnan(t.outcome.error)) {
                        ++failed;
                        continue;
                    }
                    errors.push_back(std::fabs(t.outcome.error));
                    answers += t.outcome.answers;
                    ++count;
                }
                std::sort(errors.begin(), errors.end());
                char cell[48] = "no run";
                if (count)
                    std::snprintf(cell, sizeof cell, "%.1f / %.1f ms (%.1f)", errors.back() * 1000,
                                  errors[errors.size() / 2] * 1000, 1.0 * answers / count);
                std::printf(" %-22s |", cell);
            }
            std::printf("\n");
        }
    }
    if (failed)
        std::printf("\n%d runs set no clock (their folders are in %s)\n", failed, scratch.c_str());
    else
        fs::remove_all(scratch);
    return failed ? 1 : 0;
}
