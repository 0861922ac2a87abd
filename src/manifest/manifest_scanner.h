#pragma once
// A minimal, non-structural reader of single values out of JSON-shaped manifest text. It is not a JSON
// parser: keys are found by plain text search, first occurrence wins, nesting is not respected.
// Every operation is a pure function and reports a malformed or missing value only as false.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/wide_string.h"
#include "manifest/utf8_text.h"

// Why a reading operation returned false, for a caller that reports it (the release tool). The verdict
// does not depend on whether it is asked for.
enum class ScanFault {
    None,
    NotFound,        // the quoted key is not in the text, or only whitespace follows the next colon
    NotString,       // the value does not begin with a quotation mark
    Unclosed,        // the string has no closing quotation mark
    Backslash,       // the string holds a backslash: no escape is supported
    ControlByte,     // the string holds a byte below 0x20, such as a tab or a line break
    Empty,           // the string has nothing between its quotation marks
    NotUtf8,         // the string is not well-formed UTF-8
    NotNumber,       // the value does not begin with a digit
    NumberTooLarge,  // the digits make more than the largest 64-bit number
    NotObject,       // the value does not begin with a left brace
    Unbalanced,      // the object's braces do not balance before the end of the text
};

// On false, fault (when given) says why.
bool FindValueStart(const Utf8String& text, std::string_view key, std::size_t& valuePosition,
                    ScanFault* fault = nullptr);
bool ExtractObjectText(const Utf8String& text, std::string_view key, Utf8String& objectText,
                       ScanFault* fault = nullptr);
bool ReadStringValue(const Utf8String& text, std::string_view key, WideString& value, ScanFault* fault = nullptr);
bool ReadUnsignedValue(const Utf8String& text, std::string_view key, std::uint64_t& value,
                       ScanFault* fault = nullptr);
bool MatchLiteralAt(const Utf8String& text, std::size_t position, std::string_view literal);
