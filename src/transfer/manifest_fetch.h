#pragma once
#include "common/wide_string.h"

// Reads the release manifest at kManifestUrl into body, at most 65,536 bytes.
bool FetchReleaseManifest(Utf8String& body, ErrorText& error);

// The same fetch, block size, cap and texts for another https URL (the release tool's verify).
bool FetchManifestAt(const WideString& url, Utf8String& body, ErrorText& error);
