#include "platform/win32/win32_window_run_claim.h"

#include <sddl.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "platform/win32/win32_text.h"

namespace vel::platform {

namespace {

constexpr wchar_t kWindowClass[] = L"VeltraneWindowRun";
constexpr UINT kFrontMessage = WM_APP + 1;
constexpr LRESULT kFrontAnswer = 1;  // the holder's answer: its windows came to the front

// The SID of the process's user as text; empty when it cannot be read.
std::wstring UserSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    std::wstring text;
    wchar_t* sid = nullptr;
    if (size != 0 && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        text = sid;
        ::LocalFree(sid);
    }
    ::CloseHandle(token);
    return text;
}

}  // namespace

std::wstring Win32WindowRunClaim::ClaimName(const std::string& folder)
{
    std::wstring lower = Widen(folder);
    if (!lower.empty())
        ::CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    // FNV-1a over the UTF-16 units: a short name for any length of path.
    std::uint64_t hash = 14695981039346656037ull;
    for (const wchar_t unit : lower) {
        hash ^= static_cast<std::uint16_t>(unit);
        hash *= 1099511628211ull;
    }
    wchar_t key[17];
    std::swprintf(key, 17, L"%016llx", static_cast<unsigned long long>(hash));
    return L"Veltrane.WindowRun." + UserSid() + L"." + key;
}

Win32WindowRunClaim::~Win32WindowRunClaim()
{
    Release();
}

void Win32WindowRunClaim::Release()
{
    if (window_ != nullptr)
        ::DestroyWindow(window_);
    window_ = nullptr;
    if (mutex_ != nullptr)
        ::CloseHandle(mutex_);
    mutex_ = nullptr;
}

ClaimOutcome Win32WindowRunClaim::Claim(const std::string& folder, std::function<void()> comeToFront)
{
    Release();
    comeToFront_ = std::move(comeToFront);
    // GetTickCount, not its 64-bit form, which older Windows lack; the
    // difference is right across its wrap.
    const DWORD start = ::GetTickCount();
    const auto bound = static_cast<DWORD>(answerSeconds_ * 1000);
    std::int64_t holder = 0;
    for (;;) {
        if (TryClaim(folder, comeToFront_))
            return {ClaimResult::Claimed};
        switch (AskHolderToFront(folder, bound, holder)) {
            case Asked::Answered:
                return {ClaimResult::HolderBroughtToFront, holder};
            case Asked::NoAnswer:
                return {ClaimResult::HolderNotReached, holder};
            case Asked::NoWindow:
                break;
        }
        // No window yet (the holder is still making it), or it let go
        // meanwhile: look again until the bound.
        if (::GetTickCount() - start >= bound)
            return {ClaimResult::HolderNotReached, holder};
        ::Sleep(20);
    }
}

bool Win32WindowRunClaim::TryClaim(const std::string& folder, std::function<void()> comeToFront)
{
    comeToFront_ = std::move(comeToFront);
    const std::wstring name = ClaimName(folder);
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str());
    if (mutex == nullptr)
        return ::GetLastError() != ERROR_ACCESS_DENIED;  // another user's name: held; anything else: no way to tell
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    if (mutex_ != nullptr)
        ::CloseHandle(mutex_);
    mutex_ = mutex;

    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Win32WindowRunClaim::WindowProcedure;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return ::RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
    if (window_ != nullptr)
        ::DestroyWindow(window_);
    window_ = ::CreateWindowExW(0, kWindowClass, name.c_str(), 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ::GetModuleHandleW(nullptr), nullptr);
    if (window_ != nullptr)
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    else
        Release();  // nobody could reach this holder: later starts are not held back by it
    return true;
}

Win32WindowRunClaim::Asked Win32WindowRunClaim::AskHolderToFront(const std::string& folder, DWORD bound,
                                                                 std::int64_t& holder)
{
    const HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, kWindowClass, ClaimName(folder).c_str());
    if (window == nullptr)
        return Asked::NoWindow;
    // The holder runs in the background; this start is the user's, and may
    // let it take the foreground.
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    holder = process;
    if (process != 0)
        ::AllowSetForegroundWindow(process);
    // The holder's own answer, not only a message queued: a holder that is
    // hung or suspended gives none within the bound.
    DWORD_PTR answer = 0;
    const bool answered =
        ::SendMessageTimeoutW(window, kFrontMessage, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, bound, &answer) != 0 &&
        answer == static_cast<DWORD_PTR>(kFrontAnswer);
    return answered ? Asked::Answered : Asked::NoAnswer;
}

LRESULT CALLBACK Win32WindowRunClaim::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* claim = reinterpret_cast<Win32WindowRunClaim*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != kFrontMessage || claim == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (claim->comeToFront_)
        claim->comeToFront_();
    claim->pump_.Wake();
    return kFrontAnswer;
}

}  // namespace vel::platform
