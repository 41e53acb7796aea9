#include "platform/qt/qt_windows.h"

#include <QApplication>
#include <QBitmap>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextCursor>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace vel::platform {

namespace {

using Link = std::shared_ptr<QtForm*>;

constexpr double kFormFontPoints = 7.5;

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string S(const QString& text)
{
    return text.toStdString();
}

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

// The top-level window of a form: reports activation, the close box and
// Enter / Escape for the default and cancel buttons.
class FormWindow : public QWidget {
public:
    explicit FormWindow(Link link)
        : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint),
          link_(std::move(link))
    {
    }

protected:
    bool event(QEvent* event) override
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

    void closeEvent(QCloseEvent* event) override
    {
        // The close box (or the session ending): never refused.
        if (*link_)
            (*link_)->DeliverCloseBox();
        event->accept();
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                           modifiers == Qt::NoModifier;
        const bool escape = event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier;
        if ((enter || escape) && *link_ && (*link_)->PressDefaultButton(escape)) {
            event->accept();
            return;
        }
        QWidget::keyPressEvent(event);
    }

private:
    Link link_;
};

// A label that reports clicks and mouse moves.
class ClickLabel : public QLabel {
public:
    ClickLabel(Link link, std::string name, QWidget* parent)
        : QLabel(parent), link_(std::move(link)), name_(std::move(name))
    {
        setMouseTracking(true);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        event->setAccepted(event->button() == Qt::LeftButton);
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && *link_)
            (*link_)->DeliverClick(name_);
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (*link_)
            (*link_)->DeliverMouseMove(name_);
        event->accept();
    }

private:
    Link link_;
    std::string name_;
};

// Option buttons and check boxes react to a click anywhere in their area,
// not only on the mark and the caption.
template <typename Base>
class WholeAreaButton : public Base {
public:
    WholeAreaButton(const QString& caption, QWidget* parent) : Base(caption, parent) {}

protected:
    bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};

// An option button. Qt makes whichever option last had the focus its group's
// Tab stop; here, as on Windows, the stop is the selected option.
class OptionButton : public WholeAreaButton<QRadioButton> {
public:
    OptionButton(Link link, const QString& caption, QWidget* parent)
        : WholeAreaButton<QRadioButton>(caption, parent), link_(std::move(link))
    {
    }

protected:
    void focusInEvent(QFocusEvent* event) override
    {
        WholeAreaButton<QRadioButton>::focusInEvent(event);  // moves the stop to this option
        if (*link_)
            (*link_)->UpdateOptionTabStop(parentWidget());
    }

private:
    Link link_;
};

// A line of the window's drawing. A line `width` pixels wide covers that
// many pixel rows (columns for an upright line) from its position down (right).
class LineWidget : public QWidget {
public:
    LineWidget(QWidget* parent, QPoint from, QPoint to, QColor colour, int width)
        : QWidget(parent), colour_(colour), width_(std::max(1, width))
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        const QPoint topLeft(std::min(from.x(), to.x()), std::min(from.y(), to.y()));
        setGeometry(topLeft.x(), topLeft.y(), std::abs(to.x() - from.x()) + width_,
                    std::abs(to.y() - from.y()) + width_);
        from_ = from - topLeft;
        to_ = to - topLeft;
    }

protected:
    void paintEvent(QPaintEvent*) override
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

private:
    QColor colour_;
    int width_;
    QPoint from_, to_;
};

// Typed characters in a text box go through OnKeyPress: unchanged they reach
// the box as usual; changed or dropped, the box gets what the handler left.
class KeyFilter : public QObject {
public:
    KeyFilter(Link link, std::string name, QObject* parent) : QObject(parent), link_(std::move(link)), name_(std::move(name))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
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

private:
    // The characters of a key's text; false for control characters (Enter,
    // Tab, Escape) and empty texts, which are no typed characters.
    static bool Characters(const QString& text, std::vector<int>& codes)
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

