// The Winsock UDP socket against tools/sntp-server on loopback, which the
// test script starts (with the other test servers) on port 123; nobody
// listens on UDP 1399.
#include "platform/win32/win32_datagram_socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/win32_text.h"
#include "timesource/daytime_client.h"
#include "timesource/sntp_packet.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

class Win32DatagramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!test::TestServersRunning())
            GTEST_SKIP() << "needs the test servers of scripts/test-windows.sh";
    }
    void Open(const std::string& host, int port)
    {
        socket.Open(host, port, [this](const DatagramEvent& event) {
            events += "RAF"[static_cast<int>(event.kind)];
            if (event.kind == DatagramEvent::Kind::Failed)
                failure = event.error;
            while (const auto datagram = socket.Receive(49))
                received.push_back(*datagram);
        });
    }
    void WaitForEvents(std::size_t count, double seconds = 10)
    {
        const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (events.size() < count && static_cast<int>(end - ::GetTickCount()) > 0)
            pump.WaitForEvents(static_cast<double>(end - ::GetTickCount()) / 1000.0);
    }

    Win32EventPump pump;
    Win32DatagramSocket socket{pump};
    std::string events;  // R(eady), A(rrived), F(ailed)
    std::vector<std::string> received;
    SocketError failure;
};

TEST_F(Win32DatagramTest, ARequestIsAnsweredFromThePeerByNameAndByAddress)
{
    for (const char* host : {"127.0.0.1", "localhost"}) {
        SCOPED_TRACE(host);
        events.clear();
        received.clear();
        Open(host, 123);
        EXPECT_EQ(events, "") << "the outcome comes from the pump, never inside Open";
        WaitForEvents(1);
        ASSERT_EQ(events, "R");
        const vel::NtpTimestamp sent{0xE1000000, 0x12345678};
        SocketError error;
        ASSERT_TRUE(socket.Send(vel::EncodeClientRequest(sent), error)) << error.description;
        WaitForEvents(2);
        EXPECT_EQ(events, "RA");
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(vel::CheckServerReply(received[0], sent).verdict, vel::NtpVerdict::Usable);
    }
}

// The peer's "port unreachable" is a refusal, 10061: Windows reports it to
// the next read (an FD_READ event); Wine to a later read or send.
TEST_F(Win32DatagramTest, APortNobodyListensOnIsRefusedAs10061)
{
    Open("127.0.0.1", 1399);
    WaitForEvents(1);
    ASSERT_EQ(events, "R");
    SocketError error;
    for (std::uint32_t request = 1; request <= 4 && events == "R"; ++request) {
        if (!socket.Send(vel::EncodeClientRequest({1, request}), error)) {
            failure = error;
            break;
        }
        WaitForEvents(2, 0.5);
    }
    EXPECT_EQ(vel::WinsockNumber(failure), 10061) << events;
    EXPECT_EQ(failure.description, SystemErrorText(10061));
}

}  // namespace
}  // namespace vel::platform
