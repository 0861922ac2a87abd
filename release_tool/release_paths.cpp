#include "release_paths.h"

#include "common/build_config.h"
#include "manifest/release_manifest.h"

namespace {

bool IsUrlSafe(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'-' || c == L'_' || c == L'~';
}

}  // namespace

bool IsSafeFileName(std::wstring_view name) {
    // A name made only of dots is left to IsContainedPackagePath, the validation's own rule.
    if (name.empty() || !IsContainedPackagePath(name)) {
        return false;
    }
    for (const wchar_t c : name) {
        if (!IsUrlSafe(c)) {
            return false;
        }
    }
    return true;
}

bool IsSafeReleasePath(std::wstring_view path) { return EveryPathSegment(path, IsSafeFileName); }

bool ReleaseFileOf(const WideString& url, WideString& relative) {
    const std::size_t baseLength = std::wstring_view(kReleaseBaseUrl).size();
    if (url.compare(0, baseLength, kReleaseBaseUrl) != 0) {
        return false;
    }
    const WideString path = url.substr(baseLength, url.find_first_of(L"?#", baseLength) - baseLength);
    const auto hexValue = [](wchar_t c) {
        return c >= L'0' && c <= L'9'   ? c - L'0'
               : c >= L'a' && c <= L'f' ? c - L'a' + 10
               : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                        : -1;
    };
    WideString decoded;
    for (std::size_t at = 0; at < path.size(); ++at) {
        wchar_t c = path[at];
        if (c == L'%' && at + 2 < path.size() && hexValue(path[at + 1]) >= 0 && hexValue(path[at + 2]) >= 0) {
            c = static_cast<wchar_t>(hexValue(path[at + 1]) * 16 + hexValue(path[at + 2]));
            at += 2;
        }
        if (!IsUrlSafe(c) && c != L'/') {
            return false;
        }
        decoded += c;
    }
    // The validation has refused names made of dots already; this keeps the folder's files the only ones.
    if (decoded.empty() || !IsContainedPackagePath(std::wstring_view(url).substr(baseLength))) {
        return false;
    }
    relative = std::move(decoded);
    return true;
}
