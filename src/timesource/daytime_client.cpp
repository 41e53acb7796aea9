#include "timesource/daytime_client.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/app.h"
#include "timesource/daytime_answer.h"
#include "timesource/edge_search.h"
#include "timesource/second_edge.h"

namespace vel {

namespace {

// One connection's story, as the socket's events tell it.
struct Exchange {
    bool waiting = false;
    std::string answer;
    platform::ClockReading arrival;
    platform::Instant connecting;  // the handshake began (or, failing word of it, the connect was asked for)
    platform::Instant connected;
    bool handshakeSeen = false;
    bool handshakeRetried = false;
    std::string peer;  // the address connected to
    std::string error;

    // The handshake's end; without word of it, its beginning (the server
    // cannot have answered before that either), and no round trip known.
    platform::Instant HandshakeEnd() const { return handshakeSeen ? connected : connecting; }
    bool RoundTripUnknown() const { return !handshakeSeen || handshakeRetried; }
};

// frmVEL's handler for the socket: it only notes what happened and closes
// the socket; the waits read the state. That of the time query proper also
// keeps the query's state (`query`); the further queries that time the
// server's second only their own.
class DaytimeHandler {
public:
    DaytimeHandler(App& app, Exchange& exchange, TimeQueryState* query) : app_(app), exchange_(exchange), query_(query)
    {}

    // What the socket is handed: this handler outlives the connection.
    platform::SocketHandler Callback()
    {
        return [this](const platform::SocketEvent& event) { Handle(event); };
    }

private:
    void Handle(const platform::SocketEvent& event)
    {
        using Kind = platform::SocketEvent::Kind;
        switch (event.kind) {
            case Kind::Connecting:
                exchange_.connecting = app_.platform.clock.Read().utc;
                exchange_.handshakeSeen = false;
                return;
            case Kind::Connected:
                exchange_.connected = app_.platform.clock.Read().utc;
                exchange_.handshakeSeen = true;
                exchange_.handshakeRetried = event.handshakeRetried;
                exchange_.peer = event.address;
                return;
            case Kind::DataArrived:
                DataArrived();
                return;
            case Kind::Failed:
                Failed(event.error);
                return;
        }
    }

    void DataArrived()
    {
        // The clock first: the moment of arrival is what the answer is
        // measured against, to the nanosecond.
        exchange_.arrival = app_.platform.clock.Read();
        exchange_.answer = app_.platform.socket.GetData(kDaytimeReadLimit);
        exchange_.waiting = false;
        if (query_) {
            query_->ServerAnswer = exchange_.answer;
            query_->AnswerTime = exchange_.arrival.local.time;
            query_->answerInstant = exchange_.arrival.utc;
            query_->WaitingForAnswer = false;
        }
        app_.platform.socket.Close();
    }

    void Failed(const platform::SocketError& error)
    {
        exchange_.error = SocketErrorText(error);
        exchange_.waiting = false;
        if (query_) {
            query_->TimeError = exchange_.error;
            // A failure without a text is an unknown one, to the log and to
            // the decision after the attempt alike.
            if (error.description.empty())
                query_->timeFailure.reset();
            else
                query_->timeFailure = error.failure;
            query_->WaitingForAnswer = false;
        }
        app_.platform.socket.Close();
    }

