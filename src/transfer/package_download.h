#pragma once
#include <windows.h>

#include "common/outcome.h"
#include "common/wide_string.h"
#include "manifest/release_manifest.h"

class DownloadObserver;
struct TransferCalls;

// The installer's download: streams the package into file, a new file opened for writing that the
// caller owns, enforcing the exact size and SHA-256. (A name of its own: a path given as a bare pointer
// would otherwise be taken for the handle.) On failure the caller removes the file; a failed system
// call's error number comes with the text. observer may be null.
Outcome DownloadPackageInto(const PackageEntry& package, HANDLE file, DownloadObserver* observer);

// Reads an open file from its start and tells whether it holds exactly the package: its size and its
// SHA-256, compared as the download compares them. For a file already taken from the download, under
// a handle that keeps writers out. A failure says the digest does not match.
Outcome FileMatchesPackage(HANDLE file, const PackageEntry& package);

namespace transfer_internal {
// The download with the platform calls tests replace.
Outcome DownloadPackageInto(const PackageEntry& package, HANDLE file, DownloadObserver* observer,
                            const TransferCalls& calls);
}  // namespace transfer_internal
