// The Winsock socket against tools/daytime-server on loopback. The test script
// starts the servers inside a private network namespace (with wineserver in
// the same one) on these ports:
//   13 an answer in the NIST layout    1301 silent    1302 an answer in two pieces
//   1303 accepts and resets            1304 holds its accept queue full for
//   0.9 s after each connection it takes (a SYN meanwhile is dropped)
//   1399 nobody listens
#include "platform/win32/win32_socket.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/win32_text.h"
#include "timesource/daytime_answer.h"
#include "timesource/daytime_client.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

constexpr int kAnswering = 13;
constexpr int kSilent = 1301;
constexpr int kSplit = 1302;
constexpr int kResetting = 1303;
constexpr int kBusy = 1304;
constexpr int kClosed = 1399;

// Records the events and, like the program's own handler, reads the data and
// closes the socket on the first arrival or error.
struct Recorder {
    Socket* socket = nullptr;
    bool closeOnEvent = true;
    int arrivals = 0;
    std::string data;
    std::vector<int> errors;
    std::vector<std::string> descriptions;
    // The handshake's start ('c') and answer ('C'; 'R' when it was retried),
    // each arrival ('d') and error ('e'), in order.
    void operator()(const SocketEvent& event)
    {
        switch (event.kind) {
            case SocketEvent::Kind::Connecting:
                progress += 'c';
                return;
            case SocketEvent::Kind::Connected:
                progress += event.handshakeRetried ? 'R' : 'C';
                address = event.address;
                return;
            case SocketEvent::Kind::DataArrived:
                ++arrivals;
                progress += 'd';
                data += socket->GetData(65536);
                break;
            case SocketEvent::Kind::Failed:
                errors.push_back(WinsockNumber(event.error));  // as the log shows it
                descriptions.push_back(event.error.description);
                progress += 'e';
                break;
        }
        if (closeOnEvent)
            socket->Close();
    }
    int Events() const { return arrivals + static_cast<int>(errors.size()); }
    std::string progress;
    std::string address;  // the address connected to
};

class Win32SocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::TestServersRunning())
            GTEST_SKIP() << "needs the test servers of scripts/test-windows.sh";
        recorder.socket = &socket;
    }

    void Connect(const std::string& host, int port) { socket.Connect(host, port, std::ref(recorder)); }

    // Waits in the pump until an event came or `seconds` have passed.
    void WaitForEvent(double seconds)
    {
        const int before = recorder.Events();
        const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (recorder.Events() == before && static_cast<int>(end - ::GetTickCount()) > 0)
            pump.WaitForEvents(static_cast<double>(end - ::GetTickCount()) / 1000.0);
    }

    // Lets late events come, if any were to.
    void Linger(double seconds)
    {
        const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (static_cast<int>(end - ::GetTickCount()) > 0)
            pump.WaitForEvents(static_cast<double>(end - ::GetTickCount()) / 1000.0);
    }

    Win32EventPump pump;
    Win32Socket socket{pump};
    Recorder recorder;
};

TEST_F(Win32SocketTest, TheServersAnswerArrivesAsOneEvent)
{
    Connect("127.0.0.1", kAnswering);
    EXPECT_EQ(recorder.Events(), 0);  // never inside Connect
    WaitForEvent(10);
    ASSERT_EQ(recorder.arrivals, 1) << (recorder.descriptions.empty() ? "" : recorder.descriptions[0]);
    EXPECT_TRUE(recorder.errors.empty());
    ASSERT_FALSE(recorder.data.empty());
    EXPECT_EQ(recorder.data[0], '\n');
    EXPECT_TRUE(ParseDaytimeAnswer(recorder.data)) << recorder.data;
    Linger(0.5);
    EXPECT_EQ(recorder.Events(), 1);
    // The handshake began inside Connect (a numeric address) and was answered
    // (FD_CONNECT) before the data came.
    EXPECT_EQ(recorder.progress, "cCd");
}

// A connection right after another to a busy server: its first SYN finds the
// queue full and is sent again a second later, and the connection says its
// handshake was retried (by the system's count where it keeps one, else by
// the handshake's length). The first connection: not.
TEST_F(Win32SocketTest, ARetriedHandshakeIsSaidWithTheConnection)
{
    for (const char* expected : {"cCd", "cRd"}) {
        recorder.progress.clear();
        const DWORD start = ::GetTickCount();
        Connect("127.0.0.1", kBusy);
        WaitForEvent(10);
        EXPECT_EQ(recorder.progress, expected);
        EXPECT_EQ(::GetTickCount() - start >= 1000, expected[1] == 'R');
    }
}

