// The WinHTTP back end of the HTTPS Date against tools/https-date-server on
// loopback, trusting the test's throw-away authority, which
// scripts/windows/wine-run.sh (VELTRANE_TEST_HTTPS=1) puts among the host's
// authorities that Wine reads:
//   4431 trusted, the true time      4432 expired, Date 2020-07-01 12:00
//   4433 another name                4434 signed by itself
//   4435 trusted, no Date            4439 nobody listens
#include "platform/win32/win32_https_date.h"

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/win32/win32_text.h"
#include "timesource/https_constraint.h"
#include "win32_test_support.h"

namespace vel::platform {
namespace {

using Outcome = HttpsDateReply::Outcome;

class Win32HttpsDateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (test::TestVariable("VELTRANE_TEST_HTTPS") != "1")
            GTEST_SKIP() << "needs the HTTPS servers of scripts/windows/wine-run.sh";
    }

    std::optional<HttpsDateReply> Ask(int port)
    {
        std::optional<HttpsDateReply> reply;
        https.Ask("localhost", port, [&](const HttpsDateReply& r) { reply = r; });
        const DWORD end = ::GetTickCount() + 10000;
        while (!reply && static_cast<LONG>(end - ::GetTickCount()) > 0)
            pump.WaitForEvents(0.1);
        return reply;
    }

    Win32EventPump pump;
    Win32HttpsDate https{pump};
};

TEST_F(Win32HttpsDateTest, TrustedDatesDateFaultsAndRefusals)
{
    const struct {
        int port;
        Outcome outcome;
        const char* date;   // expected Date; empty: any that reads
        const char* error;  // part of the reason of a failure
    } cases[] = {
        {4431, Outcome::Trusted, "", ""},
        {4432, Outcome::TrustedButForDates, "Wed, 01 Jul 2020 12:00:00 GMT", ""},
        {4433, Outcome::Failed, "", "its certificate is refused"},  // Wine gives no reason
        {4434, Outcome::Failed, "", "its certificate is refused"},
        {4435, Outcome::Failed, "", "its answer has no Date"},
        {4439, Outcome::Failed, "", "(error 12029)"},  // cannot connect
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        const std::optional<HttpsDateReply> reply = Ask(c.port);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->outcome, c.outcome) << reply->error;
        EXPECT_NE(reply->error.find(c.error), std::string::npos) << reply->error;
        if (c.outcome != Outcome::Failed) {
            EXPECT_TRUE(ParseHttpDate(reply->date)) << reply->date;
        }
        if (*c.date) {
            EXPECT_EQ(reply->date, c.date);
        }
        if (c.outcome == Outcome::TrustedButForDates) {
            ASSERT_FALSE(reply->chain.empty());
            EXPECT_EQ(reply->chain[0].notBefore, (InstantOfUtc({2020, 1, 1, 0, 0, 0})));
            EXPECT_EQ(reply->chain[0].notAfter, (InstantOfUtc({2021, 1, 1, 0, 0, 0})));
        }
    }
}

TEST_F(Win32HttpsDateTest, CancelledRequestsStaySilent)
{
    int replies = 0;
    https.Ask("localhost", 4431, [&](const HttpsDateReply&) { ++replies; });
    https.Ask("localhost", 4432, [&](const HttpsDateReply&) { ++replies; });
    https.CancelAll();
    const DWORD end = ::GetTickCount() + 1000;
    while (static_cast<LONG>(end - ::GetTickCount()) > 0)
        pump.WaitForEvents(0.1);
    EXPECT_EQ(replies, 0);
    EXPECT_TRUE(Ask(4431));
}

}  // namespace
}  // namespace vel::platform
