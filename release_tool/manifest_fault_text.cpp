#include "manifest_fault_text.h"

#include <cwchar>
#include <string_view>

#include "common/build_config.h"
#include "console_output.h"

namespace {

WideString Quoted(std::string_view key) {
    WideString label = L"\"";
    for (const char c : key) {
        label += static_cast<wchar_t>(c);
    }
    return label + L"\"";
}

// "version", or for a key of a package object the object too: "x64" "url".
WideString Label(const ManifestFault& fault) {
    return fault.object.empty() ? Quoted(fault.key) : Quoted(fault.object) + L" " + Quoted(fault.key);
}

WideString ScanFaultText(ScanFault scan) {
    switch (scan) {
        case ScanFault::NotFound:
            return L"not found, or nothing follows its colon";
        case ScanFault::NotString:
            return L"is not a text in quotation marks";
        case ScanFault::Unclosed:
            return L"has no closing quotation mark";
        case ScanFault::Backslash:
            return L"holds a backslash; escapes are not supported";
        case ScanFault::ControlByte:
            return L"holds a control character such as a tab or a line break";
        case ScanFault::Empty:
            return L"is empty";
        case ScanFault::NotUtf8:
            return L"is not valid UTF-8";
        case ScanFault::NotNumber:
            return L"is not an unsigned number (digits only, no sign or quotation marks)";
        case ScanFault::NumberTooLarge:
            return L"is larger than the largest 64-bit number";
        case ScanFault::NotObject:
            return L"is not an object in braces";
        case ScanFault::Unbalanced:
            return L"is not closed: its braces do not balance";
        case ScanFault::None:
            break;
    }
    return L"cannot be read";
}

// What the rule requires and what the manifest holds instead, without the label.
WideString RuleText(const ManifestFault& fault, const ReleaseManifest& manifest) {
    const PackageEntry& entry = fault.object == "x86" ? manifest.x86 : manifest.x64;
    switch (fault.rule) {
        case ManifestRule::Unreadable:
            return ScanFaultText(fault.scan);
        case ManifestRule::SchemaVersionNotOne:
            return L"must be 1, found " + std::to_wstring(fault.found);
        case ManifestRule::PublishedNotLiteral:
            return L"must be true or false, without quotation marks";
        case ManifestRule::VersionTooLong:
            return L"must be at most " + GroupedNumber(kMaxVersionLength) + L" characters, found " +
                   GroupedNumber(manifest.version.size());
        case ManifestRule::VersionUnshowable: {
            wchar_t name[16] = {};
            ::swprintf(name, 16, L"U+%04X", static_cast<unsigned>(fault.found));
            return L"holds " + WideString(name) +
                   L", a control, format or separator character that the installer will not show; only letters, "
                   L"digits, marks, symbols, punctuation and the ordinary blank are allowed";
        }
        case ManifestRule::PublisherDiffers:
            return L"must be exactly \"" + WideString(kExpectedPublisher) + L"\", found \"" + manifest.publisher +
                   L"\"";
        case ManifestRule::UrlOutsideBase:
            return L"must start with the release base URL " + WideString(kReleaseBaseUrl) + L", found " + entry.url;
        case ManifestRule::UrlLeavesFolder:
            return L"must stay inside the release folder: no path segment made only of dots (such as \"..\", also "
                   L"written with %2e) and no encoded slash or backslash (%2f, %5c), found " +
                   entry.url;
        case ManifestRule::DigestLength:
            return L"must be 64 hexadecimal digits, found " + GroupedNumber(entry.sha256.size()) + L" characters";
        case ManifestRule::DigestNotHex:
            if (fault.found < entry.sha256.size()) {
                return L"must hold only hexadecimal digits, character " + GroupedNumber(fault.found + 1) +
                       L" is \"" + WideString(1, entry.sha256[fault.found]) + L"\"";
            }
            return L"must hold only hexadecimal digits";
        case ManifestRule::SizeOutOfRange:
            return L"must be from 1 to " + GroupedNumber(kMaxPackageSize) + L" bytes, found " +
                   GroupedNumber(entry.size);
        case ManifestRule::TooLarge:
        case ManifestRule::None:
            break;
    }
    return L"breaks a rule of the installer's validation";
}

}  // namespace

WideString ManifestFaultText(const ManifestFault& fault, const ReleaseManifest& manifest) {
    if (fault.rule == ManifestRule::TooLarge) {
        return L"The manifest is larger than " + GroupedNumber(kMaxManifestBytes) + L" bytes.";
    }
    return Label(fault) + L": " + RuleText(fault, manifest) + L".";
}
