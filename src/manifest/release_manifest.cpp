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

struct CodePointRange {
    char32_t first;
    char32_t last;
};

// Every code point of Unicode 15 in the categories Cc, Cf, Zl, Zp and Zs, except U+0020, in ascending
// order. A fixed table, not iswprint or the like: the verdict must not depend on the platform's locale
// or Unicode version, and the native build has no Win32 to ask.
constexpr CodePointRange kUnshowable[] = {
    {0x0000, 0x001F},    // C0 controls
    {0x007F, 0x009F},    // DEL and the C1 controls
    {0x00A0, 0x00A0},    // no-break space
    {0x00AD, 0x00AD},    // soft hyphen
    {0x0600, 0x0605},    // Arabic number signs
    {0x061C, 0x061C},    // Arabic letter mark
    {0x06DD, 0x06DD},    // Arabic end of ayah
    {0x070F, 0x070F},    // Syriac abbreviation mark
    {0x0890, 0x0891},    // Arabic pound and piastre marks above
    {0x08E2, 0x08E2},    // Arabic disputed end of ayah
    {0x1680, 0x1680},    // Ogham space mark
    {0x180E, 0x180E},    // Mongolian vowel separator
    {0x2000, 0x200F},    // en quad to hair space, zero-width space, joiners, left-to-right and right-to-left marks
    {0x2028, 0x202F},    // line and paragraph separators, bidirectional embeddings and overrides, narrow no-break space
    {0x205F, 0x206F},    // medium mathematical space, word joiner, invisible operators, isolates, deprecated
                         // format controls (and the one unassigned point U+2065 among them)
    {0x3000, 0x3000},    // ideographic space
    {0xFEFF, 0xFEFF},    // byte-order mark, zero-width no-break space
    {0xFFF9, 0xFFFB},    // interlinear annotation controls
    {0x110BD, 0x110BD},  // Kaithi number sign
    {0x110CD, 0x110CD},  // Kaithi number sign above
    {0x13430, 0x1343F},  // Egyptian hieroglyph format controls
    {0x1BCA0, 0x1BCA3},  // shorthand format controls
    {0x1D173, 0x1D17A},  // musical symbol beam, tie, slur and phrase controls
    {0xE0001, 0xE0001},  // language tag
    {0xE0020, 0xE007F},  // tag characters
};

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// True for a segment made only of dots, each "." or "%2e" in either case. Not only "." and "..": some
// Windows servers trim trailing dots from a name, which makes "..." a ".." as well.
bool IsDotSegment(std::basic_string_view<WideChar> segment) {
    if (segment.empty()) {
        return false;
    }
    std::size_t at = 0;
    while (at < segment.size()) {
        if (segment[at] == WIDE('.')) {
            at += 1;
        } else if (segment[at] == WIDE('%') && at + 2 < segment.size() && segment[at + 1] == WIDE('2') &&
                   (segment[at + 2] == WIDE('e') || segment[at + 2] == WIDE('E'))) {
            at += 3;
        } else {
            return false;
        }
    }
    return true;
}

bool HoldsEncodedSlash(std::basic_string_view<WideChar> text) {
    for (std::size_t at = 0; at + 2 < text.size(); ++at) {
        if (text[at] != WIDE('%')) {
            continue;
        }
        const WideChar high = text[at + 1];
        const WideChar low = text[at + 2];
        if ((high == WIDE('2') && (low == WIDE('f') || low == WIDE('F'))) ||
            (high == WIDE('5') && (low == WIDE('c') || low == WIDE('C')))) {
            return true;
        }
    }
    return false;
}

constexpr std::string_view kSchemaVersionKey = "schemaVersion";
constexpr std::string_view kPublishedKey = "published";
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kPublisherKey = "publisher";
constexpr std::string_view kX64Key = "x64";
constexpr std::string_view kX86Key = "x86";
constexpr std::string_view kUrlKey = "url";
constexpr std::string_view kSha256Key = "sha256";
constexpr std::string_view kSizeKey = "size";

// Every failed check ends here, so the rule named is always the one that decided.
bool Refuse(ManifestFault& fault, ManifestRule rule, std::string_view key, std::uint64_t found = 0) {
    fault.rule = rule;
    fault.key = key;
    fault.found = found;
    return false;
}

bool IsShowableCharacter(char32_t codePoint) {
    for (const CodePointRange& range : kUnshowable) {
        if (codePoint >= range.first && codePoint <= range.last) {
            return false;
        }
    }
    return true;
}

// The first character of the UTF-16 text that is not showable, a lone surrogate counting as one (found
// is then that surrogate); false when there is none.
bool FindUnshowableCharacter(std::basic_string_view<WideChar> text, char32_t& found) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t codePoint = text[at];
        if (IsHighSurrogate(codePoint) && at + 1 < text.size() && IsLowSurrogate(text[at + 1])) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (static_cast<char32_t>(text[at + 1]) - 0xDC00);
            ++at;
        } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint)) {
            found = codePoint;
            return true;
        }
        if (!IsShowableCharacter(codePoint)) {
            found = codePoint;
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsShowableVersion(std::basic_string_view<WideChar> version) {
    char32_t found = 0;
    return !FindUnshowableCharacter(version, found);
}

bool EveryPathSegment(std::basic_string_view<WideChar> path, bool (*accept)(std::basic_string_view<WideChar>)) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(WIDE('/'), start);
        if (!accept(path.substr(start, slash == path.npos ? path.npos : slash - start))) {
            return false;
        }
        if (slash == path.npos) {
            return true;
        }
        start = slash + 1;
    }
}

