#include "timesource/sntp_client.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "app/app.h"
#include "log/log.h"
#include "timesource/daytime_client.h"
#include "timesource/sntp_packet.h"
#include "timesource/time_servers.h"
#include "timesource/time_zone.h"

namespace vel {

namespace {

// A request of this run still waiting for its answer.
struct Request {
    NtpTimestamp transmit;  // as sent: the answer must echo it
    platform::Instant sent;
};

// One server's answers within a run, as the socket's events bring them.
class NtpExchange {
public:
    NtpExchange(App& app, TimeQueryState& query) : app_(app), query_(query) {}

    platform::DatagramHandler Callback()
    {
        return [this](const platform::DatagramEvent& event) { Handle(event); };
    }

    // Sends the next request; false when the system refused it (failure set).
    bool SendRequest()
    {
        platform::Clock& clock = app_.platform.clock;
        query_.lastConnectSeconds = clock.MonotonicSeconds();
        query_.serverAsked = true;
        // The moment of sending is read as late as possible, and is both
        // the origin the answer must echo and t1.
        const platform::Instant now = clock.Read().utc;
        const Request request{ToNtpTimestamp(now), now};
        platform::SocketError error;
        if (!app_.platform.datagram.Send(EncodeClientRequest(request.transmit), error)) {
            failure = error;
            return false;
        }
        outstanding_.push_back(request);
        return true;
    }

    bool Over() const { return failure.has_value() || ended || app_.flags.UserCancelled; }
    bool AllAnswered() const { return outstanding_.empty(); }

    bool ready = false;
    std::optional<platform::SocketError> failure;
    bool ended = false;          // a kiss or an unsynchronised answer: no more questions
    std::string kiss;            // why the server said no ("kiss code RATE (asked too often)")
    std::string unsynchronised;  // why its time is of no use
    std::vector<NtpSample> samples;
    int spoofed = 0;
    int malformed = 0;
    std::string lastMalformed;

private:
    void Handle(const platform::DatagramEvent& event)
    {
        switch (event.kind) {
            case platform::DatagramEvent::Kind::Ready:
                ready = true;
                return;
            case platform::DatagramEvent::Kind::Failed:
                failure = event.error;
                return;
            case platform::DatagramEvent::Kind::Arrived:
                Arrived();
                return;
        }
    }

    void Arrived()
    {
        // The clock first: t4 is the moment of arrival.
        const platform::Instant arrived = app_.platform.clock.Read().utc;
        while (const std::optional<std::string> bytes = app_.platform.datagram.Receive(kNtpReadLimit))
            Judge(*bytes, arrived);
    }

    void Judge(const std::string& bytes, const platform::Instant& arrived)
    {
        // The request it answers, if it answers one of ours at all; each is
        // answered once (a copy of an answer is no second sample).
        const std::optional<NtpTimestamp> origin = OriginOf(bytes);
        if (!origin) {
            ++malformed;
            lastMalformed = CheckServerReply(bytes, {}).reason;
            return;
        }
        const auto request = std::find_if(outstanding_.begin(), outstanding_.end(),
                                          [&](const Request& r) { return r.transmit == *origin; });
        if (request == outstanding_.end()) {
            ++spoofed;
            return;
        }
        const NtpCheck check = CheckServerReply(bytes, request->transmit);
        if (check.verdict == NtpVerdict::Malformed) {
            ++malformed;
            lastMalformed = check.reason;
            return;
        }
        const platform::Instant t1 = request->sent;
        outstanding_.erase(request);
        switch (check.verdict) {
            case NtpVerdict::Usable:
                if (const std::optional<NtpSample> sample = MeasureSample(check.reply, t1, arrived)) {
                    samples.push_back(*sample);
                } else {
                    ++malformed;
                    lastMalformed = "times that contradict each other";
                }
                return;
            case NtpVerdict::Kiss:
                if (KissEndsQuestions(check.kissCode)) {
                    kiss = check.reason;
                    ended = true;
                } else {
                    // Any other kiss: a server that has no time to give.
                    unsynchronised = check.reason;
                    ended = true;
                }
                return;
            case NtpVerdict::Unsynchronised:
                unsynchronised = check.reason;
                ended = true;
                return;
            case NtpVerdict::Malformed:
            case NtpVerdict::Spoofed:
                return;
        }
    }

