// The form engine: one window's state and rules, the same over every back
// end. Its controls and their state, option groups, the Tab order and where
// the focus goes, the default and cancel buttons, showing, activation and
// closing. The back end's native window only mirrors what the form sets and
// reports what the user does.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_system.h"

namespace vel::platform {

class Form {
public:
    // Checks the declaration first: a name declared twice, or a control in a
    // frame the window does not declare, stops the program.
    Form(WindowSystem& system, FormSpec spec);
    // May run inside one of the window's own handlers.
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    const FormSpec& Spec() const { return spec_; }
    void SetHandler(FormEvents* handler) { handler_ = handler; }

    // What runs when the user acts on a control, one handler each, set by
    // whoever holds the control (common/controls.h); none set: nothing runs.
    // A click of a button, option button, check box or label (an option
    // button or check box has its new value already); a character typed into
    // a text box (set `key` to 0 to swallow it, or to another code to replace
    // it); the mouse over a control. The handler may close or end the form.
    void OnClick(int control, std::function<void()> handler) { At(control).click = std::move(handler); }
    void OnKeyPress(int control, std::function<void(int& key)> handler) { At(control).keyPress = std::move(handler); }
    void OnMouseMove(int control, std::function<void()> handler) { At(control).mouseMove = std::move(handler); }

    // Shows the window without waiting (modeless). Its first activation
    // follows from the event queue.
    void Show();
    // Shows the window modally above the one the user works in and returns
    // when it has closed; events are dispatched meanwhile.
    void ShowModal();
    // Closes the window: OnClose runs, then the window is gone. Closing a
    // closed window does nothing.
    void Close();
    bool IsVisible() const { return visible_; }

    void SetTitle(const std::string& title);
    std::string Title() const { return title_; }

    // Repaints the whole window (empty name) or one control, at once.
    void Refresh(const std::string& control = {});

    // Caption of a label, button, option, check box or frame; text of a text
    // box; the selected item's text of a pick-only drop-down list (which
    // takes a text only by selecting that item). An editable one shows any
    // text in its edit field, and selects the item of that text where there
    // is one; its text is what the edit field holds, typed or picked.
    void SetText(const std::string& control, const std::string& text);
    std::string Text(const std::string& control) const;

    // A disabled control takes no click, and the focus leaves it.
    void SetEnabled(const std::string& control, bool enabled);
    bool IsEnabled(const std::string& control) const { return State(control).enabled; }

    // Option buttons (selecting one clears the others of its container) and
    // check boxes. Setting a value does not raise OnClick.
    void SetChecked(const std::string& control, bool checked);
    bool IsChecked(const std::string& control) const { return State(control).checked; }

    // Drop-down lists. Adding selects nothing; clearing empties an editable
    // one's edit field too, and selecting an item puts its text there.
    void ClearItems(const std::string& control);
    void AddItem(const std::string& control, const std::string& item);
    int ItemCount(const std::string& control) const { return static_cast<int>(State(control).items.size()); }
    std::string ItemText(const std::string& control, int index) const;
    void SetSelectedIndex(const std::string& control, int index);  // -1: none
    // -1: none. An editable list's item is the one its edit field holds now.
    int SelectedIndex(const std::string& control) const;

    // Labels as links.
    void SetForeColour(const std::string& control, Colour colour)
    {
        Set(control, &ControlState::colour, std::optional(colour), ControlChange::Appearance);
    }
    Colour ForeColour(const std::string& control) const { return State(control).colour.value_or(0); }
    void SetUnderline(const std::string& control, bool underline)
    {
        Set(control, &ControlState::underline, underline, ControlChange::Appearance);
    }
    bool IsUnderlined(const std::string& control) const { return State(control).underline; }
    // The control's own pointer, shown by WindowSystem::SetPointer(Custom).
    void SetControlCursor(const std::string& control, const CursorImage& cursor)
    {
        Set(control, &ControlState::cursor, std::optional(cursor), ControlChange::Cursor);
    }
    const CursorImage* ControlCursor(const std::string& control) const  // null: none
    {
        return State(control).cursor ? &*State(control).cursor : nullptr;
    }

    void SetFocus(const std::string& control);
    std::string FocusedControl() const;

    // The place of a control in the declaration; a name the window does not
    // declare (or not of that kind) is a bug and stops the program.
    int IndexOf(const std::string& control, std::optional<ControlKind> kind = {}) const;

    NativeWindow& Native() { return *native_; }
    const ControlState& StateOf(int control) const { return At(control); }

    // What the native window reports. Each one runs the handler, if any, then
    // wakes the event pump so that a wait in progress returns.
    void NativeActivated();
    void NativeDeactivated() { active_ = false; }
    void NativeCloseRequest();  // the close box, the system's shutdown: never refused
    // A click (mouse, Space, access key); false when the control is disabled
    // and nothing happened.
    bool NativeClick(int control);
    // A character typed into a text box: the code to use instead (0: none).
    int NativeKeyPress(int control, int code);
    void NativeMouseMove(int control);
    void NativeFocus(int control);                // the user put the focus there
    void NativeSelected(int control, int index);  // the user picked a list item
    // Whether the form took the key.
    bool NativeKey(FormKey key);

private:
    friend class WindowSystem;

    struct Control : ControlState {
        std::string shown;  // a typed text as the window showed it when set
        std::function<void()> click;
        std::function<void(int&)> keyPress;
        std::function<void()> mouseMove;
    };

    const ControlSpec& SpecOf(int control) const { return spec_.controls[static_cast<std::size_t>(control)]; }
    Control& At(int control) { return controls_[static_cast<std::size_t>(control)]; }
    const Control& State(const std::string& control) const { return At(IndexOf(control)); }
    const Control& At(int control) const { return controls_[static_cast<std::size_t>(control)]; }
    void Check() const;
    void Present();
    void RequestActivation();
    void SelectOption(int option);
    void PushChecked(int control, bool checked);
    void Push(int control, ControlChange what) { native_->Update(control, At(control), what); }
    // Sets a field of a control's state and shows it; returns the control's place.
    template <typename T>
    int Set(const std::string& control, T ControlState::*field, T value, ControlChange what)
    {
        const int i = IndexOf(control);
        At(i).*field = std::move(value);
        Push(i, what);
        return i;
    }
    // A text box or an editable combo box: the window holds what the user typed.
    bool IsTyped(int control) const;
    // Sets an editable combo box's text, and its selection to that text's item.
    void SetTyped(int control, const std::string& text);
    bool IsStop(int control) const;
    int NextStop(int from, bool forward) const;
    void MoveFocus(int control, bool byKey);
    void PlaceFocus();
    // Runs the window's handler, if any, then wakes the pump.
    template <typename Call>
    void Dispatch(Call call);
    template <typename Call>
    void Run(Call call);
    // Runs a control's handler, if one is set, then wakes the pump.
    template <typename Handler, typename... Arguments>
    void RunControlHandler(const Handler& handler, Arguments&... arguments);

    WindowSystem& system_;
    FormSpec spec_;
    std::string title_;
    std::vector<Control> controls_;
    std::unique_ptr<NativeWindow> native_;
    FormEvents* handler_ = nullptr;
    bool loaded_ = true;
    bool visible_ = false;
    bool active_ = false;
    int focus_ = -1;
    int dispatching_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

template <typename Window>
Window* WindowSystem::NativeOf(const std::string& form) const
{
    Form* found = FindForm(form);
    return found != nullptr ? static_cast<Window*>(&found->Native()) : nullptr;
}

}  // namespace vel::platform
