#include "platform/qt/qt_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "platform/qt/qt_drawing.h"
#include "platform/qt/qt_text.h"
#include "platform/qt/qt_widgets.h"
#include "platform/qt/qt_window_system.h"

namespace vel::platform {

namespace {

constexpr double kFormFontPoints = 7.5;

bool IsFocusable(ControlKind kind)
{
    switch (kind) {
        case ControlKind::TextBox:
        case ControlKind::Button:
        case ControlKind::ComboBox:
        case ControlKind::OptionButton:
        case ControlKind::CheckBox:
            return true;
        default:
            return false;
    }
}

// A single "&" (not "&&") marks an access key.
bool HasAccessKey(const std::string& caption)
{
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] != '&')
            return true;
        ++i;
    }
    return false;
}

}  // namespace

int TwipsToPixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

QtForm::QtForm(QtWindowSystem& system, FormSpec spec)
    : system_(system), spec_(std::move(spec)), link_(std::make_shared<QtForm*>(this))
{
    Build();
    system_.forms_.push_back(this);
}

QtForm::~QtForm()
{
    *link_ = nullptr;
    auto& forms = system_.forms_;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (window_) {
        window_->hide();
        // A handler of this very window may still be on the stack.
        if (dispatching_ > 0)
            window_->deleteLater();
        else
            delete window_.data();
    }
}

void QtForm::Build()
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

    for (const auto& control : spec_.controls) {
        if (controls_.count(control.name) != 0) {
            std::fprintf(stderr, "internal error: %s declares %s twice\n", spec_.name.c_str(), control.name.c_str());
            std::abort();
        }
        controls_[control.name].spec = &control;
    }

    // Frames before the controls they hold (a frame may sit in a frame).
    std::vector<std::string> building;
    std::function<QWidget*(const std::string&)> container = [&](const std::string& name) -> QWidget* {
        if (name.empty())
            return window_.data();
        auto it = controls_.find(name);
        if (it == controls_.end() || it->second.spec->kind != ControlKind::Frame ||
            std::find(building.begin(), building.end(), name) != building.end()) {
            std::fprintf(stderr, "internal error: %s has no frame %s\n", spec_.name.c_str(), name.c_str());
            std::abort();
        }
        if (it->second.widget == nullptr) {
            building.push_back(name);
            QWidget* parent = container(it->second.spec->parent);
            building.pop_back();
            it->second.widget = CreateWidget(*it->second.spec, parent);
        }
        return it->second.widget;
    };
    for (const auto& control : spec_.controls) {
        if (control.kind == ControlKind::Frame)
            container(control.name);
        else
            controls_[control.name].widget = CreateWidget(control, container(control.parent));
    }
    // Lines lie under the other controls.
    for (const auto& control : spec_.controls)
        if (control.kind == ControlKind::Line)
            controls_[control.name].widget->lower();

    SetUpTabOrder();
    for (const auto& control : spec_.controls)
        if (control.kind == ControlKind::Label)
            UpdateLabelBuddy(control.name);
        else if (control.kind == ControlKind::OptionButton)
            UpdateOptionTabStop(controls_[control.name].widget->parentWidget());
}

