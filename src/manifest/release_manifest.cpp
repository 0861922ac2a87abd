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

}  // namespace

bool IsShowableCharacter(char32_t codePoint) {
    for (const CodePointRange& range : kUnshowable) {
        if (codePoint >= range.first && codePoint <= range.last) {
            return false;
        }
    }
    return true;
}

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

bool IsShowableVersion(std::basic_string_view<WideChar> version) {
    char32_t found = 0;
    return !FindUnshowableCharacter(version, found);
}

bool IsContainedPackagePath(std::basic_string_view<WideChar> pathAfterBase) {
    // Anywhere, query and fragment included: a server that decodes before it splits would see a separator.
    if (HoldsEncodedSlash(pathAfterBase)) {
        return false;
    }
    // Only the path has segments; dots in a query or fragment name nothing on the server.
    const std::size_t pathEnd = pathAfterBase.find_first_of(std::basic_string_view<WideChar>(WIDE("?#")));
    const std::basic_string_view<WideChar> path = pathAfterBase.substr(0, pathEnd);
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find(WIDE('/'), start);
        if (IsDotSegment(path.substr(start, slash == path.npos ? path.npos : slash - start))) {
            return false;
        }
        if (slash == path.npos) {
            return true;
        }
        start = slash + 1;
    }
}

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
    // Case-sensitive on purpose: the package must come from exactly the release folder, and nothing
    // after it may climb out again.
    const std::basic_string_view<WideChar> base(kReleaseBaseUrl);
    if (!StartsWith(entry.url, base) ||
        !IsContainedPackagePath(std::basic_string_view<WideChar>(entry.url).substr(base.size()))) {
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
    // The version is shown in the prompt and the progress window: nothing in it may hide or reorder text.
    if (!ReadStringValue(text, "version", manifest.version) || manifest.version.size() > kMaxVersionLength ||
        !IsShowableVersion(manifest.version)) {
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
