#include "platform/form.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vel::platform {

bool TakesFocus(ControlKind kind)
{
    return kind == ControlKind::TextBox || kind == ControlKind::Button || kind == ControlKind::ComboBox ||
           kind == ControlKind::OptionButton || kind == ControlKind::CheckBox;
}

TwipsPoint OriginInWindow(const FormSpec& form, const ControlSpec& control)
{
    TwipsPoint at{control.left, control.top};
    for (const ControlSpec* frame = &control; !frame->parent.empty();) {
        frame = &*std::find_if(form.controls.begin(), form.controls.end(),
                               [frame](const ControlSpec& c) { return c.name == frame->parent; });
        at.x += frame->left;
        at.y += frame->top;
    }
    return at;
}

// WindowSystem

std::unique_ptr<Form> WindowSystem::CreateForm(const FormSpec& spec)
{
    return std::make_unique<Form>(*this, spec);
}

MessageResult WindowSystem::ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                           MessageIcon icon)
{
    if (!interactive) {
        // A box nobody can see would wait for ever.
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
        return buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No;
    }
    Form* owner = FrontForm();
    const MessageResult answer =
        NativeMessageBox(text, title, buttons, icon, owner != nullptr ? owner->native_.get() : nullptr);
    pump_.Wake();
    return answer;
}

void WindowSystem::SetPointer(PointerShape shape, const Form* form, const std::string& control)
{
    pointer_ = shape;
    NativePointer(shape, shape == PointerShape::Custom && form != nullptr ? form->ControlCursor(control) : nullptr);
}

void WindowSystem::BringToFront()
{
    if (Form* front = FrontForm())
        NativeBringToFront(*front->native_);
}

Form* WindowSystem::FindForm(const std::string& name) const
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if ((*it)->Spec().name == name)
            return *it;
    return nullptr;
}

Form* WindowSystem::FrontForm(const Form* except) const
{
    Form* front = nullptr;
    for (Form* form : forms_) {
        if (form == except || !form->visible_)
            continue;
        if (form->active_)
            return form;
        front = form;
    }
    return front;
}

void WindowSystem::Stop(const std::string& message)
{
    if (onFailure_)
        onFailure_(message);
    std::fprintf(stderr, "veltrane: %s\n", message.c_str());
    std::fflush(stderr);
    std::abort();
}

// Form: showing, activation and closing

Form::Form(WindowSystem& system, FormSpec spec) : system_(system), spec_(std::move(spec)), title_(spec_.caption)
{
    Check();
    controls_.resize(spec_.controls.size());
    for (std::size_t i = 0; i < controls_.size(); ++i)
        if (spec_.controls[i].kind != ControlKind::ComboBox)
            controls_[i].text = spec_.controls[i].caption;
    native_ = system_.NewWindow(*this);
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i)
        if (IsTyped(i))
            At(i).shown = native_->Text(i);
    system_.forms_.push_back(this);
}

Form::~Form()
{
    *alive_ = false;
    auto& forms = system_.forms_;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    native_->Detach();
    if (visible_)
        native_->Hide();
    // A handler of this very window is still on the stack, and the native
    // window's code under it: the native window goes once that is over.
    if (dispatching_ > 0)
        system_.pump_.Post([native = std::shared_ptr<NativeWindow>(std::move(native_))] {});
}

void Form::Check() const
{
    const std::size_t count = spec_.controls.size();
    for (std::size_t i = 0; i < count; ++i) {
        const ControlSpec& control = spec_.controls[i];
        for (std::size_t j = 0; j < i; ++j)
            if (spec_.controls[j].name == control.name)
                system_.Stop("internal error: " + spec_.name + " declares " + control.name + " twice");
        // Its frames out to the window: each one declared, and none inside itself.
        std::string parent = control.parent;
        for (std::size_t depth = 0; !parent.empty(); ++depth) {
            auto frame = std::find_if(spec_.controls.begin(), spec_.controls.end(),
                                      [&parent](const ControlSpec& c) { return c.name == parent; });
            if (frame == spec_.controls.end() || frame->kind != ControlKind::Frame || depth == count)
                system_.Stop("internal error: " + spec_.name + " has no frame " + parent);
            parent = frame->parent;
        }
    }
}

int Form::IndexOf(const std::string& control, std::optional<ControlKind> kind) const
{
    for (std::size_t i = 0; i < spec_.controls.size(); ++i)
        if (spec_.controls[i].name == control && (!kind || spec_.controls[i].kind == *kind))
            return static_cast<int>(i);
    system_.Stop("internal error: " + spec_.name + " has no control " + control + (kind ? " of that kind" : ""));
}

