#include <gtest/gtest.h>

#include <cctype>

#include "run/entry.h"
#include "status/status_window.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::TestApp;

const char* kQuietSettings = "[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=3\r\nQuietMode=Y\r\n";
const char* kWindowSettings = "[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=3\r\nQuietMode=y\r\n";

// Runs the program, closing the configuration dialog by its close box when it
// opens; true when it opened. The configuration path starts no run.
bool OpensConfiguration(TestApp& t)
{
    bool opened = false;
    t.pump.After(1.0, [&] {
        if (auto* dialog = t.windows.FindForm("frmVELConfigure"); dialog && dialog->IsVisible()) {
            opened = true;
            dialog->CloseBox();
        }
    });
    const ExitStatus status = ProgramMain(t.app);
    EXPECT_EQ(status, ExitStatus::Ok);
    EXPECT_FALSE(t.app.flags.RunStarted);
    EXPECT_FALSE(t.app.HasStatusWindow());
    EXPECT_EQ(t.env.files.count(t.LogPath()), 0u);
    return opened;
}

TEST(StartChosen, TheWordConfigAnywhereInAnyCaseOpensTheConfiguration)
{
    for (const char* line : {"config", "CONFIG", "Reconfigure", "noupdate config", "/home/me/configs/x"}) {
        SCOPED_TRACE(line);
        TestApp t;
        t.WriteSettings(kQuietSettings);
        t.env.commandLine = line;
        EXPECT_TRUE(OpensConfiguration(t));
    }
}

TEST(StartChosen, NoSettingsFileOrAFolderOfThatNameOpensTheConfiguration)
{
    TestApp missing;
    missing.env.commandLine = "noupdate";
    EXPECT_TRUE(OpensConfiguration(missing));

    TestApp folder;
    folder.WriteSettings(kQuietSettings);
    folder.env.folders.insert(folder.SettingsPath());
    EXPECT_TRUE(OpensConfiguration(folder));
}

TEST(StartChosen, QuietModeRunsWithoutShowingAWindow)
{
    TestApp t;
    t.WriteSettings(kQuietSettings);
    t.env.commandLine = "NoUpdate";
    ProgramMain(t.app);
    EXPECT_TRUE(t.app.options.noUpdate);
    EXPECT_TRUE(t.app.runFinished);
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_FALSE(t.Window()->WasShown());
    EXPECT_TRUE(test::InOrder(t.LogLines(), {"*** VEL started ***", "started in quiet mode"}));
    // The hidden window's close saved the settings at the end.
    EXPECT_NE(t.SettingsText().find("OnlyIfConnected=N"), std::string::npos);
}

TEST(StartChosen, AnyOtherQuietModeShowsTheStatusWindowAndWaitsForItsRun)
{
    TestApp t;
    t.WriteSettings(kWindowSettings);
    const ExitStatus status = ProgramMain(t.app);
    ASSERT_NE(t.Window(), nullptr);
    EXPECT_TRUE(t.Window()->WasShown());
    EXPECT_FALSE(t.Window()->IsVisible());  // the run closed it
    EXPECT_TRUE(t.app.runFinished);
    EXPECT_EQ(status, t.app.exitStatus);
    const auto lines = t.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "started in quiet mode"), 0);
    EXPECT_GE(t.clock.MonotonicSeconds(), 3.0);  // the start delay ran
}

TEST(StartChosen, ClosingTheWindowDuringTheDelayEndsTheProgramWithTheSettingsSaved)
{
    TestApp t;
    t.WriteSettings(kWindowSettings);
    t.pump.At(1.5, [&] { t.Window()->CloseBox(); });
    const ExitStatus status = ProgramMain(t.app);
    EXPECT_EQ(status, ExitStatus::Cancelled);
    const auto lines = t.LogLines();
    EXPECT_TRUE(test::InOrder(lines, {"*** VEL started ***", "ERROR: user cancelled before connect started"}));
    EXPECT_FALSE(test::InOrder(lines, {"starting connect*"}));
    EXPECT_NE(t.SettingsText().find("QuietMode=N"), std::string::npos);
    EXPECT_DOUBLE_EQ(t.clock.MonotonicSeconds(), 2.0);
}