    static void Apply(QObject* box, const std::vector<int>& codes)
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

    Link link_;
    std::string name_;
};

}  // namespace

int TwipsToPixels(int twips)
{
    return static_cast<int>(std::lround(twips / 15.0));
}

QColor ToQColor(Colour colour)
{
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

Colour FromQColor(const QColor& colour)
{
    return static_cast<Colour>(colour.red()) | (static_cast<Colour>(colour.green()) << 8) |
           (static_cast<Colour>(colour.blue()) << 16);
}

QCursor ToQCursor(const CursorImage& cursor)
{
    uchar image[32 * 4];
    uchar mask[32 * 4];
    for (int row = 0; row < 32; ++row)
        for (int byte = 0; byte < 4; ++byte) {
            const int shift = 24 - 8 * byte;  // most significant bit leftmost
            image[row * 4 + byte] = static_cast<uchar>((cursor.image[static_cast<std::size_t>(row)] >> shift) & 0xFF);
            mask[row * 4 + byte] = static_cast<uchar>((cursor.mask[static_cast<std::size_t>(row)] >> shift) & 0xFF);
        }
    const QBitmap bitmap = QBitmap::fromData(QSize(32, 32), image, QImage::Format_Mono);
    const QBitmap opaque = QBitmap::fromData(QSize(32, 32), mask, QImage::Format_Mono);
    return QCursor(bitmap, opaque, cursor.hotX, cursor.hotY);
}

QPixmap ProgramIconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    const QColor rim(0x1f, 0x3b, 0x6e);
    painter.setPen(QPen(rim, std::max(1.0, s * 0.08)));
    painter.setBrush(QColor(0xfb, 0xfb, 0xf2));
    painter.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    painter.translate(s / 2, s / 2);
    for (int hour = 0; hour < 12; ++hour) {
        painter.save();
        painter.rotate(30.0 * hour);
        painter.setPen(QPen(rim, std::max(1.0, hour % 3 == 0 ? s * 0.06 : s * 0.03)));
        painter.drawLine(QPointF(0, -s * 0.35), QPointF(0, hour % 3 == 0 ? -s * 0.27 : -s * 0.31));
        painter.restore();
    }
    // Ten past ten.
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), std::max(1.0, s * 0.07), Qt::SolidLine, Qt::RoundCap));
    painter.save();
    painter.rotate(-55.0);
    painter.drawLine(QPointF(0, 0), QPointF(0, -s * 0.20));
    painter.restore();
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), std::max(1.0, s * 0.05), Qt::SolidLine, Qt::RoundCap));
    painter.save();
    painter.rotate(60.0);
    painter.drawLine(QPointF(0, 0), QPointF(0, -s * 0.30));
    painter.restore();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xc0, 0x20, 0x20));
    painter.drawEllipse(QPointF(0, 0), s * 0.06, s * 0.06);
    return pixmap;
}

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(ProgramIconPixmap(size));
    return icon;
}

// QtForm

QtForm::QtForm(QtWindowSystem& system, FormSpec spec)
    : system_(system), spec_(std::move(spec)), link_(std::make_shared<QtForm*>(this))
{
    Build();
    system_.forms_.push_back(this);
}

