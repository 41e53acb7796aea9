// Setting the clock through systemd-timedated, as python-dbusmock's timedated
// template plays it on a private bus. Only the D-Bus call is made here:
// clock_settime is never called outside `unshare -r -n`.
#include "platform/linux/linux_timedated.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <chrono>
#include <string>
#include <vector>

#include "support/dbus/private_bus.h"

namespace vel::platform {
namespace {

constexpr const char* kTimedated = "org.freedesktop.timedate1";
constexpr const char* kPath = "/org/freedesktop/timedate1";

class TimedatedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(bus.Error(), "");
        ASSERT_TRUE(bus.StartMock("timedated", kTimedated)) << bus.Error();
        options.busAddress = bus.Address();
        options.timeoutMs = 5000;
    }

    // SetTime runs this Python in the mock (it answers one call at a time).
    void SetTimeDoes(const std::string& code)
    {
        const QVariantList method{QString(kTimedated), QString("SetTime"), QString("xbb"), QString(""),
                                  QString::fromStdString(code)};
        const QDBusMessage reply = bus.Call(kTimedated, kPath, "org.freedesktop.DBus.Mock", "AddMethod", method);
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    }

    test::PrivateSystemBus bus;
    TimedatedOptions options;
};

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST_F(TimedatedTest, TheStepGoesAsMicrosecondsRelativeAndInteractive)
{
    struct Case {
        Span step;
        const char* call;
    };
    const Case cases[] = {
        {{95, 500999999}, "95501000 True True"},            // rounded to the nearest microsecond
        {{-96, 499999500}, "-95500000 True True"},          // -95.5000005 s
        {{-1, 999999999}, "0 True True"},                   // a nanosecond back
        {{-3000000000, 0}, "-3000000000000000 True True"},  // a clock a century ahead
    };
    for (const Case& c : cases)
        EXPECT_EQ(StepTimeThroughTimedated(c.step, options), "") << c.call;
    std::vector<std::string> expected;
    for (const Case& c : cases)
        expected.push_back(c.call);
    EXPECT_EQ(bus.CallsOf(kTimedated, "SetTime"), expected);
}

TEST_F(TimedatedTest, ARefusalIsReportedWithTheServicesReason)
{
    SetTimeDoes(
        "raise dbus.exceptions.DBusException('Automatic time synchronization is enabled', "
        "name='org.freedesktop.timedate1.AutomaticTimeSyncEnabled')");
    EXPECT_EQ(StepTimeThroughTimedated(Seconds(95), options),
              "systemd-timedated refused: Automatic time synchronization is enabled "
              "(org.freedesktop.timedate1.AutomaticTimeSyncEnabled)");
}

TEST_F(TimedatedTest, WhilePolkitAsksTheEventLoopRuns)
{
    // The user takes a second to answer polkit's question.
    SetTimeDoes("time.sleep(1.0)");
    int repaints = 0;
    QTimer paint;
    paint.setInterval(50);
    QObject::connect(&paint, &QTimer::timeout, [&repaints] { ++repaints; });
    paint.start();
    bool cancelSeen = false;
    QTimer::singleShot(300, [&cancelSeen] { cancelSeen = true; });

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StepTimeThroughTimedated(Seconds(95), options), "");
    EXPECT_GE(Since(start), 0.9);
    EXPECT_GE(repaints, 10);  // about 20 in a second
    EXPECT_TRUE(cancelSeen);
    EXPECT_EQ(bus.CallsOf(kTimedated, "SetTime").size(), 1u);
}

TEST_F(TimedatedTest, AnAnswerLaterThanTheTimeOutIsTheErrorOfNoReply)
{
    SetTimeDoes("time.sleep(3)");
    options.timeoutMs = 500;
    const auto start = std::chrono::steady_clock::now();
    const std::string reason = StepTimeThroughTimedated(Seconds(95), options);
    EXPECT_LT(Since(start), 1.5);
    EXPECT_EQ(reason.rfind("systemd-timedated refused: ", 0), 0u) << reason;
    EXPECT_EQ(reason.substr(reason.rfind(" (")), " (org.freedesktop.DBus.Error.NoReply)") << reason;
}

TEST_F(TimedatedTest, NoServiceAndNoBusAreReasonsToo)
{
    bus.KillMock(kTimedated);
    std::string reason = StepTimeThroughTimedated(Seconds(95), options);
    EXPECT_EQ(reason.rfind("systemd-timedated refused: ", 0), 0u) << reason;
    EXPECT_NE(reason.find("(org.freedesktop.DBus.Error.ServiceUnknown)"), std::string::npos) << reason;

    options.busAddress = "unix:path=/nonexistent/veltrane-test-bus";
    reason = StepTimeThroughTimedated(Seconds(95), options);
    EXPECT_EQ(reason.rfind("no system bus to reach systemd-timedated", 0), 0u) << reason;
}

}  // namespace
}  // namespace vel::platform
