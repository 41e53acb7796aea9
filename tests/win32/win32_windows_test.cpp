// The Win32 windows (under Xvfb in the test script): the program's own form
// tables rendered with CreateWindowExW at twips x dpi / 1440 in their font,
// nothing clipped, overlapping labels, the frames and the task bar, the tab
// order and the focus, clicks, option groups, the key filter, the drop-down
// rows, the close box, the first activation, Enter, Escape and the access keys
// through IsDialogMessage, the busy pointer, message boxes with their icons,
// the About box's links with a recording shell (never a real browser), and
// the configuration dialog's server list with the stored server.
#include "platform/win32/win32_windows.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "about/about_dialog.h"
#include "about/version_info.h"
#include "app/app.h"
#include "status/status_window.h"
#include "settings/config_dialog.h"
#include "settings/config_form.h"
#include "support/test_app.h"
#include "win32_test_support.h"
#include "platform/win32/win32_text.h"

namespace vel::platform {
namespace {

// What the window system delivered, in order.
struct Recorder : FormEvents {
    std::vector<std::string> events;
    std::function<void(const std::string&, int&)> onKey;
    std::function<void(const std::string&)> onClick;
    void OnActivate() override { events.push_back("activate"); }
    void OnClose() override { events.push_back("close"); }
    void OnClick(const std::string& control)
    {
        events.push_back("click " + control);
        if (onClick)
            onClick(control);
    }
    void OnKeyPress(const std::string& control, int& key)
    {
        events.push_back("key " + control + " " + std::to_string(key));
        if (onKey)
            onKey(control, key);
    }
    void OnMouseMove(const std::string& control) { events.push_back("move " + control); }

    // Every control's events come here, by name.
    void Watch(Form& watched)
    {
        watched.SetHandler(this);
        for (const ControlSpec& control : watched.Spec().controls) {
            const int i = watched.IndexOf(control.name);
            watched.OnClick(i, [this, name = control.name] { OnClick(name); });
            watched.OnKeyPress(i, [this, name = control.name](int& key) { OnKeyPress(name, key); });
            watched.OnMouseMove(i, [this, name = control.name] { OnMouseMove(name); });
        }
    }
    int Count(const std::string& event) const
    {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
};

// A form's window, with its real controls.
Win32Window& Native(Form& form)
{
    return static_cast<Win32Window&>(form.Native());
}

class Win32WindowsTest : public ::testing::Test {
protected:
    std::unique_ptr<Form> Make(const FormSpec& spec)
    {
        std::unique_ptr<Form> form = windows.CreateForm(spec);
        recorder.Watch(*form);
        return form;
    }

    // Dispatches events until the condition holds or the time is up.
    bool PumpUntil(const std::function<bool()>& done, double seconds = 5.0)
    {
        const DWORD end = ::GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (!done()) {
            if (static_cast<int>(end - ::GetTickCount()) <= 0)
                return false;
            pump.WaitForEvents(0.05);
        }
        return true;
    }

    void Settle()
    {
        PumpUntil([] { return false; }, 0.2);
    }

