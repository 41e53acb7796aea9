// A web server's Date as the run's time source ("https:HOST"): what its
// replies give, the search for its second's edge over further requests, and
// the step guard over its answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <string>
#include <vector>

#include "support/test_app.h"
#include "timesource/clock_correction.h"
#include "timesource/time_query.h"

namespace vel {
namespace {

using Outcome = platform::HttpsDateReply::Outcome;
using Server = test::FakeHttpsDate::Server;
using Lines = std::vector<std::string>;

platform::Instant Utc(int year, int month, int day)
{
    return platform::InstantOfUtc({year, month, day, 0, 0, 0});
}

// The run's time server is www.example.org over HTTPS, true to a clock that
// the PC's is `pcAhead` seconds ahead of.
struct HttpsScene {
    test::TestApp t;
    platform::Instant trueAtZero;

    explicit HttpsScene(double pcAhead = 0, const std::string& entry = "https:www.example.org")
    {
        t.app.settings.NTPServer = entry;
        const double whole = std::floor(pcAhead);
        trueAtZero = t.clock.NowUtc() -
                     platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((pcAhead - whole) * 1e9));
        const double start = t.clock.MonotonicSeconds();
        t.https.trueTime = [this, start] {
            const double since = t.clock.MonotonicSeconds() - start;
            const double wholeSince = std::floor(since);
            return trueAtZero +
                   platform::MakeSpan(static_cast<std::int64_t>(wholeSince), std::llround((since - wholeSince) * 1e9));
        };
    }
    Server& Host(const std::string& host = "www.example.org") { return t.https.servers[host]; }
    double Error() { return platform::ToDouble(t.clock.NowUtc() - t.https.trueTime()); }
    Lines Logged() { return t.LogLines(); }
};

TEST(HttpsSource, WhatAReplyGives)
{
    const std::vector<platform::CertificateValidity> chainOf2025 = {{Utc(2024, 6, 1), Utc(2026, 6, 1)}};
    const std::vector<platform::CertificateValidity> chainOf2020 = {{Utc(2020, 1, 1), Utc(2021, 1, 1)}};
    struct Case {
        const char* what;
        std::string entry;
        Server server;
        bool withBackEnd;
        std::string error;  // empty: answered
        Lines asked;
        Lines log;  // in order
    };
    const Server trusted;
    Server refused;
    refused.outcome = Outcome::Failed;
    Server silent;
    silent.silent = true;
    Server outOfDate;
    outOfDate.outcome = Outcome::TrustedButForDates;
    outOfDate.chain = chainOf2025;
    Server expired = outOfDate;
    expired.chain = chainOf2020;
    const std::string date = "the server answered over HTTPS (Date: *)";
    const Case cases[] = {
        {"trusted", "https:www.example.org (a web server)", trusted, true, "", {"www.example.org:443"}, {date}},
        {"a port of its own", "HTTPS:www.example.org:8443", trusted, true, "", {"www.example.org:8443"}, {date}},
        {"refused: asked once",
         "https:www.example.org",
         refused,
         true,
         "HTTPS server gave no usable Date: Connection refused",
         {"www.example.org:443"},
         {}},
        {"silent: three requests of 10 s",
         "https:www.example.org",
         silent,
         true,
         "Connection timed out",
         {"www.example.org:443", "www.example.org:443", "www.example.org:443"},
         {}},
        {"a chain out of date by the PC clock, which the Date explains",
         "https:www.example.org",
         outOfDate,
         true,
         "",
         {"www.example.org:443"},
         {"HTTPS Date of www.example.org: its certificates are not valid by the PC clock, but the server's Date (*",
          date}},
        {"a chain the Date does not explain",
         "https:www.example.org",
         expired,
         true,
         "HTTPS server gave no usable Date: a certificate is expired or not yet valid by the PC clock, and the "
         "server's Date (*) lies outside its validity too",
         {"www.example.org:443"},
         {}},
        {"no HTTPS in this build",
         "https:www.example.org",
         trusted,
         false,
         "HTTPS requests are not available in this build",
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpsScene s(0, c.entry);
        s.Host() = c.server;
        if (!c.withBackEnd)
            s.t.app.httpsDate = nullptr;
        const double start = s.t.clock.MonotonicSeconds();
        EXPECT_EQ(GetServerTime(s.t.app), c.error.empty());
        EXPECT_TRUE(c.error.empty() ? s.t.app.query.TimeError.empty()
                                    : bool(test::InOrder({s.t.app.query.TimeError}, {c.error})))
            << s.t.app.query.TimeError;
        EXPECT_EQ(s.t.https.asked, c.asked);
        EXPECT_TRUE(test::InOrder(s.Logged(), c.log));
        EXPECT_EQ(s.t.app.query.ServerTime == platform::LocalDateTime{}, !c.error.empty());
        EXPECT_NEAR(s.t.clock.MonotonicSeconds() - start, c.server.silent ? 30 : 0, 0.5);
    }
}

// The PC clock 95.37 s behind, the server 20 ms away each way (its first
// request 150 ms longer: lookup and handshakes), at three phases of its
// second: the instant set lies within the bound the log states, and the
// search halves the first answer's second as a Daytime one does.
TEST(HttpsSource, TheSecondsEdgeIsFoundOverFurtherRequests)
{
    const std::string one = "within N ms over 1 answer";
    struct Case {
        const char* what;
        const char* precise;
        int changeFrom;
        double laterAhead;
        bool laterFails;
        int requests;  // 0: the search's, 6 to 8
        std::string line;
        double largestError;
    };
    const Case cases[] = {
        {"the search", "Y", 0, 0, false, 0, "within N ms over K answers", 0.006},
        {"Precise=N: one request", "N", 0, 0, false, 1, one, 0.52},
        {"later Dates 3 s off", "Y", 2, 3, false, 2, one + "; the server's later answers contradicted it", 0.52},
        {"later requests fail", "Y", 2, 0, true, 2,
         one + "; no further answer: HTTPS server gave no usable Date: Connection refused", 0.52},
    };
    for (const Case& c : cases) {
        for (const double phase : {0.1, 0.55, 0.9}) {
            SCOPED_TRACE(testing::Message() << c.what << ", phase " << phase);
            HttpsScene s(-95.37);
            s.t.clock.Advance(phase);
            s.t.app.settings.Precise = c.precise;
            Server& server = s.Host();
            server.roundTrip = 0.04;
            server.setUp = 0.15;
            server.changeFrom = c.changeFrom;
            server.laterAhead = c.laterAhead;
            server.laterFails = c.laterFails;
            ASSERT_TRUE(GetServerTime(s.t.app)) << s.t.app.query.TimeError;
            CompareAndCorrect(s.t.app);
            ASSERT_EQ(s.t.clock.sets.size(), 1u);
            const double error = std::fabs(s.Error());
            EXPECT_LE(error, c.largestError);
            const std::size_t requests = s.t.https.asked.size();
            EXPECT_TRUE(c.requests == 0 ? requests >= 6 && requests <= 8 : requests == std::size_t(c.requests))
                << requests;
            // Never more often than once a second.
            for (std::size_t i = 1; i < s.t.https.askTimes.size(); ++i)
                EXPECT_GE(s.t.https.askTimes[i] - s.t.https.askTimes[i - 1], 1.0 - 1e-9);
            const Lines log = s.Logged();
            const auto line = std::find_if(log.begin(), log.end(), [](const std::string& l) {
                return l.find("measured to within ") != std::string::npos;
            });
            ASSERT_NE(line, log.end());
            std::smatch found;
            ASSERT_TRUE(std::regex_match(
                *line, found, std::regex(R"(the PC clock is .*, measured to (within (\d+) ms over \d+ answers?.*))")));
            std::string shape = found[1];
            shape.replace(7, found[2].length(), "N");
            shape = std::regex_replace(shape, std::regex(R"(over ([2-9]) )"), "over K ");
            EXPECT_EQ(shape, c.line);
            EXPECT_LE(error, std::stod(found[2]) / 1000) << *line;
        }
    }
}

// The step guard holds an HTTPS answer as any other: a step of 3 days needs
// the HTTPS Dates of other servers to agree.
TEST(HttpsSource, TheStepGuardHoldsItsAnswer)
{
    constexpr double kDays3 = 3 * 86400;
    struct Case {
        const char* what;
        double pcAhead;
        double serverAhead;  // the time server's Date, ahead of the truth
        ExitStatus status;
        std::string last;
    };
    const Case cases[] = {
        {"the PC 3 days ahead: confirmed", kDays3, 0, ExitStatus::Ok, "system clock corrected to*"},
        {"the server 3 days off: shown false", 0, -kDays3, ExitStatus::Unconfirmed,
         "WARNING: system clock not corrected - the time server's answer lies outside every HTTPS Date*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HttpsScene s(c.pcAhead);
        s.t.app.settings.HTTPSServers = "a.test b.test";
        s.Host().dateAhead = c.serverAhead;
        s.Host("a.test");
        s.Host("b.test");
        ASSERT_TRUE(GetServerTime(s.t.app));
        CompareAndCorrect(s.t.app);
        EXPECT_EQ(s.t.app.exitStatus, c.status);
        EXPECT_TRUE(test::InOrder(s.Logged(), {"the server answered over HTTPS*", "system clock off by 3 days",
                                               "HTTPS Date of a.test puts the PC clock*", c.last}));
        EXPECT_EQ(s.t.clock.sets.size(), c.status == ExitStatus::Ok ? 1u : 0u);
    }
}

}  // namespace
}  // namespace vel
