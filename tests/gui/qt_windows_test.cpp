// The Qt window back end on a window of every kind of control, laid out as
// the configuration dialog is: frame with options, drop-down lists, check
// boxes, a number box, buttons.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWindow>
#include <algorithm>

#include "common/controls.h"
#include "common/text.h"
#include "settings/config_form.h"
#include "support/gui_app.h"

using namespace vel;
using platform::ControlKind;
using platform::MakeControl;
using vel::test::After;

namespace {

// The configuration dialog's declaration, its options put before their frame
// (the order must not matter), an option of its own on the window beside the
// frame's, and every combo box pick-only.
platform::FormSpec SettingsLikeSpec()
{
    platform::FormSpec spec = ConfigurationDialogSpec();
    spec.name = "frmSample";
    spec.caption = "Sample Configuration";
    std::stable_partition(spec.controls.begin(), spec.controls.end(),
                          [](const platform::ControlSpec& c) { return c.kind != ControlKind::Frame; });
    for (platform::ControlSpec& control : spec.controls)
        control.editable = false;
    const platform::ControlSpec& ok = *FindControl(spec, "cmdOK");
    int lastTab = 0;
    for (const platform::ControlSpec& control : spec.controls)
        lastTab = std::max(lastTab, control.tabIndex);
    // 3593 twips are 239.53 pixels: the nearest is 240, not the 239 that
    // cutting would give.
    spec.controls.push_back(
        MakeControl(ControlKind::OptionButton, "optElsewhere", "Elsewhere", 3593, ok.top, 1200, 255, lastTab + 1));
    return spec;
}

platform::FormSpec EntrySpec()
{
    platform::FormSpec spec;
    spec.name = "frmEntry";
    spec.caption = "Entry";
    spec.clientWidth = 4500;
    spec.clientHeight = 3000;
    spec.controls = {
        MakeControl(ControlKind::TextBox, "txtName", "", 120, 120, 3000, 300, 0),
        MakeControl(ControlKind::TextBox, "txtNotes", "", 120, 600, 3000, 900, 1),
        MakeControl(ControlKind::Button, "cmdSave", "&Save", 120, 2400, 1200, 375, 2),
        MakeControl(ControlKind::Button, "cmdClose", "Close", 1500, 2400, 1200, 375, 3),
        MakeControl(ControlKind::Label, "lblHint", "Hint", 3300, 120, 1000, 255),
        MakeControl(ControlKind::Line, "linRule", "", 3300, 600, 900, 0),
    };
    spec.controls[1].multiLine = true;
    spec.controls[2].isDefault = true;
    spec.controls[3].isCancel = true;
    spec.controls[5].lineColour = 0x0000FF;
    spec.controls[5].lineWidth = 3;
    return spec;
}

// Records what the window reports; text boxes can filter their keys.
struct Recorder : platform::FormEvents {
    platform::Form* form = nullptr;
    QStringList events;
    std::function<void(const std::string& control, int& key)> keys;
    std::function<void(const std::string& control)> clicked;
    std::function<void()> closed;

    void OnActivate() override { events << "activate"; }
    void OnClose() override
    {
        events << "close";
        if (closed)
            closed();
    }
    void OnClick(const std::string& control)
    {
        QString event = "click " + QString::fromStdString(control);
        const platform::ControlSpec* spec = nullptr;
        for (const auto& c : form->Spec().controls)
            if (c.name == control)
                spec = &c;
        if (spec && (spec->kind == ControlKind::OptionButton || spec->kind == ControlKind::CheckBox))
            event += form->IsChecked(control) ? " on" : " off";
        events << event;
        if (clicked)
            clicked(control);
    }
    void OnKeyPress(const std::string& control, int& key)
    {
        events << QString("key %1 %2").arg(QString::fromStdString(control)).arg(key);
        if (keys)
            keys(control, key);
    }
    void OnMouseMove(const std::string& control) { events << "move " + QString::fromStdString(control); }

