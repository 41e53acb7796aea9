// The real program in a folder that several users may write, run as one user
// while files of another lie there; and an installed copy run as root and as
// a user.
//
// Several users need a user namespace that maps more than one uid, which
// `unshare -r` does not, and Debian 12's `unshare --map-users` wants the
// setuid newuidmap (package uidmap) and /etc/subuid entries. So the test forks
// a child that unshares its user, network and mount namespaces, and writes the
// child's maps itself from outside (root there may map any ids): uids and
// gids 0-65535 as they are, so files the test makes for 4201 (the victim) and
// 4202 (another user) belong to them inside too. The child's shell brings up
// loopback, gives the default server's name the loopback address (in
// /etc/hosts, bound over in its own mount namespace: it is refused at once)
// and runs the program with `setpriv --reuid`. Setting the clock fails in any
// user namespace but the first, as with `unshare -r`, and nothing leaves the
// private network.
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
#include <map>
#include <string>

#include "program_run.h"
#include "settings/settings.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kVictim = 4201, kOther = 4202;

const std::string kSettings =
    "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n";

struct Outcome {
    int status = -1;
    double seconds = 0;
    std::string output;
};

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

// A named pipe anyone may open, with nobody at the other end.
void MakePipe(const fs::path& at)
{
    EXPECT_EQ(::mkfifo(at.c_str(), 0), 0);
    EXPECT_EQ(::chmod(at.c_str(), 0666), 0);
}

// A log of whole lines, over the 10000 bytes at which it is rotated.
std::string EarlierLog()
{
    std::string log;
    for (int line = 0; log.size() <= 10000; ++line)
        log += "01.01.2025 08:00 earlier run, line " + std::to_string(line) + "\r\n";
    return log;
}

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
        fs::create_directories(victim / "logs");
        for (const fs::path& folder : {victim, victim / "logs"})
            ASSERT_EQ(::chown(folder.c_str(), kVictim, kVictim), 0);
        // A copy of the program every user may run (the build tree need not be).
        fs::copy_file(VELTRANE_EXE, root / "veltrane");
        const std::string server = kDefaultNTPServer;
        std::ofstream(root / "hosts") << "127.0.0.1 localhost " << server.substr(0, server.find(' ')) << "\n";
    }
    void TearDown() override { fs::remove_all(root); }

    // Runs `program` "noupdate" as `uid` with HOME `home` and VELTRANE_HOME
    // `folder` (none when empty); nothing listens on port 13.
    Outcome Run(uid_t uid, const fs::path& program, const fs::path& home, const fs::path& folder) const
    {
        const fs::path script = root / "run.sh", output = root / "output.txt";
        std::ofstream(script) << "ip link set lo up && ip route add default dev lo || exit 97\n"
                              << "mount --make-rprivate / && mount --bind '" << (root / "hosts").string()
                              << "' /etc/hosts || exit 98\n"
                              << "exec setpriv --reuid=" << uid << " --regid=" << uid << " --clear-groups "
                              << "env -i PATH=/usr/bin:/bin HOME='" << home.string() << "' "
                              << (folder.empty() ? "" : "VELTRANE_HOME='" + folder.string() + "' ")
                              << "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/veltrane-test "
                              << "ASAN_OPTIONS=\"$ASAN_OPTIONS\" UBSAN_OPTIONS=\"$UBSAN_OPTIONS\" "
                              << "timeout -s KILL 60 '" << program.string() << "' noupdate\n";
        int up[2], down[2];
        EXPECT_EQ(::pipe2(up, O_CLOEXEC) | ::pipe2(down, O_CLOEXEC), 0);
        const auto start = std::chrono::steady_clock::now();
        const pid_t child = ::fork();
        if (child == 0) {
            char go = 0;
            const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0 || ::write(up[1], &go, 1) != 1 ||
                ::read(down[0], &go, 1) != 1 || ::dup2(out, 1) < 0 || ::dup2(out, 2) < 0)
                ::_exit(96);
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
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), ReadFile(output)};
    }

    fs::path root, shared, victim;
};

