#include "transfer/manifest_fetch.h"

#include "manifest/release_manifest.h"
#include "transfer/https_request.h"

namespace {

constexpr wchar_t kReadFailed[] = L"Could not read release information.";
constexpr wchar_t kTooLarge[] = L"The release information is unexpectedly large.";
// A 200 with nothing in it is no manifest; the driver shows this text, so it must say something.
constexpr wchar_t kEmpty[] = L"The release information is empty.";

// Reads the whole body of an answered request into body, bounded by kMaxManifestBytes and the deadline.
bool ReadManifestBody(HttpsRequest& request, const RequestWait& wait, Utf8String& body, ErrorText& error,
                      DWORD* systemError) {
    for (;;) {
        DWORD bytesRead = 0;
        if (!request.Read(kManifestBlockSize, bytesRead, wait, systemError)) {
            error = kReadFailed;
            return false;
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
        body.append(reinterpret_cast<const char*>(request.Data()), bytesRead);
    }
}

}  // namespace

bool FetchManifestAt(const WideString& url, Utf8String& body, ErrorText& error, DWORD timeLimitMs,
                     DWORD* systemError) {
    // Every wait of the fetch, from proxy discovery to the body's last byte, ends at this one deadline.
    const TransferDeadline deadline(timeLimitMs);
    const RequestWait wait{&deadline, nullptr};
    HttpsRequest request;
    if (!OpenHttpsGet(url, request, kManifestBlockSize, error, wait, systemError)) {
        // Out of time while the server was still being asked: a read that broke off, like one mid-body.
        if (request.LastWait() == WaitEnd::OutOfTime) {
            error = kReadFailed;
        }
        return false;
    }
    return ReadManifestBody(request, wait, body, error, systemError);
}

bool FetchReleaseManifest(Utf8String& body, ErrorText& error) {
    return FetchManifestAt(kManifestUrl, body, error);
}
