// Start-up paths of the real program that end before, or beside, the run:
// a log that cannot be written, the configuration dialog with no display,
// "debug" in a quiet run, a window run without a display, and two window
// runs at once.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "program_run.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSettings =
    "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=Y\r\n";

class ProgramStart : public ProgramTest {};

// A log that cannot be opened (a folder, a device) stops the program at
// once: the error is named on standard error, the exit status is not 0, and
// the settings file is left as it was.
TEST_F(ProgramStart, ALogThatCannotBeWrittenStopsTheProgramWithTheError)
{
    WriteSettings(kSettings);
    fs::create_directory(home / "Veltrane.log");  // a folder where the log should be
    ProgramRun run = Run({});
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.output.find("veltrane: cannot open its log file " + (home / "Veltrane.log").string() +
                              ": error 21 (Is a directory)."),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadSettings(), kSettings);
    EXPECT_LT(run.seconds, 3.0);  // stopped before the start delay

    // A device (an endless full disk) is no log, even through one's own link.
    fs::remove(home / "Veltrane.log");
    fs::create_symlink("/dev/full", home / "Veltrane.log");
    run = Run({});
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.output.find("cannot open its log file " + (home / "Veltrane.log").string() +
                              ": error 22 (not a regular file)."),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadSettings(), kSettings);
}

// Without a display the dialog cannot open; saying so beats waiting for a
// window nobody sees. No settings file is made, and no log.
TEST_F(ProgramStart, ConfigurationWithoutADisplayIsRefusedWithTheSettingsPath)
{
    RunOptions options;
    options.arguments = "config";
    const ProgramRun run = Run(options);
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.output.find("the configuration dialog needs a display"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find((home / "Veltrane.INI").string()), std::string::npos) << run.output;
    EXPECT_FALSE(fs::exists(home / "Veltrane.INI"));
    EXPECT_FALSE(fs::exists(home / "Veltrane.log"));
}

// --help and --version answer on standard output and end with status 0,
// without a settings file, a log or a display, wherever they stand.
TEST_F(ProgramStart, HelpAndVersionAnswerWithoutTouchingAnything)
{
    for (const char* request : {"--help", "-h", "noupdate --help"}) {
        RunOptions options;
        options.arguments = request;
        const ProgramRun run = Run(options);
        EXPECT_EQ(run.exitStatus, 0) << request;
        EXPECT_EQ(run.output.rfind("Usage: veltrane [OPTION]... [config] [noupdate] [debug] [quiet]\n", 0), 0u)
            << run.output;
        EXPECT_NE(run.output.find("Exit status:"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("\n  " + (home / "Veltrane.log").string() + "\n"), std::string::npos) << run.output;
    }
    RunOptions options;
    options.arguments = "--version";
    ProgramRun run = Run(options);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Veltrane 1.55\n");
    EXPECT_TRUE(fs::is_empty(home)) << "no settings file, no log";
}

// An option the program does not know ends it at once with status 64 and
// the usual two lines on standard error: no file touched, no connection.
TEST_F(ProgramStart, AnUnknownOptionEndsTheStartAtOnce)
{
    WriteSettings(kSettings);
    // The Windows program's own options are unknown here.
    for (const std::string option : {"-x", "--verbose", "--no-update", "-nq", "--MACHINE", "--write-task-xml"}) {
        RunOptions options;
        options.arguments = "noupdate " + option;
        options.server = "--offset -95";
        const ProgramRun run = Run(options);
        EXPECT_EQ(run.exitStatus, 64);
        EXPECT_EQ(run.output,
                  "veltrane: unrecognized option '" + option + "'\nTry 'veltrane --help' for more information.\n");
        EXPECT_EQ(run.serverConnections, 0);
        EXPECT_EQ(ReadSettings(), kSettings);
        EXPECT_FALSE(fs::exists(home / "Veltrane.log"));
    }
}

// The machine's settings are root's: anyone else is told so at once.
TEST_F(ProgramStart, TheMachinesDialogIsRefusedToAnyoneButRoot)
{
    const std::string command = "env -u DISPLAY unshare --map-user=65534 -n '" VELTRANE_EXE "' --machine config >'" +
                                (home / "out").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 77);
    EXPECT_EQ(ReadFile(home / "out"),
              "veltrane: only root may change the machine's settings "
              "/etc/veltrane/Veltrane.INI: sudo veltrane --machine config\n");
}

// The program folder is VELTRANE_HOME, given in any case of the switch.
TEST_F(ProgramStart, DebugInAQuietRunWritesTheErrorToStandardError)
{
    WriteSettings(kSettings);
    RunOptions options;
    options.arguments = "DeBuG";
    const ProgramRun run = Run(options);  // nothing listens on port 13
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", kRefusedBothWays}));
    EXPECT_NE(run.output.find(kRefusedBothWays + "\n"), std::string::npos) << run.output;
}

// Where nobody can see a box (Qt's offscreen platform), "debug" shows none:
// the run ends, and the text is on standard error.
TEST_F(ProgramStart, DebugWhereNobodySeesABoxEndsWithTheErrorOnStandardError)
{
    WriteSettings(kSettings);
    RunOptions options;
    options.arguments = "debug noupdate";
    options.offscreen = true;
    const ProgramRun run = Run(options);  // nothing listens on port 13
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", kRefusedBothWays}));
    EXPECT_NE(run.output.find(kRefusedBothWays + "\n"), std::string::npos) << run.output;
}

