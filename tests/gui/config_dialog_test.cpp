// The configuration dialog on the real widgets: layout and captions, what the
// stored settings enable, the option buttons, tab order, the start-delay box
// under real key presses, the server list's edit field and the pick-only
// dial-up list, the check boxes, OK, Cancel, the close box, Enter and Escape,
// and the run-now question.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "settings/config_dialog.h"
#include "settings/config_form.h"
#include "support/gui_app.h"

using namespace vel;

namespace {

struct Expected {
    const char* name;
    const char* className;
    const char* caption;  // as the control shows it, access-key ampersand and all
    QKeySequence accessKey;
};

const Expected kControls[] = {
    {"lblNTPServer", "QLabel", "NTP Server to use:", {}},
    {"cboNTPServer", "QComboBox", nullptr, {}},
    {"fraHowToConnect", "QGroupBox", "How to Connect", {}},
    {"optLAN", "QRadioButton", "Only use &Local Area Network", QKeySequence(Qt::ALT | Qt::Key_L)},
    {"optModem", "QRadioButton", "Only use &Modem", QKeySequence(Qt::ALT | Qt::Key_M)},
    {"optBoth", "QRadioButton", "Use LAN if a&vailable - if not, use Modem", QKeySequence(Qt::ALT | Qt::Key_V)},
    {"lblConnectionToUse", "QLabel", "Dialup connection to use:", {}},
    {"cboISPList", "QComboBox", nullptr, {}},
    {"txtStartDelay", "QLineEdit", nullptr, {}},
    {"lblStartDelay", "QLabel", "Seconds to wait before starting connection", {}},
    {"chkQuietMode", "QCheckBox", "Run in quiet mode", {}},
    {"chkOnlyIfConnected", "QCheckBox", "Run only if currently connected to internet", {}},
    {"cmdOK", "QPushButton", "&OK", QKeySequence(Qt::ALT | Qt::Key_O)},
    {"cmdCancel", "QPushButton", "&Cancel", QKeySequence(Qt::ALT | Qt::Key_C)},
};

// A settings file as a user might have it.
std::string SettingsFile(const std::string& type, const std::string& connectoid, const std::string& delay = "10",
                         const std::string& quiet = "N", const std::string& onlyIfConnected = "N",
                         const std::string& server = "time-c-b.nist.gov (NIST, Boulder, CO)")
{
    return "[Main]\r\nNTPServer=" + server + "\r\nDelay=" + delay +
           "\r\nTolerance=45\r\nPCOffset=0\r\n"
           "ConnectionType=" +
           type + "\r\nConnectoid=" + connectoid + "\r\nQuietMode=" + quiet + "\r\nOnlyIfConnected=" + onlyIfConnected +
           "\r\n";
}

// The value of a key in the settings text; "<none>" when the key is missing.
std::string Key(const std::string& file, const std::string& key)
{
    const std::string start = "\r\n" + key + "=";
    const std::size_t at = file.find(start);
    if (at == std::string::npos)
        return "<none>";
    const std::size_t from = at + start.size();
    return file.substr(from, file.find("\r\n", from) - from);
}

// Answers every message box that appears while it lives, and notes each.
class MessageBoxes : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    explicit MessageBoxes(QMessageBox::StandardButton answer = QMessageBox::No) : answer_(answer)
    {
        connect(&poll_, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            seen.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            if (QAbstractButton* button = box->button(answer_))
                button->click();
            else
                box->reject();
        });
        poll_.start(10);
    }

    QList<Seen> seen;

private:
    QMessageBox::StandardButton answer_;
    QTimer poll_;
};

// The open dialog's widgets.
struct Dialog {
    platform::Form& form;

    QWidget* Window() const { return test::QtOf(form).Window(); }
    template <typename T = QWidget>
    T* Get(const char* name) const
    {
        auto* widget = qobject_cast<T*>(test::QtOf(form).Widget(name));
        if (widget == nullptr)
            qFatal("no control %s of that kind", name);
        return widget;
    }
    bool Checked(const char* name) const { return Get<QAbstractButton>(name)->isChecked(); }
    // The option buttons that are selected, in their order.
    QStringList SelectedOptions() const
    {
        QStringList selected;
        for (const char* name : {"optLAN", "optModem", "optBoth"})
            if (Checked(name))
                selected << name;
        return selected;
    }
    QString Focused() const
    {
        QWidget* focus = QApplication::focusWidget();
        return focus ? focus->objectName() : QString("<none>");
    }
    void Click(const char* name) const { QTest::mouseClick(Get(name), Qt::LeftButton); }
};

