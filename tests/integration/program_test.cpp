// Start-up paths of the real program that end before, or beside, the run:
// a log that cannot be written, the configuration dialog with no display,
// and "debug" in a quiet run.
#include <csignal>
#include <filesystem>
#include <string>

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
    EXPECT_NE(run.output.find("Veltrane: cannot open its log file " + (home / "Veltrane.log").string() +
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
// without a settings file, a log or a display; any other command line that
// holds them is a start as ever.
TEST_F(ProgramStart, HelpAndVersionAnswerWithoutTouchingAnything)
{
    for (const char* request : {"--help", "-h"}) {
        RunOptions options;
        options.arguments = request;
        const ProgramRun run = Run(options);
        EXPECT_EQ(run.exitStatus, 0) << request;
        EXPECT_EQ(run.output.rfind("Usage: veltrane [config] [noupdate] [debug]\n", 0), 0u) << run.output;
        EXPECT_NE(run.output.find("Exit status:"), std::string::npos) << run.output;
    }
    RunOptions options;
    options.arguments = "--version";
    ProgramRun run = Run(options);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.output, "Veltrane 1.55\n");
    EXPECT_TRUE(fs::is_empty(home)) << "no settings file, no log";

    // With another word, --help is only text that holds no word: with no
    // settings file that is the configuration dialog, here refused.
    options.arguments = "--help noupdate";
    run = Run(options);
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.output.find("the configuration dialog needs a display"), std::string::npos) << run.output;
}

// The program folder is VELTRANE_HOME, given in any case of the switch.
TEST_F(ProgramStart, DebugInAQuietRunWritesTheErrorToStandardError)
{
    WriteSettings(kSettings);
    RunOptions options;
    options.arguments = "DeBuG";
    const ProgramRun run = Run(options);  // nothing listens on port 13
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(InOrder(run.log, {"*** VEL started ***", "ERROR: winsock error - 10061 Connection refused"}));
    EXPECT_NE(run.output.find("ERROR: winsock error - 10061 Connection refused\n"), std::string::npos) << run.output;
}

// Where a display exists, a quiet run shows its boxes as a window run does:
// the "debug" box holds the run until it is dismissed (here: until a stop),
// and its text does not go to standard error.
TEST_F(ProgramStart, DebugInAQuietRunWithADisplayShowsTheErrorInABox)
{
    WriteSettings(kSettings);
    RunOptions options;
    options.arguments = "debug noupdate";
    options.offscreen = true;
    auto program = Start(options);  // nothing listens on port 13
    ASSERT_TRUE(program->WaitForLogLine("ERROR: winsock error - 10061", 20));
    EXPECT_TRUE(program->StillRunningAfter(1.5)) << "no box held the run";
    program->Signal(SIGTERM);
    const ProgramRun run = program->Finish(10);
    EXPECT_EQ(run.exitStatus, 143);
    EXPECT_TRUE(
        InOrder(run.log, {"ERROR: winsock error - 10061 Connection refused", "WARNING: stopped by signal SIGTERM"}));
    EXPECT_EQ(run.output.find("ERROR: winsock error"), std::string::npos) << run.output;
}

// The box of a log that cannot be written, in a quiet run with a display:
// shown by a process of its own (a quiet run makes no QApplication), which
// the program waits for. Ending the box ends the program with status 5.
TEST_F(ProgramStart, ALogThatCannotBeWrittenInAQuietRunWithADisplayShowsABox)
{
    WriteSettings(kSettings);
    fs::create_directory(home / "Veltrane.log");
    RunOptions options;
    options.offscreen = true;
    auto program = Start(options);
    EXPECT_TRUE(program->StillRunningAfter(2.0)) << "no box held the program";
    program->SignalGroup(SIGTERM);  // the box's process with it
    const ProgramRun run = program->Finish(10);
    EXPECT_EQ(run.exitStatus, 5);
    EXPECT_NE(run.output.find("Veltrane: cannot open its log file " + (home / "Veltrane.log").string()),
              std::string::npos)
        << run.output;
    EXPECT_EQ(ReadSettings(), kSettings);
}

}  // namespace
}  // namespace vel::integration
