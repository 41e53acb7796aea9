#include <gtest/gtest.h>

#include "platform/linux/linux_dialup.h"
#include "support/entry_name_cases.h"

namespace vel::platform {
namespace {

TEST(LinuxEntryNames, CaseIsIgnoredInEveryScript)
{
    LinuxDialUpConfig config;
    config.busAddress = "unix:path=/nonexistent/veltrane-test-bus";
    LinuxDialUp dialUp(config);
    for (const test::EntryNameCase& c : test::kEntryNameCases)
        EXPECT_EQ(dialUp.SameEntryNameIgnoringCase(c.a, c.b), c.onLinux) << c.a << " " << c.b;
}

}  // namespace
}  // namespace vel::platform
