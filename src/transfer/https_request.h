#pragma once
// The program's only road to the network: one synchronous HTTPS GET, carried to status 200.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "common/unique_handle.h"
#include "common/wide_string.h"
#include "transfer/transfer_calls.h"

using InternetHandle = UniqueHandle<NullHandleTraits<HINTERNET, ::WinHttpCloseHandle>>;

// Writes text into error and, when systemError is given, the thread's last error into it; false. Called
// right after the WinHTTP call that failed, before another call can overwrite that error.
bool FailWithLastError(ErrorText& error, const wchar_t* text, DWORD* systemError);

bool CrackHttpsUrl(const WideString& url, WideString& host, WideString& path, std::uint16_t& port);

// A limit on a whole exchange, request and body together, counted from its construction. The time-outs
// of each call bound one wait; this bounds their sum, so that a server that answers just often enough
// cannot keep the program waiting without end.
class TransferDeadline {
public:
    explicit TransferDeadline(DWORD totalMs) : end_(::GetTickCount64() + totalMs) {}

    // Milliseconds left; 0 once the deadline has passed.
    DWORD Remaining() const;
    bool Passed() const { return Remaining() == 0; }
    // Caps the request's own time-outs to what is left, so that no single wait outlives the deadline.
    // The calls that send a request wait in several phases, so it gives each phase a share.
    void CapTimeouts(HINTERNET request, DWORD phases) const;

private:
    ULONGLONG end_;
};

// On true the request is ready for WinHttpReadData. The caller owns the three holders and releases
// them request, connection, session on every path. With a deadline, no wait of the request outlives it.
// With systemError, a failed WinHTTP call also leaves its error number there (the release tool shows
// it); it stays as it was when the failure has none, such as a status other than 200.
bool OpenHttpsGet(const WideString& url, InternetHandle& session, InternetHandle& connection,
                  InternetHandle& request, ErrorText& error, const TransferDeadline* deadline = nullptr,
                  DWORD* systemError = nullptr, const TransferCalls& calls = {});
