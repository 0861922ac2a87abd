#include "transfer/package_download.h"

#include <windows.h>
#include <bcrypt.h>

#include <atomic>
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

// How often at most the worker wakes the waiting thread to show how far the body has come.
constexpr ULONGLONG kProgressIntervalMs = 100;

// One download's body, shared by the thread that asked for it and a worker thread of its own. The worker
// runs the loop that the platform runs fastest: a read of a whole block, which may wait for the network
// on its own thread, then write, hash, count. The asking thread meanwhile keeps its window answering,
// shows the count, and can give up at any moment without waiting for a read: it only has to take the
// lock, which the worker holds no longer than one write and one hash. A worker given up on touches
// neither the file nor the caller again; it closes its request and ends when its read returns.
class BodyTransfer {
public:
    BodyTransfer(HANDLE file, std::uint64_t size, const TransferCalls& calls)
        : file_(file), size_(size), calls_(calls), sha_(calls_) {
        ::InitializeSRWLock(&lock_);
    }
    BodyTransfer(const BodyTransfer&) = delete;
    BodyTransfer& operator=(const BodyTransfer&) = delete;

    bool IsReady() const { return done_ && progress_; }
    HttpsRequest& Request() { return request_; }
    bool StartHash() { return sha_.Start(); }

    // Runs the body to its end on a thread of its own, or on this one where no thread can be made.
    // After that, only the caller's thread touches this object, until it lets go.
    void Start() {
        AddReference();
        worker_.Reset(::CreateThread(nullptr, 0, RunWorker, this, 0, nullptr));
        if (!worker_) {
            RunWorker(this);
        }
    }
    HANDLE Done() const { return done_.Get(); }
    HANDLE Progress() const { return progress_.Get(); }
    std::uint64_t Received() const { return received_.load(std::memory_order_acquire); }
    // Once Done is signalled: how the worker's loop ended. Success means the body has ended.
    Outcome Result() const { return result_; }
    // Finishes the digest and compares it; only after a successful Result.
    Outcome Check(const WideString& expectedSha256) {
        if (Received() != size_) {
            return Outcome::Failure(kSizeMismatch);
        }
        WideString digestText;
        if (!sha_.Finish(digestText)) {
            return Outcome::Failure(kFinishFailed);
        }
        if (!DigestMatches(expectedSha256, digestText)) {
            return Outcome::Failure(kDigestMismatchText);
        }
        return {};
    }

    // The caller gives up: once this returns, the worker writes nothing more.
    void Stop() {
        ::AcquireSRWLockExclusive(&lock_);
        stopped_ = true;
        ::ReleaseSRWLockExclusive(&lock_);
    }

    void AddReference() { ::InterlockedIncrement(&references_); }
    void Release() {
        if (::InterlockedDecrement(&references_) == 0) {
            delete this;
        }
    }

private:
    ~BodyTransfer() = default;

    static DWORD WINAPI RunWorker(void* self) {
        auto* transfer = static_cast<BodyTransfer*>(self);
        transfer->Receive();
        transfer->Release();
        return 0;
    }

    void Receive() {
        ULONGLONG lastShown = 0;
        for (;;) {
            DWORD bytesRead = 0;
            // No deadline: a body may take as long as the link needs; each wait for its data ends at
            // the receive time-out.
            const bool read = request_.Read(kReadBlockSize, bytesRead, RequestWait{});
            ::AcquireSRWLockExclusive(&lock_);
            if (stopped_) {
                ::ReleaseSRWLockExclusive(&lock_);
                break;
            }
            const Outcome block = read ? Store(bytesRead) : Outcome::Failure(kInterrupted, request_.LastError());
            const bool finished = !block || bytesRead == 0;
            ::ReleaseSRWLockExclusive(&lock_);
            if (finished) {
                result_ = block;
                // Closed before the caller hears of the end, so that a finished download holds nothing.
                request_.Close();
                ::SetEvent(done_.Get());
                return;
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now - lastShown >= kProgressIntervalMs) {
                lastShown = now;
                ::SetEvent(progress_.Get());
            }
        }
        request_.Close();
    }

