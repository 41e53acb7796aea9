// The About box on the real widgets: layout, separator, links, pointer,
// buttons and its messages.
#include <QApplication>
#include <QBitmap>
#include <QDesktopServices>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "about/about_dialog.h"
#include "about/version_info.h"
#include "platform/qt/qt_shell.h"
#include "support/gui_app.h"

using namespace vel;
using vel::test::After;

namespace {

struct Expected {
    const char* name;
    const char* className;
};

const Expected kControls[] = {
    {"picIcon", "QLabel"},        {"lblTitle", "QLabel"},   {"lblVersion", "QLabel"},      {"lblDescription", "QLabel"},
    {"lblTechSupport", "QLabel"}, {"lblWeb", "QLabel"},     {"lblWebLink", "QLabel"},      {"lblEMail", "QLabel"},
    {"lblEMailLink", "QLabel"},   {"cmdOK", "QPushButton"}, {"cmdSysInfo", "QPushButton"},
};

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

public slots:
    // Stands in for the desktop's browser and mail program.
    void openUrl(const QUrl& url) { opened << url; }

private:
    // Opens the box; `actions` run once it is shown, then OK closes it.
    void WhileOpen(test::GuiApp& t, std::function<void(platform::QtWindow& about)> actions)
    {
        bool ran = false;
        After(100, [&] {
            platform::QtWindow* about = t.windows.Window("frmAbout");
            QVERIFY(about != nullptr);
            QVERIFY(QTest::qWaitForWindowActive(about->Window()));
            actions(*about);
            ran = true;
            if (about->Owner()->IsVisible())
                QTest::mouseClick(about->Widget("cmdOK"), Qt::LeftButton);
        });
        ShowAboutDialog(t.app);
        QVERIFY(ran);
        QVERIFY(t.windows.FindForm("frmAbout") == nullptr);
    }

