#include "platform/qt/qt_event_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <climits>
#include <cmath>

namespace vel::platform {

void QtEventPump::DoEvents()
{
    woken_ = false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::WaitForEvents(double maxSeconds)
{
    if (woken_) {
        // An event was dispatched since the caller last looked.
        woken_ = false;
        return;
    }
    const double ms = std::ceil(std::max(0.0, maxSeconds) * 1000.0);
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms >= INT_MAX ? INT_MAX : static_cast<int>(ms));
    QEventLoop* outer = innermost_;
    innermost_ = &loop;
    loop.exec();
    innermost_ = outer;
    woken_ = false;
}

void QtEventPump::Post(std::function<void()> task)
{
    QTimer::singleShot(0, &posted_, [this, task = std::move(task)] {
        task();
        Wake();
    });
}

void QtEventPump::Wake()
{
    woken_ = true;
    if (innermost_)
        innermost_->quit();
}

}  // namespace vel::platform