// Where no window can be shown (no display opened), a run that would show
// its window goes on as a quiet one: no start delay, one WARNING line in
// place of "started in quiet mode", its settings saved as they were. Only a
// run with its window shown claims the folder.
TEST(StartChosen, WithoutWindowsAWindowRunGoesOnAsAQuietOne)
{
    struct Case {
        const char* settings;
        const char* unavailable;
        const char* secondLine;  // after the start marker; null: the start delay's place has none
        bool shown;
    };
    const Case cases[] = {
        {kQuietSettings, "", "started in quiet mode", false},
        {kQuietSettings, "could not connect to display :99", "started in quiet mode", false},
        {kWindowSettings, "could not connect to display :99",
         "WARNING: running without windows, as in quiet mode: could not connect to display :99", false},
        {kWindowSettings, "", nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.settings) + " / " + c.unavailable);
        TestApp t;
        t.WriteSettings(c.settings);
        t.app.windowsUnavailable = c.unavailable;
        double connectedAt = -1;
        t.socket.onConnect = [&](test::FakeSocket& socket, int) {
            connectedAt = t.clock.MonotonicSeconds();
            socket.DeliverError(platform::SocketFailure::Refused, "Connection refused");
        };
        ProgramMain(t.app);
        EXPECT_TRUE(t.app.runFinished);
        EXPECT_EQ(t.Window()->WasShown(), c.shown);
        EXPECT_EQ(t.windowRuns.claimed.size(), c.shown ? 1u : 0u);
        EXPECT_EQ(connectedAt >= 3.0, c.shown) << connectedAt;  // the start delay, only with the window
        const auto lines = t.LogLines();
        if (c.secondLine)
            EXPECT_TRUE(test::InOrder(lines, {"*** VEL started ***", c.secondLine, "starting connect*"}));
        else
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                    [](const std::string& line) {
                                        return line == "started in quiet mode" ||
                                               line.rfind("WARNING: running", 0) == 0;
                                    }),
                      0);
        EXPECT_NE(t.SettingsText().find(c.settings == kQuietSettings ? "QuietMode=Y" : "QuietMode=N"),
                  std::string::npos);
    }
}

// A second window run of the folder (the log-on entry, then a click) opens no
// second status window: it asks the first one to come to the front, logs
// that, and ends with status 0, its settings file untouched. A first one that
// does not answer (stopped, hung) is never a silent end: the user is told in
// a box (where one can be seen) and on standard error, and the status says so.
TEST(StartChosen, ASecondWindowRunOfTheFolderBringsTheFirstToTheFrontOrSaysItCannot)
{
    const std::string silent =
        "another window run of this folder (process 4321) is in progress but does not answer "
        "(stopped or hung?): this start ends";
    const struct {
        bool answers;
        ExitStatus status;
        std::string logLine, standardError;
        std::size_t boxes;
    } cases[] = {
        {true, ExitStatus::Ok, "another window run of this folder is in progress: its window was brought to the front",
         "", 0},
        {false, ExitStatus::NotAnswering, "ERROR: " + silent, "veltrane: " + silent + "\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logLine);
        TestApp t;
        t.WriteSettings(kWindowSettings);
        t.windowRuns.heldElsewhere.insert("/app");
        t.windowRuns.holderAnswers = c.answers;
        EXPECT_EQ(ProgramMain(t.app), c.status);
        EXPECT_FALSE(t.app.HasStatusWindow());
        EXPECT_EQ(t.windowRuns.asked, std::vector<std::string>{"/app"});
        EXPECT_TRUE(test::InOrder(t.LogLines(), {"*** VEL started ***", c.logLine}));
        EXPECT_FALSE(test::InOrder(t.LogLines(), {"starting connect*"}));
        EXPECT_EQ(t.env.standardError, c.standardError);
        ASSERT_EQ(t.windows.messages.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(t.windows.messages[0].text,
                      "Veltrane is already running for this folder (process 4321), but does not answer: it may be "
                      "stopped or hung.\n\nThis start ends. End that process, or wait for it, and start Veltrane "
                      "again.");
        }
        EXPECT_EQ(t.SettingsText(), kWindowSettings);
    }
}

// The holder brings its windows to the front whenever a later start asks,
// and its run goes on. Once its window is closed (the run goes on without
// it), it lets the claim go: a later start shows a window of its own.
TEST(StartChosen, TheFirstWindowRunComesToTheFrontWhenAskedAndLetsGoWhenItsWindowCloses)
{
    TestApp t;
    t.WriteSettings(kWindowSettings);
    t.pump.At(1.0, [&] {
        ASSERT_TRUE(t.windowRuns.comeToFront);
        t.windowRuns.comeToFront();
    });
    bool heldAfterClose = true, runOnAfterClose = false;
    t.pump.At(4.5, [&] {  // while the server is asked
        t.Window()->CloseBox();
        heldAfterClose = t.windowRuns.held;
        runOnAfterClose = !t.app.runFinished;
    });
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Cancelled);
    EXPECT_EQ(t.windows.frontRequests, 1);
    EXPECT_FALSE(heldAfterClose);
    EXPECT_TRUE(runOnAfterClose);
    EXPECT_EQ(t.windowRuns.releases, 1);
    EXPECT_TRUE(t.app.runFinished);
}

