// A user's run has the machine's run set the clock: systemd (as
// tests/support/dbus/systemd_units.py plays it on a private bus) starts
// veltrane-sync.service or refuses, and the run's end is waited for.
#include "platform/linux/linux_machine_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/dbus/private_bus.h"

namespace vel::platform {
namespace {

TEST(MachineRun, StartedWaitedForAndJudgedByItsEnd)
{
    const struct {
        const char* parameters;  // the mock's
        bool loaded;             // the unit is installed
        int timeoutMs;
        double lasts;  // seconds at least: the run's end is waited for
        bool started, setClock;
        const char* says;  // in the refusal's name or the description
    } cases[] = {
        {R"({"Refuse": "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"})", true, 5000, 0, false, false,
         "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired"},
        {"{}", false, 5000, 0, false, false, "org.freedesktop.systemd1.NoSuchUnit"},
        {R"({"RunSeconds": 1.2})", true, 5000, 1.2, true, true, ""},
        {R"({"ExecMainStatus": 6})", true, 5000, 0.5, true, false,
         "the machine's run veltrane-sync.service left the clock to another time service (journalctl -u "
         "veltrane-sync.service tells more)"},
        {R"({"Result": "exit-code", "ExecMainStatus": 2})", true, 5000, 0.5, true, false,
         "the machine's run veltrane-sync.service ended with result exit-code, exit status 2"},
        {R"({"RunSeconds": 30})", true, 1000, 1.0, true, false,
         "the machine's run veltrane-sync.service did not end within 1 s"},
        // Where nobody may hold the unit, systemd unloads it once it ends
        // well: only a failed run stays to be read.
        {R"({"RefuseRef": "org.freedesktop.DBus.Error.AccessDenied"})", true, 5000, 0.5, true, true, ""},
        {R"({"RefuseRef": "org.freedesktop.DBus.Error.AccessDenied", "Result": "exit-code", "ExecMainStatus": 1})",
         true, 5000, 0.5, true, false, "ended with result exit-code, exit status 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parameters);
        test::PrivateSystemBus bus;
        ASSERT_TRUE(bus.StartMock(test::SystemdUnitsTemplate(), "org.freedesktop.systemd1", c.parameters))
            << bus.Error();
        if (c.loaded)
            bus.Call("org.freedesktop.systemd1", "/org/freedesktop/systemd1", "org.freedesktop.DBus.Mock",
                     "AddMockUnit", {QString(kMachineService)});
        const auto start = std::chrono::steady_clock::now();
        const MachineRun run = RunMachineService({bus.Address(), c.timeoutMs, 100, 2000});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(run.started, c.started);
        EXPECT_EQ(run.setClock, c.setClock);
        EXPECT_NE((c.started ? run.description : run.refusal).find(c.says), std::string::npos)
            << run.refusal << " / " << run.description;
        // The run's end is waited for, and no longer than the bound.
        EXPECT_GE(seconds, c.lasts);
        EXPECT_LT(seconds, c.timeoutMs / 1000.0 + 1.5);
        if (c.started) {
            EXPECT_EQ(bus.CallsOf("org.freedesktop.systemd1", "StartUnit"),
                      (std::vector<std::string>{"\"veltrane-sync.service\" \"replace\""}));
            // What it held, it lets go.
            const bool held = std::string(c.parameters).find("RefuseRef") == std::string::npos;
            EXPECT_EQ(bus.CallsOf("org.freedesktop.systemd1", "Unref").size(), held ? 1u : 0u);
        }
    }
}

}  // namespace
}  // namespace vel::platform