// Opens the dialog as the program does and runs `actions` once it is shown
// and active. A dialog still open afterwards is closed with its close box, so
// that a failing check cannot leave the test waiting.
void WhileOpen(test::GuiApp& t, const std::function<void(Dialog&)>& actions)
{
    QObject scope;  // the timer goes with this call
    bool ran = false;
    QTimer::singleShot(0, &scope, [&] {
        platform::Form* form = t.windows.FindForm("frmVELConfigure");
        if (form == nullptr) {
            QTest::qFail("the dialog is not open", __FILE__, __LINE__);
            return;
        }
        [&] {
            QVERIFY(QTest::qWaitForWindowActive(test::QtOf(*form).Window()));
            Dialog dialog{*form};
            ran = true;
            actions(dialog);
        }();
        if (form->IsVisible())
            test::QtOf(*form).Window()->close();
    });
    ShowConfigurationDialog(t.app);
    QVERIFY(ran);
    QVERIFY(t.windows.FindForm("frmVELConfigure") == nullptr);
}

}  // namespace

class ConfigDialogTest : public QObject {
    Q_OBJECT

private slots:
    // ---------------------------------------------------------------------
    // Window, layout, captions

    void theWindowAndEveryControlAsDeclared()
    {
        test::GuiApp t;
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "", "25");
        t.windows.SetPointer(platform::PointerShape::Busy);  // as a run leaves it
        WhileOpen(t, [&](Dialog& d) {
            QWidget* window = d.Window();
            QCOMPARE(window->objectName(), QString("frmVELConfigure"));
            QCOMPARE(window->windowTitle(), QString("Veltrane Configuration"));
            QCOMPARE(test::LayoutDifferences(test::QtOf(d.form)), QString());
            QCOMPARE(window->windowModality(), Qt::ApplicationModal);
            QCOMPARE(QApplication::activeModalWidget(), window);
            const Qt::WindowFlags flags = window->windowFlags();
            QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
            QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
            QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
            QVERIFY(window->minimumSize() != window->maximumSize());  // resizable
            // The frame, once the window manager has drawn one.
            QTRY_VERIFY2(test::FrameCentred(window), qPrintable(test::Placement(window)));
            QVERIFY(QGuiApplication::overrideCursor() == nullptr);  // the busy pointer is gone

            for (const Expected& e : kControls) {
                QWidget* widget = d.Get(e.name);
                QCOMPARE(widget->metaObject()->className(), e.className);
                QString caption;
                if (auto* label = qobject_cast<QLabel*>(widget))
                    caption = label->text();
                else if (auto* button = qobject_cast<QAbstractButton*>(widget))
                    caption = button->text();
                else if (auto* group = qobject_cast<QGroupBox*>(widget))
                    caption = group->title();
                if (e.caption)
                    QCOMPARE(caption, QString(e.caption));
                if (auto* button = qobject_cast<QAbstractButton*>(widget))
                    QCOMPARE(button->shortcut(), e.accessKey);
            }
            // The design-time "0" is replaced by the stored delay.
            QCOMPARE(d.Get<QLineEdit>("txtStartDelay")->text(), QString("25"));

            // The controls keep their places when the window is resized.
            window->resize(500, 480);
            QTRY_COMPARE(window->size(), QSize(500, 480));
            QCOMPARE(test::LayoutDifferences(test::QtOf(d.form)), QString("window 500x480; "));
        });
    }

    void theCaptionsFitTheirControls()
    {
        test::GuiApp t;
        WhileOpen(t, [&](Dialog& d) {
            if (QFontInfo(d.Get("lblStartDelay")->font()).family() != QLatin1String("DejaVu Sans Condensed"))
                QSKIP("the layout is checked with DejaVu Sans Condensed (fonts-dejavu-extra)");
            for (const Expected& e : kControls) {
                QWidget* widget = d.Get(e.name);
                QSize needed;
                if (auto* label = qobject_cast<QLabel*>(widget)) {
                    needed = label->fontMetrics()
                                 .boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, label->text())
                                 .size();
                } else if (qobject_cast<QRadioButton*>(widget) || qobject_cast<QCheckBox*>(widget)) {
                    // The mark, its gap and the caption on one line.
                    needed = QSize(widget->sizeHint().width(), widget->fontMetrics().height());
                } else {
                    continue;
                }
                QVERIFY2(needed.width() <= widget->width() && needed.height() <= widget->height() + 1,
                         qPrintable(QString("%1 needs %2x%3, has %4x%5")
                                        .arg(e.name)
                                        .arg(needed.width())
                                        .arg(needed.height())
                                        .arg(widget->width())
                                        .arg(widget->height())));
            }
        });
    }

    // The marks of the options and check boxes lie wholly inside their
    // controls, whose layout heights are as small as 13 pixels.
    void theMarksFitTheirControls()
    {
        test::GuiApp t;
        WhileOpen(t, [&](Dialog& d) {
            for (const char* name : {"optLAN", "optModem", "optBoth", "chkQuietMode", "chkOnlyIfConnected"}) {
                auto* button = d.Get<QAbstractButton>(name);
                QStyleOptionButton option;
                option.initFrom(button);
                const QRect mark = button->style()->subElementRect(
                    name[0] == 'c' ? QStyle::SE_CheckBoxIndicator : QStyle::SE_RadioButtonIndicator, &option, button);
                QVERIFY2(button->rect().contains(mark) && mark.height() >= 10, name);
            }
        });
    }

    // ---------------------------------------------------------------------
    // What the stored settings and the dial-up entries enable

    void openingFollowsTheStoredSettings_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("connectoid");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<bool>("dialUpSelectable");
        QTest::addColumn<bool>("listEnabled");
        QTest::addColumn<QString>("entry");

        const QStringList entries = {"Office", "Home", "home"};
        QTest::newRow("no entries, modem stored")
            << QStringList() << QString("MODEM") << QString("Home") << "optLAN" << false << false << "";
        QTest::newRow("no entries, fall-back stored")
            << QStringList() << QString("BOTH") << QString("") << "optLAN" << false << false << "";
        QTest::newRow("LAN") << entries << QString("LAN") << QString("") << "optLAN" << true << false << "Home";
        QTest::newRow("modem, entry in other case: the last match")
            << entries << QString("MODEM") << QString("HOME") << "optModem" << true << true << "home";
        QTest::newRow("fall-back, entry unknown: the first")
            << entries << QString("BOTH") << QString("Travel") << "optBoth" << true << true << "Home";
        QTest::newRow("lower-case modem is no modem")
            << entries << QString("modem") << QString("Office") << "optBoth" << true << true << "Office";
        QTest::newRow("empty type") << entries << QString("") << QString("Office") << "optBoth" << true << true
                                    << "Office";
    }

    void openingFollowsTheStoredSettings()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, type);
        QFETCH(QString, connectoid);
        QFETCH(QString, selected);
        QFETCH(bool, dialUpSelectable);
        QFETCH(bool, listEnabled);
        QFETCH(QString, entry);

        test::GuiApp t;
        for (const QString& name : entries)
            t.dialUp.entries.push_back(name.toStdString());
        t.env.files[t.SettingsPath()] = SettingsFile(type.toStdString(), connectoid.toStdString());
        WhileOpen(t, [&](Dialog& d) {
            QCOMPARE(d.SelectedOptions(), QStringList{selected});
            QVERIFY(d.Get("optLAN")->isEnabled());
            QCOMPARE(d.Get("optModem")->isEnabled(), dialUpSelectable);
            QCOMPARE(d.Get("optBoth")->isEnabled(), dialUpSelectable);
            QCOMPARE(d.Get("cboISPList")->isEnabled(), listEnabled);
            QVERIFY(d.Get("lblConnectionToUse")->isEnabled());
            auto* list = d.Get<QComboBox>("cboISPList");
            QCOMPARE(list->count(), static_cast<int>(entries.size()));
            QCOMPARE(list->currentText(), entry);
            if (!entries.isEmpty()) {
                // Sorted by character code: upper case first.
                QCOMPARE(list->itemText(0), QString("Home"));
                QCOMPARE(list->itemText(1), QString("Office"));
                QCOMPARE(list->itemText(2), QString("home"));
            }
        });
    }

    // The edit field shows the stored server, its entry selected when it is
    // one; what is typed there is what OK stores.
    void theServerFieldShowsTheStoredServer_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("selected");
        QTest::newRow("entry 5") << QString::fromStdString(std::string(kTimeServers[4])) << 4;
        QTest::newRow("set by hand") << QString("time.example.org (by hand)") << -1;
    }

    void theServerFieldShowsTheStoredServer()
    {
        QFETCH(QString, stored);
        QFETCH(int, selected);
        test::GuiApp t;
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "", "10", "N", "N", stored.toStdString());
        MessageBoxes boxes(QMessageBox::No);
        WhileOpen(t, [&](Dialog& d) {
            auto* servers = d.Get<QComboBox>("cboNTPServer");
            QVERIFY(servers->lineEdit() != nullptr);
            QCOMPARE(servers->lineEdit()->text(), stored);
            QCOMPARE(servers->currentIndex(), selected);
            QCOMPARE(servers->count(), 14);
            // Typed on: neither an item added nor the text completed.
            servers->setFocus();
            servers->lineEdit()->end(false);
            QTest::keyClicks(servers->lineEdit(), " x");
            QTest::keyClick(servers->lineEdit(), Qt::Key_Return);
            QCOMPARE(servers->lineEdit()->text(), stored + " x");
            QCOMPARE(servers->count(), 14);
            QVERIFY(d.form.IsVisible());
            d.Click("cmdOK");
        });
        QCOMPARE(boxes.seen.size(), 1);
        QCOMPARE(QString::fromStdString(Key(t.env.files[t.SettingsPath()], "NTPServer")), stored + " x");
    }

    void optionButtonsSwitchTheDialUpList()
    {
        test::GuiApp t;
        t.dialUp.entries = {"Home", "Office"};
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "");
        WhileOpen(t, [&](Dialog& d) {
            QWidget* list = d.Get("cboISPList");
            d.Click("optModem");
            QCOMPARE(d.SelectedOptions(), QStringList{"optModem"});
            QVERIFY(list->isEnabled());
            d.Click("optLAN");
            QCOMPARE(d.SelectedOptions(), QStringList{"optLAN"});
            QVERIFY(!list->isEnabled());
            d.Click("optBoth");
            QCOMPARE(d.SelectedOptions(), QStringList{"optBoth"});
            QVERIFY(list->isEnabled());
            // A click on the selected option runs its click again.
            d.Click("optBoth");
            QCOMPARE(d.SelectedOptions(), QStringList{"optBoth"});
            QVERIFY(list->isEnabled());

            // The access keys select the options.
            QTest::keyClick(d.Window(), Qt::Key_L, Qt::AltModifier);
            QTRY_COMPARE(d.SelectedOptions(), QStringList{"optLAN"});
            QTRY_VERIFY(!list->isEnabled());
            QTest::keyClick(d.Window(), Qt::Key_M, Qt::AltModifier);
            QTRY_COMPARE(d.SelectedOptions(), QStringList{"optModem"});
            QTRY_VERIFY(list->isEnabled());

            // Arrow keys move the selection within the frame's options.
            d.Get("optModem")->setFocus();
            QTest::keyClick(d.Get("optModem"), Qt::Key_Down);
            QCOMPARE(d.SelectedOptions(), QStringList{"optBoth"});
            QTest::keyClick(d.Get("optBoth"), Qt::Key_Up);
            QTest::keyClick(d.Get("optModem"), Qt::Key_Up);
            QCOMPARE(d.SelectedOptions(), QStringList{"optLAN"});
            QVERIFY(!list->isEnabled());
        });
    }

    void withoutDialUpEntriesOnlyLANCanBeChosen()
    {
        test::GuiApp t;
        t.env.files[t.SettingsPath()] = SettingsFile("MODEM", "Home");
        MessageBoxes boxes(QMessageBox::No);
        WhileOpen(t, [&](Dialog& d) {
            d.Click("optModem");
            d.Click("optBoth");
            QTest::keyClick(d.Window(), Qt::Key_V, Qt::AltModifier);
            d.Get("optLAN")->setFocus();
            QTest::keyClick(d.Get("optLAN"), Qt::Key_Down);
            QTest::qWait(150);  // an access key presses for a moment
            QCOMPARE(d.SelectedOptions(), QStringList{"optLAN"});
            QVERIFY(!d.Get("cboISPList")->isEnabled());
            d.Click("cmdOK");
        });
        QCOMPARE(boxes.seen.size(), 1);
        const std::string& file = t.env.files[t.SettingsPath()];
        QCOMPARE(Key(file, "ConnectionType"), std::string("LAN"));
        QCOMPARE(Key(file, "Connectoid"), std::string(""));
    }

    // ---------------------------------------------------------------------
    // Keyboard

    void tabFollowsTheTabIndexes_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("opening");
        QTest::addColumn<QString>("clicked");
        // The dialog opens with the focus on the first stop; the frame's
        // options are one stop, the selected option, at its own tab index;
        // a disabled list is none.
        QTest::newRow("no entries") << QStringList() << "MODEM"
                                    << "optLAN" << QString();
        QTest::newRow("LAN read") << QStringList{"Home"} << "LAN"
                                  << "optLAN" << QString();
        QTest::newRow("MODEM read") << QStringList{"Home"} << "MODEM"
                                    << "optModem" << QString();
        QTest::newRow("BOTH read") << QStringList{"Home"} << "BOTH"
                                   << "cboISPList" << QString();
        QTest::newRow("MODEM read, fall-back clicked") << QStringList{"Home"} << "MODEM"
                                                       << "optModem" << QString("optBoth");
        QTest::newRow("BOTH read, LAN clicked") << QStringList{"Home"} << "BOTH"
                                                << "cboISPList" << QString("optLAN");
    }

    void tabFollowsTheTabIndexes()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, stored);
        QFETCH(QString, opening);
        QFETCH(QString, clicked);
        test::GuiApp t;
        for (const QString& name : entries)
            t.dialUp.entries.push_back(name.toStdString());
        t.env.files[t.SettingsPath()] = SettingsFile(stored.toStdString(), "Home");
        WhileOpen(t, [&](Dialog& d) {
            platform::QtWindow& window = test::QtOf(d.form);
            QCOMPARE(d.Focused(), opening);
            QCOMPARE(test::TabStops(window).first(), opening);
            if (!clicked.isEmpty())
                d.Click(clicked.toLatin1().constData());
            const QStringList stops = test::TabStops(window);
            QCOMPARE(stops.filter(QRegularExpression("^opt")), d.SelectedOptions());
            QCOMPARE(stops.contains("cboISPList"), d.Get("cboISPList")->isEnabled());
            QCOMPARE(test::TabRoundDifferences(window), QString());
        });
    }

    void spaceOnTheOptionsStopKeepsTheChoiceAndArrowsMoveIt()
    {
        test::GuiApp t;
        t.dialUp.entries = {"Home", "Work"};
        t.env.files[t.SettingsPath()] = SettingsFile("BOTH", "Work");
        MessageBoxes boxes(QMessageBox::No);
        WhileOpen(t, [&](Dialog& d) {
            // Tab from Cancel reaches the selected option, and Space there
            // leaves the choice as it was.
            d.Get("cmdCancel")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(d.Focused(), QString("optBoth"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            QCOMPARE(d.SelectedOptions(), QStringList{"optBoth"});
            QVERIFY(d.Get("cboISPList")->isEnabled());

            // An arrow moves the choice and the stop with it.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
            QCOMPARE(d.Focused(), QString("optModem"));
            QCOMPARE(d.SelectedOptions(), QStringList{"optModem"});
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(d.Focused(), QString("cboISPList"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(d.Focused(), QString("optModem"));

            // The program's own focus on another option does not move the
            // stop: Tab from there goes on to the selected option, and back
            // past the group.
            d.form.SetFocus("optLAN");
            QCOMPARE(d.Focused(), QString("optLAN"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(d.Focused(), QString("optModem"));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(d.Focused(), QString("chkOnlyIfConnected"));
            QCOMPARE(d.SelectedOptions(), QStringList{"optModem"});

            d.Click("cmdOK");
        });
        QCOMPARE(Key(t.env.files[t.SettingsPath()], "ConnectionType"), std::string("MODEM"));
        QCOMPARE(Key(t.env.files[t.SettingsPath()], "Connectoid"), std::string("Work"));
    }

    void theStartDelayTakesOnlyNumberKeys()
    {
        test::GuiApp t;
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "", "25");
        MessageBoxes boxes(QMessageBox::No);
        WhileOpen(t, [&](Dialog& d) {
            auto* box = d.Get<QLineEdit>("txtStartDelay");
            QCOMPARE(box->text(), QString("25"));
            box->setFocus();
            box->end(false);
            QTest::keyClicks(box, "0a.Z5 -x,+e/!");
            QCOMPARE(box->text(), QString("250.5-"));
            QTest::keyClick(box, Qt::Key_Backspace);
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), QString("250."));
            // Digits of the keypad are digits; those of other scripts are not.
            QTest::keyClick(box, Qt::Key_7, Qt::KeypadModifier);
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(QChar(0x0663)), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(QChar(0x00B2)), Qt::NoModifier);
            QCOMPARE(box->text(), QString("250.7"));
            // Backspace takes a selection; arrows and Delete edit as usual.
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), QString());
            QTest::keyClicks(box, "-1x.5");
            QTest::keyClick(box, Qt::Key_Home);
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, "9-");
            QCOMPARE(box->text(), QString("9-1.5"));
            QTest::keyClick(box, Qt::Key_Home);
            QTest::keyClick(box, Qt::Key_Right);
            QTest::keyClick(box, Qt::Key_Backspace);
            QCOMPARE(box->text(), QString("-1.5"));
            d.Click("cmdOK");
        });
        QCOMPARE(boxes.seen.size(), 1);
        // Stored as typed: nothing is checked.
        QCOMPARE(Key(t.env.files[t.SettingsPath()], "Delay"), std::string("-1.5"));
    }

    void theDialUpListIsPickOnlyTheServerListPicksWithTheKeys()
    {
        test::GuiApp t;
        t.dialUp.entries = {"Office", "Home", "Travel"};
        t.env.files[t.SettingsPath()] = SettingsFile("MODEM", "Home");
        MessageBoxes boxes(QMessageBox::No);
        WhileOpen(t, [&](Dialog& d) {
            auto* servers = d.Get<QComboBox>("cboNTPServer");
            auto* isps = d.Get<QComboBox>("cboISPList");
            QVERIFY(!isps->isEditable());
            QVERIFY(isps->lineEdit() == nullptr);
            QCOMPARE(servers->count(), static_cast<int>(kTimeServers.size()));
            for (int i = 0; i < servers->count(); ++i)
                QCOMPARE(servers->itemText(i).toStdString(), std::string(kTimeServers[static_cast<std::size_t>(i)]));

            // Typing picks an entry at most; it never becomes the text.
            isps->setFocus();
            QTest::keyClicks(isps, "Nowhere");
            QCOMPARE(isps->count(), 3);
            QVERIFY(isps->findText(isps->currentText(), Qt::MatchExactly) >= 0);

            // Picked with the keys, from the stored fifth entry.
            servers->setFocus();
            QTest::keyClick(servers, Qt::Key_Down);
            QTest::keyClick(servers, Qt::Key_Down);
            QCOMPARE(servers->currentIndex(), 6);
            QCOMPARE(servers->lineEdit()->text().toStdString(), std::string(kTimeServers[6]));
            QTest::keyClick(isps, Qt::Key_Home);
            QTest::keyClick(isps, Qt::Key_Down);
            QCOMPARE(isps->currentText(), QString("Office"));
            d.Click("cmdOK");
        });
        QCOMPARE(boxes.seen.size(), 1);
        const std::string& file = t.env.files[t.SettingsPath()];
        QCOMPARE(Key(file, "NTPServer"), std::string(kTimeServers[6]));
        QCOMPARE(Key(file, "ConnectionType"), std::string("MODEM"));
        QCOMPARE(Key(file, "Connectoid"), std::string("Office"));
    }

    void enterAndEscapePressNoButton_data()
    {
        QTest::addColumn<QString>("focus");
        for (const char* name : {"txtStartDelay", "cboNTPServer", "cboISPList", "optBoth", "chkQuietMode"})
            QTest::newRow(name) << QString(name);
    }

    void enterAndEscapePressNoButton()
    {
        QFETCH(QString, focus);
        test::GuiApp t;
        t.dialUp.entries = {"Home"};
        const std::string stored = SettingsFile("BOTH", "Home");
        t.env.files[t.SettingsPath()] = stored;
        MessageBoxes boxes(QMessageBox::Yes);
        WhileOpen(t, [&](Dialog& d) {
            for (const char* name : {"cmdOK", "cmdCancel"})
                QVERIFY(!d.Get<QPushButton>(name)->isDefault());
            QWidget* target = d.Get(focus.toLatin1().constData());
            target->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(target, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
                QTest::qWait(20);
                QVERIFY(d.form.IsVisible());
                QVERIFY(d.Window()->isVisible());
            }
            QCOMPARE(d.Focused(), focus);
            // Nor does Escape on a button.
            d.Get("cmdOK")->setFocus();
            QTest::keyClick(d.Get("cmdOK"), Qt::Key_Escape);
            QTest::qWait(20);
            QVERIFY(d.form.IsVisible());
        });
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(t.env.files[t.SettingsPath()], stored);
        QVERIFY(t.app.flags.UserCancelled);  // the close box
    }

    // As on Windows: the focused button takes Enter as it takes Space.
    void enterOnAFocusedButtonPressesIt()
    {
        test::GuiApp t;
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "");
        MessageBoxes boxes(QMessageBox::Yes);
        WhileOpen(t, [&](Dialog& d) {
            d.Get("cmdOK")->setFocus();
            QTest::keyClick(d.Get("cmdOK"), Qt::Key_Return);
            QVERIFY(!d.form.IsVisible());
        });
        QCOMPARE(boxes.seen.size(), 1);
        QVERIFY(!t.app.flags.UserCancelled);
    }

    // ---------------------------------------------------------------------
    // Check boxes, OK, Cancel, close box

    void checkBoxesShowTheRecordAndChangeItAtOnce()
    {
        test::GuiApp t;
        const std::string stored = SettingsFile("LAN", "", "10", "Y", "y");
        t.env.files[t.SettingsPath()] = stored;
        MessageBoxes boxes;
        WhileOpen(t, [&](Dialog& d) {
            QVERIFY(d.Checked("chkQuietMode"));
            QVERIFY(!d.Checked("chkOnlyIfConnected"));                   // only "Y" ticks
            QCOMPARE(t.app.settings.OnlyIfConnected, std::string("y"));  // and the record keeps its "y"

            d.Click("chkQuietMode");
            QVERIFY(!d.Checked("chkQuietMode"));
            QCOMPARE(t.app.settings.QuietMode, std::string("N"));
            d.Get("chkOnlyIfConnected")->setFocus();
            QTest::keyClick(d.Get("chkOnlyIfConnected"), Qt::Key_Space);
            QVERIFY(d.Checked("chkOnlyIfConnected"));
            QCOMPARE(t.app.settings.OnlyIfConnected, std::string("Y"));
            d.Click("chkQuietMode");
            QCOMPARE(t.app.settings.QuietMode, std::string("Y"));
            d.Click("chkQuietMode");
            QCOMPARE(t.app.settings.QuietMode, std::string("N"));

            d.Click("cmdCancel");
            QVERIFY(!d.form.IsVisible());
        });
        // Cancel saves nothing and undoes nothing in memory.
        QVERIFY(boxes.seen.isEmpty());
        QCOMPARE(t.env.files[t.SettingsPath()], stored);
        QCOMPARE(t.app.settings.QuietMode, std::string("N"));
        QCOMPARE(t.app.settings.OnlyIfConnected, std::string("Y"));
        QVERIFY(t.app.flags.UserCancelled);
    }

    void okSavesAndAsksWhetherToRunNow_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("yes") << static_cast<int>(QMessageBox::Yes) << false;
        QTest::newRow("no") << static_cast<int>(QMessageBox::No) << true;
    }

    void okSavesAndAsksWhetherToRunNow()
    {
        QFETCH(int, answer);
        QFETCH(bool, cancelled);
        test::GuiApp t;
        t.dialUp.entries = {"Home", "Office"};
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "", "10", "N", "N");
        t.app.flags.ConfigurePressed = true;  // the dialog opened from the status window
        MessageBoxes boxes(static_cast<QMessageBox::StandardButton>(answer));
        bool stillOpenAfterBox = true;
        WhileOpen(t, [&](Dialog& d) {
            QVERIFY(!t.app.flags.ConfigurePressed);
            d.Click("optBoth");
            QTest::keyClick(d.Get("cboISPList"), Qt::Key_End);
            auto* delay = d.Get<QLineEdit>("txtStartDelay");
            delay->setFocus();
            delay->selectAll();
            QTest::keyClicks(delay, "45");
            d.Click("chkOnlyIfConnected");
            QTest::mouseClick(d.Get("cmdOK"), Qt::LeftButton, {}, QPoint(5, 5));
            stillOpenAfterBox = d.form.IsVisible() || d.Window()->isVisible();
        });
        QVERIFY(!stillOpenAfterBox);
        QCOMPARE(boxes.seen.size(), 1);
        const MessageBoxes::Seen& box = boxes.seen.front();
        QCOMPARE(box.title, QString("Run now"));
        QCOMPARE(box.text, QString("Would you like to run Veltrane now?"));
        QCOMPARE(box.icon, QMessageBox::Question);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
        QCOMPARE(t.app.flags.UserCancelled, cancelled);

        // Saved whichever the answer: six keys, the others kept.
        const std::string& file = t.env.files[t.SettingsPath()];
        QCOMPARE(Key(file, "NTPServer"), std::string(kTimeServers[4]));  // as stored
        QCOMPARE(Key(file, "Delay"), std::string("45"));
        QCOMPARE(Key(file, "ConnectionType"), std::string("BOTH"));
        QCOMPARE(Key(file, "Connectoid"), std::string("Office"));
        QCOMPARE(Key(file, "QuietMode"), std::string("N"));
        QCOMPARE(Key(file, "OnlyIfConnected"), std::string("Y"));
        QCOMPARE(Key(file, "Tolerance"), std::string("45"));
    }

    void cancelAtTheFirstConfigurationRemovesTheNewFile()
    {
        test::GuiApp t;
        MessageBoxes boxes;
        bool createdWhileOpen = false;
        WhileOpen(t, [&](Dialog& d) {
            createdWhileOpen = t.env.files.count(t.SettingsPath()) == 1;
            d.Click("optLAN");
            d.Click("cmdCancel");
            QVERIFY(!d.form.IsVisible());
        });
        QVERIFY(createdWhileOpen);
        QCOMPARE(t.env.files.count(t.SettingsPath()), std::size_t{0});
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(t.app.flags.UserCancelled);
    }

    void theCloseBoxAsksNothingAndLeavesTheFile()
    {
        test::GuiApp t;
        MessageBoxes boxes(QMessageBox::Yes);
        WhileOpen(t, [&](Dialog& d) {
            d.Click("chkQuietMode");
            d.Window()->close();
            QVERIFY(!d.form.IsVisible());
        });
        QVERIFY(boxes.seen.isEmpty());
        QVERIFY(t.app.flags.UserCancelled);
        // What the opening created: the server and the delay only.
        const std::string& file = t.env.files[t.SettingsPath()];
        QVERIFY(Key(file, "NTPServer") != "<none>");
        QVERIFY(Key(file, "Delay") != "<none>");
        QCOMPARE(Key(file, "ConnectionType"), std::string("<none>"));
        QCOMPARE(Key(file, "QuietMode"), std::string("<none>"));
    }

    void eachOpeningShowsWhatWasSaved()
    {
        test::GuiApp t;
        t.dialUp.entries = {"Home", "Office"};
        t.env.files[t.SettingsPath()] = SettingsFile("LAN", "");
        {
            MessageBoxes boxes(QMessageBox::No);
            WhileOpen(t, [&](Dialog& d) {
                d.Click("optModem");
                QTest::keyClick(d.Get("cboISPList"), Qt::Key_End);
                for (int i = 0; i < 14; ++i)
                    QTest::keyClick(d.Get("cboNTPServer"), Qt::Key_Down);
                auto* delay = d.Get<QLineEdit>("txtStartDelay");
                delay->setFocus();
                delay->selectAll();
                QTest::keyClicks(delay, "100");
                d.Click("chkQuietMode");
                d.Click("cmdOK");
            });
            QCOMPARE(boxes.seen.size(), 1);
        }
        QCOMPARE(Key(t.env.files[t.SettingsPath()], "Delay"), std::string("100"));
        WhileOpen(t, [&](Dialog& d) {
            QCOMPARE(d.SelectedOptions(), QStringList{"optModem"});
            QVERIFY(d.Get("cboISPList")->isEnabled());
            QCOMPARE(d.Get<QComboBox>("cboISPList")->currentText(), QString("Office"));
            QCOMPARE(d.Get<QComboBox>("cboNTPServer")->currentIndex(), 13);      // the saved last entry
            QCOMPARE(d.Get<QLineEdit>("txtStartDelay")->text(), QString("60"));  // brought into range
            QVERIFY(d.Checked("chkQuietMode"));
            QVERIFY(!d.Checked("chkOnlyIfConnected"));
        });
    }
};

QTEST_MAIN(ConfigDialogTest)
#include "config_dialog_test.moc"
