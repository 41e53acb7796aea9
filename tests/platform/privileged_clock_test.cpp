// The loop of the part of a machine run that holds the right to set the
// clock, and the other part's end of it, over a socket pair in this process
// with a clock of the test's own. The rules and the messages are tested in
// tests/common; a refused setting's log line in tests/integration.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

// Within the years the part sets, whatever year this release was made.
const Instant kNow = SettableTimes().earliest + Seconds(30 * 86400);

class RecordingClock : public ClockAccess {
public:
    Instant Now() override { return kNow; }
    int Set(const Instant& utc) override
    {
        set.push_back(utc);
        return 0;
    }
    std::vector<Instant> set;
};

// The network part's end against the loop in a thread: an answer, then a
// message that is no request, which ends the loop, then a part that has
// gone, and one that never started.
TEST(ClockPartLink, HandsOnTheAnswerOrSaysWhyThereIsNone)
{
    int pair[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair), 0);
    RecordingClock clock;
    int status = -1;
    std::string fault;
    std::thread serving([&] {
        ClockRequestRules rules(SettableTimes());
        status = ServeClockRequests(pair[1], clock, rules, fault);
        ::close(pair[1]);  // as the part's end does
    });
    ClockPartLink link(::dup(pair[0]), 0);
    EXPECT_TRUE(link.StepSystemClock({-95, 500000000}).ok);
    const std::vector<std::uint8_t> longer(kClockRequestSize + 16, 0);
    ::send(pair[0], longer.data(), longer.size(), 0);
    ::close(pair[0]);
    serving.join();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(fault, "no request: a message of 40 bytes");
    EXPECT_EQ(clock.set, (std::vector<Instant>{kNow + Span{-95, 500000000}}));
    const std::string part = "the part of the program that sets the clock ";
    EXPECT_EQ(link.StepSystemClock({1, 0}).description, part + "has ended");
    EXPECT_EQ(ClockPartLink(-1, 0, "fork: no memory").StepSystemClock({1, 0}).description,
              part + "could not be started: fork: no memory");
}

}  // namespace
}  // namespace vel
