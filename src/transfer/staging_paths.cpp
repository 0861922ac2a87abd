#include "transfer/staging_paths.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <winternl.h>

#include "common/file_cleanup.h"

namespace {

constexpr DWORD kTempPathCapacity = MAX_PATH;
constexpr int kGuidTextCapacity = 64;
constexpr wchar_t kStagingFolderName[] = L"BrimlowAIQuillo";
constexpr wchar_t kFilePrefix[] = L"\\BrimlowAIQuillo-Setup-";
constexpr wchar_t kFinalSuffix[] = L".exe";
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr wchar_t kRunFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
constexpr int kRemoveAttempts = 20;
constexpr DWORD kRemoveRetryMs = 50;

// Read access only, shared for reading and writing but never for delete: the setup program can make
// the folder its current directory, while nobody can rename or delete it (or, on Windows, rename any
// folder above it) until this handle is closed.
constexpr ACCESS_MASK kRunFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kRunFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool StartsWith(const WideString& text, const wchar_t* prefix) {
    return text.compare(0, WideString(prefix).size(), prefix) == 0;
}

// Creates the staging folder, or accepts what already stands under its name, and opens that entry
// itself, never what a link there points to. Anyone who can write to the temporary directory can put a
// junction, a link or a plain file there: only a real folder is used.
UniqueFile OpenStagingFolder(const WideString& folder) {
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return UniqueFile();
    }
    // Wine opens a link's target even when asked for the link itself, and reports the link only by
    // its path; Windows reports it on the handle below. Both are asked.
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return UniqueFile();
    }
    UniqueFile handle(::CreateFileW(folder.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!handle || !::GetFileInformationByHandle(handle.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return UniqueFile();
    }
    return handle;
}

// Makes the folder and opens it in one call, relative to the staging folder's handle, with its
// security given at creation: there is no moment in which another process could put something else
// under its name. An entry that already has the name (a file, a folder, a link) fails the call.
UniqueFile CreateRunFolder(HANDLE stagingFolder, const WideString& name, PSECURITY_DESCRIPTOR security) {
    UNICODE_STRING objectName = {};
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, stagingFolder, security);
    IO_STATUS_BLOCK status = {};
    HANDLE folder = nullptr;
    if (!NT_SUCCESS(::NtCreateFile(&folder, kRunFolderAccess, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL,
                                   kRunFolderSharing, FILE_CREATE,
                                   FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                   nullptr, 0))) {
        return UniqueFile();
    }
    return UniqueFile(folder);
}

// The path of the open folder as the system resolves it: every junction and link on the way is replaced
// by where it leads. The \\?\ form is dropped where the longest path of the run still fits the classic
// limit, so that every consumer of the path, the setup program included, sees an ordinary one.
bool ResolvedFolderPath(HANDLE folder, std::size_t longestSuffix, WideString& path) {
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = ::GetFinalPathNameByHandleW(folder, nullptr, 0, kFlags);
    if (needed == 0) {
        return false;
    }
    WideString resolved(needed, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(folder, resolved.data(), needed, kFlags);
    if (length == 0 || length >= needed) {
        return false;
    }
    resolved.resize(length);
    const std::size_t prefixLength = WideString(kLongPathPrefix).size();
    if (StartsWith(resolved, kLongPathPrefix) && !StartsWith(resolved, kLongUncPrefix) &&
        resolved.size() - prefixLength + longestSuffix < MAX_PATH) {
        resolved.erase(0, prefixLength);
    }
    path = std::move(resolved);
    return true;
}

// Everything below folder (not following links), deepest first, then folder itself, so that the
// deletes at the next restart meet each folder empty.
void ScheduleRemovalAtRestart(const WideString& folder) {
    WIN32_FIND_DATAW entry = {};
    HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const WideString name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const WideString path = folder + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                ScheduleRemovalAtRestart(path);
            } else {
                ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            }
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

bool GetTempDirectory(WideString& path) {
    wchar_t tempPath[kTempPathCapacity + 1] = {};
    const DWORD length = ::GetTempPathW(kTempPathCapacity, tempPath);
    if (length == 0 || length > kTempPathCapacity) {
        return false;
    }
    path.assign(tempPath, length);
    return true;
}

bool MakeRunTag(WideString& runTag, const StagingCalls& calls) {
    GUID guid = {};
    if (FAILED(calls.createGuid(&guid))) {
        return false;
    }
    wchar_t guidText[kGuidTextCapacity] = {};
    if (::StringFromGUID2(guid, guidText, kGuidTextCapacity) <= 0) {
        return false;
    }
    for (const wchar_t* c = guidText; *c != L'\0'; ++c) {
        if (*c != L'{' && *c != L'}' && *c != L'-') {
            runTag += *c;
        }
    }
    return true;
}

UniqueLocalMemory MakeRunFolderSecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return UniqueLocalMemory();
    }
    return UniqueLocalMemory(descriptor);
}

bool MakeStagingPaths(StagedRun& run, const StagingCalls& calls) {
    WideString tempPath;
    if (!GetTempDirectory(tempPath)) {
        return false;
    }
    const WideString stagingPath = tempPath + kStagingFolderName;
    const UniqueFile staging = OpenStagingFolder(stagingPath);
    if (!staging) {
        return false;
    }

    WideString runTag;
    if (!MakeRunTag(runTag, calls)) {
        return false;
    }
    const UniqueLocalMemory security = MakeRunFolderSecurity();
    if (!security) {
        return false;
    }
    UniqueFile folder = CreateRunFolder(staging.Get(), runTag, security.Get());
    if (!folder) {
        return false;
    }

    const WideString fileName = kFilePrefix + runTag + kFinalSuffix;
    WideString folderPath;
    if (!ResolvedFolderPath(folder.Get(), fileName.size() + WideString(kPartialSuffix).size(), folderPath)) {
        // The folder is new and empty; it goes, under the name it was made with.
        folder.Reset();
        ::RemoveDirectoryW((stagingPath + L"\\" + runTag).c_str());
        return false;
    }

    run.folder = std::move(folder);
    run.folderPath = folderPath;
    run.finalPath = folderPath + fileName;
    run.partialPath = run.finalPath + kPartialSuffix;
    return true;
}

void RemoveRunFolder(StagedRun& run) {
    if (!run.folder) {
        return;
    }
    // The folder cannot be removed while this handle keeps others from deleting it.
    run.folder.Reset();
    // A file deleted a moment ago can hold on to its name for a little while: the image of a setup
    // program that has just exited, or a scanner's handle. A short, bounded wait covers that; what
    // is still there after it stays in use, and goes at the next restart.
    for (int attempt = 1;; ++attempt) {
        if (::RemoveDirectoryW(run.folderPath.c_str()) || IsAlreadyGone(::GetLastError())) {
            return;
        }
        if (attempt == kRemoveAttempts) {
            break;
        }
        ::Sleep(kRemoveRetryMs);
    }
    ScheduleRemovalAtRestart(run.folderPath);
}