QWidget* QtForm::CreateWidget(const ControlSpec& control, QWidget* parent)
{
    const QString caption = ToQString(control.caption);
    const QRect geometry(TwipsToPixels(control.left), TwipsToPixels(control.top), TwipsToPixels(control.width),
                         TwipsToPixels(control.height));
    QWidget* widget = nullptr;
    const FormLink link = link_;
    const std::string name = control.name;

    switch (control.kind) {
        case ControlKind::Label: {
            auto* label = new ClickLabel(link, name, parent);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setText(caption);
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
                controls_[name].multiLineText = control.caption;
                controls_[name].multiLineShown = text->toPlainText();
                widget = text;
            } else {
                auto* line = new QLineEdit(parent);
                line->setText(caption);
                widget = line;
            }
            widget->installEventFilter(new KeyFilter(link, name, widget));
            break;
        case ControlKind::Button: {
            auto* button = new QPushButton(caption, parent);
            // Enter presses the focused button, as Space does.
            button->setAutoDefault(true);
            button->setDefault(control.isDefault);
            QObject::connect(button, &QAbstractButton::clicked, button, [link, name] {
                if (*link)
                    (*link)->DeliverClick(name);
            });
            widget = button;
            break;
        }
        case ControlKind::ComboBox: {
            auto* combo = new QComboBox(parent);
            combo->setEditable(false);  // pick-only
            QObject::connect(combo, &QComboBox::activated, combo, [link] {
                if (*link)
                    (*link)->DeliverSelection();
            });
            widget = combo;
            break;
        }
        case ControlKind::OptionButton:
        case ControlKind::CheckBox: {
            QAbstractButton* button = nullptr;
            if (control.kind == ControlKind::OptionButton) {
                button = new OptionWidget(link, caption, parent);  // exclusive within its container
                QObject::connect(button, &QAbstractButton::toggled, button, [link, parent] {
                    if (*link)
                        (*link)->UpdateOptionTabStop(parent);
                });
            } else {
                button = new WholeAreaButton<QCheckBox>(caption, parent);
            }
            QObject::connect(button, &QAbstractButton::clicked, button, [link, name] {
                if (*link)
                    (*link)->DeliverClick(name);
            });
            widget = button;
            break;
        }
        case ControlKind::Frame:
            widget = new QGroupBox(caption, parent);
            break;
        case ControlKind::Picture: {
            auto* picture = new QLabel(parent);
            picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            picture->setPixmap(ProgramIconPixmap(std::max(1, std::min(geometry.width(), geometry.height()))));
            controls_[name].caption = control.caption;
            widget = picture;
            break;
        }
        case ControlKind::Line: {
            const QPoint from(TwipsToPixels(control.left), TwipsToPixels(control.top));
            const QPoint to(TwipsToPixels(control.left + control.width), TwipsToPixels(control.top + control.height));
            widget = new LineWidget(parent, from, to, ToQColor(control.lineColour), control.lineWidth);
            controls_[name].caption = control.caption;
            break;
        }
    }

    widget->setObjectName(ToQString(name));
    if (control.kind != ControlKind::Line)
        widget->setGeometry(geometry);
    if (IsFocusable(control.kind) && control.tabIndex < 0)
        widget->setFocusPolicy(Qt::ClickFocus);  // not reached with Tab
    return widget;
}

void QtForm::SetUpTabOrder()
{
    std::vector<const ControlSpec*> order;
    for (const auto& control : spec_.controls)
        if (IsFocusable(control.kind) && control.tabIndex >= 0)
            order.push_back(&control);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
    tabOrder_.clear();
    for (const ControlSpec* control : order)
        tabOrder_.push_back(control->name);
    for (std::size_t i = 1; i < tabOrder_.size(); ++i)
        QWidget::setTabOrder(At(tabOrder_[i - 1]).widget, At(tabOrder_[i]).widget);
}

void QtForm::UpdateLabelBuddy(const std::string& label)
{
    // Alt and a label's access key move the focus to the control that follows
    // the label in the tab order.
    ControlState& state = At(label);
    auto* widget = static_cast<QLabel*>(state.widget);
    QWidget* buddy = nullptr;
    if (HasAccessKey(ToStdString(widget->text()))) {
        const ControlSpec* next = nullptr;
        for (const auto& control : spec_.controls)
            if (IsFocusable(control.kind) && control.tabIndex > state.spec->tabIndex &&
                (next == nullptr || control.tabIndex < next->tabIndex))
                next = &control;
        if (next != nullptr)
            buddy = At(next->name).widget;
    }
    widget->setBuddy(buddy);
}

void QtForm::WakePump()
{
    system_.pump_.Wake();
}

template <typename Call>
void QtForm::Dispatch(Call call)
{
    EventPump& pump = system_.pump_;
    const FormLink link = link_;
    if (handler_) {
        ++dispatching_;
        call(*handler_);
        if (*link)
            --dispatching_;
    }
    pump.Wake();
}

void QtForm::Centre()
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

void QtForm::FrameMayHaveChanged()
{
    if (!centring_ || !visible_ || window_->windowHandle() == nullptr)
        return;
    const QMargins frame = window_->windowHandle()->frameMargins();
    if (frame.isNull())
        return;  // no frame yet, or a window manager that draws none
    centring_ = false;
    system_.frameMargins_ = frame;
    Centre();
}

