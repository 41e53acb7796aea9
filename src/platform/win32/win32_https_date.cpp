#include "platform/win32/win32_https_date.h"

#include <wincrypt.h>
#include <winhttp.h>

#include <new>
#include <utility>
#include <vector>

#include "platform/win32/win32_text.h"

namespace vel::platform {

struct Win32HttpsDate::Api {
    HMODULE winhttp = nullptr;
    decltype(&::WinHttpOpen) open = nullptr;
    decltype(&::WinHttpConnect) connect = nullptr;
    decltype(&::WinHttpOpenRequest) openRequest = nullptr;
    decltype(&::WinHttpSetOption) setOption = nullptr;
    decltype(&::WinHttpQueryOption) queryOption = nullptr;
    decltype(&::WinHttpSetStatusCallback) setStatusCallback = nullptr;
    decltype(&::WinHttpSendRequest) sendRequest = nullptr;
    decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
    decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
    decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
    decltype(&::WinHttpGetIEProxyConfigForCurrentUser) ieProxyConfig = nullptr;
    decltype(&::CertGetCertificateChain) getChain = nullptr;
    decltype(&::CertFreeCertificateChain) freeChain = nullptr;
    decltype(&::CertFreeCertificateContext) freeCertificate = nullptr;
};

// One request: its handles, and how far it has come.
struct Win32HttpsDate::Request {
    unsigned id = 0;
    std::wstring host;
    int port = 0;
    HttpsDateHandler handler;
    HINTERNET connection = nullptr;
    HINTERNET handle = nullptr;
    bool ignoringDates = false;  // asked again with the certificates' dates ignored
    DWORD secureFailure = 0;     // WINHTTP_CALLBACK_STATUS_FLAG_... of the latest secure failure
    std::string firstFailure;    // why the first attempt failed, when it is asked again
};

namespace {

// What a WinHTTP thread hands over: the callback's status and its numbers.
struct Event {
    DWORD status = 0;
    DWORD value = 0;  // SECURE_FAILURE: the flags; REQUEST_ERROR: the call that failed
    DWORD error = 0;  // REQUEST_ERROR: the error number
};

// A request handle's context: where its callbacks post. Freed by the
// callback of the handle's closing.
struct CallbackContext {
    HWND window;
    UINT message;
    unsigned id;
};

// A library from the system folder (never the program's own folder), kept
// loaded for the life of the process; null when it is not there.
HMODULE SystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    return ::LoadLibraryW((std::wstring(folder, length) + L"\\" + name).c_str());
}

template <typename Function>
void Find(HMODULE library, const char* name, Function& function)
{
    function = library ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name))) : nullptr;
}

const Win32HttpsDate::Api* LoadApi()
{
    static const Win32HttpsDate::Api api = [] {
        Win32HttpsDate::Api a;
        a.winhttp = SystemLibrary(L"winhttp.dll");
        const HMODULE crypt32 = SystemLibrary(L"crypt32.dll");
        Find(a.winhttp, "WinHttpOpen", a.open);
        Find(a.winhttp, "WinHttpConnect", a.connect);
        Find(a.winhttp, "WinHttpOpenRequest", a.openRequest);
        Find(a.winhttp, "WinHttpSetOption", a.setOption);
        Find(a.winhttp, "WinHttpQueryOption", a.queryOption);
        Find(a.winhttp, "WinHttpSetStatusCallback", a.setStatusCallback);
        Find(a.winhttp, "WinHttpSendRequest", a.sendRequest);
        Find(a.winhttp, "WinHttpReceiveResponse", a.receiveResponse);
        Find(a.winhttp, "WinHttpQueryHeaders", a.queryHeaders);
        Find(a.winhttp, "WinHttpCloseHandle", a.closeHandle);
        Find(a.winhttp, "WinHttpGetIEProxyConfigForCurrentUser", a.ieProxyConfig);
        Find(crypt32, "CertGetCertificateChain", a.getChain);
        Find(crypt32, "CertFreeCertificateChain", a.freeChain);
        Find(crypt32, "CertFreeCertificateContext", a.freeCertificate);
        return a;
    }();
    const bool complete = api.open && api.connect && api.openRequest && api.setOption && api.queryOption &&
                          api.setStatusCallback && api.sendRequest && api.receiveResponse && api.queryHeaders &&
                          api.closeHandle && api.getChain && api.freeChain && api.freeCertificate;
    return complete ? &api : nullptr;
}

