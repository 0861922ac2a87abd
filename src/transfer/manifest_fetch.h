#pragma once
#include "common/wide_string.h"

// Reads the release manifest at kManifestUrl into body, at most 65,536 bytes.
bool FetchReleaseManifest(Utf8String& body, ErrorText& error);
