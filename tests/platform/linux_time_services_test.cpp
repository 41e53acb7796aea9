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
        ASSERT_TRUE(bus.StartMock("systemd", "org.freedesktop.systemd1")) << bus.Error();
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
    }
}

// A manager that does not answer is asked once; no bus is nobody.
TEST(TimeServices, AHungServiceCostsOneTimeOut)
{
    EXPECT_EQ(FindTimeServiceInCharge({"unix:path=/nonexistent/veltrane-test-bus", 500}).name, "");
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("systemd", "org.freedesktop.systemd1")) << bus.Error();
    bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock", "AddMethod",
             {QString("org.freedesktop.systemd1.Manager"), QString("GetUnit"), QString("s"), QString("o"),
              QString("time.sleep(3)")});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindTimeServiceInCharge({bus.Address(), 300}).name, "");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.5);
    EXPECT_EQ(bus.CallsOf("org.freedesktop.systemd1", "GetUnit").size(), 1u);
}

}  // namespace
}  // namespace vel::platform