    Win32EventPump pump;
    Win32WindowSystem windows{pump};
    Recorder recorder;
};

RECT ClientRectOf(HWND control, HWND window)
{
    RECT rect;
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

LOGFONTW FontOf(HWND control)
{
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    ::GetObjectW(handle, sizeof font, &font);
    return font;
}

// The size a text takes in a control's font: one line, or wrapped at `width`.
SIZE TextSize(HWND control, const std::string& text, int width = 0)
{
    const HDC dc = ::GetDC(control);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT rect{0, 0, width > 0 ? width : 10000, 0};
    const std::wstring wide = Widen(text);
    ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &rect,
                DT_CALCRECT | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

std::vector<FormSpec> ProgramForms()
{
    return {StatusWindowSpec(), ConfigurationDialogSpec(), AboutDialogSpec()};
}

// ---- Pure pieces -----------------------------------------------------------

TEST(Win32WindowsPure, LineEndsOfAMultiLineBox)
{
    EXPECT_EQ(ToWindowsLineEnds("a\nb\r\nc\rd\n"), "a\r\nb\r\nc\r\nd\r\n");
    EXPECT_EQ(ToWindowsLineEnds("no line end"), "no line end");
    EXPECT_EQ(ToWindowsLineEnds("\n\n"), "\r\n\r\n");
}

TEST(Win32WindowsPure, CursorPlanesOfTheMonochromeImage)
{
    CursorImage image;
    // Row 0: black, white, transparent from the left.
    image.mask[0] = 0xC0000000u;
    image.image[0] = 0x80000000u;
    const CursorPlanes planes = ToCursorPlanes(image);
    // Black: AND 0, XOR 0; white: AND 0, XOR 1; transparent: AND 1, XOR 0.
    EXPECT_EQ(planes.andPlane[0], 0x3F);
    EXPECT_EQ(planes.xorPlane[0], 0x40);
    EXPECT_EQ(planes.andPlane[1], 0xFF);
    EXPECT_EQ(planes.xorPlane[1], 0x00);
    EXPECT_EQ(planes.andPlane[127], 0xFF);
}

// ---- The program's windows -------------------------------------------------

TEST_F(Win32WindowsTest, EveryControlSitsAtTwipsTimesDpiInTheLayoutsFont)
{
    for (const FormSpec& spec : ProgramForms()) {
        auto form = Make(spec);
        const int dpi = Native(*form).Dpi();
        EXPECT_GE(dpi, 96);
        // The test script also runs this at another resolution of the display.
        if (const std::string wanted = test::TestVariable("VELTRANE_TEST_DPI"); !wanted.empty()) {
            EXPECT_EQ(dpi, std::stoi(wanted));
        }
        // Only the About box has a fixed frame; none asks for a task bar button.
        const LONG_PTR style = ::GetWindowLongPtrW(Native(*form).Window(), GWL_STYLE);
        EXPECT_EQ((style & WS_THICKFRAME) != 0, spec.name != "frmAbout") << spec.name;
        EXPECT_EQ(::GetWindowLongPtrW(Native(*form).Window(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0) << spec.name;
        RECT client;
        ::GetClientRect(Native(*form).Window(), &client);
        EXPECT_EQ(client.right, TwipsToPixels(spec.clientWidth, dpi)) << spec.name;
        EXPECT_EQ(client.bottom, TwipsToPixels(spec.clientHeight, dpi)) << spec.name;
        for (const ControlSpec& control : spec.controls) {
            const HWND window = Native(*form).Control(control.name);
            if (control.kind == ControlKind::Line) {
                EXPECT_EQ(window, nullptr);  // painted by the window
                continue;
            }
            ASSERT_NE(window, nullptr) << control.name;
            const TwipsPoint at = OriginInWindow(spec, control);
            const RECT rect = ClientRectOf(window, Native(*form).Window());
            EXPECT_EQ(rect.left, TwipsToPixels(at.x, dpi)) << control.name;
            EXPECT_EQ(rect.top, TwipsToPixels(at.y, dpi)) << control.name;
            EXPECT_EQ(rect.right - rect.left, TwipsToPixels(control.width, dpi)) << control.name;
            // A closed drop-down list too: its field is the layout's height.
            EXPECT_EQ(rect.bottom - rect.top, TwipsToPixels(control.height, dpi)) << control.name;
            if (control.kind == ControlKind::Picture)
                continue;
            const LOGFONTW font = FontOf(window);
            EXPECT_EQ(font.lfHeight, -::MulDiv(8, dpi, 72)) << control.name;
            EXPECT_STREQ(font.lfFaceName, Win32Window::FontFace()) << control.name;
            EXPECT_EQ(font.lfWeight >= FW_BOLD, control.bold) << control.name;
        }
    }
    const std::wstring face = Win32Window::FontFace();
    EXPECT_TRUE(face == L"MS Sans Serif" || face == L"Microsoft Sans Serif");
}

TEST_F(Win32WindowsTest, NoCaptionIsClipped)
{
    const int check = ::GetSystemMetrics(SM_CXMENUCHECK);
    for (const FormSpec& spec : ProgramForms()) {
        auto form = Make(spec);
        for (const ControlSpec& control : spec.controls) {
            if (control.caption.empty())
                continue;
            const HWND window = Native(*form).Control(control.name);
            RECT rect;
            ::GetClientRect(window, &rect);
            const SIZE line = TextSize(window, control.caption);
            switch (control.kind) {
                case ControlKind::Button:
                    EXPECT_LE(line.cx + 8, rect.right) << control.name;
                    EXPECT_LE(line.cy + 4, rect.bottom) << control.name;
                    break;
                case ControlKind::OptionButton:
                case ControlKind::CheckBox:
                    EXPECT_LE(check + 4 + line.cx, rect.right) << control.name;
                    EXPECT_LE(line.cy, rect.bottom) << control.name;
                    break;
                case ControlKind::Frame:
                    EXPECT_LE(line.cx + 16, rect.right) << control.name;
                    break;
                case ControlKind::Label:
                    EXPECT_LE(TextSize(window, control.caption, rect.right).cy, rect.bottom) << control.name;
                    break;
                default:
                    break;
            }
        }
    }
    // The longest texts the run puts into the status window fit too.
    auto status = Make(StatusWindowSpec());
    const HWND label = Native(*status).Control("lblClockStatus");
    RECT rect;
    ::GetClientRect(label, &rect);
    for (const char* text : {"Could not get current time! See .LOG file for details",
                             "System clock is off by 1 day 23 hours 59 minutes 59 seconds",
                             "System clock could not be set! See .LOG file for details"})
        EXPECT_LE(TextSize(label, text, rect.right).cy, rect.bottom) << text;
    const HWND box = Native(*status).Control("txtStatus");
    RECT inner;
    ::SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&inner));
    const std::string countdown =
        "Connection will initiate in 60 secs.  To cancel out of program, click CANCEL.  "
        "To connect now, click GO.";
    EXPECT_LE(TextSize(box, countdown, inner.right - inner.left).cy, inner.bottom - inner.top);
}

// The colour on the screen at a point of a shown window's client area.
COLORREF PixelAt(HWND window, int x, int y)
{
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    POINT point{x, y};
    ::ClientToScreen(window, &point);
    const HDC screen = ::GetDC(nullptr);
    const COLORREF colour = ::GetPixel(screen, point.x, point.y);
    ::ReleaseDC(nullptr, screen);
    return colour;
}

TEST_F(Win32WindowsTest, FramesAndLinesArePainted)
{
    auto config = Make(ConfigurationDialogSpec());
    config->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    Settle();
    const int dpi = Native(*config).Dpi();
    // Inside the frame, halfway between its last control and its bottom: the
    // face colour.
    const FormSpec& spec = config->Spec();
    const ControlSpec& frame = spec.controls[static_cast<std::size_t>(config->IndexOf("fraHowToConnect"))];
    int below = 0;
    for (const ControlSpec& control : spec.controls)
        if (control.parent == frame.name)
            below = std::max(below, control.top + control.height);
    EXPECT_EQ(PixelAt(Native(*config).Window(), TwipsToPixels(frame.left + frame.width / 2, dpi),
                      TwipsToPixels(frame.top + (below + frame.height) / 2, dpi)),
              ::GetSysColor(COLOR_BTNFACE));
    config->Close();

    auto about = Make(AboutDialogSpec());
    about->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 2; }));
    Settle();
    // The separator's lines, in their colours, as many pixels wide as declared.
    int lines = 0;
    for (const ControlSpec& line : about->Spec().controls) {
        if (line.kind != ControlKind::Line)
            continue;
        ++lines;
        const int x = TwipsToPixels(line.left + line.width / 2, dpi);
        for (int row = 0; row < line.lineWidth; ++row)
            EXPECT_EQ(PixelAt(Native(*about).Window(), x, TwipsToPixels(line.top, dpi) + row), line.lineColour)
                << line.name << " row " << row;
    }
    EXPECT_EQ(lines, 2);
}

// Where two labels overlap (a pixel or two at some resolutions), the shared
// columns show the lower label's text as it looks alone, after a change too.
TEST_F(Win32WindowsTest, LabelsThatOverlapBothShowTheirText)
{
    const std::tuple<FormSpec, const char*, const char*, std::string> overlaps[] = {
        {StatusWindowSpec(), "lblStatus", "lblClockStatus", "Waiting to start connection"},
        {AboutDialogSpec(), "lblEMail", "lblEMailLink", kIssuesAddress}};
    int ink = 0;  // text in the shared columns (at 96 dpi, only the status window's)
    for (const auto& [spec, upper, lower, text] : overlaps) {
        auto form = Make(spec);
        form->Show();
        ASSERT_TRUE(PumpUntil([&] { return ::GetActiveWindow() == Native(*form).Window(); }));
        form->SetText(lower, "A longer text, which goes");
        form->SetText(lower, text);
        const HWND label = Native(*form).Control(lower);
        const RECT at = ClientRectOf(label, Native(*form).Window());
        const RECT above = ClientRectOf(Native(*form).Control(upper), Native(*form).Window());
        const int shared = above.right - at.left;  // columns; the rows are the upper label's
        ASSERT_TRUE(shared > 0 && above.top == at.top) << lower;
        const HDC screen = ::GetDC(nullptr);
        const HDC alone = ::CreateCompatibleDC(screen);
        RECT area{0, 0, at.right - at.left, at.bottom - at.top};
        const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, area.right, area.bottom);
        ::SelectObject(alone, bitmap);
        ::SelectObject(alone, reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
        ::FillRect(alone, &area, ::GetSysColorBrush(COLOR_BTNFACE));
        ::SetBkMode(alone, TRANSPARENT);
        ::SetTextColor(alone, ::GetSysColor(COLOR_WINDOWTEXT));
        ::DrawTextW(alone, Widen(text).c_str(), -1, &area, DT_LEFT | DT_EXPANDTABS | DT_WORDBREAK);
        for (int y = 0; y < above.bottom - above.top; ++y)
            for (int x = 0; x < shared; ++x) {
                const COLORREF expected = ::GetPixel(alone, x, y);
                ink += expected != ::GetSysColor(COLOR_BTNFACE) ? 1 : 0;
                EXPECT_EQ(PixelAt(Native(*form).Window(), at.left + x, at.top + y), expected)
                    << lower << " " << x << "," << y;
            }
        ::DeleteDC(alone);
        ::DeleteObject(bitmap);
        ::ReleaseDC(nullptr, screen);
    }
    EXPECT_GT(ink, 0);
}

TEST_F(Win32WindowsTest, TheServerListOpensWithEightRows)
{
    auto form = Make(ConfigurationDialogSpec());
    for (std::string_view server : kTimeServers)
        form->AddItem("cboNTPServer", std::string(server));
    form->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    ::SendMessageW(Native(*form).Control("cboNTPServer"), CB_SHOWDROPDOWN, TRUE, 0);
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(::GetComboBoxInfo(Native(*form).Control("cboNTPServer"), &info));
    RECT list;
    ::GetClientRect(info.hwndList, &list);
    EXPECT_EQ(list.bottom / std::max<LRESULT>(1, ::SendMessageW(info.hwndList, LB_GETITEMHEIGHT, 0, 0)), 8);
}

// Disabled while it has the focus, a control hands it to the next one of the
// Tab order that can take it: Go disables itself (mouse or Alt+G).
TEST_F(Win32WindowsTest, ADisabledControlHandsTheFocusOn)
{
    auto status = Make(StatusWindowSpec());
    recorder.onClick = [&](const std::string& control) { status->SetEnabled(control, false); };
    status->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    ::SendMessageW(Native(*status).Control("cmdGo"), BM_CLICK, 0, 0);  // Go takes the focus, then loses it
    EXPECT_EQ(status->FocusedControl(), "cmdCancel");
    status->SetEnabled("cmdGo", true);
    ::PostMessageW(::GetFocus(), WM_SYSCHAR, 'g', 1 | (1 << 29));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("click cmdGo") == 2; }));
    EXPECT_EQ(status->FocusedControl(), "cmdCancel");
    // Past the disabled ones; a hidden window keeps the name.
    auto config = Make(ConfigurationDialogSpec());
    config->SetEnabled("cboISPList", false);
    config->SetFocus("optModem");
    config->SetEnabled("optModem", false);
    EXPECT_EQ(config->FocusedControl(), "cmdOK");
}

