#include "support/gui_app.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <set>
#include <cstdlib>

#include "common/controls.h"
#include "support/form_declaration.h"

namespace vel::test {

platform::ClockReading SteadyClock::Read()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    const qint64 ms = now.toMSecsSinceEpoch();
    const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return {
        {seconds, static_cast<std::int32_t>((ms - seconds * 1000) * 1000000)},
        {{date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()}, time.msec() * 1000000}};
}

double SteadyClock::MonotonicSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

platform::ClockSetResult SteadyClock::SetTime(const platform::Instant& t)
{
    sets.push_back(t);
    return {false, 1, refusal};
}

GuiApp::GuiApp()
{
    app.fatal = [](const std::string& message) { qFatal("program stopped: %s", message.c_str()); };
}

void After(int ms, std::function<void()> action)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, qApp, std::move(action));
}

void AnswerNextMessageBox(std::function<void(QMessageBox&)> inspect, QMessageBox::StandardButton button)
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

QString LayoutDifferences(platform::QtWindow& window)
{
    const platform::FormSpec& spec = window.Owner()->Spec();
    QString differences;
    const QSize size(Pixels(spec.clientWidth), Pixels(spec.clientHeight));
    if (window.Window()->size() != size)
        differences += QString("window %1x%2; ").arg(window.Window()->width()).arg(window.Window()->height());
    for (const platform::ControlSpec& control : spec.controls) {
        if (control.kind == platform::ControlKind::Line)
            continue;  // painted by the window
        QWidget* widget = window.Widget(control.name);
        QWidget* parent = control.parent.empty() ? window.Window() : window.Widget(control.parent);
        const QRect expected = Pixels(control.left, control.top, control.width, control.height);
        if (widget == nullptr || widget->parentWidget() != parent)
            differences += QString::fromStdString(control.name) + " missing or outside its container; ";
        else if (widget->geometry() != expected)
            differences += QString::fromStdString(control.name) + QString(" at %1,%2 %3x%4; ")
                                                                      .arg(widget->x())
                                                                      .arg(widget->y())
                                                                      .arg(widget->width())
                                                                      .arg(widget->height());
    }
    return differences;
}

QStringList TabStops(platform::QtWindow& window)
{
    const platform::FormSpec& spec = window.Owner()->Spec();
    auto checked = [&](const std::string& name) {
        auto* button = qobject_cast<QAbstractButton*>(window.Widget(name));
        return button != nullptr && button->isChecked();
    };
    QStringList stops;
    std::set<std::string> groupsDone;  // containers whose option stop is listed
    for (const std::string& name : ByTabIndex(spec)) {
        const platform::ControlSpec& control = *FindControl(spec, name);
        using Kind = platform::ControlKind;
        if (control.kind == Kind::Label || control.kind == Kind::Frame || control.kind == Kind::Line ||
            !window.Widget(name)->isEnabled())
            continue;
        if (control.kind == Kind::OptionButton) {
            if (groupsDone.count(control.parent) != 0)
                continue;
            bool anyChecked = false;
            for (const platform::ControlSpec& other : spec.controls)
                anyChecked |= other.kind == Kind::OptionButton && other.parent == control.parent &&
                              other.tabIndex >= 0 && window.Widget(other.name)->isEnabled() && checked(other.name);
            if (anyChecked && !checked(name))
                continue;
            groupsDone.insert(control.parent);
        }
        stops << QString::fromStdString(name);
    }
    return stops;
}

QString TabRoundDifferences(platform::QtWindow& window)
{
    auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "<none>"; };
    const QStringList stops = TabStops(window);
    const qsizetype from = stops.indexOf(focused());
    if (from < 0)
        return "the focus on " + focused() + ", no stop of " + stops.join(", ");
    QString differences;
    for (const bool forward : {true, false}) {
        QStringList expected{stops[from]};
        for (qsizetype i = 1; i <= stops.size(); ++i)
            expected << stops[(from + (forward ? i : stops.size() - i)) % stops.size()];
        QStringList visited{focused()};
        for (qsizetype i = 0; i < stops.size(); ++i) {
            if (forward)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            else
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            visited << focused();
        }
        if (visited != expected)
            differences += (forward ? "Tab: " : "Shift+Tab: ") + visited.join(", ") + "; ";
    }
    return differences;
}

bool FrameCentred(QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    return std::abs((frame.left() - area.left()) - (area.right() - frame.right())) <= 1 &&
           std::abs((frame.top() - area.top()) - (area.bottom() - frame.bottom())) <= 1;
}

QString Placement(QWidget* window)
{
    const QRect area = window->screen()->availableGeometry();
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QString("frame %1,%2 %3x%4, client %5,%6 %7x%8, free area %9x%10")
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height())
        .arg(client.x())
        .arg(client.y())
        .arg(client.width())
        .arg(client.height())
        .arg(area.width())
        .arg(area.height());
}

}  // namespace vel::test
