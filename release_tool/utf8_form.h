#pragma once
// UTF-16 to UTF-8, for what the tool writes: the manifest's texts and its own lines on a pipe or file.
#include <string_view>

#include "common/wide_string.h"

enum class BrokenUnicode {
    Refuse,   // a lone surrogate fails the conversion: a manifest must say exactly what was meant
    Replace,  // a lone surrogate becomes U+FFFD: a report line is shown whatever it holds
};

// True and the UTF-8 form in bytes, which is left as it was on false.
bool ToUtf8(std::wstring_view text, BrokenUnicode broken, Utf8String& bytes);
