#include "transfer/manifest_fetch.h"

#include "manifest/release_manifest.h"
#include "transfer/https_request.h"

namespace {

constexpr wchar_t kReadFailed[] = L"Could not read release information.";
constexpr wchar_t kTooLarge[] = L"The release information is unexpectedly large.";
// A 200 with nothing in it is no manifest; the driver shows this text, so it must say something.
constexpr wchar_t kEmpty[] = L"The release information is empty.";

// Reads the whole body of an answered request into body, bounded by kMaxManifestBytes and the deadline.
Outcome ReadManifestBody(HttpsRequest& request, const RequestWait& wait, Utf8String& body) {
    for (;;) {
        DWORD bytesRead = 0;
        if (!request.Read(kManifestBlockSize, bytesRead, wait)) {
            return Outcome::Failure(kReadFailed, request.LastError());
        }
        if (bytesRead == 0) {
            return body.empty() ? Outcome::Failure(kEmpty) : Outcome();
        }
        // Tested before the append, so the body never holds more than the cap.
        if (body.size() + bytesRead > kMaxManifestBytes) {
            return Outcome::Failure(kTooLarge);
        }
        body.append(reinterpret_cast<const char*>(request.Data()), bytesRead);
    }
}

}  // namespace

Outcome FetchManifestAt(const WideString& url, Utf8String& body, DWORD timeLimitMs) {
    // Every wait of the fetch, from proxy discovery to the body's last byte, ends at this one deadline.
    const TransferDeadline deadline(timeLimitMs);
    const RequestWait wait{&deadline, nullptr};
    HttpsRequest request;
    if (Outcome opened = OpenHttpsGet(url, request, kManifestBlockSize, wait); !opened) {
        // Out of time while the server was still being asked: a read that broke off, like one mid-body.
        return request.LastWait() == WaitEnd::OutOfTime ? Outcome::Failure(kReadFailed) : opened;
    }
    return ReadManifestBody(request, wait, body);
}

Outcome FetchReleaseManifest(Utf8String& body) { return FetchManifestAt(kManifestUrl, body); }
