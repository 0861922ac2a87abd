#pragma once
#include <windows.h>

#include "common/build_config.h"
#include "common/outcome.h"
#include "common/wide_string.h"

// Reads the release manifest at kManifestUrl into body, at most 65,536 bytes, within
// kManifestTimeLimitMs whatever the server does.
Outcome FetchReleaseManifest(Utf8String& body);

// The most a manifest is read in one call, from the server or (by the release tool) from a file.
inline constexpr DWORD kManifestBlockSize = 8192;

// The same fetch, block size, cap and texts for another https URL (the release tool's verify), within
// timeLimitMs. A failed WinHTTP call's error number comes with the failure; a status other than 200, a
// body too large or empty and the time limit have none.
Outcome FetchManifestAt(const WideString& url, Utf8String& body, DWORD timeLimitMs = kManifestTimeLimitMs);
