#include "timesource/sntp_packet.h"

#include <algorithm>
#include <cmath>

namespace vel {

namespace {

// 1900-01-01 to 1970-01-01, in seconds.
constexpr std::int64_t kNtpToUnixSeconds = 2208988800LL;
constexpr std::int64_t kEraSeconds = std::int64_t{1} << 32;
constexpr std::int64_t kBillion = 1000000000;

constexpr int kClientMode = 3;
constexpr int kServerMode = 4;
constexpr int kOurVersion = 4;

std::uint32_t Word(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

NtpTimestamp TimestampAt(std::string_view bytes, std::size_t at)
{
    return {Word(bytes, at), Word(bytes, at + 4)};
}

void PutWord(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

std::int64_t Nanoseconds(const platform::Span& span)
{
    return span.seconds * kBillion + span.nanoseconds;
}

// The kiss code's four letters as a log may show them: up to the first NUL,
// trailing blanks dropped, anything else unprintable escaped.
std::string KissText(std::uint32_t referenceId)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<unsigned char>((referenceId >> shift) & 0xFF);
        if (byte == 0)
            break;
        if (byte >= 0x20 && byte <= 0x7E && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            text += "\\x";
            text += kHex[byte >> 4];
            text += kHex[byte & 0x0F];
        }
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

NtpCheck Verdict(NtpVerdict verdict, const NtpReply& reply, std::string reason)
{
    NtpCheck check;
    check.verdict = verdict;
    check.reply = reply;
    check.reason = std::move(reason);
    return check;
}

}  // namespace

NtpTimestamp ToNtpTimestamp(const platform::Instant& t)
{
    const std::int64_t seconds = t.seconds + kNtpToUnixSeconds;
    const auto era = static_cast<std::uint32_t>(((seconds % kEraSeconds) + kEraSeconds) % kEraSeconds);
    const auto fraction = static_cast<std::uint32_t>((static_cast<std::uint64_t>(t.nanoseconds) << 32) / kBillion);
    return {era, fraction};
}

platform::Instant FromNtpTimestamp(const NtpTimestamp& t, const platform::Instant& near)
{
    // The era whose copy of the timestamp lies nearest to `near`.
    const std::int64_t nearSeconds = near.seconds + kNtpToUnixSeconds;
    const std::int64_t inEra = t.seconds;
    const std::int64_t below = nearSeconds - inEra;
    const std::int64_t era = below >= 0 ? below / kEraSeconds : -((-below + kEraSeconds - 1) / kEraSeconds);
    std::int64_t best = inEra + era * kEraSeconds;  // at or before `near`, less than an era
    if (nearSeconds - best > kEraSeconds / 2)
        best += kEraSeconds;
    // Rounded to the nearest nanosecond.
    const auto nanoseconds =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(t.fraction) * kBillion + (1ULL << 31)) >> 32);
    const platform::Span span = platform::MakeSpan(best - kNtpToUnixSeconds, nanoseconds);
    return {span.seconds, span.nanoseconds};
}

std::string EncodeClientRequest(const NtpTimestamp& transmit)
{
    std::string bytes(kNtpPacketBytes, '\0');
    bytes[0] = static_cast<char>((kOurVersion << 3) | kClientMode);  // no leap warning
    PutWord(bytes, 40, transmit.seconds);
    PutWord(bytes, 44, transmit.fraction);
    return bytes;
}

double NtpReply::RootDistance() const
{
    return rootDelay / 65536.0 / 2 + rootDispersion / 65536.0;
}

std::optional<NtpTimestamp> OriginOf(std::string_view bytes)
{
    if (bytes.size() != kNtpPacketBytes)
        return std::nullopt;
    return TimestampAt(bytes, 24);
}

NtpCheck CheckServerReply(std::string_view bytes, const NtpTimestamp& sent)
{
    NtpReply reply;
    if (bytes.size() != kNtpPacketBytes)
        return Verdict(NtpVerdict::Malformed, reply,
                       std::to_string(bytes.size()) + " bytes (" + std::to_string(kNtpPacketBytes) + " expected)");
    const auto first = static_cast<unsigned char>(bytes[0]);
    reply.leap = first >> 6;
    reply.version = (first >> 3) & 0x07;
    reply.mode = first & 0x07;
    reply.stratum = static_cast<unsigned char>(bytes[1]);
    reply.precision = static_cast<signed char>(bytes[3]);
    reply.rootDelay = Word(bytes, 4);
    reply.rootDispersion = Word(bytes, 8);
    reply.referenceId = Word(bytes, 12);
    reply.origin = TimestampAt(bytes, 24);
    reply.receive = TimestampAt(bytes, 32);
    reply.transmit = TimestampAt(bytes, 40);

    // Nothing of an answer to someone else is believed, a kiss least of all.
    if (reply.origin != sent)
        return Verdict(NtpVerdict::Spoofed, reply, "it does not echo our request");
    if (reply.mode != kServerMode)
        return Verdict(NtpVerdict::Malformed, reply, "mode " + std::to_string(reply.mode) + " (4 expected)");
    if (reply.version < 1 || reply.version > 4)
        return Verdict(NtpVerdict::Malformed, reply, "version " + std::to_string(reply.version));
    if (reply.stratum == 0) {
        NtpCheck kiss = Verdict(NtpVerdict::Kiss, reply, "");
        kiss.kissCode = KissText(reply.referenceId);
        kiss.reason = "kiss code " + kiss.kissCode;
        const std::string meaning = KissMeaning(kiss.kissCode);
        if (!meaning.empty())
            kiss.reason += " (" + meaning + ")";
        return kiss;
    }
    if (reply.leap == 3)
        return Verdict(NtpVerdict::Unsynchronised, reply, "leap indicator 3");
    if (reply.stratum > 15)
        return Verdict(NtpVerdict::Unsynchronised, reply, "stratum " + std::to_string(reply.stratum));
    if (reply.precision < -32 || reply.precision > 0)
        return Verdict(NtpVerdict::Malformed, reply, "precision 2^" + std::to_string(reply.precision) + " s");
    if (reply.transmit.IsZero() || reply.receive.IsZero())
        return Verdict(NtpVerdict::Malformed, reply, "a zero timestamp");
    if (reply.RootDistance() > kNtpMaxRootDistanceSeconds) {
        const long milliseconds = std::lround(reply.RootDistance() * 1000);
        return Verdict(NtpVerdict::Unsynchronised, reply,
                       std::to_string(milliseconds) + " ms from its reference (1 s at most)");
    }
    return Verdict(NtpVerdict::Usable, reply, "");
}

bool KissEndsQuestions(std::string_view kissCode)
{
    return kissCode == "RATE" || kissCode == "DENY" || kissCode == "RSTR";
}

std::string KissMeaning(std::string_view kissCode)
{
    if (kissCode == "RATE")
        return "asked too often";
    if (kissCode == "DENY")
        return "access denied";
    if (kissCode == "RSTR")
        return "access restricted";
    return {};
}

std::optional<NtpSample> MeasureSample(const NtpReply& reply, const platform::Instant& sent,
                                       const platform::Instant& arrived)
{
    // The server's times in the era nearest our own.
    const platform::Instant received = FromNtpTimestamp(reply.receive, sent);
    const platform::Instant answered = FromNtpTimestamp(reply.transmit, sent);
    const std::int64_t held = Nanoseconds(answered - received);
    const std::int64_t roundTrip = Nanoseconds(arrived - sent);
    if (held < 0 || roundTrip < 0)
        return std::nullopt;
    std::int64_t delay = roundTrip - held;
    // A server's coarse clock may count a little more than the round trip;
    // more than its resolution (or a millisecond) is a contradiction.
    const double resolution = std::ldexp(1.0, reply.precision);
    const auto slack = static_cast<std::int64_t>(std::max(1e6, resolution * 1e9));
    if (delay < -slack)
        return std::nullopt;
    if (delay < 0)
        delay = 0;
    // In nanoseconds: within 68 years either way, both sums fit in 64 bits.
    const std::int64_t sum = Nanoseconds(received - sent) + Nanoseconds(answered - arrived);
    NtpSample sample;
    sample.sent = sent;
    sample.arrived = arrived;
    sample.offset = platform::MakeSpan(0, sum / 2);
    sample.delay = platform::MakeSpan(0, delay);
    sample.stratum = reply.stratum;
    return sample;
}

}  // namespace vel
