// LinuxDialUp against fixture trees in a temporary folder (routing tables,
// interfaces, pppd peers and processes, and fake pon and poff programs on a
// search path of the test's own that record their arguments), and against
// NetworkManager as python-dbusmock plays it on a private system bus.
#include "platform/linux/linux_dialup.h"

#include "platform/linux/linux_pppd.h"
#include "platform/linux/linux_routes.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/dbus/private_bus.h"

namespace vel::platform {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// What this machine's kernel showed: a default route over eth0 in both
// families, and the IPv6 reject route on lo that every table holds.
constexpr const char* kRouteEth0 =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT          \n"
    "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0                                   \n"
    "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0                                   \n";
constexpr const char* kRouteHeaderOnly =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT          \n";
constexpr const char* kIpv6Eth0 =
    "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00000100 00000002 00000000 00000001     eth0\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fd000000000000000000000000000001 "
    "00000400 00000002 00000000 00000003     eth0\n"
    "00000000000000000000000000000001 80 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00000000 00000002 00000000 80200001       lo\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "ffffffff 00000001 00000000 00200200       lo\n";
constexpr const char* kIpv6RejectOnly =
    "00000000000000000000000000000001 80 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "00000000 00000002 00000000 80200001       lo\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 "
    "ffffffff 00000001 00000000 00200200       lo\n";

std::string Ipv4Default(const std::string& interface, int metric, const std::string& flags = "0003")
{
    return interface + "\t00000000\t0101A8C0\t" + flags + "\t0\t0\t" + std::to_string(metric) + "\t00000000\t0\t0\t0\n";
}

std::string Ipv6Default(const std::string& interface, const std::string& metricHex)
{
    return "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
           "fe800000000000000000000000000001 " +
           metricHex + " 00000001 00000000 00000003 " + interface + "\n";
}

// What the state says, word by word: "online lan dial-up installed".
std::string Kinds(const ConnectionState& state)
{
    std::string kinds;
    for (const auto& [on, word] : {std::pair{state.online, "online"},
                                   {state.modem, "modem"},
                                   {state.lan, "lan"},
                                   {state.proxy, "proxy"},
                                   {state.dialUpInstalled, "dial-up installed"},
                                   {state.offline, "offline"},
                                   {state.configured, "configured"}})
        if (on)
            kinds += (kinds.empty() ? "" : " ") + std::string(word);
    return kinds;
}

const std::string kMuller = "M\xC3\xBCller-ISP";      // Müller-ISP
const std::string kUmlautDsl = "\xC3\x9Cmlaut: DSL";  // Ümlaut: DSL
const std::string kTeleNet = "Tele \"Net\"";

class LinuxDialUpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "veltrane-dialup-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        for (const char* folder : {"bin", "calls", "nm", "proc/net", "sys/class/net"})
            fs::create_directories(root + "/" + folder);
        config.procRoot = root + "/proc";
        config.sysRoot = root + "/sys";
        config.peersFolder = root + "/peers";  // not there unless a test makes it
        config.searchPath = root + "/bin";
        // No NetworkManager unless a test starts one: never the machine's bus.
        config.busAddress = "unix:path=/nonexistent/veltrane-test-bus";
        Write("proc/net/route", kRouteHeaderOnly);
        Write("proc/net/ipv6_route", kIpv6RejectOnly);
    }
    void TearDown() override { fs::remove_all(root); }

    void Write(const std::string& relative, const std::string& content)
    {
        const fs::path path = fs::path(root) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    void Script(const std::string& name, const std::string& body)
    {
        Write("bin/" + name, "#!/bin/sh\n" + body);
        fs::permissions(root + "/bin/" + name, fs::perms::owner_all);
    }

    // Each call adds one line: its arguments, each in brackets.
    std::string Recorder(const std::string& name) const
    {
        return "line=''\nfor a in \"$@\"; do line=\"$line[$a]\"; done\nprintf '%s\\n' \"$line\" >> '" + root +
               "/calls/" + name + "'\n";
    }

    void FakePonPoff()
    {
        Script("pon", Recorder("pon"));
        Script("poff", Recorder("poff"));
    }

    Lines Calls(const std::string& program) const
    {
        Lines lines;
        std::ifstream in(root + "/calls/" + program);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // The program's calls, once `count` of them have been made, sorted:
    // programs started detached record themselves a little later, and two
    // of them in either order.
    Lines WaitForActions(const std::string& program, std::size_t count) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (Calls(program).size() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // nothing more should come
        Lines calls = Calls(program);
        std::sort(calls.begin(), calls.end());
        return calls;
    }

    void Peers(const Lines& names)
    {
        fs::create_directories(config.peersFolder);
        for (const auto& name : names)
            Write("peers/" + name, "/dev/ttyS0 115200\nnoauth\ndefaultroute\n");
    }

    void Process(int pid, const std::string& commandLine)
    {
        Write("proc/" + std::to_string(pid) + "/cmdline", commandLine);
    }

    void Interface(const std::string& name, const std::string& flags, int type = 1, const std::string& uevent = {})
    {
        Write("sys/class/net/" + name + "/flags", flags + "\n");
        Write("sys/class/net/" + name + "/type", std::to_string(type) + "\n");
        Write("sys/class/net/" + name + "/uevent", "INTERFACE=" + name + "\nIFINDEX=3\n" + uevent);
    }

    std::string root;
    LinuxDialUpConfig config;
};

TEST(RouteTables, DefaultRouteOfLowestMetricThatIsUp)
{
    EXPECT_EQ(Ipv4DefaultRoute(kRouteEth0)->interface, "eth0");
    EXPECT_FALSE(Ipv4DefaultRoute(kRouteHeaderOnly));
    EXPECT_FALSE(Ipv4DefaultRoute(""));

    const std::string two = std::string(kRouteHeaderOnly) + Ipv4Default("eth0", 100) + Ipv4Default("ppp0", 50);
    EXPECT_EQ(Ipv4DefaultRoute(two)->interface, "ppp0");
    EXPECT_EQ(Ipv4DefaultRoute(two)->metric, 50u);

    // Not up, a reject route, a network route, a garbled line: none counts.
    const std::string none = std::string(kRouteHeaderOnly) + Ipv4Default("eth0", 0, "0002") +
                             Ipv4Default("eth1", 0, "0201") +
                             "eth2\t00000000\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n" +
                             "eth3\tzz\t00000000\t0001\t0\t0\t0\t00000000\n" + "eth4\t00000000\n";
    EXPECT_FALSE(Ipv4DefaultRoute(none));

    // The header is no route, even where it reads like one.
    EXPECT_FALSE(Ipv4DefaultRoute(Ipv4Default("ppp0", 0)));

    EXPECT_EQ(Ipv6DefaultRoute(kIpv6Eth0)->interface, "eth0");
    EXPECT_EQ(Ipv6DefaultRoute(kIpv6Eth0)->metric, 0x400u);
    EXPECT_FALSE(Ipv6DefaultRoute(kIpv6RejectOnly));
    EXPECT_EQ(Ipv6DefaultRoute(Ipv6Default("eth0", "00000400") + Ipv6Default("wwan0", "00000100"))->interface, "wwan0");
}

TEST(PppdCommandLines, PeerAfterCall)
{
    using namespace std::string_literals;
    EXPECT_EQ(PeerOfPppdCommandLine("/usr/sbin/pppd\0call\0provider\0"s), "provider");
    EXPECT_EQ(PeerOfPppdCommandLine("pppd\0nodetach\0call\0my-isp\0debug\0"s), "my-isp");
    EXPECT_FALSE(PeerOfPppdCommandLine("/usr/sbin/pppd\0file\0/etc/ppp/options\0"s));
    EXPECT_FALSE(PeerOfPppdCommandLine("pppd\0call\0"s));
    EXPECT_FALSE(PeerOfPppdCommandLine("/bin/sh\0-c\0pppd call provider\0"s));
    EXPECT_FALSE(PeerOfPppdCommandLine("/usr/sbin/pppd-helper\0call\0provider\0"s));
    EXPECT_FALSE(PeerOfPppdCommandLine(""));
}

TEST(PeerNames, WhatPonPassesThroughIntact)
{
    EXPECT_EQ(PonNameProblem("provider"), "");
    EXPECT_EQ(PonNameProblem(""), "pon cannot take an empty name");
    EXPECT_EQ(PonNameProblem("my isp"), "pon cannot take a name with a blank in it");
    EXPECT_EQ(PonNameProblem("-a"), "pon cannot take a name that starts with \"-\" (it would be an option)");
    EXPECT_EQ(PonNameProblem(".hidden"), "pon cannot take a name that starts with \".\"");
    EXPECT_EQ(PonNameProblem("a/b"), "pon cannot take a name with a \"/\" in it");
    EXPECT_EQ(PonNameProblem("a\\b"), "pon cannot take a name with a backslash in it");
    EXPECT_EQ(PonNameProblem("isp*"), "pon cannot take a name with a wildcard (*, ? or [) in it");
    EXPECT_EQ(PonNameProblem("tab\there"), "pon cannot take a name with a control character in it");

    for (const std::string name : {"provider", "my-isp", "o'brien", "gprs.t-mobile", kMuller.c_str(), "a\"b"})
        EXPECT_TRUE(IsPeerNameForPon(name)) << name;
    for (const std::string name : {"", "my isp", "-a", "--quick", ".hidden", "../x", "a/b", "a\\b", "a*", "a?", "[x]",
                                   "tab\there", "line\nbreak"})
        EXPECT_FALSE(IsPeerNameForPon(name)) << name;
}

TEST_F(LinuxDialUpTest, OnlineIsADefaultRouteAndModemIsAPppOrWwanInterface)
{
    struct Case {
        const char* what;
        std::string ipv4;
        std::string ipv6;
        std::string expected;
    };
    const std::string header = kRouteHeaderOnly;
    const Case cases[] = {
        {"ethernet, both families", kRouteEth0, kIpv6Eth0, "online lan"},
        {"no default route (loopback only)", header, kIpv6RejectOnly, "offline"},
        {"ppp", header + Ipv4Default("ppp0", 0), kIpv6RejectOnly, "online modem"},
        {"IPv6 only, over wwan", header, Ipv6Default("wwan0", "00000400"), "online modem"},
        {"IPv6 only, over ethernet", header, Ipv6Default("enp3s0", "00000400"), "online lan"},
        {"ppp with the lower metric", header + Ipv4Default("eth0", 100) + Ipv4Default("ppp0", 10), kIpv6Eth0,
         "online modem"},
        {"ethernet with the lower metric", header + Ipv4Default("eth0", 10) + Ipv4Default("ppp0", 100), "",
         "online lan"},
        {"IPv4 decides over IPv6", kRouteEth0, Ipv6Default("wwan0", "00000001"), "online lan"},
        {"loopback as the way out", header + Ipv4Default("lo", 0, "0001"), "", "online lan"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write("proc/net/route", c.ipv4);
        Write("proc/net/ipv6_route", c.ipv6);
        EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), c.expected);
    }
}

