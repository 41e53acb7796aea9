#include "platform/headless/headless_windows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vel::platform {

namespace {

bool TakesFocus(ControlKind kind)
{
    return kind == ControlKind::TextBox || kind == ControlKind::Button || kind == ControlKind::ComboBox ||
           kind == ControlKind::OptionButton || kind == ControlKind::CheckBox;
}

}  // namespace

HeadlessForm::HeadlessForm(HeadlessWindowSystem& system, FormSpec spec)
    : system_(system), spec_(std::move(spec)), title_(spec_.caption)
{
    for (const auto& control : spec_.controls)
        controls_[control.name].text = control.kind == ControlKind::ComboBox ? std::string() : control.caption;
    system_.forms_.push_back(this);
}

HeadlessForm::~HeadlessForm()
{
    *alive_ = false;
    auto& forms = system_.forms_;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
}

HeadlessForm::State& HeadlessForm::At(const std::string& control)
{
    auto it = controls_.find(control);
    if (it == controls_.end()) {
        std::fprintf(stderr, "internal error: %s has no control %s\n", spec_.name.c_str(), control.c_str());
        std::abort();
    }
    return it->second;
}

const HeadlessForm::State& HeadlessForm::At(const std::string& control) const
{
    return const_cast<HeadlessForm*>(this)->At(control);
}

void HeadlessForm::PostActivation()
{
    std::shared_ptr<bool> alive = alive_;
    system_.pump_.Post([this, alive] {
        if (*alive)
            Activate();
    });
}

void HeadlessForm::Show()
{
    loaded_ = true;
    visible_ = true;
    ++shownCount_;
    PostActivation();
}

void HeadlessForm::ShowModal()
{
    std::shared_ptr<bool> alive = alive_;
    modal_ = true;
    Show();
    while (*alive && visible_)
        system_.pump_.WaitForEvents(1e9);
    if (!*alive)
        return;
    modal_ = false;
    // The window under the dialog becomes the active one again.
    for (auto it = system_.forms_.rbegin(); it != system_.forms_.rend(); ++it)
        if (*it != this && (*it)->visible_) {
            (*it)->PostActivation();
            break;
        }
}

void HeadlessForm::Close()
{
    if (!loaded_)
        return;
    loaded_ = false;
    if (handler_)
        handler_->OnClose();
    visible_ = false;
    system_.pump_.Wake();
}

void HeadlessForm::Refresh(const std::string&)
{
    ++refreshCount_;
}

void HeadlessForm::SetText(const std::string& control, const std::string& text)
{
    const ControlSpec* spec = nullptr;
    for (const auto& c : spec_.controls)
        if (c.name == control)
            spec = &c;
    State& state = At(control);
    if (spec && spec->kind == ControlKind::ComboBox) {
        // A pick-only list takes a text only by selecting that item.
        auto it = std::find(state.items.begin(), state.items.end(), text);
        if (it != state.items.end())
            state.selected = static_cast<int>(it - state.items.begin());
        return;
    }
    state.text = text;
}

std::string HeadlessForm::Text(const std::string& control) const
{
    const State& state = At(control);
    for (const auto& c : spec_.controls)
        if (c.name == control && c.kind == ControlKind::ComboBox)
            return state.selected >= 0 && state.selected < static_cast<int>(state.items.size())
                       ? state.items[static_cast<std::size_t>(state.selected)]
                       : std::string();
    return state.text;
}

void HeadlessForm::SetEnabled(const std::string& control, bool enabled)
{
    At(control).enabled = enabled;
    // The focus moves on to the next control of the Tab order that can take it.
    if (!enabled && focus_ == control)
        focus_ = NextFocus(control);
}

// The next enabled control of the Tab order after `from` (from the start when
// `from` is none of them), around to the beginning; empty when there is none.
std::string HeadlessForm::NextFocus(const std::string& from) const
{
    std::vector<const ControlSpec*> order;
    for (const auto& c : spec_.controls)
        if (TakesFocus(c.kind) && c.tabIndex >= 0)
            order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlSpec* a, const ControlSpec* b) { return a->tabIndex < b->tabIndex; });
    std::size_t start = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i]->name == from)
            start = i + 1;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const ControlSpec* c = order[(start + k) % order.size()];
        if (c->name != from && At(c->name).enabled)
            return c->name;
    }
    return {};
}

bool HeadlessForm::IsEnabled(const std::string& control) const
{
    return At(control).enabled;
}

void HeadlessForm::SetChecked(const std::string& control, bool checked)
{
    const ControlSpec* spec = nullptr;
    for (const auto& c : spec_.controls)
        if (c.name == control)
            spec = &c;
    At(control).checked = checked;
    if (checked && spec && spec->kind == ControlKind::OptionButton)
        for (const auto& c : spec_.controls)
            if (c.kind == ControlKind::OptionButton && c.name != control && c.parent == spec->parent)
                At(c.name).checked = false;
}

bool HeadlessForm::IsChecked(const std::string& control) const
{
    return At(control).checked;
}

void HeadlessForm::ClearItems(const std::string& control)
{
    State& state = At(control);
    state.items.clear();
    state.selected = -1;
}

void HeadlessForm::AddItem(const std::string& control, const std::string& item)
{
    At(control).items.push_back(item);
}

