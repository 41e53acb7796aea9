#include "platform/qt/qt_window_system.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>
#include <cstdio>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_text.h"

namespace vel::platform {

QtWindowSystem::QtWindowSystem(EventPump& pump, bool seen) : pump_(pump), seen_(seen)
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

std::unique_ptr<Form> QtWindowSystem::CreateForm(const FormSpec& spec)
{
    return std::make_unique<QtForm>(*this, spec);
}

MessageResult QtWindowSystem::ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                             MessageIcon icon)
{
    if (!seen_) {
        // A box nobody can see would wait for ever.
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        return buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No;
    }
    QMessageBox box;
    box.setWindowTitle(ToQString(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(text));
    switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
    }
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

void QtWindowSystem::SetPointer(PointerShape shape, const Form* form, const std::string& control)
{
    pointer_ = shape;
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
            if (const auto* qtForm = dynamic_cast<const QtForm*>(form))
                if (const QCursor* own = qtForm->ControlCursor(control))
                    cursor = *own;
            break;
    }
    if (overridden_) {
        QGuiApplication::changeOverrideCursor(cursor);
    } else {
        QGuiApplication::setOverrideCursor(cursor);
        overridden_ = true;
    }
}

void QtWindowSystem::BringToFront()
{
    QWidget* front = QApplication::activeModalWidget();
    for (auto it = forms_.rbegin(); front == nullptr && it != forms_.rend(); ++it)
        if ((*it)->visible_)
            front = (*it)->Window();
    if (front == nullptr)
        return;
    front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->raise();
    front->activateWindow();
}

QtForm* QtWindowSystem::FindForm(const std::string& name) const
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if ((*it)->Spec().name == name && (*it)->loaded_)
            return *it;
    return nullptr;
}

void QtWindowSystem::Activated(QtForm* form)
{
    // One window is the active one at a time.
    for (QtForm* other : forms_)
        if (other != form)
            other->active_ = false;
}

void QtWindowSystem::Reactivate(const QtForm* closing)
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if (*it != closing && (*it)->visible_) {
            (*it)->RequestActivation();
            return;
        }
}

}  // namespace vel::platform