// The box of a log that cannot be written, where nobody can see one: none
// holds the program, which ends at once with status 5 and the error on
// standard error.
TEST_F(ProgramStart, ALogThatCannotBeWrittenWhereNobodySeesABoxEndsAtOnce)
{
    fs::create_directory(home / "Veltrane.log");
    for (const char* quiet : {"Y", "N"}) {
        SCOPED_TRACE(quiet);
        WriteSettings(std::string("[Main]\r\nQuietMode=") + quiet + "\r\n");
        RunOptions options;
        options.offscreen = true;
        const ProgramRun run = Run(options);
        EXPECT_EQ(run.exitStatus, 5);
        EXPECT_LT(run.seconds, 10.0);
        EXPECT_NE(run.output.find("veltrane: cannot open its log file " + (home / "Veltrane.log").string()),
                  std::string::npos)
            << run.output;
    }
}

// A run that would show its window where no display opens (one that names
// no server, a platform that is missing or cannot start) goes on without
// windows, as a quiet run does, and says why in the log: Qt never gets to
// end the process.
struct NoDisplay {
    const char* environment;
    const char* reason;
};

// ctest names the cases by what they set, the same in every build.
void PrintTo(const NoDisplay& noDisplay, std::ostream* out)
{
    *out << noDisplay.environment;
}

class AWindowRunWithoutADisplay : public ProgramTest, public ::testing::WithParamInterface<NoDisplay> {};

TEST_P(AWindowRunWithoutADisplay, GoesOnWithoutWindows)
{
    WriteSettings("[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n");
    RunOptions options;
    options.environment = GetParam().environment;
    const ProgramRun run = Run(options);  // nothing listens on port 13
    EXPECT_EQ(run.signal, 0) << run.output;
    EXPECT_EQ(run.exitStatus, 1) << run.output;
    EXPECT_TRUE(InOrder(
        run.log,
        {"*** VEL started ***", std::string("WARNING: running without windows, as in quiet mode: ") + GetParam().reason,
         kRefusedBothWays}))
        << run.output;
    EXPECT_NE(ReadSettings().find("OnlyIfConnected=N"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(ProgramStart, AWindowRunWithoutADisplay,
                         ::testing::Values(NoDisplay{"DISPLAY=:5797", "could not connect to display :5797"},
                                           NoDisplay{"QT_QPA_PLATFORM=xcb", "could not connect to display"},
                                           NoDisplay{"WAYLAND_DISPLAY=wayland-5797",
                                                     "Could not find the Qt platform plugin \"wayland\" in \"\""},
                                           NoDisplay{
                                               "QT_QPA_PLATFORM=nosuchplatform",
                                               "Could not find the Qt platform plugin \"nosuchplatform\" in \"\""}));

// A window run whose first is stopped (SIGSTOP) gets no answer from it: it
// says so on standard error (nobody sees a box on the offscreen platform)
// and ends with status 7.
TEST_F(ProgramStart, ASecondWindowRunWhoseFirstIsStoppedSaysSoAndEnds)
{
    WriteSettings("[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=30\r\nConnectionType=LAN\r\n");
    const fs::path out = home.string() + ".stopped";
    fs::create_directories(out);
    fs::permissions(out, fs::perms::owner_all, fs::perm_options::replace);
    const std::string program = "env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR='" + out.string() + "' VELTRANE_HOME='" +
                                home.string() + "' DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent '" VELTRANE_EXE "'";
    std::ofstream(out / "run.sh") << "ip link set lo up; " << program << " & echo $! >'" << out.string()
                                  << "/first'; until grep -qs started '" << (home / "Veltrane.log").string()
                                  << "'; do sleep 0.05; done; sleep 0.5; kill -STOP $!; " << program << " 2>'"
                                  << out.string() << "/second.err'; echo $? >'" << out.string()
                                  << "/second'; kill -CONT $!; kill $!; wait $!\n";
    std::system(
        ("env -u DISPLAY -u WAYLAND_DISPLAY timeout 60 unshare -r -n sh '" + out.string() + "/run.sh'").c_str());
    const std::string first = ReadFile(out / "first");
    EXPECT_EQ(ReadFile(out / "second"), "7\n");
    EXPECT_EQ(ReadFile(out / "second.err"),
              "veltrane: another window run of this folder (process " + first.substr(0, first.size() - 1) +
                  ") is in progress but does not answer (stopped or hung?): this start ends\n");
    fs::remove_all(out);
}

// Two window runs of one folder at once: the second brings the first to the
// front and ends with status 0; the first runs to its end.
TEST_F(ProgramStart, ASecondWindowRunOfTheFolderEndsAndLeavesTheRunToTheFirst)
{
    WriteSettings("[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n");
    RunOptions options;
    options.offscreen = true;
    options.instances = 2;
    const ProgramRun run = Run(options);  // nothing listens on port 13
    std::vector<int> statuses = run.exitStatuses;
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses, (std::vector<int>{0, 1})) << run.output;
    EXPECT_EQ(std::count_if(run.log.begin(), run.log.end(),
                            [](const std::string& line) {
                                return line.rfind("another window run of this folder is in progress: ", 0) == 0;
                            }),
              1);
    EXPECT_EQ(std::count(run.log.begin(), run.log.end(), kRefusedBothWays), 1);
}

}  // namespace
}  // namespace vel::integration
