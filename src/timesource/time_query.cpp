#include "timesource/time_query.h"

#include <algorithm>

#include "app/app.h"
#include "common/wait.h"
#include "log/log.h"
#include "timesource/time_servers.h"
#include "timesource/time_source.h"

namespace vel {

namespace {

// A Daytime query that found nobody listening on TCP 13: refused, silent on
// every attempt, or stopped on its way there.
bool DaytimePortSilent(const TimeQueryState& query)
{
    using platform::SocketFailure;
    if (query.TimeError == "Connection timed out")
        return true;
    if (!query.timeFailure)
        return false;
    switch (*query.timeFailure) {
        case SocketFailure::Refused:
        case SocketFailure::TimedOut:
        case SocketFailure::HostUnreachable:
        case SocketFailure::Reset:
            return true;
        default:
            return false;
    }
}

// NIST refuses a client that asks one of its servers more often than once
// every 4 seconds, whatever the protocol: a NIST server asked over Daytime
// waits that long before it is asked over NTP.
void KeepNistSpacing(App& app, const std::string& host)
{
    if (!IsNistServer(host))
        return;
    platform::Clock& clock = app.platform.clock;
    const double until = app.query.lastConnectSeconds + kNistQuerySpacingSeconds;
    while (!app.flags.UserCancelled && clock.MonotonicSeconds() < until)
        WaitSeconds(app.platform.pump, clock, static_cast<float>(until - clock.MonotonicSeconds()));
}

bool Ask(App& app, TimeProtocol protocol, const std::string& host)
{
    TimeQueryState& query = app.query;
    query.host = host;
    query.ntpStratum = 0;
    query.source = nullptr;
    const TimeSource& source = SourceOf(protocol);
    bool answered = source.Ask(app, host, query);
    if (answered)
        query.source = &source;
    // A bare host that does not answer on TCP 13: the same host over NTP.
    if (protocol == TimeProtocol::Unnamed && !answered && !app.flags.UserCancelled && WantsNtpFallback(app.settings) &&
        DaytimePortSilent(query)) {
        const std::string daytimeError = query.TimeError;
        WriteLog(app, kAskedOverNtpText);
        KeepNistSpacing(app, host);
        answered = NtpSource().Ask(app, host, query);
        if (answered)
            query.source = &NtpSource();
        else if (!app.flags.UserCancelled)
            query.TimeError = daytimeError + "; over NTP: " + query.TimeError;
    }
    // NIST refuses a client that asks one of its servers more often than
    // once every 4 seconds, whatever the answer looked like.
    if (answered && IsNistServer(host))
        query.askAgainAfterSeconds = std::max(query.askAgainAfterSeconds, kNistQuerySpacingSeconds);
    if (!answered)
        query.ServerTime = {};
    return answered;
}

}  // namespace

const TimeSource& SourceOf(TimeProtocol protocol)
{
    switch (protocol) {
        case TimeProtocol::Ntp:
            return NtpSource();
        case TimeProtocol::Https:
            return HttpsSource();
        case TimeProtocol::Daytime:
        case TimeProtocol::Unnamed:
            break;
    }
    return DaytimeSource();
}

bool RefineServerTime(App& app)
{
    TimeQueryState& query = app.query;
    return query.source == nullptr || query.source->Refine(app, query.host, query);
}

bool WantsNtpFallback(const Settings& settings)
{
    return SaysYes<&Settings::NTPFallback>(settings);
}

bool GetServerTime(App& app)
{
    const ServerEntry entry = ReadServerEntry(app.settings.NTPServer);
    std::string host = entry.host;
    // A lapsed domain may be anyone's now: it is never asked.
    if (const std::string why = WhyRetired(host); !why.empty()) {
        WriteLog(app, "WARNING: the server " + host + " no longer serves the time (" + why + "); asking " +
                          kFallbackServerHost + " instead");
        host = kFallbackServerHost;
    }
    if (Ask(app, entry.protocol, host))
        return true;
    // A host of the program's own lists that can no longer be found.
    if (app.query.timeFailure == platform::SocketFailure::HostNotFound && IsListedServer(host) &&
        host != kFallbackServerHost && !app.flags.UserCancelled) {
        WriteLog(app, "WARNING: the server " + host + " was not found (" + app.query.TimeError + "); asking " +
                          kFallbackServerHost + " instead");
        return Ask(app, entry.protocol, kFallbackServerHost);
    }
    return false;
}

}  // namespace vel
