// Typed handles on the controls of a window, reached by name.
#pragma once

#include <string>

#include "platform/form.h"

namespace vel {

class Control {
public:
    Control(platform::Form& form, std::string name, platform::ControlKind kind);

    const std::string& Name() const { return name_; }
    void SetEnabled(bool enabled) { form_->SetEnabled(name_, enabled); }
    bool Enabled() const { return form_->IsEnabled(name_); }
    void Refresh() { form_->Refresh(name_); }
    void SetFocus() { form_->SetFocus(name_); }

protected:
    platform::Form* form_;
    std::string name_;
};

class Label : public Control {
public:
    Label(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::Label) {}
    void SetCaption(const std::string& caption) { form_->SetText(name_, caption); }
    std::string Caption() const { return form_->Text(name_); }
    void SetForeColour(platform::Colour colour) { form_->SetForeColour(name_, colour); }
    platform::Colour ForeColour() const { return form_->ForeColour(name_); }
    void SetUnderline(bool underline) { form_->SetUnderline(name_, underline); }
    bool Underlined() const { return form_->IsUnderlined(name_); }
    void SetCursor(const platform::CursorImage& cursor) { form_->SetControlCursor(name_, cursor); }
    platform::Form& Owner() const { return *form_; }
};

class Button : public Control {
public:
    Button(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::Button) {}
    void SetCaption(const std::string& caption) { form_->SetText(name_, caption); }
    std::string Caption() const { return form_->Text(name_); }
};

class TextBox : public Control {
public:
    TextBox(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::TextBox) {}
    void SetText(const std::string& text) { form_->SetText(name_, text); }
    std::string Text() const { return form_->Text(name_); }
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
    std::string Text() const { return form_->Text(name_); }
};

class OptionButton : public Control {
public:
    OptionButton(platform::Form& form, std::string name)
        : Control(form, std::move(name), platform::ControlKind::OptionButton)
    {}
    void SetValue(bool selected) { form_->SetChecked(name_, selected); }
    bool Value() const { return form_->IsChecked(name_); }
};

class CheckBox : public Control {
public:
    CheckBox(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::CheckBox)
    {}
    void SetValue(bool ticked) { form_->SetChecked(name_, ticked); }
    bool Value() const { return form_->IsChecked(name_); }
};

// A frame that groups controls; its option buttons form one group.
class Frame : public Control {
public:
    Frame(platform::Form& form, std::string name) : Control(form, std::move(name), platform::ControlKind::Frame) {}
    void SetCaption(const std::string& caption) { form_->SetText(name_, caption); }
    std::string Caption() const { return form_->Text(name_); }
};

// The declaration of one control of a window by its name; null when none.
const platform::ControlSpec* FindControl(const platform::FormSpec& spec, const std::string& name);

}  // namespace vel
