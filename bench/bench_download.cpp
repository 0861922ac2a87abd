// Downloads one package and prints the milliseconds it took, for the benchmark command.
//   bench_download.exe stage URL SIZE SHA256 OUTPUT   the installer's own download stage
//   bench_download.exe bare URL OUTPUT                a bare WinHTTP + CNG SHA-256 + WriteFile loop, the
//                                                     platform's own ceiling
#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/win32_handles.h"
#include "transfer/https_request.h"
#include "transfer/package_download.h"
#include "transfer/sha256_digest.h"

namespace {

int Stage(wchar_t** argv) {
    PackageEntry package{argv[2], argv[4], std::wcstoull(argv[3], nullptr, 10)};
    // The installer's own stage: a new file, written through one handle.
    const ULONGLONG start = GetTickCount64();
    Outcome downloaded = Outcome::Failure(L"the output file could not be created");
    {
        const UniqueFile file(CreateFileW(argv[5], GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (file) downloaded = DownloadPackageInto(package, file.Get(), nullptr);
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    DeleteFileW(argv[5]);
    if (!downloaded) {
        std::fwprintf(stderr, L"download failed: %ls\n", downloaded.Text());
        return 1;
    }
    std::printf("%llu\n", elapsed);
    return 0;
}

int Bare(wchar_t** argv) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(argv[2], 0, 0, &parts)) return 1;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    const ULONGLONG start = GetTickCount64();
    const InternetHandle session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, nullptr, nullptr, 0));
    const InternetHandle connection(WinHttpConnect(session.Get(), host.c_str(), parts.nPort, 0));
    const InternetHandle request(WinHttpOpenRequest(connection.Get(), L"GET", path.c_str(), nullptr, nullptr, nullptr,
                                                    WINHTTP_FLAG_SECURE));
    if (!WinHttpSendRequest(request.Get(), nullptr, 0, nullptr, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.Get(), nullptr)) {
        return 1;
    }
    UniqueAlgorithm algorithm;
    UniqueHash hash;
    BCryptOpenAlgorithmProvider(algorithm.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(algorithm.Get(), hash.Put(), nullptr, 0, nullptr, 0, 0);
    UniqueFile file(CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
    std::vector<unsigned char> buffer(kReadBlockSize);
    DWORD read = 0;
    while (WinHttpReadData(request.Get(), buffer.data(), kReadBlockSize, &read) && read > 0) {
        DWORD written = 0;
        WriteFile(file.Get(), buffer.data(), read, &written, nullptr);
        BCryptHashData(hash.Get(), buffer.data(), read, 0);
    }
    unsigned char digest[32];
    BCryptFinishHash(hash.Get(), digest, sizeof digest, 0);
    file.Reset();
    const ULONGLONG elapsed = GetTickCount64() - start;
    DeleteFileW(argv[3]);
    std::printf("%llu\n", elapsed);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 6 && wcscmp(argv[1], L"stage") == 0) return Stage(argv);
    if (argc == 4 && wcscmp(argv[1], L"bare") == 0) return Bare(argv);
    std::fputs("usage: bench_download stage URL SIZE SHA256 OUTPUT | bare URL OUTPUT\n", stderr);
    return 2;
}
