// The Qt back end's UDP socket against tools/sntp-server on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/linux/linux_clock.h"
#include "platform/qt/qt_datagram_socket.h"
#include "platform/qt/qt_event_pump.h"
#include "timesource/sntp_packet.h"

namespace vel {
namespace {

using platform::DatagramEvent;

// The test server in the background on a free port of 127.0.0.1.
struct SntpServer {
    explicit SntpServer(const std::string& options)
    {
        const std::string command =
            std::string(VELTRANE_BINARY_DIR) + "/sntp-server --port 0 --background " + options + " 2>/dev/null";
        if (FILE* out = ::popen(command.c_str(), "r")) {
            char line[128];
            if (std::fgets(line, sizeof line, out))
                std::sscanf(line, "listening on 127.0.0.1:%d", &port);
            if (std::fgets(line, sizeof line, out))
                std::sscanf(line, "%d", &pid);
            ::pclose(out);
        }
    }
    ~SntpServer()
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
    SntpServer(const SntpServer&) = delete;
    SntpServer& operator=(const SntpServer&) = delete;
    int port = 0;
    int pid = 0;
};

struct QtDatagramTest : ::testing::Test {
    QtDatagramTest()
    {
        static int argc = 1;
        static char name[] = "veltrane_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }
    bool WaitFor(const std::function<bool()>& done, double seconds)
    {
        const double end = clock.MonotonicSeconds() + seconds;
        for (;;) {
            pump.DoEvents();
            if (done())
                return true;
            const double left = end - clock.MonotonicSeconds();
            if (left <= 0)
                return false;
            pump.WaitForEvents(left);
        }
    }
    void Open(int port)
    {
        socket.Open("127.0.0.1", port, [this](const DatagramEvent& event) {
            events += "RAF"[static_cast<int>(event.kind)];
            if (event.kind == DatagramEvent::Kind::Failed)
                failure = event.error;
            while (const auto datagram = socket.Receive(maxBytes))
                received.push_back(*datagram);
        });
    }

    platform::LinuxClock clock;
    platform::QtEventPump pump;
    platform::QtDatagramSocket socket{pump};
    std::string events;  // R(eady), A(rrived), F(ailed)
    std::vector<std::string> received;
    platform::SocketError failure;
    std::size_t maxBytes = 49;
};

TEST_F(QtDatagramTest, ARequestIsAnsweredFromThePeer)
{
    SntpServer server("--offset -95");
    ASSERT_GT(server.port, 0);
    Open(server.port);
    EXPECT_EQ(events, "") << "the outcome comes from the pump, never inside Open";
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 5));
    ASSERT_EQ(events, "R");
    const NtpTimestamp sent = ToNtpTimestamp(clock.Read().utc);
    platform::SocketError error;
    ASSERT_TRUE(socket.Send(EncodeClientRequest(sent), error)) << error.description;
    ASSERT_TRUE(WaitFor([&] { return !received.empty(); }, 5));
    EXPECT_EQ(events, "RA");
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(CheckServerReply(received[0], sent).verdict, NtpVerdict::Usable);
    socket.Close();
}

TEST_F(QtDatagramTest, ALongerDatagramIsCutAtTheLimit)
{
    SntpServer server("--mode long");
    ASSERT_GT(server.port, 0);
    maxBytes = 48;
    Open(server.port);
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 5));
    platform::SocketError error;
    ASSERT_TRUE(socket.Send(EncodeClientRequest({1, 2}), error));
    ASSERT_TRUE(WaitFor([&] { return !received.empty(); }, 5));
    EXPECT_EQ(received[0].size(), 48u);
}

// Nobody listens: the peer's system says so (an ICMP port unreachable), and
// that is Refused, 10061 in the log.
TEST_F(QtDatagramTest, APortNobodyListensOnIsRefused)
{
    // A free port: bound for a moment, then let go.
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const int port = ntohs(address.sin_port);
    Open(port);
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 5));
    platform::SocketError error;
    ASSERT_TRUE(socket.Send(EncodeClientRequest({1, 2}), error));
    ASSERT_TRUE(WaitFor([&] { return events.size() > 1; }, 5));
    EXPECT_EQ(events, "RF");
    EXPECT_EQ(failure.failure, platform::SocketFailure::Refused);
    EXPECT_EQ(failure.description, "Connection refused");
    // Nothing follows a failure, and a closed socket sends nothing.
    EXPECT_FALSE(socket.Send("x", error));
}

}  // namespace
}  // namespace vel
