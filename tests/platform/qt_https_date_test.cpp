// The Qt back end of the HTTPS Date against tools/https-date-server on
// 127.0.0.1, in a network namespace of the test's own, trusting only the
// test's throw-away authority (SSL_CERT_FILE).
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_https_date.h"
#include "support/https_servers.h"
#include "timesource/https_constraint.h"

namespace vel {
namespace {

using platform::HttpsDateReply;
using Outcome = HttpsDateReply::Outcome;

class QtHttpsDateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "veltrane_https_tests";
        static char* argv[] = {name, nullptr};
        ASSERT_FALSE(test::TestCertificates().empty());
        // Before Qt's TLS back end reads the trust store for the first time.
        ::setenv("SSL_CERT_FILE", (test::TestCertificates() + "/ca.pem").c_str(), 1);
        for (const char* proxy : {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy", "ALL_PROXY"})
            ::unsetenv(proxy);
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);  // lives as long as the test process
    }

    // Asks and waits (10 s at most) for the reply.
    std::optional<HttpsDateReply> Ask(const std::string& host, int port)
    {
        std::optional<HttpsDateReply> reply;
        https.Ask(host, port, [&](const HttpsDateReply& r) { reply = r; });
        QElapsedTimer timer;
        timer.start();
        while (!reply && timer.elapsed() < 10000)
            pump.WaitForEvents(0.1);
        return reply;
    }

    platform::QtEventPump pump;
    platform::QtHttpsDate https{pump};
};

TEST_F(QtHttpsDateTest, TrustedDatesDateFaultsAndRefusals)
{
    const struct {
        const char* what;
        const char* certificate;
        const char* options;
        const char* host;
        Outcome outcome;
        const char* date;   // expected Date text; empty: any that reads
        const char* error;  // part of the reason of a failure
    } cases[] = {
        {"trusted", "good", "", "127.0.0.1", Outcome::Trusted, "", ""},
        {"trusted, by name", "good", "--date 'Mon, 03 Feb 2025 09:07:00 GMT'", "localhost", Outcome::Trusted,
         "Mon, 03 Feb 2025 09:07:00 GMT", ""},
        {"expired by the PC clock", "expired", "--date 'Wed, 01 Jul 2020 12:00:00 GMT'", "127.0.0.1",
         Outcome::TrustedButForDates, "Wed, 01 Jul 2020 12:00:00 GMT", ""},
        {"another name", "wrong-name", "", "127.0.0.1", Outcome::Failed, "", "its certificate is refused: "},
        {"no authority", "self", "", "127.0.0.1", Outcome::Failed, "", "its certificate is refused: "},
        {"no Date", "good", "--no-date", "127.0.0.1", Outcome::Failed, "", "its answer has no Date"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::HttpsDateServer server(c.certificate, c.options);
        ASSERT_NE(server.port, 0);
        const std::optional<HttpsDateReply> reply = Ask(c.host, server.port);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->outcome, c.outcome) << reply->error;
        if (c.outcome != Outcome::Failed) {
            EXPECT_TRUE(ParseHttpDate(reply->date)) << reply->date;
            if (*c.date) {
                EXPECT_EQ(reply->date, c.date);
            }
        }
        EXPECT_NE(reply->error.find(c.error), std::string::npos) << reply->error;
        if (c.outcome == Outcome::TrustedButForDates) {
            ASSERT_FALSE(reply->chain.empty());
            EXPECT_EQ(reply->chain[0].notBefore, (platform::InstantOfUtc({2020, 1, 1, 0, 0, 0})));
            EXPECT_EQ(reply->chain[0].notAfter, (platform::InstantOfUtc({2021, 1, 1, 0, 0, 0})));
        } else {
            EXPECT_TRUE(reply->chain.empty());
        }
    }
}

TEST_F(QtHttpsDateTest, ARefusedPortFailsAndCancelledRequestsStaySilent)
{
    int port = 0;
    {
        test::HttpsDateServer gone("good");
        port = gone.port;
    }
    const std::optional<HttpsDateReply> refused = Ask("127.0.0.1", port);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->outcome, Outcome::Failed);
    EXPECT_NE(refused->error.find("refused"), std::string::npos) << refused->error;

    test::HttpsDateServer server("good");
    int replies = 0;
    https.Ask("127.0.0.1", server.port, [&](const HttpsDateReply&) { ++replies; });
    https.CancelAll();
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1000)
        pump.WaitForEvents(0.1);
    EXPECT_EQ(replies, 0);
    // The back end still answers later requests.
    EXPECT_TRUE(Ask("127.0.0.1", server.port));
}

// The proxy the environment names carries the request (a tunnel, so the
// certificate is still the server's); a host no_proxy names goes direct.
TEST_F(QtHttpsDateTest, TheEnvironmentsProxyCarriesTheRequest)
{
    test::HttpsDateServer server("proxied");
    const std::string tunnels = ::testing::TempDir() + "veltrane-proxy-tunnels";
    std::filesystem::remove(tunnels);
    test::HttpsDateServer proxy("good", "--proxy '" + tunnels + "'");
    ASSERT_NE(server.port, 0);
    ASSERT_NE(proxy.port, 0);
    auto tunnelled = [&] {
        std::ifstream in(tunnels);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    ::setenv("https_proxy", ("http://127.0.0.1:" + std::to_string(proxy.port)).c_str(), 1);
    const std::string host = "time.example.test";  // a name only the proxy reaches
    const std::string tunnel = host + ":" + std::to_string(server.port) + "\n";
    const struct {
        const char* noProxy;
        Outcome outcome;
        std::string tunnelled;  // the proxy's tunnels so far
    } cases[] = {
        {"", Outcome::Trusted, tunnel},
        {"localhost,.example.test", Outcome::Failed, tunnel},  // direct: the name is not found
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.noProxy);
        ::setenv("no_proxy", c.noProxy, 1);
        const std::optional<HttpsDateReply> reply = Ask(host, server.port);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->outcome, c.outcome) << reply->error;
        EXPECT_EQ(tunnelled(), c.tunnelled);
    }
    ::unsetenv("https_proxy");
    ::unsetenv("no_proxy");
}

}  // namespace
}  // namespace vel
