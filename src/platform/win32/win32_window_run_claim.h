// The claim of a window run on Windows: a named mutex in the session's
// namespace per user and program folder, held for the life of the holder
// (the system drops it when the process ends, however it ends), and a
// message-only window of that name the holder listens on; a later start
// finds it and sends it a request to come to the front, whose answer it
// waits for a few seconds at most (a hung or suspended holder gives none).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win32/win32_event_pump.h"
#include "platform/window_run_claim.h"

namespace vel::platform {

class Win32WindowRunClaim : public WindowRunClaim {
public:
    // How long a later start waits for the holder's answer.
    static constexpr double kAnswerSeconds = 3.0;

    explicit Win32WindowRunClaim(Win32EventPump& pump, double answerSeconds = kAnswerSeconds)
        : pump_(pump), answerSeconds_(answerSeconds)
    {}
    ~Win32WindowRunClaim() override;
    Win32WindowRunClaim(const Win32WindowRunClaim&) = delete;
    Win32WindowRunClaim& operator=(const Win32WindowRunClaim&) = delete;

    ClaimOutcome Claim(const std::string& folder, std::function<void()> comeToFront) override;
    void Release() override;

    // "Veltrane.WindowRun.<the user's SID>.<key of the folder>": the folder
    // without regard to case, as Windows names files.
    static std::wstring ClaimName(const std::string& folder);

private:
    // False when another process holds the claim.
    bool TryClaim(const std::string& folder, std::function<void()> comeToFront);
    enum class Asked { Answered, NoAnswer, NoWindow };
    // Asks the holder's window, waiting `bound` milliseconds at most for the
    // answer; the holder's process in `holder`.
    Asked AskHolderToFront(const std::string& folder, DWORD bound, std::int64_t& holder);
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Win32EventPump& pump_;
    double answerSeconds_;
    HANDLE mutex_ = nullptr;
    HWND window_ = nullptr;
    std::function<void()> comeToFront_;
};

}  // namespace vel::platform