    // Every control's events come here, by name.
    void Watch(platform::Form& watched)
    {
        watched.SetHandler(this);
        for (const platform::ControlSpec& control : watched.Spec().controls) {
            const int i = watched.IndexOf(control.name);
            watched.OnClick(i, [this, name = control.name] { OnClick(name); });
            watched.OnKeyPress(i, [this, name = control.name](int& key) { OnKeyPress(name, key); });
            watched.OnMouseMove(i, [this, name = control.name] { OnMouseMove(name); });
        }
    }

    int Count(const QString& event) const { return static_cast<int>(events.count(event)); }
};

struct Window {
    platform::QtEventPump pump;
    platform::QtWindowSystem system{pump};
    std::unique_ptr<platform::Form> owned;
    platform::Form* form;
    Recorder recorder;

    explicit Window(const platform::FormSpec& spec) : owned(system.CreateForm(spec)), form(owned.get())
    {
        recorder.form = form;
        recorder.Watch(*form);
    }
    ~Window() { form->SetHandler(nullptr); }

    template <typename T = QWidget>
    T* Get(const char* name)
    {
        auto* widget = qobject_cast<T*>(test::QtOf(*form).Widget(name));
        if (widget == nullptr)
            qFatal("no %s", name);
        return widget;
    }
    bool ShowAndWait()
    {
        form->Show();
        return QTest::qWaitForWindowActive(test::QtOf(*form).Window());
    }
};

}  // namespace

class QtWindowsTest : public QObject {
    Q_OBJECT

private slots:
    void controlsInAFrameArePlacedInsideIt()
    {
        Window w(SettingsLikeSpec());
        auto* frame = w.Get<QGroupBox>("fraHowToConnect");
        QCOMPARE(frame->title(), QString("How to Connect"));
        for (const char* name : {"optLAN", "optModem", "optBoth", "lblConnectionToUse", "cboISPList"})
            QCOMPARE(w.Get(name)->parentWidget(), frame);
        QCOMPARE(w.Get("optElsewhere")->parentWidget(), test::QtOf(*w.form).Window());
        // Every control where it is declared, in its frame's widget, to the
        // nearest pixel.
        QCOMPARE(test::LayoutDifferences(test::QtOf(*w.form)), QString());
        QCOMPARE(w.Get("optElsewhere")->x(), 240);
        const platform::FormSpec& spec = w.form->Spec();
        const platform::TwipsPoint inWindow = platform::OriginInWindow(spec, *FindControl(spec, "optLAN"));
        QCOMPARE(w.Get("optLAN")->mapTo(test::QtOf(*w.form).Window(), QPoint(0, 0)),
                 QPoint(test::Pixels(inWindow.x), test::Pixels(inWindow.y)));
        QCOMPARE(w.Get<QLineEdit>("txtStartDelay")->text(), QString("0"));
    }

    void optionsAreExclusiveWithinTheirContainer()
    {
        Window w(SettingsLikeSpec());
        QVERIFY(w.ShowAndWait());
        w.form->SetChecked("optLAN", true);
        w.form->SetChecked("optElsewhere", true);
        QVERIFY(w.form->IsChecked("optLAN") && w.form->IsChecked("optElsewhere"));
        QVERIFY(!w.recorder.events.join(",").contains("click"));  // setting a value raises no click

        QTest::mouseClick(w.Get("optModem"), Qt::LeftButton);
        QCOMPARE(w.recorder.Count("click optModem on"), 1);  // the new value is there in the handler
        QVERIFY(!w.form->IsChecked("optLAN"));
        QVERIFY(w.form->IsChecked("optElsewhere"));  // another container

        // The program may clear the selected option; Qt alone would not.
        w.form->SetChecked("optModem", false);
        QVERIFY(!w.form->IsChecked("optModem") && !w.form->IsChecked("optLAN") && !w.form->IsChecked("optBoth"));
        w.form->SetChecked("optBoth", true);
        QVERIFY(w.form->IsChecked("optBoth"));
        w.form->SetChecked("optLAN", true);
        QVERIFY(!w.form->IsChecked("optBoth"));
    }

