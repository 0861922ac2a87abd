#include "manifest/manifest_scanner.h"

// Placeholder until the scanner lands.
bool FindValueStart(const Utf8String&, std::string_view, std::size_t&) { return false; }
bool ExtractObjectText(const Utf8String&, std::string_view, Utf8String&) { return false; }
bool ReadStringValue(const Utf8String&, std::string_view, WideString&) { return false; }
bool ReadUnsignedValue(const Utf8String&, std::string_view, std::uint64_t&) { return false; }
bool MatchLiteralAt(const Utf8String&, std::size_t, std::string_view) { return false; }
WideString Utf8ToWide(const Utf8String&) { return {}; }
