#pragma once
// The release manifest format and the records that hold a validated manifest.
#include <cstdint>
#include <string_view>

#include "common/wide_string.h"
#include "manifest/manifest_scanner.h"

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

// True when every character of the UTF-16 text is one the installer may show in its prompt and
// progress window. Not showable: a lone surrogate, the controls (C0, DEL, C1), the format characters
// (category Cf: bidirectional embeddings, overrides, isolates and marks, zero-width characters, the
// byte-order mark, tags and the like) and the separators other than the ordinary blank U+0020 (the
// other space separators, the line and paragraph separators). They could make the shown version read
// as something else. A fixed table of Unicode 15, locale-free.
bool IsShowableVersion(std::basic_string_view<WideChar> version);

// True when accept holds for every "/"-separated segment of path, in order, empty ones included. The
// one walk over a path's names: the validation's containment rule and the release tool's naming rule
// both go through it.
bool EveryPathSegment(std::basic_string_view<WideChar> path, bool (*accept)(std::basic_string_view<WideChar>));

// The part of a package url after the release base URL. False when its path (up to the first "?" or
// "#") has a segment made only of dots (".", "..", "..."), each dot written literally or as %2e / %2E,
// or when any of it, query and fragment included, holds %2f, %2F, %5c or %5C: a server or proxy that
// resolves such a path could serve a file from outside the release folder. A segment that merely
// holds dots ("a..b", ".hidden") is an ordinary name.
bool IsContainedPackagePath(std::basic_string_view<WideChar> pathAfterBase);

// The rule a manifest breaks, as the validation met it. The installer only needs the verdict; the
// release tool puts the rule into words, so that what it says can never disagree with the installer.
enum class ManifestRule {
    None,
    TooLarge,             // more than kMaxManifestBytes
    Unreadable,           // the key's value could not be read; scan says why
    SchemaVersionNotOne,  // found holds the number read
    PublishedNotLiteral,  // neither true nor false at the value position
    VersionTooLong,       // more than kMaxVersionLength code units
    VersionUnshowable,    // found holds the first character the installer will not show
    PublisherDiffers,     // not exactly kExpectedPublisher
    UrlOutsideBase,       // does not start with kReleaseBaseUrl
    UrlLeavesFolder,      // the part after the base fails IsContainedPackagePath
    DigestLength,         // not 64 code units
    DigestNotHex,         // found holds the zero-based position of the first character that is not one
    SizeOutOfRange,       // 0, or more than kMaxPackageSize
};

struct ManifestFault {
    ManifestRule rule = ManifestRule::None;
    ScanFault scan = ScanFault::None;
    std::string_view object;  // "x64" or "x86" for a key of a package object, empty otherwise
    std::string_view key;     // empty for TooLarge
    std::uint64_t found = 0;
};

// True when every check passed; fields are filled as far as the checks got. On false, fault (in the
// second form) names the first rule that failed.
bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest);
bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest, ManifestFault& fault);