void QtForm::UpdateOptionTabStop(QWidget* container)
{
    // The options of one container form a group (Qt's auto-exclusive rule).
    // Its stop is the selected option; while none is, the first by tab index.
    std::vector<const ControlSpec*> group;
    for (const auto& [name, state] : controls_)
        if (state.spec->kind == ControlKind::OptionButton && state.widget != nullptr &&
            state.widget->parentWidget() == container && state.spec->tabIndex >= 0)
            group.push_back(state.spec);
    if (group.empty())
        return;
    std::stable_sort(group.begin(), group.end(),
                     [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
    const ControlSpec* stop = group.front();
    for (const ControlSpec* option : group)
        if (static_cast<QAbstractButton*>(At(option->name).widget)->isChecked()) {
            stop = option;
            break;
        }
    for (const ControlSpec* option : group) {
        QWidget* widget = At(option->name).widget;
        const Qt::FocusPolicy policy = option == stop ? Qt::StrongFocus : Qt::ClickFocus;
        if (widget->focusPolicy() != policy)
            widget->setFocusPolicy(policy);
    }
}

void QtForm::FocusFirstControl()
{
    std::string target = focus_;
    if (target.empty())
        for (const auto& name : tabOrder_)
            if (QWidget* widget = At(name).widget; widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus)) {
                target = name;
                break;
            }
    if (!target.empty())
        At(target).widget->setFocus(Qt::ActiveWindowFocusReason);
}

void QtForm::Show()
{
    loaded_ = true;
    if (!visible_) {
        visible_ = true;
        Centre();
        window_->show();
        FocusFirstControl();
        // Centred again once the window manager has framed the window (a
        // window manager that draws no frame leaves it where it is).
        centring_ = true;
        const FormLink link = link_;
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
    RequestActivation();
}

void QtForm::RequestActivation()
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))  // which cannot raise
        window_->raise();
    window_->activateWindow();
    // Where the window system reports no activation (a bare X server), the
    // request itself counts as one.
    const FormLink link = link_;
    QTimer::singleShot(0, window_.data(), [link] {
        if (*link)
            (*link)->DeliverActivation();
    });
}

void QtForm::ShowModal()
{
    const FormLink link = link_;
    EventPump& pump = system_.pump_;
    if (visible_)
        window_->hide();  // modality can change only while hidden
    window_->setWindowModality(Qt::ApplicationModal);
    // Above the window it was opened from, and no task bar entry of its own.
    QWindow* owner = nullptr;
    for (auto it = system_.forms_.rbegin(); it != system_.forms_.rend() && owner == nullptr; ++it)
        if (*it != this && (*it)->visible_)
            owner = (*it)->window_->windowHandle();
    window_->winId();  // the native window, which carries the owner
    window_->windowHandle()->setTransientParent(owner);
    if (visible_)
        window_->show();
    Show();
    while (*link && visible_)
        pump.WaitForEvents(3600.0);
    if (!*link)
        return;
    window_->setWindowModality(Qt::NonModal);
    // The window under the dialog becomes the active one again.
    system_.Reactivate(this);
}

void QtForm::Close()
{
    if (!loaded_)
        return;
    loaded_ = false;
    const FormLink link = link_;
    EventPump& pump = system_.pump_;
    if (handler_) {
        ++dispatching_;
        handler_->OnClose();
        if (!*link) {
            pump.Wake();
            return;
        }
        --dispatching_;
    }
    if (visible_)
        focus_ = FocusedControl();
    visible_ = false;
    active_ = false;
    centring_ = false;
    window_->hide();
    pump.Wake();
}

void QtForm::DeliverActivation()
{
    if (!visible_ || active_)
        return;
    active_ = true;
    system_.Activated(this);
    Dispatch([](FormEvents& handler) { handler.OnActivate(); });
}

void QtForm::DeliverCloseBox()
{
    if (visible_)
        Close();
}

void QtForm::DeliverClick(const std::string& control)
{
    Dispatch([&control](FormEvents& handler) { handler.OnClick(control); });
}

void QtForm::DeliverMouseMove(const std::string& control)
{
    Dispatch([&control](FormEvents& handler) { handler.OnMouseMove(control); });
}

std::vector<int> QtForm::DeliverKeyPresses(const std::string& control, const std::vector<int>& codes)
{
    std::vector<int> result = codes;
    const FormLink link = link_;
    Dispatch([&](FormEvents& handler) {
        for (int& code : result) {
            if (!*link)
                break;
            handler.OnKeyPress(control, code);
        }
    });
    return result;
}

bool QtForm::PressDefaultButton(bool cancel)
{
    for (const auto& control : spec_.controls) {
        if (control.kind != ControlKind::Button || !(cancel ? control.isCancel : control.isDefault))
            continue;
        auto* button = static_cast<QPushButton*>(At(control.name).widget);
        if (button->isEnabled() && button->isVisible()) {
            button->click();
            return true;
        }
    }
    return false;
}

}  // namespace vel::platform
