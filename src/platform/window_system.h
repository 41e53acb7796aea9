// Windows declared as data, their controls reached by name, message boxes and
// the mouse pointer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vel::platform {

enum class ControlKind { Label, TextBox, Button, ComboBox, OptionButton, CheckBox, Frame, Picture, Line };

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
    // Line: from (left, top) to (left + width, top + height), in this colour
    // and width in pixels.
    Colour lineColour = 0;
    int lineWidth = 1;
};

// A control at its place; the other fields keep their defaults.
inline ControlSpec MakeControl(ControlKind kind, std::string name, std::string caption, int left, int top, int width,
                               int height, int tabIndex = -1, std::string parent = {})
{
    ControlSpec c;
    c.kind = kind;
    c.name = std::move(name);
    c.caption = std::move(caption);
    c.left = left;
    c.top = top;
    c.width = width;
    c.height = height;
    c.tabIndex = tabIndex;
    c.parent = std::move(parent);
    return c;
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

class FormEvents {
public:
    virtual ~FormEvents() = default;
    virtual void OnActivate() {}
    // The window is closing (close box, Close(), system shutdown). It cannot
    // refuse; the window is gone when this returns.
    virtual void OnClose() {}
    // A button, option button, check box or label was clicked (an option button
    // or check box has its new value already).
    virtual void OnClick(const std::string& /*control*/) {}
    // A character typed into a text box: set `key` to 0 to swallow it, or to
    // another code to replace it.
    virtual void OnKeyPress(const std::string& /*control*/, int& /*key*/) {}
    virtual void OnMouseMove(const std::string& /*control*/) {}
};

class Form {
public:
    virtual ~Form() = default;

    virtual const FormSpec& Spec() const = 0;
    virtual void SetHandler(FormEvents* handler) = 0;

    // Shows the window without waiting (modeless).
    virtual void Show() = 0;
    // Shows the window modally and returns when it has closed; events are
    // dispatched meanwhile.
    virtual void ShowModal() = 0;
    // Closes the window: OnClose runs, then the window is gone. Closing a
    // closed window does nothing.
    virtual void Close() = 0;
    virtual bool IsVisible() const = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string Title() const = 0;

    // Repaints the whole window (empty name) or one control, at once.
    virtual void Refresh(const std::string& control = {}) = 0;

    // Caption of a label, button, option, check box or frame; text of a text
    // box; the selected item's text of a drop-down list.
    virtual void SetText(const std::string& control, const std::string& text) = 0;
    virtual std::string Text(const std::string& control) const = 0;

    virtual void SetEnabled(const std::string& control, bool enabled) = 0;
    virtual bool IsEnabled(const std::string& control) const = 0;

    // Option buttons (selecting one clears the others of its container) and
    // check boxes. Setting a value does not raise OnClick.
    virtual void SetChecked(const std::string& control, bool checked) = 0;
    virtual bool IsChecked(const std::string& control) const = 0;

    // Drop-down lists.
    virtual void ClearItems(const std::string& control) = 0;
    virtual void AddItem(const std::string& control, const std::string& item) = 0;
    virtual int ItemCount(const std::string& control) const = 0;
    virtual std::string ItemText(const std::string& control, int index) const = 0;
    virtual void SetSelectedIndex(const std::string& control, int index) = 0;  // -1: none
    virtual int SelectedIndex(const std::string& control) const = 0;

    // Labels as links.
    virtual void SetForeColour(const std::string& control, Colour colour) = 0;
    virtual Colour ForeColour(const std::string& control) const = 0;
    virtual void SetUnderline(const std::string& control, bool underline) = 0;
    virtual bool IsUnderlined(const std::string& control) const = 0;
    // The control's own pointer, shown by WindowSystem::SetPointer(Custom).
    virtual void SetControlCursor(const std::string& control, const CursorImage& cursor) = 0;

    virtual void SetFocus(const std::string& control) = 0;
    virtual std::string FocusedControl() const = 0;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Whether a person can see the windows and answer a box: false for the
    // headless back end, a display nobody looks at (Qt's offscreen platform),
    // a Windows session without a visible window station.
    virtual bool IsInteractive() const = 0;

    // Creates the window (hidden) from its declaration.
    virtual std::unique_ptr<Form> CreateForm(const FormSpec& spec) = 0;

    // A modal message box; returns the button pressed. Where nobody can see
    // it (IsInteractive false) no box waits: the text goes to standard error
    // and the answer is OK, or No for a question.
    virtual MessageResult ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                         MessageIcon icon) = 0;

    // The application-wide mouse pointer. Custom: the custom pointer of the
    // control under the mouse (`form`, `control`), as SetControlCursor gave it.
    virtual void SetPointer(PointerShape shape, const Form* form = nullptr, const std::string& control = {}) = 0;
    virtual PointerShape Pointer() const = 0;

    // Brings the program's windows to the front and activates the one the
    // user works in (a modal window over the one it holds); nothing when
    // none is shown.
    virtual void BringToFront() = 0;
};

}  // namespace vel::platform
