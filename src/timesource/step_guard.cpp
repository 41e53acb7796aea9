#include "timesource/step_guard.h"

#include <algorithm>
#include <optional>

#include "app/app.h"
#include "common/text.h"
#include "log/log.h"
#include "settings/config_form.h"
#include "status/countdown.h"
#include "status/status_window.h"
#include "timesource/clock_correction.h"
#include "timesource/daytime_client.h"
#include "timesource/https_constraint.h"
#include "timesource/https_source.h"
#include "timesource/time_servers.h"

namespace vel {

namespace {

using platform::Span;

Span HalfOf(const Span& span)
{
    // Floor division of the seconds; an odd second gives half a second.
    const std::int64_t seconds = span.seconds >= 0 ? span.seconds / 2 : -((-span.seconds + 1) / 2);
    const std::int64_t oddHalf = (span.seconds - 2 * seconds) * 500000000;
    return platform::MakeSpan(seconds, oddHalf + span.nanoseconds / 2);
}

// Tenths of a second: to the nearest, or up.
std::int64_t TenthsNearest(const Span& span)
{
    return span.seconds * 10 + (span.nanoseconds + 50000000) / 100000000;
}
std::int64_t TenthsUp(const Span& span)
{
    return span.seconds * 10 + (span.nanoseconds + 99999999) / 100000000;
}

// 1 to 65535 in decimal digits.
std::optional<int> PortNumber(std::string_view text)
{
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

std::string TenthsText(std::int64_t tenths)
{
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// "3 days", and "0 seconds" for none.
std::string DurationText(std::int64_t seconds)
{
    const std::string text = FormatLongDuration(seconds < 0 ? -seconds : seconds);
    return text.empty() ? "0 seconds" : text;
}

std::string Joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

// The range the run's own answer gives: its estimate, and its bound either way.
OffsetRange AnswerRange(const TimeQueryState& query)
{
    const Span offset = query.answerInstant - query.serverInstant;
    return {offset - query.bound, offset + query.bound};
}

bool InWindowRun(App& app)
{
    return app.platform.windows.interactive && !app.options.noUpdate && frmVEL(app).Form().IsVisible();
}

void Cancelled(App& app)
{
    WriteLog(app, "system clock not corrected - user cancelled");
    app.exitStatus = ExitStatus::Cancelled;
}

// The step is not made: the reason in the log, briefly in the window.
void NotCorrected(App& app, const std::string& reason)
{
    WriteLog(app, "WARNING: system clock not corrected - " + reason);
    app.exitStatus = ExitStatus::Unconfirmed;
    ShowCountdown(app, kNotConfirmedText, "Program will exit in ", CorrectionCountdown, kExitCountdownSuffix, "&Quit");
}

// The HTTPS servers' part. Logs a line for each; `asked` gets a short note
// of each for the summary.
ConstraintVerdict AskHttpsServers(App& app, const OffsetRange& answer, std::vector<std::string>& asked)
{
    const std::vector<Constraint> constraints = AskConstraints(app, HttpsServersOf(app.settings));
    if (app.flags.UserCancelled)
        return ConstraintVerdict::None;
    std::vector<OffsetRange> ranges;
    for (const Constraint& constraint : constraints) {
        const std::string name = ServerName(constraint.server, kHttpsPort);
        if (!constraint.usable) {
            WriteLog(app, "HTTPS Date of " + name + " not used: " + constraint.note);
            asked.push_back(name + " (no answer)");
            continue;
        }
        if (!constraint.note.empty())
            WriteLog(app, "HTTPS Date of " + name + ": " + constraint.note);
        const bool agrees = Agree(answer, constraint.range);
        WriteLog(app, "HTTPS Date of " + name + " puts the PC clock " + DescribeOffsetRange(constraint.range) + ": " +
                          (agrees ? "agrees" : "disagrees"));
        asked.push_back(name + (agrees ? " (agrees)" : " (disagrees)"));
        ranges.push_back(constraint.range);
    }
    return JudgeByConstraints(answer, ranges);
}

// Other Daytime servers, one at a time, until one agrees. True when one did.
bool AskSecondServers(App& app, const OffsetRange& answer, std::vector<std::string>& asked)
{
    platform::Clock& clock = app.platform.clock;
    const double end = clock.MonotonicSeconds() + kSecondOpinionSeconds;
    int answers = 0;
    for (const HostPort& server : SecondServersOf(app.settings)) {
        const double now = clock.MonotonicSeconds();
        if (answers >= kMostSecondOpinions || now >= end || app.flags.UserCancelled)
            break;
        const std::string name = ServerName(server, DaytimePort);
        const OtherServerAnswer other =
            AskOtherServer(app, server.host, server.port, std::min(end, now + kDaytimeTimeoutSeconds));
        if (app.flags.UserCancelled)
            return false;
        if (!other.error.empty()) {
            WriteLog(app, "second opinion of " + name + " not used: " + other.error);
            asked.push_back(name + " (no answer)");
            continue;
        }
        // Another name for the same machine is no second opinion.
        if (!other.address.empty() && other.address == app.query.serverAddress) {
            WriteLog(app,
                     "second opinion of " + name + " not used: it is the time server itself (" + other.address + ")");
            asked.push_back(name + " (the same server)");
            continue;
        }
        ++answers;
        const Span offset = other.arrival - other.serverInstant;
        const OffsetRange range{offset - other.bound, offset + other.bound};
        const bool agrees = Agree(answer, range);
        const std::string where =
            other.address.empty() || other.address == server.host ? "" : " (" + other.address + ")";
        WriteLog(app, "second opinion of " + name + where + " puts the PC clock " + DescribeOffsetRange(range) + ": " +
                          (agrees ? "agrees" : "disagrees"));
        asked.push_back(name + (agrees ? " (agrees)" : " (disagrees)"));
        if (agrees)
            return true;
    }
    return false;
}

// No source confirmed the step: a person who watches decides; otherwise
// it is not made.
bool AskUserOrRefuse(App& app, std::int64_t difference, const std::vector<std::string>& asked)
{
    const std::string size = DurationText(difference);
    const std::string sources =
        asked.empty() ? std::string("no second source is configured") : "asked: " + Joined(asked);
    if (InWindowRun(app)) {
        const std::string question = "The time server says the PC clock is " + size +
                                     (difference > 0 ? " ahead" : " behind") + ", and no second source agreed (" +
                                     sources + ").\n\nSet the clock all the same?";
        const platform::MessageResult answer = app.platform.windows.ShowMessageBox(
            question, "Veltrane", platform::MessageButtons::YesNo, platform::MessageIcon::Question);
        if (answer == platform::MessageResult::Yes) {
            WriteLog(app, "the user confirmed the step of " + size);
            return true;
        }
        NotCorrected(app,
                     "no second source agreed with a step of " + size + ", and the user answered No (" + sources + ")");
        return false;
    }
    NotCorrected(app, "no second source agreed with a step of " + size + " (" + sources + ")");
    return false;
}

}  // namespace

Span Distance(const OffsetRange& a, const OffsetRange& b)
{
    if (a.high < b.low)
        return b.low - a.high;
    if (b.high < a.low)
        return a.low - b.high;
    return {};
}

bool Agree(const OffsetRange& a, const OffsetRange& b)
{
    return Distance(a, b) <= platform::Seconds(kAgreementSeconds);
}

ConstraintVerdict JudgeByConstraints(const OffsetRange& answer, const std::vector<OffsetRange>& constraints)
{
    if (constraints.empty())
        return ConstraintVerdict::None;
    const auto agreeing = static_cast<std::size_t>(std::count_if(
        constraints.begin(), constraints.end(), [&](const OffsetRange& range) { return Agree(answer, range); }));
    if (agreeing == 0)
        return ConstraintVerdict::Lie;
    return 2 * agreeing > constraints.size() ? ConstraintVerdict::Confirmed : ConstraintVerdict::Undecided;
}

HttpsCheck HttpsCheckOf(const Settings& settings)
{
    if (settings.HTTPSCheck == "N")
        return HttpsCheck::Never;
    if (ToUpper(settings.HTTPSCheck) == "ALWAYS")
        return HttpsCheck::Always;
    return HttpsCheck::OverLimit;
}

std::vector<HostPort> ParseHostList(std::string_view text, int defaultPort)
{
    std::vector<HostPort> hosts;
    std::size_t at = 0;
    auto separator = [](char c) { return c == ',' || c == ' ' || c == '\t'; };
    while (at < text.size()) {
        while (at < text.size() && separator(text[at]))
            ++at;
        std::size_t end = at;
        while (end < text.size() && !separator(text[end]))
            ++end;
        const std::string_view entry = text.substr(at, end - at);
        at = end;
        if (entry.empty())
            continue;
        HostPort host{std::string(entry), defaultPort};
        std::optional<std::string_view> port;
        if (entry.front() == '[') {
            // "[2001:db8::1]" or "[2001:db8::1]:8443"
            const std::size_t close = entry.find(']');
            if (close == std::string_view::npos)
                continue;
            host.host = std::string(entry.substr(1, close - 1));
            const std::string_view rest = entry.substr(close + 1);
            if (!rest.empty() && rest.front() != ':')
                continue;
            if (!rest.empty())
                port = rest.substr(1);
        } else if (std::count(entry.begin(), entry.end(), ':') == 1) {
            // One colon: a port. More: an IPv6 address written bare.
            const std::size_t colon = entry.find(':');
            host.host = std::string(entry.substr(0, colon));
            port = entry.substr(colon + 1);
        }
        if (port) {
            const std::optional<int> number = PortNumber(*port);
            if (!number)
                continue;
            host.port = *number;
        }
        if (host.host.empty())
            continue;
        hosts.push_back(std::move(host));
    }
    return hosts;
}

std::vector<HostPort> HttpsServersOf(const Settings& settings)
{
    std::vector<HostPort> servers =
        ParseHostList(IsBlank(settings.HTTPSServers) ? kDefaultHTTPSServers : settings.HTTPSServers, kHttpsPort);
    // A time server asked over HTTPS is no second opinion on itself.
    const ServerEntry entry = ReadServerEntry(settings.NTPServer);
    if (entry.protocol == TimeProtocol::Https) {
        const std::vector<HostPort> own = ParseHostList(entry.host, kHttpsPort);
        const std::string host = ToLower(own.size() == 1 ? own.front().host : entry.host);
        std::erase_if(servers, [&](const HostPort& server) { return ToLower(server.host) == host; });
    }
    return servers;
}

std::vector<HostPort> SecondServersOf(const Settings& settings)
{
    if (settings.SecondServers == "N")
        return {};
    std::vector<HostPort> servers;
    if (IsBlank(settings.SecondServers)) {
        for (const std::string_view entry : kTimeServers)
            servers.push_back({ServerHost(std::string(entry)), DaytimePort});
    } else {
        servers = ParseHostList(settings.SecondServers, DaytimePort);
    }
    // The time server's own host is no second opinion.
    const std::string own = ToLower(ReadServerEntry(settings.NTPServer).host);
    std::erase_if(servers, [&](const HostPort& server) { return ToLower(server.host) == own; });
    return servers;
}

std::string DescribeOffsetRange(const OffsetRange& range)
{
    const Span middle = HalfOf(range.low + range.high);
    const std::int64_t tenths = TenthsNearest(middle < Span{} ? -middle : middle);
    const std::int64_t halfWidth = TenthsUp(HalfOf(range.high - range.low));
    return TenthsText(tenths) + " s " + (middle < Span{} ? "behind" : "ahead") + " (± " + TenthsText(halfWidth) + " s)";
}

bool GuardStep(App& app, std::int64_t difference)
{
    const Settings& settings = app.settings;
    const std::int64_t magnitude = difference < 0 ? -difference : difference;
    const bool overLimit = magnitude > settings.StepLimit;
    const HttpsCheck check = HttpsCheckOf(settings);
    const bool askHttps = check == HttpsCheck::Always || (check == HttpsCheck::OverLimit && overLimit);
    if (!overLimit && !askHttps)
        return true;

    if (overLimit)
        WriteLog(app, "the step of " + DurationText(magnitude) + " is larger than the step limit of " +
                          DurationText(settings.StepLimit) + ": a second source must agree");
    ShowCountdown(app, "", kCheckingText, 0, "", "");
    const OffsetRange answer = AnswerRange(app.query);
    std::vector<std::string> asked;

    if (askHttps) {
        const ConstraintVerdict verdict = AskHttpsServers(app, answer, asked);
        if (app.flags.UserCancelled) {
            Cancelled(app);
            return false;
        }
        if (verdict == ConstraintVerdict::Lie) {
            NotCorrected(app, "the time server's answer lies outside every HTTPS Date: it is not used");
            return false;
        }
        if (!overLimit || verdict == ConstraintVerdict::Confirmed)
            return true;
    }
    if (AskSecondServers(app, answer, asked))
        return true;
    if (app.flags.UserCancelled) {
        Cancelled(app);
        return false;
    }
    return AskUserOrRefuse(app, difference, asked);
}

}  // namespace vel
