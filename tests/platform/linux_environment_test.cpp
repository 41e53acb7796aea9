#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/linux/linux_environment.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;

using Facts = LinuxEnvironment::FolderFacts;

// An installed copy never keeps its files beside itself, whatever its
// folder allows; a portable one always does; VELTRANE_HOME overrides both.
TEST(ProgramFolder, ChosenByTheInstallMarkNeverByWhatTheFolderAllows)
{
    struct Case {
        Facts facts;
        const char* folder;
    } cases[] = {
        {{"/opt/veltrane", false, "", "/home/u/.cfg", "/home/u"}, "/opt/veltrane"},
        {{"/usr/bin", true, "", "/home/u/.cfg", "/home/u"}, "/home/u/.cfg/veltrane"},
        {{"/usr/bin", true, "", "", "/home/u"}, "/home/u/.config/veltrane"},
        {{"/usr/bin", true, "", "relative/cfg", "/home/u"}, "/home/u/.config/veltrane"},  // not absolute: ignored
        {{"/usr/bin", true, "", "", ""}, "/usr/bin"},
        {{"/opt/veltrane", false, "/srv/clock//", "/x", "/y"}, "/srv/clock"},
        {{"/usr/bin", true, "/srv/clock", "/x", "/y"}, "/srv/clock"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(c.facts), c.folder) << c.facts.executableFolder;
        EXPECT_EQ(LinuxEnvironment::ChooseLogFolder(c.facts), c.folder);
    }
    // The machine's run: its own two folders, whatever else is set.
    const Facts machine{"/usr/bin", true, "/srv/clock", "/x", "/y", true};
    EXPECT_EQ(LinuxEnvironment::ChooseProgramFolder(machine), "/etc/veltrane");
    EXPECT_EQ(LinuxEnvironment::ChooseLogFolder(machine), "/var/log/veltrane");
}