    void checkBoxesReportTheirNewValue()
    {
        Window w(SettingsLikeSpec());
        QVERIFY(w.ShowAndWait());
        QTest::mouseClick(w.Get("chkQuietMode"), Qt::LeftButton);
        QTest::mouseClick(w.Get("chkQuietMode"), Qt::LeftButton);
        QCOMPARE(w.recorder.events.filter("chkQuietMode"),
                 QStringList({"click chkQuietMode on", "click chkQuietMode off"}));
        w.form->SetEnabled("chkQuietMode", false);
        QVERIFY(!w.form->IsEnabled("chkQuietMode"));
        QTest::mouseClick(w.Get("chkQuietMode"), Qt::LeftButton);
        QCOMPARE(w.recorder.events.filter("chkQuietMode").size(), 2);
    }

    void dropDownListsAreForPickingOnly()
    {
        Window w(SettingsLikeSpec());
        auto* combo = w.Get<QComboBox>("cboISPList");
        QVERIFY(!combo->isEditable());
        for (const char* item : {"Home", "Office", "Travel"})
            w.form->AddItem("cboISPList", item);
        QCOMPARE(w.form->ItemCount("cboISPList"), 3);
        QCOMPARE(w.form->SelectedIndex("cboISPList"), -1);  // adding selects nothing
        QCOMPARE(w.form->Text("cboISPList"), std::string());
        w.form->SetSelectedIndex("cboISPList", 2);
        QCOMPARE(w.form->Text("cboISPList"), std::string("Travel"));
        w.form->SetText("cboISPList", "Office");
        QCOMPARE(w.form->SelectedIndex("cboISPList"), 1);
        w.form->SetText("cboISPList", "Typed");  // not an item: no change
        QCOMPARE(w.form->Text("cboISPList"), std::string("Office"));
        QCOMPARE(w.form->ItemText("cboISPList", 0), std::string("Home"));
        QCOMPARE(w.form->ItemText("cboISPList", 3), std::string());

        QVERIFY(w.ShowAndWait());
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(w.form->Text("cboISPList"), std::string("Travel"));
        QVERIFY(w.recorder.events.filter("key").isEmpty());
        w.form->ClearItems("cboISPList");
        QCOMPARE(w.form->ItemCount("cboISPList"), 0);
        QCOMPARE(w.form->SelectedIndex("cboISPList"), -1);
    }

    void typedCharactersGoThroughTheKeyHandler()
    {
        Window w(SettingsLikeSpec());
        w.recorder.keys = [](const std::string& control, int& key) {
            if (control == "txtStartDelay")
                key = NumericKeyFilter(static_cast<std::int16_t>(key));
        };
        QVERIFY(w.ShowAndWait());
        auto* box = w.Get<QLineEdit>("txtStartDelay");
        box->setFocus();
        box->selectAll();
        QTest::keyClicks(box, "1a2.-x3");
        QCOMPARE(box->text(), QString("12.-3"));
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QString("12.-"));
        QCOMPARE(w.recorder.events.filter("key").last(), QString("key txtStartDelay 8"));
        QCOMPARE(w.recorder.events.filter("key").size(), 8);
        // Arrows, Enter and Tab are no characters.
        QTest::keyClick(box, Qt::Key_Left);
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(w.recorder.events.filter("key").size(), 8);