TEST_F(Win32WindowsTest, TabVisitsTheControlsByTabIndex)
{
    auto form = Make(ConfigurationDialogSpec());
    // The dialog opens with every control enabled.
    std::vector<std::string> visited;
    const HWND first = Native(*form).Control("optLAN");
    HWND at = first;
    do {
        for (const ControlSpec& control : form->Spec().controls)
            if (Native(*form).Control(control.name) == at)
                visited.push_back(control.name);
        at = ::GetNextDlgTabItem(Native(*form).Window(), at, FALSE);
    } while (at != nullptr && at != first && visited.size() < 20);
    EXPECT_EQ(visited,
              (std::vector<std::string>{"optLAN", "optModem", "cboISPList", "cmdOK", "cmdCancel", "optBoth",
                                        "txtStartDelay", "cboNTPServer", "chkQuietMode", "chkOnlyIfConnected"}));
}

TEST_F(Win32WindowsTest, ClicksOptionsAndCheckBoxes)
{
    auto form = Make(ConfigurationDialogSpec());
    form->SetChecked("optBoth", true);
    EXPECT_TRUE(recorder.events.empty());  // setting raises no click
    std::vector<bool> checkedAtClick;
    recorder.onClick = [&](const std::string& control) { checkedAtClick.push_back(form->IsChecked(control)); };

    ::SendMessageW(Native(*form).Control("optModem"), BM_CLICK, 0, 0);
    EXPECT_TRUE(form->IsChecked("optModem"));
    EXPECT_FALSE(form->IsChecked("optBoth"));
    EXPECT_FALSE(form->IsChecked("optLAN"));
    ::SendMessageW(Native(*form).Control("chkQuietMode"), BM_CLICK, 0, 0);
    ::SendMessageW(Native(*form).Control("cmdOK"), BM_CLICK, 0, 0);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"click optModem", "click chkQuietMode", "click cmdOK"}));
    // An option or a check box has its new value when the click arrives.
    EXPECT_EQ(checkedAtClick, (std::vector<bool>{true, true, false}));

    // A disabled button takes no click.
    form->SetEnabled("cmdOK", false);
    EXPECT_FALSE(form->IsEnabled("cmdOK"));
    ::SendMessageW(Native(*form).Control("cmdOK"), BM_CLICK, 0, 0);
    EXPECT_EQ(recorder.Count("click cmdOK"), 1);

    // Clearing an option leaves none of the group selected.
    form->SetChecked("optModem", false);
    EXPECT_FALSE(form->IsChecked("optModem"));
}

