#pragma once
#include "common/wide_string.h"
#include "manifest/release_manifest.h"
#include "ui/progress_window.h"

// Streams the package into partialPath, enforcing its exact size and SHA-256. On false the partial
// file is already deleted and error holds the reason. progress may be null.
bool DownloadPackage(const PackageEntry& package, const WideString& partialPath, ProgressWindow* progress,
                     ErrorText& error);

WideString ToUpperCase(WideString text);

// Reads an open file from its start and tells whether it holds exactly the package: its size and its
// SHA-256, compared as the download compares them. For a file already taken from the download, under
// a handle that keeps writers out.
bool FileMatchesPackage(HANDLE file, const PackageEntry& package);

// SHA-256 of an open file from its current position to its end, as 64 upper-case hexadecimal digits,
// and the number of bytes it covered. Stops with false as soon as more than limit bytes were read.
bool HashOpenFile(HANDLE file, std::uint64_t limit, WideString& digestText, std::uint64_t& size);
