// The claim of a window run on Windows: one holder per program folder (in any
// case of its letters), whose answer a later start has through the holder's
// message-only window, or is told it has not; the claim ends with its holder
// or when it lets go.
#include "platform/win32/win32_window_run_claim.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace vel::platform {
namespace {

TEST(Win32WindowRunClaim, ALaterStartHasTheHoldersAnswerUntilItLetsGo)
{
    Win32EventPump pump;
    auto first = std::make_unique<Win32WindowRunClaim>(pump);
    Win32WindowRunClaim later(pump);
    int fronts = 0;
    ASSERT_EQ(first->Claim("C:\\Tools\\Veltrane", [&] { ++fronts; }).result, ClaimResult::Claimed);
    const ClaimOutcome asked = later.Claim("c:\\tools\\VELTRANE", {});
    EXPECT_EQ(asked.result, ClaimResult::HolderBroughtToFront);
    EXPECT_EQ(asked.holderProcess, static_cast<std::int64_t>(::GetCurrentProcessId()));
    EXPECT_EQ(fronts, 1);

    Win32WindowRunClaim other(pump);
    EXPECT_EQ(other.Claim("C:\\Tools\\Other", {}).result, ClaimResult::Claimed);
    first->Release();  // its window closed, its run goes on
    EXPECT_EQ(later.Claim("C:\\Tools\\Veltrane", {}).result, ClaimResult::Claimed);
    later.Release();
    first.reset();
    EXPECT_EQ(other.Claim("C:\\Tools\\Veltrane", {}).result, ClaimResult::Claimed);
}

// A holder whose thread takes no messages (a suspended or hung process) gives
// no answer: the later start is told so within the bound, with its process.
TEST(Win32WindowRunClaim, AHolderThatDoesNotAnswerIsNotReachedWithinTheBound)
{
    const HANDLE claimed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        Win32EventPump pump;
        Win32WindowRunClaim claim(pump);
        EXPECT_EQ(claim.Claim("C:\\Tools\\Stopped", {}).result, ClaimResult::Claimed);
        ::SetEvent(claimed);
        ::WaitForSingleObject(done, INFINITE);  // no message is taken meanwhile
    });
    ::WaitForSingleObject(claimed, INFINITE);
    Win32EventPump pump;
    Win32WindowRunClaim later(pump, 0.3);
    const DWORD start = ::GetTickCount();
    const ClaimOutcome asked = later.Claim("C:\\Tools\\Stopped", {});
    const DWORD waited = ::GetTickCount() - start;
    ::SetEvent(done);
    holder.join();
    EXPECT_EQ(asked.result, ClaimResult::HolderNotReached);
    EXPECT_EQ(asked.holderProcess, static_cast<std::int64_t>(::GetCurrentProcessId()));
    EXPECT_GE(waited, 250u);
    EXPECT_LT(waited, 3000u);
    ::CloseHandle(claimed);
    ::CloseHandle(done);
}

}  // namespace
}  // namespace vel::platform