int HeadlessForm::ItemCount(const std::string& control) const
{
    return static_cast<int>(At(control).items.size());
}

std::string HeadlessForm::ItemText(const std::string& control, int index) const
{
    const State& state = At(control);
    if (index < 0 || index >= static_cast<int>(state.items.size()))
        return {};
    return state.items[static_cast<std::size_t>(index)];
}

void HeadlessForm::SetSelectedIndex(const std::string& control, int index)
{
    State& state = At(control);
    state.selected = index >= 0 && index < static_cast<int>(state.items.size()) ? index : -1;
}

int HeadlessForm::SelectedIndex(const std::string& control) const
{
    return At(control).selected;
}

void HeadlessForm::SetForeColour(const std::string& control, Colour colour)
{
    At(control).foreColour = colour;
}

Colour HeadlessForm::ForeColour(const std::string& control) const
{
    return At(control).foreColour;
}

void HeadlessForm::SetUnderline(const std::string& control, bool underline)
{
    At(control).underline = underline;
}

bool HeadlessForm::IsUnderlined(const std::string& control) const
{
    return At(control).underline;
}

void HeadlessForm::SetControlCursor(const std::string& control, const CursorImage& cursor)
{
    State& state = At(control);
    state.cursor = cursor;
    state.hasCursor = true;
}

const CursorImage* HeadlessForm::ControlCursor(const std::string& control) const
{
    const State& state = At(control);
    return state.hasCursor ? &state.cursor : nullptr;
}

void HeadlessForm::SetFocus(const std::string& control)
{
    At(control);
    focus_ = control;
}

bool HeadlessForm::Click(const std::string& control)
{
    State& state = At(control);
    if (!visible_ || !state.enabled)
        return false;
    for (const auto& c : spec_.controls) {
        if (c.name != control)
            continue;
        if (TakesFocus(c.kind))
            focus_ = control;  // a click takes the focus
        if (c.kind == ControlKind::CheckBox)
            state.checked = !state.checked;
        else if (c.kind == ControlKind::OptionButton)
            SetChecked(control, true);
    }
    std::shared_ptr<bool> alive = alive_;
    if (handler_)
        handler_->OnClick(control);
    if (*alive)
        system_.pump_.Wake();
    return true;
}

bool HeadlessForm::Type(const std::string& control, const std::string& characters)
{
    if (!visible_ || !At(control).enabled)
        return false;
    for (char c : characters) {
        int key = static_cast<unsigned char>(c);
        if (handler_)
            handler_->OnKeyPress(control, key);
        State& state = At(control);
        if (key == kKeyBackspace) {
            if (!state.text.empty())
                state.text.pop_back();
        } else if (key != 0) {
            state.text.push_back(static_cast<char>(key));
        }
    }
    system_.pump_.Wake();
    return true;
}

bool HeadlessForm::PressBackspace(const std::string& control)
{
    return Type(control, std::string(1, static_cast<char>(kKeyBackspace)));
}

bool HeadlessForm::Paste(const std::string& control, const std::string& text)
{
    State& state = At(control);
    if (!visible_ || !state.enabled)
        return false;
    state.text += text;
    system_.pump_.Wake();
    return true;
}

bool HeadlessForm::Select(const std::string& control, int index)
{
    State& state = At(control);
    if (!visible_ || !state.enabled || index < 0 || index >= static_cast<int>(state.items.size()))
        return false;
    state.selected = index;
    system_.pump_.Wake();
    return true;
}

void HeadlessForm::MoveMouseOver(const std::string& control)
{
    At(control);
    if (visible_ && handler_)
        handler_->OnMouseMove(control);
}

void HeadlessForm::CloseBox()
{
    if (visible_)
        Close();
}

void HeadlessForm::Activate()
{
    if (!visible_)
        return;
    // The focus where it was, else on the first control of the Tab order.
    if (focus_.empty() || !At(focus_).enabled)
        focus_ = NextFocus({});
    ++activations_;
    if (handler_)
        handler_->OnActivate();
}

std::unique_ptr<Form> HeadlessWindowSystem::CreateForm(const FormSpec& spec)
{
    return std::make_unique<HeadlessForm>(*this, spec);
}

MessageResult HeadlessWindowSystem::ShowMessageBox(const std::string& text, const std::string& title,
                                                   MessageButtons buttons, MessageIcon icon)
{
    MessageRecord record{text, title, buttons, icon,
                         buttons == MessageButtons::Ok ? MessageResult::Ok : MessageResult::No};
    if (answerMessage) {
        record.answer = answerMessage(record);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    messages.push_back(record);
    return record.answer;
}

void HeadlessWindowSystem::SetPointer(PointerShape shape, const Form* form, const std::string& control)
{
    pointer_ = shape;
    customPointer_ = nullptr;
    if (shape == PointerShape::Custom && form != nullptr)
        if (const auto* headless = dynamic_cast<const HeadlessForm*>(form))
            customPointer_ = headless->ControlCursor(control);
}

HeadlessForm* HeadlessWindowSystem::FindForm(const std::string& name) const
{
    for (auto it = forms_.rbegin(); it != forms_.rend(); ++it)
        if ((*it)->Spec().name == name)
            return *it;
    return nullptr;
}

}  // namespace vel::platform
