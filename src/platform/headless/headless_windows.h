// Windows kept in memory: the form engine over native windows that only
// record. Quiet runs use them (nothing is ever shown), and behaviour tests act
// on them as a user would, by the controls' names.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/form.h"
#include "platform/window_system.h"

namespace vel::platform {

// What the form showed: the texts of the text boxes and of the editable combo
// boxes (which the user edits) and counts; everything else of a control is
// the form's own state.
class HeadlessWindow : public NativeWindow {
public:
    explicit HeadlessWindow(Form& form);

    void Show(bool modalShow, NativeWindow*) override
    {
        ++shows;
        modal = modalShow;
    }
    void Hide() override { modal = false; }
    void Activate() override { ++activations; }
    void SetTitle(const std::string&) override {}
    void Repaint(int) override { ++repaints; }
    void Update(int control, const ControlState& state, ControlChange what) override
    {
        if (what == ControlChange::Text)
            texts[control] = state.text;
    }
    std::string Text(int control) const override { return texts.count(control) ? texts.at(control) : std::string(); }
    void SetFocus(int, bool) override {}

    std::map<int, std::string> texts;
    int shows = 0;
    int activations = 0;  // asked for by the form, or by the user
    int repaints = 0;
    bool modal = false;
};

// A window a test acts on.
class HeadlessForm : public Form {
public:
    HeadlessForm(WindowSystem& system, const FormSpec& spec) : Form(system, spec), pump_(system.Pump()) {}

    // What a user does. Each returns false when the control is disabled (or
    // the window is not open) and nothing happened.
    bool Click(const std::string& control);                                // takes the focus first
    bool Type(const std::string& control, const std::string& characters);  // key by key, through OnKeyPress
    bool PressBackspace(const std::string& control) { return Type(control, {static_cast<char>(kKeyBackspace)}); }
    // No key presses; a text box's or an editable combo box's text.
    bool Paste(const std::string& control, const std::string& text);
    bool Select(const std::string& control, int index);  // pick from a drop-down list
    void MoveMouseOver(const std::string& control) { NativeMouseMove(IndexOf(control)); }
    void CloseBox() { NativeCloseRequest(); }
    void Activate();  // the user switches to another window and back
    bool Press(FormKey key) { return NativeKey(key); }

    // What a test reads besides the form's own state.
    int RefreshCount() const { return Window().repaints; }
    int ActivationCount() const { return Window().activations; }
    bool WasShown() const { return Window().shows > 0; }
    bool IsModal() const { return Window().modal; }

private:
    HeadlessWindow& Window() const { return static_cast<HeadlessWindow&>(const_cast<HeadlessForm*>(this)->Native()); }
    bool Takes(int control) const
    {
        return IsVisible() && IsEnabled(Spec().controls[static_cast<std::size_t>(control)].name);
    }

    EventPump& pump_;
};

struct MessageRecord {
    std::string text;
    std::string title;
    MessageButtons buttons;
    MessageIcon icon;
    MessageResult answer;
};

class HeadlessWindowSystem : public WindowSystem {
public:
    // `answered`: a test answers the message boxes (answerMessage); else
    // (a run without a display) the text goes to standard error.
    explicit HeadlessWindowSystem(EventPump& pump, bool answered = false) : WindowSystem(pump, answered) {}
    std::unique_ptr<Form> CreateForm(const FormSpec& spec) override
    {
        return std::make_unique<HeadlessForm>(*this, spec);
    }

    // The window of that name created last that still exists; null when none.
    HeadlessForm* FindForm(const std::string& name) const
    {
        return static_cast<HeadlessForm*>(WindowSystem::FindForm(name));
    }

    // Answers a message box, where the window system was made `answered`.
    std::function<MessageResult(const MessageRecord&)> answerMessage;
    std::vector<MessageRecord> messages;  // every box answered, in order
    int frontRequests = 0;                // BringToFront calls with a window shown

    // The pointer's custom shape when Custom was set, else null.
    const CursorImage* CustomPointer() const { return customPointer_; }

protected:
    std::unique_ptr<NativeWindow> NewWindow(Form& form) override { return std::make_unique<HeadlessWindow>(form); }
    MessageResult NativeMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                   MessageIcon icon, NativeWindow* owner) override;
    void NativePointer(PointerShape, const CursorImage* custom) override { customPointer_ = custom; }
    void NativeBringToFront(NativeWindow&) override { ++frontRequests; }

private:
    const CursorImage* customPointer_ = nullptr;
};

}  // namespace vel::platform