TEST_F(LinuxDialUpTest, MissingRouteTablesMeanOffline)
{
    fs::remove_all(root + "/proc/net");
    EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), "offline");
}

TEST_F(LinuxDialUpTest, InterfacesOfOtherNamesAreKnownByTheirKind)
{
    Interface("isp0", "0x1091", 512);                  // a renamed ppp unit
    Interface("usb0", "0x1003", 1, "DEVTYPE=wwan\n");  // a USB modem's network device
    Interface("usb1", "0x1003", 1, "DEVTYPE=gadget\n");
    for (const auto& [interface, modem] :
         std::vector<std::pair<std::string, bool>>{{"isp0", true}, {"usb0", true}, {"usb1", false}, {"eth9", false}}) {
        SCOPED_TRACE(interface);
        Write("proc/net/route", std::string(kRouteHeaderOnly) + Ipv4Default(interface, 0));
        EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), modem ? "online modem" : "online lan");
    }
}

TEST_F(LinuxDialUpTest, DialUpSoftwareShowsAsRasInstalled)
{
    Peers({"provider"});
    EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), "dial-up installed offline");
    Write("proc/net/route", kRouteEth0);
    EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), "online lan dial-up installed");
}

TEST_F(LinuxDialUpTest, PeersAreTheEntriesAndProviderIsTheDefault)
{
    LinuxDialUp dialUp(config);
    EXPECT_TRUE(dialUp.GetPhonebook().entries.empty());
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "");

    Peers({"provider", kMuller, "o'brien", "my isp", "-x", ".hidden", "old~"});
    fs::create_directories(config.peersFolder + "/chatscripts");
    EXPECT_EQ(dialUp.GetPhonebook().entries, (Lines{kMuller, "o'brien", "provider"}));
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "provider");

    fs::remove(config.peersFolder + "/provider");
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "");
}

