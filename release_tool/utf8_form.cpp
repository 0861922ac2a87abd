#include "utf8_form.h"

#include <windows.h>

bool ToUtf8(std::wstring_view text, BrokenUnicode broken, Utf8String& bytes) {
    if (text.empty()) {
        bytes.clear();
        return true;
    }
    const DWORD flags = broken == BrokenUnicode::Refuse ? WC_ERR_INVALID_CHARS : 0;
    const int units = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, flags, text.data(), units, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return false;
    }
    Utf8String out(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, flags, text.data(), units, out.data(), length, nullptr, nullptr) != length) {
        return false;
    }
    bytes = std::move(out);
    return true;
}
