#include "platform/win32/win32_clock.h"

#include <windows.h>

#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

// 100-ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

std::uint64_t Ticks(const FILETIME& ft)
{
    return static_cast<std::uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

FILETIME FileTime(std::uint64_t ticks)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

// The precise reading where the system has it (Windows 8 and later).
std::uint64_t SystemTicksNow()
{
    using Precise = void(WINAPI*)(LPFILETIME);
    static const Precise precise = [] {
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        return kernel != nullptr ? reinterpret_cast<Precise>(reinterpret_cast<void*>(
                                       ::GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")))
                                 : nullptr;
    }();
    FILETIME ft;
    if (precise != nullptr)
        precise(&ft);
    else
        ::GetSystemTimeAsFileTime(&ft);
    return Ticks(ft);
}

bool EnableSystemTimePrivilege()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool ok = ::LookupPrivilegeValueW(nullptr, SE_SYSTEMTIME_NAME, &privileges.Privileges[0].Luid) &&
              ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Not held at all: AdjustTokenPrivileges succeeds with ERROR_NOT_ALL_ASSIGNED.
    ok = ok && ::GetLastError() == ERROR_SUCCESS;
    ::CloseHandle(token);
    return ok;
}

std::string TimeSeparator()
{
    wchar_t separator[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) <= 1)
        return ":";
    return Narrow(separator);
}

}  // namespace

std::uint64_t InstantToFileTimeTicks(const UtcInstant& instant)
{
    return kUnixEpochTicks + static_cast<std::uint64_t>(instant.seconds) * kTicksPerSecond +
           static_cast<std::uint64_t>(instant.nanoseconds / 100);
}

UtcInstant FileTimeTicksToInstant(std::uint64_t ticks)
{
    const auto sinceEpoch = static_cast<std::int64_t>(ticks - kUnixEpochTicks);
    std::int64_t seconds = sinceEpoch / static_cast<std::int64_t>(kTicksPerSecond);
    std::int64_t rest = sinceEpoch % static_cast<std::int64_t>(kTicksPerSecond);
    if (rest < 0) {
        rest += static_cast<std::int64_t>(kTicksPerSecond);
        --seconds;
    }
    return {seconds, static_cast<std::int32_t>(rest * 100)};
}

UtcInstant SystemClockNow()
{
    return FileTimeTicksToInstant(SystemTicksNow());
}

ClockSetResult ClockSetFailure(std::uint32_t error)
{
    return {false, static_cast<int>(error), SystemErrorText(error)};
}

ClockSetResult SetSystemClock(const UtcInstant& instant)
{
    if (instant.seconds < 0 || instant.nanoseconds < 0 || instant.nanoseconds > 999999999)
        return ClockSetFailure(ERROR_INVALID_PARAMETER);
    SYSTEMTIME utc;
    const FILETIME ft = FileTime(InstantToFileTimeTicks(instant));
    if (!::FileTimeToSystemTime(&ft, &utc))
        return ClockSetFailure(::GetLastError());
    // Without the privilege SetSystemTime fails and says why.
    EnableSystemTimePrivilege();
    if (!::SetSystemTime(&utc))
        return ClockSetFailure(::GetLastError());
    return {true, 0, {}};
}

bool Win32Clock::LocalOf(const Instant& instant, LocalTimestamp& local)
{
    if (instant.seconds < 0 || instant.nanoseconds < 0 || instant.nanoseconds > 999999999)
        return false;
    const FILETIME ft = FileTime(InstantToFileTimeTicks(instant));
    SYSTEMTIME utc;
    SYSTEMTIME shown;
    if (!::FileTimeToSystemTime(&ft, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &shown))
        return false;
    local.time = {shown.wYear, shown.wMonth, shown.wDay, shown.wHour, shown.wMinute, shown.wSecond};
    local.nanoseconds = instant.nanoseconds;
    return true;
}

ClockReading Win32Clock::Read()
{
    ClockReading reading;
    reading.utc = FileTimeTicksToInstant(SystemTicksNow());
    LocalOf(reading.utc, reading.local);
    reading.utcOffsetSeconds = UtcOffsetSeconds();
    reading.timeSeparator = TimeSeparator();
    return reading;
}

double Win32Clock::MonotonicSeconds()
{
    LARGE_INTEGER frequency;
    LARGE_INTEGER counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::int32_t Win32Clock::UtcOffsetSeconds()
{
    TIME_ZONE_INFORMATION record{};
    const DWORD id = ::GetTimeZoneInformation(&record);
    if (id == TIME_ZONE_ID_INVALID)
        return 0;
    // Minutes, UTC = local + bias; summed in 64 bits, so a broken record
    // cannot overflow, and held within a day of UTC.
    const std::int64_t bias = static_cast<std::int64_t>(record.Bias) +
                              (id == TIME_ZONE_ID_DAYLIGHT ? record.DaylightBias : record.StandardBias);
    constexpr std::int64_t kDay = 24 * 3600;
    const std::int64_t seconds = -bias * 60;
    return static_cast<std::int32_t>(seconds > kDay ? kDay : seconds < -kDay ? -kDay : seconds);
}

ClockSetResult Win32Clock::SetTime(const Instant& utc)
{
    if (utc.seconds < 0 || utc.nanoseconds < 0 || utc.nanoseconds > 999999999)
        return {false, ERROR_INVALID_PARAMETER,
                "the time " + ToIsoText(UtcDateTime(utc)) + " UTC cannot be set on this system"};
    if (!setter_)
        return ClockSetFailure(ERROR_NOT_SUPPORTED);
    ClockSetResult result = setter_(utc);
    if (!result.ok && result.errorNumber == ERROR_PRIVILEGE_NOT_HELD && result.remedy.empty())
        result.remedy = privilegeFix_;
    return result;
}

}  // namespace vel::platform
