#include "transfer/transfer_test_util.h"

#include <bcrypt.h>

#include <cstdlib>
#include <stdexcept>

#include "harness/test_support.h"
#include "staging/partial_file.h"
#include "transfer/package_download.h"
#include "transfer/transfer_calls.h"

namespace transfer_test {

Outcome DownloadPackage(const PackageEntry& package, const std::wstring& partial, DownloadObserver* observer,
                        const TransferCalls& calls) {
    // As a staged run does it: a new file, written through one handle, deleted through it on failure.
    const UniqueFile file = CreatePartialFile(partial);
    if (!file) {
        return Outcome::Failure(kCreateFailedText, GetLastError());
    }
    Outcome downloaded = transfer_internal::DownloadPackageInto(package, file.Get(), observer, calls);
    if (!downloaded) {
        DeleteThroughHandle(file.Get());
    }
    return downloaded;
}

bool DownloadWithCalls(const PackageEntry& package, const std::wstring& partial, DownloadObserver* observer,
                       const TransferCalls& calls, std::wstring& error) {
    const Outcome downloaded = DownloadPackage(package, partial, observer, calls);
    error = downloaded.Text();
    return static_cast<bool>(downloaded);
}

std::string Generated(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + 3) % 251);
    }
    return bytes;
}

std::string Sha256Hex(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) < 0 ||
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                       static_cast<ULONG>(bytes.size()), 0) < 0 ||
        BCryptFinishHash(hash, digest, sizeof digest, 0) < 0) {
        throw std::runtime_error("SHA-256 unavailable in the test");
    }
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

std::wstring LocalUrl(unsigned port, const std::string& path) {
    return L"https://localhost:" + std::to_wstring(port) + Widen(path);
}

std::wstring LocalUrl(const std::string& path) { return LocalUrl(test_support::TestPort(), path); }

unsigned EnvPort(const char* name) {
    const char* value = std::getenv(name);
    if (!value) throw std::runtime_error(std::string(name) + " is not set: run the tests through ctest");
    return static_cast<unsigned>(std::strtoul(value, nullptr, 10));
}

std::string RequestLog() { return test_support::ReadWholeFile(test_support::HarnessPath("server/requests.log")); }

void RemoveRoutes(const std::string& table) {
    DeleteFileW(test_support::HarnessPath("server/routes/" + table + ".json").c_str());
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 128 ? static_cast<char>(c) : '?';
    return narrow;
}

}  // namespace transfer_test
