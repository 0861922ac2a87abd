#include "transfer/package_download.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdint>
#include <vector>

#include "common/file_cleanup.h"
#include "common/win32_handles.h"
#include "transfer/https_request.h"
#include "transfer/transfer_faults.h"
#include "ui/progress.h"

namespace {

constexpr DWORD kBlockSize = 65536;
constexpr ULONG kSha256Bytes = 32;
constexpr DWORD kPartialFileFlags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN;
static_assert(kPartialFileFlags == 0x08000100);

constexpr wchar_t kCreateFailed[] = L"Could not create the temporary installer file.";
constexpr wchar_t kHashInitFailed[] = L"Windows could not initialize SHA-256 verification.";
constexpr wchar_t kCancelled[] = L"Download cancelled.";
constexpr wchar_t kInterrupted[] = L"The installer download was interrupted.";
constexpr wchar_t kTooMuchData[] = L"The server sent more data than the release metadata allows.";
constexpr wchar_t kSaveFailed[] = L"Could not securely save the downloaded installer.";
constexpr wchar_t kSizeMismatch[] = L"The downloaded installer size does not match the signed release metadata.";
constexpr wchar_t kFinishFailed[] = L"SHA-256 verification could not be completed.";
constexpr wchar_t kDigestMismatch[] = L"Security check failed: the installer SHA-256 does not match.";

struct AlgorithmHandleTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::BCryptCloseAlgorithmProvider(handle, 0); }
};
using UniqueAlgorithm = UniqueHandle<AlgorithmHandleTraits>;

struct HashHandleTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle handle) { ::BCryptDestroyHash(handle); }
};
using UniqueHash = UniqueHandle<HashHandleTraits>;

// Declared algorithm first, so that scope destroys the hash before it closes the algorithm.
struct Sha256 {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
};

bool StartSha256(Sha256& sha) {
    if (!BCRYPT_SUCCESS(
            transferCalls.bcryptOpenAlgorithmProvider(sha.algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    // No hash object of ours: the platform manages that memory.
    return BCRYPT_SUCCESS(transferCalls.bcryptCreateHash(sha.algorithm.Get(), sha.hash.Put(), nullptr, 0, nullptr, 0, 0));
}

bool AddToSha256(Sha256& sha, BYTE* data, DWORD size) {
    return BCRYPT_SUCCESS(transferCalls.bcryptHashData(sha.hash.Get(), data, size, 0));
}

// The digest as 64 upper-case hexadecimal digits, high nibble first.
bool FinishSha256(Sha256& sha, WideString& digestText) {
    BYTE digest[kSha256Bytes] = {};
    if (!BCRYPT_SUCCESS(transferCalls.bcryptFinishHash(sha.hash.Get(), digest, kSha256Bytes, 0))) {
        return false;
    }
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    digestText.clear();
    for (BYTE byte : digest) {
        digestText += kDigits[byte >> 4];
        digestText += kDigits[byte & 0x0F];
    }
    return true;
}

// Case does not matter in a hexadecimal digest; everything else does, length included.
bool DigestMatches(const WideString& expected, const WideString& actual) {
    return ToUpperCase(expected) == ToUpperCase(actual);
}

// The body of a download: hash, stream block by block under both caps, then prove size and digest.
bool ReceiveIntoFile(HINTERNET request, HANDLE file, std::vector<BYTE>& buffer, const PackageEntry& package,
                     ProgressWindow* progress, ErrorText& error) {
    Sha256 sha;
    if (!StartSha256(sha)) {
        error = kHashInitFailed;
        return false;
    }

    std::uint64_t received = 0;
    for (;;) {
        if (progress != nullptr) {
            PumpMessages(*progress);
            if (progress->cancelRequested) {
                error = kCancelled;
                return false;
            }
        }
        DWORD bytesRead = 0;
        if (!::WinHttpReadData(request, buffer.data(), kBlockSize, &bytesRead)) {
            error = kInterrupted;
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
        DWORD bytesWritten = 0;
        if (!transferCalls.writeFile(file, buffer.data(), bytesRead, &bytesWritten, nullptr) ||
            bytesWritten != bytesRead) {
            error = kSaveFailed;
            return false;
        }
        if (!AddToSha256(sha, buffer.data(), bytesRead)) {
            error = kSaveFailed;
            return false;
        }
        received = next;
        if (progress != nullptr) {
            UpdateProgress(*progress, received, package.size);
        }
    }

    if (received != package.size) {
        error = kSizeMismatch;
        return false;
    }
    WideString digestText;
    if (!FinishSha256(sha, digestText)) {
        error = kFinishFailed;
        return false;
    }
    if (!DigestMatches(package.sha256, digestText)) {
        error = kDigestMismatch;
        return false;
    }
    return true;
}

// The partial file is written through and closed before it is deleted, so the delete never meets
// our own open handle; a file that failed is never left behind.
void ClosePartialFile(UniqueFile& file, const WideString& partialPath, bool keep) {
    ::FlushFileBuffers(file.Get());
    file.Reset();
    if (!keep) {
        RemoveDownloadedFile(partialPath);
    }
}

}  // namespace

WideString ToUpperCase(WideString text) {
    for (WideChar& unit : text) {
        if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<WideChar>(unit - L'a' + L'A');
        }
    }
    return text;
}

bool DownloadPackage(const PackageEntry& package, const WideString& partialPath, ProgressWindow* progress,
                     ErrorText& error) {
    // Declared in this order so that scope releases request, connection, session, after the file.
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    if (!OpenHttpsGet(package.url, session, connection, request, error)) {
        return false;
    }

    // Only a file this call makes itself: whatever already stands at that path is not ours.
    UniqueFile file(::CreateFileW(partialPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, kPartialFileFlags,
                                  nullptr));
    if (!file) {
        // Leave it alone.
        error = kCreateFailed;
        return false;
    }

    // One buffer for every block: memory stays the same whatever the package size.
    std::vector<BYTE> buffer(kBlockSize);
    const bool complete = ReceiveIntoFile(request.Get(), file.Get(), buffer, package, progress, error);
    ClosePartialFile(file, partialPath, complete);
    return complete;
}

bool HashOpenFile(HANDLE file, std::uint64_t limit, WideString& digestText, std::uint64_t& size) {
    Sha256 sha;
    if (!StartSha256(sha)) {
        return false;
    }
    std::vector<BYTE> buffer(kBlockSize);
    std::uint64_t total = 0;
    for (;;) {
        DWORD bytesRead = 0;
        if (!::ReadFile(file, buffer.data(), kBlockSize, &bytesRead, nullptr)) {
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        total += bytesRead;
        if (total > limit || !AddToSha256(sha, buffer.data(), bytesRead)) {
            return false;
        }
    }
    if (!FinishSha256(sha, digestText)) {
        return false;
    }
    size = total;
    return true;
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