TEST_F(LinuxDialUpTest, ARunningPeerIsTheDefaultEntryBeforeProvider)
{
    using namespace std::string_literals;
    // pppoeconf's own peer is up; "provider" exists but is not dialled.
    Peers({"provider", "dsl-provider"});
    Process(120, "/usr/sbin/pppd\0call\0dsl-provider\0"s);
    LinuxDialUp dialUp(config);
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "dsl-provider");
    // The first listed of two.
    Process(80, "/usr/sbin/pppd\0call\0night-rate\0"s);
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "night-rate");
    // None running: pon's own default.
    fs::remove_all(root + "/proc/80");
    fs::remove_all(root + "/proc/120");
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "provider");
}

TEST_F(LinuxDialUpTest, RunningPppdCallsAreTheActiveConnectionsInProcessOrder)
{
    using namespace std::string_literals;
    LinuxDialUp dialUp(config);
    EXPECT_TRUE(dialUp.GetActiveDialUp().entries.empty());

    Process(100, "/usr/sbin/pppd\0call\0provider\0"s);
    Process(42, "pppd\0call\0"s + kMuller + "\0nodetach\0"s);
    Process(7, "/bin/sh\0-c\0pppd call other\0"s);
    Process(8, "");                                                // a kernel thread
    Process(1000, "/usr/sbin/pppd\0call\0provider\0updetach\0"s);  // a second pppd for the same peer
    Write("proc/self/cmdline", "/usr/sbin/pppd\0call\0self\0"s);
    EXPECT_EQ(dialUp.GetActiveDialUp().entries, (Lines{kMuller, "provider"}));
}

