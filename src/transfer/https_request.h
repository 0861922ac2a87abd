#pragma once
// The program's only road to the network: one HTTPS GET, carried to status 200, then its body read.
// WinHTTP runs in its asynchronous mode: each call that waits on the network returns at once and
// reports its end on a thread of WinHTTP's own. The thread that asked waits for that report, handling
// its window's messages meanwhile, and can give up at any moment: at a deadline, or when the user
// cancels. Giving up closes the request, which is how WinHTTP cancels a call in flight.
#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "common/outcome.h"
#include "common/unique_handle.h"
#include "common/wide_string.h"
#include "transfer/transfer_calls.h"

class DownloadObserver;

using InternetHandle = UniqueHandle<NullHandleTraits<HINTERNET, ::WinHttpCloseHandle>>;

namespace transfer_internal {
// Splits an https URL into host, path (with its query) and port; false for anything else.
bool CrackHttpsUrl(const WideString& url, WideString& host, WideString& path, std::uint16_t& port);
}  // namespace transfer_internal

// How long closing a request may wait for WinHTTP to confirm that it has let go (see Close).
inline constexpr DWORD kRequestCloseMs = 500;

// A limit on a whole phase of an exchange, counted from its construction. Its waits end early enough
// that closing the request they give up on still fits within totalMs.
class TransferDeadline {
public:
    explicit TransferDeadline(DWORD totalMs)
        : end_(::GetTickCount64() + (totalMs > kRequestCloseMs ? totalMs - kRequestCloseMs : 0)) {}

    // Milliseconds left; 0 once the deadline has passed.
    DWORD Remaining() const;
    bool Passed() const { return Remaining() == 0; }

private:
    ULONGLONG end_;
};

// How a wait for the network ended when it did not end with the call's own report.
enum class WaitEnd {
    Reported,  // the call ended, well or not: its own result says which
    OutOfTime, // the deadline passed first
    Stopped,   // the observer asked to stop
};

// What a call of the request waits under: an optional deadline, and an optional observer that is asked
// whenever the waiting thread has messages to handle (its answer false stops the wait).
struct RequestWait {
    const TransferDeadline* deadline = nullptr;
    DownloadObserver* observer = nullptr;
};

class RequestState;

// One GET request: its three handles, closed request, connection, session, and what it shares with
// WinHTTP's thread. Once the request is closed, whatever WinHTTP may still report belongs to WinHTTP:
// nothing of the caller is reachable from its thread.
class HttpsRequest {
public:
    HttpsRequest() = default;
    ~HttpsRequest() { Close(); }
    HttpsRequest(const HttpsRequest&) = delete;
    HttpsRequest& operator=(const HttpsRequest&) = delete;

    // Reads up to size bytes of the body (at most the block size given to OpenHttpsGet) into Data().
    // 0 bytes with true is the end of the body. On false, LastWait says why: Reported when the read
    // itself failed, and LastError then holds WinHTTP's error number.
    bool Read(DWORD size, DWORD& bytesRead, const RequestWait& wait);
    BYTE* Data();
    // How the last wait for the network ended.
    WaitEnd LastWait() const { return lastWait_; }
    // The error number of the last call that failed; 0 when the last one did not fail.
    DWORD LastError() const { return lastError_; }

    // Closes the request, waiting a moment for WinHTTP to confirm that it has let go of it, then the
    // connection and the session. A call still in flight is cancelled.
    void Close();

    bool HasSession() const { return session_.IsValid(); }
    bool HasConnection() const { return connection_.IsValid(); }
    bool HasRequest() const { return request_.IsValid(); }
    HINTERNET Handle() const { return request_.Get(); }

private:
    friend Outcome OpenHttpsGet(const WideString& url, HttpsRequest& request, DWORD blockSize,
                                const RequestWait& wait, const TransferCalls& calls);
    // The session, connection and request with every option set, nothing sent yet.
    Outcome Prepare(const WideString& host, const WideString& path, std::uint16_t port, DWORD blockSize,
                    const TransferCalls& calls);
    // Sends the request and takes the response headers; then the server's certificate and the status.
    Outcome Exchange(const WideString& host, const RequestWait& wait);
    // Waits for the report of the call just made.
    WaitEnd WaitForReport(const RequestWait& wait);
    // The same, true only when the call was reported to have succeeded; a failure's number goes to
    // LastError.
    bool AwaitReport(const RequestWait& wait);

    // Declared in this order so that scope would release request, connection, session; Close does it
    // explicitly, with the wait for the request in between.
    InternetHandle session_;
    InternetHandle connection_;
    InternetHandle request_;
    RequestState* state_ = nullptr;
    // True once WinHTTP holds the state too, so that it reports the request's closing.
    bool stateShared_ = false;
    WaitEnd lastWait_ = WaitEnd::Reported;
    DWORD lastError_ = ERROR_SUCCESS;
};

// Succeeds when the request has been answered with status 200 and its body is ready for Read, in blocks
// of up to blockSize bytes. A failure gives a failed step's own text, or the send failure text when the
// wait ran out of time or was stopped (request.LastWait() tells these apart), with the failed WinHTTP
// call's error number where there is one. The caller closes the request on every path.
Outcome OpenHttpsGet(const WideString& url, HttpsRequest& request, DWORD blockSize, const RequestWait& wait = {},
                     const TransferCalls& calls = {});