TEST_F(Win32WindowsTest, TypedCharactersGoThroughTheKeyFilter)
{
    auto form = Make(ConfigurationDialogSpec());
    form->SetText("txtStartDelay", "");
    recorder.onKey = [](const std::string&, int& key) {
        if (key == 'x')
            key = '7';
        else if (key != kKeyBackspace && (key < '0' || key > '9'))
            key = 0;
    };
    const HWND box = Native(*form).Control("txtStartDelay");
    for (const wchar_t c : std::wstring(L"1a2x\u00E9"))
        ::SendMessageW(box, WM_CHAR, c, 1);
    EXPECT_EQ(form->Text("txtStartDelay"), "127");
    ::SendMessageW(box, WM_CHAR, kKeyBackspace, 1);
    EXPECT_EQ(form->Text("txtStartDelay"), "12");
    EXPECT_EQ(recorder.Count("key txtStartDelay 97"), 1);
    EXPECT_EQ(recorder.Count("key txtStartDelay 8"), 1);
    // Control characters other than Backspace are no typed characters.
    ::SendMessageW(box, WM_CHAR, 22, 1);  // Ctrl+V
    EXPECT_EQ(recorder.Count("key txtStartDelay 22"), 0);
}

TEST_F(Win32WindowsTest, TheMultiLineBoxGivesItsTextBackAsSet)
{
    auto form = Make(StatusWindowSpec());
    form->SetText("txtStatus", "first\nsecond");
    EXPECT_EQ(form->Text("txtStatus"), "first\nsecond");
    const HWND box = Native(*form).Control("txtStatus");
    wchar_t shown[64] = {};
    ::GetWindowTextW(box, shown, 64);
    EXPECT_STREQ(shown, L"first\r\nsecond");
    form->SetText("lblClockStatus", "Caf\xC3\xA9");
    EXPECT_EQ(form->Text("lblClockStatus"), "Caf\xC3\xA9");
    form->SetTitle("Veltrane \xE2\x80\x93 test");
    EXPECT_EQ(form->Title(), "Veltrane \xE2\x80\x93 test");
}

