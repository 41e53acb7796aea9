// The step guard: a large step needs a second source that agrees; HTTPS
// Dates that show an answer false stop any step. Whole runs in virtual time
// against Daytime servers and HTTPS servers that tell the truth or lie.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/entry.h"
#include "support/daytime_peer.h"
#include "support/test_app.h"
#include "timesource/https_constraint.h"
#include "timesource/step_guard.h"

namespace vel {
namespace {

using platform::HttpsDateReply;
using platform::Instant;
using platform::MessageResult;
using platform::Span;
using test::DaytimePeer;
using test::FakeSocket;
using test::InOrder;
using test::TestApp;
using Lines = std::vector<std::string>;
using Outcome = HttpsDateReply::Outcome;

Span SpanOf(double seconds)
{
    const double whole = std::floor(seconds);
    return platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((seconds - whole) * 1e9));
}

Instant Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return platform::InstantOfUtc({year, month, day, hour, minute, second});
}

// ---- The rules as functions ----

TEST(StepGuardRules, HttpDates)
{
    const struct {
        const char* text;
        std::optional<Instant> instant;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {"  Mon, 03 Feb 2025 09:07:00 GMT ", Utc(2025, 2, 3, 9, 7, 0)},
        {"Sunday, 06-Nov-94 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {"Thursday, 03-Feb-05 00:00:00 GMT", Utc(2005, 2, 3)},
        {"Sun Nov  6 08:49:37 1994", Utc(1994, 11, 6, 8, 49, 37)},
        {"Sun Nov 16 08:49:37 1994", Utc(1994, 11, 16, 8, 49, 37)},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 gmt", std::nullopt},
        {"Sun, 31 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 GMT x", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun Nov 6 08:49:37 1994", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHttpDate(c.text), c.instant) << c.text;
}

TEST(StepGuardRules, HostLists)
{
    const struct {
        const char* text;
        std::vector<HostPort> hosts;
    } cases[] = {
        {"a.test", {{"a.test", 443}}},
        {"a.test:8443, b.test\tc.test", {{"a.test", 8443}, {"b.test", 443}, {"c.test", 443}}},
        {"[::1]:4443 [2001:db8::1] ::1", {{"::1", 4443}, {"2001:db8::1", 443}, {"::1", 443}}},
        {"a:0 b:65536 c: d:x [::1 [::1]x e:65535", {{"e", 65535}}},
        {" , ,", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHostList(c.text, 443), c.hosts) << c.text;
}

TEST(StepGuardRules, TheConstraintsThatAgreeDecide)
{
    const OffsetRange answer{Span{100, 0}, Span{101, 0}};
    const OffsetRange agrees{Span{95, 0}, Span{95, 500000000}};  // 5 s apart: still agrees
    const OffsetRange disagrees{Span{106, 100000000}, Span{107, 0}};
    const struct {
        std::vector<OffsetRange> constraints;
        ConstraintVerdict verdict;
    } cases[] = {
        {{}, ConstraintVerdict::None},
        {{agrees}, ConstraintVerdict::Confirmed},
        {{disagrees, disagrees}, ConstraintVerdict::Lie},
        {{agrees, disagrees}, ConstraintVerdict::Undecided},
        {{agrees, disagrees, agrees}, ConstraintVerdict::Confirmed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JudgeByConstraints(answer, c.constraints), c.verdict) << c.constraints.size();
}

TEST(StepGuardRules, TheSecondServersAreNeverTheTimeServersOwn)
{
    Settings s;
    s.NTPServer = "TIME-A-G.nist.gov (NIST, Gaithersburg, MD)";
    const std::vector<HostPort> defaults = SecondServersOf(s);
    EXPECT_EQ(defaults.size(), 13u);  // the dialog's list but the time server's own
    EXPECT_EQ(defaults.front(), (HostPort{"time-b-g.nist.gov", 13}));
    s.SecondServers = "other.test:1313 time-a-g.nist.gov";
    EXPECT_EQ(SecondServersOf(s), (std::vector<HostPort>{{"other.test", 1313}}));
    s.SecondServers = "N";
    EXPECT_TRUE(SecondServersOf(s).empty());
    s.NTPServer = "https:WWW.google.com:8443 (a web server)";
    EXPECT_EQ(HttpsServersOf(s), (std::vector<HostPort>{{"www.cloudflare.com", 443}, {"www.microsoft.com", 443}}));
}

// ---- Whole runs ----

// The true time at the start; each source tells it, or lies by some seconds.
constexpr platform::LocalDateTime kTrue = {2025, 2, 3, 9, 7, 0};
constexpr double kDays3 = 3 * 86400;
const double kNoAnswer = NAN;         // a Daytime server that refuses
const double kSameServer = INFINITY;  // another name of the time server
const double kDeadBattery = -(platform::ToDouble(Utc(2025, 2, 3, 9, 7, 0) - Utc(2000, 1, 1)));  // the PC in 2000

struct HttpsServer {
    const char* host;
    double lie = 0;  // its Date is this far ahead of the true time
    Outcome outcome = Outcome::Trusted;
    std::vector<platform::CertificateValidity> chain = {};
};
const HttpsServer kRefusing = {"a.test", 0, Outcome::Failed};

enum class Start { Quiet, Machine, Window };

// The settings of the guard: [Main] lines.
const std::string kNone = "SecondServers=N\r\nHTTPSCheck=N\r\n";
const std::string kSecond = "SecondServers=second.test\r\nHTTPSCheck=N\r\n";

// A run with the PC clock `pcAhead` off and a time server that lies by
// `primaryLie`; it ends with `status`, the clock set only with Ok.
struct GuardCase {
    const char* what;
    Start start;
    std::string settings;
    double pcAhead, primaryLie;
    std::vector<std::pair<const char*, double>> daytime;  // other Daytime servers and their lies
    std::vector<HttpsServer> https;
    ExitStatus status;
    Lines lines;          // in this order, others between; "a*b" stands for a line that begins with a and holds b after
    int connects = 0;     // to Daytime servers, where it matters
    int httpsAsked = -1;  // requests for a Date, where it matters
};

const std::vector<platform::CertificateValidity> kChainOf2025 = {{Utc(2024, 6, 1), Utc(2025, 6, 1)},
                                                                 {Utc(2020, 1, 1), Utc(2030, 1, 1)}};
const ExitStatus kOk = ExitStatus::Ok, kUnconfirmed = ExitStatus::Unconfirmed;
const char* const kStepLine = "the step of 3 days is larger than the step limit of 1 hour: a second source must agree";
const char* const kCorrected = "system clock corrected to*";
const char* const kLie =
    "WARNING: system clock not corrected - the time server's answer lies outside every HTTPS Date*";

GuardCase Row(const char* what, Start start, const std::string& settings, double pcAhead, double primaryLie,
              const std::vector<std::pair<const char*, double>>& daytime, const std::vector<HttpsServer>& https,
              ExitStatus status, const Lines& lines, int connects = 0, int httpsAsked = -1)
{
    return {what, start, settings, pcAhead, primaryLie, daytime, https, status, lines, connects, httpsAsked};
}

const GuardCase kGuardCases[] = {
    Row("one server and no other source: a quiet run leaves the clock", Start::Quiet, kNone, kDays3, 0, {}, {},
        kUnconfirmed,
        {"system clock off by 3 days", kStepLine,
         "WARNING: system clock not corrected - no second source agreed with a step of 3 days (no second source is "
         "configured)"}),
    Row("the machine's run, no source reached", Start::Machine, "SecondServers=second.test\r\nHTTPSServers=a.test\r\n",
        kDays3, 0, {{"second.test", kNoAnswer}}, {kRefusing}, kUnconfirmed,
        {"HTTPS Date of a.test not used: Connection refused",
         "second opinion of second.test not used: winsock error - 10061 Connection refused",
         "WARNING: system clock not corrected - no second source agreed with a step of 3 days (asked: a.test (no "
         "answer), second.test (no answer))"}),
    Row("a second Daytime server agrees", Start::Quiet, kSecond, kDays3, 0, {{"second.test", 0}}, {}, kOk,
        {"second opinion of second.test (198.51.100.*) puts the PC clock 259200.0 s ahead (± 0.1 s): agrees",
         kCorrected}),
    Row("one disagrees, the next agrees; another name of the time server does not count", Start::Quiet,
        "SecondServers=alias.test second.test third.test\r\nHTTPSCheck=N\r\n", kDays3, 0,
        {{"alias.test", kSameServer}, {"second.test", 60}, {"third.test", 0}}, {}, kOk,
        {"second opinion of alias.test not used: it is the time server itself (192.0.2.13)",
         "second opinion of second.test (198.51.100.*) puts the PC clock 259140.0 s ahead (± 0.1 s): disagrees",
         "second opinion of third.test*: agrees", kCorrected}),
    Row("HTTPS Dates agree: no Daytime server is asked", Start::Quiet,
        "SecondServers=second.test\r\nHTTPSServers=a.test b.test:8443\r\n", kDays3, 0, {{"second.test", 0}},
        {{"a.test"}, {"b.test", 2}}, kOk,
        {"HTTPS Date of a.test puts the PC clock 259199.6 s ahead (± 0.6 s): agrees",
         "HTTPS Date of b.test:8443 puts the PC clock 259197.6 s ahead (± 0.6 s): agrees", kCorrected},
        1),
    Row("a lying time server: every HTTPS Date shows it false", Start::Quiet,
        "SecondServers=second.test\r\nHTTPSServers=a.test b.test\r\n", 0, -kDays3, {{"second.test", -kDays3}},
        {{"a.test"}, {"b.test"}}, kUnconfirmed,
        {"HTTPS Date of a.test puts the PC clock 0.4 s behind (± 0.6 s): disagrees",
         "HTTPS Date of b.test puts the PC clock 0.4 s behind (± 0.6 s): disagrees", kLie},
        1),
    Row("HTTPS Dates that disagree with each other leave it to a Daytime server", Start::Quiet,
        "SecondServers=second.test\r\nHTTPSServers=a.test b.test\r\n", kDays3, 0, {{"second.test", 0}},
        {{"a.test"}, {"b.test", 86400}}, kOk,
        {"HTTPS Date of b.test puts the PC clock 172799.6 s ahead (± 0.6 s): disagrees",
         "second opinion of second.test*: agrees", kCorrected}),
    Row("two of three HTTPS Dates agree", Start::Quiet, "SecondServers=N\r\nHTTPSServers=a.test b.test c.test\r\n",
        kDays3, 0, {}, {{"a.test"}, {"b.test", 3600}, {"c.test"}}, kOk,
        {"HTTPS Date of b.test puts the PC clock*: disagrees", kCorrected}),
    Row("a window run asks: Yes sets", Start::Window, kNone, kDays3, 0, {}, {}, kOk,
        {"the user confirmed the step of 3 days", kCorrected}),
    Row("a window run asks: No leaves the clock", Start::Window, kSecond, kDays3, 0, {{"second.test", 7200}}, {},
        kUnconfirmed,
        {"WARNING: system clock not corrected - no second source agreed with a step of 3 days, and the user answered "
         "No (asked: second.test (disagrees))"}),
    Row("within the limit nothing more is asked", Start::Quiet, "SecondServers=second.test\r\nHTTPSServers=a.test\r\n",
        120, 0, {{"second.test", 0}}, {{"a.test", 99}}, kOk, {"system clock off by 2 minutes", kCorrected}, 1, 0),
    Row("a larger limit lets 3 days pass", Start::Quiet, "StepLimit=604800\r\n" + kNone, kDays3, 0, {}, {}, kOk,
        {"system clock off by 3 days", kCorrected}),
    Row("HTTPSCheck=ALWAYS: a small step that every HTTPS Date shows false", Start::Quiet,
        "SecondServers=N\r\nHTTPSCheck=ALWAYS\r\nHTTPSServers=a.test\r\n", 0, -120, {}, {{"a.test"}}, kUnconfirmed,
        {"HTTPS Date of a.test puts the PC clock 0.4 s behind (± 0.6 s): disagrees", kLie}),
    Row("HTTPSCheck=ALWAYS: a small step with no HTTPS answer is made", Start::Quiet,
        "SecondServers=N\r\nHTTPSCheck=ALWAYS\r\nHTTPSServers=a.test\r\n", 120, 0, {}, {kRefusing}, kOk,
        {"HTTPS Date of a.test not used: Connection refused", kCorrected}),
    Row("a dead battery: certificates look not yet valid, the server's Date explains it", Start::Quiet,
        "SecondServers=N\r\nHTTPSServers=a.test\r\n", kDeadBattery, 0, {},
        {{"a.test", 0, Outcome::TrustedButForDates, kChainOf2025}}, kOk,
        {"the step of 9165 days 9 hours 7 minutes is larger than the step limit of 1 hour: a second source must agree",
         "HTTPS Date of a.test: its certificates are not valid by the PC clock, but the server's Date (Mon, 03 Feb "
         "2025 "
         "09:07:0*) lies within the validity of each: accepted",
         "HTTPS Date of a.test puts the PC clock 791888820.4 s behind (± 0.6 s): agrees", kCorrected}),
    Row("certificates whose validity the Date does not explain", Start::Quiet,
        "SecondServers=N\r\nHTTPSServers=a.test\r\n", kDeadBattery, 0, {},
        {{"a.test", 0, Outcome::TrustedButForDates, {{Utc(2010, 1, 1), Utc(2011, 1, 1)}}}}, kUnconfirmed,
        {"HTTPS Date of a.test not used: a certificate is expired or not yet valid by the PC clock, and the server's "
         "Date (Mon, 03 Feb 2025 09:07:0*) lies outside its validity too"}),
};

// A run against the case's servers: the time server "time.test" at
// 192.0.2.13, others at addresses of their own; in a window run the user
// answers Yes where the case ends Ok.
struct GuardRun {
    const GuardCase& c;
    TestApp t;
    std::map<std::string, std::unique_ptr<FakeSocket>> sides;  // each server's own side
    std::vector<std::unique_ptr<DaytimePeer>> peers;
    std::vector<std::string> boxes;

    explicit GuardRun(const GuardCase& guardCase) : c(guardCase)
    {
        t.clock = test::VirtualClock(platform::AddSeconds(kTrue, static_cast<std::int64_t>(c.pcAhead)));
        t.WriteSettings("[Main]\r\nNTPServer=time.test (test)\r\nDelay=3\r\nConnectionType=LAN\r\nQuietMode=" +
                        std::string(c.start == Start::Window ? "N" : "Y") + "\r\n" + c.settings);
        if (c.start == Start::Machine)
            t.env.commandLine = "--machine";
        t.dialUp.SetLan();
        AddDaytime("time.test", "192.0.2.13", c.primaryLie);
        for (const auto& [host, lie] : c.daytime)
            AddDaytime(host, std::isinf(lie) ? "192.0.2.13" : "198.51.100." + std::to_string(sides.size()),
                       std::isinf(lie) ? c.primaryLie : lie);
        t.socket.onConnect = [this](FakeSocket& socket, int attempt) {
            sides.at(socket.remoteHost)->onConnect(socket, attempt);
        };
        const Instant trueStart = platform::InstantOfUtc(kTrue);
        t.https.trueTime = [this, trueStart] { return trueStart + SpanOf(t.clock.MonotonicSeconds()); };
        for (const HttpsServer& server : c.https)
            t.https.servers[server.host] = {0.2, server.lie, server.outcome, server.chain};
        t.windows.answerMessage = [this](const platform::MessageRecord& box) {
            boxes.push_back(box.text);
            return c.status == ExitStatus::Ok ? MessageResult::Yes : MessageResult::No;
        };
    }

    // A Daytime server that tells the true time plus `lie` seconds; NaN: one
    // that refuses.
    void AddDaytime(const std::string& host, const std::string& address, double lie)
    {
        t.socket.addresses[host] = address;
        auto side = std::make_unique<FakeSocket>(t.pump);
        auto peer = std::make_unique<DaytimePeer>(t.clock, t.pump, *side);
        if (std::isnan(lie))
            peer->refuseFrom = 1;
        else
            peer->PcAheadBy(c.pcAhead - lie);
        sides[host] = std::move(side);
        peers.push_back(std::move(peer));
    }
};

TEST(StepGuard, ALargeStepWaitsForASecondSource)
{
    for (const GuardCase& c : kGuardCases) {
        SCOPED_TRACE(c.what);
        GuardRun run(c);
        EXPECT_EQ(ProgramMain(run.t.app), c.status);
        EXPECT_EQ(run.t.clock.sets.size(), c.status == ExitStatus::Ok ? 1u : 0u);
        EXPECT_TRUE(InOrder(run.t.LogLines(), c.lines));
        EXPECT_EQ(run.boxes.size(), c.start == Start::Window ? 1u : 0u);
        if (c.connects > 0) {
            EXPECT_EQ(run.t.socket.connects, c.connects);
        }
        if (c.httpsAsked >= 0) {
            EXPECT_EQ(run.t.https.asked.size(), static_cast<std::size_t>(c.httpsAsked));
        }
        if (c.status == ExitStatus::Ok && c.primaryLie == 0) {
            EXPECT_NEAR(platform::ToDouble(run.t.clock.NowUtc() - run.t.https.trueTime()), 0, 0.01);
        }
    }
}

// The box says how far and what was asked; Cancel while the sources are
// asked leaves the clock.
TEST(StepGuard, TheBoxNamesTheStepAndCancelEndsTheWait)
{
    const GuardCase c = Row("box", Start::Window, "SecondServers=second.test\r\nHTTPSServers=a.test\r\n", -kDays3, 0,
                            {{"second.test", kNoAnswer}}, {kRefusing}, kUnconfirmed, {});
    GuardRun box(c);
    ProgramMain(box.t.app);
    ASSERT_EQ(box.boxes.size(), 1u);
    EXPECT_EQ(box.boxes[0],
              "The time server says the PC clock is 3 days behind, and no second source agreed (asked: a.test "
              "(no answer), second.test (no answer)).\n\nSet the clock all the same?");
    EXPECT_EQ(box.t.Window()->Text("lblClockStatus"), kNotConfirmedText);

    GuardRun cancelled(c);
    cancelled.t.https.servers["a.test"].silent = true;
    // The start delay, the answer on the next second, the 3-second
    // countdown: the HTTPS request goes out at 7 s.
    cancelled.t.pump.At(9, [&] { cancelled.t.Window()->Click("cmdCancel"); });
    EXPECT_EQ(ProgramMain(cancelled.t.app), ExitStatus::Cancelled);
    EXPECT_TRUE(cancelled.t.clock.sets.empty());
    EXPECT_EQ(cancelled.t.socket.connects, 1);  // no Daytime server asked after the Cancel
    EXPECT_EQ(cancelled.t.LogLines().back(), "system clock not corrected - user cancelled");
    EXPECT_NEAR(cancelled.t.clock.MonotonicSeconds(), 9, 0.01);
}

}  // namespace
}  // namespace vel
