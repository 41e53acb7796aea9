// SIGTERM, SIGINT and SIGHUP on Linux: the handler only writes to a pipe, the
// event loop hands the first stop on, a second one ends the program at once,
// and a write that must be whole is finished first. Each case runs in a child
// process of its own, since it ends by a signal.
#include "platform/linux/linux_stop_signals.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/linux/linux_profile_file.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

void EnsureQtCore()
{
    static int argc = 1;
    static char name[] = "veltrane_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // lives as long as the test process
}

// Runs `body` in a child process; its exit code, or the signal that ended it.
struct Outcome {
    int exitCode = -1;
    int signal = 0;
};

Outcome InChild(const std::function<int()>& body)
{
    EnsureQtCore();
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    Outcome outcome;
    if (WIFEXITED(status))
        outcome.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    return outcome;
}

void ProcessEvents()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

TEST(StopSignals, TheFirstSignalReachesTheProgramFromTheEventLoopOnly)
{
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        const Outcome outcome = InChild([number] {
            int seen = 0;
            std::string name;
            StopSignalWatcher watcher([&](int n, const std::string& text) {
                seen = n;
                name = text;
            });
            ::raise(number);
            if (seen != 0)
                return 2;  // handled inside the signal handler
            ProcessEvents();
            if (seen != number)
                return 3;
            return name == SignalName(number) ? 0 : 4;
        });
        EXPECT_EQ(outcome.exitCode, 0) << SignalName(number);
    }
    EXPECT_EQ(SignalName(SIGTERM), "SIGTERM");
    EXPECT_EQ(SignalName(SIGINT), "SIGINT");
    EXPECT_EQ(SignalName(SIGHUP), "SIGHUP");
}

TEST(StopSignals, ASecondSignalEndsTheProgramAtOnce)
{
    for (const int second : {SIGTERM, SIGINT}) {
        const Outcome outcome = InChild([second] {
            StopSignalWatcher watcher([second](int, const std::string&) {
                ::raise(second);  // while the stop is being handled
                ::_exit(2);
            });
            ::raise(SIGTERM);
            ProcessEvents();
            return 3;
        });
        EXPECT_EQ(outcome.signal, second);
    }
    // Both before the event loop got to the first: the second ends it.
    const Outcome outcome = InChild([] {
        StopSignalWatcher watcher([](int, const std::string&) { ::_exit(2); });
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        ProcessEvents();
        return 3;
    });
    EXPECT_EQ(outcome.signal, SIGHUP);
}

TEST(StopSignals, ASignalIgnoredAtTheStartStaysIgnored)
{
    const Outcome outcome = InChild([] {
        ::signal(SIGHUP, SIG_IGN);
        bool stopped = false;
        {
            StopSignalWatcher watcher([&](int, const std::string&) { stopped = true; });
            ::raise(SIGHUP);
            ProcessEvents();
        }
        ::raise(SIGHUP);
        return stopped ? 2 : 0;
    });
    EXPECT_EQ(outcome.exitCode, 0);
}

// A signal during a guarded write takes effect after it, as it would have.
TEST(StopSignals, ASignalDuringAGuardedWriteWaitsForItsEnd)
{
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const int readEnd = pipeEnds[0], writeEnd = pipeEnds[1];
    Outcome outcome = InChild([writeEnd] {
        StopSignalWatcher watcher([writeEnd](int, const std::string&) {
            {
                DeferStopSignals guard;
                ::raise(SIGINT);  // a second signal, in the middle of the write
                (void)!::write(writeEnd, "whole", 5);
            }
            ::_exit(2);
        });
        ::raise(SIGTERM);
        ProcessEvents();
        return 3;
    });
    EXPECT_EQ(outcome.signal, SIGINT);
    char marker[8] = {};
    EXPECT_EQ(::read(readEnd, marker, sizeof marker), 5);

    // Without a watcher: the default action, after the write.
    outcome = InChild([writeEnd] {
        {
            DeferStopSignals guard;
            ::raise(SIGTERM);
            (void)!::write(writeEnd, "whole", 5);
        }
        return 2;
    });
    EXPECT_EQ(outcome.signal, SIGTERM);
    EXPECT_EQ(::read(readEnd, marker, sizeof marker), 5);

    // Before any stop, a signal during the write reaches the watcher after it.
    outcome = InChild([] {
        int seen = 0;
        StopSignalWatcher watcher([&](int n, const std::string&) { seen = n; });
        {
            DeferStopSignals guard;
            ::raise(SIGHUP);
        }
        ProcessEvents();
        return seen == SIGHUP ? 0 : 2;
    });
    EXPECT_EQ(outcome.exitCode, 0);
    ::close(readEnd);
    ::close(writeEnd);
}

// The settings file rewritten in place (a folder that takes no new file) is
// never cut by a stop signal: it holds the old text or the whole new one.
TEST(StopSignals, AStopDuringAnInPlaceSettingsWriteLeavesTheFileWhole)
{
    std::string pattern = (fs::temp_directory_path() / "veltrane-stop-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path folder = pattern;
    const fs::path path = folder / "Veltrane.INI";
    const std::string before = "[Main]\r\nDelay=5\r\n";
    std::ofstream(path, std::ios::binary) << before;
    // Anyone may write the file; nobody may add a file to the folder.
    ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const std::string big(4 * 1024 * 1024, 'c');

    const Outcome outcome = InChild([&] {
        if (::geteuid() == 0)
            ::setuid(65534);  // so the folder's permission bits count
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            struct stat info {};
            while (!done && (::stat(path.c_str(), &info) != 0 || info.st_size == static_cast<off_t>(before.size())))
                std::this_thread::yield();
            ::kill(::getpid(), SIGTERM);  // as soon as the file began to change
        });
        LinuxProfileFile profile;
        SystemError error;
        const bool wrote = profile.WriteString("Main", "Connectoid", big, path.string(), error);
        done = true;
        stopper.join();
        ::sleep(2);  // the signal ends it before this does
        return wrote ? 2 : 3;
    });
    ::chmod(folder.c_str(), 0700);
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(outcome.signal, SIGTERM) << "exit " << outcome.exitCode;
    const std::string expected = "[Main]\r\nDelay=5\r\nConnectoid=" + big + "\r\n";
    EXPECT_EQ(text.str().size(), expected.size());
    EXPECT_TRUE(text.str() == expected) << "the file is not the whole new text";
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vel::platform