TEST_F(Win32WindowsTest, DropDownListsArePickOnly)
{
    auto form = Make(ConfigurationDialogSpec());
    form->AddItem("cboISPList", "Beta");
    form->AddItem("cboISPList", "alpha");
    EXPECT_EQ(form->SelectedIndex("cboISPList"), -1);  // adding selects nothing
    EXPECT_EQ(form->ItemCount("cboISPList"), 2);
    EXPECT_EQ(form->ItemText("cboISPList", 1), "alpha");  // in the order added
    form->SetText("cboISPList", "ALPHA");                 // only an exact entry
    EXPECT_EQ(form->SelectedIndex("cboISPList"), -1);
    form->SetText("cboISPList", "alpha");
    EXPECT_EQ(form->SelectedIndex("cboISPList"), 1);
    EXPECT_EQ(form->Text("cboISPList"), "alpha");
    form->SetSelectedIndex("cboISPList", 5);
    EXPECT_EQ(form->SelectedIndex("cboISPList"), -1);
    form->ClearItems("cboISPList");
    EXPECT_EQ(form->ItemCount("cboISPList"), 0);
    EXPECT_EQ(form->ItemText("cboISPList", 0), "");
}

TEST_F(Win32WindowsTest, FirstActivationAndTheCloseBox)
{
    auto form = Make(StatusWindowSpec());
    EXPECT_FALSE(form->IsVisible());
    form->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    EXPECT_TRUE(form->IsVisible());
    EXPECT_TRUE(::IsWindowVisible(Native(*form).Window()));
    // The focus is on the first control of the tab order.
    EXPECT_EQ(form->FocusedControl(), "cmdCancel");
    form->Show();  // already the active window
    Settle();
    EXPECT_EQ(recorder.Count("activate"), 1);

    // The close box is a close request: the window goes, once.
    ::SendMessageW(Native(*form).Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(recorder.Count("close"), 1);
    EXPECT_FALSE(form->IsVisible());
    EXPECT_FALSE(::IsWindowVisible(Native(*form).Window()));
    form->Close();
    EXPECT_EQ(recorder.Count("close"), 1);
}

TEST_F(Win32WindowsTest, EnterEscapeAndAccessKeysGoThroughTheDialogManager)
{
    auto about = Make(AboutDialogSpec());
    about->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    // cmdOK is the About box's default and cancel button.
    about->SetFocus("cmdSysInfo");
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("click cmdOK") == 1; }));
    // Enter presses the focused button.
    ASSERT_EQ(about->FocusedControl(), "cmdSysInfo");
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("click cmdSysInfo") == 1; }))
        << ::testing::PrintToString(recorder.events);
    // Alt and an access key: "&System Info...".
    about->SetFocus("cmdOK");
    ::PostMessageW(::GetFocus(), WM_SYSCHAR, 's', 1 | (1 << 29));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("click cmdSysInfo") == 2; }));
    about->Close();

    // The status window has neither: Escape presses nothing, Alt+G is Go.
    recorder.events.clear();
    auto status = Make(StatusWindowSpec());
    status->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    Settle();
    EXPECT_EQ(recorder.events, std::vector<std::string>{"activate"});
    ::PostMessageW(::GetFocus(), WM_SYSCHAR, 'g', 1 | (1 << 29));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("click cmdGo") == 1; }));
    // Tab moves out of the multi-line box instead of into its text.
    status->SetFocus("txtStatus");
    ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 1);
    ASSERT_TRUE(PumpUntil([&] { return status->FocusedControl() == "cmdGo"; }));
    EXPECT_EQ(status->Text("txtStatus"), "");
}

