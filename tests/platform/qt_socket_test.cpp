// The Qt socket against tools/daytime-server on 127.0.0.1.
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
#include <vector>

#include "platform/linux/linux_clock.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_socket.h"
#include "timesource/daytime_answer.h"
#include "timesource/daytime_client.h"

namespace vel {
namespace {

using platform::QtSocket;

void EnsureQtApplication()
{
    static int argc = 1;
    static char name[] = "veltrane_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // lives as long as the test process
}

// The test server in the background on a free port of 127.0.0.1.
class DaytimeServer {
public:
    explicit DaytimeServer(const std::string& options)
    {
        const std::string command =
            std::string(VELTRANE_BINARY_DIR) + "/daytime-server --address 127.0.0.1 --port 0 --background " + options;
        FILE* out = ::popen(command.c_str(), "r");
        if (!out)
            return;
        char line[128];
        if (std::fgets(line, sizeof line, out))
            std::sscanf(line, "listening on 127.0.0.1:%d", &port);
        if (std::fgets(line, sizeof line, out))
            std::sscanf(line, "%d", &pid);
        ::pclose(out);
    }
    ~DaytimeServer()
    {
        if (pid > 0)
            ::kill(pid, SIGTERM);
    }
    DaytimeServer(const DaytimeServer&) = delete;
    DaytimeServer& operator=(const DaytimeServer&) = delete;

    int port = 0;
    int pid = 0;
};

struct Event {
    std::string kind;  // "data" or "error"
    int number = 0;    // as the log shows it
    std::string text;  // the data read, or the description
};

// The handshake's start ('c') and answer ('C'; 'R' when it was retried),
// arrivals ('d') and errors ('e'), in order.
class Recorder {
public:
    explicit Recorder(QtSocket& socket) : socket_(socket) {}
    void operator()(const platform::SocketEvent& event)
    {
        switch (event.kind) {
            case platform::SocketEvent::Kind::Connecting:
                progress += 'c';
                return;
            case platform::SocketEvent::Kind::Connected:
                progress += event.handshakeRetried ? 'R' : 'C';
                return;
            case platform::SocketEvent::Kind::DataArrived:
                events.push_back({"data", 0, socket_.GetData(64 * 1024)});
                progress += 'd';
                if (closeOnData)
                    socket_.Close();
                return;
            case platform::SocketEvent::Kind::Failed:
                events.push_back({"error", WinsockNumber(event.error), event.error.description});
                progress += 'e';
                socket_.Close();
                return;
        }
    }
    std::vector<Event> events;
    std::string progress;
    bool closeOnData = true;

private:
    QtSocket& socket_;
};

struct QtSocketTest : ::testing::Test {
    QtSocketTest() { EnsureQtApplication(); }

    // Dispatches events until `done` holds or `seconds` have passed.
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
    void Connect(int port) { socket.Connect("127.0.0.1", port, std::ref(recorder)); }
    bool HasEvents() const { return !recorder.events.empty(); }

    platform::LinuxClock clock;
    platform::QtEventPump pump;
    QtSocket socket{pump};
    Recorder recorder{socket};
};

TEST_F(QtSocketTest, AnswerArrivesAsOneDataEventAndTheCloseIsNoError)
{
    for (const char* layout : {"nist", "short"}) {
        SCOPED_TRACE(layout);
        DaytimeServer server(std::string("--layout ") + layout);
        ASSERT_GT(server.port, 0);
        recorder.events.clear();
        recorder.closeOnData = false;  // let the server's close come in
        Connect(server.port);
        ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
        WaitFor([] { return false; }, 0.3);
        ASSERT_EQ(recorder.events.size(), 1u);
        EXPECT_EQ(recorder.events[0].kind, "data");
        EXPECT_TRUE(ParseDaytimeAnswer(recorder.events[0].text)) << recorder.events[0].text;
        EXPECT_EQ(recorder.progress, "cCd");
        recorder.progress.clear();
        socket.Close();
    }
}

// A server whose accept queue is held full drops the first SYN; the kernel
// sends it again a second later, and the connection says its handshake was
// retried (a clean one says "cCd" above).
TEST_F(QtSocketTest, ARetriedHandshakeIsSaidWithTheConnection)
{
    DaytimeServer server("--hold 0.9");
    const double start = clock.MonotonicSeconds();
    Connect(server.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    EXPECT_EQ(recorder.progress, "cRd");
    EXPECT_GE(clock.MonotonicSeconds() - start, 1.0);
}

TEST_F(QtSocketTest, ClosingInsideTheHandlerEndsTheConnectionQuietly)
{
    DaytimeServer server("");
    Connect(server.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    WaitFor([] { return false; }, 0.3);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].kind, "data");
    // Closing again, and reading a closed socket, are harmless.
    socket.Close();
    EXPECT_EQ(socket.GetData(100), "");
}

TEST_F(QtSocketTest, RefusedIs10061WithADescription)
{
    // A bound socket that does not listen: connecting to it is refused.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    Connect(ntohs(address.sin_port));
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    ::close(fd);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].kind, "error");
    EXPECT_EQ(recorder.events[0].number, 10061);
    EXPECT_FALSE(recorder.events[0].text.empty());
    EXPECT_EQ(recorder.progress, "ce");  // begun, never answered
}

