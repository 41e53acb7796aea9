#include "support/daytime_peer.h"

#include <cmath>
#include <cstdio>

namespace vel::test {

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kUpperMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const kWeekdays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // 1970-01-01 was a Thursday

platform::Span SpanOfSeconds(double seconds)
{
    const double whole = std::floor(seconds);
    return platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((seconds - whole) * 1e9));
}

}  // namespace

DaytimePeer::DaytimePeer(VirtualClock& clock, VirtualPump& pump, FakeSocket& socket) : clock_(clock), pump_(pump)
{
    PcAheadBy(0);
    socket.onConnect = [this](FakeSocket& peer, int attempt) {
        connectTimes.push_back(clock_.MonotonicSeconds());
        auto current = [&peer, attempt] { return peer.connects == attempt; };
        if (refuseFrom > 0 && attempt >= refuseFrom) {
            pump_.After(outbound + transit, [&peer, current] {
                if (current())
                    peer.DeliverError(platform::SocketFailure::Refused, "Connection refused");
            });
            return;
        }
        const int lost = synsLost.count(attempt) ? synsLost.at(attempt) : 0;
        const double retry = (1 << lost) - 1;
        const double out = outbound + (slowWayOut.count(attempt) ? slowWayOut.at(attempt) : 0);
        pump_.After(retry + out + transit, [&peer, current, lost] {
            if (current())
                peer.DeliverConnected(lost > 0);
        });
        if (silentFrom > 0 && attempt >= silentFrom)
            return;
        const double lie = lieFrom > 0 && attempt >= lieFrom ? lieBy : 0;
        pump_.After(retry + 2 * out + transit, [this, &peer, current, lie] {
            const platform::Instant now = TrueTime() + SpanOfSeconds(lie);
            // The second the line names, and how long before it is sent.
            platform::Instant named{now.seconds, 0};
            double wait = 0;
            if (layout == Layout::NistOnTime) {
                // Sent when the next second less msADV comes (this one, if that is still ahead).
                const double intoSecond = now.nanoseconds / 1e9;
                named.seconds += intoSecond <= 1.0 - advance ? 1 : 2;
                wait = platform::ToDouble(named - now) - advance;
            }
            const std::string line = Line(named);
            pump_.After(wait + transit, [&peer, current, line] {
                if (current())
                    peer.DeliverData(line);
            });
        });
    };
}

void DaytimePeer::PcAheadBy(double seconds)
{
    trueAtZero_ = clock_.NowUtc() - SpanOfSeconds(seconds) - SpanOfSeconds(clock_.MonotonicSeconds());
}

platform::Instant DaytimePeer::TrueTime() const
{
    return trueAtZero_ + SpanOfSeconds(clock_.MonotonicSeconds());
}

std::string DaytimePeer::Line(const platform::Instant& second) const
{
    const platform::LocalDateTime t = platform::UtcDateTime(second);
    const std::int64_t days = second.seconds >= 0 ? second.seconds / 86400 : -((-second.seconds + 86399) / 86400);
    char text[128];
    switch (layout) {
        case Layout::NistOnTime:
        case Layout::NistLike:
            std::snprintf(text, sizeof text, "\n%05lld %02d-%02d-%02d %02d:%02d:%02d 00 0 %d %5.1f%s\n",
                          static_cast<long long>(days + 40587), t.year % 100, t.month, t.day, t.hour, t.minute,
                          t.second, health, advance * 1000, layout == Layout::NistOnTime ? " UTC(NIST) * " : "");
            break;
        case Layout::Short:
            std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04d\r\n", kWeekdays[((days % 7) + 7) % 7],
                          kMonths[t.month - 1], t.day, t.hour, t.minute, t.second, t.year);
            break;
        case Layout::Xinetd:
            std::snprintf(text, sizeof text, "%02d %s %04d %02d:%02d:%02d UTC\r\n", t.day, kUpperMonths[t.month - 1],
                          t.year, t.hour, t.minute, t.second);
            break;
    }
    return text;
}

}  // namespace vel::test
