// The loop of the part of a machine run that holds the right to set the
// clock, and the other part's end of it, over a socket pair in this process
// with a clock of the test's own.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "common/clock_request.h"
#include "platform/linux/privilege_split.h"
#include "platform/linux/privileged_clock.h"

namespace vel {
namespace {

using namespace platform;

using Bytes = std::vector<std::uint8_t>;

Bytes RequestBytes(const Span& step)
{
    const ClockRequestBytes bytes = EncodeClockRequest({ClockRequestKind::StepSystemClock, step});
    return {bytes.begin(), bytes.end()};
}

Bytes Changed(Bytes bytes, std::size_t at, std::uint8_t value)
{
    bytes[at] = value;
    return bytes;
}

const ClockBounds kBounds = {InstantOfUtc({2026, 1, 1, 0, 0, 0}), InstantOfUtc({2100, 1, 1, 0, 0, 0})};
const Instant kNow = InstantOfUtc({2026, 12, 8, 12, 0, 0});

class RecordingClock : public ClockAccess {
public:
    Instant Now() override { return kNow; }
    int Set(const Instant& utc) override
    {
        set.push_back(utc);
        return refusal;
    }
    std::vector<Instant> set;
    int refusal = 0;
};

// Both ends of a SOCK_SEQPACKET pair, closed at the end.
struct SocketPair {
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair()
    {
        for (int end : fd)
            if (end >= 0)
                ::close(end);
    }
    void Close(int end)
    {
        ::close(fd[end]);
        fd[end] = -1;
    }
    int fd[2] = {-1, -1};
};

const ClockAnswer kSet = {ClockRequestKind::StepSystemClock, true, 0, ""};
const ClockAnswer kNotPermitted = {ClockRequestKind::StepSystemClock, false, EPERM,
                                   "clock_settime: operation not permitted"};
const ClockAnswer kSetAlready = {ClockRequestKind::StepSystemClock, false, EALREADY,
                                 "the clock was set once in this run already"};

// The messages are sent first (the socket holds them), then the loop runs
// until it ends; what it answered is read back.
TEST(ServeClockRequests, AnswersEachRequestAndEndsAtTheCloseOrAtWhatIsNoRequest)
{
    const Bytes good = RequestBytes({-95, 0});
    Bytes longer = good;
    longer.push_back(0);
    const struct {
        const char* name;
        std::vector<Bytes> messages;
        int refusal;                       // errno of clock_settime
        int status;                        // of the loop
        std::vector<ClockAnswer> answers;  // sent back, in order
        std::size_t settings;              // clock_settime calls
    } cases[] = {
        {"one request, then the close", {good}, 0, 0, {kSet}, 1},
        {"a refused setting", {good}, EPERM, 0, {kNotPermitted}, 1},
        {"a second setting", {good, good}, 0, 0, {kSet, kSetAlready}, 1},
        {"a short message", {Bytes(good.begin(), good.end() - 1), good}, 0, 1, {}, 0},
        {"a long message", {longer, good}, 0, 1, {}, 0},
        {"a message of another version", {Changed(good, 0, 2)}, 0, 1, {}, 0},
        {"a request after a good one", {good, Changed(good, 2, 2), good}, 0, 1, {kSet}, 1},
    };
    for (const auto& [name, messages, refusal, status, answers, settings] : cases) {
        SCOPED_TRACE(name);
        SocketPair pair;
        for (const Bytes& message : messages)
            ASSERT_EQ(::send(pair.fd[0], message.data(), message.size(), 0), static_cast<ssize_t>(message.size()));
        ::shutdown(pair.fd[0], SHUT_WR);
        RecordingClock clock;
        clock.refusal = refusal;
        ClockRequestRules rules(kBounds);
        std::string fault;
        EXPECT_EQ(ServeClockRequests(pair.fd[1], clock, rules, fault), status) << fault;
        EXPECT_EQ(clock.set.size(), settings);
        if (settings > 0) {
            EXPECT_EQ(clock.set[0], kNow - Seconds(95));
        }
        std::vector<ClockAnswer> read;
        std::uint8_t buffer[kClockAnswerSize];
        for (ssize_t size; (size = ::recv(pair.fd[0], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            read.push_back(DecodeClockAnswer(std::span(buffer, static_cast<std::size_t>(size))).value());
        EXPECT_EQ(read, answers);
    }
}

TEST(ServeClockRequests, SaysWhatEndedIt)
{
    SocketPair pair;
    const Bytes longer(40, 0);
    ::send(pair.fd[0], longer.data(), longer.size(), 0);
    RecordingClock clock;
    ClockRequestRules rules(kBounds);
    std::string fault;
    EXPECT_EQ(ServeClockRequests(pair.fd[1], clock, rules, fault), 1);
    EXPECT_EQ(fault, "no request: a message of 40 bytes");
}

// The network part's end, against the loop in a thread, against an answer
// it cannot read, and against a part that has gone.
TEST(ClockPartLink, HandsOnTheAnswerOrSaysWhyThereIsNone)
{
    {
        SocketPair pair;
        RecordingClock clock;
        clock.refusal = EPERM;
        std::thread part([&] {
            ClockRequestRules rules(kBounds);
            std::string fault;
            ServeClockRequests(pair.fd[1], clock, rules, fault);
        });
        ClockPartLink link(pair.fd[0], 0);
        pair.fd[0] = -1;
        const ClockSetResult result = link.StepSystemClock({-95, 500000000});
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.errorNumber, EPERM);
        EXPECT_EQ(result.description, "clock_settime: operation not permitted");
        EXPECT_EQ(link.StepSystemClock({1, 0}).errorNumber, EALREADY);
        link.Close();
        part.join();
        EXPECT_EQ(clock.set, (std::vector<Instant>{kNow + Span{-95, 500000000}}));
    }
    {
        SocketPair pair;
        const std::uint8_t garbage[kClockAnswerSize] = {};
        ::send(pair.fd[1], garbage, sizeof garbage, 0);
        ClockPartLink link(pair.fd[0], 0);
        pair.fd[0] = -1;
        EXPECT_EQ(link.StepSystemClock({1, 0}).description,
                  "the part of the program that sets the clock gave an answer this program cannot read");
        pair.Close(1);
        EXPECT_EQ(link.StepSystemClock({1, 0}).description, "the part of the program that sets the clock has ended");
    }
    ClockPartLink none(-1, 0, "fork: resource temporarily unavailable");
    EXPECT_EQ(none.StepSystemClock({1, 0}).description,
              "the part of the program that sets the clock could not be started: fork: resource temporarily "
              "unavailable");
}

}  // namespace
}  // namespace vel
