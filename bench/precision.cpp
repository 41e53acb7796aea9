// The error of the instant the real program sets, with a Daytime server one
// delay line away (tools/delay-line, fixed delays each way), for the NIST
// on-time layout (msADV 50 ms) and the two one-second layouts, with the
// further answers (Precise=Y) and without them (Precise=N), and with a busy
// server that drops the first SYN (its accept queue held full for 1.5 s, and
// again after each connection). Every run is the real build/veltrane inside
// `unshare -r -n` with the clock stand-in (tests/preload) in place of
// clock_settime: the clock is never touched.
//
//   bench/precision [RUNS [JOBS [LAYOUT]]]
//     (default 10 runs per cell, 4 at a time; LAYOUT nist, short or xinetd:
//     that row alone)
//
// The server's clock is 95 s and a random fraction of a second behind the
// real one, so every run meets the server's second at another phase.
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

struct Layout {
    const char* name;
    const char* server;
};
const Layout kLayouts[] = {{"NIST on time, msADV 50", "--layout nist --mode ontime --advance 50"},
                           {"short layout", "--layout short"},
                           {"xinetd layout", "--layout xinetd"}};

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
    std::ofstream(folder / "Veltrane.INI", std::ios::binary)
        << "[Main]\r\nNTPServer=10.13.0.2 (behind a delay line)\r\nConnectionType=LAN\r\nQuietMode=Y\r\nPrecise="
        << (precise ? "Y" : "N") << "\r\n";
    char offsetText[32];
    std::snprintf(offsetText, sizeof offsetText, "%.6f", offset);
    const std::string standInLog = (folder / "stand-in.txt").string();
    const std::string command = "unshare -r -n sh '" DELAY_NET_SCRIPT "' " + std::to_string(path.out) + " " +
                                std::to_string(path.back) + " '" + layout.server + path.server + " --offset " +
                                offsetText + "' env -u DISPLAY -u WAYLAND_DISPLAY VELTRANE_HOME='" + folder.string() +
                                "' DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-bench LD_PRELOAD='" +
                                CLOCK_STAND_IN_LIBRARY "' VELTRANE_STAND_IN_CLOCK=succeed VELTRANE_STAND_IN_LOG='" +
                                standInLog + "' timeout -s KILL 60 '" VELTRANE_EXE "' >'" +
                                (folder / "output.txt").string() + "' 2>&1";
    Outcome outcome;
    if (std::system(command.c_str()) != 0)
        return outcome;
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
    const std::string only = argc > 3 ? argv[3] : "";
    auto chosen = [&](int layout) {
        return only.empty() || std::string(kLayouts[layout].server).find(only) != std::string::npos;
    };
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
        for (int l = 0; l < 3; ++l)
            for (int p = 0; p < kPathCount && chosen(l); ++p)
                for (int r = 0; r < runs; ++r)
                    tasks.push_back({p, l, precise, -95.0 - fraction(random), {}});
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
        for (int l = 0; l < 3; ++l) {
            if (!chosen(l))
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
