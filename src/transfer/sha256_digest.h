#pragma once
// SHA-256 through the platform's CNG provider, and the comparison of digests as the manifest gives them.
#include <windows.h>
#include <bcrypt.h>

#include <cstdint>

#include "common/unique_handle.h"
#include "common/wide_string.h"
#include "transfer/transfer_calls.h"

// Files and downloads are read in blocks of this size; memory stays the same whatever their size.
inline constexpr DWORD kReadBlockSize = 65536;

inline void CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) { ::BCryptCloseAlgorithmProvider(algorithm, 0); }
using UniqueAlgorithm = UniqueHandle<NullHandleTraits<BCRYPT_ALG_HANDLE, CloseAlgorithm>>;
using UniqueHash = UniqueHandle<NullHandleTraits<BCRYPT_HASH_HANDLE, ::BCryptDestroyHash>>;

// One running SHA-256. Start it, add the data in order, finish it once.
class Sha256 {
public:
    explicit Sha256(const TransferCalls& calls) : calls_(calls) {}
    bool Start();
    bool Add(BYTE* data, DWORD size);
    // The digest as 64 lower-case hexadecimal digits, high nibble first, as manifests are usually written.
    bool Finish(WideString& digestText);

private:
    const TransferCalls& calls_;
    // Declared algorithm first, so that scope destroys the hash before it closes the algorithm.
    UniqueAlgorithm algorithm_;
    UniqueHash hash_;
};

// Case does not matter in a hexadecimal digest; everything else does, length included.
bool DigestMatches(const WideString& expected, const WideString& actual);

namespace transfer_internal {
// Upper-cases the letters a to z and nothing else, whatever the user's locale.
WideString ToUpperCase(WideString text);
}  // namespace transfer_internal

// SHA-256 of an open file from its current position to its end, as 64 lower-case hexadecimal digits,
// and the number of bytes it covered. Stops with false as soon as more than limit bytes were read.
bool HashOpenFile(HANDLE file, std::uint64_t limit, WideString& digestText, std::uint64_t& size,
                  const TransferCalls& calls = {});
