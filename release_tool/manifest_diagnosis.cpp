#include "manifest_diagnosis.h"

#include <cwchar>
#include <string_view>

#include "common/build_config.h"
#include "manifest/manifest_scanner.h"

namespace {

constexpr std::size_t kDigestLength = 64;

// The verdict always comes from the scanner call that mirrors the validation; these helpers only look
// at the text afterwards to put the reason into words.

WideString Quoted(std::string_view key) {
    WideString label = L"\"";
    for (const char c : key) {
        label += static_cast<wchar_t>(c);
    }
    return label + L"\"";
}

// A package key, named with its object: "x64" "url".
WideString Label(const WideString& object, std::string_view key) {
    return L"\"" + object + L"\" " + Quoted(key);
}

constexpr wchar_t kNotFound[] = L"not found, or nothing follows its colon";

bool IsDigit(unsigned char byte) { return byte >= '0' && byte <= '9'; }

WideString NumberFault(const Utf8String& text, std::string_view key) {
    std::size_t at = 0;
    if (!FindValueStart(text, key, at)) {
        return kNotFound;
    }
    if (!IsDigit(static_cast<unsigned char>(text[at]))) {
        return L"is not an unsigned number (digits only, no sign or quotation marks)";
    }
    return L"is larger than the largest 64-bit number";
}

WideString StringFault(const Utf8String& text, std::string_view key) {
    std::size_t at = 0;
    if (!FindValueStart(text, key, at)) {
        return kNotFound;
    }
    if (text[at] != '"') {
        return L"is not a text in quotation marks";
    }
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"') {
            return i == at + 1 ? L"is empty" : L"is not valid UTF-8";
        }
        if (byte == '\\') {
            return L"holds a backslash; escapes are not supported";
        }
        if (byte < 0x20) {
            return L"holds a control character such as a tab or a line break";
        }
    }
    return L"has no closing quotation mark";
}

WideString ObjectFault(const Utf8String& text, std::string_view key) {
    std::size_t at = 0;
    if (!FindValueStart(text, key, at)) {
        return kNotFound;
    }
    if (text[at] != '{') {
        return L"is not an object in braces";
    }
    return L"is not closed: its braces do not balance";
}

bool IsHexDigit(wchar_t unit) {
    return (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F') || (unit >= L'a' && unit <= L'f');
}

bool Fail(WideString& finding, const WideString& label, const WideString& what) {
    finding = label + L": " + what + L".";
    return false;
}

bool DiagnosePackage(const Utf8String& objectText, const WideString& object, PackageEntry& entry,
                     WideString& finding) {
    if (!ReadStringValue(objectText, "url", entry.url)) {
        return Fail(finding, Label(object, "url"), StringFault(objectText, "url"));
    }
    if (!ReadStringValue(objectText, "sha256", entry.sha256)) {
        return Fail(finding, Label(object, "sha256"), StringFault(objectText, "sha256"));
    }
    if (!ReadUnsignedValue(objectText, "size", entry.size)) {
        return Fail(finding, Label(object, "size"), NumberFault(objectText, "size"));
    }
    const std::wstring_view base(kReleaseBaseUrl);
    if (entry.url.size() < base.size() || std::wstring_view(entry.url).substr(0, base.size()) != base) {
        return Fail(finding, Label(object, "url"),
                    L"must start with the release base URL " + WideString(base) + L", found " + entry.url);
    }
    if (!IsContainedPackagePath(std::wstring_view(entry.url).substr(base.size()))) {
        return Fail(finding, Label(object, "url"),
                    L"must stay inside the release folder: no path segment made only of dots (such as \"..\", "
                    L"also written with %2e) and no encoded slash or backslash (%2f, %5c), found " +
                        entry.url);
    }
    if (entry.sha256.size() != kDigestLength) {
        return Fail(finding, Label(object, "sha256"),
                    L"must be 64 hexadecimal digits, found " + GroupedNumber(entry.sha256.size()) + L" characters");
    }
    for (std::size_t i = 0; i < entry.sha256.size(); ++i) {
        if (!IsHexDigit(entry.sha256[i])) {
            return Fail(finding, Label(object, "sha256"),
                        L"must hold only hexadecimal digits, character " + GroupedNumber(i + 1) + L" is \"" +
                            WideString(1, entry.sha256[i]) + L"\"");
        }
    }
    if (entry.size == 0 || entry.size > kMaxPackageSize) {
        return Fail(finding, Label(object, "size"),
                    L"must be from 1 to " + GroupedNumber(kMaxPackageSize) + L" bytes, found " +
                        GroupedNumber(entry.size));
    }
    return true;
}

}  // namespace

