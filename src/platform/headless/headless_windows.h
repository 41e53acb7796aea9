// Windows kept in memory: quiet runs use them (nothing is ever shown), and
// behaviour tests read their texts and "click" their buttons by name.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/event_pump.h"
#include "platform/window_system.h"

namespace vel::platform {

class HeadlessWindowSystem;

class HeadlessForm : public Form {
public:
    HeadlessForm(HeadlessWindowSystem& system, FormSpec spec);
    ~HeadlessForm() override;

    // Form
    const FormSpec& Spec() const override { return spec_; }
    void SetHandler(FormEvents* handler) override { handler_ = handler; }
    void Show() override;
    void ShowModal() override;
    void Close() override;
    bool IsVisible() const override { return visible_; }
    void SetTitle(const std::string& title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void Refresh(const std::string& control = {}) override;
    void SetText(const std::string& control, const std::string& text) override;
    std::string Text(const std::string& control) const override;
    void SetEnabled(const std::string& control, bool enabled) override;
    bool IsEnabled(const std::string& control) const override;
    void SetChecked(const std::string& control, bool checked) override;
    bool IsChecked(const std::string& control) const override;
    void ClearItems(const std::string& control) override;
    void AddItem(const std::string& control, const std::string& item) override;
    int ItemCount(const std::string& control) const override;
    std::string ItemText(const std::string& control, int index) const override;
    void SetSelectedIndex(const std::string& control, int index) override;
    int SelectedIndex(const std::string& control) const override;
    void SetForeColour(const std::string& control, Colour colour) override;
    Colour ForeColour(const std::string& control) const override;
    void SetUnderline(const std::string& control, bool underline) override;
    bool IsUnderlined(const std::string& control) const override;
    void SetControlCursor(const std::string& control, const CursorImage& cursor) override;
    void SetFocus(const std::string& control) override;
    std::string FocusedControl() const override { return focus_; }

    // What a user does. Each returns false when the control is disabled (or
    // the window is not open) and nothing happened.
    bool Click(const std::string& control);
    bool Type(const std::string& control, const std::string& characters);  // key by key, through OnKeyPress
    bool PressBackspace(const std::string& control);
    bool Paste(const std::string& control, const std::string& text);  // no key presses
    bool Select(const std::string& control, int index);               // pick from a drop-down list
    void MoveMouseOver(const std::string& control);
    void CloseBox();  // the window's close box
    void Activate();  // the user switches back to the window

    // What a test reads.
    int RefreshCount() const { return refreshCount_; }
    int ActivationCount() const { return activations_; }
    bool WasShown() const { return shownCount_ > 0; }
    bool IsModal() const { return modal_; }
    const CursorImage* ControlCursor(const std::string& control) const;

private:
    struct State {
        std::string text;
        bool enabled = true;
        bool checked = false;
        std::vector<std::string> items;
        int selected = -1;
        Colour foreColour = 0;  // black
        bool underline = false;
        bool hasCursor = false;
        CursorImage cursor;
    };
    State& At(const std::string& control);
    const State& At(const std::string& control) const;
    void PostActivation();
    std::string NextFocus(const std::string& from) const;

    HeadlessWindowSystem& system_;
    FormSpec spec_;
    std::string title_;
    std::map<std::string, State> controls_;
    FormEvents* handler_ = nullptr;
    bool loaded_ = true;
    bool visible_ = false;
    bool modal_ = false;
    int shownCount_ = 0;
    int refreshCount_ = 0;
    int activations_ = 0;
    std::string focus_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
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
    explicit HeadlessWindowSystem(EventPump& pump) : pump_(pump) {}

    bool IsInteractive() const override { return false; }
    std::unique_ptr<Form> CreateForm(const FormSpec& spec) override;
    MessageResult ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                 MessageIcon icon) override;
    void SetPointer(PointerShape shape, const Form* form = nullptr, const std::string& control = {}) override;
    PointerShape Pointer() const override { return pointer_; }
    void BringToFront() override { ++frontRequests; }

    int frontRequests = 0;  // BringToFront calls

    // Answers a message box. Unset: the text goes to standard error (a run
    // without a display) and the answer is OK, or No for a question.
    std::function<MessageResult(const MessageRecord&)> answerMessage;
    std::vector<MessageRecord> messages;  // every box shown, in order

    // The most recently created open window of that name; null when none.
    HeadlessForm* FindForm(const std::string& name) const;

    // The pointer's custom shape when Custom was set, else null.
    const CursorImage* CustomPointer() const { return customPointer_; }

    EventPump& Pump() { return pump_; }

private:
    friend class HeadlessForm;
    EventPump& pump_;
    std::vector<HeadlessForm*> forms_;
    PointerShape pointer_ = PointerShape::Default;
    const CursorImage* customPointer_ = nullptr;
};

}  // namespace vel::platform
