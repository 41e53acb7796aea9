// The claim of a window run on Windows: a named mutex in the session's
// namespace per user and program folder, held for the life of the holder
// (the system drops it when the process ends, however it ends), and a
// message-only window of that name the holder listens on; a later start
// finds it and posts it a request to come to the front.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "platform/win32/win32_event_pump.h"
#include "platform/window_run_claim.h"

namespace vel::platform {

class Win32WindowRunClaim : public WindowRunClaim {
public:
    explicit Win32WindowRunClaim(Win32EventPump& pump) : pump_(pump) {}
    ~Win32WindowRunClaim() override;
    Win32WindowRunClaim(const Win32WindowRunClaim&) = delete;
    Win32WindowRunClaim& operator=(const Win32WindowRunClaim&) = delete;

    ClaimResult Claim(const std::string& folder, std::function<void()> comeToFront) override;

    // "Veltrane.WindowRun.<the user's SID>.<key of the folder>": the folder
    // without regard to case, as Windows names files.
    static std::wstring ClaimName(const std::string& folder);

private:
    // False when another process holds the claim.
    bool TryClaim(const std::string& folder, std::function<void()> comeToFront);
    // False when the holder could not be reached.
    bool AskHolderToFront(const std::string& folder);
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    Win32EventPump& pump_;
    HANDLE mutex_ = nullptr;
    HWND window_ = nullptr;
    std::function<void()> comeToFront_;
};

}  // namespace vel::platform
