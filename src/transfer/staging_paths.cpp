#include "transfer/staging_paths.h"

#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>

#include "common/failed_call.h"
#include "common/file_cleanup.h"
#include "common/installer_lock.h"
#include "common/partial_file.h"
#include "common/windows_folder.h"

namespace {

constexpr int kGuidTextCapacity = 64;
constexpr wchar_t kTempFolderName[] = L"Temp";
constexpr wchar_t kRunFolderPrefix[] = L"BrimlowAIQuillo-";
constexpr wchar_t kFilePrefix[] = L"\\BrimlowAIQuillo-Setup-";
constexpr wchar_t kFinalSuffix[] = L".exe";
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr wchar_t kRunFolderSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kLongPathPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";
// A run that cannot make its folder cannot download: the user reads the download's failure.
constexpr wchar_t kStagingFailedText[] = L"The installer could not be downloaded.";
constexpr wchar_t kPrepareFailedText[] = L"Could not prepare the verified installer.";
constexpr wchar_t kLockFailedText[] = L"Could not lock the installer for final security verification.";
constexpr int kRemoveAttempts = 20;
constexpr DWORD kRemoveRetryMs = 50;

// Read access only, shared for reading and writing but never for delete: the setup program can make
// the folder its current directory, while nobody can rename or delete it until this handle is closed.
// (Holding DELETE access ourselves would refuse that current directory, which is opened without
// delete sharing.)
constexpr ACCESS_MASK kRunFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kRunFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

bool StartsWith(const WideString& text, const wchar_t* prefix) {
    return text.compare(0, WideString(prefix).size(), prefix) == 0;
}

// Makes the folder and opens it in one call, relative to the parent's handle, with its security given
// at creation: there is no moment in which another process could put something else under its name.
// An entry that already has the name (a file, a folder, a link) fails the call.
UniqueFile CreateRunFolder(HANDLE parent, const WideString& name, PSECURITY_DESCRIPTOR security) {
    UNICODE_STRING objectName = {};
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes = {};
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, security);
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

bool ReadFileId(HANDLE handle, FILE_ID_INFO& id) {
    return ::GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof(id)) != FALSE;
}

