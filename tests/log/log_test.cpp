#include <gtest/gtest.h>

#include "log/log.h"
#include "support/test_app.h"

namespace vel {
namespace {

using platform::LockResult;
using test::FatalStop;
using test::TestApp;
using Lines = std::vector<std::string>;

TEST(LogFile, FirstOpenCreatesTheLogWithTheStartMarker)
{
    TestApp t;
    t.clock = test::VirtualClock({2024, 5, 1, 14, 5, 0});
    OpenLog(t.app);
    EXPECT_EQ(t.env.files[t.LogPath()], "05.01.2024 14:05 *** VEL started ***\r\n");
}

TEST(LogFile, LineFormatPadsEveryFieldAndKeepsTheTextAsItIs)
{
    TestApp t;
    t.clock = test::VirtualClock({2025, 2, 3, 9, 7, 42});
    OpenLog(t.app);
    WriteLog(t.app, "first\nsecond");
    EXPECT_EQ(t.env.files[t.LogPath()], "02.03.2025 09:07 *** VEL started ***\r\n02.03.2025 09:07 first\nsecond\r\n");
}

TEST(LogFile, TimestampUsesTheLocaleTimeSeparator)
{
    EXPECT_EQ(FormatLogTimestamp({2025, 12, 31, 23, 59, 59}, "."), "12.31.2025 23.59");
    EXPECT_EQ(FormatLogTimestamp({2025, 1, 1, 0, 0, 0}, ":"), "01.01.2025 00:00");
}

TEST(LogFile, OneStartMarkerPerProcess)
{
    TestApp t;
    OpenLog(t.app);
    OpenLog(t.app);
    WriteLog(t.app, "x");
    EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"*** VEL started ***", "x"}));
}

TEST(LogFile, WriteBeforeOpenOpensFirst)
{
    TestApp t;
    WriteLog(t.app, "early");
    EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"*** VEL started ***", "early"}));
}

// On the journal a warning and an error carry their priority (sd-daemon's
// prefixes); the file's lines never do.
TEST(LogFile, OnTheJournalWarningsAndErrorsCarryTheirPriority)
{
    TestApp t;
    t.app.log.toStandardError = true;
    t.app.log.stampedOnStandardError = false;
    t.app.log.journalPriorities = true;
    for (const char* text : {"WARNING: w", "ERROR: e", "an ERROR: inside", "warning: in lower case"})
        WriteLog(t.app, text);
    EXPECT_EQ(t.env.standardError,
              "*** VEL started ***\n<4>WARNING: w\n<3>ERROR: e\nan ERROR: inside\nwarning: in lower case\n");
    EXPECT_EQ(t.LogLines(),
              (Lines{"*** VEL started ***", "WARNING: w", "ERROR: e", "an ERROR: inside", "warning: in lower case"}));
}

TEST(LogFile, RotationHappensOnlyAboveTenThousandBytes)
{
    for (const std::size_t size : {std::size_t{9999}, std::size_t{10000}, std::size_t{10001}}) {
        SCOPED_TRACE(size);
        TestApp t;
        const std::string old(size, 'x');
        t.env.files[t.LogPath()] = old;
        t.env.files["/app/OldLog.log"] = "an older rotation";
        OpenLog(t.app);
        const std::string marker = "02.03.2025 09:07 *** VEL started ***\r\n";
        if (size <= 10000) {
            EXPECT_EQ(t.env.files[t.LogPath()], old + marker);
            EXPECT_EQ(t.env.files["/app/OldLog.log"], "an older rotation");
        } else {
            EXPECT_EQ(t.env.files[t.LogPath()], marker);
            EXPECT_EQ(t.env.files["/app/OldLog.log"], old);
        }
    }
}

TEST(LogFile, ALogThatCannotBeOpenedStopsTheProgramWithTheErrorNumber)
{
    TestApp t;
    t.env.writable = false;
    try {
        OpenLog(t.app);
        FAIL() << "the program went on without its log";
    } catch (const FatalStop& stop) {
        const std::string message = stop.what();
        // The handler puts the program's name in front: the text must not.
        EXPECT_EQ(message.rfind("cannot open its log file /app/Veltrane.log: ", 0), 0u) << message;
        EXPECT_NE(message.find("error 13"), std::string::npos) << message;
        EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
    }
}

TEST(LogFile, AFolderNamedLikeTheLogStopsTheProgram)
{
    TestApp t;
    t.env.folders.insert(t.LogPath());
    EXPECT_THROW(OpenLog(t.app), FatalStop);
}

TEST(LogFile, AFailedWriteStopsTheProgramAndKeepsEveryEarlierLine)
{
    TestApp t;
    OpenLog(t.app);
    WriteLog(t.app, "kept");
    t.env.writeBudget = 10;  // the disk is full
    try {
        WriteLog(t.app, "lost");
        FAIL() << "a lost line was not reported";
    } catch (const FatalStop& stop) {
        EXPECT_NE(std::string(stop.what()).find("No space left on device"), std::string::npos);
    }
    EXPECT_EQ(t.LogLines(), (std::vector<std::string>{"*** VEL started ***", "kept"}));
}

