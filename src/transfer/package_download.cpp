#include "transfer/package_download.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "common/build_config.h"
#include "common/failed_call.h"
#include "common/win32_handles.h"
#include "transfer/download_observer.h"
#include "transfer/https_request.h"
#include "transfer/sha256_digest.h"

namespace {

constexpr wchar_t kHashInitFailed[] = L"Windows could not initialize SHA-256 verification.";
constexpr wchar_t kCancelled[] = L"Download cancelled.";
constexpr wchar_t kInterrupted[] = L"The installer download was interrupted.";
constexpr wchar_t kTooMuchData[] = L"The server sent more data than the release metadata allows.";
constexpr wchar_t kSaveFailed[] = L"Could not securely save the downloaded installer.";
constexpr wchar_t kSizeMismatch[] = L"The downloaded installer size does not match the signed release metadata.";
constexpr wchar_t kFinishFailed[] = L"SHA-256 verification could not be completed.";
// A body whose digest differs, and a finished file that no longer holds what was downloaded.
constexpr wchar_t kDigestMismatchText[] = L"Security check failed: the installer SHA-256 does not match.";

// The body of a download: hash, stream block by block under both caps, then prove size and digest.
// While a read waits for the network the window keeps answering, and a cancel ends the wait at once.
Outcome ReceiveIntoFile(HttpsRequest& request, HANDLE file, const PackageEntry& package,
                        DownloadObserver* observer, const TransferCalls& calls) {
    Sha256 sha(calls);
    if (!sha.Start()) {
        return Outcome::Failure(kHashInitFailed);
    }

    // No deadline: a body may take as long as the link needs, and each wait for data ends at the
    // receive time-out.
    const RequestWait wait{nullptr, observer};
    std::uint64_t received = 0;
    for (;;) {
        if (observer != nullptr && !observer->ContinueDownload()) {
            return Outcome::Failure(kCancelled);
        }
        DWORD bytesRead = 0;
        if (!request.Read(kReadBlockSize, bytesRead, wait)) {
            return request.LastWait() == WaitEnd::Stopped ? Outcome::Failure(kCancelled)
                                                          : Outcome::Failure(kInterrupted, request.LastError());
        }
        if (bytesRead == 0) {
            break;
        }
        // Tested before the write, so the file never holds a byte beyond what the manifest allows.
        const std::uint64_t next = received + bytesRead;
        if (next > package.size || next > kMaxPackageSize) {
            return Outcome::Failure(kTooMuchData);
        }
        // The block is the request's own buffer, which stays put until the next read.
        BYTE* block = request.Data();
        DWORD bytesWritten = 0;
        if (!calls.writeFile(file, block, bytesRead, &bytesWritten, nullptr)) {
            return FailedCall(kSaveFailed);
        }
        if (bytesWritten != bytesRead || !sha.Add(block, bytesRead)) {
            return Outcome::Failure(kSaveFailed);
        }
        received = next;
        if (observer != nullptr) {
            observer->BlockReceived(received, package.size);
        }
    }

    if (received != package.size) {
        return Outcome::Failure(kSizeMismatch);
    }
    WideString digestText;
    if (!sha.Finish(digestText)) {
        return Outcome::Failure(kFinishFailed);
    }
    if (!DigestMatches(package.sha256, digestText)) {
        return Outcome::Failure(kDigestMismatchText);
    }
    return {};
}

}  // namespace

Outcome transfer_internal::DownloadPackageInto(const PackageEntry& package, HANDLE file,
                                              DownloadObserver* observer, const TransferCalls& calls) {
    HttpsRequest request;
    {
        // Until the response headers have come, the whole request ends at one deadline; the window
        // answers meanwhile and a cancel ends it at once.
        const TransferDeadline deadline(kRequestTimeLimitMs);
        if (Outcome opened =
                OpenHttpsGet(package.url, request, kReadBlockSize, RequestWait{&deadline, observer}, calls);
            !opened) {
            return request.LastWait() == WaitEnd::Stopped ? Outcome::Failure(kCancelled) : opened;
        }
    }
    return ReceiveIntoFile(request, file, package, observer, calls);
}

Outcome DownloadPackageInto(const PackageEntry& package, HANDLE file, DownloadObserver* observer) {
    return transfer_internal::DownloadPackageInto(package, file, observer, {});
}

Outcome FileMatchesPackage(HANDLE file, const PackageEntry& package) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return FailedCall(kDigestMismatchText);
    }
    WideString digestText;
    std::uint64_t size = 0;
    if (!HashOpenFile(file, package.size, digestText, size) || size != package.size ||
        !DigestMatches(package.sha256, digestText)) {
        return Outcome::Failure(kDigestMismatchText);
    }
    return {};
}
