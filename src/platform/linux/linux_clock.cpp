#include "platform/linux/linux_clock.h"

#include <grp.h>
#include <langinfo.h>
#include <pwd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/hardware_clock.h"
#include "platform/linux/linux_machine_run.h"
#include "platform/linux/linux_time_services.h"
#include "platform/linux/privilege_split.h"
#include "platform/linux/privileged_clock.h"
#include "platform/linux/linux_timedated.h"

namespace vel::platform {

namespace {

// localtime_r of an instant; false when the C library cannot represent it.
bool LocalTm(const Instant& t, tm& local)
{
    const auto seconds = static_cast<time_t>(t.seconds);
    if (static_cast<std::int64_t>(seconds) != t.seconds || t.nanoseconds < 0 || t.nanoseconds > 999999999)
        return false;
    return ::localtime_r(&seconds, &local) != nullptr;
}

LocalTimestamp TimestampOf(const tm& local, std::int32_t nanoseconds)
{
    LocalTimestamp result;
    // A leap second (tm_sec 60) is shown as the last second of its minute.
    result.time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                   local.tm_hour,        local.tm_min,     local.tm_sec > 59 ? 59 : local.tm_sec};
    result.nanoseconds = nanoseconds;
    return result;
}

std::string TimeSeparator()
{
    // The separator that follows the hours in the locale's time format.
    const char* format = ::nl_langinfo(T_FMT);
    if (format) {
        const char* hours = std::strstr(format, "%H");
        if (!hours)
            hours = std::strstr(format, "%I");
        if (hours && hours[2] != '\0' && hours[2] != '%')
            return std::string(1, hours[2]);
    }
    return ":";
}

}  // namespace

std::optional<LocalTimestamp> LocalOf(const Instant& t)
{
    tm local{};
    if (!LocalTm(t, local))
        return std::nullopt;
    return TimestampOf(local, t.nanoseconds);
}

ClockReading LinuxClock::Read()
{
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    ClockReading reading;
    reading.utc = {static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec)};
    tm local{};
    if (LocalTm(reading.utc, local)) {
        reading.local = TimestampOf(local, reading.utc.nanoseconds);
        reading.utcOffsetSeconds = static_cast<std::int32_t>(local.tm_gmtoff);  // local minus UTC
    }
    reading.timeSeparator = TimeSeparator();
    return reading;
}

double LinuxClock::MonotonicSeconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

namespace {

// The running user's name, for the fix of a refused setting.
std::string UserName()
{
    passwd entry{};
    passwd* found = nullptr;
    std::string buffer(16384, '\0');
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && *found->pw_name != '\0')
        return found->pw_name;
    return "NAME";
}

// Whether the group database names `user` a member of `groupName` (as polkit
// asks it: a group joined after log-in counts already).
bool InGroup(const std::string& user, const char* groupName)
{
    group entry{};
    group* found = nullptr;
    std::string buffer(65536, '\0');
    if (::getgrnam_r(groupName, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return false;
    const gid_t wanted = found->gr_gid;
    passwd account{};
    passwd* who = nullptr;
    std::string accountBuffer(16384, '\0');
    if (::getpwnam_r(user.c_str(), &account, accountBuffer.data(), accountBuffer.size(), &who) != 0 || who == nullptr)
        return false;
    std::vector<gid_t> groups(64);
    int count = static_cast<int>(groups.size());
    while (::getgrouplist(user.c_str(), who->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count) + 64);
        count = static_cast<int>(groups.size());
    }
    return std::find(groups.begin(), groups.begin() + count, wanted) != groups.begin() + count;
}

}  // namespace