TEST_F(QtSocketTest, AResetWithoutDataIsAnError)
{
    DaytimeServer server("--mode refuse");
    Connect(server.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].kind, "error");
    EXPECT_EQ(recorder.events[0].number, 10054);
}

TEST_F(QtSocketTest, SilenceGivesNoEventAndCloseStopsIt)
{
    DaytimeServer server("--mode silent");
    Connect(server.port);
    EXPECT_EQ(recorder.progress, "");  // never inside Connect
    EXPECT_FALSE(WaitFor([&] { return HasEvents(); }, 0.5));
    EXPECT_EQ(recorder.progress, "cC");  // the handshake is reported on its own
    socket.Close();
    EXPECT_FALSE(WaitFor([&] { return HasEvents(); }, 0.2));
    // The socket can be used again.
    DaytimeServer answering("");
    Connect(answering.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    EXPECT_EQ(recorder.events[0].kind, "data");
}

TEST_F(QtSocketTest, ConnectingAgainClosesTheOldConnectionFirst)
{
    DaytimeServer silent("--mode silent");
    DaytimeServer answering("");
    Connect(silent.port);
    WaitFor([] { return false; }, 0.2);
    Connect(answering.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    WaitFor([] { return false; }, 0.2);
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].kind, "data");
}

TEST_F(QtSocketTest, ASplitAnswerArrivesInPieces)
{
    DaytimeServer server("--mode split --pause 0.4");
    Connect(server.port);
    ASSERT_TRUE(WaitFor([&] { return HasEvents(); }, 5.0));
    WaitFor([] { return false; }, 0.7);
    // Only the first piece: the handler closed before the second came.
    ASSERT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(recorder.events[0].kind, "data");
    EXPECT_LT(recorder.events[0].text.size(), 40u);
    EXPECT_FALSE(ParseDaytimeAnswer(recorder.events[0].text));
}

TEST_F(QtSocketTest, AFloodIsReadInBoundedPieces)
{
    DaytimeServer server("--mode flood --flood-bytes 16777216");
    recorder.closeOnData = false;
    Connect(server.port);
    ASSERT_TRUE(WaitFor([&] { return recorder.events.size() >= 5; }, 10.0));
    socket.Close();
    const std::size_t seen = recorder.events.size();
    EXPECT_FALSE(WaitFor([&] { return recorder.events.size() > seen; }, 0.3));
    for (const Event& event : recorder.events) {
        EXPECT_EQ(event.kind, "data");
        EXPECT_GT(event.text.size(), 0u);
        EXPECT_LE(event.text.size(), 64u * 1024u);
    }
}

// A task posted to a pump that is gone before it runs is dropped, not run
// against the pump's remains.
TEST(QtEventPumpPost, APumpThatIsGoneDropsItsTasks)
{
    EnsureQtApplication();
    int ran = 0;
    {
        platform::QtEventPump pump;
        pump.Post([&] { ++ran; });
        pump.Post([&] { ++ran; });
        pump.DoEvents();
        EXPECT_EQ(ran, 2);
        pump.Post([&] { ++ran; });
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    EXPECT_EQ(ran, 2);
}

TEST(QtSocketErrors, WindowsSocketsNumbers)
{
    using E = QAbstractSocket::SocketError;
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::ConnectionRefusedError, "Connection refused"), "", 0}), 10061);
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::HostNotFoundError, "Host not found"), "", 0}), 11001);
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::SocketTimeoutError, "Socket operation timed out"), "", 0}), 10060);
    EXPECT_EQ(
        WinsockNumber({QtSocket::FailureOf(E::RemoteHostClosedError, "The remote host closed the connection"), "", 0}),
        10054);
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::NetworkError, "Network unreachable"), "", 0}), 10051);
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::NetworkError, "Host unreachable"), "", 0}), 10065);
    EXPECT_EQ(WinsockNumber({QtSocket::FailureOf(E::NetworkError, "Network error"), "", 0}), 10050);
}

}  // namespace
}  // namespace vel