TEST_F(Win32WindowsTest, ModalWindowsHoldTheWaitAndDisableTheOthers)
{
    auto status = Make(StatusWindowSpec());
    status->Show();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count("activate") == 1; }));
    Recorder aboutEvents;
    auto about = Make(AboutDialogSpec());
    about->SetHandler(&aboutEvents);
    bool checked = false;
    pump.Post([&] {
        // Inside the modal loop.
        checked = ::IsWindowVisible(Native(*about).Window()) && !::IsWindowEnabled(Native(*status).Window()) &&
                  ::GetWindow(Native(*about).Window(), GW_OWNER) == Native(*status).Window();  // no task bar button
        about->Close();
    });
    about->ShowModal();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(::IsWindowEnabled(Native(*status).Window()));
    EXPECT_EQ(aboutEvents.Count("close"), 1);
    // The window under the dialog is active again.
    ASSERT_TRUE(PumpUntil([&] { return ::GetActiveWindow() == Native(*status).Window(); }));
}

TEST_F(Win32WindowsTest, TheBusyPointerIsTheArrowWithTheHourglass)
{
    EXPECT_EQ(windows.Pointer(), PointerShape::Default);
    EXPECT_EQ(windows.CurrentCursor(), nullptr);
    windows.SetPointer(PointerShape::Busy);
    EXPECT_EQ(windows.Pointer(), PointerShape::Busy);
    EXPECT_EQ(windows.CurrentCursor(), ::LoadCursorW(nullptr, IDC_APPSTARTING));
    // Every window of the program shows it.
    auto form = Make(StatusWindowSpec());
    ::SendMessageW(Native(*form).Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(Native(*form).Control("cmdGo")),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), ::LoadCursorW(nullptr, IDC_APPSTARTING));
    windows.SetPointer(PointerShape::Default);
    EXPECT_EQ(windows.CurrentCursor(), nullptr);
}

