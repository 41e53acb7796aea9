// Windows declared as data; the window system of the process (forms, message
// boxes, the mouse pointer); and the primitives a back end supplies for it.
// The rules of a window live once, in the form engine (platform/form.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/event_pump.h"

namespace vel::platform {

enum class ControlKind { Label, TextBox, Button, ComboBox, OptionButton, CheckBox, Frame, Picture, Line };

// Whether a control of that kind can have the focus.
bool TakesFocus(ControlKind kind);

// Colours as 0x00BBGGRR (red in the lowest byte), as the Windows API has them.
using Colour = std::uint32_t;

// One control of a window. Positions are in twips (1/1440 inch; 15 twips are
// one pixel at 96 dpi). A control inside a frame is placed relative to it.
struct ControlSpec {
    ControlKind kind = ControlKind::Label;
    std::string name;     // "cmdGo"
    std::string caption;  // caption or text; "&" marks the access key
    int left = 0, top = 0, width = 0, height = 0;
    int tabIndex = -1;       // -1: not in the tab order
    std::string parent;      // name of the frame it sits in; empty: the window
    bool multiLine = false;  // text box: several lines, words wrap
    bool bold = false;       // label font
    bool isDefault = false;  // button pressed by Enter
    bool isCancel = false;   // button pressed by Escape
    bool editable = false;   // combo box: an edit field the user may also type into
    // Line: across, from (left, top) `width` long (`height` 0), covering
    // `lineWidth` pixel rows from there down, in this colour.
    Colour lineColour = 0;
    int lineWidth = 1;
};

// A control at its place; the other fields keep their defaults.
inline ControlSpec MakeControl(ControlKind kind, std::string name, std::string caption, int left, int top, int width,
                               int height, int tabIndex = -1, std::string parent = {})
{
    return {kind, std::move(name), std::move(caption), left, top, width, height, tabIndex, std::move(parent)};
}

struct FormSpec {
    std::string name;                       // "frmVEL"
    std::string caption;                    // title bar
    int clientWidth = 0, clientHeight = 0;  // twips
    // A close box, no minimise or maximise button, centred on the screen:
    // how every window of the program looks. A resizable border, or a fixed
    // dialog frame. Shown in the task bar unless it is a modal window above
    // another window of the program.
    bool resizable = true;
    std::vector<ControlSpec> controls;
};

// A control's top-left corner in twips from the window's client area: its
// place plus those of the frames it sits in.
struct TwipsPoint {
    int x = 0, y = 0;
};
TwipsPoint OriginInWindow(const FormSpec& form, const ControlSpec& control);

// A 32 x 32 monochrome cursor: one bit a pixel, rows top to bottom, the most
// significant bit leftmost. `image` 1 = black, `mask` 1 = opaque.
struct CursorImage {
    std::array<std::uint32_t, 32> image{};
    std::array<std::uint32_t, 32> mask{};
    int hotX = 0, hotY = 0;
};

enum class PointerShape { Default, Busy, Custom };

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Question, Critical };
enum class MessageResult { Ok, Yes, No };

// Key code of Backspace in a key press.
inline constexpr int kKeyBackspace = 8;

// The program's handlers of one window as a whole. They run only inside the
// event pump. What a control does when clicked or typed into reaches the
// code that holds the control's handle (Form::OnClick and the others).
class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void OnActivate() {}
    // The window is closing (close box, Close(), system shutdown). It cannot
    // refuse; the window is gone when this returns.
    virtual void OnClose() {}
};

class Form;

// What a form keeps of a control, and its native window shows.
struct ControlState {
    std::string text;  // caption, or the text of a text box or of an editable combo box, as set
    bool enabled = true;
    bool checked = false;
    std::vector<std::string> items;  // a drop-down list's
    int selected = -1;
    std::optional<Colour> colour;  // a label's text colour; none: the system's
    bool underline = false;
    std::optional<CursorImage> cursor;  // the control's own pointer
};

enum class ControlChange { Text, Enabled, Checked, List, Appearance, Cursor };

// Keys a window leaves to its form: Tab and Shift+Tab, Enter and Escape, and
// the arrows (previous: up or left; next: down or right).
enum class FormKey { Tab, BackTab, Enter, Escape, Previous, Next };