void Form::Show()
{
    loaded_ = true;
    if (!visible_) {
        visible_ = true;
        native_->Show(false, nullptr);
    }
    Present();
}

void Form::ShowModal()
{
    const std::shared_ptr<bool> alive = alive_;
    Form* owner = system_.FrontForm(this);
    loaded_ = true;
    visible_ = true;
    native_->Show(true, owner != nullptr ? owner->native_.get() : nullptr);
    Present();
    while (*alive && visible_)
        system_.pump_.WaitForEvents(1e9);
    if (!*alive)
        return;
    // The window under the dialog becomes the active one again.
    if (Form* under = system_.FrontForm(this))
        under->RequestActivation();
}

void Form::Close()
{
    if (!loaded_)
        return;
    loaded_ = false;
    const std::shared_ptr<bool> alive = alive_;
    Dispatch([](FormEvents& handler) { handler.OnClose(); });
    if (!*alive)
        return;
    visible_ = false;
    active_ = false;
    native_->Hide();
    system_.pump_.Wake();
}

// Just shown: the focus, then the activation.
void Form::Present()
{
    PlaceFocus();
    RequestActivation();
}

void Form::RequestActivation()
{
    native_->Activate();
    // Where the window system reports no activation (a bare X server), the
    // request counts as one.
    const std::shared_ptr<bool> alive = alive_;
    system_.pump_.Post([this, alive] {
        if (*alive && visible_ && !active_)
            NativeActivated();
    });
}

void Form::NativeActivated()
{
    if (!visible_ || active_)
        return;
    // One window is the active one at a time.
    for (Form* other : system_.forms_)
        other->active_ = false;
    active_ = true;
    PlaceFocus();
    Dispatch([](FormEvents& handler) { handler.OnActivate(); });
}

template <typename Call>
void Form::Dispatch(Call call)
{
    EventPump& pump = system_.pump_;
    if (handler_ != nullptr)
        Run([this, &call] { call(*handler_); });
    pump.Wake();
}

template <typename Call>
void Form::Run(Call call)
{
    // The call may end the form: nothing of it is touched after, unless it lives.
    const std::shared_ptr<bool> alive = alive_;
    ++dispatching_;
    call();
    if (*alive)
        --dispatching_;
}

template <typename Handler, typename... Arguments>
void Form::RunControlHandler(const Handler& handler, Arguments&... arguments)
{
    EventPump& pump = system_.pump_;
    if (handler) {
        const Handler copy = handler;  // the form, and the handler with it, may be gone after
        Run([&copy, &arguments...] { copy(arguments...); });
    }
    pump.Wake();
}

// Form: the controls' state

void Form::SetTitle(const std::string& title)
{
    title_ = title;
    native_->SetTitle(title);
}

void Form::Refresh(const std::string& control)
{
    native_->Repaint(control.empty() ? -1 : IndexOf(control));
}

void Form::SetText(const std::string& control, const std::string& text)
{
    const int i = IndexOf(control);
    Control& state = At(i);
    switch (SpecOf(i).kind) {
        case ControlKind::ComboBox: {
            if (SpecOf(i).editable) {
                SetTyped(i, text);
                return;
            }
            auto item = std::find(state.items.begin(), state.items.end(), text);
            if (item != state.items.end()) {
                state.selected = static_cast<int>(item - state.items.begin());
                Push(i, ControlChange::List);
            }
            return;
        }
        case ControlKind::Picture:
        case ControlKind::Line:
            state.text = text;
            return;
        default:
            state.text = text;
            Push(i, ControlChange::Text);
            if (SpecOf(i).kind == ControlKind::TextBox)
                state.shown = native_->Text(i);
            return;
    }
}

std::string Form::Text(const std::string& control) const
{
    const int i = IndexOf(control);
    const Control& state = At(i);
    if (SpecOf(i).kind == ControlKind::ComboBox && !SpecOf(i).editable)
        return ItemText(control, state.selected);
    if (IsTyped(i)) {
        // Line ends come back as they were set while the user has not changed
        // the text.
        std::string shown = native_->Text(i);
        return shown == state.shown ? state.text : shown;
    }
    return state.text;
}