// On a WinHTTP thread: hands the event to the pump's window, and nothing more.
void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length)
{
    auto* target = reinterpret_cast<CallbackContext*>(context);
    if (target == nullptr)
        return;
    Event event{status, 0, 0};
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete target;
            return;
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
            if (information != nullptr && length >= sizeof(DWORD))
                event.value = *static_cast<const DWORD*>(information);
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            if (information != nullptr) {
                const auto* result = static_cast<const WINHTTP_ASYNC_RESULT*>(information);
                event.value = static_cast<DWORD>(result->dwResult);
                event.error = result->dwError;
            }
            break;
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            break;
        default:
            return;
    }
    auto* posted = new (std::nothrow) Event(event);
    if (posted != nullptr &&
        !::PostMessageW(target->window, target->message, target->id, reinterpret_cast<LPARAM>(posted)))
        delete posted;
}

// WinHTTP's own text for its errors (12001 and on), the system's for the rest.
std::string ErrorText(const Win32HttpsDate::Api* api, DWORD number)
{
    std::string text;
    if (api != nullptr && number >= 12000 && number < 13000) {
        wchar_t* buffer = nullptr;
        const DWORD length = ::FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, api->winhttp,
            number, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
        if (length > 0 && buffer != nullptr) {
            std::wstring wide(buffer, length);
            while (!wide.empty() &&
                   (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L'.' || wide.back() == L' '))
                wide.pop_back();
            text = Narrow(wide);
        }
        if (buffer != nullptr)
            ::LocalFree(buffer);
    } else {
        text = SystemErrorText(number);
    }
    return (text.empty() ? std::string("WinHTTP error") : text) + " (error " + std::to_string(number) + ")";
}

Instant InstantOf(const FILETIME& time)
{
    // 100-nanosecond steps since 1601-01-01.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t k1970 = 116444736000000000ULL;
    const std::int64_t since1970 = static_cast<std::int64_t>(ticks - k1970);
    return {since1970 / 10000000, static_cast<std::int32_t>((since1970 % 10000000) * 100)};
}

}  // namespace

Win32HttpsDate::Win32HttpsDate(Win32EventPump& pump) : pump_(pump)
{
    message_ = pump_.AllocateMessages(1);
    pump_.AddHandler(this);
}

Win32HttpsDate::~Win32HttpsDate()
{
    CancelAll();
    if (session_ != nullptr)
        api_->closeHandle(session_);
    pump_.RemoveHandler(this);
}

std::string Win32HttpsDate::SecureFailureText(std::uint32_t flags)
{
    static constexpr struct {
        std::uint32_t flag;
        const char* text;
    } kFlags[] = {
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "its revocation could not be checked"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "it is not valid"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "it has been revoked"},
        {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "its issuer is not trusted"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "it names another host"},
        {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "it is expired or not yet valid"},
        {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "the secure channel failed"},
    };
    std::string text;
    for (const auto& known : kFlags)
        if ((flags & known.flag) != 0)
            text += (text.empty() ? "" : "; ") + std::string(known.text);
    return text.empty() ? "the secure connection failed" : text;
}

