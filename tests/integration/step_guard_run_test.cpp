// The step guard's wiring in the real program: a time server three days
// off, HTTPS servers with the test's throw-away authority and a second
// Daytime server, all in the run's own namespace.
#include "program_run.h"
#include "support/https_servers.h"

namespace vel::integration {
namespace {

constexpr const char* kThreeDaysBehind = "--layout nist --mode ontime --advance 0 --offset -259200";

class StepGuardRun : public ProgramTest {
protected:
    ProgramRun RunWith(const std::string& settings, std::vector<std::string> helpers)
    {
        WriteSettings(
            "[Main]\r\nNTPServer=127.0.0.1 (local test server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
            "QuietMode=Y\r\n" +
            settings);
        RunOptions options;
        options.server = kThreeDaysBehind;
        options.clockStandIn = "succeed";
        options.helpers = std::move(helpers);
        options.environment = "SSL_CERT_FILE='" + test::TestCertificates() + "/ca.pem' https_proxy= HTTPS_PROXY=";
        return Run(options);
    }
    std::string Https(const std::string& name, int port, const std::string& options = {})
    {
        return test::HttpsServerCommand(test::TestCertificates(), name, port, options);
    }
};

// HTTPS Dates that disagree with each other (one of a certificate that the
// PC clock calls expired, whose Date explains it), another name of the time
// server that is no second opinion, and one that is: the step is made.
TEST_F(StepGuardRun, ASecondServerAtAnotherAddressConfirmsTheStep)
{
    ASSERT_FALSE(test::TestCertificates().empty());
    const ProgramRun run = RunWith(
        "HTTPSServers=127.0.0.1:4431 127.0.0.1:4432\r\nSecondServers=localhost 127.0.0.2\r\n",
        {Https("good", 4431, "--offset -259200"), Https("expired", 4432, "--date 'Wed, 01 Jul 2020 12:00:00 GMT'"),
         DAYTIME_SERVER_EXE " --address 127.0.0.2 --port 13 --background " + std::string(kThreeDaysBehind)});
    EXPECT_TRUE(InOrder(run.log, {"HTTPS Date of 127.0.0.1:4431 puts the PC clock 259199.* s ahead*: agrees",
                                  "HTTPS Date of 127.0.0.1:4432: its certificates are not valid by the PC clock, but "
                                  "the server's Date (Wed, 01 Jul 2020 12:00:00 GMT) lies within the validity of "
                                  "each: accepted",
                                  "HTTPS Date of 127.0.0.1:4432 puts the PC clock * s ahead*: disagrees",
                                  "second opinion of localhost not used: it is the time server itself (127.0.0.1)",
                                  "second opinion of 127.0.0.2 puts the PC clock 259200.* s ahead*: agrees",
                                  "system clock corrected to *"}))
        << run.output;
    EXPECT_EQ(run.exitStatus, 0);
    ASSERT_EQ(run.clockSettings.size(), 1u);
    EXPECT_NEAR(run.clockSettings[0].FromNow(), -259200, 0.05);
}

// A web server as the time server ("https:"), through the real HTTPS back
// end: no Daytime server at all, the certificate of the throw-away
// authority, the Date's second found over further requests, the clock set
// to within a few milliseconds.
TEST_F(StepGuardRun, AnHttpsServerIsTheTimeServer)
{
    ASSERT_FALSE(test::TestCertificates().empty());
    WriteSettings(
        "[Main]\r\nNTPServer=https:127.0.0.1:4431 (local web server)\r\nDelay=3\r\nConnectionType=LAN\r\n"
        "QuietMode=Y\r\nTolerance=-1\r\n");
    RunOptions options;
    options.clockStandIn = "succeed";
    options.helpers = {Https("good", 4431)};
    options.environment = "SSL_CERT_FILE='" + test::TestCertificates() + "/ca.pem' https_proxy= HTTPS_PROXY=";
    const ProgramRun run = Run(options);
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    EXPECT_TRUE(InOrder(run.log, {"starting connect to https:127.0.0.1:4431 (local web server)",
                                  "the server answered over HTTPS (Date: * GMT)",
                                  "the PC clock is * measured to within * answers", "system clock corrected to *"}))
        << run.output;
    ASSERT_EQ(run.clockSettings.size(), 1u) << run.output;
    EXPECT_NEAR(run.clockSettings[0].FromNow(), 0.0, 0.02);
    for (const auto& connection : run.connections)
        EXPECT_EQ(connection.port, 4431);  // never TCP 13
}

}  // namespace
}  // namespace vel::integration
