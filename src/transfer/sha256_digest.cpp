#include "transfer/sha256_digest.h"

#include <vector>

namespace {

constexpr ULONG kSha256Bytes = 32;

}  // namespace

bool Sha256::Start() {
    if (!BCRYPT_SUCCESS(calls_.bcryptOpenAlgorithmProvider(algorithm_.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    // No hash object of ours: the platform manages that memory.
    return BCRYPT_SUCCESS(calls_.bcryptCreateHash(algorithm_.Get(), hash_.Put(), nullptr, 0, nullptr, 0, 0));
}

bool Sha256::Add(BYTE* data, DWORD size) {
    return BCRYPT_SUCCESS(calls_.bcryptHashData(hash_.Get(), data, size, 0));
}

bool Sha256::Finish(WideString& digestText) {
    BYTE digest[kSha256Bytes] = {};
    if (!BCRYPT_SUCCESS(calls_.bcryptFinishHash(hash_.Get(), digest, kSha256Bytes, 0))) {
        return false;
    }
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    digestText.clear();
    for (BYTE byte : digest) {
        digestText += kDigits[byte >> 4];
        digestText += kDigits[byte & 0x0F];
    }
    return true;
}

WideString transfer_internal::ToUpperCase(WideString text) {
    for (WideChar& unit : text) {
        if (unit >= L'a' && unit <= L'z') {
            unit = static_cast<WideChar>(unit - L'a' + L'A');
        }
    }
    return text;
}

bool DigestMatches(const WideString& expected, const WideString& actual) {
    return transfer_internal::ToUpperCase(expected) == transfer_internal::ToUpperCase(actual);
}

bool HashOpenFile(HANDLE file, std::uint64_t limit, WideString& digestText, std::uint64_t& size,
                  const TransferCalls& calls) {
    Sha256 sha(calls);
    if (!sha.Start()) {
        return false;
    }
    std::vector<BYTE> buffer(kReadBlockSize);
    std::uint64_t total = 0;
    for (;;) {
        DWORD bytesRead = 0;
        if (!::ReadFile(file, buffer.data(), kReadBlockSize, &bytesRead, nullptr)) {
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        total += bytesRead;
        if (total > limit || !sha.Add(buffer.data(), bytesRead)) {
            return false;
        }
    }
    if (!sha.Finish(digestText)) {
        return false;
    }
    size = total;
    return true;
}
