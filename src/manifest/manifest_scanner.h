#pragma once
// A minimal, non-structural reader of single values out of JSON-shaped manifest text. It is not a JSON
// parser: keys are found by plain text search, first occurrence wins, nesting is not respected.
// Every operation is a pure function and reports a malformed or missing value only as false.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/wide_string.h"

bool FindValueStart(const Utf8String& text, std::string_view key, std::size_t& valuePosition);
bool ExtractObjectText(const Utf8String& text, std::string_view key, Utf8String& objectText);
bool ReadStringValue(const Utf8String& text, std::string_view key, WideString& value);
bool ReadUnsignedValue(const Utf8String& text, std::string_view key, std::uint64_t& value);
bool MatchLiteralAt(const Utf8String& text, std::size_t position, std::string_view literal);
WideString Utf8ToWide(const Utf8String& bytes);