// A back end's window of one form: the native controls at their places,
// numbered as the declaration lists them. It shows what the form sets and
// reports what the user does (Form::Native...); the rules are the form's.
class NativeWindow {
public:
    explicit NativeWindow(Form& form) : form_(&form) {}
    virtual ~NativeWindow() = default;
    NativeWindow(const NativeWindow&) = delete;
    NativeWindow& operator=(const NativeWindow&) = delete;

    // Shows the window centred on the screen; a modal one above `owner`,
    // every other window of the program blocked until it hides.
    virtual void Show(bool modal, NativeWindow* owner) = 0;
    virtual void Hide() = 0;
    // Restores, raises and asks for the window to become the active one.
    virtual void Activate() = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void Repaint(int control) = 0;  // -1: the whole window; at once
    // Shows what changed of a control's state. A pick-only combo box takes no
    // text: its text is the selected item. An editable one (Text) shows the
    // text in its edit field, with the selected item (or none) in its list.
    virtual void Update(int control, const ControlState& state, ControlChange what) = 0;
    // The text of a text box, or of an editable combo box's edit field, as it
    // shows it now.
    virtual std::string Text(int control) const = 0;
    // -1: the window itself. `byKey`: Tab or an arrow moved it.
    virtual void SetFocus(int control, bool byKey) = 0;

    // The form has gone: nothing more is reported to it.
    void Detach() { form_ = nullptr; }
    Form* Owner() const { return form_; }

protected:
    Form* form_;  // null once the form has gone
};

// The window system of the process. The rules are kept here and in Form; a
// back end derives and supplies the primitives below.
class WindowSystem {
public:
    WindowSystem(EventPump& pump, bool isInteractive) : interactive(isInteractive), pump_(pump) {}
    virtual ~WindowSystem() = default;
    WindowSystem(const WindowSystem&) = delete;
    WindowSystem& operator=(const WindowSystem&) = delete;

    // Whether a person can see the windows and answer a box: false for the
    // headless back end in a run, a display nobody looks at (Qt's offscreen
    // platform), a Windows session without a visible window station.
    const bool interactive;

    // Creates the window (hidden) from its declaration, which it checks first.
    virtual std::unique_ptr<Form> CreateForm(const FormSpec& spec);

    // A modal message box; returns the button pressed. Where nobody can see
    // it (`interactive` false) no box waits: the text goes to standard error
    // and the answer is OK, or No for a question.
    MessageResult ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                 MessageIcon icon);

    // The application-wide mouse pointer. Custom: the custom pointer of the
    // control under the mouse (`form`, `control`), as SetControlCursor gave it.
    void SetPointer(PointerShape shape, const Form* form = nullptr, const std::string& control = {});
    PointerShape Pointer() const { return pointer_; }

    // Brings the program's windows to the front and activates the one the
    // user works in (a modal window over the one it holds); nothing when
    // none is shown.
    void BringToFront();

    // The window of that name created last that still exists; null when none.
    Form* FindForm(const std::string& name) const;
    EventPump& Pump() { return pump_; }

    // A fault the program cannot go on from (a declaration that contradicts
    // itself, a window that cannot be made): the handler reports it and does
    // not return; without one, standard error and an abort.
    void SetFailureHandler(std::function<void(const std::string& message)> handler) { onFailure_ = std::move(handler); }
    [[noreturn]] void Stop(const std::string& message);

protected:
    // The native window of a new form.
    virtual std::unique_ptr<NativeWindow> NewWindow(Form& form) = 0;
    const std::vector<Form*>& Forms() const { return forms_; }  // in the order they were created
    // The native window of the form of that name created last; null when none.
    template <typename Window>
    Window* NativeOf(const std::string& form) const;
    // Only where `interactive`; `owner` is the window the user works in.
    virtual MessageResult NativeMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                           MessageIcon icon, NativeWindow* owner) = 0;
    virtual void NativePointer(PointerShape shape, const CursorImage* custom) = 0;
    virtual void NativeBringToFront(NativeWindow& front) = 0;

private:
    friend class Form;
    // The shown window the user works in: the active one, else the one shown
    // last; never `except`.
    Form* FrontForm(const Form* except = nullptr) const;

    EventPump& pump_;
    std::vector<Form*> forms_;  // in the order they were created
    PointerShape pointer_ = PointerShape::Default;
    std::function<void(const std::string& message)> onFailure_;
};

}  // namespace vel::platform