        // A paste is no key press: the text goes in unfiltered.
        QGuiApplication::clipboard()->setText("a9z");
        box->setCursorPosition(box->text().size());
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box->text(), QString("12.-a9z"));
        QCOMPARE(w.recorder.events.filter("key").size(), 8);
        QCOMPARE(w.form->Text("txtStartDelay"), std::string("12.-a9z"));

        // Characters an input method composes are typed characters too.
        box->clear();
        QInputMethodEvent composed;
        composed.setCommitString("4y5");
        QApplication::sendEvent(box, &composed);
        QCOMPARE(box->text(), QString("45"));
        QCOMPARE(w.recorder.events.filter("key").size(), 11);
    }

    void aHandlerCanReplaceOrSwallowACharacter()
    {
        Window w(EntrySpec());
        w.recorder.keys = [](const std::string&, int& key) {
            if (key == 'a')
                key = 'A';
            else if (key == 'x')
                key = 0;
            else if (key == '#')
                key = platform::kKeyBackspace;
        };
        QVERIFY(w.ShowAndWait());
        auto* name = w.Get<QLineEdit>("txtName");
        name->setFocus();
        QTest::keyClicks(name, "abxca#d");
        QCOMPARE(name->text(), QString("Abcd"));  // x dropped; # became Backspace and took the second A
        auto* notes = w.Get<QPlainTextEdit>("txtNotes");
        notes->setFocus();
        QTest::keyClicks(notes, "xa b");
        QCOMPARE(notes->toPlainText(), QString("A b"));
        QCOMPARE(w.form->Text("txtNotes"), std::string("A b"));
    }

    void enterAndEscapePressTheDefaultAndCancelButtons()
    {
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        QCOMPARE(w.form->FocusedControl(), std::string("txtName"));  // lowest tab index
        QVERIFY(w.Get<QPushButton>("cmdSave")->isDefault());
        QTest::keyClick(w.Get("txtName"), Qt::Key_Return);
        QTest::keyClick(w.Get("txtName"), Qt::Key_Escape);
        QCOMPARE(w.recorder.events.filter("click"), QStringList({"click cmdSave", "click cmdClose"}));
        // A focused button is the one Enter presses.
        w.Get("cmdClose")->setFocus();
        QTest::keyClick(w.Get("cmdClose"), Qt::Key_Return);
        QCOMPARE(w.recorder.events.filter("click").last(), QString("click cmdClose"));
        // A disabled default button is not pressed.
        w.form->SetEnabled("cmdSave", false);
        w.Get("txtName")->setFocus();
        QTest::keyClick(w.Get("txtName"), Qt::Key_Return);
        QCOMPARE(w.recorder.events.filter("click").size(), 3);

        // Without a cancel button Escape does nothing: the window stays.
        Window plain(SettingsLikeSpec());
        QVERIFY(plain.ShowAndWait());
        plain.Get("txtStartDelay")->setFocus();
        QTest::keyClick(plain.Get("txtStartDelay"), Qt::Key_Escape);
        QTest::keyClick(plain.Get("txtStartDelay"), Qt::Key_Return);
        QVERIFY(plain.form->IsVisible());
        QVERIFY(plain.recorder.events.filter("click").isEmpty());
        QCOMPARE(plain.form->FocusedControl(), std::string("txtStartDelay"));
    }

    void tabOrderRunsAcrossTheFrame()
    {
        Window w(SettingsLikeSpec());
        w.form->SetChecked("optLAN", true);
        w.form->SetChecked("optElsewhere", true);
        QVERIFY(w.ShowAndWait());
        QCOMPARE(w.form->FocusedControl(), std::string("optLAN"));  // tab index 0, inside the frame
        const QStringList stops = test::TabStops(test::QtOf(*w.form));
        QVERIFY(stops.contains("optElsewhere") && stops.contains("cboISPList"));  // on either side of the frame
        QCOMPARE(test::TabRoundDifferences(test::QtOf(*w.form)), QString());
    }

    void theFrameIsCentredOnTheScreen()
    {
        // Run under a window manager, the test is told so and insists on a
        // frame; on the offscreen platform there is none.
        const bool framed = qEnvironmentVariableIsSet("VELTRANE_TEST_WINDOW_MANAGER");
        platform::QtEventPump pump;
        platform::QtWindowSystem system{pump};

        const auto first = system.CreateForm(EntrySpec());
        QWidget* window = test::QtOf(*first).Window();
        first->Show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        if (framed)
            QTRY_VERIFY_WITH_TIMEOUT(!window->windowHandle()->frameMargins().isNull(), 5000);
        QTRY_VERIFY2(test::FrameCentred(window), qPrintable(test::Placement(window)));
        if (framed)
            QVERIFY2(window->frameGeometry().height() > window->height(), qPrintable(test::Placement(window)));

        // A window shown later is placed with the frame the first one got:
        // where it is asked to be is where it stays.
        const auto second = system.CreateForm(SettingsLikeSpec());
        QWidget* other = test::QtOf(*second).Window();
        second->Show();
        const QPoint asked = other->pos();
        QVERIFY(QTest::qWaitForWindowExposed(other));
        if (framed)
            QTRY_VERIFY_WITH_TIMEOUT(!other->windowHandle()->frameMargins().isNull(), 5000);
        QTRY_VERIFY2(test::FrameCentred(other), qPrintable(test::Placement(other)));
        QCOMPARE(other->frameGeometry().topLeft(), asked);

        // Hidden and shown again, it is centred again.
        second->Close();
        other->move(other->pos() + QPoint(40, 30));
        second->Show();
        QVERIFY(QTest::qWaitForWindowExposed(other));
        QTRY_VERIFY2(test::FrameCentred(other), qPrintable(test::Placement(other)));
        first->Close();
        second->Close();
    }

    void labelsReportClicksAndMouseMoves()
    {
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        QTest::mouseMove(w.Get("lblHint"), QPoint(5, 5));
        QTRY_VERIFY(w.recorder.Count("move lblHint") > 0);
        QTest::mouseClick(w.Get("lblHint"), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(w.recorder.Count("click lblHint"), 1);
        w.form->SetEnabled("lblHint", false);
        QTest::mouseClick(w.Get("lblHint"), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(w.recorder.Count("click lblHint"), 1);
    }

    void activationIsReportedOnceAndAgainAfterAModalWindow()
    {
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        QTest::qWait(100);
        QCOMPARE(w.recorder.Count("activate"), 1);

        // A click as the window system delivers it, modal windows and all.
        QWidget* save = w.Get("cmdSave");
        auto clickSave = [&] {
            QTest::mouseClick(test::QtOf(*w.form).Window()->windowHandle(), Qt::LeftButton, {},
                              save->mapTo(test::QtOf(*w.form).Window(), save->rect().center()));
        };
        std::unique_ptr<platform::Form> dialog = w.system.CreateForm(SettingsLikeSpec());
        bool modal = false;
        After(200, [&] {
            auto* qt = &test::QtOf(*dialog.get());
            modal = QApplication::activeModalWidget() == qt->Window();
            clickSave();  // blocked by the modal window
            dialog->Close();
        });
        dialog->ShowModal();
        QVERIFY(modal);
        QVERIFY(!dialog->IsVisible());
        QCOMPARE(w.recorder.Count("click cmdSave"), 0);
        QTRY_COMPARE(w.recorder.Count("activate"), 2);
        QTRY_COMPARE(QApplication::activeWindow(), test::QtOf(*w.form).Window());
        clickSave();
        QCOMPARE(w.recorder.Count("click cmdSave"), 1);
    }

    void aClickEndsAWaitAtOnce()
    {
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        After(100, [&] { QTest::mouseClick(w.Get("cmdClose"), Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        w.pump.WaitForEvents(10.0);
        w.pump.WaitForEvents(10.0);  // the first may have ended on the activation
        QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(w.recorder.Count("click cmdClose"), 1);
    }

    void closingRunsTheCloseHandlerOnce()
    {
        {
            Window never(EntrySpec());  // never shown
            never.form->Close();
            never.form->Close();
            QCOMPARE(never.recorder.events, QStringList({"close"}));
        }
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        test::QtOf(*w.form).Window()->close();  // the close box
        QVERIFY(!w.form->IsVisible());
        QVERIFY(!test::QtOf(*w.form).Window()->isVisible());
        w.form->Close();
        QCOMPARE(w.recorder.Count("close"), 1);

        // Shown again, it can be closed again.
        QVERIFY(w.ShowAndWait());
        w.form->Close();
        QCOMPARE(w.recorder.Count("close"), 2);
    }

    void aWindowMayGoAwayInsideItsOwnHandler()
    {
        platform::QtEventPump pump;
        platform::QtWindowSystem system(pump);
        std::unique_ptr<platform::Form> form = system.CreateForm(EntrySpec());
        Recorder recorder;
        recorder.form = form.get();
        recorder.clicked = [&](const std::string&) { form.reset(); };
        recorder.Watch(*form);
        form->Show();
        auto* qt = &test::QtOf(*form.get());
        QPointer<QWidget> window = qt->Window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::mouseClick(qt->Widget("cmdSave"), Qt::LeftButton);
        QVERIFY(form == nullptr);
        QVERIFY(system.FindForm("frmEntry") == nullptr);
        QTRY_VERIFY(window.isNull());  // its widgets go once the click is over
    }

    // The same from a typed character, the close box and a modal showing:
    // nothing reaches the form once it is gone.
    void aWindowMayGoAwayInAnyOfItsHandlers()
    {
        platform::QtEventPump pump;
        platform::QtWindowSystem system(pump);
        Recorder recorder;
        std::unique_ptr<platform::Form> form;
        auto open = [&] {
            form = system.CreateForm(EntrySpec());
            recorder.form = form.get();
            recorder.events.clear();
            recorder.Watch(*form);
            return QPointer<QWidget>(test::QtOf(*form).Window());
        };

        // Three characters at once; the first one's handler destroys the form.
        QPointer<QWidget> window = open();
        recorder.keys = [&](const std::string&, int&) { form.reset(); };
        form->Show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QPointer<QWidget> name = test::QtOf(*form).Widget("txtName");
        QInputMethodEvent composed;
        composed.setCommitString("abc");
        QApplication::sendEvent(name, &composed);
        QVERIFY(form == nullptr);
        QCOMPARE(recorder.events.filter("key").size(), 1);
        QTRY_VERIFY(window.isNull());
        recorder.keys = nullptr;

        // The close box; the close handler destroys the form.
        window = open();
        recorder.closed = [&] { form.reset(); };
        form->Show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        window->close();
        QVERIFY(form == nullptr);
        QCOMPARE(recorder.Count("close"), 1);
        QVERIFY(system.FindForm("frmEntry") == nullptr);
        QTRY_VERIFY(window.isNull());
        recorder.closed = nullptr;

        // A modal window whose button destroys it: the modal showing ends.
        window = open();
        recorder.clicked = [&](const std::string&) { form.reset(); };
        test::After(200, [&] {
            if (form != nullptr)
                QTest::mouseClick(test::QtOf(*form).Widget("cmdClose"), Qt::LeftButton);
        });
        form->ShowModal();
        QVERIFY(form == nullptr);
        QCOMPARE(recorder.Count("click cmdClose"), 1);
        QVERIFY(system.FindForm("frmEntry") == nullptr);
        QTRY_VERIFY(window.isNull());
    }

    void aHiddenWindowKeepsEverythingTheProgramSets()
    {
        Window w(EntrySpec());
        w.form->SetTitle("Renamed");
        w.form->SetText("txtName", "Anna");
        w.form->SetText("txtNotes", "line 1\r\nline 2");
        w.form->SetText("lblHint", "A hint");
        w.form->SetForeColour("lblHint", 0x0000FF);
        w.form->SetUnderline("lblHint", true);
        w.form->SetEnabled("cmdSave", false);
        w.form->SetFocus("cmdClose");
        w.form->Refresh();
        QCOMPARE(w.form->Title(), std::string("Renamed"));
        QCOMPARE(w.form->Text("txtName"), std::string("Anna"));
        QCOMPARE(w.form->Text("txtNotes"), std::string("line 1\r\nline 2"));  // as set
        QCOMPARE(w.Get<QPlainTextEdit>("txtNotes")->document()->blockCount(), 2);
        QCOMPARE(w.form->ForeColour("lblHint"), platform::Colour{0x0000FF});
        QCOMPARE(w.Get("lblHint")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(w.form->IsUnderlined("lblHint"));
        QVERIFY(!w.form->IsEnabled("cmdSave"));
        QCOMPARE(w.form->FocusedControl(), std::string("cmdClose"));
        QVERIFY(!w.form->IsVisible());

        QVERIFY(w.ShowAndWait());
        QCOMPARE(test::QtOf(*w.form).Window()->windowTitle(), QString("Renamed"));
        QCOMPARE(QApplication::focusWidget(), w.Get("cmdClose"));
    }

    void linesArePaintedInTheirColourAndWidth()
    {
        Window w(EntrySpec());
        QVERIFY(w.ShowAndWait());
        const QImage image = test::QtOf(*w.form).Window()->grab().toImage();
        // From (220, 40) 60 pixels across, three rows down, red.
        const QRgb red = qRgb(255, 0, 0);
        QCOMPARE(image.pixel(220, 40), red);
        QCOMPARE(image.pixel(279, 42), red);
        QVERIFY(image.pixel(250, 43) != red);
        QVERIFY(image.pixel(280, 41) != red);
    }

    void thePointerShapes()
    {
        Window w(EntrySpec());
        platform::CursorImage arrow;
        arrow.image[0] = 0x80000000;
        arrow.mask[0] = 0xC0000000;
        arrow.hotX = 1;
        arrow.hotY = 0;
        w.form->SetControlCursor("lblHint", arrow);
        QCOMPARE(w.Get("lblHint")->cursor().hotSpot(), QPoint(1, 0));
        const QImage bitmap = w.Get("lblHint")->cursor().bitmap().toImage();
        const QImage mask = w.Get("lblHint")->cursor().mask().toImage();
        QCOMPARE(QColor(bitmap.pixel(0, 0)), QColor(Qt::black));  // image 1: black
        QCOMPARE(QColor(bitmap.pixel(1, 0)), QColor(Qt::white));  // image 0, mask 1: white
        QCOMPARE(QColor(mask.pixel(1, 0)), QColor(Qt::black));
        QCOMPARE(QColor(mask.pixel(2, 0)), QColor(Qt::white));  // transparent

        w.system.SetPointer(platform::PointerShape::Busy);
        QVERIFY(QGuiApplication::overrideCursor() != nullptr);
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BusyCursor);
        w.system.SetPointer(platform::PointerShape::Custom, w.form, "lblHint");
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BitmapCursor);
        QCOMPARE(QGuiApplication::overrideCursor()->hotSpot(), QPoint(1, 0));
        QCOMPARE(w.system.Pointer(), platform::PointerShape::Custom);
        w.system.SetPointer(platform::PointerShape::Default);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
        w.system.SetPointer(platform::PointerShape::Default);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void messageBoxesAskAndTell()
    {
        platform::QtEventPump pump;
        platform::QtWindowSystem system(pump);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title, text;
        int buttons = 0;
        auto note = [&](QMessageBox& box) {
            icon = box.icon();
            title = box.windowTitle();
            text = box.text();
            buttons = static_cast<int>(box.buttons().size());
        };

        test::AnswerNextMessageBox(note, QMessageBox::Yes);
        QCOMPARE(system.ShowMessageBox("Would you like to run Veltrane now?", "Run now",
                                       platform::MessageButtons::YesNo, platform::MessageIcon::Question),
                 platform::MessageResult::Yes);
        QCOMPARE(icon, QMessageBox::Question);
        QCOMPARE(title, QString("Run now"));
        QCOMPARE(text, QString("Would you like to run Veltrane now?"));
        QCOMPARE(buttons, 2);

        test::AnswerNextMessageBox(note, QMessageBox::No);
        QCOMPARE(system.ShowMessageBox("Again?", "Run now", platform::MessageButtons::YesNo,
                                       platform::MessageIcon::Question),
                 platform::MessageResult::No);

        test::AnswerNextMessageBox(note);
        QCOMPARE(system.ShowMessageBox("<b>Broken</b>", "Error", platform::MessageButtons::Ok,
                                       platform::MessageIcon::Critical),
                 platform::MessageResult::Ok);
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(text, QString("<b>Broken</b>"));  // plain text, shown as it is
        QCOMPARE(buttons, 1);
    }
};

QTEST_MAIN(QtWindowsTest)
#include "qt_windows_test.moc"
