// A machine run that may set the clock splits in two at its start: the part
// that reads the settings and the network holds no capability, and a part
// that holds CAP_SYS_TIME alone sets the clock when asked. Inside
// `unshare -r -n` the namespace's root holds every capability of the
// namespace, as root does on the machine; /proc shows what each part kept.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "program_run.h"
#include "support/dbus/private_bus.h"

namespace vel::integration {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNone = "0000000000000000";
constexpr const char* kClockRight = "0000000002000000";  // CAP_SYS_TIME (25) alone

using Rights = std::map<std::string, std::string>;

// Those of `named` (capability sets, NoNewPrivs) in /proc/PID/status.
Rights RightsOf(pid_t pid, const Rights& named)
{
    Rights rights;
    std::istringstream status(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string name, value; status >> name >> value;) {
        if (named.contains(name.substr(0, name.size() - 1)))
            rights[name.substr(0, name.size() - 1)] = value;
        status.ignore(1 << 20, '\n');
    }
    return rights;
}

// The program's part that sets the clock: its child of that name; 0: none.
pid_t ClockPartOf(pid_t program)
{
    const std::string self = std::to_string(program);
    std::istringstream children(ReadFile("/proc/" + self + "/task/" + self + "/children"));
    for (pid_t child = 0; children >> child;) {
        if (ReadFile("/proc/" + std::to_string(child) + "/comm") == "veltrane-clock\n")
            return child;
    }
    return 0;
}

class PrivilegeSplit : public ProgramTest {
protected:
    void SetUp() override
    {
        ProgramTest::SetUp();
        const std::string settings =
            "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nConnectionType=LAN\r\nQuietMode=Y\r\n";
        std::ofstream(MachineSettingsFolder() / "Veltrane.INI", std::ios::binary) << settings;
        WriteSettings(settings);
    }

    // A run that waits on a server that says nothing.
    std::unique_ptr<RunningProgram> StartWaiting(bool machine, bool asService = false) const
    {
        RunOptions options;
        options.arguments = machine ? "--machine" : "";
        options.machineFolders = machine;
        options.asService = asService;
        options.server = "--mode silent";
        options.clockStandIn = "succeed";
        auto program = Start(options);
        EXPECT_TRUE(program->WaitForLogLine("starting connect to ", 15));
        return program;
    }
};

Rights Only(const char* bounding, const char* held)
{
    return {{"CapInh", kNone},    {"CapPrm", held},  {"CapEff", held},
            {"CapBnd", bounding}, {"CapAmb", kNone}, {"NoNewPrivs", "1"}};
}

TEST_F(PrivilegeSplit, TheMachinesRunKeepsNoRightWhereItReadsTheNetwork)
{
    const struct {
        const char* name;
        bool machine, asService;
        Rights network, clockPart;  // the rights named; no part where empty
    } cases[] = {
        // Root may narrow the bounding set too.
        {"started by root", true, false, Only(kNone, kNone), Only(kClockRight, kClockRight)},
        // The service's bounding set is CAP_SYS_TIME, which without
        // CAP_SETPCAP stays: with no_new_privs nothing can gain it back.
        {"started as the system service", true, true, Only(kClockRight, kNone), Only(kClockRight, kClockRight)},
        // A user's run sets the clock itself, as before, with what it has.
        {"a user's run", false, false, {{"NoNewPrivs", "0"}}, {}},
    };
    for (const auto& [name, machine, asService, network, clockPart] : cases) {
        SCOPED_TRACE(name);
        auto program = StartWaiting(machine, asService);
        EXPECT_EQ(RightsOf(program->Pid(), network), network);
        const pid_t part = ClockPartOf(program->Pid());
        EXPECT_EQ(part != 0, !clockPart.empty());
        if (part != 0) {
            EXPECT_EQ(RightsOf(part, clockPart), clockPart);
        }
        program.reset();
        fs::remove(MachineLogFolder() / "Veltrane.log");
    }
}

// systemd stops a service with SIGTERM to each of its processes; `kill`
// reaches one. Either way the network part logs the stop and ends with its
// status, and the other part ends with it.
TEST_F(PrivilegeSplit, AStopEndsBothPartsWithTheNetworkPartsStatus)
{
    for (const bool group : {false, true}) {
        SCOPED_TRACE(group ? "to every process" : "to the program");
        auto program = StartWaiting(true);
        const pid_t part = ClockPartOf(program->Pid());
        ASSERT_NE(part, 0);
        if (group)
            program->SignalGroup(SIGTERM);
        else
            program->Signal(SIGTERM);
        const ProgramRun run = program->Finish(10);
        EXPECT_EQ(run.exitStatus, 128 + SIGTERM) << run.output;
        EXPECT_TRUE(InOrder(run.log, {"WARNING: stopped by signal SIGTERM"}));
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(part))) << "the part that sets the clock outlived the run";
        fs::remove(MachineLogFolder() / "Veltrane.log");
    }
}

// The clock is set by the other process, by the step asked; a refusal there
// goes on to the system's time service (here the bus's stand-in, which sets
// it), as one of the program's own would.
TEST_F(PrivilegeSplit, TheClockIsSetByThePartThatHoldsTheRight)
{
    const std::pair<std::string, std::string> cases[] = {{"succeed", "system clock corrected to *"},
                                                         {"refuse", "system clock corrected to *"}};
    // No other time service keeps the clock: the machine's run may set it.
    test::PrivateSystemBus bus;
    ASSERT_TRUE(bus.StartMock("timedated", "org.freedesktop.timedate1", R"({"NTP": false})")) << bus.Error();
    ASSERT_TRUE(bus.StartMock(test::SystemdUnitsTemplate(), "org.freedesktop.systemd1")) << bus.Error();
    for (const auto& [standIn, last] : cases) {
        SCOPED_TRACE(standIn);
        fs::remove(MachineLogFolder() / "Veltrane.log");
        RunOptions options;
        options.systemBus = bus.Address();
        options.arguments = "--machine";
        options.machineFolders = true;
        options.server = "--layout nist --mode ontime --advance 0 --offset -95";
        options.clockStandIn = standIn;
        const ProgramRun run = Run(options);
        ASSERT_EQ(run.clockSettings.size(), 1u) << run.output;
        ASSERT_FALSE(run.connections.empty());
        EXPECT_NE(run.clockSettings[0].pid, run.connections[0].pid);
        EXPECT_NEAR(run.clockSettings[0].FromNow(), -95.0, 0.1);  // to the fraction: the step arrives whole
        EXPECT_TRUE(InOrder(run.log, {last})) << run.output;
    }
}

}  // namespace
}  // namespace vel::integration
