#include "platform/linux/hardware_clock.h"

#include <fcntl.h>
#include <linux/rtc.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

namespace vel::platform {

namespace {

std::string Trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string ErrorText(int number)
{
    std::string text = std::strerror(number);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

}  // namespace

bool KeepsLocalTime(const std::string& adjtimeText)
{
    std::istringstream lines(adjtimeText);
    std::string line;
    for (int i = 0; i < 3; ++i) {
        if (!std::getline(lines, line))
            return false;
    }
    return Trimmed(line) == "LOCAL";
}

int SetRtcByIoctl(int fd, const LocalDateTime& utc)
{
    rtc_time t{};
    t.tm_year = utc.year - 1900;
    t.tm_mon = utc.month - 1;
    t.tm_mday = utc.day;
    t.tm_hour = utc.hour;
    t.tm_min = utc.minute;
    t.tm_sec = utc.second;
    t.tm_isdst = 0;
    return ::ioctl(fd, RTC_SET_TIME, &t) == 0 ? 0 : errno;
}

std::string SetHardwareClock(const Instant& utc, const HardwareClockFiles& files, const RtcSetter& setter)
{
    std::ifstream adjtime(files.adjtime, std::ios::binary);
    std::ostringstream text;
    if (adjtime)
        text << adjtime.rdbuf();
    if (KeepsLocalTime(text.str()))
        return "hardware clock left alone: " + files.adjtime + " says it keeps local time";
    // Never a terminal of ours; a device busy with another reader fails at once.
    const int fd = ::open(files.device.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return "hardware clock: none at " + files.device + ", nothing to set";
        return "WARNING: hardware clock not set: " + files.device + ": " + ErrorText(error);
    }
    const int error = setter(fd, UtcDateTime(utc));
    ::close(fd);
    if (error != 0)
        return "WARNING: hardware clock not set: " + files.device + ": RTC_SET_TIME: " + ErrorText(error);
    return "hardware clock set to the system clock (UTC): " + files.device;
}

std::string SetHardwareClockFromSystemClock(const HardwareClockFiles& files)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    // The device takes whole seconds: set it as the next one begins.
    timespec wait{0, 1000000000L - now.tv_nsec};
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
    return SetHardwareClock({static_cast<std::int64_t>(now.tv_sec) + 1, 0}, files);
}

}  // namespace vel::platform
