#include "platform/linux/privileged_clock.h"

#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/hardware_clock.h"

namespace vel::platform {

Instant SystemClockAccess::Now()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return {static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

int SystemClockAccess::Set(const Instant& utc)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(utc.seconds);
    ts.tv_nsec = utc.nanoseconds;
    if (static_cast<std::int64_t>(ts.tv_sec) != utc.seconds)
        return EINVAL;
    return ::clock_settime(CLOCK_REALTIME, &ts) == 0 ? 0 : errno;
}

std::string SystemClockAccess::KeepHardwareClock()
{
    return SetHardwareClockFromSystemClock();
}

std::string ClockSetErrorText(int errorNumber)
{
    std::string text = std::strerror(errorNumber);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return "clock_settime: " + text;
}

int ServeClockRequests(int fd, ClockAccess& clock, ClockRequestRules& rules, std::string& fault)
{
    for (;;) {
        // One more byte than a request: a longer message shows its length.
        std::uint8_t buffer[kClockRequestSize + 1];
        const ssize_t size = ::recv(fd, buffer, sizeof buffer, MSG_TRUNC);
        if (size < 0 && errno == EINTR)
            continue;
        if (size == 0)
            return 0;
        if (size < 0) {
            fault = std::string("reading a request: ") + std::strerror(errno);
            return 2;
        }
        // MSG_TRUNC: the message's own length, even where it was longer.
        const auto length = static_cast<std::size_t>(size);
        const std::optional<ClockRequest> request =
            DecodeClockRequest({buffer, length < sizeof buffer ? length : sizeof buffer}, fault);
        if (!request) {
            fault =
                "no request: " + (length > sizeof buffer ? "a message of " + std::to_string(length) + " bytes" : fault);
            return 1;
        }
        ClockAnswer answer;
        if (const std::optional<Instant> target = rules.Allow(*request, clock.Now(), answer)) {
            const int error = clock.Set(*target);
            // A setting's answer carries the hardware clock's line instead.
            answer = {request->kind, error == 0, error,
                      error == 0 ? clock.KeepHardwareClock() : ClockSetErrorText(error)};
        }
        const ClockAnswerBytes bytes = EncodeClockAnswer(answer);
        ssize_t sent = 0;
        do
            sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(bytes.size())) {
            fault = std::string("answering: ") + std::strerror(errno);
            return 2;
        }
    }
}

}  // namespace vel::platform
