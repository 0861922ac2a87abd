#include "transfer/https_request.h"

#include <algorithm>

#include "transfer/server_certificate.h"

namespace {

constexpr wchar_t kUserAgent[] = L"BrimlowAIQuillo-WebSetup/0.4";
constexpr int kResolveTimeoutMs = 15000;
constexpr int kConnectTimeoutMs = 15000;
constexpr int kSendTimeoutMs = 30000;
constexpr int kReceiveTimeoutMs = 30000;
constexpr DWORD kSecureFreshRequest = WINHTTP_FLAG_SECURE | WINHTTP_FLAG_REFRESH;
static_assert(kSecureFreshRequest == 0x00800100);
constexpr DWORD kHttpOk = 200;

constexpr wchar_t kInvalidUrl[] = L"The release URL is not a valid HTTPS address.";
constexpr wchar_t kSessionFailed[] = L"Windows could not initialize the secure download service.";
constexpr wchar_t kConnectFailed[] = L"Could not connect to the Brimlow AI download server.";
constexpr wchar_t kRequestFailed[] = L"Could not create a secure download request.";
constexpr wchar_t kSendFailed[] =
    L"The secure download request failed. Check the internet connection and try again.";
constexpr wchar_t kUnexpectedResponse[] = L"The download server returned an unexpected response.";

}  // namespace

bool FailWithLastError(ErrorText& error, const wchar_t* text, DWORD* systemError) {
    if (systemError != nullptr) {
        *systemError = ::GetLastError();
    }
    error = text;
    return false;
}

DWORD TransferDeadline::Remaining() const {
    const ULONGLONG now = ::GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(end_ - now);
}

void TransferDeadline::CapTimeouts(HINTERNET request, DWORD phases) const {
    // Never 0: WinHTTP reads a time-out of 0 as no time-out at all.
    const int share = static_cast<int>(Remaining() / phases) + 1;
    ::WinHttpSetTimeouts(request, std::min(kResolveTimeoutMs, share), std::min(kConnectTimeoutMs, share),
                         std::min(kSendTimeoutMs, share), std::min(kReceiveTimeoutMs, share));
}

bool CrackHttpsUrl(const WideString& url, WideString& host, WideString& path, std::uint16_t& port) {
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

bool OpenHttpsGet(const WideString& url, InternetHandle& session, InternetHandle& connection,
                  InternetHandle& request, ErrorText& error, const TransferDeadline* deadline,
                  DWORD* systemError, const TransferCalls& calls) {
    WideString host;
    WideString path;
    std::uint16_t port = INTERNET_DEFAULT_HTTPS_PORT;
    if (!CrackHttpsUrl(url, host, path, port)) {
        error = kInvalidUrl;
        return false;
    }

    session.Reset(calls.winHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return FailWithLastError(error, kSessionFailed, systemError);
    }
    ::WinHttpSetTimeouts(session.Get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);

    connection.Reset(calls.winHttpConnect(session.Get(), host.c_str(), port, 0));
    if (!connection) {
        return FailWithLastError(error, kConnectFailed, systemError);
    }

    // Do not add SECURITY_FLAG_IGNORE_* options or a certificate callback here: the platform's full
    // certificate check is the only thing that proves we are talking to the release server.
    request.Reset(calls.winHttpOpenRequest(connection.Get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, kSecureFreshRequest));
    if (!request) {
        return FailWithLastError(error, kRequestFailed, systemError);
    }
    // A redirect could lead anywhere; the release server answers every object directly.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    ::WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy, sizeof(redirectPolicy));

    // Sending resolves, connects, shakes hands and sends: four waits that share what is left.
    if (deadline != nullptr) {
        deadline->CapTimeouts(request.Get(), 4);
    }
    if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return FailWithLastError(error, kSendFailed, systemError);
    }
    if (deadline != nullptr) {
        deadline->CapTimeouts(request.Get(), 1);
    }
    if (!::WinHttpReceiveResponse(request.Get(), nullptr)) {
        return FailWithLastError(error, kSendFailed, systemError);
    }
    // WinHTTP's check also takes the roots of the user's own store; the server must chain to the machine's.
    if (!VerifyServerCertificate(request.Get(), host, systemError)) {
        error = kSendFailed;
        return false;
    }

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!::WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX) ||
        status != kHttpOk) {
        error = kUnexpectedResponse;
        return false;
    }
    return true;
}
