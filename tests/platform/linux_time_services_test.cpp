// Who keeps the clock besides us: timedated's NTP and the time services'
// units, as python-dbusmock's timedated and systemd play them on a private
// bus; every answer bounded.
#include "platform/linux/linux_time_services.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/dbus/private_bus.h"

namespace vel::platform {
namespace {

TEST(TimeServices, TheFirstActiveUnitOrTimedatedsNtpWithTheWayToTurnItOff)
{
    const struct {
        const char* ntp;             // timedated's NTP; null: no timedated
        std::vector<QString> units;  // loaded; those without a "-" in front also started
        const char* name;            // found; empty: none
        const char* turnOff;
    } cases[] = {
        {"false", {"-systemd-timesyncd.service"}, "", ""},
        {"true", {}, "systemd-timedated's network time synchronisation", "timedatectl set-ntp false"},
        {"true", {"systemd-timesyncd.service"}, "systemd-timesyncd.service", "timedatectl set-ntp false"},
        {nullptr, {"-ntpsec.service", "chrony.service"}, "chrony.service", "systemctl disable --now chrony.service"},
    };
    for (const auto& c : cases) {
        test::PrivateSystemBus bus;
        if (c.ntp)
            bus.StartMock("timedated", "org.freedesktop.timedate1", std::string("{\"NTP\": ") + c.ntp + "}");
        ASSERT_TRUE(bus.StartMock(test::SystemdUnitsTemplate(), "org.freedesktop.systemd1")) << bus.Error();
        for (const QString& unit : c.units) {
            const QString name = unit.startsWith('-') ? unit.mid(1) : unit;
            bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock",
                     "AddMockUnit", {name});
            if (name == unit)
                bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.systemd1.Manager",
                         "StartUnit", {name, QString("replace")});
        }
        const TimeService found = FindTimeServiceInCharge({bus.Address(), 2000});
        EXPECT_EQ(found.name, c.name);
        EXPECT_EQ(found.turnOff, c.turnOff);
        EXPECT_EQ(found.unknown, "");
    }
}

// What cannot be learnt is not taken for "none": the bus out of reach, a
// service that fails to answer, systemd itself missing.
TEST(TimeServices, WhatCannotBeLearntSaysWhy)
{
    EXPECT_EQ(FindTimeServiceInCharge({"unix:path=/nonexistent/veltrane-test-bus", 500})
                  .unknown.rfind("the system bus cannot be reached", 0),
              0u);
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("timedated", "org.freedesktop.timedate1", "{\"NTP\": false}")) << bus.Error();
    TimeService found = FindTimeServiceInCharge({bus.Address(), 2000});
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.unknown.rfind("systemd did not say whether systemd-timesyncd.service runs: ", 0), 0u)
        << found.unknown;
    EXPECT_NE(found.unknown.find("org.freedesktop.DBus.Error.ServiceUnknown"), std::string::npos) << found.unknown;

    ASSERT_TRUE(bus.StartMock("systemd", "org.freedesktop.systemd1")) << bus.Error();
    bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
             {QString("org.freedesktop.systemd1.Manager"), QString("GetUnit"), QString("s"), QString("o"),
              QString("raise dbus.exceptions.DBusException('no', name='org.freedesktop.DBus.Error.AccessDenied')")});
    found = FindTimeServiceInCharge({bus.Address(), 2000});
    EXPECT_EQ(
        found.unknown,
        "systemd did not say whether systemd-timesyncd.service runs: no (org.freedesktop.DBus.Error.AccessDenied)");
}

// A manager that does not answer is asked once.
TEST(TimeServices, AHungServiceCostsOneTimeOut)
{
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("systemd", "org.freedesktop.systemd1")) << bus.Error();
    bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
             {QString("org.freedesktop.systemd1.Manager"), QString("GetUnit"), QString("s"), QString("o"),
              QString("time.sleep(3)")});
    const auto start = std::chrono::steady_clock::now();
    const TimeService found = FindTimeServiceInCharge({bus.Address(), 300});
    EXPECT_EQ(found.name, "");
    EXPECT_EQ(found.unknown,
              "systemd did not say whether systemd-timesyncd.service runs within 1 s "
              "(org.freedesktop.DBus.Error.NoReply)");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.5);
    EXPECT_EQ(bus.CallsOf("org.freedesktop.systemd1", "GetUnit").size(), 1u);
}

}  // namespace
}  // namespace vel::platform
