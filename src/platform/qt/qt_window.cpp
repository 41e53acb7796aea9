#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_window_system.h"

namespace vel::platform {

namespace {

constexpr double kFormFontPoints = 7.5;

// The form a widget reports to; null once the window or the form has gone.
Form* FormOf(const WindowLink& link)
{
    return *link != nullptr ? (*link)->Owner() : nullptr;
}

// Twips to device-independent pixels, rounded to the nearest pixel.
int TwipsToPixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

// The top-level window: reports activation, the close box, and leaves Tab,
// Enter and Escape to the form.
class FormWindow : public QWidget {
public:
    explicit FormWindow(WindowLink link)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint),
          link_(std::move(link))
    {}

protected:
    bool event(QEvent* event) override
    {
        // A deferred delete ends this widget inside QWidget::event: what is
        // used afterwards is copied first.
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

    void closeEvent(QCloseEvent* event) override
    {
        // The close box (or the session ending): never refused.
        if (Form* form = FormOf(link_))
            form->NativeCloseRequest();
        event->accept();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        const bool enter =
            (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && modifiers == Qt::NoModifier;
        const bool escape = event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
        Form* form = FormOf(link_);
        if ((enter || escape) && form != nullptr && form->NativeKey(escape ? FormKey::Escape : FormKey::Enter)) {
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }

    // The lines of the drawing, under the controls.
    void paintEvent(QPaintEvent*) override
    {
        if (!*link_)
            return;
        QPainter painter(this);
        const FormSpec& spec = (*link_)->Spec();
        for (const ControlSpec& line : spec.controls)
            if (line.kind == ControlKind::Line) {
                const TwipsPoint at = OriginInWindow(spec, line);
                const int left = TwipsToPixels(at.x);
                painter.fillRect(left, TwipsToPixels(at.y), TwipsToPixels(at.x + line.width) - left,
                                 std::max(1, line.lineWidth), ToQColor(line.lineColour));
            }
    }

    // Tab and Shift+Tab of every control end here.
    bool focusNextPrevChild(bool next) override
    {
        if (Form* form = FormOf(link_); form != nullptr && !(*link_)->ChangingWidgets())
            form->NativeKey(next ? FormKey::Tab : FormKey::BackTab);
        return true;
    }

private:
    WindowLink link_;
};

// The marks of option buttons and check boxes no larger than their control
// is tall: the layouts give them 13 pixels, the size of the marks they were
// drawn with, where a style may draw larger ones (Fusion's are 14), which the
// control's edge would cut.
class FormButtonStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int size = QProxyStyle::pixelMetric(metric, option, widget);
        switch (metric) {
            case PM_IndicatorWidth:
            case PM_IndicatorHeight:
            case PM_ExclusiveIndicatorWidth:
            case PM_ExclusiveIndicatorHeight:
                return widget != nullptr && widget->height() > 0 ? std::min(size, widget->height()) : size;
            default:
                return size;
        }
    }
};

// One for the process, over the application's style, gone with the application.
QStyle* ButtonStyle()
{
    static QPointer<QStyle> style;
    if (style.isNull()) {
        style = new FormButtonStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style.data();
}

// Option buttons and check boxes react to a click anywhere in their area,
// not only on the mark and the caption, and never change their own state:
// the form sets it (an option group's exclusivity is the form's).
template <typename Base>
class FormButton : public Base {
public:
    FormButton(const QString& caption, QWidget* parent) : Base(caption, parent) {}

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
    void nextCheckState() override {}
};

// The characters of a key's text; false for control characters (Enter, Tab,
// Escape) and empty texts, which are no typed characters.
bool Characters(const QString& text, std::vector<int>& codes)
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

// A control's events for the form: the focus coming in; a label's clicks and
// mouse moves; the arrows on an option button; the characters typed into a
// text box, which go through the form's key handling: unchanged they reach
// the box as usual; changed or dropped, the box gets what the handler left.
class ControlEvents : public QObject {
public:
    ControlEvents(WindowLink link, int control, ControlKind kind, QObject* parent)
        : QObject(parent), link_(std::move(link)), control_(control), kind_(kind)
    {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        Form* form = FormOf(link_);
        if (form == nullptr || retyping_)
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

private:
    bool TypedCharacters(QObject* box, QEvent* event)
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
        TypeInto(box, result);
        return true;
    }

    // Types the codes into the text box as the form's key handling left them,
    // as keys the box handles itself (this filter lets them pass).
    void TypeInto(QObject* box, const std::vector<int>& codes)
    {
        retyping_ = true;
        for (int code : codes) {
            const char32_t c = static_cast<char32_t>(code);
            QKeyEvent key(QEvent::KeyPress, code == kKeyBackspace ? Qt::Key_Backspace : Qt::Key_unknown, Qt::NoModifier,
                          code == kKeyBackspace ? QString() : QString::fromUcs4(&c, 1));
            if (code > 0)
                QCoreApplication::sendEvent(box, &key);
        }
        retyping_ = false;
    }

    WindowLink link_;
    int control_;
    ControlKind kind_;
    bool retyping_ = false;
};

}  // namespace

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

