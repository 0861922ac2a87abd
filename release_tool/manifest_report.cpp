#include "manifest_report.h"

#include <vector>

#include "common/win32_handles.h"
#include "console_output.h"
#include "transfer/manifest_fetch.h"

bool ReadManifestFile(const WideString& path, Utf8String& text, DWORD& systemError) {
    const std::size_t limit = kMaxManifestBytes + 1;
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        systemError = ::GetLastError();
        return false;
    }
    Utf8String content;
    std::vector<char> buffer(kManifestBlockSize);
    while (content.size() < limit) {
        DWORD bytesRead = 0;
        if (!::ReadFile(file.Get(), buffer.data(), kManifestBlockSize, &bytesRead, nullptr)) {
            systemError = ::GetLastError();
            return false;
        }
        if (bytesRead == 0) {
            break;
        }
        content.append(buffer.data(), bytesRead);
    }
    if (content.size() > limit) {
        content.resize(limit);
    }
    text = std::move(content);
    return true;
}

WideString Summary(const ReleaseManifest& manifest) {
    return L"Version " + manifest.version +
           (manifest.published ? WideString(L", published")
                               : WideString(L", not published: the installer tells users the release is not "
                                            L"available yet")) +
           L"; publisher " + manifest.publisher + L".";
}

WideString PackageLine(const wchar_t* arch, const PackageEntry& entry) {
    return WideString(arch) + L": " + GroupedNumber(entry.size) + L" bytes, SHA-256 " + entry.sha256 + L", " +
           entry.url;
}
