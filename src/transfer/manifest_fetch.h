#pragma once
#include <windows.h>

#include "common/build_config.h"
#include "common/wide_string.h"

// Reads the release manifest at kManifestUrl into body, at most 65,536 bytes, within
// kManifestTimeLimitMs whatever the server does.
bool FetchReleaseManifest(Utf8String& body, ErrorText& error);

// The most a manifest is read in one call, from the server or (by the release tool) from a file.
inline constexpr DWORD kManifestBlockSize = 8192;

// The same fetch, block size, cap and texts for another https URL (the release tool's verify), within
// timeLimitMs. With systemError, a failed WinHTTP call also leaves its error number there; it stays as
// it was when the failure has none (a status other than 200, a body too large or empty, the time limit).
bool FetchManifestAt(const WideString& url, Utf8String& body, ErrorText& error,
                     DWORD timeLimitMs = kManifestTimeLimitMs, DWORD* systemError = nullptr);
