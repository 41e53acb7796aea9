// The real program in a folder that several users may write, run as one user
// while files of another lie there; and an installed copy run as root and as
// a user.
//
// Several users need a user namespace that maps more than one uid, which
// `unshare -r` does not, and Debian 12's `unshare --map-users` wants the
// setuid newuidmap (package uidmap) and /etc/subuid entries. So the test forks
// a child that unshares its user and network namespaces, and writes the
// child's maps itself from outside (root there may map any ids): uids and
// gids 0-65535 as they are, so files the test makes for 4201 (the victim) and
// 4202 (another user) belong to them inside too. The child's shell brings up
// loopback, gives the default server's name the loopback address (in
// /etc/hosts, in a mount namespace of its own: it is refused at once) and runs the program as the victim
// with `setpriv --reuid`. Setting the clock fails in any user namespace but
// the first, as with `unshare -r`, and nothing leaves the private network.
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "program_run.h"
#include "settings/settings.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kVictim = 4201, kOther = 4202;

struct Outcome {
    int status = -1;
    double seconds = 0;
    std::string output;
};

// Writes `text` to a file of its own for `owner`.
void Put(const fs::path& file, const std::string& text, uid_t owner)
{
    std::ofstream(file, std::ios::binary) << text;
    EXPECT_EQ(::chown(file.c_str(), owner, owner), 0) << file;
}

void Link(const fs::path& target, const fs::path& at, uid_t owner)
{
    fs::create_symlink(target, at);
    EXPECT_EQ(::lchown(at.c_str(), owner, owner), 0) << at;
}

// A named pipe anyone may open (with nobody reading it).
void MakePipe(const fs::path& at)
{
    EXPECT_EQ(::mkfifo(at.c_str(), 0666), 0);
    EXPECT_EQ(::chmod(at.c_str(), 0666), 0);
}

bool IsLink(const fs::path& at)
{
    return fs::is_symlink(fs::symlink_status(at));
}

// A log of whole lines, over the 10000 bytes at which it is rotated.
std::string EarlierLog()
{
    std::string log;
    for (int line = 0; log.size() <= 10000; ++line)
        log += "01.01.2025 08:00 earlier run, line " + std::to_string(line) + "\r\n";
    return log;
}

const std::string kSettings =
    "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n";

class SharedFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-shared-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        shared = root / "shared";
        victim = root / "victim";
        fs::permissions(root, fs::perms(0755));
        fs::create_directories(shared);
        fs::permissions(shared, fs::perms(0777));  // anyone may write here
        fs::create_directories(victim);
        ASSERT_EQ(::chown(victim.c_str(), kVictim, kVictim), 0);
        // A copy of the program every user may run (the build tree need not be).
        fs::create_directories(root / "bin");
        fs::copy_file(VELTRANE_EXE, root / "bin/veltrane");
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs `program` (a path) with "noupdate" as `uid` with HOME `home`, and
    // VELTRANE_HOME `folder` unless it is empty; nothing listens on port 13.
    Outcome Run(uid_t uid, const fs::path& program, const fs::path& home, const fs::path& folder) const
    {
        const fs::path script = root / "run.sh", output = root / "output.txt";
        const std::string server = kDefaultNTPServer;
        std::ofstream(root / "hosts") << "127.0.0.1 localhost " << server.substr(0, server.find(' ')) << "\n";
        std::ofstream(script) << "ip link set lo up || exit 97\n"
                              << "ip route add default dev lo || exit 98\n"
                              << "mount --make-rprivate / && mount --bind '" << (root / "hosts").string()
                              << "' /etc/hosts || exit 99\n"
                              << "exec setpriv --reuid=" << uid << " --regid=" << uid << " --clear-groups "
                              << "env -i PATH=/usr/bin:/bin HOME='" << home.string() << "' "
                              << (folder.empty() ? "" : "VELTRANE_HOME='" + folder.string() + "' ")
                              << "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test "
                              << "ASAN_OPTIONS=\"$ASAN_OPTIONS\" UBSAN_OPTIONS=\"$UBSAN_OPTIONS\" "
                              << "timeout -s KILL 60 '" << program.string() << "' noupdate\n";
        int up[2], down[2];
        EXPECT_EQ(::pipe2(up, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(down, O_CLOEXEC), 0);
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            char go = 0;
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0 || ::write(up[1], &go, 1) != 1 ||
                ::read(down[0], &go, 1) != 1 || out < 0)
                ::_exit(96);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execl("/bin/sh", "sh", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        char ready = 0;
        EXPECT_EQ(::read(up[0], &ready, 1), 1);
        for (const char* map : {"uid_map", "gid_map"})
            std::ofstream("/proc/" + std::to_string(child) + "/" + map) << "0 0 65536\n";
        EXPECT_EQ(::write(down[1], &ready, 1), 1);
        for (int fd : {up[0], up[1], down[0], down[1]})
            ::close(fd);
        int status = 0;
        ::waitpid(child, &status, 0);
        Outcome outcome;
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        outcome.output = ReadFile(output);
        return outcome;
    }
    Outcome RunVictim() const { return Run(kVictim, root / "bin/veltrane", victim, shared); }

    Lines Log(const fs::path& file) const
    {
        Lines stamped, texts;
        SplitLog(fs::is_regular_file(file) ? ReadFile(file) : "", stamped, texts);
        return texts;
    }

    fs::path root, shared, victim;
};

