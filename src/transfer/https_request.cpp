#include "transfer/https_request.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "common/build_config.h"
#include "common/failed_call.h"
#include "common/win32_handles.h"

#include "transfer/download_observer.h"
#include "transfer/server_certificate.h"

namespace {

constexpr wchar_t kUserAgent[] = L"BrimlowAIQuillo-WebSetup/0.4";
constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr int kSendTimeoutMs = 30000;
constexpr DWORD kSecureFreshRequest = WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH;
static_assert(kSecureFreshRequest == 0x00800100);
constexpr DWORD kHttpOk = 200;
constexpr DWORD kReportedCalls = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

constexpr wchar_t kInvalidUrl[] = L"The release URL is not a valid HTTPS address.";
constexpr wchar_t kSessionFailed[] = L"Windows could not initialize the secure download service.";
constexpr wchar_t kConnectFailed[] = L"Could not connect to the Brimlow AI download server.";
constexpr wchar_t kRequestFailed[] = L"Could not create a secure download request.";
constexpr wchar_t kSendFailed[] =
    L"The secure download request failed. Check the internet connection and try again.";
constexpr wchar_t kUnexpectedResponse[] = L"The download server returned an unexpected response.";

}  // namespace

// What one request shares with WinHTTP's thread: the results of its calls, the event that tells a
// waiting thread of them, and the buffer its reads fill. It lives as long as either side holds it;
// WinHTTP lets go when it reports the request closed, and then nothing else of the request is
// reachable from its thread.
class RequestState {
public:
    explicit RequestState(DWORD blockSize) : buffer(blockSize) {}

    void AddReference() { ::InterlockedIncrement(&references_); }
    void Release() {
        if (::InterlockedDecrement(&references_) == 0) {
            delete this;
        }
    }
    bool IsReady() const { return reported && closed; }

    // Before each call: no report yet, and the thread that will wait for it.
    void BeginCall() {
        caller_ = ::GetCurrentThreadId();
        done_.store(false, std::memory_order_relaxed);
    }
    bool Done() const { return done_.load(std::memory_order_acquire); }

    // The results first, then the flag. WinHTTP often completes a call before it returns, on the
    // caller's own thread; only a report from another thread needs the event, so a fast transfer
    // costs no kernel call per block.
    void Report(bool success, DWORD systemError, DWORD count) {
        ok = success;
        error = systemError;
        bytes = count;
        done_.store(true, std::memory_order_release);
        if (::GetCurrentThreadId() != caller_) {
            ::SetEvent(reported.Get());
        }
    }

    // Auto-reset: a wait may wake for a report it has already taken; it then looks at Done again.
    UniqueEvent reported{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueEvent closed{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool ok = false;
    DWORD error = 0;
    DWORD bytes = 0;
    std::vector<BYTE> buffer;

private:
    ~RequestState() = default;
    LONG references_ = 1;
    DWORD caller_ = 0;
    std::atomic<bool> done_{false};
};

namespace {

// Runs on a thread of WinHTTP's. Only the request carries a context; the session's and the
// connection's own notifications come with none and are ignored.
void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information, DWORD length) {
    RequestState* state = reinterpret_cast<RequestState*>(context);
    if (state == nullptr) {
        return;
    }
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        state->Report(true, 0, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        state->Report(true, 0, length);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        state->Report(false, static_cast<const WINHTTP_ASYNC_RESULT*>(information)->dwError, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        // The last notification of the request: WinHTTP lets go of the state here.
        ::SetEvent(state->closed.Get());
        state->Release();
        break;
    default:
        break;
    }
}

}  // namespace

DWORD TransferDeadline::Remaining() const {
    const ULONGLONG now = ::GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
}

bool transfer_internal::CrackHttpsUrl(const WideString& url, WideString& host, WideString& path, std::uint16_t& port) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    // Null pointers with all-ones lengths ask for pointers into the URL itself.
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // Flags 0: no decoding and no escaping, so the server is asked for exactly what the URL says.
    if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts) || parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return false;
    }
    host.assign(parts.lpszHostName, parts.dwHostNameLength);
    path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.dwExtraInfoLength != 0) {
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    port = parts.nPort;
    return !host.empty() && !path.empty();
}

WaitEnd HttpsRequest::WaitForReport(const RequestWait& wait) {
    const HANDLE reported = state_->reported.Get();
    while (!state_->Done()) {
        const DWORD timeoutMs = wait.deadline != nullptr ? wait.deadline->Remaining() : INFINITE;
        // With an observer the thread has a window: any message wakes the wait, so the window answers
        // as soon as it is spoken to, however long the network takes.
        const DWORD result = wait.observer != nullptr
                                 ? ::MsgWaitForMultipleObjectsEx(1, &reported, timeoutMs, QS_ALLINPUT,
                                                                 MWMO_INPUTAVAILABLE)
                                 : ::WaitForSingleObject(reported, timeoutMs);
        if (result == WAIT_OBJECT_0) {
            continue;
        }
        if (wait.observer != nullptr && result == WAIT_OBJECT_0 + 1) {
            if (!wait.observer->ContinueDownload()) {
                return WaitEnd::Stopped;
            }
            continue;
        }
        // A time-out, or a wait that failed: either way the call is given up.
        return WaitEnd::OutOfTime;
    }
    return WaitEnd::Reported;
}