    QList<QUrl> opened;

private slots:
    void everyControlAtItsPlace()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            QWidget* window = about.Window();
            QCOMPARE(window->windowTitle(), QString("About Veltrane"));
            QCOMPARE(test::LayoutDifferences(about), QString());
            QCOMPARE(window->minimumSize(), window->maximumSize());  // a fixed frame
            QVERIFY(window->isModal());
            QCOMPARE(window->windowModality(), Qt::ApplicationModal);
            QVERIFY(!window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
            for (const Expected& e : kControls) {
                QWidget* widget = about.Widget(e.name);
                QVERIFY2(widget != nullptr, e.name);
                QCOMPARE(widget->metaObject()->className(), e.className);
            }
            auto text = [&](const char* name) { return qobject_cast<QLabel*>(about.Widget(name))->text(); };
            QCOMPARE(text("lblTitle"), QString("Veltrane - ") + kVersionInfo.FileDescription);
            QVERIFY(about.Widget("lblTitle")->font().bold());
            QVERIFY(!about.Widget("lblVersion")->font().bold());
            QCOMPARE(text("lblVersion"), QString("Version 1.55"));
            QCOMPARE(text("lblDescription"), QString::fromUtf8(kVersionInfo.LegalCopyright));
            QCOMPARE(text("lblTechSupport"), QString("Tech Support:"));
            QCOMPARE(text("lblWeb"), QString("Web:"));
            QCOMPARE(text("lblEMail"), QString("Issues:"));
            QCOMPARE(text("lblWebLink"), QString(kWebAddress));
            QCOMPARE(text("lblEMailLink"), QString(kIssuesAddress));
            QCOMPARE(qobject_cast<QPushButton*>(about.Widget("cmdOK"))->text(), QString("OK"));
            QCOMPARE(qobject_cast<QPushButton*>(about.Widget("cmdSysInfo"))->text(), QString("&System Info..."));

            const QPixmap icon = qobject_cast<QLabel*>(about.Widget("picIcon"))->pixmap();
            QCOMPARE(icon.size(), QSize(32, 32));
            QVERIFY(!icon.toImage().isNull());
            QCOMPARE(QApplication::focusWidget(), about.Widget("cmdOK"));
        });
    }

    void theCaptionsFitTheirLabels()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            const QFontInfo font(about.Widget("lblWeb")->font());
            if (font.family() != QLatin1String("DejaVu Sans Condensed"))
                QSKIP("the layout is checked with DejaVu Sans Condensed (fonts-dejavu-extra)");
            for (const Expected& e : kControls) {
                auto* label = qobject_cast<QLabel*>(about.Widget(e.name));
                if (label == nullptr || label->text().isEmpty())
                    continue;
                const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->width(), 10000),
                                                                       Qt::TextWordWrap, label->text());
                QVERIFY2(needed.width() <= label->width() && needed.height() <= label->height() + 1,
                         qPrintable(label->objectName() + " needs " + QString::number(needed.width()) + "x" +
                                    QString::number(needed.height())));
            }
        });
    }

    void theSeparatorIsEtched()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            const QImage image = about.Window()->grab().toImage();
            const QRgb grey = qRgb(0x80, 0x80, 0x80);
            const QRgb white = qRgb(0xFF, 0xFF, 0xFF);
            // Grey at 1845 twips (pixel row 123), white two rows high at 1860
            // (124, 125), from the left edge to 6360 twips (424 pixels).
            for (int x : {0, 200, 423}) {
                QCOMPARE(image.pixel(x, 123), grey);
                QCOMPARE(image.pixel(x, 124), white);
                QCOMPARE(image.pixel(x, 125), white);
                QVERIFY(image.pixel(x, 122) != grey);
                QVERIFY(image.pixel(x, 126) != white);
            }
            QVERIFY(image.pixel(424, 123) != grey);
            QVERIFY(image.pixel(424, 124) != white);
        });
    }

    void enterAndEscapePressOK()
    {
        for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            test::GuiApp t;
            bool pressed = false;
            After(100, [&] {
                platform::QtWindow* about = t.windows.Window("frmAbout");
                QVERIFY(QTest::qWaitForWindowActive(about->Window()));
                QVERIFY(qobject_cast<QPushButton*>(about->Widget("cmdOK"))->isDefault());
                // Into the window, not the focused button.
                about->Widget("cmdOK")->clearFocus();
                QTest::keyClick(about->Window(), key);
                pressed = true;
            });
            After(3000, [&] {
                if (platform::QtWindow* about = t.windows.Window("frmAbout"))
                    about->Owner()->Close();  // keeps a failing test from hanging
            });
            QElapsedTimer clock;
            clock.start();
            ShowAboutDialog(t.app);
            QVERIFY(pressed);
            QVERIFY2(clock.elapsed() < 2000, "the key closed the box");
        }
    }

    void linksAreBlueUnderlinedAndTurnRedWhenOpened()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            auto* web = qobject_cast<QLabel*>(about.Widget("lblWebLink"));
            auto* issues = qobject_cast<QLabel*>(about.Widget("lblEMailLink"));
            for (QLabel* link : {web, issues}) {
                QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
                QVERIFY(link->font().underline());
            }
            QVERIFY(!about.Widget("lblWeb")->font().underline());

            QTest::mouseClick(web, Qt::LeftButton);
            QCOMPARE(t.shell.opened, std::vector<std::string>{kWebAddress});
            QCOMPARE(web->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            QCOMPARE(issues->palette().color(QPalette::WindowText), QColor(0, 0, 255));

            // A failed open: the message, and the link keeps its colour.
            t.shell.result = false;
            QString text, title;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            test::AnswerNextMessageBox([&](QMessageBox& box) {
                text = box.text();
                title = box.windowTitle();
                icon = box.icon();
            });
            QTest::mouseClick(issues, Qt::LeftButton);
            QCOMPARE(text, QString("Could not start browser!"));
            QCOMPARE(title, QString("Error"));
            QCOMPARE(icon, QMessageBox::Critical);
            QCOMPARE(t.shell.opened.back(), std::string(kIssuesAddress));
            QCOMPARE(issues->palette().color(QPalette::WindowText), QColor(0, 0, 255));
            QVERIFY(about.Owner()->IsVisible());
        });
    }

    void theLinksCarryTheHandAndShowItApplicationWide()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            QWidget* web = about.Widget("lblWebLink");
            for (const char* name : {"lblWebLink", "lblEMailLink"}) {
                const QCursor cursor = about.Widget(name)->cursor();
                QCOMPARE(cursor.shape(), Qt::BitmapCursor);
                QCOMPARE(cursor.hotSpot(), QPoint(12, 9));
                const QImage bitmap = cursor.bitmap().toImage();
                const QImage mask = cursor.mask().toImage();
                QCOMPARE(bitmap.size(), QSize(32, 32));
                QCOMPARE(QColor(bitmap.pixel(12, 9)), QColor(Qt::black));  // the finger tip, opaque black
                QCOMPARE(QColor(mask.pixel(12, 9)), QColor(Qt::black));
                QCOMPARE(QColor(mask.pixel(12, 8)), QColor(Qt::white));  // nothing above it
            }
            QVERIFY(QGuiApplication::overrideCursor() == nullptr);  // opening reset the pointer
            QTest::mouseMove(about.Widget("lblTechSupport"));
            QVERIFY(QGuiApplication::overrideCursor() == nullptr);
            QTest::mouseMove(web, QPoint(10, 5));
            QTRY_VERIFY(QGuiApplication::overrideCursor() != nullptr);
            QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BitmapCursor);
            QCOMPARE(QGuiApplication::overrideCursor()->hotSpot(), QPoint(12, 9));
            QCOMPARE(t.windows.Pointer(), platform::PointerShape::Custom);
        });
        // Nothing puts the pointer back when the box closes.
        QCOMPARE(t.windows.Pointer(), platform::PointerShape::Custom);
        t.windows.SetPointer(platform::PointerShape::Default);
        QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    }

    void systemInfoWithoutAToolSaysSo()
    {
        test::GuiApp t;
        WhileOpen(t, [&](platform::QtWindow& about) {
            QString text;
            QMessageBox::Icon icon = QMessageBox::Critical;
            QList<QAbstractButton*> buttons;
            test::AnswerNextMessageBox([&](QMessageBox& box) {
                text = box.text();
                icon = box.icon();
                buttons = box.buttons();
            });
            QTest::mouseClick(about.Widget("cmdSysInfo"), Qt::LeftButton);
            QCOMPARE(text, QString("System Information Is Unavailable At This Time"));
            QCOMPARE(icon, QMessageBox::NoIcon);
            QCOMPARE(buttons.size(), 1);
            QVERIFY(about.Owner()->IsVisible());
        });
    }

    void theShellOpensWebAndMailAddresses()
    {
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(scheme, this, "openUrl");
        platform::QtShell shell;
        opened.clear();

        QVERIFY(shell.Open(kIssuesAddress));
        QVERIFY(shell.Open("mailto:help@example.org"));
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened[0].toString(), QString("https://") + kIssuesAddress);
        QCOMPARE(opened[1].toString(), QString("mailto:help@example.org"));

        // Nothing to open: a failure, and nothing is started.
        QVERIFY(!shell.Open(""));
        QVERIFY(!shell.Open("   "));
        QCOMPARE(opened.size(), 2);
        for (const char* scheme : {"http", "https", "mailto"})
            QDesktopServices::unsetUrlHandler(scheme);
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