void Form::SetEnabled(const std::string& control, bool enabled)
{
    const int i = Set(control, &ControlState::enabled, enabled, ControlChange::Enabled);
    // The focus moves on to the next stop of the Tab order (the window keeps
    // it where there is none); a hidden window keeps where it will be.
    if (!enabled && focus_ == i)
        MoveFocus(NextStop(i, true), false);
}

void Form::SetChecked(const std::string& control, bool checked)
{
    const int i = IndexOf(control);
    if (SpecOf(i).kind == ControlKind::OptionButton && checked)
        SelectOption(i);
    else if (SpecOf(i).kind == ControlKind::OptionButton || SpecOf(i).kind == ControlKind::CheckBox)
        PushChecked(i, checked);
}

// The option buttons of one container are one group: one of them at most is
// selected.
void Form::SelectOption(int option)
{
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i)
        if (i != option && SpecOf(i).kind == ControlKind::OptionButton && SpecOf(i).parent == SpecOf(option).parent)
            PushChecked(i, false);
    PushChecked(option, true);
}

void Form::PushChecked(int control, bool checked)
{
    if (At(control).checked == checked)
        return;
    At(control).checked = checked;
    Push(control, ControlChange::Checked);
}

void Form::ClearItems(const std::string& control)
{
    const int i = IndexOf(control);
    At(i).items.clear();
    At(i).selected = -1;
    Push(i, ControlChange::List);
    if (IsTyped(i))
        SetTyped(i, {});
}

void Form::AddItem(const std::string& control, const std::string& item)
{
    const int i = IndexOf(control);
    At(i).items.push_back(item);
    Push(i, ControlChange::List);
}

std::string Form::ItemText(const std::string& control, int index) const
{
    const Control& state = At(IndexOf(control));
    return index >= 0 && index < static_cast<int>(state.items.size()) ? state.items[static_cast<std::size_t>(index)]
                                                                      : std::string();
}

void Form::SetSelectedIndex(const std::string& control, int index)
{
    const int i = IndexOf(control);
    Control& state = At(i);
    state.selected = index >= 0 && index < static_cast<int>(state.items.size()) ? index : -1;
    Push(i, ControlChange::List);
    if (IsTyped(i)) {
        state.text = ItemText(control, state.selected);
        Push(i, ControlChange::Text);
        state.shown = native_->Text(i);
    }
}

int Form::SelectedIndex(const std::string& control) const
{
    const int i = IndexOf(control);
    const Control& state = At(i);
    if (!IsTyped(i) || SpecOf(i).kind != ControlKind::ComboBox)
        return state.selected;
    // What the user typed may name another item, or none.
    const std::string text = Text(control);
    if (ItemText(control, state.selected) == text && state.selected >= 0)
        return state.selected;
    const auto item = std::find(state.items.begin(), state.items.end(), text);
    return item != state.items.end() ? static_cast<int>(item - state.items.begin()) : -1;
}

bool Form::IsTyped(int control) const
{
    const ControlSpec& spec = SpecOf(control);
    return spec.kind == ControlKind::TextBox || (spec.kind == ControlKind::ComboBox && spec.editable);
}

void Form::SetTyped(int control, const std::string& text)
{
    Control& state = At(control);
    state.text = text;
    const auto item = std::find(state.items.begin(), state.items.end(), text);
    state.selected = item != state.items.end() ? static_cast<int>(item - state.items.begin()) : -1;
    Push(control, ControlChange::Text);
    state.shown = native_->Text(control);
}

// Form: the focus and the keyboard

void Form::SetFocus(const std::string& control)
{
    MoveFocus(IndexOf(control), false);
}

std::string Form::FocusedControl() const
{
    return focus_ >= 0 ? SpecOf(focus_).name : std::string();
}

void Form::MoveFocus(int control, bool byKey)
{
    focus_ = control;
    if (visible_)
        native_->SetFocus(control, byKey);
}

// The focus where it was, else on the first stop of the Tab order.
void Form::PlaceFocus()
{
    if (focus_ < 0 || !At(focus_).enabled)
        focus_ = NextStop(-1, true);
    native_->SetFocus(focus_, false);
}

