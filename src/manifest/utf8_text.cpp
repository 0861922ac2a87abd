#include "manifest/utf8_text.h"

#ifdef _WIN32
#include <windows.h>

#include <climits>
#endif

#include <cstdint>

bool DecodeUtf8Strict(const char* bytes, std::size_t count, WideString& out) {
    out.clear();
    WideString result;
    result.reserve(count);
    std::size_t i = 0;
    while (i < count) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::uint32_t codePoint = 0;
        std::size_t length = 0;
        // Each lead byte fixes the sequence length and the range its first continuation byte may take,
        // which is what rules out overlong forms, surrogates and values above U+10FFFF.
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            result.push_back(static_cast<WideChar>(lead));
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0Fu;
            if (lead == 0xE0) {
                low = 0xA0;
            } else if (lead == 0xED) {
                high = 0x9F;
            }
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07u;
            if (lead == 0xF0) {
                low = 0x90;
            } else if (lead == 0xF4) {
                high = 0x8F;
            }
        } else {
            return false;  // stray continuation byte, C0/C1 or F5..FF
        }
        if (count - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (next < lo || next > hi) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3Fu);
        }
        if (codePoint > 0xFFFF) {
            codePoint -= 0x10000;
            result.push_back(static_cast<WideChar>(0xD800 + (codePoint >> 10)));
            result.push_back(static_cast<WideChar>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            result.push_back(static_cast<WideChar>(codePoint));
        }
        i += length;
    }
    out = std::move(result);
    return true;
}

WideString Utf8ToWide(const Utf8String& bytes) {
    if (bytes.empty()) {
        return {};
    }
#ifdef _WIN32
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const int byteCount = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), byteCount, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    WideString wide(static_cast<std::size_t>(length), L'\0');
    const int written = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), byteCount, wide.data(), length);
    if (written != length) {
        return {};
    }
    return wide;
#else
    WideString wide;
    DecodeUtf8Strict(bytes.data(), bytes.size(), wide);
    return wide;
#endif
}