// Whether path, resolved the way every later consumer resolves it, reaches the very file or folder
// that held is open on: same volume, same file ID.
bool PathReachesHeldObject(const WideString& path, HANDLE held) {
    const UniqueFile opened(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ID_INFO heldId = {};
    FILE_ID_INFO openedId = {};
    return opened && ReadFileId(held, heldId) && ReadFileId(opened.Get(), openedId) &&
           heldId.VolumeSerialNumber == openedId.VolumeSerialNumber &&
           std::memcmp(&heldId.FileId, &openedId.FileId, sizeof(heldId.FileId)) == 0;
}

bool IsRealFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Calls visit(path, attributes) for each entry directly inside folder, by its path inside it. False
// when the folder cannot be listed; GetLastError then says why.
template <typename Visit>
bool ForEachEntry(const WideString& folder, Visit visit) {
    WIN32_FIND_DATAW entry = {};
    HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                       nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    do {
        const WideString name = entry.cFileName;
        if (name != L"." && name != L"..") {
            visit(folder + L"\\" + name, entry.dwFileAttributes);
        }
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return true;
}

// Everything below folder, deepest first; a link is removed, never followed. True when nothing is left
// in it.
bool DeleteContents(const WideString& folder) {
    bool empty = true;
    const bool listed = ForEachEntry(folder, [&empty](const WideString& path, DWORD attributes) {
        if (IsRealFolder(attributes) && !DeleteContents(path)) {
            empty = false;
            return;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const BOOL deleted = isFolder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (!deleted && !IsAlreadyGone(::GetLastError())) {
            empty = false;
        }
    });
    if (!listed) {
        const DWORD error = ::GetLastError();
        return IsAlreadyGone(error) || error == ERROR_NO_MORE_FILES;
    }
    return empty;
}

// What is left below folder, deepest first, so that the deletes at the next restart meet each folder
// empty. Only paths inside the run folder, whose every folder above is the system's.
void ScheduleContents(const WideString& folder) {
    ForEachEntry(folder, [](const WideString& path, DWORD attributes) {
        if (IsRealFolder(attributes)) {
            ScheduleContents(path);
        }
        ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    });
}

// The machine's temporary folder, the Windows directory's Temp, without a trailing backslash. Never
// from an environment variable.
bool GetMachineTempFolder(WideString& path) {
    WideString folder;
    if (!GetWindowsFolder(folder)) {
        return false;
    }
    path = folder + L'\\' + kTempFolderName;
    return true;
}

}  // namespace

bool transfer_internal::HeldObjectPath(HANDLE held, std::size_t longestSuffix, WideString& path) {
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = ::GetFinalPathNameByHandleW(held, nullptr, 0, kFlags);
    if (needed == 0) {
        return false;
    }
    WideString resolved(needed, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(held, resolved.data(), needed, kFlags);
    if (length == 0 || length >= needed) {
        return false;
    }
    resolved.resize(length);
    const std::size_t prefixLength = WideString(kLongPathPrefix).size();
    if (StartsWith(resolved, kLongPathPrefix) && !StartsWith(resolved, kLongUncPrefix) &&
        resolved.size() - prefixLength + longestSuffix < MAX_PATH) {
        const WideString shortForm = resolved.substr(prefixLength);
        if (PathReachesHeldObject(shortForm, held)) {
            path = shortForm;
            return true;
        }
    }
    // The long form is proved the same way: a path that names anything else is never handed on.
    if (!PathReachesHeldObject(resolved, held)) {
        return false;
    }
    path = std::move(resolved);
    return true;
}


bool GetTempDirectory(WideString& path) {
    wchar_t tempPath[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, tempPath);
    if (length == 0 || length > MAX_PATH) {
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

UniqueLocalMemory transfer_internal::MakeRunFolderSecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunFolderSecurity, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        return UniqueLocalMemory();
    }
    return UniqueLocalMemory(descriptor);
}

Outcome MakeStagingPaths(StagedRun& run) { return transfer_internal::MakeStagingPaths(run, {}); }

Outcome transfer_internal::MakeStagingPaths(StagedRun& run, const StagingCalls& calls) {
    // The machine's own temporary folder: every folder above the run's belongs to the system, users can
    // make entries there but cannot list, rename or delete anyone else's, and the volume is the
    // system's, with access control. Nothing the user's environment names is used.
    WideString machineTemp;
    if (!GetMachineTempFolder(machineTemp)) {
        return FailedCall(kStagingFailedText);
    }
    const UniqueFile parent(::CreateFileW(machineTemp.c_str(), FILE_TRAVERSE | FILE_ADD_SUBDIRECTORY,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent) {
        return FailedCall(kStagingFailedText);
    }

    WideString runTag;
    if (!MakeRunTag(runTag, calls)) {
        return Outcome::Failure(kStagingFailedText);
    }
    const UniqueLocalMemory security = MakeRunFolderSecurity();
    if (!security) {
        return FailedCall(kStagingFailedText);
    }
    const WideString folderName = kRunFolderPrefix + runTag;
    UniqueFile folder = CreateRunFolder(parent.Get(), folderName, security.Get());
    if (!folder) {
        return Outcome::Failure(kStagingFailedText);
    }

    const WideString fileName = kFilePrefix + runTag + kFinalSuffix;
    WideString folderPath;
    if (!HeldObjectPath(folder.Get(), fileName.size() + WideString(kPartialSuffix).size(), folderPath)) {
        // The folder is new and empty, and nobody else may touch it; it goes under the name it was made with.
        folder.Reset();
        ::RemoveDirectoryW((machineTemp + L"\\" + folderName).c_str());
        return Outcome::Failure(kStagingFailedText);
    }

    run.folder_ = std::move(folder);
    run.folderPath_ = folderPath;
    run.finalPath_ = folderPath + fileName;
    run.partialPath_ = run.finalPath_ + kPartialSuffix;
    run.staged_ = StagedRun::StagedFile::None;
    return {};
}

Outcome StagedRun::CreatePartialFile() {
    if (!folder_ || partialFile_ || staged_ != StagedFile::None) {
        return Outcome::Failure(kCreateFailedText);
    }
    // Only a file this call makes itself: whatever already stands at that path is not ours.
    partialFile_ = ::CreatePartialFile(partialPath_);
    if (!partialFile_) {
        return FailedCall(kCreateFailedText);
    }
    staged_ = StagedFile::Partial;
    return {};
}

Outcome StagedRun::PromotePartialFile() {
    if (!partialFile_) {
        return Outcome::Failure(kPrepareFailedText);
    }
    ::FlushFileBuffers(partialFile_.Get());
    partialFile_.Reset();
    if (!::MoveFileExW(partialPath_.c_str(), finalPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return FailedCall(kPrepareFailedText);
    }
    staged_ = StagedFile::Final;
    return {};
}

Outcome StagedRun::LockFinalFile() {
    if (staged_ != StagedFile::Final) {
        return Outcome::Failure(kLockFailedText);
    }
    installerLock_ = OpenInstallerLock(finalPath_);
    if (!installerLock_) {
        return FailedCall(kLockFailedText);
    }
    return {};
}

void StagedRun::Remove() {
    // The lock first, or the delete fails on our own share mode.
    installerLock_.Reset();
    if (partialFile_) {
        // A download that did not finish goes through the handle it was written through.
        DeleteThroughHandle(partialFile_.Get());
        partialFile_.Reset();
    }
    if (!folder_) {
        return;
    }
    if (staged_ != StagedFile::None) {
        ::DeleteFileW((staged_ == StagedFile::Final ? finalPath_ : partialPath_).c_str());
        staged_ = StagedFile::None;
    }
    // Then whatever the setup program left, while the folder is still held. A file deleted a moment ago
    // can hold on to its name for a little while (the image of a setup program that has just exited, or
    // a scanner's handle): a short, bounded wait covers that. What is still there after it is in use,
    // and goes at the next restart.
    bool empty = DeleteContents(folderPath_);
    for (int attempt = 1; !empty && attempt < kRemoveAttempts; ++attempt) {
        ::Sleep(kRemoveRetryMs);
        empty = DeleteContents(folderPath_);
    }
    if (!empty) {
        ScheduleContents(folderPath_);
    }
    // The folder's own entry can only go once our handle no longer keeps deleters out. Nobody but SYSTEM
    // and Administrators can open it, and no user can rename or replace an entry of the machine's
    // temporary folder, so its name still names it.
    // A delete can be accepted and still wait for the last handle (the exited setup program's current
    // directory) before the name goes; the same short wait covers that.
    folder_.Reset();
    for (int attempt = 1; attempt <= kRemoveAttempts; ++attempt) {
        ::RemoveDirectoryW(folderPath_.c_str());
        if (::GetFileAttributesW(folderPath_.c_str()) == INVALID_FILE_ATTRIBUTES && IsAlreadyGone(::GetLastError())) {
            return;
        }
        ::Sleep(kRemoveRetryMs);
    }
    ::MoveFileExW(folderPath_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}