    // One block read into the request's buffer, under the lock: written, hashed, counted.
    Outcome Store(DWORD bytesRead) {
        if (bytesRead == 0) {
            return {};
        }
        // Tested before the write, so the file never holds a byte beyond what the manifest allows.
        const std::uint64_t next = Received() + bytesRead;
        if (next > size_ || next > kMaxPackageSize) {
            return Outcome::Failure(kTooMuchData);
        }
        BYTE* block = request_.Data();
        DWORD bytesWritten = 0;
        if (!calls_.writeFile(file_, block, bytesRead, &bytesWritten, nullptr)) {
            return FailedCall(kSaveFailed);
        }
        if (bytesWritten != bytesRead || !sha_.Add(block, bytesRead)) {
            return Outcome::Failure(kSaveFailed);
        }
        received_.store(next, std::memory_order_release);
        return {};
    }

    const HANDLE file_;
    const std::uint64_t size_;
    // A copy: a worker given up on may outlive the caller's.
    const TransferCalls calls_;
    Sha256 sha_;
    HttpsRequest request_;
    SRWLOCK lock_;
    bool stopped_ = false;
    std::atomic<std::uint64_t> received_{0};
    Outcome result_;
    UniqueEvent done_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueEvent progress_{::CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueThread worker_;
    LONG references_ = 1;
};

// Holds the caller's reference to a transfer for the length of one download.
class TransferReference {
public:
    explicit TransferReference(BodyTransfer* transfer) : transfer_(transfer) {}
    ~TransferReference() { transfer_->Release(); }
    TransferReference(const TransferReference&) = delete;
    TransferReference& operator=(const TransferReference&) = delete;
    BodyTransfer* operator->() const { return transfer_; }
    BodyTransfer& operator*() const { return *transfer_; }

private:
    BodyTransfer* transfer_;
};

// Waits for the worker on the window's thread: every message is handled as it comes, progress is
// shown at most ten times a second, and a cancel ends the wait at once. The observer is only ever
// called on this thread.
Outcome AwaitBody(BodyTransfer& transfer, std::uint64_t size, DownloadObserver* observer) {
    if (observer == nullptr) {
        ::WaitForSingleObject(transfer.Done(), INFINITE);
        return transfer.Result();
    }
    const HANDLE events[] = {transfer.Done(), transfer.Progress()};
    for (;;) {
        const DWORD woke = ::MsgWaitForMultipleObjectsEx(2, events, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_OBJECT_0) {
            break;
        }
        if (woke == WAIT_OBJECT_0 + 1) {
            observer->BlockReceived(transfer.Received(), size);
        } else if (woke != WAIT_OBJECT_0 + 2) {
            // The wait itself failed: the worker can no longer be heard.
            transfer.Stop();
            return Outcome::Failure(kInterrupted);
        }
        if (!observer->ContinueDownload()) {
            transfer.Stop();
            return Outcome::Failure(kCancelled);
        }
    }
    if (const Outcome result = transfer.Result(); !result) {
        return result;
    }
    // The last block always shows, and a cancel made while it does still counts.
    observer->BlockReceived(transfer.Received(), size);
    if (!observer->ContinueDownload()) {
        return Outcome::Failure(kCancelled);
    }
    return {};
}

}  // namespace

Outcome transfer_internal::DownloadPackageInto(const PackageEntry& package, HANDLE file,
                                              DownloadObserver* observer, const TransferCalls& calls) {
    TransferReference transfer(new BodyTransfer(file, package.size, calls));
    HttpsRequest& request = transfer->Request();
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
    // Without its two events the body could not be waited for; like a hash that cannot start, nothing
    // can be proved.
    if (!transfer->IsReady() || !transfer->StartHash()) {
        return Outcome::Failure(kHashInitFailed);
    }
    // A cancel made before the body begins reads nothing of it.
    if (observer != nullptr && !observer->ContinueDownload()) {
        return Outcome::Failure(kCancelled);
    }
    transfer->Start();
    if (Outcome received = AwaitBody(*transfer, package.size, observer); !received) {
        return received;
    }
    return transfer->Check(package.sha256);
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
