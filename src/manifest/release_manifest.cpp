#include "manifest/release_manifest.h"

// Placeholder until validation lands.
bool ValidateReleaseManifest(const Utf8String&, ReleaseManifest&) { return false; }
bool ValidatePackageEntry(const Utf8String&, PackageEntry&) { return false; }
