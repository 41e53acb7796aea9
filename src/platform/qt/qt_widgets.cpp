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

FormWindow::FormWindow(FormLink link)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      link_(std::move(link))
{}

bool FormWindow::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowActivate && *link_)
        (*link_)->DeliverActivation();
    else if (event->type() == QEvent::WindowDeactivate && *link_)
        (*link_)->DeliverDeactivation();
    else if ((event->type() == QEvent::Move || event->type() == QEvent::Expose) && *link_)
        (*link_)->FrameMayHaveChanged();
    return handled;
}

void FormWindow::closeEvent(QCloseEvent* event)
{
    // The close box (or the session ending): never refused.
    if (*link_)
        (*link_)->DeliverCloseBox();
    event->accept();
}

void FormWindow::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier;
    const bool escape = event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
    if ((enter || escape) && *link_ && (*link_)->PressDefaultButton(escape)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ClickLabel

ClickLabel::ClickLabel(FormLink link, std::string name, QWidget* parent)
    : QLabel(parent), link_(std::move(link)), name_(std::move(name))
{
    setMouseTracking(true);
}

void ClickLabel::mousePressEvent(QMouseEvent* event)
{
    event->setAccepted(event->button() == Qt::LeftButton);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && *link_)
        (*link_)->DeliverClick(name_);
}

void ClickLabel::mouseMoveEvent(QMouseEvent* event)
{
    if (*link_)
        (*link_)->DeliverMouseMove(name_);
    event->accept();
}

// OptionWidget

OptionWidget::OptionWidget(FormLink link, const QString& caption, QWidget* parent)
    : WholeAreaButton<QRadioButton>(caption, parent), link_(std::move(link))
{}

void OptionWidget::focusInEvent(QFocusEvent* event)
{
    WholeAreaButton<QRadioButton>::focusInEvent(event);  // moves the stop to this option
    if (*link_)
        (*link_)->UpdateOptionTabStop(parentWidget());
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

// KeyFilter

KeyFilter::KeyFilter(FormLink link, std::string name, QObject* parent)
    : QObject(parent), link_(std::move(link)), name_(std::move(name))
{}

bool KeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (!*link_)
        return false;
    std::vector<int> codes;
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool command =
            (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != Qt::NoModifier;
        if (command)
            return false;  // shortcuts, paste (Ctrl+V) and the like are no typed characters
        if (key->key() == Qt::Key_Backspace) {
            codes.push_back(kKeyBackspace);
        } else {
            if (!Characters(key->text(), codes))
                return false;
        }
    } else if (event->type() == QEvent::InputMethod) {
        auto* input = static_cast<QInputMethodEvent*>(event);
        if (!input->preeditString().isEmpty() || input->replacementLength() != 0 ||
            !Characters(input->commitString(), codes))
            return false;
    } else {
        return false;
    }
    if (codes.empty())
        return false;

    const std::vector<int> result = (*link_)->DeliverKeyPresses(name_, codes);
    if (!*link_)
        return true;  // the window went away while the handler ran
    if (result == codes)
        return false;
    Apply(watched, result);
    return true;
}

bool KeyFilter::Characters(const QString& text, std::vector<int>& codes)
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

void KeyFilter::Apply(QObject* box, const std::vector<int>& codes)
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
