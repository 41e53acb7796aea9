#include "support/sntp_peer.h"

#include <cmath>

namespace vel::test {

namespace {

platform::Span SpanOfSeconds(double seconds)
{
    const double whole = std::floor(seconds);
    return platform::MakeSpan(static_cast<std::int64_t>(whole), std::llround((seconds - whole) * 1e9));
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

// Written out here on purpose, not with the codec under test.
void PutTime(std::string& bytes, std::size_t at, const platform::Instant& t)
{
    Put32(bytes, at, static_cast<std::uint32_t>(static_cast<std::uint64_t>(t.seconds + 2208988800LL)));
    Put32(bytes, at + 4, static_cast<std::uint32_t>((static_cast<std::uint64_t>(t.nanoseconds) << 32) / 1000000000));
}

}  // namespace

SntpPeer::SntpPeer(VirtualClock& clock, VirtualPump& pump, FakeDatagramSocket& socket) : clock_(clock), pump_(pump)
{
    PcAheadBy(0);
    socket.onSend = [this](FakeDatagramSocket& peer, const std::string& request) {
        requestTimes.push_back(clock_.MonotonicSeconds());
        const int number = static_cast<int>(requestTimes.size());
        const int opened = peer.opens;
        auto current = [&peer, opened] { return peer.open && peer.opens == opened; };
        if (refuse) {
            pump_.Post([&peer, current] {
                if (current())
                    peer.DeliverError(platform::SocketFailure::Refused, "Connection refused");
            });
            return;
        }
        const Answer how = answerOf ? answerOf(number) : answer;
        if (how.kind == Kind::Silent)
            return;
        pump_.After(how.outbound >= 0 ? how.outbound : outbound, [this, &peer, current, request, how] {
            const platform::Instant received = TrueTime();
            pump_.After(processing, [this, &peer, current, request, how, received] {
                received_ = received;
                const std::string reply = Reply(request, how);
                pump_.After(transit, [&peer, current, reply, how] {
                    if (!current())
                        return;
                    peer.DeliverDatagram(reply);
                    if (how.kind == Kind::TwoCopies)
                        peer.DeliverDatagram(reply);
                });
            });
        });
    };
}

void SntpPeer::PcAheadBy(double seconds)
{
    trueAtZero_ = clock_.NowUtc() - SpanOfSeconds(seconds) - SpanOfSeconds(clock_.MonotonicSeconds());
}

platform::Instant SntpPeer::TrueTime() const
{
    return trueAtZero_ + SpanOfSeconds(clock_.MonotonicSeconds());
}

std::string SntpPeer::Reply(const std::string& request, const Answer& how) const
{
    std::string bytes(48, '\0');
    bytes[0] = static_cast<char>((how.leap << 6) | (how.version << 3) | how.mode);
    bytes[1] = static_cast<char>(how.kind == Kind::Kiss ? 0 : how.stratum);
    bytes[3] = static_cast<char>(-20);  // about a microsecond
    Put32(bytes, 4, 0x00000100);        // root delay: 4 ms
    Put32(bytes, 8, 0x00000100);        // root dispersion: 4 ms
    if (how.kind == Kind::Kiss) {
        std::string code = how.kissCode;
        code.resize(4, '\0');
        bytes.replace(12, 4, code);
    } else {
        bytes.replace(12, 4, "LOCL");
    }
    PutTime(bytes, 16, received_);
    // The request's transmit time, echoed (or not).
    if (request.size() >= 48)
        bytes.replace(24, 8, request.substr(40, 8));
    if (how.kind == Kind::Spoofed)
        bytes[31] = static_cast<char>(bytes[31] ^ 0x01);
    PutTime(bytes, 32, received_);
    PutTime(bytes, 40, TrueTime());
    if (how.kind == Kind::Short)
        bytes.resize(47);
    if (how.kind == Kind::Long)
        bytes.push_back('\0');
    return bytes;
}

}  // namespace vel::test