bool Win32HttpsDate::Open()
{
    if (opened_)
        return session_ != nullptr;
    opened_ = true;
    api_ = LoadApi();
    if (api_ == nullptr) {
        openError_ = "WinHTTP cannot be loaded from the system folder";
        return false;
    }
    // Windows 8.1 and later find the proxy themselves (fixed, detected, or a
    // script's); before it, WinHTTP's own setting, or the user's fixed proxy.
    session_ = api_->open(L"Veltrane", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (session_ == nullptr) {
        session_ = api_->open(L"Veltrane", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
        if (session_ != nullptr && api_->ieProxyConfig != nullptr && api_->ieProxyConfig(&user)) {
            if (user.lpszProxy != nullptr)
                fixedProxy_ = user.lpszProxy;
            if (user.lpszProxyBypass != nullptr)
                bypass_ = user.lpszProxyBypass;
            for (LPWSTR text : {user.lpszAutoConfigUrl, user.lpszProxy, user.lpszProxyBypass})
                if (text != nullptr)
                    ::GlobalFree(text);
        }
    }
    if (session_ == nullptr) {
        openError_ = "WinHTTP: " + ErrorText(api_, ::GetLastError());
        return false;
    }
    const DWORD notifications =
        WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE | WINHTTP_CALLBACK_FLAG_HANDLES;
    if (api_->setStatusCallback(session_, &StatusCallback, notifications, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        openError_ = "WinHTTP: " + ErrorText(api_, ::GetLastError());
        api_->closeHandle(session_);
        session_ = nullptr;
        return false;
    }
    return true;
}

void Win32HttpsDate::Ask(const std::string& host, int port, HttpsDateHandler handler)
{
    auto request = std::make_unique<Request>();
    request->id = ++nextId_;
    request->host = Widen(host);
    request->port = port;
    request->handler = std::move(handler);
    const unsigned id = request->id;
    Request& added = *request;
    requests_[id] = std::move(request);
    // Even a failure known at once comes through the pump.
    if (!Open()) {
        pump_.Post([this, id] { Fail(id, openError_); });
        return;
    }
    if (!Send(added, false)) {
        const std::string error = ErrorText(api_, ::GetLastError());
        pump_.Post([this, id, error] { Fail(id, error); });
    }
}

bool Win32HttpsDate::Send(Request& request, bool ignoreDates)
{
    request.ignoringDates = ignoreDates;
    request.secureFailure = 0;
    if (request.connection == nullptr)
        request.connection = api_->connect(session_, request.host.c_str(), static_cast<INTERNET_PORT>(request.port), 0);
    if (request.connection == nullptr)
        return false;
    request.handle = api_->openRequest(request.connection, L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                       WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH);
    if (request.handle == nullptr)
        return false;
    auto* context = new (std::nothrow) CallbackContext{pump_.Window(), message_, request.id};
    if (context == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    DWORD_PTR value = reinterpret_cast<DWORD_PTR>(context);
    if (!api_->setOption(request.handle, WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value)) {
        delete context;  // no callback will free it
        return false;
    }
    // The Date of this server, not of another it sends us to.
    DWORD disable = WINHTTP_DISABLE_REDIRECTS;
    api_->setOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    if (ignoreDates) {
        DWORD security = SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
        if (!api_->setOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS, &security, sizeof security))
            return false;
    }
    if (!fixedProxy_.empty()) {
        WINHTTP_PROXY_INFO proxy{WINHTTP_ACCESS_TYPE_NAMED_PROXY, fixedProxy_.data(),
                                 bypass_.empty() ? nullptr : bypass_.data()};
        api_->setOption(request.handle, WINHTTP_OPTION_PROXY, &proxy, sizeof proxy);
    }
    return api_->sendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, value) !=
           FALSE;
}

bool Win32HttpsDate::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != message_)
        return false;
    const std::unique_ptr<Event> event(reinterpret_cast<Event*>(lParam));
    const auto found = requests_.find(static_cast<unsigned>(wParam));
    if (event == nullptr || found == requests_.end())
        return true;  // a request that is over, or cancelled
    Request& request = *found->second;
    switch (event->status) {
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
            if (!api_->receiveResponse(request.handle, nullptr))
                Fail(request.id, ErrorText(api_, ::GetLastError()));
            return true;
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            HeadersAvailable(request);
            return true;
        case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
            request.secureFailure |= event->value;
            return true;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            break;
        default:
            return true;
    }
    const bool secure =
        event->error == ERROR_WINHTTP_SECURE_FAILURE || event->error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
    if (!secure) {
        Fail(request.id, ErrorText(api_, event->error));
        return true;
    }
    if (request.ignoringDates) {
        Fail(request.id, request.firstFailure);  // what the first attempt found
        return true;
    }
    if (request.secureFailure != 0)
        request.firstFailure = "its certificate is refused: " + SecureFailureText(request.secureFailure);
    else
        request.firstFailure =
            "its certificate is refused, or the secure connection failed: " + ErrorText(api_, event->error);
    // A certificate out of date by the PC clock, and nothing else wrong
    // with it, is asked for once more with the dates ignored, for the
    // program to hold the server's Date against the certificates. (Windows
    // names the faults; Wine only says that the secure connection failed:
    // the second attempt then tells whether the dates were all.)
    const DWORD dates = WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
    if (request.secureFailure != 0 && request.secureFailure != dates) {
        Fail(request.id, request.firstFailure);
        return true;
    }
    api_->closeHandle(request.handle);
    request.handle = nullptr;
    if (!Send(request, true))
        Fail(request.id, request.firstFailure);
    return true;
}