// Where Tab stops: an enabled control that takes the focus and has a tab
// index. Of the option buttons of one container only one: the selected one,
// or while none is, the first of the Tab order.
bool Form::IsStop(int control) const
{
    const ControlSpec& spec = SpecOf(control);
    if (!TakesFocus(spec.kind) || spec.tabIndex < 0 || !At(control).enabled)
        return false;
    if (spec.kind != ControlKind::OptionButton || At(control).checked)
        return true;
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
        const ControlSpec& other = SpecOf(i);
        if (i != control && other.kind == ControlKind::OptionButton && other.parent == spec.parent &&
            other.tabIndex >= 0 && At(i).enabled && (At(i).checked || other.tabIndex < spec.tabIndex))
            return false;
    }
    return true;
}

// The stop after `from` in the Tab order (before it when going back), around
// the end; from -1 the first (the last). -1 when there is none.
int Form::NextStop(int from, bool forward) const
{
    auto place = [this](int control) { return std::pair(SpecOf(control).tabIndex, control); };
    auto before = [forward, &place](int a, int b) { return forward ? place(a) < place(b) : place(b) < place(a); };
    int next = -1;
    int first = -1;
    for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
        if (i == from || !IsStop(i))
            continue;
        if (first < 0 || before(i, first))
            first = i;
        if (from >= 0 && before(from, i) && (next < 0 || before(i, next)))
            next = i;
    }
    if (next >= 0)
        return next;
    if (first >= 0)
        return first;
    return from >= 0 && IsStop(from) ? from : -1;
}

bool Form::NativeKey(FormKey key)
{
    if (!visible_)
        return false;
    switch (key) {
        case FormKey::Tab:
        case FormKey::BackTab:
            MoveFocus(NextStop(focus_, key == FormKey::Tab), true);
            return true;
        case FormKey::Enter:
            // The focused button, else the default one.
            if (focus_ >= 0 && SpecOf(focus_).kind == ControlKind::Button && NativeClick(focus_))
                return true;
            [[fallthrough]];
        case FormKey::Escape:
            for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
                const ControlSpec& spec = SpecOf(i);
                if (spec.kind == ControlKind::Button && (key == FormKey::Enter ? spec.isDefault : spec.isCancel) &&
                    NativeClick(i))
                    return true;
            }
            return false;
        case FormKey::Previous:
        case FormKey::Next: {
            // An arrow moves the focus and the choice to the next option of
            // the group that is enabled.
            if (focus_ < 0 || SpecOf(focus_).kind != ControlKind::OptionButton)
                return false;
            const ControlSpec& from = SpecOf(focus_);
            const bool forward = key == FormKey::Next;
            int target = -1;
            for (int i = 0; i < static_cast<int>(controls_.size()); ++i) {
                const ControlSpec& option = SpecOf(i);
                if (option.kind != ControlKind::OptionButton || option.parent != from.parent || option.tabIndex < 0 ||
                    !At(i).enabled || (forward ? option.tabIndex <= from.tabIndex : option.tabIndex >= from.tabIndex))
                    continue;
                if (target < 0 ||
                    (forward ? option.tabIndex < SpecOf(target).tabIndex : option.tabIndex > SpecOf(target).tabIndex))
                    target = i;
            }
            if (target >= 0) {
                MoveFocus(target, true);
                NativeClick(target);
            }
            return true;
        }
    }
    return false;
}

// Form: what the native window reports

void Form::NativeCloseRequest()
{
    if (visible_)
        Close();
}

bool Form::NativeClick(int control)
{
    if (!At(control).enabled)
        return false;
    if (SpecOf(control).kind == ControlKind::CheckBox)
        PushChecked(control, !At(control).checked);
    else if (SpecOf(control).kind == ControlKind::OptionButton)
        SelectOption(control);
    RunControlHandler(At(control).click);
    return true;
}

int Form::NativeKeyPress(int control, int code)
{
    if (!At(control).enabled)
        return code;
    RunControlHandler(At(control).keyPress, code);
    return code;
}

void Form::NativeMouseMove(int control)
{
    if (!visible_)
        return;
    RunControlHandler(At(control).mouseMove);
}

void Form::NativeFocus(int control)
{
    if (control >= 0 && control < static_cast<int>(controls_.size()) && TakesFocus(SpecOf(control).kind))
        focus_ = control;
}

void Form::NativeSelected(int control, int index)
{
    Control& state = At(control);
    state.selected = index >= 0 && index < static_cast<int>(state.items.size()) ? index : -1;
    if (IsTyped(control) && state.selected >= 0) {
        // The edit field takes the item's text (on Windows just after this).
        state.text = state.items[static_cast<std::size_t>(state.selected)];
        state.shown = state.text;
    }
    system_.pump_.Wake();
}

}  // namespace vel::platform