    App& app_;
    Exchange& exchange_;
    TimeQueryState* query_;
};

// Closes the socket when the query returns, so that no event can reach its
// handler afterwards.
class ClosedAtEnd {
public:
    explicit ClosedAtEnd(platform::Socket& socket) : socket_(socket) {}
    ~ClosedAtEnd() { socket_.Close(); }
    ClosedAtEnd(const ClosedAtEnd&) = delete;
    ClosedAtEnd& operator=(const ClosedAtEnd&) = delete;

private:
    platform::Socket& socket_;
};

// Whole seconds on the monotonic clock: a change of the time of day neither
// stretches nor cuts a time-out.
double WholeSeconds(double seconds)
{
    return std::floor(seconds);
}

// Starts a connect to the server, noting when.
void StartConnect(App& app, const std::string& host, TimeQueryState& query, Exchange& exchange, DaytimeHandler& handler)
{
    exchange.waiting = true;
    exchange.connecting = app.platform.clock.Read().utc;
    exchange.handshakeSeen = false;
    exchange.handshakeRetried = false;
    query.lastConnectSeconds = app.platform.clock.MonotonicSeconds();
    query.serverAsked = true;
    app.platform.socket.Connect(host, DaytimePort, handler.Callback());
}

// An answer as the second's edge search reads it: PC times in seconds from
// `pcOrigin`, server times from `serverOrigin`.
EdgeAnswer ToEdgeAnswer(const Exchange& exchange, const DaytimeAnswer& answer, const platform::Instant& pcOrigin,
                        const platform::Instant& serverOrigin)
{
    EdgeAnswer edge;
    edge.connecting = SecondsOf(exchange.connecting - pcOrigin);
    edge.connected = SecondsOf(exchange.HandshakeEnd() - pcOrigin);
    edge.arrival = SecondsOf(exchange.arrival.utc - pcOrigin);
    edge.handshakeRetried = exchange.RoundTripUnknown();
    edge.named = SecondsOf(answer.named - serverOrigin);
    if (answer.onTimeAdvance)
        edge.onTimeAdvance = SecondsOf(*answer.onTimeAdvance);
    return edge;
}

// The first answer as kept in the query, with the arrival as the PC's origin
// and the second it named as the server's.
EdgeAnswer FirstEdgeAnswer(const TimeQueryState& query)
{
    EdgeAnswer edge;
    edge.connecting = SecondsOf(query.connectInstant - query.answerInstant);
    edge.connected = SecondsOf(query.connectedInstant - query.answerInstant);
    edge.handshakeRetried = query.handshakeRetried;
    if (query.onTimeAdvance)
        edge.onTimeAdvance = SecondsOf(*query.onTimeAdvance);
    return edge;
}

}  // namespace

int WinsockNumber(const platform::SocketError& error)
{
    using platform::SocketFailure;
    switch (error.failure) {
        case SocketFailure::Refused:
            return 10061;
        case SocketFailure::TimedOut:
            return 10060;
        case SocketFailure::Reset:
            return 10054;
        case SocketFailure::HostNotFound:
            return 11001;
        case SocketFailure::TryAgain:
            return 11002;
        case SocketFailure::NetworkDown:
            return 10050;
        case SocketFailure::NetworkUnreachable:
            return 10051;
        case SocketFailure::HostUnreachable:
            return 10065;
        case SocketFailure::AccessDenied:
            return 10013;
        case SocketFailure::AddressInUse:
            return 10048;
        case SocketFailure::AddressNotAvailable:
            return 10049;
        case SocketFailure::AddressFamilyNotSupported:
            return 10047;
        case SocketFailure::NoBuffers:
            return 10055;
        case SocketFailure::MessageTooLong:
            return 10040;
        case SocketFailure::NotSupported:
            return 10045;
        case SocketFailure::Other:
            break;
    }
    return error.systemNumber;
}

std::string SocketErrorText(const platform::SocketError& error)
{
    if (error.description.empty())
        return "unknown winsock error";
    return "winsock error - " + std::to_string(WinsockNumber(error)) + " " + error.description;
}

std::string ServerHost(const std::string& entry)
{
    const std::size_t blank = entry.find(' ');
    return blank == std::string::npos ? entry : entry.substr(0, blank);
}

bool GetDaytimeTime(App& app)
{
    return GetDaytimeTime(app, app.query.host, app.query);
}

bool GetDaytimeTime(App& app, const std::string& host, TimeQueryState& query)
{
    platform::Socket& socket = app.platform.socket;
    platform::EventPump& pump = app.platform.pump;
    platform::Clock& clock = app.platform.clock;

    Exchange exchange;
    DaytimeHandler handler(app, exchange, &query);
    ClosedAtEnd closed(socket);

    std::optional<DaytimeAnswer> parsed;
    bool timedOut = false;
    query.answers = 0;
    query.measureNote.clear();
    for (int attempt = 1; attempt <= kDaytimeAttempts; ++attempt) {
        // Time servers refuse a client that asks more often than once every
        // 4 seconds.
        if (attempt > 1 && !WaitUntil(app, query.lastConnectSeconds + kDaytimeAttemptSpacingSeconds))
            break;  // cancelled while waiting
        query.WaitingForAnswer = true;
        // Noticed once the whole-second reading is past the deadline: 10 to
        // 11 seconds after the connect.
        const double deadline = WholeSeconds(clock.MonotonicSeconds()) + kDaytimeTimeoutSeconds;
        timedOut = false;
        query.TimeError.clear();
        query.timeFailure.reset();

        StartConnect(app, host, query, exchange, handler);

        while (query.WaitingForAnswer) {
            pump.DoEvents();
            const double now = clock.MonotonicSeconds();
            if (WholeSeconds(now) > deadline) {
                timedOut = true;
                socket.Close();
            }
            if (app.flags.UserCancelled || !query.WaitingForAnswer || timedOut)
                break;
            // Sleep until an event comes or the time-out is due.
            const double left = deadline + 1 - now;
            pump.WaitForEvents(left > 0.001 ? left : 0.001);
        }

        parsed = ParseDaytimeAnswer(query.ServerAnswer);
        if (parsed || app.flags.UserCancelled || query.timeFailure == platform::SocketFailure::Refused)
            break;
    }

    if (parsed) {
        query.ServerTime = ConvertAnswerToLocal(app, *parsed);
        // The answer parsed is the latest arrival, that of this exchange.
        query.connectInstant = exchange.connecting;
        query.connectedInstant = exchange.HandshakeEnd();
        query.handshakeRetried = exchange.RoundTripUnknown();
        query.serverAddress = exchange.peer;
        query.namedInstant = parsed->named;
        query.onTimeAdvance = parsed->onTimeAdvance;
        // One answer always agrees with itself.
        TakeMeasurement(query, *MeasureOffset({FirstEdgeAnswer(query)}), 1);
        // A server of NIST's layout refuses clients that ask more often than
        // once every 4 seconds.
        query.askAgainAfterSeconds =
            parsed->layout == DaytimeLayout::Nist ? kDaytimeAttemptSpacingSeconds : kEdgeQuerySpacingSeconds;
        return true;
    }

    query.ServerTime = {};
    if (!query.TimeError.empty()) {
        // a socket error of the last attempt
    } else if (app.flags.UserCancelled) {
        query.TimeError = "User cancelled";
    } else if (timedOut) {
        query.TimeError = "Connection timed out";
    } else {
        // The answer is the server's, not ours: it goes into a log line.
        query.TimeError = "NTP server returned invalid time: " + PrintableAnswer(query.ServerAnswer);
    }
    return false;
}

namespace {

// One further connection to the server, bounded by `deadline` (monotonic).
// Its answer, or why none came, in `exchange`.
void AskAgain(App& app, const std::string& host, TimeQueryState& query, Exchange& exchange, double deadline)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    exchange = {};
    DaytimeHandler handler(app, exchange, nullptr);
    ClosedAtEnd closed(app.platform.socket);
    StartConnect(app, host, query, exchange, handler);
    while (exchange.waiting) {
        pump.DoEvents();
        if (!exchange.waiting)
            return;
        const double left = deadline - clock.MonotonicSeconds();
        if (app.flags.UserCancelled || left <= 0) {
            if (!app.flags.UserCancelled)
                exchange.error = "Connection timed out";
            app.platform.socket.Close();
            return;
        }
        pump.WaitForEvents(left);
    }
}

}  // namespace