void Win32HttpsDate::HeadersAvailable(Request& request)
{
    DWORD size = 0;
    api_->queryHeaders(request.handle, WINHTTP_QUERY_DATE, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                       &size, WINHTTP_NO_HEADER_INDEX);
    std::wstring date(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(date.size() * sizeof(wchar_t));
    if (size == 0 || !api_->queryHeaders(request.handle, WINHTTP_QUERY_DATE, WINHTTP_HEADER_NAME_BY_INDEX, date.data(),
                                         &bytes, WINHTTP_NO_HEADER_INDEX)) {
        Fail(request.id, "its answer has no Date");
        return;
    }
    date.resize(bytes / sizeof(wchar_t));
    HttpsDateReply reply;
    reply.date = Narrow(date);
    reply.outcome = HttpsDateReply::Outcome::Trusted;
    if (request.ignoringDates) {
        PCCERT_CONTEXT certificate = nullptr;
        DWORD length = sizeof certificate;
        if (api_->queryOption(request.handle, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &length) &&
            certificate != nullptr) {
            // The chain as the system builds it, up to the trusted root.
            CERT_CHAIN_PARA parameters{};
            parameters.cbSize = sizeof parameters;
            PCCERT_CHAIN_CONTEXT chain = nullptr;
            if (api_->getChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0, nullptr,
                               &chain) &&
                chain != nullptr) {
                if (chain->cChain > 0)
                    for (DWORD i = 0; i < chain->rgpChain[0]->cElement; ++i) {
                        const CERT_INFO* info = chain->rgpChain[0]->rgpElement[i]->pCertContext->pCertInfo;
                        reply.chain.push_back({InstantOf(info->NotBefore), InstantOf(info->NotAfter)});
                    }
                api_->freeChain(chain);
            }
            if (reply.chain.empty())
                reply.chain.push_back(
                    {InstantOf(certificate->pCertInfo->NotBefore), InstantOf(certificate->pCertInfo->NotAfter)});
            api_->freeCertificate(certificate);
        }
        // The dates were the fault only where a certificate is out of date
        // by the PC clock.
        FILETIME now{};
        ::GetSystemTimeAsFileTime(&now);
        const Instant pcNow = InstantOf(now);
        for (const CertificateValidity& validity : reply.chain)
            if (pcNow < validity.notBefore || pcNow > validity.notAfter)
                reply.outcome = HttpsDateReply::Outcome::TrustedButForDates;
        if (reply.outcome == HttpsDateReply::Outcome::Trusted)
            reply.chain.clear();
    }
    Deliver(request.id, reply);
}

void Win32HttpsDate::Fail(unsigned id, const std::string& error)
{
    HttpsDateReply reply;
    reply.error = error;
    Deliver(id, reply);
}

void Win32HttpsDate::Deliver(unsigned id, const HttpsDateReply& reply)
{
    const auto found = requests_.find(id);
    if (found == requests_.end())
        return;
    std::unique_ptr<Request> request = std::move(found->second);
    requests_.erase(found);
    CloseRequest(*request);
    if (request->handler)
        request->handler(reply);
    pump_.Wake();
}

void Win32HttpsDate::CloseRequest(Request& request)
{
    // Closing ends what is under way; a callback that still comes finds no
    // request of its number.
    if (request.handle != nullptr)
        api_->closeHandle(request.handle);
    if (request.connection != nullptr)
        api_->closeHandle(request.connection);
    request.handle = nullptr;
    request.connection = nullptr;
}

void Win32HttpsDate::CancelAll()
{
    std::map<unsigned, std::unique_ptr<Request>> requests;
    requests.swap(requests_);
    for (auto& [id, request] : requests)
        CloseRequest(*request);
}

}  // namespace vel::platform