WideString GroupedNumber(std::uint64_t value) {
    WideString digits = std::to_wstring(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, L',');
    }
    return digits;
}

bool DiagnoseManifest(const Utf8String& text, ReleaseManifest& manifest, WideString& finding) {
    if (text.size() > kMaxManifestBytes) {
        finding = L"The manifest is larger than " + GroupedNumber(kMaxManifestBytes) + L" bytes.";
        return false;
    }
    std::uint64_t schemaVersion = 0;
    if (!ReadUnsignedValue(text, "schemaVersion", schemaVersion)) {
        return Fail(finding, Quoted("schemaVersion"), NumberFault(text, "schemaVersion"));
    }
    if (schemaVersion != 1) {
        return Fail(finding, Quoted("schemaVersion"), L"must be 1, found " + std::to_wstring(schemaVersion));
    }
    std::size_t publishedAt = 0;
    if (!FindValueStart(text, "published", publishedAt)) {
        return Fail(finding, Quoted("published"), kNotFound);
    }
    if (MatchLiteralAt(text, publishedAt, "true")) {
        manifest.published = true;
    } else if (MatchLiteralAt(text, publishedAt, "false")) {
        manifest.published = false;
    } else {
        return Fail(finding, Quoted("published"), L"must be true or false, without quotation marks");
    }
    if (!ReadStringValue(text, "version", manifest.version)) {
        return Fail(finding, Quoted("version"), StringFault(text, "version"));
    }
    if (manifest.version.size() > kMaxVersionLength) {
        return Fail(finding, Quoted("version"),
                    L"must be at most " + GroupedNumber(kMaxVersionLength) + L" characters, found " +
                        GroupedNumber(manifest.version.size()));
    }
    if (char32_t found = 0; FindUnshowableCharacter(manifest.version, found)) {
        wchar_t name[16] = {};
        ::swprintf(name, 16, L"U+%04X", static_cast<unsigned>(found));
        return Fail(finding, Quoted("version"),
                    L"holds " + WideString(name) +
                        L", a control, format or separator character that the installer will not show; only letters, "
                        L"digits, marks, symbols, punctuation and the ordinary blank are allowed");
    }
    if (!ReadStringValue(text, "publisher", manifest.publisher)) {
        return Fail(finding, Quoted("publisher"), StringFault(text, "publisher"));
    }
    if (manifest.publisher != std::wstring_view(kExpectedPublisher)) {
        return Fail(finding, Quoted("publisher"),
                    L"must be exactly \"" + WideString(kExpectedPublisher) + L"\", found \"" + manifest.publisher +
                        L"\"");
    }
    Utf8String x64Text;
    if (!ExtractObjectText(text, "x64", x64Text)) {
        return Fail(finding, Quoted("x64"), ObjectFault(text, "x64"));
    }
    Utf8String x86Text;
    if (!ExtractObjectText(text, "x86", x86Text)) {
        return Fail(finding, Quoted("x86"), ObjectFault(text, "x86"));
    }
    return DiagnosePackage(x64Text, L"x64", manifest.x64, finding) &&
           DiagnosePackage(x86Text, L"x86", manifest.x86, finding);
}
