#pragma once
#include <windows.h>

#include "common/wide_string.h"
#include "manifest/release_manifest.h"
#include "transfer/download_observer.h"
#include "transfer/transfer_calls.h"

// The download's verdict on a body whose digest differs, and the driver's on a file that changed after it.
inline constexpr wchar_t kDigestMismatchText[] = L"Security check failed: the installer SHA-256 does not match.";

// The download's verdict when its file cannot be made; the driver gives it when the run cannot make one.
inline constexpr wchar_t kCreateFailedText[] = L"Could not create the temporary installer file.";

// The installer's download: streams the package into file, a new file opened for writing that the
// caller owns, enforcing the exact size and SHA-256. (A name of its own: a path given as a bare pointer
// would otherwise be taken for the handle.) On false error holds the reason, and the caller removes
// the file; with systemError, a failed system call also leaves its error number there. observer may
// be null.
bool DownloadPackageInto(const PackageEntry& package, HANDLE file, DownloadObserver* observer, ErrorText& error,
                         DWORD* systemError = nullptr, const TransferCalls& calls = {});

// The same into a file of its own that it creates at partialPath (never an existing one); on false
// that file is already deleted.
bool DownloadPackage(const PackageEntry& package, const WideString& partialPath, DownloadObserver* observer,
                     ErrorText& error, DWORD* systemError = nullptr, const TransferCalls& calls = {});

// Reads an open file from its start and tells whether it holds exactly the package: its size and its
// SHA-256, compared as the download compares them. For a file already taken from the download, under
// a handle that keeps writers out.
bool FileMatchesPackage(HANDLE file, const PackageEntry& package);