// Links someone else planted are never followed: a log or settings file
// that is one is unusable (the log stops the run with status 5, the settings
// are a warning and the defaults), and the victim's files stay as they were.
// The victim's own links work as ever; root follows only root's.
TEST_F(SharedFolder, OnlyTheRunningUsersOwnLinksAreFollowed)
{
    struct Case {
        const char* name;
        std::function<void()> plant;
        std::function<void(const Outcome&)> check;
        uid_t runAs = kVictim;
    } cases[] = {
        {"another user's OldLog.log to the victim's .bashrc, the log due for rotation",
         [&] {
             Put(victim / ".bashrc", "alias ls='ls -F'\n", kVictim);
             Put(shared / "Veltrane.log", EarlierLog(), kVictim);
             Link(victim / ".bashrc", shared / "OldLog.log", kOther);
         },
         [&](const Outcome& run) {
             EXPECT_EQ(run.status, 5) << run.output;
             EXPECT_NE(run.output.find("Veltrane: cannot rotate its log file " + (shared / "Veltrane.log").string() +
                                       ": error 1 (a symbolic link that belongs to another user)."),
                       std::string::npos)
                 << run.output;
             EXPECT_EQ(ReadFile(victim / ".bashrc"), "alias ls='ls -F'\n");
             EXPECT_EQ(ReadFile(shared / "Veltrane.log"), EarlierLog());
         }},
        {"another user's Veltrane.log to the victim's thesis",
         [&] {
             Put(victim / "thesis.txt", "Chapter 1\n", kVictim);
             Link(victim / "thesis.txt", shared / "Veltrane.log", kOther);
         },
         [&](const Outcome& run) {
             EXPECT_EQ(run.status, 5) << run.output;
             EXPECT_NE(run.output.find("cannot open its log file"), std::string::npos) << run.output;
             EXPECT_EQ(ReadFile(victim / "thesis.txt"), "Chapter 1\n");
             EXPECT_TRUE(IsLink(shared / "Veltrane.log"));
             EXPECT_FALSE(fs::exists(fs::symlink_status(shared / "OldLog.log")));
         }},
        {"another user's Veltrane.INI to the victim's notes",
         [&] {
             Put(victim / "notes.txt", "[Main]\r\nQuietMode=Y\r\nConnectionType=LAN\r\nOnlyIfConnected=Y\r\n", kVictim);
             Link(victim / "notes.txt", shared / "Veltrane.INI", kOther);
         },
         [&](const Outcome& run) {
             EXPECT_TRUE(
                 InOrder(Log(shared / "Veltrane.log"),
                         {"*** VEL started ***", "WARNING: the settings file " + (shared / "Veltrane.INI").string() +
                                                     " is not used (a symbolic link that belongs to another "
                                                     "user): the default settings apply, and nothing is "
                                                     "written to it"}));
             EXPECT_EQ(ReadFile(victim / "notes.txt"),
                       "[Main]\r\nQuietMode=Y\r\nConnectionType=LAN\r\nOnlyIfConnected=Y\r\n");
             EXPECT_TRUE(IsLink(shared / "Veltrane.INI")) << run.output;
         }},
        {"the victim's own links at all three names",
         [&] {
             fs::create_directories(victim / "logs");
             Put(victim / "logs/current.log", EarlierLog(), kVictim);
             Put(victim / "veltrane.ini", kSettings, kVictim);
             Link(victim / "logs/current.log", shared / "Veltrane.log", kVictim);
             Link(victim / "logs/previous.log", shared / "OldLog.log", kVictim);  // nothing there yet
             Link(victim / "veltrane.ini", shared / "Veltrane.INI", kVictim);
             ::chown((victim / "logs").c_str(), kVictim, kVictim);
         },
         [&](const Outcome& run) {
             EXPECT_EQ(run.status, 1) << run.output;
             for (const char* name : {"Veltrane.log", "OldLog.log", "Veltrane.INI"})
                 EXPECT_TRUE(IsLink(shared / name)) << name;
             EXPECT_EQ(ReadFile(victim / "logs/previous.log"), EarlierLog());
             EXPECT_TRUE(InOrder(Log(victim / "logs/current.log"),
                                 {"*** VEL started ***", "ERROR: winsock error - 10061 Connection refused"}));
             EXPECT_NE(ReadFile(victim / "veltrane.ini").find("OnlyIfConnected=N\r\n"), std::string::npos);
         }},
        {"root's run, a user's OldLog.log to root's file",
         [&] {
             Put(root / "root-file", "root's own\n", 0);
             Put(shared / "Veltrane.log", EarlierLog(), 0);
             Link(root / "root-file", shared / "OldLog.log", kOther);
         },
         [&](const Outcome& run) {
             EXPECT_EQ(run.status, 5) << run.output;
             EXPECT_EQ(ReadFile(root / "root-file"), "root's own\n");
         },
         0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        c.plant();
        if (!fs::exists(fs::symlink_status(shared / "Veltrane.INI")))
            Put(shared / "Veltrane.INI", kSettings, c.runAs);
        c.check(Run(c.runAs, root / "bin/veltrane", c.runAs == 0 ? root : victim, shared));
    }
}

// Only regular files: a pipe or a folder at the log's name is the log's
// error at once; a pipe at OldLog.log is a name the rotation replaces.
TEST_F(SharedFolder, OnlyRegularFilesAreOpenedAndNothingWaitsOnAPipe)
{
    struct Case {
        const char* name;
        std::function<void()> make;
        int status;
        const char* said;
    } cases[] = {
        {"a pipe at Veltrane.log", [&] { MakePipe(shared / "Veltrane.log"); }, 5, ": error 22 (not a regular file)."},
        {"a folder at Veltrane.log", [&] { fs::create_directory(shared / "Veltrane.log"); }, 5,
         ": error 21 (Is a directory)."},
        {"a pipe at OldLog.log, the log due for rotation",
         [&] {
             Put(shared / "Veltrane.log", EarlierLog(), kVictim);
             MakePipe(shared / "OldLog.log");
         },
         1, ""},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Put(shared / "Veltrane.INI", kSettings, kVictim);
        c.make();
        const Outcome run = RunVictim();
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_LT(run.seconds, 20);
        EXPECT_NE(run.output.find(c.said), std::string::npos) << run.output;
    }
    EXPECT_EQ(ReadFile(shared / "OldLog.log"), EarlierLog());

    // A pipe at the settings' name is no settings file: nothing waits, and
    // nothing is written into it.
    TearDown();
    SetUp();
    MakePipe(shared / "Veltrane.INI");
    const Outcome run = RunVictim();
    EXPECT_NE(run.status, 137) << run.output;
    EXPECT_LT(run.seconds, 20);
    struct stat info {};
    ASSERT_EQ(::lstat((shared / "Veltrane.INI").c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// An installed copy keeps each user's files in the user's own folder, also
// when root runs it and could write the program's folder; a portable copy
// keeps them beside itself.
TEST_F(SharedFolder, AnInstalledCopyUsesEachUsersFolderAndAPortableOneItsOwn)
{
    const fs::path prefix = root / "usr";
    const std::string install = "'" CMAKE_COMMAND "' --install '" BUILD_FOLDER "' --prefix '" + prefix.string() +
                                "' >'" + (root / "install.txt").string() + "' 2>&1";
    ASSERT_EQ(std::system(install.c_str()), 0) << ReadFile(root / "install.txt");
    ASSERT_TRUE(fs::is_regular_file(prefix / "share/veltrane/installed"));

    for (const uid_t uid : {uid_t{0}, kVictim}) {
        const fs::path home = root / ("home-" + std::to_string(uid));
        fs::create_directories(home / ".config/veltrane");
        for (const fs::path& folder : {home, home / ".config", home / ".config/veltrane"})
            ASSERT_EQ(::chown(folder.c_str(), uid, uid), 0);
        Put(home / ".config/veltrane/Veltrane.INI", kSettings, uid);
        const Outcome run = Run(uid, prefix / "bin/veltrane", home, "");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(InOrder(Log(home / ".config/veltrane/Veltrane.log"),
                            {"*** VEL started ***", "ERROR: winsock error - 10061 Connection refused"}));
    }
    for (const auto& entry : fs::directory_iterator(prefix / "bin"))
        EXPECT_EQ(entry.path().filename(), "veltrane");

    // The portable copy in a folder of the victim's.
    const fs::path portable = root / "portable";
    fs::create_directories(portable);
    fs::copy_file(root / "bin/veltrane", portable / "veltrane");
    ASSERT_EQ(::chown(portable.c_str(), kVictim, kVictim), 0);
    Put(portable / "Veltrane.INI", kSettings, kVictim);
    const Outcome run = Run(kVictim, portable / "veltrane", victim, "");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(InOrder(Log(portable / "Veltrane.log"), {"*** VEL started ***"}));
    EXPECT_FALSE(fs::exists(victim / ".config"));
}

// A lock that another process holds for the whole run costs one bounded wait
// (10 s), not one per line; the log is then written without it and not
// rotated.
TEST_F(SharedFolder, ALockHeldByAnotherProcessCostsOneWait)
{
    Put(shared / "Veltrane.INI", kSettings, kVictim);
    Put(shared / "Veltrane.log", EarlierLog(), kVictim);
    const int held = ::open((shared / "Veltrane.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const Outcome run = RunVictim();
    ::close(held);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_GE(run.seconds, 10);
    EXPECT_LT(run.seconds, 25) << "each line waited";
    const std::string log = ReadFile(shared / "Veltrane.log");
    EXPECT_EQ(log.rfind(EarlierLog(), 0), 0u);
    Lines stamped, texts;
    SplitLog(log.substr(EarlierLog().size()), stamped, texts);
    EXPECT_EQ(texts, (Lines{"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                            "starting connect to 127.0.0.1 (local test server)",
                            "ERROR: winsock error - 10061 Connection refused"}));
    EXPECT_FALSE(fs::exists(shared / "OldLog.log"));
}

}  // namespace
}  // namespace vel::integration