bool IsContainedPackagePath(std::basic_string_view<WideChar> pathAfterBase) {
    // Anywhere, query and fragment included: a server that decodes before it splits would see a separator.
    if (HoldsEncodedSlash(pathAfterBase)) {
        return false;
    }
    // Only the path has segments; dots in a query or fragment name nothing on the server.
    const std::size_t pathEnd = pathAfterBase.find_first_of(std::basic_string_view<WideChar>(WIDE("?#")));
    return EveryPathSegment(pathAfterBase.substr(0, pathEnd),
                            [](std::basic_string_view<WideChar> segment) { return !IsDotSegment(segment); });
}

namespace {

// One package object of the manifest; the caller names the object.
bool ValidatePackageEntry(const Utf8String& objectText, PackageEntry& entry, ManifestFault& fault) {
    if (!ReadStringValue(objectText, kUrlKey, entry.url, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kUrlKey);
    }
    if (!ReadStringValue(objectText, kSha256Key, entry.sha256, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kSha256Key);
    }
    if (!ReadUnsignedValue(objectText, kSizeKey, entry.size, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kSizeKey);
    }
    // Case-sensitive on purpose: the package must come from exactly the release folder, and nothing
    // after it may climb out again.
    const std::basic_string_view<WideChar> base(kReleaseBaseUrl);
    if (!StartsWith(entry.url, base)) {
        return Refuse(fault, ManifestRule::UrlOutsideBase, kUrlKey);
    }
    if (!IsContainedPackagePath(std::basic_string_view<WideChar>(entry.url).substr(base.size()))) {
        return Refuse(fault, ManifestRule::UrlLeavesFolder, kUrlKey);
    }
    if (entry.sha256.size() != kDigestLength) {
        return Refuse(fault, ManifestRule::DigestLength, kSha256Key);
    }
    for (std::size_t at = 0; at < entry.sha256.size(); ++at) {
        if (!IsHexDigit(entry.sha256[at])) {
            return Refuse(fault, ManifestRule::DigestNotHex, kSha256Key, at);
        }
    }
    if (entry.size == 0 || entry.size > kMaxPackageSize) {
        return Refuse(fault, ManifestRule::SizeOutOfRange, kSizeKey);
    }
    return true;
}

}  // namespace

bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest) {
    ManifestFault ignored;
    return ValidateReleaseManifest(text, manifest, ignored);
}

bool ValidateReleaseManifest(const Utf8String& text, ReleaseManifest& manifest, ManifestFault& fault) {
    if (text.size() > kMaxManifestBytes) {
        return Refuse(fault, ManifestRule::TooLarge, {});
    }
    std::uint64_t schemaVersion = 0;
    if (!ReadUnsignedValue(text, kSchemaVersionKey, schemaVersion, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kSchemaVersionKey);
    }
    if (schemaVersion != 1) {
        return Refuse(fault, ManifestRule::SchemaVersionNotOne, kSchemaVersionKey, schemaVersion);
    }
    std::size_t publishedAt = 0;
    if (!FindValueStart(text, kPublishedKey, publishedAt, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kPublishedKey);
    }
    if (MatchLiteralAt(text, publishedAt, "true")) {
        manifest.published = true;
    } else if (MatchLiteralAt(text, publishedAt, "false")) {
        manifest.published = false;
    } else {
        return Refuse(fault, ManifestRule::PublishedNotLiteral, kPublishedKey);
    }
    if (!ReadStringValue(text, kVersionKey, manifest.version, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kVersionKey);
    }
    if (manifest.version.size() > kMaxVersionLength) {
        return Refuse(fault, ManifestRule::VersionTooLong, kVersionKey);
    }
    // The version is shown in the prompt and the progress window: nothing in it may hide or reorder text.
    if (char32_t hidden = 0; FindUnshowableCharacter(manifest.version, hidden)) {
        return Refuse(fault, ManifestRule::VersionUnshowable, kVersionKey, hidden);
    }
    if (!ReadStringValue(text, kPublisherKey, manifest.publisher, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kPublisherKey);
    }
    if (manifest.publisher != std::basic_string_view<WideChar>(kExpectedPublisher)) {
        return Refuse(fault, ManifestRule::PublisherDiffers, kPublisherKey);
    }
    // Both packages are cut out and checked whatever this machine's architecture, so a broken entry
    // never hides behind the one that happens to be used.
    Utf8String x64Text;
    if (!ExtractObjectText(text, kX64Key, x64Text, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kX64Key);
    }
    Utf8String x86Text;
    if (!ExtractObjectText(text, kX86Key, x86Text, &fault.scan)) {
        return Refuse(fault, ManifestRule::Unreadable, kX86Key);
    }
    if (!ValidatePackageEntry(x64Text, manifest.x64, fault)) {
        fault.object = kX64Key;
        return false;
    }
    if (!ValidatePackageEntry(x86Text, manifest.x86, fault)) {
        fault.object = kX86Key;
        return false;
    }
    return true;
}