    // Frames before the controls they hold; lines are the window's drawing.
    widgets_.assign(spec_.controls.size(), nullptr);
    for (std::size_t i = 0; i < widgets_.size(); ++i)
        if (widgets_[i] == nullptr && spec_.controls[i].kind != ControlKind::Line)
            widgets_[i] = CreateWidget(static_cast<int>(i));
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
            widget = button;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(control.editable);
            if (control.editable) {
                // What the user types stays as typed: no new item, no completion.
                combo->setInsertPolicy(QComboBox::NoInsert);
                combo->setCompleter(nullptr);
            }
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
            widget = option;
            break;
        }
        case ControlKind::CheckBox:
            widget = new FormButton<QCheckBox>(caption, parent);
            break;
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
        case ControlKind::Line:
            return nullptr;  // painted by the window
    }

    widget->setObjectName(ToQString(control.name));
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QObject::connect(button, &QAbstractButton::clicked, button, [link, index] {
            if (Form* form = FormOf(link))
                form->NativeClick(index);
        });
    widget->setGeometry(geometry);
    if (control.kind == ControlKind::OptionButton || control.kind == ControlKind::CheckBox)
        widget->setStyle(ButtonStyle());
    if (control.kind != ControlKind::Frame && control.kind != ControlKind::Picture)
        widget->installEventFilter(new ControlEvents(link_, index, control.kind, widget));
    return widget;
}

QWidget* QtWindow::Widget(const std::string& control) const
{
    return widgets_[static_cast<std::size_t>(form_->IndexOf(control))];
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
    centringMoves_ = 3;
    const WindowLink link = link_;
    for (int ms : {50, 250, 1000})
        QTimer::singleShot(ms, window_.data(), [link] {
            if (*link)
                (*link)->FrameMayHaveChanged();
        });
}

void QtWindow::Hide()
{
    centringMoves_ = 0;
    window_->hide();
}

void QtWindow::Activate()
{
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))  // which cannot raise
        window_->raise();
    window_->activateWindow();
}

bool QtWindow::Centre()
{
    QScreen* screen = window_->screen();  // the primary one until it is shown
    if (screen == nullptr)
        return false;
    // The window manager adds its frame only once the window is shown. Until
    // then count with the frame it gave a window before (none at first): a
    // top-level widget's position is that of its frame's top-left corner.
    QMargins frame = system_.frameMargins_;
    if (window_->isVisible() && window_->windowHandle() != nullptr && !window_->windowHandle()->frameMargins().isNull())
        frame = window_->windowHandle()->frameMargins();
    const QRect area = screen->availableGeometry();
    const QSize size = window_->size().grownBy(frame);
    const QPoint position(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2);
    if (window_->pos() == position)
        return false;
    window_->move(position);
    return true;
}

void QtWindow::FrameMayHaveChanged()
{
    if (centringMoves_ == 0 || !window_->isVisible() || window_->windowHandle() == nullptr)
        return;
    const QMargins frame = window_->windowHandle()->frameMargins();
    if (frame.isNull())
        return;  // no frame yet, or a window manager that draws none
    system_.frameMargins_ = frame;
    centringMoves_ = Centre() ? centringMoves_ - 1 : 0;
}

void QtWindow::SetTitle(const std::string& title)
{
    window_->setWindowTitle(ToQString(title));
}

void QtWindow::Repaint(int control)
{
    QWidget* widget = control < 0 ? nullptr : widgets_[static_cast<std::size_t>(control)];
    (widget != nullptr ? widget : window_.data())->repaint();  // a line: the window paints it
}

void QtWindow::Update(int control, const ControlState& state, ControlChange what)
{
    QWidget* widget = widgets_[static_cast<std::size_t>(control)];
    if (widget == nullptr)  // a line
        return;
    const QString text = ToQString(state.text);
    switch (what) {
        case ControlChange::Text:
            if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
                box->setPlainText(text);
            } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {  // an editable one
                combo->setCurrentIndex(state.selected);
                combo->setEditText(text);
            } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
                frame->setTitle(text);
            } else {  // a label, a one-line box or a button
                widget->setProperty("text", text);
            }
            break;
        case ControlChange::Enabled:
            changing_ = true;
            widget->setEnabled(state.enabled);
            changing_ = false;
            break;
        case ControlChange::Checked:
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                button->setChecked(state.checked);
            break;
        case ControlChange::List:
            if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                combo->clear();
                for (const std::string& item : state.items)
                    combo->addItem(ToQString(item));
                combo->setCurrentIndex(state.selected);
                if (combo->isEditable())  // which the list's rebuilding emptied
                    combo->setEditText(text);
            }
            break;
        case ControlChange::Appearance: {
            if (state.colour) {
                QPalette palette = widget->palette();
                palette.setColor(widget->foregroundRole(), ToQColor(*state.colour));
                widget->setPalette(palette);
            }
            QFont font = widget->font();
            font.setUnderline(state.underline);
            widget->setFont(font);
            break;
        }
        case ControlChange::Cursor:
            if (state.cursor)
                widget->setCursor(ToQCursor(*state.cursor));
            break;
    }
}

std::string QtWindow::Text(int control) const
{
    QWidget* widget = widgets_[static_cast<std::size_t>(control)];
    if (auto* line = qobject_cast<QLineEdit*>(widget))
        return ToStdString(line->text());
    if (auto* box = qobject_cast<QPlainTextEdit*>(widget))
        return ToStdString(box->toPlainText());
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo != nullptr && combo->isEditable())
        return ToStdString(combo->currentText());
    return {};
}

void QtWindow::SetFocus(int control, bool byKey)
{
    QWidget* widget = control < 0 ? window_.data() : widgets_[static_cast<std::size_t>(control)];
    widget->setFocus(byKey ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

}  // namespace vel::platform
