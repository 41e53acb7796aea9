// The event pump over Qt's event loop.
#pragma once

#include <QObject>

#include "platform/event_pump.h"

class QEventLoop;

namespace vel::platform {

class QtEventPump : public EventPump {
public:
    void DoEvents() override;
    // Runs a QEventLoop quit by a precise timer (or by Wake): it repaints and
    // uses no CPU while nothing happens.
    void WaitForEvents(double maxSeconds) override;
    void Post(std::function<void()> task) override;
    void Wake() override;

private:
    QEventLoop* innermost_ = nullptr;
    bool woken_ = false;
    // What Post hands to Qt belongs to this pump: a pump that is gone drops
    // the tasks it had not run yet.
    QObject posted_;
};

}  // namespace vel::platform
