#include "timesource/https_source.h"

#include <optional>
#include <vector>

#include "app/app.h"
#include "log/log.h"
#include "timesource/daytime_answer.h"
#include "timesource/daytime_client.h"
#include "timesource/edge_search.h"
#include "timesource/https_constraint.h"
#include "timesource/step_guard.h"
#include "timesource/time_source.h"
#include "timesource/time_zone.h"

namespace vel {

namespace {

// One request and its reply, timed on the PC clock.
struct HttpsExchange {
    platform::Instant sent;
    platform::Instant received;
    bool replied = false;
    platform::HttpsDateReply reply;
};

HostPort ServerOf(const std::string& host)
{
    const std::vector<HostPort> named = ParseHostList(host, kHttpsPort);
    return named.size() == 1 ? named.front() : HostPort{host, kHttpsPort};
}

// Sends one request and waits for its reply until `deadline` (monotonic) or
// Cancel; `exchange.replied` tells whether one came.
void Request(App& app, const HostPort& server, TimeQueryState& query, HttpsExchange& exchange, double deadline)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    exchange = {};
    query.lastConnectSeconds = clock.MonotonicSeconds();
    query.serverAsked = true;
    exchange.sent = clock.Read().utc;
    app.httpsDate->Ask(server.host, server.port, [&exchange, &clock](const platform::HttpsDateReply& reply) {
        if (exchange.replied)
            return;
        // The clock first: the moment of arrival is what the Date is
        // measured against.
        exchange.received = clock.Read().utc;
        exchange.reply = reply;
        exchange.replied = true;
    });
    while (!app.flags.UserCancelled) {
        pump.DoEvents();
        const double left = deadline - clock.MonotonicSeconds();
        if (exchange.replied || app.flags.UserCancelled || left <= 0)
            break;
        pump.WaitForEvents(left);
    }
    // No reply reaches `exchange` after this.
    app.httpsDate->CancelAll();
}

// An answer as the second's edge search reads it: PC times from
// `pcOrigin`, server times from `serverOrigin`.
EdgeAnswer ToEdgeAnswer(const HttpsExchange& exchange, const platform::Instant& date, const platform::Instant& pcOrigin,
                        const platform::Instant& serverOrigin)
{
    EdgeAnswer edge;
    edge.requestOnly = true;
    edge.connecting = edge.connected = SecondsOf(exchange.sent - pcOrigin);
    edge.arrival = SecondsOf(exchange.received - pcOrigin);
    edge.named = SecondsOf(date - serverOrigin);
    return edge;
}

std::string NotUsable(const std::string& why)
{
    return "HTTPS server gave no usable Date: " + why;
}

class Https final : public TimeSource {
public:
    const char* Name() const override { return "HTTPS"; }
    bool Ask(App& app, const std::string& host, TimeQueryState& query) const override
    {
        return GetHttpsTime(app, host, query);
    }
    bool Refine(App& app, const std::string& host, TimeQueryState& query) const override
    {
        return RefineHttpsTime(app, host, query);
    }
};

}  // namespace

const TimeSource& HttpsSource()
{
    static const Https source;
    return source;
}

bool GetHttpsTime(App& app, const std::string& host, TimeQueryState& query)
{
    platform::Clock& clock = app.platform.clock;
    query.answers = 0;
    query.measureNote.clear();
    query.ntpStratum = 0;
    query.ServerAnswer.clear();
    query.TimeError.clear();
    query.timeFailure.reset();
    query.ServerTime = {};
    if (app.httpsDate == nullptr) {
        query.TimeError = "HTTPS requests are not available in this build";
        return false;
    }
    const HostPort server = ServerOf(host);
    HttpsExchange exchange;
    query.WaitingForAnswer = true;
    for (int attempt = 1; attempt <= kHttpsAttempts && !exchange.replied && !app.flags.UserCancelled; ++attempt)
        Request(app, server, query, exchange, clock.MonotonicSeconds() + kHttpsTimeoutSeconds);
    query.WaitingForAnswer = false;
    if (!exchange.replied) {
        query.TimeError = app.flags.UserCancelled ? "User cancelled" : "Connection timed out";
        return false;
    }
    const UsableDate judged = JudgeReply(exchange.reply);
    query.ServerAnswer = exchange.reply.date;
    if (!judged.date) {
        query.TimeError = NotUsable(judged.note);
        return false;
    }
    if (!judged.note.empty())
        WriteLog(app, "HTTPS Date of " + ServerName(server, kHttpsPort) + ": " + judged.note);

    const std::int32_t offset = GetTimeZoneOffsetSeconds(app);
    query.answerInstant = exchange.received;
    query.AnswerTime = platform::AddSeconds(platform::UtcDateTime(exchange.received), offset);
    query.namedInstant = *judged.date;
    query.ServerTime = platform::AddSeconds(platform::UtcDateTime(*judged.date), offset);
    query.connectInstant = query.connectedInstant = exchange.sent;
    query.handshakeRetried = false;
    query.onTimeAdvance.reset();
    query.serverAddress.clear();
    query.askAgainAfterSeconds = kEdgeQuerySpacingSeconds;
    // One answer always agrees with itself.
    TakeMeasurement(query, *MeasureOffset({ToEdgeAnswer(exchange, *judged.date, exchange.received, *judged.date)}), 1);
    WriteLog(app, "the server answered over HTTPS (Date: " + PrintableAnswer(exchange.reply.date) + ")");
    return true;
}

bool RefineHttpsTime(App& app, const std::string& host, TimeQueryState& query)
{
    if (query.answers != 1 || !WantsPrecision(app.settings) || app.httpsDate == nullptr)
        return true;
    EdgeAnswer first;
    first.requestOnly = true;
    first.connecting = first.connected = SecondsOf(query.connectedInstant - query.answerInstant);
    const HostPort server = ServerOf(host);
    HttpsExchange exchange;
    return SearchSecondEdge(app, query, first, [&](double deadline) {
        Request(app, server, query, exchange, deadline);
        FurtherAnswer further;
        if (!exchange.replied) {
            further.error = app.flags.UserCancelled ? "User cancelled" : "Connection timed out";
            return further;
        }
        const UsableDate judged = JudgeReply(exchange.reply);
        if (judged.date)
            further.answer = ToEdgeAnswer(exchange, *judged.date, query.answerInstant, query.namedInstant);
        else
            further.error = NotUsable(judged.note);
        return further;
    });
}

}  // namespace vel
