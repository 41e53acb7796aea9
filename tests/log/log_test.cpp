#include <gtest/gtest.h>

#include "log/log.h"
#include "support/test_app.h"

namespace vel {
namespace {

using test::FatalStop;
using test::TestApp;

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
    const auto lines = t.LogLines(true);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "02.03.2025 09:07 first\nsecond");
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
        EXPECT_NE(message.find("/app/Veltrane.log"), std::string::npos) << message;
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

}  // namespace
}  // namespace vel
