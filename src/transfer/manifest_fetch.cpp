#include "transfer/manifest_fetch.h"

#include <algorithm>
#include <vector>

#include "common/build_config.h"
#include "manifest/release_manifest.h"
#include "transfer/https_request.h"

namespace {

constexpr wchar_t kReadFailed[] = L"Could not read release information.";
constexpr wchar_t kTooLarge[] = L"The release information is unexpectedly large.";
// A 200 with nothing in it is no manifest; the driver shows this text, so it must say something.
constexpr wchar_t kEmpty[] = L"The release information is empty.";

// Reads the whole body of an answered request into body, bounded by kMaxManifestBytes and the deadline.
bool ReadManifestBody(HINTERNET request, const TransferDeadline& deadline, Utf8String& body, ErrorText& error,
                      DWORD* systemError) {
    std::vector<char> buffer(kManifestBlockSize);
    for (;;) {
        // Wait for the next bytes within the time left, then read no more than have come: a read of a
        // whole block would go on waiting for as long as a server sends a byte now and then.
        deadline.CapTimeouts(request, 1);
        DWORD available = 0;
        if (!::WinHttpQueryDataAvailable(request, &available)) {
            return FailWithLastError(error, kReadFailed, systemError);
        }
        if (deadline.Passed()) {
            error = kReadFailed;
            return false;
        }
        DWORD bytesRead = 0;
        if (available > 0 &&
            !::WinHttpReadData(request, buffer.data(), std::min(available, kManifestBlockSize), &bytesRead)) {
            return FailWithLastError(error, kReadFailed, systemError);
        }
        if (bytesRead == 0) {
            if (body.empty()) {
                error = kEmpty;
                return false;
            }
            return true;
        }
        // Tested before the append, so the body never holds more than the cap.
        if (body.size() + bytesRead > kMaxManifestBytes) {
            error = kTooLarge;
            return false;
        }
        body.append(buffer.data(), bytesRead);
    }
}

}  // namespace

bool FetchManifestAt(const WideString& url, Utf8String& body, ErrorText& error, DWORD timeLimitMs,
                     DWORD* systemError) {
    const TransferDeadline deadline(timeLimitMs);
    // Declared in this order so that scope releases request, connection, session.
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    if (!OpenHttpsGet(url, session, connection, request, error, &deadline, systemError)) {
        // Out of time while the server was still being asked: a read that broke off, like one mid-body.
        if (deadline.Passed()) {
            error = kReadFailed;
        }
        return false;
    }
    return ReadManifestBody(request.Get(), deadline, body, error, systemError);
}

bool FetchReleaseManifest(Utf8String& body, ErrorText& error) {
    return FetchManifestAt(kManifestUrl, body, error);
}
