#include "transfer/staging_paths.h"

#include <windows.h>
#include <objbase.h>

namespace {

constexpr DWORD kTempPathCapacity = MAX_PATH;
constexpr int kGuidTextCapacity = 64;
constexpr wchar_t kStagingFolderName[] = L"BrimlowAIQuillo";
constexpr wchar_t kFilePrefix[] = L"\\BrimlowAIQuillo-Setup-";
constexpr wchar_t kFinalSuffix[] = L".exe";
constexpr wchar_t kPartialSuffix[] = L".part";

// Creates the staging folder, or accepts what already stands under its name. A reparse point there
// (a junction or symbolic link, planted by anyone who can write to the temporary directory) would
// send this elevated program's download and launch to a place of someone else's choosing: refuse it.
// A plain file of that name is let through; the download then fails to create its file.
bool EnsureStagingFolder(const WideString& folder) {
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool MakeStagingPaths(WideString& partialPath, WideString& finalPath) {
    wchar_t tempPath[kTempPathCapacity + 1] = {};
    const DWORD length = ::GetTempPathW(kTempPathCapacity, tempPath);
    if (length == 0 || length > kTempPathCapacity) {
        return false;
    }
    const WideString folder = WideString(tempPath) + kStagingFolderName;
    if (!EnsureStagingFolder(folder)) {
        return false;
    }

    GUID guid = {};
    if (FAILED(::CoCreateGuid(&guid))) {
        return false;
    }
    wchar_t guidText[kGuidTextCapacity] = {};
    if (::StringFromGUID2(guid, guidText, kGuidTextCapacity) <= 0) {
        return false;
    }
    WideString runTag;
    for (const wchar_t* c = guidText; *c != L'\0'; ++c) {
        if (*c != L'{' && *c != L'}' && *c != L'-') {
            runTag += *c;
        }
    }

    finalPath = folder + kFilePrefix + runTag + kFinalSuffix;
    partialPath = finalPath + kPartialSuffix;
    return true;
}
