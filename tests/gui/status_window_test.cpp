// The status window on the real widgets: layout, window, keyboard, the run
// flags its buttons set, and a run with the start delay cut short.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <algorithm>

#include "log/log.h"
#include "status/countdown.h"
#include "run/entry.h"
#include "status/status_window.h"
#include "support/gui_app.h"
#include "timesource/clock_correction.h"
#include "timesource/step_guard.h"

using namespace vel;
using vel::test::After;

namespace {

struct Expected {
    const char* name;
    const char* className;
    const char* caption;
};

const Expected kControls[] = {
    {"lblStatus", "QLabel", "Status:"},
    {"lblClockStatus", "QLabel", ""},
    {"txtStatus", "QPlainTextEdit", ""},
    {"cmdGo", "QPushButton", "&Go"},
    {"cmdConfigure", "QPushButton", "C&onfigure"},
    {"cmdAbout", "QPushButton", "&About"},
    {"cmdCancel", "QPushButton", "&Cancel"},
};

platform::QtWindow& QtWindow(App& app)
{
    return static_cast<platform::QtWindow&>(frmVEL(app).Form().Native());
}

// A run with the window over the LAN, after `delay` seconds.
std::string WindowRunSettings(int delay)
{
    return "[Main]\r\nNTPServer=127.0.0.1 (local)\r\nDelay=" + std::to_string(delay) +
           "\r\nTolerance=30\r\nPCOffset=0\r\nConnectionType=LAN\r\nConnectoid=\r\n"
           "QuietMode=N\r\nOnlyIfConnected=N\r\n";
}

template <typename T = QWidget>
T* Widget(App& app, const char* name)
{
    auto* widget = qobject_cast<T*>(QtWindow(app).Widget(name));
    if (widget == nullptr)
        qFatal("no control %s", name);
    return widget;
}

// Whether the text, wrapped at words, fits the box without scrolling.
bool FitsTheBox(QPlainTextEdit& box, const QString& text)
{
    const int margin = static_cast<int>(box.document()->documentMargin());
    const QRect room = box.viewport()->rect().adjusted(margin, margin, -margin, -margin);
    const QRect needed = box.fontMetrics().boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text);
    return needed.height() <= room.height();
}

}  // namespace

class StatusWindowTest : public QObject {
    Q_OBJECT

private slots:
    void everyControlAtItsPlaceWithItsCaption()
    {
        test::GuiApp t;
        QWidget* window = QtWindow(t.app).Window();
        QCOMPARE(window->objectName(), QString("frmVEL"));
        QCOMPARE(test::LayoutDifferences(QtWindow(t.app)), QString());
        for (const Expected& e : kControls) {
            QWidget* widget = QtWindow(t.app).Widget(e.name);
            QVERIFY2(widget != nullptr, e.name);
            QCOMPARE(widget->metaObject()->className(), e.className);
            QCOMPARE(frmVEL(t.app).Form().Text(e.name), std::string(e.caption));
        }
        // The status box wraps its words over several lines.
        auto* status = Widget<QPlainTextEdit>(t.app, "txtStatus");
        QCOMPARE(status->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QVERIFY(status->wordWrapMode() != QTextOption::NoWrap);
        // Alt and the marked letter press a button.
        QCOMPARE(Widget<QPushButton>(t.app, "cmdGo")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_G));
    }

    void theWindowLooksAndSitsAsDeclared()
    {
        test::GuiApp t;
        t.app.flags.RunStarted = true;  // no run: only the window
        QWidget* window = QtWindow(t.app).Window();
        const Qt::WindowFlags flags = window->windowFlags();
        QCOMPARE(window->windowType(), Qt::Window);  // a main window: in the task bar
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(flags.testFlag(Qt::WindowTitleHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::FramelessWindowHint));
        QVERIFY(window->maximumSize() != window->minimumSize());  // resizable
        QVERIFY(!window->windowIcon().isNull());

        frmVEL(t.app).Show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(window->windowTitle(), QString("Veltrane"));
        // The frame, once the window manager has drawn one.
        QTRY_VERIFY2(test::FrameCentred(window), qPrintable(test::Placement(window)));
    }