    App& app_;
    TimeQueryState& query_;
    std::vector<Request> outstanding_;
};

// Waits until `done` holds, the monotonic clock reaches `until`, or the
// user cancels, with the window's events handled.
template <typename Done>
void WaitFor(App& app, double until, Done done)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    for (;;) {
        pump.DoEvents();
        if (done() || app.flags.UserCancelled)
            return;
        const double left = until - clock.MonotonicSeconds();
        if (left <= 0)
            return;
        pump.WaitForEvents(left);
    }
}

// Closes the socket when the query returns.
class DatagramClosedAtEnd {
public:
    explicit DatagramClosedAtEnd(platform::DatagramSocket& socket) : socket_(socket) {}
    ~DatagramClosedAtEnd() { socket_.Close(); }
    DatagramClosedAtEnd(const DatagramClosedAtEnd&) = delete;
    DatagramClosedAtEnd& operator=(const DatagramClosedAtEnd&) = delete;

private:
    platform::DatagramSocket& socket_;
};

platform::Span Half(const platform::Span& span)
{
    return platform::MakeSpan(0, (span.seconds * 1000000000 + span.nanoseconds + 1) / 2);
}

std::string DroppedNote(const NtpExchange& exchange)
{
    std::string note;
    if (exchange.spoofed > 0)
        note += std::to_string(exchange.spoofed) + " that answered no request of ours";
    if (exchange.malformed > 0) {
        if (!note.empty())
            note += ", ";
        note += std::to_string(exchange.malformed) + " malformed (" + exchange.lastMalformed + ")";
    }
    return note.empty() ? note : " (answers dropped: " + note + ")";
}

// The kept sample into the query's state, as a Daytime answer leaves it.
void KeepSample(App& app, TimeQueryState& query, const NtpExchange& exchange)
{
    const NtpSample best = *std::min_element(exchange.samples.begin(), exchange.samples.end(),
                                             [](const NtpSample& a, const NtpSample& b) { return a.delay < b.delay; });
    const std::int32_t offset = GetTimeZoneOffsetSeconds(app);
    query.ServerAnswer.clear();
    query.answerInstant = best.arrived;
    query.AnswerTime = platform::AddSeconds(platform::UtcDateTime(best.arrived), offset);
    query.serverInstant = best.arrived + best.offset;
    query.ServerTime = platform::AddSeconds(platform::UtcDateTime(query.serverInstant), offset);
    query.namedInstant = {query.serverInstant.seconds, 0};
    query.onTimeAdvance.reset();
    query.connectInstant = best.sent;
    query.connectedInstant = best.sent;
    query.handshakeRetried = false;
    query.roundTripUnknown = false;
    // The answer's time lies somewhere on its way back: within half the
    // round trip of where it is taken to be.
    query.bound = Half(best.delay);
    query.answers = static_cast<int>(exchange.samples.size());
    query.ntpStratum = best.stratum;
    query.TimeError.clear();
    query.timeFailure.reset();
}

}  // namespace

bool GetNtpTime(App& app, const std::string& host, TimeQueryState& query)
{
    platform::Clock& clock = app.platform.clock;
    query.answers = 0;
    query.measureNote.clear();
    query.ntpStratum = 0;
    query.TimeError.clear();
    query.timeFailure.reset();
    query.WaitingForAnswer = true;

    NtpExchange exchange(app, query);
    DatagramClosedAtEnd closed(app.platform.datagram);
    app.platform.datagram.Open(host, NtpPort, exchange.Callback());
    WaitFor(app, clock.MonotonicSeconds() + kNtpLookupTimeoutSeconds,
            [&] { return exchange.ready || exchange.Over(); });

    const double spacing = IsNistServer(host) ? kNistQuerySpacingSeconds : kNtpQuerySpacingSeconds;
    const auto wanted = static_cast<std::size_t>(WantsPrecision(app.settings) ? kNtpQueries : 1);
    const bool lookupTimedOut = !exchange.ready && !exchange.Over();
    if (exchange.ready) {
        auto enough = [&] { return exchange.Over() || exchange.samples.size() >= wanted; };
        for (int request = 0; request < kNtpQueries; ++request) {
            // Answers to the earlier requests still count meanwhile.
            if (request > 0)
                WaitFor(app, query.lastConnectSeconds + spacing, enough);
            if (enough() || !exchange.SendRequest())
                break;
        }
        WaitFor(app, query.lastConnectSeconds + kNtpLastAnswerWaitSeconds,
                [&] { return enough() || exchange.AllAnswered(); });
    }
    query.WaitingForAnswer = false;

    if (!exchange.kiss.empty())
        WriteLog(app,
                 "WARNING: the NTP server " + host + " sent " + exchange.kiss + ": it is not asked again in this run");
    if (!exchange.unsynchronised.empty()) {
        query.TimeError = "NTP server is not synchronised: " + exchange.unsynchronised;
        return false;
    }
    if (!exchange.samples.empty() && !app.flags.UserCancelled) {
        KeepSample(app, query, exchange);
        return true;
    }
    if (exchange.failure) {
        query.TimeError = SocketErrorText(*exchange.failure);
        if (!exchange.failure->description.empty())
            query.timeFailure = exchange.failure->failure;
    } else if (app.flags.UserCancelled) {
        query.TimeError = "User cancelled";
    } else if (!exchange.kiss.empty()) {
        query.TimeError = "NTP server refused the time: " + exchange.kiss;
    } else if (lookupTimedOut) {
        query.TimeError = "Connection timed out";
        query.timeFailure = platform::SocketFailure::TimedOut;
    } else {
        query.TimeError = "NTP server did not answer" + DroppedNote(exchange);
        query.timeFailure = platform::SocketFailure::TimedOut;
    }
    return false;
}

}  // namespace vel
