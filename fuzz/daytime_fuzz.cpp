// libFuzzer target for the Daytime answer parser. Build and run from the
// repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/daytime_fuzz.cpp src/timesource/daytime_answer.cpp src/timesource/time_zone.cpp \
//     src/platform/local_date_time.cpp src/platform/instant.cpp -o build/daytime_fuzz
//   mkdir -p build/daytime-corpus
//   build/daytime_fuzz -max_total_time=60 -max_len=70000 build/daytime-corpus fuzz/corpus/daytime
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
    const std::string parsed = vel::ParseDaytimeAnswer(answer);
    if (!parsed.empty()) {
        // Whatever the parser accepts is a real date and time of day, and
        // printable: it goes into the log.
        const auto utc = vel::ReadParsedAnswer(parsed);
        if (!utc || !vel::platform::IsValidDate(utc->year, utc->month, utc->day) ||
            !vel::platform::IsValidTimeOfDay(utc->hour, utc->minute, utc->second))
            std::abort();
        for (const char c : parsed)
            if (c < 0x20 || c > 0x7E)
                std::abort();
        if (parsed.size() > 32)
            std::abort();
        // The instant it names is that date-time; an on-time line's advance
        // is less than a second.
        const auto named = vel::NamedInstant(answer);
        const bool onTime = vel::IsOnTimeAnswer(answer);
        if (!named || *named != vel::platform::InstantOfUtc(*utc))
            std::abort();
        if (const auto advance = vel::OnTimeAdvance(answer); advance && (advance->seconds != 0))
            std::abort();
        // Only a NIST line is on time, and only UTC is taken from xinetd's layout.
        auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
        const bool shortLayout = answer[3] == ' ';
        const bool xinetd = answer.size() >= 7 && answer[2] == ' ' && letter(answer[3]) && letter(answer[4]) &&
                            letter(answer[5]) && answer[6] == ' ';
        if (onTime && (shortLayout || xinetd))
            std::abort();
        if (xinetd) {
            const std::string_view zone = answer.substr(21, 3);
            if (zone != "UTC" && zone != "GMT")
                std::abort();
        }
    } else if (vel::NamedInstant(answer)) {
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