// --open-log opens the log with the desktop's handler and does nothing else;
// where there is none to open, or nothing opens it, the user is told.
TEST(StartChosen, OpenLogOpensTheLogOnTheDesktopAndTouchesNothing)
{
    const std::string log = "/app/Veltrane.log";
    const struct {
        bool logExists;
        const char* noDisplay;
        bool shellTakesIt;
        ExitStatus status;
        const char* said;  // on standard error after "veltrane: ", and in a box
    } cases[] = {
        {true, "", true, ExitStatus::Ok, nullptr},
        {false, "", true, ExitStatus::NoLogOpened, "there is no log yet: /app/Veltrane.log"},
        {true, "", false, ExitStatus::NoLogOpened, "no program opened the log: /app/Veltrane.log"},
        {true, "could not connect to display :9", true, ExitStatus::NoLogOpened,
         "there is no desktop to open the log with (could not connect to display :9): /app/Veltrane.log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said ? c.said : "opened");
        TestApp t;
        t.env.commandLine = "--open-log config noupdate";
        t.WriteSettings(kWindowSettings);
        if (c.logExists)
            t.env.files[log] = "01.02.2026 10:00 *** VEL started ***\r\n";
        t.app.windowsUnavailable = c.noDisplay;
        t.shell.result = c.shellTakesIt;
        const auto before = t.env.files;
        EXPECT_EQ(ProgramMain(t.app), c.status);
        EXPECT_EQ(t.shell.opened.size(), c.logExists && !*c.noDisplay ? 1u : 0u);
        if (!t.shell.opened.empty()) {
            EXPECT_EQ(t.shell.opened[0], log);
        }
        EXPECT_EQ(t.env.files, before);
        EXPECT_EQ(t.profile.writes, 0);
        EXPECT_FALSE(t.app.HasStatusWindow());
        EXPECT_EQ(t.env.standardError, c.said ? "veltrane: " + std::string(c.said) + "\n" : "");
        ASSERT_EQ(t.windows.messages.size(), c.said ? 1u : 0u);
        if (c.said) {
            std::string box = c.said;
            box[0] = static_cast<char>(std::toupper(box[0]));
            EXPECT_EQ(t.windows.messages[0].text, box);
        }
    }
}

// The start decision as the composition root asks it, before any App or
// window exists: it only reads, and agrees with what the entry point does.
TEST(StartDecision, WindowsForTheConfigurationOrAnyQuietModeButExactlyYOrAQuietStart)
{
    struct Case {
        const char* commandLine;
        const char* settings;  // null: no settings file
        bool configuration;
        bool windows;
    };
    const Case cases[] = {
        {"", nullptr, true, true},
        {"noupdate", kQuietSettings, false, false},
        {"noupdate", kWindowSettings, false, true},  // "y" is not "Y"
        {"Configure", kQuietSettings, true, true},
        {"", "[Main]\r\nQuietMode=Y \r\n", false, false},  // the INI rules drop the trailing blank
        {"", "[Main]\r\nNTPServer=x\r\n", false, true},
        {"", "[Other]\r\nQuietMode=Y\r\n", false, true},
        // This start quiet, whatever the file says; the machine's run too, and
        // without a file it runs on the defaults rather than ask.
        {"--quiet", kWindowSettings, false, false},
        {"-q", kWindowSettings, false, false},
        {"/Quiet", kWindowSettings, false, false},
        {"--machine", kWindowSettings, false, false},
        {"--machine", nullptr, false, false},
        {"--machine config", nullptr, true, true},
        {"-q", nullptr, true, true},  // a first start still opens the dialog
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + " / " + (c.settings ? c.settings : "no file"));
        TestApp t;
        t.env.commandLine = c.commandLine;
        if (c.settings)
            t.WriteSettings(c.settings);
        const auto before = t.env.files;
        EXPECT_EQ(WantsConfiguration(t.env), c.configuration);
        EXPECT_EQ(WantsWindows(t.env, t.profile), c.windows);
        EXPECT_EQ(t.env.files, before);  // nothing written
    }
}

