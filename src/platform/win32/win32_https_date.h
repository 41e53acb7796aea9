// The Date of HTTPS servers over WinHTTP (every Windows since XP SP1).
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/https_date.h"
#include "platform/win32/win32_event_pump.h"

namespace vel::platform {

// The system's trust store and proxy settings (the automatic proxy of
// Windows 8.1 and later; before it, WinHTTP's own proxy setting or the
// user's fixed one). winhttp.dll and crypt32.dll are loaded from the system
// folder when the first request is made; without them every request fails
// and says so.
//
// WinHTTP runs asynchronously: its callbacks come on threads of its own and
// only post a message to the pump's window, where the request goes on and
// its reply reaches the handler. A request that fails for its certificate
// only by its dates (or, where the system does not say why, for the secure
// connection) is asked once more with the dates ignored: a reply then is
// TrustedButForDates, with the validity of each certificate of the chain,
// where a certificate is out of date by the PC clock.
class Win32HttpsDate : public HttpsDate, private MessageHandler {
public:
    explicit Win32HttpsDate(Win32EventPump& pump);
    ~Win32HttpsDate() override;
    Win32HttpsDate(const Win32HttpsDate&) = delete;
    Win32HttpsDate& operator=(const Win32HttpsDate&) = delete;

    void Ask(const std::string& host, int port, HttpsDateHandler handler) override;
    void CancelAll() override;

    // The text of a WinHTTP secure-failure flag set, for the log.
    static std::string SecureFailureText(std::uint32_t flags);

    struct Api;  // the WinHTTP and crypt32 calls, loaded

private:
    struct Request;

    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool Open();
    bool Send(Request& request, bool ignoreDates);
    void HeadersAvailable(Request& request);
    void Fail(unsigned id, const std::string& error);
    void Deliver(unsigned id, const HttpsDateReply& reply);
    void CloseRequest(Request& request);

    Win32EventPump& pump_;
    const Api* api_ = nullptr;
    void* session_ = nullptr;           // HINTERNET
    std::wstring fixedProxy_, bypass_;  // the user's fixed proxy where WinHTTP cannot find it itself
    bool opened_ = false;
    std::string openError_;
    UINT message_ = 0;  // wParam: the request's number; lParam: the event (heap)
    unsigned nextId_ = 0;
    std::map<unsigned, std::unique_ptr<Request>> requests_;
};

}  // namespace vel::platform
