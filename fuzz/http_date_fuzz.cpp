// libFuzzer target for the reader of an HTTPS server's Date header (run by
// fuzz/run.sh with the others).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/local_date_time.h"
#include "timesource/https_constraint.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto date = vel::ParseHttpDate(text);
    if (!date)
        return 0;
    // What it accepts is a real date and time of day, on the second, and
    // blanks around it change nothing.
    const vel::platform::LocalDateTime utc = vel::platform::UtcDateTime(*date);
    if (date->nanoseconds != 0 || !vel::platform::IsValidDate(utc.year, utc.month, utc.day) ||
        vel::platform::InstantOfUtc(utc) != *date)
        std::abort();
    if (vel::ParseHttpDate(" " + std::string(text) + " ") != date)
        std::abort();
    // Its range is a second wide for a reply that took no time.
    const vel::OffsetRange range = vel::ConstraintRange(*date, *date, *date);
    if (range.high - range.low != vel::platform::Seconds(1))
        std::abort();
    return 0;
}
