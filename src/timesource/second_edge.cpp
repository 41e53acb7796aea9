#include "timesource/second_edge.h"

#include <algorithm>
#include <cmath>

namespace vel {

namespace {

// Where the server's clock stood when it read it (or sent an on-time line),
// from the second the answer names.
double ServerReading(const EdgeAnswer& answer)
{
    return answer.onTimeAdvance ? answer.named - *answer.onTimeAdvance : answer.named;
}

// An answer sent at once was read somewhere within the second it named; an
// on-time line was sent at its moment.
double SecondLength(const EdgeAnswer& answer)
{
    return answer.onTimeAdvance ? 0.0 : 1.0;
}

std::optional<OffsetInterval> Overlap(const OffsetInterval& a, const OffsetInterval& b)
{
    const OffsetInterval both{std::max(a.low, b.low), std::min(a.high, b.high)};
    if (both.low > both.high)
        return std::nullopt;
    return both;
}

}  // namespace

std::optional<double> PathRoundTrip(const EdgeAnswer& answer)
{
    if (answer.requestOnly)
        return answer.arrival - answer.connected;
    if (!answer.handshakeRetried)
        return answer.connected - answer.connecting;
    if (!answer.onTimeAdvance)
        return answer.arrival - answer.connected;
    return std::nullopt;
}

OffsetInterval AnswerBounds(const EdgeAnswer& answer)
{
    // The PC's time of the server's reading lies in [earliest, arrival].
    double earliest = answer.connected;
    if (answer.onTimeAdvance && !answer.handshakeRetried)
        earliest = std::max(earliest, answer.arrival - (answer.connected - answer.connecting));
    const double server = ServerReading(answer);
    return {earliest - server - SecondLength(answer) - kReadingAllowance, answer.arrival - server + kReadingAllowance};
}

std::optional<OffsetInterval> AnswerEstimate(const EdgeAnswer& answer, double allowance)
{
    const std::optional<double> trip = PathRoundTrip(answer);
    if (!trip)
        return std::nullopt;
    const double reading = answer.arrival - *trip / 2;
    const double server = ServerReading(answer);
    return OffsetInterval{reading - server - SecondLength(answer) - allowance, reading - server + allowance};
}

double EdgeAllowance(const EdgeAnswer& answer, const std::vector<EdgeAnswer>& answers)
{
    const std::optional<double> trip = PathRoundTrip(answer);
    if (!trip)
        return kReadingAllowance;
    double shortest = *trip;
    for (const EdgeAnswer& other : answers)
        if (const std::optional<double> otherTrip = PathRoundTrip(other))
            shortest = std::min(shortest, *otherTrip);
    return kReadingAllowance + (*trip - shortest) / 2;
}

std::optional<OffsetMeasurement> MeasureOffset(const std::vector<EdgeAnswer>& answers)
{
    if (answers.empty())
        return std::nullopt;
    OffsetMeasurement measured;
    measured.bounds = AnswerBounds(answers.front());
    for (const EdgeAnswer& answer : answers) {
        const auto bounds = Overlap(measured.bounds, AnswerBounds(answer));
        if (!bounds)
            return std::nullopt;
        measured.bounds = *bounds;
        const auto estimate = AnswerEstimate(answer, EdgeAllowance(answer, answers));
        if (!estimate)
            continue;
        if (measured.estimate) {
            measured.estimate = Overlap(*measured.estimate, *estimate);
            if (!measured.estimate)
                return std::nullopt;
        } else {
            measured.estimate = estimate;
        }
    }
    const EdgeAnswer& first = answers.front();
    const double guess = measured.estimate ? measured.estimate->Middle()
                                           : first.arrival - ServerReading(first) - SecondLength(first) / 2;
    measured.offset = std::clamp(guess, measured.bounds.low, measured.bounds.high);
    measured.bound = std::max(measured.offset - measured.bounds.low, measured.bounds.high - measured.offset);
    return measured;
}

double ExpectedAnswerSeconds(const EdgeAnswer& latest)
{
    if (latest.requestOnly)
        return latest.arrival - latest.connected;
    const double handshake =
        latest.handshakeRetried ? PathRoundTrip(latest).value_or(0.0) : latest.connected - latest.connecting;
    return handshake + latest.arrival - latest.connected;
}

double NextConnectTime(const OffsetMeasurement& measured, const EdgeAnswer& latest, double earliest)
{
    if (!measured.estimate || latest.onTimeAdvance)
        return earliest;
    // With offset m, the server's second k begins at PC time k + m. The
    // reading comes `lead` after the connect begins.
    const double lead = std::max(0.0, ExpectedAnswerSeconds(latest) - PathRoundTrip(latest).value_or(0.0) / 2);
    const double middle = measured.estimate->Middle();
    const double k = std::ceil(earliest + lead - middle);
    return std::max(earliest, k + middle - lead);
}

bool WorthAnotherAnswer(const OffsetMeasurement& measured, const std::vector<EdgeAnswer>& answers)
{
    if (answers.empty() || static_cast<int>(answers.size()) >= kEdgeMostAnswers)
        return false;
    return !measured.estimate || measured.estimate->Width() > 4 * kReadingAllowance;
}

}  // namespace vel
