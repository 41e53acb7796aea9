#include <gtest/gtest.h>

#include "platform/win32/win32_dialup_networking.h"
#include "support/entry_name_cases.h"

namespace vel::platform {
namespace {

TEST(Win32EntryNames, CaseIsIgnoredAsLstrcmpiIgnoresIt)
{
    Win32DialUpNetworking dialUp(DialUpApi{});
    for (const test::EntryNameCase& c : test::kEntryNameCases)
        EXPECT_EQ(dialUp.SameEntryNameIgnoringCase(c.a, c.b), c.onWindows) << c.a << " " << c.b;
}

}  // namespace
}  // namespace vel::platform