    void cancelHasTheFocusAndTabFollowsTheTabIndex()
    {
        test::GuiApp t;
        t.app.flags.RunStarted = true;
        frmVEL(t.app).Show();
        QWidget* window = QtWindow(t.app).Window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QCOMPARE(QApplication::focusWidget(), Widget(t.app, "cmdCancel"));
        QCOMPARE(frmVEL(t.app).Form().FocusedControl(), std::string("cmdCancel"));
        QCOMPARE(test::TabStops(QtWindow(t.app)).size(), 5);  // the labels take no focus
        QCOMPARE(test::TabRoundDifferences(QtWindow(t.app)), QString());
    }

    void buttonClicksSetTheRunFlags()
    {
        test::GuiApp t;
        t.app.flags.RunStarted = true;
        frmVEL(t.app).Show();
        QVERIFY(QTest::qWaitForWindowActive(QtWindow(t.app).Window()));
        RunFlags& flags = t.app.flags;

        QTest::mouseClick(Widget(t.app, "cmdGo"), Qt::LeftButton);
        QVERIFY(flags.GoPressed);
        QVERIFY(!Widget(t.app, "cmdGo")->isEnabled());
        QCOMPARE(frmVEL(t.app).Form().FocusedControl(), std::string("cmdCancel"));  // handed on
        QVERIFY(!flags.UserCancelled && !flags.ConfigurePressed);
        flags.GoPressed = false;
        QTest::mouseClick(Widget(t.app, "cmdGo"), Qt::LeftButton);  // disabled: nothing
        QVERIFY(!flags.GoPressed);

        QTest::mouseClick(Widget(t.app, "cmdCancel"), Qt::LeftButton);
        QVERIFY(flags.UserCancelled);
        QVERIFY(!flags.ConfigurePressed);
        flags.UserCancelled = false;

        frmVEL(t.app).cmdCancel.SetCaption("&Quit");
        QCOMPARE(Widget<QPushButton>(t.app, "cmdCancel")->text(), QString("&Quit"));
        QTest::keyClick(QtWindow(t.app).Window(), Qt::Key_Q, Qt::AltModifier);
        QTRY_VERIFY(flags.UserCancelled);  // an access key presses the button for a moment
        flags.UserCancelled = false;

        QTest::mouseClick(Widget(t.app, "cmdConfigure"), Qt::LeftButton);
        QVERIFY(flags.UserCancelled);
        QVERIFY(flags.ConfigurePressed);
    }

    void theCloseBoxSavesTheSettingsOnce()
    {
        test::GuiApp t;
        t.app.flags.RunStarted = true;
        frmVEL(t.app).Show();
        QWidget* window = QtWindow(t.app).Window();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(t.env.files.count(t.SettingsPath()) == 0);

        window->close();  // what the close box does
        QVERIFY(!window->isVisible());
        QVERIFY(!frmVEL(t.app).Form().IsVisible());
        QVERIFY(t.app.flags.UserCancelled);
        QVERIFY(t.env.files.count(t.SettingsPath()) == 1);
        const int writes = t.profile.writes;
        QVERIFY(writes > 0);

        frmVEL(t.app).Close();  // the run's own close after the user's: nothing more
        QCOMPARE(t.profile.writes, writes);
    }

    void aHiddenWindowTakesTheRunsChanges()
    {
        test::GuiApp t;
        StatusWindow& window = frmVEL(t.app);
        const std::int16_t none = 0;
        ShowCountdown(t.app, "System clock is correct! ", "Program will exit", none, "", "&Quit");
        window.cmdGo.SetEnabled(false);
        QCOMPARE(Widget<QLabel>(t.app, "lblClockStatus")->text(), QString("System clock is correct! "));
        QCOMPARE(Widget<QPlainTextEdit>(t.app, "txtStatus")->toPlainText(), QString("Program will exit"));
        QCOMPARE(Widget<QPushButton>(t.app, "cmdCancel")->text(), QString("&Quit"));
        QVERIFY(!Widget(t.app, "cmdGo")->isEnabled());
        QVERIFY(!QtWindow(t.app).Window()->isVisible());

        // Closed without ever being shown: the settings are saved all the same.
        window.Close();
        QVERIFY(t.env.files.count(t.SettingsPath()) == 1);
    }

