#pragma once
// Puts the rule a manifest broke into words. The verdict and the rule come from the installer's own
// validation; this only describes them, using the values the validation filled in before it stopped.
#include "common/wide_string.h"
#include "manifest/release_manifest.h"

// One sentence naming the key and what is wrong with its value, for a fault from ValidateReleaseManifest
// on manifest.
WideString ManifestFaultText(const ManifestFault& fault, const ReleaseManifest& manifest);
