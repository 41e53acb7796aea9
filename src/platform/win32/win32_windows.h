// Windows on the Win32 API: any FormSpec becomes a top-level window with one
// standard control per entry (CreateWindowExW), placed at twips x dpi / 1440
// in the layouts' own font, 8-point MS Sans Serif (Microsoft Sans Serif where
// the system has it).
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_system.h"
#include "platform/win32/win32_event_pump.h"

namespace vel::platform {

class Win32WindowSystem;

// Twips to pixels at `dpi`, to the nearest pixel.
int TwipsToPixels(int twips, int dpi);

// The AND and XOR planes of a 32 x 32 monochrome cursor for CreateCursor:
// rows top to bottom, four bytes a row, the leftmost pixel in the highest bit.
struct CursorPlanes {
    std::array<std::uint8_t, 128> andPlane{};
    std::array<std::uint8_t, 128> xorPlane{};
};
CursorPlanes ToCursorPlanes(const CursorImage& cursor);

// Text for a multi-line edit control, whose lines end in CR LF: a lone LF
// (or CR) becomes CR LF.
std::string ToWindowsLineEnds(const std::string& text);

// Controls in the order the window creates them, which is the order of the
// Tab key: by tab index, then those outside the tab order as declared.
std::vector<const ControlSpec*> CreationOrder(const std::vector<ControlSpec>& controls);

class Win32Form : public Form {
public:
    Win32Form(Win32WindowSystem& system, FormSpec spec);
    ~Win32Form() override;
    Win32Form(const Win32Form&) = delete;
    Win32Form& operator=(const Win32Form&) = delete;

    // Form
    const FormSpec& Spec() const override { return spec_; }
    void SetHandler(FormEvents* handler) override { handler_ = handler; }
    void Show() override;
    void ShowModal() override;
    void Close() override;
    bool IsVisible() const override { return visible_; }
    void SetTitle(const std::string& title) override;
    std::string Title() const override;
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
    std::string FocusedControl() const override;

    // The real windows, for the window system and for tests.
    HWND Window() const { return window_; }
    HWND Control(const std::string& control) const;
    // The control's own pointer; null when it has none.
    HCURSOR ControlCursor(const std::string& control) const;
    // Dots per inch the window is laid out for, and its font.
    int Dpi() const { return dpi_; }
    HFONT Font(bool bold = false, bool underline = false);
    static const wchar_t* FontFace();

    // The form a window of ours belongs to (itself or one of its controls).
    static Win32Form* FromWindow(HWND window);

private:
    friend class Win32WindowSystem;

    struct ControlState {
        const ControlSpec* spec = nullptr;
        HWND window = nullptr;  // none for lines, which the form paints
        int id = 0;
        bool hasColour = false;
        Colour colour = 0;
        bool underline = false;
        HCURSOR cursor = nullptr;
        std::string caption;          // pictures and lines: the text as set
        std::string multiLineText;    // multi-line text box: the text as set ...
        std::wstring multiLineShown;  // ... and as the box showed it then
    };

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleControl(ControlState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void Build();
    void CreateControl(ControlState& state);
    void Layout();
    RECT ControlRect(const ControlSpec& control) const;
    POINT Origin(const ControlSpec& control) const;
    void Paint();
    void DrawPicture(const DRAWITEMSTRUCT& item);
    void Centre();
    void FocusFirstControl();
    std::string NextFocus(HWND from) const;
    void RepaintLabel(const ControlState& state);
    void RequestActivation();
    void Command(int id, int code);
    bool PressDefaultButton(bool cancel);
    void SelectOption(ControlState& state);
    ControlState& At(const std::string& control);
    const ControlState& At(const std::string& control) const;
    ControlState* ById(int id);
    template <typename Call>
    void Dispatch(Call call);

    void DeliverActivation();
    void DeliverClick(const std::string& control);
    void DeliverMouseMove(const std::string& control);

    Win32WindowSystem& system_;
    FormSpec spec_;
    HWND window_ = nullptr;
    int dpi_ = 96;
    std::map<int, HFONT> fonts_;  // by bold + 2 * underline
    HICON icon_ = nullptr;
    std::map<std::string, ControlState> controls_;
    FormEvents* handler_ = nullptr;
    bool loaded_ = true;
    bool visible_ = false;
    bool active_ = false;
    bool modal_ = false;
    std::vector<HWND> disabledByModal_;
    int dispatching_ = 0;
    std::string focus_;  // the focus asked for while hidden, or kept while inactive
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

class Win32WindowSystem : public WindowSystem {
public:
    // `seen`: the process's window station is visible (a task that runs
    // whether or not the user is logged on has one nobody sees): boxes are
    // shown only then.
    explicit Win32WindowSystem(Win32EventPump& pump, bool seen = true);
    ~Win32WindowSystem() override;

    bool IsInteractive() const override { return seen_; }
    std::unique_ptr<Form> CreateForm(const FormSpec& spec) override;
    // MessageBoxW over the active window of the program (all of them
    // disabled meanwhile); its own loop runs until it is answered.
    MessageResult ShowMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                 MessageIcon icon) override;
    void SetPointer(PointerShape shape, const Form* form = nullptr, const std::string& control = {}) override;
    PointerShape Pointer() const override { return pointer_; }
    void BringToFront() override;

    Win32EventPump& Pump() { return pump_; }
    // The cursor every window of the program shows now; null: each window's own.
    HCURSOR CurrentCursor() const { return cursor_; }

    // The open window of that name created last; null when none.
    Win32Form* FindForm(const std::string& name) const;

    // What happens when a window cannot be made (the program cannot go on):
    // the program's own report, which does not return. Without one, a
    // message box, then the process ends with kFailureExitStatus.
    void SetFailureHandler(std::function<void(const std::string& message)> handler) { onFailure_ = std::move(handler); }
    static constexpr unsigned kFailureExitStatus = 5;
    [[noreturn]] void Stop(const std::string& message);

private:
    friend class Win32Form;
    void Activated(Win32Form* form);
    void Reactivate(const Win32Form* closing);
    Win32Form* ActiveForm() const;
    bool FilterMessage(MSG& msg);

    Win32EventPump& pump_;
    bool seen_;
    std::vector<Win32Form*> forms_;
    PointerShape pointer_ = PointerShape::Default;
    HCURSOR cursor_ = nullptr;
    std::function<void(const std::string& message)> onFailure_;
};

}  // namespace vel::platform
