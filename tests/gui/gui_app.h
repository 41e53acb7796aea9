// Shared pieces of the GUI tests: an App over the real Qt windows and event
// pump with in-memory files, and helpers to act while a modal window or a
// message box holds the event loop.
#pragma once

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/app.h"
#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_windows.h"
#include "support/fakes.h"

namespace vel::test {

// Real time, as the Qt event pump needs; the PC clock is read, never set.
class SteadyClock : public platform::Clock {
public:
    platform::ClockReading Read() override
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate date = now.date();
        const QTime time = now.time();
        const qint64 ms = now.toMSecsSinceEpoch();
        const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
        return {{seconds, static_cast<std::int32_t>((ms - seconds * 1000) * 1000000)},
                {{date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()},
                 time.msec() * 1000000}};
    }
    double MonotonicSeconds() override
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    int GetTimeZoneInformation(platform::TimeZoneInformation& info) override
    {
        info = {};
        return platform::TimeZoneId::Unknown;
    }
    platform::ClockSetResult SetTime(const platform::Instant& t) override
    {
        sets.push_back(t);
        return {false, 1, refusal};
    }
    std::string TimeSeparator() override { return ":"; }

    std::vector<platform::Instant> sets;
    std::string refusal = "the GUI tests never set the clock";
};

struct GuiApp {
    SteadyClock clock;
    platform::QtEventPump pump;
    FakeEnvironment env;
    FakeProfileFile profile{env};
    platform::QtWindowSystem windows{pump};
    FakeSocket socket{pump};
    FakeDialUp dialUp;
    FakeShell shell;
    App app{platform::Platform{clock, pump, env, profile, windows, socket, dialUp, shell}};

    GuiApp()
    {
        app.fatal = [](const std::string& message) { qFatal("program stopped: %s", message.c_str()); };
    }

    std::string SettingsPath() const { return "/app/Veltrane.INI"; }
    void WriteSettings(int delay)
    {
        env.files[SettingsPath()] = "[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=" + std::to_string(delay) +
                                    "\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=LAN\r\nConnectoid=\r\n"
                                    "QuietMode=N\r\nOnlyIfConnected=N\r\n";
    }
    // The log's lines without their time stamps.
    std::vector<std::string> LogLines()
    {
        std::vector<std::string> lines;
        const std::string& text = env.files["/app/Veltrane.log"];
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            const std::string line = text.substr(start, end - start);
            lines.push_back(line.size() >= 17 ? line.substr(17) : line);
            start = end + 2;
        }
        return lines;
    }
};

// Runs the action after `ms` milliseconds, from whichever event loop is
// running then (the waits and modal windows run their own).
inline void After(int ms, std::function<void()> action)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, qApp, std::move(action));
}

// When the next message box appears (within five seconds), hands it to
// `inspect` and presses `button`. Call before the code that shows it.
inline void AnswerNextMessageBox(std::function<void(QMessageBox&)> inspect,
                                 QMessageBox::StandardButton button = QMessageBox::Ok)
{
    auto* poll = new QTimer(qApp);
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(poll, &QTimer::timeout, qApp, [poll, clock, inspect, button] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr && clock->elapsed() < 5000)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        if (box == nullptr) {
            QTest::qFail("no message box appeared", __FILE__, __LINE__);
            return;
        }
        inspect(*box);
        if (QAbstractButton* press = box->button(button))
            press->click();
        else
            box->reject();
    });
    poll->start(20);
}

// Twips to the nearest device-independent pixel (15 twips a pixel; a half
// goes up).
inline int Pixels(int twips)
{
    return (2 * twips + 15) / 30;
}

// The pixel geometry a control declared in twips should have.
inline QRect Pixels(int left, int top, int width, int height)
{
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

// Whether the window's frame lies in the middle of the screen's free area, to
// the pixel (an odd remainder leaves one pixel more on one side).
inline bool FrameCentred(QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    return std::abs((frame.left() - area.left()) - (area.right() - frame.right())) <= 1 &&
           std::abs((frame.top() - area.top()) - (area.bottom() - frame.bottom())) <= 1;
}

inline QString Placement(QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QString("frame %1,%2 %3x%4, client %5,%6 %7x%8, free area %9x%10")
        .arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height())
        .arg(client.x()).arg(client.y()).arg(client.width()).arg(client.height())
        .arg(area.width()).arg(area.height());
}

}  // namespace vel::test