TEST_F(LinuxDialUpTest, ALinkIsAPppInterfaceThatIsUp)
{
    LinuxDialUp dialUp(config);
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    Interface("eth0", "0x1003");
    Interface("ppp0", "0x1090", 512);  // there, not up
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    Interface("ppp0", "0x1091", 512);
    EXPECT_TRUE(dialUp.GetActiveDialUp().linkUp);
    fs::remove_all(root + "/sys/class/net/ppp0");
    Interface("dsl0", "0x11", 512);
    EXPECT_TRUE(dialUp.GetActiveDialUp().linkUp);
}

TEST_F(LinuxDialUpTest, PonAndPoffGetTheNameAsOneArgument)
{
    FakePonPoff();
    Peers({"provider", kMuller, "o'brien", "my isp"});
    LinuxDialUp dialUp(config);

    // Names without a peer, and peers pon would split or read as options:
    // nothing is started, and the reason says why.
    const std::string noPeer = "there is no such entry: no pppd peer in " + config.peersFolder + " has that name";
    const std::pair<std::string, std::string> refused[] = {
        {"absent", noPeer},
        {"", noPeer},
        {"../provider", noPeer},
        {"my isp", "pon cannot take a name with a blank in it"},
    };
    for (const auto& [name, reason] : refused)
        EXPECT_EQ(dialUp.StartDialer(name), reason) << name;
    EXPECT_EQ(dialUp.StartDialer(kMuller), "");
    EXPECT_EQ(dialUp.StartDialer("o'brien"), "");
    EXPECT_EQ(WaitForActions("pon", 2), (Lines{"[" + kMuller + "]", "[o'brien]"}));
    // Without pon (no ppp package), a peer cannot be dialled.
    fs::remove(root + "/bin/pon");
    EXPECT_EQ(dialUp.StartDialer("provider"), "pon was not found (the ppp package installs it)");

    // poff with no name or an option would stop every pppd.
    for (const std::string name : {"", "-a", "my isp", "absent"})
        dialUp.HangUp(name);
    dialUp.HangUp("provider");
    EXPECT_EQ(WaitForActions("poff", 1), (Lines{"[provider]"}));
}

