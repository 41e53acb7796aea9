#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_widgets.h"
#include "platform/qt/qt_window_system.h"

namespace vel::platform {

namespace {

constexpr double kFormFontPoints = 7.5;

}  // namespace

Form* FormOf(const WindowLink& link)
{
    return *link != nullptr ? (*link)->Owner() : nullptr;
}

int TwipsToPixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

QtWindow::QtWindow(QtWindowSystem& system, Form& form)
    : NativeWindow(form), system_(system), spec_(form.Spec()), link_(std::make_shared<QtWindow*>(this))
{
    window_ = new FormWindow(link_);
    window_->setObjectName(ToQString(spec_.name));
    window_->setWindowTitle(ToQString(spec_.caption));
    window_->setWindowIcon(ProgramIcon());
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    // The layouts are made for a small, narrow dialog font (8-point MS Sans
    // Serif on Windows): a condensed sans where there is one.
    QFont font = window_->font();
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), font.family()});
    font.setPointSizeF(kFormFontPoints);
    window_->setFont(font);
    window_->resize(TwipsToPixels(spec_.clientWidth), TwipsToPixels(spec_.clientHeight));
    if (!spec_.resizable)
        window_->setFixedSize(window_->size());

    // Frames before the controls they hold; lines under the other controls.
    widgets_.assign(spec_.controls.size(), nullptr);
    for (std::size_t i = 0; i < widgets_.size(); ++i)
        if (widgets_[i] == nullptr)
            widgets_[i] = CreateWidget(static_cast<int>(i));
    for (std::size_t i = 0; i < widgets_.size(); ++i)
        if (spec_.controls[i].kind == ControlKind::Line)
            widgets_[i]->lower();
}

QtWindow::~QtWindow()
{
    *link_ = nullptr;
    // A handler of this very window may still be on the stack.
    if (window_) {
        window_->hide();
        window_->deleteLater();
    }
}

QWidget* QtWindow::CreateWidget(int index)
{
    const ControlSpec& control = spec_.controls[static_cast<std::size_t>(index)];
    QWidget* parent = window_;
    if (!control.parent.empty()) {
        const auto frame = static_cast<std::size_t>(form_->IndexOf(control.parent));
        if (widgets_[frame] == nullptr)
            widgets_[frame] = CreateWidget(static_cast<int>(frame));
        parent = widgets_[frame];
    }
    const QString caption = ToQString(control.caption);
    const QRect geometry(TwipsToPixels(control.left), TwipsToPixels(control.top), TwipsToPixels(control.width),
                         TwipsToPixels(control.height));
    QWidget* widget = nullptr;
    const WindowLink link = link_;
    auto click = [link, index] {
        if (Form* form = FormOf(link))
            form->NativeClick(index);
    };

    switch (control.kind) {
        case ControlKind::Label: {
            auto* label = new QLabel(parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setText(caption);
            label->setMouseTracking(true);
            if (control.bold) {
                QFont font = label->font();
                font.setBold(true);
                label->setFont(font);
            }
            widget = label;
            break;
        }
        case ControlKind::TextBox:
            if (control.multiLine) {
                auto* text = new QPlainTextEdit(parent);
                text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                text->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
                text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
                text->setTabChangesFocus(true);
                text->document()->setDocumentMargin(2);
                text->setPlainText(caption);
                widget = text;
            } else {
                widget = new QLineEdit(caption, parent);
            }
            break;
        case ControlKind::Button: {
            auto* button = new QPushButton(caption, parent);
            // Enter presses the focused button, as Space does.
            button->setAutoDefault(true);
            button->setDefault(control.isDefault);
            QObject::connect(button, &QAbstractButton::clicked, button, click);
            widget = button;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);  // pick-only
            QObject::connect(combo, &QComboBox::activated, combo, [link, index](int item) {
                if (Form* form = FormOf(link))
                    form->NativeSelected(index, item);
            });
            widget = combo;
            break;
        }
        case ControlKind::OptionButton: {
            auto* option = new FormButton<QRadioButton>(caption, parent);
            option->setAutoExclusive(false);
            QObject::connect(option, &QAbstractButton::clicked, option, click);
            widget = option;
            break;
        }
        case ControlKind::CheckBox: {
            auto* check = new FormButton<QCheckBox>(caption, parent);
            QObject::connect(check, &QAbstractButton::clicked, check, click);
            widget = check;
            break;
        }
        case ControlKind::Frame:
            widget = new QGroupBox(caption, parent);
            break;
        case ControlKind::Picture: {
            auto* picture = new QLabel(parent);
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            picture->setPixmap(ProgramIconPixmap(std::max(1, std::min(geometry.width(), geometry.height()))));
            widget = picture;
            break;
        }
        case ControlKind::Line: {
            const QPoint from(TwipsToPixels(control.left), TwipsToPixels(control.top));
            const QPoint to(TwipsToPixels(control.left + control.width), TwipsToPixels(control.top + control.height));
            widget = new LineWidget(parent, from, to, ToQColor(control.lineColour), control.lineWidth);
            break;
        }
    }

    widget->setObjectName(ToQString(control.name));
    if (control.kind != ControlKind::Line)
        widget->setGeometry(geometry);
    if (control.kind != ControlKind::Frame && control.kind != ControlKind::Picture && control.kind != ControlKind::Line)
        widget->installEventFilter(new ControlEvents(link_, index, control.kind, widget));
    return widget;
}

