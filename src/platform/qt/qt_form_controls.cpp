// A form's controls by name, and their state on the widgets: texts, checks,
// lists, colours, fonts, pointers and the focus.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <cstdio>
#include <cstdlib>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_form.h"
#include "platform/qt/qt_text.h"

namespace vel::platform {

QtForm::ControlState& QtForm::At(const std::string& control)
{
    auto it = controls_.find(control);
    if (it == controls_.end()) {
        std::fprintf(stderr, "internal error: %s has no control %s\n", spec_.name.c_str(), control.c_str());
        std::abort();
    }
    return it->second;
}

const QtForm::ControlState& QtForm::At(const std::string& control) const
{
    return const_cast<QtForm*>(this)->At(control);
}

QWidget* QtForm::Widget(const std::string& control) const
{
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.widget;
}

const QCursor* QtForm::ControlCursor(const std::string& control) const
{
    auto it = controls_.find(control);
    return it == controls_.end() ? nullptr : it->second.cursor.get();
}

void QtForm::SetTitle(const std::string& title)
{
    window_->setWindowTitle(ToQString(title));
}

std::string QtForm::Title() const
{
    return ToStdString(window_->windowTitle());
}

void QtForm::Refresh(const std::string& control)
{
    if (control.empty())
        window_->repaint();
    else
        At(control).widget->repaint();
}

void QtForm::SetText(const std::string& control, const std::string& text)
{
    ControlState& state = At(control);
    QWidget* widget = state.widget;
    switch (state.spec->kind) {
        case ControlKind::Label:
            static_cast<QLabel*>(widget)->setText(ToQString(text));
            UpdateLabelBuddy(control);
            break;
        case ControlKind::TextBox:
            if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
                box->setPlainText(ToQString(text));
                state.multiLineText = text;
                state.multiLineShown = box->toPlainText();
            } else {
                static_cast<QLineEdit*>(widget)->setText(ToQString(text));
            }
            break;
        case ControlKind::Button:
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            static_cast<QAbstractButton*>(widget)->setText(ToQString(text));
            break;
        case ControlKind::ComboBox: {
            // A pick-only list takes a text only by selecting that item.
            auto* combo = static_cast<QComboBox*>(widget);
            const int index = combo->findText(ToQString(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (index >= 0)
                combo->setCurrentIndex(index);
            break;
        }
        case ControlKind::Frame:
            static_cast<QGroupBox*>(widget)->setTitle(ToQString(text));
            break;
        case ControlKind::Picture:
        case ControlKind::Line:
            state.caption = text;
            break;
    }
}

std::string QtForm::Text(const std::string& control) const
{
    const ControlState& state = At(control);
    QWidget* widget = state.widget;
    switch (state.spec->kind) {
        case ControlKind::Label:
            return ToStdString(static_cast<QLabel*>(widget)->text());
        case ControlKind::TextBox:
            if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
                // Line ends come back as they were set while the user has not
                // changed the text.
                const QString shown = box->toPlainText();
                return shown == state.multiLineShown ? state.multiLineText : ToStdString(shown);
            }
            return ToStdString(static_cast<QLineEdit*>(widget)->text());
        case ControlKind::Button:
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            return ToStdString(static_cast<QAbstractButton*>(widget)->text());
        case ControlKind::ComboBox:
            return ToStdString(static_cast<QComboBox*>(widget)->currentText());
        case ControlKind::Frame:
            return ToStdString(static_cast<QGroupBox*>(widget)->title());
        case ControlKind::Picture:
        case ControlKind::Line:
            return state.caption;
    }
    return {};
}

void QtForm::SetEnabled(const std::string& control, bool enabled)
{
    At(control).widget->setEnabled(enabled);
}

bool QtForm::IsEnabled(const std::string& control) const
{
    QWidget* widget = At(control).widget;
    return widget->isEnabledTo(widget->parentWidget());
}

void QtForm::SetChecked(const std::string& control, bool checked)
{
    ControlState& state = At(control);
    auto* button = qobject_cast<QAbstractButton*>(state.widget);
    if (button == nullptr || !button->isCheckable())
        return;
    if (!checked && button->autoExclusive()) {
        // Qt keeps the selected option of a group selected; the program may
        // clear it.
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
        return;
    }
    button->setChecked(checked);
}

bool QtForm::IsChecked(const std::string& control) const
{
    auto* button = qobject_cast<QAbstractButton*>(At(control).widget);
    return button != nullptr && button->isChecked();
}

void QtForm::ClearItems(const std::string& control)
{
    if (auto* combo = qobject_cast<QComboBox*>(At(control).widget))
        combo->clear();
}

void QtForm::AddItem(const std::string& control, const std::string& item)
{
    auto* combo = qobject_cast<QComboBox*>(At(control).widget);
    if (combo == nullptr)
        return;
    const int selected = combo->currentIndex();
    combo->addItem(ToQString(item));
    // Qt selects the first item put into an empty list; the program decides.
    if (combo->currentIndex() != selected)
        combo->setCurrentIndex(selected);
}

int QtForm::ItemCount(const std::string& control) const
{
    auto* combo = qobject_cast<QComboBox*>(At(control).widget);
    return combo == nullptr ? 0 : combo->count();
}

std::string QtForm::ItemText(const std::string& control, int index) const
{
    auto* combo = qobject_cast<QComboBox*>(At(control).widget);
    if (combo == nullptr || index < 0 || index >= combo->count())
        return {};
    return ToStdString(combo->itemText(index));
}

void QtForm::SetSelectedIndex(const std::string& control, int index)
{
    auto* combo = qobject_cast<QComboBox*>(At(control).widget);
    if (combo == nullptr)
        return;
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

int QtForm::SelectedIndex(const std::string& control) const
{
    auto* combo = qobject_cast<QComboBox*>(At(control).widget);
    return combo == nullptr ? -1 : combo->currentIndex();
}

void QtForm::SetForeColour(const std::string& control, Colour colour)
{
    QWidget* widget = At(control).widget;
    QPalette palette = widget->palette();
    palette.setColor(widget->foregroundRole(), ToQColor(colour));
    widget->setPalette(palette);
}

Colour QtForm::ForeColour(const std::string& control) const
{
    QWidget* widget = At(control).widget;
    return FromQColor(widget->palette().color(widget->foregroundRole()));
}

void QtForm::SetUnderline(const std::string& control, bool underline)
{
    QWidget* widget = At(control).widget;
    QFont font = widget->font();
    font.setUnderline(underline);
    widget->setFont(font);
}

bool QtForm::IsUnderlined(const std::string& control) const
{
    return At(control).widget->font().underline();
}

void QtForm::SetControlCursor(const std::string& control, const CursorImage& cursor)
{
    ControlState& state = At(control);
    state.cursor = std::make_unique<QCursor>(ToQCursor(cursor));
    state.widget->setCursor(*state.cursor);
}

void QtForm::SetFocus(const std::string& control)
{
    ControlState& state = At(control);
    focus_ = control;
    if (visible_)
        state.widget->setFocus(Qt::OtherFocusReason);
}

std::string QtForm::FocusedControl() const
{
    if (!visible_)
        return focus_;
    for (QWidget* widget = window_->focusWidget(); widget != nullptr && widget != window_;
         widget = widget->parentWidget())
        for (const auto& [name, state] : controls_)
            if (state.widget == widget)
                return name;
    return {};
}

}  // namespace vel::platform
