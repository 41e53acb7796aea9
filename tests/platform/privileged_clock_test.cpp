// The loop of the part of a machine run that holds the right to set the
// clock, and the other part's end of it, over a socket pair in this process
// with a clock of the test's own. The rules themselves are
// common/clock_request's (tests/common).
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
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

struct SocketPair {
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fd), 0); }
    ~SocketPair()
    {
        for (int end : fd)
            ::close(end);
    }
    int fd[2] = {-1, -1};
};

// The messages wait in the socket, the loop runs until it ends, and what it
// answered is read back.
TEST(ServeClockRequests, AnswersEachRequestUntilTheCloseOrWhatIsNoRequest)
{
    const ClockRequestBytes request = EncodeClockRequest({ClockRequestKind::StepSystemClock, {-95, 0}});
    const Bytes good(request.begin(), request.end());
    Bytes longer(40, 0);
    std::copy(good.begin(), good.end(), longer.begin());
    const ClockAnswer set{ClockRequestKind::StepSystemClock, true, 0, ""};
    const struct {
        const char* name;
        std::vector<Bytes> messages;
        int refusal;  // errno of clock_settime
        int status;   // of the loop
        std::string fault;
        std::vector<ClockAnswer> answers;
    } cases[] = {
        {"one request, then the close", {good}, 0, 0, "", {set}},
        {"a refused setting",
         {good},
         EPERM,
         0,
         "",
         {{ClockRequestKind::StepSystemClock, false, EPERM, "clock_settime: operation not permitted"}}},
        {"a short message", {Bytes(good.begin(), good.end() - 1), good}, 0, 1, "no request: a message of 23 bytes", {}},
        {"a long one after a request", {good, longer, good}, 0, 1, "no request: a message of 40 bytes", {set}},
    };
    for (const auto& [name, messages, refusal, status, fault, answers] : cases) {
        SCOPED_TRACE(name);
        SocketPair pair;
        for (const Bytes& message : messages)
            ASSERT_EQ(::send(pair.fd[0], message.data(), message.size(), 0), static_cast<ssize_t>(message.size()));
        ::shutdown(pair.fd[0], SHUT_WR);
        RecordingClock clock;
        clock.refusal = refusal;
        ClockRequestRules rules(SettableTimes());
        std::string said;
        EXPECT_EQ(ServeClockRequests(pair.fd[1], clock, rules, said), status);
        EXPECT_EQ(said, fault);
        EXPECT_EQ(clock.set, std::vector<Instant>(answers.size(), kNow - Seconds(95)));
        std::vector<ClockAnswer> read;
        std::uint8_t buffer[kClockAnswerSize];
        for (ssize_t size; (size = ::recv(pair.fd[0], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            read.push_back(DecodeClockAnswer(std::span(buffer, static_cast<std::size_t>(size))).value());
        EXPECT_EQ(read, answers);
    }
}

// The network part's end, against the loop in a thread, then against a part
// that has gone, and one that never started.
TEST(ClockPartLink, HandsOnTheAnswerOrSaysWhyThereIsNone)
{
    SocketPair pair;
    RecordingClock clock;
    std::thread serving([&] {
        ClockRequestRules rules(SettableTimes());
        std::string fault;
        ServeClockRequests(pair.fd[1], clock, rules, fault);
    });
    ClockPartLink link(::dup(pair.fd[0]), 0);
    EXPECT_TRUE(link.StepSystemClock({-95, 500000000}).ok);
    ::shutdown(pair.fd[0], SHUT_RDWR);  // the loop sees the end
    serving.join();
    EXPECT_EQ(clock.set, (std::vector<Instant>{kNow + Span{-95, 500000000}}));
    const std::string part = "the part of the program that sets the clock ";
    EXPECT_EQ(link.StepSystemClock({1, 0}).description, part + "has ended");
    EXPECT_EQ(ClockPartLink(-1, 0, "fork: no memory").StepSystemClock({1, 0}).description,
              part + "could not be started: fork: no memory");
}

}  // namespace
}  // namespace vel
