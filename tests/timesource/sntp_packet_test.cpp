#include <gtest/gtest.h>

#include <string>

#include "timesource/sntp_packet.h"

namespace vel {
namespace {

using platform::Instant;

constexpr std::int64_t k2036 = 2085978496;  // 2036-02-07 06:28:16 UTC: NTP's era 1 begins

// A server's answer, field by field; the timestamps as raw NTP values.
struct Packet {
    int leap = 0, version = 4, mode = 4, stratum = 2, precision = -20;
    std::uint32_t rootDelay = 0x00000100, rootDispersion = 0x00000100;
    std::string referenceId = "GPS";
    NtpTimestamp origin{0xE0000000, 0x12345678};
    NtpTimestamp receive{0xE0000001, 0};
    NtpTimestamp transmit{0xE0000001, 0x00100000};

    std::string Bytes() const
    {
        std::string b(48, '\0');
        b[0] = static_cast<char>((leap << 6) | (version << 3) | mode);
        b[1] = static_cast<char>(stratum);
        b[3] = static_cast<char>(precision);
        auto put = [&b](std::size_t at, std::uint32_t v) {
            for (std::size_t i = 0; i < 4; ++i)
                b[at + i] = static_cast<char>(v >> (24 - 8 * i));
        };
        put(4, rootDelay);
        put(8, rootDispersion);
        b.replace(12, referenceId.size(), referenceId);
        put(24, origin.seconds);
        put(28, origin.fraction);
        put(32, receive.seconds);
        put(36, receive.fraction);
        put(40, transmit.seconds);
        put(44, transmit.fraction);
        return b;
    }
};

const NtpTimestamp kSent{0xE0000000, 0x12345678};

TEST(SntpPacket, TheRequestIsAVersion4ClientPacketWithOnlyItsTransmitTime)
{
    const std::string request = EncodeClientRequest({0x01020304, 0xA0B0C0D0});
    ASSERT_EQ(request.size(), 48u);
    EXPECT_EQ(static_cast<unsigned char>(request[0]), 0x23);  // LI 0, VN 4, mode 3
    EXPECT_EQ(request.substr(1, 39), std::string(39, '\0'));
    EXPECT_EQ(request.substr(40), std::string("\x01\x02\x03\x04\xA0\xB0\xC0\xD0", 8));
}

TEST(SntpPacket, AnswersAreJudged)
{
    struct Case {
        const char* name;
        Packet packet;
        std::size_t size;  // the bytes sent: the packet cut or padded
        NtpVerdict verdict;
        const char* reason;
    };
    auto with = [](auto change) {
        Packet p;
        change(p);
        return p;
    };
    const Case cases[] = {
        {"a good answer", Packet{}, 48, NtpVerdict::Usable, ""},
        {"version 3", with([](Packet& p) { p.version = 3; }), 48, NtpVerdict::Usable, ""},
        {"stratum 15", with([](Packet& p) { p.stratum = 15; }), 48, NtpVerdict::Usable, ""},
        {"a leap second ahead", with([](Packet& p) { p.leap = 1; }), 48, NtpVerdict::Usable, ""},
        {"47 bytes", Packet{}, 47, NtpVerdict::Malformed, "47 bytes (48 expected)"},
        {"49 bytes", Packet{}, 49, NtpVerdict::Malformed, "49 bytes (48 expected)"},
        {"nothing", Packet{}, 0, NtpVerdict::Malformed, "0 bytes (48 expected)"},
        {"another origin", with([](Packet& p) { p.origin.fraction ^= 1; }), 48, NtpVerdict::Spoofed,
         "it does not echo our request"},
        {"a kiss from someone else", with([](Packet& p) {
             p.stratum = 0;
             p.referenceId = "DENY";
             p.origin = {};
         }),
         48, NtpVerdict::Spoofed, "it does not echo our request"},
        {"a client's packet", with([](Packet& p) { p.mode = 3; }), 48, NtpVerdict::Malformed, "mode 3 (4 expected)"},
        {"a broadcast", with([](Packet& p) { p.mode = 5; }), 48, NtpVerdict::Malformed, "mode 5 (4 expected)"},
        {"version 0", with([](Packet& p) { p.version = 0; }), 48, NtpVerdict::Malformed, "version 0"},
        {"version 5", with([](Packet& p) { p.version = 5; }), 48, NtpVerdict::Malformed, "version 5"},
        {"leap indicator 3", with([](Packet& p) { p.leap = 3; }), 48, NtpVerdict::Unsynchronised, "leap indicator 3"},
        {"stratum 16", with([](Packet& p) { p.stratum = 16; }), 48, NtpVerdict::Unsynchronised, "stratum 16"},
        {"stratum 255", with([](Packet& p) { p.stratum = 255; }), 48, NtpVerdict::Unsynchronised, "stratum 255"},
        {"kiss RATE", with([](Packet& p) {
             p.stratum = 0;
             p.leap = 3;
             p.referenceId = "RATE";
         }),
         48, NtpVerdict::Kiss, "kiss code RATE (asked too often)"},
        {"kiss DENY", with([](Packet& p) { p.stratum = 0, p.referenceId = "DENY"; }), 48, NtpVerdict::Kiss,
         "kiss code DENY (access denied)"},
        {"kiss RSTR", with([](Packet& p) { p.stratum = 0, p.referenceId = "RSTR"; }), 48, NtpVerdict::Kiss,
         "kiss code RSTR (access restricted)"},
        {"kiss INIT", with([](Packet& p) { p.stratum = 0, p.referenceId = "INIT"; }), 48, NtpVerdict::Kiss,
         "kiss code INIT"},
        {"a kiss of garbage", with([](Packet& p) { p.stratum = 0, p.referenceId = "A\x01\\"; }), 48, NtpVerdict::Kiss,
         "kiss code A\\x01\\x5C"},
        {"precision 2 s", with([](Packet& p) { p.precision = 1; }), 48, NtpVerdict::Malformed, "precision 2^1 s"},
        {"precision 2^-33 s", with([](Packet& p) { p.precision = -33; }), 48, NtpVerdict::Malformed,
         "precision 2^-33 s"},
        {"no transmit time", with([](Packet& p) { p.transmit = {}; }), 48, NtpVerdict::Malformed, "a zero timestamp"},
        {"no receive time", with([](Packet& p) { p.receive = {}; }), 48, NtpVerdict::Malformed, "a zero timestamp"},
        {"1.1 s from its reference", with([](Packet& p) { p.rootDelay = 0, p.rootDispersion = 0x00011999; }), 48,
         NtpVerdict::Unsynchronised, "1100 ms from its reference (1 s at most)"},
        {"just within", with([](Packet& p) { p.rootDelay = 0x00010000, p.rootDispersion = 0x00008000; }), 48,
         NtpVerdict::Usable, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = c.packet.Bytes();
        bytes.resize(c.size, '\0');
        const NtpCheck check = CheckServerReply(bytes, kSent);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.reason, c.reason);
    }
}

TEST(SntpPacket, OnlyRateDenyAndRestrictEndTheQuestions)
{
    for (const char* code : {"RATE", "DENY", "RSTR"})
        EXPECT_TRUE(KissEndsQuestions(code)) << code;
    for (const char* code : {"INIT", "STEP", "rate", ""})
        EXPECT_FALSE(KissEndsQuestions(code)) << code;
}

TEST(SntpPacket, TimestampsKeepTheirEraNearTheReference)
{
    struct Case {
        const char* name;
        NtpTimestamp stamp;
        std::int64_t near;
        Instant expected;
    };
    const Case cases[] = {
        {"1970", {2208988800u, 0}, 0, {0, 0}},
        {"half a second", {2208988800u, 0x80000000u}, 0, {0, 500000000}},
        {"2025", {3947656020u, 0}, 1738667220, {1738667220, 0}},
        {"the last second of era 0", {0xFFFFFFFFu, 0}, k2036, {k2036 - 1, 0}},
        {"the first of era 1, read in era 0", {0, 0}, k2036 - 1, {k2036, 0}},
        {"era 1, a year on", {31536000u, 0}, k2036 + 31536000, {k2036 + 31536000, 0}},
        {"era 0, read by a clock set to 2040", {0xFFFFFF00u, 0}, k2036 + 126230400, {k2036 - 256, 0}},
        {"2026, read by a clock left at 1970", {3990000000u, 0}, 0, {3990000000LL - 2208988800LL, 0}},
        {"a clock 60 years behind", {0x00001000u, 0}, k2036 + 4096 - 60LL * 31557600, {k2036 + 4096, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromNtpTimestamp(c.stamp, {c.near, 0}), c.expected);
    }
    // And back, the era dropped, to within the fraction's resolution.
    for (const Instant t : {Instant{0, 0}, Instant{k2036 - 1, 999999999}, Instant{k2036 + 5, 123456789}}) {
        const Instant back = FromNtpTimestamp(ToNtpTimestamp(t), t);
        EXPECT_EQ(back.seconds, t.seconds);
        EXPECT_NEAR(back.nanoseconds, t.nanoseconds, 1);
    }
    EXPECT_EQ(ToNtpTimestamp({k2036, 0}), (NtpTimestamp{0, 0}));
}

TEST(SntpPacket, FourTimestampsGiveOffsetAndDelay)
{
    struct Case {
        const char* name;
        double t2, t3, t4;  // seconds after t1 (the PC's t1 is 1000 s after its era began)
        double offset, delay;
        bool contradictory;
    };
    const Case cases[] = {
        {"in step, 20 ms each way", 0.020, 0.021, 0.041, 0, 0.040, false},
        {"PC 95 s ahead", -94.990, -94.989, 0.021, -95.0, 0.020, false},
        {"PC 3 s behind, 10 out and 30 back", 3.010, 3.010, 0.040, 2.990, 0.040, false},
        {"the server held it longer than the round trip", 0.010, 0.060, 0.020, 0.025, 0, true},
        {"half a millisecond over: rounding", 0.005, 0.0255, 0.020, 0.00525, 0.0, false},
    };
    const Instant t1{1738667220, 250000000};
    auto at = [&](double seconds) { return t1 + platform::MakeSpan(0, static_cast<std::int64_t>(seconds * 1e9)); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NtpReply reply;
        reply.precision = -20;
        reply.stratum = 1;
        reply.receive = ToNtpTimestamp(at(c.t2));
        reply.transmit = ToNtpTimestamp(at(c.t3));
        const auto sample = MeasureSample(reply, t1, at(c.t4));
        ASSERT_EQ(!sample, c.contradictory);
        if (!sample)
            continue;
        EXPECT_NEAR(platform::ToDouble(sample->offset), c.offset, 1e-6);
        EXPECT_NEAR(platform::ToDouble(sample->delay), c.delay, 1e-6);
    }
}

TEST(SntpPacket, AServerInTheNextEraIsMeasuredAcrossTheWrap)
{
    // The PC reads 2036-02-07 06:28:15.9; the server answers from era 1.
    const Instant t1{k2036 - 1, 900000000};
    NtpReply reply;
    reply.receive = {0, 0x1999999A};  // 0.1 s into era 1
    reply.transmit = {0, 0x1999999A};
    const auto sample = MeasureSample(reply, t1, t1 + platform::MakeSpan(0, 10000000));
    ASSERT_TRUE(sample);
    EXPECT_NEAR(platform::ToDouble(sample->offset), 0.195, 1e-6);
    EXPECT_NEAR(platform::ToDouble(sample->delay), 0.010, 1e-6);
}

}  // namespace
}  // namespace vel
