#include "manifest/release_manifest.h"

#include <string_view>

#include "common/build_config.h"
#include "manifest/manifest_scanner.h"

namespace {

constexpr std::size_t kDigestLength = 64;  // SHA-256 in hexadecimal

// A fixed check rather than iswxdigit: the locale's classification may admit other digits (fullwidth
// ones, say), and a digest that holds one can never match the computed digest. Better to refuse it
// here, at validation, than after a 600 MiB download.
bool IsHexDigit(WideChar unit) {
    return (unit >= WIDE('0') && unit <= WIDE('9')) || (unit >= WIDE('A') && unit <= WIDE('F')) ||
           (unit >= WIDE('a') && unit <= WIDE('f'));
}

bool StartsWith(const WideString& text, std::basic_string_view<WideChar> prefix) {
    return text.size() >= prefix.size() && std::basic_string_view<WideChar>(text).substr(0, prefix.size()) == prefix;
}

}  // namespace

bool ValidatePackageEntry(const Utf8String& objectText, PackageEntry& entry) {
    if (!ReadStringValue(objectText, "url", entry.url)) {
        return false;
    }
    if (!ReadStringValue(objectText, "sha256", entry.sha256)) {
        return false;
    }
    if (!ReadUnsignedValue(objectText, "size", entry.size)) {
        return false;
    }
    // Case-sensitive on purpose: the package must come from exactly the release folder.
    if (!StartsWith(entry.url, kReleaseBaseUrl)) {
        return false;
    }
    if (entry.sha256.size() != kDigestLength) {
        return false;
    }
    for (const WideChar unit : entry.sha256) {
        if (!IsHexDigit(unit)) {
            return false;
        }
    }
    return entry.size != 0 && entry.size <= kMaxPackageSize;
}

bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest) {
    if (text.size() > kMaxManifestBytes) {
        return false;
    }
    std::uint64_t schemaVersion = 0;
    if (!ReadUnsignedValue(text, "schemaVersion", schemaVersion) || schemaVersion != 1) {
        return false;
    }
    std::size_t publishedAt = 0;
    if (!FindValueStart(text, "published", publishedAt)) {
        return false;
    }
    if (MatchLiteralAt(text, publishedAt, "true")) {
        manifest.published = true;
    } else if (MatchLiteralAt(text, publishedAt, "false")) {
        manifest.published = false;
    } else {
        return false;
    }
    if (!ReadStringValue(text, "version", manifest.version) || manifest.version.size() > kMaxVersionLength) {
        return false;
    }
    if (!ReadStringValue(text, "publisher", manifest.publisher) ||
        manifest.publisher != std::basic_string_view<WideChar>(kExpectedPublisher)) {
        return false;
    }
    // Both packages are cut out and checked whatever this machine's architecture, so a broken entry
    // never hides behind the one that happens to be used.
    Utf8String x64Text;
    if (!ExtractObjectText(text, "x64", x64Text)) {
        return false;
    }
    Utf8String x86Text;
    if (!ExtractObjectText(text, "x86", x86Text)) {
        return false;
    }
    return ValidatePackageEntry(x64Text, manifest.x64) && ValidatePackageEntry(x86Text, manifest.x86);
}
