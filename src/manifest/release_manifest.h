#pragma once
// The release manifest format and the records that hold a validated manifest.
#include <cstdint>

#include "common/wide_string.h"

inline constexpr std::size_t kMaxManifestBytes = 65536;
inline constexpr std::uint64_t kMaxPackageSize = 629145600;  // 600 MiB
inline constexpr std::size_t kMaxVersionLength = 32;         // UTF-16 code units

struct PackageEntry {
    WideString url;
    WideString sha256;
    std::uint64_t size = 0;
};

struct ReleaseManifest {
    bool published = false;
    WideString version;
    WideString publisher;
    PackageEntry x64;
    PackageEntry x86;
};

// True when every check passed; fields are filled as far as the checks got.
bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest);
bool ValidatePackageEntry(const Utf8String& objectText, PackageEntry& entry);