QtForm::~QtForm()
{
    *alive_ = false;
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
    window_->setObjectName(Q(spec_.name));
    window_->setWindowTitle(Q(spec_.caption));
    window_->setWindowIcon(ProgramIcon());
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    // The layouts are made for a small, narrow dialog font (8-point MS Sans
    // Serif on Windows): a condensed sans where there is one.
    QFont font = window_->font();
    font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), font.family()});
    font.setPointSizeF(kFormFontPoints);
    window_->setFont(font);
    window_->resize(TwipsToPixels(spec_.clientWidth), TwipsToPixels(spec_.clientHeight));

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
    const QString caption = Q(control.caption);
    const QRect geometry(TwipsToPixels(control.left), TwipsToPixels(control.top), TwipsToPixels(control.width),
                         TwipsToPixels(control.height));
    QWidget* widget = nullptr;
    const Link link = link_;
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
            button = new OptionButton(link, caption, parent);  // exclusive within its container
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

    widget->setObjectName(Q(name));
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
    if (HasAccessKey(S(widget->text()))) {
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

void QtForm::WakePump()
{
    system_.pump_.Wake();
}

template <typename Call>
void QtForm::Dispatch(Call call)
{
    EventPump& pump = system_.pump_;
    const std::shared_ptr<bool> alive = alive_;
    if (handler_) {
        ++dispatching_;
        call(*handler_);
        if (*alive)
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
    const QPoint position(area.x() + (area.width() - size.width()) / 2,
                          area.y() + (area.height() - size.height()) / 2);
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
        const Link link = link_;
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
    const Link link = link_;
    QTimer::singleShot(0, window_.data(), [link] {
        if (*link)
            (*link)->DeliverActivation();
    });
}

void QtForm::ShowModal()
{
    const std::shared_ptr<bool> alive = alive_;
    EventPump& pump = system_.pump_;
    if (visible_)
        window_->hide();  // modality can change only while hidden
    window_->setWindowModality(Qt::ApplicationModal);
    if (visible_)
        window_->show();
    Show();
    while (*alive && visible_)
        pump.WaitForEvents(3600.0);
    if (!*alive)
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
    const std::shared_ptr<bool> alive = alive_;
    EventPump& pump = system_.pump_;
    if (handler_) {
        ++dispatching_;
        handler_->OnClose();
        if (!*alive) {
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
    const std::shared_ptr<bool> alive = alive_;
    Dispatch([&](FormEvents& handler) {
        for (int& code : result) {
            if (!*alive)
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

void QtForm::SetTitle(const std::string& title)
{
    window_->setWindowTitle(Q(title));
}

std::string QtForm::Title() const
{
    return S(window_->windowTitle());
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
        static_cast<QLabel*>(widget)->setText(Q(text));
        UpdateLabelBuddy(control);
        break;
    case ControlKind::TextBox:
        if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
            box->setPlainText(Q(text));
            state.multiLineText = text;
            state.multiLineShown = box->toPlainText();
        } else {
            static_cast<QLineEdit*>(widget)->setText(Q(text));
        }
        break;
    case ControlKind::Button:
    case ControlKind::OptionButton:
    case ControlKind::CheckBox:
        static_cast<QAbstractButton*>(widget)->setText(Q(text));
        break;
    case ControlKind::ComboBox: {
        // A pick-only list takes a text only by selecting that item.
        auto* combo = static_cast<QComboBox*>(widget);
        const int index = combo->findText(Q(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            combo->setCurrentIndex(index);
        break;
    }
    case ControlKind::Frame:
        static_cast<QGroupBox*>(widget)->setTitle(Q(text));
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
        return S(static_cast<QLabel*>(widget)->text());
    case ControlKind::TextBox:
        if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
            // Line ends come back as they were set while the user has not
            // changed the text.
            const QString shown = box->toPlainText();
            return shown == state.multiLineShown ? state.multiLineText : S(shown);
        }
        return S(static_cast<QLineEdit*>(widget)->text());
    case ControlKind::Button:
    case ControlKind::OptionButton:
    case ControlKind::CheckBox:
        return S(static_cast<QAbstractButton*>(widget)->text());
    case ControlKind::ComboBox:
        return S(static_cast<QComboBox*>(widget)->currentText());
    case ControlKind::Frame:
        return S(static_cast<QGroupBox*>(widget)->title());
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
    combo->addItem(Q(item));
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
    return S(combo->itemText(index));
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

// QtWindowSystem

QtWindowSystem::QtWindowSystem(EventPump& pump) : pump_(pump)
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
    QMessageBox box;
    box.setWindowTitle(Q(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(Q(text));
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
