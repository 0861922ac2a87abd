#pragma once
// Says why a manifest fails validation. It repeats the validation's own scanner calls, in the same
// order, so it passes exactly when ValidateReleaseManifest passes; only the wording is its own.
#include "common/wide_string.h"
#include "manifest/release_manifest.h"

// On false, finding holds one line naming the first rule that failed: the key and what is wrong.
bool DiagnoseManifest(const Utf8String& text, ReleaseManifest& manifest, WideString& finding);

// 1234567 as "1,234,567".
WideString GroupedNumber(std::uint64_t value);
