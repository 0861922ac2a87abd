#pragma once
// A manifest as the tool reads it from a file and describes it in its reports.
#include <windows.h>

#include "common/wide_string.h"
#include "manifest/release_manifest.h"

// The file's first kMaxManifestBytes + 1 bytes: one byte past the cap is enough for the validation to
// see that the size rule fails. On false, systemError holds the failed call's number.
bool ReadManifestFile(const WideString& path, Utf8String& text, DWORD& systemError);

// "Version V, published; publisher P."
WideString Summary(const ReleaseManifest& manifest);

// One package of a manifest, as make and check report it.
WideString PackageLine(const wchar_t* arch, const PackageEntry& entry);