// Answers the next message box of this thread from the event queue: checks
// whether it shows an icon and presses `button`.
struct BoxAnswerer {
    BoxAnswerer(Win32EventPump& pump, std::wstring title, int button)
        : pump(pump), title(std::move(title)), button(button)
    {}
    Win32EventPump& pump;
    std::wstring title;
    int button;
    bool seen = false;
    bool hadIcon = false;
    std::wstring text;

    void Arm()
    {
        pump.Post([this] { Look(); });
    }
    void Look()
    {
        const HWND box = ::FindWindowW(L"#32770", title.c_str());
        if (box == nullptr) {
            ::Sleep(20);
            Arm();
            return;
        }
        seen = true;
        for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
            wchar_t name[16] = {};
            ::GetClassNameW(child, name, 16);
            if (std::wstring(name) == L"Static" || std::wstring(name) == L"STATIC") {
                if ((::GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && ::IsWindowVisible(child) &&
                    ::SendMessageW(child, STM_GETICON, 0, 0) != 0)
                    hadIcon = true;
                wchar_t shown[256] = {};
                ::GetWindowTextW(child, shown, 256);
                if (shown[0] != 0)
                    text = shown;
            }
        }
        ::PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    }
};

TEST_F(Win32WindowsTest, MessageBoxesWithTheirIconsAndAnswers)
{
    BoxAnswerer question{pump, L"Run now", IDYES};
    question.Arm();
    EXPECT_EQ(windows.ShowMessageBox("Would you like to run Veltrane now?", "Run now", MessageButtons::YesNo,
                                     MessageIcon::Question),
              MessageResult::Yes);
    EXPECT_TRUE(question.seen);
    EXPECT_TRUE(question.hadIcon);
    EXPECT_EQ(question.text, L"Would you like to run Veltrane now?");

    BoxAnswerer no{pump, L"Run now", IDNO};
    no.Arm();
    EXPECT_EQ(windows.ShowMessageBox("Again?", "Run now", MessageButtons::YesNo, MessageIcon::Question),
              MessageResult::No);

    BoxAnswerer error{pump, L"Error", IDOK};
    error.Arm();
    EXPECT_EQ(windows.ShowMessageBox("Could not start browser!", "Error", MessageButtons::Ok, MessageIcon::Critical),
              MessageResult::Ok);
    EXPECT_TRUE(error.hadIcon);

    BoxAnswerer plain{pump, L"Veltrane", IDOK};
    plain.Arm();
    windows.ShowMessageBox("System Information Is Unavailable At This Time", "Veltrane", MessageButtons::Ok,
                           MessageIcon::None);
    EXPECT_TRUE(plain.seen);
    EXPECT_FALSE(plain.hadIcon);
}