bool WantsPrecision(const Settings& settings)
{
    return SaysYes<&Settings::Precise>(settings);
}

bool RefineServerTime(App& app, const std::string& host, TimeQueryState& query)
{
    // An NTP answer carries its own fraction of a second.
    if (query.answers != 1 || query.ntpStratum != 0 || !WantsPrecision(app.settings))
        return true;
    const platform::Instant pcOrigin = query.answerInstant;
    Exchange exchange;
    return SearchSecondEdge(app, query, FirstEdgeAnswer(query), [&](double deadline) {
        AskAgain(app, host, query, exchange, deadline);
        FurtherAnswer further;
        if (app.flags.UserCancelled)
            return further;
        if (const std::optional<DaytimeAnswer> later = ParseDaytimeAnswer(exchange.answer))
            further.answer = ToEdgeAnswer(exchange, *later, pcOrigin, query.namedInstant);
        else
            further.error = !exchange.error.empty() ? exchange.error
                            : exchange.answer.empty()
                                ? std::string("Connection timed out")
                                : "NTP server returned invalid time: " + PrintableAnswer(exchange.answer);
        return further;
    });
}

OtherServerAnswer AskOtherServer(App& app, const std::string& host, int port, double deadline)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    Exchange exchange;
    DaytimeHandler handler(app, exchange, nullptr);
    ClosedAtEnd closed(app.platform.socket);
    exchange.waiting = true;
    exchange.connecting = clock.Read().utc;
    app.platform.socket.Connect(host, port, handler.Callback());
    while (exchange.waiting && !app.flags.UserCancelled) {
        pump.DoEvents();
        const double left = deadline - clock.MonotonicSeconds();
        if (!exchange.waiting || app.flags.UserCancelled)
            break;
        if (left <= 0) {
            exchange.error = "Connection timed out";
            break;
        }
        pump.WaitForEvents(left);
    }

    OtherServerAnswer result;
    result.address = exchange.peer;
    if (exchange.waiting) {
        result.error = app.flags.UserCancelled ? "User cancelled" : exchange.error;
        return result;
    }
    const std::optional<DaytimeAnswer> parsed = ParseDaytimeAnswer(exchange.answer);
    if (!parsed) {
        result.error = !exchange.error.empty()
                           ? exchange.error
                           : "NTP server returned invalid time: " + PrintableAnswer(exchange.answer);
        return result;
    }
    // One answer always agrees with itself.
    const OffsetMeasurement measured =
        *MeasureOffset({ToEdgeAnswer(exchange, *parsed, exchange.arrival.utc, parsed->named)});
    result.arrival = exchange.arrival.utc;
    result.serverInstant = parsed->named - SpanOfSeconds(measured.offset);
    result.bound = SpanOfSeconds(measured.bound);
    return result;
}

std::string DescribePrecision(const TimeQueryState& query)
{
    // Whole milliseconds, rounded up: never more precise than measured.
    const std::int64_t nanoseconds = query.bound.seconds * 1000000000 + query.bound.nanoseconds;
    const std::int64_t milliseconds = (nanoseconds + 999999) / 1000000;
    std::string text = "measured to within " + std::to_string(milliseconds) + " ms over " +
                       std::to_string(query.answers) + (query.answers == 1 ? " answer" : " answers");
    if (query.roundTripUnknown)
        text += "; no round trip measured: the handshake was retried";
    if (!query.measureNote.empty())
        text += "; " + query.measureNote;
    return text;
}

std::string DescribeOffset(const TimeQueryState& query)
{
    // To the nearest millisecond (the nanoseconds count up from the second
    // below, whatever the sign).
    const platform::Span ahead = query.answerInstant - query.serverInstant;
    const std::int64_t milliseconds = ahead.seconds * 1000 + (ahead.nanoseconds + 500000) / 1000000;
    return "the PC clock is " + std::to_string(milliseconds < 0 ? -milliseconds : milliseconds) + " ms " +
           (milliseconds < 0 ? "behind" : "ahead of") + " the server, " + DescribePrecision(query);
}

}  // namespace vel