// Links someone else planted are never followed: such a log is the log's
// error (status 5), such a settings file a warning and the defaults; the
// victim's files stay as they were. The victim's own links work as ever;
// root follows only root's. Nothing waits on a pipe; a pipe at OldLog.log is
// a name that the rotation replaces.
TEST_F(SharedFolder, OnlyTheUsersOwnLinksAreFollowedAndOnlyRegularFilesUsed)
{
    struct Entry {
        const char* at;  // below the test's folder
        char kind;       // a file with `text` ('f', or 'v' one that must stay so), 'l' a link to `text`, 'p' a pipe
        std::string text;
        uid_t owner;
    };
    struct Case {
        const char* name;
        std::vector<Entry> plant;
        int status;
        const char* said;  // in the output or the log
        std::map<std::string, std::string> after;
        uid_t runAs = kVictim;
    } cases[] = {
        {"another user's OldLog.log to the victim's .bashrc",
         {{"victim/.bashrc", 'v', "alias ls='ls -F'\n", kVictim},
          {"shared/Veltrane.log", 'f', EarlierLog(), kVictim},
          {"shared/OldLog.log", 'l', "../victim/.bashrc", kOther}},
         5,
         "cannot rotate its log file",
         {{"shared/Veltrane.log", EarlierLog()}}},
        {"another user's Veltrane.log to the victim's thesis",
         {{"victim/thesis.txt", 'v', "Chapter 1\n", kVictim},
          {"shared/Veltrane.log", 'l', "../victim/thesis.txt", kOther}},
         5,
         "cannot open its log file",
         {}},
        {"another user's Veltrane.INI to the victim's notes",
         {{"victim/notes.txt", 'v', "[Main]\r\nQuietMode=Y\r\n", kVictim},
          {"shared/Veltrane.INI", 'l', "../victim/notes.txt", kOther}},
         1,
         "WARNING: the settings file ",
         {}},
        {"the victim's own links at all three names",
         {{"victim/logs/current.log", 'f', EarlierLog(), kVictim},
          {"victim/veltrane.ini", 'f', kSettings, kVictim},
          {"shared/Veltrane.log", 'l', "../victim/logs/current.log", kVictim},
          {"shared/OldLog.log", 'l', "../victim/logs/previous.log", kVictim},
          {"shared/Veltrane.INI", 'l', "../victim/veltrane.ini", kVictim}},
         1,
         "ERROR: winsock error - 10061",
         {{"victim/logs/previous.log", EarlierLog()}}},
        {"root's run, a user's OldLog.log to root's file",
         {{"victim/root-file", 'v', "root's own\n", 0},
          {"shared/Veltrane.log", 'f', EarlierLog(), 0},
          {"shared/OldLog.log", 'l', "../victim/root-file", kOther}},
         5,
         "OldLog.log: a symbolic link that belongs to another user).",
         {},
         0},
        {"a pipe at Veltrane.log",
         {{"shared/Veltrane.log", 'p', "", kVictim}},
         5,
         ": error 22 (not a regular file).",
         {}},
        {"a pipe at OldLog.log, the log due for rotation",
         {{"shared/Veltrane.log", 'f', EarlierLog(), kVictim}, {"shared/OldLog.log", 'p', "", kVictim}},
         1,
         "ERROR: winsock error - 10061",
         {{"shared/OldLog.log", EarlierLog()}}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        for (const Entry& e : c.plant) {
            if (e.kind == 'f' || e.kind == 'v')
                Put(root / e.at, e.text, e.owner);
            if (e.kind == 'l')
                Link(e.text, root / e.at, e.owner);
            if (e.kind == 'p')
                MakePipe(root / e.at);
        }
        if (!fs::exists(fs::symlink_status(shared / "Veltrane.INI")))
            Put(shared / "Veltrane.INI", kSettings, c.runAs);

        const Outcome run = Run(c.runAs, root / "veltrane", c.runAs == 0 ? root : victim, shared);
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_LT(run.seconds, 30);
        const std::string log = ReadFile(fs::is_regular_file(shared / "Veltrane.log") ? shared / "Veltrane.log" : root);
        EXPECT_NE((run.output + log).find(c.said), std::string::npos) << run.output;
        // Links stay links, the victim's files as they were.
        for (const Entry& e : c.plant) {
            if (e.kind == 'l') {
                EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root / e.at))) << e.at;
            } else if (e.kind == 'v') {
                EXPECT_EQ(ReadFile(root / e.at), e.text) << e.at;
            }
        }
        for (const auto& [file, text] : c.after)
            EXPECT_EQ(ReadFile(root / file), text) << file;
    }
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
    for (const uid_t uid : {uid_t{0}, kVictim}) {
        const fs::path home = root / ("home-" + std::to_string(uid)), folder = home / ".config/veltrane";
        fs::create_directories(folder);
        for (const fs::path& made : {home, home / ".config", folder})
            ASSERT_EQ(::chown(made.c_str(), uid, uid), 0);
        Put(folder / "Veltrane.INI", kSettings, uid);
        const Outcome run = Run(uid, prefix / "bin/veltrane", home, "");
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_EQ(ReadFile(folder / "Veltrane.log").find("*** VEL started ***"), 17u);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(prefix / "bin"), fs::directory_iterator()), 1);

    Put(shared / "Veltrane.INI", kSettings, kVictim);
    fs::copy_file(root / "veltrane", shared / "veltrane");
    EXPECT_EQ(Run(kVictim, shared / "veltrane", victim, "").status, 1);
    EXPECT_EQ(ReadFile(shared / "Veltrane.log").find("*** VEL started ***"), 17u);
    EXPECT_FALSE(fs::exists(victim / ".config"));
}

// A lock another process holds for the whole run costs one bounded wait
// (10 s), not one per line; the log is then written without it, not rotated.
TEST_F(SharedFolder, ALockHeldByAnotherProcessCostsOneWait)
{
    Put(shared / "Veltrane.INI", kSettings, kVictim);
    Put(shared / "Veltrane.log", EarlierLog(), kVictim);
    const int held = ::open((shared / "Veltrane.log").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const Outcome run = Run(kVictim, root / "veltrane", victim, shared);
    ::close(held);
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_GE(run.seconds, 10);
    EXPECT_LT(run.seconds, 25) << "each line waited";
    Lines stamped, texts;
    SplitLog(ReadFile(shared / "Veltrane.log").substr(EarlierLog().size()), stamped, texts);
    EXPECT_EQ(texts, (Lines{"*** VEL started ***", "started in quiet mode", "detected current connection via LAN",
                            "starting connect to 127.0.0.1 (local test server)", kAskedOverNtp, kRefusedBothWays}));
    EXPECT_FALSE(fs::exists(shared / "OldLog.log"));
}

}  // namespace
}  // namespace vel::integration
