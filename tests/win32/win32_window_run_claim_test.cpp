// The claim of a window run on Windows: one holder per program folder (in any
// case of its letters), which a later start reaches through the holder's
// message-only window; the claim ends with its holder.
#include "platform/win32/win32_window_run_claim.h"

#include <gtest/gtest.h>

#include <memory>

namespace vel::platform {
namespace {

TEST(Win32WindowRunClaim, OneHolderPerFolderWhichALaterStartCallsToTheFront)
{
    Win32EventPump pump;
    auto first = std::make_unique<Win32WindowRunClaim>(pump);
    Win32WindowRunClaim later(pump);
    int fronts = 0;
    ASSERT_EQ(first->Claim("C:\\Tools\\Veltrane", [&] { ++fronts; }), ClaimResult::Claimed);
    EXPECT_EQ(later.Claim("c:\\tools\\VELTRANE", {}), ClaimResult::HolderBroughtToFront);
    pump.WaitForEvents(2.0);
    EXPECT_EQ(fronts, 1);

    Win32WindowRunClaim other(pump);
    EXPECT_EQ(other.Claim("C:\\Tools\\Other", {}), ClaimResult::Claimed);
    first.reset();  // the holder ends: the claim goes with it
    EXPECT_EQ(later.Claim("C:\\Tools\\Veltrane", {}), ClaimResult::Claimed);
}

}  // namespace
}  // namespace vel::platform