TEST_F(LinuxDialUpTest, APeerStillRunningAfterItsFileWentIsHungUp)
{
    using namespace std::string_literals;
    FakePonPoff();
    Process(300, "/usr/sbin/pppd\0call\0old-isp\0"s);
    LinuxDialUp(config).HangUp("old-isp");
    EXPECT_EQ(WaitForActions("poff", 1), (Lines{"[old-isp]"}));
}

// NetworkManager on a private bus: python-dbusmock's networkmanager template
// with the dial-up parts of tests/support/dbus on top.
constexpr const char* kNetworkManager = "org.freedesktop.NetworkManager";

// Profiles of every kind; the modem ones are the entries. \u00dc is the Ü of
// kUmlautDsl.
constexpr const char* kProfiles = R"json("Profiles": [
    ["Wired connection 1", "802-3-ethernet", {"autoconnect": true}],
    ["Mobile Broadband", "gsm"],
    ["Tele \"Net\"", "cdma", {"autoconnect": true, "priority": 5}],
    ["\u00dcmlaut: DSL", "pppoe", {"autoconnect": true, "priority": 10}],
    ["Home Wi-Fi", "802-11-wireless", {"autoconnect": true, "priority": 20}],
    ["back\\slash", "gsm"],
    ["Phone (DUN)", "bluetooth", {"bluetooth-type": "dun"}],
    ["Phone network", "bluetooth", {"bluetooth-type": "panu"}],
    ["Line (ADSL)", "adsl"]])json";

class NetworkManagerTest : public LinuxDialUpTest {
protected:
    void SetUp() override
    {
        LinuxDialUpTest::SetUp();
        FakePonPoff();
        ASSERT_EQ(bus.Error(), "");
    }

    // NetworkManager with these parameters (the inside of a JSON object),
    // not connected (State 20) unless they say otherwise.
    void StartNetworkManager(const std::string& parameters)
    {
        ASSERT_TRUE(
            bus.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager, "{\"State\": 20, " + parameters + "}"))
            << bus.Error();
        config.busAddress = bus.Address();
    }

    // Polls until the condition holds (at most 5 seconds).
    template <typename Condition>
    bool Eventually(Condition condition)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }

    test::PrivateSystemBus bus;
};

TEST_F(NetworkManagerTest, ModemProfilesAreTheEntries)
{
    StartNetworkManager(kProfiles);
    LinuxDialUp dialUp(config);
    // ADSL counts, and Bluetooth only as dial-up over a phone, not as a network.
    EXPECT_EQ(dialUp.GetPhonebook().entries,
              (Lines{"Mobile Broadband", kTeleNet, kUmlautDsl, "back\\slash", "Phone (DUN)", "Line (ADSL)"}));

    // pppd peers beside NetworkManager come after its profiles.
    Peers({"provider", "Mobile Broadband"});
    EXPECT_EQ(dialUp.GetPhonebook().entries, (Lines{"Mobile Broadband", kTeleNet, kUmlautDsl, "back\\slash",
                                                    "Phone (DUN)", "Line (ADSL)", "provider"}));
    EXPECT_TRUE(dialUp.TakeWarnings().empty());
}

TEST_F(NetworkManagerTest, WithNoneUpTheDefaultIsTheAutoconnectProfileOfHighestPriority)
{
    struct Case {
        const char* profiles;
        std::string expected;
    };
    const Case cases[] = {
        {kProfiles, kUmlautDsl},
        {R"("Profiles": [["Home Wi-Fi", "802-11-wireless", {"autoconnect": true, "priority": 20}],
                         ["First", "gsm", {"autoconnect": true, "priority": 3}],
                         ["Second", "cdma", {"autoconnect": true, "priority": 3}]])",
         "First"},
        {R"("Profiles": [["Home Wi-Fi", "802-11-wireless", {"autoconnect": true}], ["Only modem", "gsm"]])",
         "Only modem"},
        {R"("Profiles": [["One", "gsm"], ["Two", "gsm"]])", ""},
        {R"("Profiles": [["Home Wi-Fi", "802-11-wireless", {"autoconnect": true}]])", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.profiles);
        test::PrivateSystemBus own;
        ASSERT_TRUE(own.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager,
                                  std::string("{\"State\": 20, ") + c.profiles + "}"))
            << own.Error();
        config.busAddress = own.Address();
        EXPECT_EQ(LinuxDialUp(config).GetPhonebook().defaultEntry, c.expected);
    }
    // Without NetworkManager: pon's own default.
    Peers({"provider"});
    config.busAddress = "unix:path=/nonexistent/veltrane-test-bus";
    EXPECT_EQ(LinuxDialUp(config).GetPhonebook().defaultEntry, "provider");
}

