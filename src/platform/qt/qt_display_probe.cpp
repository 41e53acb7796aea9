#include "platform/qt/qt_display_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "common/text.h"

namespace vel::platform {

namespace {

constexpr int kProbeSeconds = 10;
constexpr std::size_t kMaxOutput = 64 * 1024;
constexpr std::size_t kMaxFailure = 200;

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// The child: Qt's windows start, or Qt ends the process. What Qt says goes
// to `output`, the platform's name to `result`.
[[noreturn]] void RunProbe(int argc, char** argv, int output, int result)
{
    ::dup2(output, STDERR_FILENO);
    QApplication qt(argc, argv);
    const std::string name = QGuiApplication::platformName().toStdString();
    (void)!::write(result, name.data(), name.size());
    ::_exit(0);
}

// Reads the child's messages until it closes them or the deadline passes;
// false on the deadline.
bool ReadUntilClosed(int fd, std::string& text)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kProbeSeconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ready < 0;  // an error of poll itself ends the wait as closed
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        if (text.size() < kMaxOutput)
            text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

bool IsSeenPlatform(const std::string& platformName)
{
    return platformName != "offscreen" && platformName != "minimal" && platformName != "minimalegl";
}

std::string DisplayFailure(const std::string& qtOutput, int signal)
{
    std::string chosen;
    for (const std::string_view raw : SplitLines(qtOutput)) {
        const std::string_view line = TrimBlanksAndTabs(raw);
        if (line.substr(0, 7) == "qt.qpa.") {
            const std::size_t colon = line.find(": ");
            chosen = colon == std::string_view::npos ? line : TrimBlanksAndTabs(line.substr(colon + 2));
            break;
        }
        if (chosen.empty())
            chosen = line;
    }
    for (char& c : chosen)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    if (chosen.size() > kMaxFailure)
        chosen = chosen.substr(0, kMaxFailure) + "...";
    if (!chosen.empty())
        return chosen;
    return signal != 0 ? "Qt's windows could not start (signal " + std::to_string(signal) + ")"
                       : "Qt's windows could not start";
}

DisplayProbe ProbeDisplay(int argc, char** argv)
{
    DisplayProbe probe;
    if (!IsSet("QT_QPA_PLATFORM") && !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY")) {
        probe.failure = "DISPLAY and WAYLAND_DISPLAY are not set";
        return probe;
    }
    int output[2];
    int result[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        probe.failure = std::string("no pipe for the display test: ") + std::strerror(errno);
        return probe;
    }
    if (::pipe2(result, O_CLOEXEC) != 0) {
        probe.failure = std::string("no pipe for the display test: ") + std::strerror(errno);
        ::close(output[0]);
        ::close(output[1]);
        return probe;
    }
    const pid_t child = ::fork();
    if (child == 0)
        RunProbe(argc, argv, output[1], result[1]);
    ::close(output[1]);
    ::close(result[1]);
    if (child < 0) {
        probe.failure = std::string("the display test could not start: ") + std::strerror(errno);
        ::close(output[0]);
        ::close(result[0]);
        return probe;
    }

    std::string messages;
    const bool ended = ReadUntilClosed(output[0], messages);
    if (!ended)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    char name[64] = {};
    const ssize_t n = ended ? ::read(result[0], name, sizeof name - 1) : 0;
    ::close(output[0]);
    ::close(result[0]);

    if (!ended) {
        probe.failure = "the display did not answer within " + std::to_string(kProbeSeconds) + " seconds";
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && n > 0) {
        probe.opened = true;
        probe.seen = IsSeenPlatform(std::string(name, static_cast<std::size_t>(n)));
    } else {
        probe.failure = DisplayFailure(messages, WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    }
    return probe;
}

}  // namespace vel::platform
