#include "platform/qt/qt_window_system.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_text.h"

namespace vel::platform {

QtWindowSystem::QtWindowSystem(EventPump& pump, bool seen) : WindowSystem(pump, seen)
{
    // The program ends by itself; the last window closing must not stop the
    // event loop of a wait.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setWindowIcon(ProgramIcon());
}

QtWindowSystem::~QtWindowSystem()
{
    if (overridden_)
        QGuiApplication::restoreOverrideCursor();
}

MessageResult QtWindowSystem::NativeMessageBox(const std::string& text, const std::string& title,
                                               MessageButtons buttons, MessageIcon icon, NativeWindow*)
{
    QMessageBox box;
    box.setWindowTitle(ToQString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(text));
    box.setIcon(icon == MessageIcon::Question   ? QMessageBox::Question
                : icon == MessageIcon::Critical ? QMessageBox::Critical
                                                : QMessageBox::NoIcon);
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.setWindowModality(Qt::ApplicationModal);
    const int answer = box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageResult::Ok;
    return answer == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
}

void QtWindowSystem::NativePointer(PointerShape shape, const CursorImage* custom)
{
    QCursor cursor(Qt::ArrowCursor);
    switch (shape) {
        case PointerShape::Default:
            if (overridden_) {
                QGuiApplication::restoreOverrideCursor();
                overridden_ = false;
            }
            return;
        case PointerShape::Busy:
            cursor = QCursor(Qt::BusyCursor);
            break;
        case PointerShape::Custom:
            if (custom != nullptr)
                cursor = ToQCursor(*custom);
            break;
    }
    if (overridden_) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
        overridden_ = true;
    }
}

void QtWindowSystem::NativeBringToFront(NativeWindow& front)
{
    // A message box over the windows is the one the user works in.
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) {
        front.Activate();
        return;
    }
    box->setWindowState(box->windowState() & ~Qt::WindowMinimized);
    box->raise();
    box->activateWindow();
}

}  // namespace vel::platform