ClockSetResult LinuxClock::SetTime(const Instant& utc)
{
    // The step this setting makes, should a service have to make it later:
    // the machine's run or polkit may take seconds, and the clock runs on.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const Span step = utc - Instant{static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(utc.seconds);
    ts.tv_nsec = utc.nanoseconds;
    if (static_cast<std::int64_t>(ts.tv_sec) != utc.seconds || utc.seconds < 0 || utc.nanoseconds < 0 ||
        utc.nanoseconds > 999999999)
        return {false, EINVAL, "the time " + ToIsoText(UtcDateTime(utc)) + " UTC cannot be set on this system"};
    ClockSetResult own;
    if (clockPart_ != nullptr) {
        // The part that holds the right adds the step to its own reading,
        // so the way there makes the clock no later.
        own = clockPart_->StepSystemClock(utc - SystemClockAccess().Now());
        if (own.ok)
            return own;
    } else if (::clock_settime(CLOCK_REALTIME, &ts) == 0) {
        // The machine's run keeps the hardware clock with it, so the next
        // boot starts right (timedated does so itself on its way; the part
        // that holds the right does so after its step).
        ClockSetResult result{true, 0, {}};
        if (machine_)
            result.hardwareClock = SetHardwareClockFromSystemClock();
        return result;
    } else {
        const int error = errno;
        own = {false, error, ClockSetErrorText(error)};
    }
    if (own.errorNumber != EPERM)
        return own;
    // No CAP_SYS_TIME. A user whom polkit lets start the machine's run has
    // that set it, from the machine's settings; the machine's run itself is
    // that service.
    if (!machine_) {
        const MachineRun run = RunMachineService();
        if (run.setClock)
            return {true, 0, {}, {}, "the machine's run " + std::string(kMachineService) + " set the clock"};
        if (run.started)
            return {false, own.errorNumber, own.description + "; " + run.description};
    }
    // Otherwise the system's time service may do it for us, once polkit has
    // allowed it, which may take seconds (a password asked). So it gets the
    // step to make, not an instant that would be late by the time it took.
    std::string refusal;
    const std::string service = StepTimeThroughTimedated(step, {}, &refusal);
    if (service.empty())
        return {true, 0, {}};
    Requester who{UserName(), false, SessionKind::Unknown};
    if (!machine_ && IsPermissionRefusal(refusal)) {
        who.member = InGroup(who.user, kClockGroup);
        who.session = SessionOfThisProcess();
    }
    return {false, own.errorNumber, own.description + "; " + service, SetTimeRemedy(refusal, who, machine_)};
}

TimeService LinuxClock::TimeServiceInCharge()
{
    return FindTimeServiceInCharge();
}

bool IsPermissionRefusal(const std::string& timedatedError)
{
    return timedatedError == "org.freedesktop.DBus.Error.AccessDenied" ||
           timedatedError == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired";
}

std::string SetTimeRemedy(const std::string& timedatedError, const Requester& who, bool machine)
{
    if (machine)
        return "the machine's runs set it as the system service veltrane-sync.service, which holds the right to: "
               "sudo systemctl start veltrane-sync.service";
    if (timedatedError == "org.freedesktop.timedate1.AutomaticTimeSyncEnabled")
        return "automatic time synchronisation keeps it; to let Veltrane set it, turn that off: "
               "timedatectl set-ntp false";
    if (!IsPermissionRefusal(timedatedError))
        return {};
    const std::string& user = who.user;
    const std::string everyone =
        "or has the machine set it for every user: sudo systemctl enable --now "
        "veltrane-sync.timer";
    if (!who.member)
        return "to let " + user + " set it without a password, an administrator adds " + user +
               " to the group veltrane: sudo adduser " + user + " veltrane (then " + user + " logs in again); " +
               everyone;
    std::string why;
    switch (who.session) {
        case SessionKind::Remote:
            why = "this run's session is a remote one (SSH): run it at the machine itself";
            break;
        case SessionKind::Inactive:
            why = "this run's session is not the active one (another session is in front): run it when " + user +
                  "'s session is";
            break;
        case SessionKind::None:
            why = "this run belongs to no login session, and no session of " + user +
                  "'s is the active one at the machine: run it while one is";
            break;
        case SessionKind::ActiveLocal:
            why =
                "this run's session is one, yet the start was refused: the package's rule "
                "/usr/share/polkit-1/rules.d/50-veltrane-set-time.rules may be missing or overridden, or polkitd "
                "not running";
            break;
        case SessionKind::Unknown:
            why = "logind could not say which session this run belongs to: run it from " + user +
                  "'s active session at the machine";
            break;
    }
    return user +
           " is a member of the group veltrane, whose members may have the clock set without a password "
           "only from an active session at the machine itself; " +
           why + "; an administrator " + everyone;
}

}  // namespace vel::platform
