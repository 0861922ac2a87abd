#include "transfer/package_download.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "common/build_config.h"
#include "common/file_cleanup.h"
#include "common/partial_file.h"
#include "common/win32_handles.h"
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

// The body of a download: hash, stream block by block under both caps, then prove size and digest.
// While a read waits for the network the window keeps answering, and a cancel ends the wait at once.
bool ReceiveIntoFile(HttpsRequest& request, HANDLE file, const PackageEntry& package, DownloadObserver* observer,
                     ErrorText& error, DWORD* systemError, const TransferCalls& calls) {
    Sha256 sha(calls);
    if (!sha.Start()) {
        error = kHashInitFailed;
        return false;
    }

    // No deadline: a body may take as long as the link needs, and each wait for data ends at the
    // receive time-out.
    const RequestWait wait{nullptr, observer};
    std::uint64_t received = 0;
    for (;;) {
        if (observer != nullptr && !observer->ContinueDownload()) {
            error = kCancelled;
            return false;
        }
        DWORD bytesRead = 0;
        if (!request.Read(kReadBlockSize, bytesRead, wait, systemError)) {
            error = request.LastWait() == WaitEnd::Stopped ? kCancelled : kInterrupted;
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        // Tested before the write, so the file never holds a byte beyond what the manifest allows.
        const std::uint64_t next = received + bytesRead;
        if (next > package.size || next > kMaxPackageSize) {
            error = kTooMuchData;
            return false;
        }
        // The block is the request's own buffer, which stays put until the next read.
        BYTE* block = request.Data();
        DWORD bytesWritten = 0;
        if (!calls.writeFile(file, block, bytesRead, &bytesWritten, nullptr)) {
            return FailWithLastError(error, kSaveFailed, systemError);
        }
        if (bytesWritten != bytesRead) {
            error = kSaveFailed;
            return false;
        }
        if (!sha.Add(block, bytesRead)) {
            error = kSaveFailed;
            return false;
        }
        received = next;
        if (observer != nullptr) {
            observer->BlockReceived(received, package.size);
        }
    }

    if (received != package.size) {
        error = kSizeMismatch;
        return false;
    }
    WideString digestText;
    if (!sha.Finish(digestText)) {
        error = kFinishFailed;
        return false;
    }
    if (!DigestMatches(package.sha256, digestText)) {
        error = kDigestMismatchText;
        return false;
    }
    return true;
}

// The partial file is written through and closed; one that failed goes through the same handle, so
// nothing else can stand under its name by then, and is never left behind.
void ClosePartialFile(UniqueFile& file, const WideString& partialPath, bool keep) {
    ::FlushFileBuffers(file.Get());
    const bool disposed = !keep && DeleteThroughHandle(file.Get());
    file.Reset();
    if (!keep && !disposed) {
        RemoveDownloadedFile(partialPath);
    }
}

}  // namespace

bool DownloadPackageInto(const PackageEntry& package, HANDLE file, DownloadObserver* observer, ErrorText& error,
                         DWORD* systemError, const TransferCalls& calls) {
    HttpsRequest request;
    {
        // Until the response headers have come, the whole request ends at one deadline; the window
        // answers meanwhile and a cancel ends it at once.
        const TransferDeadline deadline(kRequestTimeLimitMs);
        if (!OpenHttpsGet(package.url, request, kReadBlockSize, error, RequestWait{&deadline, observer}, systemError,
                          calls)) {
            if (request.LastWait() == WaitEnd::Stopped) {
                error = kCancelled;
            }
            return false;
        }
    }
    return ReceiveIntoFile(request, file, package, observer, error, systemError, calls);
}

bool DownloadPackage(const PackageEntry& package, const WideString& partialPath, DownloadObserver* observer,
                     ErrorText& error, DWORD* systemError, const TransferCalls& calls) {
    // Only a file this call makes itself: whatever already stands at that path is not ours.
    UniqueFile file = CreatePartialFile(partialPath);
    if (!file) {
        // Leave it alone.
        return FailWithLastError(error, kCreateFailedText, systemError);
    }
    const bool complete = DownloadPackageInto(package, file.Get(), observer, error, systemError, calls);
    ClosePartialFile(file, partialPath, complete);
    return complete;
}

bool FileMatchesPackage(HANDLE file, const PackageEntry& package) {
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    WideString digestText;
    std::uint64_t size = 0;
    return HashOpenFile(file, package.size, digestText, size) && size == package.size &&
           DigestMatches(package.sha256, digestText);
}