TEST_F(NetworkManagerTest, ADialActivatesTheProfileAndTheActiveConnectionIsHungUp)
{
    StartNetworkManager(std::string(kProfiles) + R"(, "ListedAfter": 0, "UpAfter": 0.5, "DownAfter": 0.2)");
    Peers({"provider"});
    LinuxDialUp dialUp(config);

    // Not a modem profile and no peer: nothing is started.
    EXPECT_EQ(dialUp.StartDialer("Home Wi-Fi"),
              "there is no such entry: no NetworkManager modem profile and no "
              "pppd peer in " +
                  config.peersFolder + " has that name");
    EXPECT_EQ(dialUp.StartDialer(kTeleNet), "");
    ASSERT_TRUE(Eventually([&] { return !dialUp.GetActiveDialUp().entries.empty(); }));
    EXPECT_EQ(bus.CallsOf(kNetworkManager, "ActivateConnection").size(), 1u);
    EXPECT_EQ(dialUp.GetActiveDialUp().entries, Lines{kTeleNet});
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, kTeleNet);  // up, though not NetworkManager's own choice
    ASSERT_TRUE(Eventually([&] { return dialUp.GetActiveDialUp().linkUp; }));
    // It holds the default route: a modem connection, with no route of ours.
    EXPECT_EQ(Kinds(dialUp.GetConnectionState()), "online modem dial-up installed");

    // Hanging up something else leaves it; its own name takes it down.
    dialUp.HangUp("Mobile Broadband");
    dialUp.HangUp(kTeleNet);
    ASSERT_TRUE(Eventually([&] { return !bus.CallsOf(kNetworkManager, "DeactivateConnection").empty(); }));
    const auto deactivated = bus.CallsOf(kNetworkManager, "DeactivateConnection");
    ASSERT_EQ(deactivated.size(), 1u);
    EXPECT_EQ(deactivated[0], "\"/org/freedesktop/NetworkManager/ActiveConnection/1\"");
    ASSERT_TRUE(Eventually([&] { return dialUp.GetActiveDialUp().entries.empty(); }));
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);
    EXPECT_FALSE(dialUp.GetConnectionState().online);

    // A pppd peer beside NetworkManager is dialled with pon.
    dialUp.StartDialer("provider");
    EXPECT_EQ(WaitForActions("pon", 1), Lines{"[provider]"});
    EXPECT_EQ(bus.CallsOf(kNetworkManager, "ActivateConnection").size(), 1u);
    EXPECT_TRUE(dialUp.TakeWarnings().empty());
}

TEST_F(NetworkManagerTest, ActivatingIsListedWithoutALinkAndBluetoothNetworksAreNoDialUp)
{
    using namespace std::string_literals;
    StartNetworkManager(std::string(kProfiles) + R"(, "ListedAfter": 0, "UpAfter": -1)");
    LinuxDialUp dialUp(config);
    dialUp.StartDialer("Phone network");  // a Bluetooth network: no entry, no peer
    dialUp.StartDialer("Line (ADSL)");
    ASSERT_TRUE(Eventually([&] { return !dialUp.GetActiveDialUp().entries.empty(); }));
    EXPECT_EQ(dialUp.GetActiveDialUp().entries, Lines{"Line (ADSL)"});
    EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp);

    // A pppd of its own comes after NetworkManager's.
    Process(55, "/usr/sbin/pppd\0call\0provider\0"s);
    EXPECT_EQ(dialUp.GetActiveDialUp().entries, (Lines{"Line (ADSL)", "provider"}));
}