TEST(StartDecision, AFolderNamedLikeTheSettingsFileIsNoSettingsFile)
{
    TestApp t;
    t.env.folders.insert(t.SettingsPath());
    EXPECT_TRUE(WantsConfiguration(t.env));
    EXPECT_TRUE(WantsWindows(t.env, t.profile));
}

// The machine's run: quiet whatever QuietMode says, its log in a folder of
// its own, its settings file (the administrator's) never written: no repair
// of Delay or NTPServer, no save at the end; without one, the defaults and a
// warning. --quiet too leaves the file's QuietMode as it was.
TEST(StartChosen, TheMachinesRunOnlyReadsItsSettingsAndAQuietStartKeepsQuietMode)
{
    for (const char* settings : {"[Main]\r\nDelay=1\r\nQuietMode=N\r\n", static_cast<const char*>(nullptr)}) {
        TestApp t;
        t.env.logFolder = "/log";
        t.env.commandLine = "--machine";
        if (settings)
            t.WriteSettings(settings);
        ProgramMain(t.app);
        EXPECT_EQ(t.profile.writes, 0);
        EXPECT_EQ(t.env.files.count(t.SettingsPath()), settings ? 1u : 0u);
        EXPECT_FALSE(t.Window()->WasShown());
        const auto lines = test::SplitLogLines(t.env.files["/log/Veltrane.log"], false);
        EXPECT_TRUE(test::InOrder(
            lines, {"*** VEL started ***", settings ? "started in quiet mode"
                                                    : "WARNING: the settings file /app/Veltrane.INI does not exist: "
                                                      "the default settings apply"}));
    }
    TestApp t;
    t.WriteSettings(kWindowSettings);
    t.env.commandLine = "-q";
    ProgramMain(t.app);
    EXPECT_FALSE(t.Window()->WasShown());
    EXPECT_TRUE(test::InOrder(t.LogLines(), {"*** VEL started ***", "started in quiet mode"}));
    EXPECT_NE(t.SettingsText().find("QuietMode=N"), std::string::npos);  // "y" saved as ever, not "Y"
}

// A quiet run's lines go to standard error as well, stamped but where the
// journal stamps them itself (and reads an error's priority from its prefix);
// never from a run with its window. A run that fails names its log there at
// its end.
TEST(StartChosen, AQuietRunsLogGoesToStandardErrorAndAFailedRunNamesItsLog)
{
    using platform::ErrorStream;
    const struct {
        const char* settings;
        const char* unavailable;  // no display
        ErrorStream stream;
        bool written;
    } cases[] = {
        {kQuietSettings, "", ErrorStream::Other, true},        {kQuietSettings, "", ErrorStream::Journal, true},
        {kWindowSettings, "none", ErrorStream::Journal, true}, {kQuietSettings, "", ErrorStream::Terminal, true},
        {kQuietSettings, "", ErrorStream::None, false},        {kWindowSettings, "", ErrorStream::Terminal, false},
    };
    for (const auto& c : cases) {
        TestApp t;
        t.WriteSettings(c.settings);
        t.app.windowsUnavailable = c.unavailable;
        t.env.errorStream = c.stream;
        EXPECT_EQ(ProgramMain(t.app), ExitStatus::NoTime);
        std::string expected;  // every line of the log, each ended by a line feed alone
        for (const std::string& line : t.LogLines(c.stream != ErrorStream::Journal)) {
            if (c.stream == ErrorStream::Journal)
                expected += line.starts_with("ERROR: ") ? "<3>" : line.starts_with("WARNING: ") ? "<4>" : "";
            expected += line + "\n";
        }
        EXPECT_EQ(t.env.standardError, (c.written ? expected : "") + "veltrane: see the log: /app/Veltrane.log\n")
            << static_cast<int>(c.stream);
    }
    // A run that ends well says nothing more.
    TestApp t;
    t.WriteSettings(kWindowSettings);
    t.socket.onConnect = [](test::FakeSocket& socket, int) {
        socket.DeliverData("\n60709 26-01-01 00:00:00 00 0 0  50.0 UTC(NIST) * \n");
    };
    t.env.commandLine = "noupdate";
    EXPECT_EQ(ProgramMain(t.app), ExitStatus::Ok);
    EXPECT_EQ(t.env.standardError, "");
}

}  // namespace
}  // namespace vel