TEST_F(Win32SocketTest, AHostNameIsLookedUpWithoutBlocking)
{
    Connect("localhost", kAnswering);
    EXPECT_EQ(recorder.Events(), 0);
    EXPECT_EQ(recorder.progress, "");  // the handshake begins after the lookup
    WaitForEvent(10);
    EXPECT_EQ(recorder.arrivals, 1) << (recorder.descriptions.empty() ? "" : recorder.descriptions[0]);
    EXPECT_EQ(recorder.progress.substr(recorder.progress.size() - 3), "cCd");
    EXPECT_EQ(recorder.address, "127.0.0.1");  // the name's address that answered
}

TEST_F(Win32SocketTest, ARefusedConnectionIs10061WithTheSystemsText)
{
    Connect("127.0.0.1", kClosed);
    EXPECT_EQ(recorder.Events(), 0);
    WaitForEvent(10);
    ASSERT_EQ(recorder.errors, std::vector<int>{10061});
    EXPECT_EQ(recorder.descriptions[0], SystemErrorText(10061));
    EXPECT_FALSE(recorder.descriptions[0].empty());
    Linger(0.3);
    EXPECT_EQ(recorder.Events(), 1);
    EXPECT_EQ(recorder.progress, "ce");  // begun, never answered
}

TEST_F(Win32SocketTest, AResetWithoutAnAnswerIsAnError)
{
    Connect("127.0.0.1", kResetting);
    WaitForEvent(10);
    EXPECT_EQ(recorder.arrivals, 0);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_TRUE(recorder.errors[0] == 10054 || recorder.errors[0] == 10053) << recorder.errors[0];
}

TEST_F(Win32SocketTest, ASilentServerGivesNoEventAndACloseEndsIt)
{
    Connect("127.0.0.1", kSilent);
    WaitForEvent(1.0);
    EXPECT_EQ(recorder.Events(), 0);
    EXPECT_EQ(recorder.progress, "cC");  // the handshake is reported on its own
    socket.Close();
    socket.Close();  // closing a closed socket does nothing
    Linger(0.5);
    EXPECT_EQ(recorder.Events(), 0);
}

TEST_F(Win32SocketTest, OnlyTheFirstPieceOfASplitAnswerIsRead)
{
    Connect("127.0.0.1", kSplit);
    WaitForEvent(10);
    ASSERT_EQ(recorder.arrivals, 1);
    EXPECT_FALSE(ParseDaytimeAnswer(recorder.data)) << recorder.data;
    Linger(1.5);  // the second piece comes to a closed socket
    EXPECT_EQ(recorder.arrivals, 1);
}

TEST_F(Win32SocketTest, EventsOfAClosedAttemptNeverReachTheNextOne)
{
    // The first attempt is closed at once; its events still come, and its
    // handle may be the next socket's.
    recorder.closeOnEvent = false;
    Connect("127.0.0.1", kAnswering);
    socket.Close();
    Connect("127.0.0.1", kClosed);
    WaitForEvent(10);
    Linger(0.5);
    EXPECT_EQ(recorder.arrivals, 0);
    EXPECT_EQ(recorder.errors, std::vector<int>{10061});

    // Many attempts in a row, each closed before its outcome: only the last counts.
    recorder.errors.clear();
    for (int i = 0; i < 20; ++i) {
        Connect("127.0.0.1", i % 2 == 0 ? kAnswering : kClosed);
        socket.Close();
    }
    Connect("127.0.0.1", kAnswering);
    WaitForEvent(10);
    Linger(0.5);
    EXPECT_EQ(recorder.arrivals, 1);
    EXPECT_TRUE(recorder.errors.empty());
    socket.Close();
}

TEST_F(Win32SocketTest, ALookupOfAnEarlierAttemptIsDropped)
{
    // A name no name server knows (there is none in the namespace): its
    // lookup may take long; the next attempt does not wait for it, and its
    // answer, whenever it comes, reaches nobody.
    Connect("veltrane-test.invalid", kAnswering);
    socket.Close();
    Connect("127.0.0.1", kAnswering);
    WaitForEvent(10);
    EXPECT_EQ(recorder.arrivals, 1);
    EXPECT_TRUE(recorder.errors.empty());
}

TEST_F(Win32SocketTest, AnEmptyHostIsAnErrorThroughThePump)
{
    Connect("", kAnswering);
    EXPECT_EQ(recorder.Events(), 0);
    WaitForEvent(10);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0], 11001);
}

// Whatever number the system gives, the log shows that number: the named
// ones through their failure, the others as they are.
TEST(Win32SocketErrors, EveryNumberComesBackAsItself)
{
    for (int number = 10000; number <= 11100; ++number) {
        const SocketError error = Win32Socket::SocketErrorOf(number, "text");
        EXPECT_EQ(WinsockNumber(error), number);
        EXPECT_EQ(error.description, "text");
    }
    EXPECT_EQ(Win32Socket::SocketErrorOf(WSAECONNREFUSED, "").failure, SocketFailure::Refused);
    EXPECT_EQ(Win32Socket::SocketErrorOf(WSAECONNABORTED, "").failure, SocketFailure::Other);
}

}  // namespace
}  // namespace vel::platform
