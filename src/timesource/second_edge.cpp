#include "timesource/second_edge.h"

#include <algorithm>
#include <cmath>

namespace vel {

namespace {

constexpr double kReadingAllowance = 0.002;

}  // namespace

double EdgeAllowance(const std::vector<EdgeAnswer>& answers)
{
    if (answers.empty())
        return kReadingAllowance;
    const auto [shortest, longest] =
        std::minmax_element(answers.begin(), answers.end(),
                            [](const EdgeAnswer& a, const EdgeAnswer& b) { return a.roundTrip < b.roundTrip; });
    return kReadingAllowance + (longest->roundTrip - shortest->roundTrip) / 2;
}

std::optional<OffsetInterval> AllowedOffsets(const std::vector<EdgeAnswer>& answers)
{
    if (answers.empty())
        return std::nullopt;
    const double allowance = EdgeAllowance(answers);
    OffsetInterval allowed{-HUGE_VAL, HUGE_VAL};
    for (const EdgeAnswer& answer : answers) {
        // Read at `reading` on the PC clock, somewhere in [named, named + 1)
        // on the server's.
        const double reading = answer.arrival - answer.roundTrip / 2;
        allowed.low = std::max(allowed.low, reading - answer.named - 1 - allowance);
        allowed.high = std::min(allowed.high, reading - answer.named + allowance);
    }
    if (allowed.low > allowed.high)
        return std::nullopt;
    return allowed;
}

double NextConnectTime(const OffsetInterval& allowed, const EdgeAnswer& latest, double earliest)
{
    // With offset m, the server's second k begins at PC time k + m. The
    // reading comes `lead` after the connect begins.
    const double lead = std::max(0.0, latest.arrival - latest.roundTrip / 2 - latest.connecting);
    const double middle = allowed.Middle();
    const double k = std::ceil(earliest + lead - middle);
    return std::max(earliest, k + middle - lead);
}

bool WorthAnotherAnswer(const OffsetInterval& allowed, const std::vector<EdgeAnswer>& answers)
{
    return static_cast<int>(answers.size()) < kEdgeMostAnswers && allowed.Width() > 4 * EdgeAllowance(answers);
}

}  // namespace vel