QWidget* QtWindow::Widget(const std::string& control) const
{
    for (std::size_t i = 0; i < widgets_.size(); ++i)
        if (spec_.controls[i].name == control)
            return widgets_[i];
    return nullptr;
}

void QtWindow::Show(bool modal, NativeWindow* owner)
{
    if (modal != window_->isModal()) {
        window_->hide();  // modality can change only while hidden
        window_->setWindowModality(modal ? Qt::ApplicationModal : Qt::NonModal);
        // Above the window it was opened from, and no task bar entry of its own.
        window_->winId();
        window_->windowHandle()->setTransientParent(
            owner != nullptr ? static_cast<QtWindow*>(owner)->window_->windowHandle() : nullptr);
    }
    if (window_->isVisible())
        return;
    Centre();
    window_->show();
    // Centred again once the window manager has framed the window (a window
    // manager that draws no frame leaves it where it is).
    centring_ = true;
    const WindowLink link = link_;
    for (int ms : {50, 250, 1000})
        QTimer::singleShot(ms, window_.data(), [link] {
            if (*link)
                (*link)->FrameMayHaveChanged();
        });
    QTimer::singleShot(2000, window_.data(), [link] {
        if (*link)
            (*link)->centring_ = false;
    });
}

void QtWindow::Hide()
{
    centring_ = false;
    window_->hide();
}

void QtWindow::Activate()
{
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))  // which cannot raise
        window_->raise();
    window_->activateWindow();
}

void QtWindow::Centre()
{
    QScreen* screen = window_->screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    // The window manager adds its frame only once the window is shown. Until
    // then count with the frame it gave a window before (none at first): a
    // top-level widget's position is that of its frame's top-left corner.
    QMargins frame = system_.frameMargins_;
    if (window_->isVisible() && window_->windowHandle() != nullptr && !window_->windowHandle()->frameMargins().isNull())
        frame = window_->windowHandle()->frameMargins();
    const QRect area = screen->availableGeometry();
    const QSize size = window_->size().grownBy(frame);
    const QPoint position(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
    if (window_->pos() != position)
        window_->move(position);
}

void QtWindow::FrameMayHaveChanged()
{
    if (!centring_ || !window_->isVisible() || window_->windowHandle() == nullptr)
        return;
    const QMargins frame = window_->windowHandle()->frameMargins();
    if (frame.isNull())
        return;  // no frame yet, or a window manager that draws none
    centring_ = false;
    system_.frameMargins_ = frame;
    Centre();
}

void QtWindow::SetTitle(const std::string& title)
{
    window_->setWindowTitle(ToQString(title));
}

void QtWindow::Repaint(int control)
{
    (control < 0 ? window_.data() : widgets_[static_cast<std::size_t>(control)])->repaint();
}

void QtWindow::SetText(int control, const std::string& text)
{
    QWidget* widget = widgets_[static_cast<std::size_t>(control)];
    const QString value = ToQString(text);
    if (auto* label = qobject_cast<QLabel*>(widget))
        label->setText(value);
    else if (auto* line = qobject_cast<QLineEdit*>(widget))
        line->setText(value);
    else if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
        box->setPlainText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(widget))
        button->setText(value);
    else if (auto* frame = qobject_cast<QGroupBox*>(widget))
        frame->setTitle(value);
}

std::string QtWindow::Text(int control) const
{
    QWidget* widget = widgets_[static_cast<std::size_t>(control)];
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        return ToStdString(line->text());
    if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
        return ToStdString(box->toPlainText());
    return {};
}

void QtWindow::SetEnabled(int control, bool enabled)
{
    changing_ = true;
    widgets_[static_cast<std::size_t>(control)]->setEnabled(enabled);
    changing_ = false;
}

void QtWindow::SetChecked(int control, bool checked)
{
    if (auto* button = qobject_cast<QAbstractButton*>(widgets_[static_cast<std::size_t>(control)]))
        button->setChecked(checked);
}

void QtWindow::SetList(int control, const std::vector<std::string>& items, int selected)
{
    auto* combo = qobject_cast<QComboBox*>(widgets_[static_cast<std::size_t>(control)]);
    combo->clear();
    for (const std::string& item : items)
        combo->addItem(ToQString(item));
    combo->setCurrentIndex(selected);
}

void QtWindow::SetAppearance(int control, std::optional<Colour> colour, bool underline)
{
    QWidget* widget = widgets_[static_cast<std::size_t>(control)];
    if (colour) {
        QPalette palette = widget->palette();
        palette.setColor(widget->foregroundRole(), ToQColor(*colour));
        widget->setPalette(palette);
    }
    QFont font = widget->font();
    font.setUnderline(underline);
    widget->setFont(font);
}

void QtWindow::SetFocus(int control, bool byKey)
{
    QWidget* widget = control < 0 ? window_.data() : widgets_[static_cast<std::size_t>(control)];
    widget->setFocus(byKey ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

void QtWindow::SetCursor(int control, const CursorImage& cursor)
{
    widgets_[static_cast<std::size_t>(control)]->setCursor(ToQCursor(cursor));
}

}  // namespace vel::platform