bool HttpsRequest::Read(DWORD size, DWORD& bytesRead, const RequestWait& wait) {
    bytesRead = 0;
    lastWait_ = WaitEnd::Reported;
    lastError_ = ERROR_SUCCESS;
    state_->BeginCall();
    // The count comes with the report; asynchronous WinHTTP must not be given a place for it here.
    if (!::WinHttpReadData(request_.Get(), state_->buffer.data(),
                           std::min(size, static_cast<DWORD>(state_->buffer.size())), nullptr)) {
        lastError_ = ::GetLastError();
        return false;
    }
    if (!AwaitReport(wait)) {
        return false;
    }
    bytesRead = state_->bytes;
    return true;
}

bool HttpsRequest::AwaitReport(const RequestWait& wait) {
    lastWait_ = WaitForReport(wait);
    if (lastWait_ != WaitEnd::Reported) {
        return false;
    }
    if (!state_->ok) {
        lastError_ = state_->error;
    }
    return state_->ok;
}

BYTE* HttpsRequest::Data() { return state_->buffer.data(); }

void HttpsRequest::Close() {
    if (request_) {
        // Closing the request cancels a call in flight. WinHTTP confirms on its thread when it has let
        // go; a call that does not end in time keeps what it shares, and is never looked at again. The
        // wait is short enough that a window, not pumped meanwhile, still answers within a second.
        const HANDLE closed = state_->closed.Get();
        request_.Reset();
        if (stateShared_) {
            ::WaitForSingleObject(closed, kRequestCloseMs);
        }
    }
    connection_.Reset();
    session_.Reset();
    if (state_ != nullptr) {
        state_->Release();
        state_ = nullptr;
    }
    stateShared_ = false;
}

Outcome HttpsRequest::Prepare(const WideString& host, const WideString& path, std::uint16_t port, DWORD blockSize,
                              const TransferCalls& calls) {
    state_ = new RequestState(blockSize);
    if (!state_->IsReady()) {
        return FailedCall(kSessionFailed);
    }
    session_.Reset(calls.winHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!session_) {
        return FailedCall(kSessionFailed);
    }
    // Set on the session, so that the connection and the request take it over when they are made.
    if (::WinHttpSetStatusCallback(session_.Get(), OnRequestStatus, kReportedCalls, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        return FailedCall(kSessionFailed);
    }
    ::WinHttpSetTimeouts(session_.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                         static_cast<int>(kReceiveTimeoutMs));

    connection_.Reset(calls.winHttpConnect(session_.Get(), host.c_str(), port, 0));
    if (!connection_) {
        return FailedCall(kConnectFailed);
    }

    // Do not add SECURITY_FLAG_IGNORE_* options or a certificate callback here: the platform's full
    // certificate check is the only thing that proves we are talking to the release server.
    request_.Reset(calls.winHttpOpenRequest(connection_.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, kSecureFreshRequest));
    if (!request_) {
        return FailedCall(kRequestFailed);
    }
    // From here WinHTTP's thread may report on the request: it holds the state until it says closed.
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(state_);
    if (!calls.winHttpSetOption(request_.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
        return FailedCall(kSendFailed);
    }
    state_->AddReference();
    stateShared_ = true;
    // A redirect could lead anywhere; the release server answers every object directly. A request that
    // cannot be told so is not sent.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!calls.winHttpSetOption(request_.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                                sizeof(redirectPolicy))) {
        return FailedCall(kSendFailed);
    }
    return {};
}

Outcome HttpsRequest::Exchange(const WideString& host, const RequestWait& wait) {
    const HINTERNET handle = request_.Get();
    // Proxy discovery, name resolution, connection, TLS handshake and the request itself, then the
    // response headers: each wait ends at the deadline, or when the observer says stop.
    state_->BeginCall();
    if (!::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                              reinterpret_cast<DWORD_PTR>(state_))) {
        return FailedCall(kSendFailed);
    }
    if (!AwaitReport(wait)) {
        return Outcome::Failure(kSendFailed, lastError_);
    }
    state_->BeginCall();
    if (!::WinHttpReceiveResponse(handle, nullptr)) {
        return FailedCall(kSendFailed);
    }
    if (!AwaitReport(wait)) {
        return Outcome::Failure(kSendFailed, lastError_);
    }

    // The response headers have been received.
    // WinHTTP's check also takes the roots of the user's own store; the server must chain to the machine's.
    DWORD refusal = ERROR_SUCCESS;
    if (!VerifyServerCertificate(handle, host, refusal)) {
        return Outcome::Failure(kSendFailed, refusal);
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX) ||
        status != kHttpOk) {
        return Outcome::Failure(kUnexpectedResponse);
    }
    return {};
}

Outcome OpenHttpsGet(const WideString& url, HttpsRequest& request, DWORD blockSize, const RequestWait& wait,
                     const TransferCalls& calls) {
    WideString host;
    WideString path;
    std::uint16_t port = INTERNET_DEFAULT_HTTPS_PORT;
    if (!transfer_internal::CrackHttpsUrl(url, host, path, port)) {
        return Outcome::Failure(kInvalidUrl);
    }
    if (Outcome prepared = request.Prepare(host, path, port, blockSize, calls); !prepared) {
        return prepared;
    }
    return request.Exchange(host, wait);
}