// The About box as the program opens it, over the Win32 windows and pump, with
// the other back ends faked: the shell records what it is asked to open.
TEST_F(Win32WindowsTest, TheAboutBoxLinksOpenThroughTheShellWithTheHandPointer)
{
    test::TestApp t;
    App app{Platform{t.clock, pump, t.env, t.profile, windows, t.socket, t.dialUp, t.shell, t.datagram}};
    bool done = false;
    std::string failure;
    HCURSOR hand = nullptr;
    HCURSOR shownOverLink = nullptr;
    Colour webColour = 0, mailColour = 0;
    bool underlined = false;
    HWND underMouse = nullptr, webLink = nullptr;
    std::function<void()> step = [&] {
        Form* about = windows.FindForm("frmAbout");
        if (about == nullptr || !about->IsVisible()) {
            pump.Post(step);
            return;
        }
        webColour = about->ForeColour("lblWebLink");
        // A transparent label still takes the mouse.
        RECT link;
        ::GetWindowRect(Native(*about).Control("lblWebLink"), &link);
        underMouse = ::WindowFromPoint({(link.left + link.right) / 2, (link.top + link.bottom) / 2});
        underlined = about->IsUnderlined("lblWebLink") && FontOf(Native(*about).Control("lblWebLink")).lfUnderline;
        // The mouse over a link: the program-wide pointer is its hand.
        ::SendMessageW(Native(*about).Control("lblWebLink"), WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
        hand = windows.CurrentCursor();
        webLink = Native(*about).Control("lblWebLink");
        ::SendMessageW(Native(*about).Window(), WM_SETCURSOR,
                       reinterpret_cast<WPARAM>(Native(*about).Control("lblWebLink")),
                       MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        shownOverLink = ::GetCursor();
        // A click on the issue tracker's link.
        ::SendMessageW(Native(*about).Control("lblEMailLink"), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        ::SendMessageW(Native(*about).Control("lblEMailLink"), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        mailColour = about->ForeColour("lblEMailLink");
        ::SendMessageW(Native(*about).Control("cmdOK"), BM_CLICK, 0, 0);
        done = true;
    };
    pump.Post(step);
    ShowAboutDialog(app);
    ASSERT_TRUE(done) << failure;
    EXPECT_EQ(webColour, 0xFF0000u);  // blue: not opened yet
    EXPECT_TRUE(underlined);
    EXPECT_EQ(underMouse, webLink);
    EXPECT_NE(hand, nullptr);
    EXPECT_EQ(windows.Pointer(), PointerShape::Custom);
    EXPECT_EQ(shownOverLink, hand);
    EXPECT_EQ(t.shell.opened, std::vector<std::string>{kIssuesAddress});
    EXPECT_EQ(mailColour, 0x0000FFu);  // red: visited
    EXPECT_EQ(windows.FindForm("frmAbout"), nullptr);
}

// The dialog as the program opens it: the stored server in the edit field of
// the server list, its entry selected; typing there, the focus and Tab go
// through the form, and OK stores what the field holds.
TEST_F(Win32WindowsTest, TheServerListsEditFieldShowsTheStoredServer)
{
    for (const std::string& stored : {std::string(kTimeServers[4]), std::string("time.example.org (by hand)")}) {
        test::TestApp t;
        App app{Platform{t.clock, pump, t.env, t.profile, windows, t.socket, t.dialUp, t.shell, t.datagram}};
        t.WriteSettings("[Main]\r\nNTPServer=" + stored + "\r\nDelay=5\r\nConnectionType=LAN\r\n");
        wchar_t shown[128] = {};
        LRESULT selected = -2;
        std::string focused, afterTab;
        std::function<void()> step = [&] {
            Form* dialog = windows.FindForm("frmVELConfigure");
            if (dialog == nullptr || !dialog->IsVisible())
                return pump.Post(step);
            COMBOBOXINFO parts{};
            parts.cbSize = sizeof parts;
            ::GetComboBoxInfo(Native(*dialog).Control("cboNTPServer"), &parts);
            ::GetWindowTextW(parts.hwndItem, shown, 128);
            selected = ::SendMessageW(parts.hwndCombo, CB_GETCURSEL, 0, 0);
            ::SetFocus(parts.hwndItem);
            focused = dialog->FocusedControl();
            ::SendMessageW(parts.hwndItem, EM_SETSEL, 0, -1);
            for (const wchar_t c : std::wstring(L"my.server"))
                ::SendMessageW(parts.hwndItem, WM_CHAR, c, 1);
            ::PostMessageW(parts.hwndItem, WM_KEYDOWN, VK_TAB, 1);
            pump.Post([&, dialog] {
                afterTab = dialog->FocusedControl();
                ::SendMessageW(Native(*dialog).Control("cmdOK"), BM_CLICK, 0, 0);
            });
        };
        pump.Post(step);
        BoxAnswerer runNow(pump, L"Run now", IDNO);
        runNow.Arm();
        ShowConfigurationDialog(app);
        EXPECT_EQ(Narrow(shown), stored);
        EXPECT_EQ(selected, stored == kTimeServers[4] ? 4 : CB_ERR);
        EXPECT_EQ(focused + " " + afterTab, "cboNTPServer chkQuietMode");
        EXPECT_NE(t.SettingsText().find("\r\nNTPServer=my.server\r\n"), std::string::npos) << t.SettingsText();
    }
}

}  // namespace
}  // namespace vel::platform
