// Who keeps the clock besides us: timedated's NTP and the time services'
// systemd units, as python-dbusmock's timedated and systemd templates play
// them on a private bus.
#include "platform/linux/linux_time_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/dbus/private_bus.h"

namespace vel::platform {
namespace {

constexpr const char* kTimedated = "org.freedesktop.timedate1";
constexpr const char* kSystemd = "org.freedesktop.systemd1";

struct Case {
    const char* ntp;                  // timedated's NTP; null: no timedated on the bus
    std::vector<const char*> active;  // units started; "-name": loaded, not started
    TimeService expected;
};

class TimeServicesTest : public ::testing::TestWithParam<Case> {};

TEST_P(TimeServicesTest, TheFirstActiveUnitOrTimedatedsNtpWithTheWayToTurnItOff)
{
    const Case& c = GetParam();
    test::PrivateSystemBus bus;
    ASSERT_EQ(bus.Error(), "");
    if (c.ntp) {
        ASSERT_TRUE(bus.StartMock("timedated", kTimedated, std::string("{\"NTP\": ") + c.ntp + "}")) << bus.Error();
    }
    ASSERT_TRUE(bus.StartMock("systemd", kSystemd)) << bus.Error();
    for (const char* unit : c.active) {
        const bool start = unit[0] != '-';
        const QString name = QString::fromLatin1(start ? unit : unit + 1);
        ASSERT_EQ(
            bus.Call(kSystemd, "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMockUnit", {name}).type(),
            QDBusMessage::ReplyMessage);
        if (start)
            bus.Call(kSystemd, "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager", "StartUnit",
                     {name, QString("replace")});
    }
    const TimeService found = FindTimeServiceInCharge({bus.Address(), 2000});
    EXPECT_EQ(found.name, c.expected.name);
    EXPECT_EQ(found.turnOff, c.expected.turnOff);
}

INSTANTIATE_TEST_SUITE_P(
    Services, TimeServicesTest,
    ::testing::Values(
        Case{"false", {}, {}}, Case{nullptr, {}, {}},
        Case{"true", {}, {"systemd-timedated's network time synchronisation", "timedatectl set-ntp false"}},
        Case{"true", {"systemd-timesyncd.service"}, {"systemd-timesyncd.service", "timedatectl set-ntp false"}},
        Case{"false",
             {"-ntpsec.service", "chrony.service"},
             {"chrony.service", "systemctl disable --now chrony.service"}},
        Case{nullptr, {"openntpd.service"}, {"openntpd.service", "systemctl disable --now openntpd.service"}},
        Case{"false", {"-systemd-timesyncd.service", "-chronyd.service"}, {}}));

TEST(TimeServices, NoBusIsNobodyAndAServiceThatHangsIsAskedOnce)
{
    EXPECT_EQ(FindTimeServiceInCharge({"unix:path=/nonexistent/veltrane-test-bus", 500}).name, "");

    test::PrivateSystemBus bus;
    ASSERT_EQ(bus.Error(), "");
    ASSERT_TRUE(bus.StartMock("timedated", kTimedated, "{\"NTP\": false}")) << bus.Error();
    ASSERT_TRUE(bus.StartMock("systemd", kSystemd)) << bus.Error();
    bus.Call(kSystemd, "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
             {QString("org.freedesktop.systemd1.Manager"), QString("GetUnit"), QString("s"), QString("o"),
              QString("time.sleep(3)")});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindTimeServiceInCharge({bus.Address(), 300}).name, "");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.5);
    EXPECT_EQ(bus.CallsOf(kSystemd, "GetUnit").size(), 1u);
}

}  // namespace
}  // namespace vel::platform
