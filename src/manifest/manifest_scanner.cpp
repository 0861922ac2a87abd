#include "manifest/manifest_scanner.h"

namespace {

// Fixed byte classes: the manifest must read the same on every machine, whatever the user's locale,
// so isspace/isdigit (which can count 0xA0 or other high bytes) are not used.
bool IsManifestWhitespace(unsigned char byte) {
    return byte == 0x09 || byte == 0x0A || byte == 0x0B || byte == 0x0C || byte == 0x0D || byte == 0x20;
}

bool IsManifestDigit(unsigned char byte) { return byte >= 0x30 && byte <= 0x39; }

constexpr unsigned char kQuote = 0x22;
constexpr unsigned char kBackslash = 0x5C;

bool Fail(ScanFault* fault, ScanFault why) {
    if (fault != nullptr) {
        *fault = why;
    }
    return false;
}

}  // namespace

bool FindValueStart(const Utf8String& text, std::string_view key, std::size_t& valuePosition, ScanFault* fault) {
    Utf8String needle;
    needle.reserve(key.size() + 2);
    needle.push_back('"');
    needle.append(key);
    needle.push_back('"');

    const std::size_t found = text.find(needle);
    if (found == Utf8String::npos) {
        return Fail(fault, ScanFault::NotFound);
    }
    const std::size_t afterNeedle = found + needle.size();
    if (afterNeedle >= text.size()) {
        return Fail(fault, ScanFault::NotFound);
    }
    // Whatever lies between the key and the next colon is skipped unexamined.
    const std::size_t colon = text.find(':', afterNeedle);
    if (colon == Utf8String::npos) {
        return Fail(fault, ScanFault::NotFound);
    }
    std::size_t i = colon + 1;
    while (i < text.size() && IsManifestWhitespace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    if (i >= text.size()) {
        return Fail(fault, ScanFault::NotFound);
    }
    valuePosition = i;
    return true;
}

bool ExtractObjectText(const Utf8String& text, std::string_view key, Utf8String& objectText, ScanFault* fault) {
    std::size_t start = 0;
    if (!FindValueStart(text, key, start, fault)) {
        return false;
    }
    if (text[start] != '{') {
        return Fail(fault, ScanFault::NotObject);
    }
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = start; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == kBackslash) {
            if (inString) {
                ++i;  // an escaped byte, a quotation mark included, never ends the string
            }
        } else if (byte == kQuote) {
            inString = !inString;
        } else if (inString) {
            // braces inside strings do not count
        } else if (byte == '{') {
            ++depth;
        } else if (byte == '}') {
            --depth;
            if (depth == 0) {
                objectText.assign(text, start, i - start + 1);
                return true;
            }
        }
    }
    return Fail(fault, ScanFault::Unbalanced);
}

bool ReadStringValue(const Utf8String& text, std::string_view key, WideString& value, ScanFault* fault) {
    std::size_t start = 0;
    if (!FindValueStart(text, key, start, fault)) {
        return false;
    }
    if (static_cast<unsigned char>(text[start]) != kQuote) {
        return Fail(fault, ScanFault::NotString);
    }
    Utf8String bytes;
    std::size_t i = start + 1;
    for (;; ++i) {
        if (i >= text.size()) {
            return Fail(fault, ScanFault::Unclosed);  // the out-parameter stays as it was
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == kQuote) {
            break;
        }
        // No escapes are supported, and no control byte belongs in any value this program reads.
        if (byte == kBackslash) {
            return Fail(fault, ScanFault::Backslash);
        }
        if (byte < 0x20) {
            return Fail(fault, ScanFault::ControlByte);
        }
        bytes.push_back(static_cast<char>(byte));
    }
    value = Utf8ToWide(bytes);
    if (value.empty()) {
        return Fail(fault, bytes.empty() ? ScanFault::Empty : ScanFault::NotUtf8);
    }
    return true;
}

bool ReadUnsignedValue(const Utf8String& text, std::string_view key, std::uint64_t& value, ScanFault* fault) {
    std::size_t i = 0;
    if (!FindValueStart(text, key, i, fault)) {
        return false;
    }
    if (!IsManifestDigit(static_cast<unsigned char>(text[i]))) {
        return Fail(fault, ScanFault::NotNumber);
    }
    constexpr std::uint64_t kMax = UINT64_MAX;
    std::uint64_t result = 0;
    for (; i < text.size() && IsManifestDigit(static_cast<unsigned char>(text[i])); ++i) {
        const std::uint64_t digit = static_cast<unsigned char>(text[i]) - 0x30u;
        if (result > (kMax - digit) / 10) {
            return Fail(fault, ScanFault::NumberTooLarge);
        }
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool MatchLiteralAt(const Utf8String& text, std::size_t position, std::string_view literal) {
    if (position > text.size() || text.size() - position < literal.size()) {
        return false;
    }
    return text.compare(position, literal.size(), literal.data(), literal.size()) == 0;
}
