// libFuzzer target for the Daytime answer parser. `bash fuzz/run.sh SECONDS`
// builds it with clang and runs it on a copy of fuzz/corpus/daytime; the test
// suite runs it for a few seconds without libFuzzer (fuzz/smoke_driver.cpp).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/local_date_time.h"
#include "timesource/daytime_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    if (const auto read = vel::ParseDaytimeAnswer(answer)) {
        // Whatever the parser accepts is a real date and time of day, and the
        // instant it names is that date-time.
        const vel::platform::LocalDateTime& utc = read->utc;
        if (!vel::platform::IsValidDate(utc.year, utc.month, utc.day) ||
            !vel::platform::IsValidTimeOfDay(utc.hour, utc.minute, utc.second) ||
            read->named != vel::platform::InstantOfUtc(utc))
            std::abort();
        // Exactly one row of the table tells the layout: the first that fits.
        const vel::DaytimeLayoutRow* row = nullptr;
        for (const vel::DaytimeLayoutRow& candidate : vel::kDaytimeLayouts)
            if (row == nullptr && candidate.isOfLayout(answer))
                row = &candidate;
        if (row == nullptr || row->layout != read->layout)
            std::abort();
        // Only a NIST line is on time, and its advance is less than a second.
        if (read->onTimeAdvance && (read->layout != vel::DaytimeLayout::Nist || read->onTimeAdvance->seconds != 0))
            std::abort();
        // Only UTC is taken from xinetd's layout.
        if (read->layout == vel::DaytimeLayout::Xinetd) {
            const std::string_view zone = answer.substr(21, 3);
            if (zone != "UTC" && zone != "GMT")
                std::abort();
        }
        // The estimate stays within a second and a half of the named second
        // for any round trip up to a second.
        const vel::ServerEstimate estimate = vel::EstimateServerTime(*read, vel::platform::MakeSpan(0, 999999999));
        if (vel::platform::ToDouble(estimate.atArrival - read->named) > 1.5 ||
            vel::platform::ToDouble(estimate.atArrival - read->named) < -1.0)
            std::abort();
    }
    const std::string shown = vel::PrintableAnswer(answer);
    for (const char c : shown)
        if (c < 0x20 || c > 0x7E)
            std::abort();
    if (shown.size() > 4 * vel::kPrintableAnswerLimit + 32)
        std::abort();
    return 0;
}