TEST(LogFile, ARotationThatCannotCopyStopsBeforeTheOldLogIsLost)
{
    TestApp t;
    const std::string old(10001, 'y');
    t.env.files[t.LogPath()] = old;
    t.env.folders.insert("/app/OldLog.log");
    EXPECT_THROW(OpenLog(t.app), FatalStop);
    EXPECT_EQ(t.env.files[t.LogPath()], old);
}

// ---- Runs that overlap: the log's lock ------------------------------------------

TEST(LogLock, OpeningAndRotatingHoldTheExclusiveLockAndEveryLineIsWrittenUnderALock)
{
    TestApp t;
    std::vector<bool> kinds;
    t.env.onLock = [&](bool exclusive) {
        kinds.push_back(exclusive);
        return LockResult::Locked;
    };
    const std::string old(10001, 'x');
    t.env.files[t.LogPath()] = old;
    OpenLog(t.app);
    WriteLog(t.app, "one");
    WriteLog(t.app, "two");
    EXPECT_EQ(kinds, (std::vector<bool>{true, true, false, false}));  // the old log, the new one, two lines
    EXPECT_EQ(t.env.unlockedWrites, 0);
    // Moved aside whole, never copied and truncated.
    ASSERT_EQ(t.env.moves.size(), 1u);
    EXPECT_EQ(t.env.moves[0], std::make_pair(std::string("/app/Veltrane.log"), std::string("/app/OldLog.log")));
    EXPECT_EQ(t.env.files["/app/OldLog.log"], old);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "one", "two"}));
}

TEST(LogLock, ALockHeldByAnotherRunIsWaitedForThroughTheEventPump)
{
    TestApp t;
    t.env.onLock = [&](bool) { return t.clock.MonotonicSeconds() < 2.5 ? LockResult::Busy : LockResult::Locked; };
    t.env.files[t.LogPath()] = std::string(10001, 'x');
    OpenLog(t.app);
    EXPECT_GE(t.clock.MonotonicSeconds(), 2.5);
    EXPECT_LT(t.clock.MonotonicSeconds(), 2.7);  // polled often, not once a second
    EXPECT_GT(t.pump.DoEventsCalls(), 0);        // windows stayed alive meanwhile
    EXPECT_EQ(t.env.moves.size(), 1u);           // the rotation waited for the lock
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***"}));
    EXPECT_EQ(t.env.unlockedWrites, 0);

    // A line, too, waits its turn.
    const double before = t.clock.MonotonicSeconds();
    t.env.onLock = [&](bool) {
        return t.clock.MonotonicSeconds() < before + 1.0 ? LockResult::Busy : LockResult::Locked;
    };
    WriteLog(t.app, "later");
    EXPECT_GE(t.clock.MonotonicSeconds(), before + 1.0);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***", "later"}));
}

// A run that holds the lock for ever (stopped) must not stop this one: after
// one bounded wait it appends without the lock for the rest of the run, and
// leaves the rotation to a later run.
TEST(LogLock, ALockThatIsNeverFreedCostsOneBoundedWaitAndTheLogIsNotRotated)
{
    TestApp t;
    int tries = 0;
    t.env.onLock = [&](bool) {
        ++tries;
        return LockResult::Busy;
    };
    const std::string old(10001, 'x');
    t.env.files[t.LogPath()] = old;
    t.env.files["/app/OldLog.log"] = "older";
    OpenLog(t.app);
    const int triesToOpen = tries;
    for (const char* line : {"one", "two", "three", "four", "five"})
        WriteLog(t.app, line);
    EXPECT_GE(t.clock.MonotonicSeconds(), 10.0);
    EXPECT_LT(t.clock.MonotonicSeconds(), 11.0);
    EXPECT_EQ(tries, triesToOpen);  // the lines did not even try
    EXPECT_TRUE(t.env.moves.empty());
    EXPECT_EQ(t.env.files["/app/OldLog.log"], "older");
    EXPECT_EQ(t.env.files[t.LogPath()].substr(0, old.size()), old);
    EXPECT_TRUE(test::InOrder(test::SplitLogLines(t.env.files[t.LogPath()].substr(old.size()), false),
                              {"*** VEL started ***", "one", "two", "three", "four", "five"}));
}

TEST(LogLock, WhereTheFileSystemKeepsNoLocksTheLogIsStillRotated)
{
    TestApp t;
    t.env.onLock = [](bool) { return LockResult::Unsupported; };
    t.env.files[t.LogPath()] = std::string(10001, 'x');
    OpenLog(t.app);
    EXPECT_EQ(t.env.moves.size(), 1u);
    EXPECT_EQ(t.LogLines(), (Lines{"*** VEL started ***"}));
    EXPECT_EQ(t.clock.MonotonicSeconds(), 0.0);
}

TEST(LogLock, ALogThatCannotBeReopenedAfterAnotherRunsRotationStopsTheProgram)
{
    TestApp t;
    t.env.onLock = [](bool) { return LockResult::Failed; };
    EXPECT_THROW(OpenLog(t.app), FatalStop);
    t.env.onLock = nullptr;
    OpenLog(t.app);
    t.env.onLock = [](bool) { return LockResult::Failed; };
    EXPECT_THROW(WriteLog(t.app, "x"), FatalStop);
}

}  // namespace
}  // namespace vel