TEST_F(NetworkManagerTest, TheGlobalStateAndThePrimaryConnectionMakeTheOnlineState)
{
    struct Case {
        const char* parameters;
        std::string expected;
    };
    const Case cases[] = {
        {R"("State": 70, "PrimaryType": "802-3-ethernet")", "online lan dial-up installed"},
        {R"("State": 60, "PrimaryType": "802-11-wireless")", "online lan dial-up installed"},
        {R"("State": 70, "PrimaryType": "gsm")", "online modem dial-up installed"},
        {R"("State": 50)", "dial-up installed offline"},
        {R"("State": 20)", "dial-up installed offline"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameters);
        test::PrivateSystemBus own;
        ASSERT_TRUE(
            own.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager, std::string("{") + c.parameters + "}"))
            << own.Error();
        config.busAddress = own.Address();
        EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), c.expected);

        // A default route of our own is online whatever NetworkManager says;
        // a ppp interface makes it a modem connection.
        Write("proc/net/route", std::string(kRouteHeaderOnly) + Ipv4Default("ppp0", 0));
        EXPECT_EQ(Kinds(LinuxDialUp(config).GetConnectionState()), "online modem dial-up installed");
        Write("proc/net/route", kRouteHeaderOnly);
    }
}

TEST_F(NetworkManagerTest, WhenItIsNotRunningThePeersAreUsed)
{
    // The bus is there, NetworkManager is not.
    config.busAddress = bus.Address();
    Peers({"provider"});
    LinuxDialUp dialUp(config);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dialUp.GetPhonebook().entries, Lines{"provider"});
    EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "provider");
    EXPECT_EQ(dialUp.StartDialer("Mobile Broadband"),
              "there is no such entry: no pppd peer in " + config.peersFolder + " has that name");
    EXPECT_EQ(dialUp.StartDialer("provider"), "");
    EXPECT_EQ(Kinds(dialUp.GetConnectionState()), "dial-up installed offline");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(WaitForActions("pon", 1), Lines{"[provider]"});
    EXPECT_TRUE(dialUp.TakeWarnings().empty());  // not running is no fault
}

TEST_F(NetworkManagerTest, OneThatNeverAnswersCostsOneTimeOutAndIsWarnedAboutOnce)
{
    for (const char* hang : {"ListConnections", "GetAll"}) {
        SCOPED_TRACE(hang);
        test::PrivateSystemBus own;
        ASSERT_TRUE(own.StartMock(test::DialUpNetworkManagerTemplate(), kNetworkManager,
                                  std::string("{\"State\": 70, ") + kProfiles + ", \"Hang\": \"" + hang + "\"}"))
            << own.Error();
        config.busAddress = own.Address();
        config.networkManagerTimeoutMs = 300;
        Peers({"provider"});
        Write("proc/net/route", kRouteEth0);
        LinuxDialUp dialUp(config);

        // Every operation the run uses: the first call that runs out costs
        // the time-out, and then NetworkManager is not asked again.
        const auto timed = [](auto&& operation) {
            const auto start = std::chrono::steady_clock::now();
            operation();
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        double total = 0;
        double longest = 0;
        for (int round = 0; round < 3; ++round) {
            for (const double seconds :
                 {timed([&] { EXPECT_EQ(Kinds(dialUp.GetConnectionState()), "online lan dial-up installed"); }),
                  timed([&] { EXPECT_EQ(dialUp.GetPhonebook().entries, Lines{"provider"}); }),
                  timed([&] { EXPECT_TRUE(dialUp.GetActiveDialUp().entries.empty()); }),
                  timed([&] { EXPECT_FALSE(dialUp.GetActiveDialUp().linkUp); }),
                  timed([&] { EXPECT_EQ(dialUp.GetPhonebook().defaultEntry, "provider"); }),
                  timed([&] { dialUp.StartDialer("Mobile Broadband"); }),
                  timed([&] { dialUp.HangUp("Mobile Broadband"); })}) {
                total += seconds;
                longest = std::max(longest, seconds);
            }
        }
        EXPECT_LT(longest, 0.3 + 0.25);
        EXPECT_LT(total, 0.3 + 0.5);
        EXPECT_EQ(dialUp.TakeWarnings(), Lines{"WARNING: NetworkManager does not answer"});
        EXPECT_TRUE(dialUp.TakeWarnings().empty());
        Write("proc/net/route", kRouteHeaderOnly);
    }
}
}  // namespace
}  // namespace vel::platform
