// Typed handles on the controls of a window, reached by name.
#pragma once

#include <functional>
#include <string>

#include "platform/form.h"

namespace vel {

class Control {
public:
    // A name the window does not declare, or not of that kind, stops the program.
    Control(platform::Form& form, std::string name, platform::ControlKind kind);

    const std::string& Name() const { return name_; }
    platform::Form& Owner() const { return *form_; }
    void SetEnabled(bool enabled) { form_->SetEnabled(name_, enabled); }
    bool Enabled() const { return form_->IsEnabled(name_); }
    void Refresh() { form_->Refresh(name_); }
    void SetFocus() { form_->SetFocus(name_); }

    // What runs when the user clicks the control, or moves the mouse over it
    // (one handler each; a later one replaces it).
    void OnClick(std::function<void()> handler) { form_->OnClick(index_, std::move(handler)); }
    void OnMouseMove(std::function<void()> handler) { form_->OnMouseMove(index_, std::move(handler)); }

protected:
    platform::Form* form_;
    std::string name_;
    int index_;
};

// A control with a caption: label or button.
template <platform::ControlKind kKind>
class Captioned : public Control {
public:
    Captioned(platform::Form& form, std::string name) : Control(form, std::move(name), kKind) {}
    void SetCaption(const std::string& caption) { form_->SetText(name_, caption); }
    std::string Caption() const { return form_->Text(name_); }
};

class Label : public Captioned<platform::ControlKind::Label> {
public:
    using Captioned::Captioned;
    void SetForeColour(platform::Colour colour) { form_->SetForeColour(name_, colour); }
    platform::Colour ForeColour() const { return form_->ForeColour(name_); }
    void SetUnderline(bool underline) { form_->SetUnderline(name_, underline); }
    bool Underlined() const { return form_->IsUnderlined(name_); }
    void SetCursor(const platform::CursorImage& cursor) { form_->SetControlCursor(name_, cursor); }
};

using Button = Captioned<platform::ControlKind::Button>;

class TextBox : public Control {
public:
    TextBox(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::TextBox) {}
    void SetText(const std::string& text) { form_->SetText(name_, text); }
    std::string Text() const { return form_->Text(name_); }
    // A character typed into the box: the handler sets `key` to 0 to swallow
    // it, or to another code to replace it.
    void OnKeyPress(std::function<void(int& key)> handler) { form_->OnKeyPress(index_, std::move(handler)); }
};

class ComboBox : public Control {
public:
    ComboBox(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::ComboBox)
    {}
    void Clear() { form_->ClearItems(name_); }
    void AddItem(const std::string& item) { form_->AddItem(name_, item); }
    int ListCount() const { return form_->ItemCount(name_); }
    std::string List(int index) const { return form_->ItemText(name_, index); }
    int ListIndex() const { return form_->SelectedIndex(name_); }
    void SetListIndex(int index) { form_->SetSelectedIndex(name_, index); }
    // An editable list shows any text; a pick-only one selects the item of that text.
    void SetText(const std::string& text) { form_->SetText(name_, text); }
    std::string Text() const { return form_->Text(name_); }
};

// An option button (selecting one clears the others of its container) or a
// check box.
template <platform::ControlKind kKind>
class Checkable : public Control {
public:
    Checkable(platform::Form& form, std::string name) : Control(form, std::move(name), kKind) {}
    void SetValue(bool value) { form_->SetChecked(name_, value); }
    bool Value() const { return form_->IsChecked(name_); }
};

using OptionButton = Checkable<platform::ControlKind::OptionButton>;
using CheckBox = Checkable<platform::ControlKind::CheckBox>;

// The declaration of one control of a window by its name; null when none.
const platform::ControlSpec* FindControl(const platform::FormSpec& spec, const std::string& name);

}  // namespace vel
