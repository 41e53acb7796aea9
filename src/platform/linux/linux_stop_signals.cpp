#include "platform/linux/linux_stop_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace vel::platform {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCount = static_cast<int>(sizeof kStopSignals / sizeof kStopSignals[0]);

// The pipe from the handler to the event loop; -1 while no watcher exists.
int stopPipe[2] = {-1, -1};

// Signals that came while a DeferStopSignals guard was in place.
volatile std::sig_atomic_t deferred[kCount] = {};
int deferDepth = 0;
struct sigaction beforeDefer[kCount];

extern "C" void WriteStopToPipe(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (stopPipe[1] >= 0)
        (void)!::write(stopPipe[1], &byte, 1);
    errno = saved;
}

extern "C" void NoteDeferredStop(int number)
{
    for (int i = 0; i < kCount; ++i)
        if (kStopSignals[i] == number)
            deferred[i] = 1;
}

void SetAction(int number, void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int other : kStopSignals)
        sigaddset(&action.sa_mask, other);
    action.sa_flags = handler == SIG_DFL || handler == SIG_IGN ? 0 : SA_RESTART;
    ::sigaction(number, &action, nullptr);
}

bool IsIgnored(int number)
{
    struct sigaction current {};
    return ::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// The watcher's signals go back to their default action; ignored ones stay.
void RestoreDefaults()
{
    for (int number : kStopSignals)
        if (!IsIgnored(number))
            SetAction(number, SIG_DFL);
}

}  // namespace

StopSignalWatcher::StopSignalWatcher(Handler onStop) : onStop_(std::move(onStop))
{
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        stopPipe[0] = stopPipe[1] = -1;
        return;  // the signals keep their default action
    }
    notifier_ = std::make_unique<QSocketNotifier>(stopPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadPipe(); });
    for (int number : kStopSignals)
        if (!IsIgnored(number))
            SetAction(number, WriteStopToPipe);
}

StopSignalWatcher::~StopSignalWatcher()
{
    RestoreDefaults();
    notifier_.reset();
    for (int& fd : stopPipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void StopSignalWatcher::ReadPipe()
{
    unsigned char received[16];
    const ssize_t n = ::read(stopPipe[0], received, sizeof received);
    if (n <= 0)
        return;
    notifier_->setEnabled(false);
    // From now on a stop signal ends the program at once.
    RestoreDefaults();
    if (n > 1)
        ::raise(received[1]);  // a second one came before we got to the first
    onStop_(received[0], SignalName(received[0]));
}

DeferStopSignals::DeferStopSignals()
{
    if (deferDepth++ > 0)
        return;
    for (int i = 0; i < kCount; ++i) {
        deferred[i] = 0;
        struct sigaction note {};
        note.sa_handler = NoteDeferredStop;
        sigemptyset(&note.sa_mask);
        note.sa_flags = SA_RESTART;
        ::sigaction(kStopSignals[i], nullptr, &beforeDefer[i]);
        if (beforeDefer[i].sa_handler != SIG_IGN)
            ::sigaction(kStopSignals[i], &note, nullptr);
    }
}

DeferStopSignals::~DeferStopSignals()
{
    if (--deferDepth > 0)
        return;
    for (int i = 0; i < kCount; ++i)
        ::sigaction(kStopSignals[i], &beforeDefer[i], nullptr);
    for (int i = 0; i < kCount; ++i)
        if (deferred[i]) {
            deferred[i] = 0;
            ::raise(kStopSignals[i]);
        }
}

std::string SignalName(int number)
{
    switch (number) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "signal " + std::to_string(number);
    }
}

}  // namespace vel::platform
