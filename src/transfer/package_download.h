#pragma once
#include <windows.h>

#include "common/wide_string.h"
#include "manifest/release_manifest.h"
#include "transfer/download_observer.h"
#include "transfer/transfer_calls.h"

// The download's verdict on a body whose digest differs, and the driver's on a file that changed after it.
inline constexpr wchar_t kDigestMismatchText[] = L"Security check failed: the installer SHA-256 does not match.";

// Streams the package into partialPath, enforcing its exact size and SHA-256. On false the partial
// file is already deleted and error holds the reason; with systemError, a failed system call also
// leaves its error number there. observer may be null.
bool DownloadPackage(const PackageEntry& package, const WideString& partialPath, DownloadObserver* observer,
                     ErrorText& error, DWORD* systemError = nullptr, const TransferCalls& calls = {});

// Reads an open file from its start and tells whether it holds exactly the package: its size and its
// SHA-256, compared as the download compares them. For a file already taken from the download, under
// a handle that keeps writers out.
bool FileMatchesPackage(HANDLE file, const PackageEntry& package);