struct LinuxFiles : ::testing::Test {
    fs::path dir;
    void SetUp() override
    {
        char templ[] = "/tmp/veltrane-env-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir = templ;
        ::setenv("VELTRANE_HOME", dir.c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("VELTRANE_HOME");
        fs::remove_all(dir);
    }
    std::string Read(const fs::path& p)
    {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string P(const char* name) { return (dir / name).string(); }
};

TEST_F(LinuxFiles, ArgumentsAndFolderFromTheProcess)
{
    LinuxEnvironment env({"Config", "noUpdate", "a b"}, "/nowhere/veltrane");
    EXPECT_EQ(env.Process().arguments, (std::vector<std::string>{"Config", "noUpdate", "a b"}));
    EXPECT_EQ(env.ProgramFolder(), dir.string());
    EXPECT_EQ(env.Process().folders.separator, "/");
}

TEST_F(LinuxFiles, AFolderIsNoOrdinaryFile)
{
    LinuxEnvironment env({}, "/x/veltrane");
    fs::create_directory(P("Veltrane.INI"));
    EXPECT_FALSE(env.OrdinaryFileSize(P("Veltrane.INI")).has_value());
    EXPECT_FALSE(env.RemoveFile(P("Veltrane.INI")));
    EXPECT_TRUE(fs::is_directory(P("Veltrane.INI")));
    platform::SystemError error;
    EXPECT_EQ(env.OpenAppend(P("Veltrane.INI"), error), nullptr);
    EXPECT_EQ(error.number, EISDIR);
}

TEST_F(LinuxFiles, AppendMoveAndDelete)
{
    LinuxEnvironment env({}, "/x/veltrane");
    platform::SystemError error;
    {
        auto log = env.OpenAppend(P("Veltrane.log"), error);
        ASSERT_NE(log, nullptr);
        ASSERT_TRUE(log->Write("one\r\n", error));
        // On disk at once, before the file is closed.
        EXPECT_EQ(Read(P("Veltrane.log")), "one\r\n");
    }
    {
        auto log = env.OpenAppend(P("Veltrane.log"), error);
        ASSERT_TRUE(log->Write("two\r\n", error));
        EXPECT_EQ(log->Size(), 10);
    }
    EXPECT_EQ(env.OrdinaryFileSize(P("Veltrane.log")), 10);
    std::ofstream(P("OldLog.log")) << "older";
    ASSERT_TRUE(env.MoveFileTo(P("Veltrane.log"), P("OldLog.log"), error));
    EXPECT_EQ(Read(P("OldLog.log")), "one\r\ntwo\r\n");
    EXPECT_FALSE(fs::exists(P("Veltrane.log")));
    EXPECT_TRUE(env.RemoveFile(P("OldLog.log")));
    EXPECT_FALSE(env.IsOrdinaryFile(P("OldLog.log")));
    // Nothing left behind: no temporary file.
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(LinuxFiles, AFailedMoveKeepsTheTarget)
{
    LinuxEnvironment env({}, "/x/veltrane");
    std::ofstream(P("OldLog.log")) << "older";
    platform::SystemError error;
    EXPECT_FALSE(env.MoveFileTo(P("missing.log"), P("OldLog.log"), error));
    EXPECT_EQ(error.number, ENOENT);
    EXPECT_EQ(Read(P("OldLog.log")), "older");
    fs::create_directory(P("folder"));
    std::ofstream(P("Veltrane.log")) << "log";
    EXPECT_FALSE(env.MoveFileTo(P("Veltrane.log"), P("folder"), error));
    EXPECT_EQ(Read(P("Veltrane.log")), "log");
}

// Two runs with the log open: the lock is one at a time, and a run that
// waited while the other rotated finds the new log, not the moved one.
TEST_F(LinuxFiles, TheLockFollowsTheLogToItsNewFileAfterARotation)
{
    LinuxEnvironment env({}, "/x/veltrane");
    platform::SystemError error;
    auto first = env.OpenAppend(P("Veltrane.log"), error);
    auto second = env.OpenAppend(P("Veltrane.log"), error);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->Write("earlier run\r\n", error));

    ASSERT_EQ(first->TryLock(true, error), platform::LockResult::Locked);
    EXPECT_EQ(second->TryLock(false, error), platform::LockResult::Busy);
    EXPECT_EQ(second->TryLock(true, error), platform::LockResult::Busy);
    ASSERT_TRUE(env.MoveFileTo(P("Veltrane.log"), P("OldLog.log"), error));
    auto fresh = env.OpenAppend(P("Veltrane.log"), error);
    ASSERT_TRUE(fresh->Write("marker\r\n", error));
    EXPECT_EQ(second->TryLock(false, error), platform::LockResult::Busy);  // still the old file's lock
    first->Unlock();

    ASSERT_EQ(second->TryLock(false, error), platform::LockResult::Locked);
    EXPECT_EQ(second->Size(), 8);
    ASSERT_TRUE(second->Write("line\r\n", error));
    second->Unlock();
    EXPECT_EQ(Read(P("Veltrane.log")), "marker\r\nline\r\n");
    EXPECT_EQ(Read(P("OldLog.log")), "earlier run\r\n");

    // Shared locks go together; an exclusive one waits for them.
    ASSERT_EQ(second->TryLock(false, error), platform::LockResult::Locked);
    EXPECT_EQ(fresh->TryLock(false, error), platform::LockResult::Locked);
    EXPECT_EQ(first->TryLock(true, error), platform::LockResult::Busy);
}

// Symbolic links at either name stay links: the files they name are moved
// and written.
TEST_F(LinuxFiles, LinksAtBothNamesAreKeptThroughARotation)
{
    LinuxEnvironment env({}, "/x/veltrane");
    fs::create_directory(P("logs"));
    std::ofstream(P("logs/current.log")) << "full log";
    std::ofstream(P("logs/previous.log")) << "older";
    fs::create_symlink("logs/current.log", P("Veltrane.log"));
    fs::create_symlink(dir / "logs/previous.log", P("OldLog.log"));
    platform::SystemError error;
    ASSERT_TRUE(env.MoveFileTo(P("Veltrane.log"), P("OldLog.log"), error)) << error.description;
    EXPECT_TRUE(fs::is_symlink(P("Veltrane.log")));
    EXPECT_TRUE(fs::is_symlink(P("OldLog.log")));
    EXPECT_EQ(Read(P("logs/previous.log")), "full log");
    EXPECT_FALSE(fs::exists(P("logs/current.log")));
    auto log = env.OpenAppend(P("Veltrane.log"), error);
    ASSERT_TRUE(log->Write("new\r\n", error));
    EXPECT_EQ(Read(P("logs/current.log")), "new\r\n");

    // A link to another file system: the file is copied there whole.
    const fs::path shm = "/dev/shm";
    if (fs::is_directory(shm) && ::access(shm.c_str(), W_OK) == 0) {
        const fs::path elsewhere = shm / ("veltrane-old-" + std::to_string(::getpid()) + ".log");
        fs::remove(P("OldLog.log"));
        fs::create_symlink(elsewhere, P("OldLog.log"));
        ASSERT_TRUE(env.MoveFileTo(P("Veltrane.log"), P("OldLog.log"), error)) << error.description;
        EXPECT_EQ(Read(elsewhere), "new\r\n");
        EXPECT_TRUE(fs::is_symlink(P("Veltrane.log")));
        EXPECT_FALSE(fs::exists(P("logs/current.log")));
        fs::remove(elsewhere);
    }
}

// The machine's run (root, in a folder others may write) uses a log or an
// old log only when it is its own with one link; a user's run as ever.
TEST_F(LinuxFiles, TheMachinesRunUsesOnlyItsOwnLogFilesWithOneLink)
{
    std::ofstream(dir / "own") << "x\r\n";
    std::ofstream(dir / "linked") << "x\r\n";
    fs::create_hard_link(dir / "linked", dir / "elsewhere");
    std::ofstream(dir / "foreign") << "x\r\n";
    const bool foreignMade = ::chown(P("foreign").c_str(), 65534, 65534) == 0;  // root only
    fs::create_symlink(dir / "own", dir / "link-to-own");
    struct Case {
        const char* name;
        const char* refusal;  // of the machine's run; null: used
    };
    std::vector<Case> cases = {{"own", nullptr},
                               {"new", nullptr},
                               {"link-to-own", nullptr},
                               {"linked", "a file with more than one link (a hard link)"}};
    if (foreignMade)
        cases.push_back({"foreign", "a file that belongs to another user"});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxEnvironment user({}, "/x/veltrane");
        LinuxEnvironment machine({"--machine"}, "/x/veltrane");
        SystemError error;
        EXPECT_NE(user.OpenAppend(P(c.name), error), nullptr) << error.description;
        error = {};
        EXPECT_EQ(machine.OpenAppend(P(c.name), error) == nullptr, c.refusal != nullptr);
        EXPECT_EQ(error.description, c.refusal ? c.refusal : "");
        // The old log too: no rotation moves the log over it.
        if (c.refusal) {
            std::ofstream(dir / "log") << "y\r\n";
            EXPECT_FALSE(machine.MoveFileTo(P("log"), P(c.name), error));
            EXPECT_NE(error.description.find(c.refusal), std::string::npos) << error.description;
            EXPECT_EQ(Read(dir / c.name), "x\r\n");
        }
    }
    EXPECT_EQ(Read(dir / "elsewhere"), "x\r\n");
}

TEST_F(LinuxFiles, OpenInAMissingFolderGivesTheErrorNumber)
{
    LinuxEnvironment env({}, "/x/veltrane");
    platform::SystemError error;
    EXPECT_EQ(env.OpenAppend(P("no-such-folder/Veltrane.log"), error), nullptr);
    EXPECT_EQ(error.number, ENOENT);
    EXPECT_FALSE(error.description.empty());
}

TEST_F(LinuxFiles, ProgramsAreFoundOnThePathAndStartedWithoutAShell)
{
    LinuxEnvironment env({}, "/x/veltrane");
    ASSERT_TRUE(env.FindProgram("sh").has_value());
    EXPECT_FALSE(env.FindProgram("veltrane-no-such-program").has_value());
    const std::string marker = P("started; touch injected");
    ASSERT_TRUE(env.StartProgram({"/bin/sh", "-c", "touch \"$0\"", marker}));
    for (int i = 0; i < 200 && !fs::exists(marker); ++i)
        ::usleep(10000);
    EXPECT_TRUE(fs::exists(marker));
    EXPECT_FALSE(fs::exists(P("injected")));
    EXPECT_FALSE(env.StartProgram({"/nonexistent/program"}));
}

// Found on the PATH, the panel among XDG_DATA_DIRS's desktop entries, and
// started with its arguments.
TEST_F(LinuxFiles, TheSystemInformationToolStartsFromThePathWithItsArguments)
{
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    const char* oldData = std::getenv("XDG_DATA_DIRS");
    const std::string savedData = oldData ? oldData : "";
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "share/applications");
    ::setenv("PATH", (dir / "bin").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (dir / "share").c_str(), 1);
    const std::string marker = P("arguments");
    std::ofstream(dir / "bin/gnome-control-center")
        << "#!/bin/sh\necho \"$@\" >" << marker << ".new && /bin/mv " << marker << ".new " << marker << "\n";
    fs::permissions(dir / "bin/gnome-control-center", fs::perms::owner_all);
    LinuxEnvironment env({}, "/x/veltrane");
    const bool noneWithoutItsPanel = !env.SystemInformationCommand() && !env.StartSystemInformation();
    std::ofstream(dir / "share/applications/gnome-info-overview-panel.desktop") << "[Desktop Entry]\n";
    const bool started = env.StartSystemInformation();
    ::setenv("PATH", oldPath.c_str(), 1);
    if (oldData != nullptr)
        ::setenv("XDG_DATA_DIRS", savedData.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_DIRS");

    EXPECT_TRUE(noneWithoutItsPanel);
    EXPECT_TRUE(started);
    for (int i = 0; i < 200 && !fs::exists(marker); ++i)
        ::usleep(10000);
    std::ifstream in(marker);
    std::string arguments;
    std::getline(in, arguments);
    EXPECT_EQ(arguments, "info-overview");
}

// Standard error is the journal only where JOURNAL_STREAM names that very
// file; a pipe whose reader has gone takes nothing more and never ends the
// program (SIGPIPE).
TEST_F(LinuxFiles, StandardErrorIsTheJournalOnlyWhereJournalStreamNamesIt)
{
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(::open(P("stderr.txt").c_str(), O_WRONLY | O_CREAT, 0644), STDERR_FILENO);
    struct stat st {};
    ::fstat(STDERR_FILENO, &st);
    LinuxEnvironment env({}, "/x/veltrane");
    std::vector<ErrorStream> seen{env.Process().standardError};
    for (ino_t inode : {st.st_ino, st.st_ino + 1}) {
        ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(inode)).c_str(), 1);
        seen.push_back(env.Process().standardError);
    }
    ::unsetenv("JOURNAL_STREAM");
    env.WriteStandardError("a line\n");
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    ::dup2(pipe[1], STDERR_FILENO);
    env.WriteStandardError("lost\n");
    ::dup2(saved, STDERR_FILENO);
    EXPECT_EQ(seen, (std::vector<ErrorStream>{ErrorStream::Other, ErrorStream::Journal, ErrorStream::Other}));
    EXPECT_EQ(Read(P("stderr.txt")), "a line\n");
}

}  // namespace
}  // namespace vel::platform
