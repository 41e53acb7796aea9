// Windows on the Win32 API: a form's native window is a top-level window with
// one standard control per entry (CreateWindowExW), placed at twips x dpi /
// 1440 in the layouts' own font, 8-point MS Sans Serif (Microsoft Sans Serif
// where the system has it). The dialog manager (IsDialogMessage) keeps Enter,
// Escape and the access keys; Tab and the arrows on option buttons are the
// form's.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/form.h"
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

// A control's window id is its place in the declaration from here (clear of
// IDOK, IDCANCEL and the like); the ids of the subclassings of a control and
// of an editable combo box's edit field.
inline constexpr int kFirstControlId = 1000;
inline constexpr UINT_PTR kSubclassId = 1;
inline constexpr UINT_PTR kEditSubclassId = 2;

class Win32Window : public NativeWindow {
public:
    Win32Window(Win32WindowSystem& system, Form& form);
    ~Win32Window() override;

    void Show(bool modal, NativeWindow* owner) override;
    void Hide() override;
    void Activate() override;
    void SetTitle(const std::string& title) override;
    void Repaint(int control) override;
    void Update(int control, const ControlState& state, ControlChange what) override;
    std::string Text(int control) const override;
    void SetFocus(int control, bool byKey) override;

    // The real windows, for tests.
    HWND Window() const { return window_; }
    HWND Control(const std::string& control) const;
    // Dots per inch the window is laid out for, and its font.
    int Dpi() const { return dpi_; }
    HFONT Font(bool bold = false, bool underline = false);
    static const wchar_t* FontFace();

    // The window of ours a window belongs to (itself or one of its controls).
    static Win32Window* FromWindow(HWND window);

private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ControlProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data);
    // An editable combo box's edit field; `control` is the combo box's place.
    static LRESULT CALLBACK EditProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                          DWORD_PTR control);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleControl(int control, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    const ControlSpec& SpecOf(int control) const { return spec_.controls[static_cast<std::size_t>(control)]; }
    HWND& At(int control) { return controls_[static_cast<std::size_t>(control)]; }

    void CreateControl(int control);
    void Layout();
    RECT ControlRect(const ControlSpec& control) const;
    void Paint();
    void DrawPicture(const DRAWITEMSTRUCT& item);
    void Centre();
    void RepaintLabel(int control);
    void Command(int id, int code);

    Win32WindowSystem& system_;
    const FormSpec spec_;  // the form's, which may go first
    HWND window_ = nullptr;
    int dpi_ = 96;
    std::map<int, HFONT> fonts_;  // by bold + 2 * underline
    HICON icon_ = nullptr;
    std::vector<HWND> controls_;  // none for lines, which the window paints
    std::vector<HWND> disabledByModal_;
};

class Win32WindowSystem : public WindowSystem {
public:
    // `seen`: the process's window station is visible (a task that runs
    // whether or not the user is logged on has one nobody sees): boxes are
    // shown only then.
    explicit Win32WindowSystem(Win32EventPump& pump, bool seen = true);
    ~Win32WindowSystem() override;

    // The cursor every window of the program shows now; null: each window's own.
    HCURSOR CurrentCursor() const { return cursor_; }
    // The native window of the form of that name created last; null when none.
    Win32Window* Window(const std::string& form) const { return NativeOf<Win32Window>(form); }

protected:
    std::unique_ptr<NativeWindow> NewWindow(Form& form) override { return std::make_unique<Win32Window>(*this, form); }
    // MessageBoxW over the window the user works in (all of them disabled
    // meanwhile); its own loop runs until it is answered.
    MessageResult NativeMessageBox(const std::string& text, const std::string& title, MessageButtons buttons,
                                   MessageIcon icon, NativeWindow* owner) override;
    void NativePointer(PointerShape shape, const CursorImage* custom) override;
    void NativeBringToFront(NativeWindow& front) override { front.Activate(); }

private:
    friend class Win32Window;
    bool FilterMessage(MSG& msg);

    Win32EventPump& pump_;
    HCURSOR cursor_ = nullptr;
    HCURSOR custom_ = nullptr;  // made from customImage_
    std::optional<CursorImage> customImage_;
};

}  // namespace vel::platform
