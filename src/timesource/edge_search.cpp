#include "timesource/edge_search.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "app/app.h"
#include "status/countdown.h"
#include "timesource/daytime_client.h"

namespace vel {

double SecondsOf(const platform::Span& span)
{
    return platform::ToDouble(span);
}

platform::Span SpanOfSeconds(double seconds)
{
    const double whole = std::floor(seconds);
    return platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((seconds - whole) * 1e9));
}

bool WaitUntil(App& app, double until)
{
    platform::Clock& clock = app.platform.clock;
    platform::EventPump& pump = app.platform.pump;
    while (!app.flags.UserCancelled) {
        if (clock.MonotonicSeconds() >= until)
            return true;
        pump.DoEvents();
        const double left = until - clock.MonotonicSeconds();
        if (!app.flags.UserCancelled && left > 0)
            pump.WaitForEvents(left);
    }
    return false;
}

void TakeMeasurement(TimeQueryState& query, const OffsetMeasurement& measured, int answers)
{
    query.serverInstant = query.namedInstant - SpanOfSeconds(measured.offset);
    query.bound = SpanOfSeconds(measured.bound);
    query.answers = answers;
    query.roundTripUnknown = !measured.estimate;
}

bool SearchSecondEdge(App& app, TimeQueryState& query, const EdgeAnswer& first, const AskOnce& ask)
{
    platform::Clock& clock = app.platform.clock;
    // PC times from the first answer's arrival, server times from the second
    // it named: the offsets found are PC minus server less their difference.
    const platform::Instant pcOrigin = query.answerInstant;
    auto pcTime = [&](const platform::Instant& t) { return SecondsOf(t - pcOrigin); };
    std::vector<EdgeAnswer> answers{first};
    OffsetMeasurement measured = *MeasureOffset(answers);
    if (!WorthAnotherAnswer(measured, answers))
        return true;

    const double spacing = query.askAgainAfterSeconds;
    const double limit = clock.MonotonicSeconds() + kEdgeTimeLimitSeconds;
    ShowCountdown(app, "", kMeasuringText, 0, "", "");
    while (WorthAnotherAnswer(measured, answers)) {
        const double now = clock.MonotonicSeconds();
        const double pcNow = pcTime(clock.Read().utc);
        const double earliest = pcNow + std::max(0.0, query.lastConnectSeconds + spacing - now);
        const double start = now + NextConnectTime(measured, answers.back(), earliest) - pcNow;
        if (start + ExpectedAnswerSeconds(answers.back()) > limit)
            break;
        if (!WaitUntil(app, start))
            return false;
        const FurtherAnswer later = ask(std::min(limit, start + kDaytimeTimeoutSeconds));
        if (app.flags.UserCancelled)
            return false;
        if (!later.answer) {
            query.measureNote = "no further answer: " + later.error;
            break;
        }
        answers.push_back(*later.answer);
        const std::optional<OffsetMeasurement> narrower = MeasureOffset(answers);
        if (!narrower) {
            // The answers contradict each other: the first one stands alone,
            // as the first question measured it.
            query.measureNote = "the server's later answers contradicted it";
            return true;
        }
        measured = *narrower;
    }
    if (answers.size() > 1)
        TakeMeasurement(query, measured, static_cast<int>(answers.size()));
    return true;
}

}  // namespace vel