    void cancelDuringTheStartDelayEndsTheRun()
    {
        test::GuiApp t;
        t.WriteSettings(WindowRunSettings(3));
        // Scheduled before the window shows: the whole count runs inside the
        // event loop of the first wait.
        After(1300, [&] { QTest::mouseClick(Widget(t.app, "cmdCancel"), Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        const ExitStatus status = ProgramMain(t.app);
        const qint64 elapsed = clock.elapsed();

        QCOMPARE(status, ExitStatus::Cancelled);
        // The press takes effect when its second is over: at 2 of 3 seconds.
        QVERIFY2(elapsed >= 1900 && elapsed < 2950, qPrintable(QString::number(elapsed)));
        const auto logged =
            test::InOrder(t.LogLines(), {kLogStartMarker, "ERROR: user cancelled before connect started"});
        QVERIFY2(logged, logged.message());
        QVERIFY(!QtWindow(t.app).Window()->isVisible());
        QVERIFY(t.clock.sets.empty());
    }

    void theAboutBoxHoldsTheCountAndStartsNoSecondRun()
    {
        test::GuiApp t;
        t.WriteSettings(WindowRunSettings(3));
        QStringList seen;
        auto status = [&] { return Widget<QPlainTextEdit>(t.app, "txtStatus")->toPlainText(); };
        bool aboutWasModal = false;

        After(400, [&] { QTest::mouseClick(Widget(t.app, "cmdAbout"), Qt::LeftButton); });
        After(900, [&] {
            platform::QtWindow* about = t.windows.Window("frmAbout");
            QVERIFY(about != nullptr);
            // Modal, above the status window (no task bar entry of its own).
            aboutWasModal =
                about->Window()->isModal() && about->Window()->isVisible() &&
                about->Window()->windowHandle()->transientParent() == QtWindow(t.app).Window()->windowHandle();
            seen << status();
        });
        After(2400, [&] {
            seen << status();
            QTest::mouseClick(t.windows.Window("frmAbout")->Widget("cmdOK"), Qt::LeftButton);
        });
        After(2900, [&] {
            seen << status();
            seen << (QApplication::activeWindow() == QtWindow(t.app).Window() ? "active" : "not active");
            QTest::mouseClick(Widget(t.app, "cmdCancel"), Qt::LeftButton);
        });
        QElapsedTimer clock;
        clock.start();
        ProgramMain(t.app);
        const qint64 elapsed = clock.elapsed();

        QVERIFY(aboutWasModal);
        QCOMPARE(seen.size(), 4);
        QVERIFY2(seen[0].contains("initiate in 3 secs"), qPrintable(seen[0]));
        QVERIFY2(seen[1].contains("initiate in 3 secs"), qPrintable(seen[1]));  // held while the box was open
        QVERIFY2(seen[2].contains("initiate in 2 secs"), qPrintable(seen[2]));  // on with the next number
        QCOMPARE(seen[3], QString("active"));
        QVERIFY2(elapsed >= 3200 && elapsed < 5000, qPrintable(QString::number(elapsed)));
        const std::vector<std::string> log = t.LogLines();
        QCOMPARE(std::count(log.begin(), log.end(), std::string(kLogStartMarker)), 1);
        const auto logged = test::InOrder(log, {kLogStartMarker, "ERROR: user cancelled before connect started"});
        QVERIFY2(logged, logged.message());
        QVERIFY(t.windows.FindForm("frmAbout") == nullptr);
    }

    // A clock that cannot be set: the whole reason goes into the log, and the
    // window's text fits the status box with its countdown.
    void aClockThatCannotBeSetShowsACountdownThatFits()
    {
        test::GuiApp t;
        t.clock.refusal =
            "clock_settime: operation not permitted; no system bus to reach systemd-timedated "
            "(Failed to connect to socket /run/dbus/system_bus_socket: No such file or directory)";
        t.app.flags.RunStarted = true;  // the window only, no run of its own
        t.app.settings.Tolerance = 30;
        const platform::ClockReading now = t.clock.Read();
        t.app.query.AnswerTime = now.local.time;
        t.app.query.answerInstant = now.utc;
        t.app.query.ServerTime = platform::AddSeconds(now.local.time, 95);
        t.app.query.serverInstant = now.utc + platform::Seconds(95);
        auto* status = Widget<QPlainTextEdit>(t.app, "txtStatus");
        QString shown;
        QString label;
        // In the countdown after the failed setting (3 to 6 seconds in).
        After(4400, [&] {
            shown = status->toPlainText();
            label = Widget<QLabel>(t.app, "lblClockStatus")->text();
            QTest::mouseClick(Widget(t.app, "cmdCancel"), Qt::LeftButton);
        });
        QtWindow(t.app).Window()->show();
        CompareAndCorrect(t.app);

        QCOMPARE(t.clock.sets.size(), std::size_t{1});
        QCOMPARE(label, QString("System clock could not be set! See .LOG file for details"));
        QVERIFY2(shown.startsWith("Program will exit in "), qPrintable(shown));
        QVERIFY(FitsTheBox(*status, shown));
        const std::string error = "ERROR: the system clock could not be set: " + t.clock.refusal + " (error 1)";
        const auto logged = test::InOrder(t.LogLines(), {error});
        QVERIFY2(logged, logged.message());
        // The whole reason with the countdown would not have fitted.
        QVERIFY(!FitsTheBox(*status, QString::fromStdString(error) + ".  " + shown));
    }

    // A step of three days that no second source confirmed is put to the
    // user in a Yes/No box: Yes sets the clock, No leaves it.
    void aStepNoSourceConfirmedIsAskedAndOnlyYesSetsTheClock()
    {
        for (const QMessageBox::StandardButton button : {QMessageBox::Yes, QMessageBox::No}) {
            test::GuiApp t;
            t.app.flags.RunStarted = true;  // the window only, no run of its own
            t.app.settings.Tolerance = 30;
            t.app.settings.SecondServers = "N";
            t.app.settings.HTTPSCheck = "N";
            const platform::ClockReading now = t.clock.Read();
            t.app.query.AnswerTime = now.local.time;
            t.app.query.answerInstant = now.utc;
            t.app.query.ServerTime = platform::AddSeconds(now.local.time, 3 * 86400);
            t.app.query.serverInstant = now.utc + platform::Seconds(3 * 86400);
            t.app.query.answers = 1;
            t.app.settings.Precise = "N";  // no further answers to ask for
            frmVEL(t.app).Show();
            QString question;
            test::AnswerNextMessageBox([&](QMessageBox& box) { question = box.text(); }, button);
            CompareAndCorrect(t.app);

            QCOMPARE(question, QString("The time server says the PC clock is 3 days behind, and no second source "
                                       "agreed (no second source is configured).\n\nSet the clock all the same?"));
            QCOMPARE(t.clock.sets.size(), std::size_t{button == QMessageBox::Yes ? 1u : 0u});
            // The GUI tests' clock refuses every setting.
            QCOMPARE(t.app.exitStatus, button == QMessageBox::Yes ? ExitStatus::ClockNotSet : ExitStatus::Unconfirmed);
        }
    }

    // Each text the clock-status label shows fits it, word-wrapped as drawn.
    void everyClockStatusFitsItsLabel()
    {
        test::GuiApp t;
        t.app.flags.RunStarted = true;
        QtWindow(t.app).Window()->show();
        auto* label = Widget<QLabel>(t.app, "lblClockStatus");
        for (const char* text :
             {"Waiting to start connection", "Could not get current time! See .LOG file for details",
              "System clock is off by 23 hours 59 minutes 59 seconds",
              "System clock could not be set! See .LOG file for details", kKeptByTimeServiceText, kNotConfirmedText}) {
            const QRect needed =
                label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 100000), Qt::TextWordWrap, text);
            QVERIFY2(needed.height() <= label->height(), text);
        }
    }
};

QTEST_MAIN(StatusWindowTest)
#include "status_window_test.moc"
