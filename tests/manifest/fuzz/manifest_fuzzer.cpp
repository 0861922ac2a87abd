// libFuzzer target: hostile manifest text through validation and every scanner operation. Beyond
// the sanitizers, it aborts when a result breaks what the operations promise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/build_config.h"
#include "manifest/manifest_scanner.h"
#include "manifest/release_manifest.h"
#include "manifest/utf8_text.h"
#include "../utf8_encode.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

const std::string_view kKeys[] = {"schemaVersion", "published", "version", "publisher", "x64",
                                  "x86",           "url",       "sha256",  "size",      "a"};

bool IsHex(WideChar unit) {
    return (unit >= '0' && unit <= '9') || (unit >= 'A' && unit <= 'F') || (unit >= 'a' && unit <= 'f');
}

// Independent of the validation's table: the characters most likely to disguise a version.
bool LooksHidden(std::uint32_t unit) {
    return unit < 0x20 || (unit >= 0x7F && unit <= 0xA0) || unit == 0xAD || unit == 0x61C ||
           (unit >= 0x2000 && unit <= 0x200F) || (unit >= 0x2028 && unit <= 0x202F) ||
           (unit >= 0x2060 && unit <= 0x2069) || unit == 0xFEFF;
}

// Independent of the validation's code: decode %2e first, then split the path; any encoded separator fails.
bool StaysInside(const WideString& rest) {
    std::string lower;
    for (const WideChar unit : rest) {
        lower.push_back(unit < 0x80 ? static_cast<char>(unit >= 'A' && unit <= 'Z' ? unit - 'A' + 'a' : unit) : 'u');
    }
    if (lower.find("%2f") != std::string::npos || lower.find("%5c") != std::string::npos) {
        return false;
    }
    std::string path = lower.substr(0, lower.find_first_of("?#"));
    for (std::size_t at; (at = path.find("%2e")) != std::string::npos;) {
        path.replace(at, 3, ".");
    }
    path += '/';
    for (std::size_t start = 0, slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        const std::string segment = path.substr(start, slash - start);
        if (!segment.empty() && segment.find_first_not_of('.') == std::string::npos) {
            return false;
        }
    }
    return true;
}

// Asking for the fault never changes the verdict, and a fault is named exactly when validation fails:
// the release tool's report then always matches the installer's decision.
void CheckFault(const Utf8String& text, bool valid) {
    ReleaseManifest manifest;
    ManifestFault fault;
    Require(ValidateReleaseManifest(text, manifest, fault) == valid);
    Require((fault.rule == ManifestRule::None) == valid);
    Require((fault.rule == ManifestRule::Unreadable) == (fault.scan != ScanFault::None));
    Require(fault.key.empty() == (fault.rule == ManifestRule::TooLarge || valid));
}

void CheckManifest(const Utf8String& text) {
    ReleaseManifest manifest;
    const bool valid = ValidateReleaseManifest(text, manifest);
    CheckFault(text, valid);
    if (!valid) {
        return;
    }
    Require(text.size() <= kMaxManifestBytes);
    Require(!manifest.version.empty() && manifest.version.size() <= kMaxVersionLength);
    for (const WideChar unit : manifest.version) {
        Require(!LooksHidden(unit));
    }
    Require(manifest.publisher == WideString(kExpectedPublisher));
    const WideString base(kReleaseBaseUrl);
    for (const PackageEntry* entry : {&manifest.x64, &manifest.x86}) {
        Require(entry->url.compare(0, base.size(), base) == 0);
        Require(StaysInside(entry->url.substr(base.size())));
        Require(entry->sha256.size() == 64);
        for (const WideChar unit : entry->sha256) {
            Require(IsHex(unit));
        }
        Require(entry->size >= 1 && entry->size <= kMaxPackageSize);
    }
}

void CheckScanner(const Utf8String& text, std::string_view key) {
    std::size_t position = 0;
    const bool found = FindValueStart(text, key, position);
    if (found) {
        Require(position < text.size());
    }

    Utf8String object = "x";
    if (ExtractObjectText(text, key, object)) {
        Require(found && object.size() >= 2 && object.front() == '{' && object.back() == '}');
        Require(text.compare(position, object.size(), object) == 0);
    } else {
        Require(object == "x");
    }

    WideString value;
    if (ReadStringValue(text, key, value)) {
        Require(found && !value.empty());
        for (const WideChar unit : value) {
            Require(unit >= 0x20 && unit != '"' && unit != '\\');
        }
    }

    std::uint64_t number = 5;
    const bool read = ReadUnsignedValue(text, key, number);
    if (found) {
        // Reference: the digits at the value position, with overflow found through 128-bit arithmetic.
        unsigned __int128 expected = 0;
        bool overflow = false;
        std::size_t i = position;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            expected = expected * 10 + static_cast<unsigned>(text[i] - '0');
            if (expected > UINT64_MAX) {
                overflow = true;
                expected = UINT64_MAX + static_cast<unsigned __int128>(1);
            }
        }
        const bool digits = i > position;
        Require(read == (digits && !overflow));
        Require(read ? number == static_cast<std::uint64_t>(expected) : number == 5);
    } else {
        Require(!read && number == 5);
    }

    for (std::size_t at = 0; at < text.size(); at += 1 + text.size() / 64) {
        Require(MatchLiteralAt(text, at, "true") == (text.substr(at, 4) == "true"));
    }
}


// A successful decode re-encodes to exactly the input; a refused one leaves nothing behind.
void CheckDecoder(const Utf8String& text) {
    WideString wide = WIDE("stale");
    if (!DecodeUtf8Strict(text.data(), text.size(), wide)) {
        Require(wide.empty());
        return;
    }
    std::string again;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::uint32_t unit = wide[i];
        Require(unit < 0xDC00 || unit > 0xDFFF);  // a low surrogate only after a high one
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            Require(i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00u);
            ++i;
        }
        AppendUtf8(unit, again);
    }
    Require(again == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Utf8String text(reinterpret_cast<const char*>(data), size);
    CheckManifest(text);
    for (const std::string_view key : kKeys) {
        CheckScanner(text, key);
    }
    CheckDecoder(text);
    return 0;
}
