#include "platform/qt/qt_widgets.h"

#include <QCloseEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <algorithm>
#include <cstdlib>

namespace vel::platform {

// FormWindow

FormWindow::FormWindow(WindowLink link)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      link_(std::move(link))
{}

bool FormWindow::event(QEvent* event)
{
    // A deferred delete ends this widget inside QWidget::event: what is used
    // afterwards is copied first.
    const QEvent::Type type = event->type();
    const WindowLink link = link_;
    const bool handled = QWidget::event(event);
    Form* form = FormOf(link);
    if (type == QEvent::WindowActivate && form != nullptr)
        form->NativeActivated();
    else if (type == QEvent::WindowDeactivate && form != nullptr)
        form->NativeDeactivated();
    else if ((type == QEvent::Move || type == QEvent::Expose) && *link)
        (*link)->FrameMayHaveChanged();
    return handled;
}

void FormWindow::closeEvent(QCloseEvent* event)
{
    // The close box (or the session ending): never refused.
    if (Form* form = FormOf(link_))
        form->NativeCloseRequest();
    event->accept();
}

void FormWindow::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier;
    const bool escape = event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
    Form* form = FormOf(link_);
    if ((enter || escape) && form != nullptr && form->NativeKey(escape ? FormKey::Escape : FormKey::Enter)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Tab and Shift+Tab of every control end here.
bool FormWindow::focusNextPrevChild(bool next)
{
    if (Form* form = FormOf(link_); form != nullptr && !(*link_)->ChangingWidgets())
        form->NativeKey(next ? FormKey::Tab : FormKey::BackTab);
    return true;
}

// LineWidget

LineWidget::LineWidget(QWidget* parent, QPoint from, QPoint to, QColor colour, int width)
    : QWidget(parent), colour_(colour), width_(std::max(1, width))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QPoint topLeft(std::min(from.x(), to.x()), std::min(from.y(), to.y()));
    setGeometry(topLeft.x(), topLeft.y(), std::abs(to.x() - from.x()) + width_, std::abs(to.y() - from.y()) + width_);
    from_ = from - topLeft;
    to_ = to - topLeft;
}

void LineWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (from_.y() == to_.y()) {
        painter.fillRect(std::min(from_.x(), to_.x()), from_.y(), std::abs(to_.x() - from_.x()), width_, colour_);
    } else if (from_.x() == to_.x()) {
        painter.fillRect(from_.x(), std::min(from_.y(), to_.y()), width_, std::abs(to_.y() - from_.y()), colour_);
    } else {
        QPen pen(colour_, width_);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        const QPointF shift(width_ / 2.0, width_ / 2.0);
        painter.drawLine(QPointF(from_) + shift, QPointF(to_) + shift);
    }
}

// ControlEvents

ControlEvents::ControlEvents(WindowLink link, int control, ControlKind kind, QObject* parent)
    : QObject(parent), link_(std::move(link)), control_(control), kind_(kind)
{}

bool ControlEvents::eventFilter(QObject* watched, QEvent* event)
{
    Form* form = FormOf(link_);
    if (form == nullptr)
        return false;
    const bool label = kind_ == ControlKind::Label;
    switch (event->type()) {
        case QEvent::FocusIn:
            form->NativeFocus(control_);
            return false;
        case QEvent::MouseButtonPress:  // a label's click is the release that follows
            return label && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!label || mouse->button() != Qt::LeftButton)
                return false;
            if (static_cast<QWidget*>(watched)->rect().contains(mouse->position().toPoint()))
                form->NativeClick(control_);
            return true;
        }
        case QEvent::MouseMove:
            if (label)
                form->NativeMouseMove(control_);
            return false;
        case QEvent::KeyPress:
            if (kind_ == ControlKind::OptionButton) {
                auto* key = static_cast<QKeyEvent*>(event);
                if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
                    return false;
                if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Left)
                    return form->NativeKey(FormKey::Previous);
                if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Right)
                    return form->NativeKey(FormKey::Next);
                return false;
            }
            return kind_ == ControlKind::TextBox && TypedCharacters(watched, event);
        case QEvent::InputMethod:
            return kind_ == ControlKind::TextBox && TypedCharacters(watched, event);
        default:
            return false;
    }
}

bool ControlEvents::TypedCharacters(QObject* box, QEvent* event)
{
    std::vector<int> codes;
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool command =
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != Qt::NoModifier;
        if (command)
            return false;  // shortcuts, paste (Ctrl+V) and the like are no typed characters
        if (key->key() == Qt::Key_Backspace)
            codes.push_back(kKeyBackspace);
        else if (!Characters(key->text(), codes))
            return false;
    } else {
        auto* input = static_cast<QInputMethodEvent*>(event);
        if (!input->preeditString().isEmpty() || input->replacementLength() != 0 ||
            !Characters(input->commitString(), codes))
            return false;
    }

    std::vector<int> result;
    for (int code : codes) {
        Form* form = FormOf(link_);
        if (form == nullptr)
            return true;  // the window went away while the handler ran
        result.push_back(form->NativeKeyPress(control_, code));
    }
    if (FormOf(link_) == nullptr)
        return true;
    if (result == codes)
        return false;
    Apply(box, result);
    return true;
}

bool ControlEvents::Characters(const QString& text, std::vector<int>& codes)
{
    if (text.isEmpty())
        return false;
    for (char32_t c : text.toUcs4()) {
        if (c < 32 || c == 127)
            return false;
        codes.push_back(static_cast<int>(c));
    }
    return true;
}

void ControlEvents::Apply(QObject* box, const std::vector<int>& codes)
{
    if (auto* line = qobject_cast<QLineEdit*>(box)) {
        if (line->isReadOnly())
            return;
        for (int code : codes) {
            if (code == kKeyBackspace)
                line->backspace();
            else if (code > 0) {
                const char32_t c = static_cast<char32_t>(code);
                line->insert(QString::fromUcs4(&c, 1));
            }
        }
    } else if (auto* text = qobject_cast<QPlainTextEdit*>(box)) {
        if (text->isReadOnly())
            return;
        QTextCursor cursor = text->textCursor();
        for (int code : codes) {
            if (code == kKeyBackspace) {
                if (cursor.hasSelection())
                    cursor.removeSelectedText();
                else
                    cursor.deletePreviousChar();
            } else if (code > 0) {
                const char32_t c = static_cast<char32_t>(code);
                cursor.insertText(QString::fromUcs4(&c, 1));
            }
        }
        text->setTextCursor(cursor);
    }
}

}  // namespace vel::platform
