// The GUI tests' App: the same as TestApp's, over the real Qt windows and
// event pump in real time; and helpers to act while a modal window or a
// message box holds the event loop, and to check a window's placement.
#pragma once

#include <QMessageBox>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "platform/qt/qt_event_pump.h"
#include "platform/qt/qt_window_system.h"
#include "support/test_app.h"

class QWidget;

namespace vel::test {

// Real time, as the Qt event pump needs; the PC clock is read, never set.
class SteadyClock : public platform::Clock {
public:
    platform::ClockReading Read() override;
    double MonotonicSeconds() override;
    platform::ClockSetResult SetTime(const platform::Instant& t) override;
    platform::TimeService TimeServiceInCharge() override { return timeService; }

    std::vector<platform::Instant> sets;
    std::string refusal = "the GUI tests never set the clock";
    platform::TimeService timeService;  // an empty name: nobody else keeps the clock
};

// Needs a QApplication. A program stop fails the test at once.
struct GuiApp : AppOver<SteadyClock, platform::QtEventPump, platform::QtWindowSystem> {
    GuiApp();
};

// A form's Qt window, with its real widgets.
inline platform::QtWindow& QtOf(platform::Form& form)
{
    return static_cast<platform::QtWindow&>(form.Native());
}

// Runs the action after `ms` milliseconds, from whichever event loop is
// running then (the waits and modal windows run their own).
void After(int ms, std::function<void()> action);

// When the next message box appears (within five seconds), hands it to
// `inspect` and presses `button`. Call before the code that shows it.
void AnswerNextMessageBox(std::function<void(QMessageBox&)> inspect,
                          QMessageBox::StandardButton button = QMessageBox::Ok);

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

// How the window differs from its declaration: its size, and each control's
// geometry (in pixels, inside its frame's widget when it has one). Empty when
// all are as declared.
QString LayoutDifferences(platform::QtWindow& window);

// The window's Tab stops in their order, as its declaration and its widgets'
// state make them: each enabled control with a tab index that takes the focus
// (no label, frame or line); of one container's option buttons only the
// checked one, or while none is, the first by tab index.
QStringList TabStops(platform::QtWindow& window);

// How Tab and then Shift+Tab, pressed from the focused control round to it
// again, differ from TabStops: the stops they visited. Empty when the same.
QString TabRoundDifferences(platform::QtWindow& window);

// Whether the window's frame lies in the middle of the screen's free area, to
// the pixel (an odd remainder leaves one pixel more on one side).
bool FrameCentred(QWidget* window);

// The window's frame, client area and the screen's free area, for a failure's
// message.
QString Placement(QWidget* window);

}  // namespace vel::test
